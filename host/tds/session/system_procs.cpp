#include "tds/session/system_procs.h"

#include <algorithm>
#include <exception>

#include "sql/error_numbers.h"
#include "sql/names.h"
#include "tds/session/error_numbers.h"
#include "text/codepage.h"

namespace varrow::host::tds {
namespace {

// SQL Server's numbers for what goes wrong in calls of these procedures.
constexpr std::uint8_t ERROR_CLASS = 16;
constexpr std::uint8_t SYNTAX_CLASS = 15;

// A call that cannot run: answered with an ERROR token, nothing runs.
struct CallFailed : std::exception {
  CallFailed(std::int32_t error_number, std::uint8_t message_class, std::string message)
      : number(error_number), error_class(message_class), text(std::move(message)) {}
  const char* what() const noexcept override { return text.c_str(); }

  std::int32_t number;
  std::uint8_t error_class;
  std::string text;
};

// Little-endian signed integer of 1, 2, 4 or 8 bytes (TINYINT and BIT are
// unsigned, but a byte never reaches the sign of the wider types).
std::int64_t integer_of(const Bytes& bytes) {
  std::uint64_t v = 0;
  for (std::size_t i = bytes.size(); i-- > 0;)
    v = v << 8 | bytes[i];
  if (bytes.size() > 1 && bytes.size() < 8 && (bytes.back() & 0x80) != 0) {
    v |= ~std::uint64_t{0} << (8 * bytes.size());  // sign-extend
  }
  return static_cast<std::int64_t>(v);
}

// A parameter's value as the batch language holds it, before it takes its
// declared type.
sql::Value language_value(const RpcParam& p) {
  const TypeInfo& t = p.type;
  const bool max = t.kind == LengthKind::Plp || t.kind == LengthKind::Long;
  sql::SqlType type;
  if (t.type == TYPE_NULL) return sql::Value::null_of(type);
  if (is_integer(t.type)) {
    if (!p.value) return sql::Value::null_of(sql::SqlType{sql::BaseType::Int, 4, false});
    const std::int64_t v = integer_of(*p.value);
    if (v < INT32_MIN || v > INT32_MAX) {
      throw CallFailed{ARITHMETIC_OVERFLOW, ERROR_CLASS,
                       "Arithmetic overflow error converting expression to data type int."};
    }
    return sql::Value::integer(static_cast<std::int32_t>(v));
  }
  if (!is_character(t.type) && !is_binary(t.type)) {
    throw CallFailed{TYPE_CLASH, ERROR_CLASS,
                     "Operand type clash: the type " + type_code_text(t.type) +
                         " is not one of char, varchar, nchar, nvarchar, varbinary or int."};
  }
  type.base = is_national(t.type) ? sql::BaseType::NVarChar
              : is_binary(t.type) ? sql::BaseType::VarBinary
                                  : sql::BaseType::VarChar;
  type.max = max;
  const std::uint32_t bytes = p.value ? static_cast<std::uint32_t>(p.value->size()) : 1;
  const std::uint32_t length = max ? 1 : std::max<std::uint32_t>({t.max_length, bytes, 1});
  type.length = is_national(t.type) ? std::max<std::uint32_t>(length / 2, 1) : length;
  return sql::Value{type, p.value};
}

// A variable's value in the form of the RETURNVALUE type `reply` (the type
// the client sent the parameter as); NULL when it cannot take that form.
std::optional<Bytes> reply_value(const sql::Value& value, const TypeInfo& reply) {
  if (!value.bytes) return std::nullopt;
  sql::SqlType target;
  if (is_integer(reply.type)) {
    target = sql::SqlType{sql::BaseType::Int, 4, false};
  } else if (is_character(reply.type) || is_binary(reply.type)) {
    target.base = is_national(reply.type) ? sql::BaseType::NVarChar
                  : is_binary(reply.type) ? sql::BaseType::VarBinary
                                          : sql::BaseType::VarChar;
    target.max = true;
  } else {
    return std::nullopt;
  }
  sql::Value converted;
  try {
    converted = sql::convert(value, target);
  } catch (const sql::ConversionError&) {
    return std::nullopt;
  }
  if (!converted.bytes) return std::nullopt;
  Bytes bytes = *converted.bytes;
  if (target.base == sql::BaseType::Int) {
    if (bytes.size() != 4) return std::nullopt;
    // Widened with its sign, or narrowed, to the client's integer size.
    const std::uint8_t fill = (bytes[3] & 0x80) != 0 ? 0xFF : 0x00;
    bytes.resize(std::max<std::uint32_t>(reply.max_length, 1), fill);
  } else if (reply.kind != LengthKind::Plp && bytes.size() > reply.max_length) {
    bytes.resize(reply.max_length);  // as an OUTPUT of that length would hold it
  }
  return bytes;
}

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

// The UTF-8 text of parameter `at`, which must be NVARCHAR, NCHAR or NTEXT;
// nullopt when it is NULL.
std::optional<SecretString> text_param(const RpcRequest& request, std::size_t at, const char* name,
                                       std::uint16_t id) {
  if (at >= request.params.size()) {
    throw CallFailed{PARAMETER_NOT_SUPPLIED, ERROR_CLASS,
                     "Procedure or function '" + procedure_name(id) + "' expects parameter '" +
                         name + "', which was not supplied."};
  }
  const RpcParam& p = request.params[at];
  if (!is_national(p.type.type)) {
    throw CallFailed{
        WRONG_PARAMETER_TYPE, ERROR_CLASS,
        std::string("Procedure expects parameter '") + name + "' of type 'ntext/nchar/nvarchar'."};
  }
  if (!p.value) return std::nullopt;
  return utf16le_to_utf8(*p.value);
}

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
  if (request.proc_id != 0) {
    switch (request.proc_id) {
      case PROC_EXECUTESQL:
      case PROC_PREPARE:
      case PROC_EXECUTE:
      case PROC_PREPEXEC:
      case PROC_UNPREPARE:
        return request.proc_id;
      default:
        return 0;
    }
  }
  const std::string_view name = sql::unqualified_name(request.procedure, sql::Schemas::DboOrSys);
  for (std::uint16_t id :
       {PROC_EXECUTESQL, PROC_PREPARE, PROC_EXECUTE, PROC_PREPEXEC, PROC_UNPREPARE}) {
    if (sql::same_name(name, system_procedure_name(id))) return id;
  }
  return 0;
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
  const auto& declared = prepared.parameters;
  std::vector<sql::BoundVariable> bound;
  for (const auto& d : declared)
    bound.push_back(sql::BoundVariable{d.name, d.type, sql::Value::null_of(d.type)});
  // Which request parameter gives each declared one its value: by position
  // until the first named value, by name from then on.
  std::vector<std::optional<std::size_t>> source(declared.size());
  std::size_t position = 0;
  bool named = false;
  for (std::size_t i = first_value; i < request.params.size(); ++i) {
    const RpcParam& p = request.params[i];
    std::size_t d = 0;
    if (!p.name.empty()) {
      named = true;
      const std::string name(utf16le_to_utf8(p.name));
      const auto it = std::find_if(declared.begin(), declared.end(), [&](const auto& decl) {
        return sql::same_name(decl.name, name);
      });
      if (it == declared.end()) {
        throw CallFailed{NOT_A_PARAMETER, ERROR_CLASS,
                         name + " is not a parameter for procedure " + procedure_name(id) + "."};
      }
      d = static_cast<std::size_t>(it - declared.begin());
    } else {
      if (named) {
        throw CallFailed{NAMED_THEN_POSITIONAL, SYNTAX_CLASS,
                         "Must pass parameter number " + std::to_string(i + 1) +
                             " and subsequent parameters as '@name = value'. After the form "
                             "'@name = value' has been used, all subsequent parameters must be "
                             "passed in the form '@name = value'."};
      }
      if (position >= declared.size()) {
        throw CallFailed{
            TOO_MANY_ARGUMENTS, ERROR_CLASS,
            "Procedure or function " + procedure_name(id) + " has too many arguments specified."};
      }
      d = position++;
    }
    if (source[d]) {
      throw CallFailed{SUPPLIED_TWICE, ERROR_CLASS,
                       "Parameter '" + declared[d].name + "' was supplied multiple times."};
    }
    if (p.output() && !declared[d].output) {
      throw CallFailed{NOT_DECLARED_OUTPUT, ERROR_CLASS,
                       "The formal parameter \"" + declared[d].name +
                           "\" was not declared as an OUTPUT parameter, but the actual "
                           "parameter passed in requested output."};
    }
    source[d] = i;
    bound[d].value = language_value(p);
  }
  for (std::size_t d = 0; d < declared.size(); ++d) {
    if (!source[d]) {
      throw CallFailed{VALUE_NOT_SUPPLIED, ERROR_CLASS,
                       "The parameterized query '(" + prepared.declaration + ")" +
                           std::string(prepared.statement) + "' expects the parameter '" +
                           declared[d].name + "', which was not supplied."};
    }
  }

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
