#include "tds/wire/type_codec.h"

#include <algorithm>

#include "tds/wire/login.h"
#include "tds/wire/tokens.h"
#include "text/hex.h"

namespace varrow::host::tds {
namespace {

// Length of a fixed-length type, or 0 for a type that is not one.
std::uint32_t fixed_length(std::uint8_t type) {
  switch (type) {
    case TYPE_NULL:
      return 0xFF;
    case TYPE_INT1:
    case TYPE_BIT:
      return 1;
    case TYPE_INT2:
      return 2;
    case TYPE_INT4:
    case TYPE_DATETIME4:
    case TYPE_FLT4:
    case TYPE_MONEY4:
      return 4;
    case TYPE_MONEY:
    case TYPE_DATETIME:
    case TYPE_FLT8:
    case TYPE_INT8:
      return 8;
    default:
      return 0;
  }
}

// The legacy types write NULL as length 0xFF; the other one-byte-length
// types as length 0.
bool is_legacy_text(std::uint8_t type) {
  return type == TYPE_VARBINARY || type == TYPE_VARCHAR || type == TYPE_BINARY || type == TYPE_CHAR;
}

bool has_collation(std::uint8_t type) {
  return type == TYPE_BIGVARCHAR || type == TYPE_BIGCHAR || type == TYPE_NVARCHAR ||
         type == TYPE_NCHAR || type == TYPE_TEXT || type == TYPE_NTEXT;
}

// The date and time types carry no length in TYPE_INFO.
bool has_implied_length(std::uint8_t type) {
  return type == TYPE_DATEN || type == TYPE_TIMEN || type == TYPE_DATETIME2N ||
         type == TYPE_DATETIMEOFFSETN;
}

}  // namespace

bool is_national(std::uint8_t type) {
  return type == TYPE_NVARCHAR || type == TYPE_NCHAR || type == TYPE_NTEXT;
}

bool is_binary(std::uint8_t type) {
  return type == TYPE_BIGVARBINARY || type == TYPE_BIGBINARY || type == TYPE_VARBINARY ||
         type == TYPE_BINARY || type == TYPE_IMAGE;
}

bool is_character(std::uint8_t type) {
  return is_national(type) || type == TYPE_BIGVARCHAR || type == TYPE_BIGCHAR ||
         type == TYPE_VARCHAR || type == TYPE_CHAR || type == TYPE_TEXT;
}

bool is_integer(std::uint8_t type) {
  return type == TYPE_INTN || type == TYPE_INT1 || type == TYPE_INT2 || type == TYPE_INT4 ||
         type == TYPE_INT8 || type == TYPE_BIT || type == TYPE_BITN;
}

bool is_date(std::uint8_t type) {
  return type == TYPE_DATETIME || type == TYPE_DATETIMN || type == TYPE_DATETIME4 ||
         type == TYPE_DATETIME2N || type == TYPE_DATEN;
}

std::string type_code_text(std::uint8_t type) {
  return "0x" + hex_text(&type, 1);
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
    case TYPE_GUID:
    case TYPE_INTN:
    case TYPE_BITN:
    case TYPE_FLTN:
    case TYPE_MONEYN:
    case TYPE_DATETIMN:
    case TYPE_VARBINARY:
    case TYPE_VARCHAR:
    case TYPE_BINARY:
    case TYPE_CHAR:
      t.kind = LengthKind::Byte;
      t.max_length = in.u8();
      break;
    case TYPE_DECIMALN:
    case TYPE_NUMERICN:
      t.kind = LengthKind::Byte;
      t.max_length = in.u8();
      t.extra = in.bytes(2);  // precision, scale
      break;
    case TYPE_DATEN:
      t.kind = LengthKind::Byte;
      t.max_length = 3;
      break;
    case TYPE_TIMEN:
    case TYPE_DATETIME2N:
    case TYPE_DATETIMEOFFSETN:
      t.kind = LengthKind::Byte;
      t.extra = in.bytes(1);  // scale
      t.max_length = 10;
      break;
    case TYPE_BIGVARBINARY:
    case TYPE_BIGVARCHAR:
    case TYPE_BIGBINARY:
    case TYPE_BIGCHAR:
    case TYPE_NVARCHAR:
    case TYPE_NCHAR:
      t.max_length = in.u16();
      t.kind = t.max_length == MAX_TYPE_LENGTH ? LengthKind::Plp : LengthKind::UShort;
      break;
    case TYPE_IMAGE:
    case TYPE_TEXT:
    case TYPE_NTEXT:
      t.kind = LengthKind::Long;
      t.max_length = in.u32();
      break;
    default:
      throw UnsupportedRequest{"parameters of type " + type_code_text(t.type) +
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

void write_type_info(Writer& out, const TypeInfo& t) {
  out.u8(t.type);
  switch (t.kind) {
    case LengthKind::Fixed:
      break;
    case LengthKind::Byte:
      if (!has_implied_length(t.type)) out.u8(static_cast<std::uint8_t>(t.max_length));
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
    case TYPE_VARCHAR:
      modern(TYPE_BIGVARCHAR, true);
      break;
    case TYPE_CHAR:
      modern(TYPE_BIGCHAR, true);
      break;
    case TYPE_VARBINARY:
      modern(TYPE_BIGVARBINARY, false);
      break;
    case TYPE_BINARY:
      modern(TYPE_BIGBINARY, false);
      break;
    case TYPE_TEXT:
    case TYPE_NTEXT:
      modern(sent.type == TYPE_TEXT ? TYPE_BIGVARCHAR : TYPE_NVARCHAR, true);
      if (from_7_2(version)) {
        t.kind = LengthKind::Plp;
        t.max_length = MAX_TYPE_LENGTH;
      } else {
        t.max_length = NON_MAX_BYTE_LIMIT;
      }
      break;
    case TYPE_IMAGE:
      modern(TYPE_BIGVARBINARY, false);
      t.max_length = NON_MAX_BYTE_LIMIT;
      break;
    default:
      if (sent.kind == LengthKind::Fixed) {
        // A fixed-length type cannot carry NULL: its nullable form can.
        const std::uint8_t type = sent.type;
        t.kind = LengthKind::Byte;
        t.type = type == TYPE_BIT                                  ? TYPE_BITN
                 : type == TYPE_FLT4 || type == TYPE_FLT8          ? TYPE_FLTN
                 : type == TYPE_MONEY || type == TYPE_MONEY4       ? TYPE_MONEYN
                 : type == TYPE_DATETIME4 || type == TYPE_DATETIME ? TYPE_DATETIMN
                                                                   : TYPE_INTN;
        if (t.max_length == 0) t.max_length = 4;
      }
      break;
  }
  return t;
}

}  // namespace varrow::host::tds
