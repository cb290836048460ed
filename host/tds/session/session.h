// One client connection's conversation: LOGIN7, then SQL batches, RPC calls
// of the procedures, transaction requests and ATTENTION. Knows nothing of
// sockets, nor of PRELOGIN and TLS, which the server's channel settles
// before the session sees a message: it turns each whole request into the
// reply's packets.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "ods/library.h"
#include "sql/call_guard.h"
#include "tds/session/call_reply.h"
#include "tds/session/login_policy.h"
#include "tds/session/server_cursors.h"
#include "tds/session/server_identity.h"
#include "tds/session/system_procs.h"
#include "tds/wire/login.h"
#include "tds/wire/packets.h"
#include "tds/wire/rpc.h"
#include "tds/wire/tokens.h"

namespace varrow::host::tds {

class Session {
 public:
  // `guard` sees every procedure call, by RPC or in a batch, before it runs.
  Session(const Library& library, LoginPolicy policy, std::uint16_t spid, CallGuard guard = {})
      : library_(library),
        policy_(std::move(policy)),
        spid_(spid),
        guard_(guard),
        info_{.spid = spid, .identity = varrowd_identity()},
        system_(library, info_, guard),
        cursors_(library, info_, std::move(guard)) {}
  // Its system procedures and cursors hold on to its session information.
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // The reply to one whole request, as packets; empty when there is none.
  // Throws ProtocolError for a request that breaks the protocol.
  Bytes handle(const Message& message);

  // True once the connection must be closed after the last reply is sent.
  bool closing() const { return closing_; }
  bool logged_in() const { return state_ == State::Ready; }
  // The user name of the last LOGIN7, and why it was refused (empty unless
  // it was), in the server's own words and without the client's text: for
  // the server's log, never the password.
  const std::string& login_user() const { return login_user_; }
  const std::string& login_failure() const { return login_failure_; }
  std::uint32_t version() const { return version_; }
  // The client application's name from the last LOGIN7, as the client sent it.
  const std::string& login_app() const { return login_app_; }
  std::size_t prepared_statements() const { return system_.prepared_count(); }
  std::size_t open_cursors() const { return cursors_.open_cursors(); }

 private:
  enum class State { Login, Ready };

  Bytes login(const Message& message);
  // Refuses the login with `text` for the client; `reason` is what the log
  // says, and holds no client text.
  Bytes login_failed(const std::string& text, std::string reason);
  Bytes batch(Reader& in);
  Bytes rpc(Reader& in);
  ReplyStatus run_rpc(const RpcRequest& request, bool more, TokenWriter& out);
  void skip_all_headers(Reader& in) const;
  Bytes reply(TokenWriter& tokens) const;

  const Library& library_;
  LoginPolicy policy_;
  std::uint16_t spid_;
  CallGuard guard_;
  State state_ = State::Login;
  std::uint32_t version_ = TDS_7_4;
  std::uint32_t packet_size_ = DEFAULT_PACKET_SIZE;
  bool closing_ = false;
  std::string login_user_;
  std::string login_failure_;
  std::string login_app_;
  sql::SessionInfo info_;    // what the batches see of the session, and change
  SystemProcedures system_;  // sp_executesql, and the prepared statements
  ServerCursors cursors_;    // the API server cursors, closed with the connection
};

}  // namespace varrow::host::tds
