// List views and list boxes: row insertion (sorted and at a position), selection and its shifting, the owner's
// notifications in order for scripted clicks, drags and right clicks, owner-data rows, columns, hit tests, item
// rectangles, scrolling, sorting and the list-box messages.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <set>
#include <string>

#include "tests/wincontrols/wincontrols_support.h"

namespace {

struct ListFixture : ::testing::Test {
  ListFixture() {
    lv = new Shim_vVexmir_listview;
    lv->target = w.owner;
    lv->setTag(7);
    lv->allowsMultipleSelection = true;
    sv = w.scrolled(lv, cocoa::Rect{10, 10, 300, 200});
    lv->release();
  }
  void setStyle(long style) { lv->setShimStyle(static_cast<int>(style)); }
  void column(int width = 120, const char* title = "Name") {
    LVCOLUMN c{};
    c.cx = width;
    c.pszText = const_cast<char*>(title);
    ListView_InsertColumn(lv, lv->numberOfColumns(), &c);
  }
  int insert(const char* text, int at = 0, LPARAM param = 0) {
    LVITEM it{};
    it.mask = LVIF_TEXT | LVIF_PARAM;
    it.iItem = at;
    it.pszText = const_cast<char*>(text);
    it.lParam = param;
    return ListView_InsertItem(lv, &it);
  }
  std::vector<std::string> texts() {
    std::vector<std::string> out;
    for (int i = 0; i < ListView_GetItemCount(lv); ++i) {
      char buf[64];
      ListView_GetItemText(lv, i, 0, buf, sizeof(buf));
      out.push_back(buf);
    }
    return out;
  }
  std::set<int> selection() { return lv->selectedRowIndexes(); }
  // The middle of a row in the control's coordinates.
  double rowY(int row) { return lv->rectOfRow(row).y + lv->rectOfRow(row).h / 2; }

  cocoa::AutoreleasePool pool;
  TestWindow w;
  Shim_vVexmir_listview* lv;
  cocoa::ScrollView* sv;
};

TEST_F(ListFixture, SortedStylesInsertAtTheSortedPosition) {
  struct Case {
    long style;
    std::vector<int> positions;
    std::vector<std::string> order;
  };
  const Case cases[] = {
      {LVS_SORTASCENDING, {0, 0, 2}, {"a", "b", "c"}},
      {LVS_SORTDESCENDING, {0, 1, 0}, {"c", "b", "a"}},
      {0, {0, 0, 0}, {"c", "a", "b"}},
  };
  for (const Case& c : cases) {
    ListView_DeleteAllItems(lv);
    setStyle(c.style);
    std::vector<int> got;
    for (const char* t : {"b", "a", "c"}) got.push_back(insert(t));
    EXPECT_EQ(got, c.positions) << c.style;
    EXPECT_EQ(texts(), c.order) << c.style;
  }
}

TEST_F(ListFixture, InsertPositionsAreLimitedAndNullTextsAreEmpty) {
  column();
  for (const char* t : {"x", "y", "z"}) insert(t, 99);
  EXPECT_EQ(insert("first", -5), 0);
  EXPECT_EQ(insert("last", 1000), 4);
  LVITEM it{};
  it.mask = LVIF_TEXT;
  it.iItem = 1;
  it.pszText = nullptr;
  EXPECT_EQ(ListView_InsertItem(lv, &it), 1);
  EXPECT_EQ(texts(), (std::vector<std::string>{"first", "", "x", "y", "z", "last"}));
  it.iSubItem = 1;
  EXPECT_EQ(ListView_InsertItem(lv, &it), 0);
  EXPECT_EQ(ListView_InsertItem(lv, nullptr), 0);
  EXPECT_EQ(ListView_GetItemCount(lv), 6);
}

TEST_F(ListFixture, SelectionFollowsItsRowsAcrossInsertAndDelete) {
  for (const char* t : {"a", "b", "c", "d"}) insert(t, 99);
  ListView_SetItemState(lv, 2, LVIS_SELECTED, LVIS_SELECTED);
  insert("new", 1);
  EXPECT_EQ(selection(), (std::set<int>{3}));
  ListView_DeleteItem(lv, 0);
  EXPECT_EQ(selection(), (std::set<int>{2}));
  ListView_DeleteItem(lv, 2);
  EXPECT_TRUE(selection().empty());
  EXPECT_EQ(ListView_GetNextItem(lv, -1, LVNI_SELECTED), -1);
}

TEST_F(ListFixture, ShiftClicksSelectWholeRangesAndArrowsStayInTheList) {
  column();
  for (const char* t : {"a", "b", "c", "d", "e", "f"}) insert(t, 99);
  w.click(lv, 20, rowY(1));
  w.click(lv, 20, rowY(4), cocoa::kShiftKeyMask);
  EXPECT_EQ(selection(), (std::set<int>{1, 2, 3, 4})) << "both ends of the range are selected";
  w.click(lv, 20, rowY(5));
  w.click(lv, 20, rowY(2), cocoa::kShiftKeyMask);
  EXPECT_EQ(selection(), (std::set<int>{2, 3, 4, 5})) << "a range upwards too";
  // The arrows move one row and stop at either end.
  auto arrow = [&](char32_t c) {
    w.window->makeFirstResponder(lv);
    cocoa::Event* k = cocoa::Event::keyEvent(cocoa::kKeyDown, 0, 0, std::u32string(1, c), std::u32string(1, c));
    w.window->sendEvent(k);
    k->release();
  };
  w.click(lv, 20, rowY(4));
  arrow(0xF701);
  EXPECT_EQ(selection(), (std::set<int>{5}));
  arrow(0xF701);
  EXPECT_EQ(selection(), (std::set<int>{5})) << "down on the last row stays there";
  arrow(0xF700);
  EXPECT_EQ(selection(), (std::set<int>{4}));
  w.click(lv, 20, rowY(0));
  arrow(0xF700);
  EXPECT_EQ(selection(), (std::set<int>{0})) << "up on the first row stays there";
}

TEST_F(ListFixture, ItemStateNotifiesTheParentOnceAndNeverNested) {
  for (const char* t : {"a", "b", "c"}) insert(t, 99);
  ListView_SetItemState(lv, 0, LVIS_SELECTED, LVIS_SELECTED);
  ListView_SetItemState(lv, 0, LVIS_SELECTED, LVIS_SELECTED);                   // already selected: nothing
  ListView_SetItemState(lv, 1, INDEXTOSTATEIMAGEMASK(2), LVIS_STATEIMAGEMASK);  // image only: nothing
  EXPECT_EQ(ListView_GetItemState(lv, 1, LVIS_STATEIMAGEMASK), INDEXTOSTATEIMAGEMASK(2));
  // A handler that selects another row gets no nested notification.
  w.owner->onMessage = [this](UINT msg, WPARAM, LPARAM lp) -> LRESULT {
    if (msg == WM_NOTIFY && reinterpret_cast<NMHDR*>(lp)->code == LVN_ITEMCHANGED) {
      ListView_SetItemState(lv, 2, LVIS_SELECTED, LVIS_SELECTED);
    }
    return 0;
  };
  ListView_SetItemState(lv, 1, LVIS_SELECTED, LVIS_SELECTED);
  w.owner->onMessage = nullptr;
  EXPECT_TRUE(ListView_SetItemState(lv, -1, 0, LVIS_SELECTED));
  EXPECT_FALSE(ListView_SetItemState(lv, 3, LVIS_SELECTED, LVIS_SELECTED));
  EXPECT_EQ(w.owner->sent, (std::vector<Sent>{{WM_NOTIFY, LVN_ITEMCHANGED, 0, 0}, {WM_NOTIFY, LVN_ITEMCHANGED, 1, 0}}));
  EXPECT_TRUE(selection().empty());
  // The focused row is the last one selected.
  ListView_SetItemState(lv, 2, LVIS_SELECTED, LVIS_SELECTED);
  ListView_SetItemState(lv, 0, LVIS_SELECTED, LVIS_SELECTED);
  EXPECT_EQ(ListView_GetItemState(lv, 0, LVIS_SELECTED | LVIS_FOCUSED), UINT(LVIS_SELECTED | LVIS_FOCUSED));
  EXPECT_EQ(ListView_GetItemState(lv, 2, LVIS_SELECTED | LVIS_FOCUSED), UINT(LVIS_SELECTED));
  EXPECT_EQ(ListView_GetNextItem(lv, -1, LVNI_FOCUSED), 0);
  EXPECT_EQ(ListView_GetNextItem(lv, 0, LVNI_SELECTED), 2);
  EXPECT_EQ(ListView_GetNextItem(lv, 5, LVNI_SELECTED), -1);
  EXPECT_EQ(ListView_GetNextItem(lv, -1, 3), -1);
  EXPECT_EQ(ListView_GetSelectedCount(lv), 2);
}

TEST_F(ListFixture, MouseClicksDragsAndRightClicksNotifyInOrder) {
  column(120);
  column(120, "Value");
  for (const char* t : {"a", "b", "c", "d"}) insert(t, 99, 100);
  auto& sent = w.owner->sent;

  // A click selects at mouse-up (the owner hears of the change) and then reports NM_CLICK; three small drags still
  // make a click.
  w.mouse(cocoa::kLeftMouseDown, lv, 50, rowY(1));
  for (int i = 0; i < 3; ++i) w.mouse(cocoa::kLeftMouseDragged, lv, 51, rowY(1));
  EXPECT_TRUE(selection().empty());
  w.mouse(cocoa::kLeftMouseUp, lv, 51, rowY(1));
  EXPECT_EQ(selection(), (std::set<int>{1}));
  EXPECT_EQ(sent, (std::vector<Sent>{{WM_NOTIFY, LVN_ITEMCHANGED, 1, 0}, {WM_NOTIFY, NM_CLICK, 1, 0}}));
  EXPECT_EQ(w.owner->actions, (std::vector<std::string>{}));  // no action was set

  // The fourth drag starts a drag of the start row, which becomes selected first (alone, without Command).
  sent.clear();
  w.mouse(cocoa::kLeftMouseDown, lv, 50, rowY(3));
  for (int i = 0; i < 5; ++i) w.mouse(cocoa::kLeftMouseDragged, lv, 60, rowY(3) + i);
  w.mouse(cocoa::kLeftMouseUp, lv, 60, rowY(3));
  EXPECT_EQ(selection(), (std::set<int>{3}));
  EXPECT_EQ(sent,
            (std::vector<Sent>{{WM_NOTIFY, LVN_BEGINDRAG, 3, 0}, {WM_MOUSEMOVE, 0, -1, 0}, {WM_LBUTTONUP, 0, -1, 0}}));

  // A fast-click column reports at mouse-down and does not select.
  sent.clear();
  SHIM_SetListViewFastClickMask(lv, 2);
  w.click(lv, 150, rowY(0));
  EXPECT_EQ(sent, (std::vector<Sent>{{WM_NOTIFY, NM_CLICK, 0, 0}}));
  EXPECT_EQ(selection(), (std::set<int>{3}));
  SHIM_SetListViewFastClickMask(lv, 0);

  // A right click on an unselected row selects it alone; an owner that answers 0 gets WM_CONTEXTMENU.
  sent.clear();
  w.mouse(cocoa::kRightMouseDown, lv, 20, rowY(2));
  w.mouse(cocoa::kRightMouseUp, lv, 20, rowY(2));
  EXPECT_EQ(selection(), (std::set<int>{2}));
  EXPECT_EQ(sent, (std::vector<Sent>{{WM_NOTIFY, NM_RCLICK, 2, 0}, {WM_CONTEXTMENU, 0, -1, 0}}));
  // A click on a column's header reports the column (by its creation index).
  sent.clear();
  w.owner->onMessage = [this](UINT msg, WPARAM, LPARAM lp) -> LRESULT {
    if (msg == WM_NOTIFY && reinterpret_cast<NMHDR*>(lp)->code == -108) {
      EXPECT_EQ(reinterpret_cast<NMLISTVIEW*>(lp)->iSubItem, 1);
    }
    return 0;
  };
  w.click(sv, 150, 5);
  EXPECT_EQ(sent, (std::vector<Sent>{{WM_NOTIFY, -108, -1, 0}}));
  // An owner that takes NM_RCLICK stops there.
  sent.clear();
  w.owner->onMessage = [](UINT msg, WPARAM, LPARAM) -> LRESULT { return msg == WM_NOTIFY ? 1 : 0; };
  w.mouse(cocoa::kRightMouseDown, lv, 20, rowY(2));
  w.mouse(cocoa::kRightMouseUp, lv, 20, rowY(2));
  EXPECT_EQ(sent, (std::vector<Sent>{{WM_NOTIFY, NM_RCLICK, 2, 0}}));
}

TEST_F(ListFixture, StateImageSquareClicksWithoutSelecting) {
  column();
  HIMAGELIST images = ImageList_CreateEx();
  ListView_SetImageList(lv, images, LVSIL_STATE);
  EXPECT_TRUE(lv->m_cols[0]->dataCell()->as<Shim_vVexmir_statuscell>());
  insert("a", 0);
  w.click(lv, 5, rowY(0));
  EXPECT_TRUE(selection().empty());
  EXPECT_EQ(w.owner->sent, (std::vector<Sent>{{WM_NOTIFY, NM_CLICK, 0, 0}}));
  LVHITTESTINFO hit{};
  hit.pt = POINT{5, static_cast<int>(rowY(0))};
  EXPECT_EQ(ListView_HitTest(lv, &hit), 0);
  EXPECT_EQ(hit.flags, UINT(LVHT_ONITEMSTATEICON));
  ListView_SetImageList(lv, nullptr, -1);
  ImageList_Destroy(images);
}

TEST_F(ListFixture, ColumnsKeepCreationIndexesAndHideAtWidthZero) {
  HIMAGELIST images = ImageList_CreateEx();
  ListView_SetImageList(lv, images, LVSIL_SMALL);
  for (int pos : {2, 0, 1}) {
    LVCOLUMN c{};
    c.cx = 50 + pos;
    ListView_InsertColumn(lv, pos, &c);
  }
  ASSERT_EQ(Header_GetItemCount(ListView_GetHeader(lv)), 3);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(ListView_GetColumnWidth(lv, i), (i == 0 ? 52 : i == 1 ? 50 : 51));
    EXPECT_EQ(lv->m_cols[static_cast<size_t>(i)]->dataCell()->as<Shim_vVexmir_statuscell>() != nullptr, i == 1);
  }
  LVCOLUMN hidden{};
  ListView_InsertColumn(lv, 3, &hidden);
  EXPECT_EQ(ListView_GetColumnWidth(lv, 3), 0);
  ListView_SetColumnWidth(lv, 3, 40);
  EXPECT_EQ(ListView_GetColumnWidth(lv, 3), 40);
  EXPECT_TRUE(ListView_DeleteColumn(lv, 3));
  EXPECT_FALSE(ListView_DeleteColumn(lv, 3));

  // Column order: only a permutation of the positions is an order.
  int order[3];
  ASSERT_TRUE(ListView_GetColumnOrderArray(lv, 3, order));
  EXPECT_EQ(std::vector<int>(order, order + 3), (std::vector<int>{0, 1, 2}));
  const int twice[3] = {0, 0, 1}, outside[3] = {0, 1, 5}, turned[3] = {2, 0, 1};
  EXPECT_FALSE(ListView_SetColumnOrderArray(lv, 3, twice));
  EXPECT_FALSE(ListView_SetColumnOrderArray(lv, 3, outside));
  EXPECT_FALSE(ListView_SetColumnOrderArray(lv, 2, turned));
  ASSERT_TRUE(ListView_GetColumnOrderArray(lv, 3, order));
  EXPECT_EQ(std::vector<int>(order, order + 3), (std::vector<int>{0, 1, 2}));
  ASSERT_TRUE(ListView_SetColumnOrderArray(lv, 3, turned));
  ASSERT_TRUE(ListView_GetColumnOrderArray(lv, 3, order));
  EXPECT_EQ(std::vector<int>(order, order + 3), (std::vector<int>{2, 0, 1}));

  HDITEM hd{};
  hd.mask = HDI_FORMAT;
  hd.fmt = HDF_SORTDOWN;
  EXPECT_TRUE(Header_SetItem(lv, 1, &hd));
  hd.fmt = 0;
  EXPECT_TRUE(Header_GetItem(lv, 1, &hd));
  EXPECT_EQ(hd.fmt, HDF_SORTDOWN);
  EXPECT_FALSE(Header_GetItem(lv, 3, &hd));
  ListView_SetImageList(lv, nullptr, -1);
  ImageList_Destroy(images);
}

TEST_F(ListFixture, ItemTextsAreBoundedByTheCallersBuffer) {
  column();
  insert("hello", 0);
  char buf[8];
  struct Case {
    int capacity;
    const char* expect;
  };
  for (const Case& c : {Case{1, ""}, Case{4, "hel"}, Case{8, "hello"}}) {
    std::fill(buf, buf + sizeof(buf), 'Z');
    ASSERT_TRUE(ListView_GetItemText(lv, 0, 0, buf, c.capacity));
    EXPECT_STREQ(buf, c.expect);
    EXPECT_EQ(buf[c.capacity - 1 + (c.capacity == 8 ? -2 : 0)], 0);
  }
  std::fill(buf, buf + sizeof(buf), 'Z');
  EXPECT_FALSE(ListView_GetItemText(lv, 3, 0, buf, 8));
  EXPECT_EQ(buf[0], 0);
  ListView_SetItemText(lv, 0, 3, "four");
  ListView_SetItemText(lv, 0, 32, "never");
  ListView_SetItemText(lv, 0, 2, nullptr);
  EXPECT_EQ(lv->m_items[0]->texts, (std::vector<std::string>{"hello", "", "", "four"}));
}

TEST_F(ListFixture, SortingIsStableAndKeepsTheSelectedRows) {
  for (int i = 0; i < 6; ++i) insert(std::to_string(i).c_str(), 99, i % 3);
  ListView_SetItemState(lv, 1, LVIS_SELECTED, LVIS_SELECTED);
  ListView_SetItemState(lv, 5, LVIS_SELECTED, LVIS_SELECTED);
  ListView_SortItems(
      lv, [](LPARAM, LPARAM, LPARAM) { return 0; }, 0);
  EXPECT_EQ(texts(), (std::vector<std::string>{"0", "1", "2", "3", "4", "5"}));
  ListView_SortItems(
      lv, [](LPARAM a, LPARAM b, LPARAM) { return static_cast<int>(a - b); }, 0);
  EXPECT_EQ(texts(), (std::vector<std::string>{"0", "3", "1", "4", "2", "5"}));
  EXPECT_EQ(selection(), (std::set<int>{2, 5}));
}

TEST_F(ListFixture, GeometryHitTestsAndScrollingAtEachRowHeight) {
  column(100);
  column(80);
  for (int i = 0; i < 40; ++i) insert("row", 99);
  for (double height : {17.0, 12.0, 30.0}) {
    lv->rowHeight = height;
    lv->reloadData();
    ListView_Scroll(lv, 0, -100000);
    const double h = height + lv->intercellSpacing.y;
    for (int row : {0, 1, 5, 39}) {
      RECT r{};
      ASSERT_TRUE(ListView_GetItemRect(lv, row, &r, 0));
      EXPECT_EQ(r.top, static_cast<int>(row * h));
      EXPECT_EQ(r.bottom, static_cast<int>(row * h + h));
      ASSERT_TRUE(ListView_GetSubItemRect(lv, row, 1, 0, &r));
      // The cell's frame (inset by half the spacing) grown by the spacing.
      EXPECT_EQ(r.left, 104);
      EXPECT_EQ(r.right, 187);
    }
    RECT r{};
    EXPECT_FALSE(ListView_GetItemRect(lv, 40, &r, 0));
    EXPECT_FALSE(ListView_GetSubItemRect(lv, 0, 2, 0, &r));
    const cocoa::Rect vis = sv->documentVisibleRect();
    EXPECT_EQ(ListView_GetCountPerPage(lv), static_cast<int>(vis.h / static_cast<int>(height)));
    LVHITTESTINFO hit{};
    hit.pt = POINT{10, static_cast<int>(2 * h + 1)};
    EXPECT_EQ(ListView_SubItemHitTest(lv, &hit), 2);
    EXPECT_EQ(hit.flags, UINT(LVHT_ONITEMLABEL));
    EXPECT_EQ(hit.iSubItem, 0);
    hit.pt = POINT{10, -3};
    EXPECT_EQ(ListView_HitTest(lv, &hit), -1);
    EXPECT_EQ(hit.flags, UINT(LVHT_ABOVE));
    // Three cell heights down shows the row three below the last visible row.
    const int lastVisible = lv->rowAtPoint(cocoa::Point{0, vis.y + vis.h - 1});
    ASSERT_TRUE(ListView_Scroll(lv, 0, static_cast<int>(3 * height)));
    const cocoa::Rect after = sv->documentVisibleRect();
    EXPECT_EQ(lv->rowAtPoint(cocoa::Point{0, after.y + after.h - 1}), std::min(39, lastVisible + 3));
    POINT scroll{};
    ASSERT_TRUE(ListView_GetScroll(lv, &scroll));
    EXPECT_EQ(scroll.y, static_cast<int>(after.y));
    EXPECT_EQ(ListView_GetTopIndex(lv), lv->rowAtPoint(cocoa::Point{0, after.y}));
  }
  // Rows below one point high hold no page; a null point is refused.
  lv->rowHeight = 0.5;
  EXPECT_EQ(ListView_GetCountPerPage(lv), 0);
  EXPECT_FALSE(ListView_GetScroll(lv, nullptr));
  // A hit below the last row inside the visible area is nowhere.
  lv->rowHeight = 17;
  ListView_DeleteAllItems(lv);
  insert("only", 0);
  LVHITTESTINFO hit{};
  hit.pt = POINT{10, 100};
  EXPECT_EQ(ListView_HitTest(lv, &hit), -1);
  EXPECT_EQ(hit.flags, UINT(LVHT_NOWHERE));
}

TEST_F(ListFixture, ListBoxMessages) {
  lv->setShimNotificationMode(1);
  setStyle(LBS_SORT);
  column(200, "");
  for (const char* t : {"pear", "apple", "Zebra", "fig"}) SendMessage(lv, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(t));
  EXPECT_EQ(texts(), (std::vector<std::string>{"Zebra", "apple", "fig", "pear"}));
  EXPECT_EQ(SendMessage(lv, LB_INSERTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>("end")), 4);
  EXPECT_EQ(SendMessage(lv, LB_GETCOUNT, 0, 0), 5);
  SendMessage(lv, LB_SETITEMDATA, 2, 42);
  EXPECT_EQ(SendMessage(lv, LB_GETITEMDATA, 2, 0), 42);
  EXPECT_EQ(SendMessage(lv, LB_GETITEMDATA, 9, 0), 0);
  SendMessage(lv, LB_SETCURSEL, 1, 0);
  EXPECT_EQ(SendMessage(lv, LB_GETCURSEL, 0, 0), 1);
  EXPECT_EQ(SendMessage(lv, LB_GETSEL, 1, 0), 1);
  SendMessage(lv, LB_SETCURSEL, static_cast<WPARAM>(-1), 0);
  EXPECT_EQ(SendMessage(lv, LB_GETCURSEL, 0, 0), -1);
  // Text lengths are real; the text call copies the text and its terminator only.
  EXPECT_EQ(SendMessage(lv, LB_GETTEXTLEN, 3, 0), 4);
  EXPECT_EQ(SendMessage(lv, LB_GETTEXTLEN, 9, 0), LB_ERR);
  char buf[8] = "ZZZZZZZ";
  EXPECT_EQ(SendMessage(lv, LB_GETTEXT, 3, reinterpret_cast<LPARAM>(buf)), 0);
  EXPECT_STREQ(buf, "pear");
  EXPECT_EQ(buf[6], 'Z');
  EXPECT_EQ(SendMessage(lv, LB_GETTEXT, 3, 0), 0);
  EXPECT_EQ(SendMessage(lv, LB_GETTEXT, 9, reinterpret_cast<LPARAM>(buf)), 0);
  SendMessage(lv, LB_DELETESTRING, 0, 0);
  EXPECT_EQ(texts().front(), "apple");
  // A list box reports a selection change as a command and sends no click notifications.
  w.click(lv, 20, rowY(1));
  EXPECT_EQ(SendMessage(lv, LB_GETCURSEL, 0, 0), 1);
  EXPECT_EQ(w.owner->sent, (std::vector<Sent>{{WM_COMMAND, 1, -1, 0}}));
  SendMessage(lv, LB_RESETCONTENT, 0, 0);
  EXPECT_EQ(SendMessage(lv, LB_GETCOUNT, 0, 0), 0);
}

const uint32_t kRowColours[3] = {0xE04040, 0x40B040, 0x4060E0};

TEST_F(ListFixture, OwnerDrawnListBoxesAskTheParentForEachRow) {
  lv->setShimNotificationMode(1);
  setStyle(LBS_OWNERDRAWFIXED);
  column(200, "");
  auto* cell = new Shim_vVexmir_ODlistviewcell;
  cell->setOwnerControl(lv);
  lv->m_cols[0]->setDataCell(cell);
  cell->release();
  for (const char* t : {"one", "two", "three"}) SendMessage(lv, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(t));
  SendMessage(lv, LB_SETITEMDATA, 1, 77);
  std::vector<std::pair<UINT, ULONG_PTR>> drawn;
  w.owner->onMessage = [&](UINT msg, WPARAM wp, LPARAM lp) -> LRESULT {
    if (msg == WM_DRAWITEM) {
      auto* dis = reinterpret_cast<DRAWITEMSTRUCT*>(lp);
      EXPECT_EQ(dis->CtlType, UINT(ODT_LISTBOX));
      EXPECT_EQ(wp, 7u);
      EXPECT_EQ(dis->hwndItem, lv);
      EXPECT_NE(dis->hDC, nullptr);
      EXPECT_EQ(dis->rcItem.bottom - dis->rcItem.top, 17);
      drawn.push_back({dis->itemID, dis->itemData});
      // The owner paints its row where the item rectangle says, in the context it was given.
      HBRUSH b = CreateSolidBrush(kRowColours[dis->itemID % 3]);
      SHIM_FillRect(dis->hDC, &dis->rcItem, b);
      DeleteObject(b);
    }
    return 0;
  };
  cocoa::Window::displayAllWindows();
  EXPECT_EQ(drawn, (std::vector<std::pair<UINT, ULONG_PTR>>{{0, 0}, {1, 77}, {2, 0}}));
  // Each row's colour lands on that row, not shifted by the list's place in the window.
  for (int row = 0; row < 3; ++row) {
    const cocoa::Point p = lv->convertToWindow(cocoa::Point{100, rowY(row)});
    EXPECT_EQ(w.window->pixelAt(static_cast<int>(p.x), 300 - static_cast<int>(p.y)), kRowColours[row]) << row;
  }
  const char* b = std::getenv("VEXMIR_BUILD_DIR");
  const std::string dir = std::string(b ? b : ".") + "/out/wincontrols";
  ASSERT_EQ(std::system(("mkdir -p '" + dir + "'").c_str()), 0);
  EXPECT_TRUE(w.window->writePNG(dir + "/owner-drawn-list.png"));
}

TEST_F(ListFixture, SelectionColoursWithoutAnEntryFallBackToThePlatform) {
  column();
  insert("a", 0);
  ListView_SetItemState(lv, 0, LVIS_SELECTED, LVIS_SELECTED);
  const int two[2] = {0x00FF00, 0xFFFFFF};
  ListView_SetSelColors(lv, two, 2);
  cocoa::Window::displayAllWindows();
  // Unfocused: entry 2 is missing, so the platform's blue highlight shows; focused: entry 0, green.
  const cocoa::Point p = lv->convertToWindow(cocoa::Point{200, rowY(0)});
  const int px = static_cast<int>(p.x), py = 300 - static_cast<int>(p.y);
  const uint32_t unfocused = w.window->pixelAt(px, py);
  EXPECT_NE(unfocused, 0x00FF00u);
  EXPECT_LT(unfocused & 0xFF, 0xF0u);  // not white: a highlight was painted
  w.window->makeKeyAndOrderFront();
  w.window->makeFirstResponder(lv);
  lv->setNeedsDisplay(true);
  cocoa::Window::displayAllWindows();
  EXPECT_EQ(w.window->pixelAt(px, py), 0x00FF00u);
}

// Owner-data rows: the owner supplies every cell and the control only counts them; random operations against a
// model of the selection, with hit tests and rectangles checked as they go.
TEST_F(ListFixture, OwnerDataTenThousandRowsAgainstAModel) {
  setStyle(LVS_OWNERDATA);
  column(200);
  int asked = 0;
  w.owner->dispInfo = [&](NMLVDISPINFO* di) {
    ++asked;
    snprintf(di->item.pszText, static_cast<size_t>(di->item.cchTextMax), "row %d", di->item.iItem);
  };
  ListView_SetItemCount(lv, 10000);
  EXPECT_EQ(ListView_GetItemCount(lv), 10000);
  EXPECT_EQ(ListView_InsertItem(lv, nullptr), 0);
  LVITEM refused{};
  refused.mask = LVIF_TEXT;
  EXPECT_EQ(ListView_InsertItem(lv, &refused), -1);
  cocoa::Window::displayAllWindows();
  EXPECT_GT(asked, 0);
  EXPECT_LT(asked, 40);  // only the visible rows are asked for

  std::mt19937 rng(1234);
  std::set<int> model;
  int count = 10000;
  for (int step = 0; step < 3000; ++step) {
    const int op = static_cast<int>(rng() % 10);
    const int row = static_cast<int>(rng() % static_cast<unsigned>(count + 2)) - 1;
    if (op < 4) {
      const bool ok = ListView_SetItemState(lv, row, LVIS_SELECTED, LVIS_SELECTED);
      EXPECT_EQ(ok, row == -1 || (row >= 0 && row < count));
      if (row == -1) {
        for (int r = 0; r < count; r += 1000) ASSERT_TRUE(lv->isRowSelected(r));
        model.clear();
        for (int r = 0; r < count; ++r) model.insert(r);
      } else if (ok) {
        model.insert(row);
      }
    } else if (op < 7) {
      if (ListView_SetItemState(lv, row, 0, LVIS_SELECTED)) {
        if (row == -1) {
          model.clear();
        } else {
          model.erase(row);
        }
      }
    } else if (op < 8) {
      count = 9000 + static_cast<int>(rng() % 2000);
      ListView_SetItemCount(lv, count);
      model.erase(model.lower_bound(count), model.end());
    } else {
      LVHITTESTINFO hit{};
      const int y = static_cast<int>(rng() % 250) - 20;
      ListView_EnsureVisible(lv, row, false);
      const cocoa::Rect vis = sv->documentVisibleRect();
      hit.pt = POINT{10, static_cast<int>(vis.y) + y};
      const int got = ListView_HitTest(lv, &hit);
      const double h = lv->rowHeight + lv->intercellSpacing.y;
      const int expect = (y < 0 || y >= vis.h) ? -1 : static_cast<int>((vis.y + y) / h);
      ASSERT_EQ(got, expect < count ? expect : -1) << step;
      if (got >= 0) {
        RECT r{};
        ASSERT_TRUE(ListView_GetItemRect(lv, got, &r, 0));
        ASSERT_LE(r.top, hit.pt.y);
        ASSERT_GT(r.bottom, hit.pt.y);
      }
    }
    ASSERT_EQ(ListView_GetSelectedCount(lv), static_cast<int>(model.size())) << step;
  }
  for (int r = 0; r < count; r += 97) ASSERT_EQ(lv->isRowSelected(r), model.count(r) != 0);
  EXPECT_EQ(ListView_GetItemState(lv, 3, LVIS_STATEIMAGEMASK), 0u);
}

// Sorted insertion, deletion and selection shifting against a model of the rows.
TEST_F(ListFixture, SortedRowsAndSelectionAgainstAModel) {
  for (long style : {long(LVS_SORTASCENDING), long(LVS_SORTDESCENDING)}) {
    ListView_DeleteAllItems(lv);
    setStyle(style);
    std::mt19937 rng(static_cast<unsigned>(style));
    std::vector<std::string> rows;
    std::vector<bool> selected;
    for (int step = 0; step < 1500; ++step) {
      const int op = static_cast<int>(rng() % 6);
      if (op < 3 || rows.empty()) {
        std::string t;
        for (int k = static_cast<int>(rng() % 4); k >= 0; --k) t += static_cast<char>('a' + rng() % 5);
        const int got = insert(t.c_str(), static_cast<int>(rng() % 50));
        // Any position between the equal texts keeps the order; the model takes the one the control chose.
        auto lo = style == LVS_SORTASCENDING ? std::lower_bound(rows.begin(), rows.end(), t)
                                             : std::lower_bound(rows.begin(), rows.end(), t, std::greater<>());
        auto hi = style == LVS_SORTASCENDING ? std::upper_bound(rows.begin(), rows.end(), t)
                                             : std::upper_bound(rows.begin(), rows.end(), t, std::greater<>());
        ASSERT_GE(got, lo - rows.begin()) << step;
        ASSERT_LE(got, hi - rows.begin()) << step;
        rows.insert(rows.begin() + got, t);
        selected.insert(selected.begin() + got, false);
      } else if (op < 4) {
        const int at = static_cast<int>(rng() % rows.size());
        ListView_DeleteItem(lv, at);
        rows.erase(rows.begin() + at);
        selected.erase(selected.begin() + at);
      } else {
        const int at = static_cast<int>(rng() % rows.size());
        const bool on = op == 4;
        ListView_SetItemState(lv, at, on ? LVIS_SELECTED : 0, LVIS_SELECTED);
        selected[static_cast<size_t>(at)] = on;
      }
      ASSERT_EQ(ListView_GetItemCount(lv), static_cast<int>(rows.size()));
    }
    EXPECT_EQ(texts(), rows);
    for (size_t i = 0; i < rows.size(); ++i) ASSERT_EQ(lv->isRowSelected(static_cast<int>(i)), selected[i]) << i;
  }
}

}  // namespace
