// varrowd's counters, gauges and call-duration histograms, and their text
// in the Prometheus exposition format. Safe to update from every
// connection's thread while /metrics is read.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace varrow::host::tds {

class Metrics {
 public:
  explicit Metrics(std::string version) : version_(std::move(version)) {}

  void connection_admitted();
  void connection_refused();  // by the caps on connections logging in
  void logged_in();
  void connection_ended(bool was_logged_in, std::uint64_t bytes_in, std::uint64_t bytes_out);
  // "ok", "wrong_password", "unknown_user", "locked_out", "too_many_connections", "refused".
  void login(const std::string& result);
  // SQL Server's number of an error a client was sent.
  void error(std::int32_t number);
  void call(const std::string& procedure, const std::string& status,
            std::chrono::steady_clock::duration elapsed);
  // `version` "TLSv1.3"; "" when the handshake failed before agreeing one.
  void tls_handshake(const std::string& version, bool ok);
  void lockout();
  void eviction();
  void reload(bool ok);

  std::string render() const;

 private:
  // Upper bounds of the call-duration buckets, in seconds (then +Inf).
  static constexpr std::array<double, 8> BOUNDS{0.0001, 0.0005, 0.001, 0.005, 0.01, 0.05, 0.1, 1.0};
  struct Histogram {
    std::array<std::uint64_t, BOUNDS.size() + 1> buckets{};  // not cumulative; last is +Inf
    double sum = 0;
    std::uint64_t count = 0;
  };

  const std::string version_;
  mutable std::mutex mutex_;  // guards all that follows
  std::int64_t logging_in_ = 0;
  std::int64_t logged_in_ = 0;
  std::map<std::string, std::uint64_t> connections_;  // by result
  std::map<std::string, std::uint64_t> logins_;
  std::map<std::int32_t, std::uint64_t> errors_;
  std::map<std::pair<std::string, std::string>, std::uint64_t> calls_;  // procedure, status
  std::map<std::string, Histogram> durations_;
  std::map<std::pair<std::string, std::string>, std::uint64_t> handshakes_;  // version, result
  std::uint64_t bytes_in_ = 0;
  std::uint64_t bytes_out_ = 0;
  std::uint64_t lockouts_ = 0;
  std::uint64_t evictions_ = 0;
  std::map<std::string, std::uint64_t> reloads_;
};

// The login result Metrics counts, from a session's failure reason ("" when
// the login succeeded).
std::string login_result(const std::string& failure);

}  // namespace varrow::host::tds
