#include <gtest/gtest.h>
#include <sys/time.h>

#include <chrono>

#include "KIT/shim/shim.h"

namespace {

using Clock = std::chrono::steady_clock;

long long microsecondsOf(void (*fn)(int), int arg) {
  auto t0 = Clock::now();
  fn(arg);
  return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - t0).count();
}

TEST(ShimSleep, ZeroStillPausesAHundredMicroseconds) {
  EXPECT_GE(microsecondsOf(Sleep, 0), 100);
}

TEST(ShimSleep, PausesAtLeastTheMilliseconds) {
  EXPECT_GE(microsecondsOf(Sleep, 5), 5000);
}

TEST(ShimSleep, NegativeCountPausesLikeZeroInsteadOfHours) {
  // A negative count would multiply into a pause of over an hour; it must come back promptly.
  long long us = microsecondsOf(Sleep, -1);
  EXPECT_GE(us, 100);
  EXPECT_LT(us, 10 * 1000 * 1000);
}

TEST(ShimTickCount, IsWallClockMillisecondsWrappedTo32Bits) {
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  uint64_t before = static_cast<uint64_t>(tv.tv_sec) * 1000u + tv.tv_usec / 1000u;
  DWORD tick = GetTickCount();
  gettimeofday(&tv, nullptr);
  uint64_t after = static_cast<uint64_t>(tv.tv_sec) * 1000u + tv.tv_usec / 1000u;
  // Wall-clock milliseconds since 1970 are far beyond 2^32, so this also shows the wrap.
  ASSERT_GT(before, 0xFFFFFFFFull);
  DWORD lo = static_cast<DWORD>(before), hi = static_cast<DWORD>(after);
  EXPECT_LE(static_cast<DWORD>(tick - lo), static_cast<DWORD>(hi - lo));
}

TEST(ShimTickCount, AdvancesAcrossASleep) {
  DWORD t0 = GetTickCount();
  Sleep(20);
  DWORD elapsed = GetTickCount() - t0;  // unsigned difference stays right across the wrap
  EXPECT_GE(elapsed, 19u);
}

}  // namespace
