#pragma once
// The program's start-up: the single-instance lock, the two windows and the
// event loop. The executable's main() creates the application objects and calls
// RunProgram.

#include "app/MainFormUnit.h"

#include <string>

// What RunProgram starts: the lock to take and the main window's setup.
struct TStartupSetup {
  // The single-instance lock's name.
  std::string LockName;
  // The main window's files and parameters.
  TMainFormSetup Form;

  // The program's own setup: the lock of the program directory and
  // TMainFormSetup::Program with the command-line Parameters.
  static TStartupSetup Program(const TStringList& Parameters);
};

// Runs the program until the main window closes; a second instance only asks the
// first to come forward. Start-up errors are shown once. Always returns 0.
// Needs the QApplication and the TApplication.
int RunProgram(const TStartupSetup& Setup);
