#include "aes/aes.h"

#include <cstring>

#include "aes/aes_tables.h"
#include "byte_order.h"

namespace varrow {
namespace {

constexpr std::uint32_t BYTE0 = 0x000000FF;
constexpr std::uint32_t BYTE1 = 0x0000FF00;
constexpr std::uint32_t BYTE2 = 0x00FF0000;
constexpr std::uint32_t BYTE3 = 0xFF000000;

// log_3 of the MixColumns and InvMixColumns coefficients.
constexpr unsigned LOG_2 = 25;
constexpr unsigned LOG_3 = 1;
constexpr unsigned LOG_9 = 199;
constexpr unsigned LOG_11 = 104;
constexpr unsigned LOG_13 = 238;
constexpr unsigned LOG_14 = 223;

// s mod 255 for 0 <= s <= 508 without a division or a data-dependent branch:
// the carry out of bit 7 of s + 1 is added back in.
inline unsigned mod255(unsigned s) {
  return (s + ((s + 1) >> 8)) & 0xFF;
}

// a times 3^log_m in GF(2^8).
inline std::uint8_t gf_mul(std::uint8_t a, unsigned log_m) {
  return a == 0 ? 0 : GF_EXP[mod255(GF_LOG[a] + log_m)];
}

inline std::uint8_t sbox(std::uint32_t v) {
  return static_cast<std::uint8_t>(AES_SBOX[v]);
}
inline std::uint8_t inv_sbox(std::uint32_t v) {
  return static_cast<std::uint8_t>(AES_INV_SBOX[v]);
}

// Nk and Nr for a key size, or false for an unsupported one.
bool key_shape(int key_bits, int* nk, int* nr) {
  if (key_bits != 128 && key_bits != 192 && key_bits != 256) return false;
  *nk = key_bits / 32;
  *nr = *nk + 6;
  return true;
}

void add_round_key(std::uint8_t state[AES_BLOCK_SIZE], const std::uint32_t* round_key) {
  for (int c = 0; c < 4; ++c) {
    const std::uint32_t w = round_key[c];
    state[4 * c + 0] ^= static_cast<std::uint8_t>(w);
    state[4 * c + 1] ^= static_cast<std::uint8_t>(w >> 8);
    state[4 * c + 2] ^= static_cast<std::uint8_t>(w >> 16);
    state[4 * c + 3] ^= static_cast<std::uint8_t>(w >> 24);
  }
}

// Row r moves left by r columns: new[r + 4c] = old[r + 4((c + r) mod 4)].
void shift_rows(std::uint8_t s[AES_BLOCK_SIZE]) {
  std::uint8_t t = s[1];
  s[1] = s[5], s[5] = s[9], s[9] = s[13], s[13] = t;
  t = s[2], s[2] = s[10], s[10] = t;
  t = s[6], s[6] = s[14], s[14] = t;
  t = s[15];
  s[15] = s[11], s[11] = s[7], s[7] = s[3], s[3] = t;
}

// Row r moves right by r columns.
void inv_shift_rows(std::uint8_t s[AES_BLOCK_SIZE]) {
  std::uint8_t t = s[13];
  s[13] = s[9], s[9] = s[5], s[5] = s[1], s[1] = t;
  t = s[2], s[2] = s[10], s[10] = t;
  t = s[6], s[6] = s[14], s[14] = t;
  t = s[3];
  s[3] = s[7], s[7] = s[11], s[11] = s[15], s[15] = t;
}

}  // namespace

void aes_expand_key(const std::uint8_t* key, std::uint32_t* schedule, int nk, int nr) {
  for (int i = 0; i < nk; ++i)
    schedule[i] = load32_le(key + 4 * i);
  const int words = 4 * (nr + 1);
  for (int i = nk; i < words; ++i) {
    const std::uint32_t t = schedule[i - 1];
    std::uint32_t w = schedule[i - nk];
    if (i % nk == 0) {
      // SubWord(RotWord(t)) ^ Rcon: bytes 1, 2, 3, 0 of t go to positions 0..3.
      w ^= (AES_SBOX[(t >> 8) & 0xFF] & BYTE0) ^ (AES_SBOX[(t >> 16) & 0xFF] & BYTE1) ^
           (AES_SBOX[t >> 24] & BYTE2) ^ (AES_SBOX[t & 0xFF] & BYTE3) ^ AES_RCON[i / nk];
    } else if (nk > 6 && i % nk == 4) {
      // SubWord(t): each byte stays in its position.
      w ^= (AES_SBOX[t & 0xFF] & BYTE0) ^ (AES_SBOX[(t >> 8) & 0xFF] & BYTE1) ^
           (AES_SBOX[(t >> 16) & 0xFF] & BYTE2) ^ (AES_SBOX[t >> 24] & BYTE3);
    } else {
      w ^= t;
    }
    schedule[i] = w;
  }
}

void aes_sub_bytes(std::uint8_t state[AES_BLOCK_SIZE]) {
  for (int i = 0; i < AES_BLOCK_SIZE; ++i)
    state[i] = sbox(state[i]);
}

void aes_inv_sub_bytes(std::uint8_t state[AES_BLOCK_SIZE]) {
  for (int i = 0; i < AES_BLOCK_SIZE; ++i)
    state[i] = inv_sbox(state[i]);
}

// Each column is computed from its own four bytes only, so writing it back
// before the next column is read gives the same result as a separate block.
void aes_mix_columns(std::uint8_t state[AES_BLOCK_SIZE]) {
  for (int c = 0; c < 4; ++c) {
    std::uint8_t* col = state + 4 * c;
    const std::uint8_t a0 = col[0], a1 = col[1], a2 = col[2], a3 = col[3];
    // clang-format off
    col[0] = gf_mul(a0, LOG_2) ^ gf_mul(a1, LOG_3) ^ a2                ^ a3;
    col[1] = a0                ^ gf_mul(a1, LOG_2) ^ gf_mul(a2, LOG_3) ^ a3;
    col[2] = a0                ^ a1                ^ gf_mul(a2, LOG_2) ^ gf_mul(a3, LOG_3);
    col[3] = gf_mul(a0, LOG_3) ^ a1                ^ a2                ^ gf_mul(a3, LOG_2);
    // clang-format on
  }
}

void aes_inv_mix_columns(std::uint8_t state[AES_BLOCK_SIZE]) {
  for (int c = 0; c < 4; ++c) {
    std::uint8_t* col = state + 4 * c;
    const std::uint8_t a0 = col[0], a1 = col[1], a2 = col[2], a3 = col[3];
    // clang-format off
    col[0] = gf_mul(a0, LOG_14) ^ gf_mul(a1, LOG_11) ^ gf_mul(a2, LOG_13) ^ gf_mul(a3, LOG_9);
    col[1] = gf_mul(a0, LOG_9)  ^ gf_mul(a1, LOG_14) ^ gf_mul(a2, LOG_11) ^ gf_mul(a3, LOG_13);
    col[2] = gf_mul(a0, LOG_13) ^ gf_mul(a1, LOG_9)  ^ gf_mul(a2, LOG_14) ^ gf_mul(a3, LOG_11);
    col[3] = gf_mul(a0, LOG_11) ^ gf_mul(a1, LOG_13) ^ gf_mul(a2, LOG_9)  ^ gf_mul(a3, LOG_14);
    // clang-format on
  }
}

int aes_encrypt_block(const std::uint8_t in[AES_BLOCK_SIZE], const std::uint8_t* key, int key_bits,
                      std::uint8_t out[AES_BLOCK_SIZE]) {
  std::uint32_t schedule[AES_SCHEDULE_WORDS] = {};
  int nk = 0, nr = 0;
  if (!key_shape(key_bits, &nk, &nr)) return -1;
  aes_expand_key(key, schedule, nk, nr);

  std::uint8_t state[AES_BLOCK_SIZE];
  std::memcpy(state, in, AES_BLOCK_SIZE);
  add_round_key(state, schedule);
  for (int round = 1; round < nr; ++round) {
    aes_sub_bytes(state);
    shift_rows(state);
    aes_mix_columns(state);
    add_round_key(state, schedule + 4 * round);
  }
  aes_sub_bytes(state);
  shift_rows(state);
  add_round_key(state, schedule + 4 * nr);
  std::memcpy(out, state, AES_BLOCK_SIZE);
  return 0;
}

int aes_decrypt_block(const std::uint8_t in[AES_BLOCK_SIZE], const std::uint8_t* key, int key_bits,
                      std::uint8_t out[AES_BLOCK_SIZE]) {
  std::uint32_t schedule[AES_SCHEDULE_WORDS] = {};
  int nk = 0, nr = 0;
  if (!key_shape(key_bits, &nk, &nr)) return -1;
  aes_expand_key(key, schedule, nk, nr);

  std::uint8_t state[AES_BLOCK_SIZE];
  std::memcpy(state, in, AES_BLOCK_SIZE);
  add_round_key(state, schedule + 4 * nr);
  for (int round = nr - 1; round >= 1; --round) {
    inv_shift_rows(state);
    aes_inv_sub_bytes(state);
    add_round_key(state, schedule + 4 * round);
    aes_inv_mix_columns(state);
  }
  inv_shift_rows(state);
  aes_inv_sub_bytes(state);
  add_round_key(state, schedule);
  std::memcpy(out, state, AES_BLOCK_SIZE);
  return 0;
}

}  // namespace varrow
