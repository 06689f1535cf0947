#include "support/Shell.h"

#include "tests/common/TestSupport.h"

#include <QDropEvent>
#include <QGuiApplication>
#include <QMimeData>

#include <memory>

namespace {

// A drop event needs the platform's drag support, hence a GUI application.
class ShellTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "ShellTest";
    static char* argv[] = {name, nullptr};
    static QGuiApplication app(argc, argv);
  }

  // A drop of Paths as local-file URLs, with the given event type and actions.
  std::unique_ptr<QDropEvent> MakeDrop(const QStringList& Paths, QEvent::Type Type = QEvent::Drop,
                                       Qt::DropActions Actions = Qt::CopyAction) {
    QList<QUrl> urls;
    for (const QString& p : Paths) urls.append(QUrl::fromLocalFile(p));
    FData.setUrls(urls);
    return std::make_unique<QDropEvent>(QPointF(5, 5), Actions, &FData, Qt::LeftButton,
                                        Qt::NoModifier, Type);
  }

  QMimeData FData;
};

TEST_F(ShellTest, ReadsEveryPathInDropOrder) {
  const std::string longDir = "/tmp/" + std::string(300, 'd');
  auto event = MakeDrop({"/tmp/b.bmp", "/tmp/a folder", "/tmp/x y/#1 100%.bmp",
                         QString::fromStdString(longDir + "/g.bmp")});
  TFileDrop drop(event.get(), true);
  EXPECT_EQ(drop.DropHandle(), event.get());
  ASSERT_EQ(drop.FileCount(), 4);
  TStringList files{"stale"};
  drop.GetFiles(files);
  // No 260-character limit applies: long paths come through whole.
  EXPECT_EQ(files, (TStringList{"/tmp/b.bmp", "/tmp/a folder", "/tmp/x y/#1 100%.bmp",
                                longDir + "/g.bmp"}));
  EXPECT_EQ(drop.GetFile(1), "/tmp/a folder");
}

TEST_F(ShellTest, RefusesEventsThatAreNotDrops) {
  auto move = MakeDrop({"/tmp/a.bmp"}, QEvent::DragMove);
  EXPECT_THROW_MSG(TFileDrop(move.get(), true), EFileDropError, "The message is not WM_DROPFILES.");
  EXPECT_THROW_MSG(TFileDrop(nullptr, true), EShellError, "The message is not WM_DROPFILES.");
  EXPECT_FALSE(move->isAccepted());
}

TEST_F(ShellTest, IndexOutOfRangeLeavesTheDropUsable) {
  auto event = MakeDrop({"/tmp/a.bmp", "/tmp/b.bmp"});
  TFileDrop drop(event.get(), false);
  const char* message = "The index for a dropped file is out of the range.";
  EXPECT_THROW_MSG(drop.GetFile(-1), EFileDropError, message);
  EXPECT_THROW_MSG(drop.GetFile(2), EFileDropError, message);
  EXPECT_EQ(drop.FileCount(), 2);
  EXPECT_EQ(drop.GetFile(0), "/tmp/a.bmp");
}

TEST_F(ShellTest, UnreadableItemFailsWithoutTouchingTheList) {
  auto event = MakeDrop({"/tmp/a.bmp"});
  FData.setUrls({QUrl::fromLocalFile("/tmp/a.bmp"), QUrl("https://example.org/b.bmp")});
  TFileDrop drop(event.get(), true);
  TStringList files{"kept"};
  EXPECT_THROW_MSG(drop.GetFiles(files), EFileDropError,
                   "The program cannot get the path of a dropped file.");
  EXPECT_EQ(files, TStringList{"kept"});
}

TEST_F(ShellTest, DropWithoutUrlsHasNoFiles) {
  FData.setText("just text");
  QDropEvent event(QPointF(1, 1), Qt::CopyAction, &FData, Qt::LeftButton, Qt::NoModifier);
  TFileDrop drop(&event, true);
  TStringList files{"old"};
  drop.GetFiles(files);
  EXPECT_TRUE(files.empty());
}

TEST_F(ShellTest, FinishReleasesOnceAndEndsTheDrop) {
  auto event = MakeDrop({"/tmp/a.bmp"}, QEvent::Drop, Qt::CopyAction | Qt::MoveAction);
  event->setDropAction(Qt::MoveAction);
  TFileDrop drop(event.get(), true);
  EXPECT_FALSE(event->isAccepted());
  drop.Finish();
  EXPECT_TRUE(drop.Finished());
  EXPECT_TRUE(event->isAccepted());
  // Reported as a copy, so the source never deletes the originals.
  EXPECT_EQ(event->dropAction(), Qt::CopyAction);
  const char* message = "The file drop operation is already finished.";
  EXPECT_THROW_MSG(drop.FileCount(), EFileDropError, message);
  EXPECT_THROW_MSG(drop.GetFile(0), EFileDropError, message);
  EXPECT_THROW_MSG(drop.DropHandle(), EFileDropError, message);
  TStringList files{"kept"};
  EXPECT_THROW_MSG(drop.GetFiles(files), EFileDropError, message);
  EXPECT_EQ(files, TStringList{"kept"});
  // A second Finish, and the destructor, must not touch the event again.
  event->ignore();
  drop.Finish();
  EXPECT_FALSE(event->isAccepted());
}

TEST_F(ShellTest, DestructorFinishesOnlyWithAutoFinish) {
  auto kept = MakeDrop({"/tmp/a.bmp"});
  { TFileDrop drop(kept.get(), false); }
  EXPECT_FALSE(kept->isAccepted());

  auto released = MakeDrop({"/tmp/a.bmp"});
  { TFileDrop drop(released.get(), true); }
  EXPECT_TRUE(released->isAccepted());

  auto finished = MakeDrop({"/tmp/a.bmp"});
  {
    TFileDrop drop(finished.get(), true);
    drop.Finish();
    finished->ignore();
  }
  EXPECT_FALSE(finished->isAccepted());
}

}  // namespace

TEST_F(ShellTest, NamesKeepTheirBytesAndOnlyLocalFilesArePaths) {
  // As a file manager sends them: percent-encoded bytes, CR LF, comments allowed.
  FData.setData(QStringLiteral("text/uri-list"),
                "# dropped\r\nfile:///tmp/n%E9.bmp\r\nfile://localhost/tmp/a%20b.bmp\r\nfile:/tmp/c.bmp\r\n"
                "file://elsewhere/tmp/d.bmp\r\n");
  QDropEvent event(QPointF(1, 1), Qt::CopyAction, &FData, Qt::LeftButton, Qt::NoModifier);
  TFileDrop drop(&event, true);
  ASSERT_EQ(drop.FileCount(), 4);
  EXPECT_EQ(drop.GetFile(0), "/tmp/n\xE9.bmp");
  EXPECT_EQ(drop.GetFile(1), "/tmp/a b.bmp");
  EXPECT_EQ(drop.GetFile(2), "/tmp/c.bmp");
  EXPECT_THROW_MSG(drop.GetFile(3), EFileDropError, "The program cannot get the path of a dropped file.");
}
