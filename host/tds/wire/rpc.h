// RPC requests: the procedure named (or the numbered system procedure), and
// each parameter with its name, OUTPUT flag, type and value.
#pragma once

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tds/wire/reader_writer.h"
#include "tds/wire/type_codec.h"

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
inline constexpr std::size_t MAX_RPC_PARAMS = 2100;
// The most requests one message may carry.
inline constexpr std::size_t MAX_RPC_REQUESTS = 1000;

// A request past one of the limits above: the session answers it with an
// error, runs none of the requests after it in the message and keeps the
// connection open.
struct RequestOverLimit : std::exception {
  enum class Limit { Parameters, Requests };
  explicit RequestOverLimit(Limit which) : limit(which) {}
  const char* what() const noexcept override {
    return limit == Limit::Parameters ? "too many parameters" : "too many requests";
  }

  Limit limit;
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

// The name of the system procedure numbered `id`, for messages.
std::string system_procedure_name(std::uint16_t id);

}  // namespace varrow::host::tds
