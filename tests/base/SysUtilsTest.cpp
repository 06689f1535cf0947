#include "base/SysUtils.h"

#include "base/Exceptions.h"
#include "base/FileIO.h"
#include "tests/common/TestSupport.h"

#include <sys/stat.h>

using varnex_test::ReadFileBytes;
using varnex_test::TempDir;
using varnex_test::WriteFileBytes;

TEST(PathNames, UseSlashOnlyAndKeepColons) {
  EXPECT_EQ(ExtractFileName("/src/a/open.bmp"), "open.bmp");
  EXPECT_EQ(ExtractFileName("C:open.bmp"), "C:open.bmp");
  EXPECT_EQ(ExtractFileName("dir\\open.bmp"), "dir\\open.bmp");
  EXPECT_EQ(ExtractFileName("/src/"), "");
  EXPECT_EQ(ExtractFilePath("/src/a/open.bmp"), "/src/a/");
  EXPECT_EQ(ExtractFileDir("/src/a/open.bmp"), "/src/a");
  EXPECT_EQ(ExtractFileDir("/prog"), "/");
  EXPECT_EQ(IncludeTrailingPathDelimiter("/out"), "/out/");
  EXPECT_EQ(IncludeTrailingPathDelimiter("/out/"), "/out/");
  EXPECT_EQ(IncludeTrailingPathDelimiter(""), "/");
}

TEST(FilesAndDirectories, ExistenceCreationAndDeletion) {
  TempDir dir;
  EXPECT_FALSE(FileExists(dir.Path()));
  EXPECT_TRUE(DirectoryExists(dir.Path()));
  WriteFileBytes(dir / "f", "x");
  EXPECT_TRUE(FileExists(dir / "f"));
  EXPECT_FALSE(DirectoryExists(dir / "f"));
  EXPECT_TRUE(ForceDirectories(dir / "a/b/c/"));
  EXPECT_TRUE(DirectoryExists(dir / "a/b/c"));
  EXPECT_FALSE(ForceDirectories(dir / "f/sub"));
  EXPECT_THROW(ForceDirectories(""), EInOutError);
  EXPECT_TRUE(DeleteFile(dir / "f"));
  EXPECT_FALSE(DeleteFile(dir / "f"));
  EXPECT_FALSE(DeleteFile(dir / "a"));
}

TEST(FilesAndDirectories, CopyReplacesOrRefuses) {
  TempDir dir;
  WriteFileBytes(dir / "src", "new");
  WriteFileBytes(dir / "dst", "old");
  EXPECT_FALSE(CopyFile(dir / "src", dir / "dst", true));
  EXPECT_EQ(ReadFileBytes(dir / "dst"), "old");
  EXPECT_TRUE(CopyFile(dir / "src", dir / "dst", false));
  EXPECT_EQ(ReadFileBytes(dir / "dst"), "new");
  EXPECT_FALSE(CopyFile(dir / "missing", dir / "dst", false));
  EXPECT_EQ(ReadFileBytes(dir / "dst"), "new");
}

TEST(CopyFileOver, AnExistingTargetIsWrittenInPlaceThroughItsLinks) {
  TempDir dir;
  WriteFileBytes(dir / "src", "the new log");
  WriteFileBytes(dir / "old", "an older and longer log");
  ASSERT_EQ(::symlink((dir / "old").c_str(), (dir / "link").c_str()), 0);
  ASSERT_EQ(::link((dir / "old").c_str(), (dir / "hard").c_str()), 0);
  ASSERT_EQ(::chmod((dir / "old").c_str(), 0640), 0);
  EXPECT_TRUE(CopyFile(dir / "src", dir / "link", false));
  EXPECT_TRUE(CopyFile(dir / "src", dir / "hard", false));
  EXPECT_EQ(ReadFileBytes(dir / "old"), "the new log");
  struct stat st {};
  ASSERT_EQ(::lstat((dir / "link").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(::stat((dir / "old").c_str(), &st), 0);
  EXPECT_EQ(st.st_nlink, 2u);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  // A link to nothing is refused and creates nothing.
  ASSERT_EQ(::symlink((dir / "nowhere").c_str(), (dir / "dangling").c_str()), 0);
  EXPECT_FALSE(CopyFile(dir / "src", dir / "dangling", false));
  EXPECT_FALSE(FileExists(dir / "nowhere"));
  // The space is reserved before anything changes: a copy that does not fit leaves the old file whole.
  WriteFileBytes(dir / "big", std::string(64 * 1024, 'b'));
  {
    varnex_test::FileSizeLimit limit(4096);
    EXPECT_FALSE(CopyFile(dir / "big", dir / "link", false));
  }
  EXPECT_EQ(ReadFileBytes(dir / "old"), "the new log");
}

TEST(SafeWrite, NeverReplacesWithoutPermissionAndLeavesNoTemporary) {
  TempDir dir;
  WriteFileSafely(dir / "t", "abc", 3, false, false);
  EXPECT_EQ(ReadFileBytes(dir / "t"), "abc");
  EXPECT_THROW(WriteFileSafely(dir / "t", "xyz", 3, false, false), EFileExists);
  EXPECT_EQ(ReadFileBytes(dir / "t"), "abc");
  WriteFileSafely(dir / "t", "xyz", 3, true, true);
  EXPECT_EQ(ReadFileBytes(dir / "t"), "xyz");
  EXPECT_THROW(WriteFileSafely(dir / "missing/t", "x", 1, true, false), EFCreateError);
  const std::string longest(255, 'n');
  WriteFileSafely(dir / longest, "long", 4, false, false);
  EXPECT_EQ(ReadFileBytes(dir / longest), "long");
  int entries = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.Path())) ++entries;
  EXPECT_EQ(entries, 2);
}

TEST(ProgramLocation, IsTheDirectoryOfThisExecutable) {
  const std::string dir = ProgramDir();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.back(), '/');
  EXPECT_TRUE(FileExists(ProgramFileName()));
  EXPECT_EQ(ExtractFilePath(ProgramFileName()), dir);
}

TEST(LogTimeStamp, HasTheFixedLayout) {
  const std::string t = FormatLogTimeStamp();
  ASSERT_EQ(t.size(), 19u);
  for (std::size_t i : {4u, 7u}) EXPECT_EQ(t[i], '-');
  EXPECT_EQ(t[10], ' ');
  for (std::size_t i : {13u, 16u}) EXPECT_EQ(t[i], ':');
}
