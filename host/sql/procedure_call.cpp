#include "sql/procedure_call.h"

#include "sql/names.h"
#include "text/codepage.h"

namespace varrow::host::sql {

ProcedureMessage procedure_message(const Event& message, const std::string& procedure, int line) {
  return ProcedureMessage{message.value, message.msg_class,
                          message.state, std::string(cp1252_to_utf8(message.message_text())),
                          procedure,     line};
}

std::string resolve_procedure(const std::string& written) {
  const std::string_view name = unqualified_name(written, Schemas::Dbo);
  for (std::string_view procedure : PROCEDURE_NAMES) {
    if (same_name(procedure, name)) return std::string(procedure);
  }
  return "";
}

CallOutcome call_procedure(Procedure procedure, const std::string& name, std::vector<Param> params,
                           const CallGuard& guard, int line) {
  CallOutcome outcome;
  // Taken before the guard, which may rewrite a value (a key file's name)
  // that the caller must get back as it sent it.
  outcome.values.reserve(params.size());
  for (const Param& p : params)
    outcome.values.push_back(p.output ? p.value : std::nullopt);
  const auto started = std::chrono::steady_clock::now();
  outcome.refusal = guard(name, params);
  if (outcome.refusal) {
    guard.report(CallReport{name, true, true, outcome.refusal->number, {}});
    return outcome;
  }
  Call call(std::move(params));
  procedure(call.handle());
  const auto elapsed = std::chrono::steady_clock::now() - started;
  for (const Event& e : call.events()) {
    if (e.kind == EventKind::Message) outcome.messages.push_back(procedure_message(e, name, line));
    if (e.kind == EventKind::OutputSet) {
      const auto n = static_cast<std::size_t>(e.param) - 1;
      outcome.values[n] = call.params()[n].value;  // the value the call now holds
    }
  }
  outcome.status = call.return_status().value_or(0);
  // A failure's number: its first message's, whatever the class the
  // procedure gave it.
  std::int32_t error = 0;
  for (const ProcedureMessage& m : outcome.messages) {
    if ((m.msg_class > 10 || outcome.status != 0) && error == 0) error = m.number;
  }
  guard.report(CallReport{name, false, error != 0 || outcome.status != 0, error, elapsed});
  return outcome;
}

}  // namespace varrow::host::sql
