#pragma once
// Turns one glyph bitmap file into a two-image glyph in the output directory.

#include "base/Classes.h"
#include "base/Exceptions.h"
#include "base/Types.h"

#include <string>

class TBitmap;

// An expected failure of one conversion; the message names the file.
VARNEX_DECLARE_EXCEPTION(EGlyphConvertError, Exception);
// A finished output file already exists (not a folder, nor the empty file a killed save
// leaves); it was left as it is.
VARNEX_DECLARE_EXCEPTION(EGlyphOutputExists, EGlyphConvertError);

// Converts one source file: the source on the left, its disabled image on the right.
class TGlyphConvertCommand : public TObject {
public:
  // Stores the source path, the two colours and the output directory.
  TGlyphConvertCommand(const std::string& FileName, TColor LightColor, TColor ShadowColor,
                       const std::string& OutputDir);

  // Loads, widens and saves the glyph; raises EGlyphConvertError for the expected failures.
  void Execute();

private:
  // Reads the glyph into the left half of a bitmap twice its width.
  void LoadGlyph(TBitmap& Bitmap);
  // Publishes the widened glyph under the source's name in the output directory.
  void SaveGlyph(TBitmap& Bitmap);

  const std::string FileName;
  const TColor LightColor;
  const TColor ShadowColor;
  const std::string OutputDir;
};
