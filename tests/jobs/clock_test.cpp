// The MIDI clock loop on a manual clock: tick spacing, tempo limits, stopping, and one clock per instance.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "src/MIDIClock.h"

namespace {

struct Recorder {
  std::vector<int64_t> times;
  std::vector<uint8_t> bytes;
};

// Runs a clock on `clock` until `ticks` ticks have been sent.
int runTicks(MIDIClock& midiClock, JobClock& clock, int bpm, int ticks, Recorder& rec) {
  midiClock.resetContinuousClock(false);
  return midiClock.run(
      bpm, [] { return true; },
      [&](uint8_t b) {
        rec.bytes.push_back(b);
        rec.times.push_back(clock.nowNanoseconds());
        if (static_cast<int>(rec.bytes.size()) >= ticks) midiClock.resetContinuousClock(true);
      });
}

TEST(MIDIClock, TickIntervalFollowsTheTempoWithinTwentyToThreeHundred) {
  const struct {
    int bpm;
    int64_t ns;
  } rows[] = {{120, 20'833'333}, {200, 12'500'000}, {90, 27'777'777},  {20, 125'000'000}, {300, 8'333'333},
              {0, 125'000'000},  {-5, 125'000'000}, {19, 125'000'000}, {301, 8'333'333},  {100000, 8'333'333}};
  for (const auto& r : rows) EXPECT_EQ(MIDIClock::tickInterval(r.bpm), r.ns) << r.bpm;
}

TEST(MIDIClock, TempoListTextsGiveTheirLeadingDigitsAndBadIndicesGiveNothing) {
  const std::vector<std::string> list = {"20", "90 BPM", "abc", "", "999999999999"};
  EXPECT_EQ(MIDIClock::tempoFromList(list, 0), 20);
  EXPECT_EQ(MIDIClock::tempoFromList(list, 1), 90);
  EXPECT_EQ(MIDIClock::tempoFromList(list, 2), 0);
  EXPECT_EQ(MIDIClock::tempoFromList(list, 3), 0);
  EXPECT_GT(MIDIClock::tempoFromList(list, 4), 300);  // far too fast, limited by the clock itself
  EXPECT_EQ(MIDIClock::tempoFromList(list, -1), 0);
  EXPECT_EQ(MIDIClock::tempoFromList(list, 5), 0);
}

TEST(MIDIClock, TicksKeepTheirGridForTenSecondsAtOneTwentyAndTwoHundred) {
  for (int bpm : {120, 200}) {
    ManualJobClock clock;
    MIDIClock midiClock(&clock);
    Recorder rec;
    const int ticks = 24 * bpm / 6;  // ten seconds
    EXPECT_EQ(runTicks(midiClock, clock, bpm, ticks, rec), ticks);
    const int64_t interval = MIDIClock::tickInterval(bpm);
    for (size_t i = 1; i < rec.times.size(); ++i)
      ASSERT_NEAR(rec.times[i] - rec.times[i - 1], interval, 1) << "tick " << i << " at " << bpm;
    // No drift: the last tick is where the grid puts it.
    EXPECT_EQ(rec.times.back() - rec.times.front(), interval * (ticks - 1));
    for (uint8_t b : rec.bytes) EXPECT_EQ(b, 0xF8);
  }
}

TEST(MIDIClock, AClosedOutputEndsTheLoopWithoutSendingAndClearsTheFlag) {
  ManualJobClock clock;
  MIDIClock midiClock(&clock);
  midiClock.resetContinuousClock(false);
  int sent = 0, asked = 0;
  int ticks = midiClock.run(
      120, [&] { return ++asked < 3; }, [&](uint8_t) { ++sent; });
  EXPECT_EQ(ticks, 3);  // the first at once, then two while the output was ready
  EXPECT_EQ(sent, 3);
  EXPECT_FALSE(midiClock.isRunning());
}

TEST(MIDIClock, AStoppedClockSendsOnlyItsFirstTick) {
  ManualJobClock clock;
  MIDIClock midiClock(&clock);
  midiClock.resetContinuousClock(true);
  int sent = 0;
  EXPECT_EQ(midiClock.run(
                120, [] { return true; }, [&](uint8_t) { ++sent; }),
            1);
  EXPECT_EQ(sent, 1);
}

TEST(MIDIClock, ShortStallsAreMadeUpAndLongOnesRestartTheGrid) {
  ManualJobClock clock;
  MIDIClock midiClock(&clock);
  Recorder rec;
  midiClock.resetContinuousClock(false);
  midiClock.run(
      120, [] { return true; },
      [&](uint8_t) {
        rec.times.push_back(clock.nowNanoseconds());
        if (rec.times.size() == 3) clock.advance(50'000'000);    // held up for two ticks and a bit
        if (rec.times.size() == 10) clock.advance(300'000'000);  // suspended
        if (rec.times.size() == 14) midiClock.resetContinuousClock(true);
      });
  ASSERT_EQ(rec.times.size(), 14u);
  // The ticks missed during the short stall leave at once, and the next one is back on the grid.
  EXPECT_EQ(rec.times[4], rec.times[3]);
  EXPECT_NEAR(rec.times[5] - rec.times[0], 5 * 20'833'333, 1);
  // After the long stall the grid starts again one tick after the late moment.
  EXPECT_EQ(rec.times[10] - rec.times[9], 300'000'000 + 20'833'333);
  for (size_t i = 11; i < rec.times.size(); ++i) EXPECT_NEAR(rec.times[i] - rec.times[i - 1], 20'833'333, 1);
}

TEST(MIDIClock, TwoInstancesKeepSeparateClocks) {
  ManualJobClock clockA, clockB;
  MIDIClock a(&clockA), b(&clockB);
  a.resetContinuousClock(false);
  b.resetContinuousClock(false);
  int sentB = 0;
  std::thread loopB([&] {
    b.run(
        200, [] { return true; }, [&](uint8_t) { ++sentB; });
  });
  // Stopping A leaves B running.
  a.resetContinuousClock(true);
  EXPECT_FALSE(a.isRunning());
  EXPECT_TRUE(b.isRunning());
  b.resetContinuousClock(true);
  loopB.join();
  EXPECT_GE(sentB, 1);
}

TEST(MIDIClock, AStopRequestOnTheSystemClockEndsTheLoopWithinAFewMilliseconds) {
  // The machine's clock, with the longest single wait of the loop noted: that wait, not the machine's
  // scheduling, is how long a stop request can go unseen.
  struct WaitRecordingClock : JobClock {
    int64_t nowNanoseconds() override { return JobClock::system().nowNanoseconds(); }
    void sleepMilliseconds(int ms) override { JobClock::system().sleepMilliseconds(ms); }
    void waitUntil(int64_t deadline, int64_t maxWait) override {
      const int64_t wait = std::min(deadline - nowNanoseconds(), maxWait);
      if (wait > longestWait.load()) longestWait = wait;
      JobClock::system().waitUntil(deadline, maxWait);
    }
    std::atomic<int64_t> longestWait{0};
  } clock;
  MIDIClock midiClock(&clock);
  midiClock.resetContinuousClock(false);
  std::atomic<int> sent{0};
  std::thread loop([&] {
    midiClock.run(
        20, [] { return true; }, [&](uint8_t) { ++sent; });
  });
  // Stopped while it waits for the next tick, 125 ms away at 20 BPM.
  while (sent.load() == 0 || clock.longestWait.load() == 0) std::this_thread::yield();
  midiClock.resetContinuousClock(true);
  loop.join();
  EXPECT_LE(clock.longestWait.load(), 1'000'000) << "the loop must look at a stop request every millisecond";
  EXPECT_EQ(sent.load(), 1) << "no tick after the stop";
}

}  // namespace
