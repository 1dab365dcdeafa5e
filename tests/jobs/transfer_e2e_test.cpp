// The transfer jobs of the real editor object against the synthesizer emulator over a real JACK server:
// bank and program stores, audition, cancelling halfway, a state recall into a second instance, the
// randomizer's program, and the MIDI clock of two instances. The jobs' pauses run on a clock that
// shortens them (the exchange itself is real); one case runs on the machine's own clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <random>
#include <sstream>
#include <thread>

#include "KIT/IEffect/IParam.h"
#include "platform/vst2/vst2.h"
#include "src/MIDIClock.h"
#include "src/MIDIMessageManager.h"
#include "src/ProgramDump.h"
#include "src/Vexmir.h"
#include "tests/jobs/clock_grid.h"
#include "tests/jobs/emulator_plug.h"
#include "tests/support/EmulatorClient.h"
#include "tests/support/ProjectChunk.h"
#include "tests/support/SysexDumps.h"

using vexmir::testsupport::Bytes;
using vexmir::testsupport::dataOf;
using vexmir::testsupport::dumpOf;
using vexmir::testsupport::EmulatorClient;
using vexmir::testsupport::openProject;
using vexmir::testsupport::projectOf;

namespace {

// 128 programs of random data, each named after its slot.
std::vector<LibrarianPatch> randomBank(uint32_t seed, std::vector<Bytes>* data) {
  std::mt19937 rng(seed);
  std::vector<LibrarianPatch> bank(128);
  for (int p = 0; p < 128; ++p) {
    Bytes d(kProgramDataSize);
    for (auto& b : d) b = static_cast<uint8_t>(rng());
    char name[13];
    std::snprintf(name, sizeof name, "Stored %03d  ", p);
    for (int i = 0; i < 12; ++i) d[static_cast<size_t>(i)] = static_cast<uint8_t>(name[i]);
    const Bytes dump = dumpOf(d);
    bank[static_cast<size_t>(p)].messages.emplace_back().data.assign(dump.data(), dump.size());
    data->push_back(d);
  }
  return bank;
}

SenderJob storeJob(std::vector<LibrarianPatch> bank) {
  SenderJob job = jobtest::jobOf(kJobStoreAllPatches);
  job.bank = std::move(bank);
  return job;
}

// Whether a store's end text names program `p` (from 0) as not taken; "and more" names all after the last shown.
bool namesProgram(const std::string& end, int p) {
  int first = 0, last = 0;
  for (size_t at = end.rfind(": "); at != std::string::npos; at = end.find(", ", at + 1))
    if (const int n = std::sscanf(end.c_str() + at + 2, "%d-%d", &first, &last); n > 0 && first <= p + 1)
      if (p + 1 <= (n == 2 ? last : first)) return true;
  return first > 0 && p + 1 > first && end.find(" and more") != std::string::npos;
}

double seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

using TransferE2E = jobtest::EmulatorTest;

}  // namespace

TEST_F(TransferE2E, AStoredBankEqualsTheEmulatorsProgramsByteForByte) {
  ScaledJobClock storeClock(10);  // a dump's pause long enough for its result on a loaded machine
  jobtest::EmulatorPlug plug(&storeClock);
  ASSERT_TRUE(plug.connect());
  plug.storeParamValue(kMainTab, 1);
  ASSERT_TRUE(plug.run(kJobActiveArrangementRequest, true));  // a first exchange, before the store's results count
  // A request answered only after its wait has ended, once the store has sent its first program: no result of it.
  emulator.check("delay answers 600000");
  ASSERT_TRUE(plug.run(kJobSinglePatchRequest, true));
  EXPECT_EQ(plug.lastText(), "CONNECTION TIMED OUT!");
  const size_t first = plug.texts().size();
  const int dumps = plug.sent(0x40);
  std::vector<Bytes> data;
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(plug.getMidiManager()->startJob(MidiWorker::kJobThread, storeJob(randomBank(11, &data))));
  ASSERT_TRUE(plug.waitSent(0x40, dumps));
  emulator.check("delay answers 0");
  ASSERT_TRUE(plug.waitIdle());
  std::printf("bank store with pauses / 10: %.2f s\n", seconds(std::chrono::steady_clock::now() - start));
  // What the editor said first: a store that lost a program must not say that all were stored.
  const auto texts = plug.texts();
  const std::string said = ::testing::PrintToString(std::vector<std::string>(texts.begin() + first, texts.end()));
  ASSERT_GE(texts.size(), first + 2) << said;
  EXPECT_EQ(texts[first], "Please wait! Writing.. 0%") << said;
  EXPECT_EQ(texts[texts.size() - 2], "Please wait! Writing.. 100%") << said;
  EXPECT_EQ(texts.back(), "All 128 programs stored and confirmed!") << said;
  EXPECT_EQ(plug.librarianLine(), "All 128 programs stored and confirmed!");  // the late answer said, then replaced
  EXPECT_FALSE(plug.isProcessingIndicatorShown());
  ASSERT_TRUE(emulator.waitForLog("in F0 42 30 58 11 00 7F F7").has_value());
  for (int p = 0; p < 128; ++p)
    ASSERT_EQ(emulator.program(p), data[static_cast<size_t>(p)]) << "program " << p << "; the editor said " << said;
}

TEST_F(TransferE2E, CancelHalfwayLeavesTheRestOfTheEmulatorsMemoryUntouched) {
  ScaledJobClock storeClock(10);
  jobtest::EmulatorPlug plug(&storeClock);
  ASSERT_TRUE(plug.connect());
  ASSERT_TRUE(plug.run(kJobActiveArrangementRequest, true));
  std::vector<Bytes> before;
  for (int p = 0; p < 128; ++p) before.push_back(emulator.program(p));
  std::vector<Bytes> data;
  MIDIMessageSender* sender = plug.getMidiManager()->getSender();
  plug.setStatusHook([sender](const std::string& text) {
    if (text == "Please wait! Writing.. 50%") sender->cancel = true;
  });
  ASSERT_TRUE(plug.run(storeJob(randomBank(12, &data))));
  // A program before the cancel is in the memory unless the end names it as not taken; nothing went to those after.
  const std::string end = plug.lastText();
  ASSERT_EQ(end.rfind("Data write cancelled!", 0), 0u) << end;
  for (int p = 0; p <= 64; ++p)
    EXPECT_TRUE(emulator.program(p) == data[static_cast<size_t>(p)] || namesProgram(end, p)) << p << ": " << end;
  for (int p = 65; p < 128; ++p) ASSERT_EQ(emulator.program(p), before[static_cast<size_t>(p)]) << p;
  EXPECT_FALSE(plug.isProcessingIndicatorShown());
}

TEST_F(TransferE2E, AuditionReachesTheEditBufferOnlyAndStoreWritesOneProgram) {
  jobtest::EmulatorPlug plug(&clock);
  ASSERT_TRUE(plug.connect());
  std::vector<Bytes> data;
  const std::vector<LibrarianPatch> bank = randomBank(13, &data);
  const Bytes program9 = emulator.program(9);
  SenderJob job = jobtest::jobOf(kJobSendLibrarianPatch);
  job.patch = bank[9];
  job.slot = 9;
  // The librarian's banks are held while each runs (the synthesizer gets what the list shows) and let go after.
  std::atomic<int> held{0}, seen{0};
  plug.onSend = [&] { held += plug.getMidiManager()->jobSendsLibrarian ? 1 : 0, ++seen; };
  ASSERT_TRUE(plug.run(job));
  EXPECT_TRUE(seen > 0 && held == seen && !plug.getMidiManager()->jobSendsLibrarian) << held << " of " << seen;
  ASSERT_TRUE(emulator.waitForLog("in F0 42 30 58 40").has_value());
  EXPECT_EQ(emulator.editBuffer(), data[9]);
  EXPECT_EQ(emulator.program(9), program9);

  const size_t mark = emulator.logMark();
  plug.singleProgramFlag = true;
  job.patch = bank[20];
  job.slot = 20;
  held = seen = 0;
  ASSERT_TRUE(plug.run(job));
  EXPECT_TRUE(seen > 0 && held == seen && !plug.getMidiManager()->jobSendsLibrarian) << held << " of " << seen;
  ASSERT_TRUE(emulator.waitForLog("in F0 42 30 58 11 00 14 F7", mark).has_value());
  EXPECT_EQ(emulator.program(20), data[20]);
  EXPECT_FALSE(plug.singleProgramFlag);
}

TEST_F(TransferE2E, ARecalledStateReopensThePortsAndSendsEditOffGlobalAndProgramInThatOrder) {
  Bytes chunk;
  Bytes expectedProgram;
  {
    jobtest::EmulatorPlug a(&clock);
    ASSERT_TRUE(a.connect());
    a.GetParam(kPatchName)->SetDisplayText(0, "Recall Me");
    for (int i : {int{kFilterCutoff}, int{kFilterResonance}, int{kAmpLevel}, int{kEG1Attack}})
      a.storeParamValue(i, 33 + i % 50);
    chunk = projectOf(a.GetAEffect());
    ASSERT_FALSE(chunk.empty());
    Bytes dump(kProgramDumpSize);
    const std::vector<double> values = a.currentValues();
    // A recalled program's bytes that no parameter holds are the initial program's.
    buildProgramDump(values.data(), "Recall Me", 0x30, initialProgramData(), dump.data());
    expectedProgram = dataOf(dump);
  }
  emulator.clearLog();
  const size_t mark = emulator.logMark();
  jobtest::EmulatorPlug b(&clock);
  ASSERT_TRUE(openProject(b.GetAEffect(), chunk));
  EXPECT_GT(b.paramValue(kDeviceOutSelection), 0.0);
  EXPECT_GT(b.paramValue(kDeviceInSelection), 0.0);
  ASSERT_TRUE(b.waitIdle());
  ASSERT_TRUE(emulator.waitForLog("in F0 42 30 58 40", mark).has_value());
  std::vector<std::string> sysex;
  for (const std::string& line : emulator.log(mark))
    if (line.find(" in F0 ") != std::string::npos) sysex.push_back(line.substr(line.find(" in ") + 4, 14));
  ASSERT_GE(sysex.size(), 3u);
  EXPECT_EQ(sysex[0], "F0 42 30 58 4E");
  EXPECT_EQ(sysex[1], "F0 42 30 58 51");
  EXPECT_EQ(sysex[2], "F0 42 30 58 40");
  EXPECT_EQ(emulator.editBuffer(), expectedProgram);
  EXPECT_EQ(emulator.editName(), "Recall Me   ");
}

TEST_F(TransferE2E, ARecallDuringATransferReachesTheSynthesizerWhenTheTransferEnds) {
  Bytes chunk;
  {
    jobtest::EmulatorPlug a(&clock);
    ASSERT_TRUE(a.connect());
    a.GetParam(kPatchName)->SetDisplayText(0, "Recalled");
    chunk = projectOf(a.GetAEffect());
  }
  jobtest::EmulatorPlug b(&clock);
  ASSERT_TRUE(b.connect());
  SenderJob fetchAll;
  fetchAll.job = kJobAllPatchRequest;
  ASSERT_TRUE(b.getMidiManager()->startJob(MidiWorker::kJobThread, fetchAll));
  ASSERT_TRUE(openProject(b.GetAEffect(), chunk));
  ASSERT_TRUE(b.getMidiManager()->isWorkerBusy(MidiWorker::kJobThread));  // the recall found the thread taken
  ASSERT_TRUE(b.waitIdle());
  // An audio block after the transfer starts the recalled program's send.
  for (int i = 0; i < 1000 && emulator.editName() != "Recalled    "; ++i) {
    b.audioBlock();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(emulator.editName(), "Recalled    ");
}

TEST_F(TransferE2E, ARandomizedProgramReachesTheEmulatorAsTheEditorHoldsIt) {
  jobtest::EmulatorPlug plug(&clock);
  ASSERT_TRUE(plug.connect());
  plug.storeParamValue(kMainTab, 2);
  plug.storeParamValue(kRandomize, 1);
  const size_t mark = emulator.logMark();
  plug.randomizeProgram();
  ASSERT_TRUE(plug.waitIdle());
  ASSERT_TRUE(emulator.waitForLog("in F0 42 30 58 40", mark).has_value());
  Bytes dump(kProgramDumpSize);
  plug.buildProgramDumpOf(plug.heldProgramName(), plug.currentValues(), dump.data());
  EXPECT_EQ(emulator.editBuffer(), dataOf(dump));
  EXPECT_EQ(plug.paramValue(kRandomize), 0.0);
  EXPECT_TRUE(plug.partRequestPending);
}

TEST_F(TransferE2E, ABankStoreInRealTimeKeepsTheSynthesizersPaceAndStopsAtAnEmptySlot) {
  jobtest::EmulatorPlug plug(&JobClock::system());
  ASSERT_TRUE(plug.connect());
  std::vector<Bytes> data;
  std::vector<LibrarianPatch> bank = randomBank(14, &data);
  bank[3].messages.clear();  // three programs in real time, then the early end
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(plug.run(storeJob(bank)));
  const double took = seconds(std::chrono::steady_clock::now() - start);
  std::printf("three programs stored in real time: %.2f s\n", took);
  // 50 ms, then per program 50 + 75 + 500 + 1800 ms.
  EXPECT_GE(took, 0.05 + 3 * 2.425);
  EXPECT_LT(took, 0.05 + 3 * 2.425 + 3.0);
  for (int p = 0; p < 3; ++p) EXPECT_EQ(emulator.program(p), data[static_cast<size_t>(p)]);
  EXPECT_EQ(plug.texts().back(), "Data write stopped at program 4!");
  EXPECT_FALSE(plug.isProcessingIndicatorShown());
}

namespace {

struct Tick {
  double time;
  std::string what;
};

// Real-time bytes the emulator logged from `mark` on, with their times.
std::vector<Tick> realTimeLog(EmulatorClient& emulator, size_t mark) {
  std::vector<Tick> out;
  for (const std::string& line : emulator.log(mark)) {
    std::istringstream in(line);
    double t;
    std::string dir, byte;
    if (!(in >> t >> dir >> byte) || dir != "in") continue;
    if (byte == "F8" || byte == "FA" || byte == "FC") out.push_back({t, byte});
  }
  return out;
}

}  // namespace

TEST_F(TransferE2E, TwoInstancesKeepTheirOwnClocksAtTheStatedSpacing) {
  jobtest::EmulatorPlug a(&JobClock::system());
  jobtest::EmulatorPlug b(&JobClock::system());
  ASSERT_TRUE(a.connect());
  ASSERT_TRUE(b.connect());
  for (jobtest::EmulatorPlug* p : {&a, &b}) {
    p->sendClockStartStop = true;
    p->sendClockTicks = true;
    p->storeParamValue(kOverrideTempo, 0);
  }
  a.storeParamValue(kArpTempo, 100);  // 120 BPM
  b.storeParamValue(kArpTempo, 180);  // 200 BPM
  // A stretch lasts until a clock has sent its ticks, not for a time of the machine's: a loaded machine that holds a
  // clock back makes the stretch longer, not its ticks fewer.
  auto sent = [](jobtest::EmulatorPlug& p, size_t ticks) {
    while (p.sentTicks().size() < ticks && p.getMidiManager()->isWorkerBusy(MidiWorker::kClockThread))
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return p.sentTicks().size() >= ticks;
  };
  emulator.clearLog();
  const size_t mark = emulator.logMark();
  // A alone for ten seconds' ticks, then B beside it for a second's, then A stops and B runs on for ten seconds'.
  ASSERT_TRUE(a.run(jobtest::jobOf(kJobStartClock), MidiWorker::kClockControlThread));
  a.getMidiManager()->getSender()->resetContinuousClock(false);
  ASSERT_TRUE(a.getMidiManager()->startJob(MidiWorker::kClockThread, jobtest::jobOf(kJobContinuousClock)));
  ASSERT_TRUE(sent(a, 490));
  b.getMidiManager()->getSender()->resetContinuousClock(false);
  ASSERT_TRUE(b.getMidiManager()->startJob(MidiWorker::kClockThread, jobtest::jobOf(kJobContinuousClock)));
  ASSERT_TRUE(sent(b, 80));
  a.getMidiManager()->getSender()->resetContinuousClock(true);
  ASSERT_TRUE(a.waitIdle(MidiWorker::kClockThread, 5));
  EXPECT_TRUE(b.getMidiManager()->isWorkerBusy(MidiWorker::kClockThread));  // B's clock runs on
  ASSERT_TRUE(sent(b, 80 + 816));
  b.getMidiManager()->getSender()->resetContinuousClock(true);
  ASSERT_TRUE(b.waitIdle(MidiWorker::kClockThread, 5));
  ASSERT_TRUE(b.run(jobtest::jobOf(kJobStopClock), MidiWorker::kClockControlThread));
  ASSERT_TRUE(emulator.waitForLog("in FC", mark).has_value());

  // Every tick that left an instance reached the synthesizer, between the start and the stop.
  const std::vector<Tick> ticks = realTimeLog(emulator, mark);
  const std::vector<int64_t> sentA = a.sentTicks(), sentB = b.sentTicks();
  ASSERT_GT(ticks.size(), 100u);
  EXPECT_EQ(ticks.front().what, "FA");
  EXPECT_EQ(ticks.back().what, "FC");
  EXPECT_EQ(static_cast<size_t>(std::count_if(ticks.begin(), ticks.end(), [](const Tick& t) { return t.what == "F8"; })),
            sentA.size() + sentB.size());
  // Each instance keeps its own grid at the sender: no tick leaves before its place, and a late one (the machine's
  // scheduling) is made up by the next, so that the mean spacing is the tempo's.
  auto checkGrid = [](const std::vector<int64_t>& sent, int bpm) {
    SCOPED_TRACE(std::to_string(bpm) + " BPM");
    const int64_t interval = MIDIClock::tickInterval(bpm);
    const clocktest::GridReading grid = clocktest::readGrid(sent, interval);
    std::printf("%d BPM: %zu ticks, mean spacing at the sender %.4f ms (grid %.4f ms), %d restarts after a stall\n",
                bpm, sent.size(), grid.meanSpacing / 1e6, interval / 1e6, grid.restarts);
    EXPECT_GE(grid.earliest, -200'000) << "a tick left before its place";
    EXPECT_NEAR(grid.meanSpacing, double(interval), 1e6);
  };
  checkGrid(sentA, 120);
  checkGrid(sentB, 200);
}

// Results held and let go (0) as the dump went out, (1) as it went out again, (2) at the store's end, (3) far past,
// after an audition, a bank store and the next store's marker, at 200 and 400 ms paces: a store confirms only what its
// own results confirm, the next, whose results never come, writes nothing; a late result is said until a success.
TEST_F(TransferE2E, EveryStoreTakesOnlyItsOwnResultsWheneverTheyCome) {
  ScaledJobClock storeClock(10);
  jobtest::EmulatorPlug plug(&storeClock);
  ASSERT_TRUE(plug.connect());
  plug.storeParamValue(kMainTab, 1);
  std::vector<Bytes> data;
  const std::vector<LibrarianPatch> bank = randomBank(14, &data);
  auto store = [&](int slot) {  // STORE TO SLOT, started
    SenderJob job = jobtest::jobOf(kJobSendLibrarianPatch);
    job.patch = bank[static_cast<size_t>(slot)], job.slot = slot, plug.singleProgramFlag = true;
    return plug.getMidiManager()->startJob(MidiWorker::kJobThread, job);
  };
  auto said = [](int slot, const char* what) { return "Program " + std::to_string(slot + 1) + what; };
  const char *stored = " stored and confirmed!", *notWritten = " not confirmed by the synth: not written!";
  ASSERT_TRUE(store(100) && plug.waitIdle());  // the synthesizer confirms stores
  ASSERT_EQ(plug.lastText(), said(100, stored));
  for (int n = 0; n < 8; ++n) {
    const int at = n % 4, a = 2 * n + 2, b = a + 1, dumps = plug.sent(0x40);
    SCOPED_TRACE("pace " + std::to_string(n / 4 * 200 + 200) + " ms, let go at " + std::to_string(at));
    plug.storeParamValue(kLibSyncTimer, n / 4 * 2);
    const Bytes aBefore = emulator.program(a), bBefore = emulator.program(b);
    emulator.check("delay answers 600000");
    ASSERT_TRUE(store(a) && (at < 2 ? plug.waitSent(0x40, dumps + at) : plug.waitIdle()));
    std::string end = plug.lastText();
    if (at == 3) {  // an audition, and a bank store that stops at its empty fourth slot
      SenderJob audition = jobtest::jobOf(kJobSendLibrarianPatch);
      audition.patch = bank[3];
      std::vector<LibrarianPatch> three(bank.begin() + 40, bank.begin() + 43);
      three.resize(128);
      ASSERT_TRUE(plug.run(audition) && plug.run(storeJob(three)));
      EXPECT_EQ(plug.lastText(), "Data write stopped at program 4! Not confirmed (not written): 1-3");
      const int markers = plug.sent(0x0E);
      emulator.check("results off");  // the results of store b never come
      ASSERT_TRUE(store(b) && plug.waitSent(0x0E, markers));
    }
    emulator.check("delay answers 0");
    ASSERT_TRUE(plug.waitIdle());
    if (at < 3) {
      end = plug.lastText();
      emulator.check("results off");
      ASSERT_TRUE(store(b) && plug.waitIdle());
    }
    emulator.check("results on");
    EXPECT_TRUE(end == said(a, stored) ? emulator.program(a) == data[static_cast<size_t>(a)]
                                       : end == said(a, notWritten) && emulator.program(a) == aBefore) << end;
    EXPECT_TRUE(at < 2 || end == said(a, notWritten)) << end;
    EXPECT_EQ(plug.lastText(), said(b, notWritten));
    EXPECT_EQ(emulator.program(b), bBefore);
    EXPECT_TRUE(at < 2 || plug.librarianLine() == "Late answer from the synth dropped") << plug.librarianLine();
    ASSERT_TRUE(store(b) && plug.waitIdle());
    EXPECT_EQ(plug.lastText(), said(b, stored));
    EXPECT_EQ(emulator.program(b), data[static_cast<size_t>(b)]);
    EXPECT_NE(plug.librarianLine(), "Late answer from the synth dropped");
  }
}
