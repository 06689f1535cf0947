#pragma once
// Bounded reading of regular files and files that appear under their name only when complete.

#include "base/Classes.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <fcntl.h>
#include <sys/uio.h>

// A regular file opened for reading, with the size it had when it was opened.
class TFileReader : public TObject {
public:
  // Opens Path, following links. Raises EFOpenError when it cannot be opened or is a pipe,
  // socket or device, and EReadError for a directory; nothing is read from such a file.
  explicit TFileReader(const std::string& Path);
  ~TFileReader() override;
  TFileReader(const TFileReader&) = delete;
  TFileReader& operator=(const TFileReader&) = delete;

  // The size the file had when it was opened; no read goes past it.
  std::uint64_t Size() const { return FSize; }
  // Fills Buffer with Count bytes from offset At; EReadError unless all of them arrive.
  void ReadAt(std::uint64_t At, void* Buffer, std::size_t Count) const;
  // Fills the Count parts in order with the bytes from offset At on; EReadError unless all arrive.
  void ReadAt(std::uint64_t At, const iovec* Parts, std::size_t Count) const;

private:
  std::string FPath;
  int FHandle = -1;
  std::uint64_t FSize = 0;
};

// The whole content of the regular file at Path. Raises what TFileReader raises, and
// EReadError when the file holds more than MaxSize bytes (nothing is read then).
std::string ReadFileBounded(const std::string& Path, std::uint64_t MaxSize);

// Writes Data over the existing file at Path in place, through any links: the file keeps its
// inode, hard links, owner and permissions. The space is reserved before the old content is
// touched, so a full disk leaves it whole. Raises EFOpenError when Path cannot be opened
// (ENOENT in Errno when nothing is there, a link to nothing included) and EWriteError.
void OverwriteFile(const std::string& Path, const void* Data, std::size_t Size, int* Errno = nullptr);

// Writes all parts to the open file Handle, retrying short writes; false on failure.
bool FileWriteAllV(int Handle, const iovec* Parts, std::size_t Count);

// While it lives, the files this thread publishes into Dir without Replace (see TNewFile)
// go through a handle of Dir opened once, not through its path each time: a batch writes
// into the folder that was Dir when it began, also if that folder is renamed meanwhile.
// Dir is compared as written, with its trailing delimiter. Where Dir cannot be opened,
// nothing is bound and paths serve as before. Bindings nest; the newest counts.
class TDirectoryBinding : public TObject {
public:
  explicit TDirectoryBinding(const std::string& Dir);
  ~TDirectoryBinding() override;
  TDirectoryBinding(const TDirectoryBinding&) = delete;
  TDirectoryBinding& operator=(const TDirectoryBinding&) = delete;

  // The handle bound to Dir (the directory part of a path, delimiter included) by this
  // thread's newest binding, or -1.
  static int HandleOf(std::string_view Dir);

private:
  std::string FDir;
  int FHandle = -1;
  const TDirectoryBinding* FOuter;
};

// A file that is written in full before it appears under its name, so the name never shows
// a partial file. Without Replace an existing name is never replaced; with Replace the new
// file takes over the permission bits (and, where allowed, the owner) of the one it replaces.
// A file that is neither committed nor published is removed when the object goes.
class TNewFile : public TObject {
public:
  // Creates the unnamed or temporary file in Path's directory; raises EFCreateError.
  TNewFile(const std::string& Path, bool Replace, bool Sync);
  ~TNewFile() override;
  TNewFile(const TNewFile&) = delete;
  TNewFile& operator=(const TNewFile&) = delete;

  // Appends the parts; raises EWriteError.
  void Write(const iovec* Parts, std::size_t Count);
  // Appends Size bytes of Data; raises EWriteError.
  void Write(const void* Data, std::size_t Size);
  // Gives the file its name: EFileExists when the name is taken and Replace is false,
  // EFCreateError or EWriteError on other failures.
  void Commit();

private:
  bool OpenUnnamed();
  void OpenTemporary();
  void Discard();
  void CopyOwnership();
  // The name to give the file: relative to the bound directory, or the path.
  const char* NameInDir() const;

  std::string FPath;
  std::string FTemp;
  int FHandle = -1;
  int FDirHandle = AT_FDCWD;  // the bound directory the unnamed file was made in, if any
  bool FReplace;
  bool FSync;
};
