// The 64-bit library must carry every pointer whole through the frame. Here
// the call object and the host's parameter values lie above 4 GiB, and so
// does the stack of the calling thread, where the procedures keep their
// parameter and output buffers; all address space that was free below 4 GiB
// is reserved without access. A pointer cut to 32 bits on either side of the
// frame then faults, or corrupts an answer, which must equal the one given in
// ordinary memory.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <thread>

#include "procedure_fixture.h"
#include "support/allocator.h"

namespace varrow::test {
namespace {

constexpr std::uintptr_t FOUR_GIB = std::uintptr_t{1} << 32;
constexpr std::size_t ARENA_SIZE = std::size_t{4} << 20;

// Reserves, without access, every free range below 4 GiB for its lifetime.
class LowMemoryReserved {
 public:
  LowMemoryReserved() {
    MEMORY_BASIC_INFORMATION region;
    std::uintptr_t at = 0x10000;
    while (at < FOUR_GIB && VirtualQuery(reinterpret_cast<void*>(at), &region, sizeof region)) {
      const auto base = reinterpret_cast<std::uintptr_t>(region.BaseAddress);
      at = base + region.RegionSize;
      if (region.State != MEM_FREE) continue;
      const std::uintptr_t first = (base + 0xFFFF) & ~std::uintptr_t{0xFFFF};
      const std::uintptr_t last = std::min(at, FOUR_GIB);
      if (first >= last) continue;
      void* block =
          VirtualAlloc(reinterpret_cast<void*>(first), last - first, MEM_RESERVE, PAGE_NOACCESS);
      if (block == nullptr) continue;
      blocks_.push_back(block);
      if (last - first > largest_size_) {
        largest_ = first;
        largest_size_ = last - first;
      }
    }
  }
  ~LowMemoryReserved() {
    for (void* block : blocks_)
      VirtualFree(block, 0, MEM_RELEASE);
  }
  LowMemoryReserved(const LowMemoryReserved&) = delete;
  LowMemoryReserved& operator=(const LowMemoryReserved&) = delete;

  // The largest reserved range.
  std::uintptr_t largest() const { return largest_; }
  std::size_t largest_size() const { return largest_size_; }

 private:
  std::vector<void*> blocks_;
  std::uintptr_t largest_ = 0;
  std::size_t largest_size_ = 0;
};

struct Case {
  const char* procedure;
  std::vector<Param> params;
};

const std::string KEY_256 = "603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4";

std::vector<Case> cases() {
  const Bytes long_input(7999, 0xA5);
  return {
      {"xp_hexstr", {input(long_input, VARBINARY), output(8000)}},  // an error answer
      {"xp_hexstr", {input(Bytes(4000, 0x3C)), output(8000)}},
      {"xp_MD5_Encrypt", {input(long_input), output(16)}},
      {"xp_SHA1_Encrypt", {input(long_input), output(20)}},
      {"xp_AES_Encrypt", {input(long_input), input_text(KEY_256), output(8000)}},
      {"xp_AES_Decrypt", {input(Bytes(7984, 0x11)), input_text(KEY_256), output(8000)}},
      {"xp_MD5_Encrypt", {null_input(), output(16)}},
  };
}

struct Answer {
  int returned = -1;
  std::string replies;
  std::optional<Bytes> output;
  Bytes message;  // the text of an error answer
};

bool operator==(const Answer& a, const Answer& b) {
  return a.returned == b.returned && a.replies == b.replies && a.output == b.output &&
         a.message == b.message;
}

Answer answer_of(int returned, const Call& call) {
  const auto messages = call.messages();
  return Answer{returned, call.replies(), call.params().back().value,
                messages.empty() ? Bytes{} : messages.front()->bytes};
}

TEST(HighMemory, AnswersAboveFourGiBEqualThoseInOrdinaryMemory) {
  const std::vector<Case> all = cases();
  std::vector<Answer> expected;
  for (const Case& c : all) {
    const Outcome outcome = run(c.procedure, c.params);
    expected.push_back(answer_of(outcome.returned, outcome.call));
  }
  std::vector<host::Procedure> entries;
  for (const Case& c : all)
    entries.push_back(library().find(c.procedure));

  const LowMemoryReserved low;
  ASSERT_GE(low.largest_size(), ARENA_SIZE);
  // Cut to 32 bits, any address of the arena falls into reserved memory.
  void* arena = VirtualAlloc(reinterpret_cast<void*>((std::uintptr_t{1} << 40) + low.largest()),
                             ARENA_SIZE, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  ASSERT_NE(arena, nullptr);

  std::vector<std::size_t> mismatches;
  mismatches.reserve(all.size());
  std::uintptr_t lowest = UINTPTR_MAX;  // of the stack, the calls and their values
  // A thread started now finds its stack above 4 GiB.
  std::thread([&] {
    const ArenaScope scope(arena, ARENA_SIZE);
    for (std::size_t i = 0; i < all.size(); ++i) {
      Call* call = new (::operator new(sizeof(Call))) Call(all[i].params);
      const int returned = entries[i](call->handle());
      if (!(answer_of(returned, *call) == expected[i])) mismatches.push_back(i);
      const auto& value = call->params().front().value;
      lowest = std::min({lowest, reinterpret_cast<std::uintptr_t>(&returned),
                         reinterpret_cast<std::uintptr_t>(call),
                         value ? reinterpret_cast<std::uintptr_t>(value->data()) : UINTPTR_MAX});
      // Not through the vtable: the host's copy of the destructor would hand
      // the arena's blocks to the C runtime.
      call->Call::~Call();
    }
  }).join();
  VirtualFree(arena, 0, MEM_RELEASE);

  EXPECT_GE(lowest, FOUR_GIB);
  for (std::size_t i : mismatches)
    ADD_FAILURE() << "case " << i << " (" << all[i].procedure << ") answered differently";
}

}  // namespace
}  // namespace varrow::test
