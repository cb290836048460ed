// The networks whose connections begin with a PROXY header
// (--proxy-protocol-from): the load balancers that pass clients on.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace varrow::host::tds {

struct Network {
  bool v6 = false;
  std::array<std::uint8_t, 16> prefix{};  // 4 bytes used for IPv4
  int bits = 0;                           // of the prefix
};
using Networks = std::vector<Network>;

// Networks separated by commas, each an IPv4 or IPv6 address with an
// optional "/bits" (without it, that one address): "10.0.0.0/8,fd00::/8".
// Throws std::invalid_argument naming the entry that is not one, or one
// with bits set past its prefix ("10.0.0.1/8").
Networks parse_networks(std::string_view list);

// True when `address` (numeric, as the server writes a peer: IPv4 mapped
// into IPv6 as plain IPv4) lies in one of `networks`.
bool in_networks(const Networks& networks, const std::string& address);

}  // namespace varrow::host::tds
