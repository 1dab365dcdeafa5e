// The editor object under MIDI faults over a real JACK server: hostile input at its MIDI input port, a
// synthesizer that stops answering halfway through a fetch of all programs or a bank store (killed, or its
// output cut), and a project recalled while its port is renamed or gone. The synthesizers a case kills are
// emulators of its own, so the fixture's emulator stays up for the other tests. Pauses of the jobs run on a
// shortened clock; the exchange itself is real.
//
// The hostile input runs in a reduced size here; VEXMIR_FAULTS_FULL=1 gives the full size (10^6 random bytes,
// then 10^5 well-formed messages).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>

#include <jack/jack.h>
#include <rtmidi/RtMidi.h>

#include <atomic>

#include "platform/cocoa/object.h"
#include "platform/cocoa/view.h"
#include "src/LibrarianEditor.h"
#include "src/LibrarianHost.h"
#include "tests/faults/faults_support.h"
#include "tests/support/JackMidiPair.h"
#include "tests/support/SysexDumps.h"

using namespace faults;
using vexmir::testsupport::JackMidiPair;

namespace {

bool contains(const std::vector<std::string>& texts, const std::string& text) {
  return std::find(texts.begin(), texts.end(), text) != texts.end();
}

// Well-formed messages of every kind the input takes, with the faults a cable or another program brings.
Bytes wellFormedMessage(std::mt19937& rng) {
  auto r = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  auto data = [&] { return static_cast<uint8_t>(r(128)); };
  const uint8_t channel = static_cast<uint8_t>(r(4) == 0 ? r(16) : 0);
  switch (r(8)) {
    case 0:
      return {static_cast<uint8_t>(0xB0 | channel), data(), data()};
    case 1: {  // one half of an NRPN, or its data entry
      static const uint8_t cc[] = {99, 98, 6, 38};
      return {static_cast<uint8_t>(0xB0 | channel), cc[r(4)], data()};
    }
    case 2:
      return {static_cast<uint8_t>(0xC0 | channel), data()};
    case 3: {  // exclusive of any length with the synthesizer's header and any function
      Bytes m = {0xF0, 0x42, static_cast<uint8_t>(0x30 | channel), 0x58, data()};
      const int n = r(400);
      for (int i = 0; i < n; ++i) m.push_back(data());
      m.push_back(0xF7);
      return m;
    }
    case 4:
    case 5: {  // a program dump with bad bytes or real-time bytes inside, or cut
      Bytes m(kProgramDumpSize);
      m[0] = 0xF0;
      m[1] = 0x42;
      m[2] = static_cast<uint8_t>(0x30 | channel);
      m[3] = 0x58;
      m[4] = 0x40;
      for (int i = 5; i < kProgramDumpSize - 1; ++i) m[static_cast<size_t>(i)] = data();
      m[kProgramDumpSize - 1] = 0xF7;
      const int faults = r(4);
      for (int k = 0; k < faults; ++k) {
        const size_t at = static_cast<size_t>(5 + r(kProgramDumpSize - 6));
        if (r(2) == 0)
          m[at] = static_cast<uint8_t>(0x80 | data());  // a status byte where data belongs
        else
          m.insert(m.begin() + static_cast<long>(at), static_cast<uint8_t>(0xF8 + r(8)));  // real time inside
      }
      if (r(4) == 0) m.resize(static_cast<size_t>(6 + r(kProgramDumpSize - 6)));
      return m;
    }
    case 6: {  // a global dump, a bulk-dump head or a mode change
      static const uint8_t fn[] = {0x51, 0x4C, 0x50, 0x4E, 0x41, 0x21, 0x23, 0x24};
      Bytes m = {0xF0, 0x42, static_cast<uint8_t>(0x30 | channel), 0x58, fn[r(8)]};
      const int n = r(2) == 0 ? 229 : r(12);
      for (int i = 0; i < n; ++i) m.push_back(data());
      m.push_back(0xF7);
      return m;
    }
    default: {  // real-time bytes alone and other channel messages
      static const uint8_t status[] = {0xF8, 0xFA, 0xFB, 0xFC, 0xFE, 0xFF, 0x90, 0x80, 0xE0, 0xA0, 0xD0};
      const uint8_t s = status[r(11)];
      if (s >= 0xF8) return {s};
      if (s == 0xD0) return {static_cast<uint8_t>(s | channel), data()};
      return {static_cast<uint8_t>(s | channel), data(), data()};
    }
  }
}

// ThreadSanitizer cannot always name libjack's own thread reading a flooded port's ring, and then no suppression
// matches the report: the flood's writes into that ring are not checked.
#ifdef __SANITIZE_THREAD__
extern "C" void AnnotateIgnoreWritesBegin(const char* file, int line);
extern "C" void AnnotateIgnoreWritesEnd(const char* file, int line);
struct UncheckedWrites {
  UncheckedWrites() { AnnotateIgnoreWritesBegin(__FILE__, __LINE__); }
  ~UncheckedWrites() { AnnotateIgnoreWritesEnd(__FILE__, __LINE__); }
};
#else
struct UncheckedWrites {};
#endif

// An output port of the test's own, not connected to anything: the editor's input connects to it.
class HostileSource {
 public:
  HostileSource() : client("vexmir-faults-hostile-" + std::to_string(::getpid())) {
    out = std::make_unique<RtMidiOut>(RtMidi::UNIX_JACK, client);
    out->setErrorCallback(
        [](RtMidiError::Type type, const std::string& text, void* self) {
          if (type == RtMidiError::WARNING && text.find("full") != std::string::npos)
            static_cast<HostileSource*>(self)->full = true;
        },
        this);
    out->openVirtualPort("out");
  }
  std::string port() const { return client + ":out"; }
  // Sends one JACK event holding exactly these bytes; waits while the library's buffer is full.
  void send(const Bytes& bytes) {
    for (int tries = 0; tries < 10000; ++tries) {
      full = false;
      {
        [[maybe_unused]] const UncheckedWrites unchecked{};
        out->sendMessage(bytes.data(), bytes.size());
      }
      if (!full) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    throw std::runtime_error("the hostile source's buffer stays full");
  }

 private:
  std::string client;
  std::unique_ptr<RtMidiOut> out;
  std::atomic<bool> full{false};
};

using MidiFaults = jobtest::EmulatorTest;

// The plug-in's JACK clients (named with this process's id, or the library's) and ports as they register, told by the
// server to a client of the test's own.
struct Registrations {
  static void clientOn(const char* name, int on, void* self) {
    if (on) static_cast<Registrations*>(self)->add(name);
  }
  static void portOn(jack_port_id_t id, int on, void* self) {
    auto* r = static_cast<Registrations*>(self);
    if (on) r->add(jack_port_name(jack_port_by_id(r->client, id)));
  }
  Registrations() {
    jack_set_client_registration_callback(client, clientOn, this);
    jack_set_port_registration_callback(client, portOn, this);
    jack_activate(client);
  }
  ~Registrations() { jack_client_close(client); }
  void add(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex);
    synced += name == "vexmir-faults-sync";
    if (name.find(std::to_string(::getpid())) != std::string::npos || name.find("RtMidi") != std::string::npos)
      names.push_back(name);
    told.notify_all();
  }
  // All registered so far, once the server has told them (its notices wait for the lock: it is not held meanwhile).
  std::vector<std::string> sync() {
    const int before = synced;
    jack_client_t* mark = jack_client_open("vexmir-faults-sync", JackNoStartServer, nullptr);
    std::unique_lock<std::mutex> lock(mutex);
    told.wait_for(lock, std::chrono::seconds(30), [&] { return synced > before; });
    const std::vector<std::string> out = names;
    lock.unlock();
    jack_client_close(mark);
    return out;
  }
  jack_client_t* client = jack_client_open("vexmir-faults-seen", JackNoStartServer, nullptr);
  std::mutex mutex;
  std::condition_variable told;
  std::atomic<int> synced{0};
  std::vector<std::string> names;
};

}  // namespace

TEST_F(MidiFaults, HostileInputLeavesNoStuckFlagNoParameterOutOfRangeAndTheNextRequestAnswered) {
  // The hostile side: an output port of the test's own, which the editor's input listens to.
  HostileSource hostile;
  EmulatorPlug plug(&clock);
  ASSERT_TRUE(plug.connectTo(EmulatorClient::emulatorInPort(), hostile.port()));

  const size_t randomBytes = fullSize() ? 1000000 : 20000;
  const size_t messages = fullSize() ? 100000 : 4000;
  std::mt19937 rng(2112);
  auto start = std::chrono::steady_clock::now();
  for (size_t sent = 0; sent < randomBytes;) {
    Bytes chunk(1 + rng() % 64);
    for (auto& b : chunk) b = static_cast<uint8_t>(rng());
    hostile.send(chunk);
    sent += chunk.size();
  }
  std::printf("%zu random bytes sent in %.2f s\n", randomBytes, secondsSince(start));
  start = std::chrono::steady_clock::now();
  for (size_t i = 0; i < messages; ++i) hostile.send(wellFormedMessage(rng));
  std::printf("%zu well-formed messages sent in %.2f s\n", messages, secondsSince(start));

  // What is still on its way arrives before the input is turned to the synthesizer; the jobs the flood
  // started end within their bounds.
  ASSERT_TRUE(plug.connect());
  ASSERT_TRUE(plug.waitIdle(MidiWorker::kJobThread, 60));
  EXPECT_EQ(paramsOutOfRange(plug), std::vector<std::string>{});

  // The request waits for the synthesizer's answer with the editor's own pauses, as a loaded machine may need them.
  plug.setJobClock(&JobClock::system());
  emulator.check("set name edit After Flood");
  ASSERT_TRUE(plug.run(kJobActiveArrangementRequest, true));
  EXPECT_EQ(plug.lastText(), "Data request completed!");
  EXPECT_EQ(plug.programName(), "After Flood ");
  EXPECT_FALSE(plug.isProcessingIndicatorShown());
  EXPECT_EQ(paramsOutOfRange(plug), std::vector<std::string>{});
}

// The synthesizer stops answering in the middle of a job: killed, or its output cut.
struct Vanishing {
  const char* name;
  bool kill;  // else its output is disconnected
};

void PrintTo(const Vanishing& v, std::ostream* os) {
  *os << v.name;
}

class VanishingSynth : public MidiFaults, public ::testing::WithParamInterface<Vanishing> {};

TEST_P(VanishingSynth, AFetchOfAllProgramsEndsWithAMessageKeepsWhatCameAndLeavesTheProgramAsItWas) {
  OwnEmulator synth("fetch");
  EmulatorPlug plug(&clock);
  ASSERT_TRUE(plug.connectTo(synth.inPort(), synth.outPort()));
  const std::vector<SysexBytes> bankBefore = librarianBank(plug);
  const std::vector<double> programBefore = programValues(plug);
  ASSERT_EQ(bankBefore.size(), 128u);

  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(plug.start(kJobAllPatchRequest));
  // Halfway: the program change to program 65 has reached the synthesizer (64 programs' exchanges, however slow the
  // machine).
  ASSERT_TRUE(synth.client->waitForLog("in C0 40", 0, std::chrono::minutes(5)).has_value());
  if (GetParam().kill)
    synth.kill();
  else
    ASSERT_GT(disconnectAll(synth.outPort()), 0);
  ASSERT_TRUE(plug.waitIdle(MidiWorker::kJobThread, 30));
  std::printf("fetch ended %.2f s after it started\n", secondsSince(start));

  const auto texts = plug.texts();
  EXPECT_TRUE(contains(texts, "CONNECTION TIMED OUT!")) << plug.lastText();
  EXPECT_FALSE(contains(texts, "Data request completed!"));
  const std::string end = plug.lastText(), head = "Synth stopped; not received (slots kept): ";
  ASSERT_EQ(end.rfind(head, 0), 0u) << end;
  EXPECT_EQ(plug.getDisplayLine(Vexmir::kLineName), end);
  EXPECT_FALSE(plug.isProcessingIndicatorShown());
  // What came before the synthesizer went is kept; the slots the message names last (numbered from 1) are as they were.
  const size_t comma = end.rfind(", ");
  const size_t first = std::stoul(end.substr(comma == std::string::npos ? head.size() : comma + 2)) - 1;
  EXPECT_GE(first, 64u) << end;
  const std::vector<SysexBytes> bankAfter = librarianBank(plug);
  ASSERT_EQ(bankAfter.size(), 128u);
  for (size_t slot = first; slot < 128; ++slot) EXPECT_TRUE(bankAfter[slot] == bankBefore[slot]) << slot;
  EXPECT_EQ(programValues(plug), programBefore);

  // The next request works, with the fixture's synthesizer and the editor's own pauses.
  plug.setJobClock(&JobClock::system());
  emulator.check("set name edit Next Request");
  ASSERT_TRUE(plug.connect());
  ASSERT_TRUE(plug.run(kJobActiveArrangementRequest, true));
  EXPECT_EQ(plug.lastText(), "Data request completed!");
  EXPECT_EQ(plug.programName(), "Next Request");
}

TEST_P(VanishingSynth, ABankStoreEndsWithAMessageAndLeavesBankAndProgramAsTheyWere) {
  OwnEmulator synth("store");
  EmulatorPlug plug(&clock);
  ASSERT_TRUE(plug.connectTo(synth.inPort(), synth.outPort()));
  const std::vector<SysexBytes> bankBefore = librarianBank(plug);
  const std::vector<double> programBefore = programValues(plug);
  const Bytes lastBefore = synth.client->program(127);
  SenderJob job = jobtest::jobOf(kJobStoreAllPatches);
  PatchFile* open = plug.getLibrarian()->bankAt(plug.getLibrarian()->upperBankIndex);
  ASSERT_NE(open, nullptr);
  job.bank = open->patches;

  const auto start = std::chrono::steady_clock::now();
  JobHold hold(plug, "Please wait! Writing.. 50%");  // program 64 written
  ASSERT_TRUE(plug.getMidiManager()->startJob(MidiWorker::kJobThread, job));
  ASSERT_TRUE(hold.held());
  if (GetParam().kill)
    synth.kill();
  else
    ASSERT_GT(disconnectAll(synth.outPort()), 0);
  hold.release();
  ASSERT_TRUE(plug.waitIdle(MidiWorker::kJobThread, 120));  // however slow the machine
  std::printf("store ended %.2f s after it started\n", secondsSince(start));

  const std::string end = plug.lastText();
  if (GetParam().kill) {
    EXPECT_NE(end, "Data write completed!");
    // The programs sent after the kill (66 on) are named.
    EXPECT_NE(end.find(": the MIDI port was lost! Not confirmed"), std::string::npos) << end;
  } else {
    // With only its answers cut, the synthesizer that confirmed the programs before confirms none after: they are not
    // written, and named.
    EXPECT_EQ(end.rfind("Not confirmed", 0), 0u) << end;
    EXPECT_EQ(synth.client->program(127), lastBefore);
  }
  EXPECT_FALSE(plug.isProcessingIndicatorShown());
  EXPECT_TRUE(librarianBank(plug) == bankBefore) << "the librarian bank changed";
  EXPECT_EQ(programValues(plug), programBefore);

  // A request waits for the synthesizer's answer: with the editor's own pauses, as a loaded machine may need them.
  plug.setJobClock(&JobClock::system());
  emulator.check("set name edit Next Request");
  ASSERT_TRUE(plug.connect());
  ASSERT_TRUE(plug.run(kJobActiveArrangementRequest, true));
  EXPECT_EQ(plug.lastText(), "Data request completed!");
  EXPECT_EQ(plug.programName(), "Next Request");
}

INSTANTIATE_TEST_SUITE_P(Faults, VanishingSynth,
                         ::testing::Values(Vanishing{"Killed", true}, Vanishing{"OutputCut", false}),
                         [](const auto& info) { return std::string(info.param.name); });

// Every store says what the synthesizer answered. A write it confirms without having confirmed the load is not called
// stored. Once it has confirmed a load, a dump lost on the way is sent again, and one lost twice is not written; one
// that stops answering has its stores not written until it answers again. The emulator loses the dumps on purpose. A
// dump that did not go out (the output away) gets no write request, even when the output is back by then.
// The scaled clock, which can take the output away over a store's dump: gone from the pause before it (50 ms) and back
// after the pause that follows it (the transfer pace), before the write request.
struct OutputAwayClock : ScaledJobClock {
  using ScaledJobClock::ScaledJobClock;
  std::atomic<Vexmir*> plug{nullptr};
  std::atomic<int> phase{0};
  void sleepMilliseconds(int ms) override {
    ScaledJobClock::sleepMilliseconds(ms);  // (phase 1 and 2 only with the plug-in set)
    if (phase == 1 && ms == 50 && phase.exchange(2) == 1) plug.load()->midiOutReady = false;
    if (phase == 2 && ms == plug.load()->getTimerValue() && phase.exchange(0) == 2) plug.load()->midiOutReady = true;
  }
};

// The synthesizer's cable out pulled: connecting and REQUEST time out; put back, the next REQUEST brings the program.
TEST_F(MidiFaults, OnceTheCableIsBackTheNextRequestBringsTheProgram) {
  OwnEmulator synth("cable");
  EmulatorPlug plug(&clock);
  ASSERT_TRUE(plug.connectTo(synth.inPort(), synth.outPort()));
  const std::string out = synth.outPort(), in = peersOf(out)[0];
  ASSERT_GT(disconnectAll(out), 0);
  ASSERT_TRUE((plug.connectPending = true) && plug.run(kJobDeviceIdEnquiry) && plug.run(kJobActiveArrangementRequest));
  EXPECT_EQ(plug.lastText(), "CONNECTION TIMED OUT!");
  ASSERT_FALSE(std::system(("jack_connect" + jackServerArgs() + " '" + out + "' '" + in + "'").c_str()));
  synth.client->check("set name edit Cables Back");
  const size_t mark = synth.client->logMark();
  ASSERT_TRUE(plug.run(kJobActiveArrangementRequest, true));
  EXPECT_EQ(plug.lastText(), "Data request completed!") << plug.shown();
  EXPECT_EQ(plug.programName(), "Cables Back ");
  EXPECT_EQ(synth.client->countLog(" 58 10 F7", mark), 1);
}

TEST_F(MidiFaults, EveryStoreSaysWhatTheSynthesizerConfirmed) {
  OutputAwayClock storeClock(4);  // the results take the time a loaded machine takes to bring them
  EmulatorPlug plug(&storeClock);
  storeClock.plug = &plug;
  ASSERT_TRUE(plug.connect());
  ASSERT_TRUE(plug.run(kJobActiveArrangementRequest, true));  // a first exchange, before the stores' results count
  const LibrarianPatch program = plug.openBank()[0];
  const SysexBytes& dump = program.messages.front().data;
  const Bytes data = vexmir::testsupport::dataOf(Bytes(dump.data(), dump.data() + dump.size()));
  const struct Step {
    std::vector<std::string> commands;
    const char* end;
    int dumps, writes;
    bool written, outputAway = false;
  } steps[] = {{{}, " not stored: no MIDI output!", 0, 0, false, true},
               {{"drop dumps 1"}, " sent, not confirmed by the synth!", 1, 1, false},
               {{}, " stored and confirmed!", 1, 1, true},
               {{"drop dumps 1"}, " stored and confirmed!", 2, 1, true},
               {{"results off"}, " not confirmed by the synth: not written!", 2, 0, false},
               {{}, " not confirmed by the synth: not written!", 2, 0, false},
               {{"results on"}, " stored and confirmed!", 1, 1, true},
               {{"drop dumps 2"}, " not confirmed by the synth: not written!", 2, 0, false},
               {{"set global 5 1"}, " refused by the synth: not stored!", 1, 1, false}};
  for (int slot = 10; slot < 19; ++slot) {
    const Step& step = steps[slot - 10];
    SCOPED_TRACE(slot);
    for (const std::string& c : step.commands) emulator.check(c);
    storeClock.phase = step.outputAway ? 1 : 0;
    const size_t mark = emulator.logMark();
    ASSERT_TRUE(plug.getLibrarianEditor()->host()->storeProgram(0, slot, program));
    ASSERT_TRUE(plug.waitIdle());
    EXPECT_EQ(plug.lastText(), "Program " + std::to_string(slot + 1) + step.end);
    int dumps = 0, writes = 0;
    for (const std::string& line : emulator.log(mark)) {
      dumps += line.find("in F0 42 30 58 40") != std::string::npos;
      writes += line.find("in F0 42 30 58 11") != std::string::npos;
    }
    EXPECT_EQ(dumps, step.dumps);
    EXPECT_EQ(writes, step.writes);
    EXPECT_EQ(emulator.program(slot) == data, step.written);
  }
}

TEST_F(MidiFaults, APortRenamedOrGoneAtRecallIsOffSaysSoAndNothingGoesElsewhere) {
  ByteChunk chunk;
  {
    OwnEmulator before("recall");
    EmulatorPlug a(&clock);
    ASSERT_TRUE(a.connectTo(before.inPort(), before.outPort()));
    ASSERT_TRUE(a.SerializeState(&chunk));
  }
  // The port now has another name (the same synthesizer renamed); the fixture's synthesizer is there as well.
  OwnEmulator renamed("renamed");
  const size_t markRenamed = renamed.client->logMark();
  const size_t markFixture = emulator.logMark();
  EmulatorPlug b(&clock);
  ASSERT_GE(b.UnserializeState(&chunk, 0), 0);
  ASSERT_TRUE(b.waitIdle());  // a recall not answered in time is carried out by the relay
  EXPECT_EQ(b.paramValue(kDeviceOutSelection), 0.0);
  EXPECT_EQ(b.paramValue(kDeviceInSelection), 0.0);
  EXPECT_FALSE(b.isExternalMIDIOutOpen());
  EXPECT_FALSE(b.isExternalMIDIInOpen());
  EXPECT_FALSE(b.midiOutReady);
  const std::string said = b.lastText();
  EXPECT_NE(said.find("not found"), std::string::npos) << said;
  EXPECT_NE(said.find("Faults recall"), std::string::npos) << said;

  // An edit after the recall goes nowhere.
  b.press(kArpTempo, 140);
  ASSERT_TRUE(b.waitIdle());
  // The probe shows that the emulators' inputs are live; nothing else of the editor came before it.
  JackMidiPair probe("vexmir-faults-probe", EmulatorClient::emulatorOutPort(), EmulatorClient::emulatorInPort());
  for (const std::string& line : emulator.log(markFixture))
    EXPECT_EQ(line.find(" in F0 42"), std::string::npos) << line;
  for (const std::string& line : renamed.client->log(markRenamed))
    EXPECT_EQ(line.find(" in "), std::string::npos) << line;
  // The project's synthesizer comes back after the lists were read: a recall reads them anew and opens its ports.
  ScaledJobClock requestClock(4);  // a request waits as long as a loaded machine may need
  {
    OwnEmulator back("recall");
    ASSERT_TRUE(b.UnserializeState(&chunk, 0) > 0 && b.waitIdle());
    b.setJobClock(&requestClock);
    EXPECT_TRUE(b.run(kJobActiveArrangementRequest) && b.lastText() == "Data request completed!") << b.lastText();
  }

  // Each of two instances, editors open, recalls its project 40 times on a thread of its own: the ports it names are
  // open and connected already, so no client or port registers, and a request after each recall is answered.
  Registrations seen;
  OwnEmulator synths[2] = {OwnEmulator("steady0"), OwnEmulator("steady1")};
  std::unique_ptr<EmulatorPlug> plugs[2];
  ByteChunk projects[2];
  cocoa::AutoreleasePool pool;
  cocoa::Window* windows[2];
  for (int i = 0; i < 2; ++i) {
    plugs[i] = std::make_unique<EmulatorPlug>(&clock);
    ASSERT_TRUE(plugs[i]->connectTo(synths[i].inPort(), synths[i].outPort()) && plugs[i]->SerializeState(&projects[i]));
    windows[i] = new cocoa::Window(cocoa::Rect{0, 0, 1000, 700});
    plugs[i]->GetGUI()->OpenWindow(windows[i]->contentView());
  }
  const std::vector<std::string> before = seen.sync();
  std::atomic<int> answered{0};
  auto recalls = [&](int i) {
    for (int k = 0; k < 40; ++k, plugs[i]->setJobClock(&clock)) {
      const bool recalled = plugs[i]->UnserializeState(&projects[i], 0) > 0 && plugs[i]->waitIdle();
      plugs[i]->setJobClock(&requestClock);
      answered +=
          recalled && plugs[i]->run(kJobActiveArrangementRequest) && plugs[i]->lastText() == "Data request completed!";
    }
  };
  std::thread other(recalls, 1);
  recalls(0);
  other.join();
  EXPECT_EQ(answered, 80);
  const std::vector<std::string> after = seen.sync();
  EXPECT_EQ(after, before);
  // The server gives a client that asks for the name of a live one that name with "-01" (and so on) behind.
  for (const std::string& name : after) EXPECT_NE(name.compare(name.size() - 3, 2, "-0"), 0) << name;
  // A recall that names another output than the open one reopens that alone; the recalled program reaches it.
  ASSERT_TRUE(plugs[0]->connectTo(synths[1].inPort(), synths[0].outPort()));
  const size_t mark0 = synths[0].client->logMark(), then = seen.sync().size();
  ASSERT_GT(plugs[0]->UnserializeState(&projects[0], 0), 0);
  EXPECT_TRUE(synths[0].client->waitForLog("in F0 42 30 58 4E", mark0).has_value());
  const std::vector<std::string> now = seen.sync();
  EXPECT_TRUE(now.size() == then + 1 && now.back().find(":RtMidi Output") != std::string::npos) << now.back();
  // Both instances move to the same synthesizer's ports at the same moment. Each knows its own port by its full name:
  // when the second one's connection is cut, its recall connects it again, whatever the first one's connection is.
  ByteChunk shared;
  ASSERT_TRUE(plugs[0]->SerializeState(&shared));
  // Our clients' names end in the instance's number, and the second instance was made after the first.
  auto instance = [](const std::string& port) { return std::atoi(port.c_str() + port.rfind('-') + 1); };
  for (int round = 0; round < 4; ++round) {  // which instance's connection the server makes first varies
    for (auto& plug : plugs)
      ASSERT_TRUE(plug->connectTo(synths[1].inPort(), synths[1].outPort())) << "round " << round << ": " << plug->shown();
    plugs[1]->setJobClock(&clock);
    std::thread together([&] { plugs[1]->UnserializeState(&shared, 0); });
    plugs[0]->UnserializeState(&shared, 0);
    together.join();
    ASSERT_TRUE(plugs[0]->waitIdle() && plugs[1]->waitIdle());
    // Both recalls' connections, once the server's clients see them.
    std::string second;
    jack_port_t* synthIn = jack_port_by_name(seen.client, synths[0].inPort().c_str());
    for (int connections = 0, tries = 0; connections < 2 && tries < 30000; ++tries) {
      if (tries > 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      second.clear();
      connections = 0;
      if (const char** ports = synthIn ? jack_port_get_all_connections(seen.client, synthIn) : nullptr) {
        for (const char** p = ports; *p; ++p, ++connections)
          if (second.empty() || instance(*p) > instance(second)) second = *p;
        jack_free(ports);
      }
    }
    ASSERT_NE(second.find(":RtMidi Output"), std::string::npos) << second;
    ASSERT_EQ(jack_disconnect(seen.client, second.c_str(), synths[0].inPort().c_str()), 0);
    // The server's clients see the cut from its next cycle on (a loaded machine makes that later): the recall that
    // is to find it comes once they do.
    int stale = 0;
    while (jack_port_connected_to(jack_port_by_name(seen.client, second.c_str()), synths[0].inPort().c_str())) {
      ASSERT_LT(++stale, 30000) << "the cut of " << second << " never showed";
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(plugs[1]->UnserializeState(&shared, 0) > 0 && plugs[1]->waitIdle()) << plugs[1]->shown();
    plugs[1]->setJobClock(&requestClock);
    EXPECT_TRUE(plugs[1]->run(kJobActiveArrangementRequest) && plugs[1]->lastText() == "Data request completed!")
        << "round " << round << ": " << plugs[1]->shown();
  }
  for (int i = 0; i < 2; ++i) plugs[i]->GetGUI()->CloseWindow(), windows[i]->release();
}
