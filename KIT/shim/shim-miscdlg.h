// Standard file dialogs, the message box and shell opening of the window layer, on the platform model's panels,
// alerts and workspace. Main thread.
#pragma once

#include "KIT/shim/shim-wnd.h"

#define MB_OK 0
#define MB_OKCANCEL 1
#define MB_YESNOCANCEL 3
#define MB_YESNO 4
#define MB_RETRYCANCEL 5

void BrowseFile_SetTemplate(const char* dialogId, DLGPROC proc, SHIM_DialogResourceIndex* head);
bool BrowseForSaveFile(const char* title, const char* initialDir, const char* initialFile, const char* extensions,
                       char* out, int outSize);
bool BrowseForDirectory(const char* title, const char* initialDir, char* out, int outSize);
// A heap block (the caller frees it with free()): one path and two zeros, or a zero, each path, and a final zero.
char* BrowseForFiles(const char* title, const char* initialDir, const char* initialFile, bool multiple,
                     const char* extensions);
int MessageBox(HWND hwnd, const char* text, const char* caption, int type);
bool ShellExecute(HWND hwnd, const char* operation, const char* file, const char* parameters, const char* directory,
                  int show);
// Shows (or moves) the translucent focus rectangle kept in *handle over `rect` (client coordinates of `parent`);
// a null rect removes it.
void SHIM_DrawFocusRect(HWND parent, const RECT* rect, void** handle);
