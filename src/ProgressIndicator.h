// The full-window overlay shown while a transfer runs: it dims the editor with its picture and catches every
// click outside the Cancel buttons of its layer. It lives on its own layer and repaints while that layer is hidden,
// so that hiding it clears the screen at once.
#pragma once

#include "KIT/IEffect/IControl.h"

class ControlLayer;

class ProgressIndicator : public IControl {
 public:
  // Appends itself to layer (which owns it) and makes the layer repaint while hidden. The overlay picture is drawn
  // from the top-left corner; the caller gives it the window's size.
  ProgressIndicator(ControlLayer* layer, IEffectBase* plug, int x, int y, int width, int height, int paramIdx,
                    IBitmap overlay, IRECT rect);
  bool Draw(IGraphics* graphics) override;
  void OnMouseDown(int, int, IMouseMod*) override {}
  void OnMouseDblClick(int, int, IMouseMod*) override {}
  void OnMouseWheel(int, int, IMouseMod*, int) override {}
  ControlLayer* getLayer() const { return mLayer; }

 private:
  ControlLayer* mLayer;
  IBitmap mOverlay;
};
