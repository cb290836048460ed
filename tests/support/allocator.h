// A global allocator for tests that must see the heap: it counts the blocks
// alive and can be told to fail, so that allocation failures can be provoked
// on purpose.
#pragma once

#include <cstddef>

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

}  // namespace varrow::test
