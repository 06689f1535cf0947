#include "support/Forms.h"

#include "base/SysUtils.h"
#include "tests/common/TestSupport.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

// The test program re-runs itself in these roles to act as another instance.
const char* const RoleVar = "VARNEX_FORMS_TEST_ROLE";
const char* const LockNameVar = "VARNEX_FORMS_TEST_LOCK";
const char* const MarkerVar = "VARNEX_FORMS_TEST_MARKER";
const char* const AnswerVar = "VARNEX_FORMS_TEST_ANSWER";
const char* const LockDirVar = "VARNEX_FORMS_TEST_LOCK_DIR";
// A child reports on this descriptor; its stdout carries gtest's banner.
constexpr int ReportFd = 3;

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : value;
}

// First instance: takes the lock, reports, and serves until killed (or a minute passes).
int RunHoldRole() {
  static int argc = 1;
  static char arg0[] = "hold";
  static char* argv[] = {arg0, nullptr};
  QCoreApplication app(argc, argv);
  TAppInstanceLock lock(Env(LockNameVar));
  const std::string marker = Env(MarkerVar);
  const bool answer = Env(AnswerVar) == "1";
  lock.SetActivateHandler([&] {
    varnex_test::WriteFileBytes(marker, "asked");
    return answer;
  });
  ::dprintf(ReportFd, "owns=%d prop=%d\n", lock.OwnsMutex() ? 1 : 0, lock.OwnsProp() ? 1 : 0);
  if (!lock.OwnsMutex()) return 3;
  QTimer::singleShot(60000, &app, &QCoreApplication::quit);
  return app.exec();
}

// Second instance, as the entry function does it: 10 = got the lock, 11 = activated, 12 = not.
int RunSecondRole() {
  static int argc = 1;
  static char arg0[] = "second";
  static char* argv[] = {arg0, nullptr};
  QCoreApplication app(argc, argv);
  TAppInstanceLock lock(Env(LockNameVar));
  if (lock.OwnsMutex()) return 10;
  return lock.ActivateFirstInstance(LauncherActivationToken()) ? 11 : 12;
}

// A first instance of an earlier version, which knows only the request without a
// token; it holds the lock, notes each request line in the marker and answers the old way.
int RunOldHoldRole() {
  static int argc = 1;
  static char arg0[] = "oldhold";
  static char* argv[] = {arg0, nullptr};
  QCoreApplication app(argc, argv);
  const std::string dir = InstanceLockDirectory(), name = Env(LockNameVar), marker = Env(MarkerVar);
  const int fd = ::open(TAppInstanceLock::LockFilePath(dir, name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) return 3;
  const std::string path = TAppInstanceLock::SocketPath(dir, name);
  ::unlink(path.c_str());
  QLocalServer server;
  if (!server.listen(QString::fromStdString(path))) return 4;
  QObject::connect(&server, &QLocalServer::newConnection, [&] {
    QLocalSocket* socket = server.nextPendingConnection();
    QObject::connect(socket, &QLocalSocket::readyRead, [socket, marker] {
      if (!socket->canReadLine()) return;
      const QByteArray line = socket->readLine();
      std::ofstream(marker, std::ios::app | std::ios::binary) << line.toStdString();
      socket->write(line == "activate\n" ? "1\n" : "0\n");
      socket->disconnectFromServer();
    });
  });
  ::dprintf(ReportFd, "ready\n");
  QTimer::singleShot(60000, &app, &QCoreApplication::quit);
  return app.exec();
}

// Another user's process: 1 = it opened the lock file in LockDirVar, 2 = it reached the socket there.
int RunIntruderRole() {
  static int argc = 1;
  static char arg0[] = "intruder";
  static char* argv[] = {arg0, nullptr};
  QCoreApplication app(argc, argv);
  const std::string name = Env(LockNameVar), dir = Env(LockDirVar);
  int reached = 0;
  const int fd = ::open(TAppInstanceLock::LockFilePath(dir, name).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd >= 0) reached |= 1;
  QLocalSocket socket;
  socket.connectToServer(QString::fromStdString(TAppInstanceLock::SocketPath(dir, name)));
  if (socket.waitForConnected(1000)) reached |= 2;
  return reached;
}

// Runs the child role this process was started in, if any, and ends the process.
void RunChildRoleIfAsked() {
  const std::string role = Env(RoleVar);
  if (role.empty()) return;
  int code = 2;
  if (role == "hold") code = RunHoldRole();
  if (role == "second") code = RunSecondRole();
  if (role == "oldhold") code = RunOldHoldRole();
  if (role == "intruder") code = RunIntruderRole();
  if (role == "name") code = ::dprintf(ReportFd, "%s\n", InstanceLockName().c_str()) > 0 ? 0 : 1;
  ::_exit(code);
}

// One QApplication for the whole test program. A child role runs from here, once
// every module is initialised, and never reaches the tests.
class QtAppEnvironment : public ::testing::Environment {
public:
  void SetUp() override {
    RunChildRoleIfAsked();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    FApp = std::make_unique<QApplication>(FArgc, FArgv);
  }
  void TearDown() override { FApp.reset(); }

private:
  int FArgc = 1;
  char FArg0[12] = "FormsTest";
  char* FArgv[2] = {FArg0, nullptr};
  std::unique_ptr<QApplication> FApp;
};
[[maybe_unused]] const auto* const AppEnvironment = ::testing::AddGlobalTestEnvironment(new QtAppEnvironment);

// Another copy of a test program in one of the roles above, killed if still running at the end.
class TChild {
public:
  // Runs Program, behind the Prefix command (such as one that changes the user) when given.
  TChild(const std::string& program, const std::vector<std::string>& settings,
         const std::vector<std::string>& prefix = {}) {
    std::vector<std::string> env;
    // gtest settings such as sharding could leave the child with no test, and so no environment set-up.
    for (char** entry = environ; *entry != nullptr; ++entry)
      if (std::string(*entry).rfind("GTEST_", 0) != 0) env.emplace_back(*entry);
    env.insert(env.end(), settings.begin(), settings.end());
    std::vector<char*> envp;
    for (auto& entry : env) envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::vector<std::string> args = prefix;
    args.push_back(program);
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], ReportFd);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    if (::posix_spawn(&FPid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) FPid = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    FOut = fds[0];
  }
  TChild(const TChild&) = delete;
  TChild& operator=(const TChild&) = delete;
  ~TChild() {
    Kill();
    if (FOut >= 0) ::close(FOut);
  }

  // One line of the child's output without its '\n', or "" after 10 s.
  std::string ReadLine() {
    std::string line;
    char c = 0;
    pollfd ready{FOut, POLLIN, 0};
    while (FOut >= 0 && ::poll(&ready, 1, 10000) > 0 && ::read(FOut, &c, 1) == 1) {
      if (c == '\n') return line;
      line += c;
    }
    return line;
  }
  // The child's exit code, serving this process's events meanwhile; -1 when it runs on past 10 s.
  int WaitExit() {
    const QDeadlineTimer deadline(10000);
    while (FPid > 0 && !deadline.hasExpired()) {
      int status = 0;
      if (::waitpid(FPid, &status, WNOHANG) == FPid) {
        FPid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
      ::usleep(5000);
    }
    return -1;
  }
  // Ends the child with SIGKILL and reaps it.
  void Kill() {
    if (FPid <= 0) return;
    ::kill(FPid, SIGKILL);
    ::waitpid(FPid, nullptr, 0);
    FPid = -1;
  }
  bool Started() const { return FPid > 0; }

private:
  pid_t FPid = -1;
  int FOut = -1;
};

// Each test gets its own runtime directory and lock names no other test run uses.
class InstanceLockTest : public ::testing::Test {
protected:
  void SetUp() override {
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    FHadRuntimeDir = old != nullptr;
    if (FHadRuntimeDir) FOldRuntimeDir = old;
    ::setenv("XDG_RUNTIME_DIR", FRuntime.Path().c_str(), 1);
  }
  void TearDown() override {
    if (FHadRuntimeDir) ::setenv("XDG_RUNTIME_DIR", FOldRuntimeDir.c_str(), 1);
    else ::unsetenv("XDG_RUNTIME_DIR");
  }
  std::string UniqueName(const std::string& tag = "") const {
    return "VarnexTest_" + std::to_string(::getpid()) + "_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name() + tag;
  }
  TChild StartChild(const std::string& role, const std::string& name, bool answer = false) const {
    return TChild(ProgramFileName(), {std::string(RoleVar) + "=" + role, std::string(LockNameVar) + "=" + name,
                                      std::string(MarkerVar) + "=" + Marker(),
                                      std::string(AnswerVar) + "=" + (answer ? "1" : "0")});
  }
  std::string Marker() const { return FRuntime / "hook-called"; }

  varnex_test::TempDir FRuntime;

private:
  bool FHadRuntimeDir = false;
  std::string FOldRuntimeDir;
};

// Sends Request to the lock's server from this process and returns its answer line.
std::string AskRaw(const std::string& name, const QByteArray& request) {
  QLocalSocket socket;
  socket.connectToServer(QString::fromStdString(TAppInstanceLock::SocketPath(InstanceLockDirectory(), name)));
  if (!socket.waitForConnected(1000)) return "no connection";
  socket.write(request);
  const QDeadlineTimer deadline(3000);
  while (!socket.canReadLine() && socket.state() == QLocalSocket::ConnectedState && !deadline.hasExpired())
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  return socket.readLine().toStdString();
}

TEST(InstanceLockName, KnownDirectoryAndLetterCase) {
  EXPECT_EQ(InstanceLockNameFor("C:\\TOOLS"), "Varnex_InstanceLock_N6EE3C32D");
  EXPECT_EQ(InstanceLockNameFor("c:\\tools"), "Varnex_InstanceLock_N6EE3C32D");
  EXPECT_EQ(InstanceLockNameFor("/opt/Tools"), InstanceLockNameFor("/OPT/TOOLS"));
  EXPECT_EQ(InstanceLockNameFor("/opt/m\xC3\xBCller"), InstanceLockNameFor("/OPT/M\xC3\x9CLLER"));
  EXPECT_NE(InstanceLockNameFor("/opt/one"), InstanceLockNameFor("/opt/two"));
  EXPECT_NE(InstanceLockNameFor("/opt/a\xFF"), InstanceLockNameFor("/opt/a\xFE"));
}

TEST(InstanceLockName, SimpleUpperCasingOfEveryUtf8Length) {
  EXPECT_EQ(UpperCaseFileName("/usr/local/bin-2"), "/USR/LOCAL/BIN-2");
  EXPECT_EQ(UpperCaseFileName("\xC3\xA9\xCF\x83"), "\xC3\x89\xCE\xA3");      // e-acute, sigma
  EXPECT_EQ(UpperCaseFileName("\xC7\x86"), "\xC7\x84");                      // dz digraph, U+01C6
  EXPECT_EQ(UpperCaseFileName("\xE1\xB8\x81"), "\xE1\xB8\x80");              // U+1E01
  EXPECT_EQ(UpperCaseFileName("\xF0\x90\x90\xA8"), "\xF0\x90\x90\x80");      // Deseret, U+10428
  EXPECT_EQ(UpperCaseFileName("stra\xC3\x9F" "e"), "STRA\xC3\x9F" "E");      // sharp s has no simple upper case
}

TEST(InstanceLockName, InvalidUtf8BytesStayAsTheyAre) {
  EXPECT_EQ(UpperCaseFileName("a\xFF" "b"), "A\xFF" "B");
  EXPECT_EQ(UpperCaseFileName("a\xC3"), "A\xC3");                  // cut short at the end
  EXPECT_EQ(UpperCaseFileName("\xC3" "a"), "\xC3" "A");            // lead byte without continuation
  EXPECT_EQ(UpperCaseFileName("\xC0\xAF" "x"), "\xC0\xAF" "X");    // overlong '/'
  EXPECT_EQ(UpperCaseFileName("\xED\xA0\x80" "x"), "\xED\xA0\x80" "X");  // surrogate
  EXPECT_EQ(UpperCaseFileName(std::string("a\0b", 3)), std::string("A\0B", 3));
}

TEST(InstanceLockName, DirectoryCutOfTheProgramPath) {
  EXPECT_EQ(InstanceLockDir("/usr/bin/varnex"), "/usr/bin");
  EXPECT_EQ(InstanceLockDir("/varnex"), "/");
  EXPECT_EQ(InstanceLockDir("varnex"), "");
  EXPECT_EQ(InstanceLockDir("/opt/a:/varnex"), "/opt/a:");
  EXPECT_EQ(InstanceLockDir("//varnex"), "//");
  EXPECT_EQ(InstanceLockDir("/opt/x//varnex"), "/opt/x//");
}

TEST(InstanceLockName, CopiesShareALockOnlyInTheSameDirectory) {
  varnex_test::TempDir dirA;
  varnex_test::TempDir dirB;
  const std::string self = ProgramFileName();
  for (const std::string& copy : {dirA / "one", dirA / "two", dirB / "one"})
    std::filesystem::copy_file(self, copy);
  auto nameOf = [](const std::string& program) {
    TChild child(program, {std::string(RoleVar) + "=name"});
    return child.Started() ? child.ReadLine() : std::string("not started");
  };
  const std::string a1 = nameOf(dirA / "one");
  EXPECT_EQ(a1, InstanceLockNameFor(dirA.Path()));
  EXPECT_EQ(nameOf(dirA / "two"), a1);
  EXPECT_EQ(nameOf(dirB / "one"), InstanceLockNameFor(dirB.Path()));
  EXPECT_NE(nameOf(dirB / "one"), a1);
}

TEST_F(InstanceLockTest, LockDirectoryIsOneOnlyThisUserCanWrite) {
  EXPECT_EQ(InstanceLockDirectory(), FRuntime.Path());
  varnex_test::TempDir temp, cache;
  const std::string own = temp / ("varnex-" + std::to_string(::geteuid()));
  // A runtime directory others may write, or a relative one, is passed over for a private one of ours.
  ASSERT_EQ(::chmod(FRuntime.Path().c_str(), 0770), 0);
  EXPECT_EQ(PrivateLockDirectory(FRuntime.Path(), temp.Path(), cache.Path()), own);
  ASSERT_EQ(::chmod(FRuntime.Path().c_str(), 0700), 0);
  EXPECT_EQ(PrivateLockDirectory("relative", temp.Path(), cache.Path()), own);
  struct stat info {};
  ASSERT_EQ(::lstat(own.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0700u);
  // The same name planted as a link, or as a directory others may write: the cache directory instead.
  std::filesystem::remove(own);
  ASSERT_EQ(::symlink(FRuntime.Path().c_str(), own.c_str()), 0);
  EXPECT_EQ(PrivateLockDirectory("", temp.Path(), cache / "sub"), cache / "sub/varnex");
  std::filesystem::remove(own);
  ASSERT_EQ(::mkdir(own.c_str(), 0777), 0);
  ASSERT_EQ(::chmod(own.c_str(), 0777), 0);
  EXPECT_EQ(PrivateLockDirectory("", temp.Path(), cache.Path()), cache / "varnex");
  EXPECT_EQ(PrivateLockDirectory("", temp.Path(), ""), "");
}

TEST_F(InstanceLockTest, OneHolderAtATimeAndReleasedOnDestruction) {
  const std::string name = UniqueName();
  {
    TAppInstanceLock first(name);
    EXPECT_TRUE(first.OwnsMutex());
    EXPECT_TRUE(first.OwnsProp());
    EXPECT_EQ(first.MutexName(), name);
    EXPECT_TRUE(FileExists(FRuntime / (name + ".lock")));
    TAppInstanceLock second(name);
    EXPECT_FALSE(second.OwnsMutex());
    EXPECT_FALSE(second.OwnsProp());
  }
  TAppInstanceLock later(name);
  EXPECT_TRUE(later.OwnsMutex());
  EXPECT_TRUE(later.OwnsProp());
}

TEST_F(InstanceLockTest, LocksOfTwoDirectoriesCoexist) {
  TAppInstanceLock one(InstanceLockNameFor(FRuntime / "one") + UniqueName());
  TAppInstanceLock two(InstanceLockNameFor(FRuntime / "two") + UniqueName());
  EXPECT_TRUE(one.OwnsMutex() && one.OwnsProp());
  EXPECT_TRUE(two.OwnsMutex() && two.OwnsProp());
}

TEST_F(InstanceLockTest, FailuresLeaveTheLockNotTaken) {
  const std::string dirName = UniqueName("Dir");
  const std::string linkName = UniqueName("Link");
  ASSERT_TRUE(ForceDirectories(FRuntime / (dirName + ".lock")));
  ASSERT_EQ(::symlink((FRuntime / "target").c_str(), (FRuntime / (linkName + ".lock")).c_str()), 0);
  for (const std::string& name : {std::string(), std::string("a/b"), std::string(200, 'n'), dirName, linkName}) {
    TAppInstanceLock lock(name);
    EXPECT_FALSE(lock.OwnsMutex()) << name;
    EXPECT_FALSE(lock.OwnsProp()) << name;
    EXPECT_FALSE(lock.ActivateFirstInstance()) << name;
  }
  EXPECT_FALSE(std::filesystem::exists(FRuntime / "target"));
}

TEST_F(InstanceLockTest, AbstractNamesOfOthersDoNotMatter) {
  const std::string name = UniqueName();
  QLocalServer squatter;
  squatter.setSocketOptions(QLocalServer::AbstractNamespaceOption);
  ASSERT_TRUE(squatter.listen(QString::fromStdString(name + "-" + std::to_string(::geteuid()))));
  TAppInstanceLock lock(name);
  EXPECT_TRUE(lock.OwnsMutex());
  EXPECT_TRUE(lock.OwnsProp());
}

TEST_F(InstanceLockTest, HolderThatCannotServeKeepsTheLock) {
  const std::string name = UniqueName();
  ASSERT_TRUE(ForceDirectories(TAppInstanceLock::SocketPath(FRuntime.Path(), name)));
  TAppInstanceLock lock(name);
  EXPECT_TRUE(lock.OwnsMutex());
  EXPECT_FALSE(lock.OwnsProp());
  TAppInstanceLock second(name);
  EXPECT_FALSE(second.OwnsMutex());
  EXPECT_FALSE(second.ActivateFirstInstance());
}

TEST_F(InstanceLockTest, AnotherUserCanNeitherBlockNorReachTheInstance) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  // A shared sticky directory like /tmp, and a cache base others may read.
  varnex_test::TempDir shared, cache;
  ASSERT_EQ(::chmod(shared.Path().c_str(), 01777), 0);
  ASSERT_EQ(::chmod(cache.Path().c_str(), 0755), 0);
  const std::vector<std::string> nobody{"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
  // The other user makes the directory this user would take there first.
  const std::string squat = shared / ("varnex-" + std::to_string(::geteuid()));
  std::string asNobody;
  for (const std::string& arg : nobody) asNobody += arg + " ";
  ASSERT_EQ(std::system((asNobody + "mkdir -m 0700 " + squat).c_str()), 0);
  const std::string dir = PrivateLockDirectory("", shared.Path(), cache.Path());
  EXPECT_EQ(dir, cache / "varnex");
  const std::string name = UniqueName();
  TAppInstanceLock lock(name, dir);
  ASSERT_TRUE(lock.OwnsMutex());
  ASSERT_TRUE(lock.OwnsProp());
  int calls = 0;
  lock.SetActivateHandler([&] { return ++calls > 0; });
  TChild intruder(ProgramFileName(),
                  {std::string(RoleVar) + "=intruder", std::string(LockNameVar) + "=" + name,
                   std::string(LockDirVar) + "=" + dir},
                  nobody);
  EXPECT_EQ(intruder.WaitExit(), 0);
  EXPECT_EQ(calls, 0);
  EXPECT_TRUE(lock.OwnsMutex());
}

TEST_F(InstanceLockTest, FindFirstInstanceWithNoInstanceCallsNothing) {
  const std::string name = UniqueName();
  ASSERT_TRUE(ForceDirectories(FRuntime / (name + ".lock")));
  TAppInstanceLock lock(name);
  bool called = false;
  EXPECT_FALSE(lock.FindFirstInstance([](QLocalSocket*, void* data) { *static_cast<bool*>(data) = true; }, &called));
  EXPECT_FALSE(called);
}

TEST_F(InstanceLockTest, FirstInstanceAnswersOnlyItsOwnRequest) {
  const std::string name = UniqueName();
  TAppInstanceLock lock(name);
  ASSERT_TRUE(lock.OwnsProp());
  EXPECT_EQ(AskRaw(name, "activate\n"), "0\n");  // no hook set yet
  int calls = 0;
  lock.SetActivateHandler([&] { return ++calls > 0; });
  EXPECT_EQ(AskRaw(name, "raise\n"), "0\n");
  EXPECT_EQ(AskRaw(name, "activatex\n"), "0\n");
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(AskRaw(name, "activate\n"), "1\n");
  EXPECT_EQ(calls, 1);
  lock.SetActivateHandler([]() -> bool { throw std::runtime_error("hook failed"); });
  EXPECT_EQ(AskRaw(name, "activate\n"), "0\n");
  EXPECT_EQ(AskRaw(name, QByteArray(200, 'x')), "");  // flood without a line end: dropped
}

TEST_F(InstanceLockTest, TokensReachTheHookAndBadOnesAreDropped) {
  const std::string name = UniqueName();
  TAppInstanceLock lock(name);
  ASSERT_TRUE(lock.OwnsProp());
  std::vector<std::string> tokens;
  lock.SetActivateHandler([&](const std::string& token) {
    tokens.push_back(token);
    return true;
  });
  const std::string longest(MaxActivationTokenLength, 't');
  EXPECT_EQ(AskRaw(name, "activate-token abc_TIME42\n"), "raised\n");
  EXPECT_EQ(AskRaw(name, "activate-token \n"), "raised\n");
  EXPECT_EQ(AskRaw(name, "activate-token a\x01z\n"), "raised\n");
  EXPECT_EQ(AskRaw(name, "activate-token a\xC3\xA9z\n"), "raised\n");
  EXPECT_EQ(AskRaw(name, QByteArray("activate-token ") + QByteArray::fromStdString(longest) + "t\n"), "raised\n");
  EXPECT_EQ(AskRaw(name, QByteArray("activate-token ") + QByteArray::fromStdString(longest) + "\n"), "raised\n");
  EXPECT_EQ(AskRaw(name, "activate\n"), "1\n");
  EXPECT_EQ(tokens, (std::vector<std::string>{"abc_TIME42", "", "", "", "", longest, ""}));
  // The second instance hands over the launcher's token.
  tokens.clear();
  TChild second(ProgramFileName(), {std::string(RoleVar) + "=second", std::string(LockNameVar) + "=" + name,
                                    "XDG_ACTIVATION_TOKEN=", "DESKTOP_STARTUP_ID=x11-launch_TIME7"});
  EXPECT_EQ(second.WaitExit(), 11);
  EXPECT_EQ(tokens, std::vector<std::string>{"x11-launch_TIME7"});
}

TEST_F(InstanceLockTest, AnEarlierFirstInstanceIsAskedAgainWithoutTheToken) {
  const std::string name = UniqueName();
  TChild old = StartChild("oldhold", name);
  ASSERT_EQ(old.ReadLine(), "ready");
  TAppInstanceLock second(name);
  EXPECT_FALSE(second.OwnsMutex());
  EXPECT_TRUE(second.ActivateFirstInstance("tok"));
  EXPECT_EQ(varnex_test::ReadFileBytes(Marker()), "activate-token tok\nactivate\n");
}

TEST_F(InstanceLockTest, SecondProcessDoesNotGetTheLockAndReachesTheHook) {
  const std::string name = UniqueName();
  TAppInstanceLock first(name);
  ASSERT_TRUE(first.OwnsMutex());
  int calls = 0;
  bool visible = true;
  first.SetActivateHandler([&] {
    ++calls;
    return visible;
  });
  EXPECT_EQ(StartChild("second", name).WaitExit(), 11);
  EXPECT_EQ(calls, 1);
  visible = false;
  EXPECT_EQ(StartChild("second", name).WaitExit(), 12);
  EXPECT_EQ(calls, 2);
}

TEST_F(InstanceLockTest, ActivateReachesTheOtherProcessHook) {
  for (bool answer : {true, false}) {
    const std::string name = UniqueName(answer ? "Yes" : "No");
    std::filesystem::remove(Marker());
    TChild holder = StartChild("hold", name, answer);
    ASSERT_EQ(holder.ReadLine(), "owns=1 prop=1");
    TAppInstanceLock second(name);
    EXPECT_FALSE(second.OwnsMutex());
    EXPECT_EQ(second.ActivateFirstInstance(), answer);
    EXPECT_EQ(varnex_test::ReadFileBytes(Marker()), "asked");
  }
}

TEST_F(InstanceLockTest, KilledHolderFreesTheLock) {
  const std::string name = UniqueName();
  TChild holder = StartChild("hold", name);
  ASSERT_EQ(holder.ReadLine(), "owns=1 prop=1");
  {
    TAppInstanceLock blocked(name);
    EXPECT_FALSE(blocked.OwnsMutex());
  }
  holder.Kill();
  TAppInstanceLock after(name);
  EXPECT_TRUE(after.OwnsMutex());
  EXPECT_TRUE(after.OwnsProp());
  EXPECT_EQ(StartChild("hold", name).ReadLine(), "owns=0 prop=0");
}

TEST(RaiseInstanceWindow, RaisesTheModalWindowOrTheMainWindowWhenVisible) {
  EXPECT_FALSE(RaiseInstanceWindow(nullptr));
  QWidget main;
  EXPECT_FALSE(RaiseInstanceWindow(&main));
  main.show();
  EXPECT_TRUE(RaiseInstanceWindow(&main));
  main.hide();
  QDialog modal;
  modal.setModal(true);
  modal.show();
  ASSERT_EQ(QApplication::activeModalWidget(), &modal);
  EXPECT_TRUE(RaiseInstanceWindow(&main));
  modal.hide();
  EXPECT_FALSE(RaiseInstanceWindow(&main));
}

}  // namespace
