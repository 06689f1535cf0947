#include "support/Shell.h"

#include <QDropEvent>
#include <QFile>
#include <QMimeData>

TFileDrop::TFileDrop(QDropEvent* Event, bool AutoFinish) : FAutoFinish(AutoFinish) {
  // Drag-enter and drag-move events share the drop event's class; only the
  // drop itself carries files to take.
  if (Event == nullptr || Event->type() != QEvent::Drop)
    throw EFileDropError("The message is not WM_DROPFILES.");
  FDropEvent = Event;
  // The list is taken once so that the count and the paths cannot drift
  // apart while the drop is read.
  if (const QMimeData* data = Event->mimeData(); data != nullptr && data->hasUrls())
    FUrls = data->urls();
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
  return static_cast<int>(FUrls.size());
}

std::string TFileDrop::GetFile(int Index) const {
  CheckActive();
  if (Index < 0 || Index >= FileCount())
    throw EFileDropError("The index for a dropped file is out of the range.");
  const QUrl& url = FUrls.at(Index);
  // Only a local file has a path the converter can open; a remote or empty
  // URL fails here rather than turning into a misleading file name.
  const QString path = url.isLocalFile() ? url.toLocalFile() : QString();
  if (path.isEmpty()) throw EFileDropError("The program cannot get the path of a dropped file.");
  // encodeName gives the bytes the file system uses, also for names that are
  // not valid UTF-8.
  return QFile::encodeName(path).toStdString();
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
  FUrls.clear();
}
