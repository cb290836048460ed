#include "tds/admission.h"

#include <algorithm>

namespace varrow::host::tds {
namespace {

// Addresses whose failures are remembered at once: past it, the oldest
// quiet ones are forgotten first, so that the table stays small.
constexpr std::size_t MAX_REMEMBERED_ADDRESSES = 4096;

}  // namespace

Admission::Decision Admission::arrive(Id id, const std::string& address, Clock::time_point now) {
  Decision decision;
  if (const auto f = failures_.find(address);
      f != failures_.end() && f->second.locked_until > now) {
    decision.verdict = Verdict::LockedOut;
    return decision;
  }
  // Few connections log in at once, and the cap is small: a count over
  // them all costs less than keeping one per address.
  int stale_from_address = 0;
  for (const auto& entry : pending_) {
    const Pending& p = entry.second;
    if (p.address == address && now - p.since >= limits_.stale_after) ++stale_from_address;
  }
  if (stale_from_address >= limits_.max_pending_per_address) {
    decision.verdict = Verdict::AddressBusy;
    return decision;
  }
  if (static_cast<int>(pending_.size()) >= limits_.max_pending && !pending_.empty()) {
    decision.evict = pending_.begin()->first;
    pending_.erase(pending_.begin());
  }
  pending_.emplace(id, Pending{address, now});
  return decision;
}

bool Admission::log_in(Id id) {
  const auto found = pending_.find(id);
  if (found == pending_.end() || logged_in_ >= limits_.max_logged_in) return false;
  pending_.erase(found);
  logged_in_ids_.insert(id);
  ++logged_in_;
  return true;
}

void Admission::leave(Id id) {
  if (pending_.erase(id) == 0 && logged_in_ids_.erase(id) != 0) --logged_in_;
}

std::chrono::seconds Admission::login_failed(const std::string& address, Clock::time_point now) {
  forget_old_failures(now);
  Failures& f = failures_[address];
  if (f.count > 0 && now - f.last > limits_.forget_failures) f = Failures{};
  ++f.count;
  f.last = now;
  const int over = f.count - limits_.failures_before_lockout;
  if (over < 0) return std::chrono::seconds(0);
  // 1 s at the limit, doubling with each failure past it, up to the maximum.
  const std::chrono::seconds lockout =
      std::min(limits_.max_lockout, std::chrono::seconds(std::int64_t{1} << std::min(over, 20)));
  f.locked_until = now + lockout;
  return lockout;
}

void Admission::forget_old_failures(Clock::time_point now) {
  if (failures_.size() < MAX_REMEMBERED_ADDRESSES) return;
  std::erase_if(failures_, [&](const auto& entry) {
    return entry.second.locked_until <= now && now - entry.second.last > limits_.forget_failures;
  });
  while (failures_.size() >= MAX_REMEMBERED_ADDRESSES) {
    const auto oldest = std::min_element(
        failures_.begin(), failures_.end(),
        [](const auto& a, const auto& b) { return a.second.last < b.second.last; });
    failures_.erase(oldest);
  }
}

}  // namespace varrow::host::tds
