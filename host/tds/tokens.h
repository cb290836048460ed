// The tokens of a reply. Fields whose width depends on the version (row
// counts, line numbers, user types) follow the version in effect.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "tds/login.h"
#include "tds/wire.h"

namespace varrow::host::tds {

// Token types.
inline constexpr std::uint8_t TOKEN_RETURNSTATUS = 0x79;
inline constexpr std::uint8_t TOKEN_COLMETADATA = 0x81;
inline constexpr std::uint8_t TOKEN_ERROR = 0xAA;
inline constexpr std::uint8_t TOKEN_INFO = 0xAB;
inline constexpr std::uint8_t TOKEN_RETURNVALUE = 0xAC;
inline constexpr std::uint8_t TOKEN_LOGINACK = 0xAD;
inline constexpr std::uint8_t TOKEN_ROW = 0xD1;
inline constexpr std::uint8_t TOKEN_ENVCHANGE = 0xE3;
inline constexpr std::uint8_t TOKEN_DONE = 0xFD;
inline constexpr std::uint8_t TOKEN_DONEPROC = 0xFE;
inline constexpr std::uint8_t TOKEN_DONEINPROC = 0xFF;

// DONE status bits.
inline constexpr std::uint16_t DONE_FINAL = 0x00;
inline constexpr std::uint16_t DONE_MORE = 0x01;
inline constexpr std::uint16_t DONE_ERROR = 0x02;
inline constexpr std::uint16_t DONE_COUNT = 0x10;
inline constexpr std::uint16_t DONE_ATTENTION = 0x20;

// SQL_Latin1_General_CP1_CI_AS: code page 1252.
inline constexpr std::uint8_t DEFAULT_COLLATION[5] = {0x09, 0x04, 0xD0, 0x00, 0x34};

class TokenWriter {
 public:
  // Room for an ordinary reply up front: most replies are a few hundred bytes.
  explicit TokenWriter(std::uint32_t version) : version_(version) { out_.bytes().reserve(512); }

  Bytes& bytes() { return out_.bytes(); }
  Writer& raw() { return out_; }
  bool wide_counts() const { return from_7_2(version_); }

  void envchange(std::uint8_t type, std::string_view new_value, std::string_view old_value);
  void envchange_collation();
  void loginack(std::uint32_t version);
  // INFO (class 10 or less) or ERROR, text as UTF-16LE.
  void message(std::int32_t number, std::uint8_t state, std::uint8_t msg_class,
               const Bytes& text_utf16, std::string_view procedure, std::uint32_t line);
  void return_status(std::int32_t status);
  void done(std::uint8_t token, std::uint16_t status, std::uint64_t rows = 0);
  void user_type() {
    if (wide_counts()) {
      out_.u32(0);
    } else {
      out_.u16(0);
    }
  }

 private:
  std::uint32_t version_;
  Writer out_;
};

}  // namespace varrow::host::tds
