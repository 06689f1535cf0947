#include "base/Graphics.h"

#include "base/FileIO.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

// Larger files cannot hold a bitmap within the reader's limits plus any sensible slack.
constexpr std::uint64_t kMaxFileBytes = std::uint64_t{1} << 30;
// The most pixel memory one bitmap may take; twice the largest readable 32-bit image.
constexpr std::uint64_t kMaxImageBytes = std::uint64_t{1} << 31;
// Files up to this size are read whole.
constexpr std::uint64_t kWholeFileBytes = 64 * 1024;
// Pixels up to this size are copied behind the head and written in one piece.
constexpr std::uint64_t kGatherBytes = 64 * 1024;

int BitCountOf(TPixelFormat Format) {
  switch (Format) {
    case pf1bit: return 1;
    case pf2bit: return 2;
    case pf4bit: return 4;
    case pf8bit: return 8;
    case pf16bit: return 16;
    case pf24bit: return 24;
    case pf32bit: return 32;
  }
  throw EInvalidGraphicOperation("Unknown pixel format");
}

// A grey ramp from black to white serves a bitmap that brings no colour table of its own.
std::vector<TColor> GreyRamp(int BitCount) {
  const std::size_t colours = std::size_t{1} << BitCount;
  std::vector<TColor> ramp;
  for (std::size_t i = 0; i < colours; ++i) {
    const TColor level = static_cast<TColor>(i * 255 / (colours - 1));
    ramp.push_back(level | (level << 8) | (level << 16));
  }
  return ramp;
}

// A file too large to read whole: the head in a buffer, the pixels straight into their rows.
class TFileSource : public TBmpSource {
public:
  explicit TFileSource(const TFileReader& File) : FFile(File) {}
  std::uint64_t Size() const override { return FFile.Size(); }
  const std::uint8_t* Head(std::size_t Count) override {
    if (Count > FHead.size()) {
      const std::size_t held = FHead.size();
      FHead.resize(Count);
      FFile.ReadAt(held, FHead.data() + held, Count - held);
    }
    return FHead.data();
  }
  void Read(std::uint64_t At, const iovec* Parts, std::size_t Count) override { FFile.ReadAt(At, Parts, Count); }

private:
  const TFileReader& FFile;
  std::vector<std::uint8_t> FHead;
};

}  // namespace

TBitmap::TBitmap() : FCanvas(*this) {}

void TBitmap::Assign(const TBitmap& Source) {
  if (&Source != this) FImage = Source.FImage;
}

void TBitmap::Load(const std::string& FileName, bool Widen) {
  const TFileReader file(FileName);
  if (file.Size() > kMaxFileBytes) throw EInvalidGraphic("Bitmap file is too large");
  if (file.Size() <= kWholeFileBytes) {
    // One read brings a small file, which is then decoded where it lies.
    const std::size_t size = static_cast<std::size_t>(file.Size());
    const std::unique_ptr<std::uint8_t[]> data(new std::uint8_t[size]);
    file.ReadAt(0, data.get(), size);
    FImage = DecodeBmp(data.get(), size, Widen);
    return;
  }
  TFileSource source(file);
  FImage = DecodeBmp(source, Widen);
}

void TBitmap::LoadFromFile(const std::string& FileName) { Load(FileName, false); }

void TBitmap::LoadWidenedFromFile(const std::string& FileName) { Load(FileName, true); }

void TBitmap::LoadFromMemory(const std::uint8_t* Data, std::size_t Size) { FImage = DecodeBmp(Data, Size); }

std::vector<std::uint8_t> TBitmap::SaveToMemory() const { return EncodeBmp(FImage); }

void TBitmap::SaveToFile(const std::string& FileName, bool Replace) const {
  // A small image follows its head in one buffer and goes out in one piece; a large one's rows
  // go straight from the bitmap, without a copy.
  std::vector<std::uint8_t> file;
  EncodeBmpHead(FImage, file);
  const std::uint64_t pixelBytes =
      static_cast<std::uint64_t>(FImage.Stride) * static_cast<std::uint64_t>(std::max(FImage.Height, 0));
  TNewFile out(FileName, Replace, false);
  if (pixelBytes <= kGatherBytes) {
    AppendBmpRows(FImage, file);
    out.Write(file.data(), file.size());
  } else {
    std::vector<iovec> parts = BmpFileRows(FImage);
    parts.insert(parts.begin(), iovec{file.data(), file.size()});
    out.Write(parts.data(), parts.size());
  }
  out.Commit();
}

std::uint32_t TBitmap::PixelValue(TColor Color) const {
  // A colour table is searched directly, without a codec's cache to set up for one colour.
  if (IsPaletteDepth(FImage.BitCount)) return NearestPaletteIndex(FImage.Palette, Color);
  return TPixelCodec(FImage).Quantize(Color);
}

void TBitmap::Resize(int NewWidth, int NewHeight) {
  if (NewWidth < 0 || NewHeight < 0) throw EInvalidGraphicOperation("Bitmap size must not be negative");
  if (NewWidth == FImage.Width && NewHeight == FImage.Height) return;
  const std::uint64_t stride = BmpStride(NewWidth, FImage.BitCount);
  if (stride * static_cast<std::uint64_t>(NewHeight) > kMaxImageBytes) throw EOutOfResources("Bitmap is too large");
  // The rows move within one block, so a wider image needs no second copy of the pixels.
  const std::size_t newStride = static_cast<std::size_t>(stride);
  const std::size_t oldStride = FImage.Stride;
  const std::size_t newSize = newStride * static_cast<std::size_t>(NewHeight);
  const std::size_t keptRows = static_cast<std::size_t>(std::min(FImage.Height, NewHeight));
  const std::size_t moved = std::min(oldStride, newStride);
  if (newSize > FImage.Pixels.size()) FImage.Pixels.Resize(newSize);
  std::uint8_t* p = FImage.Pixels.data();
  if (newStride > oldStride) {
    for (std::size_t y = keptRows; y-- > 1;) std::memmove(p + y * newStride, p + y * oldStride, moved);
  } else {
    for (std::size_t y = 1; y < keptRows; ++y) std::memmove(p + y * newStride, p + y * oldStride, moved);
  }
  for (std::size_t y = 0; y < keptRows; ++y)
    ClearRowTail(p + y * newStride, std::min(FImage.Width, NewWidth), FImage.BitCount, newStride);
  if (newSize > keptRows * newStride) std::memset(p + keptRows * newStride, 0, newSize - keptRows * newStride);
  if (FImage.Pixels.size() > newSize) FImage.Pixels.Resize(newSize);
  FImage.Width = NewWidth;
  FImage.Height = NewHeight;
  FImage.Stride = newStride;
}

void TBitmap::SetWidth(int Value) { Resize(Value, FImage.Height); }

void TBitmap::SetHeight(int Value) { Resize(FImage.Width, Value); }

TPixelFormat TBitmap::PixelFormat() const {
  switch (FImage.BitCount) {
    case 1: return pf1bit;
    case 2: return pf2bit;
    case 4: return pf4bit;
    case 8: return pf8bit;
    case 16: return pf16bit;
    case 32: return pf32bit;
    default: return pf24bit;
  }
}

void TBitmap::SetPixelFormat(TPixelFormat Value) {
  const int bits = BitCountOf(Value);
  if (bits == FImage.BitCount) return;
  TBmpImage image;
  image.BitCount = bits;
  image.Masks = DefaultBmpMasks(bits);
  image.HeaderSize = FImage.HeaderSize == 12 && !IsPaletteDepth(bits) && bits != 24 ? 40 : FImage.HeaderSize;
  image.HeaderTail = FImage.HeaderTail;
  image.TopDown = FImage.TopDown;
  image.XPelsPerMeter = FImage.XPelsPerMeter;
  image.YPelsPerMeter = FImage.YPelsPerMeter;
  if (IsPaletteDepth(bits)) {
    const bool fits = !FImage.Palette.empty() && FImage.Palette.size() <= (std::size_t{1} << bits);
    image.Palette = fits ? FImage.Palette : GreyRamp(bits);
  }
  image.Width = FImage.Width;
  image.Height = FImage.Height;
  image.Stride = static_cast<std::size_t>(BmpStride(image.Width, bits));
  const std::uint64_t bytes = static_cast<std::uint64_t>(image.Stride) * static_cast<std::uint64_t>(image.Height);
  if (bytes > kMaxImageBytes) throw EOutOfResources("Bitmap is too large");
  image.Pixels.AllocateZeroed(static_cast<std::size_t>(bytes));
  const TPixelCodec from(FImage);
  TPixelCodec to(image);
  std::vector<TColor> row(static_cast<std::size_t>(image.Width));
  for (int y = 0; y < image.Height; ++y) {
    from.Decode(FImage.Pixels.data() + static_cast<std::size_t>(y) * FImage.Stride, 0, image.Width, row.data());
    to.Encode(image.Pixels.data() + static_cast<std::size_t>(y) * image.Stride, 0, image.Width, row.data());
  }
  FImage = std::move(image);
}

std::uint8_t* TBitmap::ScanLine(int Y) {
  if (Y < 0 || Y >= FImage.Height || FImage.Width == 0) throw EInvalidGraphicOperation("Scan line index out of range");
  return FImage.Pixels.data() + static_cast<std::size_t>(Y) * FImage.Stride;
}

const std::uint8_t* TBitmap::ScanLine(int Y) const { return const_cast<TBitmap*>(this)->ScanLine(Y); }

std::uint32_t TBitmap::AlphaMask() const { return BmpHasAlpha(FImage.BitCount, FImage.Masks) ? FImage.Masks[3] : 0; }

const std::uint8_t* TBitmap::RowSpan(int Y, int X, int Count) const {
  if (X < 0 || Count < 0 || X > FImage.Width - Count) throw EInvalidGraphicOperation("Pixel lies outside the bitmap");
  return ScanLine(Y);
}

void TBitmap::ReadColours(int Y, int X, int Count, TColor* Out) const {
  TPixelCodec(FImage).Decode(RowSpan(Y, X, Count), X, Count, Out);
}

void TBitmap::ReadValues(int Y, int X, int Count, std::uint32_t* Out) const {
  const std::uint8_t* row = RowSpan(Y, X, Count);
  const int bits = FImage.BitCount;
  for (int i = 0; i < Count; ++i) {
    const std::size_t at = static_cast<std::size_t>(X + i) * static_cast<std::size_t>(bits / 8);
    if (bits < 8) {
      Out[i] = BmpReadPacked(row, X + i, bits);
    } else if (bits == 24) {
      Out[i] = static_cast<std::uint32_t>(row[at + 2] | (row[at + 1] << 8) | (row[at] << 16));
    } else {
      std::uint32_t v = 0;
      for (int b = 0; b < bits / 8; ++b) v |= static_cast<std::uint32_t>(row[at + static_cast<std::size_t>(b)]) << (8 * b);
      Out[i] = v;
    }
  }
}

void TBitmap::WriteValues(int Y, int X, int Count, const std::uint32_t* In) {
  auto* row = const_cast<std::uint8_t*>(RowSpan(Y, X, Count));
  const int bits = FImage.BitCount;
  for (int i = 0; i < Count; ++i) {
    const std::size_t at = static_cast<std::size_t>(X + i) * static_cast<std::size_t>(bits / 8);
    // A 24-bit value is a colour, red in the low byte; the file stores blue first.
    const std::uint32_t v = bits == 24 ? ((In[i] & 0xFF) << 16) | (In[i] & 0xFF00) | ((In[i] >> 16) & 0xFF) : In[i];
    if (bits < 8)
      BmpWritePacked(row, X + i, bits, v);
    else
      for (int b = 0; b < bits / 8; ++b) row[at + static_cast<std::size_t>(b)] = static_cast<std::uint8_t>(v >> (8 * b));
  }
}

void TCanvas::CopyPixels(std::int64_t DestX, std::int64_t DestY, const TBitmap& Source, std::int64_t SourceX,
                         std::int64_t SourceY, std::int64_t Width, std::int64_t Height) {
  // Clip against both bitmaps, moving both corners together; 64 bits keep extreme rectangles exact.
  const std::int64_t shiftX = std::max<std::int64_t>({0, -DestX, -SourceX});
  const std::int64_t shiftY = std::max<std::int64_t>({0, -DestY, -SourceY});
  DestX += shiftX;
  SourceX += shiftX;
  DestY += shiftY;
  SourceY += shiftY;
  const std::int64_t w = std::min<std::int64_t>({Width - shiftX, FOwner.Width() - DestX, Source.Width() - SourceX});
  const std::int64_t h = std::min<std::int64_t>({Height - shiftY, FOwner.Height() - DestY, Source.Height() - SourceY});
  if (w <= 0 || h <= 0) return;
  const TBmpImage& from = Source.FImage;
  TBmpImage& to = FOwner.FImage;
  if (&from == &to && DestY > SourceY) {
    // Copying down within one bitmap goes through a copy so that no row is read after it was written.
    TBitmap copy;
    copy.Assign(Source);
    CopyPixels(DestX, DestY, copy, SourceX, SourceY, w, h);
    return;
  }
  const auto destRow = [&](std::int64_t y) { return to.Pixels.data() + static_cast<std::size_t>(DestY + y) * to.Stride; };
  const auto sourceRow = [&](std::int64_t y) {
    return from.Pixels.data() + static_cast<std::size_t>(SourceY + y) * from.Stride;
  };
  if (from.BitCount == 24 && to.BitCount == 24) {
    for (std::int64_t y = 0; y < h; ++y)
      std::memmove(destRow(y) + 3 * DestX, sourceRow(y) + 3 * SourceX, static_cast<std::size_t>(3 * w));
    return;
  }
  const TPixelCodec reader(from);
  TPixelCodec writer(to);
  std::vector<TColor> row(static_cast<std::size_t>(w));
  for (std::int64_t y = 0; y < h; ++y) {
    reader.Decode(sourceRow(y), static_cast<int>(SourceX), static_cast<int>(w), row.data());
    writer.Encode(destRow(y), static_cast<int>(DestX), static_cast<int>(w), row.data());
  }
}

void TCanvas::Draw(int X, int Y, const TBitmap& Source) {
  CopyPixels(X, Y, Source, 0, 0, Source.Width(), Source.Height());
}

void TCanvas::CopyRect(const TRect& Dest, const TCanvas& Canvas, const TRect& Source) {
  const std::int64_t w = std::int64_t{Dest.Right} - Dest.Left;
  const std::int64_t h = std::int64_t{Dest.Bottom} - Dest.Top;
  if (w != std::int64_t{Source.Right} - Source.Left || h != std::int64_t{Source.Bottom} - Source.Top)
    throw EInvalidGraphicOperation("CopyRect needs rectangles of equal size");
  if (w <= 0 || h <= 0) return;
  CopyPixels(Dest.Left, Dest.Top, Canvas.FOwner, Source.Left, Source.Top, w, h);
}

TColor TCanvas::Pixel(int X, int Y) const {
  if (X < 0 || X >= FOwner.Width() || Y < 0 || Y >= FOwner.Height())
    throw EInvalidGraphicOperation("Pixel lies outside the bitmap");
  TColor colour = 0;
  TPixelCodec(FOwner.FImage).Decode(FOwner.ScanLine(Y), X, 1, &colour);
  return colour;
}

void TCanvas::SetPixel(int X, int Y, TColor Color) {
  if (X < 0 || X >= FOwner.Width() || Y < 0 || Y >= FOwner.Height())
    throw EInvalidGraphicOperation("Pixel lies outside the bitmap");
  TPixelCodec(FOwner.FImage).Encode(FOwner.ScanLine(Y), X, 1, &Color);
}
