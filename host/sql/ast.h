// Statements of the batch language.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "sql/lexer.h"
#include "sql/value.h"

namespace varrow::host::sql {

// A scalar expression, or a condition (a comparison, AND, OR, NOT, IS NULL)
// that only WHERE, WHEN, IIF and the logical operators take. The parser
// bounds how deep expressions nest (MAX_NESTING levels of parentheses and
// calls, MAX_EXPRESSION_HEIGHT nodes from root to leaf), so evaluating and
// destroying one recurses a bounded depth.
struct Expr {
  enum class Kind {
    Literal,
    Variable,  // name: "@v" as written
    Global,    // name: "@@VERSION"
    Column,    // name: a column of the FROM's object
    Convert,   // CAST or CONVERT of args[0] to `target`
    Function,  // name (upper case) over args
    Unary,     // op ("-", "+", "~") on args[0]
    Binary,    // op ("*", "/", "%", "+", "-", "&", "|", "^") on args[0], args[1]
    Compare,   // op ("=", "<>", "<", ">", "<=", ">=") of args[0] and args[1]
    And,       // args[0] AND args[1]
    Or,        // args[0] OR args[1]
    Not,       // NOT args[0]
    IsNull,    // args[0] IS NULL (IS NOT NULL when `negated`)
    Case,      // [input,] WHEN, THEN pairs [, ELSE]
  };
  Kind kind = Kind::Literal;
  Position at;
  Value literal;              // Literal
  bool null_literal = false;  // Literal: the keyword NULL, which has no type of its own
  std::string variable;       // Variable, Global, Column, Function: the name
  std::string op;             // Unary, Binary, Compare
  SqlType target;             // Convert
  int style = 0;              // Convert: CONVERT's style
  bool negated = false;       // IsNull
  bool has_input = false;     // Case: args[0] is the input of a simple CASE
  bool has_else = false;      // Case: the last of args is the ELSE
  int height = 1;             // nodes from here to the deepest leaf
  std::vector<Expr> args;

  // True for a condition, which has no value a SELECT could show.
  bool is_condition() const {
    return kind == Kind::Compare || kind == Kind::And || kind == Kind::Or || kind == Kind::Not ||
           kind == Kind::IsNull;
  }
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
  std::string alias;     // empty: no column name
  std::string variable;  // SELECT @v = value: the variable it sets, and no column
};

// SELECT list [FROM object] [WHERE condition]: one row, or the rows of the
// catalog object named, those the condition holds for. A list of
// assignments (@v = value) sets the variables from the last such row and
// returns no rows.
struct Select {
  std::vector<Column> columns;
  std::string from;  // the object's name as written, qualifiers included; empty: no FROM
  Position from_at;
  std::optional<Expr> where;
};

struct Print {
  Expr value;
};

// SET NOCOUNT ON|OFF and SET TRANSACTION ISOLATION LEVEL: the session options
// that change what a client sees.
struct SessionOption {
  std::string name;  // "NOCOUNT", "ISOLATION"
  bool on = false;
  std::int32_t level = 0;  // ISOLATION: as sys.dm_exec_sessions numbers it, 1 to 5
};

struct Statement {
  Position at;
  std::variant<Declare, Set, Exec, Select, Print, SessionOption> body;
};

}  // namespace varrow::host::sql
