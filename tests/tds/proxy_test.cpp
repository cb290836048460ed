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
  const std::string signature("\r\n\r\n\0\r\nQUIT\n", 12);
  return signature + char(command) + char(family) + char(body.size() >> 8) + char(body.size()) +
         body;
}

const std::string V4_BLOCK = "\xC0\x00\x02\x01\xC0\x00\x02\x09\xC7\x38\x05\x99"s;
const std::string V6_BLOCK = "\x20\x01\x0D\xB8"s + std::string(11, '\0') + "\x01" +
                             std::string(16, '\x02') + "\x0F\xA0\x05\x99"s;
const std::string V1_TCP4 = "PROXY TCP4 192.0.2.1 192.0.2.9 51000 1433\r\n";

struct Case {
  const char* name;
  std::string bytes;
  S status;
  std::size_t length = 0;  // of a header; 0: all of `bytes`
  std::string source = "";
  std::uint16_t port = 0;
};

TEST(ProxyHeader, ParsesBothVersionsAndRefusesWhatIsNotOne) {
  const Case cases[] = {
      {"v1 TCP4, a PRELOGIN after it", V1_TCP4 + "\x12\x01", S::Proxied, V1_TCP4.size(),
       "192.0.2.1", 51000},
      {"v1 TCP6", "PROXY TCP6 2001:db8::1 2001:db8::2 4000 1433\r\n", S::Proxied, 0, "2001:db8::1",
       4000},
      {"v1 TCP6 of a mapped IPv4", "PROXY TCP6 ::ffff:192.0.2.7 ::1 1 2\r\n", S::Proxied, 0,
       "192.0.2.7", 1},
      {"v1 UNKNOWN", "PROXY UNKNOWN ff:: 1.2.3.4\r\n", S::Local},
      {"v1 of 107 bytes", "PROXY UNKNOWN " + std::string(91, 'x') + "\r\n", S::Local},
      {"v1 of 108 bytes", "PROXY UNKNOWN " + std::string(92, 'x') + "\r\n", S::Malformed},
      {"v1 without its end, 106 bytes", "PROXY TCP4 " + std::string(95, '1'), S::Malformed},
      {"v1 cut short", "PROXY TCP4 192.0.2.1 19", S::NeedMore},
      {"v1 before its LF", "PROXY TCP4 192.0.2.1 192.0.2.9 1 2\r", S::NeedMore},
      {"v1 signature cut short", "PROX", S::NeedMore},
      {"v1 missing a port", "PROXY TCP4 192.0.2.1 192.0.2.9 51000\r\n", S::Malformed},
      {"v1 IPv6 as TCP4", "PROXY TCP4 2001:db8::1 192.0.2.9 1 2\r\n", S::Malformed},
      {"v1 port past 65535", "PROXY TCP4 192.0.2.1 192.0.2.9 65536 2\r\n", S::Malformed},
      {"v1 two spaces", "PROXY TCP4  192.0.2.1 192.0.2.9 1 2\r\n", S::Malformed},
      {"v1 bare LF", "PROXY TCP4 192.0.2.1 192.0.2.9 1 2\n", S::Malformed},
      {"v1 NUL in an address", "PROXY TCP4 192.0.2.1\0 192.0.2.9 1 2\r\n"s, S::Malformed},
      {"v1 UDP4", "PROXY UDP4 192.0.2.1 192.0.2.9 1 2\r\n", S::Malformed},
      {"v2 TCP4 with extensions", v2(0x21, 0x11, V4_BLOCK + "\x04\x00\x02xy\xEE\x00\x00"s),
       S::Proxied, 0, "192.0.2.1", 51000},
      {"v2 TCP6, a ClientHello after it", v2(0x21, 0x21, V6_BLOCK) + "\x16\x03\x01", S::Proxied, 52,
       "2001:db8::1", 4000},
      {"v2 LOCAL", v2(0x20, 0x00, ""), S::Local},
      {"v2 LOCAL with addresses", v2(0x20, 0x11, V4_BLOCK), S::Local},
      {"v2 UNSPEC", v2(0x21, 0x00, "\x01\x00\x00"s), S::Local},
      {"v2 fixed part cut short", v2(0x21, 0x11, V4_BLOCK).substr(0, 15), S::NeedMore},
      {"v2 addresses cut short", v2(0x21, 0x11, V4_BLOCK).substr(0, 27), S::NeedMore},
      {"v2 oversized, only its start sent", v2(0x21, 0x11, std::string(2033, '\0')).substr(0, 16),
       S::Malformed},
      {"v2 of the greatest size",
       v2(0x21, 0x11, V4_BLOCK + "\x01\x07\xE1"s + std::string(2017, 'x')), S::Proxied, 0,
       "192.0.2.1", 51000},
      {"v2 extension past the end", v2(0x21, 0x11, V4_BLOCK + "\x04\x00\x03xy"s), S::Malformed},
      {"v2 extension header cut", v2(0x21, 0x11, V4_BLOCK + "\x04\x00"s), S::Malformed},
      {"v2 block shorter than TCP4's", v2(0x21, 0x11, V4_BLOCK.substr(0, 11)), S::Malformed},
      {"v2 UDP", v2(0x21, 0x12, V4_BLOCK), S::Malformed},
      {"v2 version 1", v2(0x11, 0x11, V4_BLOCK), S::Malformed},
      {"v2 command 2", v2(0x22, 0x11, V4_BLOCK), S::Malformed},
      {"a PRELOGIN", "\x12\x01\x00\x2F\x00\x00\x01\x00"s, S::Malformed},
      {"a wrong v2 signature", v2(0x21, 0x11, V4_BLOCK).replace(8, 1, "X"), S::Malformed},
      {"lower case v1", "proxy TCP4 192.0.2.1 192.0.2.9 1 2\r\n", S::Malformed},
  };
  for (const Case& c : cases) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(c.bytes.data());
    const ProxyHeader got = parse_proxy_header(data, c.bytes.size());
    EXPECT_EQ(got.status, c.status) << c.name << ": " << got.error;
    if (c.status != S::Malformed) {
      EXPECT_TRUE(may_be_proxy_header(data, c.bytes.size())) << c.name;
    }
    if (c.status != S::Proxied && c.status != S::Local) continue;
    const std::size_t length = c.length ? c.length : c.bytes.size();
    EXPECT_EQ(got.length, length) << c.name;
    EXPECT_EQ(got.source, c.source) << c.name;
    EXPECT_EQ(got.source_port, c.port) << c.name;
    // Every start of a valid header asks for more, so that the reader never
    // takes the bytes after it.
    for (std::size_t n = 0; n < length; ++n)
      EXPECT_EQ(parse_proxy_header(data, n).status, S::NeedMore) << c.name << ", " << n << " bytes";
  }
  for (const std::string& other : {"\x12\x01"s, "\x16\x03"s, "\x10\x01"s, "\r\n\r\n\0\r\nQUIX"s})
    EXPECT_FALSE(
        may_be_proxy_header(reinterpret_cast<const std::uint8_t*>(other.data()), other.size()));
}

TEST(ProxyNetworks, TrustsListedNetworksOnly) {
  const Networks networks = parse_networks("10.0.0.0/8,192.0.2.7,2001:db8:1::/48,::1");
  const std::pair<const char*, bool> peers[] = {
      {"10.200.3.4", true},
      {"11.0.0.1", false},
      {"192.0.2.7", true},
      {"192.0.2.8", false},
      {"2001:db8:1:ff::9", true},
      {"2001:db8:2::1", false},
      {"::1", true},
      {"::2", false},
      {"fe80::1%eth0", false},
      {"::ffff:10.0.0.1", false},
      {"?", false},
  };
  for (const auto& [peer, trusted] : peers)
    EXPECT_EQ(in_networks(networks, peer), trusted) << peer;
  EXPECT_TRUE(in_networks(parse_networks("0.0.0.0/0"), "203.0.113.1"));
  EXPECT_FALSE(in_networks(parse_networks("0.0.0.0/0"), "2001:db8::1")) << "IPv4 only";
  EXPECT_TRUE(in_networks(parse_networks("127.0.0.0/31"), "127.0.0.1"));
  EXPECT_FALSE(in_networks(parse_networks("127.0.0.0/31"), "127.0.0.2"));
  for (const char* bad : {"", "10.0.0.0/8,", "10.0.0.1/8", "10.0.0.0/33", "10.0.0.0/",
                          "10.0.0.0/-1", "::/129", "host.example", "10.0.0.0/8 "}) {
    EXPECT_THROW(parse_networks(bad), std::invalid_argument) << "'" << bad << "'";
  }
}

}  // namespace
}  // namespace varrow::host::tds
