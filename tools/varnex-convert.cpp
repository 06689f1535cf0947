// varnex-convert: converts glyph files into two-image glyphs without a window,
// for scripts and build pipelines, and writes the same log as the program.

#include "app/GlyphConvertTask.h"
#include "base/FileIO.h"
#include "base/SysUtils.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <getopt.h>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unordered_map>
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
    "Usage: varnex-convert [OPTION]... -o DIR [FILE|FOLDER]...\n"
    "\n"
    "Turns each BMP glyph FILE into a two-image glyph in DIR: the source on the left,\n"
    "its disabled image on the right. A FOLDER stands for the *.bmp files directly in it\n"
    "(any letter case), sorted by name. An existing file in DIR is never replaced.\n"
    "\n"
    "Options:\n"
    "      --light RRGGBB    highlight colour of the disabled image (default FFFFFF)\n"
    "      --shadow RRGGBB   shape colour of the disabled image (default 808080)\n"
    "  -o, --output DIR      output directory, created when missing (required)\n"
    "  -l, --log FILE        log file (default Log.txt), '-' for standard output;\n"
    "                        an existing file is replaced only when it is empty\n"
    "                        or an earlier log, in place through links\n"
    "      --files-from FILE also convert the names in FILE, one a line ('-' for\n"
    "                        standard input)\n"
    "  -0, --null            names in the --files-from list end with NUL\n"
    "      --skip-existing   skip a file whose output exists, without an error\n"
    "  -q, --quiet           no progress, per-file errors or summary\n"
    "      --json            a JSON object a line on standard output for each\n"
    "                        file, then a summary; bytes of names that are not\n"
    "                        UTF-8 as \\udcXX\n"
    "  -h, --help            show this text\n"
    "  -V, --version         show the version\n"
    "\n"
    "Long options may be shortened while they stay unique (--out=DIR). Colours are\n"
    "web hex, red first. A missing input is a logged error. Each failed file gets a\n"
    "line on standard error. Ctrl+C (or SIGTERM, SIGHUP) finishes the current file,\n"
    "closes the log and then stops the tool by that signal.\n"
    "Exit status: 0 no errors or warnings, 1 errors or warnings logged,\n"
    "2 usage error or a log file that is not a log, 3 the log cannot be created,\n"
    "4 the log could not be written, or standard output.\n";

// The first stopping signal received, set by the handler and read between files.
volatile std::sig_atomic_t ReceivedSignal = 0;

extern "C" void OnStopSignal(int Signal) {
  if (ReceivedSignal == 0) ReceivedSignal = Signal;
}

struct TOptions {
  TColor LightColor = 0xFFFFFF;
  TColor ShadowColor = 0x808080;
  std::optional<std::string> OutputDir;
  std::string LogFileName = "Log.txt";
  std::vector<std::string> FileNames;
  std::optional<std::string> FilesFrom;
  bool NullSeparated = false;
  bool SkipExisting = false;
  bool Quiet = false;
  bool Json = false;
  bool Help = false;
  bool Version = false;
};

// A usage error: its message names the fault.
struct TUsageError {
  std::string Message;
};

// An existing file that -l must not replace.
struct TLogRefused {
  std::string Message;
};

// Codes of the options that have no short form.
enum : int { kLightOption = 256, kShadowOption, kFilesFromOption, kSkipExistingOption, kJsonOption };

const char* const kShortOptions = ":o:l:hV0q";  // ':' first: a missing value is told apart
const option kLongOptions[] = {
    {"light", required_argument, nullptr, kLightOption},
    {"shadow", required_argument, nullptr, kShadowOption},
    {"output", required_argument, nullptr, 'o'},
    {"log", required_argument, nullptr, 'l'},
    {"files-from", required_argument, nullptr, kFilesFromOption},
    {"null", no_argument, nullptr, '0'},
    {"skip-existing", no_argument, nullptr, kSkipExistingOption},
    {"quiet", no_argument, nullptr, 'q'},
    {"json", no_argument, nullptr, kJsonOption},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {nullptr, 0, nullptr, 0}};

// The log written to standard output.
bool LogToStdout(const TOptions& Options) { return Options.LogFileName == "-"; }

// How messages name the log.
std::string LogName(const TOptions& Options) {
  return LogToStdout(Options) ? "standard output" : EscapeControlChars(Options.LogFileName);
}

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
      case kFilesFromOption: options.FilesFrom = ::optarg; break;
      case '0': options.NullSeparated = true; break;
      case kSkipExistingOption: options.SkipExisting = true; break;
      case 'q': options.Quiet = true; break;
      case kJsonOption: options.Json = true; break;
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
  if (options.Json && LogToStdout(options)) throw TUsageError{"--json and --log - both need standard output"};
  if (options.NullSeparated && !options.FilesFrom) throw TUsageError{"--null needs --files-from"};
  if (options.FilesFrom && options.FilesFrom->empty()) throw TUsageError{"the --files-from name is empty"};
  if (options.FileNames.empty() && !options.FilesFrom) throw TUsageError{"no files to convert"};
  return options;
}

// The names in the list file (standard input for "-"), each ended by Separator or the end;
// empty names are passed over. Names are bytes, taken as they are.
std::vector<std::string> ReadFileList(const std::string& Name, char Separator) {
  const bool standardInput = Name == "-";
  const int fd = standardInput ? STDIN_FILENO : ::open(Name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  std::string data;
  char buffer[65536];
  ssize_t n = 0;
  if (fd >= 0) {
    while ((n = ::read(fd, buffer, sizeof buffer)) != 0) {
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) break;
      data.append(buffer, static_cast<std::size_t>(n));
    }
  }
  const int error = errno;
  if (fd >= 0 && !standardInput) ::close(fd);
  if (fd < 0 || n < 0)
    throw TUsageError{"cannot read the file list " + (standardInput ? std::string("on standard input") : Name) +
                      " (" + std::strerror(error) + ")"};
  std::vector<std::string> names;
  for (std::size_t at = 0; at < data.size();) {
    std::size_t end = data.find(Separator, at);
    if (end == std::string::npos) end = data.size();
    if (end > at) names.emplace_back(data, at, end - at);
    at = end + 1;
  }
  return names;
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

// Inputs sharing a parent folder from this many on are looked up in one listing of it.
constexpr std::size_t kListFrom = 16;

// Marks in IsFolder the inputs of Parent that its listing shows as a folder or a
// regular file. Links and entries of unknown type stay unmarked, and so do names past
// the read budget, which keeps a huge folder from costing more than the stats it saves.
void ListParent(const std::string& Parent, const std::vector<std::size_t>& Members,
                const std::vector<std::string>& Inputs, std::vector<signed char>& IsFolder) {
  // Each name leads to its first member, and Next to any further member of the same name.
  std::unordered_map<std::string_view, std::size_t> first;
  first.reserve(Members.size());
  std::vector<std::size_t> next(Members.size(), Members.size());
  for (std::size_t k = Members.size(); k-- > 0;) {
    const std::string& input = Inputs[Members[k]];
    const auto [it, added] = first.try_emplace(std::string_view(input).substr(input.rfind('/') + 1), k);
    if (!added) {
      next[k] = it->second;
      it->second = k;
    }
  }
  DIR* dir = ::opendir(Parent.c_str());
  if (dir == nullptr) return;
  std::size_t budget = 16 * Members.size() + 1024;
  // A folder lists each name once, so each name is met at most once.
  for (const dirent* entry; !first.empty() && budget-- > 0 && (entry = ::readdir(dir)) != nullptr;) {
    const auto it = first.find(entry->d_name);
    if (it == first.end()) continue;
    if (entry->d_type == DT_DIR || entry->d_type == DT_REG)
      for (std::size_t k = it->second; k < Members.size(); k = next[k]) IsFolder[Members[k]] = entry->d_type == DT_DIR;
    first.erase(it);
  }
  ::closedir(dir);
}

// Which inputs are folders, links followed. Many files of one folder are answered by
// the entry types of one listing instead of a stat each; the rest are stat'ed.
std::vector<signed char> FolderInputs(const std::vector<std::string>& Inputs) {
  std::vector<signed char> isFolder(Inputs.size(), -1);
  // Keyed by views into Inputs: the parent with its slash, or "." for a bare name.
  std::unordered_map<std::string_view, std::vector<std::size_t>> byParent;
  for (std::size_t i = 0; i < Inputs.size(); ++i) {
    const std::size_t slash = Inputs[i].rfind('/');
    const std::string_view name = std::string_view(Inputs[i]).substr(slash == std::string::npos ? 0 : slash + 1);
    if (name.empty() || name == "." || name == "..") continue;
    byParent[slash == std::string::npos ? std::string_view(".") : std::string_view(Inputs[i]).substr(0, slash + 1)]
        .push_back(i);
  }
  for (const auto& [parent, members] : byParent)
    if (members.size() >= kListFrom) ListParent(std::string(parent), members, Inputs, isFolder);
  for (std::size_t i = 0; i < Inputs.size(); ++i) {
    std::error_code ignored;
    if (isFolder[i] < 0) isFolder[i] = std::filesystem::is_directory(Inputs[i], ignored);
  }
  return isFolder;
}

// The inputs with each folder replaced by its glyph files.
std::vector<std::string> ExpandFolders(std::vector<std::string> Inputs) {
  const std::vector<signed char> isFolder = FolderInputs(Inputs);
  std::vector<std::string> files;
  files.reserve(Inputs.size());
  for (std::size_t i = 0; i < Inputs.size(); ++i) {
    std::string& input = Inputs[i];
    if (isFolder[i] == 0) {
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

// The signals that stop a run between two files. A signal ignored at start (nohup, a
// background job) stays ignored.
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

void InstallStopHandlers() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  // Restarted system calls: the file being converted is finished, not broken off.
  action.sa_flags = SA_RESTART;
  for (const int signal : kStopSignals) {
    struct sigaction old {};
    if (::sigaction(signal, nullptr, &old) == 0 && old.sa_handler != SIG_IGN) ::sigaction(signal, &action, nullptr);
  }
}

// After the log is closed: ends the tool by the signal that stopped it, so that the shell
// sees it (130 for Ctrl+C) and a loop around the tool stops too.
void ReraiseStopSignal() {
  const int signal = ReceivedSignal;
  if (signal == 0) return;
  std::fflush(nullptr);
  std::signal(signal, SIG_DFL);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal);
  ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
  std::raise(signal);
}

// The length of the valid UTF-8 sequence that Text begins with (no overlong forms,
// surrogates or code points past U+10FFFF), or 0.
std::size_t Utf8SequenceLength(std::string_view Text) {
  const auto byte = [&Text](std::size_t i) { return i < Text.size() ? static_cast<unsigned char>(Text[i]) : 0u; };
  const unsigned lead = byte(0);
  std::size_t length = 0;
  unsigned low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i)
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  return length;
}

// Appends Text as a JSON string. Valid UTF-8 stays as it is; each byte that is not part of
// valid UTF-8 becomes \udcXX, as a surrogate-escaping decoder reads it, so names survive.
void AppendJsonString(std::string& Out, std::string_view Text) {
  static constexpr char Hex[] = "0123456789abcdef";
  Out += '"';
  for (std::size_t i = 0; i < Text.size();) {
    const auto c = static_cast<unsigned char>(Text[i]);
    if (c == '"' || c == '\\') {
      Out += {'\\', static_cast<char>(c)};
      ++i;
      continue;
    }
    if (c < 0x20 || c == 0x7F) {
      Out += {'\\', 'u', '0', '0', Hex[c >> 4], Hex[c & 15]};
      ++i;
      continue;
    }
    const std::size_t length = c < 0x80 ? 1 : Utf8SequenceLength(Text.substr(i));
    if (length == 0) {
      Out += {'\\', 'u', 'd', 'c', Hex[c >> 4], Hex[c & 15]};
      ++i;
      continue;
    }
    Out.append(Text.substr(i, length));
    i += length;
  }
  Out += '"';
}

// Writes Line and a newline to standard output at once; false when that fails.
bool WriteStdoutLine(std::string Line) {
  Line += '\n';
  return FileWriteAll(STDOUT_FILENO, Line.data(), Line.size());
}

const char* StatusName(TFileStatus Status) {
  switch (Status) {
    case TFileStatus::Converted: return "converted";
    case TFileStatus::Skipped: return "skipped";
    case TFileStatus::Error: break;
  }
  return "error";
}

// Refuses, before anything is written, an existing regular file that -l must not replace:
// one of the inputs, or a file that holds something other than an earlier log.
TFileStreamCheck LogFileCheck(const std::vector<std::string>& Inputs, const std::string& LogFileName) {
  return [&Inputs, &LogFileName](int Handle, const struct stat& Log) {
    if (!S_ISREG(Log.st_mode)) return;
    const std::string name = EscapeControlChars(LogFileName);
    for (const std::string& input : Inputs) {
      struct stat st {};
      if (::stat(input.c_str(), &st) == 0 && st.st_dev == Log.st_dev && st.st_ino == Log.st_ino)
        throw TLogRefused{"the log file " + name + " is one of the inputs; it is left as it is"};
    }
    if (Log.st_size == 0) return;
    // The handle is write-only; the same file is read through another one. A file that
    // cannot be read cannot be told to be a log, and is refused.
    constexpr std::string_view kFirstLine = "Start time: ";
    char head[kFirstLine.size()];
    const int reader = ::open(("/proc/self/fd/" + std::to_string(Handle)).c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    const ssize_t n = reader < 0 ? -1 : ::pread(reader, head, sizeof head, 0);
    if (reader >= 0) ::close(reader);
    if (n != static_cast<ssize_t>(sizeof head) || std::string_view(head, sizeof head) != kFirstLine)
      throw TLogRefused{"the log file " + name + " exists and is not a log; it is left as it is"};
  };
}

int Run(TOptions& Options) {
  TGlyphConvertTask task(std::move(Options.FileNames), Options.LightColor, Options.ShadowColor, *Options.OutputDir,
                         Options.LogFileName);
  task.SetSkipExisting(Options.SkipExisting);
  if (LogToStdout(Options)) {
    const int out = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    if (out < 0) {
      std::fprintf(stderr, "varnex-convert: The program cannot create a log file. (standard output)\n");
      return kExitNoLog;
    }
    task.SetLogHandle(out);
  }
  // The task holds the inputs until its end, and the log is checked at its start.
  task.LogCheck = LogFileCheck(task.FileNames(), Options.LogFileName);
  // A request made before the first file is seen at the first check as well.
  auto passStop = [&task](TObject*) {
    if (ReceivedSignal != 0) task.Cancel();
  };
  task.OnStart = passStop;
  task.OnIdle = passStop;

  // No progress line between the lines that standard output writes to the same terminal.
  const bool stdoutLines = (Options.Json || LogToStdout(Options)) && ::isatty(STDOUT_FILENO) == 1;
  const bool terminal = !Options.Quiet && !stdoutLines && ::isatty(STDERR_FILENO) == 1;
  TProgressLine progress(task);
  if (terminal) {
    task.OnMessage = [&progress, &task](TObject*, const std::string& Text) {
      if (task.MessageIsFileName()) progress.ShowFile(Text);
    };
    task.OnProgress = [&progress](TObject*) { progress.Draw(); };
  }
  int converted = 0;
  bool outputFailed = false;
  task.OnFileDone = [&](TObject*, const TFileOutcome& Outcome) {
    converted += Outcome.Status == TFileStatus::Converted;
    if (Outcome.Status == TFileStatus::Error && !Options.Quiet) {
      if (terminal) progress.Clear();
      std::fprintf(stderr, "varnex-convert: %s\n", EscapeControlChars(Outcome.Message).c_str());
    }
    if (!Options.Json || outputFailed) return;
    std::string line = "{\"source\":";
    AppendJsonString(line, Outcome.Source);
    line += ",\"target\":";
    AppendJsonString(line, Outcome.Target);
    line += std::string(",\"status\":\"") + StatusName(Outcome.Status) + "\",\"message\":";
    AppendJsonString(line, Outcome.Message);
    outputFailed = !WriteStdoutLine(line + "}");
  };

  try {
    task.Perform();
  } catch (const EGlyphConvertTaskError& error) {
    if (terminal) progress.Clear();
    std::fprintf(stderr, "varnex-convert: %s (%s)\n", error.Message().c_str(), LogName(Options).c_str());
    return kExitNoLog;
  } catch (const TLogRefused& refused) {
    if (terminal) progress.Clear();
    std::fprintf(stderr, "varnex-convert: %s\n", refused.Message.c_str());
    return kExitUsage;
  }
  if (terminal) progress.Clear();
  if (Options.Json && !outputFailed) {
    outputFailed = !WriteStdoutLine(
        "{\"summary\":{\"converted\":" + std::to_string(converted) + ",\"skipped\":" +
        std::to_string(task.SkippedCount()) + ",\"errors\":" + std::to_string(task.ErrorCount()) +
        ",\"warnings\":" + std::to_string(task.WarningCount()) +
        ",\"canceled\":" + (task.Position() == 100 ? "false" : "true") + "}}");
  }
  if (task.LogWriteFailed() || outputFailed) {
    // The counts are the only complete record of this run.
    const std::string what = task.LogWriteFailed() ? "the log could not be written (" + LogName(Options) + ")"
                                                   : "standard output could not be written";
    std::fprintf(stderr, "varnex-convert: %s; errors: %d, warnings: %d\n", what.c_str(), task.ErrorCount(),
                 task.WarningCount());
    return kExitLogFailed;
  }
  if (task.ErrorCount() == 0 && task.WarningCount() == 0) return kExitClean;
  if (!Options.Quiet)
    std::fprintf(stderr, "varnex-convert: errors: %d, warnings: %d (see %s)\n", task.ErrorCount(),
                 task.WarningCount(), LogName(Options).c_str());
  return kExitLogged;
}

// Writes the help or version text; false when standard output fails.
bool WriteText(const char* Text) { return std::fputs(Text, stdout) >= 0 && std::fflush(stdout) == 0; }

}  // namespace

int main(int Argc, char** Argv) {
  // A write past the file-size limit then fails with EFBIG, like one to a full disk,
  // and is logged, instead of ending the run in the middle of a file.
  std::signal(SIGXFSZ, SIG_IGN);
  TOptions options;
  try {
    options = ParseArguments(Argc, Argv);
    if (options.FilesFrom) {
      std::vector<std::string> listed = ReadFileList(*options.FilesFrom, options.NullSeparated ? '\0' : '\n');
      options.FileNames.insert(options.FileNames.end(), std::make_move_iterator(listed.begin()),
                               std::make_move_iterator(listed.end()));
    }
    // Until here a signal ends the tool at once: nothing has been written yet.
    InstallStopHandlers();
    if (!options.Help && !options.Version) options.FileNames = ExpandFolders(std::move(options.FileNames));
  } catch (const TUsageError& error) {
    // Arguments are echoed as the log shows names: they cannot move the cursor.
    std::fprintf(stderr, "varnex-convert: %s; try 'varnex-convert --help'\n",
                 EscapeControlChars(error.Message).c_str());
    return kExitUsage;
  }
  if (options.Help || options.Version) {
    if (WriteText(options.Help ? kUsage : "varnex-convert (Varnex) " VARNEX_VERSION "\n")) return kExitClean;
    std::fprintf(stderr, "varnex-convert: standard output could not be written (%s)\n", std::strerror(errno));
    return kExitLogFailed;
  }
  int status = kExitLogged;
  try {
    status = Run(options);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "varnex-convert: %s\n", EscapeControlChars(error.what()).c_str());
  }
  ReraiseStopSignal();
  return status;
}
