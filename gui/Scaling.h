#pragma once
// Layout at the design density of 120 pixels per inch, scaled to the screen.

#include <QFont>
#include <QRect>

class QWidget;

// The density at which the program's layouts are given.
inline constexpr int DesignPixelsPerInch = 120;

// Length scaled from 120 ppi to Widget's logical density, rounded to the nearest pixel.
int ScaleLength(int Length, const QWidget* Widget);
// The bounds left, top, width, height scaled for Widget.
QRect ScaleBounds(int Left, int Top, int Width, int Height, const QWidget* Widget);
// Places Control at the scaled bounds, fixed in size.
void SetScaledBounds(QWidget* Control, int Left, int Top, int Width, int Height);
// Fixes Form's client area at the scaled size.
void SetScaledClientSize(QWidget* Form, int Width, int Height);
// The forms' font: the default face, 15 pixels high at 120 ppi.
QFont DefaultFormFont(const QWidget* Widget);
