#include "tds/session/system_procs.h"

#include <algorithm>
#include <exception>

#include "sql/catalog_procs.h"
#include "sql/error_numbers.h"
#include "sql/names.h"
#include "tds/session/error_numbers.h"
#include "tds/session/rpc_params.h"
#include "text/codepage.h"

namespace varrow::host::tds {
namespace {

// The bytes one heap block of `n` bytes takes, never less than glibc's
// malloc takes: `n` and its 8-byte header rounded up to 16, at least 32.
std::size_t heap_block(std::size_t n) {
  return n == 0 ? 0 : std::max<std::size_t>(32, n + 8 + 15);
}

// The heap a string holds outside its own object: none while its text fits
// in the object itself.
template <typename String>
std::size_t heap_of(const String& s) {
  return s.capacity() > String().capacity() ? heap_block(s.capacity() + 1) : 0;
}

std::string procedure_name(std::uint16_t id) {
  return system_procedure_name(id);
}

// sp_prepare's @options bit asking for the statement's columns.
constexpr std::int64_t RETURN_METADATA = 0x0001;

// The first result set of a statement, kept; everything else it would send
// dropped.
class FirstResult : public sql::BatchOutput {
 public:
  bool result_set(const sql::ResultSet& r) override {
    if (!first) first = sql::ResultSet{r.columns, {}};
    return true;
  }
  bool message(const sql::ProcedureMessage&) override { return true; }
  bool print(std::string_view) override { return true; }
  bool error(const sql::StatementError&) override { return true; }
  bool procedure_done(const std::string&, std::int32_t) override { return true; }

  std::optional<sql::ResultSet> first;
};

std::int32_t handle_param(const RpcRequest& request, std::uint16_t id) {
  if (request.params.empty()) {
    throw CallFailed{PARAMETER_NOT_SUPPLIED, ERROR_CLASS,
                     "Procedure or function '" + procedure_name(id) +
                         "' expects parameter '@handle', which was not supplied."};
  }
  const RpcParam& p = request.params[0];
  if (!is_integer(p.type.type)) {
    throw CallFailed{WRONG_PARAMETER_TYPE, ERROR_CLASS,
                     "Procedure expects parameter '@handle' of type 'int'."};
  }
  const sql::Value v = language_value(p);
  if (!v.bytes) {
    throw CallFailed{UNKNOWN_HANDLE, ERROR_CLASS,
                     "Could not find prepared statement with handle NULL."};
  }
  return static_cast<std::int32_t>(integer_of(*v.bytes));
}

}  // namespace

std::uint16_t system_procedure_id(const RpcRequest& request) {
  // The cursor procedures (1 to 9) and the statement procedures; 14,
  // sp_prepexecrpc, is not served.
  auto served = [](std::uint16_t id) {
    return id >= PROC_CURSOR && id <= PROC_UNPREPARE && id != PROC_PREPEXECRPC;
  };
  if (request.proc_id != 0) return served(request.proc_id) ? request.proc_id : 0;
  const std::string_view name = sql::unqualified_name(request.procedure, sql::Schemas::DboOrSys);
  for (std::uint16_t id = PROC_CURSOR; id <= PROC_UNPREPARE; ++id) {
    if (served(id) && sql::same_name(name, system_procedure_name(id))) return id;
  }
  return 0;
}

std::optional<sql::ResultSet> SystemProcedures::describe(const Prepared& prepared) {
  // SQL Server describes the columns when it compiles the statement; the
  // batch language compiles nothing ahead, so the statement runs with every
  // parameter NULL, and only its first result set's columns are kept.
  std::vector<sql::BoundVariable> bound;
  for (const auto& d : prepared.parameters)
    bound.push_back(sql::BoundVariable{d.name, d.type, sql::Value::null_of(d.type)});
  FirstResult output;
  sql::SessionInfo session = session_;  // a SET in it changes nothing for the session
  sql::Runner runner(library_, output, session, guard_);
  (void)runner.run_batch(sql::BatchText{prepared.statement, 1}, bound);
  return output.first;
}

ReplyStatus run_catalog_rpc(const std::string& procedure, const RpcRequest& request, bool more,
                            TokenWriter& out) {
  const std::uint16_t more_bit = more ? DONE_MORE : 0;
  try {
    std::vector<sql::CatalogArgument> arguments;
    for (const RpcParam& p : request.params)
      arguments.push_back({std::string(utf16le_to_utf8(p.name)), language_value(p)});
    TokenOutput output(out, TokenOutput::Scope::Procedure);
    for (const sql::ResultSet& result : sql::run_catalog_procedure(procedure, arguments)) {
      if (!output.result_set(result)) return ReplyStatus::OverLimit;
    }
    out.return_status(0);
    out.done(TOKEN_DONEPROC, more_bit);
  } catch (const CallFailed& failed) {
    out.message(failed.number, 1, failed.error_class, utf16(failed.text), procedure, 1);
    out.done(TOKEN_DONEPROC, DONE_ERROR | more_bit);
  } catch (const sql::EvaluationError& failed) {
    out.message(failed.number, 1, ERROR_CLASS, utf16(failed.message), procedure, 1);
    out.done(TOKEN_DONEPROC, DONE_ERROR | more_bit);
  }
  return ReplyStatus::Whole;
}

ReplyStatus SystemProcedures::run(std::uint16_t id, const RpcRequest& request, bool more,
                                  std::uint32_t version, TokenWriter& out) {
  const std::uint16_t more_bit = more ? DONE_MORE : 0;
  try {
    switch (id) {
      case PROC_EXECUTESQL: {
        // @stmt, [@params,] values...
        Prepared once;
        once.statement = text_param(request, 0, "@statement", id).value_or("");
        if (request.params.size() > 1) {
          once.declaration = std::string(text_param(request, 1, "@params", id).value_or(""));
          once.parameters = declarations(once.declaration);
        }
        return execute(id, request, once, 2, std::nullopt, more, version, out);
      }
      case PROC_PREPARE: {
        // @handle OUTPUT, @params, @stmt [, @options]
        Prepared prepared = prepare(request, id, 1, 2);
        const bool metadata = request.params.size() > 3 && request.params[3].value &&
                              is_integer(request.params[3].type.type) &&
                              (integer_of(*request.params[3].value) & RETURN_METADATA) != 0;
        if (metadata) {
          if (const auto columns = describe(prepared)) write_column_metadata(out, *columns);
        }
        const std::int32_t handle = add(std::move(prepared));
        out.return_status(0);
        write_outputs(request, {}, {}, handle, version, out);
        out.done(TOKEN_DONEPROC, more_bit);
        return ReplyStatus::Whole;
      }
      case PROC_EXECUTE:
        // @handle, values...
        return execute(id, request, find(handle_param(request, id)), 1, std::nullopt, more, version,
                       out);
      case PROC_PREPEXEC: {
        // @handle OUTPUT, @params, @stmt, values...
        const std::int32_t handle = add(prepare(request, id, 1, 2));
        try {
          const ReplyStatus status =
              execute(id, request, prepared_.at(handle), 3, handle, more, version, out);
          if (status == ReplyStatus::OverLimit) remove(handle);  // the client never learns it
          return status;
        } catch (const CallFailed&) {
          remove(handle);  // the client never learnt the handle
          throw;
        }
      }
      case PROC_UNPREPARE: {
        const std::int32_t handle = handle_param(request, id);
        find(handle);
        remove(handle);
        out.return_status(0);
        out.done(TOKEN_DONEPROC, more_bit);
        return ReplyStatus::Whole;
      }
      default:
        break;
    }
  } catch (const CallFailed& failed) {
    out.message(failed.number, 1, failed.error_class, utf16(failed.text), procedure_name(id), 1);
    out.done(TOKEN_DONEPROC, DONE_ERROR | more_bit);
  }
  return ReplyStatus::Whole;
}

std::vector<sql::ParameterDeclaration> SystemProcedures::declarations(const std::string& text) {
  try {
    return sql::parse_parameter_declarations(text);
  } catch (const sql::SyntaxError& e) {
    throw CallFailed{e.number, e.number == TOO_MANY_PARAMETERS ? ERROR_CLASS : SYNTAX_CLASS,
                     e.message};
  }
}

SystemProcedures::Prepared SystemProcedures::prepare(const RpcRequest& request, std::uint16_t id,
                                                     std::size_t params_at,
                                                     std::size_t statement_at) {
  Prepared prepared;
  prepared.declaration = std::string(text_param(request, params_at, "@params", id).value_or(""));
  prepared.statement = text_param(request, statement_at, "@stmt", id).value_or("");
  prepared.parameters = declarations(prepared.declaration);
  prepared.declaration.shrink_to_fit();
  prepared.statement.shrink_to_fit();
  prepared.parameters.shrink_to_fit();
  if (prepared_.size() >= MAX_PREPARED_STATEMENTS ||
      prepared.held_bytes() > MAX_PREPARED_BYTES - prepared_bytes_) {
    throw CallFailed{NOT_PREPARED, ERROR_CLASS,
                     "Statement(s) could not be prepared: a connection holds at most " +
                         std::to_string(MAX_PREPARED_STATEMENTS) + " prepared statements of " +
                         std::to_string(MAX_PREPARED_BYTES >> 20) +
                         " MiB in all; unprepare some first."};
  }
  // A statement that cannot compile is refused now, as the server compiles
  // it when preparing, not at each execution.
  std::vector<std::string> names;
  for (const auto& d : prepared.parameters)
    names.push_back(d.name);
  try {
    sql::parse_batch(sql::BatchText{prepared.statement, 1}, names);
  } catch (const sql::SyntaxError& e) {
    throw CallFailed{e.number, SYNTAX_CLASS, e.message};
  }
  return prepared;
}

std::int32_t SystemProcedures::add(Prepared prepared) {
  // Handles count up from 1 and skip those still in use once they wrap.
  while (next_handle_ <= 0 || prepared_.count(next_handle_) != 0) {
    next_handle_ = next_handle_ <= 0 ? 1 : next_handle_ + 1;
  }
  const std::int32_t handle = next_handle_;
  next_handle_ = handle == INT32_MAX ? 1 : handle + 1;
  prepared_bytes_ += prepared.held_bytes();
  prepared_.emplace(handle, std::move(prepared));
  return handle;
}

void SystemProcedures::remove(std::int32_t handle) {
  const auto found = prepared_.find(handle);
  if (found == prepared_.end()) return;
  prepared_bytes_ -= found->second.held_bytes();
  prepared_.erase(found);
}

const SystemProcedures::Prepared& SystemProcedures::find(std::int32_t handle) const {
  const auto found = prepared_.find(handle);
  if (found == prepared_.end()) {
    throw CallFailed{
        UNKNOWN_HANDLE, ERROR_CLASS,
        "Could not find prepared statement with handle " + std::to_string(handle) + "."};
  }
  return found->second;
}

std::size_t SystemProcedures::Prepared::held_bytes() const {
  // The table's node: the handle, this object and the tree's colour and links.
  std::size_t held =
      heap_block(sizeof(std::pair<const std::int32_t, Prepared>) + 4 * sizeof(void*));
  held += heap_of(declaration) + heap_of(statement);
  held += heap_block(parameters.capacity() * sizeof(sql::ParameterDeclaration));
  for (const auto& p : parameters)
    held += heap_of(p.name);
  return held;
}

ReplyStatus SystemProcedures::execute(std::uint16_t id, const RpcRequest& request,
                                      const Prepared& prepared, std::size_t first_value,
                                      std::optional<std::int32_t> handle, bool more,
                                      std::uint32_t version, TokenWriter& out) {
  Binding binding = bind_values(id, request, prepared.parameters, prepared.declaration,
                                prepared.statement, first_value);
  std::vector<sql::BoundVariable>& bound = binding.bound;
  const std::vector<std::optional<std::size_t>>& source = binding.source;

  TokenOutput output(out, TokenOutput::Scope::Procedure);
  sql::Runner runner(library_, output, session_, guard_);
  const sql::BatchStatus ran = runner.run_batch(sql::BatchText{prepared.statement, 1}, bound);
  session_ = runner.session();
  if (ran == sql::BatchStatus::OutputFull) return ReplyStatus::OverLimit;

  out.return_status(output.failed ? 1 : 0);
  write_outputs(request, bound, source, handle, version, out);
  out.done(TOKEN_DONEPROC,
           static_cast<std::uint16_t>((output.failed ? DONE_ERROR : 0) | (more ? DONE_MORE : 0)));
  return ReplyStatus::Whole;
}

void SystemProcedures::write_outputs(const RpcRequest& request,
                                     const std::vector<sql::BoundVariable>& bound,
                                     const std::vector<std::optional<std::size_t>>& source,
                                     std::optional<std::int32_t> handle, std::uint32_t version,
                                     TokenWriter& out) {
  // In the request's order, as drivers pair them by position or by order.
  for (std::size_t i = 0; i < request.params.size(); ++i) {
    const RpcParam& p = request.params[i];
    if (!p.output()) continue;
    const TypeInfo type = reply_type(p.type, version);
    std::optional<Bytes> value;
    if (i == 0 && handle) {
      value = reply_value(sql::Value::integer(*handle), type);
    } else {
      for (std::size_t d = 0; d < source.size(); ++d) {
        if (source[d] == i) value = reply_value(bound[d].value, type);
      }
    }
    out.return_value(static_cast<std::uint16_t>(i), p.name, type, value);
  }
}

}  // namespace varrow::host::tds
