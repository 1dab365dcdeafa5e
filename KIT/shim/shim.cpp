#include <dlfcn.h>
#include <fcntl.h>
#include <fenv.h>
#include <link.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "KIT/kitstring.h"
#include "KIT/shim/shim-handles.h"
#include "KIT/shim/shim-misc.h"
#include "KIT/shim/shim-sys.h"
#include "platform/cocoa/cfbundle.h"
#include "platform/graphics/coords.h"

namespace {

// nanosleep restarted after signals, so that a pause is never cut short.
void sleepMicroseconds(uint64_t us) {
  struct timespec ts;
  ts.tv_sec = static_cast<time_t>(us / 1000000);
  ts.tv_nsec = static_cast<long>((us % 1000000) * 1000);
  while (nanosleep(&ts, &ts) == -1 && errno == EINTR) {
  }
}

// Waits measure against the monotonic clock, so that a change of the wall clock neither stretches nor cuts them.
uint64_t monotonicMs() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

// A deadline fixed once at the start of a wait; every later step waits only for what is left of it.
struct Deadline {
  explicit Deadline(DWORD timeoutMs) : infinite(timeoutMs == INFINITE), end(monotonicMs() + timeoutMs) {}
  // Milliseconds left for poll(): -1 without a time-out, else 0 or more.
  int pollMs() const {
    if (infinite) return -1;
    const uint64_t now = monotonicMs();
    if (now >= end) return 0;
    const uint64_t left = end - now;
    return left > INT_MAX ? INT_MAX : static_cast<int>(left);
  }
  bool passed() const { return !infinite && monotonicMs() >= end; }
  bool infinite;
  uint64_t end;
};

SHIM_KernelObjHdr* headerOf(HANDLE h) {
  return static_cast<SHIM_KernelObjHdr*>(h);
}

bool isKnownKind(uint32_t type) {
  return type >= SHIM_OBJTYPE_THREAD && type <= SHIM_OBJTYPE_NSTASK;
}

// ---- threads ----

// Joins at most once, however many waiters and closers race for it.
bool joinThreadOnce(SHIM_ThreadObj* t) {
  pthread_mutex_lock(&t->joinMutex);
  bool ok = t->joined;
  if (!t->joined && !t->detached) {
    ok = pthread_join(t->pt, nullptr) == 0;
    t->joined = ok;
  }
  pthread_mutex_unlock(&t->joinMutex);
  return ok;
}

void freeThreadRecord(SHIM_ThreadObj* t, bool fromThreadItself) {
  pthread_mutex_lock(&t->joinMutex);
  if (!t->joined && !t->detached) {
    if (fromThreadItself) {
      pthread_detach(pthread_self());
      t->detached = true;
    } else {
      t->joined = pthread_join(t->pt, nullptr) == 0;
    }
  }
  pthread_mutex_unlock(&t->joinMutex);
  pthread_mutex_destroy(&t->joinMutex);
  delete t;
}

bool dropReference(SHIM_KernelObjHdr* hdr) {
  return hdr->count.fetch_sub(1, std::memory_order_acq_rel) == 1;
}

void* threadStart(void* arg) {
  auto* t = static_cast<SHIM_ThreadObj*>(arg);
  void* pool = SHIM_InitAutoRelease();
  DWORD rv = 0;
  try {
    rv = t->threadProc(t->threadParm);
  } catch (...) {
    fprintf(stderr, "shim: an exception left a thread function; the thread ends with result 0\n");
  }
  t->retv.store(rv, std::memory_order_relaxed);
  t->done.store(true, std::memory_order_release);
  // The thread's own reference; when it is the last one, the record goes and the thread detaches itself.
  if (dropReference(&t->hdr)) freeThreadRecord(t, true);
  SHIM_QuitAutoRelease(pool);
  return nullptr;
}

DWORD waitThread(SHIM_ThreadObj* t, DWORD timeoutMs) {
  if (t->done.load(std::memory_order_acquire) || timeoutMs == INFINITE) return joinThreadOnce(t) ? 0 : WAIT_FAILED;
  if (timeoutMs == 0) return WAIT_TIMEOUT;
  const Deadline deadline(timeoutMs);
  for (;;) {
    if (t->done.load(std::memory_order_acquire)) return joinThreadOnce(t) ? 0 : WAIT_FAILED;
    if (deadline.passed()) return WAIT_TIMEOUT;
    sleepMicroseconds(1000);
  }
}

// ---- events ----

void makeEventCondition(SHIM_EventObj* e) {
  pthread_condattr_t attr;
  pthread_condattr_init(&attr);
  pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
  pthread_cond_init(&e->cond, &attr);
  pthread_condattr_destroy(&attr);
}

DWORD waitEvent(SHIM_EventObj* e, DWORD timeoutMs) {
  DWORD rv = 0;
  pthread_mutex_lock(&e->mutex);
  if (timeoutMs == 0) {
    rv = e->isSignal ? 0 : WAIT_TIMEOUT;
  } else if (timeoutMs == INFINITE) {
    while (!e->isSignal) pthread_cond_wait(&e->cond, &e->mutex);
  } else {
    // One absolute deadline for the whole wait: wake-ups that find the event taken wait only for what is left.
    struct timespec end;
    clock_gettime(CLOCK_MONOTONIC, &end);
    end.tv_sec += timeoutMs / 1000;
    end.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
    if (end.tv_nsec >= 1000000000L) {
      end.tv_sec += 1;
      end.tv_nsec -= 1000000000L;
    }
    while (!e->isSignal) {
      if (pthread_cond_timedwait(&e->cond, &e->mutex, &end) == ETIMEDOUT) {
        if (!e->isSignal) rv = WAIT_TIMEOUT;
        break;
      }
    }
  }
  if (rv == 0 && !e->isManualReset) e->isSignal = false;
  pthread_mutex_unlock(&e->mutex);
  return rv;
}

// ---- event sockets and socket objects ----

// Takes an auto-reset event socket's signal; false when another waiter took it first.
bool consumeSignal(int fd) {
  char buf[128];
  ssize_t n;
  do {
    n = read(fd, buf, sizeof buf);
  } while (n < 0 && errno == EINTR);
  return n > 0;
}

// poll() restarted after signals with what is left of the deadline.
int pollUntil(struct pollfd* fds, nfds_t n, const Deadline& deadline) {
  for (;;) {
    int rc = poll(fds, n, deadline.pollMs());
    if (rc >= 0 || errno != EINTR) return rc;
  }
}

bool isReadable(int fd) {
  struct pollfd p = {fd, POLLIN, 0};
  return poll(&p, 1, 0) > 0 && (p.revents & (POLLIN | POLLHUP)) != 0;
}

DWORD waitSocket(SHIM_SocketObj* s, DWORD timeoutMs) {
  const int fd = s->socket[0];
  if (fd < 0) {
    sleepMicroseconds(timeoutMs == INFINITE ? 1000 : timeoutMs == 0 ? 100 : static_cast<uint64_t>(timeoutMs) * 1000);
    return WAIT_FAILED;
  }
  const Deadline deadline(timeoutMs);
  for (;;) {
    struct pollfd p = {fd, POLLIN, 0};
    if (pollUntil(&p, 1, deadline) <= 0) return WAIT_TIMEOUT;
    if (s->hdr.type == SHIM_OBJTYPE_EVENTSOCKET && s->autoReset && !consumeSignal(fd)) continue;
    return 0;
  }
}

bool isSocketKind(uint32_t type) {
  return type == SHIM_OBJTYPE_SOCKETOBJ || type == SHIM_OBJTYPE_EVENTSOCKET;
}

void closeDescriptor(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

// ---- modules ----

std::recursive_mutex& s_libraryMutex() {
  static auto* m = new std::recursive_mutex;
  return *m;
}
// Loaded modules by key: the bundle when there is one, else the dlopen handle.
std::map<void*, SHIM_HINSTANCE*>& s_loadedLibs() {
  static auto* m = new std::map<void*, SHIM_HINSTANCE*>;
  return *m;
}

void* moduleKey(const SHIM_HINSTANCE* m) {
  return m->bundle ? static_cast<void*>(m->bundle) : m->instance;
}

}  // namespace

// ===============================================================================================================
// Clock and sleep

void Sleep(int milliseconds) {
  // A negative count would multiply into a pause of over an hour: it pauses as 0 does.
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

// ===============================================================================================================
// Handles

BOOL CloseHandle(HANDLE handle) {
  if (!handle) return FALSE;
  SHIM_KernelObjHdr* hdr = headerOf(handle);
  if (!isKnownKind(hdr->type) || hdr->type == SHIM_OBJTYPE_SOCKETOBJ) return FALSE;
  if (!dropReference(hdr)) return TRUE;
  switch (hdr->type) {
    case SHIM_OBJTYPE_THREAD: {
      auto* t = reinterpret_cast<SHIM_ThreadObj*>(hdr);
      // Closing the last reference from inside the thread itself cannot join it: it detaches instead.
      freeThreadRecord(t, pthread_equal(pthread_self(), t->pt) != 0);
      break;
    }
    case SHIM_OBJTYPE_EVENT: {
      auto* e = reinterpret_cast<SHIM_EventObj*>(hdr);
      pthread_cond_destroy(&e->cond);
      pthread_mutex_destroy(&e->mutex);
      delete e;
      break;
    }
    case SHIM_OBJTYPE_FILE: {
      auto* f = reinterpret_cast<SHIM_FileObj*>(hdr);
      if (f->fp) fclose(f->fp);
      delete f;
      break;
    }
    case SHIM_OBJTYPE_EVENTSOCKET: {
      auto* s = reinterpret_cast<SHIM_SocketObj*>(hdr);
      closeDescriptor(s->socket[0]);
      closeDescriptor(s->socket[1]);
      delete s;
      break;
    }
    case SHIM_OBJTYPE_NSTASK: {
      auto* p = reinterpret_cast<SHIM_TaskObj*>(hdr);
      if (p->task) SHIM_ReleaseNSTask(p->task);
      delete p;
      break;
    }
  }
  return TRUE;
}

HANDLE CreateEvent(void*, BOOL manualReset, BOOL initialState, const char*) {
  auto* e = new SHIM_EventObj;
  e->hdr.type = SHIM_OBJTYPE_EVENT;
  e->hdr.count.store(1);
  pthread_mutex_init(&e->mutex, nullptr);
  makeEventCondition(e);
  e->isSignal = initialState != 0;
  e->isManualReset = manualReset != 0;
  return e;
}

HANDLE CreateEventAsSocket(void*, BOOL manualReset, BOOL initialState, const char*) {
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return nullptr;
  fcntl(fds[0], F_SETFL, fcntl(fds[0], F_GETFL) | O_NONBLOCK);
  auto* s = new SHIM_SocketObj;
  s->hdr.type = SHIM_OBJTYPE_EVENTSOCKET;
  s->hdr.count.store(1);
  s->socket[0] = fds[0];
  s->socket[1] = fds[1];
  s->autoReset = manualReset == 0;
  if (initialState) {
    char c = 0;
    ssize_t n;
    do {
      n = write(s->socket[1], &c, 1);
    } while (n < 0 && errno == EINTR);
  }
  return s;
}

BOOL SetEvent(HANDLE handle) {
  if (!handle) return FALSE;
  SHIM_KernelObjHdr* hdr = headerOf(handle);
  if (hdr->type == SHIM_OBJTYPE_EVENT) {
    auto* e = reinterpret_cast<SHIM_EventObj*>(hdr);
    pthread_mutex_lock(&e->mutex);
    if (!e->isSignal) {
      e->isSignal = true;
      if (e->isManualReset) {
        pthread_cond_broadcast(&e->cond);
      } else {
        pthread_cond_signal(&e->cond);
      }
    }
    pthread_mutex_unlock(&e->mutex);
    return TRUE;
  }
  if (hdr->type == SHIM_OBJTYPE_EVENTSOCKET) {
    auto* s = reinterpret_cast<SHIM_SocketObj*>(hdr);
    if (s->socket[1] < 0 || (s->socket[0] >= 0 && isReadable(s->socket[0]))) return TRUE;
    char c = 0;
    ssize_t n;
    do {
      n = write(s->socket[1], &c, 1);
    } while (n < 0 && errno == EINTR);
    return TRUE;
  }
  return FALSE;
}

void SHIM_Internal_WakeEventWaiters(HANDLE handle) {
  if (!handle || headerOf(handle)->type != SHIM_OBJTYPE_EVENT) return;
  auto* e = reinterpret_cast<SHIM_EventObj*>(handle);
  pthread_mutex_lock(&e->mutex);
  pthread_cond_broadcast(&e->cond);
  pthread_mutex_unlock(&e->mutex);
}

BOOL ResetEvent(HANDLE handle) {
  if (!handle) return FALSE;
  SHIM_KernelObjHdr* hdr = headerOf(handle);
  if (hdr->type == SHIM_OBJTYPE_EVENT) {
    auto* e = reinterpret_cast<SHIM_EventObj*>(hdr);
    pthread_mutex_lock(&e->mutex);
    e->isSignal = false;
    pthread_mutex_unlock(&e->mutex);
    return TRUE;
  }
  if (hdr->type == SHIM_OBJTYPE_EVENTSOCKET) {
    auto* s = reinterpret_cast<SHIM_SocketObj*>(hdr);
    if (s->socket[0] >= 0) consumeSignal(s->socket[0]);
    return TRUE;
  }
  return FALSE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD timeoutMs) {
  if (!handle) return WAIT_FAILED;
  SHIM_KernelObjHdr* hdr = headerOf(handle);
  switch (hdr->type) {
    case SHIM_OBJTYPE_THREAD:
      return waitThread(reinterpret_cast<SHIM_ThreadObj*>(hdr), timeoutMs);
    case SHIM_OBJTYPE_EVENT:
      return waitEvent(reinterpret_cast<SHIM_EventObj*>(hdr), timeoutMs);
    case SHIM_OBJTYPE_SOCKETOBJ:
    case SHIM_OBJTYPE_EVENTSOCKET:
      return waitSocket(reinterpret_cast<SHIM_SocketObj*>(hdr), timeoutMs);
    case SHIM_OBJTYPE_NSTASK: {
      auto* p = reinterpret_cast<SHIM_TaskObj*>(hdr);
      return p->task ? SHIM_WaitForNSTask(p->task, timeoutMs) : WAIT_FAILED;
    }
    default:
      return WAIT_FAILED;
  }
}

DWORD WaitForAnySocketObject(int count, HANDLE* objects, DWORD timeoutMs) {
  if (count < 1 || !objects) return WAIT_TIMEOUT;
  // poll() has no limit on descriptor numbers, so any open descriptor can take part.
  std::vector<struct pollfd> fds;
  std::vector<int> indexOf;
  for (int i = 0; i < count; ++i) {
    if (!objects[i]) continue;
    SHIM_KernelObjHdr* hdr = headerOf(objects[i]);
    if (!isSocketKind(hdr->type)) continue;
    const int fd = reinterpret_cast<SHIM_SocketObj*>(hdr)->socket[0];
    if (fd < 0) continue;
    fds.push_back({fd, POLLIN, 0});
    indexOf.push_back(i);
  }
  if (fds.empty()) return WAIT_TIMEOUT;
  const Deadline deadline(timeoutMs);
  for (;;) {
    for (auto& p : fds) p.revents = 0;
    if (pollUntil(fds.data(), fds.size(), deadline) <= 0) return WAIT_TIMEOUT;
    for (size_t k = 0; k < fds.size(); ++k) {
      if (!(fds[k].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      auto* s = reinterpret_cast<SHIM_SocketObj*>(objects[indexOf[k]]);
      if (s->hdr.type == SHIM_OBJTYPE_EVENTSOCKET && s->autoReset && !consumeSignal(fds[k].fd)) break;
      return static_cast<DWORD>(indexOf[k]);
    }
    // The first ready object's signal went to another waiter: wait again for what is left of the time-out.
  }
}

HANDLE CreateThread(void*, DWORD, LPTHREAD_START_ROUTINE proc, LPVOID param, DWORD, DWORD_PTR* threadId) {
  SHIM_EnsureMultithreadedCocoa();
  auto* t = new SHIM_ThreadObj;
  t->hdr.type = SHIM_OBJTYPE_THREAD;
  t->hdr.count.store(2);
  t->threadProc = proc;
  t->threadParm = param;
  t->retv.store(0);
  t->done.store(false);
  pthread_mutex_init(&t->joinMutex, nullptr);
  t->joined = false;
  t->detached = false;
  if (pthread_create(&t->pt, nullptr, threadStart, t) != 0) {
    // No thread runs to drop its reference: the record stands as a finished thread that needs no join.
    t->joined = true;
    t->done.store(true);
    t->hdr.count.store(1);
  }
  if (threadId) *threadId = static_cast<DWORD_PTR>(t->pt);
  return t;
}

BOOL SetThreadPriority(HANDLE handle, int priority) {
  if (!handle || headerOf(handle)->type != SHIM_OBJTYPE_THREAD) return FALSE;
  auto* t = reinterpret_cast<SHIM_ThreadObj*>(handle);
  if (t->done.load(std::memory_order_acquire)) return FALSE;
  BOOL ok = FALSE;
  pthread_mutex_lock(&t->joinMutex);
  if (!t->joined && !t->detached) {
    int policy;
    struct sched_param param;
    if (pthread_getschedparam(t->pt, &policy, &param) == 0) {
      // Clamped before the offset is added: a priority near the int limits must not overflow.
      long long p = static_cast<long long>(priority) + 31;
      const int lo = sched_get_priority_min(policy), hi = sched_get_priority_max(policy);
      if (p < lo) p = lo;
      if (p > hi) p = hi;
      param.sched_priority = static_cast<int>(p);
      ok = pthread_setschedparam(t->pt, policy, &param) == 0;
    }
  }
  pthread_mutex_unlock(&t->joinMutex);
  return ok;
}

HANDLE SHIM_FileHandleFromStream(FILE* fp) {
  if (!fp) return nullptr;
  auto* f = new SHIM_FileObj;
  f->hdr.type = SHIM_OBJTYPE_FILE;
  f->hdr.count.store(1);
  f->fp = fp;
  return f;
}

HANDLE SHIM_SocketObjectFromDescriptor(int fd) {
  auto* s = new SHIM_SocketObj;
  s->hdr.type = SHIM_OBJTYPE_SOCKETOBJ;
  s->hdr.count.store(1);
  s->socket[0] = fd;
  s->socket[1] = -1;
  s->autoReset = false;
  return s;
}

void SHIM_FreeSocketObject(HANDLE h) {
  if (h && headerOf(h)->type == SHIM_OBJTYPE_SOCKETOBJ) delete reinterpret_cast<SHIM_SocketObj*>(h);
}

// ===============================================================================================================
// Files

namespace {
FILE* streamOf(HANDLE h) {
  if (!h || headerOf(h)->type != SHIM_OBJTYPE_FILE) return nullptr;
  return reinterpret_cast<SHIM_FileObj*>(h)->fp;
}
}  // namespace

HANDLE CreateFile(const char*, DWORD, DWORD, void*, DWORD, DWORD, HANDLE) {
  return nullptr;
}

DWORD SetFilePointer(HANDLE file, int offset, LONG* high) {
  FILE* fp = streamOf(file);
  if (high && *high) {
    *high = -1;
    return WAIT_FAILED;
  }
  if (!fp || fseek(fp, offset, SEEK_SET) != 0) {
    if (high) *high = -1;
    return WAIT_FAILED;
  }
  const long pos = ftell(fp);
  if (pos < 0) {
    if (high) *high = -1;
    return WAIT_FAILED;
  }
  return static_cast<DWORD>(pos);
}

DWORD GetFilePointer(HANDLE file, LONG* high) {
  FILE* fp = streamOf(file);
  const long pos = fp ? ftell(fp) : -1;
  if (high) *high = pos < 0 ? -1 : 0;
  return pos < 0 ? WAIT_FAILED : static_cast<DWORD>(pos);
}

DWORD GetFileSize(HANDLE file, LONG* high) {
  FILE* fp = streamOf(file);
  if (!fp) {
    if (high) *high = -1;
    return WAIT_FAILED;
  }
  const long here = ftell(fp);
  long size = -1;
  if (fseek(fp, 0, SEEK_END) == 0) size = ftell(fp);
  if (here >= 0) fseek(fp, here, SEEK_SET);
  if (high) *high = size < 0 ? -1 : 0;
  return size < 0 ? WAIT_FAILED : static_cast<DWORD>(size);
}

BOOL WriteFile(HANDLE file, const void* buffer, DWORD count, DWORD* written, void*) {
  FILE* fp = streamOf(file);
  if (!fp || !buffer || count == 0) return FALSE;
  const size_t n = fwrite(buffer, 1, count, fp);
  if (written) *written = static_cast<DWORD>(n);
  return n > 0;
}

BOOL ReadFile(HANDLE file, void* buffer, DWORD count, DWORD* read, void*) {
  FILE* fp = streamOf(file);
  if (!fp || !buffer || count == 0) return FALSE;
  const size_t n = fread(buffer, 1, count, fp);
  if (read) *read = static_cast<DWORD>(n);
  return n > 0;
}

BOOL GetFileTime(int fd, FILETIME* creation, FILETIME* access, FILETIME* write) {
  if (fd < 0) return FALSE;
  struct stat st;
  if (fstat(fd, &st) != 0) return FALSE;
  auto put = [](FILETIME* ft, time_t seconds) {
    if (!ft) return;
    const uint64_t v = static_cast<uint64_t>(static_cast<int64_t>(seconds) * 10000000LL + 116444736000000000LL);
    ft->dwLowDateTime = static_cast<DWORD>(v);
    ft->dwHighDateTime = static_cast<DWORD>(v >> 32);
  };
  put(creation, st.st_ctime);
  put(access, st.st_atime);
  put(write, st.st_mtime);
  return TRUE;
}

// ===============================================================================================================
// Rectangles and arithmetic

BOOL WinOffsetRect(RECT* r, int dx, int dy) {
  if (!r) return FALSE;
  r->left = platform::satAdd(r->left, dx);
  r->right = platform::satAdd(r->right, dx);
  r->top = platform::satAdd(r->top, dy);
  r->bottom = platform::satAdd(r->bottom, dy);
  return TRUE;
}

BOOL WinSetRect(RECT* r, int left, int top, int right, int bottom) {
  if (!r) return FALSE;
  r->left = left;
  r->top = top;
  r->right = right;
  r->bottom = bottom;
  return TRUE;
}

BOOL WinIntersectRect(RECT* out, const RECT* a, const RECT* b) {
  if (!out || !a || !b) return FALSE;
  // Read the inputs first: `out` may be one of them.
  const RECT ra = *a, rb = *b;
  memset(out, 0, sizeof *out);
  if (ra.right <= ra.left || ra.bottom <= ra.top || rb.right <= rb.left || rb.bottom <= rb.top) return FALSE;
  out->left = ra.left > rb.left ? ra.left : rb.left;
  out->top = ra.top > rb.top ? ra.top : rb.top;
  out->right = ra.right < rb.right ? ra.right : rb.right;
  out->bottom = ra.bottom < rb.bottom ? ra.bottom : rb.bottom;
  return out->right > out->left && out->bottom > out->top;
}

void WinUnionRect(RECT* out, const RECT* a, const RECT* b) {
  if (!out || !a || !b) return;
  const RECT ra = *a, rb = *b;
  out->left = ra.left < rb.left ? ra.left : rb.left;
  out->top = ra.top < rb.top ? ra.top : rb.top;
  out->right = ra.right > rb.right ? ra.right : rb.right;
  out->bottom = ra.bottom > rb.bottom ? ra.bottom : rb.bottom;
}

BOOL SHIM_PtInRect(const RECT* r, POINT p) {
  if (!r) return FALSE;
  const int top = r->top < r->bottom ? r->top : r->bottom;
  const int bottom = r->top < r->bottom ? r->bottom : r->top;
  return p.x >= r->left && p.x < r->right && p.y >= top && p.y < bottom;
}

long long SHIM_RectWidth(const RECT& r) {
  return static_cast<long long>(r.right) - r.left;
}

long long SHIM_RectHeight(const RECT& r) {
  return static_cast<long long>(r.bottom) - r.top;
}

int MulDiv(int a, int b, int c) {
  if (c == 0) return 0;
  const double q = std::trunc(static_cast<double>(a) * static_cast<double>(b) / static_cast<double>(c));
  if (q >= static_cast<double>(INT_MAX)) return INT_MAX;
  if (q <= static_cast<double>(INT_MIN)) return INT_MIN;
  return static_cast<int>(q);
}

UINT _controlfp(UINT value, UINT mask) {
  static const int kModes[4] = {FE_TONEAREST, FE_DOWNWARD, FE_UPWARD, FE_TOWARDZERO};
  if (mask & _MCW_RC) {
    UINT current = 0;
    for (int i = 0; i < 4; ++i)
      if (fegetround() == kModes[i]) current = static_cast<UINT>(i) << 8;
    const UINT wanted = ((current & ~mask) | (value & mask)) & _MCW_RC;
    fesetround(kModes[wanted >> 8]);
  }
  UINT result = 0;
#if defined(__x86_64__) || defined(__i386__)
  unsigned short cw = 0;
  __asm__ __volatile__("fnstcw %0" : "=m"(cw));
  result = static_cast<UINT>(cw) >> 2;
#endif
  // The rounding field always reports the mode in effect for ordinary arithmetic.
  result &= ~static_cast<UINT>(_MCW_RC);
  for (int i = 0; i < 4; ++i)
    if (fegetround() == kModes[i]) result |= static_cast<UINT>(i) << 8;
  return result;
}

// ===============================================================================================================
// Global memory and strings

namespace {
struct GlobalHeader {
  int32_t size;
  int32_t locks;
};
// The block follows its header at a distance that keeps it aligned for any type.
constexpr size_t kGlobalHeaderSpace = 16;
GlobalHeader* globalHeaderOf(HANDLE h) {
  return reinterpret_cast<GlobalHeader*>(static_cast<char*>(h) - kGlobalHeaderSpace);
}
}  // namespace

HANDLE GlobalAlloc(int, int size) {
  if (size < 0) size = 0;
  char* raw = static_cast<char*>(malloc(kGlobalHeaderSpace + static_cast<size_t>(size)));
  if (!raw) return nullptr;
  auto* h = reinterpret_cast<GlobalHeader*>(raw);
  h->size = size;
  h->locks = 0;
  return raw + kGlobalHeaderSpace;
}

void* GlobalLock(HANDLE block) {
  if (!block) return nullptr;
  globalHeaderOf(block)->locks++;
  return block;
}

void GlobalUnlock(HANDLE block) {
  if (block) globalHeaderOf(block)->locks--;
}

int GlobalSize(HANDLE block) {
  return block ? globalHeaderOf(block)->size : 0;
}

void GlobalFree(HANDLE block) {
  if (block) free(globalHeaderOf(block));
}

char* lstrcpyn(char* dst, const char* src, int n) {
  if (n >= 1) KIT_UTF8Copy(dst, static_cast<size_t>(n), src);
  return dst;
}

// ===============================================================================================================
// Modules

HINSTANCE LoadLibrary(const char* path) {
  return LoadLibraryGlobals(path, false);
}

HINSTANCE LoadLibraryGlobals(const char* path, bool global) {
  if (!path || !*path) return nullptr;
  const int mode = RTLD_NOW | (global ? RTLD_GLOBAL : RTLD_LOCAL);
  cocoa::Bundle* bundle = nullptr;
  void* instance = nullptr;
  struct stat st;
  if (!(stat(path, &st) == 0 && !S_ISDIR(st.st_mode))) {
    bundle = cocoa::Bundle::create(path);
    if (bundle) {
      const std::string exe = bundle->executablePath();
      if (!exe.empty()) {
        instance = dlopen(exe.c_str(), mode);
        if (!instance) {
          bundle->release();
          return nullptr;
        }
      }
    }
  }
  if (!bundle && !instance) {
    instance = dlopen(path, mode);
    if (!instance) return nullptr;
  }

  std::lock_guard<std::recursive_mutex> lock(s_libraryMutex());
  void* key = bundle ? static_cast<void*>(bundle) : instance;
  auto found = s_loadedLibs().find(key);
  if (found != s_loadedLibs().end()) {
    // This load's bundle reference and dlopen reference are given back by the matching FreeLibrary.
    found->second->refcnt++;
    return found->second;
  }
  auto* rec = new SHIM_HINSTANCE{instance, bundle, 1, nullptr, nullptr, nullptr};
  s_loadedLibs()[key] = rec;

  auto shimMain = reinterpret_cast<SHIM_DllMainProc>(GetProcAddress(rec, "SHIM_dllMain"));
  if (!shimMain) return rec;
  if (!shimMain(rec, DLL_PROCESS_ATTACH, nullptr)) {
    FreeLibrary(rec);
    return nullptr;
  }
  auto dllMain = reinterpret_cast<SHIM_DllMainProc>(GetProcAddress(rec, "DllMain"));
  if (!dllMain) {
    rec->SHIM_dllMain = shimMain;
    return rec;
  }
  if (!dllMain(rec, DLL_PROCESS_ATTACH, nullptr)) {
    shimMain(rec, DLL_PROCESS_DETACH, nullptr);
    FreeLibrary(rec);
    return nullptr;
  }
  rec->SHIM_dllMain = shimMain;
  rec->DllMain = dllMain;
  return rec;
}

void* GetProcAddress(HINSTANCE module, const char* name) {
  if (!module || !name) return nullptr;
  void* p = nullptr;
  if (module->bundle) p = module->bundle->functionPointerForName(name);
  if (!p && module->instance) p = dlsym(module->instance, name);
  if (p) {
    std::lock_guard<std::recursive_mutex> lock(s_libraryMutex());
    module->lastSymbol = p;
  }
  return p;
}

BOOL FreeLibrary(HINSTANCE module) {
  if (!module) return FALSE;
  std::lock_guard<std::recursive_mutex> lock(s_libraryMutex());
  const bool last = module->refcnt-- <= 1;
  if (last) {
    auto it = s_loadedLibs().find(moduleKey(module));
    if (it != s_loadedLibs().end() && it->second == module) s_loadedLibs().erase(it);
    if (module->SHIM_dllMain) {
      module->SHIM_dllMain(module, DLL_PROCESS_DETACH, nullptr);
      if (module->DllMain) module->DllMain(module, DLL_PROCESS_DETACH, nullptr);
    }
  }
  if (module->bundle) module->bundle->release();
  if (module->instance) dlclose(module->instance);
  if (last) delete module;
  return TRUE;
}

int GetModuleFileName(HINSTANCE module, char* buffer, int size) {
  if (buffer && size > 0) buffer[0] = 0;
  if (!buffer || size < 1) return 0;
  if (module && module->instance && !module->bundle) {
    const char* name = nullptr;
    Dl_info info{};
    if (module->lastSymbol && dladdr(module->lastSymbol, &info) && info.dli_fname) name = info.dli_fname;
    // A library from which nothing was looked up yet is still named by its link map entry.
    struct link_map* map = nullptr;
    if (!name && dlinfo(module->instance, RTLD_DI_LINKMAP, &map) == 0 && map && map->l_name && *map->l_name)
      name = map->l_name;
    if (!name) return 0;
    lstrcpyn(buffer, name, size);
    return static_cast<int>(strlen(buffer));
  }
  cocoa::Bundle* bundle = module ? module->bundle : cocoa::Bundle::mainBundle();
  if (!bundle) return 0;
  std::string path = bundle->bundlePath();
  lstrcpyn(buffer, path.c_str(), std::min(size, 8192));
  return static_cast<int>(strlen(buffer));
}

void SHIM_GenerateGUID(void* guid) {
  if (!guid) return;
  unsigned char b[16];
  size_t got = 0;
  while (got < sizeof b) {
    ssize_t n = getrandom(b + got, sizeof b - got, 0);
    if (n > 0)
      got += static_cast<size_t>(n);
    else if (errno != EINTR)
      break;
  }
  b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40);  // version 4: random
  b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);  // RFC 4122 variant
  memcpy(guid, b, sizeof b);
}
