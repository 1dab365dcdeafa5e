// Menus of the window layer: HMENU is a platform menu; items by position or command id, MENUITEMINFO, checked and
// greyed items, key equivalents, submenus, context menus tracked with the command sent to a window, menus from
// tables and resources, and the menu of a window. Main thread only.
#pragma once

#include "KIT/shim/shim-types.h"

#define MIIM_ID 1
#define MIIM_STATE 2
#define MIIM_TYPE 4
#define MIIM_SUBMENU 8
#define MIIM_DATA 16
#define MFT_STRING 0
#define MFT_BITMAP 4
#define MFT_SEPARATOR 0x800
#define MFS_CHECKED 8
#define MFS_GRAYED 3
#define MF_BYCOMMAND 0
#define MF_BYPOSITION 0x400
#define MF_POPUP 0x10
#define MF_SEPARATOR 0x800
#define MF_BITMAP 4
#define MF_CHECKED 8
#define MF_UNCHECKED 0
#define MF_GRAYED 1
#define MF_DISABLED 2
#define MF_ENABLED 0
#define MF_STRING 0
#define TPM_NONOTIFY 0x80
#define TPM_RETURNCMD 0x100

// Pointer-sized where a handle, pointer or item data travels.
typedef struct tagMENUITEMINFO {
  UINT cbSize;
  UINT fMask;
  UINT fType;
  UINT fState;
  UINT wID;
  HMENU hSubMenu;
  HANDLE hbmpChecked;
  HANDLE hbmpUnchecked;
  ULONG_PTR dwItemData;
  char* dwTypeData;
  UINT cch;
} MENUITEMINFO;

struct SHIM_MenuResourceIndex {
  const char* resid;
  void (*createFunc)(HMENU);
  SHIM_MenuResourceIndex* _next;
};

struct SHIM_MenuListEntry {
  const char* name;
  unsigned short id;
  unsigned short flags;
};
#define SHIM_MENU_POPUP_PREFIX "/.BO^O:"
#define SHIM_MENU_POPUP_END "EN%%%^:"

HMENU CreatePopupMenu();
HMENU CreatePopupMenuEx(const char* title);
void DestroyMenu(HMENU menu);
HMENU SHIM_DuplicateMenu(HMENU menu);
int AddMenuItem(HMENU menu, int pos, const char* name, int tagid);
void SHIM_Menu_AddMenuItem(HMENU menu, const char* name, int idx, int flags);
void InsertMenuItem(HMENU menu, int pos, BOOL byPos, MENUITEMINFO* info);
void SHIM_InsertMenu(HMENU menu, int pos, unsigned flag, UINT_PTR idx, const char* str);
BOOL SetMenuItemInfo(HMENU menu, int pos, BOOL byPos, MENUITEMINFO* info);
BOOL GetMenuItemInfo(HMENU menu, int pos, BOOL byPos, MENUITEMINFO* info);
BOOL SetMenuItemText(HMENU menu, int idx, int flag, const char* text);
BOOL SetMenuItemModifier(HMENU menu, int idx, int flag, int code, int mask);
BOOL EnableMenuItem(HMENU menu, int idx, int flag);
BOOL CheckMenuItem(HMENU menu, int idx, int flag);
BOOL DeleteMenu(HMENU menu, int idx, int flag);
HMENU GetSubMenu(HMENU menu, int pos);
int GetMenuItemCount(HMENU menu);
int GetMenuItemID(HMENU menu, int pos);
void SHIM_SetMenuDestination(HMENU menu, HWND target);
int TrackPopupMenu(HMENU menu, int flags, int x, int y, int resvd, HWND hwnd, const RECT* r);
int SHIM_GenerateMenuFromList(HMENU menu, const SHIM_MenuListEntry* records, int count);
HMENU SHIM_LoadMenu(SHIM_MenuResourceIndex* head, const char* resid);
BOOL SetMenu(HWND hwnd, HMENU menu);
HMENU GetMenu(HWND hwnd);
void DrawMenuBar(HWND hwnd);
HMENU SHIM_GetCurrentMenu();
void SHIM_SetCurrentMenu(HMENU menu);
// The cleaned title of a menu text: "&" dropped (the character after it kept), cut at an unescaped tab, at most
// 1023 characters.
void SHIM_CleanMenuTitle(const char* in, char* out, int outSize);
