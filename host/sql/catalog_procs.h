// The catalog procedures the batch language answers itself, for ODBC's
// catalog functions and the tools built on them: sp_datatype_info[_100]
// (SQLGetTypeInfo), sp_stored_procedures and sp_sproc_columns
// (SQLProcedures, SQLProcedureColumns: the five procedures, as extended
// procedures of master.dbo, with their parameters), sp_tables, sp_columns
// and sp_special_columns (no tables), and sp_server_info. Each returns SQL
// Server's documented result columns.
#pragma once

#include <string>
#include <vector>

#include "sql/runner.h"

namespace varrow::host::sql {

// One argument of a call: its parameter name ("@sp_name") or empty when
// given by position, and its value.
struct CatalogArgument {
  std::string name;
  Value value;
};

// The result sets of catalog procedure `procedure` (as
// resolve_system_procedure names it). Throws EvaluationError for arguments
// it does not take (8144 too many, 8145 an unknown name) or cannot convert.
std::vector<ResultSet> run_catalog_procedure(const std::string& procedure,
                                             const std::vector<CatalogArgument>& arguments);

}  // namespace varrow::host::sql
