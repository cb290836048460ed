#include "sql/lexer.h"

#include <algorithm>
#include <cctype>

namespace varrow::host::sql {
namespace {

bool is_word_start(char c) {
  return std::isalpha(static_cast<unsigned char>(c)) || c == '_' || c == '#' ||
         static_cast<unsigned char>(c) >= 0x80;
}

bool is_word_char(char c) {
  return is_word_start(c) || std::isdigit(static_cast<unsigned char>(c)) || c == '$' || c == '@';
}

class Lexer {
 public:
  Lexer(std::string_view text, int first_line) : text_(text) { at_.line = first_line; }

  Tokens run() {
    Tokens tokens;
    while (skip_space_and_comments()) {
      if (tokens.size() == MAX_TOKENS) {
        throw SyntaxError{at_,
                          "the batch holds more than " + std::to_string(MAX_TOKENS) +
                              " tokens; split it into several batches",
                          BATCH_TOO_LARGE};
      }
      tokens.push_back(next());
      const Token& token = tokens.back();
      if (token.kind == TokenKind::Word || token.kind == TokenKind::Variable) {
        check_name_length(token.text, token.at);
      }
    }
    tokens.push_back(Token{TokenKind::End, "", at_});
    return tokens;
  }

 private:
  char peek(std::size_t ahead = 0) const {
    return pos_ + ahead < text_.size() ? text_[pos_ + ahead] : '\0';
  }
  bool done() const { return pos_ >= text_.size(); }

  void advance() {
    if (text_[pos_] == '\n') {
      ++at_.line;
      at_.column = 1;
    } else if ((static_cast<unsigned char>(text_[pos_]) & 0xC0) != 0x80) {
      ++at_.column;  // columns count characters, not UTF-8 continuation bytes
    }
    ++pos_;
  }

  // False at the end of the text.
  bool skip_space_and_comments() {
    while (!done()) {
      if (std::isspace(static_cast<unsigned char>(peek()))) {
        advance();
      } else if (peek() == '-' && peek(1) == '-') {
        while (!done() && peek() != '\n')
          advance();
      } else if (peek() == '/' && peek(1) == '*') {
        const Position start = at_;
        advance(), advance();
        while (!(peek() == '*' && peek(1) == '/')) {
          if (done()) throw SyntaxError{start, "unterminated /* comment"};
          advance();
        }
        advance(), advance();
      } else {
        return true;
      }
    }
    return false;
  }

  Token next() {
    const Position start = at_;
    const char c = peek();
    if ((c == 'N' || c == 'n') && peek(1) == '\'') {
      advance();
      return Token{TokenKind::NString, quoted('\'', start), start};
    }
    if (c == '\'') return Token{TokenKind::String, quoted('\'', start), start};
    if (c == '[') return Token{TokenKind::Word, quoted(']', start), start};
    if (c == '"') return Token{TokenKind::Word, quoted('"', start), start};
    if (c == '0' && (peek(1) == 'x' || peek(1) == 'X')) {
      advance(), advance();
      SecretString digits;
      while (std::isxdigit(static_cast<unsigned char>(peek())))
        digits += peek(), advance();
      if (is_word_char(peek())) throw SyntaxError{at_, "invalid character in binary literal"};
      return Token{TokenKind::Binary, digits, start};
    }
    if (std::isdigit(static_cast<unsigned char>(c))) {
      SecretString digits;
      while (std::isdigit(static_cast<unsigned char>(peek())))
        digits += peek(), advance();
      if (is_word_char(peek())) throw SyntaxError{at_, "invalid character in number"};
      return Token{TokenKind::Integer, digits, start};
    }
    if (c == '@') {
      SecretString name(1, c);
      advance();
      while (is_word_char(peek()))
        name += peek(), advance();
      if (name.size() == 1) throw SyntaxError{start, "'@' must begin a variable name"};
      return Token{TokenKind::Variable, name, start};
    }
    if (is_word_start(c)) {
      SecretString word;
      while (is_word_char(peek()))
        word += peek(), advance();
      return Token{TokenKind::Word, word, start};
    }
    // The comparisons of two characters: <= >= <> != !< !>.
    const char c2 = peek(1);
    if (((c == '<' || c == '>' || c == '!') && c2 == '=') || (c == '<' && c2 == '>') ||
        (c == '!' && (c2 == '<' || c2 == '>'))) {
      advance(), advance();
      return Token{TokenKind::Punctuation, SecretString{c, c2}, start};
    }
    if (std::string_view("(),;=.-+*/%<>&|^~").find(c) != std::string_view::npos) {
      advance();
      return Token{TokenKind::Punctuation, SecretString(1, c), start};
    }
    throw SyntaxError{start, std::string("unexpected character '") + c + "'"};
  }

  // Text after the opening quote up to `close`, a doubled `close` standing
  // for itself.
  SecretString quoted(char close, Position start) {
    advance();
    SecretString text;
    for (;;) {
      if (done()) throw SyntaxError{start, "unterminated quoted text"};
      if (peek() == close) {
        if (peek(1) != close) break;
        advance();
      }
      text += peek();
      advance();
    }
    advance();
    return text;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  Position at_;
};

}  // namespace

Tokens tokenize(std::string_view batch, int first_line) {
  return Lexer(batch, first_line).run();
}

std::size_t utf16_length(std::string_view utf8) {
  std::size_t units = 0;
  for (char c : utf8) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte & 0xC0) != 0x80) ++units;  // one per character start
    if (byte >= 0xF0) ++units;           // a four-byte character takes a surrogate pair
  }
  return units;
}

void check_name_length(std::string_view name, Position at) {
  if (utf16_length(name) <= MAX_NAME_LENGTH) return;
  std::size_t cut = std::min<std::size_t>(name.size(), 20);
  while (cut < name.size() && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
    ++cut;  // never split a character
  const std::string start(name.substr(0, cut));
  throw SyntaxError{at,
                    "the identifier that starts with '" + start +
                        "' is too long; the maximum length is " + std::to_string(MAX_NAME_LENGTH),
                    NAME_TOO_LONG};
}

}  // namespace varrow::host::sql
