// varrowd's options: one table that parses the command line and the
// configuration file (the same names in both, the command line winning) and
// writes --help; and the settings a SIGHUP reads again, the password and the
// TLS certificate and key, loaded from what the options name.
#pragma once

#include <chrono>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "ods/secure_bytes.h"
#include "tds/server/log.h"
#include "tds/server/server.h"
#include "tds/server/tls_options.h"

namespace varrow::host::tds {

struct DaemonOptions {
  ServerOptions server;  // all but the password and TLS, which load_reloadable() reads
  std::string library;   // empty: the library beside varrowd
  std::optional<std::string> password_file;
  TlsOptions tls;
  LogFormat log_format = LogFormat::Text;
  std::optional<Endpoint> metrics_listen;
  bool check_config = false;
};

// Parses argv (and the --config file it names) into `options`. Returns the
// exit status when varrowd is to exit at once: 0 after --help or --version
// (written to `out`), 1 after a message on `err` that names the option and
// the value it refuses.
std::optional<int> parse_options(int argc, const char* const* argv, DaemonOptions& options,
                                 std::ostream& out, std::ostream& err);

// "ADDR:PORT", "[IPv6]:PORT" or "name:PORT", the port 0 to 65535 in decimal
// and nothing after it. Throws std::invalid_argument naming `text`.
Endpoint parse_endpoint(const std::string& text);

// The settings a SIGHUP reloads, as read from the files now: reads the password (the file's first
// line, else VARROW_PASSWORD) and loads certificate and key. Throws std::invalid_argument or
// TlsSetupError, the text naming the file or variable.
Reloadable load_reloadable(const DaemonOptions& options);

}  // namespace varrow::host::tds
