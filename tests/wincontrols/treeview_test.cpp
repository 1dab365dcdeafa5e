// Tree views: insertion places, walking, expansion, selection with its notification, deletion of subtrees, hit
// tests, clicks, stale handles, and random operations against a model tree.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <random>

#include "tests/wincontrols/wincontrols_support.h"

namespace {

struct TreeFixture : ::testing::Test {
  TreeFixture() {
    tv = new Shim_vVexmir_treeview;
    tv->target = w.owner;
    tv->setTag(9);
    auto* c = new cocoa::TableColumn;
    c->setWidth(300);
    tv->addTableColumn(c);
    tv->setOutlineTableColumn(c);
    c->release();
    tv->headerHeight = 0;
    w.scrolled(tv, cocoa::Rect{10, 10, 300, 200});
    tv->release();
  }
  HTREEITEM add(HTREEITEM parent, const char* text, HTREEITEM after = TVI_LAST, bool children = false) {
    TVINSERTSTRUCT ins{};
    ins.hParent = parent;
    ins.hInsertAfter = after;
    ins.item.mask = TVIF_TEXT | TVIF_CHILDREN | TVIF_PARAM;
    ins.item.pszText = const_cast<char*>(text);
    ins.item.cChildren = children ? 1 : 0;
    ins.item.lParam = 5;
    return TreeView_InsertItem(tv, &ins);
  }
  std::string text(HTREEITEM item) {
    char buf[64] = "?";
    TVITEM it{};
    it.mask = TVIF_HANDLE | TVIF_TEXT;
    it.hItem = item;
    it.pszText = buf;
    it.cchTextMax = sizeof(buf);
    return TreeView_GetItem(tv, &it) ? buf : "<refused>";
  }
  std::vector<std::string> siblings(HTREEITEM first) {
    std::vector<std::string> out;
    for (HTREEITEM i = first; i; i = TreeView_GetNextSibling(tv, i)) out.push_back(text(i));
    return out;
  }
  int selChanges() {
    int n = 0;
    for (const Sent& s : w.owner->sent) n += s.code == TVN_SELCHANGED;
    return n;
  }

  cocoa::AutoreleasePool pool;
  TestWindow w;
  Shim_vVexmir_treeview* tv;
};

TEST_F(TreeFixture, InsertionPlacesAndWalking) {
  HTREEITEM a = add(TVI_ROOT, "a");
  HTREEITEM b = add(nullptr, "b");
  add(TVI_ROOT, "first", TVI_FIRST);
  add(TVI_ROOT, "sorted?", TVI_SORT);
  add(TVI_ROOT, "after a", a);
  HTREEITEM child = add(b, "child");
  add(a, "goes first", child);  // an item of another parent: first
  EXPECT_EQ(siblings(TreeView_GetRoot(tv)), (std::vector<std::string>{"first", "a", "after a", "b", "sorted?"}));
  EXPECT_EQ(siblings(TreeView_GetChild(tv, a)), (std::vector<std::string>{"goes first"}));
  EXPECT_EQ(TreeView_GetChild(tv, nullptr), TreeView_GetRoot(tv));
  EXPECT_EQ(TreeView_GetNextSibling(tv, child), nullptr);
  // A parent that is not in the tree adds nothing.
  HTREEITEM__ foreign;
  EXPECT_EQ(add(&foreign, "lost"), nullptr);
  // Texts are bounded by the caller's capacity.
  char buf[4] = "ZZZ";
  TVITEM it{};
  it.mask = TVIF_HANDLE | TVIF_TEXT;
  it.hItem = a;
  it.pszText = buf;
  it.cchTextMax = 1;
  ASSERT_TRUE(TreeView_GetItem(tv, &it));
  EXPECT_EQ(buf[0], 0);
  EXPECT_EQ(buf[1], 'Z');
  buf[0] = 'Q';
  it.cchTextMax = 0;
  ASSERT_TRUE(TreeView_GetItem(tv, &it));
  EXPECT_EQ(buf[0], 'Q');
  EXPECT_EQ(it.lParam, 5);
  it.mask = TVIF_TEXT;
  EXPECT_FALSE(TreeView_GetItem(tv, &it));
  // A null text is an empty text.
  TVINSERTSTRUCT ins{};
  ins.hParent = TVI_ROOT;
  ins.item.mask = TVIF_TEXT;
  EXPECT_EQ(text(TreeView_InsertItem(tv, &ins)), "");
}

TEST_F(TreeFixture, ExpansionSelectionAndDeletion) {
  HTREEITEM a = add(TVI_ROOT, "a", TVI_LAST, true);
  HTREEITEM a1 = add(a, "a1");
  HTREEITEM empty = add(TVI_ROOT, "empty", TVI_LAST, true);
  add(TVI_ROOT, "c");
  EXPECT_EQ(tv->numberOfRows(), 3);
  EXPECT_FALSE(TreeView_Expand(tv, a, TVE_COLLAPSE));
  EXPECT_TRUE(TreeView_Expand(tv, a, TVE_EXPAND));
  EXPECT_FALSE(TreeView_Expand(tv, a, TVE_EXPAND));
  EXPECT_EQ(tv->numberOfRows(), 4);
  EXPECT_TRUE(TreeView_Expand(tv, empty, TVE_TOGGLE));  // expandable with no children: expands to nothing
  EXPECT_EQ(tv->numberOfRows(), 4);
  EXPECT_TRUE(TreeView_Expand(tv, empty, TVE_TOGGLE));
  EXPECT_FALSE(TreeView_Expand(tv, a, 7));

  TreeView_SelectItem(tv, a1);
  EXPECT_EQ(TreeView_GetSelection(tv), a1);
  TVITEM it{};
  it.mask = TVIF_HANDLE;
  it.hItem = a;
  ASSERT_TRUE(TreeView_GetItem(tv, &it));
  EXPECT_EQ(it.state, UINT(TVIS_EXPANDED));
  EXPECT_EQ(it.cChildren, 1);
  // Inside a collapsed parent: nothing is selected, and the parent still hears of it.
  TreeView_Expand(tv, a, TVE_COLLAPSE);
  EXPECT_EQ(TreeView_GetSelection(tv), nullptr);
  TreeView_SelectItem(tv, a1);
  EXPECT_EQ(TreeView_GetSelection(tv), nullptr);
  EXPECT_EQ(selChanges(), 2);
  // A handler that selects again gets no nested notification.
  w.owner->onMessage = [this, a](UINT msg, WPARAM, LPARAM lp) -> LRESULT {
    if (msg == WM_NOTIFY && reinterpret_cast<NMHDR*>(lp)->code == TVN_SELCHANGED) TreeView_SelectItem(tv, a);
    return 0;
  };
  TreeView_SelectItem(tv, empty);
  w.owner->onMessage = nullptr;
  EXPECT_EQ(selChanges(), 3);
  EXPECT_EQ(TreeView_GetSelection(tv), a);
  // SetItem selects, expands and renames.
  it = TVITEM{};
  it.mask = TVIF_HANDLE | TVIF_TEXT;
  it.hItem = a;
  it.pszText = const_cast<char*>("A");
  it.stateMask = TVIS_EXPANDED;
  it.state = TVIS_EXPANDED;
  ASSERT_TRUE(TreeView_SetItem(tv, &it));
  EXPECT_EQ(text(a), "A");
  EXPECT_TRUE(tv->isItemExpanded(a->m_dh));
  // Deleting the selection's subtree leaves nothing selected.
  TreeView_SelectItem(tv, a1);
  EXPECT_EQ(TreeView_GetSelection(tv), a1);
  TreeView_DeleteItem(tv, a);
  EXPECT_EQ(TreeView_GetSelection(tv), nullptr);
  EXPECT_EQ(siblings(TreeView_GetRoot(tv)), (std::vector<std::string>{"empty", "c"}));
}

TEST_F(TreeFixture, StaleAndForeignHandlesAreRefused) {
  HTREEITEM a = add(TVI_ROOT, "a", TVI_LAST, true);
  HTREEITEM gone = add(a, "gone");
  auto* other = new Shim_vVexmir_treeview;
  TVINSERTSTRUCT ins{};
  ins.hParent = TVI_ROOT;
  ins.item.mask = TVIF_TEXT;
  ins.item.pszText = const_cast<char*>("elsewhere");
  HTREEITEM foreign = TreeView_InsertItem(other, &ins);
  TreeView_DeleteItem(tv, gone);
  w.owner->sent.clear();
  for (HTREEITEM h : {gone, foreign}) {
    TreeView_SelectItem(tv, h);
    EXPECT_FALSE(TreeView_Expand(tv, h, TVE_TOGGLE));
    EXPECT_EQ(TreeView_GetChild(tv, h), nullptr);
    EXPECT_EQ(text(h), "<refused>");
    TreeView_DeleteItem(tv, h);
  }
  EXPECT_TRUE(w.owner->sent.empty());
  EXPECT_EQ(text(foreign), "<refused>");
  other->release();
}

TEST_F(TreeFixture, ClicksAndRightClicks) {
  HTREEITEM a = add(TVI_ROOT, "a", TVI_LAST, true);
  add(a, "a1");
  add(TVI_ROOT, "b");
  const double h = tv->rowHeight + tv->intercellSpacing.y;
  // A click on the triangle expands; a click on the text selects after NM_CLICK.
  w.click(tv, tv->indentationPerLevel - 4, h / 2);
  EXPECT_EQ(tv->numberOfRows(), 3);
  w.click(tv, 100, 2 * h + h / 2);
  EXPECT_EQ(text(TreeView_GetSelection(tv)), "b");
  // The right click does not change the selection; an owner that answers 0 gets WM_CONTEXTMENU.
  w.mouse(cocoa::kRightMouseDown, tv, 100, h / 2);
  w.mouse(cocoa::kRightMouseUp, tv, 100, h / 2);
  EXPECT_EQ(text(TreeView_GetSelection(tv)), "b");
  EXPECT_EQ(w.owner->sent, (std::vector<Sent>{{WM_NOTIFY, NM_CLICK, -1, 0},
                                              {WM_NOTIFY, NM_CLICK, -1, 0},
                                              {WM_NOTIFY, TVN_SELCHANGED, -1, 0},
                                              {WM_NOTIFY, NM_RCLICK, -1, 0},
                                              {WM_CONTEXTMENU, 0, -1, 0}}));
  TVHITTESTINFO hit{};
  hit.pt = POINT{50, static_cast<int>(h + 1)};
  EXPECT_EQ(text(TreeView_HitTest(tv, &hit)), "a1");
  hit.pt = POINT{50, static_cast<int>(3 * h + 1)};
  EXPECT_EQ(TreeView_HitTest(tv, &hit), nullptr);
}

// Random inserts, deletions, expansions and selections against a model tree.
TEST_F(TreeFixture, RandomOperationsAgainstAModel) {
  struct Node {
    std::string text;
    std::vector<int> children;
    int parent = -1;
    bool expanded = false;
    bool alive = true;
    HTREEITEM handle = nullptr;
  };
  std::vector<Node> nodes;
  std::vector<int> roots;
  std::mt19937 rng(77);
  auto listOf = [&](int parent) -> std::vector<int>& {
    return parent < 0 ? roots : nodes[static_cast<size_t>(parent)].children;
  };
  auto alive = [&]() {
    std::vector<int> out;
    for (size_t i = 0; i < nodes.size(); ++i) {
      if (nodes[i].alive) out.push_back(static_cast<int>(i));
    }
    return out;
  };
  std::function<void(int)> kill = [&](int n) {
    nodes[static_cast<size_t>(n)].alive = false;
    for (int c : nodes[static_cast<size_t>(n)].children) kill(c);
  };
  // The rows the model shows: roots, and the children of expanded items, depth first.
  std::function<void(const std::vector<int>&, std::vector<int>&)> visible = [&](const std::vector<int>& list,
                                                                                std::vector<int>& out) {
    for (int n : list) {
      out.push_back(n);
      if (nodes[static_cast<size_t>(n)].expanded) visible(nodes[static_cast<size_t>(n)].children, out);
    }
  };
  int selected = -1;
  for (int step = 0; step < 1500; ++step) {
    const std::vector<int> live = alive();
    const int op = live.empty() ? 0 : static_cast<int>(rng() % 8);
    const int pick = live.empty() ? -1 : live[rng() % live.size()];
    if (op < 3) {
      const int parent = op == 0 || pick < 0 ? -1 : pick;
      std::vector<int>& list = listOf(parent);
      const int where = static_cast<int>(rng() % (list.size() + 2));
      HTREEITEM after = where == 0 ? TVI_FIRST
                        : where > static_cast<int>(list.size())
                            ? TVI_LAST
                            : nodes[static_cast<size_t>(list[static_cast<size_t>(where - 1)])].handle;
      Node n;
      n.text = "n" + std::to_string(nodes.size());
      n.parent = parent;
      n.handle = add(parent < 0 ? TVI_ROOT : nodes[static_cast<size_t>(parent)].handle, n.text.c_str(), after, true);
      ASSERT_NE(n.handle, nullptr);
      nodes.push_back(n);  // moves the nodes: take the list again
      std::vector<int>& into = listOf(parent);
      into.insert(into.begin() + (where == 0 ? 0 : std::min<long>(where, static_cast<long>(into.size()))),
                  static_cast<int>(nodes.size() - 1));
    } else if (op == 3) {
      TreeView_DeleteItem(tv, nodes[static_cast<size_t>(pick)].handle);
      std::vector<int>& list = listOf(nodes[static_cast<size_t>(pick)].parent);
      list.erase(std::find(list.begin(), list.end(), pick));
      kill(pick);
      if (selected >= 0 && !nodes[static_cast<size_t>(selected)].alive) selected = -1;
    } else if (op < 6) {
      const UINT code = op == 4 ? TVE_TOGGLE : TVE_COLLAPSE;
      Node& n = nodes[static_cast<size_t>(pick)];
      const bool did = TreeView_Expand(tv, n.handle, code);
      ASSERT_EQ(did, code == TVE_TOGGLE || n.expanded);
      n.expanded = code == TVE_TOGGLE ? !n.expanded : false;
    } else {
      TreeView_SelectItem(tv, nodes[static_cast<size_t>(pick)].handle);
      std::vector<int> rows;
      visible(roots, rows);
      if (std::find(rows.begin(), rows.end(), pick) != rows.end()) selected = pick;
    }
    std::vector<int> rows;
    visible(roots, rows);
    ASSERT_EQ(tv->numberOfRows(), static_cast<int>(rows.size())) << step;
    for (size_t r = 0; r < rows.size(); r += 7) {
      ASSERT_EQ(SHIM_TreeItemOf(tv->itemAtRow(static_cast<int>(r))), nodes[static_cast<size_t>(rows[r])].handle);
    }
    // A selected item that a collapse hid is no longer selected.
    if (selected >= 0 && std::find(rows.begin(), rows.end(), selected) == rows.end()) selected = -1;
    ASSERT_EQ(TreeView_GetSelection(tv), selected >= 0 ? nodes[static_cast<size_t>(selected)].handle : nullptr) << step;
  }
  std::vector<std::string> rootTexts;
  for (int r : roots) rootTexts.push_back(nodes[static_cast<size_t>(r)].text);
  EXPECT_EQ(siblings(TreeView_GetRoot(tv)), rootTexts);
}

}  // namespace
