// varrowd's HTTP side, for monitoring only: /metrics in the Prometheus text
// format, /healthz (the process answers) and /readyz (it should be sent
// clients), on threads of their own and an address of their own.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "tds/server/server.h"

namespace httplib {
class Server;
}

namespace varrow::host::tds {

class MetricsEndpoint {
 public:
  // `metrics` gives the text of /metrics; `not_ready` why varrowd is not
  // ready, or "" when it is.
  MetricsEndpoint(std::function<std::string()> metrics, std::function<std::string()> not_ready);
  ~MetricsEndpoint();
  MetricsEndpoint(const MetricsEndpoint&) = delete;
  MetricsEndpoint& operator=(const MetricsEndpoint&) = delete;

  // Binds `where` and serves from then on; returns the address as bound
  // ("127.0.0.1:9187"). Throws std::runtime_error.
  std::string start(const Endpoint& where);

 private:
  std::unique_ptr<httplib::Server> http_;
  std::thread thread_;
};

}  // namespace varrow::host::tds
