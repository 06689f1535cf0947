#include "app/InputMan.h"

#include "base/SysUtils.h"
#include "gui/ColorDialog.h"
#include "gui/FolderBrowser.h"

#include <QWidget>

namespace {

// Fixed when the module is initialised, before any window exists.
const std::string StartupOutputDir = IncludeTrailingPathDelimiter(GetCurrentDir()) + "Varnex Output";

// Whether Control can take the keyboard focus now: shown, enabled and focusable.
bool CanFocus(const QWidget* Control) {
  return Control->isVisible() && Control->isEnabled() && Control->focusPolicy() != Qt::NoFocus;
}

}  // namespace

EInvalidFormInput::EInvalidFormInput(std::string Message, QWidget* Control) : Exception(std::move(Message)) {
  if (Control != nullptr && CanFocus(Control)) Control->setFocus(Qt::OtherFocusReason);
}

const std::string& DefaultOutputDir() { return StartupOutputDir; }

TInputMan::TInputMan() : FColorDialog(std::make_unique<TColorDialog>()) {}

TInputMan::~TInputMan() = default;

TColorDialog* TInputMan::ColorDialog() const { return FColorDialog.get(); }

TColor TInputMan::PickColor(TColor Initial) {
  FColorDialog->SetColor(Initial);
  if (!FColorDialog->Execute()) throw EAbort();
  return FColorDialog->Color();
}

std::string TInputMan::PickDirectory(const std::string& Caption, const std::string& InitialDir) {
  std::string folder;
  if (!BrowseForFolder(Caption, InitialDir, folder)) throw EAbort();
  // The outcome is ignored on purpose: the chosen path is taken either way.
  (void)SetCurrentDir(folder);
  return folder;
}
