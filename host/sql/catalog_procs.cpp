#include "sql/catalog_procs.h"

#include <algorithm>
#include <cctype>
#include <optional>

#include "ods/library.h"
#include "sql/names.h"
#include "sql/operators.h"
#include "text/codepage.h"

namespace varrow::host::sql {
namespace {

constexpr SqlType INT_TYPE{BaseType::Int, 4, false};
constexpr SqlType SYSNAME{BaseType::NVarChar, 128, false};
constexpr SqlType REMARKS{BaseType::VarChar, 254, false};

Value nvarchar(const std::string& utf8, std::uint32_t length = 128) {
  return Value{SqlType{BaseType::NVarChar, length, false}, utf16(utf8)};
}
Value varchar(const std::string& ascii, std::uint32_t length) {
  return Value{SqlType{BaseType::VarChar, length, false}, Bytes(ascii.begin(), ascii.end())};
}
Value integer(std::int32_t v) {
  return Value::integer(v);
}
Value null_of(const SqlType& t) {
  return Value::null_of(t);
}

using Columns = std::initializer_list<std::pair<const char*, SqlType>>;

ResultSet with_columns(Columns columns, Columns more = {}) {
  ResultSet r;
  for (const Columns& list : {columns, more}) {
    for (const auto& [name, type] : list)
      r.columns.push_back(ResultColumn{name, type});
  }
  return r;
}

// What ODBC's SQLProcedureColumns and SQLColumns both describe a column
// with, from its type on.
constexpr Columns COLUMN_DESCRIPTION = {{"TYPE_NAME", SYSNAME},
                                        {"PRECISION", INT_TYPE},
                                        {"LENGTH", INT_TYPE},
                                        {"SCALE", INT_TYPE},
                                        {"RADIX", INT_TYPE},
                                        {"NULLABLE", INT_TYPE},
                                        {"REMARKS", REMARKS},
                                        {"COLUMN_DEF", SqlType{BaseType::NVarChar, 4000, false}},
                                        {"SQL_DATA_TYPE", INT_TYPE},
                                        {"SQL_DATETIME_SUB", INT_TYPE},
                                        {"CHAR_OCTET_LENGTH", INT_TYPE},
                                        {"ORDINAL_POSITION", INT_TYPE},
                                        {"IS_NULLABLE", REMARKS},
                                        {"SS_DATA_TYPE", INT_TYPE}};

// The arguments by parameter: by position until the first named one, by
// name after, as the server binds a procedure's arguments.
class Arguments {
 public:
  Arguments(const std::string& procedure, const std::vector<CatalogArgument>& given,
            std::initializer_list<const char*> parameters)
      : names_(parameters), values_(names_.size()) {
    for (std::size_t i = 0; i < given.size(); ++i) {
      std::size_t at = i;
      if (!given[i].name.empty()) {
        const auto found = std::find_if(names_.begin(), names_.end(),
                                        [&](const char* n) { return same_name(n, given[i].name); });
        if (found == names_.end()) {
          throw EvaluationError{
              8145, given[i].name + " is not a parameter for procedure " + procedure + "."};
        }
        at = static_cast<std::size_t>(found - names_.begin());
      } else if (i >= names_.size()) {
        throw EvaluationError{
            8144, "Procedure or function " + procedure + " has too many arguments specified."};
      }
      values_[at] = given[i].value;
    }
  }
  // Text (NULL and absent alike: nullopt).
  std::optional<std::string> text(std::size_t at) const {
    if (!values_[at] || !values_[at]->bytes) return std::nullopt;
    return text_of(convert(*values_[at], SqlType{BaseType::NVarChar, 1, true}));
  }
  std::optional<std::int32_t> number(std::size_t at) const {
    if (!values_[at] || !values_[at]->bytes) return std::nullopt;
    return convert(*values_[at], INT_TYPE).as_int();
  }

 private:
  std::vector<const char*> names_;
  std::vector<std::optional<Value>> values_;
};

// LIKE with % and _ (no escapes or brackets), letter case ignored: how the
// catalog procedures match the names they are given.
bool like(std::string_view text, std::string_view pattern) {
  if (pattern.empty()) return text.empty();
  if (pattern[0] == '%') {
    for (std::size_t i = 0; i <= text.size(); ++i) {
      if (like(text.substr(i), pattern.substr(1))) return true;
    }
    return false;
  }
  if (text.empty()) return false;
  const bool same = pattern[0] == '_' || std::tolower(static_cast<unsigned char>(pattern[0])) ==
                                             std::tolower(static_cast<unsigned char>(text[0]));
  return same && like(text.substr(1), pattern.substr(1));
}

// A name matches a pattern argument: any name for NULL, by LIKE or exactly.
bool matches(const std::string& name, const std::optional<std::string>& pattern, bool use_pattern) {
  if (!pattern) return true;
  return use_pattern ? like(name, *pattern) : same_name(name, *pattern);
}

// The five procedures' parameters, named as the README names them.
struct ProcedureParameter {
  const char* name;
  bool output;
};
struct ProcedureShape {
  std::string_view name;
  std::vector<ProcedureParameter> parameters;
};
const std::vector<ProcedureShape>& shapes() {
  static const std::vector<ProcedureShape> all = [] {
    std::vector<ProcedureShape> out;
    for (std::string_view name : PROCEDURE_NAMES) {
      const bool keyed = name == "xp_AES_Encrypt" || name == "xp_AES_Decrypt";
      out.push_back(
          keyed ? ProcedureShape{name, {{"@input", false}, {"@key", false}, {"@output", true}}}
                : ProcedureShape{name, {{"@input", false}, {"@output", true}}});
    }
    return out;
  }();
  return all;
}

// The owner and database every procedure belongs to; another asked for
// lists none.
bool in_master_dbo(const Arguments& a, std::size_t owner, std::size_t qualifier) {
  return matches("dbo", a.text(owner), true) && matches("master", a.text(qualifier), true);
}

// sp_stored_procedures [@sp_name] [, @sp_owner] [, @sp_qualifier] [, @fUsePattern]
ResultSet stored_procedures(const Arguments& a) {
  ResultSet r = with_columns({{"PROCEDURE_QUALIFIER", SYSNAME},
                              {"PROCEDURE_OWNER", SYSNAME},
                              {"PROCEDURE_NAME", SqlType{BaseType::NVarChar, 134, false}},
                              {"NUM_INPUT_PARAMS", INT_TYPE},
                              {"NUM_OUTPUT_PARAMS", INT_TYPE},
                              {"NUM_RESULT_SETS", INT_TYPE},
                              {"REMARKS", REMARKS},
                              {"PROCEDURE_TYPE", INT_TYPE}});
  if (!in_master_dbo(a, 1, 2)) return r;
  const bool pattern = a.number(3).value_or(1) != 0;
  for (const ProcedureShape& p : shapes()) {
    const std::string name(p.name);
    if (!matches(name, a.text(0), pattern) && !matches(name + ";1", a.text(0), pattern)) continue;
    // -1: not known, as the server reports for every procedure; type 2:
    // returns a value (its return status).
    r.rows.push_back({nvarchar("master"), nvarchar("dbo"), nvarchar(name + ";1", 134), integer(-1),
                      integer(-1), integer(-1), null_of(REMARKS), integer(2)});
  }
  return r;
}

// sp_sproc_columns [@procedure_name] [, @procedure_owner] [,
// @procedure_qualifier] [, @column_name] [, @ODBCVer] [, @fUsePattern]: the
// return status, then each parameter as VARCHAR(8000).
ResultSet sproc_columns(const Arguments& a) {
  const SqlType small{BaseType::Int, 4, false};
  ResultSet r = with_columns({{"PROCEDURE_QUALIFIER", SYSNAME},
                              {"PROCEDURE_OWNER", SYSNAME},
                              {"PROCEDURE_NAME", SqlType{BaseType::NVarChar, 134, false}},
                              {"COLUMN_NAME", SYSNAME},
                              {"COLUMN_TYPE", small},
                              {"DATA_TYPE", small}},
                             COLUMN_DESCRIPTION);
  if (!in_master_dbo(a, 1, 2)) return r;
  const bool pattern = a.number(5).value_or(1) != 0;
  constexpr std::int32_t SQL_PARAM_INPUT = 1, SQL_PARAM_INPUT_OUTPUT = 2, SQL_RETURN_VALUE = 5;
  constexpr std::int32_t SQL_INTEGER = 4, SQL_VARCHAR = 12;
  for (const ProcedureShape& p : shapes()) {
    const std::string name(p.name);
    if (!matches(name, a.text(0), pattern) && !matches(name + ";1", a.text(0), pattern)) continue;
    auto row = [&](const std::string& column, std::int32_t kind, bool is_int, std::int32_t at) {
      if (!matches(column, a.text(3), pattern)) return;
      r.rows.push_back({nvarchar("master"),
                        nvarchar("dbo"),
                        nvarchar(name + ";1", 134),
                        nvarchar(column),
                        integer(kind),
                        integer(is_int ? SQL_INTEGER : SQL_VARCHAR),
                        nvarchar(is_int ? "int" : "varchar"),
                        integer(is_int ? 10 : 8000),
                        integer(is_int ? 4 : 8000),
                        is_int ? integer(0) : null_of(small),
                        is_int ? integer(10) : null_of(small),
                        integer(is_int ? 0 : 1),
                        null_of(REMARKS),
                        null_of(SqlType{BaseType::NVarChar, 4000, false}),
                        integer(is_int ? SQL_INTEGER : SQL_VARCHAR),
                        null_of(small),
                        is_int ? null_of(INT_TYPE) : integer(8000),
                        integer(at),
                        varchar(is_int ? "NO" : "YES", 254),
                        integer(is_int ? 56 : 39)});
    };
    row("@RETURN_VALUE", SQL_RETURN_VALUE, true, 0);
    std::int32_t at = 1;
    for (const ProcedureParameter& param : p.parameters)
      row(param.name, param.output ? SQL_PARAM_INPUT_OUTPUT : SQL_PARAM_INPUT, false, at++);
  }
  return r;
}

// sp_tables, sp_columns, sp_special_columns: master has no table a client
// of varrowd can see.
ResultSet tables() {
  return with_columns({{"TABLE_QUALIFIER", SYSNAME},
                       {"TABLE_OWNER", SYSNAME},
                       {"TABLE_NAME", SYSNAME},
                       {"TABLE_TYPE", SqlType{BaseType::VarChar, 32, false}},
                       {"REMARKS", REMARKS}});
}
ResultSet columns() {
  const SqlType small = INT_TYPE;
  return with_columns({{"TABLE_QUALIFIER", SYSNAME},
                       {"TABLE_OWNER", SYSNAME},
                       {"TABLE_NAME", SYSNAME},
                       {"COLUMN_NAME", SYSNAME},
                       {"DATA_TYPE", small}},
                      COLUMN_DESCRIPTION);
}
ResultSet special_columns() {
  return with_columns({{"SCOPE", INT_TYPE},
                       {"COLUMN_NAME", SYSNAME},
                       {"DATA_TYPE", INT_TYPE},
                       {"TYPE_NAME", SYSNAME},
                       {"PRECISION", INT_TYPE},
                       {"LENGTH", INT_TYPE},
                       {"SCALE", INT_TYPE},
                       {"PSEUDO_COLUMN", INT_TYPE}});
}

// sp_server_info [@attribute_id]: what ODBC drivers read of the server.
struct ServerAttribute {
  std::int32_t id;
  const char* name;
  const char* value;
};
constexpr ServerAttribute SERVER_ATTRIBUTES[] = {
    {1, "DBMS_NAME", "Microsoft SQL Server"},
    {2, "DBMS_VER", "Microsoft SQL Server 2012 - 11.0.0.0 (Varrow varrowd)"},
    {10, "OWNER_TERM", "owner"},
    {11, "TABLE_TERM", "table"},
    {12, "MAX_OWNER_NAME_LENGTH", "128"},
    {13, "TABLE_LENGTH", "128"},
    {14, "MAX_QUAL_LENGTH", "128"},
    {15, "COLUMN_LENGTH", "128"},
    {16, "IDENTIFIER_CASE", "MIXED"},
    {17, "TX_ISOLATION", "2"},
    {18, "COLLATION_SEQ", "charset=iso_1 sort_order=nocase_iso charset_num=1 sort_order_num=52"},
    {19, "SAVEPOINT_SUPPORT", "Y"},
    {20, "MULTI_RESULT_SETS", "Y"},
    {22, "ACCESSIBLE_TABLES", "Y"},
    {100, "USERID_LENGTH", "128"},
    {101, "QUALIFIER_TERM", "database"},
    {102, "NAMED_TRANSACTIONS", "Y"},
    {103, "SPROC_AS_LANGUAGE", "Y"},
    {104, "ACCESSIBLE_SPROC", "Y"},
    {105, "MAX_INDEX_COLS", "16"},
    {106, "RENAME_TABLE", "Y"},
    {107, "RENAME_COLUMN", "Y"},
    {108, "DROP_COLUMN", "Y"},
    {109, "INCREASE_COLUMN_LENGTH", "Y"},
    {110, "DDL_IN_TRANSACTION", "Y"},
    {111, "DESCENDING_INDEXES", "Y"},
    {112, "SP_RENAME", "Y"},
    {113, "REMOTE_SPROC", "Y"},
    {500, "SYS_SPROC_VERSION", "11.00.0000"},
};

ResultSet server_info(const Arguments& a) {
  ResultSet r = with_columns({{"ATTRIBUTE_ID", INT_TYPE},
                              {"ATTRIBUTE_NAME", SqlType{BaseType::VarChar, 60, false}},
                              {"ATTRIBUTE_VALUE", SqlType{BaseType::VarChar, 255, false}}});
  const std::optional<std::int32_t> only = a.number(0);
  for (const ServerAttribute& s : SERVER_ATTRIBUTES) {
    if (!only || *only == s.id) {
      r.rows.push_back({integer(s.id), varchar(s.name, 60), varchar(s.value, 255)});
    }
  }
  return r;
}

// One row of sp_datatype_info for each type of the language, in the order
// the procedure sorts them (by ODBC type code). -1 stands for NULL.
struct TypeRow {
  const char* name;
  std::int32_t odbc_type;
  std::int32_t precision;
  const char* prefix;  // nullptr: NULL
  const char* suffix;
  const char* create_params;
  std::int32_t searchable;
  bool numeric;  // UNSIGNED_ATTRIBUTE and AUTO_INCREMENT 0, not NULL
  std::int32_t min_scale, max_scale;
  std::int32_t sql_type, datetime_sub, radix;
  std::int32_t user_type;
};
constexpr TypeRow TYPE_ROWS[] = {
    {"nvarchar", -9, 4000, "N'", "'", "max length", 3, false, -1, -1, -9, -1, -1, 0},
    {"nchar", -8, 4000, "N'", "'", "length", 3, false, -1, -1, -8, -1, -1, 0},
    {"varbinary", -3, 8000, "0x", nullptr, "max length", 2, false, -1, -1, -3, -1, -1, 4},
    {"char", 1, 8000, "'", "'", "length", 3, false, -1, -1, 1, -1, -1, 1},
    {"int", 4, 10, nullptr, nullptr, nullptr, 2, true, 0, 0, 4, -1, 10, 7},
    {"varchar", 12, 8000, "'", "'", "max length", 3, false, -1, -1, 12, -1, -1, 2},
    {"datetime", 93, 23, "'", "'", nullptr, 3, false, 3, 3, 9, 3, -1, 12},
    {"datetime2", 93, 27, "'", "'", "scale", 3, false, 0, 7, 9, 3, -1, 0},
};

// sp_datatype_info [@data_type] [, @ODBCVer]: one row for each type, or
// for the one ODBC type asked for. The ODBC version changes nothing here.
ResultSet type_info(const Arguments& a) {
  const std::int32_t odbc_type = a.number(0).value_or(0);
  const SqlType name_type{BaseType::NVarChar, 128, false};
  const SqlType text32{BaseType::VarChar, 32, false};
  ResultSet result = with_columns({{"TYPE_NAME", name_type},
                                   {"DATA_TYPE", INT_TYPE},
                                   {"PRECISION", INT_TYPE},
                                   {"LITERAL_PREFIX", text32},
                                   {"LITERAL_SUFFIX", text32},
                                   {"CREATE_PARAMS", text32},
                                   {"NULLABLE", INT_TYPE},
                                   {"CASE_SENSITIVE", INT_TYPE},
                                   {"SEARCHABLE", INT_TYPE},
                                   {"UNSIGNED_ATTRIBUTE", INT_TYPE},
                                   {"MONEY", INT_TYPE},
                                   {"AUTO_INCREMENT", INT_TYPE},
                                   {"LOCAL_TYPE_NAME", name_type},
                                   {"MINIMUM_SCALE", INT_TYPE},
                                   {"MAXIMUM_SCALE", INT_TYPE},
                                   {"SQL_DATA_TYPE", INT_TYPE},
                                   {"SQL_DATETIME_SUB", INT_TYPE},
                                   {"NUM_PREC_RADIX", INT_TYPE},
                                   {"INTERVAL_PRECISION", INT_TYPE},
                                   {"USERTYPE", INT_TYPE}});
  auto text = [&](const char* s) { return s ? varchar(s, 32) : null_of(text32); };
  auto number = [](std::int32_t v) { return v < 0 ? null_of(INT_TYPE) : integer(v); };
  for (const TypeRow& t : TYPE_ROWS) {
    if (odbc_type != 0 && odbc_type != t.odbc_type) continue;
    result.rows.push_back({nvarchar(t.name),
                           integer(t.odbc_type),
                           integer(t.precision),
                           text(t.prefix),
                           text(t.suffix),
                           text(t.create_params),
                           integer(1),  // nullable
                           integer(0),  // case-insensitive, as the collation is
                           integer(t.searchable),
                           number(t.numeric ? 0 : -1),
                           integer(0),
                           number(t.numeric ? 0 : -1),
                           nvarchar(t.name),
                           number(t.min_scale),
                           number(t.max_scale),
                           integer(t.sql_type),
                           number(t.datetime_sub),
                           number(t.radix),
                           null_of(INT_TYPE),
                           integer(t.user_type)});
  }
  return result;
}

}  // namespace

std::vector<ResultSet> run_catalog_procedure(const std::string& procedure,
                                             const std::vector<CatalogArgument>& arguments) {
  if (procedure == "sp_datatype_info" || procedure == "sp_datatype_info_100") {
    return {type_info(Arguments(procedure, arguments, {"@data_type", "@ODBCVer"}))};
  }
  if (procedure == "sp_stored_procedures") {
    return {stored_procedures(Arguments(
        procedure, arguments, {"@sp_name", "@sp_owner", "@sp_qualifier", "@fUsePattern"}))};
  }
  if (procedure == "sp_sproc_columns" || procedure == "sp_sproc_columns_100") {
    return {sproc_columns(Arguments(procedure, arguments,
                                    {"@procedure_name", "@procedure_owner", "@procedure_qualifier",
                                     "@column_name", "@ODBCVer", "@fUsePattern"}))};
  }
  // The procedures that list no rows still check their arguments, as the
  // server does, before answering with their columns only.
  if (procedure == "sp_tables") {
    (void)Arguments(
        procedure, arguments,
        {"@table_name", "@table_owner", "@table_qualifier", "@table_type", "@fUsePattern"});
    return {tables()};
  }
  if (procedure == "sp_columns" || procedure == "sp_columns_100") {
    (void)Arguments(procedure, arguments,
                    {"@table_name", "@table_owner", "@table_qualifier", "@column_name", "@ODBCVer",
                     "@fUsePattern"});
    return {columns()};
  }
  if (procedure == "sp_special_columns" || procedure == "sp_special_columns_100") {
    (void)Arguments(procedure, arguments,
                    {"@table_name", "@table_owner", "@table_qualifier", "@col_type", "@scope",
                     "@nullable", "@ODBCVer"});
    return {special_columns()};
  }
  return {server_info(Arguments(procedure, arguments, {"@attribute_id"}))};
}

}  // namespace varrow::host::sql
