// Where Settings.ini and Log.txt live: beside a program whose folder the user can
// write, else in the user's XDG folders, created private when first written,
// with a portable Settings.ini in the program folder read but never written.

#include "app/GlyphsMan.h"
#include "app/SettingsMan.h"
#include "app/UserFiles.h"
#include "tests/app/ProgramDirFixture.h"

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using varnex_test::ReadFileBytes;
using varnex_test::TempDir;
using varnex_test::WriteFileBytes;

unsigned ModeOf(const std::string& Path) {
  struct stat st {};
  return ::stat(Path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0xFFFFFFFFu;
}

TUserFilesEnvironment Environment(const std::string& Home, const std::string& Config = "",
                                  const std::string& State = "", bool System = false) {
  TUserFilesEnvironment environment;
  environment.Home = Home;
  environment.ConfigHome = Config;
  environment.StateHome = State;
  environment.SystemInstall = System;
  return environment;
}

TEST(UserFiles, BesideAWritableProgramElseInTheXdgFolders) {
  TempDir dir;
  const std::string writable = dir.Path() + "/";
  const TUserFiles beside = TUserFiles::For(writable, Environment("/home/u", "/cfg", "/st"));
  EXPECT_EQ(beside.SettingsFileName, writable + "Settings.ini");
  EXPECT_EQ(beside.LogFileName, writable + "Log.txt");
  EXPECT_EQ(beside.SettingsFallbackFileName, "");
  EXPECT_FALSE(beside.PerUser);
  // The tests' own program lies in a writable build folder.
  EXPECT_EQ(SettingsFileName, ProgramDir() + "Settings.ini");
  EXPECT_EQ(LogFileName, ProgramDir() + "Log.txt");
  // Root writes everywhere; a missing folder stands for a protected one there.
  std::filesystem::create_directory(dir / "ro");
  ::chmod((dir / "ro").c_str(), 0555);
  const std::string locked = ::geteuid() == 0 ? dir / "missing/" : dir / "ro/";
  for (const auto& [program, system] : {std::pair{locked, false}, std::pair{writable, true}}) {
    const TUserFiles files = TUserFiles::For(program, Environment("/home/u", "/cfg", "/st/", system));
    EXPECT_EQ(files.SettingsFileName, "/cfg/varnex/Settings.ini") << program;
    EXPECT_EQ(files.LogFileName, "/st/varnex/Log.txt") << program;
    EXPECT_EQ(files.SettingsFallbackFileName, program + "Settings.ini") << program;
    EXPECT_TRUE(files.PerUser) << program;
  }
  // Unset or relative XDG variables give way to the defaults under the home folder.
  for (const std::string& value : {std::string(), std::string("rel/cfg")}) {
    const TUserFiles files = TUserFiles::For(writable, Environment("/home/u/", value, value, true));
    EXPECT_EQ(files.SettingsFileName, "/home/u/.config/varnex/Settings.ini");
    EXPECT_EQ(files.LogFileName, "/home/u/.local/state/varnex/Log.txt");
  }
  // With no usable home the files stay beside the program, and fail there as before.
  for (const std::string& home : {std::string(), std::string("home")})
    EXPECT_FALSE(TUserFiles::For(writable, Environment(home, "", "", true)).PerUser) << home;
}

class UserFilesFormTest : public varnex_test::ProgramDirTest {
protected:
  std::string Fallback() { return Dir / "Settings.ini"; }
  std::string Config() { return Dir / "home/.config/varnex"; }
  std::string State() { return Dir / "home/.local/state/varnex"; }

  TMainFormSetup PerUserSetup() {
    TMainFormSetup setup = Setup();
    setup.SettingsFileName = Config() + "/Settings.ini";
    setup.SettingsFallbackFileName = Fallback();
    setup.LogFileName = State() + "/Log.txt";
    setup.PerUserFiles = true;
    return setup;
  }
};

TEST_F(UserFilesFormTest, PortableSettingsCarryOverAndTheUsersOwnFilesGoToPrivateFolders) {
  const std::string portable = "[MainForm]\r\nLightColor=255\r\nOutputDir=\"" + (Dir / "out") + "\"\r\n";
  WriteFileBytes(Fallback(), portable);
  std::filesystem::create_directories(Dir / "src");
  WriteFileBytes(Dir / "src/g.bmp", varnex_test::SmallGlyphBmp());
  {
    auto form = std::make_unique<TMainForm>(PerUserSetup());
    EXPECT_EQ(form->GetLightColor(), 255u);
    EXPECT_FALSE(std::filesystem::exists(Dir / "home"));  // nothing is created before it is needed
    form->GlyphsMan()->Convert({Dir / "src/g.bmp"}, 0xFFFFFF, 0x808080, Dir / "out");
    EXPECT_TRUE(std::filesystem::exists(Dir / "out/g.bmp"));
    EXPECT_NE(ReadFileBytes(State() + "/Log.txt").find("Converted"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(Dir / "Log.txt"));
    form->SetLightColor(0x00FF00);
    form->SettingsMan()->Save();
  }
  for (const std::string& folder : {Config(), State(), Dir / "home/.config", Dir / "home/.local/state"}) {
    EXPECT_EQ(ModeOf(folder) & 0077, 0u) << folder;
  }
  EXPECT_EQ(ReadFileBytes(Fallback()), portable);
  EXPECT_NE(ReadFileBytes(Config() + "/Settings.ini").find("LightColor=65280\r\n"), std::string::npos);
  // From now on the user's own file wins over the program folder's.
  auto form = std::make_unique<TMainForm>(PerUserSetup());
  EXPECT_EQ(form->GetLightColor(), 0x00FF00u);
  EXPECT_TRUE(form->GlyphsMan()->LogExists());
}

TEST_F(UserFilesFormTest, AFaultyProgramFolderFileStillLetsTheProgramStart) {
  // The user can neither correct nor delete it: what comes before the fault applies.
  WriteFileBytes(Fallback(), "[MainForm]\r\nLightColor=255\r\nOutputDir=no quotes\r\n");
  std::unique_ptr<TMainForm> form;
  ASSERT_NO_THROW(form = std::make_unique<TMainForm>(PerUserSetup()));
  EXPECT_EQ(form->GetLightColor(), 255u);
  // The user's own file keeps failing loudly, as before.
  std::filesystem::create_directories(Config());
  std::filesystem::copy_file(Fallback(), Config() + "/Settings.ini");
  form.reset();
  EXPECT_THROW_MSG(std::make_unique<TMainForm>(PerUserSetup()), ESettingsManError, SettingsLoadError);
}

TEST_F(UserFilesFormTest, AFolderThatCannotBeMadeIsTheUsualSaveError) {
  WriteFileBytes(Dir / "home", "a file where the home folder should be");
  auto form = std::make_unique<TMainForm>(PerUserSetup());
  EXPECT_THROW_MSG(form->SettingsMan()->Save(), ESettingsManError, SettingsSaveError);
  EXPECT_FALSE(std::filesystem::exists(Fallback()));
}

}  // namespace
