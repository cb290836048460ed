// Hexadecimal key text to key bytes.
#pragma once

#include <cstdint>

#include "common/errors.h"

namespace varrow {

// Decodes `length` characters of `text` (digits 0-9, A-F, a-f; not
// terminated) into length/2 bytes of `key`, the first digit of each pair the
// high four bits. Returns 0, or 50005 at the first character that is not a
// hexadecimal digit, with the bytes of earlier pairs already stored. An odd
// length is refused with 50005 before anything is read or stored.
XpErrorCode hex_key_decode(const std::uint8_t* text, std::uint8_t* key, std::uint32_t length);

}  // namespace varrow
