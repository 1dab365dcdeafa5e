#include "platform/cocoa/runloop.h"

#include <time.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace cocoa {

const char* const kDefaultRunLoopMode = "kCFRunLoopDefaultMode";
const char* const kCommonRunLoopModes = "kCFRunLoopCommonModes";
const char* const kModalPanelRunLoopMode = "NSModalPanelRunLoopMode";
const char* const kEventTrackingRunLoopMode = "NSEventTrackingRunLoopMode";

namespace {

// Fire dates are sums of intervals; a timer due at the very moment a run ends must not miss it by a rounding.
constexpr double kDueSlack = 1e-9;

std::atomic<bool> g_manual{false};
std::mutex g_manualMutex;
double g_manualNow = 0;  // under g_manualMutex
// Added to the real clock so that model time never runs backwards when a test goes from manual to real time.
double g_realOffset = 0;  // under g_manualMutex

double realNow() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

bool isCommonMode(const std::string& mode) {
  return mode == kDefaultRunLoopMode || mode == kModalPanelRunLoopMode || mode == kEventTrackingRunLoopMode;
}

// Moves the manual clock forward to `t` (never backwards).
void manualAdvanceTo(double t) {
  std::lock_guard<std::mutex> lock(g_manualMutex);
  if (t > g_manualNow) g_manualNow = t;
}

std::mutex g_loopsMutex;
std::set<RunLoop::Impl*>& allLoops() {
  static std::set<RunLoop::Impl*>* s = new std::set<RunLoop::Impl*>;
  return *s;
}

std::atomic<bool> g_multiThreaded{false};

}  // namespace

double clockNow() {
  std::lock_guard<std::mutex> lock(g_manualMutex);
  return g_manual.load(std::memory_order_acquire) ? g_manualNow : realNow() + g_realOffset;
}

void useManualClock() {
  std::lock_guard<std::mutex> lock(g_manualMutex);
  if (g_manual.load(std::memory_order_acquire)) return;
  g_manualNow = realNow() + g_realOffset;
  g_manual.store(true, std::memory_order_release);
}

void useRealClock() {
  std::lock_guard<std::mutex> lock(g_manualMutex);
  if (!g_manual.load(std::memory_order_acquire)) return;
  g_realOffset = g_manualNow - realNow();
  g_manual.store(false, std::memory_order_release);
}

bool clockIsManual() {
  return g_manual.load(std::memory_order_acquire);
}

void advanceClock(double seconds) {
  std::lock_guard<std::mutex> lock(g_manualMutex);
  if (seconds > 0) g_manualNow += seconds;
}

// ---------------------------------------------------------------------------------------------------------------
// Timer

struct Timer::State {
  std::mutex mutex;
  bool valid = true;
  double fireDate = 0;
};

Timer::Timer(double interval, bool repeats, Action action, Object* target, Object* userInfo)
    : interval_(interval > 0 ? interval : 0.0001),
      repeats_(repeats),
      action_(action ? std::make_shared<const Action>(std::move(action)) : nullptr),
      target_(target),
      userInfo_(userInfo),
      state_(new State) {
  if (target_) target_->retain();
  if (userInfo_) userInfo_->retain();
  state_->fireDate = clockNow() + interval_;
}

Timer::~Timer() {
  invalidate();
  delete state_;
}

Timer* Timer::scheduled(double interval, bool repeats, Action action, Object* target, Object* userInfo) {
  Timer* t = new Timer(interval, repeats, std::move(action), target, userInfo);
  RunLoop::current()->addTimer(t, kDefaultRunLoopMode);
  t->release();  // the run loop holds it now
  return t;
}

void Timer::invalidate() {
  Object* target = nullptr;
  Object* info = nullptr;
  std::shared_ptr<const Action> action;
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (!state_->valid) return;
    state_->valid = false;
    std::swap(target, target_);
    std::swap(info, userInfo_);
    action.swap(action_);
  }
  // The action may hold the last reference to state that the target or user information keeps alive. A firing
  // action holds its own reference and goes when it returns.
  action.reset();
  releaseObject(target);
  releaseObject(info);
  RunLoop::dropInvalidTimers();
}

bool Timer::isValid() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->valid;
}

double Timer::fireDate() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->fireDate;
}

void Timer::setFireDate(double date) {
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->fireDate = date;
  }
  RunLoop::wakeAll();  // a waiting loop may be asleep until the old date
}

void Timer::fire() {
  // The action may invalidate the timer, which drops the run loop's reference and lets go of the target while the
  // target's own handler still runs: both stay alive until the action has returned.
  Object* target = nullptr;
  std::shared_ptr<const Action> action;
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (!state_->valid) return;
    target = target_;
    if (target) target->retain();
    action = action_;
  }
  retain();
  if (action && *action) (*action)(this);
  if (!repeats_) invalidate();
  action.reset();
  release();
  releaseObject(target);
}

// ---------------------------------------------------------------------------------------------------------------
// RunLoop

struct RunLoop::Impl {
  std::mutex mutex;
  std::condition_variable cv;
  struct Entry {
    Timer* timer;
    std::string mode;
  };
  std::vector<Entry> timers;  // retained
  std::deque<std::function<void()>> work;
  std::vector<std::function<void()>> observers;  // this loop's thread only
  bool woken = false;
};

RunLoop::RunLoop() : impl_(new Impl) {
  std::lock_guard<std::mutex> lock(g_loopsMutex);
  allLoops().insert(impl_);
}

RunLoop::~RunLoop() {
  {
    std::lock_guard<std::mutex> lock(g_loopsMutex);
    allLoops().erase(impl_);
  }
  for (auto& e : impl_->timers) {
    e.timer->invalidate();
    e.timer->release();
  }
  delete impl_;
}

void RunLoop::dropInvalidTimers() {
  std::vector<Timer*> dropped;
  {
    std::lock_guard<std::mutex> lock(g_loopsMutex);
    for (Impl* impl : allLoops()) {
      std::lock_guard<std::mutex> l(impl->mutex);
      auto& timers = impl->timers;
      for (auto it = timers.begin(); it != timers.end();) {
        if (it->timer->isValid()) {
          ++it;
        } else {
          dropped.push_back(it->timer);
          it = timers.erase(it);
        }
      }
    }
  }
  // Outside the locks: the last release destroys the timer.
  for (Timer* t : dropped) t->release();
}

RunLoop* RunLoop::current() {
  thread_local struct Holder {
    RunLoop* loop = nullptr;
    ~Holder() { delete loop; }
  } holder;
  if (!holder.loop) holder.loop = new RunLoop;
  return holder.loop;
}

void RunLoop::addTimer(Timer* timer, const char* mode) {
  if (!timer || !mode) return;
  timer->retain();
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->timers.push_back({timer, mode});
}

void RunLoop::runUntilDate(double date, const char* mode) {
  runUntil(date, mode, [] { return false; });
}

bool RunLoop::runUntil(double date, const char* mode, const std::function<bool()>& done) {
  const std::string runMode = mode ? mode : kDefaultRunLoopMode;
  auto firesIn = [&](const Impl::Entry& e) {
    return e.mode == runMode || (e.mode == kCommonRunLoopModes && isCommonMode(runMode));
  };
  for (;;) {
    // Queued work first, then every timer that is due, earliest first.
    std::deque<std::function<void()>> work;
    std::vector<Timer*> due;
    {
      std::lock_guard<std::mutex> lock(impl_->mutex);
      work.swap(impl_->work);
      impl_->woken = false;
    }
    for (auto& w : work) w();

    const double now = clockNow();
    {
      std::lock_guard<std::mutex> lock(impl_->mutex);
      std::vector<Impl::Entry> kept;
      for (auto& e : impl_->timers) {
        if (!e.timer->isValid()) {
          e.timer->release();
          continue;
        }
        kept.push_back(e);
        if (firesIn(e) && e.timer->fireDate() <= now + kDueSlack) {
          e.timer->retain();
          due.push_back(e.timer);
        }
      }
      impl_->timers.swap(kept);
    }
    std::sort(due.begin(), due.end(), [](Timer* a, Timer* b) { return a->fireDate() < b->fireDate(); });
    for (Timer* t : due) {
      {
        // The next fire date is the first multiple of the interval after now, so a late loop does not burst.
        std::lock_guard<std::mutex> lock(t->state_->mutex);
        double next = t->state_->fireDate + t->interval_;
        if (next <= now) next += std::ceil((now - next) / t->interval_ + 1e-9) * t->interval_;
        if (next <= now) next = now + t->interval_;
        t->state_->fireDate = next;
      }
      t->fire();
      t->release();
    }
    for (size_t i = 0; i < impl_->observers.size(); ++i) impl_->observers[i]();

    if (done()) return true;
    const double after = clockNow();
    if (after >= date) return false;

    // Wait for the earlier of the deadline and the next timer, or until woken.
    double wakeAt = date;
    {
      std::lock_guard<std::mutex> lock(impl_->mutex);
      for (auto& e : impl_->timers)
        if (firesIn(e) && e.timer->isValid()) wakeAt = std::min(wakeAt, e.timer->fireDate());
      if (!impl_->work.empty() || impl_->woken) continue;
    }
    if (clockIsManual()) {
      manualAdvanceTo(wakeAt);
      continue;
    }
    std::unique_lock<std::mutex> lock(impl_->mutex);
    const double wait = wakeAt - clockNow();
    if (wait > 0 && impl_->work.empty() && !impl_->woken) {
      impl_->cv.wait_for(lock, std::chrono::duration<double>(std::min(wait, 3600.0)),
                         [&] { return !impl_->work.empty() || impl_->woken; });
    }
  }
}

void RunLoop::perform(std::function<void()> work) {
  {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->work.push_back(std::move(work));
  }
  impl_->cv.notify_all();
}

void RunLoop::wakeUp() {
  {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->woken = true;
  }
  impl_->cv.notify_all();
}

void RunLoop::wakeAll() {
  std::lock_guard<std::mutex> lock(g_loopsMutex);
  for (Impl* impl : allLoops()) {
    {
      std::lock_guard<std::mutex> l(impl->mutex);
      impl->woken = true;
    }
    impl->cv.notify_all();
  }
}

void RunLoop::addObserver(std::function<void()> observer) {
  if (observer) impl_->observers.push_back(std::move(observer));
}

int RunLoop::timerCount() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  int n = 0;
  for (auto& e : impl_->timers) n += e.timer->isValid() ? 1 : 0;
  return n;
}

namespace thread {

bool isMultiThreaded() {
  return g_multiThreaded.load(std::memory_order_acquire);
}

void detachNew(std::function<void()> body) {
  g_multiThreaded.store(true, std::memory_order_release);
  std::thread([body = std::move(body)] {
    try {
      if (body) body();
    } catch (...) {
      fprintf(stderr, "cocoa: an exception left a detached thread's body\n");
    }
  }).detach();
}

}  // namespace thread

}  // namespace cocoa
