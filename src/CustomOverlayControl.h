// An overlay that always draws its bitmap: the layer it sits in decides when it is seen, not its
// value. Hit inside its target area only.
#pragma once

#include "KIT/IEffect/IControls.h"

class CustomOverlayControl : public IBitmapOverlayControl {
 public:
  CustomOverlayControl(IEffectBase* plug, int x, int y, int paramIdx, IBitmap* bitmap, IRECT targetArea)
      : IBitmapOverlayControl(plug, x, y, paramIdx, bitmap, targetArea) {
    mTargetRECT = targetArea;
  }
  bool Draw(IGraphics* graphics) override { return IBitmapControl::Draw(graphics); }
};
