#pragma once
// The thread class of the runtime library and the queue through which worker
// threads run calls in the main thread.

#include "base/Classes.h"
#include "base/Exceptions.h"

#include <atomic>
#include <exception>
#include <functional>
#include <thread>

// A misuse of a thread object (for example starting it twice).
VARNEX_DECLARE_EXCEPTION(EThread, Exception);

// The identity of the main thread, recorded when the program starts.
extern const std::thread::id MainThreadID;

// True when the calling thread is the main thread.
bool IsMainThread();

// A system thread that runs Execute; created suspended, optionally freeing itself.
class TThread : public TObject {
public:
  // Prepares a suspended thread; Start lets it run.
  TThread();
  // Joins a started thread that does not free itself. By then the subclass is
  // gone, so a subclass that may be destroyed while it runs calls WaitFor first.
  ~TThread() override;
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  // Lets a suspended thread run; raises EThread when it has been started already.
  void Start();
  // The same as Start.
  void Resume();
  // Asks Execute to end; it reads Terminated at its own check points.
  void Terminate();
  // Blocks until Execute has returned (at once when never started); not for threads that free themselves.
  void WaitFor();

  // True once Terminate has been called.
  bool Terminated() const;
  // True once Execute has returned (or raised).
  bool Finished() const;
  // Whether the object deletes itself when Execute ends; set it before Start.
  bool FreeOnTerminate() const;
  // Sets FreeOnTerminate; has no effect once the thread has started.
  void SetFreeOnTerminate(bool Value);
  // The exception that escaped Execute, or null.
  std::exception_ptr FatalException() const;

  // Runs Method in the main thread and waits for it; its exception is raised again here.
  static void Synchronize(TThread* Thread, const std::function<void()>& Method);

protected:
  // The thread's work.
  virtual void Execute() = 0;
  // Runs Method in the main thread on behalf of this thread.
  void Synchronize(const std::function<void()>& Method);

private:
  static void ThreadProc(TThread* Self);

  std::thread FHandle;
  std::atomic<bool> FStarted{false};
  std::atomic<bool> FTerminated{false};
  std::atomic<bool> FFinished{false};
  bool FFreeOnTerminate = false;
  std::exception_ptr FFatalException;
};

// Runs the calls queued by Synchronize; waits up to TimeoutMs for one when the
// queue is empty. Main thread only (EThread otherwise). True when a call ran.
bool CheckSynchronize(int TimeoutMs = 0);

// Sets the hook that Synchronize calls after queuing, so that the main thread's
// event loop can run CheckSynchronize; an empty hook is skipped.
void SetWakeMainThread(std::function<void()> Hook);
