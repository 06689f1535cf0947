// The Glyphs manager driven through the dialog seam, with real conversions in
// the real progress dialog, offscreen.

#include "app/GlyphsMan.h"
#include "app/ProgressDialogUnit.h"
#include "base/Exceptions.h"
#include "base/SysUtils.h"
#include "gui/DialogSeam.h"
#include "gui/FileDialogs.h"
#include "gui/HandlerGuard.h"
#include "tests/common/BmpFixtures.h"
#include "tests/common/QtTestSupport.h"

#include <QLabel>
#include <QEvent>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QWindow>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>

namespace {

using varnex_test::ReadFileBytes;
using varnex_test::TempDir;
using varnex_test::WriteFileBytes;

// A 24-bit 4 x 4 glyph: white background with a black square in the middle.
std::string GlyphBmp() {
  varnex_test::TBmpFixture f;
  f.Width = 4;
  f.Height = 4;
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) f.Pixels.push_back(x >= 1 && x <= 2 && y >= 1 && y <= 2 ? 0x000000 : 0xFFFFFF);
  return varnex_test::BuildBmp(f);
}

const std::string SummaryOf10 = "There are 1 errors and 0 warnings.\r\n\r\nSave the log right now?";

class GlyphsManTest : public ::testing::Test {
protected:
  TempDir Dir;
  TProgressDialog Dialog;
  std::unique_ptr<TGlyphsMan> Man;
  std::vector<int> BarValues;
  std::vector<std::string> LabelAtBar;
  std::function<void(int)> OnBar;

  void SetUp() override {
    Application->SetTitle("Varnex");
    ProgressDialog = &Dialog;
    Man = std::make_unique<TGlyphsMan>(LogPath());
    // These cases follow the user file by file: the message loop runs at every idle point.
    Man->Refresh() = TRefreshThrottle(std::chrono::milliseconds(0));
    QObject::connect(Dialog.ProgressBar, &QProgressBar::valueChanged, &Dialog, [this](int Value) {
      BarValues.push_back(Value);
      LabelAtBar.push_back(Dialog.MessageLabel->text().toStdString());
      if (OnBar) OnBar(Value);
    });
  }
  void TearDown() override { ProgressDialog = nullptr; }

  std::string LogPath() const { return Dir / "Log.txt"; }
  std::string OutDir() const { return Dir / "out"; }
  std::string Output(const std::string& Name) const { return OutDir() + "/" + Name; }

  // Glyph files g1.bmp ... gN.bmp in a source folder.
  TStringList Sources(int Count) {
    std::filesystem::create_directories(Dir / "src");
    TStringList files;
    for (int i = 1; i <= Count; ++i) {
      files.push_back(Dir / ("src/g" + std::to_string(i) + ".bmp"));
      WriteFileBytes(files.back(), GlyphBmp());
    }
    return files;
  }
  int ConvertedCount(int Count) const {
    int converted = 0;
    for (int i = 1; i <= Count; ++i) converted += std::filesystem::exists(Output("g" + std::to_string(i) + ".bmp"));
    return converted;
  }
  void Convert(const TStringList& Files) { Man->Convert(Files, 0xFFFFFF, 0x808080, OutDir()); }

  // Once the bar reaches Value, the user clicks the close box (delivered while the
  // task processes messages after that file).
  void UserCloseAt(std::vector<int> Values) {
    OnBar = [this, Values](int Value) {
      if (std::find(Values.begin(), Values.end(), Value) == Values.end()) return;
      QMetaObject::invokeMethod(&Dialog, [this] { Dialog.windowHandle()->close(); }, Qt::QueuedConnection);
    };
  }
};

TEST_F(GlyphsManTest, CleanRunShowsEachFileAndTheBarAndEndsWithoutAWord) {
  const TStringList files = Sources(2);
  Dialog.MessageLabel->setText("old message");
  Dialog.NoteLabel->setText("old note");
  Dialog.setWindowTitle("old caption");
  Dialog.ProgressBar->setValue(70);
  BarValues.clear();
  LabelAtBar.clear();

  TDialogScript script;
  Convert(files);

  EXPECT_EQ(BarValues, (std::vector<int>{0, 50, 100}));
  EXPECT_EQ(LabelAtBar, (std::vector<std::string>{"", "g1.bmp", "g2.bmp"}));
  EXPECT_EQ(Dialog.MessageLabel->text().toStdString(), "Completed");
  EXPECT_TRUE(Dialog.NoteLabel->text().isEmpty());
  EXPECT_EQ(Dialog.windowTitle().toStdString(), "Convert");
  EXPECT_FALSE(Dialog.isVisible());
  EXPECT_TRUE(script.Requests().empty());
  EXPECT_EQ(ConvertedCount(2), 2);
  EXPECT_EQ(Man->Task(), nullptr);
  EXPECT_TRUE(Man->LogExists());
  EXPECT_NE(ReadFileBytes(LogPath()).find("Task completed\r\n"), std::string::npos);
}

TEST_F(GlyphsManTest, EmptyListShowsStartedUntilTheEnd) {
  TDialogScript script;
  Convert({});
  EXPECT_EQ(BarValues, (std::vector<int>{100}));
  EXPECT_EQ(LabelAtBar, (std::vector<std::string>{"Started"}));
  EXPECT_EQ(Dialog.MessageLabel->text().toStdString(), "Completed");
  EXPECT_TRUE(script.Requests().empty());
}

TEST_F(GlyphsManTest, OneFailedFileAsksTheSummaryWithOneAndZero) {
  TStringList files = Sources(1);
  files.push_back(Dir / "src/missing.bmp");
  TDialogScript script;
  script.Then(TDialogAnswer::No());
  Convert(files);
  ASSERT_EQ(script.Requests().size(), 1u);
  EXPECT_EQ(script.Requests()[0].Kind, dkQuestion);
  EXPECT_EQ(script.Requests()[0].Caption, "Varnex");
  EXPECT_EQ(script.Requests()[0].Text, SummaryOf10);
  EXPECT_EQ(script.Unexpected(), 0);
  EXPECT_EQ(ConvertedCount(1), 1);
}

TEST_F(GlyphsManTest, SummaryYesSavesTheLogAndReportsAFailedSaveItself) {
  TStringList files = {Dir / "src/missing.bmp"};
  {
    TDialogScript script;
    script.Then(TDialogAnswer::Yes()).Then(TDialogAnswer::Save(Dir / "saved.txt"));
    Convert(files);
    ASSERT_EQ(script.Requests().size(), 2u);
    EXPECT_EQ(script.Requests()[1].Kind, dkSaveFile);
    EXPECT_EQ(script.Requests()[1].FileName, DefaultLogName);
    EXPECT_EQ(ReadFileBytes(Dir / "saved.txt"), ReadFileBytes(LogPath()));
  }
  {
    WriteFileBytes(Dir / "blocker", "a file, not a folder");
    TDialogScript script;
    script.Then(TDialogAnswer::Yes())
        .Then(TDialogAnswer::Save(Dir / "blocker/saved.txt"))
        .Then(TDialogAnswer::Ok(dkError));
    EXPECT_NO_THROW(Convert(files));
    ASSERT_EQ(script.Requests().size(), 3u);
    EXPECT_EQ(script.Requests()[2].Kind, dkError);
    EXPECT_EQ(script.Requests()[2].Text, "The program cannot save the log.");
  }
  {
    TDialogScript script;
    script.Then(TDialogAnswer::Yes()).Then(TDialogAnswer::Cancel(dkSaveFile));
    EXPECT_NO_THROW(Convert(files));
    EXPECT_EQ(script.Requests().size(), 2u);
    EXPECT_EQ(script.Unexpected(), 0);
  }
}

struct TCancelCase {
  int CloseAtBar;
  int Converted;
};

class GlyphsManCancelTest : public GlyphsManTest, public ::testing::WithParamInterface<TCancelCase> {};

TEST_P(GlyphsManCancelTest, AYesIsHandedToTheTaskOneFileLater) {
  const TStringList files = Sources(5);
  const bool stops = GetParam().Converted < 5;
  UserCloseAt({GetParam().CloseAtBar});
  TDialogScript script;
  script.Then(TDialogAnswer::Yes());
  if (stops) script.Then(TDialogAnswer::No());
  Convert(files);

  EXPECT_EQ(ConvertedCount(5), GetParam().Converted);
  ASSERT_GE(script.Requests().size(), 1u);
  EXPECT_EQ(script.Requests()[0].Text, "Cancel the task?");
  EXPECT_EQ(script.Requests()[0].Caption, "Varnex");
  const std::string log = ReadFileBytes(LogPath());
  EXPECT_EQ(log.find("[Warning] ") != std::string::npos, stops);
  EXPECT_EQ(Dialog.MessageLabel->text().toStdString(), stops ? "Canceled" : "Completed");
  if (stops) {
    ASSERT_EQ(script.Requests().size(), 2u);
    EXPECT_EQ(script.Requests()[1].Text, "There are 0 errors and 1 warnings.\r\n\r\nSave the log right now?");
  } else {
    EXPECT_EQ(script.Requests().size(), 1u);
  }
  EXPECT_EQ(script.Unexpected(), 0);
  EXPECT_FALSE(Dialog.isVisible());
}

INSTANTIATE_TEST_SUITE_P(FiveFiles, GlyphsManCancelTest,
                         ::testing::Values(TCancelCase{20, 2}, TCancelCase{60, 4}, TCancelCase{80, 5},
                                           TCancelCase{100, 5}));

TEST_F(GlyphsManTest, NoLetsTheRunGoOnAndAfterAYesNothingIsAskedAgain) {
  const TStringList files = Sources(5);
  UserCloseAt({20, 40, 60});
  TDialogScript script;
  script.Then(TDialogAnswer::No()).Then(TDialogAnswer::Yes()).Then(TDialogAnswer::No());
  Convert(files);
  ASSERT_EQ(script.Requests().size(), 3u);
  EXPECT_EQ(script.Requests()[0].Text, "Cancel the task?");
  EXPECT_EQ(script.Requests()[1].Text, "Cancel the task?");
  EXPECT_EQ(script.Requests()[2].Text, "There are 0 errors and 1 warnings.\r\n\r\nSave the log right now?");
  EXPECT_EQ(script.Unexpected(), 0);
  EXPECT_EQ(ConvertedCount(5), 3);
}

TEST_F(GlyphsManTest, CancelButtonNeitherAsksNorStopsTheRun) {
  const TStringList files = Sources(5);
  OnBar = [this](int Value) {
    if (Value == 20)
      QMetaObject::invokeMethod(&Dialog, [this] { Dialog.CancelButton->click(); }, Qt::QueuedConnection);
  };
  TDialogScript script;
  Convert(files);
  EXPECT_TRUE(script.Requests().empty());
  EXPECT_EQ(ConvertedCount(5), 5);
  EXPECT_EQ(BarValues.back(), 100);
  EXPECT_FALSE(Dialog.isVisible());
}

TEST_F(GlyphsManTest, TaskErrorLeavesTheDialogAsTheManagersErrorAndTheUserSeesIt) {
  WriteFileBytes(Dir / "blocker", "a file, not a folder");
  Man = std::make_unique<TGlyphsMan>(Dir / "blocker/Log.txt");
  const TStringList files = Sources(1);
  {
    TDialogScript script;
    EXPECT_THROW_MSG(Convert(files), EGlyphsManError, "The program cannot create a log file.");
    EXPECT_TRUE(script.Requests().empty());
  }
  EXPECT_FALSE(Dialog.isVisible());
  EXPECT_EQ(Man->Task(), nullptr);
  EXPECT_EQ(ConvertedCount(1), 0);

  TDialogScript script;
  script.Then(TDialogAnswer::Ok(dkError));
  RunGuarded([&] { Convert(files); });
  ASSERT_EQ(script.Requests().size(), 1u);
  EXPECT_EQ(script.Requests()[0].Text, "The program cannot create a log file.");
  EXPECT_EQ(script.Requests()[0].Caption, "Varnex");
}

// Calls Action each time Target receives an event of Type.
class TEventSpy : public QObject {
public:
  TEventSpy(QObject* Target, QEvent::Type Type, std::function<void()> Action)
      : FType(Type), FAction(std::move(Action)) {
    Target->installEventFilter(this);
  }
  bool eventFilter(QObject* /*Watched*/, QEvent* Event) override {
    if (Event->type() == FType) FAction();
    return false;
  }

private:
  QEvent::Type FType;
  std::function<void()> FAction;
};

// Each file takes 15 ms on a fake clock, and the loop may run every 40 ms: with
// eight files it runs after files 1 (the first), 4 and 7 (45 ms later each) and
// 8 (the last, only 15 ms later).
class GlyphsManThrottleTest : public GlyphsManTest {
protected:
  std::chrono::steady_clock::time_point Now;
  std::vector<std::string> Painted;
  std::vector<int> ClosesAtBar;

  void SetUp() override {
    GlyphsManTest::SetUp();
    Man->Refresh() = TRefreshThrottle(std::chrono::milliseconds(40), [this] { return Now; });
    OnBar = [this](int Value) {
      Now += std::chrono::milliseconds(15);
      if (std::find(ClosesAtBar.begin(), ClosesAtBar.end(), Value) != ClosesAtBar.end())
        QMetaObject::invokeMethod(&Dialog, [this] { Dialog.windowHandle()->close(); }, Qt::QueuedConnection);
    };
    PaintSpy = std::make_unique<TEventSpy>(Dialog.MessageLabel, QEvent::Paint, [this] {
      Painted.push_back(Dialog.MessageLabel->text().toStdString());
    });
  }

  std::unique_ptr<TEventSpy> PaintSpy;
};

TEST_F(GlyphsManThrottleTest, PassesRunAtTheFirstAndLastFileAndOncePerInterval) {
  const TStringList files = Sources(8);
  TDialogScript script;
  Convert(files);
  // A pass may paint twice (its own repaint and a deferred update); files in between never.
  Painted.erase(std::unique(Painted.begin(), Painted.end()), Painted.end());
  EXPECT_EQ(Painted, (std::vector<std::string>{"g1.bmp", "g4.bmp", "g7.bmp", "g8.bmp"}));
  EXPECT_EQ(BarValues, (std::vector<int>{12, 25, 37, 50, 62, 75, 87, 100})) << "the bar still follows every file";
  EXPECT_EQ(ConvertedCount(8), 8);
  EXPECT_TRUE(script.Requests().empty());
}

TEST_F(GlyphsManThrottleTest, AYesReachesTheTaskAtTheIdlePointAfterThePassThatAsked) {
  const TStringList files = Sources(8);
  // Closed after file 2; asked in the pass after file 4; handed over after file 5.
  ClosesAtBar = {25};
  TDialogScript script;
  script.Then(TDialogAnswer::Yes()).Then(TDialogAnswer::No());
  Convert(files);
  EXPECT_EQ(ConvertedCount(8), 5);
  ASSERT_EQ(script.Requests().size(), 2u);
  EXPECT_EQ(script.Requests()[0].Text, "Cancel the task?");
  EXPECT_EQ(script.Requests()[1].Text, "There are 0 errors and 1 warnings.\r\n\r\nSave the log right now?");
  EXPECT_EQ(Dialog.MessageLabel->text().toStdString(), "Canceled");

  // Closed after the last file: still asked, in the last pass, with nothing left to stop.
  std::filesystem::remove_all(OutDir());
  ClosesAtBar = {100};
  script.Then(TDialogAnswer::Yes());
  Convert(files);
  EXPECT_EQ(ConvertedCount(8), 8);
  ASSERT_EQ(script.Requests().size(), 3u);
  EXPECT_EQ(script.Requests()[2].Text, "Cancel the task?");
  EXPECT_EQ(Dialog.MessageLabel->text().toStdString(), "Completed");
  EXPECT_EQ(script.Unexpected(), 0);
}

TEST_F(GlyphsManTest, DialogsAreConfiguredOnce) {
  const TOpenDialog& open = *Man->FilesOpenDialog();
  EXPECT_EQ(open.Title(), "Convert");
  EXPECT_EQ(open.Filter(), "Bitmaps (*.bmp)|*.bmp|All files|*");
  EXPECT_EQ(open.FilterIndex(), 1);
  EXPECT_EQ(open.DefaultExt(), "");
  EXPECT_EQ(open.InitialDir(), "");
  EXPECT_EQ(open.Options(), TOpenOptions{ofHideReadOnly | ofEnableSizing | ofAllowMultiSelect});
  const TSaveDialog& save = *Man->LogSaveDialog();
  EXPECT_EQ(save.Title(), "Save Log As");
  EXPECT_EQ(save.Filter(), "Text (*.txt)|*.txt|All files|*");
  EXPECT_EQ(save.FilterIndex(), 1);
  EXPECT_EQ(save.DefaultExt(), "txt");
  EXPECT_EQ(save.Options(), TOpenOptions{ofHideReadOnly | ofEnableSizing | ofOverwritePrompt});
  EXPECT_EQ(TGlyphsMan().LogFileName(), ProgramDir() + "Log.txt");
}

TEST_F(GlyphsManTest, ChooseFilesReplacesTheListAndOpensWithAnEmptyName) {
  TStringList list = {"left over"};
  Man->FilesOpenDialog()->SetFileName("stale name");
  TDialogScript script;
  script.Then(TDialogAnswer::Open({"/a/one.bmp", "/b/two.bmp"}, 2));
  Man->ChooseFiles(list);
  EXPECT_EQ(list, (TStringList{"/a/one.bmp", "/b/two.bmp"}));
  ASSERT_EQ(script.Requests().size(), 1u);
  EXPECT_EQ(script.Requests()[0].FileName, "");
  EXPECT_EQ(script.Requests()[0].Caption, "Convert");
  EXPECT_EQ(script.Requests()[0].FilterIndex, 1);
  EXPECT_EQ(Man->FilesOpenDialog()->FilterIndex(), 2);
  EXPECT_EQ(Man->FilesOpenDialog()->FileName(), "");
  EXPECT_TRUE(Man->FilesOpenDialog()->Files().empty());

  script.Then(TDialogAnswer::Cancel(dkOpenFile));
  EXPECT_THROW(Man->ChooseFiles(list), EAbort);
  EXPECT_EQ(list, (TStringList{"/a/one.bmp", "/b/two.bmp"}));
  EXPECT_EQ(script.Requests()[1].FilterIndex, 2);
  EXPECT_EQ(script.Requests()[1].FileName, "");
  EXPECT_EQ(Man->FilesOpenDialog()->FilterIndex(), 2);
  EXPECT_EQ(script.Unexpected(), 0);
}

TEST_F(GlyphsManTest, SaveLogAlwaysProposesTheDefaultNameAndCopies) {
  WriteFileBytes(LogPath(), "Start time: x\r\n");
  TDialogScript script;
  script.Then(TDialogAnswer::Save(Dir / "first.txt")).Then(TDialogAnswer::Save(Dir / "second"));
  Man->SaveLog();
  Man->SaveLog();
  ASSERT_EQ(script.Requests().size(), 2u);
  EXPECT_EQ(script.Requests()[0].FileName, "Varnex Log.txt");
  EXPECT_EQ(script.Requests()[1].FileName, "Varnex Log.txt");
  EXPECT_EQ(script.Requests()[0].Caption, "Save Log As");
  EXPECT_EQ(ReadFileBytes(Dir / "first.txt"), "Start time: x\r\n");
  EXPECT_EQ(ReadFileBytes(Dir / "second.txt"), "Start time: x\r\n") << "the default extension is added";
  EXPECT_EQ(Man->LogSaveDialog()->FileName(), "");
  EXPECT_EQ(ReadFileBytes(LogPath()), "Start time: x\r\n");
}

TEST_F(GlyphsManTest, SaveLogOverAnExistingFileAsksFirst) {
  WriteFileBytes(LogPath(), "new log\r\n");
  WriteFileBytes(Dir / "old.txt", "keep me");
  TDialogScript script;
  // No goes back to the dialog, which is then cancelled: nothing changes.
  script.Then(TDialogAnswer::Save(Dir / "old.txt")).Then(TDialogAnswer::No()).Then(TDialogAnswer::Cancel(dkSaveFile));
  EXPECT_THROW(Man->SaveLog(), EAbort);
  EXPECT_EQ(ReadFileBytes(Dir / "old.txt"), "keep me");
  ASSERT_EQ(script.Requests().size(), 3u);
  EXPECT_EQ(script.Requests()[1].Text, "old.txt already exists.\nDo you want to replace it?");
  EXPECT_EQ(script.Requests()[2].FileName, Dir / "old.txt");

  script.Then(TDialogAnswer::Save(Dir / "old.txt")).Then(TDialogAnswer::Yes());
  Man->SaveLog();
  EXPECT_EQ(ReadFileBytes(Dir / "old.txt"), "new log\r\n");
  EXPECT_EQ(script.Unexpected(), 0);
}

TEST_F(GlyphsManTest, SaveLogFailuresLeaveTheTargetAsItWas) {
  WriteFileBytes(Dir / "old.txt", "keep me");
  TDialogScript script;
  script.Then(TDialogAnswer::Save(Dir / "old.txt")).Then(TDialogAnswer::Yes());
  EXPECT_THROW_MSG(Man->SaveLog(), EGlyphsManError, "The program cannot save the log.");
  EXPECT_EQ(ReadFileBytes(Dir / "old.txt"), "keep me") << "a missing log must not empty the target";

  WriteFileBytes(LogPath(), "log\r\n");
  WriteFileBytes(Dir / "blocker", "a file");
  script.Then(TDialogAnswer::Save(Dir / "blocker/log.txt"));
  EXPECT_THROW_MSG(Man->SaveLog(), EGlyphsManError, "The program cannot save the log.");
  EXPECT_EQ(ReadFileBytes(Dir / "blocker"), "a file");
  EXPECT_EQ(ReadFileBytes(LogPath()), "log\r\n");
  EXPECT_EQ(Man->LogSaveDialog()->FileName(), "");

  script.Then(TDialogAnswer::Cancel(dkSaveFile));
  EXPECT_THROW(Man->SaveLog(), EAbort);
  EXPECT_EQ(script.Unexpected(), 0);
}

TEST_F(GlyphsManTest, DeleteLogAsksAndReportsAMissingLog) {
  WriteFileBytes(LogPath(), "log\r\n");
  TDialogScript script;
  script.Then(TDialogAnswer::No());
  EXPECT_THROW(Man->DeleteLog(true), EAbort);
  EXPECT_TRUE(Man->LogExists());
  ASSERT_EQ(script.Requests().size(), 1u);
  EXPECT_EQ(script.Requests()[0].Text, "Delete the log?");
  EXPECT_EQ(script.Requests()[0].Caption, "Varnex");

  script.Then(TDialogAnswer::Yes());
  Man->DeleteLog(true);
  EXPECT_FALSE(Man->LogExists());
  EXPECT_FALSE(std::filesystem::exists(LogPath()));

  EXPECT_THROW_MSG(Man->DeleteLog(false), EGlyphsManError, "The program cannot delete the log.");
  EXPECT_EQ(script.Requests().size(), 2u) << "without ask nothing is asked";
  WriteFileBytes(LogPath(), "log\r\n");
  Man->DeleteLog(false);
  EXPECT_FALSE(Man->LogExists());
  EXPECT_EQ(script.Unexpected(), 0);
}

TEST_F(GlyphsManTest, ConvertWithoutTheProgressDialogFailsCleanly) {
  ProgressDialog = nullptr;
  EXPECT_THROW(Convert(Sources(1)), EGlyphsManError);
  EXPECT_EQ(Man->Task(), nullptr);
  EXPECT_FALSE(std::filesystem::exists(LogPath()));
}

}  // namespace
