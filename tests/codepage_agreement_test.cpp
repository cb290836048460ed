// The library (key files in UTF-16) and the host (VARCHAR values) each carry
// a Windows-1252 table, since they share no code; they must agree.
#include <gtest/gtest.h>

#include "key/ansi_codepage.h"
#include "text/codepage.h"

namespace varrow {
namespace {

// What the library makes of one UTF-16 unit.
int library_byte(std::uint16_t unit) {
  std::uint8_t out[1];
  return utf16_to_ansi(&unit, 1, out, 1) == 1 ? out[0] : -1;
}

TEST(CodePageAgreement, EveryByteAndEveryUnit) {
  // Each byte to its character on the host, and back through the library.
  for (int byte = 0; byte < 256; ++byte) {
    const host::Bytes utf16 = host::cp1252_to_utf16le({static_cast<std::uint8_t>(byte)});
    ASSERT_EQ(utf16.size(), 2u) << byte;
    const auto unit = static_cast<std::uint16_t>(utf16[0] | utf16[1] << 8);
    EXPECT_EQ(library_byte(unit), byte) << "byte " << byte << " is U+" << std::hex << unit;
  }
  // Every unit the same way on both sides: its byte, or '?' for both.
  for (int unit = 0; unit <= 0xFFFF; ++unit) {
    const host::Bytes utf16 = {static_cast<std::uint8_t>(unit),
                               static_cast<std::uint8_t>(unit >> 8)};
    const host::Bytes host_bytes = host::utf16le_to_cp1252(utf16);
    ASSERT_EQ(host_bytes.size(), 1u) << unit;
    EXPECT_EQ(library_byte(static_cast<std::uint16_t>(unit)), host_bytes[0])
        << "U+" << std::hex << unit;
  }
}

}  // namespace
}  // namespace varrow
