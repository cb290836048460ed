#include "tds/wire/packets.h"

#include <algorithm>
#include <cstring>

#include "ods/wipe.h"

namespace varrow::host::tds {

PacketHeader read_header(const std::uint8_t* data) {
  Reader in(data, HEADER_SIZE);
  PacketHeader header;
  header.type = in.u8();
  header.status = in.u8();
  header.length = in.u16_be();
  if (header.length < HEADER_SIZE) throw ProtocolError("packet length out of range");
  return header;
}

std::optional<Message> MessageAssembler::next() {
  std::size_t start = 0;
  std::optional<Message> whole;
  while (!whole && buffer_.size() - start >= HEADER_SIZE) {
    const auto [type, status, length] = read_header(buffer_.data() + start);
    if (length > MAX_PACKET_SIZE + 1) throw ProtocolError("packet length out of range");
    if (buffer_.size() - start < length) break;
    if (started_ && type != current_.type) throw ProtocolError("packet type changed in a message");
    if (!started_) {
      current_ = Message{type, {}, false};
      started_ = true;
    }
    if (current_.payload.size() + (length - HEADER_SIZE) > max_message_) {
      throw ProtocolError("request larger than the limit");
    }
    const auto packet = buffer_.begin() + static_cast<std::ptrdiff_t>(start);
    current_.payload.insert(current_.payload.end(), packet + HEADER_SIZE, packet + length);
    start += length;
    if (status & STATUS_END_OF_MESSAGE) {
      current_.ignore = (status & STATUS_IGNORE) != 0;
      started_ = false;
      whole = std::move(current_);
    }
  }
  // Drop the packets taken, once per call rather than once per packet, and
  // clear the bytes left behind (a request's values among them).
  if (start > 0) {
    const std::size_t kept = buffer_.size() - start;
    std::memmove(buffer_.data(), buffer_.data() + start, kept);
    wipe(buffer_.data() + kept, start);
    buffer_.resize(kept);
  }
  return whole;
}

Bytes packetize(std::uint8_t type, const Bytes& payload, std::uint32_t packet_size,
                std::uint16_t spid) {
  const std::size_t chunk = packet_size - HEADER_SIZE;
  Writer out;
  out.bytes().reserve(payload.size() + (payload.size() / chunk + 1) * HEADER_SIZE);
  std::size_t pos = 0;
  std::uint8_t packet_id = 1;
  do {
    const std::size_t n = std::min(chunk, payload.size() - pos);
    const bool last = pos + n == payload.size();
    out.u8(type);
    out.u8(last ? STATUS_END_OF_MESSAGE : 0);
    out.u16_be(static_cast<std::uint16_t>(n + HEADER_SIZE));
    out.u16_be(spid);
    out.u8(packet_id++);
    out.u8(0);
    out.bytes().insert(out.bytes().end(), payload.begin() + static_cast<std::ptrdiff_t>(pos),
                       payload.begin() + static_cast<std::ptrdiff_t>(pos + n));
    pos += n;
  } while (pos < payload.size());
  return std::move(out.bytes());
}

}  // namespace varrow::host::tds
