#include "app/HelpMan.h"

#include "base/SysUtils.h"
#include "gui/MessageBoxes.h"

#include <QDesktopServices>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QUrl>

const std::string HelpFileName = ProgramDir() + "Help/index.html";
const std::string AboutText = std::string("Varnex version ") + VARNEX_VERSION + "\r\n\r\nThe Varnex developers";

namespace {

// Whether the desktop has a program for HTML files. Its opener (xdg-open) is
// started, and reported as a success, even when it has none and then fails out
// of sight; so the desktop's own table is asked first. A query that cannot run
// or does not answer in time leaves the decision to the opener.
bool DesktopHasHtmlViewer() {
  const QString query = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
  if (query.isEmpty() || QStandardPaths::findExecutable(QStringLiteral("xdg-open")).isEmpty()) return true;
  QProcess process;
  process.setProcessChannelMode(QProcess::SeparateChannels);
  process.setStandardInputFile(QProcess::nullDevice());
  process.start(query, {QStringLiteral("query"), QStringLiteral("default"), QStringLiteral("text/html")});
  if (!process.waitForFinished(3000)) {
    process.kill();
    process.waitForFinished();
    return true;
  }
  if (process.exitStatus() != QProcess::NormalExit) return true;
  return !process.readAllStandardOutput().trimmed().isEmpty();
}

}  // namespace

bool OpenWithDesktop(const std::string& Path) {
  return DesktopHasHtmlViewer() &&
         QDesktopServices::openUrl(QUrl::fromLocalFile(QFile::decodeName(QByteArray::fromStdString(Path))));
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
