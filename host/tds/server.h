// The listening side of varrowd: one thread per connection, each with its
// own Session, bounded in number, in request size and in idle time.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>

#include "ods/library.h"
#include "tds/session.h"

namespace varrow::host::tds {

struct ServerOptions {
  std::string address = "127.0.0.1";
  std::uint16_t port = 1433;
  LoginPolicy login;
  int max_connections = 64;
  std::size_t max_request = 4 << 20;  // bytes of one request
  int idle_timeout_seconds = 300;     // between requests
  int request_timeout_seconds = 30;   // for the rest of a request once begun
};

class Server {
 public:
  Server(const Library& library, ServerOptions options)
      : library_(library), options_(std::move(options)) {}
  ~Server();

  // Binds and listens; returns the port (the one chosen when 0 was asked).
  // Throws std::runtime_error.
  std::uint16_t listen();

  // Accepts connections until `stop` is set, then closes every connection
  // and returns once all have ended.
  void run(const std::atomic<bool>& stop);

 private:
  void serve(int fd, std::uint16_t spid);

  const Library& library_;
  ServerOptions options_;
  int listener_ = -1;
  std::atomic<int> active_{0};
  std::mutex open_mutex_;
  std::set<int> open_;  // connections being served, to close on stop
};

// True for 127.0.0.0/8, ::1 and localhost.
bool is_loopback(const std::string& address);

}  // namespace varrow::host::tds
