// The external MIDI input and output ports on RtMidi.
#include <jack/jack.h>
#include <rtmidi/RtMidi.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <shared_mutex>
#include <stdexcept>
#include <string>
#include <thread>

#include "KIT/IEffect/HostCallRelay.h"
#include "KIT/IEffect/IEffectBase.h"
#include "KIT/IEffect/MidiInputDelivery.h"

namespace {

const char* const kInClientName = "RtMidi Input Client";
const char* const kOutClientName = "RtMidi Output Client";
const char* const kInPortName = "RtMidi Input";
const char* const kOutPortName = "RtMidi Output";
constexpr unsigned int kInQueueLimit = 100;

// Errors reported by the library after a port object exists land here instead of being thrown.
void midiErrorCallback(RtMidiError::Type type, const std::string& text, void*) {
  if (type == RtMidiError::DEBUG_WARNING) return;
  std::fprintf(stderr, "MIDI: %s\n", text.c_str());
}

// libjack crashes closing a client whose server went away; such objects are set aside here, never used again and
// never closed (a few hundred bytes per lost server). The list is made only when something is set aside: a module
// unloaded after an ordinary session leaves nothing.
void setAside(void* object) {
  static std::mutex lock;
  static std::vector<void*>* abandoned = nullptr;
  std::lock_guard<std::mutex> guard(lock);
  if (!abandoned) abandoned = new std::vector<void*>();
  abandoned->push_back(object);
}

// The ends of a JACK server this process has seen, by any instance. A client belongs to the server that ran when its
// count was taken: once the count has moved, that server is gone and none of its clients may be touched again.
std::atomic<long> serverEnds{0};
// Set once a port object of this process was made on JACK: a MIDI system that answers no more is then a JACK server
// that stopped, whatever back end the next look finds.
std::atomic<bool> jackSeen{false};

// The relays of the living instances, woken when a server's end is counted: each closes its ports of that server at
// once (see closePortsOfEndedServer), not at its next use of them.
std::mutex listenersLock;
std::vector<HostCallRelay*> listeners;

void wakeListeners() {
  std::lock_guard<std::mutex> lock(listenersLock);
  for (HostCallRelay* relay : listeners) relay->requestDeferredWork();
}

// Every client of a server that went away points into memory that libjack frees as soon as the process opens a new
// client: using one then crashes the host. So a use of our clients holds this shared, and our opens and closes hold
// it alone: none of ours happens between a use's check of its server and its call.
std::shared_timed_mutex jackClients;
using JackUse = std::shared_lock<std::shared_timed_mutex>;
using JackOpen = std::unique_lock<std::shared_timed_mutex>;

// The longest a caller waits for an open of ours: libjack may stay inside one for as long as a stopped server
// does not answer (5 s for one that is shutting down), or for ever where its clean-up of a dead server's clients
// hangs. The caller then goes on as if no server answered, and the open ends on its own thread.
constexpr std::chrono::milliseconds kOpenWait{1500};
// Opens left to end on their own: while one is, our clients are not waited for and no other open is tried.
std::atomic<int> hangingOpens{0};

template <class Lock>
Lock boundedLock() {
  Lock lock(jackClients, std::defer_lock);
  if (hangingOpens.load() > 0)
    lock.try_lock();
  else
    lock.try_lock_for(kOpenWait);
  return lock;
}

// A use of our clients, or an open or close of one (not owned when an open of ours holds them too long).
JackUse useClients() {
  return boundedLock<JackUse>();
}
JackOpen ownClients() {
  return boundedLock<JackOpen>();
}

// Runs `open` holding JackOpen on a thread of its own and waits for it up to kOpenWait. False when it did not end in
// time (or could not be started): the caller must not touch what `open` writes, and `abandon` runs after it there.
bool openBounded(std::function<void()> open, std::function<void()> abandon) {
  if (hangingOpens.load() > 0) return false;
  struct Task {
    std::mutex lock;
    std::condition_variable ended;
    bool done = false, abandoned = false;
  };
  auto task = std::make_shared<Task>();
  std::thread thread;
  try {
    thread = std::thread([task, open = std::move(open), abandon = std::move(abandon)] {
      {
        JackOpen clients(jackClients);
        open();
      }
      std::unique_lock<std::mutex> lock(task->lock);
      task->done = true;
      task->ended.notify_all();
      if (!task->abandoned) return;
      lock.unlock();
      abandon();
      hangingOpens.fetch_sub(1);
    });
  } catch (const std::exception& e) {
    std::fprintf(stderr, "MIDI: %s\n", e.what());
    return false;
  }
  std::unique_lock<std::mutex> lock(task->lock);
  if (task->ended.wait_for(lock, kOpenWait, [&] { return task->done; })) {
    lock.unlock();
    thread.join();
    return true;
  }
  task->abandoned = true;
  hangingOpens.fetch_add(1);
  lock.unlock();
  std::fprintf(stderr, "MIDI: the MIDI system did not answer in time\n");
  thread.detach();
  return false;
}

// When a server's end was last counted (milliseconds of the steady clock), set before the count moves; and the count
// of ends that the host's audio has run with since, -1 while the host's audio has not run in this process.
std::atomic<int64_t> lastEndAt{0};
std::atomic<long> endsSeenByAudio{-1};

int64_t steadyMillis() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// A block that began as the server ended may end after the end was counted; audio that runs this long after it runs
// on a server that runs.
constexpr int64_t kAudioAfterEndMillis = 100;

// As the process opens a client after a server's end, libjack closes and frees every client of the server that ended,
// the host's own among them, while the host's threads may still be inside theirs: a host's process thread that the
// end left waiting in libjack wakes and runs a cycle on its freed client, and the host dies. A host on JACK opens its
// own client again before its audio runs again (and a host not on JACK runs its audio without a server): so once the
// host's audio has run in this process, no client of ours opens after a server's end until that audio has run since.
bool hostLeftNoClientOfAGoneServer() {
  const long seen = endsSeenByAudio.load();
  return seen < 0 || seen == serverEnds.load();
}

// The first to find the server `from` ended counts it, and the instances hear of it.
void countServerEnd(long from) {
  lastEndAt.store(steadyMillis());
  if (serverEnds.compare_exchange_strong(from, from + 1) && jackSeen) wakeListeners();
}

// libjack reports through one function of the process, which the host may have set: Ardour's writes into one stream
// shared by all its threads, without a lock. As a server ends, every client's own thread reports it (three lines each)
// at the same moment; written by several threads at once, that stream corrupts the memory around it and the host
// dies, and most of those threads are our clients'. So libjack's reports go on to the host's function one at a time.
std::mutex jackReportLock;
void (*hostJackError)(const char*) = nullptr;
void (*hostJackInfo)(const char*) = nullptr;

void reportJackError(const char* text) {
  std::lock_guard<std::mutex> one(jackReportLock);
  if (hostJackError) hostJackError(text);
}

void reportJackInfo(const char* text) {
  std::lock_guard<std::mutex> one(jackReportLock);
  if (hostJackInfo) hostJackInfo(text);
}

// Before a client of ours opens (holding JackOpen); again after the host set a function of its own.
void reportOneAtATime() {
  std::lock_guard<std::mutex> one(jackReportLock);
  if (jack_error_callback != &reportJackError) {
    hostJackError = jack_error_callback;
    jack_set_error_function(&reportJackError);
  }
  if (jack_info_callback != &reportJackInfo) {
    hostJackInfo = jack_info_callback;
    jack_set_info_function(&reportJackInfo);
  }
}

// The module unloaded leaves libjack the host's functions.
struct JackReportsGiveBack {
  ~JackReportsGiveBack() {
    std::lock_guard<std::mutex> one(jackReportLock);
    if (jack_error_callback == &reportJackError) jack_set_error_function(hostJackError);
    if (jack_info_callback == &reportJackInfo) jack_set_info_function(hostJackInfo);
  }
} jackReportsGiveBack;

// A client of ours that could not be opened: whatever server our clients had answers no more. One that may not be
// opened yet (see above) is not opened, and counts no end: the end that closed the way is counted.
jack_client_t* openClient(const std::string& name) {
  if (!hostLeftNoClientOfAGoneServer()) return nullptr;
  reportOneAtATime();
  const long server = serverEnds.load();
  jack_client_t* client = jack_client_open(name.c_str(), JackNoStartServer, nullptr);
  if (!client) countServerEnd(server);
  return client;
}

}  // namespace

void IEffectBase::hostAudioRuns() {
  const long ends = serverEnds.load();
  if (ends == endsSeenByAudio.load(std::memory_order_relaxed)) return;
  if (steadyMillis() - lastEndAt.load() >= kAudioAfterEndMillis) endsSeenByAudio.store(ends);
}

// The direction's own client beside the library's: it reads the graph the server runs (for the connection watches and
// a recall's check) and is told when the server shuts down. It opens at the first use of the direction's port object
// after its port list (see serverRuns) and lives as long as the port object, so that opening, closing or listing
// ports again makes no client (the server announces every client's start and end to all its clients, the host's own
// among them). The name carries the process and the instance, as no two clients of one process may ask for one name
// (two opening under one name at once take over each other's notification socket). Made holding JackOpen.
class JackHelperClient {
 public:
  explicit JackHelperClient(const std::string& name) : server_(serverEnds.load()) {
    client_ = openClient(name);
    if (client_) jack_on_shutdown(client_, &JackHelperClient::onShutdown, this);
  }
  JackHelperClient(const JackHelperClient&) = delete;
  JackHelperClient& operator=(const JackHelperClient&) = delete;

  jack_client_t* client() const { return client_; }
  bool serverGone() const { return serverEnds.load() != server_; }
  static void release(JackHelperClient* helper) {
    JackOpen open = ownClients();
    if (!open) return setAside(helper);
    end(helper);
  }
  // Holding JackOpen.
  static void end(JackHelperClient* helper) {
    if (!helper->client_ || helper->serverGone()) return setAside(helper);
    jack_client_close(helper->client_);
    delete helper;
  }
  // Whether the server knows a client of this name. Holding JackOpen.
  bool knows(const std::string& name) const {
    char* uuid = jack_get_uuid_for_client_name(client_, name.c_str());
    if (uuid) jack_free(uuid);
    return uuid != nullptr;
  }

  // Both hold JackUse.
  std::set<std::string> connections(jack_port_t* port) const {
    std::set<std::string> out;
    if (const char** names = jack_port_get_all_connections(client_, port)) {
      for (const char** n = names; *n; ++n) out.insert(*n);
      jack_free(names);
    }
    return out;
  }
  // Whether the server runs a connection between the port named `otherEnd` and ours (its full name).
  bool connected(const std::string& otherEnd, const std::string& ours) const {
    jack_port_t* other = jack_port_by_name(client_, otherEnd.c_str());
    return other && !ours.empty() && connections(other).count(ours) > 0;
  }

 private:
  ~JackHelperClient() = default;
  // The first of this server's clients to hear of its end counts it; the others find it counted. A helper set aside
  // writes nothing of any plug-in.
  static void onShutdown(void* self) { countServerEnd(static_cast<JackHelperClient*>(self)->server_); }
  jack_client_t* client_ = nullptr;
  const long server_;
};

// A JACK connection carries data only once the server runs it in its process graph, which it switches to at
// the start of a later cycle (under load, many milliseconds after the connection was made). Messages sent
// before that are lost, typically the request the editor sends as soon as a port has been chosen, and so is an
// answer arriving on an input port opened a moment ago. A watch waits until the graph the server runs shows our own
// port (by its full name: another instance may have a port on the same other end) connected to the other end; the
// connection lists a client reads are those of the running graph.
class JackConnectionWatch {
 public:
  JackConnectionWatch(std::shared_ptr<JackHelperClient> helper, std::string otherEnd, std::string ours)
      : helper_(std::move(helper)), otherEnd_(std::move(otherEnd)), ours_(std::move(ours)) {}
  JackConnectionWatch(const JackConnectionWatch&) = delete;
  JackConnectionWatch& operator=(const JackConnectionWatch&) = delete;

  // False when the connection did not become live in time, or its server went away; the port stays open.
  bool waitUntilLive(std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    do {
      {
        JackUse use = useClients();
        if (!use || helper_->serverGone()) return false;
        if (helper_->connected(otherEnd_, ours_)) return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
  }

 private:
  std::shared_ptr<JackHelperClient> helper_;  // kept open by the watch should the ports close meanwhile
  std::string otherEnd_;
  std::string ours_;
};

namespace {

// Long enough for a server on a loaded machine; a working connection goes live within a cycle or two.
constexpr std::chrono::milliseconds kConnectionLiveTimeout{2000};
// The server of a direction without a JACK port object (none made, or made on ALSA): it cannot go away.
constexpr long kNoJackServer = -1;
// The server of a port object whose client the server running now does not know: it went away.
constexpr long kServerLost = -2;

bool serverGone(long server) {
  return server != kNoJackServer && server != serverEnds.load();
}

// A client's name on JACK carries the process and the instance (see JackHelperClient).
std::string processAndInstance(int instance) {
  return std::to_string(static_cast<long>(::getpid())) + "-" + std::to_string(instance);
}

// The name of a direction's helper ("out" or "in"), which its probe goes by too.
std::string helperName(const char* direction, int instance) {
  return std::string("vexmir-") + direction + "-" + processAndInstance(instance);
}

// $VEXMIR_MIDI_API picks the back end ("jack" or "alsa"); without it JACK is used when a server
// runs, ALSA otherwise. Whether one runs is asked once, as the direction's port object is made, by a client under
// the direction's helper name that is closed at once. JACK chosen without a server gives no back end at all: the
// library's JACK ports would otherwise keep retrying (and leaking) a connection on every call. Holds JackOpen.
RtMidi::Api chooseMidiApi(const std::string& probeName) {
  const char* env = std::getenv("VEXMIR_MIDI_API");
  if (env && std::strcmp(env, "alsa") == 0) return RtMidi::LINUX_ALSA;
  jack_client_t* probe = openClient(probeName);
  const bool jack = probe != nullptr;
  if (probe) jack_client_close(probe);
  if (env && std::strcmp(env, "jack") == 0) {
    if (!jack) throw std::runtime_error("no JACK server answers");
    return RtMidi::UNIX_JACK;
  }
  return jack ? RtMidi::UNIX_JACK : RtMidi::LINUX_ALSA;
}

std::string libraryClientName(const char* name, RtMidi::Api api, int instance) {
  return api == RtMidi::UNIX_JACK ? name + (" " + processAndInstance(instance)) : std::string(name);
}

// A direction's port object. `own` gets the full name the object's port will have on JACK, `server` the server the
// object belongs to.
template <class Port>
void endPortObject(Port* port, long server);

template <class Port, class... Extra>
Port* makePortObject(const char* direction, const char* clientName, const char* portName, int instance,
                     std::string* own, long* server, Extra... extra) {
  struct Made {
    Port* port = nullptr;
    RtMidi::Api api = RtMidi::UNSPECIFIED;
    long server = kNoJackServer;
    std::string client, error;
  };
  auto made = std::make_shared<Made>();
  const std::string probe = helperName(direction, instance);
  const bool answered = openBounded(
      [=] {
        try {
          made->api = chooseMidiApi(probe);
          made->server = made->api == RtMidi::UNIX_JACK ? serverEnds.load() : kNoJackServer;
          made->client = libraryClientName(clientName, made->api, instance);
          auto port = std::make_unique<Port>(made->api, made->client, extra...);
          port->setErrorCallback(midiErrorCallback, nullptr);
          made->port = port.release();
        } catch (const std::exception& e) {
          made->error = e.what();
        } catch (...) {
        }
        if (!made->port && made->error.empty()) made->error = "the MIDI system gave no port object";
      },
      [made] { endPortObject(made->port, made->server); });
  if (!answered) throw std::runtime_error("the MIDI system did not answer in time");
  if (!made->error.empty()) throw std::runtime_error(made->error);
  *own = made->api == RtMidi::UNIX_JACK ? made->client + ":" + portName : std::string();
  *server = made->server;
  if (made->api == RtMidi::UNIX_JACK) jackSeen = true;
  return made->port;
}

// Whether a direction's port object may be used: its server still runs. On JACK its helper opens here, at the first
// use after the port list: one of ours held open from the port list on stalls Qtractor's client as it deactivates at
// quit. The server that answers the helper must know the library's client: once its server went away, libjack frees
// that client's memory as the process opens a client (the helper too), and a server started again does not know it.
// The caller holds the lock of the direction's helper.
bool serverRuns(std::atomic<long>* server, std::shared_ptr<JackHelperClient>* helper, const std::string& ownPort,
                const std::string& helperName) {
  if (*server == kNoJackServer) return true;
  if (!*helper) {
    const long of = *server;
    if (serverGone(of)) return false;
    auto made = std::make_shared<JackHelperClient*>(nullptr);
    const std::string library = ownPort.substr(0, ownPort.rfind(':'));
    const bool answered = openBounded(
        [=] {
          if (serverGone(of)) return;
          *made = new JackHelperClient(helperName);
          if (!(*made)->client() || !(*made)->knows(library)) {
            JackHelperClient::end(*made);  // closed while its server runs (set aside when none answered its open)
            *made = nullptr;
          }
        },
        [made] {
          if (*made) JackHelperClient::release(*made);
        });
    if (answered && serverGone(of)) return false;
    // A server that does not answer in time is taken for gone: none of its clients is touched again.
    if (!answered || !*made) {
      *server = kServerLost;
      return false;
    }
    helper->reset(*made, &JackHelperClient::release);  // kept only with a client its server knows
  }
  return !serverGone(*server);
}

// Deleting a port object ends the library's client; one of a server that went away is set aside instead.
template <class Port>
void endPortObject(Port* port, long server) {
  if (!port) return;
  JackOpen open = ownClients();
  if (!open || serverGone(server))
    setAside(port);
  else
    delete port;
}

// Closes the object's port; nothing of a server that went away is touched.
template <class Port>
void closePortOf(Port* port, long server) {
  if (!port) return;
  JackUse use = useClients();
  if (!use || serverGone(server)) return;
  try {
    port->closePort();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "MIDI: %s\n", e.what());
  }
}

// What the musician reads when no MIDI system could be reached, by the back end that was tried: where a JACK server
// ran before, the one the musician must start again.
const char* noMidiSystemText() {
  const char* env = std::getenv("VEXMIR_MIDI_API");
  if ((env && std::strcmp(env, "jack") == 0) || (!env && jackSeen)) return "No MIDI system: no JACK server runs";
  if (env && std::strcmp(env, "alsa") == 0) return "No MIDI system: no ALSA sequencer";
  return "No MIDI system: no JACK, no ALSA sequencer";
}

// `own`, the name of this instance's port of the other direction, is left out. A server that went away lists nothing.
template <class Port>
void listPorts(Port* port, long server, std::vector<std::string>& names, const std::string& own) {
  names.push_back("OFF");
  if (!port) return;
  JackUse use = useClients();
  if (!use || serverGone(server)) return;
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
    if (own.empty() || last != own) names.push_back(last);
  }
}

// The library's current number of the port with this name, -1 when it has none. Ports may have
// come and gone since the list was built, so the list position alone could name another port.
template <class Port>
int currentPortNumber(Port* port, long server, const std::string& name) {
  if (!port) return -1;
  JackUse use = useClients();
  if (!use || serverGone(server)) return -1;
  try {
    unsigned int n = port->getPortCount();
    for (unsigned int i = 0; i < n; ++i)
      if (port->getPortName(i) == name) return static_cast<int>(i);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "MIDI: %s\n", e.what());
  }
  return -1;
}

int findName(const std::vector<std::string>& names, const char* name) {
  if (!name) return -1;
  for (size_t i = 0; i < names.size(); ++i)
    if (names[i] == name) return static_cast<int>(i);
  return -1;
}

// The position in `fresh` of the port that `selected` names in `kept`: 0 when none was chosen or it is gone.
int selectionIn(const std::vector<std::string>& kept, int selected, const std::vector<std::string>& fresh) {
  if (selected <= 0 || static_cast<size_t>(selected) >= kept.size()) return 0;
  return std::max(findName(fresh, kept[static_cast<size_t>(selected)].c_str()), 0);
}

}  // namespace

// One operation on the output port for the object's life: sends are held back meanwhile and go out at its end.
class IEffectBase::OutPortOperation {
 public:
  explicit OutPortOperation(IEffectBase* plug) : plug_(plug), operation_(plug->mMidiOutOpLock) {
    std::lock_guard<std::mutex> lock(plug_->mMidiOutLock);
    plug_->mMidiOutOpInProgress = true;
  }
  // What was held goes out in order. An operation that waited for a connection may have held many messages, and the
  // library's send waits for room in its buffer: they go out without the send lock, while what is sent meanwhile is
  // still held and follows them (this operation alone sends until it ends).
  ~OutPortOperation() {
    for (;;) {
      std::vector<std::vector<unsigned char>> held;
      {
        std::lock_guard<std::mutex> lock(plug_->mMidiOutLock);
        if (plug_->mMidiOutHeld.empty()) {
          plug_->mMidiOutOpInProgress = false;
          plug_->mMidiOutOpen = plug_->mMidiOut && plug_->mMidiOut->isPortOpen() && !serverGone(plug_->mOutServer);
          return;
        }
        held.swap(plug_->mMidiOutHeld);
      }
      for (const std::vector<unsigned char>& m : held) plug_->sendNowLocked(m.data(), m.size());
    }
  }
  OutPortOperation(const OutPortOperation&) = delete;
  OutPortOperation& operator=(const OutPortOperation&) = delete;
  // Sets the port object and its names as senders see them (the operation may read them without the lock).
  void publish(RtMidiOut* port, std::vector<std::string>* names) {
    std::lock_guard<std::mutex> lock(plug_->mMidiOutLock);
    plug_->mMidiOut = port;
    if (!names) return;
    plug_->mMidiOutNames = std::move(*names);
    plug_->publishListed(1, plug_->mMidiOutNames);
  }

 private:
  IEffectBase* plug_;
  std::lock_guard<std::mutex> operation_;
};

// A list read while no MIDI system answered holds "OFF" alone and is read again on the next request.
std::vector<std::string> IEffectBase::getExternalMIDIOutNames() {
  {
    std::lock_guard<std::mutex> lock(mMidiOutLock);
    if (!mMidiOutNames.empty() && mMidiOut) return mMidiOutNames;
  }
  OutPortOperation op(this);
  mSelectedMIDIOut = 0;
  RtMidiOut* port = mMidiOut;
  if (port) {
    outServerRuns();
  } else {
    try {
      std::string own;
      long server = kNoJackServer;
      port = makePortObject<RtMidiOut>("out", kOutClientName, kOutPortName, mMidiInstance, &own, &server);
      mOutServer = server;
      setOwnPortName(1, own);
      mMidiSystemProblem = nullptr;
    } catch (const std::exception& e) {
      std::fprintf(stderr, "MIDI: %s\n", e.what());
      port = nullptr;
      mOutHelper.reset();
      mMidiSystemProblem = noMidiSystemText();
    }
  }
  std::vector<std::string> names;
  listPorts(port, mOutServer, names, ownPortName(0));
  std::vector<std::string> copy = names;
  op.publish(port, &names);
  return copy;
}

std::vector<std::string> IEffectBase::getExternalMIDIInNames() {
  std::lock_guard<std::mutex> lock(mMidiInLock);
  if (!mMidiInNames.empty() && mMidiIn) return mMidiInNames;
  mSelectedMIDIIn = 0;
  mMidiInNames.clear();
  if (mMidiIn) {
    inServerRuns();
  } else {
    try {
      if (!mMidiInDelivery) mMidiInDelivery = new MidiInputDelivery(this);
      std::string own;
      long server = kNoJackServer;
      mMidiIn = makePortObject<RtMidiIn>("in", kInClientName, kInPortName, mMidiInstance, &own, &server, kInQueueLimit);
      mInServer = server;
      setOwnPortName(0, own);
      mMidiIn->setCallback(&MidiInputDelivery::post, mMidiInDelivery);
      mMidiIn->ignoreTypes(false, true, true);
      mMidiSystemProblem = nullptr;
    } catch (const std::exception& e) {
      std::fprintf(stderr, "MIDI: %s\n", e.what());
      mMidiSystemProblem = noMidiSystemText();
      delete mMidiIn;
      mMidiIn = nullptr;
      delete mMidiInDelivery;
      mMidiInDelivery = nullptr;
      mInHelper.reset();
    }
  }
  listPorts(mMidiIn, mInServer, mMidiInNames, ownPortName(1));
  publishListed(0, mMidiInNames);
  return mMidiInNames;
}

// The port stays open under its new position; when its port is gone, it is closed (it could carry nothing more).
// Nothing of a server that went away is touched: both ports go and the list is read from whatever server answers.
std::vector<std::string> IEffectBase::rereadExternalMIDIOutNames() {
  forgetGoneMIDIServer();
  {
    OutPortOperation op(this);
    if (mMidiOut && !mMidiOutNames.empty()) {
      std::vector<std::string> names;
      outServerRuns();
      listPorts(mMidiOut, mOutServer, names, ownPortName(0));
      const int selected = selectionIn(mMidiOutNames, mSelectedMIDIOut, names);
      if (selected == 0 && mSelectedMIDIOut > 0) closePortOf(mMidiOut, mOutServer);
      mSelectedMIDIOut = selected;
      std::vector<std::string> copy = names;
      op.publish(mMidiOut, &names);
      return copy;
    }
  }
  return getExternalMIDIOutNames();
}

std::vector<std::string> IEffectBase::rereadExternalMIDIInNames() {
  forgetGoneMIDIServer();
  {
    std::lock_guard<std::mutex> lock(mMidiInLock);
    if (mMidiIn && !mMidiInNames.empty()) {
      std::vector<std::string> names;
      inServerRuns();
      listPorts(mMidiIn, mInServer, names, ownPortName(1));
      const int selected = selectionIn(mMidiInNames, mSelectedMIDIIn, names);
      if (selected == 0 && mSelectedMIDIIn > 0) {
        mMidiInShut.store(true, std::memory_order_release);
        closePortOf(mMidiIn, mInServer);
      }
      mSelectedMIDIIn = selected;
      mMidiInNames = names;
      publishListed(0, names);
      return names;
    }
  }
  return getExternalMIDIInNames();
}

bool IEffectBase::forgetGoneMIDIServer() {
  if (!midiServerGone()) return false;
  dropExternalMIDIPorts();
  return true;
}

bool IEffectBase::midiServerEnded() const {
  return serverGone(mOutServer) || serverGone(mInServer);
}

void IEffectBase::hearMidiServerEnds(bool on) {
  std::lock_guard<std::mutex> lock(listenersLock);
  HostCallRelay* relay = mRelay.get();
  listeners.erase(std::remove(listeners.begin(), listeners.end(), relay), listeners.end());
  if (on) listeners.push_back(relay);
}

bool IEffectBase::midiServerGone() {
  {
    std::lock_guard<std::mutex> operation(mMidiOutOpLock);
    if (!outServerRuns()) return true;
  }
  std::lock_guard<std::mutex> lock(mMidiInLock);
  return !inServerRuns();
}

bool IEffectBase::outServerRuns() {
  return !mMidiOut || serverRuns(&mOutServer, &mOutHelper, ownPortName(1), helperName("out", mMidiInstance));
}

bool IEffectBase::inServerRuns() {
  return !mMidiIn || serverRuns(&mInServer, &mInHelper, ownPortName(0), helperName("in", mMidiInstance));
}

// Called during an output port operation; the wait for the connection to go live is left to the caller.
bool IEffectBase::openOutputPort(unsigned int portNumber, std::unique_ptr<JackConnectionWatch>* watch) {
  if (!mMidiOut) return false;
  JackUse use = useClients();
  if (!use || serverGone(mOutServer)) return false;
  try {
    if (mOutHelper)
      *watch = std::make_unique<JackConnectionWatch>(mOutHelper, mMidiOut->getPortName(portNumber), ownPortName(1));
    mMidiOut->openPort(portNumber, kOutPortName);
    if (!mMidiOut->isPortOpen()) {
      watch->reset();
      return false;
    }
    return true;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "MIDI: %s\n", e.what());
    watch->reset();
    return false;
  }
}

// Called with mMidiInLock held; like the output's, the wait for the connection is left to the caller.
bool IEffectBase::openInputPort(unsigned int portNumber, std::unique_ptr<JackConnectionWatch>* watch) {
  if (!mMidiIn) return false;
  JackUse use = useClients();
  if (!use || serverGone(mInServer)) return false;
  try {
    if (mInHelper)
      *watch = std::make_unique<JackConnectionWatch>(mInHelper, mMidiIn->getPortName(portNumber), ownPortName(0));
    mMidiIn->openPort(portNumber, kInPortName);
    if (!mMidiIn->isPortOpen()) {
      watch->reset();
      return false;
    }
    // The library refuses a second callback, so the first one goes before it is set again.
    mMidiIn->cancelCallback();
    mMidiIn->setCallback(&MidiInputDelivery::post, mMidiInDelivery);
    mMidiIn->ignoreTypes(false, true, true);
    mMidiInShut.store(false, std::memory_order_release);
    return true;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "MIDI: %s\n", e.what());
    watch->reset();
    try {
      mMidiIn->closePort();
    } catch (...) {
    }
    return false;
  }
}

void IEffectBase::setExternalMIDIOut(int& index, const char* name) {
  std::unique_ptr<JackConnectionWatch> watch;
  OutPortOperation op(this);
  outServerRuns();
  closePortOf(mMidiOut, mOutServer);
  mSelectedMIDIOut = 0;
  if (index == 0 || mMidiOutNames.empty()) {
    index = 0;
    return;
  }
  int p = findName(mMidiOutNames, name);
  int port = p > 0 ? currentPortNumber(mMidiOut, mOutServer, mMidiOutNames[static_cast<size_t>(p)]) : -1;
  if (port < 0 || !openOutputPort(static_cast<unsigned int>(port), &watch)) {
    index = 0;
    return;
  }
  index = p;
  mSelectedMIDIOut = p;
  // The port is open; until its connection is live in the server's graph, messages sent to it are lost. So the
  // operation lasts until then: what any thread sends meanwhile is held and goes out once the connection carries
  // it (no sender waits for it), and the caller gets control back only then.
  if (watch && !watch->waitUntilLive(kConnectionLiveTimeout))
    std::fprintf(stderr, "MIDI: the JACK connection of the output port is not live yet\n");
}

void IEffectBase::setExternalMIDIIn(int& index, const char* name) {
  std::unique_ptr<JackConnectionWatch> watch;
  {
    std::lock_guard<std::mutex> lock(mMidiInLock);
    mMidiInShut.store(true, std::memory_order_release);
    inServerRuns();
    closePortOf(mMidiIn, mInServer);
    mSelectedMIDIIn = 0;
    if (index == 0 || mMidiInNames.empty()) {
      index = 0;
      return;
    }
    int p = findName(mMidiInNames, name);
    int port = p > 0 ? currentPortNumber(mMidiIn, mInServer, mMidiInNames[static_cast<size_t>(p)]) : -1;
    if (port < 0 || !openInputPort(static_cast<unsigned int>(port), &watch)) {
      index = 0;
      return;
    }
    index = p;
    mSelectedMIDIIn = p;
  }
  if (watch && !watch->waitUntilLive(kConnectionLiveTimeout))
    std::fprintf(stderr, "MIDI: the JACK connection of the input port is not live yet\n");
}

namespace {

// The list position of `name` when it is a direction's open port (at position `p`) and our port itself (`ours`) is
// connected to it in the graph the server runs, else 0. Nothing is asked of the server: the port's state is the
// library's, the graph is read where libjack keeps it.
int connectedPosition(const char* name, const RtMidi* port, int p, const std::vector<std::string>& names,
                      const JackHelperClient* helper, long server, const std::string& ours) {
  if (!name || !helper || !port || !port->isPortOpen() || p <= 0 ||
      static_cast<size_t>(p) >= names.size() || names[static_cast<size_t>(p)] != name)
    return 0;
  JackUse use = useClients();
  return use && !serverGone(server) && helper->connected(name, ours) ? p : 0;
}

}  // namespace

int IEffectBase::connectedExternalMIDIOut(const char* name) {
  std::lock_guard<std::mutex> operation(mMidiOutOpLock);
  return connectedPosition(name, mMidiOut, mSelectedMIDIOut, mMidiOutNames, mOutHelper.get(), mOutServer,
                           ownPortName(1));
}

int IEffectBase::connectedExternalMIDIIn(const char* name) {
  std::lock_guard<std::mutex> lock(mMidiInLock);
  return connectedPosition(name, mMidiIn, mSelectedMIDIIn, mMidiInNames, mInHelper.get(), mInServer, ownPortName(0));
}

std::string IEffectBase::ownPortName(int direction) {
  std::lock_guard<std::mutex> lock(mOwnPortLock);
  return mOwnPortNames[direction];
}

void IEffectBase::setOwnPortName(int direction, const std::string& name) {
  std::lock_guard<std::mutex> lock(mOwnPortLock);
  mOwnPortNames[direction] = name;
}

std::vector<std::string> IEffectBase::listedExternalMIDIInNames() {
  std::lock_guard<std::mutex> lock(mListedLock);
  return mListedNames[0];
}

std::vector<std::string> IEffectBase::listedExternalMIDIOutNames() {
  std::lock_guard<std::mutex> lock(mListedLock);
  return mListedNames[1];
}

void IEffectBase::publishListed(int out, const std::vector<std::string>& names) {
  std::lock_guard<std::mutex> lock(mListedLock);
  mListedNames[out != 0] = names;
}

int IEffectBase::getExternalMIDIInDevice(const char* name) {
  std::lock_guard<std::mutex> lock(mMidiInLock);
  return findName(mMidiInNames, name);
}

int IEffectBase::getExternalMIDIOutDevice(const char* name) {
  std::lock_guard<std::mutex> lock(mMidiOutLock);
  return findName(mMidiOutNames, name);
}

int IEffectBase::GetMIDIInPortNumber(const char* name) {
  if (!name) return -1;
  if (std::strcmp(name, "OFF") == 0) return 0;
  if (std::strcmp(name, "virtual input") == 0) return 1;
  std::lock_guard<std::mutex> lock(mMidiInLock);
  inServerRuns();
  const int port = currentPortNumber(mMidiIn, mInServer, name);
  return port < 0 ? -1 : port + 1;
}

int IEffectBase::GetMIDIOutPortNumber(const char* name) {
  if (!name) return -1;
  if (std::strcmp(name, "OFF") == 0) return 0;
  if (std::strcmp(name, "virtual output") == 0) return 1;
  OutPortOperation op(this);
  outServerRuns();
  const int port = currentPortNumber(mMidiOut, mOutServer, name);
  return port < 0 ? -1 : port + 1;
}

void IEffectBase::initializeVirtualOutput(std::string name) {
  std::shared_ptr<JackHelperClient> helper;  // released last, outside the operation's JACK use
  OutPortOperation op(this);
  RtMidiOut* old = mMidiOut;
  op.publish(nullptr, nullptr);
  endPortObject(old, mOutServer);
  mOutServer = kNoJackServer;
  helper.swap(mOutHelper);
  RtMidiOut* port = nullptr;
  try {
    std::string own;
    long server = kNoJackServer;
    port = makePortObject<RtMidiOut>("out", kOutClientName, kOutPortName, mMidiInstance, &own, &server);
    mOutServer = server;
    if (JackUse use = useClients()) port->openVirtualPort("From " + name);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "MIDI: %s\n", e.what());
  }
  op.publish(port, nullptr);
}

// As the last port operation left it: no lock, no wait for the MIDI server.
bool IEffectBase::isExternalMIDIOutOpen() {
  return mMidiOutOpen.load();
}

bool IEffectBase::externalMIDIOutLost() {
  OutPortOperation op(this);
  if (!mMidiOut || !mMidiOut->isPortOpen()) return false;
  if (!outServerRuns() || serverGone(mInServer)) return true;
  if (mSelectedMIDIOut <= 0 || static_cast<size_t>(mSelectedMIDIOut) >= mMidiOutNames.size()) return false;
  return currentPortNumber(mMidiOut, mOutServer, mMidiOutNames[static_cast<size_t>(mSelectedMIDIOut)]) < 0;
}

void IEffectBase::dropExternalMIDIPorts() {
  closeExternalMIDIPorts();
  setMIDIPortsStopped();
  {
    std::lock_guard<std::mutex> operation(mMidiOutOpLock);
    std::lock_guard<std::mutex> lock(mMidiOutLock);
    mMidiOutNames.clear();
    publishListed(1, mMidiOutNames);
    mSelectedMIDIOut = 0;
  }
  std::lock_guard<std::mutex> lock(mMidiInLock);
  mMidiInNames.clear();
  publishListed(0, mMidiInNames);
  mSelectedMIDIIn = 0;
}

bool IEffectBase::isExternalMIDIInOpen() {
  std::lock_guard<std::mutex> lock(mMidiInLock);
  return mMidiIn && mMidiIn->isPortOpen();
}

void IEffectBase::closeExternalMIDIPorts() {
  {
    OutPortOperation op(this);
    closePortOf(mMidiOut, mOutServer);
  }
  // Messages still arriving go on to the delivery thread until the library's client has ended.
  {
    std::lock_guard<std::mutex> lock(mMidiInLock);
    mMidiInShut.store(true, std::memory_order_release);
    closePortOf(mMidiIn, mInServer);
  }
  // A message already being handed over may still be inside the editor; only ending the port's delivery thread
  // waits for it, so the port objects go too.
  setMIDIPortsStopped();
}

void IEffectBase::setMIDIPortsStopped() {
  // The helpers go last, outside every JACK use: each closes its client while its server runs, or is set aside.
  std::shared_ptr<JackHelperClient> helpers[2];
  {
    OutPortOperation op(this);
    outServerRuns();  // a port object not used since its list learns here whether its client may be closed
    RtMidiOut* out = mMidiOut;
    op.publish(nullptr, nullptr);
    endPortObject(out, mOutServer);
    mOutServer = kNoJackServer;
    helpers[0].swap(mOutHelper);
  }
  // The input's objects are taken out under their lock and ended outside it: ending the delivery waits for the
  // message being handed to the editor, which may wait for a lock held by a thread that waits for mMidiInLock.
  RtMidiIn* in = nullptr;
  MidiInputDelivery* delivery = nullptr;
  long server = kNoJackServer;
  {
    std::lock_guard<std::mutex> lock(mMidiInLock);
    mMidiInShut.store(true, std::memory_order_release);
    inServerRuns();
    in = mMidiIn;
    mMidiIn = nullptr;
    delivery = mMidiInDelivery;
    mMidiInDelivery = nullptr;
    helpers[1].swap(mInHelper);
    server = mInServer.exchange(kNoJackServer);
  }
  if (serverGone(server)) {
    // Without a server no cycle calls the callback any more; it is cut off all the same before its delivery
    // thread goes. The library's thread is never joined, so a callback it was in when the server went may still
    // be queueing: the delivery's thread is stopped, but the object it queues into stays. A caller holding the
    // plug-in mutex (a preset recalled) does not wait for the message being handed over, which waits for that mutex:
    // the plug-in outlives the call, and the message ends once the mutex is free.
    try {
      if (in) in->cancelCallback();
    } catch (...) {
    }
    setAside(in);
    if (delivery && mMutex.IsHeldByCaller())
      delivery->abandon();
    else if (delivery)
      delivery->stop();
    setAside(delivery);
  } else {
    endPortObject(in, server);  // ends the library's client: no callback runs or comes after this
    delete delivery;  // waits for the message being handed to the editor
  }
}

bool IEffectBase::sendToExternalMIDIOut(const unsigned char* bytes, size_t length) {
  if (!bytes || length == 0) return false;
  std::lock_guard<std::mutex> lock(mMidiOutLock);
  if (mMidiOutOpInProgress) {
    // Goes out when the operation ends; a bound keeps a stuck server from growing the list for ever.
    if (mMidiOutHeld.size() >= 4096) return false;
    mMidiOutHeld.emplace_back(bytes, bytes + length);
    return true;
  }
  return sendNowLocked(bytes, length);
}

bool IEffectBase::sendNowLocked(const unsigned char* bytes, size_t length) {
  if (!mMidiOut || !mMidiOut->isPortOpen() || serverGone(mOutServer)) return false;
  try {
    mMidiOut->sendMessage(bytes, length);
    return true;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "MIDI: %s\n", e.what());
    return false;
  }
}

IEffectBase::ESendResult IEffectBase::trySendToExternalMIDIOut(const unsigned char* bytes, size_t length) {
  if (!bytes || length == 0) return kSendFailed;
  std::unique_lock<std::mutex> lock(mMidiOutLock, std::try_to_lock);
  if (!lock.owns_lock() || mMidiOutOpInProgress) return kSendBusy;
  return sendNowLocked(bytes, length) ? kSendDone : kSendFailed;
}

void IEffectBase::MIDICallback(double timestamp, std::vector<unsigned char>* message, void* userData) {
  processMIDIInput(timestamp, message, userData);
}

void IEffectBase::processMIDIInput(double, std::vector<unsigned char>* message, void* userData) {
  IEffectBase* plug = static_cast<IEffectBase*>(userData);
  if (!plug || !message || message->empty()) return;
  // Nothing reaches the editor while its input port is being closed, and everything the editor set up before it
  // hooked the port up is visible here.
  if (plug->mMidiInShut.load(std::memory_order_acquire)) return;
  // The library's thread must never see an exception from the editor.
  try {
    size_t n = message->size();
    if (n <= 3) {
      IMidiMsg msg(0, (*message)[0], n > 1 ? (*message)[1] : 0, n > 2 ? (*message)[2] : 0);
      plug->ProcessMidiMsg(&msg, true);
    } else {
      std::vector<unsigned char> copy(*message);
      ISysEx sysex(0, copy.data(), static_cast<int>(copy.size()));
      plug->ProcessSysEx(&sysex, true);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "MIDI input: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "MIDI input: unknown error\n");
  }
}
