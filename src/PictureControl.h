// A picture of the description (panel frames, section titles, labels, the librarian's slot grid): drawn in its
// layer like any control, with the layer's greying, bound to nothing and never hit by the mouse.
#pragma once

#include "KIT/IEffect/IControls.h"
#include "KIT/pix/pix.h"

class PictureControl : public IBitmapControl {
 public:
  PictureControl(IEffectBase* plug, int x, int y, IBitmap* bitmap) : IBitmapControl(plug, x, y, -1, bitmap) {
    // A picture without a transparent pixel (the pages behind the tabs) is copied, not blended: the same pixels,
    // at the raster library's copy speed.
    if (opaque(bitmap)) mBlend.mMethod = IChannelBlend::kBlendClobber;
  }
  bool IsHit(int, int) override { return false; }
  bool DrawsClipped() const override { return true; }

 private:
  static bool opaque(const IBitmap* bitmap) {
    PIX_IBitmap* b = bitmap ? bitmap->mData : nullptr;
    const PIX_pixel* bits = b ? b->getBits() : nullptr;
    if (!bits || b->getWidth() <= 0 || b->getHeight() <= 0) return false;
    for (int y = 0; y < b->getHeight(); ++y) {
      const unsigned char* row = reinterpret_cast<const unsigned char*>(bits + static_cast<long>(y) * b->getRowSpan());
      for (int x = 0; x < b->getWidth(); ++x)
        if (row[4 * x] != 0xFF) return false;
    }
    return true;
  }
};
