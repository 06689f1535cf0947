#pragma once
// Bounded reading of regular files and files that appear under their name only when complete.

#include "base/Classes.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <sys/types.h>
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

// Writes all Size bytes to the open file Handle, retrying short writes; false on failure.
bool FileWriteAll(int Handle, const void* Data, std::size_t Size);
// Writes all parts to the open file Handle, retrying short writes; false on failure.
bool FileWriteAllV(int Handle, const iovec* Parts, std::size_t Count);

// Removes what killed saves left in Dir: the temporary files named with this user's mark,
// owned by this user and held by no writer. Nothing else is touched.
void RemoveStaleTemporaries(const std::string& Dir);

// A file that is written in full before it appears under its name, so the name never shows
// a partial file. Without Replace an existing name is never replaced: the file is made
// unnamed and linked under its name, or, where the file system cannot (or the environment
// sets VARNEX_PUBLISH_FALLBACK), the name is claimed with an empty placeholder that the
// finished temporary file then replaces. With Replace the temporary file replaces the old
// one and takes over its permission bits (and, where allowed, its owner). A file that is not
// committed is removed when the object goes, with its placeholder.
class TNewFile : public TObject {
public:
  // Creates the unnamed or temporary file in Path's directory; raises EFCreateError, or
  // EFileExists when the fallback finds the name taken.
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
  void ClaimName();
  void OpenTemporary();
  void Discard();
  void CopyOwnership();

  std::string FPath;
  std::string FTemp;
  int FHandle = -1;
  bool FClaimed = false;                      // the placeholder under FPath is ours
  std::pair<dev_t, ino_t> FPlaceholder{};     // and is this file
  bool FSync;
};

// Writes Data to a temporary file in Path's directory and moves it to Path.
// With Replace false an existing Path is never replaced (EFileExists); with Sync
// the data reaches the disk before the move. A replaced file's permission bits (and
// owner, where allowed) carry over. Raises EFCreateError or EWriteError on failure and
// leaves no temporary file behind.
void WriteFileSafely(const std::string& Path, const void* Data, std::size_t Size, bool Replace, bool Sync);
// Copies Source to Target; False when that fails. An existing Target is written over in place
// (through links) unless FailIfExists; a link to nothing is refused.
bool CopyFile(const std::string& Source, const std::string& Target, bool FailIfExists);
