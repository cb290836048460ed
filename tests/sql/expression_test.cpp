// Expressions evaluated as SQL Server evaluates them: each SELECT's value
// and type, or the error it fails with, as the server documents them.
#include <gtest/gtest.h>

#include "ods/library.h"
#include "sql/runner.h"

namespace varrow::host::sql {
namespace {

// The first value of the first row (display and type), or the first error.
struct FirstValue : BatchOutput {
  bool result_set(const ResultSet& r) override {
    if (shown.empty()) {
      shown = r.rows.empty() ? "no rows" : std::string(display(r.rows[0][0]));
      type = r.columns[0].type.name() + (r.columns[0].name.empty() ? "" : " " + r.columns[0].name);
    }
    return true;
  }
  bool message(const ProcedureMessage&) override { return true; }
  bool print(std::string_view) override { return true; }
  bool error(const StatementError& e) override {
    if (shown.empty()) shown = "error " + std::to_string(e.number), type = e.text;
    return true;
  }
  bool procedure_done(const std::string&, std::int32_t) override { return true; }
  std::string shown, type;
};

FirstValue select(const std::string& batch) {
  static const Library library(VARROW_LIBRARY_PATH);
  FirstValue out;
  SessionInfo session{.spid = 52,
                      .identity = {"11.0.0.0", "Varrow", ""},
                      .login = "alice",
                      .app_name = "probe",
                      .host_name = "box"};
  Runner runner(library, out, session);
  (void)runner.run_script(batch);
  return out;
}

TEST(Expressions, ValuesTypesAndErrors) {
  struct Case {
    const char* expression;  // after SELECT
    const char* shown;       // the value, or "error N"
    const char* type;        // its type (and column name), or a part of the error's text
  };
  const Case cases[] = {
      // Precedence: * / % before + -, comparisons before NOT, AND, OR.
      {"1 + 2 * 3", "7", "INT"},
      {"(1 + 2) * 3", "9", "INT"},
      {"10 - 4 - 3", "3", "INT"},
      {"7 / 2, 1", "3", "INT"},
      {"-7 / 2", "-3", "INT"},
      {"-7 % 3", "-1", "INT"},
      {"2 * -3", "-6", "INT"},
      {"- (2 + 3)", "-5", "INT"},
      {"~5 & 7 | 8 ^ 1", "11", "INT"},
      {"1+1 AS result", "2", "INT result"},
      {"x = 6 / 3", "2", "INT x"},
      // Overflow and division by zero.
      {"2147483647 + 1", "error 8115", "converting expression to data type int."},
      {"-2147483648 / -1", "error 8115", "Arithmetic overflow"},
      {"-2147483648", "-2147483648", "INT"},
      {"65536 * 32768", "error 8115", "Arithmetic overflow"},
      {"1 / 0", "error 8134", "Divide by zero error encountered."},
      {"1 % 0", "error 8134", "Divide by zero"},
      {"NULL / 0", "NULL", "INT"},
      // Data type precedence: text meets INT as INT, binary meets text as text.
      {"1 + '1'", "2", "INT"},
      {"'a' + 1", "error 245", "'a' to data type int"},
      {"'1' - '1'", "error 8117", "Operand data type varchar is invalid for subtract operator."},
      {"'ab' + 'cd'", "abcd", "VARCHAR(4)"},
      {"'ab' + N'cd'", "abcd", "NVARCHAR(4)"},
      {"0x01 + 0x02", "0x0102", "VARBINARY(2)"},
      {"1 + 0x0002", "3", "INT"},
      {"'a' + CAST(NULL AS VARCHAR(1))", "NULL", "VARCHAR(2)"},
      {"CAST('x' AS CHAR(3)) + 'y'", "x  y", "VARCHAR(4)"},
      // CASE, IIF, ISNULL, COALESCE, NULLIF.
      {"CASE WHEN 1 = 1 THEN 'yes' ELSE 'no' END", "yes", "VARCHAR(3)"},
      {"CASE 2 WHEN 1 THEN 'one' WHEN 2 THEN 'two' END", "two", "VARCHAR(3)"},
      {"CASE 3 WHEN 1 THEN 'one' END", "NULL", "VARCHAR(1)"},
      {"CASE WHEN 1 = 0 THEN 1 ELSE 'a' END", "error 245", "'a' to data type int"},
      {"CASE WHEN 1 = 1 THEN 1 ELSE 'a' END", "1", "INT"},
      {"CASE WHEN NULL = NULL THEN 1 ELSE 0 END", "0", "INT"},
      {"IIF(2 > 1 AND NOT 1 > 2, 'y', 'n')", "y", "VARCHAR(1)"},
      {"IIF(1 = 1 OR 1 / 0 = 1, 1, 0)", "1", "INT"},
      {"ISNULL(NULL, 5)", "5", "INT"},
      {"ISNULL(CAST(NULL AS VARCHAR(2)), 'abcd')", "ab", "VARCHAR(2)"},
      {"COALESCE(NULL, NULL, 'c')", "c", "VARCHAR(1)"},
      {"COALESCE(NULL, 2, 'x')", "2", "INT"},
      {"NULLIF(1, 1)", "NULL", "INT"},
      {"NULLIF('a', 'b')", "a", "VARCHAR(1)"},
      // Comparisons: letter case and trailing spaces ignored, NULL unknown.
      {"1 WHERE 'ABC' = 'abc  '", "1", "INT"},
      {"1 WHERE 'a' < 'B' AND 2 BETWEEN 1 AND 3 AND 3 IN (1, 3) AND 0x01 < 0x02", "1", "INT"},
      {"1 WHERE NULL IS NULL AND 1 IS NOT NULL AND 1 <> 2 AND 1 != 2 AND 2 !< 2", "1", "INT"},
      {"1 WHERE NULL = NULL OR NOT (NULL <> 1)", "no rows", "INT"},
      {"1 WHERE 10 = '10'", "1", "INT"},
      {"1 WHERE 1", "error 4145", "non-boolean type"},
      {"1 = 1", "error 102", "near '='"},
      {"name", "error 207", "Invalid column name 'name'."},
      {"@@SPID, @v = 1", "error 137", "@v"},
      // String functions.
      {"LEN('abc  ')", "3", "INT"},
      {"LEN(N'\xC3\xA9t\xC3\xA9'), DATALENGTH(N'ab')", "3", "INT"},
      {"LEFT('abcdef', 2) + RIGHT('abcdef', 2)", "abef", "VARCHAR(12)"},
      {"LEFT('abc', -1)", "error 536", "Invalid length parameter passed to the left function."},
      {"SUBSTRING('abcdef', 2, 3)", "bcd", "VARCHAR(6)"},
      {"SUBSTRING('abcdef', 0, 2)", "a", "VARCHAR(6)"},
      {"SUBSTRING('abc', 1, -1)", "error 537", "substring function"},
      {"CHARINDEX('C', 'abcabc', 4)", "6", "INT"},
      {"CHARINDEX('z', 'abc')", "0", "INT"},
      {"REVERSE(N'abc')", "cba", "NVARCHAR(3)"},
      {"UPPER('ab\xC3\xA9') + LOWER('CD')",
       "AB\xC3\x89"
       "cd",
       "VARCHAR(5)"},
      {"'[' + LTRIM('  a ') + RTRIM(' b  ') + TRIM('  c  ') + ']'", "[a  bc]", "VARCHAR(15)"},
      {"REPLACE('aXbxc', 'x', '-')", "a-b-c", "VARCHAR(5)"},
      {"REPLICATE('ab', 3)", "ababab", "VARCHAR(6)"},
      {"REPLICATE('ab', -1)", "NULL", "VARCHAR(2)"},
      {"CONCAT('a', NULL, 1, N'b')", "a1b", "NVARCHAR(3)"},
      {"STUFF('abcdef', 2, 3, 'XY')", "aXYef", "VARCHAR(5)"},
      {"STUFF('abc', 5, 1, 'x')", "NULL", "VARCHAR(1)"},
      {"'[' + SPACE(3) + ']'", "[   ]", "VARCHAR(5)"},
      {"STR(42), STR(123456, 3)", "        42", "VARCHAR(10)"},
      {"STR(7, 5, 2)", " 7.00", "VARCHAR(5)"},
      // What ORMs and drivers ask of the server and the session.
      {"REVERSE(SUBSTRING(REVERSE(CONVERT(NVARCHAR(128), SERVERPROPERTY('ProductVersion'))), "
       "CHARINDEX('.', REVERSE(CONVERT(NVARCHAR(128), SERVERPROPERTY('ProductVersion')))) + 1, "
       "128))",
       "11.0.0", "NVARCHAR(128)"},
      {"SCHEMA_NAME()", "dbo", "NVARCHAR(128)"},
      {"DB_NAME() + '/' + USER_NAME() + '/' + CURRENT_USER", "master/dbo/dbo", "NVARCHAR(386)"},
      {"SUSER_SNAME() + SUSER_NAME() + ORIGINAL_LOGIN() + SYSTEM_USER", "alicealicealicealice",
       "NVARCHAR(512)"},
      {"APP_NAME() + '@' + HOST_NAME()", "probe@box", "NVARCHAR(257)"},
      {"@@LANGUAGE + ' ' + CAST(@@TEXTSIZE AS VARCHAR) + ' ' + CAST(@@LOCK_TIMEOUT AS VARCHAR)",
       "us_english 2147483647 -1", "NVARCHAR(72)"},
      {"@@OPTIONS & 32, @@MICROSOFTVERSION / 16777216", "32", "INT"},
      {"@@MICROSOFTVERSION / 16777216", "11", "INT"},
      {"SERVERPROPERTY('EngineEdition') + SERVERPROPERTY('IsIntegratedSecurityOnly')", "2", "INT"},
      {"SERVERPROPERTY('ProductLevel') + SERVERPROPERTY('ProductMajorVersion')", "RTM11",
       "NVARCHAR(5)"},
      {"DATABASEPROPERTYEX('master', 'Collation')", "SQL_Latin1_General_CP1_CI_AS", "NVARCHAR(28)"},
      {"NO_SUCH(1)", "error 195", "'NO_SUCH' is not a recognized built-in function name."},
      {"LEN()", "error 174", "The len function requires 1 argument(s)."},
      {"CHARINDEX('a')", "error 189", "requires 2 to 3 arguments."},
      // Dates.
      {"CAST('2024-02-29 13:45:10.5' AS DATETIME)", "2024-02-29 13:45:10.500", "DATETIME"},
      {"CONVERT(VARCHAR(30), CAST('20240105' AS DATETIME), 0)", "Jan  5 2024 12:00AM",
       "VARCHAR(30)"},
      {"CAST(CAST('2024-01-05T01:02:03.1234567' AS DATETIME2) AS VARCHAR(30))",
       "2024-01-05 01:02:03.1234567", "VARCHAR(30)"},
      {"CAST('2024-01-05' AS DATETIME2(3))", "2024-01-05 00:00:00.0000000", "DATETIME2"},
      {"CAST('2023-02-29' AS DATETIME)", "error 241", "from character string."},
      {"CAST('1752-12-31' AS DATETIME)", "error 242", "out-of-range value."},
      {"CAST('2024-01-31' AS DATETIME) + 1", "2024-02-01 00:00:00.000", "DATETIME"},
      {"DATALENGTH(GETDATE()) + DATALENGTH(SYSUTCDATETIME())", "16", "INT"},
      {"1 WHERE GETUTCDATE() > '2020-01-01' AND CURRENT_TIMESTAMP > GETDATE() - 1", "1", "INT"},
  };
  for (const Case& c : cases) {
    const FirstValue got = select(std::string("SELECT ") + c.expression);
    EXPECT_EQ(got.shown, c.shown) << c.expression;
    if (got.shown.rfind("error", 0) == 0) {
      EXPECT_NE(got.type.find(c.type), std::string::npos) << c.expression << ": " << got.type;
    } else {
      EXPECT_EQ(got.type, c.type) << c.expression;
    }
  }
}

// The one catalog query drivers send, and the isolation level it reads.
TEST(Expressions, SessionsViewAndOtherObjects) {
  const char* query =
      "SELECT transaction_isolation_level FROM sys.dm_exec_sessions WHERE session_id = @@SPID";
  EXPECT_EQ(select(query).shown, "2");
  EXPECT_EQ(select(std::string("SET TRANSACTION ISOLATION LEVEL SERIALIZABLE\n") + query).shown,
            "4");
  EXPECT_EQ(select("SELECT s.program_name FROM master.sys.dm_exec_sessions AS s "
                   "WHERE s.session_id = 1")
                .shown,
            "no rows");
  EXPECT_EQ(select("SELECT nope FROM sys.dm_exec_sessions").shown, "error 207");
  const FirstValue tables = select("SELECT name FROM sys.tables");
  EXPECT_EQ(tables.shown, "error 208");
  EXPECT_EQ(tables.type, "Invalid object name 'sys.tables'.");
}

}  // namespace
}  // namespace varrow::host::sql
