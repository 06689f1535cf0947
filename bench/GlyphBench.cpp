// Speed of the disabled-image rule and of the whole glyph conversion.

#include "app/DisabledRule.h"
#include "app/GlyphConvertCommand.h"
#include "base/Graphics.h"
#include "tests/kit/GlyphKit.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

namespace {

// A glyph-like picture: a background with blocks of ink and white, so that every branch of the rule runs.
void FillGlyph(TBitmap& Bitmap, int Width, int Height) {
  Bitmap.SetWidth(Width);
  Bitmap.SetHeight(Height);
  std::mt19937 random(7);
  const TColor colours[] = {0xC0C0C0, 0xC0C0C0, 0xFFFFFF, 0x000000, 0x0000FF};
  for (int y = 0; y < Height; ++y)
    for (int x = 0; x < Width; ++x)
      Bitmap.Canvas()->SetPixel(x, y, ((x / 3 + y / 2) % 7 == 0) ? colours[random() % 5] : colours[(x ^ y) / 5 % 5]);
}

// The rule on the right half of a widened 4096 x 4096 bitmap, in 8 or 24 bits, with the vector
// route on (1) or off (0).
void BM_DisabledHalf(benchmark::State& State) {
  const int side = static_cast<int>(State.range(0));
  TBitmap glyph;
  FillGlyph(glyph, side, side);
  if (State.range(1) == 8) glyph.SetPixelFormat(pf8bit);
  glyph.SetWidth(2 * side);
  SetDisabledVectorRoute(State.range(2) != 0);
  for (auto _ : State) {
    DrawDisabledHalf(glyph, 0xFFFFFF, 0x808080);
    benchmark::ClobberMemory();
  }
  SetDisabledVectorRoute(true);
  State.counters["MPix/s"] =
      benchmark::Counter(static_cast<double>(side) * side / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_DisabledHalf)
    ->ArgsProduct({{4096}, {8, 24}, {0, 1}})
    ->ArgNames({"side", "bits", "vector"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The in-memory part of a conversion of an 8-bit glyph: copy, widen, the rule.
void BM_WidenPaletted8(benchmark::State& State) {
  const int side = static_cast<int>(State.range(0));
  TBitmap rgb;
  FillGlyph(rgb, side, side);
  TBitmap source;
  source.SetPixelFormat(pf8bit);
  source.SetWidth(side);
  source.SetHeight(side);
  source.Canvas()->Draw(0, 0, rgb);
  for (auto _ : State) {
    TBitmap glyph;
    glyph.Assign(source);
    varnex_kit::WidenWithDisabledImage(glyph, 0xFFFFFF, 0x808080);
    benchmark::DoNotOptimize(glyph.ScanLine(0));
  }
  State.counters["MPix/s"] =
      benchmark::Counter(static_cast<double>(side) * side / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_WidenPaletted8)->Arg(16)->Arg(4096)->UseRealTime();

// The whole command, file to file, on a batch of 16 x 16 8-bit glyphs.
void BM_ConvertCommand16x16x8(benchmark::State& State) {
  constexpr int kFiles = 256;
  std::string base = (std::filesystem::temp_directory_path() / "varnex-bench-XXXXXX").string();
  if (::mkdtemp(base.data()) == nullptr) {
    State.SkipWithError("cannot create a temporary directory");
    return;
  }
  TBitmap rgb;
  FillGlyph(rgb, 16, 16);
  TBitmap glyph;
  glyph.SetPixelFormat(pf8bit);
  glyph.SetWidth(16);
  glyph.SetHeight(16);
  glyph.Canvas()->Draw(0, 0, rgb);
  std::filesystem::create_directory(base + "/src");
  for (int i = 0; i < kFiles; ++i) glyph.SaveToFile(base + "/src/g" + std::to_string(i) + ".bmp");
  int round = 0;
  for (auto _ : State) {
    State.PauseTiming();
    const std::string out = base + "/out" + std::to_string(round++);
    std::filesystem::create_directory(out);
    State.ResumeTiming();
    for (int i = 0; i < kFiles; ++i)
      TGlyphConvertCommand(base + "/src/g" + std::to_string(i) + ".bmp", 0xFFFFFF, 0x808080, out).Execute();
    State.PauseTiming();
    std::filesystem::remove_all(out);
    State.ResumeTiming();
  }
  std::filesystem::remove_all(base);
  State.SetItemsProcessed(State.iterations() * kFiles);
  State.counters["files/s"] = benchmark::Counter(kFiles, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_ConvertCommand16x16x8)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
