// varrowd: a TDS server through which SQL Server client drivers call the
// procedures of the library it loads.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "ods/library.h"
#include "tds/server/log.h"
#include "tds/server/metrics_http.h"
#include "tds/server/options.h"
#include "tds/server/server.h"
#include "tds/server/service_notify.h"
#include "tds/server/tls_options.h"
#include "varrow_version.h"

namespace {

// The server the signals reach: SIGINT stops it, SIGTERM drains it, SIGHUP
// reloads it.
std::atomic<varrow::host::tds::Server*> running{nullptr};

void request_stop(int) {
  if (varrow::host::tds::Server* server = running.load()) server->request_stop();
}

void request_drain(int) {
  if (varrow::host::tds::Server* server = running.load()) server->request_drain();
}

void request_reload(int) {
  if (varrow::host::tds::Server* server = running.load()) server->request_reload();
}

// Why /readyz says varrowd is not to be sent clients, or "". It answers
// only once varrowd listens with its library loaded.
std::string not_ready(const varrow::host::tds::Server& server) {
  if (server.draining()) return "stopping";
  const auto certificate = server.certificate();
  if (certificate && certificate->not_after() <= std::chrono::system_clock::now()) {
    return "the certificate has expired";
  }
  return "";
}

int fail(const std::string& message) {
  varrow::host::tds::log_event(varrow::host::tds::LogLevel::Error, message);
  return 1;
}

void info(const std::string& message, std::vector<varrow::host::tds::LogField> fields = {}) {
  varrow::host::tds::log_event(varrow::host::tds::LogLevel::Info, message, {}, fields);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace varrow::host::tds;
  // A SIGHUP before the server can reload (a renewal hook that fires early)
  // must not end varrowd.
  std::signal(SIGHUP, SIG_IGN);
  DaemonOptions daemon;
  if (const std::optional<int> status = parse_options(argc, argv, daemon, std::cout, std::cerr)) {
    return *status;
  }
  ServerOptions& options = daemon.server;
  set_log_format(daemon.log_format);
  try {
    Reloadable loaded = load_reloadable(daemon);
    options.login = std::move(loaded.login);
    options.encryption = std::move(loaded.encryption);
  } catch (const TlsSetupError& e) {
    return fail(e.what());  // names the certificate or key file
  } catch (const std::exception& e) {
    return fail(std::string(e.what()) + "\nTry 'varrowd --help'.");
  }
  const std::string& library_path = daemon.library;

  try {
    const varrow::host::Library library(library_path.empty() ? varrow::host::default_library_path()
                                                             : library_path);
    varrow::host::tds::Server server(library, options);
    if (daemon.check_config) {
      for (const Endpoint& where : options.listen) {
        const std::string missing =
            missing_for_network(options.login.password.has_value(), options.encryption);
        if (!missing.empty() && !is_loopback(where.address)) {
          return fail(
              "beyond loopback addresses varrowd listens only with a password, TLS and "
              "--encryption required; missing: " +
              missing);
        }
      }
      info("the configuration is valid");
      return 0;
    }
    const std::vector<std::string> addresses = server.listen();
    // Checked on the address actually bound, whatever name it was given by.
    const std::string missing = varrow::host::tds::missing_for_network(
        options.login.password.has_value(), options.encryption);
    if (!missing.empty() && !server.loopback_only()) {
      return fail(
          "beyond loopback addresses varrowd listens only with a password, TLS and "
          "--encryption required; missing: " +
          missing);
    }
    // Read again on SIGHUP; what fails to load leaves the settings as they were.
    server.on_reload([&server, &daemon] {
      notify_reloading();
      try {
        Reloadable loaded = load_reloadable(daemon);
        const std::string offered = encryption_offered(loaded.encryption);
        server.replace(std::move(loaded));
        server.metrics().reload(true);
        info("reloaded; " + offered);
      } catch (const std::exception& e) {
        server.metrics().reload(false);
        log_event(LogLevel::Error,
                  "reload failed, the previous settings stay: " + std::string(e.what()));
      }
      notify_ready();
    });
    server.on_stopping([] {
      info("stopping");
      notify_stopping();
    });
    std::optional<MetricsEndpoint> metrics;
    if (daemon.metrics_listen) {
      metrics.emplace([&server] { return server.metrics().render(); },
                      [&server] { return not_ready(server); });
      info("metrics on http://" + metrics->start(*daemon.metrics_listen) + "/metrics");
    }
    running = &server;
    std::signal(SIGHUP, request_reload);
    std::signal(SIGINT, request_stop);
    std::signal(SIGTERM, request_drain);
    std::signal(SIGPIPE, SIG_IGN);
    info(std::string("varrowd ") + varrow::VERSION + " started",
         {LogField{"version", varrow::VERSION}});
    info(encryption_offered(options.encryption));
    // Standard output too, for scripts that wait for the port.
    for (const std::string& address : addresses) {
      info("listening on " + address);
      std::cout << "varrowd listening on " << address << std::endl;
    }
    notify_ready();
    const int still_running = server.run();
    if (still_running > 0) {
      // Their threads still use the server and the library: end the process
      // here rather than unload the library under them.
      log_event(LogLevel::Error, "stopped with " + std::to_string(still_running) +
                                     " call(s) still running after the shutdown grace");
      std::_Exit(1);
    }
    info("stopped");
    return 0;
  } catch (const std::exception& e) {
    return fail(e.what());
  }
}
