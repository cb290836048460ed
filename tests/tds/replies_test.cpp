// How replies end and how a failing procedure call reads, on bytes: the
// status bits drivers act on.
#include <gtest/gtest.h>

#include "session_fixture.h"

namespace varrow::host::tds {
namespace {

// A logged-in session per test.
class Replies : public LoggedInSession {};

TEST_F(Replies, BatchesEndWithTheLastStatementsDone) {
  struct Case {
    const char* batch;
    const char* ending;  // the last 13 bytes
  };
  const Case cases[] = {
      // A SELECT's DONE (COUNT, one row) is the final one.
      {"SELECT 1", "fd100000000100000000000000"},
      // An EXEC's DONEPROC ends the batch.
      {"DECLARE @h VARCHAR(4); EXEC xp_hexstr 'a', @h OUTPUT", "fe000000000000000000000000"},
      // Only declarations: one DONE.
      {"DECLARE @h VARCHAR(4)", "fd000000000000000000000000"},
      // A syntax error: its ERROR, then a DONE with the error bit.
      {"SELEC 1", "fd020000000000000000000000"},
  };
  for (const Case& c : cases) {
    const std::string reply = batch(c.batch);
    ASSERT_GE(reply.size(), 26u) << c.batch;
    EXPECT_EQ(reply.substr(reply.size() - 26), c.ending) << c.batch;
  }
  // Two statements: the first keeps DONE_MORE.
  const std::string two = batch("SELECT 1; SELECT 2");
  EXPECT_NE(two.find("fd1100000001"), std::string::npos) << two;
  EXPECT_EQ(two.substr(two.size() - 26), "fd100000000100000000000000");
}

TEST_F(Replies, FailingCallIsAnInfoAndStatusOneWithoutTheErrorBit) {
  // xp_AES_Encrypt 'x', '0123', @out VARCHAR(16) OUTPUT by RPC.
  const Bytes rpc = concat({ALL_HEADERS, from_hex("0e00"), ucs2("xp_AES_Encrypt"),
                            from_hex("0000 00 00 A7 4000 0904D00034 0100 78"),
                            from_hex("00 00 A7 4000 0904D00034 0400 30313233"),
                            from_hex("00 01 A7 1000 0904D00034 FFFF")});
  const std::string reply = request(PACKET_RPC, rpc);
  EXPECT_EQ(reply.substr(0, 2), "ab");        // INFO, not ERROR
  EXPECT_EQ(reply.substr(6, 8), "55c30000");  // 50005
  EXPECT_EQ(reply.substr(16, 2), "0a");       // class 10
  // RETURNSTATUS 1, the OUTPUT parameter (NULL), a DONEPROC without DONE_ERROR.
  EXPECT_NE(reply.find("7901000000ac0200"), std::string::npos) << reply;
  EXPECT_EQ(reply.substr(reply.size() - 26), "fe000000000000000000000000");

  // The same call in a batch: INFO, RETURNSTATUS 1, the DONEPROC ends it.
  const std::string in_batch =
      batch("DECLARE @c VARCHAR(16); EXEC xp_AES_Encrypt 'x', '0123', @c OUTPUT");
  EXPECT_EQ(in_batch.substr(0, 2), "ab");
  EXPECT_NE(in_batch.find("7901000000fe0000"), std::string::npos) << in_batch;
  EXPECT_EQ(in_batch.substr(in_batch.size() - 26), "fe000000000000000000000000");

  // varrowd's own errors are ERROR tokens, with the error bit.
  const std::string unknown = batch("EXEC xp_nothing");
  EXPECT_EQ(unknown.substr(0, 2), "aa");
  EXPECT_EQ(unknown.substr(6, 8), "fc0a0000");  // 2812
  EXPECT_EQ(unknown.substr(unknown.size() - 26, 6), "fd0200");
}

}  // namespace
}  // namespace varrow::host::tds
