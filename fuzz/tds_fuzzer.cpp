// Fuzzed bytes as what a client sends varrowd: reassembled into requests and
// handled by a session, either from the first byte of the connection or
// after a valid login (so that batches and RPC calls are reached). The first
// byte chooses: bit 0 logs in first, bit 1 at TDS 7.1 instead of 7.4 (no
// ALL_HEADERS, 0x80 between RPC requests).
#include <algorithm>
#include <cstdint>

#include "key_sandbox.h"
#include "ods/library.h"
#include "tds/session/key_files.h"
#include "tds/session/session.h"
#include "tds/wire/packets.h"

namespace {

using namespace varrow::host::tds;

Bytes packet(std::uint8_t type, const Bytes& payload) {
  return packetize(type, payload, DEFAULT_PACKET_SIZE, 0);
}

// A LOGIN7 for user "sa" at TDS 7.4 or 7.1.
Bytes login_packets(bool tds_7_1) {
  Bytes login(94, 0);
  const std::uint32_t length = 94;
  login[0] = static_cast<std::uint8_t>(length);
  login[4] = tds_7_1 ? 0x01 : 0x04, login[7] = tds_7_1 ? 0x71 : 0x74;
  login[8] = 0x00, login[9] = 0x10;  // packet size 4096
  for (std::size_t at = 36; at < 72; at += 4)
    login[at] = 94;  // empty strings
  return packet(PACKET_LOGIN7, login);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  static const varrow::host::Library library(VARROW_LIBRARY_PATH);
  // Key files go through varrowd's own policy, with a sandbox folder as the
  // key folder: a "keyfile=" key reaches the policy's checks, and nothing
  // outside the folder is ever opened.
  static const KeyFilePolicy policy(varrow::fuzz::key_sandbox());
  Session session(library, LoginPolicy{}, 51, policy.guard());
  MessageAssembler assembler(1 << 20);
  try {
    if (data[0] & 1) {
      const Bytes login = login_packets((data[0] & 2) != 0);
      assembler.feed(login.data(), login.size());
    }
    assembler.feed(data + 1, size - 1);
    while (auto message = assembler.next()) {
      session.handle(*message);
      if (session.closing()) break;
    }
  } catch (const ProtocolError&) {
    // The connection would be closed: nothing else to check.
  }
  return 0;
}
