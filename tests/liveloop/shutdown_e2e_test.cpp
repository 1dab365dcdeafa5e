// Shut-down while the synthesizer is busy: an editor object is created, connected to the emulator and deleted
// again, round after round, while the emulator sends a stream of knob turns (control changes, NRPNs and SysEx
// parameter changes). Each round must leave no thread and no JACK client or port behind and must delete
// promptly; afterwards the emulator and a new editor still work. Under the sanitizers no callback, job or timer
// may outlive its object.
//
// $VEXMIR_SHUTDOWN_ROUNDS sets the number of rounds (default 25 for the suite; 100 by hand).
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "src/Vexmir.h"
#include "tests/support/EmulatorClient.h"
#include "tests/support/ProcessStats.h"
#include "tests/support/QuietHost.h"
#include "tests/support/TempRoot.h"

using vexmir::testsupport::EmulatorClient;
using Clock = std::chrono::steady_clock;

namespace {

using vexmir::testsupport::quietHost;

int portIndex(const std::vector<std::string>& names, const std::string& name) {
  for (size_t i = 0; i < names.size(); ++i)
    if (names[i] == name) return static_cast<int>(i);
  return -1;
}

using vexmir::testsupport::threadCount;

// The ports of the server whose names contain `part` (a client of this test looks, and is not among them).
int serverPorts(jack_client_t* client, const char* part) {
  int n = 0;
  if (const char** ports = jack_get_ports(client, part, nullptr, 0)) {
    while (ports[n]) ++n;
    jack_free(ports);
  }
  return n;
}

// Connects both ports of the editor to the emulator, as choosing them in the two port menus does.
void connect(Vexmir& plug) {
  plug.StartRelay();  // as the plug-in's entry does once it is made
  const int in = portIndex(plug.getExternalMIDIInNames(), EmulatorClient::emulatorOutPort());
  const int out = portIndex(plug.getExternalMIDIOutNames(), EmulatorClient::emulatorInPort());
  ASSERT_GT(in, 0);
  ASSERT_GT(out, 0);
  plug.storeParamValue(kDeviceInSelection, in);
  plug.OnParamChange(kDeviceInSelection);
  plug.storeParamValue(kDeviceOutSelection, out);
  plug.OnParamChange(kDeviceOutSelection);
  // The ports open on the relay's thread.
  for (int i = 0; i < 10000 && !plug.GetHostCallRelay().idle(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_TRUE(plug.midiOutReady);
}

// True once the parameter moved away from `from` (within two seconds).
bool follows(Vexmir& plug, int param, double from) {
  const auto deadline = Clock::now() + std::chrono::seconds(2);
  while (plug.paramValue(param) == from && Clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return plug.paramValue(param) != from;
}

}  // namespace

TEST(ShutDown, RoundAfterRoundWhileTheSynthesizerStreamsKnobTurns) {
  const char* env = std::getenv("VEXMIR_SHUTDOWN_ROUNDS");
  const int rounds = env ? std::max(1, std::atoi(env)) : 25;
  vexmir::testsupport::TempRoot root("liveloop-shutdown");
  EmulatorClient emu;
  emu.reset();

  jack_client_t* looker = jack_client_open("liveloop-shutdown-looker", JackNoStartServer, nullptr);
  ASSERT_NE(looker, nullptr);
  const int portsBefore = serverPorts(looker, "RtMidi");

  // A knob of each kind, turned over and over about as fast as a MIDI cable carries the messages: filter cutoff
  // (CC 74), arpeggiator gate (NRPN 0/10) and amp level (SysEx parameter 89).
  std::atomic<bool> stop{false};
  std::atomic<int> turns{0};
  std::thread turner([&] {
    EmulatorClient knobs;
    for (int v = 0; !stop; v = (v + 1) % 100) {
      const std::string value = std::to_string(v);
      knobs.check(v % 3 == 0 ? "turn cc 74 " + value : v % 3 == 1 ? "turn nrpn 0 10 " + value : "turn param 89 " + value);
      ++turns;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });

  // One editor first: whatever the libraries keep for the whole process (a first JACK client's own threads and
  // caches) is set up by then.
  { Vexmir warmUp(IEffectInstanceInfo{quietHost}); }
  const int baseline = threadCount();

  int followed = 0, leftThreads = 0, leftPorts = 0;
  double slowestDelete = 0;
  for (int i = 0; i < rounds; ++i) {
    auto plug = std::make_unique<Vexmir>(IEffectInstanceInfo{quietHost});
    connect(*plug);
    if (HasFatalFailure()) break;
    EXPECT_EQ(serverPorts(looker, "RtMidi"), portsBefore + 2) << "round " << i;
    // Every fifth round waits until a turn has reached the editor; the others go down at once, while the
    // connection's job runs.
    if (i % 5 == 0) followed += follows(*plug, kFilterCutoff, plug->paramValue(kFilterCutoff));
    const auto start = Clock::now();
    plug.reset();
    slowestDelete = std::max(slowestDelete, std::chrono::duration<double>(Clock::now() - start).count());
    // Every thread of the editor has been joined by then; JACK's client threads end with their client.
    leftThreads += threadCount() != baseline;
    leftPorts += serverPorts(looker, "RtMidi") != portsBefore;
  }
  stop = true;
  turner.join();

  EXPECT_EQ(leftThreads, 0);
  EXPECT_EQ(leftPorts, 0);
  EXPECT_LT(slowestDelete, 3.0);
  EXPECT_GT(turns, rounds);
  EXPECT_GE(followed, (rounds + 4) / 5 - 1);
  std::printf("%d rounds, %d knob turns, slowest delete %.3f s, %d threads at rest\n", rounds, turns.load(),
              slowestDelete, baseline);

  // The emulator and a new editor work as before: an edit reaches the synthesizer and a turn the editor.
  EXPECT_EQ(emu.check("ping"), "pong");
  {
    Vexmir plug(IEffectInstanceInfo{quietHost});
    connect(plug);
    const size_t mark = emu.logMark();
    plug.storeParamValue(kFilterCutoff, 33);
    plug.OnParamChange(kFilterCutoff);
    EXPECT_TRUE(emu.waitForLog("in B0 4A 21", mark));
    const double before = plug.paramValue(kFilterCutoff);
    emu.check("turn cc 74 90");
    EXPECT_TRUE(follows(plug, kFilterCutoff, before));
  }
  jack_client_close(looker);
}
