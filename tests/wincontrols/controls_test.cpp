// Buttons, combo boxes and popup lists, trackbars, dialog-item numbers, tab controls, progress bars, text views and
// the repaint flagging of the control classes.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "tests/wincontrols/wincontrols_support.h"

namespace {

struct ControlsFixture : ::testing::Test {
  template <class T>
  T* put(T* control, int id, cocoa::Rect frame) {
    control->setFrame(frame);
    control->setTag(id);
    w.owner->addSubview(control);
    control->release();
    return control;
  }
  cocoa::AutoreleasePool pool;
  TestWindow w;
};

TEST_F(ControlsFixture, CheckStatesOfButtons) {
  auto* box = put(new Shim_vVexmir_button, 1, cocoa::Rect{10, 10, 100, 20});
  box->buttonType = 3;
  box->allowsMixedState = true;
  struct Case {
    int check, state, read;
  };
  for (const Case& c : {Case{0, 0, 0}, Case{1, 1, 1}, Case{2, -1, 2}, Case{3, -1, 2}}) {
    CheckDlgButton(w.owner, 1, c.check);
    EXPECT_EQ(box->state(), c.state) << c.check;
    EXPECT_EQ(IsDlgButtonChecked(w.owner, 1), c.read) << c.check;
  }
  EXPECT_EQ(IsDlgButtonChecked(w.owner, 99), 0);
  CheckDlgButton(w.owner, 99, 1);
}

TEST_F(ControlsFixture, AButtonActsOnlyWhenReleasedOverItself) {
  auto* push = put(new cocoa::Button(cocoa::Rect{}), 4, cocoa::Rect{10, 100, 80, 24});
  auto* box = put(new cocoa::Button(cocoa::Rect{}), 5, cocoa::Rect{10, 140, 80, 24});
  box->buttonType = 3;
  for (cocoa::Button* b : {push, box}) {
    b->target = w.owner;
    b->action = b == push ? "push" : "box";
    // Pressed, then released off the button: the user changed their mind.
    w.mouse(cocoa::kLeftMouseDown, b, 5, 5);
    w.mouse(cocoa::kLeftMouseDragged, b, 150, 5);
    w.mouse(cocoa::kLeftMouseUp, b, 150, 5);
  }
  EXPECT_TRUE(w.owner->actions.empty());
  EXPECT_EQ(box->state(), 0);
  w.click(push, 5, 5);
  w.click(box, 5, 5);
  EXPECT_EQ(w.owner->actions, (std::vector<std::string>{"push", "box"}));
  EXPECT_EQ(box->state(), 1);
}

TEST_F(ControlsFixture, ComboBoxAndPopupListHelpers) {
  auto* combo = put(new Shim_vVexmir_cbox, 2, cocoa::Rect{10, 40, 150, 22});
  auto* popup = put(new Shim_vVexmir_pub, 3, cocoa::Rect{10, 70, 150, 18});
  combo->setShimStyle(CBS_SORT);
  for (const char* t : {"b", "d"}) SHIM_CB_AddString(w.owner, 2, t);
  EXPECT_EQ(SHIM_CB_AddString(w.owner, 2, "c"), 1);
  for (const char* t : {"b", "d"}) SHIM_CB_AddString(w.owner, 3, t);
  EXPECT_EQ(SHIM_CB_AddString(w.owner, 3, "c"), 2);
  EXPECT_EQ(SHIM_CB_InsertString(w.owner, 3, 99, "end"), 3);
  EXPECT_EQ(SHIM_CB_InsertString(w.owner, 3, -5, "start"), 0);
  EXPECT_EQ(popup->items(), (std::vector<std::string>{"start", "b", "d", "c", "end"}));

  SHIM_CB_Empty(w.owner, 3);
  for (int i = 0; i < 3; ++i) {
    SHIM_CB_AddString(w.owner, 3, "x");
    SHIM_CB_SetItemData(w.owner, 3, i, 10 + i);
  }
  SHIM_CB_InsertString(w.owner, 3, 1, "new");
  std::vector<LPARAM> data;
  for (int i = 0; i < 4; ++i) data.push_back(SHIM_CB_GetItemData(w.owner, 3, i));
  EXPECT_EQ(data, (std::vector<LPARAM>{10, 0, 11, 12}));
  SHIM_CB_DeleteString(w.owner, 3, 0);
  EXPECT_EQ(SHIM_CB_GetItemData(w.owner, 3, 0), 0);
  EXPECT_EQ(SHIM_CB_GetItemData(w.owner, 3, 9), 0);

  SHIM_CB_Empty(w.owner, 2);
  combo->setShimStyle(0);
  for (const char* t : {"apple", "Apricot", "banana", "APRIL"}) SHIM_CB_AddString(w.owner, 2, t);
  EXPECT_EQ(SHIM_CB_FindString(w.owner, 2, 1, "ap", false), 3);
  EXPECT_EQ(SHIM_CB_FindString(w.owner, 2, -1, "BANANA", true), 2);
  EXPECT_EQ(SHIM_CB_FindString(w.owner, 2, 3, "ap", false), -1);
  EXPECT_EQ(SHIM_CB_FindString(w.owner, 2, -1, "", false), 0);
  EXPECT_EQ(SHIM_CB_FindString(w.owner, 77, -1, "ap", false), 0);

  SHIM_CB_SetCurSel(w.owner, 2, 2);
  SHIM_CB_SetCurSel(w.owner, 2, -1);
  EXPECT_EQ(SHIM_CB_GetCurSel(w.owner, 2), 2);
  EXPECT_EQ(SHIM_CB_GetCurSel(w.owner, 77), -1);

  // Texts: real lengths, copies bounded by the buffer, nothing written into a buffer of no bytes.
  EXPECT_EQ(SHIM_CB_GetItemTextLength(w.owner, 2, 1), 7);
  EXPECT_EQ(SHIM_CB_GetItemTextLength(w.owner, 2, 4), CB_ERR);
  char buf[8] = "ZZZZZZZ";
  EXPECT_FALSE(SHIM_CB_GetItemText(w.owner, 2, 1, buf, 0));
  EXPECT_EQ(buf[0], 'Z');
  EXPECT_TRUE(SHIM_CB_GetItemText(w.owner, 2, 1, buf, 4));
  EXPECT_STREQ(buf, "Apr");
  EXPECT_FALSE(SHIM_CB_GetItemText(w.owner, 2, 9, buf, 8));
  EXPECT_STREQ(buf, "");
  // The same through the combo-box messages.
  EXPECT_EQ(SendMessage(combo, CB_GETLBTEXTLEN, 0, 0), 5);
  EXPECT_EQ(SendMessage(combo, CB_GETLBTEXTLEN, 9, 0), CB_ERR);
  char exact[6] = "ZZZZZ";
  EXPECT_EQ(SendMessage(combo, CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(exact)), 5);
  EXPECT_STREQ(exact, "apple");
  EXPECT_EQ(SendMessage(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>("april")), 3);
}

// Sorted insertion into combo boxes against a sorted model.
TEST_F(ControlsFixture, SortedComboInsertionAgainstAModel) {
  auto* combo = put(new Shim_vVexmir_cbox, 2, cocoa::Rect{10, 40, 150, 22});
  combo->setShimStyle(CBS_SORT);
  std::mt19937 rng(5);
  std::vector<std::string> model;
  for (int step = 0; step < 2000; ++step) {
    if (!model.empty() && rng() % 4 == 0) {
      const int at = static_cast<int>(rng() % model.size());
      SHIM_CB_DeleteString(w.owner, 2, at);
      model.erase(model.begin() + at);
      continue;
    }
    std::string t;
    for (int k = static_cast<int>(rng() % 3); k >= 0; --k) t += static_cast<char>("aAbB0"[rng() % 5]);
    const int at = SHIM_CB_AddString(w.owner, 2, t.c_str());
    const auto lo = std::lower_bound(model.begin(), model.end(), t) - model.begin();
    const auto hi = std::upper_bound(model.begin(), model.end(), t) - model.begin();
    ASSERT_GE(at, lo) << step;
    ASSERT_LE(at, hi) << step;
    model.insert(model.begin() + at, t);
    SHIM_CB_SetItemData(w.owner, 2, at, step);
    ASSERT_EQ(combo->items(), model) << step;
  }
  EXPECT_EQ(combo->m_ids.size(), model.size());
}

TEST_F(ControlsFixture, TrackbarsAndDialogItemNumbers) {
  auto* slider = put(new cocoa::Slider(cocoa::Rect{}), 4, cocoa::Rect{10, 100, 150, 20});
  slider->minValue = -10;
  slider->maxValue = 10;
  slider->setDoubleValue(4.5);
  EXPECT_EQ(SHIM_TB_GetPos(w.owner, 4), 5);
  slider->setDoubleValue(-0.7);
  EXPECT_EQ(SHIM_TB_GetPos(w.owner, 4), 0);
  SHIM_TB_SetRange(w.owner, 4, 0, 1000);
  SHIM_TB_SetPos(w.owner, 4, 700);
  EXPECT_EQ(SHIM_TB_GetPos(w.owner, 4), 700);
  // A trackbar that is a window of its own gets the messages.
  auto* track = put(new Shim_vVexmir_progind, 5, cocoa::Rect{10, 130, 150, 20});
  std::vector<std::pair<UINT, LPARAM>> got;
  struct Recorder : Shim_vVexmir_progind {
    std::vector<std::pair<UINT, LPARAM>>* log;
    LRESULT onShimMessage(UINT m, WPARAM, LPARAM lp) override {
      log->push_back({m, lp});
      return 0;
    }
  };
  (void)track;
  auto* rec = new Recorder;
  rec->log = &got;
  put(rec, 6, cocoa::Rect{10, 160, 150, 20});
  SHIM_TB_SetRange(w.owner, 6, 0, 1000);
  SHIM_TB_SetTic(w.owner, 6, 50);
  SHIM_TB_SetTic(w.owner, 4, 50);
  EXPECT_EQ(got, (std::vector<std::pair<UINT, LPARAM>>{{TBM_SETRANGE, 0x03E80000}, {TBM_SETTIC, 50}}));

  auto* field = put(new Shim_vVexmir_textfield, 8, cocoa::Rect{10, 190, 100, 20});
  struct Case {
    const char* text;
    BOOL isSigned;
    UINT value;
    BOOL ok;
  };
  const Case cases[] = {{"  42abc", TRUE, 42, TRUE}, {"0", TRUE, 0, TRUE},         {"abc", TRUE, 0, FALSE},
                        {"-5", FALSE, 0, FALSE},     {"-5", TRUE, UINT(-5), TRUE}, {"-0", TRUE, 0, FALSE},
                        {"", TRUE, 0, FALSE}};
  for (const Case& c : cases) {
    field->setStringValue(c.text);
    BOOL ok = 7;
    EXPECT_EQ(GetDlgItemInt(w.owner, 8, &ok, c.isSigned), c.value) << c.text;
    EXPECT_EQ(ok, c.ok) << c.text;
  }
  SetDlgItemInt(w.owner, 8, UINT(-1), FALSE);
  EXPECT_EQ(field->stringValue(), "4294967295");
  SetDlgItemInt(w.owner, 8, UINT(-1), TRUE);
  EXPECT_EQ(field->stringValue(), "-1");
}

TEST_F(ControlsFixture, TabControls) {
  auto* tabs = put(new Shim_vVexmir_tabview, 11, cocoa::Rect{10, 10, 300, 100});
  EXPECT_EQ(TabCtrl_GetCurSel(tabs), 0);
  tabs->setNotificationWindow(w.owner);
  tabs->setDelegate(tabs);
  TCITEM item{};
  item.mask = TCIF_TEXT;
  for (const char* t : {"One", "Two"}) {
    item.pszText = const_cast<char*>(t);
    TabCtrl_InsertItem(tabs, 99, &item);
  }
  EXPECT_TRUE(w.owner->sent.empty());  // insertions, the first tab's selection included, send nothing
  item.pszText = const_cast<char*>("Zero");
  EXPECT_EQ(TabCtrl_InsertItem(tabs, -3, &item), 0);
  EXPECT_EQ(TabCtrl_InsertItem(tabs, 10, &item), 3);
  item.mask = 0;
  EXPECT_EQ(TabCtrl_InsertItem(tabs, 0, &item), -1);
  EXPECT_EQ(TabCtrl_GetItemCount(tabs), 4);
  EXPECT_EQ(TabCtrl_GetCurSel(tabs), 1);
  EXPECT_EQ(TabCtrl_SetCurSel(tabs, 2), 1);
  EXPECT_EQ(TabCtrl_SetCurSel(tabs, 5), 2);
  EXPECT_EQ(w.owner->sent, (std::vector<Sent>{{WM_NOTIFY, TCN_SELCHANGE, -1, 0}}));
  // A click on a tab selects it and notifies.
  const cocoa::Rect first = tabs->tabRect(0);
  w.click(tabs, first.x + 3, first.y + 3);
  EXPECT_EQ(TabCtrl_GetCurSel(tabs), 0);
  EXPECT_EQ(w.owner->sent.size(), 2u);
  EXPECT_TRUE(TabCtrl_DeleteItem(tabs, 3));
  EXPECT_FALSE(TabCtrl_DeleteItem(tabs, 3));
  RECT r{0, 0, 100, 100};
  ASSERT_TRUE(TabCtrl_AdjustRect(tabs, false, &r));
  EXPECT_EQ((std::vector<int>{r.left, r.top, r.right, r.bottom}), (std::vector<int>{7, 26, 93, 97}));
  r = RECT{0, 0, 100, 100};
  ASSERT_TRUE(TabCtrl_AdjustRect(tabs, true, &r));
  EXPECT_EQ((std::vector<int>{r.left, r.top, r.right, r.bottom}), (std::vector<int>{-7, -26, 107, 103}));
  EXPECT_FALSE(TabCtrl_AdjustRect(w.owner, true, &r));
  // Without a notification window a switch sends nothing.
  tabs->setNotificationWindow(nullptr);
  TabCtrl_SetCurSel(tabs, 1);
  EXPECT_EQ(w.owner->sent.size(), 2u);
}

TEST_F(ControlsFixture, ProgressBarMessages) {
  auto* bar = put(new Shim_vVexmir_progind, 12, cocoa::Rect{10, 10, 200, 16});
  bar->indeterminate = false;
  bar->startAnimation();
  SendMessage(bar, PBM_SETRANGE, 0, MAKELPARAM(0, 200));
  EXPECT_EQ(bar->minValue(), 0);
  EXPECT_EQ(bar->maxValue(), 200);
  SendMessage(bar, PBM_SETPOS, 20, 0);
  EXPECT_FALSE(bar->isAnimating());
  SendMessage(bar, PBM_DELTAPOS, 5, 0);
  EXPECT_EQ(bar->doubleValue(), 25);
}

TEST_F(ControlsFixture, TextViewSelectionMessages) {
  auto* tv = put(new Shim_vVexmir_textview, 13, cocoa::Rect{10, 10, 200, 80});
  tv->setString("0123456789");
  int start = -9, end = -9;
  struct Case {
    WPARAM s;
    LPARAM e;
    int start, end;
  };
  const Case cases[] = {
      {0, -1, 0, 10}, {static_cast<WPARAM>(-1), 7, 0, 0}, {5, 100, 5, 10}, {8, 3, 3, 8}, {20, 30, 10, 10},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SendMessage(tv, EM_SETSEL, c.s, c.e), 0);
    EXPECT_EQ(SendMessage(tv, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end)), 0);
    EXPECT_EQ(start, c.start) << c.s << " " << c.e;
    EXPECT_EQ(end, c.end) << c.s << " " << c.e;
  }
  EXPECT_EQ(SendMessage(tv, EM_GETSEL, 0, 0), 0);
  // A pen is no font.
  const double size = tv->fontSize;
  HPEN pen = CreatePen(0, 1, 0);
  SendMessage(tv, WM_SETFONT, reinterpret_cast<WPARAM>(pen), 0);
  EXPECT_EQ(tv->fontSize, size);
  DeleteObject(pen);
  HFONT font = CreateFont(20, 0, 0, 0, 400, 0, 0, 0, 0, 0, 0, 0, 0, "Monaco");
  SendMessage(tv, WM_SETFONT, reinterpret_cast<WPARAM>(font), 0);
  EXPECT_NE(tv->fontSize, size);
  DeleteObject(font);
  // Scrolling to the end and back in a scroll view.
  auto* sv = new cocoa::ScrollView(cocoa::Rect{10, 100, 200, 40});
  w.owner->addSubview(sv);
  sv->release();
  auto* scrolled = new Shim_vVexmir_textview(cocoa::Rect{0, 0, 200, 40});
  sv->setDocumentView(scrolled);
  scrolled->release();
  scrolled->setString("1\n2\n3\n4\n5\n6\n7\n8");
  SendMessage(scrolled, EM_SCROLL, SB_BOTTOM, 0);
  EXPECT_GT(sv->documentVisibleRect().y, 0);
  SendMessage(scrolled, EM_SCROLL, SB_TOP, 0);
  EXPECT_EQ(sv->documentVisibleRect().y, 0);
  // Typing replaces the selection and keeps characters beyond ASCII.
  w.window->makeFirstResponder(tv);
  SendMessage(tv, EM_SETSEL, 2, 4);
  cocoa::Event* k = cocoa::Event::keyEvent(cocoa::kKeyDown, 0, 0, U"\u00e9", U"\u00e9");
  w.window->sendEvent(k);
  k->release();
  EXPECT_EQ(tv->string(),
            "01\xC3\xA9"
            "456789");
}

}  // namespace
