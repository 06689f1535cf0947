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

// Opens the file for creation without truncating it yet: an exclusive lock is
// taken first, so a file that another stream holds is never emptied. A character
// device (such as /dev/null) is written as it is.
int CreateExclusive(const std::string& FileName, int& Error) {
  const int fd = ::open(FileName.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
  if (fd < 0) {
    Error = errno;
    return -1;
  }
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
    if (!FileWriteAll(FHandle, in, Count)) throw EWriteError("Stream write error");
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
  if (!written) throw EWriteError("Stream write error");
}

const std::string& TFileStream::FileName() const { return FFileName; }

std::uint64_t TFileStream::Position() const { return FPosition; }
