// Which connections varrowd serves. Logged-in connections and connections
// still logging in have separate caps, so that connections that never log in
// cannot lock out the ones that do; one address may hold only a few of the
// latter for long; and an address that keeps failing to log in is refused for a
// while, longer after each further failure, without affecting any other
// address. Pure bookkeeping over times passed in: the server calls it under
// its own lock.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>

namespace varrow::host::tds {

struct AdmissionLimits {
  int max_logged_in = 64;            // connections past LOGINACK
  int max_pending = 64;              // connections not logged in yet
  int max_pending_per_address = 16;  // of those, from one address, once stale
  // How long a connection may log in before it counts against its address's
  // cap: a client's pool opening many connections at once is not refused,
  // connections that stay without a login are.
  std::chrono::milliseconds stale_after{1000};
  int failures_before_lockout = 5;  // failed logins an address may make freely
  std::chrono::seconds max_lockout{60};
  std::chrono::seconds forget_failures{600};  // quiet time after which they are forgotten
};

class Admission {
 public:
  using Clock = std::chrono::steady_clock;
  using Id = std::uint64_t;  // increasing in the order connections arrive

  enum class Verdict { Admit, AddressBusy, LockedOut };
  struct Decision {
    Verdict verdict = Verdict::Admit;
    // Admitted with every place for logins taken: the oldest connection still
    // logging in gives its place up and must be closed.
    std::optional<Id> evict;
  };

  explicit Admission(AdmissionLimits limits) : limits_(limits) {}

  Decision arrive(Id id, const std::string& address, Clock::time_point now);
  // The connection has logged in: false when every logged-in place is taken
  // (or the connection was evicted meanwhile), and it must be refused.
  bool log_in(Id id);
  // The connection has ended, whatever its state.
  void leave(Id id);

  // A login from `address` failed; returns how long the address is now
  // refused (zero while it has failures left).
  std::chrono::seconds login_failed(const std::string& address, Clock::time_point now);
  void login_succeeded(const std::string& address) { failures_.erase(address); }

  int pending() const { return static_cast<int>(pending_.size()); }
  int logged_in() const { return logged_in_; }

 private:
  struct Failures {
    int count = 0;
    Clock::time_point last;
    Clock::time_point locked_until;
  };

  void forget_old_failures(Clock::time_point now);

  AdmissionLimits limits_;
  struct Pending {
    std::string address;
    Clock::time_point since;
  };

  std::map<Id, Pending> pending_;  // by arrival
  std::set<Id> logged_in_ids_;
  int logged_in_ = 0;
  std::unordered_map<std::string, Failures> failures_;
};

}  // namespace varrow::host::tds
