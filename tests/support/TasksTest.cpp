#include "support/Tasks.h"

#include "tests/common/TestSupport.h"

#include <atomic>
#include <chrono>
#include <climits>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

// A task whose work is a function of the test; it records every event with the
// thread that delivered it.
class TProbeTask : public TTask {
public:
  explicit TProbeTask(TTaskMode Mode, std::function<void(TProbeTask&)> Work = {})
      : TTask(Mode), FWork(std::move(Work)) {
    OnStart = Recorder("start");
    OnFinish = Recorder("finish");
    OnCancel = Recorder("cancel");
    OnProgress = [this](TObject* Sender) {
      Note(Sender, "progress " + std::to_string(Position()));
      if (OnProgressExtra) OnProgressExtra();
    };
    OnIdle = [this](TObject* Sender) {
      Note(Sender, "idle");
      if (OnIdleExtra) OnIdleExtra();
    };
  }

  // The events seen, in order; touched only in the main thread.
  std::vector<std::string> Events;
  // True while every event arrived in the main thread with the task as Sender.
  bool AllInMainThread = true;
  bool SenderAlwaysTask = true;
  std::atomic<int> ExecuteCalls{0};
  std::atomic<bool> ExecuteInMainThread{false};
  std::function<void()> OnProgressExtra, OnIdleExtra;

protected:
  void Execute() override {
    ++ExecuteCalls;
    ExecuteInMainThread = IsMainThread();
    if (FWork) FWork(*this);
  }

private:
  TNotifyEvent Recorder(const std::string& Name) {
    return [this, Name](TObject* Sender) { Note(Sender, Name); };
  }
  void Note(TObject* Sender, const std::string& Name) {
    AllInMainThread = AllInMainThread && IsMainThread();
    SenderAlwaysTask = SenderAlwaysTask && Sender == this;
    Events.push_back(Name);
  }
  std::function<void(TProbeTask&)> FWork;
};

using Strings = std::vector<std::string>;

}  // namespace

TEST(PercentTest, TruncatesTowardZeroAndGuardsZeroes) {
  EXPECT_EQ(Percent(0, 5), 0);
  EXPECT_EQ(Percent(5, 0), 0);
  EXPECT_EQ(Percent(0, 0), 0);
  EXPECT_EQ(Percent(1, 3), 33);
  EXPECT_EQ(Percent(2, 3), 66);
  EXPECT_EQ(Percent(3, 3), 100);
  EXPECT_EQ(Percent(1, 2000), 0);
  EXPECT_EQ(Percent(1999, 2000), 99);
  EXPECT_EQ(Percent(-1, 3), -33);
  EXPECT_EQ(Percent(1, -3), -33);
  EXPECT_EQ(Percent(7, 2), 350);
}

TEST(PercentTest, LargeCountsDoNotOverflowTheProduct) {
  EXPECT_EQ(Percent(30000000, 30000000), 100);
  EXPECT_EQ(Percent(INT_MAX, INT_MAX), 100);
  EXPECT_EQ(Percent(INT_MAX - 1, INT_MAX), 99);
  EXPECT_EQ(Percent(INT_MIN, INT_MIN), 100);
  // A quotient beyond 32 bits is taken modulo 2^32: 2^31 * 100 / 1 wraps to 0.
  EXPECT_EQ(Percent(INT_MIN, 1), 0);
}

TEST(TaskTest, NewTaskIsCreatedWithNothingReported) {
  TProbeTask task(tmWorkerThread);
  EXPECT_EQ(task.Mode(), tmWorkerThread);
  EXPECT_EQ(task.Position(), -1);
  EXPECT_FALSE(task.Started());
  EXPECT_FALSE(task.Finished());
  EXPECT_FALSE(task.CancelRequested());
  EXPECT_FALSE(task.IsRunning());
  EXPECT_FALSE(task.ThreadActive());
  EXPECT_FALSE(task.WorkerException());
}

TEST(TaskTest, CallingThreadRunsStartExecuteFinishInOrder) {
  bool runningInside = false;
  TProbeTask task(tmCallingThread, [&](TProbeTask& self) {
    runningInside = self.Started() && !self.Finished() && self.IsRunning();
    self.SetPosition(50);
    self.Idle();
  });
  task.Perform();
  EXPECT_TRUE(runningInside);
  EXPECT_TRUE(task.ExecuteInMainThread);
  EXPECT_EQ(task.Events, (Strings{"start", "progress 50", "idle", "finish"}));
  EXPECT_TRUE(task.AllInMainThread);
  EXPECT_TRUE(task.SenderAlwaysTask);
  EXPECT_TRUE(task.Started());
  EXPECT_TRUE(task.Finished());
  EXPECT_FALSE(task.IsRunning());
  EXPECT_FALSE(task.ThreadActive());
}

TEST(TaskTest, ProgressFiresOnlyWhenTheValueChanges) {
  TProbeTask task(tmCallingThread, [](TProbeTask& self) {
    self.SetPosition(0);
    self.SetPosition(0);
    self.SetPosition(33);
    self.SetPosition(33);
    self.SetPosition(-1);
  });
  task.Perform();
  EXPECT_EQ(task.Events, (Strings{"start", "progress 0", "progress 33", "progress -1", "finish"}));
  EXPECT_EQ(task.Position(), -1);
}

TEST(TaskTest, EmptyEventsAreSkipped) {
  TProbeTask task(tmCallingThread, [](TProbeTask& self) {
    self.SetPosition(10);
    self.Idle();
    self.Cancel();
  });
  task.OnStart = nullptr;
  task.OnFinish = nullptr;
  task.OnCancel = nullptr;
  task.OnProgress = nullptr;
  task.OnIdle = nullptr;
  task.Perform();
  EXPECT_TRUE(task.Events.empty());
  EXPECT_EQ(task.Position(), 10);
  EXPECT_TRUE(task.CancelRequested());
  EXPECT_TRUE(task.Finished());
}

TEST(TaskTest, CancelTakesEffectOnlyWhileRunningAndOnce) {
  TProbeTask task(tmCallingThread, [](TProbeTask& self) {
    EXPECT_FALSE(self.CancelRequested());
    self.Cancel();
    self.Cancel();
    EXPECT_TRUE(self.CancelRequested());
  });
  task.Cancel();
  EXPECT_FALSE(task.CancelRequested());
  task.Perform();
  task.Cancel();
  EXPECT_EQ(task.Events, (Strings{"start", "cancel", "finish"}));
  EXPECT_TRUE(task.CancelRequested());
}

TEST(TaskTest, CancelAfterTheRunHasEndedDoesNothing) {
  TProbeTask task(tmCallingThread);
  task.Perform();
  task.Cancel();
  EXPECT_FALSE(task.CancelRequested());
  EXPECT_EQ(task.Events, (Strings{"start", "finish"}));
}

TEST(TaskTest, SecondPerformIsRefusedAndRunsNothing) {
  TProbeTask task(tmCallingThread);
  task.Perform();
  EXPECT_THROW_MSG(task.Perform(), ETaskError, "The task is tried to perform for multiple times.");
  EXPECT_EQ(task.ExecuteCalls, 1);
  EXPECT_EQ(task.Events, (Strings{"start", "finish"}));
  EXPECT_TRUE(task.Finished());
}

TEST(TaskTest, UnknownModeRunsNothingAndStaysCreated) {
  TProbeTask task(static_cast<TTaskMode>(7));
  task.Perform();
  task.Perform();
  EXPECT_EQ(task.ExecuteCalls, 0);
  EXPECT_FALSE(task.Started());
  EXPECT_TRUE(task.Events.empty());
  EXPECT_FALSE(task.ThreadActive());
}

TEST(TaskTest, FailingExecuteLeavesTheTaskRunning) {
  TProbeTask task(tmCallingThread, [](TProbeTask&) { throw EAbort("work failed"); });
  EXPECT_THROW_MSG(task.Perform(), EAbort, "work failed");
  EXPECT_EQ(task.Events, Strings{"start"});
  EXPECT_TRUE(task.IsRunning());
  EXPECT_FALSE(task.Finished());
  task.Cancel();
  EXPECT_TRUE(task.CancelRequested());
  EXPECT_EQ(task.Events, (Strings{"start", "cancel"}));
  EXPECT_THROW_MSG(task.Perform(), ETaskError, "The task is tried to perform for multiple times.");
}

TEST(TaskTest, HandlerExceptionPassesBackIntoTheWork) {
  std::string seenByWork;
  TProbeTask task(tmCallingThread, [&seenByWork](TProbeTask& self) {
    try {
      self.Idle();
    } catch (const Exception& error) {
      seenByWork = error.Message();
    }
    self.SetPosition(5);
  });
  task.OnIdleExtra = [] { throw EInOutError("idle handler failed"); };
  task.OnProgressExtra = [] { throw EAbort("progress handler failed"); };
  EXPECT_THROW_MSG(task.Perform(), EAbort, "progress handler failed");
  EXPECT_EQ(seenByWork, "idle handler failed");
  EXPECT_EQ(task.Position(), 5);
  EXPECT_FALSE(task.Finished());
}

TEST(TaskTest, WorkerRunsOnAnotherThreadAndDeliversEventsInTheMainThread) {
  TProbeTask task(tmWorkerThread, [](TProbeTask& self) {
    for (int i = 1; i <= 4; ++i) {
      self.SetPosition(Percent(i, 4));
      self.Idle();
    }
  });
  task.Perform();
  // Perform has returned at once; OnStart waits for the main thread to run the queue.
  EXPECT_TRUE(task.Events.empty());
  EXPECT_TRUE(task.ThreadActive());
  ASSERT_TRUE(task.WaitForWorker(20000));
  EXPECT_FALSE(task.ExecuteInMainThread);
  EXPECT_EQ(task.ExecuteCalls, 1);
  EXPECT_EQ(task.Events, (Strings{"start", "progress 25", "idle", "progress 50", "idle", "progress 75", "idle",
                                  "progress 100", "idle", "finish"}));
  EXPECT_TRUE(task.AllInMainThread);
  EXPECT_TRUE(task.SenderAlwaysTask);
  EXPECT_TRUE(task.Finished());
  EXPECT_FALSE(task.ThreadActive());
  EXPECT_FALSE(task.WorkerException());
}

TEST(TaskTest, WorkerSeesCancelFromTheMainThreadAtItsNextCheck) {
  std::atomic<int> roundsAfterCancel{-1};
  TProbeTask task(tmWorkerThread, [&roundsAfterCancel](TProbeTask& self) {
    for (int i = 0; i < 100000; ++i) {
      if (self.CancelRequested()) {
        roundsAfterCancel = i;
        return;
      }
      self.SetPosition(i);
      self.Idle();
    }
  });
  task.OnIdleExtra = [&task] {
    if (task.Position() == 3) {
      task.Cancel();
      task.Cancel();
    }
  };
  task.Perform();
  ASSERT_TRUE(task.WaitForWorker(20000));
  EXPECT_EQ(roundsAfterCancel, 4);
  EXPECT_EQ(task.Events, (Strings{"start", "progress 0", "idle", "progress 1", "idle", "progress 2", "idle",
                                  "progress 3", "idle", "cancel", "finish"}));
  EXPECT_TRUE(task.AllInMainThread);
  EXPECT_TRUE(task.CancelRequested());
}

TEST(TaskTest, SecondPerformRightAfterAWorkerLaunchIsRefused) {
  TProbeTask task(tmWorkerThread);
  task.Perform();
  EXPECT_THROW_MSG(task.Perform(), ETaskError, "The task is tried to perform for multiple times.");
  ASSERT_TRUE(task.WaitForWorker(20000));
  EXPECT_EQ(task.ExecuteCalls, 1);
  EXPECT_EQ(task.Events, (Strings{"start", "finish"}));
}

TEST(TaskTest, ExceptionEscapingTheWorkerIsKeptAndReleasesTheTask) {
  TProbeTask task(tmWorkerThread, [](TProbeTask&) { throw EWriteError("disk full"); });
  task.Perform();
  ASSERT_TRUE(task.WaitForWorker(20000));
  EXPECT_EQ(task.Events, Strings{"start"});
  EXPECT_TRUE(task.IsRunning());
  ASSERT_TRUE(task.WorkerException());
  EXPECT_THROW_MSG(std::rethrow_exception(task.WorkerException()), EStreamError, "disk full");
}

TEST(TaskTest, HandlerExceptionInTheMainThreadIsRaisedInTheWorker) {
  std::atomic<bool> workSawIt{false};
  TProbeTask task(tmWorkerThread, [&workSawIt](TProbeTask& self) {
    try {
      self.Idle();
    } catch (const EInOutError&) {
      workSawIt = true;
    }
    self.SetPosition(1);
  });
  task.OnIdleExtra = [] { throw EInOutError("idle refused"); };
  task.OnProgressExtra = [] { throw EAbort("progress refused"); };
  task.Perform();
  ASSERT_TRUE(task.WaitForWorker(20000));
  EXPECT_TRUE(workSawIt);
  EXPECT_FALSE(task.Finished());
  EXPECT_THROW_MSG(std::rethrow_exception(task.WorkerException()), EAbort, "progress refused");
  EXPECT_TRUE(task.AllInMainThread);
}

TEST(TaskTest, HandlerRemovedWhileItsCallIsQueuedIsNotCalled) {
  std::atomic<bool> queued{false};
  SetWakeMainThread([&queued] { queued = true; });
  TProbeTask task(tmWorkerThread);
  task.Perform();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!queued && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  ASSERT_TRUE(queued);
  // OnStart's call is queued and the worker blocks on it: drop the handler now.
  task.OnStart = nullptr;
  ASSERT_TRUE(task.WaitForWorker(20000));
  SetWakeMainThread(nullptr);
  EXPECT_EQ(task.Events, Strings{"finish"});
}
