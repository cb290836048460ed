// What a batch's server values and session functions report about the
// connection it runs on (@@SPID, APP_NAME(), SUSER_SNAME()), and the session
// options a batch may change for the batches after it.
#pragma once

#include <cstdint>
#include <string>

namespace varrow::host::sql {

// The version the server values report: varrowd answers as SQL Server 2012
// (11.0), the first version of TDS 7.4, does.
inline constexpr const char* PRODUCT_VERSION = "11.0.0.0";
inline constexpr std::int32_t PRODUCT_MAJOR_VERSION = 11;

// READ COMMITTED, as sys.dm_exec_sessions numbers isolation levels (1 READ
// UNCOMMITTED to 5 SNAPSHOT).
inline constexpr std::int32_t READ_COMMITTED = 2;

struct SessionInfo {
  std::int32_t spid = 1;
  std::string server_name{};  // empty: this machine's host name
  std::string login{};        // the login's name; empty: the user running the process
  std::string app_name{};     // as the client's login gave them
  std::string host_name{};
  std::int32_t isolation_level = READ_COMMITTED;  // SET TRANSACTION ISOLATION LEVEL
};

}  // namespace varrow::host::sql
