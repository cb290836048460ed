#include "tds/server/options.h"

#include <CLI/CLI.hpp>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <ostream>
#include <stdexcept>

#include "varrow_version.h"

namespace varrow::host::tds {
namespace {

constexpr const char* AT_START = "Read at start only";
constexpr const char* ON_RELOAD = "Read at start, and again on SIGHUP (the files' contents)";

// Help text in lines that fit beside the option names.
std::string wrapped(const std::string& text, std::size_t width = 66) {
  std::string out, line;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find(' ', start);
    if (end == std::string::npos) end = text.size();
    const std::string word = text.substr(start, end - start);
    if (!line.empty() && line.size() + 1 + word.size() > width) {
      out += line + "\n";
      line.clear();
    }
    line += (line.empty() ? "" : " ") + word;
    start = end + 1;
  }
  return out + line;
}

// A whole number in decimal, nothing before or after it, within int.
std::optional<long long> whole_number(const std::string& text, long long least, long long most) {
  long long n = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, n);
  if (text.empty() || error != std::errc{} || stop != end || n < least || n > most) {
    return std::nullopt;
  }
  return n;
}

CLI::Validator at_least(int least) {
  return CLI::Validator(
      [least](std::string& text) -> std::string {
        if (whole_number(text, least, INT_MAX)) return "";
        return "'" + text + "' is not a whole number from " + std::to_string(least) + " to " +
               std::to_string(INT_MAX);
      },
      "");
}

CLI::Validator endpoint() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        try {
          parse_endpoint(text);
          return "";
        } catch (const std::invalid_argument& e) {
          return e.what();
        }
      },
      "");
}

CLI::Validator one_of(std::vector<std::string> values) {
  return CLI::Validator(
      [values](std::string& text) -> std::string {
        std::string list;
        for (const std::string& v : values) {
          if (text == v) return "";
          list += (list.empty() ? "" : ", ") + v;
        }
        return "'" + text + "' is not one of " + list;
      },
      "");
}

// The password as given, without the line end a file written on Windows
// leaves; an empty one is refused rather than taken as "no password".
SecretString checked_password(SecretString password, const std::string& source) {
  if (!password.empty() && password.back() == '\r') password.pop_back();
  if (password.empty()) throw std::invalid_argument(source + " holds an empty password");
  return password;
}

}  // namespace

Endpoint parse_endpoint(const std::string& text) {
  const auto colon = text.rfind(':');
  const auto bad = [&](const std::string& why) {
    return std::invalid_argument("'" + text + "' is not ADDR:PORT: " + why);
  };
  if (colon == std::string::npos || colon == 0) throw bad("an address and a port are needed");
  std::string address = text.substr(0, colon);
  if (address.front() == '[') {
    if (address.size() < 3 || address.back() != ']') throw bad("an IPv6 address ends with ']'");
    address = address.substr(1, address.size() - 2);
  } else if (address.find(':') != std::string::npos) {
    throw bad("an IPv6 address goes in brackets, [::1]:1433");
  }
  const std::optional<long long> port = whole_number(text.substr(colon + 1), 0, 65535);
  if (!port) throw bad("the port is a number from 0 to 65535");
  return Endpoint{address, static_cast<std::uint16_t>(*port)};
}

std::optional<int> parse_options(int argc, const char* const* argv, DaemonOptions& options,
                                 std::ostream& out, std::ostream& err) {
  ServerOptions& server = options.server;
  CLI::App app{
      "Serves the Varrow procedures to SQL Server client drivers over TDS 7.1 to 7.4, in TLS\n"
      "(TDS 7.x encryption or TDS 8.0 strict) when given a certificate. Procedures are called\n"
      "by RPC or from SQL batches; see varrow --help.",
      "varrowd"};
  app.get_formatter()->column_width(34);
  app.option_defaults()->always_capture_default();
  app.allow_config_extras(CLI::config_extras_mode::error);
  app.set_config("--config", "",
                 wrapped("options from a TOML or INI file, by the same names without the dashes "
                         "(max-connections = 64); the command line wins"));
  app.get_config_ptr()->type_name("FILE");
  bool version = false;
  app.add_flag("--version", version, wrapped("the version, and exit"));
  app.add_flag(
      "--check-config", options.check_config,
      wrapped("check the options and the files they name, then exit (0 when all is well)"));

  std::vector<std::string> listen;
  app.add_option(
         "--listen", listen,
         wrapped("where to listen, once per address ([::1]:1433 for IPv6; port 0 picks a free "
                 "port, printed on start-up)"))
      ->type_name("ADDR:PORT")
      ->default_str("127.0.0.1:1433")
      ->allow_extra_args(false)
      ->check(endpoint())
      ->group(AT_START);
  app.add_option("--library", options.library,
                 wrapped("procedure library (default: libvarrow.so beside varrowd)"))
      ->type_name("PATH")
      ->group(AT_START);
  std::string user;
  app.add_option("--user", user, wrapped("the login name to require"))
      ->type_name("NAME")
      ->group(AT_START);
  std::string key_dir;
  app.add_option(
         "--key-dir", key_dir,
         wrapped("the folder \"keyfile=PATH\" keys must name a regular file in, by an absolute "
                 "path (symbolic links followed while they stay inside); without it, calls with "
                 "a key file are refused"))
      ->type_name("DIR")
      ->group(AT_START);
  app.add_option(
         "--encryption", options.tls.encryption,
         wrapped("required (the default with a certificate): every connection in TLS, clients "
                 "that cannot encrypt are refused; optional: TLS for clients that ask for it; "
                 "off (the default without one): no TLS. Beyond loopback addresses varrowd "
                 "needs a password, a certificate and required."))
      ->type_name("off|optional|required")
      ->check(one_of({"off", "optional", "required"}))
      ->group(AT_START);
  int max_connections = server.admission.max_logged_in;
  int max_pending = server.admission.max_pending;
  int max_per_address = server.admission.max_pending_per_address;
  int login_timeout = static_cast<int>(server.login_timeout.count());
  int request_timeout = static_cast<int>(server.request_timeout.count());
  int idle_timeout = static_cast<int>(server.idle_timeout.count());
  int shutdown_grace = static_cast<int>(server.shutdown_grace.count());
  int stop_delay = static_cast<int>(server.stop_delay.count());
  const struct {
    const char* name;
    int* value;
    int least;
    const char* help;
  } numbers[] = {
      {"--max-connections", &max_connections, 1, "logged-in connections served at once"},
      {"--max-pending", &max_pending, 1,
       "connections still logging in at once; past it one of the address holding the most is "
       "closed"},
      {"--max-pending-per-address", &max_per_address, 1,
       "of those, from one client address (IPv6: one /64), counting those logging in for over "
       "a second"},
      {"--login-timeout", &login_timeout, 1, "seconds from connecting to logged in"},
      {"--request-timeout", &request_timeout, 1,
       "seconds for a whole request once begun, and for sending a reply"},
      {"--idle-timeout", &idle_timeout, 1, "close connections idle this many seconds"},
      {"--shutdown-grace", &shutdown_grace, 0,
       "on SIGTERM or SIGINT, seconds given to running calls before varrowd exits anyway"},
      {"--stop-delay", &stop_delay, 0,
       "on SIGTERM, seconds /readyz answers \"not ready\" while varrowd still accepts "
       "connections, before it stops (for a load balancer to stop sending it clients)"},
  };
  for (const auto& n : numbers) {
    app.add_option(n.name, *n.value, wrapped(n.help))
        ->type_name(n.least == 0 ? "SECONDS" : "N")
        ->check(at_least(n.least))
        ->group(AT_START);
  }
  std::string proxy_from;
  app.add_option("--proxy-protocol-from", proxy_from,
                 wrapped("the load balancers (IPv4 and IPv6 networks, CIDR[,CIDR...]) whose "
                         "connections begin with a PROXY header, v1 or v2, naming the client, "
                         "who then counts as the peer; required from them, refused from others"))
      ->type_name("CIDR,...")
      ->check(CLI::Validator(
          [](std::string& text) -> std::string {
            try {
              parse_networks(text);
              return "";
            } catch (const std::invalid_argument& e) {
              return e.what();
            }
          },
          ""))
      ->group(AT_START);
  app.add_flag("--reuse-port", server.reuse_port,
               wrapped("share the port with other varrowd instances (SO_REUSEPORT)"))
      ->group(AT_START);
  std::string metrics;
  app.add_option(
         "--metrics-listen", metrics,
         wrapped("serve /metrics (Prometheus), /healthz and /readyz over HTTP here (default: "
                 "off)"))
      ->type_name("ADDR:PORT")
      ->check(endpoint())
      ->group(AT_START);
  std::string log_format = "text";
  app.add_option("--log-format", log_format,
                 wrapped("text: one line per event; json: one JSON object per line"))
      ->type_name("text|json")
      ->check(one_of({"text", "json"}))
      ->group(AT_START);
  std::string password_file;
  app.add_option(
         "--password-file", password_file,
         wrapped("the password, from the file's first line; or set VARROW_PASSWORD (read at "
                 "start only). Without a password any login is accepted and only loopback "
                 "addresses may be used."))
      ->type_name("FILE")
      ->group(ON_RELOAD);
  app.add_option(
         "--tls-cert", options.tls.cert_file,
         wrapped("the server certificate, PEM, followed by the rest of its chain (all of it is "
                 "sent to clients)"))
      ->type_name("FILE")
      ->group(ON_RELOAD);
  app.add_option(
         "--tls-key", options.tls.key_file,
         wrapped("its private key, PEM, unencrypted (may be the same file); no access for "
                 "others, group read only for root's group or varrowd's (chmod 600 or 640)"))
      ->type_name("FILE")
      ->group(ON_RELOAD);
  app.footer(wrapped(
      "SIGHUP reads the password file, certificate and key again: new connections get them, "
      "open ones go on as they were, and a file that fails to load leaves the old settings in "
      "place. SIGTERM and SIGINT stop varrowd.",
      90));

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    out << app.help();
    return 0;
  } catch (const CLI::ParseError& e) {
    err << "varrowd: " << e.what() << "\nTry 'varrowd --help'.\n";
    return 1;
  }
  if (version) {
    out << "varrowd " << varrow::VERSION << '\n';
    return 0;
  }
  server.listen.clear();
  for (const std::string& where : listen)
    server.listen.push_back(parse_endpoint(where));
  if (server.listen.empty()) server.listen.push_back(Endpoint{"127.0.0.1", 1433});
  if (!user.empty()) server.login.user = user;
  if (!key_dir.empty()) server.key_dir = key_dir;
  if (!password_file.empty()) options.password_file = password_file;
  if (!metrics.empty()) options.metrics_listen = parse_endpoint(metrics);
  if (!proxy_from.empty()) server.proxy_from = parse_networks(proxy_from);
  options.log_format = log_format == "json" ? LogFormat::Json : LogFormat::Text;
  server.admission.max_logged_in = max_connections;
  server.admission.max_pending = max_pending;
  server.admission.max_pending_per_address = max_per_address;
  server.login_timeout = std::chrono::seconds(login_timeout);
  server.request_timeout = std::chrono::seconds(request_timeout);
  server.idle_timeout = std::chrono::seconds(idle_timeout);
  server.shutdown_grace = std::chrono::seconds(shutdown_grace);
  server.stop_delay = std::chrono::seconds(stop_delay);
  return std::nullopt;
}

Reloadable load_reloadable(const DaemonOptions& options) {
  Reloadable loaded;
  loaded.login.user = options.server.login.user;
  if (options.password_file) {
    const std::string& path = *options.password_file;
    std::ifstream file(path);
    SecretString password;
    if (!file || !std::getline(file, password)) {
      throw std::invalid_argument("cannot read the password file " + path);
    }
    loaded.login.password = checked_password(password, "the password file " + path);
  } else if (const char* password = std::getenv("VARROW_PASSWORD")) {
    loaded.login.password = checked_password(password, "VARROW_PASSWORD");
  }
  loaded.encryption = encryption_settings(options.tls);
  return loaded;
}

}  // namespace varrow::host::tds
