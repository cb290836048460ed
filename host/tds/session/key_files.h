// varrowd's rule for key files. Inside SQL Server only administrators may run
// the procedures, so a "keyfile=PATH" key may name any file the service can
// read; over the network that would let every login probe and use the
// server's files. So varrowd refuses key files unless started with a key
// folder, and then takes only regular files inside it.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sql/call_guard.h"
#include "tds/session/error_numbers.h"

namespace varrow::host::tds {

class KeyFilePolicy {
 public:
  // How a path is opened beneath the folder: by the kernel's openat2, which
  // follows symbolic links as long as they stay beneath (Walk where the
  // kernel lacks it); or one component at a time, following no link at all.
  enum class Resolver { Kernel, Walk };

  // `key_dir`: the folder key files must lie in; none refuses them all.
  // Throws std::invalid_argument when the folder cannot be opened.
  explicit KeyFilePolicy(const std::optional<std::string>& key_dir,
                         Resolver resolver = Resolver::Kernel);

  // For the AES procedures whose key parameter (the second) names a key file
  // as the procedure reads it (varrow/key_text.h): a refusal, unless the
  // path is absolute, names the folder and opens, without leaving it, as a
  // regular file. The parameter is then rewritten to name that open file
  // (/proc/self/fd/N), which the parameter keeps open until the call ends:
  // the procedure reads exactly the file checked, whatever is renamed in
  // the meantime. A parameter the procedure refuses without opening
  // anything (too long) is left as it is.
  std::optional<CallRefusal> check(const std::string& procedure, std::vector<Param>& params) const;

  CallGuard guard() const {
    return [policy = *this](const std::string& procedure, std::vector<Param>& params) {
      return policy.check(procedure, params);
    };
  }

 private:
  struct Folder;
  std::shared_ptr<const Folder> folder_;  // none: no key files
};

}  // namespace varrow::host::tds
