#include "procs/frame.h"

namespace varrow {

namespace {

// Parameter 2 is always the AES key, whose buffer is smaller.
std::uint32_t input_limit(int n) {
  return n == 2 ? KEY_TEXT_MAX : PARAM_MAX;
}

}  // namespace

XpErrorCode read_input_param(SRV_PROC* srvproc, int n, std::uint8_t* buffer,
                             std::uint32_t* length) {
  std::uint8_t type = 0;
  std::uint32_t max_length = 0;
  std::uint32_t actual_length = 0;
  std::int32_t is_null = 0;
  if (srv_paraminfo(srvproc, n, &type, &max_length, &actual_length, nullptr, &is_null) == 0) {
    return n == 2 ? XP_ERR_KEY : XP_ERR_INPUT_UNREADABLE;
  }
  if (is_null) return XP_ERR_PARAM_NULL;
  const std::uint32_t limit = input_limit(n);
  if (actual_length > limit) return XP_ERR_PARAM_SIZE;
  if (!is_character_type(type)) return XP_ERR_PARAM_TYPE;

  if (srv_paraminfo(srvproc, n, &type, &max_length, &actual_length, buffer, &is_null) == 0) {
    return XP_ERR_INPUT_UNREADABLE;
  }
  // A value that grew between the two queries cannot be trusted to fit.
  if (actual_length > limit) return XP_ERR_INPUT_UNREADABLE;
  *length = actual_length;
  return XP_OK;
}

XpErrorCode check_output_param(SRV_PROC* srvproc, int n, std::uint32_t needed) {
  std::uint8_t type = 0;
  std::uint32_t max_length = 0;
  std::uint32_t actual_length = 0;
  std::int32_t is_null = 0;
  if (srv_paraminfo(srvproc, n, &type, &max_length, &actual_length, nullptr, &is_null) == 0) {
    return XP_ERR_OUTPUT_UNREADABLE;
  }
  if (max_length > PARAM_MAX) return XP_ERR_PARAM_SIZE;
  if (!is_character_type(type)) return XP_ERR_PARAM_TYPE;
  if (max_length < needed) return XP_ERR_OUTPUT_TOO_SMALL;
  if ((srv_paramstatus(srvproc, n) & SRV_PARAMRETURN) == 0) return XP_ERR_OUTPUT_NOT_OUTPUT;
  return XP_OK;
}

int set_output_param(SRV_PROC* srvproc, int n, const std::uint8_t* data, std::uint32_t length,
                     bool is_null) {
  // The host only reads the value; its interface predates const.
  auto* bytes = const_cast<std::uint8_t*>(data);
  if (srv_paramsetoutput(srvproc, n, bytes, length, is_null ? 1 : 0) != 1) {
    return fail_call(srvproc, XP_ERR_OUTPUT_REFUSED);
  }
  srv_senddone(srvproc, SRV_DONE_MORE, 0, 0);
  return 1;
}

void report_error(SRV_PROC* srvproc, XpErrorCode code) {
  srv_sendstatus(srvproc, 1);
  srv_sendmsg(srvproc, SRV_MSG_ERROR, code, 10, 0, nullptr, 0, 0,
              ERROR_MESSAGES[code - XP_ERR_FIRST], static_cast<int>(ERROR_MESSAGE_SIZE));
  srv_senddone(srvproc, SRV_DONE_MORE | SRV_DONE_ERROR, 0, 0);
}

}  // namespace varrow
