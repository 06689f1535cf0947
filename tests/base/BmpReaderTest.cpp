#include "base/Graphics.h"

#include "tests/common/BmpFixtures.h"
#include "tests/common/TestSupport.h"

#include <sys/stat.h>

using varnex_test::BuildBmp;
using varnex_test::JunkInRowPadding;
using varnex_test::Paletted;
using varnex_test::TBmpFixture;
using varnex_test::TempDir;
using varnex_test::WriteFileBytes;

namespace {

void Load(TBitmap& Bitmap, const std::string& Bytes) {
  Bitmap.LoadFromMemory(reinterpret_cast<const std::uint8_t*>(Bytes.data()), Bytes.size());
}

std::vector<TColor> Colours(const TBitmap& Bitmap) {
  std::vector<TColor> out;
  for (int y = 0; y < Bitmap.Height(); ++y)
    for (int x = 0; x < Bitmap.Width(); ++x) out.push_back(Bitmap.Canvas()->Pixel(x, y));
  return out;
}

}  // namespace

TEST(BmpReader, PaletteDepthsReadTheirTableColoursAtOddWidths) {
  const std::vector<TColor> table = {0x000000, 0x0000FF, 0x00FF00, 0xFF0000, 0x123456, 0xFFFFFF, 0x808080, 0x010203};
  for (const int bits : {1, 2, 4, 8}) {
    const std::uint32_t colours = std::min<std::uint32_t>(1u << bits, 8);
    std::vector<std::uint32_t> pixels;
    for (int i = 0; i < 5 * 3; ++i) pixels.push_back(static_cast<std::uint32_t>(i * 7 + i / 5) % colours);
    TBitmap b;
    Load(b, BuildBmp(Paletted(bits, std::vector<TColor>(table.begin(), table.begin() + colours), 5, 3, pixels)));
    ASSERT_EQ(b.BitCount(), bits);
    ASSERT_EQ(b.Palette().size(), colours);
    std::vector<TColor> expected;
    for (const std::uint32_t p : pixels) expected.push_back(table[p]);
    EXPECT_EQ(Colours(b), expected) << bits << " bits";
  }
}

TEST(BmpReader, IndexBeyondTheTableReadsBlackAndShortHeadersInferTheirTable) {
  TBitmap b;
  Load(b, BuildBmp(Paletted(8, {0xFFFFFF, 0x00FF00}, 3, 1, {1, 2, 255})));
  EXPECT_EQ(Colours(b), (std::vector<TColor>{0x00FF00, 0, 0}));

  // OS/2 headers carry no colour count; 3-byte entries up to the pixel offset form the table.
  TBmpFixture os2 = Paletted(8, {0x0000FF, 0x00FF00, 0xFF0000}, 3, 2, {0, 1, 2, 2, 1, 0});
  os2.HeaderSize = 12;
  Load(b, BuildBmp(os2));
  EXPECT_EQ(b.HeaderSize(), 12);
  EXPECT_EQ(b.Palette().size(), 3u);
  EXPECT_EQ(Colours(b), (std::vector<TColor>{0x0000FF, 0x00FF00, 0xFF0000, 0xFF0000, 0x00FF00, 0x0000FF}));
  os2.HeaderSize = 16;
  Load(b, BuildBmp(os2));
  EXPECT_EQ(b.Palette().size(), 3u);
  EXPECT_EQ(Colours(b)[1], 0x00FF00u);
}

TEST(BmpReader, DirectColourDepthsAndMasks) {
  TBitmap b;
  TBmpFixture f;
  f.Width = 3;
  f.Height = 1;
  f.BitCount = 24;
  f.Pixels = {0x112233, 0xFFFFFF, 0x000080};  // stored B, G, R: 0x112233 is red 0x11
  Load(b, BuildBmp(f));
  EXPECT_EQ(Colours(b), (std::vector<TColor>{0x332211, 0xFFFFFF, 0x800000}));

  f.BitCount = 16;  // 5-5-5 by default
  f.Pixels = {0x7C00, 0x001F, 0x0200};
  Load(b, BuildBmp(f));
  EXPECT_EQ(Colours(b), (std::vector<TColor>{0x0000FF, 0xFF0000, 0x84 << 8}));

  f.Compression = 3;
  f.Masks = {0xF800, 0x07E0, 0x001F};
  f.Pixels = {0xF800, 0x07E0, 0x0821};  // 1/31 red, 1/63 green, 1/31 blue
  Load(b, BuildBmp(f));
  EXPECT_EQ(b.BitMasks(), (std::array<std::uint32_t, 4>{0xF800, 0x07E0, 0x001F, 0}));
  EXPECT_EQ(Colours(b), (std::vector<TColor>{0x0000FF, 0x00FF00, 0x080408}));

  f.BitCount = 32;
  f.Compression = 0;
  f.Masks.clear();
  f.Pixels = {0xFF102030, 0x00FFFFFF, 0x7F000001};  // the top byte is not colour
  Load(b, BuildBmp(f));
  EXPECT_EQ(Colours(b), (std::vector<TColor>{0x302010, 0xFFFFFF, 0x010000}));

  f.Compression = 6;  // alpha bit fields after a 40-byte header, 10-bit channels
  f.Masks = {0x3FF00000, 0x000FFC00, 0x000003FF, 0xC0000000};
  f.Pixels = {0x3FF00000, 0xC0080000, 0x000003FF};
  Load(b, BuildBmp(f));
  EXPECT_EQ(b.BitMasks()[3], 0xC0000000u);
  EXPECT_EQ(Colours(b), (std::vector<TColor>{0x0000FF, 0x008000, 0xFF0000}));
}

TEST(BmpReader, MasksInsideLargerHeaders) {
  for (const int header : {52, 56, 108, 124}) {
    TBmpFixture f;
    f.HeaderSize = header;
    f.Width = 2;
    f.Height = 1;
    f.BitCount = 32;
    f.Compression = 3;
    f.Masks = {0x000000FF, 0x0000FF00, 0x00FF0000, header >= 56 ? 0xFF000000u : 0u};
    f.Pixels = {0x00332211, 0xFF0000FF};
    TBitmap b;
    Load(b, BuildBmp(f));
    EXPECT_EQ(b.HeaderSize(), header);
    EXPECT_EQ(Colours(b), (std::vector<TColor>{0x332211, 0x0000FF})) << header;
    EXPECT_EQ(b.BitMasks()[3], header >= 56 ? 0xFF000000u : 0u);
  }
}

TEST(BmpReader, TopDownRowsAndGapBeforeThePixels) {
  TBmpFixture f = Paletted(4, {0x000000, 0xFFFFFF, 0x0000FF}, 3, 2, {1, 2, 0, 0, 1, 2});
  TBitmap bottomUp;
  Load(bottomUp, BuildBmp(f));
  f.TopDown = true;
  f.Gap = 7;
  TBitmap topDown;
  Load(topDown, BuildBmp(f));
  EXPECT_TRUE(topDown.TopDown());
  EXPECT_FALSE(bottomUp.TopDown());
  EXPECT_EQ(Colours(topDown), Colours(bottomUp));
  EXPECT_EQ(Colours(topDown)[1], 0x0000FFu);
}

TEST(BmpReader, RunLengthEncodedEightAndFourBits) {
  const std::vector<TColor> table = {0x000000, 0x0000FF, 0x00FF00, 0xFF0000};
  TBmpFixture f = Paletted(8, table, 5, 3, {});
  f.Compression = 1;
  f.UseRawPixels = true;
  // Bottom row: a run of three 1s, a run of two 3s, end of line. Middle row: three
  // absolute pixels 2, 0, 3 with their pad byte, then a delta of (1, 1) to x = 4 of
  // the top row, where a run of one 2 and the end of the bitmap follow.
  f.RawPixels = std::string("\x03\x01\x02\x03\x00\x00", 6) + std::string("\x00\x03\x02\x00\x03\x00", 6) +
                std::string("\x00\x02\x01\x01\x01\x02\x00\x01", 8);
  TBitmap b;
  Load(b, BuildBmp(f));
  EXPECT_EQ(b.BitCount(), 8);
  EXPECT_EQ(Colours(b), (std::vector<TColor>{0, 0, 0, 0, 0x00FF00,             // top row
                                             0x00FF00, 0, 0xFF0000, 0, 0,      // middle row
                                             0x0000FF, 0x0000FF, 0x0000FF, 0xFF0000, 0xFF0000}));

  TBmpFixture g = Paletted(4, table, 6, 1, {});
  g.Compression = 2;
  g.UseRawPixels = true;
  // A run of three alternating 1, 2; three absolute pixels 3, 2, 1; end of line; end of bitmap.
  g.RawPixels = std::string("\x03\x12\x00\x03\x32\x10\x00\x00\x00\x01", 10);
  Load(b, BuildBmp(g));
  EXPECT_EQ(Colours(b), (std::vector<TColor>{0x0000FF, 0x00FF00, 0x0000FF, 0xFF0000, 0x00FF00, 0x0000FF}));
}

TEST(BmpReader, ZeroWidthOrHeightLoadsEmpty) {
  TBmpFixture f = Paletted(8, {0xFFFFFF}, 0, 4, {});
  TBitmap b;
  Load(b, BuildBmp(f));
  EXPECT_EQ(b.Width(), 0);
  EXPECT_EQ(b.Height(), 4);
  EXPECT_EQ(b.BitCount(), 8);
  f.Width = 4;
  f.Height = 0;
  Load(b, BuildBmp(f));
  EXPECT_EQ(b.Width(), 4);
  EXPECT_EQ(b.Height(), 0);
}

TEST(BmpReader, FailuresKeepTheBitmapAndUseTheStreamErrors) {
  TBitmap b;
  Load(b, BuildBmp(Paletted(8, {0x0000FF}, 2, 1, {0, 0})));
  std::string bad = BuildBmp(Paletted(8, {0x0000FF}, 2, 1, {0, 0}));
  bad[0] = 'X';
  EXPECT_THROW_MSG(Load(b, bad), EInvalidGraphic, "Bitmap signature is not BM");
  EXPECT_EQ(b.Width(), 2);
  EXPECT_EQ(b.Canvas()->Pixel(1, 0), 0x0000FFu);

  TempDir dir;
  EXPECT_THROW(b.LoadFromFile(dir / "missing.bmp"), EFOpenError);
  EXPECT_THROW(b.LoadFromFile(dir.Path()), EReadError);
  WriteFileBytes(dir / "text.bmp", "hello, world");
  EXPECT_THROW(b.LoadFromFile(dir / "text.bmp"), EInvalidGraphic);
  EXPECT_EQ(b.Width(), 2);
  EXPECT_THROW(b.LoadFromMemory(nullptr, 0), EInvalidGraphic);
}

TEST(BmpReader, FilesReadAsTheyDoFromMemoryWhereverTheHeadEnds) {
  TempDir dir;
  // Sizes around the bytes the first read takes, pixels far past it, and a gap before them.
  for (const int side : {10, 52, 53, 100}) {
    for (const int gap : {0, 9000}) {
      for (const bool topDown : {false, true}) {
        TBmpFixture f;
        f.Width = side;
        f.Height = side;
        f.TopDown = topDown;
        f.Gap = gap;
        for (int i = 0; i < side * side; ++i) f.Pixels.push_back(static_cast<std::uint32_t>(i * 2654435761u) & 0xFFFFFF);
        const std::string bytes = BuildBmp(f);
        WriteFileBytes(dir / "f.bmp", bytes);
        TBitmap fromFile, fromMemory;
        fromFile.LoadFromFile(dir / "f.bmp");
        Load(fromMemory, bytes);
        ASSERT_EQ(Colours(fromFile), Colours(fromMemory)) << side << " " << gap << " " << topDown;
        ASSERT_EQ(fromFile.SaveToMemory(), fromMemory.SaveToMemory());
      }
    }
  }
}

TEST(BmpReader, RunLengthFilesLargerThanTheFirstReadLoadWhole) {
  TempDir dir;
  // Rows of single-pixel runs: 2 bytes a pixel, so the data runs far past the first read.
  const std::vector<TColor> table = {0x000000, 0x0000FF, 0x00FF00, 0xFF0000};
  TBmpFixture f = Paletted(8, table, 100, 60, {});
  f.Compression = 1;
  f.UseRawPixels = true;
  for (int y = 0; y < f.Height; ++y) {
    for (int x = 0; x < f.Width; ++x) f.RawPixels += {'\x01', static_cast<char>((x * 7 + y) % 4)};
    f.RawPixels += std::string("\x00\x00", 2);
  }
  f.RawPixels += std::string("\x00\x01", 2);
  const std::string bytes = BuildBmp(f);
  ASSERT_GT(bytes.size(), 12000u);
  WriteFileBytes(dir / "rle.bmp", bytes);
  TBitmap fromFile, fromMemory;
  fromFile.LoadFromFile(dir / "rle.bmp");
  Load(fromMemory, bytes);
  const std::vector<TColor> colours = Colours(fromFile);
  EXPECT_EQ(colours, Colours(fromMemory));
  // Bottom-up: the file's first row is the image's last, and its pixel x is index (7x) % 4.
  EXPECT_EQ(colours[59 * 100 + 1], table[3]);
  EXPECT_EQ(colours[0], table[59 % 4]);
}

TEST(BmpReader, FilesAreCheckedBeforeTheirPixelsAreRead) {
  TempDir dir;
  TBitmap b;
  // Headers that promise more pixels than the file holds.
  TBmpFixture f = Paletted(8, {0x0000FF}, 100, 100, std::vector<std::uint32_t>(100 * 100, 0));
  std::string bytes = BuildBmp(f);
  bytes.resize(bytes.size() - 1);
  WriteFileBytes(dir / "short.bmp", bytes);
  EXPECT_THROW_MSG(b.LoadFromFile(dir / "short.bmp"), EInvalidGraphic, "Bitmap pixel data is truncated");
  // Devices and pipes are refused as files that cannot be opened, before any read.
  EXPECT_THROW(b.LoadFromFile("/dev/zero"), EFOpenError);
  ASSERT_EQ(::mkfifo((dir / "pipe.bmp").c_str(), 0600), 0);
  EXPECT_THROW(b.LoadFromFile(dir / "pipe.bmp"), EFOpenError);
  EXPECT_EQ(b.Width(), 0);
}

TEST(BmpReader, AWidenedLoadGivesTheBytesOfALoadThenAWidening) {
  TempDir dir;
  std::vector<std::pair<std::string, TBmpFixture>> cases;
  for (const int bits : {1, 4, 8, 16, 24, 32})
    for (const bool topDown : {false, true}) {
      TBmpFixture f = Paletted(bits, {0x0000FF, 0x00FF00}, 5, 3, {});
      if (bits > 8) f.Palette.clear();
      f.TopDown = topDown;
      for (std::uint32_t i = 0; i < 15; ++i) f.Pixels.push_back((i * 2654435761u) & (bits == 32 ? ~0u : (1u << bits) - 1));
      cases.emplace_back(BuildBmp(f), f);
      JunkInRowPadding(cases.back().first, f);
    }
  TBmpFixture rle = Paletted(8, {0x0000FF, 0x00FF00}, 4, 3, {});
  rle.Compression = 1;
  rle.UseRawPixels = true;
  rle.RawPixels = std::string("\x04\x01\x00\x00\x00\x02\x01\x01\x02\x00\x00\x01", 12);  // a delta skips row 2
  cases.emplace_back(BuildBmp(rle), rle);
  TBmpFixture noRows = Paletted(8, {0x0000FF}, 6, 0, {});
  cases.emplace_back(BuildBmp(noRows), noRows);
  for (const auto& [bytes, f] : cases) {
    WriteFileBytes(dir / "f.bmp", bytes);
    TBitmap widened, expected;
    widened.LoadWidenedFromFile(dir / "f.bmp");
    expected.LoadFromFile(dir / "f.bmp");
    if (expected.Height() > 0) expected.SetWidth(2 * expected.Width());
    ASSERT_EQ(widened.Width(), f.Height == 0 ? f.Width : 2 * f.Width) << f.BitCount << " bits";
    ASSERT_EQ(widened.SaveToMemory(), expected.SaveToMemory()) << f.BitCount << " bits, top-down " << f.TopDown;
  }
  // A file that fails leaves the bitmap as it was.
  std::string shortFile = cases.front().first;
  shortFile.resize(shortFile.size() - 1);
  WriteFileBytes(dir / "short.bmp", shortFile);
  TBitmap kept;
  kept.LoadWidenedFromFile(dir / "f.bmp");
  EXPECT_THROW_MSG(kept.LoadWidenedFromFile(dir / "short.bmp"), EInvalidGraphic, "Bitmap pixel data is truncated");
  EXPECT_EQ(kept.Width(), 6);
}
