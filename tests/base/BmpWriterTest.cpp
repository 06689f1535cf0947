#include "base/Graphics.h"

#include "tests/common/BmpFixtures.h"
#include "tests/common/TestSupport.h"

#include <filesystem>

using varnex_test::BuildBmp;
using varnex_test::ReadFileBytes;
using varnex_test::TBmpFixture;
using varnex_test::TempDir;
using varnex_test::WriteFileBytes;

namespace {

std::uint32_t Le(const std::vector<std::uint8_t>& b, std::size_t at, int bytes) {
  std::uint32_t v = 0;
  for (int i = 0; i < bytes; ++i) v |= static_cast<std::uint32_t>(b[at + static_cast<std::size_t>(i)]) << (8 * i);
  return v;
}

void Load(TBitmap& Bitmap, const std::vector<std::uint8_t>& Bytes) { Bitmap.LoadFromMemory(Bytes.data(), Bytes.size()); }

void Load(TBitmap& Bitmap, const std::string& Bytes) {
  Bitmap.LoadFromMemory(reinterpret_cast<const std::uint8_t*>(Bytes.data()), Bytes.size());
}

struct TFormatCase {
  const char* Name;
  int HeaderSize;
  int BitCount;
  std::uint32_t Compression;
  std::vector<std::uint32_t> Masks;
  int Colours;
  bool TopDown;
};

TBmpFixture FixtureFor(const TFormatCase& c, int Width) {
  TBmpFixture f;
  f.HeaderSize = c.HeaderSize;
  f.BitCount = c.BitCount;
  f.Compression = c.Compression;
  f.Masks = c.Masks;
  f.TopDown = c.TopDown;
  f.Width = Width;
  f.Height = 3;
  for (int i = 0; i < c.Colours; ++i) f.Palette.push_back(static_cast<std::uint32_t>(0x10305 * (i + 1)) & 0xFFFFFF);
  const std::uint64_t range = c.BitCount >= 24 ? 0x1000000 : (c.Colours > 0 ? c.Colours : (1u << c.BitCount));
  for (int i = 0; i < Width * f.Height; ++i)
    f.Pixels.push_back(static_cast<std::uint32_t>((static_cast<std::uint64_t>(i) * 2654435761u) % range));
  if (c.BitCount == 32) {
    const std::uint32_t used = c.Masks.empty() ? 0xFFFFFF : c.Masks[0] | c.Masks[1] | c.Masks[2] | (c.Masks.size() > 3 ? c.Masks[3] : 0);
    for (auto& p : f.Pixels) p = (p * 0x01010101u) & used;
  }
  if (c.BitCount == 16) {
    const std::uint32_t used = c.Masks.empty() ? 0x7FFF : c.Masks[0] | c.Masks[1] | c.Masks[2];
    for (auto& p : f.Pixels) p = (p * 0x0101u) & used;
  }
  return f;
}

class BmpRoundTrip : public ::testing::TestWithParam<TFormatCase> {};

}  // namespace

TEST_P(BmpRoundTrip, KeepsFormatPixelsAndZeroPadding) {
  const TFormatCase& c = GetParam();
  for (const int width : {1, 3, 5, 7}) {
    TBitmap source;
    Load(source, BuildBmp(FixtureFor(c, width)));
    const std::vector<std::uint8_t> saved = source.SaveToMemory();
    TBitmap again;
    Load(again, saved);
    EXPECT_EQ(again.BitCount(), c.BitCount);
    EXPECT_EQ(again.HeaderSize(), c.HeaderSize);
    EXPECT_EQ(again.TopDown(), c.TopDown);
    EXPECT_EQ(again.Palette(), source.Palette());
    EXPECT_EQ(again.BitMasks(), source.BitMasks());
    ASSERT_EQ(again.Width(), width);
    ASSERT_EQ(again.Height(), 3);
    const std::size_t used = (static_cast<std::size_t>(width) * static_cast<std::size_t>(c.BitCount) + 7) / 8;
    const std::size_t stride = (used + 3) / 4 * 4;
    for (int y = 0; y < 3; ++y)
      EXPECT_EQ(std::vector<std::uint8_t>(again.ScanLine(y), again.ScanLine(y) + used),
                std::vector<std::uint8_t>(source.ScanLine(y), source.ScanLine(y) + used))
          << c.Name << " width " << width << " row " << y;

    // The file itself: its size, its offset, and zero bytes in every row's padding.
    const std::uint32_t offset = Le(saved, 10, 4);
    ASSERT_EQ(saved.size(), offset + stride * 3) << c.Name;
    EXPECT_EQ(Le(saved, 2, 4), saved.size());
    EXPECT_EQ(Le(saved, 14, 4), static_cast<std::uint32_t>(c.HeaderSize));
    for (std::size_t row = 0; row < 3; ++row)
      for (std::size_t i = used; i < stride; ++i) EXPECT_EQ(saved[offset + row * stride + i], 0) << c.Name;
    if (c.HeaderSize >= 40) {
      EXPECT_EQ(Le(saved, 30, 4), c.Compression) << c.Name;
      EXPECT_EQ(Le(saved, 46, 4), static_cast<std::uint32_t>(c.Colours)) << c.Name;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    AllWritableFormats, BmpRoundTrip,
    ::testing::Values(TFormatCase{"pal1", 40, 1, 0, {}, 2, false}, TFormatCase{"pal2", 40, 2, 0, {}, 4, false},
                      TFormatCase{"pal4_short_table", 40, 4, 0, {}, 5, false},
                      TFormatCase{"pal8_top_down", 40, 8, 0, {}, 7, true},
                      TFormatCase{"pal8_os2_core", 12, 8, 0, {}, 9, false},
                      TFormatCase{"pal4_os2_short", 16, 4, 0, {}, 16, false},
                      TFormatCase{"pal8_os2_long", 64, 8, 0, {}, 9, false},
                      TFormatCase{"rgb16_555", 40, 16, 0, {}, 0, false},
                      TFormatCase{"rgb16_565", 40, 16, 3, {0xF800, 0x07E0, 0x001F}, 0, false},
                      TFormatCase{"rgb24", 40, 24, 0, {}, 0, false}, TFormatCase{"rgb24_table", 40, 24, 0, {}, 3, true},
                      TFormatCase{"rgb32", 40, 32, 0, {}, 0, false},
                      TFormatCase{"rgba32_40", 40, 32, 6, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}, 0, false},
                      TFormatCase{"xbgr32_52", 52, 32, 3, {0xFF000000, 0xFF0000, 0xFF00}, 0, false},
                      TFormatCase{"rgba32_56", 56, 32, 3, {0xFF, 0xFF00, 0xFF0000, 0xFF000000}, 0, false},
                      TFormatCase{"rgb16_v4", 108, 16, 3, {0xF800, 0x07E0, 0x001F, 0}, 0, true},
                      TFormatCase{"pal8_v5", 124, 8, 0, {}, 3, false}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(BmpWriter, RunLengthSourcesAreWrittenUncompressedAtTheirDepth) {
  TBmpFixture f;
  f.BitCount = 8;
  f.Compression = 1;
  f.Palette = {0x000000, 0x0000FF};
  f.Width = 3;
  f.Height = 1;
  f.UseRawPixels = true;
  f.RawPixels = std::string("\x03\x01\x00\x01", 4);
  TBitmap b;
  Load(b, BuildBmp(f));
  const std::vector<std::uint8_t> saved = b.SaveToMemory();
  EXPECT_EQ(Le(saved, 28, 2), 8u);
  EXPECT_EQ(Le(saved, 30, 4), 0u);
  TBitmap again;
  Load(again, saved);
  EXPECT_EQ(again.Canvas()->Pixel(2, 0), 0x0000FFu);
}

TEST(BmpWriter, ALinkedColourProfileIsNotCarriedOver) {
  TBmpFixture f;
  f.HeaderSize = 124;
  f.Width = 1;
  f.Height = 1;
  f.Pixels = {0x123456};
  std::string bytes = BuildBmp(f);
  bytes.replace(14 + 56, 4, "KNIL");                   // 'LINK' little-endian
  bytes.replace(14 + 112, 8, std::string("\x7C\x00\x00\x00\x09\x00\x00\x00", 8));
  TBitmap b;
  Load(b, bytes);
  const std::vector<std::uint8_t> saved = b.SaveToMemory();
  EXPECT_EQ(Le(saved, 14 + 56, 4), 0x73524742u);  // 'sRGB'
  EXPECT_EQ(Le(saved, 14 + 112, 4), 0u);
  EXPECT_EQ(Le(saved, 14 + 116, 4), 0u);
}

TEST(BmpWriter, SaveToFileReplacesOnlyWhenAskedAndLeavesNoTemporary) {
  TempDir dir;
  TBmpFixture f;
  f.Width = 2;
  f.Height = 2;
  f.Pixels = {1, 2, 3, 4};
  TBitmap b;
  Load(b, BuildBmp(f));
  WriteFileBytes(dir / "taken.bmp", "keep me");
  EXPECT_THROW(b.SaveToFile(dir / "taken.bmp", false), EFileExists);
  EXPECT_EQ(ReadFileBytes(dir / "taken.bmp"), "keep me");
  b.SaveToFile(dir / "taken.bmp");
  const std::vector<std::uint8_t> expected = b.SaveToMemory();
  EXPECT_EQ(ReadFileBytes(dir / "taken.bmp"), std::string(expected.begin(), expected.end()));
  WriteFileBytes(dir / "file", "x");
  EXPECT_THROW(b.SaveToFile(dir / "file/sub.bmp"), EFCreateError);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), std::filesystem::directory_iterator()), 2);
}

TEST(BmpWriter, EachSavedFileHoldsExactlyItsOwnImage) {
  // One after another, as a batch saves them: heads of every size, images written in one piece
  // and images whose rows go out separately. Nothing of an earlier file may reach a later one.
  TempDir dir;
  const std::vector<TBmpFixture> images = {
      FixtureFor({"pal8_v5", 124, 8, 0, {}, 256, false}, 9),
      FixtureFor({"rgb24", 40, 24, 0, {}, 0, false}, 3),
      FixtureFor({"rgb24_large", 40, 24, 0, {}, 0, true}, 9000),  // 81 KB of rows
      FixtureFor({"pal1_core", 12, 1, 0, {}, 2, false}, 5),
      FixtureFor({"rgba32_56", 56, 32, 3, {0xFF, 0xFF00, 0xFF0000, 0xFF000000}, 0, false}, 7000),
      FixtureFor({"pal4", 40, 4, 0, {}, 16, true}, 1)};
  int n = 0;
  for (const TBmpFixture& f : images) {
    TBitmap b;
    Load(b, BuildBmp(f));
    const std::string name = "g" + std::to_string(n++) + ".bmp";
    b.SaveToFile(dir / name, false);
    const std::vector<std::uint8_t> expected = b.SaveToMemory();
    ASSERT_EQ(ReadFileBytes(dir / name), std::string(expected.begin(), expected.end())) << name;
    TBitmap again;
    again.LoadFromFile(dir / name);
    EXPECT_EQ(again.SaveToMemory(), expected) << name;
  }
}
