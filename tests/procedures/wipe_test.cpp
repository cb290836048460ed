// After a call, the stack the library used below its caller holds neither
// the key nor the caller's data: every procedure clears what it held before
// it returns.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "procedure_fixture.h"
#include "support/oracle.h"

namespace varrow::test {
namespace {

// More than any call uses: the procedures' buffers and the host's frames.
constexpr std::size_t STACK_SPAN = 96 * 1024;

// Zeros below the caller, so that nothing an earlier test left is found.
[[gnu::noinline]] void clear_stack_below() {
  std::uint8_t area[STACK_SPAN];
  std::memset(area, 0, STACK_SPAN);
  asm volatile("" : : "r"(area) : "memory");
}

// A copy of the stack below the caller, as the last call left it.
[[gnu::noinline]] Bytes stack_below() {
  std::uint8_t area[STACK_SPAN];
  // The array is read as it is, never written: tell the compiler so.
  asm volatile("" : : "r"(area) : "memory");
  return Bytes(area, area + STACK_SPAN);
}

// Whether any 8 consecutive bytes of `needle` occur in `haystack`.
bool holds_part_of(const Bytes& haystack, const Bytes& needle) {
  constexpr std::size_t PART = 8;
  for (std::size_t i = 0; i + PART <= needle.size(); ++i) {
    const auto part_begin = needle.begin() + static_cast<std::ptrdiff_t>(i);
    if (std::search(haystack.begin(), haystack.end(), part_begin, part_begin + PART) !=
        haystack.end()) {
      return true;
    }
  }
  return false;
}

TEST(Wiping, NoKeyOrDataStaysOnTheStack) {
  const std::string key_text = "3f9a61c2d4b8e07153a9c6d2e8f01b7a4c5d6e7f8091a2b3c4d5e6f708192a3b";
  const Bytes key = from_hex(key_text);
  Bytes plain(300);
  for (std::size_t i = 0; i < plain.size(); ++i)
    plain[i] = static_cast<std::uint8_t>(i * 151 + 7);
  const Bytes cipher = oracle_aes_ecb(true, key, plain, true);
  const auto key_file = std::filesystem::temp_directory_path() / "varrow-wipe-test.key";
  std::ofstream(key_file, std::ios::binary) << key_text << "\r\n";

  struct Case {
    const char* procedure;
    std::vector<Param> params;
    int returned;
  };
  const Case cases[] = {
      {"xp_AES_Encrypt", {input(plain), input_text(key_text), output(8000)}, 1},
      {"xp_AES_Decrypt", {input(cipher), input_text(key_text), output(8000)}, 1},
      {"xp_AES_Encrypt",
       {input(plain), input_text("keyfile=" + key_file.string()), output(8000)},
       1},
      {"xp_AES_Decrypt", {input(cipher), input_text(key_text), output(17)}, 0},
      {"xp_MD5_Encrypt", {input(plain), output(16)}, 1},
      {"xp_SHA1_Encrypt", {input(plain), output(20)}, 1},
      {"xp_hexstr", {input(plain), output(8000)}, 1},
  };
  std::string hex_text = to_hex(plain);
  for (char& c : hex_text)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  // A first round binds every function the calls need, so that the dynamic
  // linker, which saves all registers on the stack while it binds one, does
  // not leave the caller's registers behind.
  for (const Case& c : cases)
    run(c.procedure, c.params);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.procedure);
    clear_stack_below();
    const Outcome outcome = run(c.procedure, c.params);
    const Bytes stack = stack_below();
    ASSERT_EQ(outcome.returned, c.returned);
    EXPECT_FALSE(holds_part_of(stack, plain)) << "plaintext";
    EXPECT_FALSE(holds_part_of(stack, to_bytes(key_text))) << "key text";
    EXPECT_FALSE(holds_part_of(stack, key)) << "key bytes";
    EXPECT_FALSE(holds_part_of(stack, to_bytes(hex_text))) << "hexadecimal text";
  }
  std::filesystem::remove(key_file);
}

}  // namespace
}  // namespace varrow::test
