// AES (FIPS-197) on single 16-byte blocks, keys of 128, 192 or 256 bits.
//
// The key is expanded afresh for every block and every substitution and
// field product is a table lookup: this code is not constant-time.
#pragma once

#include <cstdint>

namespace varrow {

inline constexpr int AES_BLOCK_SIZE = 16;

// Round keys for the largest key: 4 words for each of 14 rounds plus one.
inline constexpr int AES_SCHEDULE_WORDS = 60;

// FIPS-197 KeyExpansion. Reads 4*nk key bytes and writes schedule words
// 0..4*(nr+1)-1, each word w[i] packed with its first byte in bits 0-7.
// nk is 4, 6 or 8 and nr = nk + 6; both are trusted.
void aes_expand_key(const std::uint8_t* key, std::uint32_t* schedule, int nk, int nr);

// The state transformations, in place on the 16-byte column-major state.
void aes_sub_bytes(std::uint8_t state[AES_BLOCK_SIZE]);
void aes_inv_sub_bytes(std::uint8_t state[AES_BLOCK_SIZE]);
void aes_mix_columns(std::uint8_t state[AES_BLOCK_SIZE]);
void aes_inv_mix_columns(std::uint8_t state[AES_BLOCK_SIZE]);

// Encrypt (FIPS-197 Cipher) or decrypt (InvCipher) one block. key_bits is
// 128, 192 or 256 and key_bits/8 key bytes are read. Returns 0, or -1 for any
// other key size, in which case nothing is read and `out` is untouched.
// `in` and `out` may be the same block.
int aes_encrypt_block(const std::uint8_t in[AES_BLOCK_SIZE], const std::uint8_t* key, int key_bits,
                      std::uint8_t out[AES_BLOCK_SIZE]);
int aes_decrypt_block(const std::uint8_t in[AES_BLOCK_SIZE], const std::uint8_t* key, int key_bits,
                      std::uint8_t out[AES_BLOCK_SIZE]);

}  // namespace varrow
