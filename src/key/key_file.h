// Key text read from a file named by the key parameter: "keyfile=" (any
// letter case) followed by a path.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/key_text.h"

namespace varrow {

// probe_key_file answers.
inline constexpr int KEY_FILE_UTF16 = 0;
inline constexpr int KEY_FILE_TEXT = 1;
inline constexpr int KEY_FILE_UNUSABLE = 2;

// True when the first 8 bytes of the key text buffer are "keyfile=" in any
// letter case. Always reads 8 bytes; the buffer's zero fill fails short keys.
bool is_keyfile_spec(const std::uint8_t key_text[KEY_TEXT_MAX]);

// Reads the file named after the prefix (the bytes up to the first NUL or the
// end of the buffer) into the start of the buffer and returns the length of
// its text before the first white-space byte (0..KEY_TEXT_MAX). Bytes past the
// text keep their contents. Returns -1 for a path of KEY_PATH_MAX characters
// or more (without touching the file system) or a file that cannot be used.
int load_key_file(std::uint8_t key_text[KEY_TEXT_MAX]);

// A file that cannot be used is one that cannot be opened or read, or that is
// not a regular file (a FIFO, a device, a terminal, a directory): it is
// refused without waiting for data.

// KEY_FILE_UTF16 when the file begins with the little-endian byte-order mark,
// KEY_FILE_TEXT otherwise (also when shorter than two bytes), KEY_FILE_UNUSABLE
// when it cannot be used.
int probe_key_file(const char* path);

// Reads the file as 8-bit text with the text-mode rules of the platform's C
// library (CR LF arrives as LF, byte 0x1A ends the file), at most `capacity`
// bytes. Returns the bytes stored, or -1 when the file cannot be used.
int read_key_file_text(const char* path, std::uint8_t* buffer, std::size_t capacity);

// Reads a UTF-16 little-endian file with byte-order mark (at most `capacity`
// units after the mark; a unit 0xFFFF or a lone last byte ends it) and stores
// the text in the ANSI code page. Returns the bytes stored, 0 when the text
// cannot be converted into `capacity` bytes, or -1 when the file cannot be
// used, is shorter than 2 bytes or lacks the byte-order mark.
int read_key_file_utf16(const char* path, std::uint8_t* buffer, std::size_t capacity);

}  // namespace varrow
