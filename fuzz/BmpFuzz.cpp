// Feeds arbitrary bytes to the BMP reader, from memory and through a file (also with room to
// widen), widens what it accepts the way the glyph command does, and checks that the writer's
// output reads back to the same bitmap.

#include "app/DisabledRule.h"
#include "base/Graphics.h"
#include "tests/kit/GlyphKit.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

// Larger images are valid but slow the search down without reaching new code.
constexpr std::int64_t kMaxWidenedPixels = std::int64_t{1} << 20;

// Widens the way the glyph command does, on both routes of the rule, which must agree.
void Widen(TBitmap& Bitmap) {
  if (std::int64_t{Bitmap.Width()} * Bitmap.Height() > kMaxWidenedPixels) return;
  TBitmap scalar;
  scalar.Assign(Bitmap);
  varnex_kit::WidenWithDisabledImage(Bitmap, 0xFFFFFF, 0x808080);
  SetDisabledVectorRoute(false);
  varnex_kit::WidenWithDisabledImage(scalar, 0xFFFFFF, 0x808080);
  SetDisabledVectorRoute(true);
  if (Bitmap.SaveToMemory() != scalar.SaveToMemory()) __builtin_trap();
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

// A read with room to widen must give what a read and then a widening give.
void CheckWidenedRead(const std::string& Path, const TBitmap& FromMemory) {
  if (std::int64_t{FromMemory.Width()} * FromMemory.Height() > kMaxWidenedPixels) return;
  TBitmap widened, expected;
  widened.LoadWidenedFromFile(Path);
  expected.Assign(FromMemory);
  if (expected.Height() > 0) expected.SetWidth(2 * expected.Width());
  if (!SameBitmap(widened, expected)) __builtin_trap();
}

// Reads the same bytes through the file reader, which takes the head and the rows in
// separate reads; it must agree with the reader of memory on every input.
void CheckFileRead(const std::uint8_t* Data, std::size_t Size, const TBitmap* FromMemory) {
  const int fd = ::memfd_create("BmpFuzz", MFD_CLOEXEC);
  if (fd < 0) return;
  if (Size == 0 || ::write(fd, Data, Size) == static_cast<ssize_t>(Size)) {
    TBitmap fromFile;
    bool loaded = true;
    try {
      fromFile.LoadFromFile("/proc/self/fd/" + std::to_string(fd));
    } catch (const EInvalidGraphic&) {
      loaded = false;
    }
    if (loaded != (FromMemory != nullptr) || (loaded && !SameBitmap(fromFile, *FromMemory))) __builtin_trap();
    if (loaded) CheckWidenedRead("/proc/self/fd/" + std::to_string(fd), *FromMemory);
  }
  ::close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  TBitmap bitmap;
  try {
    bitmap.LoadFromMemory(Data, Size);
  } catch (const EInvalidGraphic&) {
    CheckFileRead(Data, Size, nullptr);
    return 0;
  }
  CheckFileRead(Data, Size, &bitmap);
  Widen(bitmap);
  const std::vector<std::uint8_t> saved = bitmap.SaveToMemory();
  if (std::int64_t{bitmap.Width()} > kBmpMaxSide) return 0;
  TBitmap again;
  again.LoadFromMemory(saved.data(), saved.size());
  if (!SameBitmap(bitmap, again)) __builtin_trap();
  return 0;
}
