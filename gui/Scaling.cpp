#include "gui/Scaling.h"

#include <QApplication>
#include <QWidget>

int ScaleLength(int Length, const QWidget* Widget) {
  const int dpi = Widget != nullptr ? Widget->logicalDpiX() : DesignPixelsPerInch;
  // Rounded like the system's multiply-and-divide, with a 64-bit product.
  const long long product = static_cast<long long>(Length) * dpi;
  const long long half = DesignPixelsPerInch / 2;
  return static_cast<int>(product >= 0 ? (product + half) / DesignPixelsPerInch
                                       : -((-product + half) / DesignPixelsPerInch));
}

QRect ScaleBounds(int Left, int Top, int Width, int Height, const QWidget* Widget) {
  return QRect(ScaleLength(Left, Widget), ScaleLength(Top, Widget), ScaleLength(Width, Widget),
               ScaleLength(Height, Widget));
}

void SetScaledBounds(QWidget* Control, int Left, int Top, int Width, int Height) {
  const QRect bounds = ScaleBounds(Left, Top, Width, Height, Control);
  Control->setGeometry(bounds);
  Control->setFixedSize(bounds.size());
}

void SetScaledClientSize(QWidget* Form, int Width, int Height) {
  Form->setFixedSize(ScaleLength(Width, Form), ScaleLength(Height, Form));
}

QFont DefaultFormFont(const QWidget* Widget) {
  QFont font = QApplication::font();
  font.setPixelSize(ScaleLength(15, Widget));
  return font;
}
