// Turns the text of one batch into statements, checking names and types as
// the server compiles a batch before running any of it.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sql/ast.h"

namespace varrow::host::sql {

// One batch of a script and the line of the script it starts on.
struct BatchText {
  SecretString text;
  int first_line = 1;
  int repeat = 1;  // GO n: the batch runs n times
};
using Batches = std::vector<BatchText, ClearingAllocator<BatchText>>;

// The count of a line holding only GO or GO n (any letter case), n > 0;
// nothing for any other line.
std::optional<int> go_count(std::string_view line);

// Splits a script at GO lines.
Batches split_batches(std::string_view script);

// Parses one batch. Throws SyntaxError, with the position of the offending
// token, for anything outside the language: unknown statements, undeclared
// or redeclared variables, bad types or lengths, text that VARCHAR cannot
// hold, a constant passed as OUTPUT, and anything over the limits in
// lexer.h. `declared` names variables that exist before the batch starts
// (the parameters of sp_executesql), which the batch may use but not
// declare again.
std::vector<Statement> parse_batch(const BatchText& batch,
                                   const std::vector<std::string>& declared = {});

// One parameter of a parameter declaration string.
struct ParameterDeclaration {
  std::string name;  // as written, "@P1"
  SqlType type;
  bool output = false;
  Position at;  // within the declaration string
};

// Parses a parameter declaration string as sp_executesql and the prepare
// procedures take it: "@P1 varchar(8000), @P2 nvarchar(4000) OUTPUT, @n int"
// (the types and lengths of DECLARE, OUTPUT or OUT, names unique without
// regard to case). Empty or blank text declares nothing. Throws SyntaxError
// with the position in the string for anything else.
std::vector<ParameterDeclaration> parse_parameter_declarations(std::string_view text);

// Lower-cased variable name: names are compared without regard to case.
std::string variable_key(std::string_view name);

}  // namespace varrow::host::sql
