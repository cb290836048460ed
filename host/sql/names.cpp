#include "sql/names.h"

#include <algorithm>
#include <array>
#include <cstddef>

namespace varrow::host::sql {

bool same_name(std::string_view a, std::string_view b) {
  // Folded in place, with no copy: every RPC request's name is tried here.
  auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [&](char x, char y) { return fold(x) == fold(y); });
}

std::string ascii_upper(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

std::string ascii_lower(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string_view unqualified_name(std::string_view written, Schemas schemas) {
  // A bare name, as drivers send it in every RPC request: nothing to split.
  if (written.find('.') == std::string_view::npos) return written;
  std::array<std::string_view, 3> parts;
  std::size_t count = 0;
  std::size_t start = 0;
  for (;;) {
    const std::size_t dot = written.find('.', start);
    if (count == parts.size()) return {};  // more than three parts
    parts[count++] = written.substr(start, dot == std::string_view::npos ? dot : dot - start);
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  if (count == 2 && parts[0].empty()) return {};
  if (count == 3 && !parts[0].empty() && !same_name(parts[0], "master")) return {};
  const std::string_view schema = parts[count - 2];
  if (!schema.empty() && !same_name(schema, "dbo") &&
      !(schemas == Schemas::DboOrSys && same_name(schema, "sys"))) {
    return {};
  }
  return parts[count - 1];
}

}  // namespace varrow::host::sql
