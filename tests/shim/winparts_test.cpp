// Window-layer calls that nothing else in the system reaches, each checked for what it is meant to do: editable
// combo boxes and their notifications, scrolled text fields in dialogs, bitmap menu items, drag images, drops inside
// one window, focus, enabling, window rectangles, closing, menus by resource, item texts and deletion, the clipboard.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "KIT/shim/shim-ctl.h"
#include "KIT/shim/shim-ctlclasses.h"
#include "KIT/shim/shim-hosted.h"
#include "KIT/shim/shim-hwnd.h"
#include "KIT/shim/shim.h"
#include "platform/cocoa/controls.h"
#include "platform/cocoa/drag.h"
#include "platform/cocoa/image.h"
#include "platform/cocoa/pasteboard.h"
#include "platform/cocoa/scrollview.h"
#include "platform/cocoa/textview.h"
#include "tests/shim/shim_test_windows.h"

namespace {

std::vector<std::string> g_log;

class WinParts : public LayerWindowsTest {
 protected:
  void SetUp() override {
    LayerWindowsTest::SetUp();
    g_log.clear();
  }
};

LRESULT loggingProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_COMMAND) g_log.push_back("COMMAND " + std::to_string(LOWORD(wp)) + " " + std::to_string(HIWORD(wp)));
  if (msg == WM_DROPFILES) {
    cocoa::View* cv = h->as<cocoa::View>()->window()->contentView();
    g_log.push_back(GetProp(cv, "SHIM_DisableWindowRepre") ? "DROP inside" : "DROP");
    DragFinish(reinterpret_cast<HDROP>(wp));
  }
  return DefWindowProc(h, msg, wp, lp);
}

void key(cocoa::Window* w, const std::u32string& chars) {
  cocoa::Event* e = cocoa::Event::keyEvent(cocoa::kKeyDown, 0, 0, chars, chars);
  w->sendEvent(e);
  e->release();
}

void click(cocoa::Window* w, cocoa::View* v, double x, double y) {
  const cocoa::Point p = v->convertToWindow(cocoa::Point{x, y});
  for (cocoa::EventType t : {cocoa::kLeftMouseDown, cocoa::kLeftMouseUp}) {
    cocoa::Event* e = cocoa::Event::mouseEvent(t, p, 0, w);
    w->sendEvent(e);
    e->release();
  }
}

TEST_F(WinParts, AnEditableComboBoxIsTypedIntoAndTellsItsOwner) {
  HWND top = topLevel(loggingProc);
  cocoa::Window* w = windowOf(top);
  SHIM_MakeSetCurParms(1, 1, 0, 0, top, false, false);
  HWND combo = SHIM_MakeCombo(40, 10, 10, 120, 12, 0);
  ASSERT_NE(combo, nullptr);
  for (const char* item : {"Alpha", "Beta", "Gamma"}) SendMessage(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
  EXPECT_EQ(combo->as<cocoa::ComboBox>()->numberOfVisibleItems, 3);
  cocoa::View* box = combo->as<cocoa::View>();
  // A click in the text part focuses it; typing changes the text and tells the owner (code 5).
  click(w, box, 10, 10);
  EXPECT_EQ(w->firstResponder(), box);
  key(w, U"Ab");
  key(w, U"\x7F");
  char text[32];
  ASSERT_TRUE(GetDlgItemText(top, 40, text, sizeof(text)));
  EXPECT_STREQ(text, "A");
  EXPECT_EQ(g_log, (std::vector<std::string>{"COMMAND 40 5", "COMMAND 40 5"}));
  // The arrow opens the list (code 7); the item chosen becomes the text (code 1).
  g_log.clear();
  cocoa::menus::scriptChoice({1});
  click(w, box, box->bounds().w - 5, 10);
  EXPECT_EQ(g_log, (std::vector<std::string>{"COMMAND 40 7", "COMMAND 40 1"}));
  ASSERT_TRUE(GetDlgItemText(top, 40, text, sizeof(text)));
  EXPECT_STREQ(text, "Beta");
  EXPECT_TRUE(SetDlgItemText(top, 40, "Typed"));
  EXPECT_EQ(combo->as<cocoa::ComboBox>()->stringValue(), "Typed");
  // A drop-down list has no text of its own: its text is the chosen item.
  HWND list = SHIM_MakeCombo(41, 10, 40, 120, 12, CBS_DROPDOWNLIST);
  SendMessage(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("Only"));
  SendMessage(list, CB_SETCURSEL, 0, 0);
  ASSERT_TRUE(GetDlgItemText(top, 41, text, sizeof(text)));
  EXPECT_STREQ(text, "Only");
}

TEST_F(WinParts, ScrolledTextFieldsTakeTheBuildersFontShiftAndSizes) {
  HWND top = topLevel(loggingProc);
  // At scale 1.5 the texts are 10 points; a label grown 30 wider by fitting its text pushes the scrolled field after
  // it, and that field passes the push on to the next control on the line.
  SHIM_MakeSetCurParms(1, 1, 0, 0, top, true, false);
  HWND label = SHIM_MakeLabel(-1, "A label", 1, 10, 10, 90, 10, 0);
  label->as<cocoa::View>()->setFrameSize(120, 10);
  SHIM_Internal_BuilderPlaced(label->as<cocoa::View>());
  HWND scrolled = SHIM_MakeEditField(2, 110, 10, 50, 10, WS_HSCROLL);
  ASSERT_NE(scrolled, nullptr);
  EXPECT_EQ(scrolled->as<cocoa::View>()->frame().x, 140);
  HWND next = SHIM_MakeEditField(3, 160, 10, 40, 10, 0);
  EXPECT_EQ(next->as<cocoa::View>()->frame().x, 190);
  SHIM_MakeSetCurParms(1.5f, 1.5f, 0, 0, top, false, false);
  HWND big = SHIM_MakeEditField(4, 10, 40, 100, 40, WS_VSCROLL);
  auto* sv = big->as<cocoa::ScrollView>();
  ASSERT_NE(sv, nullptr);
  auto* tv = sv->documentView()->as<cocoa::TextView>();
  ASSERT_NE(tv, nullptr);
  EXPECT_EQ(tv->fontSize, 10);
  // Sized through the window functions, the text view inside follows the scroll view's width.
  SetWindowPos(big, nullptr, 0, 0, 220, 90, SWP_NOMOVE | SWP_NOZORDER);
  EXPECT_EQ(tv->frame().w, sv->contentSize().w);
  EXPECT_EQ(sv->frame().h, 90);
  // A group box in raw form: (-x, 1 - y, -w, -3 - h).
  HWND group = SHIM_MakeGroupBox("G", 5, 5, 6, -30, -40, 0);
  const cocoa::Rect g = group->as<cocoa::View>()->frame();
  EXPECT_EQ((std::vector<double>{g.x, g.y, g.w, g.h}), (std::vector<double>{-5, -5, 30, 37}));
}

INT_PTR focusDialog(HWND, UINT msg, WPARAM wp, LPARAM) {
  if (msg == WM_INITDIALOG) {
    HWND candidate = reinterpret_cast<HWND>(wp);
    g_log.push_back(candidate && candidate->as<Shim_vVexmir_listview>() ? "list first" : "other first");
    return 1;
  }
  return 0;
}
const SHIM_DialogControlEntry kListFirst[] = {
    {"__SHIM_LISTBOX", 0, nullptr, 30, 5, 5, 100, 60, 0},
    {"__SHIM_EDIT", 0, nullptr, 31, 5, 70, 100, 14, 0},
};
void createListFirst(HWND view, int) {
  SHIM_MakeSetCurParms(1, 1, 0, 0, view, false, false);
  SHIM_GenerateDialogFromList(kListFirst, 2);
}

TEST_F(WinParts, TheFirstFocusCandidateMayBeInsideAScrollView) {
  static SHIM_DialogResourceIndex res{MAKEINTRESOURCE(910), "Lists", SHIM_DIALOG_FLIPPED, createListFirst, 200, 120,
                                      nullptr};
  HWND d = SHIM_CreateDialog(&res, MAKEINTRESOURCE(910), nullptr, focusDialog, 0);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(g_log, (std::vector<std::string>{"list first"}));
  EXPECT_EQ(windowOf(d)->firstResponder(), GetDlgItem(d, 30));
}

HBITMAP makeIcon(int w, int h) {
  std::vector<uint8_t> px(static_cast<size_t>(w) * h * 4, 0xFF);
  return CreateBitmap(w, h, 1, 32, px.data());
}

TEST_F(WinParts, BitmapMenuItemsShowTheirImageAndDragsTheirIcon) {
  HBITMAP icon = makeIcon(16, 12);
  HMENU menu = CreatePopupMenu();
  SHIM_InsertMenu(menu, 0, MF_BYPOSITION | MF_BITMAP, 9, reinterpret_cast<const char*>(icon));
  cocoa::MenuItem* item = SHIM_MenuObject(menu)->itemAt(0);
  ASSERT_NE(item, nullptr);
  auto* image = item->image() ? item->image()->as<cocoa::Image>() : nullptr;
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->width(), 16);
  // The icon's platform image is that same image, whichever bitmap object shares the icon's pixels.
  void* platformImage = GetNSImageFromHICON(icon);
  ASSERT_TRUE(cocoa::Object::isLiveAddress(platformImage));
  EXPECT_EQ(static_cast<cocoa::Object*>(platformImage), image);
  ICONINFO info{1, 0, 0, nullptr, icon};
  HGDIOBJ sharing = CreateIconIndirect(&info);
  EXPECT_EQ(GetNSImageFromHICON(sharing), platformImage);
  DeleteObject(sharing);
  EXPECT_EQ(item->title(), "");
  EXPECT_EQ(GetMenuItemID(menu, 0), 9);
  DestroyMenu(menu);

  HWND top = topLevel(loggingProc);
  cocoa::drag::clearDrags();
  const char* files[] = {"/tmp/a.syx"};
  RECT r{5, 5, 20, 20};
  SHIM_InitiateDragDropOfFileList(top, &r, files, 1, icon);
  SHIM_InitiateDragDropOfFileList(top, &r, files, 1, nullptr);
  const std::vector<cocoa::drag::DragRecord> drags = cocoa::drag::drags();
  ASSERT_EQ(drags.size(), 2u);
  EXPECT_TRUE(drags[0].imageFromIcon);
  EXPECT_EQ(drags[0].imageWidth, 16);
  EXPECT_EQ(drags[0].imageHeight, 12);
  EXPECT_FALSE(drags[1].imageFromIcon);
  EXPECT_TRUE(drags[1].hasImage);
  DeleteObject(icon);
}

TEST_F(WinParts, ADropFromTheSameWindowMarksItForTheDropsDuration) {
  HWND top = topLevel(loggingProc);
  Shim_vVexmir_hwnd* target =
      Shim_vVexmir_hwnd::initChild(nullptr, top, reinterpret_cast<DLGPROC>(loggingProc), 0);
  target->setFrame(cocoa::Rect{0, 0, 100, 100});
  target->shimSetExtendedStyle(0x10);
  ShowWindow(target, SW_SHOW);
  target->release();
  SHIM_DragContents contents;
  contents.files = {"/tmp/x.syx"};
  const cocoa::Point at = target->convertToWindow(cocoa::Point{10, 10});
  EXPECT_TRUE(SHIM_DropContents(target, contents, at));
  contents.source = top->as<cocoa::View>();
  EXPECT_TRUE(SHIM_DropContents(target, contents, at));
  EXPECT_EQ(g_log, (std::vector<std::string>{"DROP", "DROP inside"}));
  EXPECT_EQ(GetProp(top, "SHIM_DisableWindowRepre"), nullptr);
}

// ---- Calls nothing else reaches

TEST_F(WinParts, RelationsFocusAndEnabling) {
  HWND a = topLevel(loggingProc);
  HWND b = topLevel(loggingProc);
  SHIM_MakeSetCurParms(1, 1, 0, 0, a, false, false);
  HWND label = SHIM_MakeLabel(-1, "Static", 1, 5, 5, 60, 10, 0);
  HWND button = SHIM_MakeButton(0, "Push", 2, 5, 20, 60, 14, 0);
  // A window is not its own child; a view is a child of its window and of its ancestors only.
  EXPECT_FALSE(IsChild(a, a));
  EXPECT_FALSE(IsChild(button, button));
  EXPECT_TRUE(IsChild(a, button));
  EXPECT_TRUE(IsChild(windowOf(a), button));
  EXPECT_FALSE(IsChild(b, button));
  EXPECT_FALSE(IsChild(button, a));
  EXPECT_FALSE(IsChild(nullptr, button));
  // The foreground window is the key window's first responder.
  SetForegroundWindow(b);
  EXPECT_TRUE(windowOf(b)->isKeyWindow());
  EXPECT_EQ(GetForegroundWindow(), b);
  SetForegroundWindow(windowOf(a));
  EXPECT_EQ(GetForegroundWindow(), a);
  // Enabling: controls, a window through its content view, a static label dims its text.
  EnableWindow(button, 0);
  EXPECT_FALSE(button->as<cocoa::Control>()->isEnabled());
  EnableWindow(label, 0);
  EXPECT_DOUBLE_EQ(label->as<cocoa::TextField>()->textColor.a, 0.5);
  EnableWindow(label, 1);
  EXPECT_DOUBLE_EQ(label->as<cocoa::TextField>()->textColor.a, 1.0);
  EnableWindow(windowOf(b), 0);
  EXPECT_FALSE(b->as<Shim_vVexmir_hwnd>()->isEnabled());
  EnableWindow(b, 1);
  EXPECT_TRUE(b->as<Shim_vVexmir_hwnd>()->isEnabled());
}

int g_destroys = 0;
LRESULT countingProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_DESTROY) ++g_destroys;
  if (msg == WM_PAINT) {
    ++g_destroys;  // counted apart below
    PAINTSTRUCT ps;
    BeginPaint(h, &ps);
    EndPaint(h, &ps);
    return 0;
  }
  return DefWindowProc(h, msg, wp, lp);
}

TEST_F(WinParts, RectanglesClosingAndUpdating) {
  HWND a = topLevel(loggingProc);
  cocoa::Window* w = windowOf(a);
  SetWindowPos(w, nullptr, 100, 200, 300, 150, SWP_NOZORDER);
  RECT r;
  GetWindowContentViewRect(a, &r);
  RECT wr;
  GetWindowRect(w, &wr);
  EXPECT_EQ(r.right - r.left, 300);
  EXPECT_EQ(std::abs(r.bottom - r.top), 150);
  EXPECT_EQ(r.left, wr.left);
  Shim_vVexmir_hwnd* child = Shim_vVexmir_hwnd::initChild(nullptr, a, nullptr, 0);
  child->release();
  RECT cr, cw;
  GetWindowContentViewRect(child, &cr);
  GetWindowRect(child, &cw);
  EXPECT_EQ(std::memcmp(&cr, &cw, sizeof(RECT)), 0);
  GetWindowContentViewRect(nullptr, &cr);
  EXPECT_EQ(cr.right, 0);

  // UpdateWindow displays what is pending, at once, and nothing when nothing is.
  g_destroys = 0;
  Shim_vVexmir_hwnd* painted =
      Shim_vVexmir_hwnd::initChild(nullptr, a, reinterpret_cast<DLGPROC>(countingProc), 0);
  ShowWindow(painted, SW_SHOW);
  painted->release();
  UpdateWindow(painted);
  const int afterFirst = g_destroys;
  EXPECT_GE(afterFirst, 1);
  UpdateWindow(painted);
  EXPECT_EQ(g_destroys, afterFirst);
  InvalidateRect(painted, nullptr, 0);
  UpdateWindow(painted);
  EXPECT_EQ(g_destroys, afterFirst + 1);
  // Closing hides the window without a destroy message.
  g_destroys = 0;
  SHIM_CloseWindow(painted);
  EXPECT_FALSE(w->isVisible());
  EXPECT_EQ(g_destroys, 0);
  EXPECT_TRUE(IsWindow(painted));
  DrawMenuBar(a);
}

void fillResourceMenu(HMENU m) {
  SHIM_InsertMenu(m, 0, MF_BYPOSITION, 501, "&Open\tCtrl+O");
  SHIM_InsertMenu(m, 1, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr);
  HMENU sub = CreatePopupMenu();
  AddMenuItem(sub, 0, "&Raw", 601);
  SHIM_InsertMenu(m, 2, MF_BYPOSITION | MF_POPUP | MF_GRAYED, reinterpret_cast<UINT_PTR>(sub), "Export");
}

TEST_F(WinParts, MenusFromResourcesAndTheirItems) {
  static SHIM_MenuResourceIndex second{MAKEINTRESOURCE(2), fillResourceMenu, nullptr};
  static SHIM_MenuResourceIndex first{MAKEINTRESOURCE(1), nullptr, &second};
  EXPECT_EQ(SHIM_LoadMenu(&first, MAKEINTRESOURCE(3)), nullptr);
  HMENU empty = SHIM_LoadMenu(&first, MAKEINTRESOURCE(1));
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(GetMenuItemCount(empty), 0);
  DestroyMenu(empty);
  HMENU m = SHIM_LoadMenu(&first, MAKEINTRESOURCE(2));
  ASSERT_EQ(GetMenuItemCount(m), 3);
  cocoa::Menu* pm = SHIM_MenuObject(m);
  EXPECT_EQ(pm->itemAt(0)->title(), "Open");
  EXPECT_EQ(GetMenuItemID(m, 0), 501);
  EXPECT_TRUE(pm->itemAt(1)->isSeparator());
  HMENU sub = GetSubMenu(m, 2);
  ASSERT_NE(sub, nullptr);
  EXPECT_FALSE(pm->itemAt(2)->enabled);
  // AddMenuItem keeps its text as given; SetMenuItemText cleans it and names the submenu too.
  EXPECT_EQ(SHIM_MenuObject(sub)->itemAt(0)->title(), "&Raw");
  EXPECT_EQ(AddMenuItem(nullptr, 0, "x", 1), -1);
  EXPECT_TRUE(SetMenuItemText(m, 2, MF_BYPOSITION, "E&xport\tAlt"));
  EXPECT_EQ(pm->itemAt(2)->title(), "Export");
  EXPECT_EQ(SHIM_MenuObject(sub)->title(), "Export");
  EXPECT_TRUE(SetMenuItemText(m, 601, MF_BYCOMMAND, nullptr));
  EXPECT_EQ(SHIM_MenuObject(sub)->itemAt(0)->title(), "");
  EXPECT_FALSE(SetMenuItemText(m, 999, MF_BYCOMMAND, "none"));
  // DeleteMenu by command finds items in submenus; by position it removes the item of this menu.
  EXPECT_TRUE(DeleteMenu(m, 601, MF_BYCOMMAND));
  EXPECT_EQ(GetMenuItemCount(sub), 0);
  EXPECT_TRUE(DeleteMenu(m, 1, MF_BYPOSITION));
  EXPECT_EQ(GetMenuItemCount(m), 2);
  EXPECT_FALSE(DeleteMenu(m, 7, MF_BYPOSITION));
  DestroyMenu(m);
}

TEST_F(WinParts, EmptyingTheClipboardDropsWhatWasPending) {
  HWND a = topLevel(loggingProc);
  ASSERT_TRUE(OpenClipboard(a));
  HANDLE first = GlobalAlloc(0, 6);
  std::memcpy(GlobalLock(first), "first", 6);
  GlobalUnlock(first);
  SetClipboardData(CF_TEXT, first);
  EmptyClipboard();
  HANDLE second = GlobalAlloc(0, 7);
  std::memcpy(GlobalLock(second), "second", 7);
  GlobalUnlock(second);
  SetClipboardData(CF_TEXT, second);
  CloseClipboard();
  ASSERT_TRUE(OpenClipboard(a));
  HANDLE got = GetClipboardData(CF_TEXT);
  ASSERT_NE(got, nullptr);
  EXPECT_STREQ(static_cast<const char*>(GlobalLock(got)), "second");
  GlobalUnlock(got);
  CloseClipboard();
  cocoa::Pasteboard::resetAll();
}

HWND g_customMade = nullptr;
HWND customCreator(HWND owner, const char*, int id, const char* classname, int, int x, int y, int w, int h) {
  if (std::strcmp(classname, "VexmirKnob")) return nullptr;
  auto* v = new cocoa::View(cocoa::Rect{static_cast<double>(x), static_cast<double>(y), static_cast<double>(w),
                                        static_cast<double>(h)});
  v->setTag(id);
  owner->as<cocoa::View>()->addSubview(v);
  v->release();
  g_customMade = v;
  return v;
}

TEST_F(WinParts, CustomCreatorsCheckBoxesAndListBoxesByShortcut) {
  HWND a = topLevel(loggingProc);
  SHIM_MakeSetCurParms(2, 2, 0, 0, a, false, false);
  // Unknown classes come out null until a creator makes them; registering twice needs two unregistrations.
  EXPECT_EQ(SHIM_MakeControl("", 7, "VexmirKnob", 0, 1, 2, 10, 5, 0), nullptr);
  SHIM_RegisterCustomControlCreator(customCreator);
  SHIM_RegisterCustomControlCreator(customCreator);
  HWND knob = SHIM_MakeControl("", 7, "VexmirKnob", 0, 1, 2, 10, 5, 0);
  ASSERT_EQ(knob, g_customMade);
  const cocoa::Rect f = knob->as<cocoa::View>()->frame();
  EXPECT_EQ((std::vector<double>{f.x, f.y, f.w, f.h}), (std::vector<double>{2, 4, 20, 10}));
  SHIM_UnregisterCustomControlCreator(customCreator);
  EXPECT_NE(SHIM_MakeControl("", 8, "VexmirKnob", 0, 1, 2, 10, 5, 0), nullptr);
  SHIM_UnregisterCustomControlCreator(customCreator);
  EXPECT_EQ(SHIM_MakeControl("", 9, "VexmirKnob", 0, 1, 2, 10, 5, 0), nullptr);
  // The shortcuts: a check box is an automatic switch button, a list box a list view in list-box mode.
  HWND check = SHIM_MakeCheckBox("&Loop", 10, 5, 30, 40, 10, 0);
  auto* cb = check->as<cocoa::Button>();
  ASSERT_NE(cb, nullptr);
  EXPECT_EQ(cb->buttonType, 3);
  EXPECT_EQ(cb->title(), "Loop");
  HWND list = SHIM_MakeListBox(11, 5, 50, 60, 40, 0);
  auto* lv = list->as<Shim_vVexmir_listview>();
  ASSERT_NE(lv, nullptr);
  EXPECT_NE(lv->getShimNotificationMode(), 0);
  EXPECT_EQ(GetDlgItem(a, 11), list);
}

}  // namespace
