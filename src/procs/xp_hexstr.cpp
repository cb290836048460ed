#include <cstdint>

#include "common/wipe.h"
#include "procs/frame.h"
#include "procs/procedures.h"

namespace varrow {
namespace {

// Largest input of xp_hexstr: its text must fit an OUTPUT parameter.
constexpr std::uint32_t HEX_INPUT_MAX = PARAM_MAX / 2;

// Two uppercase digits for every byte value, so that a byte costs one lookup.
struct HexDigitTable {
  char pairs[256][2];
  constexpr HexDigitTable() : pairs{} {
    constexpr char digits[] = "0123456789ABCDEF";
    for (int v = 0; v < 256; ++v) {
      pairs[v][0] = digits[v >> 4];
      pairs[v][1] = digits[v & 0xF];
    }
  }
};
constexpr HexDigitTable HEX_DIGITS;

// The call's buffers, cleared as far as they were used when it ends.
struct HexCall {
  std::uint8_t input[PARAM_MAX] = {};
  std::uint8_t text[2 * HEX_INPUT_MAX] = {};
  std::uint32_t length = 0;       // of the input
  std::uint32_t text_length = 0;  // of the text written

  HexCall() = default;
  ~HexCall() {
    secure_zero(input, length);
    secure_zero(text, text_length);
  }
  HexCall(const HexCall&) = delete;
  HexCall& operator=(const HexCall&) = delete;
};

int hexstr(SRV_PROC* srvproc) {
  HexCall call;
  constexpr int output_param = 2;

  if (srv_rpcparams(srvproc) != 2) return fail_call(srvproc, XpErrorCode::ParamCount);
  XpErrorCode code = read_input_param(srvproc, 1, call.input, &call.length);
  if (code == XpErrorCode::ParamNull) return set_null_output(srvproc, output_param);
  if (code != XpErrorCode::Ok) return fail_call(srvproc, code);
  const std::uint32_t length = call.length;
  if (length > HEX_INPUT_MAX) return fail_call(srvproc, XpErrorCode::HexInputSize);
  code = check_output_param(srvproc, output_param, 2 * length);
  if (code != XpErrorCode::Ok) return fail_call(srvproc, code);
  const int output_type = srv_paramtype(srvproc, output_param);
  if (output_type == TYPE_NCHAR || output_type == TYPE_NVARCHAR) {
    return fail_call(srvproc, XpErrorCode::HexOutputType);
  }

  call.text_length = 2 * length;
  for (std::uint32_t i = 0; i < length; ++i) {
    call.text[2 * i] = static_cast<std::uint8_t>(HEX_DIGITS.pairs[call.input[i]][0]);
    call.text[2 * i + 1] = static_cast<std::uint8_t>(HEX_DIGITS.pairs[call.input[i]][1]);
  }
  return set_output_param(srvproc, output_param, call.text, call.text_length, false);
}

}  // namespace
}  // namespace varrow

extern "C" int xp_hexstr(SRV_PROC* srvproc) {
  return varrow::run_procedure(srvproc, varrow::hexstr);
}
