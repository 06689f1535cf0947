#pragma once
// A copy of the program directory under a temporary folder for the main-window
// tests: the log, the help file and the settings file live there, and the help
// opener only records what it was asked to open.

#include "app/MainFormUnit.h"
#include "app/ProgressDialogUnit.h"
#include "base/SysUtils.h"
#include "gui/Application.h"
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

// Appends Value as Bytes (at most 4) little-endian bytes.
inline void PutLE(std::string& Out, std::uint32_t Value, int Bytes) {
  for (int i = 0; i < Bytes; ++i) Out.push_back(static_cast<char>((Value >> (8 * i)) & 0xFF));
}

// A 24-bit 3 x 2 BMP: a white background with one black pixel at the top left.
inline std::string SmallGlyphBmp() {
  const int width = 3, height = 2, row = 12;
  std::string bmp = "BM";
  PutLE(bmp, 54 + row * height, 4);
  PutLE(bmp, 0, 4);
  PutLE(bmp, 54, 4);
  PutLE(bmp, 40, 4);
  PutLE(bmp, width, 4);
  PutLE(bmp, height, 4);
  PutLE(bmp, 1, 2);
  PutLE(bmp, 24, 2);
  PutLE(bmp, 0, 4);
  PutLE(bmp, row * height, 4);
  PutLE(bmp, 2835, 4);
  PutLE(bmp, 2835, 4);
  PutLE(bmp, 0, 4);
  PutLE(bmp, 0, 4);
  // Rows bottom-up: the bottom row is all white, the top row starts with black.
  std::string bottom(9, '\xFF'), top = std::string(3, '\0') + std::string(6, '\xFF');
  bottom.resize(row, '\0');
  top.resize(row, '\0');
  return bmp + bottom + top;
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
