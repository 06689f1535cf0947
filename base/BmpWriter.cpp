// Encoding of an image as a BMP file in its own bit depth, colour table, masks,
// orientation and header kind. Run-length sources are written uncompressed.

#include "base/BmpCodec.h"
#include "base/Exceptions.h"

#include <cstring>
#include <limits>

namespace {

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::uint32_t kLcsSrgb = 0x73524742;         // 'sRGB'
constexpr std::uint32_t kProfileLinked = 0x4C494E4B;   // 'LINK'
constexpr std::uint32_t kProfileEmbedded = 0x4D424544; // 'MBED'

// Writes little-endian fields into a buffer sized beforehand for all of them.
class TByteWriter {
public:
  TByteWriter(std::uint8_t* Out, std::size_t Size) : FOut(Out), FSize(Size) {}
  void U16(std::uint32_t Value) {
    Room(2);
    FOut[FAt] = static_cast<std::uint8_t>(Value);
    FOut[FAt + 1] = static_cast<std::uint8_t>(Value >> 8);
    FAt += 2;
  }
  void U32(std::uint32_t Value) {
    U16(Value & 0xFFFF);
    U16(Value >> 16);
  }
  void Bytes(const std::uint8_t* Data, std::size_t Size) {
    Room(Size);
    if (Size != 0) std::memcpy(FOut + FAt, Data, Size);
    FAt += Size;
  }
  std::size_t Written() const { return FAt; }

private:
  // The headers' sizes are worked out before they are written; a field that would not
  // fit means the two disagree, and nothing past the buffer is ever written.
  void Room(std::size_t Size) const {
    if (Size > FSize - FAt) throw EInvalidGraphic("Bitmap header size is not supported");
  }

  std::uint8_t* FOut;
  std::size_t FSize;
  std::size_t FAt = 0;
};

void PutU32(std::vector<std::uint8_t>& Buffer, std::size_t At, std::uint32_t Value) {
  for (int i = 0; i < 4; ++i) Buffer[At + i] = static_cast<std::uint8_t>(Value >> (8 * i));
}

std::uint32_t GetU32(const std::vector<std::uint8_t>& Buffer, std::size_t At) {
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(Buffer[At + i]) << (8 * i);
  return v;
}

bool HasMasks(const TBmpImage& Image) {
  return (Image.BitCount == 16 || Image.BitCount == 32) &&
         (Image.Compression == kBmpBitFields || Image.Compression == kBmpAlphaBitFields);
}

// The header bytes past the first 40, with the masks and colour space brought up to date.
std::vector<std::uint8_t> HeaderTail(const TBmpImage& Image) {
  std::vector<std::uint8_t> tail = Image.HeaderTail;
  tail.resize(static_cast<std::size_t>(Image.HeaderSize - 40), 0);
  if (Image.HeaderSize == 64) return tail;  // OS/2 fields, kept as they were
  if (HasMasks(Image) && Image.HeaderSize >= 52) {
    const std::size_t inHeader = Image.HeaderSize >= 56 ? 4 : 3;
    for (std::size_t i = 0; i < inHeader; ++i) PutU32(tail, 4 * i, Image.Masks[i]);
  }
  if (Image.HeaderSize >= 108) {
    // A colour profile lives outside the header and is not written, so the header must not point to one.
    const std::uint32_t space = GetU32(tail, 16);
    if (space == kProfileLinked || space == kProfileEmbedded) PutU32(tail, 16, kLcsSrgb);
  }
  if (Image.HeaderSize >= 124) {
    PutU32(tail, 72, 0);
    PutU32(tail, 76, 0);
  }
  return tail;
}

void WriteInfoHeader(TByteWriter& Out, const TBmpImage& Image, std::uint32_t ImageBytes) {
  const std::uint32_t height = static_cast<std::uint32_t>(Image.TopDown ? -Image.Height : Image.Height);
  Out.U32(static_cast<std::uint32_t>(Image.HeaderSize));
  if (Image.HeaderSize == 12) {
    if (Image.Width > 0xFFFF || Image.Height > 0xFFFF) throw EInvalidGraphic("Bitmap is too large for its OS/2 header");
    Out.U16(static_cast<std::uint32_t>(Image.Width));
    Out.U16(static_cast<std::uint32_t>(Image.Height));
    Out.U16(1);
    Out.U16(static_cast<std::uint32_t>(Image.BitCount));
    return;
  }
  Out.U32(static_cast<std::uint32_t>(Image.Width));
  Out.U32(height);
  Out.U16(1);
  Out.U16(static_cast<std::uint32_t>(Image.BitCount));
  if (Image.HeaderSize == 16) return;
  const std::uint32_t colours = static_cast<std::uint32_t>(Image.Palette.size());
  Out.U32(HasMasks(Image) && Image.HeaderSize != 64 ? Image.Compression : kBmpRgb);
  Out.U32(ImageBytes);
  Out.U32(static_cast<std::uint32_t>(Image.XPelsPerMeter));
  Out.U32(static_cast<std::uint32_t>(Image.YPelsPerMeter));
  Out.U32(colours);
  Out.U32(Image.ClrImportant <= colours ? Image.ClrImportant : 0);
  const std::vector<std::uint8_t> tail = HeaderTail(Image);
  Out.Bytes(tail.data(), tail.size());
}

}  // namespace

void EncodeBmpHead(const TBmpImage& Image, std::vector<std::uint8_t>& File) {
  const bool core = Image.HeaderSize == 12;
  const std::size_t entrySize = core ? 3 : 4;
  std::size_t masksAfter = 0;
  if (Image.HeaderSize == 40 && HasMasks(Image)) masksAfter = Image.Compression == kBmpAlphaBitFields ? 16 : 12;
  const std::uint64_t imageBytes = static_cast<std::uint64_t>(Image.Stride) * static_cast<std::uint64_t>(Image.Height);
  const std::uint64_t offset =
      kFileHeaderSize + static_cast<std::uint64_t>(Image.HeaderSize) + masksAfter + Image.Palette.size() * entrySize;
  const std::uint64_t total = offset + imageBytes;
  if (total > std::numeric_limits<std::uint32_t>::max()) throw EInvalidGraphic("Bitmap is too large to save");

  File.resize(static_cast<std::size_t>(offset));
  const std::size_t at = File.size() - Image.Palette.size() * entrySize;  // the colour table's place
  TByteWriter out(File.data(), at);
  out.U16('B' | ('M' << 8));
  out.U32(static_cast<std::uint32_t>(total));
  out.U32(0);
  out.U32(static_cast<std::uint32_t>(offset));
  WriteInfoHeader(out, Image, static_cast<std::uint32_t>(imageBytes));
  for (std::size_t i = 0; i < masksAfter / 4; ++i) out.U32(Image.Masks[i]);
  if (out.Written() != at) throw EInvalidGraphic("Bitmap header size is not supported");
  std::uint8_t* entries = File.data() + at;
  const auto* colours = reinterpret_cast<const std::uint8_t*>(Image.Palette.data());
  if (!core) {
    SwapTableEntries(colours, entries, Image.Palette.size());
    return;
  }
  for (std::size_t i = 0; i < Image.Palette.size(); ++i) {
    entries[3 * i] = colours[4 * i + 2];
    entries[3 * i + 1] = colours[4 * i + 1];
    entries[3 * i + 2] = colours[4 * i];
  }
}

std::vector<std::uint8_t> EncodeBmpHead(const TBmpImage& Image) {
  std::vector<std::uint8_t> file;
  EncodeBmpHead(Image, file);
  return file;
}

std::vector<iovec> BmpFileRows(const TBmpImage& Image) {
  std::vector<iovec> rows;
  if (Image.Stride == 0) return rows;
  rows.reserve(static_cast<std::size_t>(Image.Height));
  // The parts are only read from; iovec has no const form.
  auto* pixels = const_cast<std::uint8_t*>(Image.Pixels.data());
  for (int fileRow = 0; fileRow < Image.Height; ++fileRow) {
    const int y = Image.TopDown ? fileRow : Image.Height - 1 - fileRow;
    rows.push_back({pixels + static_cast<std::size_t>(y) * Image.Stride, Image.Stride});
  }
  return rows;
}

void AppendBmpRows(const TBmpImage& Image, std::vector<std::uint8_t>& File) {
  if (Image.Stride == 0 || Image.Height <= 0) return;
  const std::size_t at = File.size();
  File.resize(at + Image.Stride * static_cast<std::size_t>(Image.Height));
  std::uint8_t* out = File.data() + at;
  for (int fileRow = 0; fileRow < Image.Height; ++fileRow, out += Image.Stride) {
    const int y = Image.TopDown ? fileRow : Image.Height - 1 - fileRow;
    std::memcpy(out, Image.Pixels.data() + static_cast<std::size_t>(y) * Image.Stride, Image.Stride);
  }
}

std::vector<std::uint8_t> EncodeBmp(const TBmpImage& Image) {
  std::vector<std::uint8_t> file;
  EncodeBmpHead(Image, file);
  AppendBmpRows(Image, file);
  return file;
}
