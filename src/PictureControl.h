// A picture of the description (panel frames, section titles, labels, the librarian's slot grid): drawn in its
// layer like any control, with the layer's greying, bound to nothing and never hit by the mouse.
#pragma once

#include "KIT/IEffect/IControls.h"

class PictureControl : public IBitmapControl {
 public:
  PictureControl(IEffectBase* plug, int x, int y, IBitmap* bitmap) : IBitmapControl(plug, x, y, -1, bitmap) {}
  bool IsHit(int, int) override { return false; }
};
