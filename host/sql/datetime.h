// DATETIME and DATETIME2 values of the batch language: the clock, and their
// text in the forms CAST and CONVERT write and read.
#pragma once

#include <cstdint>
#include <string>

#include "sql/value.h"

namespace varrow::host::sql {

// 100-nanosecond ticks since 0001-01-01 00:00: the one form conversions
// between the date types go through.
using Ticks = std::int64_t;

Ticks ticks_of(const Value& date);          // a non-NULL DATETIME or DATETIME2
Value date_of(Ticks ticks, BaseType base);  // DATETIME rounds to 1/300 s
Ticks now_ticks(bool utc);                  // the clock, local time or UTC

// The text of a non-NULL date in CONVERT's style: 0 (DATETIME "Dec  9 2026
// 10:05AM", DATETIME2 "2026-12-09 10:05:56.1234567"), 20 and 120
// (yyyy-mm-dd hh:mi:ss), 21, 25 and 121 (with the fraction), 23
// (yyyy-mm-dd), 108 (hh:mi:ss), 112 (yyyymmdd), 126 (ISO 8601). Any other
// style throws ConversionError.
std::string date_text(const Value& date, int style);

// Reads yyyy-mm-dd or yyyymmdd, optionally followed (after a space or T) by
// hh:mi[:ss[.fraction]]; throws EvaluationError 241 for other text and 242
// for a DATETIME out of its range (1753 to 9999).
Value date_from_text(const std::string& text, BaseType base);

}  // namespace varrow::host::sql
