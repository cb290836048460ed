#include "vectors.h"

#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace varrow::test {

namespace {

std::string trim(const std::string& s) {
  const auto begin = s.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) return "";
  const auto end = s.find_last_not_of(" \t\r\n");
  return s.substr(begin, end - begin + 1);
}

}  // namespace

std::filesystem::path vectors_dir() {
  if (const char* dir = std::getenv("VARROW_VECTORS_DIR")) return dir;
  return VARROW_DEFAULT_VECTORS_DIR;
}

std::vector<VectorRecord> read_vector_file(const std::filesystem::path& path) {
  std::ifstream in(path);
  if (!in) {
    throw std::runtime_error("cannot read " + path.string() +
                             " (is python3-cryptography-vectors installed?)");
  }
  std::vector<VectorRecord> records;
  std::string section;
  std::string line;
  int number = 0;
  bool open = false;
  while (std::getline(in, line)) {
    ++number;
    line = trim(line);
    if (line.empty()) {
      open = false;
      continue;
    }
    if (line[0] == '#') continue;
    if (line[0] == '[') {
      section = line.substr(1, line.find(']') - 1);
      open = false;
      continue;
    }
    const auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    if (!open) {
      records.push_back({section, {}, path.filename().string() + ":" + std::to_string(number)});
      open = true;
    }
    records.back().fields[trim(line.substr(0, eq))] = trim(line.substr(eq + 1));
  }
  if (records.empty()) throw std::runtime_error("no records in " + path.string());
  return records;
}

}  // namespace varrow::test
