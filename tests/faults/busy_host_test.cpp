// A busy host (busy_host.h): several instances of the real bundle in one process, each with its own synthesizer
// emulator and its own MIDI clock, while the host's threads work on all of them at once: the audio thread sends host
// MIDI and processes blocks with the transport playing, an automation thread sets and reads parameters and saves
// state, the GUI thread drags a knob in every editor, reopens editors and recalls projects, the emulators' knobs
// are turned, and another instance stores a bank. Every call of an instance's host MIDI and block is timed, and the
// host-call probe (tests/support/HostCallProbe.h) fails the case when a host call waited on a lock that a thread
// held across a wait, slept or called the JACK server. Then one editor is opened and closed again and again while
// the audio thread runs and MIDI arrives, with the resident memory taken after the first and the last opening; and
// an instance is closed while a bank store and its clock run. The JACK server and the /dev/shm are the test's own
// (see own-shm.sh); the clean run under the sanitizers is the build's (AddressSanitizer in the test build,
// ThreadSanitizer in scripts/tsan.sh).
//
// Reduced size here (4 instances, 300 openings); VEXMIR_FAULTS_FULL=1 gives the full size (16 instances, 1,000
// openings).
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
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
#include "tests/faults/busy_host.h"
#include "tests/support/HostCallProbe.h"
#include "tests/support/ProcessStats.h"

using namespace faults;

namespace {

using namespace busyhost;

class BusyHost : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("VEXMIR_FAULTS_OWN_SHM")) GTEST_SKIP() << "needs a /dev/shm of its own (run as root)";
    ASSERT_TRUE(server.start());
    entry = loadBundleEntry(coretest::BundleHost::bundleLibrary());
    ASSERT_NE(entry, nullptr) << dlerror();
    cocoa::useManualClock();
  }
  void TearDown() override { instances.clear(); }
  // Makes `n` instances, each connected to its own emulator by a recalled project, with its clock on.
  void makeInstances(int n) {
    for (int i = 0; i < n; ++i) {
      std::vector<uint8_t> project;
      instances.push_back(connectedInstance(entry, i, &project));
      ASSERT_NE(instances.back(), nullptr);
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
  VstPluginMainProc entry = nullptr;
  std::vector<std::unique_ptr<Instance>> instances;
  std::vector<std::vector<uint8_t>> projects;
};

// Whether the server knows a JACK client of the plug-in's instance `n` in this process: its port objects' or helpers'.
bool instanceClientsKnown(jack_client_t* watcher, int n) {
  const std::string id = std::to_string(::getpid()) + "-" + std::to_string(n);
  for (const std::string& name : {"RtMidi Output Client " + id, "RtMidi Input Client " + id, "vexmir-out-" + id,
                                  "vexmir-in-" + id})
    if (char* uuid = jack_get_uuid_for_client_name(watcher, name.c_str())) {
      jack_free(uuid);
      return true;
    }
  return false;
}

}  // namespace

TEST_F(BusyHost, InstancesEditedAndRecalledAtOnceEachKeepTheirOwnSynthesizerAndClock) {
  const int n = fullSize() ? 16 : 4;
  const double seconds = fullSize() ? 20 : 4;
  const auto start = Clock::now();
  makeInstances(n);
  std::printf("%d instances made and connected in %.1f s\n", n, secondsSince(start));
  std::vector<size_t> marks;
  for (auto& in : instances) marks.push_back(in->synth->client->logMark());

  // An instance beside them runs a bank store all the while.
  std::vector<uint8_t> storingProject;
  std::unique_ptr<Instance> storing = connectedInstance(entry, n, &storingProject);
  ASSERT_NE(storing, nullptr);
  const BusyFigures figures = runBusyPhase(all(), projects, seconds + 4, storing.get());
  printFigures(figures, n);
  EXPECT_TRUE(figures.editorsOpened);
  EXPECT_TRUE(figures.bankStoreStarted);
  storing->close();

  // Each synthesizer got its own instance's clock and its own instance's programs, and no other's.
  for (size_t i = 0; i < instances.size(); ++i) {
    OwnEmulator& synth = *instances[i]->synth;
    const int ticks = synth.client->countLog("in F8", marks[i]);
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
  // Two recalls in a row, while the audio thread runs: the second comes once the first one's program is at the
  // synthesizer and its job is still in its closing pause. The job thread takes no second job; the second
  // program goes out once it is free, so each synthesizer ends with the program of its instance's last recall.
  auto nameOf = [](const std::string& text) { return (text + std::string(12, ' ')).substr(0, 12); };
  AudioThread audio(all());
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

  // No host call waited for anything, and no lock that one takes was held across a wait.
  if (probe::active()) {
    std::printf("host calls took %d locks; %d locks were held across a wait\n", probe::hostLockCount(),
                probe::heldAcrossWaitCount());
    for (const std::string& fault : probe::faults()) ADD_FAILURE() << fault;
  }
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

  if (!startBankStore(*doomed)) {
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

// A host unloads the module once it closed the plug-in, while an open of ours still waits on a stopped server; the
// server then goes on. A copy of the bundle, loaded as a host loads it, is unloaded (the fixture's load stays).
TEST_F(BusyHost, TheModuleUnloadedWhileAnOpenWaitsOnAStoppedServerLeavesTheHostRunning) {
  const std::string copy = root.path + "/unloaded.so";
  std::filesystem::copy_file(coretest::BundleHost::bundleLibrary(), copy);
  void* module = dlopen(copy.c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(module, nullptr) << dlerror();
  auto in = std::make_unique<Instance>(reinterpret_cast<VstPluginMainProc>(dlsym(module, "VSTPluginMain")), 1);
  const std::vector<uint8_t> named = in->projectState("Unloaded");
  jack_client_t* watcher = jack_client_open("vexmir-faults-unload", JackNoStartServer, nullptr);
  ASSERT_NE(watcher, nullptr);
  // The recall lists the ports for the first time: its client's open waits on the server.
  ASSERT_TRUE(server.signal(SIGSTOP));
  std::promise<void> closed;
  std::thread host([&] {
    in->recall(named);
    in->close();
    closed.set_value();
  });
  const bool returned = closed.get_future().wait_for(std::chrono::seconds(60)) == std::future_status::ready;
  if (returned) dlclose(module);
  server.signal(SIGCONT);
  host.join();
  ASSERT_TRUE(returned) << "the recall or the close waited on the stopped server";
  // Once the server answers, whatever of the instance waited on it ends, and none of its clients stays.
  int absent = 0;
  for (int k = 0; k < 600 && absent < 20; ++k) {
    absent = instanceClientsKnown(watcher, 1) ? 0 : absent + 1;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  jack_client_close(watcher);
  EXPECT_EQ(absent, 20) << "a client of the closed instance stays on the server";
}
