// The headless model of the platform's run loop: per-thread run loops that fire repeating or one-shot timers in
// run-loop modes, take work from other threads, and wait on an injectable clock. With the manual clock, time moves
// only when a run loop waits for it, so timer behaviour can be exercised exactly and at once.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/cocoa/object.h"

namespace cocoa {

extern const char* const kDefaultRunLoopMode;
extern const char* const kCommonRunLoopModes;  // a timer added here fires in each of the common modes below
extern const char* const kModalPanelRunLoopMode;
extern const char* const kEventTrackingRunLoopMode;

// Seconds on the model clock (monotonic; origin unspecified).
double clockNow();
// Tests: time stands still except when a run loop waits (it jumps to the end of the wait) or advanceClock is called.
void useManualClock();
void useRealClock();
bool clockIsManual();
void advanceClock(double seconds);

class Timer : public Object {
 public:
  using Action = std::function<void(Timer*)>;
  // A timer that calls `action` every `interval` seconds (once when not repeating) from its first fire date, now +
  // interval. It retains `target` and `userInfo` until it is invalidated, as the platform's timer does.
  Timer(double interval, bool repeats, Action action, Object* target = nullptr, Object* userInfo = nullptr);
  // A new timer added to the calling thread's run loop in the default mode. The run loop owns it; a caller that
  // keeps the pointer beyond the timer's invalidation must retain it.
  static Timer* scheduled(double interval, bool repeats, Action action, Object* target = nullptr,
                          Object* userInfo = nullptr);

  // Thread of the timer's run loop. Stops the timer for good and lets go of its action (once a firing action has
  // returned), target and user information; every run loop lets go of the timer at once. Nothing of the caller's
  // code then stays with the run loop, so a plug-in's module may be unloaded while the host's thread lives on.
  void invalidate();
  bool isValid() const;
  double interval() const { return interval_; }
  double fireDate() const;
  // Moves the next fire (model clock); a date already passed fires on the run loop's next pass.
  void setFireDate(double date);
  Object* target() const { return target_; }
  Object* userInfo() const { return userInfo_; }
  // Calls the action now (the run loop does this when the fire date comes).
  void fire();

 protected:
  ~Timer() override;

 private:
  friend class RunLoop;
  double interval_;
  bool repeats_;
  std::shared_ptr<const Action> action_;  // under the state's mutex; null once invalidated
  Object* target_;
  Object* userInfo_;
  struct State;
  State* state_;
};

class RunLoop {
 public:
  // The calling thread's run loop, made on first use and kept for the thread's life.
  static RunLoop* current();

  // Thread of this run loop. Retains the timer; it fires while the loop runs in `mode` (or, for the common modes,
  // in any common mode).
  void addTimer(Timer* timer, const char* mode);
  // Thread of this run loop. Fires timers and runs queued work until `date` (model clock) has come.
  void runUntilDate(double date, const char* mode = kDefaultRunLoopMode);
  // Thread of this run loop. As runUntilDate, but returns as soon as `done` answers true (checked after each pass);
  // returns whether it did.
  bool runUntil(double date, const char* mode, const std::function<bool()>& done);

  // Any thread: queues work for this run loop's next pass and wakes it.
  void perform(std::function<void()> work);
  // Any thread: makes a waiting pass re-check its condition.
  void wakeUp();
  // Any thread: wakes every run loop of the process (new events for whichever thread waits for them).
  static void wakeAll();

  // Thread of this run loop. Work run at the end of every pass, after the timers (the platform's before-waiting
  // observers: the window system displays invalid views there).
  void addObserver(std::function<void()> observer);

  // Number of valid timers installed (tests and diagnostics).
  int timerCount();

  struct Impl;

 private:
  friend class Timer;
  RunLoop();
  ~RunLoop();
  // Every run loop lets go of its invalidated timers.
  static void dropInvalidTimers();
  Impl* impl_;
};

// The platform's thread class: detached threads, and the process-wide multithreaded flag that the first one sets.
namespace thread {
bool isMultiThreaded();
// Starts a detached thread running `body`; exceptions are caught at the thread's edge.
void detachNew(std::function<void()> body);
}  // namespace thread

}  // namespace cocoa
