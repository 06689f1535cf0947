// Qt's own dialogs must leave no settings file of Qt's behind: every real
// dialog runs here and is destroyed, then the stand-in home folders must be empty.

#include "gui/ColorDialog.h"
#include "gui/FileDialogs.h"
#include "gui/FolderBrowser.h"
#include "gui/MessageBoxes.h"
#include "tests/common/QtTestSupport.h"

#include <QColorDialog>
#include <QDialog>
#include <QFileDialog>
#include <QLineEdit>

#include <filesystem>

namespace {

using varnex_test::OnModalWidget;
using varnex_test::QtTestEnvironment;
using varnex_test::TempDir;

std::vector<std::string> Contents(const std::string& Dir) {
  std::vector<std::string> entries;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(Dir)) entries.push_back(entry.path().string());
  return entries;
}

void AcceptLater() {
  OnModalWidget([](QWidget* Widget) { static_cast<QDialog*>(Widget)->accept(); });
}

TEST(QtSettingsFilesTest, NoDialogWritesASettingsFile) {
  TempDir dir;
  varnex_test::WriteFileBytes(dir / "a.bmp", "A");

  {
    TOpenDialog open;
    open.SetFilter("Bitmaps (*.bmp)|*.bmp|All files|*");
    open.SetInitialDir(dir.Path());
    open.SetOptions(ofAllowMultiSelect);
    OnModalWidget([](QWidget* Widget) {
      Widget->findChild<QLineEdit*>("fileNameEdit")->setText("a.bmp");
      static_cast<QDialog*>(Widget)->accept();
    });
    EXPECT_TRUE(open.Execute());

    TSaveDialog save;
    save.SetInitialDir(dir.Path());
    save.SetFileName("saved.txt");
    AcceptLater();
    EXPECT_TRUE(save.Execute());

    TColorDialog color;
    OnModalWidget([](QWidget* Widget) {
      QColorDialog::setCustomColor(0, QColor(1, 2, 3));
      static_cast<QDialog*>(Widget)->accept();
    });
    EXPECT_TRUE(color.Execute());

    std::string folder;
    OnModalWidget([](QWidget* Widget) { static_cast<QDialog*>(Widget)->reject(); });
    EXPECT_FALSE(BrowseForFolder("Pick", dir.Path(), folder));

    AcceptLater();
    ErrorBox("An error");
  }
  EXPECT_EQ(Contents(QtTestEnvironment::HomeDir()), std::vector<std::string>{});
  EXPECT_EQ(Contents(QtTestEnvironment::ConfigDir()), std::vector<std::string>{});
  EXPECT_EQ(Contents(dir.Path()), std::vector<std::string>{dir / "a.bmp"}) << "a dialog itself writes no file";
}

}  // namespace
