// RPC requests: the procedure named (or the numbered system procedure), and
// each parameter with its name, OUTPUT flag, type and value.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tds/wire.h"

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
  std::uint32_t max_length = 0;  // as sent; 0xFFFF for a MAX type
  Bytes collation;               // 5 bytes for character types, else empty
  Bytes extra;                   // precision and scale, or a time scale
};

struct RpcParam {
  Bytes name;  // UTF-16LE, as sent ("@v" or empty)
  std::uint8_t status = 0;
  TypeInfo type;
  std::optional<Bytes> value;  // nullopt is NULL

  bool output() const { return (status & 0x01) != 0; }
};

struct RpcRequest {
  std::string procedure;      // UTF-8, as sent; empty when called by number
  std::uint16_t proc_id = 0;  // the number of a system procedure
  std::vector<RpcParam> params;
};

// A request the server understands but does not serve: answered with an
// error, the connection stays open.
struct UnsupportedRequest {
  std::string message;
};

// Parses the RPC requests of one message (ALL_HEADERS already skipped).
// Throws ProtocolError for malformed bytes, UnsupportedRequest for a
// parameter type the server does not take.
std::vector<RpcRequest> parse_rpc(Reader& in, std::uint32_t version);

// Writes TYPE_INFO, or a value in the form `type` gives it.
void write_type_info(Writer& out, const TypeInfo& type);
void write_value(Writer& out, const TypeInfo& type, const std::optional<Bytes>& value);

// The type a RETURNVALUE carries for a parameter sent as `sent`: what the
// clients can read back (legacy and fixed types become their modern or
// nullable forms).
TypeInfo reply_type(const TypeInfo& sent, std::uint32_t version);

}  // namespace varrow::host::tds
