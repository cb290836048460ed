// Text conversions the host needs between what users type (UTF-8), what the
// server passes for VARCHAR (Windows-1252) and for NVARCHAR (UTF-16LE).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ods/secure_bytes.h"

namespace varrow::host {

// The UTF-8 sequence at the start of `text`: its code point and its length in
// bytes; length 0 when the text is empty or starts with no valid sequence
// (overlong forms, surrogates and values past U+10FFFF are none).
struct Utf8Char {
  char32_t code_point = 0;
  std::size_t length = 0;
};
Utf8Char next_utf8(std::string_view text);

// UTF-8 to Windows-1252; nullopt when a character has no byte there or the
// text is not valid UTF-8.
std::optional<Bytes> utf8_to_cp1252(std::string_view text);

// Windows-1252 to UTF-8; every byte has a character.
SecretString cp1252_to_utf8(const Bytes& bytes);

// UTF-8 to UTF-16LE bytes; nullopt for text that is not valid UTF-8.
std::optional<Bytes> utf8_to_utf16le(std::string_view text);

// The same for the host's own texts and names already read as UTF-8: empty
// for text that is not valid UTF-8.
inline Bytes utf16(std::string_view utf8) {
  return utf8_to_utf16le(utf8).value_or(Bytes{});
}

// UTF-16LE bytes to UTF-8; an unpaired surrogate or a lone last byte becomes
// U+FFFD.
SecretString utf16le_to_utf8(const Bytes& bytes);

// UTF-16LE bytes to Windows-1252, '?' for characters it lacks, as the server
// converts an NVARCHAR value assigned to a VARCHAR variable.
Bytes utf16le_to_cp1252(const Bytes& bytes);

// Windows-1252 to UTF-16LE bytes.
Bytes cp1252_to_utf16le(const Bytes& bytes);

}  // namespace varrow::host
