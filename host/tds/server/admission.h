// Which connections varrowd serves. Logged-in connections and connections
// still logging in have separate caps, so that connections that never log in
// cannot lock out the ones that do; one address may hold only a few of the
// latter for long, and when all their places are taken the address holding
// the most gives one up, so that addresses that churn connections cannot
// push out another's login; and an address that keeps failing to log in is
// refused for a while, longer after each further failure, without affecting
// any other address. Pure bookkeeping over times passed in: the server calls
// it under its own lock.
//
// "Address" means admission_key(): an IPv6 client counts by its /64, since
// every IPv6 end site is given at least one and may use all its addresses.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>

namespace varrow::host::tds {

// What admission counts a peer address under: an IPv6 address's /64
// ("2001:db8:0:1::/64"); an IPv4 address, plain or mapped into IPv6, as plain
// IPv4; text that is no address as it stands.
std::string admission_key(const std::string& address);

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
    // Admitted with every place for logins taken: this connection still
    // logging in gives its place up and must be closed.
    std::optional<Id> evict;
  };

  explicit Admission(AdmissionLimits limits) : limits_(limits) {}

  // Every place for logins taken, a newcomer takes the place of the oldest
  // connection of the address that holds the most, counting the newcomer
  // among its own address's; when that is the newcomer's own address (ties
  // included) the newcomer is refused (AddressBusy). So an address's only
  // connection logging in is never given up for another address's, with one
  // exception: when every address holds one place, a newcomer from an
  // address holding none takes the place of the oldest once it is stale, so
  // that as many addresses holding idle connections cannot shut out all
  // others until the login deadline.
  Decision arrive(Id id, const std::string& address, Clock::time_point now);
  // The connection `id`, still logging in, comes from `address` after all (a
  // balancer's PROXY header named it): it counts as that address's from now
  // on, as if it had arrived from it, and is refused as a newcomer from it
  // would be. AddressBusy too when `id` is no longer logging in (evicted).
  Verdict readdress(Id id, const std::string& address, Clock::time_point now);
  // The connection has logged in: false when every logged-in place is taken
  // (or the connection was evicted meanwhile), and it must be refused.
  bool log_in(Id id);
  // The connection has ended, whatever its state.
  void leave(Id id);

  // How much longer `address` is refused, rounded up to whole seconds; zero
  // when it may log in. Checked as a connection arrives and again at each
  // login attempt, before its password is looked at, so that connections
  // opened before a lockout get no guess during it.
  std::chrono::seconds refused_for(const std::string& address, Clock::time_point now);
  // A login from `address` failed; returns how long the address is now
  // refused (zero while it has failures left).
  std::chrono::seconds login_failed(const std::string& address, Clock::time_point now);
  void login_succeeded(const std::string& address);

  int pending() const { return static_cast<int>(pending_.size()); }
  int logged_in() const { return logged_in_; }

  // Addresses whose failures are remembered at once. A failure from an
  // address not among them when they are all taken makes room by forgetting,
  // first, the addresses quiet for forget_failures, then the unlocked one
  // quiet the longest; an address is never forgotten while it is locked out.
  // When every one of them is locked out, the addresses not among them share
  // one further entry: their failures are counted, and lock them out, as if
  // they were one address, so that guessing from ever new addresses is slowed
  // as much as from one, and no lockout is lifted early to make room.
  static constexpr std::size_t MAX_REMEMBERED_ADDRESSES = 4096;

 private:
  struct Failures {
    int count = 0;
    Clock::time_point last;
    Clock::time_point locked_until;
  };

  std::chrono::seconds locked_for(const std::string& key, Clock::time_point now);
  // The connection a newcomer from `key` takes the place of; none: refused.
  std::optional<Id> victim_for(const std::string& key, Clock::time_point now) const;
  // The entry counting `key`'s failures, made when `create`; null when it has
  // none. The shared entry when every remembered address is locked out.
  Failures* failures_of(const std::string& key, Clock::time_point now, bool create);
  // Whether one more address can be remembered: there is room, or an entry
  // that may be forgotten (and is, when `make`).
  bool room(Clock::time_point now, bool make);

  AdmissionLimits limits_;
  struct Pending {
    std::string key;
    Clock::time_point since;
  };

  std::map<Id, Pending> pending_;  // by arrival
  std::set<Id> logged_in_ids_;
  int logged_in_ = 0;
  std::unordered_map<std::string, Failures> failures_;  // by key
  Failures unremembered_;  // shared by addresses not in failures_ when it is full and locked
};

}  // namespace varrow::host::tds
