// The tree view control: items held by the control as HTREEITEM records, shown through an outline view, with the
// TreeView_* functions, clicks and right clicks reported to the owner and programmatic selections to the parent.
// Every handle a caller passes in is looked up in this tree first, so a deleted or foreign item is refused rather
// than used.
#include <algorithm>
#include <cstring>

#include "KIT/shim/shim-ctlclasses.h"
#include "KIT/shim/shim-objects.h"

namespace {

bool g_selectRent = false;
bool g_setItemRent = false;

bool isSpecialHandle(HTREEITEM h) {
  return h == TVI_ROOT || h == TVI_FIRST || h == TVI_LAST || h == TVI_SORT;
}

Shim_vVexmir_treeview* treeOf(HWND h) {
  return h ? h->as<Shim_vVexmir_treeview>() : nullptr;
}

// The click notifications carry the header and five zero words.
struct ClickRecord {
  NMHDR hdr;
  int zero[5];
};

void sendClick(Shim_vVexmir_treeview* tv, int code) {
  ClickRecord rec{};
  rec.hdr.hwndFrom = tv;
  rec.hdr.idFrom = static_cast<UINT_PTR>(tv->tag());
  rec.hdr.code = code;
  SHIM_Internal_Send(tv->target, WM_NOTIFY, static_cast<WPARAM>(tv->tag()), reinterpret_cast<LPARAM>(&rec));
}

void sendSelChanged(Shim_vVexmir_treeview* tv) {
  NMTREEVIEW nm{};
  nm.hdr.hwndFrom = tv;
  nm.hdr.idFrom = static_cast<UINT_PTR>(tv->tag());
  nm.hdr.code = TVN_SELCHANGED;
  SHIM_Internal_Send(GetParent(tv), WM_NOTIFY, static_cast<WPARAM>(tv->tag()), reinterpret_cast<LPARAM>(&nm));
}

}  // namespace

// ---- Items ----

HTREEITEM__::HTREEITEM__() : m_dh(new Shim_vVexmir_sdh(reinterpret_cast<INT_PTR>(this))) {}

HTREEITEM__::~HTREEITEM__() {
  free(m_value);
  for (HTREEITEM__* c : m_children) delete c;
  m_dh->release();
}

bool HTREEITEM__::FindItem(HTREEITEM item, HTREEITEM__** parOut, int* idxOut) {
  for (size_t i = 0; i < m_children.size(); ++i) {
    if (m_children[i] == item) {
      if (parOut) *parOut = this;
      if (idxOut) *idxOut = static_cast<int>(i);
      return true;
    }
  }
  for (HTREEITEM__* c : m_children) {
    if (c->FindItem(item, parOut, idxOut)) return true;
  }
  return false;
}

HTREEITEM__* SHIM_TreeItemOf(cocoa::Object* holder) {
  auto* dh = holder ? holder->as<Shim_vVexmir_sdh>() : nullptr;
  return dh ? reinterpret_cast<HTREEITEM__*>(dh->getValue()) : nullptr;
}

// ---- The control ----

Shim_vVexmir_treeview::Shim_vVexmir_treeview() : cocoa::OutlineView(cocoa::Rect{}) {
  setDelegate(this);
  SHIM_Internal_InstallControlHooks();
  setOutlineDataSource(this);
}

Shim_vVexmir_treeview::~Shim_vVexmir_treeview() {
  for (HTREEITEM__* i : m_items) delete i;
}

bool Shim_vVexmir_treeview::findItem(HTREEITEM item, HTREEITEM__** parOut, int* idxOut) {
  if (!item) return false;
  for (size_t i = 0; i < m_items.size(); ++i) {
    if (m_items[i] == item) {
      if (parOut) *parOut = nullptr;
      if (idxOut) *idxOut = static_cast<int>(i);
      return true;
    }
  }
  for (HTREEITEM__* root : m_items) {
    if (root->FindItem(item, parOut, idxOut)) return true;
  }
  return false;
}

int Shim_vVexmir_treeview::outlineNumberOfChildren(cocoa::OutlineView*, cocoa::Object* item) {
  if (!item) return static_cast<int>(m_items.size());
  HTREEITEM__* it = SHIM_TreeItemOf(item);
  return it ? static_cast<int>(it->m_children.size()) : 0;
}

bool Shim_vVexmir_treeview::outlineIsItemExpandable(cocoa::OutlineView*, cocoa::Object* item) {
  if (!item) return true;
  HTREEITEM__* it = SHIM_TreeItemOf(item);
  return it && it->m_haschildren;
}

cocoa::Object* Shim_vVexmir_treeview::outlineChild(cocoa::OutlineView*, int index, cocoa::Object* item) {
  const std::vector<HTREEITEM__*>* list = &m_items;
  if (item) {
    HTREEITEM__* it = SHIM_TreeItemOf(item);
    if (!it) return nullptr;
    list = &it->m_children;
  }
  return index >= 0 && index < static_cast<int>(list->size()) ? (*list)[static_cast<size_t>(index)]->m_dh : nullptr;
}

std::string Shim_vVexmir_treeview::outlineObjectValue(cocoa::OutlineView*, cocoa::TableColumn*, cocoa::Object* item) {
  HTREEITEM__* it = SHIM_TreeItemOf(item);
  return it && it->m_value ? std::string(it->m_value) : std::string();
}

void Shim_vVexmir_treeview::mouseDown(cocoa::Event* e) {
  if ((e->modifierFlags & cocoa::kControlKeyMask) && IsRightClickEmulateEnabled()) {
    m_fakerightmouse = true;
    return;
  }
  retain();
  sendClick(this, NM_CLICK);
  m_fakerightmouse = false;
  cocoa::OutlineView::mouseDown(e);
  release();
}

void Shim_vVexmir_treeview::mouseUp(cocoa::Event* e) {
  if (m_fakerightmouse || (e->modifierFlags & cocoa::kControlKeyMask)) {
    rightMouseUp(e);
    return;
  }
  cocoa::OutlineView::mouseUp(e);
}

void Shim_vVexmir_treeview::rightMouseUp(cocoa::Event*) {
  retain();
  ClickRecord rec{};
  rec.hdr.hwndFrom = this;
  rec.hdr.idFrom = static_cast<UINT_PTR>(tag());
  rec.hdr.code = NM_RCLICK;
  if (!SHIM_Internal_Send(target, WM_NOTIFY, static_cast<WPARAM>(tag()), reinterpret_cast<LPARAM>(&rec))) {
    POINT p{0, 0};
    GetCursorPos(&p);
    SHIM_Internal_Send(target, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(this), SHIM_PointParam(p.x, p.y));
  }
  m_fakerightmouse = false;
  release();
}

void Shim_vVexmir_treeview::highlightSelectionInClipRect(cocoa::Rect clip) {
  cocoa::RGBAColor colour;
  if (!selectionBackground(this, &colour)) {
    cocoa::OutlineView::highlightSelectionInClipRect(clip);
    return;
  }
  const int row = selectedRow();
  if (row < 0) return;
  const cocoa::Rect cut = rectOfRow(row).intersected(clip);
  if (!cut.isEmpty()) cocoa::fillViewRect(this, cut, colour);
}

// ---- Functions ----

HTREEITEM TreeView_InsertItem(HWND h, TVINSERTSTRUCT* ins) {
  Shim_vVexmir_treeview* tv = treeOf(h);
  if (!tv || !ins) return nullptr;
  HTREEITEM__* parent = nullptr;
  if (ins->hParent && !isSpecialHandle(ins->hParent)) {
    if (!tv->findItem(ins->hParent, nullptr, nullptr)) return nullptr;
    parent = ins->hParent;
  }
  std::vector<HTREEITEM__*>& list = parent ? parent->m_children : tv->m_items;
  size_t position = list.size();
  HTREEITEM after = ins->hInsertAfter;
  if (after == TVI_FIRST) {
    position = 0;
  } else if (after && after != TVI_LAST && after != TVI_SORT && after != TVI_ROOT) {
    auto it = std::find(list.begin(), list.end(), after);
    position = it == list.end() ? 0 : static_cast<size_t>(it - list.begin()) + 1;
  }
  auto* item = new HTREEITEM__;
  const TVITEM& src = ins->item;
  if (src.mask & TVIF_CHILDREN) item->m_haschildren = src.cChildren != 0;
  if (src.mask & TVIF_PARAM) item->m_param = src.lParam;
  // A null text is an empty text.
  if (src.mask & TVIF_TEXT) item->m_value = strdup(src.pszText ? src.pszText : "");
  list.insert(list.begin() + static_cast<long>(std::min(position, list.size())), item);
  tv->reloadData();
  return item;
}

void TreeView_DeleteItem(HWND h, HTREEITEM item) {
  Shim_vVexmir_treeview* tv = treeOf(h);
  HTREEITEM__* parent = nullptr;
  int index = -1;
  if (!tv || !tv->findItem(item, &parent, &index)) return;
  std::vector<HTREEITEM__*>& list = parent ? parent->m_children : tv->m_items;
  list.erase(list.begin() + index);
  delete item;
  tv->reloadData();
}

bool TreeView_GetItem(HWND h, TVITEM* item) {
  Shim_vVexmir_treeview* tv = treeOf(h);
  if (!tv || !item || !(item->mask & TVIF_HANDLE) || !tv->findItem(item->hItem, nullptr, nullptr)) return false;
  HTREEITEM__* it = item->hItem;
  item->cChildren = it->m_haschildren ? 1 : 0;
  item->lParam = it->m_param;
  if ((item->mask & TVIF_TEXT) && item->pszText && item->cchTextMax > 0) {
    const char* text = it->m_value ? it->m_value : "";
    const size_t n = std::min(strlen(text), static_cast<size_t>(item->cchTextMax - 1));
    std::memcpy(item->pszText, text, n);
    item->pszText[n] = 0;
  }
  item->state = 0;
  const int row = tv->rowForItem(it->m_dh);
  if (row >= 0 && tv->isRowSelected(row)) item->state |= TVIS_SELECTED;
  if (tv->isItemExpanded(it->m_dh)) item->state |= TVIS_EXPANDED;
  return true;
}

static void selectItemRow(Shim_vVexmir_treeview* tv, HTREEITEM__* it) {
  const int row = tv->rowForItem(it->m_dh);
  if (row >= 0) tv->selectRowIndexes({row}, false);
}

bool TreeView_SetItem(HWND h, TVITEM* item) {
  Shim_vVexmir_treeview* tv = treeOf(h);
  if (!tv || !item || !(item->mask & TVIF_HANDLE) || !tv->findItem(item->hItem, nullptr, nullptr)) return false;
  HTREEITEM__* it = item->hItem;
  if (item->mask & TVIF_CHILDREN) it->m_haschildren = item->cChildren != 0;
  if (item->mask & TVIF_PARAM) it->m_param = item->lParam;
  if ((item->mask & TVIF_TEXT) && item->pszText) {
    char* copy = strdup(item->pszText);
    free(it->m_value);
    it->m_value = copy;
    InvalidateRect(tv, nullptr, 0);
  }
  if ((item->stateMask & TVIS_SELECTED) && (item->state & TVIS_SELECTED) && tv->rowForItem(it->m_dh) >= 0) {
    selectItemRow(tv, it);
    if (!g_setItemRent) {
      g_setItemRent = true;
      tv->retain();
      sendSelChanged(tv);
      g_setItemRent = false;
      tv->release();
    }
  }
  if (item->stateMask & TVIS_EXPANDED) {
    if (item->state & TVIS_EXPANDED) {
      tv->expandItem(it->m_dh);
    } else {
      tv->collapseItem(it->m_dh);
    }
  }
  return true;
}

void TreeView_SelectItem(HWND h, HTREEITEM item) {
  Shim_vVexmir_treeview* tv = treeOf(h);
  if (!tv || !tv->findItem(item, nullptr, nullptr)) return;
  selectItemRow(tv, item);
  if (g_selectRent) return;
  g_selectRent = true;
  tv->retain();
  sendSelChanged(tv);
  g_selectRent = false;
  tv->release();
}

HTREEITEM TreeView_GetSelection(HWND h) {
  Shim_vVexmir_treeview* tv = treeOf(h);
  return tv ? SHIM_TreeItemOf(tv->itemAtRow(tv->selectedRow())) : nullptr;
}

bool TreeView_Expand(HWND h, HTREEITEM item, UINT code) {
  Shim_vVexmir_treeview* tv = treeOf(h);
  if (!tv || !tv->findItem(item, nullptr, nullptr)) return false;
  const bool expanded = tv->isItemExpanded(item->m_dh);
  bool expand;
  if (code == TVE_EXPAND && !expanded) {
    expand = true;
  } else if (code == TVE_COLLAPSE && expanded) {
    expand = false;
  } else if (code == TVE_TOGGLE) {
    expand = !expanded;
  } else {
    return false;
  }
  if (expand) {
    tv->expandItem(item->m_dh);
  } else {
    tv->collapseItem(item->m_dh);
  }
  return true;
}

HTREEITEM TreeView_HitTest(HWND h, TVHITTESTINFO* info) {
  Shim_vVexmir_treeview* tv = treeOf(h);
  if (!tv || !info || tv->numberOfRows() == 0) return nullptr;
  const cocoa::Point p{static_cast<double>(info->pt.x), static_cast<double>(info->pt.y)};
  for (int row = 0; row < tv->numberOfRows(); ++row) {
    if (tv->rectOfRow(row).contains(p)) return SHIM_TreeItemOf(tv->itemAtRow(row));
  }
  return nullptr;
}

HTREEITEM TreeView_GetRoot(HWND h) {
  Shim_vVexmir_treeview* tv = treeOf(h);
  return tv && !tv->m_items.empty() ? tv->m_items.front() : nullptr;
}

HTREEITEM TreeView_GetChild(HWND h, HTREEITEM item) {
  Shim_vVexmir_treeview* tv = treeOf(h);
  if (!tv) return nullptr;
  if (!item) return TreeView_GetRoot(h);
  if (!tv->findItem(item, nullptr, nullptr) || item->m_children.empty()) return nullptr;
  return item->m_children.front();
}

HTREEITEM TreeView_GetNextSibling(HWND h, HTREEITEM item) {
  Shim_vVexmir_treeview* tv = treeOf(h);
  if (!tv) return nullptr;
  if (!item) return TreeView_GetRoot(h);
  HTREEITEM__* parent = nullptr;
  int index = -1;
  if (!tv->findItem(item, &parent, &index)) return nullptr;
  const std::vector<HTREEITEM__*>& list = parent ? parent->m_children : tv->m_items;
  return index + 1 < static_cast<int>(list.size()) ? list[static_cast<size_t>(index) + 1] : nullptr;
}

bool TreeView_SetIndent(HWND h, int indent) {
  Shim_vVexmir_treeview* tv = treeOf(h);
  if (!tv) return false;
  tv->indentationPerLevel = indent;
  tv->setNeedsDisplay(true);
  return true;
}

void TreeView_SetBkColor(HWND h, int colour) {
  SHIM_Internal_SetRowColour(treeOf(h), colour, false);
}

void TreeView_SetTextColor(HWND h, int colour) {
  SHIM_Internal_SetRowColour(treeOf(h), colour, true);
}

// ---- What the owner makes of the user's actions ----

void Shim_vVexmir_treeview::tableViewSelectionDidChange(cocoa::TableView*) {
  NMTREEVIEW nm{};
  nm.hdr.hwndFrom = this;
  nm.hdr.idFrom = static_cast<UINT_PTR>(tag());
  nm.hdr.code = TVN_SELCHANGED;
  SHIM_Internal_Send(target, WM_NOTIFY, static_cast<WPARAM>(tag()), reinterpret_cast<LPARAM>(&nm));
}

void Shim_vVexmir_treeview::tableWillDisplayCell(cocoa::TableView*, cocoa::Cell* cell, cocoa::TableColumn*, int row) {
  applyTextColour(this, cell, isRowSelected(row));
}

void Shim_vVexmir_treeview::doubleClicked() {
  if (doubleAction != "shimOnControlDoubleClick:") {
    cocoa::OutlineView::doubleClicked();
    return;
  }
  NMHDR nm{this, static_cast<UINT_PTR>(tag()), NM_DBLCLK};
  SHIM_Internal_Send(target, WM_NOTIFY, static_cast<WPARAM>(tag()), reinterpret_cast<LPARAM>(&nm));
}
