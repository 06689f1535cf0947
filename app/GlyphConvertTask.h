#pragma once
// The batch conversion: converts a list of glyph files into the output directory
// and records every step in a log file.

#include "base/Classes.h"
#include "base/Exceptions.h"
#include "base/FileStream.h"
#include "base/Types.h"
#include "support/Tasks.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// An event that passes its sender and a short status text.
using TMessageEvent = std::function<void(TObject* Sender, const std::string& Text)>;

// Text with each control character (codes 0-31 and 127) written as a visible escape: \t, \n,
// \r, else \x and two lower-case hex digits. Every other byte, a backslash too, stays as it is.
std::string EscapeControlChars(const std::string& Text);

// How one file of the batch ended.
enum class TFileStatus { Converted, Error, Skipped };

// One file's outcome: the source as given, its output path, and for an error or a skip the
// message of the log's line (before its control characters are escaped).
struct TFileOutcome {
  const std::string& Source;
  std::string Target;
  TFileStatus Status;
  std::string Message;
};
using TFileOutcomeEvent = std::function<void(TObject* Sender, const TFileOutcome& Outcome)>;

// The log file cannot be created; the only failure of the task's own that leaves Perform.
VARNEX_DECLARE_EXCEPTION(EGlyphConvertTaskError, Exception);

// Converts the glyph files one after another, in the calling thread.
class TGlyphConvertTask : public TTask {
public:
  // Copies the file list and stores the colours, the output directory and the log path.
  TGlyphConvertTask(std::vector<std::string> FileNames, TColor LightColor, TColor ShadowColor,
                    const std::string& OutputDir, const std::string& LogFileName);
  // Releases the file list; the log file stays as the run left it.
  ~TGlyphConvertTask() override;

  // The number of "[Error] " lines written.
  int ErrorCount() const;
  // The number of "[Warning] " lines written.
  int WarningCount() const;
  // The number of files skipped because their output already existed.
  int SkippedCount() const;
  // With Skip, a file whose output already exists is logged as a skip instead of an error.
  void SetSkipExisting(bool Skip);
  // Writes the log to the open Handle (such as a duplicate of standard output), which the
  // task takes over, instead of the log file.
  void SetLogHandle(int Handle);
  // True when a write to the log failed during the run; the run itself goes on regardless.
  bool LogWriteFailed() const;
  // The files still held by the task; empty after a run.
  const std::vector<std::string>& FileNames() const;

  // While OnMessage runs: true when its text is a file's name, false for a status text.
  bool MessageIsFileName() const;

  // Receives "Started", each file's name, then "Completed" or "Canceled".
  TMessageEvent OnMessage;
  // Receives each file's outcome once its log line is written.
  TFileOutcomeEvent OnFileDone;
  // Checks an existing log file before it is emptied; what it throws leaves Perform, and the
  // file stays as it was.
  TFileStreamCheck LogCheck;

protected:
  void Execute() override;

private:
  VARNEX_DECLARE_EXCEPTION(EErrorStop, Exception);
  VARNEX_DECLARE_EXCEPTION(EUserCancel, Exception);

  void OpenLog();
  void CloseLog();
  void ForceOutputDir();
  void ConvertFiles();
  void ConvertFile(const std::string& FileName);
  void CheckCanceled();
  void RunGuardedSection();
  // Flush false leaves the line buffered until the next line that is flushed, or the close.
  void Log(const std::string& Text, bool Flush = true);
  // Logs Prefix and then Text, with Text's control characters escaped.
  void Log(std::string_view Prefix, const std::string& Text, bool Flush);
  void LogError(const std::string& Text, bool Flush = true);
  void LogWarning(const std::string& Text);
  void FileDone(const std::string& FileName, TFileStatus Status, const std::string& Message);
  void DoMessage(const std::string& Text, bool IsFileName = false);

  std::vector<std::string> FFileNames;
  const TColor FLightColor;
  const TColor FShadowColor;
  const std::string FOutputDir;
  const std::string FLogFileName;
  std::unique_ptr<TFileStream> FLogStream;
  std::string FLogLine;  // the line being written, kept for its memory
  bool FLogWriteFailed = false;
  int FErrorCount = 0;
  int FWarningCount = 0;
  int FSkippedCount = 0;
  bool FSkipExisting = false;
  int FLogHandle = -1;
  bool FMessageIsFileName = false;
};
