// The list view control and list box: rows of sub-item texts held by the control (or counted only, with the owner
// supplying each cell), selection with the notifications the owner expects, the mouse rules for clicks, drags and
// right clicks, and the list-box messages.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "KIT/shim/shim-ctlclasses.h"
#include "KIT/shim/shim-kb.h"
#include "platform/cocoa/image.h"

namespace {

// `_is_doing_all` and `__rent` of the item-state call: an all-items call sends nothing, and a handler of
// LVN_ITEMCHANGED that changes the state again gets no nested notification.
int g_isDoingAll = 0;
bool g_stateRent = false;

int floorInt(double v) {
  return platform::intCoord(std::floor(v));
}

const std::string& rowText(const SHIM_ListView_Row* row, int column) {
  static const std::string empty;
  if (!row || column < 0 || column >= static_cast<int>(row->texts.size())) return empty;
  return row->texts[static_cast<size_t>(column)];
}

// Byte-wise comparison, as the sorted styles order their rows.
int compareBytes(const std::string& a, const std::string& b) {
  const int c = std::memcmp(a.data(), b.data(), std::min(a.size(), b.size()));
  if (c != 0) return c;
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

// The sorted position of `text` among `n` rows whose first texts `at` gives, in ascending (`sign` 1) or descending
// (-1) order: a binary search that lands on an equal text or between its neighbours.
template <class At>
int sortedPosition(int n, const std::string& text, int sign, At at) {
  int low = 0, span = n;
  while (span > 0) {
    const int probe = low + span / 2;
    const int c = sign * compareBytes(text, at(probe));
    if (c == 0) return probe;
    if (c < 0) {
      span /= 2;
      continue;
    }
    low = probe + 1;
    if (low >= n) return n;
    if (sign * compareBytes(text, at(low)) <= 0) return low;
    span = (span - 1) / 2;
  }
  return 0;
}

cocoa::Point pointIn(cocoa::View* v, cocoa::Event* e) {
  return v->convertFromWindow(e->locationInWindow);
}

// The cursor in the window's client coordinates, packed y << 16 | x.
LPARAM cursorInClient(HWND target) {
  POINT p{0, 0};
  GetCursorPos(&p);
  ScreenToClient(target, &p);
  return SHIM_PointParam(p.x, p.y);
}

LPARAM cursorOnScreen() {
  POINT p{0, 0};
  GetCursorPos(&p);
  return SHIM_PointParam(p.x, p.y);
}

}  // namespace

// A list notification record from the control with that code, every other field 0.
static NMLISTVIEW listRecord(Shim_vVexmir_listview* lv, int code) {
  NMLISTVIEW nm{};
  nm.hdr.hwndFrom = lv;
  nm.hdr.idFrom = static_cast<UINT_PTR>(lv->tag());
  nm.hdr.code = code;
  return nm;
}

Shim_vVexmir_listview* SHIM_ListViewOf(HWND h) {
  return h ? h->as<Shim_vVexmir_listview>() : nullptr;
}

// ---- The control ----

Shim_vVexmir_listview::Shim_vVexmir_listview() : cocoa::TableView(cocoa::Rect{}) {
  setDelegate(this);
  SHIM_Internal_InstallControlHooks();
  setDataSource(this);
}

Shim_vVexmir_listview::~Shim_vVexmir_listview() {
  for (SHIM_ListView_Row* r : m_items) delete r;
}

bool Shim_vVexmir_listview::extendsSelection() const {
  if (m_lbMode) return (style & LBS_EXTENDEDSEL) != 0;
  return (style & LVS_SINGLESEL) == 0;
}

int Shim_vVexmir_listview::getColumnIdx(int position) const {
  if (position < 0 || position >= numberOfColumns()) return position;
  auto it = std::find(m_cols.begin(), m_cols.end(), tableColumns()[static_cast<size_t>(position)]);
  return it == m_cols.end() ? -1 : static_cast<int>(it - m_cols.begin());
}

int Shim_vVexmir_listview::getColumnPos(int index) const {
  if (index < 0 || index >= static_cast<int>(m_cols.size())) return index;
  const int pos = indexOfColumn(m_cols[static_cast<size_t>(index)]);
  return pos < 0 ? index : pos;
}

int Shim_vVexmir_listview::columnIndexAtPoint(cocoa::Point p) const {
  const int pos = columnAtPoint(p);
  return pos < 0 ? -1 : getColumnIdx(pos);
}

int Shim_vVexmir_listview::numberOfRowsInTableView(cocoa::TableView*) {
  return itemCount();
}

std::string Shim_vVexmir_listview::tableObjectValue(cocoa::TableView*, cocoa::TableColumn* column, int row) {
  auto it = std::find(m_cols.begin(), m_cols.end(), column);
  const int index = it == m_cols.end() ? -1 : static_cast<int>(it - m_cols.begin());
  std::string text;
  int image = 0;
  if (isOwnerData()) {
    char buffer[1024] = {};
    NMLVDISPINFO di{};
    di.hdr.hwndFrom = this;
    di.hdr.idFrom = static_cast<UINT_PTR>(tag());
    di.hdr.code = LVN_GETDISPINFO;
    di.item.mask =
        LVIF_TEXT | (m_status_imagelist_type == 2 ? LVIF_IMAGE : 0) | (m_status_imagelist_type == 1 ? LVIF_STATE : 0);
    di.item.iItem = row;
    di.item.iSubItem = index;
    di.item.pszText = buffer;
    di.item.cchTextMax = 1023;
    di.item.iImage = -1;
    SHIM_Internal_Send(target, WM_NOTIFY, static_cast<WPARAM>(tag()), reinterpret_cast<LPARAM>(&di));
    // The owner may have pointed pszText at a text of its own.
    if (di.item.pszText) text.assign(di.item.pszText, strnlen(di.item.pszText, 1023));
    if (m_status_imagelist_type == 2) image = di.item.iImage + 1;
    if (m_status_imagelist_type == 1) image = static_cast<int>((di.item.state >> 16) & 0xFF);
  } else {
    const SHIM_ListView_Row* r =
        row >= 0 && row < static_cast<int>(m_items.size()) ? m_items[static_cast<size_t>(row)] : nullptr;
    text = rowText(r, index);
    if (r && (m_status_imagelist_type == 1 || m_status_imagelist_type == 2)) image = r->image;
    if ((style & LBS_OWNERDRAWFIXED) && m_lbMode) {
      if (auto* od = column->dataCell()->as<Shim_vVexmir_ODlistviewcell>()) od->setItemIdx(row);
    }
  }
  if (!m_lbMode && m_status_imagelist) {
    if (auto* sc = column->dataCell()->as<Shim_vVexmir_statuscell>()) {
      HGDIOBJ icon = image > 0 ? ImageList_GetImage(m_status_imagelist, image - 1) : nullptr;
      cocoa::Image* picture = icon ? SHIM_Internal_ImageOfBitmap(icon) : nullptr;
      sc->setStatusImage(picture);
      cocoa::releaseObject(picture);
    }
  }
  return text;
}

void Shim_vVexmir_listview::highlightSelectionInClipRect(cocoa::Rect clip) {
  cocoa::RGBAColor colour;
  if (!selectionBackground(this, &colour)) {
    cocoa::TableView::highlightSelectionInClipRect(clip);
    return;
  }
  const double h = rowHeight + intercellSpacing.y;
  for (int row = std::max(0, platform::intCoord(clip.y / h)); row < numberOfRows(); ++row) {
    const cocoa::Rect r = rectOfRow(row);
    if (r.y >= clip.y + clip.h) break;
    if (!isRowSelected(row)) continue;
    const cocoa::Rect cut = r.intersected(clip);
    if (!cut.isEmpty()) cocoa::fillViewRect(this, cut, colour);
  }
}

void Shim_vVexmir_listview::sendClick(int code, int item, int subitem, cocoa::Point p, LPARAM param) {
  NMLISTVIEW nm = listRecord(this, code);
  nm.iItem = item;
  nm.iSubItem = subitem;
  nm.ptAction = POINT{floorInt(p.x), floorInt(p.y)};
  nm.lParam = param;
  SHIM_Internal_Send(target, WM_NOTIFY, static_cast<WPARAM>(tag()), reinterpret_cast<LPARAM>(&nm));
}

static LPARAM paramOfRow(Shim_vVexmir_listview* lv, int row) {
  return row >= 0 && row < static_cast<int>(lv->m_items.size()) ? lv->m_items[static_cast<size_t>(row)]->param : 0;
}

void Shim_vVexmir_listview::mouseDown(cocoa::Event* e) {
  if ((e->modifierFlags & cocoa::kControlKeyMask) && IsRightClickEmulateEnabled()) {
    m_fakerightmouse = true;
    m_start_item = m_start_subitem = -1;
    return;
  }
  m_leftmousemovecnt = 0;
  m_fakerightmouse = false;
  const cocoa::Point p = pointIn(this, e);
  m_start_item = rowAtPoint(p);
  m_start_subitem = columnIndexAtPoint(p);
  m_start_item_clickmode = 0;
  if (m_start_item < 0) return;
  if (m_start_subitem >= 0 && (static_cast<unsigned>(m_fastClickMask) >> (m_start_subitem & 31)) & 1) {
    sendClick(NM_CLICK, m_start_item, m_start_subitem, p, paramOfRow(this, m_start_item));
    m_start_item_clickmode = 4;
  } else if (m_status_imagelist && m_status_imagelist_type == 1 && p.x <= rowHeight) {
    m_start_item_clickmode = 1;
  }
}

void Shim_vVexmir_listview::mouseDragged(cocoa::Event*) {
  ++m_leftmousemovecnt;
  if (m_leftmousemovecnt == 4) {
    if (m_start_item >= 0 && !(m_start_item_clickmode & 3) && !m_lbMode) {
      if (!(m_start_item_clickmode & 4) && !isRowSelected(m_start_item)) {
        selectRowIndexes({m_start_item}, (GetAsyncKeyState(VK_CONTROL) & 0x8000) != 0);
      }
      NMLISTVIEW nm = listRecord(this, LVN_BEGINDRAG);
      nm.iItem = m_start_item;
      nm.iSubItem = m_start_subitem;
      SHIM_Internal_Send(target, WM_NOTIFY, static_cast<WPARAM>(tag()), reinterpret_cast<LPARAM>(&nm));
      m_start_item_clickmode |= 2;
    }
  } else if (m_leftmousemovecnt > 4 && !(m_start_item_clickmode & 1)) {
    SHIM_Internal_Send(target, WM_MOUSEMOVE, 0, cursorInClient(target));
  }
}

void Shim_vVexmir_listview::mouseUp(cocoa::Event* e) {
  if (m_fakerightmouse || (e->modifierFlags & cocoa::kControlKeyMask)) {
    rightMouseUp(e);
  } else if (!(m_start_item_clickmode & 1)) {
    if (!(m_start_item_clickmode & 4) && m_leftmousemovecnt <= 3) {
      if (m_lbMode && !allowsMultipleSelection) deselectAll();
      cocoa::TableView::mouseDown(e);
      cocoa::TableView::mouseUp(e);
    } else if (m_leftmousemovecnt > 3) {
      SHIM_Internal_Send(target, WM_LBUTTONUP, 0, cursorInClient(target));
    }
  }
  if (!m_lbMode && !(m_start_item_clickmode & 6)) {
    const cocoa::Point p = pointIn(this, e);
    const int row = rowAtPoint(p);
    sendClick(NM_CLICK, row, columnIndexAtPoint(p), p, paramOfRow(this, row));
  }
}

void Shim_vVexmir_listview::rightMouseUp(cocoa::Event* e) {
  retain();
  bool handled = false;
  if (!m_lbMode) {
    const cocoa::Point p = pointIn(this, e);
    const int row = rowAtPoint(p);
    if (row >= 0 && !isRowSelected(row)) selectRowIndexes({row}, false);
    NMLISTVIEW nm = listRecord(this, NM_RCLICK);
    nm.iItem = row;
    nm.iSubItem = columnIndexAtPoint(p);
    nm.ptAction = POINT{floorInt(p.x), floorInt(p.y)};
    handled = SHIM_Internal_Send(target, WM_NOTIFY, static_cast<WPARAM>(tag()), reinterpret_cast<LPARAM>(&nm)) != 0;
  }
  if (!handled) SHIM_Internal_Send(target, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(this), cursorOnScreen());
  m_fakerightmouse = false;
  release();
}

static int insertText(Shim_vVexmir_listview* lv, int position, const char* text) {
  LVITEM item{};
  item.mask = LVIF_TEXT;
  item.iItem = position;
  item.pszText = const_cast<char*>(text ? text : "");
  return ListView_InsertItem(lv, &item);
}

LRESULT Shim_vVexmir_listview::onShimMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  const int count = itemCount();
  switch (msg) {
    case LB_ADDSTRING: {
      const char* text = lParam ? reinterpret_cast<const char*>(lParam) : "";
      int position = count;
      if (m_lbMode && (style & LBS_SORT)) {
        position =
            sortedPosition(count, text, 1, [this](int i) { return rowText(m_items[static_cast<size_t>(i)], 0); });
      }
      return insertText(this, position, text);
    }
    case LB_INSERTSTRING: {
      int position = static_cast<int>(wParam);
      if (position < 0 || position > count) position = count;
      return insertText(this, position, reinterpret_cast<const char*>(lParam));
    }
    case LB_DELETESTRING:
      ListView_DeleteItem(this, static_cast<int>(wParam));
      return 0;
    case LB_GETTEXTLEN:
      return SHIM_ListView_GetItemTextLength(this, static_cast<int>(wParam), 0);
    case LB_GETTEXT: {
      // The caller's buffer is taken as 4096 bytes, or as the text and its terminator when that is less (as
      // LB_GETTEXTLEN told it).
      const int length = SHIM_ListView_GetItemTextLength(this, static_cast<int>(wParam), 0);
      if (!lParam || length < 0) return 0;
      ListView_GetItemText(this, static_cast<int>(wParam), 0, reinterpret_cast<char*>(lParam),
                           std::min(length + 1, 4096));
      return 0;
    }
    case LB_RESETCONTENT:
      ListView_DeleteAllItems(this);
      return 0;
    case LB_SETSEL:
      ListView_SetItemState(this, static_cast<int>(lParam), wParam != 0 ? LVIS_SELECTED : 0, LVIS_SELECTED);
      return 0;
    case LB_SETCURSEL: {
      const int index = static_cast<int>(wParam);
      if (index >= 0 && index < count) {
        selectRowIndexes({index}, false);
      } else {
        deselectAll();
      }
      return 0;
    }
    case LB_GETSEL: {
      const int index = static_cast<int>(wParam);
      return index >= 0 && index < count && isRowSelected(index) ? 1 : 0;
    }
    case LB_GETCURSEL:
      return selectedRow();
    case LB_GETCOUNT:
      return count;
    case LB_GETSELCOUNT:
      return numberOfSelectedRows();
    case LB_GETITEMDATA:
      return paramOfRow(this, static_cast<int>(wParam));
    case LB_SETITEMDATA: {
      const int index = static_cast<int>(wParam);
      if (index >= 0 && index < static_cast<int>(m_items.size())) m_items[static_cast<size_t>(index)]->param = lParam;
      return 0;
    }
    default:
      return 0;
  }
}

// ---- Cells ----

static bool hasCustomSelectionColours(cocoa::View* v) {
  auto* colours = v ? dynamic_cast<SHIM_RowColours*>(v) : nullptr;
  return colours && colours->m_hasSelColors;
}

bool Shim_vVexmir_listviewcell::highlightColor(cocoa::RGBAColor* out) {
  if (hasCustomSelectionColours(controlView())) return false;
  return cocoa::TextFieldCell::highlightColor(out);
}

Shim_vVexmir_statuscell::~Shim_vVexmir_statuscell() {
  cocoa::releaseObject(status);
}

void Shim_vVexmir_statuscell::setStatusImage(cocoa::Image* image) {
  if (image) image->retain();
  cocoa::releaseObject(status);
  status = image;
}

void Shim_vVexmir_statuscell::drawWithFrame(cocoa::Rect frame, cocoa::View* inView) {
  if (status) cocoa::drawImageInRect(status, cocoa::Rect{frame.x, frame.y, frame.h, frame.h});
  cocoa::TextFieldCell::drawInteriorWithFrame(
      cocoa::Rect{frame.x + frame.h + 2, frame.y, frame.w - frame.h - 2, frame.h}, inView);
}

void Shim_vVexmir_ODlistviewcell::drawInteriorWithFrame(cocoa::Rect frame, cocoa::View* inView) {
  if (!m_ownctl) {
    cocoa::Cell::drawInteriorWithFrame(frame, inView);
    return;
  }
  SHIM_Internal_SendDrawItem(inView, m_ownctl, ODT_LISTBOX, static_cast<UINT>(m_lastidx),
                             static_cast<ULONG_PTR>(paramOfRow(m_ownctl, m_lastidx)), frame);
}

// ---- Rows and states ----

int ListView_GetItemCount(HWND h) {
  Shim_vVexmir_listview* lv = SHIM_ListViewOf(h);
  return lv ? lv->itemCount() : 0;
}

int ListView_InsertItem(HWND h, const LVITEM* item) {
  Shim_vVexmir_listview* lv = SHIM_ListViewOf(h);
  if (!lv || !item || item->iSubItem != 0) return 0;
  if (lv->isOwnerData()) return -1;
  const int n = static_cast<int>(lv->m_items.size());
  int position = item->iItem < 0 ? 0 : std::min(item->iItem, n);
  // A null text is an empty text.
  const char* text = (item->mask & LVIF_TEXT) && item->pszText ? item->pszText : "";
  if (!lv->m_lbMode && (item->mask & LVIF_TEXT) && (lv->style & (LVS_SORTASCENDING | LVS_SORTDESCENDING))) {
    const int sign = (lv->style & LVS_SORTASCENDING) ? 1 : -1;
    position = sortedPosition(n, text, sign, [lv](int i) { return rowText(lv->m_items[static_cast<size_t>(i)], 0); });
  }
  auto* row = new SHIM_ListView_Row;
  row->texts.emplace_back(text);
  if (item->mask & LVIF_PARAM) row->param = item->lParam;
  if ((item->mask & LVIF_STATE) && (item->stateMask & LVIS_STATEIMAGEMASK)) {
    row->image = static_cast<int>((item->state >> 16) & 0xFF);
  }
  lv->m_items.insert(lv->m_items.begin() + position, row);
  std::set<int> selection;
  int last = lv->selectedRow();
  for (int r : lv->selectedRowIndexes()) selection.insert(r >= position ? r + 1 : r);
  if (last >= position) ++last;
  lv->reloadData();
  lv->setSelection(selection, last);
  if ((item->mask & LVIF_STATE) && (item->stateMask & LVIS_SELECTED) && (item->state & LVIS_SELECTED)) {
    lv->selectRowIndexes({position}, lv->extendsSelection());
  }
  return position;
}

bool ListView_SetItemState(HWND h, int item, UINT state, UINT mask) {
  Shim_vVexmir_listview* lv = SHIM_ListViewOf(h);
  if (!lv) return false;
  if (item == -1) {
    ++g_isDoingAll;
    const int n = lv->itemCount();
    for (int i = 0; i < n; ++i) ListView_SetItemState(lv, i, state, mask);
    --g_isDoingAll;
    lv->reloadData();
    return true;
  }
  if (item < 0 || item >= lv->itemCount()) return false;
  bool imageChanged = false;
  if (!lv->isOwnerData() && (mask & LVIS_STATEIMAGEMASK)) {
    SHIM_ListView_Row* row = lv->m_items[static_cast<size_t>(item)];
    const int image = static_cast<int>((state >> 16) & 0xFF);
    imageChanged = row->image != image;
    row->image = image;
  }
  bool selectionChanged = false;
  if (mask & LVIS_SELECTED) {
    if (state & LVIS_SELECTED) {
      if (!lv->isRowSelected(item)) {
        lv->selectRowIndexes({item}, lv->extendsSelection());
        selectionChanged = true;
      }
    } else if (lv->isRowSelected(item)) {
      lv->deselectRow(item);
      selectionChanged = true;
    }
  }
  if (!g_isDoingAll) {
    if (selectionChanged && !g_stateRent) {
      g_stateRent = true;
      NMLISTVIEW nm = listRecord(lv, LVN_ITEMCHANGED);
      nm.iItem = item;
      nm.uNewState = state;
      lv->retain();
      SHIM_Internal_Send(GetParent(lv), WM_NOTIFY, static_cast<WPARAM>(lv->tag()), reinterpret_cast<LPARAM>(&nm));
      g_stateRent = false;
      lv->release();
    }
    if (imageChanged) lv->reloadData();
  }
  return true;
}

UINT ListView_GetItemState(HWND h, int item, UINT mask) {
  Shim_vVexmir_listview* lv = SHIM_ListViewOf(h);
  if (!lv || item < 0 || item >= lv->itemCount()) return 0;
  UINT state = 0;
  if ((mask & LVIS_STATEIMAGEMASK) && !lv->isOwnerData()) {
    state |= (static_cast<UINT>(lv->m_items[static_cast<size_t>(item)]->image) & 0xFF) << 16;
  }
  if ((mask & LVIS_SELECTED) && lv->isRowSelected(item)) state |= LVIS_SELECTED;
  if ((mask & LVIS_FOCUSED) && lv->selectedRow() == item) state |= LVIS_FOCUSED;
  return state;
}

bool ListView_GetItemText(HWND h, int item, int subitem, char* buffer, int size) {
  LVITEM it{};
  it.mask = LVIF_TEXT;
  it.iItem = item;
  it.iSubItem = subitem;
  it.pszText = buffer;
  it.cchTextMax = size;
  return ListView_GetItem(h, &it);
}

int SHIM_ListView_GetItemTextLength(HWND h, int item, int subitem) {
  Shim_vVexmir_listview* lv = SHIM_ListViewOf(h);
  if (!lv || item < 0 || item >= lv->itemCount()) return -1;
  if (lv->isOwnerData()) return 0;
  return static_cast<int>(rowText(lv->m_items[static_cast<size_t>(item)], subitem).size());
}

void ListView_DeleteItem(HWND h, int item) {
  Shim_vVexmir_listview* lv = SHIM_ListViewOf(h);
  if (!lv || item < 0 || item >= static_cast<int>(lv->m_items.size())) return;
  std::set<int> selection;
  int last = lv->selectedRow();
  for (int r : lv->selectedRowIndexes()) {
    if (r != item) selection.insert(r > item ? r - 1 : r);
  }
  last = last == item ? -1 : (last > item ? last - 1 : last);
  delete lv->m_items[static_cast<size_t>(item)];
  lv->m_items.erase(lv->m_items.begin() + item);
  lv->setSelection(selection, last);
  lv->reloadData();
}

void ListView_SetBkColor(HWND h, int colour) {
  SHIM_Internal_SetRowColour(SHIM_ListViewOf(h), colour, false);
}

void ListView_SetGridColor(HWND h, int colour) {
  if (auto* lv = SHIM_ListViewOf(h)) {
    lv->gridColor = SHIM_Internal_ColourOf(colour);
    lv->setNeedsDisplay(true);
  }
}

void ListView_SetTextColor(HWND h, int colour) {
  SHIM_Internal_SetRowColour(SHIM_ListViewOf(h), colour, true);
}

void ListView_SetTextBkColor(HWND, int) {}

void ListView_SetSelColors(HWND h, const int* colours, int count) {
  std::vector<cocoa::RGBAColor> list;
  for (int i = 0; i < count; ++i)
    list.push_back(colours ? SHIM_Internal_ColourOf(colours[i]) : cocoa::RGBAColor{0, 0, 0, 1});
  auto* table = h ? h->as<cocoa::TableView>() : nullptr;
  if (auto* colours = table ? dynamic_cast<SHIM_RowColours*>(table) : nullptr) {
    colours->m_selColors = list;
    colours->m_hasSelColors = true;
    table->setNeedsDisplay(true);
  }
}

// ---- Columns and header ----

static cocoa::TableColumn* columnOf(Shim_vVexmir_listview* lv, int column) {
  return lv && column >= 0 && column < static_cast<int>(lv->m_cols.size()) ? lv->m_cols[static_cast<size_t>(column)]
                                                                           : nullptr;
}

static bool showsHeaderTitles(Shim_vVexmir_listview* lv) {
  return !lv->m_lbMode && !(lv->style & LVS_NOCOLUMNHEADER);
}

static int alignmentOf(int format) {
  return format == LVCFMT_RIGHT ? cocoa::kTextAlignmentRight
                                : (format == LVCFMT_CENTER ? cocoa::kTextAlignmentCenter : cocoa::kTextAlignmentLeft);
}

static void setColumnWidth(cocoa::TableColumn* c, int width) {
  if (width != 0) {
    c->setHidden(false);
    c->setWidth(width);
  } else {
    c->setHidden(true);
  }
}

void ListView_InsertColumn(HWND h, int position, const LVCOLUMN* record) {
  Shim_vVexmir_listview* lv = SHIM_ListViewOf(h);
  if (!lv || !record) return;
  auto* c = new cocoa::TableColumn;
  c->editable = false;
  setColumnWidth(c, record->cx);
  if (record->fmt == LVCFMT_RIGHT || record->fmt == LVCFMT_CENTER) c->headerAlignment = alignmentOf(record->fmt);
  if (showsHeaderTitles(lv)) c->title = record->pszText ? record->pszText : "";
  cocoa::Cell* cell;
  if (position == 0 && lv->m_status_imagelist) {
    cell = new Shim_vVexmir_statuscell;
  } else {
    cell = new Shim_vVexmir_listviewcell;
    if (record->fmt == LVCFMT_RIGHT || record->fmt == LVCFMT_CENTER) cell->alignment = alignmentOf(record->fmt);
  }
  cell->wraps = false;
  c->setDataCell(cell);
  cell->release();
  lv->addTableColumn(c);
  lv->m_cols.push_back(c);
  c->release();
}

void ListView_SetColumn(HWND h, int column, const LVCOLUMN* record) {
  Shim_vVexmir_listview* lv = SHIM_ListViewOf(h);
  cocoa::TableColumn* c = columnOf(lv, column);
  if (!c || !record) return;
  if ((record->mask & LVCF_FMT) && record->fmt >= 0 && record->fmt <= 2) c->headerAlignment = alignmentOf(record->fmt);
  if (record->mask & LVCF_WIDTH) setColumnWidth(c, record->cx);
  if ((record->mask & LVCF_TEXT) && showsHeaderTitles(lv)) c->title = record->pszText ? record->pszText : "";
  lv->setNeedsDisplay(true);
}

bool ListView_DeleteColumn(HWND h, int column) {
  Shim_vVexmir_listview* lv = SHIM_ListViewOf(h);
  cocoa::TableColumn* c = columnOf(lv, column);
  if (!c) return false;
  lv->m_cols.erase(lv->m_cols.begin() + column);
  lv->removeTableColumn(c);
  return true;
}

int ListView_GetColumnWidth(HWND h, int column) {
  cocoa::TableColumn* c = columnOf(SHIM_ListViewOf(h), column);
  if (!c || c->isHidden()) return 0;
  return floorInt(c->width() + 0.5);
}

void ListView_SetColumnWidth(HWND h, int column, int width) {
  Shim_vVexmir_listview* lv = SHIM_ListViewOf(h);
  if (cocoa::TableColumn* c = columnOf(lv, column)) {
    setColumnWidth(c, width);
    lv->setNeedsDisplay(true);
  }
}

bool ListView_GetColumnOrderArray(HWND h, int count, int* order) {
  Shim_vVexmir_listview* lv = SHIM_ListViewOf(h);
  if (!lv || count != static_cast<int>(lv->m_cols.size())) return false;
  if (count == 0) return true;
  if (!order) return false;
  for (int i = 0; i < count; ++i) order[i] = lv->getColumnPos(i);
  return true;
}

bool ListView_SetColumnOrderArray(HWND h, int count, const int* order) {
  Shim_vVexmir_listview* lv = SHIM_ListViewOf(h);
  if (!lv || count != static_cast<int>(lv->m_cols.size())) return false;
  if (count == 0) return true;
  if (!order) return false;
  // order[i] is the displayed position of column i; only a permutation of the positions describes an order.
  std::vector<int> columnAt(static_cast<size_t>(count), -1);
  for (int i = 0; i < count; ++i) {
    if (order[i] < 0 || order[i] >= count || columnAt[static_cast<size_t>(order[i])] >= 0) return false;
    columnAt[static_cast<size_t>(order[i])] = i;
  }
  for (int pos = 0; pos < count; ++pos) lv->moveColumn(lv->getColumnPos(columnAt[static_cast<size_t>(pos)]), pos);
  return true;
}

HWND ListView_GetHeader(HWND h) {
  return SHIM_ListViewOf(h);
}

int Header_GetItemCount(HWND header) {
  Shim_vVexmir_listview* lv = SHIM_ListViewOf(header);
  return lv ? static_cast<int>(lv->m_cols.size()) : 0;
}

bool Header_GetItem(HWND header, int column, HDITEM* item) {
  cocoa::TableColumn* c = columnOf(SHIM_ListViewOf(header), column);
  if (!c || !item) return false;
  if (item->mask & HDI_FORMAT) {
    item->fmt = 0;
    if (c->indicatorImage == "NSAscendingSortIndicator") item->fmt |= HDF_SORTUP;
    if (c->indicatorImage == "NSDescendingSortIndicator") item->fmt |= HDF_SORTDOWN;
  }
  return true;
}

bool Header_SetItem(HWND header, int column, const HDITEM* item) {
  Shim_vVexmir_listview* lv = SHIM_ListViewOf(header);
  cocoa::TableColumn* c = columnOf(lv, column);
  if (!c || !item) return false;
  if (item->mask & HDI_FORMAT) {
    c->indicatorImage = (item->fmt & HDF_SORTUP)     ? "NSAscendingSortIndicator"
                        : (item->fmt & HDF_SORTDOWN) ? "NSDescendingSortIndicator"
                                                     : "";
    if (cocoa::ScrollView* sv = cocoa::enclosingScrollView(lv)) sv->setNeedsDisplay(true);
  }
  return true;
}

// ---- Items ----

bool ListView_GetItem(HWND h, LVITEM* item) {
  if (!item) return false;
  if ((item->mask & LVIF_TEXT) && item->pszText && item->cchTextMax > 0) item->pszText[0] = 0;
  item->state = 0;
  Shim_vVexmir_listview* lv = SHIM_ListViewOf(h);
  if (!lv) return false;
  const int index = item->iItem;
  if (!lv->isOwnerData()) {
    if (index < 0 || index >= static_cast<int>(lv->m_items.size())) return false;
    const SHIM_ListView_Row* row = lv->m_items[static_cast<size_t>(index)];
    if (item->mask & LVIF_PARAM) item->lParam = row->param;
    if ((item->mask & LVIF_TEXT) && item->pszText && item->cchTextMax > 0) {
      const std::string& text = rowText(row, item->iSubItem);
      const size_t n = std::min(text.size(), static_cast<size_t>(item->cchTextMax - 1));
      std::memcpy(item->pszText, text.data(), n);
      item->pszText[n] = 0;
    }
    if ((item->mask & LVIF_STATE) && (item->stateMask & LVIS_STATEIMAGEMASK)) {
      item->state |= (static_cast<UINT>(row->image) & 0xFF) << 16;
    }
  } else if (index < 0 || index >= lv->ownermode_cnt) {
    return false;
  }
  if (item->mask & LVIF_STATE) {
    if ((item->stateMask & LVIS_SELECTED) && lv->isRowSelected(index)) item->state |= LVIS_SELECTED;
    if ((item->stateMask & LVIS_FOCUSED) && lv->selectedRow() == index) item->state |= LVIS_FOCUSED;
  }
  return true;
}

bool ListView_SetItem(HWND h, const LVITEM* item) {
  Shim_vVexmir_listview* lv = SHIM_ListViewOf(h);
  if (!lv || !item) return false;
  if (!lv->isOwnerData()) {
    if (item->iItem < 0 || item->iItem >= static_cast<int>(lv->m_items.size())) return false;
    SHIM_ListView_Row* row = lv->m_items[static_cast<size_t>(item->iItem)];
    if (item->mask & LVIF_PARAM) row->param = item->lParam;
    if ((item->mask & LVIF_TEXT) && item->pszText) ListView_SetItemText(lv, item->iItem, item->iSubItem, item->pszText);
    if ((item->mask & LVIF_IMAGE) && item->iImage >= 0) {
      row->image = item->iImage + 1;
      lv->reloadData();
    }
  }
  if ((item->mask & LVIF_STATE) && item->stateMask) {
    ListView_SetItemState(lv, item->iItem, item->state, item->stateMask);
  }
  return true;
}

void ListView_SetItemText(HWND h, int item, int subitem, const char* text) {
  Shim_vVexmir_listview* lv = SHIM_ListViewOf(h);
  if (!lv || subitem < 0 || subitem > 31 || lv->isOwnerData()) return;
  if (item < 0 || item >= static_cast<int>(lv->m_items.size())) return;
  std::vector<std::string>& texts = lv->m_items[static_cast<size_t>(item)]->texts;
  if (static_cast<int>(texts.size()) <= subitem) texts.resize(static_cast<size_t>(subitem) + 1);
  texts[static_cast<size_t>(subitem)] = text ? text : "";
  lv->reloadData();
}

int ListView_GetNextItem(HWND h, int start, int flags) {
  if (flags != LVNI_SELECTED && flags != LVNI_FOCUSED) return -1;
  Shim_vVexmir_listview* lv = SHIM_ListViewOf(h);
  if (!lv) return 0;
  if (flags == LVNI_FOCUSED) return lv->selectedRow();
  const std::set<int>& sel = lv->selectedRowIndexes();
  auto it = sel.upper_bound(start < 0 ? -1 : start);
  return it == sel.end() ? -1 : *it;
}

int ListView_GetSelectedCount(HWND h) {
  Shim_vVexmir_listview* lv = SHIM_ListViewOf(h);
  return lv ? lv->numberOfSelectedRows() : 0;
}

int ListView_GetSelectionMark(HWND h) {
  Shim_vVexmir_listview* lv = SHIM_ListViewOf(h);
  return lv ? lv->selectedRow() : 0;
}

void ListView_RedrawItems(HWND h, int, int) {
  if (Shim_vVexmir_listview* lv = SHIM_ListViewOf(h)) lv->reloadData();
}

void ListView_DeleteAllItems(HWND h) {
  Shim_vVexmir_listview* lv = SHIM_ListViewOf(h);
  if (!lv) return;
  lv->ownermode_cnt = 0;
  for (SHIM_ListView_Row* r : lv->m_items) delete r;
  lv->m_items.clear();
  lv->reloadData();
}

void ListView_SetItemCount(HWND h, int count) {
  Shim_vVexmir_listview* lv = SHIM_ListViewOf(h);
  if (!lv || !lv->isOwnerData()) return;
  // The rows shown follow the count at once: a table that kept the old count would offer rows that no longer exist.
  lv->ownermode_cnt = std::max(0, count);
  lv->reloadData();
}

void ListView_EnsureVisible(HWND h, int item, bool) {
  Shim_vVexmir_listview* lv = SHIM_ListViewOf(h);
  if (!lv) return;
  item = std::min(std::max(item, 0), lv->itemCount() - 1);
  if (item >= 0) lv->scrollRowToVisible(item);
}

// A stable top-down merge sort of row pointers: the first half's head goes first unless it compares above the
// second half's head.
static void mergeSort(SHIM_ListView_Row** rows, int n, SHIM_ListView_Row** scratch, PFNLVCOMPARE compare,
                      LPARAM sortParam) {
  if (n < 2) return;
  const int half = n / 2;
  if (n > 2) {
    mergeSort(rows, half, scratch, compare, sortParam);
    mergeSort(rows + half, n - half, scratch, compare, sortParam);
  }
  int a = 0, b = half, out = 0;
  while (a < half && b < n) {
    if (compare(rows[a]->param, rows[b]->param, sortParam) <= 0) {
      scratch[out++] = rows[a++];
    } else {
      scratch[out++] = rows[b++];
    }
  }
  while (a < half) scratch[out++] = rows[a++];
  std::copy(scratch, scratch + out, rows);
}

void ListView_SortItems(HWND h, PFNLVCOMPARE compare, LPARAM sortParam) {
  Shim_vVexmir_listview* lv = SHIM_ListViewOf(h);
  if (!lv || !compare || lv->isOwnerData() || lv->m_lbMode) return;
  const int n = static_cast<int>(lv->m_items.size());
  std::vector<SHIM_ListView_Row*> scratch(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) lv->m_items[static_cast<size_t>(i)]->sortSelected = lv->isRowSelected(i) ? 1 : 0;
  mergeSort(lv->m_items.data(), n, scratch.data(), compare, sortParam);
  if (n > 0) {
    std::set<int> selection;
    for (int i = 0; i < n; ++i) {
      if (lv->m_items[static_cast<size_t>(i)]->sortSelected) selection.insert(i);
    }
    lv->selectRowIndexes(selection, false);
    if (selection.empty()) lv->deselectAll();
  }
  lv->reloadData();
}

// ---- Geometry and scrolling ----

static cocoa::Rect visibleRectOf(cocoa::View* v) {
  cocoa::ScrollView* sv = cocoa::enclosingScrollView(v);
  return sv ? sv->documentVisibleRect() : cocoa::Rect{};
}

int ListView_HitTest(HWND h, LVHITTESTINFO* info) {
  Shim_vVexmir_listview* lv = SHIM_ListViewOf(h);
  if (!lv || !info) return -1;
  info->flags = 0;
  info->iItem = -1;
  const cocoa::Rect vis = visibleRectOf(lv);
  const int rx = platform::intCoord(info->pt.x - vis.x), ry = platform::intCoord(info->pt.y - vis.y);
  if (rx < 0) info->flags |= LVHT_TOLEFT;
  if (rx >= vis.w) info->flags |= LVHT_TORIGHT;
  if (ry < 0) info->flags |= LVHT_ABOVE;
  if (ry >= vis.h) info->flags |= LVHT_BELOW;
  if (info->flags) return -1;
  const cocoa::Point p{static_cast<double>(info->pt.x), static_cast<double>(info->pt.y)};
  info->iItem = lv->rowAtPoint(p);
  if (info->iItem < 0) {
    info->flags = LVHT_NOWHERE;
  } else {
    info->flags = lv->m_status_imagelist && p.x <= lv->rowHeight ? LVHT_ONITEMSTATEICON : LVHT_ONITEMLABEL;
  }
  return info->iItem;
}

int ListView_SubItemHitTest(HWND h, LVHITTESTINFO* info) {
  const int item = ListView_HitTest(h, info);
  Shim_vVexmir_listview* lv = SHIM_ListViewOf(h);
  if (lv && info) info->iSubItem = lv->columnIndexAtPoint(cocoa::Point{double(info->pt.x), double(info->pt.y)});
  return item;
}

bool ListView_GetSubItemRect(HWND h, int item, int subitem, int, RECT* r) {
  Shim_vVexmir_listview* lv = SHIM_ListViewOf(h);
  if (!lv || !r || item < 0 || item >= lv->itemCount()) return false;
  if (subitem >= static_cast<int>(lv->m_cols.size())) return false;
  const int pos = subitem < 0 ? -1 : lv->getColumnPos(subitem);
  cocoa::Rect f = pos < 0 ? lv->rectOfRow(item) : lv->frameOfCellAtColumnRow(pos, item);
  if (pos >= 0) {
    f.w += lv->intercellSpacing.x;
    f.h += lv->intercellSpacing.y;
  }
  *r = RECT{platform::intCoord(f.x), platform::intCoord(f.y), platform::intCoord(f.x + f.w), platform::intCoord(f.y + f.h)};
  return true;
}

bool ListView_GetItemRect(HWND h, int item, RECT* r, int code) {
  return ListView_GetSubItemRect(h, item, -1, code, r);
}

int SHIM_GetListViewHeaderHeight(HWND h) {
  Shim_vVexmir_listview* lv = SHIM_ListViewOf(h);
  if (!lv || !lv->hasHeaderView()) return 0;
  return SHIM_RoundPoint(lv->headerHeight);
}

int ListView_GetTopIndex(HWND h) {
  auto* t = h ? h->as<cocoa::TableView>() : nullptr;
  cocoa::ScrollView* sv = cocoa::enclosingScrollView(t);
  if (!sv) return -1;
  return t->rowAtPoint(cocoa::Point{0, sv->documentVisibleRect().y});
}

int ListView_GetCountPerPage(HWND h) {
  auto* t = h ? h->as<cocoa::TableView>() : nullptr;
  cocoa::ScrollView* sv = cocoa::enclosingScrollView(t);
  // A row height below one point would divide by zero.
  if (!sv || t->rowHeight < 1) return 0;
  return platform::intCoord(sv->documentVisibleRect().h / platform::intCoord(t->rowHeight));
}

bool ListView_GetScroll(HWND h, POINT* p) {
  if (!p) return false;
  auto* t = h ? h->as<cocoa::TableView>() : nullptr;
  cocoa::ScrollView* sv = cocoa::enclosingScrollView(t);
  if (!sv) {
    *p = POINT{0, 0};
    return false;
  }
  const cocoa::Rect vis = sv->documentVisibleRect();
  *p = POINT{platform::intCoord(vis.x), platform::intCoord(vis.y)};
  return true;
}

bool ListView_Scroll(HWND h, int dx, int dy) {
  auto* t = h ? h->as<cocoa::TableView>() : nullptr;
  cocoa::ScrollView* sv = cocoa::enclosingScrollView(t);
  if (!sv) return false;
  const cocoa::Rect vis = sv->documentVisibleRect();
  cocoa::Point p{vis.x, vis.y};
  if (dx > 0) p.x = vis.x + vis.w - 1;
  if (dy > 0) p.y = vis.y + vis.h - 1;
  auto limit = [](int v, int n) { return std::max(0, std::min(v, n - 1)); };
  const int rows = t->numberOfRows(), cols = t->numberOfColumns();
  const int row = limit(t->rowAtPoint(p), rows), col = limit(t->columnAtPoint(p), cols);
  const cocoa::Rect cell = t->frameOfCellAtColumnRow(col, row);
  const int dcol = cell.w > 0 ? platform::intCoord(dx / cell.w) : 0;
  const int drow = cell.h > 0 ? platform::intCoord(dy / cell.h) : 0;
  // Past a narrow cell a large amount is more cells than an int counts from where the edge is.
  if (rows > 0) t->scrollRowToVisible(limit(platform::satAdd(row, drow), rows));
  if (cols > 0) t->scrollColumnToVisible(limit(platform::satAdd(col, dcol), cols));
  return true;
}

// ---- Styles and images ----

void ListView_SetExtendedListViewStyleEx(HWND h, int mask, int styles) {
  Shim_vVexmir_listview* lv = SHIM_ListViewOf(h);
  if (!lv) return;
  if (mask & LVS_EX_GRIDLINES) lv->gridStyleMask = (styles & LVS_EX_GRIDLINES) ? 3 : 0;
  if (mask & LVS_EX_HEADERDRAGDROP) lv->allowsColumnReordering = (styles & LVS_EX_HEADERDRAGDROP) != 0;
  lv->setNeedsDisplay(true);
}

void SHIM_SetListViewFastClickMask(HWND h, int mask) {
  if (Shim_vVexmir_listview* lv = SHIM_ListViewOf(h)) lv->m_fastClickMask = mask;
}

void ListView_SetImageList(HWND h, HIMAGELIST list, int kind) {
  Shim_vVexmir_listview* lv = SHIM_ListViewOf(h);
  if (!lv) return;
  lv->m_status_imagelist = list;
  lv->m_status_imagelist_type = kind;
  if (!lv->m_cols.empty() && !lv->m_cols[0]->dataCell()->as<Shim_vVexmir_statuscell>()) {
    auto* cell = new Shim_vVexmir_statuscell;
    cell->wraps = false;
    lv->m_cols[0]->setDataCell(cell);
    cell->release();
  }
  lv->setNeedsDisplay(true);
}

// ---- What the owner makes of the user's actions ----

void Shim_vVexmir_listview::tableViewSelectionDidChange(cocoa::TableView*) {
  if (m_lbMode) {
    SHIM_Internal_Send(target, WM_COMMAND, SHIM_CommandParam(tag(), 1), reinterpret_cast<LPARAM>(this));
    return;
  }
  NMLISTVIEW nm = listRecord(this, LVN_ITEMCHANGED);
  nm.iItem = selectedRow();
  SHIM_Internal_Send(target, WM_NOTIFY, static_cast<WPARAM>(tag()), reinterpret_cast<LPARAM>(&nm));
}

void Shim_vVexmir_listview::tableWillDisplayCell(cocoa::TableView*, cocoa::Cell* cell, cocoa::TableColumn*, int row) {
  applyTextColour(this, cell, isRowSelected(row));
}

void Shim_vVexmir_listview::tableDidClickColumn(cocoa::TableView*, cocoa::TableColumn* column) {
  if (m_cols.empty() || m_lbMode || style < 0) return;
  auto it = std::find(m_cols.begin(), m_cols.end(), column);
  NMLISTVIEW nm{};
  nm.hdr.hwndFrom = this;
  nm.hdr.idFrom = static_cast<UINT_PTR>(tag());
  nm.hdr.code = -108;  // LVN_COLUMNCLICK
  nm.iItem = -1;
  nm.iSubItem = it == m_cols.end() ? -1 : static_cast<int>(it - m_cols.begin());
  SHIM_Internal_Send(target, WM_NOTIFY, static_cast<WPARAM>(tag()), reinterpret_cast<LPARAM>(&nm));
}

void Shim_vVexmir_listview::doubleClicked() {
  if (doubleAction != "shimOnControlDoubleClick:") {
    cocoa::TableView::doubleClicked();
    return;
  }
  if (m_lbMode) {
    SHIM_Internal_Send(target, WM_COMMAND, SHIM_CommandParam(tag(), 2), reinterpret_cast<LPARAM>(this));
    return;
  }
  NMLISTVIEW nm = listRecord(this, NM_DBLCLK);
  nm.iItem = clickedRow();
  nm.iSubItem = clickedColumn() < 0 ? -1 : getColumnIdx(clickedColumn());
  nm.lParam = paramOfRow(this, clickedRow());
  SHIM_Internal_Send(target, WM_NOTIFY, static_cast<WPARAM>(tag()), reinterpret_cast<LPARAM>(&nm));
}
