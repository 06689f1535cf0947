#include "gui/HandlerGuard.h"

#include "base/Exceptions.h"
#include "gui/MessageBoxes.h"

void DisplayException(const std::exception& E) {
  if (dynamic_cast<const EAbort*>(&E) != nullptr) return;
  ErrorBox(ErrorDisplayText(E.what()));
}

void RunGuarded(const std::function<void()>& Handler) noexcept {
  try {
    if (Handler) Handler();
  } catch (const std::exception& E) {
    // The display itself opens a box; if even that fails there is nobody left to tell.
    try {
      DisplayException(E);
    } catch (...) {
    }
  } catch (...) {
    try {
      DisplayException(Exception(std::string()));
    } catch (...) {
    }
  }
}
