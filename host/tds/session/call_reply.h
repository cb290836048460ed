// Turning what a call or a batch produced into reply tokens: a batch's
// results, messages and statuses (TokenOutput), an RPC parameter as the
// procedure sees it, and the one ending of a reply stopped at its size limit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ods/call.h"
#include "sql/runner.h"
#include "tds/wire/rpc.h"
#include "tds/wire/tokens.h"

namespace varrow::host::tds {

// A procedure's message as INFO (class 10 or less) or ERROR, the same for a
// call by RPC and one in a batch; true when it went as ERROR.
bool write_message(TokenWriter& out, const sql::ProcedureMessage& message);

// The most reply bytes a connection holds before sending them: a request
// whose reply would grow past it stops with REPLY_TOO_LARGE (the statement,
// or the RPC request, that would cross it does not reach the client).
inline constexpr std::size_t MAX_REPLY = 8 << 20;

// How a request's reply came out: whole, or stopped at MAX_REPLY with what
// came before the limit written and nothing of the request after it. The
// caller of a request that stopped ends the reply with reply_too_large()
// and runs no further request of the message.
enum class [[nodiscard]] ReplyStatus{Whole, OverLimit};

// The one ending of every reply stopped at MAX_REPLY, whichever path it took
// (a batch, an RPC request, a system procedure's statement): error
// REPLY_TOO_LARGE, then `done_token` (DONE for a batch, DONEPROC for RPC)
// with DONE_ERROR.
void reply_too_large(TokenWriter& out, std::uint8_t done_token);

// How a batch's results travel back: rows as COLMETADATA, ROW and DONE;
// messages as INFO or ERROR; each EXEC's status as RETURNSTATUS and DONEPROC.
//
// The procedures report a failure as a message of class 10 (INFO: SQL Server
// counts class 10 and below as informational) and return status 1. Their
// DONEPROC carries DONE_ERROR only when an ERROR token (class 11 and above)
// was sent for the call: a DONE_ERROR with no ERROR token before it is what
// tedious reports as "An unknown error has occurred" (and the mssql package
// then drops the return status), and what pytds and FreeTDS turn into a
// failed call whose OUTPUT values are lost. Without it every driver hands
// the caller the message, the return status and the OUTPUT values.
// Statements that fail in the server itself (2812, 102, 137, 245) send an
// ERROR token and a DONE with DONE_ERROR.
//
// Inside a procedure called by RPC (the statement of sp_executesql or of a
// prepared statement) the statements end with DONEINPROC instead, and an
// EXEC within them sends no RETURNSTATUS of its own: the RPC's RETURNSTATUS,
// the one drivers report, is the system procedure's.
//
// TokenOutput writes a batch's output as tokens, up to `max_reply` bytes in
// the writer: a call that would pass it writes nothing and returns false, as
// does every call after it, so that the runner stops with
// BatchStatus::OutputFull.
class TokenOutput : public sql::BatchOutput {
 public:
  enum class Scope { Batch, Procedure };
  explicit TokenOutput(TokenWriter& out, Scope scope = Scope::Batch,
                       std::size_t max_reply = MAX_REPLY)
      : out_(out), scope_(scope), max_reply_(max_reply) {}

  bool result_set(const sql::ResultSet& result) override;
  bool message(const sql::ProcedureMessage& m) override;
  bool print(std::string_view text) override;
  bool error(const sql::StatementError& e) override;
  bool procedure_done(const std::string& procedure, std::int32_t status) override;

  bool failed = false;

 private:
  std::uint8_t done_token() const { return scope_ == Scope::Batch ? TOKEN_DONE : TOKEN_DONEINPROC; }
  // False, from then on, when `adding` more bytes would pass the limit.
  bool make_room(std::size_t adding);

  TokenWriter& out_;
  Scope scope_;
  std::size_t max_reply_;
  bool full_ = false;
  bool error_sent_ = false;  // an ERROR token since the last EXEC ended
};

// COLMETADATA for the result's columns, each of a type that holds every one
// of its rows' values, and with `rowstat` the hidden ROWSTAT column (INT)
// that ends each row of a server cursor's fetch; the types it wrote.
std::vector<TypeInfo> write_column_metadata(TokenWriter& out, const sql::ResultSet& result,
                                            bool rowstat = false);
// One ROW of values in the types of write_column_metadata, and ROWSTAT's
// value when the metadata had it.
void write_row(TokenWriter& out, const std::vector<TypeInfo>& types,
               const std::vector<sql::Value>& row, std::optional<std::int32_t> rowstat = {});

// A value in the form of the wire type `type`: a date as DATETIMN or
// DATETIME2N (of the type's scale), or as its text in another type; any
// other value as it is.
std::optional<Bytes> wire_value(const sql::Value& value, const TypeInfo& type);

// The batch language's value of a date sent as DATETIME, SMALLDATETIME,
// DATETIME2(n) or DATE (the last two as DATETIME2). Throws ProtocolError for
// bytes of a wrong length.
sql::Value date_from_wire(const TypeInfo& type, const Bytes& bytes);

// The parameter as the procedure sees it (its name stays with the request,
// for the reply). Long text types count as MAX types, so that the
// procedures' own size rules decide.
Param procedure_param(const RpcParam& p);

}  // namespace varrow::host::tds
