// Lengths given at 120 pixels per inch, scaled to the widget's density.

#include "gui/Scaling.h"
#include "tests/common/QtTestSupport.h"

#include <QWidget>

namespace {

TEST(ScalingTest, LengthsFollowTheLogicalDensityRounded) {
  QWidget widget;
  const int dpi = widget.logicalDpiX();
  ASSERT_GT(dpi, 0);
  EXPECT_EQ(ScaleLength(120, &widget), dpi);
  EXPECT_EQ(ScaleLength(0, &widget), 0);
  EXPECT_EQ(ScaleLength(-120, &widget), -dpi);
  EXPECT_EQ(ScaleLength(1200, &widget), 10 * dpi);
  // Exact halves round away from zero: 60 * dpi / 120 is dpi / 2.
  EXPECT_EQ(ScaleLength(60, &widget), (dpi + 1) / 2);
  EXPECT_EQ(ScaleLength(381, nullptr), 381) << "without a widget the design density applies";
  EXPECT_EQ(ScaleLength(2000000000, nullptr), 2000000000) << "no overflow in the product";
}

}  // namespace
