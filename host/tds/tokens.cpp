#include "tds/tokens.h"

#include <algorithm>

#include "text/codepage.h"

namespace varrow::host::tds {
namespace {

Bytes utf16(std::string_view utf8) {
  return utf8_to_utf16le(utf8).value_or(Bytes{});
}

// A result set column's wire type: long enough for its declared length and
// its values, never a MAX type.
TypeInfo column_type(const sql::ResultSet& result, std::size_t i) {
  const sql::SqlType& type = result.columns[i].type;
  TypeInfo t;
  if (type.base == sql::BaseType::Int) {
    t.type = TYPE_INTN;
    t.kind = LengthKind::Byte;
    t.max_length = 4;
    return t;
  }
  std::size_t length = type.max ? 1 : type.byte_length();
  for (const auto& row : result.rows) {
    if (row[i].bytes) length = std::max(length, row[i].bytes->size());
  }
  t.kind = LengthKind::UShort;
  t.max_length = static_cast<std::uint32_t>(std::clamp<std::size_t>(length, 1, NON_MAX_BYTE_LIMIT));
  if (type.base == sql::BaseType::VarBinary) {
    t.type = TYPE_BIGVARBINARY;
  } else {
    t.type = type.is_national() ? TYPE_NVARCHAR : TYPE_BIGVARCHAR;
    t.collation.assign(std::begin(DEFAULT_COLLATION), std::end(DEFAULT_COLLATION));
  }
  return t;
}

}  // namespace

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

bool TokenOutput::result_set(const sql::ResultSet& result) {
  // COLMETADATA counts columns in a u16 and a name's characters in a u8; the
  // batch language stays far below both (4096 columns, 128 characters).
  for (const auto& column : result.columns) {
    if (result.columns.size() > sql::MAX_COLUMNS || utf16(column.name).size() / 2 > 255) {
      return error(sql::StatementError{
          TOO_MANY_COLUMNS, 16, "The result set has too many or too long columns.", {}});
    }
  }
  // What the tokens will take, roughly: the values, and a few bytes for each
  // column, row and value.
  std::size_t adding = 64;
  for (const auto& column : result.columns)
    adding += 32 + 2 * column.name.size();
  for (const auto& row : result.rows) {
    adding += 1;
    for (const auto& value : row)
      adding +=
          2 + (value.bytes ? std::min<std::size_t>(value.bytes->size(), NON_MAX_BYTE_LIMIT) : 0);
  }
  if (!make_room(adding)) return false;
  Writer& raw = out_.raw();
  std::vector<TypeInfo> types;
  raw.u8(TOKEN_COLMETADATA);
  raw.u16(static_cast<std::uint16_t>(result.columns.size()));
  for (std::size_t i = 0; i < result.columns.size(); ++i) {
    types.push_back(column_type(result, i));
    out_.user_type();
    raw.u16(COLUMN_NULLABLE);
    write_type_info(raw, types.back());
    raw.b_varchar(utf16(result.columns[i].name));
  }
  for (const auto& row : result.rows) {
    raw.u8(TOKEN_ROW);
    for (std::size_t i = 0; i < row.size(); ++i) {
      std::optional<Bytes> value = row[i].bytes;
      if (value && value->size() > NON_MAX_BYTE_LIMIT) value->resize(NON_MAX_BYTE_LIMIT);
      write_value(raw, types[i], value);
    }
  }
  out_.done(done_token(), DONE_MORE | DONE_COUNT, result.rows.size());
  return true;
}

bool TokenOutput::make_room(std::size_t adding) {
  if (full_ || out_.bytes().size() + adding > max_reply_) full_ = true;
  return !full_;
}

bool TokenOutput::message(const sql::ProcedureMessage& m) {
  if (!make_room(m.text.size() * 2 + m.procedure.size() * 2 + 32)) return false;
  if (m.msg_class > MAX_INFO_CLASS) error_sent_ = true;
  out_.message(m.number, m.state, m.msg_class, utf16(m.text), m.procedure,
               static_cast<std::uint32_t>(m.line));
  return true;
}

bool TokenOutput::print(std::string_view text) {
  if (!make_room(text.size() * 2 + 32)) return false;
  out_.message(0, 1, 0, utf16(text), "", 1);
  return true;
}

bool TokenOutput::error(const sql::StatementError& e) {
  if (!make_room(e.text.size() * 2 + 32)) return false;
  failed = true;
  out_.message(e.number, 1, e.error_class, utf16(e.text), "",
               static_cast<std::uint32_t>(e.at.line));
  out_.done(done_token(), DONE_MORE | DONE_ERROR);
  return true;
}

bool TokenOutput::procedure_done(const std::string&, std::int32_t status) {
  if (!make_room(32)) return false;
  const std::uint16_t error = error_sent_ ? DONE_ERROR : 0;
  error_sent_ = false;
  if (scope_ == Scope::Procedure) {
    out_.done(TOKEN_DONEINPROC, DONE_MORE | error);
    return true;
  }
  out_.return_status(status);
  out_.done(TOKEN_DONEPROC, DONE_MORE | error);
  return true;
}

void reply_too_large(TokenWriter& out, std::uint8_t done_token) {
  const std::string text = "The reply would grow past " + std::to_string(MAX_REPLY >> 20) +
                           " MiB; the rest of the request was not run.";
  out.message(REPLY_TOO_LARGE, 1, 16, utf16(text), "", 1);
  out.done(done_token, DONE_ERROR);
}

}  // namespace varrow::host::tds
