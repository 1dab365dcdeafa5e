// The dialog builder's part for the control family: tab controls, list views and list boxes, tree views, progress
// bars and edit fields with scroll bars, each placed with the builder's transform in the builder's owner view.
#include <strings.h>
#include <algorithm>
#include <cmath>

#include "KIT/shim/shim-ctlclasses.h"
#include "KIT/shim/shim-dlggen.h"

namespace {

cocoa::Rect transformed(int x, int y, int w, int h) {
  double r[4];
  SHIM_Internal_MakeCoords(x, y, w, h, false, false, r);
  return cocoa::Rect{r[0], r[1], r[2], r[3]};
}

cocoa::View* ownerView() {
  HWND o = SHIM_Internal_BuilderOwner();
  return o ? o->as<cocoa::View>() : nullptr;
}

HWND place(cocoa::View* v, int style) {
  if (style < 0) v->setHidden(true);
  ownerView()->addSubview(v);
  v->release();
  return v;
}

// A scroll view at the frame holding `doc`; added to the owner.
cocoa::ScrollView* scrollFor(cocoa::View* doc, cocoa::Rect frame, bool horizontal, int style) {
  auto* sv = new cocoa::ScrollView(frame);
  sv->hasVerticalScroller = true;
  sv->hasHorizontalScroller = horizontal;
  sv->autohidesScrollers = true;
  sv->drawsBackground = false;
  place(sv, style);
  sv->setDocumentView(doc);
  doc->release();
  return sv;
}

void setOwnerActions(cocoa::Control* c) {
  HWND owner = SHIM_Internal_BuilderOwner();
  c->target = owner;
  c->action = "onShimCommand:";
  c->doubleAction = owner && owner->as<Shim_vVexmir_hwnd>() ? "shimOnControlDoubleClick:" : "onShimCommand:";
}

HWND makeList(int id, int style, int x, int y, int w, int h, bool listBox) {
  auto* lv = new Shim_vVexmir_listview;
  lv->setShimStyle(style);
  lv->setShimNotificationMode(listBox ? 1 : 0);
  lv->focusRing = false;
  lv->columnAutoresizingStyle = 0;
  if (listBox) {
    lv->headerHeight = 0;
    lv->allowsMultipleSelection = (style & LBS_EXTENDEDSEL) != 0;
  } else {
    if (!(style & LVS_REPORT) || (style & LVS_NOCOLUMNHEADER)) lv->headerHeight = 0;
    lv->allowsMultipleSelection = !(style & LVS_SINGLESEL);
  }
  lv->allowsColumnReordering = false;
  lv->allowsEmptySelection = true;
  lv->setTag(id);
  lv->setDelegate(lv);
  setOwnerActions(lv);
  const cocoa::Rect frame = transformed(x, y, w, h);
  scrollFor(lv, frame, !listBox, style);
  if (listBox || !(style & LVS_REPORT)) {
    LVCOLUMN c{};
    c.pszText = const_cast<char*>("");
    c.cx = platform::intCoord(std::ceil(std::max(300.0, frame.w)));
    ListView_InsertColumn(lv, 0, &c);
    if (listBox && (style & LBS_OWNERDRAWFIXED)) {
      auto* cell = new Shim_vVexmir_ODlistviewcell;
      cell->setOwnerControl(lv);
      lv->m_cols[0]->setDataCell(cell);
      cell->release();
    }
  }
  return lv;
}

HWND makeTree(int id, int style, int x, int y, int w, int h) {
  auto* tv = new Shim_vVexmir_treeview;
  tv->focusRing = false;
  tv->setShimStyle(style);
  tv->headerHeight = 0;
  tv->setDelegate(tv);
  tv->allowsColumnReordering = false;
  tv->allowsMultipleSelection = false;
  tv->allowsEmptySelection = true;
  tv->setTag(id);
  setOwnerActions(tv);
  const cocoa::Rect frame = transformed(x, y, w, h);
  scrollFor(tv, frame, false, style);
  auto* column = new cocoa::TableColumn;
  auto* cell = new Shim_vVexmir_listviewcell;
  column->setDataCell(cell);
  cell->release();
  column->editable = false;
  column->setWidth(std::ceil(std::max(300.0, frame.w)));
  tv->addTableColumn(column);
  tv->setOutlineTableColumn(column);
  column->release();
  tv->reloadData();
  return tv;
}

HWND makeScrolledEdit(int id, int style, int x, int y, int w, int h) {
  auto* tv = new Shim_vVexmir_textview;
  tv->editable = !(style & ES_READONLY);
  if (const double size = SHIM_Internal_BuilderFontSize()) tv->fontSize = size;
  tv->setTag(id);
  tv->m_owner = SHIM_Internal_BuilderOwner();
  tv->setDelegate(tv);
  tv->horizontallyResizable = false;
  double r[4];
  SHIM_Internal_MakeCoords(x, y, w, h, true, false, r);
  const cocoa::Rect frame{r[0], r[1], r[2], r[3]};
  if (!(style & WS_VSCROLL)) {
    tv->verticallyResizable = false;
    tv->setFrame(frame);
    HWND out = place(tv, style);
    SHIM_Internal_BuilderPlaced(tv);
    return out;
  }
  tv->verticallyResizable = true;
  cocoa::ScrollView* sv = scrollFor(tv, frame, (style & WS_HSCROLL) != 0, style);
  SHIM_Internal_BuilderPlaced(sv);
  const cocoa::Rect content = sv->contentSize();
  tv->setFrame(cocoa::Rect{0, 0, content.w, content.h});
  sv->tile();
  return sv;
}

}  // namespace

HWND SHIM_Internal_MakeFamilyControl(const char*, int id, const char* classname, int style, int x, int y, int w, int h,
                                     int) {
  // The owner view keeps each control's only reference: without one nothing is made.
  if (!classname || !ownerView()) return nullptr;
  if (!strcasecmp(classname, "SysTabControl32")) {
    auto* t = new Shim_vVexmir_tabview(transformed(x, y - 1, w, h + 6));
    t->setTag(id);
    t->setDelegate(t);
    t->allowsTruncatedLabels = true;
    t->setNotificationWindow(SHIM_Internal_BuilderOwner());
    return place(t, style);
  }
  if (!strcasecmp(classname, "SysListView32")) return makeList(id, style, x, y, w, h, false);
  if (!strcasecmp(classname, "SysListView32_LB")) return makeList(id, style, x, y, w, h, true);
  if (!strcasecmp(classname, "SysTreeView32")) return makeTree(id, style, x, y, w, h);
  if (!strcasecmp(classname, "msctls_progress32")) {
    auto* p = new Shim_vVexmir_progind(transformed(x, y, w, h));
    p->style = 0;
    p->indeterminate = false;
    p->setTag(id);
    return place(p, style);
  }
  if (!strcasecmp(classname, "Edit")) return makeScrolledEdit(id, style, x, y, w, h);
  return nullptr;
}
