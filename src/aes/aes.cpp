#include "aes/aes.h"

#include <cstring>

#include "aes/aes_tables.h"
#include "byte_order.h"
#include "common/wipe.h"

namespace varrow {
namespace {

constexpr std::uint32_t BYTE0 = 0x000000FF;
constexpr std::uint32_t BYTE1 = 0x0000FF00;
constexpr std::uint32_t BYTE2 = 0x00FF0000;
constexpr std::uint32_t BYTE3 = 0xFF000000;

// log_3 of the MixColumns and InvMixColumns coefficients.
constexpr unsigned LOG_2 = 25;
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

// The state is four packed columns, byte r of column c (row r) in bits 8r to
// 8r + 7 of word c, so that the sixteen state bytes live in four registers
// and AddRoundKey XORs a column with its schedule word at once.

// Byte r of a packed column.
inline std::uint32_t row(std::uint32_t column, int r) {
  return (column >> (8 * r)) & 0xFF;
}

inline std::uint32_t pack(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2, std::uint8_t b3) {
  return std::uint32_t{b0} | std::uint32_t{b1} << 8 | std::uint32_t{b2} << 16 |
         std::uint32_t{b3} << 24;
}

// MixColumns of one column whose bytes a0..a3 (rows 0 to 3) have already been
// through SubBytes and ShiftRows; the mixed column packed. The products by 2
// go through the log and exp tables; a product by 3 is that by 2 plus the
// byte itself (FIPS-197 section 4.2.1).
inline std::uint32_t mix_column(std::uint8_t a0, std::uint8_t a1, std::uint8_t a2,
                                std::uint8_t a3) {
  const std::uint8_t d0 = gf_mul(factor(a0), LOG_2), d1 = gf_mul(factor(a1), LOG_2);
  const std::uint8_t d2 = gf_mul(factor(a2), LOG_2), d3 = gf_mul(factor(a3), LOG_2);
  // clang-format off
  return pack(d0      ^ d1 ^ a1 ^ a2      ^ a3,
              a0      ^ d1      ^ d2 ^ a2 ^ a3,
              a0      ^ a1      ^ d2      ^ d3 ^ a3,
              d0 ^ a0 ^ a1      ^ a2      ^ d3);
  // clang-format on
}

// SubBytes, ShiftRows and MixColumns for output column c: row r comes from
// column (c + r) mod 4 (ShiftRows moves row r left by r columns).
inline std::uint32_t sub_shift_mix(std::uint32_t c0, std::uint32_t c1, std::uint32_t c2,
                                   std::uint32_t c3) {
  return mix_column(sbox(row(c0, 0)), sbox(row(c1, 1)), sbox(row(c2, 2)), sbox(row(c3, 3)));
}

// SubBytes and ShiftRows alone (the last round), each substituted byte masked
// into its row from the S-box entry that holds it in all four bytes.
inline std::uint32_t sub_shift(std::uint32_t c0, std::uint32_t c1, std::uint32_t c2,
                               std::uint32_t c3) {
  return (AES_SBOX[row(c0, 0)] & BYTE0) ^ (AES_SBOX[row(c1, 1)] & BYTE1) ^
         (AES_SBOX[row(c2, 2)] & BYTE2) ^ (AES_SBOX[row(c3, 3)] & BYTE3);
}

// Decryption keeps the state as sixteen bytes in column order.

// AddRoundKey: byte b of column c takes bits 8b to 8b + 7 of word c, so a
// column is XORed with its packed word at once.
inline void add_round_key(std::uint8_t state[AES_BLOCK_SIZE], const std::uint32_t* round_key) {
  for (int c = 0; c < 4; ++c) {
    store32_le(state + 4 * c, load32_le(state + 4 * c) ^ round_key[c]);
  }
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

// InvMixColumns from `in` into `out`; every column from the state before the step.
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

void aes_expand_key(const std::uint8_t* key, std::uint32_t* schedule, int nk) {
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

namespace {

// The round keys for a key size of 128, 192 or 256 bits into `schedule`, and
// the number of rounds; 0, with nothing read, for any other size.
int round_keys(const std::uint8_t* key, int key_bits, std::uint32_t* schedule) {
  if (key_bits != 128 && key_bits != 192 && key_bits != 256) return 0;
  const int nk = key_bits / 32;
  aes_expand_key(key, schedule, nk);
  return nk + 6;
}

}  // namespace

int aes_encrypt_block(const std::uint8_t in[AES_BLOCK_SIZE], const std::uint8_t* key, int key_bits,
                      std::uint8_t out[AES_BLOCK_SIZE],
                      std::uint32_t (&schedule)[AES_SCHEDULE_WORDS]) {
  const int nr = round_keys(key, key_bits, schedule);
  if (nr == 0) return -1;

  const std::uint32_t* k = schedule;
  std::uint32_t c0 = load32_le(in) ^ k[0], c1 = load32_le(in + 4) ^ k[1];
  std::uint32_t c2 = load32_le(in + 8) ^ k[2], c3 = load32_le(in + 12) ^ k[3];
  for (int round = 1; round < nr; ++round) {
    k += 4;
    const std::uint32_t m0 = sub_shift_mix(c0, c1, c2, c3) ^ k[0];
    const std::uint32_t m1 = sub_shift_mix(c1, c2, c3, c0) ^ k[1];
    const std::uint32_t m2 = sub_shift_mix(c2, c3, c0, c1) ^ k[2];
    const std::uint32_t m3 = sub_shift_mix(c3, c0, c1, c2) ^ k[3];
    c0 = m0, c1 = m1, c2 = m2, c3 = m3;
  }
  k += 4;
  store32_le(out, sub_shift(c0, c1, c2, c3) ^ k[0]);
  store32_le(out + 4, sub_shift(c1, c2, c3, c0) ^ k[1]);
  store32_le(out + 8, sub_shift(c2, c3, c0, c1) ^ k[2]);
  store32_le(out + 12, sub_shift(c3, c0, c1, c2) ^ k[3]);
  return 0;
}

int aes_decrypt_block(const std::uint8_t in[AES_BLOCK_SIZE], const std::uint8_t* key, int key_bits,
                      std::uint8_t out[AES_BLOCK_SIZE],
                      std::uint32_t (&schedule)[AES_SCHEDULE_WORDS]) {
  const int nr = round_keys(key, key_bits, schedule);
  if (nr == 0) return -1;

  // The rounds move the state between two blocks instead of copying it back
  // after each step: InvShiftRows and InvSubBytes into `t`, InvMixColumns back
  // into `s`.
  std::uint8_t s[AES_BLOCK_SIZE], t[AES_BLOCK_SIZE];
  std::memcpy(s, in, AES_BLOCK_SIZE);
  add_round_key(s, schedule + 4 * nr);
  for (int round = nr - 1; round >= 1; --round) {
    inv_shift_sub_rows(s, t);
    add_round_key(t, schedule + 4 * round);
    inv_mix_columns(t, s);
  }
  // The plaintext goes straight to `out`, never into this function's frame.
  inv_shift_sub_rows(s, out);
  add_round_key(out, schedule);
  return 0;
}

int aes_encrypt_block(const std::uint8_t in[AES_BLOCK_SIZE], const std::uint8_t* key, int key_bits,
                      std::uint8_t out[AES_BLOCK_SIZE]) {
  std::uint32_t schedule[AES_SCHEDULE_WORDS];
  const int result = aes_encrypt_block(in, key, key_bits, out, schedule);
  secure_zero(schedule, sizeof schedule);
  return result;
}

int aes_decrypt_block(const std::uint8_t in[AES_BLOCK_SIZE], const std::uint8_t* key, int key_bits,
                      std::uint8_t out[AES_BLOCK_SIZE]) {
  std::uint32_t schedule[AES_SCHEDULE_WORDS];
  const int result = aes_decrypt_block(in, key, key_bits, out, schedule);
  secure_zero(schedule, sizeof schedule);
  return result;
}

}  // namespace varrow
