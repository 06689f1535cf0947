// The program's start-up: in this process through RunProgram (a failed load, a
// whole session with the real dialogs), and the built program itself run twice
// from a copy of its directory.

#include "app/Startup.h"
#include "gui/DialogSeam.h"
#include "support/Forms.h"
#include "tests/app/ProgramDirFixture.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QLocalSocket>
#include <QProcess>
#include <QTimer>

#include <csignal>
#include <filesystem>

namespace {

using varnex_test::ProcessUntil;
using varnex_test::ReadFileBytes;
using varnex_test::TempDir;
using varnex_test::WriteFileBytes;

// Every file below Dir, as paths relative to it.
std::vector<std::string> FilesBelow(const std::string& Dir) {
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(Dir))
    files.push_back(std::filesystem::relative(entry.path(), Dir).string());
  return files;
}

bool AnyVisibleWindow() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->isVisible()) return true;
  return false;
}

class StartupTest : public varnex_test::ProgramDirTest {
protected:
  TStartupSetup StartupSetup() {
    TStartupSetup setup;
    setup.LockName = InstanceLockNameFor(Dir.Path());
    setup.Form = Setup();
    return setup;
  }
};

TEST_F(StartupTest, MalformedOutputDirEndsStartUpAfterOneBox) {
  WriteFileBytes(Dir / "Settings.ini", "[MainForm]\r\nOutputDir=/not/quoted\r\n");
  TDialogScript script;
  script.Then(TDialogAnswer::Ok(dkError));
  EXPECT_EQ(RunProgram(StartupSetup()), 0);
  ASSERT_EQ(script.Requests().size(), 1u);
  EXPECT_EQ(script.Requests()[0].Kind, dkError);
  EXPECT_EQ(script.Requests()[0].Caption, "Varnex");
  EXPECT_EQ(script.Requests()[0].Text, "The program cannot load the settings.");
  EXPECT_EQ(MainForm, nullptr);
  EXPECT_EQ(ProgressDialog, nullptr);
  EXPECT_FALSE(AnyVisibleWindow());
  // The file is left for the user to correct.
  EXPECT_EQ(ReadFileBytes(Dir / "Settings.ini"), "[MainForm]\r\nOutputDir=/not/quoted\r\n");
  // The lock was released: it can be taken again.
  TAppInstanceLock again(StartupSetup().LockName);
  EXPECT_TRUE(again.OwnsMutex());
}

TEST_F(StartupTest, WholeSessionWithRealDialogsWritesNoQtSettings) {
  const std::string home = varnex_test::QtTestEnvironment::HomeDir();
  const std::string config = varnex_test::QtTestEnvironment::ConfigDir();
  bool sawColorDialog = false, sawAbout = false, closed = false;
  QTimer::singleShot(50, [&] {
    ASSERT_NE(MainForm, nullptr);
    EXPECT_TRUE(MainForm->isVisible());
    EXPECT_EQ(Application->Title(), "Varnex");
    varnex_test::OnModalWidget([&](QWidget* W) {
      sawColorDialog = W->inherits("QColorDialog");
      static_cast<QDialog*>(W)->accept();
    });
    MainForm->InputLightColorAc->trigger();
    varnex_test::OnModalWidget([&](QWidget* W) {
      sawAbout = W->windowTitle() == QStringLiteral("About");
      W->close();
    });
    MainForm->HelpAboutAc->trigger();
    closed = MainForm->close();
  });
  EXPECT_EQ(RunProgram(StartupSetup()), 0);
  EXPECT_TRUE(sawColorDialog);
  EXPECT_TRUE(sawAbout);
  EXPECT_TRUE(closed);
  EXPECT_EQ(MainForm, nullptr);
  EXPECT_TRUE(FileExists(Dir / "Settings.ini"));
  EXPECT_EQ(FilesBelow(home), std::vector<std::string>{});
  EXPECT_EQ(FilesBelow(config), std::vector<std::string>{});
}

// The built program, copied into a fresh program directory and run offscreen
// with its own empty home and configuration folders.
class ProgramProcessTest : public ::testing::Test {
protected:
  TempDir ProgramDir, Home, Config;
  std::string Exe = ProgramDir / "varnex";

  void SetUp() override {
    const std::string built = std::string(VARNEX_TEST_BINARY_DIR) + "/../bin/varnex";
    if (!FileExists(built)) GTEST_SKIP() << "the program is not built: " << built;
    std::filesystem::copy_file(built, Exe);
  }
  void Start(QProcess& Process) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("HOME"), QString::fromStdString(Home.Path()));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), QString::fromStdString(Config.Path()));
    Process.setProcessEnvironment(env);
    Process.setWorkingDirectory(QString::fromStdString(ProgramDir.Path()));
    Process.start(QString::fromStdString(Exe), QStringList());
    ASSERT_TRUE(Process.waitForStarted(10000));
  }
  // The instance socket of the copied program.
  std::string SocketPath() const {
    return TAppInstanceLock::SocketPath(InstanceLockDirectory(), InstanceLockNameFor(InstanceLockDir(Exe)));
  }
  // True once the running program answers on its instance socket.
  bool Serving() {
    QLocalSocket socket;
    socket.connectToServer(QString::fromStdString(SocketPath()));
    const bool connected = socket.waitForConnected(200);
    socket.abort();
    return connected;
  }
  // The running program's answer to a request to come forward: "1\n" when it raised a window.
  std::string AskToActivate() {
    QLocalSocket socket;
    socket.connectToServer(QString::fromStdString(SocketPath()));
    if (!socket.waitForConnected(2000)) return "no connection";
    socket.write("activate\n");
    socket.flush();
    while (!socket.canReadLine())
      if (!socket.waitForReadyRead(5000)) return "no answer";
    return socket.readLine().toStdString();
  }
};

TEST_F(ProgramProcessTest, SecondStartEndsAtOnceWithZeroWhileTheFirstRuns) {
  QProcess first;
  Start(first);
  ASSERT_TRUE(ProcessUntil([&] { return Serving() || first.state() != QProcess::Running; }, 30000));
  ASSERT_EQ(first.state(), QProcess::Running) << first.readAllStandardError().toStdString();
  // Let the first instance reach its idle moment as well.
  ProcessUntil([] { return false; }, 300);

  QProcess second;
  Start(second);
  ASSERT_TRUE(second.waitForFinished(30000));
  EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second.exitCode(), 0) << second.readAllStandardError().toStdString();
  EXPECT_EQ(first.state(), QProcess::Running);

  first.kill();
  first.waitForFinished(10000);
  // Nothing but the program itself: no log, no settings (the first never closed),
  // and no settings file of Qt's in the home or configuration folders.
  EXPECT_EQ(FilesBelow(ProgramDir.Path()), std::vector<std::string>{"varnex"});
  EXPECT_EQ(FilesBelow(Home.Path()), std::vector<std::string>{});
  EXPECT_EQ(FilesBelow(Config.Path()), std::vector<std::string>{});
}

TEST_F(ProgramProcessTest, IgnoresTheFileSizeSignal) {
  // An ignored signal would stay ignored in the child; the program must set it itself.
  std::signal(SIGXFSZ, SIG_DFL);
  QProcess program;
  Start(program);
  ASSERT_TRUE(ProcessUntil([&] { return Serving() || program.state() != QProcess::Running; }, 30000));
  const std::string status = ReadFileBytes("/proc/" + std::to_string(program.processId()) + "/status");
  program.kill();
  program.waitForFinished(10000);
  const auto at = status.find("\nSigIgn:\t");
  ASSERT_NE(at, std::string::npos) << status;
  EXPECT_NE(std::stoull(status.substr(at + 9, 16), nullptr, 16) & (1ull << (SIGXFSZ - 1)), 0u);
}

TEST_F(ProgramProcessTest, StartUpErrorBoxComesForwardForASecondStart) {
  WriteFileBytes(ProgramDir / "Settings.ini", "[MainForm]\r\nOutputDir=/not/quoted\r\n");
  QProcess first;
  Start(first);
  // The first instance holds the lock while its error box waits for the user.
  ASSERT_TRUE(ProcessUntil([&] { return Serving() || first.state() != QProcess::Running; }, 30000));
  ASSERT_EQ(first.state(), QProcess::Running) << first.readAllStandardError().toStdString();
  EXPECT_EQ(AskToActivate(), "1\n");
  first.kill();
  first.waitForFinished(10000);
}

}  // namespace
