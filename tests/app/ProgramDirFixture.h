#pragma once
// A copy of the program directory under a temporary folder for the main-window
// tests: the log, the help file and the settings file live there, and the help
// opener only records what it was asked to open.

#include "app/MainFormUnit.h"
#include "app/ProgressDialogUnit.h"
#include "base/SysUtils.h"
#include "gui/Application.h"
#include "tests/common/BmpFixtures.h"
#include "tests/common/QtTestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace varnex_test {

// A 24-bit 3 x 2 BMP: a white background with one black pixel at the top left.
inline std::string SmallGlyphBmp() {
  TBmpFixture f;
  f.Width = 3;
  f.Height = 2;
  f.Pixels = {0x000000, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF};
  return BuildBmp(f);
}

// Runs an event loop until Done() or TimeoutMs; false on timeout. A real loop,
// unlike processEvents, waits for events and so reaches the idle moment.
inline bool ProcessUntil(const std::function<bool()>& Done, int TimeoutMs = 10000) {
  QElapsedTimer elapsed;
  elapsed.start();
  QEventLoop loop;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (Done() || elapsed.elapsed() > TimeoutMs) loop.quit();
  });
  poll.start(10);
  if (!Done()) loop.exec();
  return Done();
}

// The temporary program directory, the progress dialog and the current directory,
// restored at the end.
class ProgramDirTest : public ::testing::Test {
protected:
  TempDir Dir;
  TProgressDialog Dialog;
  std::string SavedCurrentDir = GetCurrentDir();
  std::vector<std::string> Opened;
  bool OpenResult = true;

  void SetUp() override {
    Application->SetTitle("Varnex");
    ProgressDialog = &Dialog;
  }
  void TearDown() override {
    ProgressDialog = nullptr;
    SetCurrentDir(SavedCurrentDir);
  }

  // The setup of a program installed in Dir.
  TMainFormSetup Setup(TStringList Parameters = {}) {
    TMainFormSetup setup;
    setup.LogFileName = Dir / "Log.txt";
    setup.HelpFileName = Dir / "Help/index.html";
    setup.SettingsFileName = Dir / "Settings.ini";
    setup.Parameters = std::move(Parameters);
    setup.OpenDocument = [this](const std::string& Path) {
      Opened.push_back(Path);
      return OpenResult;
    };
    return setup;
  }
};

}  // namespace varnex_test
