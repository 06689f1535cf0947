// The executable's entry: the application objects, then the program itself.

#include "app/Startup.h"
#include "base/FormatSettings.h"
#include "gui/Application.h"

#include <QApplication>

int main(int argc, char** argv) {
  InitFormatSettings();
  // Qt keeps file-dialog history and custom colours in a settings file of its own;
  // the program writes no file but its glyphs, its log and Settings.ini.
  DisableQtSettingsFiles();
  QApplication qtApplication(argc, argv);
  TApplication application;
  return RunProgram(TStartupSetup::Program());
}
