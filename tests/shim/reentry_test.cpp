// Random runs of windows, dialogs, controls, menus and properties driven by messages, clicks, keys, paints,
// broadcasts and menu tracking, while the procedures themselves, at random, destroy or create windows, destroy
// menus, remove properties, hold, draw into and release contexts over later steps, ask for odd sizes and positions
// (up to the ends of the int range), click far off any screen and re-parent controls from inside any message. After
// each run the layer's invariants are checked: every live window is reachable, no dead handle is answered as a
// window, none is larger than the platform allows and every window's edges are in order. Then every view is probed
// at the ends of the int range with the procedures calm (they claim client areas at the ends): moved next to an end,
// hit-tested by the default procedure, measured, invalidated and painted, drawn into with text and fills over
// rectangles at or spanning the ends, given a focus rectangle over them, its pen moved next to an end, and (a list)
// scrolled by amounts near the ends.
//
// VEXMIR_REENTRY_RUNS sets the number of runs (1000 by default) and VEXMIR_REENTRY_FIRST the seed before the first
// (0; any int, to split a long run over several processes or to start near an end of the seed range),
// VEXMIR_REENTRY_SEED runs one seed alone and VEXMIR_REENTRY_STEPS cuts its steps (to shrink a failure); a sanitizer
// report prints the failing run's actions. The seeds of the far ranges run too, with longer runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "KIT/shim/shim-ctl.h"
#include "KIT/shim/shim-ctlclasses.h"
#include "KIT/shim/shim-hwnd.h"
#include "KIT/shim/shim.h"
#include "platform/cocoa/controls.h"
#include "platform/cocoa/runloop.h"

// The sanitizers' runtime, in a build that has one, calls back before it ends the process with a report.
extern "C" void __sanitizer_set_death_callback(void (*callback)(void)) __attribute__((weak));

namespace {

std::mt19937 g_rng;
std::mt19937 g_ends;     // the probes' choices, apart from the run's own stream: the seeds' runs stay as they were
bool g_probing = false;  // the probes run: the procedures claim client areas at the ends of the int range
int g_depth = 0;
bool g_calm = false;               // while a run is torn down the procedures behave
std::vector<std::string> g_trace;  // the current run's actions, for the death callback
unsigned g_seed = 0;

int pick(int n) {
  return n <= 0 ? 0 : static_cast<int>(g_rng() % static_cast<unsigned>(n));
}
bool chance(int oneIn) {
  return pick(oneIn) == 0;
}

std::string hex(UINT v) {
  char b[16];
  std::snprintf(b, sizeof(b), "0x%X", v);
  return b;
}

void note(const std::string& what) {
  if (g_trace.size() < 4000) g_trace.push_back(std::string(g_depth * 2, ' ') + what);
}

void dumpTrace() {
  std::fprintf(stderr, "\nRe-entrancy run with seed %u failed after these actions:\n", g_seed);
  for (const std::string& s : g_trace) std::fprintf(stderr, "  %s\n", s.c_str());
}

// Every handle the run has seen, with its serial: a dead one must never be answered as a window.
struct Seen {
  cocoa::Object* object;
  uint64_t serial;
};
std::vector<Seen> g_seen;
struct SeenMenu {
  HMENU menu;
  Seen object;  // its platform menu
  bool live() const { return cocoa::Object::isLive(object.object, object.serial); }
};
std::vector<SeenMenu> g_menus;  // top menus made by the run

void see(cocoa::Object* o) {
  if (o) g_seen.push_back(Seen{o, o->serial()});
}

// The live views and windows of the layer, found by walking the windows (what is reachable is alive).
void collect(cocoa::View* v, std::vector<HWND>* out) {
  out->push_back(v);
  for (cocoa::View* s : v->subviews()) collect(s, out);
}
std::vector<HWND> liveHandles(bool withWindows) {
  std::vector<HWND> out;
  for (cocoa::Window* w : cocoa::Window::allWindows()) {
    if (!w->as<Shim_vVexmir_windowbase>()) continue;
    if (withWindows) out.push_back(w);
    if (w->contentView()) collect(w->contentView(), &out);
  }
  return out;
}
// Contexts taken with GetDC and kept over later steps; the release answers 0 once the window is gone (a paint's own
// context, kept past its paint, answers 1).
struct Held {
  HDC dc;
  Seen window;
  bool paints;
};
std::vector<Held> g_held;

HWND anyHandle(bool withWindows = true) {
  std::vector<HWND> all = liveHandles(withWindows);
  return all.empty() ? nullptr : all[static_cast<size_t>(pick(static_cast<int>(all.size())))];
}
HWND anyWindowView() {
  std::vector<HWND> views;
  for (HWND h : liveHandles(false)) {
    if (auto* v = h->as<Shim_vVexmir_hwnd>()) {
      if (!v->shimHasBeenDestroyed()) views.push_back(h);
    }
  }
  return views.empty() ? nullptr : views[static_cast<size_t>(pick(static_cast<int>(views.size())))];
}
HMENU anyMenu() {
  std::vector<HMENU> live;
  for (const SeenMenu& m : g_menus) {
    if (m.live()) live.push_back(m.menu);
  }
  return live.empty() ? nullptr : live[static_cast<size_t>(pick(static_cast<int>(live.size())))];
}

LRESULT hostileProc(HWND h, UINT msg, WPARAM wp, LPARAM lp);
INT_PTR hostileDialogProc(HWND h, UINT msg, WPARAM wp, LPARAM lp);

const SHIM_DialogControlEntry kControls[] = {
    {"__SHIM_BUTTON", 0, "Push", 11, 5, 5, 60, 14, 0},
    {"__SHIM_EDIT", 0, nullptr, 12, 70, 5, 60, 14, 0},
    {"__SHIM_COMBO", 0, nullptr, 13, 5, 25, 80, 14, CBS_DROPDOWNLIST},
    {"__SHIM_COMBO", 0, nullptr, 14, 90, 25, 80, 14, 0},
    {"__SHIM_CHECKBOX", 0, "Check", 15, 5, 45, 60, 10, 0},
    {"__SHIM_LISTBOX", 0, nullptr, 16, 5, 60, 80, 40, 0},
    {"__SHIM_LABEL", -1, "Label", 17, 90, 45, 60, 10, 0},
    {"", 18, "msctls_trackbar32", 0, 90, 60, 80, 10, 0},
    {"", 19, "SysTabControl32", 0, 90, 75, 80, 30, 0},
    {"", 20, "SysListView32", LVS_REPORT, 5, 105, 160, 40, 0},
    {"__SHIM_EDIT", 0, nullptr, 21, 5, 150, 100, 30, WS_VSCROLL},
};
void createControls(HWND view, int) {
  SHIM_MakeSetCurParms(1.2f, 1.2f, 0, 0, view, true, true);
  SHIM_GenerateDialogFromList(kControls, static_cast<int>(sizeof(kControls) / sizeof(kControls[0])));
}
SHIM_DialogResourceIndex g_dialogRes{
    MAKEINTRESOURCE(7100), "Hostile", SHIM_DIALOG_FLIPPED | SHIM_DIALOG_OPAQUE, createControls, 240, 200, nullptr};

HWND newTopWindow() {
  HWND v = SHIM_CreateDialog(nullptr, reinterpret_cast<const char*>(0x400000), nullptr,
                             reinterpret_cast<DLGPROC>(hostileProc), 0);
  note("new top window");
  see(v);
  if (v && IsWindow(v)) {
    see(v->as<cocoa::View>()->window());
    ShowWindow(v, SW_SHOW);
  }
  return v;
}

HWND newDialog() {
  note("new dialog");
  HWND d = SHIM_CreateDialog(&g_dialogRes, MAKEINTRESOURCE(7100), nullptr, hostileDialogProc, 0);
  if (!d || !IsWindow(d)) return nullptr;
  see(d);
  see(d->as<cocoa::View>()->window());
  for (int id = 11; id <= 21; ++id) see(GetDlgItem(d, id));
  if (HWND c = GetDlgItem(d, 13)) {
    SendMessage(c, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("One"));
    SendMessage(c, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("Two"));
  }
  if (HWND l = GetDlgItem(d, 16)) SendMessage(l, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>("Item"));
  // A row under a wide column and a narrow one at the edge, for the probes to scroll past.
  if (HWND l = GetDlgItem(d, 20)) {
    for (int width : {400, 1}) {
      LVCOLUMN c{LVCF_WIDTH, 0, width, nullptr, 0, 0};
      ListView_InsertColumn(l, width == 1 ? 1 : 0, &c);
    }
    LVITEM row{};
    ListView_InsertItem(l, &row);
  }
  ShowWindow(d, SW_SHOW);
  return d;
}

void newChild() {
  HWND parent = anyWindowView();
  if (!parent) return;
  note("new child view");
  Shim_vVexmir_hwnd* c = Shim_vVexmir_hwnd::initChild(nullptr, parent, reinterpret_cast<DLGPROC>(hostileProc), 0);
  see(c);
  c->setFrame(cocoa::Rect{static_cast<double>(pick(100)), static_cast<double>(pick(100)),
                          static_cast<double>(10 + pick(80)), static_cast<double>(10 + pick(60))});
  ShowWindow(c, SW_SHOW);
  c->release();
}

void newMenu(HWND forWindow) {
  HMENU m = CreatePopupMenu();
  HMENU sub = CreatePopupMenu();
  SHIM_Menu_AddMenuItem(sub, "Deep", 301, 0);
  SHIM_Menu_AddMenuItem(m, "First", 201, 0);
  SHIM_InsertMenu(m, 1, MF_BYPOSITION | MF_POPUP, reinterpret_cast<UINT_PTR>(sub), "More");
  SHIM_Menu_AddMenuItem(m, "Last", 202, 0);
  g_menus.push_back(SeenMenu{m, Seen{SHIM_MenuObject(m), SHIM_MenuObject(m)->serial()}});
  note("new menu");
  if (forWindow && IsWindow(forWindow)) {
    note("set menu");
    SetMenu(forWindow, m);
  }
}

BOOL removeWhileEnumerating(HWND h, const char* key, void*, LPARAM) {
  if (chance(2)) RemoveProp(h, key);
  if (chance(4)) SetProp(h, "added", h);
  return chance(6) ? FALSE : TRUE;
}

constexpr UINT kPing = 0x8042;

int oddSize() {
  static const int kOdd[] = {0, -1, -70, INT_MIN, INT_MAX, 700000, 20000, 10001, INT_MAX - 20, INT_MIN + 20};
  return kOdd[pick(static_cast<int>(std::size(kOdd)))];
}

// A value at or next to an end of the int range, or an ordinary one.
int nearAnEnd() {
  static const int kEnds[] = {INT_MIN, INT_MIN + 1, INT_MIN + 100, -20, 0, 20, INT_MAX - 100, INT_MAX - 2, INT_MAX};
  return kEnds[g_ends() % std::size(kEnds)];
}

// Left, top, right, bottom: the values of a braced list are drawn in its order.
RECT rectNearTheEnds() {
  return RECT{nearAnEnd(), nearAnEnd(), nearAnEnd(), nearAnEnd()};
}

void holdContext(HWND h) {
  cocoa::View* v = h->as<cocoa::View>();
  cocoa::Window* w = v ? v->window() : h->as<cocoa::Window>();
  if (HDC dc = GetDC(h)) g_held.push_back(Held{dc, Seen{w, w ? w->serial() : 0}, SHIM_Internal_IsPaintContext(dc)});
  note("hold context");
}

void useHeldContext() {
  if (g_held.empty()) return;
  const size_t i = static_cast<size_t>(pick(static_cast<int>(g_held.size())));
  const Held held = g_held[i];
  if (chance(2)) {
    note("draw into held context");
    static HBRUSH brush = CreateSolidBrush(0x993366);
    RECT r{pick(50), pick(50), 20 + pick(400), 20 + pick(300)};
    SHIM_FillRect(held.dc, &r, brush);
    return;
  }
  note("release held context");
  g_held.erase(g_held.begin() + static_cast<std::ptrdiff_t>(i));
  const bool alive = held.paints || cocoa::Object::isLive(held.window.object, held.window.serial);
  EXPECT_EQ(ReleaseDC(chance(2) ? anyHandle() : nullptr, held.dc), alive ? 1 : 0) << "seed " << g_seed;
}

// One act of a misbehaving procedure (or of the driver itself): `self` is the window whose procedure acts.
void hostileAct(HWND self) {
  ++g_depth;
  switch (pick(15)) {
    case 0: {
      HWND victim = chance(3) && self ? self : anyHandle();
      if (victim) {
        note("destroy window");
        DestroyWindow(victim);
      }
      break;
    }
    case 1:
      if (chance(2)) {
        newTopWindow();
      } else if (chance(2)) {
        newDialog();
      } else {
        newChild();
      }
      break;
    case 2:
      if (HMENU m = anyMenu()) {
        note("destroy menu");
        DestroyMenu(m);
      }
      break;
    case 3:
      if (HWND h = chance(2) && self ? self : anyWindowView()) {
        note("remove property");
        RemoveProp(h, chance(2) ? "p" : MAKEINTRESOURCE(7));
      }
      break;
    case 4:
      if (HWND h = chance(2) && self ? self : anyWindowView()) {
        note("set property");
        SetProp(h, chance(2) ? "p" : MAKEINTRESOURCE(7), h);
      }
      break;
    case 5:
      if (self && chance(2)) {
        note("release context through another handle");
        HDC dc = GetDC(self);
        ReleaseDC(chance(2) ? anyHandle() : nullptr, dc);
      } else if (self) {
        holdContext(self);
      } else {
        useHeldContext();
      }
      break;
    case 6: {
      std::vector<HWND> controls;
      for (HWND h : liveHandles(false)) {
        if (h->as<cocoa::Control>() || h->as<Shim_vVexmir_tabview>()) controls.push_back(h);
      }
      HWND target = anyWindowView();
      if (!controls.empty() && target) {
        HWND c = controls[static_cast<size_t>(pick(static_cast<int>(controls.size())))];
        note("re-parent control");
        SetParent(c, target);
      }
      break;
    }
    case 7:
      if (HWND h = chance(2) && self ? self : anyWindowView()) {
        note("enumerate properties");
        EnumPropsEx(h, removeWhileEnumerating, 0);
      }
      break;
    case 8:
      if (g_depth < 3) {
        note("broadcast");
        SHIM_BroadcastMessage(kPing, 0, 0);
      }
      break;
    case 9:
      if (self) {
        if (chance(2)) {
          newMenu(self);
        } else if (HMENU m = GetMenu(self)) {
          note("destroy own menu");
          DestroyMenu(m);
        }
      }
      break;
    case 10:
      if (HWND h = anyHandle()) {
        note("invalidate and update");
        InvalidateRect(h, nullptr, 0);
        UpdateWindow(h);
      }
      break;
    case 11:
      if (HWND h = anyHandle()) {
        note("show or hide");
        ShowWindow(h, chance(2) ? SW_HIDE : SW_SHOW);
      }
      break;
    case 12:
      if (HWND h = anyHandle()) {
        note("move and size");
        SetWindowPos(h, nullptr, chance(4) ? oddSize() : pick(200), chance(4) ? oddSize() : pick(200),
                     chance(4) ? oddSize() : 20 + pick(300), chance(4) ? oddSize() : pick(300) - 20, SWP_NOZORDER);
      }
      break;
    case 13:
      if (self && chance(2)) {
        note("capture");
        SetCapture(self);
      } else {
        note("release capture");
        ReleaseCapture();
      }
      break;
    default:
      if (g_depth < 3 && self) {
        note("send to another window");
        if (HWND h = anyHandle()) SendMessage(h, kPing, 0, 0);
      }
      break;
  }
  --g_depth;
}

LRESULT hostileProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  if (g_probing && msg == WM_NCCALCSIZE && lp) {
    RECT r = rectNearTheEnds();
    if (r.right < r.left) std::swap(r.left, r.right);
    if (r.bottom < r.top) std::swap(r.top, r.bottom);
    reinterpret_cast<NCCALCSIZE_PARAMS*>(lp)->rgrc[0] = r;
    return 0;
  }
  if (!g_calm && g_depth < 4 && chance(6)) {
    note("in message " + hex(msg));
    hostileAct(h);
  }
  if (msg == WM_PAINT) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(h, &ps);
    if (dc && chance(3)) {
      HBRUSH b = CreateSolidBrush(0x336699);
      SHIM_FillRect(dc, &ps.rcPaint, b);
      DeleteObject(b);
    }
    EndPaint(h, &ps);
    return 0;
  }
  return DefWindowProc(h, msg, wp, lp);
}

INT_PTR hostileDialogProc(HWND h, UINT msg, WPARAM, LPARAM) {
  if (!g_calm && g_depth < 4 && chance(6)) {
    note("in dialog message " + hex(msg));
    hostileAct(h);
  }
  return msg == WM_INITDIALOG ? 1 : 0;
}

void clickSomewhere(cocoa::EventType down, cocoa::EventType up) {
  std::vector<cocoa::Window*> shown = cocoa::Window::orderedWindows();
  if (shown.empty()) return;
  cocoa::Window* w = shown[static_cast<size_t>(pick(static_cast<int>(shown.size())))];
  w->retain();
  cocoa::Point p{static_cast<double>(pick(static_cast<int>(w->contentRect().w) + 1)),
                 static_cast<double>(pick(static_cast<int>(w->contentRect().h) + 1))};
  if (chance(8)) p = cocoa::Point{chance(2) ? 3e9 : -3e9, chance(2) ? 1e300 : -1e300};  // far off any screen
  note("click");
  cocoa::input::setMouseLocation(w->convertBaseToScreen(p));
  for (cocoa::EventType t : {down, up}) {
    cocoa::Event* e = cocoa::Event::mouseEvent(t, p, 0, w);
    cocoa::Application::shared()->sendEvent(e);
    w->sendEvent(e);
    e->release();
  }
  w->release();
}

void driverStep() {
  switch (pick(12)) {
    case 0:
      hostileAct(anyWindowView());
      break;
    case 1:
      if (chance(2)) {
        useHeldContext();
      } else if (HWND h = anyWindowView()) {
        holdContext(h);
      }
      break;
    case 2: {
      HWND h = anyHandle();
      if (!h) break;
      static const UINT kMessages[] = {kPing,        WM_COMMAND,    WM_SIZE,     WM_KEYDOWN,   WM_TIMER,
                                       WM_MOUSEMOVE, WM_SHOWWINDOW, BM_GETCHECK, BM_SETCHECK,  CB_GETCOUNT,
                                       CB_SETCURSEL, TBM_SETPOS,    LB_GETCOUNT, WM_ERASEBKGND};
      const UINT msg = kMessages[pick(sizeof(kMessages) / sizeof(kMessages[0]))];
      note("send " + hex(msg));
      SendMessage(h, msg, static_cast<WPARAM>(pick(3)), 0);
      break;
    }
    case 3:
      clickSomewhere(cocoa::kLeftMouseDown, cocoa::kLeftMouseUp);
      break;
    case 4:
      clickSomewhere(cocoa::kRightMouseDown, cocoa::kRightMouseUp);
      break;
    case 5:
      if (cocoa::Window* k = cocoa::application::keyWindow()) {
        k->retain();
        note("key");
        for (cocoa::EventType t : {cocoa::kKeyDown, cocoa::kKeyUp}) {
          cocoa::Event* e = cocoa::Event::keyEvent(t, 0, 0, U"a", U"a");
          k->sendEvent(e);
          e->release();
        }
        k->release();
      }
      break;
    case 6:
      note("display all windows");
      for (HWND h : liveHandles(false)) {
        if (chance(3)) InvalidateRect(h, nullptr, 0);
      }
      cocoa::Window::displayAllWindows();
      break;
    case 7:
      note("broadcast");
      SHIM_BroadcastMessage(kPing, 0, 0);
      break;
    case 8:
      if (HMENU m = anyMenu()) {
        HWND owner = anyWindowView();
        cocoa::menus::scriptChoice(chance(2) ? cocoa::menus::Choice{1, 0} : cocoa::menus::Choice{pick(3)});
        note("track menu");
        TrackPopupMenu(m, chance(2) ? TPM_RETURNCMD : 0, 10, 10, 0, owner, nullptr);
        cocoa::menus::clearScript();
      }
      break;
    case 9:
      newMenu(chance(2) ? anyWindowView() : nullptr);
      break;
    case 10:
      if (chance(2)) {
        newDialog();
      } else {
        newTopWindow();
      }
      break;
    default:
      if (HWND h = anyHandle()) {
        note("focus");
        SetFocus(h);
      }
      break;
  }
}

// The layer's invariants: every view reachable from a live window of the layer is a window; a destroyed handle
// never is.
void checkInvariants(int run) {
  for (cocoa::Window* w : cocoa::Window::allWindows()) {
    if (!w->as<Shim_vVexmir_windowbase>() || !w->contentView()) continue;
    std::vector<HWND> views;
    collect(w->contentView(), &views);
    for (HWND v : views) ASSERT_TRUE(IsWindow(v)) << "run " << run << ": a reachable view is no window";
    ASSERT_LE(std::max(w->frame().w, w->frame().h), cocoa::kMaxWindowSide) << "run " << run << ": a window too big";
    RECT r;
    GetWindowRect(w->contentView(), &r);
    ASSERT_TRUE(r.left <= r.right && r.top <= r.bottom) << "run " << run << ": edges out of order at " << r.left;
  }
  for (const Seen& s : g_seen) {
    if (!cocoa::Object::isLive(s.object, s.serial)) {
      ASSERT_FALSE(cocoa::Object::isLiveAddress(s.object) ? false : IsWindow(s.object))
          << "run " << run << ": a dead handle answered as a window";
    }
  }
}

// The probes at the ends of the int range, for every live view, with the procedures calm.
void probeTheEnds(int run) {
  g_calm = g_probing = true;
  static HBRUSH brush = CreateSolidBrush(0x339966);
  static const UINT kText[] = {DT_CENTER | DT_VCENTER, DT_RIGHT | DT_BOTTOM, DT_CENTER | DT_NOCLIP, DT_LEFT};
  bool focusShown = g_ends() % 200 != 0;
  for (HWND h : liveHandles(false)) {
    if (!IsWindow(h)) continue;
    const int x = nearAnEnd(), y = nearAnEnd();
    SetWindowPos(h, nullptr, x, y, 50, 50, SWP_NOZORDER);
    const LRESULT hit = DefWindowProc(h, WM_NCHITTEST, 0, SHIM_PointParam(nearAnEnd(), nearAnEnd()));
    ASSERT_TRUE(hit == 0 || hit == HTCLIENT) << "run " << run << ": the hit test answered " << hit;
    RECT client;
    GetClientRect(h, &client);
    ASSERT_TRUE(client.left <= client.right && client.top <= client.bottom)
        << "run " << run << " at " << x << ", " << y;
    RECT r = rectNearTheEnds();
    InvalidateRect(h, &r, 0);
    UpdateWindow(h);
    HDC dc = GetDC(h);
    if (!dc) continue;
    SHIM_FillRect(dc, &r, brush);
    // The pen moved next to an end and back, a list scrolled to one side and on past its edge column, and in a few
    // runs (its window is as large as the platform allows, slow to paint) a focus rectangle over the rectangle.
    POINT pen;
    MoveToEx(dc, nearAnEnd(), nearAnEnd(), nullptr);
    MoveToEx(dc, 0, 0, &pen);
    for (int i = 0; i < 2; ++i) ListView_Scroll(h, nearAnEnd(), nearAnEnd());
    if (!focusShown) {
      void* focus = nullptr;
      SHIM_DrawFocusRect(h, &r, &focus);
      SHIM_DrawFocusRect(h, nullptr, &focus);
      focusShown = true;
    }
    SHIM_DrawText(dc, "Ends", -1, &r, kText[g_ends() % std::size(kText)]);
    RoundRect(dc, r.left, r.top, r.right, r.bottom, nearAnEnd(), nearAnEnd());
    static HDC image = SHIM_CreateMemContext(nullptr, 40, 40);
    StretchBlt(dc, nearAnEnd(), nearAnEnd(), nearAnEnd(), 40, image, nearAnEnd(), nearAnEnd(), 40, 40, SRCCOPY);
    // A tab control's page near the ends, then moved: edges in order stay in order.
    RECT page = rectNearTheEnds();
    TabCtrl_AdjustRect(h, g_ends() % 2, &page);
    const RECT adjusted = page;
    WinOffsetRect(&page, nearAnEnd(), nearAnEnd());
    ASSERT_TRUE((adjusted.left > adjusted.right || page.left <= page.right) &&
                (adjusted.top > adjusted.bottom || page.top <= page.bottom))
        << "run " << run;
    // Measured text grows its rectangle to the right and down from where it starts, never past an end.
    RECT measured{nearAnEnd(), nearAnEnd(), 0, 0};
    const RECT from = measured;
    SHIM_DrawText(dc, "Ends\nof the range", -1, &measured, DT_CALCRECT);
    ReleaseDC(h, dc);
    ASSERT_TRUE(measured.right >= from.left && measured.bottom >= from.top)
        << "run " << run << ": text measured from " << from.left << ", " << from.top << " ends at " << measured.right
        << ", " << measured.bottom;
  }
  g_calm = g_probing = false;
}

void tearDownRun() {
  g_calm = true;
  ReleaseCapture();
  // Some held contexts go before their windows, the rest after them.
  while (g_held.size() > 1) useHeldContext();
  for (cocoa::Window* w : cocoa::RetainedWindows(false)) {
    if (w->as<Shim_vVexmir_windowbase>()) DestroyWindow(w);
  }
  for (const SeenMenu& m : g_menus) {
    if (m.live()) DestroyMenu(m.menu);
  }
  g_menus.clear();
  while (!g_held.empty()) useHeldContext();
  g_seen.clear();
  g_calm = false;
}

int envInt(const char* name, int fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::atoi(v) : fallback;
}

// One run of `steps` steps from the seed, its invariants checked and its windows torn down; false when it failed
// (its actions are printed).
bool runOnce(unsigned seed, int steps) {
  g_seed = seed;
  g_rng.seed(seed);
  g_ends.seed(seed);
  g_trace.clear();
  g_depth = 0;
  newDialog();
  newTopWindow();
  newMenu(anyWindowView());
  for (int step = 0; step < steps; ++step) {
    note("step " + std::to_string(step));
    driverStep();
  }
  checkInvariants(static_cast<int>(seed));
  if (!::testing::Test::HasFatalFailure()) probeTheEnds(static_cast<int>(seed));
  if (!::testing::Test::HasFatalFailure()) checkInvariants(static_cast<int>(seed));
  if (::testing::Test::HasFatalFailure()) {
    dumpTrace();
    return false;
  }
  tearDownRun();
  int left = 0;
  for (cocoa::Window* w : cocoa::Window::allWindows()) {
    if (w->as<Shim_vVexmir_windowbase>()) ++left;
  }
  if (left) dumpTrace();
  EXPECT_EQ(left, 0) << "seed " << seed << ": windows of the layer outlived their destruction";
  return left == 0;
}

TEST(Reentry, RandomHostileProceduresLeaveTheLayerWhole) {
  cocoa::screen::setScreens({cocoa::screen::Info{0, 0, 1600, 1000, 0, 0, 1600, 1000}});
  if (__sanitizer_set_death_callback) __sanitizer_set_death_callback(dumpTrace);
  const int runs = envInt("VEXMIR_REENTRY_RUNS", 1000);
  const int only = envInt("VEXMIR_REENTRY_SEED", -1);
  const int steps = envInt("VEXMIR_REENTRY_STEPS", 40);
  const int first = envInt("VEXMIR_REENTRY_FIRST", 0);
  // Seeds after `first` (counted in unsigned arithmetic: a first near an end of the int range goes on past it).
  struct Range {
    unsigned first;
    int runs, steps;
  };
  std::vector<Range> ranges;
  if (only >= 0) {
    ranges.push_back({static_cast<unsigned>(only), 1, steps});
  } else {
    // Seeds of long runs by hand that once found a fault run first, every time; at 500582, and 10488 of 120
    // steps, a view moved to the end of the int range overflowed the default hit test.
    const Range kFound[] = {{52655, 1, 40}, {64308, 1, 40},  {82417, 1, 40},
                            {99649, 1, 40}, {500582, 1, 40}, {10488, 1, 120}};
    ranges.assign(std::begin(kFound), std::end(kFound));
    ranges.push_back({static_cast<unsigned>(first) + 1u, runs, steps});
    // The default run goes on with longer runs from both ends of the int range of seeds.
    if (!std::getenv("VEXMIR_REENTRY_RUNS")) {
      ranges.push_back({static_cast<unsigned>(INT_MAX) - 99u, 100, 120});
      ranges.push_back({static_cast<unsigned>(INT_MIN), 100, 120});
    }
  }
  for (const Range& range : ranges) {
    const auto start = std::chrono::steady_clock::now();
    int done = 0;
    for (int i = 0; i < range.runs; ++i) {
      if (!runOnce(range.first + static_cast<unsigned>(i), range.steps)) return;
      ++done;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (range.runs > 1)
      std::printf("%d runs of %d steps from seed %u in %.1f s\n", done, range.steps, range.first, seconds);
  }
}

}  // namespace
