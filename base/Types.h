#pragma once
// Plain value types shared by every layer.

#include <cstdint>
#include <string>
#include <vector>

// A colour 0x00BBGGRR: red in the low byte, then green, then blue.
using TColor = std::uint32_t;

// A list of strings, such as a list of file paths.
using TStringList = std::vector<std::string>;

// A rectangle with exclusive right and bottom edges.
struct TRect {
  int Left = 0, Top = 0, Right = 0, Bottom = 0;
  friend bool operator==(const TRect&, const TRect&) = default;
};

// A point in integer coordinates.
struct TPoint {
  int X = 0, Y = 0;
  friend bool operator==(const TPoint&, const TPoint&) = default;
};
