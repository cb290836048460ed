#include "sql/runner.h"

#include <algorithm>
#include <cctype>

#include "ods/call.h"
#include "text/codepage.h"

namespace varrow::host::sql {
namespace {

constexpr std::int32_t CONVERSION_ERROR = 245;
constexpr std::int32_t UNKNOWN_PROCEDURE = 2812;

// Names compare without regard to ASCII letter case, as the server's default
// collation does; no copy is made, since every RPC call resolves a name.
bool same_name(std::string_view a, std::string_view b) {
  auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [&](char x, char y) { return fold(x) == fold(y); });
}

std::vector<std::string> split_name(const std::string& written) {
  std::vector<std::string> parts(1);
  for (char c : written) {
    if (c == '.') {
      parts.emplace_back();
    } else {
      parts.back() += c;
    }
  }
  return parts;
}

}  // namespace

std::string resolve_procedure(const std::string& written) {
  const std::vector<std::string> parts = split_name(written);
  if (parts.size() > 3) return "";
  // Database and schema, where given, must be master and dbo (or left out).
  if (parts.size() == 3 && !parts[0].empty() && !same_name(parts[0], "master")) return "";
  if (parts.size() >= 2 && !parts[parts.size() - 2].empty() &&
      !same_name(parts[parts.size() - 2], "dbo")) {
    return "";
  }
  if (parts.size() == 2 && parts[0].empty()) return "";
  for (std::string_view name : PROCEDURE_NAMES) {
    if (same_name(name, parts.back())) return std::string(name);
  }
  return "";
}

bool Runner::run_script(std::string_view script) {
  bool ok = true;
  for (const BatchText& batch : split_batches(script))
    ok = run_batch(batch) && ok;
  return ok;
}

bool Runner::run_batch(const BatchText& batch) {
  variables_.clear();
  std::vector<Statement> statements;
  try {
    statements = parse_batch(batch);
  } catch (const SyntaxError& e) {
    output_.error(StatementError{e.number, 15, e.message, e.at});
    return false;
  }
  bool ok = true;
  for (const Statement& statement : statements) {
    try {
      ok = run(statement) && ok;
    } catch (const ConversionError& e) {
      output_.error(StatementError{CONVERSION_ERROR, 16, e.message, statement.at});
      ok = false;
    }
  }
  return ok;
}

bool Runner::run(const Statement& statement) {
  if (const auto* declare = std::get_if<Declare>(&statement.body)) {
    for (const Declaration& d : declare->variables) {
      const Value initial =
          d.initial ? convert(evaluate(*d.initial), d.type) : Value::null_of(d.type);
      variables_[variable_key(d.name)] = Variable{d.type, initial};
    }
    return true;
  }
  if (const auto* set = std::get_if<Set>(&statement.body)) {
    assign(set->variable, evaluate(set->value));
    return true;
  }
  if (const auto* exec_statement = std::get_if<Exec>(&statement.body)) {
    return exec(*exec_statement, statement.at);
  }
  if (const auto* select = std::get_if<Select>(&statement.body)) {
    ResultSet result;
    std::vector<Value> row;
    for (const Column& column : select->columns) {
      Value value = evaluate(column.value);
      result.columns.push_back(ResultColumn{column.alias, value.type});
      row.push_back(std::move(value));
    }
    result.rows.push_back(std::move(row));
    output_.result_set(result);
    return true;
  }
  const auto& print = std::get<Print>(statement.body);
  const Value value = evaluate(print.value);
  output_.print(value.bytes ? display(value) : "");
  return true;
}

Value Runner::evaluate(const Expr& expr) const {
  switch (expr.kind) {
    case Expr::Kind::Literal:
      return expr.literal;
    case Expr::Kind::Variable:
      return variables_.at(variable_key(expr.variable)).value;
    case Expr::Kind::Convert:
      return convert(evaluate(*expr.inner), expr.target);
  }
  return expr.literal;
}

void Runner::assign(const std::string& name, const Value& value) {
  Variable& variable = variables_.at(variable_key(name));
  variable.value = convert(value, variable.type);
}

bool Runner::exec(const Exec& exec, Position at) {
  const std::string procedure = resolve_procedure(exec.procedure);
  const Procedure entry = procedure.empty() ? nullptr : library_.find(procedure);
  if (entry == nullptr) {
    output_.error(StatementError{UNKNOWN_PROCEDURE, 16,
                                 "Could not find stored procedure '" + exec.procedure + "'.", at});
    return false;
  }

  std::vector<Param> params;
  for (const Argument& argument : exec.arguments) {
    const Value value = evaluate(argument.value);
    Param param;
    if (argument.value.kind == Expr::Kind::Variable) param.name = argument.value.variable;
    param.type = value.type.type_code();
    param.max_length = value.type.byte_length();
    param.value = value.bytes;
    param.output = argument.output;
    params.push_back(std::move(param));
  }

  Call call(std::move(params));
  entry(call.handle());

  for (const Event* m : call.messages()) {
    output_.message(ProcedureMessage{m->value, m->msg_class, m->state,
                                     cp1252_to_utf8(m->message_text()), procedure, at.line});
  }
  // An OUTPUT variable takes exactly the bytes the procedure set, or NULL.
  for (const Event& event : call.events()) {
    if (event.kind != EventKind::OutputSet) continue;
    const Argument& argument = exec.arguments.at(static_cast<std::size_t>(event.param) - 1);
    Variable& variable = variables_.at(variable_key(argument.value.variable));
    variable.value =
        Value{variable.type, event.is_null ? std::nullopt : std::optional(event.bytes)};
  }
  const std::int32_t status = call.return_status().value_or(0);
  if (exec.status_variable) assign(*exec.status_variable, Value::integer(status));
  output_.procedure_done(procedure, status);
  return status == 0;
}

}  // namespace varrow::host::sql
