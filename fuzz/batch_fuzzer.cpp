// Fuzzed text as a script of the varrow command: split, parsed and, when it
// parses, run against the library.
#include <cstdint>
#include <string>

#include "ods/library.h"
#include "sql/runner.h"

namespace {

class Discard : public varrow::host::sql::BatchOutput {
 public:
  void result_set(const varrow::host::sql::ResultSet&) override {}
  void message(const varrow::host::sql::ProcedureMessage&) override {}
  void print(const std::string&) override {}
  void error(const varrow::host::sql::StatementError&) override {}
  void procedure_done(const std::string&, std::int32_t) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string script(reinterpret_cast<const char*>(data), size);
  // A key file would read whatever the machine holds; key files have a
  // target of their own.
  std::string lower = script;
  for (char& c : lower)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower.find("keyfile") != std::string::npos) return 0;

  static const varrow::host::Library library(VARROW_LIBRARY_PATH);
  Discard output;
  varrow::host::sql::Runner runner(library, output);
  runner.run_script(script);
  return 0;
}
