// The window layer's controls: list views and list boxes, tree views, buttons, popup lists and combo boxes,
// trackbars, text fields and text views, group boxes, tab controls and progress bars, with their Win32-style
// records, messages and functions. Records that carry a pointer, a handle or an item value keep them
// pointer-sized (HWND, HTREEITEM, LPARAM, text pointers), everything else keeps its Win32 width.
#pragma once

#include "KIT/shim/shim-types.h"
#include "KIT/shim/shim-wnd.h"

// ---- Notifications ----

#ifndef WM_SETFONT
#define WM_SETFONT 0x0030
#endif

#define NM_CLICK (-2)
#define NM_RCLICK (-5)
#define LVN_ITEMCHANGED (-101)
#define LVN_BEGINDRAG (-109)
#define LVN_GETDISPINFO (-150)
#define TVN_SELCHANGED (-402)
#define TCN_SELCHANGE (-551)

// ---- List views ----

#define LVS_REPORT 0x1
#define LVS_SINGLESEL 0x4
#define LVS_SORTASCENDING 0x10
#define LVS_SORTDESCENDING 0x20
#define LVS_OWNERDATA 0x1000
#define LVS_NOCOLUMNHEADER 0x4000
#define LBS_SORT 0x2
#define LBS_OWNERDRAWFIXED 0x10
#define LBS_EXTENDEDSEL 0x800

#define LVIF_TEXT 1
#define LVIF_IMAGE 2
#define LVIF_PARAM 4
#define LVIF_STATE 8
// This layer's state bits (Win32 swaps the first two and keeps the state image in bits 12 to 15).
#define LVIS_SELECTED 1
#define LVIS_FOCUSED 2
#define LVIS_STATEIMAGEMASK 0xFF0000
#define INDEXTOSTATEIMAGEMASK(i) ((UINT)(i) << 16)

#define LVCF_FMT 1
#define LVCF_WIDTH 2
#define LVCF_TEXT 4
#define LVCFMT_LEFT 0
#define LVCFMT_RIGHT 1
#define LVCFMT_CENTER 2

#define HDI_FORMAT 4
#define HDF_SORTDOWN 0x200
#define HDF_SORTUP 0x400

#define LVHT_NOWHERE 1
#define LVHT_ONITEMLABEL 4
#define LVHT_ONITEMSTATEICON 8
#define LVHT_ABOVE 0x10
#define LVHT_BELOW 0x20
#define LVHT_TORIGHT 0x40
#define LVHT_TOLEFT 0x80

// This layer's next-item flags (Win32 swaps them).
#define LVNI_SELECTED 1
#define LVNI_FOCUSED 2

#define LVS_EX_GRIDLINES 1
#define LVS_EX_HEADERDRAGDROP 0x10

#define LVSIL_STATE 1
#define LVSIL_SMALL 2

// List-box messages (this layer's numbers; LB_GETTEXT is 0x189 on Win32).
#define LB_ADDSTRING 0x180
#define LB_INSERTSTRING 0x181
#define LB_DELETESTRING 0x182
#define LB_GETTEXT 0x183
#define LB_RESETCONTENT 0x184
#define LB_SETSEL 0x185
#define LB_SETCURSEL 0x186
#define LB_GETSEL 0x187
#define LB_GETCURSEL 0x188
#define LB_GETTEXTLEN 0x18A
#define LB_GETCOUNT 0x18B
#define LB_GETSELCOUNT 0x190
#define LB_GETITEMDATA 0x199
#define LB_SETITEMDATA 0x19A
#define LB_ERR (-1)

typedef struct tagLVITEM {
  UINT mask;
  int iItem;
  int iSubItem;
  UINT state;
  UINT stateMask;
  char* pszText;
  int cchTextMax;
  int iImage;
  LPARAM lParam;
} LVITEM, *LPLVITEM;

typedef struct tagLVCOLUMN {
  UINT mask;
  int fmt;
  int cx;
  char* pszText;
  int cchTextMax;
  int iSubItem;
} LVCOLUMN, *LPLVCOLUMN;

typedef struct tagHDITEM {
  UINT mask;
  int cxy;
  char* pszText;
  HBITMAP hbm;
  int cchTextMax;
  int fmt;
  LPARAM lParam;
} HDITEM, *LPHDITEM;

typedef struct tagLVHITTESTINFO {
  POINT pt;
  UINT flags;
  int iItem;
  int iSubItem;
} LVHITTESTINFO, *LPLVHITTESTINFO;

typedef struct tagNMLISTVIEW {
  NMHDR hdr;
  int iItem;
  int iSubItem;
  UINT uNewState;
  UINT uOldState;
  UINT uChanged;
  POINT ptAction;
  LPARAM lParam;
} NMLISTVIEW, *LPNMLISTVIEW;

typedef struct tagNMLVDISPINFO {
  NMHDR hdr;
  LVITEM item;
} NMLVDISPINFO;

#define ODT_LISTBOX 2
#define ODT_BUTTON 4

typedef struct tagDRAWITEMSTRUCT {
  UINT CtlType;
  UINT CtlID;
  UINT itemID;
  UINT itemAction;
  UINT itemState;
  HWND hwndItem;
  HDC hDC;
  RECT rcItem;
  ULONG_PTR itemData;
} DRAWITEMSTRUCT, *LPDRAWITEMSTRUCT;

typedef int (*PFNLVCOMPARE)(LPARAM a, LPARAM b, LPARAM sortParam);

int ListView_GetItemCount(HWND h);
int ListView_InsertItem(HWND h, const LVITEM* item);
bool ListView_SetItemState(HWND h, int item, UINT state, UINT mask);
UINT ListView_GetItemState(HWND h, int item, UINT mask);
bool ListView_GetItemText(HWND h, int item, int subitem, char* buffer, int size);
// The length of an item's text in bytes, -1 for a missing item (owner-data items have no stored text: 0).
int SHIM_ListView_GetItemTextLength(HWND h, int item, int subitem);
void ListView_DeleteItem(HWND h, int item);
void ListView_SetBkColor(HWND h, int colour);
void ListView_SetGridColor(HWND h, int colour);
void ListView_SetTextColor(HWND h, int colour);
void ListView_SetTextBkColor(HWND h, int colour);
void ListView_SetSelColors(HWND h, const int* colours, int count);

void ListView_InsertColumn(HWND h, int position, const LVCOLUMN* column);
void ListView_SetColumn(HWND h, int column, const LVCOLUMN* record);
bool ListView_DeleteColumn(HWND h, int column);
int ListView_GetColumnWidth(HWND h, int column);
void ListView_SetColumnWidth(HWND h, int column, int width);
bool ListView_GetColumnOrderArray(HWND h, int count, int* order);
bool ListView_SetColumnOrderArray(HWND h, int count, const int* order);
HWND ListView_GetHeader(HWND h);
int Header_GetItemCount(HWND header);
bool Header_GetItem(HWND header, int column, HDITEM* item);
bool Header_SetItem(HWND header, int column, const HDITEM* item);

bool ListView_GetItem(HWND h, LVITEM* item);
bool ListView_SetItem(HWND h, const LVITEM* item);
void ListView_SetItemText(HWND h, int item, int subitem, const char* text);
int ListView_GetNextItem(HWND h, int start, int flags);
int ListView_GetSelectedCount(HWND h);
int ListView_GetSelectionMark(HWND h);
void ListView_RedrawItems(HWND h, int first, int last);
void ListView_DeleteAllItems(HWND h);
void ListView_SetItemCount(HWND h, int count);
void ListView_EnsureVisible(HWND h, int item, bool partialOK);
void ListView_SortItems(HWND h, PFNLVCOMPARE compare, LPARAM sortParam);

int ListView_HitTest(HWND h, LVHITTESTINFO* info);
int ListView_SubItemHitTest(HWND h, LVHITTESTINFO* info);
bool ListView_GetItemRect(HWND h, int item, RECT* r, int code);
bool ListView_GetSubItemRect(HWND h, int item, int subitem, int code, RECT* r);
int SHIM_GetListViewHeaderHeight(HWND h);
int ListView_GetTopIndex(HWND h);
int ListView_GetCountPerPage(HWND h);
bool ListView_Scroll(HWND h, int dx, int dy);
bool ListView_GetScroll(HWND h, POINT* p);

void ListView_SetExtendedListViewStyleEx(HWND h, int mask, int styles);
void SHIM_SetListViewFastClickMask(HWND h, int mask);
void ListView_SetImageList(HWND h, HIMAGELIST list, int kind);

// ---- Tree views ----

#define TVIF_TEXT 1
#define TVIF_PARAM 4
#define TVIF_HANDLE 0x10
#define TVIF_CHILDREN 0x40
#define TVIS_SELECTED 2
#define TVIS_EXPANDED 0x20
#define TVE_COLLAPSE 1
#define TVE_EXPAND 2
#define TVE_TOGGLE 3

// The special insertion handles are pointer constants, as on 64-bit Win32.
#define TVI_ROOT ((HTREEITEM)(ULONG_PTR)-0x10000)
#define TVI_FIRST ((HTREEITEM)(ULONG_PTR)-0x0FFFF)
#define TVI_LAST ((HTREEITEM)(ULONG_PTR)-0x0FFFE)
#define TVI_SORT ((HTREEITEM)(ULONG_PTR)-0x0FFFD)

typedef struct tagTVITEM {
  UINT mask;
  HTREEITEM hItem;
  UINT state;
  UINT stateMask;
  char* pszText;
  int cchTextMax;
  int iImage;
  int iSelectedImage;
  int cChildren;
  LPARAM lParam;
} TVITEM, *LPTVITEM;

typedef struct tagTVINSERTSTRUCT {
  HTREEITEM hParent;
  HTREEITEM hInsertAfter;
  TVITEM item;
} TVINSERTSTRUCT, *LPTVINSERTSTRUCT;

typedef struct tagTVHITTESTINFO {
  POINT pt;
  UINT flags;
  HTREEITEM hItem;
} TVHITTESTINFO, *LPTVHITTESTINFO;

typedef struct tagNMTREEVIEW {
  NMHDR hdr;
  UINT action;
  TVITEM itemOld;
  TVITEM itemNew;
  POINT ptDrag;
} NMTREEVIEW, *LPNMTREEVIEW;

HTREEITEM TreeView_InsertItem(HWND h, TVINSERTSTRUCT* ins);
void TreeView_DeleteItem(HWND h, HTREEITEM item);
bool TreeView_GetItem(HWND h, TVITEM* item);
bool TreeView_SetItem(HWND h, TVITEM* item);
void TreeView_SelectItem(HWND h, HTREEITEM item);
HTREEITEM TreeView_GetSelection(HWND h);
bool TreeView_Expand(HWND h, HTREEITEM item, UINT code);
HTREEITEM TreeView_HitTest(HWND h, TVHITTESTINFO* info);
HTREEITEM TreeView_GetRoot(HWND h);
HTREEITEM TreeView_GetChild(HWND h, HTREEITEM item);
HTREEITEM TreeView_GetNextSibling(HWND h, HTREEITEM item);
bool TreeView_SetIndent(HWND h, int indent);
void TreeView_SetBkColor(HWND h, int colour);
void TreeView_SetTextColor(HWND h, int colour);

// ---- Buttons, combo boxes, popup lists, trackbars, dialog-item numbers ----

#define CBS_DROPDOWNLIST 3
#define CBS_SORT 0x100
#define CB_ERR (-1)

void CheckDlgButton(HWND parent, int id, int check);
int IsDlgButtonChecked(HWND parent, int id);

int SHIM_CB_AddString(HWND parent, int id, const char* text);
int SHIM_CB_InsertString(HWND parent, int id, int index, const char* text);
void SHIM_CB_DeleteString(HWND parent, int id, int index);
int SHIM_CB_GetNumItems(HWND parent, int id);
int SHIM_CB_GetCurSel(HWND parent, int id);
void SHIM_CB_SetCurSel(HWND parent, int id, int index);
// Copies at most size - 1 bytes of the item's text and a terminator; a size below 1 writes nothing.
bool SHIM_CB_GetItemText(HWND parent, int id, int index, char* buffer, int size);
// The byte length of an item's text, -1 (CB_ERR) for a missing control or item.
int SHIM_CB_GetItemTextLength(HWND parent, int id, int index);
LPARAM SHIM_CB_GetItemData(HWND parent, int id, int index);
void SHIM_CB_SetItemData(HWND parent, int id, int index, LPARAM value);
void SHIM_CB_Empty(HWND parent, int id);
int SHIM_CB_FindString(HWND parent, int id, int startAfter, const char* text, bool exact);

int SHIM_TB_GetPos(HWND parent, int id);
void SHIM_TB_SetPos(HWND parent, int id, int position);
void SHIM_TB_SetRange(HWND parent, int id, int minimum, int maximum);
void SHIM_TB_SetTic(HWND parent, int id, int position);

BOOL SetDlgItemInt(HWND parent, int id, UINT value, BOOL isSigned);
UINT GetDlgItemInt(HWND parent, int id, BOOL* translated, BOOL isSigned);

// ---- Text views ----

#define EM_SCROLL 0xF0B5
#define SB_TOP 6
#define SB_BOTTOM 7

// ---- Group boxes and tab controls ----

#define TCIF_TEXT 1

typedef struct tagTCITEM {
  UINT mask;
  DWORD dwState;
  DWORD dwStateMask;
  char* pszText;
  int cchTextMax;
  int iImage;
  LPARAM lParam;
} TCITEM, *LPTCITEM;

int TabCtrl_GetItemCount(HWND h);
int TabCtrl_InsertItem(HWND h, int index, const TCITEM* item);
bool TabCtrl_DeleteItem(HWND h, int index);
int TabCtrl_SetCurSel(HWND h, int index);
int TabCtrl_GetCurSel(HWND h);
bool TabCtrl_AdjustRect(HWND h, bool larger, RECT* r);

// ---- Progress bars ----

#define PBM_SETRANGE 0x401
#define PBM_SETPOS 0x402
#define PBM_DELTAPOS 0x403

// ---- Control kinds, natural size, child windows ----

bool SHIM_IsGroupBox(HWND h);
bool SHIM_IsButton(HWND h);
bool SHIM_IsStaticText(HWND h);
void SHIM_GetDesiredControlSize(HWND h, RECT* r);
BOOL EnumChildWindows(HWND h, BOOL (*proc)(HWND, LPARAM), LPARAM lParam);

// ---- Window extras ----

namespace cocoa {
class Event;
}

// Delivers a mouse event to the outermost view under it that claims the point as non-client area (WM_NCHITTEST
// above 1); false when none does, while a window holds the capture, and for other event types.
bool SHIM_HandleMouseEvent(cocoa::Event* event);
int SHIM_GetWindowWantRaiseAmt(HWND h);
void SHIM_SetWindowWantRaiseAmt(HWND h, int amount);
// The previous level, 0 when there is no window.
int SHIM_SetWindowLevel(HWND h, int level);
void SetOpaque(HWND h, bool opaque);
void SetTransparent(HWND h);
void SHIM_SetWindowShadow(HWND h, bool shadow);
int SHIM_GetDefaultButtonID(HWND h, bool onlyIfEnabled);
void SHIM_SetWindowRepre(HWND h, const char* filename, bool isDirty);
// 0 restores the presentation the application had at the first call, 1 hides Dock and menu bar automatically,
// 2 or more hides the Dock and the menu bar automatically; false when the system cannot.
bool SHIM_SetAppAutoHideMenuAndDock(int mode);
