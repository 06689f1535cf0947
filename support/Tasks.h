#pragma once
// A small framework for long operations: a task runs once, in the calling thread
// or in a worker thread, and delivers its events in the main thread.

#include "base/Classes.h"
#include "base/Exceptions.h"
#include "base/Thread.h"

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>

// Where Perform runs a task.
enum TTaskMode : std::uint8_t { tmCallingThread, tmWorkerThread };

// The task framework's exception.
VARNEX_DECLARE_EXCEPTION(ETaskError, Exception);

// Done as a share of Total in percent, truncated toward zero; 0 when either is 0.
int Percent(int done, int total);

// An abstract task: progress, state, cancellation and five events.
class TTask : public TObject {
public:
  // The worker thread of a task: runs OnExecute once and then frees itself.
  class TSyncThread : public TThread {
  public:
    // Creates the thread suspended, marked to free itself when OnExecute returns.
    explicit TSyncThread(TNotifyEvent OnExecute);
    // The procedure the thread runs, with Sender = the thread.
    TNotifyEvent OnExecute;

  protected:
    void Execute() override;
  };

  // A task in Mode with Position -1, no flags set and empty events.
  explicit TTask(TTaskMode mode);
  // Releases only the object; a worker-mode task must have been let go of first (ThreadActive).
  ~TTask() override = default;
  TTask(const TTask&) = delete;
  TTask& operator=(const TTask&) = delete;

  // Runs the task once as its mode says; raises ETaskError for a second call.
  void Perform();
  // Requests cancellation while the task runs; fires OnCancel at most once.
  void Cancel();
  // True between Start and Finish.
  bool IsRunning() const;

  // The mode fixed by the constructor.
  TTaskMode Mode() const;
  // The last reported progress in percent; -1 until something is reported.
  int Position() const;
  // True once Start has run.
  bool Started() const;
  // True once Finish has run.
  bool Finished() const;
  // True once Cancel took effect.
  bool CancelRequested() const;
  // True while a worker thread still holds the task; the task may be destroyed only when false.
  bool ThreadActive() const;
  // What escaped Run in the worker thread (the task then stays running), or null.
  std::exception_ptr WorkerException() const;
  // Main thread only: runs the synchronize queue until the worker has let go of
  // the task or TimeoutMs has passed; true when it has let go.
  bool WaitForWorker(int TimeoutMs);

  // Stores a changed progress value and fires OnProgress; an equal value does nothing.
  void SetPosition(int value);
  // Fires OnIdle; the work calls it where the owner may step in.
  virtual void Idle();

  // Fired by Start, Finish, Cancel, a changed Position and Idle; always in the main thread.
  TNotifyEvent OnStart, OnFinish, OnCancel, OnProgress, OnIdle;

protected:
  // Start, Execute and Finish, unprotected.
  virtual void Run();
  // Sets Started and fires OnStart.
  virtual void Start();
  // The task's own work.
  virtual void Execute() = 0;
  // Sets Finished and fires OnFinish.
  virtual void Finish();
  // Runs Method in the main thread: directly there, through the worker otherwise.
  virtual void Synchronize(const std::function<void()>& Method);

private:
  void ThreadProc(TObject* Sender);
  void Fire(const TNotifyEvent& Event);

  const TTaskMode FMode;
  std::atomic<int> FPosition{-1};
  std::atomic<bool> FStarted{false};
  std::atomic<bool> FFinished{false};
  std::atomic<bool> FCancelRequested{false};
  std::atomic<bool> FLaunched{false};
  std::atomic<TSyncThread*> FThread{nullptr};
  std::exception_ptr FWorkerException;
};
