#include "tds/server/access_log.h"

#include <cstdio>

#include "tds/session/error_numbers.h"
#include "text/log_escape.h"

namespace varrow::host::tds {

ConnectionLog::ConnectionLog(std::uint16_t connection, std::string peer, Metrics& metrics)
    : metrics_(metrics), where_{connection, std::move(peer)}, started_(Clock::now()) {}

CallGuard ConnectionLog::counting(const CallGuard& guard) {
  return CallGuard(
      [this, guard](const std::string& procedure, std::vector<Param>& params) {
        ++calls_;
        return guard(procedure, params);
      },
      [this](const CallReport& report) {
        metrics_.call(report.procedure,
                      report.refused  ? "refused"
                      : report.failed ? "error"
                                      : "ok",
                      report.elapsed);
        if (report.error != 0) metrics_.error(report.error);
      });
}

void ConnectionLog::locked_out(const std::string& address_key, std::chrono::seconds left) {
  log_event(LogLevel::Warning,
            "login refused from " + where_.peer + ": " + address_key + " is locked out for " +
                std::to_string(left.count()) + " more s",
            where_, {LogField{"reason", "locked out"}});
  metrics_.login("locked_out");
  metrics_.error(LOGIN_FAILED);
}

void ConnectionLog::too_many_connections() {
  log_event(LogLevel::Warning, "login refused: too many connections", where_);
  metrics_.login("too_many_connections");
  metrics_.error(TOO_MANY_CONNECTIONS);
}

void ConnectionLog::handshake(const Channel& channel) {
  if (channel.tls_begun()) {
    metrics_.tls_handshake(channel.established_tls(), !channel.established_tls().empty());
  }
}

void ConnectionLog::logged_in(const Session& session, const Channel& channel) {
  logged_in_ = true;
  metrics_.logged_in();
  metrics_.login("ok");
  log_event(LogLevel::Info, "login", where_,
            {client_text("user", session.login_user()),
             LogField{"tds", tds_version_text(session.version())},
             LogField{"tls", channel.security()}, client_text("app", session.login_app())});
}

void ConnectionLog::login_failed(const Session& session, const std::string& address_key,
                                 std::chrono::seconds lockout) {
  const std::string user = log_escape(session.login_user());
  const std::string reason = log_escape(session.login_failure());
  std::vector<LogField> fields{LogField{"user", user, false, false},
                               LogField{"reason", reason, false, false},
                               client_text("app", session.login_app(), false)};
  std::string message = "login failed for user '" + user + "' from " + where_.peer + ": " + reason;
  if (lockout.count() > 0) {
    message += " (" + address_key + " refused for " + std::to_string(lockout.count()) + " s)";
    fields.push_back(LogField{"lockout_seconds", std::to_string(lockout.count()), true, false});
    metrics_.lockout();
  }
  log_event(LogLevel::Warning, message, where_, fields);
  metrics_.login(login_result(session.login_failure()));
  metrics_.error(LOGIN_FAILED);
}

void ConnectionLog::ended(std::string_view why, const ByteCounts& bytes) noexcept {
  metrics_.connection_ended(logged_in_, bytes.in, bytes.out);
  if (!logged_in_) return;
  try {
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started_).count();
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", static_cast<double>(ms) / 1000);
    log_event(LogLevel::Info, "session ended", where_,
              {LogField{"duration_seconds", seconds, true},
               LogField{"requests", std::to_string(requests_), true},
               LogField{"calls", std::to_string(calls_), true},
               LogField{"bytes_in", std::to_string(bytes.in), true},
               LogField{"bytes_out", std::to_string(bytes.out), true},
               LogField{"reason", log_escape(why)}});
  } catch (...) {
  }
}

std::string why_ended(IoStatus status, bool logged_in, bool request_begun, bool stopping) {
  if (stopping) return "varrowd stopping";
  switch (status) {
    case IoStatus::Ok:
    case IoStatus::Closed:
      return "client disconnected";
    case IoStatus::TimedOut:
      return !logged_in ? "login timeout" : request_begun ? "request timeout" : "idle timeout";
    case IoStatus::Failed:
      break;
  }
  return "connection failed";
}

std::string tds_version_text(std::uint32_t version) {
  return std::to_string(version >> 28) + "." + std::to_string((version >> 24) & 0xf);
}

}  // namespace varrow::host::tds
