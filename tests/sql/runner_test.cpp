// Batches run against the built library: what variables hold afterwards and
// what a client is shown.
#include <gtest/gtest.h>

#include "ods/library.h"
#include "sql/runner.h"

namespace varrow::host::sql {
namespace {

// Everything a batch sends a client, one line each.
class Transcript : public BatchOutput {
 public:
  bool result_set(const ResultSet& result) override {
    for (const auto& row : result.rows) {
      std::string line = "row:";
      for (const auto& value : row)
        line += " " + display(value);
      lines.push_back(line);
    }
    return true;
  }
  bool message(const ProcedureMessage& m) override {
    return add("msg " + std::to_string(m.number) + " class " + std::to_string(m.msg_class) + " " +
               m.procedure + " line " + std::to_string(m.line) + ": " + m.text);
  }
  bool print(std::string_view text) override { return add("print: " + std::string(text)); }
  bool error(const StatementError& e) override {
    return add("error " + std::to_string(e.number) + " at " + std::to_string(e.at.line) + ":" +
               std::to_string(e.at.column) + ": " + e.text);
  }
  bool procedure_done(const std::string& procedure, std::int32_t status) override {
    return add("done " + procedure + " " + std::to_string(status));
  }
  bool add(std::string line) {
    lines.push_back(std::move(line));
    return true;
  }
  std::vector<std::string> lines;
};

const Library& library() {
  static const Library loaded(VARROW_LIBRARY_PATH);
  return loaded;
}

struct Ran {
  bool ok;
  std::vector<std::string> lines;
};

Ran run(const std::string& script, SessionInfo session = {1, "", {"11.0.0.0", "Varrow", ""}}) {
  Transcript transcript;
  Runner runner(library(), transcript, session);
  const bool ok = runner.run_script(script) == BatchStatus::Succeeded;
  return {ok, transcript.lines};
}

using Lines = std::vector<std::string>;

// A script, whether it succeeded, and what it showed; a line ending in '*'
// stands for the lines it begins.
TEST(Runner, ScriptsAndWhatTheyShow) {
  struct Case {
    std::string script;
    bool ok;
    Lines lines;
  };
  const Case cases[] = {
      {"DECLARE @d VARCHAR(16), @h VARCHAR(32); EXEC xp_MD5_Encrypt 'abc', @d OUTPUT; "
       "EXEC xp_hexstr @d, @h OUTPUT; SELECT @h",
       true,
       {"done xp_MD5_Encrypt 0", "done xp_hexstr 0", "row: 900150983CD24FB0D6963F7D28E17F72"}},
      // A procedure's error is a message, and fails the batch.
      {"DECLARE @v VARCHAR(2), @rc INT\nEXEC @rc = xp_hexstr 'abc', @v OUTPUT\nSELECT @v, @rc",
       false,
       {"msg 50007 class 10 xp_hexstr line 2: Error: invalid output param, output buffer too small",
        "done xp_hexstr 1", "row: NULL 1"}},
      // NULL input gives NULL output.
      {"DECLARE @v VARCHAR(40) = 'old'; EXEC xp_SHA1_Encrypt NULL, @v OUTPUT; SELECT @v",
       true,
       {"done xp_SHA1_Encrypt 0", "row: NULL"}},
      // A 20-byte digest in a CHAR(40) is not padded; NVARCHAR input goes as UTF-16.
      {"DECLARE @d CHAR(40), @n NVARCHAR(10) = N'A'\nEXEC xp_SHA1_Encrypt 'abc', @d OUTPUT\n"
       "DECLARE @h VARCHAR(100), @nh VARCHAR(10)\n"
       "EXEC xp_hexstr @d, @h OUTPUT; EXEC xp_hexstr @n, @nh OUTPUT\nSELECT @h, @nh",
       true,
       {"done xp_SHA1_Encrypt 0", "done xp_hexstr 0", "done xp_hexstr 0",
        "row: A9993E364706816ABA3E25717850C26C9CD0D89D 4100"}},
      // A MAX output is refused by the procedure.
      {"DECLARE @v VARCHAR(MAX); EXEC xp_hexstr 'a', @v OUTPUT",
       false,
       {"msg 50003*", "done xp_hexstr 1"}},
      // Statement errors, and what still runs.
      {"EXEC sp_who\nPRINT 'after'\nGO\nEXEC otherdb.dbo.xp_hexstr 'a', NULL\nGO\n"
       "DECLARE @i INT; SET @i = 'x'; PRINT 'still'\nGO\nPRINT N'\xC3\xA9t\xC3\xA9'",
       false,
       {"error 2812 at 1:1: Could not find stored procedure 'sp_who'.", "print: after",
        "error 2812 at 4:1: Could not find stored procedure 'otherdb.dbo.xp_hexstr'.",
        "error 245 at 6:17: Conversion failed when converting the value 'x' to data type int.",
        "print: still", "print: \xC3\xA9t\xC3\xA9"}},
      // Variables belong to their batch.
      {"DECLARE @v INT = 1\nGO\nSELECT @v", false, {"error 137*"}},
      // A declaration that cannot convert leaves NULL, and the batch goes on.
      {"DECLARE @y INT = 'a', @z INT = 2 SELECT @y, @z\nGO\nSELECT 1",
       false,
       {"error 245 at 1:1: Conversion failed when converting the value 'a' to data type int.",
        "row: NULL NULL", "row: 1"}},
      // Expressions and named arguments.
      {"DECLARE @h VARCHAR(10), @b VARBINARY(4) = 0x00FF, @n NVARCHAR(4) = N'ab'\n"
       "EXEC xp_hexstr @input = 'abc', @output = @h OUTPUT\n"
       "SELECT @h, CONVERT(VARCHAR(10), @b, 2), CONVERT(NVARCHAR(10), @b, 1), "
       "CONVERT(VARBINARY(4), '0x0aFF', 1), CONVERT(VARBINARY(4), @h, 2), DATALENGTH(@b), "
       "DATALENGTH(@n), DATALENGTH(NULL)\nSELECT CONVERT(VARBINARY(4), 'abc', 2)",
       false,
       {"done xp_hexstr 0", "row: 616263 00FF 0x00FF 0x0AFF 0x616263 2 4 NULL",
        "error 245 at 4:1: Error converting data type varchar to varbinary."}},
  };
  for (const Case& c : cases) {
    Ran ran = run(c.script);
    EXPECT_EQ(ran.ok, c.ok) << c.script;
    for (std::size_t i = 0; i < ran.lines.size() && i < c.lines.size(); ++i) {
      if (c.lines[i].ends_with('*'))
        ran.lines[i] = ran.lines[i].substr(0, c.lines[i].size() - 1) + '*';
    }
    EXPECT_EQ(ran.lines, c.lines) << c.script;
  }
}

TEST(Runner, AesRoundTripThroughTwoExecs) {
  const Ran ran =
      run("DECLARE @c VARCHAR(8000), @p VARCHAR(100), @rc INT\n"
          "EXEC @rc = master.dbo.xp_AES_Encrypt 'secret text', '000102030405060708090a0b0c0d0e0f', "
          "@c OUTPUT\n"
          "EXEC xp_aes_decrypt @c, '000102030405060708090A0B0C0D0E0F', @p OUTPUT\n"
          "SELECT @p, DATALENGTH_IS_NOT_HERE = @rc");
  // The last statement is outside the language: nothing of the batch runs.
  EXPECT_FALSE(ran.ok);
  ASSERT_EQ(ran.lines.size(), 1u);
  EXPECT_EQ(ran.lines[0].rfind("error 102 at 4:", 0), 0u) << ran.lines[0];

  const Ran fixed =
      run("DECLARE @c VARCHAR(8000), @p VARCHAR(100), @rc INT = 9\n"
          "EXEC @rc = master.dbo.xp_AES_Encrypt 'secret text', '000102030405060708090a0b0c0d0e0f', "
          "@c OUTPUT\n"
          "EXEC xp_aes_decrypt @c, '000102030405060708090A0B0C0D0E0F', @p OUTPUT\n"
          "SELECT @p, @rc, CAST(@c AS VARBINARY(16))");
  EXPECT_TRUE(fixed.ok);
  // The ciphertext as OpenSSL gives it for this key.
  EXPECT_EQ(fixed.lines.back(), "row: secret text 0 0x08ABADF4BBF0C03F422B7CF86464FC6D");
}

TEST(Runner, NestingPastTheLimitIsAnErrorAndTheNextBatchRuns) {
  std::string deep = "SELECT ";
  for (int i = 0; i < 20000; ++i)
    deep += "CAST(";
  const Ran ran = run(deep + "\nGO\nSELECT 2");
  EXPECT_FALSE(ran.ok);
  ASSERT_EQ(ran.lines.size(), 2u);
  EXPECT_EQ(ran.lines[0].rfind("error 191 at 1:328: ", 0), 0u) << ran.lines[0];
  EXPECT_EQ(ran.lines[1], "row: 2");
}

TEST(Runner, BoundVariablesGoInAndComeBack) {
  Transcript transcript;
  Runner runner(library(), transcript);
  const SqlType varchar10{BaseType::VarChar, 10, false};
  std::vector<BoundVariable> bound = {
      {"@P1", varchar10, Value{SqlType{BaseType::NVarChar, 3, false}, Bytes{'a', 0, 'b', 0}}},
      {"@h", varchar10, Value::null_of(varchar10)},
      {"@n", SqlType{BaseType::Int, 4, false}, Value{varchar10, Bytes{'4', '2'}}}};
  // A batch that does not parse leaves every value as it was.
  EXPECT_EQ(runner.run_batch({"SELECT @P1 (", 1}, bound), BatchStatus::Failed);
  EXPECT_EQ(bound[0].value.type.name(), "NVARCHAR(3)");

  transcript.lines.clear();
  EXPECT_EQ(runner.run_batch({"EXEC xp_hexstr @p1, @H OUTPUT", 1}, bound), BatchStatus::Succeeded);
  EXPECT_EQ(display(bound[0].value), "ab");  // converted to VARCHAR on the way in
  EXPECT_EQ(bound[0].value.type.name(), "VARCHAR(10)");
  EXPECT_EQ(display(bound[1].value), "6162");
  EXPECT_EQ(display(bound[2].value), "42");

  std::vector<BoundVariable> wrong = {
      {"@n", SqlType{BaseType::Int, 4, false}, Value{varchar10, Bytes{'x'}}}};
  transcript.lines.clear();
  EXPECT_EQ(runner.run_batch({"SELECT @n", 1}, wrong), BatchStatus::Failed);
  ASSERT_EQ(transcript.lines.size(), 1u);
  EXPECT_EQ(transcript.lines[0].rfind("error 8114 at 1:1: ", 0), 0u) << transcript.lines[0];
  EXPECT_EQ(display(wrong[0].value), "x");  // unchanged: the batch did not run

  transcript.lines.clear();
  EXPECT_EQ(runner.run_batch({"DECLARE @N INT", 1}, wrong), BatchStatus::Failed);
  EXPECT_EQ(transcript.lines.at(0).rfind("error 134 at 1:9: ", 0), 0u) << transcript.lines[0];
}

TEST(Runner, ServerValuesDriversAsk) {
  const Ran ran =
      run("SELECT @@SPID, @@servername, @@TRANCOUNT, @@MAX_PRECISION, "
          "SERVERPROPERTY('productversion'), SERVERPROPERTY('NoSuchProperty'), "
          "CAST(SERVERPROPERTY('ProductVersion') AS VARCHAR)",
          SessionInfo{57, "db1", {"11.0.0.0", "Varrow", ""}});
  EXPECT_TRUE(ran.ok);
  EXPECT_EQ(ran.lines, (Lines{"row: 57 db1 0 38 11.0.0.0 NULL 11.0.0.0"}));
  // SQLAlchemy and others read the version from @@VERSION this way.
  const Ran version = run("SELECT @@VERSION");
  const std::string text = version.lines.at(0);
  EXPECT_EQ(text.rfind("row: Microsoft ", 0), 0u) << text;
  EXPECT_NE(text.find(" - 11.0.0.0"), std::string::npos) << text;
  EXPECT_NE(text.find("Varrow"), std::string::npos) << text;
}

TEST(Runner, DataTypeInfoForOdbc) {
  const Ran one = run("sp_datatype_info_100 12,3");
  EXPECT_TRUE(one.ok);
  EXPECT_EQ(one.lines, (Lines{"row: varchar 12 8000 ' ' max length 1 0 3 NULL 0 NULL varchar NULL "
                              "NULL 12 NULL NULL NULL 2",
                              "done sp_datatype_info_100 0"}));
  const Ran all = run("EXEC sys.sp_datatype_info");
  ASSERT_EQ(all.lines.size(), 7u);
  EXPECT_EQ(all.lines[0].substr(0, 18), "row: nvarchar -9 4");
  EXPECT_EQ(run("EXEC sp_datatype_info @data_type = 4").lines.at(0).substr(0, 15),
            "row: int 4 10 N");
  EXPECT_EQ(run("EXEC sp_datatype_info 99").lines, (Lines{"done sp_datatype_info 0"}));
  const Ran wrong = run("EXEC sp_datatype_info 1, 2, 3");
  EXPECT_FALSE(wrong.ok);
  EXPECT_EQ(wrong.lines.at(0).substr(0, 10), "error 8144");
}

TEST(Runner, ResolvesQualifiedAndCaseInsensitiveNames) {
  EXPECT_EQ(resolve_procedure("XP_HEXSTR"), "xp_hexstr");
  EXPECT_EQ(resolve_procedure("dbo.xp_hexstr"), "xp_hexstr");
  EXPECT_EQ(resolve_procedure("master.dbo.xp_MD5_encrypt"), "xp_MD5_Encrypt");
  EXPECT_EQ(resolve_procedure("master..xp_SHA1_Encrypt"), "xp_SHA1_Encrypt");
  EXPECT_EQ(resolve_procedure("Master.DBO.xp_aes_decrypt"), "xp_AES_Decrypt");
  for (const char* name :
       {"tempdb..xp_hexstr", "sys.xp_hexstr", ".xp_hexstr", "a.b.c.xp_hexstr", "xp_hexstr2", ""}) {
    EXPECT_EQ(resolve_procedure(name), "") << name;
  }
}

// Parameter 1 set twice, parameter 2 (which the guard rewrote) never.
TEST(CallProcedure, OutputsCarryTheLastValueSetOrTheValueSent) {
  const auto sets_twice = [](SRV_PROC* srvproc) {
    for (const char* text : {"firs", "last"})
      Call::from(srvproc).paramsetoutput(1, reinterpret_cast<const std::uint8_t*>(text), 4, false);
    return 0;
  };
  const CallGuard rewrite = [](const std::string&, std::vector<Param>& params) {
    return params[1].value = Bytes{'x'}, std::optional<CallRefusal>{};
  };
  const Param p{"", TYPE_BIGVARCHAR, 10, Bytes{'k', 'e', 'p', 't'}, true};
  const CallOutcome outcome = call_procedure(sets_twice, "p", {p, p}, rewrite, 1);
  EXPECT_EQ(outcome.values,
            (std::vector<std::optional<Bytes>>{Bytes{'l', 'a', 's', 't'}, p.value}));
}

}  // namespace
}  // namespace varrow::host::sql
