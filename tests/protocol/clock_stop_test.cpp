// The MIDI clock on the machine's own clock: switched off, it stops at once, even when an audio block follows
// the switch-off before the running loop has seen it.
#include <gtest/gtest.h>

#include "protocol_plug.h"

using namespace prototest;

TEST(ProtocolClock, SwitchedOffTheClockSendsNothingMoreEvenWithABlockRightAfter) {
  DataRoot root;
  ProtocolPlug plug;
  plug.setJobClock(&JobClock::system());
  plug.storeParamValue(kArpTempo, 280);  // 300 BPM: a tick every 8.3 ms
  for (int round = 0; round < 20; ++round) {
    const int before = plug.clockTicks;
    plug.press(kSendMIDIClockInfo, 1);
    plug.audioBlock();
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (plug.clockTicks < before + 2 && std::chrono::steady_clock::now() < end) std::this_thread::yield();
    ASSERT_GE(plug.clockTicks, before + 2) << round;
    plug.press(kSendMIDIClockInfo, 0);
    const int64_t off = JobClock::system().nowNanoseconds();
    plug.audioBlock();
    // The loop ends (its thread is free again) and its last tick left no later than 2 ms after the switch-off.
    ASSERT_TRUE(plug.waitIdle(MidiWorker::kClockThread, 2)) << "the clock still runs after round " << round;
    EXPECT_LE(plug.lastTickNs - off, 2'000'000) << round;
  }
}
