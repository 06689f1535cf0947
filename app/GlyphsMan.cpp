#include "app/GlyphsMan.h"

#include "app/GlyphConvertTask.h"
#include "app/ProgressDialogUnit.h"
#include "app/UserFiles.h"
#include "base/ScopeExit.h"
#include "base/SysUtils.h"
#include "gui/Application.h"
#include "gui/FileDialogs.h"
#include "gui/HandlerGuard.h"
#include "gui/MessageBoxes.h"

#include <QCoreApplication>
#include <QLabel>
#include <QProgressBar>
#include <QString>

#include <cstdio>

const std::string LogFileName = TUserFiles::Program().LogFileName;

namespace {

TProgressDialog& TheProgressDialog() {
  if (ProgressDialog == nullptr) throw EGlyphsManError("The program cannot show the progress dialog.");
  return *ProgressDialog;
}

}  // namespace

TRefreshThrottle::TRefreshThrottle(std::chrono::milliseconds Interval, TClock Clock)
    : FInterval(Interval), FClock(Clock ? std::move(Clock) : TClock(&std::chrono::steady_clock::now)) {}

void TRefreshThrottle::Restart() { FFirst = true; }

bool TRefreshThrottle::Due(bool Last) const { return FFirst || Last || FClock() - FLastRun >= FInterval; }

void TRefreshThrottle::Ran() {
  FFirst = false;
  FLastRun = FClock();
}

TGlyphsMan::TGlyphsMan(const std::string& LogPath, bool CreateLogFolder)
    : FLogFileName(LogPath), FCreateLogFolder(CreateLogFolder) {
  try {
    CreateDialogs();
  } catch (...) {
    DestroyDialogs();
    throw;
  }
}

TGlyphsMan::~TGlyphsMan() { DestroyDialogs(); }

void TGlyphsMan::CreateDialogs() {
  FFilesOpenDialog = std::make_unique<TOpenDialog>();
  FFilesOpenDialog->SetTitle(ConvertTitle);
  FFilesOpenDialog->SetFilter("Bitmaps (*.bmp)|*.bmp|All files|*");
  FFilesOpenDialog->SetFilterIndex(1);
  FFilesOpenDialog->SetOptions(ofHideReadOnly | ofEnableSizing | ofAllowMultiSelect);

  FLogSaveDialog = std::make_unique<TSaveDialog>();
  FLogSaveDialog->SetTitle(SaveLogTitle);
  FLogSaveDialog->SetDefaultExt("txt");
  FLogSaveDialog->SetFilter("Text (*.txt)|*.txt|All files|*");
  FLogSaveDialog->SetFilterIndex(1);
  FLogSaveDialog->SetOptions(ofHideReadOnly | ofEnableSizing | ofOverwritePrompt);
}

void TGlyphsMan::DestroyDialogs() {
  FLogSaveDialog.reset();
  FFilesOpenDialog.reset();
}

TOpenDialog* TGlyphsMan::FilesOpenDialog() const { return FFilesOpenDialog.get(); }

TSaveDialog* TGlyphsMan::LogSaveDialog() const { return FLogSaveDialog.get(); }

const std::string& TGlyphsMan::LogFileName() const { return FLogFileName; }

TGlyphConvertTask* TGlyphsMan::Task() const { return FTask; }

TRefreshThrottle& TGlyphsMan::Refresh() { return FRefresh; }

void TGlyphsMan::ChooseFiles(TStringList& List) {
  TOpenDialog& dialog = *FFilesOpenDialog;
  TScopeExit clear([&dialog] {
    dialog.SetFileName(std::string());
    dialog.ClearFiles();
  });
  dialog.SetFileName(std::string());
  if (!dialog.Execute()) throw EAbort();
  List = dialog.Files();
}

void TGlyphsMan::Convert(const TStringList& FileNames, TColor LightColor, TColor ShadowColor,
                         const std::string& OutputDir) {
  try {
    TProgressDialog& dialog = TheProgressDialog();
    // When this fails, the task cannot create the log and says so.
    if (FCreateLogFolder) ForceDirectories(ExtractFileDir(FLogFileName), UserFilesFolderMode);
    auto task = std::make_unique<TGlyphConvertTask>(FileNames, LightColor, ShadowColor, OutputDir, FLogFileName);
    FTask = task.get();
    // Declared after the task, so it runs first: no handler can reach a destroyed
    // task through the field or through the dialog's events.
    TScopeExit release([this, &dialog] {
      FTask = nullptr;
      dialog.OnRun = nullptr;
      dialog.OnCancelQuery = nullptr;
    });
    task->OnIdle = [this](TObject* Sender) { TaskIdle(Sender); };
    task->OnProgress = [this](TObject* Sender) { TaskProgress(Sender); };
    task->OnMessage = [this](TObject* Sender, const std::string& Text) { TaskMessage(Sender, Text); };
    FCancelPending = false;
    FRefresh.Restart();

    dialog.setWindowTitle(QString::fromStdString(ConvertTitle));
    dialog.MessageLabel->clear();
    dialog.NoteLabel->clear();
    dialog.ProgressBar->setValue(0);
    dialog.OnRun = [this](TObject* Sender) { DialogRun(Sender); };
    dialog.OnCancelQuery = [this](TObject* Sender) { DialogCancelQuery(Sender); };
    dialog.Execute(true);

    ShowSummary(task.get());
  } catch (const EGlyphConvertTaskError& E) {
    throw EGlyphsManError(E.Message());
  }
}

void TGlyphsMan::DialogRun(TObject* /*Sender*/) {
  TProgressDialog& dialog = TheProgressDialog();
  // The dialog repaints only in TaskIdle's passes: the bar would otherwise
  // repaint itself at once for each file.
  dialog.setUpdatesEnabled(false);
  TScopeExit repaint([&dialog] { dialog.setUpdatesEnabled(true); });
  FTask->Perform();
  dialog.CloseDialog();
}

void TGlyphsMan::TaskIdle(TObject* /*Sender*/) {
  // A Yes given in an earlier pass reaches the task at every idle point; only the
  // pass itself, with its repaint, waits for the throttle. The question therefore
  // still comes up in a pass, and its Yes is handed over at the next idle point.
  if (FCancelPending) FTask->Cancel();
  if (!FRefresh.Due(FTask->Position() == 100)) return;
  // The repaint comes first and at once: an update requested now would only be
  // painted by a later pass, and the last file would never be shown.
  TProgressDialog& dialog = TheProgressDialog();
  dialog.setUpdatesEnabled(true);
  dialog.repaint();
  if (Application != nullptr)
    Application->ProcessMessages();
  else
    QCoreApplication::processEvents();
  dialog.setUpdatesEnabled(false);
  FRefresh.Ran();
}

void TGlyphsMan::TaskProgress(TObject* /*Sender*/) { TheProgressDialog().ProgressBar->setValue(FTask->Position()); }

void TGlyphsMan::TaskMessage(TObject* /*Sender*/, const std::string& Text) {
  TheProgressDialog().MessageLabel->setText(QString::fromStdString(Text));
}

void TGlyphsMan::DialogCancelQuery(TObject* /*Sender*/) {
  if (FCancelPending) return;
  if (QuestionBox("Cancel the task?")) FCancelPending = true;
}

void TGlyphsMan::ShowSummary(TGlyphConvertTask* Task) {
  const int errors = Task->ErrorCount();
  const int warnings = Task->WarningCount();
  if (errors == 0 && warnings == 0) return;
  char text[128];
  std::snprintf(text, sizeof text, "There are %d errors and %d warnings.\r\n\r\nSave the log right now?", errors,
                warnings);
  try {
    if (QuestionBox(text)) SaveLog();
  } catch (const EGlyphsManError& E) {
    DisplayException(E);
  } catch (const EAbort&) {
  }
}

void TGlyphsMan::SaveLog() {
  TSaveDialog& dialog = *FLogSaveDialog;
  TScopeExit clear([&dialog] { dialog.SetFileName(std::string()); });
  dialog.SetFileName(DefaultLogName);
  if (!dialog.Execute()) throw EAbort();
  if (!CopyFile(FLogFileName, dialog.FileName(), false)) throw EGlyphsManError("The program cannot save the log.");
}

void TGlyphsMan::DeleteLog(bool Ask) {
  if (Ask && !QuestionBox("Delete the log?")) throw EAbort();
  if (!DeleteFile(FLogFileName)) throw EGlyphsManError("The program cannot delete the log.");
}

bool TGlyphsMan::LogExists() const { return FileExists(FLogFileName); }
