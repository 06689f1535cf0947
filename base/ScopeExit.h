#pragma once
// Runs an action when a scope ends, whichever way it is left.

#include <utility>

// Calls Action from its destructor: on a normal exit, a return and an exception alike.
// Action must not throw.
template <class F>
class TScopeExit {
public:
  explicit TScopeExit(F Action) : FAction(std::move(Action)) {}
  ~TScopeExit() { FAction(); }
  TScopeExit(const TScopeExit&) = delete;
  TScopeExit& operator=(const TScopeExit&) = delete;

private:
  F FAction;
};
