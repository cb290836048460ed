// Several threads call all five procedures at once, each with its own call
// objects; every answer must equal the one given single-threaded. Run under
// ThreadSanitizer this also shows that the library shares nothing writable.
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <random>
#include <thread>

#include "procedure_fixture.h"

namespace varrow::test {
namespace {

struct Case {
  std::string procedure;
  std::vector<Param> params;
  std::string replies;  // the single-threaded answer
  std::optional<Bytes> output;
};

std::vector<Case> make_cases() {
  std::mt19937 random(7);
  auto bytes = [&](std::size_t n) {
    Bytes b(n);
    for (auto& x : b)
      x = static_cast<std::uint8_t>(random());
    return b;
  };
  const std::string keys[] = {"000102030405060708090a0b0c0d0e0f",
                              "8e73b0f7da0e6452c810f32b809079e562f8ead2522c6b7b",
                              "603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4"};
  std::vector<Case> cases;
  auto add = [&cases](const char* procedure, std::vector<Param> params) {
    cases.push_back(Case{procedure, std::move(params), "", std::nullopt});
  };
  for (int i = 0; i < 12; ++i) {
    const Bytes plain = bytes(random() % 600);
    add("xp_AES_Encrypt", {input(plain), input_text(keys[i % 3]), output(8000)});
    add("xp_AES_Decrypt",
        {input(bytes(16 * (1 + random() % 8))), input_text(keys[i % 3]), output(8000)});
    add("xp_MD5_Encrypt", {input(plain), output(16)});
    add("xp_SHA1_Encrypt", {input(plain), output(20)});
    add("xp_hexstr", {input(plain), output(8000)});
    add("xp_hexstr", {input(plain), output(3)});  // an error answer
  }
  for (Case& c : cases) {
    const Outcome outcome = run(c.procedure, c.params);
    c.replies = outcome.call.replies();
    c.output = outcome.call.params().back().value;
  }
  return cases;
}

int stress_seconds() {
  const char* text = std::getenv("VARROW_STRESS_SECONDS");
  return text != nullptr ? std::atoi(text) : 2;
}

TEST(Concurrency, ThreadsGetTheSingleThreadedAnswers) {
  const std::vector<Case> cases = make_cases();
  std::vector<host::Procedure> entries;
  for (const Case& c : cases)
    entries.push_back(library().find(c.procedure));

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(stress_seconds());
  std::atomic<long> calls{0}, mismatches{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      std::mt19937 order(static_cast<unsigned>(t));
      while (std::chrono::steady_clock::now() < deadline) {
        const std::size_t i = order() % cases.size();
        Call call(cases[i].params);
        entries[i](call.handle());
        if (call.replies() != cases[i].replies || call.params().back().value != cases[i].output) {
          ++mismatches;
        }
        ++calls;
      }
    });
  }
  for (auto& thread : threads)
    thread.join();
  EXPECT_EQ(mismatches.load(), 0);
  EXPECT_GT(calls.load(), 100);
}

}  // namespace
}  // namespace varrow::test
