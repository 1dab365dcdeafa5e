// The editor's radio-button group: one enumerated parameter, one button per value, cut from a single picture of
// the whole row (or column) of buttons drawn twice, unlit (frame 1) and lit (frame 2).
#pragma once

#include <vector>

#include "KIT/IEffect/IControls.h"

class ICustomRadioButtonsControl : public IRadioButtonsControl {
 public:
  // With frames stacked, the row of buttons lies across (direction horizontal); with frames side by side, the
  // column runs down (vertical). rect is one frame large.
  ICustomRadioButtonsControl(IEffectBase* plug, IRECT rect, int paramIdx, int nButtons, IBitmap* bitmap,
                             EDirection direction);

  // Left press: the button under the point is chosen. A right press or a greyed group changes nothing.
  void OnMouseDown(int x, int y, IMouseMod* mod) override;
  void OnMouseDblClick(int, int, IMouseMod*) override {}
  void OnMouseOver(int, int, IMouseMod*) override {}
  void OnMouseOut() override;
  bool Draw(IGraphics* graphics) override;

  void OnMouseDownCustom(int x, int y, IMouseMod* mod);
  int GetButtonWidth() const { return mButtonWidth; }
  int GetButtonHeight() const { return mButtonHeight; }

 private:
  bool mRightButtonSelects = false;
  bool mShowSelection = true;
  int mButtonWidth = 0;
  int mButtonHeight = 0;
  int mLastSelectable = -1;
};
