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

// A state byte prepared for the products of one column step: its logarithm
// and a mask that is 0xFF for a nonzero byte, 0 for a zero one. A zero byte
// has no logarithm: its products come out zero through the mask, without a
// data-dependent branch.
struct Factor {
  unsigned log;
  unsigned mask;
};

inline Factor factor(std::uint8_t a) {
  return Factor{GF_LOG[a], 0u - static_cast<unsigned>(a != 0)};
}

// a times 3^log_m in GF(2^8).
inline std::uint8_t gf_mul(Factor a, unsigned log_m) {
  return static_cast<std::uint8_t>(GF_EXP[mod255(a.log + log_m)] & a.mask);
}

inline std::uint8_t sbox(std::uint32_t v) {
  return static_cast<std::uint8_t>(AES_SBOX[v]);
}
inline std::uint8_t inv_sbox(std::uint32_t v) {
  return static_cast<std::uint8_t>(AES_INV_SBOX[v]);
}

// AddRoundKey: byte b of column c takes bits 8b to 8b + 7 of word c, so a
// column is XORed with its packed word at once.
inline void add_round_key(std::uint8_t state[AES_BLOCK_SIZE], const std::uint32_t* round_key) {
  for (int c = 0; c < 4; ++c) {
    store32_le(state + 4 * c, load32_le(state + 4 * c) ^ round_key[c]);
  }
}

// SubBytes then ShiftRows, from `in` into `out`: row r moves left by r
// columns, out[r + 4c] = S(in[r + 4((c + r) mod 4)]).
inline void sub_shift_rows(const std::uint8_t in[AES_BLOCK_SIZE],
                           std::uint8_t out[AES_BLOCK_SIZE]) {
  // clang-format off
  out[0]  = sbox(in[0]);  out[1]  = sbox(in[5]);  out[2]  = sbox(in[10]); out[3]  = sbox(in[15]);
  out[4]  = sbox(in[4]);  out[5]  = sbox(in[9]);  out[6]  = sbox(in[14]); out[7]  = sbox(in[3]);
  out[8]  = sbox(in[8]);  out[9]  = sbox(in[13]); out[10] = sbox(in[2]);  out[11] = sbox(in[7]);
  out[12] = sbox(in[12]); out[13] = sbox(in[1]);  out[14] = sbox(in[6]);  out[15] = sbox(in[11]);
  // clang-format on
}

// InvShiftRows then InvSubBytes, from `in` into `out`: row r moves right by
// r columns, out[r + 4c] = InvS(in[r + 4((c - r) mod 4)]).
inline void inv_shift_sub_rows(const std::uint8_t in[AES_BLOCK_SIZE],
                               std::uint8_t out[AES_BLOCK_SIZE]) {
  // clang-format off
  out[0]  = inv_sbox(in[0]);  out[1]  = inv_sbox(in[13]); out[2]  = inv_sbox(in[10]); out[3]  = inv_sbox(in[7]);
  out[4]  = inv_sbox(in[4]);  out[5]  = inv_sbox(in[1]);  out[6]  = inv_sbox(in[14]); out[7]  = inv_sbox(in[11]);
  out[8]  = inv_sbox(in[8]);  out[9]  = inv_sbox(in[5]);  out[10] = inv_sbox(in[2]);  out[11] = inv_sbox(in[15]);
  out[12] = inv_sbox(in[12]); out[13] = inv_sbox(in[9]);  out[14] = inv_sbox(in[6]);  out[15] = inv_sbox(in[3]);
  // clang-format on
}

// MixColumns from `in` into `out`; every column from the state before the step.
[[gnu::always_inline]] inline void mix_columns(const std::uint8_t in[AES_BLOCK_SIZE],
                                               std::uint8_t out[AES_BLOCK_SIZE]) {
  for (int c = 0; c < 4; ++c) {
    const std::uint8_t a0 = in[4 * c], a1 = in[4 * c + 1], a2 = in[4 * c + 2], a3 = in[4 * c + 3];
    const Factor f0 = factor(a0), f1 = factor(a1), f2 = factor(a2), f3 = factor(a3);
    // clang-format off
    out[4 * c]     = gf_mul(f0, LOG_2) ^ gf_mul(f1, LOG_3) ^ a2                ^ a3;
    out[4 * c + 1] = a0                ^ gf_mul(f1, LOG_2) ^ gf_mul(f2, LOG_3) ^ a3;
    out[4 * c + 2] = a0                ^ a1                ^ gf_mul(f2, LOG_2) ^ gf_mul(f3, LOG_3);
    out[4 * c + 3] = gf_mul(f0, LOG_3) ^ a1                ^ a2                ^ gf_mul(f3, LOG_2);
    // clang-format on
  }
}

[[gnu::always_inline]] inline void inv_mix_columns(const std::uint8_t in[AES_BLOCK_SIZE],
                                                   std::uint8_t out[AES_BLOCK_SIZE]) {
  for (int c = 0; c < 4; ++c) {
    const Factor f0 = factor(in[4 * c]), f1 = factor(in[4 * c + 1]);
    const Factor f2 = factor(in[4 * c + 2]), f3 = factor(in[4 * c + 3]);
    // clang-format off
    out[4 * c]     = gf_mul(f0, LOG_14) ^ gf_mul(f1, LOG_11) ^ gf_mul(f2, LOG_13) ^ gf_mul(f3, LOG_9);
    out[4 * c + 1] = gf_mul(f0, LOG_9)  ^ gf_mul(f1, LOG_14) ^ gf_mul(f2, LOG_11) ^ gf_mul(f3, LOG_13);
    out[4 * c + 2] = gf_mul(f0, LOG_13) ^ gf_mul(f1, LOG_9)  ^ gf_mul(f2, LOG_14) ^ gf_mul(f3, LOG_11);
    out[4 * c + 3] = gf_mul(f0, LOG_11) ^ gf_mul(f1, LOG_13) ^ gf_mul(f2, LOG_9)  ^ gf_mul(f3, LOG_14);
    // clang-format on
  }
}

}  // namespace

namespace {

// SubWord(RotWord(t)): bytes 1, 2, 3, 0 of t, substituted, in positions 0..3.
inline std::uint32_t sub_rot_word(std::uint32_t t) {
  return (AES_SBOX[(t >> 8) & 0xFF] & BYTE0) ^ (AES_SBOX[(t >> 16) & 0xFF] & BYTE1) ^
         (AES_SBOX[t >> 24] & BYTE2) ^ (AES_SBOX[t & 0xFF] & BYTE3);
}

// SubWord(t): each byte substituted in its own position.
inline std::uint32_t sub_word(std::uint32_t t) {
  return (AES_SBOX[t & 0xFF] & BYTE0) ^ (AES_SBOX[(t >> 8) & 0xFF] & BYTE1) ^
         (AES_SBOX[(t >> 16) & 0xFF] & BYTE2) ^ (AES_SBOX[t >> 24] & BYTE3);
}

// KeyExpansion for one key size, a group of Nk words per round constant, so
// that i mod Nk and i / Nk are known to the compiler and every group runs
// straight through.
template <int NK>
void expand_key(const std::uint8_t* key, std::uint32_t* schedule) {
  constexpr int WORDS = 4 * (NK + 6 + 1);
  for (int i = 0; i < NK; ++i)
    schedule[i] = load32_le(key + 4 * i);
  for (int r = 1; NK * r < WORDS; ++r) {
    std::uint32_t* w = schedule + NK * r;  // words i = Nk * r + k
    w[0] = w[-NK] ^ sub_rot_word(w[-1]) ^ AES_RCON[r];
    for (int k = 1; k < NK && NK * r + k < WORDS; ++k) {
      w[k] = w[k - NK] ^ (NK > 6 && k == 4 ? sub_word(w[k - 1]) : w[k - 1]);
    }
  }
}

}  // namespace

void aes_expand_key(const std::uint8_t* key, std::uint32_t* schedule, int nk, int /*nr*/) {
  // Nr is always Nk + 6: the key size alone shapes the schedule.
  switch (nk) {
    case 4:
      expand_key<4>(key, schedule);
      break;
    case 6:
      expand_key<6>(key, schedule);
      break;
    default:
      expand_key<8>(key, schedule);
      break;
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

void aes_mix_columns(std::uint8_t state[AES_BLOCK_SIZE]) {
  std::uint8_t mixed[AES_BLOCK_SIZE];
  mix_columns(state, mixed);
  std::memcpy(state, mixed, AES_BLOCK_SIZE);
}

void aes_inv_mix_columns(std::uint8_t state[AES_BLOCK_SIZE]) {
  std::uint8_t mixed[AES_BLOCK_SIZE];
  inv_mix_columns(state, mixed);
  std::memcpy(state, mixed, AES_BLOCK_SIZE);
}

namespace {

// The round keys for a key size of 128, 192 or 256 bits into `schedule` and
// the number of rounds into `nr`; false, with nothing read, for any other.
bool round_keys(const std::uint8_t* key, int key_bits, std::uint32_t* schedule, int* nr) {
  if (key_bits != 128 && key_bits != 192 && key_bits != 256) return false;
  const int nk = key_bits / 32;
  *nr = nk + 6;
  aes_expand_key(key, schedule, nk, *nr);
  return true;
}

}  // namespace

// The rounds move the state between two blocks instead of copying it back
// after each step: SubBytes and ShiftRows into `t`, MixColumns back into `s`.
int aes_encrypt_block(const std::uint8_t in[AES_BLOCK_SIZE], const std::uint8_t* key, int key_bits,
                      std::uint8_t out[AES_BLOCK_SIZE]) {
  std::uint32_t schedule[AES_SCHEDULE_WORDS] = {};
  int nr = 0;
  if (!round_keys(key, key_bits, schedule, &nr)) return -1;

  std::uint8_t s[AES_BLOCK_SIZE], t[AES_BLOCK_SIZE];
  std::memcpy(s, in, AES_BLOCK_SIZE);
  add_round_key(s, schedule);
  for (int round = 1; round < nr; ++round) {
    sub_shift_rows(s, t);
    mix_columns(t, s);
    add_round_key(s, schedule + 4 * round);
  }
  sub_shift_rows(s, t);
  add_round_key(t, schedule + 4 * nr);
  std::memcpy(out, t, AES_BLOCK_SIZE);
  return 0;
}

int aes_decrypt_block(const std::uint8_t in[AES_BLOCK_SIZE], const std::uint8_t* key, int key_bits,
                      std::uint8_t out[AES_BLOCK_SIZE]) {
  std::uint32_t schedule[AES_SCHEDULE_WORDS] = {};
  int nr = 0;
  if (!round_keys(key, key_bits, schedule, &nr)) return -1;

  std::uint8_t s[AES_BLOCK_SIZE], t[AES_BLOCK_SIZE];
  std::memcpy(s, in, AES_BLOCK_SIZE);
  add_round_key(s, schedule + 4 * nr);
  for (int round = nr - 1; round >= 1; --round) {
    inv_shift_sub_rows(s, t);
    add_round_key(t, schedule + 4 * round);
    inv_mix_columns(t, s);
  }
  inv_shift_sub_rows(s, t);
  add_round_key(t, schedule);
  std::memcpy(out, t, AES_BLOCK_SIZE);
  return 0;
}

}  // namespace varrow
