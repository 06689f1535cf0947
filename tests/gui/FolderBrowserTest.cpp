// The folder browser: initial folder rules and the real Qt widget.

#include "gui/FolderBrowser.h"
#include "gui/DialogSeam.h"
#include "tests/common/QtTestSupport.h"

#include <QDir>
#include <QFileDialog>
#include <QLineEdit>

#include <filesystem>

namespace {

using varnex_test::OnModalWidget;
using varnex_test::TempDir;

TEST(FolderBrowserTest, OnlyAnExistingFolderIsProposed) {
  TempDir dir;
  varnex_test::WriteFileBytes(dir / "file", "x");
  TDialogScript script;
  std::string folder = "unchanged";
  script.Then(TDialogAnswer::Cancel(dkFolder)).Then(TDialogAnswer::Cancel(dkFolder)).Then(TDialogAnswer::PickFolder(""));
  EXPECT_FALSE(BrowseForFolder("Pick", dir / "missing", folder));
  EXPECT_FALSE(BrowseForFolder("Pick", dir / "file", folder));
  EXPECT_FALSE(BrowseForFolder("Pick", dir.Path(), folder)) << "a confirmation without a folder is no choice";
  EXPECT_EQ(folder, "unchanged");
  ASSERT_EQ(script.Requests().size(), 3u);
  EXPECT_EQ(script.Requests()[0].Folder, "");
  EXPECT_EQ(script.Requests()[1].Folder, "");
  EXPECT_EQ(script.Requests()[2].Folder, dir.Path());
  EXPECT_EQ(script.Requests()[0].Text, "Pick");
}

TEST(FolderBrowserTest, RealBrowserPreselectsTheInitialFolderAndReturnsTheChoice) {
  TempDir dir;
  std::filesystem::create_directories(dir / "initial");
  std::filesystem::create_directories(dir / "target");
  std::string folder;
  OnModalWidget([&](QWidget* Widget) {
    auto* fd = qobject_cast<QFileDialog*>(Widget);
    ASSERT_NE(fd, nullptr);
    EXPECT_EQ(fd->windowTitle(), QStringLiteral("Choose the output directory."));
    EXPECT_EQ(fd->fileMode(), QFileDialog::Directory);
    EXPECT_TRUE(fd->testOption(QFileDialog::ShowDirsOnly));
    EXPECT_EQ(QDir(fd->directory()).canonicalPath(), QDir(QString::fromStdString(dir.Path())).canonicalPath());
    auto* edit = fd->findChild<QLineEdit*>("fileNameEdit");
    EXPECT_EQ(edit->text(), QStringLiteral("initial"));
    // What clicking the other folder in the view does.
    fd->selectFile(QString::fromStdString(dir / "target"));
    static_cast<QDialog*>(fd)->accept();
  });
  ASSERT_TRUE(BrowseForFolder("Choose the output directory.", dir / "initial", folder));
  EXPECT_EQ(std::filesystem::canonical(folder), std::filesystem::canonical(dir / "target"));

  OnModalWidget([](QWidget* Widget) { qobject_cast<QFileDialog*>(Widget)->reject(); });
  folder = "kept";
  EXPECT_FALSE(BrowseForFolder("Choose the output directory.", "", folder));
  EXPECT_EQ(folder, "kept");
}

}  // namespace
