#include "app/ProgressDialogUnit.h"

#include "gui/HandlerGuard.h"
#include "gui/ModalFocus.h"
#include "gui/Scaling.h"

#include <QCloseEvent>
#include <QLabel>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>

TProgressDialog* ProgressDialog = nullptr;

namespace {

// A dialog frame with a title and a close box only: fixed size, no help or
// maximise buttons.
constexpr Qt::WindowFlags DialogFrame =
    Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint;

QLabel* CreateLine(QWidget* Parent, int Top) {
  auto* label = new QLabel(Parent);
  SetScaledBounds(label, 10, Top, 361, 26);
  label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  // Plain text: an ampersand in a file name shows as typed.
  label->setTextFormat(Qt::PlainText);
  return label;
}

// The widths of Window's frame, or none while the window system has not told them.
QMargins FrameMargins(const QWidget* Window) {
  const QRect outer = Window->frameGeometry();
  const QRect inner = Window->geometry();
  return {inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
          outer.bottom() - inner.bottom()};
}

}  // namespace

TProgressDialog::TProgressDialog(QWidget* Parent) : QDialog(Parent, DialogFrame) {
  setWindowTitle(QStringLiteral("Progress"));
  setFont(DefaultFormFont(this));
  SetScaledClientSize(this, 381, 146);
  CreateControls();
}

TProgressDialog::~TProgressDialog() = default;

void TProgressDialog::CreateControls() {
  MessageLabel = CreateLine(this, 10);

  ProgressBar = new QProgressBar(this);
  SetScaledBounds(ProgressBar, 10, 40, 361, 26);
  ProgressBar->setRange(0, 100);
  ProgressBar->setValue(0);
  ProgressBar->setTextVisible(false);

  NoteLabel = CreateLine(this, 70);

  CancelButton = new QPushButton(QStringLiteral("Cancel"), this);
  SetScaledBounds(CancelButton, 250, 110, 121, 26);
  CancelButton->setDefault(true);
  CancelButton->setAutoDefault(true);
  connect(CancelButton, &QPushButton::clicked, this, Guarded([this] {
            setResult(QDialog::Rejected);
            CancelButtonClick(this);
          }));
  setTabOrder(CancelButton, ProgressBar);
}

void TProgressDialog::CentreOverParent() {
  // Qt centres a dialog over its parent only while the program has never placed
  // it, and otherwise leaves the placement to the window manager, which may put
  // it elsewhere; so every showing is placed here, frame included.
  const QWidget* owner = parentWidget();
  if (owner == nullptr || !owner->isVisible()) return;
  // Before the first showing the dialog's frame is not known: it is taken to be the owner's.
  QMargins frame = FrameMargins(this);
  if (frame.isNull()) frame = FrameMargins(owner);
  const QSize outer = size().grownBy(frame);
  const QPoint outerTopLeft = owner->frameGeometry().center() - QPoint(outer.width() / 2, outer.height() / 2);
  setGeometry(QRect(outerTopLeft + QPoint(frame.left(), frame.top()), size()));
}

void TProgressDialog::Execute(bool Modal) {
  // Posted before the dialog is shown, so the loop that runs once it is visible
  // (the modal one, or the application's) delivers it.
  QMetaObject::invokeMethod(this, [this] { WMApp(); }, Qt::QueuedConnection);
  FModal = Modal;
  FCloseByProgram = false;
  FClosePending = false;
  FRunError = nullptr;
  CentreOverParent();
  if (!Modal) {
    show();
    return;
  }
  {
    TModalFocusScope keyboard;
    exec();
    // The keyboard goes back to the main window only from the dialog itself: a
    // user who went to another program during the run stays there.
    if (!FClosedActive) keyboard.Release();
  }
  if (FRunError) {
    const std::exception_ptr error = FRunError;
    FRunError = nullptr;
    std::rethrow_exception(error);
  }
}

void TProgressDialog::CloseDialog() {
  FCloseByProgram = true;
  close();
}

void TProgressDialog::CancelButtonClick(TObject* /*Sender*/) { CloseDialog(); }

bool TProgressDialog::Modal() const { return FModal; }

bool TProgressDialog::CloseByProgram() const { return FCloseByProgram; }

bool TProgressDialog::Running() const { return FRunDepth > 0; }

void TProgressDialog::reject() { CancelButtonClick(this); }

void TProgressDialog::closeEvent(QCloseEvent* Event) {
  // Never let Qt hide the window as part of the close event: a close while OnRun
  // runs must wait until it has returned.
  Event->ignore();
  if (FCloseByProgram) {
    FClosePending = true;
    if (FRunDepth == 0) EndShowing();
    return;
  }
  RunGuarded([this] {
    if (OnCancelQuery) OnCancelQuery(this);
  });
}

void TProgressDialog::WMApp() {
  std::exception_ptr error;
  ++FRunDepth;
  try {
    if (OnRun) OnRun(this);
  } catch (...) {
    error = std::current_exception();
  }
  --FRunDepth;
  if (error) {
    // The work failed before it could close the dialog. A modal showing carries
    // the error out of Execute; a modeless one has no caller left to tell.
    FCloseByProgram = true;
    FClosePending = true;
    if (FModal)
      FRunError = error;
    else
      RunGuarded([&] { std::rethrow_exception(error); });
  }
  if (FRunDepth == 0 && FClosePending) EndShowing();
}

void TProgressDialog::EndShowing() {
  FClosePending = false;
  FClosedActive = isActiveWindow();
  done(QDialog::Rejected);
}
