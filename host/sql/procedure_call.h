// Calling a procedure of the loaded library, one way for a batch's EXEC and
// for an RPC request: the written name resolved, the call vetted by the
// host's guard and run, and what it came to as its caller sees it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ods/call.h"
#include "ods/library.h"
#include "sql/call_guard.h"

namespace varrow::host::sql {

// A message a procedure sent, as a client shows it.
struct ProcedureMessage {
  std::int32_t number = 0;
  std::uint8_t msg_class = 0;
  std::uint8_t state = 0;
  std::string text;  // UTF-8, without the NUL bytes that pad the record
  std::string procedure;
  int line = 0;
};

// The message `message` (a Message event of a call of `procedure`), as
// every caller of a procedure passes it on: its text from Windows-1252, the
// code page the procedures write, to UTF-8.
ProcedureMessage procedure_message(const Event& message, const std::string& procedure, int line);

// The exported name a written procedure name stands for, case-insensitively
// and without the "master.", "dbo." or "master.." qualifiers; empty when it
// names none of the library's procedures.
std::string resolve_procedure(const std::string& written);

// What one call came to for its caller.
struct CallOutcome {
  std::optional<CallRefusal> refusal;  // the guard refused it, and nothing ran
  std::vector<ProcedureMessage> messages;
  std::int32_t status = 0;  // the return status; 0 when the procedure sent none
  // Each OUTPUT parameter's value after the call (NULL for the others): the
  // value the procedure set last or, as SQL Server leaves a variable that a
  // procedure did not set, the value it carried in.
  std::vector<std::optional<Bytes>> values;
};

// Runs `procedure` (the library's entry for the exported name `name`) with
// `params`, after `guard` (if any) has seen them. `line` is the line its
// messages report.
CallOutcome call_procedure(Procedure procedure, const std::string& name, std::vector<Param> params,
                           const CallGuard& guard, int line);

}  // namespace varrow::host::sql
