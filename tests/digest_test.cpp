// MD5 and SHA-1 against RFC 1321, FIPS 180-1, NIST's SHAVS files and OpenSSL.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "digest/md5.h"
#include "digest/sha1.h"
#include "support/allocator.h"
#include "support/hex.h"
#include "support/oracle.h"
#include "support/vectors.h"

namespace varrow {
namespace {

using test::Bytes;
using test::from_hex;
using test::to_bytes;
using test::to_hex;

std::string md5_hex(const Bytes& message) {
  std::uint8_t out[MD5_DIGEST_SIZE];
  EXPECT_TRUE(md5_digest(message.data(), static_cast<std::uint32_t>(message.size()), out));
  return to_hex(out, sizeof out);
}

std::string sha1_hex(const Bytes& message) {
  std::uint8_t out[SHA1_DIGEST_SIZE];
  EXPECT_TRUE(sha1_digest(message.data(), static_cast<std::uint32_t>(message.size()), out));
  return to_hex(out, sizeof out);
}

// A message of `length` bytes from the record's Msg; "Len = 0" carries "00".
Bytes message_of(const test::VectorRecord& record) {
  Bytes message = from_hex(record.fields.at("Msg"));
  message.resize(std::stoul(record.fields.at("Len")) / 8);
  return message;
}

TEST(Md5, Rfc1321TestSuite) {
  const auto records = test::read_vector_file(test::vectors_dir() / "hashes/MD5/rfc-1321.txt");
  ASSERT_EQ(records.size(), 7u);
  for (const auto& record : records) {
    EXPECT_EQ(md5_hex(message_of(record)), record.fields.at("MD")) << record.at;
  }
}

TEST(Sha1, Fips180SampleMessages) {
  EXPECT_EQ(sha1_hex(to_bytes("abc")), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(sha1_hex(to_bytes("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
            "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
  EXPECT_EQ(sha1_hex(Bytes(1000000, 'a')), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
}

TEST(Sha1, NistShortAndLongMessages) {
  for (const char* file : {"SHA1ShortMsg.rsp", "SHA1LongMsg.rsp"}) {
    const auto records = test::read_vector_file(test::vectors_dir() / "hashes/SHA1" / file);
    ASSERT_GT(records.size(), 60u) << file;
    for (const auto& record : records) {
      EXPECT_EQ(sha1_hex(message_of(record)), record.fields.at("MD")) << record.at;
    }
  }
}

TEST(Sha1, NistMonteCarlo) {
  const auto records = test::read_vector_file(test::vectors_dir() / "hashes/SHA1/SHA1Monte.rsp");
  Bytes seed = from_hex(records.at(0).fields.at("Seed"));
  int checkpoints = 0;
  for (std::size_t j = 1; j < records.size(); ++j) {
    Bytes md[3] = {seed, seed, seed};
    for (int i = 3; i < 1003; ++i) {
      Bytes message;
      for (const Bytes& part : md)
        message.insert(message.end(), part.begin(), part.end());
      Bytes next(SHA1_DIGEST_SIZE);
      sha1_digest(message.data(), static_cast<std::uint32_t>(message.size()), next.data());
      md[0] = std::move(md[1]);
      md[1] = std::move(md[2]);
      md[2] = std::move(next);
    }
    seed = md[2];
    ASSERT_EQ(to_hex(seed), records[j].fields.at("MD")) << records[j].at;
    ++checkpoints;
  }
  EXPECT_EQ(checkpoints, 100);
}

TEST(Digests, PaddingBoundariesAgreeWithOpenSsl) {
  for (std::size_t length : {0u, 1u, 55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 127u, 128u, 8000u}) {
    Bytes message(length);
    for (std::size_t i = 0; i < length; ++i)
      message[i] = static_cast<std::uint8_t>(i * 31 + 7);
    EXPECT_EQ(md5_hex(message), to_hex(test::oracle_md5(message))) << length;
    EXPECT_EQ(sha1_hex(message), to_hex(test::oracle_sha1(message))) << length;
  }
}

TEST(Digests, RandomLengthsAgreeWithOpenSsl) {
  std::mt19937 random(1321);
  for (int round = 0; round < 400; ++round) {
    Bytes message(random() % 8001);
    for (auto& b : message)
      b = static_cast<std::uint8_t>(random());
    ASSERT_EQ(md5_hex(message), to_hex(test::oracle_md5(message))) << message.size();
    ASSERT_EQ(sha1_hex(message), to_hex(test::oracle_sha1(message))) << message.size();
  }
}

TEST(Digests, WriteOnlyTheDigestAndLeaveTheMessageAlone) {
  Bytes message(100, 0x3C);
  const Bytes original = message;
  std::uint8_t out[40];
  std::memset(out, 0xEE, sizeof out);
  md5_digest(message.data(), 100, out + 4);
  for (int i : {0, 1, 2, 3, 20, 21, 39})
    EXPECT_EQ(out[i], 0xEE) << i;
  std::memset(out, 0xEE, sizeof out);
  sha1_digest(message.data(), 100, out + 4);
  for (int i : {0, 1, 2, 3, 24, 25, 39})
    EXPECT_EQ(out[i], 0xEE) << i;
  EXPECT_EQ(message, original);
}

TEST(Digests, EmptyMessageIsNeverRead) {
  std::uint8_t out[SHA1_DIGEST_SIZE];
  md5_digest(nullptr, 0, out);
  EXPECT_EQ(to_hex(out, MD5_DIGEST_SIZE), "d41d8cd98f00b204e9800998ecf8427e");
  sha1_digest(nullptr, 0, out);
  EXPECT_EQ(to_hex(out, SHA1_DIGEST_SIZE), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
}

TEST(Digests, AllocationFailurePropagatesBeforeWriting) {
  const Bytes message = to_bytes("abc");
  std::uint8_t out[SHA1_DIGEST_SIZE];
  std::memset(out, 0x11, sizeof out);
  test::fail_next_allocations(1);
  EXPECT_THROW(md5_digest(message.data(), 3, out), std::bad_alloc);
  test::fail_next_allocations(1);
  EXPECT_THROW(sha1_digest(message.data(), 3, out), std::bad_alloc);
  for (std::uint8_t b : out)
    EXPECT_EQ(b, 0x11);
}

TEST(Digests, ReleaseTheirWorkingCopy) {
  const Bytes message(8000, 'x');
  std::uint8_t out[SHA1_DIGEST_SIZE];
  const long before = test::live_allocations();
  for (int i = 0; i < 1000; ++i) {
    md5_digest(message.data(), static_cast<std::uint32_t>(i * 8), out);
    sha1_digest(message.data(), static_cast<std::uint32_t>(i * 8), out);
  }
  EXPECT_EQ(test::live_allocations(), before);
}

}  // namespace
}  // namespace varrow
