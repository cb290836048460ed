// Runs the statements of a batch in-process: variables live in the batch,
// EXEC calls a procedure of the loaded library through the host's call
// object, and everything a client would see goes to a BatchOutput.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "ods/library.h"
#include "sql/ast.h"
#include "sql/call_guard.h"
#include "sql/parser.h"
#include "sql/procedure_call.h"

namespace varrow::host::sql {

// A statement that could not run, numbered as the server numbers them:
// those of SyntaxError, 245 conversion, 2812 unknown procedure.
struct StatementError {
  std::int32_t number = 0;
  std::uint8_t error_class = 16;
  std::string text;
  Position at;
};

struct ResultColumn {
  std::string name;  // empty: no column name
  SqlType type;
};

struct ResultSet {
  std::vector<ResultColumn> columns;
  std::vector<std::vector<Value>> rows;
};

// Where a batch's results go. Each call returns false when the output can
// take no more (a reply at its size limit): it kept nothing of that call,
// and the runner stops the batch there, runs nothing after it and returns
// BatchStatus::OutputFull.
class BatchOutput {
 public:
  virtual ~BatchOutput() = default;
  [[nodiscard]] virtual bool result_set(const ResultSet& result) = 0;
  [[nodiscard]] virtual bool message(const ProcedureMessage& message) = 0;
  [[nodiscard]] virtual bool print(std::string_view text) = 0;
  [[nodiscard]] virtual bool error(const StatementError& error) = 0;
  // After each EXEC: the procedure's return status.
  [[nodiscard]] virtual bool procedure_done(const std::string& procedure,
                                            std::int32_t return_status) = 0;
  // SET NOCOUNT ON|OFF; it holds for the batches after it too.
  virtual void session_option(const std::string& /*name*/, bool /*on*/) {}
};

// What running a batch (or a script) came to.
enum class [[nodiscard]] BatchStatus{
    Succeeded,   // every statement ran and every procedure returned 0
    Failed,      // a statement failed or a procedure returned a non-zero status
    OutputFull,  // the output took no more: the batch stopped there, and a
                 // script ran no batch after it
};

// The exported name of a system procedure the runner answers itself
// (sp_datatype_info, sp_datatype_info_100), which may also be qualified
// with "sys.".
std::string resolve_system_procedure(const std::string& written);

// What a program that runs batches reports itself as in @@VERSION and
// SERVERPROPERTY: each names itself.
struct ServerIdentity {
  std::string product_version;  // "11.0.0.0": what drivers read after " - " in @@VERSION
  std::string product;          // what answers, also its edition
  std::string details;          // the line of @@VERSION after the version
};

// What the server values of a batch (@@SPID, @@SERVERNAME, @@VERSION)
// report.
struct SessionInfo {
  std::int32_t spid = 1;
  std::string server_name;  // empty: this machine's host name
  ServerIdentity identity;
};

// A variable that exists before a batch starts, as sp_executesql's
// parameters do.
struct BoundVariable {
  std::string name;  // "@P1"
  SqlType type;
  Value value;  // converted to `type` when the batch starts
};

class Runner {
 public:
  // `guard` sees every EXEC of a library procedure before it runs.
  Runner(const Library& library, BatchOutput& output, SessionInfo session = {},
         CallGuard guard = {})
      : library_(library),
        output_(output),
        session_(std::move(session)),
        guard_(std::move(guard)) {}
  Runner(const Runner&) = delete;
  Runner& operator=(const Runner&) = delete;

  // Parses and runs one batch; a syntax error runs none of it. Never
  // throws: whatever goes wrong becomes an error message of the batch.
  BatchStatus run_batch(const BatchText& batch);

  // Runs one batch as sp_executesql runs its statement: the variables are
  // declared and set (each value converted to its type) before the first
  // statement, the batch uses them as its own and may not declare them
  // again, and afterwards each holds the value the batch left in it (its
  // value unchanged when the batch did not run). A value that cannot take
  // its type fails the batch with error 8114. Never throws.
  BatchStatus run_batch(const BatchText& batch, std::vector<BoundVariable>& bound);

  // Runs every batch of a script: Failed when any of them failed. Never
  // throws.
  BatchStatus run_script(std::string_view script);

 private:
  struct Variable {
    SqlType type;
    Value value;
  };

  bool run_statements(const BatchText& batch, std::vector<BoundVariable>& bound);
  bool run(const Statement& statement);
  bool exec(const Exec& exec, Position at);
  bool system_procedure(const std::string& procedure, const Exec& exec, Position at);
  Value evaluate(const Expr& expr) const;
  Value server_value(const std::string& name) const;
  Variable& variable(const std::string& name);
  const Variable& variable(const std::string& name) const;
  void assign(const std::string& name, const Value& value);

  const Library& library_;
  BatchOutput& output_;
  SessionInfo session_;
  CallGuard guard_;
  std::map<std::string, Variable> variables_;
};

}  // namespace varrow::host::sql
