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
  const auto from_address = pending_by_address_.find(address);
  if (from_address != pending_by_address_.end() &&
      from_address->second >= limits_.max_pending_per_address) {
    decision.verdict = Verdict::AddressBusy;
    return decision;
  }
  if (static_cast<int>(pending_.size()) >= limits_.max_pending && !pending_.empty()) {
    const auto oldest = pending_.begin();
    decision.evict = oldest->first;
    if (--pending_by_address_[oldest->second] == 0) pending_by_address_.erase(oldest->second);
    pending_.erase(oldest);
  }
  ++pending_by_address_[address];
  pending_.emplace(id, address);
  return decision;
}

bool Admission::log_in(Id id) {
  const auto found = pending_.find(id);
  if (found == pending_.end() || logged_in_ >= limits_.max_logged_in) return false;
  if (--pending_by_address_[found->second] == 0) pending_by_address_.erase(found->second);
  pending_.erase(found);
  logged_in_ids_.insert(id);
  ++logged_in_;
  return true;
}

void Admission::leave(Id id) {
  if (const auto found = pending_.find(id); found != pending_.end()) {
    if (--pending_by_address_[found->second] == 0) pending_by_address_.erase(found->second);
    pending_.erase(found);
  } else if (logged_in_ids_.erase(id) != 0) {
    --logged_in_;
  }
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
