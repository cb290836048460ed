// varrowd's log: one event per line on standard error, with an RFC 3339 UTC
// timestamp, a level, and the connection and peer it concerns, as text or
// as one JSON object. Lines are written whole, so that threads do not mix.
// Client text in a line (a user name, an application name) goes through
// client_text(), and so through log_escape; the rest is the server's own.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace varrow::host::tds {

enum class LogFormat { Text, Json };
enum class LogLevel { Info, Warning, Error };

// The connection an event concerns; 0 and "" for the server itself.
struct LogWhere {
  std::uint16_t connection = 0;
  std::string peer;
};

// One named value of an event. Text lines show it after the message as
// name=value ('value' unless it is a number), unless the message says it
// already; JSON lines always carry it.
struct LogField {
  std::string name;
  std::string value;
  bool number = false;
  bool in_text = true;
};

// A field holding client text, escaped and bounded.
LogField client_text(std::string name, std::string_view text, bool in_text = true);

// For every line from now on (before any thread logs).
void set_log_format(LogFormat format);

// Writes one event. Never throws: without memory for the line, it is lost.
void log_event(LogLevel level, std::string_view message, const LogWhere& where = {},
               const std::vector<LogField>& fields = {}) noexcept;

// The line log_event writes, without its newline.
std::string log_line(std::chrono::system_clock::time_point when, LogFormat format, LogLevel level,
                     std::string_view message, const LogWhere& where,
                     const std::vector<LogField>& fields);

}  // namespace varrow::host::tds
