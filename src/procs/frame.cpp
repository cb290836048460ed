#include "procs/frame.h"

#include "common/wipe.h"
#include "procs/messages.h"

namespace varrow {

namespace {

// What a failed call sends besides its done packet: this return status, then
// one message of this class and state.
constexpr std::int32_t ERROR_RETURN_STATUS = 1;
constexpr std::uint8_t ERROR_MESSAGE_CLASS = 10;
constexpr std::uint8_t ERROR_MESSAGE_STATE = 0;

std::uint32_t input_limit(int n) {
  return n == KEY_PARAM ? KEY_TEXT_MAX : PARAM_MAX;
}

}  // namespace

XpErrorCode read_input_param(SRV_PROC* srvproc, int n, std::uint8_t* buffer,
                             std::uint32_t* length) {
  std::uint8_t type = 0;
  std::uint32_t max_length = 0;
  std::uint32_t actual_length = 0;
  std::int32_t is_null = 0;
  if (srv_paraminfo(srvproc, n, &type, &max_length, &actual_length, nullptr, &is_null) == 0) {
    return n == KEY_PARAM ? XpErrorCode::Key : XpErrorCode::InputUnreadable;
  }
  if (is_null) return XpErrorCode::ParamNull;
  if (actual_length > input_limit(n)) return XpErrorCode::ParamSize;
  if (!is_character_type(type)) return XpErrorCode::ParamType;

  // The host copies the value it described: its length is trusted from here.
  if (srv_paraminfo(srvproc, n, &type, &max_length, &actual_length, buffer, &is_null) == 0) {
    secure_zero(buffer, input_limit(n));
    return XpErrorCode::InputUnreadable;
  }
  *length = actual_length;
  return XpErrorCode::Ok;
}

XpErrorCode check_output_param(SRV_PROC* srvproc, int n, std::uint32_t needed) {
  std::uint8_t type = 0;
  std::uint32_t max_length = 0;
  std::uint32_t actual_length = 0;
  std::int32_t is_null = 0;
  if (srv_paraminfo(srvproc, n, &type, &max_length, &actual_length, nullptr, &is_null) == 0) {
    return XpErrorCode::OutputUnreadable;
  }
  if (max_length > PARAM_MAX) return XpErrorCode::ParamSize;
  if (!is_character_type(type)) return XpErrorCode::ParamType;
  if (max_length < needed) return XpErrorCode::OutputTooSmall;
  if ((srv_paramstatus(srvproc, n) & SRV_PARAMRETURN) == 0) return XpErrorCode::OutputNotOutput;
  return XpErrorCode::Ok;
}

int set_output_param(SRV_PROC* srvproc, int n, const std::uint8_t* data, std::uint32_t length,
                     bool is_null) {
  // The host only reads the value; its interface predates const.
  auto* bytes = const_cast<std::uint8_t*>(data);
  if (srv_paramsetoutput(srvproc, n, bytes, length, is_null ? 1 : 0) != 1) {
    return fail_call(srvproc, XpErrorCode::OutputRefused);
  }
  srv_senddone(srvproc, SRV_DONE_MORE, 0, 0);
  return 1;
}

void report_error(SRV_PROC* srvproc, XpErrorCode code) {
  const char* record = error_message(code);
  srv_sendstatus(srvproc, ERROR_RETURN_STATUS);
  srv_sendmsg(srvproc, SRV_MSG_ERROR, error_number(code), ERROR_MESSAGE_CLASS, ERROR_MESSAGE_STATE,
              nullptr, 0, 0, record, record != nullptr ? static_cast<int>(ERROR_MESSAGE_SIZE) : 0);
  srv_senddone(srvproc, SRV_DONE_MORE | SRV_DONE_ERROR, 0, 0);
}

}  // namespace varrow
