// Timers, the posted-message queue, run-loop calls, platform threads and autorelease pools, child processes,
// string conversion, right-click emulation, quitting and the App Nap switch of the window layer.
#pragma once

#include "KIT/shim/shim-types.h"

namespace cocoa {
class Timer;
class Task;
class String;
}  // namespace cocoa

// ---- What the services ask of objects (the platform's selectors) ----

// `SHIM_Timer:`: a window that handles its own timers; the timer's user information is a Shim_vVexmir_sdh holding
// the timer id.
class SHIM_TimerReceiver {
 public:
  virtual ~SHIM_TimerReceiver() = default;
  virtual void SHIM_Timer(cocoa::Timer* timer) = 0;
};

// `onShimMessage:p1:p2:`: the synchronous message entry of a window or control.
class SHIM_MessageReceiver {
 public:
  virtual ~SHIM_MessageReceiver() = default;
  virtual LRESULT onShimMessage(UINT msg, WPARAM wParam, LPARAM lParam) = 0;
};

// `shimCanPostMessage`: a window that accepts posted messages (until it begins to be destroyed). May be asked from
// any thread.
class SHIM_PostTarget {
 public:
  virtual ~SHIM_PostTarget() = default;
  virtual bool shimCanPostMessage() = 0;
};

// The application delegate's posting methods; the layer calls whichever the delegate has.
class SHIM_PostMessageDelegate {
 public:
  virtual ~SHIM_PostMessageDelegate() = default;
  virtual BOOL shimPostMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) = 0;
};
class SHIM_PostMessageClearQDelegate {
 public:
  virtual ~SHIM_PostMessageClearQDelegate() = default;
  virtual void shimPostMessageClearQ(HWND hwnd) = 0;
};
class SHIM_PostMessageTickDelegate {
 public:
  virtual ~SHIM_PostMessageTickDelegate() = default;
  virtual void shimPostMessageTick(cocoa::Timer* timer) = 0;
};

// ---- Timers (main thread; other threads are redirected through the queue once it knows the main thread) ----

// Returns the timer id (a fresh id for a timer without a window), or 0 when refused.
UINT SetTimer(HWND hwnd, UINT id, UINT milliseconds, TIMERPROC callback);
// True when a timer was removed or a kill request was queued; id 0xFFFFFFFF removes every timer of the window.
BOOL KillTimer(HWND hwnd, UINT id);
// Only timers of this window fire while set (SHIM_RunRunLoopEx sets it).
extern HWND g_shim_only_timerhwnd;

void SHIM_RunRunLoop(int milliseconds);
void SHIM_RunRunLoopEx(int milliseconds, HWND only);

// ---- Posted messages ----

BOOL PostMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
void SHIM_MessageQueue_Clear(HWND hwnd);
// Main thread, once the delegate answers shimPostMessageTick: makes the calling thread the queue's main thread and
// starts the 0.05-second flush timer aimed at the delegate.
void SHIM_Internal_PostMessage_Init();
// Any thread. Queues a message for the main thread; false when refused or when 1024 are queued and none recycled.
BOOL SHIM_Internal_PostMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
// Main thread. Delivers everything queued before the call; never to a window destroyed since it was posted.
void SHIM_MessageQueue_Flush();
// Any thread. Drops the queued messages of one window, or all for null.
void SHIM_Internal_PMQ_ClearAllMessages(HWND hwnd);
// Any thread. Queues (or updates) a timer request; interval 0xFFFFFFFF asks for a kill.
void SHIM_pmq_settimer(HWND hwnd, UINT id, UINT milliseconds, TIMERPROC callback);

// How the flush hands a message to a window: by default to a window that answers onShimMessage:p1:p2:; the
// message-dispatch unit installs SendMessage here.
typedef LRESULT (*SHIM_SendMessageFunc)(HWND, UINT, WPARAM, LPARAM);
void SHIM_SetPostedMessageDelivery(SHIM_SendMessageFunc send);

// ---- Threads, pools and events ----

void SHIM_EnsureMultithreadedCocoa();
// A detached platform thread running proc(param); no handle is returned.
HANDLE CreateThreadNS(void* attributes, DWORD stackSize, DWORD (*proc)(LPVOID), LPVOID param, DWORD flags,
                      DWORD_PTR* threadId);
void* SHIM_InitAutoRelease();
void SHIM_QuitAutoRelease(void* pool);
// Main thread. Dispatches at most 100 pending events, stopping at the first 0.001-second wait that finds none.
void SHIM_RunEvents();

// ---- Child processes ----

HANDLE SHIM_CreateProcess(const char* executable, int count, const char** arguments);
DWORD SHIM_WaitForNSTask(cocoa::Task* task, DWORD timeoutMs);
void SHIM_ReleaseNSTask(cocoa::Task* task);
void SHIM_MakeProcessFront(HANDLE process);

// ---- Strings ----

// A new platform string (the caller releases it) from UTF-8, failing that from ASCII; null counts as "".
cocoa::String* SHIM_CStringToCFString(const char* text);
// The string as UTF-8 in a buffer of `size` bytes, cut at a character boundary to fit and always terminated.
void SHIM_CFStringToCString(const cocoa::String* string, char* buffer, int size);

// ---- Other ----

void SHIM_EnableRightClickEmulate(BOOL on);
BOOL IsRightClickEmulateEnabled();
void SHIM_PostQuitMessage(cocoa::Object* sender);
extern bool g_shim_terminating;
void SHIM_DisableAppNap(int delta);
