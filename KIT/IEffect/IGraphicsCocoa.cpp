#include "KIT/IEffect/IGraphicsCocoa.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "KIT/IEffect/IControl.h"
#include "KIT/IEffect/IGraphicsMac.h"
#include "KIT/IEffect/IParam.h"
#include "KIT/IEffect/IPopupMenu.h"
#include "platform/cocoa/cfstring.h"
#include "platform/cocoa/cursor.h"

namespace {

// Decodes UTF-8 into code points; malformed bytes count as one character each.
std::u32string codePoints(const std::string& s) {
  std::u32string out;
  for (size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    int n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
    if (i + n > s.size()) n = 1;
    char32_t cp = n == 1 ? c : n == 2 ? (c & 0x1F) : n == 3 ? (c & 0x0F) : (c & 0x07);
    for (int k = 1; k < n; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    out += cp;
    i += n;
  }
  return out;
}

// A call of the platform into the surface, on the editor's thread, with the surface as the call found it. Once the
// editor is closing (or closed) it does nothing: a close waits for the calls that run, and none may begin after it.
class EditorCall {
 public:
  explicit EditorCall(IGraphicsMac* g) : g_(g), scope_(g) {}
  bool ended() const { return !g_ || g_->ModalsEnding(); }
  IGraphicsMac* operator->() const { return g_; }

 private:
  IGraphicsMac* g_;
  IGraphics::CallScope scope_;
};

// A surface rectangle from a view rectangle (y up), as the view's draw callback gets it.
IRECT toSurfaceRect(const cocoa::Rect& r, int height) {
  const double x = std::trunc(r.x), y = std::trunc(r.y), w = std::trunc(r.w), h = std::trunc(r.h);
  return IRECT(platform::intCoord(x), platform::intCoord(height - (y + h)), platform::intCoord(x + w),
               platform::intCoord(height - y));
}

}  // namespace

// ---------------------------------------------------------------------------------------------------------------
// Character sets and the formatter

std::u32string CharacterSetForParamType(int type) {
  switch (type) {
    case 1:
    case 2:
    case 3:
      return U"0123456789-+";
    case 4:
      return U"0123456789.-+";
    case 5: {
      // Names: the letters, digits and signs the synthesizer shows, and the accented letters of Latin-1, which the
      // name keeps as their plain letters (and says so) rather than losing them as they are typed.
      std::u32string set = U"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ !\"#$%&/'+-*()[],.0123456789";
      for (char32_t c = 0xC0; c <= 0xFF; ++c) set += c;
      return set;
    }
    default:
      return U"";
  }
}

cocoa::String* ToNSString(const char* utf8) {
  cocoa::String* s = cocoa::String::fromUTF8(utf8);
  if (s) s->autorelease();
  return s;
}

void CocoaFormatter_vVexmir_vst::setAcceptableCharacterSet(const std::u32string* set) {
  hasSet = set != nullptr;
  filterCharacterSet = set ? *set : std::u32string();
}

bool CocoaFormatter_vVexmir_vst::isPartialStringValid(const std::string& partial) {
  const std::u32string chars = codePoints(partial);
  if (hasSet) {
    for (char32_t c : chars)
      if (filterCharacterSet.find(c) == std::u32string::npos) return false;
  }
  if (maxLength && static_cast<int>(chars.size()) > maxLength) return false;
  if (maxValue && std::atoi(partial.c_str()) > maxValue) return false;
  return true;
}

cocoa::String* CocoaFormatter_vVexmir_vst::stringForObjectValue(cocoa::Object* value) {
  return value ? value->as<cocoa::String>() : nullptr;
}

bool CocoaFormatter_vVexmir_vst::getObjectValue(cocoa::Object** value, const std::string& text, std::string*) {
  if (value) *value = new cocoa::String(text);
  return true;
}

// ---------------------------------------------------------------------------------------------------------------
// Menus

IGraphicsNSMenu_vVexmir_vst::IGraphicsNSMenu_vVexmir_vst(IPopupMenu* menu, cocoa::View* receiver)
    : Menu(""), mIPopupMenu(nullptr) {
  autoenablesItems = false;
  const int n = menu ? menu->GetNItems() : 0;
  for (int i = 0; i < n; ++i) {
    IPopupMenuItem* item = menu->GetItem(i);
    const std::string title = menu->GetNumberedItemText(i);
    cocoa::MenuItem* mi = nullptr;
    if (item->GetSubmenu()) {
      mi = new cocoa::MenuItem(title, false);
      auto* sub = new IGraphicsNSMenu_vVexmir_vst(item->GetSubmenu(), receiver);
      mi->setSubmenu(sub);
      sub->release();
    } else if (item->GetFlags() & IPopupMenuItem::kSeparator) {
      mi = cocoa::MenuItem::separator();
    } else {
      mi = new cocoa::MenuItem(title, true);
      if (item->GetFlags() & IPopupMenuItem::kTitle) mi->indentationLevel = 1;
      mi->state = (item->GetFlags() & IPopupMenuItem::kChecked) ? 1 : 0;
      mi->enabled = !(item->GetFlags() & IPopupMenuItem::kDisabled);
    }
    addItem(mi);
    mi->release();
  }
  mIPopupMenu = menu;
}

IGraphicsMenuRcvr_vVexmir_vst::~IGraphicsMenuRcvr_vVexmir_vst() {
  cocoa::releaseObject(nsMenuItem);
}

void IGraphicsMenuRcvr_vVexmir_vst::menuItemChosen(cocoa::MenuItem* item) {
  if (item) item->retain();
  cocoa::releaseObject(nsMenuItem);
  nsMenuItem = item;
}

// ---------------------------------------------------------------------------------------------------------------
// The view

IGraphicsCocoa_vVexmir_vst::IGraphicsCocoa_vVexmir_vst() = default;

IGraphicsCocoa_vVexmir_vst::IGraphicsCocoa_vVexmir_vst(IGraphicsMac* graphics)
    : View(cocoa::Rect{0, 0, static_cast<double>(graphics ? graphics->Width() : 0),
                       static_cast<double>(graphics ? graphics->Height() : 0)}),
      mGraphics(graphics) {
  if (!graphics) return;
  const double interval = 1.0 / (graphics->FPS() > 0 ? graphics->FPS() : IGraphics::kDefaultFPS);
  // The timer holds the view (its target) until killTimer invalidates it.
  mTimer = new cocoa::Timer(
      interval, true,
      [](cocoa::Timer* t) {
        if (auto* v = t->target() ? t->target()->as<IGraphicsCocoa_vVexmir_vst>() : nullptr) v->onTimer(t);
      },
      this);
  cocoa::RunLoop::current()->addTimer(mTimer, cocoa::kCommonRunLoopModes);
}

IGraphicsCocoa_vVexmir_vst::~IGraphicsCocoa_vVexmir_vst() {
  if (mTextFieldView) {
    mTextFieldView->setDelegate(nullptr);
    mTextFieldView->release();
  }
  if (mTimer) {
    mTimer->invalidate();
    mTimer->release();
  }
}

void IGraphicsCocoa_vVexmir_vst::viewDidMoveToWindow() {
  if (cocoa::Window* w = window()) {
    w->makeFirstResponder(this);
    w->setAcceptsMouseMovedEvents(true);
  }
}

void IGraphicsCocoa_vVexmir_vst::drawRect(cocoa::Rect rect) {
  const EditorCall g(mGraphics);
  if (g.ended()) return;
  IRECT r = toSurfaceRect(rect, g->Height());
  g->Draw(&r);
}

// The view's display draws the fields over it too (Rename's): one call of the editor's thread, which a close from
// another thread waits for before it ends a field, and none once the close began.
void IGraphicsCocoa_vVexmir_vst::displayTree(const std::function<void()>& drawAll) {
  const EditorCall g(mGraphics);
  if (!g.ended()) drawAll();
}

void IGraphicsCocoa_vVexmir_vst::onTimer(cocoa::Timer* timer) {
  const EditorCall g(mGraphics);
  if (g.ended()) return;
  if (timer != mTimer) return;
  g->OnGUIIdle();
  IRECT r;
  if (g->IsDirty(&r)) {
    double x, y, w, h;
    g->ToViewRect(&r, &x, &y, &w, &h);
    setNeedsDisplayInRect(cocoa::Rect{x, y, w, h});
  }
}

bool IGraphicsCocoa_vVexmir_vst::getMouseXY(cocoa::Event* e, int* x, int* y) {
  if (!mGraphics || !e) return false;
  const cocoa::Point p = convertFromWindow(e->locationInWindow);
  *x = platform::intCoord(std::trunc(p.x) - 2);
  *y = platform::intCoord(mGraphics.load()->Height() - std::trunc(p.y) - 3);
  mPrevX = *x;
  mPrevY = *y;
  return true;
}

IMouseMod IGraphicsCocoa_vVexmir_vst::mouseModFor(cocoa::Event* e, bool rightButton) {
  const uint32_t f = e ? e->modifierFlags : 0;
  IMouseMod m;
  m.S = (f & cocoa::kShiftKeyMask) != 0;
  m.C = (f & cocoa::kControlKeyMask) != 0;
  m.A = (f & cocoa::kAlternateKeyMask) != 0;
  if (rightButton) {
    m.L = false;
    m.R = true;
  } else {
    m.L = true;
    m.R = (f & cocoa::kCommandKeyMask) != 0;
  }
  return m;
}

void IGraphicsCocoa_vVexmir_vst::mouseDown(cocoa::Event* e) {
  const EditorCall g(mGraphics);
  if (g.ended()) return;
  int x, y;
  if (!getMouseXY(e, &x, &y)) return;
  IMouseMod mod = mouseModFor(e, false);
  if (e->clickCount > 1) {
    g->OnMouseDblClick(x, y, &mod);
  } else {
    g->OnMouseDown(x, y, &mod);
  }
}

void IGraphicsCocoa_vVexmir_vst::mouseUp(cocoa::Event* e) {
  const EditorCall g(mGraphics);
  if (g.ended()) return;
  int x, y;
  if (!getMouseXY(e, &x, &y)) return;
  IMouseMod mod = mouseModFor(e, false);
  g->OnMouseUp(x, y, &mod);
}

void IGraphicsCocoa_vVexmir_vst::mouseDragged(cocoa::Event* e) {
  const EditorCall g(mGraphics);
  if (g.ended()) return;
  int x, y;
  if (!getMouseXY(e, &x, &y)) return;
  IMouseMod mod = mouseModFor(e, false);
  if (!mTextFieldView) g->OnMouseDrag(x, y, &mod);
}

void IGraphicsCocoa_vVexmir_vst::rightMouseDown(cocoa::Event* e) {
  const EditorCall g(mGraphics);
  if (g.ended()) return;
  int x, y;
  if (!getMouseXY(e, &x, &y)) return;
  IMouseMod mod = mouseModFor(e, true);
  g->OnMouseDown(x, y, &mod);
}

void IGraphicsCocoa_vVexmir_vst::rightMouseUp(cocoa::Event* e) {
  const EditorCall g(mGraphics);
  if (g.ended()) return;
  int x, y;
  if (!getMouseXY(e, &x, &y)) return;
  IMouseMod mod = mouseModFor(e, true);
  g->OnMouseUp(x, y, &mod);
}

void IGraphicsCocoa_vVexmir_vst::rightMouseDragged(cocoa::Event* e) {
  const EditorCall g(mGraphics);
  if (g.ended()) return;
  int x, y;
  if (!getMouseXY(e, &x, &y)) return;
  IMouseMod mod = mouseModFor(e, true);
  if (!mTextFieldView) g->OnMouseDrag(x, y, &mod);
}

void IGraphicsCocoa_vVexmir_vst::mouseMoved(cocoa::Event* e) {
  const EditorCall g(mGraphics);
  if (g.ended()) return;
  int x, y;
  if (!getMouseXY(e, &x, &y)) return;
  IMouseMod mod = mouseModFor(e, false);
  g->OnMouseOver(x, y, &mod);
}

void IGraphicsCocoa_vVexmir_vst::scrollWheel(cocoa::Event* e) {
  const EditorCall g(mGraphics);
  if (g.ended()) return;
  if (mTextFieldView) endUserInput();
  const int d = platform::intCoord(e->deltaY);
  int x, y;
  if (!getMouseXY(e, &x, &y)) return;
  IMouseMod mod = mouseModFor(e, false);
  g->OnMouseWheel(x, y, &mod, d);
}

int IGraphicsCocoa_vVexmir_vst::keyCodeFor(cocoa::Event* e) {
  if (!e || e->charactersIgnoringModifiers.size() != 1) return -2;
  return IGraphicsMac::KeyFromMacKey(e->keyCode, e->charactersIgnoringModifiers[0]);
}

void IGraphicsCocoa_vVexmir_vst::keyDown(cocoa::Event* e) {
  const EditorCall g(mGraphics);
  if (g.ended()) return;
  const int key = keyCodeFor(e);
  if (key == -2) return;  // no character or several: dropped
  if (key < 0 || !g->OnKeyDown(mPrevX, mPrevY, key)) passOn(e);
}

void IGraphicsCocoa_vVexmir_vst::killTimer() {
  if (!mTimer) return;
  mTimer->invalidate();
  mTimer->release();
  mTimer = nullptr;
}

void IGraphicsCocoa_vVexmir_vst::removeFromSuperview() {
  // A text typed and not confirmed is taken as a click elsewhere takes it, before the surface goes.
  takeUserInput();
  if (mGraphics) {
    IGraphicsMac* graphics = mGraphics;
    mGraphics = nullptr;
    graphics->CloseWindow();
  }
}

IPopupMenu* IGraphicsCocoa_vVexmir_vst::createIPopupMenu(IPopupMenu* menu, cocoa::Rect r) {
  if (!menu) return nullptr;
  cocoa::AutoreleasePool pool;
  auto* receiver = new IGraphicsMenuRcvr_vVexmir_vst(r);
  receiver->autorelease();
  auto* nsMenu = new IGraphicsNSMenu_vVexmir_vst(menu, receiver);
  nsMenu->autorelease();
  // In the window's base coordinates, divided by its screen's backing scale factor.
  cocoa::Point at = convertToWindow(cocoa::Point{r.x, r.y - 4});
  const double scale = window() ? window()->backingScaleFactor() : 1.0;
  if (scale > 0) at = cocoa::Point{at.x / scale, at.y / scale};
  cocoa::Event* ev = cocoa::Event::mouseEvent(cocoa::kApplicationDefined, at, 15, window());
  ev->autorelease();
  cocoa::Menu::popUpContextMenu(nsMenu, ev, receiver);
  cocoa::MenuItem* chosen = receiver->MenuItem();
  auto* holder = chosen ? dynamic_cast<IGraphicsNSMenu_vVexmir_vst*>(chosen->menu()) : nullptr;
  IPopupMenu* result = holder ? holder->AssociatedIPopupMenu() : nullptr;
  const int idx = holder ? holder->indexOfItem(chosen) : -1;
  if (result && idx >= 0) {
    result->SetChosenItemIdx(idx);
    return result;
  }
  return nullptr;
}

void IGraphicsCocoa_vVexmir_vst::createTextEntry(IControl* control, IParam* param, const IText* text, const char* str,
                                                 cocoa::Rect r) {
  if (!control || mTextFieldView) return;
  mTextFieldView = new cocoa::TextField(r);
  mTextFieldView->fontName = "Monaco";
  mTextFieldView->fontSize = text ? static_cast<double>(static_cast<int>(text->mSize * 0.9)) : 0.0;
  if (text) {
    switch (text->mAlign) {
      case 0:
        mTextFieldView->alignment = cocoa::kTextAlignmentLeft;
        break;
      case 1:
        mTextFieldView->alignment = cocoa::kTextAlignmentCenter;
        break;
      case 2:
        mTextFieldView->alignment = cocoa::kTextAlignmentRight;
        break;
      default:
        break;
    }
  }
  if (param) {
    const std::u32string set = CharacterSetForParamType(param->Type());
    auto* formatter = new CocoaFormatter_vVexmir_vst;
    formatter->setAcceptableCharacterSet(&set);
    formatter->setMaximumLength(control->GetTextEntryLength());
    mTextFieldView->setFormatter(formatter);
    formatter->release();
  }
  // The field shows its text and the caret as it is typed.
  mTextFieldView->drawsText = true;
  mTextFieldView->truncatesTail = true;
  mTextFieldView->allowsEditingTextAttributes = false;
  mTextFieldView->focusRing = false;
  mTextFieldView->bordered = false;
  mTextFieldView->bezeled = false;
  if (text) {
    const IColor& fg = text->mTextEntryFGColor;
    const IColor& bg = text->mTextEntryBGColor;
    mTextFieldView->textColor = cocoa::RGBAColor{fg.R / 255.0, fg.G / 255.0, fg.B / 255.0, fg.A / 255.0};
    mTextFieldView->backgroundColor = cocoa::RGBAColor{bg.R / 255.0, bg.G / 255.0, bg.B / 255.0, bg.A / 255.0};
  }
  mTextFieldView->setStringValue(str ? str : "");
  mTextFieldView->setDelegate(this);
  addSubview(mTextFieldView);
  if (cocoa::Window* w = window()) {
    w->makeKeyAndOrderFront();
    w->makeFirstResponder(mTextFieldView);
  }
  mEdControl = control;
  mEdParam = param;
}

void IGraphicsCocoa_vVexmir_vst::controlTextDidEndEditing(cocoa::TextField* field) {
  if (!field || field != mTextFieldView) return;
  const EditorCall call(mGraphics);
  retain();
  const std::string text = field->stringValue();
  if (mGraphics && mEdParam) {
    mGraphics.load()->SetFromStringAfterPrompt(mEdControl, mEdParam, text.c_str());
  } else if (mEdControl) {
    mEdControl->TextFromTextEntry(text.c_str());
  }
  endUserInput();
  setNeedsDisplay(true);
  release();
}

void IGraphicsCocoa_vVexmir_vst::endUserInputOfHiddenControl() {
  if (mEdControl && mEdControl->IsHidden()) takeUserInput();
}

void IGraphicsCocoa_vVexmir_vst::takeUserInput() {
  if (!mTextFieldView) return;
  if (cocoa::Window* w = window()) w->makeFirstResponder(this);
  // A field that was not being edited has told no one: it goes all the same.
  if (mTextFieldView) endUserInput();
}

void IGraphicsCocoa_vVexmir_vst::endUserInput() {
  cocoa::TextField* field = mTextFieldView;
  if (field) {
    mTextFieldView = nullptr;
    field->setDelegate(nullptr);
    field->detach();
    if (cocoa::Window* w = window()) w->makeFirstResponder(this);
    field->release();
  }
  cocoa::Cursor::arrow()->set();
  mEdControl = nullptr;
  mEdParam = nullptr;
}
