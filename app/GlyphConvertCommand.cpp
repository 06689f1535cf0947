#include "app/GlyphConvertCommand.h"

#include "app/DisabledRule.h"
#include "base/Graphics.h"
#include "base/SysUtils.h"

#include <string_view>
#include <sys/stat.h>

TGlyphConvertCommand::TGlyphConvertCommand(const std::string& FileName, TColor LightColor, TColor ShadowColor,
                                           const std::string& OutputDir)
    : FileName(FileName), LightColor(LightColor), ShadowColor(ShadowColor), OutputDir(OutputDir) {}

void TGlyphConvertCommand::Execute() {
  TBitmap bitmap;
  // The glyph is read with room for its disabled image, so no row has to move to make it.
  LoadGlyph(bitmap);
  DrawDisabledHalf(bitmap, LightColor, ShadowColor);
  SaveGlyph(bitmap);
}

void TGlyphConvertCommand::LoadGlyph(TBitmap& Bitmap) {
  try {
    Bitmap.LoadWidenedFromFile(FileName);
  } catch (const EStreamError&) {
    throw EGlyphConvertError("Cannot load glyph from file: " + FileName);
  } catch (const EInvalidGraphic&) {
    throw EGlyphConvertError("Cannot load glyph from file: " + FileName);
  }
}

void TGlyphConvertCommand::SaveGlyph(TBitmap& Bitmap) {
  // The output folder and the source's name, built in one string.
  const std::size_t slash = FileName.rfind(PathDelim);
  const std::string_view name = std::string_view(FileName).substr(slash == std::string::npos ? 0 : slash + 1);
  std::string target;
  target.reserve(OutputDir.size() + 1 + name.size());
  target += OutputDir;
  if (target.empty() || target.back() != PathDelim) target += PathDelim;
  target += name;
  try {
    // The publish never replaces a file and reports an existing name itself.
    Bitmap.SaveToFile(target, false);
  } catch (const EFileExists&) {
    if (DirectoryExists(target)) throw EGlyphConvertError("Cannot save glyph to file: " + target);
    // An empty file is what a save killed half-way leaves: it never counts as a finished output.
    struct stat st {};
    if (::lstat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size == 0)
      throw EGlyphConvertError("Output file already exists: " + target);
    throw EGlyphOutputExists("Output file already exists: " + target);
  } catch (const EStreamError&) {
    // An existing file is reported before any other reason the save failed.
    if (FileExists(target)) throw EGlyphOutputExists("Output file already exists: " + target);
    throw EGlyphConvertError("Cannot save glyph to file: " + target);
  }
}
