// A global allocator for tests that must see the heap: it counts the blocks
// alive and can be told to fail, so that allocation failures can be provoked
// on purpose.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string_view>

namespace varrow::test {

// Blocks allocated through operator new and not yet released.
long live_allocations();

// The next `count` allocations on the calling thread throw std::bad_alloc;
// 0 ends the failures.
void fail_next_allocations(int count);

// Only the k-th allocation from now on the calling thread fails (k >= 1); 0
// cancels. allocation_failure_hit tells whether it has happened since.
void fail_allocation(int k);
bool allocation_failure_hit();

// While alive, the constructing thread's allocations are carved in order from
// [memory, memory + size), which places a test's objects where it chooses;
// releasing such a block does nothing. One arena at a time, and none of its
// blocks may be in use once it ends.
class ArenaScope {
 public:
  ArenaScope(void* memory, std::size_t size);
  ~ArenaScope();
  ArenaScope(const ArenaScope&) = delete;
  ArenaScope& operator=(const ArenaScope&) = delete;
};

// While alive, every block operator new hands out starts zeroed, and every
// block operator delete takes back is searched, before it is freed, for a
// piece of any of the secrets (the 8 bytes at each multiple of 8: any 15
// bytes of one). One scan at a time; the secrets must outlive it.
class FreedMemoryScan {
 public:
  explicit FreedMemoryScan(std::initializer_list<std::string_view> secrets);
  ~FreedMemoryScan();
  FreedMemoryScan(const FreedMemoryScan&) = delete;
  FreedMemoryScan& operator=(const FreedMemoryScan&) = delete;
  // The index of the first secret a freed block held; -1 while none did.
  int found() const;
};

}  // namespace varrow::test
