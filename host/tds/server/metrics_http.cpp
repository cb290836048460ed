#include "tds/server/metrics_http.h"

#include <httplib.h>

#include <stdexcept>

namespace varrow::host::tds {

MetricsEndpoint::MetricsEndpoint(std::function<std::string()> metrics,
                                 std::function<std::string()> not_ready)
    : http_(std::make_unique<httplib::Server>()) {
  http_->Get("/metrics", [metrics](const httplib::Request&, httplib::Response& response) {
    response.set_content(metrics(), "text/plain; version=0.0.4; charset=utf-8");
  });
  http_->Get("/healthz", [](const httplib::Request&, httplib::Response& response) {
    response.set_content("ok\n", "text/plain");
  });
  http_->Get("/readyz", [not_ready](const httplib::Request&, httplib::Response& response) {
    const std::string why = not_ready();
    response.status = why.empty() ? 200 : 503;
    response.set_content(why.empty() ? "ready\n" : "not ready: " + why + "\n", "text/plain");
  });
  // A monitoring address answers quickly or not at all.
  http_->set_read_timeout(std::chrono::seconds(5));
  http_->set_write_timeout(std::chrono::seconds(5));
  http_->set_keep_alive_max_count(10);
}

MetricsEndpoint::~MetricsEndpoint() {
  if (thread_.joinable()) {
    http_->stop();
    thread_.join();
  }
}

std::string MetricsEndpoint::start(const Endpoint& where) {
  int port = where.port;
  if (port == 0) {
    port = http_->bind_to_any_port(where.address);
  } else if (!http_->bind_to_port(where.address, port)) {
    port = -1;
  }
  if (port < 0) {
    throw std::runtime_error("cannot listen for metrics on " +
                             endpoint_text(where.address, where.port));
  }
  thread_ = std::thread([this] { http_->listen_after_bind(); });
  return endpoint_text(where.address, static_cast<std::uint16_t>(port));
}

}  // namespace varrow::host::tds
