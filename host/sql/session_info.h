// What a batch's server values and session functions report about the
// connection it runs on (@@SPID, APP_NAME(), SUSER_SNAME()), and the session
// options a batch may change for the batches after it.
#pragma once

#include <cstdint>
#include <string>

namespace varrow::host::sql {

// What a program that runs batches reports itself as in @@VERSION and
// SERVERPROPERTY: each names itself.
struct ServerIdentity {
  std::string product_version;  // "11.0.0.0": what drivers read after " - " in @@VERSION
  std::string product;          // what answers, also its edition
  std::string details;          // the line of @@VERSION after the version
};

// READ COMMITTED, as sys.dm_exec_sessions numbers isolation levels (1 READ
// UNCOMMITTED to 5 SNAPSHOT).
inline constexpr std::int32_t READ_COMMITTED = 2;

struct SessionInfo {
  std::int32_t spid = 1;
  std::string server_name{};  // empty: this machine's host name
  ServerIdentity identity{};
  std::string login{};     // the login's name; empty: the user running the process
  std::string app_name{};  // as the client's login gave them
  std::string host_name{};
  std::int32_t isolation_level = READ_COMMITTED;  // SET TRANSACTION ISOLATION LEVEL
};

}  // namespace varrow::host::sql
