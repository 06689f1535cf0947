#pragma once
// The in-memory form of a Windows BMP image and the codec behind TBitmap.

#include "base/Types.h"

#include <array>
#include <utility>
#include <cstddef>
#include <cstdint>
#include <sys/uio.h>
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

// Pixel memory that is not cleared when allocated and can grow in place.
class TPixelBuffer {
public:
  TPixelBuffer() = default;
  TPixelBuffer(const TPixelBuffer& Other);
  TPixelBuffer(TPixelBuffer&& Other) noexcept : FData(Other.FData), FSize(Other.FSize) {
    Other.FData = nullptr;
    Other.FSize = 0;
  }
  TPixelBuffer& operator=(TPixelBuffer Other) noexcept {
    std::swap(FData, Other.FData);
    std::swap(FSize, Other.FSize);
    return *this;
  }
  ~TPixelBuffer();

  std::uint8_t* data() { return FData; }
  const std::uint8_t* data() const { return FData; }
  std::size_t size() const { return FSize; }
  // Replaces the content with Size bytes of undefined value; raises std::bad_alloc.
  void Allocate(std::size_t Size);
  // Replaces the content with Size zero bytes; raises std::bad_alloc.
  void AllocateZeroed(std::size_t Size);
  // Keeps the first bytes and grows or shrinks to Size, in place where the memory allows;
  // added bytes are undefined. Raises std::bad_alloc and then keeps the content.
  void Resize(std::size_t Size);

private:
  // Blocks below this size are cleared by hand rather than by calloc.
  static constexpr std::size_t kSmallBlock = 1024;
  // Takes a fresh block of Size bytes in place of the current one; a null block raises.
  void Adopt(std::uint8_t* Data, std::size_t Size);

  std::uint8_t* FData = nullptr;
  std::size_t FSize = 0;
};

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
  TPixelBuffer Pixels;
};

// The bytes of a BMP file as the decoder reads them: the first ones in memory, the
// pixels read on demand straight into their rows.
class TBmpSource {
public:
  virtual ~TBmpSource() = default;
  // The size of the whole file.
  virtual std::uint64_t Size() const = 0;
  // The first Count bytes (Count <= Size()), valid until the next call.
  virtual const std::uint8_t* Head(std::size_t Count) = 0;
  // Fills the parts in order with the bytes from At on; they lie within Size().
  virtual void Read(std::uint64_t At, const iovec* Parts, std::size_t Count) = 0;
};

// Bytes per BMP row of Width pixels at BitCount bits, padded to a multiple of four.
std::uint64_t BmpStride(std::int64_t Width, int BitCount);
// The masks an uncompressed 16- or 32-bit file implies (zero for other depths).
std::array<std::uint32_t, 4> DefaultBmpMasks(int BitCount);
// True for the depths that index a colour table.
bool IsPaletteDepth(int BitCount);
// Clears the bits of Row that lie past Width pixels, up to Stride bytes.
void ClearRowTail(std::uint8_t* Row, int Width, int BitCount, std::size_t Stride);

// The index of the entry of Palette nearest to Color (0x00BBGGRR), the lowest on ties.
std::uint32_t NearestPaletteIndex(const std::vector<TColor>& Palette, TColor Color);

// Turns Count colour-table entries of a file (blue, green, red, reserved) into colours
// (0x00BBGGRR), or colours back into entries with the reserved byte 0: the same swap.
void SwapTableEntries(const std::uint8_t* In, std::uint8_t* Out, std::size_t Count);

// Sub-byte pixels are packed from the most significant bit of each byte.
inline unsigned BmpReadPacked(const std::uint8_t* Row, int X, int BitCount) {
  const std::size_t bit = static_cast<std::size_t>(X) * static_cast<std::size_t>(BitCount);
  const unsigned shift = 8 - static_cast<unsigned>(BitCount) - static_cast<unsigned>(bit % 8);
  return (Row[bit / 8] >> shift) & ((1u << BitCount) - 1);
}

inline void BmpWritePacked(std::uint8_t* Row, int X, int BitCount, unsigned Value) {
  const std::size_t bit = static_cast<std::size_t>(X) * static_cast<std::size_t>(BitCount);
  const unsigned shift = 8 - static_cast<unsigned>(BitCount) - static_cast<unsigned>(bit % 8);
  const unsigned mask = ((1u << BitCount) - 1) << shift;
  Row[bit / 8] = static_cast<std::uint8_t>((Row[bit / 8] & ~mask) | ((Value << shift) & mask));
}

// Decodes a BMP file, checking the headers before any pixel is read; raises
// EInvalidGraphic naming the fault, or what the source raises when it cannot read. With Widen
// a non-empty image comes back twice as wide, its new columns zero, its rows already in place.
TBmpImage DecodeBmp(TBmpSource& Source, bool Widen = false);

// True when pixels of this depth and these masks carry an alpha channel (a 16- or 32-bit alpha mask).
bool BmpHasAlpha(int BitCount, const std::array<std::uint32_t, 4>& Masks);
// Decodes a whole BMP file held in memory, its rows copied straight from it; raises
// EInvalidGraphic naming the fault. Widen as for the other form.
TBmpImage DecodeBmp(const std::uint8_t* Data, std::size_t Size, bool Widen = false);
// The bytes of a BMP file before its pixels: file header, info header, masks and colour table.
// Raises EInvalidGraphic when the image cannot be stored in the file format.
std::vector<std::uint8_t> EncodeBmpHead(const TBmpImage& Image);
// The same head written into File, which takes exactly its size; a buffer kept from an earlier
// head is reused without allocating.
void EncodeBmpHead(const TBmpImage& Image, std::vector<std::uint8_t>& File);
// Appends the pixel rows to File in the order the file stores them.
void AppendBmpRows(const TBmpImage& Image, std::vector<std::uint8_t>& File);
// The pixel rows of the image in the order the file stores them.
std::vector<iovec> BmpFileRows(const TBmpImage& Image);
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
