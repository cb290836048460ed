#include "session_fixture.h"

#include "text/codepage.h"

namespace varrow::host::tds {

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts)
    out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes ucs2(const std::string& ascii) {
  return cp1252_to_utf16le(Bytes(ascii.begin(), ascii.end()));
}

Bytes login7(const std::string& user, const std::string& password, std::uint8_t option2) {
  Bytes out(94, 0);
  out[4] = 0x04, out[7] = 0x74;
  out[9] = 0x10;  // packet size 4096
  out[25] = option2;
  auto field = [&](std::size_t at, const std::string& text, bool scramble) {
    out[at] = static_cast<std::uint8_t>(out.size());
    out[at + 2] = static_cast<std::uint8_t>(text.size());
    for (char c : text) {
      for (std::uint8_t b : {static_cast<std::uint8_t>(c), std::uint8_t{0}}) {
        out.push_back(scramble ? static_cast<std::uint8_t>((b << 4 | b >> 4) ^ 0xA5) : b);
      }
    }
  };
  for (std::size_t at = 36; at < 72; at += 4)
    out[at] = 94;
  field(40, user, false);
  field(44, password, true);
  out[0] = static_cast<std::uint8_t>(out.size());
  return out;
}

Bytes reply_payload(const Bytes& packets) {
  MessageAssembler assembler(16 << 20);  // a reply may pass MAX_REPLY by its last tokens
  assembler.feed(packets.data(), packets.size());
  auto reply = assembler.next();
  EXPECT_TRUE(reply.has_value());
  return reply ? reply->payload : Bytes{};
}

void log_in(Session& session) {
  reply_payload(session.handle(Message{PACKET_LOGIN7, login7("sa", "x"), false}));
}

const Library& test_library() {
  static const Library loaded(VARROW_LIBRARY_PATH);
  return loaded;
}

}  // namespace varrow::host::tds
