#include "base/FileIO.h"

#include "base/Exceptions.h"
#include "base/SysUtils.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

namespace {

// The parts of a transfer not yet done. The caller's list is used as it is, and copied
// only when a transfer ends inside a part, which the next call must start from.
class TPendingParts {
public:
  TPendingParts(const iovec* Parts, std::size_t Count) : FParts(Parts), FCount(Count) { Drop(0); }
  TPendingParts(const TPendingParts&) = delete;
  TPendingParts& operator=(const TPendingParts&) = delete;
  bool Done() const { return FFirst == FCount; }
  const iovec* First() const { return FParts + FFirst; }
  // How many parts one system call takes.
  int Batch() const { return static_cast<int>(std::min<std::size_t>(FCount - FFirst, IOV_MAX)); }
  // Drops the next Bytes bytes, and the empty parts after them.
  void Drop(std::size_t Bytes) {
    while (FFirst < FCount && Bytes >= FParts[FFirst].iov_len) {
      Bytes -= FParts[FFirst].iov_len;
      ++FFirst;
    }
    if (Bytes == 0) return;
    if (FCopy.empty()) {
      FCopy.assign(FParts, FParts + FCount);
      FParts = FCopy.data();
    }
    FCopy[FFirst].iov_base = static_cast<char*>(FCopy[FFirst].iov_base) + Bytes;
    FCopy[FFirst].iov_len -= Bytes;
  }

private:
  const iovec* FParts;
  std::size_t FCount;
  std::size_t FFirst = 0;
  std::vector<iovec> FCopy;
};

std::size_t TotalSize(const iovec* Parts, std::size_t Count) {
  std::size_t total = 0;
  for (std::size_t i = 0; i < Count; ++i) total += Parts[i].iov_len;
  return total;
}

}  // namespace

TFileReader::TFileReader(const std::string& Path) : FPath(Path) {
  // Non-blocking, so that opening a pipe without a writer cannot hang; regular files ignore it.
  FHandle = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (FHandle < 0) throw EFOpenError("Cannot open file \"" + Path + "\". " + std::strerror(errno));
  struct stat st {};
  const bool known = ::fstat(FHandle, &st) == 0;
  if (known && S_ISREG(st.st_mode)) {
    FSize = static_cast<std::uint64_t>(st.st_size);
    return;
  }
  ::close(FHandle);
  FHandle = -1;
  if (known && S_ISDIR(st.st_mode)) throw EReadError("Cannot read file \"" + Path + "\". Is a directory");
  throw EFOpenError("Cannot open file \"" + Path + "\". Not a regular file");
}

TFileReader::~TFileReader() {
  if (FHandle >= 0) ::close(FHandle);
}

void TFileReader::ReadAt(std::uint64_t At, void* Buffer, std::size_t Count) const {
  const iovec part{Buffer, Count};
  ReadAt(At, &part, 1);
}

void TFileReader::ReadAt(std::uint64_t At, const iovec* Parts, std::size_t Count) const {
  const auto fail = [this](const std::string& Reason) {
    throw EReadError("Cannot read file \"" + FPath + "\". " + Reason);
  };
  if (At > FSize || TotalSize(Parts, Count) > FSize - At) fail("Unexpected end of file");
  for (TPendingParts rest(Parts, Count); !rest.Done();) {
    const ssize_t n = ::preadv(FHandle, rest.First(), rest.Batch(), static_cast<off_t>(At));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      // A file system that honours the non-blocking flag on files: wait for the data instead.
      ::fcntl(FHandle, F_SETFL, ::fcntl(FHandle, F_GETFL) & ~O_NONBLOCK);
      continue;
    }
    if (n < 0) fail(std::strerror(errno));
    if (n == 0) fail("Unexpected end of file");
    At += static_cast<std::uint64_t>(n);
    rest.Drop(static_cast<std::size_t>(n));
  }
}

std::string ReadFileBounded(const std::string& Path, std::uint64_t MaxSize) {
  const TFileReader file(Path);
  if (file.Size() > MaxSize) throw EReadError("Cannot read file \"" + Path + "\". The file is too large");
  std::string data(static_cast<std::size_t>(file.Size()), '\0');
  file.ReadAt(0, data.data(), data.size());
  return data;
}

void OverwriteFile(const std::string& Path, const void* Data, std::size_t Size, int* Errno) {
  const int fd = ::open(Path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (Errno != nullptr) *Errno = fd < 0 ? errno : 0;
  if (fd < 0) throw EFOpenError("Cannot open file \"" + Path + "\". " + std::strerror(errno));
  const auto fail = [fd, &Path](int Error) {
    ::close(fd);
    throw EWriteError("Cannot write file \"" + Path + "\". " + std::strerror(Error));
  };
  struct stat st {};
  if (::fstat(fd, &st) != 0) fail(errno);
  if (S_ISREG(st.st_mode)) {
    // Extends the file with reserved zeros where the new content is longer; a failure takes
    // them back. Filesystems that cannot reserve are written without it.
    const auto oldSize = static_cast<off_t>(st.st_size);
    if (Size > 0 && ::fallocate(fd, 0, 0, static_cast<off_t>(Size)) != 0 && errno != EOPNOTSUPP) {
      const int error = errno;
      (void)::ftruncate(fd, oldSize);
      fail(error);
    }
  }
  if (::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0 || !FileWriteAll(fd, Data, Size)) fail(errno);
  if (S_ISREG(st.st_mode) && ::ftruncate(fd, static_cast<off_t>(Size)) != 0) fail(errno);
  if (::close(fd) != 0) throw EWriteError("Cannot write file \"" + Path + "\". " + std::strerror(errno));
}

bool FileWriteAll(int Handle, const void* Data, std::size_t Size) {
  const iovec part{const_cast<void*>(Data), Size};
  return FileWriteAllV(Handle, &part, 1);
}

bool FileWriteAllV(int Handle, const iovec* Parts, std::size_t Count) {
  for (TPendingParts rest(Parts, Count); !rest.Done();) {
    const ssize_t n = ::writev(Handle, rest.First(), rest.Batch());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    rest.Drop(static_cast<std::size_t>(n));
  }
  return true;
}

namespace {

// Temporary files are named ".<name>.<uid>-<mark>-<pid>-<n>.vxtmp" beside their target; the
// user's mark tells them from any other file.
constexpr const char* kTempSuffix = ".vxtmp";

// Set, the fallback route publishes even where the unnamed-file route works: a seam for tests
// and for file systems that misreport what they support. Read on every save.
bool FallbackForced() { return std::getenv("VARNEX_PUBLISH_FALLBACK") != nullptr; }

std::string RandomHex(std::size_t Bytes) {
  std::vector<unsigned char> random(Bytes);
  std::size_t got = 0;
  while (got < Bytes) {
    const ssize_t n = ::getrandom(random.data() + got, Bytes - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw EFCreateError("Cannot create file: no random numbers");
    got += static_cast<std::size_t>(n);
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  for (const unsigned char c : random) text += {kHex[c >> 4], kHex[c & 0x0F]};
  return text;
}

// The user's mark, kept in a private file of the user's cache folder so that every run of this
// user names its temporaries alike. Where that file cannot be kept, the process takes a mark of
// its own: its temporaries are still told apart, only a later run will not clean them.
std::string LoadUserMark() {
  constexpr std::size_t kMarkSize = 16;
  std::string dir = AbsoluteEnv("XDG_CACHE_HOME");
  if (dir.empty() && !AbsoluteEnv("HOME").empty()) dir = AbsoluteEnv("HOME") + "/.cache";
  if (!dir.empty() && ForceDirectories(dir + "/varnex")) {
    const std::string path = dir + "/varnex/temporary-mark";
    for (int attempt = 0; attempt < 2; ++attempt) {
      const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
      if (fd >= 0) {
        struct stat st {};
        char text[kMarkSize] = {};
        const bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
                        (st.st_mode & 022) == 0 && ::read(fd, text, kMarkSize) == static_cast<ssize_t>(kMarkSize);
        ::close(fd);
        if (ok && std::all_of(text, text + kMarkSize, [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); }))
          return std::string(text, kMarkSize);
        break;
      }
      const int created = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
      if (created < 0) continue;  // made by another run meanwhile: read it
      const std::string mark = RandomHex(kMarkSize / 2);
      const bool written = FileWriteAll(created, mark.data(), mark.size());
      ::close(created);
      if (written) return mark;
      ::unlink(path.c_str());
      break;
    }
  }
  return RandomHex(kMarkSize / 2);
}

// What every temporary name of this user's carries: ".<uid>-<mark>-".
const std::string& TemporaryMark() {
  static const std::string mark = "." + std::to_string(::geteuid()) + "-" + LoadUserMark() + "-";
  return mark;
}

// True for a name that this user's saves give their temporaries.
bool IsTemporaryName(const std::string& Name) {
  const std::size_t suffix = std::strlen(kTempSuffix);
  return Name.size() > suffix && Name[0] == '.' && Name.compare(Name.size() - suffix, suffix, kTempSuffix) == 0 &&
         Name.find(TemporaryMark()) != std::string::npos;
}

// Names the unnamed file Handle as Path; fails with EEXIST when the name exists. Linking the
// handle itself spares the kernel a walk through /proc; kernels before 6.10 allow that only
// to a process that may read any file, and then /proc serves instead.
int LinkUnnamed(int Handle, const char* Path) {
  static std::atomic<bool> handleLinks{true};
  if (handleLinks.load(std::memory_order_relaxed)) {
    if (::linkat(Handle, "", AT_FDCWD, Path, AT_EMPTY_PATH) == 0) return 0;
    if (errno != ENOENT) return -1;
  }
  const std::string self = "/proc/self/fd/" + std::to_string(Handle);
  const int linked = ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, Path, AT_SYMLINK_FOLLOW);
  // The handle was refused, not the folder: /proc names the same file.
  if (linked == 0) handleLinks.store(false, std::memory_order_relaxed);
  return linked;
}

// The name of a new temporary file beside Path; long names are shortened to stay within the limit.
std::string TemporaryName(const std::string& Path) {
  static std::atomic<unsigned> counter{0};
  const std::string tail = TemporaryMark() + std::to_string(::getpid()) + "-" +
                           std::to_string(counter.fetch_add(1, std::memory_order_relaxed)) + kTempSuffix;
  std::string name = ExtractFileName(Path);
  if (name.size() + tail.size() + 1 > NAME_MAX) name.resize(NAME_MAX - tail.size() - 1);
  return ExtractFilePath(Path) + "." + name + tail;
}

}  // namespace

void RemoveStaleTemporaries(const std::string& Dir) {
  DIR* dir = ::opendir(Dir.empty() ? "." : Dir.c_str());
  if (dir == nullptr) return;
  const int dirHandle = ::dirfd(dir);
  while (const dirent* entry = ::readdir(dir)) {
    if (!IsTemporaryName(entry->d_name)) continue;
    const int fd = ::openat(dirHandle, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) continue;
    // A writer holds a lock on its temporary until it has renamed it, so one that nobody
    // locks was left by a process that was killed.
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
        ::flock(fd, LOCK_EX | LOCK_NB) == 0)
      ::unlinkat(dirHandle, entry->d_name, 0);
    ::close(fd);
  }
  ::closedir(dir);
}

TNewFile::TNewFile(const std::string& Path, bool Replace, bool Sync) : FPath(Path), FSync(Sync) {
  if (Path.empty() || Path.back() == PathDelim) throw EFCreateError("Cannot create file \"" + Path + "\"");
  if (Replace) {
    OpenTemporary();
    CopyOwnership();
    return;
  }
  if (!FallbackForced() && OpenUnnamed()) return;
  ClaimName();
  OpenTemporary();
}

TNewFile::~TNewFile() { Discard(); }

bool TNewFile::OpenUnnamed() {
  // Naming an unnamed file goes through /proc; without it the fallback serves.
  static const bool canLink = ::access("/proc/self/fd", X_OK) == 0;
  if (!canLink) return false;
  const std::string dir = ExtractFilePath(FPath);
  // Mode 0666 lets the kernel apply the umask, without a umask or chmod call per file.
  FHandle = ::open(dir.empty() ? "." : dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (FHandle >= 0) return true;
  if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL) return false;
  throw EFCreateError("Cannot create file \"" + FPath + "\"");
}

void TNewFile::ClaimName() {
  // An empty file of our own takes the name at once, and the finished temporary later
  // replaces it: nothing else is ever replaced, on file systems without hard links or a
  // rename that refuses to replace. Empty, it never passes for a finished file.
  const int fd = ::open(FPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0666);
  const bool exists = fd < 0 && errno == EEXIST;
  struct stat st {};
  if (fd >= 0 && ::fstat(fd, &st) == 0) {
    FPlaceholder = {st.st_dev, st.st_ino};
    FClaimed = true;
  }
  if (fd >= 0) ::close(fd);
  if (FClaimed) return;
  const std::string message = "Cannot create file \"" + FPath + "\"";
  if (exists) throw EFileExists(message);
  if (fd >= 0) ::unlink(FPath.c_str());
  throw EFCreateError(message);
}

void TNewFile::OpenTemporary() {
  for (int attempt = 0; attempt < 100; ++attempt) {
    FTemp = TemporaryName(FPath);
    FHandle = ::open(FTemp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (FHandle < 0 && errno == EEXIST) continue;
    if (FHandle < 0) break;
    // The lock marks the file as in use; a cleaner that removed it before the lock was
    // taken leaves it without a name, and then another name is tried.
    struct stat st {};
    if (::flock(FHandle, LOCK_EX) == 0 && ::fstat(FHandle, &st) == 0 && st.st_nlink > 0) return;
    ::close(FHandle);
    FHandle = -1;
  }
  FTemp.clear();
  Discard();
  throw EFCreateError("Cannot create file \"" + FPath + "\"");
}

void TNewFile::CopyOwnership() {
  struct stat st {};
  if (::stat(FPath.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
  // Before any content is written, so a private file's new content is never readable by others.
  if (st.st_uid != ::geteuid() || st.st_gid != ::getegid()) (void)::fchown(FHandle, st.st_uid, st.st_gid);
  (void)::fchmod(FHandle, st.st_mode & 07777);
}

void TNewFile::Write(const iovec* Parts, std::size_t Count) {
  if (!FileWriteAllV(FHandle, Parts, Count)) throw EWriteError("Stream write error");
}

void TNewFile::Write(const void* Data, std::size_t Size) {
  if (!FileWriteAll(FHandle, Data, Size)) throw EWriteError("Stream write error");
}

void TNewFile::Commit() {
  if (FSync && ::fsync(FHandle) != 0) throw EWriteError("Stream write error");
  // The temporary is renamed while its lock is held, so no cleaner can take it meanwhile.
  const int moved = FTemp.empty() ? LinkUnnamed(FHandle, FPath.c_str()) : ::rename(FTemp.c_str(), FPath.c_str());
  if (moved != 0) {
    const bool exists = errno == EEXIST;  // before the message's allocation can change errno
    const std::string message = "Cannot create file \"" + FPath + "\"";
    if (exists) throw EFileExists(message);
    throw EFCreateError(message);
  }
  FTemp.clear();
  FClaimed = false;
  const int closed = ::close(FHandle);
  FHandle = -1;
  if (closed != 0) {
    // The data may not have reached the file: take back the name just given.
    ::unlink(FPath.c_str());
    throw EWriteError("Stream write error");
  }
}

void TNewFile::Discard() {
  if (FHandle >= 0) ::close(FHandle);
  FHandle = -1;
  if (!FTemp.empty()) ::unlink(FTemp.c_str());
  FTemp.clear();
  // The placeholder goes only while it is still the empty file this object made.
  struct stat st {};
  if (FClaimed && ::lstat(FPath.c_str(), &st) == 0 && st.st_dev == FPlaceholder.first &&
      st.st_ino == FPlaceholder.second && st.st_size == 0)
    ::unlink(FPath.c_str());
  FClaimed = false;
}

void WriteFileSafely(const std::string& Path, const void* Data, std::size_t Size, bool Replace, bool Sync) {
  TNewFile file(Path, Replace, Sync);
  file.Write(Data, Size);
  file.Commit();
}

bool CopyFile(const std::string& Source, const std::string& Target, bool FailIfExists) {
  // A log of even a very long batch stays far below this.
  constexpr std::uint64_t kMaxCopyBytes = std::uint64_t{1} << 30;
  try {
    const std::string data = ReadFileBounded(Source, kMaxCopyBytes);
    if (!FailIfExists) {
      // An existing target is written in place: a link stays a link, a hard link stays whole.
      int error = 0;
      try {
        OverwriteFile(Target, data.data(), data.size(), &error);
        return true;
      } catch (const EFOpenError&) {
        if (error != ENOENT) throw;
      }
    }
    // A new file appears only complete, and never through a link to nothing.
    WriteFileSafely(Target, data.data(), data.size(), false, false);
    return true;
  } catch (const EStreamError&) {
    return false;
  }
}
