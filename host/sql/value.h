// Types and values of the batch language, held as the server holds them:
// CHAR/VARCHAR as Windows-1252 bytes, NCHAR/NVARCHAR as UTF-16LE bytes,
// VARBINARY as raw bytes, INT as 4 little-endian bytes.
#pragma once

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ods/secure_bytes.h"

namespace varrow::host::sql {

using host::Bytes;

enum class BaseType { Char, VarChar, NChar, NVarChar, VarBinary, Int };

struct SqlType {
  BaseType base = BaseType::VarChar;
  std::uint32_t length = 1;  // declared characters (bytes for CHAR, VARCHAR, VARBINARY)
  bool max = false;          // (MAX)

  // The declared length in bytes, as a parameter's maximum length.
  std::uint32_t byte_length() const;
  // The one-byte type code a parameter of this type carries.
  std::uint8_t type_code() const;
  bool is_national() const { return base == BaseType::NChar || base == BaseType::NVarChar; }
  bool is_character() const { return base != BaseType::VarBinary && base != BaseType::Int; }
  // "VARCHAR(100)", for messages and column descriptions.
  std::string name() const;
};

// Parses a type name (any letter case); nullopt for an unknown one.
std::optional<BaseType> base_type_named(std::string_view name);

struct Value {
  SqlType type;
  std::optional<Bytes> bytes;  // nullopt is NULL

  static Value null_of(SqlType type) { return Value{type, std::nullopt}; }
  static Value integer(std::int32_t v);
};

// Thrown when a value cannot take another type.
struct ConversionError : std::exception {
  explicit ConversionError(std::string text) : message(std::move(text)) {}
  const char* what() const noexcept override { return message.c_str(); }

  std::string message;
};

// Converts as assignment does: text between code pages, truncation to the
// declared length, CHAR and NCHAR padded with spaces. NULL stays NULL.
Value convert(const Value& value, const SqlType& target);

// CONVERT with a style: 1 and 2 turn VARBINARY into hexadecimal text
// (uppercase digits; 1 with "0x" before them) and such text back into bytes
// (1 expects the "0x", 2 none); 0 is plain convert. Any other style, and
// text that is not whole hex bytes, throws ConversionError. Between other
// types the style has no effect, as in the server.
Value convert(const Value& value, const SqlType& target, int style);

// The value as a client shows it: text in UTF-8, binary as 0x and uppercase
// digits, INT in decimal, NULL as NULL.
SecretString display(const Value& value);

}  // namespace varrow::host::sql
