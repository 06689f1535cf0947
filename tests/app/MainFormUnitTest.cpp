// The main window offscreen, through the dialog seam, in a temporary program
// directory: layout, actions and menu, inputs, the parameter warning, drops,
// conversion, the log commands, help, and closing.

#include "app/GlyphsMan.h"
#include "app/InputMan.h"
#include "app/SettingsMan.h"
#include "gui/DialogSeam.h"
#include "gui/Scaling.h"
#include "tests/app/ProgramDirFixture.h"

#include <QAction>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>

#include <set>
#include <QTest>

#include <filesystem>

namespace {

using varnex_test::ProcessUntil;
using varnex_test::ReadFileBytes;
using varnex_test::WriteFileBytes;

class MainFormTest : public varnex_test::ProgramDirTest {
protected:
  std::unique_ptr<TMainForm> Form;

  void Start(TStringList Parameters = {}) {
    Form = std::make_unique<TMainForm>(Setup(std::move(Parameters)));
    Form->show();
  }
  void TearDown() override {
    Form.reset();
    ProgramDirTest::TearDown();
  }
  // Drops Paths on the window as a file manager would and returns the event.
  std::unique_ptr<QDropEvent> Drop(const TStringList& Paths) {
    QList<QUrl> urls;
    for (const std::string& p : Paths) urls.append(QUrl::fromLocalFile(QString::fromStdString(p)));
    FDropData.setUrls(urls);
    // The window first has to take the drag as it enters.
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction | Qt::MoveAction, &FDropData, Qt::LeftButton,
                          Qt::NoModifier);
    QCoreApplication::sendEvent(Form.get(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    EXPECT_EQ(enter.dropAction(), Qt::CopyAction);
    auto event = std::make_unique<QDropEvent>(QPointF(10, 10), Qt::CopyAction | Qt::MoveAction, &FDropData,
                                              Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(Form.get(), event.get());
    return event;
  }
  // The texts of Menu's items, "-" for a separator.
  static std::vector<std::string> Items(QMenu* Menu) {
    std::vector<std::string> items;
    for (QAction* a : Menu->actions()) items.push_back(a->isSeparator() ? "-" : a->text().toStdString());
    return items;
  }
  std::string OutputDir() { return Dir / "out"; }

private:
  QMimeData FDropData;
};

TEST_F(MainFormTest, FreshStartShowsDefaultsAndFocusesTheLightButton) {
  Start();
  EXPECT_EQ(MainForm, Form.get());
  EXPECT_EQ(Form->windowTitle(), QStringLiteral("Varnex"));
  EXPECT_EQ(Form->GetLightColor(), 0xFFFFFFu);
  EXPECT_EQ(Form->Label3->text(), QStringLiteral("[255, 255, 255]"));
  EXPECT_EQ(Form->GetShadowColor(), 0x808080u);
  EXPECT_EQ(Form->Label6->text(), QStringLiteral("[128, 128, 128]"));
  EXPECT_EQ(Form->Label2->palette().color(QPalette::Window), QColor(255, 255, 255));
  EXPECT_EQ(Form->Label5->palette().color(QPalette::Window), QColor(128, 128, 128));
  EXPECT_EQ(Form->GetOutputDir(), DefaultOutputDir());
  EXPECT_EQ(Form->focusWidget(), Form->Button1);
  EXPECT_FALSE(Form->GlyphsSaveLogAsAc->isEnabled());
  EXPECT_FALSE(Form->GlyphsDeleteLogAc->isEnabled());
  EXPECT_FALSE(FileExists(Dir / "Settings.ini"));
  EXPECT_TRUE(Form->FileList()->empty());
}

TEST_F(MainFormTest, LogActionsFollowTheLogFileAtStart) {
  WriteFileBytes(Dir / "Log.txt", "old log\r\n");
  Start();
  EXPECT_TRUE(Form->GlyphsSaveLogAsAc->isEnabled());
  EXPECT_TRUE(Form->GlyphsDeleteLogAc->isEnabled());
}

TEST_F(MainFormTest, LayoutIsTheFixedDesignScaledToTheScreen) {
  Start();
  QWidget* client = Form->centralWidget();
  EXPECT_EQ(client->size(), QSize(ScaleLength(376, client), ScaleLength(136, client)));
  EXPECT_EQ(Form->minimumSize(), Form->maximumSize());
  EXPECT_FALSE(Form->windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(Form->windowFlags() & Qt::WindowMinimizeButtonHint);
  struct Bounds {
    QWidget* Control;
    int Left, Top, Width, Height;
  };
  const Bounds table[] = {{Form->Label1, 10, 10, 161, 26},  {Form->Label2, 180, 15, 16, 16},
                          {Form->Label3, 205, 10, 131, 26}, {Form->Button1, 340, 10, 26, 26},
                          {Form->Label4, 10, 40, 161, 26},  {Form->Label5, 180, 45, 16, 16},
                          {Form->Label6, 205, 40, 131, 26}, {Form->Button2, 340, 40, 26, 26},
                          {Form->Label7, 10, 70, 356, 26},  {Form->Edit1, 30, 100, 306, 23},
                          {Form->Button3, 340, 100, 26, 26}};
  for (const Bounds& b : table)
    EXPECT_EQ(b.Control->geometry(), ScaleBounds(b.Left, b.Top, b.Width, b.Height, b.Control))
        << b.Control->metaObject()->className();
  EXPECT_EQ(Form->Label1->text(), QStringLiteral("&Light color:"));
  EXPECT_EQ(Form->Label4->text(), QStringLiteral("&Shadow color:"));
  EXPECT_EQ(Form->Label7->text(), QStringLiteral("&Output directory:"));
  EXPECT_EQ(Form->Label1->buddy(), Form->Button1);
  EXPECT_EQ(Form->Label4->buddy(), Form->Button2);
  EXPECT_EQ(Form->Label7->buddy(), Form->Edit1);
  for (QPushButton* b : {Form->Button1, Form->Button2, Form->Button3}) EXPECT_EQ(b->text(), QStringLiteral("..."));
  // Tab order: the four controls that take the focus, then round again.
  std::vector<QWidget*> order;
  QWidget* w = Form->Button1;
  do {
    if (w->focusPolicy() & Qt::TabFocus) order.push_back(w);
    w = w->nextInFocusChain();
  } while (w != Form->Button1 && order.size() < 10);
  EXPECT_EQ(order, (std::vector<QWidget*>{Form->Button1, Form->Button2, Form->Edit1, Form->Button3}));
}

TEST_F(MainFormTest, ActionsAndMenuAreAsDesigned) {
  Start();
  EXPECT_EQ(Items(Form->GlyphsMenu),
            (std::vector<std::string>{"&Convert...", "-", "&Save Log As...", "&Delete Log...", "-", "E&xit"}));
  EXPECT_EQ(Items(Form->HelpMenu), (std::vector<std::string>{"&Contents...", "-", "&About"}));
  ASSERT_EQ(Form->menuBar()->actions().size(), 2);
  EXPECT_EQ(Form->menuBar()->actions()[0]->text(), QStringLiteral("&Glyphs"));
  EXPECT_EQ(Form->menuBar()->actions()[1]->text(), QStringLiteral("&Help"));
  EXPECT_EQ(Form->GlyphsConvertFilesAc->shortcut(), QKeySequence(QStringLiteral("Ctrl+O")));
  EXPECT_EQ(Form->GlyphsSaveLogAsAc->shortcut(), QKeySequence(QStringLiteral("Ctrl+S")));
  EXPECT_EQ(Form->HelpContentsAc->shortcut(), QKeySequence(QStringLiteral("F1")));
  for (QAction* a : {Form->GlyphsConvertAc, Form->GlyphsDeleteLogAc, Form->GlyphsExitAc, Form->HelpAboutAc,
                     Form->InputLightColorAc, Form->InputShadowColorAc, Form->InputOutputDirAc})
    EXPECT_TRUE(a->shortcut().isEmpty()) << a->objectName().toStdString();
  EXPECT_FALSE(Form->GlyphsConvertAc->isVisible());
  for (QMenu* m : {Form->GlyphsMenu, Form->HelpMenu}) EXPECT_FALSE(m->actions().contains(Form->GlyphsConvertAc));
  EXPECT_EQ(Form->InputOutputDirAc->property("category").toString(), QStringLiteral("Input"));
  EXPECT_EQ(Form->HelpAboutAc->property("category").toString(), QStringLiteral("Help"));
}

TEST_F(MainFormTest, ShortcutsRunTheirCommands) {
  Start();
  QApplication::setActiveWindow(Form.get());
  ASSERT_TRUE(ProcessUntil([&] { return Form->isActiveWindow(); }));
  TDialogScript script;
  script.Then(TDialogAnswer::Cancel(dkOpenFile)).Then(TDialogAnswer::No());
  QTest::keyClick(Form->Button1, Qt::Key_O, Qt::ControlModifier);
  QTest::keyClick(Form->Button1, Qt::Key_F1);
  ASSERT_EQ(script.Requests().size(), 2u);
  EXPECT_EQ(script.Requests()[0].Kind, dkOpenFile);
  EXPECT_EQ(script.Requests()[0].Caption, "Convert");
  EXPECT_EQ(script.Requests()[1].Text, "The program opens the file \"" + Dir / "Help/index.html" + "\".\r\n\r\nContinue?");
  EXPECT_TRUE(Opened.empty());
}

TEST_F(MainFormTest, ColoursShowRedFirstAndKeepTheirTopByte) {
  Start();
  Form->SetLightColor(0x336699);
  EXPECT_EQ(Form->Label3->text(), QStringLiteral("[153, 102, 51]"));
  EXPECT_EQ(Form->Label2->palette().color(QPalette::Window), QColor(153, 102, 51));
  Form->SetShadowColor(0x12FF0001);
  EXPECT_EQ(Form->Label6->text(), QStringLiteral("[1, 0, 255]"));
  EXPECT_EQ(Form->GetShadowColor(), 0x12FF0001u);
}

TEST_F(MainFormTest, EmptyOutputDirIsRefusedAndBlanksAreNot) {
  Start();
  Form->SetOutputDir("   ");
  EXPECT_EQ(Form->GetOutputDir(), "   ");
  Form->SetOutputDir("");
  Form->Button1->setFocus();
  EXPECT_THROW_MSG(Form->CheckOutputDir(), EInvalidFormInput, "Specify the path of a directory.");
  EXPECT_EQ(Form->focusWidget(), Form->Edit1);
}

TEST_F(MainFormTest, ParametersAreWarnedAboutOnceAtFirstIdle) {
  TDialogScript script;
  script.Then(TDialogAnswer::Ok(dkError));
  Start({"--file", "x.bmp"});
  // The window exists before the warning.
  EXPECT_TRUE(script.Requests().empty());
  ASSERT_TRUE(ProcessUntil([&] { return !script.Requests().empty(); }));
  ProcessUntil([] { return false; }, 200);
  ASSERT_EQ(script.Requests().size(), 1u);
  EXPECT_EQ(script.Requests()[0].Kind, dkError);
  EXPECT_EQ(script.Requests()[0].Caption, "Varnex");
  EXPECT_EQ(script.Requests()[0].Text, "This program does not accept parameters.");
  EXPECT_EQ(script.Unexpected(), 0);
  EXPECT_TRUE(Form->isVisible());
}

TEST_F(MainFormTest, NoParametersNoWarning) {
  TDialogScript script;
  Start();
  ProcessUntil([] { return false; }, 200);
  EXPECT_TRUE(script.Requests().empty());
  EXPECT_FALSE(Application->IdleHooked());
}

TEST_F(MainFormTest, DropConvertsAtOnceAndEmptiesTheFileList) {
  WriteFileBytes(Dir / "a.bmp", varnex_test::SmallGlyphBmp());
  std::filesystem::create_directories(Dir / "src2");
  WriteFileBytes(Dir / "src2/b.bmp", varnex_test::SmallGlyphBmp());
  Start();
  Form->SetOutputDir(OutputDir());
  TDialogScript script;
  auto event = Drop({Dir / "a.bmp", Dir / "src2/b.bmp"});
  // The drop is taken as a copy and finished before the conversion runs.
  EXPECT_TRUE(event->isAccepted());
  EXPECT_EQ(event->dropAction(), Qt::CopyAction);
  EXPECT_EQ(*Form->FileList(), (TStringList{Dir / "a.bmp", Dir / "src2/b.bmp"}));
  EXPECT_FALSE(FileExists(Dir / "Log.txt"));
  ASSERT_TRUE(ProcessUntil([&] { return Form->FileList()->empty(); }));
  EXPECT_TRUE(FileExists(OutputDir() + "/a.bmp"));
  EXPECT_TRUE(FileExists(OutputDir() + "/b.bmp"));
  EXPECT_TRUE(script.Requests().empty());
  EXPECT_TRUE(Form->GlyphsSaveLogAsAc->isEnabled());
  EXPECT_TRUE(Form->GlyphsDeleteLogAc->isEnabled());
  EXPECT_NE(ReadFileBytes(Dir / "Log.txt").find("Converted: " + Dir / "src2/b.bmp"), std::string::npos);
}

TEST_F(MainFormTest, DropWithAnEmptyFieldConvertsNothing) {
  WriteFileBytes(Dir / "a.bmp", varnex_test::SmallGlyphBmp());
  Start();
  Form->SetOutputDir("");
  TDialogScript script;
  script.Then(TDialogAnswer::Ok(dkError));
  Drop({Dir / "a.bmp"});
  ASSERT_TRUE(ProcessUntil([&] { return !script.Requests().empty(); }));
  EXPECT_EQ(script.Requests()[0].Text, "Specify the path of a directory.");
  EXPECT_TRUE(Form->FileList()->empty());
  EXPECT_FALSE(FileExists(Dir / "Log.txt"));
  EXPECT_EQ(Form->focusWidget(), Form->Edit1);
}

TEST_F(MainFormTest, FailedConversionKeepsTheLogActionsAndEmptiesTheList) {
  WriteFileBytes(Dir / "Log", "");
  Start();
  // A log path under a regular file cannot be created: the task fails.
  Form.reset();
  TMainFormSetup setup = Setup();
  setup.LogFileName = Dir / "Log/Log.txt";
  Form = std::make_unique<TMainForm>(setup);
  Form->SetOutputDir(OutputDir());
  TDialogScript script;
  script.Then(TDialogAnswer::Open({Dir / "a.bmp"})).Then(TDialogAnswer::Ok(dkError));
  Form->GlyphsConvertFilesAc->trigger();
  ASSERT_EQ(script.Requests().size(), 2u);
  EXPECT_EQ(script.Requests()[1].Text, "The program cannot create a log file.");
  EXPECT_TRUE(Form->FileList()->empty());
  EXPECT_FALSE(Form->GlyphsSaveLogAsAc->isEnabled());
}

TEST_F(MainFormTest, DragOfRemoteItemsIsRefused) {
  Start();
  QMimeData data;
  data.setUrls(QList<QUrl>{QUrl::fromLocalFile(QString::fromStdString(Dir / "a.bmp")),
                            QUrl(QStringLiteral("https://example.org/b.bmp"))});
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(Form.get(), &enter);
  EXPECT_FALSE(enter.isAccepted());
  data.setText(QStringLiteral("text"));
  data.setUrls(QList<QUrl>());
  QDragEnterEvent text(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(Form.get(), &text);
  EXPECT_FALSE(text.isAccepted());
}

TEST_F(MainFormTest, CancelledFilesDialogDoesNothingElse) {
  Start();
  Form->SetOutputDir(OutputDir());
  TDialogScript script;
  script.Then(TDialogAnswer::Cancel(dkOpenFile));
  Form->GlyphsConvertFilesAc->trigger();
  ASSERT_EQ(script.Requests().size(), 1u);
  EXPECT_EQ(script.Requests()[0].Kind, dkOpenFile);
  EXPECT_FALSE(FileExists(Dir / "Log.txt"));
  EXPECT_FALSE(DirectoryExists(OutputDir()));
}

TEST_F(MainFormTest, ConvertSummaryAndDeleteLogDriveTheLogActions) {
  Start();
  Form->SetOutputDir(OutputDir());
  TDialogScript script;
  // The missing file makes one error; the summary's offer is declined.
  script.Then(TDialogAnswer::Open({Dir / "missing.bmp"})).Then(TDialogAnswer::No());
  Form->GlyphsConvertFilesAc->trigger();
  ASSERT_EQ(script.Requests().size(), 2u);
  EXPECT_EQ(script.Requests()[1].Text, "There are 1 errors and 0 warnings.\r\n\r\nSave the log right now?");
  EXPECT_TRUE(Form->GlyphsDeleteLogAc->isEnabled());
  script.Then(TDialogAnswer::Yes());
  Form->GlyphsDeleteLogAc->trigger();
  EXPECT_EQ(script.Requests().back().Text, "Delete the log?");
  EXPECT_FALSE(FileExists(Dir / "Log.txt"));
  EXPECT_FALSE(Form->GlyphsSaveLogAsAc->isEnabled());
  EXPECT_FALSE(Form->GlyphsDeleteLogAc->isEnabled());
}

TEST_F(MainFormTest, InputCommandsChangeTheValues) {
  std::filesystem::create_directories(Dir / "picked");
  std::filesystem::create_directories(Dir / "start");
  Start();
  Form->SetOutputDir(Dir / "start");
  TDialogScript script;
  script.Then(TDialogAnswer::PickColor(0x0000FF))
      .Then(TDialogAnswer::PickColor(0x00FF00))
      .Then(TDialogAnswer::PickFolder(Dir / "picked"));
  Form->Button1->click();
  Form->Button2->click();
  Form->Button3->click();
  EXPECT_EQ(Form->GetLightColor(), 0x0000FFu);
  EXPECT_EQ(Form->GetShadowColor(), 0x00FF00u);
  EXPECT_EQ(Form->GetOutputDir(), Dir / "picked");
  ASSERT_EQ(script.Requests().size(), 3u);
  EXPECT_EQ(script.Requests()[0].Color, 0xFFFFFFu);
  EXPECT_EQ(script.Requests()[1].Color, 0x808080u);
  EXPECT_EQ(script.Requests()[2].Text, "Choose the output directory.");
  EXPECT_EQ(script.Requests()[2].Folder, Dir / "start");
  // A confirmed folder becomes the current directory.
  EXPECT_EQ(GetCurrentDir(), Dir / "picked");
  // Browsing from an empty field opens nothing.
  Form->SetOutputDir("");
  script.Then(TDialogAnswer::Ok(dkError));
  Form->Button3->click();
  EXPECT_EQ(script.Requests().size(), 4u);
  EXPECT_EQ(script.Requests()[3].Text, "Specify the path of a directory.");
}

TEST_F(MainFormTest, LeavingAnEmptyFieldReportsAndReturnsTheFocus) {
  Start();
  QApplication::setActiveWindow(Form.get());
  ASSERT_TRUE(ProcessUntil([&] { return Form->isActiveWindow(); }));
  Form->Edit1->setFocus(Qt::OtherFocusReason);
  Form->SetOutputDir("");
  TDialogScript script;
  script.Then(TDialogAnswer::Ok(dkError));
  Form->Button2->setFocus(Qt::TabFocusReason);
  ASSERT_TRUE(ProcessUntil([&] { return !script.Requests().empty(); }));
  EXPECT_EQ(script.Requests()[0].Text, "Specify the path of a directory.");
  EXPECT_EQ(Form->focusWidget(), Form->Edit1);
}

TEST_F(MainFormTest, QuickClickOnAButtonRunsTheFieldCheckFirstAndOnlyThat) {
  // Press and release come before the queued exit check could run on its own.
  Start();
  QApplication::setActiveWindow(Form.get());
  ASSERT_TRUE(ProcessUntil([&] { return Form->isActiveWindow(); }));
  Form->Edit1->setFocus(Qt::OtherFocusReason);
  Form->SetOutputDir("");
  TDialogScript script;
  script.Then(TDialogAnswer::Ok(dkError));
  QTest::mouseClick(Form->Button1, Qt::LeftButton);
  ASSERT_TRUE(ProcessUntil([&] { return !script.Requests().empty(); }));
  QTest::qWait(50);
  ASSERT_EQ(script.Requests().size(), 1u);
  EXPECT_EQ(script.Requests()[0].Kind, dkError);
  EXPECT_EQ(script.Requests()[0].Text, "Specify the path of a directory.");
  EXPECT_EQ(Form->focusWidget(), Form->Edit1);
}

TEST_F(MainFormTest, CaptionAcceleratorsOnlyMoveTheFocus) {
  Start();
  QApplication::setActiveWindow(Form.get());
  ASSERT_TRUE(ProcessUntil([&] { return Form->isActiveWindow(); }));
  TDialogScript script;  // any dialog would be answered by a cancel and counted
  const std::pair<Qt::Key, QWidget*> cases[] = {
      {Qt::Key_O, Form->Edit1}, {Qt::Key_L, Form->Button1}, {Qt::Key_S, Form->Button2}};
  for (auto [key, target] : cases) {
    QTest::keyClick(Form->focusWidget(), key, Qt::AltModifier);
    EXPECT_EQ(Form->focusWidget(), target) << key;
  }
  // A button clicked by its caption would open the dialog after a short delay.
  QTest::qWait(300);
  EXPECT_TRUE(script.Requests().empty());
  EXPECT_EQ(Form->Edit1->text().toStdString(), DefaultOutputDir());
}

TEST_F(MainFormTest, CloseSavesTheSettingsAndAnEmptyFieldKeepsTheWindowOpen) {
  Start();
  bool closed = false;
  Form->OnClosed = [&](TObject*) { closed = true; };
  Form->SetOutputDir("");
  TDialogScript script;
  script.Then(TDialogAnswer::Ok(dkError));
  Form->GlyphsExitAc->trigger();
  EXPECT_TRUE(Form->isVisible());
  EXPECT_FALSE(closed);
  EXPECT_EQ(script.Requests().at(0).Text, "Specify the path of a directory.");
  EXPECT_EQ(Form->focusWidget(), Form->Edit1);
  EXPECT_FALSE(FileExists(Dir / "Settings.ini"));
  Form->SetOutputDir(OutputDir());
  EXPECT_TRUE(Form->close());
  EXPECT_TRUE(closed);
  EXPECT_NE(ReadFileBytes(Dir / "Settings.ini").find("OutputDir=\"" + OutputDir() + "\"\r\n"), std::string::npos);
}

TEST_F(MainFormTest, SettingsThatCannotBeSavedRefuseTheClose) {
  WriteFileBytes(Dir / "plain", "");
  TMainFormSetup setup = Setup();
  setup.SettingsFileName = Dir / "plain/Settings.ini";
  Form = std::make_unique<TMainForm>(setup);
  Form->show();
  TDialogScript script;
  script.Then(TDialogAnswer::Ok(dkError));
  EXPECT_FALSE(Form->close());
  EXPECT_TRUE(Form->isVisible());
  EXPECT_EQ(script.Requests().at(0).Text, "The program cannot save the settings.");
}

TEST_F(MainFormTest, FailedLoadEndsConstructionWithoutAWindow) {
  WriteFileBytes(Dir / "Settings.ini", "[MainForm]\r\nOutputDir=unquoted\r\n");
  EXPECT_THROW_MSG(TMainForm form(Setup()), ESettingsManError, "The program cannot load the settings.");
  EXPECT_EQ(MainForm, nullptr);
  EXPECT_FALSE(Application->IdleHooked());
}

}  // namespace

TEST_F(MainFormTest, ButtonsSayWhatTheyChooseAndTheWindowHasItsIcon) {
  Start();
  std::set<QString> names;
  for (QPushButton* b : {Form->Button1, Form->Button2, Form->Button3}) {
    EXPECT_FALSE(b->accessibleName().isEmpty());
    EXPECT_EQ(b->toolTip(), b->accessibleName());
    names.insert(b->accessibleName());
  }
  EXPECT_EQ(names.size(), 3u);
  EXPECT_FALSE(Form->windowIcon().isNull());
  EXPECT_FALSE(Form->Edit1->acceptDrops());
}
