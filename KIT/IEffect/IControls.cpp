#include "KIT/IEffect/IControls.h"

#include <cmath>
#include <cstring>

#include "KIT/IEffect/IEffectBase.h"
#include "KIT/IEffect/IGraphics.h"
#include "KIT/IEffect/IParam.h"
#include "KIT/kitstring.h"

namespace {

IRECT bitmapRECT(int x, int y, const IBitmap* bitmap) {
  if (!bitmap) return IRECT(x, y, x, y);
  const int n = bitmap->N > 0 ? bitmap->N : 1;
  return IRECT(x, y, platform::satAdd(x, bitmap->W), platform::satAdd(y, bitmap->H / n));
}

IBitmap copyOf(const IBitmap* bitmap) {
  return bitmap ? *bitmap : IBitmap();
}

}  // namespace

int FrameFromValue(int nFrames, double value) {
  if (nFrames < 2) return 1;
  const int i = static_cast<int>((nFrames - 1) * value + 0.5);
  if (i < 0) return 1;
  return i < nFrames ? i + 1 : nFrames;
}

// ---- IPanelControl ----

IPanelControl::IPanelControl(IEffectBase* plug, IRECT rect, const IColor* color)
    : IControl(plug, rect), mColor(color ? *color : COLOR_BLACK) {}

bool IPanelControl::Draw(IGraphics* graphics) {
  return graphics->FillIRect(&mColor, &mRECT, &mBlend);
}

// ---- IBitmapControl and switches ----

IBitmapControl::IBitmapControl(IEffectBase* plug, int x, int y, int paramIdx, IBitmap* bitmap, IChannelBlend blend)
    : IControl(plug, bitmapRECT(x, y, bitmap), paramIdx, blend), mBitmap(copyOf(bitmap)) {}

bool IBitmapControl::Draw(IGraphics* graphics) {
  return graphics->DrawBitmap(&mBitmap, &mRECT, FrameFromValue(mBitmap.N, mValue), &mBlend);
}

void ISwitchControl::OnMouseDown(int, int, IMouseMod*) {
  if (mGrayed) return;
  // The threshold sits above 1 so that the steps' rounding never skips the last frame.
  double v = mValue + (mBitmap.N >= 2 ? 1.0 / (mBitmap.N - 1) : 1.0);
  if (v > 1.001) v = 0.0;
  mValue = v;
  SetDirty(true);
}

void ISwitchControl::OnMouseDblClick(int x, int y, IMouseMod* mod) {
  OnMouseDown(x, y, mod);
}

void IContactControl::OnMouseUp(int, int, IMouseMod*) {
  mValue = 0.0;
  SetDirty(true);
}

void ISwitchPopUpControl::OnMouseDown(int, int, IMouseMod*) {
  PromptUserInput();
  SetDirty(true);
}

IBitmapOverlayControl::IBitmapOverlayControl(IEffectBase* plug, int x, int y, int paramIdx, IBitmap* bitmap,
                                             IRECT targetArea)
    : ISwitchControl(plug, x, y, paramIdx, bitmap), mTargetArea(targetArea) {}

bool IBitmapOverlayControl::Draw(IGraphics* graphics) {
  if (mValue < 0.5) {
    mTargetRECT = mTargetArea;
    return true;
  }
  mTargetRECT = mRECT;
  return IBitmapControl::Draw(graphics);
}

// ---- IInvisibleSwitchControl ----

IInvisibleSwitchControl::IInvisibleSwitchControl(IEffectBase* plug, IRECT rect, int paramIdx)
    : IControl(plug, rect, paramIdx, IChannelBlend(IChannelBlend::kBlendClobber)) {
  mDisablePrompt = true;
}

void IInvisibleSwitchControl::OnMouseDown(int, int, IMouseMod*) {
  if (mGrayed) return;
  mValue = mValue < 0.5 ? 1.0 : 0.0;
  SetDirty(true);
}

bool IInvisibleSwitchControl::Draw(IGraphics*) {
  return true;
}

// ---- IRadioButtonsControl ----

IRadioButtonsControl::IRadioButtonsControl(IEffectBase* plug, IRECT rect, int paramIdx, int nButtons, IBitmap* bitmap,
                                           EDirection direction, bool reverse)
    : IControl(plug, rect, paramIdx), mBitmap(copyOf(bitmap)) {
  const int n = nButtons > 0 ? nButtons : 1;
  const int w = mBitmap.W;
  const int h = mBitmap.N > 0 ? static_cast<int>(mBitmap.H / mBitmap.N) : mBitmap.H;
  // One button has no gap to spread. The buttons are laid out in 64 bits; those beyond an end of the int range
  // stand at that end.
  if (direction == kHorizontal) {
    const long long dX =
        n > 1 ? platform::intCoord((static_cast<double>(rect.R) - rect.L - static_cast<double>(n) * w) / (n - 1)) : 0;
    long long x = reverse ? static_cast<long long>(rect.R) - w - dX : rect.L;
    for (int i = 0; i < n; ++i) {
      mRECTs.emplace_back(platform::satInt(x), rect.T, platform::satInt(x + w), platform::satAdd(rect.T, h));
      x = reverse ? x - w - dX : x + w + dX;
    }
  } else {
    const long long dY =
        n > 1 ? platform::intCoord((static_cast<double>(rect.B) - rect.T - static_cast<double>(n) * h) / (n - 1)) : 0;
    long long y = reverse ? static_cast<long long>(rect.B) - h - dY : rect.T;
    for (int i = 0; i < n; ++i) {
      mRECTs.emplace_back(rect.L, platform::satInt(y), platform::satAdd(rect.L, w), platform::satInt(y + h));
      y = reverse ? y - h - dY : y + h + dY;
    }
  }
}

void IRadioButtonsControl::OnMouseDown(int x, int y, IMouseMod* mod) {
  if (mGrayed) return;
  if (mod && mod->R) {
    PromptUserInput();
    return;
  }
  const int n = static_cast<int>(mRECTs.size());
  for (int i = 0; i < n; ++i) {
    if (mRECTs[i].Contains(x, y)) {
      mValue = n > 1 ? static_cast<double>(i) / (n - 1) : 0.0;
      break;
    }
  }
  SetDirty(true);
}

bool IRadioButtonsControl::Draw(IGraphics* graphics) {
  const int n = static_cast<int>(mRECTs.size());
  int active = static_cast<int>((n - 1) * mValue + 0.5);
  active = std::max(0, std::min(n - 1, active));
  for (int i = 0; i < n; ++i) graphics->DrawBitmap(&mBitmap, &mRECTs[i], i == active ? 2 : 1, &mBlend);
  return true;
}

// ---- IFaderControl ----

IFaderControl::IFaderControl(IEffectBase* plug, int x, int y, int len, int paramIdx, IBitmap* handle,
                             EDirection direction, bool onlyHandle)
    : IControl(plug, IRECT(), paramIdx),
      mLen(len),
      mHandleBitmap(copyOf(handle)),
      mDirection(direction),
      mOnlyHandle(onlyHandle) {
  const int w = mHandleBitmap.W, h = mHandleBitmap.H;
  if (direction == kVertical) {
    mRECT = IRECT(x, y, platform::satAdd(x, w), platform::satAdd(y, len));
    mHandleHeadroom = h;
  } else {
    mRECT = IRECT(x, y, platform::satAdd(x, len), platform::satAdd(y, h));
    mHandleHeadroom = w;
  }
  mTargetRECT = mRECT;
}

IRECT IFaderControl::GetHandleRECT(double value) const {
  if (value < 0.0) value = mValue;
  IRECT r(mRECT.L, mRECT.T, platform::satAdd(mRECT.L, mHandleBitmap.W), platform::satAdd(mRECT.T, mHandleBitmap.H));
  const long long travel = static_cast<long long>(mLen) - mHandleHeadroom;
  if (mDirection == kVertical) {
    const int shift = platform::intCoord(travel * (1.0 - value));
    r.T = platform::satAdd(r.T, shift);
    r.B = platform::satAdd(r.B, shift);
  } else {
    const int shift = platform::intCoord(value * travel);
    r.L = platform::satAdd(r.L, shift);
    r.R = platform::satAdd(r.R, shift);
  }
  return r;
}

void IFaderControl::SnapToMouse(int x, int y) {
  const long long travel = static_cast<long long>(mLen) - mHandleHeadroom;
  // A handle as long as the track has nowhere to go.
  if (travel <= 0) return;
  if (mDirection == kVertical)
    mValue = 1.0 - static_cast<double>(static_cast<long long>(y) - mRECT.T - mHandleHeadroom / 2) / travel;
  else
    mValue = static_cast<double>(static_cast<long long>(x) - mRECT.L - mHandleHeadroom / 2) / travel;
  SetDirty(true);
}

void IFaderControl::OnMouseDown(int x, int y, IMouseMod* mod) {
  if (mGrayed) return;
  if (mod && mod->R) {
    PromptUserInput();
    return;
  }
  SnapToMouse(x, y);
}

void IFaderControl::OnMouseDrag(int x, int y, int, int, IMouseMod*) {
  if (mGrayed) return;
  SnapToMouse(x, y);
}

bool IFaderControl::Draw(IGraphics* graphics) {
  IRECT r = GetHandleRECT();
  return graphics->DrawBitmap(&mHandleBitmap, &r, 1, &mBlend);
}

bool IFaderControl::IsHit(int x, int y) {
  if (mOnlyHandle) return GetHandleRECT().Contains(x, y);
  return IControl::IsHit(x, y);
}

// ---- Knobs ----

IKnobControl::IKnobControl(IEffectBase* plug, IRECT rect, int paramIdx, EDirection direction, double gearing)
    : IControl(plug, rect, paramIdx), mDirection(direction), mGearing(gearing) {}

void IKnobControl::OnMouseDrag(int, int, int dX, int dY, IMouseMod* mod) {
  if (mGrayed) return;
  double gearing = mGearing;
  if (mod && (mod->C || mod->S)) gearing *= 10.0;
  // A knob of no extent along its direction, or no gearing, cannot be turned by dragging.
  if (gearing == 0.0) return;
  if (mDirection == kVertical) {
    if (mRECT.T == mRECT.B) return;
    mValue = mValue + static_cast<double>(dY) / (static_cast<double>(mRECT.T) - mRECT.B) / gearing;
  } else {
    if (mRECT.R == mRECT.L) return;
    mValue = mValue + static_cast<double>(dX) / (static_cast<double>(mRECT.R) - mRECT.L) / gearing;
  }
  SetDirty(true);
}

IKnobRotaterControl::IKnobRotaterControl(IEffectBase* plug, int x, int y, int paramIdx, IBitmap* bitmap,
                                         double minAngle, double maxAngle, int yOffsetZeroDeg, EDirection direction,
                                         double gearing)
    : IKnobControl(plug, bitmapRECT(x, y, bitmap), paramIdx, direction, gearing),
      mBitmap(copyOf(bitmap)),
      mMinAngle(minAngle),
      mMaxAngle(maxAngle),
      mYOffset(yOffsetZeroDeg) {}

bool IKnobRotaterControl::Draw(IGraphics* graphics) {
  const double angle = mMinAngle + mValue * (mMaxAngle - mMinAngle);
  // The centre, its sum taken in 64 bits.
  const int cx = static_cast<int>((static_cast<long long>(mRECT.L) + mRECT.R) / 2);
  const int cy = static_cast<int>((static_cast<long long>(mRECT.T) + mRECT.B) / 2);
  return graphics->DrawRotatedBitmap(&mBitmap, cx, cy, angle, mYOffset, &mBlend);
}

IKnobMultiControl::IKnobMultiControl(IEffectBase* plug, int x, int y, int paramIdx, IBitmap* bitmap,
                                     EDirection direction, double gearing)
    : IKnobControl(plug, bitmapRECT(x, y, bitmap), paramIdx, direction, gearing), mBitmap(copyOf(bitmap)) {}

bool IKnobMultiControl::Draw(IGraphics* graphics) {
  return graphics->DrawBitmap(&mBitmap, &mRECT, FrameFromValue(mBitmap.N, mValue), &mBlend);
}

IKnobRotatingMaskControl::IKnobRotatingMaskControl(IEffectBase* plug, int x, int y, int paramIdx, IBitmap* base,
                                                   IBitmap* mask, IBitmap* top, double minAngle, double maxAngle,
                                                   EDirection direction, double gearing)
    : IKnobControl(plug, bitmapRECT(x, y, base), paramIdx, direction, gearing),
      mBase(copyOf(base)),
      mMask(copyOf(mask)),
      mTop(copyOf(top)),
      mMinAngle(minAngle),
      mMaxAngle(maxAngle) {}

bool IKnobRotatingMaskControl::Draw(IGraphics* graphics) {
  const double angle = mMinAngle + mValue * (mMaxAngle - mMinAngle);
  return graphics->DrawRotatedMask(&mBase, &mMask, &mTop, mRECT.L, mRECT.T, angle, &mBlend);
}

// ---- Text ----

ITextControl::ITextControl(IEffectBase* plug, IRECT rect, IText* text, const char* str) : IControl(plug, rect) {
  SetText(text);
  if (str && *str) mStr = str;
}

bool ITextControl::Draw(IGraphics* graphics) {
  const std::string str = GetTextForPlug();
  if (str.empty()) return true;
  IRECT measured = mRECT;
  graphics->DrawIText(&mText, str.c_str(), &measured, true);
  if (measured.W() <= mRECT.W()) return graphics->DrawIText(&mText, str.c_str(), &mRECT);
  // Too wide for the control: it reads from the control's left edge and is cut at its right edge, so that it
  // never runs into the texts beside it.
  IText fromLeft = mText;
  fromLeft.mAlign = IText::kAlignNear;
  return graphics->DrawIText(&fromLeft, str.c_str(), &mRECT, false, true);
}

void ITextControl::SetTextFromPlug(const char* str) {
  if (!str) str = "";
  {
    std::lock_guard<std::mutex> lock(mStrLock);
    if (mStr == str) return;
    mStr = str;
  }
  SetDirty(false);
}

void ITextControl::setString(const char* str) {
  std::lock_guard<std::mutex> lock(mStrLock);
  mStr = str ? str : "";
}

std::string ITextControl::GetTextForPlug() const {
  std::lock_guard<std::mutex> lock(mStrLock);
  return mStr;
}

ICaptionControl::ICaptionControl(IEffectBase* plug, IRECT rect, int paramIdx, IText* text, bool showParamLabel)
    : ITextControl(plug, rect, text, ""), mShowParamLabel(showParamLabel) {
  mParamIdx = paramIdx;
}

void ICaptionControl::OnMouseDown(int, int, IMouseMod* mod) {
  if (mGrayed || !mod || !(mod->L || mod->R)) return;
  PromptUserInput();
}

void ICaptionControl::OnMouseDblClick(int, int, IMouseMod*) {
  if (!mGrayed) PromptUserInput();
}

bool ICaptionControl::Draw(IGraphics* graphics) {
  IParam* param = GetParam();
  if (param) {
    std::string caption;
    {
      // A text parameter's display text (the program name) is rewritten under the plug-in mutex by the MIDI
      // input (a received program) and the host (a recalled project): the whole caption is made under the same
      // mutex, the label too, which looks the display text up again to know whether one is shown. Only the copy
      // is made here; the drawing below takes the surface's locks without the plug-in's.
      KIT_MutexLock lock(param->Type() == IParam::kTypeText && mPlug ? &mPlug->GetMutex() : nullptr);
      char text[160] = {};
      param->GetDisplayForHost(param->Value(), false, text, true);
      caption = text;
      if (mShowParamLabel) {
        caption += " ";
        caption += param->GetLabelForHost();
      }
    }
    setString(caption.c_str());
  }
  return ITextControl::Draw(graphics);
}

// ---- IURLControl ----

IURLControl::IURLControl(IEffectBase* plug, IRECT rect, const char* url, const char* backupURL, const char* errMsgTitle)
    : IControl(plug, rect) {
  KIT_UTF8Copy(mURL, sizeof mURL, url);
  KIT_UTF8Copy(mBackupURL, sizeof mBackupURL, backupURL);
  KIT_UTF8Copy(mErrMsg, sizeof mErrMsg, errMsgTitle);
}

void IURLControl::OnMouseDown(int, int, IMouseMod*) {
  if (mGrayed) return;
  IGraphics* graphics = mPlug ? mPlug->GetGUI() : nullptr;
  if (!graphics) return;
  bool opened = false;
  if (mURL[0]) opened = graphics->OpenURL(mURL, mErrMsg, nullptr, nullptr);
  if (!opened && mBackupURL[0]) graphics->OpenURL(mBackupURL, mErrMsg, nullptr, nullptr);
}

bool IURLControl::Draw(IGraphics*) {
  return true;
}

// ---- IFileSelectorControl ----

IFileSelectorControl::IFileSelectorControl(IEffectBase* plug, IRECT rect, int paramIdx, IBitmap* bitmap,
                                           EFileAction action, const char* dir, const char* extensions)
    : IControl(plug, rect, paramIdx), mBitmap(copyOf(bitmap)), mFileAction(action) {
  mDir.Set(dir ? dir : "");
  mExtensions.Set(extensions ? extensions : "");
}

void IFileSelectorControl::OnMouseDown(int, int, IMouseMod*) {
  IGraphics* graphics = mPlug ? mPlug->GetGUI() : nullptr;
  if (mGrayed || !graphics) return;
  mState = kFSSelecting;
  SetDirty(false);
  std::string extensions = mExtensions.Get();
  graphics->PromptForFile(&mFile, static_cast<EFileAction>(mFileAction), &mDir, &extensions[0]);
  double v = mValue + 1.0;
  if (v > 1.0) v = 0.0;
  mValue = v;
  mState = kFSDone;
  SetDirty(true);
}

bool IFileSelectorControl::Draw(IGraphics* graphics) {
  if (!mDraw) return true;
  return graphics->DrawBitmap(&mBitmap, &mRECT, 0, 0, &mBlend);
}

bool IFileSelectorControl::IsDirty() {
  if (mDirty) return true;
  if (mState == kFSDone) {
    mState = kFSNone;
    return true;
  }
  return false;
}

void IFileSelectorControl::GetLastSelectedFileForPlug(KIT_String* out) const {
  if (out) out->Set(mFile.Get());
}

void IFileSelectorControl::SetLastSelectedFileFromPlug(const char* file) {
  mFile.Set(file ? file : "");
}
