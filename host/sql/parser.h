// Turns the text of one batch into statements, checking names and types as
// the server compiles a batch before running any of it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "sql/ast.h"

namespace varrow::host::sql {

// One batch of a script and the line of the script it starts on.
struct BatchText {
  std::string text;
  int first_line = 1;
};

// Splits a script at lines holding only GO (any letter case).
std::vector<BatchText> split_batches(std::string_view script);

// Parses one batch. Throws SyntaxError, with the position of the offending
// token, for anything outside the language: unknown statements, undeclared
// or redeclared variables, bad types or lengths, text that VARCHAR cannot
// hold, a constant passed as OUTPUT.
std::vector<Statement> parse_batch(const BatchText& batch);

// Lower-cased variable name: names are compared without regard to case.
std::string variable_key(std::string_view name);

}  // namespace varrow::host::sql
