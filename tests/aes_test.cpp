// The block cipher against FIPS-197's examples, NIST's AESAVS known answers
// and OpenSSL, plus the properties of its tables.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>
#include <sstream>

#include "aes/aes.h"
#include "aes/aes_tables.h"
#include "support/hex.h"
#include "support/oracle.h"
#include "support/vectors.h"

namespace varrow {
namespace {

using test::Bytes;
using test::from_hex;
using test::to_hex;

// FIPS-197 appendix A: every schedule word, as the standard prints it.
struct Expansion {
  const char* key;
  const char* words;
};
const Expansion APPENDIX_A[] = {
    {"2b7e151628aed2a6abf7158809cf4f3c",
     "2b7e1516 28aed2a6 abf71588 09cf4f3c a0fafe17 88542cb1 23a33939 2a6c7605 "
     "f2c295f2 7a96b943 5935807a 7359f67f 3d80477d 4716fe3e 1e237e44 6d7a883b "
     "ef44a541 a8525b7f b671253b db0bad00 d4d1c6f8 7c839d87 caf2b8bc 11f915bc "
     "6d88a37a 110b3efd dbf98641 ca0093fd 4e54f70e 5f5fc9f3 84a64fb2 4ea6dc4f "
     "ead27321 b58dbad2 312bf560 7f8d292f ac7766f3 19fadc21 28d12941 575c006e "
     "d014f9a8 c9ee2589 e13f0cc8 b6630ca6"},
    {"8e73b0f7da0e6452c810f32b809079e562f8ead2522c6b7b",
     "8e73b0f7 da0e6452 c810f32b 809079e5 62f8ead2 522c6b7b fe0c91f7 2402f5a5 "
     "ec12068e 6c827f6b 0e7a95b9 5c56fec2 4db7b4bd 69b54118 85a74796 e92538fd "
     "e75fad44 bb095386 485af057 21efb14f a448f6d9 4d6dce24 aa326360 113b30e6 "
     "a25e7ed5 83b1cf9a 27f93943 6a94f767 c0a69407 d19da4e1 ec1786eb 6fa64971 "
     "485f7032 22cb8755 e26d1352 33f0b7b3 40beeb28 2f18a259 6747d26b 458c553e "
     "a7e1466c 9411f1df 821f750a ad07d753 ca400538 8fcc5006 282d166a bc3ce7b5 "
     "e98ba06f 448c773c 8ecc7204 01002202"},
    {"603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4",
     "603deb10 15ca71be 2b73aef0 857d7781 1f352c07 3b6108d7 2d9810a3 0914dff4 "
     "9ba35411 8e6925af a51a8b5f 2067fcde a8b09c1a 93d194cd be49846e b75d5b9a "
     "d59aecb8 5bf3c917 fee94248 de8ebe96 b5a9328a 2678a647 98312229 2f6c79b3 "
     "812c81ad dadf48ba 24360af2 fab8b464 98c5bfc9 bebd198e 268c3ba7 09e04214 "
     "68007bac b2df3316 96e939e4 6c518d80 c814e204 76a9fb8a 5025c02d 59c58239 "
     "de136967 6ccc5a71 fa256395 9674ee15 5886ca5d 2e2f31d7 7e0af1fa 27cf73c3 "
     "749c47ab 18501dda e2757e4f 7401905a cafaaae3 e4d59b34 9adf6ace bd10190d "
     "fe4890d1 e6188d0b 046df344 706c631e"},
};

TEST(AesKeyExpansion, MatchesAppendixAWordForWord) {
  for (const Expansion& example : APPENDIX_A) {
    const Bytes key = from_hex(example.key);
    const int nk = static_cast<int>(key.size() / 4);
    const int nr = nk + 6;
    std::uint32_t schedule[AES_SCHEDULE_WORDS];
    std::fill(std::begin(schedule), std::end(schedule), 0xA5A5A5A5u);
    aes_expand_key(key.data(), schedule, nk);

    std::istringstream expected(example.words);
    std::string word;
    int i = 0;
    for (; expected >> word; ++i) {
      std::uint8_t bytes[4];
      for (int b = 0; b < 4; ++b)
        bytes[b] = static_cast<std::uint8_t>(schedule[i] >> (8 * b));
      EXPECT_EQ(to_hex(bytes, 4), word) << "key " << example.key << " word " << i;
    }
    ASSERT_EQ(i, 4 * (nr + 1));
    for (; i < AES_SCHEDULE_WORDS; ++i) {
      EXPECT_EQ(schedule[i], 0xA5A5A5A5u) << "word " << i << " beyond the schedule was written";
    }
  }
}

TEST(AesKeyExpansion, ReadsOnlyTheKeyBytes) {
  for (int nk : {4, 6, 8}) {
    std::uint8_t key[40];
    for (int i = 0; i < 40; ++i)
      key[i] = static_cast<std::uint8_t>(i * 7);
    std::uint32_t first[AES_SCHEDULE_WORDS] = {}, second[AES_SCHEDULE_WORDS] = {};
    aes_expand_key(key, first, nk);
    std::memset(key + 4 * nk, 0xEE, sizeof key - 4 * static_cast<std::size_t>(nk));
    aes_expand_key(key, second, nk);
    EXPECT_EQ(0, std::memcmp(first, second, sizeof first)) << "nk " << nk;
  }
}

struct BlockExample {
  const char* name;
  const char* key;
  const char* plain;
  const char* cipher;
};

// FIPS-197 appendix B and the three examples of appendix C.
const BlockExample FIPS_EXAMPLES[] = {
    {"B", "2b7e151628aed2a6abf7158809cf4f3c", "3243f6a8885a308d313198a2e0370734",
     "3925841d02dc09fbdc118597196a0b32"},
    {"C.1", "000102030405060708090a0b0c0d0e0f", "00112233445566778899aabbccddeeff",
     "69c4e0d86a7b0430d8cdb78070b4c55a"},
    {"C.2", "000102030405060708090a0b0c0d0e0f1011121314151617", "00112233445566778899aabbccddeeff",
     "dda97ca4864cdfe06eaf70a0ec0d7191"},
    {"C.3", "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
     "00112233445566778899aabbccddeeff", "8ea2b7ca516745bfeafc49904b496089"},
};

// Runs one direction of the cipher over a whole multi-block text.
Bytes run_cipher(bool encrypt, const Bytes& key, const Bytes& input) {
  Bytes output(input.size());
  const int bits = static_cast<int>(key.size() * 8);
  for (std::size_t i = 0; i < input.size(); i += AES_BLOCK_SIZE) {
    const int result = encrypt ? aes_encrypt_block(&input[i], key.data(), bits, &output[i])
                               : aes_decrypt_block(&input[i], key.data(), bits, &output[i]);
    EXPECT_EQ(result, 0);
  }
  return output;
}

TEST(AesBlock, FipsExamplesBothWays) {
  for (const BlockExample& e : FIPS_EXAMPLES) {
    const Bytes key = from_hex(e.key);
    EXPECT_EQ(to_hex(run_cipher(true, key, from_hex(e.plain))), e.cipher) << e.name;
    EXPECT_EQ(to_hex(run_cipher(false, key, from_hex(e.cipher))), e.plain) << e.name;
  }
}

TEST(AesBlock, NistKnownAnswersForEcb) {
  const char* kinds[] = {"GFSbox", "KeySbox", "VarKey", "VarTxt", "MMT"};
  int checked = 0;
  for (const char* kind : kinds) {
    for (int bits : {128, 192, 256}) {
      const auto path = test::vectors_dir() / "ciphers/AES/ECB" /
                        ("ECB" + std::string(kind) + std::to_string(bits) + ".rsp");
      for (const auto& record : test::read_vector_file(path)) {
        const Bytes key = from_hex(record.fields.at("KEY"));
        ASSERT_EQ(key.size() * 8, static_cast<std::size_t>(bits)) << record.at;
        const std::string& plain = record.fields.at("PLAINTEXT");
        const std::string& cipher = record.fields.at("CIPHERTEXT");
        if (record.section == "ENCRYPT") {
          EXPECT_EQ(to_hex(run_cipher(true, key, from_hex(plain))), cipher) << record.at;
        } else {
          EXPECT_EQ(to_hex(run_cipher(false, key, from_hex(cipher))), plain) << record.at;
        }
        ++checked;
      }
    }
  }
  EXPECT_GT(checked, 1000);
}

Bytes oracle_block(bool encrypt, const Bytes& key, const Bytes& block) {
  return test::oracle_aes_ecb(encrypt, key, block, false);
}

TEST(AesBlock, AgreesWithTheOracleOnRandomKeysAndBlocks) {
  std::mt19937 random(20261208);
  auto random_bytes = [&](std::size_t n) {
    Bytes b(n);
    for (auto& x : b)
      x = static_cast<std::uint8_t>(random());
    return b;
  };
  for (std::size_t key_size : {16u, 24u, 32u}) {
    for (int i = 0; i < 2000; ++i) {
      const Bytes key = random_bytes(key_size);
      const Bytes block = random_bytes(AES_BLOCK_SIZE);
      const Bytes cipher = run_cipher(true, key, block);
      ASSERT_EQ(cipher, oracle_block(true, key, block)) << "key " << to_hex(key);
      ASSERT_EQ(run_cipher(false, key, block), oracle_block(false, key, block))
          << "key " << to_hex(key);
      ASSERT_EQ(run_cipher(false, key, cipher), block);
    }
  }
}

TEST(AesBlock, AllZeroAndAllOnesBlocksAndKeys) {
  for (std::size_t key_size : {16u, 24u, 32u}) {
    for (std::uint8_t fill : {std::uint8_t{0x00}, std::uint8_t{0xFF}}) {
      const Bytes key(key_size, fill);
      const Bytes block(AES_BLOCK_SIZE, fill);
      EXPECT_EQ(run_cipher(true, key, block), oracle_block(true, key, block));
      EXPECT_EQ(run_cipher(false, key, block), oracle_block(false, key, block));
    }
  }
}

TEST(AesBlock, RefusesOtherKeySizesAndLeavesOutputAlone) {
  const std::uint8_t key[64] = {1, 2, 3};
  const std::uint8_t in[AES_BLOCK_SIZE] = {4, 5, 6};
  for (int bits : {0, 64, 127, 129, 160, 224, 255, 257, 512, -1, -128, -256}) {
    std::uint8_t out[AES_BLOCK_SIZE];
    std::memset(out, 0x5C, sizeof out);
    EXPECT_EQ(aes_encrypt_block(in, key, bits, out), -1) << bits;
    EXPECT_EQ(aes_decrypt_block(in, key, bits, out), -1) << bits;
    for (std::uint8_t b : out)
      EXPECT_EQ(b, 0x5C) << bits;
  }
}

TEST(AesBlock, InPlaceEqualsSeparateBuffers) {
  for (const BlockExample& e : FIPS_EXAMPLES) {
    const Bytes key = from_hex(e.key);
    const int bits = static_cast<int>(key.size() * 8);
    Bytes block = from_hex(e.plain);
    ASSERT_EQ(aes_encrypt_block(block.data(), key.data(), bits, block.data()), 0);
    EXPECT_EQ(to_hex(block), e.cipher) << e.name;
    ASSERT_EQ(aes_decrypt_block(block.data(), key.data(), bits, block.data()), 0);
    EXPECT_EQ(to_hex(block), e.plain) << e.name;
  }
}

TEST(AesBlock, OnlyTheKeySizeBytesOfTheKeyMatter) {
  for (int bits : {128, 192, 256}) {
    std::uint8_t key[40];
    for (int i = 0; i < 40; ++i)
      key[i] = static_cast<std::uint8_t>(3 * i + 1);
    const std::uint8_t in[AES_BLOCK_SIZE] = {9, 8, 7};
    std::uint8_t first[AES_BLOCK_SIZE], second[AES_BLOCK_SIZE];
    aes_encrypt_block(in, key, bits, first);
    std::memset(key + bits / 8, 0, sizeof key - static_cast<std::size_t>(bits / 8));
    aes_encrypt_block(in, key, bits, second);
    EXPECT_EQ(0, std::memcmp(first, second, AES_BLOCK_SIZE)) << bits;
  }
}

TEST(AesTables, SboxAndInverseArePermutationsOfEachOther) {
  for (int v = 0; v < 256; ++v) {
    const std::uint32_t s = AES_SBOX[v] & 0xFF;
    EXPECT_EQ(AES_SBOX[v], s * 0x01010101u) << v;
    EXPECT_EQ(AES_INV_SBOX[v] >> 8, 0u) << v;
    EXPECT_EQ(AES_INV_SBOX[s], static_cast<std::uint32_t>(v)) << v;
  }
  EXPECT_EQ(AES_SBOX[0], 0x63636363u);
}

TEST(AesTables, ExpAndLogInvertEachOther) {
  for (int v = 1; v < 256; ++v)
    EXPECT_EQ(GF_EXP[GF_LOG[v]], v) << v;
  for (int i = 0; i < 255; ++i)
    EXPECT_EQ(GF_LOG[GF_EXP[i]], i) << i;
  EXPECT_EQ(GF_EXP[0], 1);
  EXPECT_EQ(GF_EXP[1], 3);
  const std::uint32_t rcon[11] = {0, 1, 2, 4, 8, 16, 32, 64, 128, 27, 54};
  for (int j = 1; j < 11; ++j)
    EXPECT_EQ(AES_RCON[j], rcon[j]) << j;
}

}  // namespace
}  // namespace varrow
