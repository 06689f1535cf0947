#include "app/HelpMan.h"

#include "base/SysUtils.h"
#include "gui/MessageBoxes.h"

#include "gui/HandlerGuard.h"
#include "gui/WindowSystem.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStandardPaths>
#include <QString>
#include <QTimer>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

const std::string HelpFileName = ProgramDir() + "Help/index.html";
const std::string AboutText = std::string("Varnex version ") + VARNEX_VERSION + "\r\n\r\nThe Varnex developers";

namespace {

// How often the window looks for the opener's verdict while it may still come.
constexpr int VerdictPollMs = 100;

// The environment of the opener: the program's own without the token it was
// started with, which is used up, plus a new one where the platform hands them
// out, which lets the viewer come to the front.
std::vector<std::string> OpenerEnvironment() {
  std::vector<std::string> environment;
  const std::string token = RequestActivationToken();
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string item(*entry);
    if (item.rfind("XDG_ACTIVATION_TOKEN=", 0) == 0 || item.rfind("DESKTOP_STARTUP_ID=", 0) == 0) continue;
    environment.push_back(item);
  }
  if (!token.empty()) environment.push_back((PlatformIsWayland() ? "XDG_ACTIVATION_TOKEN=" : "DESKTOP_STARTUP_ID=") + token);
  return environment;
}

// Starts Program with Path; the pid, or -1 when it could not be started.
pid_t Spawn(const std::string& Program, const std::string& Path) {
  std::vector<std::string> environment = OpenerEnvironment();
  std::vector<char*> envp;
  for (std::string& item : environment) envp.push_back(item.data());
  envp.push_back(nullptr);
  std::string program = Program;
  std::string path = Path;
  char* argv[] = {program.data(), path.data(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  // The viewer reads nothing from the program's own input.
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  pid_t pid = -1;
  const int error = posix_spawn(&pid, Program.c_str(), &actions, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  return error == 0 ? pid : -1;
}

}  // namespace

bool StartHelpOpener(const std::string& Program, const std::string& Path, int VerdictMs) {
  if (Program.empty()) return false;
  const pid_t pid = Spawn(Program, Path);
  if (pid < 0) return false;
  // The opener may wait for the viewer as long as the page is open, so it is
  // waited for out of the window's way; the thread also reaps it.
  // Shared by the waiting thread and the timer that reads the verdict: -1 while
  // the opener runs, then its wait status.
  auto status = std::make_shared<std::atomic<int>>(-1);
  std::thread([pid, status] {
    int result = 0;
    while (::waitpid(pid, &result, 0) < 0 && errno == EINTR) {
    }
    status->store(result);
  }).detach();
  auto* timer = new QTimer(QCoreApplication::instance());
  QElapsedTimer clock;
  clock.start();
  QObject::connect(timer, &QTimer::timeout, timer, [timer, clock, status, VerdictMs] {
    const int result = status->load();
    const bool ended = result != -1;
    if (!ended && clock.elapsed() < VerdictMs) return;
    timer->deleteLater();
    if (ended && !(WIFEXITED(result) && WEXITSTATUS(result) == 0))
      RunGuarded([] { throw EHelpManError("The program cannot open the help."); });
  });
  timer->start(VerdictPollMs);
  return true;
}

bool OpenWithDesktop(const std::string& Path) {
  return StartHelpOpener(QStandardPaths::findExecutable(QStringLiteral("xdg-open")).toStdString(), Path);
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
