#pragma once
// Device-independent bitmaps over the Windows BMP file format, with a canvas for copying pixels.

#include "base/BmpCodec.h"
#include "base/Classes.h"
#include "base/Exceptions.h"
#include "base/Types.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A bitmap operation that its arguments do not allow, such as a row outside the image.
VARNEX_DECLARE_EXCEPTION(EInvalidGraphicOperation, Exception);
// A bitmap too large for the memory the program allows itself.
VARNEX_DECLARE_EXCEPTION(EOutOfResources, Exception);

// The storage format of a bitmap's pixels.
enum TPixelFormat : std::uint8_t { pf1bit, pf2bit, pf4bit, pf8bit, pf16bit, pf24bit, pf32bit };

class TBitmap;

// The drawing surface of one bitmap.
class TCanvas {
public:
  // A canvas that draws on Owner.
  explicit TCanvas(TBitmap& Owner) : FOwner(Owner) {}
  TCanvas(const TCanvas&) = delete;
  TCanvas& operator=(const TCanvas&) = delete;

  // Copies Source opaquely with its top-left corner at (X, Y), converting each pixel to this format.
  void Draw(int X, int Y, const TBitmap& Source);
  // Copies the Source rectangle of Canvas into the equally sized Dest rectangle, each colour
  // stored as the nearest one this bitmap's format holds; both are clipped to their bitmaps.
  void CopyRect(const TRect& Dest, const TCanvas& Canvas, const TRect& Source);
  // The RGB colour of the pixel at (X, Y); raises EInvalidGraphicOperation outside the image.
  TColor Pixel(int X, int Y) const;
  // Stores Color at (X, Y) as the nearest colour the format holds; raises outside the image.
  void SetPixel(int X, int Y, TColor Color);

private:
  void CopyPixels(std::int64_t DestX, std::int64_t DestY, const TBitmap& Source, std::int64_t SourceX,
                  std::int64_t SourceY, std::int64_t Width, std::int64_t Height);

  TBitmap& FOwner;
};

// A bitmap that keeps the pixel format, colour table, masks and header kind of the file it came from.
class TBitmap : public TObject {
public:
  // An empty 24-bit bitmap (0 x 0).
  TBitmap();
  TBitmap(const TBitmap&) = delete;
  TBitmap& operator=(const TBitmap&) = delete;

  // Replaces the content with a copy of Source's.
  void Assign(const TBitmap& Source);
  // Reads a BMP file; raises EFOpenError or EReadError when it cannot be read and
  // EInvalidGraphic when it is not a valid bitmap. On failure the bitmap is unchanged.
  void LoadFromFile(const std::string& FileName);
  // Reads a BMP file into the left half of a bitmap twice its width, the new columns zero: what
  // LoadFromFile and then SetWidth(2 * Width()) give, without moving any row. An empty image stays as it is.
  void LoadWidenedFromFile(const std::string& FileName);
  // Reads a BMP file held in memory; raises EInvalidGraphic when it is not a valid bitmap.
  void LoadFromMemory(const std::uint8_t* Data, std::size_t Size);
  // Writes the bitmap as a BMP file, which appears under its name only when complete.
  // With Replace false an existing name is never replaced (EFileExists). Raises EFCreateError or
  // EWriteError on failure and leaves neither a partial nor a temporary file.
  void SaveToFile(const std::string& FileName, bool Replace = true) const;
  // The pixel value (colour table index or packed bits) that stores Color most closely in this format.
  std::uint32_t PixelValue(TColor Color) const;
  // The bitmap as the bytes of a BMP file.
  std::vector<std::uint8_t> SaveToMemory() const;

  // The width in pixels.
  int Width() const { return FImage.Width; }
  // The height in pixels.
  int Height() const { return FImage.Height; }
  // Sets the width; existing pixels keep their coordinates and new columns are zero.
  void SetWidth(int Value);
  // Sets the height; existing rows keep their coordinates and new rows are zero.
  void SetHeight(int Value);

  // The storage format of the pixels.
  TPixelFormat PixelFormat() const;
  // Changes the storage format, converting any pixels to their nearest colour in the new format.
  void SetPixelFormat(TPixelFormat Value);
  // Bits per pixel: 1, 2, 4, 8, 16, 24 or 32.
  int BitCount() const { return FImage.BitCount; }
  // The colour table (also kept for depths that do not index it).
  const std::vector<TColor>& Palette() const { return FImage.Palette; }
  // Red, green, blue and alpha masks of a 16- or 32-bit pixel.
  const std::array<std::uint32_t, 4>& BitMasks() const { return FImage.Masks; }
  // The size of the info header the bitmap is written with.
  int HeaderSize() const { return FImage.HeaderSize; }
  // The bits of a pixel value that hold alpha; 0 for a format without alpha.
  std::uint32_t AlphaMask() const;
  // True when the file stores its top row first.
  bool TopDown() const { return FImage.TopDown; }

  // Row Y (0 is the top) in the pixel format; 24-bit rows hold blue, green, red per pixel.
  std::uint8_t* ScanLine(int Y);
  // Row Y (0 is the top) for reading.
  const std::uint8_t* ScanLine(int Y) const;
  // The colours of Count pixels of row Y from column X on; an index past the colour table
  // reads as black. Raises EInvalidGraphicOperation for pixels outside the image.
  void ReadColours(int Y, int X, int Count, TColor* Out) const;
  // The values of Count pixels of row Y from column X on, as PixelValue gives them: colour-table
  // indices, packed bits with any alpha, or 24-bit colours. Raises as ReadColours does.
  void ReadValues(int Y, int X, int Count, std::uint32_t* Out) const;
  // Stores Count pixel values in row Y from column X on. Raises as ReadColours does.
  void WriteValues(int Y, int X, int Count, const std::uint32_t* In);
  // The canvas that draws on this bitmap.
  TCanvas* Canvas() { return &FCanvas; }
  // The canvas for reading this bitmap.
  const TCanvas* Canvas() const { return &FCanvas; }

private:
  friend class TCanvas;
  void Resize(int NewWidth, int NewHeight);
  void Load(const std::string& FileName, bool Widen);
  // Row Y with pixels X to X + Count - 1 checked to lie in it.
  const std::uint8_t* RowSpan(int Y, int X, int Count) const;

  TBmpImage FImage;
  TCanvas FCanvas;
};
