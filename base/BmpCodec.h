#pragma once
// The in-memory form of a Windows BMP image and the codec behind TBitmap.

#include "base/Types.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

// Compression value of an uncompressed info header.
inline constexpr std::uint32_t kBmpRgb = 0;
// Compression value of 8-bit run-length data.
inline constexpr std::uint32_t kBmpRle8 = 1;
// Compression value of 4-bit run-length data.
inline constexpr std::uint32_t kBmpRle4 = 2;
// Compression value of red, green and blue bit masks.
inline constexpr std::uint32_t kBmpBitFields = 3;
// Compression value of red, green, blue and alpha bit masks.
inline constexpr std::uint32_t kBmpAlphaBitFields = 6;

// Largest width or height the reader accepts.
inline constexpr std::int64_t kBmpMaxSide = 16384;
// Largest number of pixels the reader accepts.
inline constexpr std::int64_t kBmpMaxPixels = std::int64_t{1} << 26;

// One decoded BMP image: its pixels in the file's own format plus what it takes to write it back.
struct TBmpImage {
  int Width = 0;
  int Height = 0;
  int BitCount = 24;
  // The colour table, as colours 0x00BBGGRR.
  std::vector<TColor> Palette;
  // Red, green, blue and alpha masks of a 16- or 32-bit pixel.
  std::array<std::uint32_t, 4> Masks{};
  // How the masks are stored on write: kBmpRgb, kBmpBitFields or kBmpAlphaBitFields.
  std::uint32_t Compression = kBmpRgb;
  // Size of the info header: 12, 16, 40, 52, 56, 64, 108 or 124.
  int HeaderSize = 40;
  bool TopDown = false;
  std::int32_t XPelsPerMeter = 0;
  std::int32_t YPelsPerMeter = 0;
  std::uint32_t ClrImportant = 0;
  // Info header bytes past the first 40, kept for writing.
  std::vector<std::uint8_t> HeaderTail;
  // Bytes per row, padded to four.
  std::size_t Stride = 0;
  // Rows top-down, Stride bytes each, padding bits zero.
  std::vector<std::uint8_t> Pixels;
};

// Bytes per BMP row of Width pixels at BitCount bits, padded to a multiple of four.
std::uint64_t BmpStride(std::int64_t Width, int BitCount);
// The masks an uncompressed 16- or 32-bit file implies (zero for other depths).
std::array<std::uint32_t, 4> DefaultBmpMasks(int BitCount);
// True for the depths that index a colour table.
bool IsPaletteDepth(int BitCount);
// Clears the bits of Row that lie past Width pixels, up to Stride bytes.
void ClearRowTail(std::uint8_t* Row, int Width, int BitCount, std::size_t Stride);

// True when pixels of this depth and these masks carry an alpha channel (a 16- or 32-bit alpha mask).
bool BmpHasAlpha(int BitCount, const std::array<std::uint32_t, 4>& Masks);
// Reads the alpha bits of Count 16- or 32-bit pixels from X on, masked in place (not shifted down).
void ReadBmpAlpha(const std::uint8_t* Row, int BitCount, std::uint32_t AlphaMask, int X, int Count,
                  std::uint32_t* Out);
// Replaces the alpha bits of Count 16- or 32-bit pixels from X on with Alpha's, given as ReadBmpAlpha reads them.
void WriteBmpAlpha(std::uint8_t* Row, int BitCount, std::uint32_t AlphaMask, int X, int Count,
                   const std::uint32_t* Alpha);

// Decodes a whole BMP file held in memory; raises EInvalidGraphic naming the fault.
TBmpImage DecodeBmp(const std::uint8_t* Data, std::size_t Size);
// Encodes an image as a BMP file in its own format and header kind.
std::vector<std::uint8_t> EncodeBmp(const TBmpImage& Image);

// Converts row segments of one image between its pixel format and RGB colours.
class TPixelCodec {
public:
  // Prepares the conversion for Image's format; Image must outlive the codec.
  explicit TPixelCodec(const TBmpImage& Image);
  // Reads Count pixels from X on as colours; an index past the colour table reads as black.
  void Decode(const std::uint8_t* Row, int X, int Count, TColor* Out) const;
  // Writes Count colours from X on, each as the nearest value the format holds.
  void Encode(std::uint8_t* Row, int X, int Count, const TColor* In);
  // The pixel value (palette index or packed bits) that stores Color most closely.
  std::uint32_t Quantize(TColor Color);

private:
  struct TChannel {
    std::uint32_t Mask = 0;
    int Shift = 0;
    std::uint32_t Max = 0;
  };
  std::uint32_t NearestIndex(TColor Color) const;
  TColor Unpack(std::uint32_t Value) const;

  int FBitCount;
  const std::vector<TColor>& FPalette;
  std::array<TChannel, 3> FChannels{};
  std::uint32_t FAlphaMask = 0;
  // Only palette depths use the cache, so only they pay for clearing it.
  std::array<std::uint32_t, 256> FCacheKey;
  std::array<std::uint32_t, 256> FCacheValue;
};
