// UTF-16 text to the system's ANSI code page.
#pragma once

#include <cstddef>
#include <cstdint>

namespace varrow {

// Converts `count` UTF-16 units into at most `capacity` bytes of the ANSI
// code page: WideCharToMultiByte with CP_ACP on Windows, Windows-1252
// elsewhere. A character the code page lacks becomes its default character
// '?'. Returns the bytes written, or 0 when there are no units or the text
// needs more than `capacity` bytes.
std::size_t utf16_to_ansi(const std::uint16_t* units, std::size_t count, std::uint8_t* out,
                          std::size_t capacity);

}  // namespace varrow
