// System services of the window layer: sleep and the millisecond clock, kernel-object handles, events, waits,
// threads, file handles, rectangles, global memory, string copying and module loading.
#pragma once

#include "KIT/shim/shim-types.h"

// Any thread. Blocks the caller; 0 still pauses 100 microseconds so that polling loops never spin.
void Sleep(int milliseconds);
// Any thread. Wall-clock milliseconds, wrapping at 2^32; follows changes of the system clock.
DWORD GetTickCount();
// Any thread. The calling thread's id.
DWORD_PTR GetCurrentThreadId();
