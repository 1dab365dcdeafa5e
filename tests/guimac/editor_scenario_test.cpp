// The editor end to end: vexmir-host loads a small plug-in bundle, opens its editor in a window of the platform
// model through the view (Cocoa) path and through the Carbon path, and scripts presses, drags, the wheel, double
// clicks, keys, a popup menu choice and typed text entry. The transcript's begin and end notices, the plug-in's
// SetParameterFromGUI calls, the repainted areas and the window's pixels (against golden PNGs) are checked.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "tests/guimac/guimac_support.h"
#include "tests/host/run_host.h"
#include "tests/support/Pixels.h"

namespace {

using guimactest::writePng;

// The test plug-in's bundle, with its images.
std::string makeBundle(const ScratchDir& dir) {
  return guimactest::makeGuiTestBundle(dir, EDITOR_TEST_PLUGIN);
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::stringstream ss(text);
  std::string l;
  while (std::getline(ss, l)) out.push_back(l);
  return out;
}

// Window pixels from the top left; the editor gets each point 2 pixels left and 3 up of where the mouse is.
const char* kScript = R"(
open
editor open ${PATH_KIND}
pump 2
window draws
window save "${OUT}/initial.png"
echo switch
click 122 35
pump 1
window draws
echo knob
drag 46 47 46 22 steps=5
pump 1
window draws
wheel 46 47 -1
wheel 46 47 -0.6
pump 1
dblclick 46 47
pump 1
echo radio
click 174 83
echo fader
drag 262 103 262 63 steps=4
pump 1
echo keys
mouse move 46 47
key up
key 7
key tab
echo caption
menu choose 3
click 102 164
pump 1
echo text entry
click 46 47 mods=cmd
type 1x00
key return
pump 2
window draws
window save "${OUT}/final.png"
editor close
close
)";

struct ScenarioRun {
  HostRun host;
  std::vector<std::string> guiCalls;
};

ScenarioRun runScenario(const std::string& kind, const ScratchDir& dir) {
  const std::string bundle = makeBundle(dir);
  ScenarioRun r;
  r.host = runHost(bundle, kScript, dir, {"--transcript", dir.file("transcript.txt")},
                   {"PATH_KIND=" + kind, "OUT=" + dir.path(), "VEXMIR_ROOT=" + dir.path(),
                    "VEXMIR_GUI_TEST_LOG=" + dir.file("gui.log")});
  r.host.out = dir.read("transcript.txt");
  r.guiCalls = lines(dir.read("gui.log"));
  return r;
}

void checkScenario(const std::string& kind, const ScenarioRun& r, const ScratchDir& dir) {
  ASSERT_TRUE(r.host.exited) << r.host.err;
  ASSERT_EQ(r.host.exitCode, 0) << r.host.err << r.host.out;
  EXPECT_TRUE(r.host.has("editor rect 400x300")) << r.host.out;
  EXPECT_TRUE(r.host.has("editor open " + kind + " -> 1")) << r.host.out;
  if (kind == "cocoa") {
    EXPECT_TRUE(r.host.has("editor asks hasHostViewAsConfig -> 0xBEEF0000")) << r.host.out;
  }
  EXPECT_TRUE(r.host.has("editor close -> 1"));

  // What the user's gestures sent to the plug-in, in order: the switch steps to Low; the knob, dragged 25 pixels up
  // from 64, moves 25 / 48 / 4 of its range and steps back one wheel notch (the 0.6 notch is no step); the double
  // click returns it to its default; the radio's third button; the fader follows the pointer up; the menu's fourth
  // mode; the typed 100 (the x refused).
  const std::vector<std::string> expected = {
      "SetParameterFromGUI 1 0.250000",
  };
  ASSERT_GE(r.guiCalls.size(), 6u) << r.host.out;
  EXPECT_EQ(r.guiCalls.front(), expected.front());
  EXPECT_EQ(r.guiCalls.back(), "SetParameterFromGUI 0 0.787402");  // 100 of 0..127
  bool sawMenuChoice = false, sawRadio = false;
  for (const auto& l : r.guiCalls) {
    sawMenuChoice = sawMenuChoice || l == "SetParameterFromGUI 1 0.750000";
    sawRadio = sawRadio || l == "SetParameterFromGUI 2 1.000000";
  }
  EXPECT_TRUE(sawMenuChoice);
  EXPECT_TRUE(sawRadio);

  // Every press on a bound control is announced, and ended on release (a double click ends twice).
  int begins = 0, ends = 0;
  for (const auto& l : lines(r.host.out)) {
    begins += l.find("audioMasterBeginEdit") != std::string::npos;
    ends += l.find("audioMasterEndEdit") != std::string::npos;
  }
  EXPECT_GE(begins, 7);
  EXPECT_GE(ends, begins);
  EXPECT_TRUE(r.host.has("request audioMasterBeginEdit(43) index=1 -> 1\nrequest audioMasterEndEdit(44) index=1 -> 1"))
      << r.host.out;

  // The menu the user saw: the caption's modes with the current one checked.
  EXPECT_TRUE(r.host.has("\"High\"")) << r.host.out;
  // Keys: the arrow and the digit went to the editor, Tab to the host.
  EXPECT_TRUE(r.host.has("key 48 passed to the host")) << r.host.out;

  pixels::expectFileMatchesGolden(dir.file("initial.png"), "gui-mac", "editor_initial.png");
  // Both window paths draw the same surface: one golden serves both, and each path is compared with it.
  pixels::expectFileMatchesGolden(dir.file("final.png"), "gui-mac", "editor_final.png");
}

TEST(EditorScenario, CocoaPathEndToEnd) {
  ScratchDir dir;
  const ScenarioRun r = runScenario("cocoa", dir);
  checkScenario("cocoa", r, dir);
  // The first display draws the whole view (and the view inside it over it); the switch's press repaints only the
  // switch.
  EXPECT_TRUE(r.host.has("window draws 3 [0,0 400x300] [0,0 400x300] [20,20 251x203]")) << r.host.out;
  EXPECT_TRUE(r.host.has("window draws 1 [100,20 41x25]")) << r.host.out;
}

TEST(EditorScenario, CarbonPathEndToEnd) {
  ScratchDir dir;
  const ScenarioRun r = runScenario("carbon", dir);
  checkScenario("carbon", r, dir);
  EXPECT_TRUE(r.host.has("window draws 1 [100,20 40x24]")) << r.host.out;
}

}  // namespace

namespace {

// The editor steps check their arguments before anything runs (exit 2) and need an open editor when they run
// (exit 4).
TEST(EditorSteps, BadStepsAreRefusedAndInputNeedsAnOpenEditor) {
  struct Case {
    const char* script;
    int exitCode;
    const char* message;
  } cases[] = {
      {"editor open quartz\n", 2, "editor open cocoa|carbon"},
      {"mouse down 10\n", 2, "wrong number of values"},
      {"mouse press 1 2\n", 2, "mouse down|up|drag|move"},
      {"click 1 2 button=middle\n", 2, "button=left or button=right"},
      {"key F13\n", 2, "unknown key"},
      {"click 1 2 mods=hyper\n", 2, "unknown modifier"},
      {"pump 0\n", 2, "pump TICKS"},
      {"menu choose 1/x\n", 2, "bad menu item number"},
      {"window save\n", 2, "window save FILE.png"},
      {"open\nclick 10 10\n", 4, "no editor window is open"},
      {"open\nwindow save x.png\n", 4, "no editor window is open"},
  };
  ScratchDir dir;
  const std::string bundle = makeBundle(dir);
  for (const auto& c : cases) {
    const HostRun r = runHost(bundle, c.script, dir, {}, {"VEXMIR_ROOT=" + dir.path()});
    EXPECT_EQ(r.exitCode, c.exitCode) << c.script << r.err;
    EXPECT_NE((r.err + r.out).find(c.message), std::string::npos) << c.script << r.err << r.out;
  }
}

}  // namespace
