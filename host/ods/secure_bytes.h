// The host's buffers for what callers pass and get back (keys, plaintext,
// passwords, results, the requests and replies that carry them): memory that
// is cleared before it goes back to the heap, whenever it does, a buffer a
// container outgrew or one freed while an exception unwinds as much as one
// released at the end. Clearing at release, not by each owner remembering,
// is what keeps every path covered.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ods/wipe.h"

namespace varrow::host {

// std::allocator, except that every block is wiped before it is freed.
template <class T>
struct ClearingAllocator {
  using value_type = T;

  ClearingAllocator() noexcept = default;
  template <class U>
  ClearingAllocator(const ClearingAllocator<U>&) noexcept {}

  T* allocate(std::size_t n) { return std::allocator<T>().allocate(n); }
  void deallocate(T* block, std::size_t n) noexcept {
    wipe(block, n * sizeof(T));
    std::allocator<T>().deallocate(block, n);
  }

  template <class U>
  bool operator==(const ClearingAllocator<U>&) const noexcept {
    return true;
  }
};

using Bytes = std::vector<std::uint8_t, ClearingAllocator<std::uint8_t>>;

// Text that may hold a secret (a batch, a literal, a password). Text short
// enough to sit inside the string object itself is cleared with the block
// that holds the object, when that block is a clearing one.
using SecretString = std::basic_string<char, std::char_traits<char>, ClearingAllocator<char>>;

}  // namespace varrow::host
