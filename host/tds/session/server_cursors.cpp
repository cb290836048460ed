#include "tds/session/server_cursors.h"

#include <algorithm>
#include <map>

#include "sql/error_numbers.h"
#include "tds/session/error_numbers.h"
#include "tds/session/rpc_params.h"
#include "text/codepage.h"

namespace varrow::host::tds {
namespace {

// sp_cursoropen's scroll options: the kinds of cursor, and the flags.
constexpr std::int32_t SCROLL_KEYSET = 0x0001;
constexpr std::int32_t SCROLL_DYNAMIC = 0x0002;
constexpr std::int32_t SCROLL_FORWARD_ONLY = 0x0004;
constexpr std::int32_t SCROLL_STATIC = 0x0008;
constexpr std::int32_t SCROLL_FAST_FORWARD = 0x0010;
constexpr std::int32_t SCROLL_KINDS = 0x001F;
constexpr std::int32_t PARAMETERIZED_STMT = 0x1000;
constexpr std::int32_t AUTO_FETCH = 0x2000;  // FAST_FORWARD: the first rows with the open
constexpr std::int32_t AUTO_CLOSE = 0x4000;  // and closed once they are all fetched
constexpr std::int32_t CHECK_ACCEPTED_TYPES = 0x8000;
constexpr std::int32_t ACCEPTABLE_SHIFT = 16;  // KEYSET_ACCEPTABLE is KEYSET << 16, and so on
// Concurrency options: only READ_ONLY is served.
constexpr std::int32_t CC_READ_ONLY = 0x0001;
constexpr std::int32_t CC_KINDS = 0x000F;
constexpr std::int32_t CHECK_ACCEPTED_OPTS = 0x8000;
constexpr std::int32_t READ_ONLY_ACCEPTABLE = 0x10000;

// sp_cursorfetch's fetch types.
constexpr std::int32_t FETCH_FIRST = 0x0001;
constexpr std::int32_t FETCH_NEXT = 0x0002;
constexpr std::int32_t FETCH_PREV = 0x0004;
constexpr std::int32_t FETCH_LAST = 0x0008;
constexpr std::int32_t FETCH_ABSOLUTE = 0x0010;
constexpr std::int32_t FETCH_RELATIVE = 0x0020;
constexpr std::int32_t FETCH_REFRESH = 0x0080;
constexpr std::int32_t FETCH_INFO = 0x0100;
constexpr std::int32_t FETCH_PREV_NOADJUST = 0x0200;
constexpr std::int32_t FETCH_SKIP_UPDT_CNCY = 0x0400;
constexpr std::int32_t DEFAULT_FETCH_ROWS = 20;

constexpr std::int32_t ROW_FETCHED = 0x0001;     // ROWSTAT's FETCH_SUCCEEDED
constexpr std::int32_t STATUS_ADJUSTED = 2;      // a PREV that met the start of the rows
constexpr std::int32_t STATUS_AUTO_CLOSED = 16;  // a fast-forward cursor closed itself

// SQL Server's messages of the cursor procedures.
constexpr std::int32_t INVALID_PARAMETER = 16902;
constexpr std::int32_t FORWARD_ONLY_FETCH = 16911;
constexpr std::int32_t READ_ONLY_CURSOR = 16929;
constexpr std::int32_t EXECUTING_DIRECTLY = 16954;
constexpr std::int32_t NO_ACCEPTABLE_CURSOR = 16955;
constexpr std::int32_t CURSOR_TYPE_CHANGED = 16956;
constexpr std::uint8_t INFO_CLASS = 10;
constexpr const char* OUT_OF_MEMORY_TEXT =
    "There is insufficient system memory in resource pool 'default' to run this query.";

std::string name(std::uint16_t id) {
  return system_procedure_name(id);
}

[[noreturn]] void invalid(std::uint16_t id, const std::string& parameter) {
  throw CallFailed{INVALID_PARAMETER, ERROR_CLASS,
                   name(id) + ": The value of the parameter " + parameter + " is invalid."};
}

// An INT parameter; nullopt when it is absent or NULL.
std::optional<std::int32_t> int_param(const RpcRequest& request, std::size_t at,
                                      const char* parameter, std::uint16_t /*id*/) {
  if (at >= request.params.size()) return std::nullopt;
  const RpcParam& p = request.params[at];
  if (p.type.type == TYPE_NULL || !p.value) return std::nullopt;
  if (!is_integer(p.type.type)) {
    throw CallFailed{WRONG_PARAMETER_TYPE, ERROR_CLASS,
                     std::string("Procedure expects parameter '") + parameter + "' of type 'int'."};
  }
  return language_value(p).as_int();
}

// The options a cursor is opened with, and whether they are not those asked
// for: STATIC, FORWARD_ONLY or FAST_FORWARD, always READ_ONLY.
struct Options {
  std::int32_t scrollopt = SCROLL_STATIC;
  std::int32_t ccopt = CC_READ_ONLY;
  bool changed = false;
};

Options accepted(std::optional<std::int32_t> scroll, std::optional<std::int32_t> cc) {
  Options o;
  const std::int32_t asked = scroll.value_or(0) & SCROLL_KINDS;
  const bool checked = (scroll.value_or(0) & CHECK_ACCEPTED_TYPES) != 0;
  const std::int32_t acceptable = checked ? scroll.value_or(0) >> ACCEPTABLE_SHIFT : 0;
  if (asked == SCROLL_FORWARD_ONLY || asked == SCROLL_FAST_FORWARD || asked == SCROLL_STATIC) {
    o.scrollopt = asked;
  } else if (checked) {
    // Of the kinds the client accepts, the first this server makes.
    const std::int32_t kinds[] = {SCROLL_STATIC, SCROLL_FORWARD_ONLY, SCROLL_FAST_FORWARD};
    const auto found = std::find_if(std::begin(kinds), std::end(kinds),
                                    [&](std::int32_t k) { return (acceptable & k) != 0; });
    if (found == std::end(kinds)) {
      throw CallFailed{NO_ACCEPTABLE_CURSOR, ERROR_CLASS, "Could not create an acceptable cursor."};
    }
    o.scrollopt = *found;
    o.changed = asked != 0;
  } else {
    o.changed = asked == SCROLL_KEYSET || asked == SCROLL_DYNAMIC;  // a keyset needs a table
  }
  const std::int32_t concurrency = cc.value_or(0) & CC_KINDS;
  if (concurrency != 0 && concurrency != CC_READ_ONLY) {
    if ((cc.value_or(0) & CHECK_ACCEPTED_OPTS) != 0 &&
        (cc.value_or(0) & READ_ONLY_ACCEPTABLE) == 0) {
      throw CallFailed{NO_ACCEPTABLE_CURSOR, ERROR_CLASS, "Could not create an acceptable cursor."};
    }
    o.changed = true;
  }
  return o;
}

bool forward_only(std::int32_t scrollopt) {
  return scrollopt == SCROLL_FORWARD_ONLY || scrollopt == SCROLL_FAST_FORWARD;
}

// What one value takes in the connection's memory, never less than it does.
std::size_t held(const sql::Value& v) {
  return sizeof(sql::Value) + 32 + (v.bytes ? v.bytes->capacity() : 0);
}

// A cursor statement's output: its result sets kept (up to `room` bytes),
// everything else to the client as a procedure's statements write it.
class Capture : public sql::BatchOutput {
 public:
  Capture(TokenWriter& out, std::size_t room)
      : direct(out, TokenOutput::Scope::Procedure), room_(room) {}

  bool result_set(const sql::ResultSet& result) override {
    std::size_t adding = sizeof(sql::ResultSet) + 64 * result.columns.size();
    for (const auto& row : result.rows) {
      adding += sizeof(row);
      for (const auto& v : row)
        adding += held(v);
    }
    if (adding > room_ - bytes) {
      over = true;
      return false;
    }
    bytes += adding;
    sets.push_back(result);
    return true;
  }
  bool message(const sql::ProcedureMessage& m) override { return direct.message(m); }
  bool print(std::string_view text) override { return direct.print(text); }
  bool error(const sql::StatementError& e) override { return direct.error(e); }
  bool procedure_done(const std::string& p, std::int32_t status) override {
    return direct.procedure_done(p, status);
  }

  TokenOutput direct;
  std::vector<sql::ResultSet> sets;
  std::size_t bytes = 0;
  bool over = false;

 private:
  std::size_t room_;
};

// RETURNVALUE for each OUTPUT parameter of the request, in its order, with
// the value `values` gives it at its position (NULL for none).
void write_outputs(const RpcRequest& request, const std::map<std::size_t, sql::Value>& values,
                   std::uint32_t version, TokenWriter& out) {
  for (std::size_t i = 0; i < request.params.size(); ++i) {
    const RpcParam& p = request.params[i];
    if (!p.output()) continue;
    const TypeInfo type = reply_type(p.type, version);
    const auto found = values.find(i);
    out.return_value(static_cast<std::uint16_t>(i), p.name, type,
                     found == values.end() ? std::nullopt : reply_value(found->second, type));
  }
}

}  // namespace

ReplyStatus ServerCursors::run(std::uint16_t id, const RpcRequest& request, bool more,
                               std::uint32_t version, TokenWriter& out) {
  const std::uint16_t more_bit = more ? DONE_MORE : 0;
  try {
    std::map<std::size_t, sql::Value> outputs;
    switch (id) {
      case PROC_CURSOROPEN: {
        // @cursor OUTPUT, @stmt [, @scrollopt [, @ccopt [, @rowcount [, @paramdef, values]]]]
        Statement s;
        s.text = text_param(request, 1, "@stmt", id).value_or("");
        const std::int32_t scroll = int_param(request, 2, "@scrollopt", id).value_or(0);
        if ((scroll & PARAMETERIZED_STMT) != 0 && request.params.size() > 5) {
          s = statement(id, request, 5, 1);
        }
        const ReplyStatus status = open(id, request, s, OpenAt{0, 2, 3, 4, 6}, {}, version, out);
        if (status == ReplyStatus::Whole) out.done(TOKEN_DONEPROC, more_bit);
        return status;
      }
      case PROC_CURSORPREPARE: {
        // @handle OUTPUT, @params, @stmt, @options [, @scrollopt [, @ccopt]]
        Statement s = statement(id, request, 1, 2);
        const Options o =
            accepted(int_param(request, 4, "@scrollopt", id), int_param(request, 5, "@ccopt", id));
        const std::int32_t handle = add_prepared(std::move(s));
        outputs = {{0, sql::Value::integer(handle)},
                   {4, sql::Value::integer(o.scrollopt)},
                   {5, sql::Value::integer(o.ccopt)}};
        break;
      }
      case PROC_CURSOREXECUTE:
      case PROC_CURSORPREPEXEC: {
        // sp_cursorexecute @handle, @cursor OUTPUT [, @scrollopt [, @ccopt [, @rowcount [,
        // values]]]] sp_cursorprepexec @handle OUTPUT, @cursor OUTPUT, @params, @stmt, @options
        //                   [, @scrollopt [, @ccopt [, @rowcount [, values]]]]
        const bool prepexec = id == PROC_CURSORPREPEXEC;
        std::int32_t handle = 0;
        if (prepexec) {
          handle = add_prepared(statement(id, request, 2, 3));
        } else {
          const auto given = int_param(request, 0, "@handle", id);
          if (!given || prepared_.count(*given) == 0) {
            throw CallFailed{UNKNOWN_HANDLE, ERROR_CLASS,
                             "Could not find prepared statement with handle " +
                                 (given ? std::to_string(*given) : std::string("NULL")) + "."};
          }
          handle = *given;
        }
        const OpenAt at = prepexec ? OpenAt{1, 5, 6, 7, 8} : OpenAt{1, 2, 3, 4, 5};
        ReplyStatus status = ReplyStatus::Whole;
        try {
          status = open(id, request, prepared_.at(handle).statement, at, handle, version, out);
        } catch (const CallFailed&) {
          if (prepexec) remove_prepared(handle);  // the client never learnt it
          throw;
        }
        if (status == ReplyStatus::OverLimit && prepexec) remove_prepared(handle);
        if (status == ReplyStatus::Whole) out.done(TOKEN_DONEPROC, more_bit);
        return status;
      }
      case PROC_CURSORUNPREPARE: {
        const auto handle = int_param(request, 0, "@handle", id);
        if (!handle || prepared_.count(*handle) == 0) {
          throw CallFailed{UNKNOWN_HANDLE, ERROR_CLASS,
                           "Could not find prepared statement with handle " +
                               (handle ? std::to_string(*handle) : std::string("NULL")) + "."};
        }
        remove_prepared(*handle);
        break;
      }
      case PROC_CURSORFETCH: {
        const ReplyStatus status = fetch(request, version, out);
        if (status == ReplyStatus::Whole) out.done(TOKEN_DONEPROC, more_bit);
        return status;
      }
      case PROC_CURSOROPTION:
        // @cursor, @code, @value: the names and text options change nothing here.
        cursor(id, request);
        break;
      case PROC_CURSORCLOSE: {
        const Cursor& c = cursor(id, request);
        held_bytes_ -= c.bytes;
        cursors_.erase(*int_param(request, 0, "@cursor", id));
        break;
      }
      default:
        // sp_cursor: positioned updates, deletes and inserts.
        cursor(id, request);
        throw CallFailed{READ_ONLY_CURSOR, ERROR_CLASS, "The cursor is READ ONLY."};
    }
    out.return_status(0);
    write_outputs(request, outputs, version, out);
    out.done(TOKEN_DONEPROC, more_bit);
  } catch (const CallFailed& failed) {
    out.message(failed.number, 1, failed.error_class, utf16(failed.text), name(id), 1);
    out.return_status(1);
    out.done(TOKEN_DONEPROC, DONE_ERROR | more_bit);
  }
  return ReplyStatus::Whole;
}

ServerCursors::Statement ServerCursors::statement(std::uint16_t id, const RpcRequest& request,
                                                  std::size_t declaration_at,
                                                  std::size_t text_at) const {
  Statement s;
  s.declaration = std::string(text_param(request, declaration_at, "@params", id).value_or(""));
  s.text = text_param(request, text_at, "@stmt", id).value_or("");
  try {
    s.parameters = sql::parse_parameter_declarations(s.declaration);
    std::vector<std::string> names;
    for (const auto& d : s.parameters)
      names.push_back(d.name);
    sql::parse_batch(sql::BatchText{s.text, 1}, names);  // refused now, as the server compiles it
  } catch (const sql::SyntaxError& e) {
    throw CallFailed{e.number, e.number == TOO_MANY_PARAMETERS ? ERROR_CLASS : SYNTAX_CLASS,
                     e.message};
  }
  return s;
}

std::int32_t ServerCursors::add_prepared(Statement statement) {
  const std::size_t bytes = statement.declaration.capacity() + statement.text.capacity() +
                            statement.parameters.capacity() * sizeof(sql::ParameterDeclaration) +
                            256;
  if (prepared_.size() >= MAX_CURSORS || bytes > MAX_CURSOR_BYTES - held_bytes_) {
    throw CallFailed{NOT_PREPARED, ERROR_CLASS,
                     "Statement(s) could not be prepared: a connection's cursors and prepared "
                     "cursor statements hold at most " +
                         std::to_string(MAX_CURSORS) + " of each and " +
                         std::to_string(MAX_CURSOR_BYTES >> 20) + " MiB in all."};
  }
  while (prepared_.count(next_prepared_) != 0 || next_prepared_ <= 0)
    next_prepared_ = next_prepared_ <= 0 ? 1 : next_prepared_ + 1;
  const std::int32_t handle = next_prepared_++;
  held_bytes_ += bytes;
  prepared_.emplace(handle, Prepared{std::move(statement), bytes});
  return handle;
}

void ServerCursors::remove_prepared(std::int32_t handle) {
  const auto found = prepared_.find(handle);
  if (found == prepared_.end()) return;
  held_bytes_ -= found->second.bytes;
  prepared_.erase(found);
}

ServerCursors::Cursor& ServerCursors::cursor(std::uint16_t id, const RpcRequest& request) {
  const auto handle = int_param(request, 0, "@cursor", id);
  const auto found = handle ? cursors_.find(*handle) : cursors_.end();
  if (found == cursors_.end()) invalid(id, "cursor");
  return found->second;
}

ReplyStatus ServerCursors::open(std::uint16_t id, const RpcRequest& request,
                                const Statement& statement, const OpenAt& at,
                                std::optional<std::int32_t> prepared, std::uint32_t version,
                                TokenWriter& out) {
  const Options options = accepted(int_param(request, at.scrollopt, "@scrollopt", id),
                                   int_param(request, at.ccopt, "@ccopt", id));
  if (cursors_.size() >= MAX_CURSORS) throw CallFailed{OUT_OF_MEMORY, 17, OUT_OF_MEMORY_TEXT};
  Binding binding = bind_values(id, request, statement.parameters, statement.declaration,
                                statement.text, at.first_value);
  Capture capture(out, MAX_CURSOR_BYTES - held_bytes_);
  sql::Runner runner(library_, capture, session_, guard_);
  const sql::BatchStatus ran = runner.run_batch(sql::BatchText{statement.text, 1}, binding.bound);
  session_ = runner.session();
  if (ran == sql::BatchStatus::OutputFull && capture.over) {
    throw CallFailed{OUT_OF_MEMORY, 17, OUT_OF_MEMORY_TEXT};
  }
  if (ran == sql::BatchStatus::OutputFull) return ReplyStatus::OverLimit;

  std::int32_t handle = 0;
  std::int32_t rowcount = -1;
  bool auto_closed = false;
  if (capture.sets.size() == 1 && !capture.direct.failed) {
    // One result set: a cursor over its rows; the client learns its columns now.
    while (cursors_.count(next_cursor_) != 0 || next_cursor_ <= 0)
      next_cursor_ = next_cursor_ <= 0 ? 1 : next_cursor_ + 1;
    handle = next_cursor_++;
    Cursor c{std::move(capture.sets[0]), options.scrollopt, 0, 0, capture.bytes};
    if (options.changed) {
      out.message(CURSOR_TYPE_CHANGED, 1, INFO_CLASS,
                  utf16("The created cursor is not of the requested type."), name(id), 1);
    }
    const std::int32_t asked = int_param(request, at.scrollopt, "@scrollopt", id).value_or(0);
    const auto total = static_cast<std::int64_t>(c.result.rows.size());
    if ((asked & AUTO_FETCH) != 0 && c.scrollopt == SCROLL_FAST_FORWARD) {
      // The first fetch buffer comes with the open: @rowcount rows (20).
      const std::int64_t rows = int_param(request, at.rowcount, "@rowcount", id).value_or(0);
      c.block = 1;
      c.fetched = std::min(total, rows > 0 ? rows : DEFAULT_FETCH_ROWS);
      if (!write_buffer(c, out)) return ReplyStatus::OverLimit;
      rowcount = static_cast<std::int32_t>(c.fetched);
      auto_closed = (asked & AUTO_CLOSE) != 0 && c.fetched == total;
    } else {
      write_column_metadata(out, c.result);
      if (!forward_only(c.scrollopt)) rowcount = static_cast<std::int32_t>(total);
    }
    if (!auto_closed) {
      held_bytes_ += c.bytes;
      cursors_.emplace(handle, std::move(c));
    }
  } else {
    // Anything else runs as it would in a batch, as SQL Server runs a
    // statement that cannot be a cursor.
    for (const sql::ResultSet& set : capture.sets) {
      if (!capture.direct.result_set(set)) return ReplyStatus::OverLimit;
    }
    if (!capture.direct.failed) {
      out.message(EXECUTING_DIRECTLY, 1, INFO_CLASS, utf16("Executing SQL directly; no cursor."),
                  name(id), 1);
    }
  }
  out.return_status(capture.direct.failed ? 1 : auto_closed ? STATUS_AUTO_CLOSED : 0);
  std::map<std::size_t, sql::Value> outputs = {
      {at.cursor, sql::Value::integer(handle)},
      {at.scrollopt, sql::Value::integer(options.scrollopt)},
      {at.ccopt, sql::Value::integer(options.ccopt)},
      {at.rowcount, sql::Value::integer(rowcount)}};
  if (prepared && id == PROC_CURSORPREPEXEC) outputs[0] = sql::Value::integer(*prepared);
  write_outputs(request, outputs, version, out);
  return ReplyStatus::Whole;
}

bool ServerCursors::write_buffer(const Cursor& c, TokenWriter& out) {
  std::size_t adding = 64 + 40 * c.result.columns.size();
  for (std::int64_t i = 0; i < c.fetched; ++i) {
    for (const sql::Value& v : c.result.rows[static_cast<std::size_t>(c.block + i - 1)])
      adding += 8 + (v.bytes ? v.bytes->size() : 0);
  }
  if (out.bytes().size() + adding > MAX_REPLY) return false;
  const std::vector<TypeInfo> types = write_column_metadata(out, c.result, true);
  for (std::int64_t i = 0; i < c.fetched; ++i)
    write_row(out, types, c.result.rows[static_cast<std::size_t>(c.block + i - 1)], ROW_FETCHED);
  out.done(TOKEN_DONEINPROC, DONE_MORE | DONE_COUNT, static_cast<std::uint64_t>(c.fetched));
  return true;
}

ReplyStatus ServerCursors::fetch(const RpcRequest& request, std::uint32_t version,
                                 TokenWriter& out) {
  const std::uint16_t id = PROC_CURSORFETCH;
  Cursor& c = cursor(id, request);
  const std::int32_t type =
      int_param(request, 1, "@fetchtype", id).value_or(FETCH_NEXT) & ~FETCH_SKIP_UPDT_CNCY;
  const std::int64_t rownum = int_param(request, 2, "@rownum", id).value_or(0);
  const std::int64_t nrows = int_param(request, 3, "@nrows", id).value_or(DEFAULT_FETCH_ROWS);
  const auto total = static_cast<std::int64_t>(c.result.rows.size());
  if (type == FETCH_INFO) {
    // @rownum and @nrows come back: the position and the count of rows.
    const std::int64_t position = c.block > total ? -1 : c.block;
    out.return_status(0);
    write_outputs(request,
                  {{2, sql::Value::integer(static_cast<std::int32_t>(position))},
                   {3, sql::Value::integer(static_cast<std::int32_t>(total))}},
                  version, out);
    return ReplyStatus::Whole;
  }
  static const std::map<std::int32_t, const char*> names = {
      {FETCH_FIRST, "FIRST"},       {FETCH_NEXT, "NEXT"},
      {FETCH_PREV, "PREV"},         {FETCH_LAST, "LAST"},
      {FETCH_ABSOLUTE, "ABSOLUTE"}, {FETCH_RELATIVE, "RELATIVE"},
      {FETCH_REFRESH, "REFRESH"},   {FETCH_PREV_NOADJUST, "PREV_NOADJUST"}};
  const auto kind = names.find(type);
  if (kind == names.end()) invalid(id, "fetchtype");
  if (forward_only(c.scrollopt) && type != FETCH_NEXT && type != FETCH_REFRESH) {
    throw CallFailed{FORWARD_ONLY_FETCH, ERROR_CLASS,
                     std::string("sp_cursorfetch: The fetch type ") + kind->second +
                         " cannot be used with forward only cursors."};
  }
  const bool positions_only = type == FETCH_FIRST || type == FETCH_LAST;
  if (nrows < 0 || (nrows == 0 && !positions_only && type != FETCH_REFRESH)) invalid(id, "nrows");

  std::int64_t start = 0;
  std::int64_t count = type == FETCH_REFRESH ? c.fetched : nrows;
  bool adjusted = false;
  switch (type) {
    case FETCH_FIRST:
      start = nrows == 0 ? 0 : 1;
      break;
    case FETCH_NEXT:
      start = c.block == 0      ? 1
              : c.block > total ? total + 1
                                : c.block + std::max<std::int64_t>(c.fetched, 1);
      break;
    case FETCH_PREV:
    case FETCH_PREV_NOADJUST:
      if (c.block == 0) break;
      start = std::min(c.block, total + 1) - nrows;
      if (start < 1) {
        if (type == FETCH_PREV_NOADJUST) count = nrows + start - 1;
        adjusted = type == FETCH_PREV;
        start = count > 0 ? 1 : 0;
      }
      break;
    case FETCH_LAST:
      start = nrows == 0 ? total + 1 : std::max<std::int64_t>(1, total - nrows + 1);
      break;
    case FETCH_ABSOLUTE:
      start = rownum >= 0 ? rownum : total + rownum + 1;
      break;
    case FETCH_RELATIVE:
      start = c.block + rownum;
      break;
    default:  // REFRESH: the same rows again
      start = c.block;
      break;
  }
  if (start < 1 || total == 0) {
    c.block = start < 1 ? 0 : total + 1;
    count = 0;
  } else if (start > total) {
    c.block = total + 1;
    count = 0;
  } else {
    c.block = start;
    count = std::min(count, total - start + 1);
  }
  c.fetched = count;

  if (!write_buffer(c, out)) return ReplyStatus::OverLimit;
  out.return_status(adjusted ? STATUS_ADJUSTED : 0);
  write_outputs(request, {}, version, out);
  return ReplyStatus::Whole;
}

}  // namespace varrow::host::tds
