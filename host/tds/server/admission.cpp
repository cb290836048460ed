#include "tds/server/admission.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <string_view>
#include <utility>

namespace varrow::host::tds {

std::string admission_key(const std::string& address) {
  // A link-local peer's zone ("%eth0") is no part of its address.
  const std::string bare = address.substr(0, address.find('%'));
  in6_addr v6{};
  if (::inet_pton(AF_INET6, bare.c_str(), &v6) != 1) return address;
  char text[INET6_ADDRSTRLEN] = "";
  if (IN6_IS_ADDR_V4MAPPED(&v6)) {
    ::inet_ntop(AF_INET, v6.s6_addr + 12, text, sizeof text);
    return text;
  }
  std::fill(v6.s6_addr + 8, v6.s6_addr + 16, std::uint8_t{0});
  ::inet_ntop(AF_INET6, &v6, text, sizeof text);
  return std::string(text) + "/64";
}

Admission::Decision Admission::arrive(Id id, const std::string& address, Clock::time_point now) {
  Decision decision;
  std::string key = admission_key(address);
  if (locked_for(key, now).count() > 0) {
    decision.verdict = Verdict::LockedOut;
    return decision;
  }
  // Few connections log in at once, and the cap is small: a count over
  // them all costs less than keeping one per address.
  int stale_from_address = 0;
  for (const auto& entry : pending_) {
    const Pending& p = entry.second;
    if (p.key == key && now - p.since >= limits_.stale_after) ++stale_from_address;
  }
  if (stale_from_address >= limits_.max_pending_per_address) {
    decision.verdict = Verdict::AddressBusy;
    return decision;
  }
  if (static_cast<int>(pending_.size()) >= limits_.max_pending && !pending_.empty()) {
    decision.evict = victim_for(key, now);
    if (!decision.evict) {
      decision.verdict = Verdict::AddressBusy;
      return decision;
    }
    pending_.erase(*decision.evict);
  }
  pending_.emplace(id, Pending{std::move(key), now});
  return decision;
}

Admission::Verdict Admission::readdress(Id id, const std::string& address, Clock::time_point now) {
  const auto found = pending_.find(id);
  if (found == pending_.end()) return Verdict::AddressBusy;
  std::string key = admission_key(address);
  if (locked_for(key, now).count() > 0) return Verdict::LockedOut;
  const auto stale = std::count_if(pending_.begin(), pending_.end(), [&](const auto& entry) {
    return entry.first != id && entry.second.key == key &&
           now - entry.second.since >= limits_.stale_after;
  });
  if (stale >= limits_.max_pending_per_address) return Verdict::AddressBusy;
  found->second.key = std::move(key);
  return Verdict::Admit;
}

std::optional<Admission::Id> Admission::victim_for(const std::string& key,
                                                   Clock::time_point now) const {
  struct Held {
    int places = 0;
    Id oldest = 0;
  };
  std::map<std::string_view, Held> held;
  for (const auto& [id, p] : pending_) {  // by arrival: the first seen is the oldest
    Held& h = held.try_emplace(p.key, Held{0, id}).first->second;
    ++h.places;
  }
  const auto own = held.find(key);
  const int own_places = own == held.end() ? 0 : own->second.places;
  const Held* most = nullptr;
  for (const auto& [k, h] : held) {
    if (k == key) continue;
    if (most == nullptr || h.places > most->places ||
        (h.places == most->places && h.oldest < most->oldest)) {
      most = &h;
    }
  }
  if (most == nullptr) return std::nullopt;
  if (most->places > own_places + 1) return most->oldest;
  if (most->places == 1 && own_places == 0 &&
      now - pending_.at(most->oldest).since >= limits_.stale_after) {
    return most->oldest;
  }
  return std::nullopt;
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

std::chrono::seconds Admission::refused_for(const std::string& address, Clock::time_point now) {
  return locked_for(admission_key(address), now);
}

std::chrono::seconds Admission::locked_for(const std::string& key, Clock::time_point now) {
  const Failures* f = failures_of(key, now, false);
  if (f == nullptr || f->locked_until <= now) return std::chrono::seconds(0);
  return std::chrono::ceil<std::chrono::seconds>(f->locked_until - now);
}

std::chrono::seconds Admission::login_failed(const std::string& address, Clock::time_point now) {
  Failures& f = *failures_of(admission_key(address), now, true);
  if (f.count > 0 && f.locked_until <= now && now - f.last > limits_.forget_failures) {
    f = Failures{};
  }
  ++f.count;
  f.last = now;
  const int over = f.count - limits_.failures_before_lockout;
  if (over < 0) return std::chrono::seconds(0);
  // 1 s at the limit, doubling with each failure past it, up to the maximum.
  const std::chrono::seconds lockout =
      std::min(limits_.max_lockout, std::chrono::seconds(std::int64_t{1} << std::min(over, 20)));
  f.locked_until = std::max(f.locked_until, now + lockout);
  return lockout;
}

void Admission::login_succeeded(const std::string& address) {
  // The shared entry stays: a success from one new address says nothing of
  // the guesses the others made.
  failures_.erase(admission_key(address));
}

Admission::Failures* Admission::failures_of(const std::string& key, Clock::time_point now,
                                            bool create) {
  if (const auto found = failures_.find(key); found != failures_.end()) return &found->second;
  if (!create) {
    // Only a locked shared entry refuses anyone, and only while no room can be made.
    return unremembered_.locked_until > now && !room(now, false) ? &unremembered_ : nullptr;
  }
  return room(now, true) ? &failures_[key] : &unremembered_;
}

bool Admission::room(Clock::time_point now, bool make) {
  if (failures_.size() < MAX_REMEMBERED_ADDRESSES) return true;
  const auto unlocked = [now](const auto& entry) { return entry.second.locked_until <= now; };
  if (make) {
    std::erase_if(failures_, [&](const auto& entry) {
      return unlocked(entry) && now - entry.second.last > limits_.forget_failures;
    });
    if (failures_.size() < MAX_REMEMBERED_ADDRESSES) return true;
  }
  auto quietest = failures_.end();
  for (auto it = failures_.begin(); it != failures_.end(); ++it) {
    if (unlocked(*it) && (quietest == failures_.end() || it->second.last < quietest->second.last)) {
      quietest = it;
    }
  }
  if (quietest == failures_.end()) return false;
  if (make) failures_.erase(quietest);
  return true;
}

}  // namespace varrow::host::tds
