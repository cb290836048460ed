#include "tds/wire/login.h"

#include "tds/wire/packets.h"

#include "text/codepage.h"

namespace varrow::host::tds {
namespace {

// LOGIN7 field offsets.
constexpr std::size_t FIXED_SIZE = 36;
constexpr std::size_t OFFSET_USER = 40;
constexpr std::size_t OFFSET_PASSWORD = 44;
constexpr std::size_t OFFSET_APP_NAME = 48;
constexpr std::size_t OFFSET_DATABASE = 68;
constexpr std::uint8_t OPTION2_INTEGRATED_SECURITY = 0x80;

// An (offset, character count) string of the variable part.
Bytes field(const Bytes& payload, std::size_t at) {
  Reader where(payload.data() + at, 4);
  const std::size_t offset = where.u16();
  const std::size_t characters = where.u16();
  if (offset > payload.size() || 2 * characters > payload.size() - offset) {
    throw ProtocolError("LOGIN7 field out of range");
  }
  return Bytes(payload.begin() + static_cast<std::ptrdiff_t>(offset),
               payload.begin() + static_cast<std::ptrdiff_t>(offset + 2 * characters));
}

}  // namespace

Bytes prelogin_reply(std::uint16_t spid, std::uint8_t encryption) {
  // Option, offset and length of each, then the values; offsets count from
  // the start of the payload.
  const Bytes payload{
      0x00,       0x00, 0x1A, 0x00, 0x06,        // VERSION
      0x01,       0x00, 0x20, 0x00, 0x01,        // ENCRYPTION
      0x02,       0x00, 0x21, 0x00, 0x01,        // INSTOPT
      0x03,       0x00, 0x22, 0x00, 0x00,        // THREADID (empty)
      0x04,       0x00, 0x22, 0x00, 0x01,        // MARS
      0xFF,                                      // terminator
      0x0F,       0x00, 0x07, 0xD0, 0x00, 0x00,  // 15.0.2000
      encryption,                                // ENCRYPTION
      0x00,                                      // instance accepted
      0x00,                                      // MARS off
  };
  return packetize(PACKET_REPLY, payload, DEFAULT_PACKET_SIZE, spid);
}

std::uint8_t prelogin_encryption(const Bytes& payload) {
  constexpr std::uint8_t OPTION_ENCRYPTION = 0x01;
  constexpr std::uint8_t TERMINATOR = 0xFF;
  Reader options(payload);
  for (;;) {
    const std::uint8_t token = options.u8();
    if (token == TERMINATOR) return ENCRYPT_NOT_SUP;
    const std::size_t offset = options.u16_be();
    const std::size_t length = options.u16_be();
    if (offset > payload.size() || length > payload.size() - offset) {
      throw ProtocolError("PRELOGIN option out of range");
    }
    if (token != OPTION_ENCRYPTION || length == 0) continue;
    const std::uint8_t value = payload[offset] & ~ENCRYPT_CLIENT_CERT;
    if (value > ENCRYPT_REQ) throw ProtocolError("unknown PRELOGIN ENCRYPTION value");
    return value;
  }
}

Negotiated negotiate_encryption(Encryption server, std::uint8_t client) {
  switch (server) {
    case Encryption::Off:
      // A client that insists ends the connection itself on this answer.
      return {ENCRYPT_NOT_SUP, EncryptionOutcome::Clear};
    case Encryption::Optional:
      if (client == ENCRYPT_OFF) return {ENCRYPT_OFF, EncryptionOutcome::LoginOnly};
      if (client == ENCRYPT_NOT_SUP) return {ENCRYPT_NOT_SUP, EncryptionOutcome::Clear};
      return {ENCRYPT_ON, EncryptionOutcome::Full};
    case Encryption::Required:
      break;
  }
  // Even a client that offered to encrypt the login alone encrypts it all.
  if (client == ENCRYPT_NOT_SUP) return {ENCRYPT_REQ, EncryptionOutcome::Refuse};
  return {ENCRYPT_REQ, EncryptionOutcome::Full};
}

LoginRequest parse_login7(const Bytes& payload) {
  if (payload.size() < FIXED_SIZE + 9 * 4) throw ProtocolError("LOGIN7 too short");
  Reader fixed(payload);
  const std::uint32_t length = fixed.u32();
  if (length > payload.size()) throw ProtocolError("LOGIN7 length past the message");
  LoginRequest login;
  login.client_version = fixed.u32();
  login.packet_size = fixed.u32();
  fixed.skip(13);  // program version, process, connection, option flags 1
  login.integrated_security = (fixed.u8() & OPTION2_INTEGRATED_SECURITY) != 0;

  login.user = std::string(utf16le_to_utf8(field(payload, OFFSET_USER)));
  Bytes password = field(payload, OFFSET_PASSWORD);
  for (std::uint8_t& b : password) {
    b ^= 0xA5;
    b = static_cast<std::uint8_t>(b << 4 | b >> 4);
  }
  login.password = utf16le_to_utf8(password);
  login.database = std::string(utf16le_to_utf8(field(payload, OFFSET_DATABASE)));
  login.app_name = std::string(utf16le_to_utf8(field(payload, OFFSET_APP_NAME)));
  return login;
}

std::uint32_t negotiated_version(std::uint32_t client_version) {
  switch (client_version >> 24) {
    case 0x71:
      return TDS_7_1;
    case 0x72:
      return TDS_7_2;
    case 0x73:
      return TDS_7_3;
    default:
      return client_version >> 24 >= 0x74 ? TDS_7_4 : 0;
  }
}

}  // namespace varrow::host::tds
