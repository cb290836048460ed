// The built-in functions of the batch language, one table: each function's
// name, how many arguments it takes, how its result type follows from them,
// and its body. CAST, CONVERT, IIF, COALESCE and NULLIF have syntax (or
// evaluation order) of their own and are the parser's; the rest are here.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "sql/session_info.h"
#include "sql/value.h"

namespace varrow::host::sql {

// A function's result type, as CASE needs it before any value exists.
enum class Returns {
  Int,
  NVarChar,
  VarChar,
  DateTime,
  DateTime2,
  TextOfFirst,  // the first argument's type as variable-length text (or binary)
  TextOfAll,    // NVARCHAR when any argument is national, else VARCHAR
  First,        // the first argument's type (ISNULL)
};

struct Function {
  const char* name;  // upper case, as messages do not show it
  int min_args;
  int max_args;
  bool niladic;  // written without parentheses: CURRENT_USER, CURRENT_TIMESTAMP
  Returns returns;
  Value (*body)(const std::vector<Value>& args, const SessionInfo& session);
};

// The function of that name, in any letter case; nullptr for none.
const Function* find_function(std::string_view name);

// The base type a result of `returns` has for arguments of these base types
// (nullopt for an argument of no type of its own, NULL).
std::optional<BaseType> result_base(Returns returns,
                                    const std::vector<std::optional<BaseType>>& args);

// @@MICROSOFTVERSION of a version "major.minor.build.revision".
std::int32_t microsoft_version(const ServerIdentity& identity);

// The name of the machine, for @@SERVERNAME when the session names none.
std::string machine_name();

// The value of SERVERPROPERTY(name): NULL for a property it does not know.
Value server_property(const std::string& name, const SessionInfo& session);

}  // namespace varrow::host::sql
