#include "base/Graphics.h"

#include "tests/common/BmpFixtures.h"
#include "tests/common/TestSupport.h"

#include <cstring>

using varnex_test::BuildBmp;
using varnex_test::Paletted;
using varnex_test::TBmpFixture;

namespace {

void Load(TBitmap& Bitmap, const TBmpFixture& Fixture) {
  const std::string bytes = BuildBmp(Fixture);
  Bitmap.LoadFromMemory(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

}  // namespace

TEST(Bitmap, StartsEmptyAt24BitsAndScanLinesAreBlueGreenRed) {
  TBitmap b;
  EXPECT_EQ(b.Width(), 0);
  EXPECT_EQ(b.Height(), 0);
  EXPECT_EQ(b.PixelFormat(), pf24bit);
  EXPECT_THROW(b.ScanLine(0), EInvalidGraphicOperation);
  b.SetWidth(3);
  b.SetHeight(2);
  b.Canvas()->SetPixel(1, 0, 0x332211);
  const std::uint8_t* row = b.ScanLine(0);
  EXPECT_EQ(row[3], 0x33);
  EXPECT_EQ(row[4], 0x22);
  EXPECT_EQ(row[5], 0x11);
  b.ScanLine(1)[0] = 0xAA;  // blue of (0, 1)
  EXPECT_EQ(b.Canvas()->Pixel(0, 1), 0xAA0000u);
  EXPECT_THROW(b.ScanLine(2), EInvalidGraphicOperation);
  EXPECT_THROW(b.Canvas()->Pixel(3, 0), EInvalidGraphicOperation);
  EXPECT_THROW(b.Canvas()->SetPixel(-1, 0, 0), EInvalidGraphicOperation);
  EXPECT_THROW(b.SetWidth(-1), EInvalidGraphicOperation);
}

TEST(Bitmap, GrowingKeepsPixelsAtTheirCoordinatesAndShrinkingClearsTheTail) {
  TBitmap b;
  Load(b, Paletted(4, {0x000000, 0x0000FF, 0x00FF00, 0xFF0000}, 3, 2, {1, 2, 3, 3, 2, 1}));
  b.SetWidth(6);
  ASSERT_EQ(b.Width(), 6);
  const std::vector<TColor> top = {0x0000FF, 0x00FF00, 0xFF0000, 0, 0, 0};
  for (int x = 0; x < 6; ++x) EXPECT_EQ(b.Canvas()->Pixel(x, 0), top[static_cast<std::size_t>(x)]) << x;
  EXPECT_EQ(b.Canvas()->Pixel(2, 1), 0x0000FFu);
  EXPECT_EQ(b.BitCount(), 4);
  b.SetWidth(1);
  b.SetWidth(3);
  EXPECT_EQ(b.Canvas()->Pixel(0, 1), 0xFF0000u);
  EXPECT_EQ(b.Canvas()->Pixel(1, 1), 0u) << "a pixel cut off by shrinking must not come back";
  b.SetHeight(3);
  EXPECT_EQ(b.Canvas()->Pixel(0, 0), 0x0000FFu);
  EXPECT_EQ(b.Canvas()->Pixel(0, 2), 0u);
}

TEST(Bitmap, PixelFormatChangesConvertTheContent) {
  TBitmap b;
  b.SetPixelFormat(pf8bit);
  EXPECT_EQ(b.Palette().size(), 256u);
  b.SetPixelFormat(pf24bit);
  b.SetWidth(2);
  b.SetHeight(1);
  b.Canvas()->SetPixel(0, 0, 0xFFFFFF);
  b.Canvas()->SetPixel(1, 0, 0x7E7E7E);
  b.SetPixelFormat(pf1bit);  // grey ramp of two: black and white
  EXPECT_EQ(b.PixelFormat(), pf1bit);
  EXPECT_EQ(b.Canvas()->Pixel(0, 0), 0xFFFFFFu);
  EXPECT_EQ(b.Canvas()->Pixel(1, 0), 0u);
  b.SetPixelFormat(pf16bit);
  EXPECT_EQ(b.BitMasks()[0], 0x7C00u);
  EXPECT_EQ(b.Canvas()->Pixel(0, 0), 0xFFFFFFu);
}

TEST(Canvas, DrawConvertsToRgbAndClips) {
  TBitmap source;
  Load(source, Paletted(8, {0x0000FF, 0x00FF00, 0xFF0000}, 2, 2, {0, 1, 2, 7}));
  TBitmap work;
  work.SetPixelFormat(pf24bit);
  work.SetWidth(2);
  work.SetHeight(2);
  work.Canvas()->Draw(0, 0, source);
  EXPECT_EQ(work.Canvas()->Pixel(0, 0), 0x0000FFu);
  EXPECT_EQ(work.Canvas()->Pixel(1, 0), 0x00FF00u);
  EXPECT_EQ(work.Canvas()->Pixel(0, 1), 0xFF0000u);
  EXPECT_EQ(work.Canvas()->Pixel(1, 1), 0u);
  work.Canvas()->SetPixel(1, 1, 0x123456);
  work.Canvas()->Draw(1, -1, source);
  EXPECT_EQ(work.Canvas()->Pixel(1, 0), 0xFF0000u);
  EXPECT_EQ(work.Canvas()->Pixel(0, 0), 0x0000FFu);
  EXPECT_EQ(work.Canvas()->Pixel(1, 1), 0x123456u) << "nothing of the source falls on the bottom row";
  work.Canvas()->Draw(-5, 0, source);
  work.Canvas()->Draw(2, 0, source);
  EXPECT_EQ(work.Canvas()->Pixel(1, 0), 0xFF0000u);
}

TEST(Canvas, CopyRectStoresTheNearestColourOfTheTarget) {
  TBitmap rgb;
  rgb.SetWidth(4);
  rgb.SetHeight(1);
  const TColor inputs[4] = {0x000010, 0x0000F0, 0x7F7F7F, 0x808080};
  for (int x = 0; x < 4; ++x) rgb.Canvas()->SetPixel(x, 0, inputs[x]);

  // 0x000010 is as near to entry 0 as to entry 1, and 0x7F7F7F as near to entry 0 as to
  // entry 3: the lower index wins both ties. 0x808080 is nearest to 0xFEFEFE.
  TBitmap pal;
  Load(pal, Paletted(8, {0x000000, 0x000000, 0xFFFFFF, 0xFEFEFE, 0x0000FF}, 4, 1, {0, 0, 0, 0}));
  pal.Canvas()->CopyRect(TRect{0, 0, 4, 1}, *rgb.Canvas(), TRect{0, 0, 4, 1});
  EXPECT_EQ(pal.ScanLine(0)[0], 0);
  EXPECT_EQ(pal.ScanLine(0)[1], 4);
  EXPECT_EQ(pal.ScanLine(0)[2], 0);
  EXPECT_EQ(pal.ScanLine(0)[3], 3);

  TBitmap hi;
  TBmpFixture f;
  f.BitCount = 16;
  f.Compression = 3;
  f.Masks = {0xF800, 0x07E0, 0x001F};
  f.Width = 4;
  f.Height = 1;
  f.Pixels = {0, 0, 0, 0};
  Load(hi, f);
  hi.Canvas()->CopyRect(TRect{0, 0, 4, 1}, *rgb.Canvas(), TRect{0, 0, 4, 1});
  std::uint16_t v;
  std::memcpy(&v, hi.ScanLine(0) + 4, 2);
  EXPECT_EQ(v, (15 << 11) | (31 << 5) | 15) << "0x7F rounds to 15 of 31 and 31 of 63";
  std::memcpy(&v, hi.ScanLine(0), 2);
  EXPECT_EQ(v, 2 << 11) << "0x10 rounds to 2 of 31";

  TBitmap alpha;
  f.BitCount = 32;
  f.Compression = 6;
  f.Masks = {0xFF0000, 0xFF00, 0xFF, 0xFF000000};
  Load(alpha, f);
  alpha.Canvas()->CopyRect(TRect{0, 0, 4, 1}, *rgb.Canvas(), TRect{0, 0, 4, 1});
  std::uint32_t w;
  std::memcpy(&w, alpha.ScanLine(0) + 12, 4);
  EXPECT_EQ(w, 0xFF808080u);

  EXPECT_THROW(pal.Canvas()->CopyRect(TRect{0, 0, 2, 1}, *rgb.Canvas(), TRect{0, 0, 3, 1}), EInvalidGraphicOperation);
}

TEST(Bitmap, NearestEntriesFollowTheColourTableOfEachImage) {
  // Tables of one size that differ in one entry, asked for the same colours in turn:
  // an answer kept from one table must not serve the other.
  TBitmap a, b, c;
  Load(a, Paletted(8, {0x000000, 0x808080, 0xFFFFFF, 0x0000FF}, 1, 1, {0}));
  Load(b, Paletted(8, {0x000000, 0xFFFFFF, 0x808080, 0x0000FF}, 1, 1, {0}));
  Load(c, Paletted(8, {0x000000, 0xFFFFFF, 0x808080}, 1, 1, {0}));
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(a.PixelValue(0x808080), 1u);
    EXPECT_EQ(b.PixelValue(0x808080), 2u);
    EXPECT_EQ(a.PixelValue(0xF0F0F0), 2u);
    EXPECT_EQ(b.PixelValue(0xF0F0F0), 1u);
    EXPECT_EQ(c.PixelValue(0x0000FF), 2u) << "the shorter table has no red; grey is nearest";
    EXPECT_EQ(b.PixelValue(0x0000FF), 3u);
  }
  // More colours than the memo holds, asked twice: each answer is still the nearest.
  for (int round = 0; round < 2; ++round)
    for (unsigned grey = 0; grey < 256; grey += 16)
      EXPECT_EQ(a.PixelValue(grey * 0x010101u), grey <= 0x40 ? 0u : grey < 0xC0 ? 1u : 2u) << grey;
}

TEST(Canvas, CopyWithinOneBitmapReadsTheOriginalRows) {
  TBitmap b;
  b.SetWidth(1);
  b.SetHeight(3);
  for (int y = 0; y < 3; ++y) b.Canvas()->SetPixel(0, y, static_cast<TColor>(y + 1));
  b.Canvas()->CopyRect(TRect{0, 1, 1, 3}, *b.Canvas(), TRect{0, 0, 1, 2});
  EXPECT_EQ(b.Canvas()->Pixel(0, 0), 1u);
  EXPECT_EQ(b.Canvas()->Pixel(0, 1), 1u);
  EXPECT_EQ(b.Canvas()->Pixel(0, 2), 2u);
}
