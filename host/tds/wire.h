// Reading and writing the integers and strings of TDS messages. Packet
// headers are big-endian, payloads little-endian; strings are UCS-2.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "ods/secure_bytes.h"

namespace varrow::host::tds {

using host::Bytes;

// A message that breaks the protocol: the connection that sent it is closed.
struct ProtocolError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Reads a received payload; every read is checked against what was received.
class Reader {
 public:
  Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  explicit Reader(const Bytes& bytes) : Reader(bytes.data(), bytes.size()) {}

  std::size_t left() const { return size_ - pos_; }
  bool done() const { return pos_ == size_; }
  std::uint8_t peek() const {
    need(1);
    return data_[pos_];
  }

  std::uint8_t u8() {
    need(1);
    return data_[pos_++];
  }
  std::uint16_t u16() {
    need(2);
    const auto v = static_cast<std::uint16_t>(data_[pos_] | data_[pos_ + 1] << 8);
    pos_ += 2;
    return v;
  }
  std::uint16_t u16_be() {
    need(2);
    const auto v = static_cast<std::uint16_t>(data_[pos_] << 8 | data_[pos_ + 1]);
    pos_ += 2;
    return v;
  }
  std::uint32_t u32() {
    need(4);
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
      v = v << 8 | data_[pos_ + static_cast<std::size_t>(i)];
    pos_ += 4;
    return v;
  }
  std::uint64_t u64() {
    const std::uint64_t low = u32();
    return low | std::uint64_t{u32()} << 32;
  }
  Bytes bytes(std::size_t n) {
    need(n);
    Bytes out(data_ + pos_, data_ + pos_ + n);
    pos_ += n;
    return out;
  }
  void skip(std::size_t n) {
    need(n);
    pos_ += n;
  }
  // `characters` UCS-2 units, as raw UTF-16LE bytes.
  Bytes ucs2(std::size_t characters) { return bytes(2 * characters); }

 private:
  void need(std::size_t n) const {
    if (n > size_ - pos_) throw ProtocolError("message ends early");
  }

  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// Builds a payload.
class Writer {
 public:
  Bytes& bytes() { return out_; }
  std::size_t size() const { return out_.size(); }

  void u8(std::uint8_t v) { out_.push_back(v); }
  void u16(std::uint16_t v) {
    u8(static_cast<std::uint8_t>(v));
    u8(static_cast<std::uint8_t>(v >> 8));
  }
  void u16_be(std::uint16_t v) {
    u8(static_cast<std::uint8_t>(v >> 8));
    u8(static_cast<std::uint8_t>(v));
  }
  void u32(std::uint32_t v) {
    u16(static_cast<std::uint16_t>(v));
    u16(static_cast<std::uint16_t>(v >> 16));
  }
  void u32_be(std::uint32_t v) {
    u16_be(static_cast<std::uint16_t>(v >> 16));
    u16_be(static_cast<std::uint16_t>(v));
  }
  void u64(std::uint64_t v) {
    u32(static_cast<std::uint32_t>(v));
    u32(static_cast<std::uint32_t>(v >> 32));
  }
  void append(const Bytes& b) { out_.insert(out_.end(), b.begin(), b.end()); }
  // ASCII text as UCS-2.
  void ucs2(std::string_view ascii) {
    for (char c : ascii)
      u16(static_cast<std::uint8_t>(c));
  }
  // B_VARCHAR: a one-byte count of characters, then UCS-2.
  void b_varchar(const Bytes& utf16) {
    u8(static_cast<std::uint8_t>(utf16.size() / 2));
    append(utf16);
  }
  void b_varchar(std::string_view ascii) {
    u8(static_cast<std::uint8_t>(ascii.size()));
    ucs2(ascii);
  }
  // US_VARCHAR: a two-byte count of characters, then UCS-2.
  void us_varchar(const Bytes& utf16) {
    u16(static_cast<std::uint16_t>(utf16.size() / 2));
    append(utf16);
  }

  // A length written once what it counts is known: reserve, then fill.
  std::size_t reserve_u16() {
    u16(0);
    return out_.size() - 2;
  }
  void fill_u16(std::size_t at, std::uint16_t v) {
    out_[at] = static_cast<std::uint8_t>(v);
    out_[at + 1] = static_cast<std::uint8_t>(v >> 8);
  }

 private:
  Bytes out_;
};

}  // namespace varrow::host::tds
