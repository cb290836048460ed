#include "tds/server/proxy_reader.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdint>

#include "tds/wire/proxy_header.h"

namespace varrow::host::tds {
namespace {

ProxyOutcome refuse(std::string why) {
  return ProxyOutcome{true, "", std::move(why)};
}

// Waits for bytes and copies what has arrived to `data` without taking it:
// bytes, 0 when the peer closed, -1 on a failure or once `deadline` passed.
ssize_t peek(SocketTransport& socket, std::uint8_t* data, std::size_t size, Deadline deadline,
             IoStatus& waited) {
  for (;;) {
    waited = socket.wait(POLLIN, deadline);
    if (waited != IoStatus::Ok) return -1;
    const ssize_t n = ::recv(socket.fd(), data, size, MSG_PEEK);
    if (n >= 0) return n;
    if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) return -1;
  }
}

// Takes `size` bytes that have already arrived (a peek saw them).
bool take(SocketTransport& socket, std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::recv(socket.fd(), data, size, 0);
    if (n <= 0 && !(n < 0 && errno == EINTR)) return false;
    if (n > 0) data += n, size -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

ProxyOutcome read_proxy_header(SocketTransport& socket, bool trusted, Deadline deadline) {
  std::uint8_t header[MAX_PROXY_HEADER];
  IoStatus waited = IoStatus::Ok;
  if (!trusted) {
    const ssize_t n = peek(socket, header, 16, deadline, waited);
    if (n > 0 && may_be_proxy_header(header, static_cast<std::size_t>(n))) {
      return refuse("a PROXY header from an address --proxy-protocol-from does not list");
    }
    return {};
  }
  // Bytes of a header not yet whole are all the header's: they are taken as
  // they come, so that each wait is for bytes not seen yet.
  for (std::size_t have = 0;;) {
    const ssize_t n = peek(socket, header + have, sizeof header - have, deadline, waited);
    if (n < 0) {
      return refuse(waited == IoStatus::TimedOut ? "no whole PROXY header within the login time"
                                                 : "the connection broke in its PROXY header");
    }
    // A balancer's TCP health check connects and closes, sending nothing.
    if (n == 0) return refuse(have == 0 ? "" : "closed before its PROXY header ended");
    const ProxyHeader parsed = parse_proxy_header(header, have + static_cast<std::size_t>(n));
    switch (parsed.status) {
      case ProxyStatus::Malformed:
        return refuse(
            may_be_proxy_header(header, have + static_cast<std::size_t>(n))
                ? parsed.error
                : "no PROXY header, which --proxy-protocol-from requires of this address");
      case ProxyStatus::NeedMore:
        if (!take(socket, header + have, static_cast<std::size_t>(n))) {
          return refuse("the connection broke in its PROXY header");
        }
        have += static_cast<std::size_t>(n);
        continue;
      case ProxyStatus::Proxied:
      case ProxyStatus::Local:
        if (!take(socket, header + have, parsed.length - have)) {
          return refuse("the connection broke in its PROXY header");
        }
        return ProxyOutcome{false, parsed.source, ""};
    }
  }
}

}  // namespace varrow::host::tds
