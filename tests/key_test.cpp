// Key text decoding, key file loading and the UTF-16 to ANSI conversion.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "key/ansi_codepage.h"
#include "key/hex_key.h"
#include "key/key_file.h"
#include "support/hex.h"

namespace varrow {
namespace {

using test::Bytes;
using test::to_bytes;
using test::to_hex;

struct DecodeCase {
  const char* text;
  XpErrorCode code;
  const char* key;  // expected bytes when the code is 0
};

TEST(HexKeyDecode, Cases) {
  const DecodeCase cases[] = {
      {"00ff", XpErrorCode::Ok, "00ff"},
      {"FF00", XpErrorCode::Ok, "ff00"},
      {"aB", XpErrorCode::Ok, "ab"},
      {"Ab", XpErrorCode::Ok, "ab"},
      {"0A1b", XpErrorCode::Ok, "0a1b"},
      {"9C2B7E41D0A35F86B1E4720C3D95A6F8", XpErrorCode::Ok, "9c2b7e41d0a35f86b1e4720c3d95a6f8"},
      {"0G", XpErrorCode::Key, nullptr},
      {"G0", XpErrorCode::Key, nullptr},
      {"0 ", XpErrorCode::Key, nullptr},
      {" 0", XpErrorCode::Key, nullptr},
      {"\xC1"
       "1",
       XpErrorCode::Key, nullptr},
      {"1\x80", XpErrorCode::Key, nullptr},
      {"abc", XpErrorCode::Key, nullptr},  // odd length
      {"0x12", XpErrorCode::Key, nullptr},
  };
  for (const DecodeCase& c : cases) {
    std::uint8_t key[32] = {};
    const auto length = static_cast<std::uint32_t>(std::strlen(c.text));
    const XpErrorCode code =
        hex_key_decode(reinterpret_cast<const std::uint8_t*>(c.text), key, length);
    EXPECT_EQ(code, c.code) << c.text;
    if (c.key != nullptr) {
      EXPECT_EQ(to_hex(key, length / 2), c.key) << c.text;
    }
  }
}

TEST(HexKeyDecode, DefaultKeyTextRoundTrips) {
  const std::string text = "9C2B7E41D0A35F86B1E4720C3D95A6F8";
  std::uint8_t key[16];
  ASSERT_EQ(hex_key_decode(reinterpret_cast<const std::uint8_t*>(text.data()), key, 32),
            XpErrorCode::Ok);
  std::string upper = to_hex(key, 16);
  for (char& c : upper)
    c = static_cast<char>(std::toupper(c));
  EXPECT_EQ(upper, text);
}

TEST(HexKeyDecode, BadLastPairAfterEarlierPairsWereStored) {
  std::string text(64, '1');
  text[63] = 'z';
  std::uint8_t key[32] = {};
  EXPECT_EQ(hex_key_decode(reinterpret_cast<const std::uint8_t*>(text.data()), key, 64),
            XpErrorCode::Key);
  EXPECT_EQ(key[30], 0x11);
}

TEST(HexKeyDecode, ZeroOrOddLengthStoresNothing) {
  std::uint8_t key[4] = {7, 7, 7, 7};
  const std::uint8_t text[3] = {'a', 'b', 'c'};
  EXPECT_EQ(hex_key_decode(text, key, 0), XpErrorCode::Ok);
  EXPECT_EQ(hex_key_decode(text, key, 3), XpErrorCode::Key);
  for (std::uint8_t b : key)
    EXPECT_EQ(b, 7);
}

// A key text buffer as the procedures hold it: the parameter, then zeros.
struct KeyTextBuffer {
  std::uint8_t bytes[KEY_TEXT_MAX] = {};
  explicit KeyTextBuffer(const std::string& parameter) {
    std::memcpy(bytes, parameter.data(), std::min<std::size_t>(parameter.size(), KEY_TEXT_MAX));
  }
  std::string text(int length) const {
    return std::string(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(length));
  }
};

TEST(KeyFileSpec, PrefixInAnyLetterCase) {
  for (const char* parameter : {"keyfile=/k", "KEYFILE=/k", "KeyFile=/k", "kEyFiLe="}) {
    EXPECT_TRUE(is_keyfile_spec(KeyTextBuffer(parameter).bytes)) << parameter;
  }
  for (const char* parameter : {"keyfile", "keyfile:/k", " keyfile=/k", "keyfil=/k", ""}) {
    EXPECT_FALSE(is_keyfile_spec(KeyTextBuffer(parameter).bytes)) << parameter;
  }
}

class KeyFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("varrow-keys-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
            "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string write(const std::string& name, const Bytes& content) {
    const auto path = dir_ / name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(content.data()),
               static_cast<std::streamsize>(content.size()));
    return path.string();
  }

  static Bytes utf16le(const std::string& ascii, bool bom = true) {
    Bytes out;
    if (bom) out = {0xFF, 0xFE};
    for (char c : ascii) {
      out.push_back(static_cast<std::uint8_t>(c));
      out.push_back(0);
    }
    return out;
  }

  std::filesystem::path dir_;
};

const std::string HEX32 = "00112233445566778899aabbccddeeff";
const std::string HEX48 = HEX32 + "0123456789abcdef";
const std::string HEX64 = HEX32 + HEX32;

TEST_F(KeyFiles, LoadsTheFirstWordOfTheFile) {
  struct Case {
    const char* what;
    Bytes content;
    int length;
    std::string text;
  };
  const Case cases[] = {
      {"digits and CR LF", to_bytes(HEX32 + "\r\n"), 32, HEX32},
      {"text after a space", to_bytes(HEX64 + " comment here"), 64, HEX64},
      {"tab", to_bytes(HEX48 + "\tx"), 48, HEX48},
      {"Ctrl-Z ends the file",
       to_bytes(HEX32 + "\x1A"
                        "ffff"),
       32, HEX32},
      {"Ctrl-Z before the end of the key",
       to_bytes("abcd\x1A"
                "ef"),
       4, "abcd"},
      {"empty file", {}, 0, ""},
      {"leading space", to_bytes(" " + HEX32), 0, ""},
      {"leading line end", to_bytes("\n" + HEX32), 0, ""},
      {"lone CR stays a CR and ends the text", to_bytes("ab\rcd"), 2, "ab"},
      {"300 digits are cut at the buffer", to_bytes(std::string(300, 'a')), 268,
       std::string(268, 'a')},
      {"one byte", to_bytes("a"), 1, "a"},
      {"UTF-16 LE with BOM, 48 digits and a line end", utf16le(HEX48 + "\r\n"), 48, HEX48},
      {"UTF-16 LE, BOM only", Bytes{0xFF, 0xFE}, 0, ""},
      {"UTF-16 LE, odd last byte dropped",
       [] {
         Bytes b = utf16le(HEX32);
         b.push_back('7');
         return b;
       }(),
       32, HEX32},
      {"UTF-16 LE, 0xFFFF ends the text",
       [] {
         Bytes b = utf16le(HEX32);
         b.push_back(0xFF), b.push_back(0xFF);
         Bytes more = utf16le("abcd", false);
         b.insert(b.end(), more.begin(), more.end());
         return b;
       }(),
       32, HEX32},
      {"UTF-16 BE is 8-bit text", Bytes{0xFE, 0xFF, 0, 'a', 0, 'b'}, 6,
       std::string("\xFE\xFF\0a\0b", 6)},
      {"UTF-8 BOM belongs to the text", to_bytes("\xEF\xBB\xBF" + HEX32), 35,
       "\xEF\xBB\xBF" + HEX32},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = write("key.txt", c.content);
    KeyTextBuffer buffer("keyfile=" + path);
    const int length = load_key_file(buffer.bytes);
    EXPECT_EQ(length, c.length);
    if (length >= 0) {
      EXPECT_EQ(buffer.text(length), c.text);
    }
  }
}

TEST_F(KeyFiles, TailOfTheParameterStaysBehindTheText) {
  const std::string path = write("k", to_bytes("abcd\n"));
  KeyTextBuffer buffer("KEYFILE=" + path);
  ASSERT_EQ(load_key_file(buffer.bytes), 4);
  EXPECT_EQ(buffer.text(5), "abcd\n");
  // What the parameter held past the file's five bytes is still there.
  EXPECT_EQ(buffer.bytes[5], static_cast<std::uint8_t>(("KEYFILE=" + path)[5]));
}

TEST_F(KeyFiles, UnusableFilesAndPaths) {
  EXPECT_EQ(load_key_file(KeyTextBuffer("keyfile=").bytes), -1);
  EXPECT_EQ(load_key_file(KeyTextBuffer("keyfile=" + (dir_ / "missing").string()).bytes), -1);
  EXPECT_EQ(load_key_file(KeyTextBuffer("keyfile=" + dir_.string()).bytes), -1);
  EXPECT_EQ(probe_key_file((dir_ / "missing").string().c_str()), KEY_FILE_UNUSABLE);
  EXPECT_EQ(read_key_file_text((dir_ / "missing").string().c_str(), nullptr, 0), -1);
  EXPECT_EQ(read_key_file_utf16((dir_ / "missing").string().c_str(), nullptr, 0), -1);
  // The UTF-16 reader checks the mark itself, in case the file changed.
  std::uint8_t out[KEY_TEXT_MAX];
  EXPECT_EQ(read_key_file_utf16(write("plain", to_bytes(HEX32)).c_str(), out, KEY_TEXT_MAX), -1);
  EXPECT_EQ(read_key_file_utf16(write("short", Bytes{0xFF}).c_str(), out, KEY_TEXT_MAX), -1);
}

TEST_F(KeyFiles, PathLengthLimit) {
  // Paths of 259 characters reach the file system; 260 never do.
  std::string dir = dir_.string() + "/";
  const std::string name259(259 - dir.size(), 'p');
  const std::string path259 = dir + name259;
  ASSERT_EQ(path259.size(), 259u);
  write(name259, to_bytes(HEX32));
  EXPECT_EQ(load_key_file(KeyTextBuffer("keyfile=" + path259).bytes), 32);

  const std::string path260 = path259 + "q";
  write(name259 + "q", to_bytes(HEX32));
  ASSERT_EQ(("keyfile=" + path260).size(), KEY_TEXT_MAX);
  EXPECT_EQ(load_key_file(KeyTextBuffer("keyfile=" + path260).bytes), -1);
}

TEST(AnsiCodePage, Windows1252) {
  struct Case {
    std::u16string text;
    std::string expected;  // empty: the conversion fails
  };
  const Case cases[] = {
      {u"0123abcDEF \t\r\n", "0123abcDEF \t\r\n"},
      {u"\u00E9\u00FF\u00A0", "\xE9\xFF\xA0"},
      {u"\u20AC\u2122\u0178\u017D", "\x80\x99\x9F\x8E"},
      {u"\u0081\u008D\u008F\u0090\u009D", "\x81\x8D\x8F\x90\x9D"},
      {u"\u0080\u0100\u4E2D\uFFFD", "????"},
      {u"a\U0001F600b", "a?b"},  // a surrogate pair is one character
      {u"a\xD800"
       u"b",
       "a?b"},  // a lone surrogate has no character
      {std::u16string(1, u'\0'), std::string(1, '\0')},
      {u"", ""},
  };
  for (const Case& c : cases) {
    std::uint8_t out[KEY_TEXT_MAX];
    const std::size_t written = utf16_to_ansi(reinterpret_cast<const std::uint16_t*>(c.text.data()),
                                              c.text.size(), out, KEY_TEXT_MAX);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), written), c.expected);
  }
}

TEST(AnsiCodePage, TextLongerThanTheDestinationFails) {
  const std::u16string text(10, u'a');
  std::uint8_t out[10];
  const auto* units = reinterpret_cast<const std::uint16_t*>(text.data());
  EXPECT_EQ(utf16_to_ansi(units, 10, out, 10), 10u);
  EXPECT_EQ(utf16_to_ansi(units, 10, out, 9), 0u);
}

}  // namespace
}  // namespace varrow
