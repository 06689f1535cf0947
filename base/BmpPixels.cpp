#include "base/BmpCodec.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <new>
#include <sys/mman.h>
#if defined(__x86_64__)
#include <immintrin.h>
#endif
#include <limits>

std::uint64_t BmpStride(std::int64_t Width, int BitCount) {
  const std::uint64_t bits = static_cast<std::uint64_t>(Width) * static_cast<std::uint64_t>(BitCount);
  return (bits + 31) / 32 * 4;
}

std::array<std::uint32_t, 4> DefaultBmpMasks(int BitCount) {
  if (BitCount == 16) return {0x7C00, 0x03E0, 0x001F, 0};
  if (BitCount == 32) return {0xFF0000, 0x00FF00, 0x0000FF, 0};
  return {0, 0, 0, 0};
}

bool IsPaletteDepth(int BitCount) { return BitCount >= 1 && BitCount <= 8; }

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define VARNEX_SWAP_SSSE3 1

namespace {

// Four entries per step with one byte shuffle; returns how many it swapped. In may be Out.
__attribute__((target("ssse3"))) std::size_t SwapTableEntriesSsse3(const std::uint8_t* In, std::uint8_t* Out,
                                                                  std::size_t Count) {
  const __m128i order = _mm_setr_epi8(2, 1, 0, -1, 6, 5, 4, -1, 10, 9, 8, -1, 14, 13, 12, -1);
  std::size_t i = 0;
  for (; i + 4 <= Count; i += 4) {
    const __m128i entries = _mm_loadu_si128(reinterpret_cast<const __m128i*>(In + 4 * i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(Out + 4 * i), _mm_shuffle_epi8(entries, order));
  }
  return i;
}

}  // namespace
#endif

void SwapTableEntries(const std::uint8_t* In, std::uint8_t* Out, std::size_t Count) {
  std::size_t i = 0;
#ifdef VARNEX_SWAP_SSSE3
  static const bool ssse3 = __builtin_cpu_supports("ssse3");
  if (ssse3) i = SwapTableEntriesSsse3(In, Out, Count);
#endif
  // Shifts and masks on whole entries elsewhere, and for the last few.
  for (; i < Count; ++i) {
    std::uint32_t entry;
    std::memcpy(&entry, In + 4 * i, 4);
    entry = ((entry & 0xFF) << 16) | (entry & 0xFF00) | ((entry >> 16) & 0xFF);
    std::memcpy(Out + 4 * i, &entry, 4);
  }
}

void ClearRowTail(std::uint8_t* Row, int Width, int BitCount, std::size_t Stride) {
  const std::uint64_t usedBits = static_cast<std::uint64_t>(Width) * static_cast<std::uint64_t>(BitCount);
  std::size_t full = static_cast<std::size_t>(usedBits / 8);
  const unsigned partial = static_cast<unsigned>(usedBits % 8);
  if (partial != 0 && full < Stride) {
    // Pixels are packed from the high bit down, so the unused bits are the low ones.
    Row[full] &= static_cast<std::uint8_t>(0xFF00u >> partial);
    ++full;
  }
  if (full < Stride) std::memset(Row + full, 0, Stride - full);
}

namespace {

// Large images fault their memory in by huge pages where the system allows it: a 4096 x 4096
// image would otherwise take tens of thousands of page faults.
void PreferHugePages(std::uint8_t* Data, std::size_t Size) {
  constexpr std::uintptr_t kHuge = std::uintptr_t{2} << 20;
  if (Size < 4 * kHuge) return;
  const std::uintptr_t begin = (reinterpret_cast<std::uintptr_t>(Data) + kHuge - 1) & ~(kHuge - 1);
  const std::uintptr_t end = (reinterpret_cast<std::uintptr_t>(Data) + Size) & ~(kHuge - 1);
  if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

}  // namespace

TPixelBuffer::TPixelBuffer(const TPixelBuffer& Other) {
  Allocate(Other.FSize);
  if (FSize > 0) std::memcpy(FData, Other.FData, FSize);
}

TPixelBuffer::~TPixelBuffer() { std::free(FData); }

void TPixelBuffer::Adopt(std::uint8_t* Data, std::size_t Size) {
  if (Size > 0 && Data == nullptr) throw std::bad_alloc();
  PreferHugePages(Data, Size);
  std::free(FData);
  FData = Data;
  FSize = Size;
}

void TPixelBuffer::Allocate(std::size_t Size) {
  Adopt(Size == 0 ? nullptr : static_cast<std::uint8_t*>(std::malloc(Size)), Size);
}

void TPixelBuffer::AllocateZeroed(std::size_t Size) {
  // Large blocks come straight from the system already cleared, so calloc skips the clearing.
  // A small block is cleared either way, and malloc finds it in the thread's cache, which
  // calloc passes by.
  if (Size != 0 && Size < kSmallBlock) {
    Allocate(Size);
    std::memset(FData, 0, Size);
    return;
  }
  Adopt(Size == 0 ? nullptr : static_cast<std::uint8_t*>(std::calloc(Size, 1)), Size);
}

void TPixelBuffer::Resize(std::size_t Size) {
  if (Size == 0) {
    std::free(FData);
    FData = nullptr;
    FSize = 0;
    return;
  }
  auto* data = static_cast<std::uint8_t*>(std::realloc(FData, Size));
  if (data == nullptr) throw std::bad_alloc();
  PreferHugePages(data, Size);
  FData = data;
  FSize = Size;
}

namespace {

inline TColor Rgb(unsigned Red, unsigned Green, unsigned Blue) { return Red | (Green << 8) | (Blue << 16); }

inline std::uint32_t SquaredDistance(TColor A, TColor B) {
  const int dr = static_cast<int>(A & 0xFF) - static_cast<int>(B & 0xFF);
  const int dg = static_cast<int>((A >> 8) & 0xFF) - static_cast<int>((B >> 8) & 0xFF);
  const int db = static_cast<int>((A >> 16) & 0xFF) - static_cast<int>((B >> 16) & 0xFF);
  return static_cast<std::uint32_t>(dr * dr + dg * dg + db * db);
}

}  // namespace

TPixelCodec::TPixelCodec(const TBmpImage& Image) : FBitCount(Image.BitCount), FPalette(Image.Palette) {
  for (std::size_t i = 0; i < FChannels.size(); ++i) {
    TChannel& channel = FChannels[i];
    channel.Mask = Image.Masks[i];
    if (channel.Mask != 0) {
      channel.Shift = std::countr_zero(channel.Mask);
      channel.Max = channel.Mask >> channel.Shift;
    }
  }
  FAlphaMask = Image.Masks[3];
  if (IsPaletteDepth(FBitCount)) FCacheKey.fill(0);
}

TColor TPixelCodec::Unpack(std::uint32_t Value) const {
  unsigned parts[3];
  for (std::size_t i = 0; i < 3; ++i) {
    const TChannel& c = FChannels[i];
    if (c.Max == 0) {
      parts[i] = 0;
      continue;
    }
    // Scale to 0..255 with rounding; channels wider than 8 bits need 64 bits.
    const std::uint64_t v = (Value & c.Mask) >> c.Shift;
    parts[i] = static_cast<unsigned>((v * 255 + c.Max / 2) / c.Max);
  }
  return Rgb(parts[0], parts[1], parts[2]);
}

void TPixelCodec::Decode(const std::uint8_t* Row, int X, int Count, TColor* Out) const {
  switch (FBitCount) {
    case 24:
      for (int i = 0; i < Count; ++i) {
        const std::uint8_t* p = Row + 3 * static_cast<std::size_t>(X + i);
        Out[i] = Rgb(p[2], p[1], p[0]);
      }
      return;
    case 16:
      for (int i = 0; i < Count; ++i) {
        const std::uint8_t* p = Row + 2 * static_cast<std::size_t>(X + i);
        Out[i] = Unpack(static_cast<std::uint32_t>(p[0] | (p[1] << 8)));
      }
      return;
    case 32:
      for (int i = 0; i < Count; ++i) {
        std::uint32_t v;
        std::memcpy(&v, Row + 4 * static_cast<std::size_t>(X + i), 4);
        Out[i] = Unpack(v);
      }
      return;
    default:
      break;
  }
  const std::size_t colours = FPalette.size();
  for (int i = 0; i < Count; ++i) {
    const unsigned index = FBitCount == 8 ? Row[X + i] : BmpReadPacked(Row, X + i, FBitCount);
    Out[i] = index < colours ? FPalette[index] : 0;
  }
}

std::uint32_t NearestPaletteIndex(const std::vector<TColor>& Palette, TColor Color) {
  Color &= 0xFFFFFF;
  // The first exact entry is the answer, and a plain search finds it many times faster.
  const auto exact = std::find(Palette.begin(), Palette.end(), Color);
  if (exact != Palette.end()) return static_cast<std::uint32_t>(exact - Palette.begin());
  std::uint32_t best = 0;
  std::uint32_t bestDistance = std::numeric_limits<std::uint32_t>::max();
  for (std::size_t i = 0; i < Palette.size(); ++i) {
    const std::uint32_t d = SquaredDistance(Color, Palette[i]);
    // Strictly smaller keeps the lowest index on ties.
    if (d < bestDistance) {
      bestDistance = d;
      best = static_cast<std::uint32_t>(i);
      if (d == 0) break;
    }
  }
  return best;
}

std::uint32_t TPixelCodec::NearestIndex(TColor Color) const { return NearestPaletteIndex(FPalette, Color); }

std::uint32_t TPixelCodec::Quantize(TColor Color) {
  Color &= 0xFFFFFF;
  switch (FBitCount) {
    case 24:
      return Color;
    case 16:
    case 32: {
      std::uint32_t value = FAlphaMask;
      for (std::size_t i = 0; i < 3; ++i) {
        const TChannel& c = FChannels[i];
        const std::uint64_t v8 = (Color >> (8 * i)) & 0xFF;
        value |= static_cast<std::uint32_t>((v8 * c.Max + 127) / 255) << c.Shift;
      }
      return value;
    }
    default:
      break;
  }
  // A glyph's right half holds only a few colours, so a small cache saves the palette search.
  const std::size_t slot = (Color * 0x9E3779B1u) >> 24;
  const std::uint32_t key = Color | 0x1000000u;
  if (FCacheKey[slot] != key) {
    FCacheKey[slot] = key;
    FCacheValue[slot] = NearestIndex(Color);
  }
  return FCacheValue[slot];
}

void TPixelCodec::Encode(std::uint8_t* Row, int X, int Count, const TColor* In) {
  switch (FBitCount) {
    case 24:
      for (int i = 0; i < Count; ++i) {
        std::uint8_t* p = Row + 3 * static_cast<std::size_t>(X + i);
        p[0] = static_cast<std::uint8_t>(In[i] >> 16);
        p[1] = static_cast<std::uint8_t>(In[i] >> 8);
        p[2] = static_cast<std::uint8_t>(In[i]);
      }
      return;
    case 16:
      for (int i = 0; i < Count; ++i) {
        const std::uint32_t v = Quantize(In[i]);
        std::uint8_t* p = Row + 2 * static_cast<std::size_t>(X + i);
        p[0] = static_cast<std::uint8_t>(v);
        p[1] = static_cast<std::uint8_t>(v >> 8);
      }
      return;
    case 32:
      for (int i = 0; i < Count; ++i) {
        const std::uint32_t v = Quantize(In[i]);
        std::memcpy(Row + 4 * static_cast<std::size_t>(X + i), &v, 4);
      }
      return;
    case 8:
      for (int i = 0; i < Count; ++i) Row[X + i] = static_cast<std::uint8_t>(Quantize(In[i]));
      return;
    default:
      for (int i = 0; i < Count; ++i) BmpWritePacked(Row, X + i, FBitCount, Quantize(In[i]));
      return;
  }
}

bool BmpHasAlpha(int BitCount, const std::array<std::uint32_t, 4>& Masks) {
  return (BitCount == 16 || BitCount == 32) && Masks[3] != 0;
}
