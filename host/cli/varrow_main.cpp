// varrow: runs batches that call the procedures, the way SQL code calls them,
// against the procedure library loaded in-process.
#include <unistd.h>

#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/console_output.h"
#include "ods/library.h"
#include "sql/runner.h"

namespace {

using varrow::host::SecretString;

constexpr const char* HELP =
    R"(Usage: varrow [-Q batch | -i file.sql ...] [-L library] [-s sep] [-W]
Runs batches that call the Varrow procedures in-process, as SQL Server would.
With neither -Q nor -i it reads standard input (a prompt on a terminal: end a
batch with GO, leave with EXIT).

  -Q batch    run the batch and exit           -i file    run the file(s)
              (a script, file or standard input, may have up to 16 MiB)
  -L path     library to load (default: libvarrow.so beside varrow, else installed)
  -s sep      column separator                 -W         no column padding
  -h, --help  this text

Language: DECLARE @v TYPE[(n|MAX)] [= value], ...   (CHAR VARCHAR NCHAR NVARCHAR
  VARBINARY INT);  SET @v = value;  EXEC [@rc =] procedure arg, ... with 'text',
  N'text', 0x00FF, 123, NULL, @v or @v OUTPUT, or @param = arg;  SELECT value
  [AS name], ...;  PRINT value;  values also CAST(v AS type), CONVERT(type, v
  [, 2]) (2: binary as hex text), DATALENGTH(v), @@VERSION, @@SPID, @@SERVERNAME,
  SERVERPROPERTY('ProductVersion');  SET options, BEGIN TRAN and the like are
  accepted and ignored;  sp_datatype_info;  GO ends a batch;  -- and /* */.
  Limits: 64 nested expressions, 4096 columns, names of 128 characters.
Procedures: xp_AES_Encrypt/xp_AES_Decrypt (input, key, OUTPUT; the key is 32/48/64
  hex digits, 'keyfile=PATH' or NULL for the built-in key), xp_MD5_Encrypt,
  xp_SHA1_Encrypt, xp_hexstr (input, OUTPUT).
Example: varrow -Q "DECLARE @d VARCHAR(16), @h VARCHAR(32);
  EXEC xp_MD5_Encrypt 'abc', @d OUTPUT; EXEC xp_hexstr @d, @h OUTPUT; SELECT @h"
Exit status: 0, or 1 when a statement failed or a procedure returned non-zero.
)";

// A script is read whole before it runs; a bound keeps a file that never ends
// (/dev/zero, a pipe left open) from taking all memory.
constexpr std::size_t MAX_SCRIPT_BYTES = std::size_t{16} << 20;

enum class ReadResult { Ok, TooLarge, Failed };

ReadResult read_script(std::istream& in, SecretString& script) {
  script.clear();
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
      std::cerr << "varrow: cannot read " << source << '\n';
      return false;
  }
  return false;
}

struct Options {
  std::string query;
  bool has_query = false;
  std::vector<std::string> files;
  std::string library;
  varrow::host::ConsoleStyle style;
};

int usage_error(const std::string& message) {
  std::cerr << "varrow: " << message << "\nTry 'varrow --help'.\n";
  return 1;
}

// Reads batches at a prompt, running each at GO, until EXIT or end of input.
bool interactive(varrow::host::sql::Runner& runner) {
  bool ok = true;
  SecretString batch;
  int line_number = 1;
  SecretString line;
  for (;;) {
    std::cout << line_number << "> " << std::flush;
    if (!std::getline(std::cin, line)) break;
    SecretString word = line;
    word.erase(0, word.find_first_not_of(" \t"));
    word.erase(word.find_last_not_of(" \t\r;") + 1);
    for (char& c : word)
      c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (word == "EXIT" || word == "QUIT") break;
    if (word == "GO") {
      ok = runner.run_batch({batch, 1}) && ok;
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
    ok = runner.run_batch({batch, 1}) && ok;
  }
  std::cout << '\n';
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](const char* what) -> std::string {
      if (i + 1 >= argc) throw std::string("option " + arg + " needs " + what);
      return argv[++i];
    };
    try {
      if (arg == "-h" || arg == "--help" || arg == "-?") {
        std::cout << HELP;
        return 0;
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
    } catch (const std::string& message) {
      return usage_error(message);
    }
  }
  if (options.has_query && !options.files.empty()) return usage_error("use -Q or -i, not both");

  try {
    const varrow::host::Library library(
        options.library.empty() ? varrow::host::default_library_path() : options.library);
    varrow::host::ConsoleOutput output(std::cout, options.style);
    varrow::host::sql::Runner runner(library, output);

    bool ok = true;
    if (options.has_query) {
      ok = runner.run_script(options.query);
    } else if (!options.files.empty()) {
      for (const std::string& file : options.files) {
        std::ifstream in(file, std::ios::binary);
        if (!in) {
          std::cerr << "varrow: cannot open " << file << '\n';
          return 1;
        }
        SecretString script;
        if (!read_script_or_report(in, file, script)) return 1;
        ok = runner.run_script(script) && ok;
      }
    } else if (isatty(STDIN_FILENO)) {
      ok = interactive(runner);
    } else {
      SecretString script;
      if (!read_script_or_report(std::cin, "standard input", script)) return 1;
      ok = runner.run_script(script);
    }
    std::cout << std::flush;
    return ok ? 0 : 1;
  } catch (const std::exception& e) {
    std::cerr << "varrow: " << e.what() << '\n';
    return 1;
  }
}
