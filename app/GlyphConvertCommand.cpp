#include "app/GlyphConvertCommand.h"

#include "base/Graphics.h"
#include "base/SysUtils.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace {

constexpr TColor kWhite = 0xFFFFFF;

// A pixel of the 24-bit work image: blue, green, red.
inline TColor GetPixelColor(const std::uint8_t* Row, int X) {
  const std::uint8_t* p = Row + 3 * static_cast<std::size_t>(X);
  return static_cast<TColor>(p[2]) | (static_cast<TColor>(p[1]) << 8) | (static_cast<TColor>(p[0]) << 16);
}

inline void SetPixelColor(std::uint8_t* Row, int X, TColor Color) {
  std::uint8_t* p = Row + 3 * static_cast<std::size_t>(X);
  p[0] = static_cast<std::uint8_t>(Color >> 16);
  p[1] = static_cast<std::uint8_t>(Color >> 8);
  p[2] = static_cast<std::uint8_t>(Color);
}

}  // namespace

void MakeDisabledImage(TBitmap& Work, TColor LightColor, TColor ShadowColor) {
  const int width = Work.Width();
  const int height = Work.Height();
  if (width == 0 || height == 0) return;
  if (Work.PixelFormat() != pf24bit) throw EInvalidGraphicOperation("The disabled image needs a 24-bit bitmap");
  const TColor bg = GetPixelColor(Work.ScanLine(height - 1), 0);
  LightColor &= 0xFFFFFF;
  ShadowColor &= 0xFFFFFF;
  // The rows are visited top-down; each row's ink is noted before it is overwritten, so
  // the highlight reads the source's classes exactly as the bottom-up, right-to-left
  // visit would. Entry x + 1 holds the ink of column x; entry 0 is never ink.
  std::vector<std::uint8_t> aboveInk(static_cast<std::size_t>(width) + 1, 0);
  std::vector<std::uint8_t> rowInk(static_cast<std::size_t>(width) + 1, 0);
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = Work.ScanLine(y);
    for (int x = 0; x < width; ++x) {
      const TColor c = GetPixelColor(row, x);
      const bool ink = c != bg && c != kWhite;
      rowInk[static_cast<std::size_t>(x) + 1] = ink;
      SetPixelColor(row, x, ink ? ShadowColor : (aboveInk[static_cast<std::size_t>(x)] ? LightColor : bg));
    }
    aboveInk.swap(rowInk);
  }
}

TGlyphConvertCommand::TGlyphConvertCommand(const std::string& FileName, TColor LightColor, TColor ShadowColor,
                                           const std::string& OutputDir)
    : FileName(FileName), LightColor(LightColor), ShadowColor(ShadowColor), OutputDir(OutputDir) {}

void TGlyphConvertCommand::Execute() {
  const auto bitmap = std::make_unique<TBitmap>();
  LoadGlyph(*bitmap);
  AddDisabledImage(*bitmap);
  SaveGlyph(*bitmap);
}

void TGlyphConvertCommand::LoadGlyph(TBitmap& Bitmap) {
  try {
    Bitmap.LoadFromFile(FileName);
  } catch (const EStreamError&) {
    throw EGlyphConvertError("Cannot load glyph from file: " + FileName);
  } catch (const EInvalidGraphic&) {
    throw EGlyphConvertError("Cannot load glyph from file: " + FileName);
  }
}

void TGlyphConvertCommand::AddDisabledImage(TBitmap& Bitmap) {
  const int width = Bitmap.Width();
  if (width == 0) return;
  const int height = Bitmap.Height();
  if (height == 0) return;
  if (width > INT32_MAX / 2) throw EOutOfResources("Bitmap is too large");
  const auto work = std::make_unique<TBitmap>();
  work->SetPixelFormat(pf24bit);
  work->SetWidth(width);
  work->SetHeight(height);
  work->Canvas()->Draw(0, 0, Bitmap);
  MakeDisabledImage(*work, LightColor, ShadowColor);
  Bitmap.SetWidth(2 * width);
  const int half = Bitmap.Width() / 2;
  Bitmap.Canvas()->CopyRect(TRect{half, 0, half + half, Bitmap.Height()}, *work->Canvas(),
                            TRect{0, 0, width, height});
}

void TGlyphConvertCommand::SaveGlyph(TBitmap& Bitmap) {
  const std::string target = IncludeTrailingPathDelimiter(OutputDir) + ExtractFileName(FileName);
  if (FileExists(target)) throw EGlyphConvertError("Output file already exists: " + target);
  try {
    // The no-replace publish also covers a file that appears after the check above.
    Bitmap.SaveToFile(target, false);
  } catch (const EFileExists&) {
    if (DirectoryExists(target)) throw EGlyphConvertError("Cannot save glyph to file: " + target);
    throw EGlyphConvertError("Output file already exists: " + target);
  } catch (const EStreamError&) {
    throw EGlyphConvertError("Cannot save glyph to file: " + target);
  }
}
