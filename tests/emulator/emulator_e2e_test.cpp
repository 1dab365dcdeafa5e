// The synthesizer emulator over a real JACK server: MIDI goes through RtMidi's JACK back end (as the plug-in
// sends it) and the emulator's state is read back through its command socket.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>

#include "tests/support/EmulatorClient.h"
#include "tests/support/Files.h"
#include "tests/support/JackMidiPair.h"

using vexmir::testsupport::Bytes;
using vexmir::testsupport::EmulatorClient;
using vexmir::testsupport::isFunction;
using vexmir::testsupport::JackMidiPair;
using vexmir::testsupport::toHex;

namespace {

// The test's own 7-in-8 packing, kept apart from the emulator's so that a fault in either shows.
Bytes pack(const Bytes& data) {
  Bytes out;
  for (size_t u = 0; u < data.size(); u += 7) {
    size_t top = out.size();
    out.push_back(0);
    for (size_t k = 0; k < 7 && u + k < data.size(); ++k) {
      out[top] |= static_cast<uint8_t>((data[u + k] >> 7) << k);
      out.push_back(data[u + k] & 0x7F);
    }
  }
  return out;
}

Bytes unpack(const Bytes& msg, size_t from, size_t count) {
  Bytes out;
  size_t pos = from;
  while (out.size() < count) {
    uint8_t top = msg.at(pos++);
    for (int k = 0; k < 7 && out.size() < count; ++k)
      out.push_back(static_cast<uint8_t>(msg.at(pos++) | (((top >> k) & 1) << 7)));
  }
  return out;
}

Bytes sysex(int channel, uint8_t function, const Bytes& payload = {}) {
  // Made at its full size: GCC 12 at -O3 takes an insert after a five-byte start for a write past it.
  Bytes m(payload.size() + 6);
  const uint8_t head[] = {0xF0, 0x42, static_cast<uint8_t>(0x30 + channel), 0x58, function};
  std::copy(std::begin(head), std::end(head), m.begin());
  std::copy(payload.begin(), payload.end(), m.begin() + 5);
  m.back() = 0xF7;
  return m;
}

Bytes randomProgram(std::mt19937& rng, const std::string& name) {
  Bytes p(254);
  for (uint8_t& b : p) b = static_cast<uint8_t>(rng());
  for (size_t i = 0; i < 12; ++i) p[i] = i < name.size() ? static_cast<uint8_t>(name[i]) : ' ';
  return p;
}

class EmulatorE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    emu.reset();
    midi.clear();
  }

  // Sends a message and returns the emulator's first answer of the given function.
  Bytes ask(const Bytes& message, uint8_t answerFunction) { return midi.ask(message, answerFunction); }

  // Sends a message that has no answer and waits until the emulator has taken it in (its log line appears).
  void deliver(const Bytes& message, const std::string& expectedNote) {
    size_t mark = emu.logMark();
    midi.send(message);
    ASSERT_TRUE(emu.waitForLog(expectedNote, mark)) << "no \"" << expectedNote << "\" after " << toHex(message);
  }

  EmulatorClient emu;
  JackMidiPair midi{"emulator-e2e"};
};

TEST_F(EmulatorE2E, PortsCarryTheEmulatorNameAsRtMidiListsThem) {
  EXPECT_EQ(EmulatorClient::emulatorInPort(), "Vexmir Synth Emulator:MIDI In");
  EXPECT_EQ(EmulatorClient::emulatorOutPort(), "Vexmir Synth Emulator:MIDI Out");
  auto outs = JackMidiPair::outputPorts();
  auto ins = JackMidiPair::inputPorts();
  EXPECT_NE(std::find(outs.begin(), outs.end(), "Vexmir Synth Emulator:MIDI Out"), outs.end());
  EXPECT_NE(std::find(ins.begin(), ins.end(), "Vexmir Synth Emulator:MIDI In"), ins.end());
  auto ports = emu.command("ports");
  ASSERT_TRUE(ports.ok);
  EXPECT_EQ(ports.lines,
            (std::vector<std::string>{"in Vexmir Synth Emulator:MIDI In", "out Vexmir Synth Emulator:MIDI Out"}));
}

TEST_F(EmulatorE2E, ProgramDumpRequestGetsTheEditBufferWithItsName) {
  struct Case {
    int channel;
    std::string name;
  } cases[] = {{0, ""}, {5, "Bass Lead"}, {15, "ABCDEFGHIJKL"}};
  for (const Case& c : cases) {
    SCOPED_TRACE("channel " + std::to_string(c.channel) + " name \"" + c.name + "\"");
    emu.setChannel(c.channel);
    if (!c.name.empty()) emu.check("set name edit " + c.name);
    Bytes dump = ask(sysex(c.channel, 0x10), 0x40);
    ASSERT_EQ(dump.size(), 297u);
    EXPECT_EQ(toHex(Bytes(dump.begin(), dump.begin() + 5)),
              toHex({0xF0, 0x42, static_cast<uint8_t>(0x30 + c.channel), 0x58, 0x40}));
    EXPECT_EQ(dump.back(), 0xF7);
    // Name characters 0-6 follow the first top-bit byte (position 5), 7-11 the second (position 13).
    std::string expected = c.name.empty() ? "Init 001    " : (c.name + "            ").substr(0, 12);
    EXPECT_EQ(std::string(dump.begin() + 6, dump.begin() + 13) + std::string(dump.begin() + 14, dump.begin() + 19),
              expected);
    EXPECT_EQ(dump[13], 0);
    EXPECT_EQ(toHex(unpack(dump, 5, 254)), toHex(emu.editBuffer()));
  }
}

TEST_F(EmulatorE2E, GlobalAndAllProgramsRequestsGetTheirDumps) {
  emu.setChannel(2);
  Bytes global = ask(sysex(2, 0x0E), 0x51);
  ASSERT_EQ(global.size(), 235u);
  Bytes data = unpack(global, 5, 200);
  EXPECT_EQ(toHex(data), toHex(emu.globalData()));
  EXPECT_EQ(data[9], 2) << "the global channel is data byte 9";

  Bytes bulk = ask(sysex(2, 0x1C), 0x4C);  // longer than one JACK period's buffer: it arrives in pieces
  ASSERT_EQ(bulk.size(), 37163u);
  Bytes all = unpack(bulk, 5, 128 * 254);
  for (int p : {0, 1, 6, 7, 64, 127}) {
    Bytes prog(all.begin() + p * 254, all.begin() + (p + 1) * 254);
    EXPECT_EQ(toHex(prog), toHex(emu.program(p))) << "program " << p;
    char name[32];
    std::snprintf(name, sizeof name, "Init %03d    ", p + 1);
    EXPECT_EQ(std::string(prog.begin(), prog.begin() + 12), name);
  }
}

TEST_F(EmulatorE2E, SentProgramDumpReplacesOnlyTheEditBuffer) {
  std::mt19937 rng(7);
  Bytes data = randomProgram(rng, "Sent Sound");
  Bytes before = emu.program(0);
  Bytes reply = ask(sysex(0, 0x40, pack(data)), 0x23);
  EXPECT_EQ(toHex(reply), "F0 42 30 58 23 F7");
  EXPECT_EQ(toHex(emu.editBuffer()), toHex(data));
  EXPECT_EQ(emu.editName(), "Sent Sound  ");
  EXPECT_EQ(toHex(emu.program(0)), toHex(before)) << "a program dump is not stored without a write";
}

TEST_F(EmulatorE2E, ParameterChangeChangesExactlyOneByte) {
  struct Case {
    int idLow, idHigh, valueLow, valueHigh;
    int offset;
    int expected;
  } cases[] = {
      {85, 0, 100, 0, 58, 100},     // timbre 1 cutoff
      {101, 1, 33, 0, 166, 33},     // timbre 2 cutoff (parameter 85 + 144)
      {90, 0, 0x76, 0x7F, 64, 54},  // timbre 1 pan -10, stored with +64
      {22, 0, 77, 0, 20, 77},       // delay time
      {10, 1, 0x7F, 0x7F, 96, 63},  // timbre 1 sequence 1 step 3 = -1
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("parameter " + std::to_string(c.idLow + 128 * c.idHigh));
    emu.reset();
    Bytes before = emu.editBuffer();
    deliver(sysex(0, 0x41,
                  {static_cast<uint8_t>(c.idLow), static_cast<uint8_t>(c.idHigh), static_cast<uint8_t>(c.valueLow),
                   static_cast<uint8_t>(c.valueHigh)}),
            "note parameter " + std::to_string(c.idLow + 128 * c.idHigh));
    Bytes after = emu.editBuffer();
    for (size_t i = 0; i < after.size(); ++i) {
      if (static_cast<int>(i) == c.offset)
        EXPECT_EQ(after[i], c.expected);
      else
        EXPECT_EQ(after[i], before[i]) << "byte " << i << " changed";
    }
  }
}

TEST_F(EmulatorE2E, WriteRequestStoresTheEditBufferUnlessWriteProtected) {
  std::mt19937 rng(11);
  Bytes data = randomProgram(rng, "To Store");
  emu.loadEdit(data);
  Bytes other = emu.program(6);
  EXPECT_EQ(toHex(ask(sysex(0, 0x11, {0x00, 0x05}), 0x21)), "F0 42 30 58 21 F7");
  EXPECT_EQ(toHex(emu.program(5)), toHex(data));
  EXPECT_EQ(emu.programName(5), "To Store    ");
  EXPECT_EQ(toHex(emu.program(6)), toHex(other));
  EXPECT_EQ(emu.currentProgram(), 5);

  emu.check("set global 5 " + std::to_string(emu.globalData()[5] | 1));  // the write-protect switch
  emu.loadEdit(randomProgram(rng, "Refused"));
  EXPECT_EQ(toHex(ask(sysex(0, 0x11, {0x00, 0x05}), 0x22)), "F0 42 30 58 22 F7");
  EXPECT_EQ(emu.programName(5), "To Store    ");
}

TEST_F(EmulatorE2E, RequestOnAnotherChannelGetsNoAnswer) {
  emu.setChannel(4);
  for (int ch : {0, 3, 5, 15}) {
    SCOPED_TRACE("request on channel " + std::to_string(ch));
    size_t mark = emu.logMark();
    midi.send(sysex(ch, 0x10));
    // On a time-out the emulator's log since the request shows whether it arrived at all.
    ASSERT_TRUE(emu.waitForLog("ignored (global channel 4)", mark)) << [&] {
      std::string seen;
      for (const std::string& line : emu.log(mark)) seen += line + "\n";
      return seen;
    }();
    for (const std::string& line : emu.log(mark)) EXPECT_EQ(line.find(" out "), std::string::npos) << line;
  }
  // A channel search reaches it on its own channel.
  EXPECT_EQ(ask(sysex(4, 0x10), 0x40)[2], 0x34);
}

TEST_F(EmulatorE2E, ThousandRandomProgramsSurviveDumpInAndOut) {
  std::mt19937 rng(2024);
  const int kBatch = 25;
  for (int done = 0; done < 1000; done += kBatch) {
    std::vector<Bytes> sent;
    for (int i = 0; i < kBatch; ++i) {
      sent.push_back(randomProgram(rng, "Random " + std::to_string(done + i)));
      midi.send(sysex(0, 0x40, pack(sent.back())));
      midi.send(sysex(0, 0x10));
    }
    for (int i = 0; i < kBatch; ++i) {
      auto dump = midi.receiveMatching([](const Bytes& m) { return isFunction(m, 0x40); });
      ASSERT_TRUE(dump) << "no dump for program " << done + i;
      ASSERT_EQ(dump->size(), 297u);
      ASSERT_EQ(toHex(unpack(*dump, 5, 254)), toHex(sent[i])) << "program " << done + i;
    }
  }
}

TEST_F(EmulatorE2E, ControlChangesNrpnsAndProgramChangesReachTheState) {
  deliver({0xB0, 74, 99}, "note CC 74 timbre 1: edit byte 58 = 63");
  deliver({0xB0, 83, 85}, "edit byte 57 = 02");                        // filter type, four steps
  deliver({0xB0, 95, 127}, "timbre 2 selected");                       // timbre select
  deliver({0xB0, 74, 12}, "note CC 74 timbre 2: edit byte 166 = 0C");  // now timbre 2
  midi.send({0xB0, 99, 0});
  midi.send({0xB0, 98, 2});
  deliver({0xB0, 6, 127}, "NRPN 00 02: edit byte 32");  // arpeggio on
  EXPECT_EQ(emu.editByte(32) & 0x80, 0x80);
  deliver({0xC1, 9}, "program change on channel 1 ignored");
  deliver({0xC0, 9}, "program 9 \"Init 010    \" selected");
  EXPECT_EQ(emu.editName(), "Init 010    ");
  EXPECT_EQ(emu.currentProgram(), 9);
  deliver(sysex(0, 0x4E, {1, 0}), "edit mode on");
}

TEST_F(EmulatorE2E, KnobTurnsProgramChangesAndDumpsGoOutAsTheDeviceSendsThem) {
  emu.setChannel(3);
  emu.check("turn cc 74 100");
  EXPECT_EQ(toHex(*midi.receive()), "B3 4A 64");
  EXPECT_EQ(emu.editByte(58), 100);
  emu.check("turn nrpn 0 7 51");  // arpeggio type Alt1
  EXPECT_EQ(toHex(*midi.receive()), "B3 63 00");
  EXPECT_EQ(toHex(*midi.receive()), "B3 62 07");
  EXPECT_EQ(toHex(*midi.receive()), "B3 06 33");
  EXPECT_EQ(emu.editByte(33) & 0x0F, 2);
  emu.check("send progchange 5");
  EXPECT_EQ(toHex(*midi.receive()), "C3 05");
  EXPECT_EQ(emu.editName(), "Init 006    ");
  emu.check("send dump");
  Bytes dump = *midi.receive();
  ASSERT_EQ(dump.size(), 297u);
  EXPECT_EQ(toHex(unpack(dump, 5, 254)), toHex(emu.program(5)));
  emu.check("turn param 85 20");
  EXPECT_EQ(toHex(*midi.receive()), "F0 42 33 58 41 55 00 14 00 F7");
}

TEST_F(EmulatorE2E, GlobalDumpIsStoredAndMovesTheGlobalChannel) {
  Bytes g = emu.globalData();
  g[9] = 6;
  EXPECT_EQ(toHex(ask(sysex(0, 0x51, pack(g)), 0x23)), "F0 42 30 58 23 F7");
  EXPECT_EQ(emu.channel(), 6);
  EXPECT_EQ(toHex(emu.globalData()), toHex(g));
  EXPECT_EQ(ask(sysex(6, 0x10), 0x40)[2], 0x36);
}

TEST_F(EmulatorE2E, BadInputIsReportedAndAnsweredWithoutHarm) {
  // A SysEx cut short by the next status byte.
  deliver({0xF0, 0x42, 0x30, 0x58, 0x10, 0x90, 0x40, 0x7F}, "truncated SysEx of 5 bytes");
  // A SysEx whose F7 never comes.
  deliver({0xF0, 0x42, 0x30, 0x58}, "truncated SysEx of 4 bytes");
  // Wrong lengths and unknown functions get the device's error answers.
  Bytes shortDump = sysex(0, 0x40, Bytes(290, 0));
  EXPECT_EQ(toHex(ask(shortDump, 0x24)), "F0 42 30 58 24 F7");
  EXPECT_EQ(toHex(ask(sysex(0, 0x7A), 0x26)), "F0 42 30 58 26 F7");
  EXPECT_EQ(toHex(ask(sysex(0, 0x11, {0x00}), 0x26)), "F0 42 30 58 26 F7");
  // A stray F7 is noted.
  deliver({0xF7}, "F7 without a SysEx ignored");
  // Still answering.
  EXPECT_EQ(ask(sysex(0, 0x10), 0x40).size(), 297u);

  // Bad commands get a clear error line and change nothing.
  for (const char* bad :
       {"frobnicate", "get edit 254", "set edit 1", "channel 16", "send cc 0 74 128", "load edit 0102", "turn cc 200 1",
        "send raw ZZ", "wait x 0 y", "bank load /nonexistent/bank.syx"}) {
    auto r = emu.command(bad);
    EXPECT_FALSE(r.ok) << bad;
    EXPECT_FALSE(r.value.empty()) << bad;
  }
  EXPECT_EQ(emu.command("ping").value, "pong");
}

// A bank saved by one emulator starts another one (commands on standard input this time); its programs are also
// what reset() returns to.
TEST_F(EmulatorE2E, BankFileGivenAtStartHoldsTheProgramsAfterReset) {
  std::string bank = ::testing::TempDir() + "/emulator-e2e-bank.syx";
  emu.check("set name 3 Bank Three");
  emu.check("bank save " + bank);
  std::string exe = std::string(std::getenv("VEXMIR_BUILD_DIR")) + "/tools/synth-emulator/synth-emulator";
  std::string cmd =
      "printf 'get name 3\\nset name 3 Changed\\nchannel 1\\nreset\\nget name 3\\nget name 4\\nget channel\\nquit\\n' "
      "| '" +
      exe + "' --name 'Second Emulator' --channel 7 --bank '" + bank + "' 2>/dev/null";
  int status = -1;
  const std::string out = vexmir::testsupport::commandOutput(cmd, &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(out, "ok Bank Three  \nok\nok\nok\nok Bank Three  \nok Init 005    \nok 7\nok bye\n");
}

TEST_F(EmulatorE2E, SecondEmulatorWithTheSameNameRefusesToStart) {
  std::string exe = std::string(std::getenv("VEXMIR_BUILD_DIR")) + "/tools/synth-emulator/synth-emulator";
  std::string cmd = "'" + exe + "' --name 'Vexmir Synth Emulator' </dev/null >/dev/null 2>&1";
  int status = std::system(cmd.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
}

// An emulator in the background told to exit with its starter quits, ports and all, once that process is gone:
// a test that dies cannot leave one running.
TEST_F(EmulatorE2E, ABackgroundEmulatorEndsWithTheProcessItWasToldToExitWith) {
  const std::string exe = std::string(std::getenv("VEXMIR_BUILD_DIR")) + "/tools/synth-emulator/synth-emulator";
  const std::string base = ::testing::TempDir() + "/exit-with-" + std::to_string(::getpid());
  const pid_t starter = ::fork();
  ASSERT_GE(starter, 0);
  if (starter == 0) {
    ::pause();
    ::_exit(0);
  }
  const std::string cmd = "'" + exe + "' --name 'Exit With' --socket '" + base + ".sock' --background --pid-file '" +
                          base + ".pid' --exit-with " + std::to_string(starter) + " >/dev/null 2>&1";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  pid_t emulator = 0;
  std::ifstream(base + ".pid") >> emulator;
  ASSERT_GT(emulator, 0);
  EXPECT_EQ(::kill(emulator, 0), 0) << "it runs while its starter does";
  ::kill(starter, SIGKILL);
  ::waitpid(starter, nullptr, 0);
  bool ended = false;
  for (int i = 0; i < 1000 && !ended; ++i) {
    // Gone, or a zombie that nobody has reaped yet.
    std::string stat;
    std::getline(std::ifstream("/proc/" + std::to_string(emulator) + "/stat"), stat);
    const size_t close = stat.rfind(')');
    ended = stat.empty() || (close != std::string::npos && stat.compare(close, 3, ") Z") == 0);
    if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(ended) << "the emulator outlived the process it was to exit with";
  EXPECT_FALSE(std::ifstream(base + ".sock").good()) << "its socket is removed";
  std::string bad = "'" + exe + "' --exit-with nobody --stdin </dev/null >/dev/null 2>&1";
  EXPECT_EQ(WEXITSTATUS(std::system(bad.c_str())), 2);
}

}  // namespace
