// The PROXY protocol header (versions 1 and 2, as HAProxy defines them)
// that a TCP load balancer sends before the client's own bytes, to say
// whom it is passing on. Parsed from the bytes that have arrived, without
// reading past the header: whatever follows it (a PRELOGIN, a TLS
// ClientHello) belongs to the connection.
//
//   v1: "PROXY TCP4 192.0.2.1 192.0.2.9 51000 1433\r\n", text, at most 107 bytes;
//       "PROXY UNKNOWN ...\r\n" names no client.
//   v2: a 12-byte signature, version and command, family and transport, a
//       16-bit big-endian length, then that many bytes: the addresses and
//       ports (big-endian), then type-length-value extensions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace varrow::host::tds {

// Version 1 bounds its line, CR LF included, at 107 bytes. Version 2 bounds
// nothing; a header longer than this (a balancer's extensions are a few
// dozen bytes) is refused as oversized.
inline constexpr std::size_t MAX_PROXY_V1_HEADER = 107;
inline constexpr std::size_t MAX_PROXY_V2_HEADER = 2048;
inline constexpr std::size_t MAX_PROXY_HEADER = MAX_PROXY_V2_HEADER;

enum class ProxyStatus {
  NeedMore,   // a valid start of a header; its end has not arrived yet
  Malformed,  // not a header, or a broken or oversized one
  Proxied,    // a header naming the client
  Local,      // a header naming no client: v2 LOCAL (the balancer's own
              // connection, such as a health check), v1 UNKNOWN, or a v2
              // family with no IP address; the TCP peer stands for itself
};

struct ProxyHeader {
  ProxyStatus status = ProxyStatus::NeedMore;
  std::size_t length = 0;  // Proxied, Local: the header's bytes, to be consumed
  std::string source;      // Proxied: the client's address, numeric; an IPv4
                           // address mapped into IPv6 as plain IPv4
  std::uint16_t source_port = 0;
  std::string error;  // Malformed: why, for the log
};

// Parses the header at the start of `data` (`size` bytes arrived so far).
// Never reads past `size`, nor past the header's end. While NeedMore, all
// `size` bytes belong to the header.
ProxyHeader parse_proxy_header(const std::uint8_t* data, std::size_t size);

// True when the `size` bytes (at least one) could begin a PROXY header of
// either version. A TDS connection starts with 0x12 (PRELOGIN), 0x10
// (LOGIN7) or 0x16 (a TLS ClientHello), none of which a header starts with.
bool may_be_proxy_header(const std::uint8_t* data, std::size_t size);

}  // namespace varrow::host::tds
