#include "text/log_escape.h"

#include <cstdint>

#include "text/codepage.h"

namespace varrow::host {
namespace {

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
    const Utf8Char d = next_utf8(text.substr(at));
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
