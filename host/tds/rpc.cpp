#include "tds/rpc.h"

#include <algorithm>

#include "tds/login.h"
#include "tds/tokens.h"
#include "text/codepage.h"

namespace varrow::host::tds {
namespace {

constexpr std::uint64_t PLP_NULL = 0xFFFFFFFFFFFFFFFFull;
constexpr std::uint64_t PLP_UNKNOWN_LENGTH = 0xFFFFFFFFFFFFFFFEull;

// Length of a fixed-length type, or 0 for a type that is not one.
std::uint32_t fixed_length(std::uint8_t type) {
  switch (type) {
    case 0x1F:  // NULL
      return 0xFF;
    case 0x30:  // TINYINT
    case 0x32:  // BIT
      return 1;
    case 0x34:  // SMALLINT
      return 2;
    case 0x38:  // INT
    case 0x3A:  // SMALLDATETIME
    case 0x3B:  // REAL
    case 0x7A:  // SMALLMONEY
      return 4;
    case 0x3C:  // MONEY
    case 0x3D:  // DATETIME
    case 0x3E:  // FLOAT
    case 0x7F:  // BIGINT
      return 8;
    default:
      return 0;
  }
}

bool is_legacy_text(std::uint8_t type) {
  return type == 0x25 || type == 0x27 || type == 0x2D || type == 0x2F;
}

bool has_collation(std::uint8_t type) {
  return type == 0xA7 || type == 0xAF || type == 0xE7 || type == 0xEF || type == 0x23 ||
         type == 0x63;
}

TypeInfo read_type_info(Reader& in) {
  TypeInfo t;
  t.type = in.u8();
  if (const std::uint32_t fixed = fixed_length(t.type)) {
    t.kind = LengthKind::Fixed;
    t.max_length = fixed == 0xFF ? 0 : fixed;
    return t;
  }
  switch (t.type) {
    case 0x24:
    case 0x26:
    case 0x68:
    case 0x6D:
    case 0x6E:
    case 0x6F:  // GUID, INTN, ...
    case 0x25:
    case 0x27:
    case 0x2D:
    case 0x2F:  // legacy text, binary
      t.kind = LengthKind::Byte;
      t.max_length = in.u8();
      break;
    case 0x6A:
    case 0x6C:  // DECIMAL, NUMERIC
      t.kind = LengthKind::Byte;
      t.max_length = in.u8();
      t.extra = in.bytes(2);
      break;
    case 0x28:  // DATE
      t.kind = LengthKind::Byte;
      t.max_length = 3;
      break;
    case 0x29:
    case 0x2A:
    case 0x2B:  // TIME, DATETIME2, DATETIMEOFFSET
      t.kind = LengthKind::Byte;
      t.extra = in.bytes(1);
      t.max_length = 10;
      break;
    case 0xA5:
    case 0xA7:
    case 0xAD:
    case 0xAF:
    case 0xE7:
    case 0xEF:
      t.max_length = in.u16();
      t.kind = t.max_length == 0xFFFF ? LengthKind::Plp : LengthKind::UShort;
      break;
    case 0x22:
    case 0x23:
    case 0x63:  // IMAGE, TEXT, NTEXT
      t.kind = LengthKind::Long;
      t.max_length = in.u32();
      break;
    default:
      throw UnsupportedRequest{"parameters of type 0x" + std::to_string(t.type) +
                               " are not supported"};
  }
  if (has_collation(t.type)) t.collation = in.bytes(5);
  return t;
}

std::optional<Bytes> read_value(Reader& in, const TypeInfo& t) {
  switch (t.kind) {
    case LengthKind::Fixed:
      if (t.max_length == 0) return std::nullopt;  // the NULL type
      return in.bytes(t.max_length);
    case LengthKind::Byte: {
      const std::uint8_t length = in.u8();
      const bool is_null = is_legacy_text(t.type) ? length == 0xFF : length == 0;
      if (is_null) return std::nullopt;
      return in.bytes(length);
    }
    case LengthKind::UShort: {
      const std::uint16_t length = in.u16();
      if (length == 0xFFFF) return std::nullopt;
      return in.bytes(length);
    }
    case LengthKind::Long: {
      const std::uint32_t length = in.u32();
      if (length == 0xFFFFFFFF) return std::nullopt;
      return in.bytes(length);
    }
    case LengthKind::Plp: {
      const std::uint64_t total = in.u64();
      if (total == PLP_NULL) return std::nullopt;
      if (total != PLP_UNKNOWN_LENGTH && total > in.left()) {
        throw ProtocolError("PLP length past the message");
      }
      Bytes value;
      for (std::uint32_t chunk = in.u32(); chunk != 0; chunk = in.u32()) {
        const Bytes part = in.bytes(chunk);
        value.insert(value.end(), part.begin(), part.end());
      }
      return value;
    }
  }
  return std::nullopt;
}

}  // namespace

std::vector<RpcRequest> parse_rpc(Reader& in, std::uint32_t version) {
  const std::uint8_t separator = from_7_2(version) ? 0xFF : 0x80;
  std::vector<RpcRequest> requests;
  do {
    if (!requests.empty()) in.u8();  // the separator
    RpcRequest request;
    const std::uint16_t name_length = in.u16();
    if (name_length == 0xFFFF) {
      request.proc_id = in.u16();
    } else {
      request.procedure = utf16le_to_utf8(in.ucs2(name_length));
    }
    in.u16();  // option flags
    while (!in.done() && in.peek() != separator) {
      RpcParam param;
      param.name = in.ucs2(in.u8());
      param.status = in.u8();
      param.type = read_type_info(in);
      param.value = read_value(in, param.type);
      request.params.push_back(std::move(param));
    }
    requests.push_back(std::move(request));
  } while (!in.done());
  return requests;
}

void write_type_info(Writer& out, const TypeInfo& t) {
  out.u8(t.type);
  switch (t.kind) {
    case LengthKind::Fixed:
      break;
    case LengthKind::Byte:
      if (t.type != 0x28 && t.type != 0x29 && t.type != 0x2A && t.type != 0x2B) {
        out.u8(static_cast<std::uint8_t>(t.max_length));
      }
      break;
    case LengthKind::UShort:
    case LengthKind::Plp:
      out.u16(static_cast<std::uint16_t>(t.max_length));
      break;
    case LengthKind::Long:
      out.u32(t.max_length);
      break;
  }
  out.append(t.extra);
  out.append(t.collation);
}

void write_value(Writer& out, const TypeInfo& t, const std::optional<Bytes>& value) {
  switch (t.kind) {
    case LengthKind::Fixed:
      out.append(value.value_or(Bytes(t.max_length, 0)));
      break;
    case LengthKind::Byte:
      if (!value) {
        out.u8(is_legacy_text(t.type) ? 0xFF : 0);
      } else {
        out.u8(static_cast<std::uint8_t>(value->size()));
        out.append(*value);
      }
      break;
    case LengthKind::UShort:
      if (!value) {
        out.u16(0xFFFF);
      } else {
        out.u16(static_cast<std::uint16_t>(value->size()));
        out.append(*value);
      }
      break;
    case LengthKind::Long:
      out.u32(value ? static_cast<std::uint32_t>(value->size()) : 0xFFFFFFFF);
      if (value) out.append(*value);
      break;
    case LengthKind::Plp:
      if (!value) {
        out.u64(PLP_NULL);
        break;
      }
      out.u64(value->size());
      if (!value->empty()) {
        out.u32(static_cast<std::uint32_t>(value->size()));
        out.append(*value);
      }
      out.u32(0);
      break;
  }
}

TypeInfo reply_type(const TypeInfo& sent, std::uint32_t version) {
  TypeInfo t = sent;
  auto modern = [&](std::uint8_t type, bool character) {
    t.type = type;
    t.kind = LengthKind::UShort;
    t.max_length = std::max<std::uint32_t>(sent.max_length, 1);
    t.collation =
        character ? Bytes(std::begin(DEFAULT_COLLATION), std::end(DEFAULT_COLLATION)) : Bytes{};
  };
  switch (sent.type) {
    case 0x27:
      modern(0xA7, true);
      break;
    case 0x2F:
      modern(0xAF, true);
      break;
    case 0x25:
      modern(0xA5, false);
      break;
    case 0x2D:
      modern(0xAD, false);
      break;
    case 0x23:
    case 0x63:
      modern(sent.type == 0x23 ? 0xA7 : 0xE7, true);
      if (from_7_2(version)) {
        t.kind = LengthKind::Plp;
        t.max_length = 0xFFFF;
      } else {
        t.max_length = 8000;
      }
      break;
    case 0x22:
      modern(0xA5, false);
      t.max_length = 8000;
      break;
    default:
      if (sent.kind == LengthKind::Fixed) {
        // A fixed-length type cannot carry NULL: its nullable form can.
        const std::uint8_t type = sent.type;
        t.kind = LengthKind::Byte;
        t.type = type == 0x32                   ? 0x68
                 : type == 0x3B || type == 0x3E ? 0x6D
                 : type == 0x3C || type == 0x7A ? 0x6E
                 : type == 0x3A || type == 0x3D ? 0x6F
                                                : 0x26;
        if (t.max_length == 0) t.max_length = 4;
      }
      break;
  }
  return t;
}

}  // namespace varrow::host::tds
