#include "support/Forms.h"

#include "base/SysUtils.h"
#include "support/Hash.h"

#include <QApplication>
#include <QChar>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <fcntl.h>
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
// Requests are one short line; anything longer is not ours.
constexpr qint64 MaxRequestLength = 64;
// The file name and the socket name both embed the lock name, so it must fit both.
constexpr std::size_t MaxLockNameLength = 90;

// Plain arrays, not QByteArray objects, so they are usable before dynamic initialisation ends.
constexpr char ActivateRequest[] = "activate\n";
constexpr char AnswerYes[] = "1\n";
constexpr char AnswerNo[] = "0\n";

// The name becomes part of a file name, so it may not reach outside the lock directory.
bool ValidLockName(const std::string& Name) {
  return !Name.empty() && Name.size() <= MaxLockNameLength && Name.find('/') == std::string::npos &&
         Name.find('\0') == std::string::npos;
}

// Length of the valid UTF-8 sequence at Text[Pos] with its code point in Code, or 0.
std::size_t DecodeUtf8(const std::string& Text, std::size_t Pos, char32_t& Code) {
  const auto lead = static_cast<unsigned char>(Text[Pos]);
  std::size_t length = 1;
  char32_t lowest = 0;
  if (lead < 0x80) {
    Code = lead;
    return 1;
  }
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, Code = lead & 0x1Fu, lowest = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, Code = lead & 0x0Fu, lowest = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, Code = lead & 0x07u, lowest = 0x10000;
  } else {
    return 0;
  }
  if (Pos + length > Text.size()) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(Text[Pos + i]);
    if ((next & 0xC0u) != 0x80u) return 0;
    Code = (Code << 6) | (next & 0x3Fu);
  }
  // Overlong forms and surrogates are invalid; keeping them as raw bytes keeps every path distinct.
  if (Code < lowest || Code > 0x10FFFF || (Code >= 0xD800 && Code <= 0xDFFF)) return 0;
  return length;
}

void AppendUtf8(std::string& Out, char32_t Code) {
  if (Code < 0x80) {
    Out += static_cast<char>(Code);
  } else if (Code < 0x800) {
    Out += static_cast<char>(0xC0 | (Code >> 6));
    Out += static_cast<char>(0x80 | (Code & 0x3F));
  } else if (Code < 0x10000) {
    Out += static_cast<char>(0xE0 | (Code >> 12));
    Out += static_cast<char>(0x80 | ((Code >> 6) & 0x3F));
    Out += static_cast<char>(0x80 | (Code & 0x3F));
  } else {
    Out += static_cast<char>(0xF0 | (Code >> 18));
    Out += static_cast<char>(0x80 | ((Code >> 12) & 0x3F));
    Out += static_cast<char>(0x80 | ((Code >> 6) & 0x3F));
    Out += static_cast<char>(0x80 | (Code & 0x3F));
  }
}

// The abstract namespace is shared by all users, so each side checks who is at the other end.
bool PeerIsThisUser(qintptr Descriptor) {
  struct ucred credentials {};
  socklen_t size = sizeof credentials;
  if (Descriptor < 0 ||
      ::getsockopt(static_cast<int>(Descriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0)
    return false;
  return credentials.uid == ::getuid();
}

// The request of ActivateFirstInstance; Data points to its result.
void AskToActivate(QLocalSocket* FirstInstance, void* Data) {
  bool& activated = *static_cast<bool*>(Data);
  activated = false;
  const auto requestLength = static_cast<qint64>(sizeof ActivateRequest - 1);
  if (FirstInstance->write(ActivateRequest, requestLength) != requestLength) return;
  FirstInstance->flush();
  const QDeadlineTimer deadline(AnswerTimeoutMs);
  while (!FirstInstance->canReadLine()) {
    if (FirstInstance->bytesAvailable() > MaxRequestLength || deadline.hasExpired()) return;
    if (!FirstInstance->waitForReadyRead(static_cast<int>(deadline.remainingTime()))) return;
  }
  activated = FirstInstance->readLine(MaxRequestLength) == AnswerYes;
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
    char32_t code = 0;
    const std::size_t length = DecodeUtf8(Dir, pos, code);
    if (length == 0) {
      upper += Dir[pos++];
      continue;
    }
    AppendUtf8(upper, QChar::toUpper(code));
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

bool RaiseInstanceWindow(QWidget* MainWindow) {
  if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) return false;
  QWidget* target = QApplication::activeModalWidget();
  if (target == nullptr) target = MainWindow;
  if (target == nullptr || !target->isVisible()) return false;
  // No showNormal(): a minimised window is asked forward as it is, never restored.
  target->raise();
  target->activateWindow();
  return true;
}

TAppInstanceLock::TAppInstanceLock(const std::string& LockName)
    : FMutexHandle(-1), FMutexName(LockName), FPropName(LockName), FOwnsMutex(false), FOwnsProp(false) {
  try {
    if (AcquireMutex() && AcquireProp()) return;
  } catch (...) {
    // Taking the lock never raises; a failure only leaves it not taken.
  }
  DropProp();
  CloseMutex();
}

TAppInstanceLock::~TAppInstanceLock() {
  DropProp();
  CloseMutex();
}

bool TAppInstanceLock::OwnsMutex() const { return FOwnsMutex; }

bool TAppInstanceLock::OwnsProp() const { return FOwnsProp; }

const std::string& TAppInstanceLock::MutexName() const { return FMutexName; }

void TAppInstanceLock::SetActivateHandler(std::function<bool()> Handler) { FActivateHandler = std::move(Handler); }

std::string TAppInstanceLock::LockFilePath(const std::string& LockName) {
  // A relative or missing runtime directory is unusable; the per-user /tmp name is the fallback.
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] == PathDelim && DirectoryExists(runtime))
    return IncludeTrailingPathDelimiter(runtime) + LockName + ".lock";
  return "/tmp/" + LockName + "-" + std::to_string(::getuid()) + ".lock";
}

std::string TAppInstanceLock::PropServerName(const std::string& LockName) {
  return LockName + "-" + std::to_string(::getuid());
}

bool TAppInstanceLock::AcquireMutex() {
  if (!ValidLockName(FMutexName)) return false;
  const std::string path = LockFilePath(FMutexName);
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
  auto server = std::make_unique<QLocalServer>();
  server->setSocketOptions(QLocalServer::AbstractNamespaceOption);
  if (!server->listen(QString::fromUtf8(PropServerName(FPropName)))) return false;
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
    if (!ValidLockName(find.PropName) || QCoreApplication::instance() == nullptr) return false;
    QLocalSocket socket;
    socket.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
    socket.connectToServer(QString::fromUtf8(PropServerName(find.PropName)));
    if (!socket.waitForConnected(ConnectTimeoutMs) || !PeerIsThisUser(socket.socketDescriptor())) return false;
    if (find.Callback != nullptr) find.Callback(&socket, find.Data);
    find.Found = true;
    socket.abort();
    return find.Found;
  } catch (...) {
    return false;
  }
}

bool TAppInstanceLock::ActivateFirstInstance() const {
  bool activated = false;
  return FindFirstInstance(&AskToActivate, &activated) && activated;
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
  const bool raised = Socket->readLine(MaxRequestLength + 1) == ActivateRequest && CallActivateHandler();
  Socket->write(raised ? AnswerYes : AnswerNo);
  Socket->disconnectFromServer();
}

bool TAppInstanceLock::CallActivateHandler() const {
  // This runs inside a Qt slot, where an exception must not pass.
  try {
    const std::function<bool()> handler = FActivateHandler;
    return handler ? handler() : false;
  } catch (...) {
    return false;
  }
}
