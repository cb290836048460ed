// The channel over a connection's socket, as the server's Transport: reads
// give the session's packets in clear, writes take the session's replies;
// the PRELOGIN exchange and the TLS handshake happen inside the reads.
#pragma once

#include <string>

#include "tds/server/channel.h"
#include "tds/server/transport.h"

namespace varrow::host::tds {

class ChannelTransport final : public Transport {
 public:
  ChannelTransport(Transport& socket, EncryptionSettings settings, std::uint16_t spid,
                   std::size_t max_message)
      : socket_(socket), channel_(std::move(settings), spid, max_message) {}
  ~ChannelTransport() override;
  ChannelTransport(const ChannelTransport&) = delete;
  ChannelTransport& operator=(const ChannelTransport&) = delete;

  // Closed once the channel has ended the connection (see failure()).
  IoResult read(std::uint8_t* data, std::size_t size, Deadline deadline) override;
  // Throws TlsError when a reply cannot be encrypted.
  IoStatus write(const std::uint8_t* data, std::size_t size, Deadline deadline) override;

  // Why the channel ended the connection; empty when it did not.
  const std::string& failure() const { return channel_.failure(); }

 private:
  IoStatus flush(Deadline deadline);

  Transport& socket_;
  Channel channel_;
  Bytes for_session_;
  std::size_t taken_ = 0;  // of for_session_, already read
};

}  // namespace varrow::host::tds
