// Top-level windows and dialogs: the modeless window and dialog-box classes with their owners and owned windows,
// the dialog-resource list, SHIM_DialogBox, SHIM_CreateDialog, EndDialog, frames around views, and the default
// main menus that follow the key window.
#include <algorithm>
#include <cstring>

#include "KIT/shim/shim-hwnd.h"
#include "KIT/shim/shim-menu.h"
#include "KIT/shim/shim-sys.h"
#include "platform/cocoa/modal.h"
#include "platform/cocoa/panels.h"

SHIM_DialogResourceIndex* SHIM_curmodule_dialogresource_head = nullptr;

namespace {

// The window that last resigned key status, kept by identity and serial so that a later window at the same address
// is never taken for it.
cocoa::Object* g_lastKeyWindow = nullptr;
uint64_t g_lastKeySerial = 0;
HMENU g_shim_defaultmenu = nullptr;
HMENU g_shim_defaultmenumodal = nullptr;
bool SHIM_owned_windows_levelincrease = false;

cocoa::Object* lastKeyWindow() {
  return g_lastKeyWindow && cocoa::Object::isLive(g_lastKeyWindow, g_lastKeySerial) ? g_lastKeyWindow : nullptr;
}

void setLastKeyWindow(cocoa::Object* w) {
  g_lastKeyWindow = w;
  g_lastKeySerial = w ? w->serial() : 0;
}

const SHIM_DialogResourceIndex* findResource(SHIM_DialogResourceIndex* head, const char* resid) {
  for (const SHIM_DialogResourceIndex* r = head; r; r = r->_next) {
    if (r->resid == resid) return r;
  }
  return nullptr;
}

// True when `w` is `self` or owns it somewhere down its owned lists: adding it would make a cycle.
bool ownsTransitively(cocoa::Object* w, cocoa::Object* self, int depth = 0) {
  if (!w || depth > 64) return false;
  if (w == self) return true;
  auto* list = w->as<SHIM_OwnedWindowList>();
  if (!list) return false;
  for (HWND o : list->shimOwnedWindows()) {
    if (ownsTransitively(o, self, depth + 1)) return true;
  }
  return false;
}

void registerWithOwner(cocoa::Window* w, HWND parent) {
  if (!parent) return;
  if (auto* list = parent->as<SHIM_OwnedWindowList>()) {
    list->shimAddOwnedWindow(w);
    return;
  }
  if (auto* v = parent->as<cocoa::View>()) {
    if (v->window()) {
      if (auto* list = v->window()->as<SHIM_OwnedWindowList>()) list->shimAddOwnedWindow(w);
    }
  }
}

void placeWindow(cocoa::Window* w, HWND parent, double width, double height) {
  RECT r;
  if (!parent || !GetWindowRect(parent, &r)) SHIM_GetViewPort(&r, nullptr, false);
  w->setFrame(
      cocoa::Rect{static_cast<double>(r.left) + 50, static_cast<double>(r.bottom) - 100 - height, width, height},
      false);
}

}  // namespace

void SHIM_RegisterDialogResource(SHIM_DialogResourceIndex* record) {
  if (!record) return;
  for (SHIM_DialogResourceIndex* r = SHIM_curmodule_dialogresource_head; r; r = r->_next) {
    if (r == record) return;
  }
  record->_next = SHIM_curmodule_dialogresource_head;
  SHIM_curmodule_dialogresource_head = record;
}

HMENU SHIM_GetDefaultWindowMenu() {
  return g_shim_defaultmenu;
}
void SHIM_SetDefaultWindowMenu(HMENU menu) {
  g_shim_defaultmenu = menu;
}
HMENU SHIM_GetDefaultModalWindowMenu() {
  return g_shim_defaultmenumodal;
}
void SHIM_SetDefaultModalWindowMenu(HMENU menu) {
  g_shim_defaultmenumodal = menu;
}

// ---------------------------------------------------------------------------------------------------------------
// The window classes

Shim_vVexmir_windowbase::~Shim_vVexmir_windowbase() {
  m_selfReleased = true;
  shimDoDestroyStuff();
}

void Shim_vVexmir_windowbase::releaseSelf() {
  if (m_selfReleased) return;
  m_selfReleased = true;
  release();
}

void Shim_vVexmir_windowbase::shimAddOwnedWindow(HWND w) {
  if (!w || std::find(m_ownedwnds.begin(), m_ownedwnds.end(), w) != m_ownedwnds.end()) return;
  // A window that owns this one (directly or further down) cannot become its owned window: the lists would loop.
  if (ownsTransitively(w, this)) return;
  m_ownedwnds.insert(m_ownedwnds.begin(), w);
  if (auto* list = w->as<SHIM_OwnedWindowList>()) list->shimSetOwner(this);
  if (SHIM_owned_windows_levelincrease) {
    if (auto* win = w->as<cocoa::Window>()) {
      auto* mw = w->as<Shim_vVexmir_modelesswindow>();
      win->setLevel(level() + 1 + (mw ? mw->m_wantraiseamt : 0));
    }
  }
}

void Shim_vVexmir_windowbase::shimRemoveOwnedWindow(HWND w) {
  auto it = std::find(m_ownedwnds.begin(), m_ownedwnds.end(), w);
  if (it != m_ownedwnds.end()) m_ownedwnds.erase(it);
}

void Shim_vVexmir_windowbase::shimDestroyAllOwnedWindows() {
  std::vector<HWND> owned;
  owned.swap(m_ownedwnds);
  for (HWND w : owned) {
    if (!w->tryRetain()) continue;
    DestroyWindow(w);
    w->release();
  }
}

void Shim_vVexmir_windowbase::shimResetOwnedWindowLevels() {
  if (!SHIM_owned_windows_levelincrease) return;
  for (HWND w : m_ownedwnds) {
    if (auto* win = w->as<cocoa::Window>()) {
      auto* mw = w->as<Shim_vVexmir_modelesswindow>();
      win->setLevel(level() + 1 + (mw ? mw->m_wantraiseamt : 0));
    }
    if (auto* list = w->as<SHIM_OwnedWindowList>()) list->shimResetOwnedWindowLevels();
  }
}

void Shim_vVexmir_windowbase::shimMoveOwnedWindowsTo(SHIM_OwnedWindowList* other) {
  std::vector<HWND> owned;
  owned.swap(m_ownedwnds);
  for (auto it = owned.rbegin(); it != owned.rend(); ++it) {
    if (other) other->shimAddOwnedWindow(*it);
  }
}

void Shim_vVexmir_windowbase::shimDoDestroyStuff() {
  if (lastKeyWindow() == this) setLastKeyWindow(nullptr);
  shimDestroyAllOwnedWindows();
  if (lastKeyWindow() == this) setLastKeyWindow(nullptr);
  if (m_owner) {
    HWND owner = m_owner;
    m_owner = nullptr;
    if (auto* list = owner->as<SHIM_OwnedWindowList>()) list->shimRemoveOwnedWindow(this);
    if (isKeyWindow()) {
      if (auto* ow = owner->as<cocoa::Window>()) ow->makeKeyWindow();
    }
  }
}

LRESULT Shim_vVexmir_windowbase::onShimMessage(UINT, WPARAM, LPARAM) {
  return 0;
}

bool Shim_vVexmir_windowbase::canBecomeKeyWindow() {
  return m_enabled != 0 && !g_shim_terminating;
}

void Shim_vVexmir_windowbase::resignKeyWindow() {
  if (g_shim_terminating) return;
  if (auto* m = contentView() ? contentView()->as<SHIM_MessageReceiver>() : nullptr)
    m->onShimMessage(WM_ACTIVATE, 0, 0);
  setLastKeyWindow(this);
}

void Shim_vVexmir_windowbase::becomeKeyWindow() {
  if (g_shim_terminating) return;
  cocoa::Object* previous = lastKeyWindow();
  Shim_vVexmir_hwnd* previousView = nullptr;
  if (previous && IsWindow(previous)) {
    previousView = SHIM_WindowViewOf(previous);
    if (previousView && previousView->shimHasBeenDestroyed()) previousView = nullptr;
  }
  auto* cv = contentView() ? contentView()->as<Shim_vVexmir_hwnd>() : nullptr;
  if (cv && cv->shimHasBeenDestroyed()) return;
  HMENU menu = cv ? cv->shimGetMenu() : nullptr;
  if (!menu) menu = isDialogBox() && g_shim_defaultmenumodal ? g_shim_defaultmenumodal : g_shim_defaultmenu;
  if (menu && SHIM_GetCurrentMenu() != menu) SHIM_SetCurrentMenu(menu);
  if (auto* m = contentView() ? contentView()->as<SHIM_MessageReceiver>() : nullptr) {
    m->onShimMessage(WM_ACTIVATE, 1, reinterpret_cast<LPARAM>(static_cast<HWND>(previousView)));
    m->onShimMessage(WM_MOUSEACTIVATE, 0, 0);
  }
}

bool Shim_vVexmir_windowbase::windowShouldClose() {
  if (auto* m = contentView() ? contentView()->as<SHIM_MessageReceiver>() : nullptr) {
    retain();
    if (!m->onShimMessage(WM_CLOSE, 0, 0)) m->onShimMessage(WM_COMMAND, IDCANCEL, 0);
    release();
  }
  return false;
}

void Shim_vVexmir_windowbase::windowDidMove() {
  const cocoa::Rect f = frame();
  if (auto* m = contentView() ? contentView()->as<SHIM_MessageReceiver>() : nullptr) {
    m->onShimMessage(WM_MOVE, 0, SHIM_PointParam(platform::intCoord(f.x), platform::intCoord(f.y)));
  }
}

void Shim_vVexmir_windowbase::setFrame(cocoa::Rect f, bool display) {
  cocoa::Window::setFrame(f, display);
  const int w = platform::intCoord(f.w), h = platform::intCoord(f.h);
  if (w != platform::intCoord(lastFrameSize.x) || h != platform::intCoord(lastFrameSize.y)) {
    lastFrameSize = cocoa::Point{f.w, f.h};
    cocoa::View* cv = contentView();
    if (auto* m = cv ? cv->as<SHIM_MessageReceiver>() : nullptr) m->onShimMessage(WM_SIZE, 0, 0);
    if (cv && cv->isOpaque()) InvalidateRect(cv, nullptr, false);
  }
}

cocoa::Point Shim_vVexmir_windowbase::minSize() const {
  MINMAXINFO mmi;
  std::memset(&mmi, 0, sizeof(mmi));
  const cocoa::Point base = cocoa::Window::minSize();
  mmi.ptMinTrackSize.x = platform::intCoord(base.x);
  mmi.ptMinTrackSize.y = platform::intCoord(base.y);
  if (auto* m = contentView() ? contentView()->as<SHIM_MessageReceiver>() : nullptr) {
    m->onShimMessage(WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&mmi));
  }
  return cocoa::Point{static_cast<double>(mmi.ptMinTrackSize.x), static_cast<double>(mmi.ptMinTrackSize.y)};
}

cocoa::Point Shim_vVexmir_windowbase::maxSize() const {
  MINMAXINFO mmi;
  std::memset(&mmi, 0, sizeof(mmi));
  const cocoa::Point base = cocoa::Window::maxSize();
  const auto clampMax = [](double v) { return static_cast<int>(std::min(1000000.0, std::max(1.0, v))); };
  mmi.ptMaxTrackSize.x = clampMax(base.x);
  mmi.ptMaxTrackSize.y = clampMax(base.y);
  if (auto* m = contentView() ? contentView()->as<SHIM_MessageReceiver>() : nullptr) {
    m->onShimMessage(WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&mmi));
  }
  return cocoa::Point{mmi.ptMaxTrackSize.x < 1000000 ? mmi.ptMaxTrackSize.x : base.x,
                      mmi.ptMaxTrackSize.y < 1000000 ? mmi.ptMaxTrackSize.y : base.y};
}

// ---------------------------------------------------------------------------------------------------------------
// Creation

namespace {

Shim_vVexmir_modelesswindow* makeModeless(const SHIM_DialogResourceIndex* res, HWND parent, DLGPROC proc, LPARAM param,
                                          HWND* out, unsigned forceStyles) {
  const double w = res ? res->width : 10, h = res ? res->height : 10;
  auto* win = new Shim_vVexmir_modelesswindow(cocoa::Rect{0, 0, w, h});
  placeWindow(win, parent, w, h);
  win->styleMask = res ? (forceStyles | 7 | ((res->windowTypeFlags & 2) ? 8 : 0)) : forceStyles;
  win->setAcceptsMouseMovedEvents(true);
  if (res && res->title) win->setTitle(res->title);
  registerWithOwner(win, parent);
  win->retain();
  Shim_vVexmir_hwnd* view = Shim_vVexmir_hwnd::initChild(res, win, proc, param);
  // A procedure that destroyed its window while it was being created (from WM_CREATE or WM_INITDIALOG, its title's
  // WM_SETTEXT or its first paint) gets no window: the handle would name a destroyed view, freed below.
  if (!view->shimHasBeenDestroyed()) {
    view->setCreateWindowFlags(win->styleMask);
    if (res && res->title) view->onShimSetText(res->title);
  }
  if (!view->shimHasBeenDestroyed()) win->displayIfNeeded();
  const bool destroyed = view->shimHasBeenDestroyed();
  if (out) *out = destroyed ? nullptr : view;
  view->release();  // the window keeps it
  win->release();
  return destroyed ? nullptr : win;  // holds itself until it is destroyed
}

Shim_vVexmir_dialogbox* makeDialogBox(const SHIM_DialogResourceIndex* res, HWND parent, DLGPROC proc, LPARAM param) {
  // The dialog box belongs to SHIM_DialogBox, which releases it, not to itself.
  auto* box =
      new Shim_vVexmir_dialogbox(cocoa::Rect{0, 0, static_cast<double>(res->width), static_cast<double>(res->height)});
  box->markNotSelfHeld();
  box->styleMask = 3 | ((res->windowTypeFlags & 2) ? 8 : 0);
  box->setAcceptsMouseMovedEvents(true);
  registerWithOwner(box, parent);
  if (res->title) box->setTitle(res->title);
  Shim_vVexmir_hwnd* view = Shim_vVexmir_hwnd::initChild(res, box, proc, param);
  view->setCreateWindowFlags(box->styleMask);
  if (res->title) view->onShimSetText(res->title);
  view->setHidden(false);
  view->release();
  box->displayIfNeeded();
  return box;
}

}  // namespace

HWND SHIM_CreateModelessFrameForWindow(HWND childView, HWND owner, unsigned int styleMask) {
  cocoa::View* child = childView ? childView->as<cocoa::View>() : nullptr;
  if (!child) return nullptr;
  const cocoa::Rect b = child->bounds();
  auto* win = new Shim_vVexmir_modelesswindow(cocoa::Rect{0, 0, b.w, b.h});
  placeWindow(win, owner, b.w, b.h);
  win->styleMask = styleMask;
  win->setAcceptsMouseMovedEvents(true);
  win->setContentView(child);
  child->setHidden(false);
  registerWithOwner(win, owner);
  win->displayIfNeeded();
  return win;
}

INT_PTR SHIM_DialogBox(SHIM_DialogResourceIndex* head, const char* resid, HWND parent, DLGPROC proc, LPARAM param) {
  if (!head) return -1;
  const SHIM_DialogResourceIndex* res = findResource(head, resid);
  if (!res || (res->windowTypeFlags & 1)) return -1;
  Shim_vVexmir_dialogbox* box = makeDialogBox(res, parent, proc, param);
  if (!box) return -1;
  INT_PTR result = 0;
  if (box->shimHasModalRetVal()) {
    result = box->shimGetModalRetVal();
    if (auto* m = box->contentView() ? box->contentView()->as<SHIM_MessageReceiver>() : nullptr) {
      m->onShimMessage(WM_DESTROY, 0, 0);
    }
  } else {
    cocoa::modal::runForWindow(box);
    result = box->shimHasModalRetVal() ? box->shimGetModalRetVal() : 0;
  }
  box->orderOut();
  box->release();
  return result;
}

void EndDialog(HWND hwnd, INT_PTR result) {
  if (!hwnd) return;
  cocoa::Window* w = nullptr;
  cocoa::View* view = nullptr;
  if (auto* win = hwnd->as<cocoa::Window>()) {
    w = win;
    view = win->contentView();
  } else if (auto* v = hwnd->as<cocoa::View>()) {
    w = v->window();
    view = v;
  }
  if (!w) return;
  w->retain();
  if (auto* box = w->as<Shim_vVexmir_dialogbox>()) box->shimSetModalRetVal(result);
  if (cocoa::modal::modalWindow() == w) {
    if (auto* m = view ? view->as<SHIM_MessageReceiver>() : nullptr) m->onShimMessage(WM_DESTROY, 0, 0);
    cocoa::modal::stop();
    cocoa::modal::abort();
    w->close();
  }
  w->release();
}

HWND SHIM_CreateDialog(SHIM_DialogResourceIndex* head, const char* resid, HWND parent, DLGPROC proc, LPARAM param) {
  unsigned forceStyles = 0;
  bool forceTop = false;
  const uintptr_t rv = reinterpret_cast<uintptr_t>(resid);
  if ((rv & ~static_cast<uintptr_t>(0xF)) == 0x400000) {
    const unsigned low = static_cast<unsigned>(rv & 0xF);
    forceStyles = 1 | ((low & 4) ? 0 : 2) | ((low & 2) ? 0 : 4) | ((low & 1) ? 8 : 0);
    forceTop = low != 0;
    resid = nullptr;
  }
  const SHIM_DialogResourceIndex* res = resid ? findResource(head, resid) : nullptr;
  if (resid && !res) return nullptr;
  cocoa::Object* parentView = nullptr;
  if (parent) {
    if (parent->as<cocoa::View>() || parent->as<cocoa::SavePanel>()) {
      parentView = parent;
    } else if (auto* w = parent->as<cocoa::Window>()) {
      parentView = w->contentView();
    }
  }
  if (((res && (res->windowTypeFlags & 1)) || (!res && !forceTop)) && parentView) {
    Shim_vVexmir_hwnd* v = Shim_vVexmir_hwnd::initChild(res, parentView, proc, param);
    v->setCreateWindowFlags(15);
    const bool destroyed = v->shimHasBeenDestroyed();
    // A panel's accessory keeps its own reference; a superview keeps one.
    v->release();
    return destroyed ? nullptr : v;
  }
  HWND out = nullptr;
  makeModeless(res, parent, proc, param, &out, forceStyles);
  return out;
}
