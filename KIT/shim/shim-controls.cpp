// The small controls of the window layer: repaint flagging shared by every control class, tab controls, progress
// bars, owner-drawn buttons, text views, the button check calls, the combo-box and popup-list helpers, the
// trackbar helpers, the integer forms of the dialog-item text calls, and the control-kind queries.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "KIT/shim/shim-ctlclasses.h"
#include "KIT/shim/shim-gdi-internal.h"
#include "platform/cocoa/image.h"
#include "platform/graphics/coords.h"

// ---- Shared by the control classes ----

void SHIM_MarkAncestorsChanged(cocoa::View* from) {
  for (cocoa::View* v = from ? from->superview() : nullptr; v; v = v->superview()) {
    auto* w = v->as<Shim_vVexmir_hwnd>();
    if (!w) continue;
    if (w->dirtyBits() & 2) break;
    w->setDirtyBits(static_cast<unsigned char>(w->dirtyBits() | 2));
  }
}

HDC SHIM_Internal_CellContext(cocoa::View* view) {
  HDC hdc = GetDC(view);
  // Owners draw their items with y counting downwards from the top, whichever way the view is flipped; the
  // flip is part of the context's state, so ReleaseDC's restore takes it away again.
  if (hdc && hdc->ctx && !view->isFlipped()) {
    hdc->ctx->translate(0, static_cast<float>(view->bounds().h));
    hdc->ctx->scale(1, -1);
  }
  return hdc;
}

void SHIM_Internal_ReleaseCellContext(cocoa::View* view, HDC hdc) {
  if (hdc) ReleaseDC(view, hdc);
}

void SHIM_Internal_SendDrawItem(cocoa::View* inView, cocoa::View* control, UINT type, UINT itemID, ULONG_PTR itemData,
                                cocoa::Rect frame) {
  HDC hdc = SHIM_Internal_CellContext(inView);
  if (!hdc) return;
  DRAWITEMSTRUCT dis{};
  dis.CtlType = type;
  dis.CtlID = static_cast<UINT>(control->tag());
  dis.itemID = itemID;
  dis.hwndItem = control;
  dis.hDC = hdc;
  dis.rcItem.left = platform::intCoord(frame.x + 0.5);
  dis.rcItem.top = platform::intCoord(frame.y + 0.5);
  dis.rcItem.right = platform::intCoord(dis.rcItem.left + std::trunc(frame.w + 0.5));
  dis.rcItem.bottom = platform::intCoord(dis.rcItem.top + std::trunc(frame.h + 0.5));
  dis.itemData = itemData;
  SHIM_Internal_Send(GetParent(control), WM_DRAWITEM, static_cast<WPARAM>(control->tag()),
                     reinterpret_cast<LPARAM>(&dis));
  SHIM_Internal_ReleaseCellContext(inView, hdc);
}

cocoa::RGBAColor SHIM_Internal_ColourOf(int rgb) {
  return cocoa::RGBAColor{((rgb >> 16) & 0xFF) / 255.0, ((rgb >> 8) & 0xFF) / 255.0, (rgb & 0xFF) / 255.0, 1};
}

bool SHIM_RowColours::selectionBackground(cocoa::View* control, cocoa::RGBAColor* out) const {
  const size_t entry = GetFocus() == control ? 0 : 2;
  if (!m_hasSelColors || m_selColors.size() <= entry) return false;
  *out = m_selColors[entry];
  return true;
}

void SHIM_RowColours::applyTextColour(cocoa::View* control, cocoa::Cell* cell, bool selected) const {
  const size_t entry = GetFocus() == control ? 1 : 3;
  if (selected && m_hasSelColors && m_selColors.size() > entry) {
    cell->textColor = m_selColors[entry];
  } else if (!selected && m_hasFgColor) {
    cell->textColor = m_fgColor;
  }
}

void SHIM_Internal_SetRowColour(cocoa::TableView* table, int colour, bool text) {
  if (!table) return;
  if (!text) {
    table->backgroundColor = SHIM_Internal_ColourOf(colour);
  } else if (auto* colours = dynamic_cast<SHIM_RowColours*>(table)) {
    colours->m_hasFgColor = true;
    colours->m_fgColor = SHIM_Internal_ColourOf(colour);
  }
  table->setNeedsDisplay(true);
}

LRESULT SHIM_Internal_Send(HWND to, UINT msg, WPARAM wParam, LPARAM lParam) {
  return to ? SendMessage(to, msg, wParam, lParam) : 0;
}

cocoa::Image* SHIM_Internal_ImageOfBitmap(HGDIOBJ bitmap) {
  auto* img = static_cast<cocoa::Image*>(GetNSImageFromHICON(bitmap));
  if (img) img->retain();
  return img;
}

// ---- Tab controls ----

void Shim_vVexmir_tabview::tabViewDidSelectTabViewItem(cocoa::TabView*, cocoa::TabViewItem*) {
  if (!m_dest) return;
  NMHDR hdr{this, static_cast<UINT_PTR>(m_tag), TCN_SELCHANGE};
  SHIM_Internal_Send(m_dest, WM_NOTIFY, static_cast<WPARAM>(m_tag), reinterpret_cast<LPARAM>(&hdr));
}

static Shim_vVexmir_tabview* tabOf(HWND h) {
  return h ? h->as<Shim_vVexmir_tabview>() : nullptr;
}

int TabCtrl_GetItemCount(HWND h) {
  Shim_vVexmir_tabview* t = tabOf(h);
  return t ? t->numberOfTabViewItems() : 0;
}

int TabCtrl_InsertItem(HWND h, int index, const TCITEM* item) {
  Shim_vVexmir_tabview* t = tabOf(h);
  if (!t || !item || !(item->mask & TCIF_TEXT) || !item->pszText) return -1;
  index = std::max(0, std::min(index, t->numberOfTabViewItems()));
  auto* tab = new cocoa::TabViewItem(item->pszText);
  // No TCN_SELCHANGE for an insertion, also not for the first tab that the platform selects by itself.
  HWND dest = t->m_dest;
  t->m_dest = nullptr;
  t->insertTabViewItem(tab, index);
  t->m_dest = dest;
  tab->release();
  return index;
}

bool TabCtrl_DeleteItem(HWND h, int index) {
  Shim_vVexmir_tabview* t = tabOf(h);
  if (!t || index < 0 || index >= t->numberOfTabViewItems()) return false;
  t->removeTabViewItem(t->itemAt(index));
  return true;
}

int TabCtrl_SetCurSel(HWND h, int index) {
  Shim_vVexmir_tabview* t = tabOf(h);
  if (!t) return -1;
  const int previous = std::max(0, t->indexOfSelectedItem());
  if (index >= 0 && index < t->numberOfTabViewItems()) t->selectItemAt(index);
  return previous;
}

int TabCtrl_GetCurSel(HWND h) {
  Shim_vVexmir_tabview* t = tabOf(h);
  return t ? std::max(0, t->indexOfSelectedItem()) : 0;
}

bool TabCtrl_AdjustRect(HWND h, bool larger, RECT* r) {
  if (!tabOf(h) || !r) return false;
  const int d = larger ? -1 : 1;
  r->left = platform::satAdd(r->left, 7 * d);
  r->top = platform::satAdd(r->top, 26 * d);
  r->right = platform::satAdd(r->right, -7 * d);
  r->bottom = platform::satAdd(r->bottom, -3 * d);
  return true;
}

// ---- Progress bars ----

LRESULT Shim_vVexmir_progind::onShimMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case PBM_SETRANGE:
      setMinValue(static_cast<double>(static_cast<uint32_t>(lParam) & 0xFFFF));
      setMaxValue(static_cast<double>((static_cast<uint32_t>(lParam) >> 16) & 0xFFFF));
      break;
    case PBM_SETPOS:
      setDoubleValue(static_cast<double>(static_cast<UINT>(wParam)));
      stopAnimation();
      break;
    case PBM_DELTAPOS:
      incrementBy(static_cast<double>(static_cast<UINT>(wParam)));
      break;
    default:
      break;
  }
  return 0;
}

// ---- Owner-drawn buttons ----

void Shim_vVexmir_ODbuttoncell::drawWithFrame(cocoa::Rect frame, cocoa::View* inView) {
  cocoa::View* control = controlView();
  if (!control) {
    cocoa::Cell::drawWithFrame(frame, inView);
    return;
  }
  SHIM_Internal_SendDrawItem(inView, control, ODT_BUTTON, 0, 0, frame);
}

Shim_vVexmir_button::~Shim_vVexmir_button() {
  cocoa::releaseObject(m_cell);
}

void Shim_vVexmir_button::setCell(cocoa::Cell* cell) {
  if (cell) cell->retain();
  cocoa::releaseObject(m_cell);
  m_cell = cell;
  if (m_cell) m_cell->setControlView(this);
  setNeedsDisplay(true);
}

void Shim_vVexmir_button::drawRect(cocoa::Rect dirty) {
  if (m_cell) {
    m_cell->drawWithFrame(bounds(), this);
  } else {
    cocoa::Button::drawRect(dirty);
  }
}

// ---- Text views ----

LRESULT Shim_vVexmir_textview::onShimMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_SETFONT: {
      auto font = reinterpret_cast<HGDIOBJ>(wParam);
      if (SHIM_GDP_ObjValid(font) && font->type == SHIM_GDI_FONT && font->font) {
        fontName = font->font->postScriptName();
        fontSize = font->font->size();
        setNeedsDisplay(true);
      }
      return 0;
    }
    case EM_GETSEL: {
      const cocoa::TextRange r = selectedRange();
      if (wParam) *reinterpret_cast<int*>(wParam) = static_cast<int>(r.location);
      if (lParam) *reinterpret_cast<int*>(lParam) = static_cast<int>(r.location + r.length);
      return 0;
    }
    case EM_SETSEL: {
      // Positions are limited to the text and an end before the start selects the same range backwards.
      const long n = static_cast<long>(length());
      long start = static_cast<int>(wParam), end = static_cast<int>(lParam);
      if (start == -1) {
        start = end = 0;
      } else if (end == -1) {
        end = n;
      }
      start = std::max(0L, std::min(start, n));
      end = std::max(0L, std::min(end, n));
      if (end < start) std::swap(start, end);
      setSelectedRange(cocoa::TextRange{static_cast<size_t>(start), static_cast<size_t>(end - start)});
      return 0;
    }
    case EM_SCROLL:
      if (wParam == SB_TOP) {
        scrollRangeToVisible(cocoa::TextRange{0, 0});
      } else if (wParam == SB_BOTTOM) {
        scrollRangeToVisible(cocoa::TextRange{length(), 0});
      }
      return 0;
    default:
      return 0;
  }
}

void Shim_vVexmir_textview::textDidEndEditing(cocoa::TextView*) {
  SHIM_Internal_Send(m_owner, WM_COMMAND, SHIM_CommandParam(m_tag, EN_CHANGE), reinterpret_cast<LPARAM>(this));
}

// ---- Buttons ----

void CheckDlgButton(HWND parent, int id, int check) {
  HWND h = GetDlgItem(parent, id);
  auto* b = h ? h->as<cocoa::Button>() : nullptr;
  if (!b) return;
  b->setState((check & BST_INDETERMINATE) ? -1 : (check ? 1 : 0));
}

int IsDlgButtonChecked(HWND parent, int id) {
  HWND h = GetDlgItem(parent, id);
  auto* b = h ? h->as<cocoa::Button>() : nullptr;
  if (!b) return 0;
  if (b->state() < 0) return BST_INDETERMINATE;
  return b->state() == 0 ? BST_UNCHECKED : BST_CHECKED;
}

// ---- Combo boxes and popup lists ----

namespace {

cocoa::ItemListControl* listOf(HWND h) {
  return h ? h->as<cocoa::ItemListControl>() : nullptr;
}

// The platform's string ordering (code points, which UTF-8 bytes compare in the same order).
int compareTitles(const std::string& a, const std::string& b) {
  return a.compare(b) < 0 ? -1 : (a == b ? 0 : 1);
}

int sortedComboPosition(const std::vector<std::string>& items, const std::string& text) {
  const int n = static_cast<int>(items.size());
  if (n == 0) return 0;
  int lo = 0, len = n;
  for (;;) {
    int pos = lo + len / 2;
    const int c = compareTitles(text, items[static_cast<size_t>(pos)]);
    if (c == 0) return pos;
    if (c > 0) {
      ++pos;
      if (pos >= n || compareTitles(text, items[static_cast<size_t>(pos)]) <= 0) return pos;
      --len;
      lo = pos;
    }
    len /= 2;
    if (len == 0) return 0;
  }
}

std::vector<LPARAM>* dataListOf(cocoa::ItemListControl* c) {
  if (auto* cb = c->as<Shim_vVexmir_cbox>()) return &cb->m_ids;
  if (auto* pub = c->as<Shim_vVexmir_pub>()) return &pub->m_data;
  return nullptr;
}

}  // namespace

int SHIM_CB_AddString(HWND parent, int id, const char* text) {
  return SHIM_CB_InsertString(parent, id, -1000, text);
}

int SHIM_CB_InsertString(HWND parent, int id, int index, const char* text) {
  cocoa::ItemListControl* c = listOf(GetDlgItem(parent, id));
  if (!c) return 0;
  const std::string title = text ? text : "";
  const int n = c->numberOfItems();
  int position = index == -1000 ? n : (index < 0 ? 0 : std::min(index, n));
  if (index == -1000) {
    auto* style = c->as<SHIM_StyleHolder>();
    if (style && (style->getShimStyle() & CBS_SORT)) position = sortedComboPosition(c->items(), title);
  }
  c->insertItem(title, position);
  if (std::vector<LPARAM>* data = dataListOf(c)) {
    const size_t at = std::min(static_cast<size_t>(std::max(position, 0)), data->size());
    data->insert(data->begin() + static_cast<long>(at), 0);
  }
  // The open list of a combo box shows every item.
  if (auto* box = c->as<Shim_vVexmir_cbox>()) box->numberOfVisibleItems = n + 1;
  return position;
}

void SHIM_CB_DeleteString(HWND parent, int id, int index) {
  cocoa::ItemListControl* c = listOf(GetDlgItem(parent, id));
  if (!c || index < 0 || index >= c->numberOfItems()) return;
  c->removeItemAt(index);
  std::vector<LPARAM>* data = dataListOf(c);
  if (data && index < static_cast<int>(data->size())) data->erase(data->begin() + index);
}

int SHIM_CB_GetNumItems(HWND parent, int id) {
  cocoa::ItemListControl* c = listOf(GetDlgItem(parent, id));
  return c ? c->numberOfItems() : 0;
}

int SHIM_CB_GetCurSel(HWND parent, int id) {
  cocoa::ItemListControl* c = listOf(GetDlgItem(parent, id));
  return c ? c->indexOfSelectedItem() : -1;
}

void SHIM_CB_SetCurSel(HWND parent, int id, int index) {
  cocoa::ItemListControl* c = listOf(GetDlgItem(parent, id));
  if (c && index >= 0 && index < c->numberOfItems()) c->selectItemAtIndex(index);
}

int SHIM_CB_GetItemTextLength(HWND parent, int id, int index) {
  cocoa::ItemListControl* c = listOf(GetDlgItem(parent, id));
  if (!c || index < 0 || index >= c->numberOfItems()) return CB_ERR;
  return static_cast<int>(c->itemTitle(index).size());
}

bool SHIM_CB_GetItemText(HWND parent, int id, int index, char* buffer, int size) {
  cocoa::ItemListControl* c = listOf(GetDlgItem(parent, id));
  // A buffer of no bytes receives nothing, not even a terminator.
  if (!buffer || size < 1) return false;
  buffer[0] = 0;
  if (!c || index < 0 || index >= c->numberOfItems()) return false;
  const std::string title = c->itemTitle(index);
  const size_t n = std::min(title.size(), static_cast<size_t>(size - 1));
  std::memcpy(buffer, title.data(), n);
  buffer[n] = 0;
  return true;
}

LPARAM SHIM_CB_GetItemData(HWND parent, int id, int index) {
  cocoa::ItemListControl* c = listOf(GetDlgItem(parent, id));
  std::vector<LPARAM>* data = c ? dataListOf(c) : nullptr;
  if (!data || index < 0 || index >= c->numberOfItems() || index >= static_cast<int>(data->size())) return 0;
  return (*data)[static_cast<size_t>(index)];
}

void SHIM_CB_SetItemData(HWND parent, int id, int index, LPARAM value) {
  cocoa::ItemListControl* c = listOf(GetDlgItem(parent, id));
  std::vector<LPARAM>* data = c ? dataListOf(c) : nullptr;
  if (!data || index < 0 || index >= c->numberOfItems() || index >= static_cast<int>(data->size())) return;
  (*data)[static_cast<size_t>(index)] = value;
}

void SHIM_CB_Empty(HWND parent, int id) {
  cocoa::ItemListControl* c = listOf(GetDlgItem(parent, id));
  if (!c) return;
  c->removeAllItems();
  if (std::vector<LPARAM>* data = dataListOf(c)) data->clear();
}

int SHIM_CB_FindString(HWND parent, int id, int startAfter, const char* text, bool exact) {
  cocoa::ItemListControl* c = listOf(GetDlgItem(parent, id));
  if (!c) return 0;
  const char* t = text ? text : "";
  const size_t tl = strlen(t);
  for (int i = startAfter < 0 ? 0 : startAfter + 1; i < c->numberOfItems(); ++i) {
    const std::string item = c->itemTitle(i);
    if (exact ? strcasecmp(item.c_str(), t) == 0 : strncasecmp(item.c_str(), t, tl) == 0) return i;
  }
  return -1;
}

void SHIM_Internal_MoveOwner(cocoa::View* root, cocoa::Object* from, cocoa::Object* to) {
  if (!root || !from || from == to) return;
  if (auto* c = root->as<cocoa::Control>()) {
    if (c->target == from) c->target = to;
  }
  if (auto* f = root->as<cocoa::TextField>()) {
    auto* old = from->as<cocoa::TextFieldDelegate>();
    if (old && f->delegate() == old) f->setDelegate(to ? to->as<cocoa::TextFieldDelegate>() : nullptr);
  }
  if (auto* b = root->as<cocoa::ComboBox>()) {
    auto* old = from->as<cocoa::ComboBoxDelegate>();
    if (old && b->delegate() == old) b->setDelegate(to ? to->as<cocoa::ComboBoxDelegate>() : nullptr);
  }
  if (auto* t = root->as<Shim_vVexmir_tabview>()) {
    if (t->getNotificationWindow() == from) t->setNotificationWindow(to);
  }
  if (auto* t = root->as<Shim_vVexmir_textview>()) {
    if (t->m_owner == from) t->m_owner = to;
  }
  std::vector<cocoa::View*> subs = root->subviews();
  for (cocoa::View* s : subs) SHIM_Internal_MoveOwner(s, from, to);
}

LRESULT SHIM_Internal_ComboMessage(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  const int index = static_cast<int>(static_cast<INT_PTR>(wParam));
  const char* text = reinterpret_cast<const char*>(lParam);
  switch (msg) {
    case CB_ADDSTRING:
      return SHIM_CB_AddString(h, 0, text);
    case CB_INSERTSTRING:
      return SHIM_CB_InsertString(h, 0, index, text);
    case CB_DELETESTRING:
      SHIM_CB_DeleteString(h, 0, index);
      return 1;
    case CB_RESETCONTENT:
      SHIM_CB_Empty(h, 0);
      return 0;
    case CB_FINDSTRING:
    case CB_FINDSTRINGEXACT:
      if (!text) return CB_ERR;
      return SHIM_CB_FindString(h, 0, index, text, msg == CB_FINDSTRINGEXACT);
    case CB_GETLBTEXTLEN:
      return SHIM_CB_GetItemTextLength(h, 0, index);
    case CB_GETLBTEXT: {
      // The caller's buffer is taken as 1024 bytes, or as the text and its terminator when that is less (as
      // CB_GETLBTEXTLEN told it); the answer is the length copied.
      const int length = SHIM_CB_GetItemTextLength(h, 0, index);
      if (length < 0 || !lParam) return CB_ERR;
      const int size = std::min(length + 1, 1024);
      SHIM_CB_GetItemText(h, 0, index, reinterpret_cast<char*>(lParam), size);
      return size - 1;
    }
    case CB_GETITEMDATA:
      return SHIM_CB_GetItemData(h, 0, index);
    case CB_SETITEMDATA:
      SHIM_CB_SetItemData(h, 0, index, lParam);
      return 0;
    default:
      return 0;
  }
}

// ---- Trackbars ----

int SHIM_TB_GetPos(HWND parent, int id) {
  HWND h = GetDlgItem(parent, id);
  if (auto* s = h ? h->as<cocoa::Slider>() : nullptr) return static_cast<int>(s->doubleValue() + 0.5);
  if (auto* r = h ? h->as<SHIM_MessageReceiver>() : nullptr)
    return static_cast<int>(r->onShimMessage(TBM_GETPOS, 0, 0));
  return 0;
}

void SHIM_TB_SetPos(HWND parent, int id, int position) {
  HWND h = GetDlgItem(parent, id);
  if (auto* s = h ? h->as<cocoa::Slider>() : nullptr) {
    s->setDoubleValue(position);
  } else if (auto* r = h ? h->as<SHIM_MessageReceiver>() : nullptr) {
    r->onShimMessage(TBM_SETPOS, 1, position);
  }
}

void SHIM_TB_SetRange(HWND parent, int id, int minimum, int maximum) {
  HWND h = GetDlgItem(parent, id);
  if (auto* s = h ? h->as<cocoa::Slider>() : nullptr) {
    s->minValue = minimum;
    s->maxValue = maximum;
    s->setDoubleValue(s->doubleValue());
  } else if (auto* r = h ? h->as<SHIM_MessageReceiver>() : nullptr) {
    r->onShimMessage(
        TBM_SETRANGE, 1,
        static_cast<LPARAM>((static_cast<uint32_t>(minimum) & 0xFFFF) | (static_cast<uint32_t>(maximum) << 16)));
  }
}

void SHIM_TB_SetTic(HWND parent, int id, int position) {
  HWND h = GetDlgItem(parent, id);
  if (h && h->as<cocoa::Slider>()) return;
  if (auto* r = h ? h->as<SHIM_MessageReceiver>() : nullptr) r->onShimMessage(TBM_SETTIC, 0, position);
}

// ---- Dialog-item numbers ----

BOOL SetDlgItemInt(HWND parent, int id, UINT value, BOOL isSigned) {
  char text[32];
  if (isSigned) {
    snprintf(text, sizeof(text), "%d", static_cast<int>(value));
  } else {
    snprintf(text, sizeof(text), "%u", value);
  }
  return SetDlgItemText(parent, id, text);
}

UINT GetDlgItemInt(HWND parent, int id, BOOL* translated, BOOL isSigned) {
  char text[128];
  if (translated) *translated = FALSE;
  if (!GetDlgItemText(parent, id, text, sizeof(text))) return 0;
  const char* p = text;
  while (*p == ' ' || *p == '\t') ++p;
  const int value = atoi(p);
  if (!isSigned && value < 0) return 0;
  if (*p != '0' && value == 0) return 0;
  if (translated) *translated = TRUE;
  return static_cast<UINT>(value);
}

// ---- Control kinds, natural size, child windows ----

bool SHIM_IsGroupBox(HWND h) {
  return h && h->as<Shim_vVexmir_box>();
}

bool SHIM_IsButton(HWND h) {
  return h && h->as<Shim_vVexmir_button>();
}

bool SHIM_IsStaticText(HWND h) {
  return h && h->as<cocoa::TextField>();
}

void SHIM_GetDesiredControlSize(HWND h, RECT* r) {
  auto* c = h ? h->as<cocoa::Control>() : nullptr;
  if (!c || !r) return;
  const cocoa::Rect before = c->frame();
  c->sizeToFit();
  const cocoa::Rect fitted = c->frame();
  c->setFrame(before);
  *r = RECT{0, 0, platform::intCoord(fitted.w), platform::intCoord(fitted.h)};
}

static bool enumChildren(cocoa::View* v, BOOL (*proc)(HWND, LPARAM), LPARAM lParam) {
  std::vector<cocoa::View*> subs = v->subviews();
  for (cocoa::View* s : subs) s->retain();
  bool go = true;
  for (cocoa::View* s : subs) {
    if (go && (!proc(s, lParam) || !enumChildren(s, proc, lParam))) go = false;
  }
  for (cocoa::View* s : subs) s->release();
  return go;
}

BOOL EnumChildWindows(HWND h, BOOL (*proc)(HWND, LPARAM), LPARAM lParam) {
  auto* v = h ? h->as<cocoa::View>() : nullptr;
  if (!v || !proc) return TRUE;
  return enumChildren(v, proc, lParam) ? TRUE : FALSE;
}

// ---- What the window functions ask of the control family ----

namespace {

cocoa::View* documentViewOfView(cocoa::View* v) {
  if (auto* s = v ? v->as<cocoa::ScrollView>() : nullptr) return s->documentView();
  if (auto* c = v ? v->as<cocoa::ClipView>() : nullptr) return c->documentView();
  return nullptr;
}

cocoa::View* scrollViewOf(cocoa::View* v) {
  return cocoa::enclosingScrollView(v);
}

bool isTextView(HWND h) {
  return h && h->as<cocoa::TextView>();
}

bool textOfControl(HWND h, std::string* out) {
  if (auto* t = h->as<cocoa::TextView>()) {
    *out = t->string();
    return true;
  }
  if (auto* s = h->as<cocoa::ScrollView>()) {
    if (auto* t = s->documentView() ? s->documentView()->as<cocoa::TextView>() : nullptr) {
      *out = t->string();
      return true;
    }
  }
  return false;
}

bool setTextOfControl(HWND h, const char* text) {
  cocoa::TextView* t = h->as<cocoa::TextView>();
  if (!t) {
    auto* s = h->as<cocoa::ScrollView>();
    t = s && s->documentView() ? s->documentView()->as<cocoa::TextView>() : nullptr;
  }
  if (!t) return false;
  t->setString(text ? text : "");
  return true;
}

}  // namespace

void SHIM_Internal_InstallControlHooks() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  SHIM_ControlHooks& hooks = SHIM_Internal_ControlHooks();
  hooks.documentViewOf = documentViewOfView;
  hooks.enclosingScrollView = scrollViewOf;
  hooks.isTextView = isTextView;
  hooks.textOf = textOfControl;
  hooks.setTextOf = setTextOfControl;
}
