// varnex-convert: converts glyph files into two-image glyphs without a window,
// for scripts and build pipelines, and writes the same log as the program.

#include "app/GlyphConvertTask.h"
#include "base/SysUtils.h"

#include <csignal>
#include <cstdio>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kExitClean = 0;
constexpr int kExitLogged = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNoLog = 3;
constexpr int kExitLogFailed = 4;

const char* const kUsage =
    "Usage: varnex-convert [--light RRGGBB] [--shadow RRGGBB] --output DIR [--log FILE] FILE...\n"
    "\n"
    "Turns each BMP glyph FILE into a two-image glyph in DIR: the source on the left,\n"
    "its disabled image on the right. An existing file in DIR is never replaced.\n"
    "\n"
    "Options:\n"
    "  --light RRGGBB   highlight colour of the disabled image (default FFFFFF)\n"
    "  --shadow RRGGBB  shape colour of the disabled image (default 808080)\n"
    "  --output DIR     output directory, created when missing (required)\n"
    "  --log FILE       log file, replaced on each run (default Log.txt)\n"
    "  --help           show this text\n"
    "\n"
    "Colours are web hex, red first. Ctrl+C stops before the next file.\n"
    "Exit status: 0 no errors or warnings, 1 errors or warnings logged,\n"
    "2 usage error, 3 the log cannot be created, 4 the log could not be written.\n";

// Set by the signal handler, read by the task's handlers between files.
volatile std::sig_atomic_t InterruptRequested = 0;

extern "C" void OnInterrupt(int) { InterruptRequested = 1; }

struct TOptions {
  TColor LightColor = 0xFFFFFF;
  TColor ShadowColor = 0x808080;
  std::optional<std::string> OutputDir;
  std::string LogFileName = "Log.txt";
  std::vector<std::string> FileNames;
  bool Help = false;
};

// A usage error: its message names the fault.
struct TUsageError {
  std::string Message;
};

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "RRGGBB" (optionally with a leading '#') as the program's 0x00BBGGRR colour.
TColor ParseWebColor(const std::string& Option, const std::string& Text) {
  const std::string hex = !Text.empty() && Text[0] == '#' ? Text.substr(1) : Text;
  int digits[6] = {};
  bool valid = hex.size() == 6;
  for (std::size_t i = 0; valid && i < 6; ++i) {
    digits[i] = HexDigit(hex[i]);
    valid = digits[i] >= 0;
  }
  if (!valid) throw TUsageError{"bad colour for " + Option + ": '" + Text + "' (expected RRGGBB)"};
  const TColor red = static_cast<TColor>(digits[0] * 16 + digits[1]);
  const TColor green = static_cast<TColor>(digits[2] * 16 + digits[3]);
  const TColor blue = static_cast<TColor>(digits[4] * 16 + digits[5]);
  return red | green << 8 | blue << 16;
}

// Splits "--name=value" and takes the value from the next argument otherwise.
std::string OptionValue(const std::string& Name, const std::optional<std::string>& Inline, int& Index, int Argc,
                        char** Argv) {
  if (Inline) return *Inline;
  if (Index + 1 >= Argc) throw TUsageError{"option " + Name + " needs a value"};
  return Argv[++Index];
}

TOptions ParseArguments(int Argc, char** Argv) {
  TOptions options;
  bool onlyFiles = false;
  for (int i = 1; i < Argc; ++i) {
    const std::string arg = Argv[i];
    if (onlyFiles || arg.size() < 2 || arg[0] != '-') {
      options.FileNames.push_back(arg);
      continue;
    }
    if (arg == "--") {
      onlyFiles = true;
      continue;
    }
    const auto equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    const std::optional<std::string> inlineValue =
        equals == std::string::npos ? std::nullopt : std::optional<std::string>(arg.substr(equals + 1));
    if ((name == "--help" || name == "-h") && !inlineValue) {
      options.Help = true;
    } else if (name == "--light") {
      options.LightColor = ParseWebColor(name, OptionValue(name, inlineValue, i, Argc, Argv));
    } else if (name == "--shadow") {
      options.ShadowColor = ParseWebColor(name, OptionValue(name, inlineValue, i, Argc, Argv));
    } else if (name == "--output") {
      options.OutputDir = OptionValue(name, inlineValue, i, Argc, Argv);
    } else if (name == "--log") {
      options.LogFileName = OptionValue(name, inlineValue, i, Argc, Argv);
    } else {
      throw TUsageError{"unknown option: " + arg};
    }
  }
  if (options.Help) return options;
  if (!options.OutputDir) throw TUsageError{"no output directory (use --output DIR)"};
  if (options.OutputDir->empty()) throw TUsageError{"the output directory is empty"};
  if (options.LogFileName.empty()) throw TUsageError{"the log file name is empty"};
  if (options.FileNames.empty()) throw TUsageError{"no files to convert"};
  return options;
}

// Shows "NN% name" on one terminal line, redrawn in place.
class TProgressLine {
public:
  explicit TProgressLine(TGlyphConvertTask& Task) : FTask(Task) {}
  void ShowFile(const std::string& Name) {
    FName = Name;
    Draw();
  }
  void Draw() const {
    const int percent = FTask.Position() < 0 ? 0 : FTask.Position();
    // A file name could hold terminal commands; it is shown as the log shows it.
    std::fprintf(stderr, "\r%3d%% %s\033[K", percent, EscapeControlChars(FName).c_str());
    std::fflush(stderr);
  }
  void Clear() const {
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
  }

private:
  TGlyphConvertTask& FTask;
  std::string FName;
};

void InstallInterruptHandler() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  // Restarted system calls: the file being converted is finished, not broken off.
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
}

int Run(const TOptions& Options) {
  TGlyphConvertTask task(Options.FileNames, Options.LightColor, Options.ShadowColor, *Options.OutputDir,
                         Options.LogFileName);
  // A request made before the first file is seen at the first check as well.
  auto passInterrupt = [&task](TObject*) {
    if (InterruptRequested) task.Cancel();
  };
  task.OnStart = passInterrupt;
  task.OnIdle = passInterrupt;

  const bool terminal = ::isatty(STDERR_FILENO) == 1;
  TProgressLine progress(task);
  if (terminal) {
    task.OnMessage = [&progress](TObject*, const std::string& Text) {
      if (Text != "Started" && Text != "Completed" && Text != "Canceled") progress.ShowFile(Text);
    };
    task.OnProgress = [&progress](TObject*) { progress.Draw(); };
  }

  try {
    task.Perform();
  } catch (const EGlyphConvertTaskError& error) {
    if (terminal) progress.Clear();
    std::fprintf(stderr, "varnex-convert: %s (%s)\n", error.Message().c_str(), Options.LogFileName.c_str());
    return kExitNoLog;
  }
  if (terminal) progress.Clear();
  if (task.LogWriteFailed()) {
    // The counts are the only complete record of this run.
    std::fprintf(stderr, "varnex-convert: the log could not be written (%s); errors: %d, warnings: %d\n",
                 Options.LogFileName.c_str(), task.ErrorCount(), task.WarningCount());
    return kExitLogFailed;
  }
  if (task.ErrorCount() == 0 && task.WarningCount() == 0) return kExitClean;
  std::fprintf(stderr, "varnex-convert: errors: %d, warnings: %d (see %s)\n", task.ErrorCount(),
               task.WarningCount(), Options.LogFileName.c_str());
  return kExitLogged;
}

}  // namespace

int main(int Argc, char** Argv) {
  InstallInterruptHandler();
  // A write past the file-size limit then fails with EFBIG, like one to a full disk,
  // and is logged, instead of ending the run in the middle of a file.
  std::signal(SIGXFSZ, SIG_IGN);
  TOptions options;
  try {
    options = ParseArguments(Argc, Argv);
  } catch (const TUsageError& error) {
    std::fprintf(stderr, "varnex-convert: %s; try 'varnex-convert --help'\n", error.Message.c_str());
    return kExitUsage;
  }
  if (options.Help) {
    std::fputs(kUsage, stdout);
    return kExitClean;
  }
  try {
    return Run(options);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "varnex-convert: %s\n", error.what());
    return kExitLogged;
  }
}
