// The layer's own small platform objects used by its timers.
#pragma once

#include "KIT/shim/shim-types.h"
#include "platform/cocoa/object.h"

namespace cocoa {
class Timer;
}

// Holds one pointer-sized value: the id of a window timer, carried as the timer's user information.
class Shim_vVexmir_sdh : public cocoa::Object {
 public:
  explicit Shim_vVexmir_sdh(INT_PTR value) : m_data(value) {}
  INT_PTR getValue() const { return m_data; }

 private:
  INT_PTR m_data;
};

// The target of a callback timer: calls the callback with (window, WM_TIMER, id, tick count) when it fires.
class Shim_vVexmir_tft : public cocoa::Object {
 public:
  Shim_vVexmir_tft(UINT id, HWND hwnd, TIMERPROC cb) : m_cb(cb), m_hwnd(hwnd), m_timerid(id) {}
  void SHIM_Timer(cocoa::Timer* timer);

 private:
  TIMERPROC m_cb;
  HWND m_hwnd;
  UINT m_timerid;
};
