#include "text/codepage.h"

namespace varrow::host {
namespace {

constexpr char32_t REPLACEMENT = 0xFFFD;

// Text decoded on the way from one encoding to another, cleared as all of it.
using CodePoints =
    std::basic_string<char32_t, std::char_traits<char32_t>, ClearingAllocator<char32_t>>;

// Characters of Windows-1252 bytes 0x80 to 0x9F; the five bytes the code
// page leaves unassigned stand for the C1 control of the same value, as on
// Windows. Every other byte is the Latin-1 character of its value.
constexpr char16_t CP1252_80_9F[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

char32_t cp1252_char(std::uint8_t byte) {
  return byte >= 0x80 && byte <= 0x9F ? CP1252_80_9F[byte - 0x80] : char32_t{byte};
}

std::optional<std::uint8_t> cp1252_byte(char32_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<std::uint8_t>(c);
  for (int i = 0; i < 32; ++i) {
    if (CP1252_80_9F[i] == c) return static_cast<std::uint8_t>(0x80 + i);
  }
  return std::nullopt;
}

// Decodes UTF-8 into code points; false for malformed text.
bool decode_utf8(std::string_view text, CodePoints* out) {
  for (std::size_t i = 0; i < text.size();) {
    const Utf8Char c = next_utf8(text.substr(i));
    if (c.length == 0) return false;
    out->push_back(c.code_point);
    i += c.length;
  }
  return true;
}

void append_utf8(SecretString* out, char32_t c) {
  if (c < 0x80) {
    *out += static_cast<char>(c);
  } else if (c < 0x800) {
    *out += static_cast<char>(0xC0 | c >> 6);
    *out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *out += static_cast<char>(0xE0 | c >> 12);
    *out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | c >> 18);
    *out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
    *out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

void append_utf16le(Bytes* out, char32_t c) {
  auto unit = [out](char32_t u) {
    out->push_back(static_cast<std::uint8_t>(u & 0xFF));
    out->push_back(static_cast<std::uint8_t>(u >> 8));
  };
  if (c < 0x10000) {
    unit(c);
  } else {
    c -= 0x10000;
    unit(0xD800 | c >> 10);
    unit(0xDC00 | (c & 0x3FF));
  }
}

// Code points of UTF-16LE bytes; U+FFFD for what is not a character.
CodePoints decode_utf16le(const Bytes& bytes) {
  CodePoints out;
  const std::size_t units = bytes.size() / 2;
  auto unit = [&](std::size_t i) -> char32_t {
    return char32_t{bytes[2 * i]} | char32_t{bytes[2 * i + 1]} << 8;
  };
  for (std::size_t i = 0; i < units; ++i) {
    const char32_t u = unit(i);
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units && unit(i + 1) >= 0xDC00 &&
        unit(i + 1) <= 0xDFFF) {
      out.push_back(0x10000 + ((u - 0xD800) << 10) + (unit(i + 1) - 0xDC00));
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      out.push_back(REPLACEMENT);
    } else {
      out.push_back(u);
    }
  }
  if (bytes.size() % 2 != 0) out.push_back(REPLACEMENT);
  return out;
}

}  // namespace

Utf8Char next_utf8(std::string_view text) {
  if (text.empty()) return {};
  const auto lead = static_cast<std::uint8_t>(text[0]);
  std::size_t extra = 0;
  char32_t c = 0;
  if (lead < 0x80) return {lead, 1};
  if ((lead & 0xE0) == 0xC0) {
    c = lead & 0x1F, extra = 1;
  } else if ((lead & 0xF0) == 0xE0) {
    c = lead & 0x0F, extra = 2;
  } else if ((lead & 0xF8) == 0xF0) {
    c = lead & 0x07, extra = 3;
  } else {
    return {};
  }
  if (extra >= text.size()) return {};
  for (std::size_t k = 1; k <= extra; ++k) {
    const auto next = static_cast<std::uint8_t>(text[k]);
    if ((next & 0xC0) != 0x80) return {};
    c = c << 6 | (next & 0x3F);
  }
  // Overlong forms, surrogates and values past Unicode are not characters.
  static constexpr char32_t SMALLEST[4] = {0, 0x80, 0x800, 0x10000};
  if (c < SMALLEST[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return {};
  return {c, extra + 1};
}

std::optional<Bytes> utf8_to_cp1252(std::string_view text) {
  CodePoints chars;
  if (!decode_utf8(text, &chars)) return std::nullopt;
  Bytes out;
  out.reserve(chars.size());
  for (char32_t c : chars) {
    const auto byte = cp1252_byte(c);
    if (!byte) return std::nullopt;
    out.push_back(*byte);
  }
  return out;
}

SecretString cp1252_to_utf8(const Bytes& bytes) {
  SecretString out;
  for (std::uint8_t b : bytes)
    append_utf8(&out, cp1252_char(b));
  return out;
}

std::optional<Bytes> utf8_to_utf16le(std::string_view text) {
  CodePoints chars;
  if (!decode_utf8(text, &chars)) return std::nullopt;
  Bytes out;
  for (char32_t c : chars)
    append_utf16le(&out, c);
  return out;
}

SecretString utf16le_to_utf8(const Bytes& bytes) {
  SecretString out;
  // Procedure names and most text are ASCII: one byte per unit, nothing to
  // decode.
  std::size_t i = 0;
  while (i + 1 < bytes.size() && bytes[i] < 0x80 && bytes[i + 1] == 0)
    i += 2;
  if (i == bytes.size()) {
    out.resize(i / 2);
    for (std::size_t c = 0; c < out.size(); ++c)
      out[c] = static_cast<char>(bytes[2 * c]);
    return out;
  }
  for (char32_t c : decode_utf16le(bytes))
    append_utf8(&out, c);
  return out;
}

Bytes utf16le_to_cp1252(const Bytes& bytes) {
  Bytes out;
  for (char32_t c : decode_utf16le(bytes))
    out.push_back(cp1252_byte(c).value_or('?'));
  return out;
}

Bytes cp1252_to_utf16le(const Bytes& bytes) {
  Bytes out;
  for (std::uint8_t b : bytes)
    append_utf16le(&out, cp1252_char(b));
  return out;
}

}  // namespace varrow::host
