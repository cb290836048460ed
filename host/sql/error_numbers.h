// The message numbers of the batch language and the calls it makes, as SQL
// Server numbers the same errors, so that drivers and people recognise them.
// varrowd's own numbers are in tds/session/error_numbers.h.
#pragma once

#include <cstdint>

namespace varrow::host {

// The batch language and the calls it makes.
inline constexpr std::int32_t SYNTAX_ERROR = 102;
inline constexpr std::int32_t NAME_TOO_LONG = 103;
inline constexpr std::int32_t NAMED_THEN_POSITIONAL = 119;
inline constexpr std::int32_t VARIABLE_DECLARED_TWICE = 134;
inline constexpr std::int32_t ASSIGNMENT_WITH_RETRIEVAL = 141;
inline constexpr std::int32_t UNDECLARED_VARIABLE = 137;
inline constexpr std::int32_t WRONG_ARGUMENT_COUNT = 174;  // "The len function requires 1 ..."
inline constexpr std::int32_t WRONG_ARGUMENT_RANGE = 189;  // "... requires 2 to 3 arguments."
inline constexpr std::int32_t NESTED_TOO_DEEPLY = 191;
inline constexpr std::int32_t UNKNOWN_FUNCTION = 195;
inline constexpr std::int32_t INVALID_COLUMN = 207;
inline constexpr std::int32_t INVALID_OBJECT = 208;
inline constexpr std::int32_t CONVERSION_ERROR = 245;
inline constexpr std::int32_t OUT_OF_MEMORY = 701;
inline constexpr std::int32_t TOO_MANY_COLUMNS = 1056;
inline constexpr std::int32_t UNKNOWN_PROCEDURE = 2812;
inline constexpr std::int32_t NOT_A_CONDITION = 4145;
inline constexpr std::int32_t PARAMETER_CONVERSION_ERROR = 8114;
inline constexpr std::int32_t INT_OVERFLOW = 8115;
inline constexpr std::int32_t OPERAND_INVALID = 8117;
inline constexpr std::int32_t DIVIDE_BY_ZERO = 8134;
inline constexpr std::int32_t INTERNAL_ERROR = 8630;
inline constexpr std::int32_t BATCH_TOO_LARGE = 8632;

// A call with more parameters than SQL Server takes (a declaration string
// of sp_executesql or a prepared statement, or an RPC request).
inline constexpr std::int32_t TOO_MANY_PARAMETERS = 8003;

}  // namespace varrow::host
