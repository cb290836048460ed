// TYPE_INFO and the values it describes, in both directions: reading what a
// client sends (RPC parameters) and writing what the server answers
// (RETURNVALUE, COLMETADATA and ROW).
#pragma once

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <utility>

#include "tds/wire/codes.h"
#include "tds/wire/reader_writer.h"

namespace varrow::host::tds {

enum class LengthKind {
  Fixed,   // no length: the type gives it
  Byte,    // u8 length (INTN, legacy VARCHAR, ...)
  UShort,  // u16 length (VARCHAR(n), NVARCHAR(n), VARBINARY(n), ...)
  Long,    // u32 length (TEXT, NTEXT, IMAGE)
  Plp,     // partially length-prefixed (the MAX types)
};

struct TypeInfo {
  std::uint8_t type = 0;
  LengthKind kind = LengthKind::Fixed;
  std::uint32_t max_length = 0;  // as sent; MAX_TYPE_LENGTH for a MAX type
  Bytes collation;               // 5 bytes for character types, else empty
  Bytes extra;                   // precision and scale, or a time scale
};

// A request the server understands but does not serve: answered with an
// error, the connection stays open.
struct UnsupportedRequest : std::exception {
  explicit UnsupportedRequest(std::string text) : message(std::move(text)) {}
  const char* what() const noexcept override { return message.c_str(); }

  std::string message;
};

// Reads TYPE_INFO. Throws ProtocolError for malformed bytes,
// UnsupportedRequest for a type the server does not take.
TypeInfo read_type_info(Reader& in);
// Reads a value in the form `type` gives it; nullopt is NULL.
std::optional<Bytes> read_value(Reader& in, const TypeInfo& type);

// Writes TYPE_INFO, or a value in the form `type` gives it.
void write_type_info(Writer& out, const TypeInfo& type);
void write_value(Writer& out, const TypeInfo& type, const std::optional<Bytes>& value);

// The type a RETURNVALUE carries for a parameter sent as `sent`: what the
// clients can read back (legacy and fixed types become their modern or
// nullable forms).
TypeInfo reply_type(const TypeInfo& sent, std::uint32_t version);

// The kinds of value a type code carries, in every form the clients send:
// national text (NCHAR, NVARCHAR, NTEXT), any text (those and the
// Windows-1252 ones), binary, and the integers (BIT and TINYINT among them).
bool is_national(std::uint8_t type);
bool is_character(std::uint8_t type);
bool is_binary(std::uint8_t type);
bool is_integer(std::uint8_t type);
// DATETIME, SMALLDATETIME, DATETIME2, DATE and their nullable forms.
bool is_date(std::uint8_t type);

// A type code as SQL Server's messages write it: "0xF1".
std::string type_code_text(std::uint8_t type);

}  // namespace varrow::host::tds
