#include "support/allocator.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include <malloc.h>

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

// The secrets a FreedMemoryScan looks for, and the first it found.
constexpr std::size_t MAX_SECRETS = 16;
constexpr std::size_t PIECE = 8;
std::string_view secrets[MAX_SECRETS];
std::atomic<std::size_t> secret_count{0};
std::atomic<int> found_secret{-1};

// All the bytes of a block malloc gave, its slack past the size asked too.
std::size_t block_size(void* block) {
#if defined(_WIN32)
  return _msize(block);
#else
  return malloc_usable_size(block);
#endif
}

void scan(const void* block, std::size_t size) noexcept {
  const auto* bytes = static_cast<const char*>(block);
  const std::string_view memory(bytes, size);
  for (std::size_t s = 0; s < secret_count.load() && found_secret.load() < 0; ++s) {
    for (std::size_t at = 0; at + PIECE <= secrets[s].size(); at += PIECE) {
      if (memory.find(secrets[s].substr(at, PIECE)) != std::string_view::npos) {
        found_secret = static_cast<int>(s);
        return;
      }
    }
  }
}

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
  if (secret_count.load() > 0) std::memset(block, 0, block_size(block));
  live.fetch_add(1, std::memory_order_relaxed);
  return block;
}

void release(void* block) noexcept {
  if (block == nullptr) return;
  const auto at = reinterpret_cast<std::uintptr_t>(block);
  if (at >= arena_first.load() && at < arena_last.load()) return;
  if (secret_count.load() > 0) scan(block, block_size(block));
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
FreedMemoryScan::FreedMemoryScan(std::initializer_list<std::string_view> given) {
  std::size_t n = 0;
  for (std::string_view s : given) {
    if (n < MAX_SECRETS) secrets[n++] = s;
  }
  found_secret = -1;
  secret_count = n;
}
FreedMemoryScan::~FreedMemoryScan() {
  secret_count = 0;
}
int FreedMemoryScan::found() const {
  return found_secret.load();
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
