// The real editor object (built from the bundle's resources, its real SysEx and short-message input) against a
// model of the synthesizer: what the editor sends is recorded and answered by the model, whose answers reach
// the editor through Vexmir::ProcessSysEx on the job's own pauses (the job clock is a manual one), late, twice
// or not at all as the test asks.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "KIT/IEffect/IParam.h"
#include "src/GlobalDump.h"
#include "src/LibrarianEditor.h"
#include "src/LibrarianHost.h"
#include "src/MIDIMessageManager.h"
#include "src/PatchFile.h"
#include "src/PatchLibrarian.h"
#include "src/PatchManager.h"
#include "src/ProgramDump.h"
#include "src/Vexmir.h"
#include "tests/jobs/editor_test_support.h"

namespace prototest {

using Bytes = std::vector<uint8_t>;

// The editor's millisecond ticks, moved by the tests (the indicators and the unanswered wait read them).
inline std::atomic<uint32_t> testTicks{1000};
inline uint32_t readTestTicks() {
  return testTicks.load();
}

using jobtest::DataRoot;

// Program `program` of the model, on channel `channel`: the initial program named "Prog" and its number.
inline Bytes programDump(int program, int channel) {
  Bytes d(initialProgramDump(), initialProgramDump() + kProgramDumpSize);
  d[2] = static_cast<uint8_t>(0x30 + channel);
  const std::string digits = std::to_string(1000 + program).substr(1);
  const char name[7] = {'P', 'r', 'o', 'g', digits[0], digits[1], digits[2]};
  for (int i = 0; i < 7; ++i) d[static_cast<size_t>(6 + i)] = static_cast<uint8_t>(name[i]);
  for (int i = 14; i <= 18; ++i) d[static_cast<size_t>(i)] = ' ';
  // A byte that no parameter holds (data byte 17) tells the programs apart too.
  d[programDataPosition(17)] = static_cast<uint8_t>(program & 0x7F);
  return d;
}

inline std::string programNameOf(int program) {
  return "Prog" + std::to_string(1000 + program).substr(1);
}

// How the model answers the next request.
enum class Answer { kAnswer, kSilent, kLate, kTwice };

inline const char* answerName(Answer a) {
  return a == Answer::kAnswer ? "answers" : a == Answer::kSilent ? "silent" : a == Answer::kLate ? "late" : "twice";
}

class ProtocolPlug : public jobtest::TestEditor {
 public:
  ProtocolPlug() {
    setTickSource(readTestTicks);
    // An output port chosen (the list holds only "OFF" without a MIDI system).
    GetParam(kDeviceOutSelection)->SetBounds(0, 1);
    storeParamValue(kDeviceOutSelection, 1);
    storeParamValue(kLibSyncTimer, 4);  // pacing of 100 ms
    storeParamValue(kOverrideTempo, 0);
    midiOutReady = true;
    midiInReady = true;
    setJobClock(&clock);
    clock.setSleepHook([this](int) { onPause(); });
    StartRelay();  // as the plug-in's entry does once it is made
  }
  ~ProtocolPlug() override {
    stopHostCallRelay();  // the relay calls this object's overrides: it ends before they go
    getMidiManager()->shutDown();
    clock.setSleepHook(nullptr);
  }

  // ---- the output port ----
  bool SendMidiMsg(IMidiMsg* m) override {
    heard(Bytes{m->mStatus, m->mData1, m->mData2});
    return true;
  }
  // The audio callback's send, which never waits for the port.
  ESendResult TrySendMidiMsgNow(const IMidiMsg* m) override {
    heard(Bytes{m->mStatus, m->mData1, m->mData2});
    return kSendDone;
  }
  bool SendMidiSysex(unsigned char* b, int n) override {
    heard(jobtest::framedSysex(b, n));
    return true;
  }
  bool SendMidiSysex2(std::vector<unsigned char> v) override {
    if (v.size() == 1 && v[0] == 0xF8) {
      if (clockTicks < 8) firstTickTimes[clockTicks] = clock.nowNanoseconds();
      ++clockTicks;
      lastTickNs = JobClock::system().nowNanoseconds();
      return true;
    }
    heard(Bytes(v.begin(), v.end()));
    return true;
  }
  void GetTime(ITimeInfo* t) override {
    t->mTransportIsRunning = false;
    t->mTempo = hostTempo;
  }
  double GetTempo() override { return hostTempo; }

  // ---- the synthesizer's side ----
  // A message from the synthesizer through the real input.
  void fromSynth(const Bytes& b) {
    if (b.size() <= 3) {
      IMidiMsg m(0, b[0], b.size() > 1 ? b[1] : 0, b.size() > 2 ? b[2] : 0);
      ProcessMidiMsg(&m, true);
      return;
    }
    Bytes copy = b;
    ISysEx s(0, copy.data(), static_cast<int>(copy.size()));
    ProcessSysEx(&s, true);
  }
  // The synthesizer's switch of timbre 1's distortion, as the instrument sends it: control change 92.
  Bytes knob(int value) const {
    return {static_cast<uint8_t>(0xB0 + synthChannel), 92, static_cast<uint8_t>(value ? 127 : 0)};
  }
  // Turns the knob to the other position and says whether the editor followed.
  bool editorFollowsKnob() {
    const int next = paramValue(kAmpDistSw) == 1.0 ? 0 : 1;
    fromSynth(knob(next));
    return paramValue(kAmpDistSw) == next;
  }
  // A message from the host through the real input; returns what that call itself sent to the synthesizer.
  std::vector<Bytes> fromHost(const Bytes& b) {
    std::vector<Bytes> out;
    capture = &out;
    IMidiMsg m(0, b[0], b.size() > 1 ? b[1] : 0, b.size() > 2 ? b[2] : 0);
    ProcessMidiMsg(&m, false);
    capture = nullptr;
    return out;
  }
  // Answers still owed (late or repeated ones) arrive now.
  void deliverOwed() {
    std::vector<Bytes> due;
    {
      std::lock_guard<std::mutex> lock(mutex);
      for (auto& o : owed) due.push_back(o.bytes);
      owed.clear();
    }
    for (const Bytes& b : due) fromSynth(b);
  }

  // ---- waiting and looking ----
  // Waits until `done` holds. The bound is on what the jobs did, not on how busy the machine is: the wait fails
  // when the jobs' clock has run `jobSeconds` past its start (a job that pauses on and on, a clock loop that
  // still ticks), or when no job took a step (no time on their clock, no message out) for kStuckSeconds of the
  // machine's time (a job blocked for good). A job that a loaded machine leaves unscheduled for a while fails
  // neither. On the machine's own clock the first bound is the machine's time. `stalled` says why a wait failed.
  static constexpr int kStuckSeconds = 120;
  bool waitUntil(const std::function<bool()>& done, int jobSeconds) {
    JobClock& jobs = getMidiManager()->getSender()->getClock();
    const int64_t start = jobs.nowNanoseconds();
    int64_t lastTime = start;
    long lastSteps = steps();
    auto lastStep = std::chrono::steady_clock::now();
    while (!done()) {
      const int64_t time = jobs.nowNanoseconds();
      const long stepped = steps();
      if (time - start > int64_t{jobSeconds} * 1'000'000'000) {
        stalled = "it ran " + std::to_string((time - start) / 1'000'000'000) + " s on the jobs' clock";
        return false;
      }
      if (time != lastTime || stepped != lastSteps) {
        lastTime = time;
        lastSteps = stepped;
        lastStep = std::chrono::steady_clock::now();
      } else if (std::chrono::steady_clock::now() - lastStep > std::chrono::seconds(kStuckSeconds)) {
        stalled = "no job took a step for " + std::to_string(kStuckSeconds) + " s";
        return false;
      }
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
  }
  // In place of the editor's own wait, bounded on the jobs' clock: the longest job (a fetch of 128 programs each
  // answered late, each asked for behind a marker once the one before it was answered twice) runs over an hour on it.
  bool waitIdle(MidiWorker worker = MidiWorker::kJobThread, int jobSeconds = 3 * 3600) {
    // What the relay's thread was handed (a job the audio block asked for, a recalled program's send) first.
    return waitUntil([&] { return GetHostCallRelay().idle() && !getMidiManager()->isWorkerBusy(worker); },
                     jobSeconds);
  }
  LibrarianHost* host() { return getLibrarianEditor() ? getLibrarianEditor()->host() : nullptr; }
  // Whether slot `slot` of the open bank holds the model's program `program`, by its name and its own byte.
  bool slotHoldsProgram(int slot, int program) {
    const std::vector<LibrarianPatch> bank = openBank();
    if (slot < 0 || slot >= static_cast<int>(bank.size()) || bank[static_cast<size_t>(slot)].messages.empty()) return false;
    const LibrarianPatch& patch = bank[static_cast<size_t>(slot)];
    const SysexBytes& dump = patch.messages.front().data;
    return patch.name.rfind(programNameOf(program), 0) == 0 && dump.size() == static_cast<size_t>(kProgramDumpSize) &&
           dump.data()[programDataPosition(17)] == (program & 0x7F);
  }
  std::vector<Bytes> take() {
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<Bytes> out;
    out.swap(sent);
    return out;
  }

  // ---- what the model does ----
  Answer answer = Answer::kAnswer;
  // Silent as a lost program request, not as a synthesizer that stopped: the global request still answered.
  bool lostRequestsOnly = false;
  // With `answersResults`, a program dump is answered "load completed" and a write request "write completed"; a dump
  // while the synthesizer plays a program listed in `lostDumps` is lost instead, once per listing.
  bool answersResults = false;
  std::vector<int> lostDumps;
  // Runs on the sending thread for every message, before the synthesizer has it.
  std::function<void(const Bytes&)> onHeard;
  // Pauses before a late answer arrives (it may come after the job has given up).
  int lateBy = 40;
  std::atomic<int> synthChannel{0};
  std::atomic<int> synthProgram{0};
  double hostTempo = 120.0;
  // Runs on every pause of a job or starter, with the number of pauses so far.
  std::function<void(int)> onEachPause;
  std::atomic<int> pauses{0};
  std::atomic<int> clockTicks{0};
  // Note-on messages that reached the synthesizer.
  std::atomic<int> notesHeard{0};
  std::string stalled;
  std::atomic<int64_t> lastTickNs{0};
  // The job clock's time at the first ticks (the clock thread writes them, the test reads them after).
  int64_t firstTickTimes[8] = {};
  ManualJobClock clock;

 private:
  struct Owed {
    Bytes bytes;
    int duePause;
  };
  long steps() const { return heardCount.load() + clockTicks.load(); }
  void heard(const Bytes& b) {
    if (onHeard) onHeard(b);
    std::lock_guard<std::mutex> lock(mutex);
    ++heardCount;
    sent.push_back(b);
    if (capture) capture->push_back(b);
    if (b.size() == 3 && (b[0] & 0xF0) == 0xC0 && (b[0] & 0x0F) == synthChannel) synthProgram = b[1];
    if (b.size() == 3 && (b[0] & 0xF0) == 0x90) ++notesHeard;
    const auto lost = std::find(lostDumps.begin(), lostDumps.end(), synthProgram.load());
    const bool dump = b.size() == static_cast<size_t>(kProgramDumpSize) && b[4] == 0x40;
    if (dump && lost != lostDumps.end())
      lostDumps.erase(lost);
    else if (answersResults && (dump || (b.size() == 8 && b[4] == 0x11)))
      owed.push_back({Bytes{0xF0, 0x42, 0x30, 0x58, static_cast<uint8_t>(dump ? 0x23 : 0x21), 0xF7}, pauses + 1});
    const bool request =
        b.size() == 6 && b[0] == 0xF0 && b[1] == 0x42 && b[3] == 0x58 && (b[4] == 0x10 || b[4] == 0x0E);
    if (!request || (b[2] & 0x0F) != synthChannel) return;
    if (answer == Answer::kSilent && (b[4] == 0x10 || !lostRequestsOnly)) return;
    Bytes reply;
    if (b[4] == 0x10) {
      reply = programDump(synthProgram, synthChannel);
    } else {
      reply.resize(kGlobalDumpSize);
      std::vector<double> values(static_cast<size_t>(kNumParams), 0.0);
      buildGlobalDump(values.data(), static_cast<uint8_t>(0x30 + synthChannel), reply.data());
    }
    const int now = pauses.load();
    owed.push_back({reply, answer == Answer::kLate ? now + lateBy : now + 1});
    if (answer == Answer::kTwice) owed.push_back({reply, now + 2});
  }
  void onPause() {
    const int n = ++pauses;
    if (onEachPause) onEachPause(n);
    std::vector<Bytes> due;
    {
      std::lock_guard<std::mutex> lock(mutex);
      for (auto it = owed.begin(); it != owed.end();) {
        if (it->duePause <= n) {
          due.push_back(it->bytes);
          it = owed.erase(it);
        } else {
          ++it;
        }
      }
    }
    for (const Bytes& b : due) fromSynth(b);
  }

  std::mutex mutex;
  static inline thread_local std::vector<Bytes>* capture = nullptr;
  std::atomic<long> heardCount{0};
  std::vector<Bytes> sent;
  std::deque<Owed> owed;
};

inline bool isProgramChange(const Bytes& b, int program) {
  return b.size() == 3 && (b[0] & 0xF0) == 0xC0 && b[1] == program;
}

inline bool isAllNotesOff(const Bytes& b) {
  return b.size() == 3 && (b[0] & 0xF0) == 0xB0 && b[1] == 123;
}

}  // namespace prototest
