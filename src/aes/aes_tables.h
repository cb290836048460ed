// The constant tables of the AES cipher. Immutable, shared by all threads.
#pragma once

#include <cstdint>

namespace varrow {

// S(v) in all four bytes of entry v, so that a substituted byte can be masked
// into any byte position of a packed word.
extern const std::uint32_t AES_SBOX[256];

// The inverse S-box value of v in bits 0 to 7; bits 8 to 31 are zero.
extern const std::uint32_t AES_INV_SBOX[256];

// Logarithm base 3 in GF(2^8) modulo x^8 + x^4 + x^3 + x + 1 for 1..255;
// entry 0 is 0 and never read.
extern const std::uint8_t GF_LOG[256];

// 3^i in the same field for 0..254; entry 255 is 1 and never read.
extern const std::uint8_t GF_EXP[256];

// Round constants x^(j-1) in bits 0 to 7 of entry j (1..10); entry 0 unused.
extern const std::uint32_t AES_RCON[11];

}  // namespace varrow
