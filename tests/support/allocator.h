// A global allocator for tests that must see the heap: it counts the blocks
// alive and can be told to fail, so that allocation failures can be provoked
// on purpose.
#pragma once

namespace varrow::test {

// Blocks allocated through operator new and not yet released.
long live_allocations();

// The next `count` allocations on the calling thread throw std::bad_alloc;
// 0 ends the failures.
void fail_next_allocations(int count);

}  // namespace varrow::test
