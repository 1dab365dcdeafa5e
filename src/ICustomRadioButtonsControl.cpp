#include "src/ICustomRadioButtonsControl.h"

#include <algorithm>

#include "KIT/IEffect/IGraphics.h"

ICustomRadioButtonsControl::ICustomRadioButtonsControl(IEffectBase* plug, IRECT rect, int paramIdx, int nButtons,
                                                       IBitmap* bitmap, EDirection direction)
    : IRadioButtonsControl(plug, rect, paramIdx, nButtons, bitmap, direction, false) {
  const int n = std::max(nButtons, 1);
  const int W = mBitmap.W, H = mBitmap.H, N = std::max(mBitmap.N, 1);
  if (mBitmap.mFramesAreHorizontal) {
    mButtonWidth = W / 2;
    mButtonHeight = H / n;
  } else {
    mButtonWidth = W / n;
    mButtonHeight = H / 2;
  }
  mRECTs.assign(n, IRECT());
  for (int i = 0; i < n; ++i) {
    if (direction == kHorizontal)
      mRECTs[i] = IRECT(rect.L + i * mButtonWidth, rect.T, rect.L + (i + 1) * mButtonWidth, rect.T + H / N);
    else
      mRECTs[i] = IRECT(rect.L, rect.T + i * mButtonHeight, rect.L + mButtonWidth, rect.T + (i + 1) * mButtonHeight);
  }
}

void ICustomRadioButtonsControl::OnMouseDown(int x, int y, IMouseMod* mod) {
  if (mGrayed) return;
  if (mod && mod->R && !mRightButtonSelects) {
    SetDirty(false);
    return;
  }
  IMouseMod left = mod ? *mod : IMouseMod();
  left.R = false;
  left.L = true;
  OnMouseDownCustom(x, y, &left);
}

void ICustomRadioButtonsControl::OnMouseDownCustom(int x, int y, IMouseMod* mod) {
  if (mod && mod->R) return;
  const int n = static_cast<int>(mRECTs.size());
  const int last = mLastSelectable >= 0 ? std::min(mLastSelectable, n - 1) : n - 1;
  for (int i = 0; i <= last; ++i) {
    const IRECT& r = mRECTs[i];
    if (r.W() > 0 && r.H() > 0 && x >= r.L && x < r.R && y >= r.T && y < r.B) {
      // One button has nothing to divide: it stands for the value 0.
      mValue = n > 1 ? static_cast<double>(i) / (n - 1) : 0.0;
      break;
    }
  }
  SetDirty(true);
}

void ICustomRadioButtonsControl::OnMouseOut() {
  SetDirty(false);
}

bool ICustomRadioButtonsControl::Draw(IGraphics* graphics) {
  const int n = static_cast<int>(mRECTs.size());
  const int active = std::clamp(static_cast<int>((n - 1) * mValue + 0.5), 0, std::max(n - 1, 0));
  SetBlendWeight(&mBlend, 1.0f);
  for (int i = 0; i < n; ++i) {
    const int sx = mBitmap.mFramesAreHorizontal ? 0 : i * mButtonWidth;
    const int sy = mBitmap.mFramesAreHorizontal ? i * mButtonHeight : 0;
    graphics->DrawBitmap(&mBitmap, &mRECTs[i], i == active && mShowSelection ? 2 : 1, sx, sy, &mBlend);
  }
  return true;
}
