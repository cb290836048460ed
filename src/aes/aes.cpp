#include "aes/aes.h"

#include <bit>

#include "aes/aes_tables.h"
#include "byte_order.h"
#include "common/wipe.h"

namespace varrow {
namespace {

constexpr std::uint32_t BYTE0 = 0x000000FF;
constexpr std::uint32_t BYTE1 = 0x0000FF00;
constexpr std::uint32_t BYTE2 = 0x00FF0000;
constexpr std::uint32_t BYTE3 = 0xFF000000;

// log_3 of the products of MixColumns (by 2) and of the step that turns it
// into InvMixColumns (by 4).
constexpr unsigned LOG_2 = 25;
constexpr unsigned LOG_4 = 50;

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

inline Factor factor(std::uint32_t a) {
  return Factor{GF_LOG[a], 0u - static_cast<unsigned>(a != 0)};
}

// a times 3^log_m in GF(2^8).
inline std::uint8_t gf_mul(Factor a, unsigned log_m) {
  return static_cast<std::uint8_t>(GF_EXP[mod255(a.log + log_m)] & a.mask);
}

inline std::uint8_t sbox(std::uint32_t v) {
  return static_cast<std::uint8_t>(AES_SBOX[v]);
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

// MixColumns of one column given as its bytes a0..a3 (rows 0 to 3), the
// mixed column packed (FIPS-197 section 5.1.3). With d the column of products
// by 2, b_i = 2a_i ^ 3a_(i+1) ^ a_(i+2) ^ a_(i+3)
// = d_i ^ (d_(i+1) ^ a_(i+1)) ^ a_(i+2) ^ a_(i+3), indices mod 4: the product
// by 3 is that by 2 plus the byte itself, and rotating a packed column right
// by 8k bits brings row i + k to row i.
inline std::uint32_t mix_column(std::uint8_t a0, std::uint8_t a1, std::uint8_t a2,
                                std::uint8_t a3) {
  const std::uint32_t a = pack(a0, a1, a2, a3);
  const std::uint32_t d = pack(gf_mul(factor(a0), LOG_2), gf_mul(factor(a1), LOG_2),
                               gf_mul(factor(a2), LOG_2), gf_mul(factor(a3), LOG_2));
  return d ^ std::rotr(d ^ a, 8) ^ std::rotr(a, 16) ^ std::rotr(a, 24);
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

// InvShiftRows and InvSubBytes for output column c: row r comes from column
// (c - r) mod 4 (InvShiftRows moves row r right by r columns). An inverse
// S-box entry is zero above its byte, so it is shifted into its row as it is.
inline std::uint32_t inv_shift_sub(std::uint32_t c0, std::uint32_t c1, std::uint32_t c2,
                                   std::uint32_t c3) {
  return AES_INV_SBOX[row(c0, 0)] ^ AES_INV_SBOX[row(c1, 1)] << 8 ^ AES_INV_SBOX[row(c2, 2)] << 16 ^
         AES_INV_SBOX[row(c3, 3)] << 24;
}

// InvShiftRows, InvSubBytes, AddRoundKey and InvMixColumns for output column
// c: row r comes from column (c - r) mod 4, so the caller passes columns c,
// c - 1, c - 2 and c - 3 and the round key's word for column c.
//
// InvMixColumns is MixColumns after a cheap step. As polynomials over GF(2^8)
// modulo x^4 + 1, the InvMixColumns coefficient
// d(x) = {0b}x^3 + {0d}x^2 + {09}x + {0e} is the MixColumns coefficient
// c(x) = {03}x^3 + {01}x^2 + {01}x + {02} times {04}x^2 + {05} ("The Design of
// Rijndael", section 4.1.3), and multiplying a column by {04}x^2 + {05} takes
// a_i to {05}a_i ^ {04}a_(i+2) = a_i ^ {04}(a_i ^ a_(i+2)), indices mod 4.
// Rows 0 and 2 share one product by 4 and rows 1 and 3 the other: six products
// a column with the four of MixColumns, where the matrix of FIPS-197 section
// 5.3.3 takes sixteen by 9, 11, 13 and 14.
inline std::uint32_t inv_shift_sub_add_mix(std::uint32_t c0, std::uint32_t c1, std::uint32_t c2,
                                           std::uint32_t c3, std::uint32_t round_key) {
  const auto a0 = static_cast<std::uint8_t>(AES_INV_SBOX[row(c0, 0)] ^ row(round_key, 0));
  const auto a1 = static_cast<std::uint8_t>(AES_INV_SBOX[row(c1, 1)] ^ row(round_key, 1));
  const auto a2 = static_cast<std::uint8_t>(AES_INV_SBOX[row(c2, 2)] ^ row(round_key, 2));
  const auto a3 = static_cast<std::uint8_t>(AES_INV_SBOX[row(c3, 3)] ^ row(round_key, 3));
  const std::uint32_t u = gf_mul(factor(a0 ^ a2), LOG_4), v = gf_mul(factor(a1 ^ a3), LOG_4);
  return mix_column(static_cast<std::uint8_t>(a0 ^ u), static_cast<std::uint8_t>(a1 ^ v),
                    static_cast<std::uint8_t>(a2 ^ u), static_cast<std::uint8_t>(a3 ^ v));
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

  // FIPS-197 InvCipher, the round keys from the last to the first.
  const std::uint32_t* k = schedule + 4 * nr;
  std::uint32_t c0 = load32_le(in) ^ k[0], c1 = load32_le(in + 4) ^ k[1];
  std::uint32_t c2 = load32_le(in + 8) ^ k[2], c3 = load32_le(in + 12) ^ k[3];
  for (int round = nr - 1; round >= 1; --round) {
    k -= 4;
    const std::uint32_t m0 = inv_shift_sub_add_mix(c0, c3, c2, c1, k[0]);
    const std::uint32_t m1 = inv_shift_sub_add_mix(c1, c0, c3, c2, k[1]);
    const std::uint32_t m2 = inv_shift_sub_add_mix(c2, c1, c0, c3, k[2]);
    const std::uint32_t m3 = inv_shift_sub_add_mix(c3, c2, c1, c0, k[3]);
    c0 = m0, c1 = m1, c2 = m2, c3 = m3;
  }
  k -= 4;
  store32_le(out, inv_shift_sub(c0, c3, c2, c1) ^ k[0]);
  store32_le(out + 4, inv_shift_sub(c1, c0, c3, c2) ^ k[1]);
  store32_le(out + 8, inv_shift_sub(c2, c1, c0, c3) ^ k[2]);
  store32_le(out + 12, inv_shift_sub(c3, c2, c1, c0) ^ k[3]);
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
