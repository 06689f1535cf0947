#include "app/GlyphConvertCommand.h"

#include "base/Graphics.h"
#include "base/SysUtils.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

constexpr TColor kWhite = 0xFFFFFF;

// A pixel of the 24-bit work image: blue, green, red.
inline TColor GetPixelColor(const std::uint8_t* Row, int X) {
  const std::uint8_t* p = Row + 3 * static_cast<std::size_t>(X);
  return static_cast<TColor>(p[2]) | (static_cast<TColor>(p[1]) << 8) | (static_cast<TColor>(p[0]) << 16);
}

// A colour in the byte order of a 24-bit pixel (blue in the low byte); white stays white.
inline TColor ToStored(TColor Color) {
  return ((Color & 0xFF) << 16) | (Color & 0xFF00) | ((Color >> 16) & 0xFF);
}

// The ink of two rows for a top-down visit: Above() holds the row above, Row() receives this
// row's. Entry x + 1 stands for column x; entry 0 is never ink.
template <typename T>
class TInkRows {
public:
  // A glyph's rows fit in the object itself; only wider images take memory.
  explicit TInkRows(std::size_t Width) {
    T* data = FInline.data();
    if (Width > kInlineWidth) {
      FBuffer.resize(2 * (Width + 1));
      data = FBuffer.data();
    }
    std::fill(data, data + 2 * (Width + 1), T{0});
    FAbove = data;
    FRow = data + Width + 1;
  }
  TInkRows(const TInkRows&) = delete;
  TInkRows& operator=(const TInkRows&) = delete;
  T* Above() { return FAbove; }
  T* Row() { return FRow; }
  void Next() { std::swap(FAbove, FRow); }

private:
  static constexpr std::size_t kInlineWidth = 128;

  std::array<T, 2 * (kInlineWidth + 1)> FInline;
  std::vector<T> FBuffer;
  T* FAbove;
  T* FRow;
};

// The colours of the rule in stored byte order.
struct TRuleColours {
  TColor Bg;
  TColor Light;
  TColor Shadow;
};

// Masks instead of branches: glyph edges would make branches mispredict all the time.
inline TColor Classify(TColor Stored, unsigned InkAbove, unsigned& Ink, const TRuleColours& C) {
  Ink = static_cast<unsigned>(Stored != C.Bg) & static_cast<unsigned>(Stored != kWhite);
  const TColor inkMask = 0u - Ink;
  const TColor aboveMask = 0u - InkAbove;
  return (C.Shadow & inkMask) | (~inkMask & ((C.Light & aboveMask) | (C.Bg & ~aboveMask)));
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define VARNEX_RULE_SSSE3 1
#endif

// True when the processor runs the SSSE3 row.
bool UseSimd() {
#ifdef VARNEX_RULE_SSSE3
  static const bool simd = __builtin_cpu_supports("ssse3");
  return simd;
#else
  return false;
#endif
}

#ifdef VARNEX_RULE_SSSE3

// Writes four pixels per step with SSSE3 and returns the column where it stopped. Each step
// loads sixteen bytes of In, so it stops while at least six pixels remain, and stores twelve
// to Out: when Out is In, a store that overlapped the next load would stall it.
__attribute__((target("ssse3"))) std::size_t RuleRowSsse3(const std::uint8_t* In, std::uint8_t* Out,
                                                         std::size_t Width,
                                                         const std::uint8_t* AboveInk, std::uint8_t* RowInk,
                                                         const TRuleColours Colours) {
  const __m128i unpack = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
  const __m128i pack = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
  const __m128i inkBytes = _mm_setr_epi8(0, 4, 8, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i bg = _mm_set1_epi32(static_cast<int>(Colours.Bg));
  const __m128i white = _mm_set1_epi32(static_cast<int>(kWhite));
  const __m128i light = _mm_set1_epi32(static_cast<int>(Colours.Light));
  const __m128i shadow = _mm_set1_epi32(static_cast<int>(Colours.Shadow));
  const __m128i zero = _mm_setzero_si128();
  const __m128i one = _mm_set1_epi8(1);
  std::size_t x = 0;
  for (; x + 6 <= Width; x += 4, In += 12, Out += 12) {
    const __m128i raw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(In));
    const __m128i px = _mm_shuffle_epi8(raw, unpack);
    const __m128i paper = _mm_or_si128(_mm_cmpeq_epi32(px, bg), _mm_cmpeq_epi32(px, white));
    std::int32_t aboveBytes;
    std::memcpy(&aboveBytes, AboveInk + x, 4);
    const __m128i above32 = _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(aboveBytes), zero), zero);
    const __m128i above = _mm_cmpgt_epi32(above32, zero);
    const __m128i onPaper = _mm_or_si128(_mm_and_si128(above, light), _mm_andnot_si128(above, bg));
    const __m128i out = _mm_or_si128(_mm_and_si128(paper, onPaper), _mm_andnot_si128(paper, shadow));
    const __m128i packed = _mm_shuffle_epi8(out, pack);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(Out), packed);
    const std::int32_t last = _mm_cvtsi128_si32(_mm_srli_si128(packed, 8));
    std::memcpy(Out + 8, &last, 4);
    const std::int32_t inks = _mm_cvtsi128_si32(_mm_andnot_si128(_mm_shuffle_epi8(paper, inkBytes), one));
    std::memcpy(RowInk + x + 1, &inks, 4);
  }
  return x;
}
#endif

// Writes one row from column X on, one pixel at a time; Out may be In.
void RuleRowFrom(std::size_t X, const std::uint8_t* In, std::uint8_t* Out, std::size_t Width,
                 const std::uint8_t* AboveInk, std::uint8_t* RowInk, const TRuleColours Colours) {
  const std::uint8_t* q = In + 3 * X;
  std::uint8_t* p = Out + 3 * X;
  for (; X < Width; ++X, p += 3, q += 3) {
    const TColor c = static_cast<TColor>(q[0]) | (static_cast<TColor>(q[1]) << 8) | (static_cast<TColor>(q[2]) << 16);
    unsigned ink;
    const TColor out = Classify(c, AboveInk[X], ink, Colours);
    RowInk[X + 1] = static_cast<std::uint8_t>(ink);
    p[0] = static_cast<std::uint8_t>(out);
    p[1] = static_cast<std::uint8_t>(out >> 8);
    p[2] = static_cast<std::uint8_t>(out >> 16);
  }
}

// Writes the rule's image of one row of In to Out (which may be In), with SSSE3 where the processor has it.
void RuleRow(const std::uint8_t* In, std::uint8_t* Out, std::size_t Width, const std::uint8_t* AboveInk,
             std::uint8_t* RowInk, const TRuleColours Colours, bool Simd) {
  std::size_t x = 0;
#ifdef VARNEX_RULE_SSSE3
  if (Simd) x = RuleRowSsse3(In, Out, Width, AboveInk, RowInk, Colours);
#else
  (void)Simd;
#endif
  RuleRowFrom(x, In, Out, Width, AboveInk, RowInk, Colours);
}

// Writes the rule's image of the first Width pixels of every row of a 24-bit bitmap from byte
// Offset of the row on; with Offset 0 the pixels are rewritten in place.
void RuleRows24(TBitmap& Bitmap, std::size_t Offset, int Width, const TRuleColours& Colours) {
  const bool simd = UseSimd();
  const std::size_t width = static_cast<std::size_t>(Width);
  // The rows are visited top-down; each row's ink is noted before it is overwritten, so
  // the highlight reads the source's classes exactly as the bottom-up, right-to-left
  // visit would.
  TInkRows<std::uint8_t> ink(width);
  for (int y = 0; y < Bitmap.Height(); ++y) {
    std::uint8_t* row = Bitmap.ScanLine(y);
    RuleRow(row, row + Offset, width, ink.Above(), ink.Row(), Colours, simd);
    ink.Next();
  }
}

// What the rule makes of one colour table: whether each index is ink, and the pixel value for
// each pair (ink, ink above-left), indexed ink * 2 + above.
struct TIndexedRule {
  std::array<std::uint8_t, 256> InkOf;
  // The same as a set of 256 bits, index i at bit i % 8 of byte i / 8.
  std::array<std::uint8_t, 32> InkBits;
  std::array<std::uint32_t, 4> Out;
};

// The rule for Bitmap's table. The glyphs of a batch mostly share one table, and their
// backgrounds few colours, so the last answers are kept per thread and given again when the
// table (compared in full) and the three colours are the same.
const TIndexedRule& IndexedRuleFor(const TBitmap& Bitmap, TColor Bg, TColor LightColor, TColor ShadowColor) {
  struct TEntry {
    bool Valid = false;
    std::vector<TColor> Palette;
    TColor Bg = 0, Light = 0, Shadow = 0;
    TIndexedRule Rule{};
  };
  struct TMemo {
    std::array<TEntry, 4> Entries;
    std::size_t Next = 0;  // the entry a new answer replaces
  };
  thread_local TMemo memo;
  const std::vector<TColor>& palette = Bitmap.Palette();
  for (const TEntry& e : memo.Entries) {
    if (e.Valid && e.Bg == Bg && e.Light == LightColor && e.Shadow == ShadowColor && e.Palette.size() == palette.size() &&
        (palette.empty() || std::memcmp(e.Palette.data(), palette.data(), palette.size() * sizeof(TColor)) == 0))
      return e.Rule;
  }
  TEntry& entry = memo.Entries[memo.Next];
  memo.Next = (memo.Next + 1) % memo.Entries.size();
  entry.Valid = false;  // until the new answer is complete: PixelValue may raise
  TIndexedRule& rule = entry.Rule;
  // An index past the table reads as black.
  rule.InkOf.fill(Bg != 0);
  const std::size_t colours = std::min(palette.size(), rule.InkOf.size());
  for (std::size_t i = 0; i < colours; ++i)
    rule.InkOf[i] = static_cast<std::uint8_t>(static_cast<unsigned>(palette[i] != Bg) & static_cast<unsigned>(palette[i] != kWhite));
  rule.InkBits.fill(0);
  for (std::size_t i = 0; i < rule.InkOf.size(); ++i)
    rule.InkBits[i / 8] = static_cast<std::uint8_t>(rule.InkBits[i / 8] | (rule.InkOf[i] << (i % 8)));
  const std::uint32_t shadow = Bitmap.PixelValue(ShadowColor);
  rule.Out = {Bitmap.PixelValue(Bg), Bitmap.PixelValue(LightColor), shadow, shadow};
  entry.Palette.assign(palette.begin(), palette.end());
  entry.Bg = Bg;
  entry.Light = LightColor;
  entry.Shadow = ShadowColor;
  entry.Valid = true;
  return rule;
}

// One 8-bit row from column X on, one pixel at a time, with masks instead of branches.
void RuleRow8From(std::size_t X, std::uint8_t* Row, std::size_t Width, const std::uint8_t* AboveInk,
                  std::uint8_t* RowInk, const TIndexedRule& Rule) {
  const auto paper = static_cast<std::uint8_t>(Rule.Out[0]);
  const auto light = static_cast<std::uint8_t>(Rule.Out[1]);
  const auto shadow = static_cast<std::uint8_t>(Rule.Out[2]);
  for (; X < Width; ++X) {
    const std::uint8_t ink = Rule.InkOf[Row[X]];
    RowInk[X + 1] = ink;
    // Inks are 0 or 1, so 0 - ink is a mask of none or all bits.
    const auto inkMask = static_cast<std::uint8_t>(0 - ink);
    const auto aboveMask = static_cast<std::uint8_t>(0 - AboveInk[X]);
    Row[Width + X] =
        static_cast<std::uint8_t>((shadow & inkMask) | (~inkMask & ((light & aboveMask) | (paper & ~aboveMask))));
  }
}

#ifdef VARNEX_RULE_SSSE3

// Every row of an 8-bit image, Stride bytes apart, sixteen pixels a step with SSSE3: each
// index's ink is read as a bit of the rule's 256-bit set by two byte shuffles, and the right
// half is chosen from the inks by masks; the last pixels of a row go one at a time.
__attribute__((target("ssse3"))) void RuleRows8Ssse3(std::uint8_t* Rows, std::size_t Stride, std::size_t Height,
                                                    std::size_t Width, TInkRows<std::uint8_t>& Ink,
                                                    const TIndexedRule& Rule) {
  const __m128i bitsLow = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Rule.InkBits.data()));
  const __m128i bitsHigh = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Rule.InkBits.data() + 16));
  const __m128i bitOf = _mm_setr_epi8(1, 2, 4, 8, 16, 32, 64, -128, 1, 2, 4, 8, 16, 32, 64, -128);
  const __m128i paper = _mm_set1_epi8(static_cast<char>(Rule.Out[0]));
  const __m128i light = _mm_set1_epi8(static_cast<char>(Rule.Out[1]));
  const __m128i shadow = _mm_set1_epi8(static_cast<char>(Rule.Out[2]));
  const __m128i low5 = _mm_set1_epi8(0x1F);
  const __m128i seven = _mm_set1_epi8(7);
  const __m128i fifteen = _mm_set1_epi8(15);
  const __m128i one = _mm_set1_epi8(1);
  const __m128i zero = _mm_setzero_si128();
  for (std::size_t y = 0; y < Height; ++y, Ink.Next()) {
    std::uint8_t* row = Rows + y * Stride;
    const std::uint8_t* aboveInk = Ink.Above();
    std::uint8_t* rowInk = Ink.Row();
    std::size_t x = 0;
    for (; x + 16 <= Width; x += 16) {
      const __m128i index = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x));
      // Byte index / 8 of the set (0 to 31): a shuffle reads only 16 bytes, so both halves
      // are read and the right one kept.
      const __m128i byte = _mm_and_si128(_mm_srli_epi16(index, 3), low5);
      const __m128i high = _mm_cmpgt_epi8(byte, fifteen);
      const __m128i setByte = _mm_or_si128(_mm_and_si128(high, _mm_shuffle_epi8(bitsHigh, byte)),
                                           _mm_andnot_si128(high, _mm_shuffle_epi8(bitsLow, byte)));
      const __m128i bit = _mm_shuffle_epi8(bitOf, _mm_and_si128(index, seven));
      const __m128i ink = _mm_cmpeq_epi8(_mm_and_si128(setByte, bit), bit);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(rowInk + 1 + x), _mm_and_si128(ink, one));
      const __m128i above = _mm_cmpgt_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(aboveInk + x)), zero);
      const __m128i onPaper = _mm_or_si128(_mm_and_si128(above, light), _mm_andnot_si128(above, paper));
      const __m128i out = _mm_or_si128(_mm_and_si128(ink, shadow), _mm_andnot_si128(ink, onPaper));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(row + Width + x), out);
    }
    RuleRow8From(x, row, Width, aboveInk, rowInk, Rule);
  }
}
#endif

// Every row of an 8-bit image, Stride bytes apart: with SSSE3 where the processor has it.
void RuleRows8(std::uint8_t* Rows, std::size_t Stride, std::size_t Height, std::size_t Width,
               TInkRows<std::uint8_t>& Ink, const TIndexedRule& Rule) {
#ifdef VARNEX_RULE_SSSE3
  if (UseSimd()) return RuleRows8Ssse3(Rows, Stride, Height, Width, Ink, Rule);
#endif
  for (std::size_t y = 0; y < Height; ++y, Ink.Next()) RuleRow8From(0, Rows + y * Stride, Width, Ink.Above(), Ink.Row(), Rule);
}

// The right half of a widened bitmap with a colour table: each index is classed once per table
// and each of the three colours of the rule is looked up in the table once.
void RuleRowsIndexed(TBitmap& Bitmap, int Width, TColor Bg, TColor LightColor, TColor ShadowColor) {
  const int bits = Bitmap.BitCount();
  const TIndexedRule& rule = IndexedRuleFor(Bitmap, Bg, LightColor, ShadowColor);
  TInkRows<std::uint8_t> inkRows(static_cast<std::size_t>(Width));
  if (bits == 8) {
    // The rows lie top-down in one block, a row's stride apart.
    const std::size_t stride =
        Bitmap.Height() > 1 ? static_cast<std::size_t>(Bitmap.ScanLine(1) - Bitmap.ScanLine(0)) : 0;
    RuleRows8(Bitmap.ScanLine(0), stride, static_cast<std::size_t>(Bitmap.Height()), static_cast<std::size_t>(Width),
              inkRows, rule);
    return;
  }
  for (int y = 0; y < Bitmap.Height(); ++y, inkRows.Next()) {
    std::uint8_t* row = Bitmap.ScanLine(y);
    std::uint8_t* rowInk = inkRows.Row();
    const std::uint8_t* aboveInk = inkRows.Above();
    for (int x = 0; x < Width; ++x) {
      const unsigned ink = rule.InkOf[BmpReadPacked(row, x, bits)];
      rowInk[x + 1] = static_cast<std::uint8_t>(ink);
      BmpWritePacked(row, Width + x, bits, rule.Out[ink * 2 + aboveInk[x]]);
    }
  }
}

// The right half of a widened bitmap of any other format, one row at a time through 24 bits.
void RuleRowsThroughColours(TBitmap& Bitmap, int Width, const TRuleColours& Colours) {
  TBitmap work;
  work.SetPixelFormat(pf24bit);
  work.SetWidth(Width);
  work.SetHeight(1);
  const bool simd = UseSimd();
  const std::size_t width = static_cast<std::size_t>(Width);
  TInkRows<std::uint8_t> ink(width);
  for (int y = 0; y < Bitmap.Height(); ++y) {
    work.Canvas()->Draw(0, -y, Bitmap);
    RuleRow(work.ScanLine(0), work.ScanLine(0), width, ink.Above(), ink.Row(), Colours, simd);
    ink.Next();
    Bitmap.Canvas()->CopyRect(TRect{Width, y, 2 * Width, y + 1}, *work.Canvas(), TRect{0, 0, Width, 1});
  }
}

}  // namespace

namespace {

// Glyphs with an alpha channel follow the same rule with transparency: a transparent pixel is
// paper, and every pixel of the disabled image takes an alpha as well as a colour.

// The rule's colours (0x00BBGGRR) and the background's alpha bits as the source stores them.
struct TAlphaRule {
  TColor Bg;
  std::uint32_t BgAlpha;
  TColor Light;
  TColor Shadow;
};

inline void SetPixelColor(std::uint8_t* Row, int X, TColor Color) {
  std::uint8_t* p = Row + 3 * static_cast<std::size_t>(X);
  p[0] = static_cast<std::uint8_t>(Color >> 16);
  p[1] = static_cast<std::uint8_t>(Color >> 8);
  p[2] = static_cast<std::uint8_t>(Color);
}

// Rewrites one row: the 24-bit colours of Row and the alpha bits in Alpha become the disabled
// image's. Paper is a transparent or white pixel, or one of the background colour while the
// background shows; the colour of a transparent background says nothing, so black ink on
// transparent black stays ink. AboveInk[x] holds the alpha of the ink at column x - 1 of the row
// above, 0 where there is none; RowInk receives the same for this row.
void AlphaRuleRow(std::uint8_t* Row, std::uint32_t* Alpha, int Width, const std::uint32_t* AboveInk,
                  std::uint32_t* RowInk, const TAlphaRule& Rule) {
  for (int x = 0; x < Width; ++x) {
    const TColor c = GetPixelColor(Row, x);
    const bool paper = Alpha[x] == 0 || c == kWhite || (c == Rule.Bg && Rule.BgAlpha != 0);
    RowInk[x + 1] = paper ? 0 : Alpha[x];
    if (!paper) {
      SetPixelColor(Row, x, Rule.Shadow);  // with its own alpha
    } else if (AboveInk[x] != 0) {
      SetPixelColor(Row, x, Rule.Light);
      Alpha[x] = AboveInk[x];
    } else {
      SetPixelColor(Row, x, Rule.Bg);
      Alpha[x] = Rule.BgAlpha;
    }
  }
}

// Widens a glyph with an alpha channel and draws its disabled image into the right half row by
// row, each row's alpha right after its colours. Work holds the source's colours in 24 bits.
void AddAlphaDisabledImage(TBitmap& Bitmap, TBitmap& Work, TColor LightColor, TColor ShadowColor) {
  const int width = Work.Width();
  const int height = Work.Height();
  const int bits = Bitmap.BitCount();
  const std::uint32_t mask = Bitmap.BitMasks()[3];
  TAlphaRule rule{GetPixelColor(Work.ScanLine(height - 1), 0), 0, LightColor, ShadowColor};
  ReadBmpAlpha(Bitmap.ScanLine(height - 1), bits, mask, 0, 1, &rule.BgAlpha);
  Bitmap.SetWidth(2 * width);  // nothing to do when it is already that wide
  std::vector<std::uint32_t> alpha(static_cast<std::size_t>(width));
  TInkRows<std::uint32_t> ink(static_cast<std::size_t>(width));
  for (int y = 0; y < height; ++y) {
    ReadBmpAlpha(Bitmap.ScanLine(y), bits, mask, 0, width, alpha.data());
    AlphaRuleRow(Work.ScanLine(y), alpha.data(), width, ink.Above(), ink.Row(), rule);
    Bitmap.Canvas()->CopyRect(TRect{width, y, 2 * width, y + 1}, *Work.Canvas(), TRect{0, y, width, y + 1});
    WriteBmpAlpha(Bitmap.ScanLine(y), bits, mask, width, width, alpha.data());
    ink.Next();
  }
}

}  // namespace

void MakeDisabledImage(TBitmap& Work, TColor LightColor, TColor ShadowColor) {
  const int width = Work.Width();
  const int height = Work.Height();
  if (width == 0 || height == 0) return;
  if (Work.PixelFormat() != pf24bit) throw EInvalidGraphicOperation("The disabled image needs a 24-bit bitmap");
  // Work on the bytes as stored (blue first), which saves reordering every pixel.
  const TColor bg = ToStored(GetPixelColor(Work.ScanLine(height - 1), 0));
  RuleRows24(Work, 0, width, TRuleColours{bg, ToStored(LightColor), ToStored(ShadowColor)});
}

TGlyphConvertCommand::TGlyphConvertCommand(const std::string& FileName, TColor LightColor, TColor ShadowColor,
                                           const std::string& OutputDir)
    : FileName(FileName), LightColor(LightColor), ShadowColor(ShadowColor), OutputDir(OutputDir) {}

void TGlyphConvertCommand::Execute() {
  TBitmap bitmap;
  // The glyph is read with room for its disabled image, so no row has to move to make it.
  LoadGlyph(bitmap);
  AddDisabledImage(bitmap);
  SaveGlyph(bitmap);
}

void TGlyphConvertCommand::LoadGlyph(TBitmap& Bitmap) {
  try {
    Bitmap.LoadWidenedFromFile(FileName);
  } catch (const EStreamError&) {
    throw EGlyphConvertError("Cannot load glyph from file: " + FileName);
  } catch (const EInvalidGraphic&) {
    throw EGlyphConvertError("Cannot load glyph from file: " + FileName);
  }
}

void AddDisabledImage(TBitmap& Bitmap, TColor LightColor, TColor ShadowColor) {
  const int width = Bitmap.Width();
  if (width == 0 || Bitmap.Height() == 0) return;
  if (width > INT32_MAX / 2) throw EOutOfResources("Bitmap is too large");
  // The bitmap widens in place and the right half is made from the left one row by row.
  Bitmap.SetWidth(2 * width);
  DrawDisabledHalf(Bitmap, LightColor, ShadowColor);
}

void DrawDisabledHalf(TBitmap& Bitmap, TColor LightColor, TColor ShadowColor) {
  const int width = Bitmap.Width() / 2;
  const int height = Bitmap.Height();
  if (width == 0 || height == 0) return;
  if (BmpHasAlpha(Bitmap.BitCount(), Bitmap.BitMasks())) {
    const auto work = std::make_unique<TBitmap>();
    work->SetPixelFormat(pf24bit);
    work->SetWidth(width);
    work->SetHeight(height);
    work->Canvas()->Draw(0, 0, Bitmap);
    AddAlphaDisabledImage(Bitmap, *work, LightColor, ShadowColor);
    return;
  }
  // The background as the source's bottom-left pixel reads in 24 bits; an index is looked up in
  // the table directly, without a codec to set up for one pixel.
  TColor bg = 0;
  if (IsPaletteDepth(Bitmap.BitCount())) {
    const unsigned index = BmpReadPacked(Bitmap.ScanLine(height - 1), 0, Bitmap.BitCount());
    if (index < Bitmap.Palette().size()) bg = Bitmap.Palette()[index];  // past the table: black
  } else {
    bg = Bitmap.Canvas()->Pixel(0, height - 1);
  }
  const TRuleColours colours{ToStored(bg), ToStored(LightColor), ToStored(ShadowColor)};
  if (Bitmap.BitCount() == 24)
    RuleRows24(Bitmap, 3 * static_cast<std::size_t>(width), width, colours);
  else if (IsPaletteDepth(Bitmap.BitCount()))
    RuleRowsIndexed(Bitmap, width, bg, LightColor, ShadowColor);
  else
    RuleRowsThroughColours(Bitmap, width, colours);
}

void TGlyphConvertCommand::AddDisabledImage(TBitmap& Bitmap) { DrawDisabledHalf(Bitmap, LightColor, ShadowColor); }

void TGlyphConvertCommand::SaveGlyph(TBitmap& Bitmap) {
  // The output folder and the source's name, built in one string.
  const std::size_t slash = FileName.rfind(PathDelim);
  const std::string_view name = std::string_view(FileName).substr(slash == std::string::npos ? 0 : slash + 1);
  std::string target;
  target.reserve(OutputDir.size() + 1 + name.size());
  target += OutputDir;
  if (target.empty() || target.back() != PathDelim) target += PathDelim;
  target += name;
  try {
    // The publish never replaces a file and reports an existing name itself.
    Bitmap.SaveToFile(target, false);
  } catch (const EFileExists&) {
    if (DirectoryExists(target)) throw EGlyphConvertError("Cannot save glyph to file: " + target);
    throw EGlyphOutputExists("Output file already exists: " + target);
  } catch (const EStreamError&) {
    // An existing file is reported before any other reason the save failed.
    if (FileExists(target)) throw EGlyphOutputExists("Output file already exists: " + target);
    throw EGlyphConvertError("Cannot save glyph to file: " + target);
  }
}
