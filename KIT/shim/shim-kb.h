// Keyboard translation to Win32-style virtual keys, the asynchronous key and button state, the mouse position with
// a hidden-cursor relative mode, and cursors. Main thread (the thread that handles window events).
#pragma once

#include "KIT/shim/shim-types.h"
#include "platform/cocoa/application.h"

namespace cocoa {
class View;
class Event;
}  // namespace cocoa

// Accelerator modifier flags returned beside a translated key.
#define FVIRTKEY 1
#define FSHIFT 4
#define FCONTROL 8  // the Command key
#define FALT 16     // Option
#define FLWIN 32    // the Control key, only while right-click emulation is off

#define VK_LBUTTON 1
#define VK_RBUTTON 2
#define VK_MBUTTON 4
#define VK_BACK 8
#define VK_TAB 9
#define VK_RETURN 13
#define VK_SHIFT 16
#define VK_CONTROL 17
#define VK_MENU 18
#define VK_ESCAPE 27
#define VK_SPACE 32
#define VK_PRIOR 33
#define VK_NEXT 34
#define VK_END 35
#define VK_HOME 36
#define VK_LEFT 37
#define VK_UP 38
#define VK_RIGHT 39
#define VK_DOWN 40
#define VK_SNAPSHOT 44
#define VK_INSERT 45
#define VK_DELETE 46
#define VK_LWIN 91
#define VK_NUMPAD0 96
#define VK_MULTIPLY 106
#define VK_ADD 107
#define VK_SEPARATOR 108
#define VK_SUBTRACT 109
#define VK_DECIMAL 110
#define VK_DIVIDE 111
#define VK_F1 112
#define VK_F12 123
#define VK_NUMLOCK 144

// A key event (the application's current event when null) as a virtual key or character, with its flags.
int SHIM_MacKeyToWindowsKeyEx(cocoa::Event* event, int* flags, int mode);
int SHIM_MacKeyToWindowsKey(cocoa::Event* event, int* flags);
// Shifted digits as characters: for a digit key with flags exactly FVIRTKEY | FSHIFT, the character, else 0.
int SHIM_KeyToASCII(int key, int flags, int* newFlags);
// 0x8000 while the key or mouse button is down.
WORD GetAsyncKeyState(int key);

BOOL GetCursorPos(POINT* pt);
DWORD GetMessagePos();
// The point of a mouse event in the view's coordinates; moves the virtual position in relative mode.
cocoa::Point shimProcessMouseEvent(int message, cocoa::View* view, cocoa::Event* event);
int SHIM_ShowCursor(bool show);
bool SHIM_IsCursorVisible();
BOOL SHIM_SetCursorPos(int x, int y);

// Cursor resources of the application: a list that its resource tables fill.
struct SHIM_CursorResourceIndex {
  int resid;
  const char* resname;
  int hsx, hsy;
  HCURSOR cachedCursor;
  SHIM_CursorResourceIndex* _next;
};
extern SHIM_CursorResourceIndex* SHIM_curmodule_cursorresource_head;

#define IDC_SIZEALL ((const char*)(intptr_t)-1002)
#define IDC_SIZENWSE ((const char*)(intptr_t)-1006)
#define IDC_SIZENESW ((const char*)(intptr_t)-1007)
#define IDC_NO ((const char*)(intptr_t)-1003)
#define IDC_IBEAM ((const char*)(intptr_t)-1005)
#define IDC_UPARROW ((const char*)(intptr_t)-1004)
#define IDC_SIZENS ((const char*)(intptr_t)-1001)
#define IDC_SIZEWE ((const char*)(intptr_t)-1000)
#define IDC_ARROW ((const char*)(intptr_t)-999)
#define IDC_HAND ((const char*)(intptr_t)32649)

HCURSOR SHIM_LoadCursor(const char* id);
HCURSOR SHIM_LoadCursorFromFile(const char* name);
void SHIM_SetCursor(HCURSOR cursor);
HCURSOR SHIM_GetCursor();
HCURSOR SHIM_GetLastSetCursor();
// A cursor from a built-in 16 x 16 image of one byte a pixel (grey level in the high nibble, opacity in the low),
// hot spot in the middle; the caller owns it.
HCURSOR MakeCursorFromData(const unsigned char* data);
