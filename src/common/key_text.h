// How the AES procedures read a key parameter that names a key file. A host
// that vets key files before a call (varrowd) includes this header too, so
// that it takes exactly the path the procedure will take. Standard library
// only.
#pragma once

#include <cstddef>
#include <cstdint>

namespace varrow {

// Capacity of the AES key text buffer: the largest value accepted for the key
// parameter and the most that a key file contributes.
inline constexpr std::uint32_t KEY_TEXT_MAX = 268;

// A key text names a key file when it starts with this, in any letter case.
inline constexpr char KEYFILE_PREFIX[] = "keyfile=";
inline constexpr std::size_t KEYFILE_PREFIX_LENGTH = sizeof KEYFILE_PREFIX - 1;

// Path buffer size including the terminating NUL: paths of at most 259
// characters are opened; a longer one fails without touching the file system.
inline constexpr std::size_t KEY_PATH_MAX = 260;

// True when the `length` bytes of `text` start with KEYFILE_PREFIX in any
// letter case.
constexpr bool names_key_file(const std::uint8_t* text, std::size_t length) {
  if (length < KEYFILE_PREFIX_LENGTH) return false;
  for (std::size_t k = 0; k < KEYFILE_PREFIX_LENGTH; ++k) {
    std::uint8_t c = text[k];
    if (c >= 'A' && c <= 'Z') c = static_cast<std::uint8_t>(c - 'A' + 'a');
    if (c != static_cast<std::uint8_t>(KEYFILE_PREFIX[k])) return false;
  }
  return true;
}

// The length of the path a key text of `length` bytes (at most KEY_TEXT_MAX)
// names: the bytes after the prefix up to the first NUL or the end of the
// text. The path starts at text + KEYFILE_PREFIX_LENGTH.
constexpr std::size_t key_file_path_length(const std::uint8_t* text, std::size_t length) {
  std::size_t n = 0;
  while (KEYFILE_PREFIX_LENGTH + n < length && text[KEYFILE_PREFIX_LENGTH + n] != 0)
    ++n;
  return n;
}

}  // namespace varrow
