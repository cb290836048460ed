// Sizes shared by the procedures and the key reader.
#pragma once

#include <cstdint>

namespace varrow {

// Largest input value, largest declared OUTPUT length, and the size of every
// procedure's input buffer.
inline constexpr std::uint32_t PARAM_MAX = 8000;

// Capacity of the AES key text buffer: the largest value accepted for the key
// parameter and the most that a key file contributes.
inline constexpr std::uint32_t KEY_TEXT_MAX = 268;

}  // namespace varrow
