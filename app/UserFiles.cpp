#include "app/UserFiles.h"

#include "base/SysUtils.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace {

std::string Variable(const char* Name) {
  const char* value = std::getenv(Name);
  return value != nullptr ? std::string(value) : std::string();
}

std::string AccountHome() {
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
  passwd entry {};
  passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr ||
      found->pw_dir == nullptr)
    return std::string();
  return found->pw_dir;
}

// A base folder of the user's: VALUE when it is an absolute path, else HOME + DEFAULT.
std::string BaseFolder(const std::string& Value, const std::string& Home, const char* Default) {
  if (!Value.empty() && Value.front() == PathDelim) return IncludeTrailingPathDelimiter(Value);
  if (Home.empty() || Home.front() != PathDelim) return std::string();
  return IncludeTrailingPathDelimiter(Home) + Default;
}

}  // namespace

TUserFilesEnvironment TUserFilesEnvironment::Process() {
  TUserFilesEnvironment environment;
  environment.Home = Variable("HOME");
  if (environment.Home.empty()) environment.Home = AccountHome();
  environment.ConfigHome = Variable("XDG_CONFIG_HOME");
  environment.StateHome = Variable("XDG_STATE_HOME");
#ifdef VARNEX_PREFIX_LAYOUT
  environment.SystemInstall = true;
#endif
  return environment;
}

TUserFiles TUserFiles::For(const std::string& ProgramDir, const TUserFilesEnvironment& Environment) {
  TUserFiles files;
  files.LogFileName = ProgramDir + "Log.txt";
  files.SettingsFileName = ProgramDir + "Settings.ini";
  if (!Environment.SystemInstall && ::access(ProgramDir.c_str(), W_OK | X_OK) == 0) return files;
  const std::string config = BaseFolder(Environment.ConfigHome, Environment.Home, ".config/");
  const std::string state = BaseFolder(Environment.StateHome, Environment.Home, ".local/state/");
  // Without a home there is no per-user place: the files stay beside the
  // program, and writing them fails with the usual messages.
  if (config.empty() || state.empty()) return files;
  files.SettingsFallbackFileName = files.SettingsFileName;
  files.SettingsFileName = config + "varnex/Settings.ini";
  files.LogFileName = state + "varnex/Log.txt";
  files.PerUser = true;
  return files;
}

const TUserFiles& TUserFiles::Program() {
  static const TUserFiles files = For(ProgramDir(), TUserFilesEnvironment::Process());
  return files;
}
