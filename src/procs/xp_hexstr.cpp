#include <cstdint>

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

int hexstr(SRV_PROC* srvproc) {
  std::uint8_t input[PARAM_MAX] = {};
  std::uint8_t text[2 * HEX_INPUT_MAX] = {};
  std::uint32_t length = 0;

  if (srv_rpcparams(srvproc) != 2) return fail_call(srvproc, XP_ERR_PARAM_COUNT);
  XpErrorCode code = read_input_param(srvproc, 1, input, &length);
  if (code == XP_ERR_PARAM_NULL) return set_null_output(srvproc, 2);
  if (code != XP_OK) return fail_call(srvproc, code);
  if (length > HEX_INPUT_MAX) return fail_call(srvproc, XP_ERR_HEX_INPUT_SIZE);
  code = check_output_param(srvproc, 2, 2 * length);
  if (code != XP_OK) return fail_call(srvproc, code);
  const int output_type = srv_paramtype(srvproc, 2);
  if (output_type == TYPE_NCHAR || output_type == TYPE_NVARCHAR) {
    return fail_call(srvproc, XP_ERR_HEX_OUTPUT_TYPE);
  }

  for (std::uint32_t i = 0; i < length; ++i) {
    text[2 * i] = static_cast<std::uint8_t>(HEX_DIGITS.pairs[input[i]][0]);
    text[2 * i + 1] = static_cast<std::uint8_t>(HEX_DIGITS.pairs[input[i]][1]);
  }
  return set_output_param(srvproc, 2, text, 2 * length, false);
}

}  // namespace
}  // namespace varrow

extern "C" int xp_hexstr(SRV_PROC* srvproc) {
  return varrow::run_procedure(srvproc, varrow::hexstr);
}
