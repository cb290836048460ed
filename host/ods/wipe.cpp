#include "ods/wipe.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <string.h>
#endif

namespace varrow::host {

void wipe(void* data, std::size_t size) noexcept {
  if (data == nullptr || size == 0) return;
#if defined(_WIN32)
  SecureZeroMemory(data, size);
#else
  explicit_bzero(data, size);
#endif
}

// Growing to the capacity first makes the spare bytes elements, so that they
// are cleared through the container rather than past its end; that growth
// never reallocates.
void wipe(std::vector<std::uint8_t>& bytes) noexcept {
  bytes.resize(bytes.capacity());
  wipe(bytes.data(), bytes.size());
  bytes.clear();
}

void wipe(std::string& text) noexcept {
  text.resize(text.capacity());
  wipe(text.data(), text.size());
  text.clear();
}

}  // namespace varrow::host
