#include "KIT/shim/shim-misc.h"

#include <pthread.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "KIT/kitstring.h"
#include "KIT/shim/shim-handles.h"
#include "KIT/shim/shim-internal.h"
#include "KIT/shim/shim-objects.h"
#include "KIT/shim/shim-sys.h"
#include "platform/cocoa/application.h"
#include "platform/cocoa/cfstring.h"
#include "platform/cocoa/process.h"
#include "platform/cocoa/runloop.h"
#include "platform/cocoa/view.h"

HWND g_shim_only_timerhwnd = nullptr;
bool g_shim_terminating = false;

namespace {

// ---- timers ----

struct TimerRec {
  UINT timerid;
  HWND hwnd;            // the object that handles the timer (a window's content view for a window), or null
  cocoa::Timer* timer;  // retained
  TimerRec* next;
};

std::recursive_mutex& m_timermutex() {
  static auto* m = new std::recursive_mutex;
  return *m;
}
TimerRec* m_timer_list = nullptr;   // newest first, under m_timermutex
UINT s_nextWindowlessId = 0x10000;  // under m_timermutex

// Window-less timers get ids from a counter, skipping 0, the kill-all id and ids still in use.
UINT nextWindowlessId() {
  for (;;) {
    UINT id = s_nextWindowlessId++;
    if (id == 0 || id == 0xFFFFFFFF) continue;
    bool used = false;
    for (TimerRec* r = m_timer_list; r && !used; r = r->next) used = !r->hwnd && r->timerid == id;
    if (!used) return id;
  }
}

void stopTimer(TimerRec* rec) {
  if (rec->timer) {
    rec->timer->invalidate();
    rec->timer->release();
    rec->timer = nullptr;
  }
}

// ---- posted-message queue ----

struct PostedRec {
  HWND hwnd;
  uint64_t serial;  // the window's serial when posted: a later object at the same address is not the same window
  UINT msg;
  WPARAM parm1;  // timer requests: the interval (0xFFFFFFFF: kill)
  LPARAM parm2;  // timer requests: the id
  TIMERPROC callback;
  PostedRec* next;
  bool isTimer;
};

std::recursive_mutex& m_pmq_mutex() {
  static auto* m = new std::recursive_mutex;
  return *m;
}
// All under m_pmq_mutex.
PostedRec* m_pmq = nullptr;
PostedRec* m_pmq_tail = nullptr;
int m_pmq_size = 0;  // records queued or awaiting delivery
PostedRec* m_pmq_empty = nullptr;
// Records taken off the queue by a flush and not yet delivered: clearing a window reaches them too, so that a
// window destroyed by an earlier message of the same flush gets nothing more.
PostedRec* m_pmq_inflight = nullptr;
PostedRec* m_pmq_inflight_tail = nullptr;
std::atomic<bool> m_pmq_initialised{false};
pthread_t m_pmq_mainthread;                   // written once before m_pmq_initialised is set
cocoa::RunLoop* m_pmq_mainrunloop = nullptr;  // likewise
cocoa::Timer* m_pmq_timer = nullptr;
SHIM_SendMessageFunc s_deliver = nullptr;

constexpr int kMaxPostedMessages = 1024;

bool isOtherThanQueueMainThread() {
  return m_pmq_initialised.load(std::memory_order_acquire) && !pthread_equal(pthread_self(), m_pmq_mainthread);
}

PostedRec* takeFreeRecord() {
  PostedRec* r = m_pmq_empty;
  if (r) {
    m_pmq_empty = r->next;
  } else {
    r = new PostedRec;
  }
  *r = PostedRec{};
  return r;
}

void appendRecord(PostedRec* r) {
  r->next = nullptr;
  if (m_pmq_tail) {
    m_pmq_tail->next = r;
  } else {
    m_pmq = r;
  }
  m_pmq_tail = r;
  m_pmq_size++;
}

void recycle(PostedRec* r) {
  r->next = m_pmq_empty;
  m_pmq_empty = r;
}

// Moves the records of `hwnd` (all for null) from a list to the free list; returns how many.
int clearFromList(PostedRec*& head, PostedRec*& tail, HWND hwnd) {
  int n = 0;
  PostedRec* prev = nullptr;
  for (PostedRec* r = head; r;) {
    PostedRec* next = r->next;
    if (!hwnd || r->hwnd == hwnd) {
      if (prev) {
        prev->next = next;
      } else {
        head = next;
      }
      if (tail == r) tail = prev;
      recycle(r);
      ++n;
    } else {
      prev = r;
    }
    r = next;
  }
  return n;
}

LRESULT deliverToReceiver(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (auto* receiver = hwnd ? hwnd->as<SHIM_MessageReceiver>() : nullptr) return receiver->onShimMessage(msg, wp, lp);
  return 0;
}

std::atomic<bool> s_rightclickemulate{true};

int s_appNapCount = 0;
cocoa::Activity* s_appNapActivity = nullptr;

uint64_t monotonicMs() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

}  // namespace

// ===============================================================================================================
// Timers

void Shim_vVexmir_tft::SHIM_Timer(cocoa::Timer*) {
  if (g_shim_only_timerhwnd && g_shim_only_timerhwnd != m_hwnd) return;
  if (m_cb) m_cb(m_hwnd, WM_TIMER, m_timerid, GetTickCount());
}

namespace {

// The thread that runs the windows: the queue's main thread once it is known, else the process's first thread.
bool onMainThread() {
  if (m_pmq_initialised.load(std::memory_order_acquire)) return pthread_equal(pthread_self(), m_pmq_mainthread) != 0;
  return static_cast<pid_t>(syscall(SYS_gettid)) == getpid();
}

TimerRec* findWindowless(UINT id) {
  for (TimerRec* r = m_timer_list; r; r = r->next) {
    if (!r->hwnd && r->timerid == id) return r;
  }
  return nullptr;
}

}  // namespace

UINT SetTimer(HWND hwnd, UINT id, UINT milliseconds, TIMERPROC callback) {
  if (!hwnd && !callback) return 0;
  if (hwnd && id == 0) return 0;
  // A timer without a window set from another thread runs on the main run loop: a worker's own run loop never
  // turns, and its timer would stay listed after the thread ended. Before the main thread is known it is refused.
  if (!hwnd && !onMainThread()) {
    if (!m_pmq_initialised.load(std::memory_order_acquire) || !m_pmq_mainrunloop) return 0;
    UINT armed;
    {
      std::lock_guard<std::recursive_mutex> lock(m_timermutex());
      TimerRec* rec = id ? findWindowless(id) : nullptr;
      if (!rec) {
        rec = new TimerRec{nextWindowlessId(), nullptr, nullptr, m_timer_list};
        m_timer_list = rec;
      }
      armed = rec->timerid;
    }
    m_pmq_mainrunloop->perform([armed, milliseconds, callback] {
      std::lock_guard<std::recursive_mutex> lock(m_timermutex());
      // Killed before the main thread came to it: nothing to start.
      if (findWindowless(armed)) SetTimer(nullptr, armed, milliseconds, callback);
    });
    return armed;
  }
  // Window timers from other threads are scheduled by the main thread's next flush. A timer without a window has
  // no main-thread owner to go to, so it is set on the calling thread's own run loop.
  if (hwnd && id != 0xFFFFFFFF && isOtherThanQueueMainThread()) {
    SHIM_pmq_settimer(hwnd, id, milliseconds < 0xFFFFFFFE ? milliseconds : 0xFFFFFFFE, callback);
    return id;
  }
  HWND target = nullptr;
  if (hwnd) {
    if (hwnd->as<SHIM_TimerReceiver>()) {
      target = hwnd;
    } else if (auto* window = hwnd->as<cocoa::Window>()) {
      cocoa::View* content = window->contentView();
      if (content && content->as<SHIM_TimerReceiver>()) target = content;
    }
    if (!target) return 0;
  }

  std::lock_guard<std::recursive_mutex> lock(m_timermutex());
  TimerRec* rec = nullptr;
  if (id || target) {
    for (TimerRec* r = m_timer_list; r; r = r->next) {
      if (r->timerid == id && r->hwnd == target) {
        rec = r;
        break;
      }
    }
  }
  const bool isNew = rec == nullptr;
  if (rec) {
    stopTimer(rec);
  } else {
    rec = new TimerRec{id, target, nullptr, nullptr};
  }

  const double interval = milliseconds ? milliseconds * 0.001 : 0.001;
  cocoa::Timer* timer;
  if (callback || !target) {
    if (!target && isNew) rec->timerid = nextWindowlessId();
    auto* tft = new Shim_vVexmir_tft(rec->timerid, target, callback);
    timer = new cocoa::Timer(
        interval, true, [](cocoa::Timer* t) { static_cast<Shim_vVexmir_tft*>(t->target())->SHIM_Timer(t); }, tft);
    tft->release();  // the timer holds it
  } else {
    auto* info = new Shim_vVexmir_sdh(static_cast<INT_PTR>(id));
    timer = new cocoa::Timer(
        interval, true,
        [](cocoa::Timer* t) {
          if (auto* receiver = t->target() ? t->target()->as<SHIM_TimerReceiver>() : nullptr) receiver->SHIM_Timer(t);
        },
        target, info);
    info->release();
  }
  // The common modes keep the timer firing during menu tracking and modal loops.
  cocoa::RunLoop::current()->addTimer(timer, cocoa::kCommonRunLoopModes);
  rec->timer = timer;  // the creation reference
  if (isNew) {
    rec->next = m_timer_list;
    m_timer_list = rec;
  }
  return rec->timerid;
}

BOOL KillTimer(HWND hwnd, UINT id) {
  if (!hwnd && !id) return FALSE;
  std::lock_guard<std::recursive_mutex> lock(m_timermutex());
  if (hwnd && id != 0xFFFFFFFF && isOtherThanQueueMainThread()) {
    SHIM_pmq_settimer(hwnd, id, 0xFFFFFFFF, nullptr);
    return TRUE;
  }
  if (!hwnd && id == 0xFFFFFFFF) return FALSE;
  if (!hwnd && !onMainThread()) {
    // The platform timer belongs to the main run loop: it is stopped there.
    for (TimerRec** link = &m_timer_list; *link; link = &(*link)->next) {
      TimerRec* r = *link;
      if (r->hwnd || r->timerid != id) continue;
      *link = r->next;
      if (r->timer && m_pmq_mainrunloop) {
        m_pmq_mainrunloop->perform([r] {
          stopTimer(r);
          delete r;
        });
      } else {
        delete r;
      }
      return TRUE;
    }
    return FALSE;
  }
  BOOL removed = FALSE;
  for (TimerRec** link = &m_timer_list; *link;) {
    TimerRec* r = *link;
    if (r->hwnd == hwnd && (id == 0xFFFFFFFF || r->timerid == id)) {
      *link = r->next;
      stopTimer(r);
      delete r;
      removed = TRUE;
      if (id != 0xFFFFFFFF) break;
    } else {
      link = &r->next;
    }
  }
  return removed;
}

void SHIM_RunRunLoop(int milliseconds) {
  cocoa::RunLoop::current()->runUntilDate(cocoa::clockNow() + milliseconds * 0.001);
}

void SHIM_RunRunLoopEx(int milliseconds, HWND only) {
  HWND previous = g_shim_only_timerhwnd;
  g_shim_only_timerhwnd = only;
  SHIM_RunRunLoop(milliseconds);
  if (g_shim_only_timerhwnd == only) g_shim_only_timerhwnd = previous;
}

// ===============================================================================================================
// Posted messages

BOOL PostMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  cocoa::Object* delegate = cocoa::Application::shared()->delegate();
  auto* d = delegate ? delegate->as<SHIM_PostMessageDelegate>() : nullptr;
  return d ? (d->shimPostMessage(hwnd, message, wParam, lParam) & 0xFF) != 0 : FALSE;
}

void SHIM_MessageQueue_Clear(HWND hwnd) {
  cocoa::Object* delegate = cocoa::Application::shared()->delegate();
  if (auto* d = delegate ? delegate->as<SHIM_PostMessageClearQDelegate>() : nullptr) d->shimPostMessageClearQ(hwnd);
}

void SHIM_Internal_PostMessage_Init() {
  if (m_pmq_initialised.load(std::memory_order_acquire)) return;
  cocoa::Object* delegate = cocoa::Application::shared()->delegate();
  if (!delegate || !delegate->as<SHIM_PostMessageTickDelegate>()) return;
  m_pmq_mainthread = pthread_self();
  m_pmq_mainrunloop = cocoa::RunLoop::current();
  m_pmq_mutex();
  m_pmq_timer = new cocoa::Timer(
      0.05, true,
      [](cocoa::Timer* t) {
        cocoa::Object* d = cocoa::Application::shared()->delegate();
        if (auto* tick = d ? d->as<SHIM_PostMessageTickDelegate>() : nullptr) tick->shimPostMessageTick(t);
      },
      delegate);
  cocoa::RunLoop::current()->addTimer(m_pmq_timer, cocoa::kCommonRunLoopModes);
  m_pmq_initialised.store(true, std::memory_order_release);
}

BOOL SHIM_Internal_PostMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (!hwnd || !m_pmq_initialised.load(std::memory_order_acquire)) return FALSE;
  auto* target = hwnd->as<SHIM_PostTarget>();
  if (!target) return FALSE;
  std::lock_guard<std::recursive_mutex> lock(m_pmq_mutex());
  if (!m_pmq_empty && m_pmq_size >= kMaxPostedMessages) return FALSE;
  if (!target->shimCanPostMessage()) return FALSE;
  PostedRec* r = takeFreeRecord();
  r->hwnd = hwnd;
  r->serial = hwnd->serial();
  r->msg = message;
  r->parm1 = wParam;
  r->parm2 = lParam;
  r->isTimer = false;
  appendRecord(r);
  return TRUE;
}

void SHIM_pmq_settimer(HWND hwnd, UINT id, UINT milliseconds, TIMERPROC callback) {
  if (!hwnd || !m_pmq_initialised.load(std::memory_order_acquire)) return;
  std::lock_guard<std::recursive_mutex> lock(m_pmq_mutex());
  for (PostedRec* r = m_pmq; r; r = r->next) {
    if (r->isTimer && r->hwnd == hwnd && static_cast<UINT>(r->parm2) == id) {
      r->parm1 = milliseconds;
      r->callback = callback;
      return;
    }
  }
  PostedRec* r = takeFreeRecord();
  r->hwnd = hwnd;
  r->serial = hwnd->serial();
  r->parm1 = milliseconds;
  r->parm2 = static_cast<LPARAM>(id);
  r->callback = callback;
  r->isTimer = true;
  appendRecord(r);
}

void SHIM_MessageQueue_Flush() {
  {
    std::lock_guard<std::recursive_mutex> lock(m_pmq_mutex());
    if (!m_pmq) return;
    // Records posted from now on wait for the next flush.
    if (m_pmq_inflight_tail) {
      m_pmq_inflight_tail->next = m_pmq;
    } else {
      m_pmq_inflight = m_pmq;
    }
    m_pmq_inflight_tail = m_pmq_tail;
    m_pmq = m_pmq_tail = nullptr;
  }
  SHIM_SendMessageFunc deliver = s_deliver ? s_deliver : deliverToReceiver;
  for (;;) {
    PostedRec rec;
    {
      std::lock_guard<std::recursive_mutex> lock(m_pmq_mutex());
      PostedRec* r = m_pmq_inflight;
      if (!r) break;
      m_pmq_inflight = r->next;
      if (!m_pmq_inflight) m_pmq_inflight_tail = nullptr;
      rec = *r;
      recycle(r);
      m_pmq_size--;
    }
    // The handler runs without the queue lock, so it may post again; a window that is gone gets nothing.
    if (!cocoa::Object::isLive(rec.hwnd, rec.serial)) continue;
    if (rec.isTimer) {
      const UINT ms = static_cast<UINT>(rec.parm1), id = static_cast<UINT>(rec.parm2);
      if (ms == 0xFFFFFFFF) {
        KillTimer(rec.hwnd, id);
      } else {
        SetTimer(rec.hwnd, id, ms, rec.callback);
      }
    } else {
      deliver(rec.hwnd, rec.msg, rec.parm1, rec.parm2);
    }
  }
}

void SHIM_Internal_PMQ_ClearAllMessages(HWND hwnd) {
  std::lock_guard<std::recursive_mutex> lock(m_pmq_mutex());
  m_pmq_size -= clearFromList(m_pmq, m_pmq_tail, hwnd);
  m_pmq_size -= clearFromList(m_pmq_inflight, m_pmq_inflight_tail, hwnd);
}

void SHIM_SetPostedMessageDelivery(SHIM_SendMessageFunc send) {
  s_deliver = send;
}

int SHIM_Internal_PMQ_QueuedCount() {
  std::lock_guard<std::recursive_mutex> lock(m_pmq_mutex());
  return m_pmq_size;
}

int SHIM_Internal_PMQ_FreeCount() {
  std::lock_guard<std::recursive_mutex> lock(m_pmq_mutex());
  int n = 0;
  for (PostedRec* r = m_pmq_empty; r; r = r->next) ++n;
  return n;
}

bool SHIM_Internal_PMQ_IsMainThreadKnown() {
  return m_pmq_initialised.load(std::memory_order_acquire);
}

int SHIM_Internal_TimerCount(HWND hwnd) {
  std::lock_guard<std::recursive_mutex> lock(m_timermutex());
  int n = 0;
  for (TimerRec* r = m_timer_list; r; r = r->next) n += r->hwnd == hwnd ? 1 : 0;
  return n;
}

cocoa::Timer* SHIM_Internal_TimerObject(HWND hwnd, UINT id) {
  std::lock_guard<std::recursive_mutex> lock(m_timermutex());
  for (TimerRec* r = m_timer_list; r; r = r->next)
    if (r->hwnd == hwnd && r->timerid == id) return r->timer;
  return nullptr;
}

const void* SHIM_Internal_TimerRecord(HWND hwnd, UINT id) {
  std::lock_guard<std::recursive_mutex> lock(m_timermutex());
  for (TimerRec* r = m_timer_list; r; r = r->next)
    if (r->hwnd == hwnd && r->timerid == id) return r;
  return nullptr;
}

// ===============================================================================================================
// Threads, pools and events

void SHIM_EnsureMultithreadedCocoa() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (!cocoa::thread::isMultiThreaded()) cocoa::thread::detachNew(nullptr);
  });
}

HANDLE CreateThreadNS(void*, DWORD, DWORD (*proc)(LPVOID), LPVOID param, DWORD, DWORD_PTR*) {
  cocoa::thread::detachNew([proc, param] {
    if (proc) proc(param);
  });
  return nullptr;
}

void* SHIM_InitAutoRelease() {
  return new cocoa::AutoreleasePool;
}

void SHIM_QuitAutoRelease(void* pool) {
  delete static_cast<cocoa::AutoreleasePool*>(pool);
}

void SHIM_RunEvents() {
  cocoa::AutoreleasePool pool;
  cocoa::Application* app = cocoa::Application::shared();
  for (int i = 0; i < 100; ++i) {
    cocoa::Event* e = app->nextEvent(cocoa::kAnyEventMask, cocoa::clockNow() + 0.001, cocoa::kDefaultRunLoopMode, true);
    if (!e) break;
    app->sendEvent(e);
  }
}

// ===============================================================================================================
// Child processes

HANDLE SHIM_CreateProcess(const char* executable, int count, const char** arguments) {
  auto* task = new cocoa::Task;
  std::vector<std::string> args;
  for (int i = 0; i < count; ++i) args.emplace_back(arguments && arguments[i] ? arguments[i] : "");
  task->setArguments(std::move(args));
  task->setLaunchPath(executable ? executable : "");
  try {
    task->launch();
  } catch (...) {
    task->release();
    return nullptr;
  }
  auto* p = new SHIM_TaskObj;
  p->hdr.type = SHIM_OBJTYPE_NSTASK;
  p->hdr.count.store(1);
  p->task = task;
  return p;
}

DWORD SHIM_WaitForNSTask(cocoa::Task* task, DWORD timeoutMs) {
  if (!task) return WAIT_FAILED;
  if (timeoutMs == 0) return task->isRunning() ? WAIT_TIMEOUT : 0;
  // One deadline on the monotonic clock, fixed at the start.
  const uint64_t end = monotonicMs() + timeoutMs;
  while (task->isRunning()) {
    if (timeoutMs != INFINITE && monotonicMs() >= end) return task->isRunning() ? WAIT_TIMEOUT : 0;
    Sleep(1);
  }
  return 0;
}

void SHIM_ReleaseNSTask(cocoa::Task* task) {
  if (task) task->release();
}

void SHIM_MakeProcessFront(HANDLE process) {
  if (!process || static_cast<SHIM_KernelObjHdr*>(process)->type != SHIM_OBJTYPE_NSTASK) return;
  cocoa::Task* task = static_cast<SHIM_TaskObj*>(process)->task;
  if (!task) return;
  const pid_t pid = task->processIdentifier();
  for (int attempt = 0; attempt < 20; ++attempt) {
    if (cocoa::processes::processForPID(pid)) {
      cocoa::processes::setFrontProcess(pid);
      return;
    }
    Sleep(50);
  }
}

// ===============================================================================================================
// Strings

cocoa::String* SHIM_CStringToCFString(const char* text) {
  if (!text) text = "";
  if (cocoa::String* s = cocoa::String::fromUTF8(text)) return s;
  return cocoa::String::fromASCII(text);
}

void SHIM_CFStringToCString(const cocoa::String* string, char* buffer, int size) {
  if (!buffer || size <= 0) return;
  buffer[0] = 0;
  if (!string || size <= 1) return;
  KIT_UTF8Copy(buffer, static_cast<size_t>(size), string->utf8().c_str());
}

// ===============================================================================================================
// Other

void SHIM_EnableRightClickEmulate(BOOL on) {
  s_rightclickemulate.store(on != 0);
}

BOOL IsRightClickEmulateEnabled() {
  return s_rightclickemulate.load() ? TRUE : FALSE;
}

void SHIM_PostQuitMessage(cocoa::Object* sender) {
  g_shim_terminating = true;
  cocoa::Application::shared()->terminate(sender);
}

void SHIM_DisableAppNap(int delta) {
  if (g_shim_terminating || std::floor(cocoa::processinfo::foundationVersionNumber()) <= 945.0) return;
  s_appNapCount += delta;
  try {
    if (s_appNapCount >= 1 && !s_appNapActivity) {
      s_appNapActivity = cocoa::processinfo::beginActivity(0xFF00100000ULL, "SHIM_DisableAppNap");
    } else if (s_appNapCount <= 0 && s_appNapActivity) {
      cocoa::processinfo::endActivity(s_appNapActivity);
      s_appNapActivity->release();
      s_appNapActivity = nullptr;
    }
  } catch (...) {
  }
}
