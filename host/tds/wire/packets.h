// TDS packets: the 8-byte header, reassembly of a request from its packets,
// and splitting a reply into packets of the size in effect.
#pragma once

#include <cstdint>
#include <optional>
#include <utility>

#include "tds/wire/reader_writer.h"

namespace varrow::host::tds {

// Packet types.
inline constexpr std::uint8_t PACKET_SQL_BATCH = 0x01;
inline constexpr std::uint8_t PACKET_RPC = 0x03;
inline constexpr std::uint8_t PACKET_REPLY = 0x04;
inline constexpr std::uint8_t PACKET_ATTENTION = 0x06;
inline constexpr std::uint8_t PACKET_TRANSACTION = 0x0E;
inline constexpr std::uint8_t PACKET_LOGIN7 = 0x10;
inline constexpr std::uint8_t PACKET_PRELOGIN = 0x12;

// Header status bits.
inline constexpr std::uint8_t STATUS_END_OF_MESSAGE = 0x01;
inline constexpr std::uint8_t STATUS_IGNORE = 0x02;

inline constexpr std::size_t HEADER_SIZE = 8;
inline constexpr std::uint32_t MIN_PACKET_SIZE = 512;
inline constexpr std::uint32_t MAX_PACKET_SIZE = 32767;
inline constexpr std::uint32_t DEFAULT_PACKET_SIZE = 4096;

struct PacketHeader {
  std::uint8_t type = 0;
  std::uint8_t status = 0;
  std::uint16_t length = 0;  // of the packet, header included
};

// The header at `data`, which holds at least HEADER_SIZE bytes: the one
// reading of a packet header, before and after the login alike. A length
// shorter than the header is a ProtocolError.
PacketHeader read_header(const std::uint8_t* data);

struct Message {
  std::uint8_t type = 0;
  Bytes payload;
  bool ignore = false;  // the client cancelled it with the ignore bit
};

// Collects packets into whole messages. A header that lies (a length shorter
// than the header or past the largest packet), a type that changes inside a
// message, or a message over `max_message` bytes is a ProtocolError.
class MessageAssembler {
 public:
  explicit MessageAssembler(std::size_t max_message) : max_message_(max_message) {}

  // Takes received bytes; returns the next complete message, if one is now
  // whole. Call again with no bytes until it returns nothing.
  void feed(const std::uint8_t* data, std::size_t size) {
    buffer_.insert(buffer_.end(), data, data + size);
  }
  std::optional<Message> next();

  // Changes the bound on a message, as from the login on.
  void set_max_message(std::size_t max_message) { max_message_ = max_message; }

  // True while part of a message has arrived.
  bool in_progress() const { return !buffer_.empty() || started_; }

  // Hands back the bytes fed but not taken into a message yet, for a
  // connection whose next bytes are read another way (TLS records after a
  // handshake, or packets for the session after PRELOGIN).
  Bytes take_unread() { return std::exchange(buffer_, Bytes{}); }

 private:
  std::size_t max_message_;
  Bytes buffer_;
  Message current_;
  bool started_ = false;
};

// The bytes of `payload` as packets of `type`, none larger than packet_size.
Bytes packetize(std::uint8_t type, const Bytes& payload, std::uint32_t packet_size,
                std::uint16_t spid);

}  // namespace varrow::host::tds
