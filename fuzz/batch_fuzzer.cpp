// Fuzzed text as a script of the batch language: split, parsed and, when it
// parses, run against the library. Key files are exercised inside a sandbox
// folder: every "keyfile=" in the script is made to point into it, and
// varrowd's key-file policy (files inside the folder only) guards each call,
// so no input reads the machine's other files or waits on a FIFO.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "key_sandbox.h"
#include "ods/library.h"
#include "sql/runner.h"
#include "tds/key_files.h"

namespace {

class Discard : public varrow::host::sql::BatchOutput {
 public:
  bool result_set(const varrow::host::sql::ResultSet&) override { return true; }
  bool message(const varrow::host::sql::ProcedureMessage&) override { return true; }
  bool print(std::string_view) override { return true; }
  bool error(const varrow::host::sql::StatementError&) override { return true; }
  bool procedure_done(const std::string&, std::int32_t) override { return true; }
};

const std::string& sandbox() {
  return varrow::fuzz::key_sandbox();
}

// "keyfile=NAME" (any letter case) becomes "keyfile=SANDBOX/NAME".
std::string into_sandbox(const std::string& script) {
  static const std::string prefix = "keyfile=";
  std::string out;
  for (std::size_t i = 0; i < script.size(); ++i) {
    out += script[i];
    if (i + 1 < prefix.size()) continue;
    bool match = true;
    for (std::size_t k = 0; k < prefix.size() && match; ++k) {
      const char c = script[i + 1 - prefix.size() + k];
      match = (c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) == prefix[k];
    }
    if (match) out += sandbox() + "/";
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const varrow::host::Library library(VARROW_LIBRARY_PATH);
  static const varrow::host::tds::KeyFilePolicy policy(sandbox());
  const std::string script = into_sandbox(std::string(reinterpret_cast<const char*>(data), size));
  Discard output;
  varrow::host::sql::Runner runner(library, output, {}, policy.guard());
  static_cast<void>(runner.run_script(script));
  return 0;
}
