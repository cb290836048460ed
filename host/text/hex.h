// Hexadecimal text on the host side: the one encoder and decoder the host,
// its tests and its tools share. (The procedure library keeps its own, for
// keys and xp_hexstr: the two sides share no code.)
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ods/secure_bytes.h"

namespace varrow::host {

enum class HexCase { Upper, Lower };

// Two digits per byte, the high four bits first; in a SecretString for
// bytes that may be secret.
template <class String = std::string>
String hex_text(const std::uint8_t* data, std::size_t size, HexCase letters = HexCase::Upper) {
  const char* digits = letters == HexCase::Upper ? "0123456789ABCDEF" : "0123456789abcdef";
  String out;
  out.reserve(2 * size);
  for (std::size_t i = 0; i < size; ++i) {
    out += digits[data[i] >> 4];
    out += digits[data[i] & 0xF];
  }
  return out;
}

inline std::string hex_text(const Bytes& bytes, HexCase letters = HexCase::Upper) {
  return hex_text(bytes.data(), bytes.size(), letters);
}

// The value of a digit of either case, or -1.
inline int hex_digit_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Pairs of digits to bytes; nullopt for an odd count or a character that is
// no hexadecimal digit.
inline std::optional<Bytes> hex_bytes(std::string_view text) {
  if (text.size() % 2 != 0) return std::nullopt;
  Bytes out;
  out.reserve(text.size() / 2);
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const int high = hex_digit_value(text[i]), low = hex_digit_value(text[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    out.push_back(static_cast<std::uint8_t>(high << 4 | low));
  }
  return out;
}

}  // namespace varrow::host
