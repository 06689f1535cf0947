// Converts the BMP conformance set when VARNEX_BMPSUITE_DIR names it.

#include "app/GlyphConvertCommand.h"

#include "base/Graphics.h"
#include "base/SysUtils.h"
#include "tests/common/TestSupport.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>

using varnex_test::TempDir;

namespace {

constexpr TColor kWhite = 0xFFFFFF;

std::string SuiteDir() { return VARNEX_BMPSUITE_DIR; }

std::vector<std::string> Files(const std::string& Group) {
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(SuiteDir() + "/" + Group))
    if (entry.path().extension() == ".bmp") files.push_back(entry.path().string());
  std::sort(files.begin(), files.end());
  return files;
}

// The bits of one pixel as stored, read without the bitmap's own codec.
std::uint32_t RawPixel(const TBitmap& B, int X, int Y) {
  const std::uint8_t* row = B.ScanLine(Y);
  const int bits = B.BitCount();
  if (bits < 8) {
    const std::size_t bit = static_cast<std::size_t>(X) * static_cast<std::size_t>(bits);
    return (row[bit / 8] >> (8 - bits - static_cast<int>(bit % 8))) & ((1u << bits) - 1);
  }
  std::uint32_t v = 0;
  for (int i = 0; i < bits / 8; ++i) v |= static_cast<std::uint32_t>(row[X * (bits / 8) + i]) << (8 * i);
  return v;
}

// The colour a format shows after storing Colour, worked out independently of the codec.
TColor Representable(const TBitmap& B, TColor Colour) {
  if (B.BitCount() == 24 || (B.BitCount() == 32 && B.BitMasks()[0] == 0xFF0000 && B.BitMasks()[1] == 0xFF00 &&
                             B.BitMasks()[2] == 0xFF))
    return Colour;
  const auto channel = [&](int i) { return static_cast<int>((Colour >> (8 * i)) & 0xFF); };
  if (B.BitCount() <= 8) {
    std::size_t best = 0;
    int bestDistance = std::numeric_limits<int>::max();
    for (std::size_t i = 0; i < B.Palette().size(); ++i) {
      int d = 0;
      for (int c = 0; c < 3; ++c) {
        const int delta = channel(c) - static_cast<int>((B.Palette()[i] >> (8 * c)) & 0xFF);
        d += delta * delta;
      }
      if (d < bestDistance) bestDistance = d, best = i;
    }
    return B.Palette().empty() ? 0 : B.Palette()[best];
  }
  TColor out = 0;
  for (int c = 0; c < 3; ++c) {
    std::uint32_t mask = B.BitMasks()[static_cast<std::size_t>(c)];
    while ((mask & 1) == 0) mask >>= 1;
    const double max = mask;
    const double stored = std::floor(channel(c) * max / 255.0 + 0.5);
    out |= static_cast<TColor>(std::floor(stored * 255.0 / max + 0.5)) << (8 * c);
  }
  return out;
}

// Converts Path and checks the result pixel by pixel; false when the source was rejected.
bool ConvertAndCheck(const std::string& Path, TColor Light, TColor Shadow) {
  TempDir out;
  try {
    TGlyphConvertCommand(Path, Light, Shadow, out.Path()).Execute();
  } catch (const EGlyphConvertError& e) {
    EXPECT_EQ(e.Message(), "Cannot load glyph from file: " + Path);
    EXPECT_TRUE(std::filesystem::is_empty(out.Path()));
    return false;
  }
  TBitmap source, result;
  source.LoadFromFile(Path);
  result.LoadFromFile(out / ExtractFileName(Path));
  const int w = source.Width(), h = source.Height();
  EXPECT_EQ(result.Width(), 2 * w) << Path;
  EXPECT_EQ(result.Height(), h) << Path;
  EXPECT_EQ(result.BitCount(), source.BitCount()) << Path;
  EXPECT_EQ(result.Palette(), source.Palette()) << Path;
  EXPECT_EQ(result.BitMasks(), source.BitMasks()) << Path;
  if (result.Width() != 2 * w || result.Height() != h || w == 0 || h == 0) return true;
  const TColor bg = source.Canvas()->Pixel(0, h - 1);
  // With an alpha channel a transparent pixel is paper, and so is the background colour only while it shows.
  const std::uint32_t alphaMask = source.BitCount() >= 16 ? source.BitMasks()[3] : 0;
  const auto alphaOf = [&](int x, int y) { return RawPixel(source, x, y) & alphaMask; };
  const bool bgShows = alphaMask == 0 || alphaOf(0, h - 1) != 0;
  const auto ink = [&](int x, int y) {
    const TColor c = source.Canvas()->Pixel(x, y);
    return (alphaMask == 0 || alphaOf(x, y) != 0) && (c != bg || !bgShows) && c != kWhite;
  };
  int wrong = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      if (RawPixel(result, x, y) != RawPixel(source, x, y)) ++wrong;
      const bool lit = !ink(x, y) && x > 0 && y > 0 && ink(x - 1, y - 1);
      const TColor expected = ink(x, y) ? Shadow : lit ? Light : bg;
      if (result.Canvas()->Pixel(w + x, y) != Representable(result, expected)) ++wrong;
      const std::uint32_t alpha = ink(x, y) ? alphaOf(x, y) : lit ? alphaOf(x - 1, y - 1) : alphaOf(0, h - 1);
      if ((RawPixel(result, w + x, y) & alphaMask) != alpha) ++wrong;
    }
  EXPECT_EQ(wrong, 0) << Path;
  return true;
}

class BmpSuite : public ::testing::Test {
protected:
  void SetUp() override {
    if (SuiteDir().empty()) GTEST_SKIP() << "VARNEX_BMPSUITE_DIR is not set; the BMP conformance set is skipped";
  }
};

}  // namespace

TEST_F(BmpSuite, EveryGoodFileConvertsToTheExpectedPicture) {
  const std::vector<std::string> files = Files("g");
  ASSERT_FALSE(files.empty());
  for (const std::string& file : files) {
    EXPECT_TRUE(ConvertAndCheck(file, 0xFFFFFF, 0x808080)) << file;
    EXPECT_TRUE(ConvertAndCheck(file, 0x10E0A0, 0x2040C0)) << file;
  }
}

TEST_F(BmpSuite, EncodingsOfOnePictureDecodeAlike) {
  const std::vector<std::vector<std::string>> groups = {
      {"pal8", "pal8-0", "pal8os2", "pal8rle", "pal8topdown", "pal8v4", "pal8v5"},
      {"pal4", "pal4rle"},
      {"pal1", "pal1wb"},
      {"rgb16", "rgb16bfdef"},
      {"rgb16-565", "rgb16-565pal"},
      {"rgb24", "rgb24pal", "rgb32", "rgb32bf", "rgb32bfdef"}};
  for (const auto& group : groups) {
    std::vector<std::vector<TColor>> pictures;
    for (const std::string& name : group) {
      TBitmap b;
      b.LoadFromFile(SuiteDir() + "/g/" + name + ".bmp");
      std::vector<TColor> colours;
      for (int y = 0; y < b.Height(); ++y)
        for (int x = 0; x < b.Width(); ++x) colours.push_back(b.Canvas()->Pixel(x, y));
      pictures.push_back(std::move(colours));
    }
    for (std::size_t i = 1; i < pictures.size(); ++i) EXPECT_EQ(pictures[i], pictures[0]) << group[i] << " vs " << group[0];
  }
}

TEST_F(BmpSuite, BadFilesAreRejectedOrDecodeSafely) {
  // These break only fields that the reader does not rely on, or use an index past the table.
  const std::vector<std::string> decodable = {"badbitssize", "baddens1", "baddens2", "badfilesize", "pal8badindex"};
  for (const std::string& file : Files("b")) {
    const std::string name = std::filesystem::path(file).stem().string();
    const bool converted = ConvertAndCheck(file, 0xFFFFFF, 0x808080);
    EXPECT_EQ(converted, std::find(decodable.begin(), decodable.end(), name) != decodable.end()) << file;
  }
  for (const std::string& file : Files("x")) EXPECT_FALSE(ConvertAndCheck(file, 0xFFFFFF, 0x808080)) << file;
}

TEST_F(BmpSuite, QuestionableFilesConvertCorrectlyOrAreRejected) {
  int converted = 0;
  for (const std::string& file : Files("q")) converted += ConvertAndCheck(file, 0x10E0A0, 0x2040C0) ? 1 : 0;
  // Most of them are plain variants the reader supports: 2 bits, OS/2 2.x, odd masks, alpha.
  EXPECT_GE(converted, 25);
}
