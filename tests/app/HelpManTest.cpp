// The help question, the opening of the help file and the About box, answered
// through the dialog seam.

#include "app/HelpMan.h"
#include "base/SysUtils.h"
#include "gui/DialogSeam.h"
#include "tests/common/QtTestSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <filesystem>
#include <functional>

namespace {

using varnex_test::TempDir;
using varnex_test::WriteFileBytes;

class HelpManTest : public ::testing::Test {
protected:
  TempDir Dir;
  std::vector<std::string> Opened;
  bool OpenResult = true;

  void SetUp() override { Application->SetTitle("Varnex"); }

  THelpMan Man(const std::string& Path) {
    return THelpMan(Path, [this](const std::string& File) {
      Opened.push_back(File);
      return OpenResult;
    });
  }
  std::string Question(const std::string& Path) {
    return "The program opens the file \"" + Path + "\".\r\n\r\nContinue?";
  }
};

TEST_F(HelpManTest, HelpFileLiesBesideTheProgramWhateverTheCurrentDirectory) {
  EXPECT_EQ(HelpFileName, ProgramDir() + "Help/index.html");
  EXPECT_EQ(HelpFileName.front(), '/');
  EXPECT_EQ(THelpMan().HelpFileName(), HelpFileName);
}

TEST_F(HelpManTest, YesOpensTheFileNamedInTheQuestion) {
  std::filesystem::create_directories(Dir / "Help");
  const std::string path = Dir / "Help/index.html";
  WriteFileBytes(path, "<html></html>");
  TDialogScript script;
  script.Then(TDialogAnswer::Yes());
  EXPECT_TRUE(Man(path).ShowHelp(true));
  ASSERT_EQ(script.Requests().size(), 1u);
  EXPECT_EQ(script.Requests()[0].Kind, dkQuestion);
  EXPECT_EQ(script.Requests()[0].Caption, "Varnex");
  EXPECT_EQ(script.Requests()[0].Text, Question(path));
  EXPECT_EQ(Opened, std::vector<std::string>{path});
}

TEST_F(HelpManTest, NoOpensNothingAndShowsNothingElse) {
  const std::string path = Dir / "Help/index.html";
  WriteFileBytes(Dir / "index.html", "x");
  TDialogScript script;
  script.Then(TDialogAnswer::No());
  EXPECT_FALSE(Man(path).ShowHelp(true));
  EXPECT_EQ(script.Requests().size(), 1u);
  EXPECT_TRUE(Opened.empty());
}

TEST_F(HelpManTest, MissingFileIsReportedAfterTheQuestionWithoutCallingTheViewer) {
  const std::string path = Dir / "Help/index.html";
  TDialogScript script;
  script.Then(TDialogAnswer::Yes());
  THelpMan man = Man(path);
  EXPECT_THROW_MSG(man.ShowHelp(true), EHelpManError, "The program cannot open the help.");
  EXPECT_EQ(script.Requests().size(), 1u);
  EXPECT_EQ(script.Requests()[0].Text, Question(path));
  EXPECT_TRUE(Opened.empty());
}

TEST_F(HelpManTest, ViewerThatFailsIsReportedAndNoQuestionWithoutAsking) {
  const std::string path = Dir / "index.html";
  WriteFileBytes(path, "x");
  OpenResult = false;
  TDialogScript script;
  THelpMan man = Man(path);
  EXPECT_THROW_MSG(man.ShowHelp(false), EHelpManError, "The program cannot open the help.");
  EXPECT_TRUE(script.Requests().empty());
  EXPECT_EQ(Opened, std::vector<std::string>{path});
}

TEST_F(HelpManTest, AboutShowsVersionEmptyLineAndMaker) {
  TDialogScript script;
  script.Then(TDialogAnswer::Ok(dkInformation));
  Man(Dir / "x").ShowAbout();
  ASSERT_EQ(script.Requests().size(), 1u);
  const TDialogRequest& box = script.Requests()[0];
  EXPECT_EQ(box.Kind, dkInformation);
  EXPECT_EQ(box.Caption, "About");
  EXPECT_EQ(box.Text, std::string("Varnex version ") + VARNEX_VERSION + "\r\n\r\nThe Varnex developers");
  EXPECT_EQ(box.Text, AboutText);
  EXPECT_EQ(script.Unexpected(), 0);
}

TEST_F(HelpManTest, RealAboutBoxClosesWithOk) {
  bool seen = false;
  varnex_test::OnModalWidget([&](QWidget* Box) {
    seen = Box->windowTitle() == QStringLiteral("About");
    Box->close();
  });
  Man(Dir / "x").ShowAbout();
  EXPECT_TRUE(seen);
}


// Runs the event loop until Done or a generous deadline.
void SpinUntil(const std::function<bool()>& Done, int Ms) {
  const QDeadlineTimer deadline(Ms);
  while (!Done() && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

TEST_F(HelpManTest, OpenerIsNotWaitedForAndOnlyItsEarlyFailureIsShown) {
  const std::string late = Dir / "late-failure.sh", fine = Dir / "fine.sh";
  WriteFileBytes(late, "#!/bin/sh\nsleep 1\nexit 1\n");
  WriteFileBytes(fine, "#!/bin/sh\nexit 0\n");
  std::filesystem::permissions(late, std::filesystem::perms::owner_all);
  std::filesystem::permissions(fine, std::filesystem::perms::owner_all);
  TDialogScript script;
  script.Then(TDialogAnswer::Ok(dkError));
  EXPECT_FALSE(StartHelpOpener("", Dir / "index.html"));
  EXPECT_FALSE(StartHelpOpener(Dir / "no-such-opener", Dir / "index.html"));
  // A failure after the verdict time and a success show nothing.
  ASSERT_TRUE(StartHelpOpener(late, Dir / "index.html", 300));
  ASSERT_TRUE(StartHelpOpener(fine, Dir / "index.html", 10000));
  SpinUntil([] { return false; }, 2000);
  EXPECT_TRUE(script.Requests().empty());
  ASSERT_TRUE(StartHelpOpener("/bin/false", Dir / "index.html", 10000));
  SpinUntil([&] { return !script.Requests().empty(); }, 10000);
  ASSERT_EQ(script.Requests().size(), 1u);
  EXPECT_EQ(script.Requests()[0].Kind, dkError);
  EXPECT_EQ(script.Requests()[0].Text, "The program cannot open the help.");
}

}  // namespace
