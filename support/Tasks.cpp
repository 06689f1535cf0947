#include "support/Tasks.h"

#include <chrono>
#include <cstdint>

int Percent(int done, int total) {
  if (done == 0 || total == 0) return 0;
  // The product needs 64 bits (30 million times 100 does not fit 32); the
  // quotient is then taken modulo 2^32 as a 32-bit value.
  return static_cast<int>(static_cast<std::int64_t>(done) * 100 / total);
}

TTask::TSyncThread::TSyncThread(TNotifyEvent OnExecute) : OnExecute(std::move(OnExecute)) {
  SetFreeOnTerminate(true);
}

void TTask::TSyncThread::Execute() { OnExecute(this); }

TTask::TTask(TTaskMode mode) : FMode(mode) {}

void TTask::Perform() {
  // A launched worker counts as a run even before it has reached Start, so a
  // second Perform made in that interval is refused as well.
  if (FStarted || FLaunched) throw ETaskError("The task is tried to perform for multiple times.");
  switch (FMode) {
    case tmCallingThread:
      Run();
      break;
    case tmWorkerThread: {
      auto* thread = new TSyncThread([this](TObject* Sender) { ThreadProc(Sender); });
      FThread = thread;
      FLaunched = true;
      try {
        thread->Start();
      } catch (...) {
        // The system refused the thread: nothing runs and the task stays as it was.
        FThread = nullptr;
        FLaunched = false;
        delete thread;
        throw;
      }
      break;
    }
    default:
      break;
  }
}

void TTask::ThreadProc(TObject* /*Sender*/) {
  // What escapes Run is kept for the owner instead of being dropped with the
  // thread; the task then stays running, as it would in the calling thread.
  try {
    Run();
  } catch (...) {
    FWorkerException = std::current_exception();
  }
  // The last access to the task: from here on the owner may destroy it.
  FThread = nullptr;
}

void TTask::Run() {
  Start();
  Execute();
  Finish();
}

void TTask::Start() {
  FStarted = true;
  Fire(OnStart);
}

void TTask::Finish() {
  FFinished = true;
  Fire(OnFinish);
}

void TTask::Idle() { Fire(OnIdle); }

void TTask::Cancel() {
  if (!IsRunning()) return;
  if (FCancelRequested.exchange(true)) return;
  Fire(OnCancel);
}

bool TTask::IsRunning() const { return FStarted && !FFinished; }

TTaskMode TTask::Mode() const { return FMode; }

int TTask::Position() const { return FPosition; }

bool TTask::Started() const { return FStarted; }

bool TTask::Finished() const { return FFinished; }

bool TTask::CancelRequested() const { return FCancelRequested; }

bool TTask::ThreadActive() const { return FThread != nullptr; }

std::exception_ptr TTask::WorkerException() const { return ThreadActive() ? nullptr : FWorkerException; }

bool TTask::WaitForWorker(int TimeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
  while (ThreadActive()) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) return false;
    // Short slices: the worker's last step clears Thread without queuing anything.
    CheckSynchronize(static_cast<int>(left < 5 ? left : 5));
  }
  return true;
}

void TTask::SetPosition(int value) {
  if (FPosition.exchange(value) == value) return;
  Fire(OnProgress);
}

void TTask::Fire(const TNotifyEvent& Event) {
  if (!Event) return;
  // Tested again in the main thread: the handler may have been removed while
  // the call was queued.
  Synchronize([this, &Event] {
    if (Event) Event(this);
  });
}

void TTask::Synchronize(const std::function<void()>& Method) {
  if (IsMainThread()) {
    Method();
    return;
  }
  TThread::Synchronize(FThread, Method);
}
