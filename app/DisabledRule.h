#pragma once
// The disabled image of a glyph. Ink is a pixel that is neither white nor the background
// (the bottom-left pixel's colour); in the disabled image ink becomes the shadow colour, paper
// whose up-left neighbour is ink becomes the light colour, and all other paper the background.
//
// The rule itself works on rows of ink flags and gives a class per pixel; adapters for the
// pixel formats turn a bitmap's rows into ink flags and classes back into pixels.

#include "base/Types.h"

#include <cstddef>
#include <cstdint>

class TBitmap;

// What a pixel of the disabled image becomes; the order lets a class be the larger of twice
// the pixel's ink and the ink up-left of it.
enum TDisabledClass : std::uint8_t { dcPaper = 0, dcLight = 1, dcShadow = 2 };

// True for an ink pixel of colour Color on a glyph with background Background. Where the
// background is transparent (BackgroundShows false) its colour is ink like any other.
bool IsInk(TColor Color, TColor Background, bool BackgroundShows = true);

// The rule on pixels From to To - 1 of one row: Ink holds the row's ink flags (0 or 1),
// InkAbove those of the row above (all 0 for the top row), Classes receives the classes.
void DisabledClasses(const std::uint8_t* Ink, const std::uint8_t* InkAbove, std::uint8_t* Classes,
                     std::size_t From, std::size_t To);

// The same for a whole row, sixteen pixels a step with vector instructions where the switch
// below allows it, otherwise through DisabledClasses. InkAbove[-1] must be readable and 0.
void DisabledRow(const std::uint8_t* Ink, const std::uint8_t* InkAbove, std::uint8_t* Classes, std::size_t Width);

// Turns the vector route on or off (it is on by default); read on every row.
void SetDisabledVectorRoute(bool On);

// Draws the disabled image of the left half of a bitmap into its right half; the bitmap was
// widened to twice its width before. An empty bitmap stays as it is.
void DrawDisabledHalf(TBitmap& Bitmap, TColor LightColor, TColor ShadowColor);
