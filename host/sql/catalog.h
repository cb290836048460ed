// The catalog objects the batch language serves: sys.dm_exec_sessions,
// which drivers read for the session's isolation level, and
// sys.system_views, where some look for it first. Any other object a FROM
// names is SQL Server's error 208 when the statement runs.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "sql/session_info.h"
#include "sql/value.h"

namespace varrow::host::sql {

struct CatalogColumn {
  const char* name;  // lower case, as the server's catalog names them
  SqlType type;
};

struct CatalogObject {
  const char* name;  // "sys.dm_exec_sessions"
  std::vector<CatalogColumn> columns;
  // The object's rows for this session, each value in the column's order.
  std::vector<std::vector<Value>> (*rows)(const SessionInfo& session);
};

// The object a FROM names ([master.]sys.name, any letter case); nullptr for
// one the language does not serve.
const CatalogObject* find_object(std::string_view written);

// The position of a column in the object, any letter case; -1 for none.
int column_index(const CatalogObject& object, std::string_view name);

}  // namespace varrow::host::sql
