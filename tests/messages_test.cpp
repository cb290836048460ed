// The message lookup behind every reported error.
#include <gtest/gtest.h>

#include <cstring>

#include "procs/messages.h"

namespace varrow {
namespace {

TEST(ErrorMessages, LookupStaysInsideTheTable) {
  EXPECT_EQ(error_message(XpErrorCode::Ok), nullptr);
  EXPECT_EQ(error_message(static_cast<XpErrorCode>(50000)), nullptr);
  EXPECT_EQ(error_message(static_cast<XpErrorCode>(50017)), nullptr);
  EXPECT_STREQ(error_message(XpErrorCode::ParamCount), "Error: incorrect parameter count");
  EXPECT_STREQ(error_message(XpErrorCode::ParamNull), "Error: parameter is null");
  // Every record keeps at least one NUL, so it is sent whole with its padding.
  for (int code = 50001; code <= 50016; ++code) {
    const char* record = error_message(static_cast<XpErrorCode>(code));
    ASSERT_NE(record, nullptr) << code;
    EXPECT_LT(std::strlen(record), ERROR_MESSAGE_SIZE) << code;
  }
}

}  // namespace
}  // namespace varrow
