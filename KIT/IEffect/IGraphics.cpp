#include "KIT/IEffect/IGraphics.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "KIT/IEffect/ControlLayer.h"
#include "KIT/IEffect/IControl.h"
#include "KIT/IEffect/IControls.h"
#include "KIT/IEffect/IEffectBase.h"
#include "KIT/IEffect/IParam.h"
#include "KIT/IEffect/IPopupMenu.h"
#include "KIT/pix/pix.h"

IGraphics::IGraphics(IEffectBase* plug, int width, int height, int fps)
    : mPlug(plug), mWidth(width), mHeight(height), mFPS(fps > 0 ? fps : kDefaultFPS) {}

namespace {

// The surfaces whose calls the calling thread is inside, innermost last (deeper nesting is counted, not kept), each
// with whether the call makes the thread the editor's. Plain data: a host's thread may outlive the module, and nothing
// of it may run at the thread's end.
constexpr int kNestedCalls = 16;
struct InsideCall {
  const IGraphics* g;
  bool editors;
};
thread_local InsideCall t_insideCalls[kNestedCalls];
thread_local int t_callDepth = 0;

// The calling thread's calls into g that run: all of them, or those of the editor's thread only.
int ownCalls(const IGraphics* g, bool editorsOnly) {
  return static_cast<int>(std::count_if(t_insideCalls, t_insideCalls + std::min(t_callDepth, kNestedCalls),
                                        [&](const InsideCall& c) { return c.g == g && (c.editors || !editorsOnly); }));
}

}  // namespace

IGraphics::CallScope::CallScope(IGraphics* g, Kind kind) : g_(g) {
  if (!g_) return;
  if (kind == kEditorsThread) g_->mEditorThread = std::this_thread::get_id();
  if (t_callDepth < kNestedCalls) t_insideCalls[t_callDepth] = InsideCall{g_, kind == kEditorsThread};
  ++t_callDepth;
  std::lock_guard<std::mutex> lock(g_->mCallsLock);
  ++g_->mCalls;
}

IGraphics::CallScope::~CallScope() {
  if (!g_) return;
  --t_callDepth;
  std::lock_guard<std::mutex> lock(g_->mCallsLock);
  --g_->mCalls;
  g_->mCallsEnded.notify_all();
}

void IGraphics::EditorOpening() {
  mEditorThread = std::this_thread::get_id();
  mModalsEnding = false;
}

bool IGraphics::OnEditorThread() const {
  return mEditorThread.load() == std::this_thread::get_id() || ownCalls(this, true) > 0;
}

void IGraphics::EndModalsAndWait() {
  mModalsEnding = true;
  const int own = ownCalls(this, false);
  std::unique_lock<std::mutex> lock(mCallsLock);
  mCallsEnded.wait(lock, [&] { return mCalls <= own; });
}

IGraphics::~IGraphics() {
  delete mKeyCatcher;
  mKeyCatcher = nullptr;
  mMouseCapture = mMouseOver = nullptr;
  mControls.Empty(true);
  mLayers.Empty(true);
  delete mDrawBitmap;
  delete mTmpBitmap;
}

// ---- Base behaviour of the platform operations ----

bool IGraphics::MeasureIText(IText* text, const char* str, IRECT* r) {
  return DrawIText(text, str, r, true);
}

// A surface without a question of its own shows none: nobody answers, and a question nobody answered is `no`. (Its
// message boxes could not ask it: their default button, the one a key presses, says yes.)
bool IGraphics::AskQuestion(const char*, const char*, const char*, const char*) {
  return false;
}

void IGraphics::Resize(int w, int h) {
  mWidth = w;
  mHeight = h;
  ReleaseMouseCapture();
  delete mDrawBitmap;
  delete mTmpBitmap;
  mDrawBitmap = nullptr;
  mTmpBitmap = nullptr;
  PrepDraw();
  if (mPlug) mPlug->ResizeGraphics(w, h);
}

bool IGraphics::WindowIsOpen() {
  return GetWindow() != nullptr;
}

const char* IGraphics::GetGUIAPI() {
  return "";
}

void* IGraphics::OpenWindow(void*, void*, short, short) {
  return nullptr;
}

void IGraphics::AttachSubWindow(void*) {}

void IGraphics::RemoveSubWindow() {}

void IGraphics::HideMouseCursor() {}

void IGraphics::ShowMouseCursor() {}

// ---- Controls and layers ----

void IGraphics::PrepDraw() {
  delete mDrawBitmap;
  delete mTmpBitmap;
  mDrawBitmap = new PIX_SysBitmap(mWidth, mHeight);
  mTmpBitmap = new PIX_MemBitmap(0, 0, 4);
}

void IGraphics::ReleaseMouseCapture() {
  mMouseCapture = nullptr;
  mMouseX = mMouseY = -1;
}

void* IGraphics::GetBits() {
  return mDrawBitmap ? mDrawBitmap->getBits() : nullptr;
}

int IGraphics::AttachControl(IControl* control) {
  mControls.Add(control);
  return mControls.GetSize() - 1;
}

int IGraphics::AttachLayer(ControlLayer* layer) {
  mLayers.Add(layer);
  return mLayers.GetSize() - 1;
}

void IGraphics::AttachBackground(int id, const char* name, double scale) {
  IBitmap bg = LoadIBitmap(id, name, scale, 1, false);
  mControls.Insert(0, new IBitmapControl(mPlug, 0, 0, -1, &bg));
}

void IGraphics::AttachPanelBackground(const IColor* color) {
  mControls.Insert(0, new IPanelControl(mPlug, IRECT(0, 0, mWidth, mHeight), color));
}

void IGraphics::AttachKeyCatcher(IControl* control) {
  if (control != mKeyCatcher) delete mKeyCatcher;
  mKeyCatcher = control;
}

void IGraphics::HideControl(int paramIdx, bool hide) {
  for (int i = 0; i < mControls.GetSize(); ++i)
    if (mControls.Get(i)->ParamIdx() == paramIdx) mControls.Get(i)->Hide(hide);
}

void IGraphics::GrayOutControl(int paramIdx, bool gray) {
  for (int i = 0; i < mControls.GetSize(); ++i)
    if (mControls.Get(i)->ParamIdx() == paramIdx) mControls.Get(i)->GrayOut(gray);
}

void IGraphics::ClampControl(int paramIdx, double lo, double hi, bool normalized) {
  if (!normalized) {
    IParam* param = mPlug ? mPlug->GetParam(paramIdx) : nullptr;
    if (!param) return;
    lo = param->GetNormalized(lo);
    hi = param->GetNormalized(hi);
  }
  for (int i = 0; i < mControls.GetSize(); ++i)
    if (mControls.Get(i)->ParamIdx() == paramIdx) mControls.Get(i)->Clamp(lo, hi);
}

void IGraphics::SetParameterFromGUI(int paramIdx, double normalizedValue) {
  for (int i = 0; i < mControls.GetSize(); ++i)
    if (mControls.Get(i)->ParamIdx() == paramIdx) mControls.Get(i)->SetValueFromUserInput(normalizedValue);
}

void IGraphics::SetControlFromPlug(int controlIdx, double normalizedValue) {
  if (IControl* c = mControls.Get(controlIdx)) c->SetValueFromPlug(normalizedValue);
}

void IGraphics::SetAllControlsDirty() {
  for (int i = 0; i < mControls.GetSize(); ++i) mControls.Get(i)->SetDirty(false);
}

void IGraphics::OnGUIIdle() {
  for (int i = 0; i < mControls.GetSize(); ++i) mControls.Get(i)->OnGUIIdle();
  if (mPlug) mPlug->OnIdle();
}

void IGraphics::SetParameterFromPlug(int paramIdx, double value, bool normalized) {
  if (!normalized) {
    // A stray index would have no parameter to convert through; nothing can be moved then.
    IParam* param = mPlug ? mPlug->GetParam(paramIdx) : nullptr;
    if (!param) return;
    // The main thread writes parameters under the plug-in's lock (SetParameterFromGUI); so does this, whichever
    // thread calls it.
    KIT_MutexLock lock(mPlug->GetMutex());
    const double plain = value;
    value = param->GetNormalized(value);
    param->SetNormalized(value);
    // A double parameter is not rounded to a step, and the way through 0..1 and back can move it by a rounding
    // error: it keeps the plain value it was given (a recalled state is written back exactly).
    if (param->Type() == IParam::kTypeDouble && plain >= param->GetMin() && plain <= param->GetMax()) param->Set(plain);
  }
  for (int i = 0; i < mControls.GetSize(); ++i) {
    IControl* c = mControls.Get(i);
    if (c->ParamIdx() == paramIdx) c->SetValueFromPlug(value);
    const int aux = c->AuxParamIdx(paramIdx);
    if (aux >= 0) c->SetAuxParamValueFromPlug(aux, value);
  }
  for (int i = 0; i < mLayers.GetSize(); ++i) mLayers.Get(i)->SetParameterFromPlug(paramIdx, value, normalized);
}

void IGraphics::SetStrictDrawing(bool strict) {
  mStrict = strict;
  SetAllControlsDirty();
}

// ---- Redraw ----

bool IGraphics::IsDirty(IRECT* r) {
  // The background (index 0) is repainted with whatever else changes and never asks for a repaint itself.
  mDirtyParts.clear();
  return ControlLayer::unionDirty(mControls, 1, mLayers, r, &mDirtyParts);
}

// The dirty areas the last IsDirty found, merged where they meet, when r is their union (give or take the pixel a
// view's rounding adds); otherwise nothing, and r is painted whole.
void IGraphics::dirtyParts(const IRECT& r, std::vector<IRECT>* parts) {
  parts->swap(mDirtyParts);
  mDirtyParts.clear();
  for (bool merged = true; merged;) {
    merged = false;
    for (size_t i = 0; i < parts->size() && !merged; ++i)
      for (size_t j = i + 1; j < parts->size() && !merged; ++j)
        if ((*parts)[i].Meets((*parts)[j])) {
          (*parts)[i] = (*parts)[i].Union((*parts)[j]);
          parts->erase(parts->begin() + static_cast<long>(j));
          merged = true;
        }
  }
  IRECT u;
  for (const IRECT& p : *parts) u = u.Union(p);
  const auto near = [](int a, int b) { return std::llabs(static_cast<long long>(a) - b) <= 2; };
  const bool unionOfParts = !u.Empty() && near(r.L, u.L) && near(r.T, u.T) && near(r.R, u.R) && near(r.B, u.B);
  // A control hidden since the last redraw leaves its area to whatever lies under it, which the parts do not
  // cover: such a redraw paints the whole area.
  bool hiddenDirty = false;
  for (int i = 1; i < mControls.GetSize() && !hiddenDirty; ++i)
    hiddenDirty = mControls.Get(i)->IsHidden() && mControls.Get(i)->IControl::IsDirty();
  for (int i = 0; i < mLayers.GetSize() && !hiddenDirty; ++i) hiddenDirty = mLayers.Get(i)->hasHiddenDirty(false);
  if (!unionOfParts || parts->size() > 16 || hiddenDirty) {
    parts->clear();
    return;
  }
  for (IRECT& p : *parts) p = p.Intersect(r);
  growOverUnclipped(parts);
}

// Bitmaps are drawn clipped to the area painted; a control that fills or writes without a clip and reaches out of a
// part takes its whole rectangle into the part, so that what lies under and over it there is painted again too.
void IGraphics::growOverUnclipped(std::vector<IRECT>* parts) {
  std::vector<IControl*> shown;
  for (int i = 0; i < mControls.GetSize(); ++i)
    if (i == 0 || !mControls.Get(i)->IsHidden()) shown.push_back(mControls.Get(i));
  for (int i = 0; i < mLayers.GetSize(); ++i) mLayers.Get(i)->collectShown(&shown);
  for (bool grown = true; grown;) {
    grown = false;
    for (IRECT& p : *parts)
      for (IControl* c : shown) {
        const IRECT& cr = *c->GetRECT();
        if (!p.Meets(cr) || (cr.L >= p.L && cr.T >= p.T && cr.R <= p.R && cr.B <= p.B) || c->DrawsClipped()) continue;
        p = p.Union(cr);
        grown = true;
      }
    for (size_t i = 0; i < parts->size(); ++i)
      for (size_t j = i + 1; j < parts->size(); ++j)
        if ((*parts)[i].Meets((*parts)[j])) {
          (*parts)[i] = (*parts)[i].Union((*parts)[j]);
          parts->erase(parts->begin() + static_cast<long>(j));
          grown = true;
          break;
        }
  }
}

// What a redraw painted is on the screen: every control is clean but one that changed after the redraw was asked
// for and lies beyond the painted areas, which the next redraw paints whole.
void IGraphics::setCleanWithin(const std::vector<IRECT>& painted) {
  // An area that reaches an edge of the surface holds whatever lies beyond that edge too (nothing shows there).
  std::vector<IRECT> areas = painted;
  for (IRECT& a : areas) {
    if (a.L <= 0) a.L = INT_MIN;
    if (a.T <= 0) a.T = INT_MIN;
    if (a.R >= mWidth) a.R = INT_MAX;
    if (a.B >= mHeight) a.B = INT_MAX;
  }
  for (int i = 1; i < mControls.GetSize(); ++i)
    ControlLayer::cleanIfPainted(mControls.Get(i), !mControls.Get(i)->IsHidden(), areas);
  for (int i = 0; i < mLayers.GetSize(); ++i) mLayers.Get(i)->setCleanWithin(areas);
}

bool IGraphics::Draw(IRECT* r) {
  const int n = mControls.GetSize();
  if (n == 0 && mLayers.GetSize() == 0) return true;
  if (mStrict) {
    // What the redraw timer asks for is the union of the dirty controls: a knob and the display far apart span
    // most of the page. Each dirty area is painted on its own, and the rest of the union, unchanged, is left as
    // it is in the bitmap. Any other area (a first paint, an uncovered window) is painted whole.
    std::vector<IRECT> parts;
    dirtyParts(*r, &parts);
    if (parts.empty()) {
      // The area as a whole.
      parts.push_back(*r);
      growOverUnclipped(&parts);
    }
    for (IRECT& part : parts) {
      mDrawRECT = part;
      // With layers but no top-level control there is no background to paint under them.
      if (n > 0) mControls.Get(0)->Draw(this);
      for (int i = 1; i < n; ++i) {
        IControl* c = mControls.Get(i);
        if (!c->IsHidden() && part.Meets(*c->GetRECT())) c->Draw(this);
      }
      for (int i = 0; i < mLayers.GetSize(); ++i) mLayers.Get(i)->Draw(this, &part, false);
    }
    // Parts grown beyond r reach the bitmap, not the screen: only what lies within r was shown.
    for (IRECT& part : parts) part = part.Intersect(*r);
    setCleanWithin(parts);
    mDrawRECT = *r;
    DrawScreen(&mDrawRECT);
    return true;
  } else if (n > 0) {
    IControl* bg = mControls.Get(0);
    if (bg->IsDirty()) {
      mDrawRECT = *bg->GetRECT();
      for (int i = 0; i < n; ++i) {
        IControl* c = mControls.Get(i);
        if (i == 0 || !c->IsHidden()) c->Draw(this);
        c->SetClean();
      }
    } else {
      // Each dirty control is repainted with everything under and over it; what reaches the screen is the union
      // of the areas repainted.
      IRECT painted;
      for (int i = 1; i < n; ++i) {
        IControl* dirty = mControls.Get(i);
        if (!dirty->IsDirty()) continue;
        mDrawRECT = *dirty->GetRECT();
        painted = painted.Union(mDrawRECT);
        for (int j = 0; j < n; ++j) {
          IControl* c = mControls.Get(j);
          if (c->IsHidden()) continue;
          if (j == i || j == 0 || mDrawRECT.Meets(*c->GetRECT())) c->Draw(this);
        }
        dirty->SetClean();
      }
      mDrawRECT = painted.Empty() ? *r : painted;
    }
  } else {
    mDrawRECT = *r;
  }
  for (int i = 0; i < mLayers.GetSize(); ++i) mLayers.Get(i)->Draw(this, &mDrawRECT);
  DrawScreen(&mDrawRECT);
  return true;
}

// ---- Value prompt ----

void IGraphics::PromptUserInput(IControl* control, IParam* param, IRECT* r) {
  if (!control || !param || !r) return;
  char current[128] = {};
  const int type = param->Type();
  const int nTexts = param->GetNDisplayTexts();
  if ((type == IParam::kTypeBool || type == IParam::kTypeEnum) && nTexts > 0) {
    param->GetDisplayForHost(param->Value(), false, current, true);
    IPopupMenu menu;
    for (int i = 0; i < nTexts; ++i) {
      const char* text = param->GetDisplayTextAtIdx(i);
      if (!text) text = "";
      menu.AddItem(text, -1, std::strcmp(text, current) == 0 ? IPopupMenuItem::kChecked : IPopupMenuItem::kNoFlags);
    }
    if (IPopupMenu* chosen = CreateIPopupMenu(&menu, r)) {
      control->SetValueFromUserInput(param->GetNormalized(static_cast<double>(chosen->GetChosenItemIdx())));
    }
    return;
  }
  {
    // A text parameter's display text (the program name) is rewritten by other threads under the plug-in mutex:
    // the entry starts from a copy made under it.
    KIT_MutexLock lock(type == IParam::kTypeText && mPlug ? &mPlug->GetMutex() : nullptr);
    param->GetDisplayForHost(param->Value(), false, current, type == IParam::kTypeText);
  }
  CreateTextEntry(control, control->GetText(), r, current, param);
}

void IGraphics::SetFromStringAfterPrompt(IControl* control, IParam* param, const char* text) {
  if (!param || !control) return;
  if (!text) text = "";
  double value = 0.0;
  switch (param->Type()) {
    case IParam::kTypeBool:
    case IParam::kTypeEnum: {
      int mapped = 0;
      if (param->MapDisplayText(text, &mapped)) value = mapped;
      break;
    }
    case IParam::kTypeText: {
      // A name typed into a text parameter becomes its display text (under the plug-in mutex, as every writer and
      // the readers on other threads take it); the value flips so that the plug-in sees a change and sends the new
      // name.
      {
        KIT_MutexLock lock(mPlug ? &mPlug->GetMutex() : nullptr);
        param->SetDisplayText(0, text);
      }
      const double t = control->GetValue() == 0.0 ? 1.0 : 0.0;
      param->Set(std::max(param->GetMin(), std::min(param->GetMax(), t)));
      control->SetValueFromUserInput(t);
      value = 0.0;
      break;
    }
    default:
      value = std::atof(text);
      if (param->DisplayNegated()) value = -value;
      break;
  }
  control->SetValueFromUserInput(param->GetNormalized(value));
}

// ---- Input dispatch ----

IControl* IGraphics::hitSearch(int x, int y) {
  for (int i = mLayers.GetSize() - 1; i >= 0; --i)
    if (IControl* c = mLayers.Get(i)->isHit(x, y)) return c;
  for (int i = mControls.GetSize() - 1; i >= 0; --i) {
    IControl* c = mControls.Get(i);
    if (!c->IsHidden() && !c->IsGrayed() && c->IsHit(x, y)) return c;
  }
  return nullptr;
}

void IGraphics::OnMouseDown(int x, int y, IMouseMod* mod) {
  ReleaseMouseCapture();
  IControl* c = hitSearch(x, y);
  if (!c) return;
  mMouseCapture = c;
  mMouseX = x;
  mMouseY = y;
  c->OnMouseDown(x, y, mod);
  const int paramIdx = c->ParamIdx();
  if (paramIdx >= 0 && mPlug) mPlug->BeginInformHostOfParamChange(paramIdx);
}

void IGraphics::OnMouseUp(int x, int y, IMouseMod* mod) {
  IControl* c = mMouseCapture ? mMouseCapture : hitSearch(x, y);
  ReleaseMouseCapture();
  if (!c) return;
  c->OnMouseUp(x, y, mod);
  const int paramIdx = c->ParamIdx();
  if (paramIdx >= 0 && mPlug) mPlug->EndInformHostOfParamChange(paramIdx);
}

void IGraphics::OnMouseDrag(int x, int y, IMouseMod* mod) {
  IControl* c = mMouseCapture;
  if (!c) return;
  // A drag from one end of the int range to the other moves by the most an int holds.
  const int dX = platform::satInt(static_cast<long long>(x) - mMouseX);
  const int dY = platform::satInt(static_cast<long long>(y) - mMouseY);
  if (dX == 0 && dY == 0) return;
  mMouseX = x;
  mMouseY = y;
  c->OnMouseDrag(x, y, dX, dY, mod);
}

bool IGraphics::OnMouseDblClick(int x, int y, IMouseMod* mod) {
  ReleaseMouseCapture();
  IControl* c = hitSearch(x, y);
  if (!c) return false;
  if (!c->GetDblAsSingleClick()) {
    c->OnMouseDblClick(x, y, mod);
    return false;
  }
  mMouseCapture = c;
  mMouseX = x;
  mMouseY = y;
  c->OnMouseDown(x, y, mod);
  return true;
}

void IGraphics::OnMouseWheel(int x, int y, IMouseMod* mod, int d) {
  IControl* c = mMouseCapture ? mMouseCapture : hitSearch(x, y);
  if (c) c->OnMouseWheel(x, y, mod, d);
}

bool IGraphics::OnKeyDown(int x, int y, int key) {
  IControl* c = mMouseCapture;
  if (!c) c = hitSearch(x, y);
  if (!c) c = mKeyCatcher;
  return c ? c->OnKeyDown(x, y, key) : false;
}

bool IGraphics::OnMouseOver(int x, int y, IMouseMod* mod) {
  if (!mHandleMouseOver) return false;
  IControl* c = GetMouseControlIdx(x, y, true);
  if (!c) return true;
  mMouseX = x;
  mMouseY = y;
  c->OnMouseOver(x, y, mod);
  if (mMouseOver && mMouseOver != c) mMouseOver->OnMouseOut();
  mMouseOver = c;
  return true;
}

void IGraphics::OnMouseOut() {
  for (int i = 0; i < mControls.GetSize(); ++i) mControls.Get(i)->OnMouseOut();
  mMouseOver = nullptr;
}

IControl* IGraphics::GetMouseControlIdx(int x, int y, bool mouseOver) {
  if (mMouseCapture) return mMouseCapture;
  for (int i = mLayers.GetSize() - 1; i >= 0; --i)
    if (IControl* c = mLayers.Get(i)->isHit(x, y)) return c;
  for (int i = mControls.GetSize() - 1; i >= 0; --i) {
    IControl* c = mControls.Get(i);
    if (c->IsHidden()) continue;
    if (c->IsGrayed() && !(mouseOver && c->GetMOWhenGrayed())) continue;
    if (c->IsHit(x, y)) return c;
  }
  return nullptr;
}

int IGraphics::GetParamIdxForPTAutomation(int x, int y) {
  IControl* c = mMouseCapture ? mMouseCapture : hitSearch(x, y);
  mLastClickedParam = c ? c->ParamIdx() : -1;
  return mLastClickedParam;
}

int IGraphics::GetLastClickedParamForPTAutomation() {
  const int p = mLastClickedParam;
  mLastClickedParam = -1;
  return p;
}
