#include "sql/parser.h"

#include <algorithm>
#include <cctype>
#include <initializer_list>
#include <limits>
#include <set>

#include "sql/catalog.h"
#include "sql/functions.h"
#include "sql/names.h"
#include "text/codepage.h"
#include "text/hex.h"

namespace varrow::host::sql {
namespace {

const std::set<std::string> STATEMENT_KEYWORDS = {"DECLARE", "SET", "EXEC",  "EXECUTE", "SELECT",
                                                  "PRINT",   "USE", "BEGIN", "COMMIT",  "ROLLBACK"};

// Largest declared lengths the server accepts.
constexpr std::uint32_t MAX_BYTES = MAX_DECLARED_BYTES;
constexpr std::uint32_t MAX_CHARACTERS = MAX_DECLARED_BYTES / 2;
// The length CAST and CONVERT give a character or binary type written
// without one.
constexpr std::uint32_t CONVERSION_DEFAULT_LENGTH = 30;

// The server values a batch may read (the runner gives each its value).
const std::set<std::string> SERVER_VALUES = {
    "@@VERSION",    "@@MAX_PRECISION", "@@SPID",     "@@TRANCOUNT",
    "@@SERVERNAME", "@@SERVICENAME",   "@@LANGUAGE", "@@MICROSOFTVERSION",
    "@@TEXTSIZE",   "@@LOCK_TIMEOUT",  "@@OPTIONS",  "@@ROWCOUNT",
    "@@ERROR",      "@@DATEFIRST"};

// Words that end an expression, and are never an alias or a column.
const std::set<std::string> RESERVED = {
    "AND",  "AS",    "BETWEEN", "BY",  "CASE", "ELSE",    "END",     "FROM",  "GROUP", "HAVING",
    "IN",   "IS",    "LIKE",    "NOT", "NULL", "ON",      "OR",      "ORDER", "THEN",  "UNION",
    "WHEN", "WHERE", "SELECT",  "SET", "EXEC", "EXECUTE", "DECLARE", "PRINT", "INTO"};

std::string describe(const Token& token) {
  switch (token.kind) {
    case TokenKind::End:
      return "end of batch";
    case TokenKind::String:
    case TokenKind::NString:
      return "a string";
    default:
      // Names are short; a number or binary literal may not be: a message
      // shows its start only.
      if (token.text.size() > 40) return "'" + std::string(token.text.substr(0, 40)) + "...'";
      return "'" + std::string(token.text) + "'";
  }
}

class Parser {
 public:
  Parser(std::string_view text, int first_line) : tokens_(tokenize(text, first_line)) {}

  std::vector<Statement> run(const std::vector<std::string>& declared) {
    for (const std::string& name : declared)
      declared_.insert(variable_key(name));
    std::vector<Statement> statements;
    bool first = true;
    for (;;) {
      while (is_punct(";"))
        next();
      if (peek().kind == TokenKind::End) break;
      if (statements.size() == MAX_STATEMENTS) {
        fail(peek(),
             "the batch holds more than " + std::to_string(MAX_STATEMENTS) +
                 " statements; split it into several batches",
             BATCH_TOO_LARGE);
      }
      statement(&statements, first);
      first = false;
      if (!is_punct(";") && peek().kind != TokenKind::End && !at_statement_start()) {
        fail(peek(), "expected ';' or a new statement, found " + describe(peek()));
      }
    }
    // Names are resolved once the whole batch is known to be well formed.
    if (unresolved_) throw *unresolved_;
    return statements;
  }

  std::vector<ParameterDeclaration> parameters() {
    std::vector<ParameterDeclaration> out;
    if (peek().kind == TokenKind::End) return out;
    for (;;) {
      const Token& name = peek();
      if (name.kind != TokenKind::Variable || name.text.rfind("@@", 0) == 0) {
        fail(name, "expected a parameter name, found " + describe(name));
      }
      if (out.size() == MAX_PARAMETERS) fail(name, TOO_MANY_PARAMETERS_TEXT, TOO_MANY_PARAMETERS);
      next();
      if (is_word("AS")) next();
      ParameterDeclaration p{std::string(name.text), type(1), false, name.at};
      if (!declared_.insert(variable_key(name.text)).second) {
        fail(name, "the variable name " + name.text + " has already been declared",
             VARIABLE_DECLARED_TWICE);
      }
      if (is_word("OUTPUT") || is_word("OUT")) {
        next();
        p.output = true;
      }
      out.push_back(std::move(p));
      if (peek().kind == TokenKind::End) return out;
      expect_punct(",");
    }
  }

 private:
  const Token& peek(std::size_t ahead = 0) const {
    return tokens_[std::min(pos_ + ahead, tokens_.size() - 1)];
  }
  const Token& next() {
    const Token& t = peek();
    if (pos_ < tokens_.size() - 1) ++pos_;
    return t;
  }
  bool is_word(std::string_view word, std::size_t ahead = 0) const {
    return peek(ahead).kind == TokenKind::Word && ascii_upper(peek(ahead).text) == word;
  }
  bool is_punct(std::string_view p) const {
    return peek().kind == TokenKind::Punctuation && peek().text == p;
  }
  bool at_statement_start() const {
    return peek().kind == TokenKind::Word &&
           STATEMENT_KEYWORDS.count(ascii_upper(peek().text)) != 0;
  }
  bool at_statement_end() const {
    return peek().kind == TokenKind::End || is_punct(";") || at_statement_start();
  }

  [[noreturn]] static void fail(const Token& at, std::string_view message,
                                int number = SYNTAX_ERROR) {
    throw SyntaxError{at.at, std::string(message), number};
  }
  void expect_punct(std::string_view p) {
    if (!is_punct(p)) fail(peek(), "expected '" + std::string(p) + "', found " + describe(peek()));
    next();
  }
  void expect_word(std::string_view word) {
    if (!is_word(word)) {
      fail(peek(), "expected " + std::string(word) + ", found " + describe(peek()));
    }
    next();
  }

  void statement(std::vector<Statement>* out, bool first_in_batch) {
    const Token& first = peek();
    if (first.kind != TokenKind::Word) {
      fail(first,
           "expected a statement (DECLARE, SET, EXEC, SELECT or PRINT), found " + describe(first));
    }
    const std::string keyword = ascii_upper(first.text);
    Statement s{first.at, Declare{}};
    if (first_in_batch && !at_statement_start()) {
      // As the server does, a batch may open with a procedure call without
      // EXEC: "sp_datatype_info_100 12,3".
      s.body = exec();
      out->push_back(std::move(s));
      return;
    }
    next();
    if (keyword == "DECLARE") {
      s.body = declare();
    } else if (keyword == "SET" && peek().kind == TokenKind::Variable) {
      s.body = set();
    } else if (keyword == "SET" && is_word("NOCOUNT") && (is_word("ON", 1) || is_word("OFF", 1))) {
      next();
      s.body = SessionOption{"NOCOUNT", is_word("ON")};
      next();
    } else if (keyword == "SET" && is_word("TRANSACTION") && is_word("ISOLATION", 1)) {
      s.body = isolation_level();
    } else if (keyword == "SET" || keyword == "USE") {
      session_statement(first);  // other session options: accepted, nothing to do
      return;
    } else if (keyword == "BEGIN" || keyword == "COMMIT" || keyword == "ROLLBACK") {
      transaction_statement(keyword);
      return;
    } else if (keyword == "EXEC" || keyword == "EXECUTE") {
      s.body = exec();
    } else if (keyword == "SELECT") {
      s.body = select();
    } else if (keyword == "PRINT") {
      s.body = Print{expression()};
    } else {
      fail(first, "unknown statement " + describe(first) +
                      "; expected DECLARE, SET, EXEC, SELECT or PRINT");
    }
    out->push_back(std::move(s));
  }

  // SET TRANSACTION ISOLATION LEVEL ...: the levels numbered as
  // sys.dm_exec_sessions shows them.
  SessionOption isolation_level() {
    next(), next();
    expect_word("LEVEL");
    static const std::pair<const char*, const char*> levels[] = {{"READ", "UNCOMMITTED"},
                                                                 {"READ", "COMMITTED"},
                                                                 {"REPEATABLE", "READ"},
                                                                 {"SERIALIZABLE", nullptr},
                                                                 {"SNAPSHOT", nullptr}};
    for (std::size_t i = 0; i < std::size(levels); ++i) {
      const auto [first, second] = levels[i];
      if (is_word(first) && (second == nullptr || is_word(second, 1))) {
        next();
        if (second != nullptr) next();
        return SessionOption{"ISOLATION", false, static_cast<std::int32_t>(i + 1)};
      }
    }
    fail(peek(), "expected an isolation level, found " + describe(peek()));
  }

  void session_statement(const Token& first) {
    if (at_statement_end()) fail(peek(), "expected an option after " + ascii_upper(first.text));
    while (!at_statement_end())
      next();
  }

  void transaction_statement(const std::string& keyword) {
    if (keyword == "BEGIN") {
      if (!is_word("TRAN") && !is_word("TRANSACTION")) {
        fail(peek(), "expected TRAN after BEGIN, found " + describe(peek()));
      }
      next();
    } else if (is_word("TRAN") || is_word("TRANSACTION") || is_word("WORK")) {
      next();
    }
    if (!at_statement_end() && peek().kind == TokenKind::Word) next();  // transaction name
  }

  Declare declare() {
    Declare d;
    do {
      if (!d.variables.empty()) next();  // the ','
      const Token& name = peek();
      if (name.kind != TokenKind::Variable || name.text.rfind("@@", 0) == 0) {
        fail(name, "expected a variable name, found " + describe(name));
      }
      next();
      if (is_word("AS")) next();
      Declaration decl{std::string(name.text), type(1), std::nullopt};
      if (!declared_.insert(variable_key(name.text)).second) {
        fail(name, "the variable name " + name.text + " has already been declared",
             VARIABLE_DECLARED_TWICE);
      }
      if (is_punct("=")) {
        next();
        decl.initial = expression();
      }
      d.variables.push_back(std::move(decl));
    } while (is_punct(","));
    return d;
  }

  // A type; `default_length` is the length of one written without: 1 in
  // declarations, 30 in CAST and CONVERT.
  SqlType type(std::uint32_t default_length) {
    const Token& name = peek();
    if (const auto alias = name.kind == TokenKind::Word ? type_alias(name.text) : std::nullopt) {
      next();
      return *alias;
    }
    const auto base = name.kind == TokenKind::Word ? base_type_named(name.text) : std::nullopt;
    if (!base) {
      fail(name, "expected a type (CHAR, VARCHAR, NCHAR, NVARCHAR, VARBINARY or INT), found " +
                     describe(name));
    }
    next();
    SqlType t{*base, default_length, false};
    if (*base == BaseType::DateTime2 && is_punct("(")) {
      // DATETIME2(n): a scale of 0 to 7; values keep all seven digits.
      next();
      if (peek().kind != TokenKind::Integer || peek().text.size() != 1 || peek().text[0] > '7') {
        fail(peek(), "expected a scale of 0 to 7, found " + describe(peek()));
      }
      next();
      expect_punct(")");
    }
    if (*base == BaseType::Int || t.is_date() || !is_punct("(")) return t;
    next();
    const bool national = *base == BaseType::NChar || *base == BaseType::NVarChar;
    const std::uint32_t limit = national ? MAX_CHARACTERS : MAX_BYTES;
    if (is_word("MAX") && *base != BaseType::Char && *base != BaseType::NChar) {
      next();
      t.max = true;
    } else {
      const Token& length = peek();
      if (length.kind != TokenKind::Integer) {
        fail(length, "expected a length or MAX, found " + describe(length));
      }
      const unsigned long value =
          length.text.size() > 9 ? limit + 1ul : std::stoul(std::string(length.text));
      if (value < 1 || value > limit) {
        fail(length, "the length of " + ascii_upper(name.text) + " must be 1 to " +
                         std::to_string(limit) +
                         (*base == BaseType::Char || national ? "" : " or MAX"));
      }
      t.length = static_cast<std::uint32_t>(value);
      next();
    }
    expect_punct(")");
    return t;
  }

  // Names the server gives to types of ours: SYSNAME, the old long types as
  // the MAX types that replace them, and the other integer types as INT
  // (drivers declare an integer they bind by its width, BIGINT for a 64-bit
  // value, BIT for a boolean; a value must still fit an INT).
  static std::optional<SqlType> type_alias(std::string_view name) {
    const std::string u = ascii_upper(name);
    if (u == "BIGINT" || u == "SMALLINT" || u == "TINYINT" || u == "BIT") {
      return SqlType{BaseType::Int, 4, false};
    }
    if (u == "SYSNAME") return SqlType{BaseType::NVarChar, 128, false};
    if (u == "TEXT") return SqlType{BaseType::VarChar, 1, true};
    if (u == "NTEXT") return SqlType{BaseType::NVarChar, 1, true};
    if (u == "IMAGE") return SqlType{BaseType::VarBinary, 1, true};
    return std::nullopt;
  }

  Set set() {
    const Token& name = variable_reference();
    expect_punct("=");
    return Set{std::string(name.text), expression()};
  }

  const Token& variable_reference() {
    const Token& name = peek();
    if (name.kind != TokenKind::Variable || name.text.rfind("@@", 0) == 0) {
      fail(name, "expected a variable, found " + describe(name));
    }
    if (!declared_.count(variable_key(name.text))) {
      fail(name, "must declare the scalar variable " + name.text, UNDECLARED_VARIABLE);
    }
    next();
    return name;
  }

  Exec exec() {
    Exec e;
    if (peek().kind == TokenKind::Variable && peek(1).kind == TokenKind::Punctuation &&
        peek(1).text == "=") {
      e.status_variable = variable_reference().text;
      next();
    }
    e.procedure = procedure_name();
    if (at_statement_end()) return e;
    bool named = false;
    do {
      if (!e.arguments.empty()) next();  // the ','
      Argument argument;
      if (peek().kind == TokenKind::Variable && peek(1).kind == TokenKind::Punctuation &&
          peek(1).text == "=") {
        // "@input = value": the procedure's parameter name, not a variable.
        argument.name = next().text;
        next();
        named = true;
      } else if (named) {
        fail(peek(),
             "must pass parameter number " + std::to_string(e.arguments.size() + 1) +
                 " and subsequent parameters as '@name = value'; after the form "
                 "'@name = value' has been used, all subsequent parameters must be "
                 "passed in that form",
             NAMED_THEN_POSITIONAL);
      }
      argument.value = expression();
      if (is_word("OUTPUT") || is_word("OUT")) {
        if (argument.value.kind != Expr::Kind::Variable) {
          fail(peek(), "only a variable can be passed as OUTPUT");
        }
        next();
        argument.output = true;
      }
      e.arguments.push_back(std::move(argument));
    } while (is_punct(","));
    return e;
  }

  // The name as written, qualifiers included ("master..xp_hexstr").
  std::string procedure_name() {
    std::string name;
    for (;;) {
      if (peek().kind == TokenKind::Word) {
        name += next().text;
      } else if (!is_punct(".")) {
        fail(peek(), "expected a procedure name, found " + describe(peek()));
      }
      if (!is_punct(".")) break;
      name += next().text;
    }
    return name;
  }

  Select select() {
    Select s;
    std::size_t assignments = 0;
    bool mixed = false;  // assignments and columns in one list
    const Token& start = peek();
    in_select_ = true;
    column_refs_.clear();
    do {
      if (!s.columns.empty()) next();  // the ','
      if (s.columns.size() == MAX_COLUMNS) {
        fail(peek(),
             "the number of elements in the select list exceeds the maximum allowed number of " +
                 std::to_string(MAX_COLUMNS) + " elements",
             TOO_MANY_COLUMNS);
      }
      Column column;
      if (peek().kind == TokenKind::Variable && peek(1).kind == TokenKind::Punctuation &&
          peek(1).text == "=") {
        // @v = value
        column.variable = variable_reference().text;
        next();
        column.value = expression();
        if (s.columns.size() != assignments++) mixed = true;
        s.columns.push_back(std::move(column));
        continue;
      }
      if ((peek().kind == TokenKind::String ||
           (peek().kind == TokenKind::Word && !is_reserved())) &&
          peek(1).kind == TokenKind::Punctuation && peek(1).text == "=") {
        // alias = value
        check_name_length(peek().text, peek().at);
        column.alias = next().text;
        next();
        column.value = expression();
        s.columns.push_back(std::move(column));
        continue;
      }
      column.value = expression();
      const bool as = is_word("AS");
      if (as) next();
      if (peek().kind == TokenKind::String ||
          (peek().kind == TokenKind::Word && (as || (!at_statement_start() && !is_reserved())))) {
        check_name_length(peek().text, peek().at);
        column.alias = next().text;
      } else if (as) {
        fail(peek(), "expected a column alias, found " + describe(peek()));
      }
      s.columns.push_back(std::move(column));
    } while (is_punct(","));
    const CatalogObject* object = nullptr;
    if (mixed || (assignments != 0 && assignments != s.columns.size())) {
      fail(start,
           "A SELECT statement that assigns a value to a variable must not be combined with "
           "data-retrieval operations.",
           ASSIGNMENT_WITH_RETRIEVAL);
    }
    if (is_word("FROM")) {
      next();
      s.from_at = peek().at;
      s.from = object_name();
      object = find_object(s.from);
      if (is_word("AS")) next();
      if (peek().kind == TokenKind::Word && !is_reserved() && !at_statement_start()) next();
    }
    if (is_word("WHERE")) {
      next();
      s.where = condition();
    }
    in_select_ = false;
    // Columns are looked up once the FROM is known; the columns of an object
    // the language does not serve are not, as that statement fails with 208.
    for (const auto& [name, at] : column_refs_) {
      if (!unresolved_ &&
          (s.from.empty() || (object != nullptr && column_index(*object, name) < 0))) {
        unresolved_ = SyntaxError{at, "Invalid column name '" + name + "'.", INVALID_COLUMN};
      }
    }
    return s;
  }

  // [database.][schema.]name, as written.
  std::string object_name() {
    std::string name;
    for (;;) {
      if (peek().kind == TokenKind::Word && !is_reserved()) {
        name += next().text;
      } else if (!is_punct(".")) {
        fail(peek(), "expected an object name, found " + describe(peek()));
      }
      if (!is_punct(".")) break;
      name += next().text;
    }
    return name;
  }

  bool is_reserved(std::size_t ahead = 0) const {
    return peek(ahead).kind == TokenKind::Word &&
           RESERVED.count(ascii_upper(peek(ahead).text)) != 0;
  }

  // An expression that is a value, not a condition.
  Expr expression() {
    Expr e = nested([&] { return disjunction(); });
    if (e.is_condition()) {
      fail_at(e.at, "incorrect syntax near '" + condition_word(e) +
                        "': a condition is not a value (write CASE WHEN ... THEN ... END)");
    }
    return e;
  }

  // An expression that is a condition: a comparison, IS NULL, AND, OR, NOT.
  Expr condition() {
    const Token& t = peek();
    Expr e = nested([&] { return disjunction(); });
    require_condition(e, t);
    return e;
  }

  static std::string condition_word(const Expr& e) {
    switch (e.kind) {
      case Expr::Kind::Compare:
        return e.op;
      case Expr::Kind::And:
        return "AND";
      case Expr::Kind::Or:
        return "OR";
      case Expr::Kind::Not:
        return "NOT";
      default:
        return "IS";
    }
  }

  void require_condition(const Expr& e, const Token& at) const {
    if (!e.is_condition()) {
      fail_at(at.at,
              "An expression of non-boolean type specified in a context where a condition is "
              "expected, near " +
                  describe(at) + ".",
              NOT_A_CONDITION);
    }
  }
  void require_value(const Expr& e) const {
    if (e.is_condition()) {
      fail_at(e.at, "incorrect syntax near '" + condition_word(e) + "'");
    }
  }

  template <typename Parse>
  Expr nested(Parse parse) {
    if (depth_ == MAX_NESTING) {
      fail(peek(),
           "some part of the statement is nested too deeply (more than " +
               std::to_string(MAX_NESTING) + " levels); rewrite it or break it up",
           NESTED_TOO_DEEPLY);
    }
    ++depth_;
    Expr e = parse();
    --depth_;
    return e;
  }

  [[noreturn]] static void fail_at(Position at, std::string_view message,
                                   int number = SYNTAX_ERROR) {
    throw SyntaxError{at, std::string(message), number};
  }

  // A node over `args`; its height is bounded so that evaluating it is.
  Expr node(Expr::Kind kind, Position at, std::vector<Expr> args, std::string op = "") {
    Expr e;
    e.kind = kind;
    e.at = at;
    e.op = std::move(op);
    for (const Expr& a : args)
      e.height = std::max(e.height, a.height + 1);
    if (e.height > MAX_EXPRESSION_HEIGHT) {
      fail_at(at,
              "the expression chains more than " + std::to_string(MAX_EXPRESSION_HEIGHT) +
                  " operators; break it up",
              NESTED_TOO_DEEPLY);
    }
    e.args = std::move(args);
    return e;
  }

  Expr disjunction() {
    Expr e = conjunction();
    while (is_word("OR")) {
      const Token& op = next();
      const Token& right_at = peek();
      Expr right = conjunction();
      require_condition(e, op);
      require_condition(right, right_at);
      e = node(Expr::Kind::Or, op.at, {std::move(e), std::move(right)});
    }
    return e;
  }

  Expr conjunction() {
    Expr e = negation();
    while (is_word("AND")) {
      const Token& op = next();
      const Token& right_at = peek();
      Expr right = negation();
      require_condition(e, op);
      require_condition(right, right_at);
      e = node(Expr::Kind::And, op.at, {std::move(e), std::move(right)});
    }
    return e;
  }

  Expr negation() {
    if (!is_word("NOT")) return predicate();
    const Token& op = next();
    const Token& inner_at = peek();
    Expr inner = nested([&] { return negation(); });
    require_condition(inner, inner_at);
    return node(Expr::Kind::Not, op.at, {std::move(inner)});
  }

  static std::optional<std::string> comparison_op(const Token& t) {
    if (t.kind != TokenKind::Punctuation) return std::nullopt;
    if (t.text == "=" || t.text == "<>" || t.text == "<" || t.text == ">" || t.text == "<=" ||
        t.text == ">=") {
      return std::string(t.text);
    }
    if (t.text == "!=") return "<>";
    if (t.text == "!<") return ">=";
    if (t.text == "!>") return "<=";
    return std::nullopt;
  }

  Expr predicate() {
    Expr left = additive();
    if (const auto op = comparison_op(peek())) {
      const Token& at = next();
      require_value(left);
      Expr right = additive();
      require_value(right);
      return node(Expr::Kind::Compare, at.at, {std::move(left), std::move(right)}, *op);
    }
    if (is_word("IS")) {
      const Token& at = next();
      require_value(left);
      const bool negated = is_word("NOT");
      if (negated) next();
      expect_word("NULL");
      Expr e = node(Expr::Kind::IsNull, at.at, {std::move(left)});
      e.negated = negated;
      return e;
    }
    const bool negated = is_word("NOT") && (is_word("BETWEEN", 1) || is_word("IN", 1));
    if (negated) next();
    if (is_word("BETWEEN")) {
      const Token& at = next();
      require_value(left);
      Expr low = additive();
      expect_word("AND");
      Expr high = additive();
      require_value(low);
      require_value(high);
      Expr e = node(Expr::Kind::And, at.at,
                    {node(Expr::Kind::Compare, at.at, {left, std::move(low)}, ">="),
                     node(Expr::Kind::Compare, at.at, {left, std::move(high)}, "<=")});
      return negated ? node(Expr::Kind::Not, at.at, {std::move(e)}) : e;
    }
    if (is_word("IN")) {
      const Token& at = next();
      require_value(left);
      expect_punct("(");
      Expr e;
      bool first = true;
      do {
        if (!first) next();  // the ','
        Expr compared = node(Expr::Kind::Compare, at.at, {left, expression()}, "=");
        e = first ? std::move(compared)
                  : node(Expr::Kind::Or, at.at, {std::move(e), std::move(compared)});
        first = false;
      } while (is_punct(","));
      expect_punct(")");
      return negated ? node(Expr::Kind::Not, at.at, {std::move(e)}) : e;
    }
    return left;
  }

  bool is_punct_in(std::initializer_list<std::string_view> ops) const {
    if (peek().kind != TokenKind::Punctuation) return false;
    for (std::string_view op : ops) {
      if (peek().text == op) return true;
    }
    return false;
  }

  Expr additive() {
    Expr e = term();
    while (is_punct_in({"+", "-", "&", "|", "^"})) {
      const Token& op = next();
      Expr right = term();
      require_value(e);
      require_value(right);
      e = node(Expr::Kind::Binary, op.at, {std::move(e), std::move(right)}, std::string(op.text));
    }
    return e;
  }

  Expr term() {
    Expr e = unary();
    while (is_punct_in({"*", "/", "%"})) {
      const Token& op = next();
      Expr right = unary();
      require_value(e);
      require_value(right);
      e = node(Expr::Kind::Binary, op.at, {std::move(e), std::move(right)}, std::string(op.text));
    }
    return e;
  }

  Expr unary() {
    if (!is_punct_in({"-", "+", "~"})) return primary();
    const Token& op = peek();
    if (op.text != "~" && peek(1).kind == TokenKind::Integer) {
      // A signed number is one literal, so that -2147483648 is an INT.
      Expr e;
      e.at = op.at;
      next();
      e.literal = Value::integer(integer(op.text == "-"));
      return e;
    }
    next();
    Expr inner = nested([&] { return unary(); });
    require_value(inner);
    return node(Expr::Kind::Unary, op.at, {std::move(inner)}, std::string(op.text));
  }

  Expr primary() {
    const Token& t = peek();
    Expr e;
    e.at = t.at;
    switch (t.kind) {
      case TokenKind::String: {
        const auto bytes = utf8_to_cp1252(t.text);
        if (!bytes) {
          fail(t, "the text cannot be held in VARCHAR (Windows-1252); write it as N'...'");
        }
        e.literal = Value{SqlType{BaseType::VarChar, literal_length(bytes->size()), false}, *bytes};
        next();
        return e;
      }
      case TokenKind::NString: {
        const auto bytes = utf8_to_utf16le(t.text);
        if (!bytes) fail(t, "the text is not valid UTF-8");
        e.literal =
            Value{SqlType{BaseType::NVarChar, literal_length(bytes->size() / 2), false}, *bytes};
        next();
        return e;
      }
      case TokenKind::Binary: {
        // The lexer took only digits; an odd count has a leading zero implied.
        const Bytes bytes = *hex_bytes(t.text.size() % 2 ? "0" + t.text : t.text);
        e.literal = Value{SqlType{BaseType::VarBinary, literal_length(bytes.size()), false}, bytes};
        next();
        return e;
      }
      case TokenKind::Integer:
        e.literal = Value::integer(integer(false));
        return e;
      case TokenKind::Variable:
        if (t.text.rfind("@@", 0) == 0) {
          e.kind = Expr::Kind::Global;
          e.variable = ascii_upper(t.text);
          if (!SERVER_VALUES.count(e.variable)) {
            fail(t, "must declare the scalar variable " + t.text, UNDECLARED_VARIABLE);
          }
          next();
          return e;
        }
        e.kind = Expr::Kind::Variable;
        e.variable = variable_reference().text;
        return e;
      case TokenKind::Punctuation:
        if (t.text == "(") {
          next();
          Expr inner = nested([&] { return disjunction(); });
          expect_punct(")");
          return inner;
        }
        break;
      case TokenKind::Word:
        return word_expression();
      case TokenKind::End:
        break;
    }
    fail(t, "expected a value (a literal, NULL or a variable), found " + describe(t));
  }

  // What a word starts: NULL, CAST, CASE, a function or a column.
  Expr word_expression() {
    const Token& t = peek();
    const std::string word = ascii_upper(t.text);
    Expr e;
    e.at = t.at;
    const bool call = peek(1).kind == TokenKind::Punctuation && peek(1).text == "(";
    if (word == "NULL") {
      next();
      e.literal = Value::null_of(SqlType{BaseType::Int, 4, false});
      e.null_literal = true;
      return e;
    }
    if (word == "CAST" || word == "CONVERT") return conversion();
    if (word == "CASE") return case_expression();
    if (call && (word == "IIF" || word == "COALESCE" || word == "NULLIF")) {
      return conditional_function(word);
    }
    if (const Function* f = find_function(word); f != nullptr && (call != f->niladic)) {
      next();
      std::vector<Expr> args;
      if (call) {
        next();
        if (!is_punct(")")) args = expression_list();
        expect_punct(")");
      }
      check_arguments(t, f->min_args, f->max_args, args.size());
      e = node(Expr::Kind::Function, t.at, std::move(args));
      e.variable = f->name;
      return e;
    }
    if (call) {
      throw SyntaxError{t.at,
                        "'" + std::string(t.text) + "' is not a recognized built-in function name.",
                        UNKNOWN_FUNCTION};
    }
    if (is_reserved())
      fail(t, "expected a value (a literal, NULL or a variable), found " + describe(t));
    // A column, [object.]name.
    e.kind = Expr::Kind::Column;
    e.variable = next().text;
    while (is_punct(".") && peek(1).kind == TokenKind::Word) {
      next();
      e.variable = next().text;
    }
    if (in_select_) {
      column_refs_.emplace_back(e.variable, e.at);
    } else if (!unresolved_) {
      unresolved_ = SyntaxError{e.at, "Invalid column name '" + e.variable + "'.", INVALID_COLUMN};
    }
    return e;
  }

  std::vector<Expr> expression_list() {
    std::vector<Expr> list;
    list.push_back(expression());
    while (is_punct(",")) {
      next();
      list.push_back(expression());
    }
    return list;
  }

  static void check_arguments(const Token& name, int min, int max, std::size_t given) {
    if (given >= static_cast<std::size_t>(min) && given <= static_cast<std::size_t>(max)) return;
    const std::string lower = ascii_lower(name.text);
    if (min == max) {
      throw SyntaxError{
          name.at, "The " + lower + " function requires " + std::to_string(min) + " argument(s).",
          WRONG_ARGUMENT_COUNT};
    }
    throw SyntaxError{name.at,
                      "The " + lower + " function requires " + std::to_string(min) + " to " +
                          std::to_string(max) + " arguments.",
                      WRONG_ARGUMENT_RANGE};
  }

  // CASE [input] WHEN ... THEN ... [ELSE ...] END
  Expr case_expression() {
    const Token& start = next();
    std::vector<Expr> args;
    const bool has_input = !is_word("WHEN");
    if (has_input) args.push_back(expression());
    if (!is_word("WHEN")) fail(peek(), "expected WHEN, found " + describe(peek()));
    while (is_word("WHEN")) {
      next();
      args.push_back(has_input ? expression() : condition());
      expect_word("THEN");
      args.push_back(expression());
    }
    const bool has_else = is_word("ELSE");
    if (has_else) {
      next();
      args.push_back(expression());
    }
    expect_word("END");
    Expr e = node(Expr::Kind::Case, start.at, std::move(args));
    e.has_input = has_input;
    e.has_else = has_else;
    return e;
  }

  // IIF, COALESCE and NULLIF, which are CASE written short.
  Expr conditional_function(const std::string& word) {
    const Token& name = next();
    expect_punct("(");
    std::vector<Expr> args;
    if (word == "IIF") {
      args.push_back(condition());
      expect_punct(",");
      args.push_back(expression());
      expect_punct(",");
      args.push_back(expression());
    } else {
      args = expression_list();
    }
    expect_punct(")");
    if (word == "COALESCE" && args.size() < 2) {
      throw SyntaxError{name.at, "The coalesce function requires 2 or more arguments.",
                        WRONG_ARGUMENT_RANGE};
    }
    if (word == "NULLIF") check_arguments(name, 2, 2, args.size());
    std::vector<Expr> branches;
    if (word == "IIF") {
      branches = std::move(args);
    } else if (word == "NULLIF") {
      // CASE WHEN a = b THEN NULL ELSE a END
      Expr null;
      null.literal = Value::null_of(SqlType{BaseType::Int, 4, false});
      null.null_literal = true;
      branches.push_back(node(Expr::Kind::Compare, name.at, {args[0], args[1]}, "="));
      branches.push_back(std::move(null));
      branches.push_back(std::move(args[0]));
    } else {
      // CASE WHEN a IS NOT NULL THEN a ... ELSE last END
      for (std::size_t i = 0; i + 1 < args.size(); ++i) {
        Expr is_set = node(Expr::Kind::IsNull, args[i].at, {args[i]});
        is_set.negated = true;
        branches.push_back(std::move(is_set));
        branches.push_back(std::move(args[i]));
      }
      branches.push_back(std::move(args.back()));
    }
    Expr e = node(Expr::Kind::Case, name.at, std::move(branches));
    e.has_else = true;
    return e;
  }

  static std::uint32_t literal_length(std::size_t n) {
    return n == 0 ? 1 : static_cast<std::uint32_t>(n);
  }

  std::int32_t integer(bool negative) {
    const Token& t = next();
    const long long limit = negative ? 2147483648LL : 2147483647LL;
    const long long value = t.text.size() > 10 ? limit + 1 : std::stoll(std::string(t.text));
    if (value > limit) fail(t, "the number " + t.text + " is outside the range of INT");
    return static_cast<std::int32_t>(negative ? -value : value);
  }

  Expr conversion() {
    const bool cast = is_word("CAST");
    Expr e;
    e.kind = Expr::Kind::Convert;
    e.at = next().at;
    expect_punct("(");
    if (cast) {
      e.args.push_back(expression());
      expect_word("AS");
      e.target = type(CONVERSION_DEFAULT_LENGTH);
    } else {
      e.target = type(CONVERSION_DEFAULT_LENGTH);
      expect_punct(",");
      e.args.push_back(expression());
      if (is_punct(",")) {
        next();
        if (peek().kind != TokenKind::Integer) {
          fail(peek(), "expected a style number, found " + describe(peek()));
        }
        e.style = integer(false);
      }
    }
    expect_punct(")");
    e.height = e.args[0].height + 1;
    return e;
  }

  Tokens tokens_;
  std::size_t pos_ = 0;
  std::set<std::string> declared_;
  int depth_ = 0;  // expressions being parsed, one inside another
  bool in_select_ = false;
  std::optional<SyntaxError> unresolved_;                      // the first column no FROM has
  std::vector<std::pair<std::string, Position>> column_refs_;  // of the SELECT being parsed
};

}  // namespace

std::optional<int> go_count(std::string_view line) {
  const auto begin = line.find_first_not_of(" \t\r");
  const auto end = line.find_last_not_of(" \t\r;");
  if (begin == std::string_view::npos || end == std::string_view::npos) return std::nullopt;
  const std::string word = ascii_upper(line.substr(begin, end - begin + 1));
  if (word == "GO") return 1;
  // "GO n" runs the batch n times.
  if (word.rfind("GO", 0) != 0 || (word[2] != ' ' && word[2] != '\t')) return std::nullopt;
  const std::string count = word.substr(word.find_first_not_of(" \t", 2));
  if (count.empty() || count.size() > 9 ||
      count.find_first_not_of("0123456789") != std::string::npos)
    return std::nullopt;
  const int n = std::stoi(count);
  return n > 0 ? std::optional(n) : std::nullopt;
}

Batches split_batches(std::string_view script) {
  Batches batches;
  BatchText current;
  int line_number = 1;
  std::size_t start = 0;
  while (start <= script.size()) {
    auto end = script.find('\n', start);
    if (end == std::string_view::npos) end = script.size();
    const std::string_view line = script.substr(start, end - start);
    if (const std::optional<int> count = go_count(line)) {
      if (current.text.find_first_not_of(" \t\r\n") != std::string::npos) {
        current.repeat = *count;
        batches.push_back(std::move(current));
      }
      current = BatchText{"", line_number + 1};
    } else {
      current.text.append(line);
      current.text += '\n';
    }
    ++line_number;
    start = end + 1;
  }
  if (current.text.find_first_not_of(" \t\r\n") != std::string::npos) {
    batches.push_back(std::move(current));
  }
  return batches;
}

std::vector<Statement> parse_batch(const BatchText& batch,
                                   const std::vector<std::string>& declared) {
  return Parser(batch.text, batch.first_line).run(declared);
}

std::vector<ParameterDeclaration> parse_parameter_declarations(std::string_view text) {
  return Parser(text, 1).parameters();
}

std::string variable_key(std::string_view name) {
  return ascii_lower(name);
}

}  // namespace varrow::host::sql
