// AES (FIPS-197) on single 16-byte blocks, keys of 128, 192 or 256 bits.
//
// Every substitution and field product is a table lookup: this code is not
// constant-time.
#pragma once

#include <cstdint>

namespace varrow {

inline constexpr int AES_BLOCK_SIZE = 16;

// Round keys for the largest key: 4 words for each of 14 rounds plus one.
inline constexpr int AES_SCHEDULE_WORDS = 60;

// FIPS-197 KeyExpansion. Reads 4*nk key bytes and writes schedule words
// 0..4*(nk+7)-1, each word w[i] packed with its first byte in bits 0-7.
// nk is 4, 6 or 8 and trusted; the number of rounds is always nk + 6.
void aes_expand_key(const std::uint8_t* key, std::uint32_t* schedule, int nk);

// Encrypt (FIPS-197 Cipher) or decrypt (InvCipher) one block. key_bits is
// 128, 192 or 256 and key_bits/8 key bytes are read. Returns 0, or -1 for any
// other key size, in which case nothing is read and `out` is untouched.
// `in` and `out` may be the same block.
//
// Each call expands the key afresh, by design, as the procedures always have:
// do not keep a schedule across blocks.
//
// These forms expand into the caller's `schedule` and leave the round keys
// there, so that a caller of many blocks clears them once at the end.
int aes_encrypt_block(const std::uint8_t in[AES_BLOCK_SIZE], const std::uint8_t* key, int key_bits,
                      std::uint8_t out[AES_BLOCK_SIZE],
                      std::uint32_t (&schedule)[AES_SCHEDULE_WORDS]);
int aes_decrypt_block(const std::uint8_t in[AES_BLOCK_SIZE], const std::uint8_t* key, int key_bits,
                      std::uint8_t out[AES_BLOCK_SIZE],
                      std::uint32_t (&schedule)[AES_SCHEDULE_WORDS]);

// These forms keep the round keys in a schedule of their own and clear it
// before returning.
int aes_encrypt_block(const std::uint8_t in[AES_BLOCK_SIZE], const std::uint8_t* key, int key_bits,
                      std::uint8_t out[AES_BLOCK_SIZE]);
int aes_decrypt_block(const std::uint8_t in[AES_BLOCK_SIZE], const std::uint8_t* key, int key_bits,
                      std::uint8_t out[AES_BLOCK_SIZE]);

}  // namespace varrow
