// varrowd's admission of connections, its password compare and its
// loopback test, without sockets.
#include <arpa/inet.h>
#include <netinet/in.h>

#include <gtest/gtest.h>

#include <cstring>

#include "tds/admission.h"
#include "tds/login.h"
#include "tds/server.h"

namespace varrow::host::tds {
namespace {

using std::chrono::seconds;
using Verdict = Admission::Verdict;

TEST(Admission, CapsConnectionsLoggingInPerAddressAndInAll) {
  AdmissionLimits limits;
  limits.max_pending = 4;
  limits.max_pending_per_address = 2;
  limits.max_logged_in = 1;
  limits.stale_after = seconds(1);
  Admission admission(limits);
  const auto start = Admission::Clock::now();
  const auto later = start + seconds(1);
  EXPECT_EQ(admission.arrive(1, "a", start).verdict, Verdict::Admit);
  EXPECT_EQ(admission.arrive(2, "a", start).verdict, Verdict::Admit);
  EXPECT_EQ(admission.arrive(3, "a", start).verdict, Verdict::Admit) << "a burst: none stale yet";
  EXPECT_EQ(admission.arrive(4, "a", later).verdict, Verdict::AddressBusy) << "3 stale from a";
  EXPECT_EQ(admission.arrive(5, "b", later).verdict, Verdict::Admit);
  // Every place taken: a newcomer displaces the oldest.
  const Admission::Decision full = admission.arrive(6, "c", later);
  EXPECT_EQ(full.verdict, Verdict::Admit);
  EXPECT_EQ(full.evict, Admission::Id{1});
  EXPECT_EQ(admission.pending(), 4);
  EXPECT_FALSE(admission.log_in(1)) << "an evicted connection cannot log in";
  EXPECT_TRUE(admission.log_in(2));
  EXPECT_FALSE(admission.log_in(5)) << "the logged-in cap is 1";
  EXPECT_EQ(admission.arrive(7, "a", later).verdict, Verdict::Admit) << "1 stale from a";
  const auto last = later + seconds(1);
  EXPECT_EQ(admission.arrive(8, "a", last).verdict, Verdict::AddressBusy) << "2 stale from a";
  admission.leave(3);
  const Admission::Decision freed = admission.arrive(9, "a", last);
  EXPECT_EQ(freed.verdict, Verdict::Admit);
  EXPECT_FALSE(freed.evict);
  admission.leave(2);
  admission.leave(1);  // evicted earlier: no effect
  EXPECT_EQ(admission.logged_in(), 0);
  EXPECT_TRUE(admission.log_in(5));
  EXPECT_EQ(admission.pending(), 3);
}

TEST(Admission, FailedLoginsLockOutTheirAddressOnlyAndLonger) {
  AdmissionLimits limits;
  limits.failures_before_lockout = 3;
  limits.max_lockout = seconds(5);
  Admission admission(limits);
  auto now = Admission::Clock::now();
  const seconds expected[] = {seconds(0), seconds(0), seconds(1), seconds(2),
                              seconds(4), seconds(5), seconds(5)};
  for (std::size_t i = 0; i < std::size(expected); ++i) {
    EXPECT_EQ(admission.login_failed("x", now), expected[i]) << "failure " << i + 1;
  }
  EXPECT_EQ(admission.arrive(1, "x", now + seconds(4)).verdict, Verdict::LockedOut);
  EXPECT_EQ(admission.arrive(2, "y", now).verdict, Verdict::Admit);
  EXPECT_EQ(admission.arrive(3, "x", now + seconds(6)).verdict, Verdict::Admit);
  // A success forgets the failures; so does a long quiet time.
  admission.login_succeeded("x");
  EXPECT_EQ(admission.login_failed("x", now), seconds(0));
  for (int i = 0; i < 4; ++i)
    admission.login_failed("z", now);
  EXPECT_EQ(admission.login_failed("z", now + limits.forget_failures + seconds(1)), seconds(0));
}

TEST(ConstantTimeEqual, EqualOnlyForTheSameBytes) {
  struct Case {
    std::string_view given, expected;
    bool equal;
  };
  const Case cases[] = {
      {"secret", "secret", true},
      {"secreT", "secret", false},
      {"secre", "secret", false},
      {"secret!", "secret", false},
      {"", "secret", false},
      {"secret", "", false},
      {"", "", true},
      {std::string_view("se\0ret", 6), "secret", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(constant_time_equal(c.given, c.expected), c.equal)
        << "'" << c.given << "' against '" << c.expected << "'";
  }
}

TEST(IsLoopback, TestsTheResolvedAddress) {
  struct Case {
    const char* address;
    bool loopback;
  };
  const Case cases[] = {
      {"127.0.0.1", true},        {"127.255.0.9", true}, {"0177.0.0.1", true},       {"::1", true},
      {"::ffff:127.0.0.2", true}, {"localhost", true},   {"0.0.0.0", false},         {"::", false},
      {"10.127.0.1", false},      {"128.0.0.1", false},  {"::ffff:10.0.0.1", false}, {"::2", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(is_loopback(std::string(c.address)), c.loopback) << c.address;
}

}  // namespace
}  // namespace varrow::host::tds
