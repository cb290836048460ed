// The eight Open Data Services functions, served from the host's call object
// so that a loaded procedure library binds to them. Nothing may unwind
// through them into the library: a failure of the host itself (out of memory
// while recording) is answered as a failed operation.
#include "ods/call.h"

namespace {

using varrow::host::Call;

template <class Operation>
int guarded(Operation operation) noexcept {
  try {
    return operation();
  } catch (...) {
    return 0;
  }
}

}  // namespace

extern "C" {

int srv_rpcparams(SRV_PROC* srvproc) {
  return guarded([&] { return Call::from(srvproc).rpcparams(); });
}

int srv_paraminfo(SRV_PROC* srvproc, int n, std::uint8_t* type, std::uint32_t* max_length,
                  std::uint32_t* actual_length, std::uint8_t* data, std::int32_t* is_null) {
  return guarded([&] {
    return Call::from(srvproc).paraminfo(n, type, max_length, actual_length, data, is_null);
  });
}

int srv_paramstatus(SRV_PROC* srvproc, int n) {
  return guarded([&] { return Call::from(srvproc).paramstatus(n); });
}

int srv_paramtype(SRV_PROC* srvproc, int n) {
  return guarded([&] { return Call::from(srvproc).paramtype(n); });
}

int srv_paramsetoutput(SRV_PROC* srvproc, int n, std::uint8_t* data, std::uint32_t length,
                       std::int32_t is_null) {
  return guarded([&] { return Call::from(srvproc).paramsetoutput(n, data, length, is_null != 0); });
}

int srv_senddone(SRV_PROC* srvproc, std::uint16_t status, std::uint16_t, std::int32_t) {
  return guarded([&] { return Call::from(srvproc).senddone(status); });
}

int srv_sendmsg(SRV_PROC* srvproc, int, std::int32_t number, std::uint8_t msg_class,
                std::uint8_t state, const char*, int, std::uint16_t, const char* text,
                int text_length) {
  return guarded(
      [&] { return Call::from(srvproc).sendmsg(number, msg_class, state, text, text_length); });
}

int srv_sendstatus(SRV_PROC* srvproc, std::int32_t status) {
  return guarded([&] { return Call::from(srvproc).sendstatus(status); });
}

}  // extern "C"
