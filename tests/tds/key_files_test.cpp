// varrowd's key folder through the policy and the built library: the answer
// to each kind of path, and never an outside key while names are swapped.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <new>
#include <thread>

#include "session_fixture.h"
#include "tds/session/key_files.h"

namespace varrow::host::tds {
namespace {

namespace fs = std::filesystem;

// The ciphertext of "p" in hex, else the procedure's replies or the refusal.
std::string encrypt(const KeyFilePolicy& policy, const std::string& key) {
  std::vector<Param> params = {{"", TYPE_BIGVARCHAR, 1, Bytes{'p'}},
                               {"", TYPE_BIGVARCHAR, 0, Bytes(key.begin(), key.end())},
                               {"", TYPE_BIGVARCHAR, 16, std::nullopt, true}};
  if (auto refusal = policy.check("xp_AES_Encrypt", params)) return refusal->text;
  Call call(std::move(params));
  test_library().find("xp_AES_Encrypt")(call.handle());
  for (const Event& e : call.events())
    if (e.kind == EventKind::OutputSet) return to_hex(e.bytes);
  return call.replies();
}

TEST(KeyFolder, AnswersEachKindOfPathAndReadsOnlyTheFileChecked) {
  const fs::path top = fs::canonical(::testing::TempDir()) / "varrow_key_folder", dir = top / "k";
  const std::string inside_key = "000102030405060708090A0B0C0D0E0F", d = "keyfile=" + dir.string();
  fs::remove_all(top);
  fs::create_directories(dir);
  std::ofstream(dir / "in.key") << inside_key << "\n";
  std::ofstream(top / "out.key") << "FFEEDDCCBBAA99887766554433221100\n";
  fs::create_symlink(dir / "in.key", dir / "link-in.key");
  fs::create_symlink(top / "out.key", dir / "link-out.key");
  fs::create_symlink("../out.key", dir / "up-out.key");
  const std::string inside = encrypt(KeyFilePolicy(std::nullopt), inside_key);
  const std::vector<std::pair<std::string, std::string>> cases = {
      // and "" for the inside key's ciphertext, else a part of the answer
      {d + "/in.key", ""},
      {"KEYFILE=" + dir.string() + "//./in.key" + std::string(1, '\0') + "/../../out.key", ""},
      {d + "/link-in.key", ""},
      {d + "/link-out.key", "leads out"},
      {d + "/up-out.key", "leads out"},
      {d + "2/in.key", "leads out"},
      {"keyfile=k/in.key", "only absolute paths"},
      {d + "/none.key", "no such file"},
      {d, "not name a regular file"},
      {d + std::string(268 - d.size(), '/'), "message 50013"},  // the procedure's own limit
  };
  for (const auto resolver : {KeyFilePolicy::Resolver::Walk, KeyFilePolicy::Resolver::Kernel}) {
    const KeyFilePolicy policy(dir.string(), resolver);
    const long descriptors = std::distance(fs::directory_iterator("/proc/self/fd"), {});
    for (const auto& [key, expected] : cases) {
      const std::string got = encrypt(policy, key);
      EXPECT_TRUE(expected.empty() ? got == inside : got.find(expected) != std::string::npos)
          << key << ": " << got;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator("/proc/self/fd"), {}), descriptors);
  }
  // A writer in the folder exchanges the key file with the link out.
  const KeyFilePolicy policy(dir.string());
  std::atomic<bool> stop{false};
  std::thread swapper([&] {
    while (!stop)
      ::renameat2(AT_FDCWD, (dir / "in.key").c_str(), AT_FDCWD, (dir / "link-out.key").c_str(),
                  RENAME_EXCHANGE);
  });
  int read_inside = 0, leaked = 0;
  for (const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(1);
       std::chrono::steady_clock::now() < end;) {
    const std::string got = encrypt(policy, d + "/in.key");
    read_inside += got == inside;
    leaked += got.size() == inside.size() && got != inside;
  }
  stop = true;
  swapper.join();
  EXPECT_EQ(leaked, 0);
  EXPECT_GT(read_inside, 0);
  fs::remove_all(top);
}

TEST(KeyFolder, ReadsNothingPastTheParametersOfACall) {
  // A key file's name in the room past the one parameter, where a guard
  // reading a second parameter would find it.
  std::vector<Param> params = {{"", TYPE_BIGVARCHAR, 1, Bytes{'p'}}};
  params.reserve(2);
  Param* past =
      new (params.data() + 1) Param{"", TYPE_BIGVARCHAR, 9, from_hex("6b657966696c653d2f")};
  EXPECT_FALSE(KeyFilePolicy(std::nullopt).check("xp_AES_Encrypt", params));
  past->~Param();
}

}  // namespace
}  // namespace varrow::host::tds
