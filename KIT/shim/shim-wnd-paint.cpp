// Painting calls, window contexts, hit testing of the screen, the mouse capture, the default window procedure,
// broadcasts, dropped-file blocks and the clipboard over the platform's pasteboards.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "KIT/shim/shim-gdi-internal.h"
#include "KIT/shim/shim-hwnd.h"
#include "KIT/shim/shim-sys.h"
#include "platform/cocoa/pasteboard.h"

namespace {

HWND m_fakeCapture = nullptr;
uint64_t m_fakeCaptureSerial = 0;
bool m_capChangeNotify = false;

// The capture holder while it lives (a destroyed holder is no holder).
HWND captureHolder() {
  if (m_fakeCapture && !cocoa::Object::isLive(m_fakeCapture, m_fakeCaptureSerial)) m_fakeCapture = nullptr;
  return m_fakeCapture;
}

bool wantsCaptureNotice(HWND h) {
  auto* v = h ? h->as<Shim_vVexmir_hwnd>() : nullptr;
  return v && v->shimCapChangeNotify();
}

}  // namespace

// ---------------------------------------------------------------------------------------------------------------
// Paint bracket and window contexts

HDC BeginPaint(HWND hwnd, PAINTSTRUCT* ps) {
  if (!ps || !hwnd) return nullptr;
  std::memset(ps, 0, sizeof(*ps));
  auto* v = hwnd->as<Shim_vVexmir_hwnd>();
  if (!v) return nullptr;
  v->getShimPaintInfo(ps);
  return ps->hdc;
}

BOOL EndPaint(HWND, PAINTSTRUCT*) {
  return TRUE;
}

HDC GetDC(HWND hwnd) {
  cocoa::View* v = SHIM_ViewOf(hwnd);
  if (!v) return nullptr;
  if (auto* h = v->as<Shim_vVexmir_hwnd>()) {
    if (HDC paint = h->paintContext()) {
      if (!SHIM_GDP_CtxValid(paint)) return nullptr;
      if (paint->ctx) paint->ctx->save();
      ++paint->paintHolds;
      return paint;
    }
  }
  if (!v->window() || v->isHiddenOrHasHiddenAncestor()) return nullptr;
  // The context draws through a focus lock of its own, set up from the window's base state (not on top of whatever
  // view is drawing now), that keeps its pixels until the release: a holder may resize or destroy the window first.
  auto* lock = new cocoa::FocusLock(v);
  if (!lock->context()) {
    delete lock;
    return nullptr;
  }
  HDC ctx = SHIM_CreateGfxContext(lock->context());
  ctx->platformObject = lock;
  ctx->ctx->save();
  return ctx;
}

void SHIM_Internal_EndPaintContext(HDC hdc) {
  if (!SHIM_GDP_CtxValid(hdc)) return;
  if (hdc->paintHolds == 0) {
    SHIM_DeleteGfxContext(hdc);
    return;
  }
  // Still held through GetDC: the states those calls saved go back to the platform context, which ends with the
  // paint. The record stays, drawing nothing, until its last release.
  for (int i = 0; i < hdc->paintHolds && hdc->ctx; ++i) hdc->ctx->restore();
  hdc->ctx = nullptr;
}

HDC GetWindowDC(HWND hwnd) {
  return GetDC(hwnd);
}

int ReleaseDC(HWND hwnd, HDC ctx) {
  if (!SHIM_GDP_CtxValid(ctx)) return 0;
  if (ctx->ctx) ctx->ctx->restore();
  // A paint's own context belongs to the paint, whichever handle it is released through: it is only restored here,
  // never freed, unless its paint has ended and this is the last release it waited for.
  (void)hwnd;
  if (ctx->paintHolds > 0) {
    if (--ctx->paintHolds == 0 && !SHIM_Internal_IsPaintContext(ctx)) SHIM_DeleteGfxContext(ctx);
    return 1;
  }
  if (SHIM_Internal_IsPaintContext(ctx)) return 1;
  // Ending the lock shows what was drawn; a window that went away meanwhile answers 0.
  auto* lock = static_cast<cocoa::FocusLock*>(ctx->platformObject);
  const bool windowAlive = !lock || lock->windowAlive();
  delete lock;
  SHIM_DeleteGfxContext(ctx);
  return windowAlive ? 1 : 0;
}

void* GetNSImageFromHICON(HGDIOBJ icon) {
  if (!SHIM_GDP_ObjValid(icon) || icon->type != SHIM_GDI_BITMAP || !icon->image) return nullptr;
  return icon->image->platformImage();
}

void UpdateWindow(HWND hwnd) {
  auto* v = hwnd ? hwnd->as<cocoa::View>() : nullptr;
  if (v && v->needsDisplay() && v->window()) {
    SHIM_Hold hold(v);
    v->window()->displayIfNeeded();
  }
}

void SHIM_FlushWindow(HWND) {
  // The headless backing store is the screen: there is nothing further to flush.
}

HWND WindowFromPoint(POINT pt) {
  std::vector<cocoa::Window*> order = cocoa::Window::orderedWindows();
  cocoa::Window* key = cocoa::application::keyWindow();
  if (key && std::find(order.begin(), order.end(), key) == order.end()) order.insert(order.begin(), key);
  for (cocoa::Window* w : order) {
    if (!w->isVisible()) continue;
    const cocoa::Rect f = w->frame();
    if (pt.x >= f.x && pt.x < f.x + f.w && pt.y >= f.y && pt.y < f.y + f.h) {
      cocoa::View* cv = w->contentView();
      if (!cv) return w;
      cocoa::View* hit =
          cv->hitTest(w->convertScreenToBase(cocoa::Point{static_cast<double>(pt.x), static_cast<double>(pt.y)}));
      return hit ? hit : cv;
    }
  }
  return nullptr;
}

// ---------------------------------------------------------------------------------------------------------------
// Capture

HWND GetCapture() {
  return captureHolder();
}

HWND SetCapture(HWND hwnd) {
  HWND previous = captureHolder();
  const bool notice = m_capChangeNotify;
  m_fakeCapture = hwnd;
  m_fakeCaptureSerial = hwnd ? hwnd->serial() : 0;
  m_capChangeNotify = wantsCaptureNotice(hwnd);
  if (previous && previous != hwnd && notice) {
    SendMessage(previous, WM_CAPTURECHANGED, 0, reinterpret_cast<LPARAM>(hwnd));
  }
  return previous;
}

void ReleaseCapture() {
  HWND previous = captureHolder();
  const bool notice = m_capChangeNotify;
  m_fakeCapture = nullptr;
  m_capChangeNotify = false;
  if (previous && notice) SendMessage(previous, WM_CAPTURECHANGED, 0, 0);
}

// ---------------------------------------------------------------------------------------------------------------
// Default window procedure and broadcasts

LRESULT DefWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (!hwnd) return 0;
  switch (msg) {
    case WM_CONTEXTMENU:
    case WM_GESTURE:
    case WM_MOUSEWHEEL:
    case WM_MOUSEHWHEEL: {
      auto* v = hwnd->as<cocoa::View>();
      if (!v) return 0;
      while (true) {
        if (SHIM_IsContentView(v) || !v->superview()) return 0;
        v = v->superview();
        if (v->as<SHIM_MessageReceiver>()) return SendMessage(v, msg, wParam, lParam);
      }
    }
    case WM_NCHITTEST: {
      RECT r;
      GetWindowRect(hwnd, &r);
      POINT p{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      if (r.bottom < r.top) {
        std::swap(r.top, r.bottom);
        // In 64 bits: edges near the ends of the int range would overflow the mirror's sum.
        p.y = platform::satInt(static_cast<long long>(r.top) + r.bottom - p.y);
      }
      NCCALCSIZE_PARAMS nc;
      std::memset(&nc, 0, sizeof(nc));
      nc.rgrc[0] = r;
      SendMessage(hwnd, WM_NCCALCSIZE, 0, reinterpret_cast<LPARAM>(&nc));
      return SHIM_PtInRect(&nc.rgrc[0], p) ? HTCLIENT : 0;
    }
    case WM_NCRBUTTONUP:
      SendMessage(hwnd, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(hwnd), lParam);
      return 1;
    case WM_RBUTTONUP: {
      POINT p{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      ClientToScreen(hwnd, &p);
      HWND target = hwnd;
      HWND under = WindowFromPoint(p);
      auto* uv = under ? under->as<cocoa::View>() : nullptr;
      if (uv) {
        if (auto* w = hwnd->as<cocoa::Window>()) {
          if (uv->window() == w) target = uv;
        } else if (auto* hv = hwnd->as<cocoa::View>()) {
          if (uv->isDescendantOf(hv)) target = uv;
        }
      }
      SendMessage(hwnd, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(target), SHIM_PointParam(p.x, p.y));
      return 1;
    }
    case WM_KEYDOWN:
    case WM_KEYUP:
      return 69;
    case WM_DISPLAYCHANGE: {
      auto* v = hwnd->as<cocoa::View>();
      if (!v || v->subviews().empty()) return 0;
      std::vector<cocoa::View*> subs = v->subviews();
      for (cocoa::View* s : subs) s->retain();
      for (cocoa::View* s : subs) {
        if (auto* m = s->as<SHIM_MessageReceiver>()) m->onShimMessage(msg, wParam, lParam);
        s->release();
      }
      DLGPROC d = nullptr;
      if (auto* h = v->as<Shim_vVexmir_hwnd>()) {
        d = h->getShimDialogProc();
        if (!d) d = reinterpret_cast<DLGPROC>(h->getShimExtraData(-8));
      }
      if (d) SHIM_DoDialogColorUpdates(v, d, true);
      return 0;
    }
    default:
      return 0;
  }
}

void SHIM_BroadcastMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  // Every window, hidden ones too, each kept alive for the walk: a handler may destroy any of them.
  for (cocoa::Window* w : cocoa::RetainedWindows(true)) {
    cocoa::View* cv = w->contentView();
    if (!cv) continue;
    cv->retain();
    if (auto* m = cv->as<SHIM_MessageReceiver>()) {
      m->onShimMessage(msg, wParam, lParam);
      if (msg == WM_DISPLAYCHANGE) InvalidateRect(cv, nullptr, 0);
    }
    cv->release();
  }
}

// ---------------------------------------------------------------------------------------------------------------
// Dropped files

UINT DragQueryFile(HDROP drop, UINT index, char* buffer, UINT size) {
  if (!drop) return 0;
  const int blockSize = GlobalSize(drop);
  const char* p = static_cast<const char*>(GlobalLock(drop));
  if (!p || blockSize < 16) {
    GlobalUnlock(drop);
    return 0;
  }
  int32_t offset = 0;
  std::memcpy(&offset, p, 4);
  UINT result = 0;
  // Every read stays inside the block: a list offset or a path that runs past its end counts as the end.
  if (offset >= 16 && offset < blockSize) {
    const char* end = p + blockSize;
    const char* q = p + offset;
    auto pathLength = [&](const char* s) -> size_t {
      const void* z = std::memchr(s, 0, static_cast<size_t>(end - s));
      return z ? static_cast<size_t>(static_cast<const char*>(z) - s) : static_cast<size_t>(-1);
    };
    if (index == 0xFFFFFFFFu) {
      while (q < end && *q) {
        const size_t n = pathLength(q);
        if (n == static_cast<size_t>(-1)) break;
        ++result;
        q += n + 1;
      }
    } else {
      UINT i = 0;
      bool found = true;
      while (i < index) {
        if (q >= end || !*q) {
          found = false;
          break;
        }
        const size_t n = pathLength(q);
        if (n == static_cast<size_t>(-1)) {
          found = false;
          break;
        }
        q += n + 1;
        ++i;
      }
      const size_t n = found && q < end && *q ? pathLength(q) : static_cast<size_t>(-1);
      if (n != static_cast<size_t>(-1)) {
        if (!buffer) {
          result = static_cast<UINT>(n);
        } else if (size >= 1) {
          const size_t copy = std::min<size_t>(n, size - 1);
          std::memcpy(buffer, q, copy);
          buffer[copy] = 0;
          result = static_cast<UINT>(copy);
        }
      }
    }
  }
  GlobalUnlock(drop);
  return result;
}

BOOL DragQueryPoint(HDROP drop, POINT* pt) {
  if (!drop || GlobalSize(drop) < 16) return FALSE;
  const char* p = static_cast<const char*>(GlobalLock(drop));
  int32_t xy[2];
  std::memcpy(xy, p + 4, sizeof(xy));
  const bool client = p[12] == 0;
  GlobalUnlock(drop);
  if (pt) {
    pt->x = xy[0];
    pt->y = xy[1];
  }
  return client ? TRUE : FALSE;
}

void DragFinish(HDROP) {}

// ---------------------------------------------------------------------------------------------------------------
// Clipboard

namespace {

struct Pending {
  UINT fmt;
  HANDLE data;
};
std::vector<std::string>& formats() {
  static auto* v = new std::vector<std::string>;
  return *v;
}
std::vector<UINT>& currentFormats() {
  static auto* v = new std::vector<UINT>;
  return *v;
}
std::vector<Pending>& pending() {
  static auto* v = new std::vector<Pending>;
  return *v;
}
std::vector<HANDLE>& handedOut() {
  static auto* v = new std::vector<HANDLE>;
  return *v;
}
const char* const kPrivateBoard = "SHIM_APP";

void dropPending() {
  for (Pending& p : pending()) GlobalFree(p.data);
  pending().clear();
}

bool isText(UINT fmt) {
  return fmt >= 1 && fmt <= formats().size() && formats()[fmt - 1] == cocoa::kStringPboardType;
}

}  // namespace

UINT RegisterClipboardFormat(const char* name) {
  if (!name) return 0;
  const std::string s = std::strcmp(name, "SHIM__CF_TEXT") == 0 ? std::string(cocoa::kStringPboardType) : name;
  for (size_t i = 0; i < formats().size(); ++i) {
    if (formats()[i] == s) return static_cast<UINT>(i + 1);
  }
  formats().push_back(s);
  return static_cast<UINT>(formats().size());
}

BOOL OpenClipboard(HWND) {
  dropPending();
  RegisterClipboardFormat("SHIM__CF_TEXT");
  currentFormats().clear();
  for (const std::string& t : cocoa::Pasteboard::withName(kPrivateBoard)->types()) {
    for (size_t i = 0; i < formats().size(); ++i) {
      const UINT id = static_cast<UINT>(i + 1);
      if (formats()[i] == t &&
          std::find(currentFormats().begin(), currentFormats().end(), id) == currentFormats().end())
        currentFormats().push_back(id);
    }
  }
  return TRUE;
}

void EmptyClipboard() {
  dropPending();
}

void SetClipboardData(UINT format, HANDLE data) {
  if (!data) return;
  pending().push_back(Pending{format, data});
}

void CloseClipboard() {
  for (auto it = handedOut().rbegin(); it != handedOut().rend(); ++it) GlobalFree(*it);
  handedOut().clear();
  if (pending().empty()) return;
  bool anyText = false;
  for (const Pending& p : pending()) anyText = anyText || isText(p.fmt);
  cocoa::Pasteboard* pb = anyText ? cocoa::Pasteboard::general() : cocoa::Pasteboard::withName(kPrivateBoard);
  std::vector<std::string> names;
  for (const Pending& p : pending()) {
    if (p.fmt >= 1 && p.fmt <= formats().size()) names.push_back(formats()[p.fmt - 1]);
  }
  if (!names.empty()) {
    pb->declareTypes(names);
    for (const Pending& p : pending()) {
      if (p.fmt < 1 || p.fmt > formats().size()) continue;
      const char* bytes = static_cast<const char*>(GlobalLock(p.data));
      if (!bytes) continue;
      const int size = GlobalSize(p.data);
      if (isText(p.fmt)) {
        const char* z = static_cast<const char*>(std::memchr(bytes, 0, static_cast<size_t>(size)));
        pb->setString(std::string(bytes, z ? static_cast<size_t>(z - bytes) : static_cast<size_t>(size)),
                      formats()[p.fmt - 1]);
      } else {
        pb->setData(std::vector<uint8_t>(bytes, bytes + size), formats()[p.fmt - 1]);
      }
      GlobalUnlock(p.data);
    }
  }
  dropPending();
}

HANDLE GetClipboardData(UINT format) {
  if (format < 1 || format > formats().size()) return nullptr;
  HANDLE h = nullptr;
  if (isText(format)) {
    std::string s;
    if (!cocoa::Pasteboard::general()->stringForType(cocoa::kStringPboardType, &s)) return nullptr;
    h = GlobalAlloc(GMEM_MOVEABLE, static_cast<int>(s.size() + 1));
    if (!h) return nullptr;
    std::memcpy(GlobalLock(h), s.c_str(), s.size() + 1);
  } else {
    std::vector<uint8_t> bytes;
    if (!cocoa::Pasteboard::withName(kPrivateBoard)->dataForType(formats()[format - 1], &bytes)) return nullptr;
    h = GlobalAlloc(GMEM_MOVEABLE, static_cast<int>(bytes.size()));
    if (!h) return nullptr;
    if (!bytes.empty()) std::memcpy(GlobalLock(h), bytes.data(), bytes.size());
  }
  GlobalUnlock(h);
  handedOut().push_back(h);
  return h;
}

UINT EnumClipboardFormats(UINT previous) {
  const std::vector<UINT>& cur = currentFormats();
  if (cur.empty()) return 0;
  if (previous == 0) return cur.front();
  for (size_t i = cur.size() - 1; i-- > 0;) {
    if (cur[i] == previous) return cur[i + 1];
  }
  return 0;
}
