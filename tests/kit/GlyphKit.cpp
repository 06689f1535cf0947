#include "tests/kit/GlyphKit.h"

#include "app/DisabledRule.h"
#include "base/Graphics.h"

#include <cstdint>

namespace varnex_kit {

void WidenWithDisabledImage(TBitmap& Bitmap, TColor LightColor, TColor ShadowColor) {
  const int width = Bitmap.Width();
  if (width == 0 || Bitmap.Height() == 0) return;
  if (width > INT32_MAX / 2) throw EOutOfResources("Bitmap is too large");
  Bitmap.SetWidth(2 * width);
  DrawDisabledHalf(Bitmap, LightColor, ShadowColor);
}

void MakeDisabledImage(TBitmap& Work, TColor LightColor, TColor ShadowColor) {
  const int width = Work.Width();
  const int height = Work.Height();
  if (width == 0 || height == 0) return;
  if (Work.PixelFormat() != pf24bit) throw EInvalidGraphicOperation("The disabled image needs a 24-bit bitmap");
  TBitmap widened;
  widened.Assign(Work);
  WidenWithDisabledImage(widened, LightColor, ShadowColor);
  Work.Canvas()->CopyRect(TRect{0, 0, width, height}, *widened.Canvas(), TRect{width, 0, 2 * width, height});
}

}  // namespace varnex_kit
