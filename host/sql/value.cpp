#include "sql/value.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "tds/proto.h"
#include "text/codepage.h"
#include "text/hex.h"

namespace varrow::host::sql {
namespace {

// A MAX type has no length of its own: the procedures' size rules decide.
constexpr std::uint32_t MAX_LENGTH = 0xFFFFFFFF;

std::int32_t int_of(const Bytes& b) {
  const std::uint32_t u = std::uint32_t{b[0]} | std::uint32_t{b[1]} << 8 |
                          std::uint32_t{b[2]} << 16 | std::uint32_t{b[3]} << 24;
  return static_cast<std::int32_t>(u);
}

Bytes text_bytes(std::string_view ascii) {
  return Bytes(ascii.begin(), ascii.end());
}

std::int32_t parse_int(const std::string& text) {
  std::string trimmed = text;
  trimmed.erase(0, trimmed.find_first_not_of(' '));
  trimmed.erase(trimmed.find_last_not_of(' ') + 1);
  if (!trimmed.empty() && trimmed[0] == '+') trimmed.erase(0, 1);
  std::int32_t result = 0;
  const auto [end, error] =
      std::from_chars(trimmed.data(), trimmed.data() + trimmed.size(), result);
  if (trimmed.empty() || error != std::errc() || end != trimmed.data() + trimmed.size()) {
    throw ConversionError{"Conversion failed when converting the value '" + text +
                          "' to data type int."};
  }
  return result;
}

}  // namespace

std::uint32_t SqlType::byte_length() const {
  if (max) return MAX_LENGTH;
  if (base == BaseType::Int) return 4;
  return is_national() ? 2 * length : length;
}

std::uint8_t SqlType::type_code() const {
  switch (base) {
    case BaseType::Char:
      return tds::TYPE_BIGCHAR;
    case BaseType::VarChar:
      return tds::TYPE_BIGVARCHAR;
    case BaseType::NChar:
      return tds::TYPE_NCHAR;
    case BaseType::NVarChar:
      return tds::TYPE_NVARCHAR;
    case BaseType::VarBinary:
      return tds::TYPE_BIGVARBINARY;
    case BaseType::Int:
      return tds::TYPE_INTN;  // the nullable form of INT
  }
  return 0;
}

std::string SqlType::name() const {
  static const char* const names[] = {"CHAR", "VARCHAR", "NCHAR", "NVARCHAR", "VARBINARY", "INT"};
  std::string out = names[static_cast<int>(base)];
  if (base == BaseType::Int) return out;
  return out + "(" + (max ? std::string("MAX") : std::to_string(length)) + ")";
}

std::optional<BaseType> base_type_named(std::string_view name) {
  std::string upper(name);
  for (char& c : upper)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (upper == "CHAR") return BaseType::Char;
  if (upper == "VARCHAR") return BaseType::VarChar;
  if (upper == "NCHAR") return BaseType::NChar;
  if (upper == "NVARCHAR") return BaseType::NVarChar;
  if (upper == "VARBINARY") return BaseType::VarBinary;
  if (upper == "INT") return BaseType::Int;
  return std::nullopt;
}

Value Value::integer(std::int32_t v) {
  const auto u = static_cast<std::uint32_t>(v);
  return Value{SqlType{BaseType::Int, 4, false},
               Bytes{static_cast<std::uint8_t>(u), static_cast<std::uint8_t>(u >> 8),
                     static_cast<std::uint8_t>(u >> 16), static_cast<std::uint8_t>(u >> 24)}};
}

Value convert(const Value& value, const SqlType& target) {
  if (!value.bytes) return Value::null_of(target);
  const Bytes& in = *value.bytes;
  const SqlType& from = value.type;
  Bytes out;
  switch (target.base) {
    case BaseType::Int: {
      if (from.base == BaseType::Int) return Value{target, in};
      if (from.base == BaseType::VarBinary) {
        throw ConversionError{"Implicit conversion from VARBINARY to INT is not supported."};
      }
      const SecretString text = from.is_national() ? utf16le_to_utf8(in) : cp1252_to_utf8(in);
      Value v = Value::integer(parse_int(std::string(text)));
      v.type = target;
      return v;
    }
    case BaseType::Char:
    case BaseType::VarChar:
      if (from.base == BaseType::Int) {
        out = text_bytes(std::to_string(int_of(in)));
      } else {
        out = from.is_national() ? utf16le_to_cp1252(in) : in;
      }
      break;
    case BaseType::NChar:
    case BaseType::NVarChar:
      if (from.base == BaseType::Int) {
        out = cp1252_to_utf16le(text_bytes(std::to_string(int_of(in))));
      } else {
        out = from.is_national() || from.base == BaseType::VarBinary ? in : cp1252_to_utf16le(in);
      }
      break;
    case BaseType::VarBinary:
      if (from.base == BaseType::Int) {
        out = {in[3], in[2], in[1], in[0]};  // INT converts to its big-endian bytes
      } else {
        out = in;
      }
      break;
  }
  if (!target.max) {
    const std::uint32_t limit = target.byte_length();
    if (out.size() > limit) out.resize(limit);
    if (target.base == BaseType::Char) out.resize(limit, ' ');
    if (target.base == BaseType::NChar) {
      while (out.size() + 2 <= limit)
        out.push_back(' '), out.push_back(0);
    }
  }
  return Value{target, out};
}

Value convert(const Value& value, const SqlType& target, int style) {
  const bool to_hex = value.type.base == BaseType::VarBinary && target.is_character();
  const bool from_hex = value.type.is_character() && target.base == BaseType::VarBinary;
  if ((!to_hex && !from_hex) || (style == 0 && !value.bytes)) return convert(value, target);
  if (style != 0 && style != 1 && style != 2) {
    throw ConversionError{std::to_string(style) + " is not a valid style number when converting " +
                          (to_hex ? "from varbinary to a character string."
                                  : "from a character string to varbinary.")};
  }
  if (style == 0 || !value.bytes) return convert(value, target);
  if (to_hex) {
    const SecretString text =
        (style == 1 ? "0x" : "") + hex_text<SecretString>(value.bytes->data(), value.bytes->size());
    return convert(Value{SqlType{BaseType::VarChar, 1, true}, text_bytes(text)}, target);
  }
  SecretString text =
      value.type.is_national() ? utf16le_to_utf8(*value.bytes) : cp1252_to_utf8(*value.bytes);
  const bool prefixed = text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  if (style == 1 && prefixed) text.erase(0, 2);
  const std::optional<Bytes> out = hex_bytes(text);
  if ((style == 1) != prefixed || !out) {
    throw ConversionError{"Error converting data type varchar to varbinary."};
  }
  return convert(Value{SqlType{BaseType::VarBinary, 1, true}, *out}, target);
}

SecretString display(const Value& value) {
  if (!value.bytes) return "NULL";
  const Bytes& b = *value.bytes;
  switch (value.type.base) {
    case BaseType::Int:
      return SecretString(std::to_string(int_of(b)));
    case BaseType::VarBinary:
      return "0x" + hex_text<SecretString>(b.data(), b.size());
    case BaseType::NChar:
    case BaseType::NVarChar:
      return utf16le_to_utf8(b);
    default:
      return cp1252_to_utf8(b);
  }
}

}  // namespace varrow::host::sql
