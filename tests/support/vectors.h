// Known-answer files of NIST's validation suites (CAVS .rsp format), read at
// test time from Debian's python3-cryptography-vectors package.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace varrow::test {

// One "COUNT = n" record: its fields by name, and the [SECTION] it stands in.
struct VectorRecord {
  std::string section;
  std::map<std::string, std::string> fields;
  std::string at;  // file and line, for failure messages
};

// The package's data folder; VARROW_VECTORS_DIR overrides it.
std::filesystem::path vectors_dir();

// Every record of the file; throws when the file cannot be read, so that a
// missing package fails the test instead of skipping it.
std::vector<VectorRecord> read_vector_file(const std::filesystem::path& path);

}  // namespace varrow::test
