#pragma once
// The colour dialog, which keeps its 16 custom colours for the life of the
// object (never in a file).

#include "base/Classes.h"
#include "base/Types.h"

#include <vector>

// The number of custom-colour slots.
inline constexpr int CustomColorCount = 16;
// The value of a custom-colour slot that was never set (white).
inline constexpr TColor UnsetCustomColor = 0xFFFFFF;

// A colour as plain RGB: a system-colour reference (top bit set) resolves to its current value.
TColor ColorToRGB(TColor Color);

// The colour dialog.
class TColorDialog : public TObject {
public:
  // A dialog with colour black and unset custom colours.
  TColorDialog();

  // The colour: the starting colour before Execute, the chosen one after OK.
  TColor Color() const;
  // Sets the colour.
  void SetColor(TColor Value);
  // The 16 custom colours.
  const std::vector<TColor>& CustomColors() const;

  // Runs the dialog modally from ColorToRGB(Color()); true on OK, which takes the colour and the custom colours.
  bool Execute();

private:
  TColor FColor = 0;
  std::vector<TColor> FCustomColors;
};
