#include "tds/server/log.h"

#include <ctime>
#include <iostream>

#include "text/log_escape.h"

namespace varrow::host::tds {
namespace {

LogFormat format_in_use = LogFormat::Text;

const char* level_name(LogLevel level) {
  switch (level) {
    case LogLevel::Info:
      return "info";
    case LogLevel::Warning:
      return "warning";
    case LogLevel::Error:
      break;
  }
  return "error";
}

// 2026-12-09T10:15:35.123Z
std::string timestamp(std::chrono::system_clock::time_point when) {
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count();
  const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
  std::tm utc{};
  ::gmtime_r(&seconds, &utc);
  char text[40];
  const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
  std::snprintf(text + n, sizeof text - n, ".%03dZ", static_cast<int>(ms % 1000));
  return text;
}

// A JSON string: quotes, backslashes and controls escaped.
void json_string(std::string& out, std::string_view text) {
  out += '"';
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned char>(c));
      out += escape;
    } else {
      out += c;
    }
  }
  out += '"';
}

}  // namespace

LogField client_text(std::string name, std::string_view text, bool in_text) {
  return LogField{std::move(name), log_escape(text), false, in_text};
}

void set_log_format(LogFormat format) {
  format_in_use = format;
}

std::string log_line(std::chrono::system_clock::time_point when, LogFormat format, LogLevel level,
                     std::string_view message, const LogWhere& where,
                     const std::vector<LogField>& fields) {
  std::string line;
  if (format == LogFormat::Json) {
    line = "{\"time\":\"" + timestamp(when) + "\",\"level\":\"" + level_name(level) + "\"";
    if (where.connection != 0) line += ",\"connection\":" + std::to_string(where.connection);
    if (!where.peer.empty()) {
      line += ",\"peer\":";
      json_string(line, where.peer);
    }
    line += ",\"message\":";
    json_string(line, message);
    for (const LogField& field : fields) {
      line += ',';
      json_string(line, field.name);
      line += ':';
      if (field.number) {
        line += field.value;
      } else {
        json_string(line, field.value);
      }
    }
    return line + "}";
  }
  line = timestamp(when) + " " + level_name(level);
  if (where.connection != 0) line += " connection=" + std::to_string(where.connection);
  if (!where.peer.empty()) line += " peer=" + where.peer;
  line += " ";
  line += message;
  for (const LogField& field : fields) {
    if (!field.in_text) continue;
    line += " " + field.name + "=" + (field.number ? field.value : "'" + field.value + "'");
  }
  // Server text (an error's what()) may hold a line end or another
  // control: it stays one plain line.
  for (char& c : line) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
  }
  return line;
}

void log_event(LogLevel level, std::string_view message, const LogWhere& where,
               const std::vector<LogField>& fields) noexcept {
  try {
    std::cerr << log_line(std::chrono::system_clock::now(), format_in_use, level, message, where,
                          fields) +
                     "\n"
              << std::flush;
  } catch (...) {
  }
}

}  // namespace varrow::host::tds
