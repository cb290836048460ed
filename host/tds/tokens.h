// The tokens of a reply. Fields whose width depends on the version (row
// counts, line numbers, user types) follow the version in effect.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "sql/error_numbers.h"
#include "sql/runner.h"
#include "tds/login.h"
#include "tds/proto.h"
#include "tds/types.h"
#include "tds/wire.h"

namespace varrow::host::tds {

class TokenWriter {
 public:
  // Room for an ordinary reply up front: most replies are a few hundred bytes.
  explicit TokenWriter(std::uint32_t version) : version_(version) { out_.bytes().reserve(512); }

  Bytes& bytes() { return out_.bytes(); }
  Writer& raw() { return out_; }
  bool wide_counts() const { return from_7_2(version_); }

  void envchange(std::uint8_t type, std::string_view new_value, std::string_view old_value);
  void envchange_collation();
  void loginack(std::uint32_t version);
  // INFO (class 10 or less) or ERROR, text as UTF-16LE.
  void message(std::int32_t number, std::uint8_t state, std::uint8_t msg_class,
               const Bytes& text_utf16, std::string_view procedure, std::uint32_t line);
  void return_status(std::int32_t status);
  // The value of OUTPUT parameter `ordinal` (from 0), named as the client
  // named it (UTF-16LE).
  void return_value(std::uint16_t ordinal, const Bytes& name_utf16, const TypeInfo& type,
                    const std::optional<Bytes>& value);
  void done(std::uint8_t token, std::uint16_t status, std::uint64_t rows = 0);
  // Ends a batch's reply. Every statement already ended with its own DONE
  // (or DONEPROC) carrying DONE_MORE: the last of them, when nothing came
  // after it, becomes the final one by losing DONE_MORE, as SQL Server ends
  // a batch. Only when the batch sent no DONE of its own, or a message
  // followed the last one, a final DONE closes the reply (with DONE_ERROR
  // when `failed`). An extra empty DONE after the last statement's would
  // read as one more result: FreeTDS's ODBC driver then cancels the request
  // with ATTENTION before its next statement.
  void end_batch(bool failed);
  void user_type() {
    if (wide_counts()) {
      out_.u32(0);
    } else {
      out_.u16(0);
    }
  }

 private:
  std::uint32_t version_;
  Writer out_;
  std::size_t last_done_ = 0;  // where the last DONE* token starts
  bool wrote_done_ = false;
};

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

// Writes a batch's output as tokens, up to `max_reply` bytes in the writer:
// a call that would pass it writes nothing and returns false, as does every
// call after it, so that the runner stops with BatchStatus::OutputFull.
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

}  // namespace varrow::host::tds
