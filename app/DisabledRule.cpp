#include "app/DisabledRule.h"

#include "base/Graphics.h"

#include <array>
#include <atomic>
#include <cstring>
#include <utility>
#include <vector>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define VARNEX_VECTOR_ROUTE 1
#include <immintrin.h>
#endif

namespace {

constexpr TColor kWhite = 0xFFFFFF;

std::atomic<bool> VectorRoute{true};

// True when the switch allows the vector route and the processor runs it; asked on every row.
bool UseVectorRoute() {
#ifdef VARNEX_VECTOR_ROUTE
  return VectorRoute.load(std::memory_order_relaxed) && __builtin_cpu_supports("ssse3");
#else
  return false;
#endif
}

}  // namespace

bool IsInk(TColor Color, TColor Background, bool BackgroundShows) {
  // Bitwise rather than short-circuit: glyph edges would make branches mispredict all the time.
  return (Color != kWhite) & ((Color != Background) | !BackgroundShows);
}

void DisabledClasses(const std::uint8_t* Ink, const std::uint8_t* InkAbove, std::uint8_t* Classes,
                     std::size_t From, std::size_t To) {
  for (std::size_t x = From; x < To; ++x)
    Classes[x] = Ink[x] != 0 ? dcShadow : (x > 0 && InkAbove[x - 1] != 0) ? dcLight : dcPaper;
}

void DisabledRow(const std::uint8_t* Ink, const std::uint8_t* InkAbove, std::uint8_t* Classes, std::size_t Width) {
  std::size_t x = 0;
#ifdef VARNEX_VECTOR_ROUTE
  if (UseVectorRoute()) {
    // Flags are 0 or 1, so a class is the larger of twice the ink and the ink up-left; the
    // zero before the row above stands for the ink up-left of the first pixel.
    for (; x + 16 <= Width; x += 16) {
      const __m128i ink = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Ink + x));
      const __m128i upLeft = _mm_loadu_si128(reinterpret_cast<const __m128i*>(InkAbove + x - 1));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(Classes + x), _mm_max_epu8(_mm_add_epi8(ink, ink), upLeft));
    }
  }
#endif
  DisabledClasses(Ink, InkAbove, Classes, x, Width);
}

void SetDisabledVectorRoute(bool On) { VectorRoute.store(On, std::memory_order_relaxed); }

namespace {

#ifdef VARNEX_VECTOR_ROUTE

// The ink flags of sixteen indices a step, read from a set of 256 bits (index i at bit i % 8 of
// byte i / 8) by byte shuffles; returns where it stopped.
__attribute__((target("ssse3"))) std::size_t InkOfIndices(const std::uint8_t* Row, std::uint8_t* Ink,
                                                         std::size_t Width, const std::uint8_t* InkBits) {
  const __m128i bitsLow = _mm_loadu_si128(reinterpret_cast<const __m128i*>(InkBits));
  const __m128i bitsHigh = _mm_loadu_si128(reinterpret_cast<const __m128i*>(InkBits + 16));
  const __m128i bitOf = _mm_setr_epi8(1, 2, 4, 8, 16, 32, 64, -128, 1, 2, 4, 8, 16, 32, 64, -128);
  std::size_t x = 0;
  for (; x + 16 <= Width; x += 16) {
    const __m128i index = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Row + x));
    // A shuffle reads 16 bytes, so both halves of the set are read and the right one kept.
    const __m128i byte = _mm_and_si128(_mm_srli_epi16(index, 3), _mm_set1_epi8(0x1F));
    const __m128i high = _mm_cmpgt_epi8(byte, _mm_set1_epi8(15));
    const __m128i set = _mm_or_si128(_mm_and_si128(high, _mm_shuffle_epi8(bitsHigh, byte)),
                                     _mm_andnot_si128(high, _mm_shuffle_epi8(bitsLow, byte)));
    const __m128i bit = _mm_shuffle_epi8(bitOf, _mm_and_si128(index, _mm_set1_epi8(7)));
    const __m128i ink = _mm_and_si128(_mm_cmpeq_epi8(_mm_and_si128(set, bit), bit), _mm_set1_epi8(1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(Ink + x), ink);
  }
  return x;
}

// The values of sixteen classes a step, each class a byte shuffle's index into Values; returns where it stopped.
__attribute__((target("ssse3"))) std::size_t ValuesOfClasses(const std::uint8_t* Classes, std::uint8_t* Out,
                                                            std::size_t Width, const std::uint8_t* Values) {
  const __m128i values = _mm_setr_epi8(static_cast<char>(Values[0]), static_cast<char>(Values[1]),
                                       static_cast<char>(Values[2]), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
  std::size_t x = 0;
  for (; x + 16 <= Width; x += 16) {
    const __m128i classes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Classes + x));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(Out + x), _mm_shuffle_epi8(values, classes));
  }
  return x;
}

// The ink flags of four 24-bit pixels a step: sixteen bytes read as four pixels of four
// bytes, their fourth byte dropped, and compared with the background and white. Reads up to
// three bytes past the pixels, which the caller's row must hold; returns where it stopped.
__attribute__((target("ssse3"))) std::size_t InkOfPixels24(const std::uint8_t* Row, std::uint8_t* Ink,
                                                          std::size_t Width, std::uint32_t Background) {
  const __m128i unpack = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
  const __m128i firstBytes = _mm_setr_epi8(0, 4, 8, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i background = _mm_set1_epi32(static_cast<int>(Background));
  const __m128i white = _mm_set1_epi32(0xFFFFFF);
  std::size_t x = 0;
  for (; x + 4 <= Width; x += 4) {
    const __m128i px = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(Row + 3 * x)), unpack);
    const __m128i paper = _mm_or_si128(_mm_cmpeq_epi32(px, background), _mm_cmpeq_epi32(px, white));
    const __m128i ink = _mm_andnot_si128(_mm_shuffle_epi8(paper, firstBytes), _mm_set1_epi8(1));
    const int flags = _mm_cvtsi128_si32(ink);
    std::memcpy(Ink + x, &flags, 4);
  }
  return x;
}

// The pixels of four classes a step, twelve bytes chosen from the three values' bytes by one
// shuffle; writes nothing past the pixels. Returns where it stopped.
__attribute__((target("ssse3"))) std::size_t PixelsOfClasses24(const std::uint8_t* Classes, std::uint8_t* Out,
                                                              std::size_t Width, const std::uint32_t* Values) {
  std::uint8_t table[16] = {};
  for (int c = 0; c < 3; ++c) std::memcpy(table + 3 * c, &Values[c], 3);
  const __m128i values = _mm_loadu_si128(reinterpret_cast<const __m128i*>(table));
  const __m128i spread = _mm_setr_epi8(0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3, -1, -1, -1, -1);
  const __m128i byteOf = _mm_setr_epi8(0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0, 0, 0, 0);
  std::size_t x = 0;
  for (; x + 4 <= Width; x += 4) {
    int four;
    std::memcpy(&four, Classes + x, 4);
    const __m128i c = _mm_shuffle_epi8(_mm_cvtsi32_si128(four), spread);
    const __m128i index = _mm_add_epi8(_mm_add_epi8(c, _mm_add_epi8(c, c)), byteOf);
    const __m128i px = _mm_shuffle_epi8(values, index);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(Out + 3 * x), px);
    const int last = _mm_cvtsi128_si32(_mm_srli_si128(px, 8));
    std::memcpy(Out + 3 * x + 8, &last, 4);
  }
  return x;
}

#endif

// The pixel value of each class, in the bitmap's format.
using TClassValues = std::array<std::uint32_t, 3>;

// 8-bit glyphs: each index's ink is worked out once per glyph, and every pixel is one look-up.
class TIndexed8 {
public:
  TIndexed8(TBitmap& Bitmap, TColor Background, const TClassValues& Values)
      : FBitmap(Bitmap), FWidth(static_cast<std::size_t>(Bitmap.Width() / 2)) {
    const std::vector<TColor>& table = Bitmap.Palette();
    // An index past the table reads as black.
    FInkBits.fill(0);
    for (std::size_t i = 0; i < FInkOf.size(); ++i) {
      FInkOf[i] = IsInk(i < table.size() ? table[i] : 0, Background);
      FInkBits[i / 8] = static_cast<std::uint8_t>(FInkBits[i / 8] | (FInkOf[i] << (i % 8)));
    }
    for (std::size_t c = 0; c < Values.size(); ++c) FValues[c] = static_cast<std::uint8_t>(Values[c]);
  }
  void ReadInk(int Y, std::uint8_t* Ink) const {
    const std::uint8_t* row = FBitmap.ScanLine(Y);
    std::size_t x = 0;
#ifdef VARNEX_VECTOR_ROUTE
    if (UseVectorRoute()) x = InkOfIndices(row, Ink, FWidth, FInkBits.data());
#endif
    for (; x < FWidth; ++x) Ink[x] = FInkOf[row[x]];
  }
  void WriteClasses(int Y, const std::uint8_t* Classes) {
    std::uint8_t* half = FBitmap.ScanLine(Y) + FWidth;
    std::size_t x = 0;
#ifdef VARNEX_VECTOR_ROUTE
    if (UseVectorRoute()) x = ValuesOfClasses(Classes, half, FWidth, FValues.data());
#endif
    for (; x < FWidth; ++x) half[x] = FValues[Classes[x]];
  }

private:
  TBitmap& FBitmap;
  const std::size_t FWidth;
  std::array<std::uint8_t, 256> FInkOf;
  std::array<std::uint8_t, 32> FInkBits;  // the same as a set of bits, for the vector route
  std::array<std::uint8_t, 3> FValues;
};

// 24-bit glyphs: pixels read and written four bytes at a time in the order they are stored
// (blue, green, red); ink is told by equality, which the order does not change.
class TDirect24 {
public:
  TDirect24(TBitmap& Bitmap, TColor Background, const TClassValues& Values)
      : FBitmap(Bitmap), FWidth(static_cast<std::size_t>(Bitmap.Width() / 2)), FBackground(Stored(Background)) {
    for (std::size_t c = 0; c < Values.size(); ++c) FValues[c] = Stored(Values[c]);
  }
  void ReadInk(int Y, std::uint8_t* Ink) const {
    // The right half follows the left, so the fourth byte of the last pixel is still in the row.
    const std::uint8_t* row = FBitmap.ScanLine(Y);
    std::size_t x = 0;
#ifdef VARNEX_VECTOR_ROUTE
    if (UseVectorRoute()) x = InkOfPixels24(row, Ink, FWidth, FBackground);
#endif
    for (; x < FWidth; ++x) {
      std::uint32_t v;
      std::memcpy(&v, row + 3 * x, 4);
      Ink[x] = IsInk(v & 0xFFFFFF, FBackground);
    }
  }
  void WriteClasses(int Y, const std::uint8_t* Classes) {
    // Each store's fourth byte is overwritten by the next pixel; the last pixel takes three.
    std::uint8_t* half = FBitmap.ScanLine(Y) + 3 * FWidth;
    std::size_t x = 0;
#ifdef VARNEX_VECTOR_ROUTE
    if (UseVectorRoute()) x = PixelsOfClasses24(Classes, half, FWidth, FValues.data());
#endif
    for (; x + 1 < FWidth; ++x) std::memcpy(half + 3 * x, &FValues[Classes[x]], 4);
    if (x < FWidth) std::memcpy(half + 3 * x, &FValues[Classes[x]], 3);
  }

private:
  static std::uint32_t Stored(TColor C) { return ((C & 0xFF) << 16) | (C & 0xFF00) | ((C >> 16) & 0xFF); }

  TBitmap& FBitmap;
  const std::size_t FWidth;
  const std::uint32_t FBackground;
  std::array<std::uint32_t, 3> FValues;
};

// Every other format through colours and pixel values. With alpha, a transparent pixel is paper,
// the background colour is paper only where the background shows, shadow keeps the ink's alpha,
// light takes the alpha of the ink up-left of it and the background the background's.
class TAnyFormat {
public:
  TAnyFormat(TBitmap& Bitmap, TColor Background, const TClassValues& Values)
      : FBitmap(Bitmap), FWidth(Bitmap.Width() / 2), FBackground(Background), FValues(Values),
        FAlphaMask(Bitmap.AlphaMask()), FColours(static_cast<std::size_t>(FWidth)),
        FPixels(3 * static_cast<std::size_t>(FWidth), 0) {
    FBitmap.ReadValues(Bitmap.Height() - 1, 0, 1, &FBackgroundAlpha);
    FBackgroundAlpha &= FAlphaMask;
    FRow = FPixels.data();
    FAbove = FRow + FWidth;
    FOut = FAbove + FWidth;
  }
  void ReadInk(int Y, std::uint8_t* Ink) {
    std::swap(FRow, FAbove);
    FBitmap.ReadColours(Y, 0, FWidth, FColours.data());
    FBitmap.ReadValues(Y, 0, FWidth, FRow);
    const bool backgroundShows = FAlphaMask == 0 || FBackgroundAlpha != 0;
    for (int x = 0; x < FWidth; ++x)
      Ink[x] = (FAlphaMask == 0 || (FRow[x] & FAlphaMask) != 0) && IsInk(FColours[x], FBackground, backgroundShows);
  }
  void WriteClasses(int Y, const std::uint8_t* Classes) {
    for (int x = 0; x < FWidth; ++x) {
      const std::uint8_t c = Classes[x];
      const std::uint32_t alpha = c == dcShadow ? FRow[x] : c == dcLight ? FAbove[x - 1] : FBackgroundAlpha;
      FOut[x] = (FValues[c] & ~FAlphaMask) | (alpha & FAlphaMask);
    }
    FBitmap.WriteValues(Y, FWidth, FWidth, FOut);
  }

private:
  TBitmap& FBitmap;
  const int FWidth;
  const TColor FBackground;
  const TClassValues FValues;
  const std::uint32_t FAlphaMask;
  std::uint32_t FBackgroundAlpha = 0;
  std::vector<TColor> FColours;
  std::vector<std::uint32_t> FPixels;
  std::uint32_t* FRow;    // this row's pixel values
  std::uint32_t* FAbove;  // the row above's
  std::uint32_t* FOut;
};

// Runs the rule over every row, top-down, with Adapter between the bitmap and the ink flags.
template <typename TAdapter>
void DrawRows(TBitmap& Bitmap, TColor Background, const TClassValues& Values) {
  TAdapter adapter(Bitmap, Background, Values);
  const std::size_t width = static_cast<std::size_t>(Bitmap.Width() / 2);
  // Each row of ink flags follows a zero, as DisabledRow asks.
  std::vector<std::uint8_t> rows(3 * width + 2, 0);
  std::uint8_t* ink = rows.data() + 1;
  std::uint8_t* above = ink + width + 1;
  std::uint8_t* classes = above + width;
  for (int y = 0; y < Bitmap.Height(); ++y) {
    adapter.ReadInk(y, ink);
    DisabledRow(ink, above, classes, width);
    adapter.WriteClasses(y, classes);
    std::swap(ink, above);
  }
}

}  // namespace

void DrawDisabledHalf(TBitmap& Bitmap, TColor LightColor, TColor ShadowColor) {
  const int width = Bitmap.Width() / 2;
  const int height = Bitmap.Height();
  if (width == 0 || height == 0) return;
  TColor background = 0;
  Bitmap.ReadColours(height - 1, 0, 1, &background);
  const TClassValues values = {Bitmap.PixelValue(background), Bitmap.PixelValue(LightColor),
                               Bitmap.PixelValue(ShadowColor)};
  if (Bitmap.BitCount() == 8)
    DrawRows<TIndexed8>(Bitmap, background, values);
  else if (Bitmap.BitCount() == 24)
    DrawRows<TDirect24>(Bitmap, background, values);
  else
    DrawRows<TAnyFormat>(Bitmap, background, values);
}
