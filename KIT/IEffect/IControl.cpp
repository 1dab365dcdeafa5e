#include "KIT/IEffect/IControl.h"

#include <cmath>
#include <cstring>

#include "KIT/IEffect/IControls.h"
#include "KIT/IEffect/IEffectBase.h"
#include "KIT/IEffect/IGraphics.h"
#include "KIT/IEffect/IParam.h"

IControl::IControl(IEffectBase* plug, IRECT rect, int paramIdx, IChannelBlend blend)
    : mPlug(plug), mRECT(rect), mTargetRECT(rect), mParamIdx(paramIdx), mBlend(blend) {}

IControl::~IControl() = default;

IParam* IControl::GetParam() const {
  return mPlug && mParamIdx >= 0 ? mPlug->GetParam(mParamIdx) : nullptr;
}

void IControl::OnMouseDown(int, int, IMouseMod* mod) {
  if (!mGrayed && mod && mod->R) PromptUserInput();
}

void IControl::OnMouseUp(int, int, IMouseMod*) {}

void IControl::OnMouseDrag(int, int, int, int, IMouseMod*) {}

void IControl::OnMouseDblClick(int, int, IMouseMod*) {
  if (mGrayed || mDefaultValue < 0.0) return;
  mValue = mDefaultValue.load();
  SetDirty(true);
}

void IControl::OnMouseWheel(int, int, IMouseMod* mod, int d) {
  const bool fine = mod && (mod->C || mod->S);
  mValue = mValue + d * (fine ? 0.001 : 0.01);
  SetDirty(true);
}

bool IControl::OnKeyDown(int, int, int) {
  return false;
}

void IControl::OnMouseOver(int, int, IMouseMod*) {}

void IControl::OnMouseOut() {}

void IControl::setValueImpl(double value, bool fromHardware) {
  if (mDefaultValue < 0.0) {
    // The first value a control hears of is what a double click returns to.
    mValue = value;
    mDefaultValue = value;
    return;
  }
  if (value == mValue) return;
  mValue = value;
  if (fromHardware)
    SetDirty2(true);
  else
    SetDirty(false);
  mRedraw = true;
}

void IControl::SetValueFromPlug(double value) {
  setValueImpl(value, false);
}

void IControl::SetValueFromHardware(double value) {
  setValueImpl(value, true);
}

void IControl::TextFromTextEntry(const char*) {}

void IControl::Hide(bool hide) {
  mHide = hide;
  if (hide && mOnScreen.exchange(false)) mVacated = true;
  mRedraw = true;
  SetDirty(false);
}

void IControl::GrayOut(bool gray) {
  mGrayed = gray;
  SetBlendWeight(&mBlend, gray ? 0.5f : 1.0f);
  SetDirty(false);
}

bool IControl::IsHit(int x, int y) {
  return !mTargetRECT.Empty() && mTargetRECT.Contains(x, y);
}

void IControl::setDirtyImpl(bool pushParamToPlug, bool fromHardware) {
  const double v = mValue;
  mValue = mClampLo > v ? mClampLo : std::min(mClampHi, v);
  mDirty = true;
  if (!pushParamToPlug || !mPlug || mParamIdx < 0) return;
  if (fromHardware)
    mPlug->SetParameterFromGUI2(mParamIdx, mValue);
  else
    mPlug->SetParameterFromGUI(mParamIdx, mValue);
  IParam* param = GetParam();
  if (!param) return;
  if (auto* display = dynamic_cast<ITextDisplay*>(mValDisplayControl)) {
    char text[128] = {};
    param->GetDisplayForHost(param->Value(), false, text, true);
    display->SetTextFromPlug(text);
  }
  if (auto* name = dynamic_cast<ITextDisplay*>(mNameDisplayControl)) name->SetTextFromPlug(param->GetNameForHost());
}

void IControl::SetDirty(bool pushParamToPlug) {
  setDirtyImpl(pushParamToPlug, false);
}

void IControl::SetDirty2(bool pushParamToPlug) {
  setDirtyImpl(pushParamToPlug, true);
}

void IControl::SetClean() {
  mDirty = mRedraw.load();
  mRedraw = false;
  mOnScreen = !mHide;
  mVacated = false;
}

bool IControl::IsDirty() {
  return mDirty;
}

void IControl::OnGUIIdle() {}

void IControl::SetAuxParamValueFromPlug(int auxIdx, double value) {
  AuxParam* aux = GetAuxParam(auxIdx);
  if (!aux || aux->mValue == value) return;
  aux->mValue = value;
  SetDirty(false);
  mRedraw = true;
}

void IControl::SetValueFromUserInput(double value) {
  if (value == mValue) return;
  mValue = value;
  SetDirty(true);
  mRedraw = true;
}

void IControl::PromptUserInput() {
  if (mParamIdx < 0 || mDisablePrompt) return;
  IParam* param = GetParam();
  IGraphics* graphics = mPlug ? mPlug->GetGUI() : nullptr;
  if (param && graphics) {
    if (param->GetNDisplayTexts() > 0) {
      graphics->PromptUserInput(this, param, &mRECT);
    } else {
      // A small entry field centred on the control.
      const int cx = platform::intCoord((static_cast<double>(mRECT.L) + mRECT.R) * 0.5);
      const int cy = platform::intCoord((static_cast<double>(mRECT.T) + mRECT.B) * 0.5);
      IRECT r(cx - 15, cy - 8, cx + 15, cy + 8);
      graphics->PromptUserInput(this, param, &r);
    }
  }
  mRedraw = true;
}

void IControl::PromptUserInput(IRECT* r) {
  if (mParamIdx < 0 || mDisablePrompt) return;
  IParam* param = GetParam();
  IGraphics* graphics = mPlug ? mPlug->GetGUI() : nullptr;
  if (param && graphics && r) graphics->PromptUserInput(this, param, r);
  mRedraw = true;
}

void IControl::AddAuxParam(int paramIdx) {
  mAuxParams.push_back(AuxParam{0.0, paramIdx});
}

int IControl::AuxParamIdx(int paramIdx) const {
  for (size_t i = 0; i < mAuxParams.size(); ++i)
    if (mAuxParams[i].mParamIdx == paramIdx) return static_cast<int>(i);
  return -1;
}

IControl::AuxParam* IControl::GetAuxParam(int auxIdx) {
  return auxIdx >= 0 && auxIdx < static_cast<int>(mAuxParams.size()) ? &mAuxParams[auxIdx] : nullptr;
}

void IControl::SetAllAuxParamsFromGUI() {
  if (!mPlug) return;
  for (const AuxParam& aux : mAuxParams) mPlug->SetParameterFromGUI(aux.mParamIdx, aux.mValue);
}
