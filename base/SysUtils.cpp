#include "base/SysUtils.h"

#include "base/Exceptions.h"
#include "base/FileIO.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <sys/stat.h>
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

bool ForceDirectories(const std::string& Dir) { return ForceDirectories(Dir, 0777); }

bool ForceDirectories(const std::string& Dir, unsigned Mode) {
  if (Dir.empty()) throw EInOutError("Unable to create directory");
  const std::string dir = ExcludeTrailingPathDelimiter(Dir);
  if (DirectoryExists(dir)) return true;
  const std::string parent = ExtractFileDir(dir);
  if (!parent.empty() && parent != dir && !ForceDirectories(parent, Mode)) return false;
  return ::mkdir(dir.c_str(), static_cast<mode_t>(Mode)) == 0 || (errno == EEXIST && DirectoryExists(dir));
}

bool DeleteFile(const std::string& Path) {
  return !Path.empty() && !DirectoryExists(Path) && ::unlink(Path.c_str()) == 0;
}

bool CopyFile(const std::string& Source, const std::string& Target, bool FailIfExists) {
  // A log of even a very long batch stays far below this.
  constexpr std::uint64_t kMaxCopyBytes = std::uint64_t{1} << 30;
  try {
    const std::string data = ReadFileBounded(Source, kMaxCopyBytes);
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

void WriteFileSafely(const std::string& Path, const void* Data, std::size_t Size, bool Replace, bool Sync) {
  TNewFile file(Path, Replace, Sync);
  file.Write(Data, Size);
  file.Commit();
}
