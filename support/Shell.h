#pragma once
// Shell services: files dropped onto a window from a file manager.

#include "base/Exceptions.h"
#include "base/Types.h"

#include <string>
#include <vector>

class QByteArray;
class QDropEvent;

// The base of every shell-related error.
VARNEX_DECLARE_EXCEPTION(EShellError, Exception);
// A failure while reading or finishing a file drop.
VARNEX_DECLARE_EXCEPTION(EFileDropError, EShellError);

// The local paths of a text/uri-list, percent-decoded to the file system's bytes, in
// list order; "" stands for an entry that is not a local file.
std::vector<std::string> LocalPathsOfUriList(const QByteArray& UriList);

// One drop of local files onto a window, read in the order the source lists
// them and finished (accepted and released) exactly once.
class TFileDrop {
public:
  // Wraps a drop event; raises EFileDropError when Event is not a drop.
  TFileDrop(QDropEvent* Event, bool AutoFinish);
  // Finishes the drop when AutoFinish is set and it is not finished yet.
  ~TFileDrop();
  TFileDrop(const TFileDrop&) = delete;
  TFileDrop& operator=(const TFileDrop&) = delete;

  // The drop event this object wraps.
  QDropEvent* DropHandle() const;
  // The number of dropped items.
  int FileCount() const;
  // The full path of the dropped item at Index.
  std::string GetFile(int Index) const;
  // Replaces Files with every dropped path; leaves Files untouched on failure.
  void GetFiles(TStringList& Files) const;
  // Accepts the drop as a copy and lets go of its data; later calls do nothing.
  void Finish();
  // True once the drop has been finished.
  bool Finished() const { return FFinished; }

private:
  void CheckActive() const;

  QDropEvent* FDropEvent = nullptr;
  // The dropped paths as the file system's bytes; "" for an item that is not a local file.
  std::vector<std::string> FPaths;
  bool FAutoFinish;
  bool FFinished = false;
};
