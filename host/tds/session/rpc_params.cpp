#include "tds/session/rpc_params.h"

#include <algorithm>

#include "sql/error_numbers.h"
#include "sql/names.h"
#include "tds/session/call_reply.h"
#include "tds/session/error_numbers.h"
#include "text/codepage.h"

namespace varrow::host::tds {
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
  if (is_date(t.type)) {
    const bool old = t.type == TYPE_DATETIME || t.type == TYPE_DATETIMN || t.type == TYPE_DATETIME4;
    if (!p.value) {
      return sql::Value::null_of(
          sql::SqlType{old ? sql::BaseType::DateTime : sql::BaseType::DateTime2, 8, false});
    }
    return date_from_wire(t, *p.value);
  }
  if (!is_character(t.type) && !is_binary(t.type)) {
    throw CallFailed{TYPE_CLASH, ERROR_CLASS,
                     "Operand type clash: the type " + type_code_text(t.type) +
                         " is not one of char, varchar, nchar, nvarchar, varbinary, int, "
                         "datetime or datetime2."};
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
  } else if (is_date(reply.type) && reply.type != TYPE_DATEN && reply.max_length != 4) {
    try {
      const bool old = reply.type == TYPE_DATETIMN;
      return wire_value(
          sql::convert(value, sql::SqlType{old ? sql::BaseType::DateTime : sql::BaseType::DateTime2,
                                           8, false}),
          reply);
    } catch (const sql::EvaluationError&) {
      return std::nullopt;
    }
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

// The UTF-8 text of parameter `at`, which must be NVARCHAR, NCHAR or NTEXT;
// nullopt when it is NULL.
std::optional<SecretString> text_param(const RpcRequest& request, std::size_t at, const char* name,
                                       std::uint16_t id) {
  if (at >= request.params.size()) {
    throw CallFailed{PARAMETER_NOT_SUPPLIED, ERROR_CLASS,
                     "Procedure or function '" + system_procedure_name(id) +
                         "' expects parameter '" + name + "', which was not supplied."};
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

Binding bind_values(std::uint16_t id, const RpcRequest& request,
                    const std::vector<sql::ParameterDeclaration>& declared,
                    const std::string& declaration, const SecretString& statement,
                    std::size_t first_value) {
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
        throw CallFailed{
            NOT_A_PARAMETER, ERROR_CLASS,
            name + " is not a parameter for procedure " + system_procedure_name(id) + "."};
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
        throw CallFailed{TOO_MANY_ARGUMENTS, ERROR_CLASS,
                         "Procedure or function " + system_procedure_name(id) +
                             " has too many arguments specified."};
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
                       "The parameterized query '(" + declaration + ")" + std::string(statement) +
                           "' expects the parameter '" + declared[d].name +
                           "', which was not supplied."};
    }
  }

  return Binding{std::move(bound), std::move(source)};
}

}  // namespace varrow::host::tds
