// Sizes shared by the procedures and the key reader.
#pragma once

#include <cstdint>

#include "common/key_text.h"  // KEY_TEXT_MAX

namespace varrow {

// Largest input value, largest declared OUTPUT length, and the size of every
// procedure's input buffer.
inline constexpr std::uint32_t PARAM_MAX = 8000;

}  // namespace varrow
