#include "tds/server/channel_transport.h"

#include "ods/wipe.h"

namespace varrow::host::tds {

IoStatus ChannelTransport::receive(Deadline deadline) {
  if (channel_.closing()) return IoStatus::Closed;
  std::uint8_t raw[16384];
  const IoResult got = socket_.read(raw, sizeof raw, deadline);
  if (got.status != IoStatus::Ok) return got.status;
  channel_.from_client(raw, got.size);
  wipe(raw, got.size);
  // Handshake records, the PRELOGIN reply or a refusal go out before the
  // session sees anything.
  const IoStatus sent = flush(deadline);
  if (sent != IoStatus::Ok) return sent;
  return channel_.closing() && !channel_.in_progress() ? IoStatus::Closed : IoStatus::Ok;
}

IoStatus ChannelTransport::write(const std::uint8_t* data, std::size_t size, Deadline deadline) {
  if (channel_.in_clear()) return socket_.write(data, size, deadline);
  channel_.from_session(Bytes(data, data + size));
  return flush(deadline);
}

IoStatus ChannelTransport::flush(Deadline deadline) {
  const Bytes out = channel_.take_for_client();
  return out.empty() ? IoStatus::Ok : socket_.write(out.data(), out.size(), deadline);
}

}  // namespace varrow::host::tds
