// Win32-style base types of the window layer. On 64-bit Linux every value that can carry a pointer or a handle
// (message parameters and results, INT_PTR and friends) is pointer-sized; everything else keeps its Win32 width.
#pragma once

#include <cstddef>
#include <cstdint>

namespace cocoa {
class Object;
}

// The layer's Boolean is a byte, as the platform's own Boolean type; TRUE and FALSE are 1 and 0.
typedef signed char BOOL;
#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

typedef unsigned char BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef unsigned int UINT;
typedef int INT;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef char CHAR;
typedef wchar_t WCHAR;

typedef intptr_t INT_PTR;
typedef uintptr_t UINT_PTR;
typedef intptr_t LONG_PTR;
typedef uintptr_t ULONG_PTR;
typedef uintptr_t DWORD_PTR;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;

typedef char* LPSTR;
typedef const char* LPCSTR;
typedef char* LPTSTR;
typedef const char* LPCTSTR;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef DWORD* LPDWORD;
typedef BYTE* LPBYTE;

// A kernel-object handle: a thread, event, file, socket object, event socket or child process record.
typedef void* HANDLE;
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)

// Windows, cursors and icons are objects of the platform layer; what one can do is found by asking the object.
typedef cocoa::Object* HWND;
typedef cocoa::Object* HCURSOR;
typedef cocoa::Object* HICON;

// Drawing contexts and the one drawing-object record shared by pens, brushes, fonts and bitmaps.
struct SHIM_GDP_CTX;
struct SHIM_GDP_OBJECT;
typedef SHIM_GDP_CTX* HDC;
typedef SHIM_GDP_OBJECT* HGDIOBJ;
typedef HGDIOBJ HFONT;
typedef HGDIOBJ HBITMAP;
typedef HGDIOBJ HBRUSH;
typedef HGDIOBJ HPEN;
typedef HGDIOBJ HRGN;

// A loaded module.
struct SHIM_HINSTANCE;
typedef SHIM_HINSTANCE* HINSTANCE;
typedef HINSTANCE HMODULE;

struct HMENU__;
typedef HMENU__* HMENU;
struct HTREEITEM__;
typedef HTREEITEM__* HTREEITEM;
struct HIMAGELIST__;
typedef HIMAGELIST__* HIMAGELIST;

typedef uint32_t COLORREF;
#define RGB(r, g, b) ((COLORREF)(((BYTE)(r)) | ((WORD)((BYTE)(g)) << 8) | (((DWORD)(BYTE)(b)) << 16)))
#define GetRValue(c) ((BYTE)(c))
#define GetGValue(c) ((BYTE)(((WORD)(c)) >> 8))
#define GetBValue(c) ((BYTE)((c) >> 16))

#define MAKEWORD(lo, hi) ((WORD)(((BYTE)(lo)) | ((WORD)((BYTE)(hi))) << 8))
#define MAKELONG(lo, hi) ((LONG)(((WORD)(lo)) | ((DWORD)((WORD)(hi))) << 16))
#define LOWORD(l) ((WORD)(l))
#define HIWORD(l) ((WORD)(((DWORD)(l) >> 16) & 0xFFFF))
#define LOBYTE(w) ((BYTE)(w))
#define HIBYTE(w) ((BYTE)(((WORD)(w) >> 8) & 0xFF))
#define GET_X_LPARAM(lp) ((int)(short)LOWORD(lp))
#define GET_Y_LPARAM(lp) ((int)(short)HIWORD(lp))
#define MAKEWPARAM(lo, hi) ((WPARAM)(DWORD)MAKELONG(lo, hi))
#define MAKELPARAM(lo, hi) ((LPARAM)(DWORD)MAKELONG(lo, hi))

#define CALLBACK
#define WINAPI
#define APIENTRY

#ifndef MAX_PATH
#define MAX_PATH 1024
#endif

typedef struct tagRECT {
  int left, top, right, bottom;
} RECT, *LPRECT;

typedef struct tagPOINT {
  int x, y;
} POINT, *LPPOINT;

typedef struct tagSIZE {
  int cx, cy;
} SIZE, *LPSIZE;

// A 64-bit count of 100-nanosecond intervals since 1601-01-01 UTC.
typedef struct _FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
} FILETIME;

typedef LRESULT (*WNDPROC)(HWND, UINT, WPARAM, LPARAM);
typedef INT_PTR (*DLGPROC)(HWND, UINT, WPARAM, LPARAM);
typedef void (*TIMERPROC)(HWND, UINT, UINT_PTR, DWORD);

// Wait results and the time-out that means none.
#define WAIT_OBJECT_0 0
#define WAIT_TIMEOUT 258
#define WAIT_FAILED ((DWORD)-1)
#define INFINITE 0xFFFFFFFF

#define WM_TIMER 0x0113
