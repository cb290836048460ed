// The varrow executable end to end: arguments, input sources, output and
// exit status.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

struct Result {
  int status;
  std::string out;
};

// Runs a shell command line and collects its output.
Result shell(const std::string& command) {
  FILE* pipe = popen(command.c_str(), "r");
  std::string out;
  char buffer[4096];
  for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    out.append(buffer, n);
  const int status = pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

// Runs `varrow` with the given shell-quoted arguments, standard error joined.
Result varrow(const std::string& arguments, const std::string& input = "") {
  std::string command = std::string(VARROW_CLI_PATH) + " " + arguments + " 2>&1";
  if (!input.empty()) {
    // One file per test process: ctest runs the cases of this file at once.
    const auto path = std::filesystem::temp_directory_path() /
                      ("varrow-cli-input-" + std::to_string(getpid()) + ".sql");
    std::ofstream(path) << input;
    command += " < " + path.string();
  } else {
    command += " < /dev/null";
  }
  return shell(command);
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(VarrowCommand, DigestInHexWithQuery) {
  const Result r = varrow(
      "-Q \"DECLARE @d VARCHAR(16), @h VARCHAR(32); EXEC xp_MD5_Encrypt 'abc', @d OUTPUT; "
      "EXEC xp_hexstr @d, @h OUTPUT; SELECT @h\"");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out,
            "(No column name)\n--------------------------------\n"
            "900150983CD24FB0D6963F7D28E17F72\n\n(1 row affected)\n");
}

TEST(VarrowCommand, AesRoundTripFromStandardInput) {
  const Result r = varrow("-W -s '|'",
                          "DECLARE @c VARCHAR(100), @p VARCHAR(100)\n"
                          "EXEC xp_AES_Encrypt 'round trip', NULL, @c OUTPUT\nGO\n"
                          "DECLARE @c VARCHAR(100), @p VARCHAR(100)\n"
                          "EXEC xp_AES_Encrypt 'round trip', NULL, @c OUTPUT\n"
                          "EXEC xp_AES_Decrypt @c, NULL, @p OUTPUT\n"
                          "SELECT @p AS plain, 1 = 1\n");
  // The second batch has an error: the first still ran.
  EXPECT_EQ(r.status, 1);
  const Result ok = varrow("-W -s '|'",
                           "DECLARE @c VARCHAR(100), @p VARCHAR(100)\n"
                           "EXEC xp_AES_Encrypt 'round trip', NULL, @c OUTPUT\n"
                           "EXEC xp_AES_Decrypt @c, NULL, @p OUTPUT\n"
                           "SELECT @p AS plain, 1 AS one\n");
  EXPECT_EQ(ok.status, 0) << ok.out;
  EXPECT_EQ(ok.out, "plain|one\n-----|---\nround trip|1\n\n(1 row affected)\n");
}

TEST(VarrowCommand, ProcedureErrorShowsItsMessageAndFails) {
  const Result r =
      varrow("-Q \"DECLARE @c VARCHAR(10)\nEXEC xp_AES_Encrypt 'x', 'abc', @c OUTPUT\"");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out,
            "Msg 50005, Level 10, State 0, Procedure xp_AES_Encrypt, Line 2\n"
            "Error: invalid key param, key should be 32/48/64 bytes char that contains hex "
            "values\n");
}

TEST(VarrowCommand, FilesAndOptions) {
  const auto path = std::filesystem::temp_directory_path() / "varrow-cli-test.sql";
  std::ofstream(path) << "PRINT 'from a file'\n";
  const Result r = varrow("-i " + path.string());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "from a file\n");
  EXPECT_EQ(varrow("-i /nonexistent.sql").status, 1);
  EXPECT_EQ(varrow("-L /nonexistent/libvarrow.so -Q \"PRINT 1\"").status, 1);
  EXPECT_TRUE(contains(varrow("-L /nonexistent/libvarrow.so -Q x").out, "cannot load"));
  EXPECT_EQ(varrow("--bogus").status, 1);
  EXPECT_EQ(varrow("-Q").status, 1);
  EXPECT_EQ(varrow("-L " + std::string(VARROW_LIBRARY_PATH) + " -Q \"PRINT 2\"").out, "2\n");
}

TEST(VarrowCommand, DatabaseAdministratorsExamplesRun) {
  const Result r = varrow("-W -i " + std::string(VARROW_SOURCE_DIR) + "/sql/examples.sql");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(contains(r.out, "0 Attack at dawn\n"));
  EXPECT_TRUE(contains(r.out, "0 0x900150983CD24FB0D6963F7D28E17F72\n"));
  EXPECT_TRUE(contains(r.out, "0 0xA9993E364706816ABA3E25717850C26C9CD0D89D\n"));
  EXPECT_TRUE(contains(r.out, "0 566172726F77\n"));
}

TEST(VarrowCommand, HelpFitsOneScreen) {
  const Result r = varrow("--help");
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(contains(r.out, "Usage: varrow"));
  EXPECT_TRUE(contains(r.out, "xp_AES_Encrypt"));
  EXPECT_LE(std::count(r.out.begin(), r.out.end(), '\n'), 25);
}

TEST(VarrowCommand, NestingLimitAndFailedDeclarationAreMessages) {
  std::string deep = "PRINT 1\nSELECT ";
  for (int i = 0; i < 20000; ++i)
    deep += "CAST(";
  const Result r =
      varrow("-W", deep + "\nGO\nDECLARE @y INT = 'a' SELECT @y AS y\nGO\nPRINT 'end'\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out,
            "Msg 191, Level 15, State 1, Line 2, Column 328\nsome part of the statement is nested "
            "too deeply (more than 64 levels); rewrite it or break it up\n"
            "Msg 245, Level 16, State 1, Line 4, Column 1\nConversion failed when converting the "
            "value 'a' to data type int.\ny\n-\nNULL\n\n(1 row affected)\nend\n");
}

// sqlcmd's options and habits, each with the start of what varrow prints.
TEST(VarrowCommand, FollowsSqlcmdConventions) {
  const std::string out = "/tmp/varrow-cli-" + std::to_string(getpid());
  const std::tuple<std::string, std::string, int, std::string> cases[] = {
      {"-b -h -1 -Q \"SELECT 1 AS a\"", "", 0, "1\n\n(1 row affected)\n"},
      {"-h 1 -o " + out + " -Q \"EXEC sp_datatype_info\" && grep -c TYPE_N " + out, "", 0, "8\n"},
      {"-?", "", 0, "Usage: varrow"},
      {"", "SET NOCOUNT ON\nGO\nSELECT 1 AS a\nPRINT 'end'", 0, "a\n-\n1\nend\n"},
      {"", "PRINT 'x'\nGO 3\n", 0, "x\nx\nx\n"},
      {"--version", "", 0, "varrow 1.0.0"},
      {"", "\xEF\xBB\xBFPRINT 'a'", 0, "a\n"},
      {"", {"\xFF\xFEP\0R\0I\0N\0T\0 \0001\0", 16}, 0, "1\n"},
      {"", {"\xFE\xFF\0P\0R\0I\0N\0T\0 \0001", 16}, 0, "1\n"},
      {"-L libc.so.6 -Q x", "", 1, "varrow: libc.so.6 is not the Varrow procedure library"},
      {"-i /none.sql", "", 1, "varrow: cannot open /none.sql: No such file or directory\n"},
  };
  for (const auto& [arguments, input, status, start] : cases) {
    const Result r = varrow(arguments, input);
    EXPECT_EQ(r.status, status) << arguments;
    EXPECT_EQ(r.out.substr(0, start.size()), start) << arguments;
  }
}

// The prompt through a terminal: an arrow key, GO, the line again from the
// history, GO, Ctrl-D; keys typed only once the prompt shows (20 s at most)
// and libedit has the terminal, as keys typed before meet the terminal's own
// line editing.
TEST(VarrowCommand, PromptEditsAndRecallsLines) {
  int terminal = -1;
  const pid_t child = forkpty(&terminal, nullptr, nullptr, nullptr);
  if (child == 0) {
    setenv("TERM", "xterm", 1);
    alarm(120);  // a varrow that does not leave is stopped
    execl(VARROW_CLI_PATH, "varrow", static_cast<char*>(nullptr));
  }
  std::string seen;
  const char* const steps[][2] = {{"1> ", "PRINT 'ac'\x1b[D\x1b[Db\r"},
                                  {"2> ", "GO\r"},
                                  {"abc\r\n1> ", "\x1b[A\x1b[A\r"},
                                  {"2> ", "GO\r"},
                                  {"abc\r\n1> ", "\x04"}};
  for (const auto& [prompt, keys] : steps) {
    pollfd p{terminal, POLLIN, 0};
    char buffer[4096];
    const std::size_t from = seen.size();
    for (ssize_t n = 1;
         seen.find(prompt, from) == std::string::npos && n > 0 && poll(&p, 1, 20000) == 1;)
      if ((n = read(terminal, buffer, sizeof buffer)) > 0)
        seen.append(buffer, static_cast<std::size_t>(n));
    termios mode{};
    for (int i = 0; i < 2000 && tcgetattr(terminal, &mode) == 0 && mode.c_lflag & ICANON; ++i)
      usleep(10000);
    EXPECT_EQ(write(terminal, keys, std::string_view(keys).size()), std::string_view(keys).size());
  }
  int status = -1;
  waitpid(child, &status, 0);
  close(terminal);
  EXPECT_EQ(status, 0) << seen;
  EXPECT_NE(seen.find("\nabc\r\n", seen.find("\nabc\r\n") + 1), std::string::npos) << seen;
}

TEST(VarrowCommand, SyntaxErrorNamesLineAndColumn) {
  const Result r = varrow("-Q \"SELECT 1\nSELECT )\"");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(contains(r.out, "Line 2, Column 8")) << r.out;
}

}  // namespace

TEST(VarrowCommand, ScriptsThatNeverEndAreRefused) {
  const std::string cli = VARROW_CLI_PATH;
  const struct {
    const char* what;
    std::string command;
    std::string message;
  } cases[] = {
      {"file", cli + " -i /dev/zero 2>&1", "varrow: /dev/zero is larger than a script may be"},
      {"standard input", cli + " < /dev/zero 2>&1",
       "varrow: standard input is larger than a script may be"},
      {"a directory", cli + " -i / 2>&1", "varrow: cannot read /"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Result r = shell(c.command);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.out, c.message)) << r.out;
  }
  // A script just within the bound runs: one statement and 16 MiB of comment.
  const auto path = std::filesystem::temp_directory_path() / "varrow-cli-large.sql";
  {
    std::ofstream script(path);
    const std::string head = "PRINT 'ran'\n--";
    script << head << std::string((std::size_t{16} << 20) - head.size(), 'x');
  }
  const Result large = varrow("-i " + path.string());
  std::filesystem::remove(path);
  EXPECT_EQ(large.status, 0) << large.out.substr(0, 200);
  EXPECT_EQ(large.out, "ran\n");
}
