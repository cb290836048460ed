#include "text/log_escape.h"

#include <cstdint>

namespace varrow::host {
namespace {

// The valid UTF-8 sequence at the start of `text`: its code point and its
// length in bytes; length 0 when the first byte starts none.
struct Decoded {
  char32_t code_point = 0;
  std::size_t length = 0;
};

Decoded decode(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char first = byte(0);
  if (first < 0x80) return {first, 1};
  std::size_t length = 0;
  char32_t least = 0;  // below this, the form is overlong
  char32_t value = 0;
  if ((first & 0xE0) == 0xC0) {
    length = 2, least = 0x80, value = first & 0x1F;
  } else if ((first & 0xF0) == 0xE0) {
    length = 3, least = 0x800, value = first & 0x0F;
  } else if ((first & 0xF8) == 0xF0) {
    length = 4, least = 0x10000, value = first & 0x07;
  } else {
    return {};
  }
  if (text.size() < length) return {};
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return {};
    value = value << 6 | (byte(i) & 0x3F);
  }
  if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return {};
  return {value, length};
}

// Characters above ASCII that end a line or reorder the text around them.
bool invisible(char32_t c) {
  return (c >= 0x80 && c <= 0x9F) || c == 0x2028 || c == 0x2029 || c == 0x061C || c == 0x200E ||
         c == 0x200F || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

void append_escape(std::string& out, const char* prefix, std::uint32_t value, int digits) {
  constexpr char HEX[] = "0123456789abcdef";
  out += prefix;
  for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4)
    out += HEX[(value >> shift) & 0xF];
}

}  // namespace

std::string log_escape(std::string_view text, std::size_t characters) {
  // ASCII bytes shown as a backslash and a letter, and those letters.
  constexpr std::string_view NAMED = "\n\r\t\\'";
  constexpr std::string_view NAMES = "nrt\\'";
  std::string out;
  std::size_t at = 0;
  for (std::size_t shown = 0; at < text.size() && shown < characters; ++shown) {
    const Decoded d = decode(text.substr(at));
    const auto byte = static_cast<unsigned char>(text[at]);
    const std::size_t named = d.length == 1 ? NAMED.find(text[at]) : std::string_view::npos;
    if (named != std::string_view::npos) {
      out += '\\';
      out += NAMES[named];
    } else if (d.length == 0 || byte < 0x20 || byte == 0x7F) {
      append_escape(out, "\\x", byte, 2);
    } else if (invisible(d.code_point)) {
      append_escape(out, "\\u", static_cast<std::uint32_t>(d.code_point), 4);
    } else {
      out.append(text.substr(at, d.length));
    }
    at += d.length == 0 ? 1 : d.length;
  }
  if (at < text.size()) out += "...(" + std::to_string(text.size()) + " bytes)";
  return out;
}

}  // namespace varrow::host
