// varrowd: a TDS server through which SQL Server client drivers call the
// procedures of the library it loads.
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

#include "ods/library.h"
#include "tds/server.h"

namespace {

constexpr const char* HELP = R"(Usage: varrowd [options]
Serves the Varrow procedures to SQL Server client drivers over TDS 7.1 to 7.4
(no TLS). Procedures are called by RPC or from SQL batches; see varrow --help.

  --listen ADDR:PORT       where to listen (default 127.0.0.1:1433; port 0
                           picks a free port, printed on start-up)
  --library PATH           procedure library (default: libvarrow.so beside varrowd)
  --user NAME              the login name to require
  --password-file FILE     the password, from the file's first line; or set
                           VARROW_PASSWORD. Without a password any login is
                           accepted and only loopback addresses may be used.
  --max-connections N      connections served at once (default 64)
  --idle-timeout SECONDS   close connections idle this long (default 300)
  -h, --help               this text
)";

std::atomic<bool> stop_requested{false};

void request_stop(int) {
  stop_requested = true;
}

int fail(const std::string& message) {
  std::cerr << "varrowd: " << message << '\n';
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  varrow::host::tds::ServerOptions options;
  std::string library_path;
  try {
    for (int i = 1; i < argc; ++i) {
      const std::string arg = argv[i];
      auto value = [&]() -> std::string {
        if (i + 1 >= argc) throw std::invalid_argument("option " + arg + " needs a value");
        return argv[++i];
      };
      if (arg == "-h" || arg == "--help") {
        std::cout << HELP;
        return 0;
      } else if (arg == "--listen") {
        const std::string where = value();
        const auto colon = where.rfind(':');
        if (colon == std::string::npos) throw std::invalid_argument("--listen takes ADDR:PORT");
        options.address = where.substr(0, colon);
        if (options.address.size() > 1 && options.address.front() == '[') {
          options.address = options.address.substr(1, options.address.size() - 2);
        }
        const int port = std::stoi(where.substr(colon + 1));
        if (port < 0 || port > 65535) throw std::invalid_argument("port out of range");
        options.port = static_cast<std::uint16_t>(port);
      } else if (arg == "--library") {
        library_path = value();
      } else if (arg == "--user") {
        options.login.user = value();
      } else if (arg == "--password-file") {
        std::ifstream file(value());
        std::string password;
        if (!file || !std::getline(file, password)) {
          throw std::invalid_argument("cannot read the password file");
        }
        options.login.password = password;
      } else if (arg == "--max-connections") {
        options.max_connections = std::max(1, std::stoi(value()));
      } else if (arg == "--idle-timeout") {
        options.idle_timeout_seconds = std::max(1, std::stoi(value()));
      } else {
        throw std::invalid_argument("unknown argument " + arg);
      }
    }
  } catch (const std::exception& e) {
    return fail(std::string(e.what()) + "\nTry 'varrowd --help'.");
  }
  if (!options.login.password) {
    if (const char* password = std::getenv("VARROW_PASSWORD")) options.login.password = password;
  }
  if (!options.login.password && !varrow::host::tds::is_loopback(options.address)) {
    return fail(
        "without a password (VARROW_PASSWORD or --password-file) varrowd listens on "
        "loopback addresses only");
  }

  try {
    const varrow::host::Library library(library_path.empty() ? varrow::host::default_library_path()
                                                             : library_path);
    varrow::host::tds::Server server(library, options);
    const std::uint16_t port = server.listen();
    std::signal(SIGINT, request_stop);
    std::signal(SIGTERM, request_stop);
    std::signal(SIGPIPE, SIG_IGN);
    std::cout << "varrowd listening on " << options.address << ":" << port << std::endl;
    server.run(stop_requested);
    std::cout << "varrowd stopped" << std::endl;
    return 0;
  } catch (const std::exception& e) {
    return fail(e.what());
  }
}
