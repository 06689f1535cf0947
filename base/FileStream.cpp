#include "base/FileStream.h"

#include "base/Exceptions.h"
#include "base/FileIO.h"
#include "base/SysUtils.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Large enough that a log of thousands of lines reaches the disk in a few writes.
constexpr std::size_t kBufferSize = 64 * 1024;

std::string SystemReason(int Error) { return std::strerror(Error); }

constexpr int kOpenFlags = O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;

// Opens FileName for writing, following links, without truncating it: an existing file is
// written in place, so a link or a hard link stays what it was. A missing file is created,
// but never through a link whose target is missing; Created tells which happened.
int OpenInPlace(const std::string& FileName, int& Error, bool& Created) {
  Created = false;
  for (int attempt = 0; attempt < 100; ++attempt) {
    int fd = ::open(FileName.c_str(), kOpenFlags);
    if (fd >= 0 || errno != ENOENT) {
      Error = errno;
      return fd;
    }
    // O_EXCL does not follow a link: a dangling one gives EEXIST, like a file made meanwhile.
    fd = ::open(FileName.c_str(), kOpenFlags | O_CREAT | O_EXCL, 0666);
    if (fd >= 0 || errno != EEXIST) {
      Error = errno;
      Created = fd >= 0;
      return fd;
    }
    struct stat st {};
    if (::lstat(FileName.c_str(), &st) == 0 && S_ISLNK(st.st_mode) && ::stat(FileName.c_str(), &st) != 0 &&
        errno == ENOENT) {
      Error = ENOENT;
      return -1;
    }
  }
  Error = ELOOP;
  return -1;
}

// The lock that keeps two streams of this user off one file: a lock file named after the
// file's device and inode in the user's private directory, so that no other user can take
// it. Returns the lock file's handle, -1 when another stream holds it (Error EBUSY), or
// -2 when there is no private directory, and then nothing is locked.
int LockPrivately(const struct stat& File, std::string& LockPath, int& Error) {
  const std::string dir = UserLockDirectory();
  if (dir.empty()) return -2;
  LockPath = dir + "/varnex-log-" + std::to_string(File.st_dev) + "-" + std::to_string(File.st_ino) + ".lock";
  for (int attempt = 0; attempt < 100; ++attempt) {
    const int fd = ::open(LockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return -2;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      Error = errno == EWOULDBLOCK ? EBUSY : errno;
      ::close(fd);
      return -1;
    }
    // The holder removes the lock file as it lets go; a lock taken on a removed file is tried again.
    struct stat locked {}, named {};
    if (::fstat(fd, &locked) == 0 && ::stat(LockPath.c_str(), &named) == 0 && locked.st_ino == named.st_ino &&
        locked.st_dev == named.st_dev)
      return fd;
    ::close(fd);
  }
  return -2;
}

}  // namespace

// Opens the file for creation without truncating it yet: the lock is taken and the check
// made first, so a file that another stream holds or the check refuses is never emptied.
// A character device (such as /dev/null) or a pipe is written as it is. A file this call
// made itself holds nothing yet, so the check, which guards what a file held, is skipped.
int TFileStream::CreateExclusive(const TFileStreamCheck& Check, int& Error) {
  bool created = false;
  const int fd = OpenInPlace(FFileName, Error, created);
  if (fd < 0) return -1;
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0;
  if (!ok) {
    Error = errno;
  } else if (S_ISREG(st.st_mode)) {
    FLockHandle = LockPrivately(st, FLockPath, Error);
    ok = FLockHandle != -1;
    if (FLockHandle < 0) FLockPath.clear();
  } else if (!S_ISCHR(st.st_mode) && !S_ISFIFO(st.st_mode)) {
    ok = false;
    Error = EINVAL;
  }
  try {
    if (ok && Check && !created) Check(fd, st);
  } catch (...) {
    ::close(fd);
    Unlock();
    throw;
  }
  if (ok && S_ISREG(st.st_mode) && ::ftruncate(fd, 0) != 0) {
    ok = false;
    Error = errno;
  }
  // Non-blocking was only for the open (a FIFO must not hang it); writes block.
  if (ok) ok = ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) == 0;
  if (!ok) {
    ::close(fd);
    Unlock();
    return -1;
  }
  return fd;
}

void TFileStream::Unlock() {
  if (FLockHandle < 0) return;
  // Removed while still held, so that a stream that opens it meanwhile sees it gone and retries.
  ::unlink(FLockPath.c_str());
  ::close(FLockHandle);
  FLockHandle = -1;
}

TFileStream::TFileStream(const std::string& FileName, TFileStreamMode Mode) : TFileStream(FileName, Mode, {}) {}

TFileStream::TFileStream(const std::string& FileName, TFileStreamMode /*Mode*/, const TFileStreamCheck& Check)
    : FFileName(FileName) {
  int error = ENOENT;
  FHandle = FileName.empty() ? -1 : CreateExclusive(Check, error);
  if (FHandle < 0) throw EFCreateError("Cannot create file \"" + FileName + "\". " + SystemReason(error));
  FBuffer.reserve(kBufferSize);
}

TFileStream::TFileStream(int Handle, const std::string& Name) : FFileName(Name), FHandle(Handle) {
  FBuffer.reserve(kBufferSize);
}

TFileStream::~TFileStream() {
  try {
    Flush();
  } catch (const EStreamError&) {
    // A destructor cannot report; a caller that cares calls Flush first.
  }
  ::close(FHandle);
  Unlock();
}

void TFileStream::WriteBuffer(const void* Buffer, std::size_t Count) {
  const auto* in = static_cast<const char*>(Buffer);
  if (FBuffer.size() + Count > kBufferSize) Flush();
  FPosition += Count;
  if (Count >= kBufferSize) {
    // A large block goes straight to the file instead of through the buffer.
    if (!FileWriteAll(FHandle, in, Count)) {
      FWriteFailed = true;
      throw EWriteError("Stream write error");
    }
    return;
  }
  FBuffer.insert(FBuffer.end(), in, in + Count);
}

void TFileStream::WriteString(const std::string& Text) { WriteBuffer(Text.data(), Text.size()); }

void TFileStream::Flush() {
  const bool written = FileWriteAll(FHandle, FBuffer.data(), FBuffer.size());
  // Bytes that could not be written are dropped, so that one failure is
  // reported once and does not block every later write.
  FBuffer.clear();
  if (written) return;
  FWriteFailed = true;
  throw EWriteError("Stream write error");
}

bool TFileStream::WriteFailed() const { return FWriteFailed; }

const std::string& TFileStream::FileName() const { return FFileName; }

std::uint64_t TFileStream::Position() const { return FPosition; }
