#include "support/allocator.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace {

std::atomic<long> live{0};
thread_local int failures_left = 0;
thread_local int allocations_before_failure = 0;  // 0: none planned
thread_local bool planned_failure_hit = false;

// The arena the calling thread carves its blocks from, if any, and the range
// of the arena in use, so that its blocks are recognised on release.
thread_local std::uintptr_t arena_next = 0;
thread_local std::uintptr_t arena_end = 0;
std::atomic<std::uintptr_t> arena_first{0};
std::atomic<std::uintptr_t> arena_last{0};

void* allocate(std::size_t size) {
  if (failures_left > 0) {
    --failures_left;
    throw std::bad_alloc();
  }
  if (allocations_before_failure > 0 && --allocations_before_failure == 0) {
    planned_failure_hit = true;
    throw std::bad_alloc();
  }
  if (arena_next != 0) {
    const std::uintptr_t at = (arena_next + 15) & ~std::uintptr_t{15};
    if (at >= arena_end || size > arena_end - at) throw std::bad_alloc();
    arena_next = at + (size == 0 ? 1 : size);
    return reinterpret_cast<void*>(at);
  }
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) throw std::bad_alloc();
  live.fetch_add(1, std::memory_order_relaxed);
  return block;
}

void release(void* block) noexcept {
  if (block == nullptr) return;
  const auto at = reinterpret_cast<std::uintptr_t>(block);
  if (at >= arena_first.load() && at < arena_last.load()) return;
  live.fetch_sub(1, std::memory_order_relaxed);
  std::free(block);
}

}  // namespace

namespace varrow::test {
long live_allocations() {
  return live.load();
}
void fail_next_allocations(int count) {
  failures_left = count;
}
void fail_allocation(int k) {
  allocations_before_failure = k;
  planned_failure_hit = false;
}
bool allocation_failure_hit() {
  return planned_failure_hit;
}
ArenaScope::ArenaScope(void* memory, std::size_t size) {
  arena_next = reinterpret_cast<std::uintptr_t>(memory);
  arena_end = arena_next + size;
  arena_first = arena_next;
  arena_last = arena_end;
}
ArenaScope::~ArenaScope() {
  arena_next = arena_end = 0;
  arena_first = arena_last = 0;
}
}  // namespace varrow::test

void* operator new(std::size_t size) {
  return allocate(size);
}
void* operator new[](std::size_t size) {
  return allocate(size);
}
void operator delete(void* block) noexcept {
  release(block);
}
void operator delete[](void* block) noexcept {
  release(block);
}
void operator delete(void* block, std::size_t) noexcept {
  release(block);
}
void operator delete[](void* block, std::size_t) noexcept {
  release(block);
}
