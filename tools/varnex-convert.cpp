// varnex-convert: converts glyph files into two-image glyphs without a window,
// for scripts and build pipelines, and writes the same log as the program.

#include "app/GlyphConvertTask.h"
#include "base/SysUtils.h"

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <getopt.h>
#include <optional>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

constexpr int kExitClean = 0;
constexpr int kExitLogged = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNoLog = 3;
constexpr int kExitLogFailed = 4;

const char* const kUsage =
    "Usage: varnex-convert [--light RRGGBB] [--shadow RRGGBB] -o DIR [-l FILE] FILE|FOLDER...\n"
    "\n"
    "Turns each BMP glyph FILE into a two-image glyph in DIR: the source on the left,\n"
    "its disabled image on the right. A FOLDER stands for the *.bmp files directly in it\n"
    "(any letter case), sorted by name. An existing file in DIR is never replaced.\n"
    "\n"
    "Options:\n"
    "      --light RRGGBB  highlight colour of the disabled image (default FFFFFF)\n"
    "      --shadow RRGGBB shape colour of the disabled image (default 808080)\n"
    "  -o, --output DIR    output directory, created when missing (required)\n"
    "  -l, --log FILE      log file, replaced on each run (default Log.txt)\n"
    "  -h, --help          show this text\n"
    "  -V, --version       show the version\n"
    "\n"
    "Long options may be shortened while they stay unique (--out=DIR). Colours are\n"
    "web hex, red first. Ctrl+C stops before the next file.\n"
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
  bool Version = false;
};

// A usage error: its message names the fault.
struct TUsageError {
  std::string Message;
};

// Codes of the options that have no short form.
enum : int { kLightOption = 256, kShadowOption };

const char* const kShortOptions = ":o:l:hV";  // ':' first: a missing value is told apart
const option kLongOptions[] = {
    {"light", required_argument, nullptr, kLightOption}, {"shadow", required_argument, nullptr, kShadowOption},
    {"output", required_argument, nullptr, 'o'},         {"log", required_argument, nullptr, 'l'},
    {"help", no_argument, nullptr, 'h'},                 {"version", no_argument, nullptr, 'V'},
    {nullptr, 0, nullptr, 0}};

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

// The long option of Code, or null for a code no option has.
const option* LongOption(int Code) {
  for (const option* o = kLongOptions; o->name != nullptr; ++o)
    if (o->val == Code) return o;
  return nullptr;
}

// The message for an option getopt_long rejected; Arg is the argument that held it.
std::string RejectedOption(int Code, const std::string& Arg) {
  const option* known = LongOption(::optopt);
  const std::string shortName = std::string("-") + static_cast<char>(::optopt);
  if (Code == ':') {
    // Only the last argument can lack its value, so Arg is the option itself.
    const bool isLong = Arg.rfind("--", 0) == 0;
    return "option " + (isLong ? std::string("--") + known->name : shortName) + " needs a value";
  }
  // A known option rejected with '?' is a long one that was given a value.
  if (known != nullptr) return std::string("option --") + known->name + " takes no value";
  if (::optopt != 0) return "unknown option: " + shortName;
  const std::string prefix = Arg.substr(2, Arg.find('=') - 2);
  std::string matches;
  for (const option* o = kLongOptions; o->name != nullptr; ++o)
    if (std::string(o->name).rfind(prefix, 0) == 0) matches += (matches.empty() ? "--" : ", --") + std::string(o->name);
  const bool ambiguous = !prefix.empty() && matches.find(',') != std::string::npos;
  if (ambiguous) return "ambiguous option: --" + prefix + " (" + matches + ")";
  return "unknown option: " + Arg;
}

// Reads the options wherever they stand; the other arguments keep their order.
TOptions ParseArguments(int Argc, char** Argv) {
  TOptions options;
  ::opterr = 0;  // RejectedOption words the errors
  for (int code; (code = ::getopt_long(Argc, Argv, kShortOptions, kLongOptions, nullptr)) != -1;) {
    switch (code) {
      case kLightOption: options.LightColor = ParseWebColor("--light", ::optarg); break;
      case kShadowOption: options.ShadowColor = ParseWebColor("--shadow", ::optarg); break;
      case 'o': options.OutputDir = ::optarg; break;
      case 'l': options.LogFileName = ::optarg; break;
      case 'h': options.Help = true; break;
      case 'V': options.Version = true; break;
      default: throw TUsageError{RejectedOption(code, Argv[::optind - 1])};
    }
  }
  options.FileNames.assign(Argv + ::optind, Argv + Argc);
  if (options.Help || options.Version) return options;
  if (!options.OutputDir) throw TUsageError{"no output directory (use --output DIR)"};
  if (options.OutputDir->empty()) throw TUsageError{"the output directory is empty"};
  if (options.LogFileName.empty()) throw TUsageError{"the log file name is empty"};
  if (options.FileNames.empty()) throw TUsageError{"no files to convert"};
  return options;
}

bool HasBmpExtension(const std::string& Name) {
  if (Name.size() < 4) return false;
  std::string extension = Name.substr(Name.size() - 4);
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return extension == ".bmp";
}

// The *.bmp files directly in Folder (any letter case), sorted by name. Like the
// shell's *.bmp it leaves out hidden files, and it leaves out folders.
std::vector<std::string> FolderGlyphs(const std::string& Folder) {
  namespace fs = std::filesystem;
  std::error_code error, ignored;
  std::vector<std::string> names;
  for (fs::directory_iterator it(Folder, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (name[0] != '.' && HasBmpExtension(name) && !it->is_directory(ignored)) names.push_back(name);
  }
  if (error) throw TUsageError{"cannot read the folder " + Folder + " (" + error.message() + ")"};
  std::sort(names.begin(), names.end());
  const std::string prefix = Folder.back() == '/' ? Folder : Folder + "/";
  for (std::string& name : names) name.insert(0, prefix);
  return names;
}

// The inputs with each folder replaced by its glyph files.
std::vector<std::string> ExpandFolders(std::vector<std::string> Inputs) {
  std::vector<std::string> files;
  files.reserve(Inputs.size());
  for (std::string& input : Inputs) {
    std::error_code ignored;
    if (!std::filesystem::is_directory(input, ignored)) {
      files.push_back(std::move(input));
      continue;
    }
    const std::vector<std::string> glyphs = FolderGlyphs(input);
    files.insert(files.end(), glyphs.begin(), glyphs.end());
  }
  return files;
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

int Run(TOptions Options) {
  TGlyphConvertTask task(std::move(Options.FileNames), Options.LightColor, Options.ShadowColor, *Options.OutputDir,
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
    task.OnMessage = [&progress, &task](TObject*, const std::string& Text) {
      if (task.MessageIsFileName()) progress.ShowFile(Text);
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
    if (!options.Help && !options.Version) options.FileNames = ExpandFolders(std::move(options.FileNames));
  } catch (const TUsageError& error) {
    std::fprintf(stderr, "varnex-convert: %s; try 'varnex-convert --help'\n", error.Message.c_str());
    return kExitUsage;
  }
  if (options.Help || options.Version) {
    std::fputs(options.Help ? kUsage : "varnex-convert (Varnex) " VARNEX_VERSION "\n", stdout);
    return kExitClean;
  }
  try {
    return Run(std::move(options));
  } catch (const std::exception& error) {
    std::fprintf(stderr, "varnex-convert: %s\n", error.what());
    return kExitLogged;
  }
}
