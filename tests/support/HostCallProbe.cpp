#include "tests/support/HostCallProbe.h"

#include <dlfcn.h>
#include <execinfo.h>
#include <jack/jack.h>
#include <poll.h>
#include <pthread.h>
#include <semaphore.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cstdlib>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#if defined(__SANITIZE_THREAD__)
#define VEXMIR_PROBE_OFF 1
#endif
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VEXMIR_PROBE_OFF 1
#endif
#endif

namespace vexmir::testsupport::probe {
namespace {

constexpr int kStackDepth = 20;
constexpr int kMaxHeld = 32;
constexpr int kTableSize = 8192;  // a power of two
constexpr int kMaxCallFaults = 64;

struct Stack {
  void* frames[kStackDepth];
  int depth = 0;
};

// What the probe knows of one lock: the first host call that took it and the first wait it was held across.
struct LockRecord {
  std::atomic<const void*> lock{nullptr};
  const char* hostCall = nullptr;
  Stack hostStack;
  const char* wait = nullptr;
  Stack waitStack;
};

struct CallFault {
  const char* hostCall;
  const char* wait;
  Stack stack;
};

LockRecord g_table[kTableSize];
CallFault g_callFaults[kMaxCallFaults];
int g_callFaultCount = 0;
// The records are written under a spin lock of the probe's own: a mutex would call the probe again.
std::atomic_flag g_spin = ATOMIC_FLAG_INIT;

thread_local const char* t_hostCall = nullptr;
thread_local const void* t_held[kMaxHeld];
thread_local int t_heldCount = 0;
thread_local bool t_busy = false;  // inside the probe's own bookkeeping: entry points pass straight through

struct Spin {
  Spin() {
    while (g_spin.test_and_set(std::memory_order_acquire)) {
    }
  }
  ~Spin() { g_spin.clear(std::memory_order_release); }
};

void capture(Stack* s) { s->depth = backtrace(s->frames, kStackDepth); }

// The record of a lock, made on first use; null when the table is full.
LockRecord* recordOf(const void* lock) {
  size_t h = (reinterpret_cast<uintptr_t>(lock) >> 4) * 0x9E3779B97F4A7C15ull;
  for (int probeStep = 0; probeStep < kTableSize; ++probeStep) {
    LockRecord& r = g_table[(h + static_cast<size_t>(probeStep)) & (kTableSize - 1)];
    const void* seen = r.lock.load(std::memory_order_relaxed);
    if (seen == lock) return &r;
    if (seen == nullptr) {
      r.lock.store(lock, std::memory_order_relaxed);
      return &r;
    }
  }
  return nullptr;
}

// The notes below go unused where the probe is off (under ThreadSanitizer).
[[maybe_unused]] void noteHeld(const void* lock) {
  if (t_heldCount < kMaxHeld) t_held[t_heldCount++] = lock;
}

[[maybe_unused]] void noteReleased(const void* lock) {
  for (int i = t_heldCount - 1; i >= 0; --i)
    if (t_held[i] == lock) {
      t_held[i] = t_held[--t_heldCount];
      return;
    }
}

[[maybe_unused]] void noteHostLock(const void* lock) {
  if (!t_hostCall || t_busy) return;
  t_busy = true;
  {
    Spin spin;
    LockRecord* r = recordOf(lock);
    if (r && !r->hostCall) {
      r->hostCall = t_hostCall;
      capture(&r->hostStack);
    }
  }
  t_busy = false;
}

// A wait begins on this thread; `released` is the lock a condition wait gives up meanwhile.
[[maybe_unused]] void noteWait(const char* what, const void* released = nullptr) {
  if (t_busy) return;
  if (!t_hostCall && t_heldCount == 0) return;
  t_busy = true;
  {
    Spin spin;
    if (t_hostCall) {
      bool known = false;
      for (int i = 0; i < g_callFaultCount; ++i)
        known = known || (g_callFaults[i].hostCall == t_hostCall && g_callFaults[i].wait == what);
      if (!known && g_callFaultCount < kMaxCallFaults) {
        CallFault& f = g_callFaults[g_callFaultCount++];
        f.hostCall = t_hostCall;
        f.wait = what;
        capture(&f.stack);
      }
    }
    for (int i = 0; i < t_heldCount; ++i) {
      if (t_held[i] == released) continue;
      LockRecord* r = recordOf(t_held[i]);
      if (r && !r->wait) {
        r->wait = what;
        capture(&r->waitStack);
      }
    }
  }
  t_busy = false;
}

// One frame as "function (file:line)" through addr2line, which reads the object's debug information; the raw
// address when that fails.
std::string frameText(void* address) {
  Dl_info info{};
  if (!dladdr(address, &info) || !info.dli_fname) return "?";
  // A return address points after the call; one byte back is inside it.
  const uintptr_t offset =
      reinterpret_cast<uintptr_t>(address) - reinterpret_cast<uintptr_t>(info.dli_fbase) - 1;
  char command[1024];
  std::snprintf(command, sizeof command, "addr2line -f -C -i -p -e '%s' 0x%lx 2>/dev/null", info.dli_fname,
                static_cast<unsigned long>(offset));
  std::string text;
  if (FILE* f = popen(command, "r")) {
    char line[1024];
    while (std::fgets(line, sizeof line, f)) text += line;
    pclose(f);
  }
  while (!text.empty() && text.back() == '\n') text.pop_back();
  if (text.empty() || text[0] == '?') {
    char raw[512];
    std::snprintf(raw, sizeof raw, "%s+0x%lx", info.dli_fname, static_cast<unsigned long>(offset));
    return raw;
  }
  return text;
}

std::string describe(const Stack& s) {
  std::string out;
  // The first two frames are the probe's own.
  for (int i = 2; i < s.depth; ++i) {
    out += "\n      ";
    out += frameText(s.frames[i]);
  }
  return out;
}

template <class F>
F realFunction(const char* name, const char* version = nullptr) {
  void* f = version ? dlvsym(RTLD_NEXT, name, version) : nullptr;
  if (!f) f = dlsym(RTLD_NEXT, name);
  if (!f) {
    std::fprintf(stderr, "host-call probe: %s not found\n", name);
    std::abort();
  }
  return reinterpret_cast<F>(f);
}

}  // namespace

std::atomic<int> g_slowJack[3];  // open, close, graph read

void slowJack(int openMillis, int closeMillis, int graphMillis) {
  g_slowJack[0] = openMillis;
  g_slowJack[1] = closeMillis;
  g_slowJack[2] = graphMillis;
}

void slowed(int which) {
  const int ms = g_slowJack[which].load();
  const struct timespec t = {ms / 1000, (ms % 1000) * 1000000L};
  if (ms > 0) nanosleep(&t, nullptr);
}

HostCall::HostCall(const char* name) : previous_(t_hostCall) { t_hostCall = name; }
HostCall::~HostCall() { t_hostCall = previous_; }

#ifdef VEXMIR_PROBE_OFF
bool active() { return false; }
#else
bool active() { return true; }
#endif

void reset() {
  Spin spin;
  for (LockRecord& r : g_table) {
    r.hostCall = nullptr;
    r.wait = nullptr;
  }
  g_callFaultCount = 0;
}

std::vector<std::string> faults() {
  std::vector<std::string> out;
  t_busy = true;
  std::vector<LockRecord*> both;
  std::vector<CallFault> calls;
  {
    Spin spin;
    for (LockRecord& r : g_table)
      if (r.hostCall && r.wait) both.push_back(&r);
    calls.assign(g_callFaults, g_callFaults + g_callFaultCount);
  }
  for (const CallFault& f : calls)
    out.push_back(std::string(f.hostCall) + " calls " + f.wait + ", at:" + describe(f.stack));
  for (LockRecord* r : both)
    out.push_back(std::string(r->hostCall) + " takes a lock that another thread holds across " + r->wait +
                  "; taken at:" + describe(r->hostStack) + "\n    held across the wait at:" + describe(r->waitStack));
  t_busy = false;
  return out;
}

int hostLockCount() {
  Spin spin;
  int n = 0;
  for (LockRecord& r : g_table) n += r.hostCall != nullptr;
  return n;
}

int heldAcrossWaitCount() {
  Spin spin;
  int n = 0;
  for (LockRecord& r : g_table) n += r.wait != nullptr;
  return n;
}

}  // namespace vexmir::testsupport::probe

#ifndef VEXMIR_PROBE_OFF
using namespace vexmir::testsupport::probe;

// The entry points. Each notes what it does and hands on to the next definition (the sanitizer's or the library's).
extern "C" {

int pthread_mutex_lock(pthread_mutex_t* m) {
  static auto real = realFunction<int (*)(pthread_mutex_t*)>("pthread_mutex_lock");
  noteHostLock(m);
  const int rc = real(m);
  if (rc == 0) noteHeld(m);
  return rc;
}

int pthread_mutex_trylock(pthread_mutex_t* m) {
  static auto real = realFunction<int (*)(pthread_mutex_t*)>("pthread_mutex_trylock");
  const int rc = real(m);
  if (rc == 0) noteHeld(m);
  return rc;
}

int pthread_mutex_unlock(pthread_mutex_t* m) {
  static auto real = realFunction<int (*)(pthread_mutex_t*)>("pthread_mutex_unlock");
  noteReleased(m);
  return real(m);
}

int pthread_cond_wait(pthread_cond_t* c, pthread_mutex_t* m) {
  static auto real = realFunction<int (*)(pthread_cond_t*, pthread_mutex_t*)>("pthread_cond_wait", "GLIBC_2.3.2");
  noteWait("a condition wait", m);
  return real(c, m);
}

int pthread_cond_timedwait(pthread_cond_t* c, pthread_mutex_t* m, const struct timespec* t) {
  static auto real = realFunction<int (*)(pthread_cond_t*, pthread_mutex_t*, const struct timespec*)>(
      "pthread_cond_timedwait", "GLIBC_2.3.2");
  noteWait("a timed condition wait", m);
  return real(c, m, t);
}

int pthread_cond_clockwait(pthread_cond_t* c, pthread_mutex_t* m, clockid_t clock, const struct timespec* t) {
  static auto real = realFunction<int (*)(pthread_cond_t*, pthread_mutex_t*, clockid_t, const struct timespec*)>(
      "pthread_cond_clockwait");
  noteWait("a timed condition wait", m);
  return real(c, m, clock, t);
}

int nanosleep(const struct timespec* t, struct timespec* rest) {
  static auto real = realFunction<int (*)(const struct timespec*, struct timespec*)>("nanosleep");
  noteWait("a sleep");
  return real(t, rest);
}

int clock_nanosleep(clockid_t clock, int flags, const struct timespec* t, struct timespec* rest) {
  static auto real =
      realFunction<int (*)(clockid_t, int, const struct timespec*, struct timespec*)>("clock_nanosleep");
  noteWait("a sleep");
  return real(clock, flags, t, rest);
}

int usleep(useconds_t us) {
  static auto real = realFunction<int (*)(useconds_t)>("usleep");
  noteWait("a sleep");
  return real(us);
}

int sem_wait(sem_t* s) {
  static auto real = realFunction<int (*)(sem_t*)>("sem_wait");
  noteWait("a semaphore wait");
  return real(s);
}

int sem_timedwait(sem_t* s, const struct timespec* t) {
  static auto real = realFunction<int (*)(sem_t*, const struct timespec*)>("sem_timedwait");
  noteWait("a semaphore wait");
  return real(s, t);
}

int pthread_join(pthread_t thread, void** result) {
  static auto real = realFunction<int (*)(pthread_t, void**)>("pthread_join");
  noteWait("a thread join");
  return real(thread, result);
}

int poll(struct pollfd* fds, nfds_t n, int timeout) {
  static auto real = realFunction<int (*)(struct pollfd*, nfds_t, int)>("poll");
  if (timeout != 0) noteWait("a poll");
  return real(fds, n, timeout);
}

// The JACK client calls that wait for the server's answer.
jack_client_t* jack_client_open(const char* name, jack_options_t options, jack_status_t* status, ...) {
  static auto real = realFunction<jack_client_t* (*)(const char*, jack_options_t, jack_status_t*, ...)>(
      "jack_client_open");
  noteWait("jack_client_open");
  vexmir::testsupport::probe::slowed(0);
  if (!(options & JackServerName)) return real(name, options, status);
  va_list args;
  va_start(args, status);
  const char* server = va_arg(args, const char*);
  va_end(args);
  return real(name, options, status, server);
}

#define VEXMIR_JACK_ENTRY(ret, name, params, args)          \
  ret name params {                                         \
    static auto real = realFunction<ret(*) params>(#name);  \
    noteWait(#name);                                        \
    return real args;                                       \
  }

int jack_client_close(jack_client_t* c) {
  static auto real = realFunction<int (*)(jack_client_t*)>("jack_client_close");
  noteWait("jack_client_close");
  vexmir::testsupport::probe::slowed(1);
  return real(c);
}
VEXMIR_JACK_ENTRY(int, jack_activate, (jack_client_t * c), (c))
VEXMIR_JACK_ENTRY(int, jack_deactivate, (jack_client_t * c), (c))
VEXMIR_JACK_ENTRY(int, jack_connect, (jack_client_t * c, const char* a, const char* b), (c, a, b))
VEXMIR_JACK_ENTRY(int, jack_disconnect, (jack_client_t * c, const char* a, const char* b), (c, a, b))
VEXMIR_JACK_ENTRY(jack_port_t*, jack_port_register,
                  (jack_client_t * c, const char* n, const char* t, unsigned long f, unsigned long b),
                  (c, n, t, f, b))
VEXMIR_JACK_ENTRY(int, jack_port_unregister, (jack_client_t * c, jack_port_t* p), (c, p))
VEXMIR_JACK_ENTRY(const char**, jack_get_ports, (jack_client_t * c, const char* a, const char* b, unsigned long f),
                  (c, a, b, f))
const char** jack_port_get_all_connections(const jack_client_t* c, const jack_port_t* p) {
  static auto real = realFunction<const char** (*)(const jack_client_t*, const jack_port_t*)>(
      "jack_port_get_all_connections");
  noteWait("jack_port_get_all_connections");
  vexmir::testsupport::probe::slowed(2);
  return real(c, p);
}

}  // extern "C"

namespace {
// backtrace loads its unwinder on first use; that happens here, not inside an entry point.
[[maybe_unused]] const int g_primed = [] {
  void* frames[2];
  return backtrace(frames, 2);
}();
}  // namespace
#endif
