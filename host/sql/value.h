// Types and values of the batch language, held as the server holds them:
// CHAR/VARCHAR as Windows-1252 bytes, NCHAR/NVARCHAR as UTF-16LE bytes,
// VARBINARY as raw bytes, INT as 4 little-endian bytes, DATETIME as the
// server stores it (4 little-endian bytes of days since 1900-01-01, 4 of
// 1/300 seconds since midnight), DATETIME2 as 8 little-endian bytes of 100
// nanosecond ticks since 0001-01-01.
#pragma once

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ods/secure_bytes.h"
#include "sql/error_numbers.h"

namespace varrow::host::sql {

using host::Bytes;

// The longest value a type that is not MAX may hold, in bytes, as in SQL
// Server: VARCHAR(8000), VARBINARY(8000), NVARCHAR(4000).
inline constexpr std::uint32_t MAX_DECLARED_BYTES = 8000;

enum class BaseType { Char, VarChar, NChar, NVarChar, VarBinary, Int, DateTime, DateTime2 };

struct SqlType {
  BaseType base = BaseType::VarChar;
  std::uint32_t length = 1;  // declared characters (bytes for CHAR, VARCHAR, VARBINARY)
  bool max = false;          // (MAX)

  // The declared length in bytes, as a parameter's maximum length.
  std::uint32_t byte_length() const;
  // The type code a procedure call's parameter of this type carries (what
  // srv_paramtype reports).
  std::uint8_t param_type() const;
  bool is_national() const { return base == BaseType::NChar || base == BaseType::NVarChar; }
  bool is_character() const { return base <= BaseType::NVarChar; }
  bool is_date() const { return base == BaseType::DateTime || base == BaseType::DateTime2; }
  // "VARCHAR(100)", for messages and column descriptions.
  std::string name() const;
};

// Where a type stands in SQL Server's data type precedence: of two operands,
// the one of lower precedence converts to the type of the other.
int precedence(BaseType base);

// Parses a type name (any letter case); nullopt for an unknown one.
std::optional<BaseType> base_type_named(std::string_view name);

struct Value {
  SqlType type;
  std::optional<Bytes> bytes;  // nullopt is NULL

  static Value null_of(SqlType type) { return Value{type, std::nullopt}; }
  static Value integer(std::int32_t v);
  // NVARCHAR as long as `utf8` is (at least 1), as the server types a
  // text it makes.
  static Value nvarchar(const std::string& utf8);
  // The INT value of a non-NULL INT.
  std::int32_t as_int() const;
};

// A statement that fails while evaluating, with SQL Server's number for it.
struct EvaluationError : std::exception {
  EvaluationError(std::int32_t error_number, std::string text)
      : number(error_number), message(std::move(text)) {}
  const char* what() const noexcept override { return message.c_str(); }

  std::int32_t number;
  std::string message;
};

// Thrown when a value cannot take another type.
struct ConversionError : EvaluationError {
  explicit ConversionError(std::string text) : EvaluationError(CONVERSION_ERROR, std::move(text)) {}
};

// Converts as assignment does: text between code pages, truncation to the
// declared length, CHAR and NCHAR padded with spaces. NULL stays NULL.
// A type's name as the server's messages give it: lower case, without its
// length ("varchar", "int").
std::string message_type_name(const SqlType& type);

Value convert(const Value& value, const SqlType& target);

// CONVERT with a style: 1 and 2 turn VARBINARY into hexadecimal text
// (uppercase digits; 1 with "0x" before them) and such text back into bytes
// (1 expects the "0x", 2 none); 0 is plain convert. Any other style, and
// text that is not whole hex bytes, throws ConversionError. Between other
// types the style has no effect, as in the server.
Value convert(const Value& value, const SqlType& target, int style);

// The value as a client shows it: text in UTF-8, binary as 0x and uppercase
// digits, INT in decimal, dates as yyyy-mm-dd hh:mm:ss.fff (DATETIME2 with
// seven fractional digits), NULL as NULL.
SecretString display(const Value& value);

}  // namespace varrow::host::sql
