// TDS framing, login parsing and a whole RPC exchange, on bytes as clients
// send them.
#include <gtest/gtest.h>

#include "session_fixture.h"
#include "support/allocator.h"
#include "support/oracle.h"
#include "tds/wire/login.h"
#include "text/log_escape.h"

namespace varrow::host::tds {
namespace {

Bytes header(std::uint8_t type, std::uint8_t status, std::uint16_t length) {
  return {
      type, status, static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length), 0, 0,
      1,    0};
}

TEST(MessageAssembler, JoinsPacketsFedAByteAtATime) {
  const Bytes stream = concat({header(0x01, 0, 10), {'a', 'b'}, header(0x01, 1, 9), {'c'}});
  MessageAssembler assembler(1 << 20);
  std::vector<Message> messages;
  for (std::uint8_t b : stream) {
    assembler.feed(&b, 1);
    while (auto m = assembler.next())
      messages.push_back(*m);
  }
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].type, 0x01);
  EXPECT_EQ(messages[0].payload, (Bytes{'a', 'b', 'c'}));
  EXPECT_FALSE(assembler.in_progress());
}

TEST(MessageAssembler, RefusesLyingHeaders) {
  struct Case {
    const char* what;
    Bytes stream;
    std::size_t cap;
  };
  const Case cases[] = {
      {"length shorter than the header", header(0x12, 1, 7), 100},
      {"type changes inside a message", concat({header(0x01, 0, 9), {1}, header(0x03, 1, 9), {2}}),
       100},
      {"message over the cap",
       concat({header(0x01, 0, 60), Bytes(52), header(0x01, 1, 60), Bytes(52)}), 100},
  };
  for (const Case& c : cases) {
    MessageAssembler assembler(c.cap);
    assembler.feed(c.stream.data(), c.stream.size());
    EXPECT_THROW(while (assembler.next()){}, ProtocolError) << c.what;
  }
}

// The packets taken into a message leave nothing behind in the buffer the
// connection keeps for those to come.
TEST(MessageAssembler, ClearsThePacketsItTakes) {
  const Bytes stream = concat({header(0x10, 1, 23), test::to_bytes("Pw9 in a LOGIN7")});
  std::vector<char> arena(1 << 12);
  bool left = true;
  {
    const test::ArenaScope scope(arena.data(), arena.size());
    MessageAssembler assembler(1 << 20);
    assembler.feed(stream.data(), stream.size());
    EXPECT_TRUE(assembler.next());  // the message itself is cleared as it is freed
    left = std::string_view(arena.data(), arena.size()).find("Pw9 in a") != std::string_view::npos;
  }
  EXPECT_FALSE(left);
}

// The host's byte type clears a block it outgrows as well as one it frees.
TEST(ClearingBytes, ClearBlocksTheyOutgrowAndFree) {
  std::vector<char> arena(1 << 12);
  const std::string_view memory(arena.data(), arena.size());
  std::size_t first = memory.npos, second = memory.npos;
  {
    const test::ArenaScope scope(arena.data(), arena.size());
    Bytes bytes = test::to_bytes("Pw9 outgrown key");
    bytes.reserve(64);  // to a larger block
    first = memory.find("Pw9 outg");
    second = memory.find("Pw9 outg", first + 1);
  }
  EXPECT_NE(first, memory.npos);  // in the block it has now, and there only
  EXPECT_EQ(second, memory.npos);
  EXPECT_EQ(memory.find("Pw9 outg"), memory.npos);
}

TEST(Packetize, SplitsAtThePacketSizeAndMarksTheEnd) {
  const Bytes payload(1000, 0x5A);
  const Bytes packets = packetize(PACKET_REPLY, payload, 512, 0x0033);
  ASSERT_EQ(packets.size(), 1000u + 2 * 8);
  EXPECT_EQ(to_hex(Bytes(packets.begin(), packets.begin() + 8)), "0400020000330100");
  EXPECT_EQ(to_hex(Bytes(packets.begin() + 512, packets.begin() + 520)), "040101f800330200");
  EXPECT_EQ(packetize(PACKET_REPLY, {}, 512, 0).size(), 8u);  // an empty reply still ends
}

TEST(Login7, DecodesUserAndPassword) {
  const LoginRequest login = parse_login7(login7("varrow", "p@ss w0rd"));
  EXPECT_EQ(login.user, "varrow");
  EXPECT_EQ(login.password, "p@ss w0rd");
  EXPECT_EQ(login.client_version, 0x74000004u);
  EXPECT_EQ(login.packet_size, 4096u);
  EXPECT_FALSE(login.integrated_security);
  EXPECT_TRUE(parse_login7(login7("a", "b", 0x80)).integrated_security);
}

TEST(Login7, ChecksEveryOffsetAndLength) {
  // The user's offset far past the end; a password longer than the message.
  for (const auto& [at, value] : {std::pair{41, 0x7F}, std::pair{46, 200}}) {
    Bytes bad = login7("sa", "x");
    bad[at] = static_cast<std::uint8_t>(value);
    EXPECT_THROW(parse_login7(bad), ProtocolError) << at;
  }
  EXPECT_THROW(parse_login7(Bytes(40, 0)), ProtocolError);
}

TEST(LogEscape, KeepsHostileTextOnOneVisibleBoundedLine) {
  struct Case {
    const char* what;
    std::string text;
    std::string shown;
  };
  const std::string a128(128, 'a');
  const Case cases[] = {
      {"forged line", "x\nvarrowd: login succeeded", "x\\nvarrowd: login succeeded"},
      {"terminal controls", "\x1b[2J\a\r\t", "\\x1b[2J\\x07\\r\\t"},
      {"NUL and DEL", std::string("a\0b\x7f", 4), "a\\x00b\\x7f"},
      {"backslash and quote", "\\n' from 10.0.0.9", "\\\\n\\' from 10.0.0.9"},
      {"C1 controls, line separators", "\xc2\x85\xc2\x9b\xe2\x80\xa8\xe2\x80\xa9",
       "\\u0085\\u009b\\u2028\\u2029"},
      {"bidirectional controls",
       "\xd8\x9c\xe2\x80\x8e\xe2\x80\x8f\xe2\x80\xaa\xe2\x80\xae\xe2\x81\xa6\xe2\x81\xa9",
       "\\u061c\\u200e\\u200f\\u202a\\u202e\\u2066\\u2069"},
      {"other characters as they are", "\xc3\xa9\xe2\x80\x8d\xf0\x9f\x98\x80",
       "\xc3\xa9\xe2\x80\x8d\xf0\x9f\x98\x80"},
      {"overlong, surrogate, past U+10FFFF, cut", "\xc0\x8a\xed\xa0\x80\xf4\x90\x80\x80\xe2\x80",
       "\\xc0\\x8a\\xed\\xa0\\x80\\xf4\\x90\\x80\\x80\\xe2\\x80"},
      {"128 characters whole", a128, a128},
      {"a long name cut", std::string(32000, 'a'), a128 + "...(32000 bytes)"},
      {"characters counted, not bytes", a128.substr(1) + "\n\n",
       a128.substr(1) + "\\n...(129 bytes)"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(log_escape(c.text), c.shown) << c.what;
}

TEST(Login7, NegotiatesTheLowerVersion) {
  const std::pair<std::uint32_t, std::uint32_t> cases[] = {
      {0x74000004, TDS_7_4}, {0x75000000, TDS_7_4}, {0x730B0003, TDS_7_3},
      {0x72090002, TDS_7_2}, {0x71000001, TDS_7_1}, {0x70000000, 0u}};
  for (const auto& [client, agreed] : cases)
    EXPECT_EQ(negotiated_version(client), agreed) << std::hex << client;
}

struct Token {
  std::uint8_t type;
  Bytes body;
};

// The tokens of a reply at 7.2 or later, split by their lengths: the
// tokens of login, message and acknowledgement replies.
std::vector<Token> tokens(const Bytes& payload) {
  Reader in(payload);
  std::vector<Token> out;
  while (!in.done()) {
    const std::uint8_t type = in.u8();
    const bool done = type == TOKEN_DONE || type == TOKEN_DONEPROC;
    if (!done && type != TOKEN_ENVCHANGE && type != TOKEN_LOGINACK && type != TOKEN_INFO &&
        type != TOKEN_ERROR) {
      ADD_FAILURE() << "unexpected token " << to_hex(Bytes{type});
      return out;
    }
    out.push_back({type, in.bytes(done ? 12 : in.u16())});
  }
  return out;
}

std::string types_of(const std::vector<Token>& list) {
  std::string out;
  for (const Token& t : list)
    out += to_hex(Bytes{t.type});
  return out;
}

using SessionTest = SessionFixture;  // a session of its own per test, not logged in

TEST_F(SessionTest, RpcReplyMatchesWhatClientsExpect) {
  log_in();
  // xp_hexstr 'AB', @out VARCHAR(100) OUTPUT, as pytds sends it at 7.4.
  const Bytes rpc = concat({ALL_HEADERS, from_hex("0900"), ucs2("xp_hexstr"),
                            from_hex("0000 00 00 A7 4000 0904D00034 0200 4142"),
                            from_hex("00 01 A7 6400 0904D00034 FFFF")});
  EXPECT_EQ(request(PACKET_RPC, rpc),
            "7900000000"
            "ac010000010000000000"
            "00a764000904d00034"
            "040034313432"
            "fe000000000000000000000000");
}

TEST_F(SessionTest, LoginReplyAndAttention) {
  const std::string prelogin = to_hex(reply_payload(prelogin_reply(52)));
  EXPECT_EQ(prelogin.substr(0, 10), "00001a0006");
  // ENVCHANGE database, collation, language; LOGINACK; ENVCHANGE packet size; DONE.
  const std::vector<Token> login = tokens(from_hex(request(PACKET_LOGIN7, login7("sa", "x"))));
  ASSERT_EQ(types_of(login), "e3e3e3ade3fd");
  EXPECT_EQ(to_hex(login[3].body).substr(0, 10), "0174000004");  // SQL interface, TDS 7.4
  // Packet size "4096", was "4096".
  EXPECT_EQ(to_hex(login[4].body), "04043400300039003600043400300039003600");
  EXPECT_EQ(to_hex(login[5].body), "000000000000000000000000");
  EXPECT_EQ(request(PACKET_ATTENTION, {}), "fd200000000000000000000000");
  EXPECT_EQ(request(PACKET_TRANSACTION, concat({ALL_HEADERS, from_hex("0500 00")})),
            "fd000000000000000000000000");
}

TEST_F(SessionTest, RequestsBeforeLoginBreakTheProtocol) {
  EXPECT_THROW(session_.handle(Message{PACKET_SQL_BATCH, {}, false}), ProtocolError);
  log_in();
  EXPECT_THROW(session_.handle(Message{PACKET_LOGIN7, {}, false}), ProtocolError);
  EXPECT_THROW(session_.handle(Message{0x55, {}, false}), ProtocolError);
}

TEST_F(SessionTest, WrongPasswordClosesTheConnection) {
  Session guarded(test_library(), LoginPolicy{"varrow", "right"}, 52);
  const Bytes reply = guarded.handle(Message{PACKET_LOGIN7, login7("varrow", "wrong"), false});
  const std::vector<Token> failed = tokens(reply_payload(reply));
  ASSERT_EQ(types_of(failed), "aafd");
  EXPECT_EQ(to_hex(failed[0].body).substr(0, 12), "18480000010e");  // 18456, state 1, class 14
  EXPECT_EQ(to_hex(failed[1].body).substr(0, 4), "0200");           // DONE_ERROR
  EXPECT_TRUE(guarded.closing());
}

// Batches past the batch language's limits, or failing as they run, get an
// ERROR token; the connection takes the next batch as usual.
TEST_F(SessionTest, BatchErrorsKeepTheConnection) {
  log_in();
  auto repeated = [](const std::string& part, std::size_t n) {
    std::string text;
    for (std::size_t i = 0; i < n; ++i)
      text += part;
    return text;
  };
  struct Case {
    std::string text;
    const char* number;  // little-endian hex
  };
  const Case cases[] = {
      {"SELECT " + repeated("CAST(", 20000), "bf000000"},        // 191 nested too deeply
      {"DECLARE @y INT = 'a' SELECT @y", "f5000000"},            // 245 conversion
      {"SELECT 1 AS [" + repeated("a", 300) + "]", "67000000"},  // 103 name too long
      {"SELECT 1" + repeated(",1", 5000), "20040000"},           // 1056 too many columns
      {repeated(";", 70000), "b8210000"},                        // 8632 too many tokens
  };
  for (const Case& c : cases) {
    const std::string reply = batch(c.text);
    EXPECT_EQ(reply.substr(0, 2), "aa") << c.number;
    EXPECT_EQ(reply.substr(6, 8), c.number);
    EXPECT_NE(batch("SELECT 7").find("d10407000000"), std::string::npos) << c.number;
  }
  // What jTDS sends after login, answered without an error: @@MAX_PRECISION is 38.
  const std::string jtds = batch(
      "SELECT @@MAX_PRECISION; SET TRANSACTION ISOLATION LEVEL READ COMMITTED; "
      "SET IMPLICIT_TRANSACTIONS OFF; SET QUOTED_IDENTIFIER ON; SET TEXTSIZE 2147483647");
  EXPECT_EQ(jtds.substr(0, 2), "81") << jtds;  // COLMETADATA first, no ERROR
  EXPECT_NE(jtds.find("d10426000000"), std::string::npos) << jtds;
  EXPECT_NE(batch("SELECT @@SPID").find("d10433000000"), std::string::npos);  // the session's 51
}

// No block a session frees keeps a piece of the key, the plaintext or the
// password, in any form they travel: its blocks come from an arena read after.
TEST(SessionMemory, FreedBlocksHoldNoSecret) {
  using test::to_bytes;
  const std::string key = "4e7a2b8d3f60a5e4c7b1d2f3a4b59c1f", plain = "Zq7 plain Wm3",
                    password = "Pw9 rarely typed Jx2";
  auto rpc = [&](const char* procedure, const Bytes& input, const char* output) {
    Bytes call = concat({ALL_HEADERS, from_hex("0e00"), ucs2(procedure), from_hex("0000")});
    for (const Bytes& v : {input, to_bytes(key)})  // VARCHAR(8000) input and key
      call = concat({call, from_hex("0000A7401F0904D00034"), {std::uint8_t(v.size()), 0}, v});
    return concat({call, from_hex(output)});
  };
  const Bytes batch =
      concat({ALL_HEADERS, ucs2("DECLARE @c VARCHAR(99), @p VARCHAR(99) = '" + plain +
                                "'; EXEC xp_AES_Encrypt @p, '" + key + "', @c OUTPUT; PRINT @p")});
  const Bytes cipher = test::oracle_aes_ecb(true, from_hex(key), to_bytes(plain), true);
  const Message requests[] = {
      // the login alone, a batch, an RPC call, one failing midway
      {PACKET_SQL_BATCH, {}, true},
      {PACKET_SQL_BATCH, batch, false},
      {PACKET_RPC, rpc("xp_AES_Decrypt", cipher, "0001A7401F0904D00034FFFF"), false},
      {PACKET_RPC, rpc("xp_AES_Encrypt", to_bytes(plain), "0001F1"), false}};  // XML: refused
  const Bytes login = login7("sa", password);
  // The password as LOGIN7 carries it, then each secret as text and as UTF-16.
  std::vector<Bytes> secrets{Bytes(login.end() - 2 * std::ptrdiff_t(password.size()), login.end())};
  for (const std::string& s : {key, plain, password})
    secrets.insert(secrets.end(), {to_bytes(s), ucs2(s)});
  std::vector<char> arena(4 << 20);
  const std::string_view memory(arena.data(), arena.size());
  const Library& library = test_library();  // loaded before the arena, kept after
  for (const Message& request : requests) {
    std::fill(arena.begin(), arena.end(), 0);
    {
      const test::ArenaScope scope(arena.data(), arena.size());
      Session session(library, LoginPolicy{std::nullopt, SecretString(password)}, 51);
      session.handle(Message{PACKET_LOGIN7, login, false});
      session.handle(request);
    }
    for (const Bytes& secret : secrets) {  // none of the 8 bytes at each multiple of 8
      const std::string_view text(reinterpret_cast<const char*>(secret.data()), secret.size());
      for (std::size_t at = 0; at + 8 <= text.size(); at += 8)
        EXPECT_EQ(memory.find(text.substr(at, 8)), memory.npos)
            << "request " << &request - requests << ", secret " << &secret - secrets.data();
    }
  }
}

}  // namespace
}  // namespace varrow::host::tds
