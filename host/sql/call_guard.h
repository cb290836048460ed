// A look at each procedure call before it runs, for a host that does not
// give its callers everything the procedures can do (varrowd and key files).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ods/call.h"

namespace varrow::host {

// Why a call was not run: the error its caller gets (class 16).
struct CallRefusal {
  std::int32_t number = 0;
  std::string text;
};

// Given the exported procedure name and the call's parameters (which it may
// rewrite, to pin down what the procedure will see), returns a refusal or
// nothing. An empty guard lets every call run.
using CallGuard =
    std::function<std::optional<CallRefusal>(const std::string& procedure, std::vector<Param>&)>;

}  // namespace varrow::host
