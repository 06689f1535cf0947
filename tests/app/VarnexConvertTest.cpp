// Runs the built varnex-convert tool as a separate process.

#include "base/SysUtils.h"
#include "tests/common/BmpFixtures.h"
#include "tests/common/KilledSave.h"
#include "tests/common/LogText.h"
#include "tests/common/TestSupport.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/fanotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;
using varnex_test::CrLfLines;
using varnex_test::MaskLogTimes;
using varnex_test::ReadFileBytes;
using varnex_test::TempDir;
using varnex_test::WriteFileBytes;

const std::string kTool = std::string(VARNEX_TEST_BINARY_DIR) + "/../bin/varnex-convert";

void PutLE(std::string& Out, std::uint32_t Value, int Bytes) {
  for (int i = 0; i < Bytes; ++i) Out.push_back(static_cast<char>((Value >> (8 * i)) & 0xFF));
}

// A 2 x 2 24-bit BMP: a red pixel at the top left on a green background.
std::string TinyGlyph() {
  std::string bmp = "BM";
  for (std::uint32_t v : {14u + 40u + 16u, 0u, 54u, 40u, 2u, 2u}) PutLE(bmp, v, 4);
  PutLE(bmp, 1, 2);
  PutLE(bmp, 24, 2);
  for (int i = 0; i < 6; ++i) PutLE(bmp, 0, 4);
  bmp += std::string("\x00\xFF\x00\x00\xFF\x00\x00\x00", 8);  // bottom row: green, green
  bmp += std::string("\x00\x00\xFF\x00\xFF\x00\x00\x00", 8);  // top row: red, green
  return bmp;
}

// The colour 0x00BBGGRR at (X, Y) of a bottom-up 24-bit BMP of height 2, width 4.
std::uint32_t OutputPixel(const std::string& Bmp, int X, int Y) {
  const std::size_t at = 54 + static_cast<std::size_t>(1 - Y) * 12 + 3 * static_cast<std::size_t>(X);
  if (Bmp.size() < at + 3) return 0xFFFFFFFFu;
  return static_cast<std::uint8_t>(Bmp[at + 2]) | static_cast<std::uint8_t>(Bmp[at + 1]) << 8 |
         static_cast<std::uint32_t>(static_cast<std::uint8_t>(Bmp[at])) << 16;
}

struct TToolResult {
  int ExitCode = -1;
  std::string Out, Err;
};

// Starts the tool in Cwd with stdout and stderr sent to files under Cwd (or
// stderr to ErrFd when it is set), with the file-size limit FileSizeLimit and the
// default action of SIGXFSZ; returns the child's process id.
pid_t StartTool(const std::vector<std::string>& Args, const std::string& Cwd, int ErrFd = -1,
                rlim_t FileSizeLimit = RLIM_INFINITY) {
  std::vector<std::string> argv{kTool};
  argv.insert(argv.end(), Args.begin(), Args.end());
  std::vector<char*> raw;
  for (std::string& arg : argv) raw.push_back(arg.data());
  raw.push_back(nullptr);
  const std::string outPath = Cwd + "/.stdout", errPath = Cwd + "/.stderr";
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = ErrFd >= 0 ? ErrFd : ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || err < 0 || ::chdir(Cwd.c_str()) != 0) ::_exit(127);
    std::signal(SIGXFSZ, SIG_DFL);
    const rlimit limit{FileSizeLimit, RLIM_INFINITY};
    if (FileSizeLimit != RLIM_INFINITY && ::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(127);
    ::dup2(out, STDOUT_FILENO);
    ::dup2(err, STDERR_FILENO);
    ::execv(kTool.c_str(), raw.data());
    ::_exit(127);
  }
  return pid;
}

int WaitExit(pid_t Pid) {
  int status = 0;
  while (::waitpid(Pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Runs the tool to its end and collects its exit code and output.
TToolResult RunTool(const std::vector<std::string>& Args, const std::string& Cwd,
                    rlim_t FileSizeLimit = RLIM_INFINITY) {
  TToolResult result;
  result.ExitCode = WaitExit(StartTool(Args, Cwd, -1, FileSizeLimit));
  result.Out = ReadFileBytes(Cwd + "/.stdout");
  result.Err = ReadFileBytes(Cwd + "/.stderr");
  ::unlink((Cwd + "/.stdout").c_str());
  ::unlink((Cwd + "/.stderr").c_str());
  return result;
}

// Runs the tool to its end with stderr on a pseudo-terminal; returns what the terminal showed.
std::string RunOnTerminal(const std::vector<std::string>& Args, const std::string& Cwd, int& ExitCode) {
  int master = -1, slave = -1;
  if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return "openpty failed";
  const pid_t pid = StartTool(Args, Cwd, slave);
  ::close(slave);
  std::string screen;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(master, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // EIO once the tool has closed the terminal
    screen.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(master);
  ExitCode = WaitExit(pid);
  return screen;
}

class VarnexConvertTest : public ::testing::Test {
protected:
  void SetUp() override {
    if (::access(kTool.c_str(), X_OK) != 0) GTEST_SKIP() << "varnex-convert is not built at " << kTool;
  }
  std::string Source(const std::string& Name) {
    const std::string path = Dir / Name;
    WriteFileBytes(path, TinyGlyph());
    return path;
  }
  TempDir Dir;
  const std::string OutDir = Dir / "out";
};

}  // namespace

TEST_F(VarnexConvertTest, HelpAndVersionAnswerAndExitZero) {
  const TToolResult help = RunTool({"--help"}, Dir.Path());
  EXPECT_EQ(help.ExitCode, 0);
  const std::string usage = "Usage: varnex-convert [OPTION]... -o DIR [FILE|FOLDER]...\n";
  EXPECT_EQ(help.Out.rfind(usage, 0), 0u) << help.Out;
  for (const char* option : {"      --light", "      --shadow", "  -o, --output", "  -l, --log", "      --files-from",
                             "  -0, --null", "      --skip-existing", "  -q, --quiet", "      --json", "  -h, --help",
                             "  -V, --version"})
    EXPECT_NE(help.Out.find(std::string("\n") + option + " "), std::string::npos) << option;
  EXPECT_EQ(help.Err, "");
  // Bundled short options, and a long option shortened while it stays unique.
  EXPECT_EQ(RunTool({"-hV"}, Dir.Path()).Out, help.Out);
  for (const char* version : {"--version", "--vers", "-V"}) {
    const TToolResult result = RunTool({version, "no-such-input"}, Dir.Path());
    EXPECT_EQ(result.ExitCode, 0) << version;
    EXPECT_EQ(result.Out, std::string("varnex-convert (Varnex) ") + VARNEX_VERSION + "\n") << version;
    EXPECT_EQ(result.Err, "");
  }
  EXPECT_FALSE(FileExists(Dir / "Log.txt"));
}

TEST_F(VarnexConvertTest, UsageErrorsExitWithTwoAndOneLineNamingTheFault) {
  const std::string a = Source("a.bmp");
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{}, "no output directory (use --output DIR)"},
      {{a}, "no output directory (use --output DIR)"},
      {{"--output", OutDir}, "no files to convert"},
      {{"--output", OutDir, "--verbose", a}, "unknown option: --verbose"},
      {{"--output", OutDir, "--help=yes", a}, "option --help takes no value"},
      {{"-o", OutDir, "-x", a}, "unknown option: -x"},
      {{"-o", OutDir, "-hx", a}, "unknown option: -x"},
      {{"-o", OutDir, "--l=run.log", a}, "ambiguous option: --l (--light, --log)"},
      {{a, "-o"}, "option -o needs a value"},
      {{a, "-Vl"}, "option -l needs a value"},
      {{a, "--out"}, "option --output needs a value"},
      {{"--output", OutDir, "--light", "12345G", a}, "bad colour for --light: '12345G' (expected RRGGBB)"},
      {{"--output", OutDir, "--shadow=FFF", a}, "bad colour for --shadow: 'FFF' (expected RRGGBB)"},
      {{"--output", OutDir, "--light", "", a}, "bad colour for --light: '' (expected RRGGBB)"},
      {{"--output", OutDir, a, "--shadow"}, "option --shadow needs a value"},
      {{"--output=", a}, "the output directory is empty"},
      {{"--output", OutDir, "--log=", a}, "the log file name is empty"},
      {{"-o", OutDir, "--json", "-l", "-", a}, "--json and --log - both need standard output"},
      {{"-o", OutDir, "-0", a}, "--null needs --files-from"},
      {{"-o", OutDir, "--files-from", Dir / "no-list"}, "cannot read the file list " + Dir / "no-list" +
                                                           " (No such file or directory)"},
      // Echoed arguments are escaped as the log escapes names.
      {{"-o", OutDir, "--\033[31mred", a}, "unknown option: --\\x1b[31mred"},
      {{"-o", OutDir, "--light=\033[2J", a}, "bad colour for --light: '\\x1b[2J' (expected RRGGBB)"},
  };
  for (const auto& [args, fault] : cases) {
    const TToolResult result = RunTool(args, Dir.Path());
    EXPECT_EQ(result.ExitCode, 2) << fault;
    EXPECT_EQ(result.Err, "varnex-convert: " + fault + "; try 'varnex-convert --help'\n");
    EXPECT_EQ(result.Out, "");
  }
  EXPECT_FALSE(DirectoryExists(OutDir));
  EXPECT_FALSE(FileExists(Dir / "Log.txt"));
}

TEST_F(VarnexConvertTest, CleanRunExitsZeroWithTheLogInTheCurrentDirectory) {
  const std::string a = Source("a.bmp"), b = Source("b.bmp");
  const TToolResult result = RunTool({"--output", OutDir, a, b}, Dir.Path());
  EXPECT_EQ(result.ExitCode, 0);
  EXPECT_EQ(result.Err, "");
  EXPECT_EQ(result.Out, "");
  EXPECT_TRUE(varnex_test::HasOnlyCrLfLineEnds(ReadFileBytes(Dir / "Log.txt")));
  EXPECT_EQ(MaskLogTimes(ReadFileBytes(Dir / "Log.txt")),
            CrLfLines({"Start time: <time>", "Creates output directory: " + OutDir, "Created output directory: " + OutDir,
                   "Converts: " + a, "Converted: " + a, "Converts: " + b, "Converted: " + b, "Task completed",
                   "Errors: 0", "Warnings: 0", "End time: <time>"}));
  const std::string out = ReadFileBytes(OutDir + "/a.bmp");
  EXPECT_EQ(OutputPixel(out, 0, 0), 0x0000FFu);
  EXPECT_EQ(OutputPixel(out, 2, 0), 0x808080u);
  EXPECT_EQ(OutputPixel(out, 3, 1), 0xFFFFFFu);
  EXPECT_EQ(OutputPixel(out, 2, 1), 0x00FF00u);
  EXPECT_TRUE(FileExists(OutDir + "/b.bmp"));
}

TEST_F(VarnexConvertTest, WebColoursAreTurnedIntoProgramColours) {
  const std::string a = Source("a.bmp");
  const TToolResult result =
      RunTool({"--light", "102030", "--shadow=#a0B0c0", "--log", Dir / "run.log", "--output", OutDir, "--", a},
              Dir.Path());
  EXPECT_EQ(result.ExitCode, 0) << result.Err;
  const std::string out = ReadFileBytes(OutDir + "/a.bmp");
  EXPECT_EQ(OutputPixel(out, 3, 1), 0x302010u);
  EXPECT_EQ(OutputPixel(out, 2, 0), 0xC0B0A0u);
  EXPECT_TRUE(FileExists(Dir / "run.log"));
  EXPECT_FALSE(FileExists(Dir / "Log.txt"));
}

TEST_F(VarnexConvertTest, OptionsTakeTheirShortAttachedAndAbbreviatedForms) {
  const std::string a = Source("a.bmp");
  ASSERT_EQ(::mkdir((Dir / "-o").c_str(), 0700), 0);
  Source("-o/-b.bmp");
  // Options may follow the inputs; after "--" every argument is an input.
  const TToolResult result =
      RunTool({a, "--sh=a0b0c0", "-lrun.log", "--out=" + OutDir, "--", "-o/-b.bmp"}, Dir.Path());
  EXPECT_EQ(result.ExitCode, 0) << result.Err;
  EXPECT_EQ(OutputPixel(ReadFileBytes(OutDir + "/a.bmp"), 2, 0), 0xC0B0A0u);
  EXPECT_TRUE(FileExists(OutDir + "/-b.bmp"));
  EXPECT_TRUE(FileExists(Dir / "run.log"));
}

TEST_F(VarnexConvertTest, AFolderStandsForItsGlyphFilesSortedByName) {
  const std::string glyphs = Dir / "glyphs";
  ASSERT_EQ(::mkdir(glyphs.c_str(), 0700), 0);
  ASSERT_EQ(::mkdir((glyphs + "/sub.bmp").c_str(), 0700), 0);
  for (const char* name : {"glyphs/c.Bmp", "glyphs/A.BMP", "glyphs/b.bmp", "glyphs/.hidden.bmp",
                           "glyphs/notes.txt", "glyphs/sub.bmp/deep.bmp", "z.bmp", "y.bmp"})
    Source(name);
  // Listed files keep the order given; the folder's files come sorted where it stands.
  const TToolResult result = RunTool({"-o", OutDir, Dir / "z.bmp", glyphs + "/", Dir / "y.bmp"}, Dir.Path());
  EXPECT_EQ(result.ExitCode, 0) << result.Err;
  std::vector<std::string> converted;
  for (const std::string& line : varnex_test::LogLines(ReadFileBytes(Dir / "Log.txt")))
    if (line.rfind("Converts: ", 0) == 0) converted.push_back(line.substr(10));
  EXPECT_EQ(converted, (std::vector<std::string>{Dir / "z.bmp", glyphs + "/A.BMP", glyphs + "/b.bmp",
                                                 glyphs + "/c.Bmp", Dir / "y.bmp"}));
  // A folder without glyphs converts nothing and is no error.
  ASSERT_EQ(::mkdir((Dir / "empty").c_str(), 0700), 0);
  const TToolResult empty = RunTool({"-o", OutDir, Dir / "empty"}, Dir.Path());
  EXPECT_EQ(empty.ExitCode, 0) << empty.Err;
}

TEST_F(VarnexConvertTest, ManyInputsOfOneFolderAreTypedLikeFewOnes) {
  // Enough names in one folder that the tool reads that folder's listing for them.
  const std::string many = Dir / "many";
  ASSERT_EQ(::mkdir(many.c_str(), 0700), 0);
  ASSERT_EQ(::mkdir((many + "/sub.bmp").c_str(), 0700), 0);
  Source("many/sub.bmp/in.bmp");
  ASSERT_EQ(::symlink("sub.bmp", (many + "/link").c_str()), 0);
  ASSERT_EQ(::symlink("f00.bmp", (many + "/flink.bmp").c_str()), 0);
  std::vector<std::string> args{"-o", OutDir}, expected;
  for (int i = 0; i < 20; ++i) expected.push_back(Source("many/f" + std::to_string(10 + i).substr(1) + ".bmp"));
  args.insert(args.end(), expected.begin(), expected.end());
  for (const std::string name : {"/sub.bmp", "/link", "/flink.bmp", "/gone.bmp"}) args.push_back(many + name);
  const TToolResult result = RunTool(args, Dir.Path());
  EXPECT_EQ(result.ExitCode, 1) << result.Err;
  // The folder and the link to it stand for their glyph; a link to a file and a missing
  // name stay files.
  expected.insert(expected.end(), {many + "/sub.bmp/in.bmp", many + "/link/in.bmp", many + "/flink.bmp",
                                   many + "/gone.bmp"});
  std::vector<std::string> converted;
  for (const std::string& line : varnex_test::LogLines(ReadFileBytes(Dir / "Log.txt")))
    if (line.rfind("Converts: ", 0) == 0) converted.push_back(line.substr(10));
  EXPECT_EQ(converted, expected);
}

TEST_F(VarnexConvertTest, LoggedErrorsExitWithOne) {
  const std::string a = Source("a.bmp");
  const std::string missing = Dir / "missing.bmp";
  const TToolResult result = RunTool({"--output", OutDir, missing, a, a}, Dir.Path());
  EXPECT_EQ(result.ExitCode, 1);
  // Each failed file gets its line on standard error, as the log words and escapes it.
  EXPECT_EQ(result.Err, "varnex-convert: Cannot load glyph from file: " + missing + "\n" +
                            "varnex-convert: Output file already exists: " + OutDir + "/a.bmp\n" +
                            "varnex-convert: errors: 2, warnings: 0 (see Log.txt)\n");
  const std::string log = ReadFileBytes(Dir / "Log.txt");
  EXPECT_NE(log.find("\r\n[Error] Cannot load glyph from file: " + missing + "\r\n"), std::string::npos);
  EXPECT_NE(log.find("\r\n[Error] Output file already exists: " + OutDir + "/a.bmp\r\n"), std::string::npos);
  EXPECT_NE(log.find("\r\nErrors: 2\r\n"), std::string::npos);
  // A missing folder is a missing input like a missing file; --quiet keeps standard error empty.
  const TToolResult quiet = RunTool({"-q", "-o", OutDir, Dir / "no-folder/", Dir / "bad\033.bmp"}, Dir.Path());
  EXPECT_EQ(quiet.ExitCode, 1);
  EXPECT_EQ(quiet.Err, "");
  EXPECT_NE(ReadFileBytes(Dir / "Log.txt").find("\r\nErrors: 2\r\n"), std::string::npos);
  const TToolResult loud = RunTool({"-o", OutDir, Dir / "bad\033.bmp"}, Dir.Path());
  EXPECT_EQ(loud.Err.rfind("varnex-convert: Cannot load glyph from file: " + Dir / "bad\\x1b.bmp\n", 0), 0u);
}

TEST_F(VarnexConvertTest, FileListsSkipsAndJsonServeScripts) {
  const std::string a = Source("a.bmp"), b = Source("b b\nc.bmp"), bad = Source("bad\xff\x01.bmp");
  WriteFileBytes(bad, "not a bitmap");
  WriteFileBytes(Dir / "list", a + "\n\n" + bad + "\n");
  TToolResult result = RunTool({"-o", OutDir, a, b}, Dir.Path());
  EXPECT_EQ(result.ExitCode, 0) << result.Err;
  EXPECT_TRUE(FileExists(OutDir + "/b b\nc.bmp"));
  // A re-run skips what exists: neither an error nor replaced.
  result = RunTool({"-o", OutDir, "--skip-existing", "--files-from", Dir / "list", b}, Dir.Path());
  EXPECT_EQ(result.ExitCode, 1);
  const std::string log = ReadFileBytes(Dir / "Log.txt");
  EXPECT_NE(log.find("\r\nSkipped, output file already exists: " + OutDir + "/a.bmp\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("\r\nSkipped, output file already exists: " + OutDir + "/b b\\nc.bmp\r\n"), std::string::npos);
  EXPECT_NE(log.find("\r\nErrors: 1\r\n"), std::string::npos);
  // One object a line; a byte that is not UTF-8 is kept as a lone surrogate escape.
  result = RunTool({"-o", OutDir, "--json", "--skip-existing", a, bad}, Dir.Path());
  EXPECT_EQ(result.ExitCode, 1);
  EXPECT_EQ(result.Out, "{\"source\":\"" + a + "\",\"target\":\"" + OutDir + "/a.bmp\",\"status\":\"skipped\"," +
                            "\"message\":\"Skipped, output file already exists: " + OutDir + "/a.bmp\"}\n" +
                            "{\"source\":\"" + Dir / "bad\\udcff\\u0001.bmp\",\"target\":\"" + OutDir +
                            "/bad\\udcff\\u0001.bmp\",\"status\":\"error\"," +
                            "\"message\":\"Cannot load glyph from file: " +
                            Dir / "bad\\udcff\\u0001.bmp\"}\n" +
                            "{\"summary\":{\"converted\":0,\"skipped\":1,\"errors\":1,\"warnings\":0," +
                            "\"canceled\":false}}\n");
}

TEST_F(VarnexConvertTest, TheLogReplacesOnlyALogAndWritesThroughLinks) {
  const std::string a = Source("a.bmp"), notes = Dir / "notes.txt", empty = Dir / "empty.txt";
  WriteFileBytes(notes, "my notes");
  WriteFileBytes(empty, "");
  // An input, or a file that is not an earlier log, is refused before anything is written.
  for (const auto& [log, input] : {std::pair{a, a}, std::pair{notes, a}, std::pair{empty, empty}}) {
    const TToolResult result = RunTool({"-o", OutDir, "-l", log, input}, Dir.Path());
    EXPECT_EQ(result.ExitCode, 2) << log;
    EXPECT_NE(result.Err.find(log), std::string::npos) << result.Err;
  }
  EXPECT_EQ(ReadFileBytes(a), TinyGlyph());
  EXPECT_EQ(ReadFileBytes(notes), "my notes");
  EXPECT_FALSE(DirectoryExists(OutDir));
  // An empty file and an earlier log are replaced in place, through a link that stays.
  const std::string link = Dir / "log-link";
  ASSERT_EQ(::symlink(empty.c_str(), link.c_str()), 0);
  for (int run = 0; run < 2; ++run) {
    const TToolResult result = RunTool({"-o", OutDir, "-l", link, "--skip-existing", a}, Dir.Path());
    EXPECT_EQ(result.ExitCode, 0) << result.Err;
    EXPECT_EQ(ReadFileBytes(empty).rfind("Start time: ", 0), 0u);
  }
  struct stat st {};
  ASSERT_EQ(::lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
}

TEST_F(VarnexConvertTest, LogThatCannotBeCreatedExitsWithThreeAndConvertsNothing) {
  const std::string a = Source("a.bmp");
  const std::string logPath = Dir / "no/such/dir/Log.txt";
  const TToolResult result = RunTool({"--output", OutDir, "--log", logPath, a}, Dir.Path());
  EXPECT_EQ(result.ExitCode, 3);
  EXPECT_EQ(result.Err, "varnex-convert: The program cannot create a log file. (" + logPath + ")\n");
  EXPECT_FALSE(DirectoryExists(OutDir));
}

TEST_F(VarnexConvertTest, ProgressIsShownOnATerminalOnly) {
  const std::string a = Source("first.bmp"), b = Source("second.bmp");
  int exitCode = -1;
  const std::string screen = RunOnTerminal({"--output", OutDir, a, b}, Dir.Path(), exitCode);
  EXPECT_EQ(exitCode, 0);
  EXPECT_NE(screen.find("\r  0% first.bmp"), std::string::npos) << screen;
  EXPECT_NE(screen.find("\r 50% second.bmp"), std::string::npos) << screen;
  EXPECT_NE(screen.find("\r100% second.bmp"), std::string::npos) << screen;
  EXPECT_EQ(screen.substr(screen.size() - 4), "\r\033[K");
  EXPECT_EQ(screen.find('\n'), std::string::npos);
}

TEST_F(VarnexConvertTest, NamesReachTheTerminalWithTheirControlCharactersEscaped) {
  const std::string name = Source("\033]0;owned\007\033[2J\r\n.bmp");
  int exitCode = -1;
  const std::string screen = RunOnTerminal({"--output", OutDir, name}, Dir.Path(), exitCode);
  EXPECT_EQ(exitCode, 0);
  EXPECT_NE(screen.find("\r  0% \\x1b]0;owned\\x07\\x1b[2J\\r\\n.bmp\033[K"), std::string::npos) << screen;
  EXPECT_EQ(screen.find("\033]"), std::string::npos);
  EXPECT_EQ(screen.find("\033[2J"), std::string::npos);
  EXPECT_EQ(screen.find('\n'), std::string::npos);
}

TEST_F(VarnexConvertTest, AFileNamedLikeAStatusShowsAsAFile) {
  const std::string started = Source("Started");
  int exitCode = -1;
  const std::string screen = RunOnTerminal({"--output", OutDir, started}, Dir.Path(), exitCode);
  EXPECT_EQ(exitCode, 0);
  EXPECT_NE(screen.find("\r  0% Started"), std::string::npos) << screen;
  EXPECT_NE(screen.find("\r100% Started"), std::string::npos) << screen;
}

TEST_F(VarnexConvertTest, InterruptStopsAtTheNextFileBoundaryAndEndsByTheSignal) {
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    std::filesystem::remove_all(OutDir);
    const std::string a = Source("a.bmp"), c = Source("c.bmp");
    // The tool refuses pipes, so the test holds it inside the second file by answering its
    // open of that file only after the interrupt was sent.
    const std::string b = Source("b.bmp");
    const int fan = ::fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC, O_RDONLY | O_CLOEXEC);
    // Only a user without the right to watch opens skips; anywhere else a missing mechanism fails.
    if (fan < 0 && errno == EPERM && ::geteuid() != 0) GTEST_SKIP() << "fanotify permission events need root";
    ASSERT_GE(fan, 0) << "no fanotify permission events: " << std::strerror(errno);
    ASSERT_EQ(::fanotify_mark(fan, FAN_MARK_ADD, FAN_OPEN_PERM, AT_FDCWD, b.c_str()), 0);
    const pid_t pid = StartTool({"--output", OutDir, a, b, c}, Dir.Path());
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    bool held = false;
    while (!held) {
      pollfd ready{fan, POLLIN, 0};
      ASSERT_EQ(::poll(&ready, 1, 30000), 1) << "the tool never opened b.bmp";
      fanotify_event_metadata event{};
      ASSERT_EQ(::read(fan, &event, sizeof event), static_cast<ssize_t>(sizeof event));
      held = event.pid == pid;
      if (held) {
        ASSERT_TRUE(FileExists(OutDir + "/a.bmp"));
        ASSERT_EQ(::kill(pid, signal), 0);
      }
      const fanotify_response answer{event.fd, FAN_ALLOW};
      ASSERT_EQ(::write(fan, &answer, sizeof answer), static_cast<ssize_t>(sizeof answer));
      ::close(event.fd);
    }
    ::close(fan);
    int status = 0;
    pid_t ended = 0;
    while ((ended = ::waitpid(pid, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(1ms);
    ASSERT_EQ(ended, pid) << "the tool did not end";
    // The shell sees the signal (130 for Ctrl+C), so a loop around the tool stops too.
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), signal);
    const std::string log = ReadFileBytes(Dir / "Log.txt");
    EXPECT_NE(log.find("\r\n[Warning] Task canceled by user.\r\nTask canceled\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("\r\nWarnings: 1\r\n"), std::string::npos);
    EXPECT_EQ(log.find("Converts: " + c), std::string::npos);
    EXPECT_FALSE(FileExists(OutDir + "/c.bmp"));
    // Whatever was written is a whole glyph, and no temporary file is left behind.
    EXPECT_EQ(ReadFileBytes(OutDir + "/a.bmp").size(), 54u + 2u * 12u);
    DIR* dir = ::opendir(OutDir.c_str());
    ASSERT_NE(dir, nullptr);
    for (dirent* entry = ::readdir(dir); entry != nullptr; entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (name == "." || name == "..") continue;
      EXPECT_TRUE(name == "a.bmp" || name == "b.bmp") << name;
      EXPECT_EQ(ReadFileBytes(OutDir + "/" + name).size(), 54u + 2u * 12u) << name;
    }
    ::closedir(dir);
  }
}

TEST_F(VarnexConvertTest, ConvertsTheConformanceSetOfGoodFiles) {
  const std::string suite = VARNEX_BMPSUITE_DIR;
  if (suite.empty()) GTEST_SKIP() << "VARNEX_BMPSUITE_DIR is not set";
  std::vector<std::string> files;
  DIR* dir = ::opendir((suite + "/g").c_str());
  ASSERT_NE(dir, nullptr) << suite << "/g";
  for (dirent* entry = ::readdir(dir); entry != nullptr; entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.size() > 4 && name.substr(name.size() - 4) == ".bmp") files.push_back(suite + "/g/" + name);
  }
  ::closedir(dir);
  ASSERT_FALSE(files.empty());
  std::vector<std::string> args{"--output", OutDir};
  args.insert(args.end(), files.begin(), files.end());
  const TToolResult result = RunTool(args, Dir.Path());
  EXPECT_EQ(result.ExitCode, 0) << ReadFileBytes(Dir / "Log.txt");
  for (const std::string& file : files) EXPECT_TRUE(FileExists(OutDir + "/" + ExtractFileName(file))) << file;
}

TEST_F(VarnexConvertTest, WritePastTheFileSizeLimitIsLoggedLikeAFullDisk) {
  varnex_test::TBmpFixture big;
  big.Width = big.Height = 64;
  big.Pixels.assign(64 * 64, 0x00FF00u);
  WriteFileBytes(Dir / "big.bmp", varnex_test::BuildBmp(big));
  const std::string a = Source("a.bmp");
  // The two-image glyph of the big file passes 16 KiB; the log and the small glyph do not.
  const TToolResult result = RunTool({"--output", OutDir, Dir / "big.bmp", a}, Dir.Path(), 16 * 1024);
  EXPECT_EQ(result.ExitCode, 1) << result.Err;
  const std::string log = ReadFileBytes(Dir / "Log.txt");
  EXPECT_NE(log.find("\r\n[Error] Cannot save glyph to file: " + OutDir + "/big.bmp\r\nConverts: " + a +
                     "\r\nConverted: " + a + "\r\nTask completed\r\nErrors: 1\r\n"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("\r\nEnd time: "), std::string::npos);
  // No temporary file of the failed glyph is left behind.
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(OutDir)) names.push_back(entry.path().filename());
  EXPECT_EQ(names, std::vector<std::string>{"a.bmp"});
}

TEST_F(VarnexConvertTest, LogThatCannotBeWrittenExitsWithFourAfterConvertingEverything) {
  const std::string a = Source("a.bmp");
  const TToolResult result = RunTool({"--output", OutDir, "--log", "/dev/full", a}, Dir.Path());
  EXPECT_EQ(result.ExitCode, 4);
  EXPECT_EQ(result.Err, "varnex-convert: the log could not be written (/dev/full); errors: 0, warnings: 0\n");
  EXPECT_EQ(ReadFileBytes(OutDir + "/a.bmp").size(), 54u + 2u * 12u);
  EXPECT_NE(RunTool({"--help"}, Dir.Path()).Out.find("4 the log could not be written"), std::string::npos);
}

TEST_F(VarnexConvertTest, TwoRunsIntoOneFolderAtOnceLoseNothingOnEitherRoute) {
  constexpr int kFiles = 400;
  std::vector<std::string> a = {"-o", OutDir, "-l", Dir / "a.log"}, b = {"-o", OutDir, "-l", Dir / "b.log"};
  for (int i = 0; i < kFiles; ++i) {
    a.push_back(Source("a" + std::to_string(i) + ".bmp"));
    b.push_back(Source("b" + std::to_string(i) + ".bmp"));
  }
  varnex_test::OnEachPublishRoute([&] {
    std::filesystem::remove_all(OutDir);
    const pid_t first = StartTool(a, Dir.Path());
    const pid_t second = StartTool(b, Dir.Path());
    EXPECT_EQ(WaitExit(first), 0) << ReadFileBytes(Dir / "a.log");
    EXPECT_EQ(WaitExit(second), 0) << ReadFileBytes(Dir / "b.log");
    std::size_t outputs = 0;
    for (const auto& entry : std::filesystem::directory_iterator(OutDir)) outputs += entry.file_size() > 0 ? 1 : 0;
    EXPECT_EQ(outputs, 2u * kFiles);
  });
}

TEST_F(VarnexConvertTest, SavesOnAFileSystemWithoutHardLinksOrANoReplaceRename) {
  // FAT through FUSE, where neither unnamed files, hard links nor a rename that refuses to
  // replace exist. Needs the FUSE device and its tools, which a container may lack.
  const char* tools = "{ command -v fusefat && command -v mkfs.vfat && command -v fusermount3; } >/dev/null";
  if (::access("/dev/fuse", R_OK | W_OK) != 0 || std::system(tools) != 0)
    GTEST_SKIP() << "FUSE or fusefat is not available";
  const std::string image = Dir / "v.img", mount = Dir / "m";
  std::filesystem::create_directory(mount);
  ASSERT_EQ(std::system(("truncate -s 4M '" + image + "' && mkfs.vfat '" + image + "' >/dev/null").c_str()), 0);
  if (std::system(("fusefat -o rw+ '" + image + "' '" + mount + "' >/dev/null 2>&1").c_str()) != 0)
    GTEST_SKIP() << "fusefat cannot mount here";
  const std::string g = Source("g.bmp");
  const TToolResult first = RunTool({"-o", mount + "/out", g}, Dir.Path());
  const TToolResult again = RunTool({"-o", mount + "/out", g}, Dir.Path());
  const std::string output = ReadFileBytes(mount + "/out/g.bmp");
  const std::string log = ReadFileBytes(Dir / "Log.txt");
  std::system(("fusermount3 -u '" + mount + "'").c_str());
  EXPECT_EQ(first.ExitCode, 0) << first.Err;
  EXPECT_EQ(OutputPixel(output, 0, 0), 0x0000FFu);
  // The name stays refused to a second save, which reports it.
  EXPECT_EQ(again.ExitCode, 1);
  EXPECT_NE(log.find("[Error] Output file already exists: " + mount + "/out/g.bmp"), std::string::npos) << log;
}

TEST_F(VarnexConvertTest, AnEmptyOutputLeftByAKilledSaveIsNeverTakenAsDone) {
  const std::string g = Source("g.bmp");
  std::filesystem::create_directory(OutDir);
  varnex_test::LeaveKilledSave(OutDir + "/g.bmp");
  ASSERT_EQ(ReadFileBytes(OutDir + "/g.bmp"), "");
  const TToolResult result = RunTool({"-o", OutDir, "--skip-existing", g}, Dir.Path());
  EXPECT_EQ(result.ExitCode, 1) << result.Err;
  EXPECT_NE(ReadFileBytes(Dir / "Log.txt").find("[Error] Output file already exists: " + OutDir + "/g.bmp"),
            std::string::npos);
  // The run cleaned the killed save's temporary; its placeholder is the user's to remove.
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(OutDir)) left.push_back(entry.path().filename());
  EXPECT_EQ(left, std::vector<std::string>{"g.bmp"});
}
