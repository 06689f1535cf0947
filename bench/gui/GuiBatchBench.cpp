// Times the window program's batch against varnex-convert on the same glyphs.
//
// The GUI side is the real path: TGlyphsMan::Convert with the progress dialog
// shown modally and the task running inside it, on the offscreen platform unless
// QT_QPA_PLATFORM says otherwise. The command side is a varnex-convert process.
// Rounds alternate which side goes first; every run writes into a folder of its
// own. Prints both medians and the median of the per-round ratios GUI / command.
//
// Usage: gui_batch_bench VARNEX_CONVERT [ROUNDS] [COUNT]
//   ROUNDS  timed rounds, each running both once (default 7)
//   COUNT   number of 16x16 8-bit glyphs (default 2000)
//
// Goal: median ratio at most 1.2. The offscreen platform paints into memory; to
// include the cost of a real display server, run it as
//   QT_QPA_PLATFORM=xcb xvfb-run -a build/bench/gui_batch_bench build/bin/varnex-convert

#include "app/GlyphsMan.h"
#include "app/ProgressDialogUnit.h"
#include "gui/Application.h"

#include <QApplication>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using TClock = std::chrono::steady_clock;

void PutLE(std::string& Out, unsigned Value, int Bytes) {
  for (int i = 0; i < Bytes; ++i) Out.push_back(static_cast<char>((Value >> (8 * i)) & 0xFF));
}

// A 16 x 16 8-bit glyph: grey background (index 200) with a red diagonal stroke
// (index 1) shifted by Variant.
std::string GlyphBytes(int Variant) {
  std::string bmp = "BM";
  PutLE(bmp, 14 + 40 + 1024 + 256, 4);
  PutLE(bmp, 0, 4);
  PutLE(bmp, 14 + 40 + 1024, 4);
  for (unsigned v : {40u, 16u, 16u}) PutLE(bmp, v, 4);
  PutLE(bmp, 1, 2);
  PutLE(bmp, 8, 2);
  for (unsigned v : {0u, 256u, 0u, 0u, 256u, 0u}) PutLE(bmp, v, 4);
  for (unsigned c = 0; c < 256; ++c) PutLE(bmp, c == 1 ? 0xFF0000u : (c | c << 8 | c << 16), 4);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x)
      bmp.push_back(static_cast<char>((x + Variant) % 16 == y || (x + Variant + 1) % 16 == y ? 1 : 200));
  return bmp;
}

std::vector<std::string> MakeGlyphs(const fs::path& Dir, int Count) {
  fs::create_directories(Dir);
  std::vector<std::string> files;
  for (int i = 0; i < Count; ++i) {
    files.push_back(Dir / ("glyph" + std::to_string(i) + ".bmp"));
    std::ofstream(files.back(), std::ios::binary) << GlyphBytes(i % 16);
  }
  return files;
}

double RunCommand(const std::string& Tool, const std::vector<std::string>& Files, const fs::path& Out) {
  std::vector<std::string> args = {Tool, "--output", Out, "--log", Out.string() + ".log"};
  args.insert(args.end(), Files.begin(), Files.end());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  const auto start = TClock::now();
  pid_t pid = 0;
  if (posix_spawn(&pid, Tool.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
    std::fprintf(stderr, "gui_batch_bench: cannot start %s\n", Tool.c_str());
    std::exit(2);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  const double seconds = std::chrono::duration<double>(TClock::now() - start).count();
  posix_spawn_file_actions_destroy(&actions);
  return seconds;
}

double RunGui(TGlyphsMan& Man, const std::vector<std::string>& Files, const fs::path& Out) {
  const auto start = TClock::now();
  Man.Convert(Files, 0xFFFFFF, 0x808080, Out);
  return std::chrono::duration<double>(TClock::now() - start).count();
}

void CheckCount(const fs::path& Out, int Count) {
  const auto n = std::distance(fs::directory_iterator(Out), fs::directory_iterator());
  if (n == Count) return;
  std::fprintf(stderr, "gui_batch_bench: %s holds %d files, expected %d\n", Out.c_str(), static_cast<int>(n), Count);
  std::exit(1);
}

double Median(std::vector<double> Values) {
  std::sort(Values.begin(), Values.end());
  const std::size_t n = Values.size();
  return n % 2 ? Values[n / 2] : (Values[n / 2 - 1] + Values[n / 2]) / 2;
}

}  // namespace

int main(int Argc, char** Argv) {
  if (Argc < 2) {
    std::fprintf(stderr, "usage: gui_batch_bench VARNEX_CONVERT [ROUNDS] [COUNT]\n");
    return 2;
  }
  const std::string tool = fs::absolute(Argv[1]);
  const int rounds = Argc > 2 ? std::atoi(Argv[2]) : 7;
  const int count = Argc > 3 ? std::atoi(Argv[3]) : 2000;
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication qapp(Argc, Argv);
  TApplication application;
  TProgressDialog dialog;
  ProgressDialog = &dialog;

  char pattern[] = "/tmp/gui_batch_bench.XXXXXX";
  const fs::path work = mkdtemp(pattern);
  const std::vector<std::string> files = MakeGlyphs(work / "src", count);
  TGlyphsMan man((work / "gui.log").string());

  // One untimed run of each warms the page cache and the toolkit.
  RunCommand(tool, files, work / "warm-cli");
  RunGui(man, files, work / "warm-gui");
  CheckCount(work / "warm-cli", count);
  CheckCount(work / "warm-gui", count);

  std::vector<double> cli, gui, ratios;
  for (int r = 0; r < rounds; ++r) {
    const fs::path cliOut = work / ("r" + std::to_string(r) + "-cli");
    const fs::path guiOut = work / ("r" + std::to_string(r) + "-gui");
    double c = 0, g = 0;
    if (r % 2 == 0) {
      c = RunCommand(tool, files, cliOut);
      g = RunGui(man, files, guiOut);
    } else {
      g = RunGui(man, files, guiOut);
      c = RunCommand(tool, files, cliOut);
    }
    CheckCount(cliOut, count);
    CheckCount(guiOut, count);
    cli.push_back(c);
    gui.push_back(g);
    ratios.push_back(g / c);
  }
  ProgressDialog = nullptr;
  fs::remove_all(work);

  std::printf("glyphs: %d (16x16, 8-bit), rounds: %d\n", count, rounds);
  std::printf("varnex-convert median: %.1f ms\n", Median(cli) * 1000);
  std::printf("GUI batch median:      %.1f ms\n", Median(gui) * 1000);
  std::printf("ratios:");
  for (double r : ratios) std::printf(" %.3f", r);
  std::printf("\nmedian ratio: %.3f (goal <= 1.2)\n", Median(ratios));
  return 0;
}
