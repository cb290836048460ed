// The message numbers varrowd's replies carry besides those of the batch
// language (sql/error_numbers.h). Where SQL Server has a message for the
// case, its number is used, so that drivers and people recognise it;
// varrowd's own numbers start at 50100, clear of the procedures'
// 50001-50016.
#pragma once

#include <cstdint>

namespace varrow::host::tds {

// sp_executesql and the prepare family.
inline constexpr std::int32_t PARAMETER_NOT_SUPPLIED = 201;
inline constexpr std::int32_t TYPE_CLASH = 206;
inline constexpr std::int32_t WRONG_PARAMETER_TYPE = 214;
inline constexpr std::int32_t ARITHMETIC_OVERFLOW = 8115;
inline constexpr std::int32_t SUPPLIED_TWICE = 8143;
inline constexpr std::int32_t TOO_MANY_ARGUMENTS = 8144;
inline constexpr std::int32_t NOT_A_PARAMETER = 8145;
inline constexpr std::int32_t NOT_DECLARED_OUTPUT = 8162;
inline constexpr std::int32_t VALUE_NOT_SUPPLIED = 8178;
inline constexpr std::int32_t UNKNOWN_HANDLE = 8179;
inline constexpr std::int32_t NOT_PREPARED = 8180;

// The TDS server.
inline constexpr std::int32_t UNSUPPORTED_TYPE = 8009;
inline constexpr std::int32_t TOO_MANY_CONNECTIONS = 17809;
inline constexpr std::int32_t LOGIN_FAILED = 18456;  // also for an address locked out
inline constexpr std::int32_t KEY_FILE_REFUSED = 50100;
inline constexpr std::int32_t REPLY_TOO_LARGE = 50101;
inline constexpr std::int32_t TOO_MANY_REQUESTS = 50102;

}  // namespace varrow::host::tds
