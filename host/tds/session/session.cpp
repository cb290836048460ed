#include "tds/session/session.h"

#include "ods/call.h"
#include "sql/error_numbers.h"
#include "sql/lexer.h"
#include "sql/runner.h"
#include "tds/session/call_reply.h"
#include "tds/session/error_numbers.h"
#include "tds/wire/login.h"
#include "text/codepage.h"

namespace varrow::host::tds {
Bytes Session::handle(const Message& message) {
  if (message.ignore) return {};
  if (message.type == PACKET_ATTENTION) {
    // Requests run to completion before the next is read: acknowledge.
    TokenWriter out(version_);
    out.done(TOKEN_DONE, DONE_ATTENTION);
    return reply(out);
  }
  switch (state_) {
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
  login_user_ = request.user;
  login_app_ = request.app_name;
  if (request.integrated_security) {
    return login_failed("Login failed: integrated security is not accepted.",
                        "integrated security is not accepted");
  }
  const std::uint32_t version = negotiated_version(request.client_version);
  if (version == 0) {
    return login_failed("Login failed: TDS 7.1 or later is required.",
                        "TDS 7.1 or later is required");
  }
  version_ = version;
  if (policy_.password && !credentials_match(policy_, request.user, request.password)) {
    // Both compared in full first: the log may say which was wrong, the
    // client never learns it.
    const bool known_user = !policy_.user || constant_time_equal(request.user, *policy_.user);
    return login_failed("Login failed for user '" + request.user + "'.",
                        known_user ? "wrong password" : "unknown user");
  }
  if (request.packet_size >= MIN_PACKET_SIZE && request.packet_size <= MAX_PACKET_SIZE) {
    packet_size_ = request.packet_size;
  }
  info_.login = request.user;
  info_.app_name = request.app_name;
  info_.host_name = request.host_name;
  TokenWriter out(version_);
  out.envchange(ENV_DATABASE, "master", "master");
  out.envchange_collation();
  out.envchange(ENV_LANGUAGE, "us_english", "");
  out.loginack(version_);
  out.envchange(ENV_PACKET_SIZE, std::to_string(packet_size_), std::to_string(DEFAULT_PACKET_SIZE));
  out.done(TOKEN_DONE, DONE_FINAL);
  state_ = State::Ready;
  // Clients read the login reply in packets of the default size.
  return packetize(PACKET_REPLY, out.bytes(), DEFAULT_PACKET_SIZE, spid_);
}

Bytes Session::login_failed(const std::string& text, std::string reason) {
  login_failure_ = std::move(reason);
  closing_ = true;
  return login_refused(version_, spid_, text);
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
  const SecretString text = utf16le_to_utf8(in.bytes(in.left()));
  TokenWriter out(version_);
  TokenOutput output(out);
  sql::BatchStatus status;
  {
    sql::Runner runner(library_, output, info_, guard_);
    status = runner.run_script(text);
    info_ = runner.session();
  }
  if (status == sql::BatchStatus::OutputFull) {
    reply_too_large(out, TOKEN_DONE);
  } else {
    out.end_batch(output.failed);
  }
  return reply(out);
}

Bytes Session::rpc(Reader& in) {
  skip_all_headers(in);
  TokenWriter out(version_);
  try {
    // One request at a time: parsed, run and answered before the next is
    // read, so that a message of many requests holds one's parameters only.
    RpcReader requests(in, version_);
    do {
      RpcRequest request = requests.next();
      const ReplyStatus status = run_rpc(request, !requests.done(), out);
      if (status == ReplyStatus::OverLimit ||
          (!requests.done() && out.bytes().size() > MAX_REPLY)) {
        reply_too_large(out, TOKEN_DONEPROC);
        break;
      }
    } while (!requests.done());
  } catch (const UnsupportedRequest& unsupported) {
    out.message(UNSUPPORTED_TYPE, 1, 16, utf16(unsupported.message), "", 1);
    out.done(TOKEN_DONEPROC, DONE_ERROR);
  } catch (const RequestOverLimit& over) {
    if (over.limit == RequestOverLimit::Limit::Parameters) {
      out.message(TOO_MANY_PARAMETERS, 1, 16, utf16(sql::TOO_MANY_PARAMETERS_TEXT), "", 1);
    } else {
      out.message(TOO_MANY_REQUESTS, 1, 16,
                  utf16("A message may carry at most " + std::to_string(MAX_RPC_REQUESTS) +
                        " RPC requests; the rest were not run."),
                  "", 1);
    }
    out.done(TOKEN_DONEPROC, DONE_ERROR);
  }
  return reply(out);
}

ReplyStatus Session::run_rpc(const RpcRequest& request, bool more, TokenWriter& out) {
  if (const std::uint16_t id = system_procedure_id(request)) {
    if (is_cursor_procedure(id)) return cursors_.run(id, request, more, version_, out);
    return system_.run(id, request, more, version_, out);
  }
  const std::uint16_t more_bit = more ? DONE_MORE : 0;
  const std::string written =
      request.proc_id != 0 ? system_procedure_name(request.proc_id) : request.procedure;
  if (request.proc_id == 0) {
    const std::string catalog = sql::resolve_system_procedure(written);
    if (!catalog.empty()) return run_catalog_rpc(catalog, request, more, out);
  }
  const std::string name = request.proc_id != 0 ? "" : sql::resolve_procedure(written);
  const Procedure procedure = name.empty() ? nullptr : library_.find(name);
  if (procedure == nullptr) {
    out.message(UNKNOWN_PROCEDURE, 62, 16,
                utf16("Could not find stored procedure '" + written + "'."), "", 1);
    out.done(TOKEN_DONEPROC, DONE_ERROR | more_bit);
    return ReplyStatus::Whole;
  }

  std::vector<Param> params;
  params.reserve(request.params.size());
  for (const RpcParam& p : request.params)
    params.push_back(procedure_param(p));
  sql::CallOutcome outcome = sql::call_procedure(procedure, name, std::move(params), guard_, 1);
  if (outcome.refusal) {
    out.message(outcome.refusal->number, 1, 16, utf16(outcome.refusal->text), "", 1);
    out.done(TOKEN_DONEPROC, DONE_ERROR | more_bit);
    return ReplyStatus::Whole;
  }
  // The call failed in the server's eyes only if it sent an ERROR token
  // (class 11 and above): see TokenOutput for why a procedure's own failure
  // (class 10, return status 1) leaves DONE_ERROR off.
  bool error = false;
  for (const sql::ProcedureMessage& m : outcome.messages)
    error = write_message(out, m) || error;
  out.return_status(outcome.status);
  for (std::size_t i = 0; i < request.params.size(); ++i) {
    const RpcParam& p = request.params[i];
    if (!p.output()) continue;
    out.return_value(static_cast<std::uint16_t>(i), p.name, reply_type(p.type, version_),
                     outcome.values[i]);
  }
  out.done(TOKEN_DONEPROC, static_cast<std::uint16_t>((error ? DONE_ERROR : 0) | more_bit));
  return ReplyStatus::Whole;
}

Bytes Session::reply(TokenWriter& tokens) const {
  Bytes packets = packetize(PACKET_REPLY, tokens.bytes(), packet_size_, spid_);
  return packets;
}

}  // namespace varrow::host::tds
