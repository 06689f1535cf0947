// The executable's entry: the application objects, then the program itself.

#include "app/Startup.h"
#include "base/FormatSettings.h"
#include "gui/Application.h"
#include "gui/WindowSystem.h"

#include <QApplication>

#include <csignal>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  // A write past the file-size limit fails with EFBIG, like one to a full disk.
  std::signal(SIGXFSZ, SIG_IGN);
  InitFormatSettings();
  // Qt keeps file-dialog history and custom colours in a settings file of its own;
  // the program writes no file but its glyphs, its log and Settings.ini.
  DisableQtSettingsFiles();
  // Qt sees the program's name only: it would take options such as -reverse,
  // -style or -platform out of the command line and obey them, while the program
  // accepts no parameters at all and warns about every one.
  static char fallbackName[] = "varnex";
  int qtArgc = 1;
  char* qtArgv[] = {argc > 0 && argv[0] != nullptr ? argv[0] : fallbackName, nullptr};
  QApplication qtApplication(qtArgc, qtArgv);
  // The desktop entry's name, by which a Wayland compositor knows the program's windows.
  QGuiApplication::setDesktopFileName(QStringLiteral("varnex"));
  TApplication application;
  const TStringList parameters = argc > 1 ? TStringList(argv + 1, argv + argc) : TStringList();
  const int code = RunProgram(TStartupSetup::Program(parameters));
  // Qt 6.4's Wayland client can wait forever at the teardown of its connection for
  // its own event thread, which waits for a read that never comes. By now every file
  // of the program is written and closed and its lock released, so on Wayland the
  // process ends here instead.
  if (PlatformIsWayland()) {
    std::fflush(nullptr);
    std::_Exit(code);
  }
  return code;
}
