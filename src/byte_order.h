// Byte-order helpers: every multi-byte value is assembled from its bytes by
// shifts, so no result depends on the host's own byte order.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace varrow {

// On a little-endian host the little-endian forms are plain copies, which
// compilers turn into single loads and stores.
inline constexpr bool HOST_IS_LITTLE_ENDIAN = std::endian::native == std::endian::little;

inline std::uint32_t load32_le(const std::uint8_t* p) {
  if constexpr (HOST_IS_LITTLE_ENDIAN) {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
  }
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}

inline std::uint32_t load32_be(const std::uint8_t* p) {
  return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 |
         std::uint32_t{p[3]};
}

inline void store32_le(std::uint8_t* p, std::uint32_t v) {
  if constexpr (HOST_IS_LITTLE_ENDIAN) {
    std::memcpy(p, &v, 4);
    return;
  }
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}

inline void store32_be(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 24);
  p[1] = static_cast<std::uint8_t>(v >> 16);
  p[2] = static_cast<std::uint8_t>(v >> 8);
  p[3] = static_cast<std::uint8_t>(v);
}

inline std::uint32_t rotl32(std::uint32_t x, int n) {
  return x << n | x >> (32 - n);
}

}  // namespace varrow
