// The start of a connection: the PRELOGIN exchange and the LOGIN7 request.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "tds/wire/reader_writer.h"

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

// What a connection may send before it has logged in. A PRELOGIN is a few
// dozen bytes and a flight of the TLS handshake inside PRELOGIN packets a few
// KB: 64 KiB is room enough for either. A LOGIN7 reaches its fields through
// 16-bit offsets, and the field at the last offset holds at most 65535 bytes
// (cbSSPI): MS-TDS bounds the whole at 128 KiB less one byte.
inline constexpr std::size_t MAX_PRELOGIN_MESSAGE = 64 * 1024;
inline constexpr std::size_t MAX_LOGIN_MESSAGE = 128 * 1024 - 1;

// Values of the PRELOGIN ENCRYPTION option, in both directions.
inline constexpr std::uint8_t ENCRYPT_OFF = 0x00;          // available, login only
inline constexpr std::uint8_t ENCRYPT_ON = 0x01;           // the whole connection
inline constexpr std::uint8_t ENCRYPT_NOT_SUP = 0x02;      // cannot encrypt
inline constexpr std::uint8_t ENCRYPT_REQ = 0x03;          // insists on encryption
inline constexpr std::uint8_t ENCRYPT_CLIENT_CERT = 0x80;  // flag: client certificate

// The reply to a PRELOGIN, as packets, wherever the PRELOGIN was read (in
// clear, or inside TDS 8.0's TLS): version, the ENCRYPTION answer, instance
// accepted, no MARS.
Bytes prelogin_reply(std::uint16_t spid, std::uint8_t encryption = ENCRYPT_NOT_SUP);

// The client's ENCRYPTION value from its PRELOGIN payload, without the
// client-certificate flag; ENCRYPT_NOT_SUP when the option is absent. An
// option table that points outside the payload, or a value that means
// nothing, is a ProtocolError.
std::uint8_t prelogin_encryption(const Bytes& payload);

// What the server offers: no TLS, TLS when the client wants it, or TLS on
// every connection.
enum class Encryption { Off, Optional, Required };

// What the PRELOGIN exchange decided for the rest of the connection.
enum class EncryptionOutcome {
  Clear,      // no TLS at all
  LoginOnly,  // TLS handshake, LOGIN7 inside TLS, then clear again
  Full,       // TLS handshake, then everything inside TLS
  Refuse,     // the client cannot encrypt and the server insists
};

struct Negotiated {
  std::uint8_t answer;  // the server's ENCRYPTION value
  EncryptionOutcome outcome;
};

// The server's answer to the client's ENCRYPTION value, and its outcome.
Negotiated negotiate_encryption(Encryption server, std::uint8_t client);

struct LoginRequest {
  std::uint32_t client_version = 0;  // as the client sent it
  std::uint32_t packet_size = 0;
  bool integrated_security = false;
  std::string user;       // UTF-8
  SecretString password;  // UTF-8, decoded
  std::string database;   // UTF-8
  std::string app_name;   // UTF-8, the client application's own name (APP_NAME())
  std::string host_name;  // UTF-8, the client's machine, as HOST_NAME() reports it
};

// Parses a LOGIN7 payload; every offset and length is checked against the
// payload first. Throws ProtocolError.
LoginRequest parse_login7(const Bytes& payload);

// The version to answer with: the lower of the client's and 7.4, or 0 when
// the client asks for less than 7.1.
std::uint32_t negotiated_version(std::uint32_t client_version);

}  // namespace varrow::host::tds
