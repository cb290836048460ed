// varrowd's rule for key files. Inside SQL Server only administrators may run
// the procedures, so a "keyfile=PATH" key may name any file the service can
// read; over the network that would let every login probe and use the
// server's files. So varrowd refuses key files unless started with a key
// folder, and then takes only regular files inside it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "sql/call_guard.h"
#include "sql/error_numbers.h"

namespace varrow::host::tds {

class KeyFilePolicy {
 public:
  // `key_dir`: the folder key files must lie in; none refuses them all.
  // Throws std::invalid_argument when the folder cannot be resolved.
  explicit KeyFilePolicy(const std::optional<std::string>& key_dir);

  // For the AES procedures whose key parameter (the second) starts with
  // "keyfile=" in any letter case: a refusal, unless the path resolves
  // (symbolic links followed) to a regular file inside the folder; then the
  // parameter is rewritten to name that resolved file, so that the
  // procedure opens exactly the file checked.
  std::optional<CallRefusal> check(const std::string& procedure, std::vector<Param>& params) const;

  CallGuard guard() const {
    return [policy = *this](const std::string& procedure, std::vector<Param>& params) {
      return policy.check(procedure, params);
    };
  }

 private:
  std::optional<std::string> dir_;  // resolved, without a trailing slash
};

}  // namespace varrow::host::tds
