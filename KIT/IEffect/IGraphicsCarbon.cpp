#include "KIT/IEffect/IGraphicsCarbon.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "KIT/IEffect/IControl.h"
#include "KIT/IEffect/IGraphicsMac.h"
#include "KIT/IEffect/IParam.h"
#include "KIT/IEffect/IPopupMenu.h"
#include "KIT/kitstring.h"

using namespace carbon;

namespace {

const EventTypeSpec kControlEvents[] = {{kEventClassControl, kEventControlDraw}};
const EventTypeSpec kWindowEvents[] = {
    {kEventClassMouse, kEventMouseDown},          {kEventClassMouse, kEventMouseUp},
    {kEventClassMouse, kEventMouseMoved},         {kEventClassMouse, kEventMouseDragged},
    {kEventClassMouse, kEventMouseWheelMoved},    {kEventClassKeyboard, kEventRawKeyDown},
    {kEventClassWindow, kEventWindowDeactivated},
};
const EventTypeSpec kTextEntryEvents[] = {{kEventClassKeyboard, kEventRawKeyDown},
                                          {kEventClassKeyboard, kEventRawKeyRepeat}};

// The field's text, UTF-8, at most `limit` bytes.
std::string fieldText(ControlRef field, size_t limit) {
  cocoa::String* s = nullptr;
  if (GetControlData(field, kControlEditTextPart, kControlEditTextCFStringTag, sizeof s, &s, nullptr) != noErr || !s)
    return std::string();
  std::string t = s->utf8();
  s->release();
  return KIT_UTF8Head(t, limit);
}

}  // namespace

IRECT GetRegionRect(EventRef e, int w, int h) {
  HIShapeRef shape = nullptr;
  if (GetEventParameter(e, kEventParamShape, typeHIShapeRef, nullptr, sizeof shape, nullptr, &shape) == noErr &&
      shape) {
    HIRect r;
    HIShapeGetBounds(shape, &r);
    return IRECT(platform::intCoord(r.origin.x), platform::intCoord(r.origin.y),
                 platform::intCoord(r.origin.x + r.size.width), platform::intCoord(r.origin.y + r.size.height));
  }
  return IRECT(0, 0, w, h);
}

void ResizeWindow(WindowRef window, int w, int h) {
  Rect b;
  if (GetWindowBounds(window, kWindowContentRgn, &b) != noErr) return;
  b.right = static_cast<SInt16>(b.left + w);
  b.bottom = static_cast<SInt16>(b.top + h);
  SetWindowBounds(window, kWindowContentRgn, &b);
}

IGraphicsCarbon::IGraphicsCarbon(IGraphicsMac* graphics, WindowRef window, ControlRef parent, short leftOffset,
                                 short topOffset)
    : mGraphicsMac(graphics), mWindow(window), mLeftOffset(leftOffset), mTopOffset(topOffset) {
  // The window and the pane stay alive as long as this view uses them, even when the host disposes of its window
  // before closing the editor.
  if (mWindow) mWindow->retain();
  WindowAttributes attrs = 0;
  GetWindowAttributes(window, &attrs);
  mIsComposited = (attrs & kWindowCompositingAttribute) != 0;
  const int w = graphics->Width(), h = graphics->Height();
  Rect bounds{0, 0, static_cast<SInt16>(h), static_cast<SInt16>(w)};
  CreateUserPaneControl(window, &bounds, mIsComposited ? 0x12000026u : 0x26u, &mView);
  if (mView) mView->retain();
  InstallEventHandler(GetControlEventTarget(mView), MainEventHandler, 1, kControlEvents, this, &mControlHandler);
  InstallEventHandler(GetWindowEventTarget(window), MainEventHandler, 7, kWindowEvents, this, &mWindowHandler);
  const int fps = graphics->FPS() > 0 ? graphics->FPS() : IGraphics::kDefaultFPS;
  InstallEventLoopTimer(GetMainEventLoop(), 0, kEventDurationSecond / fps, TimerHandler, this, &mTimer);

  OSStatus placed = paramErr;
  if (mIsComposited) {
    HIViewRef container = parent;
    if (!container) HIViewFindByID(HIViewGetRoot(window), HIViewID{kHIViewWindowContentID, 0}, &container);
    placed = HIViewAddSubview(container, mView);
  } else {
    ControlRef container = parent;
    if (!container && GetRootControl(window, &container) != noErr) CreateRootControl(window, &container);
    placed = EmbedControl(mView, container);
  }
  if (placed == noErr) SizeControl(mView, static_cast<SInt16>(w), static_cast<SInt16>(h));
}

IGraphicsCarbon::~IGraphicsCarbon() {
  if (mTextEntryView) {
    RemoveEventHandler(mTextEntryHandler);
    HIViewRemoveFromSuperview(mTextEntryView);
    mTextEntryHandler = nullptr;
    mTextEntryView = nullptr;
  }
  RemoveEventLoopTimer(mTimer);
  RemoveEventHandler(mControlHandler);
  RemoveEventHandler(mWindowHandler);
  if (mView) mView->release();
  if (mWindow) mWindow->release();
}

bool IGraphicsCarbon::Resize(int w, int h) {
  if (!mWindow || !mView) return false;
  ResizeWindow(mWindow, w, h);
  const HIRect frame{{0, 0}, {static_cast<double>(w), static_cast<double>(h)}};
  return HIViewSetFrame(mView, &frame) == noErr;
}

void IGraphicsCarbon::TimerHandler(EventLoopTimerRef, void* self) {
  auto* me = static_cast<IGraphicsCarbon*>(self);
  me->mGraphicsMac->OnGUIIdle();
  IRECT r;
  if (!me->mGraphicsMac->IsDirty(&r)) return;
  if (me->mIsComposited) {
    const HIRect rect{{static_cast<double>(r.L), static_cast<double>(r.T)},
                      {static_cast<double>(r.W()), static_cast<double>(r.H())}};
    HIViewSetNeedsDisplayInRect(me->mView, &rect, true);
  } else {
    UpdateControls(me->mWindow, nullptr);
  }
}

OSStatus IGraphicsCarbon::MainEventHandler(EventHandlerCallRef call, EventRef e, void* self) {
  return static_cast<IGraphicsCarbon*>(self)->onEvent(call, e);
}

void IGraphicsCarbon::GetMouseXY(EventRef e, int* x, int* y) {
  HIPoint p;
  GetEventParameter(e, kEventParamWindowMouseLocation, typeHIPoint, nullptr, sizeof p, nullptr, &p);
  HIPointConvert(&p, kHICoordSpaceWindow, mWindow, kHICoordSpaceView, mView);
  *x = platform::intCoord(std::trunc(p.x) - 2);
  *y = platform::intCoord(std::trunc(p.y) - 3);
}

IMouseMod IGraphicsCarbon::MouseModFor(EventRef e) {
  UInt32 mods = 0;
  UInt16 button = kEventMouseButtonPrimary;
  GetEventParameter(e, kEventParamKeyModifiers, typeUInt32, nullptr, sizeof mods, nullptr, &mods);
  GetEventParameter(e, kEventParamMouseButton, typeMouseButton, nullptr, sizeof button, nullptr, &button);
  IMouseMod m;
  m.L = true;
  m.R = button == kEventMouseButtonSecondary || (button == kEventMouseButtonPrimary && (mods & cmdKey));
  m.S = (mods & shiftKey) != 0;
  m.C = (mods & controlKey) != 0;
  m.A = (mods & optionKey) != 0;
  return m;
}

int IGraphicsCarbon::KeyCodeFor(EventRef e) {
  UInt32 code = 0;
  char c = 0;
  GetEventParameter(e, kEventParamKeyCode, typeUInt32, nullptr, sizeof code, nullptr, &code);
  GetEventParameter(e, kEventParamKeyMacCharCodes, typeChar, nullptr, 1, nullptr, &c);
  return IGraphicsMac::KeyFromMacKey(code, static_cast<unsigned char>(c));
}

OSStatus IGraphicsCarbon::onEvent(EventHandlerCallRef call, EventRef e) {
  IGraphicsMac* g = mGraphicsMac;
  const UInt32 cls = GetEventClass(e), kind = GetEventKind(e);
  if (cls == kEventClassControl && kind == kEventControlDraw) {
    IRECT r = GetRegionRect(e, g->Width(), g->Height());
    if (mIsComposited) {
      if (GetEventParameter(e, kEventParamCGContextRef, typeCGContextRef, nullptr, sizeof mCGC, nullptr, &mCGC) !=
          noErr)
        mCGC = nullptr;
      if (mCGC) {
        // Top-left origin for the surface's bitmap copy.
        CGContextSaveGState(mCGC);
        CGContextTranslateCTM(mCGC, 0, g->Height());
        CGContextScaleCTM(mCGC, 1.0, -1.0);
        g->Draw(&r);
        CGContextRestoreGState(mCGC);
      }
    } else {
      GrafPtr port = nullptr;
      GetEventParameter(e, kEventParamGrafPort, typeGrafPtr, nullptr, sizeof port, nullptr, &port);
      if (port && QDBeginCGContext(port, &mCGC) == noErr) {
        IRECT all(0, 0, g->Width(), g->Height());
        g->Draw(&all);
        QDEndCGContext(port, &mCGC);
      }
    }
    mCGC = nullptr;
    return noErr;
  }

  if (cls == kEventClassMouse) {
    int x, y;
    GetMouseXY(e, &x, &y);
    IMouseMod mod = MouseModFor(e);
    switch (kind) {
      case kEventMouseDown: {
        if (mTextEntryView) {
          HIPoint p;
          GetEventParameter(e, kEventParamWindowMouseLocation, typeHIPoint, nullptr, sizeof p, nullptr, &p);
          HIPointConvert(&p, kHICoordSpaceWindow, mWindow, kHICoordSpaceView, mTextEntryView);
          const cocoa::Rect b = mTextEntryView->bounds();
          if (p.x >= 0 && p.y >= 0 && p.x < b.w && p.y < b.h) return eventNotHandledErr;  // the field's click
          EndUserInput(true);
        }
        CallNextEventHandler(call, e);
        UInt32 clicks = 1;
        GetEventParameter(e, kEventParamClickCount, typeUInt32, nullptr, sizeof clicks, nullptr, &clicks);
        if (clicks < 2) {
          g->OnMouseDown(x, y, &mod);
        } else {
          g->OnMouseDblClick(x, y, &mod);
        }
        return noErr;
      }
      case kEventMouseUp:
        g->OnMouseUp(x, y, &mod);
        return noErr;
      case kEventMouseMoved:
        mPrevX = x;
        mPrevY = y;
        g->OnMouseOver(x, y, &mod);
        return noErr;
      case kEventMouseDragged:
        if (!mTextEntryView) g->OnMouseDrag(x, y, &mod);
        return noErr;
      case kEventMouseWheelMoved: {
        UInt16 axis = kEventMouseWheelAxisY;
        GetEventParameter(e, kEventParamMouseWheelAxis, typeMouseWheelAxis, nullptr, sizeof axis, nullptr, &axis);
        if (axis != kEventMouseWheelAxisY) return eventNotHandledErr;
        if (mTextEntryView) EndUserInput(false);
        SInt32 d = 0;
        GetEventParameter(e, kEventParamMouseWheelDelta, typeSInt32, nullptr, sizeof d, nullptr, &d);
        g->OnMouseWheel(x, y, &mod, d);
        return noErr;
      }
      default:
        return eventNotHandledErr;
    }
  }

  if (cls == kEventClassKeyboard && kind == kEventRawKeyDown) {
    if (mTextEntryView) return eventNotHandledErr;
    const int key = KeyCodeFor(e);
    if (key < 0) return eventNotHandledErr;
    return g->OnKeyDown(mPrevX, mPrevY, key) ? noErr : eventNotHandledErr;
  }

  if (cls == kEventClassWindow && kind == kEventWindowDeactivated) {
    if (mTextEntryView) EndUserInput(false);
    return eventNotHandledErr;
  }
  return eventNotHandledErr;
}

MenuRef IGraphicsCarbon::CreateMenu(IPopupMenu* menu) {
  if (!menu || menu->GetNItems() == 0) return nullptr;
  MenuRef m = nullptr;
  if (CreateNewMenu(UniqueMenuID(), 32, &m) != noErr) return nullptr;
  for (int i = 0; i < menu->GetNItems(); ++i) {
    IPopupMenuItem* item = menu->GetItem(i);
    if (item->GetFlags() & IPopupMenuItem::kSeparator) {
      AppendMenuItemTextWithCFString(m, nullptr, kMenuItemAttrSeparator, 0, nullptr);
      continue;
    }
    const std::string title = menu->GetNumberedItemText(i);
    MenuItemAttributes attrs = kMenuItemAttrIgnoreMeta;
    if (item->GetFlags() & IPopupMenuItem::kDisabled) attrs |= kMenuItemAttrDisabled;
    if (item->GetFlags() & IPopupMenuItem::kTitle) attrs |= kMenuItemAttrSectionHeader;
    cocoa::String* s = new cocoa::String(title);
    InsertMenuItemTextWithCFString(m, s, static_cast<MenuItemIndex>(i), attrs, 0);
    s->release();
    if (item->GetFlags() & IPopupMenuItem::kChecked) CheckMenuItem(m, static_cast<MenuItemIndex>(i + 1), true);
    if (item->GetSubmenu()) {
      if (MenuRef sub = CreateMenu(item->GetSubmenu()))
        SetMenuItemHierarchicalMenu(m, static_cast<MenuItemIndex>(i + 1), sub);
    }
  }
  SetMenuItemRefCon(m, 0, reinterpret_cast<uintptr_t>(menu));
  InsertMenu(m, kInsertHierarchicalMenu);
  mMenusBuilt.push_back(m);
  return m;
}

IPopupMenu* IGraphicsCarbon::CreateIPopupMenu(IPopupMenu* menu, IRECT* r) {
  if (!menu || !r) return nullptr;
  Rect wb;
  GetWindowBounds(mWindow, kWindowContentRgn, &wb);
  HIRect vf;
  HIViewGetFrame(mView, &vf);
  const SInt16 top = static_cast<SInt16>(wb.top + vf.origin.y + r->B + 5);
  const SInt16 left = static_cast<SInt16>(wb.left + vf.origin.x + r->L);
  mMenusBuilt.clear();
  MenuRef m = CreateMenu(menu);
  if (!m) return nullptr;
  IPopupMenu* result = nullptr;
  const SInt32 picked = PopUpMenuSelect(m, top, left, 0);
  const SInt16 id = HiWord(picked), item = LoWord(picked);
  if (item > 0) {
    uintptr_t ref = 0;
    if (MenuRef holder = GetMenuHandle(id)) GetMenuItemRefCon(holder, 0, &ref);
    result = reinterpret_cast<IPopupMenu*>(ref);
    if (result) result->SetChosenItemIdx(item - 1);
  }
  // Every Carbon menu of this popup leaves the menu list and goes.
  for (MenuRef built : mMenusBuilt) {
    DeleteMenu(GetMenuID(built));
    ReleaseMenu(built);
  }
  mMenusBuilt.clear();
  return result;
}

void IGraphicsCarbon::CreateTextEntry(IControl* control, IText* text, IRECT* r, const char* str, IParam* param) {
  if (!control || !r || mTextEntryView || !mIsComposited) return;
  Rect bounds{static_cast<SInt16>(r->T), static_cast<SInt16>(r->L), static_cast<SInt16>(r->B),
              static_cast<SInt16>(r->R)};
  if (CreateEditUnicodeTextControl(mWindow, &bounds, nullptr, false, nullptr, &mTextEntryView) != noErr) return;
  HIViewAddSubview(mView, mTextEntryView);
  InstallEventHandler(GetControlEventTarget(mTextEntryView), TextEntryHandler, 2, kTextEntryEvents, this,
                      &mTextEntryHandler);
  if (str && *str) {
    cocoa::String* s = new cocoa::String(str);
    SetControlData(mTextEntryView, kControlEditTextPart, kControlEditTextCFStringTag, sizeof s, &s);
    s->release();
    ControlEditTextSelectionRec all{0, 32767};
    SetControlData(mTextEntryView, kControlEditTextPart, kControlEditTextSelectionTag, sizeof all, &all);
  }
  ControlFontStyleRec style;
  style.flags = kControlUseFontMask | kControlUseSizeMask | kControlUseJustMask;
  if (text) {
    style.font = FMGetFontFamilyFromName(text->mFont);
    style.size = static_cast<SInt16>(text->mSize);
    switch (text->mAlign) {
      case 0:
        style.just = teFlushDefault;
        break;
      case 2:
        style.just = teFlushRight;
        break;
      default:
        style.just = teCenter;
        break;
    }
  }
  SetControlData(mTextEntryView, kControlEditTextPart, kControlFontStyleTag, sizeof style, &style);
  const Boolean singleLine = true;
  SetControlData(mTextEntryView, kControlEditTextPart, kControlEditTextSingleLineTag, sizeof singleLine, &singleLine);
  HIViewSetVisible(mTextEntryView, true);
  SetKeyboardFocus(mWindow, mTextEntryView, kControlFocusNextPart);
  SetUserFocusWindow(mWindow);
  mEdControl = control;
  mEdParam = param;
}

bool IGraphicsCarbon::AcceptsCharacter(const IParam* param, char c) {
  if (!param) return true;
  const bool digitOrSign = (c >= '0' && c <= '9') || c == '+' || c == '-';
  switch (param->Type()) {
    case IParam::kTypeBool:
    case IParam::kTypeInt:
    case IParam::kTypeEnum:
      return digitOrSign;
    case IParam::kTypeDouble:
      return digitOrSign || c == '.';
    default:
      return true;
  }
}

OSStatus IGraphicsCarbon::TextEntryHandler(EventHandlerCallRef call, EventRef e, void* self) {
  return static_cast<IGraphicsCarbon*>(self)->onTextEntryKey(call, e);
}

OSStatus IGraphicsCarbon::onTextEntryKey(EventHandlerCallRef call, EventRef e) {
  char c = 0;
  UInt32 code = 0;
  GetEventParameter(e, kEventParamKeyMacCharCodes, typeChar, nullptr, 1, nullptr, &c);
  GetEventParameter(e, kEventParamKeyCode, typeUInt32, nullptr, sizeof code, nullptr, &code);
  if (c == 13 || c == 3) {
    EndUserInput(true);
    return noErr;
  }
  UInt32 mods = 0;
  GetEventParameter(e, kEventParamKeyModifiers, typeUInt32, nullptr, sizeof mods, nullptr, &mods);
  // Arrows, deletions and keys held with Control or Command (select-all) are the field's own, never typed text.
  if ((code >= 123 && code <= 126) || c == 8 || c == 127 || (mods & (cmdKey | controlKey)))
    return CallNextEventHandler(call, e);
  if (!AcceptsCharacter(mEdParam, c)) return noErr;  // swallowed
  const std::string current = fieldText(mTextEntryView, 31);
  if (mEdControl && static_cast<int>(current.size()) < mEdControl->GetTextEntryLength())
    return CallNextEventHandler(call, e);
  return noErr;
}

void IGraphicsCarbon::EndUserInputOfHiddenControl() {
  if (mTextEntryView && mEdControl && mEdControl->IsHidden()) EndUserInput(true);
}

void IGraphicsCarbon::EndUserInput(bool commit) {
  if (!mTextEntryView) return;
  RemoveEventHandler(mTextEntryHandler);
  mTextEntryHandler = nullptr;
  ControlRef field = mTextEntryView;
  IControl* control = mEdControl;
  IParam* param = mEdParam;
  if (commit) {
    const std::string text = fieldText(field, 64);
    if (param) {
      mGraphicsMac->SetFromStringAfterPrompt(control, param, text.c_str());
    } else if (control) {
      control->TextFromTextEntry(text.c_str());
    }
  }
  HIViewSetVisible(field, false);
  DisposeControl(field);
  if (mIsComposited) {
    HIViewSetNeedsDisplay(mView, true);
  } else if (control) {
    control->SetDirty(false);
    control->SetRedraw(true);
  }
  SetThemeCursor(kThemeArrowCursor);
  SetUserFocusWindow(kUserFocusAuto);
  mTextEntryView = nullptr;
  mEdControl = nullptr;
  mEdParam = nullptr;
}
