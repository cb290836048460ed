#include "tds/server.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <iostream>
#include <stdexcept>
#include <thread>

namespace varrow::host::tds {
namespace {

bool send_all(int fd, const Bytes& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

bool is_loopback(const std::string& address) {
  return address == "localhost" || address == "::1" || address.rfind("127.", 0) == 0;
}

Server::~Server() {
  if (listener_ >= 0) ::close(listener_);
}

std::uint16_t Server::listen() {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string port = std::to_string(options_.port);
  if (::getaddrinfo(options_.address.c_str(), port.c_str(), &hints, &found) != 0 || !found) {
    throw std::runtime_error("cannot resolve " + options_.address);
  }
  listener_ = ::socket(found->ai_family, found->ai_socktype, found->ai_protocol);
  const int yes = 1;
  ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  const bool bound = listener_ >= 0 && ::bind(listener_, found->ai_addr, found->ai_addrlen) == 0 &&
                     ::listen(listener_, 128) == 0;
  ::freeaddrinfo(found);
  if (!bound) {
    throw std::runtime_error("cannot listen on " + options_.address + ":" + port + ": " +
                             std::strerror(errno));
  }
  sockaddr_storage local{};
  socklen_t length = sizeof local;
  ::getsockname(listener_, reinterpret_cast<sockaddr*>(&local), &length);
  return ntohs(local.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&local)->sin6_port
                                           : reinterpret_cast<sockaddr_in*>(&local)->sin_port);
}

void Server::run(const std::atomic<bool>& stop) {
  std::uint16_t next_spid = 51;
  while (!stop.load()) {
    pollfd ready{listener_, POLLIN, 0};
    if (::poll(&ready, 1, 200) <= 0) continue;
    const int fd = ::accept(listener_, nullptr, nullptr);
    if (fd < 0) continue;
    if (active_.load() >= options_.max_connections) {
      ::close(fd);  // over the cap: the client sees the connection closed
      continue;
    }
    ++active_;
    {
      std::lock_guard<std::mutex> lock(open_mutex_);
      open_.insert(fd);
    }
    const std::uint16_t spid = next_spid++;
    if (next_spid == 0) next_spid = 51;
    std::thread([this, fd, spid] { serve(fd, spid); }).detach();
  }
  {
    std::lock_guard<std::mutex> lock(open_mutex_);
    for (int fd : open_)
      ::shutdown(fd, SHUT_RDWR);
  }
  while (active_.load() > 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

void Server::serve(int fd, std::uint16_t spid) {
  Session session(library_, options_.login, spid);
  MessageAssembler assembler(options_.max_request);
  std::uint8_t buffer[16384];
  const timeval send_timeout{options_.request_timeout_seconds, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &send_timeout, sizeof send_timeout);
  // Each reply is written whole: send it at once rather than wait for an ACK.
  const int no_delay = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &no_delay, sizeof no_delay);
  // The receive timeout bounds both the wait for the next request and the
  // wait for the rest of one; it changes only when that state does, so a
  // request costs one receive and one send.
  auto receive_timeout = [fd](int seconds) {
    const timeval timeout{seconds, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  };
  bool waiting_for_rest = false;
  receive_timeout(options_.idle_timeout_seconds);
  try {
    for (bool open = true; open;) {
      if (assembler.in_progress() != waiting_for_rest) {
        waiting_for_rest = assembler.in_progress();
        receive_timeout(waiting_for_rest ? options_.request_timeout_seconds
                                         : options_.idle_timeout_seconds);
      }
      const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) break;  // closed, failed, or idle or slow past its time
      assembler.feed(buffer, static_cast<std::size_t>(n));
      while (auto message = assembler.next()) {
        if (!send_all(fd, session.handle(*message)) || session.closing()) {
          open = false;
          break;
        }
      }
    }
  } catch (const std::exception& e) {
    // A malformed request, or no memory for it: only this connection ends.
    std::cerr << "varrowd: connection " << spid << " closed: " << e.what() << '\n';
  }
  {
    std::lock_guard<std::mutex> lock(open_mutex_);
    open_.erase(fd);
  }
  ::close(fd);
  --active_;
}

}  // namespace varrow::host::tds
