#include "base/FileIO.h"

#include "base/Exceptions.h"
#include "base/SysUtils.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
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

// Dir as a path to open: the directory part of a bare name is the current directory.
const char* DirToOpen(const std::string& Dir) { return Dir.empty() ? "." : Dir.c_str(); }

// Temporary files are named ".<name>.<pid>-<n>.vxtmp" beside their target.
constexpr const char* kTempSuffix = ".vxtmp";

bool AllDigits(const std::string& Text) {
  return !Text.empty() && std::all_of(Text.begin(), Text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// True for a name that this program gives its temporary files.
bool IsTemporaryName(const std::string& Name) {
  const std::size_t suffix = std::strlen(kTempSuffix);
  if (Name.size() <= suffix + 4 || Name[0] != '.' || Name.compare(Name.size() - suffix, suffix, kTempSuffix) != 0)
    return false;
  const std::string stem = Name.substr(0, Name.size() - suffix);
  const std::size_t dash = stem.rfind('-');
  const std::size_t dot = stem.rfind('.', dash == std::string::npos ? 0 : dash);
  if (dash == std::string::npos || dot == std::string::npos || dot < 2) return false;
  return AllDigits(stem.substr(dot + 1, dash - dot - 1)) && AllDigits(stem.substr(dash + 1));
}

// A writer holds a lock on its temporary file, so one that nobody locks was left by a
// process that was killed. Such files of this user are removed.
void RemoveStaleTemporaries(const std::string& Dir) {
  DIR* dir = ::opendir(DirToOpen(Dir));
  if (dir == nullptr) return;
  const int dirHandle = ::dirfd(dir);
  while (const dirent* entry = ::readdir(dir)) {
    if (!IsTemporaryName(entry->d_name)) continue;
    const int fd = ::openat(dirHandle, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) continue;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
        ::flock(fd, LOCK_EX | LOCK_NB) == 0)
      ::unlinkat(dirHandle, entry->d_name, 0);
    ::close(fd);
  }
  ::closedir(dir);
}

// Cleans each directory once per thread: a batch saves thousands of files into one directory.
void RemoveStaleTemporariesOnce(const std::string& Dir) {
  thread_local std::string cleaned;
  thread_local bool any = false;
  if (any && cleaned == Dir) return;
  RemoveStaleTemporaries(Dir);
  cleaned = Dir;
  any = true;
}

// Moves From to To without ever replacing an existing To.
int RenameNoReplace(const char* From, const char* To) {
#ifdef SYS_renameat2
  constexpr unsigned kRenameNoReplace = 1;  // RENAME_NOREPLACE
  if (::syscall(SYS_renameat2, AT_FDCWD, From, AT_FDCWD, To, kRenameNoReplace) == 0) return 0;
  if (errno != ENOSYS && errno != EINVAL) return -1;
#endif
  // Filesystems without renameat2: a hard link fails on an existing name too.
  if (::link(From, To) != 0) return -1;
  ::unlink(From);
  return 0;
}

// Names the unnamed file Handle as Name in the directory DirHandle (or AT_FDCWD); fails
// with EEXIST when the name exists. Linking the handle itself spares the kernel a walk
// through /proc; kernels before 6.10 allow that only to a process that may read any file,
// and then /proc serves instead.
int LinkUnnamed(int Handle, int DirHandle, const char* Name) {
  static std::atomic<bool> handleLinks{true};
  if (handleLinks.load(std::memory_order_relaxed)) {
    if (::linkat(Handle, "", DirHandle, Name, AT_EMPTY_PATH) == 0) return 0;
    if (errno != ENOENT) return -1;
  }
  const std::string self = "/proc/self/fd/" + std::to_string(Handle);
  const int linked = ::linkat(AT_FDCWD, self.c_str(), DirHandle, Name, AT_SYMLINK_FOLLOW);
  // The handle was refused, not the folder: /proc names the same file.
  if (linked == 0) handleLinks.store(false, std::memory_order_relaxed);
  return linked;
}

// The name of a new temporary file beside Path; long names are shortened to stay within the limit.
std::string TemporaryName(const std::string& Path) {
  static std::atomic<unsigned> counter{0};
  static const std::string process = std::to_string(::getpid());
  std::string name = ExtractFileName(Path);
  constexpr std::size_t kRoom = NAME_MAX - 20;
  if (name.size() + process.size() > kRoom) name.resize(kRoom - process.size());
  return ExtractFilePath(Path) + "." + name + "." + process + "-" +
         std::to_string(counter.fetch_add(1, std::memory_order_relaxed)) + kTempSuffix;
}

// This thread's newest directory binding.
thread_local const TDirectoryBinding* NewestBinding = nullptr;

}  // namespace

TDirectoryBinding::TDirectoryBinding(const std::string& Dir) : FDir(Dir), FOuter(NewestBinding) {
  FHandle = ::open(DirToOpen(Dir), O_PATH | O_DIRECTORY | O_CLOEXEC);
  NewestBinding = this;
}

TDirectoryBinding::~TDirectoryBinding() {
  NewestBinding = FOuter;
  if (FHandle >= 0) ::close(FHandle);
}

int TDirectoryBinding::HandleOf(std::string_view Dir) {
  const TDirectoryBinding* newest = NewestBinding;
  return newest != nullptr && newest->FDir == Dir ? newest->FHandle : -1;
}

TNewFile::TNewFile(const std::string& Path, bool Replace, bool Sync) : FPath(Path), FReplace(Replace), FSync(Sync) {
  if (Path.empty() || Path.back() == PathDelim) throw EFCreateError("Cannot create file \"" + Path + "\"");
  if (!Replace && OpenUnnamed()) return;
  OpenTemporary();
  if (Replace) CopyOwnership();
}

TNewFile::~TNewFile() { Discard(); }

bool TNewFile::OpenUnnamed() {
  // Naming an unnamed file goes through /proc; without it the temporary name serves.
  static const bool canLink = ::access("/proc/self/fd", X_OK) == 0;
  if (!canLink) return false;
  const std::size_t slash = FPath.rfind(PathDelim);
  const std::string_view dir = std::string_view(FPath).substr(0, slash == std::string::npos ? 0 : slash + 1);
  const int bound = TDirectoryBinding::HandleOf(dir);
  FDirHandle = bound >= 0 ? bound : AT_FDCWD;
  const std::string unbound = bound >= 0 ? std::string() : std::string(dir);
  const char* where = bound >= 0 ? "." : DirToOpen(unbound);
  // Mode 0666 lets the kernel apply the umask, without a umask or chmod call per file.
  FHandle = ::openat(FDirHandle, where, O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (FHandle >= 0) return true;
  if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL) return false;
  throw EFCreateError("Cannot create file \"" + FPath + "\"");
}

void TNewFile::OpenTemporary() {
  RemoveStaleTemporariesOnce(ExtractFilePath(FPath));
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
  int moved = 0;
  if (FTemp.empty()) {
    moved = LinkUnnamed(FHandle, FDirHandle, NameInDir());
  } else {
    const int closed = ::close(FHandle);
    FHandle = -1;
    if (closed != 0) throw EWriteError("Stream write error");
    moved = FReplace ? ::rename(FTemp.c_str(), FPath.c_str()) : RenameNoReplace(FTemp.c_str(), FPath.c_str());
  }
  if (moved != 0) {
    const bool exists = errno == EEXIST;  // before the message's allocation can change errno
    const std::string message = "Cannot create file \"" + FPath + "\"";
    if (exists) throw EFileExists(message);
    throw EFCreateError(message);
  }
  FTemp.clear();
  if (FHandle >= 0 && ::close(FHandle) != 0) {
    // The data may not have reached the file: take back the name just given.
    FHandle = -1;
    ::unlinkat(FDirHandle, NameInDir(), 0);
    throw EWriteError("Stream write error");
  }
  FHandle = -1;
}

const char* TNewFile::NameInDir() const {
  return FDirHandle != AT_FDCWD ? FPath.c_str() + (FPath.rfind(PathDelim) + 1) : FPath.c_str();
}

void TNewFile::Discard() {
  if (FHandle >= 0) ::close(FHandle);
  FHandle = -1;
  if (!FTemp.empty()) ::unlink(FTemp.c_str());
  FTemp.clear();
}
