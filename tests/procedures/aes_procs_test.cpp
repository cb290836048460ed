#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <random>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "procedure_fixture.h"
#include "support/oracle.h"

namespace varrow::test {
namespace {

const std::string DEFAULT_KEY = "9C2B7E41D0A35F86B1E4720C3D95A6F8";
const std::string KEY128 = "000102030405060708090a0b0c0d0e0f";
const std::string KEY192 = "000102030405060708090a0b0c0d0e0f1011121314151617";
const std::string KEY256 = "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f";

Outcome encrypt(Param in, Param key, Param out) {
  return run("xp_AES_Encrypt", {std::move(in), std::move(key), std::move(out)});
}
Outcome decrypt(Param in, Param key, Param out) {
  return run("xp_AES_Decrypt", {std::move(in), std::move(key), std::move(out)});
}

Bytes oracle_ecb(bool encrypt, const Bytes& key, const Bytes& data, bool padding = true) {
  return oracle_aes_ecb(encrypt, key, data, padding);
}

Bytes output_value(const Outcome& outcome) {
  const auto& value = outcome.call.params().at(2).value;
  EXPECT_TRUE(value.has_value());
  return value.value_or(Bytes{});
}

TEST(AesProcedures, CiphertextMatchesTheOracleForRandomTextsAndKeys) {
  std::mt19937 random(50005);
  for (int round = 0; round < 120; ++round) {
    Bytes key(16 + 8 * (round % 3));
    for (auto& b : key)
      b = static_cast<std::uint8_t>(random());
    Bytes plain(random() % 7999);
    for (auto& b : plain)
      b = static_cast<std::uint8_t>(random());
    const Outcome outcome = encrypt(input(plain), input_text(to_hex(key)), output(8000));
    expect_output(outcome, 3, oracle_ecb(true, key, plain));
  }
}

TEST(AesProcedures, RoundTripEveryLengthWithEveryKeySize) {
  Bytes plain(7999);
  for (std::size_t i = 0; i < plain.size(); ++i)
    plain[i] = static_cast<std::uint8_t>(i * 13);
  for (const std::string& key : {KEY128, KEY192, KEY256}) {
    for (std::size_t length = 0; length <= 7999; ++length) {
      const Bytes text(plain.begin(), plain.begin() + static_cast<std::ptrdiff_t>(length));
      const Outcome sealed = encrypt(input(text), input_text(key), output(8000));
      ASSERT_EQ(sealed.returned, 1) << length;
      const Bytes cipher = output_value(sealed);
      ASSERT_EQ(cipher.size(), (length / 16 + 1) * 16) << length;
      const Outcome opened = decrypt(input(cipher), input_text(key), output(8000));
      ASSERT_EQ(opened.returned, 1) << length;
      ASSERT_EQ(output_value(opened), text) << length;
    }
  }
}

TEST(AesProcedures, CiphertextLengthsAndOutputBounds) {
  struct Case {
    std::size_t plain;
    std::uint32_t declared;
    int code;  // 0: success with (plain / 16 + 1) * 16 bytes
  };
  const Case cases[] = {
      {0, 16, 0},      {15, 16, 0},     {16, 32, 0},         {17, 32, 0},         {7999, 8000, 0},
      {10, 10, 50007}, {16, 31, 50007}, {8000, 8000, 50007}, {8000, 8001, 50003},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.plain);
    const Outcome outcome = encrypt(input(Bytes(c.plain, 'p')), null_input(), output(c.declared));
    if (c.code != 0) {
      expect_error(outcome, c.code);
    } else {
      EXPECT_EQ(output_value(outcome).size(), (c.plain / 16 + 1) * 16);
    }
  }
}

TEST(AesProcedures, EmptyPlaintextIsOneBlockOfPadding) {
  const Outcome outcome = encrypt(input(Bytes{}), null_input(), output(16));
  expect_output(outcome, 3, oracle_ecb(true, from_hex(DEFAULT_KEY), Bytes(16, 16), false));
}

TEST(AesProcedures, NullKeyIsTheDefaultKey) {
  const Bytes plain = to_bytes("the default key");
  const Bytes with_null = output_value(encrypt(input(plain), null_input(), output(100)));
  const Bytes with_text = output_value(encrypt(input(plain), input_text(DEFAULT_KEY), output(100)));
  EXPECT_EQ(with_null, with_text);
  EXPECT_EQ(with_null, oracle_ecb(true, from_hex(DEFAULT_KEY), plain));
  expect_output(decrypt(input(with_null), null_input(), output(100)), 3, plain);
}

TEST(AesProcedures, KeyDigitsInEitherCase) {
  std::string lower = DEFAULT_KEY;
  for (char& c : lower)
    c = static_cast<char>(std::tolower(c));
  const Bytes plain = to_bytes("case");
  EXPECT_EQ(output_value(encrypt(input(plain), input_text(lower), output(16))),
            output_value(encrypt(input(plain), input_text(DEFAULT_KEY), output(16))));
}

TEST(AesProcedures, KeyParameterErrors) {
  struct Case {
    const char* what;
    Param key;
    int code;
  };
  const Case cases[] = {
      {"31 digits", input_text(KEY128.substr(0, 31)), 50005},
      {"33 digits", input_text(KEY128 + "0"), 50005},
      {"empty", input_text(""), 50005},
      {"a non-digit", input_text(std::string(KEY128).replace(0, 1, "g")), 50005},
      {"268 bytes", input_text(std::string(268, 'a')), 50005},
      {"269 bytes", input_text(std::string(269, 'a')), 50003},
      {"not character data", input(from_hex(KEY128), VARBINARY), 50009},
      {"missing key file", input_text("keyfile=/nonexistent/varrow.key"), 50013},
      {"key file prefix alone", input_text("KEYFILE="), 50013},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    expect_error(encrypt(input_text("x"), c.key, output(100)), c.code);
    expect_error(decrypt(input(Bytes(16, 1)), c.key, output(100)), c.code);
  }
}

TEST(AesProcedures, UnreadableKeyParameter) {
  for (const char* procedure : {"xp_AES_Encrypt", "xp_AES_Decrypt"}) {
    const std::vector<Param> params = {input(Bytes(16, 1)), input_text(KEY128), output(100)};
    expect_error(run(procedure, params,
                     [](FaultyCall& call) { call.fail_paraminfo(2, InfoQuery::Describe); }),
                 50005);
    expect_error(
        run(procedure, params, [](FaultyCall& call) { call.fail_paraminfo(2, InfoQuery::Copy); }),
        50002);
  }
}

TEST(AesProcedures, KeyErrorsComeBeforeOutputErrors) {
  expect_error(encrypt(input_text("x"), input_text("bad"), output(1, VARBINARY)), 50005);
}

TEST(AesProcedures, NullInputIgnoresTheKey) {
  expect_null_output(encrypt(null_input(), input_text("not a key"), output(1)), 3);
  expect_null_output(decrypt(null_input(), input_text("not a key"), output(1)), 3);
  expect_error(run("xp_AES_Encrypt", {null_input(), null_input()}), 50001);
}

TEST(AesProcedures, KeyFileOfEveryForm) {
  const auto dir = std::filesystem::temp_directory_path() / "varrow-aes-procs";
  std::filesystem::create_directories(dir);
  const auto path = (dir / "k.txt").string();
  std::ofstream(path, std::ios::binary) << KEY256 << "\r\n# comment\n";
  const Bytes plain = to_bytes("from a key file");
  const Bytes expected = oracle_ecb(true, from_hex(KEY256), plain);
  for (const char* prefix : {"keyfile=", "KEYFILE=", "KeyFile="}) {
    expect_output(encrypt(input(plain), input_text(prefix + path), output(100)), 3, expected);
  }
  // UTF-16 little-endian with its byte-order mark, converted to the ANSI
  // code page (WideCharToMultiByte on Windows).
  {
    std::ofstream utf16(path, std::ios::binary);
    utf16 << '\xFF' << '\xFE';
    for (char c : KEY256 + "\r\n")
      utf16 << c << '\0';
  }
  expect_output(encrypt(input(plain), input_text("keyfile=" + path), output(100)), 3, expected);
  std::ofstream(path, std::ios::binary) << KEY256.substr(0, 40) << "\n";
  expect_error(encrypt(input(plain), input_text("keyfile=" + path), output(100)), 50005);
  std::filesystem::remove_all(dir);
}

#if !defined(_WIN32)
// What is not a regular file is refused at once: a FIFO without a writer
// would otherwise hold the call until one came.
TEST(AesProcedures, KeyFileThatIsNoRegularFileIsRefusedAtOnce) {
  const auto dir =
      std::filesystem::temp_directory_path() / ("varrow-aes-fifo-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string fifo = (dir / "key.fifo").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {fifo, std::string("/dev/null"), dir.string()}) {
    SCOPED_TRACE(path);
    auto answer = std::async(std::launch::async, [&] {
      return encrypt(input_text("x"), input_text("keyfile=" + path), output(100));
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    bool prompt = true;
    while (answer.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
      if (std::chrono::steady_clock::now() < deadline) continue;
      // Too late: release a reader stuck on the FIFO so the test can end.
      prompt = false;
      const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
      if (writer >= 0) ::close(writer);
    }
    EXPECT_TRUE(prompt);
    expect_error(answer.get(), 50013);
  }
  std::filesystem::remove_all(dir);
}
#else
// Windows has no FIFOs, but a device or a folder is no key file either.
TEST(AesProcedures, KeyFileThatIsNoRegularFileIsRefused) {
  for (const std::string& path : {std::string("NUL"), std::string("C:\\windows")}) {
    SCOPED_TRACE(path);
    expect_error(encrypt(input_text("x"), input_text("keyfile=" + path), output(100)), 50013);
  }
}
#endif

// A one-block ciphertext whose decrypted block is `block`, under KEY128.
Bytes cipher_of_block(const Bytes& block) {
  return oracle_ecb(true, from_hex(KEY128), block, false);
}

TEST(AesProcedures, DecryptionRuleOnTheLastByte) {
  struct Case {
    const char* what;
    Bytes block;
    int kept;  // bytes of the block returned, or -1 for 50010
  };
  Bytes sixteen(16, 0xAB);
  sixteen[15] = 16;
  Bytes zero(16, 0x77);
  zero[15] = 0;
  Bytes good3(16, 0x55);
  good3[13] = good3[14] = good3[15] = 3;
  Bytes bad3 = good3;
  bad3[13] = 4;
  Bytes pad1(16, 9);
  pad1[15] = 1;
  Bytes over(16, 17);
  Bytes max(16, 0xFF);
  const Case cases[] = {
      {"16 removes the block, whatever the rest", sixteen, 0},
      {"0 removes nothing", zero, 16},
      {"a run of three 3s", good3, 13},
      {"a 3 without its run", bad3, -1},
      {"a single 1", pad1, 15},
      {"17", over, -1},
      {"255", max, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Outcome outcome =
        decrypt(input(cipher_of_block(c.block)), input_text(KEY128), output(16));
    if (c.kept < 0) {
      expect_error(outcome, 50010);
    } else {
      expect_output(outcome, 3, Bytes(c.block.begin(), c.block.begin() + c.kept));
    }
  }
}

TEST(AesProcedures, CiphertextLengthIsCheckedBeforeTheKey) {
  for (std::size_t length : {0u, 1u, 15u, 17u, 31u, 7999u}) {
    expect_error(decrypt(input(Bytes(length, 1)), input_text("bad key"), output(100)), 50010);
  }
}

TEST(AesProcedures, DecryptionNeedsRoomForTheWholeCiphertext) {
  const Bytes cipher = output_value(encrypt(input_text("short"), null_input(), output(16)));
  expect_error(decrypt(input(cipher), null_input(), output(15)), 50007);
  expect_output(decrypt(input(cipher), null_input(), output(16)), 3, to_bytes("short"));
}

TEST(AesProcedures, NationalTypesCarryBytesUnchanged) {
  const Bytes plain{0x41, 0x00, 0x42, 0x00};
  const Outcome sealed =
      encrypt(input(plain, NVARCHAR), input_text(KEY128, NCHAR), output(16, NCHAR));
  expect_output(sealed, 3, oracle_ecb(true, from_hex(KEY128), plain));
}

}  // namespace
}  // namespace varrow::test
