#include "base/Thread.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <utility>

// Dynamic initialisation runs in the main thread before main(), so this is the
// thread that started the program.
const std::thread::id MainThreadID = std::this_thread::get_id();

bool IsMainThread() { return std::this_thread::get_id() == MainThreadID; }

namespace {

// One call waiting for the main thread; it lives on the waiting caller's stack.
struct TSyncRequest {
  const std::function<void()>* Method = nullptr;
  std::exception_ptr Error;
  bool Done = false;
};

// The queue shared by every thread. Function-local statics so that a thread
// started during static initialisation still finds it constructed.
struct TSyncQueue {
  std::mutex Lock;
  std::condition_variable Queued;
  std::condition_variable Completed;
  std::deque<TSyncRequest*> Requests;
  std::function<void()> WakeHook;
};

TSyncQueue& SyncQueue() {
  static TSyncQueue queue;
  return queue;
}

}  // namespace

// Always suspended: a thread started here could run Execute before the derived
// class is constructed.
TThread::TThread() = default;

TThread::~TThread() {
  // A self-freeing thread is deleted by its own procedure; there is nothing to join.
  if (FHandle.joinable()) {
    if (FHandle.get_id() == std::this_thread::get_id()) {
      FHandle.detach();
    } else {
      FHandle.join();
    }
  }
}

void TThread::Start() {
  if (FStarted.exchange(true)) throw EThread("Cannot call Start on a running or terminated thread");
  // The system thread is created only now, so a suspended thread costs nothing
  // and cannot run early. A self-freeing thread may delete this object as soon as
  // it runs, so nothing of this object is touched after it is created.
  if (FFreeOnTerminate) {
    std::thread(&TThread::ThreadProc, this).detach();
  } else {
    FHandle = std::thread(&TThread::ThreadProc, this);
  }
}

void TThread::Resume() { Start(); }

void TThread::Terminate() { FTerminated = true; }

void TThread::WaitFor() {
  if (FFreeOnTerminate) throw EThread("Cannot wait for a thread that frees itself");
  if (!FHandle.joinable()) return;
  if (FHandle.get_id() == std::this_thread::get_id()) throw EThread("A thread cannot wait for itself");
  FHandle.join();
}

bool TThread::Terminated() const { return FTerminated; }

bool TThread::Finished() const { return FFinished; }

bool TThread::FreeOnTerminate() const { return FFreeOnTerminate; }

void TThread::SetFreeOnTerminate(bool Value) {
  if (!FStarted) FFreeOnTerminate = Value;
}

std::exception_ptr TThread::FatalException() const { return FFatalException; }

void TThread::ThreadProc(TThread* Self) {
  // An exception must not leave the thread procedure (that would terminate the
  // process); it is kept as the thread's fatal exception instead.
  try {
    Self->Execute();
  } catch (...) {
    Self->FFatalException = std::current_exception();
  }
  const bool freeSelf = Self->FFreeOnTerminate;
  Self->FFinished = true;
  if (freeSelf) delete Self;
}

void TThread::Synchronize(const std::function<void()>& Method) { Synchronize(this, Method); }

void TThread::Synchronize(TThread* /*Thread*/, const std::function<void()>& Method) {
  if (IsMainThread()) {
    Method();
    return;
  }
  TSyncQueue& queue = SyncQueue();
  TSyncRequest request;
  request.Method = &Method;
  std::function<void()> wake;
  {
    std::lock_guard<std::mutex> guard(queue.Lock);
    queue.Requests.push_back(&request);
    wake = queue.WakeHook;
  }
  queue.Queued.notify_all();
  if (wake) wake();
  {
    std::unique_lock<std::mutex> guard(queue.Lock);
    queue.Completed.wait(guard, [&request] { return request.Done; });
  }
  if (request.Error) std::rethrow_exception(request.Error);
}

bool CheckSynchronize(int TimeoutMs) {
  if (!IsMainThread()) throw EThread("CheckSynchronize must be called in the main thread");
  TSyncQueue& queue = SyncQueue();
  std::deque<TSyncRequest*> pending;
  {
    std::unique_lock<std::mutex> guard(queue.Lock);
    if (queue.Requests.empty() && TimeoutMs > 0) {
      queue.Queued.wait_for(guard, std::chrono::milliseconds(TimeoutMs),
                            [&queue] { return !queue.Requests.empty(); });
    }
    pending.swap(queue.Requests);
  }
  for (TSyncRequest* request : pending) {
    try {
      (*request->Method)();
    } catch (...) {
      request->Error = std::current_exception();
    }
    {
      std::lock_guard<std::mutex> guard(queue.Lock);
      request->Done = true;
    }
    queue.Completed.notify_all();
  }
  return !pending.empty();
}

void SetWakeMainThread(std::function<void()> Hook) {
  TSyncQueue& queue = SyncQueue();
  std::lock_guard<std::mutex> guard(queue.Lock);
  queue.WakeHook = std::move(Hook);
}
