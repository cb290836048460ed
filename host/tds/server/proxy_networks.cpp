#include "tds/server/proxy_networks.h"

#include <arpa/inet.h>

#include <stdexcept>

namespace varrow::host::tds {
namespace {

// Whether the first `bits` bits of `a` and `b` agree.
bool same_prefix(const std::uint8_t* a, const std::uint8_t* b, int bits) {
  for (int i = 0; bits > 0; ++i, bits -= 8) {
    const auto mask = static_cast<std::uint8_t>(bits >= 8 ? 0xFF : 0xFF << (8 - bits));
    if ((a[i] & mask) != (b[i] & mask)) return false;
  }
  return true;
}

Network parse_network(std::string_view entry) {
  const auto bad = [&](const std::string& why) {
    return std::invalid_argument("--proxy-protocol-from: '" + std::string(entry) + "' " + why);
  };
  const std::size_t slash = entry.find('/');
  const std::string address(entry.substr(0, slash));
  Network network;
  if (::inet_pton(AF_INET, address.c_str(), network.prefix.data()) != 1) {
    if (::inet_pton(AF_INET6, address.c_str(), network.prefix.data()) != 1) {
      throw bad("is not an IPv4 or IPv6 network");
    }
    network.v6 = true;
  }
  const int most = network.v6 ? 128 : 32;
  network.bits = most;
  if (slash != std::string_view::npos) {
    const std::string_view bits = entry.substr(slash + 1);
    if (bits.empty() || bits.size() > 3 || bits.find_first_not_of("0123456789") != bits.npos ||
        std::stoi(std::string(bits)) > most) {
      throw bad("has no prefix length from 0 to " + std::to_string(most));
    }
    network.bits = std::stoi(std::string(bits));
  }
  for (int bit = network.bits; bit < most; ++bit) {
    if (network.prefix[bit / 8] & (0x80 >> (bit % 8))) throw bad("has bits set past its prefix");
  }
  return network;
}

}  // namespace

Networks parse_networks(std::string_view list) {
  Networks networks;
  for (std::size_t at = 0;;) {
    const std::size_t comma = list.find(',', at);
    networks.push_back(parse_network(list.substr(at, comma - at)));
    if (comma == std::string_view::npos) return networks;
    at = comma + 1;
  }
}

bool in_networks(const Networks& networks, const std::string& address) {
  std::uint8_t bytes[16] = {};
  // A link-local peer's zone ("%eth0") is no part of its address.
  const std::string bare = address.substr(0, address.find('%'));
  const bool v4 = ::inet_pton(AF_INET, bare.c_str(), bytes) == 1;
  if (!v4 && ::inet_pton(AF_INET6, bare.c_str(), bytes) != 1) return false;
  for (const Network& network : networks) {
    if (network.v6 != !v4) continue;
    if (same_prefix(bytes, network.prefix.data(), network.bits)) return true;
  }
  return false;
}

}  // namespace varrow::host::tds
