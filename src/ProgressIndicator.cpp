#include "src/ProgressIndicator.h"

#include "KIT/IEffect/ControlLayer.h"
#include "KIT/IEffect/IGraphics.h"

ProgressIndicator::ProgressIndicator(ControlLayer* layer, IEffectBase* plug, int x, int y, int width, int height,
                                     int paramIdx, IBitmap overlay, IRECT)
    : IControl(plug, IRECT(x, y, x + width, y + height), paramIdx), mLayer(layer), mOverlay(overlay) {
  if (mLayer) {
    mLayer->controls.Add(this);
    mLayer->setIgnoreHiddenWhenUpdatingScreen(true);
  }
}

bool ProgressIndicator::Draw(IGraphics* graphics) {
  IRECT r = mRECT;
  return graphics->DrawBitmap(&mOverlay, &r, 1, &mBlend);
}
