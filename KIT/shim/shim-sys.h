// System services of the window layer: sleep and the millisecond clock, kernel-object handles, events, waits,
// threads, file handles, rectangles, global memory, string copying and module loading.
#pragma once

#include "KIT/shim/shim-types.h"

// ---- Clock and sleep (any thread) ----

// Blocks the caller for the milliseconds; 0 (or less) still pauses 100 microseconds so that polling loops never spin.
void Sleep(int milliseconds);
// Wall-clock milliseconds, wrapping at 2^32; follows changes of the system clock.
DWORD GetTickCount();
// The calling thread's id.
DWORD_PTR GetCurrentThreadId();

// ---- Kernel-object handles (any thread) ----

typedef DWORD (*LPTHREAD_START_ROUTINE)(LPVOID);

// Drops one reference; the last one releases the object. False for null, an unknown kind or a socket object.
BOOL CloseHandle(HANDLE handle);
HANDLE CreateEvent(void* attributes, BOOL manualReset, BOOL initialState, const char* name);
// An event whose state lives in a local socket pair, so that it can be waited on together with descriptors.
HANDLE CreateEventAsSocket(void* attributes, BOOL manualReset, BOOL initialState, const char* name);
BOOL SetEvent(HANDLE handle);
BOOL ResetEvent(HANDLE handle);
// 0 when signalled, WAIT_TIMEOUT (258) when the time-out (milliseconds, INFINITE for none) passed, -1 on failure.
DWORD WaitForSingleObject(HANDLE handle, DWORD timeoutMs);
// The index of the first signalled socket object or event socket of the list, or WAIT_TIMEOUT.
DWORD WaitForAnySocketObject(int count, HANDLE* objects, DWORD timeoutMs);
// A running thread; the handle holds one reference and the running thread another.
HANDLE CreateThread(void* attributes, DWORD stackSize, LPTHREAD_START_ROUTINE proc, LPVOID param, DWORD flags,
                    DWORD_PTR* threadId);
BOOL SetThreadPriority(HANDLE thread, int priority);

// ---- File handles ----

// Always null: this layer opens no files through handles.
HANDLE CreateFile(const char* name, DWORD access, DWORD share, void* security, DWORD creation, DWORD flags,
                  HANDLE templateFile);
// Seeks from the start of the file; a non-zero high word is refused.
DWORD SetFilePointer(HANDLE file, int offset, LONG* high);
DWORD GetFilePointer(HANDLE file, LONG* high);
DWORD GetFileSize(HANDLE file, LONG* high);
BOOL WriteFile(HANDLE file, const void* buffer, DWORD count, DWORD* written, void* overlapped);
BOOL ReadFile(HANDLE file, void* buffer, DWORD count, DWORD* read, void* overlapped);
BOOL GetFileTime(int fd, FILETIME* creation, FILETIME* access, FILETIME* write);

// ---- Rectangles and arithmetic ----

BOOL WinOffsetRect(RECT* r, int dx, int dy);
BOOL WinSetRect(RECT* r, int left, int top, int right, int bottom);
BOOL WinIntersectRect(RECT* out, const RECT* a, const RECT* b);
void WinUnionRect(RECT* out, const RECT* a, const RECT* b);
BOOL SHIM_PtInRect(const RECT* r, POINT p);
// A rectangle's width (right - left) and height (bottom - top), exact in 64 bits for any rectangle, also one near
// or spanning the int range; platform::satInt (platform/graphics/coords.h) brings an edge or size made from them
// back to an int, saturating at the range's ends.
long long SHIM_RectWidth(const RECT& r);
long long SHIM_RectHeight(const RECT& r);
// a * b / c in double precision, truncated toward zero; 0 when c is 0; a quotient beyond int saturates.
int MulDiv(int a, int b, int c);
// The floating-point rounding control, in the x87 encoding shifted right by 2 (0x300: 0 nearest, 0x100 down,
// 0x200 up, 0x300 toward zero).
UINT _controlfp(UINT value, UINT mask);
#define _MCW_RC 0x300
#define _RC_NEAR 0x000
#define _RC_DOWN 0x100
#define _RC_UP 0x200
#define _RC_CHOP 0x300

// ---- Global memory and strings ----

HANDLE GlobalAlloc(int flags, int size);
void* GlobalLock(HANDLE block);
void GlobalUnlock(HANDLE block);
int GlobalSize(HANDLE block);
void GlobalFree(HANDLE block);
#define GMEM_FIXED 0
#define GMEM_MOVEABLE 2
#define GHND 0x42
// Copies at most n - 1 characters and always terminates; nothing at all for n < 1.
char* lstrcpyn(char* dst, const char* src, int n);

// ---- Modules ----

#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1

// Entry points a module may export; a 0 result from an attach call refuses the load.
typedef int (*SHIM_DllMainProc)(HINSTANCE, DWORD, LPVOID);

namespace cocoa {
class Bundle;
}

// A loaded module, shared by every load of the same library (or bundle) and counted.
struct SHIM_HINSTANCE {
  void* instance;         // the dlopen handle, or null
  cocoa::Bundle* bundle;  // or null
  int refcnt;             // outstanding loads; changed only under the module lock
  SHIM_DllMainProc SHIM_dllMain;
  SHIM_DllMainProc DllMain;
  void* lastSymbol;  // the last function pointer found by name
};

HINSTANCE LoadLibrary(const char* path);
HINSTANCE LoadLibraryGlobals(const char* path, bool global);
void* GetProcAddress(HINSTANCE module, const char* name);
BOOL FreeLibrary(HINSTANCE module);
int GetModuleFileName(HINSTANCE module, char* buffer, int size);
void SHIM_GenerateGUID(void* guid);
