// The width of one character of the editor's display and librarian fonts, which have one width for every character:
// what decides how many characters a line holds.
#pragma once

#include "KIT/IEffect/IGraphics.h"

// Measured on the surface; a guess from the size where it cannot be measured. *lineHeight (when given) gets the
// height of a line of the font, 0 where it cannot be measured.
inline double textCellWidth(IGraphics* graphics, IText* style, int* lineHeight = nullptr) {
  IRECT measured(0, 0, 1000, 100);
  const bool known = graphics && graphics->MeasureIText(style, "MMMMMMMMMM", &measured) && measured.W() > 0;
  if (lineHeight) *lineHeight = known ? measured.H() : 0;
  return known ? measured.W() / 10.0 : 0.6 * style->mSize;
}
