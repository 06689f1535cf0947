#include "app/GlyphConvertCommand.h"

#include "app/DisabledRule.h"
#include "base/Graphics.h"
#include "base/SysUtils.h"
#include "tests/common/BmpFixtures.h"
#include "tests/common/TestSupport.h"
#include "tests/kit/GlyphKit.h"

#include <array>
#include <csignal>
#include <filesystem>
#include <random>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using varnex_test::BuildBmp;
using varnex_test::JunkInRowPadding;
using varnex_test::ReadFileBytes;
using varnex_test::TBmpFixture;
using varnex_test::TempDir;
using varnex_test::WriteFileBytes;
using varnex_kit::MakeDisabledImage;
using varnex_kit::WidenWithDisabledImage;

namespace {

constexpr TColor kWhite = 0xFFFFFF;

// A 24-bit pixel value as the file stores it: blue in the low byte.
std::uint32_t ToBgr(TColor c) { return ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF); }

TBmpFixture Rgb24(int Width, int Height, const std::vector<TColor>& Colours) {
  TBmpFixture f;
  f.Width = Width;
  f.Height = Height;
  for (const TColor c : Colours) f.Pixels.push_back(ToBgr(c));
  return f;
}

std::vector<TColor> Colours(const TBitmap& Bitmap, int X0, int Width) {
  std::vector<TColor> out;
  for (int y = 0; y < Bitmap.Height(); ++y)
    for (int x = X0; x < X0 + Width; ++x) out.push_back(Bitmap.Canvas()->Pixel(x, y));
  return out;
}

// The rule exactly as written down: in place, rows bottom-up, columns right to left.
std::vector<TColor> ReferenceRule(std::vector<TColor> Image, int W, int H, TColor Light, TColor Shadow) {
  const TColor bg = Image[static_cast<std::size_t>((H - 1) * W)];
  const auto at = [&](int x, int y) -> TColor& { return Image[static_cast<std::size_t>(y * W + x)]; };
  const auto ink = [&](TColor c) { return c != bg && c != kWhite; };
  for (int y = H - 1; y >= 0; --y)
    for (int x = W - 1; x >= 0; --x) {
      if (ink(at(x, y))) at(x, y) = Shadow;
      else if (x > 0 && y > 0 && ink(at(x - 1, y - 1))) at(x, y) = Light;
      else at(x, y) = bg;
    }
  return Image;
}

const std::vector<std::uint32_t> kArgbMasks = {0xFF0000, 0xFF00, 0xFF, 0xFF000000};

std::size_t FilesIn(const std::string& Dir) {
  return static_cast<std::size_t>(
      std::distance(std::filesystem::directory_iterator(Dir), std::filesystem::directory_iterator()));
}

class GlyphCommand : public ::testing::Test {
protected:
  void SetUp() override {
    std::filesystem::create_directory(FDir / "src");
    std::filesystem::create_directory(FDir / "out");
  }
  std::string Source(const std::string& Name) const { return FDir / ("src/" + Name); }
  std::string Out() const { return FDir / "out"; }
  std::string Write(const std::string& Name, const std::string& Bytes) const {
    WriteFileBytes(Source(Name), Bytes);
    return Source(Name);
  }
  void Convert(const std::string& Path, TColor Light = 0xFFFFFF, TColor Shadow = 0x808080) const {
    TGlyphConvertCommand(Path, Light, Shadow, Out()).Execute();
  }
  TempDir FDir;
};

}  // namespace

TEST_F(GlyphCommand, WorkedExample) {
  const TColor B = 0xFF00FF, W = kWhite, I = 0x123456, light = 0x00C0C0, shadow = 0x404040;
  const std::vector<TColor> source = {B, I, W, B,  //
                                      B, I, I, B,  //
                                      B, B, B, B};
  Convert(Write("example.bmp", BuildBmp(Rgb24(4, 3, source))), light, shadow);
  TBitmap out;
  out.LoadFromFile(Out() + "/example.bmp");
  ASSERT_EQ(out.Width(), 8);
  ASSERT_EQ(out.Height(), 3);
  EXPECT_EQ(out.BitCount(), 24);
  EXPECT_EQ(Colours(out, 0, 4), source);
  EXPECT_EQ(Colours(out, 4, 4), (std::vector<TColor>{B, shadow, B, B,  //
                                                     B, shadow, shadow, B,  //
                                                     B, B, light, light}));
}

// Runs Body with the vector route of the rule and again without it.
template <typename TBody>
void OnBothRoutes(TBody Body) {
  for (const bool vector : {true, false}) {
    SCOPED_TRACE(vector ? "vector route" : "scalar route");
    SetDisabledVectorRoute(vector);
    Body();
  }
  SetDisabledVectorRoute(true);
}

TEST(DisabledImage, EveryFormatOnBothRoutesFollowsTheRuleAsWrittenDown) {
  // Colours that every format holds exactly, so the right half reads back as the rule's colours.
  const std::vector<TColor> colours = {0xFF00FF, 0x000000, kWhite, 0x00FFFF, 0x00FF00};
  struct TFormat {
    int BitCount;
    std::uint32_t Alpha;  // the alpha mask, 0 for none
  };
  const TFormat formats[] = {{1, 0}, {2, 0}, {4, 0}, {8, 0}, {16, 0}, {16, 0x8000}, {24, 0}, {32, 0}, {32, 0xFF000000}};
  std::mt19937 random(31);
  OnBothRoutes([&] {
    for (const TFormat& format : formats) {
      int differing = 0;
      TBmpFixture f;
      for (int round = 0; round < 30; ++round) {
        f = TBmpFixture();
        f.BitCount = format.BitCount;
        // Widths up to 40 reach the first pixel, the sixteen-pixel steps and the tail of a row.
        f.Width = 1 + static_cast<int>(random() % 40);
        f.Height = 1 + static_cast<int>(random() % 6);
        const std::size_t used = f.BitCount <= 8 ? std::min<std::size_t>(colours.size(), 1u << f.BitCount) : colours.size();
        if (f.BitCount <= 8) f.Palette.assign(colours.begin(), colours.begin() + static_cast<std::ptrdiff_t>(used));
        if (format.Alpha != 0) {
          f.Compression = 6;
          f.Masks = f.BitCount == 16 ? std::vector<std::uint32_t>{0x7C00, 0x03E0, 0x001F, 0x8000} : kArgbMasks;
        }
        std::vector<TColor> picture;
        for (int i = 0; i < f.Width * f.Height; ++i) {
          const std::size_t n = random() % used;
          const TColor c = colours[n];
          picture.push_back(c);
          const std::uint32_t bgr = ToBgr(c);
          const std::uint32_t r5 = (c & 0xFF) >> 3, g5 = ((c >> 8) & 0xFF) >> 3, b5 = (c >> 16) >> 3;
          f.Pixels.push_back(f.BitCount <= 8 ? static_cast<std::uint32_t>(n)
                             : f.BitCount == 16 ? (r5 << 10 | g5 << 5 | b5 | format.Alpha)
                                                : bgr | format.Alpha);
        }
        // With one or two colours the light and shadow colours fall on table entries.
        const TColor light = colours[std::min<std::size_t>(3, used - 1)], shadow = colours[1];
        const std::string bytes = BuildBmp(f);
        TBitmap glyph;
        glyph.LoadFromMemory(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        WidenWithDisabledImage(glyph, light, shadow);
        differing += Colours(glyph, f.Width, f.Width) != ReferenceRule(picture, f.Width, f.Height, light, shadow);
      }
      EXPECT_EQ(differing, 0) << f.BitCount << " bits, alpha mask " << format.Alpha;
    }
  });
}

TEST(DisabledImage, TheVectorRouteGivesTheClassesOfTheReference) {
  std::mt19937 random(5);
  for (int round = 0; round < 500; ++round) {
    const std::size_t width = 1 + random() % 70;
    // The row above follows a zero, as DisabledRow asks.
    std::vector<std::uint8_t> ink(width), above(width + 1), expected(width), vector(width);
    for (std::size_t x = 0; x < width; ++x) {
      ink[x] = static_cast<std::uint8_t>(random() % 2);
      above[x + 1] = static_cast<std::uint8_t>(random() % 2);
    }
    DisabledClasses(ink.data(), above.data() + 1, expected.data(), 0, width);
    DisabledRow(ink.data(), above.data() + 1, vector.data(), width);
    ASSERT_EQ(vector, expected) << "width " << width;
  }
}

TEST(DisabledImage, MatchesTheInPlaceVisitOnRandomGlyphs) {
  std::mt19937 random(20240611);
  const TColor palette[] = {0xFF00FF, kWhite, 0x000000, 0x123456, 0x808080};
  for (int round = 0; round < 300; ++round) {
    // Widths up to 40 reach both the four-pixel steps and the single-pixel tail of a row.
    const int w = 1 + static_cast<int>(random() % 40), h = 1 + static_cast<int>(random() % 9);
    std::vector<TColor> image;
    for (int i = 0; i < w * h; ++i) image.push_back(palette[random() % 5]);
    // Light and shadow may coincide with paper colours; the result must not depend on it.
    const TColor light = palette[random() % 5], shadow = palette[random() % 5];
    TBitmap work;
    work.SetWidth(w);
    work.SetHeight(h);
    for (int i = 0; i < w * h; ++i) work.Canvas()->SetPixel(i % w, i / w, image[static_cast<std::size_t>(i)]);
    MakeDisabledImage(work, light, shadow);
    ASSERT_EQ(Colours(work, 0, w), ReferenceRule(image, w, h, light, shadow)) << "round " << round;
  }
  TBitmap paletted;
  paletted.SetPixelFormat(pf8bit);
  paletted.SetWidth(1);
  paletted.SetHeight(1);
  EXPECT_THROW(MakeDisabledImage(paletted, 0, 0), EInvalidGraphicOperation);
}

// The widening as first built: a separate 24-bit work image, the rule on it, and a copy into the right half.
void WidenThroughWorkImage(TBitmap& Bitmap, TColor Light, TColor Shadow) {
  const int w = Bitmap.Width(), h = Bitmap.Height();
  TBitmap work;
  work.SetPixelFormat(pf24bit);
  work.SetWidth(w);
  work.SetHeight(h);
  work.Canvas()->Draw(0, 0, Bitmap);
  MakeDisabledImage(work, Light, Shadow);
  Bitmap.SetWidth(2 * w);
  Bitmap.Canvas()->CopyRect(TRect{w, 0, 2 * w, h}, *work.Canvas(), TRect{0, 0, w, h});
}

TEST(DisabledImage, WideningInPlaceGivesTheBytesOfTheWorkImageRouteInEveryFormat) {
  std::mt19937 random(77);
  const TColor colours[] = {0xFF00FF, kWhite, 0x000000, 0x123456, 0x808080, 0xFF00FF};
  for (int round = 0; round < 400; ++round) {
    TBmpFixture f;
    f.BitCount = std::array{1, 2, 4, 8, 16, 24, 32}[random() % 7];
    f.Width = 1 + static_cast<int>(random() % 37);
    f.Height = 1 + static_cast<int>(random() % 7);
    f.TopDown = random() % 2 == 0;
    const bool indexed = f.BitCount <= 8;
    if (indexed) {
      // Tables with repeated colours and fewer entries than the indices reach.
      const std::size_t entries = 1 + random() % (std::size_t{1} << f.BitCount);
      for (std::size_t i = 0; i < entries; ++i) f.Palette.push_back(colours[random() % 6]);
    }
    if (f.BitCount == 16 && random() % 2 == 0) {
      f.Compression = 3;
      f.Masks = {0xF800, 0x07E0, 0x001F};
    }
    const std::uint32_t valueMask = f.BitCount == 32 ? 0xFFFFFFFFu : (1u << f.BitCount) - 1;
    for (int i = 0; i < f.Width * f.Height; ++i)
      f.Pixels.push_back(indexed ? static_cast<std::uint32_t>(random()) & valueMask
                                 : ToBgr(colours[random() % 6]) & valueMask);
    const std::string bytes = BuildBmp(f);
    TBitmap widened, expected;
    widened.LoadFromMemory(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    expected.Assign(widened);
    const TColor light = colours[random() % 6], shadow = colours[random() % 6];
    WidenWithDisabledImage(widened, light, shadow);
    WidenThroughWorkImage(expected, light, shadow);
    ASSERT_EQ(widened.SaveToMemory(), expected.SaveToMemory()) << "round " << round << ", " << f.BitCount << " bits";
  }
}

TEST(DisabledImage, EachGlyphIsRuledByItsOwnTableAndColours) {
  // Glyphs one after another as a batch meets them: the same indices under tables that differ
  // in one entry only, then different rule colours, then a different background.
  const std::vector<TColor> base = {0xFF00FF, 0x000000, kWhite, 0x7F7F7F, 0x00FFFF, 0x101010};
  std::vector<TColor> oneEntry = base;
  oneEntry[5] = 0xFF00FF;  // index 5 turns from ink into paper
  struct TCase {
    std::vector<TColor> Table;
    std::uint32_t BottomLeft;
    TColor Light, Shadow;
  };
  const TCase cases[] = {{base, 0, 0x00FFFF, 0x7F7F7F}, {oneEntry, 0, 0x00FFFF, 0x7F7F7F},
                         {base, 0, 0x00FFFF, 0x7F7F7F}, {base, 0, kWhite, 0x000000},
                         {base, 3, kWhite, 0x000000},   {oneEntry, 3, kWhite, 0x000000}};
  for (std::size_t n = 0; n < std::size(cases); ++n) {
    TBmpFixture f;
    f.BitCount = 8;
    f.Palette = cases[n].Table;
    f.Width = 19;  // a vector step and a tail
    f.Height = 4;
    for (int i = 0; i < f.Width * f.Height; ++i) f.Pixels.push_back(static_cast<std::uint32_t>((i * 7) % 6));
    f.Pixels[static_cast<std::size_t>(3 * f.Width)] = cases[n].BottomLeft;
    const std::string bytes = BuildBmp(f);
    TBitmap widened, expected;
    widened.LoadFromMemory(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    expected.Assign(widened);
    WidenWithDisabledImage(widened, cases[n].Light, cases[n].Shadow);
    WidenThroughWorkImage(expected, cases[n].Light, cases[n].Shadow);
    ASSERT_EQ(widened.SaveToMemory(), expected.SaveToMemory()) << "glyph " << n;
  }
}

TEST_F(GlyphCommand, ReadingWithRoomToWidenGivesTheBytesOfALoadThenAWidening) {
  std::mt19937 random(4096);
  for (int round = 0; round < 80; ++round) {
    TBmpFixture f;
    f.BitCount = std::array{1, 4, 8, 16, 24, 32}[random() % 6];
    f.Width = 1 + static_cast<int>(random() % 23);
    f.Height = 1 + static_cast<int>(random() % 5);
    f.TopDown = random() % 2 == 0;
    if (f.BitCount <= 8) f.Palette = {0xFF00FF, kWhite, 0x123456};
    if (f.BitCount == 1) f.Palette.pop_back();
    if (f.BitCount == 32 && random() % 2 == 0) {
      f.Compression = 6;  // with an alpha mask
      f.Masks = {0xFF0000, 0x00FF00, 0x0000FF, 0xFF000000};
    }
    for (int i = 0; i < f.Width * f.Height; ++i)
      f.Pixels.push_back(f.BitCount <= 8 ? static_cast<std::uint32_t>(random() % f.Palette.size())
                                         : static_cast<std::uint32_t>(random()) & (f.BitCount == 16 ? 0x7FFFu : ~0u));
    std::string bytes = BuildBmp(f);
    JunkInRowPadding(bytes, f);
    const std::string name = "g" + std::to_string(round) + ".bmp";
    Convert(Write(name, bytes), 0x00C0C0, 0x404040);
    TBitmap expected;
    expected.LoadFromFile(Source(name));
    WidenWithDisabledImage(expected, 0x00C0C0, 0x404040);
    const std::vector<std::uint8_t> want = expected.SaveToMemory();
    ASSERT_EQ(ReadFileBytes(Out() + "/" + name), std::string(want.begin(), want.end()))
        << "round " << round << ", " << f.BitCount << " bits";
  }
}

TEST_F(GlyphCommand, PalettedGlyphKeepsItsTableAndTakesTheNearestEntries) {
  TBmpFixture f;
  f.BitCount = 4;
  f.Palette = {0xFF00FF, 0x000000, kWhite, 0x7F7F7F, 0x00FFFF};
  f.Width = 3;
  f.Height = 3;
  f.Pixels = {1, 0, 2,  //
              0, 0, 4,  //
              0, 2, 0};
  Convert(Write("pal.bmp", BuildBmp(f)), 0x00F0F0, 0x808080);
  TBitmap out;
  out.LoadFromFile(Out() + "/pal.bmp");
  EXPECT_EQ(out.BitCount(), 4);
  EXPECT_EQ(out.Palette(), f.Palette);
  std::vector<unsigned> right;
  for (int y = 0; y < 3; ++y)
    for (int x = 3; x < 6; ++x) right.push_back((out.ScanLine(y)[x / 2] >> (x % 2 == 0 ? 4 : 0)) & 0x0F);
  // Ink becomes 0x808080 (nearest entry 3), the highlight 0x00F0F0 (entry 4), paper entry 0;
  // the highlight of the ink at (2, 1) falls outside the image.
  EXPECT_EQ(right, (std::vector<unsigned>{3, 0, 0,  //
                                          0, 4, 3,  //
                                          0, 0, 0}));
  std::vector<unsigned> left;
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 3; ++x) left.push_back((out.ScanLine(y)[x / 2] >> (x % 2 == 0 ? 4 : 0)) & 0x0F);
  EXPECT_EQ(left, f.Pixels);
}

TEST_F(GlyphCommand, OneByOneAndEmptyGlyphs) {
  Convert(Write("dot.bmp", BuildBmp(Rgb24(1, 1, {0x123456}))));
  TBitmap out;
  out.LoadFromFile(Out() + "/dot.bmp");
  EXPECT_EQ(Colours(out, 0, 2), (std::vector<TColor>{0x123456, 0x123456}));

  TBmpFixture empty;
  empty.BitCount = 8;
  empty.Palette = {0x0000FF};
  empty.Height = 5;
  const std::string path = Write("empty.bmp", BuildBmp(empty));
  TBitmap loaded;
  loaded.LoadFromFile(path);
  Convert(path);
  const std::vector<std::uint8_t> unchanged = loaded.SaveToMemory();
  EXPECT_EQ(ReadFileBytes(Out() + "/empty.bmp"), std::string(unchanged.begin(), unchanged.end()));
}

TEST_F(GlyphCommand, TargetPathAndExistingFiles) {
  const std::string path = Write("g.bmp", BuildBmp(Rgb24(2, 1, {0x000001, 0x000002})));
  TGlyphConvertCommand(path, 0, 0, Out() + "/").Execute();
  const std::string first = ReadFileBytes(Out() + "/g.bmp");
  EXPECT_FALSE(first.empty());
  // With or without the trailing delimiter the target is the same file, which is never replaced.
  EXPECT_THROW_MSG(TGlyphConvertCommand(path, 1, 1, Out()).Execute(), EGlyphConvertError,
                   "Output file already exists: " + Out() + "/g.bmp");
  EXPECT_EQ(ReadFileBytes(Out() + "/g.bmp"), first);
  const std::string original = ReadFileBytes(path);
  EXPECT_THROW_MSG(TGlyphConvertCommand(path, 0, 0, FDir / "src").Execute(), EGlyphConvertError,
                   "Output file already exists: " + Source("g.bmp"));
  EXPECT_EQ(ReadFileBytes(path), original);
}

TEST_F(GlyphCommand, ANameTakenAfterTheCheckIsNotReplaced) {
  // A dangling link is not a file to the existence check, yet it takes the name.
  const std::string path = Write("race.bmp", BuildBmp(Rgb24(1, 1, {0})));
  ASSERT_EQ(::symlink("nowhere", (Out() + "/race.bmp").c_str()), 0);
  EXPECT_THROW_MSG(Convert(path), EGlyphConvertError, "Output file already exists: " + Out() + "/race.bmp");
  EXPECT_TRUE(std::filesystem::is_symlink(Out() + "/race.bmp"));
  EXPECT_EQ(std::filesystem::read_symlink(Out() + "/race.bmp"), "nowhere");
  EXPECT_EQ(FilesIn(Out()), 1u);
}

TEST_F(GlyphCommand, UnwritableTargetsReportTheSaveError) {
  const std::string path = Write("s.bmp", BuildBmp(Rgb24(1, 1, {0})));
  std::filesystem::create_directory(Out() + "/s.bmp");
  EXPECT_THROW_MSG(Convert(path), EGlyphConvertError, "Cannot save glyph to file: " + Out() + "/s.bmp");
  EXPECT_THROW_MSG(TGlyphConvertCommand(path, 0, 0, FDir / "missing").Execute(), EGlyphConvertError,
                   "Cannot save glyph to file: " + (FDir / "missing/s.bmp"));
  EXPECT_EQ(FilesIn(Out()), 1u);
}

TEST_F(GlyphCommand, AFullDiskLeavesNoFileBehind) {
  std::vector<TColor> big(64 * 64, 0x123456);
  const std::string path = Write("full.bmp", BuildBmp(Rgb24(64, 64, big)));
  bool threw = false;
  std::string message;
  {
    varnex_test::FileSizeLimit limit(4096);
    ASSERT_TRUE(limit.Active());
    try {
      Convert(path);
    } catch (const EGlyphConvertError& e) {
      threw = true;
      message = e.Message();
    }
  }
  EXPECT_TRUE(threw);
  EXPECT_EQ(message, "Cannot save glyph to file: " + Out() + "/full.bmp");
  EXPECT_EQ(FilesIn(Out()), 0u);
}

TEST_F(GlyphCommand, UnreadableSourcesReportThePathAsPassed) {
  EXPECT_THROW_MSG(Convert(Source("missing.bmp")), EGlyphConvertError, "Cannot load glyph from file: " + Source("missing.bmp"));
  const std::string text = Write("notes.bmp", "just some text\r\n");
  EXPECT_THROW_MSG(Convert(text), EGlyphConvertError, "Cannot load glyph from file: " + text);
  EXPECT_THROW_MSG(Convert(FDir / "src"), EGlyphConvertError, "Cannot load glyph from file: " + (FDir / "src"));
  // A named pipe that nobody writes to is rejected instead of hanging the batch; the
  // alarm ends the test process should the open block.
  ASSERT_EQ(::mkfifo(Source("pipe.bmp").c_str(), 0600), 0);
  ::alarm(20);
  EXPECT_THROW_MSG(Convert(Source("pipe.bmp")), EGlyphConvertError, "Cannot load glyph from file: " + Source("pipe.bmp"));
  ::alarm(0);
  // A relative path stays relative in the message.
  const std::string cwd = GetCurrentDir();
  ASSERT_TRUE(SetCurrentDir(FDir / "src"));
  EXPECT_THROW_MSG(Convert("notes.bmp"), EGlyphConvertError, "Cannot load glyph from file: notes.bmp");
  ASSERT_TRUE(SetCurrentDir(cwd));
  EXPECT_EQ(FilesIn(Out()), 0u);
}

namespace {

struct TFault {
  const char* Name;
  std::string Bytes;
  const char* Message;
};

void Patch(std::string& Bytes, std::size_t At, std::uint64_t Value, int Size) {
  for (int i = 0; i < Size; ++i) Bytes[At + static_cast<std::size_t>(i)] = static_cast<char>((Value >> (8 * i)) & 0xFF);
}

TBmpFixture Small8() {
  TBmpFixture f;
  f.BitCount = 8;
  f.Palette = {0x000000, 0xFFFFFF};
  f.Width = 4;
  f.Height = 2;
  f.Pixels = {0, 1, 0, 1, 1, 0, 1, 0};
  return f;
}

std::string Patched(TBmpFixture F, std::size_t At, std::uint64_t Value, int Size) {
  std::string bytes = BuildBmp(F);
  Patch(bytes, At, Value, Size);
  return bytes;
}

std::string Masked16(std::vector<std::uint32_t> Masks) {
  TBmpFixture f;
  f.BitCount = 16;
  f.Compression = 3;
  f.Masks = std::move(Masks);
  f.Width = 1;
  f.Height = 1;
  f.Pixels = {0};
  return BuildBmp(f);
}

std::string Rle8(std::string Data, int Width = 4, int Height = 2, bool TopDown = false) {
  TBmpFixture f = Small8();
  f.Compression = 1;
  f.Width = Width;
  f.Height = Height;
  f.TopDown = TopDown;
  f.UseRawPixels = true;
  f.RawPixels = std::move(Data);
  return BuildBmp(f);
}

std::vector<TFault> Faults() {
  std::vector<TFault> faults;
  const auto add = [&](const char* name, std::string bytes, const char* message) {
    faults.push_back({name, std::move(bytes), message});
  };
  const std::string good = BuildBmp(Small8());
  add("signature", Patched(Small8(), 0, 'B' | ('A' << 8), 2), "Bitmap signature is not BM");
  add("short_file_header", good.substr(0, 12), "Bitmap file header is truncated");
  add("short_info_header", good.substr(0, 30), "Bitmap info header is truncated");
  add("header_size", Patched(Small8(), 14, 66, 4), "Bitmap header size 66 is not supported");
  add("planes", Patched(Small8(), 26, 2, 2), "Bitmap planes must be 1");
  add("bit_count", Patched(Small8(), 28, 3, 2), "Bitmap bit count 3 is not supported");
  add("jpeg", Patched(Small8(), 30, 4, 4), "Bitmap compression JPEG is not supported");
  add("png", Patched(Small8(), 30, 5, 4), "Bitmap compression PNG is not supported");
  add("cmyk", Patched(Small8(), 30, 11, 4), "Bitmap compression CMYK is not supported");
  add("unknown_compression", Patched(Small8(), 30, 9, 4), "Bitmap compression 9 is not supported");
  TBmpFixture os2 = Small8();
  os2.HeaderSize = 64;
  add("huffman", Patched(os2, 30, 3, 4), "Bitmap compression Huffman 1D is not supported");
  add("rle24", Patched(os2, 30, 4, 4), "Bitmap compression RLE24 is not supported");
  add("rle8_depth", Patched(Small8(), 28, 4, 2).replace(30, 1, 1, '\x01'), "Bitmap RLE8 compression needs 8 bits per pixel");
  add("rle4_depth", Patched(Small8(), 30, 2, 4), "Bitmap RLE4 compression needs 4 bits per pixel");
  add("bit_fields_depth", Patched(Small8(), 30, 3, 4), "Bitmap bit fields need 16 or 32 bits per pixel");
  add("negative_width", Patched(Small8(), 18, 0xFFFFFFFC, 4), "Bitmap width is negative");
  add("height_min", Patched(Small8(), 22, 0x80000000, 4), "Bitmap height is out of range");
  add("rle_top_down", Rle8(std::string("\x00\x01", 2), 4, 2, true), "Bitmap with RLE compression cannot be top-down");
  add("too_wide", Patched(Small8(), 18, 16385, 4), "Bitmap dimensions exceed the limit");
  std::string square = Patched(Small8(), 18, 8193, 4);
  Patch(square, 22, 8193, 4);
  add("too_many_pixels", square, "Bitmap dimensions exceed the limit");
  add("colour_count", Patched(Small8(), 46, 257, 4), "Bitmap colour count exceeds its bit count");
  add("offset_in_palette", Patched(Small8(), 10, 14 + 40 + 4, 4),
      "Bitmap pixel offset lies inside the headers or the colour table");
  add("offset_in_header", Patched(Small8(), 10, 20, 4), "Bitmap pixel offset lies inside the headers or the colour table");
  add("offset_past_end", Patched(Small8(), 10, good.size() + 1, 4), "Bitmap pixel offset lies past the end of the file");
  add("mask_zero", Masked16({0x7C00, 0x03E0, 0}), "Bitmap bit mask is zero");
  add("mask_overlap", Masked16({0x7C00, 0x07E0, 0x1F}), "Bitmap bit masks overlap");
  add("mask_gap", Masked16({0x7C00, 0x0360, 0x1F}), "Bitmap bit mask is not contiguous");
  add("mask_outside", Masked16({0x1F0000, 0x03E0, 0x1F}), "Bitmap bit mask lies outside the pixel");
  add("masks_truncated", Masked16({0x7C00, 0x03E0, 0x1F}).substr(0, 14 + 40 + 8), "Bitmap bit masks are truncated");
  add("pixels_truncated", good.substr(0, good.size() - 1), "Bitmap pixel data is truncated");
  add("rle_run", Rle8(std::string("\x05\x01\x00\x01", 4)), "Bitmap RLE run leaves the image");
  add("rle_absolute", Rle8(std::string("\x02\x01\x00\x03\x01\x01\x01\x00", 8)), "Bitmap RLE run leaves the image");
  add("rle_delta", Rle8(std::string("\x00\x02\x00\x02", 4)), "Bitmap RLE delta leaves the image");
  add("rle_row", Rle8(std::string("\x00\x00\x00\x00\x01\x01", 6)), "Bitmap RLE run leaves the image");
  add("rle_cut", Rle8(std::string("\x02\x01", 2)), "Bitmap RLE data is truncated");
  add("rle_cut_absolute", Rle8(std::string("\x00\x04\x01", 3)), "Bitmap RLE data is truncated");
  return faults;
}

class GlyphLoadFault : public GlyphCommand, public ::testing::WithParamInterface<TFault> {};

}  // namespace

TEST_P(GlyphLoadFault, IsRejectedWithItsFaultAndNothingIsWritten) {
  const TFault& fault = GetParam();
  TBitmap bitmap;
  EXPECT_THROW_MSG(bitmap.LoadFromMemory(reinterpret_cast<const std::uint8_t*>(fault.Bytes.data()), fault.Bytes.size()),
                   EInvalidGraphic, fault.Message);
  const std::string path = Write(std::string(fault.Name) + ".bmp", fault.Bytes);
  EXPECT_THROW_MSG(Convert(path), EGlyphConvertError, "Cannot load glyph from file: " + path);
  EXPECT_EQ(FilesIn(Out()), 0u);
}

INSTANTIATE_TEST_SUITE_P(EveryFault, GlyphLoadFault, ::testing::ValuesIn(Faults()),
                         [](const auto& info) { return std::string(info.param.Name); });

namespace {

// A 16- or 32-bit fixture with bit masks; Pixels are raw values, rows top-down.
TBmpFixture Masked(int BitCount, int HeaderSize, std::uint32_t Compression, std::vector<std::uint32_t> Masks,
                   int Width, std::vector<std::uint32_t> Pixels) {
  TBmpFixture f;
  f.BitCount = BitCount;
  f.HeaderSize = HeaderSize;
  f.Compression = Compression;
  f.Masks = std::move(Masks);
  f.Width = Width;
  f.Height = static_cast<std::int32_t>(Pixels.size()) / Width;
  f.Pixels = std::move(Pixels);
  return f;
}

const std::vector<std::uint32_t> kArgb = {0xFF0000, 0xFF00, 0xFF, 0xFF000000};

class AlphaGlyph : public GlyphCommand {
protected:
  // Converts F and returns the raw pixels of the result's left and right halves, rows top-down.
  std::pair<std::vector<std::uint32_t>, std::vector<std::uint32_t>> ConvertRaw(const std::string& Name, const TBmpFixture& F,
                                                                             TColor Light = kWhite, TColor Shadow = 0x808080) {
    Convert(Write(Name, BuildBmp(F)), Light, Shadow);
    TBitmap out;
    out.LoadFromFile(Out() + "/" + Name);
    EXPECT_EQ(out.Width(), 2 * F.Width);
    std::pair<std::vector<std::uint32_t>, std::vector<std::uint32_t>> halves;
    const int bytes = out.BitCount() / 8;
    for (int y = 0; y < out.Height(); ++y)
      for (int x = 0; x < out.Width(); ++x) {
        std::uint32_t v = 0;
        for (int i = 0; i < bytes; ++i) v |= static_cast<std::uint32_t>(out.ScanLine(y)[x * bytes + i]) << (8 * i);
        (x < F.Width ? halves.first : halves.second).push_back(v);
      }
    return halves;
  }
};

}  // namespace

TEST_F(AlphaGlyph, TransparentBackgroundStaysTransparentAndEdgesKeepTheirAlpha) {
  // An orange square with a half-transparent right edge; one transparent pixel hides a stray colour.
  const std::uint32_t T = 0, O = 0xFFFF8000, E = 0x80FF8000, X = 0x00123456;
  const std::vector<std::uint32_t> source = {T, T, T, T, X,  //
                                             T, O, O, E, T,  //
                                             T, O, O, E, T,  //
                                             T, T, T, T, T};
  const auto [left, right] = ConvertRaw("square.bmp", Masked(32, 124, 3, kArgb, 5, source));
  EXPECT_EQ(left, source);
  const std::uint32_t S = 0xFF808080, Se = 0x80808080, L = 0xFFFFFFFF, Le = 0x80FFFFFF;
  EXPECT_EQ(right, (std::vector<std::uint32_t>{T, T, T, T, T,  //
                                               T, S, S, Se, T,  //
                                               T, S, S, Se, Le,  //
                                               T, T, L, L, Le}));
  // The colour of a transparent background says nothing: black ink on it stays ink.
  const std::uint32_t K = 0xFF000000;
  EXPECT_EQ(ConvertRaw("black.bmp", Masked(32, 40, 6, kArgb, 2, {K, T, T, T})).second,
            (std::vector<std::uint32_t>{S, T, T, L}));
}

TEST_F(AlphaGlyph, OpaqueBackgroundFollowsTheRuleWithoutAlpha) {
  const TColor B = 0xFF00FF, W = kWhite, I = 0x123456, K = 0x000000;
  const std::vector<TColor> picture = {B, I, W, K,  //
                                       B, I, K, B,  //
                                       B, B, B, B};
  std::vector<std::uint32_t> opaque;
  for (const TColor c : picture) opaque.push_back(0xFF000000 | ToBgr(c));
  Convert(Write("plain.bmp", BuildBmp(Rgb24(4, 3, picture))), 0x00C0C0, 0x404040);
  TBitmap plain;
  plain.LoadFromFile(Out() + "/plain.bmp");
  std::vector<std::uint32_t> expected;
  for (const TColor c : Colours(plain, 4, 4)) expected.push_back(0xFF000000 | ToBgr(c));
  EXPECT_EQ(ConvertRaw("v5.bmp", Masked(32, 124, 3, kArgb, 4, opaque), 0x00C0C0, 0x404040).second, expected);
}

TEST_F(AlphaGlyph, SixteenBitFormatsKeepTheirAlphaBits) {
  struct TFormat {
    int HeaderSize;
    std::uint32_t Compression;
    std::vector<std::uint32_t> Masks;
    std::uint32_t Ink, Half, Shadow, Light;
  };
  // 1555 in a 56-byte header and 4444 with its masks after a 40-byte one; shadow is blue, light white.
  const TFormat formats[] = {{56, 3, {0x7C00, 0x03E0, 0x001F, 0x8000}, 0xFC00, 0x83E0, 0x001F, 0x7FFF},
                             {40, 6, {0x0F00, 0x00F0, 0x000F, 0xF000}, 0xFF00, 0x70F0, 0x000F, 0x0FFF}};
  for (const TFormat& f : formats) {
    const std::uint32_t aI = f.Ink & f.Masks[3], aH = f.Half & f.Masks[3];
    const auto [left, right] = ConvertRaw("g" + std::to_string(f.Masks[3]) + ".bmp",
                                          Masked(16, f.HeaderSize, f.Compression, f.Masks, 4,
                                                 {0, f.Ink, 0, 0, 0, 0, f.Half, 0, 0, 0, 0, 0}),
                                          kWhite, 0xFF0000);
    EXPECT_EQ(left, (std::vector<std::uint32_t>{0, f.Ink, 0, 0, 0, 0, f.Half, 0, 0, 0, 0, 0}));
    EXPECT_EQ(right, (std::vector<std::uint32_t>{0, f.Shadow | aI, 0, 0,  //
                                                 0, 0, f.Shadow | aH, 0,  //
                                                 0, 0, 0, f.Light | aH}))
        << f.Masks[3];
  }
}

TEST_F(AlphaGlyph, ThirtyTwoBitsWithoutAnAlphaMaskIgnoreTheFourthByte) {
  const std::uint32_t bg = 0x12FF00FF, red = 0x00FF0000, white = 0x7FFFFFFF;
  const std::vector<std::uint32_t> source = {red, 0xFF000000 | bg, 0x7F000000 | red,  //
                                             bg, white, bg & 0xFFFFFF};
  // Plain RGB, masks after a 40-byte header, and a 124-byte header whose alpha mask is zero.
  const TBmpFixture fixtures[] = {Masked(32, 40, 0, {}, 3, source),
                                  Masked(32, 40, 3, {0xFF0000, 0xFF00, 0xFF}, 3, source),
                                  Masked(32, 124, 3, {0xFF0000, 0xFF00, 0xFF, 0}, 3, source)};
  int n = 0;
  for (const TBmpFixture& f : fixtures) {
    const auto [left, right] = ConvertRaw("rgb" + std::to_string(n++) + ".bmp", f, 0x00C0C0, 0x404040);
    EXPECT_EQ(left, source);
    EXPECT_EQ(right, (std::vector<std::uint32_t>{0x404040, 0xFF00FF, 0x404040,  //
                                                 0xFF00FF, 0xC0C000, 0xFF00FF}))
        << n;
  }
}
