// Views into the window layer's private state, for its own tests. Not for callers of the layer.
#pragma once

#include "KIT/shim/shim-types.h"

namespace cocoa {
class Timer;
}

int SHIM_Internal_PMQ_QueuedCount();
int SHIM_Internal_PMQ_FreeCount();
bool SHIM_Internal_PMQ_IsMainThreadKnown();
// Timers whose handling object is `hwnd` (null: timers without a window).
int SHIM_Internal_TimerCount(HWND hwnd);
cocoa::Timer* SHIM_Internal_TimerObject(HWND hwnd, UINT id);
const void* SHIM_Internal_TimerRecord(HWND hwnd, UINT id);
// Called after an INI file's new content is written and before it replaces the file.
void SHIM_Internal_INI_SetBeforeRenameHook(void (*hook)());
const unsigned char* SHIM_Internal_DiagonalCursorImage();
// Wakes the waiters of an event without signalling it (a wake-up that finds the event taken).
void SHIM_Internal_WakeEventWaiters(HANDLE event);
