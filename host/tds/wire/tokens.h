// The tokens of a reply. Fields whose width depends on the version (row
// counts, line numbers, user types) follow the version in effect.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "tds/wire/codes.h"
#include "tds/wire/login.h"
#include "tds/wire/reader_writer.h"
#include "tds/wire/type_codec.h"

namespace varrow::host::tds {

class TokenWriter {
 public:
  // Room for an ordinary reply up front: most replies are a few hundred bytes.
  explicit TokenWriter(std::uint32_t version) : version_(version) { out_.bytes().reserve(512); }

  Bytes& bytes() { return out_.bytes(); }
  Writer& raw() { return out_; }
  bool wide_counts() const { return from_7_2(version_); }
  std::uint32_t version() const { return version_; }

  void envchange(std::uint8_t type, std::string_view new_value, std::string_view old_value);
  void envchange_collation();
  void loginack(std::uint32_t version);
  // INFO (class 10 or less) or ERROR, text as UTF-16LE.
  void message(std::int32_t number, std::uint8_t state, std::uint8_t msg_class,
               const Bytes& text_utf16, std::string_view procedure, std::uint32_t line);
  void return_status(std::int32_t status);
  // The value of OUTPUT parameter `ordinal` (from 0), named as the client
  // named it (UTF-16LE).
  void return_value(std::uint16_t ordinal, const Bytes& name_utf16, const TypeInfo& type,
                    const std::optional<Bytes>& value);
  void done(std::uint8_t token, std::uint16_t status, std::uint64_t rows = 0);
  // Ends a batch's reply. Every statement already ended with its own DONE
  // (or DONEPROC) carrying DONE_MORE: the last of them, when nothing came
  // after it, becomes the final one by losing DONE_MORE, as SQL Server ends
  // a batch. Only when the batch sent no DONE of its own, or a message
  // followed the last one, a final DONE closes the reply (with DONE_ERROR
  // when `failed`). An extra empty DONE after the last statement's would
  // read as one more result: FreeTDS's ODBC driver then cancels the request
  // with ATTENTION before its next statement.
  void end_batch(bool failed);
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
  std::size_t last_done_ = 0;  // where the last DONE* token starts
  bool wrote_done_ = false;
};

}  // namespace varrow::host::tds
