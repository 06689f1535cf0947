#include "support/Shell.h"

#include <QByteArray>
#include <QDropEvent>
#include <QMimeData>
#include <QString>

namespace {

const QString UriListFormat = QStringLiteral("text/uri-list");

// The path of one file URI as bytes: "file:///p", "file://localhost/p" or "file:/p".
std::string LocalPathOfUri(const QByteArray& Uri) {
  if (!Uri.toLower().startsWith("file:")) return std::string();
  QByteArray rest = Uri.mid(5);
  if (rest.startsWith("//")) {
    rest = rest.mid(2);
    const qsizetype slash = rest.indexOf('/');
    if (slash < 0) return std::string();
    const QByteArray host = rest.left(slash).toLower();
    if (!host.isEmpty() && host != "localhost") return std::string();
    rest = rest.mid(slash);
  }
  if (!rest.startsWith('/') || rest.contains('?') || rest.contains('#')) return std::string();
  // The bytes stay as encoded: a name need not be UTF-8 to be a file's name.
  const QByteArray path = QByteArray::fromPercentEncoding(rest);
  if (path.contains('\0')) return std::string();
  return path.toStdString();
}

}  // namespace

std::vector<std::string> LocalPathsOfUriList(const QByteArray& UriList) {
  std::vector<std::string> paths;
  for (QByteArray line : UriList.split('\n')) {
    line = line.trimmed();
    if (line.isEmpty() || line.startsWith('#')) continue;
    paths.push_back(LocalPathOfUri(line));
  }
  return paths;
}

TFileDrop::TFileDrop(QDropEvent* Event, bool AutoFinish) : FAutoFinish(AutoFinish) {
  // Drag-enter and drag-move events share the drop event's class; only the
  // drop itself carries files to take.
  if (Event == nullptr || Event->type() != QEvent::Drop)
    throw EFileDropError("The message is not WM_DROPFILES.");
  FDropEvent = Event;
  // The list is taken once so that the count and the paths cannot drift apart
  // while the drop is read. The source's own bytes are read, not Qt's URLs,
  // which turn a name that is not UTF-8 into replacement characters.
  if (const QMimeData* data = Event->mimeData(); data != nullptr && data->hasFormat(UriListFormat))
    FPaths = LocalPathsOfUriList(data->data(UriListFormat));
}

TFileDrop::~TFileDrop() {
  if (FAutoFinish) Finish();
}

void TFileDrop::CheckActive() const {
  if (FFinished) throw EFileDropError("The file drop operation is already finished.");
}

QDropEvent* TFileDrop::DropHandle() const {
  CheckActive();
  return FDropEvent;
}

int TFileDrop::FileCount() const {
  CheckActive();
  return static_cast<int>(FPaths.size());
}

std::string TFileDrop::GetFile(int Index) const {
  CheckActive();
  if (Index < 0 || Index >= FileCount())
    throw EFileDropError("The index for a dropped file is out of the range.");
  // Only a local file has a path the converter can open; a remote or empty
  // URL fails here rather than turning into a misleading file name.
  const std::string& path = FPaths.at(static_cast<std::size_t>(Index));
  if (path.empty()) throw EFileDropError("The program cannot get the path of a dropped file.");
  return path;
}

void TFileDrop::GetFiles(TStringList& Files) const {
  TStringList dropped;
  dropped.reserve(static_cast<std::size_t>(FileCount()));
  for (int i = 0; i < FileCount(); ++i) dropped.push_back(GetFile(i));
  Files = std::move(dropped);
}

void TFileDrop::Finish() {
  if (FFinished) return;
  FFinished = true;
  // The program only reads the dropped files. Accepting the source's proposed
  // action could report a move, and the source would then delete the originals.
  FDropEvent->setDropAction(Qt::CopyAction);
  FDropEvent->accept();
  FDropEvent = nullptr;
  FPaths.clear();
}
