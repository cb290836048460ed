#include "key/hex_key.h"

namespace varrow {
namespace {

constexpr std::int8_t NOT_HEX = -1;

// The value of every byte as a hexadecimal digit, or NOT_HEX. Bytes from 0x80
// up are never digits.
struct HexValueTable {
  std::int8_t value[256];
  constexpr HexValueTable() : value{} {
    for (int c = 0; c < 256; ++c)
      value[c] = NOT_HEX;
    for (int d = 0; d < 10; ++d)
      value['0' + d] = static_cast<std::int8_t>(d);
    for (int d = 0; d < 6; ++d) {
      value['A' + d] = static_cast<std::int8_t>(10 + d);
      value['a' + d] = static_cast<std::int8_t>(10 + d);
    }
  }
};
constexpr HexValueTable HEX_VALUES;

}  // namespace

XpErrorCode hex_key_decode(const std::uint8_t* text, std::uint8_t* key, std::uint32_t length) {
  if (length % 2 != 0) return XpErrorCode::Key;
  for (std::uint32_t i = 0; i < length; i += 2) {
    const std::int8_t high = HEX_VALUES.value[text[i]];
    if (high == NOT_HEX) return XpErrorCode::Key;
    const std::int8_t low = HEX_VALUES.value[text[i + 1]];
    if (low == NOT_HEX) return XpErrorCode::Key;
    key[i / 2] = static_cast<std::uint8_t>(high << 4 | low);
  }
  return XpErrorCode::Ok;
}

}  // namespace varrow
