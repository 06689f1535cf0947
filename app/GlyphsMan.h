#pragma once
// The Glyphs manager: choosing the files, converting them inside the progress
// dialog, the summary, and saving and deleting the working log.

#include "base/Classes.h"
#include "base/Exceptions.h"
#include "base/Types.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>

class TGlyphConvertTask;
class TOpenDialog;
class TSaveDialog;

// Title of the files dialog and caption of the progress dialog during a conversion.
inline const std::string ConvertTitle = "Convert";
// Title of the log dialog.
inline const std::string SaveLogTitle = "Save Log As";
// The file name that the log dialog proposes.
inline const std::string DefaultLogName = "Varnex Log.txt";
// The working log, fixed at start-up: "Log.txt" in the program directory, or in
// the user's state folder when the program's is protected (UserFiles.h).
extern const std::string LogFileName;

// The longest stretch of work between two passes of the message loop during a
// conversion; a pass repaints the progress dialog and lets the user act.
inline constexpr std::chrono::milliseconds RefreshInterval{40};

// Decides at which of a run's idle points the message loop runs: always at the
// first and the last, and in between once Interval has passed since it last ran.
class TRefreshThrottle {
public:
  using TClock = std::function<std::chrono::steady_clock::time_point()>;

  // Clock defaults to the steady clock.
  explicit TRefreshThrottle(std::chrono::milliseconds Interval = RefreshInterval, TClock Clock = {});
  // Starts a new run: its first idle point is due.
  void Restart();
  // True when the loop should run at this idle point; Last marks the run's last one.
  bool Due(bool Last) const;
  // The loop has run: the interval starts anew from now.
  void Ran();

private:
  std::chrono::milliseconds FInterval;
  TClock FClock;
  std::chrono::steady_clock::time_point FLastRun;
  bool FFirst = true;
};

// The manager's exception.
VARNEX_DECLARE_EXCEPTION(EGlyphsManError, Exception);

// The object behind the main window's glyph commands.
class TGlyphsMan : public TObject {
public:
  // Creates and configures the two dialogs; the working log is LogPath. With
  // CreateLogFolder, a conversion first creates the log's missing folders with user-only access.
  explicit TGlyphsMan(const std::string& LogPath = ::LogFileName, bool CreateLogFolder = false);
  // Destroys the dialogs.
  ~TGlyphsMan() override;
  TGlyphsMan(const TGlyphsMan&) = delete;
  TGlyphsMan& operator=(const TGlyphsMan&) = delete;

  // Fills List with the files chosen in the files dialog; EAbort when cancelled.
  void ChooseFiles(TStringList& List);
  // Converts FileNames into OutputDir inside the progress dialog, then shows the summary.
  void Convert(const TStringList& FileNames, TColor LightColor, TColor ShadowColor, const std::string& OutputDir);
  // Copies the working log to a path chosen in the log dialog; EAbort when cancelled.
  void SaveLog();
  // Deletes the working log, asking first when Ask; EAbort unless the answer is Yes.
  void DeleteLog(bool Ask);
  // True when the working log exists.
  bool LogExists() const;

  // The dialog that chooses the bitmaps to convert.
  TOpenDialog* FilesOpenDialog() const;
  // The dialog that chooses where to save the log.
  TSaveDialog* LogSaveDialog() const;
  // The path of the working log.
  const std::string& LogFileName() const;
  // The task of the conversion in progress; null outside Convert.
  TGlyphConvertTask* Task() const;
  // When the message loop runs during a conversion; replaceable between conversions.
  TRefreshThrottle& Refresh();

private:
  void CreateDialogs();
  void DestroyDialogs();
  void ShowSummary(TGlyphConvertTask* Task);
  void TaskIdle(TObject* Sender);
  void TaskProgress(TObject* Sender);
  void TaskMessage(TObject* Sender, const std::string& Text);
  void DialogRun(TObject* Sender);
  void DialogCancelQuery(TObject* Sender);

  const std::string FLogFileName;
  const bool FCreateLogFolder;
  TGlyphConvertTask* FTask = nullptr;
  bool FCancelPending = false;
  TRefreshThrottle FRefresh;
  std::unique_ptr<TOpenDialog> FFilesOpenDialog;
  std::unique_ptr<TSaveDialog> FLogSaveDialog;
};
