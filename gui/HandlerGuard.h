#pragma once
// The guard around every action, event and window-message handler: no exception
// may unwind through a Qt frame, so each is shown by the standard error display.
// The display itself lives here too: it is the one way an exception reaches the user.

#include <exception>
#include <functional>
#include <utility>

// The standard error display: shows E in an error box; EAbort shows nothing.
void DisplayException(const std::exception& E);

// Runs Handler; an exception it raises is shown by the error display (EAbort silently dropped).
void RunGuarded(const std::function<void()>& Handler) noexcept;

// Wraps Handler into a callable taking Args that runs it guarded, for connect() and events.
template <class... Args, class F>
auto Guarded(F Handler) {
  return [Handler = std::move(Handler)](Args... args) noexcept {
    RunGuarded([&] { Handler(args...); });
  };
}
