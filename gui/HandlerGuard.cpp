#include "gui/HandlerGuard.h"

#include "base/Exceptions.h"
#include "gui/Application.h"
#include "gui/MessageBoxes.h"

#include <exception>

namespace {

void Display(const std::exception& E) {
  if (dynamic_cast<const EAbort*>(&E) != nullptr) return;
  if (Application != nullptr)
    Application->ShowException(E);
  else
    ErrorBox(ErrorDisplayText(E.what()));
}

}  // namespace

void RunGuarded(const std::function<void()>& Handler) noexcept {
  try {
    if (Handler) Handler();
  } catch (const std::exception& E) {
    // The display itself opens a box; if even that fails there is nobody left to tell.
    try {
      Display(E);
    } catch (...) {
    }
  } catch (...) {
    try {
      Display(Exception(std::string()));
    } catch (...) {
    }
  }
}
