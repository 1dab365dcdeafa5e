// The owner of every call of ours that talks to a JACK server (see JackOwner.h).
#include "KIT/IEffect/JackOwner.h"

#include <dlfcn.h>
#include <jack/jack.h>
#include <pthread.h>
#include <rtmidi/RtMidi.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <exception>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <type_traits>

#include "KIT/IEffect/HostCallRelay.h"
#include "KIT/IEffect/MidiInputDelivery.h"

namespace jackowner {

const char* const kSilentServerText = "No MIDI system: the JACK server does not answer";
const char* const kWaitingText = "Waiting for the JACK server...";

namespace {

const char* const kNotReconnectedText = "No MIDI system yet: the DAW's audio must reconnect to the JACK server first";

// The longest a host's call waits for the MIDI system from its own arrival, whatever was handed over before it: libjack
// stays inside a call for as long as a stopped server does not answer, and a loaded machine makes healthy work slow
// (a client's open after a server's restart takes over a second there). Other threads wait while the server runs,
// up to kOtherCallMillis.
constexpr int64_t kAnswerMillis = 1000;
constexpr int64_t kOtherCallMillis = 10000;
// A server whose cycles our helpers have not seen run this long runs none (stopped or hung). A running server may run
// no cycle of its graph for as long as its client time-out while one client is slow (a loaded machine; a synchronous
// server, as the tests' with 2 s, holds its whole cycle meanwhile): longer than that.
constexpr int64_t kStoppedMillis = 3000;
// A piece of work on a server that answers takes a few milliseconds, or a few hundred on a loaded machine; the owner
// in one this long is stuck in the server.
constexpr int64_t kStuckMillis = 1000;

int64_t steadyMillis() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// All that the owner's thread and libjack's threads reach lives on the heap for as long as the process: nothing of it
// is destroyed at exit, while those threads may still run.
struct Shared {
  std::mutex queueLock;
  std::condition_variable wake;
  std::deque<std::function<void()>> queue;  // under queueLock
  std::atomic<bool> started{false};         // written under queueLock
  std::condition_variable ownerEnded;       // an owner ended (started cleared)
  pthread_t owner{};                        // the last owner started, under queueLock
  bool ownerJoinable = false;               // under queueLock: it has not been joined yet
  std::atomic<long> piecesDone{0};          // pieces of work the owner has ended
  std::atomic<int64_t> pieceSince{0};       // when the owner took the piece it is in, 0 while it waits for one
  std::mutex asideLock;
  std::vector<void*> aside;  // under asideLock
  struct Listener {
    HostCallRelay* relay;
    std::atomic<long>* heard;
  };
  std::mutex listenersLock;
  std::vector<Listener> listeners;  // under listenersLock
};

Shared& shared() {
  static Shared* const s = new Shared();
  return *s;
}

// libjack crashes closing a client whose server went away; such objects are set aside here, never used again and
// never closed (a few hundred bytes per lost server).
void setAside(void* object) {
  std::lock_guard<std::mutex> guard(shared().asideLock);
  shared().aside.push_back(object);
}

// The ends of a JACK server this process has seen, by any instance. A client belongs to the server that ran when its
// count was taken: once the count has moved, that server is gone and none of its clients may be touched again.
std::atomic<long> serverEnds{0};
// Set once a port object of this process was made on JACK: a MIDI system that answers no more is then a JACK server
// that stopped, whatever back end the next look finds.
std::atomic<bool> jackSeen{false};
// When a server's end was last counted (set before the count moves), and the count of ends that the host's audio has
// run with since, -1 while the host's audio has not run in this process.
std::atomic<int64_t> lastEndAt{0};
std::atomic<long> endsSeenByAudio{-1};
// A block that began as the server ended may end after the end was counted; audio that runs this long after it runs
// on a server that runs.
constexpr int64_t kAudioAfterEndMillis = 100;

// Once a client of ours is opened, libjack's threads may call into the module (its report functions, a shutdown
// callback, an input's delivery) and the owner may be inside libjack for as long as a server does not answer, until
// the process ends: from the first open on the module is never unloaded (a host's dlclose leaves it mapped). Before
// (and on ALSA), the owner ends whenever it has nothing to do, and a host may unload the module.
std::atomic<bool> moduleKept{false};

void keepModuleLoaded() {
  if (moduleKept.exchange(true)) return;
  Dl_info info;
  if (!dladdr(reinterpret_cast<void*>(&keepModuleLoaded), &info) || !info.dli_fname ||
      !dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE)) {
    const char* why = dlerror();
    std::fprintf(stderr, "MIDI: the plug-in could not keep itself loaded: %s\n", why ? why : "not found");
  }
}

// A module unloaded before any client of ours opened takes the shared state with it. The owner ends whenever it has
// nothing to do until then, but its last instructions (after its last unlock) are the module's: the work handed over
// before the unload (an instance's last ends) runs, and the owner is joined, before the module and its state go.
struct SharedGoesWithTheModule {
  ~SharedGoesWithTheModule() {
    if (moduleKept) return;
    Shared& s = shared();
    {
      std::unique_lock<std::mutex> lock(s.queueLock);
      while (s.started && !moduleKept) s.ownerEnded.wait_for(lock, std::chrono::milliseconds(10));
      if (moduleKept) return;  // an open began meanwhile: the module stays
      if (s.ownerJoinable) pthread_join(s.owner, nullptr);
      s.ownerJoinable = false;
    }
    delete &s;
  }
} sharedGoesWithTheModule;

thread_local bool onOwner = false;

void* runOwner(void*) {
  onOwner = true;
  Shared& s = shared();
  std::unique_lock<std::mutex> lock(s.queueLock);
  for (;;) {
    if (s.queue.empty() && !moduleKept) {
      s.started = false;
      s.ownerEnded.notify_all();
      return nullptr;
    }
    s.wake.wait(lock, [&] { return !s.queue.empty(); });
    std::function<void()> work = std::move(s.queue.front());
    s.queue.pop_front();
    lock.unlock();
    s.pieceSince = steadyMillis();
    try {
      work();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "MIDI: %s\n", e.what());
    } catch (...) {
    }
    work = nullptr;
    s.pieceSince = 0;
    ++s.piecesDone;
    lock.lock();
  }
}

// Whether the server of our clients runs its cycles: every helper client of ours is activated with a process callback
// that counts the cycles the server runs (`cycles`, our own memory: nothing of libjack's is read, and no call can
// block). A stopped or hung server runs no more cycles, a busy one does, however slow its answers. The count is read
// only while a helper that the server has run is active on the server that runs now (`clockHolders`; a helper counts
// from its first cycle on: libjack may activate a client that it then never runs). A server is silent only while the
// owner is stuck in it too (in one piece of work for kStuckMillis): a server that answers our calls is never silent,
// whatever the count shows (a helper the server no longer runs, or one not yet run after a long stop). The verdict of
// a stopped server stands, while nothing can be read, until the owner ends the piece it was stuck in: that piece got
// its answer.
std::atomic<uint64_t> cycles{0};
std::atomic<int> clockHolders{0};  // active helpers of server clockServer that it has run
std::atomic<long> clockServer{-1};
std::atomic<long> clockSeenServer{-1};
std::atomic<uint64_t> clockCycles{0};
std::atomic<int64_t> clockMovedAt{0};
std::atomic<long> stoppedAtPiece{-1};  // piecesDone when the server was last read as stopped, -1 when it ran
// The file of the server's socket as the first holder found it (libjack's JACK 2 keeps it in /dev/shm, named by the
// server's name and the user). A server that ended and was started again (or is gone) has another, or none: its
// clients' cycles stopped with it, which says nothing of the server that runs now, whose end libjack tells.
std::atomic<ino_t> clockSocket{0};

ino_t serverSocket() {
  const char* name = std::getenv("JACK_DEFAULT_SERVER");
  const std::string path = "/dev/shm/jack_" + std::string(name && *name ? name : "default") + "_" +
                           std::to_string(static_cast<unsigned long>(::getuid())) + "_0";
  struct stat file;
  return ::stat(path.c_str(), &file) == 0 ? file.st_ino : 0;
}
// The active helpers' clients by server and name; owner only, never destroyed (the owner may run at the process's
// exit).
std::multimap<std::pair<long, std::string>, jack_client_t*>& liveHelpers() {
  static auto* const helpers = new std::multimap<std::pair<long, std::string>, jack_client_t*>();
  return *helpers;
}

// A helper's part in the count: not run yet, run (a holder of the count), or let go.
struct HelperCycles {
  enum { kNotRun, kRun, kLetGo };
  long server = 0;
  std::atomic<int> state{kNotRun};
};

// libjack's process thread of a helper: atomic steps, nothing held.
int countCycle(jack_nframes_t, void* helper) {
  cycles.fetch_add(1, std::memory_order_relaxed);
  auto* h = static_cast<HelperCycles*>(helper);
  int notRun = HelperCycles::kNotRun;
  if (h->state.load(std::memory_order_relaxed) == notRun &&
      h->state.compare_exchange_strong(notRun, HelperCycles::kRun) && clockServer.load() == h->server)
    ++clockHolders;
  return 0;
}

void clockHeld(const std::string& helper, jack_client_t* client, const HelperCycles& count) {
  liveHelpers().emplace(std::make_pair(count.server, helper), client);
  if (clockServer.load() != count.server) {
    clockHolders = 0;
    clockSocket = serverSocket();
    clockServer = count.server;
  }
}

void clockLetGo(const std::string& helper, HelperCycles& count) {
  const auto at = liveHelpers().find(std::make_pair(count.server, helper));
  if (at != liveHelpers().end()) liveHelpers().erase(at);
  if (count.state.exchange(HelperCycles::kLetGo) == HelperCycles::kRun && clockServer.load() == count.server)
    --clockHolders;
}

// An active helper of `server`, liveHelpers().end() when there is none.
auto liveHelperOf(long server) {
  const auto at = liveHelpers().lower_bound(std::make_pair(server, std::string()));
  return at != liveHelpers().end() && at->first.first == server ? at : liveHelpers().end();
}

// The name of an active helper of `server`, "" when there is none.
std::string helperOf(long server) {
  const auto at = liveHelperOf(server);
  return at != liveHelpers().end() ? at->first.second : std::string();
}

// A call that waits for the server's answer, through an active helper of the server that runs now (on the owner).
void askServer() {
  const auto at = liveHelperOf(serverEnds.load());
  if (at == liveHelpers().end()) return;
  if (char* uuid = jack_get_uuid_for_client_name(at->second, at->first.second.c_str())) jack_free(uuid);
}

// Whether the cycles counted stopped moving kStoppedMillis ago or more; false while no helper of `server` has run.
bool cyclesStopped(long server, int64_t now) {
  if (clockHolders.load() == 0 || clockServer.load() != server) return false;
  const uint64_t count = cycles.load(std::memory_order_relaxed);
  if (clockSeenServer.exchange(server) != server || clockCycles.exchange(count) != count) {
    clockMovedAt.store(now);
    return false;
  }
  return now - clockMovedAt.load() >= kStoppedMillis && serverSocket() == clockSocket.load();
}

bool clockStopped() {
  const long server = serverEnds.load();
  const long done = shared().piecesDone.load();
  const int64_t stuckSince = shared().pieceSince.load();
  if (clockHolders.load() > 0 && clockServer.load() == server) {
    const int64_t now = steadyMillis();
    const bool stopped = cyclesStopped(server, now) && stuckSince != 0 && now - stuckSince >= kStuckMillis;
    stoppedAtPiece.store(stopped ? done : -1);
    return stopped;
  }
  const long at = stoppedAtPiece.load();
  return at >= 0 && at == done && stuckSince != 0 && clockSeenServer.load() == server &&
         serverSocket() == clockSocket.load();
}

// The deadline of the host's call on this thread (0: none), and what makes its waits end at once (an instance that is
// being closed).
thread_local int64_t callDeadline = 0;
thread_local const std::atomic<bool>* giveUpFlag = nullptr;

bool givingUp() {
  return giveUpFlag && giveUpFlag->load();
}

// The instances take what work handed over by a caller that stopped waiting left them.
void wakeListeners() {
  std::lock_guard<std::mutex> lock(shared().listenersLock);
  for (const Shared::Listener& l : shared().listeners) l.relay->requestDeferredWork();
}

bool handOver(std::function<void()> work) {
  Shared& s = shared();
  {
    std::lock_guard<std::mutex> lock(s.queueLock);
    if (!s.started) {
      // A thread of the C library's own. The owner that ended last is past its last unlock: joining it takes a moment.
      if (s.ownerJoinable) pthread_join(s.owner, nullptr);
      s.ownerJoinable = false;
      if (pthread_create(&s.owner, nullptr, &runOwner, nullptr) != 0) {
        std::fprintf(stderr, "MIDI: no thread for the MIDI system\n");
        return false;
      }
      s.ownerJoinable = true;
      s.started = true;
    }
    s.queue.push_back(std::move(work));
  }
  s.wake.notify_one();
  return true;
}

// Runs `work` on the owner and waits for it: kYes once it has run. kSilent when the server stopped running its cycles
// meanwhile (or was read so as the call came: nothing is handed over then, unless `always`). kLate when a host's call
// reached its deadline (another thread kOtherCallMillis) while the server ran: the work still runs in its turn (the
// caller must not touch what it writes) and `ifGivenUp` after it; the instances are woken then to take its result.
// The owner's own work runs at once.
Reply ask(std::function<void()> work, std::function<void()> ifGivenUp = {}, bool always = false) {
  struct Call {
    std::mutex lock;
    std::condition_variable ended;
    bool done = false, givenUp = false;
  };
  if (onOwner) {
    work();
    return Reply::kYes;
  }
  if (clockStopped() && !always) return Reply::kSilent;
  const int64_t deadline = callDeadline ? callDeadline : steadyMillis() + kOtherCallMillis;
  // A call past its deadline hands nothing more over: it has stopped waiting for the MIDI system.
  if (!always && (steadyMillis() >= deadline || givingUp())) return Reply::kLate;
  auto call = std::make_shared<Call>();
  const bool handed = handOver([call, work = std::move(work), ifGivenUp = std::move(ifGivenUp)] {
    work();
    std::unique_lock<std::mutex> lock(call->lock);
    if (call->givenUp) {
      lock.unlock();
      if (ifGivenUp) ifGivenUp();
      wakeListeners();
      return;
    }
    call->done = true;
    call->ended.notify_all();
  });
  if (!handed) return Reply::kSilent;
  std::unique_lock<std::mutex> lock(call->lock);
  while (!call->done) {
    const bool stopped = clockStopped();
    if (stopped || steadyMillis() >= deadline || givingUp()) {
      call->givenUp = true;
      std::fprintf(stderr, stopped ? "MIDI: the JACK server does not run its cycles\n"
                                   : "MIDI: the JACK server is busy: its answer is taken when it comes\n");
      return stopped ? Reply::kSilent : Reply::kLate;
    }
    call->ended.wait_for(lock, std::chrono::milliseconds(10));
  }
  return Reply::kYes;
}

// An end of something of ours on the owner, waited for while the server runs (a process that exits with a client of
// ours half closed holds the server's cycles until the server gives up on it). Set aside when no owner can start.
void endOnOwner(std::function<void()> end, void* object) {
  if (ask(std::move(end), {}, true) == Reply::kSilent && !shared().started) setAside(object);
}

bool hostLeftNoClientOfAGoneServer();

int64_t monotonicMillis() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);  // steady_clock's, read without a frame of the C++ library
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Written once a server's end is counted; a thread of ours reads it and wakes the instances' relays. Made before a
// client of ours opens.
std::atomic<int> endsWake{-1};

// Counts the end of server `from` once and wakes the thread that tells the instances. Entered by libjack's threads:
// atomics and one system call. (A wake-up lost to a cancellation is made good by each relay's tick.)
__attribute__((noinline)) void countServerEnd(long from) {
  lastEndAt.store(monotonicMillis());
  if (!serverEnds.compare_exchange_strong(from, from + 1)) return;
  const uint64_t one = 1;
  const int wake = endsWake.load();
  if (wake >= 0) (void)!write(wake, &one, sizeof one);
}

void* tellServerEnds(void* wake) {
  pthread_setname_np(pthread_self(), "vexmir-ends");
  for (;;) {
    uint64_t counted = 0;
    if (read(static_cast<int>(reinterpret_cast<intptr_t>(wake)), &counted, sizeof counted) < 0 && errno != EINTR)
      return nullptr;
    std::lock_guard<std::mutex> lock(shared().listenersLock);
    for (const Shared::Listener& l : shared().listeners)
      if (newServerEnd(l.heard)) l.relay->requestDeferredWork();
  }
}

// Before a client of ours opens (on the owner): the module stays from then on, and so does this thread.
void listenForServerEnds() {
  if (endsWake.load() >= 0) return;
  const int wake = eventfd(0, EFD_CLOEXEC);
  pthread_t listener;
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  const bool made = wake >= 0 && pthread_create(&listener, &attr, &tellServerEnds,
                                                reinterpret_cast<void*>(static_cast<intptr_t>(wake))) == 0;
  pthread_attr_destroy(&attr);
  if (made) return endsWake.store(wake);
  std::fprintf(stderr, "MIDI: no thread for a JACK server's end: the instances hear of it at their next tick\n");
  if (wake >= 0) close(wake);
}

// libjack reports through one function of the process, which the host may have set: Ardour's writes into one stream
// shared by all its threads, without a lock. As a server ends, every client's own thread reports it at the same
// moment; written by several threads at once, that stream corrupts the memory around it. So libjack's reports go on
// to the host's function one at a time, from a thread of ours (the reporter), which a slow host function holds alone.
// libjack's threads only hand the text over. libjack cancels them asynchronously, at any instruction, and this
// system's C library may act on a cancellation that they have since disabled: what they run takes no lock, allocates
// nothing, waits for nothing and has nothing to unwind. A text is copied into a slot made in advance, published by
// one store, and the reporter woken by one system call; a slot whose writer was cancelled before it published is
// taken back once that thread is gone. While every slot is taken, a report is dropped.
constexpr long kSlotFree = 0, kSlotReady = -1;  // otherwise the writing thread's id
constexpr size_t kReportSlots = 64, kReportBytes = 256;

struct Reports {
  struct Slot {
    std::atomic<long> state{kSlotFree};
    uint64_t order = 0;
    bool error = false;
    char text[kReportBytes];
  };
  Slot slots[kReportSlots];
  std::atomic<uint64_t> next{0};
  std::atomic<void (*)(const char*)> hostError{nullptr}, hostInfo{nullptr};
  int wake = -1;  // an eventfd
};
// Made once, before libjack's reports are routed here; never freed (the module stays from then on).
std::atomic<Reports*> reports{nullptr};

__attribute__((noinline)) void handOverReport(bool error, const char* text) {
  Reports* r = reports.load(std::memory_order_acquire);
  if (!r || !text) return;
  const long me = syscall(SYS_gettid);
  for (Reports::Slot& slot : r->slots) {
    long free = kSlotFree;
    if (!slot.state.compare_exchange_strong(free, me, std::memory_order_acquire)) continue;
    size_t n = 0;
    for (; n + 1 < kReportBytes && text[n]; ++n) slot.text[n] = text[n];
    slot.text[n] = '\0';
    slot.error = error;
    slot.order = r->next.fetch_add(1, std::memory_order_relaxed);
    slot.state.store(kSlotReady, std::memory_order_release);
    const uint64_t one = 1;
    (void)!write(r->wake, &one, sizeof one);
    return;
  }
}

void reportJackError(const char* text) {
  handOverReport(true, text);
}

void reportJackInfo(const char* text) {
  handOverReport(false, text);
}

// The reporter: the published texts in the order they were handed over, each to the host's function of its kind.
void* passReportsOn(void* reportsMade) {
  Reports& r = *static_cast<Reports*>(reportsMade);
  pthread_setname_np(pthread_self(), "vexmir-reports");
  char text[kReportBytes];
  for (;;) {
    uint64_t posted = 0;
    if (read(r.wake, &posted, sizeof posted) < 0 && errno != EINTR) return nullptr;
    for (;;) {
      Reports::Slot* first = nullptr;
      for (Reports::Slot& slot : r.slots) {
        long state = slot.state.load(std::memory_order_acquire);
        if (state == kSlotReady && (!first || slot.order < first->order))
          first = &slot;
        else if (state != kSlotReady && state != kSlotFree && syscall(SYS_tgkill, getpid(), state, 0) != 0 &&
                 errno == ESRCH)
          slot.state.compare_exchange_strong(state, kSlotFree);  // its writer was cancelled
      }
      if (!first) break;
      std::memcpy(text, first->text, kReportBytes);
      void (*to)(const char*) = (first->error ? r.hostError : r.hostInfo).load();
      first->state.store(kSlotFree, std::memory_order_release);
      if (to) to(text);
    }
  }
}

}  // namespace

// On the owner.
void routeReports() {
  Reports* r = reports.load();
  if (!r) {
    r = new Reports();
    r->wake = eventfd(0, EFD_CLOEXEC);
    pthread_t reporter;
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    const bool made = r->wake >= 0 && pthread_create(&reporter, &attr, &passReportsOn, r) == 0;
    pthread_attr_destroy(&attr);
    if (!made) {
      std::fprintf(stderr, "MIDI: no thread for libjack's reports: they go to the host's function directly\n");
      if (r->wake >= 0) close(r->wake);
      delete r;
      return;
    }
    reports.store(r);
  }
  if (jack_error_callback != &reportJackError) {
    r->hostError = jack_error_callback;
    jack_set_error_function(&reportJackError);
  }
  if (jack_info_callback != &reportJackInfo) {
    r->hostInfo = jack_info_callback;
    jack_set_info_function(&reportJackInfo);
  }
}

namespace {

// As the process opens a client after a server's end, libjack closes and frees every client of the server that ended,
// the host's own among them, while the host's threads may still be inside theirs: a host's process thread that the
// end left waiting in libjack wakes and runs a cycle on its freed client, and the host dies. A host on JACK opens its
// own client again before its audio runs again (and a host not on JACK runs its audio without a server): so once the
// host's audio has run in this process, no client of ours opens after a server's end until that audio has run since.
bool hostLeftNoClientOfAGoneServer() {
  const long seen = endsSeenByAudio.load();
  return seen < 0 || seen == serverEnds.load();
}

// The server count under which a client of ours last opened, -1 before the first, and the server's socket file then.
std::atomic<long> openedUnder{-1};
std::atomic<ino_t> openedSocket{0};

// A server whose socket file is gone or new since a client of ours opened under the count has ended, whether or not a
// client of ours was told: libjack frees that server's clients at the process's next open (the host's too), and none
// of them may be touched again.
void countReplacedServer() {
  const long ends = serverEnds.load();
  const ino_t socket = openedSocket.load();
  if (openedUnder.load() == ends && socket != 0 && serverSocket() != socket) countServerEnd(ends);
}

// A client of ours (on the owner). One that could not be opened: whatever server our clients had answers no more. One
// that may not be opened yet is not opened (`refused`), and counts no end: the end that closed the way is counted.
jack_client_t* openClient(const std::string& name, bool* refused = nullptr) {
  countReplacedServer();  // before an open frees the clients of a server that ended unheard
  if (!hostLeftNoClientOfAGoneServer()) {
    if (refused) *refused = true;
    return nullptr;
  }
  keepModuleLoaded();  // the open itself may outlast a host's unload, inside a server that does not answer
  routeReports();
  listenForServerEnds();
  const long server = serverEnds.load();
  jack_client_t* client = jack_client_open(name.c_str(), JackNoStartServer, nullptr);
  // Only a server that had a client of ours can have ended: where none ever opened, no server ran.
  if (!client && openedUnder.load() == server) countServerEnd(server);
  if (client) {
    openedSocket.store(serverSocket());
    openedUnder.store(server);
  }
  return client;
}

// Errors reported by the library after a port object exists land here instead of being thrown.
void midiErrorCallback(RtMidiError::Type type, const std::string& text, void*) {
  if (type == RtMidiError::DEBUG_WARNING) return;
  std::fprintf(stderr, "MIDI: %s\n", text.c_str());
}

// A client's name on JACK carries the process and the instance, as no two clients of one process may ask for one
// name (two opening under one name at once take over each other's notification socket).
std::string processAndInstance(int instance) {
  return std::to_string(static_cast<long>(::getpid())) + "-" + std::to_string(instance);
}

}  // namespace

void serverEndHeard(void* server) {
  countServerEnd(static_cast<long>(reinterpret_cast<intptr_t>(server)));
}

bool serverStopped() {
  if (clockStopped()) return true;
  // A running server counts a cycle every few milliseconds. Where none comes for a moment while the owner is not stuck
  // in the server, a call that waits for its answer tells.
  const uint64_t before = cycles.load(std::memory_order_relaxed);
  for (int i = 0; i < 10; ++i) {
    if (clockHolders.load() == 0 || cycles.load(std::memory_order_relaxed) != before) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return cycles.load(std::memory_order_relaxed) == before && ask([] { askServer(); }) == Reply::kSilent;
}

AnswerWithin::AnswerWithin() : outer_(callDeadline == 0) {
  if (outer_) callDeadline = steadyMillis() + kAnswerMillis;
}

AnswerWithin::~AnswerWithin() {
  if (outer_) callDeadline = 0;
}

GiveUpWhen::GiveUpWhen(const std::atomic<bool>& flag) : before_(giveUpFlag) {
  giveUpFlag = &flag;
}

GiveUpWhen::~GiveUpWhen() {
  giveUpFlag = before_;
}

bool serverGone(long server) {
  if (server == kNoJackServer) return false;
  countReplacedServer();
  return server != serverEnds.load();
}

bool newServerEnd(std::atomic<long>* heard) {
  const long ends = serverEnds.load();
  return heard->exchange(ends) != ends && jackSeen;
}

void hearServerEnds(HostCallRelay* relay, std::atomic<long>* heard, bool on) {
  std::lock_guard<std::mutex> lock(shared().listenersLock);
  std::vector<Shared::Listener>& listeners = shared().listeners;
  for (auto it = listeners.begin(); it != listeners.end();)
    it = it->relay == relay ? listeners.erase(it) : it + 1;
  if (on) listeners.push_back({relay, heard});
}

void hostAudioRuns() {
  const long ends = serverEnds.load();
  if (ends == endsSeenByAudio.load(std::memory_order_relaxed)) return;
  if (steadyMillis() - lastEndAt.load() >= kAudioAfterEndMillis) endsSeenByAudio.store(ends);
}

// The direction's own client beside the library's: it reads the graph the server runs (for the connection watches and
// a recall's check) and is told when the server shuts down. It opens at the first use of the direction's port object
// after its port list (see serverRuns) and lives as long as the port object, so that opening, closing or listing
// ports again makes no client (the server announces every client's start and end to all its clients, the host's own
// among them). Made, used and closed on the owner.
class HelperClient {
 public:
  explicit HelperClient(const std::string& name) : name_(name), server_(serverEnds.load()) {
    client_ = openClient(name);
    if (!client_) return;
    jack_on_shutdown(client_, &serverEndHeard, reinterpret_cast<void*>(static_cast<intptr_t>(server_)));
    cycles_.server = server_;
    jack_set_process_callback(client_, &countCycle, &cycles_);
    clockHeld(name_, client_, cycles_);  // before its first cycle can come
    active_ = jack_activate(client_) == 0;
    if (!active_) clockLetGo(name_, cycles_);
  }
  HelperClient(const HelperClient&) = delete;
  HelperClient& operator=(const HelperClient&) = delete;

  jack_client_t* client() const { return client_; }
  bool serverGone() const { return serverEnds.load() != server_; }
  // Any thread: the end runs on the owner, waited for while it answers.
  static void release(HelperClient* helper) { endOnOwner([helper] { end(helper); }, helper); }
  static void end(HelperClient* helper) {
    if (helper->active_) clockLetGo(helper->name_, helper->cycles_);
    if (!helper->client_ || helper->serverGone()) return setAside(helper);
    jack_client_close(helper->client_);
    delete helper;
  }
  // Whether the server knows a client of this name.
  bool knows(const std::string& name) const {
    char* uuid = jack_get_uuid_for_client_name(client_, name.c_str());
    if (uuid) jack_free(uuid);
    return uuid != nullptr;
  }
  // Whether the graph the server runs connects the port named `otherEnd` to ours (its full name).
  bool connected(const std::string& otherEnd, const std::string& ours) const {
    jack_port_t* other = jack_port_by_name(client_, otherEnd.c_str());
    if (!other || ours.empty()) return false;
    bool found = false;
    if (const char** names = jack_port_get_all_connections(client_, other)) {
      for (const char** n = names; *n; ++n) found = found || ours == *n;
      jack_free(names);
    }
    return found;
  }

 private:
  ~HelperClient() = default;
  const std::string name_;
  jack_client_t* client_ = nullptr;
  bool active_ = false;
  const long server_;
  HelperCycles cycles_;
};

namespace {

// What the musician reads when no MIDI system could be reached, by the back end that was tried: where a JACK server
// ran before, the one the musician must start again.
const char* noSystemText() {
  const char* env = std::getenv("VEXMIR_MIDI_API");
  if ((env && std::strcmp(env, "jack") == 0) || (!env && jackSeen)) return "No MIDI system: no JACK server runs";
  if (env && std::strcmp(env, "alsa") == 0) return "No MIDI system: no ALSA sequencer";
  return "No MIDI system: no JACK, no ALSA sequencer";
}

// $VEXMIR_MIDI_API picks the back end ("jack" or "alsa"); without it JACK is used when a server runs, ALSA otherwise.
// Whether one runs is asked once, as the direction's port object is made, by a client under the direction's helper
// name that is closed at once. JACK chosen without a server gives no back end at all: the library's JACK ports would
// otherwise keep retrying (and leaking) a connection on every call. While the host's audio has not reconnected to a
// server since one ended, nothing is opened, and nothing falls back to another system: `problem` says so.
RtMidi::Api chooseMidiApi(const std::string& probeName, const char** problem) {
  const char* env = std::getenv("VEXMIR_MIDI_API");
  if (env && std::strcmp(env, "alsa") == 0) return RtMidi::LINUX_ALSA;
  bool refused = false;
  jack_client_t* probe = openClient(probeName, &refused);
  if (refused) {
    *problem = kNotReconnectedText;
    return RtMidi::UNSPECIFIED;
  }
  const bool jack = probe != nullptr;
  // A server started again unheard (no client of ours was told of the end) knows no helper of ours: it is another.
  const long server = serverEnds.load();
  if (const std::string helper = probe ? helperOf(server) : std::string(); !helper.empty()) {
    char* uuid = jack_get_uuid_for_client_name(probe, helper.c_str());
    if (uuid) jack_free(uuid);
    if (!uuid) countServerEnd(server);
  }
  if (probe) jack_client_close(probe);
  if (env && std::strcmp(env, "jack") == 0 && !jack) {
    *problem = noSystemText();
    return RtMidi::UNSPECIFIED;
  }
  return jack ? RtMidi::UNIX_JACK : RtMidi::LINUX_ALSA;
}

// Deletes a port object (ending the library's client: no callback runs or comes after this); one of a server that
// went away is set aside, its callback cut off. On the owner.
template <class Port>
void endNow(RtMidi* object, long server) {
  Port* port = static_cast<Port*>(object);
  if (!port) return;
  if (!serverGone(server)) return delete port;
  if constexpr (std::is_same<Port, RtMidiIn>::value) {
    try {
      port->cancelCallback();
    } catch (...) {
    }
  }
  setAside(port);
}

template <class Port, class... Extra>
MadePort makePort(const char* direction, const char* clientName, const char* portName, int instance,
                  MidiInputDelivery* delivery, Extra... extra) {
  struct Made {
    RtMidi* port = nullptr;
    RtMidi::Api api = RtMidi::UNSPECIFIED;
    long server = kNoJackServer;
    std::string client;
    const char* problem = nullptr;
  };
  auto made = std::make_shared<Made>();
  const std::string probe = helperName(direction, instance);
  const Reply answered = ask(
      [=] {
        try {
          made->api = chooseMidiApi(probe, &made->problem);
          if (made->problem) return;
          made->server = made->api == RtMidi::UNIX_JACK ? serverEnds.load() : kNoJackServer;
          made->client = made->api == RtMidi::UNIX_JACK ? clientName + (" " + processAndInstance(instance))
                                                        : std::string(clientName);
          auto port = std::make_unique<Port>(made->api, made->client, extra...);
          port->setErrorCallback(midiErrorCallback, nullptr);
          if constexpr (std::is_same<Port, RtMidiIn>::value) {
            port->setCallback(&MidiInputDelivery::post, delivery);
            port->ignoreTypes(false, true, true);
          }
          made->port = port.release();
        } catch (const std::exception& e) {
          std::fprintf(stderr, "MIDI: %s\n", e.what());
        } catch (...) {
        }
        if (!made->port && !made->problem) made->problem = noSystemText();
      },
      [made] { endNow<Port>(made->port, made->server); });
  MadePort out;
  if (answered != Reply::kYes) {
    out.problem = answered == Reply::kLate ? kWaitingText : kSilentServerText;
    out.late = answered == Reply::kLate;
    return out;
  }
  out.port = made->port;
  out.problem = made->problem;
  out.server = made->server;
  if (made->api == RtMidi::UNIX_JACK) {
    out.own = made->client + ":" + portName;
    jackSeen = true;
  }
  return out;
}

}  // namespace

MadePort makeOutPort(int instance) {
  return makePort<RtMidiOut>("out", "RtMidi Output Client", "RtMidi Output", instance, nullptr);
}

MadePort makeInPort(int instance, unsigned int queueLimit, MidiInputDelivery* delivery) {
  return makePort<RtMidiIn>("in", "RtMidi Input Client", "RtMidi Input", instance, delivery, queueLimit);
}

void endOutPort(RtMidi* port, long server) {
  if (port) endOnOwner([port, server] { endNow<RtMidiOut>(port, server); }, port);
}

void endInPort(RtMidi* port, long server, MidiInputDelivery* delivery) {
  if (!port && !delivery) return;
  endOnOwner([port, server, delivery] {
    endNow<RtMidiIn>(port, server);
    // Without a server the library's thread is never joined: a callback it was in may still be queueing. A delivery
    // whose thread was left to end on its own may still be running too.
    if (!delivery) return;
    if (serverGone(server) || delivery->abandoned())
      setAside(delivery);
    else
      delete delivery;
  }, port);
}

// Whether a direction's port object may be used: its server still runs. On JACK its helper opens here, at the first
// use after the port list: one of ours held open from the port list on stalls Qtractor's client as it deactivates at
// quit. The server that answers the helper must know the library's client: once its server went away, libjack frees
// that client's memory as the process opens a client (the helper too), and a server started again does not know it.
// The caller holds the lock of the direction's helper.
Reply serverRuns(std::atomic<long>* server, Helper* helper, const std::string& ownPort, const std::string& helperName) {
  if (*server == kNoJackServer) return Reply::kYes;
  if (!*helper) {
    const long of = *server;
    if (serverGone(of)) return Reply::kNo;
    auto made = std::make_shared<HelperClient*>(nullptr);
    const std::string library = ownPort.substr(0, ownPort.rfind(':'));
    const Reply answered = ask(
        [=] {
          if (serverGone(of)) return;
          *made = new HelperClient(helperName);
          if (!(*made)->client() || !(*made)->knows(library)) {
            HelperClient::end(*made);  // closed while its server runs (set aside when none answered its open)
            *made = nullptr;
          }
        },
        [made] {
          if (*made) HelperClient::end(*made);
        });
    if (answered != Reply::kYes) return answered;
    if (serverGone(of)) return Reply::kNo;
    if (!*made) {
      *server = kServerLost;
      return Reply::kNo;
    }
    helper->reset(*made, &HelperClient::release);  // kept only with a client its server knows
  }
  return serverGone(*server) ? Reply::kNo : Reply::kYes;
}

Reply listPorts(RtMidi* port, long server, std::vector<std::string>* names, const std::string& own) {
  names->assign(1, "OFF");
  if (!port || serverGone(server)) return Reply::kYes;
  auto listed = std::make_shared<std::vector<std::string>>();
  const Reply answered = ask([=] {
    if (serverGone(server)) return;
    unsigned int count = 0;
    try {
      count = port->getPortCount();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "MIDI: %s\n", e.what());
      return;
    }
    // A name that cannot be read still takes its place (ports are opened by name, looked up afresh).
    std::string last;
    for (unsigned int i = 0; i < count; ++i) {
      try {
        last = port->getPortName(i);
      } catch (const std::exception& e) {
        std::fprintf(stderr, "MIDI: %s\n", e.what());
      }
      if (own.empty() || last != own) listed->push_back(last);
    }
  });
  if (answered != Reply::kYes) return answered;
  names->insert(names->end(), listed->begin(), listed->end());
  return Reply::kYes;
}

int currentPortNumber(RtMidi* port, long server, const std::string& name) {
  if (!port || serverGone(server)) return -1;
  auto number = std::make_shared<int>(-1);
  const Reply answered = ask([=] {
    if (serverGone(server)) return;
    try {
      const unsigned int n = port->getPortCount();
      for (unsigned int i = 0; i < n && *number < 0; ++i)
        if (port->getPortName(i) == name) *number = static_cast<int>(i);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "MIDI: %s\n", e.what());
    }
  });
  if (answered == Reply::kYes) return *number;
  return answered == Reply::kLate ? kLateNumber : kSilentNumber;
}

Reply openPort(RtMidi* port, long server, unsigned int number, const char* portName, MidiInputDelivery* delivery) {
  if (!port || serverGone(server)) return Reply::kNo;
  auto opened = std::make_shared<bool>(false);
  const std::string name = portName;
  const Reply answered = ask([=] {
    if (serverGone(server)) return;
    try {
      port->openPort(number, name);
      if (!port->isPortOpen()) return;
      if (delivery) {
        // The library refuses a second callback, so the first one goes before it is set again.
        auto* in = static_cast<RtMidiIn*>(port);
        in->cancelCallback();
        in->setCallback(&MidiInputDelivery::post, delivery);
        in->ignoreTypes(false, true, true);
      }
      *opened = true;
    } catch (const std::exception& e) {
      std::fprintf(stderr, "MIDI: %s\n", e.what());
      try {
        port->closePort();
      } catch (...) {
      }
    }
  });
  if (answered != Reply::kYes) return answered;
  return *opened ? Reply::kYes : Reply::kNo;
}

Reply openVirtualPort(RtMidi* port, long server, const std::string& name) {
  if (!port || serverGone(server)) return Reply::kNo;
  return ask([=] {
    if (serverGone(server)) return;
    try {
      port->openVirtualPort(name);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "MIDI: %s\n", e.what());
    }
  });
}

Reply closePort(RtMidi* port, long server) {
  if (!port || serverGone(server)) return Reply::kNo;
  return ask([=] {
    if (serverGone(server)) return;
    try {
      port->closePort();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "MIDI: %s\n", e.what());
    }
  });
}

Reply connected(const Helper& helper, long server, const std::string& otherEnd, const std::string& ours) {
  if (!helper || serverGone(server)) return Reply::kNo;
  auto found = std::make_shared<bool>(false);
  const Reply answered = ask([=] {
    if (!serverGone(server) && !helper->serverGone()) *found = helper->connected(otherEnd, ours);
  });
  if (answered != Reply::kYes) return answered;
  return *found ? Reply::kYes : Reply::kNo;
}

// The probe of a direction's port object goes by its helper's name too.
std::string helperName(const char* direction, int instance) {
  return std::string("vexmir-") + direction + "-" + processAndInstance(instance);
}

}  // namespace jackowner

JackConnectionWatch::JackConnectionWatch(jackowner::Helper helper, long server, std::string otherEnd, std::string ours)
    : helper_(std::move(helper)), server_(server), otherEnd_(std::move(otherEnd)), ours_(std::move(ours)) {}

// A JACK connection carries data only once the server runs it in its process graph, which it switches to at the start
// of a later cycle (under load, many milliseconds after the connection was made). Messages sent before that are lost,
// typically the request the editor sends as soon as a port has been chosen, and so is an answer arriving on an input
// port opened a moment ago. The watch waits until the graph the server runs shows our own port (by its full name:
// another instance may have a port on the same other end) connected to the other end. Long enough for a server on a
// loaded machine; a working connection goes live within a cycle or two.
bool JackConnectionWatch::waitUntilLive() {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(2000);
  do {
    switch (jackowner::connected(helper_, server_, otherEnd_, ours_)) {
      case jackowner::Reply::kYes:
        return true;
      case jackowner::Reply::kSilent:
      case jackowner::Reply::kLate:
        return false;
      case jackowner::Reply::kNo:
        if (jackowner::serverGone(server_)) return false;
        break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  } while (std::chrono::steady_clock::now() < deadline);
  return false;
}
