#include "tds/session/login_policy.h"

#include "tds/wire/packets.h"
#include "tds/wire/tokens.h"
#include "text/codepage.h"

namespace varrow::host::tds {

bool constant_time_equal(std::string_view given, std::string_view expected) {
  // volatile: every byte is compared, with no exit at the first difference.
  volatile unsigned char difference = given.size() == expected.size() ? 0 : 1;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const char g = i < given.size() ? given[i] : '\0';
    difference = static_cast<unsigned char>(difference | (g ^ expected[i]));
  }
  return difference == 0;
}

bool credentials_match(const LoginPolicy& policy, std::string_view user,
                       std::string_view password) {
  const bool user_ok = !policy.user || constant_time_equal(user, *policy.user);
  const bool password_ok = !policy.password || constant_time_equal(password, *policy.password);
  return user_ok && password_ok;
}

Bytes login_refused(std::uint32_t version, std::uint16_t spid, const std::string& text,
                    std::int32_t number, std::uint8_t msg_class) {
  TokenWriter out(version);
  out.message(number, 1, msg_class, utf16(text), "", 1);
  out.done(TOKEN_DONE, DONE_ERROR);
  return packetize(PACKET_REPLY, out.bytes(), DEFAULT_PACKET_SIZE, spid);
}

}  // namespace varrow::host::tds
