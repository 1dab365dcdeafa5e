// Windows and an application delegate for the system-service tests: the least that timers and posted messages
// need of a window, recording what reaches it.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <vector>

#include "KIT/shim/shim-objects.h"
#include "KIT/shim/shim.h"
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
