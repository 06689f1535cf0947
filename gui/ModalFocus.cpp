#include "gui/ModalFocus.h"

#include <QApplication>

namespace {

// The window the keyboard belongs to: the active one, else the one visible
// top-level window that is not a dialog (the window manager may not have
// activated a window that has just been shown).
QWidget* KeyboardWindow() {
  if (QWidget* active = QApplication::activeWindow()) return active;
  QWidget* found = nullptr;
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (!w->isVisible() || w->windowType() != Qt::Window) continue;
    if (found != nullptr) return nullptr;
    found = w;
  }
  return found;
}

}  // namespace

TModalFocusScope::TModalFocusScope() : FWindow(KeyboardWindow()) {
  if (FWindow) FFocus = FWindow->focusWidget();
}

void TModalFocusScope::Release() {
  FWindow = nullptr;
  FFocus = nullptr;
}

TModalFocusScope::~TModalFocusScope() {
  QWidget* window = FWindow.data();
  if (window == nullptr || !window->isVisible() || window->isMinimized()) return;
  // The window system hands the focus back on its own time, and not at all
  // without a window manager; until then Qt has no active window, its shortcuts
  // are dead and keys go to the focused control as text. So Qt is told at once,
  // and the window system is asked to follow.
  QApplication::setActiveWindow(window);
  window->activateWindow();
  if (FFocus && FFocus->window() == window && FFocus->isVisible() && FFocus->isEnabled())
    FFocus->setFocus(Qt::ActiveWindowFocusReason);
}
