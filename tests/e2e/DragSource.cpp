// A small window that drags the files named on its command line as file URLs,
// so the end-to-end tests can make a real drag and drop between two programs.
// An argument "@LIST" stands for the lines of the file LIST.
// It prints "ready" once shown, "dragging" when the drag has started,
// "action <n>" as the target's answer changes and "dropped <action>" when it has ended. It stays open afterwards: the drop
// target fetches the data after the drag has ended, so the caller ends it.

#include <QApplication>
#include <QDrag>
#include <QFile>
#include <QMimeData>
#include <QMouseEvent>
#include <QUrl>
#include <QWidget>

#include <cstdio>

namespace {

void Say(const char* Text) {
  std::printf("%s\n", Text);
  std::fflush(stdout);
}

class TDragSource : public QWidget {
public:
  explicit TDragSource(QList<QUrl> Urls) : FUrls(std::move(Urls)) {
    setWindowTitle(QStringLiteral("DragSource"));
    setFixedSize(160, 120);
  }

protected:
  void showEvent(QShowEvent*) override { Say("ready"); }

  void mousePressEvent(QMouseEvent* Event) override {
    if (Event->button() != Qt::LeftButton || FStarted) return;
    FStarted = true;
    auto* drag = new QDrag(this);
    auto* data = new QMimeData;
    data->setUrls(FUrls);
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
  QList<QUrl> FUrls;
  bool FStarted = false;
};

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QList<QUrl> urls;
  for (const QString& argument : QApplication::arguments().mid(1)) {
    if (!argument.startsWith(QLatin1Char('@'))) {
      urls << QUrl::fromLocalFile(argument);
      continue;
    }
    QFile list(argument.mid(1));
    if (!list.open(QIODevice::ReadOnly)) return 2;
    for (const QByteArray& line : list.readAll().split('\n'))
      if (!line.isEmpty()) urls << QUrl::fromLocalFile(QFile::decodeName(line));
  }
  TDragSource window(urls);
  window.move(0, 0);
  window.show();
  return QApplication::exec();
}
