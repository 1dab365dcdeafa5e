// The window layer's windows: the message order a window procedure sees, dialogs from registered tables (the
// editor's bank-name dialog driven by typing and saved as PNG), dispatch, window longs, geometry, menus, the
// clipboard and dropped files, and the faults of the layer that these tests pin down.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "KIT/shim/shim-ctl.h"
#include "KIT/shim/shim-gdi-internal.h"
#include "KIT/shim/shim-hwnd.h"
#include "KIT/shim/shim.h"
#include "platform/cocoa/controls.h"
#include "platform/cocoa/modal.h"
#include "platform/cocoa/panels.h"
#include "platform/cocoa/pasteboard.h"
#include "platform/cocoa/runloop.h"

namespace {

std::vector<std::string> g_log;
LRESULT recordingProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  const char* name = nullptr;
  switch (msg) {
    case WM_CREATE:
      name = "CREATE";
      break;
    case WM_DESTROY:
      name = "DESTROY";
      break;
    case WM_MOVE:
      name = "MOVE";
      break;
    case WM_SIZE:
      name = "SIZE";
      break;
    case WM_ACTIVATE:
      name = wp ? "ACTIVATE 1" : "ACTIVATE 0";
      break;
    case WM_PAINT:
      name = "PAINT";
      break;
    case WM_SHOWWINDOW:
      name = wp ? "SHOWWINDOW 1" : "SHOWWINDOW 0";
      break;
    case WM_SETCURSOR:
      name = "SETCURSOR";
      break;
    case WM_MOUSEACTIVATE:
      name = "MOUSEACTIVATE";
      break;
    case WM_NCCALCSIZE:
      name = "NCCALCSIZE";
      break;
    case WM_NCHITTEST:
      name = "NCHITTEST";
      break;
    case WM_NCPAINT:
      name = "NCPAINT";
      break;
    case WM_KEYDOWN:
      name = "KEYDOWN";
      break;
    case WM_KEYUP:
      name = "KEYUP";
      break;
    case WM_LBUTTONDOWN:
      name = "LBUTTONDOWN";
      break;
    case WM_LBUTTONUP:
      name = "LBUTTONUP";
      break;
    case WM_MOUSEMOVE:
      name = "MOUSEMOVE";
      break;
    case WM_MOUSEWHEEL:
      name = "MOUSEWHEEL";
      break;
    case WM_MOUSEHWHEEL:
      name = "MOUSEHWHEEL";
      break;
    case WM_CAPTURECHANGED:
      name = "CAPTURECHANGED";
      break;
    case WM_GETMINMAXINFO:
      return 0;
    default:
      break;
  }
  g_log.push_back(name ? name : "0x" + std::to_string(msg));
  return DefWindowProc(hwnd, msg, wp, lp);
}

class WindowsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cocoa::useManualClock();
    cocoa::screen::setScreens({cocoa::screen::Info{0, 0, 1600, 1000, 0, 0, 1600, 1000}});
    g_log.clear();
    cocoa::menus::clearScript();
    cocoa::menus::clearShown();
    cocoa::panels::clearScript();
    cocoa::alerts::clearScript();
  }
  void TearDown() override {
    for (cocoa::Window* w : cocoa::Window::allWindows()) {
      if (w->as<Shim_vVexmir_windowbase>()) DestroyWindow(w);
    }
    cocoa::Pasteboard::resetAll();
    cocoa::useRealClock();
  }
};

cocoa::Event* mouse(cocoa::EventType t, cocoa::Window* w, double x, double yFromTop) {
  const cocoa::Point base{x, w->contentRect().h - yFromTop};
  cocoa::input::setMouseLocation(w->convertBaseToScreen(base));
  return cocoa::Event::mouseEvent(t, base, 0, w);
}

void send(cocoa::Window* w, cocoa::Event* e) {
  cocoa::Application::shared()->sendEvent(e);  // makes it the current event
  w->sendEvent(e);
  e->release();
}

TEST_F(WindowsTest, AWindowProcedureSeesTheDocumentedMessageOrder) {
  HWND view = SHIM_CreateDialog(SHIM_curmodule_dialogresource_head, reinterpret_cast<const char*>(0x400000), nullptr,
                                reinterpret_cast<DLGPROC>(recordingProc), 0);
  ASSERT_NE(view, nullptr);
  auto* v = view->as<Shim_vVexmir_hwnd>();
  cocoa::Window* w = v->window();
  EXPECT_EQ(g_log, (std::vector<std::string>{"CREATE"}));

  auto step = [&](const char* what, const std::function<void()>& act, std::vector<std::string> expected) {
    g_log.clear();
    act();
    EXPECT_EQ(g_log, expected) << what;
  };
  step("show", [&] { ShowWindow(view, SW_SHOW); }, {"SHOWWINDOW 1", "ACTIVATE 1", "MOUSEACTIVATE"});
  step("size", [&] { SetWindowPos(w, nullptr, 0, 0, 200, 120, SWP_NOMOVE | SWP_NOZORDER); },
       {"SIZE", "SIZE", "NCCALCSIZE", "NCPAINT", "PAINT"});
  step("move", [&] { SetWindowPos(view, nullptr, 40, 30, 0, 0, SWP_NOSIZE | SWP_NOZORDER); }, {"MOVE"});
  step("paint",
       [&] {
         InvalidateRect(view, nullptr, 0);
         w->displayIfNeeded();
       },
       {"NCCALCSIZE", "NCPAINT", "PAINT"});
  w->makeFirstResponder(v);
  step("key",
       [&] {
         send(w, cocoa::Event::keyEvent(cocoa::kKeyDown, 0, 0, U"a", U"a"));
         send(w, cocoa::Event::keyEvent(cocoa::kKeyUp, 0, 0, U"a", U"a"));
       },
       {"KEYDOWN", "KEYUP"});
  step("mouse",
       [&] {
         send(w, mouse(cocoa::kLeftMouseDown, w, 10, 10));
         send(w, mouse(cocoa::kLeftMouseUp, w, 10, 10));
       },
       {"NCHITTEST", "NCCALCSIZE", "LBUTTONDOWN", "NCHITTEST", "NCCALCSIZE", "LBUTTONUP", "SETCURSOR"});
  step("wheel",
       [&] {
         cocoa::Event* e = mouse(cocoa::kScrollWheel, w, 10, 10);
         e->deltaY = -1;
         e->deltaX = 2;
         send(w, e);
       },
       {"MOUSEWHEEL", "MOUSEHWHEEL"});
  step("capture",
       [&] {
         SetCapture(view);
         send(w, mouse(cocoa::kLeftMouseDragged, w, 12, 12));
         ReleaseCapture();
       },
       {"MOUSEMOVE", "CAPTURECHANGED"});
  step("destroy", [&] { DestroyWindow(view); }, {"DESTROY"});
}

TEST_F(WindowsTest, WheelAndPointPackingsNeverShiftNegativeNumbers) {
  HWND view = SHIM_CreateDialog(SHIM_curmodule_dialogresource_head, reinterpret_cast<const char*>(0x400000), nullptr,
                                reinterpret_cast<DLGPROC>(+[](HWND h, UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
                                  if (m == WM_MOUSEWHEEL) {
                                    g_log.push_back(std::to_string(wp));
                                  }
                                  return DefWindowProc(h, m, wp, lp);
                                }),
                                0);
  cocoa::Window* w = view->as<cocoa::View>()->window();
  ShowWindow(view, SW_SHOW);
  cocoa::Event* e = mouse(cocoa::kScrollWheel, w, 5, 5);
  e->deltaY = -1e9;  // far beyond 16 bits: clamped, never shifted as a negative number
  send(w, e);
  ASSERT_EQ(g_log.size(), 1u);
  EXPECT_EQ(std::stoull(g_log[0]), static_cast<WPARAM>(0x8000) << 16);
  EXPECT_EQ(SHIM_PointParam(-1, 70000), static_cast<LPARAM>(0x7FFFFFFF));
}

// ---- Dialogs from registered tables

const SHIM_DialogControlEntry kPatchSave[] = {
    {nullptr, 0, nullptr, 0, 0, 0, 0, 0, 0},
    {"__SHIM_LABEL", -1, "Bank Name", 0, 10, 10, 200, 8, 0},
    {"__SHIM_EDIT", 0, "", 10013, 10, 20, 200, 12, 0x10000},
    {"__SHIM_BUTTON", 0, "&Cancel", 2, 160, 60, 50, 14, 0},
    {"__SHIM_BUTTON", 0, "&OK    ", 10006, 100, 60, 50, 14, 0},
};
void createPatchSave(HWND view, int flags) {
  SHIM_MakeSetCurParms(1.8f, 1.8f, 0, 0, view, false, !(flags & 8));
  SHIM_GenerateDialogFromList(kPatchSave + 1, 4);
}
SHIM_DialogResourceIndex g_patchSave{
    MAKEINTRESOURCE(10014), "Enter Bank Name", 0xC, createPatchSave, 396, 144, nullptr};
struct Registrar {
  Registrar() { SHIM_RegisterDialogResource(&g_patchSave); }
} g_registrar;

std::string g_bankName;
INT_PTR patchSaveProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM) {
  if (msg == WM_INITDIALOG) return 1;
  if (msg == WM_COMMAND) {
    const int id = LOWORD(wp);
    if (id == 10006) {
      char buf[64];
      GetDlgItemText(hwnd, 10013, buf, sizeof(buf));
      g_bankName = buf;
      EndDialog(hwnd, 1);
    } else if (id == IDCANCEL) {
      EndDialog(hwnd, 0);
    }
    return 1;
  }
  return 0;
}

std::string outDir() {
  const char* b = std::getenv("VEXMIR_BUILD_DIR");
  std::string d = std::string(b ? b : ".") + "/out/windows";
  std::string cmd = "mkdir -p '" + d + "'";
  EXPECT_EQ(std::system(cmd.c_str()), 0);
  return d;
}

void typeText(cocoa::Window* w, const std::u32string& text) {
  for (char32_t c : text) {
    std::u32string s(1, c);
    send(w, cocoa::Event::keyEvent(cocoa::kKeyDown, 0, 0, s, s));
  }
}

void click(cocoa::Window* w, HWND control) {
  const cocoa::Rect f = control->as<cocoa::View>()->frame();
  send(w, mouse(cocoa::kLeftMouseDown, w, f.x + f.w / 2, f.y + f.h / 2));
  send(w, mouse(cocoa::kLeftMouseUp, w, f.x + f.w / 2, f.y + f.h / 2));
}

TEST_F(WindowsTest, ThePatchSaveDialogRunsModallyWithTypingAndOk) {
  g_bankName.clear();
  std::string png;
  cocoa::RunLoop::current()->perform([&] {
    cocoa::Window* w = cocoa::modal::modalWindow();
    ASSERT_NE(w, nullptr);
    HWND dlg = w->contentView();
    EXPECT_EQ(w->title(), "Enter Bank Name");
    // The controls sit where the table puts them at scale 1.8 (a flipped view: y down from the top).
    struct Where {
      int id;
      double x, y, w, h;
    };
    for (const Where& c : {Where{10013, 18, 36, 360, 22}, Where{2, 288, 108, 90, 25}, Where{10006, 180, 108, 90, 25}}) {
      HWND h = GetDlgItem(dlg, c.id);
      ASSERT_NE(h, nullptr) << c.id;
      const cocoa::Rect f = h->as<cocoa::View>()->frame();
      EXPECT_EQ((std::vector<double>{f.x, f.y, f.w, f.h}), (std::vector<double>{c.x, c.y, c.w, c.h})) << c.id;
    }
    char title[32];
    GetDlgItemText(GetDlgItem(dlg, 2), 0, title, sizeof(title));
    EXPECT_STREQ(title, "Cancel");
    EXPECT_EQ(GetFocus(), GetDlgItem(dlg, 10013));
    typeText(w, U"Pads \u00e9t\u00e9");
    w->displayIfNeeded();
    png = outDir() + "/patch-save-dialog.png";
    EXPECT_TRUE(w->writePNG(png));
    click(w, GetDlgItem(dlg, 10006));
  });
  const INT_PTR r =
      SHIM_DialogBox(SHIM_curmodule_dialogresource_head, MAKEINTRESOURCE(10014), nullptr, patchSaveProc, 0);
  EXPECT_EQ(r, 1);
  EXPECT_EQ(g_bankName, "Pads \xC3\xA9t\xC3\xA9");
}

TEST_F(WindowsTest, CancelAndTheCloseButtonEndThePatchSaveDialogWithZero) {
  g_bankName.clear();
  cocoa::RunLoop::current()->perform([&] {
    cocoa::Window* w = cocoa::modal::modalWindow();
    typeText(w, U"Lost");
    // The title-bar button asks the procedure: WM_CLOSE, then IDCANCEL, which ends it.
    w->performClose();
  });
  EXPECT_EQ(SHIM_DialogBox(SHIM_curmodule_dialogresource_head, MAKEINTRESOURCE(10014), nullptr, patchSaveProc, 0), 0);
  EXPECT_EQ(g_bankName, "");
  // Child resources and unknown ids are refused.
  EXPECT_EQ(SHIM_DialogBox(SHIM_curmodule_dialogresource_head, MAKEINTRESOURCE(999), nullptr, patchSaveProc, 0), -1);
  EXPECT_EQ(SHIM_DialogBox(nullptr, MAKEINTRESOURCE(10014), nullptr, patchSaveProc, 0), -1);
}

int g_destroys = 0;
INT_PTR endsAtInit(HWND hwnd, UINT msg, WPARAM, LPARAM) {
  if (msg == WM_INITDIALOG) EndDialog(hwnd, 42);
  if (msg == WM_DESTROY) ++g_destroys;
  return 0;
}

TEST_F(WindowsTest, EndDialogDuringInitReturnsAtOnceWithOneDestroyAndNoDoubleRelease) {
  g_destroys = 0;
  EXPECT_EQ(SHIM_DialogBox(SHIM_curmodule_dialogresource_head, MAKEINTRESOURCE(10014), nullptr, endsAtInit, 0), 42);
  EXPECT_EQ(g_destroys, 1);
}

TEST_F(WindowsTest, AModelessDialogIsBuiltAndAnsweredThroughItsWindowHandle) {
  HWND dlg = SHIM_CreateDialog(SHIM_curmodule_dialogresource_head, MAKEINTRESOURCE(10014), nullptr, patchSaveProc, 0);
  ASSERT_NE(dlg, nullptr);
  cocoa::Window* w = dlg->as<cocoa::View>()->window();
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->styleMask, 7u);
  // The window handle stands for its content view.
  EXPECT_EQ(GetDlgItem(w, 10013), GetDlgItem(dlg, 10013));
  EXPECT_TRUE(SetDlgItemText(w, 10013, "Strings"));
  ShowWindow(dlg, SW_SHOW);
  click(w, GetDlgItem(dlg, 10006));
  EXPECT_EQ(g_bankName, "Strings");
  EXPECT_TRUE(IsWindow(dlg));
  DestroyWindow(dlg);
  EXPECT_FALSE(IsWindow(dlg));
}

// ---- Window values, properties and relations

TEST_F(WindowsTest, ExtraWordsAtNegativeOrUnknownIndicesReadZeroAndWriteNothing) {
  HWND v = SHIM_CreateDialog(SHIM_curmodule_dialogresource_head, reinterpret_cast<const char*>(0x400000), nullptr,
                             nullptr, 0);
  auto* h = v->as<Shim_vVexmir_hwnd>();
  EXPECT_EQ(SetWindowLongPtr(v, 7, 1234), 0);
  EXPECT_EQ(SetWindowLongPtr(v, 7, 99), 1234);
  // A pointer-sized value survives whole.
  const LONG_PTR big = static_cast<LONG_PTR>(0x123456789ABCll);
  SetWindowLongPtr(v, GWL_USERDATA, big);
  EXPECT_EQ(GetWindowLongPtr(v, GWL_USERDATA), big);
  for (int index : {-1, -100, -2147483647 - 1, 128, 4096}) {
    EXPECT_EQ(SetWindowLongPtr(v, index, 77), 0) << index;
    EXPECT_EQ(GetWindowLongPtr(v, index), 0) << index;
    EXPECT_EQ(h->getShimExtraData(index), 0) << index;
  }
  EXPECT_EQ(GetWindowLong(v, GWL_STYLE), WS_CAPTION);  // a titled, not resizable top-level window's content view
  DestroyWindow(v);
}

TEST_F(WindowsTest, PropertyEnumerationSurvivesACallbackThatRemovesProperties) {
  HWND v = SHIM_CreateDialog(SHIM_curmodule_dialogresource_head, reinterpret_cast<const char*>(0x400000), nullptr,
                             nullptr, 0);
  SetProp(v, "a", reinterpret_cast<void*>(1));
  SetProp(v, "b", reinterpret_cast<void*>(2));
  SetProp(v, "a", reinterpret_cast<void*>(3));
  SetProp(v, MAKEINTRESOURCE(5), reinterpret_cast<void*>(4));
  EXPECT_EQ(GetProp(v, "a"), reinterpret_cast<void*>(3));
  static int visited;
  visited = 0;
  const int r = EnumPropsEx(
      v,
      [](HWND h, const char* key, void*, LPARAM) -> BOOL {
        ++visited;
        RemoveProp(h, key);
        return TRUE;
      },
      0);
  EXPECT_EQ(r, 1);
  EXPECT_EQ(visited, 3);
  EXPECT_EQ(EnumPropsEx(v, nullptr, 0), -1);
  DestroyWindow(v);
}

TEST_F(WindowsTest, OwnedWindowListsRefuseCycles) {
  HWND a = SHIM_CreateDialog(nullptr, reinterpret_cast<const char*>(0x400001), nullptr, nullptr, 0);
  HWND b = SHIM_CreateDialog(nullptr, reinterpret_cast<const char*>(0x400001), a, nullptr, 0);
  auto* wa = a->as<cocoa::View>()->window()->as<Shim_vVexmir_windowbase>();
  auto* wb = b->as<cocoa::View>()->window()->as<Shim_vVexmir_windowbase>();
  EXPECT_EQ(wb->shimGetOwner(), static_cast<HWND>(wa));
  wa->shimAddOwnedWindow(wb);  // already listed: one record
  EXPECT_EQ(wa->shimOwnedWindows().size(), 1u);
  wb->shimAddOwnedWindow(wa);  // would make a loop
  EXPECT_TRUE(wb->shimOwnedWindows().empty());
  wa->shimAddOwnedWindow(wa);
  EXPECT_EQ(wa->shimOwnedWindows().size(), 1u);
  EXPECT_EQ(GetWindow(b, GW_OWNER), static_cast<HWND>(wa));
  DestroyWindow(a);  // destroys its owned window too
  EXPECT_FALSE(IsWindow(b));
}

TEST_F(WindowsTest, GeometryFollowsTheLayersRoundingAndRefusesNegativeSizes) {
  HWND v = SHIM_CreateDialog(nullptr, reinterpret_cast<const char*>(0x400000), nullptr, nullptr, 0);
  cocoa::Window* w = v->as<cocoa::View>()->window();
  w->setFrame(cocoa::Rect{100.7, 50.2, 300, 200}, false);
  RECT r;
  ASSERT_TRUE(GetWindowRect(v, &r));
  EXPECT_EQ((std::vector<int>{r.left, r.top, r.right, r.bottom}), (std::vector<int>{100, 50, 401, 250}));
  SetWindowPos(w, nullptr, 0, 0, -40, -40, SWP_NOMOVE | SWP_NOZORDER);
  EXPECT_EQ(w->frame().w, 300);
  EXPECT_EQ(w->frame().h, 200);
  w->setMinSize(cocoa::Point{150, 10});
  SetWindowPos(w, nullptr, 0, 0, 20, 30, SWP_NOMOVE | SWP_NOZORDER);
  EXPECT_EQ(w->frame().w, 150);
  EXPECT_EQ(GetSystemMetrics(21), 16);
  EXPECT_EQ(GetSystemMetrics(22), 0);
  EXPECT_FALSE(ScrollWindow(v, 0, 0, nullptr, nullptr));
  cocoa::screen::setScreens({});
  SHIM_GetViewPort(&r, nullptr, false);
  EXPECT_EQ((std::vector<int>{r.left, r.top, r.right, r.bottom}), (std::vector<int>{0, 0, 1600, 1200}));
  EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 1024);
  cocoa::screen::setScreens({{0, 0, 1000, 800, 0, 0, 1000, 800}, {1000, 0, 800, 600, 1000, 0, 800, 600}});
  RECT src{1200, 100, 1300, 200};
  SHIM_GetViewPort(&r, &src, false);
  EXPECT_EQ(r.left, 1000);
  DestroyWindow(v);
}

TEST_F(WindowsTest, SendMessageReachesControlsAndForwardsBetweenWindowAndContentView) {
  EXPECT_EQ(SendMessage(nullptr, WM_USER, 0, 0), 0);
  HWND dlg = SHIM_CreateDialog(
      nullptr, reinterpret_cast<const char*>(0x400000), nullptr,
      reinterpret_cast<DLGPROC>(+[](HWND, UINT m, WPARAM, LPARAM) -> LRESULT { return m == WM_USER ? 7 : 0; }), 0);
  cocoa::Window* w = dlg->as<cocoa::View>()->window();
  EXPECT_EQ(SendMessage(w, WM_USER, 0, 0), 7);
  SHIM_MakeSetCurParms(1, 1, 0, 0, dlg, false, false);
  HWND check = SHIM_MakeControl("Sync", 5, "Button", BS_AUTO3STATE, 10, 10, 80, 14, 0);
  SendMessage(check, BM_SETCHECK, 3, 0);
  EXPECT_EQ(SendMessage(check, BM_GETCHECK, 0, 0), 2);
  EXPECT_EQ(GetWindowLong(check, GWL_STYLE), BS_AUTO3STATE | WS_CHILD);
  HWND combo = SHIM_MakeCombo(6, 10, 30, 80, 0, CBS_DROPDOWNLIST);
  EXPECT_EQ(SendMessage(combo, CB_GETCOUNT, 0, 0), 0);
  SendMessage(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("One"));
  SendMessage(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("Two"));
  SendMessage(combo, CB_SETCURSEL, 1, 0);
  SendMessage(combo, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
  SendMessage(combo, CB_SETCURSEL, 2, 0);
  EXPECT_EQ(SendMessage(combo, CB_GETCURSEL, 0, 0), 1);
  EXPECT_EQ(SendMessage(combo, 0x155, 0, 0), 0);
  HWND slider = SHIM_MakeControl("", 7, "msctls_trackbar32", 0, 10, 50, 80, 14, 0);
  SendMessage(slider, TBM_SETRANGE, 0, MAKELPARAM(0, 100));
  slider->as<cocoa::Slider>()->setDoubleValue(49.5);
  EXPECT_EQ(SendMessage(slider, TBM_GETPOS, 0, 0), 50);
  DestroyWindow(dlg);
}

TEST_F(WindowsTest, TheBuilderTransformsRecordsAndRefusesToBuildWithoutState) {
  HWND dlg = SHIM_CreateDialog(nullptr, reinterpret_cast<const char*>(0x400000), nullptr, nullptr, 0);
  SHIM_MakeSetCurParms(1.8f, 1.8f, 0, 0, dlg, false, false);
  double r[4];
  SHIM_Internal_MakeCoords(10, 20, 200, 12, false, false, r);
  EXPECT_EQ((std::vector<double>{r[0], r[1], r[2], r[3]}), (std::vector<double>{18, 36, 360, 22}));
  SHIM_Internal_MakeCoords(5, 6, -30, -40, true, false, r);
  EXPECT_EQ((std::vector<double>{r[0], r[1], r[2], r[3]}), (std::vector<double>{-5, -6, 30, 40}));
  HWND b = SHIM_MakeButton(0, reinterpret_cast<const char*>(5), 9, 0, 0, 10, 10, 0);
  EXPECT_EQ(b->as<cocoa::Button>()->title(), "ICONTEMP");
  HWND l = SHIM_MakeLabel(-1, nullptr, 10, 0, 0, 10, 10, 0);  // a null text is an empty text
  ASSERT_NE(l, nullptr);
  HWND g = SHIM_MakeGroupBox("Save && &Exit", 11, 0, 0, 10, 10, 0);
  EXPECT_EQ(g->as<cocoa::Box>()->title(), "Save & Exit");
  EXPECT_EQ(SHIM_MakeControl("x", 12, "NoSuchClass", 0, 0, 0, 1, 1, 0), nullptr);
  EXPECT_NE(SHIM_MakeControl("x", 12, "sTaTiC", 0, 0, 0, 1, 1, 0), nullptr);
  DestroyWindow(dlg);
}

// ---- Menus

TEST_F(WindowsTest, MenusFromTablesTrackAScriptedChoiceAndRouteTheCommand) {
  const SHIM_MenuListEntry table[] = {
      {"/.BO^O:&File", 0, 0}, {"&Open\tCtrl+O", 100, 0}, {"Save && Exit", 101, 1},
      {"EN%%%^:", 0, 0},      {"About", 102, 0},         {"EN%%%^:", 0, 0},
  };
  HMENU m = CreatePopupMenu();
  EXPECT_EQ(SHIM_GenerateMenuFromList(m, table, 6), 6);
  HMENU m2 = CreatePopupMenu();
  EXPECT_EQ(SHIM_GenerateMenuFromList(m2, table, 5), 6);
  // A table cut inside its submenu stops where the records end.
  HMENU m3 = CreatePopupMenu();
  EXPECT_EQ(SHIM_GenerateMenuFromList(m3, table, 2), 3);
  ASSERT_EQ(GetMenuItemCount(m), 2);
  EXPECT_EQ(GetMenuItemID(m, 0), -1);
  EXPECT_EQ(GetMenuItemID(m, 5), 0);
  HMENU file = GetSubMenu(m, 0);
  char title[64];
  MENUITEMINFO mi{};
  mi.fMask = MIIM_TYPE | MIIM_STATE;
  mi.dwTypeData = title;
  mi.cch = sizeof(title);
  ASSERT_TRUE(GetMenuItemInfo(file, 0, TRUE, &mi));
  EXPECT_STREQ(title, "Open");
  ASSERT_TRUE(GetMenuItemInfo(m, 101, FALSE, &mi));
  EXPECT_STREQ(title, "Save & Exit");
  EXPECT_EQ(mi.fState, 3u);
  EXPECT_TRUE(EnableMenuItem(m, 101, MF_DISABLED));
  EXPECT_TRUE(CheckMenuItem(m, 100, MF_CHECKED));
  EXPECT_TRUE(SetMenuItemModifier(m, 100, MF_BYCOMMAND, 'S', FVIRTKEY | FCONTROL | FSHIFT));
  cocoa::MenuItem* open = SHIM_MenuObject(file)->itemAt(0);
  EXPECT_EQ(open->keyEquivalent, "S");
  EXPECT_EQ(open->keyEquivalentModifierMask, static_cast<uint32_t>(cocoa::kCommandKeyMask));
  SetMenuItemModifier(m, 100, MF_BYCOMMAND, 0x70, FVIRTKEY);
  EXPECT_EQ(open->keyEquivalent, cocoa::utf8Of(0xF704));

  std::vector<std::string> seen;
  static std::vector<std::string>* log;
  log = &seen;
  HWND v = SHIM_CreateDialog(nullptr, reinterpret_cast<const char*>(0x400000), nullptr,
                             reinterpret_cast<DLGPROC>(+[](HWND, UINT msg, WPARAM wp, LPARAM) -> LRESULT {
                               if (msg == WM_COMMAND) log->push_back("COMMAND " + std::to_string(wp));
                               if (msg == WM_INITMENUPOPUP) log->push_back("INITMENUPOPUP");
                               return 0;
                             }),
                             0);
  cocoa::menus::scriptChoice({0, 0});
  EXPECT_EQ(TrackPopupMenu(m, 0, 100, 100, 0, v, nullptr), 1);
  EXPECT_EQ(seen, (std::vector<std::string>{"INITMENUPOPUP", "INITMENUPOPUP", "INITMENUPOPUP", "COMMAND 100"}));
  ASSERT_FALSE(cocoa::menus::shownMenus().empty());
  EXPECT_TRUE(cocoa::menus::shownMenus().back().items[0].submenu[0].checked);
  seen.clear();
  cocoa::menus::scriptChoice({1});
  EXPECT_EQ(TrackPopupMenu(m, TPM_RETURNCMD | TPM_NONOTIFY, 0, 0, 0, v, nullptr), 102);
  EXPECT_TRUE(seen.empty());
  cocoa::menus::scriptDismiss();
  EXPECT_EQ(TrackPopupMenu(m, TPM_RETURNCMD, 0, 0, 0, v, nullptr), 0);

  // The main menu follows the key window; destroying a menu that a window holds leaves no dangling reference.
  HWND v2 = SHIM_CreateDialog(nullptr, reinterpret_cast<const char*>(0x400000), nullptr, nullptr, 0);
  HMENU bar = CreatePopupMenuEx("Bar");
  ShowWindow(v, SW_SHOW);
  EXPECT_TRUE(SetMenu(v, bar));
  EXPECT_EQ(SHIM_GetCurrentMenu(), bar);
  SHIM_SetDefaultWindowMenu(m2);
  ShowWindow(v2, SW_SHOW);
  EXPECT_EQ(SHIM_GetCurrentMenu(), m2);
  ShowWindow(v, SW_SHOW);
  EXPECT_EQ(SHIM_GetCurrentMenu(), bar);
  DestroyMenu(bar);
  EXPECT_EQ(GetMenu(v), nullptr);
  EXPECT_EQ(SHIM_GetCurrentMenu(), nullptr);
  SHIM_SetDefaultWindowMenu(nullptr);
  DestroyWindow(v);
  DestroyWindow(v2);
  DestroyMenu(m);
  DestroyMenu(m2);
  DestroyMenu(m3);
}

// ---- Clipboard, dropped files, window contexts

TEST_F(WindowsTest, TheClipboardRoundTripsTextAndPrivateData) {
  const UINT fmt = RegisterClipboardFormat("Vexmir Program");
  EXPECT_EQ(RegisterClipboardFormat("Vexmir Program"), fmt);
  auto block = [](const void* p, int n) {
    HANDLE h = GlobalAlloc(GMEM_MOVEABLE, n);
    std::memcpy(GlobalLock(h), p, static_cast<size_t>(n));
    GlobalUnlock(h);
    return h;
  };
  const unsigned char bytes[4] = {0xF0, 0x42, 0x30, 0xF7};
  ASSERT_TRUE(OpenClipboard(nullptr));
  SetClipboardData(fmt, block(bytes, 4));
  CloseClipboard();
  OpenClipboard(nullptr);
  EXPECT_EQ(EnumClipboardFormats(0), fmt);
  EXPECT_EQ(EnumClipboardFormats(fmt), 0u);
  HANDLE got = GetClipboardData(fmt);
  ASSERT_NE(got, nullptr);
  EXPECT_EQ(GlobalSize(got), 4);
  EXPECT_EQ(std::memcmp(GlobalLock(got), bytes, 4), 0);
  GlobalUnlock(got);
  SetClipboardData(CF_TEXT, block("Init 001", 9));
  CloseClipboard();
  OpenClipboard(nullptr);
  HANDLE text = GetClipboardData(CF_TEXT);
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(static_cast<const char*>(GlobalLock(text)), "Init 001");
  GlobalUnlock(text);
  CloseClipboard();
}

std::vector<std::string> g_dropped;
LRESULT dropProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_DROPFILES) {
    HDROP d = reinterpret_cast<HDROP>(wp);
    const UINT n = DragQueryFile(d, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < n; ++i) {
      char buf[5];
      const UINT len = DragQueryFile(d, i, buf, sizeof(buf));
      g_dropped.push_back(std::string(buf, len) + "/" + std::to_string(DragQueryFile(d, i, nullptr, 0)));
    }
    POINT p;
    EXPECT_TRUE(DragQueryPoint(d, &p));
    g_dropped.push_back(std::to_string(p.x) + "," + std::to_string(p.y));
    DragFinish(d);
  }
  return DefWindowProc(h, msg, wp, lp);
}

TEST_F(WindowsTest, DroppedFilesAreReadAndReadsStayInsideTheBlock) {
  g_dropped.clear();
  HWND v = SHIM_CreateDialog(nullptr, reinterpret_cast<const char*>(0x400000), nullptr,
                             reinterpret_cast<DLGPROC>(dropProc), 0);
  cocoa::Window* w = v->as<cocoa::View>()->window();
  w->setFrame(cocoa::Rect{0, 0, 200, 100}, false);
  EXPECT_FALSE(SHIM_DropFiles(v, {"/a.syx"}, cocoa::Point{10, 90}));  // not a drop target yet
  SetWindowLong(v, GWL_EXSTYLE, WS_EX_ACCEPTFILES);
  EXPECT_TRUE(SHIM_DropFiles(v, {"/tmp/bank.syx", "/b.mid", "/c"}, cocoa::Point{10, 90}));
  EXPECT_EQ(g_dropped, (std::vector<std::string>{"/tmp/13", "/b.m/6", "/c/2", "10,10"}));
  // A block whose list runs past its end is read no further than the block.
  HANDLE bad = GlobalAlloc(GMEM_MOVEABLE, 20);
  char* p = static_cast<char*>(GlobalLock(bad));
  const int32_t head[4] = {16, 0, 0, 0};
  std::memcpy(p, head, 16);
  std::memcpy(p + 16, "abcd", 4);  // no terminating zero inside the block
  GlobalUnlock(bad);
  EXPECT_EQ(DragQueryFile(bad, 0xFFFFFFFF, nullptr, 0), 0u);
  EXPECT_EQ(DragQueryFile(bad, 0, nullptr, 0), 0u);
  GlobalFree(bad);
  DestroyWindow(v);
}

HDC g_paintDC = nullptr;
LRESULT paintProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_PAINT) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(h, &ps);
    g_paintDC = dc;
    HDC again = GetDC(h);
    EXPECT_EQ(again, dc);
    ReleaseDC(h, again);  // the paint's own context: restored, never freed
    HBRUSH red = CreateSolidBrush(0xFF0000);
    SHIM_FillRect(dc, &ps.rcPaint, red);
    DeleteObject(red);
    EndPaint(h, &ps);
    return 0;
  }
  return DefWindowProc(h, msg, wp, lp);
}

TEST_F(WindowsTest, ReleaseDCNeverFreesThePaintsOwnContext) {
  HWND v = SHIM_CreateDialog(nullptr, reinterpret_cast<const char*>(0x400000), nullptr,
                             reinterpret_cast<DLGPROC>(paintProc), 0);
  cocoa::Window* w = v->as<cocoa::View>()->window();
  w->setFrame(cocoa::Rect{0, 0, 40, 30}, false);
  ShowWindow(v, SW_SHOW);
  w->displayIfNeeded();
  InvalidateRect(v, nullptr, 0);
  const int poolBefore = SHIM_GDP_CtxPoolSize();
  w->displayIfNeeded();
  EXPECT_NE(g_paintDC, nullptr);
  EXPECT_EQ(w->pixelAt(5, 5), 0xFF0000u);
  EXPECT_EQ(SHIM_GDP_CtxPoolSize(), poolBefore);  // the paint's context went back once, not twice
  HDC dc = GetDC(v);
  ASSERT_NE(dc, nullptr);
  ReleaseDC(v, dc);
  DestroyWindow(v);
}

}  // namespace
