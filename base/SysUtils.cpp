#include "base/SysUtils.h"

#include "base/Exceptions.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
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

namespace {

// A directory itself (not a link to one), owned by this user and writable by nobody else.
bool IsPrivateDirectory(const std::string& Dir) {
  struct stat info {};
  return ::lstat(Dir.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() &&
         (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// Dir, created with mode 0700 when missing, if it is private; "" otherwise. A directory that
// someone else made first fails the check, and the caller moves on to the next place.
std::string MakePrivateDirectory(const std::string& Dir) {
  if (Dir.size() < 2 || Dir[0] != PathDelim) return std::string();
  if (::mkdir(Dir.c_str(), 0700) != 0 && errno != EEXIST) return std::string();
  return IsPrivateDirectory(Dir) ? Dir : std::string();
}

}  // namespace

std::string PrivateLockDirectory(const std::string& RuntimeDir, const std::string& TempBase,
                                 const std::string& CacheBase) {
  const std::string runtime = ExcludeTrailingPathDelimiter(RuntimeDir);
  if (!runtime.empty() && runtime[0] == PathDelim && IsPrivateDirectory(runtime)) return runtime;
  const std::string temp = TempBase.empty() ? std::string()
                                            : MakePrivateDirectory(IncludeTrailingPathDelimiter(TempBase) +
                                                                   "varnex-" + std::to_string(::geteuid()));
  if (!temp.empty() || CacheBase.empty()) return temp;
  ForceDirectories(CacheBase);
  return MakePrivateDirectory(IncludeTrailingPathDelimiter(CacheBase) + "varnex");
}

std::string AbsoluteEnv(const char* Name) {
  const char* value = std::getenv(Name);
  return value != nullptr && value[0] == PathDelim ? std::string(value) : std::string();
}

std::string UserLockDirectory() {
  std::string cache = AbsoluteEnv("XDG_CACHE_HOME");
  const std::string home = AbsoluteEnv("HOME");
  if (cache.empty() && !home.empty()) cache = IncludeTrailingPathDelimiter(home) + ".cache";
  return PrivateLockDirectory(AbsoluteEnv("XDG_RUNTIME_DIR"), "/tmp", cache);
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

