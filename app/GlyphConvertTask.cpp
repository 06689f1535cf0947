#include "app/GlyphConvertTask.h"

#include "app/GlyphConvertCommand.h"
#include "base/FileIO.h"
#include "base/FileStream.h"
#include "base/ScopeExit.h"
#include "base/SysUtils.h"

#include <algorithm>
#include <unistd.h>
#include <exception>
#include <utility>

namespace {

constexpr std::string_view LogErrorPrefix = "[Error] ";
constexpr std::string_view LogWarningPrefix = "[Warning] ";
constexpr std::string_view LogLineEnd = "\r\n";

// Appends Text to Out with each control character written as an escape.
void AppendEscaped(std::string& Out, const std::string& Text) {
  static constexpr char Hex[] = "0123456789abcdef";
  const auto isControl = [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; };
  if (std::none_of(Text.begin(), Text.end(), isControl)) {
    Out += Text;
    return;
  }
  for (const char c : Text) {
    const auto code = static_cast<unsigned char>(c);
    if (!isControl(c)) {
      Out += c;
    } else if (c == '\t') {
      Out += "\\t";
    } else if (c == '\n') {
      Out += "\\n";
    } else if (c == '\r') {
      Out += "\\r";
    } else {
      Out += {'\\', 'x', Hex[code >> 4], Hex[code & 0x0F]};
    }
  }
}

}  // namespace

std::string EscapeControlChars(const std::string& Text) {
  std::string escaped;
  escaped.reserve(Text.size());
  AppendEscaped(escaped, Text);
  return escaped;
}

TGlyphConvertTask::TGlyphConvertTask(std::vector<std::string> FileNames, TColor LightColor,
                                     TColor ShadowColor, const std::string& OutputDir,
                                     const std::string& LogFileName)
    : TTask(tmCallingThread),
      FFileNames(std::move(FileNames)),
      FLightColor(LightColor),
      FShadowColor(ShadowColor),
      FOutputDir(OutputDir),
      FLogFileName(LogFileName) {}

TGlyphConvertTask::~TGlyphConvertTask() {
  if (FLogHandle >= 0) ::close(FLogHandle);
}

int TGlyphConvertTask::ErrorCount() const { return FErrorCount; }

int TGlyphConvertTask::WarningCount() const { return FWarningCount; }

int TGlyphConvertTask::SkippedCount() const { return FSkippedCount; }

void TGlyphConvertTask::SetSkipExisting(bool Skip) { FSkipExisting = Skip; }

void TGlyphConvertTask::SetLogHandle(int Handle) {
  if (FLogHandle >= 0) ::close(FLogHandle);
  FLogHandle = Handle;
}

bool TGlyphConvertTask::LogWriteFailed() const { return FLogWriteFailed; }

const std::vector<std::string>& TGlyphConvertTask::FileNames() const { return FFileNames; }

bool TGlyphConvertTask::MessageIsFileName() const { return FMessageIsFileName; }

void TGlyphConvertTask::Execute() {
  // Closes the log and empties the list on every way out, also when an
  // exception (the log error, or one from a message handler) leaves Execute.
  TScopeExit finalBlock([this] {
    CloseLog();
    FFileNames.clear();
  });

  OpenLog();
  Log("Start time: " + FormatLogTimeStamp());
  DoMessage("Started");
  RunGuardedSection();
  const bool completed = Position() == 100;
  Log(completed ? "Task completed" : "Task canceled");
  Log("Errors: " + std::to_string(FErrorCount));
  Log("Warnings: " + std::to_string(FWarningCount));
  Log("End time: " + FormatLogTimeStamp());
  DoMessage(completed ? "Completed" : "Canceled");
}

void TGlyphConvertTask::RunGuardedSection() {
  try {
    ForceOutputDir();
    // Whatever route a killed run published on, its temporaries go before this run adds its own.
    RemoveStaleTemporaries(FOutputDir);
    ConvertFiles();
  } catch (const EUserCancel& error) {
    LogWarning(error.Message());
  } catch (const EErrorStop& error) {
    LogError(error.Message());
  } catch (const Exception& error) {
    LogError("An unexpected error occured: " + error.Message());
  } catch (const std::exception& error) {
    // Such as std::bad_alloc from a large image: its text is all there is to tell.
    LogError(std::string("An unexpected error occured: ") + error.what());
  } catch (...) {
    LogError("An unexpected error occured");
  }
}

void TGlyphConvertTask::OpenLog() {
  try {
    if (FLogHandle >= 0) {
      FLogStream = std::make_unique<TFileStream>(FLogHandle, FLogFileName);
      FLogHandle = -1;
    } else {
      FLogStream = std::make_unique<TFileStream>(FLogFileName, fmCreate, LogCheck);
    }
  } catch (const EStreamError&) {
    throw EGlyphConvertTaskError("The program cannot create a log file.");
  }
}

void TGlyphConvertTask::CloseLog() {
  if (!FLogStream) return;
  try {
    FLogStream->Flush();
  } catch (const EStreamError&) {
    // The log ignores failed writes, the last ones included; the flag keeps them.
  }
  FLogWriteFailed = FLogStream->WriteFailed();
  FLogStream.reset();
}

void TGlyphConvertTask::ForceOutputDir() {
  if (DirectoryExists(FOutputDir)) return;
  Log("Creates output directory: " + FOutputDir);
  if (!ForceDirectories(FOutputDir)) throw EErrorStop("Cannot create output directory: " + FOutputDir);
  Log("Created output directory: " + FOutputDir);
}

void TGlyphConvertTask::ConvertFiles() {
  // The count is read anew on each pass, as the loop condition says.
  for (std::size_t i = 0; i < FFileNames.size(); ++i) {
    CheckCanceled();
    ConvertFile(FFileNames[i]);
    SetPosition(Percent(static_cast<int>(i + 1), static_cast<int>(FFileNames.size())));
    Idle();
  }
  SetPosition(100);
}

void TGlyphConvertTask::ConvertFile(const std::string& FileName) {
  Log("Converts: ", FileName, true);
  DoMessage(ExtractFileName(FileName), true);
  try {
    TGlyphConvertCommand command(FileName, FLightColor, FShadowColor, FOutputDir);
    command.Execute();
    Log("Converted: ", FileName, false);
    FileDone(FileName, TFileStatus::Converted, std::string());
  } catch (const EGlyphOutputExists& error) {
    if (!FSkipExisting) {
      LogError(error.Message(), false);
      FileDone(FileName, TFileStatus::Error, error.Message());
      return;
    }
    ++FSkippedCount;
    const std::string message =
        "Skipped, output file already exists: " + IncludeTrailingPathDelimiter(FOutputDir) + ExtractFileName(FileName);
    Log(message, false);
    FileDone(FileName, TFileStatus::Skipped, message);
  } catch (const EGlyphConvertError& error) {
    LogError(error.Message(), false);
    FileDone(FileName, TFileStatus::Error, error.Message());
  }
}

void TGlyphConvertTask::FileDone(const std::string& FileName, TFileStatus Status, const std::string& Message) {
  if (!OnFileDone) return;
  OnFileDone(this, TFileOutcome{FileName, IncludeTrailingPathDelimiter(FOutputDir) + ExtractFileName(FileName),
                                Status, Message});
}

void TGlyphConvertTask::CheckCanceled() {
  if (CancelRequested()) throw EUserCancel("Task canceled by user.");
}

void TGlyphConvertTask::Log(const std::string& Text, bool Flush) { Log({}, Text, Flush); }

void TGlyphConvertTask::Log(std::string_view Prefix, const std::string& Text, bool Flush) {
  if (!FLogStream) return;
  // Control characters of a file name would let it forge lines of its own.
  // Each line reaches the file before the step it announces begins, so a killed
  // run leaves a log at most one file behind its outputs. A file's outcome waits
  // for the next line (the next file's "Converts: " or the closing lines) and
  // goes out in the same write. A failed write is ignored, as the log must never
  // stop a batch.
  try {
    FLogLine.assign(Prefix);
    AppendEscaped(FLogLine, Text);
    FLogLine += LogLineEnd;
    FLogStream->WriteString(FLogLine);
    if (Flush) FLogStream->Flush();
  } catch (const EStreamError&) {
  }
}

void TGlyphConvertTask::LogError(const std::string& Text, bool Flush) {
  ++FErrorCount;
  Log(LogErrorPrefix, Text, Flush);
}

void TGlyphConvertTask::LogWarning(const std::string& Text) {
  ++FWarningCount;
  Log(LogWarningPrefix, Text, true);
}

void TGlyphConvertTask::DoMessage(const std::string& Text, bool IsFileName) {
  // Each message sets the flag, so a handler that threw cannot leave it stale.
  FMessageIsFileName = IsFileName;
  if (OnMessage) OnMessage(this, Text);
}
