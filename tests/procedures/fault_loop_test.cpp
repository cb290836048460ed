// Fault loops: a whole call of every procedure, run again and again with the
// k-th host operation failing (k = 1, 2, ... until a call goes through
// without reaching it), and on Linux with the k-th allocation failing. Every
// outcome is a documented error with a well-formed reply, or a success.
#include "procedure_fixture.h"
#include "support/allocator.h"
#include "support/oracle.h"

namespace varrow::test {
namespace {

using host::EventKind;

const std::string KEY = "000102030405060708090a0b0c0d0e0f";

struct FaultCase {
  const char* what;
  const char* procedure;
  std::vector<Param> params;
};

std::vector<FaultCase> fault_cases() {
  const Bytes cipher = oracle_aes_ecb(true, from_hex(KEY), to_bytes("abc"), true);
  return {
      {"hexstr", "xp_hexstr", {input_text("abc"), output(6)}},
      {"md5", "xp_MD5_Encrypt", {input_text("abc"), output(16)}},
      {"sha1", "xp_SHA1_Encrypt", {input_text("abc"), output(20)}},
      {"encrypt", "xp_AES_Encrypt", {input_text("abc"), input_text(KEY), output(16)}},
      {"decrypt", "xp_AES_Decrypt", {input(cipher), input_text(KEY), output(16)}},
      {"encrypt, output too small", "xp_AES_Encrypt", {input_text("abc"), null_input(), output(8)}},
  };
}

// The reply pieces in order, one word each: "output", "refused", "status",
// "message", "done".
std::vector<std::string> reply_pieces(const Call& call) {
  std::vector<std::string> pieces;
  for (const host::Event& e : call.events()) {
    switch (e.kind) {
      case EventKind::OutputSet:
        pieces.push_back("output");
        break;
      case EventKind::OutputRefused:
        pieces.push_back("refused");
        break;
      case EventKind::ReturnStatus:
        pieces.push_back("status " + std::to_string(e.value));
        break;
      case EventKind::Message:
        pieces.push_back("message " + std::to_string(e.value));
        break;
      case EventKind::Done:
        pieces.push_back("done " + std::to_string(e.value));
        break;
      default:
        break;
    }
  }
  return pieces;
}

// What a failed call sends when the host records all of it.
std::vector<std::string> error_reply(int code, bool refused) {
  std::vector<std::string> pieces = {"status 1", "message " + std::to_string(code), "done 3"};
  if (refused) pieces.insert(pieces.begin(), "refused");
  return pieces;
}

// `pieces` with the first one of `missing` left out.
std::vector<std::string> without(std::vector<std::string> pieces, const std::string& missing) {
  const auto at = std::find_if(pieces.begin(), pieces.end(),
                               [&](const std::string& p) { return p.rfind(missing, 0) == 0; });
  if (at != pieces.end()) pieces.erase(at);
  return pieces;
}

// Any message sent is its code's whole record, class 10, state 0.
void expect_whole_messages(const Call& call) {
  for (const host::Event* m : call.messages()) {
    const auto text = EXPECTED_MESSAGES.find(m->value);
    ASSERT_NE(text, EXPECTED_MESSAGES.end()) << m->value;
    std::string record = text->second;
    record.resize(100, '\0');
    EXPECT_EQ(std::string(m->bytes.begin(), m->bytes.end()), record);
    EXPECT_EQ(m->msg_class, 10);
    EXPECT_EQ(m->state, 0);
  }
}

// The code the procedure owes when query number `k` (an srv_paraminfo of
// parameter n) fails: the first query of a parameter describes it, the second
// copies its value.
int code_for_failed_query(const Call& call, int k, int param_count) {
  const int n = call.events().at(static_cast<std::size_t>(k) - 1).param;
  int earlier = 0;
  for (int i = 0; i + 1 < k; ++i) {
    const host::Event& e = call.events()[static_cast<std::size_t>(i)];
    if (e.kind == EventKind::ParamQuery && e.param == n) ++earlier;
  }
  if (n == param_count) return 50006;                            // the OUTPUT parameter
  if (n == 2 && param_count == 3 && earlier == 0) return 50005;  // the AES key
  return 50002;
}

TEST(FaultLoops, EveryHostOperationFailingInTurn) {
  for (const FaultCase& c : fault_cases()) {
    const Outcome clean = run(c.procedure, c.params);
    const std::vector<std::string> clean_reply = reply_pieces(clean.call);
    const int param_count = static_cast<int>(c.params.size());
    int k = 1;
    for (;; ++k) {
      SCOPED_TRACE(std::string(c.what) + ", operation " + std::to_string(k));
      const Outcome faulty =
          run(c.procedure, c.params, [k](FaultyCall& call) { call.fail_operation(k); });
      if (!faulty.call.failed()) {
        EXPECT_EQ(reply_pieces(faulty.call), clean_reply);
        break;
      }
      std::vector<std::string> expected = clean_reply;
      int returned = clean.returned;
      switch (*faulty.call.failed()) {
        case Operation::RpcParams:
          expected = error_reply(50001, false), returned = 0;
          break;
        case Operation::ParamInfo:
          expected = error_reply(code_for_failed_query(faulty.call, k, param_count), false);
          returned = 0;
          break;
        case Operation::ParamStatus:  // -1 carries the OUTPUT bit
        case Operation::ParamType:    // -1 is no national type
          break;
        case Operation::ParamSetOutput:
          expected = error_reply(50011, true), returned = 0;
          break;
        case Operation::SendStatus:
          expected = without(expected, "status");
          break;
        case Operation::SendMsg:
          expected = without(expected, "message");
          break;
        case Operation::SendDone:
          expected = without(expected, "done");
          break;
      }
      EXPECT_EQ(reply_pieces(faulty.call), expected);
      EXPECT_EQ(faulty.returned, returned);
      expect_whole_messages(faulty.call);
    }
    EXPECT_GT(k, 5) << c.what;  // the loop went through the whole call
  }
}

// Replacing operator new reaches into a loaded library only where symbols are
// shared process-wide; a Windows DLL keeps its own.
#if !defined(_WIN32)
TEST(FaultLoops, EveryAllocationFailingInTurn) {
  for (const FaultCase& c : fault_cases()) {
    const Outcome clean = run(c.procedure, c.params);
    int k = 1;
    for (;; ++k) {
      SCOPED_TRACE(std::string(c.what) + ", allocation " + std::to_string(k));
      const Outcome faulty = run(c.procedure, c.params, [k](FaultyCall&) { fail_allocation(k); });
      const bool hit = allocation_failure_hit();
      fail_allocation(0);
      const std::vector<std::string> pieces = reply_pieces(faulty.call);
      if (!hit) {
        EXPECT_EQ(pieces, reply_pieces(clean.call));
        break;
      }
      expect_whole_messages(faulty.call);
      if (faulty.returned == 1) {
        EXPECT_EQ(faulty.call.params().back().value, clean.call.params().back().value);
        continue;
      }
      // A failed call: status 1, one documented message, done 3. The host
      // answers an operation it could not record (its own allocation failed)
      // as failed, so one piece may be missing, never more.
      EXPECT_EQ(faulty.returned, 0);
      const auto messages = faulty.call.messages();
      const int code = messages.empty() ? 0 : messages[0]->value;
      std::vector<std::string> expected = error_reply(code, false);
      if (messages.empty()) expected = without(expected, "message");
      EXPECT_LE(messages.size(), 1u);
      EXPECT_TRUE(pieces == expected || pieces == without(expected, "status") ||
                  pieces == without(expected, "done"))
          << ::testing::PrintToString(pieces);
    }
    EXPECT_GT(k, 1) << c.what << ": the call allocates nothing";
  }
}
#endif

}  // namespace
}  // namespace varrow::test
