#include "key/ansi_codepage.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace varrow {

#if defined(_WIN32)

std::size_t utf16_to_ansi(const std::uint16_t* units, std::size_t count, std::uint8_t* out,
                          std::size_t capacity) {
  if (count == 0) return 0;
  const int written = WideCharToMultiByte(CP_ACP, 0, reinterpret_cast<const wchar_t*>(units),
                                          static_cast<int>(count), reinterpret_cast<char*>(out),
                                          static_cast<int>(capacity), nullptr, nullptr);
  return written > 0 ? static_cast<std::size_t>(written) : 0;
}

#else

namespace {

constexpr std::uint8_t DEFAULT_CHARACTER = '?';

// Windows-1252 bytes 0x80 to 0x9F and the characters they stand for. The five
// bytes the code page leaves unassigned stand for the C1 control of the same
// value, as Windows maps them.
constexpr std::uint16_t CP1252_HIGH_CONTROLS[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 0x80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 0x88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 0x90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 0x98
};

std::uint8_t cp1252_byte(std::uint16_t character) {
  if (character < 0x80 || (character >= 0xA0 && character <= 0xFF)) {
    return static_cast<std::uint8_t>(character);
  }
  for (int i = 0; i < 32; ++i) {
    if (CP1252_HIGH_CONTROLS[i] == character) return static_cast<std::uint8_t>(0x80 + i);
  }
  return DEFAULT_CHARACTER;
}

bool is_high_surrogate(std::uint16_t u) {
  return u >= 0xD800 && u <= 0xDBFF;
}
bool is_low_surrogate(std::uint16_t u) {
  return u >= 0xDC00 && u <= 0xDFFF;
}

}  // namespace

std::size_t utf16_to_ansi(const std::uint16_t* units, std::size_t count, std::uint8_t* out,
                          std::size_t capacity) {
  std::size_t written = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (written == capacity) return 0;
    // A surrogate pair is one character outside the code page.
    if (is_high_surrogate(units[i]) && i + 1 < count && is_low_surrogate(units[i + 1])) {
      ++i;
      out[written++] = DEFAULT_CHARACTER;
    } else {
      out[written++] = cp1252_byte(units[i]);
    }
  }
  return written;
}

#endif

}  // namespace varrow
