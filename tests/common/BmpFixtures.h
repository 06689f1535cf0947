#pragma once
// Builds BMP files byte by byte for the tests, independently of the program's writer.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace varnex_test {

// What a fixture file holds; pixel values are palette indices or packed pixel bits.
struct TBmpFixture {
  int HeaderSize = 40;
  std::int32_t Width = 0;
  std::int32_t Height = 0;
  int BitCount = 24;
  int Planes = 1;
  bool TopDown = false;
  std::uint32_t Compression = 0;
  // Masks written after a 40-byte header, or into a larger header, when not empty.
  std::vector<std::uint32_t> Masks;
  // Colours 0x00BBGGRR.
  std::vector<std::uint32_t> Palette;
  // The colour count written into the header; -1 writes the palette's size.
  std::int64_t ClrUsed = -1;
  // Bytes left between the colour table and the pixels.
  int Gap = 0;
  // Rows top-down, Width values each.
  std::vector<std::uint32_t> Pixels;
  // Pixel bytes written as they are instead of Pixels (for run-length data).
  std::string RawPixels;
  bool UseRawPixels = false;
  // A pixel offset to write instead of the true one; -1 writes the true one.
  std::int64_t PixelOffset = -1;
};

inline void PutLe(std::string& Out, std::uint64_t Value, int Bytes) {
  for (int i = 0; i < Bytes; ++i) Out.push_back(static_cast<char>((Value >> (8 * i)) & 0xFF));
}

// The file bytes of a fixture.
inline std::string BuildBmp(const TBmpFixture& F) {
  std::string header;
  PutLe(header, static_cast<std::uint32_t>(F.HeaderSize), 4);
  const std::int64_t height = F.TopDown ? -static_cast<std::int64_t>(F.Height) : F.Height;
  if (F.HeaderSize == 12) {
    PutLe(header, static_cast<std::uint32_t>(F.Width), 2);
    PutLe(header, static_cast<std::uint32_t>(height), 2);
  } else {
    PutLe(header, static_cast<std::uint32_t>(F.Width), 4);
    PutLe(header, static_cast<std::uint32_t>(height), 4);
  }
  PutLe(header, static_cast<std::uint32_t>(F.Planes), 2);
  PutLe(header, static_cast<std::uint32_t>(F.BitCount), 2);
  if (F.HeaderSize >= 40) {
    PutLe(header, F.Compression, 4);
    PutLe(header, 0, 4);           // image size
    PutLe(header, 2835, 4);        // 72 dpi
    PutLe(header, 2835, 4);
    PutLe(header, static_cast<std::uint64_t>(F.ClrUsed >= 0 ? F.ClrUsed : static_cast<std::int64_t>(F.Palette.size())), 4);
    PutLe(header, 0, 4);
    if (F.HeaderSize > 40)
      for (std::size_t i = 0; i < 4 && 40 + 4 * i < static_cast<std::size_t>(F.HeaderSize); ++i)
        PutLe(header, i < F.Masks.size() ? F.Masks[i] : 0, 4);
  }
  header.resize(static_cast<std::size_t>(F.HeaderSize), '\0');
  if (F.HeaderSize == 40)
    for (const std::uint32_t m : F.Masks) PutLe(header, m, 4);
  for (const std::uint32_t c : F.Palette) {
    header.push_back(static_cast<char>((c >> 16) & 0xFF));
    header.push_back(static_cast<char>((c >> 8) & 0xFF));
    header.push_back(static_cast<char>(c & 0xFF));
    if (F.HeaderSize != 12) header.push_back('\0');
  }
  header.append(static_cast<std::size_t>(F.Gap), '\x5A');

  std::string pixels = F.RawPixels;
  if (!F.UseRawPixels) {
    const std::size_t stride = (static_cast<std::size_t>(F.Width) * static_cast<std::size_t>(F.BitCount) + 31) / 32 * 4;
    for (std::int32_t fileRow = 0; fileRow < F.Height; ++fileRow) {
      const std::int32_t y = F.TopDown ? fileRow : F.Height - 1 - fileRow;
      std::string row(stride, '\0');
      for (std::int32_t x = 0; x < F.Width; ++x) {
        const std::uint32_t v = F.Pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(F.Width) + static_cast<std::size_t>(x)];
        if (F.BitCount >= 8) {
          for (int b = 0; b < F.BitCount / 8; ++b)
            row[static_cast<std::size_t>(x) * static_cast<std::size_t>(F.BitCount / 8) + static_cast<std::size_t>(b)] =
                static_cast<char>((v >> (8 * b)) & 0xFF);
        } else {
          const std::size_t bit = static_cast<std::size_t>(x) * static_cast<std::size_t>(F.BitCount);
          const int shift = 8 - F.BitCount - static_cast<int>(bit % 8);
          row[bit / 8] = static_cast<char>(static_cast<unsigned char>(row[bit / 8]) | (v << shift));
        }
      }
      pixels += row;
    }
  }
  const std::uint64_t offset = F.PixelOffset >= 0 ? static_cast<std::uint64_t>(F.PixelOffset) : 14 + header.size();
  std::string file = "BM";
  PutLe(file, 14 + header.size() + pixels.size(), 4);
  PutLe(file, 0, 4);
  PutLe(file, offset, 4);
  return file + header + pixels;
}

// Fills the bits past each row's last pixel, which the reader must clear, with ones.
inline void JunkInRowPadding(std::string& Bytes, const TBmpFixture& F) {
  const std::size_t offset = static_cast<std::uint8_t>(Bytes[10]) | (static_cast<std::uint8_t>(Bytes[11]) << 8);
  const std::size_t usedBits = static_cast<std::size_t>(F.Width) * static_cast<std::size_t>(F.BitCount);
  const std::size_t stride = (usedBits + 31) / 32 * 4;
  for (std::int32_t row = 0; row < F.Height; ++row) {
    char* p = Bytes.data() + offset + static_cast<std::size_t>(row) * stride;
    if (usedBits % 8 != 0) p[usedBits / 8] = static_cast<char>(p[usedBits / 8] | (0xFF >> (usedBits % 8)));
    for (std::size_t i = (usedBits + 7) / 8; i < stride; ++i) p[i] = '\xA5';
  }
}

// A palette-format fixture of the given depth, table, size and top-down pixel indexes.
inline TBmpFixture Paletted(int BitCount, std::vector<std::uint32_t> Palette, int Width, int Height,
                            std::vector<std::uint32_t> Pixels) {
  TBmpFixture f;
  f.BitCount = BitCount;
  f.Palette = std::move(Palette);
  f.Width = Width;
  f.Height = Height;
  f.Pixels = std::move(Pixels);
  return f;
}

}  // namespace varnex_test
