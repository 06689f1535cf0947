// The main window's command handlers and the window events it answers itself:
// closing, dropped files and leaving the output-directory field.

#include "app/GlyphsMan.h"
#include "app/InputMan.h"
#include "app/MainFormUnit.h"
#include "app/SettingsMan.h"
#include "gui/HandlerGuard.h"
#include "support/Shell.h"

#include <QAction>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QPushButton>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QMimeData>

void TMainForm::GlyphsConvertFilesAcExecute() {
  FGlyphsMan->ChooseFiles(*FFileList);
  GlyphsConvertAc->trigger();
}

void TMainForm::GlyphsConvertAcExecute() {
  try {
    const TColor shadow = GetShadowColor();
    const std::string outputDir = GetOutputDir();
    const TColor light = GetLightColor();
    FGlyphsMan->Convert(*FFileList, light, shadow, outputDir);
  } catch (...) {
    FFileList->clear();
    throw;
  }
  FFileList->clear();
  UpdateLogActions();
}

void TMainForm::GlyphsSaveLogAsAcExecute() {
  FGlyphsMan->SaveLog();
  UpdateLogActions();
}

void TMainForm::GlyphsDeleteLogAcExecute() {
  FGlyphsMan->DeleteLog(true);
  UpdateLogActions();
}

void TMainForm::GlyphsExitAcExecute() { close(); }

void TMainForm::HelpContentsAcExecute() { FHelpMan->ShowHelp(true); }

void TMainForm::HelpAboutAcExecute() { FHelpMan->ShowAbout(); }

void TMainForm::InputLightColorAcExecute() {
  SetLightColor(FInputMan->PickColor(GetLightColor()));
  UpdateLogActions();
}

void TMainForm::InputShadowColorAcExecute() {
  SetShadowColor(FInputMan->PickColor(GetShadowColor()));
  UpdateLogActions();
}

void TMainForm::InputOutputDirAcExecute() {
  const std::string current = GetOutputDir();
  SetOutputDir(FInputMan->PickDirectory("Choose the output directory.", current));
  UpdateLogActions();
}

void TMainForm::Edit1Exit() { CheckOutputDir(); }

void TMainForm::RunPendingEdit1Exit() {
  if (!FEdit1ExitPending) return;
  FEdit1ExitPending = false;
  Edit1Exit();
}

void TMainForm::FormCloseQuery() {
  CheckOutputDir();
  FSettingsMan->Save();
}

void TMainForm::closeEvent(QCloseEvent* Event) {
  bool canClose = false;
  RunGuarded([&] {
    FormCloseQuery();
    canClose = true;
  });
  if (!canClose) {
    Event->ignore();
    return;
  }
  Event->accept();
  if (OnClosed) RunGuarded([this] { OnClosed(this); });
}

void TMainForm::dragEnterEvent(QDragEnterEvent* Event) {
  // Only local files can be converted; anything else is refused before the drop.
  const QMimeData* data = Event->mimeData();
  if (data == nullptr || !data->hasUrls() || !(Event->possibleActions() & Qt::CopyAction)) return;
  const QList<QUrl> urls = data->urls();
  if (urls.isEmpty()) return;
  for (const QUrl& url : urls)
    if (!url.isLocalFile()) return;
  Event->setDropAction(Qt::CopyAction);
  Event->accept();
}

void TMainForm::dropEvent(QDropEvent* Event) {
  RunGuarded([&] { WMDropFiles(Event); });
}

void TMainForm::WMDropFiles(QDropEvent* Event) {
  TFileDrop drop(Event, true);
  raise();
  activateWindow();
  drop.GetFiles(*FFileList);
  drop.Finish();
  // The drag source is let go only when this event returns, so the conversion,
  // which shows a modal dialog, runs right after it.
  QMetaObject::invokeMethod(this, [this] { GlyphsConvertAc->trigger(); }, Qt::QueuedConnection);
}

bool TMainForm::eventFilter(QObject* Watched, QEvent* Event) {
  if ((Watched == Button1 || Watched == Button2 || Watched == Button3) && Event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(Event)->key();
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && static_cast<QKeyEvent*>(Event)->modifiers() == Qt::NoModifier) {
      static_cast<QPushButton*>(Watched)->click();
      return true;
    }
  }
  if ((Watched == Label1 || Watched == Label4) && Event->type() == QEvent::Shortcut) {
    // The accelerator of a colour caption moves the focus to its button, as
    // Alt+O does for the field; Qt would click the button.
    static_cast<QLabel*>(Watched)->buddy()->setFocus(Qt::ShortcutFocusReason);
    return true;
  }
  if (Watched == Edit1 && Event->type() == QEvent::FocusOut) {
    // Leaving the field for another control counts; the window merely losing
    // activation (to a dialog, a menu or another program) does not. The check
    // runs once the focus has settled, so it can move the focus back, and at
    // the latest before the command of the button that took the focus.
    const Qt::FocusReason reason = static_cast<QFocusEvent*>(Event)->reason();
    if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason && reason != Qt::MenuBarFocusReason) {
      FEdit1ExitPending = true;
      QMetaObject::invokeMethod(this, [this] { RunGuarded([this] { RunPendingEdit1Exit(); }); }, Qt::QueuedConnection);
    }
  }
  return QMainWindow::eventFilter(Watched, Event);
}
