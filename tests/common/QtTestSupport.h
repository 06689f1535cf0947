#pragma once
// One offscreen QApplication (and the program's TApplication) per test program.
// Including this header registers a GoogleTest environment that creates them
// before the first test and destroys them after the last. HOME, XDG_CONFIG_HOME,
// XDG_CACHE_HOME and XDG_RUNTIME_DIR point at fresh temporary folders for the
// whole program, so nothing a test runs can write into the real home directory.

#include "gui/Application.h"
#include "tests/common/TestSupport.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

namespace varnex_test {

// The environment that owns the test program's application objects.
class QtTestEnvironment : public ::testing::Environment {
public:
  void SetUp() override {
    FHome = std::make_unique<TempDir>();
    FConfig = std::make_unique<TempDir>();
    FCache = std::make_unique<TempDir>();
    FRuntime = std::make_unique<TempDir>();
    ::setenv("HOME", FHome->Path().c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", FConfig->Path().c_str(), 1);
    ::setenv("XDG_CACHE_HOME", FCache->Path().c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", FRuntime->Path().c_str(), 1);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // The offscreen platform reports every window feature it lacks; that is noise here.
    FPreviousHandler = qInstallMessageHandler([](QtMsgType Type, const QMessageLogContext& Context, const QString& Text) {
      if (Text.startsWith(QStringLiteral("This plugin does not support"))) return;
      if (FPreviousHandler != nullptr) FPreviousHandler(Type, Context, Text);
    });
    FApp = std::make_unique<QApplication>(FArgc, FArgv);
    QApplication::setQuitOnLastWindowClosed(false);
    FApplication = std::make_unique<TApplication>();
  }
  void TearDown() override {
    FApplication.reset();
    FApp.reset();
  }

  // The temporary folder that stands in for HOME.
  static const std::string& HomeDir() { return Instance()->FHome->Path(); }
  // The temporary folder that stands in for XDG_CONFIG_HOME.
  static const std::string& ConfigDir() { return Instance()->FConfig->Path(); }
  // The registered environment.
  static QtTestEnvironment* Instance() { return FInstance; }
  // Registers the environment once; called by the header's inline variable.
  static bool Register() {
    FInstance = new QtTestEnvironment;
    ::testing::AddGlobalTestEnvironment(FInstance);
    return true;
  }

private:
  int FArgc = 1;
  char FArg0[8] = "varnex";
  char* FArgv[2] = {FArg0, nullptr};
  std::unique_ptr<TempDir> FHome, FConfig, FCache, FRuntime;
  std::unique_ptr<QApplication> FApp;
  std::unique_ptr<TApplication> FApplication;
  static inline QtTestEnvironment* FInstance = nullptr;
  static inline QtMessageHandler FPreviousHandler = nullptr;
};

inline const bool QtTestEnvironmentRegistered = QtTestEnvironment::Register();

// Runs Action on the modal widget that is active once one is, polling from the event
// loop; gives up (and records a failure) after TimeoutMs.
inline void OnModalWidget(const std::function<void(QWidget*)>& Action, int TimeoutMs = 10000) {
  auto* timer = new QTimer;
  auto started = std::chrono::steady_clock::now();
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, [timer, Action, started, TimeoutMs] {
    if (QWidget* modal = QApplication::activeModalWidget()) {
      timer->stop();
      timer->deleteLater();
      Action(modal);
      return;
    }
    if (std::chrono::steady_clock::now() - started > std::chrono::milliseconds(TimeoutMs)) {
      timer->stop();
      timer->deleteLater();
      ADD_FAILURE() << "no modal widget appeared";
    }
  });
  timer->start();
}

}  // namespace varnex_test
