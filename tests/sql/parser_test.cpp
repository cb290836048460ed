// The batch language's parser: the statement forms it takes and the errors,
// with their positions, for what it does not.
#include <gtest/gtest.h>

#include "sql/parser.h"

namespace varrow::host::sql {
namespace {

std::vector<Statement> parse(const std::string& text) {
  return parse_batch({SecretString(text), 1});
}

TEST(Parser, DeclareSeveralWithLengthsAndInitialValues) {
  const auto statements = parse(
      "DECLARE @a VARCHAR(10), @b NVARCHAR(MAX), @c CHAR, @d INT = -5, @e AS VARBINARY(8000)");
  ASSERT_EQ(statements.size(), 1u);
  const auto& vars = std::get<Declare>(statements[0].body).variables;
  ASSERT_EQ(vars.size(), 5u);
  EXPECT_EQ(vars[0].type.name(), "VARCHAR(10)");
  EXPECT_EQ(vars[1].type.name(), "NVARCHAR(MAX)");
  EXPECT_EQ(vars[1].type.byte_length(), 0xFFFFFFFFu);
  EXPECT_EQ(vars[2].type.name(), "CHAR(1)");
  EXPECT_EQ(vars[3].type.name(), "INT");
  EXPECT_EQ(display(vars[3].initial->literal), "-5");
  EXPECT_EQ(vars[4].type.byte_length(), 8000u);
}

TEST(Parser, ExecForms) {
  const auto statements = parse(
      "declare @v varchar(40), @rc int\n"
      "EXEC xp_hexstr 'a''b', @v OUTPUT\n"
      "execute @rc = master.dbo.xp_MD5_Encrypt N'\xC3\xA9', @v out;"
      "EXEC master..xp_hexstr 0xABC, @v OUTPUT;EXEC dbo.xp_hexstr NULL, @v OUTPUT");
  ASSERT_EQ(statements.size(), 5u);
  const auto& first = std::get<Exec>(statements[1].body);
  EXPECT_EQ(first.procedure, "xp_hexstr");
  EXPECT_EQ(display(first.arguments[0].value.literal), "a'b");
  EXPECT_TRUE(first.arguments[1].output);
  const auto& second = std::get<Exec>(statements[2].body);
  EXPECT_EQ(*second.status_variable, "@rc");
  EXPECT_EQ(second.procedure, "master.dbo.xp_MD5_Encrypt");
  EXPECT_EQ(second.arguments[0].value.literal.type.name(), "NVARCHAR(1)");
  EXPECT_EQ(*second.arguments[0].value.literal.bytes, (Bytes{0xE9, 0x00}));
  const auto& third = std::get<Exec>(statements[3].body);
  EXPECT_EQ(third.procedure, "master..xp_hexstr");
  EXPECT_EQ(display(third.arguments[0].value.literal), "0x0ABC");
  EXPECT_EQ(statements[4].at.line, 3);
}

TEST(Parser, SelectPrintSetAndConversions) {
  const auto statements = parse(
      "DECLARE @v VARCHAR(5) SET @v = 'abc' /* comment */ SELECT @v AS [the value], "
      "CAST(@v AS VARBINARY(5)) raw, CONVERT(VARBINARY(2), @v) 'two', 7 -- done\nPRINT @v");
  ASSERT_EQ(statements.size(), 4u);
  const auto& select = std::get<Select>(statements[2].body);
  ASSERT_EQ(select.columns.size(), 4u);
  EXPECT_EQ(select.columns[0].alias, "the value");
  EXPECT_EQ(select.columns[1].alias, "raw");
  EXPECT_EQ(select.columns[1].value.target.name(), "VARBINARY(5)");
  EXPECT_EQ(select.columns[2].alias, "two");
  EXPECT_EQ(select.columns[3].alias, "");
}

TEST(Parser, SessionStatementsAreAcceptedAndDropped) {
  const auto statements = parse(
      "SET ARITHABORT ON; SET TEXTSIZE 2147483647 USE [master] BEGIN TRAN COMMIT TRAN "
      "ROLLBACK BEGIN TRANSACTION COMMIT SELECT 1");
  ASSERT_EQ(statements.size(), 1u);
}

TEST(Parser, ErrorsCarryTheirPosition) {
  struct Case {
    std::string text;
    int line, column, number;
    std::string message_part;
  };
  const Case cases[] = {
      {"SELECT 1; FROB @x", 1, 11, 102, "unknown statement"},
      {"SELECT @x", 1, 8, 137, "must declare the scalar variable @x"},
      {"DECLARE @x INT, @X INT", 1, 17, 134, "already been declared"},
      {"DECLARE @x MONEY", 1, 12, 102, "expected a type"},
      {"DECLARE @x VARCHAR(0)", 1, 20, 102, "1 to 8000"},
      {"DECLARE @x NVARCHAR(4001)", 1, 21, 102, "1 to 4000"},
      {"DECLARE @x CHAR(MAX)", 1, 17, 102, "expected a length"},
      {"DECLARE @x VARCHAR(10", 1, 22, 102, "expected ')'"},
      {"SELECT 'abc", 1, 8, 102, "unterminated"},
      {"SELECT 1 /* open", 1, 10, 102, "unterminated /* comment"},
      {"EXEC xp_hexstr 'a', 'b' OUTPUT", 1, 25, 102, "only a variable"},
      {"\n  EXEC xp_hexstr ,", 2, 18, 102, "expected a value"},
      {"SELECT \xE2\x82\xAC\xE4\xB8\xAD", 1, 8, 207, "Invalid column name"},
      {"SELECT !", 1, 8, 102, "unexpected character"},
      {"SELECT '\xE4\xB8\xAD'", 1, 8, 102, "Windows-1252"},
      {"SELECT 99999999999", 1, 8, 102, "range of INT"},
      {"SELECT 0x12G", 1, 12, 102, "binary literal"},
      {"SELECT 1 2", 1, 10, 102, "expected ';'"},
      {"SELECT @", 1, 8, 102, "'@' must begin"},
      {"SELECT 1 FROM", 1, 14, 102, "expected an object name"},
      {"EXEC", 1, 5, 102, "expected a procedure name"},
      {"SET @", 1, 5, 102, "'@' must begin"},
      {"SET", 1, 4, 102, "expected an option"},
      {"BEGIN x", 1, 7, 102, "expected TRAN"},
      {"SELECT CAST(1 VARBINARY(2))", 1, 15, 102, "expected AS"},
      // The forms drivers send, written wrong.
      {"EXEC xp_hexstr @input = 'a', @v", 1, 30, 119, "must pass parameter number 2"},
      {"EXEC xp_hexstr @input =", 1, 24, 102, "expected a value"},
      {"SELECT @@NOPE", 1, 8, 137, "@@NOPE"},
      {"DECLARE @@x INT", 1, 9, 102, "expected a variable name"},
      {"SET @@SPID = 1", 1, 5, 102, "expected a variable"},
      {"SELECT CONVERT(VARCHAR(4), 0x01, x)", 1, 34, 102, "expected a style"},
      {"SELECT CONVERT(VARCHAR(4), 0x01, 2", 1, 35, 102, "expected ')'"},
      {"SELECT DATALENGTH 1", 1, 19, 102, "expected ';'"},
      {"SELECT SERVERPROPERTY()", 1, 8, 174, "requires 1 argument(s)"},
      {"sp_datatype_info_100 12,3 sp_datatype_info", 1, 27, 102, "expected ';'"},
      {"SELECT 1 AS", 1, 12, 102, "expected a column alias"},
      {"SELECT 1 0x" + std::string(5000, 'A'), 1, 10, 102, "'" + std::string(40, 'A') + "...'"},
  };
  for (const Case& c : cases) {
    try {
      parse(c.text);
      ADD_FAILURE() << "accepted: " << c.text;
    } catch (const SyntaxError& e) {
      EXPECT_EQ(e.at.line, c.line) << c.text;
      EXPECT_EQ(e.at.column, c.column) << c.text;
      EXPECT_EQ(e.number, c.number) << c.text;
      EXPECT_NE(e.message.find(c.message_part), std::string::npos) << c.text << ": " << e.message;
    }
  }
}

TEST(Parser, WhatDriversSend) {
  // jTDS's first batch, a ping holding only a comment, ODBC's SQLGetTypeInfo.
  EXPECT_EQ(parse("SELECT @@MAX_PRECISION; SET TRANSACTION ISOLATION LEVEL READ COMMITTED; "
                  "SET IMPLICIT_TRANSACTIONS OFF; SET QUOTED_IDENTIFIER ON; "
                  "SET TEXTSIZE 2147483647")
                .size(),
            2u);
  EXPECT_TRUE(parse("/* ping */ -- nothing else\n").empty());
  const auto call = parse("sp_datatype_info_100 12,3");
  ASSERT_EQ(call.size(), 1u);
  EXPECT_EQ(std::get<Exec>(call[0].body).procedure, "sp_datatype_info_100");
  EXPECT_EQ(std::get<Exec>(call[0].body).arguments.size(), 2u);

  const auto statements = parse(
      "DECLARE @h VARCHAR(10), @b VARBINARY(4), @s SYSNAME, @t NTEXT\n"
      "EXEC xp_hexstr @input = 'abc', @output = @h OUTPUT\n"
      "select @@version, @@Spid, SERVERPROPERTY('ProductVersion'), DATALENGTH(@b), "
      "CONVERT(VARCHAR(8), @b, 2), CAST(@b AS VARCHAR)");
  ASSERT_EQ(statements.size(), 3u);
  const auto& vars = std::get<Declare>(statements[0].body).variables;
  EXPECT_EQ(vars[2].type.name(), "NVARCHAR(128)");
  EXPECT_EQ(vars[3].type.name(), "NVARCHAR(MAX)");
  const auto& exec = std::get<Exec>(statements[1].body);
  ASSERT_EQ(exec.arguments.size(), 2u);
  EXPECT_EQ(exec.arguments[0].name, "@input");
  EXPECT_EQ(exec.arguments[1].name, "@output");
  EXPECT_EQ(exec.arguments[1].value.variable, "@h");
  EXPECT_TRUE(exec.arguments[1].output);
  const auto& columns = std::get<Select>(statements[2].body).columns;
  ASSERT_EQ(columns.size(), 6u);
  EXPECT_EQ(columns[0].value.kind, Expr::Kind::Global);
  EXPECT_EQ(columns[1].value.variable, "@@SPID");
  EXPECT_EQ(columns[2].value.variable, "SERVERPROPERTY");
  EXPECT_EQ(columns[3].value.variable, "DATALENGTH");
  EXPECT_EQ(columns[4].value.style, 2);
  EXPECT_EQ(columns[4].value.target.name(), "VARCHAR(8)");
  EXPECT_EQ(columns[5].value.target.name(), "VARCHAR(30)");  // CAST's default length
}

// Each limit holds exactly at its value and fails one past it, with the
// position of the token that crossed it.
TEST(Parser, LimitsOfOneBatch) {
  auto nested = [](int levels) {  // `levels` expressions, one inside another
    std::string text = "SELECT ";
    for (int i = 1; i < levels; ++i)
      text += "CAST(";
    text += "1";
    for (int i = 1; i < levels; ++i)
      text += " AS INT)";
    return text;
  };
  auto repeated = [](const std::string& part, std::size_t n) {
    std::string text;
    for (std::size_t i = 0; i < n; ++i)
      text += part;
    return text;
  };
  auto columns = [&](std::size_t n) { return "SELECT 1" + repeated(",1", n - 1); };
  const std::string name128 = repeated("n", 128);
  const std::string astral64 = repeated("\xF0\x9F\x98\x80", 64);  // 128 UTF-16 units
  EXPECT_NO_THROW(parse(nested(MAX_NESTING)));
  EXPECT_NO_THROW(parse(repeated(";", MAX_TOKENS)));
  EXPECT_NO_THROW(parse(repeated("PRINT 1 ", MAX_STATEMENTS)));
  EXPECT_NO_THROW(parse(columns(MAX_COLUMNS)));
  EXPECT_NO_THROW(parse("DECLARE @" + name128.substr(1) + " INT SELECT 1 AS [" + name128 +
                        "], 2 '" + astral64 + "'; EXEC " + name128));

  struct Case {
    std::string text;
    int line, column, number;
  };
  const Case cases[] = {
      {nested(MAX_NESTING + 1), 1, 8 + 5 * MAX_NESTING, 191},
      {"\nSELECT " + repeated("CAST(", 16400), 2, 8 + 5 * MAX_NESTING, 191},
      {repeated(";", MAX_TOKENS + 1), 1, MAX_TOKENS + 1, 8632},
      {repeated("PRINT 1 ", MAX_STATEMENTS + 1), 1, 8 * MAX_STATEMENTS + 1, 8632},
      {columns(MAX_COLUMNS + 1), 1, 8 + 2 * MAX_COLUMNS, 1056},
      {"SELECT 1 AS [" + name128 + "x]", 1, 13, 103},
      {"SELECT 1 '" + astral64 + "x'", 1, 10, 103},
      {"DECLARE @" + name128 + " INT", 1, 9, 103},
      {"EXEC " + name128 + "x", 1, 6, 103},
  };
  for (const Case& c : cases) {
    try {
      parse(c.text);
      ADD_FAILURE() << "accepted: " << c.text.substr(0, 60);
    } catch (const SyntaxError& e) {
      EXPECT_EQ(e.number, c.number) << c.text.substr(0, 60) << ": " << e.message;
      EXPECT_EQ(e.at.line, c.line) << c.text.substr(0, 60);
      EXPECT_EQ(e.at.column, c.column) << c.text.substr(0, 60);
    }
  }
}

TEST(Parser, ParameterDeclarations) {
  const auto params = parse_parameter_declarations(
      "@P1 varchar(8000), @P2 nvarchar(4000) OUTPUT,@n int , @m AS VARBINARY(MAX) out, "
      "@t ntext, @b bigint, @f bit");
  ASSERT_EQ(params.size(), 7u);
  EXPECT_EQ(params[0].name, "@P1");
  EXPECT_EQ(params[0].type.name(), "VARCHAR(8000)");
  EXPECT_FALSE(params[0].output);
  EXPECT_EQ(params[1].type.name(), "NVARCHAR(4000)");
  EXPECT_TRUE(params[1].output);
  EXPECT_EQ(params[2].type.name(), "INT");
  EXPECT_EQ(params[3].type.name(), "VARBINARY(MAX)");
  EXPECT_TRUE(params[3].output);
  EXPECT_EQ(params[4].type.name(), "NVARCHAR(MAX)");
  EXPECT_EQ(params[5].type.name(), "INT");  // integers of every width are held as INT
  EXPECT_EQ(params[6].type.name(), "INT");
  EXPECT_EQ(params[2].at.column, 46);
  EXPECT_TRUE(parse_parameter_declarations("").empty());
  EXPECT_TRUE(parse_parameter_declarations("  \n").empty());

  struct Case {
    const char* text;
    int column, number;
  };
  const Case cases[] = {
      {"@a int,", 8, 102},
      {"@a int @b int", 8, 102},
      {"@a", 3, 102},
      {"@a int, @A int", 9, 134},
      {"a int", 1, 102},
      {"@a varchar(8001)", 12, 102},
      {"@a int OUTPUT OUTPUT", 15, 102},
      {"@@a int", 1, 102},
      {"@a int = 1", 8, 102},
      {"@a varchar(", 12, 102},
      {"@a money", 4, 102},
      {"@a int; DROP", 7, 102},
  };
  for (const Case& c : cases) {
    try {
      parse_parameter_declarations(c.text);
      ADD_FAILURE() << "accepted: " << c.text;
    } catch (const SyntaxError& e) {
      EXPECT_EQ(e.at.column, c.column) << c.text << ": " << e.message;
      EXPECT_EQ(e.number, c.number) << c.text;
    }
  }
  // A parameter is a variable of the statement: used, not declared again.
  EXPECT_NO_THROW(parse_batch({"SELECT @P1", 1}, {"@p1"}));
  EXPECT_THROW(parse_batch({"DECLARE @P1 INT", 1}, {"@p1"}), SyntaxError);
}

TEST(Parser, BatchesSplitAtGoLines) {
  const auto batches = split_batches("SELECT 1\ngo\n\nGO\nSELECT 2\n  Go ;\nSELECT 3");
  ASSERT_EQ(batches.size(), 3u);
  EXPECT_EQ(batches[0].first_line, 1);
  EXPECT_EQ(batches[1].first_line, 5);
  EXPECT_EQ(batches[2].first_line, 7);
  EXPECT_EQ(parse_batch(batches[1])[0].at.line, 5);
  EXPECT_TRUE(split_batches("GO\n").empty());
  // GO inside a line is no separator.
  EXPECT_EQ(split_batches("PRINT 'GO'\nSELECT 1 GO").size(), 1u);
}

}  // namespace
}  // namespace varrow::host::sql
