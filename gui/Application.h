#pragma once
// The application object: title, one-shot idle hook, processing of waiting
// events and the bridge that runs worker threads' synchronized calls.

#include "base/Classes.h"

#include <QObject>

#include <exception>
#include <string>

// The program-wide application object; create it after the QApplication.
class TApplication : public QObject, public TObject {
public:
  // Registers itself as Application and hooks the synchronize queue to the Qt event loop.
  TApplication();
  // Unhooks the synchronize queue and clears Application.
  ~TApplication() override;
  TApplication(const TApplication&) = delete;
  TApplication& operator=(const TApplication&) = delete;

  // The caption of the program's message boxes.
  const std::string& Title() const;
  // Sets the caption of the program's message boxes.
  void SetTitle(const std::string& Value);

  // Hooks Handler to run once, the next time the event loop runs out of events; empty unhooks.
  void SetOnIdle(TNotifyEvent Handler);
  // True while an idle handler is hooked and has not run yet.
  bool IdleHooked() const;

  // Processes every event that is waiting, then returns.
  void ProcessMessages();
  // The standard error display (DisplayException): an error box; EAbort shows nothing.
  void ShowException(const std::exception& E);

private:
  void WatchIdle();
  void RunIdle();

  std::string FTitle;
  TNotifyEvent FOnIdle;
  bool FIdlePosted = false;
};

// The one application object, or null before it is created.
extern TApplication* Application;

// Points Qt's own per-user settings (dialog history, custom colours) at a place where
// nothing can be read or written; TApplication and every dialog call it.
void DisableQtSettingsFiles();
