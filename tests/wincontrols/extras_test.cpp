// Repaint flagging of the control classes in nested window views, the window queries that route notifications,
// non-client mouse routing, raise amounts and levels, window looks, the default button, the represented document,
// the menu bar and Dock, child-window enumeration and control kinds.
#include <gtest/gtest.h>

#include <vector>

#include "KIT/shim/shim-ctlclasses.h"
#include "platform/cocoa/appstate.h"

namespace {

struct Got {
  HWND hwnd;
  UINT msg;
};
std::vector<Got> g_got;
LRESULT g_ncAnswer = 1;

LRESULT recordingProc(HWND h, UINT msg, WPARAM, LPARAM) {
  if (msg == WM_NCHITTEST) return g_ncAnswer;
  if (msg == WM_LBUTTONDOWN || msg == WM_NCLBUTTONDOWN) g_got.push_back({h, msg});
  return 0;
}

struct ExtrasTest : ::testing::Test {
  void SetUp() override {
    g_got.clear();
    dlg = SHIM_CreateDialog(nullptr, reinterpret_cast<const char*>(0x400000), nullptr, nullptr, 0);
    ASSERT_NE(dlg, nullptr);
    outer = dlg->as<Shim_vVexmir_hwnd>();
    window = outer->window();
    window->setContentSize(300, 200);
    outer->setFrame(cocoa::Rect{0, 0, 300, 200});
    middle = Shim_vVexmir_hwnd::initChild(nullptr, outer, nullptr, 0);
    middle->setFrame(cocoa::Rect{10, 10, 200, 150});
    inner = Shim_vVexmir_hwnd::initChild(nullptr, middle, nullptr, 0);
    inner->setFrame(cocoa::Rect{10, 10, 150, 100});
    for (Shim_vVexmir_hwnd* v : {outer, middle, inner}) {
      v->setShimWindowProc(recordingProc);
      v->setHidden(false);
    }
  }
  void TearDown() override { DestroyWindow(dlg); }
  cocoa::AutoreleasePool pool;
  HWND dlg = nullptr;
  Shim_vVexmir_hwnd *outer = nullptr, *middle = nullptr, *inner = nullptr;
  cocoa::Window* window = nullptr;
};

TEST_F(ExtrasTest, ControlsFlagTheirWindowViewsUpToTheFirstFlaggedOne) {
  auto* button = new Shim_vVexmir_button(cocoa::Rect{5, 5, 60, 20});
  auto* list = new Shim_vVexmir_listview;
  inner->addSubview(button);
  inner->addSubview(list);
  button->release();
  list->release();
  for (cocoa::View* control : std::vector<cocoa::View*>{button, list}) {
    for (Shim_vVexmir_hwnd* v : {outer, middle, inner}) v->setDirtyBits(0);
    control->setNeedsDisplay(true);
    EXPECT_EQ(std::vector<int>({outer->dirtyBits(), middle->dirtyBits(), inner->dirtyBits()}),
              std::vector<int>({2, 2, 2}));
    // The innermost already flagged: the walk stops there.
    outer->setDirtyBits(0);
    middle->setDirtyBits(0);
    control->setNeedsDisplayInRect(cocoa::Rect{0, 0, 1, 1});
    EXPECT_EQ(std::vector<int>({outer->dirtyBits(), middle->dirtyBits()}), std::vector<int>({0, 0}));
    // Clearing the flag is no redraw request.
    inner->setDirtyBits(0);
    control->setNeedsDisplay(false);
    EXPECT_EQ(inner->dirtyBits(), 0);
  }
}

TEST_F(ExtrasTest, ParentsFocusAndClientPoints) {
  auto* list = new Shim_vVexmir_listview;
  auto* sv = new cocoa::ScrollView(cocoa::Rect{0, 0, 100, 80});
  inner->addSubview(sv);
  sv->setDocumentView(list);
  sv->release();
  list->release();
  EXPECT_EQ(GetParent(list), inner);
  EXPECT_EQ(GetParent(inner), middle);
  auto* field = new Shim_vVexmir_textfield(cocoa::Rect{0, 90, 100, 20});
  inner->addSubview(field);
  field->release();
  window->makeKeyAndOrderFront();
  ASSERT_TRUE(window->makeFirstResponder(field));
  EXPECT_EQ(GetFocus(), field);
  POINT p{static_cast<int>(window->frame().x) + 30, static_cast<int>(window->frame().y) + 20};
  ScreenToClient(outer, &p);
  EXPECT_EQ(p.x, 30);
}

TEST_F(ExtrasTest, NonClientMouseGoesToTheOutermostClaimingView) {
  auto mouseAt = [&](double x, double y) {
    cocoa::Event* e =
        cocoa::Event::mouseEvent(cocoa::kLeftMouseDown, outer->convertToWindow(cocoa::Point{x, y}), 0, window);
    const bool handled = SHIM_HandleMouseEvent(e);
    e->release();
    return handled;
  };
  g_ncAnswer = 1;  // client area everywhere: nobody claims it
  EXPECT_FALSE(mouseAt(50, 50));
  g_ncAnswer = 2;
  EXPECT_TRUE(mouseAt(50, 50));
  ASSERT_EQ(g_got.size(), 1u);
  EXPECT_EQ(g_got[0].hwnd, outer);
  // While a window holds the capture nothing is routed.
  SetCapture(inner);
  EXPECT_FALSE(mouseAt(50, 50));
  ReleaseCapture();
  cocoa::Event* key = cocoa::Event::keyEvent(cocoa::kKeyDown, 0, 0, U"a", U"a");
  EXPECT_FALSE(SHIM_HandleMouseEvent(key));
  key->release();
  g_ncAnswer = 1;
}

TEST_F(ExtrasTest, RaiseAmountLevelLooksAndDocument) {
  const int base = window->level();
  cocoa::application::setActive(true);
  SHIM_SetWindowWantRaiseAmt(inner, 3);
  EXPECT_EQ(window->level(), base + 3);
  SHIM_SetWindowWantRaiseAmt(dlg, 3);
  EXPECT_EQ(window->level(), base + 3);
  EXPECT_EQ(SHIM_GetWindowWantRaiseAmt(window), 3);
  cocoa::application::setActive(false);
  SHIM_SetWindowWantRaiseAmt(dlg, 0);
  EXPECT_EQ(window->level(), base + 3);
  cocoa::application::setActive(true);
  EXPECT_EQ(SHIM_SetWindowLevel(inner, 8), base + 3);
  EXPECT_EQ(window->level(), 8);
  auto* loose = new cocoa::View;
  EXPECT_EQ(SHIM_SetWindowLevel(loose, 3), 0);
  loose->release();

  SetTransparent(inner);
  EXPECT_TRUE(window->clearBackground);
  EXPECT_FALSE(window->isOpaque);
  SHIM_SetWindowShadow(dlg, false);
  EXPECT_FALSE(window->hasShadow);
  SetOpaque(inner, false);
  EXPECT_FALSE(inner->isOpaque());

  SHIM_SetWindowRepre(inner, "/banks/A.syx", true);
  EXPECT_EQ(window->representedFilename, "/banks/A.syx");
  EXPECT_TRUE(window->documentEdited);
  SHIM_SetWindowRepre(window, nullptr, false);
  EXPECT_EQ(window->representedFilename, "");
  SetProp(outer, "SHIM_DisableWindowRepre", reinterpret_cast<void*>(1));
  SHIM_SetWindowRepre(inner, "/banks/B.syx", true);
  EXPECT_EQ(window->representedFilename, "");
}

TEST_F(ExtrasTest, DefaultButtonAndChildWindowsAndKinds) {
  EXPECT_EQ(SHIM_GetDefaultButtonID(inner, true), 0);
  auto* ok = new Shim_vVexmir_button(cocoa::Rect{0, 0, 50, 20});
  ok->setTag(7);
  ok->isDefaultButton = true;
  inner->addSubview(ok);
  ok->release();
  EXPECT_EQ(SHIM_GetDefaultButtonID(outer, true), 7);
  ok->setEnabled(false);
  EXPECT_EQ(SHIM_GetDefaultButtonID(outer, true), 0);
  EXPECT_EQ(SHIM_GetDefaultButtonID(outer, false), 7);

  // Depth first; a callback that stops at the first child of the first child visits exactly two views.
  std::vector<HWND> seen;
  auto stopAtSecond = [](HWND h, LPARAM lp) -> BOOL {
    auto* s = reinterpret_cast<std::vector<HWND>*>(lp);
    s->push_back(h);
    return s->size() < 2;
  };
  EXPECT_FALSE(EnumChildWindows(outer, stopAtSecond, reinterpret_cast<LPARAM>(&seen)));
  EXPECT_EQ(seen, (std::vector<HWND>{middle, inner}));
  seen.clear();
  EXPECT_TRUE(EnumChildWindows(
      outer,
      [](HWND h, LPARAM lp) -> BOOL {
        reinterpret_cast<std::vector<HWND>*>(lp)->push_back(h);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&seen)));
  EXPECT_EQ(seen, (std::vector<HWND>{middle, inner, ok}));
  EXPECT_TRUE(EnumChildWindows(nullptr, stopAtSecond, 0));

  EXPECT_TRUE(SHIM_IsButton(ok));
  EXPECT_FALSE(SHIM_IsButton(nullptr));
  EXPECT_FALSE(SHIM_IsGroupBox(ok));
  RECT r{1, 1, 1, 1};
  ok->setTitle("A much longer title");
  const cocoa::Rect before = ok->frame();
  SHIM_GetDesiredControlSize(ok, &r);
  EXPECT_EQ(r.left, 0);
  EXPECT_GT(r.right, 50);
  EXPECT_EQ(ok->frame().w, before.w);
}

TEST(MenuBarAndDock, HidingRestoresThePresentationOfTheFirstCall) {
  cocoa::application::setPresentationOptions(0);
  EXPECT_TRUE(SHIM_SetAppAutoHideMenuAndDock(2));
  EXPECT_EQ(cocoa::application::presentationOptions(), 6u);
  EXPECT_TRUE(SHIM_SetAppAutoHideMenuAndDock(1));
  EXPECT_EQ(cocoa::application::presentationOptions(), 5u);
  EXPECT_TRUE(SHIM_SetAppAutoHideMenuAndDock(0));
  EXPECT_EQ(cocoa::application::presentationOptions(), 0u);
}

}  // namespace
