#include "KIT/shim/shim-sys.h"

#include <pthread.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

namespace {

// nanosleep restarted after signals, so that a pause is never cut short.
void sleepMicroseconds(uint64_t us) {
  struct timespec ts;
  ts.tv_sec = static_cast<time_t>(us / 1000000);
  ts.tv_nsec = static_cast<long>((us % 1000000) * 1000);
  while (nanosleep(&ts, &ts) == -1 && errno == EINTR) {
  }
}

}  // namespace

void Sleep(int milliseconds) {
  // The product is kept to 32 bits as the interface defines it; a negative count pauses as 0 would.
  uint32_t us = static_cast<uint32_t>(milliseconds) * 1000u;
  if (milliseconds <= 0) us = 100;
  sleepMicroseconds(us);
}

DWORD GetTickCount() {
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  return static_cast<DWORD>(static_cast<uint64_t>(tv.tv_sec) * 1000u + static_cast<uint64_t>(tv.tv_usec) / 1000u);
}

DWORD_PTR GetCurrentThreadId() {
  return static_cast<DWORD_PTR>(pthread_self());
}
