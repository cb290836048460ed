// RPC requests and the type codec on bytes as clients send them, and the
// types a RETURNVALUE answers with.
#include <gtest/gtest.h>

#include <algorithm>

#include "support/hex.h"
#include "tds/wire/login.h"
#include "tds/wire/rpc.h"

namespace varrow::host::tds {
namespace {

using test::from_hex;
using test::to_hex;

// A request as "name:" or "#id:", then each parameter as "type=value",
// "type*=value" for OUTPUT, NULL as "NULL".
std::vector<std::string> describe(const std::vector<RpcRequest>& requests) {
  std::vector<std::string> items;
  for (const RpcRequest& r : requests) {
    items.push_back((r.proc_id != 0 ? "#" + std::to_string(r.proc_id) : r.procedure) + ":");
    for (const RpcParam& p : r.params) {
      items.push_back(to_hex(Bytes{p.type.type}) + (p.output() ? "*=" : "=") +
                      (p.value ? to_hex(*p.value) : "NULL"));
    }
  }
  return items;
}

std::string join(const std::vector<std::string>& items) {
  std::string out;
  for (const std::string& item : items)
    out += (out.empty() ? "" : " ") + item;
  return out;
}

// The first `size` bytes of `bytes` as one RPC message. Zeros follow it in
// memory, more than any length in it could ask for, so that a read past its
// end gives a wrong answer (type 0 is unsupported) instead of reading out of
// bounds.
std::string parse(std::uint32_t version, const Bytes& bytes, std::size_t size) {
  static Bytes memory(17 << 20, 0);
  std::copy_n(bytes.begin(), size, memory.begin());
  Reader in(memory.data(), size);
  std::string result;
  try {
    result = join(describe(parse_rpc(in, version)));
  } catch (const ProtocolError&) {
    result = "ProtocolError";
  } catch (const UnsupportedRequest& e) {
    result = "! " + e.message;
  }
  std::fill_n(memory.begin(), size, 0);
  return result;
}

struct Case {
  const char* what;
  std::uint32_t version;
  const char* hex;
  const char* expected;
};

// "p" called by name, no option flags; the collation clients send.
#define P "0100 7000 0000 "
#define COLL " 0904D00034 "

const Case CASES[] = {
    {"VARCHAR by name", TDS_7_4, P "00 00 A7 6400" COLL "0200 4142", "p: a7=4142"},
    {"by number, named OUTPUT", TDS_7_4, "FFFF 0A00 0000 02 4000 7600 01 26 04 04 2A000000",
     "#10: 26*=2a000000"},
    {"batched from 7.2", TDS_7_2, P "00 00 26 04 00 FF 0100 7100 0000", "p: 26=NULL q:"},
    {"batched at 7.1", TDS_7_1, P "00 00 26 04 00 80 0100 7100 0000", "p: 26=NULL q:"},
    {"0x80 is a name length from 7.2", TDS_7_4, P "80 0100 7100 0000", "ProtocolError"},
    {"0xFF is a name length at 7.1", TDS_7_1, P "FF 0100 7100 0000", "ProtocolError"},
    {"fixed length and the NULL type", TDS_7_4, P "00 00 38 01000000 00 00 1F",
     "p: 38=01000000 1f=NULL"},
    {"legacy VARCHAR: NULL is 0xFF, 0 is empty", TDS_7_4, P "00 00 27 10 FF 00 00 27 10 00",
     "p: 27=NULL 27="},
    {"u16 length: NULL and empty", TDS_7_4, P "00 00 A7 6400" COLL "FFFF 00 00 A5 6400 0000",
     "p: a7=NULL a5="},
    {"u32 length: NULL and a value", TDS_7_4,
     P "00 00 63 FFFFFF7F" COLL "FFFFFFFF 00 00 22 FFFFFF7F 02000000 4142", "p: 63=NULL 22=4142"},
    {"PLP: NULL, in chunks, of unknown length", TDS_7_4,
     P "00 00 E7 FFFF" COLL "FFFFFFFFFFFFFFFF 00 00 A5 FFFF 0300000000000000 02000000 4142 "
       "01000000 43 00000000 00 00 A5 FFFF FEFFFFFFFFFFFFFF 01000000 41 00000000",
     "p: e7=NULL a5=414243 a5=41"},
    {"PLP empty", TDS_7_4, P "00 00 A5 FFFF 0000000000000000 00000000", "p: a5="},
    {"PLP total past the message", TDS_7_4,
     P "00 00 A5 FFFF 2000000000000000 02000000 4142 00000000", "ProtocolError"},
    {"decimal, date, time", TDS_7_4,
     P "00 00 6A 11 12 04 05 0101000000 00 00 28 03 0A0B0C 00 00 29 07 05 0102030405",
     "p: 6a=0101000000 28=0a0b0c 29=0102030405"},
    {"TYPE_INFO cut short", TDS_7_4, P "00 00 A7 64", "ProtocolError"},
    {"value shorter than its length", TDS_7_4, P "00 00 A7 6400" COLL "0300 4142", "ProtocolError"},
    {"nothing", TDS_7_4, "", "ProtocolError"},
    {"XML", TDS_7_4, P "00 00 F1 00", "! parameters of type 0xF1 are not supported"},
    {"sql_variant", TDS_7_4, P "00 00 62 10000000", "! parameters of type 0x62 are not supported"},
};

#undef P
#undef COLL

TEST(Rpc, ParsesEachLengthKindAndBatch) {
  for (const Case& c : CASES) {
    const Bytes bytes = from_hex(c.hex);
    EXPECT_EQ(parse(c.version, bytes, bytes.size()), c.expected) << c.what;
  }
}

// A request is framed by the end of its message, so a prefix ending where a
// parameter or a request ends is the shorter request it spells; every other
// prefix is refused.
TEST(Rpc, EveryPrefixIsRefusedOrTheShorterRequest) {
  for (const Case& c : CASES) {
    const Bytes bytes = from_hex(c.hex);
    const std::string whole = parse(c.version, bytes, bytes.size());
    if (whole == "ProtocolError" || whole[0] == '!') continue;
    for (std::size_t size = 0; size < bytes.size(); ++size) {
      const std::string part = parse(c.version, bytes, size);
      const bool shorter = part.size() < whole.size() && whole.compare(0, part.size(), part) == 0 &&
                           whole[part.size()] == ' ';
      EXPECT_TRUE(part == "ProtocolError" || shorter)
          << c.what << ", first " << size << " bytes: " << part;
    }
  }
}

TEST(TypeCodec, RepliesWithWhatClientsReadBack) {
  const Case cases[] = {
      {"legacy VARCHAR", TDS_7_4, "27 0A", "a70a000904d00034"},
      {"legacy BINARY of length 0", TDS_7_4, "2D 00", "ad0100"},
      {"TEXT from 7.2", TDS_7_2, "23 FFFFFF7F 0904D00034", "a7ffff0904d00034"},
      {"NTEXT at 7.1", TDS_7_1, "63 FFFFFF7F 0904D00034", "e7401f0904d00034"},
      {"IMAGE", TDS_7_4, "22 FFFFFF7F", "a5401f"},
      {"INT", TDS_7_4, "38", "2604"},
      {"BIT", TDS_7_4, "32", "6801"},
      {"FLOAT", TDS_7_4, "3E", "6d08"},
      {"SMALLMONEY", TDS_7_4, "7A", "6e04"},
      {"DATETIME", TDS_7_4, "3D", "6f08"},
      {"the NULL type", TDS_7_4, "1F", "2604"},
      {"VARCHAR(100) as sent", TDS_7_4, "A7 6400 0904D00034", "a764000904d00034"},
      {"DATETIME2 as sent", TDS_7_4, "2A 07", "2a07"},
  };
  for (const Case& c : cases) {
    const Bytes sent = from_hex(c.hex);
    Reader in(sent);
    Writer out;
    write_type_info(out, reply_type(read_type_info(in), c.version));
    EXPECT_EQ(to_hex(out.bytes()), c.expected) << c.what;
  }
}

TEST(TypeCodec, WritesEachLengthKindsNullAndValue) {
  struct WriteCase {
    const char* type_info;
    std::optional<Bytes> value;
    const char* expected;
  };
  const WriteCase cases[] = {
      {"26 04", std::nullopt, "00"},
      {"26 04", Bytes{1, 0, 0, 0}, "0401000000"},
      {"27 10", std::nullopt, "ff"},
      {"A7 6400 0904D00034", std::nullopt, "ffff"},
      {"A7 6400 0904D00034", Bytes{}, "0000"},
      {"63 FFFFFF7F 0904D00034", std::nullopt, "ffffffff"},
      {"A5 FFFF", std::nullopt, "ffffffffffffffff"},
      {"A5 FFFF", Bytes{}, "000000000000000000000000"},
      {"A5 FFFF", Bytes{0x41, 0x42},
       "0200000000000000020000004142"
       "00000000"},
  };
  for (const WriteCase& c : cases) {
    const Bytes type_info = from_hex(c.type_info);
    Reader in(type_info);
    const TypeInfo type = read_type_info(in);
    Writer out;
    write_value(out, type, c.value);
    EXPECT_EQ(to_hex(out.bytes()), c.expected) << c.type_info;
    Reader back(out.bytes());
    EXPECT_EQ(read_value(back, type), c.value) << c.type_info;
    EXPECT_TRUE(back.done()) << c.type_info;
  }
}

}  // namespace
}  // namespace varrow::host::tds
