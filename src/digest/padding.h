// The working copy both digests pad: the message, 0x80, zeros, and the
// 64-bit bit count in the last 8 bytes of the last 64-byte block.
#pragma once

#include <cstdint>
#include <memory>

namespace varrow {

inline constexpr std::uint32_t DIGEST_BLOCK_SIZE = 64;

enum class BitCountOrder { LittleEndian, BigEndian };

struct PaddedMessage {
  std::unique_ptr<std::uint8_t[]> bytes;
  std::uint32_t blocks;
};

// One heap allocation sized for the padded message; lets std::bad_alloc out
// before anything else happens. `data` is not read when length is 0.
PaddedMessage pad_message(const std::uint8_t* data, std::uint32_t length, BitCountOrder order);

}  // namespace varrow
