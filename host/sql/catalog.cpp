#include "sql/catalog.h"

#include <cctype>

#include "sql/names.h"
#include "text/codepage.h"

namespace varrow::host::sql {
namespace {

constexpr SqlType INT_TYPE{BaseType::Int, 4, false};
constexpr SqlType SYSNAME{BaseType::NVarChar, 128, false};

Value text(const std::string& utf8, std::uint32_t length) {
  return Value{SqlType{BaseType::NVarChar, length, false}, utf16(utf8)};
}

// One row: this session, with the options a client of SQL Server has after
// logging in (the ODBC and OLE DB defaults), and its isolation level.
std::vector<std::vector<Value>> session_rows(const SessionInfo& s) {
  return {{Value::integer(s.spid), text(s.login, 128), text(s.host_name, 128),
           text(s.app_name, 128), text("running", 30), text("us_english", 128), text("mdy", 3),
           Value::integer(7), Value::integer(1), Value::integer(1), Value::integer(1),
           Value::integer(1), Value::integer(1), Value::integer(s.isolation_level),
           Value::integer(-1), Value::integer(1), Value::integer(2147483647), Value::integer(1)}};
}

const CatalogObject SESSIONS{"sys.dm_exec_sessions",
                             {{"session_id", INT_TYPE},
                              {"login_name", SYSNAME},
                              {"host_name", SYSNAME},
                              {"program_name", SYSNAME},
                              {"status", SqlType{BaseType::NVarChar, 30, false}},
                              {"language", SYSNAME},
                              {"date_format", SqlType{BaseType::NVarChar, 3, false}},
                              {"date_first", INT_TYPE},
                              {"quoted_identifier", INT_TYPE},
                              {"ansi_nulls", INT_TYPE},
                              {"ansi_padding", INT_TYPE},
                              {"ansi_warnings", INT_TYPE},
                              {"concat_null_yields_null", INT_TYPE},
                              {"transaction_isolation_level", INT_TYPE},
                              {"lock_timeout", INT_TYPE},
                              {"database_id", INT_TYPE},
                              {"text_size", INT_TYPE},
                              {"is_user_process", INT_TYPE}},
                             session_rows};

// The system views there are: the two served here, as a client looking for
// one finds it.
std::vector<std::vector<Value>> view_rows(const SessionInfo&) {
  return {{text("dm_exec_sessions", 128), Value::integer(4), Value::integer(-101)},
          {text("system_views", 128), Value::integer(4), Value::integer(-390)}};
}

const CatalogObject VIEWS{"sys.system_views",
                          {{"name", SYSNAME}, {"schema_id", INT_TYPE}, {"object_id", INT_TYPE}},
                          view_rows};

}  // namespace

const CatalogObject* find_object(std::string_view written) {
  std::string_view name = written;
  if (name.size() > 7 && same_name(name.substr(0, 7), "master.")) name.remove_prefix(7);
  for (const CatalogObject* object : {&SESSIONS, &VIEWS}) {
    if (same_name(name, object->name)) return object;
  }
  return nullptr;
}

int column_index(const CatalogObject& object, std::string_view name) {
  for (std::size_t i = 0; i < object.columns.size(); ++i) {
    if (same_name(object.columns[i].name, name)) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace varrow::host::sql
