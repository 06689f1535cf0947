#pragma once
// Where the program keeps the files it writes, Settings.ini and Log.txt: beside
// itself when the user can write its folder, as a portable folder does; in the
// user's own folders ($XDG_CONFIG_HOME/varnex and $XDG_STATE_HOME/varnex) when
// it cannot, or when the program was installed system-wide (the prefix layout),
// so that no user, root included, writes into a system folder. Chosen once at
// start-up, like the other start-up constants.

#include <string>

// What the choice depends on besides the program's folder.
struct TUserFilesEnvironment {
  // The home folder: $HOME, else the account's home from the password database.
  std::string Home;
  // $XDG_CONFIG_HOME and $XDG_STATE_HOME as set; relative or empty values are ignored.
  std::string ConfigHome;
  std::string StateHome;
  // True for the prefix layout, where the per-user folders are always used.
  bool SystemInstall = false;

  // The running process's environment and install layout.
  static TUserFilesEnvironment Process();
};

struct TUserFiles {
  // The working log.
  std::string LogFileName;
  // The settings file the program reads and writes.
  std::string SettingsFileName;
  // Read instead when SettingsFileName does not exist yet, never written: the
  // Settings.ini of a portable setup in the program folder. Empty when beside the program.
  std::string SettingsFallbackFileName;
  // True when the files are the user's own: their folders are created with
  // user-only access when first needed.
  bool PerUser = false;

  // The choice for the program folder ProgramDir (with its trailing '/').
  static TUserFiles For(const std::string& ProgramDir, const TUserFilesEnvironment& Environment);
  // The running program's choice, made on first use and kept.
  static const TUserFiles& Program();
};

// The permission bits of the per-user folders the program creates.
inline constexpr unsigned UserFilesFolderMode = 0700;
