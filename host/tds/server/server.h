// The listening side of varrowd: one joinable thread per connection, each
// with its own Session over a Transport. Connections are admitted by
// Admission's caps; each is bounded in request size and in time: the whole
// login, each whole request once begun, and the wait between requests.
#pragma once

#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ods/library.h"
#include "tds/server/admission.h"
#include "tds/server/channel.h"
#include "tds/server/metrics.h"
#include "tds/server/proxy_networks.h"
#include "tds/server/transport.h"
#include "tds/session/session.h"

namespace varrow::host::tds {

// An address to listen on: a numeric IPv4 or IPv6 address, or a name.
struct Endpoint {
  std::string address;
  std::uint16_t port = 0;
};

// "127.0.0.1:1433", "[::1]:1433".
std::string endpoint_text(const std::string& address, std::uint16_t port);

// What a reload may change: the password, and the TLS certificate and key.
// A connection keeps the ones it started with.
struct Reloadable {
  LoginPolicy login;
  EncryptionSettings encryption;
};

struct ServerOptions {
  std::vector<Endpoint> listen{{"127.0.0.1", 1433}};
  LoginPolicy login;
  EncryptionSettings encryption;       // TLS, and whether clients must use it
  std::optional<std::string> key_dir;  // the folder key files must lie in; none: no key files
  AdmissionLimits admission;
  std::size_t max_request = 4 << 20;         // bytes of one request
  std::chrono::seconds login_timeout{10};    // connect to LOGINACK
  std::chrono::seconds idle_timeout{300};    // between requests
  std::chrono::seconds request_timeout{30};  // one whole request, or one reply
  std::chrono::seconds shutdown_grace{10};   // for running calls on stop
  // After request_drain(), how long to go on serving before the stop, while
  // draining() tells load balancers to send no more clients.
  std::chrono::seconds stop_delay{0};
  Networks proxy_from;      // balancers whose connections begin with a PROXY header
  bool reuse_port = false;  // SO_REUSEPORT: instances may share the port
};

class Server {
 public:
  Server(const Library& library, ServerOptions options);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Binds and listens on every address; returns them as bound, in order
  // ("127.0.0.1:43145" when port 0 was asked). Throws std::runtime_error.
  std::vector<std::string> listen();

  // True when every address listened on is a loopback address.
  bool loopback_only() const;

  // Accepts connections until request_stop(), then closes every connection
  // and waits for their threads, up to the shutdown grace. Returns the number
  // of connections still running a call after it: when that is not zero, the
  // caller must end the process without destroying the server or the library
  // (those threads still use both).
  int run();

  // Makes run() stop. Safe in a signal handler and from any thread.
  void request_stop();
  // Makes run() stop after the stop delay, or at once when it is 0 or when
  // a drain was requested already. Safe in a signal handler.
  void request_drain();
  bool draining() const { return drain_requested_.load(); }

  // Makes run() call `reload` (set before run()) on its own thread, between
  // accepts. Safe in a signal handler and from any thread.
  void request_reload();
  void on_reload(std::function<void()> reload) { reload_ = std::move(reload); }
  // Called on run()'s thread once it is to stop: when a drain begins, or
  // when it stops accepting connections without one.
  void on_stopping(std::function<void()> stopping) { stopping_hook_ = std::move(stopping); }
  // What connections accepted from now on use; those open keep theirs.
  void replace(Reloadable settings);
  // The certificate new connections get; none without TLS.
  std::shared_ptr<const TlsContext> certificate() const { return current()->encryption.tls; }

  Metrics& metrics() { return metrics_; }

 private:
  struct Connection {
    int fd = -1;
    std::string peer;
    std::thread thread;
    bool finished = false;
  };

  // Accepts a connection waiting on `listener`, if any, backing off while
  // there are no descriptors to take it with.
  void accept_one(int listener, std::chrono::milliseconds& backoff);
  // Admits `fd`, or refuses and closes it. Throws (no memory) only before it
  // has taken the descriptor, which is then the caller's to close.
  void start(int fd, const sockaddr_storage& peer, socklen_t peer_length);
  void serve(Admission::Id id, int fd, std::string peer, std::uint16_t spid,
             Deadline login_deadline);
  // Takes the PROXY header of a connection from a listed balancer and puts
  // its client in `peer`, or refuses one that lacks it (and a header from
  // anyone else); false: the connection is to be closed.
  bool take_proxy_header(Admission::Id id, int fd, std::string& peer, std::uint16_t spid,
                         Deadline deadline) noexcept;
  void finish(Admission::Id id);
  void join_finished();
  void wake();

  std::shared_ptr<const Reloadable> current() const;

  const Library& library_;
  ServerOptions options_;
  mutable std::mutex settings_mutex_;  // guards settings_
  std::shared_ptr<const Reloadable> settings_;
  std::function<void()> reload_;
  std::function<void()> stopping_hook_;
  std::atomic<bool> reload_requested_{false};
  std::atomic<bool> drain_requested_{false};
  CallGuard call_guard_;
  Metrics metrics_;
  std::vector<int> listeners_;
  int wake_fd_ = -1;  // eventfd: stop requested, or a connection finished
  std::atomic<bool> stopping_{false};
  Admission::Id next_id_ = 1;
  std::uint16_t next_spid_ = 51;

  std::mutex login_mutex_;  // held over each login attempt, before mutex_
  std::mutex mutex_;        // guards what follows
  std::condition_variable finished_;
  Admission admission_;
  std::map<Admission::Id, Connection> connections_;
};

// True when every address `address` resolves to (as listen() resolves it)
// is a loopback address: 127.0.0.0/8, ::1, or 127.0.0.0/8 mapped into IPv6.
bool is_loopback(const std::string& address);
bool is_loopback(const sockaddr* address);

}  // namespace varrow::host::tds
