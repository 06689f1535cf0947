#include "app/HelpMan.h"

#include "base/SysUtils.h"
#include "gui/MessageBoxes.h"

#include <QDesktopServices>
#include <QFile>
#include <QString>
#include <QUrl>

const std::string HelpFileName = ProgramDir() + "Help/index.html";
const std::string AboutText = std::string("Varnex version ") + VARNEX_VERSION + "\r\n\r\nThe Varnex developers";

bool OpenWithDesktop(const std::string& Path) {
  return QDesktopServices::openUrl(QUrl::fromLocalFile(QFile::decodeName(QByteArray::fromStdString(Path))));
}

THelpMan::THelpMan(const std::string& HelpPath, TOpenDocument Open)
    : FHelpFileName(HelpPath), FOpen(Open ? std::move(Open) : TOpenDocument(&OpenWithDesktop)) {}

const std::string& THelpMan::HelpFileName() const { return FHelpFileName; }

bool THelpMan::ShowHelp(bool Ask) {
  if (Ask && !QuestionBox("The program opens the file \"" + FHelpFileName + "\".\r\n\r\nContinue?")) return false;
  // The desktop's opener reports success for a missing file (the viewer fails
  // later, out of sight), so a missing file is caught here.
  if (!FileExists(FHelpFileName) || !FOpen(FHelpFileName)) throw EHelpManError("The program cannot open the help.");
  return true;
}

void THelpMan::ShowAbout() { ShowMessageBox(dkInformation, AboutCaption, AboutText); }
