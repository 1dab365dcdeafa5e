// Recalls in a burst, as hosts give them when they load a project: the real editor object against the fixture's
// synthesizer emulator over JACK, with the host's audio thread running.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/vst2/vst2.h"
#include "tests/jobs/emulator_plug.h"
#include "tests/support/EmulatorClient.h"
#include "tests/support/ProjectChunk.h"

using vexmir::testsupport::Bytes;
using vexmir::testsupport::EmulatorClient;

namespace {

using Clock = std::chrono::steady_clock;

TEST(RecallBurst, SevenRecallsWithinThreeAndAHalfSecondsEndWithTheLastSentOnceAfterTheRunningSend) {
  EmulatorClient emulator;
  emulator.reset();
  jobtest::DataRoot root;
  std::vector<Bytes> chunks;
  {
    jobtest::EmulatorPlug a(&JobClock::system());
    ASSERT_TRUE(a.connect());
    AEffect* e = a.GetAEffect();
    for (int k = 1; k <= 7; ++k) {
      a.GetParam(kPatchName)->SetDisplayText(0, ("Burst " + std::to_string(k)).c_str());
      chunks.push_back(vexmir::testsupport::projectOf(e));
      ASSERT_FALSE(chunks.back().empty());
    }
  }
  emulator.clearLog();
  const size_t mark = emulator.logMark();
  jobtest::EmulatorPlug b(&JobClock::system());
  AEffect* e = b.GetAEffect();
  std::atomic<bool> done{false};
  std::thread audio([&] {  // the host's audio thread, with the transport stopped
    float left[256], right[256];
    float* out[2] = {left, right};
    while (!done) {
      e->processReplacing(e, out, out, 256);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  const auto start = Clock::now();
  for (size_t k = 0; k < chunks.size(); ++k) {
    std::this_thread::sleep_until(start + std::chrono::milliseconds(500) * k);
    EXPECT_TRUE(vexmir::testsupport::openProject(e, chunks[k]));
  }
  // Once nothing is pending and the job thread is free, nothing more goes out.
  const auto deadline = Clock::now() + std::chrono::seconds(60);
  while ((b.recallSendPending || b.getMidiManager()->isWorkerBusy(MidiWorker::kJobThread)) && Clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  done = true;
  audio.join();
  EXPECT_FALSE(b.recallSendPending);
  EXPECT_EQ(emulator.editName(), "Burst 7     ");
  // The first recall's send, then the last one's: each a global dump and a program dump.
  EXPECT_EQ(emulator.countLog("in F0 42 30 58 51", mark), 2);
  EXPECT_EQ(emulator.countLog("in F0 42 30 58 40", mark), 2);
  std::printf("recalls over %.1f s; the last program at the synthesizer %.1f s after the first recall\n",
              0.5 * static_cast<double>(chunks.size() - 1),
              std::chrono::duration<double>(Clock::now() - start).count());
}

}  // namespace
