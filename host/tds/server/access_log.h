// A connection's lines in the access log: one when its session logs in
// (who, from where, through what), one when it ends (how long, how much,
// why), and a refused login with the server's reason (the client is told
// only SQL Server's text); and the same events counted in the metrics.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "tds/server/channel.h"
#include "tds/server/counted_transport.h"
#include "tds/server/log.h"
#include "tds/server/metrics.h"
#include "tds/server/transport.h"
#include "tds/session/session.h"

namespace varrow::host::tds {

class ConnectionLog {
 public:
  // Counts the connection as admitted; ended() counts it out.
  ConnectionLog(std::uint16_t connection, std::string peer, Metrics& metrics);

  const LogWhere& where() const { return where_; }
  void request() { ++requests_; }
  // `guard`, counting each call for this session and, by procedure, outcome
  // and time, in the metrics. Lives no longer than this record.
  CallGuard counting(const CallGuard& guard);

  void logged_in(const Session& session, const Channel& channel);
  // `lockout` says for how long the address is now refused; 0 when it is not.
  void login_failed(const Session& session, const std::string& address_key,
                    std::chrono::seconds lockout);
  void locked_out(const std::string& address_key, std::chrono::seconds left);
  void too_many_connections();
  // How the TLS handshake went, if one began.
  void handshake(const Channel& channel);
  // The end line, for a session that logged in; never throws.
  void ended(std::string_view why, const ByteCounts& bytes) noexcept;

 private:
  Metrics& metrics_;
  LogWhere where_;
  Clock::time_point started_;
  bool logged_in_ = false;
  std::uint64_t requests_ = 0;
  std::uint64_t calls_ = 0;
};

// Why a connection ended when its read did not give bytes.
std::string why_ended(IoStatus status, bool logged_in, bool request_begun, bool stopping);

// "7.4" for TDS_7_4.
std::string tds_version_text(std::uint32_t version);

}  // namespace varrow::host::tds
