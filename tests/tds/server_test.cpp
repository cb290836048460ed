// varrowd's admission of connections, its password compare and its
// loopback test, without sockets.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <tuple>

#include "tds/server/admission.h"
#include "tds/server/log.h"
#include "tds/server/options.h"
#include "tds/server/server.h"
#include "tds/session/server_identity.h"
#include "tds/wire/login.h"

namespace varrow::host::tds {
namespace {

using std::chrono::seconds;
using Verdict = Admission::Verdict;

TEST(Admission, CapsConnectionsLoggingInPerAddressAndInAll) {
  Admission admission(AdmissionLimits{.max_logged_in = 1,
                                      .max_pending = 4,
                                      .max_pending_per_address = 2,
                                      .stale_after = seconds(1)});
  const auto start = Admission::Clock::now();
  const auto later = start + seconds(1);
  EXPECT_EQ(admission.arrive(1, "a", start).verdict, Verdict::Admit);
  EXPECT_EQ(admission.arrive(2, "a", start).verdict, Verdict::Admit);
  EXPECT_EQ(admission.arrive(3, "a", start).verdict, Verdict::Admit) << "a burst: none stale yet";
  EXPECT_EQ(admission.arrive(4, "a", later).verdict, Verdict::AddressBusy) << "3 stale from a";
  EXPECT_EQ(admission.arrive(5, "b", later).verdict, Verdict::Admit);
  // Every place taken: a newcomer displaces the oldest of the address holding the most.
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
  const AdmissionLimits limits{.failures_before_lockout = 3, .max_lockout = seconds(5)};
  Admission admission(limits);
  auto now = Admission::Clock::now();
  const seconds expected[] = {seconds(0), seconds(0), seconds(1), seconds(2),
                              seconds(4), seconds(5), seconds(5)};
  for (std::size_t i = 0; i < std::size(expected); ++i)
    EXPECT_EQ(admission.login_failed("x", now), expected[i]) << "failure " << i + 1;
  EXPECT_EQ(admission.arrive(1, "x", now + seconds(4)).verdict, Verdict::LockedOut);
  EXPECT_EQ(admission.refused_for("x", now + std::chrono::milliseconds(500)), seconds(5));
  EXPECT_EQ(admission.arrive(2, "y", now).verdict, Verdict::Admit);
  EXPECT_EQ(admission.arrive(3, "x", now + seconds(6)).verdict, Verdict::Admit);
  // A success forgets the failures; so does a long quiet time.
  admission.login_succeeded("x");
  EXPECT_EQ(admission.login_failed("x", now), seconds(0));
  for (int i = 0; i < 4; ++i)
    admission.login_failed("z", now);
  EXPECT_EQ(admission.login_failed("z", now + limits.forget_failures + seconds(1)), seconds(0));
  for (int i = 1; i <= 5; ++i)
    admission.login_failed("2001:db8::" + std::to_string(i), now);
  EXPECT_EQ(admission.arrive(4, "2001:db8::99", now).verdict, Verdict::LockedOut) << "one /64";
}

TEST(Admission, AFullTableGivesUpAPlaceOfTheAddressHoldingTheMost) {
  // The places held, a letter for each address, oldest first, all `age` seconds old; the
  // newcomer's address; which place it takes (-1: it is refused).
  const std::tuple<const char*, const char*, int, const char*, int> cases[] = {
      {"the most give up their oldest", "abbb", 0, "c", 1},
      {"the newcomer's own address holds the most", "abbb", 0, "b", -1},
      {"a tie goes against the newcomer", "aabb", 0, "a", -1},
      {"a lead of one is no reason", "abbc", 0, "a", -1},
      {"lone logins stay while fresh", "abcd", 0, "e", -1},
      {"stale lone logins give way to an address holding none", "abcd", 2, "e", 0},
      {"but not to one holding one", "abcd", 2, "a", -1},
  };
  for (const auto& [name, held, age, newcomer, taken] : cases) {
    Admission admission(AdmissionLimits{.max_pending = 4});
    const auto now = Admission::Clock::now();
    for (Admission::Id i = 0; held[i] != 0; ++i)
      admission.arrive(i, std::string(1, held[i]), now - seconds(age));
    const Admission::Decision got = admission.arrive(9, newcomer, now);
    EXPECT_EQ(got.verdict == Verdict::Admit ? int(got.evict.value_or(9)) : -1, taken) << name;
  }
}

TEST(Admission, LockoutsOutlastAFullTable) {
  const AdmissionLimits limits{.failures_before_lockout = 1};  // each failure: 1 s, 2 s, 4 s...
  const auto t0 = Admission::Clock::now();
  const auto fill = [](Admission& admission, Admission::Clock::time_point when) {
    for (std::size_t i = 0; i < Admission::MAX_REMEMBERED_ADDRESSES; ++i)
      admission.login_failed(std::to_string(i), when);
  };
  Admission guesser(limits);
  for (int i = 0; i < 3; ++i)
    guesser.login_failed("x", t0);             // locked for 4 s
  fill(guesser, t0 + seconds(1));              // each locked for 1 s
  guesser.login_failed("y", t0 + seconds(3));  // their lockouts over: room is made
  EXPECT_EQ(guesser.refused_for("x", t0 + seconds(3)), seconds(1)) << "forgotten while locked";
  Admission all_locked(limits);
  fill(all_locked, t0);
  all_locked.login_failed("new 1", t0);
  EXPECT_EQ(all_locked.refused_for("new 2", t0), seconds(1)) << "new addresses count as one";
  all_locked.login_failed("new 3", t0 + seconds(2));  // lockouts over: remembered again
  EXPECT_EQ(all_locked.refused_for("new 3", t0 + seconds(2)), seconds(1));
}

TEST(Admission, AProxiedConnectionCountsAsItsClient) {
  Admission admission(AdmissionLimits{.max_pending_per_address = 1, .failures_before_lockout = 1});
  const auto start = Admission::Clock::now(), later = start + seconds(1);
  for (Admission::Id id = 1; id <= 4; ++id)
    admission.arrive(id, "balancer", start);
  admission.login_failed("c", later);
  EXPECT_EQ(admission.readdress(1, "a", start), Verdict::Admit);
  EXPECT_EQ(admission.readdress(2, "a", later), Verdict::AddressBusy) << "1 is a's, and stale";
  EXPECT_EQ(admission.readdress(3, "b", later), Verdict::Admit);
  EXPECT_EQ(admission.readdress(4, "c", later), Verdict::LockedOut);
}

TEST(AdmissionKey, IPv6CountsBy64) {
  const std::pair<const char*, const char*> cases[] = {
      {"2001:db8:1:2:3:4:5:6", "2001:db8:1:2::/64"},
      {"fe80::1%eth0", "fe80::/64"},
      {"::ffff:10.0.0.1", "10.0.0.1"},
      {"10.0.0.1", "10.0.0.1"},
      {"?", "?"}};
  for (const auto& [address, key] : cases)
    EXPECT_EQ(admission_key(address), key) << address;
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
  for (const Case& c : cases)
    EXPECT_EQ(constant_time_equal(c.given, c.expected), c.equal)
        << "'" << c.given << "' against '" << c.expected << "'";
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

TEST(LogLine, OneLineOfTextOrOneJsonObject) {
  const auto when = std::chrono::system_clock::time_point(std::chrono::milliseconds(1765275335123));
  const LogWhere where{51, "::1"};
  const std::vector<LogField> fields{
      client_text("user", "a'\n\"b"), {"n", "3", true}, {"said", "x", false, false}};
  const std::pair<LogFormat, std::string> cases[] = {
      {LogFormat::Text,
       "2025-12-09T10:15:35.123Z warning connection=51 peer=::1 bad \"file\" \\  x "
       "user='a\\'\\n\"b' n=3"},
      {LogFormat::Json,
       "{\"time\":\"2025-12-09T10:15:35.123Z\",\"level\":\"warning\",\"connection\":51,"
       "\"peer\":\"::1\",\"message\":\"bad \\\"file\\\" \\\\\\u000a\\u0001x\","
       "\"user\":\"a\\\\'\\\\n\\\"b\",\"n\":3,\"said\":\"x\"}"},
  };
  for (const auto& [format, expected] : cases) {
    EXPECT_EQ(log_line(when, format, LogLevel::Warning, "bad \"file\" \\\n\001x", where, fields),
              expected);
  }
}

TEST(Identity, VarrowdsVersionLineNamesTheBuild) {
  EXPECT_EQ(varrowd_identity().details.rfind("Varrow " + std::string(varrow::VERSION) + " ", 0),
            0u);
}

// Each command line's outcome: what is refused and how the message names
// it, or what the parsed options hold ("" for a line that parses).
TEST(Options, StrictValuesTheFileAndTheCommandLineOverIt) {
  char config[] = "/tmp/varrowd-options-XXXXXX";
  const int fd = ::mkstemp(config);
  const std::string file = "listen = [\"[::1]:0\", \"127.0.0.1:15000\"]\nmax-connections = 7\n";
  ASSERT_EQ(::write(fd, file.data(), file.size()), static_cast<ssize_t>(file.size()));
  ::close(fd);
  struct Case {
    std::vector<const char*> args;
    std::string error;   // part of the message on stderr
    std::string parsed;  // the listen addresses, then max-connections
  };
  const Case cases[] = {
      {{}, "", "127.0.0.1:1433 64"},
      {{"--max-connections", "abc"}, "--max-connections: 'abc' is not a whole number", ""},
      {{"--max-connections", "0"}, "'0' is not a whole number from 1", ""},
      {{"--idle-timeout", "99999999999"}, "--idle-timeout: '99999999999'", ""},
      {{"--shutdown-grace", "0"}, "", "127.0.0.1:1433 64"},
      {{"--listen", "127.0.0.1:15000x"}, "'127.0.0.1:15000x' is not ADDR:PORT", ""},
      {{"--listen", "127.0.0.1:65536"}, "the port is a number from 0 to 65535", ""},
      {{"--listen", "::1:5"}, "an IPv6 address goes in brackets", ""},
      {{"--listen", "[::1:5"}, "ends with ']'", ""},
      {{"--listen", "[::1]:5", "--listen", "h:6"}, "", "[::1]:5 h:6 64"},
      {{"--log-format", "xml"}, "'xml' is not one of text, json", ""},
      {{"--nonsense"}, "--nonsense", ""},
      {{"--config", config}, "", "[::1]:0 127.0.0.1:15000 7"},
      {{"--config", config, "--max-connections", "9", "--listen", "a:1"}, "", "a:1 9"},
      {{"--config", "/nonexistent"}, "/nonexistent", ""},
      {{"--proxy-protocol-from", "10.0.0.1/8"}, "--proxy-protocol-from: ", ""},
  };
  for (const Case& c : cases) {
    std::vector<const char*> argv{"varrowd"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    DaemonOptions options;
    std::ostringstream out, err;
    const std::optional<int> status =
        parse_options(static_cast<int>(argv.size()), argv.data(), options, out, err);
    const std::string line = c.args.empty() ? "" : c.args.back();
    if (!c.error.empty()) {
      EXPECT_EQ(status, 1) << line;
      EXPECT_NE(err.str().find(c.error), std::string::npos) << line << ": " << err.str();
      continue;
    }
    ASSERT_EQ(status, std::nullopt) << line << ": " << err.str();
    std::string parsed;
    for (const Endpoint& e : options.server.listen)
      parsed += endpoint_text(e.address, e.port) + " ";
    EXPECT_EQ(parsed + std::to_string(options.server.admission.max_logged_in), c.parsed) << line;
  }
  std::remove(config);
}

}  // namespace
}  // namespace varrow::host::tds
