// The transfer jobs on a manual clock: requests with the channel search, connecting, fetching all
// programs, storing a bank, auditioning and storing one program, cancelling.
#include <gtest/gtest.h>

#include <random>

#include "job_plug.h"
#include "src/PatchFile.h"
#include "src/PatchLibrarian.h"
#include "src/PatchManager.h"
#include "src/ProgramDump.h"
#include "src/ProgramTransfer.h"
#include "tests/support/SysexDumps.h"

using namespace jobtest;

namespace {

std::vector<Bytes> requestsOf(const std::vector<Bytes>& sent, uint8_t function) {
  std::vector<Bytes> out;
  for (const Bytes& b : sent)
    if (isRequest(b, function)) out.push_back(b);
  return out;
}

bool contains(const std::vector<std::string>& texts, const std::string& t) {
  return std::find(texts.begin(), texts.end(), t) != texts.end();
}

// A bank of 128 programs, each a program dump named after its slot with a few bytes of its own.
std::vector<LibrarianPatch> makeBank() {
  std::vector<LibrarianPatch> bank(128);
  for (int p = 0; p < 128; ++p) {
    Bytes dump(initialProgramDump(), initialProgramDump() + kProgramDumpSize);
    dump[6] = static_cast<uint8_t>('A' + p % 26);
    dump[60] = static_cast<uint8_t>(p);
    bank[p].messages.emplace_back().data.assign(dump.data(), dump.size());
    bank[p].name = std::string(1, static_cast<char>(dump[6]));
  }
  return bank;
}

}  // namespace

TEST(TransferJobs, TheChannelSearchFindsASynthesizerOnChannelFiveAfterItsSilentPolls) {
  JobPlug plug;
  plug.synthChannel = 4;
  SenderJob job = jobOf(kJobPartRequest);
  job.toEditor = true;
  ASSERT_TRUE(plug.run(job));
  const std::vector<Bytes> requests = requestsOf(plug.messages(), 0x10);
  // One request on the editor's channel, 30 silent polls, then channels 1 to 5 and no further.
  ASSERT_EQ(requests.size(), 6u);
  EXPECT_EQ(requests[0][2], 0x30);
  for (int n = 0; n < 5; ++n) EXPECT_EQ(requests[static_cast<size_t>(n + 1)][2], 0x30 + n);
  EXPECT_EQ(plug.clock.sleptMilliseconds(), 100 * (1 + 30 + 5));
  EXPECT_EQ(plug.texts().back(), "Data request completed!");
  EXPECT_FALSE(plug.isProcessingIndicatorShown());
}

TEST(TransferJobs, ASilentSynthesizerEndsTheRequestWithATimeOutAtTheStatedPace) {
  JobPlug plug;
  plug.GetParam(kLibSyncTimer)->Set(3);  // 500 ms
  SenderJob job = jobOf(kJobPartRequest);
  job.toEditor = true;
  ASSERT_TRUE(plug.run(job));
  EXPECT_EQ(requestsOf(plug.messages(), 0x10).size(), 17u);
  // The first sleep, 35 polls, 16 search sleeps and the closing pause.
  EXPECT_EQ(plug.clock.sleptMilliseconds(), 500 * (1 + 35 + 16 + 1));
  const auto texts = plug.texts();
  EXPECT_TRUE(contains(texts, "CONNECTION TIMED OUT!"));
  EXPECT_FALSE(contains(texts, "Data request completed!"));
}

TEST(TransferJobs, ConnectingSaysWhetherTheSynthesizerAnsweredAndACancelNeverSaysReady) {
  {
    JobPlug plug;
    plug.synthChannel = 0;
    ASSERT_TRUE(plug.run(jobOf(kJobDeviceIdEnquiry)));
    EXPECT_EQ(requestsOf(plug.messages(), 0x0E).size(), 1u);
    EXPECT_EQ(plug.texts().front(), "Connecting to Hardware");
    EXPECT_EQ(plug.texts().back(), "Plug-in is ready to go!");
  }
  {
    JobPlug plug;
    ASSERT_TRUE(plug.run(jobOf(kJobDeviceIdEnquiry)));
    EXPECT_EQ(requestsOf(plug.messages(), 0x0E).size(), 17u);  // the search after the 15th poll
    EXPECT_TRUE(contains(plug.texts(), "No response from Hardware"));
    EXPECT_FALSE(contains(plug.texts(), "Plug-in is ready to go!"));
    EXPECT_FALSE(plug.isProcessingIndicatorShown());
  }
  {
    JobPlug plug;
    int pauses = 0;
    plug.onPause = [&] {
      if (++pauses == 3) plug.getMidiManager()->getSender()->cancel = true;
    };
    ASSERT_TRUE(plug.run(jobOf(kJobDeviceIdEnquiry)));
    EXPECT_FALSE(contains(plug.texts(), "Plug-in is ready to go!"));
    EXPECT_EQ(plug.texts().back(), "Data request CANCELLED!");
  }
}

TEST(TransferJobs, FetchingAllProgramsAsksForEachProgramInTurn) {
  JobPlug plug;
  plug.synthChannel = 0;
  ASSERT_TRUE(plug.run(jobOf(kJobAllPatchRequest)));
  const std::vector<Bytes> sent = plug.messages();
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(sent.front(), (Bytes{0xB0, 0x20, 0x00}));
  int program = 0;
  for (size_t i = 1; i < sent.size(); ++i) {
    if (sent[i].size() == 3 && sent[i][0] == 0xC0) {
      EXPECT_EQ(sent[i][1], program) << i;
      ASSERT_TRUE(i + 1 < sent.size() && isRequest(sent[i + 1], 0x10)) << "program " << program;
      ++program;
    }
  }
  EXPECT_EQ(program, 128);
  EXPECT_EQ(plug.texts().back(), "Data request completed!");
  EXPECT_EQ(plug.getLibrarian()->selectedSlot(0), 0);
}

TEST(TransferJobs, StoringABankWritesAll128ProgramsWithProgressFromZeroToHundred) {
  JobPlug plug;
  SenderJob job = jobOf(kJobStoreAllPatches);
  job.bank = makeBank();
  ASSERT_TRUE(plug.run(job));
  const std::vector<Bytes> sent = plug.messages();
  ASSERT_EQ(sent.size(), 1u + 128u * 3u);
  EXPECT_EQ(sent[0], (Bytes{0xB0, 0x7B, 0x00}));
  for (int p = 0; p < 128; ++p) {
    const Bytes& pc = sent[static_cast<size_t>(1 + 3 * p)];
    const Bytes& dump = sent[static_cast<size_t>(2 + 3 * p)];
    const Bytes& write = sent[static_cast<size_t>(3 + 3 * p)];
    EXPECT_EQ(pc[0], 0xC0);
    EXPECT_EQ(pc[1], p);
    const auto& source = job.bank[static_cast<size_t>(p)].messages.front().data;
    ASSERT_EQ(dump, Bytes(source.data(), source.data() + source.size())) << p;
    EXPECT_EQ(write, (Bytes{0xF0, 0x42, 0x30, 0x58, 0x11, 0x00, static_cast<uint8_t>(p), 0xF7}));
  }
  std::vector<std::string> progress;
  for (const std::string& t : plug.texts())
    if (t.rfind("Please wait! Writing.. ", 0) == 0) progress.push_back(t);
  ASSERT_EQ(progress.size(), 128u);
  EXPECT_EQ(progress.front(), "Please wait! Writing.. 0%");
  EXPECT_EQ(progress[64], "Please wait! Writing.. 50%");
  EXPECT_EQ(progress.back(), "Please wait! Writing.. 100%");
  EXPECT_EQ(plug.texts().back(), "All 128 programs sent!");  // a synthesizer that answers nothing
  // 50 ms after all notes off, then per program half the pacing, 75, 500 and 1800 ms.
  EXPECT_EQ(plug.clock.sleptMilliseconds(), 50 + 128 * (50 + 75 + 500 + 1800));
  EXPECT_FALSE(plug.isProcessingIndicatorShown());
}

TEST(TransferJobs, ACancelHalfwayThroughABankStoreStopsAfterTheProgramBeingWritten) {
  JobPlug plug;
  SenderJob job = jobOf(kJobStoreAllPatches);
  job.bank = makeBank();
  plug.onPause = [&] {
    int writes = 0;
    for (const Bytes& b : plug.messages()) writes += b.size() == 8 && b[4] == 0x11;
    if (writes == 64) plug.getMidiManager()->getSender()->cancel = true;
  };
  ASSERT_TRUE(plug.run(job));
  int writes = 0, last = -1;
  for (const Bytes& b : plug.messages())
    if (b.size() == 8 && b[4] == 0x11) {
      ++writes;
      last = b[6];
    }
  EXPECT_EQ(writes, 64);
  EXPECT_EQ(last, 63);
  EXPECT_EQ(plug.texts().back(), "Data write cancelled!");
  EXPECT_FALSE(plug.isProcessingIndicatorShown());
}

TEST(TransferJobs, ABankStoreThatMeetsAnEmptySlotStopsSaysSoAndHidesTheIndicator) {
  JobPlug plug;
  SenderJob job = jobOf(kJobStoreAllPatches);
  job.bank = makeBank();
  job.bank[5].messages.clear();
  job.bank[6].messages.front().data.assign(initialProgramDump(), kProgramDumpSize - 1);
  ASSERT_TRUE(plug.run(job));
  int writes = 0;
  for (const Bytes& b : plug.messages()) writes += b.size() == 8 && b[4] == 0x11;
  EXPECT_EQ(writes, 5);
  EXPECT_EQ(plug.texts().back(), "Data write stopped at program 6!");
  EXPECT_FALSE(plug.isProcessingIndicatorShown());
  EXPECT_FALSE(plug.getMidiManager()->arrangementBusy);
}

TEST(TransferJobs, AuditionSendsTheProgramToTheEditBufferOnlyAndStoreWritesItsSlot) {
  const Bytes dump(initialProgramDump(), initialProgramDump() + kProgramDumpSize);
  const struct {
    bool store;
    int slot;
    size_t messages;  // all notes off, the dump, the write request
  } rows[] = {{false, 5, 2}, {true, 5, 3}, {true, 127, 3}, {false, 128, 0}, {true, -1, 0}};
  for (const auto& row : rows) {
    JobPlug plug;
    plug.singleProgramFlag = row.store;
    SenderJob job = jobOf(kJobSendLibrarianPatch);
    job.patch.messages.emplace_back().data.assign(dump.data(), dump.size());
    job.slot = row.slot;
    ASSERT_TRUE(plug.run(job));
    const std::vector<Bytes> sent = plug.messages();
    ASSERT_EQ(sent.size(), row.messages) << row.slot;
    if (row.messages == 0) continue;
    EXPECT_EQ(sent[1], dump);
    if (row.store) {
      EXPECT_EQ(sent[2], (Bytes{0xF0, 0x42, 0x30, 0x58, 0x11, 0x00, static_cast<uint8_t>(row.slot), 0xF7}));
    }
    EXPECT_FALSE(plug.singleProgramFlag);
  }
}

TEST(TransferJobs, AProgramThatIsNotAWholeDumpIsNeverSent) {
  for (int size : {296, 298, 0}) {
    JobPlug plug;
    SenderJob job = jobOf(kJobSendLibrarianPatch);
    Bytes dump(initialProgramDump(), initialProgramDump() + kProgramDumpSize);
    dump.resize(static_cast<size_t>(size), 0xF7);
    if (size) job.patch.messages.emplace_back().data.assign(dump.data(), dump.size());
    ASSERT_TRUE(plug.run(job));
    EXPECT_TRUE(plug.messages().empty()) << size;
  }
}

TEST(TransferJobs, TheCurrentProgramGoesOutWithTheGlobalDumpFirstWhenAsked) {
  JobPlug plug;
  plug.sendGlobalWithProgram = true;
  plug.globalSent = false;
  plug.GetParam(kPatchName)->SetDisplayText(0, "Bass");
  plug.deviceBusy = true;
  plug.dumpSendRunning = true;
  ASSERT_TRUE(plug.run(jobOf(kJobSendArrangement)));
  const std::vector<Bytes> sent = plug.messages();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].size(), 235u);
  ASSERT_EQ(sent[1].size(), 297u);
  EXPECT_EQ(programDumpName(sent[1].data(), sent[1].size()), "Bass        ");
  EXPECT_FALSE(plug.deviceBusy);
  EXPECT_FALSE(plug.dumpSendRunning);
  EXPECT_EQ(plug.getPatchManager()->patch.names[0], "Bass");
}

TEST(TransferJobs, StartAndStopAreSentOnlyWhenSwitchedOnAndTicksOnlyWithTheirSwitch) {
  JobPlug plug;
  constexpr MidiWorker control = MidiWorker::kClockControlThread;
  plug.sendClockStartStop = false;
  ASSERT_TRUE(plug.run(jobOf(kJobStartClock), control));
  plug.sendClockStartStop = true;
  ASSERT_TRUE(plug.run(jobOf(kJobStartClock), control));
  ASSERT_TRUE(plug.run(jobOf(kJobStopClock), control));
  plug.sendClockTicks = false;
  plug.getMidiManager()->getSender()->resetContinuousClock(false);
  ASSERT_TRUE(plug.run(jobOf(kJobContinuousClock), MidiWorker::kClockThread));
  EXPECT_EQ(plug.messages(), (std::vector<Bytes>{{0xFA}, {0xFC}}));
  // Closing the output ends a running clock at its next tick.
  plug.sendClockTicks = true;
  plug.onPause = nullptr;
  ASSERT_TRUE(plug.getMidiManager()->startJob(MidiWorker::kClockThread, jobOf(kJobContinuousClock)));
  while (plug.messages().size() < 5) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  plug.midiOutReady = false;
  ASSERT_TRUE(plug.waitIdle(MidiWorker::kClockThread));
  for (size_t i = 2; i < plug.messages().size(); ++i) EXPECT_EQ(plug.messages()[i], Bytes{0xF8});
}

TEST(TransferJobs, LoadingOneTimbreTakesExactlyThatTimbreAndKeepsEveryChannelByte) {
  // Timbre 1 is data 38..145 and timbre 2 data 146..253, each starting with its MIDI channel byte.
  std::mt19937 rng(25);
  auto randomDump = [&] {
    Bytes data(kProgramDataSize);
    for (uint8_t& b : data) b = static_cast<uint8_t>(rng());
    return vexmir::testsupport::dumpOf(data);
  };
  using vexmir::testsupport::dataOf;
  const int first[2] = {38, 146};
  for (int round = 0; round < 20; ++round) {
    for (int into = 0; into < 2; ++into) {
      for (int from = 0; from < 2; ++from) {
        SCOPED_TRACE("into " + std::to_string(into) + " from " + std::to_string(from));
        const Bytes lib = randomDump(), editor = randomDump();
        Bytes result = lib;
        loadTimbreFromLibrarian(result.data(), editor.data(), into, from);
        const std::vector<uint8_t> l = dataOf(lib), e = dataOf(editor), r = dataOf(result);
        for (int d = 0; d < kProgramDataSize; ++d) {
          uint8_t expected = l[d];
          if (d < 12 || d == 16 || (d >= 18 && d <= 36)) expected = e[d];  // the editor's common settings
          const int other = 1 - into;
          if (d >= first[other] && d < first[other] + 108) expected = e[d];  // the editor's other timbre
          if (d > first[into] && d < first[into] + 108) expected = l[d - first[into] + first[from]];
          if (d == 38) expected = e[38];  // timbre 1's channel is always the editor's
          ASSERT_EQ(r[d], expected) << "data byte " << d;
        }
      }
    }
  }
}
