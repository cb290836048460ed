#include "sql/runner.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <exception>
#include <new>

#include "ods/call.h"
#include "sql/error_numbers.h"
#include "sql/names.h"
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

std::string host_name() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "varrow";
  return name;
}

Value nvarchar(const std::string& utf8) {
  const Bytes bytes = utf16(utf8);
  return Value{
      SqlType{BaseType::NVarChar,
              static_cast<std::uint32_t>(std::max<std::size_t>(1, bytes.size() / 2)), false},
      bytes};
}

Value varchar(const std::string& ascii, std::uint32_t length) {
  return Value{SqlType{BaseType::VarChar, length, false}, Bytes(ascii.begin(), ascii.end())};
}

// The system procedures a batch may call besides the library's: what ODBC
// drivers ask for SQLGetTypeInfo.
constexpr std::string_view SYSTEM_PROCEDURES[] = {"sp_datatype_info", "sp_datatype_info_100"};

// One row of sp_datatype_info for each type of the language, in the order
// the procedure sorts them (by ODBC type code).
struct TypeRow {
  const char* name;
  std::int32_t odbc_type;
  std::int32_t precision;
  const char* prefix;  // nullptr: NULL
  const char* suffix;
  const char* create_params;
  std::int32_t searchable;
  std::int32_t user_type;
};
constexpr TypeRow TYPE_ROWS[] = {
    {"nvarchar", -9, 4000, "N'", "'", "max length", 3, 0},
    {"nchar", -8, 4000, "N'", "'", "length", 3, 0},
    {"varbinary", -3, 8000, "0x", nullptr, "max length", 2, 4},
    {"char", 1, 8000, "'", "'", "length", 3, 1},
    {"int", 4, 10, nullptr, nullptr, nullptr, 2, 7},
    {"varchar", 12, 8000, "'", "'", "max length", 3, 2},
};

ResultSet type_info(std::int32_t odbc_type) {
  const SqlType name_type{BaseType::NVarChar, 128, false};
  const SqlType text32{BaseType::VarChar, 32, false};
  const SqlType integer{BaseType::Int, 4, false};
  ResultSet result;
  const std::pair<const char*, SqlType> columns[] = {{"TYPE_NAME", name_type},
                                                     {"DATA_TYPE", integer},
                                                     {"PRECISION", integer},
                                                     {"LITERAL_PREFIX", text32},
                                                     {"LITERAL_SUFFIX", text32},
                                                     {"CREATE_PARAMS", text32},
                                                     {"NULLABLE", integer},
                                                     {"CASE_SENSITIVE", integer},
                                                     {"SEARCHABLE", integer},
                                                     {"UNSIGNED_ATTRIBUTE", integer},
                                                     {"MONEY", integer},
                                                     {"AUTO_INCREMENT", integer},
                                                     {"LOCAL_TYPE_NAME", name_type},
                                                     {"MINIMUM_SCALE", integer},
                                                     {"MAXIMUM_SCALE", integer},
                                                     {"SQL_DATA_TYPE", integer},
                                                     {"SQL_DATETIME_SUB", integer},
                                                     {"NUM_PREC_RADIX", integer},
                                                     {"INTERVAL_PRECISION", integer},
                                                     {"USERTYPE", integer}};
  for (const auto& [name, type] : columns)
    result.columns.push_back(ResultColumn{name, type});
  auto text = [&](const char* s) { return s ? varchar(s, 32) : Value::null_of(text32); };
  const Value null_int = Value::null_of(integer);
  for (const TypeRow& t : TYPE_ROWS) {
    if (odbc_type != 0 && odbc_type != t.odbc_type) continue;
    const bool is_int = t.odbc_type == 4;
    result.rows.push_back({nvarchar(t.name),
                           Value::integer(t.odbc_type),
                           Value::integer(t.precision),
                           text(t.prefix),
                           text(t.suffix),
                           text(t.create_params),
                           Value::integer(1),  // nullable
                           Value::integer(0),  // case-insensitive, as the collation is
                           Value::integer(t.searchable),
                           is_int ? Value::integer(0) : null_int,
                           Value::integer(0),
                           is_int ? Value::integer(0) : null_int,
                           nvarchar(t.name),
                           is_int ? Value::integer(0) : null_int,
                           is_int ? Value::integer(0) : null_int,
                           Value::integer(t.odbc_type),
                           null_int,
                           is_int ? Value::integer(10) : null_int,
                           null_int,
                           Value::integer(t.user_type)});
  }
  return result;
}

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
    } catch (const ConversionError& e) {
      taken(output_.error(StatementError{CONVERSION_ERROR, 16, e.message, statement.at}));
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
  if (const auto* select = std::get_if<Select>(&statement.body)) {
    ResultSet result;
    std::vector<Value> row;
    for (const Column& column : select->columns) {
      Value value = evaluate(column.value);
      result.columns.push_back(ResultColumn{column.alias, value.type});
      row.push_back(std::move(value));
    }
    result.rows.push_back(std::move(row));
    taken(output_.result_set(result));
    return true;
  }
  if (const auto* option = std::get_if<SessionOption>(&statement.body)) {
    output_.session_option(option->name, option->on);
    return true;
  }
  const auto& print = std::get<Print>(statement.body);
  const Value value = evaluate(print.value);
  taken(output_.print(value.bytes ? display(value) : SecretString()));
  return true;
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
    case Expr::Kind::Convert:
      return convert(evaluate(*expr.inner), expr.target, expr.style);
    case Expr::Kind::DataLength: {
      const Value value = evaluate(*expr.inner);
      if (!value.bytes) return Value::null_of(SqlType{BaseType::Int, 4, false});
      return Value::integer(static_cast<std::int32_t>(value.bytes->size()));
    }
    case Expr::Kind::ServerProperty: {
      const Value property = evaluate(*expr.inner);
      if (!property.bytes) return Value::null_of(SqlType{BaseType::NVarChar, 128, false});
      std::string name(display(property));
      for (char& c : name)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      const std::string server = session_.server_name.empty() ? host_name() : session_.server_name;
      const std::string& version = session_.identity.product_version;
      const std::size_t major_end = version.find('.');
      if (name == "productversion") return nvarchar(version);
      if (name == "productmajorversion") return nvarchar(version.substr(0, major_end));
      if (name == "productminorversion") {
        return nvarchar(
            version.substr(major_end + 1, version.find('.', major_end + 1) - major_end - 1));
      }
      if (name == "productlevel") return nvarchar("RTM");
      if (name == "edition") return nvarchar(session_.identity.product);
      if (name == "servername" || name == "machinename") return nvarchar(server);
      if (name == "collation") return nvarchar("SQL_Latin1_General_CP1_CI_AS");
      if (name == "isintegratedsecurityonly" || name == "isclustered" || name == "ishadrenabled" ||
          name == "isfulltextinstalled") {
        return Value::integer(0);
      }
      // The server's answer to a property it does not know.
      return Value::null_of(SqlType{BaseType::NVarChar, 128, false});
    }
  }
  return expr.literal;
}

Value Runner::server_value(const std::string& name) const {
  const std::string server = session_.server_name.empty() ? host_name() : session_.server_name;
  if (name == "@@VERSION") {
    // Drivers read the version after " - " in text that starts as the
    // server's does; the rest says what answers.
    return nvarchar("Microsoft SQL Server compatible: " + session_.identity.product + " - " +
                    session_.identity.product_version + " (X64)\n\t" + session_.identity.details +
                    "\n\ton Linux");
  }
  if (name == "@@MAX_PRECISION") return Value::integer(38);
  if (name == "@@SPID") return Value::integer(session_.spid);
  if (name == "@@TRANCOUNT") return Value::integer(0);  // nothing here is transactional
  if (name == "@@SERVERNAME") return nvarchar(server);
  if (name == "@@SERVICENAME") return nvarchar("MSSQLSERVER");
  if (name == "@@LANGUAGE") return nvarchar("us_english");
  if (name == "@@MICROSOFTVERSION") return Value::integer(11 << 24);  // major, minor, build
  if (name == "@@TEXTSIZE") return Value::integer(2147483647);
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

// sp_datatype_info [@data_type =] type [, [@ODBCVer =] version]: one row
// for each type of the language, or for the one ODBC type asked for. The
// ODBC version changes nothing for these types.
bool Runner::system_procedure(const std::string& procedure, const Exec& exec, Position at) {
  std::int32_t odbc_type = 0;
  for (std::size_t i = 0; i < exec.arguments.size(); ++i) {
    const Argument& argument = exec.arguments[i];
    const std::string name = variable_key(argument.name);
    const bool is_type = argument.name.empty() ? i == 0 : name == "@data_type";
    const bool is_version = argument.name.empty() ? i == 1 : name == "@odbcver";
    if ((!is_type && !is_version) || argument.output) {
      taken(output_.error(StatementError{
          8144, 16, "Procedure or function " + procedure + " has too many arguments specified.",
          at}));
      return false;
    }
    const Value value = convert(evaluate(argument.value), SqlType{BaseType::Int, 4, false});
    if (is_type && value.bytes) odbc_type = std::stoi(std::string(display(value)));
  }
  taken(output_.result_set(type_info(odbc_type)));
  if (exec.status_variable) assign(*exec.status_variable, Value::integer(0));
  taken(output_.procedure_done(procedure, 0));
  return true;
}

}  // namespace varrow::host::sql
