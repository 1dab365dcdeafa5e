// Window geometry: rectangles in screen and client coordinates, the screen holding a point, moving, sizing and
// re-stacking, scrolling children, repaint marks, system metrics and modal sessions.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "KIT/shim/shim-hwnd.h"
#include "KIT/shim/shim-sys.h"
#include "platform/cocoa/modal.h"
#include "platform/cocoa/scrollview.h"
#include "platform/cocoa/textview.h"

namespace {

cocoa::View* scrolledOrSelf(cocoa::View* v) {
  auto f = SHIM_Internal_ControlHooks().enclosingScrollView;
  cocoa::View* s = f ? f(v) : nullptr;
  return s ? s : v;
}

RECT rectOf(const cocoa::Rect& r) {
  RECT out;
  out.left = SHIM_TruncEdge(r.x);
  out.top = SHIM_TruncEdge(r.y);
  out.right = SHIM_RoundEdge(r.x, r.w);
  out.bottom = SHIM_RoundEdge(r.y, r.h);
  return out;
}

}  // namespace

void ClientToScreen(HWND hwnd, POINT* pt) {
  if (!pt) return;
  cocoa::View* v = SHIM_ViewOf(hwnd);
  if (!v) return;
  const cocoa::Point p = v->convertToScreen(cocoa::Point{static_cast<double>(pt->x), static_cast<double>(pt->y)});
  pt->x = SHIM_RoundPoint(p.x);
  pt->y = SHIM_RoundPoint(p.y);
}

BOOL GetWindowRect(HWND hwnd, RECT* r) {
  if (!r) return FALSE;
  std::memset(r, 0, sizeof(*r));
  if (!hwnd) return FALSE;
  HWND h = hwnd;
  if (auto* v = h->as<cocoa::View>()) {
    if (SHIM_IsContentView(v)) h = v->window();
  }
  if (auto* w = h->as<cocoa::Window>()) {
    *r = rectOf(w->frame());
    return TRUE;
  }
  auto* v = h->as<cocoa::View>();
  if (!v) return FALSE;
  v = scrolledOrSelf(v);
  const RECT b = rectOf(v->bounds());
  POINT a{b.left, b.top}, c{b.right, b.bottom};
  ClientToScreen(v, &a);
  ClientToScreen(v, &c);
  *r = RECT{a.x, a.y, c.x, c.y};
  return TRUE;
}

void GetWindowContentViewRect(HWND hwnd, RECT* r) {
  if (!r) return;
  HWND h = hwnd;
  if (h) {
    if (auto* v = h->as<cocoa::View>()) {
      if (SHIM_IsContentView(v)) h = v->window();
    }
  }
  auto* w = h ? h->as<cocoa::Window>() : nullptr;
  if (!w) {
    GetWindowRect(hwnd, r);
    return;
  }
  std::memset(r, 0, sizeof(*r));
  if (!w->contentView()) return;
  const RECT b = rectOf(w->contentView()->bounds());
  POINT a{b.left, b.top}, c{b.right, b.bottom};
  ClientToScreen(w, &a);
  ClientToScreen(w, &c);
  *r = RECT{a.x, a.y, c.x, c.y};
}

void GetClientRect(HWND hwnd, RECT* r) {
  if (!r) return;
  std::memset(r, 0, sizeof(*r));
  cocoa::View* v = SHIM_ViewOf(hwnd);
  if (!v) return;
  v = scrolledOrSelf(v);
  *r = rectOf(v->bounds());
  NCCALCSIZE_PARAMS p;
  std::memset(&p, 0, sizeof(p));
  p.rgrc[0] = *r;
  SendMessage(hwnd, WM_NCCALCSIZE, 0, reinterpret_cast<LPARAM>(&p));
  r->right = platform::satInt(r->left + SHIM_RectWidth(p.rgrc[0]));
  r->bottom = platform::satInt(r->top + SHIM_RectHeight(p.rgrc[0]));
}

void SHIM_GetViewPort(RECT* r, const RECT* source, bool workArea) {
  if (!r) return;
  const std::vector<cocoa::screen::Info> screens = cocoa::screen::screens();
  if (screens.empty()) {
    *r = RECT{0, 0, 1600, 1200};
    return;
  }
  const double px = source ? static_cast<double>(source->left + SHIM_RectWidth(*source) / 2) : 0;
  const double py = source ? static_cast<double>(source->top + SHIM_RectHeight(*source) / 2) : 0;
  for (size_t i = 0; i < screens.size(); ++i) {
    const cocoa::screen::Info& s = screens[i];
    const cocoa::Rect f = workArea ? cocoa::Rect{s.vx, s.vy, s.vw, s.vh} : cocoa::Rect{s.x, s.y, s.w, s.h};
    const bool inside = px >= f.x && px < f.x + f.w && py >= f.y && py < f.y + f.h;
    if (i == 0 || inside) *r = rectOf(f);
  }
}

void SetWindowPos(HWND hwnd, HWND after, int x, int y, int cx, int cy, int flags) {
  if (!hwnd) return;
  HWND h = hwnd;
  if (auto* v = h->as<cocoa::View>()) {
    if (SHIM_IsContentView(v)) h = v->window();
  }
  auto* win = h->as<cocoa::Window>();
  auto* view = win ? nullptr : h->as<cocoa::View>();
  if (!win && !view) return;
  if (view) view = scrolledOrSelf(view);
  SHIM_Hold hold(win ? static_cast<cocoa::Object*>(win) : view);

  if (view && !(flags & SWP_NOZORDER) && view->superview() && after != view && after != HWND_TOPMOST &&
      after != HWND_NOTOPMOST) {
    cocoa::View* sup = view->superview();
    const std::vector<cocoa::View*>& sibs = sup->subviews();
    const int n = static_cast<int>(sibs.size());
    const int i = static_cast<int>(std::find(sibs.begin(), sibs.end(), view) - sibs.begin());
    int position = 0;
    cocoa::View* relative = nullptr;
    if (n >= 2) {
      if (after == HWND_TOP) {
        if (i != n - 1) {
          position = 1;
          relative = sibs.back();
        }
      } else if (after == HWND_BOTTOM) {
        if (i != 0) {
          position = -1;
          relative = sibs.front();
        }
      } else {
        auto it = std::find(sibs.begin(), sibs.end(), after);
        if (it != sibs.end() && static_cast<int>(it - sibs.begin()) != i - 1) {
          position = 1;
          relative = *it;
        }
      }
    }
    HWND cap = GetCapture();
    auto* capView = cap ? cap->as<cocoa::View>() : nullptr;
    if (relative && !(capView && capView->isDescendantOf(view))) {
      cocoa::Window* w = view->window();
      cocoa::View* fr = w ? w->firstResponder() : nullptr;
      const bool keepFocus = fr && fr->isDescendantOf(view);
      view->retain();
      view->detach();
      sup->addSubview(view, position, relative);
      if (keepFocus) w->makeFirstResponder(fr);
      view->release();
    }
  }
  cocoa::Rect f = win ? win->frame() : view->frame();
  if (!(flags & SWP_NOMOVE)) {
    f.x = x;
    f.y = y;
  }
  if (!(flags & SWP_NOSIZE)) {
    // A negative height is taken as its size; a negative width is refused, and with it the whole call (a move
    // without the size asked for with it would be half a change). So are a height without a positive counterpart
    // and, for views as for windows, a side beyond the largest window the platform makes.
    const double most = cocoa::kMaxWindowSide;
    if (cx < 0 || cy == INT_MIN || cx > most || std::abs(cy) > most) return;
    f.w = cx;
    f.h = std::abs(cy);
  }
  if ((flags & SWP_NOMOVE) && (flags & SWP_NOSIZE)) return;
  if (view) {
    view->setFrame(f);
    // A text view scrolled in the view follows its width, and its height, where no scroller lets it run on.
    auto* sv = view->as<cocoa::ScrollView>();
    cocoa::View* doc = sv ? sv->documentView() : nullptr;
    auto* textView = doc ? doc->as<cocoa::TextView>() : nullptr;
    if (textView && !(sv->hasHorizontalScroller && sv->hasVerticalScroller)) {
      const cocoa::Rect content = sv->contentSize();
      cocoa::Rect tf = textView->frame();
      if (!sv->hasHorizontalScroller) tf.w = content.w;
      if (!sv->hasVerticalScroller) tf.h = content.h;
      textView->setFrame(tf);
    }
    return;
  }
  const cocoa::Point mn = win->minSize(), mx = win->maxSize();
  if (f.w < mn.x) {
    f.w = mn.x;
  } else if (f.w > mx.x) {
    f.w = mx.x;
  }
  if (f.h < mn.y) {
    f.h = mn.y;
  } else if (f.h > mx.y) {
    f.h = mx.y;
  }
  win->setFrame(f, false);
  win->displayIfNeeded();
}

void InvalidateRect(HWND hwnd, const RECT* r, int) {
  cocoa::View* v = SHIM_ViewOf(hwnd);
  if (!v) return;
  auto* hv = v->as<Shim_vVexmir_hwnd>();
  bool walk = true;
  if (hv) {
    if (hv->dirtyBits() & 1) {
      walk = false;
    } else {
      hv->setDirtyBits(hv->dirtyBits() | 1);
    }
  }
  if (walk) {
    for (cocoa::View* s = v->superview(); s; s = s->superview()) {
      auto* sh = s->as<Shim_vVexmir_hwnd>();
      if (!sh) continue;
      if (sh->dirtyBits() & 2) break;
      sh->setDirtyBits(sh->dirtyBits() | 2);
    }
  }
  if (!r) {
    v->setNeedsDisplay(true);
    return;
  }
  const int top = std::min(r->top, r->bottom);
  v->setNeedsDisplayInRect(cocoa::Rect{static_cast<double>(r->left), static_cast<double>(top),
                                       static_cast<double>(SHIM_RectWidth(*r)),
                                       static_cast<double>(std::abs(SHIM_RectHeight(*r)))});
}

BOOL ScrollWindow(HWND hwnd, int dx, int dy, const RECT*, const RECT*) {
  cocoa::View* v = SHIM_ViewOf(hwnd);
  if (!v || (dx == 0 && dy == 0)) return FALSE;
  std::vector<cocoa::View*> subs = v->subviews();
  for (cocoa::View* s : subs) {
    cocoa::Rect f = s->frame();
    f.x += dx;
    f.y += dy;
    s->setFrame(f);
  }
  v->setNeedsDisplay(true);
  return TRUE;
}

int GetSystemMetrics(int index) {
  switch (index) {
    case SM_CXSCREEN:
    case SM_CYSCREEN: {
      const auto screens = cocoa::screen::screens();
      if (screens.empty()) return 1024;
      return platform::intCoord(index == SM_CXSCREEN ? screens[0].w : screens[0].h);
    }
    case 2:
    case 3:
    case 20:
    case 21:
      return 16;
    default:
      return 0;
  }
}

void* SHIM_ModalWindowStart(HWND hwnd) {
  if (!hwnd) return nullptr;
  cocoa::Window* w = hwnd->as<cocoa::Window>();
  if (!w) {
    auto* v = hwnd->as<cocoa::View>();
    w = v ? v->window() : nullptr;
  }
  return w ? cocoa::modal::beginSession(w) : nullptr;
}

BOOL SHIM_ModalWindowRun(void* session, int* response) {
  if (!session) return FALSE;
  const int r = cocoa::modal::runSession(static_cast<cocoa::ModalSession*>(session));
  if (r == cocoa::kModalResponseContinue) return TRUE;
  if (response) *response = r;
  return FALSE;
}

void SHIM_ModalWindowEnd(void* session) {
  if (!session) return;
  auto* s = static_cast<cocoa::ModalSession*>(session);
  if (cocoa::modal::runSession(s) == cocoa::kModalResponseContinue) {
    cocoa::modal::stop();
    // A session that keeps answering that it continues is waited for a bounded time (about two seconds), not
    // forever: the caller's thread must not hang on it.
    for (int i = 0; i < 200 && cocoa::modal::runSession(s) == cocoa::kModalResponseContinue; ++i) Sleep(10);
  }
  cocoa::modal::endSession(s);
}

void SHIM_CloseWindow(HWND hwnd) {
  if (!hwnd) return;
  if (auto* w = hwnd->as<cocoa::Window>()) {
    w->close();
  } else if (auto* v = hwnd->as<cocoa::View>()) {
    if (v->window()) v->window()->close();
  }
}
