// The audio callback as the editor's clock: transport edges start the clock jobs, queued messages leave at their
// sample offsets, all notes off goes out once after a reset, the host tempo reaches the arpeggiator tempo, and
// the MIDI indicators go out 100 ms after they were lit (on a scripted clock).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "KIT/IEffect/IGraphics.h"
#include "src/MIDIMessageManager.h"
#include "src/Vexmir.h"
#include "tests/support/QuietHost.h"
#include "tests/support/TempRoot.h"

namespace {

using vexmir::testsupport::quietHost;

uint32_t scriptedNow = 1000;
uint32_t scriptedTicks() {
  return scriptedNow;
}

// The editor object with a scripted host transport, recording what it sends instead of using a port.
class AudioPlug : public Vexmir {
 public:
  AudioPlug() : Vexmir(IEffectInstanceInfo{quietHost}) {
    setTickSource(scriptedTicks);
    // Channel parameters as the parameter table gives them, whatever controls the description binds.
    for (int idx : {static_cast<int>(kMultiPartMIDICh), kMultiPartMIDICh + 1})
      if (GetParam(idx)->GetMax() < 16) GetParam(idx)->InitInt("MIDI Channel", 0, 0, 16);
    if (GetParam(kGlobalMidiChannel)->GetMax() < 15) GetParam(kGlobalMidiChannel)->InitInt("Global Channel", 0, 0, 15);
    getMidiManager()->getSender()->jobRunner = [this](MIDIMessageSender&, const SenderJob& j) {
      std::lock_guard<std::mutex> lock(jobsLock);
      jobs.push_back(j.job);
    };
    StartRelay();  // as the plug-in's entry does once it is made
  }
  // The jobs record into members of this class: they end before the members go.
  ~AudioPlug() override {
    stopHostCallRelay();
    getMidiManager()->shutDown();
  }
  void GetTime(ITimeInfo* t) override {
    t->mTransportIsRunning = playing;
    t->mTempo = tempo;
  }
  double GetTempo() override { return tempo; }
  bool SendMidiMsg(IMidiMsg* m) override {
    sent.push_back({m->mOffset, m->mStatus, m->mData1, m->mData2});
    return true;
  }
  ESendResult TrySendMidiMsgNow(const IMidiMsg* m) override {
    if (portTaken) return kSendBusy;
    sent.push_back({m->mOffset, m->mStatus, m->mData1, m->mData2});
    return kSendDone;
  }
  void block(int frames) {
    double* none[2] = {nullptr, nullptr};
    ProcessDoubleReplacing(none, none, frames);
    // What the block handed to the relay's thread (job starts, all notes off) is done before the next block.
    for (int i = 0; i < 2000 && !GetHostCallRelay().idle(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    // A clock job still running would drop the next edge's job: let it end, as a real block's time would.
    for (int i = 0; i < 2000 && getMidiManager()->isWorkerBusy(MidiWorker::kClockControlThread); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  std::vector<int> jobsSeen() {
    // Jobs run on their workers (the continuous clock on the clock worker, the edges on the clock-control
    // worker): wait until both are idle again, or a loaded machine reads the list before a job has recorded.
    for (MidiWorker w : {MidiWorker::kClockThread, MidiWorker::kClockControlThread})
      for (int i = 0; i < 2000 && getMidiManager()->isWorkerBusy(w); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::lock_guard<std::mutex> lock(jobsLock);
    return jobs;
  }

  bool playing = false;
  bool portTaken = false;  // a port operation holds the output
  double tempo = 120.0;
  std::vector<std::vector<int>> sent;
  std::mutex jobsLock;
  std::vector<int> jobs;
};

using Root = vexmir::testsupport::TempRoot;

std::vector<int> cc(int channel, int number, int value, int offset = 0) {
  return {offset, 0xB0 | channel, number, value};
}

}  // namespace

TEST(AudioCallback, NothingWithoutAnOutputPort) {
  Root root;
  AudioPlug plug;
  plug.Reset();
  plug.block(256);
  EXPECT_TRUE(plug.sent.empty());
  EXPECT_TRUE(plug.jobsSeen().empty());
}

TEST(AudioCallback, AllNotesOffOnceAfterResetThenTransportEdgesStartTheClockJobs) {
  Root root;
  AudioPlug plug;
  plug.midiOutReady = true;
  plug.storeParamValue(kMultiPartMIDICh, 2);
  plug.storeParamValue(kMultiPartMIDICh + 1, 16);  // the global channel
  plug.storeParamValue(kGlobalMidiChannel, 5);
  plug.Reset();
  plug.block(256);
  plug.block(256);
  EXPECT_EQ(plug.sent, (std::vector<std::vector<int>>{cc(2, 123, 0), cc(5, 123, 0)}));

  plug.playing = true;
  plug.block(256);
  plug.block(256);
  plug.playing = false;
  plug.block(256);
  plug.playing = true;
  plug.block(256);
  // The continuous clock job starts once; MIDI start, stop and start again on the clock-control worker.
  std::vector<int> jobs = plug.jobsSeen();
  EXPECT_EQ(std::count(jobs.begin(), jobs.end(), kJobContinuousClock), 1);
  jobs.erase(std::remove(jobs.begin(), jobs.end(), kJobContinuousClock), jobs.end());
  EXPECT_EQ(jobs, (std::vector<int>{kJobStartClock, kJobStopClock, kJobStartClock}));
  // A reset while playing sends nothing until the transport stops.
  plug.sent.clear();
  plug.Reset();
  plug.block(256);
  EXPECT_TRUE(plug.sent.empty());
  plug.playing = false;
  plug.block(256);
  EXPECT_EQ(plug.sent.size(), 2u);
  // The first block after a reset finds the output port taken: each timbre's all notes off goes from the relay's
  // thread, on its own channel.
  plug.sent.clear();
  plug.portTaken = true;
  plug.Reset();
  plug.block(256);
  EXPECT_EQ(plug.sent, (std::vector<std::vector<int>>{cc(2, 123, 0), cc(5, 123, 0)}));
}

TEST(AudioCallback, QueuedMessagesLeaveInOrderAtTheirOffsets) {
  Root root;
  AudioPlug plug;
  plug.midiOutReady = true;
  plug.SetBlockSize(64);
  plug.Reset();
  plug.playing = true;  // no all-notes-off in the way
  plug.storeParamValue(kMIDIFilterToDAWBuffer, 1.0);
  plug.OnParamChange(kMIDIFilterToDAWBuffer);
  ASSERT_TRUE(plug.midiOutViaAudioQueue);
  plug.block(64);
  plug.sent.clear();
  const int offsets[] = {10, 5, 80, 10, 0};
  for (int i = 0; i < 5; ++i) {
    IMidiMsg m(offsets[i], 0xB0, 7, i);
    plug.MIDIOutRoutingSwitch(&m);
  }
  EXPECT_EQ(plug.queuedMidiCount(), 5);
  plug.block(64);
  // Sorted by offset, equal offsets in arrival order; the one at 80 waits for the next block as 16.
  std::vector<int> order;
  for (auto& s : plug.sent) order.push_back(s[3]);
  EXPECT_EQ(order, (std::vector<int>{4, 1, 0, 3}));
  plug.block(64);
  ASSERT_EQ(plug.sent.size(), 5u);
  EXPECT_EQ(plug.sent.back()[3], 2);
  EXPECT_EQ(plug.sent.back()[0], 16);
  // The last step of a block is still this block's; the first of the next waits for it.
  IMidiMsg lastStep(63, 0xB0, 7, 63), nextBlock(64, 0xB0, 7, 64);
  plug.MIDIOutRoutingSwitch(&nextBlock);
  plug.MIDIOutRoutingSwitch(&lastStep);
  plug.block(64);
  ASSERT_EQ(plug.sent.size(), 6u);
  EXPECT_EQ(plug.sent.back()[3], 63) << "a message due at the last step left a block late";
  plug.block(64);
  ASSERT_EQ(plug.sent.size(), 7u);
  EXPECT_EQ(plug.sent.back()[3], 64);
  // No clock start or stop goes out while MIDI is routed through the queue.
  std::vector<int> jobs = plug.jobsSeen();
  EXPECT_EQ(std::count(jobs.begin(), jobs.end(), kJobStartClock), 0);

  // Routed straight to the port again, what is still queued is dropped when due.
  IMidiMsg late(3, 0xB0, 7, 9);
  plug.MIDIOutRoutingSwitch(&late);
  plug.midiOutViaAudioQueue = false;
  plug.block(64);
  EXPECT_EQ(plug.sent.size(), 7u);
  EXPECT_EQ(plug.queuedMidiCount(), 0);

  // Without an output port nothing is queued, and while the host calls no block the queue stops at its bound:
  // what does not fit is dropped with a notice.
  plug.midiOutViaAudioQueue = true;
  plug.midiOutReady = false;
  plug.MIDIOutRoutingSwitch(&late);
  EXPECT_EQ(plug.queuedMidiCount(), 0);
  EXPECT_EQ(plug.getDisplayLine(Vexmir::kLineName), "Set MIDI I/O First!");
  plug.midiOutReady = true;
  for (int i = 0; i <= Vexmir::kMaxQueuedMidiMessages; ++i) plug.MIDIOutRoutingSwitch(&late);
  EXPECT_EQ(plug.queuedMidiCount(), Vexmir::kMaxQueuedMidiMessages);
  EXPECT_EQ(plug.getDisplayLine(Vexmir::kLineName), "MIDI queue full: message dropped!");
}

TEST(AudioCallback, HostTempoReachesTheArpeggiatorOncePerChange) {
  Root root;
  AudioPlug plug;
  plug.midiOutReady = true;
  plug.storeParamValue(kOverrideTempo, 1.0);
  struct Case {
    double hostTempo;
    double arpTempo;
  } cases[] = {{120, 100}, {120, 100}, {121, 101}, {20, 0}, {400, 280}, {std::nan(""), 0}, {1e300, 280}};
  for (const Case& c : cases) {
    plug.tempo = c.hostTempo;
    plug.block(128);
    EXPECT_EQ(plug.paramValue(kArpTempo), c.arpTempo) << c.hostTempo;
  }
  // Tempo override off: the host tempo is not followed.
  plug.storeParamValue(kOverrideTempo, 0.0);
  plug.tempo = 150;
  plug.block(128);
  EXPECT_EQ(plug.paramValue(kArpTempo), 280);
}

TEST(AudioCallback, IndicatorsGoOutAfterAHundredMilliseconds) {
  Root root;
  AudioPlug plug;
  ASSERT_NE(plug.GetGUI(), nullptr);
  plug.midiOutReady = true;
  plug.playing = true;
  plug.trackIncomingMidi = false;  // the indicators show what goes out
  plug.storeParamValue(kMultiPartMIDICh, 0);
  plug.storeParamValue(kMultiPartMIDICh + 1, 1);
  scriptedNow = 5000;
  IMidiMsg t1(0, 0xB0, 7, 1), t2(0, 0xB1, 7, 1);
  plug.sendMidiMsgAndLog(&t1);
  scriptedNow = 5050;
  plug.sendMidiMsgAndLog(&t2);
  EXPECT_EQ(plug.paramValue(kMIDILed), 1.0);
  EXPECT_EQ(plug.paramValue(kMIDILed + 1), 1.0);
  scriptedNow = 5099;  // 99 ms: still lit
  plug.block(64);
  EXPECT_EQ(plug.paramValue(kMIDILed), 1.0);
  scriptedNow = 5101;
  plug.block(64);
  EXPECT_EQ(plug.paramValue(kMIDILed), 0.0);
  EXPECT_EQ(plug.paramValue(kMIDILed + 1), 1.0);
  scriptedNow = 5151;
  plug.block(64);
  EXPECT_EQ(plug.paramValue(kMIDILed + 1), 0.0);
  // The tick counter wraps: an indicator lit just before the wrap still goes out after 100 ms.
  scriptedNow = 0xFFFFFFF0u;
  plug.sendMidiMsgAndLog(&t1);
  scriptedNow = 0x60;
  plug.block(64);
  EXPECT_EQ(plug.paramValue(kMIDILed), 0.0);
}
