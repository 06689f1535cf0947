// The file dialogs: filter translation, filter index, default extension, the
// overwrite question, and the real Qt widget.

#include "gui/FileDialogs.h"
#include "base/SysUtils.h"
#include "gui/DialogSeam.h"
#include "tests/common/QtTestSupport.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

namespace {

using varnex_test::OnModalWidget;
using varnex_test::TempDir;
using varnex_test::WriteFileBytes;

const std::string BitmapFilter = "Bitmaps (*.bmp)|*.bmp|All files|*";

TEST(FileDialogsTest, FilterStringsBecomeQtNameFilters) {
  EXPECT_EQ(QtNameFilters(BitmapFilter), (TStringList{"Bitmaps (*.bmp)", "All files (*)"}));
  EXPECT_EQ(QtNameFilters("Images|*.bmp;*.dib|Text (*.txt)|*.txt"), (TStringList{"Images (*.bmp *.dib)", "Text (*.txt)"}));
  EXPECT_EQ(QtNameFilters("Odd (*.bmp)|*.dib"), (TStringList{"Odd (*.bmp) (*.dib)"}));
  EXPECT_EQ(QtNameFilters(""), TStringList{});
  EXPECT_EQ(QtNameFilters("Name without patterns"), TStringList{});
  EXPECT_EQ(QtNameFilters("Empty|"), (TStringList{"Empty (*)"}));
}

TEST(FileDialogsTest, DefaultExtensionOnlyForANameWithoutOne) {
  EXPECT_EQ(AddDefaultExt("/tmp/log", "txt"), "/tmp/log.txt");
  EXPECT_EQ(AddDefaultExt("/tmp/log.csv", "txt"), "/tmp/log.csv");
  EXPECT_EQ(AddDefaultExt("/tmp/dir.d/log", "txt"), "/tmp/dir.d/log.txt");
  EXPECT_EQ(AddDefaultExt("/tmp/log", ""), "/tmp/log");
  EXPECT_EQ(AddDefaultExt("/tmp/", "txt"), "/tmp/");
}

TEST(FileDialogsTest, FilterIndexFollowsAConfirmedRunOnly) {
  TOpenDialog dialog;
  dialog.SetFilter(BitmapFilter);
  dialog.SetOptions(ofAllowMultiSelect);
  TDialogScript script;
  script.Then(TDialogAnswer::Open({"/a.bmp"}, 2)).Then(TDialogAnswer::Cancel(dkOpenFile)).Then(TDialogAnswer::Open({"/b.bmp"}));
  EXPECT_TRUE(dialog.Execute());
  EXPECT_EQ(dialog.FilterIndex(), 2);
  EXPECT_FALSE(dialog.Execute());
  EXPECT_EQ(dialog.FilterIndex(), 2);
  EXPECT_EQ(dialog.Files(), TStringList{"/a.bmp"}) << "a cancelled run leaves the last choice";
  EXPECT_TRUE(dialog.Execute());
  EXPECT_EQ(dialog.FilterIndex(), 2) << "a confirmed run keeps the filter it opened with";
  EXPECT_EQ(script.Requests()[1].FilterIndex, 2);

  dialog.SetFilterIndex(7);
  script.Then(TDialogAnswer::Open({"/c.bmp"}));
  EXPECT_TRUE(dialog.Execute());
  EXPECT_EQ(script.Requests()[3].FilterIndex, 1) << "an index naming no filter opens the first";
  EXPECT_EQ(dialog.FilterIndex(), 1);
  EXPECT_EQ(script.Unexpected(), 0);
}

TEST(FileDialogsTest, ConfirmedChoiceMakesItsFolderCurrentAndACancelDoesNot) {
  const std::string before = GetCurrentDir();
  TempDir dir;
  const std::string glyphs = dir.Path() + "/glyphs";
  const std::string logs = dir.Path() + "/logs";
  ASSERT_TRUE(ForceDirectories(glyphs) && ForceDirectories(logs));
  TOpenDialog open;
  open.SetOptions(ofAllowMultiSelect);
  TSaveDialog save;
  TDialogScript script;
  script.Then(TDialogAnswer::Open({glyphs + "/a.bmp", glyphs + "/b.bmp"}))
      .Then(TDialogAnswer::Cancel(dkSaveFile))
      .Then(TDialogAnswer::Save(logs + "/log.txt"))
      .Then(TDialogAnswer::Open({dir.Path() + "/missing/c.bmp"}));
  EXPECT_TRUE(open.Execute());
  EXPECT_EQ(GetCurrentDir(), glyphs);
  EXPECT_FALSE(save.Execute());
  EXPECT_EQ(GetCurrentDir(), glyphs);
  EXPECT_TRUE(save.Execute());
  EXPECT_EQ(GetCurrentDir(), logs);
  EXPECT_TRUE(open.Execute()) << "a folder that cannot be entered leaves the current one";
  EXPECT_EQ(GetCurrentDir(), logs);
  SetCurrentDir(before);
}

TEST(FileDialogsTest, SingleSelectionKeepsTheFirstFile) {
  TOpenDialog dialog;
  TDialogScript script;
  script.Then(TDialogAnswer::Open({"/a.bmp", "/b.bmp"})).Then(TDialogAnswer::Open({}));
  EXPECT_TRUE(dialog.Execute());
  EXPECT_EQ(dialog.Files(), TStringList{"/a.bmp"});
  EXPECT_EQ(dialog.FileName(), "/a.bmp");
  EXPECT_FALSE(dialog.Execute()) << "a confirmation without a file is no choice";
}

TEST(FileDialogsTest, RealOpenDialogReturnsSeveralFilesAndTheChosenFilter) {
  TempDir dir;
  WriteFileBytes(dir / "a.bmp", "A");
  WriteFileBytes(dir / "b.bmp", "B");
  TOpenDialog dialog;
  dialog.SetTitle("Convert");
  dialog.SetFilter(BitmapFilter);
  dialog.SetFilterIndex(2);
  dialog.SetInitialDir(dir.Path());
  dialog.SetOptions(ofHideReadOnly | ofEnableSizing | ofAllowMultiSelect);

  OnModalWidget([&](QWidget* Widget) {
    auto* fd = qobject_cast<QFileDialog*>(Widget);
    ASSERT_NE(fd, nullptr);
    EXPECT_EQ(fd->windowTitle(), QStringLiteral("Convert"));
    EXPECT_TRUE(fd->testOption(QFileDialog::DontUseNativeDialog));
    EXPECT_EQ(fd->fileMode(), QFileDialog::AnyFile) << "a typed name need not exist";
    for (const char* view : {"listView", "treeView"})
      EXPECT_EQ(fd->findChild<QAbstractItemView*>(view)->selectionMode(), QAbstractItemView::ExtendedSelection) << view;
    EXPECT_EQ(fd->nameFilters(), (QStringList{"Bitmaps (*.bmp)", "All files (*)"}));
    EXPECT_EQ(fd->selectedNameFilter(), QStringLiteral("All files (*)"));
    EXPECT_EQ(QDir(fd->directory()).canonicalPath(), QDir(QString::fromStdString(dir.Path())).canonicalPath());
    fd->selectNameFilter("Bitmaps (*.bmp)");
    fd->findChild<QLineEdit*>("fileNameEdit")->setText("\"a.bmp\" \"b.bmp\"");
    static_cast<QDialog*>(fd)->accept();
  });
  ASSERT_TRUE(dialog.Execute());
  ASSERT_EQ(dialog.Files().size(), 2u);
  EXPECT_EQ(QDir(QString::fromStdString(dialog.Files()[0])).canonicalPath(),
            QDir(QString::fromStdString(dir / "a.bmp")).canonicalPath());
  EXPECT_EQ(ExtractFileName(dialog.Files()[1]), "b.bmp");
  EXPECT_EQ(dialog.FilterIndex(), 1);

  OnModalWidget([](QWidget* Widget) {
    auto* fd = qobject_cast<QFileDialog*>(Widget);
    fd->selectNameFilter("All files (*)");
    fd->reject();
  });
  EXPECT_FALSE(dialog.Execute());
  EXPECT_EQ(dialog.FilterIndex(), 1);

  // A name that does not exist can be confirmed: the conversion reports it. Nothing
  // is proposed, as with the files dialog of the program.
  dialog.SetFileName("");
  OnModalWidget([](QWidget* Widget) {
    auto* fd = qobject_cast<QFileDialog*>(Widget);
    fd->findChild<QLineEdit*>("fileNameEdit")->setText("missing.bmp");
    QPushButton* open = fd->findChild<QDialogButtonBox*>("buttonBox")->button(QDialogButtonBox::Open);
    if (open == nullptr || !open->isEnabled()) {
      ADD_FAILURE() << "the dialog refuses a name that does not exist";
      fd->reject();
      return;
    }
    open->click();
  });
  ASSERT_TRUE(dialog.Execute());
  ASSERT_EQ(dialog.Files().size(), 1u);
  EXPECT_EQ(ExtractFileName(dialog.Files()[0]), "missing.bmp");
}

TEST(FileDialogsTest, RealSaveDialogAddsTheExtensionAndAsksBeforeReplacing) {
  TempDir dir;
  WriteFileBytes(dir / "old.txt", "keep");
  TSaveDialog dialog;
  dialog.SetTitle("Save Log As");
  dialog.SetFilter("Text (*.txt)|*.txt|All files|*");
  dialog.SetDefaultExt("txt");
  dialog.SetInitialDir(dir.Path());
  dialog.SetOptions(ofHideReadOnly | ofEnableSizing | ofOverwritePrompt);
  dialog.SetFileName("Varnex Log.txt");

  bool asked = false;
  OnModalWidget([&](QWidget* Widget) {
    auto* fd = qobject_cast<QFileDialog*>(Widget);
    ASSERT_NE(fd, nullptr);
    EXPECT_EQ(fd->acceptMode(), QFileDialog::AcceptSave);
    EXPECT_EQ(fd->findChild<QLineEdit*>("fileNameEdit")->text(), QStringLiteral("Varnex Log.txt"));
    fd->findChild<QLineEdit*>("fileNameEdit")->setText("old");
    // The question comes after the file dialog has closed.
    OnModalWidget([&](QWidget* Box) {
      auto* box = qobject_cast<QMessageBox*>(Box);
      ASSERT_NE(box, nullptr);
      EXPECT_EQ(box->text(), QStringLiteral("old.txt already exists.\nDo you want to replace it?"));
      asked = true;
      box->button(QMessageBox::Yes)->click();
    });
    static_cast<QDialog*>(fd)->accept();
  });
  ASSERT_TRUE(dialog.Execute());
  EXPECT_TRUE(asked);
  EXPECT_EQ(QDir(QString::fromStdString(dialog.FileName())).absolutePath(),
            QDir(QString::fromStdString(dir / "old.txt")).absolutePath());
}

}  // namespace
