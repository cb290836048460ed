// Tokens of the batch language, with the line and column each starts at.
#pragma once

#include <string>
#include <string_view>
#include <vector>

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
  Punctuation,  // ( ) , ; = . - +
  End,
};

struct Token {
  TokenKind kind;
  std::string text;
  Position at;
};

// Thrown for a batch outside the language, numbered as the server numbers
// such errors: 102 syntax, 134 a variable declared twice, 137 undeclared.
struct SyntaxError {
  Position at;
  std::string message;
  int number = 102;
};

// Splits one batch into tokens, dropping white space and comments. Throws
// SyntaxError for an unterminated string or comment or a stray character.
std::vector<Token> tokenize(std::string_view batch, int first_line = 1);

}  // namespace varrow::host::sql
