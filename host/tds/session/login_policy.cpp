#include "tds/session/login_policy.h"

namespace varrow::host::tds {

bool constant_time_equal(std::string_view given, std::string_view expected) {
  // volatile: every byte is compared, with no exit at the first difference.
  volatile unsigned char difference = given.size() == expected.size() ? 0 : 1;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const char g = i < given.size() ? given[i] : '\0';
    difference = static_cast<unsigned char>(difference | (g ^ expected[i]));
  }
  return difference == 0;
}

bool credentials_match(const LoginPolicy& policy, std::string_view user,
                       std::string_view password) {
  const bool user_ok = !policy.user || constant_time_equal(user, *policy.user);
  const bool password_ok = !policy.password || constant_time_equal(password, *policy.password);
  return user_ok && password_ok;
}

}  // namespace varrow::host::tds
