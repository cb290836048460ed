#include "ods/call.h"

#include <algorithm>
#include <cstring>

namespace varrow::host {

const Param* Call::param(int n) const {
  if (n < 1 || static_cast<std::size_t>(n) > params_.size()) return nullptr;
  return &params_[static_cast<std::size_t>(n) - 1];
}

int Call::rpcparams() {
  record(EventKind::ParamCount);
  return static_cast<int>(params_.size());
}

int Call::paraminfo(int n, std::uint8_t* type, std::uint32_t* max_length,
                    std::uint32_t* actual_length, std::uint8_t* data, std::int32_t* is_null) {
  record(EventKind::ParamQuery, n);
  const Param* p = param(n);
  if (p == nullptr) return 0;
  *type = p->type;
  *max_length = p->max_length;
  *actual_length = p->value ? static_cast<std::uint32_t>(p->value->size()) : 0;
  *is_null = p->value ? 0 : 1;
  if (data != nullptr && p->value && !p->value->empty()) {
    std::memcpy(data, p->value->data(), p->value->size());
  }
  return 1;
}

int Call::paramstatus(int n) {
  record(EventKind::ParamQuery, n);
  const Param* p = param(n);
  return p != nullptr && p->output ? 1 : 0;
}

int Call::paramtype(int n) {
  record(EventKind::ParamQuery, n);
  const Param* p = param(n);
  return p != nullptr ? p->type : 0;
}

int Call::paramsetoutput(int n, const std::uint8_t* data, std::uint32_t length, bool is_null) {
  const Param* p = param(n);
  // Like the server, refuse what a caller's variable could not hold.
  const bool accepted = p != nullptr && p->output &&
                        (is_null || (length <= p->max_length && (data != nullptr || length == 0)));
  Event event(accepted ? EventKind::OutputSet : EventKind::OutputRefused, n);
  event.is_null = is_null;
  if (!is_null && data != nullptr) event.bytes.assign(data, data + length);
  if (accepted) {
    auto& target = params_[static_cast<std::size_t>(n) - 1].value;
    if (is_null) {
      target.reset();
    } else {
      target = event.bytes;
    }
  }
  record(std::move(event));
  return accepted ? 1 : 0;
}

int Call::senddone(std::uint16_t status) {
  Event event(EventKind::Done);
  event.value = status;
  record(std::move(event));
  return 1;
}

int Call::sendmsg(std::int32_t number, std::uint8_t msg_class, std::uint8_t state, const char* text,
                  int length) {
  Event event(EventKind::Message);
  event.value = number;
  event.msg_class = msg_class;
  event.state = state;
  if (text != nullptr && length > 0) event.bytes.assign(text, text + length);
  record(std::move(event));
  return 1;
}

int Call::sendstatus(std::int32_t status) {
  Event event(EventKind::ReturnStatus);
  event.value = status;
  record(std::move(event));
  return 1;
}

std::string Call::replies() const {
  std::string out;
  for (const Event& e : events_) {
    std::string line;
    switch (e.kind) {
      case EventKind::ParamCount:
      case EventKind::ParamQuery:
        continue;
      case EventKind::OutputSet:
      case EventKind::OutputRefused:
        line = std::string(e.kind == EventKind::OutputSet ? "output " : "refused ") +
               std::to_string(e.param) +
               (e.is_null ? " NULL" : " (" + std::to_string(e.bytes.size()) + " bytes)");
        break;
      case EventKind::ReturnStatus:
        line = "status " + std::to_string(e.value);
        break;
      case EventKind::Message:
        line = "message " + std::to_string(e.value);
        break;
      case EventKind::Done:
        line = "done " + std::to_string(e.value);
        break;
    }
    if (!out.empty()) out += "; ";
    out += line;
  }
  return out;
}

std::optional<std::int32_t> Call::return_status() const {
  std::optional<std::int32_t> status;
  for (const Event& e : events_) {
    if (e.kind == EventKind::ReturnStatus) status = e.value;
  }
  return status;
}

std::optional<std::uint16_t> Call::done_status() const {
  std::optional<std::uint16_t> status;
  for (const Event& e : events_) {
    if (e.kind == EventKind::Done) status = static_cast<std::uint16_t>(e.value);
  }
  return status;
}

std::vector<const Event*> Call::messages() const {
  std::vector<const Event*> out;
  for (const Event& e : events_) {
    if (e.kind == EventKind::Message) out.push_back(&e);
  }
  return out;
}

}  // namespace varrow::host
