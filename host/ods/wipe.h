// Clearing memory that held a caller's values (keys, plaintext, results) once
// the host is done with them, so that they do not linger in freed blocks. The
// clearing is one the compiler keeps although nothing reads the memory again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace varrow::host {

void wipe(void* data, std::size_t size) noexcept;

// Clears every byte the container owns, its spare capacity too, and leaves it
// empty (its storage kept for reuse).
void wipe(std::vector<std::uint8_t>& bytes) noexcept;
void wipe(std::string& text) noexcept;
inline void wipe(std::optional<std::vector<std::uint8_t>>& value) noexcept {
  if (value) wipe(*value);
}

}  // namespace varrow::host
