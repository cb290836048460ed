// Which logins varrowd accepts: the one place a login's name and password
// are compared with what the server was started with.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "ods/secure_bytes.h"
#include "tds/session/error_numbers.h"
#include "tds/wire/reader_writer.h"

namespace varrow::host::tds {

// True when `given` equals `expected`, in a time that depends on the length
// of `expected` alone, not on where the two first differ: password guesses
// learn nothing from how long the answer takes.
bool constant_time_equal(std::string_view given, std::string_view expected);

struct LoginPolicy {
  std::optional<std::string> user;       // the login name to require, if any
  std::optional<SecretString> password;  // none: any login is accepted
};

// Whether a login's name and password are the ones the policy requires,
// both compared in constant time.
bool credentials_match(const LoginPolicy& policy, std::string_view user, std::string_view password);

// The class SQL Server sends error 18456 with.
inline constexpr std::uint8_t LOGIN_FAILED_CLASS = 14;

// The reply that refuses a login, whatever refuses it (the password, the
// address, the connection limit, a client that will not encrypt): the
// message and a DONE with DONE_ERROR, in packets of the default size, as
// clients read a login's reply.
Bytes login_refused(std::uint32_t version, std::uint16_t spid, const std::string& text,
                    std::int32_t number = LOGIN_FAILED,
                    std::uint8_t msg_class = LOGIN_FAILED_CLASS);

}  // namespace varrow::host::tds
