// Conversions between the batch language's types and code pages.
#include <gtest/gtest.h>

#include "sql/value.h"
#include "text/codepage.h"

namespace varrow::host::sql {
namespace {

Value text(const std::string& ascii) {
  return Value{SqlType{BaseType::VarChar, 100, false}, Bytes(ascii.begin(), ascii.end())};
}
SqlType type(BaseType base, std::uint32_t length = 10, bool max = false) {
  return SqlType{base, length, max};
}

TEST(Value, AssignmentConversions) {
  struct Case {
    const char* what;
    Value from;
    SqlType to;
    std::string shown;
  };
  const Case cases[] = {
      {"VARCHAR truncates", text("abcdef"), type(BaseType::VarChar, 3), "abc"},
      {"CHAR pads", text("ab"), type(BaseType::Char, 4), "ab  "},
      {"NCHAR pads", text("ab"), type(BaseType::NChar, 3), "ab "},
      {"VARCHAR to NVARCHAR", text("\xE9"), type(BaseType::NVarChar), "\xC3\xA9"},
      {"NVARCHAR to VARCHAR", Value{type(BaseType::NVarChar), Bytes{0x2D, 0x4E, 0x41, 0}},
       type(BaseType::VarChar), "?A"},
      {"VARCHAR to VARBINARY", text("AB"), type(BaseType::VarBinary), "0x4142"},
      {"VARBINARY truncates", Value{type(BaseType::VarBinary), Bytes{1, 2, 3}},
       type(BaseType::VarBinary, 2), "0x0102"},
      {"INT to VARBINARY is big-endian", Value::integer(258), type(BaseType::VarBinary),
       "0x00000102"},
      {"INT to VARCHAR", Value::integer(-42), type(BaseType::VarChar), "-42"},
      {"VARCHAR to INT", text(" 17 "), type(BaseType::Int), "17"},
      {"MAX keeps everything", text(std::string(9000, 'x')), type(BaseType::VarChar, 1, true),
       std::string(9000, 'x')},
      {"NULL stays NULL", Value::null_of(type(BaseType::Int)), type(BaseType::VarChar), "NULL"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(std::string(display(convert(c.from, c.to))), c.shown) << c.what;
  }
  EXPECT_THROW(convert(text("x1"), type(BaseType::Int)), ConversionError);
  EXPECT_THROW(convert(text("99999999999"), type(BaseType::Int)), ConversionError);
  EXPECT_EQ(
      convert(Value{type(BaseType::VarBinary), Bytes{1, 0, 0, 0, 2}}, type(BaseType::Int)).as_int(),
      2);  // the last four bytes, big-endian
}

TEST(Value, ConvertStylesBetweenBinaryAndHexText) {
  const Value binary{type(BaseType::VarBinary, 4), Bytes{0x00, 0xAB, 0x10}};
  const Value hex{type(BaseType::VarChar, 10), Bytes{'0', 'x', '0', 'a', 'B', 'c'}};
  const SqlType varchar8 = type(BaseType::VarChar, 8), bin8 = type(BaseType::VarBinary, 8);
  EXPECT_EQ(display(convert(binary, varchar8, 2)), "00AB10");
  EXPECT_EQ(display(convert(binary, varchar8, 1)), "0x00AB10");
  EXPECT_EQ(display(convert(binary, type(BaseType::VarChar, 3), 1)), "0x0");  // truncated
  EXPECT_EQ(*convert(binary, type(BaseType::NVarChar, 8), 2).bytes,
            (Bytes{'0', 0, '0', 0, 'A', 0, 'B', 0, '1', 0, '0', 0}));
  EXPECT_EQ(std::string(display(convert(binary, varchar8, 0))), std::string("\0\xC2\xAB\x10", 4));
  EXPECT_EQ(display(convert(hex, bin8, 1)), "0x0ABC");
  EXPECT_EQ(display(convert(Value{hex.type, Bytes{'0', 'a', 'B', 'c'}}, bin8, 2)), "0x0ABC");
  EXPECT_FALSE(convert(Value::null_of(bin8), varchar8, 2).bytes.has_value());
  EXPECT_EQ(display(convert(Value::integer(7), varchar8, 2)), "7");  // no effect between others

  const std::pair<Value, int> refused[] = {
      {binary, 3},                                      // no such style
      {hex, 2},                                         // "0x" where none belongs
      {Value{hex.type, Bytes{'a', 'b', 'c'}}, 2},       // half a byte
      {Value{hex.type, Bytes{'0', 'x', 'g', '0'}}, 1},  // not a digit
      {Value{hex.type, Bytes{'a', 'b'}}, 1},            // style 1 without its "0x"
  };
  for (const auto& [value, style] : refused) {
    const SqlType target = value.type.base == BaseType::VarBinary ? varchar8 : bin8;
    EXPECT_THROW(convert(value, target, style), ConversionError) << display(value) << " " << style;
  }
}

TEST(CodePage, Windows1252AndUtf16) {
  EXPECT_EQ(utf8_to_cp1252("a\xE2\x82\xAC\xC3\xBF"), (Bytes{'a', 0x80, 0xFF}));
  EXPECT_FALSE(utf8_to_cp1252("\xE4\xB8\xAD").has_value());   // not in the code page
  EXPECT_FALSE(utf8_to_cp1252("\xC3").has_value());           // cut short
  EXPECT_FALSE(utf8_to_cp1252("\xC0\xAF").has_value());       // overlong
  EXPECT_FALSE(utf8_to_utf16le("\xED\xA0\x80").has_value());  // a surrogate
  EXPECT_EQ(cp1252_to_utf8(Bytes{0x80, 0x81, 0xE9}), "\xE2\x82\xAC\xC2\x81\xC3\xA9");
  EXPECT_EQ(*utf8_to_utf16le("\xF0\x9F\x98\x80"), (Bytes{0x3D, 0xD8, 0x00, 0xDE}));
  EXPECT_EQ(utf16le_to_utf8(Bytes{0x3D, 0xD8, 0x00, 0xDE}), "\xF0\x9F\x98\x80");
  EXPECT_EQ(utf16le_to_utf8(Bytes{0x00, 0xD8, 0x41}), "\xEF\xBF\xBD\xEF\xBF\xBD");
  for (int b = 0; b < 256; ++b) {
    const Bytes one{static_cast<std::uint8_t>(b)};
    EXPECT_EQ(utf16le_to_cp1252(cp1252_to_utf16le(one)), one) << b;
    EXPECT_EQ(*utf8_to_cp1252(cp1252_to_utf8(one)), one) << b;
  }
}

}  // namespace
}  // namespace varrow::host::sql
