// The platform control classes of the window layer. The dialog builder makes them; the functions of
// shim-controls.h work on them. A handle (HWND) of a control is the control object itself.
#pragma once

#include <string>
#include <vector>

#include "KIT/shim/shim-controls.h"
#include "KIT/shim/shim-ctl.h"
#include "KIT/shim/shim-gdi.h"
#include "KIT/shim/shim-hwnd.h"
#include "KIT/shim/shim-kb.h"
#include "KIT/shim/shim-misc.h"
#include "KIT/shim/shim-objects.h"
#include "platform/cocoa/controls.h"
#include "platform/cocoa/scrollview.h"
#include "platform/cocoa/tableview.h"
#include "platform/cocoa/textview.h"

// A drawing context for a cell of `view` (the view's own while it draws), and its release.
HDC SHIM_Internal_CellContext(cocoa::View* view);
void SHIM_Internal_ReleaseCellContext(cocoa::View* view, HDC hdc);

// Sends WM_DRAWITEM for an owner-drawn control to the control's parent, with a context for `inView` and the frame
// rounded to whole points.
void SHIM_Internal_SendDrawItem(cocoa::View* inView, cocoa::View* control, UINT type, UINT itemID, ULONG_PTR itemData,
                                cocoa::Rect frame);
// An opaque colour from an integer 0xRRGGBB.
cocoa::RGBAColor SHIM_Internal_ColourOf(int rgb);

// The colours a list or tree view paints its rows with: the text of unselected rows, and custom selection colours
// (entries 0 and 1 the background and text with the focus, 2 and 3 without).
struct SHIM_RowColours {
  bool m_hasFgColor = false;
  cocoa::RGBAColor m_fgColor;
  std::vector<cocoa::RGBAColor> m_selColors;
  bool m_hasSelColors = false;
  // The custom selection background for the control's focus state; false lets the platform paint its own.
  bool selectionBackground(cocoa::View* control, cocoa::RGBAColor* out) const;
  // Gives a cell about to be shown its text colour.
  void applyTextColour(cocoa::View* control, cocoa::Cell* cell, bool selected) const;
};

// Sets the background (`text` false) or the unselected text colour of a list or tree view; null does nothing.
void SHIM_Internal_SetRowColour(cocoa::TableView* table, int colour, bool text);

// ---- List views and list boxes ----

struct SHIM_ListView_Row {
  std::vector<std::string> texts;  // sub-item texts, index = column index
  LPARAM param = 0;
  int image = 0;         // 1-based image (or state-image index), 0 for none
  int sortSelected = 0;  // the selection carried across a sort
};

class Shim_vVexmir_listview : public cocoa::TableView,
                              public cocoa::TableDataSource,
                              public cocoa::TableViewDelegate,
                              public SHIM_MessageReceiver,
                              public SHIM_StyleHolder,
                              public SHIM_NotificationMode,
                              public SHIM_RowColours {
 public:
  Shim_vVexmir_listview();
  SHIM_REPAINT_FLAGGING(cocoa::TableView)

  int getShimStyle() override { return static_cast<int>(style); }
  void setShimStyle(int s) override { style = s; }
  int getShimNotificationMode() override { return m_lbMode; }
  void setShimNotificationMode(int mode) { m_lbMode = mode; }
  bool isOwnerData() const { return !m_lbMode && (style & LVS_OWNERDATA); }
  int itemCount() const { return isOwnerData() ? ownermode_cnt : static_cast<int>(m_items.size()); }

  int getColumnIdx(int position) const;
  int getColumnPos(int index) const;
  // The m_cols index of the column under a point of the control, -1 for none.
  int columnIndexAtPoint(cocoa::Point p) const;
  // Whether this control should extend the selection when a row is selected.
  bool extendsSelection() const;

  int numberOfRowsInTableView(cocoa::TableView*) override;
  std::string tableObjectValue(cocoa::TableView*, cocoa::TableColumn* column, int row) override;
  void highlightSelectionInClipRect(cocoa::Rect clip) override;
  void mouseDown(cocoa::Event* e) override;
  void mouseDragged(cocoa::Event* e) override;
  void mouseUp(cocoa::Event* e) override;
  void rightMouseUp(cocoa::Event* e) override;
  // What the owner makes of the user's selection changes, column clicks, double clicks and cell colours.
  void tableViewSelectionDidChange(cocoa::TableView*) override;
  void tableWillDisplayCell(cocoa::TableView*, cocoa::Cell* cell, cocoa::TableColumn*, int row) override;
  void tableDidClickColumn(cocoa::TableView*, cocoa::TableColumn* column) override;
  void doubleClicked() override;
  LRESULT onShimMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;
  void onShimCommand() {}

  int m_leftmousemovecnt = 0;
  bool m_fakerightmouse = false;
  long style = 0;
  int ownermode_cnt = 0;
  int m_start_item = -1, m_start_subitem = -1;
  int m_start_item_clickmode = 0;
  int m_lbMode = 0;
  std::vector<SHIM_ListView_Row*> m_items;
  std::vector<cocoa::TableColumn*> m_cols;
  HIMAGELIST m_status_imagelist = nullptr;
  int m_status_imagelist_type = -1;
  int m_fastClickMask = 0;

 protected:
  ~Shim_vVexmir_listview() override;

 private:
  void sendClick(int code, int item, int subitem, cocoa::Point p, LPARAM param);
};

// The text cell of every list view and tree view column: no highlight of its own when the control paints its own
// selection colours.
class Shim_vVexmir_listviewcell : public cocoa::TextFieldCell {
 public:
  bool highlightColor(cocoa::RGBAColor* out) override;
};

// The first column's cell when an image list is set: the image in a square at the left, the text beside it.
class Shim_vVexmir_statuscell : public Shim_vVexmir_listviewcell {
 public:
  void setStatusImage(cocoa::Image* image);  // retained
  cocoa::Image* statusImage() const { return status; }
  void drawWithFrame(cocoa::Rect frame, cocoa::View* inView) override;

 protected:
  ~Shim_vVexmir_statuscell() override;

 private:
  cocoa::Image* status = nullptr;
};

// The cell of an owner-drawn list box: the owner window draws each row on WM_DRAWITEM.
class Shim_vVexmir_ODlistviewcell : public cocoa::Cell {
 public:
  void setOwnerControl(Shim_vVexmir_listview* owner) {
    m_ownctl = owner;
    m_lastidx = 0;
  }
  void setItemIdx(int row) { m_lastidx = row; }
  void drawInteriorWithFrame(cocoa::Rect frame, cocoa::View* inView) override;

 private:
  Shim_vVexmir_listview* m_ownctl = nullptr;
  int m_lastidx = 0;
};

// ---- Tree views ----

struct HTREEITEM__ {
  HTREEITEM__();
  ~HTREEITEM__();
  HTREEITEM__(const HTREEITEM__&) = delete;
  HTREEITEM__& operator=(const HTREEITEM__&) = delete;
  // Finds `item` in this item's subtree: its parent and its index in the parent's children.
  bool FindItem(HTREEITEM item, HTREEITEM__** parOut, int* idxOut);

  Shim_vVexmir_sdh* m_dh;  // what the outline view shows for this item
  bool m_haschildren = false;
  char* m_value = nullptr;
  std::vector<HTREEITEM__*> m_children;  // owned
  LPARAM m_param = 0;
};

class Shim_vVexmir_treeview : public cocoa::OutlineView,
                              public cocoa::OutlineDataSource,
                              public cocoa::TableViewDelegate,
                              public SHIM_StyleHolder,
                              public SHIM_RowColours {
 public:
  Shim_vVexmir_treeview();
  SHIM_REPAINT_FLAGGING(cocoa::OutlineView)

  int getShimStyle() override { return static_cast<int>(style); }
  void setShimStyle(int s) override { style = s; }
  // Finds an item of this tree: its parent (null for a root item) and index there.
  bool findItem(HTREEITEM item, HTREEITEM__** parOut, int* idxOut);

  int outlineNumberOfChildren(cocoa::OutlineView*, cocoa::Object* item) override;
  bool outlineIsItemExpandable(cocoa::OutlineView*, cocoa::Object* item) override;
  cocoa::Object* outlineChild(cocoa::OutlineView*, int index, cocoa::Object* item) override;
  std::string outlineObjectValue(cocoa::OutlineView*, cocoa::TableColumn* column, cocoa::Object* item) override;
  void mouseDown(cocoa::Event* e) override;
  void mouseDragged(cocoa::Event*) override {}
  void mouseUp(cocoa::Event* e) override;
  void rightMouseUp(cocoa::Event* e) override;
  void highlightSelectionInClipRect(cocoa::Rect clip) override;
  void tableViewSelectionDidChange(cocoa::TableView*) override;
  void tableWillDisplayCell(cocoa::TableView*, cocoa::Cell* cell, cocoa::TableColumn*, int row) override;
  void doubleClicked() override;

  bool m_fakerightmouse = false;
  long style = 0;
  std::vector<HTREEITEM__*> m_items;  // root items, owned

 protected:
  ~Shim_vVexmir_treeview() override;
};

// The item that an outline row shows, null for none.
HTREEITEM__* SHIM_TreeItemOf(cocoa::Object* holder);

// ---- Small controls ----

class Shim_vVexmir_tabview : public cocoa::TabView, public cocoa::TabViewDelegate {
 public:
  explicit Shim_vVexmir_tabview(cocoa::Rect frame = cocoa::Rect{}) : cocoa::TabView(frame) {
    SHIM_Internal_InstallControlHooks();
  }
  SHIM_REPAINT_FLAGGING(cocoa::TabView)
  void setNotificationWindow(HWND dest) { m_dest = dest; }
  HWND getNotificationWindow() const { return m_dest; }
  int tag() const override { return m_tag; }
  bool setTag(int t) override {
    m_tag = t;
    return true;
  }
  void tabViewDidSelectTabViewItem(cocoa::TabView* tabView, cocoa::TabViewItem* item) override;

  int m_tag = 0;
  HWND m_dest = nullptr;  // not retained
};

class Shim_vVexmir_progind : public cocoa::ProgressIndicator, public SHIM_MessageReceiver {
 public:
  explicit Shim_vVexmir_progind(cocoa::Rect frame = cocoa::Rect{}) : cocoa::ProgressIndicator(frame) {
    SHIM_Internal_InstallControlHooks();
  }
  SHIM_REPAINT_FLAGGING(cocoa::ProgressIndicator)
  int tag() const override { return m_tag; }
  bool setTag(int t) override {
    m_tag = t;
    return true;
  }
  LRESULT onShimMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;
  int m_tag = 0;
};

// An owner-drawn button's cell: the owner window draws the button on WM_DRAWITEM.
class Shim_vVexmir_ODbuttoncell : public cocoa::Cell {
 public:
  bool isTransparent() const { return true; }
  bool isOpaque() const { return false; }
  void drawWithFrame(cocoa::Rect frame, cocoa::View* inView) override;
};

class Shim_vVexmir_textview : public cocoa::TextView, public cocoa::TextViewDelegate, public SHIM_MessageReceiver {
 public:
  explicit Shim_vVexmir_textview(cocoa::Rect frame = cocoa::Rect{}) : cocoa::TextView(frame) {
    SHIM_Internal_InstallControlHooks();
  }
  SHIM_REPAINT_FLAGGING(cocoa::TextView)
  int tag() const override { return m_tag; }
  bool setTag(int t) override {
    m_tag = t;
    return true;
  }
  LRESULT onShimMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;
  // The owner hears of the edit when it ends: WM_COMMAND with EN_CHANGE.
  void textDidEndEditing(cocoa::TextView*) override;
  // The window whose procedure hears of edits (not retained).
  HWND m_owner = nullptr;
  int m_tag = 0;
};

// The builder of the control family's classes ("SysTabControl32", "SysListView32", "SysListView32_LB",
// "SysTreeView32", "msctls_progress32") and of edit fields with scroll bars; null for any other class.
HWND SHIM_Internal_MakeFamilyControl(const char* text, int id, const char* classname, int style, int x, int y, int w,
                                     int h, int exstyle);
