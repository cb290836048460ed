#include "tds/wire/proxy_header.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

namespace varrow::host::tds {
namespace {

constexpr std::uint8_t V1_SIGNATURE[] = {'P', 'R', 'O', 'X', 'Y', ' '};
constexpr std::uint8_t V2_SIGNATURE[] = {0x0D, 0x0A, 0x0D, 0x0A, 0x00, 0x0D,
                                         0x0A, 0x51, 0x55, 0x49, 0x54, 0x0A};
constexpr std::size_t V2_FIXED = 16;  // signature, version and command, family, length

// Version 2's second half-bytes: the command, and the family and transport.
constexpr std::uint8_t V2_VERSION = 0x2;
constexpr std::uint8_t V2_LOCAL = 0x0;
constexpr std::uint8_t V2_PROXY = 0x1;
constexpr std::uint8_t V2_UNSPEC = 0x00;
constexpr std::uint8_t V2_TCP4 = 0x11;  // AF_INET, STREAM
constexpr std::uint8_t V2_TCP6 = 0x21;  // AF_INET6, STREAM
constexpr std::uint8_t V2_UNIX_STREAM = 0x31;
// The address block of each: source and destination addresses, then ports.
constexpr std::size_t V2_TCP4_BLOCK = 4 + 4 + 2 + 2;
constexpr std::size_t V2_TCP6_BLOCK = 16 + 16 + 2 + 2;
constexpr std::size_t V2_TLV_HEADER = 3;  // type, 16-bit length

bool starts_like(const std::uint8_t* data, std::size_t size, const std::uint8_t* signature,
                 std::size_t signature_size) {
  return std::memcmp(data, signature, std::min(size, signature_size)) == 0;
}

ProxyHeader malformed(std::string why) {
  ProxyHeader header;
  header.status = ProxyStatus::Malformed;
  header.error = std::move(why);
  return header;
}

ProxyHeader local(std::size_t length) {
  ProxyHeader header;
  header.status = ProxyStatus::Local;
  header.length = length;
  return header;
}

// `address` (4 or 16 bytes) as text; IPv4 mapped into IPv6 as plain IPv4,
// as the server writes such peers.
std::string address_text(const std::uint8_t* address, bool v6) {
  char text[INET6_ADDRSTRLEN] = "";
  in6_addr a6{};
  if (v6) std::memcpy(&a6, address, sizeof a6);
  if (!v6 || IN6_IS_ADDR_V4MAPPED(&a6)) {
    ::inet_ntop(AF_INET, v6 ? address + 12 : address, text, sizeof text);
  } else {
    ::inet_ntop(AF_INET6, address, text, sizeof text);
  }
  return text;
}

ProxyHeader proxied(std::size_t length, const std::uint8_t* address, bool v6, std::uint16_t port) {
  ProxyHeader header;
  header.status = ProxyStatus::Proxied;
  header.length = length;
  header.source = address_text(address, v6);
  header.source_port = port;
  return header;
}

// A decimal port of version 1: 1 to 5 digits, at most 65535.
bool v1_port(std::string_view text, std::uint16_t& port) {
  if (text.empty() || text.size() > 5) return false;
  std::uint32_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<std::uint32_t>(c - '0');
  }
  if (value > 0xFFFF) return false;
  port = static_cast<std::uint16_t>(value);
  return true;
}

ProxyHeader parse_v1(const std::uint8_t* data, std::size_t size) {
  // The line ends at the first CR, which LF must follow, within the bound.
  std::size_t cr = 0;
  for (;; ++cr) {
    if (cr + 2 > MAX_PROXY_V1_HEADER) return malformed("a PROXY v1 header over 107 bytes");
    if (cr >= size) return ProxyHeader{};
    if (data[cr] == '\n') return malformed("a PROXY v1 header with a bare line feed");
    if (data[cr] == '\r') break;
  }
  if (cr + 1 >= size) return ProxyHeader{};
  if (data[cr + 1] != '\n') return malformed("a PROXY v1 header with a bare carriage return");
  const std::size_t length = cr + 2;

  // Words separated by single spaces: PROXY, the protocol, then for TCP4
  // and TCP6 source and destination addresses and ports.
  const std::string_view line(reinterpret_cast<const char*>(data), cr);
  if (std::any_of(line.begin(), line.end(), [](char c) { return c < ' ' || c > '~'; })) {
    return malformed("a PROXY v1 header with a control character");
  }
  std::vector<std::string_view> words;
  for (std::size_t at = 0;;) {
    const std::size_t space = line.find(' ', at);
    words.push_back(line.substr(at, space - at));
    if (space == std::string_view::npos) break;
    at = space + 1;
  }
  if (words[1] == "UNKNOWN") return local(length);  // the rest of the line means nothing
  const bool v6 = words[1] == "TCP6";
  if (!v6 && words[1] != "TCP4") return malformed("a PROXY v1 header of an unknown protocol");
  if (words.size() != 6) return malformed("a PROXY v1 header without its four fields");
  std::uint8_t source[16] = {};
  std::uint8_t destination[16] = {};
  std::uint16_t source_port = 0;
  std::uint16_t destination_port = 0;
  const int family = v6 ? AF_INET6 : AF_INET;
  if (::inet_pton(family, std::string(words[2]).c_str(), source) != 1 ||
      ::inet_pton(family, std::string(words[3]).c_str(), destination) != 1) {
    return malformed("a PROXY v1 header with an address not of its protocol");
  }
  if (!v1_port(words[4], source_port) || !v1_port(words[5], destination_port)) {
    return malformed("a PROXY v1 header with a port that is not one");
  }
  return proxied(length, source, v6, source_port);
}

ProxyHeader parse_v2(const std::uint8_t* data, std::size_t size) {
  if (size < V2_FIXED) return ProxyHeader{};
  const std::uint8_t version = data[12] >> 4;
  const std::uint8_t command = data[12] & 0x0F;
  if (version != V2_VERSION) return malformed("a PROXY v2 header of another version");
  if (command != V2_LOCAL && command != V2_PROXY) {
    return malformed("a PROXY v2 header with an unknown command");
  }
  const std::uint8_t family = data[13];
  const std::size_t length = V2_FIXED + (std::size_t{data[14]} << 8 | data[15]);
  if (length > MAX_PROXY_V2_HEADER) {
    return malformed("a PROXY v2 header of " + std::to_string(length) + " bytes, over " +
                     std::to_string(MAX_PROXY_V2_HEADER));
  }
  if (size < length) return ProxyHeader{};
  // LOCAL: whatever addresses follow are ignored. UNSPEC and UNIX name no
  // IP client: the connection's own peer stands.
  if (command == V2_LOCAL || family == V2_UNSPEC || family == V2_UNIX_STREAM) {
    return local(length);
  }
  if (family != V2_TCP4 && family != V2_TCP6) {
    return malformed("a PROXY v2 header of a family or transport other than TCP");
  }
  const bool v6 = family == V2_TCP6;
  const std::size_t block = v6 ? V2_TCP6_BLOCK : V2_TCP4_BLOCK;
  if (length - V2_FIXED < block) return malformed("a PROXY v2 header shorter than its addresses");
  const std::uint8_t* source = data + V2_FIXED;
  const std::size_t port_at = V2_FIXED + (v6 ? 32 : 8);
  const auto port = static_cast<std::uint16_t>(data[port_at] << 8 | data[port_at + 1]);
  // The extensions are skipped; each must lie whole inside the header.
  for (std::size_t at = V2_FIXED + block; at < length;) {
    if (length - at < V2_TLV_HEADER) return malformed("a PROXY v2 extension cut short");
    const std::size_t value = std::size_t{data[at + 1]} << 8 | data[at + 2];
    if (length - at - V2_TLV_HEADER < value) {
      return malformed("a PROXY v2 extension longer than the header");
    }
    at += V2_TLV_HEADER + value;
  }
  return proxied(length, source, v6, port);
}

}  // namespace

ProxyHeader parse_proxy_header(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return ProxyHeader{};
  if (starts_like(data, size, V2_SIGNATURE, sizeof V2_SIGNATURE)) return parse_v2(data, size);
  if (starts_like(data, size, V1_SIGNATURE, sizeof V1_SIGNATURE)) {
    return size < sizeof V1_SIGNATURE ? ProxyHeader{} : parse_v1(data, size);
  }
  return malformed("no PROXY header");
}

bool may_be_proxy_header(const std::uint8_t* data, std::size_t size) {
  return size > 0 && (starts_like(data, size, V2_SIGNATURE, sizeof V2_SIGNATURE) ||
                      starts_like(data, size, V1_SIGNATURE, sizeof V1_SIGNATURE));
}

}  // namespace varrow::host::tds
