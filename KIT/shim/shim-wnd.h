// Windows of the window layer: the window view (an HWND is a view or a top-level window of the platform model),
// top-level windows and dialogs, the dialog-resource list, message dispatch, the per-window values, text,
// visibility and relations, geometry and repainting, modal sessions, painting, capture, the default window
// procedure, dropped files and the clipboard. Main thread only, like the platform objects behind them.
#pragma once

#include "KIT/shim/shim-gdi.h"
#include "KIT/shim/shim-types.h"

// ---- Messages ----
#define WM_CREATE 0x0001
#define WM_DESTROY 0x0002
#define WM_MOVE 0x0003
#define WM_SIZE 0x0005
#define WM_ACTIVATE 0x0006
#define WM_SETFOCUS 0x0007
#define WM_PAINT 0x000F
#define WM_CLOSE 0x0010
#define WM_ERASEBKGND 0x0014
#define WM_SHOWWINDOW 0x0018
#define WM_SETCURSOR 0x0020
#define WM_MOUSEACTIVATE 0x0021
#define WM_GETMINMAXINFO 0x0024
#define WM_DRAWITEM 0x002B
#define WM_GETOBJECT 0x003D
#define WM_NOTIFY 0x004E
#define WM_CONTEXTMENU 0x007B
#define WM_DISPLAYCHANGE 0x007E
#define WM_NCCALCSIZE 0x0083
#define WM_NCHITTEST 0x0084
#define WM_NCPAINT 0x0085
#define WM_NCMOUSEMOVE 0x00A0
#define WM_NCLBUTTONDOWN 0x00A1
#define WM_NCLBUTTONUP 0x00A2
#define WM_NCLBUTTONDBLCLK 0x00A3
#define WM_NCRBUTTONDOWN 0x00A4
#define WM_NCRBUTTONUP 0x00A5
#define WM_NCRBUTTONDBLCLK 0x00A6
#define WM_NCMBUTTONDOWN 0x00A7
#define WM_NCMBUTTONUP 0x00A8
#define WM_NCMBUTTONDBLCLK 0x00A9
#define WM_KEYDOWN 0x0100
#define WM_KEYUP 0x0101
#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111
#define WM_HSCROLL 0x0114
#define WM_VSCROLL 0x0115
#define WM_INITMENUPOPUP 0x0117
#define WM_GESTURE 0x0119
#define WM_CTLCOLORBTN 0x0135
#define WM_CTLCOLORDLG 0x0136
#define WM_CTLCOLORSTATIC 0x0138
#define WM_MOUSEFIRST 0x0200
#define WM_MOUSEMOVE 0x0200
#define WM_LBUTTONDOWN 0x0201
#define WM_LBUTTONUP 0x0202
#define WM_LBUTTONDBLCLK 0x0203
#define WM_RBUTTONDOWN 0x0204
#define WM_RBUTTONUP 0x0205
#define WM_RBUTTONDBLCLK 0x0206
#define WM_MBUTTONDOWN 0x0207
#define WM_MBUTTONUP 0x0208
#define WM_MBUTTONDBLCLK 0x0209
#define WM_MOUSEWHEEL 0x020A
#define WM_MOUSEHWHEEL 0x020E
#define WM_CAPTURECHANGED 0x0215
#define WM_DROPFILES 0x0233
#define WM_USER 0x0400

// Button, combo-box, trackbar and edit messages handled inside SendMessage for plain platform controls (the edit
// messages are the Win32 numbers plus 0xF000).
#define BM_GETCHECK 0x00F0
#define BM_SETCHECK 0x00F1
#define BM_GETIMAGE 0x00F6
#define BM_SETIMAGE 0x00F7
#define BST_UNCHECKED 0
#define BST_CHECKED 1
#define BST_INDETERMINATE 2
#define CB_ADDSTRING 0x0143
#define CB_DELETESTRING 0x0144
#define CB_GETCOUNT 0x0146
#define CB_GETCURSEL 0x0147
#define CB_GETLBTEXT 0x0148
#define CB_GETLBTEXTLEN 0x0149
#define CB_INSERTSTRING 0x014A
#define CB_RESETCONTENT 0x014B
#define CB_FINDSTRING 0x014C
#define CB_SETCURSEL 0x014E
#define CB_GETITEMDATA 0x0150
#define CB_SETITEMDATA 0x0151
#define CB_FINDSTRINGEXACT 0x0158
#define TBM_GETPOS 0x0400
#define TBM_GETRANGEMIN 0x0401
#define TBM_GETRANGEMAX 0x0402
#define TBM_GETTIC 0x0403
#define TBM_SETTIC 0x0404
#define TBM_SETPOS 0x0405
#define TBM_SETRANGE 0x0406
#define EM_GETSEL 0xF0B0
#define EM_SETSEL 0xF0B1
#define EM_SETPASSWORDCHAR 0xF0CC

// Commands and notification codes.
#define IDOK 1
#define IDCANCEL 2
#define IDABORT 3
#define IDRETRY 4
#define IDIGNORE 5
#define IDYES 6
#define IDNO 7
#define BN_CLICKED 0
#define EN_CHANGE 0x0300
#define NM_DBLCLK (-3)
#define HTCLIENT 1

// SetWindowLong / GetWindowLong indices and styles.
#define GWL_USERDATA (-21)
#define GWL_EXSTYLE (-20)
#define GWL_STYLE (-16)
#define GWL_ID (-12)
#define DWL_DLGPROC (-8)
#define GWL_WNDPROC (-4)
#define WS_CHILD 0x40000000
#define WS_CAPTION 0x00C00000
#define WS_THICKFRAME 0x00040000
#define WS_GROUP 0x00020000
#define WS_HSCROLL 0x00100000
#define WS_VSCROLL 0x00200000
#define WS_EX_ACCEPTFILES 0x00000010
#define BS_AUTOCHECKBOX 3
#define BS_AUTO3STATE 6
#define BS_AUTORADIOBUTTON 9
#define BS_OWNERDRAW 11
#define BS_LEFTTEXT 0x20

// ShowWindow commands (this layer's numbering), GetWindow relations, SetWindowPos flags and insert-after values.
#define SW_HIDE 0
#define SW_SHOWNA 1
#define SW_SHOW 2
#define SW_SHOWMINIMIZED 3
#define GW_HWNDFIRST 0
#define GW_HWNDLAST 1
#define GW_HWNDNEXT 2
#define GW_HWNDPREV 3
#define GW_OWNER 4
#define GW_CHILD 5
#define SWP_NOMOVE 1
#define SWP_NOSIZE 2
#define SWP_NOZORDER 4
#define HWND_TOP ((HWND)(intptr_t)0)
#define HWND_BOTTOM ((HWND)(intptr_t)1)
#define HWND_TOPMOST ((HWND)(intptr_t)-1)
#define HWND_NOTOPMOST ((HWND)(intptr_t)-2)
#define SM_CXSCREEN 0
#define SM_CYSCREEN 1

// ---- Records (pointer-sized wherever a pointer or handle travels) ----

typedef struct tagNMHDR {
  HWND hwndFrom;
  UINT_PTR idFrom;
  int code;
} NMHDR, *LPNMHDR;

typedef struct tagPAINTSTRUCT {
  HDC hdc;
  BOOL fErase;
  RECT rcPaint;
} PAINTSTRUCT;

typedef struct tagNCCALCSIZE_PARAMS {
  RECT rgrc[3];
  void* lppos;
} NCCALCSIZE_PARAMS;

typedef struct tagMINMAXINFO {
  POINT ptReserved;
  POINT ptMaxSize;
  POINT ptMaxPosition;
  POINT ptMinTrackSize;
  POINT ptMaxTrackSize;
} MINMAXINFO;

// The gesture record of WM_GESTURE.
typedef struct tagGESTUREINFO {
  UINT cbSize;
  DWORD dwFlags;
  DWORD dwID;
  HWND hwndTarget;
  struct {
    short x, y;
  } ptsLocation;
  DWORD dwInstanceID;
  DWORD dwSequenceID;
  ULONGLONG ullArguments;
  UINT cbExtraArgs;
} GESTUREINFO;
#define GF_BEGIN 1
#define GF_END 4
#define GID_ZOOM 3
#define GID_PAN 4
#define GID_ROTATE 5

// A registered dialog resource. Window-type flags: 1 child dialog, 2 resizable, 4 flipped, 8 no automatic sizing,
// 0x10 opaque, 0x20 drop target for files.
struct SHIM_DialogResourceIndex {
  const char* resid;  // a string or a small integer id, compared by pointer value
  const char* title;
  int windowTypeFlags;
  void (*createFunc)(HWND, int);
  int width, height;
  SHIM_DialogResourceIndex* _next;
};
extern SHIM_DialogResourceIndex* SHIM_curmodule_dialogresource_head;
// Registers a resource at static initialisation: it takes the head as its next record and becomes the head.
void SHIM_RegisterDialogResource(SHIM_DialogResourceIndex* record);
#define SHIM_DIALOG_CHILD 1
#define SHIM_DIALOG_RESIZABLE 2
#define SHIM_DIALOG_FLIPPED 4
#define SHIM_DIALOG_NOAUTOSIZE 8
#define SHIM_DIALOG_OPAQUE 0x10
#define SHIM_DIALOG_DROPTARGET 0x20
#define MAKEINTRESOURCE(i) ((const char*)(intptr_t)(i))

// ---- Top-level windows and dialogs ----
INT_PTR SHIM_DialogBox(SHIM_DialogResourceIndex* head, const char* resid, HWND parent, DLGPROC proc, LPARAM param);
HWND SHIM_CreateDialog(SHIM_DialogResourceIndex* head, const char* resid, HWND parent, DLGPROC proc, LPARAM param);
void EndDialog(HWND hwnd, INT_PTR result);
HWND SHIM_CreateModelessFrameForWindow(HWND childView, HWND owner, unsigned int styleMask);
HMENU SHIM_GetDefaultWindowMenu();
void SHIM_SetDefaultWindowMenu(HMENU menu);
HMENU SHIM_GetDefaultModalWindowMenu();
void SHIM_SetDefaultModalWindowMenu(HMENU menu);
// The window procedure of every window view until replaced.
LRESULT ShimDialogDefaultWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Applies the dialog procedure's text colours to the view's child controls.
void SHIM_DoDialogColorUpdates(HWND hwnd, DLGPROC dlgproc, bool isUpdate);

// ---- Message dispatch ----
LRESULT SendMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// ---- Handles, values, text, visibility and relations ----
HWND GetDlgItem(HWND hwnd, int id);
// The 32-bit forms keep the low 32 bits; the LONG_PTR forms carry procedures and user data whole.
LONG SetWindowLong(HWND hwnd, int index, LONG value);
LONG GetWindowLong(HWND hwnd, int index);
LONG_PTR SetWindowLongPtr(HWND hwnd, int index, LONG_PTR value);
LONG_PTR GetWindowLongPtr(HWND hwnd, int index);
BOOL IsWindowVisible(HWND hwnd);
BOOL GetDlgItemText(HWND hwnd, int id, char* buffer, int size);
BOOL SetDlgItemText(HWND hwnd, int id, const char* text);
void ShowWindow(HWND hwnd, int command);
void DestroyWindow(HWND hwnd);
BOOL IsWindow(HWND hwnd);
BOOL IsWindowImpl(HWND target, HWND root);
void CenterWindow(HWND hwnd);
BOOL IsChild(HWND parent, HWND child);
void SetFocus(HWND hwnd);
void SetForegroundWindow(HWND hwnd);
HWND GetForegroundWindow();
void EnableWindow(HWND hwnd, int enable);
HWND GetCapture();
HWND GetWindow(HWND hwnd, int relation);
HWND SetParent(HWND child, HWND newParent);
HWND SHIM_NavigateUpScrollClipViews(HWND hwnd);
BOOL IsEquivalentTextView(HWND a, HWND b);
HWND FindWindowEx(HWND parent, HWND after, const char* className, const char* windowName);
void SHIM_HideApp();
BOOL SHIM_GetGestureInfo(LPARAM lParam, GESTUREINFO* out);
BOOL SetProp(HWND hwnd, const char* name, void* value);
void* GetProp(HWND hwnd, const char* name);
void* RemoveProp(HWND hwnd, const char* name);
typedef BOOL (*PROPENUMPROCEX)(HWND, const char*, void*, LPARAM);
int EnumPropsEx(HWND hwnd, PROPENUMPROCEX proc, LPARAM lParam);
// Window queries: the view with the keyboard focus, the parent (or owner) of a window, screen to client points.
HWND GetFocus();
HWND GetParent(HWND hwnd);
void ScreenToClient(HWND hwnd, POINT* pt);

// ---- Geometry, repainting, metrics and modal sessions ----
void ClientToScreen(HWND hwnd, POINT* pt);
BOOL GetWindowRect(HWND hwnd, RECT* r);
void GetWindowContentViewRect(HWND hwnd, RECT* r);
void GetClientRect(HWND hwnd, RECT* r);
void SHIM_GetViewPort(RECT* r, const RECT* source, bool workArea);
void SetWindowPos(HWND hwnd, HWND after, int x, int y, int cx, int cy, int flags);
void InvalidateRect(HWND hwnd, const RECT* r, int erase);
BOOL ScrollWindow(HWND hwnd, int dx, int dy, const RECT* scroll, const RECT* clip);
int GetSystemMetrics(int index);
void* SHIM_ModalWindowStart(HWND hwnd);
BOOL SHIM_ModalWindowRun(void* session, int* response);
void SHIM_ModalWindowEnd(void* session);
void SHIM_CloseWindow(HWND hwnd);

// ---- Painting, capture, default procedure, dropped files and clipboard ----
HDC BeginPaint(HWND hwnd, PAINTSTRUCT* ps);
BOOL EndPaint(HWND hwnd, PAINTSTRUCT* ps);
void UpdateWindow(HWND hwnd);
void SHIM_FlushWindow(HWND hwnd);
HWND WindowFromPoint(POINT pt);
HWND SetCapture(HWND hwnd);
void ReleaseCapture();
LRESULT DefWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
void SHIM_BroadcastMessage(UINT msg, WPARAM wParam, LPARAM lParam);
typedef HANDLE HDROP;
// Hooks of the application for files dragged over its drop targets (screen points); null unless it fills them.
extern void (*SHIM_DDrop_onDragEnter)(HANDLE block, int x, int y);
extern void (*SHIM_DDrop_onDragOver)(int x, int y);
extern void (*SHIM_DDrop_onDragLeave)();
extern const char* (*SHIM_DDrop_getDroppedFileTargetPath)(const char* promisedType);
UINT DragQueryFile(HDROP drop, UINT index, char* buffer, UINT size);
BOOL DragQueryPoint(HDROP drop, POINT* pt);
void DragFinish(HDROP drop);
#define CF_TEXT 1
UINT RegisterClipboardFormat(const char* name);
BOOL OpenClipboard(HWND hwnd);
void CloseClipboard();
void EmptyClipboard();
void SetClipboardData(UINT format, HANDLE data);
HANDLE GetClipboardData(UINT format);
UINT EnumClipboardFormats(UINT previous);

// Window contexts: the paint's own context while a paint is in progress, else a new context over the view.
HDC GetDC(HWND hwnd);
HDC GetWindowDC(HWND hwnd);
int ReleaseDC(HWND hwnd, HDC ctx);
// The platform image (a cocoa::Image, owned by the bitmap's pixels, not retained for the caller) of a bitmap
// object, null for anything else.
void* GetNSImageFromHICON(HGDIOBJ icon);
