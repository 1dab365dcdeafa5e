// A busy host: several instances of the real bundle in one process, loaded through its exported entry, each with
// its own synthesizer emulator and its own MIDI clock, while the host's threads work on all of them at once: the
// audio thread sends host MIDI and processes blocks with the transport playing, an automation thread sets and
// reads parameters and saves state, the GUI thread shows every editor, drags a knob in each and recalls projects,
// and the emulators' knobs are turned. Then one editor is opened and closed again and again while the audio
// thread runs and MIDI arrives, with the resident memory taken after the first and the last opening; and an
// instance is closed while a bank store and its clock run. The JACK server and the /dev/shm are the test's own
// (see own-shm.sh); the clean run under the sanitizers is the build's (AddressSanitizer in the test build,
// ThreadSanitizer in scripts/tsan.sh).
//
// Reduced size here (4 instances, 300 openings); VEXMIR_FAULTS_FULL=1 gives the full size (16 instances, 1,000
// openings).
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
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
#include "tests/core/bundle_host.h"
#include "tests/faults/faults_support.h"
#include "tests/support/ProcessStats.h"

using namespace faults;

namespace {

using Clock = std::chrono::steady_clock;

bool fullSize() {
  const char* v = std::getenv("VEXMIR_FAULTS_FULL");
  return v && std::string(v) == "1";
}

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Resident memory of this process in bytes.
long residentBytes() {
  std::ifstream in("/proc/self/statm");
  long size = 0, resident = 0;
  in >> size >> resident;
  return resident * sysconf(_SC_PAGESIZE);
}

using vexmir::testsupport::threadCount;

// The transport every instance sees: playing at 120 BPM. Written before the instances exist, only read after.
VstTimeInfo g_time = [] {
  VstTimeInfo t{};
  t.sampleRate = 48000;
  t.tempo = 120;
  t.timeSigNumerator = 4;
  t.timeSigDenominator = 4;
  t.flags = kVstTransportPlaying | kVstTempoValid | kVstTimeSigValid;
  return t;
}();

intptr_t busyHostCallback(AEffect*, int32_t opcode, int32_t, intptr_t, void* ptr, float) {
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
  void mouse(cocoa::EventType type, double x, double y, int clicks = 0) {
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
void pump(const std::vector<Instance*>& instances, int ticks) {
  cocoa::AutoreleasePool pool;
  for (int i = 0; i < ticks; ++i) {
    for (Instance* in : instances)
      if (in->window) in->dispatch(effEditIdle);
    cocoa::RunLoop::current()->runUntilDate(cocoa::clockNow() + 0.04);
  }
}

// The host's audio thread: for each instance still active, host MIDI now and then and one block, one round per
// block period.
class AudioThread {
 public:
  explicit AudioThread(std::vector<Instance*> list) : instances(std::move(list)) {
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

 private:
  void run() {
    std::mt19937 rng(7);
    while (!done) {
      {
        std::lock_guard<std::mutex> lock(roundLock);
        const auto start = Clock::now();
        for (Instance* in : instances) {
          if (std::find(removed.begin(), removed.end(), in) != removed.end()) continue;
          if (hostMidi && rng() % 8 == 0) in->hostControlChange(74, static_cast<uint8_t>(rng() % 128));
          in->process();
          ++blocks;
        }
        const long us = static_cast<long>(secondsSince(start) * 1e6);
        if (us > longestRoundMicros) longestRoundMicros = us;
      }
      std::this_thread::sleep_for(std::chrono::microseconds(kBlock * 1000000 / 48000));
    }
  }
  std::vector<Instance*> instances, removed;
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

// How many lines of the emulator's log from `from` on contain `text`.
int logCount(OwnEmulator& synth, const std::string& text, size_t from = 0) {
  int n = 0;
  for (const std::string& line : synth.client->log(from)) n += line.find(text) != std::string::npos;
  return n;
}

class BusyHost : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("VEXMIR_FAULTS_OWN_SHM")) GTEST_SKIP() << "needs a /dev/shm of its own (run as root)";
    ASSERT_TRUE(server.start());
    library = dlopen(coretest::BundleHost::bundleLibrary().c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    ASSERT_NE(library, nullptr) << dlerror();
    entry = reinterpret_cast<VstPluginMainProc>(dlsym(library, "VSTPluginMain"));
    ASSERT_NE(entry, nullptr);
    cocoa::useManualClock();
  }
  void TearDown() override {
    instances.clear();
    if (library) dlclose(library);
  }
  // Makes `n` instances, each connected to its own emulator by a recalled project, with its clock on.
  void makeInstances(int n) {
    for (int i = 0; i < n; ++i) {
      instances.push_back(std::make_unique<Instance>(entry, i));
      ASSERT_NE(instances.back()->effect, nullptr);
      Instance& in = *instances.back();
      const std::vector<uint8_t> project = in.projectState("Busy " + std::to_string(i));
      ASSERT_FALSE(project.empty());
      ASSERT_TRUE(in.recall(project));
      projects.push_back(project);
    }
  }
  std::vector<Instance*> all() {
    std::vector<Instance*> out;
    for (auto& in : instances) out.push_back(in.get());
    return out;
  }

  OwnJackServer server;
  DataRoot root;
  void* library = nullptr;
  VstPluginMainProc entry = nullptr;
  std::vector<std::unique_ptr<Instance>> instances;
  std::vector<std::vector<uint8_t>> projects;
};

}  // namespace

TEST_F(BusyHost, InstancesEditedAndRecalledAtOnceEachKeepTheirOwnSynthesizerAndClock) {
  const int n = fullSize() ? 16 : 4;
  const double seconds = fullSize() ? 20 : 4;
  const auto start = Clock::now();
  makeInstances(n);
  std::printf("%d instances made and connected in %.1f s\n", n, secondsSince(start));
  std::vector<size_t> marks;
  for (auto& in : instances) marks.push_back(in->synth->client->logMark());

  AudioThread audio(all());
  KnobTurner knobs(all());
  std::atomic<bool> done{false};
  std::atomic<long> automation{0};
  std::thread automationThread([&] {
    std::mt19937 rng(3);
    while (!done) {
      for (auto& in : instances) {
        in->effect->setParameter(in->effect, static_cast<int32_t>(rng() % 8), static_cast<float>(rng() % 100) / 99);
        in->effect->getParameter(in->effect, 0);
        if (rng() % 4 == 0) in->saveState();
        ++automation;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });

  // The GUI thread: every editor open, a knob dragged in each, projects recalled in turn.
  for (auto& in : instances) ASSERT_TRUE(in->openEditor());
  long drags = 0, recalls = 0;
  double longestRecall = 0;
  for (int round = 0; secondsSince(start) < seconds + 5 || round < 4; ++round) {
    for (auto& in : instances) {
      in->dragCutoff(round % 2 ? 30 : -30);
      ++drags;
    }
    Instance& target = *instances[static_cast<size_t>(round) % instances.size()];
    const auto before = Clock::now();
    EXPECT_TRUE(target.recall(projects[static_cast<size_t>(target.number)]));
    longestRecall = std::max(longestRecall, secondsSince(before));
    ++recalls;
    pump(all(), 3);
  }
  for (auto& in : instances) in->closeEditor();
  done = true;
  automationThread.join();
  knobs.stop();
  std::printf("%.1f s: %ld blocks (the longest round %.0f ms), %ld automation calls, %ld knob turns on each "
              "synthesizer, %ld drags, %ld recalls (the longest %.0f ms)\n",
              secondsSince(start), audio.blocks.load(), audio.longestRound() * 1000, automation.load(),
              knobs.turns.load(), drags, recalls, longestRecall * 1000);

  // Each synthesizer got its own instance's clock and its own instance's programs, and no other's.
  for (size_t i = 0; i < instances.size(); ++i) {
    OwnEmulator& synth = *instances[i]->synth;
    const int ticks = logCount(synth, "in F8", marks[i]);
    EXPECT_GT(ticks, 24) << "synthesizer " << i << " got too little clock";
    const std::string own = "\"Busy " + std::to_string(i) + " ";
    int programs = 0;
    for (const std::string& line : synth.client->log(0)) {
      if (line.find("loaded into the edit buffer") == std::string::npos) continue;
      ++programs;
      EXPECT_NE(line.find(own), std::string::npos) << "synthesizer " << i << ": " << line;
    }
    EXPECT_GT(programs, 0) << "synthesizer " << i;
  }
  // Two recalls in a row, while the audio thread runs on: the second comes once the first one's program is at the
  // synthesizer and its job is still in its closing pause. The job thread takes no second job; the second
  // program goes out once it is free, so each synthesizer ends with the program of its instance's last recall.
  auto nameOf = [](const std::string& text) { return (text + std::string(12, ' ')).substr(0, 12); };
  for (auto& in : instances) ASSERT_TRUE(in->recall(in->projectState("Other " + std::to_string(in->number))));
  const auto lastStart = Clock::now();
  for (auto& in : instances) {
    const std::string first = nameOf("Other " + std::to_string(in->number));
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (in->synth->client->editName() != first && Clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(in->recall(in->projectState("Last " + std::to_string(in->number))));
  }
  for (auto& in : instances) {
    const std::string want = ("Last " + std::to_string(in->number) + std::string(12, ' ')).substr(0, 12);
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (in->synth->client->editName() != want && Clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(in->synth->client->editName(), want) << "synthesizer " << in->number;
  }
  audio.stop();
  std::printf("the last recalled program at every synthesizer %.1f s after the recalls\n", secondsSince(lastStart));
}

TEST_F(BusyHost, TheEditorOpenedAndClosedManyTimesWhileAudioAndMidiRunKeepsItsMemory) {
  const int opens = fullSize() ? 1000 : 300;
  makeInstances(2);
  AudioThread audio(all());
  KnobTurner knobs(all());
  Instance& in = *instances[0];
  const auto start = Clock::now();
  long afterFirst = 0;
  for (int k = 0; k < opens; ++k) {
    ASSERT_TRUE(in.openEditor()) << "opening " << k;
    pump({&in}, 2);
    if (k == 0) afterFirst = residentBytes();
    in.closeEditor();
  }
  const long afterLast = residentBytes();
  knobs.stop();
  audio.stop();
  const double growth = 100.0 * static_cast<double>(afterLast - afterFirst) / static_cast<double>(afterFirst);
  std::printf("%d openings in %.1f s (%.1f ms each); resident after the first %.1f MB, after the last %.1f MB (%+.2f %%); "
              "%ld knob turns\n",
              opens, secondsSince(start), 1000.0 * secondsSince(start) / opens, afterFirst / 1048576.0,
              afterLast / 1048576.0, growth, knobs.turns.load());
  EXPECT_LT(growth, 5.0);
}

TEST_F(BusyHost, AnInstanceClosedWhileABankStoreAndItsClockRunLeavesNoThreadBehind) {
  makeInstances(1);
  std::unique_ptr<Instance> doomed;
  AudioThread audio(all());
  // The other instance's threads settle first: its recall has sent its program and the job has ended.
  ASSERT_TRUE(
      instances[0]->synth->client->waitForLog("in F0 42 30 58 40", 0, std::chrono::seconds(30)).has_value());
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  pump(all(), 5);
  const int threadsBefore = threadCount();

  doomed = std::make_unique<Instance>(entry, 99);
  ASSERT_NE(doomed->effect, nullptr);
  ASSERT_TRUE(doomed->recall(doomed->projectState("Doomed")));
  OwnEmulator& synth = *doomed->synth;
  audio.add(doomed.get());
  ASSERT_TRUE(synth.client->waitForLog("in F8", 0, std::chrono::seconds(20)).has_value()) << "its clock runs";

  // The bank store, as a musician starts it: the librarian tab, then "Store" and its bank item.
  // Once the recalled program is at the synthesizer the transfer is over and the editor takes input again.
  ASSERT_TRUE(synth.client->waitForLog("in F0 42 30 58 40", 0, std::chrono::seconds(30)).has_value());
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  ASSERT_TRUE(doomed->openEditor());
  pump({doomed.get()}, 3);
  doomed->click(179, 18);
  pump({doomed.get()}, 3);
  cocoa::menus::scriptChoice({2, 2});
  doomed->click(900, 47);
  pump({doomed.get()}, 3);
  if (!synth.client->waitForLog("in F0 42 30 58 11 00", 0, std::chrono::seconds(30)).has_value()) {
    for (const std::string& l : synth.client->log(0)) if (l.find("F8") == std::string::npos) std::printf("%s\n", l.c_str());
    for (const auto& m : cocoa::menus::shownMenus()) std::printf("%s\n", cocoa::menus::describe(m).c_str());
    doomed->window->writePNG("/tmp/busy-doomed.png");
    FAIL();
  }

  // Closed as a host closes it: the editor, no more blocks, suspended, closed.
  audio.remove(doomed.get());
  const auto start = Clock::now();
  doomed->close();
  const double closeSeconds = secondsSince(start);
  const int threadsAfterClose = threadCount();
  int threadsAfter = threadsAfterClose;
  for (int k = 0; k < 200 && threadsAfter > threadsBefore; ++k) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    threadsAfter = threadCount();
  }
  // Nothing more reaches the synthesizer: no clock tick, no program.
  const size_t mark = synth.client->logMark();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const int linesAfter = static_cast<int>(synth.client->log(mark).size());
  audio.stop();
  std::printf("closed in %.3f s; threads %d before the instance, %d right after its close, %d after waiting\n",
              closeSeconds, threadsBefore, threadsAfterClose, threadsAfter);
  EXPECT_LT(closeSeconds, 2.0);
  EXPECT_LE(threadsAfter, threadsBefore);
  EXPECT_EQ(linesAfter, 0) << synth.client->log(mark).front();
  doomed.reset();
}
