// The progress dialog's timing rules, driven offscreen.

#include "app/ProgressDialogUnit.h"
#include "base/Exceptions.h"
#include "gui/Scaling.h"
#include "tests/common/QtTestSupport.h"

#include <QCoreApplication>
#include <QLabel>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QWindow>

#include <functional>

namespace {

// A close request as the window system delivers it for the close box.
void UserClose(QWidget* Widget) {
  ASSERT_NE(Widget->windowHandle(), nullptr);
  Widget->windowHandle()->close();
}

// The ways the user can press the dialog's Cancel button.
enum class TPress { Click, Return, Enter, Escape };

void Press(TProgressDialog& Dialog, TPress How) {
  switch (How) {
    case TPress::Click: QTest::mouseClick(Dialog.CancelButton, Qt::LeftButton); break;
    case TPress::Return: QTest::keyClick(&Dialog, Qt::Key_Return); break;
    case TPress::Enter: QTest::keyClick(&Dialog, Qt::Key_Enter); break;
    case TPress::Escape: QTest::keyClick(&Dialog, Qt::Key_Escape); break;
  }
}

class ProgressDialogTest : public ::testing::Test {
protected:
  TProgressDialog Dialog;
  int Runs = 0;
  int Queries = 0;

  void SetUp() override {
    Dialog.OnCancelQuery = [this](TObject* Sender) {
      EXPECT_EQ(Sender, static_cast<TObject*>(&Dialog));
      ++Queries;
    };
  }
  // Sets OnRun to count its calls and then run Work.
  void OnRun(std::function<void()> Work) {
    Dialog.OnRun = [this, Work](TObject* Sender) {
      EXPECT_EQ(Sender, static_cast<TObject*>(&Dialog));
      ++Runs;
      Work();
    };
  }
  // Closes the dialog from the program once the current handler has returned.
  void CloseLater() {
    QMetaObject::invokeMethod(&Dialog, [this] { Dialog.CloseDialog(); }, Qt::QueuedConnection);
  }
};

TEST_F(ProgressDialogTest, ModalExecuteRunsOnceWhileVisibleAndReturnsAfterCloseDialog) {
  bool visibleInRun = false;
  bool visibleAfterClose = false;
  OnRun([&] {
    visibleInRun = Dialog.isVisible();
    Dialog.CloseDialog();
    visibleAfterClose = Dialog.isVisible();
  });
  Dialog.Execute(true);
  EXPECT_EQ(Runs, 1);
  EXPECT_TRUE(visibleInRun);
  EXPECT_TRUE(visibleAfterClose) << "a close inside OnRun must wait until it returns";
  EXPECT_FALSE(Dialog.isVisible());
  EXPECT_TRUE(Dialog.Modal());
  EXPECT_TRUE(Dialog.CloseByProgram());
  EXPECT_FALSE(Dialog.Running());
  QCoreApplication::processEvents();
  EXPECT_EQ(Runs, 1);
  EXPECT_EQ(Queries, 0);
}

class ProgressDialogPressTest : public ProgressDialogTest, public ::testing::WithParamInterface<TPress> {};

TEST_P(ProgressDialogPressTest, CancelDuringRunClosesOnlyWhenRunReturnsAndAsksNothing) {
  bool visibleAfterPress = false;
  bool closeByProgramAfterPress = false;
  OnRun([&] {
    Press(Dialog, GetParam());
    QCoreApplication::processEvents();
    visibleAfterPress = Dialog.isVisible();
    closeByProgramAfterPress = Dialog.CloseByProgram();
  });
  Dialog.Execute(true);
  EXPECT_TRUE(visibleAfterPress);
  EXPECT_TRUE(closeByProgramAfterPress);
  EXPECT_FALSE(Dialog.isVisible());
  EXPECT_EQ(Runs, 1);
  EXPECT_EQ(Queries, 0);
}

INSTANTIATE_TEST_SUITE_P(AllWays, ProgressDialogPressTest,
                         ::testing::Values(TPress::Click, TPress::Return, TPress::Enter, TPress::Escape));

TEST_F(ProgressDialogTest, UserCloseDuringRunAsksEveryTimeAndStaysOpen) {
  bool visibleAfterCloses = false;
  bool visibleAfterRun = false;
  OnRun([&] {
    UserClose(&Dialog);
    QCoreApplication::processEvents();
    UserClose(&Dialog);
    QCoreApplication::processEvents();
    visibleAfterCloses = Dialog.isVisible();
    QMetaObject::invokeMethod(&Dialog, [&] {
      visibleAfterRun = Dialog.isVisible();
      Dialog.CloseDialog();
    }, Qt::QueuedConnection);
  });
  Dialog.Execute(true);
  EXPECT_EQ(Queries, 2);
  EXPECT_TRUE(visibleAfterCloses);
  EXPECT_TRUE(visibleAfterRun) << "the user's close requests must not have closed the dialog";
  EXPECT_FALSE(Dialog.isVisible());
}

TEST_F(ProgressDialogTest, UserCloseAfterCancelAsksNothing) {
  OnRun([&] {
    Press(Dialog, TPress::Click);
    UserClose(&Dialog);
    QCoreApplication::processEvents();
    UserClose(&Dialog);
  });
  Dialog.Execute(true);
  EXPECT_EQ(Queries, 0);
  EXPECT_FALSE(Dialog.isVisible());
}

TEST_F(ProgressDialogTest, SecondExecuteStartsAgainWithTheSameEvents) {
  std::vector<bool> closeByProgramAtRun;
  OnRun([&] {
    closeByProgramAtRun.push_back(Dialog.CloseByProgram());
    UserClose(&Dialog);
    Dialog.CloseDialog();
  });
  Dialog.Execute(true);
  Dialog.Execute(true);
  EXPECT_EQ(Runs, 2);
  EXPECT_EQ(closeByProgramAtRun, (std::vector<bool>{false, false}));
  EXPECT_EQ(Queries, 2);
}

TEST_F(ProgressDialogTest, ModelessShowingRunsFromTheApplicationLoopAndHidesAtOnce) {
  bool visibleInRun = false;
  OnRun([&] { visibleInRun = Dialog.isVisible(); });
  Dialog.Execute(false);
  EXPECT_TRUE(Dialog.isVisible());
  EXPECT_EQ(Runs, 0) << "OnRun must wait for the event loop";
  QCoreApplication::processEvents();
  EXPECT_EQ(Runs, 1);
  EXPECT_TRUE(visibleInRun);
  EXPECT_FALSE(Dialog.Modal());

  UserClose(&Dialog);
  EXPECT_EQ(Queries, 1);
  EXPECT_TRUE(Dialog.isVisible());
  Dialog.CloseDialog();
  EXPECT_FALSE(Dialog.isVisible());
  QCoreApplication::processEvents();
  EXPECT_EQ(Runs, 1);
}

TEST_F(ProgressDialogTest, ErrorFromRunLeavesTheModalRunAndClosesTheDialog) {
  OnRun([] { throw Exception("The work failed."); });
  EXPECT_THROW_MSG(Dialog.Execute(true), Exception, "The work failed.");
  EXPECT_FALSE(Dialog.isVisible());

  // The error belongs to that showing only.
  OnRun([&] { Dialog.CloseDialog(); });
  Dialog.Execute(true);
  EXPECT_EQ(Runs, 2);
}

TEST_F(ProgressDialogTest, LayoutIsTheFixedDesignScaledToTheScreen) {
  EXPECT_EQ(Dialog.windowTitle(), QStringLiteral("Progress"));
  EXPECT_EQ(Dialog.size(), QSize(ScaleLength(381, &Dialog), ScaleLength(146, &Dialog)));
  EXPECT_EQ(Dialog.minimumSize(), Dialog.maximumSize());
  EXPECT_FALSE(Dialog.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
  EXPECT_TRUE(Dialog.windowFlags().testFlag(Qt::WindowCloseButtonHint));

  EXPECT_EQ(Dialog.MessageLabel->geometry(), ScaleBounds(10, 10, 361, 26, &Dialog));
  EXPECT_EQ(Dialog.ProgressBar->geometry(), ScaleBounds(10, 40, 361, 26, &Dialog));
  EXPECT_EQ(Dialog.NoteLabel->geometry(), ScaleBounds(10, 70, 361, 26, &Dialog));
  EXPECT_EQ(Dialog.CancelButton->geometry(), ScaleBounds(250, 110, 121, 26, &Dialog));
  EXPECT_EQ(Dialog.ProgressBar->minimum(), 0);
  EXPECT_EQ(Dialog.ProgressBar->maximum(), 100);
  EXPECT_EQ(Dialog.ProgressBar->value(), 0);
  EXPECT_EQ(Dialog.CancelButton->text(), QStringLiteral("Cancel"));
  EXPECT_TRUE(Dialog.CancelButton->isDefault());
  EXPECT_EQ(Dialog.MessageLabel->textFormat(), Qt::PlainText);
  EXPECT_TRUE(Dialog.MessageLabel->alignment().testFlag(Qt::AlignVCenter));
  EXPECT_FALSE(Dialog.Modal());
  EXPECT_FALSE(Dialog.CloseByProgram());
}

}  // namespace
