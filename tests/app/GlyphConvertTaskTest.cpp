#include "app/GlyphConvertTask.h"

#include "base/FileStream.h"
#include "base/SysUtils.h"
#include "tests/common/BmpFixtures.h"
#include "tests/common/LogText.h"
#include "tests/common/TestSupport.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <utility>
#include <cstdint>
#include <sys/resource.h>

namespace {

using varnex_test::CrLfLines;
using varnex_test::ReadFileBytes;
using varnex_test::TempDir;
using varnex_test::WriteFileBytes;

constexpr TColor kLight = 0x00C0FFEE;
constexpr TColor kShadow = 0x00123456;
constexpr TColor kBackground = 0x0000FF00;
constexpr TColor kInk = 0x000000FF;

// A colour 0x00BBGGRR as the fixture's 24-bit pixel value (blue in the low byte).
std::uint32_t FilePixel(TColor C) { return ((C & 0xFF) << 16) | (C & 0xFF00) | ((C >> 16) & 0xFF); }

// A 2 x 2 24-bit BMP: ink at the top left, background elsewhere.
std::string TinyGlyph() {
  varnex_test::TBmpFixture f;
  f.Width = 2;
  f.Height = 2;
  f.Pixels = {FilePixel(kInk), FilePixel(kBackground), FilePixel(kBackground), FilePixel(kBackground)};
  return varnex_test::BuildBmp(f);
}

// The colour at (X, Y) of a bottom-up 24-bit BMP, Y = 0 being the top row.
TColor PixelOf(const std::string& Bmp, int X, int Y) {
  auto u32 = [&Bmp](std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<std::uint8_t>(Bmp.at(at + static_cast<std::size_t>(i)));
    return v;
  };
  const std::uint32_t offset = u32(10), width = u32(18), height = u32(22);
  const std::size_t stride = (width * 3 + 3) / 4 * 4;
  const std::size_t at = offset + (height - 1 - static_cast<std::size_t>(Y)) * stride + 3 * static_cast<std::size_t>(X);
  return static_cast<std::uint8_t>(Bmp.at(at + 2)) | static_cast<std::uint8_t>(Bmp.at(at + 1)) << 8 |
         static_cast<TColor>(static_cast<std::uint8_t>(Bmp.at(at))) << 16;
}

// What one run delivered through its events.
struct TRunRecord {
  std::vector<std::string> Messages;
  std::vector<int> Progress;
  int Idles = 0;
  int Cancels = 0;
};

class GlyphConvertTaskTest : public ::testing::Test {
protected:
  // A source glyph written under Dir/src/Sub.
  std::string Source(const std::string& Name, const std::string& Sub = "a") {
    ForceDirectories(Dir / ("src/" + Sub));
    const std::string path = Dir / ("src/" + Sub + "/" + Name);
    WriteFileBytes(path, TinyGlyph());
    return path;
  }

  // Attaches recorders to Task; OnIdle also runs IdleAction when set.
  void Watch(TGlyphConvertTask& Task, std::function<void()> IdleAction = {}) {
    Task.OnMessage = [this](TObject*, const std::string& Text) { Record.Messages.push_back(Text); };
    Task.OnProgress = [this, &Task](TObject*) { Record.Progress.push_back(Task.Position()); };
    Task.OnCancel = [this](TObject*) { ++Record.Cancels; };
    Task.OnIdle = [this, IdleAction](TObject*) {
      ++Record.Idles;
      if (IdleAction) IdleAction();
    };
  }

  // The log with its two time stamps checked and replaced by "<time>".
  std::string MaskedLog() {
    const std::string log = ReadFileBytes(LogPath);
    const std::string after = FormatLogTimeStamp();
    EXPECT_EQ(log.find("\xEF\xBB\xBF"), std::string::npos) << "byte-order mark";
    EXPECT_TRUE(varnex_test::HasOnlyCrLfLineEnds(log)) << log;
    std::vector<std::string> stamps;
    std::string masked = varnex_test::MaskLogTimes(log, &stamps);
    EXPECT_EQ(stamps.size(), 2u) << log;
    if (stamps.size() == 2) {
      // The format sorts as text, so the stamps must lie within the test's own clock readings.
      EXPECT_LE(Before, stamps[0]);
      EXPECT_LE(stamps[0], stamps[1]);
      EXPECT_LE(stamps[1], after);
    }
    return masked;
  }

  // The counts equal the prefixed lines of the log.
  void ExpectCountsMatchLog(const TGlyphConvertTask& Task) {
    const std::string log = ReadFileBytes(LogPath);
    auto count = [&log](const std::string& prefix) {
      int n = 0;
      for (std::size_t at = log.find("\n" + prefix); at != std::string::npos; at = log.find("\n" + prefix, at + 1)) ++n;
      return n;
    };
    EXPECT_EQ(Task.ErrorCount(), count("[Error] "));
    EXPECT_EQ(Task.WarningCount(), count("[Warning] "));
  }

  TempDir Dir;
  const std::string OutDir = Dir / "out";
  const std::string LogPath = Dir / "Log.txt";
  const std::string Before = FormatLogTimeStamp();
  TRunRecord Record;
};

}  // namespace

TEST_F(GlyphConvertTaskTest, AnOutputFolderReplacedOrRenamedMidRunIsTheFolderItsPathNames) {
  const std::string a = Source("a.bmp"), b = Source("b.bmp"), c = Source("c.bmp");
  const std::string moved = Dir / "moved";
  varnex_test::OnEachPublishRoute([&] {
    // Deleted and made again after the first file: the new folder receives the rest.
    std::filesystem::remove_all(OutDir);
    TGlyphConvertTask recreated({a, b, c}, kLight, kShadow, OutDir, LogPath);
    bool once = false;
    recreated.OnIdle = [&](TObject*) {
      if (std::exchange(once, true)) return;
      std::filesystem::remove_all(OutDir);
      ForceDirectories(OutDir);
    };
    recreated.Perform();
    EXPECT_EQ(recreated.ErrorCount(), 0) << ReadFileBytes(LogPath);
    EXPECT_FALSE(FileExists(OutDir + "/a.bmp"));
    EXPECT_TRUE(FileExists(OutDir + "/b.bmp"));
    EXPECT_TRUE(FileExists(OutDir + "/c.bmp"));
    // Renamed after the first file: nothing more goes into it, and the rest fail as saves by path.
    std::filesystem::remove_all(OutDir);
    std::filesystem::remove_all(moved);
    TGlyphConvertTask renamed({a, b, c}, kLight, kShadow, OutDir, LogPath);
    once = false;
    renamed.OnIdle = [&](TObject*) {
      if (!std::exchange(once, true)) std::filesystem::rename(OutDir, moved);
    };
    renamed.Perform();
    EXPECT_EQ(renamed.ErrorCount(), 2);
    EXPECT_NE(ReadFileBytes(LogPath).find("[Error] Cannot save glyph to file: " + OutDir + "/b.bmp"), std::string::npos);
    EXPECT_TRUE(FileExists(moved + "/a.bmp"));
    EXPECT_FALSE(FileExists(moved + "/b.bmp"));
    EXPECT_FALSE(FileExists(moved + "/c.bmp"));
  });
}

TEST_F(GlyphConvertTaskTest, EmptyListIntoAMissingDirectory) {
  TGlyphConvertTask task({}, kLight, kShadow, OutDir, LogPath);
  Watch(task);
  task.Perform();
  EXPECT_EQ(MaskedLog(), CrLfLines({"Start time: <time>", "Creates output directory: " + OutDir,
                                "Created output directory: " + OutDir, "Task completed", "Errors: 0", "Warnings: 0",
                                "End time: <time>"}));
  EXPECT_TRUE(DirectoryExists(OutDir));
  EXPECT_EQ(Record.Messages, (std::vector<std::string>{"Started", "Completed"}));
  EXPECT_EQ(Record.Progress, std::vector<int>{100});
  EXPECT_EQ(Record.Idles, 0);
  EXPECT_EQ(task.Position(), 100);
  EXPECT_TRUE(task.Finished());
}

TEST_F(GlyphConvertTaskTest, ExistingDirectoryAndOneFileWithBothColoursInPlace) {
  ForceDirectories(OutDir);
  const std::string a = Source("open.bmp");
  TGlyphConvertTask task({a}, kLight, kShadow, OutDir, LogPath);
  Watch(task);
  task.Perform();
  EXPECT_EQ(MaskedLog(), CrLfLines({"Start time: <time>", "Converts: " + a, "Converted: " + a, "Task completed",
                                "Errors: 0", "Warnings: 0", "End time: <time>"}));
  EXPECT_EQ(Record.Messages, (std::vector<std::string>{"Started", "open.bmp", "Completed"}));
  EXPECT_EQ(Record.Progress, std::vector<int>{100});
  EXPECT_EQ(Record.Idles, 1);
  const std::string out = ReadFileBytes(OutDir + "/open.bmp");
  ASSERT_FALSE(out.empty());
  EXPECT_EQ(PixelOf(out, 0, 0), kInk);
  EXPECT_EQ(PixelOf(out, 2, 0), kShadow);
  EXPECT_EQ(PixelOf(out, 3, 1), kLight);
  EXPECT_EQ(PixelOf(out, 3, 0), kBackground);
}

TEST_F(GlyphConvertTaskTest, FailingSecondFileOfThreeIsLoggedAndTheBatchGoesOn) {
  const std::string a = Source("a.bmp"), c = Source("c.bmp");
  const std::string missing = Dir / "src/a/missing.bmp";
  TGlyphConvertTask task({a, missing, c}, kLight, kShadow, OutDir, LogPath);
  Watch(task);
  task.Perform();
  EXPECT_EQ(MaskedLog(),
            CrLfLines({"Start time: <time>", "Creates output directory: " + OutDir, "Created output directory: " + OutDir,
                   "Converts: " + a, "Converted: " + a, "Converts: " + missing,
                   "[Error] Cannot load glyph from file: " + missing, "Converts: " + c, "Converted: " + c,
                   "Task completed", "Errors: 1", "Warnings: 0", "End time: <time>"}));
  EXPECT_EQ(Record.Progress, (std::vector<int>{33, 66, 100}));
  EXPECT_EQ(Record.Messages, (std::vector<std::string>{"Started", "a.bmp", "missing.bmp", "c.bmp", "Completed"}));
  EXPECT_EQ(Record.Idles, 3);
  EXPECT_EQ(task.ErrorCount(), 1);
  ExpectCountsMatchLog(task);
  EXPECT_TRUE(FileExists(OutDir + "/a.bmp"));
  EXPECT_TRUE(FileExists(OutDir + "/c.bmp"));
  EXPECT_FALSE(FileExists(OutDir + "/missing.bmp"));
}

TEST_F(GlyphConvertTaskTest, CancelAfterTheFirstOfThreeStopsBeforeTheSecond) {
  ForceDirectories(OutDir);
  const std::string a = Source("a.bmp"), b = Source("b.bmp"), c = Source("c.bmp");
  TGlyphConvertTask task({a, b, c}, kLight, kShadow, OutDir, LogPath);
  Watch(task, [&task] { task.Cancel(); });
  task.Perform();
  EXPECT_EQ(MaskedLog(), CrLfLines({"Start time: <time>", "Converts: " + a, "Converted: " + a,
                                "[Warning] Task canceled by user.", "Task canceled", "Errors: 0", "Warnings: 1",
                                "End time: <time>"}));
  EXPECT_EQ(task.Position(), 33);
  EXPECT_EQ(Record.Messages, (std::vector<std::string>{"Started", "a.bmp", "Canceled"}));
  EXPECT_EQ(Record.Cancels, 1);
  EXPECT_EQ(task.WarningCount(), 1);
  ExpectCountsMatchLog(task);
  EXPECT_FALSE(FileExists(OutDir + "/b.bmp"));
  EXPECT_TRUE(task.Finished());
}

TEST_F(GlyphConvertTaskTest, CancelAfterTheLastFileIsNotSeen) {
  ForceDirectories(OutDir);
  const std::string a = Source("a.bmp"), b = Source("b.bmp");
  TGlyphConvertTask task({a, b}, kLight, kShadow, OutDir, LogPath);
  Watch(task, [&task] {
    if (task.Position() == 100) task.Cancel();
  });
  task.Perform();
  EXPECT_EQ(MaskedLog(), CrLfLines({"Start time: <time>", "Converts: " + a, "Converted: " + a, "Converts: " + b,
                                "Converted: " + b, "Task completed", "Errors: 0", "Warnings: 0", "End time: <time>"}));
  EXPECT_TRUE(task.CancelRequested());
  EXPECT_EQ(Record.Messages.back(), "Completed");
}

TEST_F(GlyphConvertTaskTest, CancelBeforePerformDoesNotCancelTheRun) {
  const std::string a = Source("a.bmp");
  TGlyphConvertTask task({a}, kLight, kShadow, OutDir, LogPath);
  Watch(task);
  task.Cancel();
  task.Perform();
  EXPECT_EQ(Record.Cancels, 0);
  EXPECT_EQ(task.Position(), 100);
  EXPECT_EQ(task.WarningCount(), 0);
  EXPECT_TRUE(FileExists(OutDir + "/a.bmp"));
}

TEST_F(GlyphConvertTaskTest, OutputDirectoryThatCannotBeCreatedEndsTheBatch) {
  WriteFileBytes(Dir / "plain", "user data");
  const std::string bad = Dir / "plain/out";
  const std::string a = Source("a.bmp");
  TGlyphConvertTask task({a}, kLight, kShadow, bad, LogPath);
  Watch(task);
  task.Perform();
  EXPECT_EQ(MaskedLog(), CrLfLines({"Start time: <time>", "Creates output directory: " + bad,
                                "[Error] Cannot create output directory: " + bad, "Task canceled", "Errors: 1",
                                "Warnings: 0", "End time: <time>"}));
  EXPECT_EQ(task.Position(), -1);
  EXPECT_TRUE(Record.Progress.empty());
  EXPECT_EQ(Record.Messages, (std::vector<std::string>{"Started", "Canceled"}));
  EXPECT_EQ(ReadFileBytes(Dir / "plain"), "user data");
  ExpectCountsMatchLog(task);
}

TEST_F(GlyphConvertTaskTest, EmptyOutputDirectoryIsAnUnexpectedError) {
  std::string libraryMessage;
  try {
    ForceDirectories("");
  } catch (const Exception& error) {
    libraryMessage = error.Message();
  }
  ASSERT_FALSE(libraryMessage.empty()) << "ForceDirectories(\"\") must raise";
  TGlyphConvertTask task({Source("a.bmp")}, kLight, kShadow, "", LogPath);
  task.Perform();
  EXPECT_EQ(MaskedLog(), CrLfLines({"Start time: <time>", "Creates output directory: ",
                                "[Error] An unexpected error occured: " + libraryMessage, "Task canceled", "Errors: 1",
                                "Warnings: 0", "End time: <time>"}));
  EXPECT_EQ(task.Position(), -1);
}

TEST_F(GlyphConvertTaskTest, LogThatCannotBeCreatedStopsEverything) {
  const std::string a = Source("a.bmp");
  const std::string heldLog = Dir / "held.txt";
  TFileStream holder(heldLog, fmCreate);
  holder.WriteString("another run's log");
  holder.Flush();
  for (const std::string& logPath : {Dir / "missing/Log.txt", Dir.Path(), heldLog}) {
    TGlyphConvertTask task({a}, kLight, kShadow, OutDir, logPath);
    Watch(task);
    EXPECT_THROW_MSG(task.Perform(), EGlyphConvertTaskError, "The program cannot create a log file.");
    EXPECT_FALSE(DirectoryExists(OutDir)) << logPath;
    EXPECT_TRUE(task.FileNames().empty());
    EXPECT_TRUE(Record.Messages.empty());
    EXPECT_TRUE(task.IsRunning());
    EXPECT_EQ(task.ErrorCount(), 0);
  }
  EXPECT_FALSE(FileExists(Dir / "missing/Log.txt"));
  EXPECT_EQ(ReadFileBytes(heldLog), "another run's log");
}

TEST_F(GlyphConvertTaskTest, SamePathTwiceFailsTheSecondTimeAndKeepsTheFirstOutput) {
  const std::string a = Source("open.bmp", "A");
  const std::string b = Source("open.bmp", "B");
  TGlyphConvertTask task({a, b, a}, kLight, kShadow, OutDir, LogPath);
  task.Perform();
  const std::string target = OutDir + "/open.bmp";
  EXPECT_EQ(MaskedLog(),
            CrLfLines({"Start time: <time>", "Creates output directory: " + OutDir, "Created output directory: " + OutDir,
                   "Converts: " + a, "Converted: " + a, "Converts: " + b,
                   "[Error] Output file already exists: " + target, "Converts: " + a,
                   "[Error] Output file already exists: " + target, "Task completed", "Errors: 2", "Warnings: 0",
                   "End time: <time>"}));
  ExpectCountsMatchLog(task);
  EXPECT_EQ(PixelOf(ReadFileBytes(target), 2, 0), kShadow);
}

TEST_F(GlyphConvertTaskTest, LogReplacesThePreviousLogCompletely) {
  WriteFileBytes(LogPath, std::string(100000, '#'));
  ForceDirectories(OutDir);
  TGlyphConvertTask task({}, kLight, kShadow, OutDir, LogPath);
  task.Perform();
  EXPECT_EQ(MaskedLog(), CrLfLines({"Start time: <time>", "Task completed", "Errors: 0", "Warnings: 0",
                                "End time: <time>"}));
}

TEST_F(GlyphConvertTaskTest, EachLineIsOnDiskBeforeTheNextStepBegins) {
  ForceDirectories(OutDir);
  const std::string a = Source("a.bmp"), missing = Dir / "missing.bmp", c = Source("c.bmp");
  TGlyphConvertTask task({a, missing, c}, kLight, kShadow, OutDir, LogPath);
  // What the disk holds when each status text is sent: before the file's conversion starts.
  std::vector<std::string> seen;
  task.OnMessage = [&](TObject*, const std::string&) { seen.push_back(ReadFileBytes(LogPath)); };
  task.Perform();
  ASSERT_EQ(seen.size(), 5u);
  const std::string loadError = "[Error] Cannot load glyph from file: " + missing;
  EXPECT_EQ(varnex_test::MaskLogTimes(seen[0]), CrLfLines({"Start time: <time>"}));
  EXPECT_EQ(varnex_test::MaskLogTimes(seen[1]), CrLfLines({"Start time: <time>", "Converts: " + a}));
  EXPECT_EQ(varnex_test::MaskLogTimes(seen[3]), CrLfLines({"Start time: <time>", "Converts: " + a, "Converted: " + a,
                                                           "Converts: " + missing, loadError, "Converts: " + c}));
  EXPECT_EQ(seen[4].substr(0, seen[3].size()), seen[3]);
  EXPECT_EQ(varnex_test::MaskLogTimes(seen[4].substr(seen[3].size())),
            CrLfLines({"Converted: " + c, "Task completed", "Errors: 1", "Warnings: 0", "End time: <time>"}));
}

TEST_F(GlyphConvertTaskTest, ControlCharactersOfNamesCannotForgeLogLines) {
  ForceDirectories(OutDir);
  const std::string forged = Dir / "x\r\n[Error] y\nTask completed\r\nErrors: 0\x1b]0;t\x07\\n \xC3\xA9.bmp";
  const std::string shown = Dir / "x\\r\\n[Error] y\\nTask completed\\r\\nErrors: 0\\x1b]0;t\\x07\\n \xC3\xA9.bmp";
  TGlyphConvertTask task({forged}, kLight, kShadow, OutDir, LogPath);
  task.Perform();
  EXPECT_EQ(MaskedLog(), CrLfLines({"Start time: <time>", "Converts: " + shown,
                                    "[Error] Cannot load glyph from file: " + shown, "Task completed", "Errors: 1",
                                    "Warnings: 0", "End time: <time>"}));
}

TEST(EscapeControlChars, EveryControlCharacterAndNothingElse) {
  EXPECT_EQ(EscapeControlChars(""), "");
  EXPECT_EQ(EscapeControlChars(std::string("\0\x01\a\b\t\n\v\f\r\x1b\x1f\x7f", 12)),
            "\\x00\\x01\\x07\\x08\\t\\n\\x0b\\x0c\\r\\x1b\\x1f\\x7f");
  // Printable ASCII, a backslash, UTF-8 and bytes that are no UTF-8 at all pass byte for byte.
  const std::string kept = " ~C:\\dir\\x41 \xE2\x82\xAC \xC2\x9B \xFF\x80";
  EXPECT_EQ(EscapeControlChars(kept), kept);
}

TEST_F(GlyphConvertTaskTest, HandlerExceptionsEndTheBatchAsUnexpectedErrors) {
  ForceDirectories(OutDir);
  const std::string a = Source("a.bmp"), b = Source("b.bmp");
  {
    TGlyphConvertTask task({a, b}, kLight, kShadow, OutDir, LogPath);
    task.OnProgress = [](TObject*) { throw EAbort("progress failed"); };
    task.Perform();
    EXPECT_EQ(MaskedLog(), CrLfLines({"Start time: <time>", "Converts: " + a, "Converted: " + a,
                                  "[Error] An unexpected error occured: progress failed", "Task canceled", "Errors: 1",
                                  "Warnings: 0", "End time: <time>"}));
    EXPECT_EQ(task.Position(), 50);
  }
  {
    TGlyphConvertTask task({b}, kLight, kShadow, Dir / "out2", LogPath);
    task.OnIdle = [](TObject*) { throw 42; };
    task.Perform();
    EXPECT_EQ(MaskedLog(), CrLfLines({"Start time: <time>", "Creates output directory: " + Dir / "out2",
                                  "Created output directory: " + Dir / "out2", "Converts: " + b, "Converted: " + b,
                                  "[Error] An unexpected error occured", "Task completed", "Errors: 1",
                                  "Warnings: 0", "End time: <time>"}));
  }
  {
    TGlyphConvertTask task({a}, kLight, kShadow, Dir / "out3", LogPath);
    task.OnProgress = [](TObject*) { throw std::bad_alloc(); };
    task.Perform();
    EXPECT_NE(ReadFileBytes(LogPath).find("\r\n[Error] An unexpected error occured: std::bad_alloc\r\n"),
              std::string::npos);
  }
}

TEST_F(GlyphConvertTaskTest, MessageHandlerExceptionLeavesPerformWithTheLogClosed) {
  const std::string a = Source("a.bmp");
  TGlyphConvertTask task({a}, kLight, kShadow, OutDir, LogPath);
  task.OnMessage = [](TObject*, const std::string&) { throw EAbort("no display"); };
  EXPECT_THROW_MSG(task.Perform(), EAbort, "no display");
  EXPECT_TRUE(task.FileNames().empty());
  EXPECT_EQ(ReadFileBytes(LogPath).rfind("Start time: ", 0), 0u);
  // Closed: a new exclusive stream on the same file succeeds.
  EXPECT_NO_THROW({ TFileStream again(LogPath, fmCreate); });
}

TEST_F(GlyphConvertTaskTest, FailedLogWritesAreIgnored) {
  ForceDirectories(OutDir);
  TGlyphConvertTask task({}, kLight, kShadow, OutDir, LogPath);
  {
    varnex_test::FileSizeLimit limit(20);
    ASSERT_TRUE(limit.Active());
    EXPECT_NO_THROW(task.Perform());
  }
  EXPECT_TRUE(task.Finished());
  EXPECT_EQ(task.Position(), 100);
  EXPECT_LE(ReadFileBytes(LogPath).size(), 20u);
  EXPECT_EQ(ReadFileBytes(LogPath).rfind("Start time: ", 0), 0u);
  EXPECT_TRUE(task.LogWriteFailed());
  TGlyphConvertTask written({}, kLight, kShadow, OutDir, LogPath);
  written.Perform();
  EXPECT_FALSE(written.LogWriteFailed());
}
