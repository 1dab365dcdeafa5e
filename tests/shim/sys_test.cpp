#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>
#include <utime.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "KIT/shim/shim-handles.h"
#include "KIT/shim/shim-internal.h"
#include "KIT/shim/shim.h"

namespace {

using Clock = std::chrono::steady_clock;

long long microsecondsOf(void (*fn)(int), int arg) {
  auto t0 = Clock::now();
  fn(arg);
  return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - t0).count();
}

std::string tempDir() {
  char tmpl[] = "/tmp/shimtestXXXXXX";
  const char* d = mkdtemp(tmpl);
  return d ? d : "/tmp";
}

std::string readFile(const std::string& path) {
  std::ifstream f(path);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

int pendingBytes(HANDLE eventSocket) {
  int n = -1;
  ioctl(reinterpret_cast<SHIM_SocketObj*>(eventSocket)->socket[0], FIONREAD, &n);
  return n;
}

// ---- clock and sleep ----

TEST(ShimSleep, ZeroStillPausesAHundredMicroseconds) {
  EXPECT_GE(microsecondsOf(Sleep, 0), 100);
}

TEST(ShimSleep, PausesAtLeastTheMilliseconds) {
  EXPECT_GE(microsecondsOf(Sleep, 5), 5000);
}

TEST(ShimSleep, NegativeCountPausesLikeZeroInsteadOfHours) {
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
  EXPECT_GE(GetTickCount() - t0, 19u);  // the unsigned difference stays right across the wrap
}

// ---- events ----

TEST(ShimEvent, AutoResetIsTakenByOneWait) {
  HANDLE e = CreateEvent(nullptr, FALSE, TRUE, nullptr);
  EXPECT_EQ(WaitForSingleObject(e, 0), 0u);
  EXPECT_EQ(WaitForSingleObject(e, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  SetEvent(e);
  SetEvent(e);  // a second set while signalled changes nothing
  EXPECT_EQ(WaitForSingleObject(e, 10), 0u);
  EXPECT_EQ(WaitForSingleObject(e, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_TRUE(CloseHandle(e));
}

TEST(ShimEvent, ManualResetStaysSignalledUntilReset) {
  HANDLE e = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  EXPECT_EQ(WaitForSingleObject(e, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  SetEvent(e);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(WaitForSingleObject(e, 0), 0u);
  ResetEvent(e);
  EXPECT_EQ(WaitForSingleObject(e, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  CloseHandle(e);
}

TEST(ShimEvent, TimedWaitEndsAtItsDeadlineAndIsWokenBySetEvent) {
  HANDLE e = CreateEvent(nullptr, FALSE, FALSE, nullptr);
  auto t0 = Clock::now();
  EXPECT_EQ(WaitForSingleObject(e, 30), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_GE(Clock::now() - t0, std::chrono::milliseconds(29));
  std::thread setter([e] {
    Sleep(5);
    SetEvent(e);
  });
  EXPECT_EQ(WaitForSingleObject(e, 10000), 0u);
  setter.join();
  CloseHandle(e);
}

TEST(ShimEvent, WakeUpsThatLoseTheEventDoNotRestartTheTimeOut) {
  // The waiter is woken again and again for two seconds without ever finding the event set; it must still give
  // up at its own deadline of 60 ms, not wait until the wake-ups stop.
  HANDLE e = CreateEvent(nullptr, FALSE, FALSE, nullptr);
  std::atomic<bool> stop{false};
  std::thread waker([&] {
    const auto until = Clock::now() + std::chrono::seconds(2);
    while (!stop && Clock::now() < until) {
      SHIM_Internal_WakeEventWaiters(e);
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  const auto t0 = Clock::now();
  const DWORD r = WaitForSingleObject(e, 60);
  const auto waited = Clock::now() - t0;
  stop = true;
  waker.join();
  EXPECT_EQ(r, static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_GE(waited, std::chrono::milliseconds(55));
  EXPECT_LT(waited, std::chrono::milliseconds(1500));
  CloseHandle(e);
}

TEST(ShimEventSocket, HoldsOneBytePerSignal) {
  HANDLE e = CreateEventAsSocket(nullptr, FALSE, FALSE, nullptr);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(pendingBytes(e), 0);
  SetEvent(e);
  SetEvent(e);
  EXPECT_EQ(pendingBytes(e), 1);
  EXPECT_EQ(WaitForSingleObject(e, 0), 0u);  // auto-reset: the wait takes the byte
  EXPECT_EQ(pendingBytes(e), 0);
  EXPECT_EQ(WaitForSingleObject(e, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  CloseHandle(e);
}

TEST(ShimEventSocket, ManualResetKeepsItsByteUntilReset) {
  HANDLE e = CreateEventAsSocket(nullptr, TRUE, TRUE, nullptr);
  EXPECT_EQ(WaitForSingleObject(e, 0), 0u);
  EXPECT_EQ(WaitForSingleObject(e, 0), 0u);
  ResetEvent(e);
  EXPECT_EQ(WaitForSingleObject(e, 5), static_cast<DWORD>(WAIT_TIMEOUT));
  CloseHandle(e);
}

TEST(ShimEventSocket, WaitForAnyGivesTheFirstSignalledInListOrder) {
  HANDLE a = CreateEventAsSocket(nullptr, FALSE, FALSE, nullptr);
  HANDLE b = CreateEventAsSocket(nullptr, FALSE, FALSE, nullptr);
  HANDLE c = CreateEventAsSocket(nullptr, TRUE, FALSE, nullptr);
  HANDLE plain = CreateEvent(nullptr, TRUE, TRUE, nullptr);  // not a socket: skipped
  HANDLE list[4] = {plain, a, b, c};
  EXPECT_EQ(WaitForAnySocketObject(4, list, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  SetEvent(c);
  SetEvent(b);
  EXPECT_EQ(WaitForAnySocketObject(4, list, 0), 2u);
  EXPECT_EQ(WaitForAnySocketObject(4, list, 0), 3u);  // b's signal was taken; c is manual
  EXPECT_EQ(WaitForAnySocketObject(0, list, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  for (HANDLE h : list) CloseHandle(h);
}

TEST(ShimEventSocket, DescriptorsAbove1024CanBeWaitedOn) {
  struct rlimit rl;
  getrlimit(RLIMIT_NOFILE, &rl);
  if (rl.rlim_cur < 2100 && rl.rlim_max >= 2100) {
    rl.rlim_cur = 2100;
    setrlimit(RLIMIT_NOFILE, &rl);
  }
  getrlimit(RLIMIT_NOFILE, &rl);
  if (rl.rlim_cur < 2100) GTEST_SKIP() << "descriptor limit too low";
  int fds[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  ASSERT_EQ(dup2(fds[0], 2000), 2000);
  HANDLE s = SHIM_SocketObjectFromDescriptor(2000);
  EXPECT_EQ(WaitForSingleObject(s, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  ASSERT_EQ(write(fds[1], "x", 1), 1);
  EXPECT_EQ(WaitForSingleObject(s, 1000), 0u);
  HANDLE list[1] = {s};
  EXPECT_EQ(WaitForAnySocketObject(1, list, 1000), 0u);
  EXPECT_FALSE(CloseHandle(s));  // socket objects are never freed by CloseHandle
  SHIM_FreeSocketObject(s);
  close(2000);
  close(fds[0]);
  close(fds[1]);
}

TEST(ShimHandle, CloseRefusesNullAndUnknownKinds) {
  EXPECT_FALSE(CloseHandle(nullptr));
  SHIM_KernelObjHdr bogus;
  bogus.type = 0x1234;
  bogus.count.store(1);
  EXPECT_FALSE(CloseHandle(&bogus));
  EXPECT_EQ(WaitForSingleObject(nullptr, 0), WAIT_FAILED);
  EXPECT_FALSE(SetEvent(nullptr));
  EXPECT_FALSE(ResetEvent(&bogus));
}

// ---- threads ----

DWORD waitForFlag(LPVOID p) {
  auto* flag = static_cast<std::atomic<int>*>(p);
  while (flag->load() == 0) Sleep(1);
  return 7;
}

TEST(ShimThread, ZeroWaitOnARunningThreadTimesOutAtOnce) {
  std::atomic<int> go{0};
  DWORD_PTR id = 0;
  HANDLE t = CreateThread(nullptr, 0, waitForFlag, &go, 0, &id);
  ASSERT_NE(t, nullptr);
  EXPECT_NE(id, 0u);
  auto t0 = Clock::now();
  EXPECT_EQ(WaitForSingleObject(t, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(WaitForSingleObject(t, 20), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_LT(Clock::now() - t0, std::chrono::seconds(5));
  go = 1;
  EXPECT_EQ(WaitForSingleObject(t, INFINITE), 0u);
  // Waiting again after the join, and closing after that, joins no second time.
  EXPECT_EQ(WaitForSingleObject(t, 0), 0u);
  EXPECT_EQ(WaitForSingleObject(t, 100), 0u);
  EXPECT_TRUE(CloseHandle(t));
}

std::atomic<int> g_finishedAlone{0};
DWORD finishAfterFlag(LPVOID p) {
  auto* flag = static_cast<std::atomic<int>*>(p);
  while (flag->load() == 0) Sleep(1);
  // Runs after its handle was closed: the thread's own reference keeps its record alive (ASan watches the rest).
  EXPECT_NE(GetCurrentThreadId(), 0u);
  g_finishedAlone = 1;
  return 3;
}

TEST(ShimThread, ClosingBeforeTheThreadEndsLetsItFinishAlone) {
  static std::atomic<int> go{0};  // outlives the test: the detached thread may still read it
  g_finishedAlone = 0;
  HANDLE t = CreateThread(nullptr, 0, finishAfterFlag, &go, 0, nullptr);
  ASSERT_NE(t, nullptr);
  EXPECT_TRUE(CloseHandle(t));  // the thread still holds its own reference
  EXPECT_EQ(g_finishedAlone.load(), 0);
  go = 1;
  for (int i = 0; i < 5000 && !g_finishedAlone.load(); ++i) Sleep(1);
  EXPECT_EQ(g_finishedAlone.load(), 1);
}

TEST(ShimThread, ManyWaitersJoinOnce) {
  std::atomic<int> go{0};
  HANDLE t = CreateThread(nullptr, 0, waitForFlag, &go, 0, nullptr);
  std::atomic<int> ok{0};
  std::thread w1([&] { ok += WaitForSingleObject(t, 5000) == 0; });
  std::thread w2([&] { ok += WaitForSingleObject(t, INFINITE) == 0; });
  go = 1;
  w1.join();
  w2.join();
  EXPECT_EQ(ok.load(), 2);
  CloseHandle(t);
}

TEST(ShimThread, PrioritiesAtTheIntLimitsAreClampedNotOverflowed) {
  std::atomic<int> go{0};
  HANDLE t = CreateThread(nullptr, 0, waitForFlag, &go, 0, nullptr);
  // Under the undefined-behaviour sanitizer an overflowing priority + 31 stops the test here.
  SetThreadPriority(t, INT_MAX);
  SetThreadPriority(t, INT_MIN);
  go = 1;
  EXPECT_EQ(WaitForSingleObject(t, 5000), 0u);
  CloseHandle(t);
}

TEST(ShimThread, PriorityOnlyForARunningThread) {
  std::atomic<int> go{0};
  HANDLE t = CreateThread(nullptr, 0, waitForFlag, &go, 0, nullptr);
  EXPECT_TRUE(SetThreadPriority(t, -31));  // the normal policy's only priority
  go = 1;
  WaitForSingleObject(t, INFINITE);
  EXPECT_FALSE(SetThreadPriority(t, 0));
  EXPECT_FALSE(SetThreadPriority(nullptr, 0));
  CloseHandle(t);
}

// ---- files ----

TEST(ShimFile, HandleReadsWritesSeeksAndSizes) {
  EXPECT_EQ(CreateFile("/tmp/x", 0, 0, nullptr, 0, 0, nullptr), nullptr);
  HANDLE f = SHIM_FileHandleFromStream(tmpfile());
  DWORD n = 0;
  EXPECT_TRUE(WriteFile(f, "hello world", 11, &n, nullptr));
  EXPECT_EQ(n, 11u);
  EXPECT_FALSE(WriteFile(f, "x", 0, &n, nullptr));
  LONG high = 5;
  EXPECT_EQ(GetFileSize(f, &high), 11u);
  EXPECT_EQ(high, 0);
  EXPECT_EQ(GetFilePointer(f, &high), 11u);
  high = 1;
  EXPECT_EQ(SetFilePointer(f, 6, &high), WAIT_FAILED);
  EXPECT_EQ(high, -1);
  high = 0;
  EXPECT_EQ(SetFilePointer(f, 6, &high), 6u);
  char buf[8] = {};
  EXPECT_TRUE(ReadFile(f, buf, 5, &n, nullptr));
  EXPECT_EQ(std::string(buf, n), "world");
  EXPECT_FALSE(ReadFile(f, buf, 5, &n, nullptr));  // at the end nothing is read
  EXPECT_EQ(GetFileSize(nullptr, &high), WAIT_FAILED);
  EXPECT_EQ(WaitForSingleObject(f, 0), WAIT_FAILED);
  EXPECT_TRUE(CloseHandle(f));
}

TEST(ShimFile, TimeOfAFileModifiedAtTheEpoch) {
  std::string dir = tempDir(), path = dir + "/epoch";
  FILE* fp = fopen(path.c_str(), "w");
  ASSERT_NE(fp, nullptr);
  fclose(fp);
  struct utimbuf times = {0, 0};
  ASSERT_EQ(utime(path.c_str(), &times), 0);
  int fd = open(path.c_str(), O_RDONLY);
  FILETIME w{}, a{};
  EXPECT_TRUE(GetFileTime(fd, nullptr, &a, &w));
  EXPECT_EQ((static_cast<uint64_t>(w.dwHighDateTime) << 32) | w.dwLowDateTime, 116444736000000000ull);
  EXPECT_EQ((static_cast<uint64_t>(a.dwHighDateTime) << 32) | a.dwLowDateTime, 116444736000000000ull);
  close(fd);
  EXPECT_FALSE(GetFileTime(-1, nullptr, nullptr, &w));
  unlink(path.c_str());
  rmdir(dir.c_str());
}

// ---- rectangles and arithmetic ----

TEST(ShimRect, IntersectionUnionAndPointTests) {
  RECT a, b, out;
  WinSetRect(&a, 0, 0, 10, 10);
  WinSetRect(&b, 5, 5, 20, 20);
  EXPECT_TRUE(WinIntersectRect(&out, &a, &b));
  EXPECT_EQ(out.left, 5);
  EXPECT_EQ(out.bottom, 10);
  RECT empty = {3, 3, 3, 8};
  EXPECT_FALSE(WinIntersectRect(&out, &a, &empty));
  EXPECT_EQ(out.left | out.top | out.right | out.bottom, 0);
  RECT apart = {50, 50, 60, 60};
  EXPECT_FALSE(WinIntersectRect(&out, &a, &apart));
  WinUnionRect(&out, &a, &empty);  // empty rectangles take part in the union
  EXPECT_EQ(out.left, 0);
  EXPECT_EQ(out.right, 10);
  WinOffsetRect(&out, 2, -3);
  EXPECT_EQ(out.left, 2);
  EXPECT_EQ(out.top, -3);
  EXPECT_FALSE(WinOffsetRect(nullptr, 1, 1));
  RECT far = {INT_MIN + 5, -10, INT_MAX - 5, 10};  // moved past an end of the range, an edge stays at that end
  WinOffsetRect(&far, 10, INT_MIN);
  EXPECT_EQ(far.left, INT_MIN + 15);
  EXPECT_EQ(far.right, INT_MAX);
  EXPECT_EQ(far.top, INT_MIN);
  EXPECT_EQ(far.bottom, INT_MIN + 10);

  RECT flipped = {0, 10, 10, 0};  // top below bottom
  struct {
    POINT p;
    bool inside;
  } cases[] = {{{0, 0}, true}, {{9, 9}, true}, {{10, 5}, false}, {{5, 10}, false}, {{-1, 5}, false}};
  for (auto& c : cases) {
    EXPECT_EQ(SHIM_PtInRect(&a, c.p) != 0, c.inside) << c.p.x << "," << c.p.y;
    EXPECT_EQ(SHIM_PtInRect(&flipped, c.p) != 0, c.inside) << c.p.x << "," << c.p.y;
  }
  EXPECT_FALSE(SHIM_PtInRect(nullptr, POINT{0, 0}));
}

TEST(ShimArithmetic, MulDivTruncatesTowardZero) {
  struct {
    int a, b, c, want;
  } cases[] = {{7, 3, 2, 10},
               {-7, 3, 2, -10},
               {1, 1, 0, 0},
               {100000, 100000, 100000, 100000},
               {INT_MAX, 2, 2, INT_MAX},
               {INT_MAX, INT_MAX, 1, INT_MAX},
               {INT_MIN, 2, 1, INT_MIN},
               {5, -5, -3, 8}};
  for (auto& c : cases) EXPECT_EQ(MulDiv(c.a, c.b, c.c), c.want) << c.a << "*" << c.b << "/" << c.c;
}

TEST(ShimArithmetic, ControlfpSetsTheRoundingMode) {
  volatile double x = 2.5, y = -1.5;
  UINT r = _controlfp(_RC_CHOP, _MCW_RC);
  EXPECT_EQ(r & _MCW_RC, static_cast<UINT>(_RC_CHOP));
  EXPECT_EQ(std::nearbyint(x), 2.0);
  EXPECT_EQ(std::nearbyint(y), -1.0);
  _controlfp(_RC_UP, _MCW_RC);
  EXPECT_EQ(std::nearbyint(x), 3.0);
  r = _controlfp(_RC_NEAR, _MCW_RC);
  EXPECT_EQ(r & _MCW_RC, static_cast<UINT>(_RC_NEAR));
  EXPECT_EQ(_controlfp(0, 0) & _MCW_RC, static_cast<UINT>(_RC_NEAR));  // a zero mask only reports
}

// ---- memory and strings ----

TEST(ShimString, LstrcpynEdgeValues) {
  struct {
    int n;
    const char* want;
  } cases[] = {{4, "abc"}, {1, ""}, {7, "abcdef"}, {100, "abcdef"}};
  for (auto& c : cases) {
    char buf[16];
    memset(buf, 'z', sizeof buf);
    EXPECT_EQ(lstrcpyn(buf, "abcdef", c.n), buf);
    EXPECT_STREQ(buf, c.want) << c.n;
  }
  char untouched[4] = {'q', 'q', 'q', 0};
  lstrcpyn(untouched, "abcdef", 0);
  lstrcpyn(untouched, "abcdef", -3);
  EXPECT_STREQ(untouched, "qqq");
}

TEST(ShimGlobal, BlocksKeepSizeAndLockCount) {
  HANDLE h = GlobalAlloc(0, 40);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(GlobalSize(h), 40);
  char* p = static_cast<char*>(GlobalLock(h));
  EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % alignof(std::max_align_t), 0u);
  memset(p, 1, 40);
  GlobalUnlock(h);
  GlobalFree(h);
  HANDLE z = GlobalAlloc(0, -5);
  EXPECT_EQ(GlobalSize(z), 0);
  GlobalFree(z);
  EXPECT_EQ(GlobalSize(nullptr), 0);
  EXPECT_EQ(GlobalLock(nullptr), nullptr);
  GlobalFree(nullptr);
}

TEST(ShimGuid, IsRandomVersionFour) {
  unsigned char a[16], b[16];
  SHIM_GenerateGUID(a);
  SHIM_GenerateGUID(b);
  SHIM_GenerateGUID(nullptr);
  EXPECT_NE(memcmp(a, b, 16), 0);
  EXPECT_EQ(a[6] >> 4, 4);
  EXPECT_EQ(a[8] & 0xC0, 0x80);
}

// ---- modules ----

class ShimModule : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = tempDir();
    log_ = dir_ + "/log";
    setenv("SHIM_TEST_MODULE_LOG", log_.c_str(), 1);
    unsetenv("SHIM_TEST_MODULE_REFUSE");
  }
  void TearDown() override {
    unsetenv("SHIM_TEST_MODULE_LOG");
    unsetenv("SHIM_TEST_MODULE_REFUSE");
    std::string cmd = "rm -rf '" + dir_ + "'";
    EXPECT_EQ(system(cmd.c_str()), 0);
  }
  std::string log() { return readFile(log_); }
  std::string dir_, log_;
};

TEST_F(ShimModule, LoadingTwiceSharesOneCountedRecord) {
  HINSTANCE a = LoadLibrary(SHIM_TEST_MODULE);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(log(), "shim attach\ndll attach\n");
  HINSTANCE b = LoadLibrary(SHIM_TEST_MODULE);
  EXPECT_EQ(a, b);
  EXPECT_EQ(a->refcnt, 2);
  EXPECT_EQ(log(), "shim attach\ndll attach\n");  // entry points run once per record

  auto answer = reinterpret_cast<int (*)()>(GetProcAddress(a, "shimTestAnswer"));
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(answer(), 42);
  EXPECT_EQ(GetProcAddress(a, "noSuchSymbol"), nullptr);
  char name[4096];
  EXPECT_GT(GetModuleFileName(a, name, sizeof name), 0);
  EXPECT_NE(std::string(name).find("shimtestmodule"), std::string::npos);
  char small[5];
  EXPECT_EQ(GetModuleFileName(a, small, sizeof small), 4);

  EXPECT_TRUE(FreeLibrary(a));
  EXPECT_EQ(b->refcnt, 1);
  EXPECT_EQ(log(), "shim attach\ndll attach\n");  // the first free calls no detach entry
  EXPECT_TRUE(FreeLibrary(b));
  EXPECT_EQ(log(), "shim attach\ndll attach\nshim detach\ndll detach\n");
  EXPECT_FALSE(FreeLibrary(nullptr));
}

TEST_F(ShimModule, RefusedAttachGivesNoModule) {
  setenv("SHIM_TEST_MODULE_REFUSE", "shim", 1);
  EXPECT_EQ(LoadLibrary(SHIM_TEST_MODULE), nullptr);
  EXPECT_EQ(log(), "shim attach\n");
  unlink(log_.c_str());
  setenv("SHIM_TEST_MODULE_REFUSE", "dll", 1);
  EXPECT_EQ(LoadLibrary(SHIM_TEST_MODULE), nullptr);
  EXPECT_EQ(log(), "shim attach\ndll attach\nshim detach\n");
  unsetenv("SHIM_TEST_MODULE_REFUSE");
  HINSTANCE m = LoadLibrary(SHIM_TEST_MODULE);  // a refused load left no record behind
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->refcnt, 1);
  FreeLibrary(m);
}

TEST_F(ShimModule, BundlesLoadTheirExecutable) {
  std::string bundle = dir_ + "/Tester.bundle";
  std::string cmd =
      "mkdir -p '" + bundle + "/Contents/Linux' && cp '" SHIM_TEST_MODULE "' '" + bundle + "/Contents/Linux/Tester.so'";
  ASSERT_EQ(system(cmd.c_str()), 0);
  HINSTANCE a = LoadLibrary(bundle.c_str());
  ASSERT_NE(a, nullptr);
  HINSTANCE b = LoadLibrary(bundle.c_str());
  EXPECT_EQ(a, b);
  auto answer = reinterpret_cast<int (*)()>(GetProcAddress(a, "shimTestAnswer"));
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(answer(), 42);
  char path[4096];
  int len = GetModuleFileName(a, path, sizeof path);
  EXPECT_EQ(len, static_cast<int>(strlen(path)));
  EXPECT_EQ(std::string(path), bundle);
  FreeLibrary(b);
  FreeLibrary(a);
  EXPECT_EQ(log(), "shim attach\ndll attach\nshim detach\ndll detach\n");
  EXPECT_EQ(LoadLibrary((dir_ + "/missing.so").c_str()), nullptr);
  EXPECT_EQ(LoadLibrary(""), nullptr);
  EXPECT_EQ(LoadLibrary(nullptr), nullptr);
}

// ---- child processes ----

TEST(ShimProcess, ChildProcessIsWaitedFor) {
  const char* args[] = {"-c", "sleep 0.2"};
  HANDLE p = SHIM_CreateProcess("/bin/sh", 2, args);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(WaitForSingleObject(p, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(WaitForSingleObject(p, INFINITE), 0u);
  EXPECT_EQ(WaitForSingleObject(p, 0), 0u);
  EXPECT_TRUE(CloseHandle(p));
  EXPECT_EQ(SHIM_CreateProcess("/no/such/program", 0, nullptr), nullptr);
}

}  // namespace
