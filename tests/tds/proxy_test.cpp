// The PROXY header a load balancer sends, and the networks trusted to send it.
#include <gtest/gtest.h>

#include <string>

#include "tds/server/proxy_networks.h"
#include "tds/wire/proxy_header.h"

namespace varrow::host::tds {
namespace {

using S = ProxyStatus;
using namespace std::string_literals;

std::string v2(std::uint8_t command, std::uint8_t family, const std::string& body) {
  return "\r\n\r\n\0\r\nQUIT\n"s + char(command) + char(family) + char(body.size() >> 8) +
         char(body.size()) + body;
}

ProxyHeader parse(const std::string& bytes, std::size_t size) {
  return parse_proxy_header(reinterpret_cast<const std::uint8_t*>(bytes.data()), size);
}

bool may_be(const std::string& bytes) {
  return may_be_proxy_header(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

std::string client(const ProxyHeader& h) {  // "address:port", or empty
  return h.source.empty() ? "" : h.source + ":" + std::to_string(h.source_port);
}

const std::string V4 = "\xC0\x00\x02\x01\xC0\x00\x02\x09\xC7\x38\x05\x99"s;  // .1 to .9, 51000
const std::string A4 = "192.0.2.1:51000";
const std::string V6 = "\x20\x01\x0D\xB8"s + std::string(11, '\0') + "\x01" +
                       std::string(16, '\x02') + "\x0F\xA0\x05\x99"s;  // 2001:db8::1, 4000

TEST(ProxyHeader, ParsesBothVersionsAndRefusesWhatIsNotOne) {
  const std::tuple<const char*, std::string, S, std::string> cases[] = {
      {"v1 TCP4", "PROXY TCP4 192.0.2.1 192.0.2.9 51000 1433\r\n", S::Proxied, A4},
      {"v1 TCP6", "PROXY TCP6 2001:db8::1 ::2 4000 1433\r\n", S::Proxied, "2001:db8::1:4000"},
      {"v1 UNKNOWN", "PROXY UNKNOWN ff:: 1.2.3.4\r\n", S::Local, ""},
      {"v1 of 107 bytes", "PROXY UNKNOWN " + std::string(91, 'x') + "\r\n", S::Local, ""},
      {"v1 of 108 bytes", "PROXY UNKNOWN " + std::string(92, 'x') + "\r\n", S::Malformed, ""},
      {"v1 no port", "PROXY TCP4 192.0.2.1 192.0.2.9 51000\r\n", S::Malformed, ""},
      {"v1 NUL", "PROXY TCP4 192.0.2.1\0 192.0.2.9 1 2\r\n"s, S::Malformed, ""},
      {"v2 TCP4, TLVs", v2(0x21, 0x11, V4 + "\x04\x00\x02xy\xEE\x00\x00"s), S::Proxied, A4},
      {"v2 TCP6", v2(0x21, 0x21, V6), S::Proxied, "2001:db8::1:4000"},
      {"v2 LOCAL", v2(0x20, 0x00, ""), S::Local, ""},
      {"v2 of 2048 bytes", v2(0x21, 0x11, V4 + "\x01\x07\xE1"s + std::string(2017, 'x')),
       S::Proxied, A4},
      {"v2 oversized", v2(0x21, 0x11, std::string(2033, '\0')).substr(0, 16), S::Malformed, ""},
      {"v2 TLV past the end", v2(0x21, 0x11, V4 + "\x04\x00\x03xy"s), S::Malformed, ""},
      {"wrong v2 signature", v2(0x21, 0x11, V4).replace(8, 1, "X"), S::Malformed, ""},
  };
  for (const auto& [name, bytes, status, source] : cases) {
    const ProxyHeader got = parse(bytes, bytes.size());
    EXPECT_EQ(got.status, status) << name << ": " << got.error;
    if (status == S::Malformed) continue;
    // What follows (a PRELOGIN) is left; every start, truncated, asks for more.
    const ProxyHeader followed = parse(bytes + "\x12\x01", bytes.size() + 2);
    EXPECT_EQ(followed.length, bytes.size()) << name;
    EXPECT_EQ(client(followed), source) << name;
    for (std::size_t n = 0; n < bytes.size(); ++n)
      EXPECT_EQ(parse(bytes, n).status, S::NeedMore) << name << ", " << n << " bytes";
  }
  EXPECT_TRUE(may_be("PRO") && may_be("\r\n\r\n\0\r\nQU"s));
  EXPECT_FALSE(may_be("\x12\x01") || may_be("\x16\x03") || may_be("\r\n\r\n\0\r\nQUIX"s));
}

TEST(ProxyNetworks, TrustsListedNetworksOnly) {
  const Networks networks = parse_networks("10.0.0.0/8,192.0.2.7,2001:db8:1::/48,::1,127.0.0.0/31");
  for (const char* peer : {"10.200.3.4", "192.0.2.7", "2001:db8:1:ff::9", "::1", "127.0.0.1"})
    EXPECT_TRUE(in_networks(networks, peer)) << peer;
  for (const char* peer : {"11.0.0.1", "192.0.2.8", "2001:db8:2::1", "::2", "127.0.0.2", "a00::1",
                           "fe80::1%eth0", "?"})
    EXPECT_FALSE(in_networks(networks, peer)) << peer;
  for (const char* bad : {"", "10.0.0.0/8,", "10.0.0.1/8", "10.0.0.0/33", "10.0.0.0/", "::/129",
                          "10.0.0.0/-1", "host.example", "10.0.0.0/8 "})
    EXPECT_THROW(parse_networks(bad), std::invalid_argument) << "'" << bad << "'";
}

}  // namespace
}  // namespace varrow::host::tds
