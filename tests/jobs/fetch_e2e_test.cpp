// Connecting and fetching against the synthesizer emulator over a real JACK server: the current program and
// global data arrive and show, the channel search finds a synthesizer on channel 5, a missing synthesizer is
// reported, and one program and all 128 reach the librarian's open bank. Pauses run on a shortened clock.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <thread>

#include "KIT/IEffect/IParam.h"
#include "src/MIDIMessageManager.h"
#include "src/PatchFile.h"
#include "src/PatchLibrarian.h"
#include "src/ProgramDump.h"
#include "src/Vexmir.h"
#include "tests/jobs/emulator_plug.h"
#include "tests/support/EmulatorClient.h"
#include "tests/support/SysexDumps.h"

using vexmir::testsupport::Bytes;
using vexmir::testsupport::dataOf;
using vexmir::testsupport::dumpOf;
using vexmir::testsupport::EmulatorClient;

namespace {

// The program the editor holds, as its dump's data.
Bytes programData(jobtest::EmulatorPlug& plug) {
  Bytes dump(kProgramDumpSize);
  plug.buildProgramDumpOf(plug.heldProgramName(), plug.currentValues(), dump.data());
  return dataOf(dump);
}

// A program as an editor holding `values` holds it after reading it: the codec's parse and build of the data.
Bytes codecRoundTrip(const Bytes& data, std::vector<double> values) {
  const Bytes dump = dumpOf(data);
  ProgramParseResult result;
  parseProgramDump(dump.data(), dump.size(), values.data(), &result);
  Bytes rebuilt(kProgramDumpSize);
  buildProgramDump(values.data(), result.name, 0x30, result.data, rebuilt.data());
  return dataOf(rebuilt);
}

Bytes librarianData(jobtest::EmulatorPlug& plug, int slot) {
  const std::vector<LibrarianPatch> bank = plug.openBank();
  if (slot >= static_cast<int>(bank.size()) || bank[slot].messages.empty()) return {};
  const SysexBytes& m = bank[slot].messages.front().data;
  return m.size() == static_cast<size_t>(kProgramDumpSize) ? dataOf(Bytes(m.begin(), m.end())) : Bytes();
}

using FetchE2E = jobtest::EmulatorTest;

}  // namespace

TEST_F(FetchE2E, ConnectingBringsTheCurrentProgramAndGlobalDataIntoTheEditor) {
  emulator.check("set name edit Fetch Me");
  emulator.setEditByte(20, 99);
  emulator.check("set global 2 1");  // kMasterPosition: Pre TG
  jobtest::EmulatorPlug plug(&clock);
  ASSERT_TRUE(plug.connect());
  plug.connectPending = true;
  const std::vector<double> before = plug.currentValues();
  ASSERT_TRUE(plug.run(kJobDeviceIdEnquiry));
  EXPECT_EQ(plug.lastText(), "Plug-in is ready to go!");
  ASSERT_TRUE(plug.run(kJobActiveArrangementRequest, true));
  EXPECT_EQ(plug.lastText(), "Data request completed!");
  EXPECT_EQ(plug.heldProgramName(), "Fetch Me    ");
  EXPECT_EQ(programData(plug), codecRoundTrip(emulator.editBuffer(), before));
  EXPECT_EQ(plug.paramValue(kMasterPosition), 1.0);
  EXPECT_FALSE(plug.isProcessingIndicatorShown());
}

TEST_F(FetchE2E, TheChannelSearchFindsASynthesizerOnChannelFiveAfterItsSilentPolls) {
  emulator.setChannel(4);
  emulator.check("set name edit Channel Five");
  // Each search step waits long enough for the answer to come back over JACK before the next channel.
  ScaledJobClock searchClock(4);
  jobtest::EmulatorPlug plug(&searchClock);
  ASSERT_TRUE(plug.connect());
  const size_t mark = emulator.logMark();
  ASSERT_TRUE(plug.run(kJobPartRequest, true));
  EXPECT_EQ(plug.lastText(), "Data request completed!");
  EXPECT_EQ(plug.deviceId, 0x34);
  EXPECT_EQ(plug.heldProgramName(), "Channel Five");
  // The silent polls asked on the editor's own channel; the search then asked channel 1, 2, ... 5.
  std::vector<std::string> requests;
  for (const std::string& line : emulator.log(mark))
    if (line.find(" in F0 42 3") != std::string::npos && line.find(" 58 10 F7") != std::string::npos)
      requests.push_back(line.substr(line.find(" in ") + 4));
  ASSERT_GE(requests.size(), 6u);
  EXPECT_EQ(requests[0], "F0 42 30 58 10 F7");
  for (int n = 0; n < 5; ++n)
    EXPECT_EQ(requests[static_cast<size_t>(1 + n)].substr(0, 8), "F0 42 3" + std::to_string(n));
  // The search stops once the answer is in: at channel 5, or a channel or two later when the machine is slow
  // to bring the answer back within the shortened pauses of this test; never all sixteen.
  EXPECT_LE(requests.size(), 8u);
}

TEST_F(FetchE2E, WithoutASynthesizerTheEditorSaysSoAndStaysUsable) {
  // The editor's input hears nothing: no synthesizer answers.
  jobtest::EmulatorPlug plug(&clock);
  ASSERT_FALSE(plug.connectTo(EmulatorClient::emulatorInPort(), ""));
  ASSERT_TRUE(plug.midiOutReady);
  plug.connectPending = true;
  ASSERT_TRUE(plug.run(kJobDeviceIdEnquiry));
  const auto texts = plug.texts();
  EXPECT_NE(std::find(texts.begin(), texts.end(), "No response from Hardware"), texts.end());
  EXPECT_EQ(std::find(texts.begin(), texts.end(), "Plug-in is ready to go!"), texts.end());
  EXPECT_FALSE(plug.isProcessingIndicatorShown());
  // Usable: the next job starts and ends as usual.
  ASSERT_TRUE(plug.run(kJobPartRequest, true));
  EXPECT_EQ(plug.lastText(), "CONNECTION TIMED OUT!");
}

TEST_F(FetchE2E, OneProgramAndThenAll128ReachTheLibrariansOpenBank) {
  for (int p = 0; p < 128; ++p) emulator.check("set name " + std::to_string(p) + " Fetched " + std::to_string(p));
  emulator.check("program 7");
  jobtest::EmulatorPlug plug(&clock);
  ASSERT_TRUE(plug.connect());
  plug.storeParamValue(kMainTab, 1);
  ASSERT_NE(plug.getLibrarian()->bankAt(plug.getLibrarian()->upperBankIndex), nullptr);
  plug.getLibrarian()->selectSlot(0, 3);
  ASSERT_TRUE(plug.run(kJobSinglePatchRequest, true));  // the edit buffer as it is
  EXPECT_EQ(plug.lastText(), "Data request completed!");
  EXPECT_EQ(librarianData(plug, 3), emulator.program(7));

  // The synthesizer answers the next request only after its wait has ended: during the fetch, once the fetch has asked
  // for the marker its first program waits behind. That answer (program 8) is no slot's.
  emulator.check("program 8");
  emulator.check("delay answers 600000");
  ASSERT_TRUE(plug.run(kJobSinglePatchRequest, true));
  EXPECT_EQ(plug.lastText(), "CONNECTION TIMED OUT!");
  const int markers = plug.sent(0x0E);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(plug.start(kJobAllPatchRequest));
  ASSERT_TRUE(plug.waitSent(0x0E, markers));
  emulator.check("delay answers 0");
  ASSERT_TRUE(plug.waitIdle());
  std::printf("128 programs fetched with pauses / 40: %.2f s\n",
              std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  EXPECT_EQ(plug.lastText(), "Data request completed!");
  EXPECT_EQ(plug.librarianLine(), "Data request completed!");  // the late answer said there, then replaced
  for (int p = 0; p < 128; ++p) ASSERT_EQ(librarianData(plug, p), emulator.program(p)) << "program " << p;
}

// The synthesizer's own panel switches it to program 100 just after the fetch switched it to program 10: program 10
// is asked for again, and every slot holds the program of its own number.
TEST_F(FetchE2E, AProgramChosenOnTheSynthesizerDuringAllProgramsLeavesEverySlotItsOwnProgram) {
  for (int p = 0; p < 128; ++p) emulator.check("set name " + std::to_string(p) + " Fetched " + std::to_string(p));
  // Pauses long enough that the panel's change comes before the editor asks for program 10.
  ScaledJobClock slower(4);
  jobtest::EmulatorPlug plug(&slower);
  ASSERT_TRUE(plug.connect());
  plug.deviceFilter[Vexmir::kFilterPC] = false;
  const size_t mark = emulator.logMark();
  ASSERT_TRUE(plug.start(kJobAllPatchRequest));
  ASSERT_TRUE(emulator.waitForLog("in C0 0A", mark).has_value());
  emulator.check("send progchange 100");
  ASSERT_TRUE(plug.waitIdle(MidiWorker::kJobThread, 300));
  EXPECT_EQ(plug.lastText(), "Data request completed!");
  for (int p = 0; p < 128; ++p) EXPECT_EQ(librarianData(plug, p), emulator.program(p)) << "program " << p;
  // The editor followed no program change during the fetch.
  EXPECT_EQ(plug.getLibrarian()->selectedSlot(0), 0);
}

// Answers held and let go (0) as a request is asked, (1) in its channel search after it asked again, (2) at its wait's
// end, (3) past it, once the next request's marker is out, at 200 and 400 ms paces: a request into a slot and all
// programs keep in each slot its own program or what it held, say completed only so, and a late answer until a success.
TEST_F(FetchE2E, EveryAnswerGoesOnlyToTheRequestThatAskedForItWheneverItComes) {
  ScaledJobClock slower(10);
  jobtest::EmulatorPlug plug(&slower);
  ASSERT_TRUE(plug.connect());
  plug.storeParamValue(kMainTab, 1);  // the librarian's page: its line says what was dropped
  const std::string done = "Data request completed!", kLate = "Late answer from the synth dropped";
  auto eventually = [](auto holds) {  // within two minutes: a wait at the 400 ms pace lasts 21 s unscaled
    for (int i = 0; i < 60000 && !holds(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return holds();
  };
  auto request = [&](int p) {  // program p into slot p: a program change, then the request
    SenderJob job = jobtest::jobOf(kJobSinglePatchRequest);
    job.slot = p, plug.getLibrarian()->selectSlot(0, p);
    return plug.getMidiManager()->startJob(MidiWorker::kJobThread, job);
  };
  for (int n = 0; n < 12; ++n) {
    for (int p = 0; p < 128; ++p) emulator.check("set name " + std::to_string(p) + " N" + std::to_string(n * 128 + p));
    const bool all = n >= 8;  // all programs, let go in the search or at the wait's end
    const int at = all ? 1 + n % 2 : n % 4, pace = n / (all ? 10 : 4), p = all ? 0 : 2 * n + 2, asked = plug.sent(0x10);
    SCOPED_TRACE(std::string(all ? "all" : "one") + " at " + std::to_string(at) + ", pace " + std::to_string(pace));
    plug.storeParamValue(kLibSyncTimer, pace * 2);
    const size_t from = plug.texts().size();
    const Bytes kept = librarianData(plug, p);
    emulator.check("delay answers 600000");
    ASSERT_TRUE(at != 3 || ((plug.connectPending = true) && plug.run(kJobDeviceIdEnquiry)));  // its answers held too
    ASSERT_TRUE(all ? plug.start(kJobAllPatchRequest) : request(p));
    ASSERT_TRUE(at == 0 ? plug.waitSent(0x10, asked) : at == 1 ? plug.waitSent(0x10, asked + 2) : eventually([&] {
      return plug.texts().size() > from && plug.texts().back() == "CONNECTION TIMED OUT!";  // the wait's end
    }));
    std::string end = plug.lastText();
    const int markers = plug.sent(0x0E);
    ASSERT_TRUE(at < 3 || (plug.waitIdle() && (end = plug.lastText(), request(p + 1)) && plug.waitSent(0x0E, markers)));
    emulator.check("delay answers 0");
    ASSERT_TRUE(plug.waitIdle());
    if (at < 3) {
      end = plug.lastText();
      EXPECT_TRUE(end == done || eventually([&] { return plug.librarianLine() == kLate; })) << plug.shown();
      ASSERT_TRUE(all || (request(p + 1) && plug.waitIdle()));
    }
    EXPECT_EQ(librarianData(plug, p), end == done ? emulator.program(p) : kept) << end;
    EXPECT_TRUE(at != 2 || end == (all ? "Not received (slots kept): 1" : "CONNECTION TIMED OUT!")) << end;
    for (int q = p + 1; q < (all ? 128 : p + 2); ++q) ASSERT_EQ(librarianData(plug, q), emulator.program(q)) << q;
    EXPECT_TRUE(all || (plug.lastText() == done && plug.librarianLine() != kLate)) << plug.shown();
  }
}
