#include "sql/runner.h"

#include <algorithm>
#include <cctype>
#include <exception>
#include <new>

#include "ods/call.h"
#include "sql/catalog.h"
#include "sql/catalog_procs.h"
#include "sql/error_numbers.h"
#include "sql/functions.h"
#include "sql/names.h"
#include "sql/operators.h"
#include "text/codepage.h"

namespace varrow::host::sql {
namespace {

// A fault of the runner itself; run_batch turns it into error 8630.
struct InternalError : std::exception {
  explicit InternalError(std::string text) : message(std::move(text)) {}
  const char* what() const noexcept override { return message.c_str(); }

  std::string message;
};

// The output took no more; run_batch turns it into BatchStatus::OutputFull.
struct OutputFull : std::exception {
  const char* what() const noexcept override { return "the output is full"; }
};

// Every call of the output goes through here, so that the batch stops at the
// first one the output refuses.
void taken(bool accepted) {
  if (!accepted) throw OutputFull{};
}

// The system procedures a batch may call besides the library's: the
// catalog procedures ODBC's catalog functions call (catalog_procs.h).
constexpr std::string_view SYSTEM_PROCEDURES[] = {"sp_datatype_info",     "sp_datatype_info_100",
                                                  "sp_stored_procedures", "sp_sproc_columns",
                                                  "sp_sproc_columns_100", "sp_tables",
                                                  "sp_columns",           "sp_columns_100",
                                                  "sp_special_columns",   "sp_special_columns_100",
                                                  "sp_server_info"};

}  // namespace

BatchStatus Runner::run_script(std::string_view script) {
  Batches batches;
  try {
    batches = split_batches(script);
  } catch (const std::bad_alloc&) {
    const bool accepted = output_.error(StatementError{
        OUT_OF_MEMORY, 17, "There is insufficient system memory to run this script.", {}});
    return accepted ? BatchStatus::Failed : BatchStatus::OutputFull;
  }
  BatchStatus status = BatchStatus::Succeeded;
  for (const BatchText& batch : batches) {
    for (int i = 0; i < batch.repeat; ++i) {
      const BatchStatus ran = run_batch(batch);
      if (ran == BatchStatus::OutputFull) return ran;
      if (ran == BatchStatus::Failed) status = ran;
    }
  }
  return status;
}

BatchStatus Runner::run_batch(const BatchText& batch) {
  std::vector<BoundVariable> none;
  return run_batch(batch, none);
}

BatchStatus Runner::run_batch(const BatchText& batch, std::vector<BoundVariable>& bound) {
  // Nothing escapes: a client sees every failure as a message and its
  // connection goes on.
  StatementError failure{INTERNAL_ERROR, 16, "Internal error.", Position{batch.first_line, 1}};
  try {
    const bool ok = run_statements(batch, bound);
    variables_.clear();
    return ok ? BatchStatus::Succeeded : BatchStatus::Failed;
  } catch (const OutputFull&) {
    variables_.clear();
    return BatchStatus::OutputFull;
  } catch (const std::bad_alloc&) {
    variables_.clear();
    failure.number = OUT_OF_MEMORY;
    failure.error_class = 17;
    failure.text = "There is insufficient system memory to run this batch.";
  } catch (const InternalError& e) {
    variables_.clear();
    failure.text = "Internal error: " + e.message;
  } catch (const std::exception& e) {
    variables_.clear();
    failure.text = std::string("Internal error: ") + e.what();
  } catch (...) {
    variables_.clear();
  }
  return output_.error(failure) ? BatchStatus::Failed : BatchStatus::OutputFull;
}

bool Runner::run_statements(const BatchText& batch, std::vector<BoundVariable>& bound) {
  variables_.clear();
  std::vector<Statement> statements;
  try {
    std::vector<std::string> names;
    names.reserve(bound.size());
    for (const BoundVariable& b : bound)
      names.push_back(b.name);
    statements = parse_batch(batch, names);
  } catch (const SyntaxError& e) {
    taken(output_.error(StatementError{e.number, 15, e.message, e.at}));
    return false;
  }
  for (const BoundVariable& b : bound) {
    try {
      variables_[variable_key(b.name)] = Variable{b.type, convert(b.value, b.type)};
    } catch (const ConversionError& e) {
      taken(output_.error(StatementError{
          PARAMETER_CONVERSION_ERROR, 16,
          "Error converting the value of " + b.name + " to " + b.type.name() + ": " + e.message,
          Position{batch.first_line, 1}}));
      return false;
    }
  }
  bool ok = true;
  for (const Statement& statement : statements) {
    try {
      ok = run(statement) && ok;
    } catch (const EvaluationError& e) {
      taken(output_.error(StatementError{e.number, 16, e.message, statement.at}));
      ok = false;
    }
  }
  for (BoundVariable& b : bound)
    b.value = variable(b.name).value;
  return ok;
}

bool Runner::run(const Statement& statement) {
  if (const auto* declare = std::get_if<Declare>(&statement.body)) {
    // Every variable exists, NULL, before any initial value is converted: a
    // value that cannot take its type fails the statement and leaves the
    // variables it did not reach NULL for the statements after.
    for (const Declaration& d : declare->variables)
      variables_[variable_key(d.name)] = Variable{d.type, Value::null_of(d.type)};
    for (const Declaration& d : declare->variables) {
      if (d.initial) assign(d.name, evaluate(*d.initial));
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
  if (const auto* select_statement = std::get_if<Select>(&statement.body)) {
    return select(*select_statement);
  }
  if (const auto* option = std::get_if<SessionOption>(&statement.body)) {
    if (option->name == "ISOLATION") {
      session_.isolation_level = option->level;
    } else {
      output_.session_option(option->name, option->on);
    }
    return true;
  }
  const auto& print = std::get<Print>(statement.body);
  const Value value = evaluate(print.value);
  taken(output_.print(value.bytes ? display(value) : SecretString()));
  return true;
}

bool Runner::select(const Select& select) {
  std::vector<std::vector<Value>> source(1);  // no FROM: one row of no columns
  if (!select.from.empty()) {
    const CatalogObject* object = find_object(select.from);
    if (object == nullptr) {
      // Resolved when the statement runs, as the server resolves names.
      taken(output_.error(StatementError{
          INVALID_OBJECT, 16, "Invalid object name '" + select.from + "'.", select.from_at}));
      return false;
    }
    source = object->rows(session_);
    object_ = object;
  }
  ResultSet result;
  for (const Column& column : select.columns)
    result.columns.push_back(ResultColumn{column.alias, SqlType{}});
  struct Reset {
    Runner& runner;
    ~Reset() { runner.row_ = nullptr, runner.object_ = nullptr; }
  } reset{*this};
  for (const std::vector<Value>& row : source) {
    row_ = &row;
    if (select.where && truth(*select.where) != true) continue;
    std::vector<Value> values;
    for (const Column& column : select.columns)
      values.push_back(evaluate(column.value));
    result.rows.push_back(std::move(values));
  }
  if (!select.columns.empty() && !select.columns[0].variable.empty()) {
    // SELECT @v = value, ...: the variables take the last row's values.
    if (!result.rows.empty()) {
      for (std::size_t i = 0; i < select.columns.size(); ++i)
        assign(select.columns[i].variable, result.rows.back()[i]);
    }
    return true;
  }
  for (std::size_t i = 0; i < result.columns.size(); ++i) {
    if (!result.rows.empty()) {
      result.columns[i].type = result.rows[0][i].type;
    } else {
      // No row to take the type from: the type the expression has.
      row_ = source.empty() ? nullptr : &source[0];
      const BaseType base = static_base(select.columns[i].value).value_or(BaseType::Int);
      result.columns[i].type = SqlType{base, base == BaseType::Int ? 4u : 1u, false};
    }
  }
  taken(output_.result_set(result));
  return true;
}

Value Runner::column_value(const Expr& e) const {
  const int at = object_ == nullptr || row_ == nullptr ? -1 : column_index(*object_, e.variable);
  if (at < 0) throw InternalError{"column " + e.variable + " outside a row"};
  return (*row_)[static_cast<std::size_t>(at)];
}

// Recurses as deep as the expression nests, which the parser bounds.
Value Runner::evaluate(const Expr& expr) const {
  switch (expr.kind) {
    case Expr::Kind::Literal:
      return expr.literal;
    case Expr::Kind::Variable:
      return variable(expr.variable).value;
    case Expr::Kind::Global:
      return server_value(expr.variable);
    case Expr::Kind::Column:
      return column_value(expr);
    case Expr::Kind::Convert:
      return convert(evaluate(expr.args[0]), expr.target, expr.style);
    case Expr::Kind::Function: {
      const Function* f = find_function(expr.variable);
      if (f == nullptr) throw InternalError{"no function " + expr.variable};
      std::vector<Value> args;
      args.reserve(expr.args.size());
      for (const Expr& a : expr.args)
        args.push_back(evaluate(a));
      return f->body(args, session_);
    }
    case Expr::Kind::Unary:
      return apply_unary(expr.op, evaluate(expr.args[0]));
    case Expr::Kind::Binary:
      return apply_binary(expr.op, evaluate(expr.args[0]), evaluate(expr.args[1]));
    case Expr::Kind::Case:
      return case_value(expr);
    default:
      break;
  }
  throw InternalError{"a condition evaluated as a value"};
}

// TRUE, FALSE or UNKNOWN (nullopt), as NULL makes a comparison.
std::optional<bool> Runner::truth(const Expr& c) const {
  switch (c.kind) {
    case Expr::Kind::Compare:
      return apply_comparison(c.op, evaluate(c.args[0]), evaluate(c.args[1]));
    case Expr::Kind::IsNull:
      return evaluate(c.args[0]).bytes.has_value() == c.negated;
    case Expr::Kind::Not: {
      const std::optional<bool> inner = truth(c.args[0]);
      return inner ? std::optional(!*inner) : std::nullopt;
    }
    case Expr::Kind::And: {
      const std::optional<bool> left = truth(c.args[0]);
      if (left == false) return false;
      const std::optional<bool> right = truth(c.args[1]);
      if (right == false) return false;
      return left && right ? std::optional(true) : std::nullopt;
    }
    case Expr::Kind::Or: {
      const std::optional<bool> left = truth(c.args[0]);
      if (left == true) return true;
      const std::optional<bool> right = truth(c.args[1]);
      if (right == true) return true;
      return left && right ? std::optional(false) : std::nullopt;
    }
    default:
      throw InternalError{"a value evaluated as a condition"};
  }
}

// The value of the branch taken, in the type of highest precedence among
// all the branches, as the server types a CASE.
Value Runner::case_value(const Expr& e) const {
  const std::size_t first = e.has_input ? 1 : 0;
  const std::size_t end = e.args.size() - (e.has_else ? 1 : 0);
  const Value input = e.has_input ? evaluate(e.args[0]) : Value{};
  const Expr* chosen = e.has_else ? &e.args.back() : nullptr;
  for (std::size_t i = first; i + 1 < end; i += 2) {  // WHEN, THEN pairs
    const bool taken = e.has_input ? apply_comparison("=", input, evaluate(e.args[i])) == true
                                   : truth(e.args[i]) == true;
    if (taken) {
      chosen = &e.args[i + 1];
      break;
    }
  }
  const std::optional<BaseType> base = static_base(e);
  const SqlType type{base.value_or(BaseType::Int), base == BaseType::Int ? 4u : 1u, false};
  if (chosen == nullptr) return Value::null_of(type);
  Value v = evaluate(*chosen);
  if (!base || v.type.base == *base) return v;
  if (!v.bytes) return Value::null_of(type);
  SqlType target = type;
  if (target.is_character() || target.base == BaseType::VarBinary) {
    target.max = true;  // as long as the value; the length comes from it
    v = convert(v, target);
    target.max = v.type.max = false;
    target.length = static_cast<std::uint32_t>(
        std::max<std::size_t>(1, target.is_national() ? v.bytes->size() / 2 : v.bytes->size()));
    v.type = target;
    return v;
  }
  return convert(v, target);
}

// The base type an expression has whatever its value; nullopt for NULL
// written as such, which takes the type of what it meets.
std::optional<BaseType> Runner::static_base(const Expr& e) const {
  switch (e.kind) {
    case Expr::Kind::Literal:
      return e.null_literal ? std::nullopt : std::optional(e.literal.type.base);
    case Expr::Kind::Variable:
      return variable(e.variable).type.base;
    case Expr::Kind::Global:
      return server_value(e.variable).type.base;
    case Expr::Kind::Column:
      return column_value(e).type.base;
    case Expr::Kind::Convert:
      return e.target.base;
    case Expr::Kind::Function: {
      const Function* f = find_function(e.variable);
      std::vector<std::optional<BaseType>> args;
      for (const Expr& a : e.args)
        args.push_back(static_base(a));
      return f ? result_base(f->returns, args) : std::nullopt;
    }
    case Expr::Kind::Unary:
      return BaseType::Int;
    case Expr::Kind::Binary: {
      const auto a = static_base(e.args[0]);
      const auto b = static_base(e.args[1]);
      if (!a || !b) return a ? a : b;
      return common_type(SqlType{*a, 1, false}, SqlType{*b, 1, false}).base;
    }
    case Expr::Kind::Case: {
      std::optional<BaseType> best;
      const std::size_t first = e.has_input ? 1 : 0;
      for (std::size_t i = first + 1; i < e.args.size(); i += 2) {
        const auto b = static_base(e.args[i]);
        if (b && (!best || precedence(*b) > precedence(*best))) best = b;
      }
      if (e.has_else) {
        const auto b = static_base(e.args.back());
        if (b && (!best || precedence(*b) > precedence(*best))) best = b;
      }
      return best;
    }
    default:
      return std::nullopt;
  }
}

Value Runner::server_value(const std::string& name) const {
  const std::string server = session_.server_name.empty() ? machine_name() : session_.server_name;
  if (name == "@@VERSION") {
    // Drivers read the version after " - " in text that starts as the
    // server's does; the rest says what answers.
    return Value::nvarchar("Microsoft SQL Server compatible: " + session_.identity.product + " - " +
                           session_.identity.product_version + " (X64)\n\t" +
                           session_.identity.details + "\n\ton Linux");
  }
  if (name == "@@MAX_PRECISION") return Value::integer(38);
  if (name == "@@SPID") return Value::integer(session_.spid);
  if (name == "@@TRANCOUNT") return Value::integer(0);  // nothing here is transactional
  if (name == "@@SERVERNAME") return Value::nvarchar(server);
  if (name == "@@SERVICENAME") return Value::nvarchar("MSSQLSERVER");
  if (name == "@@LANGUAGE") return Value::nvarchar("us_english");
  if (name == "@@MICROSOFTVERSION") return Value::integer(microsoft_version(session_.identity));
  if (name == "@@TEXTSIZE") return Value::integer(2147483647);
  if (name == "@@LOCK_TIMEOUT") return Value::integer(-1);  // wait for ever: nothing locks
  // ANSI_WARNINGS, ANSI_PADDING, ANSI_NULLS, QUOTED_IDENTIFIER,
  // ANSI_NULL_DFLT_ON and CONCAT_NULL_YIELDS_NULL: a driver's session's.
  if (name == "@@OPTIONS") return Value::integer(5432);
  if (name == "@@ROWCOUNT" || name == "@@ERROR") return Value::integer(0);
  if (name == "@@DATEFIRST") return Value::integer(7);
  throw InternalError{"no server value " + name};
}

Runner::Variable& Runner::variable(const std::string& name) {
  const auto found = variables_.find(variable_key(name));
  if (found == variables_.end()) throw InternalError{"variable " + name + " does not exist"};
  return found->second;
}

const Runner::Variable& Runner::variable(const std::string& name) const {
  const auto found = variables_.find(variable_key(name));
  if (found == variables_.end()) throw InternalError{"variable " + name + " does not exist"};
  return found->second;
}

void Runner::assign(const std::string& name, const Value& value) {
  Variable& target = variable(name);
  target.value = convert(value, target.type);
}

bool Runner::exec(const Exec& exec, Position at) {
  const std::string procedure = resolve_procedure(exec.procedure);
  const Procedure entry = procedure.empty() ? nullptr : library_.find(procedure);
  if (entry == nullptr) {
    const std::string system = resolve_system_procedure(exec.procedure);
    if (!system.empty()) return system_procedure(system, exec, at);
    taken(output_.error(StatementError{
        UNKNOWN_PROCEDURE, 16, "Could not find stored procedure '" + exec.procedure + "'.", at}));
    return false;
  }

  std::vector<Param> params;
  for (const Argument& argument : exec.arguments) {
    Value value = evaluate(argument.value);
    Param param;
    if (!argument.name.empty()) {
      param.name = argument.name;
    } else if (argument.value.kind == Expr::Kind::Variable) {
      param.name = argument.value.variable;
    }
    param.type = value.type.param_type();
    param.max_length = value.type.byte_length();
    param.value = std::move(value.bytes);  // not copied: the call clears it
    param.output = argument.output;
    params.push_back(std::move(param));
  }
  CallOutcome outcome = call_procedure(entry, procedure, std::move(params), guard_, at.line);
  if (outcome.refusal) {
    taken(output_.error(StatementError{outcome.refusal->number, 16, outcome.refusal->text, at}));
    return false;
  }
  for (const ProcedureMessage& m : outcome.messages)
    taken(output_.message(m));
  for (std::size_t i = 0; i < exec.arguments.size(); ++i) {
    const Argument& argument = exec.arguments[i];
    if (!argument.output || argument.value.kind != Expr::Kind::Variable) continue;
    Variable& target = variable(argument.value.variable);
    target.value = Value{target.type, std::move(outcome.values[i])};
  }
  const std::int32_t status = outcome.status;
  if (exec.status_variable) assign(*exec.status_variable, Value::integer(status));
  taken(output_.procedure_done(procedure, status));
  return status == 0;
}

std::string resolve_system_procedure(const std::string& written) {
  const std::string_view name = unqualified_name(written, Schemas::DboOrSys);
  for (std::string_view procedure : SYSTEM_PROCEDURES) {
    if (same_name(procedure, name)) return std::string(procedure);
  }
  return "";
}

bool Runner::system_procedure(const std::string& procedure, const Exec& exec, Position at) {
  std::vector<CatalogArgument> arguments;
  for (const Argument& argument : exec.arguments) {
    if (argument.output) {
      taken(output_.error(StatementError{
          8144, 16, "Procedure or function " + procedure + " has too many arguments specified.",
          at}));
      return false;
    }
    arguments.push_back(CatalogArgument{argument.name, evaluate(argument.value)});
  }
  for (const ResultSet& result : run_catalog_procedure(procedure, arguments))
    taken(output_.result_set(result));
  if (exec.status_variable) assign(*exec.status_variable, Value::integer(0));
  taken(output_.procedure_done(procedure, 0));
  return true;
}

}  // namespace varrow::host::sql
