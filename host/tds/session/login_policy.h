// Which logins varrowd accepts: the one place a login's name and password
// are compared with what the server was started with.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace varrow::host::tds {

// True when `given` equals `expected`, in a time that depends on the length
// of `expected` alone, not on where the two first differ: password guesses
// learn nothing from how long the answer takes.
bool constant_time_equal(std::string_view given, std::string_view expected);

struct LoginPolicy {
  std::optional<std::string> user;      // the login name to require, if any
  std::optional<std::string> password;  // none: any login is accepted
};

// Whether a login's name and password are the ones the policy requires,
// both compared in constant time.
bool credentials_match(const LoginPolicy& policy, std::string_view user, std::string_view password);

}  // namespace varrow::host::tds
