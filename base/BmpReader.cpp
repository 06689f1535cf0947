// Decoding of Windows BMP files in named stages; each stage rejects what it finds wrong
// at once, with a message naming the fault, and never reads outside the buffer.

#include "base/BmpCodec.h"
#include "base/Exceptions.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kFileHeaderSize = 14;

[[noreturn]] void Reject(const std::string& Fault) { throw EInvalidGraphic(Fault); }

// Little-endian reads from a bounded buffer; callers check the bounds first.
struct TBytes {
  const std::uint8_t* Data;
  std::size_t Size;

  std::uint16_t U16(std::size_t At) const { return static_cast<std::uint16_t>(Data[At] | (Data[At + 1] << 8)); }
  std::uint32_t U32(std::size_t At) const {
    return static_cast<std::uint32_t>(Data[At]) | (static_cast<std::uint32_t>(Data[At + 1]) << 8) |
           (static_cast<std::uint32_t>(Data[At + 2]) << 16) | (static_cast<std::uint32_t>(Data[At + 3]) << 24);
  }
  std::int32_t I32(std::size_t At) const { return static_cast<std::int32_t>(U32(At)); }
};

// What the headers say, before the pixels are read.
struct THeaderInfo {
  std::uint32_t PixelOffset = 0;
  std::uint32_t HeaderSize = 0;
  std::int64_t Width = 0;
  std::int64_t Height = 0;
  std::uint32_t Planes = 0;
  int BitCount = 0;
  std::uint32_t Compression = kBmpRgb;
  std::uint32_t ClrUsed = 0;
  bool HasClrUsed = false;
};

bool IsOs2V2(std::uint32_t HeaderSize) { return HeaderSize == 16 || HeaderSize == 64; }

THeaderInfo ReadHeaders(const TBytes& In, TBmpImage& Image) {
  if (In.Size < 2 || In.Data[0] != 'B' || In.Data[1] != 'M') Reject("Bitmap signature is not BM");
  if (In.Size < kFileHeaderSize + 4) Reject("Bitmap file header is truncated");
  THeaderInfo h;
  h.PixelOffset = In.U32(10);
  h.HeaderSize = In.U32(14);
  switch (h.HeaderSize) {
    case 12: case 16: case 40: case 52: case 56: case 64: case 108: case 124: break;
    default: Reject("Bitmap header size " + std::to_string(h.HeaderSize) + " is not supported");
  }
  if (In.Size < kFileHeaderSize + h.HeaderSize) Reject("Bitmap info header is truncated");
  const std::size_t at = kFileHeaderSize;
  if (h.HeaderSize == 12) {
    h.Width = In.U16(at + 4);
    h.Height = In.U16(at + 6);
    h.Planes = In.U16(at + 8);
    h.BitCount = In.U16(at + 10);
  } else {
    h.Width = In.I32(at + 4);
    h.Height = In.I32(at + 8);
    h.Planes = In.U16(at + 12);
    h.BitCount = In.U16(at + 14);
  }
  if (h.HeaderSize >= 40) {
    h.Compression = In.U32(at + 16);
    Image.XPelsPerMeter = In.I32(at + 24);
    Image.YPelsPerMeter = In.I32(at + 28);
    h.ClrUsed = In.U32(at + 32);
    h.HasClrUsed = true;
    Image.ClrImportant = In.U32(at + 36);
    Image.HeaderTail.assign(In.Data + at + 40, In.Data + at + h.HeaderSize);
  }
  Image.HeaderSize = static_cast<int>(h.HeaderSize);
  return h;
}

void CheckCompression(const THeaderInfo& h) {
  const std::uint32_t c = h.Compression;
  if (IsOs2V2(h.HeaderSize)) {
    // OS/2 numbers its compressions differently from 3 on.
    if (c == 3) Reject("Bitmap compression Huffman 1D is not supported");
    if (c == 4) Reject("Bitmap compression RLE24 is not supported");
    if (c > 4) Reject("Bitmap compression " + std::to_string(c) + " is not supported");
    return;
  }
  if (c == 4) Reject("Bitmap compression JPEG is not supported");
  if (c == 5) Reject("Bitmap compression PNG is not supported");
  if (c >= 11 && c <= 13) Reject("Bitmap compression CMYK is not supported");
  if (c > kBmpAlphaBitFields) Reject("Bitmap compression " + std::to_string(c) + " is not supported");
}

void CheckFormat(const THeaderInfo& h) {
  if (h.Planes != 1) Reject("Bitmap planes must be 1");
  CheckCompression(h);
  switch (h.BitCount) {
    case 1: case 2: case 4: case 8: case 16: case 24: case 32: break;
    default: Reject("Bitmap bit count " + std::to_string(h.BitCount) + " is not supported");
  }
  const std::uint32_t c = h.Compression;
  if (c == kBmpRle8 && h.BitCount != 8) Reject("Bitmap RLE8 compression needs 8 bits per pixel");
  if (c == kBmpRle4 && h.BitCount != 4) Reject("Bitmap RLE4 compression needs 4 bits per pixel");
  if ((c == kBmpBitFields || c == kBmpAlphaBitFields) && h.BitCount != 16 && h.BitCount != 32)
    Reject("Bitmap bit fields need 16 or 32 bits per pixel");
}

void CheckSize(THeaderInfo& h, TBmpImage& Image) {
  if (h.Width < 0) Reject("Bitmap width is negative");
  if (h.Height == std::numeric_limits<std::int32_t>::min()) Reject("Bitmap height is out of range");
  Image.TopDown = h.Height < 0;
  if (Image.TopDown) h.Height = -h.Height;
  if (Image.TopDown && (h.Compression == kBmpRle8 || h.Compression == kBmpRle4))
    Reject("Bitmap with RLE compression cannot be top-down");
  if (h.Width > kBmpMaxSide || h.Height > kBmpMaxSide || h.Width * h.Height > kBmpMaxPixels)
    Reject("Bitmap dimensions exceed the limit");
  Image.Width = static_cast<int>(h.Width);
  Image.Height = static_cast<int>(h.Height);
  Image.BitCount = h.BitCount;
  Image.Stride = static_cast<std::size_t>(BmpStride(h.Width, h.BitCount));
}

bool Contiguous(std::uint32_t Mask) {
  const std::uint32_t shifted = Mask >> std::countr_zero(Mask);
  return (shifted & (shifted + 1)) == 0;
}

void CheckMasks(const std::array<std::uint32_t, 4>& Masks, int BitCount) {
  const std::uint32_t limit = BitCount == 32 ? 0xFFFFFFFFu : (1u << BitCount) - 1;
  std::uint32_t seen = 0;
  for (std::size_t i = 0; i < Masks.size(); ++i) {
    const std::uint32_t m = Masks[i];
    if (m == 0) {
      if (i < 3) Reject("Bitmap bit mask is zero");
      continue;
    }
    if ((m & ~limit) != 0) Reject("Bitmap bit mask lies outside the pixel");
    if (!Contiguous(m)) Reject("Bitmap bit mask is not contiguous");
    if ((m & seen) != 0) Reject("Bitmap bit masks overlap");
    seen |= m;
  }
}

// Returns the offset just past the masks stored after a 40-byte header.
std::size_t ReadMasks(const TBytes& In, const THeaderInfo& h, TBmpImage& Image) {
  std::size_t end = kFileHeaderSize + h.HeaderSize;
  if (h.BitCount != 16 && h.BitCount != 32) return end;
  Image.Masks = DefaultBmpMasks(h.BitCount);
  if (h.Compression != kBmpBitFields && h.Compression != kBmpAlphaBitFields) return end;
  Image.Compression = h.Compression;
  const std::size_t count = h.Compression == kBmpAlphaBitFields ? 4 : 3;
  std::size_t at = kFileHeaderSize + 40;
  if (h.HeaderSize == 40) {
    if (In.Size < end + 4 * count) Reject("Bitmap bit masks are truncated");
    end += 4 * count;
  }
  // Headers of 52 bytes and more hold the masks themselves; 56 and more add alpha.
  const std::size_t inHeader = h.HeaderSize >= 56 ? 4 : 3;
  const std::size_t stored = h.HeaderSize == 40 ? count : inHeader;
  Image.Masks = {0, 0, 0, 0};
  for (std::size_t i = 0; i < stored; ++i, at += 4) Image.Masks[i] = In.U32(at);
  CheckMasks(Image.Masks, h.BitCount);
  return end;
}

// Reads the colour table between the headers and the pixels; returns the offset past it.
std::size_t ReadPalette(TBmpSource& Source, const THeaderInfo& h, std::size_t At, TBmpImage& Image) {
  const std::size_t entrySize = h.HeaderSize == 12 ? 3 : 4;
  const std::uint64_t maxColours = IsPaletteDepth(h.BitCount) ? (1u << h.BitCount) : 0;
  std::uint64_t count = 0;
  if (h.HasClrUsed) {
    if (IsPaletteDepth(h.BitCount) && h.ClrUsed > maxColours) Reject("Bitmap colour count exceeds its bit count");
    count = h.ClrUsed != 0 ? h.ClrUsed : maxColours;
  } else if (h.PixelOffset > At) {
    // The short OS/2 headers carry no colour count: the table fills the room before the pixels.
    count = std::min<std::uint64_t>(maxColours, (h.PixelOffset - At) / entrySize);
  }
  const std::uint64_t end = At + count * entrySize;
  if (h.PixelOffset < end) Reject("Bitmap pixel offset lies inside the headers or the colour table");
  if (h.PixelOffset > Source.Size()) Reject("Bitmap pixel offset lies past the end of the file");
  const std::uint8_t* data = Source.Head(static_cast<std::size_t>(end));
  Image.Palette.resize(static_cast<std::size_t>(count));
  const std::uint8_t* entries = data + At;
  if (entrySize == 4) {
    SwapTableEntries(entries, reinterpret_cast<std::uint8_t*>(Image.Palette.data()), Image.Palette.size());
    return static_cast<std::size_t>(end);
  }
  for (std::size_t i = 0; i < Image.Palette.size(); ++i) {
    const std::uint8_t* e = entries + i * entrySize;
    Image.Palette[i] = static_cast<TColor>(e[2] | (e[1] << 8) | (e[0] << 16));
  }
  return static_cast<std::size_t>(end);
}

// Reads the rows straight into their place in the image, bottom-up files in reverse. Each row
// takes FileStride bytes of the file; any room the image's stride leaves past them stays zero.
void ReadUncompressed(TBmpSource& Source, std::size_t Offset, std::size_t FileStride, TBmpImage& Image) {
  const std::uint64_t needed = static_cast<std::uint64_t>(FileStride) * static_cast<std::uint64_t>(Image.Height);
  if (Source.Size() - Offset < needed) Reject("Bitmap pixel data is truncated");
  const std::size_t bytes = Image.Stride * static_cast<std::size_t>(Image.Height);
  if (FileStride == Image.Stride)
    Image.Pixels.Allocate(bytes);
  else
    Image.Pixels.AllocateZeroed(bytes);
  // A glyph's list of rows fits on the stack; a taller image's is allocated.
  constexpr std::size_t kStackRows = 64;
  std::array<iovec, kStackRows> stackRows;
  std::vector<iovec> heapRows;
  iovec* rows = stackRows.data();
  if (static_cast<std::size_t>(Image.Height) > kStackRows) {
    heapRows.resize(static_cast<std::size_t>(Image.Height));
    rows = heapRows.data();
  }
  for (int fileRow = 0; fileRow < Image.Height; ++fileRow) {
    const int y = Image.TopDown ? fileRow : Image.Height - 1 - fileRow;
    rows[static_cast<std::size_t>(fileRow)] = {Image.Pixels.data() + static_cast<std::size_t>(y) * Image.Stride,
                                               FileStride};
  }
  Source.Read(Offset, rows, static_cast<std::size_t>(Image.Height));
  for (int y = 0; y < Image.Height; ++y)
    ClearRowTail(Image.Pixels.data() + static_cast<std::size_t>(y) * Image.Stride, Image.Width, Image.BitCount,
                 FileStride);
}

// Decodes RLE8 or RLE4 data; rows arrive bottom-up and pixels skipped by a delta stay 0.
class TRleDecoder {
public:
  TRleDecoder(const TBytes& In, std::size_t Offset, TBmpImage& Image)
      : FIn(In), FAt(Offset), FImage(Image), FFour(Image.BitCount == 4) {}

  void Run() {
    FImage.Pixels.AllocateZeroed(FImage.Stride * static_cast<std::size_t>(FImage.Height));
    for (;;) {
      if (FIn.Size - FAt < 2) {
        // Data that simply stops after the last row is complete.
        if (FY >= FImage.Height || (FY == FImage.Height - 1 && FX >= FImage.Width)) return;
        Reject("Bitmap RLE data is truncated");
      }
      const unsigned count = FIn.Data[FAt];
      const unsigned value = FIn.Data[FAt + 1];
      FAt += 2;
      if (count > 0) {
        Encoded(count, value);
      } else if (value == 0) {
        // Stay at the row past the image so that more end-of-line codes cannot overflow.
        FX = 0;
        FY = std::min(FY + 1, FImage.Height);
      } else if (value == 1) {
        return;
      } else if (value == 2) {
        Delta();
      } else {
        Absolute(value);
      }
    }
  }

private:
  void Put(unsigned Index) {
    std::uint8_t* row = FImage.Pixels.data() + static_cast<std::size_t>(FImage.Height - 1 - FY) * FImage.Stride;
    if (FFour) {
      const unsigned shift = (FX % 2 == 0) ? 4 : 0;
      const unsigned kept = row[FX / 2] & ~(0x0Fu << shift);
      row[FX / 2] = static_cast<std::uint8_t>(kept | ((Index & 0x0F) << shift));
    } else {
      row[FX] = static_cast<std::uint8_t>(Index);
    }
    ++FX;
  }

  void CheckRun(unsigned Count) const {
    if (FY >= FImage.Height || static_cast<std::int64_t>(FX) + Count > FImage.Width)
      Reject("Bitmap RLE run leaves the image");
  }

  void Encoded(unsigned Count, unsigned Value) {
    CheckRun(Count);
    for (unsigned i = 0; i < Count; ++i) Put(FFour ? ((i % 2 == 0) ? Value >> 4 : Value) : Value);
  }

  void Delta() {
    if (FIn.Size - FAt < 2) Reject("Bitmap RLE data is truncated");
    const int dx = FIn.Data[FAt];
    const int dy = FIn.Data[FAt + 1];
    FAt += 2;
    if (FX + dx > FImage.Width || FY + dy >= FImage.Height) Reject("Bitmap RLE delta leaves the image");
    FX += dx;
    FY += dy;
  }

  void Absolute(unsigned Count) {
    const std::size_t bytes = FFour ? (Count + 1) / 2 : Count;
    if (FIn.Size - FAt < bytes) Reject("Bitmap RLE data is truncated");
    CheckRun(Count);
    for (unsigned i = 0; i < Count; ++i) {
      const unsigned b = FIn.Data[FAt + (FFour ? i / 2 : i)];
      Put(FFour ? ((i % 2 == 0) ? b >> 4 : b) : b);
    }
    // Absolute runs are padded to a 16-bit boundary.
    FAt += std::min(bytes + (bytes % 2), FIn.Size - FAt);
  }

  const TBytes& FIn;
  std::size_t FAt;
  TBmpImage& FImage;
  const bool FFour;
  int FX = 0;
  int FY = 0;
};

// A file held in memory.
class TMemorySource : public TBmpSource {
public:
  TMemorySource(const std::uint8_t* Data, std::size_t Size) : FData(Data), FSize(Data == nullptr ? 0 : Size) {}
  std::uint64_t Size() const override { return FSize; }
  const std::uint8_t* Head(std::size_t) override { return FData; }
  void Read(std::uint64_t At, const iovec* Parts, std::size_t Count) override {
    for (std::size_t i = 0; i < Count; At += Parts[i].iov_len, ++i)
      std::memcpy(Parts[i].iov_base, FData + At, Parts[i].iov_len);
  }

private:
  const std::uint8_t* FData;
  std::size_t FSize;
};

// The headers, the masks and a colour table of up to 256 entries fit in this many bytes.
constexpr std::size_t kHeadBytes = 8192;

}  // namespace

TBmpImage DecodeBmp(TBmpSource& Source, bool Widen) {
  const std::size_t probe = static_cast<std::size_t>(std::min<std::uint64_t>(Source.Size(), kHeadBytes));
  const TBytes head{Source.Head(probe), probe};
  TBmpImage image;
  THeaderInfo h = ReadHeaders(head, image);
  CheckFormat(h);
  CheckSize(h, image);
  const std::size_t masksEnd = ReadMasks(head, h, image);
  ReadPalette(Source, h, masksEnd, image);
  if (image.Width == 0 || image.Height == 0) return image;
  // A widened image lays its rows out at the wider stride from the start, so nothing moves later.
  const std::size_t fileStride = image.Stride;
  if (Widen) image.Stride = static_cast<std::size_t>(BmpStride(2 * h.Width, h.BitCount));
  if (h.Compression == kBmpRle8 || h.Compression == kBmpRle4) {
    const std::size_t all = static_cast<std::size_t>(Source.Size());
    TRleDecoder(TBytes{Source.Head(all), all}, h.PixelOffset, image).Run();
  } else {
    ReadUncompressed(Source, h.PixelOffset, fileStride, image);
  }
  if (Widen) image.Width *= 2;
  return image;
}

TBmpImage DecodeBmp(const std::uint8_t* Data, std::size_t Size, bool Widen) {
  TMemorySource source(Data, Size);
  return DecodeBmp(source, Widen);
}
