// A look at each procedure call before it runs, for a host that does not
// give its callers everything the procedures can do (varrowd and key files).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "ods/call.h"

namespace varrow::host {

// Why a call was not run: the error its caller gets (class 16).
struct CallRefusal {
  std::int32_t number = 0;
  std::string text;
};

// What one call came to, for a host that counts calls: told once the call
// ran, or was refused before it could.
struct CallReport {
  const std::string& procedure;  // the exported name
  bool refused = false;          // by the guard; nothing ran
  bool failed = false;           // a message of class 11 or more, or a status other than 0
  std::int32_t error = 0;        // the first such message's number (the refusal's), or 0
  std::chrono::steady_clock::duration elapsed{};
};

// Given the exported procedure name and the call's parameters (which it may
// rewrite, to pin down what the procedure will see), returns a refusal or
// nothing; and, when it has an observer, hears each call's report. An empty
// guard lets every call run. Made from the check alone, as a function.
class CallGuard {
 public:
  using Check =
      std::function<std::optional<CallRefusal>(const std::string& procedure, std::vector<Param>&)>;
  using Observer = std::function<void(const CallReport&)>;

  CallGuard() = default;
  template <typename F>
  requires std::is_constructible_v<Check, F> CallGuard(F check)
      : check_(std::move(check)) {}  // NOLINT: a guard is its check
  CallGuard(Check check, Observer observer)
      : check_(std::move(check)), observer_(std::move(observer)) {}

  explicit operator bool() const { return static_cast<bool>(check_); }
  std::optional<CallRefusal> operator()(const std::string& procedure,
                                        std::vector<Param>& params) const {
    return check_ ? check_(procedure, params) : std::nullopt;
  }
  void report(const CallReport& report) const {
    if (observer_) observer_(report);
  }

 private:
  Check check_;
  Observer observer_;
};

}  // namespace varrow::host
