// RPC requests: the procedure named (or the numbered system procedure), and
// each parameter with its name, OUTPUT flag, type and value.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ods/call.h"
#include "tds/types.h"
#include "tds/wire.h"

namespace varrow::host::tds {

struct RpcParam {
  Bytes name;  // UTF-16LE, as sent ("@v" or empty)
  std::uint8_t status = 0;
  TypeInfo type;
  std::optional<Bytes> value;  // nullopt is NULL

  bool output() const { return (status & PARAM_BY_REF) != 0; }
};

struct RpcRequest {
  std::string procedure;      // UTF-8, as sent; empty when called by number
  std::uint16_t proc_id = 0;  // the number of a system procedure
  std::vector<RpcParam> params;
};

// Parses the RPC requests of one message (ALL_HEADERS already skipped).
// Throws ProtocolError for malformed bytes, UnsupportedRequest for a
// parameter type the server does not take.
std::vector<RpcRequest> parse_rpc(Reader& in, std::uint32_t version);

// The parameter as the procedure sees it (its name stays with the request,
// for the reply). Long text types count as MAX types, so that the
// procedures' own size rules decide.
Param procedure_param(const RpcParam& p);

// The name of the system procedure numbered `id`, for messages.
std::string system_procedure_name(std::uint16_t id);

}  // namespace varrow::host::tds
