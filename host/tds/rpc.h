// RPC requests: the procedure named (or the numbered system procedure), and
// each parameter with its name, OUTPUT flag, type and value.
#pragma once

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ods/call.h"
#include "sql/error_numbers.h"
#include "sql/lexer.h"
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

// SQL Server's limit on the parameters of one request.
inline constexpr std::size_t MAX_RPC_PARAMS = sql::MAX_PARAMETERS;
// The most requests one message may carry.
inline constexpr std::size_t MAX_RPC_REQUESTS = 1000;

// A request past one of the limits above: answered with this error, the
// requests after it in the message are not run, the connection stays open.
struct RequestOverLimit : std::exception {
  RequestOverLimit(std::int32_t n, std::string text) : number(n), message(std::move(text)) {}
  const char* what() const noexcept override { return message.c_str(); }

  std::int32_t number = 0;
  std::string message;
};

// Reads the RPC requests of one message (ALL_HEADERS already skipped) one
// at a time, so that only one request's parameters are held at once.
class RpcReader {
 public:
  RpcReader(Reader& in, std::uint32_t version);

  // The next request; there is always a first one. Throws ProtocolError for
  // malformed bytes, UnsupportedRequest for a parameter type the server does
  // not take, RequestOverLimit past MAX_RPC_PARAMS or MAX_RPC_REQUESTS.
  RpcRequest next();
  // True when the message holds no further request.
  bool done() const { return read_ > 0 && in_.done(); }

 private:
  Reader& in_;
  std::uint8_t separator_;
  std::size_t read_ = 0;
};

// Every request of one message, read with RpcReader.
std::vector<RpcRequest> parse_rpc(Reader& in, std::uint32_t version);

// The parameter as the procedure sees it (its name stays with the request,
// for the reply). Long text types count as MAX types, so that the
// procedures' own size rules decide.
Param procedure_param(const RpcParam& p);

// The name of the system procedure numbered `id`, for messages.
std::string system_procedure_name(std::uint16_t id);

}  // namespace varrow::host::tds
