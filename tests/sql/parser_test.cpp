// The batch language's parser: the statement forms it takes and the errors,
// with their positions, for what it does not.
#include <gtest/gtest.h>

#include "sql/parser.h"

namespace varrow::host::sql {
namespace {

std::vector<Statement> parse(const std::string& text) {
  return parse_batch({text, 1});
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
    const char* text;
    int line, column, number;
    const char* message_part;
  };
  const Case cases[] = {
      {"FROB @x", 1, 1, 102, "unknown statement"},
      {"SELECT @x", 1, 8, 137, "must declare the scalar variable @x"},
      {"DECLARE @x INT, @X INT", 1, 17, 134, "already been declared"},
      {"DECLARE @x DATETIME", 1, 12, 102, "expected a type"},
      {"DECLARE @x VARCHAR(0)", 1, 20, 102, "1 to 8000"},
      {"DECLARE @x NVARCHAR(4001)", 1, 21, 102, "1 to 4000"},
      {"DECLARE @x CHAR(MAX)", 1, 17, 102, "expected a length"},
      {"DECLARE @x VARCHAR(10", 1, 22, 102, "expected ')'"},
      {"SELECT 'abc", 1, 8, 102, "unterminated"},
      {"SELECT 1 /* open", 1, 10, 102, "unterminated /* comment"},
      {"EXEC xp_hexstr 'a', 'b' OUTPUT", 1, 25, 102, "only a variable"},
      {"\n  EXEC xp_hexstr ,", 2, 18, 102, "expected a value"},
      {"SELECT \xE2\x82\xAC\xE4\xB8\xAD", 1, 8, 102, "expected a value"},
      {"SELECT !", 1, 8, 102, "unexpected character"},
      {"SELECT '\xE4\xB8\xAD'", 1, 8, 102, "Windows-1252"},
      {"SELECT 99999999999", 1, 8, 102, "range of INT"},
      {"SELECT 0x12G", 1, 12, 102, "binary literal"},
      {"SELECT 1 2", 1, 10, 102, "expected ';'"},
      {"SELECT @", 1, 8, 102, "'@' must begin"},
      {"SELECT 1 FROM t", 1, 10, 102, "FROM is not supported"},
      {"EXEC", 1, 5, 102, "expected a procedure name"},
      {"SET @", 1, 5, 102, "'@' must begin"},
      {"SET", 1, 4, 102, "expected an option"},
      {"BEGIN x", 1, 7, 102, "expected TRAN"},
      {"SELECT CAST(1 VARBINARY(2))", 1, 15, 102, "expected AS"},
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
