// The operators of the batch language over evaluated values, as SQL Server
// applies them: the operand of lower data type precedence converts to the
// type of the other, NULL in gives NULL (or UNKNOWN) out, INT arithmetic
// fails on overflow (8115) and division by zero (8134), + of two texts or
// two binaries concatenates, and texts compare as the server's default
// collation does (letter case and trailing spaces ignored).
#pragma once

#include <optional>
#include <string_view>

#include "sql/value.h"

namespace varrow::host::sql {

// The type two operands meet at, by data type precedence (character types
// widen to hold either, national when either is).
SqlType common_type(const SqlType& a, const SqlType& b);

// * / % + - & | ^ of two values.
Value apply_binary(std::string_view op, const Value& a, const Value& b);

// Unary - + ~ of a value.
Value apply_unary(std::string_view op, const Value& a);

// = <> < > <= >= of two values; nullopt (UNKNOWN) when either is NULL.
std::optional<bool> apply_comparison(std::string_view op, const Value& a, const Value& b);

// The UTF-8 text of a non-NULL character value.
std::string text_of(const Value& value);

}  // namespace varrow::host::sql
