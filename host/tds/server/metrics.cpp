#include "tds/server/metrics.h"

#include <cstdio>

namespace varrow::host::tds {
namespace {

// A label value as the exposition format quotes it.
std::string label(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    if (c == '\n') {
      out += "\\n";
      continue;
    }
    out += c;
  }
  return out;
}

std::string number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", value);
  return text;
}

void head(std::string& out, const char* name, const char* type, const char* help) {
  out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
}

}  // namespace

std::string login_result(const std::string& failure) {
  if (failure.empty()) return "ok";
  if (failure == "wrong password") return "wrong_password";
  if (failure == "unknown user") return "unknown_user";
  return "refused";
}

void Metrics::connection_admitted() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++connections_["admitted"];
  ++logging_in_;
}

void Metrics::connection_refused() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++connections_["refused"];
}

void Metrics::logged_in() {
  std::lock_guard<std::mutex> lock(mutex_);
  --logging_in_;
  ++logged_in_;
}

void Metrics::connection_ended(bool was_logged_in, std::uint64_t bytes_in,
                               std::uint64_t bytes_out) {
  std::lock_guard<std::mutex> lock(mutex_);
  --(was_logged_in ? logged_in_ : logging_in_);
  bytes_in_ += bytes_in;
  bytes_out_ += bytes_out;
}

void Metrics::login(const std::string& result) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++logins_[result];
}

void Metrics::error(std::int32_t number) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++errors_[number];
}

void Metrics::call(const std::string& procedure, const std::string& status,
                   std::chrono::steady_clock::duration elapsed) {
  const double seconds = std::chrono::duration<double>(elapsed).count();
  std::lock_guard<std::mutex> lock(mutex_);
  ++calls_[{procedure, status}];
  if (status == "refused") return;  // nothing ran
  Histogram& h = durations_[procedure];
  std::size_t i = 0;
  while (i < BOUNDS.size() && seconds > BOUNDS[i])
    ++i;
  ++h.buckets[i];
  h.sum += seconds;
  ++h.count;
}

void Metrics::tls_handshake(const std::string& version, bool ok) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++handshakes_[{version, ok ? "ok" : "failed"}];
}

void Metrics::lockout() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++lockouts_;
}

void Metrics::eviction() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++evictions_;
}

void Metrics::reload(bool ok) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++reloads_[ok ? "ok" : "failed"];
}

std::string Metrics::render() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string out;
  head(out, "varrowd_build_info", "gauge", "The build of varrowd that runs.");
  out += "varrowd_build_info{version=\"" + label(version_) + "\"} 1\n";
  head(out, "varrowd_connections", "gauge", "Connections open, by state.");
  out += "varrowd_connections{state=\"logging_in\"} " + std::to_string(logging_in_) + "\n";
  out += "varrowd_connections{state=\"logged_in\"} " + std::to_string(logged_in_) + "\n";
  head(out, "varrowd_connections_accepted_total", "counter",
       "Connections accepted, by whether the caps admitted them.");
  for (const char* result : {"admitted", "refused"}) {
    const auto it = connections_.find(result);
    out += std::string("varrowd_connections_accepted_total{result=\"") + result + "\"} " +
           std::to_string(it == connections_.end() ? 0 : it->second) + "\n";
  }
  head(out, "varrowd_logins_total", "counter", "Logins, by result.");
  for (const auto& [result, n] : logins_)
    out += "varrowd_logins_total{result=\"" + label(result) + "\"} " + std::to_string(n) + "\n";
  head(out, "varrowd_errors_total", "counter", "Errors sent to clients, by message number.");
  for (const auto& [number, n] : errors_) {
    out += "varrowd_errors_total{number=\"" + std::to_string(number) + "\"} " + std::to_string(n) +
           "\n";
  }
  head(out, "varrowd_calls_total", "counter", "Procedure calls, by procedure and status.");
  for (const auto& [key, n] : calls_) {
    out += "varrowd_calls_total{procedure=\"" + label(key.first) + "\",status=\"" +
           label(key.second) + "\"} " + std::to_string(n) + "\n";
  }
  head(out, "varrowd_call_duration_seconds", "histogram", "Time procedure calls ran.");
  for (const auto& [procedure, h] : durations_) {
    const std::string p = "procedure=\"" + label(procedure) + "\"";
    std::uint64_t cumulative = 0;
    for (std::size_t i = 0; i <= BOUNDS.size(); ++i) {
      cumulative += h.buckets[i];
      out += "varrowd_call_duration_seconds_bucket{" + p + ",le=\"" +
             (i < BOUNDS.size() ? number(BOUNDS[i]) : "+Inf") + "\"} " +
             std::to_string(cumulative) + "\n";
    }
    out += "varrowd_call_duration_seconds_sum{" + p + "} " + number(h.sum) + "\n";
    out += "varrowd_call_duration_seconds_count{" + p + "} " + std::to_string(h.count) + "\n";
  }
  head(out, "varrowd_tls_handshakes_total", "counter", "TLS handshakes, by version and result.");
  for (const auto& [key, n] : handshakes_) {
    out += "varrowd_tls_handshakes_total{version=\"" + label(key.first) + "\",result=\"" +
           key.second + "\"} " + std::to_string(n) + "\n";
  }
  head(out, "varrowd_received_bytes_total", "counter", "Bytes received from clients.");
  out += "varrowd_received_bytes_total " + std::to_string(bytes_in_) + "\n";
  head(out, "varrowd_sent_bytes_total", "counter", "Bytes sent to clients.");
  out += "varrowd_sent_bytes_total " + std::to_string(bytes_out_) + "\n";
  head(out, "varrowd_lockouts_total", "counter",
       "Client addresses locked out after repeated failed logins.");
  out += "varrowd_lockouts_total " + std::to_string(lockouts_) + "\n";
  head(out, "varrowd_evictions_total", "counter",
       "Connections still logging in closed to make room for others.");
  out += "varrowd_evictions_total " + std::to_string(evictions_) + "\n";
  head(out, "varrowd_reloads_total", "counter", "Reloads on SIGHUP, by result.");
  for (const char* result : {"ok", "failed"}) {
    const auto it = reloads_.find(result);
    out += std::string("varrowd_reloads_total{result=\"") + result + "\"} " +
           std::to_string(it == reloads_.end() ? 0 : it->second) + "\n";
  }
  return out;
}

}  // namespace varrow::host::tds
