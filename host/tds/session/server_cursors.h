// API server cursors, the RPC procedures ODBC, OLE DB and ADO clients with
// default cursor settings call (ProcIDs 1 to 9): sp_cursoropen,
// sp_cursorfetch, sp_cursorclose, sp_cursoroption, sp_cursorprepare,
// sp_cursorexecute, sp_cursorprepexec, sp_cursorunprepare and sp_cursor.
// A cursor's statement runs in the batch language when it opens; the rows
// of its one result set stay with the connection until the cursor closes,
// or the connection does, and are fetched from there. Every cursor is what
// SQL Server makes of a query that reads no table: STATIC (or the
// forward-only kinds asked for) and READ_ONLY; a client asking for another
// kind is told of the change as SQL Server tells it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

#include "ods/library.h"
#include "sql/call_guard.h"
#include "sql/runner.h"
#include "tds/session/call_reply.h"
#include "tds/wire/rpc.h"
#include "tds/wire/tokens.h"

namespace varrow::host::tds {

// What the rows of all of one connection's cursors and its prepared cursor
// statements may take together, as ServerCursors counts them, and how many
// of each it may hold at once.
inline constexpr std::size_t MAX_CURSOR_BYTES = MAX_REPLY;
inline constexpr std::size_t MAX_CURSORS = 1024;

// True for the ProcIDs of the cursor procedures, 1 to 9.
constexpr bool is_cursor_procedure(std::uint16_t id) {
  return id >= PROC_CURSOR && id <= PROC_CURSORCLOSE;
}

class ServerCursors {
 public:
  // The statements see `session`, which outlives this; `guard` sees every
  // procedure call they make, as in a batch.
  ServerCursors(const Library& library, sql::SessionInfo& session, CallGuard guard = {})
      : library_(library), session_(session), guard_(std::move(guard)) {}

  // Runs cursor procedure `id` and writes its reply, ending with a DONEPROC
  // (DONE_MORE when `more` requests follow); OverLimit, without one, when
  // the reply would pass MAX_REPLY.
  ReplyStatus run(std::uint16_t id, const RpcRequest& request, bool more, std::uint32_t version,
                  TokenWriter& out);

  std::size_t open_cursors() const { return cursors_.size(); }
  std::size_t held_bytes() const { return held_bytes_; }

 private:
  struct Cursor {
    sql::ResultSet result;
    std::int32_t scrollopt = 0;
    std::int64_t block = 0;    // the first row of the fetch buffer, from 1; 0 before the first
    std::int64_t fetched = 0;  // rows in the fetch buffer
    std::size_t bytes = 0;
  };
  struct Statement {
    std::string declaration;
    SecretString text;
    std::vector<sql::ParameterDeclaration> parameters;
  };
  struct Prepared {
    Statement statement;
    std::size_t bytes = 0;  // what it holds, counted with the cursors' rows
  };
  // Where the parameters of an open are in its request.
  struct OpenAt {
    std::size_t cursor, scrollopt, ccopt, rowcount, first_value;
  };

  ReplyStatus open(std::uint16_t id, const RpcRequest& request, const Statement& statement,
                   const OpenAt& at, std::optional<std::int32_t> prepared, std::uint32_t version,
                   TokenWriter& out);
  ReplyStatus fetch(const RpcRequest& request, std::uint32_t version, TokenWriter& out);
  // The fetch buffer's rows with their columns and ROWSTAT, and DONEINPROC;
  // false, writing nothing, when they would take the reply past MAX_REPLY.
  static bool write_buffer(const Cursor& cursor, TokenWriter& out);
  Statement statement(std::uint16_t id, const RpcRequest& request, std::size_t declaration_at,
                      std::size_t text_at) const;
  Cursor& cursor(std::uint16_t id, const RpcRequest& request);
  // Keeps a prepared cursor statement within the connection's bounds and
  // gives its handle; throws CallFailed (8180) past them.
  std::int32_t add_prepared(Statement statement);
  void remove_prepared(std::int32_t handle);

  const Library& library_;
  sql::SessionInfo& session_;
  CallGuard guard_;
  std::map<std::int32_t, Cursor> cursors_;
  std::map<std::int32_t, Prepared> prepared_;
  std::size_t held_bytes_ = 0;
  std::int32_t next_cursor_ = 180150001;  // where SQL Server's cursor handles start
  std::int32_t next_prepared_ = 1;
};

}  // namespace varrow::host::tds
