#include "common/wipe.h"

#include <cstdint>

#if defined(_WIN32)
#include <windows.h>
#else
#include <string.h>
#endif

namespace varrow {

void secure_zero(void* data, std::size_t size) {
  if (size == 0) return;
#if defined(_WIN32)
  SecureZeroMemory(data, size);
#else
  explicit_bzero(data, size);
#endif
}

// More than the frame of any block or compression function.
constexpr std::size_t STACK_CLEARED = 1024;

#if defined(__GNUC__)
[[gnu::noinline]]
#endif
void secure_zero_stack() {
  std::uint8_t area[STACK_CLEARED];
  secure_zero(area, sizeof area);
}

}  // namespace varrow
