// The system procedures drivers call by RPC to run parameterised statements:
// sp_executesql, and the prepare family (sp_prepare, sp_execute,
// sp_prepexec, sp_unprepare). Each runs its statement in the batch language
// with the parameters of its declaration string as variables set from the
// request's values; OUTPUT parameters come back as RETURNVALUE tokens
// holding what the statement left in them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ods/library.h"
#include "sql/call_guard.h"
#include "sql/parser.h"
#include "sql/runner.h"
#include "tds/session/call_reply.h"
#include "tds/wire/rpc.h"
#include "tds/wire/tokens.h"

namespace varrow::host::tds {

// How many prepared statements one connection may hold at a time, and how
// much memory all of them together, as Prepared::held_bytes() counts it.
// Each has at most sql::MAX_PARAMETERS declarations.
inline constexpr std::size_t MAX_PREPARED_STATEMENTS = 1024;
inline constexpr std::size_t MAX_PREPARED_BYTES = 8u << 20;

// The ProcID of the system procedure `request` calls, by number or by name
// (any letter case, "sys.", "dbo." and "master." qualifiers allowed); 0 when
// it calls none of them. ProcIDs 1 to 9 are the server cursors' (server_cursors.h).
std::uint16_t system_procedure_id(const RpcRequest& request);

// Runs the catalog procedure `procedure` (sql::resolve_system_procedure's
// name: sp_tables, sp_sproc_columns, ...) called by RPC and writes its
// reply: its result sets, RETURNSTATUS and DONEPROC (DONE_MORE when `more`
// requests follow); OverLimit, without the DONEPROC, past MAX_REPLY.
ReplyStatus run_catalog_rpc(const std::string& procedure, const RpcRequest& request, bool more,
                            TokenWriter& out);

// One connection's system procedures and its prepared statements, which
// live as long as the connection.
class SystemProcedures {
 public:
  // `guard` sees every procedure call the statements make, as in a batch.
  // The statements see `session`, which outlives this, and leave in it
  // what they change (SET TRANSACTION ISOLATION LEVEL).
  SystemProcedures(const Library& library, sql::SessionInfo& session, CallGuard guard = {})
      : library_(library), session_(session), guard_(std::move(guard)) {}

  // Runs the system procedure `id` (from system_procedure_id) and writes its
  // reply, ending with a DONEPROC (DONE_MORE when `more` requests follow);
  // or, when the statement's output reached MAX_REPLY, stops without one
  // and returns OverLimit (sp_prepexec then keeps no statement).
  ReplyStatus run(std::uint16_t id, const RpcRequest& request, bool more, std::uint32_t version,
                  TokenWriter& out);

  std::size_t prepared_count() const { return prepared_.size(); }

 private:
  // A statement is kept as its text and parsed declarations; its batch is
  // parsed again at each execution, as a batch is, within that request.
  struct Prepared {
    std::string declaration;  // the parameter declaration string, as sent
    SecretString statement;
    std::vector<sql::ParameterDeclaration> parameters;

    // The memory it holds in the connection's table, never less than the
    // allocator takes: its node in the table (sizeof), each heap block of
    // its strings (capacity) and of its declarations (capacity times
    // sizeof, and each name's own block), each block with the allocator's
    // header and rounding.
    std::size_t held_bytes() const;
  };

  static std::vector<sql::ParameterDeclaration> declarations(const std::string& text);
  Prepared prepare(const RpcRequest& request, std::uint16_t id, std::size_t params_at,
                   std::size_t statement_at);
  // The columns of the statement's first result set (sp_prepare's
  // RETURN_METADATA), if it has one.
  std::optional<sql::ResultSet> describe(const Prepared& prepared);
  std::int32_t add(Prepared prepared);
  void remove(std::int32_t handle);
  const Prepared& find(std::int32_t handle) const;
  // Binds the values from request parameter `first_value` on to the
  // declared parameters, runs the statement and writes its reply.
  ReplyStatus execute(std::uint16_t id, const RpcRequest& request, const Prepared& prepared,
                      std::size_t first_value, std::optional<std::int32_t> handle, bool more,
                      std::uint32_t version, TokenWriter& out);
  static void write_outputs(const RpcRequest& request, const std::vector<sql::BoundVariable>& bound,
                            const std::vector<std::optional<std::size_t>>& source,
                            std::optional<std::int32_t> handle, std::uint32_t version,
                            TokenWriter& out);

  const Library& library_;
  sql::SessionInfo& session_;
  CallGuard guard_;
  std::map<std::int32_t, Prepared, std::less<>,
           ClearingAllocator<std::pair<const std::int32_t, Prepared>>>
      prepared_;
  std::size_t prepared_bytes_ = 0;
  std::int32_t next_handle_ = 1;
};

}  // namespace varrow::host::tds
