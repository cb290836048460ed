// sp_executesql and the prepare family on bytes as drivers send them:
// declarations, values by position and by name, OUTPUT parameters, handles,
// and every malformed call answered with an error, never a crash.
#include <gtest/gtest.h>

#include <malloc.h>

#include <cstring>
#include <optional>
#include <tuple>

#include "session_fixture.h"

namespace varrow::host::tds {
namespace {

const Bytes COLLATION = from_hex("0904D00034");

Bytes le16(std::size_t v) {
  return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)};
}

Bytes param_head(const std::string& name, std::uint8_t status) {
  return concat({{static_cast<std::uint8_t>(name.size())}, ucs2(name), {status}});
}

// NVARCHAR(4000) parameter holding ASCII text.
Bytes nvarchar(const std::string& text, const std::string& name = "", std::uint8_t status = 0) {
  const Bytes value = ucs2(text), head = concat({param_head(name, status), {TYPE_NVARCHAR}});
  return concat({head, le16(8000), COLLATION, le16(value.size()), value});
}

// NTEXT parameter (four-byte lengths), for long text.
Bytes ntext(const std::string& text) {
  const Bytes value = ucs2(text), length = concat({le16(value.size()), le16(value.size() >> 16)});
  return concat({param_head("", 0), {TYPE_NTEXT}, from_hex("FFFFFF7F"), COLLATION, length, value});
}

// VARCHAR(n) parameter, NULL when `text` is nullopt.
Bytes varchar(std::optional<std::string> text, const std::string& name = "",
              std::uint8_t status = 0, std::size_t max = 100) {
  const Bytes length = text ? le16(text->size()) : from_hex("FFFF");
  const Bytes value = text ? Bytes(text->begin(), text->end()) : Bytes{};
  return concat({param_head(name, status), {TYPE_BIGVARCHAR}, le16(max), COLLATION, length, value});
}

// INTN parameter of `size` bytes, NULL when `value` is nullopt.
Bytes intn(std::optional<std::int64_t> value, const std::string& name = "", std::uint8_t status = 0,
           std::uint8_t size = 4) {
  Bytes out = concat({param_head(name, status), {TYPE_INTN, size, value ? size : std::uint8_t{0}}});
  for (std::uint8_t i = 0; value && i < size; ++i)
    out.push_back(static_cast<std::uint8_t>(static_cast<std::uint64_t>(*value) >> (8 * i)));
  return out;
}

Bytes by_id(std::uint16_t id, std::initializer_list<Bytes> params) {
  return concat({from_hex("FFFF"), le16(id), from_hex("0000"), concat(params)});
}

Bytes by_name(const std::string& name, std::initializer_list<Bytes> params) {
  return concat({le16(name.size()), ucs2(name), from_hex("0000"), concat(params)});
}

constexpr const char* FINAL_DONEPROC = "fe000000000000000000000000";
constexpr const char* FAILED_DONEPROC = "fe020000000000000000000000";

class SystemProcs : public LoggedInSession {
 protected:
  const Bytes new_handle = intn(std::nullopt, "", 0x01);  // sp_prepare's OUTPUT @handle

  // The reply to one RPC message (one or more requests), as hex.
  std::string rpc(const Bytes& requests) {
    return request(PACKET_RPC, concat({ALL_HEADERS, requests}));
  }

  // The number of the first ERROR token of a reply, or 0.
  static std::int32_t error_number(const std::string& reply) {
    if (reply.substr(0, 2) != "aa") return 0;
    const Bytes b = from_hex(reply.substr(6, 8));
    return static_cast<std::int32_t>(b[0] | b[1] << 8 | b[2] << 16 | b[3] << 24);
  }

  std::size_t session_prepared() const { return session_.prepared_statements(); }

  // `fit` statements prepare, the next is refused with 8180 until handle
  // `freed` is unprepared.
  void expect_cap(const Bytes& statement, std::size_t fit, std::int64_t freed) {
    const Bytes prepare = by_id(PROC_PREPARE, {new_handle, nvarchar(""), statement});
    for (std::size_t i = 0; i < fit; ++i)
      ASSERT_EQ(error_number(rpc(prepare)), 0) << i;
    EXPECT_EQ(error_number(rpc(prepare)), 8180);
    EXPECT_EQ(ending(rpc(by_id(PROC_UNPREPARE, {intn(freed)}))), FINAL_DONEPROC);
    EXPECT_EQ(error_number(rpc(prepare)), 0);
  }

  static std::string ending(const std::string& reply) {
    return reply.size() < 26 ? reply : reply.substr(reply.size() - 26);
  }
};

TEST(SystemProcedureId, EveryProcIdNamedAsTheServerNamesIt) {
  std::string names;
  for (std::uint16_t id = 1; id <= 15; ++id)
    names += system_procedure_name(id) + " ";
  EXPECT_EQ(names,
            "sp_cursor sp_cursoropen sp_cursorprepare sp_cursorexecute sp_cursorprepexec "
            "sp_cursorunprepare sp_cursorfetch sp_cursoroption sp_cursorclose sp_executesql "
            "sp_prepare sp_execute sp_prepexec sp_prepexecrpc sp_unprepare ");
}

TEST(SystemProcedureId, ByNumberAndByNameInAnyCase) {
  const std::pair<std::uint16_t, std::uint16_t> numbers[] = {
      {PROC_EXECUTESQL, PROC_EXECUTESQL},
      {PROC_PREPARE, PROC_PREPARE},
      {PROC_EXECUTE, PROC_EXECUTE},
      {PROC_PREPEXEC, PROC_PREPEXEC},
      {PROC_UNPREPARE, PROC_UNPREPARE},
      {PROC_CURSOROPEN, PROC_CURSOROPEN},
      {PROC_CURSORCLOSE, PROC_CURSORCLOSE},
      {14, 0},
      {16, 0}};  // 14, sp_prepexecrpc: not served
  for (const auto& [number, id] : numbers)
    EXPECT_EQ(system_procedure_id(RpcRequest{"", number, {}}), id) << number;
  const std::pair<const char*, std::uint16_t> names[] = {
      // and in any case, with a database and schema or not
      {"sp_executesql", PROC_EXECUTESQL},
      {"SP_EXECUTESQL", PROC_EXECUTESQL},
      {"sys.sp_executesql", PROC_EXECUTESQL},
      {"master.sys.sp_prepexec", PROC_PREPEXEC},
      {"master..Sp_Execute", PROC_EXECUTE},
      {"dbo.sp_unprepare", PROC_UNPREPARE},
      {"sys.SP_CURSORFETCH", PROC_CURSORFETCH},
      {"other.sp_executesql", 0},
      {"tempdb.sys.sp_prepare", 0},
      {"a.b.c.sp_executesql", 0},
      {".sp_executesql", 0},
      {"xp_hexstr", 0},
      {"sp_executesqlx", 0}};
  for (const auto& [name, id] : names)
    EXPECT_EQ(system_procedure_id(RpcRequest{name, 0, {}}), id) << name;
}

TEST_F(SystemProcs, ExecutesqlReturnsTheOutputsTheStatementLeft) {
  const std::string reply =
      rpc(by_id(PROC_EXECUTESQL, {nvarchar("EXEC xp_hexstr @in, @h OUTPUT"),
                                  nvarchar("@in varchar(10), @h varchar(20) OUTPUT"), varchar("AB"),
                                  varchar(std::nullopt, "@h", 0x01, 20)}));
  // The EXEC ends with DONEINPROC and no RETURNSTATUS of its own; then the
  // call's RETURNSTATUS, @h (ordinal 3, its name and type echoed), DONEPROC.
  EXPECT_EQ(reply, std::string("ff010000000000000000000000") + "7900000000" + "ac0300" + "02" +
                       to_hex(ucs2("@h")) + "01" + "00000000" + "0000" + "a71400" + "0904d00034" +
                       "0400" + "34313432" + FINAL_DONEPROC);
  // By name, in either case, values by name in any order.
  const std::string named = rpc(
      by_name("Sys.SP_ExecuteSQL", {nvarchar("SELECT @b, @a"), nvarchar("@a int, @b varchar(5)"),
                                    varchar("hi", "@B"), intn(7, "@a")}));
  EXPECT_NE(named.find("d10200686904070000"), std::string::npos) << named;
  EXPECT_EQ(ending(named), FINAL_DONEPROC);
  // TINYINT and BIT have no sign: 200 and 1.
  const std::string small = rpc(by_id(
      PROC_EXECUTESQL, {nvarchar("SELECT @t, @b"), nvarchar("@t int, @b int"), intn(200, "", 0, 1),
                        concat({param_head("", 0), from_hex("68010101")})}));
  EXPECT_NE(small.find("d104c80000000401000000"), std::string::npos) << small;
}

// "@p0 int, @p1 int, ..." with `count` declarations.
std::string declarations(int count, const std::string& prefix = "@p") {
  std::string text;
  for (int i = 0; i < count; ++i)
    text += (i > 0 ? ", " : "") + prefix + std::to_string(i) + " int";
  return text;
}

TEST_F(SystemProcs, DeclarationsAreParsedOrRefused) {
  // sp_prepare takes a declaration without values.
  auto prepare = [&](const std::string& declaration) {
    return rpc(by_id(PROC_PREPARE, {new_handle, ntext(declaration), nvarchar("SELECT 1")}));
  };
  const std::string accepted[] = {
      declarations(2100), "", "@a varchar(8000), @b nvarchar(4000) OUTPUT, @n int",
      "@a VARCHAR(MAX) OUT, @b NVARCHAR(max), @c char(3), @d nchar(2), @e varbinary(16)",
      "  @a int  "};
  for (const std::string& declaration : accepted) {
    const std::string reply = prepare(declaration);
    EXPECT_EQ(error_number(reply), 0) << declaration;
    EXPECT_EQ(ending(reply), FINAL_DONEPROC) << declaration;
  }
  const char* const refused[] = {"@a varchar(",
                                 "@a varchar(10",
                                 "@a varchar(10))",
                                 "@a",
                                 "@a int,",
                                 ", @a int",
                                 "@a int @b int",
                                 "@a int, @A int",
                                 "@a varchar(0)",
                                 "@a varchar(8001)",
                                 "@a nvarchar(4001)",
                                 "@a int OUTPUT OUTPUT",
                                 "@a money",
                                 "a int",
                                 "@a int; DROP TABLE x",
                                 "\x01\xff garbage"};
  for (const char* declaration : refused) {
    const std::string reply = prepare(declaration);
    EXPECT_NE(error_number(reply), 0) << declaration << " " << reply;
    EXPECT_EQ(ending(reply), FAILED_DONEPROC) << declaration;
  }
  const std::string too_many = prepare(declarations(2101));
  EXPECT_EQ(error_number(too_many), 8003);
  EXPECT_EQ(ending(too_many), FAILED_DONEPROC);
}

TEST_F(SystemProcs, ValuesThatDoNotFitTheDeclarationsAreErrors) {
  const Bytes statement = nvarchar("SELECT @a");
  const Bytes one_int = nvarchar("@a int");
  // sp_executesql of `statement`, declaring `@a int`, with these values.
  auto call = [&](std::initializer_list<Bytes> values) {
    return by_id(PROC_EXECUTESQL, {statement, one_int, concat(values)});
  };
  struct Case {
    const char* what;
    Bytes request;
    std::int32_t number;
  };
  const Case cases[] = {
      {"missing value", call({}), 8178},
      {"too many values", call({intn(1), intn(2)}), 8144},
      {"unknown name", call({intn(1, "@z")}), 8145},
      {"twice", call({intn(1), intn(2, "@a")}), 8143},
      {"positional after named",
       by_id(PROC_EXECUTESQL, {statement, nvarchar("@a int, @b int"), intn(1, "@a"), intn(2)}),
       119},
      {"OUTPUT not declared", call({intn(1, "", 0x01)}), 8162},
      {"BIGINT out of range", call({intn(1LL << 40, "", 0, 8)}), 8115},
      {"BIGINT below INT_MIN", call({intn(INT32_MIN - 1LL, "", 0, 8)}), 8115},
      {"FLOAT value", call({concat({param_head("", 0), from_hex("6d08 08 000000000000f03f")})}),
       206},
      {"VARCHAR statement", by_id(PROC_EXECUTESQL, {varchar("SELECT 1")}), 214},
      {"no statement", by_id(PROC_EXECUTESQL, {}), 201},
      {"value the type refuses", call({varchar("x1")}), 8114},
  };
  for (const Case& c : cases) {
    const std::string reply = rpc(c.request);
    EXPECT_EQ(error_number(reply), c.number) << c.what << " " << reply;
    EXPECT_EQ(ending(reply), FAILED_DONEPROC) << c.what;
  }
  // The connection goes on.
  EXPECT_EQ(ending(rpc(by_id(PROC_EXECUTESQL, {nvarchar("SELECT 1")}))), FINAL_DONEPROC);
}

TEST_F(SystemProcs, PreparedStatementsLiveByHandle) {
  const Bytes declaration = nvarchar("@P1 varchar(10)");
  const Bytes statement =
      nvarchar("DECLARE @h VARCHAR(20); EXEC xp_hexstr @P1, @h OUTPUT; SELECT @h");
  // sp_prepare: with @options 1 (RETURN_METADATA) the statement's column,
  // VARCHAR(20); handle 1 in the OUTPUT parameter, INTN(4).
  std::string reply = rpc(
      by_id(PROC_PREPARE, {intn(std::nullopt, "@handle", 0x01), declaration, statement, intn(1)}));
  EXPECT_EQ(reply, std::string("810100000000000100a714000904d0003400") + "7900000000" + "ac0000" +
                       "07" + to_hex(ucs2("@handle")) + "01" + "00000000" + "0000" + "2604" +
                       "0401000000" + FINAL_DONEPROC);
  reply = rpc(by_id(PROC_EXECUTE, {intn(1), varchar("AB")}));
  EXPECT_NE(reply.find(std::string("d1") + "0400" + "34313432"), std::string::npos) << reply;
  EXPECT_EQ(ending(reply), FINAL_DONEPROC);
  // sp_prepexec: a new handle and the result at once.
  reply = rpc(by_id(PROC_PREPEXEC, {new_handle, declaration, statement, varchar("C")}));
  EXPECT_NE(reply.find(std::string("d1") + "0200" + "3433"), std::string::npos) << reply;
  // RETURNVALUE: no name, OUTPUT, INTN(4) handle 2.
  const std::string second =
      std::string("ac0000") + "0001" + "00000000" + "0000" + "2604" + "0402000000";
  EXPECT_NE(reply.find(second), reply.npos) << reply;
  EXPECT_EQ(session_prepared(), 2u);
  // sp_unprepare frees; an unknown or freed handle is error 8179.
  EXPECT_EQ(ending(rpc(by_id(PROC_UNPREPARE, {intn(1)}))), FINAL_DONEPROC);
  for (const Bytes& call :
       {by_id(PROC_EXECUTE, {intn(1), varchar("AB")}), by_id(PROC_EXECUTE, {intn(-5)}),
        by_id(PROC_UNPREPARE, {intn(99)}), by_id(PROC_EXECUTE, {intn(std::nullopt)})})
    EXPECT_EQ(error_number(reply = rpc(call)), 8179) << reply;
  EXPECT_EQ(error_number(rpc(by_id(PROC_EXECUTE, {varchar("1")}))), 214);
  EXPECT_EQ(error_number(rpc(by_id(PROC_EXECUTE, {}))), 201);
  // A statement that does not compile gets no handle.
  reply = rpc(by_id(PROC_PREPARE, {new_handle, declaration, nvarchar("SELECT (")}));
  EXPECT_NE(error_number(reply), 0);
  EXPECT_EQ(session_prepared(), 1u);
  // Nor does a call whose values do not fit.
  reply = rpc(by_id(PROC_PREPEXEC, {new_handle, declaration, statement}));
  EXPECT_EQ(error_number(reply), 8178);
  EXPECT_EQ(session_prepared(), 1u);
}

TEST_F(SystemProcs, ConnectionHoldsAtMostTheCap) {
  expect_cap(nvarchar("SELECT 1"), MAX_PREPARED_STATEMENTS, 7);
  EXPECT_EQ(session_prepared(), MAX_PREPARED_STATEMENTS);
}

TEST_F(SystemProcs, ConnectionHoldsAtMostTheCapInText) {
  // Statements that hold just under 1 MiB: eight fit, the ninth does not.
  expect_cap(ntext("/*" + std::string((1u << 20) - 4096, 'x') + "*/"), 8, 3);
}

// The budget counts what the statements hold: filled to it with statements
// of 2100 declarations of long names, the heap grows by no more than it.
TEST_F(SystemProcs, PreparedStatementsHoldNoMoreThanTheBudget) {
  const Bytes declared = ntext(declarations(2100, "@" + std::string(100, 'p')));
  const Bytes prepare = by_id(PROC_PREPARE, {new_handle, declared, nvarchar("")});
  const auto in_use = [] { return mallinfo2().uordblks + mallinfo2().hblkhd; };
  const std::size_t before = in_use();
  std::string reply;
  while (error_number(reply = rpc(prepare)) == 0) {
  }
  EXPECT_EQ(error_number(reply), 8180);
  EXPECT_GT(session_prepared(), 4u);
  EXPECT_LE(in_use() - before, MAX_PREPARED_BYTES);
}

// A statement whose output would pass MAX_REPLY ends its reply with error
// 50101 and DONE_ERROR, whichever path runs it.
TEST_F(SystemProcs, AReplyOverTheLimitEndsWithItsError) {
  std::string big = "DECLARE @v VARCHAR(8000) = '" + std::string(8000, 'a') + "'; SELECT @v";
  for (int i = 1; i < 1100; ++i)
    big += ", @v";
  ASSERT_EQ(error_number(rpc(by_id(PROC_PREPARE, {new_handle, nvarchar(""), ntext(big)}))), 0);
  const std::tuple<const char*, std::uint8_t, Bytes> cases[] = {
      {"batch", PACKET_SQL_BATCH, ucs2(big)},
      {"sp_executesql", PACKET_RPC, by_id(PROC_EXECUTESQL, {ntext(big)})},
      {"sp_execute", PACKET_RPC, by_id(PROC_EXECUTE, {intn(1)})},
      {"sp_prepexec", PACKET_RPC, by_id(PROC_PREPEXEC, {new_handle, nvarchar(""), ntext(big)})},
  };
  for (const auto& [path, type, call] : cases) {
    TokenWriter expected(TDS_7_4);
    reply_too_large(expected, type == PACKET_RPC ? TOKEN_DONEPROC : TOKEN_DONE);
    const std::string tail = to_hex(expected.bytes());
    EXPECT_EQ(tail.substr(0, 2) + tail.substr(6, 8), "aab5c30000");  // ERROR 50101
    const std::string reply = request(type, concat({ALL_HEADERS, call}));
    EXPECT_TRUE(reply.ends_with(tail)) << path << " " << ending(reply);
  }
  EXPECT_EQ(session_prepared(), 1u);  // sp_prepexec's handle never reached the client
}

TEST_F(SystemProcs, OneMessageMayHoldSeveralCalls) {
  const std::string reply = rpc(concat({by_id(PROC_EXECUTESQL, {nvarchar("SELECT 1")}),
                                        {RPC_SEPARATOR},
                                        by_id(PROC_EXECUTESQL, {nvarchar("SELECT 2")})}));
  EXPECT_NE(reply.find("7900000000fe010000"), std::string::npos) << reply;
  EXPECT_EQ(ending(reply), FINAL_DONEPROC);
}

// The statements of sp_executesql and of prepared statements pass the
// session's call guard like a batch's EXEC.
TEST_F(SystemProcs, StatementsPassTheCallGuard) {
  Session guarded(
      test_library(), LoginPolicy{}, 52,
      [](const std::string& procedure, std::vector<Param>&) -> std::optional<CallRefusal> {
        if (procedure == "xp_hexstr") return CallRefusal{50100, "refused"};
        return std::nullopt;
      });
  tds::log_in(guarded);
  const Bytes statement = nvarchar("DECLARE @h VARCHAR(9); EXEC xp_hexstr 'a', @h OUTPUT");
  for (const Bytes& call : {by_id(PROC_EXECUTESQL, {statement}),
                            by_id(PROC_PREPEXEC, {new_handle, nvarchar(""), statement})}) {
    const Bytes packets = guarded.handle(Message{PACKET_RPC, concat({ALL_HEADERS, call}), false});
    EXPECT_NE(to_hex(packets).find("b4c30000"), std::string::npos) << to_hex(packets);  // 50100
  }
}

// Dates sent as DATETIME2(7) and DATETIME take those types and come back in
// them, in a row and in an OUTPUT parameter.
TEST_F(SystemProcs, DateParametersKeepTheirTypes) {
  const Bytes datetime2 = concat({param_head("@d", 0), from_hex("2a0708078e27ab0849460b")});
  const Bytes datetime = concat({param_head("@e", 0), from_hex("6f0808eeb0000000000000")});
  const Bytes output = concat({param_head("@o", 0x01), from_hex("2a0700")});
  const std::string reply =
      rpc(by_id(PROC_EXECUTESQL, {nvarchar("SET @o = @d; SELECT @d, @e"),
                                  nvarchar("@d datetime2, @e datetime, @o datetime2(7) OUTPUT"),
                                  datetime2, datetime, output}));
  EXPECT_NE(reply.find("d108078e27ab0849460b08eeb0000000000000"), std::string::npos) << reply;
  EXPECT_NE(reply.find("2a0708078e27ab0849460b"), std::string::npos) << reply;
}

// A cursor over sp_datatype_info's eight rows (nvarchar, nchar, varbinary,
// char, int, varchar, datetime, datetime2), fetched every way: the rows each fetch returns, by
// the first of them, and its return status (2: a PREV that met the start).
TEST_F(SystemProcs, ServerCursorFetchesEveryWay) {
  const Bytes open_cursor =
      by_id(PROC_CURSOROPEN, {intn(std::nullopt, "", 0x01), nvarchar("EXEC sp_datatype_info"),
                              intn(0x0001, "", 0x01),  // KEYSET
                              intn(0x0004, "", 0x01),  // OPTIMISTIC
                              intn(std::nullopt, "", 0x01)});
  const std::string opened = rpc(open_cursor);
  // Downgraded (16956) to STATIC (8), READ_ONLY; handle 180150001; eight rows.
  for (const char* part :
       {"ab", "3c420000", "26040408000000", "26040401000000", "260404f1debc0a", "81140"})
    EXPECT_NE(opened.find(part), std::string::npos) << part << " in " << opened;
  struct Fetch {
    std::int64_t type, rownum, nrows;
    const char* first;  // the first row's type name; empty: no row
    int count, status;
  };
  EXPECT_EQ(opened.substr(opened.size() - 40), std::string("26040408000000") + FINAL_DONEPROC);
  const Fetch fetches[] = {
      {0x01, 0, 2, "nvarchar", 2, 0},   {0x02, 0, 2, "varbinary", 2, 0},
      {0x04, 0, 3, "nvarchar", 3, 2},   {0x08, 0, 4, "int", 4, 0},
      {0x10, -1, 1, "datetime2", 1, 0}, {0x20, -2, 1, "varchar", 1, 0},
      {0x02, 0, 5, "datetime", 2, 0},   {0x02, 0, 1, "", 0, 0},
      {0x10, 2, 1, "nchar", 1, 0},      {0x80, 0, 0, "nchar", 1, 0},
      {0x200, 0, 5, "nvarchar", 1, 0},
  };

  for (const Fetch& f : fetches) {
    const std::string reply = rpc(
        by_id(PROC_CURSORFETCH, {intn(180150001), intn(f.type), intn(f.rownum), intn(f.nrows)}));
    const std::string name =
        *f.first ? to_hex(concat({{0xd1}, le16(2 * std::strlen(f.first)), ucs2(f.first)})) : "d1";
    EXPECT_EQ(reply.find(name) != std::string::npos, *f.first != 0) << f.type << " " << reply;
    EXPECT_NE(reply.find("ff11000000" + to_hex({static_cast<std::uint8_t>(f.count)})),
              std::string::npos)
        << f.type;
    EXPECT_NE(reply.find("79" + to_hex({static_cast<std::uint8_t>(f.status)}) + "000000"),
              std::string::npos)
        << f.type;
  }
  // INFO: the position and the count come back as OUTPUT values.
  const std::string info = rpc(by_id(
      PROC_CURSORFETCH, {intn(180150001), intn(0x100), intn(0, "", 0x01), intn(0, "", 0x01)}));
  EXPECT_NE(info.find("26040408000000"), std::string::npos) << info;
  EXPECT_EQ(session_.open_cursors(), 1u);
  EXPECT_EQ(ending(rpc(by_name("sp_cursorclose", {intn(180150001)}))), FINAL_DONEPROC);
  EXPECT_EQ(session_.open_cursors(), 0u);
}

// FAST_FORWARD with AUTO_FETCH: the first @rowcount rows come with the open;
// with AUTO_CLOSE too, a cursor that gave them all is closed (status 16).
TEST_F(SystemProcs, ServerCursorAutoFetch) {
  auto open = [&](std::int64_t scrollopt, std::int64_t rows) {
    return rpc(by_id(PROC_CURSOROPEN,
                     {intn(std::nullopt, "", 0x01), nvarchar("EXEC sp_datatype_info"),
                      intn(scrollopt, "", 0x01), intn(1, "", 0x01), intn(rows, "", 0x01)}));
  };
  const std::string three = open(0x2010, 3);
  EXPECT_NE(three.find("ff1100000003"), std::string::npos) << three;
  EXPECT_NE(three.find("7900000000"), std::string::npos) << three;
  EXPECT_EQ(three.substr(three.size() - 40), std::string("26040403000000") + FINAL_DONEPROC);
  const std::string all = open(0x6010, 20);
  EXPECT_NE(all.find("ff1100000008"), std::string::npos) << all;
  EXPECT_NE(all.find("7910000000"), std::string::npos) << all;
  EXPECT_EQ(session_.open_cursors(), 1u);
}

TEST_F(SystemProcs, ServerCursorErrors) {
  const Bytes forward =
      by_id(PROC_CURSOROPEN, {intn(std::nullopt, "", 0x01), nvarchar("SELECT 1"), intn(0x0004)});
  EXPECT_EQ(error_number(rpc(forward)), 0);
  const std::pair<Bytes, std::int32_t> calls[] = {
      {by_id(PROC_CURSORFETCH, {intn(180150001), intn(0x04), intn(0), intn(1)}), 16911},
      {by_id(PROC_CURSORFETCH, {intn(7)}), 16902},
      {by_id(PROC_CURSORFETCH, {intn(180150001), intn(0x40)}), 16902},
      {by_id(PROC_CURSOR, {intn(180150001), intn(1)}), 16929},
      {by_id(PROC_CURSOROPEN,
             {intn(std::nullopt, "", 0x01), nvarchar("SELECT 1"), intn(0x8000 | 0x10000 | 0x0001)}),
       16955},
      {by_id(PROC_CURSOREXECUTE, {intn(5), intn(std::nullopt, "", 0x01)}), 8179},
      {by_id(PROC_CURSOROPEN, {intn(std::nullopt, "", 0x01), nvarchar("SELECT (")}), 102},
  };
  for (const auto& [call, number] : calls)
    EXPECT_EQ(error_number(rpc(call)), number) << number;
  // Not one result set: run as it is, and no cursor (16954).
  const std::string direct =
      rpc(by_id(PROC_CURSOROPEN, {intn(std::nullopt, "", 0x01), nvarchar("PRINT 'x'")}));
  EXPECT_NE(direct.find("3a420000"), std::string::npos) << direct;
  EXPECT_EQ(session_.open_cursors(), 1u);
  // Prepared, executed twice with a bound value, unprepared.
  const std::string prepared =
      rpc(by_id(PROC_CURSORPREPEXEC, {intn(std::nullopt, "", 0x01), intn(std::nullopt, "", 0x01),
                                      nvarchar("@n int"), nvarchar("SELECT @n + 1"), intn(1),
                                      intn(8), intn(1), intn(std::nullopt, "", 0x01), intn(41)}));
  EXPECT_EQ(error_number(prepared), 0) << prepared;
  EXPECT_EQ(error_number(
                rpc(by_id(PROC_CURSOREXECUTE, {intn(1), intn(std::nullopt, "", 0x01), intn(8),
                                               intn(1), intn(std::nullopt, "", 0x01), intn(2)}))),
            0);
  EXPECT_EQ(session_.open_cursors(), 3u);
  EXPECT_EQ(ending(rpc(by_id(PROC_CURSORUNPREPARE, {intn(1)}))), FINAL_DONEPROC);
}

// The rows of a connection's cursors are bounded: past 8 MiB an open is
// refused (701) until a cursor closes.
TEST_F(SystemProcs, ServerCursorRowsAreBounded) {
  const Bytes wide =
      by_id(PROC_CURSOROPEN,
            {intn(std::nullopt, "", 0x01), nvarchar("SELECT REPLICATE('x', 8000), "
                                                    "REPLICATE('y', 8000), REPLICATE('z', 8000)")});
  std::size_t opened = 0;
  while (error_number(rpc(wide)) == 0 && opened < 1000)
    ++opened;
  EXPECT_GT(opened, 300u);
  EXPECT_LT(opened, 360u);
  EXPECT_EQ(error_number(rpc(wide)), 701);
  // Prepared cursor statements count against the same bound.
  EXPECT_EQ(error_number(rpc(by_id(
                PROC_CURSORPREPARE,
                {new_handle, nvarchar(""), ntext("SELECT 1" + std::string(30000, ' ')), intn(0)}))),
            8180);
  EXPECT_EQ(error_number(rpc(by_id(PROC_CURSORCLOSE, {intn(180150001)}))), 0);
  EXPECT_EQ(error_number(rpc(wide)), 0);
}

}  // namespace
}  // namespace varrow::host::tds
