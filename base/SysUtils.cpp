#include "base/SysUtils.h"

#include "base/Exceptions.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

std::string ExtractFileName(const std::string& Path) {
  const auto pos = Path.rfind(PathDelim);
  return pos == std::string::npos ? Path : Path.substr(pos + 1);
}

std::string ExtractFilePath(const std::string& Path) {
  const auto pos = Path.rfind(PathDelim);
  return pos == std::string::npos ? std::string() : Path.substr(0, pos + 1);
}

std::string ExtractFileDir(const std::string& Path) {
  const auto pos = Path.rfind(PathDelim);
  if (pos == std::string::npos) return std::string();
  return pos == 0 ? std::string(1, PathDelim) : Path.substr(0, pos);
}

std::string IncludeTrailingPathDelimiter(const std::string& Path) {
  if (!Path.empty() && Path.back() == PathDelim) return Path;
  return Path + PathDelim;
}

std::string ExcludeTrailingPathDelimiter(const std::string& Path) {
  if (Path.size() > 1 && Path.back() == PathDelim) return Path.substr(0, Path.size() - 1);
  return Path;
}

bool FileExists(const std::string& Path) {
  struct stat st {};
  return !Path.empty() && ::stat(Path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& Path) {
  struct stat st {};
  return !Path.empty() && ::stat(Path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ForceDirectories(const std::string& Dir) {
  if (Dir.empty()) throw EInOutError("Unable to create directory");
  const std::string dir = ExcludeTrailingPathDelimiter(Dir);
  if (DirectoryExists(dir)) return true;
  const std::string parent = ExtractFileDir(dir);
  if (!parent.empty() && parent != dir && !ForceDirectories(parent)) return false;
  return ::mkdir(dir.c_str(), 0777) == 0 || (errno == EEXIST && DirectoryExists(dir));
}

bool DeleteFile(const std::string& Path) {
  return !Path.empty() && !DirectoryExists(Path) && ::unlink(Path.c_str()) == 0;
}

namespace {

// Reads a whole regular file; false when it cannot be opened or read.
bool ReadWholeFile(const std::string& Path, std::vector<char>& Data) {
  const int fd = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  Data.clear();
  char buffer[65536];
  while (ok) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    Data.insert(Data.end(), buffer, buffer + n);
  }
  ::close(fd);
  return ok;
}

}  // namespace

bool CopyFile(const std::string& Source, const std::string& Target, bool FailIfExists) {
  std::vector<char> data;
  if (!ReadWholeFile(Source, data)) return false;
  try {
    WriteFileSafely(Target, data.data(), data.size(), !FailIfExists, false);
    return true;
  } catch (const EStreamError&) {
    return false;
  }
}

std::string GetCurrentDir() {
  std::vector<char> buffer(PATH_MAX + 1);
  while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) return std::string();
    buffer.resize(buffer.size() * 2);
  }
  return std::string(buffer.data());
}

bool SetCurrentDir(const std::string& Dir) { return !Dir.empty() && ::chdir(Dir.c_str()) == 0; }

std::string ProgramFileName() {
  std::vector<char> buffer(PATH_MAX + 1);
  for (;;) {
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return std::string();
    if (static_cast<std::size_t>(n) < buffer.size()) return std::string(buffer.data(), n);
    buffer.resize(buffer.size() * 2);
  }
}

std::string ProgramDir() { return ExtractFilePath(ProgramFileName()); }

std::string FormatLogTimeStamp() {
  const std::time_t now = std::time(nullptr);
  std::tm local {};
  ::localtime_r(&now, &local);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  return text;
}

namespace {

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

}  // namespace

bool FileWriteAll(int Handle, const void* Data, std::size_t Size) {
  const char* data = static_cast<const char*>(Data);
  while (Size > 0) {
    const ssize_t n = ::write(Handle, data, Size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    Size -= static_cast<std::size_t>(n);
  }
  return true;
}

namespace {

// Creates a new file with a unique hidden name in Path's directory and returns its
// handle (-1 on failure). Mode 0666 lets the kernel apply the umask, as for any new
// file, without a umask or chmod call per file: batches create thousands of these.
int CreateTemporaryBeside(const std::string& Path, std::string& Temp) {
  static std::atomic<unsigned> counter{0};
  // Names are unique within the process; O_EXCL settles any clash with another one.
  static const std::string process = std::to_string(::getpid());
  // Long names are shortened so the temporary name stays within the name limit.
  std::string name = ExtractFileName(Path);
  constexpr std::size_t kRoom = NAME_MAX - 16;
  if (name.size() + process.size() > kRoom) name.resize(kRoom - process.size());
  const std::string stem = ExtractFilePath(Path) + "." + name + "." + process + "-";
  for (int attempt = 0; attempt < 100; ++attempt) {
    Temp = stem + std::to_string(counter.fetch_add(1, std::memory_order_relaxed));
    const int fd = ::open(Temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

}  // namespace

void WriteFileSafely(const std::string& Path, const void* Data, std::size_t Size, bool Replace, bool Sync) {
  const std::string createMessage = "Cannot create file \"" + Path + "\"";
  if (Path.empty() || Path.back() == PathDelim) throw EFCreateError(createMessage);
  std::string temp;
  const int fd = CreateTemporaryBeside(Path, temp);
  if (fd < 0) throw EFCreateError(createMessage);
  bool ok = FileWriteAll(fd, Data, Size);
  if (ok && Sync) ok = ::fsync(fd) == 0;
  if (::close(fd) != 0) ok = false;
  if (!ok) {
    ::unlink(temp.c_str());
    throw EWriteError("Stream write error");
  }
  const int moved = Replace ? ::rename(temp.c_str(), Path.c_str()) : RenameNoReplace(temp.c_str(), Path.c_str());
  if (moved != 0) {
    const int error = errno;
    ::unlink(temp.c_str());
    if (error == EEXIST) throw EFileExists(createMessage);
    throw EFCreateError(createMessage);
  }
}
