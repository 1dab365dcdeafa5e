// The window layer's windows: the message order a window procedure sees, dialogs from registered tables (the
// editor's bank-name dialog driven by typing and saved as PNG), dispatch, window longs, geometry, menus, the
// clipboard and dropped files, and the faults of the layer that these tests pin down.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "KIT/shim/shim-ctl.h"
#include "KIT/shim/shim-gdi-internal.h"
#include "KIT/shim/shim-hwnd.h"
#include "KIT/shim/shim-internal.h"
#include "KIT/shim/shim.h"
#include "platform/cocoa/cfbundle.h"
#include "platform/cocoa/controls.h"
#include "platform/cocoa/modal.h"
#include "platform/cocoa/panels.h"
#include "platform/cocoa/pasteboard.h"
#include "platform/cocoa/runloop.h"
#include "src/AppDialogs.h"
#include "tests/shim/shim_test_windows.h"

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

// First in the file, before any dialog sets the builder state: creators without one make nothing.
TEST(WindowsBuilderState, CreatorsBeforeAnyStateReturnNull) {
  EXPECT_EQ(SHIM_MakeButton(0, "OK", 1, 0, 0, 10, 10, 0), nullptr);
  EXPECT_EQ(SHIM_MakeLabel(0, "L", 2, 0, 0, 10, 10, 0), nullptr);
  EXPECT_EQ(SHIM_MakeControl("x", 3, "static", 0, 0, 0, 10, 10, 0), nullptr);
}

class WindowsTest : public LayerWindowsTest {
 protected:
  void SetUp() override {
    cocoa::useManualClock();
    LayerWindowsTest::SetUp();
    g_log.clear();
    cocoa::menus::clearShown();
    cocoa::panels::clearScript();
    cocoa::alerts::clearScript();
  }
  void TearDown() override {
    LayerWindowsTest::TearDown();
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

TEST_F(WindowsTest, TheEditorsDialogProcedureCentresAndEndsOnOkCancelAndClose) {
  struct Case {
    const char* what;
    int button;  // 0: the title-bar close button
    INT_PTR result;
  };
  const Case cases[] = {{"OK", kBankNameOK, 1}, {"Cancel", IDCANCEL, 0}, {"close button", 0, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    cocoa::modal::setIdleLimit(1e9);  // a dialog that the buttons could not end would hang here
    cocoa::Rect frame;
    cocoa::RunLoop::current()->perform([&] {
      cocoa::Window* w = cocoa::modal::modalWindow();
      ASSERT_NE(w, nullptr);
      frame = w->frame();
      if (c.button) {
        click(w, GetDlgItem(w->contentView(), c.button));
      } else {
        w->performClose();
      }
    });
    EXPECT_EQ(showMessageBox(nullptr, nullptr, kBankNameDialog, nullptr), c.result);
    // Centred on the 1600 x 1000 screen when it opened.
    EXPECT_DOUBLE_EQ(frame.x + frame.w / 2, 800);
    EXPECT_DOUBLE_EQ(frame.y + frame.h / 2, 500);
  }
  cocoa::modal::setIdleLimit(60);
  EXPECT_EQ(showMessageBox(nullptr, nullptr, 999, nullptr), -1);
}

TEST_F(WindowsTest, CenterDialogPutsTheDialogsCentreOnItsParentsCentre) {
  HWND parent = SHIM_CreateDialog(nullptr, reinterpret_cast<const char*>(0x400000), nullptr,
                                  reinterpret_cast<DLGPROC>(recordingProc), 0);
  HWND dlg = SHIM_CreateDialog(SHIM_curmodule_dialogresource_head, MAKEINTRESOURCE(kBankNameDialog), nullptr,
                               MessageBoxProg, 0);
  ASSERT_NE(parent, nullptr);
  ASSERT_NE(dlg, nullptr);
  SetWindowPos(parent, nullptr, 100, 50, 600, 400, SWP_NOZORDER);
  centerDialog(parent, dlg);
  RECT p, d;
  GetWindowRect(parent, &p);
  GetWindowRect(dlg, &d);
  EXPECT_EQ((p.left + p.right) / 2, (d.left + d.right) / 2);
  EXPECT_EQ((p.top + p.bottom) / 2, (d.top + d.bottom) / 2);
  EXPECT_EQ(d.right - d.left, 396);  // the size stays
  centerDialog(nullptr, dlg);        // nothing to centre on: nothing moves
  RECT again;
  GetWindowRect(dlg, &again);
  EXPECT_EQ(again.left, d.left);
  DestroyWindow(dlg);
  DestroyWindow(parent);
}

TEST_F(WindowsTest, DestroyingTheModalDialogEndsItsLoop) {
  cocoa::modal::setIdleLimit(1e9);  // only the destroy may end it
  cocoa::RunLoop::current()->perform([] { DestroyWindow(cocoa::modal::modalWindow()); });
  EXPECT_EQ(SHIM_DialogBox(SHIM_curmodule_dialogresource_head, MAKEINTRESOURCE(10014), nullptr, patchSaveProc, 0), 0);
  cocoa::modal::setIdleLimit(60);
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
  HWND push = SHIM_MakeButton(0, "Img", 8, 10, 70, 40, 14, 0);
  const uint32_t px[4] = {0xFFFF0000u, 0xFFFF0000u, 0xFFFF0000u, 0xFFFF0000u};
  HBITMAP bm = CreateBitmap(2, 2, 1, 32, px);
  HPEN pen = CreatePen(0, 1, 0);
  EXPECT_EQ(SendMessage(push, BM_SETIMAGE, 0, reinterpret_cast<LPARAM>(bm)), 0);
  EXPECT_EQ(SendMessage(push, BM_GETIMAGE, 0, 0), reinterpret_cast<LRESULT>(bm));
  EXPECT_NE(push->as<cocoa::Button>()->image(), nullptr);
  EXPECT_EQ(SendMessage(push, BM_GETIMAGE, 2, 0), 0);
  // Not a bitmap: the image goes and the one set before is answered.
  EXPECT_EQ(SendMessage(push, BM_SETIMAGE, 0, reinterpret_cast<LPARAM>(pen)), reinterpret_cast<LRESULT>(bm));
  EXPECT_EQ(push->as<cocoa::Button>()->image(), nullptr);
  EXPECT_EQ(SendMessage(push, BM_GETIMAGE, 0, 0), 0);
  DeleteObject(bm);
  DeleteObject(pen);
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

HWND plainWindow(const char* resid, HWND parent);

TEST_F(WindowsTest, EditSelectionsFollowTheFieldBeingEdited) {
  HWND dlg = plainWindow(reinterpret_cast<const char*>(0x400000), nullptr);
  SHIM_MakeSetCurParms(1, 1, 0, 0, dlg, false, false);
  HWND edit = SHIM_MakeEditField(3, 0, 0, 100, 14, 0);
  SetDlgItemText(dlg, 3, "hello");
  int start = -5, end = -5;
  SendMessage(edit, EM_SETSEL, 1, 3);  // not being edited: nothing
  SendMessage(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
  EXPECT_EQ(start, 0);
  EXPECT_EQ(end, 0);
  cocoa::Window* w = dlg->as<cocoa::View>()->window();
  ShowWindow(dlg, SW_SHOW);
  ASSERT_TRUE(w->makeFirstResponder(edit->as<cocoa::View>()));
  struct Case {
    INT_PTR s, e;
    int wantStart, wantEnd;
  };
  for (const Case& c : {Case{-1, 3, 0, 0}, Case{0, -1, 0, 5}, Case{1, 3, 1, 3}, Case{4, 2, 2, 4}, Case{2, 99, 2, 5}}) {
    SendMessage(edit, EM_SETSEL, static_cast<WPARAM>(c.s), static_cast<LPARAM>(c.e));
    SendMessage(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(start, c.wantStart) << c.s << "," << c.e;
    EXPECT_EQ(end, c.wantEnd) << c.s << "," << c.e;
  }
  // Typing replaces the selection.
  SendMessage(edit, EM_SETSEL, 1, 4);
  typeText(w, U"E");
  char text[16];
  GetDlgItemText(dlg, 3, text, sizeof(text));
  EXPECT_STREQ(text, "hEo");
  // A text wider than the field, its caret placed at the start while it is edited, shows its start as the field
  // not being edited does: all but the caret's column alike.
  auto picture = [&] {
    w->displayIfNeeded();
    std::vector<uint32_t> p;
    for (int y = 0; y < 14; ++y)
      for (int x = 0; x < 100; ++x) p.push_back(x == 3 ? 0 : w->pixelAt(x, y));
    return p;
  };
  SetDlgItemText(dlg, 3, "A name far too long for its field to show whole");
  w->setContentSize(120, 40);
  w->makeFirstResponder(nullptr);
  const std::vector<uint32_t> notEdited = picture();
  ASSERT_TRUE(w->makeFirstResponder(edit->as<cocoa::View>()));
  picture();
  SendMessage(edit, EM_SETSEL, 0, 0);
  EXPECT_TRUE(picture() == notEdited) << "the field does not show its start";
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

// The names in a dropped-files block as read into a buffer of `size` bytes (up to 256), each followed by "/" and
// its full length when `withLength`.
std::vector<std::string> readDropped(HANDLE d, UINT size, bool withLength) {
  std::vector<std::string> out;
  for (UINT i = 0, n = DragQueryFile(d, 0xFFFFFFFF, nullptr, 0); i < n; ++i) {
    char buf[256];
    std::string name(buf, DragQueryFile(d, i, buf, std::min(size, 256u)));
    if (withLength) name += "/" + std::to_string(DragQueryFile(d, i, nullptr, 0));
    out.push_back(name);
  }
  return out;
}

std::vector<std::string> g_dropped;
LRESULT dropProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_DROPFILES) {
    HDROP d = reinterpret_cast<HDROP>(wp);
    g_dropped = readDropped(d, 5, true);
    POINT p;
    EXPECT_TRUE(DragQueryPoint(d, &p));
    g_dropped.push_back(std::to_string(p.x) + "," + std::to_string(p.y));
    DragFinish(d);
  }
  return DefWindowProc(h, msg, wp, lp);
}

// A plain 200 x 100 window whose content view has procedure `proc`.
HWND plainWindow(LRESULT (*proc)(HWND, UINT, WPARAM, LPARAM)) {
  HWND v =
      SHIM_CreateDialog(nullptr, reinterpret_cast<const char*>(0x400000), nullptr, reinterpret_cast<DLGPROC>(proc), 0);
  v->as<cocoa::View>()->window()->setFrame(cocoa::Rect{0, 0, 200, 100}, false);
  return v;
}

TEST_F(WindowsTest, DroppedFilesAreReadAndReadsStayInsideTheBlock) {
  g_dropped.clear();
  HWND v = plainWindow(dropProc);
  EXPECT_FALSE(SHIM_DropFiles(v, {"/a.syx"}, cocoa::Point{10, 90}));  // not a drop target yet
  SetWindowLong(v, GWL_EXSTYLE, WS_EX_ACCEPTFILES);
  EXPECT_TRUE(SHIM_DropFiles(v, {"/tmp/bank.syx", "/b.mid", "/c"}, cocoa::Point{10, 90}));
  EXPECT_EQ(g_dropped, (std::vector<std::string>{"/tmp/13", "/b.m/6", "/c/2", "10,10"}));
  // The application's hooks hear of the drag: the entering block lists the files, points are on the screen.
  static std::vector<std::string> hooks;
  hooks.clear();
  SHIM_DDrop_onDragEnter = [](HANDLE block, int x, int y) {
    hooks.push_back("enter " + std::to_string(DragQueryFile(block, 0xFFFFFFFF, nullptr, 0)) + " " + std::to_string(x) +
                    "," + std::to_string(y));
  };
  SHIM_DDrop_onDragOver = [](int x, int y) { hooks.push_back("over " + std::to_string(x) + "," + std::to_string(y)); };
  SHIM_DDrop_onDragLeave = [] { hooks.push_back("leave"); };
  EXPECT_EQ(SHIM_DragEntered(v, {"/a", "/b"}, cocoa::Point{10, 90}), 4);
  EXPECT_EQ(SHIM_DragUpdated(v, cocoa::Point{11.6, 90}), 4);
  SHIM_DragExited(v);
  EXPECT_EQ(hooks, (std::vector<std::string>{"enter 2 10,90", "over 12,90", "leave"}));
  SHIM_DDrop_onDragEnter = nullptr;
  SHIM_DDrop_onDragOver = nullptr;
  SHIM_DDrop_onDragLeave = nullptr;
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

std::vector<std::string> g_droppedPaths;
LRESULT pathDropProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_DROPFILES) {
    HDROP d = reinterpret_cast<HDROP>(wp);
    for (const std::string& name : readDropped(d, 256, false)) g_droppedPaths.push_back(name);
    DragFinish(d);
  }
  return DefWindowProc(h, msg, wp, lp);
}

TEST_F(WindowsTest, PromisedFilesAreWrittenWhereTheApplicationSaysAndThenDropped) {
  g_droppedPaths.clear();
  HWND v = plainWindow(pathDropProc);
  SetWindowLong(v, GWL_EXSTYLE, WS_EX_ACCEPTFILES);
  std::vector<std::string> writtenTo;
  const SHIM_DragContents promise{{}, {"syx", "mid"}, [&](const std::string& folder) {
                                    writtenTo.push_back(folder);
                                    return std::vector<std::string>{"Bank A.syx", "../Escape.syx", ".."};
                                  }};
  const cocoa::Point at{10, 90};
  // Without the application's folder hook there is nowhere to write: no drop, nothing written.
  SHIM_DDrop_getDroppedFileTargetPath = nullptr;
  EXPECT_FALSE(SHIM_DropContents(v, promise, at));
  EXPECT_TRUE(writtenTo.empty());
  // While the drag only passes over, "tmp." names of the promised types stand in; nothing is written.
  static std::vector<std::string> looked;
  looked.clear();
  SHIM_DDrop_onDragEnter = [](HANDLE block, int, int) { looked = readDropped(block, 64, false); };
  EXPECT_EQ(SHIM_DragEnteredContents(v, promise, at), 4);
  EXPECT_EQ(looked, (std::vector<std::string>{"tmp.syx", "tmp.mid"}));
  EXPECT_TRUE(writtenTo.empty());
  SHIM_DDrop_onDragEnter = nullptr;
  // The hook is asked with the first type; the files land in its folder, by their plain names only.
  static std::vector<std::string> asked;
  asked.clear();
  SHIM_DDrop_getDroppedFileTargetPath = [](const char* type) {
    asked.push_back(type);
    return "/home/user/Banks";
  };
  EXPECT_TRUE(SHIM_DropContents(v, promise, at));
  EXPECT_EQ(asked, (std::vector<std::string>{"syx"}));
  EXPECT_EQ(writtenTo, (std::vector<std::string>{"/home/user/Banks/"}));
  EXPECT_EQ(g_droppedPaths, (std::vector<std::string>{"/home/user/Banks/Bank A.syx", "/home/user/Banks/Escape.syx"}));
  // An empty answer means the temporary folder.
  SHIM_DDrop_getDroppedFileTargetPath = [](const char*) { return ""; };
  g_droppedPaths.clear();
  EXPECT_TRUE(SHIM_DropContents(v, promise, at));
  EXPECT_EQ(writtenTo.back(), "/tmp/");
  EXPECT_EQ(g_droppedPaths.front(), "/tmp/Bank A.syx");
  SHIM_DDrop_getDroppedFileTargetPath = nullptr;
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

// Takes a window context of `target` (itself when null) while it draws, as owner-drawn cells do, and fills it.
class ContextTakingView : public cocoa::View {
 public:
  using cocoa::View::View;
  cocoa::View* target = nullptr;
  void drawRect(cocoa::Rect) override {
    cocoa::View* t = target ? target : this;
    HDC dc = GetDC(t);
    if (!dc) return;
    const RECT r{0, 0, static_cast<int>(t->frame().w), static_cast<int>(t->frame().h)};
    HBRUSH red = CreateSolidBrush(0xFF0000);
    SHIM_FillRect(dc, &r, red);
    DeleteObject(red);
    ReleaseDC(t, dc);
  }
};

TEST_F(WindowsTest, AContextTakenWhileAViewDrawsLandsOnTheViewItNames) {
  struct Case {
    const char* what;
    bool other;      // the context is of a sibling, not of the drawing view
    int x, y;        // a pixel (from the top left) inside the view drawn into
    int notX, notY;  // where the drawing view's offset, added a second time, would put it
  };
  const Case cases[] = {
      {"its own context", false, 40, 55, 70, 35},
      {"a sibling's context", true, 80, 25, 110, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto* w = new cocoa::Window(cocoa::Rect{0, 0, 120, 80});
    auto* drawer = new ContextTakingView(cocoa::Rect{30, 20, 20, 10});
    auto* sibling = new cocoa::View(cocoa::Rect{70, 50, 20, 10});
    w->contentView()->addSubview(drawer);
    w->contentView()->addSubview(sibling);
    if (c.other) drawer->target = sibling;
    w->displayIfNeeded();
    drawer->setNeedsDisplay(true);
    w->displayIfNeeded();
    EXPECT_EQ(w->pixelAt(c.x, c.y), 0xFF0000u);
    EXPECT_EQ(w->pixelAt(c.notX, c.notY), 0xFFFFFFu);
    // The drawing view's own state comes back whole after the context is released.
    EXPECT_EQ(w->backing()->saveDepth(), 0);
    drawer->release();
    sibling->release();
    w->release();
  }
}

const SHIM_DialogControlEntry kSettings[] = {
    {"__SHIM_GROUP", 0, "MIDI &Ports", 0, 5, 5, 190, 62, 0},
    {"__SHIM_LABEL", -1, "Input:", 0, 12, 18, 40, 10, 0},
    {"__SHIM_COMBO", 0, nullptr, 101, 55, 16, 130, 12, CBS_DROPDOWNLIST},
    {"__SHIM_LABEL", -1, "Output:", 0, 12, 36, 40, 10, 0},
    {"__SHIM_COMBO", 0, nullptr, 102, 55, 34, 130, 12, 0},
    {"__SHIM_CHECKBOX", 0, "Send &clock", 103, 12, 52, 80, 10, 0},
    {"Timbre &1", 104, "Button", BS_AUTORADIOBUTTON | WS_GROUP, 12, 75, 60, 10, 0},
    {"Timbre &2", 105, "Button", BS_AUTORADIOBUTTON, 80, 75, 60, 10, 0},
    {"", 106, "msctls_trackbar32", 0, 12, 90, 170, 10, 0},
    {"__SHIM_BUTTON", 1, "&OK", IDOK, 135, 108, 50, 14, 0},
};
void createSettings(HWND view, int) {
  SHIM_MakeSetCurParms(1.5f, 1.5f, 0, 0, view, false, true);
  SHIM_GenerateDialogFromList(kSettings, static_cast<int>(sizeof(kSettings) / sizeof(kSettings[0])));
}

TEST_F(WindowsTest, AToolDialogFromATableIsDrawnWithItsControls) {
  static SHIM_DialogResourceIndex res{MAKEINTRESOURCE(600),
                                      "MIDI Settings",
                                      SHIM_DIALOG_FLIPPED | SHIM_DIALOG_OPAQUE,
                                      createSettings,
                                      300,
                                      190,
                                      nullptr};
  HWND d = SHIM_CreateDialog(&res, MAKEINTRESOURCE(600), nullptr, patchSaveProc, 0);
  ASSERT_NE(d, nullptr);
  cocoa::Window* w = d->as<cocoa::View>()->window();
  for (const char* name : {"OFF", "Vexmir Synth Emulator:MIDI Out"}) {
    SendMessage(GetDlgItem(d, 101), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
    SendMessage(GetDlgItem(d, 102), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
  }
  SendMessage(GetDlgItem(d, 101), CB_SETCURSEL, 1, 0);
  SendMessage(GetDlgItem(d, 102), CB_SETCURSEL, 0, 0);
  SendMessage(GetDlgItem(d, 103), BM_SETCHECK, BST_CHECKED, 0);
  SendMessage(GetDlgItem(d, 106), TBM_SETPOS, 1, 600);
  ShowWindow(d, SW_SHOW);
  click(w, GetDlgItem(d, 105));
  EXPECT_EQ(SendMessage(GetDlgItem(d, 105), BM_GETCHECK, 0, 0), 1);
  w->displayIfNeeded();
  EXPECT_TRUE(w->writePNG(outDir() + "/settings-dialog.png"));
  DestroyWindow(d);
}

// ---- Each Part's own examples

LRESULT plainProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCALCSIZE && GetProp(h, "inset")) {
    auto* p = reinterpret_cast<NCCALCSIZE_PARAMS*>(lp);
    p->rgrc[0].left += 10;
    p->rgrc[0].top += 10;
    p->rgrc[0].right -= 10;
    p->rgrc[0].bottom -= 10;
    return 0;
  }
  if (msg == WM_COMMAND) g_log.push_back("COMMAND " + std::to_string(wp));
  if (msg == WM_CONTEXTMENU) g_log.push_back("CONTEXTMENU " + std::to_string(wp == reinterpret_cast<WPARAM>(h)));
  if (msg == WM_DESTROY) g_log.push_back("DESTROY");
  if (msg == WM_CAPTURECHANGED) g_log.push_back("CAPTURECHANGED");
  return DefWindowProc(h, msg, wp, lp);
}

HWND plainWindow(const char* resid = reinterpret_cast<const char*>(0x400000), HWND parent = nullptr) {
  return SHIM_CreateDialog(nullptr, resid, parent, reinterpret_cast<DLGPROC>(plainProc), 0);
}

TEST_F(WindowsTest, WindowHandleExamples) {
  HWND dlg = plainWindow(reinterpret_cast<const char*>(0x400001));
  cocoa::Window* w = dlg->as<cocoa::View>()->window();
  w->setFrame(cocoa::Rect{0, 0, 300, 200}, false);
  EXPECT_EQ(w->styleMask, 15u);
  EXPECT_EQ(GetWindowLong(dlg, GWL_STYLE), WS_CAPTION | WS_THICKFRAME);
  EXPECT_EQ(GetDlgItem(w, 0), dlg);
  SHIM_MakeSetCurParms(1, 1, 0, 0, dlg, false, false);
  HWND push = SHIM_MakeButton(0, "Go", 10, 0, 0, 40, 20, 0);
  HWND radio = SHIM_MakeControl("A", 11, "Button", BS_AUTORADIOBUTTON | WS_GROUP, 0, 30, 40, 20, 0);
  HWND radio2 = SHIM_MakeControl("B", 12, "Button", BS_AUTORADIOBUTTON, 50, 30, 40, 20, 0);
  HWND radio3 = SHIM_MakeControl("C", 13, "Button", BS_AUTORADIOBUTTON, 100, 30, 40, 20, 0);
  HWND edit = SHIM_MakeEditField(14, 0, 60, 80, 20, 0);
  HWND label = SHIM_MakeLabel(-1, "Name", 15, 0, 90, 80, 12, 0);
  EXPECT_EQ(GetWindowLong(push, GWL_STYLE), 3 | WS_CHILD);
  EXPECT_EQ(GetWindowLong(radio, GWL_STYLE), 0x20009 | WS_CHILD);
  EXPECT_EQ(GetWindowLong(radio2, GWL_STYLE), 9 | WS_CHILD);
  SetWindowLongPtr(push, GWL_USERDATA, 99);
  EXPECT_EQ(GetWindowLongPtr(push, GWL_USERDATA), 99);
  EXPECT_EQ(SetWindowLong(push, 7, 5), 0);  // a control has no extra words
  EXPECT_EQ(GetWindowLong(push, 7), 0);
  EXPECT_EQ(GetWindow(push, GW_OWNER), dlg);
  EXPECT_EQ(GetWindow(dlg, GW_OWNER), nullptr);
  EXPECT_EQ(GetWindow(dlg, GW_CHILD), push);
  EXPECT_EQ(GetWindow(radio, GW_HWNDNEXT), radio2);
  EXPECT_EQ(GetWindow(push, GW_HWNDPREV), nullptr);
  EXPECT_EQ(FindWindowEx(dlg, nullptr, "STATIC", nullptr), edit);  // text fields count as statics
  EXPECT_EQ(FindWindowEx(dlg, nullptr, "static", "Name"), label);
  EXPECT_EQ(FindWindowEx(nullptr, nullptr, nullptr, nullptr), nullptr);
  // A nested control is not found; radio buttons switch off the rest of their set only.
  HWND inner = plainWindow(nullptr, dlg);
  SHIM_MakeSetCurParms(1, 1, 0, 0, inner, false, false);
  SHIM_MakeButton(0, "Deep", 20, 0, 0, 10, 10, 0);
  EXPECT_EQ(GetDlgItem(dlg, 20), nullptr);
  SendMessage(radio2, BM_SETCHECK, 1, 0);
  ShowWindow(dlg, SW_SHOW);
  click(w, radio3);
  EXPECT_EQ(SendMessage(radio3, BM_GETCHECK, 0, 0), 1);
  EXPECT_EQ(SendMessage(radio2, BM_GETCHECK, 0, 0), 0);
  // SetDlgItemText on an editable field tells its parent once; on a label not at all.
  g_log.clear();
  SetDlgItemText(dlg, 14, "x");
  SetDlgItemText(dlg, 15, "y");
  EXPECT_EQ(g_log, (std::vector<std::string>{"COMMAND " + std::to_string(0x0300000Eu)}));
  char small[1] = {'z'};
  EXPECT_TRUE(GetDlgItemText(dlg, 14, small, 0));  // a size below 1 writes nothing
  EXPECT_EQ(small[0], 'z');
  // Hiding the focused view moves the focus to its parent first.
  w->makeFirstResponder(edit->as<cocoa::View>());
  ShowWindow(edit, SW_HIDE);
  EXPECT_EQ(GetFocus(), dlg);
  ShowWindow(w, 5);
  EXPECT_TRUE(w->isVisible());
  ShowWindow(dlg, SW_HIDE);
  EXPECT_FALSE(w->isVisible());
  EXPECT_FALSE(IsWindowVisible(dlg));
  DestroyWindow(dlg);
}

TEST_F(WindowsTest, RebuildingAFrameKeepsTheViewPlaceAndLevel) {
  HWND v = SHIM_CreateDialog(nullptr, nullptr, nullptr, reinterpret_cast<DLGPROC>(plainProc), 0);
  cocoa::Window* old = v->as<cocoa::View>()->window();
  EXPECT_EQ(old->styleMask, 0u);  // no record, no parent: borderless
  EXPECT_EQ(GetWindowLong(v, GWL_STYLE), 0);
  old->setFrame(cocoa::Rect{120, 80, 300, 200}, false);
  old->setLevel(3);
  ShowWindow(v, SW_SHOW);
  SetDlgItemText(v, 0, "Librarian");
  EXPECT_EQ(SetWindowLong(v, GWL_STYLE, WS_CAPTION | WS_THICKFRAME), 0);
  cocoa::Window* now = v->as<cocoa::View>()->window();
  ASSERT_NE(now, nullptr);
  EXPECT_NE(now, old);
  EXPECT_EQ(now->styleMask, 15u);
  EXPECT_EQ(now->frame().x, 120);
  EXPECT_EQ(now->level(), 3);
  EXPECT_TRUE(now->isVisible());
  EXPECT_EQ(now->title(), "Librarian");
  SetWindowLong(v, GWL_STYLE, WS_CAPTION | WS_THICKFRAME);
  EXPECT_EQ(v->as<cocoa::View>()->window(), now);
  // Parenting makes it a child; none makes it top-level again.
  HWND host = plainWindow();
  EXPECT_EQ(SetParent(v, host), host);
  EXPECT_EQ(v->as<cocoa::View>()->superview(), host);
  EXPECT_EQ(GetWindowLong(v, GWL_STYLE), WS_CHILD);
  EXPECT_EQ(SetParent(v, nullptr), nullptr);
  ASSERT_NE(v->as<cocoa::View>()->window(), nullptr);
  EXPECT_TRUE(SHIM_IsContentView(v->as<cocoa::View>()));
  DestroyWindow(v);
  DestroyWindow(host);
}

TEST_F(WindowsTest, GeometryAndRepaintExamples) {
  HWND v = plainWindow();
  SetProp(v, "inset", reinterpret_cast<void*>(1));
  cocoa::Window* w = v->as<cocoa::View>()->window();
  w->setFrame(cocoa::Rect{0, 0, 200, 100}, false);
  RECT r;
  GetClientRect(v, &r);
  EXPECT_EQ((std::vector<int>{r.left, r.top, r.right, r.bottom}), (std::vector<int>{0, 0, 180, 80}));
  RemoveProp(v, "inset");
  SHIM_MakeSetCurParms(1, 1, 0, 0, v, false, false);
  HWND a = plainWindow(nullptr, v);
  HWND b = plainWindow(nullptr, v);
  HWND c = plainWindow(nullptr, v);
  auto order = [&] { return v->as<cocoa::View>()->subviews(); };
  SetWindowPos(a, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER);
  EXPECT_EQ(order().front(), a);
  SetWindowPos(a, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  EXPECT_EQ(order().back(), a);
  SetWindowPos(a, b, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  EXPECT_EQ(order()[1], a);
  EXPECT_EQ(order()[2], c);
  // The first InvalidateRect walks up; a second, with bit 1 still set, does not.
  auto* hv = a->as<Shim_vVexmir_hwnd>();
  auto* parent = v->as<Shim_vVexmir_hwnd>();
  hv->setDirtyBits(0);
  parent->setDirtyBits(0);
  InvalidateRect(a, nullptr, 0);
  EXPECT_EQ(hv->dirtyBits(), 1);
  EXPECT_EQ(parent->dirtyBits(), 2);
  parent->setDirtyBits(0);
  InvalidateRect(a, nullptr, 0);
  EXPECT_EQ(parent->dirtyBits(), 0);
  SetWindowPos(b, nullptr, 0, 0, 30, -40, SWP_NOMOVE | SWP_NOZORDER);
  EXPECT_EQ(b->as<cocoa::View>()->frame().h, 40);  // a negative height is taken as its size
  // A modal session reports its response only once it has ended.
  void* s = SHIM_ModalWindowStart(v);
  ASSERT_NE(s, nullptr);
  int code = 12345;
  EXPECT_TRUE(SHIM_ModalWindowRun(s, &code));
  EXPECT_EQ(code, 12345);
  cocoa::modal::stopWithCode(7);
  EXPECT_FALSE(SHIM_ModalWindowRun(s, &code));
  EXPECT_EQ(code, 7);
  SHIM_ModalWindowEnd(s);
  EXPECT_EQ(cocoa::modal::modalWindow(), nullptr);
  DestroyWindow(v);
}

TEST_F(WindowsTest, CaptureDestroyAndDefaultProcedureExamples) {
  HWND v = plainWindow();
  cocoa::Window* w = v->as<cocoa::View>()->window();
  w->setFrame(cocoa::Rect{100, 100, 200, 100}, false);
  ShowWindow(v, SW_SHOW);
  g_log.clear();
  SetCapture(v);
  SetCapture(v);  // the holder itself: no notice
  EXPECT_TRUE(g_log.empty());
  // Hit testing: 1 everywhere inside when the procedure keeps the rectangle.
  EXPECT_EQ(SendMessage(v, WM_NCHITTEST, 0, MAKELPARAM(150, 120)), HTCLIENT);
  EXPECT_EQ(SendMessage(v, WM_NCHITTEST, 0, MAKELPARAM(50, 120)), 0);
  // A right release over a child names the child; elsewhere the window.
  SHIM_MakeSetCurParms(1, 1, 0, 0, v, false, false);
  HWND child = plainWindow(nullptr, v);
  child->as<cocoa::View>()->setFrame(cocoa::Rect{0, 0, 50, 50});
  ShowWindow(child, SW_SHOW);
  DefWindowProc(v, WM_RBUTTONUP, 0, MAKELPARAM(10, 10));
  DefWindowProc(v, WM_RBUTTONUP, 0, MAKELPARAM(150, 80));
  EXPECT_EQ(g_log, (std::vector<std::string>{"CONTEXTMENU 0", "CONTEXTMENU 1"}));
  g_log.clear();
  SendMessage(v, WM_DESTROY, 0, 0);
  SendMessage(v, WM_DESTROY, 0, 0);
  SendMessage(v, WM_CAPTURECHANGED, 0, 0);
  EXPECT_EQ(g_log, (std::vector<std::string>{"DESTROY", "DESTROY"}));  // the view's, then the child's
  EXPECT_EQ(GetCapture(), nullptr);
  EXPECT_EQ(SendMessage(v, WM_USER, 0, 0), 0);
  DestroyWindow(v);
}

INT_PTR beefProc(HWND, UINT msg, WPARAM, LPARAM) {
  if (msg == WM_INITDIALOG) return 0xBEEF;
  if (msg == WM_ERASEBKGND) return 1;
  if (msg == WM_GETMINMAXINFO) return 0;
  return 0;
}

TEST_F(WindowsTest, DialogExamples) {
  // 0xBEEF from WM_INITDIALOG leaves the focus on the dialog view itself.
  HWND d = SHIM_CreateDialog(SHIM_curmodule_dialogresource_head, MAKEINTRESOURCE(10014), nullptr, beefProc, 0);
  cocoa::Window* w = d->as<cocoa::View>()->window();
  EXPECT_EQ(w->firstResponder(), d);
  // A procedure that answers WM_ERASEBKGND gets no background fill.
  ShowWindow(d, SW_SHOW);
  w->displayIfNeeded();
  EXPECT_EQ(w->pixelAt(2, 2), 0xFFFFFFu);
  // A child resource embeds in a parent view; without one it becomes a top-level window.
  SHIM_DialogResourceIndex child{
      MAKEINTRESOURCE(77), nullptr, SHIM_DIALOG_CHILD | SHIM_DIALOG_FLIPPED, nullptr, 50, 40, nullptr};
  HWND embedded = SHIM_CreateDialog(&child, MAKEINTRESOURCE(77), d, beefProc, 0);
  ASSERT_NE(embedded, nullptr);
  EXPECT_EQ(embedded->as<cocoa::View>()->superview(), d);
  EXPECT_EQ(embedded->as<Shim_vVexmir_hwnd>()->shimCreateWindowFlags(), 15u);
  HWND alone = SHIM_CreateDialog(&child, MAKEINTRESOURCE(77), nullptr, beefProc, 0);
  ASSERT_NE(alone, nullptr);
  EXPECT_TRUE(SHIM_IsContentView(alone->as<cocoa::View>()));
  EXPECT_EQ(SHIM_DialogBox(&child, MAKEINTRESOURCE(77), nullptr, beefProc, 0), -1);
  // resid 0x400001 with a parent view: a resizable top-level window owned by the parent's window.
  HWND owned = SHIM_CreateDialog(nullptr, reinterpret_cast<const char*>(0x400001), d, beefProc, 0);
  cocoa::Window* ow = owned->as<cocoa::View>()->window();
  EXPECT_EQ(ow->styleMask, 15u);
  EXPECT_EQ(ow->as<Shim_vVexmir_windowbase>()->shimGetOwner(), static_cast<HWND>(w));
  // A maximum size left at 1000000 or more leaves the platform's maximum.
  ow->setMaxSize(cocoa::Point{800, 600});
  EXPECT_EQ(ow->maxSize().x, 800);
  DestroyWindow(alone);
  DestroyWindow(d);
  EXPECT_FALSE(IsWindow(owned));
}

TEST_F(WindowsTest, TheLastKeyWindowIsKeptByLivenessAndGesturesAreClamped) {
  static LPARAM previous;
  previous = -1;
  auto proc = +[](HWND h, UINT msg, WPARAM wp, LPARAM lp) -> LRESULT {
    if (msg == WM_ACTIVATE && wp == 1) previous = lp;
    if (msg == WM_GESTURE) {
      GESTUREINFO gi;
      EXPECT_TRUE(SHIM_GetGestureInfo(lp, &gi));
      if (gi.dwFlags == GF_END) g_log.push_back(std::to_string(gi.dwID) + ":" + std::to_string(gi.ullArguments));
    }
    return DefWindowProc(h, msg, wp, lp);
  };
  HWND a =
      SHIM_CreateDialog(nullptr, reinterpret_cast<const char*>(0x400000), nullptr, reinterpret_cast<DLGPROC>(proc), 0);
  HWND b =
      SHIM_CreateDialog(nullptr, reinterpret_cast<const char*>(0x400000), nullptr, reinterpret_cast<DLGPROC>(proc), 0);
  ShowWindow(a, SW_SHOW);
  ShowWindow(b, SW_SHOW);  // a resigns and becomes the last key window
  EXPECT_EQ(previous, reinterpret_cast<LPARAM>(a));
  DestroyWindow(a);
  HWND c =
      SHIM_CreateDialog(nullptr, reinterpret_cast<const char*>(0x400000), nullptr, reinterpret_cast<DLGPROC>(proc), 0);
  ShowWindow(c, SW_SHOW);
  EXPECT_EQ(previous, reinterpret_cast<LPARAM>(b));
  DestroyWindow(b);
  ShowWindow(a == c ? a : c, SW_SHOW);

  cocoa::Window* w = c->as<cocoa::View>()->window();
  w->setFrame(cocoa::Rect{0, 0, 100, 100}, false);
  g_log.clear();
  for (double z : {1e30, -1e30, std::nan(""), 0.25}) {
    cocoa::Event* e = mouse(cocoa::kMagnify, w, 10, 10);
    e->deltaZ = z;
    send(w, e);
  }
  for (double r : {1e30, -1e30}) {
    cocoa::Event* e = mouse(cocoa::kRotate, w, 10, 10);
    e->rotation = r;
    send(w, e);
  }
  EXPECT_EQ(g_log, (std::vector<std::string>{"3:2048", "3:512", "3:1025", "3:1280", "5:65535", "5:0"}));
  DestroyWindow(c);
}

TEST_F(WindowsTest, ANestedBuildLeavesTheOuterTableInItsOwnDialog) {
  static SHIM_DialogResourceIndex inner{MAKEINTRESOURCE(501),
                                        nullptr,
                                        SHIM_DIALOG_CHILD | SHIM_DIALOG_FLIPPED,
                                        [](HWND view, int) {
                                          SHIM_MakeSetCurParms(3, 3, 0, 0, view, false, false);
                                          SHIM_MakeButton(0, "Inner", 1, 0, 0, 10, 10, 0);
                                        },
                                        60,
                                        60,
                                        nullptr};
  static const SHIM_DialogControlEntry half1[] = {{"__SHIM_BUTTON", 0, "One", 10, 10, 10, 20, 10, 0}};
  static const SHIM_DialogControlEntry half2[] = {{"__SHIM_BUTTON", 0, "Two", 11, 40, 10, 20, 10, 0}};
  static SHIM_DialogResourceIndex outer{MAKEINTRESOURCE(500),
                                        "Outer",
                                        SHIM_DIALOG_FLIPPED,
                                        [](HWND view, int) {
                                          SHIM_MakeSetCurParms(1, 1, 0, 0, view, false, false);
                                          SHIM_GenerateDialogFromList(half1, 1);
                                          SHIM_CreateDialog(&inner, MAKEINTRESOURCE(501), view, nullptr, 0);
                                          SHIM_GenerateDialogFromList(half2, 1);
                                        },
                                        200,
                                        100,
                                        nullptr};
  inner._next = nullptr;
  outer._next = &inner;
  HWND d = SHIM_CreateDialog(&outer, MAKEINTRESOURCE(500), nullptr, nullptr, 0);
  ASSERT_NE(d, nullptr);
  HWND two = GetDlgItem(d, 11);
  ASSERT_NE(two, nullptr);
  EXPECT_EQ(two->as<cocoa::View>()->frame().x, 40);  // the outer scale, in the outer dialog
  DestroyWindow(d);
}

TEST_F(WindowsTest, RelativeMouseModeReportsViewCoordinates) {
  HWND v = plainWindow();
  cocoa::Window* w = v->as<cocoa::View>()->window();
  w->setFrame(cocoa::Rect{100, 200, 300, 200}, false);
  cocoa::input::setMouseLocation(cocoa::Point{150, 350});
  SHIM_ShowCursor(false);
  cocoa::Event* e = mouse(cocoa::kMouseMoved, w, 0, 0);
  cocoa::input::setMouseLocation(cocoa::Point{150, 350});
  e->deltaX = 0;
  e->deltaY = 0;
  const cocoa::Point p = shimProcessMouseEvent(WM_MOUSEMOVE, v->as<cocoa::View>(), e);
  e->release();
  SHIM_ShowCursor(true);
  EXPECT_EQ(p.x, 50);
  EXPECT_EQ(p.y, 50);  // flipped: 200 - (350 - 200)
  DestroyWindow(v);
}

TEST_F(WindowsTest, PointsFindTheFrontWindowAndMovesGoToTheWindowUnderThem) {
  HWND back = plainWindow();
  HWND front = plainWindow();
  cocoa::Window* wb = back->as<cocoa::View>()->window();
  cocoa::Window* wf = front->as<cocoa::View>()->window();
  wb->setFrame(cocoa::Rect{0, 0, 200, 200}, false);
  wf->setFrame(cocoa::Rect{150, 0, 200, 200}, false);
  ShowWindow(back, SW_SHOW);
  ShowWindow(front, SW_SHOW);
  EXPECT_EQ(WindowFromPoint(POINT{160, 10}), front);
  EXPECT_EQ(WindowFromPoint(POINT{10, 10}), back);
  EXPECT_EQ(WindowFromPoint(POINT{900, 10}), nullptr);
  // A move over the front window that arrives at the back one is handed to the front window.
  SetWindowLongPtr(front, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(recordingProc));
  g_log.clear();
  back->as<cocoa::View>()->retain();
  cocoa::input::setMouseLocation(cocoa::Point{170, 50});
  cocoa::Event* e = cocoa::Event::mouseEvent(cocoa::kMouseMoved, cocoa::Point{170, 50}, 0, wb);
  back->as<cocoa::View>()->mouseMoved(e);
  e->release();
  back->as<cocoa::View>()->release();
  std::string seen;
  for (const std::string& m : g_log) seen += m + " ";
  EXPECT_EQ(seen, "NCHITTEST NCCALCSIZE MOUSEMOVE SETCURSOR ");
  // A broadcast reaches every window's content view.
  static int displayChanges;
  displayChanges = 0;
  auto proc = +[](HWND h, UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
    if (m == WM_DISPLAYCHANGE) ++displayChanges;
    return DefWindowProc(h, m, wp, lp);
  };
  SetWindowLongPtr(back, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(proc));
  SetWindowLongPtr(front, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(proc));
  SHIM_BroadcastMessage(WM_DISPLAYCHANGE, 0, 0);
  EXPECT_EQ(displayChanges, 2);
  DestroyWindow(back);
  DestroyWindow(front);
}

TEST_F(WindowsTest, NamedImagesComeFromTheApplicationsResources) {
  const std::string dir = cocoa::Bundle::mainBundle()->bundlePath() + "/Contents/Resources";
  ASSERT_EQ(std::system(("mkdir -p '" + dir + "'").c_str()), 0);
  auto* w = new cocoa::Window(cocoa::Rect{0, 0, 3, 2});
  ASSERT_TRUE(w->writePNG(dir + "/vexmir-named-test.png"));
  w->release();
  HBITMAP bm = LoadNamedImage("vexmir-named-test", false);
  ASSERT_NE(bm, nullptr);
  BITMAP info;
  EXPECT_EQ(GetObject(bm, sizeof(info), &info), 1);
  EXPECT_EQ(info.bmWidth, 3);
  EXPECT_EQ(info.bmHeight, 2);
  EXPECT_NE(GetNSImageFromHICON(bm), nullptr);
  DeleteObject(bm);
  EXPECT_EQ(LoadNamedImage("vexmir-no-such-image", false), nullptr);
}

TEST_F(WindowsTest, AWindowlessTimerFromAWorkerIsRefusedBeforeTheMainThreadIsKnown) {
  ASSERT_FALSE(SHIM_Internal_PMQ_IsMainThreadKnown());
  UINT id = 1;
  std::thread worker([&] { id = SetTimer(nullptr, 0, 10, [](HWND, UINT, UINT_PTR, DWORD) {}); });
  worker.join();
  EXPECT_EQ(id, 0u);
  EXPECT_EQ(SHIM_Internal_TimerCount(nullptr), 0);
}

// Directions and owners that a one-sided change would get wrong: searches resume after the window given, a window
// is not its own child, scrolling moves the children by the offsets in the parent's coordinates, the capture's old holder decides whether it
// hears of the change, and an unflipped owner gets its controls measured up from its bottom edge.
TEST_F(WindowsTest, SearchesScrollsCaptureAndBuilderKeepTheirDirections) {
  HWND first = plainWindow(), second = plainWindow(), other = plainWindow();
  auto title = [](HWND h, const char* t) { h->as<cocoa::View>()->window()->setTitle(t); };
  title(first, "Twin");
  title(second, "Twin");
  title(other, "Other");
  const HWND found = FindWindowEx(nullptr, nullptr, nullptr, "Twin");
  ASSERT_TRUE(found == first || found == second);
  const HWND next = FindWindowEx(nullptr, found, nullptr, "Twin");
  EXPECT_EQ(next, found == first ? second : first) << "the search goes on after the window given";
  EXPECT_EQ(FindWindowEx(nullptr, next, nullptr, "Twin"), nullptr);

  SHIM_MakeSetCurParms(1, 1, 0, 0, first, false, false);
  HWND button = SHIM_MakeButton(0, "Go", 10, 20, 30, 40, 20, 0);
  EXPECT_TRUE(IsChild(first, button));
  EXPECT_FALSE(IsChild(button, first));
  EXPECT_FALSE(IsChild(first, first)) << "a window is not its own child";
  EXPECT_FALSE(IsChild(second, button));

  // In the parent's own coordinates: down on the screen for a flipped parent, up for this unflipped one.
  const cocoa::Rect before = button->as<cocoa::View>()->frame();
  EXPECT_TRUE(ScrollWindow(first, 5, 7, nullptr, nullptr));
  const cocoa::Rect after = button->as<cocoa::View>()->frame();
  EXPECT_EQ(after.x - before.x, 5) << "children move with the content";
  EXPECT_EQ(after.y - before.y, 7);

  // The capture's holder asked for change notices (a window procedure); a plain control did not.
  g_log.clear();
  SetCapture(first);
  SetCapture(button);
  EXPECT_EQ(g_log, std::vector<std::string>{"CAPTURECHANGED"}) << "the window that loses the capture is told";
  g_log.clear();
  SetCapture(first);
  EXPECT_TRUE(g_log.empty()) << "a control that never asked is not told";
  ReleaseCapture();

  // The builder on an unflipped owner 200 high, scaled 1.5 across and 2 down: a control of 40 x 15 at (10, 20)
  // is 60 x 30, its lower edge 40 + 30 below the owner's top.
  auto* unflipped = new cocoa::View(cocoa::Rect{0, 0, 300, 200});
  first->as<cocoa::View>()->addSubview(unflipped);
  unflipped->release();
  ASSERT_FALSE(unflipped->isFlipped());
  SHIM_MakeSetCurParms(1.5f, 2, 0, 0, unflipped, false, false);
  HWND low = SHIM_MakeButton(0, "Low", 11, 10, 20, 40, 15, 0);
  const cocoa::Rect f = low->as<cocoa::View>()->frame();
  EXPECT_EQ(f.x, 15);
  EXPECT_EQ(f.w, 60);
  EXPECT_EQ(f.h, 30);
  EXPECT_EQ(f.y, 200 - 40 - 30);
  DestroyWindow(first);
  DestroyWindow(second);
  DestroyWindow(other);
}

}  // namespace
