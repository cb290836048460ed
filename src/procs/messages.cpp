#include "procs/messages.h"

namespace varrow {

// String literals shorter than the record leave the rest of it zero.
const char ERROR_MESSAGES[ERROR_COUNT][ERROR_MESSAGE_SIZE] = {
    "Error: incorrect parameter count",
    "Error: invalid input param, cannot read input parameter",
    "Error: invalid param size, maximum parameter size is 8000 bytes",
    "Error: invalid param size, maximum parameter size is 4000 bytes",
    "Error: invalid key param, key should be 32/48/64 bytes char that contains hex values",
    "Error: invalid output param, cannot handle output parameter",
    "Error: invalid output param, output buffer too small",
    "Error: invalid output param, OUTPUT parameter is not specified",
    "Error: invalid param type, parameter should be CHAR/VARCHAR/NCHAR/NVARCHAR type",
    "Error: invalid cipher data, cipher data is corrupted",
    "Error: invalid output type or cannot return output string",
    "Error: invalid output type, output type should not be NCHAR or NVARCHAR",
    "Error: incorrect file name or cannot handle the file",
    "Error: invalid filename or file path should be less than 260 bytes",
    "Error: invalid input file size, maximum size is 8000 bytes",
    "Error: parameter is null",
};

const char* error_message(XpErrorCode code) {
  if (code < XP_ERR_FIRST || code > XP_ERR_LAST) return nullptr;
  return ERROR_MESSAGES[error_number(code) - error_number(XP_ERR_FIRST)];
}

}  // namespace varrow
