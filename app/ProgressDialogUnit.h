#pragma once
// The progress dialog: a message line, a progress bar, a note line and a Cancel
// button, with a start hook fired once per showing and a hook for close requests.

#include "base/Classes.h"

#include <QDialog>

#include <exception>

class QCloseEvent;
class QLabel;
class QProgressBar;
class QPushButton;

// The dialog that stands in front of the main window while a conversion runs.
class TProgressDialog : public QDialog, public TObject {
  Q_OBJECT

public:
  // Builds the fixed-size layout (scaled from 120 ppi) with both events empty;
  // Parent, when given, is the window the dialog is centred over (the main form).
  explicit TProgressDialog(QWidget* Parent = nullptr);
  // The form's own destruction; the controls go with it.
  ~TProgressDialog() override;

  // Shows the dialog and arranges for OnRun once it is visible; modal returns when it has closed.
  // An exception that escaped OnRun during a modal showing is raised again here.
  void Execute(bool Modal);
  // Closes the dialog from the program, without OnCancelQuery; deferred while OnRun runs.
  void CloseDialog();
  // Handler of the Cancel button (also Enter and Escape): the program's close path.
  void CancelButtonClick(TObject* Sender);

  // How the last Execute showed the dialog.
  bool Modal() const;
  // True once the program or the Cancel button has asked the dialog to close in this showing.
  bool CloseByProgram() const;
  // True while OnRun is running.
  bool Running() const;

  // The Cancel button.
  QPushButton* CancelButton = nullptr;
  // The message line: what the running work is doing.
  QLabel* MessageLabel = nullptr;
  // The note line.
  QLabel* NoteLabel = nullptr;
  // The progress bar, 0 to 100.
  QProgressBar* ProgressBar = nullptr;

  // Fired once per showing, as soon as the dialog's event loop runs; Sender = the dialog.
  TNotifyEvent OnRun;
  // Fired when the user asks to close the window while it is open; Sender = the dialog.
  TNotifyEvent OnCancelQuery;

  // Escape: the same as pressing Cancel.
  void reject() override;

protected:
  void closeEvent(QCloseEvent* Event) override;

private:
  void CreateControls();
  void CentreOverParent();
  void WMApp();
  void EndShowing();

  bool FModal = false;
  bool FCloseByProgram = false;
  int FRunDepth = 0;
  bool FClosePending = false;
  // Whether the dialog was the active window when it was closed.
  bool FClosedActive = true;
  std::exception_ptr FRunError;
};

// The one progress dialog, created at start-up by the entry function.
extern TProgressDialog* ProgressDialog;
