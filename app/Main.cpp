// The executable's entry: the application objects, then the program itself.

#include "app/Startup.h"
#include "base/FormatSettings.h"
#include "gui/Application.h"

#include <QApplication>

#include <csignal>

int main(int argc, char** argv) {
  // A write past the file-size limit fails with EFBIG, like one to a full disk.
  std::signal(SIGXFSZ, SIG_IGN);
  InitFormatSettings();
  // Qt keeps file-dialog history and custom colours in a settings file of its own;
  // the program writes no file but its glyphs, its log and Settings.ini.
  DisableQtSettingsFiles();
  QApplication qtApplication(argc, argv);
  TApplication application;
  return RunProgram(TStartupSetup::Program());
}
