// Tokens of the batch language, with the line and column each starts at.
#pragma once

#include <cstddef>
#include <exception>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ods/secure_bytes.h"
#include "sql/error_numbers.h"

namespace varrow::host::sql {

struct Position {
  int line = 1;
  int column = 1;
};

enum class TokenKind {
  Word,         // keyword or name: DECLARE, xp_hexstr, VARCHAR, [quoted name]
  Variable,     // @name
  String,       // '...' (text holds the UTF-8 contents, quotes undone)
  NString,      // N'...'
  Binary,       // 0x... (text holds the hex digits)
  Integer,      // 123
  Punctuation,  // ( ) , ; . and the operators: = - + * / % < > & | ^ ~ <= >= <> != !< !>
  End,
};

struct Token {
  TokenKind kind;
  SecretString text;
  Position at;
};

// Held in clearing memory, as is literal text short enough to sit inside its
// Token.
using Tokens = std::vector<Token, ClearingAllocator<Token>>;

// What one batch may hold. Past any of these the batch is refused as a
// whole, with an error at the offending token, and nothing of it runs: they
// bound the memory and the stack one batch can take, whoever sends it.
inline constexpr std::size_t MAX_TOKENS = 65536;  // words, names, literals, punctuation
inline constexpr std::size_t MAX_STATEMENTS = 4096;
inline constexpr int MAX_NESTING = 64;               // expressions inside expressions
inline constexpr int MAX_EXPRESSION_HEIGHT = 1024;   // operators chained in one expression
inline constexpr std::size_t MAX_COLUMNS = 4096;     // SQL Server's select-list limit
inline constexpr std::size_t MAX_NAME_LENGTH = 128;  // UTF-16 units, as SQL Server's sysname

// SQL Server's limit on the parameters of one procedure: of one RPC request,
// and of one declaration string of sp_executesql or a prepared statement.
// Past it, error 8003 with this text.
inline constexpr std::size_t MAX_PARAMETERS = 2100;
inline constexpr const char* TOO_MANY_PARAMETERS_TEXT =
    "The incoming request has too many parameters. The server supports a maximum of 2100 "
    "parameters. Reduce the number of parameters and resend the request.";

// Thrown for a batch outside the language, numbered as the server numbers
// such errors: 102 syntax, 103 a name over 128 characters, 134 a variable
// declared twice, 137 undeclared, 191 nested too deeply, 1056 too many
// columns, 8632 a batch over the token or statement limit, 8003 a
// declaration string over MAX_PARAMETERS.
struct SyntaxError : std::exception {
  SyntaxError(Position where, std::string text, int error_number = SYNTAX_ERROR)
      : at(where), message(std::move(text)), number(error_number) {}
  const char* what() const noexcept override { return message.c_str(); }

  Position at;
  std::string message;
  int number = SYNTAX_ERROR;
};

// Splits one batch into tokens, dropping white space and comments. Throws
// SyntaxError for an unterminated string or comment, a stray character, a
// name over MAX_NAME_LENGTH or more than MAX_TOKENS tokens.
Tokens tokenize(std::string_view batch, int first_line = 1);

// The length of UTF-8 text in UTF-16 units, as the server counts a name's
// characters (a character outside the Basic Multilingual Plane counts two).
std::size_t utf16_length(std::string_view utf8);

// Throws SyntaxError 103 at `at` when `name` is longer than MAX_NAME_LENGTH.
void check_name_length(std::string_view name, Position at);

}  // namespace varrow::host::sql
