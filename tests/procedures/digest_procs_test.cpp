#include "procedure_fixture.h"
#include "support/allocator.h"
#include "support/oracle.h"

namespace varrow::test {
namespace {

struct DigestShape {
  const char* name;
  std::uint32_t size;
  Bytes (*oracle)(const Bytes&);
};

const DigestShape DIGESTS[] = {
    {"xp_MD5_Encrypt", 16, oracle_md5},
    {"xp_SHA1_Encrypt", 20, oracle_sha1},
};

Bytes oracle_digest(const DigestShape& shape, const Bytes& message) {
  return shape.oracle(message);
}

void PrintTo(const DigestShape& shape, std::ostream* os) {
  *os << shape.name;
}

class DigestProcedure : public ::testing::TestWithParam<DigestShape> {
 protected:
  Outcome digest(Param in, Param out) {
    return run(GetParam().name, {std::move(in), std::move(out)});
  }
};

TEST_P(DigestProcedure, RawDigestBytesOfTheInput) {
  const DigestShape& shape = GetParam();
  for (std::size_t length : {0u, 1u, 3u, 55u, 56u, 64u, 1000u, 8000u}) {
    Bytes message(length);
    for (std::size_t i = 0; i < length; ++i)
      message[i] = static_cast<std::uint8_t>(i ^ 0x5A);
    expect_output(digest(input(message), output(shape.size)), 2, oracle_digest(shape, message));
  }
  expect_error(digest(input(Bytes(8001, 'a')), output(100)), 50003);
}

TEST_P(DigestProcedure, OutputSizeBounds) {
  const DigestShape& shape = GetParam();
  expect_error(digest(input_text("abc"), output(shape.size - 1)), 50007);
  const Bytes expected = oracle_digest(shape, to_bytes("abc"));
  expect_output(digest(input_text("abc"), output(shape.size)), 2, expected);
  // A larger output still receives exactly the digest.
  expect_output(digest(input_text("abc"), output(8000)), 2, expected);
  for (std::uint8_t type : {NCHAR, NVARCHAR, CHAR, LEGACY_VARCHAR}) {
    expect_output(digest(input_text("abc"), output(100, type)), 2, expected);
  }
}

TEST_P(DigestProcedure, NullInputWithTooSmallOutputGivesNull) {
  expect_null_output(digest(null_input(), output(1)), 2);
}

// Replacing operator new reaches into a loaded library only where symbols are
// shared process-wide; a Windows DLL keeps its own.
#if !defined(_WIN32)
TEST_P(DigestProcedure, AllocationFailureIsReportedNotThrown) {
  // The call records its first events without allocating, so the first
  // allocation made once the call is built is the digest's working copy.
  const Outcome outcome = run(GetParam().name, {input_text("abc"), output(100)},
                              [](FaultyCall&) { fail_next_allocations(1); });
  fail_next_allocations(0);
  expect_error(outcome, 50011);
}

TEST_P(DigestProcedure, HeapReturnsToWhereItWas) {
  const host::Procedure procedure = library().find(GetParam().name);
  const Bytes message(8000, 'q');
  auto one_call = [&] {
    Call call({input(message), output(100)});
    procedure(call.handle());
  };
  one_call();
  const long before = live_allocations();
  for (int i = 0; i < 500; ++i)
    one_call();
  EXPECT_EQ(live_allocations(), before);
}

#endif

INSTANTIATE_TEST_SUITE_P(Digests, DigestProcedure, ::testing::ValuesIn(DIGESTS),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

}  // namespace
}  // namespace varrow::test
