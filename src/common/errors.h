// The codes every layer of the library reports: the procedures, the frame
// and the key decoding. Their message texts belong to the procedure frame.
#pragma once

#include <cstdint>

namespace varrow {

// Ok for success; any other value is one of the numbered codes below, sent to
// the caller as the message number.
enum class XpErrorCode : std::int32_t {
  Ok = 0,
  ParamCount = 50001,
  InputUnreadable = 50002,
  ParamSize = 50003,
  HexInputSize = 50004,
  Key = 50005,
  OutputUnreadable = 50006,
  OutputTooSmall = 50007,
  OutputNotOutput = 50008,
  ParamType = 50009,
  CipherData = 50010,
  OutputRefused = 50011,
  HexOutputType = 50012,
  KeyFile = 50013,
  KeyPath = 50014,      // kept for the table; never raised
  KeyFileSize = 50015,  // kept for the table; never raised
  ParamNull = 50016,
};

inline constexpr XpErrorCode XP_ERR_FIRST = XpErrorCode::ParamCount;
inline constexpr XpErrorCode XP_ERR_LAST = XpErrorCode::ParamNull;

// The message number of a code.
constexpr std::int32_t error_number(XpErrorCode code) {
  return static_cast<std::int32_t>(code);
}

}  // namespace varrow
