// The live editing loop end to end: the real bundle in vexmir-host, a real JACK server and the synthesizer
// emulator. Edits made with the mouse reach the emulator as the exact messages of their binding; knobs turned on
// the emulator move the editor's parameters and nothing goes back; program changes fetch the new program.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "tests/host/run_host.h"
#include "tests/support/EmulatorClient.h"

using vexmir::testsupport::EmulatorClient;

namespace {

struct Rect {
  int x = 0, y = 0, w = 0, h = 0;
  std::string centre() const { return std::to_string(x + w / 2) + " " + std::to_string(y + h / 2); }
};

// Where the editor puts the first control of each parameter, from the description dump the UI tests keep current.
const std::map<int, Rect>& controlRects() {
  static const std::map<int, Rect> rects = [] {
    std::map<int, Rect> out;
    const char* src = std::getenv("VEXMIR_SOURCE_DIR");
    std::ifstream in(std::string(src ? src : ".") + "/tests/golden/uiconfig/dump.txt");
    std::string line;
    int param = -1;
    while (std::getline(in, line)) {
      if (!line.empty() && line[0] != ' ') {
        param = std::atoi(line.c_str());
        continue;
      }
      std::istringstream words(line);
      std::string kind, pos, size;
      words >> kind >> pos >> size;
      if (out.count(param) || (kind != "knob" && kind != "menu" && kind != "switch" && kind != "radio")) continue;
      Rect r;
      if (std::sscanf(pos.c_str(), "%d,%d", &r.x, &r.y) == 2 && std::sscanf(size.c_str(), "%dx%d", &r.w, &r.h) == 2)
        out[param] = r;
    }
    return out;
  }();
  return rects;
}

std::string at(int param) {
  auto it = controlRects().find(param);
  return it == controlRects().end() ? std::string("0 0") : it->second.centre();
}

// Opens the editor, chooses the emulator's ports in the two port menus and waits for the connection's global
// dump, so that every later step works on a connected editor.
std::string connected() {
  return "open\n"
         "editor open cocoa\n"
         "emulator clearlog\n"
         "menu title \"Vexmir Synth Emulator:MIDI Out\"\n"
         "click " +
         at(487) +
         "\n"
         "menu title \"Vexmir Synth Emulator:MIDI In\"\n"
         "click " +
         at(486) +
         "\n"
         "emulator wait 10000 0 \"out F0 42 30 58 51\"\n"
         // The connection's progress overlay takes the mouse until the job has paced out its end.
         "wait 1500\n"
         "emulator clearlog\n";
}

class LiveLoop : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(controlRects().empty());
    emu.reset();
  }
  HostRun run(const std::string& script) {
    return runHost(pluginBundlePath(), script, dir, {}, {"VEXMIR_ROOT=" + dir.path()});
  }
  // The emulator's log as one text, a line each.
  std::string logText() {
    std::string all;
    for (const std::string& l : emu.log()) all += l + "\n";
    return all;
  }
  EmulatorClient emu;
  ScratchDir dir;
};

}  // namespace

TEST_F(LiveLoop, MouseEditsPutTheBindingsBytesAtTheSynthesizer) {
  const int kFilterCutoff = 24, kAmpDistSw = 50, kArpType = 95, kSeq1Step1 = 147, kShowModSequence = 523;
  HostRun r = run(connected() +
                  // A CC knob: a wheel step of -10 from 127 gives 114.
                  "wheel " + at(kFilterCutoff) +
                  " -10\n"
                  "emulator wait 10000 0 \"in B0 4A 72\"\n"
                  // An NRPN menu on the global channel: Alt2 is data 77.
                  "menu choose 3\n"
                  "click " +
                  at(kArpType) +
                  "\n"
                  "emulator wait 10000 0 \"in B0 06 4D\"\n"
                  // The same choice again changes nothing and sends nothing.
                  "menu choose 3\n"
                  "click " +
                  at(kArpType) +
                  "\n"
                  // A SysEx switch: edit mode first, then the parameter change.
                  "click " +
                  at(kAmpDistSw) +
                  "\n"
                  "emulator wait 10000 0 \"in F0 42 30 58 4E 01 00 F7\"\n"
                  "emulator wait 10000 0 \"in F0 42 30 58 41 5C 00 01 00 F7\"\n"
                  // A two-byte SysEx knob on the modulation-sequence tab: 64 - 10 steps is -10, bytes 76 7F.
                  "click " +
                  at(kShowModSequence) +
                  "\n"
                  "wheel " +
                  at(kSeq1Step1) +
                  " -8\n"
                  "emulator wait 10000 0 \"in F0 42 30 58 41 08 01\"\n"
                  "close\n");
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  std::string log = logText();
  EXPECT_NE(log.find("in B0 63 00"), std::string::npos);
  EXPECT_NE(log.find("in B0 62 07"), std::string::npos);
  // The arpeggiator type went out once, although it was chosen twice.
  size_t first = log.find("in B0 06 4D");
  EXPECT_EQ(log.find("in B0 06", first + 1), std::string::npos);
  // The emulator's edit buffer took every edit.
  EXPECT_NE(log.find("CC 74 timbre 1: edit byte"), std::string::npos);
  EXPECT_NE(log.find("NRPN 00 07: edit byte"), std::string::npos);
  EXPECT_NE(log.find("parameter 92: edit byte"), std::string::npos);
}

TEST_F(LiveLoop, KnobsTurnedOnTheSynthesizerMoveTheEditorAndNothingGoesBack) {
  struct Turn {
    const char* command;
    int param;
    const char* normalized;  // as the plug-in reports the new value to the host
  } turns[] = {
      {"turn cc 74 100", 24, "0.787"},   // filter cutoff, timbre 1
      {"turn cc 20 64", 14, "0.5039"},   // oscillator 1 level
      {"turn cc 23 10", 36, "0.0787"},   // filter EG attack
      {"turn cc 77 36", 115, "0.2857"},  // oscillator 1 wave: Triangle, 2 of 0..7
      {"turn cc 12 50", 65, "0.3937"},   // mod FX speed, on the global channel
  };
  std::string script = connected();
  for (const Turn& t : turns) script += std::string("emulator ") + t.command + "\nwait 300\n";
  script += "wait 300\nclose\n";
  HostRun r = run(script);
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  for (const Turn& t : turns)
    EXPECT_TRUE(r.has("index=" + std::to_string(t.param) + " opt=" + t.normalized)) << t.command << "\n" << r.out;
  // Nothing came back to the synthesizer for any of them (the log starts after the connection).
  std::string log = logText();
  EXPECT_NE(log.find("out B0 4A 64"), std::string::npos) << log;
  EXPECT_EQ(log.find(" in B"), std::string::npos) << log;
}

TEST_F(LiveLoop, ProgramChangesFetchTheNewProgram) {
  const int kFilterCutoff = 24, kHostPCPass = 401, kSynthPCPass = 408, kGlobalSettings = 526;
  // Program 5 with the filter cutoff at 10: once the editor has it, a wheel step up gives 11.
  emu.check("set program 5 58 10");
  HostRun r = run(connected() +
                  // Program changes pass only once the global settings let them (they are blocked at first).
                  "click " + at(kGlobalSettings) +
                  "\n"
                  "click " +
                  at(kSynthPCPass) +
                  "\n"
                  "click " +
                  at(kHostPCPass) +
                  "\n"
                  // Leaving the global tab sends the global settings to the synthesizer, which then gets three
                  // seconds to store them before the job thread takes the next request.
                  "click " +
                  at(kGlobalSettings) +
                  "\n"
                  "emulator wait 10000 0 \"in F0 42 30 58 51\"\n"
                  "wait 3500\n"
                  "emulator clearlog\n"
                  "emulator send progchange 5\n"
                  "emulator wait 10000 0 \"in F0 42 30 58 10 F7\"\n"
                  "emulator wait 10000 0 \"out F0 42 30 58 40\"\n"
                  "wait 1500\n"
                  "emulator clearlog\n"
                  "wheel " +
                  at(kFilterCutoff) +
                  " 1\n"
                  "emulator wait 10000 0 \"in B0 4A 0B\"\n"
                  // From the host: the program change goes to the synthesizer, and its program is fetched.
                  "emulator clearlog\n"
                  "midi C0 07\n"
                  "process float frames=256\n"
                  "emulator wait 10000 0 \"in C0 07\"\n"
                  "emulator wait 10000 0 \"in F0 42 30 58 10 F7\"\n"
                  "close\n");
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(emu.currentProgram(), 7);
}
