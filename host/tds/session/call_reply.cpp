#include "tds/session/call_reply.h"

#include <algorithm>

#include "sql/datetime.h"
#include "sql/error_numbers.h"
#include "tds/session/error_numbers.h"
#include "tds/wire/login.h"
#include "text/codepage.h"

namespace varrow::host::tds {
namespace {

// DATETIME2's scale: 100-nanosecond ticks, seven fractional digits.
constexpr std::uint8_t DATETIME2_SCALE = 7;
constexpr std::int64_t TICKS_PER_DAY = 864'000'000'000;
// The longest text of a date: "2024-01-05 01:02:03.1234567".
constexpr std::size_t DATE_TEXT_BYTES = 2 * 27;

// A result set column's wire type: long enough for its declared length and
// its values, never a MAX type. DATETIME2 is a type from TDS 7.3 on; an
// older client gets its text, as the server sends a type the client does
// not know.
TypeInfo column_type(const sql::ResultSet& result, std::size_t i, std::uint32_t version) {
  const sql::SqlType& type = result.columns[i].type;
  TypeInfo t;
  t.kind = LengthKind::Byte;
  if (type.base == sql::BaseType::Int) {
    t.type = TYPE_INTN;
    t.max_length = 4;
    return t;
  }
  if (type.base == sql::BaseType::DateTime) {
    t.type = TYPE_DATETIMN;  // days since 1900 and 1/300 seconds, as the language holds it
    t.max_length = 8;
    return t;
  }
  if (type.base == sql::BaseType::DateTime2 && version >= TDS_7_3) {
    t.type = TYPE_DATETIME2N;
    t.max_length = 8;
    t.extra = {DATETIME2_SCALE};
    return t;
  }
  if (type.is_date()) {
    t.kind = LengthKind::UShort;
    t.type = TYPE_NVARCHAR;
    t.max_length = DATE_TEXT_BYTES;
    t.collation.assign(std::begin(DEFAULT_COLLATION), std::end(DEFAULT_COLLATION));
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

// The bytes of a DATETIME2(n) time: 3 to 5, by the scale.
std::size_t time_bytes(std::uint8_t scale) {
  return scale <= 2 ? 3 : scale <= 4 ? 4 : 5;
}

std::int64_t power_of_ten(int n) {
  std::int64_t p = 1;
  while (n-- > 0)
    p *= 10;
  return p;
}

}  // namespace

std::optional<Bytes> wire_value(const sql::Value& value, const TypeInfo& type) {
  if (!value.bytes || !value.type.is_date() || type.type == TYPE_DATETIMN) return value.bytes;
  if (type.type != TYPE_DATETIME2N) {
    return sql::convert(value, sql::SqlType{sql::BaseType::NVarChar, 1, true}).bytes;
  }
  // The time in units of the scale since midnight, then three bytes of days
  // since 0001-01-01.
  const std::uint8_t scale = type.extra.empty() ? DATETIME2_SCALE : type.extra[0];
  const std::int64_t ticks = sql::ticks_of(value);
  const auto units =
      static_cast<std::uint64_t>(ticks % TICKS_PER_DAY / power_of_ten(DATETIME2_SCALE - scale));
  const auto days = static_cast<std::uint32_t>(ticks / TICKS_PER_DAY);
  Bytes out;
  for (std::size_t i = 0; i < time_bytes(scale); ++i)
    out.push_back(static_cast<std::uint8_t>(units >> (8 * i)));
  for (int i = 0; i < 3; ++i)
    out.push_back(static_cast<std::uint8_t>(days >> (8 * i)));
  return out;
}

sql::Value date_from_wire(const TypeInfo& type, const Bytes& b) {
  auto le = [&](std::size_t from, std::size_t n) {
    std::uint64_t v = 0;
    for (std::size_t i = n; i-- > 0;)
      v = v << 8 | b.at(from + i);
    return v;
  };
  if (type.type == TYPE_DATETIME || type.type == TYPE_DATETIMN || type.type == TYPE_DATETIME4) {
    if (b.size() == 8) return sql::Value{sql::SqlType{sql::BaseType::DateTime, 8, false}, b};
    if (b.size() != 4) throw ProtocolError("date value of a wrong length");
    // SMALLDATETIME: days since 1900 and minutes.
    constexpr std::int64_t DAYS_TO_1900 = 693'595;
    return sql::date_of((DAYS_TO_1900 + static_cast<std::int64_t>(le(0, 2))) * TICKS_PER_DAY +
                            static_cast<std::int64_t>(le(2, 2)) * 600'000'000,
                        sql::BaseType::DateTime);
  }
  // DATETIME2(n), or DATE (days only).
  const std::uint8_t scale = type.extra.empty() ? 0 : type.extra[0];
  const std::size_t time = type.type == TYPE_DATEN ? 0 : time_bytes(scale);
  if (b.size() != time + 3) throw ProtocolError("date value of a wrong length");
  const auto ticks = static_cast<std::int64_t>(le(0, time)) * power_of_ten(DATETIME2_SCALE - scale);
  return sql::date_of(static_cast<std::int64_t>(le(time, 3)) * TICKS_PER_DAY + ticks,
                      sql::BaseType::DateTime2);
}

std::vector<TypeInfo> write_column_metadata(TokenWriter& out, const sql::ResultSet& result,
                                            bool rowstat) {
  Writer& raw = out.raw();
  std::vector<TypeInfo> types;
  raw.u8(TOKEN_COLMETADATA);
  raw.u16(static_cast<std::uint16_t>(result.columns.size() + (rowstat ? 1 : 0)));
  for (std::size_t i = 0; i < result.columns.size(); ++i) {
    types.push_back(column_type(result, i, out.version()));
    out.user_type();
    raw.u16(COLUMN_NULLABLE);
    write_type_info(raw, types.back());
    raw.b_varchar(utf16(result.columns[i].name));
  }
  if (rowstat) {
    out.user_type();
    raw.u16(COLUMN_HIDDEN);
    write_type_info(raw, TypeInfo{TYPE_INT4, LengthKind::Fixed, 4, {}, {}});
    raw.b_varchar(utf16("ROWSTAT"));
  }
  return types;
}

void write_row(TokenWriter& out, const std::vector<TypeInfo>& types,
               const std::vector<sql::Value>& row, std::optional<std::int32_t> rowstat) {
  Writer& raw = out.raw();
  raw.u8(TOKEN_ROW);
  for (std::size_t i = 0; i < row.size(); ++i) {
    std::optional<Bytes> value = wire_value(row[i], types[i]);
    if (value && value->size() > NON_MAX_BYTE_LIMIT) value->resize(NON_MAX_BYTE_LIMIT);
    write_value(raw, types[i], value);
  }
  if (rowstat) raw.u32(static_cast<std::uint32_t>(*rowstat));
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
  const std::vector<TypeInfo> types = write_column_metadata(out_, result);
  for (const auto& row : result.rows)
    write_row(out_, types, row);
  out_.done(done_token(), DONE_MORE | DONE_COUNT, result.rows.size());
  return true;
}

bool TokenOutput::make_room(std::size_t adding) {
  if (full_ || out_.bytes().size() + adding > max_reply_) full_ = true;
  return !full_;
}

bool write_message(TokenWriter& out, const sql::ProcedureMessage& m) {
  out.message(m.number, m.state, m.msg_class, utf16(m.text), m.procedure,
              static_cast<std::uint32_t>(m.line));
  return m.msg_class > MAX_INFO_CLASS;
}

bool TokenOutput::message(const sql::ProcedureMessage& m) {
  if (!make_room(m.text.size() * 2 + m.procedure.size() * 2 + 32)) return false;
  if (write_message(out_, m)) error_sent_ = true;
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

Param procedure_param(const RpcParam& p) {
  Param param;
  param.type = p.type.type == TYPE_TEXT    ? TYPE_BIGVARCHAR
               : p.type.type == TYPE_NTEXT ? TYPE_NVARCHAR
                                           : p.type.type;
  param.max_length = p.type.kind == LengthKind::Plp || p.type.kind == LengthKind::Long
                         ? 0xFFFFFFFFu
                         : p.type.max_length;
  param.value = p.value;
  param.output = p.output();
  return param;
}

}  // namespace varrow::host::tds
