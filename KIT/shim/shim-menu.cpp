// Menus of the window layer on the platform model's menus.
#include "KIT/shim/shim-menu.h"

#include <cstring>
#include <string>

#include "KIT/shim/shim-ctl.h"
#include "KIT/shim/shim-gdi-internal.h"
#include "KIT/shim/shim-hwnd.h"
#include "KIT/shim/shim-kb.h"
#include "KIT/shim/shim-objects.h"
#include "KIT/shim/shim-sys.h"
#include "platform/cocoa/image.h"
#include "platform/cocoa/menu.h"

struct HMENU__ {};

// The layer's menu: a platform menu with automatic enabling off, so that enabled flags stay exactly as set.
class Shim_vVexmir_menu : public cocoa::Menu, public HMENU__ {
 public:
  explicit Shim_vVexmir_menu(const std::string& title = "") : cocoa::Menu(title) { autoenablesItems = false; }
  // Set by DestroyMenu: the caller's reference is gone, though a menu being tracked lives on until the tracking ends.
  bool destroyed = false;
};

namespace {

cocoa::Menu* M(HMENU h) {
  return h ? static_cast<Shim_vVexmir_menu*>(h) : nullptr;
}

HMENU H(cocoa::Menu* m) {
  auto* s = m ? dynamic_cast<Shim_vVexmir_menu*>(m) : nullptr;
  return s ? static_cast<HMENU>(s) : nullptr;
}

std::string clean(const char* text) {
  char buf[4096];
  SHIM_CleanMenuTitle(text, buf, sizeof(buf));
  return buf;
}

// By position: that item of this menu. By id: the first item with that tag here, else depth first through the
// submenus in order.
cocoa::MenuItem* findItem(cocoa::Menu* m, int idx, bool byPos) {
  if (!m) return nullptr;
  if (byPos) return m->itemAt(idx);
  for (int i = 0; i < m->numberOfItems(); ++i) {
    if (m->itemAt(i)->tag == idx && !m->itemAt(i)->isSeparator()) return m->itemAt(i);
  }
  for (int i = 0; i < m->numberOfItems(); ++i) {
    if (cocoa::Menu* sub = m->itemAt(i)->submenu()) {
      if (cocoa::MenuItem* found = findItem(sub, idx, false)) return found;
    }
  }
  return nullptr;
}

void attachSubmenu(cocoa::MenuItem* item, HMENU sub, const std::string* title) {
  cocoa::Menu* sm = M(sub);
  if (title) sm->setTitle(*title);
  // The item's own submenu given back (a get-modify-set round trip) stays as it is: the item owns it already.
  if (item->submenu() == sm) return;
  item->setSubmenu(sm);
  sm->release();  // the item owns it now
}

// The receiver of one tracked popup menu.
class Shim_vVexmir_trackpopupmenurecv : public cocoa::Object,
                                        public SHIM_CommandReceiver,
                                        public cocoa::ActionTarget,
                                        public cocoa::MenuDelegate {
 public:
  explicit Shim_vVexmir_trackpopupmenurecv(HWND cb) : cbwnd(cb) {}
  void onShimCommand(cocoa::Object* sender) override {
    auto* item = sender ? sender->as<cocoa::MenuItem>() : nullptr;
    if (item && item->tag) m_act = item->tag;
  }
  void performAction(const std::string& action, cocoa::Object* sender) override {
    if (action == "onShimCommand:") onShimCommand(sender);
  }
  void menuNeedsUpdate(cocoa::Menu* menu) override {
    if (cbwnd) SendMessage(cbwnd, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(H(menu)), 0);
    SHIM_SetMenuDestination(H(menu), this);
  }
  int isCommand() const { return m_act; }
  int m_act = 0;
  HWND cbwnd;
};

}  // namespace

void SHIM_CleanMenuTitle(const char* in, char* out, int outSize) {
  if (!out || outSize < 1) return;
  int n = 0;
  const int limit = std::min(outSize - 1, 1023);
  for (const char* p = in ? in : ""; *p && n < limit; ++p) {
    if (*p == '&') {
      ++p;
      if (!*p) break;
      out[n++] = *p;
      continue;
    }
    if (*p == '\t') break;
    out[n++] = *p;
  }
  out[n] = 0;
}

HMENU CreatePopupMenu() {
  return H(new Shim_vVexmir_menu);
}

HMENU CreatePopupMenuEx(const char* title) {
  if (!title) return CreatePopupMenu();
  return H(new Shim_vVexmir_menu(clean(title)));
}

void DestroyMenu(HMENU menu) {
  if (!menu) return;
  // A menu destroyed while it is tracked (and so still in memory) is not released a second time.
  auto* own = static_cast<Shim_vVexmir_menu*>(menu);
  if (own->destroyed) return;
  own->destroyed = true;
  SHIM_SetMenuDestination(menu, nullptr);
  // Views and the application let go of it first, so that nothing keeps pointing at a released menu.
  SHIM_Internal_ForgetMenu(menu);
  M(menu)->release();
}

namespace {
// A copy of the menu as a menu of the layer, its submenus copied the same way, so that they are menus of the layer
// too (found by GetSubMenu, routing their commands when tracked).
Shim_vVexmir_menu* duplicate(cocoa::Menu* src) {
  auto* copy = new Shim_vVexmir_menu(src->title());
  cocoa::Menu* plain = src->copy();
  for (int i = 0; plain->numberOfItems() > 0; ++i) {
    cocoa::MenuItem* it = plain->itemAt(0);
    it->retain();
    plain->removeItemAt(0);
    cocoa::MenuItem* original = src->itemAt(i);
    if (original && original->submenu()) {
      Shim_vVexmir_menu* sub = duplicate(original->submenu());
      it->setSubmenu(sub);
      sub->release();
    }
    copy->addItem(it);
    it->release();
  }
  plain->release();
  return copy;
}
}  // namespace

HMENU SHIM_DuplicateMenu(HMENU menu) {
  if (!menu) return nullptr;
  return H(duplicate(M(menu)));
}

int AddMenuItem(HMENU menu, int pos, const char* name, int tagid) {
  if (!menu) return -1;
  auto* item = new cocoa::MenuItem(name ? name : "", true);
  item->tag = tagid;
  M(menu)->insertItem(item, pos);
  item->release();
  return 0;
}

void InsertMenuItem(HMENU menu, int pos, BOOL byPos, MENUITEMINFO* info) {
  if (!menu || !info) return;
  cocoa::Menu* m = M(menu);
  const int count = m->numberOfItems();
  if (!byPos) {
    int found = -1;
    for (int i = 0; i < count; ++i) {
      if (m->itemAt(i)->tag == pos) {
        found = i;
        break;
      }
    }
    pos = found;
  }
  if (pos < 0 || pos > count) pos = count;
  cocoa::MenuItem* item = nullptr;
  std::string title;
  if (info->fType == MFT_BITMAP) {
    // dwTypeData carries the icon handle of a bitmap item; the item shows its image without a title.
    item = new cocoa::MenuItem("", false);
    if (cocoa::Image* image = SHIM_Internal_ImageOfBitmap(reinterpret_cast<HGDIOBJ>(info->dwTypeData))) {
      item->setImage(image);
      image->release();
    }
  } else if (info->fType == MFT_STRING) {
    title = info->dwTypeData ? clean(info->dwTypeData) : "(null)";
    item = new cocoa::MenuItem(title, false);
  } else {
    item = cocoa::MenuItem::separator();
  }
  m->insertItem(item, pos);
  if ((info->fMask & MIIM_SUBMENU) && info->hSubMenu) attachSubmenu(item, info->hSubMenu, &title);
  if (count == 0) m->autoenablesItems = false;
  item->enabled = true;
  if (info->fMask & MIIM_STATE) {
    if (info->fState & 3) item->enabled = false;
    if (info->fState & MFS_CHECKED) item->state = 1;
  }
  if (info->fMask & MIIM_DATA) {
    auto* sdh = new Shim_vVexmir_sdh(static_cast<INT_PTR>(info->dwItemData));
    item->setRepresentedObject(sdh);
    sdh->release();
  } else {
    item->setRepresentedObject(nullptr);
  }
  if (info->fMask & MIIM_ID) item->tag = static_cast<int>(info->wID);
  cocoa::MenuItem* first = m->itemAt(0);
  if (first && first != item) {
    if (!first->action.empty()) item->action = first->action;
    if (first->target) item->target = first->target;
  }
  item->release();
}

void SHIM_InsertMenu(HMENU menu, int pos, unsigned flag, UINT_PTR idx, const char* str) {
  MENUITEMINFO mi;
  std::memset(&mi, 0, sizeof(mi));
  mi.cbSize = sizeof(mi);
  mi.fMask = MIIM_ID | MIIM_STATE | MIIM_TYPE;
  mi.fType = MFT_STRING;
  mi.fState = flag & ~0x400u;
  mi.wID = static_cast<UINT>(idx);
  mi.dwTypeData = const_cast<char*>(str);
  if (flag & MF_POPUP) {
    mi.hSubMenu = reinterpret_cast<HMENU>(idx);
    mi.wID = 0;
    mi.fMask = 15;
    mi.fState &= ~0x410u;
  }
  if (flag & MF_SEPARATOR) {
    mi.fMask = MIIM_TYPE;
    mi.fType = MFT_SEPARATOR;
    mi.fState &= ~0xC00u;
  }
  if (flag & MF_BITMAP) {
    mi.fType = MFT_BITMAP;
    mi.fState &= ~4u;
  }
  InsertMenuItem(menu, pos, (flag & MF_BYPOSITION) != 0, &mi);
}

void SHIM_Menu_AddMenuItem(HMENU menu, const char* name, int idx, int flags) {
  MENUITEMINFO mi;
  std::memset(&mi, 0, sizeof(mi));
  mi.cbSize = sizeof(mi);
  mi.fMask = 7;
  mi.fState = flags ? MFS_GRAYED : 0;
  mi.wID = static_cast<UINT>(idx);
  mi.dwTypeData = const_cast<char*>(name);
  if (!name) {
    mi.fMask = MIIM_TYPE;
    mi.fType = MFT_SEPARATOR;
  }
  InsertMenuItem(menu, GetMenuItemCount(menu), TRUE, &mi);
}

BOOL SetMenuItemInfo(HMENU menu, int pos, BOOL byPos, MENUITEMINFO* info) {
  if (!menu || !info) return FALSE;
  cocoa::MenuItem* item = findItem(M(menu), pos, byPos);
  if (!item) return FALSE;
  if ((info->fMask & MIIM_SUBMENU) && info->hSubMenu) attachSubmenu(item, info->hSubMenu, nullptr);
  if ((info->fMask & MIIM_TYPE) && info->fType == MFT_STRING && info->dwTypeData) {
    const std::string t = clean(info->dwTypeData);
    item->setTitle(t);
    if (item->submenu()) item->submenu()->setTitle(t);
  }
  if (info->fMask & MIIM_STATE) {
    item->state = (info->fState & MFS_CHECKED) ? 1 : 0;
    item->enabled = !(info->fState & 3);
  }
  if (info->fMask & MIIM_ID) item->tag = static_cast<int>(info->wID);
  if (info->fMask & MIIM_DATA) {
    auto* sdh = new Shim_vVexmir_sdh(static_cast<INT_PTR>(info->dwItemData));
    item->setRepresentedObject(sdh);
    sdh->release();
  }
  return TRUE;
}

BOOL GetMenuItemInfo(HMENU menu, int pos, BOOL byPos, MENUITEMINFO* info) {
  if (!menu || !info) return FALSE;
  cocoa::MenuItem* item = findItem(M(menu), pos, byPos);
  if (!item) return FALSE;
  if (info->fMask & MIIM_TYPE) {
    if (item->isSeparator()) {
      info->fType = MFT_SEPARATOR;
    } else {
      info->fType = MFT_STRING;
      if (info->dwTypeData && info->cch) lstrcpyn(info->dwTypeData, item->title().c_str(), static_cast<int>(info->cch));
    }
  }
  if (info->fMask & MIIM_DATA) {
    auto* sdh = item->representedObject() ? item->representedObject()->as<Shim_vVexmir_sdh>() : nullptr;
    info->dwItemData = sdh ? static_cast<ULONG_PTR>(sdh->getValue()) : 0;
  }
  if (info->fMask & MIIM_STATE) info->fState = (item->state == 1 ? MFS_CHECKED : 0) | (item->enabled ? 0 : 3);
  if (info->fMask & MIIM_ID) info->wID = static_cast<UINT>(item->tag);
  if ((info->fMask & MIIM_SUBMENU) && item->submenu()) info->hSubMenu = H(item->submenu());
  return TRUE;
}

BOOL SetMenuItemText(HMENU menu, int idx, int flag, const char* text) {
  cocoa::MenuItem* item = findItem(M(menu), idx, (flag & MF_BYPOSITION) != 0);
  if (!item) return FALSE;
  const std::string t = clean(text ? text : "");
  item->setTitle(t);
  if (item->submenu()) item->submenu()->setTitle(t);
  return TRUE;
}

BOOL SetMenuItemModifier(HMENU menu, int idx, int flag, int code, int mask) {
  cocoa::MenuItem* item = findItem(M(menu), idx, (flag & MF_BYPOSITION) != 0);
  if (!item) return FALSE;
  char32_t key = 0;
  bool upperLetter = false;
  const int c128 = code & 127;
  const bool letterOrDigit = (code >= 'A' && code <= 'Z') || (code >= '0' && code <= '9');
  const bool punct = !(mask & FVIRTKEY) && std::strchr("!\"',./?[\\]|", c128) && c128;
  if (letterOrDigit || punct) {
    key = static_cast<char32_t>(c128);
    if (!(mask & FSHIFT) && key >= 'A' && key <= 'Z') key = key - 'A' + 'a';
    upperLetter = key >= 'A' && key <= 'Z';
  } else if (code >= 0x70 && code <= 0x7B) {
    key = static_cast<char32_t>(code + 0xF694);
  } else {
    switch (code) {
      case 0x08:
        key = 8;
        break;
      case 0x21:
        key = 0xF72C;
        break;
      case 0x22:
        key = 0xF72D;
        break;
      case 0x23:
        key = 0xF72B;
        break;
      case 0x24:
        key = 0xF729;
        break;
      case 0x25:
        key = 0xF702;
        break;
      case 0x26:
        key = 0xF700;
        break;
      case 0x27:
        key = 0xF703;
        break;
      case 0x28:
        key = 0xF701;
        break;
      case 0x2D:
        key = 0xF727;
        break;
      case 0x2E:
        key = 0x7F;
        break;
      case 0x6D:
        key = '-';
        break;
      default:
        break;
    }
  }
  uint32_t mods = 0;
  if (mask & FCONTROL) mods |= cocoa::kCommandKeyMask;
  if (mask & FALT) mods |= cocoa::kAlternateKeyMask;
  if (mask & FLWIN) mods |= cocoa::kControlKeyMask;
  if ((mask & FSHIFT) && !upperLetter) mods |= cocoa::kShiftKeyMask;
  item->keyEquivalent = key ? cocoa::utf8Of(key) : std::string();
  item->keyEquivalentModifierMask = mods;
  return TRUE;
}

BOOL EnableMenuItem(HMENU menu, int idx, int flag) {
  cocoa::MenuItem* item = findItem(M(menu), idx, (flag & MF_BYPOSITION) != 0);
  if (!item) return FALSE;
  item->enabled = !(flag & MF_GRAYED);
  return TRUE;
}

BOOL CheckMenuItem(HMENU menu, int idx, int flag) {
  if (!menu) return FALSE;
  cocoa::MenuItem* item = findItem(M(menu), idx, (flag & MF_BYPOSITION) != 0);
  if (!item) return FALSE;
  item->state = (flag & MF_CHECKED) ? 1 : 0;
  return TRUE;
}

BOOL DeleteMenu(HMENU menu, int idx, int flag) {
  if (!menu) return FALSE;
  cocoa::MenuItem* item = findItem(M(menu), idx, (flag & MF_BYPOSITION) != 0);
  if (!item) return FALSE;
  cocoa::Menu* holder = item->menu();
  if (item->submenu()) {
    SHIM_SetMenuDestination(H(item->submenu()), nullptr);
    item->setSubmenu(nullptr);
  }
  if (holder) holder->removeItemAt(holder->indexOfItem(item));
  return TRUE;
}

HMENU GetSubMenu(HMENU menu, int pos) {
  cocoa::MenuItem* item = menu ? M(menu)->itemAt(pos) : nullptr;
  return item ? H(item->submenu()) : nullptr;
}

int GetMenuItemCount(HMENU menu) {
  return menu ? M(menu)->numberOfItems() : 0;
}

int GetMenuItemID(HMENU menu, int pos) {
  cocoa::MenuItem* item = menu ? M(menu)->itemAt(pos) : nullptr;
  if (!item) return 0;
  return item->submenu() ? -1 : item->tag;
}

void SHIM_SetMenuDestination(HMENU menu, HWND target) {
  if (!menu) return;
  if (target && !target->as<SHIM_CommandReceiver>()) return;
  cocoa::Menu* m = M(menu);
  m->delegate = target ? target->as<cocoa::MenuDelegate>() : nullptr;
  for (int i = 0; i < m->numberOfItems(); ++i) {
    cocoa::MenuItem* item = m->itemAt(i);
    if (cocoa::Menu* sub = item->submenu()) {
      SHIM_SetMenuDestination(H(sub), target);
    } else if (item->tag) {
      item->target = target;
      if (target) item->action = "onShimCommand:";
    }
  }
}

int TrackPopupMenu(HMENU menu, int flags, int x, int y, int, HWND hwnd, const RECT*) {
  if (!menu) return 0;
  cocoa::View* anchor = SHIM_ViewOf(hwnd);
  if (!anchor) {
    cocoa::Window* kw = cocoa::application::keyWindow();
    anchor = kw ? kw->contentView() : nullptr;
  }
  if (!anchor) return 0;
  cocoa::Window* w = anchor->window();
  const cocoa::Point base = w ? w->convertScreenToBase(cocoa::Point{static_cast<double>(x), static_cast<double>(y)})
                              : cocoa::Point{static_cast<double>(x), static_cast<double>(y)};
  cocoa::Event* ev = cocoa::Event::mouseEvent(cocoa::kApplicationDefined, cocoa::Point{base.x, base.y - 4}, 0, w);
  if (cocoa::Event* cur = cocoa::Application::shared()->currentEvent()) ev->timestamp = cur->timestamp;
  auto* recv = new Shim_vVexmir_trackpopupmenurecv((flags & TPM_NONOTIFY) ? nullptr : hwnd);
  // The window and the view the menu opens over stay until the chosen command has been sent, whatever the menu's
  // handlers destroy meanwhile.
  anchor->retain();
  if (hwnd) hwnd->retain();
  // The menu stays for the whole tracking, even when a handler destroys it meanwhile (its memory goes after).
  M(menu)->retain();
  SHIM_SetMenuDestination(menu, recv);
  if (!(flags & TPM_NONOTIFY) && hwnd) {
    SendMessage(hwnd, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(menu), 0);
    SHIM_SetMenuDestination(menu, recv);
  }
  // The receiver answers the menus' update questions itself while the menu is open.
  M(menu)->delegate = recv;
  cocoa::Menu::popUpContextMenu(M(menu), ev, anchor);
  const int act = recv->isCommand();
  SHIM_SetMenuDestination(menu, nullptr);
  M(menu)->release();
  recv->release();
  ev->release();
  int result = 0;
  if (act > 0 && (flags & TPM_RETURNCMD)) {
    result = act;
  } else if (act > 0) {
    if (hwnd) SendMessage(hwnd, WM_COMMAND, static_cast<WPARAM>(act), 0);
    result = 1;
  }
  if (hwnd) hwnd->release();
  anchor->release();
  return result;
}

int SHIM_GenerateMenuFromList(HMENU menu, const SHIM_MenuListEntry* records, int count) {
  int consumed = 0;
  while (count > 0 && records) {
    const SHIM_MenuListEntry& r = *records;
    ++consumed;
    ++records;
    --count;
    if (r.name && std::strcmp(r.name, SHIM_MENU_POPUP_END) == 0) return consumed;
    if (!r.name) {
      SHIM_Menu_AddMenuItem(menu, nullptr, 0, 0);
      continue;
    }
    if (std::strncmp(r.name, SHIM_MENU_POPUP_PREFIX, 7) == 0) {
      HMENU sub = CreatePopupMenuEx(r.name + 7);
      // The walk into the submenu stops where the records run out, whatever the table claims.
      const int used = SHIM_GenerateMenuFromList(sub, records, count);
      const int step = std::min(used, count);
      records += step;
      count -= step;
      consumed += step;
      MENUITEMINFO mi;
      std::memset(&mi, 0, sizeof(mi));
      mi.cbSize = sizeof(mi);
      mi.fMask = MIIM_STATE | MIIM_TYPE | MIIM_SUBMENU;
      mi.hSubMenu = sub;
      mi.dwTypeData = const_cast<char*>(r.name + 7);
      InsertMenuItem(menu, GetMenuItemCount(menu), TRUE, &mi);
      continue;
    }
    SHIM_Menu_AddMenuItem(menu, r.name, r.id, r.flags);
  }
  // A table without its closing record counts one more, as if the close had been read.
  return consumed + 1;
}

HMENU SHIM_LoadMenu(SHIM_MenuResourceIndex* head, const char* resid) {
  for (SHIM_MenuResourceIndex* r = head; r; r = r->_next) {
    if (r->resid == resid) {
      HMENU m = CreatePopupMenu();
      if (r->createFunc) r->createFunc(m);
      return m;
    }
  }
  return nullptr;
}

BOOL SetMenu(HWND hwnd, HMENU menu) {
  if (!hwnd || g_shim_terminating) return FALSE;
  Shim_vVexmir_hwnd* v = SHIM_WindowViewOf(hwnd);
  if (!v) return FALSE;
  v->shimSetMenu(menu);
  cocoa::Window* w = hwnd->as<cocoa::Window>();
  if (!w && SHIM_IsContentView(v)) w = v->window();
  if (w && w->isKeyWindow() && SHIM_GetCurrentMenu() != menu) {
    cocoa::application::setMainMenu(M(menu));
    if (menu) SendMessage(hwnd, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(menu), 0);
  }
  return TRUE;
}

HMENU GetMenu(HWND hwnd) {
  Shim_vVexmir_hwnd* v = SHIM_WindowViewOf(hwnd);
  return v ? v->shimGetMenu() : nullptr;
}

void DrawMenuBar(HWND) {}

HMENU SHIM_GetCurrentMenu() {
  return H(cocoa::application::mainMenu());
}

void SHIM_SetCurrentMenu(HMENU menu) {
  if (g_shim_terminating || !menu) return;
  cocoa::application::setMainMenu(M(menu));
}

cocoa::Menu* SHIM_MenuObject(HMENU menu) {
  return M(menu);
}

HMENU SHIM_MenuHandle(cocoa::Menu* menu) {
  return H(menu);
}
