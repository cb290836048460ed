#include "tds/wire/tokens.h"

#include <algorithm>

#include "text/codepage.h"

namespace varrow::host::tds {

void TokenWriter::envchange(std::uint8_t type, std::string_view new_value,
                            std::string_view old_value) {
  out_.u8(TOKEN_ENVCHANGE);
  const std::size_t length = out_.reserve_u16();
  out_.u8(type);
  out_.b_varchar(new_value);
  out_.b_varchar(old_value);
  out_.fill_u16(length, static_cast<std::uint16_t>(out_.size() - length - 2));
}

void TokenWriter::envchange_collation() {
  out_.u8(TOKEN_ENVCHANGE);
  out_.u16(8);
  out_.u8(ENV_COLLATION);
  out_.u8(sizeof DEFAULT_COLLATION);
  for (std::uint8_t b : DEFAULT_COLLATION)
    out_.u8(b);
  out_.u8(0);
}

void TokenWriter::loginack(std::uint32_t version) {
  out_.u8(TOKEN_LOGINACK);
  const std::size_t length = out_.reserve_u16();
  out_.u8(1);  // SQL interface
  out_.u32_be(version);
  out_.b_varchar("Varrow");
  // Major, minor and build (u16 BE) of the product, as @@VERSION and
  // SERVERPROPERTY('ProductVersion') give it: 11.0, the first release to
  // speak TDS 7.4, so that drivers reading it expect what varrowd speaks.
  out_.u8(11), out_.u8(0), out_.u8(0), out_.u8(0);
  out_.fill_u16(length, static_cast<std::uint16_t>(out_.size() - length - 2));
}

void TokenWriter::message(std::int32_t number, std::uint8_t state, std::uint8_t msg_class,
                          const Bytes& text_utf16, std::string_view procedure, std::uint32_t line) {
  out_.u8(msg_class <= MAX_INFO_CLASS ? TOKEN_INFO : TOKEN_ERROR);
  const std::size_t length = out_.reserve_u16();
  out_.u32(static_cast<std::uint32_t>(number));
  out_.u8(state);
  out_.u8(msg_class);
  // The text is at most a few hundred characters; longer would be cut here.
  const std::size_t characters = std::min<std::size_t>(text_utf16.size() / 2, 4000);
  out_.u16(static_cast<std::uint16_t>(characters));
  out_.bytes().insert(out_.bytes().end(), text_utf16.begin(),
                      text_utf16.begin() + static_cast<std::ptrdiff_t>(2 * characters));
  out_.b_varchar("varrowd");
  out_.b_varchar(procedure);
  if (wide_counts()) {
    out_.u32(line);
  } else {
    out_.u16(static_cast<std::uint16_t>(line));
  }
  out_.fill_u16(length, static_cast<std::uint16_t>(out_.size() - length - 2));
}

void TokenWriter::return_status(std::int32_t status) {
  out_.u8(TOKEN_RETURNSTATUS);
  out_.u32(static_cast<std::uint32_t>(status));
}

void TokenWriter::return_value(std::uint16_t ordinal, const Bytes& name_utf16, const TypeInfo& type,
                               const std::optional<Bytes>& value) {
  out_.u8(TOKEN_RETURNVALUE);
  out_.u16(ordinal);
  out_.b_varchar(name_utf16);
  out_.u8(PARAM_BY_REF);
  user_type();
  out_.u16(0);  // flags
  write_type_info(out_, type);
  write_value(out_, type, value);
}

void TokenWriter::done(std::uint8_t token, std::uint16_t status, std::uint64_t rows) {
  last_done_ = out_.size();
  wrote_done_ = true;
  out_.u8(token);
  out_.u16(status);
  out_.u16(0);
  if (wide_counts()) {
    out_.u64(rows);
  } else {
    out_.u32(static_cast<std::uint32_t>(rows));
  }
}

void TokenWriter::end_batch(bool failed) {
  const std::size_t done_size = wide_counts() ? 13 : 9;
  if (wrote_done_ && last_done_ + done_size == out_.size()) {
    out_.bytes()[last_done_ + 1] &= static_cast<std::uint8_t>(~DONE_MORE);
  } else {
    done(TOKEN_DONE, failed ? DONE_ERROR : DONE_FINAL);
  }
}

}  // namespace varrow::host::tds
