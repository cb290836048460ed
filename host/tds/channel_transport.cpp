#include "tds/channel_transport.h"

#include <algorithm>
#include <cstring>

#include "ods/wipe.h"

namespace varrow::host::tds {

ChannelTransport::~ChannelTransport() = default;

IoResult ChannelTransport::read(std::uint8_t* data, std::size_t size, Deadline deadline) {
  while (taken_ == for_session_.size()) {
    if (channel_.closing()) return {IoStatus::Closed, 0};
    if (channel_.clear()) return socket_.read(data, size, deadline);
    std::uint8_t raw[16384];
    const IoResult got = socket_.read(raw, sizeof raw, deadline);
    if (got.status != IoStatus::Ok) return got;
    channel_.from_client(raw, got.size);
    wipe(raw, got.size);
    // Handshake records, the PRELOGIN reply or a refusal go out before the
    // session sees anything.
    const IoStatus sent = flush(deadline);
    if (sent != IoStatus::Ok) return {sent, 0};
    for_session_ = channel_.take_for_session();
    taken_ = 0;
  }
  const std::size_t n = std::min(size, for_session_.size() - taken_);
  std::memcpy(data, for_session_.data() + taken_, n);
  taken_ += n;
  return {IoStatus::Ok, n};
}

IoStatus ChannelTransport::write(const std::uint8_t* data, std::size_t size, Deadline deadline) {
  if (channel_.clear()) return socket_.write(data, size, deadline);
  Bytes reply(data, data + size);
  channel_.from_session(reply);
  return flush(deadline);
}

IoStatus ChannelTransport::flush(Deadline deadline) {
  const Bytes out = channel_.take_for_client();
  return out.empty() ? IoStatus::Ok : socket_.write(out.data(), out.size(), deadline);
}

}  // namespace varrow::host::tds
