// The message numbers clients see from the host, in one place. Where SQL
// Server has a message for the case, its number is used, so that drivers and
// people recognise it; varrowd's own numbers start at 50100, clear of the
// procedures' 50001-50016.
#pragma once

#include <cstdint>

namespace varrow::host {

// The batch language and the calls it makes.
inline constexpr std::int32_t SYNTAX_ERROR = 102;
inline constexpr std::int32_t NAME_TOO_LONG = 103;
inline constexpr std::int32_t NAMED_THEN_POSITIONAL = 119;
inline constexpr std::int32_t VARIABLE_DECLARED_TWICE = 134;
inline constexpr std::int32_t UNDECLARED_VARIABLE = 137;
inline constexpr std::int32_t NESTED_TOO_DEEPLY = 191;
inline constexpr std::int32_t CONVERSION_ERROR = 245;
inline constexpr std::int32_t OUT_OF_MEMORY = 701;
inline constexpr std::int32_t TOO_MANY_COLUMNS = 1056;
inline constexpr std::int32_t UNKNOWN_PROCEDURE = 2812;
inline constexpr std::int32_t PARAMETER_CONVERSION_ERROR = 8114;
inline constexpr std::int32_t INTERNAL_ERROR = 8630;
inline constexpr std::int32_t BATCH_TOO_LARGE = 8632;

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
inline constexpr std::int32_t TOO_MANY_PARAMETERS = 8003;
inline constexpr std::int32_t UNSUPPORTED_TYPE = 8009;
inline constexpr std::int32_t TOO_MANY_CONNECTIONS = 17809;
inline constexpr std::int32_t LOGIN_FAILED = 18456;  // also for an address locked out
inline constexpr std::int32_t KEY_FILE_REFUSED = 50100;
inline constexpr std::int32_t REPLY_TOO_LARGE = 50101;
inline constexpr std::int32_t TOO_MANY_REQUESTS = 50102;

}  // namespace varrow::host
