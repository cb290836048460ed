#include "digest/sha1.h"

#include "byte_order.h"
#include "common/wipe.h"
#include "digest/padding.h"

namespace varrow {
namespace {

// FIPS 180-1 section 5: the constant K(t) of steps 0-19, 20-39, 40-59, 60-79.
constexpr std::uint32_t SHA1_K[4] = {0x5A827999, 0x6ED9EBA1, 0x8F1BBCDC, 0xCA62C1D6};

// FIPS 180-1 section 5: f(t; B, C, D) for each range of steps.
inline std::uint32_t ch(std::uint32_t b, std::uint32_t c, std::uint32_t d) {
  return (b & c) | (~b & d);
}
inline std::uint32_t parity(std::uint32_t b, std::uint32_t c, std::uint32_t d) {
  return b ^ c ^ d;
}
inline std::uint32_t maj(std::uint32_t b, std::uint32_t c, std::uint32_t d) {
  return (b & (c | d)) | (c & d);
}

// Step t: TEMP = ROTL5(A) + f(t; B, C, D) + E + W[t] + K; E = D; D = C;
// C = ROTL30(B); B = A; A = TEMP. Rather than moving the five words along,
// each step takes them under new names: E receives TEMP and B its rotation,
// and the next step names E as A (FIPS 180-1's computation, renamed).
template <class StepFunction>
inline void step(StepFunction f, std::uint32_t a, std::uint32_t& b, std::uint32_t c,
                 std::uint32_t d, std::uint32_t& e, std::uint32_t w, std::uint32_t k) {
  e += rotl32(a, 5) + f(b, c, d) + w + k;
  b = rotl32(b, 30);
}

// Twenty steps with one step function, five names in turn.
template <class StepFunction>
inline void twenty_steps(StepFunction f, std::uint32_t k, const std::uint32_t* w, std::uint32_t& a,
                         std::uint32_t& b, std::uint32_t& c, std::uint32_t& d, std::uint32_t& e) {
  for (int t = 0; t < 20; t += 5) {
    step(f, a, b, c, d, e, w[t], k);
    step(f, e, a, b, c, d, w[t + 1], k);
    step(f, d, e, a, b, c, w[t + 2], k);
    step(f, c, d, e, a, b, w[t + 3], k);
    step(f, b, c, d, e, a, w[t + 4], k);
  }
}

// w is the caller's room for the message schedule, cleared once per message.
void sha1_process(std::uint32_t h[5], const std::uint8_t* block, std::uint32_t (&w)[80]) {
  for (int t = 0; t < 16; ++t)
    w[t] = load32_be(block + 4 * t);
  // The whole schedule is expanded before the first step.
  for (int t = 16; t < 80; ++t)
    w[t] = rotl32(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);

  std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
  twenty_steps(ch, SHA1_K[0], w, a, b, c, d, e);
  twenty_steps(parity, SHA1_K[1], w + 20, a, b, c, d, e);
  twenty_steps(maj, SHA1_K[2], w + 40, a, b, c, d, e);
  twenty_steps(parity, SHA1_K[3], w + 60, a, b, c, d, e);

  h[0] += a;
  h[1] += b;
  h[2] += c;
  h[3] += d;
  h[4] += e;
}

}  // namespace

bool sha1_digest(const std::uint8_t* data, std::uint32_t length,
                 std::uint8_t out[SHA1_DIGEST_SIZE]) {
  const PaddedMessage padded = pad_message(data, length, BitCountOrder::BigEndian);
  std::uint32_t h[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
  std::uint32_t w[80];
  for (std::uint32_t i = 0; i < padded.blocks(); ++i)
    sha1_process(h, padded.block(i), w);
  secure_zero(w, sizeof w);
  for (int k = 0; k < 5; ++k)
    store32_be(out + 4 * k, h[k]);
  return true;
}

}  // namespace varrow
