// What varrowd reports itself as to the drivers that ask (@@VERSION,
// SERVERPROPERTY): SQL Server 2012 (11.0), the first version to speak TDS
// 7.4, which drivers take as the version to talk to.
#pragma once

#include <string>

#include "sql/runner.h"
#include "varrow_version.h"

namespace varrow::host::tds {

inline sql::ServerIdentity varrowd_identity() {
  return {"11.0.0.0", "Varrow varrowd",
          std::string("Varrow ") + VERSION +
              " extended procedures (AES, MD5, SHA-1, hex) over TDS 7.4; not Microsoft SQL Server"};
}

}  // namespace varrow::host::tds
