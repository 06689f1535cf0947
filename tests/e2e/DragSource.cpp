// A small window that drags the files named on its command line as file URLs,
// so the end-to-end tests can make a real drag and drop between two programs.
// An argument "@LIST" stands for the lines of the file LIST. Names travel as a
// file manager sends them: percent-encoded bytes, also where they are not UTF-8.
// It prints "ready" once shown, "entered" when the pointer comes in, "dragging" when the drag has started,
// "action <n>" as the target's answer changes and "dropped <action>" when it has ended. It stays open afterwards: the drop
// target fetches the data after the drag has ended, so the caller ends it.

#include <QApplication>
#include <QDrag>
#include <QFile>
#include <QMimeData>
#include <QMouseEvent>
#include <QWidget>

#include <cstdio>

namespace {

void Say(const char* Text) {
  std::printf("%s\n", Text);
  std::fflush(stdout);
}

class TDragSource : public QWidget {
public:
  explicit TDragSource(QByteArray UriList) : FUriList(std::move(UriList)) {
    setWindowTitle(QStringLiteral("DragSource"));
    setFixedSize(160, 120);
  }

protected:
  void showEvent(QShowEvent*) override { Say("ready"); }
  void enterEvent(QEnterEvent*) override { Say("entered"); }

  void mousePressEvent(QMouseEvent* Event) override {
    if (Event->button() != Qt::LeftButton || FStarted) return;
    FStarted = true;
    auto* drag = new QDrag(this);
    auto* data = new QMimeData;
    data->setData(QStringLiteral("text/uri-list"), FUriList);
    drag->setMimeData(data);
    // The target's answer to the pointer's position: 1 once it would take a copy.
    QObject::connect(drag, &QDrag::actionChanged, [](Qt::DropAction Action) {
      std::printf("action %d\n", static_cast<int>(Action));
      std::fflush(stdout);
    });
    Say("dragging");
    const Qt::DropAction action = drag->exec(Qt::CopyAction);
    std::printf("dropped %d\n", static_cast<int>(action));
    std::fflush(stdout);
  }

private:
  QByteArray FUriList;
  bool FStarted = false;
};

}  // namespace

QByteArray FileUri(const QByteArray& Path) { return "file://" + Path.toPercentEncoding("/") + "\r\n"; }

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QByteArray uris;
  // The raw arguments: a name that is not UTF-8 would not survive a QString.
  for (int i = 1; i < argc; ++i) {
    const QByteArray argument(argv[i]);
    if (!argument.startsWith('@')) {
      uris += FileUri(argument);
      continue;
    }
    QFile list(QString::fromLocal8Bit(argument.mid(1)));
    if (!list.open(QIODevice::ReadOnly)) return 2;
    for (const QByteArray& line : list.readAll().split('\n'))
      if (!line.isEmpty()) uris += FileUri(line);
  }
  TDragSource window(uris);
  window.move(0, 0);
  window.show();
  return QApplication::exec();
}
