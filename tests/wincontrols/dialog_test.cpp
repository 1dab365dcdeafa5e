// A dialog holding one of each control, built from a registered table, filled in WM_INITDIALOG, driven with
// scripted mouse and keys, its procedure's messages checked in order, and saved as a picture.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "KIT/shim/shim-ctlclasses.h"
#include "KIT/shim/shim-dlggen.h"
#include "platform/cocoa/menu.h"

namespace {

enum {
  kName = 101,
  kSync,
  kLocked,
  kTimbre1,
  kTimbre2,
  kCategory,
  kMode,
  kGroup,
  kBanks,
  kPrograms,
  kTree,
  kTabs,
  kProgress,
  kLevel,
  kLevelLabel,
  kNotes,
  kSwatch
};

const SHIM_DialogControlEntry kAllControls[] = {
    {nullptr, 0, nullptr, 0, 0, 0, 0, 0, 0},
    {"__SHIM_LABEL", -1, "Name", 0, 8, 8, 36, 10, 0},
    {"__SHIM_EDIT", 0, "", kName, 46, 6, 110, 12, 0},
    {"__SHIM_CHECKBOX", 0, "Sync to &host", kSync, 8, 24, 80, 12, 0},
    {"Locked", kLocked, "Button", BS_AUTO3STATE, 92, 24, 64, 12, 0},
    {"Timbre 1", kTimbre1, "Button", BS_AUTORADIOBUTTON | WS_GROUP, 166, 6, 60, 12, 0},
    {"Timbre 2", kTimbre2, "Button", BS_AUTORADIOBUTTON, 166, 22, 60, 12, 0},
    {"__SHIM_COMBO", 0, nullptr, kCategory, 8, 42, 100, 12, 0x100},
    {"__SHIM_COMBO", 0, nullptr, kMode, 114, 42, 100, 12, CBS_DROPDOWNLIST},
    {"__SHIM_GROUP", 0, "Banks", kGroup, 4, 62, 150, 96, 0},
    {"__SHIM_LISTBOX", 0, nullptr, kBanks, 10, 74, 138, 78, 0},
    {"", kPrograms, "SysListView32", LVS_REPORT | LVS_SINGLESEL, 160, 62, 150, 96, 0},
    {"", kTree, "SysTreeView32", 0, 8, 166, 146, 70, 0},
    {"", kTabs, "SysTabControl32", 0, 160, 166, 150, 64, 0},
    {"", kProgress, "msctls_progress32", 0, 8, 244, 146, 8, 0},
    {"", kLevel, "msctls_trackbar32", 0, 196, 242, 114, 12, 0},
    {"Level", kLevelLabel, "static", SS_RIGHT, 160, 243, 32, 10, 0},
    {"", kNotes, "Edit", WS_VSCROLL, 232, 6, 78, 48, 0},
    {"", kSwatch, "Button", BS_OWNERDRAW, 8, 262, 60, 14, 0},
    {"__SHIM_BUTTON", 0, "&Cancel", IDCANCEL, 200, 262, 50, 14, 0},
    {"__SHIM_BUTTON", 1, "&OK", IDOK, 260, 262, 50, 14, 0},
};

void createAllControls(HWND view, int) {
  SHIM_MakeSetCurParms(1.5f, 1.5f, 0, 0, view, false, false);
  SHIM_GenerateDialogFromList(kAllControls + 1, static_cast<int>(sizeof(kAllControls) / sizeof(kAllControls[0])) - 1);
}

SHIM_DialogResourceIndex g_allControls{MAKEINTRESOURCE(18001), "Controls", 0x1C, createAllControls, 480, 430, nullptr};
struct Registrar {
  Registrar() { SHIM_RegisterDialogResource(&g_allControls); }
} g_registrar;

struct Heard {
  UINT msg;
  int id;
  int code;
  bool operator==(const Heard& o) const { return msg == o.msg && id == o.id && code == o.code; }
};
std::ostream& operator<<(std::ostream& os, const Heard& h) {
  return os << "{0x" << std::hex << h.msg << std::dec << ", " << h.id << ", " << h.code << "}";
}
std::vector<Heard> g_heard;
int g_drawItems = 0;

void fill(HWND dlg) {
  SetDlgItemText(dlg, kName, "Init Program");
  for (const char* t : {"Pad", "Bass", "Lead", "Arp"}) SHIM_CB_AddString(dlg, kCategory, t);
  SHIM_CB_SetCurSel(dlg, kCategory, 2);
  for (const char* t : {"Single", "Split", "Layer", "Vocoder"}) SHIM_CB_AddString(dlg, kMode, t);
  SHIM_CB_SetCurSel(dlg, kMode, 0);
  HWND banks = GetDlgItem(dlg, kBanks);
  for (const char* t : {"Factory A", "Factory B", "User Pads", "User Leads", "Live Set"}) {
    SendMessage(banks, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(t));
  }
  HWND list = GetDlgItem(dlg, kPrograms);
  LVCOLUMN c{};
  c.cx = 36;
  c.pszText = const_cast<char*>("No.");
  ListView_InsertColumn(list, 0, &c);
  c.cx = 150;
  c.pszText = const_cast<char*>("Program");
  ListView_InsertColumn(list, 1, &c);
  const char* names[] = {"Warm Strings", "Acid Bass", "Glass Pad", "Sync Lead", "Vox Choir", "Poly Brass"};
  for (int i = 0; i < 6; ++i) {
    const std::string no = "A" + std::to_string(i + 1);
    LVITEM it{};
    it.mask = LVIF_TEXT | LVIF_PARAM;
    it.iItem = i;
    it.pszText = const_cast<char*>(no.c_str());
    it.lParam = 100 + i;
    ListView_InsertItem(list, &it);
    ListView_SetItemText(list, i, 1, names[i]);
  }
  ListView_SetExtendedListViewStyleEx(list, LVS_EX_GRIDLINES, LVS_EX_GRIDLINES);
  HWND tree = GetDlgItem(dlg, kTree);
  TVINSERTSTRUCT ins{};
  ins.hInsertAfter = TVI_LAST;
  ins.item.mask = TVIF_TEXT | TVIF_CHILDREN;
  ins.item.cChildren = 1;
  ins.hParent = TVI_ROOT;
  ins.item.pszText = const_cast<char*>("Patches");
  HTREEITEM root = TreeView_InsertItem(tree, &ins);
  ins.hParent = root;
  ins.item.cChildren = 0;
  for (const char* t : {"Factory", "User", "Converted Banks"}) {
    ins.item.pszText = const_cast<char*>(t);
    TreeView_InsertItem(tree, &ins);
  }
  TreeView_Expand(tree, root, TVE_EXPAND);
  HWND tabs = GetDlgItem(dlg, kTabs);
  TCITEM tab{};
  tab.mask = TCIF_TEXT;
  for (const char* t : {"Timbre 1", "Timbre 2", "Effects"}) {
    tab.pszText = const_cast<char*>(t);
    TabCtrl_InsertItem(tabs, 99, &tab);
  }
  SendMessage(GetDlgItem(dlg, kProgress), PBM_SETRANGE, 0, MAKELPARAM(0, 128));
  SendMessage(GetDlgItem(dlg, kProgress), PBM_SETPOS, 80, 0);
  SHIM_TB_SetRange(dlg, kLevel, 0, 127);
  SHIM_TB_SetPos(dlg, kLevel, 100);
  SetDlgItemText(dlg, kNotes, "Layered pad\nwith slow attack");
  CheckDlgButton(dlg, kTimbre1, BST_CHECKED);
  CheckDlgButton(dlg, kLocked, BST_INDETERMINATE);
}

INT_PTR allControlsProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_INITDIALOG:
      fill(hwnd);
      return 1;
    case WM_COMMAND:
      g_heard.push_back({msg, LOWORD(wp), HIWORD(wp)});
      return 0;
    case WM_NOTIFY: {
      auto* hdr = reinterpret_cast<NMHDR*>(lp);
      g_heard.push_back({msg, static_cast<int>(hdr->idFrom), hdr->code});
      return 0;
    }
    case WM_DRAWITEM: {
      auto* dis = reinterpret_cast<DRAWITEMSTRUCT*>(lp);
      ++g_drawItems;
      HBRUSH brush = CreateSolidBrush(0x2E7D32);
      SHIM_FillRect(dis->hDC, &dis->rcItem, brush);
      DeleteObject(brush);
      SetTextColor(dis->hDC, 0xFFFFFF);
      SetBkMode(dis->hDC, TRANSPARENT);
      RECT r = dis->rcItem;
      SHIM_DrawText(dis->hDC, "Swatch", -1, &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
      return 1;
    }
    default:
      return 0;
  }
}

struct DialogTest : ::testing::Test {
  void SetUp() override {
    g_heard.clear();
    dlg = SHIM_CreateDialog(SHIM_curmodule_dialogresource_head, MAKEINTRESOURCE(18001), nullptr, allControlsProc, 0);
    ASSERT_NE(dlg, nullptr);
    ShowWindow(dlg, SW_SHOW);
    window = dlg->as<cocoa::View>()->window();
    ASSERT_NE(window, nullptr);
    g_heard.clear();
  }
  void TearDown() override {
    if (dlg) DestroyWindow(dlg);
    cocoa::menus::clearScript();
  }
  void send(cocoa::Event* e) {
    window->sendEvent(e);
    e->release();
  }
  void mouse(cocoa::EventType type, HWND control, double x, double y, int clicks = -1) {
    const cocoa::Point p = control->as<cocoa::View>()->convertToWindow(cocoa::Point{x, y});
    cocoa::Event* e = cocoa::Event::mouseEvent(type, p, 0, window);
    if (clicks >= 0) e->clickCount = clicks;
    send(e);
  }
  void click(HWND control, double x, double y, int clicks = -1) {
    mouse(cocoa::kLeftMouseDown, control, x, y, clicks);
    mouse(cocoa::kLeftMouseUp, control, x, y, clicks);
  }
  void clickMiddle(int id) {
    HWND h = GetDlgItem(dlg, id);
    const cocoa::Rect b = h->as<cocoa::View>()->bounds();
    click(h, b.w / 2, b.h / 2);
  }
  void type(const std::u32string& text) {
    for (char32_t c : text)
      send(cocoa::Event::keyEvent(cocoa::kKeyDown, 0, 0, std::u32string(1, c), std::u32string(1, c)));
  }

  cocoa::AutoreleasePool pool;
  HWND dlg = nullptr;
  cocoa::Window* window = nullptr;
};

TEST_F(DialogTest, EveryControlIsBuiltFoundAndDriven) {
  // Every control is found by its id, of the class its record asks for.
  EXPECT_TRUE(GetDlgItem(dlg, kBanks)->as<Shim_vVexmir_listview>());
  EXPECT_TRUE(GetDlgItem(dlg, kPrograms)->as<Shim_vVexmir_listview>());
  EXPECT_TRUE(GetDlgItem(dlg, kTree)->as<Shim_vVexmir_treeview>());
  EXPECT_TRUE(GetDlgItem(dlg, kTabs)->as<Shim_vVexmir_tabview>());
  EXPECT_TRUE(GetDlgItem(dlg, kProgress)->as<Shim_vVexmir_progind>());
  EXPECT_TRUE(GetDlgItem(dlg, kCategory)->as<Shim_vVexmir_cbox>());
  EXPECT_TRUE(GetDlgItem(dlg, kMode)->as<Shim_vVexmir_pub>());
  EXPECT_TRUE(GetDlgItem(dlg, kNotes)->as<Shim_vVexmir_textview>());  // found in its scroll view
  EXPECT_TRUE(SHIM_IsGroupBox(GetDlgItem(dlg, kGroup)));
  EXPECT_TRUE(SHIM_IsButton(GetDlgItem(dlg, kSync)));
  EXPECT_TRUE(SHIM_IsStaticText(GetDlgItem(dlg, kLevelLabel)));
  EXPECT_EQ(GetParent(GetDlgItem(dlg, kPrograms)), dlg);
  EXPECT_EQ(ListView_GetItemCount(GetDlgItem(dlg, kPrograms)), 6);
  char text[64];
  ASSERT_TRUE(GetDlgItemText(dlg, kNotes, text, sizeof(text)));
  EXPECT_STREQ(text, "Layered pad\nwith slow attack");
  // The group box stays behind the controls made before and after it.
  const auto& subs = dlg->as<cocoa::View>()->subviews();
  EXPECT_EQ(subs.front(), GetDlgItem(dlg, kGroup));

  // Drive the dialog as a person would.
  clickMiddle(kSync);     // check box on
  clickMiddle(kTimbre2);  // the other radio button
  cocoa::menus::scriptChoice({2});
  clickMiddle(kMode);  // pick "Layer" in the drop-down list
  HWND banks = GetDlgItem(dlg, kBanks);
  auto* lb = banks->as<Shim_vVexmir_listview>();
  click(banks, 30, lb->rectOfRow(3).y + 5);  // a bank in the list box
  HWND programs = GetDlgItem(dlg, kPrograms);
  auto* lv = programs->as<Shim_vVexmir_listview>();
  click(programs, 60, lv->rectOfRow(2).y + 5);     // a program row
  click(programs, 60, lv->rectOfRow(2).y + 5, 2);  // and a double click on it
  HWND tree = GetDlgItem(dlg, kTree);
  auto* tv = tree->as<Shim_vVexmir_treeview>();
  click(tree, 80, tv->rectOfRow(2).y + 5);  // a folder in the tree
  HWND tabs = GetDlgItem(dlg, kTabs);
  const cocoa::Rect tab2 = tabs->as<cocoa::TabView>()->tabRect(1);
  click(tabs, tab2.x + 4, tab2.y + 4);  // the second tab
  clickMiddle(kName);                   // type a new name
  type(U"Glass Pad \u00e9");

  EXPECT_EQ(IsDlgButtonChecked(dlg, kSync), BST_CHECKED);
  EXPECT_EQ(IsDlgButtonChecked(dlg, kTimbre1), BST_UNCHECKED);
  EXPECT_EQ(IsDlgButtonChecked(dlg, kTimbre2), BST_CHECKED);
  EXPECT_EQ(SHIM_CB_GetCurSel(dlg, kMode), 2);
  EXPECT_EQ(SendMessage(banks, LB_GETCURSEL, 0, 0), 3);
  EXPECT_EQ(ListView_GetNextItem(programs, -1, LVNI_SELECTED), 2);
  char folder[32];
  TVITEM item{};
  item.mask = TVIF_HANDLE | TVIF_TEXT;
  item.hItem = TreeView_GetSelection(tree);
  item.pszText = folder;
  item.cchTextMax = sizeof(folder);
  ASSERT_TRUE(TreeView_GetItem(tree, &item));
  EXPECT_STREQ(folder, "User");
  EXPECT_EQ(TabCtrl_GetCurSel(tabs), 1);
  ASSERT_TRUE(GetDlgItemText(dlg, kName, text, sizeof(text)));
  EXPECT_STREQ(text, "Glass Pad \xC3\xA9");

  // The procedure heard each action in order, with the codes its controls report.
  std::vector<Heard> expect = {
      {WM_COMMAND, kSync, 0},
      {WM_COMMAND, kTimbre2, 0},
      {WM_COMMAND, kMode, 1},
      {WM_COMMAND, kBanks, 1},
      {WM_NOTIFY, kPrograms, LVN_ITEMCHANGED},
      {WM_NOTIFY, kPrograms, NM_CLICK},
      {WM_NOTIFY, kPrograms, NM_DBLCLK},
      {WM_NOTIFY, kPrograms, NM_CLICK},
      {WM_NOTIFY, kTree, NM_CLICK},
      {WM_NOTIFY, kTree, TVN_SELCHANGED},
      {WM_NOTIFY, kTabs, TCN_SELCHANGE},
  };
  for (int i = 0; i < 11; ++i) expect.push_back({WM_COMMAND, kName, EN_CHANGE});
  EXPECT_EQ(g_heard, expect);

  // A multi-line field reports its edit when the editing ends.
  g_heard.clear();
  auto* notes = GetDlgItem(dlg, kNotes)->as<cocoa::View>();
  ASSERT_TRUE(window->makeFirstResponder(notes));
  type(U" → long release");
  EXPECT_TRUE(g_heard.empty());
  window->makeFirstResponder(GetDlgItem(dlg, kName)->as<cocoa::View>());
  EXPECT_EQ(g_heard, (std::vector<Heard>{{WM_COMMAND, kNotes, EN_CHANGE}}));

  // The picture, after the dialog grew: its fill, every control drawn, the owner-drawn button by the procedure.
  SendMessage(GetDlgItem(dlg, kProgress), PBM_DELTAPOS, 16, 0);
  SetWindowPos(window, nullptr, 0, 0, 500, 450, SWP_NOMOVE | SWP_NOZORDER);
  window->displayIfNeeded();
  EXPECT_NE(window->pixelAt(490, 440), 0xFFFFFFu);
  EXPECT_GT(g_drawItems, 0);
  const char* b = std::getenv("VEXMIR_BUILD_DIR");
  const std::string dir = std::string(b ? b : ".") + "/out/wincontrols";
  ASSERT_EQ(std::system(("mkdir -p '" + dir + "'").c_str()), 0);
  EXPECT_TRUE(window->writePNG(dir + "/all-controls-dialog.png"));
  // The swatch's green shows where the procedure drew it.
  const cocoa::Rect sw = GetDlgItem(dlg, kSwatch)->as<cocoa::View>()->frame();
  EXPECT_EQ(window->pixelAt(static_cast<int>(sw.x + 3), static_cast<int>(sw.y + 3)), 0x2E7D32u);
}

}  // namespace
