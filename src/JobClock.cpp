#include "src/JobClock.h"

#include <time.h>

#include <algorithm>

namespace {

constexpr int64_t kNanosecondsPerSecond = 1'000'000'000;
// How long before a deadline the system clock stops sleeping and spins: more than the scheduler's
// usual wake-up lateness, far less than a clock tick (20.8 ms at 120 BPM, 8.3 ms at 300).
constexpr int64_t kSpinNanoseconds = 1'000'000;

int64_t monotonicNow() {
  timespec ts{};
  if (clock_gettime(CLOCK_MONOTONIC, &ts) != 0) return 0;
  return static_cast<int64_t>(ts.tv_sec) * kNanosecondsPerSecond + ts.tv_nsec;
}

void sleepNanoseconds(int64_t ns) {
  if (ns <= 0) return;
  timespec ts{static_cast<time_t>(ns / kNanosecondsPerSecond), static_cast<long>(ns % kNanosecondsPerSecond)};
  while (clock_nanosleep(CLOCK_MONOTONIC, 0, &ts, &ts) != 0) {
  }
}

class SystemJobClock : public JobClock {
 public:
  int64_t nowNanoseconds() override { return monotonicNow(); }
  void sleepMilliseconds(int milliseconds) override {
    sleepNanoseconds(milliseconds < 1 ? 100'000 : static_cast<int64_t>(milliseconds) * 1'000'000);
  }
  void waitUntil(int64_t deadline, int64_t maxWait) override {
    const int64_t start = monotonicNow();
    const int64_t end = std::min(deadline, start + std::max<int64_t>(maxWait, 0));
    const int64_t sleepFor = end - start - kSpinNanoseconds;
    if (sleepFor > 0) sleepNanoseconds(sleepFor);
    while (monotonicNow() < end) {
    }
  }
};

}  // namespace

JobClock& JobClock::system() {
  static SystemJobClock clock;
  return clock;
}

void ManualJobClock::sleepMilliseconds(int milliseconds) {
  const int ms = std::max(milliseconds, 0);
  now += static_cast<int64_t>(ms) * 1'000'000 + (ms == 0 ? 100'000 : 0);
  slept += ms;
  std::function<void(int)> h;
  {
    std::lock_guard<std::mutex> lock(hookLock);
    h = hook;
  }
  if (h) h(ms);
}

void ManualJobClock::waitUntil(int64_t deadline, int64_t maxWait) {
  const int64_t current = now.load();
  const int64_t end = std::min(deadline, current + std::max<int64_t>(maxWait, 0));
  if (end > current) now += end - current;
}

void ManualJobClock::setSleepHook(std::function<void(int)> h) {
  std::lock_guard<std::mutex> lock(hookLock);
  hook = std::move(h);
}

void ScaledJobClock::sleepMilliseconds(int milliseconds) {
  if (milliseconds < 1) {
    JobClock::system().sleepMilliseconds(0);
    return;
  }
  sleepNanoseconds(static_cast<int64_t>(milliseconds) * 1'000'000 / divisor);
}
