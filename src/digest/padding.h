// The working copy both digests pad: the message, 0x80, zeros, and the
// 64-bit bit count in the last 8 bytes of the last 64-byte block.
#pragma once

#include <cstdint>
#include <memory>

namespace varrow {

inline constexpr std::uint32_t DIGEST_BLOCK_SIZE = 64;

enum class BitCountOrder { LittleEndian, BigEndian };

// The working copy lives on the heap by design, as it always has (its
// allocation failure is reported by the procedures as 50011); it is cleared
// before it is released.
class PaddedMessage {
 public:
  PaddedMessage(std::unique_ptr<std::uint8_t[]> bytes, std::uint32_t blocks)
      : bytes_(std::move(bytes)), blocks_(blocks) {}
  ~PaddedMessage();
  PaddedMessage(const PaddedMessage&) = delete;
  PaddedMessage& operator=(const PaddedMessage&) = delete;

  const std::uint8_t* block(std::uint32_t i) const {
    return bytes_.get() + std::size_t{i} * DIGEST_BLOCK_SIZE;
  }
  std::uint32_t blocks() const { return blocks_; }

 private:
  std::unique_ptr<std::uint8_t[]> bytes_;
  std::uint32_t blocks_;
};

// One heap allocation sized for the padded message; lets std::bad_alloc out
// before anything else happens. `data` is not read when length is 0.
PaddedMessage pad_message(const std::uint8_t* data, std::uint32_t length, BitCountOrder order);

}  // namespace varrow
