// The MIDI hub's three workers: a job runs on its own copy of its arguments, a start on a busy worker is
// dropped, the workers run side by side, and shut-down wakes, cancels and joins whatever runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "src/MIDIMessageManager.h"

namespace {

// Jobs that wait for the test to let them go, and record the arguments they saw.
struct Gate {
  std::mutex m;
  std::condition_variable cv;
  bool open = false;
  std::vector<int> slots;
  std::atomic<int> running{0};

  void wait() {
    std::unique_lock<std::mutex> lock(m);
    cv.wait(lock, [this] { return open; });
  }
  void release() {
    std::lock_guard<std::mutex> lock(m);
    open = true;
    cv.notify_all();
  }
};

bool eventually(const std::function<bool()>& f) {
  for (int i = 0; i < 5000; ++i) {
    if (f()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

SenderJob job(int code, int slot = 0) {
  SenderJob j;
  j.job = code;
  j.slot = slot;
  return j;
}

}  // namespace

TEST(MidiHub, BusyWorkerDropsTheRequestAndOtherWorkersRunAlongside) {
  MIDIMessageManager hub(nullptr, nullptr, nullptr, nullptr);
  Gate gate;
  hub.getSender()->jobRunner = [&](MIDIMessageSender&, const SenderJob& j) {
    ++gate.running;
    gate.wait();
    std::lock_guard<std::mutex> lock(gate.m);
    gate.slots.push_back(j.slot);
  };
  ASSERT_TRUE(hub.startJob(MidiWorker::kJobThread, job(kJobSendLibrarianPatch, 7)));
  EXPECT_TRUE(hub.isWorkerBusy(MidiWorker::kJobThread));
  // The busy job thread drops a second request; the argument of the running job stays as it was.
  EXPECT_FALSE(hub.startJob(MidiWorker::kJobThread, job(kJobPartRequest, 99)));
  EXPECT_TRUE(hub.startJob(MidiWorker::kClockControlThread, job(kJobStartClock, 11)));
  EXPECT_TRUE(hub.startJob(MidiWorker::kClockThread, job(kJobContinuousClock, 12)));
  ASSERT_TRUE(eventually([&] { return gate.running == 3; }));
  gate.release();
  ASSERT_TRUE(eventually([&] {
    return !hub.isWorkerBusy(MidiWorker::kJobThread) && !hub.isWorkerBusy(MidiWorker::kClockThread) &&
           !hub.isWorkerBusy(MidiWorker::kClockControlThread);
  }));
  std::vector<int> seen = gate.slots;
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(seen, (std::vector<int>{7, 11, 12}));
  // A finished worker starts again at once, many times over.
  for (int i = 0; i < 50; ++i) {
    ASSERT_TRUE(hub.startJob(MidiWorker::kJobThread, job(kJobPartRequest, 100 + i)));
    ASSERT_TRUE(eventually([&] { return !hub.isWorkerBusy(MidiWorker::kJobThread); }));
  }
  EXPECT_EQ(gate.slots.size(), 53u);
  EXPECT_EQ(gate.slots.back(), 149);
}

TEST(MidiHub, ShutDownWakesLongPausesAndRefusesNewJobs) {
  MIDIMessageManager hub(nullptr, nullptr, nullptr, nullptr);
  std::atomic<int> entered{0}, wokenEarly{0};
  hub.getSender()->jobRunner = [&](MIDIMessageSender& s, const SenderJob&) {
    ++entered;
    // A minute-long pacing sleep, as a bank store makes: shut-down must not wait it out.
    if (!s.pause(60000)) ++wokenEarly;
  };
  for (MidiWorker w : {MidiWorker::kJobThread, MidiWorker::kClockControlThread, MidiWorker::kClockThread})
    ASSERT_TRUE(hub.startJob(w, job(kJobSendArrangement)));
  ASSERT_TRUE(eventually([&] { return entered == 3; }));
  auto t0 = std::chrono::steady_clock::now();
  hub.shutDown();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
  EXPECT_EQ(wokenEarly, 3);
  EXPECT_TRUE(hub.getSender()->cancel);
  EXPECT_FALSE(hub.startJob(MidiWorker::kJobThread, job(kJobSendArrangement)));
  hub.shutDown();  // a second shut-down does nothing
}

TEST(MidiHub, FailingJobFreesItsWorkerAndUnknownCodesReturn) {
  MIDIMessageManager hub(nullptr, nullptr, nullptr, nullptr);
  std::atomic<int> calls{0};
  hub.getSender()->jobRunner = [&](MIDIMessageSender&, const SenderJob& j) {
    ++calls;
    if (j.job == kJobSendGlobal) throw std::runtime_error("port vanished");
  };
  ASSERT_TRUE(hub.startJob(MidiWorker::kJobThread, job(kJobSendGlobal)));
  ASSERT_TRUE(eventually([&] { return !hub.isWorkerBusy(MidiWorker::kJobThread); }));
  ASSERT_TRUE(hub.startJob(MidiWorker::kJobThread, job(kJobSendGlobal)));
  ASSERT_TRUE(eventually([&] { return calls == 2 && !hub.isWorkerBusy(MidiWorker::kJobThread); }));

  // Without the test runner the real dispatch runs: codes 10 and above 13 return at once.
  MIDIMessageManager plain(nullptr, nullptr, nullptr, nullptr);
  for (int code : {static_cast<int>(kJobNothing), 14, -1, 1000}) {
    ASSERT_TRUE(plain.startJob(MidiWorker::kJobThread, job(code)));
    ASSERT_TRUE(eventually([&] { return !plain.isWorkerBusy(MidiWorker::kJobThread); }));
  }
}

TEST(MidiHub, LibrarianRequestTakesMessagesUntilAWholeProgram) {
  LibraryPatchRequest r;
  r.arm();
  std::vector<uint8_t> part(100, 0x11);
  EXPECT_FALSE(r.addMessageData(part.data(), static_cast<int>(part.size())));
  EXPECT_TRUE(r.active);
  std::vector<uint8_t> dump(kProgramDumpSize, 0);
  const char name[] = "Brass\0Pad";  // a zero byte inside the name bytes is left out, later ones count
  for (int i = 0; i < 9; ++i) dump[6 + i] = static_cast<uint8_t>(name[i]);
  EXPECT_TRUE(r.addMessageData(dump.data(), kProgramDumpSize));
  EXPECT_FALSE(r.active);
  EXPECT_EQ(r.program().messages.size(), 2u);
  EXPECT_EQ(r.program().name, "BrassPad");
  r.arm();
  EXPECT_EQ(r.program().messages.size(), 0u);
  EXPECT_EQ(r.program().name, "");
}
