#include "base/MemIniFile.h"

#include "base/Exceptions.h"
#include "tests/common/TestSupport.h"

#include <algorithm>
#include <climits>
#include <csignal>
#include <filesystem>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using varnex_test::ReadFileBytes;
using varnex_test::FileSizeLimit;
using varnex_test::TempDir;
using varnex_test::WriteFileBytes;

namespace {

constexpr const char* kLineBreak = "The program cannot write a line break into a INI file.";

TMemIniFile FromText(const std::string& text) {
  TMemIniFile ini("");
  ini.SetText(text);
  return ini;
}

// The names in a directory, so a test can see that no temporary file stayed behind.
std::vector<std::string> DirEntries(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

// ---- Loading ----

TEST(MemIniFileLoad, TrimsLinesAndBothSidesOfTheFirstEquals) {
  const auto ini = FromText("  [ Main ]  \r\n  Left = 10  \n\tTop\t=\t20 = x\r\x01noequals line\x1f\r\n");
  EXPECT_EQ(ini.Text(), "[Main]\r\nLeft=10\r\nTop=20 = x\r\nnoequals line\r\n\r\n");
  EXPECT_EQ(ini.ReadString("Main", "Left", "?"), "10");
  EXPECT_EQ(ini.ReadString("Main", "Top", "?"), "20 = x");
}

TEST(MemIniFileLoad, DropsCommentsEmptyLinesAndLinesBeforeTheFirstSection) {
  const auto ini = FromText("orphan=1\r\nstray\r\n;comment\r\n[A]\r\n  ;k=commented\r\nk=v\r\n\r\n\r\n[B]\r\n");
  EXPECT_EQ(ini.Text(), "[A]\r\nk=v\r\n\r\n[B]\r\n\r\n");
  EXPECT_FALSE(ini.ValueExists("A", "orphan"));
}

TEST(MemIniFileLoad, SplitsAtCrLfLoneCrAndLoneLf) {
  const auto ini = FromText("[S]\ra=1\nb=2\r\nc=3\r\r\nd=4");
  EXPECT_EQ(ini.ReadSection("S"), (TStringList {"a", "b", "c", "d"}));
  EXPECT_EQ(ini.ReadString("S", "d", "?"), "4");
}

TEST(MemIniFileLoad, RecognisesOnlyBracketedLinesAsHeaders) {
  const auto ini = FromText("[S]\r\n[\r\n[x\r\n[]\r\nk=1\r\n[a]]\r\n[q]=1\r\n");
  EXPECT_EQ(ini.ReadSections(), (TStringList {"S", "", "a]"}));
  EXPECT_EQ(ini.Text(), "[S]\r\n[\r\n[x\r\n\r\n[]\r\nk=1\r\n\r\n[a]]\r\n[q]=1\r\n\r\n");
}

TEST(MemIniFileLoad, SkipsAUtf8ByteOrderMark) {
  const auto ini = FromText("\xEF\xBB\xBF[MainForm]\r\nLeft=3\r\n");
  EXPECT_EQ(ini.ReadString("MainForm", "Left", "?"), "3");
}

TEST(MemIniFileLoad, ReadsTheFileGivenToTheConstructor) {
  TempDir dir;
  WriteFileBytes(dir / "a.ini", "[S]\r\n  Left = 10  \r\n");
  TMemIniFile ini(dir / "a.ini");
  EXPECT_EQ(ini.FileName(), dir / "a.ini");
  EXPECT_EQ(ini.ReadString("s", "LEFT", "?"), "10");
}

TEST(MemIniFileLoad, MissingFileEmptyNameAndDirectoryGiveAnEmptyFile) {
  TempDir dir;
  EXPECT_TRUE(TMemIniFile(dir / "missing.ini").ReadSections().empty());
  EXPECT_TRUE(TMemIniFile("").ReadSections().empty());
  EXPECT_TRUE(TMemIniFile(dir.Path()).ReadSections().empty());
  EXPECT_EQ(DirEntries(dir.Path()), std::vector<std::string> {});
}

TEST(MemIniFileLoad, AnExistingFileThatCannotBeOpenedRaisesTheFileErrorWithoutWaiting) {
  TempDir dir;
  const std::string socketPath = dir / "sock.ini";
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un address {};
  address.sun_family = AF_UNIX;
  ASSERT_LT(socketPath.size(), sizeof address.sun_path);
  std::copy(socketPath.begin(), socketPath.end(), address.sun_path);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  EXPECT_THROW_MSG(TMemIniFile ini(socketPath), EFOpenError, "Cannot open file \"" + socketPath + "\"");
  ::close(fd);
  // A named pipe would block a plain open until a writer came.
  const std::string fifo = dir / "pipe.ini";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_THROW_MSG(TMemIniFile ini(fifo), EFOpenError, "Cannot open file \"" + fifo + "\"");
}

// ---- Lookups and writes ----

TEST(MemIniFileLookup, MatchesSectionsAndKeysInAnyLetterCase) {
  const auto ini = FromText("[MainForm]\r\nLeft=10\r\nEmpty=\r\n");
  EXPECT_EQ(ini.ReadString("MAINFORM", "left", "?"), "10");
  EXPECT_TRUE(ini.ValueExists("mainform", "LEFT"));
  EXPECT_TRUE(ini.SectionExists("mainFORM"));
  EXPECT_TRUE(ini.ValueExists("MainForm", "Empty"));
  EXPECT_EQ(ini.ReadString("MainForm", "Empty", "?"), "");
  EXPECT_EQ(ini.ReadString("MainForm", "Top", "dflt"), "dflt");
  EXPECT_EQ(ini.ReadString("Other", "Left", "dflt"), "dflt");
  EXPECT_FALSE(ini.ValueExists("Other", "Left"));
  EXPECT_FALSE(ini.SectionExists("Main"));
}

TEST(MemIniFileLookup, FoldsOnlyAsciiLetters) {
  const auto ini = FromText("[\xC3\xA4]\r\nK=1\r\n");
  EXPECT_TRUE(ini.SectionExists("\xC3\xA4"));
  EXPECT_FALSE(ini.SectionExists("\xC3\x84"));
}

TEST(MemIniFileLookup, LinesWithoutEqualsAreNotKeys) {
  auto ini = FromText("[S]\r\nLeft\r\n");
  EXPECT_FALSE(ini.ValueExists("S", "Left"));
  ini.WriteString("S", "Left", "1");
  EXPECT_EQ(ini.Text(), "[S]\r\nLeft\r\nLeft=1\r\n\r\n");
}

TEST(MemIniFileLookup, TheValueIsEverythingAfterTheFirstEquals) {
  const auto ini = FromText("[S]\r\na=b=c\r\n");
  EXPECT_EQ(ini.ReadString("S", "a", "?"), "b=c");
  EXPECT_FALSE(ini.ValueExists("S", "a=b"));
}

TEST(MemIniFileWrite, ReplacesInPlaceWithTheGivenSpellingAndAppendsNewKeysAndSections) {
  auto ini = FromText("[S]\r\na=1\r\nB=2\r\nc=3\r\n[T]\r\nx=0\r\n");
  ini.WriteString("s", "b", "two");
  ini.WriteString("S", "d", "4");
  ini.WriteString("New", "k", "");
  EXPECT_EQ(ini.Text(), "[S]\r\na=1\r\nb=two\r\nc=3\r\nd=4\r\n\r\n[T]\r\nx=0\r\n\r\n[New]\r\nk=\r\n\r\n");
}

TEST(MemIniFileWrite, DuplicateSectionsActAsOneAndDuplicateKeysAreFoundFirst) {
  auto ini = FromText("[S]\r\na=1\r\na=2\r\n[T]\r\n[s]\r\na=3\r\nb=4\r\n");
  EXPECT_EQ(ini.ReadString("S", "a", "?"), "1");
  EXPECT_EQ(ini.ReadString("S", "b", "?"), "4");
  EXPECT_EQ(ini.ReadSections(), (TStringList {"S", "T"}));
  EXPECT_EQ(ini.ReadSection("S"), (TStringList {"a", "b"}));
  ini.WriteString("S", "a", "9");
  ini.WriteString("S", "b", "8");
  ini.WriteString("S", "c", "7");
  EXPECT_EQ(ini.ReadString("S", "a", "?"), "9");
  EXPECT_EQ(ini.Text(), "[S]\r\na=9\r\na=2\r\nc=7\r\n\r\n[T]\r\n\r\n[s]\r\na=3\r\nb=8\r\n\r\n");
  ini.DeleteKey("S", "A");
  EXPECT_FALSE(ini.ValueExists("S", "a"));
  EXPECT_EQ(ini.Text(), "[S]\r\nc=7\r\n\r\n[T]\r\n\r\n[s]\r\nb=8\r\n\r\n");
  ini.EraseSection("s");
  EXPECT_EQ(ini.Text(), "[T]\r\n\r\n");
}

TEST(MemIniFileWrite, RefusesALineBreakAndLeavesTheContentUnchanged) {
  auto ini = FromText("[S]\r\nk=old\r\n");
  const std::string before = ini.Text();
  EXPECT_THROW_MSG(ini.WriteString("S", "k", "a\r\n[Evil]\r\nx=1"), EIniFileException, kLineBreak);
  EXPECT_THROW_MSG(ini.WriteString("S", "k", "a\nb"), EIniFileException, kLineBreak);
  EXPECT_THROW_MSG(ini.WriteString("S", "new\rkey", "v"), EIniFileException, kLineBreak);
  EXPECT_THROW_MSG(ini.WriteString("S]\r\n[T", "k", "v"), EIniFileException, kLineBreak);
  EXPECT_THROW_MSG(ini.WriteInteger("New\n", "k", 1), EIniFileException, kLineBreak);
  EXPECT_EQ(ini.Text(), before);
  EXPECT_EQ(ini.ReadString("S", "k", "?"), "old");
}

TEST(MemIniFileWrite, WriteIntegerStoresPlainDecimal) {
  TMemIniFile ini("");
  ini.WriteInteger("S", "a", -5);
  ini.WriteInteger("S", "b", INT_MIN);
  ini.WriteInteger("S", "c", INT_MAX);
  ini.WriteInteger("S", "d", 0);
  EXPECT_EQ(ini.Text(), "[S]\r\na=-5\r\nb=-2147483648\r\nc=2147483647\r\nd=0\r\n\r\n");
}

// ---- The 32-bit integer grammar, through ReadInteger ----

struct TIntCase {
  const char* Text;
  int Expected;
};

constexpr int kDefault = -777;

TEST(MemIniFileReadInteger, AcceptsDecimalAndTheThreeHexForms) {
  const TIntCase cases[] = {
      {"0", 0},           {"123", 123},          {"+5", 5},
      {"-5", -5},         {"   42", 42},         {"010", 10},
      {"2147483647", INT_MAX},                   {"-2147483648", INT_MIN},
      {"$FF", 255},       {"$ff", 255},          {"x1F", 31},
      {"X1f", 31},        {"0x1F", 31},          {"0X1F", 31},
      {"-$10", 16},       {"+$10", 16},          {" -0x10", 16},
      {"-x10", 16},       {"$FFFFFFFF", -1},     {"$80000000", INT_MIN},
      {"$0FFFFFFFF", -1}, {"$000000000001", 1},  {"0x1", 1},
      {"-0", 0},
  };
  for (const auto& c : cases) {
    TMemIniFile ini("");
    ini.WriteString("S", "K", c.Text);
    EXPECT_EQ(ini.ReadInteger("S", "K", kDefault), c.Expected) << "text '" << c.Text << "'";
  }
}

TEST(MemIniFileReadInteger, FallsBackToTheDefaultOnEveryMalformedText) {
  const char* rejected[] = {"",     " ",         "-",           "+",          "$",    "x",     "0x",
                            "0X",   "$100000000", "2147483648", "-2147483649", "21474836470",
                            "12 ",  "\t12",      "1 2",         "12a",        "$FG",  "--1",   "+-1",
                            "- 1",  "0x-1",      "$-1",         "1.0",        "1e3",  "0x 1",  "$ 1"};
  for (const char* text : rejected) {
    TMemIniFile ini("");
    ini.WriteString("S", "K", text);
    EXPECT_EQ(ini.ReadInteger("S", "K", kDefault), kDefault) << "text '" << text << "'";
  }
  EXPECT_EQ(TMemIniFile("").ReadInteger("S", "Absent", kDefault), kDefault);
}

// ---- Writing the file ----

TEST(MemIniFileUpdate, WritesSectionsInOrderWithCrLfAndNoByteOrderMark) {
  TempDir dir;
  TMemIniFile ini(dir / "Settings.ini");
  ini.WriteInteger("MainForm", "Left", 10);
  ini.WriteString("MainForm", "OutputDir", "\"/tmp/out\"");
  ini.WriteString("System", "CurrentDir", "\"/\"");
  ini.UpdateFile();
  EXPECT_EQ(ReadFileBytes(dir / "Settings.ini"),
            "[MainForm]\r\nLeft=10\r\nOutputDir=\"/tmp/out\"\r\n\r\n[System]\r\nCurrentDir=\"/\"\r\n\r\n");
}

TEST(MemIniFileUpdate, ClearThenUpdateLeavesAnEmptyFile) {
  TempDir dir;
  WriteFileBytes(dir / "a.ini", "[S]\r\nk=v\r\n");
  TMemIniFile ini(dir / "a.ini");
  ini.Clear();
  EXPECT_TRUE(ini.ReadSections().empty());
  ini.UpdateFile();
  EXPECT_TRUE(std::filesystem::exists(dir / "a.ini"));
  EXPECT_EQ(ReadFileBytes(dir / "a.ini"), "");
}

TEST(MemIniFileUpdate, CommentsAndStrayLinesAreGoneAfterTheNextUpdate) {
  TempDir dir;
  WriteFileBytes(dir / "a.ini", "stray\r\n; note\r\n[S]\r\n  Left = 10  \r\n;x\r\n");
  TMemIniFile(dir / "a.ini").UpdateFile();
  EXPECT_EQ(ReadFileBytes(dir / "a.ini"), "[S]\r\nLeft=10\r\n\r\n");
  const std::string once = ReadFileBytes(dir / "a.ini");
  TMemIniFile(dir / "a.ini").UpdateFile();
  EXPECT_EQ(ReadFileBytes(dir / "a.ini"), once);
}

TEST(MemIniFileUpdate, NothingIsWrittenWithoutUpdateFile) {
  TempDir dir;
  WriteFileBytes(dir / "a.ini", "[S]\nk=v\n");
  {
    TMemIniFile ini(dir / "a.ini");
    ini.WriteString("S", "k", "changed");
    ini.Clear();
  }
  EXPECT_EQ(ReadFileBytes(dir / "a.ini"), "[S]\nk=v\n");
}

TEST(MemIniFileUpdate, ReplacesTheFileALinkPointsToAndKeepsTheLink) {
  TempDir dir;
  WriteFileBytes(dir / "real.ini", "[S]\r\nk=old\r\n");
  std::filesystem::create_symlink(dir / "real.ini", dir / "link.ini");
  TMemIniFile ini(dir / "link.ini");
  ini.WriteString("S", "k", "new");
  ini.UpdateFile();
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.ini"));
  EXPECT_EQ(ReadFileBytes(dir / "real.ini"), "[S]\r\nk=new\r\n\r\n");
}

TEST(MemIniFileUpdate, AFileThatCannotBeCreatedRaisesTheFileError) {
  TempDir dir;
  WriteFileBytes(dir / "plain", "x");
  TMemIniFile ini(dir / "plain/Settings.ini");
  ini.WriteString("S", "k", "v");
  EXPECT_THROW(ini.UpdateFile(), EFCreateError);
  EXPECT_THROW(TMemIniFile("").UpdateFile(), EStreamError);
  EXPECT_EQ(DirEntries(dir.Path()), std::vector<std::string> {"plain"});
  EXPECT_EQ(ReadFileBytes(dir / "plain"), "x");
}

TEST(MemIniFileUpdate, AFullDiskKeepsTheOldFileWholeAndLeavesNoTemporaryFile) {
  TempDir dir;
  const std::string old = "[S]\r\nk=the old content that must survive\r\n";
  WriteFileBytes(dir / "Settings.ini", old);
  TMemIniFile ini(dir / "Settings.ini");
  ini.WriteString("S", "k", std::string(4096, 'n'));
  {
    FileSizeLimit limit(64);
    ASSERT_TRUE(limit.Active());
    EXPECT_THROW(ini.UpdateFile(), EStreamError);
  }
  EXPECT_EQ(ReadFileBytes(dir / "Settings.ini"), old);
  EXPECT_EQ(DirEntries(dir.Path()), std::vector<std::string> {"Settings.ini"});
  ini.UpdateFile();
  EXPECT_EQ(TMemIniFile(dir / "Settings.ini").ReadString("S", "k", ""), std::string(4096, 'n'));
}
