// The fixed message record of every error code, as the caller receives it.
#pragma once

#include <cstddef>

#include "common/errors.h"

namespace varrow {

inline constexpr std::size_t ERROR_COUNT =
    static_cast<std::size_t>(error_number(XP_ERR_LAST) - error_number(XP_ERR_FIRST) + 1);

// Every record is sent whole: the text, then NUL bytes up to this size.
inline constexpr std::size_t ERROR_MESSAGE_SIZE = 100;

// Record of code c is ERROR_MESSAGES[c - XP_ERR_FIRST].
extern const char ERROR_MESSAGES[ERROR_COUNT][ERROR_MESSAGE_SIZE];

// The whole ERROR_MESSAGE_SIZE-byte record of `code`, or nullptr for Ok and
// any value outside the table.
const char* error_message(XpErrorCode code);

}  // namespace varrow
