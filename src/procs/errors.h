// Error codes of the procedures and the fixed message record of each.
#pragma once

#include <cstddef>
#include <cstdint>

namespace varrow {

// 0 for success, else one of the codes below; no other value occurs.
using XpErrorCode = std::int32_t;

inline constexpr XpErrorCode XP_OK = 0;
inline constexpr XpErrorCode XP_ERR_PARAM_COUNT = 50001;
inline constexpr XpErrorCode XP_ERR_INPUT_UNREADABLE = 50002;
inline constexpr XpErrorCode XP_ERR_PARAM_SIZE = 50003;
inline constexpr XpErrorCode XP_ERR_HEX_INPUT_SIZE = 50004;
inline constexpr XpErrorCode XP_ERR_KEY = 50005;
inline constexpr XpErrorCode XP_ERR_OUTPUT_UNREADABLE = 50006;
inline constexpr XpErrorCode XP_ERR_OUTPUT_TOO_SMALL = 50007;
inline constexpr XpErrorCode XP_ERR_OUTPUT_NOT_OUTPUT = 50008;
inline constexpr XpErrorCode XP_ERR_PARAM_TYPE = 50009;
inline constexpr XpErrorCode XP_ERR_CIPHER_DATA = 50010;
inline constexpr XpErrorCode XP_ERR_OUTPUT_REFUSED = 50011;
inline constexpr XpErrorCode XP_ERR_HEX_OUTPUT_TYPE = 50012;
inline constexpr XpErrorCode XP_ERR_KEY_FILE = 50013;
inline constexpr XpErrorCode XP_ERR_KEY_PATH = 50014;       // kept for the table; never raised
inline constexpr XpErrorCode XP_ERR_KEY_FILE_SIZE = 50015;  // kept for the table; never raised
inline constexpr XpErrorCode XP_ERR_PARAM_NULL = 50016;

inline constexpr XpErrorCode XP_ERR_FIRST = XP_ERR_PARAM_COUNT;
inline constexpr XpErrorCode XP_ERR_LAST = XP_ERR_PARAM_NULL;
inline constexpr std::size_t ERROR_COUNT = XP_ERR_LAST - XP_ERR_FIRST + 1;

// Every record is sent whole: the text, then NUL bytes up to this size.
inline constexpr std::size_t ERROR_MESSAGE_SIZE = 100;

// Record of code c is ERROR_MESSAGES[c - XP_ERR_FIRST].
extern const char ERROR_MESSAGES[ERROR_COUNT][ERROR_MESSAGE_SIZE];

}  // namespace varrow
