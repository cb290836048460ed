#include "tds/server/server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <malloc.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "ods/wipe.h"
#include "tds/server/access_log.h"
#include "tds/server/channel_transport.h"
#include "tds/server/counted_transport.h"
#include "tds/server/log.h"
#include "tds/server/proxy_reader.h"
#include "tds/session/error_numbers.h"
#include "tds/session/key_files.h"
#include "tds/session/login_policy.h"
#include "text/log_escape.h"
#include "varrow_version.h"

namespace varrow::host::tds {
namespace {

// SQL Server's number for a login past the connection limit.
// accept() without a descriptor to give waits this long at first, doubling
// up to the most, instead of spinning on a listener that stays readable.
constexpr std::chrono::milliseconds FIRST_BACKOFF{50};
constexpr std::chrono::milliseconds MOST_BACKOFF{1000};

// A server event without a connection.
void log(const std::string& line, LogLevel level = LogLevel::Warning) {
  log_event(level, line);
}

// Why a connection ended, for the log; never throws, since it runs where
// nothing may escape (without memory for the line, the line is lost).
void log_closed(const LogWhere& where, std::string_view why) noexcept {
  try {
    log_event(LogLevel::Warning, "connection closed: " + log_escape(why), where);
  } catch (...) {
  }
}

// The peer's address as text; IPv4 peers of an IPv6 listener as plain IPv4,
// so that one address counts once whichever way it came.
std::string peer_text(const sockaddr_storage& peer, socklen_t length) {
  char host[NI_MAXHOST] = "?";
  if (peer.ss_family == AF_INET6) {
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&peer);
    if (IN6_IS_ADDR_V4MAPPED(&v6->sin6_addr)) {
      in_addr v4{};
      std::memcpy(&v4, v6->sin6_addr.s6_addr + 12, sizeof v4);
      ::inet_ntop(AF_INET, &v4, host, sizeof host);
      return host;
    }
  }
  ::getnameinfo(reinterpret_cast<const sockaddr*>(&peer), length, host, sizeof host, nullptr, 0,
                NI_NUMERICHOST);
  return host;
}

// 127.0.0.0/8, from an address in host byte order (glibc's headers have
// the network number, IN_LOOPBACKNET, but not Linux's IN_LOOPBACK test).
bool loopback_v4(std::uint32_t address) {
  return address >> 24 == IN_LOOPBACKNET;
}

Bytes too_many_connections(std::uint32_t version, std::uint16_t spid, int limit) {
  return login_refused(version, spid,
                       "Could not connect because the maximum number of '" + std::to_string(limit) +
                           "' user connections has already been reached.",
                       TOO_MANY_CONNECTIONS, 20);
}

// SQL Server answers a login to a locked account with 18486; varrowd locks
// out an address, not an account, and keeps 18456, the number drivers and
// people know for a refused login, with the time left in its text.
Bytes locked_out(std::uint32_t version, std::uint16_t spid, const std::string& key,
                 std::chrono::seconds left) {
  return login_refused(version, spid,
                       "Login failed: logins from " + key + " are refused for " +
                           std::to_string(left.count()) +
                           (left.count() == 1 ? " more second" : " more seconds") +
                           " after repeated failed logins.");
}

}  // namespace

bool is_loopback(const sockaddr* address) {
  if (address->sa_family == AF_INET) {
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(address);
    return loopback_v4(ntohl(v4->sin_addr.s_addr));
  }
  if (address->sa_family == AF_INET6) {
    const in6_addr& v6 = reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
    if (IN6_IS_ADDR_LOOPBACK(&v6)) return true;
    if (IN6_IS_ADDR_V4MAPPED(&v6)) {
      std::uint32_t v4 = 0;
      std::memcpy(&v4, v6.s6_addr + 12, sizeof v4);
      return loopback_v4(ntohl(v4));
    }
  }
  return false;
}

std::string endpoint_text(const std::string& address, std::uint16_t port) {
  const bool v6 = address.find(':') != std::string::npos;
  return (v6 ? "[" + address + "]" : address) + ":" + std::to_string(port);
}

bool is_loopback(const std::string& address) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE;
  addrinfo* found = nullptr;
  if (::getaddrinfo(address.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
    return false;
  }
  bool loopback = true;
  for (const addrinfo* a = found; a != nullptr; a = a->ai_next)
    loopback = loopback && is_loopback(a->ai_addr);
  ::freeaddrinfo(found);
  return loopback;
}

Server::Server(const Library& library, ServerOptions options)
    : library_(library),
      options_(std::move(options)),
      settings_(
          std::make_shared<const Reloadable>(Reloadable{options_.login, options_.encryption})),
      call_guard_(KeyFilePolicy(options_.key_dir).guard()),
      metrics_(varrow::VERSION),
      admission_(options_.admission) {
  wake_fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake_fd_ < 0) throw std::runtime_error(std::string("eventfd: ") + std::strerror(errno));
}

Server::~Server() {
  for (const int fd : listeners_)
    ::close(fd);
  ::close(wake_fd_);
}

std::vector<std::string> Server::listen() {
  std::vector<std::string> bound;
  for (const Endpoint& where : options_.listen) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string port = std::to_string(where.port);
    const std::string asked = endpoint_text(where.address, where.port);
    if (::getaddrinfo(where.address.c_str(), port.c_str(), &hints, &found) != 0 || !found) {
      throw std::runtime_error("cannot resolve " + where.address);
    }
    const int fd = ::socket(found->ai_family, found->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK,
                            found->ai_protocol);
    if (fd >= 0) listeners_.push_back(fd);
    const int yes = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    // An IPv6 address means that address alone: IPv4 has --listen of its own.
    if (found->ai_family == AF_INET6) ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &yes, sizeof yes);
    if (options_.reuse_port) ::setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &yes, sizeof yes);
    const bool ok =
        fd >= 0 && ::bind(fd, found->ai_addr, found->ai_addrlen) == 0 && ::listen(fd, 128) == 0;
    ::freeaddrinfo(found);
    if (!ok) throw std::runtime_error("cannot listen on " + asked + ": " + std::strerror(errno));
    sockaddr_storage local{};
    socklen_t length = sizeof local;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length);
    bound.push_back(endpoint_text(
        peer_text(local, length),
        ntohs(local.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&local)->sin6_port
                                          : reinterpret_cast<sockaddr_in*>(&local)->sin_port)));
  }
  return bound;
}

bool Server::loopback_only() const {
  for (const int fd : listeners_) {
    sockaddr_storage local{};
    socklen_t length = sizeof local;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0 ||
        !is_loopback(reinterpret_cast<const sockaddr*>(&local))) {
      return false;
    }
  }
  return true;
}

void Server::wake() {
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = ::write(wake_fd_, &one, sizeof one);
}

void Server::request_reload() {
  reload_requested_.store(true);
  wake();
}

void Server::replace(Reloadable settings) {
  auto next = std::make_shared<const Reloadable>(std::move(settings));
  std::lock_guard<std::mutex> lock(settings_mutex_);
  settings_.swap(next);
}

std::shared_ptr<const Reloadable> Server::current() const {
  std::lock_guard<std::mutex> lock(settings_mutex_);
  return settings_;
}

void Server::request_drain() {
  if (drain_requested_.exchange(true) || options_.stop_delay.count() == 0) stopping_.store(true);
  wake();
}

void Server::request_stop() {
  stopping_.store(true);
  wake();
}

int Server::run() {
  std::chrono::milliseconds backoff{0};
  std::vector<pollfd> ready;
  std::optional<Deadline> stop_at;
  while (!stopping_.load()) {
    if (drain_requested_.load() && !stop_at) {
      stop_at = Clock::now() + options_.stop_delay;
      if (stopping_hook_) stopping_hook_();
    }
    if (stop_at && Clock::now() >= *stop_at) {
      stopping_.store(true);
      break;
    }
    ready.assign(1, pollfd{wake_fd_, POLLIN, 0});
    for (const int fd : listeners_)
      ready.push_back(pollfd{fd, POLLIN, 0});
    // While backing off, only a wake-up (a stop, or a connection that ended
    // and gave its descriptor back) ends the wait early.
    // Waits no longer than a back-off, or than a drain has left.
    int wait = backoff.count() > 0 ? static_cast<int>(backoff.count()) : -1;
    if (stop_at) {
      const auto left = std::max<long long>(
          0, std::chrono::ceil<std::chrono::milliseconds>(*stop_at - Clock::now()).count());
      wait = static_cast<int>(wait < 0 ? left : std::min<long long>(wait, left));
    }
    const int n = ::poll(ready.data(), backoff.count() > 0 ? 1 : ready.size(), std::max(wait, -1));
    if (n < 0 && errno != EINTR) {
      log(std::string("poll failed: ") + std::strerror(errno));
      break;
    }
    const bool backing_off = backoff.count() > 0;
    if ((ready[0].revents & POLLIN) != 0) {
      std::uint64_t count = 0;
      [[maybe_unused]] const ssize_t r = ::read(wake_fd_, &count, sizeof count);
      join_finished();
      if (reload_requested_.exchange(false) && reload_) reload_();
      // A connection that ended gave a descriptor back: try at once.
      if (!backing_off || stopping_.load()) continue;
    }
    // Out of a back-off every listener is tried; otherwise those with a
    // connection waiting.
    for (std::size_t i = 1; i < ready.size(); ++i) {
      if (backing_off || (ready[i].revents & POLLIN) != 0) accept_one(ready[i].fd, backoff);
    }
  }

  if (stopping_hook_ && !stop_at) stopping_hook_();
  // Stop: end every connection at its next read or write (a call already
  // running finishes first), and wait for them, but not forever.
  std::unique_lock<std::mutex> lock(mutex_);
  for (auto& [id, connection] : connections_) {
    if (!connection.finished) ::shutdown(connection.fd, SHUT_RDWR);
  }
  finished_.wait_for(lock, options_.shutdown_grace, [this] {
    for (const auto& entry : connections_) {
      if (!entry.second.finished) return false;
    }
    return true;
  });
  lock.unlock();
  join_finished();
  lock.lock();
  for (auto& entry : connections_)
    entry.second.thread.detach();  // the caller ends the process
  return static_cast<int>(connections_.size());
}

void Server::accept_one(int listener, std::chrono::milliseconds& backoff) {
  sockaddr_storage peer{};
  socklen_t length = sizeof peer;
  const int fd = ::accept4(listener, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
  if (fd < 0) {
    if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
      if (backoff.count() == 0) {
        log(std::string("cannot accept connections: ") + std::strerror(errno) +
            "; waiting for connections to end");
      }
      backoff = backoff.count() == 0 ? FIRST_BACKOFF : std::min(backoff * 2, MOST_BACKOFF);
    } else {
      backoff = std::chrono::milliseconds(0);  // EAGAIN, ECONNABORTED, ...: try the next
    }
    return;
  }
  backoff = std::chrono::milliseconds(0);
  try {
    start(fd, peer, length);
  } catch (...) {
    // No memory to take the connection in (start() owns the descriptor
    // only once it has a place for it): refuse it, serve the others.
    ::close(fd);
  }
}

void Server::start(int fd, const sockaddr_storage& peer, socklen_t peer_length) {
  const std::string address = peer_text(peer, peer_length);
  const auto now = Clock::now();
  std::lock_guard<std::mutex> lock(mutex_);
  const Admission::Id id = next_id_++;
  const Admission::Decision decision = admission_.arrive(id, address, now);
  if (decision.verdict != Admission::Verdict::Admit) {
    // Closed without a word: the client sees the connection end.
    ::close(fd);
    metrics_.connection_refused();
    return;
  }
  metrics_.connection_admitted();
  if (decision.evict) {
    metrics_.eviction();
    const auto oldest = connections_.find(*decision.evict);
    if (oldest != connections_.end() && !oldest->second.finished) {
      ::shutdown(oldest->second.fd, SHUT_RDWR);
    }
  }
  const std::uint16_t spid = next_spid_++;
  if (next_spid_ == 0) next_spid_ = 51;
  try {
    Connection& connection = connections_[id];
    connection.fd = fd;
    connection.peer = address;
    connection.thread =
        std::thread(&Server::serve, this, id, fd, address, spid, now + options_.login_timeout);
  } catch (const std::exception& e) {
    // No thread (or no memory for one): refuse this connection only.
    admission_.leave(id);
    connections_.erase(id);
    ::close(fd);
    try {
      log("cannot serve a connection from " + address + ": " + e.what());
    } catch (...) {
    }
  }
}

void Server::serve(Admission::Id id, int fd, std::string peer, std::uint16_t spid,
                   Deadline login_deadline) {
  if (!take_proxy_header(id, fd, peer, spid, login_deadline)) {
    metrics_.connection_ended(false, 0, 0);
    return finish(id);
  }
  ConnectionLog record(spid, peer, metrics_);  // the client a balancer named, if it did
  ByteCounts bytes;
  std::string why = "client disconnected";
  bool logged_in = false;
  try {
    // Each reply is written whole: send it at once rather than wait for an ACK.
    const int no_delay = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &no_delay, sizeof no_delay);
    SocketTransport plain_socket(fd);
    CountedTransport socket(plain_socket, bytes);
    // PRELOGIN and TLS happen inside the channel: the session's packets
    // reach it in clear, its replies leave encrypted when the client's do.
    // The settings of the moment stay this connection's, whatever reloads.
    const std::shared_ptr<const Reloadable> settings = current();
    ChannelTransport channel(socket, settings->encryption, spid, options_.max_request);
    Session session(library_, settings->login, spid, record.counting(call_guard_));
    // Set once a request's first bytes have arrived: the whole of it must
    // arrive by then, however slowly it trickles in.
    bool request_begun = false;
    Deadline request_deadline{};
    for (bool open = true; open;) {
      const Deadline deadline = !logged_in      ? login_deadline
                                : request_begun ? request_deadline
                                                : Clock::now() + options_.idle_timeout;
      const IoStatus status = channel.receive(deadline);
      if (status != IoStatus::Ok) {  // closed, failed, or out of time
        why = channel.failure().empty()
                  ? why_ended(status, logged_in, request_begun, stopping_.load())
                  : channel.failure();
        if (!channel.failure().empty()) log_closed(record.where(), channel.failure());
        break;
      }
      while (open) {
        std::optional<Message> message = channel.next_message();
        if (!message) break;
        if (logged_in) record.request();
        // A login is checked against its address's lockout, answered and
        // counted under one lock, so that logins sent at once on many
        // connections each meet the failures of those before them.
        std::unique_lock<std::mutex> attempt(login_mutex_, std::defer_lock);
        std::chrono::seconds refused{0};
        if (!logged_in && message->type == PACKET_LOGIN7) {
          attempt.lock();
          std::lock_guard<std::mutex> lock(mutex_);
          refused = admission_.refused_for(peer, Clock::now());
        }
        Bytes reply = refused.count() > 0
                          ? locked_out(session.version(), spid, admission_key(peer), refused)
                          : session.handle(*message);
        if (refused.count() > 0) {
          record.locked_out(admission_key(peer), refused);
          open = false;
        } else if (!logged_in && session.logged_in()) {
          std::lock_guard<std::mutex> lock(mutex_);
          admission_.login_succeeded(peer);
          if (admission_.log_in(id)) {
            logged_in = true;
            channel.logged_in();
            record.logged_in(session, channel.channel());
          } else {
            reply = too_many_connections(session.version(), spid, options_.admission.max_logged_in);
            record.too_many_connections();
            open = false;
          }
        } else if (!logged_in && session.closing()) {
          std::chrono::seconds lockout;
          {
            std::lock_guard<std::mutex> lock(mutex_);
            lockout = admission_.login_failed(peer, Clock::now());
          }
          record.login_failed(session, admission_key(peer), lockout);
        }
        if (attempt.owns_lock()) attempt.unlock();  // not held while the reply is sent
        if (!reply.empty() &&
            channel.write(reply.data(), reply.size(), Clock::now() + options_.request_timeout) !=
                IoStatus::Ok) {
          why = "a reply could not be sent";
          open = false;
        }
        if (session.closing()) open = false;
      }
      if (channel.in_progress() && !request_begun) {
        request_deadline = Clock::now() + options_.request_timeout;
      }
      request_begun = channel.in_progress();
    }
    record.handshake(channel.channel());
  } catch (const std::exception& e) {
    // A malformed request, or no memory for it: only this connection ends.
    log_closed(record.where(), e.what());
    try {
      why = e.what();
    } catch (...) {
    }
  } catch (...) {
    // Whatever else is thrown, this thread must not end the process.
    log_closed(record.where(), "an unexpected failure");
  }
  record.ended(why, bytes);
  finish(id);
}

bool Server::take_proxy_header(Admission::Id id, int fd, std::string& peer, std::uint16_t spid,
                               Deadline deadline) noexcept {
  try {
    SocketTransport socket(fd);
    const ProxyOutcome header =
        read_proxy_header(socket, in_networks(options_.proxy_from, peer), deadline);
    if (header.refused) {
      if (!header.failure.empty()) log_closed(LogWhere{spid, peer}, header.failure);
      return false;
    }
    if (header.client.empty()) return true;  // the balancer's own connection, or not a balancer's
    std::lock_guard<std::mutex> lock(mutex_);
    // Refused as a newcomer from the client's address would be: closed without a word.
    if (admission_.readdress(id, header.client, Clock::now()) != Admission::Verdict::Admit) {
      return false;
    }
    peer = header.client;
    connections_.at(id).peer = peer;
    return true;
  } catch (...) {
    log_closed(LogWhere{spid, peer}, "no memory for its PROXY header");
    return false;
  }
}

void Server::finish(Admission::Id id) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    admission_.leave(id);
    Connection& connection = connections_.at(id);
    // Closed under the lock, so that a stop or an eviction never shuts down
    // a descriptor that has meanwhile been reused.
    ::close(connection.fd);
    connection.finished = true;
  }
  finished_.notify_all();
  wake();
#if defined(__GLIBC__)
  // Give the memory a large request took back to the system rather than
  // keep it in the allocator's free lists for good.
  ::malloc_trim(0);
#endif
}

void Server::join_finished() {
  std::vector<std::thread> done;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = connections_.begin(); it != connections_.end();) {
      if (it->second.finished) {
        done.push_back(std::move(it->second.thread));
        it = connections_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (std::thread& thread : done)
    thread.join();
}

}  // namespace varrow::host::tds
