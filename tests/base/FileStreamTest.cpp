#include "base/FileStream.h"

#include "base/Exceptions.h"
#include "base/SysUtils.h"
#include "tests/common/TestSupport.h"

#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using varnex_test::ReadFileBytes;
using varnex_test::FileSizeLimit;
using varnex_test::TempDir;
using varnex_test::WriteFileBytes;

}  // namespace

TEST(FileStreamTest, CreateWritesBytesUnchangedAndReplacesOldContent) {
  TempDir dir;
  const std::string path = dir / "log.txt";
  WriteFileBytes(path, std::string(1000, 'x'));
  const std::string bytes = std::string("line one\r\nline\0two\r\n\xff\xfe", 22);
  {
    TFileStream stream(path, fmCreate);
    stream.WriteString(bytes.substr(0, 10));
    stream.WriteBuffer(bytes.data() + 10, bytes.size() - 10);
    EXPECT_EQ(stream.Position(), bytes.size());
    EXPECT_EQ(stream.FileName(), path);
  }
  EXPECT_EQ(ReadFileBytes(path), bytes);
}

TEST(FileStreamTest, FlushMakesTheContentVisibleWhileOpen) {
  TempDir dir;
  const std::string path = dir / "log.txt";
  TFileStream stream(path, fmCreate);
  stream.WriteString("abc");
  stream.Flush();
  EXPECT_EQ(ReadFileBytes(path), "abc");
  stream.WriteString("def");
  stream.Flush();
  EXPECT_EQ(ReadFileBytes(path), "abcdef");
}

TEST(FileStreamTest, WritesLargerThanTheBufferKeepTheirOrder) {
  TempDir dir;
  const std::string path = dir / "big.bin";
  std::string expected;
  {
    TFileStream stream(path, fmCreate);
    for (int i = 0; i < 3000; ++i) {
      const std::string line = "Converts: /some/path/file" + std::to_string(i) + ".bmp\r\n";
      stream.WriteString(line);
      expected += line;
    }
    const std::string block(200 * 1024, 'b');
    stream.WriteString(block);
    expected += block;
    stream.WriteString("tail");
    expected += "tail";
  }
  EXPECT_EQ(ReadFileBytes(path), expected);
}

TEST(FileStreamTest, CreateFailuresRaiseEFCreateErrorNamingTheFile) {
  TempDir dir;
  WriteFileBytes(dir / "plain", "keep");
  const std::string missing = dir / "no/such/dir/log.txt";
  const std::string underFile = dir / "plain/log.txt";
  for (const std::string& path : {missing, underFile, dir.Path(), std::string()}) {
    try {
      TFileStream stream(path, fmCreate);
      ADD_FAILURE() << "created " << path;
    } catch (const EFCreateError& error) {
      EXPECT_EQ(error.Message().rfind("Cannot create file \"" + path + "\". ", 0), 0u) << error.Message();
    }
  }
  EXPECT_EQ(ReadFileBytes(dir / "plain"), "keep");
}

TEST(FileStreamTest, AFileHeldExclusivelyIsNeitherOpenedNorEmptiedBySecondStream) {
  TempDir dir;
  const std::string path = dir / "log.txt";
  TFileStream first(path, fmCreate);
  first.WriteString("first run");
  first.Flush();
  EXPECT_THROW({ TFileStream second(path, fmCreate); }, EFCreateError);
  EXPECT_EQ(ReadFileBytes(path), "first run");
}

TEST(FileStreamTest, FullDiskRaisesEWriteErrorAndLaterWritesStillWork) {
  TempDir dir;
  const std::string path = dir / "log.txt";
  TFileStream stream(path, fmCreate);
  {
    FileSizeLimit limit(16);
    stream.WriteString(std::string(64, 'a'));
    EXPECT_FALSE(stream.WriteFailed());
    EXPECT_THROW_MSG(stream.Flush(), EWriteError, "Stream write error");
    EXPECT_TRUE(stream.WriteFailed());
    EXPECT_THROW_MSG(stream.WriteString(std::string(100 * 1024, 'c')), EWriteError, "Stream write error");
  }
  // The failed bytes are dropped; the stream goes on once space is back.
  stream.WriteString("zz");
  stream.Flush();
  const std::string content = ReadFileBytes(path);
  ASSERT_GE(content.size(), 2u);
  EXPECT_EQ(content.substr(content.size() - 2), "zz");
  EXPECT_LE(content.size(), 16u + 2u);
  EXPECT_TRUE(stream.WriteFailed());
}

TEST(FileStreamTest, ClosingWithAFailedWriteDoesNotThrow) {
  TempDir dir;
  FileSizeLimit limit(4);
  EXPECT_NO_THROW({
    TFileStream stream(dir / "log.txt", fmCreate);
    stream.WriteString("more than four bytes");
  });
}

TEST(FileStreamTest, ACharacterDeviceCanBeTheTarget) {
  TFileStream stream("/dev/null", fmCreate);
  stream.WriteString("discarded");
  EXPECT_NO_THROW(stream.Flush());
}

TEST(FileStreamTest, LinksAreWrittenThroughInPlaceAndNeverReplaced) {
  TempDir dir;
  const std::string target = dir / "earlier.txt", link = dir / "log.txt", hard = dir / "hard.txt";
  WriteFileBytes(target, "an earlier, longer log");
  ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
  ASSERT_EQ(::link(target.c_str(), hard.c_str()), 0);
  for (const std::string& path : {link, hard}) {
    TFileStream stream(path, fmCreate);
    stream.WriteString("log of " + path);
    stream.Flush();
    EXPECT_EQ(ReadFileBytes(target), "log of " + path);
  }
  struct stat st {};
  ASSERT_EQ(::lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(::stat(hard.c_str(), &st), 0);
  EXPECT_EQ(st.st_nlink, 2u) << "the hard link was split";
  // A link whose target is missing is refused; nothing is created through it.
  const std::string dangling = dir / "dangling.txt";
  ASSERT_EQ(::symlink((dir / "nowhere.txt").c_str(), dangling.c_str()), 0);
  EXPECT_THROW_MSG({ TFileStream stream(dangling, fmCreate); }, EFCreateError,
                   "Cannot create file \"" + dangling + "\". No such file or directory");
  EXPECT_FALSE(FileExists(dir / "nowhere.txt"));
  ASSERT_EQ(::lstat(dangling.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  // A link to standard output, as /dev/stdout is, is written through and stays a link.
  const std::string out = dir / "stdout";
  ASSERT_EQ(::symlink("/proc/self/fd/1", out.c_str()), 0);
  { TFileStream stream(out, fmCreate); }
  ASSERT_EQ(::lstat(out.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
}

TEST(FileStreamTest, AnotherProcessLockingTheFileCannotKeepTheStreamOut) {
  // Anyone who can read the file can take a lock on it; the stream does not depend on that.
  TempDir dir;
  const std::string path = dir / "log.txt";
  WriteFileBytes(path, "");
  const int reader = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  ASSERT_EQ(::flock(reader, LOCK_SH), 0);
  EXPECT_NO_THROW({
    TFileStream stream(path, fmCreate);
    stream.WriteString("run");
  });
  ::close(reader);
  EXPECT_EQ(ReadFileBytes(path), "run");
}

TEST(FileStreamTest, ALinkTheKernelRefusesToFollowIsACreateError) {
  // In a sticky, world-writable folder the kernel follows only the links of the folder's
  // owner or of the follower; another user's link there cannot redirect the log.
  if (::geteuid() != 0) GTEST_SKIP() << "giving a link to another user needs root";
  if (ReadFileBytes("/proc/sys/fs/protected_symlinks").rfind('1', 0) != 0) GTEST_SKIP() << "protected_symlinks off";
  TempDir dir;
  const std::string shared = dir / "shared", target = dir / "precious.txt", link = dir / "shared/log.txt";
  ASSERT_EQ(::mkdir(shared.c_str(), 0777), 0);
  ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);
  ASSERT_EQ(::chown(shared.c_str(), 65534, 65534), 0);
  WriteFileBytes(target, "precious");
  ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
  ASSERT_EQ(::lchown(link.c_str(), 65533, 65533), 0);
  EXPECT_THROW_MSG({ TFileStream stream(link, fmCreate); }, EFCreateError,
                   "Cannot create file \"" + link + "\". Permission denied");
  EXPECT_EQ(ReadFileBytes(target), "precious");
}
