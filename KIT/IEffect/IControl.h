// The base of every element of the editor: a rectangle on the editor surface, an optional binding to one plug-in
// parameter, a value normalized to 0..1 and the flags that the redraw cycle, the layers and input dispatch read.
//
// Values arrive by three roads that differ in what the plug-in is told: from the plug-in itself
// (SetValueFromPlug: nothing), from the synthesizer (SetValueFromHardware: SetParameterFromGUI2, which sends no
// MIDI back) and from the user (mouse handlers, SetValueFromUserInput: SetParameterFromGUI).
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "KIT/IEffect/IGraphicsStructs.h"

class IEffectBase;
class IGraphics;
class IParam;

// A control that shows a text the plug-in hands it (the value and name displays of a control): the text controls
// and the bitmap-font text controls.
class ITextDisplay {
 public:
  virtual ~ITextDisplay() = default;
  // Dirties the control only when the text differs.
  virtual void SetTextFromPlug(const char* str) = 0;
  virtual std::string GetTextForPlug() const = 0;
};

class IControl {
 public:
  struct AuxParam {
    double mValue;
    int mParamIdx;
  };

  IControl(IEffectBase* plug, IRECT rect, int paramIdx = -1, IChannelBlend blend = IChannelBlend());
  virtual ~IControl();
  IControl(const IControl&) = delete;
  IControl& operator=(const IControl&) = delete;

  // --- Input (main thread) ---
  // Unless greyed, a right-button press opens the value prompt.
  virtual void OnMouseDown(int x, int y, IMouseMod* mod);
  virtual void OnMouseUp(int x, int y, IMouseMod* mod);
  virtual void OnMouseDrag(int x, int y, int dX, int dY, IMouseMod* mod);
  // Unless greyed, returns to the default value once one is known.
  virtual void OnMouseDblClick(int x, int y, IMouseMod* mod);
  // Steps of 0.01, or 0.001 with Shift or Control.
  virtual void OnMouseWheel(int x, int y, IMouseMod* mod, int d);
  virtual bool OnKeyDown(int x, int y, int key);
  virtual void OnMouseOver(int x, int y, IMouseMod* mod);
  virtual void OnMouseOut();

  // Draws through the surface's drawing operations; called only by the surface's redraw.
  virtual bool Draw(IGraphics* graphics) = 0;

  // Plug-in side (any thread): the first value also becomes the default and does not dirty the control.
  virtual void SetValueFromPlug(double value);
  // MIDI input thread: as SetValueFromPlug, then the plug-in is updated without sending MIDI back.
  virtual void SetValueFromHardware(double value);
  // The typed text of a text entry opened without a parameter.
  virtual void TextFromTextEntry(const char* text);

  virtual void Hide(bool hide);
  virtual void GrayOut(bool gray);
  // Half-open test against the target rectangle; an empty one is never hit.
  virtual bool IsHit(int x, int y);
  // Limits the value to the clamp range and marks the control dirty; with pushParamToPlug the value goes to the
  // plug-in (SetParameterFromGUI) and the attached value and name displays follow.
  virtual void SetDirty(bool pushParamToPlug = true);
  // As SetDirty, but the plug-in is told through SetParameterFromGUI2.
  virtual void SetDirty2(bool pushParamToPlug = true);
  // Keeps the control dirty for one more frame when a redraw was asked for. A shown control's picture is on the
  // screen from then on, and the area of a hidden one has been painted over.
  virtual void SetClean();
  virtual bool IsDirty();
  // True for a control that draws only through bitmap blits, which the surface clips to the area it repaints; a
  // control that fills or writes text may reach out of that area and is repainted whole.
  virtual bool DrawsClipped() const { return false; }
  virtual void OnGUIIdle();
  virtual void SetAuxParamValueFromPlug(int auxIdx, double value);

  // --- Values from the user ---
  void SetValueFromUserInput(double value);
  // The value prompt (popup menu or text entry) of the bound parameter, at the control or at r.
  void PromptUserInput();
  void PromptUserInput(IRECT* r);

  // --- Auxiliary parameters ---
  void AddAuxParam(int paramIdx);
  int AuxParamIdx(int paramIdx) const;
  AuxParam* GetAuxParam(int auxIdx);
  int NAuxParams() const { return static_cast<int>(mAuxParams.size()); }
  void SetAllAuxParamsFromGUI();

  // --- Accessors ---
  int ParamIdx() const { return mParamIdx; }
  IEffectBase* GetPlug() const { return mPlug; }
  // The bound parameter, or null.
  IParam* GetParam() const;
  IRECT* GetRECT() { return &mRECT; }
  IRECT* GetTargetRECT() { return &mTargetRECT; }
  void SetTargetArea(IRECT r) { mTargetRECT = r; }
  double GetValue() const { return mValue; }
  void SetValue(double value) { mValue = value; }
  double GetDefaultValue() const { return mDefaultValue; }
  void SetDefaultValue(double value) { mDefaultValue = value; }
  IText* GetText() { return &mText; }
  void SetText(const IText* text) {
    if (text) mText = *text;
  }
  int GetTextEntryLength() const { return mTextEntryLength; }
  void SetTextEntryLength(int len) { mTextEntryLength = len; }
  bool IsHidden() const { return mHide; }
  // Hidden since its picture was last on the screen: its area is to be painted with what lies beneath.
  bool IsVacated() const { return mVacated; }
  bool IsGrayed() const { return mGrayed; }
  bool GetIgnoreHidden() const { return mIgnoreHidden; }
  void SetIgnoreHidden(bool ignore) { mIgnoreHidden = ignore; }
  bool GetRedraw() const { return mRedraw; }
  void SetRedraw(bool redraw) { mRedraw = redraw; }
  bool GetMOWhenGrayed() const { return mMOWhenGrayed; }
  void SetMOWhenGrayed(bool allow) { mMOWhenGrayed = allow; }
  bool GetDblAsSingleClick() const { return mDblAsSingleClick; }
  void SetDblAsSingleClick(bool asClick) { mDblAsSingleClick = asClick; }
  bool GetPromptDisabled() const { return mDisablePrompt; }
  void DisablePrompt(bool disable) { mDisablePrompt = disable; }
  void Clamp(double lo, double hi) {
    mClampLo = lo;
    mClampHi = hi;
  }
  double GetClampLo() const { return mClampLo; }
  double GetClampHi() const { return mClampHi; }
  IChannelBlend* GetBlend() { return &mBlend; }
  // Text displays (ITextDisplay, not owned) that show the parameter's display value and name.
  void SetValDisplayControl(IControl* control) { mValDisplayControl = control; }
  void SetNameDisplayControl(IControl* control) { mNameDisplayControl = control; }
  IControl* GetValDisplayControl() const { return mValDisplayControl; }
  IControl* GetNameDisplayControl() const { return mNameDisplayControl; }

 protected:
  void setDirtyImpl(bool pushParamToPlug, bool fromHardware);
  void setValueImpl(double value, bool fromHardware);

  // Shown, hidden and greyed by the transfer jobs and the MIDI input as well as the main thread: atomic.
  std::atomic<bool> mHide{false};
  int mTextEntryLength = 16;
  bool mIgnoreHidden = false;
  IText mText;
  IEffectBase* mPlug;
  IRECT mRECT;
  IRECT mTargetRECT;
  int mParamIdx;
  std::vector<AuxParam> mAuxParams;
  // Written by the MIDI input thread and read by the redraw on the main thread: atomic, as the tree has no lock.
  std::atomic<double> mValue{0.0};
  std::atomic<double> mDefaultValue{-1.0};
  double mClampLo = 0.0, mClampHi = 1.0;
  std::atomic<bool> mDirty{true};
  std::atomic<bool> mGrayed{false};
  std::atomic<bool> mRedraw{false};
  std::atomic<bool> mOnScreen{false};  // shown when last made clean
  std::atomic<bool> mVacated{false};
  bool mDisablePrompt = true;
  bool mDblAsSingleClick = false;
  bool mMOWhenGrayed = false;
  IChannelBlend mBlend;
  IControl* mValDisplayControl = nullptr;
  IControl* mNameDisplayControl = nullptr;
};
