// The busy host shared by its test (tests/faults/busy_host_test.cpp) and its benchmark
// (bench/realtime/busy_host_bench.cpp): instances of the real bundle loaded through its exported entry, each with its
// own synthesizer emulator, and the host's threads that work on them at once (the audio thread with host MIDI, an
// automation thread, the GUI thread's drags, editor openings and recalls, the synthesizers' knobs). Every host call
// is marked for the host-call probe (tests/support/HostCallProbe.h), and every call of an instance's host MIDI and
// block is timed.
#pragma once

#include <dlfcn.h>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/cocoa/application.h"
#include "platform/cocoa/menu.h"
#include "platform/cocoa/object.h"
#include "platform/cocoa/runloop.h"
#include "platform/cocoa/view.h"
#include "platform/vst2/vst2.h"
#include "src/StateChunk.h"
#include "src/VexmirParams.h"
#include "tests/faults/faults_support.h"
#include "tests/support/HostCallProbe.h"
#include "tests/support/ProcessStats.h"

namespace busyhost {

using namespace faults;
namespace probe = vexmir::testsupport::probe;
using Clock = std::chrono::steady_clock;

// Resident memory of this process in bytes.
inline long residentBytes() {
  std::ifstream in("/proc/self/statm");
  long size = 0, resident = 0;
  in >> size >> resident;
  return resident * sysconf(_SC_PAGESIZE);
}

using vexmir::testsupport::threadCount;

// The transport every instance sees: playing at 120 BPM. Written before the instances exist, only read after.
inline VstTimeInfo g_time = [] {
  VstTimeInfo t{};
  t.sampleRate = 48000;
  t.tempo = 120;
  t.timeSigNumerator = 4;
  t.timeSigDenominator = 4;
  t.flags = kVstTransportPlaying | kVstTempoValid | kVstTimeSigValid;
  return t;
}();

inline intptr_t busyHostCallback(AEffect*, int32_t opcode, int32_t, intptr_t, void* ptr, float) {
  switch (opcode) {
    case audioMasterVersion:
      return 2400;
    case audioMasterGetTime:
      return reinterpret_cast<intptr_t>(&g_time);
    case audioMasterGetProductString:
      if (ptr) std::strcpy(static_cast<char*>(ptr), "vexmir-busy-host");
      return 1;
    default:
      return 0;
  }
}

constexpr int kBlock = 512;

// One plug-in instance as the host holds it, with its synthesizer and, while open, its editor window.
class Instance {
 public:
  Instance(VstPluginMainProc entry, int number) : number(number) {
    synth = std::make_unique<OwnEmulator>("busy" + std::to_string(number));
    effect = entry(&busyHostCallback);
    if (!effect) return;
    dispatch(effOpen);
    dispatch(effSetSampleRate, 0, 0, nullptr, 48000.0f);
    dispatch(effSetBlockSize, 0, kBlock);
    dispatch(effMainsChanged, 0, 1);
  }
  ~Instance() { close(); }

  intptr_t dispatch(int32_t opcode, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr, float opt = 0) {
    return effect->dispatcher(effect, opcode, index, value, ptr, opt);
  }
  void close() {
    if (!effect) return;
    closeEditor();
    dispatch(effMainsChanged, 0, 0);
    dispatch(effClose);
    effect = nullptr;
  }

  std::vector<uint8_t> saveState() {
    void* data = nullptr;
    const intptr_t n = dispatch(effGetChunk, 1, 0, &data);
    if (n <= 0 || !data) return {};
    return std::vector<uint8_t>(static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + n);
  }
  bool recall(std::vector<uint8_t> state) {
    return dispatch(effSetChunk, 1, static_cast<intptr_t>(state.size()), state.data()) == 1;
  }

  // The project state with this instance's own synthesizer ports, the MIDI clock and its start and stop on, and
  // the given program name.
  std::vector<uint8_t> projectState(const std::string& programName) {
    const std::vector<uint8_t> saved = saveState();
    ByteChunk in;
    in.PutBytes(saved.data(), static_cast<int>(saved.size()));
    PluginState state;
    constexpr int kHeader = 8;  // the binding's magic and version
    if (saved.size() < kHeader || readStateBody(in, kHeader, true, &state) < 0) return {};
    state.patch.names[0] = (programName + std::string(12, ' ')).substr(0, 12);
    state.patch.names[3] = synth->outPort();
    state.patch.names[4] = synth->inPort();
    state.values[kSendMIDIClockInfo] = 1;
    state.values[kSendMIDIClockPointer] = 1;
    ByteChunk out;
    out.PutBytes(saved.data(), kHeader);
    writeStateBody(&out, state, true);
    return std::vector<uint8_t>(out.GetBytes(), out.GetBytes() + out.Size());
  }

  void process() {
    static float silence[kBlock];
    float out0[kBlock], out1[kBlock];
    float* inputs[2] = {silence, silence};
    float* outputs[2] = {out0, out1};
    probe::HostCall call("the process call");
    effect->processReplacing(effect, inputs, outputs, kBlock);
  }
  // A control change from the host's track, as a host sends it before a block.
  void hostControlChange(uint8_t cc, uint8_t value) {
    VstMidiEvent ev{};
    ev.type = kVstMidiType;
    ev.byteSize = sizeof ev;
    ev.midiData[0] = static_cast<char>(0xB0);
    ev.midiData[1] = static_cast<char>(cc);
    ev.midiData[2] = static_cast<char>(value);
    VstEvents events{};
    events.numEvents = 1;
    events.events[0] = reinterpret_cast<VstEvent*>(&ev);
    probe::HostCall call("effProcessEvents");
    dispatch(effProcessEvents, 0, 0, &events);
  }

  // GUI thread: the editor in a window of the platform model, as a host that offers a view opens it.
  bool openEditor() {
    ERect* rect = nullptr;
    if (!dispatch(effEditGetRect, 0, 0, &rect) || !rect) return false;
    width = rect->right - rect->left;
    height = rect->bottom - rect->top;
    char question[] = "hasHostViewAsConfig";
    dispatch(effCanDo, 0, 0, question);
    window = new cocoa::Window(cocoa::Rect{100, 100, static_cast<double>(width), static_cast<double>(height)});
    window->makeKeyAndOrderFront();
    return dispatch(effEditOpen, 0, 0, window->contentView()) == 1;
  }
  void closeEditor() {
    if (!window) return;
    dispatch(effEditClose);
    window->close();
    window->release();
    window = nullptr;
  }
  // A Linux host's editor gets its events inside effEditIdle.
  void mouse(cocoa::EventType type, double x, double y, int clicks = 0) {
    probe::HostCall call("effEditIdle");
    cocoa::Event* e = cocoa::Event::mouseEvent(type, cocoa::Point{x, height - y}, 0, window);
    e->clickCount = clicks;
    window->sendEvent(e);
    e->release();
  }
  void click(double x, double y) {
    mouse(cocoa::kLeftMouseDown, x, y, 1);
    mouse(cocoa::kLeftMouseUp, x, y);
  }
  // The filter cutoff knob dragged by `dy` pixels.
  void dragCutoff(int dy) {
    mouse(cocoa::kLeftMouseDown, 44, 380, 1);
    for (int k = 1; k <= 4; ++k) mouse(cocoa::kLeftMouseDragged, 44, 380 + dy * k / 4.0);
    mouse(cocoa::kLeftMouseUp, 44, 380 + dy);
  }

  int number;
  AEffect* effect = nullptr;
  std::unique_ptr<OwnEmulator> synth;
  cocoa::Window* window = nullptr;
  int width = 0, height = 0;
};

// GUI thread: the run loop for `ticks` periods of the editor's 40 ms timer, with the host's idle call.
inline void pump(const std::vector<Instance*>& instances, int ticks) {
  cocoa::AutoreleasePool pool;
  for (int i = 0; i < ticks; ++i) {
    for (Instance* in : instances)
      if (in->window) {
        probe::HostCall call("effEditIdle");
        in->dispatch(effEditIdle);
      }
    cocoa::RunLoop::current()->runUntilDate(cocoa::clockNow() + 0.04);
  }
}

// The host's audio thread: for each instance still active, host MIDI now and then and one block, one round per
// block period.
class AudioThread {
 public:
  explicit AudioThread(std::vector<Instance*> list) : instances(std::move(list)) {
    callMicros.reserve(1 << 20);
    thread = std::thread([this] { run(); });
  }
  ~AudioThread() { stop(); }
  void stop() {
    done = true;
    if (thread.joinable()) thread.join();
  }
  // The host stops calling an instance before it closes it: once this returns no block of it is running.
  void remove(Instance* in) {
    std::lock_guard<std::mutex> lock(roundLock);
    removed.push_back(in);
  }
  void add(Instance* in) {
    std::lock_guard<std::mutex> lock(roundLock);
    instances.push_back(in);
  }
  std::atomic<bool> hostMidi{true};
  std::atomic<long> blocks{0};
  double longestRound() const { return static_cast<double>(longestRoundMicros.load()) / 1e6; }
  // After stop: the longest call of an instance (its host MIDI and its block) and the 99.9th percentile, in ms.
  std::pair<double, double> callFigures() {
    std::vector<float> sorted = callMicros;
    if (sorted.empty()) return {0, 0};
    std::sort(sorted.begin(), sorted.end());
    const size_t at = std::min(sorted.size() - 1, sorted.size() * 999 / 1000);
    return {sorted.back() / 1000.0, sorted[at] / 1000.0};
  }
  size_t callCount() const { return callMicros.size(); }

 private:
  void run() {
    // A host runs its audio thread at real-time priority. The benchmark does too (VEXMIR_AUDIO_REALTIME=1), so that
    // its figures are those of the plug-in's calls and not of the machine's other work taking the thread's core.
    if (const char* rt = std::getenv("VEXMIR_AUDIO_REALTIME"); rt && std::string(rt) == "1") {
      sched_param priority{};
      priority.sched_priority = 70;
      if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &priority) != 0)
        std::fprintf(stderr, "the audio thread could not get real-time priority\n");
    }
    std::mt19937 rng(7);
    while (!done) {
      {
        std::lock_guard<std::mutex> lock(roundLock);
        const auto start = Clock::now();
        for (Instance* in : instances) {
          if (std::find(removed.begin(), removed.end(), in) != removed.end()) continue;
          const auto callStart = Clock::now();
          if (hostMidi && rng() % 8 == 0) in->hostControlChange(74, static_cast<uint8_t>(rng() % 128));
          in->process();
          if (callMicros.size() < callMicros.capacity())
            callMicros.push_back(static_cast<float>(secondsSince(callStart) * 1e6));
          ++blocks;
        }
        const long us = static_cast<long>(secondsSince(start) * 1e6);
        if (us > longestRoundMicros) longestRoundMicros = us;
      }
      std::this_thread::sleep_for(std::chrono::microseconds(kBlock * 1000000 / 48000));
    }
  }
  std::vector<Instance*> instances, removed;
  std::vector<float> callMicros;
  std::mutex roundLock;
  std::atomic<long> longestRoundMicros{0};
  std::atomic<bool> done{false};
  std::thread thread;
};

// Knobs turned on the synthesizers, round the emulators, while `running` holds.
class KnobTurner {
 public:
  explicit KnobTurner(std::vector<Instance*> list) : instances(std::move(list)) {
    thread = std::thread([this] {
      for (int k = 0; !done; ++k) {
        for (Instance* in : instances) in->synth->client->command("turn cc 71 " + std::to_string(k % 128));
        ++turns;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    });
  }
  ~KnobTurner() { stop(); }
  void stop() {
    done = true;
    if (thread.joinable()) thread.join();
  }
  std::atomic<long> turns{0};

 private:
  std::vector<Instance*> instances;
  std::atomic<bool> done{false};
  std::thread thread;
};


// What one busy phase did and how long the calls took.
struct BusyFigures {
  double seconds = 0;
  long blocks = 0, automation = 0, turns = 0, drags = 0, recalls = 0, openings = 0;
  double longestRound = 0, longestRecall = 0;
  size_t calls = 0;
  double longestCall = 0, p999Call = 0;  // milliseconds
  bool editorsOpened = true, bankStoreStarted = true;
};

// The bank store of the librarian tab, started as a musician starts it: the tab, then "Store" and its bank item.
// Once the recalled program is at the synthesizer the transfer is over and the editor takes input again. True once
// the first program's store reaches the synthesizer.
inline bool startBankStore(Instance& in) {
  if (!in.synth->client->waitForLog("in F0 42 30 58 40", 0, std::chrono::seconds(30)).has_value()) return false;
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  if (!in.window && !in.openEditor()) return false;
  pump({&in}, 3);
  in.click(179, 18);
  pump({&in}, 3);
  cocoa::menus::scriptChoice({2, 2});
  in.click(900, 47);
  pump({&in}, 3);
  return in.synth->client->waitForLog("in F0 42 30 58 11 00", 0, std::chrono::seconds(30)).has_value();
}

// The busy phase for `seconds`: the audio thread plays every instance with host MIDI, the automation thread sets and
// reads parameters and saves states, the synthesizers' knobs turn, and the GUI thread drags a knob in every editor,
// recalls the instances' projects in turn and closes and reopens one editor per round. `storing` (optional) runs a
// bank store meanwhile and gets its blocks too.
inline BusyFigures runBusyPhase(const std::vector<Instance*>& instances,
                                const std::vector<std::vector<uint8_t>>& projects, double seconds,
                                Instance* storing = nullptr) {
  BusyFigures f;
  const auto start = Clock::now();
  std::vector<Instance*> played = instances;
  if (storing) played.push_back(storing);
  AudioThread audio(played);
  KnobTurner knobs(instances);
  std::atomic<bool> done{false};
  std::atomic<long> automation{0};
  std::thread automationThread([&] {
    std::mt19937 rng(3);
    while (!done) {
      for (Instance* in : instances) {
        {
          probe::HostCall call("effSetParameter");
          in->effect->setParameter(in->effect, static_cast<int32_t>(rng() % 8), static_cast<float>(rng() % 100) / 99);
        }
        {
          probe::HostCall call("effGetParameter");
          in->effect->getParameter(in->effect, 0);
        }
        if (rng() % 4 == 0) in->saveState();
        ++automation;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  if (storing) f.bankStoreStarted = startBankStore(*storing);
  for (Instance* in : instances) f.editorsOpened = in->openEditor() && f.editorsOpened;
  for (int round = 0; secondsSince(start) < seconds || round < 4; ++round) {
    for (Instance* in : instances) {
      in->dragCutoff(round % 2 ? 30 : -30);
      ++f.drags;
    }
    Instance& target = *instances[static_cast<size_t>(round) % instances.size()];
    const auto before = Clock::now();
    if (target.recall(projects[static_cast<size_t>(target.number)])) ++f.recalls;
    f.longestRecall = std::max(f.longestRecall, secondsSince(before));
    Instance& reopened = *instances[static_cast<size_t>(round + 1) % instances.size()];
    reopened.closeEditor();
    f.editorsOpened = reopened.openEditor() && f.editorsOpened;
    ++f.openings;
    pump(instances, 3);
  }
  for (Instance* in : instances) in->closeEditor();
  done = true;
  automationThread.join();
  knobs.stop();
  audio.stop();
  f.seconds = secondsSince(start);
  f.blocks = audio.blocks.load();
  f.automation = automation.load();
  f.turns = knobs.turns.load();
  f.longestRound = audio.longestRound();
  f.calls = audio.callCount();
  const auto [longest, p999] = audio.callFigures();
  f.longestCall = longest;
  f.p999Call = p999;
  return f;
}

inline void printFigures(const BusyFigures& f, int n) {
  std::printf("%d instances, %.1f s: %ld blocks (the longest round %.1f ms), %ld automation calls, %ld knob turns on "
              "each synthesizer, %ld drags, %ld editor openings, %ld recalls (the longest %.0f ms)\n",
              n, f.seconds, f.blocks, f.longestRound * 1000, f.automation, f.turns, f.drags, f.openings, f.recalls,
              f.longestRecall * 1000);
  std::printf("%zu calls of an instance's host MIDI and block: the longest %.3f ms, 99.9th percentile %.3f ms\n",
              f.calls, f.longestCall, f.p999Call);
}

// Loads the bundle's entry (the library stays loaded for the process's life).
inline VstPluginMainProc loadBundleEntry(const std::string& library) {
  void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  return handle ? reinterpret_cast<VstPluginMainProc>(dlsym(handle, "VSTPluginMain")) : nullptr;
}

// An instance connected to its own emulator by a recalled project, with its clock on; null when that failed.
inline std::unique_ptr<Instance> connectedInstance(VstPluginMainProc entry, int number, std::vector<uint8_t>* project) {
  auto in = std::make_unique<Instance>(entry, number);
  if (!in->effect) return nullptr;
  *project = in->projectState("Busy " + std::to_string(number));
  if (project->empty() || !in->recall(*project)) return nullptr;
  return in;
}

}  // namespace busyhost
