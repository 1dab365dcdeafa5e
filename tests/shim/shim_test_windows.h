// Windows for the window layer's tests: the least that timers and posted messages need of a window, recording what
// reaches it; an application delegate that posts; and a fixture of top-level windows of the layer.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <vector>

#include "KIT/shim/shim-hwnd.h"
#include "KIT/shim/shim-objects.h"
#include "KIT/shim/shim.h"
#include "platform/cocoa/application.h"
#include "platform/cocoa/menu.h"
#include "platform/cocoa/runloop.h"
#include "platform/cocoa/view.h"

struct Delivered {
  UINT msg;
  WPARAM wp;
  LPARAM lp;
};

class TestView : public cocoa::View, public SHIM_TimerReceiver, public SHIM_MessageReceiver, public SHIM_PostTarget {
 public:
  // Window timers: only when no other window has the run loop to itself.
  void SHIM_Timer(cocoa::Timer* timer) override {
    if (g_shim_only_timerhwnd && g_shim_only_timerhwnd != this) return;
    auto* info = timer->userInfo() ? timer->userInfo()->as<Shim_vVexmir_sdh>() : nullptr;
    if (info) timerIds.push_back(static_cast<UINT>(info->getValue()));
  }
  LRESULT onShimMessage(UINT msg, WPARAM wp, LPARAM lp) override {
    {
      std::lock_guard<std::mutex> lock(mutex);
      messages.push_back({msg, wp, lp});
    }
    if (onMessage) onMessage(msg, wp, lp);
    return 0;
  }
  bool shimCanPostMessage() override { return acceptsPosts.load(); }

  std::vector<UINT> timerIds;
  std::mutex mutex;
  std::vector<Delivered> messages;
  std::atomic<bool> acceptsPosts{true};
  std::function<void(UINT, WPARAM, LPARAM)> onMessage;
};

// Posting as an application provides it on top of the layer's queue.
class TestDelegate : public cocoa::Object,
                     public SHIM_PostMessageDelegate,
                     public SHIM_PostMessageClearQDelegate,
                     public SHIM_PostMessageTickDelegate {
 public:
  BOOL shimPostMessage(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) override {
    return SHIM_Internal_PostMessage(hwnd, msg, wp, lp);
  }
  void shimPostMessageClearQ(HWND hwnd) override { SHIM_Internal_PMQ_ClearAllMessages(hwnd); }
  void shimPostMessageTick(cocoa::Timer*) override {
    ++ticks;
    SHIM_MessageQueue_Flush();
  }
  std::atomic<int> ticks{0};
};

// One screen of 1600 x 1000 and no scripted menu choice at the start; the windows of the layer a test leaves open
// are destroyed after it.
class LayerWindowsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cocoa::screen::setScreens({cocoa::screen::Info{0, 0, 1600, 1000, 0, 0, 1600, 1000}});
    cocoa::menus::clearScript();
  }
  void TearDown() override {
    for (cocoa::Window* w : cocoa::Window::allWindows())
      if (w->as<Shim_vVexmir_windowbase>()) DestroyWindow(w);
  }
};

// A plain top-level window of the layer whose procedure is `proc`, shown.
inline HWND topLevel(WNDPROC proc) {
  HWND v = SHIM_CreateDialog(nullptr, reinterpret_cast<const char*>(0x400000), nullptr, reinterpret_cast<DLGPROC>(proc),
                             0);
  ShowWindow(v, SW_SHOW);
  return v;
}

inline cocoa::Window* windowOf(HWND h) {
  return h->as<cocoa::View>()->window();
}
