#include "support/Forms.h"

#include "base/SysUtils.h"
#include "support/Hash.h"

#include <QApplication>
#include <QByteArray>
#include <QByteArrayView>
#include <QChar>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <cerrno>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace {

// A later start waits this long for the first instance to accept the connection...
constexpr int ConnectTimeoutMs = 1000;
// ...and this long for its answer, so a hung first instance never hangs the second.
constexpr int AnswerTimeoutMs = 2000;
// The first instance drops a connection that has not sent its request by then.
constexpr int IdleConnectionMs = 2000;
// Requests are one line, a token at most; anything longer is not ours.
constexpr qint64 MaxRequestLength = 32 + static_cast<qint64>(MaxActivationTokenLength);
// The file name and the socket name both embed the lock name, so it must fit both.
constexpr std::size_t MaxLockNameLength = 90;

// Plain arrays, not QByteArray objects, so they are usable before dynamic initialisation ends.
// The first request, which instances that take no token still serve...
constexpr char ActivateRequest[] = "activate\n";
constexpr char AnswerYes[] = "1\n";
constexpr char AnswerNo[] = "0\n";
// ...and the one with a token ("" for none), answered in other words, so that the
// old answer tells the asker to ask again the old way.
constexpr char TokenRequest[] = "activate-token ";
constexpr char TokenAnswerYes[] = "raised\n";
constexpr char TokenAnswerNo[] = "not raised\n";

// The name becomes part of a file name, so it may not reach outside the lock directory.
bool ValidLockName(const std::string& Name) {
  return !Name.empty() && Name.size() <= MaxLockNameLength && Name.find('/') == std::string::npos &&
         Name.find('\0') == std::string::npos;
}

// The length of the one valid UTF-8 sequence at Text[Pos], or 0 where none starts. The
// shortest valid prefix is exactly one code point, so the toolkit's check decides alone.
std::size_t Utf8SequenceLength(const std::string& Text, std::size_t Pos) {
  for (std::size_t length = 1; length <= 4 && Pos + length <= Text.size(); ++length)
    if (QByteArrayView(Text.data() + Pos, static_cast<qsizetype>(length)).isValidUtf8()) return length;
  return 0;
}

// $XDG_CACHE_HOME, else the home directory's .cache.
std::string UserCacheBase() {
  const std::string cache = AbsoluteEnv("XDG_CACHE_HOME");
  if (!cache.empty()) return cache;
  std::string home = AbsoluteEnv("HOME");
  if (home.empty()) {
    const passwd* user = ::getpwuid(::geteuid());
    if (user != nullptr && user->pw_dir != nullptr && user->pw_dir[0] == PathDelim) home = user->pw_dir;
  }
  return home.empty() ? std::string() : IncludeTrailingPathDelimiter(home) + ".cache";
}

// The directory already keeps other users out; each side still checks who is at the other end.
bool PeerIsThisUser(qintptr Descriptor) {
  struct ucred credentials {};
  socklen_t size = sizeof credentials;
  if (Descriptor < 0 ||
      ::getsockopt(static_cast<int>(Descriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0)
    return false;
  return credentials.uid == ::geteuid();
}

// One request of ActivateFirstInstance and its answer.
struct TActivateCall {
  QByteArray Request;
  QByteArray Answer;
};

// Sends the request of Data (a TActivateCall) and reads the one-line answer.
void AskToActivate(QLocalSocket* FirstInstance, void* Data) {
  auto& call = *static_cast<TActivateCall*>(Data);
  call.Answer.clear();
  if (FirstInstance->write(call.Request) != call.Request.size()) return;
  FirstInstance->flush();
  const QDeadlineTimer deadline(AnswerTimeoutMs);
  while (!FirstInstance->canReadLine()) {
    if (FirstInstance->bytesAvailable() > MaxRequestLength || deadline.hasExpired()) return;
    if (!FirstInstance->waitForReadyRead(static_cast<int>(deadline.remainingTime()))) return;
  }
  call.Answer = FirstInstance->readLine(MaxRequestLength);
}

}  // namespace

std::string InstanceLockDir(const std::string& FileName) {
  const auto pos = FileName.rfind(PathDelim);
  if (pos == std::string::npos) return std::string();
  // The delimiter stays when dropping it would leave the root (or a doubled delimiter) incomplete.
  if (pos == 0 || FileName[pos - 1] == PathDelim) return FileName.substr(0, pos + 1);
  return FileName.substr(0, pos);
}

std::string UpperCaseFileName(const std::string& Dir) {
  std::string upper;
  upper.reserve(Dir.size());
  std::size_t pos = 0;
  while (pos < Dir.size()) {
    const std::size_t length = Utf8SequenceLength(Dir, pos);
    if (length == 0) {
      // Invalid bytes stay as they are, which keeps every path distinct.
      upper += Dir[pos++];
      continue;
    }
    const QString letter = QString::fromUtf8(Dir.data() + pos, static_cast<qsizetype>(length));
    // Simple case mapping, one code point to one: the sharp s stays, as file names want.
    const char32_t code = QChar::toUpper(letter.toUcs4().front());
    const QByteArray encoded = QString::fromUcs4(&code, 1).toUtf8();
    upper.append(encoded.constData(), static_cast<std::size_t>(encoded.size()));
    pos += length;
  }
  return upper;
}

std::string InstanceLockNameFor(const std::string& Dir) {
  TCrc32Hasher hasher;
  hasher.Update(UpperCaseFileName(Dir));
  char name[40];
  std::snprintf(name, sizeof name, "Varnex_InstanceLock_N%08X", static_cast<unsigned>(hasher.Final()));
  return name;
}

std::string InstanceLockName() { return InstanceLockNameFor(InstanceLockDir(ProgramFileName())); }

std::string InstanceLockDirectory() {
  return PrivateLockDirectory(AbsoluteEnv("XDG_RUNTIME_DIR"), "/tmp", UserCacheBase());
}

std::string ValidActivationToken(const std::string& Token) {
  if (Token.size() > MaxActivationTokenLength) return std::string();
  for (const char c : Token)
    if (c < 0x20 || c > 0x7E) return std::string();
  return Token;
}

std::string LauncherActivationToken() {
  for (const char* name : {"XDG_ACTIVATION_TOKEN", "DESKTOP_STARTUP_ID"})
    if (const char* value = std::getenv(name); value != nullptr && value[0] != '\0') return ValidActivationToken(value);
  return std::string();
}

bool RaiseInstanceWindow(QWidget* MainWindow, const std::function<void(QWidget* Target)>& Activate) {
  if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) return false;
  QWidget* target = QApplication::activeModalWidget();
  if (target == nullptr) target = MainWindow;
  if (target == nullptr || !target->isVisible()) return false;
  // No showNormal(): a minimised window is asked forward as it is, never restored.
  if (Activate) {
    Activate(target);
    return true;
  }
  target->raise();
  target->activateWindow();
  return true;
}

TAppInstanceLock::TAppInstanceLock(const std::string& LockName) : TAppInstanceLock(LockName, InstanceLockDirectory()) {}

TAppInstanceLock::TAppInstanceLock(const std::string& LockName, const std::string& LockDir)
    : FMutexHandle(-1),
      FLockDir(LockDir),
      FMutexName(LockName),
      FPropName(LockName),
      FOwnsMutex(false),
      FOwnsProp(false) {
  try {
    // The holder runs even when it cannot serve: only the lock file decides.
    if (AcquireMutex()) AcquireProp();
  } catch (...) {
    // Taking the lock never raises; a failure only leaves it not taken or not served.
    DropProp();
  }
}

TAppInstanceLock::~TAppInstanceLock() {
  DropProp();
  CloseMutex();
}

bool TAppInstanceLock::OwnsMutex() const { return FOwnsMutex; }

bool TAppInstanceLock::OwnsProp() const { return FOwnsProp; }

const std::string& TAppInstanceLock::MutexName() const { return FMutexName; }

void TAppInstanceLock::SetActivateHandler(std::function<bool(const std::string& Token)> Handler) {
  FActivateHandler = std::move(Handler);
}

void TAppInstanceLock::SetActivateHandler(std::function<bool()> Handler) {
  if (!Handler) {
    FActivateHandler = nullptr;
    return;
  }
  FActivateHandler = [Handler = std::move(Handler)](const std::string&) { return Handler(); };
}

std::string TAppInstanceLock::LockFilePath(const std::string& LockDir, const std::string& LockName) {
  return IncludeTrailingPathDelimiter(LockDir) + LockName + ".lock";
}

std::string TAppInstanceLock::SocketPath(const std::string& LockDir, const std::string& LockName) {
  return IncludeTrailingPathDelimiter(LockDir) + LockName + ".socket";
}

bool TAppInstanceLock::AcquireMutex() {
  if (!ValidLockName(FMutexName) || FLockDir.empty()) return false;
  const std::string path = LockFilePath(FLockDir, FMutexName);
  // O_NOFOLLOW and O_NONBLOCK: a planted symlink or FIFO must neither redirect nor stall the start.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
  if (fd < 0) return false;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return false;
  }
  FMutexHandle = fd;
  FOwnsMutex = true;
  return true;
}

void TAppInstanceLock::CloseMutex() {
  if (!FOwnsMutex) return;
  // Closing the only descriptor of the open file releases the flock; the file itself stays,
  // since removing it could let two starts lock two different files.
  ::close(FMutexHandle);
  FMutexHandle = -1;
  FOwnsMutex = false;
}

bool TAppInstanceLock::AcquireProp() {
  if (QCoreApplication::instance() == nullptr) return false;
  const std::string path = SocketPath(FLockDir, FPropName);
  // Only the holder of the lock gets here, so a socket file there is one a killed holder left.
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) return false;
  auto server = std::make_unique<QLocalServer>();
  server->setSocketOptions(QLocalServer::UserAccessOption);
  if (!server->listen(QString::fromUtf8(path))) return false;
  QObject::connect(server.get(), &QLocalServer::newConnection, server.get(), [this] { AcceptConnections(); });
  FServer = std::move(server);
  FOwnsProp = true;
  return true;
}

void TAppInstanceLock::DropProp() {
  if (!FOwnsProp) return;
  // Open connections are children of the server and go with it.
  FServer->close();
  FServer.reset();
  FOwnsProp = false;
}

bool TAppInstanceLock::FindFirstInstance(TFindFirstCallback Callback, void* Data) const {
  try {
    TFindFirstData find;
    find.PropName = FPropName;
    find.Callback = Callback;
    find.Data = Data;
    if (!ValidLockName(find.PropName) || FLockDir.empty() || QCoreApplication::instance() == nullptr) return false;
    QLocalSocket socket;
    socket.connectToServer(QString::fromUtf8(SocketPath(FLockDir, find.PropName)));
    if (!socket.waitForConnected(ConnectTimeoutMs) || !PeerIsThisUser(socket.socketDescriptor())) return false;
    if (find.Callback != nullptr) find.Callback(&socket, find.Data);
    find.Found = true;
    socket.abort();
    return find.Found;
  } catch (...) {
    return false;
  }
}

bool TAppInstanceLock::ActivateFirstInstance(const std::string& Token) const {
  TActivateCall call;
  call.Request = QByteArray(TokenRequest) + QByteArray::fromStdString(ValidActivationToken(Token)) + '\n';
  if (!FindFirstInstance(&AskToActivate, &call)) return false;
  if (call.Answer == TokenAnswerYes || call.Answer == TokenAnswerNo) return call.Answer == TokenAnswerYes;
  // An instance of an earlier version refuses the request it does not know in its
  // old words; it is asked again the old way, without the token.
  if (call.Answer != AnswerNo) return false;
  call.Request = ActivateRequest;
  return FindFirstInstance(&AskToActivate, &call) && call.Answer == AnswerYes;
}

void TAppInstanceLock::AcceptConnections() {
  while (QLocalSocket* socket = FServer->nextPendingConnection()) ServeConnection(socket);
}

void TAppInstanceLock::ServeConnection(QLocalSocket* Socket) {
  if (!PeerIsThisUser(Socket->socketDescriptor())) {
    Socket->abort();
    Socket->deleteLater();
    return;
  }
  QObject::connect(Socket, &QLocalSocket::disconnected, Socket, &QObject::deleteLater);
  QObject::connect(Socket, &QLocalSocket::readyRead, Socket, [this, Socket] { AnswerRequest(Socket); });
  QTimer::singleShot(IdleConnectionMs, Socket, [Socket] {
    Socket->abort();
    Socket->deleteLater();
  });
  // The request may have arrived together with the connection.
  if (Socket->bytesAvailable() > 0) AnswerRequest(Socket);
}

void TAppInstanceLock::AnswerRequest(QLocalSocket* Socket) {
  if (!Socket->canReadLine()) {
    if (Socket->bytesAvailable() > MaxRequestLength) {
      Socket->abort();
      Socket->deleteLater();
    }
    return;
  }
  // One request per connection: later bytes are ignored.
  QObject::disconnect(Socket, &QLocalSocket::readyRead, nullptr, nullptr);
  const QByteArray line = Socket->readLine(MaxRequestLength + 1);
  if (line.startsWith(TokenRequest) && line.endsWith('\n')) {
    // A token that is not valid is dropped, and the window asked forward without one.
    const QByteArray token = line.mid(sizeof TokenRequest - 1).chopped(1);
    const bool raised = CallActivateHandler(ValidActivationToken(token.toStdString()));
    Socket->write(raised ? TokenAnswerYes : TokenAnswerNo);
  } else {
    Socket->write(line == ActivateRequest && CallActivateHandler(std::string()) ? AnswerYes : AnswerNo);
  }
  Socket->disconnectFromServer();
}

bool TAppInstanceLock::CallActivateHandler(const std::string& Token) const {
  // This runs inside a Qt slot, where an exception must not pass.
  try {
    const std::function<bool(const std::string&)> handler = FActivateHandler;
    return handler ? handler(Token) : false;
  } catch (...) {
    return false;
  }
}
