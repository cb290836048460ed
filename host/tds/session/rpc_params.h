// The parameters of the system procedures called by RPC, read as the
// server reads them: their values in the batch language's types, text and
// integer parameters by position, the values bound to a statement's
// declared parameters, and a variable's value in the form a client's
// RETURNVALUE carries. Shared by sp_executesql and the prepare family and by
// the server cursors.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "sql/parser.h"
#include "sql/runner.h"
#include "tds/wire/rpc.h"

namespace varrow::host::tds {

// SQL Server's classes for what goes wrong in calls of these procedures.
inline constexpr std::uint8_t ERROR_CLASS = 16;
inline constexpr std::uint8_t SYNTAX_CLASS = 15;

// A call that cannot run: answered with an ERROR token, nothing runs.
struct CallFailed : std::exception {
  CallFailed(std::int32_t error_number, std::uint8_t message_class, std::string message)
      : number(error_number), error_class(message_class), text(std::move(message)) {}
  const char* what() const noexcept override { return text.c_str(); }

  std::int32_t number;
  std::uint8_t error_class;
  std::string text;
};

// Little-endian signed integer of 1, 2, 4 or 8 bytes.
std::int64_t integer_of(const Bytes& bytes);

// A parameter's value as the batch language holds it, before it takes its
// declared type. Throws CallFailed for an integer past INT and a type the
// language does not have.
sql::Value language_value(const RpcParam& p);

// A variable's value in the form of the RETURNVALUE type `reply` (the type
// the client sent the parameter as); NULL when it cannot take that form.
std::optional<Bytes> reply_value(const sql::Value& value, const TypeInfo& reply);

// The UTF-8 text of parameter `at`, which must be NVARCHAR, NCHAR or NTEXT;
// nullopt when it is NULL. Throws CallFailed when it is missing (201,
// naming `name` and the procedure `id`) or of another type (214).
std::optional<SecretString> text_param(const RpcRequest& request, std::size_t at, const char* name,
                                       std::uint16_t id);

// The values bound to a statement's declared parameters, and which request
// parameter gave each its value.
struct Binding {
  std::vector<sql::BoundVariable> bound;
  std::vector<std::optional<std::size_t>> source;
};

// Binds the values from request parameter `first_value` on to `declared`:
// by position until the first named value, by name from then on, as the
// server binds them, with its errors (8145, 119, 8144, 8143, 8162, 8178)
// thrown as CallFailed.
Binding bind_values(std::uint16_t id, const RpcRequest& request,
                    const std::vector<sql::ParameterDeclaration>& declared,
                    const std::string& declaration, const SecretString& statement,
                    std::size_t first_value);

}  // namespace varrow::host::tds
