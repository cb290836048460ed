#include "tds/server/transport.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

namespace varrow::host::tds {

SocketTransport::SocketTransport(int fd) : fd_(fd) {
  const int flags = ::fcntl(fd_, F_GETFL);
  if (flags >= 0) ::fcntl(fd_, F_SETFL, flags | O_NONBLOCK);
}

IoStatus SocketTransport::wait(short events, Deadline deadline) const {
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return IoStatus::TimedOut;
    pollfd ready{fd_, events, 0};
    // poll takes an int of milliseconds: wait in steps of at most a minute.
    const int n = ::poll(&ready, 1, static_cast<int>(std::min<long long>(left.count(), 60000)));
    if (n > 0) return (ready.revents & POLLNVAL) != 0 ? IoStatus::Failed : IoStatus::Ok;
    if (n < 0 && errno != EINTR) return IoStatus::Failed;
  }
}

IoResult SocketTransport::read(std::uint8_t* data, std::size_t size, Deadline deadline) {
  for (;;) {
    const ssize_t n = ::recv(fd_, data, size, 0);
    if (n > 0) return {IoStatus::Ok, static_cast<std::size_t>(n)};
    if (n == 0) return {IoStatus::Closed, 0};
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return {IoStatus::Failed, 0};
    const IoStatus waited = wait(POLLIN, deadline);
    if (waited != IoStatus::Ok) return {waited, 0};
  }
}

IoStatus SocketTransport::write(const std::uint8_t* data, std::size_t size, Deadline deadline) {
  std::size_t sent = 0;
  while (sent < size) {
    const ssize_t n = ::send(fd_, data + sent, size - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) return IoStatus::Failed;
    const IoStatus waited = wait(POLLOUT, deadline);
    if (waited != IoStatus::Ok) return waited;
  }
  return IoStatus::Ok;
}

}  // namespace varrow::host::tds
