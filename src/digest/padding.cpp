#include "digest/padding.h"

#include <cstring>

#include "byte_order.h"
#include "common/wipe.h"

namespace varrow {

PaddedMessage::~PaddedMessage() {
  if (bytes_) secure_zero(bytes_.get(), std::size_t{blocks_} * DIGEST_BLOCK_SIZE);
}

PaddedMessage pad_message(const std::uint8_t* data, std::uint32_t length, BitCountOrder order) {
  // Room for 0x80 and the 8-byte count; one more block when they do not fit.
  std::uint32_t blocks = length / DIGEST_BLOCK_SIZE + 1;
  if (length % DIGEST_BLOCK_SIZE >= DIGEST_BLOCK_SIZE - 8) ++blocks;
  const std::size_t size = std::size_t{blocks} * DIGEST_BLOCK_SIZE;
  auto storage = std::unique_ptr<std::uint8_t[]>(new std::uint8_t[size]);
  std::uint8_t* bytes = storage.get();

  if (length != 0) std::memcpy(bytes, data, length);
  bytes[length] = 0x80;
  std::memset(bytes + length + 1, 0, size - 8 - (std::size_t{length} + 1));

  // The count of message bits as two 32-bit halves.
  const std::uint64_t bits = std::uint64_t{length} * 8;
  const auto low = static_cast<std::uint32_t>(bits);
  const auto high = static_cast<std::uint32_t>(bits >> 32);
  if (order == BitCountOrder::LittleEndian) {
    store32_le(bytes + size - 8, low);
    store32_le(bytes + size - 4, high);
  } else {
    store32_be(bytes + size - 8, high);
    store32_be(bytes + size - 4, low);
  }
  return PaddedMessage(std::move(storage), blocks);
}

}  // namespace varrow
