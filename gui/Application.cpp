#include "gui/Application.h"

#include "base/Thread.h"
#include "gui/HandlerGuard.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QMetaObject>
#include <QSettings>
#include <QTimer>

TApplication* Application = nullptr;

namespace {

// A directory below a character device cannot exist, so QSettings can neither
// read nor create anything under it, and it fails without a message.
constexpr const char* NoSettingsPath = "/dev/null/varnex-no-qt-settings";

// Runs every queued synchronized call; posted from a worker through the wake hook.
void RunSynchronizeQueue() noexcept {
  RunGuarded([] {
    while (CheckSynchronize(0)) {
    }
  });
}

}  // namespace

void DisableQtSettingsFiles() {
  static const bool done = [] {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromLatin1(NoSettingsPath));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, QString::fromLatin1(NoSettingsPath));
    return true;
  }();
  (void)done;
}

TApplication::TApplication() {
  DisableQtSettingsFiles();
  Application = this;
  // The hook runs in the worker thread: a queued call to the application object is
  // the thread-safe way to get the queue run by the main thread's event loop.
  QObject* receiver = QCoreApplication::instance();
  SetWakeMainThread([receiver] {
    QMetaObject::invokeMethod(receiver, [] { RunSynchronizeQueue(); }, Qt::QueuedConnection);
  });
  WatchIdle();
  // Calls queued before the object existed would otherwise wait for the next wake-up.
  QMetaObject::invokeMethod(receiver, [] { RunSynchronizeQueue(); }, Qt::QueuedConnection);
}

TApplication::~TApplication() {
  SetWakeMainThread(nullptr);
  if (Application == this) Application = nullptr;
}

const std::string& TApplication::Title() const { return FTitle; }

void TApplication::SetTitle(const std::string& Value) { FTitle = Value; }

void TApplication::SetOnIdle(TNotifyEvent Handler) { FOnIdle = std::move(Handler); }

bool TApplication::IdleHooked() const { return static_cast<bool>(FOnIdle); }

void TApplication::ProcessMessages() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

void TApplication::ShowException(const std::exception& E) { DisplayException(E); }

void TApplication::WatchIdle() {
  QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
  if (dispatcher == nullptr) return;
  // aboutToBlock is the moment the queue has run empty. The handler may open a
  // box with its own event loop, which must not start inside the dispatcher's
  // signal, so it runs from a zero timer right after.
  connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, [this] {
    if (!FOnIdle || FIdlePosted) return;
    FIdlePosted = true;
    QTimer::singleShot(0, this, [this] { RunIdle(); });
  });
}

void TApplication::RunIdle() {
  FIdlePosted = false;
  TNotifyEvent handler = std::move(FOnIdle);
  FOnIdle = nullptr;
  if (handler) RunGuarded([&] { handler(this); });
}
