// The window layer driven by hostile procedures: contexts released through other handles during a paint, windows
// and menus destroyed from inside broadcasts, hiding and displays, views released without a destroy, controls moved
// away from their owner; and what a dialog shows once it is on screen (its fill, and its controls after a resize).
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "KIT/shim/shim-ctl.h"
#include "KIT/shim/shim-ctlclasses.h"
#include "KIT/shim/shim-gdi-internal.h"
#include "KIT/shim/shim-hosted.h"
#include "KIT/shim/shim-hwnd.h"
#include "KIT/shim/shim.h"
#include "platform/cocoa/controls.h"
#include "platform/cocoa/runloop.h"
#include "platform/cocoa/scrollview.h"
#include "platform/cocoa/textview.h"
#include "tests/shim/shim_test_windows.h"
#include "tests/wincontrols/auview_bundle.h"

namespace {

class WinSafe : public LayerWindowsTest {};

// ---- Paint contexts

HDC g_memory = nullptr;
uint8_t* g_memoryPixels = nullptr;

LRESULT childReleasesThroughParent(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_PAINT) {
    HDC paint = GetDC(h);
    // Released through the parent (and through no window at all): the paint still owns its context.
    ReleaseDC(GetParent(h), paint);
    ReleaseDC(nullptr, GetDC(h));
    g_memory = SHIM_CreateMemContext(nullptr, 8, 8);
    g_memoryPixels = static_cast<uint8_t*>(SHIM_GetCtxFrameBuffer(g_memory));
    return 0;
  }
  return DefWindowProc(h, msg, wp, lp);
}

TEST_F(WinSafe, APaintContextReleasedThroughAnotherHandleStaysThePaints) {
  HWND top = topLevel(DefWindowProc);
  Shim_vVexmir_hwnd* child = Shim_vVexmir_hwnd::initChild(nullptr, top, reinterpret_cast<DLGPROC>(childReleasesThroughParent), 0);
  child->setFrame(cocoa::Rect{10, 10, 50, 40});
  ShowWindow(child, SW_SHOW);
  child->release();
  windowOf(top)->displayIfNeeded();
  ASSERT_NE(g_memory, nullptr);
  // The memory context made inside the paint is still whole after the paint ended.
  EXPECT_TRUE(SHIM_GDP_CtxValid(g_memory));
  EXPECT_EQ(SHIM_GetCtxFrameBuffer(g_memory), g_memoryPixels);
  g_memoryPixels[0] = 0xFF;
  SHIM_DeleteGfxContext(g_memory);
  g_memory = nullptr;
}

// ---- What a shown dialog shows

constexpr int kFill = 0x3366CC;
HBRUSH g_fillBrush = nullptr;
bool g_ownErase = false;

INT_PTR fillingDialog(HWND, UINT msg, WPARAM, LPARAM) {
  if (msg == WM_INITDIALOG) return 1;
  if (msg == WM_ERASEBKGND) return g_ownErase ? 1 : 0;
  if (msg == WM_CTLCOLORDLG) return reinterpret_cast<INT_PTR>(g_fillBrush);
  return 0;
}

const SHIM_DialogControlEntry kOneButton[] = {
    {"__SHIM_BUTTON", 0, "Wide button", 7, 20, 20, 120, 30, 0},
};
void createOneButton(HWND view, int) {
  SHIM_MakeSetCurParms(1, 1, 0, 0, view, false, false);
  SHIM_GenerateDialogFromList(kOneButton, 1);
}
SHIM_DialogResourceIndex g_buttonDialog{MAKEINTRESOURCE(900), "Filled", SHIM_DIALOG_FLIPPED | SHIM_DIALOG_OPAQUE |
                                        SHIM_DIALOG_RESIZABLE, createOneButton, 300, 200, nullptr};

// Pixels inside the rectangle (window pixels from the top left) that are neither the fill nor white.
int drawnPixels(cocoa::Window* w, int x0, int y0, int x1, int y1) {
  int n = 0;
  for (int y = y0; y < y1; ++y) {
    for (int x = x0; x < x1; ++x) {
      const uint32_t p = w->pixelAt(x, y);
      if (p != static_cast<uint32_t>(kFill) && p != 0xFFFFFFu) ++n;
    }
  }
  return n;
}

TEST_F(WinSafe, AShownDialogIsFilledAndKeepsItsControlsWhenResized) {
  g_fillBrush = CreateSolidBrush(kFill);
  for (bool ownErase : {false, true}) {
    SCOPED_TRACE(ownErase ? "the procedure erases itself" : "the layer fills");
    g_ownErase = ownErase;
    HWND d = SHIM_CreateDialog(&g_buttonDialog, MAKEINTRESOURCE(900), nullptr, fillingDialog, 0);
    ASSERT_NE(d, nullptr);
    cocoa::Window* w = windowOf(d);
    ShowWindow(d, SW_SHOW);
    // Shown means drawn: the end of the run-loop pass displays every window.
    cocoa::Window::displayAllWindows();
    EXPECT_EQ(w->pixelAt(250, 150), ownErase ? 0xFFFFFFu : static_cast<uint32_t>(kFill));
    const int before = drawnPixels(w, 20, 20, 140, 50);
    EXPECT_GT(before, 1000);
    // A bigger window redraws its content view, and the button under it comes back whole.
    SetWindowPos(d, nullptr, 0, 0, 420, 260, SWP_NOMOVE | SWP_NOZORDER);
    cocoa::Window::displayAllWindows();
    EXPECT_EQ(drawnPixels(w, 20, 20, 140, 50), before);
    if (!ownErase) {
      EXPECT_EQ(w->pixelAt(400, 240), static_cast<uint32_t>(kFill));
    }
    DestroyWindow(d);
  }
  DeleteObject(g_fillBrush);
}

// ---- Views released without a destroy

BOOL countProp(HWND, const char*, void*, LPARAM lp) {
  ++*reinterpret_cast<int*>(lp);
  return TRUE;
}
int g_propsSeen = 0;
int g_destroys = 0;
HWND g_newHome = nullptr;
LRESULT reentersOnDestroy(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_DESTROY) {
    ++g_destroys;
    EnumPropsEx(h, countProp, reinterpret_cast<LPARAM>(&g_propsSeen));
    DestroyWindow(h);
    SetProp(h, "late", h);
    // Given a new home while its memory goes: in a window, or in a window of its own.
    SetParent(h, g_newHome);
    SetParent(h, nullptr);
    return 0;
  }
  return DefWindowProc(h, msg, wp, lp);
}

TEST_F(WinSafe, ReleasingAnUndestroyedViewWhoseDestroyHandlerRetainsItIsOneDelete) {
  g_propsSeen = g_destroys = 0;
  g_newHome = topLevel(DefWindowProc);
  const size_t windows = cocoa::Window::allWindows().size();
  Shim_vVexmir_hwnd* v = Shim_vVexmir_hwnd::initChild(nullptr, nullptr, reinterpret_cast<DLGPROC>(reentersOnDestroy), 0);
  SetProp(v, "a", v);
  SetProp(v, MAKEINTRESOURCE(5), nullptr);
  v->release();
  EXPECT_EQ(g_destroys, 1);
  EXPECT_EQ(g_propsSeen, 2);
  EXPECT_TRUE(g_newHome->as<cocoa::View>()->subviews().empty());
  EXPECT_EQ(cocoa::Window::allWindows().size(), windows);
  windowOf(g_newHome)->displayIfNeeded();
}

// ---- Audio Unit views

TEST_F(WinSafe, AnAudioUnitViewWithoutAViewToHoldItIsRefused) {
  char dir[] = "/tmp/winsafe-auXXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string url = makeAuViewBundle(dir, AUVIEW_MODULE);
  ASSERT_FALSE(url.empty());
  AudioUnitCocoaViewInfo info{url.c_str(), {"VexmirTestView"}};
  RECT r{0, 0, 50, 40};
  auto* notAView = new cocoa::Object;
  for (HWND parent : {static_cast<HWND>(nullptr), static_cast<HWND>(notAView)}) {
    HWND v = SHIM_GetAudioUnitCocoaView(parent, nullptr, &info, &r);
    if (v) {
      EXPECT_GT(v->as<cocoa::View>()->bounds().w, 0);  // a view handed out lives
    }
    EXPECT_EQ(v, nullptr);
  }
  notAView->release();
  // A window stands for its content view.
  HWND top = topLevel(DefWindowProc);
  HWND v = SHIM_GetAudioUnitCocoaView(windowOf(top), nullptr, &info, &r);
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->as<cocoa::View>()->superview(), top);
  std::system(("rm -rf '" + std::string(dir) + "'").c_str());
}

// ---- Broadcasts, hiding and displays that destroy windows

HWND g_victim = nullptr;
int g_victimHeard = 0;
int g_hiddenHeard = 0;
constexpr UINT kPing = 0x8123;

LRESULT killerProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  if ((msg == kPing || msg == WM_PAINT || (msg == WM_ACTIVATE && wp == 0)) && g_victim) {
    HWND v = g_victim;
    g_victim = nullptr;
    DestroyWindow(v);
  }
  if (msg == WM_PAINT) {
    PAINTSTRUCT ps;
    BeginPaint(h, &ps);
    EndPaint(h, &ps);
    return 0;
  }
  return DefWindowProc(h, msg, wp, lp);
}

LRESULT victimProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == kPing) ++g_victimHeard;
  return DefWindowProc(h, msg, wp, lp);
}

LRESULT hiddenProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == kPing) ++g_hiddenHeard;
  return DefWindowProc(h, msg, wp, lp);
}

TEST_F(WinSafe, ABroadcastReachesEveryWindowAndSurvivesOneDestroyingAnother) {
  g_victimHeard = g_hiddenHeard = 0;
  HWND hidden = SHIM_CreateDialog(nullptr, reinterpret_cast<const char*>(0x400000), nullptr,
                                  reinterpret_cast<DLGPROC>(hiddenProc), 0);
  HWND victim = topLevel(victimProc);
  HWND killer = topLevel(killerProc);  // in front: hears it first
  ASSERT_TRUE(hidden && victim && killer);
  g_victim = victim;
  SHIM_BroadcastMessage(kPing, 0, 0);
  EXPECT_EQ(g_victim, nullptr);
  EXPECT_EQ(g_victimHeard, 0);
  EXPECT_EQ(g_hiddenHeard, 1);
  EXPECT_FALSE(IsWindow(victim));
}

TEST_F(WinSafe, HidingTheApplicationSurvivesAWindowDestroyedOnDeactivation) {
  HWND killer = topLevel(killerProc);
  HWND victim = topLevel(victimProc);
  SetFocus(killer);
  ASSERT_TRUE(windowOf(killer)->isKeyWindow());
  g_victim = victim;
  SHIM_HideApp();
  EXPECT_EQ(g_victim, nullptr);
  EXPECT_FALSE(IsWindowVisible(killer));
}

TEST_F(WinSafe, DisplayingAllWindowsSurvivesAPaintThatDestroysALaterWindow) {
  HWND killer = topLevel(killerProc);
  HWND victim = topLevel(victimProc);
  InvalidateRect(killer, nullptr, 0);
  g_victim = victim;
  cocoa::Window::displayAllWindows();
  EXPECT_EQ(g_victim, nullptr);
  EXPECT_FALSE(IsWindow(victim));
}

// ---- Menus

TEST_F(WinSafe, ADuplicatedMenuKeepsItsSubmenusAndTheirCommands) {
  HMENU menu = CreatePopupMenu();
  HMENU sub = CreatePopupMenu();
  SHIM_Menu_AddMenuItem(sub, "Deep", 77, 0);
  SHIM_InsertMenu(menu, 0, MF_BYPOSITION | MF_POPUP, reinterpret_cast<UINT_PTR>(sub), "More");
  SHIM_Menu_AddMenuItem(menu, "Top", 5, 0);
  HMENU copy = SHIM_DuplicateMenu(menu);
  DestroyMenu(menu);
  ASSERT_EQ(GetMenuItemCount(copy), 2);
  HMENU copiedSub = GetSubMenu(copy, 0);
  ASSERT_NE(copiedSub, nullptr);
  EXPECT_EQ(GetMenuItemID(copiedSub, 0), 77);
  HWND top = topLevel(DefWindowProc);
  cocoa::menus::scriptChoice({0, 0});
  EXPECT_EQ(TrackPopupMenu(copy, TPM_RETURNCMD | TPM_NONOTIFY, 0, 0, 0, top, nullptr), 77);
  DestroyMenu(copy);
}

TEST_F(WinSafe, SettingAnItemsOwnSubmenuBackKeepsIt) {
  HMENU menu = CreatePopupMenu();
  HMENU sub = CreatePopupMenu();
  SHIM_Menu_AddMenuItem(sub, "Deep", 77, 0);
  SHIM_InsertMenu(menu, 0, MF_BYPOSITION | MF_POPUP, reinterpret_cast<UINT_PTR>(sub), "More");
  MENUITEMINFO mi;
  std::memset(&mi, 0, sizeof(mi));
  mi.cbSize = sizeof(mi);
  mi.fMask = MIIM_SUBMENU | MIIM_STATE;
  ASSERT_TRUE(GetMenuItemInfo(menu, 0, TRUE, &mi));
  ASSERT_EQ(mi.hSubMenu, sub);
  mi.fState = MFS_CHECKED;
  ASSERT_TRUE(SetMenuItemInfo(menu, 0, TRUE, &mi));
  EXPECT_EQ(GetSubMenu(menu, 0), sub);
  EXPECT_EQ(GetMenuItemCount(sub), 1);
  EXPECT_EQ(GetMenuItemID(sub, 0), 77);
  DestroyMenu(menu);
}

// ---- The dialog builder without an owner view

TEST_F(WinSafe, TheBuilderWithoutAnOwnerViewMakesNothing) {
  auto* notAView = new cocoa::Object;
  for (HWND owner : {static_cast<HWND>(nullptr), static_cast<HWND>(notAView)}) {
    SHIM_MakeSetCurParms(1, 1, 0, 0, owner, true, true);
    const std::vector<HWND> made = {
        SHIM_MakeButton(0, "OK", 1, 0, 0, 40, 14, 0),
        SHIM_MakeEditField(2, 0, 0, 40, 14, 0),
        SHIM_MakeEditField(3, 0, 0, 40, 14, WS_VSCROLL),
        SHIM_MakeLabel(-1, "Label", 4, 0, 0, 40, 10, 0),
        SHIM_MakeCombo(5, 0, 0, 40, 14, 0),
        SHIM_MakeGroupBox("Box", 6, 0, 0, 40, 40, 0),
        SHIM_MakeCheckBox("Check", 7, 0, 0, 40, 10, 0),
        SHIM_MakeListBox(8, 0, 0, 40, 40, 0),
        SHIM_MakeControl("", 9, "SysTabControl32", 0, 0, 0, 40, 40, 0),
        SHIM_MakeControl("", 10, "msctls_trackbar32", 0, 0, 0, 40, 10, 0),
        SHIM_MakeControl("", 11, "static", 0, 0, 0, 40, 10, 0),
    };
    for (size_t i = 0; i < made.size(); ++i) {
      if (made[i]) {
        EXPECT_NE(made[i]->as<cocoa::View>(), nullptr);  // a handle given out is alive
      }
      EXPECT_EQ(made[i], nullptr) << i;
    }
  }
  notAView->release();
}

// ---- Text of a content view

TEST_F(WinSafe, AContentViewsTextIsItsWindowsTitle) {
  HWND top = topLevel(DefWindowProc);
  cocoa::Window* w = windowOf(top);
  SetDlgItemText(w, 0, "Window title");
  char buf[64];
  ASSERT_TRUE(GetDlgItemText(top, 0, buf, sizeof(buf)));
  EXPECT_STREQ(buf, "Window title");
  SetDlgItemText(top, 0, "Through the view");
  EXPECT_EQ(w->title(), "Through the view");
  ASSERT_TRUE(GetDlgItemText(top, 0, buf, sizeof(buf)));
  EXPECT_STREQ(buf, "Through the view");
}

// ---- Geometry

TEST_F(WinSafe, ANegativeHeightIsTakenPositiveAndANegativeWidthChangesNothing) {
  HWND top = topLevel(DefWindowProc);
  Shim_vVexmir_hwnd* child = Shim_vVexmir_hwnd::initChild(nullptr, top, nullptr, 0);
  child->release();
  SetWindowPos(child, nullptr, 10, 20, 50, -40, SWP_NOZORDER);
  cocoa::Rect f = child->frame();
  EXPECT_EQ((std::vector<double>{f.x, f.y, f.w, f.h}), (std::vector<double>{10, 20, 50, 40}));
  SetWindowPos(child, nullptr, 30, 40, -5, 60, SWP_NOZORDER);
  f = child->frame();
  EXPECT_EQ((std::vector<double>{f.x, f.y, f.w, f.h}), (std::vector<double>{10, 20, 50, 40}));
}

TEST_F(WinSafe, OddSizesAreRefusedAndNoWindowGrowsPastThePlatformsLargest) {
  HWND top = topLevel(DefWindowProc);
  Shim_vVexmir_hwnd* child = Shim_vVexmir_hwnd::initChild(nullptr, top, nullptr, 0);
  child->release();
  for (HWND h : {top, static_cast<HWND>(child)}) {
    SetWindowPos(h, nullptr, 0, 0, 120, 80, SWP_NOMOVE | SWP_NOZORDER);
    for (POINT s : {POINT{700000, 700000}, POINT{20000, 50}, POINT{50, -10001}, POINT{50, INT_MIN}, POINT{INT_MAX, 5}})
      SetWindowPos(h, nullptr, 0, 0, s.x, s.y, SWP_NOMOVE | SWP_NOZORDER);
    RECT r;
    GetClientRect(h, &r);
    EXPECT_EQ((std::vector<LONG>{r.right, r.bottom}), (std::vector<LONG>{120, 80}));
  }
  auto* bare = new cocoa::Window();  // nor does the platform make a larger window on its own
  bare->setFrame(cocoa::Rect{0, 0, 7e5, 2e4}, false);
  EXPECT_EQ(bare->frame().w + bare->frame().h, 2 * cocoa::kMaxWindowSide);
  bare->release();
}

TEST_F(WinSafe, AWindowContextIsShownAndOutlivesAResizeAndItsWindow) {
  HWND top = topLevel(DefWindowProc);
  SetWindowPos(top, nullptr, 0, 0, 120, 80, SWP_NOMOVE | SWP_NOZORDER);
  cocoa::Window* w = windowOf(top);
  w->takeDisplayedRects();
  HBRUSH red = CreateSolidBrush(0xFF0000);
  RECT r{0, 0, 10, 10};
  // Drawn outside a paint: in the window, and shown (the X11 window copies what was displayed).
  HDC dc = GetDC(top);
  SHIM_FillRect(dc, &r, red);
  EXPECT_EQ(ReleaseDC(top, dc), 1);
  EXPECT_EQ(w->pixelAt(5, 5), 0xFF0000u);
  const std::vector<cocoa::Rect> shown = w->takeDisplayedRects();
  EXPECT_TRUE(shown.size() == 1 && shown[0].w == 120 && shown[0].h == 80);
  // Held while the window is sized to fit what was measured with it, and while the window goes.
  dc = GetDC(top);
  SetWindowPos(top, nullptr, 0, 0, 420, 310, SWP_NOMOVE | SWP_NOZORDER);
  SHIM_FillRect(dc, &r, red);
  EXPECT_EQ(ReleaseDC(top, dc), 1);
  dc = GetDC(top);
  DestroyWindow(top);
  SHIM_FillRect(dc, &r, red);
  EXPECT_EQ(ReleaseDC(nullptr, dc), 0);
  DeleteObject(red);
}

std::vector<WPARAM> g_menusPrepared;
LRESULT recordsMenuPreparation(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_INITMENUPOPUP) g_menusPrepared.push_back(wp);
  return DefWindowProc(h, msg, wp, lp);
}

TEST_F(WinSafe, AMenuAboutToOpenReachesTheProcedureAsTheLayersHandle) {
  HWND top = topLevel(recordsMenuPreparation);
  HMENU menu = CreatePopupMenu();
  SetMenu(top, menu);
  g_menusPrepared.clear();
  SHIM_MenuObject(menu)->notifyNeedsUpdate();
  // A platform menu that is none of the layer's has no handle to give.
  auto* foreign = new cocoa::Menu("Foreign");
  foreign->delegate = top->as<cocoa::MenuDelegate>();
  foreign->notifyNeedsUpdate();
  foreign->release();
  EXPECT_EQ(g_menusPrepared, std::vector<WPARAM>{reinterpret_cast<WPARAM>(menu)});
}

// ---- Combo and list-box messages

TEST_F(WinSafe, ComboMessagesFollowOneSetOfRulesOnEveryItemList) {
  auto* plain = new cocoa::PopUpButton(cocoa::Rect{0, 0, 100, 20});
  const std::string longText(3000, 'x');
  HWND top = topLevel(DefWindowProc);
  SHIM_MakeSetCurParms(1, 1, 0, 0, top, false, false);
  HWND layerCombo = SHIM_MakeCombo(5, 0, 0, 80, 14, 0);
  for (HWND h : {static_cast<HWND>(plain), layerCombo}) {
    SCOPED_TRACE(h == plain ? "a plain popup button" : "the layer's combo box");
    EXPECT_EQ(SendMessage(h, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("Alpha")), 0);
    EXPECT_EQ(SendMessage(h, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(longText.c_str())), 1);
    EXPECT_EQ(SendMessage(h, CB_FINDSTRING, static_cast<WPARAM>(-1), 0), -1);
    EXPECT_EQ(SendMessage(h, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), 0), -1);
    EXPECT_EQ(SendMessage(h, CB_FINDSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>("al")), 0);
    // The caller's buffer is taken as 1024 bytes, however long the item.
    std::vector<char> buf(1024, '?');
    SendMessage(h, CB_GETLBTEXT, 1, reinterpret_cast<LPARAM>(buf.data()));
    EXPECT_EQ(std::strlen(buf.data()), 1023u);
    EXPECT_EQ(SendMessage(h, CB_DELETESTRING, 0, 0), 1);
    EXPECT_EQ(SendMessage(h, CB_GETCOUNT, 0, 0), 1);
  }
  plain->release();
}

TEST_F(WinSafe, ListBoxTextCopiesAnswerZero) {
  HWND top = topLevel(DefWindowProc);
  SHIM_MakeSetCurParms(1, 1, 0, 0, top, false, false);
  HWND lb = SHIM_MakeListBox(8, 0, 0, 100, 100, 0);
  ASSERT_NE(lb, nullptr);
  SendMessage(lb, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>("First"));
  std::vector<char> buf(4096, '?');
  EXPECT_EQ(SendMessage(lb, LB_GETTEXT, 0, reinterpret_cast<LPARAM>(buf.data())), 0);
  EXPECT_STREQ(buf.data(), "First");
  EXPECT_EQ(SendMessage(lb, LB_GETTEXT, 0, 0), 0);
}

// ---- Owners of controls after SetParent

int g_commandsA = 0, g_commandsB = 0, g_notifiesB = 0;
LRESULT ownerA(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_COMMAND) ++g_commandsA;
  return DefWindowProc(h, msg, wp, lp);
}
LRESULT ownerB(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_COMMAND) ++g_commandsB;
  if (msg == WM_NOTIFY) ++g_notifiesB;
  return DefWindowProc(h, msg, wp, lp);
}

TEST_F(WinSafe, ControlsMovedToAnotherParentNotifyTheirNewOwner) {
  g_commandsA = g_commandsB = g_notifiesB = 0;
  HWND a = topLevel(ownerA);
  HWND b = topLevel(ownerB);
  SHIM_MakeSetCurParms(1, 1, 0, 0, a, false, false);
  HWND button = SHIM_MakeButton(0, "Go", 1, 10, 10, 60, 20, 0);
  HWND tabs = SHIM_MakeControl("", 2, "SysTabControl32", 0, 10, 40, 150, 60, 0);
  HWND field = SHIM_MakeEditField(3, 10, 110, 60, 14, 0);
  ASSERT_TRUE(button && tabs && field);
  for (const char* name : {"One", "Two"}) {
    TCITEM item{};
    item.mask = TCIF_TEXT;
    item.pszText = const_cast<char*>(name);
    TabCtrl_InsertItem(tabs, 9, &item);
  }
  for (HWND c : {button, tabs, field}) SetParent(c, b);
  DestroyWindow(a);
  button->as<cocoa::Control>()->sendAction(button->as<cocoa::Control>()->action);
  EXPECT_EQ(g_commandsB, 1);
  EXPECT_EQ(g_commandsA, 0);
  tabs->as<cocoa::TabView>()->selectItemAt(1);
  EXPECT_EQ(g_notifiesB, 1);
}

}  // namespace
