// The standard controls: panels, bitmaps, switches, radio buttons, faders, knobs, text displays and captions, URL
// and file-selector buttons. Values, dirtiness and the hand-over to the plug-in are the base class's; these add
// only how they draw and how the mouse moves them.
#pragma once

#include <mutex>
#include <string>
#include <typeinfo>
#include <vector>

#include "KIT/IEffect/IControl.h"
#include "KIT/kitstring.h"

class IPanelControl : public IControl {
 public:
  IPanelControl(IEffectBase* plug, IRECT rect, const IColor* color);
  bool Draw(IGraphics* graphics) override;

 protected:
  IColor mColor;
};

// Draws the frame of its bitmap that the value selects.
class IBitmapControl : public IControl {
 public:
  IBitmapControl(IEffectBase* plug, int x, int y, int paramIdx, IBitmap* bitmap, IChannelBlend blend = IChannelBlend());
  bool Draw(IGraphics* graphics) override;
  // The plain bitmap only: derived controls may draw more.
  bool DrawsClipped() const override { return typeid(*this) == typeid(IBitmapControl); }
  IBitmap* GetIBitmap() { return &mBitmap; }

 protected:
  IBitmap mBitmap;
};

// Frames 1..N for a value of 0..1 (1 for bitmaps of fewer than two frames).
int FrameFromValue(int nFrames, double value);

// Each press steps to the next frame and wraps to the first after the last.
class ISwitchControl : public IBitmapControl {
 public:
  using IBitmapControl::IBitmapControl;
  void OnMouseDown(int x, int y, IMouseMod* mod) override;
  void OnMouseDblClick(int x, int y, IMouseMod* mod) override;
};

// A momentary button: 1 while pressed (for two frames), back to 0 on release.
class IContactControl : public ISwitchControl {
 public:
  using ISwitchControl::ISwitchControl;
  void OnMouseUp(int x, int y, IMouseMod* mod) override;
};

class ISwitchPopUpControl : public ISwitchControl {
 public:
  using ISwitchControl::ISwitchControl;
  void OnMouseDown(int x, int y, IMouseMod* mod) override;
};

// Below 0.5 it draws nothing and is hit only inside its target area; above, it covers its whole rectangle.
class IBitmapOverlayControl : public ISwitchControl {
 public:
  IBitmapOverlayControl(IEffectBase* plug, int x, int y, int paramIdx, IBitmap* bitmap, IRECT targetArea);
  bool Draw(IGraphics* graphics) override;

 protected:
  IRECT mTargetArea;
};

class IInvisibleSwitchControl : public IControl {
 public:
  IInvisibleSwitchControl(IEffectBase* plug, IRECT rect, int paramIdx);
  void OnMouseDown(int x, int y, IMouseMod* mod) override;
  bool Draw(IGraphics* graphics) override;
};

// nButtons copies of a two-frame (off, on) bitmap spread evenly over the rectangle.
class IRadioButtonsControl : public IControl {
 public:
  IRadioButtonsControl(IEffectBase* plug, IRECT rect, int paramIdx, int nButtons, IBitmap* bitmap,
                       EDirection direction = kVertical, bool reverse = false);
  void OnMouseDown(int x, int y, IMouseMod* mod) override;
  bool Draw(IGraphics* graphics) override;
  const std::vector<IRECT>& GetButtonRECTs() const { return mRECTs; }

 protected:
  std::vector<IRECT> mRECTs;
  IBitmap mBitmap;
};

// A handle bitmap sliding along a track of len pixels; value 1 puts a vertical handle at the top.
class IFaderControl : public IControl {
 public:
  IFaderControl(IEffectBase* plug, int x, int y, int len, int paramIdx, IBitmap* handle,
                EDirection direction = kVertical, bool onlyHandle = false);
  void OnMouseDown(int x, int y, IMouseMod* mod) override;
  void OnMouseDrag(int x, int y, int dX, int dY, IMouseMod* mod) override;
  bool Draw(IGraphics* graphics) override;
  bool IsHit(int x, int y) override;

  // The handle's rectangle for a value (a negative value means the current one).
  IRECT GetHandleRECT(double value = -1.0) const;
  // The handle's centre follows the pointer.
  void SnapToMouse(int x, int y);
  int GetLength() const { return mLen; }
  int GetHandleHeadroom() const { return mHandleHeadroom; }

 protected:
  int mLen;
  int mHandleHeadroom;
  IBitmap mHandleBitmap;
  EDirection mDirection;
  bool mOnlyHandle;
};

// Dragging along the direction changes the value; moving by the knob's height changes it by 1 / gearing, ten
// times less with Shift or Control.
class IKnobControl : public IControl {
 public:
  IKnobControl(IEffectBase* plug, IRECT rect, int paramIdx, EDirection direction = kVertical, double gearing = 4.0);
  void OnMouseDrag(int x, int y, int dX, int dY, IMouseMod* mod) override;
  void SetGearing(double gearing) { mGearing = gearing; }
  double GetGearing() const { return mGearing; }

 protected:
  EDirection mDirection;
  double mGearing;
};

// A line from the inner to the outer radius at the value's angle (radians, 0 up, clockwise).
class IKnobLineControl : public IKnobControl {
 public:
  IKnobLineControl(IEffectBase* plug, IRECT rect, int paramIdx, const IColor* color, double innerRadius = 0.0,
                   double outerRadius = 0.0, double minAngle = -0.75 * 3.14159265358979323846,
                   double maxAngle = 0.75 * 3.14159265358979323846, EDirection direction = kVertical,
                   double gearing = 4.0);
  bool Draw(IGraphics* graphics) override;

 protected:
  IColor mColor;
  float mMinAngle, mMaxAngle, mInnerRadius, mOuterRadius;
};

// The bitmap turned about the knob's centre to the value's angle (radians).
class IKnobRotaterControl : public IKnobControl {
 public:
  IKnobRotaterControl(IEffectBase* plug, int x, int y, int paramIdx, IBitmap* bitmap,
                      double minAngle = -0.75 * 3.14159265358979323846, double maxAngle = 0.75 * 3.14159265358979323846,
                      int yOffsetZeroDeg = 0, EDirection direction = kVertical, double gearing = 4.0);
  bool Draw(IGraphics* graphics) override;

 protected:
  IBitmap mBitmap;
  double mMinAngle, mMaxAngle;
  int mYOffset;
};

// One frame of a film strip per value step.
class IKnobMultiControl : public IKnobControl {
 public:
  IKnobMultiControl(IEffectBase* plug, int x, int y, int paramIdx, IBitmap* bitmap, EDirection direction = kVertical,
                    double gearing = 4.0);
  bool Draw(IGraphics* graphics) override;
  bool DrawsClipped() const override { return true; }

 protected:
  IBitmap mBitmap;
};

// A fixed base with a mask and a top layer turned to the value's angle (degrees).
class IKnobRotatingMaskControl : public IKnobControl {
 public:
  IKnobRotatingMaskControl(IEffectBase* plug, int x, int y, int paramIdx, IBitmap* base, IBitmap* mask, IBitmap* top,
                           double minAngle = -135.0, double maxAngle = 135.0, EDirection direction = kVertical,
                           double gearing = 4.0);
  bool Draw(IGraphics* graphics) override;

 protected:
  IBitmap mBase, mMask, mTop;
  double mMinAngle, mMaxAngle;
};

// Text in the control's text style. SetTextFromPlug may come from any thread; the text is under a lock of its own.
class ITextControl : public IControl, public ITextDisplay {
 public:
  ITextControl(IEffectBase* plug, IRECT rect, IText* text, const char* str = "");
  bool Draw(IGraphics* graphics) override;

  // Dirties the control only when the text differs.
  void SetTextFromPlug(const char* str) override;
  void ClearTextFromPlug() { SetTextFromPlug(""); }
  // A copy of the current text.
  std::string GetTextForPlug() const override;

 protected:
  void setString(const char* str);

  mutable std::mutex mStrLock;
  std::string mStr;
};

// Shows the bound parameter's display text (and unit label); a press opens the value prompt.
class ICaptionControl : public ITextControl {
 public:
  ICaptionControl(IEffectBase* plug, IRECT rect, int paramIdx, IText* text, bool showParamLabel = true);
  void OnMouseDown(int x, int y, IMouseMod* mod) override;
  void OnMouseDblClick(int x, int y, IMouseMod* mod) override;
  bool Draw(IGraphics* graphics) override;

 protected:
  bool mShowParamLabel;
};

// Opens its URL (or the backup URL when that fails) on a press; draws nothing.
class IURLControl : public IControl {
 public:
  static constexpr int kURLLen = 256;

  IURLControl(IEffectBase* plug, IRECT rect, const char* url, const char* backupURL = nullptr,
              const char* errMsgTitle = nullptr);
  void OnMouseDown(int x, int y, IMouseMod* mod) override;
  bool Draw(IGraphics* graphics) override;

 protected:
  char mURL[kURLLen] = {};
  char mBackupURL[kURLLen] = {};
  char mErrMsg[kURLLen] = {};
};

// A press runs the surface's file prompt; the chosen file is kept for the plug-in.
class IFileSelectorControl : public IControl {
 public:
  enum EFileSelectorState { kFSNone = 0, kFSSelecting = 1, kFSDone = 2 };

  IFileSelectorControl(IEffectBase* plug, IRECT rect, int paramIdx, IBitmap* bitmap, EFileAction action,
                       const char* dir = "", const char* extensions = "");
  void OnMouseDown(int x, int y, IMouseMod* mod) override;
  bool Draw(IGraphics* graphics) override;
  // Once more dirty after a prompt finished.
  bool IsDirty() override;

  void GetLastSelectedFileForPlug(KIT_String* out) const;
  void SetLastSelectedFileFromPlug(const char* file);
  void SetDraw(bool draw) { mDraw = draw; }
  int GetState() const { return mState; }

 protected:
  bool mDraw = true;
  IBitmap mBitmap;
  KIT_String mFile, mDir, mExtensions;
  int mFileAction;
  int mState = kFSNone;
};
