#include "sql/functions.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <string>

#include "sql/datetime.h"
#include "sql/names.h"
#include "sql/operators.h"
#include "text/codepage.h"

namespace varrow::host::sql {
namespace {

using Args = std::vector<Value>;
constexpr SqlType INT_TYPE{BaseType::Int, 4, false};
constexpr SqlType SYSNAME{BaseType::NVarChar, 128, false};
constexpr std::uint32_t CONVERTED_LENGTH = 30;  // an INT or date taken as text

Value sysname(const std::string& utf8) {
  Value v = Value::nvarchar(utf8);
  v.type = SYSNAME;
  return v;
}

// The type a text function gives back for an argument of type `t`:
// variable-length text (or binary) of the same length.
SqlType text_type(const SqlType& t) {
  if (t.base == BaseType::Char) return SqlType{BaseType::VarChar, t.length, false};
  if (t.base == BaseType::NChar) return SqlType{BaseType::NVarChar, t.length, false};
  if (t.is_character() || t.base == BaseType::VarBinary) return t;
  return SqlType{BaseType::VarChar, CONVERTED_LENGTH, false};
}

// Text as the characters the server counts: bytes of VARCHAR and VARBINARY,
// UTF-16 units of NVARCHAR.
struct Units {
  SqlType type;
  std::vector<std::uint16_t> u;
};

Units units_of(const Value& v) {
  Units out{text_type(v.type), {}};
  const Value text = convert(v, out.type);
  const Bytes& b = *text.bytes;
  if (out.type.is_national()) {
    for (std::size_t i = 0; i + 1 < b.size(); i += 2)
      out.u.push_back(static_cast<std::uint16_t>(b[i] | b[i + 1] << 8));
  } else {
    out.u.assign(b.begin(), b.end());
  }
  return out;
}

// The units as a value of `type`, its length widened to hold them (up to
// the longest a non-MAX type holds, past which they are cut).
Value value_of(SqlType type, std::vector<std::uint16_t> units) {
  const bool national = type.is_national();
  const std::size_t limit = national ? MAX_DECLARED_BYTES / 2 : MAX_DECLARED_BYTES;
  if (!type.max && units.size() > limit) units.resize(limit);
  if (!type.max) {
    type.length =
        std::max<std::uint32_t>({type.length, static_cast<std::uint32_t>(units.size()), 1});
  }
  Bytes b;
  for (std::uint16_t c : units) {
    b.push_back(static_cast<std::uint8_t>(c));
    if (national) b.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  return Value{type, b};
}

// Letter case as the default collation folds it: ASCII and Latin-1 letters,
// which Windows-1252 and UTF-16 place alike.
std::uint16_t upper_unit(std::uint16_t c) {
  if ((c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) return c - 32;
  return c;
}
std::uint16_t lower_unit(std::uint16_t c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) return c + 32;
  return c;
}
bool same_unit(std::uint16_t a, std::uint16_t b) {
  return upper_unit(a) == upper_unit(b);
}

// Where `what` first occurs in `in` from `from` on, letter case ignored;
// npos for nowhere (and for an empty `what`).
std::size_t find_units(const std::vector<std::uint16_t>& in, const std::vector<std::uint16_t>& what,
                       std::size_t from) {
  if (what.empty() || what.size() > in.size()) return std::string::npos;
  for (std::size_t i = from; i + what.size() <= in.size(); ++i) {
    if (std::equal(what.begin(), what.end(), in.begin() + static_cast<std::ptrdiff_t>(i),
                   same_unit))
      return i;
  }
  return std::string::npos;
}

bool any_null(const Args& args) {
  return std::any_of(args.begin(), args.end(), [](const Value& v) { return !v.bytes; });
}

std::int32_t int_arg(const Value& v) {
  return convert(v, INT_TYPE).as_int();
}

[[noreturn]] void invalid_length(const char* function) {
  throw EvaluationError{
      536, std::string("Invalid length parameter passed to the ") + function + " function."};
}

Value null_text(const Args& args) {
  return Value::null_of(text_type(args[0].type));
}

// The functions' bodies, each given arguments in the number the table allows.

Value len(const Args& a, const SessionInfo&) {
  if (!a[0].bytes) return Value::null_of(INT_TYPE);
  Units t = units_of(a[0]);
  if (t.type.base != BaseType::VarBinary) {
    while (!t.u.empty() && t.u.back() == ' ')
      t.u.pop_back();  // trailing spaces do not count
  }
  return Value::integer(static_cast<std::int32_t>(t.u.size()));
}

Value datalength(const Args& a, const SessionInfo&) {
  if (!a[0].bytes) return Value::null_of(INT_TYPE);
  return Value::integer(static_cast<std::int32_t>(a[0].bytes->size()));
}

Value left_or_right(const Args& a, bool left) {
  if (any_null(a)) return null_text(a);
  const std::int32_t n = int_arg(a[1]);
  if (n < 0) invalid_length(left ? "left" : "right");
  Units t = units_of(a[0]);
  const std::size_t keep = std::min<std::size_t>(t.u.size(), static_cast<std::size_t>(n));
  if (left) {
    t.u.resize(keep);
  } else {
    t.u.erase(t.u.begin(), t.u.end() - static_cast<std::ptrdiff_t>(keep));
  }
  return value_of(t.type, t.u);
}
Value left(const Args& a, const SessionInfo&) {
  return left_or_right(a, true);
}
Value right(const Args& a, const SessionInfo&) {
  return left_or_right(a, false);
}

Value substring(const Args& a, const SessionInfo&) {
  if (any_null(a)) return null_text(a);
  const std::int64_t start = int_arg(a[1]);
  const std::int64_t length = int_arg(a[2]);
  if (length < 0) {
    throw EvaluationError{537, "Invalid length parameter passed to the substring function."};
  }
  Units t = units_of(a[0]);
  // Characters start..start+length-1, counted from 1, of those that exist.
  const std::int64_t from = std::max<std::int64_t>(start, 1);
  const std::int64_t to =
      std::min<std::int64_t>(start + length, static_cast<std::int64_t>(t.u.size()) + 1);
  std::vector<std::uint16_t> out;
  if (to > from) {
    out.assign(t.u.begin() + (from - 1), t.u.begin() + (to - 1));
  }
  return value_of(t.type, out);
}

Value charindex(const Args& a, const SessionInfo&) {
  if (any_null(a)) return Value::null_of(INT_TYPE);
  const Units what = units_of(a[0]);
  const Units in = units_of(a[1]);
  const std::int32_t start = a.size() > 2 ? int_arg(a[2]) : 1;
  const std::size_t from = start > 1 ? static_cast<std::size_t>(start - 1) : 0;
  const std::size_t at = find_units(in.u, what.u, from);
  return Value::integer(at == std::string::npos ? 0 : static_cast<std::int32_t>(at + 1));
}

Value reverse(const Args& a, const SessionInfo&) {
  if (!a[0].bytes) return null_text(a);
  Units t = units_of(a[0]);
  std::reverse(t.u.begin(), t.u.end());
  return value_of(t.type, t.u);
}

Value change_case(const Args& a, bool up) {
  if (!a[0].bytes) return null_text(a);
  Units t = units_of(a[0]);
  for (std::uint16_t& c : t.u)
    c = up ? upper_unit(c) : lower_unit(c);
  return value_of(t.type, t.u);
}
Value upper(const Args& a, const SessionInfo&) {
  return change_case(a, true);
}
Value lower(const Args& a, const SessionInfo&) {
  return change_case(a, false);
}

Value trim(const Args& a, bool leading, bool trailing) {
  if (!a[0].bytes) return null_text(a);
  Units t = units_of(a[0]);
  if (trailing) {
    while (!t.u.empty() && t.u.back() == ' ')
      t.u.pop_back();
  }
  if (leading) {
    const auto first =
        std::find_if(t.u.begin(), t.u.end(), [](std::uint16_t c) { return c != ' '; });
    t.u.erase(t.u.begin(), first);
  }
  return value_of(t.type, t.u);
}
Value ltrim(const Args& a, const SessionInfo&) {
  return trim(a, true, false);
}
Value rtrim(const Args& a, const SessionInfo&) {
  return trim(a, false, true);
}
Value trim_both(const Args& a, const SessionInfo&) {
  return trim(a, true, true);
}

// The type of a result built of several texts: national when any is.
SqlType text_of_all(const Args& a) {
  const bool national =
      std::any_of(a.begin(), a.end(), [](const Value& v) { return v.type.is_national(); });
  const bool max = std::any_of(a.begin(), a.end(), [](const Value& v) { return v.type.max; });
  return SqlType{national ? BaseType::NVarChar : BaseType::VarChar, 1, max};
}

Value replace(const Args& a, const SessionInfo&) {
  const SqlType type = text_of_all(a);
  if (any_null(a)) return Value::null_of(type);
  const Units in = units_of(convert(a[0], SqlType{type.base, 1, true}));
  const Units what = units_of(convert(a[1], SqlType{type.base, 1, true}));
  const Units with = units_of(convert(a[2], SqlType{type.base, 1, true}));
  std::vector<std::uint16_t> out;
  std::size_t at = 0;
  for (std::size_t found; (found = find_units(in.u, what.u, at)) != std::string::npos;
       at = found + what.u.size()) {
    out.insert(out.end(), in.u.begin() + static_cast<std::ptrdiff_t>(at),
               in.u.begin() + static_cast<std::ptrdiff_t>(found));
    out.insert(out.end(), with.u.begin(), with.u.end());
  }
  out.insert(out.end(), in.u.begin() + static_cast<std::ptrdiff_t>(at), in.u.end());
  return value_of(type, out);
}

Value replicate(const Args& a, const SessionInfo&) {
  if (any_null(a)) return null_text(a);
  const std::int32_t n = int_arg(a[1]);
  if (n < 0) return null_text(a);
  const Units t = units_of(a[0]);
  const std::size_t limit = t.type.is_national() ? MAX_DECLARED_BYTES / 2 : MAX_DECLARED_BYTES;
  std::vector<std::uint16_t> out;
  for (std::int32_t i = 0; i < n && (t.type.max || out.size() < limit) && !t.u.empty(); ++i) {
    if (out.size() + t.u.size() > MAX_DECLARED_BYTES * 1024) {
      throw EvaluationError{701, "There is insufficient system memory to run this query."};
    }
    out.insert(out.end(), t.u.begin(), t.u.end());
  }
  return value_of(t.type, out);
}

Value concat(const Args& a, const SessionInfo&) {
  const SqlType type = text_of_all(a);
  std::vector<std::uint16_t> out;
  for (const Value& v : a) {
    if (!v.bytes) continue;  // NULL counts as empty text
    const Units t = units_of(convert(v, SqlType{type.base, 1, true}));
    out.insert(out.end(), t.u.begin(), t.u.end());
  }
  return value_of(type, out);
}

Value stuff(const Args& a, const SessionInfo&) {
  const SqlType type = text_of_all({a[0], a[3]});
  if (!a[0].bytes || !a[1].bytes || !a[2].bytes) return Value::null_of(type);
  const Units in = units_of(convert(a[0], SqlType{type.base, 1, true}));
  const std::int64_t start = int_arg(a[1]);
  const std::int64_t length = int_arg(a[2]);
  const auto size = static_cast<std::int64_t>(in.u.size());
  if (start < 1 || start > size || length < 0) return Value::null_of(type);
  std::vector<std::uint16_t> out(in.u.begin(), in.u.begin() + (start - 1));
  if (a[3].bytes) {
    const Units with = units_of(convert(a[3], SqlType{type.base, 1, true}));
    out.insert(out.end(), with.u.begin(), with.u.end());
  }
  if (start - 1 + length < size)
    out.insert(out.end(), in.u.begin() + (start - 1 + length), in.u.end());
  return value_of(type, out);
}

Value space(const Args& a, const SessionInfo&) {
  const SqlType type{BaseType::VarChar, 1, false};
  if (!a[0].bytes || int_arg(a[0]) < 0) return Value::null_of(type);
  return value_of(
      type,
      std::vector<std::uint16_t>(
          std::min<std::size_t>(static_cast<std::size_t>(int_arg(a[0])), MAX_DECLARED_BYTES), ' '));
}

// STR(number [, length [, decimals]]) of the INT values the language has:
// right-aligned in `length` characters (10), all '*' when it does not fit.
Value str(const Args& a, const SessionInfo&) {
  const SqlType type{BaseType::VarChar, 10, false};
  if (any_null(a)) return Value::null_of(type);
  const std::int32_t width = a.size() > 1 ? int_arg(a[1]) : 10;
  const std::int32_t decimals = a.size() > 2 ? std::clamp(int_arg(a[2]), 0, 16) : 0;
  if (width < 1 || width > 8000) return Value::null_of(type);
  std::string text = std::to_string(int_arg(a[0]));
  if (decimals > 0 && static_cast<std::int32_t>(text.size()) + 1 + decimals <= width) {
    text.push_back('.');
    text.append(static_cast<std::size_t>(decimals), '0');
  }
  const auto w = static_cast<std::size_t>(width);
  if (text.size() > w) {
    text.assign(w, '*');
  } else {
    text.insert(0, w - text.size(), ' ');
  }
  return value_of(SqlType{BaseType::VarChar, static_cast<std::uint32_t>(w), false},
                  std::vector<std::uint16_t>(text.begin(), text.end()));
}

Value isnull(const Args& a, const SessionInfo&) {
  return a[0].bytes ? a[0] : convert(a[1], a[0].type);
}

// The login's name: as the client gave it, or the user running the process.
std::string login_name(const SessionInfo& s) {
  if (!s.login.empty()) return s.login;
  const char* user = getenv("USER");
  return user && *user ? user : "sa";
}

Value db_name(const Args& a, const SessionInfo&) {
  if (a.empty()) return sysname("master");
  if (!a[0].bytes) return Value::null_of(SYSNAME);
  static const char* const databases[] = {"master", "tempdb", "model", "msdb"};
  const std::int32_t id = int_arg(a[0]);
  return id >= 1 && id <= 4 ? sysname(databases[id - 1]) : Value::null_of(SYSNAME);
}

Value schema_name(const Args& a, const SessionInfo&) {
  if (a.empty()) return sysname("dbo");
  if (!a[0].bytes) return Value::null_of(SYSNAME);
  const std::int32_t id = int_arg(a[0]);
  return id == 1 ? sysname("dbo") : id == 4 ? sysname("sys") : Value::null_of(SYSNAME);
}

// A login is the owner of master's objects, its user there dbo.
Value user_name(const Args& a, const SessionInfo&) {
  if (!a.empty() && (!a[0].bytes || int_arg(a[0]) != 1)) return Value::null_of(SYSNAME);
  return sysname("dbo");
}
Value login(const Args&, const SessionInfo& s) {
  return sysname(login_name(s));
}
Value app_name(const Args&, const SessionInfo& s) {
  Value v = Value::nvarchar(s.app_name);
  v.type.length = 128;
  return v;
}
Value host_name(const Args&, const SessionInfo& s) {
  Value v = Value::nvarchar(s.host_name);
  v.type.length = 128;
  return v;
}

Value databasepropertyex(const Args& a, const SessionInfo&) {
  const SqlType type{BaseType::NVarChar, 128, false};
  if (any_null(a)) return Value::null_of(type);
  const std::string database = ascii_upper(text_of(convert(a[0], type)));
  const std::string property = ascii_upper(text_of(convert(a[1], type)));
  const bool known =
      database == "MASTER" || database == "TEMPDB" || database == "MODEL" || database == "MSDB";
  if (!known) return Value::null_of(type);
  if (property == "COLLATION") return Value::nvarchar("SQL_Latin1_General_CP1_CI_AS");
  if (property == "STATUS") return Value::nvarchar("ONLINE");
  if (property == "UPDATEABILITY") return Value::nvarchar("READ_WRITE");
  if (property == "USERACCESS") return Value::nvarchar("MULTI_USER");
  if (property == "RECOVERY") return Value::nvarchar("SIMPLE");
  return Value::null_of(type);
}

Value serverproperty(const Args& a, const SessionInfo& s) {
  if (!a[0].bytes) return Value::null_of(SYSNAME);
  return server_property(text_of(convert(a[0], SYSNAME)), s);
}

Value getdate(const Args&, const SessionInfo&) {
  return date_of(now_ticks(false), BaseType::DateTime);
}
Value getutcdate(const Args&, const SessionInfo&) {
  return date_of(now_ticks(true), BaseType::DateTime);
}
Value sysdatetime(const Args&, const SessionInfo&) {
  return date_of(now_ticks(false), BaseType::DateTime2);
}
Value sysutcdatetime(const Args&, const SessionInfo&) {
  return date_of(now_ticks(true), BaseType::DateTime2);
}

constexpr int MANY = 254;  // CONCAT's limit

constexpr Function FUNCTIONS[] = {
    {"APP_NAME", 0, 0, false, Returns::NVarChar, app_name},
    {"CHARINDEX", 2, 3, false, Returns::Int, charindex},
    {"CONCAT", 2, MANY, false, Returns::TextOfAll, concat},
    {"CURRENT_TIMESTAMP", 0, 0, true, Returns::DateTime, getdate},
    {"CURRENT_USER", 0, 0, true, Returns::NVarChar, user_name},
    {"DATABASEPROPERTYEX", 2, 2, false, Returns::NVarChar, databasepropertyex},
    {"DATALENGTH", 1, 1, false, Returns::Int, datalength},
    {"DB_NAME", 0, 1, false, Returns::NVarChar, db_name},
    {"GETDATE", 0, 0, false, Returns::DateTime, getdate},
    {"GETUTCDATE", 0, 0, false, Returns::DateTime, getutcdate},
    {"HOST_NAME", 0, 0, false, Returns::NVarChar, host_name},
    {"ISNULL", 2, 2, false, Returns::First, isnull},
    {"LEFT", 2, 2, false, Returns::TextOfFirst, left},
    {"LEN", 1, 1, false, Returns::Int, len},
    {"LOWER", 1, 1, false, Returns::TextOfFirst, lower},
    {"LTRIM", 1, 1, false, Returns::TextOfFirst, ltrim},
    {"ORIGINAL_LOGIN", 0, 0, false, Returns::NVarChar, login},
    {"REPLACE", 3, 3, false, Returns::TextOfAll, replace},
    {"REPLICATE", 2, 2, false, Returns::TextOfFirst, replicate},
    {"REVERSE", 1, 1, false, Returns::TextOfFirst, reverse},
    {"RIGHT", 2, 2, false, Returns::TextOfFirst, right},
    {"RTRIM", 1, 1, false, Returns::TextOfFirst, rtrim},
    {"SCHEMA_NAME", 0, 1, false, Returns::NVarChar, schema_name},
    {"SERVERPROPERTY", 1, 1, false, Returns::NVarChar, serverproperty},
    {"SESSION_USER", 0, 0, true, Returns::NVarChar, user_name},
    {"SPACE", 1, 1, false, Returns::VarChar, space},
    {"STR", 1, 3, false, Returns::VarChar, str},
    {"STUFF", 4, 4, false, Returns::TextOfAll, stuff},
    {"SUBSTRING", 3, 3, false, Returns::TextOfFirst, substring},
    {"SUSER_NAME", 0, 0, false, Returns::NVarChar, login},
    {"SUSER_SNAME", 0, 0, false, Returns::NVarChar, login},
    {"SYSDATETIME", 0, 0, false, Returns::DateTime2, sysdatetime},
    {"SYSTEM_USER", 0, 0, true, Returns::NVarChar, login},
    {"SYSUTCDATETIME", 0, 0, false, Returns::DateTime2, sysutcdatetime},
    {"TRIM", 1, 1, false, Returns::TextOfFirst, trim_both},
    {"UPPER", 1, 1, false, Returns::TextOfFirst, upper},
    {"USER_NAME", 0, 1, false, Returns::NVarChar, user_name},
};

}  // namespace

const Function* find_function(std::string_view name) {
  const std::string key = ascii_upper(name);
  for (const Function& f : FUNCTIONS) {
    if (key == f.name) return &f;
  }
  return nullptr;
}

std::optional<BaseType> result_base(Returns returns,
                                    const std::vector<std::optional<BaseType>>& args) {
  auto text = [](std::optional<BaseType> b) -> std::optional<BaseType> {
    if (!b) return std::nullopt;
    if (*b == BaseType::NChar || *b == BaseType::NVarChar) return BaseType::NVarChar;
    return *b == BaseType::VarBinary ? BaseType::VarBinary : BaseType::VarChar;
  };
  switch (returns) {
    case Returns::Int:
      return BaseType::Int;
    case Returns::NVarChar:
      return BaseType::NVarChar;
    case Returns::VarChar:
      return BaseType::VarChar;
    case Returns::DateTime:
      return BaseType::DateTime;
    case Returns::DateTime2:
      return BaseType::DateTime2;
    case Returns::TextOfFirst:
      return args.empty() ? std::nullopt : text(args[0]);
    case Returns::TextOfAll:
      for (const auto& b : args) {
        if (text(b) == BaseType::NVarChar) return BaseType::NVarChar;
      }
      return BaseType::VarChar;
    case Returns::First:
      return args.empty() ? std::nullopt : args[0] ? args[0] : args.back();
  }
  return std::nullopt;
}

std::int32_t microsoft_version(const ServerIdentity& identity) {
  // Major, minor and build in one INT: 11.0.0.0 is 11 << 24.
  unsigned major = 0, minor = 0, build = 0;
  std::sscanf(identity.product_version.c_str(), "%u.%u.%u", &major, &minor, &build);
  return static_cast<std::int32_t>((major & 0x7F) << 24 | (minor & 0xFF) << 16 | (build & 0xFFFF));
}

std::string machine_name() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "varrow";
  return name;
}

Value server_property(const std::string& property, const SessionInfo& session) {
  std::string name = ascii_upper(property);
  const std::string server = session.server_name.empty() ? machine_name() : session.server_name;
  const std::string& version = session.identity.product_version;
  const std::size_t major_end = version.find('.');
  if (name == "PRODUCTVERSION") return Value::nvarchar(version);
  if (name == "PRODUCTMAJORVERSION") return Value::nvarchar(version.substr(0, major_end));
  if (name == "PRODUCTMINORVERSION") {
    return Value::nvarchar(
        version.substr(major_end + 1, version.find('.', major_end + 1) - major_end - 1));
  }
  if (name == "PRODUCTLEVEL") return Value::nvarchar("RTM");
  if (name == "EDITION") return Value::nvarchar(session.identity.product);
  // 2: the Standard engine (neither Express, nor Azure, nor Enterprise).
  if (name == "ENGINEEDITION") return Value::integer(2);
  if (name == "SERVERNAME" || name == "MACHINENAME") return Value::nvarchar(server);
  if (name == "INSTANCENAME") return Value::null_of(SYSNAME);  // the default instance
  if (name == "COLLATION") return Value::nvarchar("SQL_Latin1_General_CP1_CI_AS");
  if (name == "ISINTEGRATEDSECURITYONLY" || name == "ISCLUSTERED" || name == "ISHADRENABLED" ||
      name == "ISFULLTEXTINSTALLED" || name == "ISSINGLEUSER") {
    return Value::integer(0);
  }
  // The server's answer to a property it does not know.
  return Value::null_of(SYSNAME);
}

}  // namespace varrow::host::sql
