#include "sql/operators.h"

#include <algorithm>
#include <cstdint>
#include <string>

#include "sql/datetime.h"
#include "sql/names.h"
#include "text/codepage.h"

namespace varrow::host::sql {
namespace {

constexpr SqlType INT_TYPE{BaseType::Int, 4, false};

const char* operator_name(std::string_view op) {
  if (op == "+") return "add";
  if (op == "-") return "subtract";
  if (op == "*") return "multiply";
  if (op == "/") return "divide";
  if (op == "%") return "modulo";
  if (op == "&") return "boolean AND";
  if (op == "|") return "boolean OR";
  if (op == "^") return "boolean XOR";
  if (op == "~") return "~";
  return "minus";
}

[[noreturn]] void invalid_operand(const SqlType& type, std::string_view op) {
  throw EvaluationError{OPERAND_INVALID, "Operand data type " + message_type_name(type) +
                                             " is invalid for " + operator_name(op) + " operator."};
}

[[noreturn]] void overflow() {
  throw EvaluationError{INT_OVERFLOW,
                        "Arithmetic overflow error converting expression to data type int."};
}

std::int32_t checked(std::int64_t v) {
  if (v < INT32_MIN || v > INT32_MAX) overflow();
  return static_cast<std::int32_t>(v);
}

bool is_text_or_binary(const SqlType& t) {
  return t.is_character() || t.base == BaseType::VarBinary;
}

Value concatenate(const Value& a, const Value& b) {
  SqlType type = common_type(a.type, b.type);
  if (!a.bytes || !b.bytes) return Value::null_of(type);
  const SqlType wide{type.base, 1, true};
  Bytes out = *convert(a, wide).bytes;
  const Bytes right = *convert(b, wide).bytes;
  out.insert(out.end(), right.begin(), right.end());
  if (!type.max && out.size() > type.byte_length()) out.resize(type.byte_length());
  return Value{type, out};
}

std::string folded(std::string text) {
  text.erase(text.find_last_not_of(' ') + 1);
  return ascii_lower(text);
}

}  // namespace

std::string text_of(const Value& value) {
  return std::string(value.type.is_national() ? utf16le_to_utf8(*value.bytes)
                                              : cp1252_to_utf8(*value.bytes));
}

SqlType common_type(const SqlType& a, const SqlType& b) {
  const SqlType& high = precedence(a.base) >= precedence(b.base) ? a : b;
  if (!is_text_or_binary(a) || !is_text_or_binary(b)) return high;
  // Two texts (or binaries): a variable-length type long enough for both.
  SqlType t;
  t.base = a.is_national() || b.is_national()     ? BaseType::NVarChar
           : a.is_character() || b.is_character() ? BaseType::VarChar
                                                  : BaseType::VarBinary;
  t.max = a.max || b.max;
  const std::uint32_t limit =
      t.base == BaseType::NVarChar ? MAX_DECLARED_BYTES / 2 : MAX_DECLARED_BYTES;
  t.length = t.max ? 1 : std::min(limit, a.length + b.length);
  return t;
}

Value apply_binary(std::string_view op, const Value& a, const Value& b) {
  if (op == "+" && is_text_or_binary(a.type) && is_text_or_binary(b.type)) {
    return concatenate(a, b);
  }
  if (a.type.is_date() || b.type.is_date()) {
    // DATETIME plus or minus a number of days; nothing else takes a date.
    const bool shifts = (op == "+" || op == "-") && a.type.base == BaseType::DateTime &&
                        !b.type.is_date() && !is_text_or_binary(b.type);
    if (!shifts) invalid_operand(a.type.is_date() ? a.type : b.type, op);
    if (!a.bytes || !b.bytes) return Value::null_of(a.type);
    const std::int64_t days = convert(b, INT_TYPE).as_int();
    return date_of(ticks_of(a) + (op == "+" ? days : -days) * 864'000'000'000LL,
                   BaseType::DateTime);
  }
  if (a.type.base != BaseType::Int && b.type.base != BaseType::Int) invalid_operand(a.type, op);
  if (!a.bytes || !b.bytes) return Value::null_of(INT_TYPE);
  const std::int64_t x = convert(a, INT_TYPE).as_int();
  const std::int64_t y = convert(b, INT_TYPE).as_int();
  if ((op == "/" || op == "%") && y == 0) {
    throw EvaluationError{DIVIDE_BY_ZERO, "Divide by zero error encountered."};
  }
  if (op == "+") return Value::integer(checked(x + y));
  if (op == "-") return Value::integer(checked(x - y));
  if (op == "*") return Value::integer(checked(x * y));
  if (op == "/") return Value::integer(checked(x / y));
  if (op == "%") return Value::integer(checked(x % y));
  if (op == "&") return Value::integer(static_cast<std::int32_t>(x & y));
  if (op == "|") return Value::integer(static_cast<std::int32_t>(x | y));
  return Value::integer(static_cast<std::int32_t>(x ^ y));
}

Value apply_unary(std::string_view op, const Value& a) {
  if (op == "+") return a;  // unary plus changes nothing, of any type
  if (a.type.base != BaseType::Int) invalid_operand(a.type, op == "~" ? "~" : "");
  if (!a.bytes) return a;
  const std::int64_t x = a.as_int();
  return Value::integer(op == "-" ? checked(-x) : static_cast<std::int32_t>(~x));
}

std::optional<bool> apply_comparison(std::string_view op, const Value& a, const Value& b) {
  if (!a.bytes || !b.bytes) return std::nullopt;
  const SqlType type = common_type(a.type, b.type);
  const Value x = convert(a, SqlType{type.base, 1, true});
  const Value y = convert(b, SqlType{type.base, 1, true});
  int order = 0;
  if (type.base == BaseType::Int) {
    order = (x.as_int() > y.as_int()) - (x.as_int() < y.as_int());
  } else if (type.is_date()) {
    order = (ticks_of(x) > ticks_of(y)) - (ticks_of(x) < ticks_of(y));
  } else if (type.is_character()) {
    const int c = folded(text_of(x)).compare(folded(text_of(y)));
    order = (c > 0) - (c < 0);
  } else {
    order = (*x.bytes > *y.bytes) - (*x.bytes < *y.bytes);
  }
  if (op == "=") return order == 0;
  if (op == "<>") return order != 0;
  if (op == "<") return order < 0;
  if (op == ">") return order > 0;
  if (op == "<=") return order <= 0;
  return order >= 0;
}

}  // namespace varrow::host::sql
