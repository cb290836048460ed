// Statements of the batch language.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "sql/lexer.h"
#include "sql/value.h"

namespace varrow::host::sql {

// A literal, a variable, a server value (@@VERSION), or a conversion or
// function of another expression. The parser never nests expressions deeper
// than MAX_NESTING, so evaluating and destroying one recurses a bounded depth.
struct Expr {
  enum class Kind { Literal, Variable, Global, Convert, DataLength, ServerProperty };
  Kind kind = Kind::Literal;
  Position at;
  Value literal;                // Literal
  std::string variable;         // Variable: the name as written, "@v"; Global: "@@VERSION"
  SqlType target;               // Convert
  int style = 0;                // Convert: CONVERT's style (1 and 2: binary as hex text)
  std::shared_ptr<Expr> inner;  // Convert, DataLength, ServerProperty
};

struct Declaration {
  std::string name;
  SqlType type;
  std::optional<Expr> initial;
};

struct Declare {
  std::vector<Declaration> variables;
};

struct Set {
  std::string variable;
  Expr value;
};

struct Argument {
  std::string name;  // "@input" when passed as @input = value; empty when by position
  Expr value;
  bool output = false;
};

struct Exec {
  std::optional<std::string> status_variable;  // EXEC @rc = ...
  std::string procedure;                       // the name as written, without qualifiers
  std::vector<Argument> arguments;
};

struct Column {
  Expr value;
  std::string alias;  // empty: no column name
};

struct Select {
  std::vector<Column> columns;
};

struct Print {
  Expr value;
};

// SET NOCOUNT ON|OFF: the one session option that changes what a client sees.
struct SessionOption {
  std::string name;  // "NOCOUNT"
  bool on = false;
};

struct Statement {
  Position at;
  std::variant<Declare, Set, Exec, Select, Print, SessionOption> body;
};

}  // namespace varrow::host::sql
