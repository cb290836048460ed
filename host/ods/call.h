// One call of a procedure as the host sees it: the parameters it carries in,
// and a record of everything the procedure sent back through Open Data
// Services, in order.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ods/secure_bytes.h"
#include "varrow/ods.h"

namespace varrow::host {

// The type codes of a call's parameters (srv_paramtype's values) besides
// the character types of varrow/ods.h: those the host's callers send.
inline constexpr std::uint8_t TYPE_BIGVARBINARY = 0xA5;  // VARBINARY(n)
inline constexpr std::uint8_t TYPE_INTN = 0x26;          // INT, nullable
inline constexpr std::uint8_t TYPE_INT4 = 0x38;          // INT

struct Param {
  std::string name;  // as the caller named it ("@v"), or empty
  std::uint8_t type = varrow::TYPE_BIGVARCHAR;
  std::uint32_t max_length = 0;  // declared length in bytes
  std::optional<Bytes> value;    // nullopt is NULL
  bool output = false;           // passed as OUTPUT
  // What the value relies on for as long as the call lasts: the open key
  // file that a vetted key parameter names (see tds/session/key_files.h).
  std::shared_ptr<const void> keep = nullptr;
};

enum class EventKind {
  ParamCount,     // srv_rpcparams
  ParamQuery,     // srv_paraminfo, srv_paramstatus or srv_paramtype
  OutputSet,      // srv_paramsetoutput accepted
  OutputRefused,  // srv_paramsetoutput refused
  ReturnStatus,   // srv_sendstatus
  Message,        // srv_sendmsg
  Done,           // srv_senddone
};

struct Event {
  explicit Event(EventKind what, int n = 0) : kind(what), param(n) {}

  EventKind kind;
  int param = 0;           // ParamQuery, OutputSet, OutputRefused
  std::int32_t value = 0;  // message number, return status or done status
  std::uint8_t msg_class = 0;
  std::uint8_t state = 0;
  Bytes bytes;           // message text or output value, exactly as sent
  bool is_null = false;  // OutputSet

  // A message's text without the NUL bytes that pad its record.
  Bytes message_text() const {
    return Bytes(bytes.begin(), std::find(bytes.begin(), bytes.end(), std::uint8_t{0}));
  }
};

// The operations are virtual so that a caller can stand in for a host that
// fails (the tests' FaultyCall); the host itself never fails one on purpose.
class Call {
 public:
  // Room for a whole ordinary exchange is reserved up front, so that
  // recording it does not allocate on every operation.
  explicit Call(std::vector<Param> params) : params_(std::move(params)) {
    events_.reserve(EXPECTED_EVENTS);
  }
  Call(const Call&) = default;
  Call(Call&&) = default;
  Call& operator=(const Call&) = default;
  Call& operator=(Call&&) = default;
  // The parameter values and the replies (keys, plaintext, results) clear
  // themselves. Inline, so that the blocks go back to the allocator of
  // whoever destroys the call (a test's arena on Windows).
  virtual ~Call() = default;

  SRV_PROC* handle() { return reinterpret_cast<SRV_PROC*>(this); }
  static Call& from(SRV_PROC* srvproc) { return *reinterpret_cast<Call*>(srvproc); }

  // What the call carried; OUTPUT parameters hold what the procedure set.
  const std::vector<Param>& params() const { return params_; }
  const std::vector<Event>& events() const { return events_; }

  // Replies only (no queries), one line each, e.g. "output 2 (4 bytes)",
  // "status 1", "message 50005", "done 3"; for comparing whole exchanges.
  std::string replies() const;
  std::optional<std::int32_t> return_status() const;
  std::optional<std::uint16_t> done_status() const;
  std::vector<const Event*> messages() const;

  // The Open Data Services operations, as the exported C functions call them.
  virtual int rpcparams();
  virtual int paraminfo(int n, std::uint8_t* type, std::uint32_t* max_length,
                        std::uint32_t* actual_length, std::uint8_t* data, std::int32_t* is_null);
  virtual int paramstatus(int n);
  virtual int paramtype(int n);
  virtual int paramsetoutput(int n, const std::uint8_t* data, std::uint32_t length, bool is_null);
  virtual int senddone(std::uint16_t status);
  virtual int sendmsg(std::int32_t number, std::uint8_t msg_class, std::uint8_t state,
                      const char* text, int length);
  virtual int sendstatus(std::int32_t status);

 protected:
  void record(EventKind kind, int n = 0) { events_.emplace_back(kind, n); }
  void record(Event event) { events_.push_back(std::move(event)); }

 private:
  static constexpr std::size_t EXPECTED_EVENTS = 24;

  const Param* param(int n) const;

  std::vector<Param> params_;
  std::vector<Event> events_;
};

}  // namespace varrow::host
