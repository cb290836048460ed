// The frame every procedure runs: read the input, check the OUTPUT parameter,
// hand the result over, or report the first error and stop.
#pragma once

#include <cstdint>

#include "common/errors.h"
#include "common/limits.h"
#include "procs/ods.h"

namespace varrow {

// Parameter 2 is always the AES key: its buffer holds KEY_TEXT_MAX bytes, and
// a parameter 2 that cannot be described is a bad key.
inline constexpr int KEY_PARAM = 2;

// Reads parameter n into `buffer` (PARAM_MAX bytes, or KEY_TEXT_MAX for n = 2)
// and stores its length in `length` on success only. The value is not
// terminated. Codes: 50002 (50005 when the first query of parameter 2 fails),
// 50016 NULL, 50003 too long, 50009 not character data; size is tested first.
// When the copying query fails the whole buffer is cleared, since the host may
// have copied part of the value before failing.
XpErrorCode read_input_param(SRV_PROC* srvproc, int n, std::uint8_t* buffer, std::uint32_t* length);

// Succeeds when parameter n is a character OUTPUT parameter declared with room
// for `needed` bytes. Codes, in the order tested: 50006, 50003, 50009, 50007, 50008.
XpErrorCode check_output_param(SRV_PROC* srvproc, int n, std::uint32_t needed);

// Writes OUTPUT parameter n and ends the reply. Returns 1 when the host took
// the value, else reports 50011 and returns 0. `data` may be null with is_null.
int set_output_param(SRV_PROC* srvproc, int n, const std::uint8_t* data, std::uint32_t length,
                     bool is_null);

// Sends return status 1, the whole 100-byte record of `code` (never Ok) and a
// done packet with the error flag.
void report_error(SRV_PROC* srvproc, XpErrorCode code);

// Reports `code` and gives the procedure's result for a failed call.
inline int fail_call(SRV_PROC* srvproc, XpErrorCode code) {
  report_error(srvproc, code);
  return 0;
}

// A NULL input makes the OUTPUT parameter NULL without testing it.
inline int set_null_output(SRV_PROC* srvproc, int n) {
  return set_output_param(srvproc, n, nullptr, 0, true);
}

// The exported procedures are called through a C interface: nothing may
// unwind into the host. Whatever escapes a body (in practice an allocation
// failure) is reported as a value that could not be returned.
template <class Body>
int run_procedure(SRV_PROC* srvproc, Body body) noexcept {
  try {
    return body(srvproc);
  } catch (...) {
    return fail_call(srvproc, XpErrorCode::OutputRefused);
  }
}

}  // namespace varrow
