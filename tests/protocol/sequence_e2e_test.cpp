// Random ordinary actions against the synthesizer emulator over a real JACK server: after each, nothing is
// armed, waiting or busy without its job, no librarian slot changed but the one addressed, the editor follows
// the next knob turned on the emulator, a reset sends all notes off and a clock switched off goes quiet.
// VEXMIR_E2E_ACTIONS sets the number of actions (200 by default). Pauses run on a shortened clock.
#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "src/LibrarianEditor.h"
#include "src/LibrarianHost.h"
#include "tests/jobs/emulator_plug.h"
#include "tests/support/EmulatorClient.h"

using vexmir::testsupport::Bytes;
using vexmir::testsupport::EmulatorClient;

namespace {

const char* const kNames[] = {"REQUEST", "connect",   "fetch program by slot", "fetch temporary", "audition",
                              "synth program change", "host program change", "timbre", "tab", "clock on and off",
                              "randomize", "save and recall", "synth knob"};
constexpr int kKinds = sizeof kNames / sizeof kNames[0];

class Session {
 public:
  Session() : plug(&clock) {
    emulator.reset();
    connected = plug.connect();
    plug.storeParamValue(kLibSyncTimer, 4);
    plug.press(kMIDIFilterHWCCPassThrough + Vexmir::kFilterPC, 1);
  }

  bool editorFollowsKnob() {
    const int next = plug.paramValue(kAmpDistSw) == 1.0 ? 0 : 1;
    std::ostringstream raw;
    // The distortion switch as the instrument sends it: control change 92.
    raw << "send raw B" << std::hex << (plug.deviceId.load() & 0x0F) << " 5C " << (next ? "7F" : "00");
    emulator.check(raw.str());
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (plug.paramValue(kAmpDistSw) != next && std::chrono::steady_clock::now() < end)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return plug.paramValue(kAmpDistSw) == next;
  }

  // One action; empty when every rule held after it, else the rule it broke.
  std::string act(int kind, int arg) {
    const std::vector<LibrarianPatch> before = plug.openBank();
    int addressed = -1;
    LibrarianHost* host = plug.getLibrarianEditor()->host();
    switch (kind) {
      case 0:
        plug.press(kRequestTempData, 1);
        break;
      case 1:
        plug.sendSysExInitialization();
        break;
      case 2:
        addressed = arg;
        host->requestProgram(arg, arg, false);
        break;
      case 3:
        addressed = arg;
        host->requestProgram(-1, arg, false);
        break;
      case 4:
        host->sendProgram(0, arg, before[static_cast<size_t>(arg)]);
        break;
      case 5:
        emulator.check("send progchange " + std::to_string(arg));
        break;
      case 6: {
        IMidiMsg pc(0, 0xC0, arg, 0);
        plug.ProcessMidiMsg(&pc, false);
        break;
      }
      case 7:
        plug.press(kQuickTab, arg % 2);
        break;
      case 8:
        plug.press(kMainTab, 1 + arg % 4);
        break;
      case 9: {
        plug.press(kSendMIDIClockInfo, 1);
        const size_t mark = emulator.logMark();
        plug.audioBlock();
        if (!emulator.waitForLog("in F8", mark)) return "the clock sent nothing after it was switched on";
        plug.press(kSendMIDIClockInfo, 0);
        plug.audioBlock();
        if (!plug.waitIdle(MidiWorker::kClockThread, 5)) return "the clock still runs after it was switched off";
        // Ticks sent before the stop may still be on their way through the server: a probe sent now arrives
        // after all of them, and no tick may follow it.
        Bytes probe = EmulatorClient::inputProbe();
        if (!emulator.awaitInput([&] { plug.SendMidiSysex(probe.data(), static_cast<int>(probe.size())); }))
          return "the probe after the clock's stop did not arrive";
        const size_t quiet = emulator.logMark();
        if (emulator.waitForLog("in F8", quiet, std::chrono::milliseconds(100)))
          return "a clock tick came after the clock had stopped";
        break;
      }
      case 10:
        if (plug.paramValue(kMainTab) < 1) plug.press(kMainTab, 2);
        plug.press(kRandomize, 1);
        break;
      case 11: {
        ByteChunk chunk;
        plug.SerializeState(&chunk);
        if (!plug.waitIdle()) return "a job did not end";
        plug.UnserializeState(&chunk, 0);
        if (!plug.midiOutReady) return "the recall did not find the emulator's port again";
        break;
      }
      case 12:
        editorFollowsKnob();
        break;
    }
    if (!plug.waitIdle()) return "a job did not end";
    plug.audioBlock();
    if (!plug.waitIdle() || !plug.waitIdle(MidiWorker::kClockThread)) return "a job did not end";
    const std::vector<std::string> rules = plug.getMidiManager()->protocolViolations();
    if (!rules.empty()) return rules.front();
    const std::vector<LibrarianPatch> after = plug.openBank();
    for (size_t p = 0; p < after.size() && p < before.size(); ++p) {
      const bool same = after[p].messages.size() == before[p].messages.size() &&
                        (after[p].messages.empty() ||
                         after[p].messages.front().data == before[p].messages.front().data);
      if (!same && static_cast<int>(p) != addressed) return "librarian slot " + std::to_string(p) + " changed";
    }
    // The knob is turned once more when the first turn came during a wait that nothing answers (each try
    // waits longer than such a wait may last).
    if (!editorFollowsKnob() && !editorFollowsKnob())
      return "the editor does not follow a knob turned on the synthesizer";
    const size_t mark = emulator.logMark();
    plug.Reset();
    // The first timbre's all notes off, on its own channel (a dump still arriving may hold the same two bytes). A
    // host's blocks keep coming, and a block that finds the queue or the port taken leaves it to the next one.
    std::ostringstream notesOff;
    notesOff << "in B" << std::hex << std::uppercase << plug.timbreChannel(0) << " 7B 00";
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    do {
      plug.audioBlock();
      if (emulator.waitForLog(notesOff.str(), mark, std::chrono::milliseconds(20))) return {};
    } while (std::chrono::steady_clock::now() < end);
    return "a reset sends no all notes off";
  }

  jobtest::DataRoot root;
  EmulatorClient emulator;
  ScaledJobClock clock{40};
  jobtest::EmulatorPlug plug;
  bool connected = false;
};

}  // namespace

TEST(ProtocolSequenceE2E, RandomActionsAgainstTheEmulatorLeaveTheProtocolAtRest) {
  const char* env = std::getenv("VEXMIR_E2E_ACTIONS");
  const int actions = env && *env ? std::atoi(env) : 200;
  Session session;
  ASSERT_TRUE(session.connected);
  std::mt19937 rng(2525);
  std::vector<std::string> done;
  for (int i = 0; i < actions; ++i) {
    const int kind = static_cast<int>(rng() % kKinds), arg = static_cast<int>(rng() % 128);
    done.push_back(std::string(kNames[kind]) + " " + std::to_string(arg));
    const std::string broken = session.act(kind, arg);
    if (broken.empty()) continue;
    std::ostringstream text;
    text << "action " << i << " broke a rule: " << broken << "\nthe last actions:";
    for (size_t k = done.size() > 10 ? done.size() - 10 : 0; k < done.size(); ++k) text << "\n  " << done[k];
    FAIL() << text.str();
  }
}
