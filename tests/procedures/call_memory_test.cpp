// The call object clears the values it carried and the replies it recorded:
// once a call is over, neither the key nor the plaintext is left in the
// memory its buffers used. The call is made with every block it allocates
// carved from an arena the test owns, so that memory can be read afterwards.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string_view>

#include "procedure_fixture.h"
#include "support/allocator.h"

#if !defined(_WIN32)  // the host's own allocations bypass the test's on Windows

namespace varrow::test {
namespace {

constexpr std::string_view PLAIN = "attack at dawn, by the north gate";
constexpr std::string_view KEY = "5f4dcc3b5aa765d61d8327deb882cf99";
// What the OUTPUT variable held before; shorter than any result, so that the
// result takes a new block and the old one is released.
constexpr std::string_view PRIOR = "prior value";
constexpr std::size_t ARENA_SIZE = 1 << 20;

std::string_view text_of(const Bytes& bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

bool holds(const std::uint8_t* memory, std::size_t size, std::string_view needle) {
  return std::search(memory, memory + size, needle.begin(), needle.end()) != memory + size;
}

struct Case {
  const char* procedure;
  Bytes input;  // the first parameter
  bool keyed;   // a key as the second parameter
};

TEST(CallMemory, NeitherKeyNorPlaintextOutlivesTheCall) {
  const Outcome encrypted =
      run("xp_AES_Encrypt", {input_text(PLAIN), input_text(KEY), output(8000)});
  ASSERT_EQ(encrypted.returned, 1);
  const Case cases[] = {
      {"xp_AES_Encrypt", to_bytes(PLAIN), true},
      {"xp_AES_Decrypt", *encrypted.call.params()[2].value, true},  // the plaintext is the reply
      {"xp_MD5_Encrypt", to_bytes(PLAIN), false},
      {"xp_SHA1_Encrypt", to_bytes(PLAIN), false},
      {"xp_hexstr", to_bytes(PLAIN), false},
  };
  const auto arena = std::make_unique<std::uint8_t[]>(ARENA_SIZE);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.procedure);
    const host::Procedure entry = library().find(c.procedure);
    ASSERT_NE(entry, nullptr);
    std::fill_n(arena.get(), ARENA_SIZE, 0);
    bool held_during_call = false;
    {
      const ArenaScope scope(arena.get(), ARENA_SIZE);
      std::vector<Param> params;
      params.reserve(3);
      params.push_back(Param{"", VARCHAR, 8000, c.input, false});
      if (c.keyed) params.push_back(Param{"", VARCHAR, 8000, to_bytes(KEY), false});
      Param out = output(8000);
      out.value = to_bytes(PRIOR);
      params.push_back(std::move(out));
      host::Call call(std::move(params));
      EXPECT_EQ(entry(call.handle()), 1);
      held_during_call =
          holds(arena.get(), ARENA_SIZE, PLAIN) || holds(arena.get(), ARENA_SIZE, text_of(c.input));
    }
    // Otherwise the arena never held the call's buffers and proves nothing.
    EXPECT_TRUE(held_during_call);
    EXPECT_FALSE(holds(arena.get(), ARENA_SIZE, PLAIN));
    EXPECT_FALSE(holds(arena.get(), ARENA_SIZE, KEY));
    EXPECT_FALSE(holds(arena.get(), ARENA_SIZE, PRIOR));
    EXPECT_FALSE(holds(arena.get(), ARENA_SIZE, text_of(c.input)));
  }
}

}  // namespace
}  // namespace varrow::test

#endif
