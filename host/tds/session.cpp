#include "tds/session.h"

#include <algorithm>

#include "ods/call.h"
#include "sql/runner.h"
#include "tds/login.h"
#include "text/codepage.h"

namespace varrow::host::tds {
namespace {

constexpr std::int32_t LOGIN_FAILED = 18456;
constexpr std::int32_t UNKNOWN_PROCEDURE = 2812;
constexpr std::int32_t UNSUPPORTED = 8009;
constexpr std::uint16_t MAX_VALUE_LENGTH = 8000;
constexpr std::uint16_t COLUMN_NULLABLE = 0x0001;

Bytes utf16(const std::string& utf8) {
  return utf8_to_utf16le(utf8).value_or(Bytes{});
}

// How a batch's results travel back: rows as COLMETADATA, ROW and DONE;
// messages as INFO or ERROR; each EXEC's status as RETURNSTATUS and DONEPROC.
class TokenOutput : public sql::BatchOutput {
 public:
  explicit TokenOutput(TokenWriter& out) : out_(out) {}

  void result_set(const sql::ResultSet& result) override {
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
        if (value && value->size() > MAX_VALUE_LENGTH) value->resize(MAX_VALUE_LENGTH);
        write_value(raw, types[i], value);
      }
    }
    out_.done(TOKEN_DONE, DONE_MORE | DONE_COUNT, result.rows.size());
  }

  void message(const sql::ProcedureMessage& m) override {
    out_.message(m.number, m.state, m.msg_class, utf16(m.text), m.procedure,
                 static_cast<std::uint32_t>(m.line));
  }
  void print(const std::string& text) override { out_.message(0, 1, 0, utf16(text), "", 1); }
  void error(const sql::StatementError& e) override {
    out_.message(e.number, 1, e.error_class, utf16(e.text), "",
                 static_cast<std::uint32_t>(e.at.line));
    failed = true;
  }
  void procedure_done(const std::string&, std::int32_t status) override {
    out_.return_status(status);
    out_.done(TOKEN_DONEPROC, DONE_MORE);
  }

  bool failed = false;

 private:
  // The column's wire type: long enough for its declared length and its
  // values, never a MAX type.
  static TypeInfo column_type(const sql::ResultSet& result, std::size_t i) {
    const sql::SqlType& type = result.columns[i].type;
    TypeInfo t;
    if (type.base == sql::BaseType::Int) {
      t.type = 0x26;
      t.kind = LengthKind::Byte;
      t.max_length = 4;
      return t;
    }
    std::size_t length = type.max ? 1 : type.byte_length();
    for (const auto& row : result.rows) {
      if (row[i].bytes) length = std::max(length, row[i].bytes->size());
    }
    t.kind = LengthKind::UShort;
    t.max_length = static_cast<std::uint32_t>(std::clamp<std::size_t>(length, 1, MAX_VALUE_LENGTH));
    if (type.base == sql::BaseType::VarBinary) {
      t.type = 0xA5;
    } else {
      t.type = type.is_national() ? 0xE7 : 0xA7;
      t.collation.assign(std::begin(DEFAULT_COLLATION), std::end(DEFAULT_COLLATION));
    }
    return t;
  }

  TokenWriter& out_;
};

// The parameter as the procedure sees it (its name stays with the request,
// for the reply). Long text types count as MAX types, so that the
// procedures' own size rules decide.
Param host_param(const RpcParam& p) {
  Param param;
  param.type = p.type.type == 0x23 ? 0xA7 : p.type.type == 0x63 ? 0xE7 : p.type.type;
  param.max_length = p.type.kind == LengthKind::Plp || p.type.kind == LengthKind::Long
                         ? 0xFFFFFFFFu
                         : p.type.max_length;
  param.value = p.value;
  param.output = p.output();
  return param;
}

// What the procedure set OUTPUT parameter n to; NULL when it set nothing.
std::optional<Bytes> written_output(const Call& call, int n) {
  for (const Event& e : call.events()) {
    if (e.kind == EventKind::OutputSet && e.param == n && !e.is_null) return e.bytes;
  }
  return std::nullopt;
}

std::string system_procedure_name(std::uint16_t id) {
  switch (id) {
    case 10:
      return "sp_executesql";
    case 11:
      return "sp_prepare";
    case 12:
      return "sp_execute";
    case 13:
      return "sp_prepexec";
    case 15:
      return "sp_unprepare";
    default:
      return "system procedure " + std::to_string(id);
  }
}

}  // namespace

Bytes Session::handle(const Message& message) {
  if (message.ignore) return {};
  if (message.type == PACKET_ATTENTION) {
    // Requests run to completion before the next is read: acknowledge.
    TokenWriter out(version_);
    out.done(TOKEN_DONE, DONE_ATTENTION);
    return reply(out);
  }
  switch (state_) {
    case State::PreLogin:
      if (message.type == PACKET_PRELOGIN) {
        state_ = State::Login;
        return packetize(PACKET_REPLY, prelogin_reply(), DEFAULT_PACKET_SIZE, spid_);
      }
      if (message.type == PACKET_LOGIN7) return login(message);
      throw ProtocolError("expected PRELOGIN");
    case State::Login:
      if (message.type == PACKET_LOGIN7) return login(message);
      throw ProtocolError("expected LOGIN7");
    case State::Ready:
      break;
  }
  Reader in(message.payload);
  switch (message.type) {
    case PACKET_SQL_BATCH:
      return batch(in);
    case PACKET_RPC:
      return rpc(in);
    case PACKET_TRANSACTION: {
      // Nothing here is transactional: acknowledge.
      TokenWriter out(version_);
      out.done(TOKEN_DONE, DONE_FINAL);
      return reply(out);
    }
    default:
      throw ProtocolError("unexpected packet type");
  }
}

Bytes Session::login(const Message& message) {
  const LoginRequest request = parse_login7(message.payload);
  if (request.integrated_security) {
    return login_failed("Login failed: integrated security is not accepted.");
  }
  const std::uint32_t version = negotiated_version(request.client_version);
  if (version == 0) return login_failed("Login failed: TDS 7.1 or later is required.");
  version_ = version;
  if (policy_.password &&
      ((policy_.user && request.user != *policy_.user) || request.password != *policy_.password)) {
    return login_failed("Login failed for user '" + request.user + "'.");
  }
  if (request.packet_size >= MIN_PACKET_SIZE && request.packet_size <= MAX_PACKET_SIZE) {
    packet_size_ = request.packet_size;
  }
  TokenWriter out(version_);
  out.envchange(1, "master", "master");
  out.envchange_collation();
  out.envchange(2, "us_english", "");
  out.loginack(version_);
  out.envchange(4, std::to_string(packet_size_), std::to_string(DEFAULT_PACKET_SIZE));
  out.done(TOKEN_DONE, DONE_FINAL);
  state_ = State::Ready;
  // Clients read the login reply in packets of the default size.
  return packetize(PACKET_REPLY, out.bytes(), DEFAULT_PACKET_SIZE, spid_);
}

Bytes Session::login_failed(const std::string& text) {
  TokenWriter out(version_);
  out.message(LOGIN_FAILED, 1, 14, utf16(text), "", 1);
  out.done(TOKEN_DONE, DONE_ERROR);
  closing_ = true;
  return packetize(PACKET_REPLY, out.bytes(), DEFAULT_PACKET_SIZE, spid_);
}

void Session::skip_all_headers(Reader& in) const {
  if (!from_7_2(version_)) return;
  const std::uint32_t total = in.u32();
  if (total < 4) throw ProtocolError("ALL_HEADERS length out of range");
  in.skip(total - 4);
}

Bytes Session::batch(Reader& in) {
  skip_all_headers(in);
  if (in.left() % 2 != 0) throw ProtocolError("batch text of an odd length");
  const std::string text = utf16le_to_utf8(in.bytes(in.left()));
  TokenWriter out(version_);
  TokenOutput output(out);
  sql::Runner runner(library_, output);
  runner.run_script(text);
  out.done(TOKEN_DONE, output.failed ? DONE_ERROR : DONE_FINAL);
  return reply(out);
}

Bytes Session::rpc(Reader& in) {
  skip_all_headers(in);
  TokenWriter out(version_);
  try {
    const std::vector<RpcRequest> requests = parse_rpc(in, version_);
    for (std::size_t i = 0; i < requests.size(); ++i) {
      run_rpc(requests[i], i + 1 < requests.size(), out);
    }
  } catch (const UnsupportedRequest& unsupported) {
    out.message(UNSUPPORTED, 1, 16, utf16(unsupported.message), "", 1);
    out.done(TOKEN_DONEPROC, DONE_ERROR);
  }
  return reply(out);
}

void Session::run_rpc(const RpcRequest& request, bool more, TokenWriter& out) {
  const std::uint16_t more_bit = more ? DONE_MORE : 0;
  const std::string written =
      request.proc_id != 0 ? system_procedure_name(request.proc_id) : request.procedure;
  const std::string name = request.proc_id != 0 ? "" : sql::resolve_procedure(written);
  const Procedure procedure = name.empty() ? nullptr : library_.find(name);
  if (procedure == nullptr) {
    out.message(UNKNOWN_PROCEDURE, 62, 16,
                utf16("Could not find stored procedure '" + written + "'."), "", 1);
    out.done(TOKEN_DONEPROC, DONE_ERROR | more_bit);
    return;
  }

  std::vector<Param> params;
  params.reserve(request.params.size());
  for (const RpcParam& p : request.params)
    params.push_back(host_param(p));
  Call call(std::move(params));
  procedure(call.handle());

  for (const Event* m : call.messages()) {
    out.message(m->value, m->state, m->msg_class, cp1252_to_utf16le(m->message_text()), name, 1);
  }
  out.return_status(call.return_status().value_or(0));
  for (std::size_t i = 0; i < request.params.size(); ++i) {
    const RpcParam& p = request.params[i];
    if (!p.output()) continue;
    Writer& raw = out.raw();
    raw.u8(TOKEN_RETURNVALUE);
    raw.u16(static_cast<std::uint16_t>(i));
    raw.b_varchar(p.name);
    raw.u8(0x01);
    out.user_type();
    raw.u16(0);  // flags
    const TypeInfo type = reply_type(p.type, version_);
    write_type_info(raw, type);
    write_value(raw, type, written_output(call, static_cast<int>(i) + 1));
  }
  const bool error = (call.done_status().value_or(0) & 0x2) != 0;
  out.done(TOKEN_DONEPROC, static_cast<std::uint16_t>((error ? DONE_ERROR : 0) | more_bit));
}

Bytes Session::reply(TokenWriter& tokens) const {
  return packetize(PACKET_REPLY, tokens.bytes(), packet_size_, spid_);
}

}  // namespace varrow::host::tds
