#pragma once
// The Help manager: the help file beside the program and the About box.

#include "base/Classes.h"
#include "base/Exceptions.h"

#include <functional>
#include <string>

// The help file: "Help/index.html" in the program directory, fixed at start-up.
extern const std::string HelpFileName;
// The caption of the About box.
inline const std::string AboutCaption = "About";
// The About box's text: the version line, an empty line and the maker's line.
extern const std::string AboutText;

// The manager's exception.
VARNEX_DECLARE_EXCEPTION(EHelpManError, Exception);

// Opens a document in the user's viewer; true when a viewer took it.
using TOpenDocument = std::function<bool(const std::string& Path)>;

// Hands the help file to the user's viewer and shows the About box.
class THelpMan : public TObject {
public:
  // A manager for the help file HelpPath, opened by Open (the desktop's viewer when empty).
  explicit THelpMan(const std::string& HelpPath = ::HelpFileName, TOpenDocument Open = {});

  // Opens the help after a question when Ask; false when declined, EHelpManError when it cannot be opened.
  bool ShowHelp(bool Ask);
  // Shows the About box.
  void ShowAbout();

  // The path of the help file.
  const std::string& HelpFileName() const;

private:
  std::string FHelpFileName;
  TOpenDocument FOpen;
};

// How long a failure of the help opener is still reported to the user.
constexpr int OpenerVerdictMs = 5000;
// Starts the opener Program with Path, without waiting for it; false when it cannot be
// started. A failure that it reports within VerdictMs shows "The program cannot open the help.".
bool StartHelpOpener(const std::string& Program, const std::string& Path, int VerdictMs = OpenerVerdictMs);
// Hands Path to the desktop's opener (xdg-open), which finds the viewer by its own rules.
bool OpenWithDesktop(const std::string& Path);
