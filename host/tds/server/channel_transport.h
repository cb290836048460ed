// The channel over a connection's socket: receiving reads the socket and
// hands what arrived to the channel, whose whole messages the session then
// takes; the session's replies go back through it. The PRELOGIN exchange and
// the TLS handshake happen inside the receiving.
#pragma once

#include <optional>
#include <string>

#include "tds/server/channel.h"
#include "tds/server/transport.h"

namespace varrow::host::tds {

class ChannelTransport {
 public:
  ChannelTransport(Transport& socket, EncryptionSettings settings, std::uint16_t spid,
                   std::size_t max_message)
      : socket_(socket), channel_(std::move(settings), spid, max_message) {}

  // Reads what has arrived (waiting until `deadline` at the latest) and
  // sends what the channel owes the client at once. Closed once the channel
  // has ended the connection (see failure()).
  IoStatus receive(Deadline deadline);
  // The next whole message for the session, if one has arrived. Throws
  // ProtocolError as Channel::next_message does.
  std::optional<Message> next_message() { return channel_.next_message(); }
  bool in_progress() const { return channel_.in_progress(); }
  void logged_in() { channel_.logged_in(); }

  // Throws TlsError when a reply cannot be encrypted.
  IoStatus write(const std::uint8_t* data, std::size_t size, Deadline deadline);

  // Why the channel ended the connection; empty when it did not.
  const std::string& failure() const { return channel_.failure(); }
  const Channel& channel() const { return channel_; }

 private:
  IoStatus flush(Deadline deadline);

  Transport& socket_;
  Channel channel_;
};

}  // namespace varrow::host::tds
