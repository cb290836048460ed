// varrow: runs batches that call the procedures, the way SQL code calls them,
// against the procedure library loaded in-process.
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli/console_output.h"
#include "ods/library.h"
#include "ods/wipe.h"
#include "sql/runner.h"
#include "text/codepage.h"
#include "varrow_version.h"

#ifdef VARROW_HAVE_LIBEDIT
#include <editline/readline.h>
#endif

namespace {

using varrow::host::SecretString;
using varrow::host::sql::BatchStatus;

constexpr const char* HELP =
    R"(Usage: varrow [-Q batch | -i file,...] [-o file] [-h n] [-s sep] [-W] [-L lib]
Runs batches that call the Varrow procedures in-process, as SQL Server would;
it connects to no server (call varrowd with a client such as tsql). Without -Q
or -i it reads standard input: at a terminal a prompt with line editing and
history, where GO (GO n: n times) runs the batch and EXIT or Ctrl-D leaves.
  -Q batch  run the batch and exit     -i files  run the files (16 MiB each; a
  -o file   results into the file                byte-order mark: UTF-8, UTF-16)
  -h n      headers every n rows; -1 none     -s sep  column separator
  -W        no column padding          -L path   library (default: libvarrow.so
  -b        accepted: a failure always           beside varrow, else installed)
            makes the exit status 1    -?, --help, --version
Language: DECLARE @v TYPE[(n|MAX)] [= value], ... (CHAR VARCHAR NCHAR NVARCHAR
  VARBINARY INT DATETIME DATETIME2); SET @v = value; EXEC [@rc =] proc arg, ...
  ('text', N'text', 0x0F, 1, NULL, @v [OUTPUT], @param = arg: in order written);
  SELECT value [AS name] | name = value | @v = value, ... [FROM sys.dm_exec_
  sessions] [WHERE cond]; PRINT value; values as SQL Server's: + - * / % & | ^ ~
  = <> < > AND OR NOT IS NULL BETWEEN IN CASE IIF ISNULL COALESCE NULLIF CAST
  CONVERT, string, session, date functions, @@VERSION ...; SET NOCOUNT, SET
  TRANSACTION ISOLATION LEVEL; other SET, BEGIN TRAN: ignored; sp_datatype_info,
  sp_tables ...; -- /* */. No tables, INSERT, ORDER BY, LIKE, FLOAT. Limits: 64
  nested expressions, 1024 chained operators, 4096 columns.
Procedures: xp_AES_Encrypt, xp_AES_Decrypt (input, key, OUTPUT; key: 32/48/64
  hex digits as VARCHAR, 'keyfile=PATH' or NULL: built-in), xp_MD5_Encrypt,
  xp_SHA1_Encrypt, xp_hexstr (input, OUTPUT); input any character type.
Exit status: 1 if a statement failed or a procedure returned non-zero, else 0.
)";

// A script is read whole before it runs; a bound keeps a file that never ends
// (/dev/zero, a pipe left open) from taking all memory.
constexpr std::size_t MAX_SCRIPT_BYTES = std::size_t{16} << 20;

enum class ReadResult { Ok, TooLarge, Failed };

// ": " and the system's reason for the last failure, when it gave one.
std::string reason() {
  return errno == 0 ? "" : std::string(": ") + std::strerror(errno);
}

ReadResult read_script(std::istream& in, SecretString& script) {
  script.clear();
  errno = 0;
  char chunk[65536];
  for (;;) {
    in.read(chunk, sizeof chunk);
    const auto got = static_cast<std::size_t>(in.gcount());
    if (got == 0) break;
    if (got > MAX_SCRIPT_BYTES - script.size()) return ReadResult::TooLarge;
    script.append(chunk, got);
  }
  return in.bad() ? ReadResult::Failed : ReadResult::Ok;
}

// Reads a script and reports why it cannot run; `source` names it.
bool read_script_or_report(std::istream& in, const std::string& source, SecretString& script) {
  switch (read_script(in, script)) {
    case ReadResult::Ok:
      return true;
    case ReadResult::TooLarge:
      std::cerr << "varrow: " << source << " is larger than a script may be (16 MiB)\n";
      return false;
    case ReadResult::Failed:
      std::cerr << "varrow: cannot read " << source << reason() << '\n';
      return false;
  }
  return false;
}

// Scripts saved by Windows editors: a UTF-8 byte-order mark is dropped, and
// UTF-16 (little- or big-endian) with one becomes the UTF-8 the parser reads.
void decode_script(SecretString& script) {
  const auto starts = [&](const char* mark) { return script.rfind(mark, 0) == 0; };
  if (starts("\xEF\xBB\xBF")) {
    script.erase(0, 3);
  } else if (starts("\xFF\xFE") || starts("\xFE\xFF")) {
    varrow::host::Bytes units(script.begin() + 2, script.end());
    if (script[0] == '\xFE') {
      for (std::size_t i = 0; i + 1 < units.size(); i += 2)
        std::swap(units[i], units[i + 1]);
    }
    script = varrow::host::utf16le_to_utf8(units);
  }
}

struct Options {
  std::string query;
  bool has_query = false;
  std::vector<std::string> files;
  std::string library;
  std::string output;  // empty: standard output
  varrow::host::ConsoleStyle style;
};

// A command line that cannot be read: an option without its value.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

int usage_error(const std::string& message) {
  std::cerr << "varrow: " << message << "\nTry 'varrow --help'.\n";
  return 1;
}

// One line typed at the prompt; false at the end of input. With libedit the
// line can be edited and earlier lines recalled; the history stays in memory
// (a file would keep the keys typed into batches).
bool prompt_line(const std::string& prompt, SecretString& line) {
#ifdef VARROW_HAVE_LIBEDIT
  char* typed = readline(prompt.c_str());
  if (typed == nullptr) return false;
  line = typed;
  varrow::host::wipe(typed, std::strlen(typed));
  std::free(typed);
  if (!line.empty()) add_history(line.c_str());
  return true;
#else
  std::cout << prompt << std::flush;
  return static_cast<bool>(std::getline(std::cin, line));
#endif
}

// Reads batches at a prompt, running each at GO, until EXIT or end of input.
bool interactive(varrow::host::sql::Runner& runner) {
  bool ok = true;
  SecretString batch;
  int line_number = 1;
  SecretString line;
  while (prompt_line(std::to_string(line_number) + "> ", line)) {
    SecretString word = line;
    word.erase(0, word.find_first_not_of(" \t"));
    word.erase(word.find_last_not_of(" \t\r;") + 1);
    for (char& c : word)
      c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (word == "EXIT" || word == "QUIT") break;
    if (const std::optional<int> count = varrow::host::sql::go_count(line)) {
      for (int i = 0; i < *count; ++i)
        ok = runner.run_batch({batch, 1}) == BatchStatus::Succeeded && ok;
      batch.clear();
      line_number = 1;
      continue;
    }
    if (line.size() >= MAX_SCRIPT_BYTES - batch.size()) {
      std::cerr << "varrow: the batch is larger than a script may be (16 MiB); it is dropped\n";
      ok = false;
      batch.clear();
      line_number = 1;
      continue;
    }
    batch += line + "\n";
    ++line_number;
  }
  if (batch.find_first_not_of(" \t\r\n") != std::string::npos) {
    ok = runner.run_batch({batch, 1}) == BatchStatus::Succeeded && ok;
  }
  std::cout << '\n';
  return ok;
}

// The procedures a library must export; empty when it has them all.
std::string missing_procedures(const varrow::host::Library& library) {
  std::string missing;
  for (std::string_view name : varrow::host::PROCEDURE_NAMES) {
    if (library.find(std::string(name)) == nullptr) {
      missing += (missing.empty() ? "" : ", ") + std::string(name);
    }
  }
  return missing;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](const char* what) -> std::string {
      if (i + 1 >= argc) throw UsageError("option " + arg + " needs " + what);
      return argv[++i];
    };
    try {
      if (arg == "--help" || arg == "-?") {
        std::cout << HELP;
        return 0;
      } else if (arg == "--version") {
        std::cout << "varrow " << varrow::VERSION << '\n';
        return 0;
      } else if (arg == "-h") {
        const std::string n = value("a number of rows");
        char* end = nullptr;
        const long rows = std::strtol(n.c_str(), &end, 10);
        if (n.empty() || *end != '\0' || rows < -1 || rows > 2147483647) {
          return usage_error("-h takes -1 (no headers) or a number of rows");
        }
        options.style.headers = static_cast<int>(rows);
      } else if (arg == "-o") {
        options.output = value("a file name");
      } else if (arg == "-b") {
        // sqlcmd's "fail on error": a failure already sets the exit status.
      } else if (arg == "-Q" || arg == "-q") {
        options.query = value("a batch");
        options.has_query = true;
      } else if (arg == "-i") {
        std::stringstream list(value("a file name"));
        for (std::string file; std::getline(list, file, ',');)
          options.files.push_back(file);
      } else if (arg == "-L") {
        options.library = value("a library path");
      } else if (arg == "-s") {
        options.style.separator = value("a separator");
      } else if (arg == "-W") {
        options.style.trim = true;
      } else {
        return usage_error("unknown argument " + arg);
      }
    } catch (const UsageError& e) {
      return usage_error(e.what());
    }
  }
  if (options.has_query && !options.files.empty()) return usage_error("use -Q or -i, not both");

  try {
    const std::string path =
        options.library.empty() ? varrow::host::default_library_path() : options.library;
    const varrow::host::Library library(path);
    if (const std::string missing = missing_procedures(library); !missing.empty()) {
      std::cerr << "varrow: " << path << " is not the Varrow procedure library: it lacks "
                << missing << '\n';
      return 1;
    }
    std::ofstream out_file;
    if (!options.output.empty()) {
      errno = 0;
      out_file.open(options.output, std::ios::binary | std::ios::trunc);
      if (!out_file) {
        std::cerr << "varrow: cannot write " << options.output << reason() << '\n';
        return 1;
      }
    }
    std::ostream& out = options.output.empty() ? std::cout : out_file;
    varrow::host::ConsoleOutput output(out, options.style);
    // The same version as varrowd's, so that a script asking for it runs
    // the same in both.
    const varrow::host::sql::ServerIdentity identity{
        "11.0.0.0", "Varrow varrow",
        std::string("Varrow ") + varrow::VERSION +
            " extended procedures (AES, MD5, SHA-1, hex), run in-process; not Microsoft SQL "
            "Server"};
    varrow::host::sql::Runner runner(library, output, {1, "", identity});

    bool ok = true;
    if (options.has_query) {
      ok = runner.run_script(options.query) == BatchStatus::Succeeded;
    } else if (!options.files.empty()) {
      for (const std::string& file : options.files) {
        errno = 0;
        std::ifstream in(file, std::ios::binary);
        if (!in) {
          std::cerr << "varrow: cannot open " << file << reason() << '\n';
          return 1;
        }
        SecretString script;
        if (!read_script_or_report(in, file, script)) return 1;
        decode_script(script);
        ok = runner.run_script(script) == BatchStatus::Succeeded && ok;
      }
    } else if (isatty(STDIN_FILENO)) {
      ok = interactive(runner);
    } else {
      SecretString script;
      if (!read_script_or_report(std::cin, "standard input", script)) return 1;
      decode_script(script);
      ok = runner.run_script(script) == BatchStatus::Succeeded;
    }
    out << std::flush;
    return ok ? 0 : 1;
  } catch (const std::exception& e) {
    std::cerr << "varrow: " << e.what() << '\n';
    return 1;
  }
}
