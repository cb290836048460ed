// varrowd's key folder: the answer to each kind of path, through the policy
// and the built library, and that a call never reads a file other than the
// one checked while names in the folder are swapped under it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "session_fixture.h"
#include "tds/key_files.h"

namespace varrow::host::tds {
namespace {

namespace fs = std::filesystem;
using Resolver = KeyFilePolicy::Resolver;

const std::string INSIDE_KEY = "000102030405060708090A0B0C0D0E0F";
const std::string OUTSIDE_KEY = "FFEEDDCCBBAA99887766554433221100";

long open_descriptors() {
  return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator());
}

class KeyFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::remove_all(top_);
    fs::create_directories(dir_ / "folder");
    std::ofstream(dir_ / "inside.key") << INSIDE_KEY << "\n";
    std::ofstream(top_ / "outside.key") << OUTSIDE_KEY << "\n";
    fs::create_symlink(dir_ / "inside.key", dir_ / "link-in.key");
    fs::create_symlink(top_ / "outside.key", dir_ / "link-out.key");
    fs::create_symlink("../outside.key", dir_ / "up-out.key");
    fs::create_directories(dir_ / "sub");
    fs::create_symlink("../link-in.key", dir_ / "sub" / "up-in.key");
    fs::create_symlink(top_, dir_ / "sub" / "folder-out");
    ::mkfifo((dir_ / "fifo.key").c_str(), 0600);
  }
  void TearDown() override { fs::remove_all(top_); }

  // The hex ciphertext of "plain" under `key` once the policy let it pass,
  // the procedure's replies when it set no output, or the refusal's text.
  static std::string encrypt(const KeyFilePolicy& policy, const std::string& key) {
    std::vector<Param> params(3);
    params[0].value = Bytes{'p', 'l', 'a', 'i', 'n'};
    params[1].value = Bytes(key.begin(), key.end());
    params[1].max_length = static_cast<std::uint32_t>(key.size());
    params[2].max_length = 32;
    params[2].output = true;
    if (auto refusal = policy.check("xp_AES_Encrypt", params)) return refusal->text;
    Call call(std::move(params));
    test_library().find("xp_AES_Encrypt")(call.handle());
    for (const Event& e : call.events())
      if (e.kind == EventKind::OutputSet) return test::to_hex(e.bytes);
    return call.replies();
  }

  const fs::path top_ =
      fs::path(::testing::TempDir()) / ("varrow_keys_" + std::to_string(getpid()));
  const fs::path dir_ = top_ / "keys";
};

TEST_F(KeyFolder, EachKindOfPathGetsItsAnswer) {
  const std::string d = "keyfile=" + fs::canonical(dir_).string();
  struct Case {
    std::string key;
    std::string expected;  // "" for the inside key's ciphertext, else a part of the answer
  };
  const std::vector<Case> cases = {
      {d + "/inside.key", ""},
      {"KEYFILE=" + d.substr(8) + "//./folder/../inside.key", ""},
      {d + "/inside.key" + std::string(1, '\0') + "/../../outside.key", ""},
      {d + "/link-in.key", ""},
      {d + "/sub/up-in.key", ""},
      {d + "/link-out.key", "leads out"},
      {d + "/up-out.key", "leads out"},
      {d + "/sub/folder-out/inside.key", "leads out"},
      {d + "/../outside.key", "leads out"},
      {d + "2/inside.key", "leads out"},
      {"keyfile=/etc/passwd", "leads out"},
      {"keyfile=keys/inside.key", "only absolute paths"},
      {d + "/none.key", "no such file"},
      {d + "/folder", "not name a regular file"},
      {d + "/fifo.key", "not name a regular file"},
      {d, "not name a regular file"},
      {d + std::string(268 - d.size(), '/'), "message 50013"},  // its own limit
  };
  for (const Resolver resolver : {Resolver::Kernel, Resolver::Walk}) {
    const KeyFilePolicy policy(dir_.string(), resolver);
    const std::string inside = encrypt(policy, INSIDE_KEY);
    const long descriptors = open_descriptors();
    for (const Case& c : cases) {
      const std::string got = encrypt(policy, c.key);
      EXPECT_TRUE(c.expected.empty() ? got == inside : got.find(c.expected) != std::string::npos)
          << c.key << ": " << got;
    }
    EXPECT_EQ(open_descriptors(), descriptors);
  }
  EXPECT_EQ(encrypt(KeyFilePolicy(std::nullopt), d + "/inside.key").find("Key files are not"), 0u);
}

// A writer in the folder exchanges a key file with a link to a file outside
// as fast as it can while calls name the key file.
TEST_F(KeyFolder, SwappingNamesNeverHandsTheProcedureAnOutsideKey) {
  std::ofstream(dir_ / "swap.key") << INSIDE_KEY << "\n";
  fs::create_symlink(top_ / "outside.key", dir_ / "swap-link");
  const std::string swap = (dir_ / "swap.key").string(), link = (dir_ / "swap-link").string();
  for (const Resolver resolver : {Resolver::Kernel, Resolver::Walk}) {
    const KeyFilePolicy policy(dir_.string(), resolver);
    const std::string inside = encrypt(policy, INSIDE_KEY), outside = encrypt(policy, OUTSIDE_KEY);
    std::atomic<bool> stop{false};
    std::thread swapper([&] {
      while (!stop)
        ::renameat2(AT_FDCWD, swap.c_str(), AT_FDCWD, link.c_str(), RENAME_EXCHANGE);
    });
    int accepted = 0, leaked = 0;
    for (const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(750);
         std::chrono::steady_clock::now() < end;) {
      const std::string got = encrypt(policy, "keyfile=" + swap);
      accepted += got == inside;
      leaked += got == outside;
    }
    stop = true;
    swapper.join();
    EXPECT_EQ(leaked, 0);
    EXPECT_GT(accepted, 0);
  }
}

}  // namespace
}  // namespace varrow::host::tds
