#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "KIT/shim/shim-handles.h"
#include "KIT/shim/shim-internal.h"
#include "KIT/shim/shim.h"
#include "platform/cocoa/application.h"
#include "platform/cocoa/cfstring.h"
#include "platform/cocoa/process.h"
#include "shim_test_windows.h"

namespace {

struct CallbackLog {
  std::vector<UINT_PTR> ids;
  std::vector<HWND> windows;
};
CallbackLog* g_log = nullptr;

void timerCallback(HWND hwnd, UINT msg, UINT_PTR id, DWORD) {
  if (g_log && msg == WM_TIMER) {
    g_log->ids.push_back(id);
    g_log->windows.push_back(hwnd);
  }
}

// The application delegate takes part in posting, and the queue's main thread is this (the test's) thread.
TestDelegate* sharedDelegate() {
  static TestDelegate* d = [] {
    auto* delegate = new TestDelegate;
    cocoa::Application::shared()->setDelegate(delegate);
    SHIM_Internal_PostMessage_Init();
    return delegate;
  }();
  return d;
}

class ShimTimers : public ::testing::Test {
 protected:
  void SetUp() override {
    sharedDelegate();
    SHIM_Internal_PMQ_ClearAllMessages(nullptr);
    cocoa::useManualClock();
    g_log = &log_;
    view_ = new TestView;
  }
  void TearDown() override {
    KillTimer(view_, 0xFFFFFFFF);
    view_->release();
    g_log = nullptr;
    cocoa::useRealClock();
  }
  CallbackLog log_;
  TestView* view_;
};

TEST_F(ShimTimers, WindowlessTimerIdNamesItsRecord) {
  const UINT id = SetTimer(nullptr, 0, 100, timerCallback);
  ASSERT_NE(id, 0u);
  EXPECT_NE(SHIM_Internal_TimerRecord(nullptr, id), nullptr);
  const UINT other = SetTimer(nullptr, 0, 100, timerCallback);
  EXPECT_NE(other, id);
  SHIM_RunRunLoop(1000);
  EXPECT_EQ(std::count(log_.ids.begin(), log_.ids.end(), id), 10);
  EXPECT_EQ(log_.windows.front(), nullptr);
  EXPECT_TRUE(KillTimer(nullptr, id));
  EXPECT_EQ(SHIM_Internal_TimerRecord(nullptr, id), nullptr);
  EXPECT_FALSE(KillTimer(nullptr, id));
  log_.ids.clear();
  SHIM_RunRunLoop(500);
  EXPECT_EQ(std::count(log_.ids.begin(), log_.ids.end(), id), 0);
  EXPECT_EQ(std::count(log_.ids.begin(), log_.ids.end(), other), 5);
  KillTimer(nullptr, other);
}

void killSelf(HWND hwnd, UINT, UINT_PTR id, DWORD) {
  KillTimer(hwnd, static_cast<UINT>(id));
  if (g_log) g_log->ids.push_back(id);
}

TEST_F(ShimTimers, ATimerMayKillItselfWhileItFires) {
  const UINT id = SetTimer(nullptr, 0, 10, killSelf);
  SHIM_RunRunLoop(100);
  EXPECT_EQ(log_.ids.size(), 1u);
  EXPECT_EQ(SHIM_Internal_TimerRecord(nullptr, id), nullptr);
  // A window whose timer handler destroys the window's timers.
  SetTimer(view_, 3, 10, killSelf);
  SHIM_RunRunLoop(100);
  EXPECT_EQ(log_.ids.size(), 2u);
  EXPECT_EQ(SHIM_Internal_TimerCount(view_), 0);
}

TEST_F(ShimTimers, ZeroIntervalFiresEveryMillisecondAndReArmingReusesTheRecord) {
  EXPECT_EQ(SetTimer(view_, 5, 0, nullptr), 5u);
  const void* rec = SHIM_Internal_TimerRecord(view_, 5);
  SHIM_RunRunLoop(50);
  EXPECT_NEAR(static_cast<double>(view_->timerIds.size()), 50.0, 1.0);
  EXPECT_EQ(view_->timerIds.front(), 5u);
  EXPECT_EQ(SetTimer(view_, 5, 500, nullptr), 5u);
  EXPECT_EQ(SHIM_Internal_TimerRecord(view_, 5), rec);
  EXPECT_EQ(SHIM_Internal_TimerCount(view_), 1);
  view_->timerIds.clear();
  SHIM_RunRunLoop(1000);
  EXPECT_EQ(view_->timerIds.size(), 2u);
}

TEST_F(ShimTimers, KillAllRemovesEveryTimerOfTheWindow) {
  EXPECT_FALSE(KillTimer(view_, 0xFFFFFFFF));
  SetTimer(view_, 1, 10, nullptr);
  SetTimer(view_, 2, 10, nullptr);
  SetTimer(view_, 3, 10, timerCallback);
  EXPECT_EQ(SHIM_Internal_TimerCount(view_), 3);
  EXPECT_TRUE(KillTimer(view_, 2));
  EXPECT_FALSE(KillTimer(view_, 2));
  EXPECT_TRUE(KillTimer(view_, 0xFFFFFFFF));
  EXPECT_EQ(SHIM_Internal_TimerCount(view_), 0);
  SHIM_RunRunLoop(100);
  EXPECT_TRUE(view_->timerIds.empty());
  EXPECT_TRUE(log_.ids.empty());
}

TEST_F(ShimTimers, RefusalsAndContentViews) {
  EXPECT_EQ(SetTimer(nullptr, 0, 10, nullptr), 0u);
  EXPECT_EQ(SetTimer(view_, 0, 10, nullptr), 0u);
  cocoa::View* plain = new cocoa::View;  // answers no SHIM_Timer:
  EXPECT_EQ(SetTimer(plain, 1, 10, nullptr), 0u);
  plain->release();
  EXPECT_FALSE(KillTimer(nullptr, 0));
  EXPECT_FALSE(KillTimer(nullptr, 0xFFFFFFFF));

  // A window's timers go to its content view, and are killed through that view.
  cocoa::Window* window = new cocoa::Window;
  window->setContentView(view_);
  EXPECT_EQ(SetTimer(window, 9, 10, nullptr), 9u);
  EXPECT_EQ(SHIM_Internal_TimerCount(view_), 1);
  EXPECT_FALSE(KillTimer(window, 9));
  SHIM_RunRunLoop(25);
  EXPECT_EQ(view_->timerIds, (std::vector<UINT>{9, 9}));
  EXPECT_TRUE(KillTimer(view_, 9));
  window->release();
}

TEST_F(ShimTimers, WhileOneWindowOwnsTheRunLoopOthersDoNotFire) {
  TestView* other = new TestView;
  SetTimer(view_, 1, 10, nullptr);
  SetTimer(other, 1, 10, nullptr);
  SetTimer(other, 2, 10, timerCallback);
  HWND before = g_shim_only_timerhwnd;
  SHIM_RunRunLoopEx(50, view_);
  EXPECT_EQ(g_shim_only_timerhwnd, before);
  EXPECT_EQ(view_->timerIds.size(), 5u);
  EXPECT_TRUE(other->timerIds.empty());
  EXPECT_TRUE(log_.ids.empty());
  SHIM_RunRunLoop(10);
  EXPECT_EQ(other->timerIds.size(), 1u);
  EXPECT_EQ(log_.ids.size(), 1u);
  KillTimer(other, 0xFFFFFFFF);
  other->release();
}

TEST_F(ShimTimers, TimerSetFromAWorkerStartsAtTheNextFlush) {
  ASSERT_TRUE(SHIM_Internal_PMQ_IsMainThreadKnown());
  UINT returned = 0;
  std::thread worker([&] { returned = SetTimer(view_, 7, 10, nullptr); });
  worker.join();
  EXPECT_EQ(returned, 7u);
  EXPECT_EQ(SHIM_Internal_TimerCount(view_), 0);  // not yet: the request waits in the queue
  SHIM_RunRunLoop(60);                            // the flush timer runs every 0.05 seconds
  EXPECT_EQ(SHIM_Internal_TimerCount(view_), 1);
  EXPECT_GE(view_->timerIds.size(), 1u);

  BOOL killed = FALSE;
  std::thread killer([&] { killed = KillTimer(view_, 7); });
  killer.join();
  EXPECT_TRUE(killed);
  EXPECT_EQ(SHIM_Internal_TimerCount(view_), 1);
  SHIM_RunRunLoop(60);
  EXPECT_EQ(SHIM_Internal_TimerCount(view_), 0);
}

TEST_F(ShimTimers, AWindowlessTimerSetFromAWorkerRunsOnTheMainRunLoop) {
  static std::atomic<int> fired{0};
  static std::thread::id firedOn;
  fired = 0;
  UINT id = 0;
  std::thread worker([&] {
    id = SetTimer(nullptr, 0, 10, [](HWND, UINT, UINT_PTR, DWORD) {
      firedOn = std::this_thread::get_id();
      ++fired;
    });
  });
  worker.join();  // the worker is gone; its timer must not be
  ASSERT_NE(id, 0u);
  SHIM_RunRunLoop(60);
  EXPECT_GE(fired.load(), 1);
  EXPECT_EQ(firedOn, std::this_thread::get_id());
  ASSERT_NE(SHIM_Internal_TimerObject(nullptr, id), nullptr);
  std::thread killer([&] { EXPECT_TRUE(KillTimer(nullptr, id)); });
  killer.join();
  SHIM_RunRunLoop(20);
  EXPECT_EQ(SHIM_Internal_TimerObject(nullptr, id), nullptr);
  const int after = fired.load();
  SHIM_RunRunLoop(40);
  EXPECT_EQ(fired.load(), after);
}

TEST_F(ShimTimers, RepeatedWorkerRequestsForOneTimerCollapse) {
  std::thread worker([&] {
    SetTimer(view_, 8, 10, nullptr);
    SetTimer(view_, 8, 20, nullptr);
    KillTimer(view_, 8);
  });
  worker.join();
  EXPECT_EQ(SHIM_Internal_PMQ_QueuedCount(), 1);
  SHIM_MessageQueue_Flush();
  EXPECT_EQ(SHIM_Internal_TimerCount(view_), 0);  // the last request, a kill, is what counts
}

class ShimPosting : public ::testing::Test {
 protected:
  void SetUp() override {
    sharedDelegate();
    SHIM_Internal_PMQ_ClearAllMessages(nullptr);
    view_ = new TestView;
  }
  void TearDown() override {
    SHIM_Internal_PMQ_ClearAllMessages(nullptr);
    view_->release();
  }
  TestView* view_;
};

TEST_F(ShimPosting, TheQueueHoldsAtMost1024NewRecords) {
  const int recycled = SHIM_Internal_PMQ_FreeCount();
  int posted = 0;
  while (SHIM_Internal_PostMessage(view_, 0x400, posted, 0)) ++posted;
  // Recycled records are used first; only then does the bound of 1024 queued messages apply.
  EXPECT_EQ(posted, std::max(1024, recycled));
  SHIM_MessageQueue_Flush();
  EXPECT_EQ(view_->messages.size(), static_cast<size_t>(posted));
  int again = 0;
  while (SHIM_Internal_PostMessage(view_, 0x400, again, 0)) ++again;
  EXPECT_EQ(again, posted);
}

TEST_F(ShimPosting, MessagesArriveInOrderAtTheFlush) {
  EXPECT_TRUE(PostMessage(view_, 0x401, 1, -1));
  EXPECT_TRUE(SHIM_Internal_PostMessage(view_, 0x402, 2, -2));
  EXPECT_TRUE(view_->messages.empty());
  // A message posted while the flush delivers waits for the next one.
  view_->onMessage = [this](UINT msg, WPARAM, LPARAM) {
    if (msg == 0x401) SHIM_Internal_PostMessage(view_, 0x403, 3, -3);
  };
  SHIM_MessageQueue_Flush();
  ASSERT_EQ(view_->messages.size(), 2u);
  EXPECT_EQ(view_->messages[0].msg, 0x401u);
  EXPECT_EQ(view_->messages[0].lp, -1);
  EXPECT_EQ(view_->messages[1].msg, 0x402u);
  SHIM_MessageQueue_Flush();
  ASSERT_EQ(view_->messages.size(), 3u);
  EXPECT_EQ(view_->messages[2].msg, 0x403u);
}

TEST_F(ShimPosting, RefusedPosts) {
  EXPECT_FALSE(SHIM_Internal_PostMessage(nullptr, 1, 0, 0));
  cocoa::View* plain = new cocoa::View;
  EXPECT_FALSE(SHIM_Internal_PostMessage(plain, 1, 0, 0));
  plain->release();
  view_->acceptsPosts = false;
  EXPECT_FALSE(PostMessage(view_, 1, 0, 0));
  EXPECT_EQ(SHIM_Internal_PMQ_QueuedCount(), 0);
}

TEST_F(ShimPosting, ClearingDropsOneWindowsMessagesOrAll) {
  TestView* other = new TestView;
  SHIM_Internal_PostMessage(view_, 1, 0, 0);
  SHIM_Internal_PostMessage(other, 2, 0, 0);
  SHIM_Internal_PostMessage(view_, 3, 0, 0);
  SHIM_MessageQueue_Clear(view_);
  EXPECT_EQ(SHIM_Internal_PMQ_QueuedCount(), 1);
  SHIM_Internal_PostMessage(view_, 4, 0, 0);  // the tail is still right after removing the last record
  SHIM_MessageQueue_Flush();
  EXPECT_EQ(view_->messages.size(), 1u);
  EXPECT_EQ(view_->messages[0].msg, 4u);
  EXPECT_EQ(other->messages.size(), 1u);
  SHIM_Internal_PostMessage(view_, 5, 0, 0);
  SHIM_Internal_PostMessage(other, 6, 0, 0);
  SHIM_Internal_PMQ_ClearAllMessages(nullptr);
  EXPECT_EQ(SHIM_Internal_PMQ_QueuedCount(), 0);
  SHIM_MessageQueue_Flush();
  EXPECT_EQ(view_->messages.size(), 1u);
  other->release();
}

TEST_F(ShimPosting, AWindowDestroyedDuringAFlushGetsNothingMore) {
  TestView* victim = new TestView;
  SHIM_Internal_PostMessage(view_, 1, 0, 0);
  SHIM_Internal_PostMessage(victim, 2, 0, 0);
  SHIM_Internal_PostMessage(victim, 3, 0, 0);
  int destroyed = 0;
  view_->onMessage = [&](UINT, WPARAM, LPARAM) {
    // Destroyed without clearing its queued messages: the flush must notice by itself.
    victim->release();
    ++destroyed;
  };
  SHIM_MessageQueue_Flush();
  EXPECT_EQ(destroyed, 1);
  EXPECT_EQ(SHIM_Internal_PMQ_QueuedCount(), 0);
}

TEST_F(ShimPosting, AWindowThatClearsItsQueueDuringAFlushGetsNothingMore) {
  TestView* victim = new TestView;
  SHIM_Internal_PostMessage(view_, 1, 0, 0);
  SHIM_Internal_PostMessage(victim, 2, 0, 0);
  view_->onMessage = [&](UINT, WPARAM, LPARAM) {
    victim->acceptsPosts = false;
    SHIM_MessageQueue_Clear(victim);
  };
  SHIM_MessageQueue_Flush();
  EXPECT_TRUE(victim->messages.empty());
  EXPECT_EQ(SHIM_Internal_PMQ_QueuedCount(), 0);
  victim->release();
}

TEST(ShimPostStress, EightThreadsPostWhileTheMainThreadFlushes) {
  sharedDelegate();
  SHIM_Internal_PMQ_ClearAllMessages(nullptr);
  constexpr int kThreads = 8, kEach = 3000;
  TestView* view = new TestView;
  std::vector<int> lastSeen(kThreads, -1);
  std::atomic<bool> ordered{true};
  view->onMessage = [&](UINT msg, WPARAM wp, LPARAM) {
    const int t = static_cast<int>(msg - 0x500);
    if (static_cast<int>(wp) != lastSeen[t] + 1) ordered = false;
    lastSeen[t] = static_cast<int>(wp);
  };
  std::atomic<int> finished{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        while (!SHIM_Internal_PostMessage(view, 0x500 + t, i, 0)) Sleep(0);  // full: wait for the main thread
      }
      ++finished;
    });
  }
  size_t delivered = 0;
  while (finished.load() < kThreads || SHIM_Internal_PMQ_QueuedCount() > 0) {
    SHIM_MessageQueue_Flush();
    {
      std::lock_guard<std::mutex> lock(view->mutex);
      delivered = view->messages.size();
    }
  }
  for (auto& th : threads) th.join();
  SHIM_MessageQueue_Flush();
  EXPECT_EQ(view->messages.size(), static_cast<size_t>(kThreads * kEach));
  EXPECT_TRUE(ordered.load());
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(lastSeen[t], kEach - 1);
  (void)delivered;
  view->release();
}

TEST(ShimRunEvents, DispatchesAtMostAHundredEvents) {
  cocoa::Application* app = cocoa::Application::shared();
  int dispatched = 0;
  app->setEventDispatcher([&](cocoa::Event*) { ++dispatched; });
  for (int i = 0; i < 150; ++i) {
    cocoa::Event* e = cocoa::Event::mouseEvent(cocoa::kMouseMoved, {1, 1}, 0);
    app->postEvent(e);
    e->release();
  }
  SHIM_RunEvents();
  EXPECT_EQ(dispatched, 100);
  SHIM_RunEvents();
  EXPECT_EQ(dispatched, 150);
  SHIM_RunEvents();
  EXPECT_EQ(dispatched, 150);
  app->setEventDispatcher(nullptr);
}

TEST(ShimStrings, ConversionCutsToTheBuffer) {
  cocoa::String* s = SHIM_CStringToCFString("abcdef");
  char buf[8];
  memset(buf, '#', sizeof buf);
  SHIM_CFStringToCString(s, buf, 1);
  EXPECT_STREQ(buf, "");
  SHIM_CFStringToCString(s, buf, 4);
  EXPECT_STREQ(buf, "abc");
  memset(buf, '#', sizeof buf);
  SHIM_CFStringToCString(s, buf, 0);
  EXPECT_EQ(buf[0], '#');
  s->release();

  cocoa::String* accented = SHIM_CStringToCFString("a\xC3\xA9z");  // "aéz"
  SHIM_CFStringToCString(accented, buf, 3);
  EXPECT_STREQ(buf, "a");  // never half a character
  SHIM_CFStringToCString(accented, buf, 4);
  EXPECT_STREQ(buf, "a\xC3\xA9");
  accented->release();

  cocoa::String* broken = SHIM_CStringToCFString("x\xFFy");  // not UTF-8: taken as ASCII
  SHIM_CFStringToCString(broken, buf, sizeof buf);
  EXPECT_STREQ(buf, "x?y");
  broken->release();
  cocoa::String* empty = SHIM_CStringToCFString(nullptr);
  SHIM_CFStringToCString(empty, buf, sizeof buf);
  EXPECT_STREQ(buf, "");
  empty->release();
}

TEST(ShimAppNap, ActivityIsHeldWhileTheCountIsPositive) {
  const int base = cocoa::processinfo::activeActivityCount();
  SHIM_DisableAppNap(1);
  SHIM_DisableAppNap(1);
  SHIM_DisableAppNap(-1);
  EXPECT_EQ(cocoa::processinfo::activeActivityCount(), base + 1);
  SHIM_DisableAppNap(-1);
  EXPECT_EQ(cocoa::processinfo::activeActivityCount(), base);

  const double version = cocoa::processinfo::foundationVersionNumber();
  cocoa::processinfo::setFoundationVersionNumber(945.9);  // too old a system: nothing happens
  SHIM_DisableAppNap(1);
  EXPECT_EQ(cocoa::processinfo::activeActivityCount(), base);
  SHIM_DisableAppNap(-1);
  cocoa::processinfo::setFoundationVersionNumber(version);
}

TEST(ShimMisc, RightClickEmulationQuitAndThreads) {
  EXPECT_TRUE(IsRightClickEmulateEnabled());
  SHIM_EnableRightClickEmulate(FALSE);
  EXPECT_FALSE(IsRightClickEmulateEnabled());
  SHIM_EnableRightClickEmulate(TRUE);

  SHIM_EnsureMultithreadedCocoa();
  EXPECT_TRUE(cocoa::thread::isMultiThreaded());
  static std::atomic<int> ran{0};
  const int before = ran.load();
  EXPECT_EQ(CreateThreadNS(
                nullptr, 0, [](LPVOID p) -> DWORD { return static_cast<std::atomic<int>*>(p)->fetch_add(1), 0u; }, &ran,
                0, nullptr),
            nullptr);
  for (int i = 0; i < 2000 && ran.load() == before; ++i) Sleep(1);
  EXPECT_EQ(ran.load(), before + 1);

  SHIM_PostQuitMessage(nullptr);
  EXPECT_TRUE(g_shim_terminating);
  EXPECT_TRUE(cocoa::Application::shared()->isTerminated());
  const int base = cocoa::processinfo::activeActivityCount();
  SHIM_DisableAppNap(1);  // a terminating application holds no activity
  EXPECT_EQ(cocoa::processinfo::activeActivityCount(), base);
  SHIM_DisableAppNap(-1);
  g_shim_terminating = false;
}

TEST(ShimProcess, MakeProcessFrontFindsTheChild) {
  const char* args[] = {"0.3"};
  HANDLE p = SHIM_CreateProcess("/bin/sleep", 1, args);
  ASSERT_NE(p, nullptr);
  SHIM_MakeProcessFront(p);
  const pid_t child = static_cast<SHIM_TaskObj*>(p)->task->processIdentifier();
  EXPECT_GT(child, 0);
  EXPECT_EQ(cocoa::processes::frontProcess(), child);
  EXPECT_EQ(WaitForSingleObject(p, 10000), 0u);
  CloseHandle(p);
}

}  // namespace
