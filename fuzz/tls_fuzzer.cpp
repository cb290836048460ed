// Fuzzed bytes as the start of an encrypted varrowd connection: the
// PRELOGIN exchange and the TLS handshake up to where it completes, through
// the channel that sits between the socket and the session. The first byte
// chooses the setting:
//   bit 0  the server requires encryption (else: optional)
//   bit 1  a valid PRELOGIN asking for encryption goes first, so that the
//          rest is read as handshake records
//   bit 2  the rest is wrapped in PRELOGIN packets (the TDS 7.x handshake);
//          otherwise it is sent as it is (TDS 8.0 starts with TLS records)
//   bits 4-7  the rest arrives in pieces of 2^n bytes
#include <algorithm>
#include <cstdint>
#include <memory>

#include "support/certificates.h"
#include "tds/server/channel.h"

namespace {

using namespace varrow::host::tds;

const std::shared_ptr<const TlsContext>& context() {
  static const std::shared_ptr<const TlsContext> made = [] {
    const varrow::test::KeyPair ca = varrow::test::make_certificate("Fuzz CA", nullptr, true);
    const varrow::test::KeyPair server = varrow::test::make_certificate("localhost", &ca, false);
    return TlsContext::from_pem(server.cert_pem, server.key_pem);
  }();
  return made;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t mode = data[0];
  Channel channel({mode & 1 ? Encryption::Required : Encryption::Optional, context()}, 51, 1 << 16);
  Bytes input;
  if (mode & 2) {
    const Bytes prelogin = {0x01, 0x00, 0x06, 0x00, 0x01, 0xFF, 0x01};  // ENCRYPT_ON
    input = packetize(PACKET_PRELOGIN, prelogin, DEFAULT_PACKET_SIZE, 0);
  }
  const Bytes rest(data + 1, data + size);
  if (mode & 4) {
    if (!rest.empty()) {
      const Bytes wrapped = packetize(PACKET_PRELOGIN, rest, DEFAULT_PACKET_SIZE, 0);
      input.insert(input.end(), wrapped.begin(), wrapped.end());
    }
  } else {
    input.insert(input.end(), rest.begin(), rest.end());
  }
  const std::size_t piece = std::size_t{1} << (mode >> 4);
  for (std::size_t at = 0; at < input.size() && !channel.closing(); at += piece) {
    channel.from_client(input.data() + at, std::min(piece, input.size() - at));
    channel.take_for_client();
    try {
      while (const auto message = channel.next_message()) {
        // With encryption required nothing reaches the session outside TLS.
        if ((mode & 1) && !channel.encrypted()) __builtin_trap();
        channel.from_session(packetize(PACKET_REPLY, message->payload, DEFAULT_PACKET_SIZE, 0));
      }
    } catch (const ProtocolError&) {
      return 0;  // the server closes the connection
    }
  }
  return 0;
}
