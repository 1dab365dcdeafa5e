// The live editing loop end to end: the real bundle in vexmir-host, a real JACK server and the synthesizer
// emulator. Edits made with the mouse reach the emulator as the exact messages of their binding; knobs turned on
// the emulator move the editor's parameters and nothing goes back; program changes fetch the new program.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <atomic>
#include <chrono>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/host/run_host.h"
#include "tests/support/EmulatorClient.h"
#include "tests/support/Files.h"

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

// A transfer's progress overlay takes the mouse until its job has paced out its end: its dialog covers a bare part
// of the mixer panel till then. The editor as it looked before it connected is "editor.png".
const char* const kOverlayGone = "pump until 915 118 60 24 like editor.png\n";

// Opens the editor, chooses the emulator's ports in the two port menus and waits for the connection's global
// dump, so that every later step works on a connected editor.
std::string connected() {
  return "open\n"
         "editor open cocoa\n"
         "pump 1\n"
         "window save editor.png\n"
         "emulator clearlog\n"
         "menu title \"Vexmir Synth Emulator:MIDI Out\"\n"
         "click " +
         at(487) +
         "\n"
         "menu title \"Vexmir Synth Emulator:MIDI In\"\n"
         "click " +
         at(486) +
         "\n"
         "emulator wait 10000 0 \"out F0 42 30 58 51\"\n" +
         kOverlayGone + "emulator clearlog\n";
}

// One mouse edit per kind of binding: the steps, the exact messages the synthesizer must get for it (in order, the
// last one carrying the value the edit ends on), the byte of its edit buffer that must change (no other may) and
// to what, and steps that set the same value once more, which must send nothing.
struct BindingEdit {
  const char* kind;
  std::string steps;
  std::vector<std::string> messages;
  int offset;
  int value;
  std::string repeat;
};

// The edit buffer after each "emulator get edit" of a transcript, as bytes.
std::vector<std::vector<int>> editBuffers(const std::string& transcript) {
  std::vector<std::vector<int>> out;
  std::istringstream lines(transcript);
  std::string line;
  bool asked = false;
  while (std::getline(lines, line)) {
    if (asked && line.rfind("  ok ", 0) == 0) {
      std::istringstream hex(line.substr(5));
      std::vector<int> bytes;
      for (std::string b; hex >> b;) bytes.push_back(std::stoi(b, nullptr, 16));
      out.push_back(bytes);
    }
    asked = line == "emulator get edit";
  }
  return out;
}

// The line of the description that names the parameter, replaced whole.
void replaceControl(std::string* xml, const std::string& paramId, const std::string& line) {
  const size_t at = xml->find("paramId=\"" + paramId + "\"");
  ASSERT_NE(at, std::string::npos) << paramId;
  const size_t begin = xml->rfind('<', at), end = xml->find("/>", at) + 2;
  xml->replace(begin, end - begin, line);
}

// A copy of this build's bundle whose description binds the filter cutoff as a vertical CC slider (60 pixels
// from 24,350), which the real one never does, and the distortion switch as a CC switch (CC 92, on 127).
std::string variantBundle(const ScratchDir& dir) {
  namespace fs = std::filesystem;
  const fs::path from = pluginBundlePath();
  const fs::path to = fs::path(dir.file("variant")) / from.filename();
  const fs::path library = fs::path("Contents") / "Linux" / (from.stem().string() + ".so");
  const fs::path resources = fs::path("Contents") / "Resources" / "resources";
  fs::create_directories(to / library.parent_path());
  fs::create_directories(to / resources);
  // The plug-in finds its bundle from the real paths of its libraries (the platform library among them, which the
  // host loads first: the host runs with the copy's folder on LD_LIBRARY_PATH), so they are linked or copied,
  // never symlinked.
  for (const fs::path& file : {library, library.parent_path() / "libvexmir-platform"}) {
    std::error_code linked;
    fs::create_hard_link(from / file, to / file, linked);
    if (linked) fs::copy_file(from / file, to / file);
  }
  fs::copy_file(from / "Contents" / "Info.plist", to / "Contents" / "Info.plist");
  fs::create_directory_symlink(from / resources / "img", to / resources / "img");
  fs::create_symlink(from / resources / "sysex.tea", to / resources / "sysex.tea");

  const char* src = std::getenv("VEXMIR_SOURCE_DIR");
  std::string xml = vexmir::testsupport::readText(std::string(src ? src : ".") + "/resources/uiconfig.xml");
  replaceControl(&xml, "kFilterCutoff",
                 "<slidercontrol type=\"ccSliderVer\" ccNumber=\"74\" name=\"Cutoff\" paramId=\"kFilterCutoff\" "
                 "paramGroup=\"Filter\" position=\"24,350\" length=\"60\" imageId=\"LED_ID\" "
                 "valueBounds=\"127,0,127,1\"/>");
  replaceControl(&xml, "kAmpDistSw",
                 "<buttoncontrol type=\"ccButton\" ccNumber=\"92\" name=\"Distortion\" paramId=\"kAmpDistSw\" "
                 "paramGroup=\"Amp\" position=\"596,396,30,16\" imageId=\"SWITCH_ID\" valueBounds=\"0,0,127\"/>");
  dir.write("uiconfig.xml", xml);
  const std::string encrypt = std::string(VEXMIR_TEA_ENCRYPT) + " " + dir.file("uiconfig.xml") + " \"" +
                              (to / resources / "uiconfig.tea").string() + "\"";
  EXPECT_EQ(std::system(encrypt.c_str()), 0) << encrypt;
  return to.string();
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
  // Runs the edits in one session of the plug-in and checks each against the emulator: its messages arrived in
  // order, its last one once (its repeat sent nothing), and the edit buffer changed in exactly its byte.
  void checkBindingEdits(const std::string& plugin, const std::vector<BindingEdit>& edits,
                         const std::string& libraries = "") {
    std::string script = connected() + "emulator get edit\n";
    for (const BindingEdit& e : edits)
      script += e.steps + "emulator wait 10000 0 \"in " + e.messages.back() + "\"\n" + e.repeat + "emulator get edit\n";
    // Time for anything a repeat might still send.
    script += "wait 500\nclose\n";
    std::vector<std::string> env = {"VEXMIR_ROOT=" + dir.path()};
    if (!libraries.empty()) env.push_back("LD_LIBRARY_PATH=" + libraries);
    HostRun r = runHost(plugin, script, dir, {}, env);
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    const std::vector<std::vector<int>> buffers = editBuffers(r.out);
    ASSERT_EQ(buffers.size(), edits.size() + 1) << r.out;
    const std::string log = logText();
    size_t at = 0;
    for (size_t i = 0; i < edits.size(); ++i) {
      const BindingEdit& e = edits[i];
      for (const std::string& m : e.messages) {
        const size_t found = log.find(" in " + m + "\n", at);
        ASSERT_NE(found, std::string::npos) << e.kind << ": " << m << " missing after the earlier edits\n" << log;
        at = found + 1;
      }
      EXPECT_EQ(log.find(" in " + e.messages.back() + "\n", at), std::string::npos) << e.kind << " sent twice\n" << log;
      std::vector<int> changed;
      for (size_t b = 0; b < buffers[i].size() && b < buffers[i + 1].size(); ++b)
        if (buffers[i][b] != buffers[i + 1][b]) changed.push_back(static_cast<int>(b));
      EXPECT_EQ(changed, std::vector<int>{e.offset}) << e.kind;
      if (changed == std::vector<int>{e.offset}) {
        EXPECT_EQ(buffers[i + 1][static_cast<size_t>(e.offset)], e.value) << e.kind;
      }
    }
  }
  EmulatorClient emu;
  ScratchDir dir;
};

}  // namespace

TEST_F(LiveLoop, MouseEditsPutTheBindingsBytesAtTheSynthesizer) {
  const int kOsc2OscMod = 8, kFilterCutoff = 24, kAmpGateSw = 48, kAmpDistSw = 50, kArpOnOff = 91, kArpType = 95,
            kSeq1Step1 = 147, kSeq1Knob = 255, kShowModSequence = 523;
  const std::vector<BindingEdit> edits = {
      // A wheel step of -10 from 127 gives 114; then down to the end, where a further step changes nothing.
      {"CC knob", "wheel " + at(kFilterCutoff) + " -10\nwheel " + at(kFilterCutoff) + " -200\n",
       {"B0 4A 72", "B0 4A 00"}, 58, 0, "wheel " + at(kFilterCutoff) + " -5\n"},
      // On the global channel; Alt2 is data 77. Chosen again, it sends nothing.
      {"NRPN menu", "menu choose 3\nclick " + at(kArpType) + "\n", {"B0 63 00", "B0 62 07", "B0 06 4D"}, 33, 3,
       "menu choose 3\nclick " + at(kArpType) + "\n"},
      // The four-way menu sends its steps spread over the CC range: Sync is 85 (kept in bits 4-5 of its byte).
      // Chosen again, it sends nothing.
      {"CC menu", "menu choose 2\nclick " + at(kOsc2OscMod) + "\n", {"B0 52 55"}, 50, 0x20,
       "menu choose 2\nclick " + at(kOsc2OscMod) + "\n"},
      // As the synthesizer sends it: on is 127 (bit 7 of its byte).
      {"NRPN switch", "click " + at(kArpOnOff) + "\n", {"B0 63 00", "B0 62 02", "B0 06 7F"}, 32, 0x80, ""},
      // The instrument's own CC for the distortion (bit 0 of its byte).
      {"CC switch", "click " + at(kAmpDistSw) + "\n", {"B0 5C 7F"}, 65, 1, ""},
      // Edit mode first, then the parameter change (bit 6 of the same byte).
      {"SysEx switch", "click " + at(kAmpGateSw) + "\n", {"F0 42 30 58 4E 01 00 F7", "F0 42 30 58 41 5B 00 01 00 F7"},
       65, 0x41, ""},
      // On the modulation-sequence tab: up to the end, where a further step changes nothing.
      {"SysEx knob", "click " + at(kShowModSequence) + "\nwheel " + at(kSeq1Knob) + " 200\n",
       {"F0 42 30 58 41 06 01 7F 00 F7"}, 92, 127, "wheel " + at(kSeq1Knob) + " 5\n"},
      // Signed: the bottom end is -64, sent as 40 7F and stored with +64.
      {"two-byte SysEx knob", "wheel " + at(kSeq1Step1) + " -200\n", {"F0 42 30 58 41 08 01 40 7F F7"}, 94, 0,
       "wheel " + at(kSeq1Step1) + " -5\n"},
  };
  checkBindingEdits(pluginBundlePath(), edits);
}

// The kinds the editor's own description does not use, in a copy of the bundle that binds them.
TEST_F(LiveLoop, MouseEditsOfSlidersAndCCSwitchesPutTheirBytesAtTheSynthesizer) {
  const std::string bundle = variantBundle(dir);
  ASSERT_FALSE(HasFailure());
  const std::vector<BindingEdit> edits = {
      // A click on the track puts the handle there: the top end is 127, where it stands already (nothing is sent),
      // the bottom end 0, twice.
      {"CC slider", "click 26 350\nclick 26 409\n", {"B0 4A 00"}, 58, 0, "click 26 409\n"},
      {"CC switch", "click " + at(50) + "\n", {"B0 5C 7F"}, 65, 1, ""},
  };
  checkBindingEdits(bundle, edits, bundle + "/Contents/Linux");
  EXPECT_EQ(logText().find(" in B0 4A 7F"), std::string::npos);
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
                  "emulator wait 10000 0 \"out F0 42 30 58 40\"\n" +
                  kOverlayGone +
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

// Closing the plug-in in a host, with its editor open, while the synthesizer streams knob turns: a fresh host
// process a round, each closing in the middle of the connection's job while the turns move controls on screen.
TEST_F(LiveLoop, ClosingWithTheEditorOpenWhileKnobsTurnIsClean) {
  std::atomic<bool> stop{false};
  std::thread turner([&] {
    EmulatorClient knobs;
    for (int v = 0; !stop; v = (v + 1) % 100) {
      knobs.check(v % 2 ? "turn cc 74 " + std::to_string(v) : "turn param 89 " + std::to_string(v));
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  const std::string script = "open\n"
                             "editor open cocoa\n"
                             "menu title \"Vexmir Synth Emulator:MIDI Out\"\n"
                             "click " + at(487) + "\n"
                             "menu title \"Vexmir Synth Emulator:MIDI In\"\n"
                             "click " + at(486) + "\n"
                             "pump 5\n";
  // Odd rounds stay until turns have moved the editor's controls (each move is reported to the host).
  int followed = 0;
  for (int round = 0; round < 4; ++round) {
    HostRun r = run(script + (round % 2 ? "wait 500\npump 5\n" : "") + "close\n");
    EXPECT_EQ(r.exitCode, 0) << "round " << round << "\n" << r.out << r.err;
    EXPECT_TRUE(r.has("dispatcher effClose")) << r.out;
    followed += r.has("index=24 opt=") || r.has("index=44 opt=");
    if (HasFailure()) break;
  }
  EXPECT_GE(followed, 2);
  stop = true;
  turner.join();
  EXPECT_EQ(emu.check("ping"), "pong");
}
