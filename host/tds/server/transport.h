// The byte stream a connection's packets travel on: a plain socket, or a
// layer (such as TLS) over one. Every wait has a deadline, so that a peer
// that sends or reads nothing, or a byte at a time, cannot hold a
// connection beyond the time its state allows.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace varrow::host::tds {

using Clock = std::chrono::steady_clock;
using Deadline = Clock::time_point;

enum class IoStatus {
  Ok,
  Closed,    // the peer closed, or the server shut the connection down
  TimedOut,  // the deadline passed first
  Failed,    // the connection broke
};

struct IoResult {
  IoStatus status = IoStatus::Failed;
  std::size_t size = 0;  // bytes read, when status is Ok
};

class Transport {
 public:
  virtual ~Transport() = default;

  // Reads what has arrived, at most `size` bytes (at least one when Ok),
  // waiting until `deadline` at the latest.
  virtual IoResult read(std::uint8_t* data, std::size_t size, Deadline deadline) = 0;

  // Writes all `size` bytes, or fails once `deadline` has passed.
  virtual IoStatus write(const std::uint8_t* data, std::size_t size, Deadline deadline) = 0;
};

// A connected TCP socket, switched to non-blocking mode so that no read or
// write can wait past its deadline. Does not own the descriptor.
class SocketTransport final : public Transport {
 public:
  explicit SocketTransport(int fd);

  IoResult read(std::uint8_t* data, std::size_t size, Deadline deadline) override;
  IoStatus write(const std::uint8_t* data, std::size_t size, Deadline deadline) override;

  // Waits until the socket is readable (POLLIN) or writable (POLLOUT), or
  // hung up. For a layer above that drives the socket itself: Ok, TimedOut
  // or Failed.
  IoStatus wait(short events, Deadline deadline) const;

  int fd() const { return fd_; }

 private:
  int fd_;
};

}  // namespace varrow::host::tds
