// The start of a connection: the PRELOGIN exchange and the LOGIN7 request.
#pragma once

#include <cstdint>
#include <string>

#include "tds/wire.h"

namespace varrow::host::tds {

// TDS versions as LOGINACK carries them.
inline constexpr std::uint32_t TDS_7_1 = 0x71000001;
inline constexpr std::uint32_t TDS_7_2 = 0x72090002;
inline constexpr std::uint32_t TDS_7_3 = 0x730B0003;
inline constexpr std::uint32_t TDS_7_4 = 0x74000004;

// From 7.2 on, row counts and line numbers are wider, MAX types exist and
// requests begin with ALL_HEADERS.
constexpr bool from_7_2(std::uint32_t version) {
  return version >= 0x72000000;
}

// The PRELOGIN reply: version, no encryption, instance accepted, no MARS.
Bytes prelogin_reply();

struct LoginRequest {
  std::uint32_t client_version = 0;  // as the client sent it
  std::uint32_t packet_size = 0;
  bool integrated_security = false;
  std::string user;      // UTF-8
  std::string password;  // UTF-8, decoded
  std::string database;  // UTF-8
};

// Parses a LOGIN7 payload; every offset and length is checked against the
// payload first. Throws ProtocolError.
LoginRequest parse_login7(const Bytes& payload);

// The version to answer with: the lower of the client's and 7.4, or 0 when
// the client asks for less than 7.1.
std::uint32_t negotiated_version(std::uint32_t client_version);

}  // namespace varrow::host::tds
