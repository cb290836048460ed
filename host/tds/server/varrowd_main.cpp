// varrowd: a TDS server through which SQL Server client drivers call the
// procedures of the library it loads.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

#include "ods/library.h"
#include "tds/server/server.h"
#include "tds/server/tls_options.h"
#include "varrow_version.h"

namespace {

constexpr const char* HELP = R"(Usage: varrowd [options]
Serves the Varrow procedures to SQL Server client drivers over TDS 7.1 to 7.4,
in TLS (TDS 7.x encryption or TDS 8.0 strict) when given a certificate.
Procedures are called by RPC or from SQL batches; see varrow --help.

  --listen ADDR:PORT       where to listen (default 127.0.0.1:1433; port 0
                           picks a free port, printed on start-up)
  --library PATH           procedure library (default: libvarrow.so beside varrowd)
  --user NAME              the login name to require
  --password-file FILE     the password, from the file's first line; or set
                           VARROW_PASSWORD. Without a password any login is
                           accepted and only loopback addresses may be used.
  --tls-cert FILE          the server certificate, PEM, followed by the rest
                           of its chain (all of it is sent to clients)
  --tls-key FILE           its private key, PEM, unencrypted (may be the same
                           file); no access for others, group read only for
                           root's group or varrowd's (chmod 600 or 640)
  --encryption off|optional|required
                           required (the default with a certificate): every
                           connection in TLS, clients that cannot encrypt are
                           refused; optional: TLS for clients that ask for it;
                           off (the default without one): no TLS. Beyond
                           loopback addresses varrowd needs a password, a
                           certificate and required.
  --key-dir DIR            the folder "keyfile=PATH" keys must name a regular
                           file in, by an absolute path (symbolic links
                           followed while they stay inside); without it,
                           calls with a key file are refused
  --max-connections N      logged-in connections served at once (default 64)
  --max-pending N          connections still logging in at once (default 64);
                           past it one of the address holding the most is
                           closed
  --max-pending-per-address N
                           of those, from one client address (IPv6: one /64),
                           counting those logging in for over a second
                           (default 16)
  --login-timeout SECONDS  time from connecting to logged in (default 10)
  --request-timeout SECONDS
                           time for a whole request once begun, and for
                           sending a reply (default 30)
  --idle-timeout SECONDS   close connections idle this long (default 300)
  --shutdown-grace SECONDS on SIGTERM or SIGINT, time given to running calls
                           before varrowd exits anyway (default 10)
  -h, --help               this text
)";

// The server a SIGTERM or SIGINT stops.
std::atomic<varrow::host::tds::Server*> running{nullptr};

void request_stop(int) {
  if (varrow::host::tds::Server* server = running.load()) server->request_stop();
}

int positive(const std::string& text, int least) {
  std::size_t used = 0;
  const int n = std::stoi(text, &used);
  if (used != text.size() || n < least) {
    throw std::invalid_argument("'" + text + "' is not a number of at least " +
                                std::to_string(least));
  }
  return n;
}

// The password as given, without the line end a file written on Windows
// leaves; an empty one is refused rather than taken as "no password".
varrow::host::SecretString checked_password(varrow::host::SecretString password,
                                            const std::string& source) {
  if (!password.empty() && password.back() == '\r') password.pop_back();
  if (password.empty()) throw std::invalid_argument(source + " holds an empty password");
  return password;
}

int fail(const std::string& message) {
  std::cerr << "varrowd: " << message << '\n';
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  varrow::host::tds::ServerOptions options;
  std::string library_path;
  varrow::host::tds::TlsOptions tls;
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
      } else if (arg == "--version") {
        std::cout << "varrowd " << varrow::VERSION << '\n';
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
        const std::string path = value();
        std::ifstream file(path);
        varrow::host::SecretString password;
        if (!file || !std::getline(file, password)) {
          throw std::invalid_argument("cannot read the password file " + path);
        }
        options.login.password = checked_password(password, "the password file " + path);
      } else if (arg == "--tls-cert") {
        tls.cert_file = value();
      } else if (arg == "--tls-key") {
        tls.key_file = value();
      } else if (arg == "--encryption") {
        tls.encryption = value();
      } else if (arg == "--key-dir") {
        options.key_dir = value();
      } else if (arg == "--max-connections") {
        options.admission.max_logged_in = positive(value(), 1);
      } else if (arg == "--max-pending") {
        options.admission.max_pending = positive(value(), 1);
      } else if (arg == "--max-pending-per-address") {
        options.admission.max_pending_per_address = positive(value(), 1);
      } else if (arg == "--login-timeout") {
        options.login_timeout = std::chrono::seconds(positive(value(), 1));
      } else if (arg == "--request-timeout") {
        options.request_timeout = std::chrono::seconds(positive(value(), 1));
      } else if (arg == "--idle-timeout") {
        options.idle_timeout = std::chrono::seconds(positive(value(), 1));
      } else if (arg == "--shutdown-grace") {
        options.shutdown_grace = std::chrono::seconds(positive(value(), 0));
      } else {
        throw std::invalid_argument("unknown argument " + arg);
      }
    }
    options.encryption = varrow::host::tds::encryption_settings(tls);
    if (!options.login.password) {
      if (const char* password = std::getenv("VARROW_PASSWORD")) {
        options.login.password = checked_password(password, "VARROW_PASSWORD");
      }
    }
  } catch (const varrow::host::tds::TlsSetupError& e) {
    return fail(e.what());  // names the certificate or key file
  } catch (const std::exception& e) {
    return fail(std::string(e.what()) + "\nTry 'varrowd --help'.");
  }

  try {
    const varrow::host::Library library(library_path.empty() ? varrow::host::default_library_path()
                                                             : library_path);
    varrow::host::tds::Server server(library, options);
    const std::uint16_t port = server.listen();
    // Checked on the address actually bound, whatever name it was given by.
    const std::string missing = varrow::host::tds::missing_for_network(
        options.login.password.has_value(), options.encryption);
    if (!missing.empty() && !server.loopback_only()) {
      return fail(
          "beyond loopback addresses varrowd listens only with a password, TLS and "
          "--encryption required; missing: " +
          missing);
    }
    running = &server;
    std::signal(SIGINT, request_stop);
    std::signal(SIGTERM, request_stop);
    std::signal(SIGPIPE, SIG_IGN);
    std::cerr << "varrowd: varrowd " << varrow::VERSION << " started" << std::endl;
    std::cout << "varrowd listening on " << options.address << ":" << port << std::endl;
    std::cout << "varrowd " << varrow::host::tds::encryption_offered(options.encryption)
              << std::endl;
    const int still_running = server.run();
    if (still_running > 0) {
      // Their threads still use the server and the library: end the process
      // here rather than unload the library under them.
      std::cout << "varrowd stopped with " << still_running
                << " call(s) still running after the shutdown grace" << std::endl;
      std::cerr << std::flush;
      std::_Exit(1);
    }
    std::cout << "varrowd stopped" << std::endl;
    return 0;
  } catch (const std::exception& e) {
    return fail(e.what());
  }
}
