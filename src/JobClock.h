// The one clock of the transfer jobs and the MIDI clock loop: a monotonic time in nanoseconds, the
// pacing sleeps, and a wait for a deadline. Tests hand the plug-in a clock of their own, so that a
// bank store that takes minutes on the synthesizer runs in milliseconds.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

class JobClock {
 public:
  virtual ~JobClock() = default;

  // Monotonic time in nanoseconds; only differences mean anything.
  virtual int64_t nowNanoseconds() = 0;
  // Blocks the calling thread for the given milliseconds (below 1: a tenth of a millisecond).
  virtual void sleepMilliseconds(int milliseconds) = 0;
  // Blocks until nowNanoseconds() has reached the deadline, or at most maxWaitNanoseconds, whichever
  // comes first, so that a caller can look at a stop flag between waits.
  virtual void waitUntil(int64_t deadlineNanoseconds, int64_t maxWaitNanoseconds) = 0;

  // The machine's clock: CLOCK_MONOTONIC, sleeps of the window layer, and waits that sleep until about
  // a millisecond before the deadline and spin for the rest, so that a clock tick leaves on time
  // without holding a processor core all the while.
  static JobClock& system();
};

// A clock for tests: time moves only when someone sleeps or waits, by exactly that amount, and the
// optional hook runs after every sleep (a test can answer a request there). Any thread.
class ManualJobClock : public JobClock {
 public:
  int64_t nowNanoseconds() override { return now.load(); }
  void sleepMilliseconds(int milliseconds) override;
  void waitUntil(int64_t deadlineNanoseconds, int64_t maxWaitNanoseconds) override;

  void advance(int64_t nanoseconds) { now += nanoseconds; }
  // Called with the milliseconds slept, after the time has moved.
  void setSleepHook(std::function<void(int)> hook);
  // Total milliseconds slept so far.
  int64_t sleptMilliseconds() const { return slept.load(); }

 private:
  std::atomic<int64_t> now{1'000'000'000};
  std::atomic<int64_t> slept{0};
  std::mutex hookLock;
  std::function<void(int)> hook;
};

// The machine's clock with every sleep shortened by a factor (a test of the real exchange with the
// synthesizer emulator that should not take minutes). The time it reports is the real one. A build under
// ThreadSanitizer, every step of which runs many times slower, shortens them that much less: an answer that comes
// within a shortened wait in the other builds comes within it there too.
class ScaledJobClock : public JobClock {
 public:
#if defined(__SANITIZE_THREAD__)
  static constexpr int kBuildSlowdown = 10;
#else
  static constexpr int kBuildSlowdown = 1;
#endif
  explicit ScaledJobClock(int divisor) : divisor(divisor / kBuildSlowdown < 1 ? 1 : divisor / kBuildSlowdown) {}
  int64_t nowNanoseconds() override { return JobClock::system().nowNanoseconds(); }
  void sleepMilliseconds(int milliseconds) override;
  void waitUntil(int64_t deadlineNanoseconds, int64_t maxWaitNanoseconds) override {
    JobClock::system().waitUntil(deadlineNanoseconds, maxWaitNanoseconds);
  }

 private:
  int divisor;
};
