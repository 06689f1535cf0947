#include "app/Startup.h"

#include "app/ProgressDialogUnit.h"
#include "base/Exceptions.h"
#include "gui/Application.h"
#include "gui/HandlerGuard.h"
#include "gui/WindowSystem.h"
#include "support/Forms.h"

#include <QCoreApplication>

#include <memory>

TStartupSetup TStartupSetup::Program(const TStringList& Parameters) {
  TStartupSetup setup;
  setup.LockName = InstanceLockName();
  setup.Form = TMainFormSetup::Program(Parameters);
  return setup;
}

namespace {

// The forms outlive the lock, as they outlive the entry function of a program
// whose class library destroys its forms last; the progress dialog, made last,
// goes first.
struct TForms {
  std::unique_ptr<TMainForm> Main;
  std::unique_ptr<TProgressDialog> Progress;
  ~TForms() {
    ProgressDialog = nullptr;
    Progress.reset();
    Main.reset();
  }
};

void RunWindows(TAppInstanceLock& Lock, const TStartupSetup& Setup, TForms& Forms) {
  Application->SetTitle("Varnex");
  PrepareWindowActivation();
  // Set before the windows exist, so that a start-up error box is brought forward too.
  Lock.SetActivateHandler([](const std::string& Token) {
    return RaiseInstanceWindow(MainForm, [&Token](QWidget* Target) { ActivateWithToken(Target, Token); });
  });
  Forms.Main = std::make_unique<TMainForm>(Setup.Form);
  // Parented to the main window, the dialog opens centred over it.
  Forms.Progress = std::make_unique<TProgressDialog>(Forms.Main.get());
  ProgressDialog = Forms.Progress.get();
  Forms.Main->OnClosed = [](TObject*) { QCoreApplication::quit(); };
  Forms.Main->show();
  QCoreApplication::exec();
  Lock.SetActivateHandler(std::function<bool(const std::string&)>());
}

}  // namespace

int RunProgram(const TStartupSetup& Setup) {
  TForms forms;
  TAppInstanceLock lock(Setup.LockName);
  if (!lock.OwnsMutex()) {
    lock.ActivateFirstInstance(LauncherActivationToken());
    return 0;
  }
  // The lock is still held while a start-up error is shown, so a second start
  // brings the error box forward instead of starting over.
  try {
    RunWindows(lock, Setup, forms);
  } catch (const Exception& E) {
    RunGuarded([&] { Application->ShowException(E); });
  } catch (...) {
    RunGuarded([] { Application->ShowException(Exception(std::string())); });
  }
  return 0;
}
