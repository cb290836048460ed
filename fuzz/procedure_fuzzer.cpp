// Decodes the input into one whole call (procedure, parameters with type,
// declared length, NULL and OUTPUT flags and value, injected host failures),
// runs it against the library through the host, and checks what every call
// must do whatever its input. A key naming a key file is pointed into a
// sandbox folder of the fuzzer's own, so that key files of every kind are
// read without touching the machine's other files.

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "key_sandbox.h"
#include "ods/call.h"
#include "ods/library.h"
#include "support/expected_messages.h"
#include "support/faulty_call.h"
#include "tds/proto.h"

namespace {

using varrow::host::EventKind;
using varrow::host::Param;
namespace tds = varrow::host::tds;
using varrow::test::FaultyCall;
using varrow::test::InfoQuery;

// Reads the input front to back; past its end every read gives zeros.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  std::uint16_t u16() { return static_cast<std::uint16_t>(byte() | byte() << 8); }
  std::size_t left() const { return size_ - pos_; }
  varrow::host::Bytes take(std::size_t n) {
    n = std::min(n, left());
    varrow::host::Bytes out(data_ + pos_, data_ + pos_ + n);
    pos_ += n;
    return out;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// The types callers pass, and one (0) that is no type at all.
constexpr std::uint8_t TYPES[] = {tds::TYPE_VARCHAR,      tds::TYPE_CHAR,
                                  tds::TYPE_BIGVARCHAR,   tds::TYPE_BIGCHAR,
                                  tds::TYPE_NVARCHAR,     tds::TYPE_NCHAR,
                                  tds::TYPE_INTN,         tds::TYPE_INT4,
                                  tds::TYPE_BIGVARBINARY, 0x00};

void check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

const std::string& sandbox() {
  return varrow::fuzz::key_sandbox();
}

// A key "keyfile=NAME" (any letter case) becomes "keyfile=SANDBOX/NAME", with
// every separator in NAME replaced so that it stays a name in the folder.
void into_sandbox(Param& key) {
  if (!key.value || key.value->size() < 8) return;
  std::string head(key.value->begin(), key.value->begin() + 8);
  for (char& c : head)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (head != "keyfile=") return;
  varrow::host::Bytes name(key.value->begin() + 8, key.value->end());
  for (auto& c : name) {
    if (c == '/' || c == '\\') c = '_';
  }
  const std::string folder = sandbox() + "/";
  key.value->resize(8 + folder.size());
  std::copy(folder.begin(), folder.end(), key.value->begin() + 8);
  key.value->insert(key.value->end(), name.begin(), name.end());
}

const varrow::host::Library& library() {
  static const varrow::host::Library loaded(VARROW_LIBRARY_PATH);
  return loaded;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  const std::string procedure(
      varrow::host::PROCEDURE_NAMES[in.byte() % varrow::host::PROCEDURE_NAMES.size()]);
  const int count = in.byte() % 5;
  const std::uint8_t call_flags = in.byte();

  std::vector<Param> params;
  std::vector<std::pair<int, InfoQuery>> failures;
  for (int n = 1; n <= count; ++n) {
    Param p;
    const std::uint8_t type = in.byte();
    p.type = type < 0xF0 ? TYPES[type % sizeof TYPES] : in.byte();
    const std::uint16_t declared = in.u16();
    p.max_length = declared >= 0xFFF0 ? 0xFFFFFFFFu - (declared & 0xF) : declared % 9000u;
    const std::uint8_t flags = in.byte();
    p.output = flags & 1;
    if (flags & 4) failures.push_back({n, InfoQuery::Describe});
    if (flags & 8) failures.push_back({n, InfoQuery::Copy});
    if (!(flags & 2)) {
      const std::uint16_t length = in.u16();
      // Mostly short values; long ones only on request, to probe the limits.
      p.value = in.take(flags & 0x10 ? length % 8200u : length % 300u);
      if (flags & 0x20) p.value->resize(length % 8200u, p.value->empty() ? 'a' : p.value->back());
    }
    params.push_back(std::move(p));
  }
  if (params.size() >= 2) into_sandbox(params[1]);

  std::vector<std::uint32_t> declared;
  for (const Param& p : params)
    declared.push_back(p.max_length);
  FaultyCall call(std::move(params));
  for (const auto& [n, query] : failures)
    call.fail_paraminfo(n, query);
  call.refuse_output(call_flags & 1);
  const int returned = library().find(procedure)(call.handle());

  const auto& events = call.events();
  int done = 0, messages = 0, outputs_set = 0;
  for (std::size_t i = 0; i < events.size(); ++i) {
    const auto& e = events[i];
    switch (e.kind) {
      case EventKind::Done:
        ++done;
        check(i + 1 == events.size(), "the done packet is the last thing sent");
        break;
      case EventKind::Message: {
        ++messages;
        check(i > 0 && events[i - 1].kind == EventKind::ReturnStatus && events[i - 1].value == 1,
              "a message follows return status 1");
        check(i + 1 < events.size() && events[i + 1].kind == EventKind::Done &&
                  events[i + 1].value == 3,
              "a message is followed by done status 3");
        const auto expected = varrow::test::EXPECTED_MESSAGES.find(e.value);
        check(expected != varrow::test::EXPECTED_MESSAGES.end(), "the message number is known");
        std::string record = expected->second;
        record.resize(100, '\0');
        check(e.bytes.size() == 100 && std::memcmp(e.bytes.data(), record.data(), 100) == 0,
              "the message is its whole record");
        check(e.msg_class == 10 && e.state == 0, "class 10, state 0");
        break;
      }
      case EventKind::OutputSet:
      case EventKind::OutputRefused:
        check(e.param >= 1 && static_cast<std::size_t>(e.param) <= declared.size(),
              "the output is a parameter of the call");
        check(e.is_null || e.bytes.size() <= declared[static_cast<std::size_t>(e.param) - 1],
              "an output never exceeds its declared length");
        if (e.kind == EventKind::OutputSet) ++outputs_set;
        break;
      case EventKind::ReturnStatus:
        check(e.value == 1, "the only return status is 1");
        break;
      default:
        break;
    }
  }
  check(done == 1, "exactly one done packet");
  check(messages <= 1, "at most one message");
  check((returned == 1) == (outputs_set == 1), "returns 1 exactly when an output was set");
  check(returned == 0 || returned == 1, "returns 0 or 1");
  check(outputs_set <= 1, "at most one output set");
  return 0;
}
