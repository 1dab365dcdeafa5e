// The window view Shim_vVexmir_hwnd: its state, creation, message entry and destruction, properties, painting
// through WM_PAINT, and its input: keys, mouse with capture and non-client hit testing, wheel, gestures, timers,
// the actions and notifications of child controls, focus and dropped files.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <map>

#include "KIT/shim/shim-dlggen.h"
#include "KIT/shim/shim-gdi-internal.h"
#include "KIT/shim/shim-hosted.h"
#include "KIT/shim/shim-hwnd.h"
#include "KIT/shim/shim-kb.h"
#include "KIT/shim/shim-menu.h"
#include "KIT/shim/shim-objects.h"
#include "KIT/shim/shim-sys.h"
#include "platform/cocoa/controls.h"
#include "platform/cocoa/cursor.h"
#include "platform/cocoa/modal.h"
#include "platform/cocoa/opengl.h"
#include "platform/cocoa/panels.h"
#include "platform/cocoa/scrollview.h"
#include "platform/cocoa/tableview.h"

namespace {

// Views that hold each menu, so that destroying a menu leaves none of them pointing at it.
std::map<HMENU, std::vector<Shim_vVexmir_hwnd*>>& menuHolders() {
  static auto* m = new std::map<HMENU, std::vector<Shim_vVexmir_hwnd*>>;
  return *m;
}

void forgetHolder(HMENU menu, Shim_vVexmir_hwnd* view) {
  auto it = menuHolders().find(menu);
  if (it == menuHolders().end()) return;
  auto& v = it->second;
  v.erase(std::remove(v.begin(), v.end(), view), v.end());
  if (v.empty()) menuHolders().erase(it);
}

int g_accessibilityAsks = 0;

// The contexts of the paints in progress, innermost last: a paint may run inside another view's paint.
std::vector<HDC>& paintsInProgress() {
  static auto* v = new std::vector<HDC>;
  return *v;
}

bool noForwardMouseMoves = false;

}  // namespace

namespace {
// Through the platform's single precision; a value beyond it saturates.
float asFloat(double v) {
  return static_cast<float>(std::clamp(v, -static_cast<double>(FLT_MAX), static_cast<double>(FLT_MAX)));
}
}  // namespace

int SHIM_TruncEdge(double v) {
  return platform::intCoord(asFloat(v));
}

int SHIM_RoundEdge(double origin, double size) {
  return platform::intCoord(static_cast<double>(asFloat(origin) + asFloat(size)) + 0.5);
}

int SHIM_RoundPoint(double v) {
  return platform::intCoord(v + 0.5);
}

WPARAM SHIM_CommandParam(int id, int code) {
  return static_cast<WPARAM>(static_cast<uint16_t>(id)) | (static_cast<WPARAM>(static_cast<uint16_t>(code)) << 16);
}

LPARAM SHIM_PointParam(int x, int y) {
  const auto clamp16 = [](int v) { return static_cast<uint16_t>(std::min(32767, std::max(-32768, v))); };
  return static_cast<LPARAM>((static_cast<uint32_t>(clamp16(y)) << 16) | clamp16(x));
}

cocoa::View* SHIM_ViewOf(HWND hwnd) {
  if (!hwnd) return nullptr;
  if (auto* w = hwnd->as<cocoa::Window>()) return w->contentView();
  return hwnd->as<cocoa::View>();
}

bool SHIM_IsContentView(cocoa::View* v) {
  return v && v->window() && v->window()->contentView() == v;
}

Shim_vVexmir_hwnd* SHIM_WindowViewOf(HWND hwnd) {
  cocoa::View* v = SHIM_ViewOf(hwnd);
  return v ? v->as<Shim_vVexmir_hwnd>() : nullptr;
}

void SHIM_Internal_ForgetMenu(HMENU menu) {
  if (!menu) return;
  auto it = menuHolders().find(menu);
  if (it != menuHolders().end()) {
    const std::vector<Shim_vVexmir_hwnd*> holders = it->second;
    menuHolders().erase(it);
    for (Shim_vVexmir_hwnd* v : holders) v->shimSetMenu(nullptr);
  }
  if (cocoa::application::mainMenu() == SHIM_MenuObject(menu)) cocoa::application::setMainMenu(nullptr);
}

bool SHIM_Internal_IsPaintContext(HDC hdc) {
  const std::vector<HDC>& p = paintsInProgress();
  return hdc && std::find(p.begin(), p.end(), hdc) != p.end();
}

int SHIM_Internal_AccessibilityAsks() {
  return g_accessibilityAsks;
}

// ---------------------------------------------------------------------------------------------------------------
// Creation and state

Shim_vVexmir_hwnd* Shim_vVexmir_hwnd::initChild(const SHIM_DialogResourceIndex* res, cocoa::Object* parent,
                                                DLGPROC proc, LPARAM param) {
  const cocoa::Rect frame = res ? cocoa::Rect{0, 0, static_cast<double>(std::max(0, res->width)),
                                              static_cast<double>(std::max(0, res->height))}
                                : cocoa::Rect{0, 0, 300, 200};
  return initView(new Shim_vVexmir_hwnd(frame), res, parent, proc, param);
}

Shim_vVexmir_hwnd* Shim_vVexmir_hwnd::initView(Shim_vVexmir_hwnd* v, const SHIM_DialogResourceIndex* res,
                                               cocoa::Object* parent, DLGPROC proc, LPARAM param) {
  v->m_wndproc = ShimDialogDefaultWindowProc;
  if (res) {
    v->m_isopaque = (res->windowTypeFlags & 0x10) ? 1 : 0;
    v->m_flip = (res->windowTypeFlags & 0x4) ? 1 : 0;
    v->m_supports_ddrop = (res->windowTypeFlags & 0x20) != 0;
  }
  v->setHidden(true);
  if (parent) {
    if (auto* panel = parent->as<cocoa::SavePanel>()) {
      panel->setAccessoryView(v);
      v->setHidden(false);
    } else if (auto* w = parent->as<cocoa::Window>()) {
      w->setContentView(v);
    } else if (auto* pv = parent->as<cocoa::View>()) {
      pv->addSubview(v);
    }
  }
  if (res) {
    if (res->createFunc) {
      // A dialog built while another one is being built keeps the outer builder state intact.
      void* saved = SHIM_Internal_SaveBuilderState();
      res->createFunc(v, res->windowTypeFlags);
      SHIM_Internal_RestoreBuilderState(saved);
    }
    v->m_dlgproc = proc;
  } else if (proc) {
    v->m_wndproc = reinterpret_cast<WNDPROC>(proc);
    v->m_wndproc(v, WM_CREATE, 0, param);
  }
  if (!v->m_dlgproc) return v;

  // A scroll view counts as its document view (the list, tree or text view inside it).
  cocoa::View* candidate = nullptr;
  for (cocoa::View* s : v->subviews()) {
    cocoa::View* c = s;
    if (auto* sv = s->as<cocoa::ScrollView>()) c = sv->documentView();
    if (c && c->acceptsFirstResponder()) {
      candidate = c;
      break;
    }
  }
  // The procedure may destroy the candidate (or anything else): it must still be in this window to get the focus.
  if (candidate) candidate->retain();
  INT_PTR r = v->m_dlgproc(v, WM_INITDIALOG, reinterpret_cast<WPARAM>(candidate), param);
  cocoa::Window* w = v->window();
  if (candidate) {
    cocoa::View* c = candidate;
    if (!w || c->window() != w || v->shimHasBeenDestroyed()) candidate = nullptr;
    c->release();
  }
  if (r) {
    if (r == 0xBEEF) candidate = v;
    if (candidate && w && w->firstResponder() != candidate) w->makeFirstResponder(candidate);
    if (w && parent == w && !w->isVisible()) {
      if (auto* mw = w->as<Shim_vVexmir_modelesswindow>()) mw->m_wantInitialKeyWindowOnShow = true;
    }
  } else if (w && parent == w && candidate) {
    cocoa::View* fr = w->firstResponder();
    if (!fr || fr == v) w->makeFirstResponder(candidate);
  }
  if (!v->shimHasBeenDestroyed()) SHIM_DoDialogColorUpdates(v, v->m_dlgproc, false);
  return v;
}

Shim_vVexmir_hwnd::~Shim_vVexmir_hwnd() {
  m_inDealloc = true;
  KillTimer(this, 0xFFFFFFFF);
  // The last reference went without a destroy: the procedure still hears of it, as on the platform.
  if (m_hashaddestroy != 2) onShimMessage(WM_DESTROY, 0, 0);
  if (GetCapture() == this) ReleaseCapture();
  // A GL view's context goes with it.
  if (m_glctx) static_cast<cocoa::OpenGLContext*>(m_glctx)->release();
  releaseObject(m_lastTopLevelOwner);
  if (m_menu) forgetHolder(m_menu, this);
}

void Shim_vVexmir_hwnd::setLastTopLevelOwner(cocoa::Object* o) {
  if (o) o->retain();
  releaseObject(m_lastTopLevelOwner);
  m_lastTopLevelOwner = o;
}

LONG_PTR Shim_vVexmir_hwnd::getShimExtraData(int index) {
  if (index < 0 || index > 127) return 0;
  return m_extradata[index / 4];
}

void Shim_vVexmir_hwnd::setShimExtraData(int index, LONG_PTR value) {
  if (index < 0 || index > 127) return;
  m_extradata[index / 4] = value;
}

void Shim_vVexmir_hwnd::shimSetExtendedStyle(int v) {
  const bool was = m_supports_ddrop;
  m_supports_ddrop = (v & 0x10) != 0;
  (void)was;
}

void Shim_vVexmir_hwnd::shimSetMenu(HMENU menu) {
  if (m_menu == menu) return;
  if (m_menu) {
    SHIM_SetMenuDestination(m_menu, nullptr);
    forgetHolder(m_menu, this);
  }
  m_menu = menu;
  if (m_menu) {
    menuHolders()[m_menu].push_back(this);
    SHIM_SetMenuDestination(m_menu, this);
  }
}

void Shim_vVexmir_hwnd::onShimSetText(const char* text) {
  if (!text) text = "";
  lstrcpyn(m_titlestr, text, static_cast<int>(sizeof(m_titlestr)));
}

void Shim_vVexmir_hwnd::getShimPaintInfo(PAINTSTRUCT* ps) {
  if (!ps || !m_paintctx_hdc) return;
  m_paintctx_used = true;
  ps->hdc = m_paintctx_hdc;
  ps->fErase = 0;
  ps->rcPaint.left = platform::intCoord(m_paintctx_rect.x);
  ps->rcPaint.top = platform::intCoord(m_paintctx_rect.y);
  ps->rcPaint.right = platform::intCoord(std::ceil(m_paintctx_rect.x + m_paintctx_rect.w));
  ps->rcPaint.bottom = platform::intCoord(std::ceil(m_paintctx_rect.y + m_paintctx_rect.h));
}

// ---------------------------------------------------------------------------------------------------------------
// Properties

int Shim_vVexmir_hwnd::shimSetProp(const char* key, void* value) {
  const bool isString = reinterpret_cast<uintptr_t>(key) >= 0x10000;
  for (WindowPropRec& p : m_props) {
    if (p.isString == isString && (isString ? p.name == key : p.atom == reinterpret_cast<uintptr_t>(key))) {
      p.value = value;
      return 1;
    }
  }
  WindowPropRec rec;
  rec.isString = isString;
  if (isString) {
    rec.name = key;
  } else {
    rec.atom = reinterpret_cast<uintptr_t>(key);
  }
  rec.value = value;
  m_props.insert(m_props.begin(), rec);
  return 1;
}

void* Shim_vVexmir_hwnd::shimGetProp(const char* key, bool remove) {
  const bool isString = reinterpret_cast<uintptr_t>(key) >= 0x10000;
  for (auto it = m_props.begin(); it != m_props.end(); ++it) {
    if (it->isString == isString && (isString ? it->name == key : it->atom == reinterpret_cast<uintptr_t>(key))) {
      void* v = it->value;
      if (remove) m_props.erase(it);
      return v;
    }
  }
  return nullptr;
}

int Shim_vVexmir_hwnd::shimEnumProps(PROPENUMPROCEX proc, LPARAM lp) {
  if (m_props.empty()) return -1;
  if (!proc) return 1;
  // The walk goes over a copy, so that a callback that removes (or adds) properties cannot pull the list from
  // under it.
  const std::vector<WindowPropRec> snapshot = m_props;
  retain();
  int result = 1;
  for (const WindowPropRec& p : snapshot) {
    const char* key = p.isString ? p.name.c_str() : reinterpret_cast<const char*>(p.atom);
    if (!proc(this, key, p.value, lp)) {
      result = 0;
      break;
    }
  }
  release();
  return result;
}

// ---------------------------------------------------------------------------------------------------------------
// Messages and destruction

LRESULT Shim_vVexmir_hwnd::onShimMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (m_hashaddestroy == 2) return 0;
  if (m_hashaddestroy && (msg == WM_DESTROY || msg == WM_CAPTURECHANGED)) return 0;
  if (msg != WM_DESTROY) {
    if (!m_wndproc) return 0;
    if (m_inDealloc) return m_wndproc(this, msg, wParam, lParam);
    // The procedure may destroy this window (a dialog procedure, then the default procedure, still use it after).
    retain();
    const LRESULT r = m_wndproc(this, msg, wParam, lParam);
    release();
    return r;
  }

  if (!m_inDealloc) retain();
  m_hashaddestroy = 1;
  if (GetCapture() == this) ReleaseCapture();
  SHIM_MessageQueue_Clear(this);
  const LRESULT r = m_wndproc ? m_wndproc(this, msg, wParam, lParam) : 0;
  if (SHIM_IsContentView(this)) {
    if (auto* owned = window()->as<SHIM_OwnedWindowList>()) owned->shimDestroyAllOwnedWindows();
  }
  if (GetCapture() == this) ReleaseCapture();
  SHIM_MessageQueue_Clear(this);
  if (m_menu) {
    HMENU menu = m_menu;
    if (!g_shim_terminating && cocoa::application::mainMenu() == SHIM_MenuObject(menu)) {
      cocoa::application::setMainMenu(nullptr);
    }
    shimSetMenu(nullptr);
    DestroyMenu(menu);
  }
  // The children hear of it over a retained copy of the list: their handlers may change it.
  std::vector<cocoa::View*> subs = subviews();
  for (cocoa::View* s : subs) s->retain();
  for (cocoa::View* s : subs) {
    if (auto* m = s->as<SHIM_MessageReceiver>()) m->onShimMessage(WM_DESTROY, 0, 0);
    s->release();
  }
  KillTimer(this, 0xFFFFFFFF);
  m_hashaddestroy = 2;
  if (!m_inDealloc) release();
  return r;
}

// ---------------------------------------------------------------------------------------------------------------
// Drawing, geometry and dirty bits

void Shim_vVexmir_hwnd::drawRect(cocoa::Rect dirty) {
  HDC hdc = SHIM_CreateGfxContext(cocoa::graphicsContext::currentPort());
  drawImpl(dirty, hdc);
  SHIM_Internal_EndPaintContext(hdc);
  m_isdirty = 0;
}

void Shim_vVexmir_hwnd::drawImpl(cocoa::Rect rect, HDC hdc) {
  if (m_hashaddestroy || !m_wndproc) return;
  retain();
  paintsInProgress().push_back(hdc);
  m_paintctx_hdc = hdc;
  // A GL view draws through its OpenGL context, bound to the view, current and following its size for the paint;
  // it stays for the paint even when the procedure turns GL off meanwhile.
  auto* gl = static_cast<cocoa::OpenGLContext*>(m_glctx);
  if (gl && SHIM_GDP_CtxValid(hdc)) {
    gl->retain();
    hdc->GLgfxctx = gl;
    gl->setView(this);
    gl->makeCurrentContext();
    gl->update();
  }
  m_paintctx_rect = rect;
  m_paintctx_used = false;
  RECT wr;
  GetWindowRect(this, &wr);
  if (wr.bottom < wr.top) std::swap(wr.top, wr.bottom);
  NCCALCSIZE_PARAMS p;
  std::memset(&p, 0, sizeof(p));
  p.rgrc[0] = wr;
  m_wndproc(this, WM_NCCALCSIZE, 0, reinterpret_cast<LPARAM>(&p));
  const RECT cr = p.rgrc[0];
  if (!m_hashaddestroy) m_wndproc(this, WM_NCPAINT, 1, 0);
  m_paintctx_rect.x += static_cast<double>(cr.left) - wr.left;
  m_paintctx_rect.y += static_cast<double>(cr.top) - wr.top;
  if (!m_hashaddestroy && m_paintctx_rect.w >= 1 && m_paintctx_rect.h >= 1) {
    if (std::memcmp(&cr, &wr, sizeof(RECT)) != 0) {
      SHIM_PushClipRegion(hdc);
      RECT client;
      GetClientRect(this, &client);
      SHIM_SetClipRegion(hdc, &client);
      m_wndproc(this, WM_PAINT, reinterpret_cast<WPARAM>(hdc), 0);
      SHIM_PopClipRegion(hdc);
    } else {
      m_wndproc(this, WM_PAINT, reinterpret_cast<WPARAM>(hdc), 0);
    }
  }
  if (gl) {
    if (cocoa::OpenGLContext::currentContext() == gl) cocoa::OpenGLContext::clearCurrentContext();
    gl->release();
  }
  m_paintctx_hdc = nullptr;
  auto& paints = paintsInProgress();
  auto it = std::find(paints.rbegin(), paints.rend(), hdc);
  if (it != paints.rend()) paints.erase(std::next(it).base());
  release();
}

void Shim_vVexmir_hwnd::setFrame(cocoa::Rect frame) {
  cocoa::View::setFrame(frame);
  if (!m_hashaddestroy && m_wndproc) m_wndproc(this, WM_SIZE, 0, 0);
  InvalidateRect(GetParent(this), nullptr, false);
}

void Shim_vVexmir_hwnd::viewDidHide() {
  if (!m_hashaddestroy && m_wndproc) m_wndproc(this, WM_SHOWWINDOW, 0, 0);
}

void Shim_vVexmir_hwnd::viewDidUnhide() {
  if (!m_hashaddestroy && m_wndproc) m_wndproc(this, WM_SHOWWINDOW, 1, 0);
}

void Shim_vVexmir_hwnd::didAddSubview(cocoa::View*) {
  for (cocoa::View* v = this; v; v = v->superview()) {
    auto* h = v->as<Shim_vVexmir_hwnd>();
    if (!h) continue;
    if (h->m_isdirty & 2) break;
    h->m_isdirty |= 2;
  }
}

void Shim_vVexmir_hwnd::willRemoveSubview(cocoa::View*) {
  m_isdirty |= 3;
  setNeedsDisplay(true);
  for (cocoa::View* v = superview(); v; v = v->superview()) {
    v->setNeedsDisplay(true);
    auto* h = v->as<Shim_vVexmir_hwnd>();
    if (!h) continue;
    const bool had = (h->m_isdirty & 3) == 3;
    h->m_isdirty |= 3;
    if (had) break;
  }
}

// ---------------------------------------------------------------------------------------------------------------
// Keys, focus and mouse

bool Shim_vVexmir_hwnd::acceptsFirstResponder() {
  if (!m_enabled) return false;
  if (!window() || window()->firstResponder() != this) onShimMessage(WM_MOUSEACTIVATE, 0, 0);
  return true;
}

bool Shim_vVexmir_hwnd::acceptsFirstMouse(cocoa::Event*) {
  if (!m_enabled) return false;
  onShimMessage(WM_MOUSEACTIVATE, 0, 0);
  if (superview()) {
    if (auto* m = superview()->as<SHIM_MessageReceiver>()) m->onShimMessage(WM_MOUSEACTIVATE, 0, 0);
  }
  return true;
}

namespace {
// WM_KEYDOWN / WM_KEYUP to a live procedure; true when it took the key (any answer but 69).
bool keyTaken(Shim_vVexmir_hwnd* v, UINT msg, cocoa::Event* e) {
  WNDPROC proc = v->getShimWindowProc();
  if (v->shimHasBeenDestroyed() || !proc) return false;
  int flags = 0;
  const int key = SHIM_MacKeyToWindowsKey(e, &flags);
  return proc(v, msg, static_cast<WPARAM>(key), flags) != 69;
}
}  // namespace

void Shim_vVexmir_hwnd::keyDown(cocoa::Event* e) {
  if (!keyTaken(this, WM_KEYDOWN, e)) cocoa::View::keyDown(e);
}

void Shim_vVexmir_hwnd::keyUp(cocoa::Event* e) {
  if (!keyTaken(this, WM_KEYUP, e)) cocoa::View::keyUp(e);
}

LRESULT SHIM_SendMouseMessage(HWND hwnd, UINT msg, cocoa::Event* event) {
  auto* view = hwnd ? hwnd->as<Shim_vVexmir_hwnd>() : nullptr;
  if (!view) return 0;
  view->retain();
  HWND cap = GetCapture();
  if (cap && cap != view) {
    auto* cv = cap->as<Shim_vVexmir_hwnd>();
    if (cv && cv->window() == view->window()) {
      view->release();
      return SHIM_SendMouseMessage(cv, msg, event);
    }
  }
  LRESULT result = -1;
  WNDPROC proc = view->getShimWindowProc();
  if (!view->shimHasBeenDestroyed() && proc) {
    const cocoa::Point p = shimProcessMouseEvent(static_cast<int>(msg), view, event);
    const int x = platform::intCoord(std::floor(p.x)), y = platform::intCoord(std::floor(p.y));
    int hit = HTCLIENT;
    bool done = false;
    if (msg != WM_MOUSEWHEEL && msg != WM_MOUSEHWHEEL && !GetCapture()) {
      hit = static_cast<int>(proc(view, WM_NCHITTEST, 0, static_cast<LPARAM>(GetMessagePos())));
      if (view->shimHasBeenDestroyed()) {
        done = true;
      } else if (hit != HTCLIENT && msg >= 0x200 && msg <= 0x209) {
        result = proc(view, msg - 0x200 + 0xA0, static_cast<WPARAM>(hit), static_cast<LPARAM>(GetMessagePos()));
        done = true;
      }
    }
    if (!done) {
      if (msg == WM_MOUSEWHEEL || msg == WM_MOUSEHWHEEL) {
        const double delta = msg == WM_MOUSEWHEEL ? event->deltaY : event->deltaX;
        // Clamped to 16 bits before packing: a negative delta never shifts as a negative number.
        const double steps = std::max(-32768.0, std::min(32767.0, std::trunc(delta * 60.0)));
        const WPARAM w = static_cast<WPARAM>(static_cast<uint16_t>(static_cast<int16_t>(steps))) << 16;
        POINT cur;
        GetCursorPos(&cur);
        result = proc(view, msg, w, SHIM_PointParam(cur.x, cur.y));
      } else {
        result = proc(view, msg, 0, SHIM_PointParam(x, y));
      }
      if ((msg == 0x200 || msg == 0x202 || msg == 0x205 || msg == 0x208) && !GetCapture()) {
        LRESULT handled = 0;
        if (!view->shimHasBeenDestroyed()) {
          handled = proc(view, WM_SETCURSOR, reinterpret_cast<WPARAM>(static_cast<HWND>(view)),
                         static_cast<LPARAM>(static_cast<uint32_t>(hit) | (static_cast<uint32_t>(msg) << 16)));
        }
        if (!handled) {
          HCURSOR arrow = SHIM_LoadCursor(IDC_ARROW);
          if (SHIM_GetCursor() != arrow) SHIM_SetCursor(arrow);
        }
      }
    }
  }
  view->release();
  return result;
}

LRESULT Shim_vVexmir_hwnd::sendMouse(UINT msg, cocoa::Event* e) {
  return SHIM_SendMouseMessage(this, msg, e);
}

namespace {
void focusWindowOf(cocoa::View* v) {
  cocoa::Window* w = v->window();
  if (w && !w->isKeyWindow()) w->makeKeyWindow();
}
void restoreLastCursor() {
  HCURSOR last = SHIM_GetLastSetCursor();
  if (last && SHIM_GetCursor() != last) SHIM_SetCursor(last);
}
}  // namespace

void Shim_vVexmir_hwnd::mouseDown(cocoa::Event* e) {
  // A press anywhere ends a pending promised-file drag.
  SHIM_FinishDragDrop();
  if (!m_enabled) return;
  m_isfakerightmouse = 0;
  if ((e->modifierFlags & cocoa::kControlKeyMask) && IsRightClickEmulateEnabled()) {
    rightMouseDown(e);
    if (e->clickCount <= 1) m_isfakerightmouse = 1;
    return;
  }
  sendMouse(e->clickCount > 1 ? WM_LBUTTONDBLCLK : WM_LBUTTONDOWN, e);
}

void Shim_vVexmir_hwnd::mouseUp(cocoa::Event* e) {
  if (!m_enabled) return;
  if (m_isfakerightmouse) {
    rightMouseUp(e);
    return;
  }
  sendMouse(WM_LBUTTONUP, e);
}

void Shim_vVexmir_hwnd::mouseDragged(cocoa::Event* e) {
  if (!m_enabled) return;
  sendMouse(WM_MOUSEMOVE, e);
  restoreLastCursor();
}

void Shim_vVexmir_hwnd::rightMouseDragged(cocoa::Event* e) {
  mouseDragged(e);
}

void Shim_vVexmir_hwnd::otherMouseDragged(cocoa::Event* e) {
  mouseDragged(e);
}

void Shim_vVexmir_hwnd::rightMouseDown(cocoa::Event* e) {
  m_isfakerightmouse = 0;
  focusWindowOf(this);
  sendMouse(e->clickCount > 1 ? WM_RBUTTONDBLCLK : WM_RBUTTONDOWN, e);
}

void Shim_vVexmir_hwnd::rightMouseUp(cocoa::Event* e) {
  if (!m_enabled) return;
  m_isfakerightmouse = 0;
  sendMouse(WM_RBUTTONUP, e);
}

void Shim_vVexmir_hwnd::otherMouseDown(cocoa::Event* e) {
  focusWindowOf(this);
  sendMouse(e->clickCount > 1 ? WM_MBUTTONDBLCLK : WM_MBUTTONDOWN, e);
}

void Shim_vVexmir_hwnd::otherMouseUp(cocoa::Event* e) {
  if (!m_enabled) return;
  sendMouse(WM_MBUTTONUP, e);
}

void Shim_vVexmir_hwnd::scrollWheel(cocoa::Event* e) {
  if (!m_enabled) return;
  if (e->deltaY != 0) sendMouse(WM_MOUSEWHEEL, e);
  if (e->deltaX != 0) sendMouse(WM_MOUSEHWHEEL, e);
}

void Shim_vVexmir_hwnd::mouseMoved(cocoa::Event* e) {
  if (!noForwardMouseMoves && !GetCapture() && window()) {
    const cocoa::Point screen = window()->convertBaseToScreen(e->locationInWindow);
    cocoa::Window* under = nullptr;
    std::vector<cocoa::Window*> order = cocoa::Window::orderedWindows();
    cocoa::Window* key = cocoa::application::keyWindow();
    if (key && key->isVisible() && std::find(order.begin(), order.end(), key) == order.end()) {
      order.insert(order.begin(), key);
    }
    for (cocoa::Window* w : order) {
      const cocoa::Rect f = w->frame();
      if (screen.x >= f.x && screen.x < f.x + f.w && screen.y >= f.y && screen.y < f.y + f.h) {
        under = w;
        break;
      }
    }
    if (under && under != window() && !cocoa::modal::modalWindow()) {
      cocoa::View* cv = under->contentView();
      cocoa::View* hit = cv ? cv->hitTest(under->convertScreenToBase(screen)) : nullptr;
      if (cv && cv->as<Shim_vVexmir_hwnd>() && hit) {
        cocoa::Event* fwd =
            cocoa::Event::mouseEvent(e->type, under->convertScreenToBase(screen), e->modifierFlags, under);
        fwd->timestamp = e->timestamp;
        fwd->eventNumber = e->eventNumber;
        fwd->clickCount = e->clickCount;
        fwd->pressure = e->pressure;
        noForwardMouseMoves = true;
        hit->mouseMoved(fwd);
        noForwardMouseMoves = false;
        fwd->release();
      } else {
        HCURSOR arrow = SHIM_LoadCursor(IDC_ARROW);
        if (SHIM_GetCursor() != arrow) SHIM_SetCursor(arrow);
      }
      return;
    }
  }
  if (!noForwardMouseMoves && window() && window()->contentView()) {
    cocoa::View* hit = window()->contentView()->hitTest(e->locationInWindow);
    if (hit && hit != this) {
      noForwardMouseMoves = true;
      hit->mouseMoved(e);
      noForwardMouseMoves = false;
      return;
    }
  }
  if (m_enabled && (!GetCapture() || GetCapture() == this)) sendMouse(WM_MOUSEMOVE, e);
}

// ---------------------------------------------------------------------------------------------------------------
// Gestures

namespace {
void sendGesture(Shim_vVexmir_hwnd* v, cocoa::Event* e, DWORD id, ULONGLONG beginArg, ULONGLONG endArg, double dx,
                 double dy) {
  cocoa::Point p = v->window() ? v->window()->convertBaseToScreen(e->locationInWindow) : e->locationInWindow;
  p.x += dx;
  p.y += dy;
  GESTUREINFO gi;
  std::memset(&gi, 0, sizeof(gi));
  gi.cbSize = sizeof(GESTUREINFO);
  gi.dwID = id;
  gi.hwndTarget = v;
  const auto to16 = [](double c) { return static_cast<short>(std::max(-32768.0, std::min(32767.0, c))); };
  gi.ptsLocation.x = to16(p.x);
  gi.ptsLocation.y = to16(p.y);
  gi.dwFlags = GF_BEGIN;
  gi.ullArguments = beginArg;
  SendMessage(v, WM_GESTURE, 0, reinterpret_cast<LPARAM>(&gi));
  gi.dwFlags = GF_END;
  gi.ullArguments = endArg;
  SendMessage(v, WM_GESTURE, static_cast<WPARAM>(endArg), reinterpret_cast<LPARAM>(&gi));
}

// The value with its sign when the rounded amount came out as 0; clamped before it is converted to an integer.
long long gestureAmount(double scaled, double sign) {
  if (!std::isfinite(scaled)) scaled = 0;
  scaled = std::max(-1e9, std::min(1e9, scaled));
  long long a = static_cast<long long>(scaled);
  if (a == 0) a = sign < 0 ? -1 : 1;
  return a;
}
}  // namespace

void Shim_vVexmir_hwnd::magnifyWithEvent(cocoa::Event* e) {
  const long long a = gestureAmount(1024.0 * e->deltaZ + 0.5, e->deltaZ);
  const long long end = std::max(512LL, std::min(2048LL, 1024 + a));
  sendGesture(this, e, GID_ZOOM, 1024, static_cast<ULONGLONG>(end), 0, 0);
}

void Shim_vVexmir_hwnd::swipeWithEvent(cocoa::Event* e) {
  const cocoa::Rect b = bounds();
  double dx = 0, dy = 0;
  if (e->deltaX < 0) {
    dx = -b.w;
  } else if (e->deltaX > 0) {
    dx = b.w;
  } else if (e->deltaY < 0) {
    dy = b.h;
  } else if (e->deltaY > 0) {
    dy = -b.h;
  }
  sendGesture(this, e, GID_PAN, 0, 0, dx, dy);
}

void Shim_vVexmir_hwnd::rotateWithEvent(cocoa::Event* e) {
  long long a = gestureAmount(32767.0 * e->rotation / 60.0, e->rotation);
  long long end = a < -32767 ? 0 : std::min(65535LL, 32767 + a);
  sendGesture(this, e, GID_ROTATE, 0, static_cast<ULONGLONG>(end), 0, 0);
}

// ---------------------------------------------------------------------------------------------------------------
// Timers, commands and notifications

void Shim_vVexmir_hwnd::SHIM_Timer(cocoa::Timer* timer) {
  if (g_shim_only_timerhwnd && g_shim_only_timerhwnd != this) return;
  if (!timer || m_hashaddestroy || !m_wndproc) return;
  if (auto* sdh = timer->userInfo() ? timer->userInfo()->as<Shim_vVexmir_sdh>() : nullptr) {
    m_wndproc(this, WM_TIMER, static_cast<WPARAM>(sdh->getValue()), 0);
  }
}

void Shim_vVexmir_hwnd::onShimCommand(cocoa::Object* sender) {
  if (m_hashaddestroy || !m_wndproc || !sender) return;
  retain();
  const LPARAM control = reinterpret_cast<LPARAM>(sender);
  if (sender->as<cocoa::Slider>()) {
    m_wndproc(this, WM_HSCROLL, 0, control);
  } else if (sender->as<cocoa::TableView>() || sender->as<cocoa::ComboBox>()) {
    // Tables and combo boxes report through their own notifications.
  } else if (auto* pb = sender->as<cocoa::PopUpButton>()) {
    m_wndproc(this, WM_COMMAND, SHIM_CommandParam(pb->tag(), 1), control);
  } else if (auto* b = sender->as<cocoa::Button>()) {
    auto* radio = sender->as<SHIM_RadioButton>();
    const int flags = radio ? radio->shimGetRadioFlags() : 0;
    if (flags & 1) {
      // The set runs from the nearest earlier button that starts a set to the button before the next start.
      const std::vector<cocoa::View*>& subs = subviews();
      auto me = std::find(subs.begin(), subs.end(), static_cast<cocoa::View*>(b));
      if (me != subs.end()) {
        auto setOff = [](cocoa::View* v) -> bool {
          auto* ob = v->as<cocoa::Button>();
          if (!ob) return false;
          auto* r = v->as<SHIM_RadioButton>();
          if (r && (r->shimGetRadioFlags() & 1)) ob->setState(0);
          return true;
        };
        if (!(flags & 2)) {
          for (auto it = me; it != subs.begin();) {
            --it;
            if (!setOff(*it)) break;
            auto* r = (*it)->as<SHIM_RadioButton>();
            if (r && (r->shimGetRadioFlags() & 2)) break;
          }
        }
        for (auto it = me + 1; it != subs.end(); ++it) {
          auto* r = (*it)->as<SHIM_RadioButton>();
          if (r && (r->shimGetRadioFlags() & 2)) break;
          if (!setOff(*it)) break;
        }
        b->setState(1);
      }
    }
    m_wndproc(this, WM_COMMAND, SHIM_CommandParam(b->tag(), 0), control);
  } else if (auto* c = sender->as<cocoa::Control>()) {
    cocoa::Event* cur = cocoa::Application::shared()->currentEvent();
    const bool dbl =
        cur && (cur->type == cocoa::kLeftMouseDown || cur->type == cocoa::kLeftMouseUp) && cur->clickCount >= 2;
    m_wndproc(this, WM_COMMAND, SHIM_CommandParam(c->tag(), dbl ? 1 : 0), control);
  } else if (auto* item = sender->as<cocoa::MenuItem>()) {
    m_wndproc(this, WM_COMMAND, SHIM_CommandParam(item->tag, 0), control);
  } else if (auto* v = sender->as<cocoa::View>()) {
    m_wndproc(this, WM_COMMAND, SHIM_CommandParam(v->tag(), 0), control);
  }
  release();
}

void Shim_vVexmir_hwnd::performAction(const std::string& action, cocoa::Object* sender) {
  if (action == "onShimCommand:") {
    onShimCommand(sender);
  } else if (action == "shimOnControlDoubleClick:" && !m_hashaddestroy && m_wndproc && sender) {
    auto* v = sender->as<cocoa::View>();
    NMHDR nm;
    std::memset(&nm, 0, sizeof(nm));
    nm.hwndFrom = sender;
    nm.idFrom = static_cast<UINT_PTR>(v ? v->tag() : 0);
    nm.code = NM_DBLCLK;
    m_wndproc(this, WM_NOTIFY, nm.idFrom, reinterpret_cast<LPARAM>(&nm));
  }
}

void Shim_vVexmir_hwnd::menuNeedsUpdate(cocoa::Menu* menu) {
  // The procedure gets the layer's handle of the menu; a platform menu that is none of the layer's is not its to
  // prepare.
  HMENU handle = SHIM_MenuHandle(menu);
  if (handle && !m_hashaddestroy && m_wndproc) m_wndproc(this, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(handle), 0);
}

void Shim_vVexmir_hwnd::controlTextDidEndEditing(cocoa::TextField*) {}

void Shim_vVexmir_hwnd::controlTextDidChange(cocoa::TextField* field) {
  if (m_hashaddestroy || !m_wndproc || !field) return;
  const int code = field->as<cocoa::ComboBox>() ? 5 : EN_CHANGE;
  m_wndproc(this, WM_COMMAND, SHIM_CommandParam(field->tag(), code), reinterpret_cast<LPARAM>(field));
}

namespace {
void comboCommand(Shim_vVexmir_hwnd* v, cocoa::ComboBox* box, int code) {
  WNDPROC proc = v->getShimWindowProc();
  if (v->shimHasBeenDestroyed() || !proc || !box) return;
  proc(v, WM_COMMAND, SHIM_CommandParam(box->tag(), code), reinterpret_cast<LPARAM>(static_cast<HWND>(box)));
}
}  // namespace

void Shim_vVexmir_hwnd::comboBoxWillPopUp(cocoa::ComboBox* box) {
  comboCommand(this, box, 7);
}

void Shim_vVexmir_hwnd::comboBoxSelectionDidChange(cocoa::ComboBox* box) {
  comboCommand(this, box, 1);
}

void Shim_vVexmir_hwnd::comboBoxTextDidChange(cocoa::ComboBox* box) {
  comboCommand(this, box, 5);
}

// ---------------------------------------------------------------------------------------------------------------
// Dropped files and accessibility

namespace {
// The paths a drop hands to the window procedure: the dragged files, or the promised ones (see shimExtendedDragOp).
std::vector<std::string> droppedPaths(const SHIM_DragContents& contents, bool looking) {
  if (!contents.files.empty() || contents.promisedTypes.empty()) return contents.files;
  std::vector<std::string> out;
  if (looking) {
    for (const std::string& t : contents.promisedTypes) out.push_back("tmp." + t);
    return out;
  }
  if (!SHIM_DDrop_getDroppedFileTargetPath || !contents.writePromised) return out;
  const char* answer = SHIM_DDrop_getDroppedFileTargetPath(contents.promisedTypes.front().c_str());
  std::string folder = answer && *answer ? answer : "/tmp/";
  if (folder.back() != '/') folder += '/';
  for (const std::string& name : contents.writePromised(folder)) {
    // Only a plain name inside the folder: a source's answer never points the window procedure elsewhere.
    const std::string leaf = name.substr(name.find_last_of('/') == std::string::npos ? 0 : name.find_last_of('/') + 1);
    if (!leaf.empty() && leaf != "." && leaf != "..") out.push_back(folder + leaf);
  }
  return out;
}
}  // namespace

HANDLE Shim_vVexmir_hwnd::shimExtendedDragOp(const SHIM_DragContents& contents, cocoa::Point where, bool retGlob) {
  if (!m_supports_ddrop) return nullptr;
  const std::vector<std::string> files = droppedPaths(contents, retGlob);
  if (files.empty()) return nullptr;
  size_t size = 16 + 1;
  for (const std::string& f : files) size += f.size() + 1;
  if (size > 0x7FFFFFFF) return nullptr;
  HANDLE block = GlobalAlloc(GMEM_MOVEABLE, static_cast<int>(size));
  auto* p = static_cast<char*>(GlobalLock(block));
  if (!p) {
    GlobalFree(block);
    return nullptr;
  }
  const int32_t header[4] = {16, platform::intCoord(std::floor(where.x + 0.5)),
                             platform::intCoord(std::floor(where.y + 0.5)), 0};
  std::memcpy(p, header, sizeof(header));
  char* q = p + 16;
  for (const std::string& f : files) {
    std::memcpy(q, f.c_str(), f.size() + 1);
    q += f.size() + 1;
  }
  *q = 0;
  GlobalUnlock(block);
  if (retGlob) return block;
  onShimMessage(WM_DROPFILES, reinterpret_cast<WPARAM>(block), 0);
  GlobalFree(block);
  return reinterpret_cast<HANDLE>(1);
}

cocoa::Object* Shim_vVexmir_hwnd::accessibilityElement() {
  ++g_accessibilityAsks;
  if (m_hashaddestroy || !m_wndproc) return nullptr;
  cocoa::Object* slot = nullptr;
  m_wndproc(this, WM_GETOBJECT, 0x1001, reinterpret_cast<LPARAM>(&slot));
  return slot;
}

void (*SHIM_DDrop_onDragEnter)(HANDLE, int, int) = nullptr;
void (*SHIM_DDrop_onDragOver)(int, int) = nullptr;
void (*SHIM_DDrop_onDragLeave)() = nullptr;
const char* (*SHIM_DDrop_getDroppedFileTargetPath)(const char*) = nullptr;

namespace {
Shim_vVexmir_hwnd* dropTarget(HWND h) {
  auto* v = h ? h->as<Shim_vVexmir_hwnd>() : nullptr;
  return v && v->supportsDroppedFiles() && v->window() ? v : nullptr;
}
POINT screenPoint(cocoa::View* v, cocoa::Point pointInWindow) {
  const cocoa::Point s = v->window()->convertBaseToScreen(pointInWindow);
  return POINT{SHIM_RoundPoint(s.x), SHIM_RoundPoint(s.y)};
}
}  // namespace

int SHIM_DragEntered(HWND target, const std::vector<std::string>& files, cocoa::Point pointInWindow) {
  return SHIM_DragEnteredContents(target, SHIM_DragContents{files, {}, nullptr}, pointInWindow);
}

int SHIM_DragEnteredContents(HWND target, const SHIM_DragContents& contents, cocoa::Point pointInWindow) {
  Shim_vVexmir_hwnd* v = dropTarget(target);
  if (!v) return 0;
  if (SHIM_DDrop_onDragEnter) {
    HANDLE block = v->shimExtendedDragOp(contents, v->convertFromWindow(pointInWindow), true);
    const POINT p = screenPoint(v, pointInWindow);
    SHIM_DDrop_onDragEnter(block, p.x, p.y);
    if (block) GlobalFree(block);
  }
  return 4;
}

int SHIM_DragUpdated(HWND target, cocoa::Point pointInWindow) {
  Shim_vVexmir_hwnd* v = dropTarget(target);
  if (!v) return 0;
  if (SHIM_DDrop_onDragOver) {
    const POINT p = screenPoint(v, pointInWindow);
    SHIM_DDrop_onDragOver(p.x, p.y);
  }
  return 4;
}

void SHIM_DragExited(HWND target) {
  if (dropTarget(target) && SHIM_DDrop_onDragLeave) SHIM_DDrop_onDragLeave();
}

bool SHIM_DropFiles(HWND target, const std::vector<std::string>& files, cocoa::Point pointInWindow) {
  return SHIM_DropContents(target, SHIM_DragContents{files, {}, nullptr}, pointInWindow);
}

bool SHIM_DropContents(HWND target, const SHIM_DragContents& files, cocoa::Point pointInWindow) {
  auto* view = dropTarget(target);
  if (!view) return false;
  if (SHIM_DDrop_onDragLeave) SHIM_DDrop_onDragLeave();
  view->retain();
  cocoa::View* cv = view->window()->contentView();
  // A drag from a view of the same window marks the window for the drop's duration, so that its procedures can
  // tell a move inside the window from a drop from elsewhere.
  Shim_vVexmir_hwnd* marked = nullptr;
  if (files.source && files.source->window() == view->window() && cv) {
    marked = cv->as<Shim_vVexmir_hwnd>();
    if (marked) {
      marked->retain();
      marked->shimSetProp("SHIM_DisableWindowRepre", reinterpret_cast<void*>(1));
    }
  }
  // The view hit at the drop point, then its ancestors up to (not including) this view, are offered the drop.
  bool taken = false;
  cocoa::View* hit = cv ? cv->hitTest(pointInWindow) : nullptr;
  for (cocoa::View* v = hit; v && v != view && !taken; v = v->superview()) {
    if (auto* h = v->as<Shim_vVexmir_hwnd>()) {
      if (h->shimExtendedDragOp(files, h->convertFromWindow(pointInWindow), false)) taken = true;
    }
  }
  if (!taken) taken = view->shimExtendedDragOp(files, view->convertFromWindow(pointInWindow), false) != nullptr;
  if (marked) {
    marked->shimGetProp("SHIM_DisableWindowRepre", true);
    marked->release();
  }
  view->release();
  return taken;
}

// ---------------------------------------------------------------------------------------------------------------
// Default window procedure of dialogs and the colour pass

LRESULT ShimDialogDefaultWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* d = reinterpret_cast<DLGPROC>(GetWindowLongPtr(hwnd, DWL_DLGPROC));
  if (!d) return DefWindowProc(hwnd, msg, wParam, lParam);
  auto* view = hwnd ? hwnd->as<cocoa::View>() : nullptr;
  if (msg == WM_PAINT && view && d(hwnd, WM_ERASEBKGND, 0, 0) == 0) {
    bool opaque = view->isOpaque();
    if (view->window() && view->window()->contentView()) opaque = view->window()->contentView()->isOpaque();
    if (SHIM_IsContentView(view) || opaque) {
      PAINTSTRUCT ps;
      if (HDC hdc = BeginPaint(hwnd, &ps)) {
        const RECT r = ps.rcPaint;
        if (r.right > r.left && r.bottom > r.top) {
          const INT_PTR brush = d(hwnd, WM_CTLCOLORDLG, reinterpret_cast<WPARAM>(hdc), reinterpret_cast<LPARAM>(hwnd));
          if (brush == 0 || brush == 1) {
            if (opaque) SHIM_FillDialogBackground(hdc, &r, 3);
          } else {
            SHIM_FillRect(hdc, &r, reinterpret_cast<HBRUSH>(brush));
          }
        }
        EndPaint(hwnd, &ps);
      }
    }
  }
  const INT_PTR r = d(hwnd, msg, wParam, lParam);
  if (r) return r;
  return DefWindowProc(hwnd, msg, wParam, lParam);
}

void SHIM_DoDialogColorUpdates(HWND hwnd, DLGPROC d, bool isUpdate) {
  cocoa::View* v = SHIM_ViewOf(hwnd);
  if (!d || !v || v->subviews().empty()) return;
  // Each question is asked once for all the controls of its kind.
  auto ask = [&](UINT msg, cocoa::Object* control, bool* has, cocoa::RGBAColor* colour) {
    HDC hdc = SHIM_CreateMemContext(nullptr, 1, 1);
    d(hwnd, msg, reinterpret_cast<WPARAM>(hdc), reinterpret_cast<LPARAM>(control));
    *has = false;
    if (hdc && hdc->hasTextColor) {
      const int c = hdc->cur_text_color_int;
      *colour = cocoa::RGBAColor{((c >> 16) & 255) / 255.0, ((c >> 8) & 255) / 255.0, (c & 255) / 255.0, 1};
      *has = true;
    } else if (isUpdate) {
      *colour = cocoa::RGBAColor{0, 0, 0, 1};
      *has = true;
    }
    SHIM_DeleteGfxContext(hdc);
  };
  bool askedBtn = false, hasBtn = false, askedStatic = false, hasStatic = false;
  cocoa::RGBAColor btn, stat;
  // The procedure is asked in the middle of the walk and may destroy any of the controls (or the view): all of
  // them stay in memory until the walk is over.
  SHIM_Hold hold(v);
  std::vector<cocoa::View*> subs = v->subviews();
  for (cocoa::View* s : subs) s->retain();
  struct Release {
    std::vector<cocoa::View*>& list;
    ~Release() {
      for (cocoa::View* s : list) s->release();
    }
  } releaseAfter{subs};
  for (cocoa::View* s : subs) {
    if (auto* b = s->as<cocoa::Button>()) {
      if (!b->image()) continue;
      if (!askedBtn) {
        askedBtn = true;
        ask(WM_CTLCOLORBTN, b, &hasBtn, &btn);
      }
      if (hasBtn) {
        b->textColor = btn;
        b->hasTextColor = true;
      }
    } else if (auto* f = s->as<cocoa::TextField>()) {
      if (f->editable) continue;
      if (!askedStatic) {
        askedStatic = true;
        ask(WM_CTLCOLORSTATIC, f, &hasStatic, &stat);
      }
      if (hasStatic) f->textColor = stat;
    } else if (auto* box = s->as<cocoa::Box>()) {
      if (!askedStatic) {
        askedStatic = true;
        ask(WM_CTLCOLORSTATIC, box, &hasStatic, &stat);
      }
      if (hasStatic) box->titleColor = stat;
    }
  }
}
