#include "gui/FileDialogs.h"

#include "base/SysUtils.h"
#include "gui/Application.h"
#include "gui/MessageBoxes.h"
#include "gui/WindowSystem.h"

#include <QAbstractItemView>
#include <QFileDialog>
#include <QString>
#include <QStringList>

namespace {

TStringList Split(const std::string& Text, char Delimiter) {
  TStringList parts;
  std::string::size_type start = 0;
  for (;;) {
    const auto end = Text.find(Delimiter, start);
    parts.push_back(Text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

QStringList ToQt(const TStringList& List) {
  QStringList result;
  for (const std::string& item : List) result << QString::fromStdString(item);
  return result;
}

// The 1-based index the dialog really opens with: the first filter when the
// stored index names none.
int EffectiveFilterIndex(int Index, std::size_t FilterCount) {
  return Index >= 1 && static_cast<std::size_t>(Index) <= FilterCount ? Index : 1;
}

// The real widget. It never confirms an overwrite itself: TSaveDialog asks through
// the seam, so that scripted and real runs behave alike.
TDialogAnswer RunQtFileDialog(const TDialogRequest& Request, TOpenOptions Options) {
  DisableQtSettingsFiles();
  const bool save = Request.Kind == dkSaveFile;
  // Owned by the window it opens from: the window manager keeps it over that window.
  QFileDialog dialog(DialogOwner(), QString::fromStdString(Request.Caption));
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setOption(QFileDialog::DontConfirmOverwrite);
  dialog.setWindowModality(Qt::ApplicationModal);
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  const bool multi = !save && (Options & ofAllowMultiSelect) != 0;
  if (!save && (Options & ofFileMustExist) != 0) {
    dialog.setFileMode(multi ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
  } else {
    dialog.setFileMode(QFileDialog::AnyFile);
    // Qt's multiple-selection mode refuses a typed name that does not exist; without
    // ofFileMustExist such a name is the caller's to report, so the views of the
    // any-file mode are given multiple selection instead.
    if (multi)
      for (const char* name : {"listView", "treeView"})
        if (auto* view = dialog.findChild<QAbstractItemView*>(QString::fromLatin1(name)))
          view->setSelectionMode(QAbstractItemView::ExtendedSelection);
  }
  dialog.setSizeGripEnabled((Options & ofEnableSizing) != 0);

  const QStringList filters = ToQt(QtNameFilters(Request.Filter));
  if (!filters.isEmpty()) {
    dialog.setNameFilters(filters);
    dialog.selectNameFilter(filters.at(Request.FilterIndex - 1));
  }
  dialog.setDirectory(Request.Folder.empty() ? QString::fromStdString(GetCurrentDir())
                                             : QString::fromStdString(Request.Folder));
  if (!Request.FileName.empty()) dialog.selectFile(QString::fromStdString(Request.FileName));

  FitToScreen(&dialog);
  TDialogAnswer answer = TDialogAnswer::Cancel(Request.Kind);
  if (dialog.exec() != QDialog::Accepted) return answer;
  answer.Accept = true;
  for (const QString& file : dialog.selectedFiles()) answer.Files.push_back(file.toStdString());
  const auto selected = filters.indexOf(dialog.selectedNameFilter());
  answer.FilterIndex = selected >= 0 ? static_cast<int>(selected) + 1 : Request.FilterIndex;
  return answer;
}

}  // namespace

TStringList QtNameFilters(const std::string& Filter) {
  TStringList result;
  if (Filter.empty()) return result;
  const TStringList parts = Split(Filter, '|');
  for (std::size_t i = 0; i + 1 < parts.size(); i += 2) {
    std::string patterns;
    for (const std::string& pattern : Split(parts[i + 1], ';')) {
      if (pattern.empty()) continue;
      if (!patterns.empty()) patterns += ' ';
      patterns += pattern;
    }
    const std::string suffix = patterns.empty() ? std::string("(*)") : "(" + patterns + ")";
    const std::string& name = parts[i];
    // Qt reads the patterns from the last parentheses, so a name that already shows
    // them ("Bitmaps (*.bmp)") is complete as it stands.
    const bool complete = name.size() >= suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
    result.push_back(complete ? name : (name.empty() ? suffix : name + " " + suffix));
  }
  return result;
}

std::string AddDefaultExt(const std::string& Path, const std::string& DefaultExt) {
  if (DefaultExt.empty()) return Path;
  const std::string name = ExtractFileName(Path);
  if (name.empty() || name.find('.') != std::string::npos) return Path;
  return Path + "." + DefaultExt;
}

const std::string& TOpenDialog::Title() const { return FTitle; }
void TOpenDialog::SetTitle(const std::string& Value) { FTitle = Value; }
const std::string& TOpenDialog::Filter() const { return FFilter; }
void TOpenDialog::SetFilter(const std::string& Value) { FFilter = Value; }
int TOpenDialog::FilterIndex() const { return FFilterIndex; }
void TOpenDialog::SetFilterIndex(int Value) { FFilterIndex = Value; }
const std::string& TOpenDialog::DefaultExt() const { return FDefaultExt; }
void TOpenDialog::SetDefaultExt(const std::string& Value) { FDefaultExt = Value; }
const std::string& TOpenDialog::FileName() const { return FFileName; }
void TOpenDialog::SetFileName(const std::string& Value) { FFileName = Value; }
const std::string& TOpenDialog::InitialDir() const { return FInitialDir; }
void TOpenDialog::SetInitialDir(const std::string& Value) { FInitialDir = Value; }
TOpenOptions TOpenDialog::Options() const { return FOptions; }
void TOpenDialog::SetOptions(TOpenOptions Value) { FOptions = Value; }
const TStringList& TOpenDialog::Files() const { return FFiles; }
void TOpenDialog::ClearFiles() { FFiles.clear(); }

TDialogAnswer TOpenDialog::RunOnce(TDialogKind Kind, const std::string& FileName, int FilterIndex) {
  TDialogRequest request;
  request.Kind = Kind;
  request.Caption = FTitle;
  request.FileName = FileName;
  request.Filter = FFilter;
  request.FilterIndex = EffectiveFilterIndex(FilterIndex, QtNameFilters(FFilter).size());
  request.Folder = FInitialDir;
  const TOpenOptions options = FOptions;
  TDialogAnswer answer = RunDialog(request, [options](const TDialogRequest& r) { return RunQtFileDialog(r, options); });
  if (answer.Files.empty()) answer.Accept = false;
  if (answer.Accept && answer.FilterIndex == 0) answer.FilterIndex = request.FilterIndex;
  if (answer.Accept && (FOptions & ofAllowMultiSelect) == 0) answer.Files.resize(1);
  return answer;
}

void TOpenDialog::Apply(const TDialogAnswer& Answer) {
  FFiles = Answer.Files;
  FFileName = FFiles.front();
  FFilterIndex = Answer.FilterIndex;
  // As the system's own dialogs do, a confirmed choice makes its folder the
  // current directory, where the next dialog opens; a failure changes nothing.
  const std::string folder = ExtractFileDir(FFileName);
  if (!folder.empty()) SetCurrentDir(folder);
}

bool TOpenDialog::Execute() {
  TDialogAnswer answer = RunOnce(dkOpenFile, FFileName, FFilterIndex);
  if (!answer.Accept) return false;
  for (std::string& file : answer.Files) file = AddDefaultExt(file, FDefaultExt);
  Apply(answer);
  return true;
}

bool TSaveDialog::Execute() {
  std::string proposed = FileName();
  int filterIndex = FilterIndex();
  for (;;) {
    TDialogAnswer answer = RunOnce(dkSaveFile, proposed, filterIndex);
    if (!answer.Accept) return false;
    const std::string path = AddDefaultExt(answer.Files.front(), DefaultExt());
    if ((Options() & ofOverwritePrompt) != 0 && FileExists(path) &&
        !QuestionBox(ExtractFileName(path) + " already exists.\nDo you want to replace it?")) {
      // As with the system dialog, No goes back to the dialog with the choice still in place.
      proposed = path;
      filterIndex = answer.FilterIndex;
      continue;
    }
    answer.Files.assign(1, path);
    Apply(answer);
    return true;
  }
}
