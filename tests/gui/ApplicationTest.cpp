// The application object: idle hook, message processing, the synchronize
// bridge, the handler guard and the error display.

#include "gui/Application.h"
#include "base/Exceptions.h"
#include "base/Thread.h"
#include "gui/DialogSeam.h"
#include "gui/HandlerGuard.h"
#include "tests/common/QtTestSupport.h"

#include <QAbstractEventDispatcher>
#include <QDialog>
#include <QEventLoop>
#include <QMetaObject>
#include <QTimer>

#include <atomic>
#include <stdexcept>

namespace {

// Runs the event loop until it has gone idle Count times, then quits it.
void RunUntilIdle(int Count) {
  QEventLoop loop;
  int blocks = 0;
  auto connection = QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock,
                                     &loop, [&] {
                                       // Each pass wakes the loop again, so it keeps going idle.
                                       if (++blocks < Count)
                                         QTimer::singleShot(0, &loop, [] {});
                                       else
                                         QTimer::singleShot(0, &loop, &QEventLoop::quit);
                                     });
  loop.exec();
  QObject::disconnect(connection);
}

TEST(ApplicationTest, TitleIsTheCaptionOfTheBoxes) {
  Application->SetTitle("Varnex");
  EXPECT_EQ(Application->Title(), "Varnex");
  TDialogScript script;
  script.Then(TDialogAnswer::Ok(dkError));
  Application->ShowException(Exception("Boom"));
  Application->SetTitle("");
  script.Then(TDialogAnswer::Ok(dkError));
  Application->ShowException(Exception("Boom."));
  ASSERT_EQ(script.Requests().size(), 2u);
  EXPECT_EQ(script.Requests()[0].Caption, "Varnex");
  EXPECT_EQ(script.Requests()[0].Text, "Boom.");
  EXPECT_EQ(script.Requests()[1].Caption, "");
  EXPECT_EQ(script.Requests()[1].Text, "Boom.");
}

TEST(ApplicationTest, IdleHandlerRunsOnceWhenTheLoopFirstRunsEmpty) {
  int calls = 0;
  TObject* sender = nullptr;
  Application->SetOnIdle([&](TObject* Sender) {
    ++calls;
    sender = Sender;
  });
  EXPECT_TRUE(Application->IdleHooked());
  EXPECT_EQ(calls, 0);
  RunUntilIdle(5);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(sender, static_cast<TObject*>(Application));
  EXPECT_FALSE(Application->IdleHooked());
}

TEST(ApplicationTest, UnhookedIdleHandlerNeverRuns) {
  int calls = 0;
  Application->SetOnIdle([&](TObject*) { ++calls; });
  Application->SetOnIdle(nullptr);
  RunUntilIdle(3);
  EXPECT_EQ(calls, 0);
}

TEST(ApplicationTest, IdleHandlerErrorGoesToTheErrorDisplay) {
  TDialogScript script;
  script.Then(TDialogAnswer::Ok(dkError));
  Application->SetOnIdle([](TObject*) { throw Exception("Idle failed"); });
  RunUntilIdle(3);
  ASSERT_EQ(script.Requests().size(), 1u);
  EXPECT_EQ(script.Requests()[0].Text, "Idle failed.");
}

TEST(ApplicationTest, ProcessMessagesRunsWhatIsWaiting) {
  int calls = 0;
  QMetaObject::invokeMethod(Application, [&] { ++calls; }, Qt::QueuedConnection);
  QMetaObject::invokeMethod(Application, [&] { ++calls; }, Qt::QueuedConnection);
  EXPECT_EQ(calls, 0);
  Application->ProcessMessages();
  EXPECT_EQ(calls, 2);
}

class TSyncWorker : public TThread {
public:
  explicit TSyncWorker(QEventLoop& Loop) : FLoop(Loop) {}
  ~TSyncWorker() override { WaitFor(); }
  std::atomic<bool> RanInMainThread{false};
  std::atomic<bool> ErrorCameBack{false};

protected:
  void Execute() override {
    Synchronize([this] { RanInMainThread = IsMainThread(); });
    try {
      Synchronize([] { throw Exception("from the main thread"); });
    } catch (const Exception& E) {
      ErrorCameBack = E.Message() == "from the main thread";
    }
    QMetaObject::invokeMethod(&FLoop, &QEventLoop::quit, Qt::QueuedConnection);
  }

private:
  QEventLoop& FLoop;
};

TEST(ApplicationTest, WorkerSynchronizeRunsInTheMainThreadFromTheQtLoop) {
  QEventLoop loop;
  bool gaveUp = false;
  // Only a guard against a hang: a working bridge quits the loop long before.
  QTimer::singleShot(60000, &loop, [&] {
    gaveUp = true;
    loop.quit();
  });
  TSyncWorker worker(loop);
  worker.Start();
  loop.exec();
  worker.WaitFor();
  EXPECT_FALSE(gaveUp);
  EXPECT_TRUE(worker.RanInMainThread);
  EXPECT_TRUE(worker.ErrorCameBack);
}

TEST(HandlerGuardTest, EveryKindOfExceptionStopsAtTheGuard) {
  TDialogScript script;
  script.Then(TDialogAnswer::Ok(dkError)).Then(TDialogAnswer::Ok(dkError)).Then(TDialogAnswer::Ok(dkError));
  RunGuarded([] { throw Exception("The program cannot save the log."); });
  RunGuarded([] { throw EAbort(); });
  RunGuarded([] { throw std::runtime_error("library failure"); });
  RunGuarded([] { throw 42; });
  ASSERT_EQ(script.Requests().size(), 3u) << "EAbort must show nothing";
  EXPECT_EQ(script.Requests()[0].Text, "The program cannot save the log.");
  EXPECT_EQ(script.Requests()[1].Text, "library failure.");
  EXPECT_EQ(script.Requests()[2].Text, "");
  EXPECT_EQ(script.Requests()[0].Kind, dkError);
  EXPECT_EQ(script.Unexpected(), 0);
}

TEST(HandlerGuardTest, GuardedPassesArgumentsAndRunsInsideANestedLoop) {
  int sum = 0;
  auto add = Guarded<int, int>([&](int A, int B) { sum = A + B; });
  add(2, 3);
  EXPECT_EQ(sum, 5);

  TDialogScript script;
  script.Then(TDialogAnswer::Ok(dkError));
  QDialog dialog;
  QTimer::singleShot(0, &dialog, Guarded([] { throw Exception("Thrown inside exec"); }));
  QTimer::singleShot(0, &dialog, [&] { dialog.accept(); });
  dialog.exec();
  ASSERT_EQ(script.Requests().size(), 1u);
  EXPECT_EQ(script.Requests()[0].Text, "Thrown inside exec.");
}

}  // namespace
