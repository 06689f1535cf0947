// The Input manager's dialogs through the seam, and the bad-input exception.

#include "app/InputMan.h"
#include "base/SysUtils.h"
#include "gui/ColorDialog.h"
#include "gui/DialogSeam.h"
#include "tests/common/QtTestSupport.h"

#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>

#include <filesystem>

namespace {

using varnex_test::TempDir;

// The current directory when the test program started, before any test moved it.
const std::string StartDir = GetCurrentDir();

// Restores the current directory at the end of a test that changes it.
class CurrentDirGuard {
public:
  CurrentDirGuard() : FDir(GetCurrentDir()) {}
  ~CurrentDirGuard() { SetCurrentDir(FDir); }

private:
  std::string FDir;
};

TEST(InputManTest, DefaultOutputDirIsTheStartDirectoryAndStaysFixed) {
  EXPECT_EQ(DefaultOutputDir(), IncludeTrailingPathDelimiter(StartDir) + "Varnex Output");
  TempDir dir;
  CurrentDirGuard restore;
  ASSERT_TRUE(SetCurrentDir(dir.Path()));
  EXPECT_EQ(DefaultOutputDir(), IncludeTrailingPathDelimiter(StartDir) + "Varnex Output");
}

TEST(InputManTest, PickColorStartsFromThePlainRgbAndReturnsTheChoice) {
  TInputMan man;
  TDialogScript script;
  script.Then(TDialogAnswer::PickColor(0x336699));
  EXPECT_EQ(man.PickColor(0x01996633), 0x336699u);
  ASSERT_EQ(script.Requests().size(), 1u);
  EXPECT_EQ(script.Requests()[0].Kind, dkColor);
  EXPECT_EQ(script.Requests()[0].Color, 0x996633u) << "the top byte is not part of the colour";

  script.Then(TDialogAnswer::Cancel(dkColor));
  EXPECT_THROW(man.PickColor(0x808080), EAbort);
  EXPECT_EQ(script.Requests()[1].Color, 0x808080u);
  EXPECT_EQ(script.Unexpected(), 0);
}

TEST(InputManTest, CustomColorsCarryOverWithinOneManagerOnly) {
  std::vector<TColor> custom(CustomColorCount, UnsetCustomColor);
  custom[0] = 0x112233;
  custom[15] = 0x445566;
  TDialogScript script;
  {
    TInputMan man;
    script.Then(TDialogAnswer::PickColor(0xFFFFFF, custom))
        .Then(TDialogAnswer::Cancel(dkColor))
        .Then(TDialogAnswer::PickColor(0x808080));
    EXPECT_EQ(script.Requests().size(), 0u);
    man.PickColor(0xFFFFFF);
    EXPECT_THROW(man.PickColor(0x808080), EAbort);
    man.PickColor(0x808080);
    ASSERT_EQ(script.Requests().size(), 3u);
    EXPECT_EQ(script.Requests()[0].CustomColors, std::vector<TColor>(CustomColorCount, UnsetCustomColor));
    EXPECT_EQ(script.Requests()[1].CustomColors, custom);
    EXPECT_EQ(script.Requests()[2].CustomColors, custom);
    EXPECT_EQ(man.ColorDialog()->CustomColors(), custom);
  }
  TInputMan fresh;
  script.Then(TDialogAnswer::PickColor(0));
  fresh.PickColor(0);
  EXPECT_EQ(script.Requests()[3].CustomColors, std::vector<TColor>(CustomColorCount, UnsetCustomColor));
}

TEST(InputManTest, PickDirectoryProposesOnlyAnExistingFolderAndMovesTheCurrentDirectory) {
  TempDir dir;
  const std::string chosen = dir / "chosen";
  std::filesystem::create_directories(chosen);
  CurrentDirGuard restore;
  const std::string before = GetCurrentDir();
  TInputMan man;
  TDialogScript script;

  script.Then(TDialogAnswer::Cancel(dkFolder));
  EXPECT_THROW(man.PickDirectory("Choose the output directory.", dir / "missing"), EAbort);
  EXPECT_EQ(GetCurrentDir(), before);
  ASSERT_EQ(script.Requests().size(), 1u);
  EXPECT_EQ(script.Requests()[0].Kind, dkFolder);
  EXPECT_EQ(script.Requests()[0].Text, "Choose the output directory.");
  EXPECT_EQ(script.Requests()[0].Folder, "");

  script.Then(TDialogAnswer::PickFolder(chosen));
  EXPECT_EQ(man.PickDirectory("Choose the output directory.", dir.Path()), chosen);
  EXPECT_EQ(script.Requests()[1].Folder, dir.Path());
  EXPECT_EQ(std::filesystem::canonical(GetCurrentDir()), std::filesystem::canonical(chosen));
  EXPECT_EQ(script.Unexpected(), 0);
}

TEST(InputManTest, PickDirectoryKeepsAChoiceThatCannotBecomeTheCurrentDirectory) {
  TempDir dir;
  CurrentDirGuard restore;
  const std::string before = GetCurrentDir();
  TInputMan man;
  TDialogScript script;
  script.Then(TDialogAnswer::PickFolder(dir / "vanished"));
  EXPECT_EQ(man.PickDirectory("Choose the output directory.", ""), dir / "vanished");
  EXPECT_EQ(GetCurrentDir(), before);
}

TEST(InputManTest, InvalidFormInputFocusesAControlThatCanTakeIt) {
  QWidget window;
  auto* layout = new QVBoxLayout(&window);
  auto* first = new QPushButton("first");
  auto* edit = new QLineEdit;
  auto* hidden = new QLineEdit;
  auto* disabled = new QLineEdit;
  for (QWidget* w : {static_cast<QWidget*>(first), static_cast<QWidget*>(edit), static_cast<QWidget*>(hidden),
                     static_cast<QWidget*>(disabled)})
    layout->addWidget(w);
  hidden->hide();
  disabled->setEnabled(false);
  window.show();
  first->setFocus();
  ASSERT_EQ(window.focusWidget(), first);

  const EInvalidFormInput plain("Specify the path of a directory.");
  EXPECT_EQ(plain.Message(), "Specify the path of a directory.");
  EXPECT_EQ(window.focusWidget(), first);

  const EInvalidFormInput withHidden("x", hidden);
  const EInvalidFormInput withDisabled("x", disabled);
  EXPECT_EQ(window.focusWidget(), first);

  const EInvalidFormInput withEdit("Specify the path of a directory.", edit);
  EXPECT_EQ(window.focusWidget(), edit);
  EXPECT_STREQ(withEdit.what(), "Specify the path of a directory.");
}

}  // namespace
