#include "app/GlyphConvertTask.h"

#include "app/GlyphConvertCommand.h"
#include "base/FileStream.h"
#include "base/ScopeExit.h"
#include "base/SysUtils.h"

#include <chrono>

namespace {

const std::string LogErrorPrefix = "[Error] ";
const std::string LogWarningPrefix = "[Warning] ";
const std::string LogLineEnd = "\r\n";

}  // namespace

TGlyphConvertTask::TGlyphConvertTask(const std::vector<std::string>& FileNames, TColor LightColor,
                                     TColor ShadowColor, const std::string& OutputDir,
                                     const std::string& LogFileName)
    : TTask(tmCallingThread),
      FFileNames(FileNames),
      FLightColor(LightColor),
      FShadowColor(ShadowColor),
      FOutputDir(OutputDir),
      FLogFileName(LogFileName) {}

TGlyphConvertTask::~TGlyphConvertTask() = default;

int TGlyphConvertTask::ErrorCount() const { return FErrorCount; }

int TGlyphConvertTask::WarningCount() const { return FWarningCount; }

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
    ConvertFiles();
  } catch (const EUserCancel& error) {
    LogWarning(error.Message());
  } catch (const EErrorStop& error) {
    LogError(error.Message());
  } catch (const Exception& error) {
    LogError("An unexpected error occured: " + error.Message());
  } catch (...) {
    LogError("An unexpected error occured");
  }
}

void TGlyphConvertTask::OpenLog() {
  try {
    FLogStream = std::make_unique<TFileStream>(FLogFileName, fmCreate);
  } catch (const EStreamError&) {
    throw EGlyphConvertTaskError("The program cannot create a log file.");
  }
}

void TGlyphConvertTask::CloseLog() {
  if (!FLogStream) return;
  try {
    FLogStream->Flush();
  } catch (const EStreamError&) {
    // The log ignores failed writes, the last ones included.
  }
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
  Log("Converts: " + FileName);
  DoMessage(ExtractFileName(FileName), true);
  try {
    TGlyphConvertCommand command(FileName, FLightColor, FShadowColor, FOutputDir);
    command.Execute();
    Log("Converted: " + FileName);
  } catch (const EGlyphConvertError& error) {
    LogError(error.Message());
  }
}

void TGlyphConvertTask::CheckCanceled() {
  if (CancelRequested()) throw EUserCancel("Task canceled by user.");
}

void TGlyphConvertTask::Log(const std::string& Text) {
  if (!FLogStream) return;
  // The stream buffers the lines; a failed write is ignored, as the log must
  // never stop a batch.
  try {
    FLogStream->WriteString(Text);
    FLogStream->WriteString(LogLineEnd);
    // A long batch still shows its progress on disk, and a killed run keeps
    // most of its log, without a write per line.
    const auto now = std::chrono::steady_clock::now();
    if (now - FLastFlush >= std::chrono::milliseconds(200)) {
      FLastFlush = now;
      FLogStream->Flush();
    }
  } catch (const EStreamError&) {
  }
}

void TGlyphConvertTask::LogError(const std::string& Text) {
  ++FErrorCount;
  Log(LogErrorPrefix + Text);
}

void TGlyphConvertTask::LogWarning(const std::string& Text) {
  ++FWarningCount;
  Log(LogWarningPrefix + Text);
}

void TGlyphConvertTask::DoMessage(const std::string& Text, bool IsFileName) {
  // Each message sets the flag, so a handler that threw cannot leave it stale.
  FMessageIsFileName = IsFileName;
  if (OnMessage) OnMessage(this, Text);
}
