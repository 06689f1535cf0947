// Settings.ini: its exact layout, the lenient reads, the load and save failures,
// and the current directory, through a main window in a temporary program directory.

#include "app/GlyphsMan.h"
#include "app/InputMan.h"
#include "app/SettingsMan.h"
#include "gui/FileDialogs.h"
#include "tests/app/ProgramDirFixture.h"

#include <QLabel>
#include <QLineEdit>

#include <csignal>
#include <filesystem>
#include <sys/resource.h>

namespace {

using varnex_test::ReadFileBytes;
using varnex_test::WriteFileBytes;

class SettingsManTest : public varnex_test::ProgramDirTest {
protected:
  std::string IniPath() { return Dir / "Settings.ini"; }
  std::unique_ptr<TMainForm> Form() { return std::make_unique<TMainForm>(Setup()); }

  static std::string Expected(int Left, int Top, int Files, int Log, TColor Light, TColor Shadow,
                              const std::string& OutputDir, const std::string& CurrentDir) {
    return "[MainForm]\r\nLeft=" + std::to_string(Left) + "\r\nTop=" + std::to_string(Top) +
           "\r\nGlyphsMan.FilesOpenDialog.FilterIndex=" + std::to_string(Files) +
           "\r\nGlyphsMan.LogSaveDialog.FilterIndex=" + std::to_string(Log) +
           "\r\nLightColor=" + std::to_string(static_cast<int>(Light)) +
           "\r\nShadowColor=" + std::to_string(static_cast<int>(Shadow)) + "\r\nOutputDir=\"" + OutputDir +
           "\"\r\n\r\n[System]\r\nCurrentDir=\"" + CurrentDir + "\"\r\n\r\n";
  }
};

TEST_F(SettingsManTest, FileNameLiesBesideTheProgram) {
  EXPECT_EQ(SettingsFileName, ProgramDir() + "Settings.ini");
  EXPECT_EQ(TSettingsMan().FileName(), SettingsFileName);
}

TEST_F(SettingsManTest, FirstSaveWritesEightKeysInTwoSections) {
  auto form = Form();
  form->SetLeft(-40);
  form->SetTop(3000);
  form->SettingsMan()->Save();
  EXPECT_EQ(ReadFileBytes(IniPath()),
            Expected(-40, 3000, 1, 1, 0xFFFFFF, 0x808080, DefaultOutputDir(), GetCurrentDir()));
}

TEST_F(SettingsManTest, SavedValuesComeBackOnTheNextStart) {
  std::filesystem::create_directories(Dir / "cwd");
  {
    auto form = Form();
    form->SetLeft(12);
    form->SetTop(-7);
    form->GlyphsMan()->FilesOpenDialog()->SetFilterIndex(2);
    form->GlyphsMan()->LogSaveDialog()->SetFilterIndex(3);
    form->SetLightColor(0x0000FF);
    form->SetShadowColor(0x123456);
    form->SetOutputDir("  out dir  ");
    ASSERT_TRUE(SetCurrentDir(Dir / "cwd"));
    form->SettingsMan()->Save();
  }
  ASSERT_TRUE(SetCurrentDir(SavedCurrentDir));
  auto form = Form();
  EXPECT_EQ(form->Left(), 12);
  EXPECT_EQ(form->Top(), -7);
  EXPECT_EQ(form->GlyphsMan()->FilesOpenDialog()->FilterIndex(), 2);
  EXPECT_EQ(form->GlyphsMan()->LogSaveDialog()->FilterIndex(), 3);
  EXPECT_EQ(form->GetLightColor(), 0x0000FFu);
  EXPECT_EQ(form->GetShadowColor(), 0x123456u);
  // The quotes keep the blanks at both ends.
  EXPECT_EQ(form->GetOutputDir(), "  out dir  ");
  EXPECT_EQ(GetCurrentDir(), Dir / "cwd");
}

TEST_F(SettingsManTest, HandEditedFileIsReadLenientlyAndRewrittenClean) {
  WriteFileBytes(IniPath(),
                 "; my notes\r\n[mainform]\r\nlightcolor=$FF\r\nShadowColor=red\r\nTop=0xFF\r\nExtra=1\r\n"
                 "GlyphsMan.FilesOpenDialog.FilterIndex=\r\n[Mine]\r\nKey=Value\r\n");
  auto form = Form();
  EXPECT_EQ(form->GetLightColor(), 0x0000FFu);
  EXPECT_EQ(form->Label3->text().toStdString(), "[255, 0, 0]");
  // A malformed number keeps the current value without a word.
  EXPECT_EQ(form->GetShadowColor(), 0x808080u);
  EXPECT_EQ(form->Top(), 255);
  EXPECT_EQ(form->GlyphsMan()->FilesOpenDialog()->FilterIndex(), 1);
  form->SetLeft(5);
  form->SettingsMan()->Save();
  EXPECT_EQ(ReadFileBytes(IniPath()), Expected(5, 255, 1, 1, 0xFF, 0x808080, DefaultOutputDir(), GetCurrentDir()));
}

TEST_F(SettingsManTest, UnquotedOutputDirFailsTheLoadAfterTheEarlierValues) {
  std::filesystem::create_directories(Dir / "elsewhere");
  const std::string text = "[MainForm]\r\nLightColor=255\r\nOutputDir=/no/quotes\r\n[System]\r\nCurrentDir=\"" +
                           (Dir / "elsewhere") + "\"\r\n";
  TMainForm form(Setup(), nullptr);
  WriteFileBytes(IniPath(), text);
  EXPECT_THROW_MSG(form.SettingsMan()->Load(), ESettingsManError, "The program cannot load the settings.");
  EXPECT_EQ(form.GetLightColor(), 0xFFu);
  EXPECT_EQ(form.GetOutputDir(), DefaultOutputDir());
  EXPECT_EQ(GetCurrentDir(), SavedCurrentDir);
  // A one-character value is no quoted string either.
  WriteFileBytes(IniPath(), "[MainForm]\r\nOutputDir=\"\r\n");
  EXPECT_THROW_MSG(form.SettingsMan()->Load(), ESettingsManError, "The program cannot load the settings.");
  EXPECT_EQ(ReadFileBytes(IniPath()), "[MainForm]\r\nOutputDir=\"\r\n");
}

TEST_F(SettingsManTest, EmptyOutputDirLoadsButRefusesTheSave) {
  const std::string text = "[MainForm]\r\nOutputDir=\"\"\r\n";
  WriteFileBytes(IniPath(), text);
  auto form = Form();
  EXPECT_TRUE(form->Edit1->text().isEmpty());
  EXPECT_THROW_MSG(form->SettingsMan()->Save(), EInvalidFormInput, "Specify the path of a directory.");
  EXPECT_EQ(ReadFileBytes(IniPath()), text);
}

TEST_F(SettingsManTest, MissingCurrentDirKeepsTheCurrentOne) {
  WriteFileBytes(IniPath(), "[System]\r\nCurrentDir=\"" + (Dir / "gone") + "\"\r\n");
  auto form = Form();
  EXPECT_EQ(GetCurrentDir(), SavedCurrentDir);
  form->SettingsMan()->Save();
  EXPECT_NE(ReadFileBytes(IniPath()).find("CurrentDir=\"" + SavedCurrentDir + "\""), std::string::npos);
}

TEST_F(SettingsManTest, FileThatCannotBeCreatedGivesTheSaveMessage) {
  WriteFileBytes(Dir / "plain", "not a folder");
  auto form = Form();
  TSettingsMan man(Dir / "plain/Settings.ini");
  EXPECT_THROW_MSG(man.Save(), ESettingsManError, "The program cannot save the settings.");
  EXPECT_EQ(ReadFileBytes(Dir / "plain"), "not a folder");
}

TEST_F(SettingsManTest, FullDiskKeepsTheOldFileWhole) {
  auto form = Form();
  form->SettingsMan()->Save();
  const std::string before = ReadFileBytes(IniPath());
  form->SetOutputDir(std::string(4000, 'x'));
  bool failed = false;
  {
    varnex_test::FileSizeLimit limit(100);
    ASSERT_TRUE(limit.Active());
    try {
      form->SettingsMan()->Save();
    } catch (const ESettingsManError& E) {
      failed = E.Message() == "The program cannot save the settings.";
    }
  }
  EXPECT_TRUE(failed);
  EXPECT_EQ(ReadFileBytes(IniPath()), before);
}

TEST_F(SettingsManTest, WithoutLeftAndTopTheSystemPlacesTheWindow) {
  WriteFileBytes(IniPath(), "[MainForm]\r\nLightColor=255\r\n");
  auto form = Form();
  EXPECT_EQ(form->GetLightColor(), 0x0000FFu);
  EXPECT_FALSE(form->testAttribute(Qt::WA_Moved));
}

}  // namespace
