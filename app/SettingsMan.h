#pragma once
// The Settings manager: restores the main window's position, the file dialogs'
// filters, the three inputs and the current directory from Settings.ini, and
// writes them back when the main window closes.

#include "base/Classes.h"
#include "base/Exceptions.h"

#include <string>

// The settings file: "Settings.ini" in the program directory, fixed at start-up.
extern const std::string SettingsFileName;
// The message of a failed load.
inline const std::string SettingsLoadError = "The program cannot load the settings.";
// The message of a failed save.
inline const std::string SettingsSaveError = "The program cannot save the settings.";

// The manager's exception.
VARNEX_DECLARE_EXCEPTION(ESettingsManError, Exception);

// Keeps the user's settings across runs; reaches the live values through MainForm.
class TSettingsMan : public TObject {
public:
  // A manager for the settings file FileName.
  explicit TSettingsMan(const std::string& FileName = ::SettingsFileName);

  // Applies the settings file if there is one; ESettingsManError for a malformed string value.
  void Load();
  // Rewrites the settings file from the current values; ESettingsManError when that fails.
  void Save();

  // The path of the settings file.
  const std::string& FileName() const;

private:
  std::string FFileName;
};
