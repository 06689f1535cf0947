// The boxes through the seam and as real Qt widgets, and the error text rule.

#include "gui/MessageBoxes.h"
#include "gui/Application.h"
#include "gui/DialogSeam.h"
#include "tests/common/QtTestSupport.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include <stdexcept>

namespace {

using varnex_test::OnModalWidget;

TEST(ErrorDisplayTextTest, AddsAFullStopOnlyAfterACharacterThatSortsAfterIt) {
  EXPECT_EQ(ErrorDisplayText("Cannot load glyph from file: /x/a.bmp"), "Cannot load glyph from file: /x/a.bmp.");
  EXPECT_EQ(ErrorDisplayText("Specify the path of a directory."), "Specify the path of a directory.");
  EXPECT_EQ(ErrorDisplayText("Done!"), "Done!") << "'!' sorts before '.'";
  EXPECT_EQ(ErrorDisplayText("Count -"), "Count -");
  EXPECT_EQ(ErrorDisplayText("Path /"), "Path /.") << "'/' sorts right after '.'";
  EXPECT_EQ(ErrorDisplayText("Value 0"), "Value 0.");
  EXPECT_EQ(ErrorDisplayText(""), "");
  EXPECT_EQ(ErrorDisplayText("Größe \xC3\xA4"), "Größe \xC3\xA4.") << "bytes above 0x7F sort after '.'";
}

TEST(DialogSeamTest, AnUnforeseenDialogIsCancelledAndCounted) {
  TDialogScript script;
  EXPECT_THROW(TDialogScript second, std::logic_error);
  EXPECT_FALSE(QuestionBox("nobody answers"));
  script.Then(TDialogAnswer::Ok(dkError));
  EXPECT_FALSE(QuestionBox("the answer is for another kind")) << "a Yes must never be invented";
  EXPECT_EQ(script.Unexpected(), 2);
  EXPECT_EQ(script.Remaining(), 1u);

  int seen = 0;
  TDialogAnswer yes = TDialogAnswer::Yes();
  yes.WhileOpen = [&](const TDialogRequest& Request) {
    EXPECT_EQ(Request.Text, "with a hook");
    ++seen;
  };
  TDialogScript* current = TDialogScript::Current();
  ASSERT_EQ(current, &script);
  script.Then(TDialogAnswer::Ok(dkError));
  ErrorBox("drains the queue");
  ErrorBox("and this one");
  script.Then(yes);
  EXPECT_TRUE(QuestionBox("with a hook"));
  EXPECT_EQ(seen, 1);
}

TEST(MessageBoxesTest, RealQuestionBoxDefaultsToYesWithTheWarningIcon) {
  Application->SetTitle("Varnex");
  bool checked = false;
  OnModalWidget([&](QWidget* Widget) {
    auto* box = qobject_cast<QMessageBox*>(Widget);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->windowTitle(), QStringLiteral("Varnex"));
    EXPECT_EQ(box->text(), QStringLiteral("Two lines\n\nSave?"));
    EXPECT_EQ(box->icon(), QMessageBox::Warning);
    EXPECT_EQ(box->standardButtons(), QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(static_cast<QAbstractButton*>(box->defaultButton()), box->button(QMessageBox::Yes));
    EXPECT_EQ(box->windowModality(), Qt::ApplicationModal);
    checked = true;
    QTest::keyClick(box, Qt::Key_Return);
  });
  EXPECT_TRUE(QuestionBox("Two lines\r\n\r\nSave?"));
  EXPECT_TRUE(checked);

  OnModalWidget([](QWidget* Widget) { QTest::keyClick(Widget, Qt::Key_Escape); });
  EXPECT_FALSE(QuestionBox("Escape means No"));
  OnModalWidget([](QWidget* Widget) { qobject_cast<QMessageBox*>(Widget)->button(QMessageBox::No)->click(); });
  EXPECT_FALSE(QuestionBox("No means No"));
}

TEST(MessageBoxesTest, RealErrorAndInformationBoxesHaveOneOkButton) {
  Application->SetTitle("Varnex");
  QMessageBox::Icon errorIcon = QMessageBox::NoIcon, infoIcon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons errorButtons, infoButtons;
  OnModalWidget([&](QWidget* Widget) {
    auto* box = qobject_cast<QMessageBox*>(Widget);
    errorIcon = box->icon();
    errorButtons = box->standardButtons();
    EXPECT_EQ(box->text(), QStringLiteral("The program cannot delete the log."));
    box->button(QMessageBox::Ok)->click();
  });
  ErrorBox("The program cannot delete the log.");
  OnModalWidget([&](QWidget* Widget) {
    auto* box = qobject_cast<QMessageBox*>(Widget);
    infoIcon = box->icon();
    infoButtons = box->standardButtons();
    QTest::keyClick(box, Qt::Key_Return);
  });
  InformationBox("About");
  EXPECT_EQ(errorIcon, QMessageBox::Critical);
  EXPECT_EQ(errorButtons, QMessageBox::Ok);
  EXPECT_EQ(infoIcon, QMessageBox::Information);
  EXPECT_EQ(infoButtons, QMessageBox::Ok);
}

}  // namespace
