// Hex text for test data and failure messages, through the host's encoder and
// decoder.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "text/hex.h"

namespace varrow::test {

using Bytes = host::Bytes;

// Pairs of digits, spaces ignored; throws on anything else.
inline Bytes from_hex(std::string_view hex) {
  std::string digits;
  for (char c : hex) {
    if (c != ' ') digits += c;
  }
  auto bytes = host::hex_bytes(digits);
  if (!bytes) throw std::invalid_argument("not hexadecimal text: " + std::string(hex));
  return *bytes;
}

// Lower-case digits, as the published test vectors print them.
inline std::string to_hex(const std::uint8_t* data, std::size_t length) {
  return host::hex_text(data, length, host::HexCase::Lower);
}

inline std::string to_hex(const Bytes& bytes) {
  return to_hex(bytes.data(), bytes.size());
}

inline Bytes to_bytes(std::string_view text) {
  return Bytes(text.begin(), text.end());
}

}  // namespace varrow::test
