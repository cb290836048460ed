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
  if (guard) {
    outcome.refusal = guard(name, params);
    if (outcome.refusal) return outcome;
  }
  Call call(std::move(params));
  procedure(call.handle());
  for (const Event& e : call.events()) {
    if (e.kind == EventKind::Message) outcome.messages.push_back(procedure_message(e, name, line));
    if (e.kind == EventKind::OutputSet) {
      const auto n = static_cast<std::size_t>(e.param) - 1;
      outcome.values[n] = call.params()[n].value;  // the value the call now holds
    }
  }
  outcome.status = call.return_status().value_or(0);
  return outcome;
}

}  // namespace varrow::host::sql
