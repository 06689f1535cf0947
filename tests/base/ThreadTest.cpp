#include "base/Thread.h"

#include "tests/common/TestSupport.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

// Runs a function as the thread's work.
class TFunctionThread : public TThread {
public:
  explicit TFunctionThread(std::function<void()> Work, std::atomic<bool>* Destroyed = nullptr)
      : FWork(std::move(Work)), FDestroyed(Destroyed) {}
  ~TFunctionThread() override {
    if (!FreeOnTerminate()) WaitFor();
    if (FDestroyed) *FDestroyed = true;
  }
  using TThread::Synchronize;

protected:
  void Execute() override { FWork(); }

private:
  std::function<void()> FWork;
  std::atomic<bool>* FDestroyed;
};

// Polls Condition, running the synchronize queue, until it holds or ten seconds pass.
bool PumpUntil(const std::function<bool()>& Condition) {
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (!Condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    CheckSynchronize(2);
  }
  return true;
}

// Records the wake-up calls of Synchronize for the length of a test.
class WakeCounter {
public:
  WakeCounter() {
    SetWakeMainThread([this] { ++Count; });
  }
  ~WakeCounter() { SetWakeMainThread(nullptr); }
  std::atomic<int> Count{0};
};

}  // namespace

TEST(ThreadTest, MainThreadIsRecordedAtStartUp) {
  EXPECT_EQ(MainThreadID, std::this_thread::get_id());
  EXPECT_TRUE(IsMainThread());
  bool otherIsMain = true;
  std::thread other([&otherIsMain] { otherIsMain = IsMainThread(); });
  other.join();
  EXPECT_FALSE(otherIsMain);
}

TEST(ThreadTest, SuspendedThreadRunsOnlyAfterStartAndOnce) {
  std::atomic<int> runs{0};
  std::thread::id workerId;
  TFunctionThread thread([&] {
    ++runs;
    workerId = std::this_thread::get_id();
  });
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(runs, 0);
  EXPECT_FALSE(thread.Finished());
  thread.Start();
  thread.WaitFor();
  EXPECT_EQ(runs, 1);
  EXPECT_TRUE(thread.Finished());
  EXPECT_NE(workerId, std::this_thread::get_id());
  EXPECT_THROW_MSG(thread.Start(), EThread, "Cannot call Start on a running or terminated thread");
  EXPECT_THROW_MSG(thread.Resume(), EThread, "Cannot call Start on a running or terminated thread");
  EXPECT_EQ(runs, 1);
}

TEST(ThreadTest, WaitForReturnsForAThreadNeverStartedAndWhenCalledAgain) {
  std::atomic<bool> done{false};
  TFunctionThread idle([] {});
  idle.WaitFor();
  EXPECT_FALSE(idle.Finished());
  TFunctionThread thread([&done] {
    std::this_thread::sleep_for(30ms);
    done = true;
  });
  thread.Resume();
  thread.WaitFor();
  EXPECT_TRUE(done);
  thread.WaitFor();
  EXPECT_TRUE(thread.Finished());
}

TEST(ThreadTest, SelfFreeingThreadDeletesItselfAfterItsWork) {
  std::atomic<bool> destroyed{false};
  std::atomic<bool> worked{false};
  auto* thread = new TFunctionThread([&worked] { worked = true; }, &destroyed);
  thread->SetFreeOnTerminate(true);
  EXPECT_TRUE(thread->FreeOnTerminate());
  EXPECT_THROW_MSG(thread->WaitFor(), EThread, "Cannot wait for a thread that frees itself");
  thread->Start();
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (!destroyed && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
  EXPECT_TRUE(worked);
  EXPECT_TRUE(destroyed);
}

TEST(ThreadTest, ExceptionEscapingExecuteIsKeptAsFatalException) {
  TFunctionThread thread([] { throw EAbort("worker failed"); });
  thread.Start();
  thread.WaitFor();
  ASSERT_TRUE(thread.FatalException());
  EXPECT_THROW_MSG(std::rethrow_exception(thread.FatalException()), EAbort, "worker failed");
}

TEST(ThreadTest, SynchronizeInTheMainThreadCallsAtOnce) {
  WakeCounter wake;
  int calls = 0;
  TThread::Synchronize(nullptr, [&calls] { ++calls; });
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(wake.Count, 0);
  EXPECT_FALSE(CheckSynchronize());
}

TEST(ThreadTest, SynchronizeBlocksTheWorkerUntilTheMainThreadRunsTheCall) {
  WakeCounter wake;
  std::atomic<bool> returned{false};
  std::thread::id callThread;
  TFunctionThread* self = nullptr;
  TFunctionThread thread([&] {
    self->Synchronize([&callThread] { callThread = std::this_thread::get_id(); });
    returned = true;
  });
  self = &thread;
  thread.Start();
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (wake.Count == 0 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
  ASSERT_EQ(wake.Count, 1);
  // Queued, but nobody has run the queue: the worker must still be waiting.
  std::this_thread::sleep_for(20ms);
  EXPECT_FALSE(returned);
  EXPECT_EQ(callThread, std::thread::id());
  EXPECT_TRUE(CheckSynchronize());
  thread.WaitFor();
  EXPECT_TRUE(returned);
  EXPECT_EQ(callThread, MainThreadID);
  EXPECT_FALSE(CheckSynchronize());
}

TEST(ThreadTest, ExceptionFromTheCallIsRaisedAgainInTheWorker) {
  std::string caught;
  bool rightClass = false;
  TFunctionThread thread([&] {
    try {
      TThread::Synchronize(nullptr, [] { throw EWriteError("main thread refused"); });
    } catch (const EStreamError& error) {
      rightClass = dynamic_cast<const EWriteError*>(&error) != nullptr;
      caught = error.Message();
    }
  });
  thread.Start();
  ASSERT_TRUE(PumpUntil([&thread] { return thread.Finished(); }));
  thread.WaitFor();
  EXPECT_TRUE(rightClass);
  EXPECT_EQ(caught, "main thread refused");
  EXPECT_FALSE(thread.FatalException());
}

TEST(ThreadTest, CallsFromManyWorkersEachRunOnceInTheMainThread) {
  constexpr int kWorkers = 4;
  constexpr int kCallsEach = 50;
  int total = 0;  // touched only in the main thread
  bool allInMain = true;
  std::vector<std::unique_ptr<TFunctionThread>> threads;
  for (int w = 0; w < kWorkers; ++w) {
    threads.push_back(std::make_unique<TFunctionThread>([&] {
      for (int i = 0; i < kCallsEach; ++i) {
        TThread::Synchronize(nullptr, [&] {
          ++total;
          allInMain = allInMain && IsMainThread();
        });
      }
    }));
  }
  for (auto& thread : threads) thread->Start();
  ASSERT_TRUE(PumpUntil([&] {
    for (auto& thread : threads)
      if (!thread->Finished()) return false;
    return true;
  }));
  EXPECT_EQ(total, kWorkers * kCallsEach);
  EXPECT_TRUE(allInMain);
}

TEST(ThreadTest, CheckSynchronizeWaitsForAQueuedCallOrTheTimeout) {
  EXPECT_FALSE(CheckSynchronize(5));
  std::atomic<bool> ran{false};
  TFunctionThread thread([&ran] { TThread::Synchronize(nullptr, [&ran] { ran = true; }); });
  thread.Start();
  // A long timeout ends as soon as the call arrives.
  bool any = false;
  for (int i = 0; i < 10 && !any; ++i) any = CheckSynchronize(1000);
  EXPECT_TRUE(any);
  EXPECT_TRUE(ran);
  thread.WaitFor();
}

TEST(ThreadTest, CheckSynchronizeOutsideTheMainThreadIsRefused) {
  std::string message;
  std::thread other([&message] {
    try {
      CheckSynchronize();
    } catch (const EThread& error) {
      message = error.Message();
    }
  });
  other.join();
  EXPECT_EQ(message, "CheckSynchronize must be called in the main thread");
}
