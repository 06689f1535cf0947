#pragma once
// Glyph helpers that the tests, the benchmarks and the fuzzer share; the program has no use for them.

#include "base/Types.h"

class TBitmap;

namespace varnex_kit {

// Widens Bitmap to twice its width and draws its disabled image into the new right half: what
// the glyph command makes of a file holding Bitmap. An empty bitmap stays as it is.
void WidenWithDisabledImage(TBitmap& Bitmap, TColor LightColor, TColor ShadowColor);

// Replaces the pixels of a 24-bit bitmap with its disabled image; raises
// EInvalidGraphicOperation for any other format.
void MakeDisabledImage(TBitmap& Work, TColor LightColor, TColor ShadowColor);

}  // namespace varnex_kit
