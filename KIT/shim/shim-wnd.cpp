// Message dispatch (SendMessage) and the calls on any window handle: control look-up, window longs, text,
// visibility, destruction, focus, relations, properties and the window queries.
#include <strings.h>
#include <algorithm>
#include <cstring>

#include "KIT/shim/shim-ctl.h"
#include "KIT/shim/shim-gdi-internal.h"
#include "KIT/shim/shim-hwnd.h"
#include "KIT/shim/shim-sys.h"
#include "platform/cocoa/controls.h"
#include "platform/cocoa/image.h"
#include "platform/cocoa/modal.h"

SHIM_ControlHooks& SHIM_Internal_ControlHooks() {
  static SHIM_ControlHooks hooks;
  return hooks;
}

namespace {

cocoa::View* documentViewOf(cocoa::View* v) {
  auto f = SHIM_Internal_ControlHooks().documentViewOf;
  return f ? f(v) : nullptr;
}

cocoa::View* scrollViewAround(cocoa::View* v) {
  auto f = SHIM_Internal_ControlHooks().enclosingScrollView;
  return f ? f(v) : nullptr;
}

HWND contentOrSelf(HWND h) {
  if (!h) return nullptr;
  if (auto* w = h->as<cocoa::Window>()) return w->contentView();
  return h;
}

// Messages that SendMessage answers itself for plain platform controls; false when the control does not take them.
bool controlMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  if ((msg == BM_GETCHECK || msg == BM_SETCHECK)) {
    if (auto* b = hwnd->as<cocoa::Button>()) {
      if (msg == BM_GETCHECK) {
        *result = b->state() < 0 ? BST_INDETERMINATE : b->state() > 0 ? BST_CHECKED : BST_UNCHECKED;
      } else {
        b->setState((wParam & 2) ? -1 : (wParam & 1) ? 1 : 0);
        *result = 0;
      }
      return true;
    }
    return false;
  }
  if (msg == BM_GETIMAGE || msg == BM_SETIMAGE) {
    auto* b = hwnd->as<Shim_vVexmir_button>();
    if (!b) return false;
    *result = 0;
    if (wParam > 1) return true;  // neither a bitmap (0) nor an icon (1)
    const HGDIOBJ previous = b->getShimImage();
    *result = reinterpret_cast<LRESULT>(previous);
    if (msg == BM_SETIMAGE) {
      auto* obj = reinterpret_cast<HGDIOBJ>(lParam);
      cocoa::Image* image =
          SHIM_GDP_ObjValid(obj) && obj->type == SHIM_GDI_BITMAP ? SHIM_Internal_ImageOfBitmap(obj) : nullptr;
      b->setImage(image);
      b->setShimImage(image ? obj : nullptr);
      cocoa::releaseObject(image);
    }
    return true;
  }
  if (msg >= 0x143 && msg <= 0x161) {
    auto* list = hwnd->as<cocoa::ItemListControl>();
    if (!list) return false;
    *result = 0;
    switch (msg) {
      case CB_GETCOUNT:
        *result = list->numberOfItems();
        break;
      case CB_GETCURSEL:
        *result = list->indexOfSelectedItem();
        break;
      case CB_SETCURSEL: {
        const INT_PTR i = static_cast<INT_PTR>(wParam);
        if (i >= 0 && i < list->numberOfItems()) list->selectItemAtIndex(static_cast<int>(i));
        break;
      }
      default:
        *result = SHIM_Internal_ComboMessage(hwnd, msg, wParam, lParam);
        break;
    }
    return true;
  }
  if (msg >= 0x400 && msg <= 0x406) {
    auto* s = hwnd->as<cocoa::Slider>();
    if (!s) return false;
    switch (msg) {
      case TBM_GETPOS:
        *result = static_cast<LRESULT>(s->doubleValue() + 0.5);
        break;
      case TBM_SETTIC:
        *result = 1;
        break;
      case TBM_SETPOS:
        s->setDoubleValue(static_cast<double>(lParam));
        *result = 1;
        break;
      case TBM_SETRANGE:
        s->minValue = static_cast<double>(static_cast<uint32_t>(lParam) & 0xFFFF);
        s->maxValue = static_cast<double>((static_cast<uint32_t>(lParam) >> 16) & 0xFFFF);
        s->setDoubleValue(s->doubleValue());
        *result = 1;
        break;
      default:
        *result = 0;
        break;
    }
    return true;
  }
  if (msg == EM_GETSEL || msg == EM_SETSEL || msg == EM_SETPASSWORDCHAR) {
    auto* f = hwnd->as<cocoa::TextField>();
    if (!f) return false;
    *result = 0;
    const bool editing = f->isEditing() && f->window() && f->window()->firstResponder() == f;
    if (msg == EM_GETSEL) {
      int start = 0, length = 0;
      if (editing) f->selectedRange(&start, &length);
      if (wParam) *reinterpret_cast<int*>(wParam) = start;
      if (lParam) *reinterpret_cast<int*>(lParam) = start + length;
    } else if (msg == EM_SETSEL && editing) {
      const int n = static_cast<int>(f->stringValue().size());
      int start = static_cast<int>(static_cast<INT_PTR>(wParam));
      int end = static_cast<int>(lParam);
      if (start == -1) {
        start = 0;
        end = 0;
      }
      if (end == -1) end = n;
      start = std::max(0, std::min(start, n));
      end = std::max(0, std::min(end, n));
      // An end before the start selects the same span the other way round, never a negative length.
      if (end < start) std::swap(start, end);
      f->setSelectedRange(start, end - start);
    }
    return true;
  }
  return false;
}

}  // namespace

LRESULT SendMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (!hwnd) return 0;
  if (auto* r = hwnd->as<SHIM_MessageReceiver>()) {
    // A window of the layer has no procedure of its own: its content view answers for it.
    if (!hwnd->as<Shim_vVexmir_windowbase>()) return r->onShimMessage(msg, wParam, lParam);
  }
  LRESULT result = 0;
  if (!hwnd->as<cocoa::Window>() && controlMessage(hwnd, msg, wParam, lParam, &result)) return result;
  if (auto* v = hwnd->as<cocoa::View>()) {
    if (SHIM_IsContentView(v)) {
      if (auto* r = v->window()->as<SHIM_MessageReceiver>()) return r->onShimMessage(msg, wParam, lParam);
    }
    return 0;
  }
  if (auto* w = hwnd->as<cocoa::Window>()) {
    if (auto* r = w->contentView() ? w->contentView()->as<SHIM_MessageReceiver>() : nullptr) {
      return r->onShimMessage(msg, wParam, lParam);
    }
  }
  return 0;
}

// ---------------------------------------------------------------------------------------------------------------
// Control look-up and window longs

HWND GetDlgItem(HWND hwnd, int id) {
  cocoa::View* v = SHIM_ViewOf(hwnd);
  if (!v) return nullptr;
  if (id == 0) return v;
  for (cocoa::View* s : v->subviews()) {
    if (s->tag() == id) return s;
    if (auto* doc = documentViewOf(s)) {
      if (doc->tag() == id) return doc;
    }
  }
  return nullptr;
}

namespace {

LONG_PTR extraRead(HWND hwnd, int index) {
  auto* h = hwnd->as<Shim_vVexmir_hwnd>();
  return h ? h->getShimExtraData(index) : 0;
}

LONG_PTR extraWrite(HWND hwnd, int index, LONG_PTR value) {
  auto* h = hwnd->as<Shim_vVexmir_hwnd>();
  if (!h) return 0;
  const LONG_PTR old = h->getShimExtraData(index);
  h->setShimExtraData(index, value);
  return old;
}

LONG derivedStyle(HWND hwnd) {
  LONG style = 0;
  if (auto* b = hwnd->as<cocoa::Button>()) {
    if (b->allowsMixedState) {
      style = BS_AUTO3STATE;
    } else {
      style = BS_AUTOCHECKBOX;
      auto* r = hwnd->as<SHIM_RadioButton>();
      if (r && r->shimGetRadioFlags()) {
        style = BS_AUTORADIOBUTTON;
        if (r->shimGetRadioFlags() & 2) style |= WS_GROUP;
      }
    }
  }
  auto* v = hwnd->as<cocoa::View>();
  if (!v) return style;
  if (SHIM_IsContentView(v)) {
    const unsigned mask = v->window()->styleMask;
    if (mask & 1) style |= WS_CAPTION;
    if ((mask & 1) && (mask & 8)) style |= WS_THICKFRAME;
  } else {
    style |= WS_CHILD;
  }
  return style;
}

unsigned frameStyleOf(cocoa::Window* w) {
  unsigned s = 0;
  if (w->styleMask & 1) s = WS_CAPTION | ((w->styleMask & 8) ? WS_THICKFRAME : 0);
  return s;
}

void rebuildFrame(cocoa::View* view, LONG value);

}  // namespace

LONG_PTR GetWindowLongPtr(HWND hwnd, int index) {
  if (!hwnd) return 0;
  switch (index) {
    case GWL_USERDATA:
      if (auto* u = hwnd->as<SHIM_UserDataHolder>()) return u->getShimUserData();
      if (SHIM_Internal_ControlHooks().isTextView && SHIM_Internal_ControlHooks().isTextView(hwnd))
        return static_cast<LONG_PTR>(0xDEADF00B);
      return extraRead(hwnd, index);
    case GWL_EXSTYLE:
      if (auto* e = hwnd->as<SHIM_ExtendedStyleHolder>()) return e->shimGetExtendedStyle();
      return extraRead(hwnd, index);
    case GWL_STYLE:
      if (auto* s = hwnd->as<SHIM_StyleHolder>()) return s->getShimStyle();
      return derivedStyle(hwnd);
    case GWL_ID:
      if (auto* v = hwnd->as<cocoa::View>()) return v->tag();
      return extraRead(hwnd, index);
    case DWL_DLGPROC:
      if (auto* h = hwnd->as<Shim_vVexmir_hwnd>()) return reinterpret_cast<LONG_PTR>(h->getShimDialogProc());
      return 0;
    case GWL_WNDPROC:
      if (auto* h = hwnd->as<Shim_vVexmir_hwnd>()) return reinterpret_cast<LONG_PTR>(h->getShimWindowProc());
      return 0;
    default:
      return extraRead(hwnd, index);
  }
}

LONG_PTR SetWindowLongPtr(HWND hwnd, int index, LONG_PTR value) {
  if (!hwnd) return 0;
  switch (index) {
    case GWL_USERDATA:
      if (auto* u = hwnd->as<SHIM_UserDataHolder>()) {
        const LONG_PTR old = u->getShimUserData();
        u->setShimUserData(value);
        return old;
      }
      return extraWrite(hwnd, index, value);
    case GWL_EXSTYLE:
      if (auto* e = hwnd->as<SHIM_ExtendedStyleHolder>()) {
        const LONG_PTR old = e->shimGetExtendedStyle();
        e->shimSetExtendedStyle(static_cast<int>(value));
        return old;
      }
      return extraWrite(hwnd, index, value);
    case GWL_STYLE: {
      if (auto* s = hwnd->as<SHIM_StyleHolder>()) {
        const LONG_PTR old = s->getShimStyle();
        s->setShimStyle(static_cast<int>(value));
        return old;
      }
      if (auto* b = hwnd->as<cocoa::Button>()) {
        const LONG_PTR old = derivedStyle(hwnd);
        auto* r = hwnd->as<SHIM_RadioButton>();
        switch (value & 0xF) {
          case BS_AUTOCHECKBOX:
            b->buttonType = 3;
            b->allowsMixedState = false;
            if (r) r->shimSetRadioFlags(0);
            break;
          case BS_AUTO3STATE:
            b->buttonType = 3;
            b->allowsMixedState = true;
            if (r) r->shimSetRadioFlags(0);
            break;
          case BS_AUTORADIOBUTTON:
            b->buttonType = 4;
            if (r) r->shimSetRadioFlags(1 | ((value & WS_GROUP) ? 2 : 0));
            break;
          default:
            break;
        }
        return old;
      }
      auto* v = hwnd->as<cocoa::View>();
      if (!v || !SHIM_IsContentView(v)) return 0;
      if (frameStyleOf(v->window()) != (static_cast<unsigned>(value) & 0x00C40000u)) {
        rebuildFrame(v, static_cast<LONG>(value));
      }
      return 0;
    }
    case GWL_ID:
      if (auto* v = hwnd->as<cocoa::View>()) {
        const int old = v->tag();
        if (v->setTag(static_cast<int>(value))) return old;
      }
      return extraWrite(hwnd, index, value);
    case DWL_DLGPROC:
      if (auto* h = hwnd->as<Shim_vVexmir_hwnd>()) {
        const LONG_PTR old = reinterpret_cast<LONG_PTR>(h->getShimDialogProc());
        h->setShimDialogProc(reinterpret_cast<DLGPROC>(value));
        return old;
      }
      return 0;
    case GWL_WNDPROC:
      if (auto* h = hwnd->as<Shim_vVexmir_hwnd>()) {
        const LONG_PTR old = reinterpret_cast<LONG_PTR>(h->getShimWindowProc());
        h->setShimWindowProc(reinterpret_cast<WNDPROC>(value));
        return old;
      }
      return 0;
    default:
      return extraWrite(hwnd, index, value);
  }
}

LONG GetWindowLong(HWND hwnd, int index) {
  return static_cast<LONG>(GetWindowLongPtr(hwnd, index));
}

LONG SetWindowLong(HWND hwnd, int index, LONG value) {
  return static_cast<LONG>(SetWindowLongPtr(hwnd, index, value));
}

namespace {

void rebuildFrame(cocoa::View* view, LONG value) {
  cocoa::Window* old = view->window();
  old->retain();
  view->retain();
  const bool visible = IsWindowVisible(old);
  cocoa::Window* parentWindow = old->parentWindow();
  char title[2048];
  GetDlgItemText(old, 0, title, sizeof(title));
  const cocoa::Rect frame = old->frame();
  auto* oldList = old->as<SHIM_OwnedWindowList>();
  HWND owner = oldList ? oldList->shimGetOwner() : nullptr;
  const int level = old->level();
  Shim_vVexmir_hwnd* placeholder = Shim_vVexmir_hwnd::initChild(nullptr, old, nullptr, 0);
  placeholder->release();
  unsigned mask = 0;
  if (value & WS_CAPTION) mask = (value & WS_THICKFRAME) ? 0xF : 1;
  HWND made = SHIM_CreateModelessFrameForWindow(view, owner, mask);
  auto* nw = made ? made->as<cocoa::Window>() : nullptr;
  if (!nw) {
    old->setContentView(view);
  } else {
    auto* newList = nw->as<SHIM_OwnedWindowList>();
    if (oldList && newList) oldList->shimMoveOwnedWindowsTo(newList);
    std::vector<cocoa::Window*> children = old->childWindows();
    for (cocoa::Window* c : children) {
      c->retain();
      old->removeChildWindow(c);
      nw->addChildWindow(c);
      c->release();
    }
    if (parentWindow) parentWindow->addChildWindow(nw);
    if (title[0]) SetDlgItemText(view, 0, title);
    nw->setFrame(frame, visible);
    nw->setLevel(level);
    if (visible) ShowWindow(nw, SW_SHOW);
    DestroyWindow(old);
  }
  view->release();
  old->release();
}

}  // namespace

// ---------------------------------------------------------------------------------------------------------------
// Text

BOOL IsWindowVisible(HWND hwnd) {
  if (!hwnd) return FALSE;
  if (auto* v = hwnd->as<cocoa::View>()) {
    if (v->window() && !v->window()->isVisible()) return FALSE;
    return !v->isHiddenOrHasHiddenAncestor();
  }
  if (auto* w = hwnd->as<cocoa::Window>()) return w->isVisible();
  return TRUE;
}

namespace {
bool textOf(HWND h, std::string* out) {
  if (auto* b = h->as<cocoa::Button>()) {
    *out = b->title();
    return true;
  }
  if (auto* w = h->as<cocoa::Window>()) {
    *out = w->title();
    return true;
  }
  if (auto* f = h->as<cocoa::TextField>()) {
    *out = f->stringValue();
    return true;
  }
  if (auto* c = h->as<cocoa::ComboBox>()) {
    *out = c->stringValue();
    return true;
  }
  if (auto* l = h->as<cocoa::ItemListControl>()) {
    *out = l->itemTitle(l->indexOfSelectedItem());
    return true;
  }
  if (SHIM_Internal_ControlHooks().textOf && SHIM_Internal_ControlHooks().textOf(h, out)) return true;
  if (auto* box = h->as<cocoa::Box>()) {
    *out = box->title();
    return true;
  }
  return false;
}
}  // namespace

BOOL GetDlgItemText(HWND hwnd, int id, char* buffer, int size) {
  // Nothing is written through a buffer that has no room (the caller said so by its size).
  if (buffer && size >= 1) buffer[0] = 0;
  if (!hwnd) return FALSE;
  HWND h = hwnd;
  if (id) {
    h = GetDlgItem(hwnd, id);
    if (!h) return FALSE;
  }
  // A content view stands for its window: the text is the window's title.
  if (auto* v = h->as<cocoa::View>()) {
    if (SHIM_IsContentView(v)) h = v->window();
  }
  if (auto* t = h->as<Shim_vVexmir_hwnd>()) {
    if (buffer && size >= 1) lstrcpyn(buffer, t->onShimGetText(), size);
    return TRUE;
  }
  std::string s;
  if (!textOf(h, &s)) return FALSE;
  if (buffer && size >= 1) lstrcpyn(buffer, s.c_str(), size);
  return TRUE;
}

BOOL SetDlgItemText(HWND hwnd, int id, const char* text) {
  if (!hwnd) return FALSE;
  if (!text) text = "";
  HWND h = hwnd;
  if (id) {
    h = GetDlgItem(hwnd, id);
    if (!h) return FALSE;
  }
  if (auto* v = h->as<cocoa::View>()) {
    if (SHIM_IsContentView(v)) SetDlgItemText(v->window(), 0, text);
  }
  if (auto* t = h->as<Shim_vVexmir_hwnd>()) {
    t->onShimSetText(text);
    return TRUE;
  }
  if (auto* w = h->as<cocoa::Window>()) {
    w->setTitle(text);
    return TRUE;
  }
  if (auto* b = h->as<cocoa::Button>()) {
    b->setTitle(text);
    return TRUE;
  }
  if (auto* f = h->as<cocoa::TextField>()) {
    f->setStringValue(text);
    f->setNeedsDisplay(true);
    if (f->editable) {
      if (HWND parent = GetParent(f)) {
        SendMessage(parent, WM_COMMAND,
                    static_cast<WPARAM>(static_cast<uint32_t>(f->tag()) | 0x03000000u) & 0xFFFFFFFFu,
                    reinterpret_cast<LPARAM>(static_cast<HWND>(f)));
      }
    }
    return TRUE;
  }
  if (auto* c = h->as<cocoa::ComboBox>()) {
    c->setStringValue(text);
    return TRUE;
  }
  if (SHIM_Internal_ControlHooks().setTextOf && SHIM_Internal_ControlHooks().setTextOf(h, text)) return TRUE;
  if (auto* box = h->as<cocoa::Box>()) {
    box->setTitle(text);
    return TRUE;
  }
  return FALSE;
}

// ---------------------------------------------------------------------------------------------------------------
// Showing, destroying, focus

namespace {
void focusParentIfFocusInside(cocoa::View* v) {
  cocoa::Window* w = v->window();
  if (!w || !w->isKeyWindow()) return;
  cocoa::View* fr = w->firstResponder();
  if (fr && fr->isDescendantOf(v)) {
    if (HWND p = GetParent(v)) SetFocus(p);
  }
}

void showTopLevel(cocoa::Window* w, int command) {
  switch (command) {
    case SW_HIDE:
      w->orderOut();
      break;
    case SW_SHOWNA: {
      auto* mw = w->as<Shim_vVexmir_modelesswindow>();
      if (mw && mw->m_wantInitialKeyWindowOnShow) {
        mw->m_wantInitialKeyWindowOnShow = false;
        w->makeKeyAndOrderFront();
      } else {
        w->orderFront();
      }
      break;
    }
    case SW_SHOW:
      w->makeKeyAndOrderFront();
      break;
    case SW_SHOWMINIMIZED:
      w->isMiniaturized = true;
      break;
    default:
      break;
  }
}
}  // namespace

void ShowWindow(HWND hwnd, int command) {
  if (!hwnd) return;
  SHIM_Hold hold(hwnd);
  if (auto* w = hwnd->as<cocoa::Window>()) {
    showTopLevel(w, command);
    return;
  }
  auto* v0 = hwnd->as<cocoa::View>();
  if (!v0) return;
  cocoa::View* v = SHIM_NavigateUpScrollClipViews(v0) ? SHIM_NavigateUpScrollClipViews(v0)->as<cocoa::View>() : v0;
  SHIM_Hold holdShown(v);
  if (command == SW_SHOWNA || command == SW_SHOW) {
    v->setHidden(false);
  } else if (command == SW_HIDE) {
    focusParentIfFocusInside(v);
    if (!v->isHidden()) {
      if (!SHIM_IsContentView(v) && v->superview()) {
        RECT r;
        GetWindowRect(v, &r);
        POINT a{r.left, r.top}, b{r.right, r.bottom};
        ScreenToClient(v->superview(), &a);
        ScreenToClient(v->superview(), &b);
        RECT inSuper{a.x, a.y, b.x, b.y};
        InvalidateRect(v->superview(), &inSuper, 0);
      }
      v->setHidden(true);
    }
  }
  if (SHIM_IsContentView(v)) showTopLevel(v->window(), command);
}

void DestroyWindow(HWND hwnd) {
  if (!hwnd) return;
  hwnd->retain();
  if (auto* v = hwnd->as<cocoa::View>()) {
    KillTimer(v, 0xFFFFFFFF);
    if (auto* m = v->as<SHIM_MessageReceiver>()) m->onShimMessage(WM_DESTROY, 0, 0);
    if (!v->window()) {
      v->removeFromSuperview();
    } else if (SHIM_IsContentView(v)) {
      DestroyWindow(v->window());
    } else {
      focusParentIfFocusInside(v);
      v->removeFromSuperview();
    }
  } else if (auto* w = hwnd->as<cocoa::Window>()) {
    KillTimer(w, 0xFFFFFFFF);
    if (cocoa::View* cv = w->contentView()) {
      if (auto* m = cv->as<SHIM_MessageReceiver>()) m->onShimMessage(WM_DESTROY, 0, 0);
    }
    if (auto* m = w->as<SHIM_MessageReceiver>()) m->onShimMessage(WM_DESTROY, 0, 0);
    auto* list = w->as<SHIM_OwnedWindowList>();
    if (list) list->shimDoDestroyStuff();
    if (w->parentWindow()) w->parentWindow()->removeChildWindow(w);
    w->close();
    if (auto* base = w->as<Shim_vVexmir_windowbase>()) base->releaseSelf();
  }
  hwnd->release();
}

BOOL IsWindowImpl(HWND target, HWND root) {
  auto* r = root ? root->as<cocoa::View>() : nullptr;
  if (!r || !target) return FALSE;
  for (cocoa::View* s : r->subviews()) {
    if (s == target) return TRUE;
  }
  for (cocoa::View* s : r->subviews()) {
    if (IsWindowImpl(target, s)) return TRUE;
  }
  return FALSE;
}

BOOL IsWindow(HWND hwnd) {
  if (!hwnd) return FALSE;
  std::vector<cocoa::Window*> all = cocoa::Window::allWindows();
  std::vector<cocoa::Window*> kept;
  for (cocoa::Window* w : all) {
    if (w->tryRetain()) kept.push_back(w);
  }
  BOOL found = FALSE;
  for (cocoa::Window* w : kept) {
    if (w == hwnd || w->contentView() == hwnd) found = TRUE;
  }
  for (cocoa::Window* w : kept) {
    if (found) break;
    if (w->as<Shim_vVexmir_windowbase>() && IsWindowImpl(hwnd, w->contentView())) found = TRUE;
  }
  for (cocoa::Window* w : kept) w->release();
  return found;
}

void CenterWindow(HWND hwnd) {
  cocoa::Window* w = nullptr;
  if (hwnd) {
    if (auto* v = hwnd->as<cocoa::View>()) w = v->window();
    if (auto* ww = hwnd->as<cocoa::Window>()) w = ww;
  }
  if (!w) return;
  RECT vp;
  SHIM_GetViewPort(&vp, nullptr, false);
  const cocoa::Rect f = w->frame();
  w->setFrame(cocoa::Rect{vp.left + (static_cast<double>(SHIM_RectWidth(vp)) - f.w) / 2,
                          vp.top + (static_cast<double>(SHIM_RectHeight(vp)) - f.h) / 2, f.w, f.h},
              false);
}

BOOL IsChild(HWND parent, HWND child) {
  if (!parent || !child || parent == child) return FALSE;
  auto* c = child->as<cocoa::View>();
  if (!c) return FALSE;
  if (auto* w = parent->as<cocoa::Window>()) return c->window() == w;
  if (auto* p = parent->as<cocoa::View>()) return c->isDescendantOf(p);
  return FALSE;
}

void SetFocus(HWND hwnd) {
  if (!hwnd) return;
  SHIM_Hold hold(hwnd);
  if (auto* w = hwnd->as<cocoa::Window>()) {
    w->makeFirstResponder(w->contentView());
    if (w->isVisible()) w->makeKeyAndOrderFront();
    return;
  }
  auto* v = hwnd->as<cocoa::View>();
  if (!v || !v->window()) return;
  v->window()->makeFirstResponder(v);
  if (v->window() && v->window()->isVisible()) v->window()->makeKeyAndOrderFront();
}

void SetForegroundWindow(HWND hwnd) {
  SetFocus(hwnd);
}

HWND GetForegroundWindow() {
  cocoa::Window* kw = cocoa::application::keyWindow();
  if (!kw) return nullptr;
  if (kw->firstResponder()) return kw->firstResponder();
  return kw;
}

void EnableWindow(HWND hwnd, int enable) {
  HWND h = contentOrSelf(hwnd);
  if (!h) return;
  if (auto* c = h->as<cocoa::Control>()) {
    c->setEnabled(enable != 0);
    if (auto* f = h->as<cocoa::TextField>()) {
      if (!f->editable && !f->bordered && !f->drawsBackground) f->textColor.a = enable ? 1.0 : 0.5;
    }
  } else if (auto* e = h->as<SHIM_Enableable>()) {
    e->setEnabled(enable != 0);
  }
}

// ---------------------------------------------------------------------------------------------------------------
// Relations

HWND SHIM_NavigateUpScrollClipViews(HWND hwnd) {
  if (!hwnd) return nullptr;
  if (auto* w = hwnd->as<cocoa::Window>()) return w->contentView();
  auto* v = hwnd->as<cocoa::View>();
  if (!v) return nullptr;
  if (cocoa::View* scroll = scrollViewAround(v)) return scroll;
  return v;
}

HWND GetWindow(HWND hwnd, int relation) {
  cocoa::View* v = SHIM_ViewOf(hwnd);
  if (!v) return nullptr;
  if (relation == GW_CHILD) return v->subviews().empty() ? nullptr : v->subviews().front();
  if (cocoa::View* scroll = scrollViewAround(v)) v = scroll;
  if (relation == GW_OWNER) {
    if (SHIM_IsContentView(v)) {
      auto* list = v->window()->as<SHIM_OwnedWindowList>();
      return list ? list->shimGetOwner() : nullptr;
    }
    return v->superview();
  }
  if (relation < 0 || relation > 3) return nullptr;
  if (SHIM_IsContentView(v)) return relation <= GW_HWNDLAST ? v : nullptr;
  if (!v->superview()) return nullptr;
  const std::vector<cocoa::View*>& sibs = v->superview()->subviews();
  if (sibs.empty()) return nullptr;
  if (relation == GW_HWNDFIRST) return sibs.front();
  if (relation == GW_HWNDLAST) return sibs.back();
  auto it = std::find(sibs.begin(), sibs.end(), v);
  if (it == sibs.end()) return nullptr;
  if (relation == GW_HWNDNEXT) return it + 1 == sibs.end() ? nullptr : *(it + 1);
  return it == sibs.begin() ? nullptr : *(it - 1);
}

HWND SetParent(HWND childH, HWND newParent) {
  auto* child = childH ? childH->as<cocoa::View>() : nullptr;
  // A view being deleted (its destroy handler runs from the deletion) goes nowhere: no parent may keep it.
  if (!child || child->isDeallocating()) return nullptr;
  char title[2048];
  if (SHIM_IsContentView(child)) {
    if (!newParent) return nullptr;
    cocoa::View* np = SHIM_ViewOf(newParent);
    if (!np || np == child || np->isDescendantOf(child)) return nullptr;
    GetDlgItemText(child, 0, title, sizeof(title));
    cocoa::Window* old = child->window();
    old->retain();
    child->retain();
    auto* list = old->as<SHIM_OwnedWindowList>();
    if (auto* h = child->as<Shim_vVexmir_hwnd>()) h->setLastTopLevelOwner(list ? list->shimGetOwner() : nullptr);
    Shim_vVexmir_hwnd* placeholder = Shim_vVexmir_hwnd::initChild(nullptr, old, nullptr, 0);
    placeholder->release();
    np->addSubview(child);
    DestroyWindow(old);
    if (title[0]) SetDlgItemText(child, 0, title);
    child->release();
    old->release();
    return np;
  }
  if (!newParent) {
    GetDlgItemText(child, 0, title, sizeof(title));
    child->retain();
    SHIM_Internal_MoveOwner(child, child->superview(), nullptr);
    child->removeFromSuperview();
    auto* h = child->as<Shim_vVexmir_hwnd>();
    const unsigned mask = h ? h->shimCreateWindowFlags() : 0xF;
    HWND owner = nullptr;
    if (h && h->lastTopLevelOwner()) {
      for (cocoa::Window* w : cocoa::Window::allWindows()) {
        if (w == h->lastTopLevelOwner() || w->contentView() == h->lastTopLevelOwner()) {
          owner = w;
          break;
        }
      }
    }
    HWND frame = SHIM_CreateModelessFrameForWindow(child, owner, mask);
    if (auto* fw = frame ? frame->as<cocoa::Window>() : nullptr) fw->displayIfNeeded();
    if (title[0]) SetDlgItemText(child, 0, title);
    child->release();
    return nullptr;
  }
  cocoa::View* moved = child;
  if (cocoa::View* scroll = scrollViewAround(child)) moved = scroll;
  cocoa::View* previous = moved->superview();
  cocoa::View* np = SHIM_ViewOf(newParent);
  moved->retain();
  if (np && np != moved && !np->isDescendantOf(moved)) {
    SHIM_Internal_MoveOwner(moved, previous, np);
    np->addSubview(moved);
  } else if (previous) {
    SHIM_Internal_MoveOwner(moved, previous, nullptr);
    // Detached without a valid new parent: it stays alive, attached to nothing (the caller's reference keeps it).
    moved->retain();
    moved->removeFromSuperview();
  }
  moved->release();
  return previous;
}

BOOL IsEquivalentTextView(HWND a, HWND b) {
  if (!a || !b) return FALSE;
  if (a == b) return TRUE;
  // A text view is equivalent to the text field it edits (the field's field editor).
  auto f = SHIM_Internal_ControlHooks().fieldOfEditor;
  if (!f) return FALSE;
  auto* va = a->as<cocoa::View>();
  auto* vb = b->as<cocoa::View>();
  return (va && f(va) == b) || (vb && f(vb) == a);
}

HWND FindWindowEx(HWND parent, HWND after, const char* className, const char* windowName) {
  if (!parent) {
    if (!windowName) return nullptr;
    std::vector<cocoa::Window*> all = cocoa::Window::allWindows();
    size_t start = 0;
    if (after) {
      start = all.size();
      for (size_t i = 0; i < all.size(); ++i) {
        if (all[i] == after || all[i]->contentView() == after) {
          start = i + 1;
          break;
        }
      }
    }
    for (size_t i = start; i < all.size(); ++i) {
      if (all[i]->title() == windowName) return all[i]->contentView();
    }
    return nullptr;
  }
  HWND cand = nullptr;
  if (after) {
    cand = GetWindow(after, GW_HWNDNEXT);
  } else {
    cocoa::View* p = SHIM_ViewOf(parent);
    if (!p || p->subviews().empty()) return nullptr;
    cand = p->subviews().front();
  }
  const bool wantStatic = className && strcasecmp(className, "Static") == 0;
  for (; cand; cand = GetWindow(cand, GW_HWNDNEXT)) {
    if (wantStatic && !cand->as<cocoa::TextField>()) continue;
    if (!windowName) return cand;
    char text[512];
    GetDlgItemText(cand, 0, text, sizeof(text));
    if (std::strcmp(text, windowName) == 0) return cand;
  }
  return nullptr;
}

void SHIM_HideApp() {
  // Each window is kept alive for the walk: hiding the key window tells its procedure, which may destroy others.
  for (cocoa::Window* w : cocoa::RetainedWindows(false)) w->orderOut();
}

BOOL SHIM_GetGestureInfo(LPARAM lParam, GESTUREINFO* out) {
  if (!lParam || !out) return FALSE;
  std::memcpy(out, reinterpret_cast<const GESTUREINFO*>(lParam), sizeof(GESTUREINFO));
  return TRUE;
}

BOOL SetProp(HWND hwnd, const char* name, void* value) {
  auto* h = hwnd ? hwnd->as<Shim_vVexmir_hwnd>() : nullptr;
  return h && h->shimSetProp(name, value) ? TRUE : FALSE;
}

void* GetProp(HWND hwnd, const char* name) {
  auto* h = hwnd ? hwnd->as<Shim_vVexmir_hwnd>() : nullptr;
  return h ? h->shimGetProp(name, false) : nullptr;
}

void* RemoveProp(HWND hwnd, const char* name) {
  auto* h = hwnd ? hwnd->as<Shim_vVexmir_hwnd>() : nullptr;
  return h ? h->shimGetProp(name, true) : nullptr;
}

int EnumPropsEx(HWND hwnd, PROPENUMPROCEX proc, LPARAM lParam) {
  auto* h = hwnd ? hwnd->as<Shim_vVexmir_hwnd>() : nullptr;
  return h ? h->shimEnumProps(proc, lParam) : -1;
}

// ---------------------------------------------------------------------------------------------------------------
// Window queries

HWND GetFocus() {
  cocoa::Window* kw = cocoa::application::keyWindow();
  if (!kw || !kw->firstResponder()) return nullptr;
  cocoa::View* fr = kw->firstResponder();
  if (auto f = SHIM_Internal_ControlHooks().fieldOfEditor) {
    if (HWND field = f(fr)) return field;
  }
  return fr;
}

HWND GetParent(HWND hwnd) {
  if (!hwnd) return nullptr;
  HWND h = hwnd;
  if (auto* v = hwnd->as<cocoa::View>()) {
    cocoa::View* s = scrollViewAround(v);
    if (s) v = s;
    if (!SHIM_IsContentView(v)) return v->superview();
    h = v->window();
    if (!h) return nullptr;
  }
  if (auto* w = h->as<cocoa::Window>()) {
    if (w->parentWindow() && w->parentWindow()->contentView()) return w->parentWindow()->contentView();
  }
  if (auto* list = h->as<SHIM_OwnedWindowList>()) {
    HWND owner = list->shimGetOwner();
    if (owner) {
      if (auto* ow = owner->as<cocoa::Window>()) return ow->contentView();
    }
    return owner;
  }
  return nullptr;
}

void ScreenToClient(HWND hwnd, POINT* pt) {
  if (!hwnd || !pt) return;
  cocoa::View* v = SHIM_ViewOf(hwnd);
  if (!v) return;
  const cocoa::Point p = v->convertFromScreen(cocoa::Point{static_cast<double>(pt->x), static_cast<double>(pt->y)});
  pt->x = SHIM_RoundPoint(p.x);
  pt->y = SHIM_RoundPoint(p.y);
}
