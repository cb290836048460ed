#include <cstdio>

#include "procedure_fixture.h"

namespace varrow::test {
namespace {

Outcome hexstr(Param in, Param out) {
  return run("xp_hexstr", {std::move(in), std::move(out)});
}

TEST(Hexstr, EveryByteAsTwoUppercaseDigits) {
  const Outcome outcome = hexstr(input(Bytes{0x41, 0x42, 0x0A, 0xFF, 0x00}), output(10));
  expect_output(outcome, 2, to_bytes("41420AFF00"));

  Bytes all(256);
  std::string digits;
  for (int v = 0; v < 256; ++v) {
    all[static_cast<std::size_t>(v)] = static_cast<std::uint8_t>(v);
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02X", v);
    digits += pair;
  }
  expect_output(hexstr(input(all), output(512)), 2, to_bytes(digits));
}

TEST(Hexstr, EmptyInputGivesEmptyTextNotNull) {
  expect_output(hexstr(input(Bytes{}), output(10)), 2, Bytes{});
}

TEST(Hexstr, NullInputGivesNullEvenIntoNationalOrSmallOutput) {
  expect_null_output(hexstr(null_input(), output(1, NCHAR)), 2);
  expect_null_output(hexstr(null_input(), output(0, NVARCHAR)), 2);
}

TEST(Hexstr, InputSizeBounds) {
  std::string digits;
  for (int i = 0; i < 4000; ++i)
    digits += "AB";
  expect_output(hexstr(input(Bytes(4000, 0xAB)), output(8000)), 2, to_bytes(digits));
  for (std::size_t length : {4001u, 6000u, 8000u}) {
    expect_error(hexstr(input(Bytes(length, 1)), output(8000)), 50004);
  }
  expect_error(hexstr(input(Bytes(8001, 1)), output(8000)), 50003);
}

TEST(Hexstr, NationalOutputRefusedOnlyAfterSizeAndOutputFlag) {
  for (std::uint8_t type : {NCHAR, NVARCHAR}) {
    expect_error(hexstr(input_text("abc"), output(5, type)), 50007);
    expect_error(hexstr(input_text("abc"), not_output(6, type)), 50008);
    expect_error(hexstr(input_text("abc"), output(6, type)), 50012);
  }
}

TEST(Hexstr, OutputDeclaredExactlyTwiceTheInputReceivesAllOfIt) {
  expect_output(hexstr(input_text("xyz"), output(6, CHAR)), 2, to_bytes("78797A"));
}

TEST(Hexstr, NationalInputIsConvertedByteByByte) {
  // N'Az' as the server passes it: UTF-16LE.
  expect_output(hexstr(input(Bytes{0x41, 0x00, 0x7A, 0x00}, NVARCHAR), output(8)), 2,
                to_bytes("41007A00"));
}

}  // namespace
}  // namespace varrow::test
