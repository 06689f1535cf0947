#include "base/FileIO.h"

#include "base/Exceptions.h"
#include "base/SysUtils.h"
#include "tests/common/KilledSave.h"
#include "tests/common/TestSupport.h"

#include <fcntl.h>
#include <sys/time.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <set>
#include <thread>

using varnex_test::ReadFileBytes;
using varnex_test::TempDir;
using varnex_test::WriteFileBytes;

namespace {

std::set<std::string> Names(const std::string& Dir) {
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(Dir)) names.insert(e.path().filename().string());
  return names;
}

struct stat StatOf(const std::string& Path) {
  struct stat st {};
  EXPECT_EQ(::stat(Path.c_str(), &st), 0) << Path;
  return st;
}

}  // namespace

TEST(BoundedReader, ReadsRegularFilesAndRefusesEverythingElseWithoutReading) {
  TempDir dir;
  WriteFileBytes(dir / "f", "0123456789");
  EXPECT_EQ(ReadFileBounded(dir / "f", 10), "0123456789");
  EXPECT_THROW_MSG(ReadFileBounded(dir / "f", 9), EReadError,
                   "Cannot read file \"" + (dir / "f") + "\". The file is too large");
  const TFileReader reader(dir / "f");
  char part[4] = {};
  reader.ReadAt(6, part, 4);
  EXPECT_EQ(std::string(part, 4), "6789");
  // Nothing past the size the file had when it was opened.
  EXPECT_THROW(reader.ReadAt(8, part, 4), EReadError);
  EXPECT_THROW(TFileReader(dir / "missing"), EFOpenError);
  EXPECT_THROW(TFileReader(dir.Path()), EReadError);
  EXPECT_THROW_MSG(TFileReader("/dev/zero"), EFOpenError, "Cannot open file \"/dev/zero\". Not a regular file");
  // A pipe whose writer stays open but never writes, reached through a link: refused at
  // once; the alarm ends the test program should it block.
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
  ASSERT_EQ(::symlink("pipe", (dir / "link").c_str()), 0);
  const int writer = ::open((dir / "pipe").c_str(), O_RDWR | O_NONBLOCK);
  ASSERT_GE(writer, 0);
  ::alarm(20);
  EXPECT_THROW(ReadFileBounded(dir / "link", 1 << 20), EFOpenError);
  ::alarm(0);
  ::close(writer);
}

TEST(BoundedReader, ScatteredReadsFillEveryPartInOrder) {
  TempDir dir;
  std::string content;
  for (int i = 0; i < 5000; ++i) content += static_cast<char>('a' + i % 26);
  WriteFileBytes(dir / "f", content);
  const TFileReader reader(dir / "f");
  // More parts than one system call takes, and empty ones among them.
  std::vector<std::string> parts(2000);
  std::vector<iovec> io;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    parts[i].assign(i % 3, '?');
    io.push_back({parts[i].data(), parts[i].size()});
  }
  reader.ReadAt(7, io.data(), io.size());
  std::string joined;
  for (const auto& p : parts) joined += p;
  EXPECT_EQ(joined, content.substr(7, joined.size()));
}

extern "C" void IgnoreAlarm(int) {}

TEST(GatheredWrite, EveryPartArrivesInOrderAcrossShortWrites) {
  // A pipe read slowly, and a timer whose signal breaks off each write that has made some
  // progress: the writes come back short and resume inside a part. A list longer than one
  // call takes goes in several calls.
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  std::string expected;
  std::vector<std::string> parts;
  for (int i = 0; i < 1500; ++i) {
    // Bytes that differ along each part, so a resumed write starting at the wrong byte shows.
    parts.emplace_back();
    for (int k = 0; k < i % 7 * 300; ++k) parts.back() += static_cast<char>((i * 7 + k) % 251);
  }
  std::vector<iovec> io;
  for (std::string& part : parts) {
    io.push_back({part.data(), part.size()});
    expected += part;
  }
  std::string received;
  std::thread reader([&] {
    // The timer's signal is meant for the writer.
    sigset_t alarmOnly;
    sigemptyset(&alarmOnly);
    sigaddset(&alarmOnly, SIGALRM);
    ::pthread_sigmask(SIG_BLOCK, &alarmOnly, nullptr);
    char buffer[4096];
    for (ssize_t n; (n = ::read(ends[0], buffer, sizeof buffer)) != 0;) {
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) break;
      received.append(buffer, static_cast<std::size_t>(n));
      std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
  });
  struct sigaction alarm {}, previous {};
  alarm.sa_handler = IgnoreAlarm;  // no SA_RESTART: a write with progress returns short
  ASSERT_EQ(::sigaction(SIGALRM, &alarm, &previous), 0);
  const itimerval every{{0, 300}, {0, 300}};
  ::setitimer(ITIMER_REAL, &every, nullptr);
  EXPECT_TRUE(FileWriteAllV(ends[1], io.data(), 3));
  EXPECT_TRUE(FileWriteAllV(ends[1], io.data() + 3, 1000));  // one call's worth of parts, 900 KB
  EXPECT_TRUE(FileWriteAllV(ends[1], io.data() + 1003, io.size() - 1003));
  const itimerval off{};
  ::setitimer(ITIMER_REAL, &off, nullptr);
  ::sigaction(SIGALRM, &previous, nullptr);
  ::close(ends[1]);
  reader.join();
  ::close(ends[0]);
  EXPECT_EQ(received, expected);
  // A closed reader fails the write instead of losing bytes quietly.
  ASSERT_EQ(::pipe(ends), 0);
  ::close(ends[0]);
  const auto pipeAction = std::signal(SIGPIPE, SIG_IGN);
  EXPECT_FALSE(FileWriteAllV(ends[1], io.data(), io.size()));
  std::signal(SIGPIPE, pipeAction);
  ::close(ends[1]);
}

TEST(NewFile, ReplacingKeepsModeAndOwnerAndNoReplaceLeavesTheOldFile) {
  TempDir dir;
  WriteFileBytes(dir / "private.ini", "old");
  ASSERT_EQ(::chmod((dir / "private.ini").c_str(), 0600), 0);
  WriteFileSafely(dir / "private.ini", "new", 3, true, true);
  EXPECT_EQ(ReadFileBytes(dir / "private.ini"), "new");
  EXPECT_EQ(StatOf(dir / "private.ini").st_mode & 07777, 0600u);
  WriteFileBytes(dir / "log", "log text");
  WriteFileBytes(dir / "shared", "older");
  ASSERT_EQ(::chmod((dir / "shared").c_str(), 0640), 0);
  // Where the process may give files away (the tests run as root), the owner carries over too.
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::chown((dir / "shared").c_str(), 4321, 4321), 0);
  }
  ASSERT_TRUE(CopyFile(dir / "log", dir / "shared", false));
  EXPECT_EQ(ReadFileBytes(dir / "shared"), "log text");
  EXPECT_EQ(StatOf(dir / "shared").st_mode & 07777, 0640u);
  if (root) {
    EXPECT_EQ(StatOf(dir / "shared").st_uid, 4321u);
  }
  // A new file is not published over an existing one, and no trace of it remains.
  EXPECT_THROW(WriteFileSafely(dir / "shared", "x", 1, false, false), EFileExists);
  EXPECT_EQ(ReadFileBytes(dir / "shared"), "log text");
  EXPECT_EQ(Names(dir.Path()), (std::set<std::string>{"private.ini", "log", "shared"}));
}

TEST(NewFile, IsInvisibleUntilCommittedAndGoneWhenAbandoned) {
  TempDir dir;
  {
    TNewFile file(dir / "g.bmp", false, false);
    file.Write("abc", 3);
    EXPECT_FALSE(std::filesystem::exists(dir / "g.bmp"));
    file.Commit();
  }
  EXPECT_EQ(ReadFileBytes(dir / "g.bmp"), "abc");
  {
    TNewFile file(dir / "h.bmp", true, false);
    file.Write("partial", 7);
  }
  EXPECT_EQ(Names(dir.Path()), std::set<std::string>{"g.bmp"});
}

TEST(NewFile, RemovesOnlyTemporariesThatThisUserSaveLeftAndNoWriterHolds) {
  TempDir dir;
  varnex_test::LeaveKilledSave(dir / "k.bmp");
  std::string stale;
  for (const std::string& name : Names(dir.Path()))
    if (name != "k.bmp") stale = name;
  ASSERT_FALSE(stale.empty());
  // The placeholder is empty, so it never passes for a finished file.
  EXPECT_EQ(ReadFileBytes(dir / "k.bmp"), "");
  // Look-alikes: of the old naming, with this user's mark but held by a writer, or owned by someone else.
  const std::string marked = stale.substr(0, stale.rfind('-'));
  for (const std::string& name : {std::string(".g.bmp.1-12.vxtmp"), marked + "-900.vxtmp", marked + "-901.vxtmp"})
    WriteFileBytes(dir / name, "mine");
  const int held = ::open((dir / (marked + "-900.vxtmp")).c_str(), O_RDONLY);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  std::set<std::string> kept = {"k.bmp", ".g.bmp.1-12.vxtmp", marked + "-900.vxtmp"};
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown((dir / (marked + "-901.vxtmp")).c_str(), 4321, 4321), 0);
    kept.insert(marked + "-901.vxtmp");
  }
  RemoveStaleTemporaries(dir.Path());
  EXPECT_EQ(Names(dir.Path()), kept);
  ::close(held);
}

TEST(NewFile, TheFallbackClaimsTheNameWithAnEmptyPlaceholderAndReplacesOnlyThat) {
  TempDir dir;
  ::setenv("VARNEX_PUBLISH_FALLBACK", "1", 1);
  {
    TNewFile file(dir / "g.bmp", false, false);
    file.Write("abc", 3);
    EXPECT_EQ(ReadFileBytes(dir / "g.bmp"), "");
    file.Commit();
  }
  EXPECT_EQ(ReadFileBytes(dir / "g.bmp"), "abc");
  // A taken name, a dangling link too, is refused before anything is written; nothing is left.
  ASSERT_EQ(::symlink("nowhere", (dir / "link.bmp").c_str()), 0);
  EXPECT_THROW(TNewFile(dir / "g.bmp", false, false), EFileExists);
  EXPECT_THROW(TNewFile(dir / "link.bmp", false, false), EFileExists);
  {
    TNewFile abandoned(dir / "h.bmp", false, false);
    abandoned.Write("partial", 7);
  }
  ::unsetenv("VARNEX_PUBLISH_FALLBACK");
  EXPECT_EQ(ReadFileBytes(dir / "g.bmp"), "abc");
  EXPECT_EQ(Names(dir.Path()), (std::set<std::string>{"g.bmp", "link.bmp"}));
}

TEST(NewFile, ACleanerRunningMeanwhileCostsNoFileOnEitherRoute) {
  varnex_test::OnEachPublishRoute([] {
    TempDir dir;
    std::atomic<bool> done{false};
    std::thread cleaner([&] {
      while (!done) RemoveStaleTemporaries(dir.Path());
    });
    int failures = 0;
    constexpr int kFiles = 1500;
    for (int i = 0; i < kFiles; ++i) {
      try {
        WriteFileSafely(dir / ("g" + std::to_string(i) + ".bmp"), "glyph", 5, false, false);
      } catch (const EStreamError&) {
        ++failures;
      }
    }
    done = true;
    cleaner.join();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(Names(dir.Path()).size(), static_cast<std::size_t>(kFiles));
  });
}

TEST(NewFile, EachSaveGoesToTheFolderItsPathNamesNow) {
  TempDir dir;
  const std::string out = dir / "out", moved = dir / "moved";
  ASSERT_EQ(::mkdir(out.c_str(), 0700), 0);
  const auto publish = [](const std::string& Path) {
    TNewFile file(Path, false, false);
    file.Write("new", 3);
    file.Commit();
  };
  varnex_test::OnEachPublishRoute([&] {
    publish(out + "/a.bmp");
    // The folder is renamed and another takes its name: the next save goes to the new one.
    ASSERT_EQ(::rename(out.c_str(), moved.c_str()), 0);
    ASSERT_EQ(::mkdir(out.c_str(), 0700), 0);
    publish(out + "/b.bmp");
    EXPECT_EQ(Names(moved), (std::set<std::string>{"a.bmp"}));
    EXPECT_EQ(Names(out), (std::set<std::string>{"b.bmp"}));
    // A removed folder refuses new files rather than sending them anywhere else.
    std::filesystem::remove_all(out);
    std::filesystem::remove_all(moved);
    EXPECT_THROW(publish(out + "/c.bmp"), EFCreateError);
    ASSERT_EQ(::mkdir(out.c_str(), 0700), 0);
  });
}
