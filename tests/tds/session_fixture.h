// What the Session tests share: requests built as clients send them, reading
// a reply's packets back, and a fixture holding one session of the test
// library.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>

#include "support/hex.h"
#include "tds/session/session.h"
#include "tds/wire/packets.h"

namespace varrow::host::tds {

using test::from_hex;
using test::to_hex;

// The ALL_HEADERS block clients put before a batch or RPC: one transaction
// descriptor header, no transaction, one request outstanding.
inline const Bytes ALL_HEADERS = test::from_hex("16000000 12000000 0200 0000000000000000 01000000");

Bytes concat(std::initializer_list<Bytes> parts);

// ASCII text as the UTF-16 clients send.
Bytes ucs2(const std::string& ascii);

// A LOGIN7 with the given user and encoded password at TDS 7.4, asking for
// 4096-byte packets; every other string empty.
Bytes login7(const std::string& user = "", const std::string& password = "",
             std::uint8_t option2 = 0);

// The payload of the one message in a reply's packets; empty, and a test
// failure, when there is none.
Bytes reply_payload(const Bytes& packets);

// A LOGIN7 any policy without a password accepts.
void log_in(Session& session);

// The library every session test calls, loaded once.
const Library& test_library();

class SessionFixture : public ::testing::Test {
 protected:
  // The payload of the reply to one request, as hex.
  std::string request(std::uint8_t type, const Bytes& payload) {
    return to_hex(reply_payload(session_.handle(Message{type, payload, false})));
  }
  // The reply to an SQL batch of ASCII text, as hex.
  std::string batch(const std::string& text) {
    return request(PACKET_SQL_BATCH, concat({ALL_HEADERS, ucs2(text)}));
  }
  void log_in() { tds::log_in(session_); }

  Session session_{test_library(), LoginPolicy{}, 51};
};

// The same, logged in before each test.
class LoggedInSession : public SessionFixture {
 protected:
  void SetUp() override { log_in(); }
};

}  // namespace varrow::host::tds
