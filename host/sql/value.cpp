#include "sql/value.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "ods/call.h"
#include "sql/datetime.h"
#include "sql/names.h"
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
  if (is_date()) return 8;
  return is_national() ? 2 * length : length;
}

std::uint8_t SqlType::param_type() const {
  switch (base) {
    case BaseType::Char:
      return TYPE_BIGCHAR;
    case BaseType::VarChar:
      return TYPE_BIGVARCHAR;
    case BaseType::NChar:
      return TYPE_NCHAR;
    case BaseType::NVarChar:
      return TYPE_NVARCHAR;
    case BaseType::VarBinary:
      return TYPE_BIGVARBINARY;
    case BaseType::Int:
      return TYPE_INTN;  // the nullable form of INT
    case BaseType::DateTime:
      return TYPE_DATETIMN;  // which the procedures refuse, as any input not text
    case BaseType::DateTime2:
      return TYPE_DATETIME2N;
  }
  return 0;
}

std::string SqlType::name() const {
  static const char* const names[] = {"CHAR",      "VARCHAR", "NCHAR",    "NVARCHAR",
                                      "VARBINARY", "INT",     "DATETIME", "DATETIME2"};
  std::string out = names[static_cast<int>(base)];
  if (base == BaseType::Int || is_date()) return out;
  return out + "(" + (max ? std::string("MAX") : std::to_string(length)) + ")";
}

std::optional<BaseType> base_type_named(std::string_view name) {
  const std::string upper = ascii_upper(name);
  if (upper == "CHAR") return BaseType::Char;
  if (upper == "VARCHAR") return BaseType::VarChar;
  if (upper == "NCHAR") return BaseType::NChar;
  if (upper == "NVARCHAR") return BaseType::NVarChar;
  if (upper == "VARBINARY") return BaseType::VarBinary;
  if (upper == "INT") return BaseType::Int;
  if (upper == "DATETIME") return BaseType::DateTime;
  if (upper == "DATETIME2") return BaseType::DateTime2;
  return std::nullopt;
}

int precedence(BaseType base) {
  // From the lowest: VARBINARY, CHAR, VARCHAR, NCHAR, NVARCHAR, INT,
  // DATETIME, DATETIME2.
  static const int ranks[] = {1, 2, 3, 4, 0, 5, 6, 7};
  return ranks[static_cast<int>(base)];
}

std::int32_t Value::as_int() const {
  return int_of(*bytes);
}

Value Value::integer(std::int32_t v) {
  const auto u = static_cast<std::uint32_t>(v);
  return Value{SqlType{BaseType::Int, 4, false},
               Bytes{static_cast<std::uint8_t>(u), static_cast<std::uint8_t>(u >> 8),
                     static_cast<std::uint8_t>(u >> 16), static_cast<std::uint8_t>(u >> 24)}};
}

std::string message_type_name(const SqlType& type) {
  const std::string name = type.name();
  return ascii_lower(std::string_view(name).substr(0, name.find('(')));
}

Value Value::nvarchar(const std::string& utf8) {
  Bytes bytes = utf16(utf8);
  const auto length = static_cast<std::uint32_t>(std::max<std::size_t>(1, bytes.size() / 2));
  return Value{SqlType{BaseType::NVarChar, length, false}, std::move(bytes)};
}

Value convert(const Value& value, const SqlType& target) {
  if (!value.bytes) return Value::null_of(target);
  const Bytes& in = *value.bytes;
  const SqlType& from = value.type;
  Bytes out;
  if (target.is_date()) {
    if (from.is_date()) return date_of(ticks_of(value), target.base);
    if (from.base == BaseType::Int && target.base == BaseType::DateTime) {
      return date_of((693'595LL + int_of(in)) * 864'000'000'000LL, target.base);
    }
    if (!from.is_character()) {
      throw EvaluationError{529, "Explicit conversion from data type " + message_type_name(from) +
                                     " to " + message_type_name(target) + " is not allowed."};
    }
    const SecretString text = from.is_national() ? utf16le_to_utf8(in) : cp1252_to_utf8(in);
    return date_from_text(std::string(text), target.base);
  }
  switch (target.base) {
    case BaseType::Int: {
      if (from.base == BaseType::Int) return Value{target, in};
      if (from.base == BaseType::VarBinary) {
        // The last four bytes, big-endian, as the server reads binary as INT.
        std::uint32_t u = 0;
        for (std::size_t i = in.size() > 4 ? in.size() - 4 : 0; i < in.size(); ++i)
          u = u << 8 | in[i];
        Value v = Value::integer(static_cast<std::int32_t>(u));
        v.type = target;
        return v;
      }
      if (from.is_date()) {
        throw EvaluationError{529, "Explicit conversion from data type " + message_type_name(from) +
                                       " to int is not allowed."};
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
      } else if (from.is_date()) {
        out = text_bytes(date_text(value, 0));
      } else {
        out = from.is_national() ? utf16le_to_cp1252(in) : in;
      }
      break;
    case BaseType::NChar:
    case BaseType::NVarChar:
      if (from.base == BaseType::Int) {
        out = cp1252_to_utf16le(text_bytes(std::to_string(int_of(in))));
      } else if (from.is_date()) {
        out = cp1252_to_utf16le(text_bytes(date_text(value, 0)));
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
    default:
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
  if (value.type.is_date() && target.is_character() && value.bytes) {
    return convert(Value{SqlType{BaseType::VarChar, 1, true}, text_bytes(date_text(value, style))},
                   target);
  }
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
    case BaseType::DateTime:
    case BaseType::DateTime2:
      return SecretString(date_text(value, 121));
    case BaseType::NChar:
    case BaseType::NVarChar:
      return utf16le_to_utf8(b);
    default:
      return cp1252_to_utf8(b);
  }
}

}  // namespace varrow::host::sql
