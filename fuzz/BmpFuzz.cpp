// Feeds arbitrary bytes to the BMP reader, widens what it accepts the way the glyph
// command does, and checks that the writer's output reads back to the same bitmap.

#include "app/GlyphConvertCommand.h"
#include "base/Graphics.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

// Larger images are valid but slow the search down without reaching new code.
constexpr std::int64_t kMaxWidenedPixels = std::int64_t{1} << 20;

void Widen(TBitmap& Bitmap) {
  const int w = Bitmap.Width();
  const int h = Bitmap.Height();
  if (w == 0 || h == 0 || std::int64_t{w} * h > kMaxWidenedPixels) return;
  TBitmap work;
  work.SetPixelFormat(pf24bit);
  work.SetWidth(w);
  work.SetHeight(h);
  work.Canvas()->Draw(0, 0, Bitmap);
  MakeDisabledImage(work, 0xFFFFFF, 0x808080);
  Bitmap.SetWidth(2 * w);
  Bitmap.Canvas()->CopyRect(TRect{w, 0, 2 * w, h}, *work.Canvas(), TRect{0, 0, w, h});
}

bool SameBitmap(const TBitmap& A, const TBitmap& B) {
  if (A.Width() != B.Width() || A.Height() != B.Height() || A.BitCount() != B.BitCount() ||
      A.Palette() != B.Palette() || A.BitMasks() != B.BitMasks() || A.TopDown() != B.TopDown())
    return false;
  if (A.Width() == 0) return true;
  const std::size_t bytes = (static_cast<std::size_t>(A.Width()) * static_cast<std::size_t>(A.BitCount()) + 7) / 8;
  for (int y = 0; y < A.Height(); ++y)
    if (std::memcmp(A.ScanLine(y), B.ScanLine(y), bytes) != 0) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  TBitmap bitmap;
  try {
    bitmap.LoadFromMemory(Data, Size);
  } catch (const EInvalidGraphic&) {
    return 0;
  }
  Widen(bitmap);
  const std::vector<std::uint8_t> saved = bitmap.SaveToMemory();
  if (std::int64_t{bitmap.Width()} > kBmpMaxSide) return 0;
  TBitmap again;
  again.LoadFromMemory(saved.data(), saved.size());
  if (!SameBitmap(bitmap, again)) __builtin_trap();
  return 0;
}
