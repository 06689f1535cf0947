#include "base/FileStream.h"

#include "base/Exceptions.h"
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

// The character device a symlink leads to (such as /dev/stdout on a terminal), opened;
// -1 when it leads anywhere else. Nothing is created or truncated here.
int OpenLinkedDevice(const std::string& FileName) {
  struct stat st {};
  if (::stat(FileName.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return -1;
  const int fd = ::open(FileName.c_str(), kOpenFlags);
  if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode))) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Opens FileName, created when missing, never through a symlink to a file: such a link
// is removed and a new file made in its place, so the file it leads to stays untouched.
int OpenNoFollow(const std::string& FileName, int& Error) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    const int fd = ::open(FileName.c_str(), kOpenFlags | O_CREAT | O_NOFOLLOW, 0666);
    if (fd >= 0) return fd;
    Error = errno;
    if (Error != ELOOP) return -1;
    const int device = OpenLinkedDevice(FileName);
    if (device >= 0) return device;
    if (::unlink(FileName.c_str()) != 0 && errno != ENOENT) {
      Error = errno;
      return -1;
    }
  }
  return -1;
}

// Opens the file for creation without truncating it yet: an exclusive lock is
// taken first, so a file that another stream holds is never emptied. A character
// device (such as /dev/null) is written as it is.
int CreateExclusive(const std::string& FileName, int& Error) {
  const int fd = OpenNoFollow(FileName, Error);
  if (fd < 0) return -1;
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0;
  if (!ok) {
    Error = errno;
  } else if (S_ISREG(st.st_mode)) {
    ok = ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::ftruncate(fd, 0) == 0;
    if (!ok) Error = errno == EWOULDBLOCK ? EBUSY : errno;
  } else if (!S_ISCHR(st.st_mode)) {
    ok = false;
    Error = EINVAL;
  }
  // Non-blocking was only for the open (a FIFO must not hang it); writes block.
  if (ok) ok = ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) == 0;
  if (!ok) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

TFileStream::TFileStream(const std::string& FileName, TFileStreamMode /*Mode*/) : FFileName(FileName) {
  int error = ENOENT;
  FHandle = FileName.empty() ? -1 : CreateExclusive(FileName, error);
  if (FHandle < 0) throw EFCreateError("Cannot create file \"" + FileName + "\". " + SystemReason(error));
  FBuffer.reserve(kBufferSize);
}

TFileStream::~TFileStream() {
  try {
    Flush();
  } catch (const EStreamError&) {
    // A destructor cannot report; a caller that cares calls Flush first.
  }
  ::close(FHandle);
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
