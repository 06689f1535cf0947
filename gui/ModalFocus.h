#pragma once
// Gives the keyboard back after a modal dialog or box: the window that was
// active before it opened is active again, with the focus on the same control,
// so that every shortcut and accelerator answers at once.

#include <QPointer>
#include <QWidget>

// Notes the active window and its focused control; restores both when destroyed.
class TModalFocusScope {
public:
  // Notes the active window, or the program's visible main window when none is active.
  TModalFocusScope();
  // Activates the noted window again and puts the focus back where it was.
  ~TModalFocusScope();
  TModalFocusScope(const TModalFocusScope&) = delete;
  TModalFocusScope& operator=(const TModalFocusScope&) = delete;

  // Leaves the keyboard where it is when the scope ends: for a dialog that the
  // program closed while the user was working in another program.
  void Release();

private:
  QPointer<QWidget> FWindow;
  QPointer<QWidget> FFocus;
};
