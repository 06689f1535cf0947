#pragma once
// The Settings manager: restores the main window's position, the file dialogs'
// filters, the three inputs and the current directory from Settings.ini, and
// writes them back when the main window closes.

#include "base/Classes.h"
#include "base/Exceptions.h"

#include <string>

// The settings file, fixed at start-up: "Settings.ini" in the program directory,
// or in the user's configuration folder when the program's is protected (UserFiles.h).
extern const std::string SettingsFileName;
// The program directory's "Settings.ini" when SettingsFileName is elsewhere, else empty.
extern const std::string SettingsFallbackFileName;
// The message of a failed load.
inline const std::string SettingsLoadError = "The program cannot load the settings.";
// The message of a failed save.
inline const std::string SettingsSaveError = "The program cannot save the settings.";

// The manager's exception.
VARNEX_DECLARE_EXCEPTION(ESettingsManError, Exception);

// Keeps the user's settings across runs; reaches the live values through MainForm.
class TSettingsMan : public TObject {
public:
  // A manager for the settings file FileName. FallbackFileName is read instead
  // while FileName does not exist, and never written. With CreateFolder, Save
  // first creates the file's missing folders with user-only access.
  explicit TSettingsMan(const std::string& FileName = ::SettingsFileName,
                        const std::string& FallbackFileName = std::string(), bool CreateFolder = false);

  // Applies the settings file if there is one, else the fallback; ESettingsManError
  // for a malformed string value in the settings file (the fallback's faults are skipped).
  void Load();
  // Rewrites the settings file from the current values; ESettingsManError when that fails.
  void Save();

  // The path of the settings file.
  const std::string& FileName() const;

private:
  void LoadFrom(const std::string& Source);

  std::string FFileName;
  std::string FFallbackFileName;
  bool FCreateFolder;
};
