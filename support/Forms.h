#pragma once
// The single-instance lock: one running instance per program directory, and a way
// for a later start to ask that instance to bring its window forward.

#include "base/SysUtils.h"  // PrivateLockDirectory

#include <functional>
#include <memory>
#include <string>

class QLocalServer;
class QLocalSocket;
class QWidget;

// The directory of an executable's path for the lock: up to its last '/', which is
// dropped unless it is the root or follows another '/'; "" when there is no '/'.
std::string InstanceLockDir(const std::string& FileName);
// Dir upper-cased by Unicode simple case mapping; bytes that are not valid UTF-8 stay as they are.
std::string UpperCaseFileName(const std::string& Dir);
// "Varnex_InstanceLock_N" followed by the CRC-32 of Dir upper-cased, as eight upper-case hex digits.
std::string InstanceLockNameFor(const std::string& Dir);
// The lock name of the running program, from the directory of /proc/self/exe.
std::string InstanceLockName();


// The directory for the running program's lock: $XDG_RUNTIME_DIR, /tmp, then $XDG_CACHE_HOME
// or ~/.cache (the home directory from the user database when HOME is unset).
std::string InstanceLockDirectory();

// Brings forward the application's active modal window when one is open, otherwise
// MainWindow, without restoring a minimised window; true when that window is visible.
// Activate, when given, does the bringing forward instead of Qt's raise and activate.
bool RaiseInstanceWindow(QWidget* MainWindow, const std::function<void(QWidget* Target)>& Activate = {});

// The longest activation token that is passed on between instances.
constexpr std::size_t MaxActivationTokenLength = 256;
// Token when it is at most MaxActivationTokenLength bytes of printable ASCII; "" otherwise.
std::string ValidActivationToken(const std::string& Token);
// The token the launcher started this program with (XDG_ACTIVATION_TOKEN, else
// DESKTOP_STARTUP_ID), if valid; "" otherwise.
std::string LauncherActivationToken();

// The lock held by the first instance: an exclusive flock on a lock file in a directory
// only this user can write (the kernel drops it when the process dies), plus a local
// socket beside it through which later instances reach the first one. The lock file alone
// decides which process runs; the socket is a service of the holder, which keeps the lock
// when it cannot serve. Create it after the application object and destroy it before; the
// first instance answers from its event loop. No operation of this class throws.
class TAppInstanceLock {
public:
  // Called with the connection to the first instance and the caller's Data.
  using TFindFirstCallback = void (*)(QLocalSocket* FirstInstance, void* Data);

  // The state of one search for the first instance.
  struct TFindFirstData {
    // The name the first instance serves under.
    std::string PropName;
    // Called once for the first instance found.
    TFindFirstCallback Callback = nullptr;
    // Passed to Callback.
    void* Data = nullptr;
    // True once the first instance was found.
    bool Found = false;
  };

  // Takes the lock named LockName in InstanceLockDirectory() if no other holder exists.
  explicit TAppInstanceLock(const std::string& LockName);
  // Takes the lock named LockName in LockDir; without the lock file it holds nothing.
  TAppInstanceLock(const std::string& LockName, const std::string& LockDir);
  // Releases what this object holds: the socket first, then the lock file.
  ~TAppInstanceLock();
  TAppInstanceLock(const TAppInstanceLock&) = delete;
  TAppInstanceLock& operator=(const TAppInstanceLock&) = delete;

  // True only while this object holds the lock file.
  bool OwnsMutex() const;
  // True only while this object serves the instance socket.
  bool OwnsProp() const;
  // The lock name, as given to the constructor.
  const std::string& MutexName() const;

  // Sets the hook that raises this instance's window when a later instance asks, with
  // the activation token that instance was given ("" for none); it returns whether the
  // window was visible and brought forward. Without a hook the answer is no.
  void SetActivateHandler(std::function<bool(const std::string& Token)> Handler);
  // The same for a hook that takes no token.
  void SetActivateHandler(std::function<bool()> Handler);
  // Connects to the instance serving this lock's name and calls Callback with the
  // connection; false when no instance answers within a second.
  bool FindFirstInstance(TFindFirstCallback Callback, void* Data) const;
  // Asks the first instance to bring its window forward, handing it Token (a valid
  // activation token, else none); true only when it answered that its window was
  // visible and brought forward. A first instance that takes no token is asked without.
  bool ActivateFirstInstance(const std::string& Token = std::string()) const;

  // The lock file of LockName in LockDir: LockDir/<name>.lock.
  static std::string LockFilePath(const std::string& LockDir, const std::string& LockName);
  // The socket the holder serves: LockDir/<name>.socket.
  static std::string SocketPath(const std::string& LockDir, const std::string& LockName);

private:
  bool AcquireMutex();
  void CloseMutex();
  bool AcquireProp();
  void DropProp();
  void AcceptConnections();
  void ServeConnection(QLocalSocket* Socket);
  void AnswerRequest(QLocalSocket* Socket);
  bool CallActivateHandler(const std::string& Token) const;

  int FMutexHandle;
  std::string FLockDir;
  std::string FMutexName;
  std::string FPropName;
  bool FOwnsMutex;
  bool FOwnsProp;
  std::unique_ptr<QLocalServer> FServer;
  std::function<bool(const std::string& Token)> FActivateHandler;
};
