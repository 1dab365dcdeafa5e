// The editor in a real X11 window, as a Linux VST host shows it: vexmir-host makes a top-level window on an Xvfb
// server of the test's own and hands its id to effEditOpen. The screenshot of that window must equal the model
// window's backing store pixel for pixel; real input injected with xdotool must change the parameters exactly as
// the same gestures do on the model path; a hundred open/close cycles must leave the server as it was; and without
// a server the editor refuses to open without harm.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/guimac/guimac_support.h"
#include "tests/host/run_host.h"
#include "tests/x11/x11_support.h"

namespace {

using pixels::differingPixels;
using x11test::editorScript;
using x11test::keepForPeople;
using x11test::linesWith;
using x11test::run;
using X11Editor = x11test::ServerTest;

TEST_F(X11Editor, ScreenshotEqualsTheModelsBackingStore) {
  ScratchDir dir;
  const std::string bundle = guimactest::makeGuiTestBundle(dir, EDITOR_TEST_PLUGIN);
  // With MIT-SHM, and with plain image requests as for a server on another machine.
  for (const char* shm : {"1", "0"}) {
    std::vector<std::string> env{"DISPLAY=" + server.display()};
    if (std::string(shm) == "0") env.push_back("VEXMIR_X11_NO_SHM=1");
    const HostRun r = run(bundle, editorScript(R"(pump 2
window save "${OUT}/model.png"
x11 screenshot "${OUT}/screen.png"
x11 input windowunmap --sync %HOST windowmap --sync %HOST
x11 screenshot "${OUT}/remapped.png"
)"),
                          dir, env);
    ASSERT_EQ(r.exitCode, 0) << r.err << r.out;
    EXPECT_TRUE(r.has("editor open x11 -> 1")) << r.out;
    EXPECT_EQ(r.has("editor shown on X11 with shared memory"), std::string(shm) == "1") << r.out;
    pixels::expectSamePictures(dir.file("model.png"), dir.file("screen.png"));
    // Hidden and shown again, the window lost its pixels; the editor paints the exposed area from the model.
    pixels::expectSamePictures(dir.file("model.png"), dir.file("remapped.png"));
  }
}

// One gesture, as the model path scripts it and as real input on the X11 window.
struct Gesture {
  const char* name;
  const char* model;
  const char* x11;
};

const Gesture kGestures[] = {
    {"switch", "click 122 35", "x11 input mousemove --window %HOST 122 35 click 1"},
    {"knob drag", "drag 46 47 46 22 steps=5",
     "x11 input mousemove --window %HOST 46 47 mousedown 1 mousemove --window %HOST 46 42 mousemove --window %HOST "
     "46 37 mousemove --window %HOST 46 32 mousemove --window %HOST 46 27 mousemove --window %HOST 46 22 mouseup 1"},
    {"wheel", "wheel 46 47 -1", "x11 input mousemove --window %HOST 46 47 click 5"},
    {"double click", "dblclick 46 47", "x11 input mousemove --window %HOST 46 47 click --repeat 2 --delay 60 1"},
    {"radio", "click 174 83", "x11 input mousemove --window %HOST 174 83 click 1"},
    {"fader", "drag 262 103 262 63 steps=4",
     "x11 input mousemove --window %HOST 262 103 mousedown 1 mousemove --window %HOST 262 93 mousemove --window "
     "%HOST 262 83 mousemove --window %HOST 262 73 mousemove --window %HOST 262 63 mouseup 1"},
    // The caption's menu: the fourth mode. On X11 the menu is a window of its own; its fourth item's middle is 74
    // pixels from its top.
    {"menu", "menu choose 3\nclick 102 164",
     "x11 input mousemove --window %HOST 102 164 click 1 search --sync --onlyvisible --name \"^Vexmir Editor menu$\" "
     "mousemove --window %1 40 74 click 1"},
    // A right click (Command-click on the model) opens the knob's value entry; 1x00 typed, the x refused.
    {"text entry", "click 46 47 mods=cmd\ntype 1x00\nkey return",
     "x11 input mousemove --window %HOST 46 47 click 3\nx11 input type 1x00\nx11 input key Return"},
};

// The gestures on the model path or as real input on X11, each after an echo of its name and followed by `after`;
// at the end the model's picture is saved, and on X11 the screenshot.
template <size_t N>
std::string gestureScript(const Gesture (&gestures)[N], bool onX11, const std::string& after = "") {
  std::string s = "pump 2\n";
  for (const Gesture& g : gestures)
    s += std::string("echo \"") + g.name + "\"\n" + (onX11 ? g.x11 : g.model) + "\npump 2\n" + after;
  s += "window save \"${OUT}/model.png\"\n";
  if (onX11) s += "x11 screenshot \"${OUT}/screen.png\"\n";
  return editorScript(s, onX11 ? "x11" : "cocoa");
}

const char* const kParamGets = "param get 0\nparam get 1\nparam get 2\nparam get 3\n";

TEST_F(X11Editor, RealInputChangesWhatTheModelPathChanges) {
  ScratchDir modelDir, x11Dir;
  const HostRun model = run(guimactest::makeGuiTestBundle(modelDir, EDITOR_TEST_PLUGIN),
                            gestureScript(kGestures, false, kParamGets), modelDir, {});
  ASSERT_EQ(model.exitCode, 0) << model.err << model.out;
  const HostRun real = run(guimactest::makeGuiTestBundle(x11Dir, EDITOR_TEST_PLUGIN),
                           gestureScript(kGestures, true, kParamGets), x11Dir, {"DISPLAY=" + server.display()});
  ASSERT_EQ(real.exitCode, 0) << real.err << real.out;

  // After each gesture every parameter holds what the model path left in it.
  const auto wanted = linesWith(model.out, "param get"), got = linesWith(real.out, "param get");
  ASSERT_EQ(got.size(), std::size(kGestures) * 4);
  for (size_t i = 0; i < got.size(); ++i)
    EXPECT_EQ(got[i], wanted[i]) << "after " << kGestures[i / 4].name << "\n" << real.out;
  // The gestures changed something each time (so the comparison means something): the menu's mode and the typed 100.
  EXPECT_NE(wanted[std::size(kGestures) * 4 - 8 + 1], wanted[0 + 1]);
  EXPECT_TRUE(real.has("x11 input type 1x00 -> 0")) << real.out;

  keepForPeople(x11Dir, "screen.png", "gui-test-editor-after-input");
  // And the window shows it: the screen equals the model's picture of the final state.
  pixels::expectSamePictures(x11Dir.file("model.png"), x11Dir.file("screen.png"));
  pixels::expectSamePictures(x11Dir.file("screen.png"), modelDir.file("model.png"));
}

// The wave menu's second item is disabled: a click on it leaves the menu open and the next click chooses; the
// keyboard steps over it (up from the third item goes to the first; only Return's press is sent, as the menu is gone
// before its release). The menu's items are 20 pixels high below a 4-pixel margin.
TEST_F(X11Editor, ADisabledMenuItemIsNeverChosen) {
  ScratchDir dir;
  const char* const kMenu = "search --sync --onlyvisible --name \"^Vexmir Editor menu$\"";
  const std::string script = editorScript(
      std::string("pump 2\nx11 input mousemove --window %HOST 220 161 click 1 ") + kMenu +
      " mousemove --window %1 40 34 click 1 sleep 0.3 mousemove --window %1 40 54 click 1\npump 2\nparam get 2\n"
      "x11 input mousemove --window %HOST 220 161 click 1 " +
      kMenu + " mousemove --window %1 40 54 key Up keydown Return\npump 2\nparam get 2\n");
  const HostRun r =
      run(guimactest::makeGuiTestBundle(dir, EDITOR_TEST_PLUGIN), script, dir, {"DISPLAY=" + server.display()});
  ASSERT_EQ(r.exitCode, 0) << r.err << r.out;
  const auto values = linesWith(r.out, "param get 2");
  ASSERT_EQ(values.size(), 2u) << r.out;
  EXPECT_EQ(values[0], "param get 2 -> 1") << r.out;  // Square
  EXPECT_EQ(values[1], "param get 2 -> 0") << r.out;  // Sine
}

// Counted after a first cycle: what the server makes once, on the first editor's demand, is no leak of a cycle.
TEST_F(X11Editor, HundredOpenAndCloseCyclesLeaveTheServerAsItWas) {
  ScratchDir dir;
  std::string script = "open\neditor open x11\npump 1\neditor close\nx11 resources\n";
  for (int i = 0; i < 100; ++i) script += "editor open x11\npump 1\neditor close\n";
  script += "x11 resources\nclose\n";
  const HostRun r =
      run(guimactest::makeGuiTestBundle(dir, EDITOR_TEST_PLUGIN), script, dir, {"DISPLAY=" + server.display()});
  ASSERT_EQ(r.exitCode, 0) << r.err << r.out;
  const auto counts = linesWith(r.out, "x11 resources");
  ASSERT_EQ(counts.size(), 2u) << r.out;
  EXPECT_EQ(counts[1], counts[0]);
  EXPECT_EQ(linesWith(r.out, "editor open x11 -> 1").size(), 101u);
}

// On the machine's own clock, as in a Linux host: the host's idle calls alone run the redraw timer, so a click
// shows on the screen after a few idle ticks of real time.
TEST_F(X11Editor, TheHostsIdleDrivesTheRedrawTimerInRealTime) {
  ScratchDir dir;
  const std::string steps = R"(pump 3
x11 screenshot "${OUT}/before.png"
x11 input mousemove --window %HOST 122 35 click 1
pump 3
window save "${OUT}/model.png"
x11 screenshot "${OUT}/screen.png"
)";
  const HostRun r = run(guimactest::makeGuiTestBundle(dir, EDITOR_TEST_PLUGIN), editorScript(steps, "x11 clock=real"),
                        dir, {"DISPLAY=" + server.display()});
  ASSERT_EQ(r.exitCode, 0) << r.err << r.out;
  pixels::expectSamePictures(dir.file("model.png"), dir.file("screen.png"));
  // The switch's new frame reached the screen.
  std::string where;
  EXPECT_GT(differingPixels(dir.file("before.png"), dir.file("screen.png"), &where), 0);
}

// Some hosts destroy their window, and the editor's child with it, before they close the editor. The editor's
// resources are counted alike each time, the first count of the server's included.
TEST_F(X11Editor, AHostWindowDestroyedFirstCostsNothing) {
  ScratchDir dir;
  const HostRun r = run(guimactest::makeGuiTestBundle(dir, EDITOR_TEST_PLUGIN), R"(
open
x11 resources
editor open x11
pump 1
x11 resources
x11 resources
x11 destroy
pump 2
x11 input mousemove 50 50 click 1
pump 1
editor close
x11 resources
editor open x11
pump 1
x11 destroy
close
x11 resources
)",
                        dir, {"DISPLAY=" + server.display()});
  ASSERT_TRUE(r.exited) << r.err;
  ASSERT_EQ(r.exitCode, 0) << r.err << r.out;
  const auto counts = linesWith(r.out, "x11 resources");
  ASSERT_EQ(counts.size(), 5u) << r.out;
  EXPECT_EQ(counts[2], counts[1]);
  EXPECT_EQ(counts[3], counts[0]);
  // The plug-in closed with its editor open: everything of the editor went with it.
  EXPECT_EQ(counts[4], counts[0]);
}

// A question of the window layer on the screen that ends without an answer is never consent: closed by the window
// manager, with the host's window destroyed under it or with the display connection gone, a question with Cancel
// answers Cancel (2), one without answers No (7), and only a plain OK box answers OK (1); the drop's "replace?"
// question leaves the file there as it was and writes no copy. Answered with Return, a question does say yes (6).
TEST_F(X11Editor, AQuestionEndedWithoutAnAnswerIsNeverConsent) {
  struct Case {
    const char* questions;
    const char* end;  // how the last question ends; the others are closed by the window manager
    std::vector<std::string> answers;
  } cases[] = {
      {"0 1 3 4 5 drop 4 3",
       "xdotool windowclose $HOST",
       {"MessageBox 0 -> 1", "MessageBox 1 -> 2", "MessageBox 3 -> 2", "MessageBox 4 -> 7", "MessageBox 5 -> 2",
        "drop asked", "MessageBox 4 -> 6", "MessageBox 3 -> 2"}},
      {"4", "xdotool windowkill $(win)", {"MessageBox 4 -> 7"}},
  };
  for (const Case& c : cases) {
    ScratchDir dir;
    std::filesystem::create_directories(dir.file("Drop"));
    dir.write("Drop/Bank.syx", "mine");
    // Each click asks the next question; the script waits for its alert, closes it and waits until it is gone. The
    // seventh question is answered with Return.
    dir.write("questions.sh", std::string(R"sh(set -e; HOST=$1; n=0; total=$(echo $2 | wc -w)
win() { xdotool search --sync --onlyvisible --name "^Vexmir Editor alert" | head -1; }
gone() { k=0; while xdotool search --onlyvisible --name "^Vexmir Editor alert" >/dev/null; do k=$((k+1)); [ $k -lt 500 ]; sleep 0.02; done; }
for q in $2; do
  n=$((n+1)); xdotool mousemove --window $HOST 220 120 click 1; w=$(win)
  if [ $n = $total ]; then )sh") + c.end +
                                  R"sh(; exit 0; fi
  if [ $n = 7 ]; then until [ "$(xdotool getwindowfocus)" = "$w" ]; do sleep 0.01; done; xdotool key Return
  else "$VEXMIR_HOST" --x11-close "Vexmir Editor alert"; fi
  gone
done
)sh");
    const HostRun r = run(
        guimactest::makeGuiTestBundle(dir, EDITOR_TEST_PLUGIN),
        editorScript(std::string("pump 2\nx11 input exec --sync sh questions.sh %HOST \"") + c.questions +
                     "\"\npump 2\n"),
        dir,
        {"DISPLAY=" + server.display(), "VEXMIR_HOST=" + hostExecutable(), "VEXMIR_GUI_TEST_LOG=" + dir.file("gui.log"),
         std::string("VEXMIR_GUI_TEST_QUESTIONS=") + c.questions, "VEXMIR_GUI_TEST_DROP_FILE=/elsewhere/Bank.syx",
         "VEXMIR_GUI_TEST_DROP_FOLDER=" + dir.file("Drop"), "VEXMIR_HOST_WATCHDOG=60"});
    ASSERT_EQ(r.exitCode, 0) << c.end << "\n" << r.err << r.out;
    EXPECT_EQ(linesWith(dir.read("gui.log"), ""), c.answers) << c.end;
    EXPECT_EQ(dir.read("Drop/Bank.syx"), "mine");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.file("Drop")), {}), 1)
        << "the dismissed drop wrote a copy";
  }
  // A host call from a second thread while a question, the drop's question or the wave menu (220, 161) stands: the
  // editor or the plug-in closed, the editor opened again (into no window). What stands ends unanswered, nothing is
  // chosen or written, and nothing is freed under the GUI thread, which was inside the editor.
  const struct {
    const char *stands, *call, *after;
    std::vector<std::string> answers;
  } asides[] = {{"3", "dispatch effEditClose", "pump 2\neditor close\nclose\n", {"MessageBox 3 -> 2"}},
                {"drop", "close", "", {"drop asked"}},
                {"menu", "close", "", {}},
                {"menu", "dispatch effEditOpen ptr=null", "pump 2\neditor close\nclose\n", {}}};
  for (const auto& c : asides) {
    ScratchDir dir;
    std::filesystem::create_directories(dir.file("Drop"));
    dir.write("Drop/Bank.syx", "mine");
    mkfifo(dir.file("aside").c_str(), 0600);
    const bool menu = std::string(c.stands) == "menu";
    const HostRun r =
        run(guimactest::makeGuiTestBundle(dir, EDITOR_TEST_PLUGIN),
            std::string("open\neditor open x11\npump 2\naside aside ") + c.call +
                "\nx11 input mousemove --window %HOST 220 " + (menu ? "161" : "120") +
                " click 1 search --sync --onlyvisible --name \"^Vexmir Editor " + (menu ? "menu$" : "alert") +
                "\" exec --sync sh -c \"echo > aside; cat aside\"\n" + c.after,
            dir,
            {"DISPLAY=" + server.display(), "VEXMIR_GUI_TEST_LOG=" + dir.file("gui.log"),
             std::string("VEXMIR_GUI_TEST_QUESTIONS=") + (menu ? "" : c.stands),
             "VEXMIR_GUI_TEST_DROP_FILE=/elsewhere/Bank.syx", "VEXMIR_GUI_TEST_DROP_FOLDER=" + dir.file("Drop"),
             "VEXMIR_HOST_WATCHDOG=60"});
    ASSERT_EQ(r.exitCode, 0) << c.call << "\n" << r.err << r.out;
    EXPECT_EQ(linesWith(dir.read("gui.log"), ""), c.answers) << c.call;
    EXPECT_EQ(dir.read("Drop/Bank.syx"), "mine");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.file("Drop")), {}), 1) << c.call;
  }
}

// A question asked outside the editor's own events is shown to nobody, and so answered by nobody: asked while the
// host processes a block on its own thread or on an audio thread with the editor open, or after the editor closed,
// it answers Cancel (2) or No (7), and the drop's "replace?" question writes no copy.
TEST_F(X11Editor, AQuestionNobodyWasShownIsNeverConsent) {
  ScratchDir dir;
  std::filesystem::create_directories(dir.file("Drop"));
  dir.write("Drop/Bank.syx", "mine");
  const HostRun r =
      run(guimactest::makeGuiTestBundle(dir, EDITOR_TEST_PLUGIN),
          "open\neditor open x11\npump 2\nprocess float count=2\nprocess float count=2 thread=audio\npump 2\n"
          "editor close\nprocess float count=2\nclose\n",
          dir,
          {"DISPLAY=" + server.display(), "VEXMIR_GUI_TEST_LOG=" + dir.file("gui.log"),
           "VEXMIR_GUI_TEST_QUESTIONS=4 drop 1 3 5 drop", "VEXMIR_GUI_TEST_DROP_FILE=/elsewhere/Bank.syx",
           "VEXMIR_GUI_TEST_DROP_FOLDER=" + dir.file("Drop"), "VEXMIR_HOST_WATCHDOG=60"});
  ASSERT_EQ(r.exitCode, 0) << r.err << r.out;
  EXPECT_EQ(linesWith(dir.read("gui.log"), ""),
            (std::vector<std::string>{"MessageBox 4 -> 7", "drop asked", "MessageBox 1 -> 2", "MessageBox 3 -> 2",
                                      "MessageBox 5 -> 2", "drop asked"}));
  EXPECT_EQ(dir.read("Drop/Bank.syx"), "mine");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.file("Drop")), {}), 1) << "the drop wrote a copy";
}

TEST_F(X11Editor, WithoutAServerOrAWindowTheEditorDoesNotOpen) {
  struct Case {
    const char* display;
    const char* why;
  } cases[] = {
      {"", "no X11 server answers"},
      {":999", "no X11 server answers"},
      {nullptr, "does not exist"},  // the test's server, and a window id nobody made
  };
  for (const Case& c : cases) {
    ScratchDir dir;
    const std::string display = c.display ? c.display : server.display();
    const HostRun r = run(guimactest::makeGuiTestBundle(dir, EDITOR_TEST_PLUGIN),
                          editorScript("pump 2\n", "x11 window=0x1e00007"), dir, {"DISPLAY=" + display});
    ASSERT_TRUE(r.exited) << r.err;
    EXPECT_EQ(r.exitCode, 0) << r.err << r.out;
    EXPECT_TRUE(r.has("editor open x11 -> 0")) << display << "\n" << r.out;
    EXPECT_NE(r.err.find(c.why), std::string::npos) << r.err;
  }
}

}  // namespace

namespace {

// The real editor, built from the bundle's own resources, at each UI size the settings file can choose, and closed
// and opened again at once, on a server that resets whenever it has no client left.
TEST(X11RealEditor, OpensAtTheChosenScaleAndTheScreenShowsTheModel) {
  NEED_X11_TOOLS();
  x11test::Xvfb server("2048x1152x24", true);
  ASSERT_FALSE(server.display().empty()) << "Xvfb did not start";
  struct Case {
    const char* size;
    const char* rect;
  } cases[] = {
      {"small", "editor rect 1125x500"}, {"normal", "editor rect 1500x667"}, {"large", "editor rect 1875x833"}};
  for (const Case& c : cases) {
    ScratchDir dir;
    const std::string folder = dir.path() + "/Library/Audio/Presets/Pellacor/Korg Vexmir Editor";
    ASSERT_EQ(std::system(("mkdir -p '" + folder + "'").c_str()), 0);
    dir.write("Library/Audio/Presets/Pellacor/Korg Vexmir Editor/Vexmir Editor UI.txt",
              std::string("normal\n") + c.size + "\nyes\n");
    const HostRun r = run(pluginBundlePath(), R"(
open
info
editor open x11
pump 3
window save "${OUT}/model.png"
x11 screenshot "${OUT}/screen.png"
editor close
editor open x11
editor close
editor open x11
editor close
editor open x11
editor close
editor open x11
editor close
close
)",
                          dir, {"DISPLAY=" + server.display()});
    ASSERT_EQ(r.exitCode, 0) << r.err << r.out;
    EXPECT_TRUE(r.has("HasEditor")) << r.out;
    EXPECT_TRUE(r.has(c.rect)) << c.size << "\n" << r.out;
    // Closed and opened again at once, as a host may: the editor opens every time.
    EXPECT_EQ(linesWith(r.out, "editor open x11 -> 1").size(), 5u) << r.out;
    std::string where;
    EXPECT_EQ(differingPixels(dir.file("model.png"), dir.file("screen.png"), &where), 0)
        << c.size << ": first at " << where;
    keepForPeople(dir, "screen.png", std::string("real-editor-") + c.size);
  }
}

}  // namespace
namespace {

// The real editor driven by real input: a tab button, a switch of the page it shows, a knob dragged and turned
// with the wheel, a menu item chosen, and the program name typed. The same gestures on the model path must reach the
// same parameters with the same values (the host sees each change as an automation request) and leave the same picture.
const Gesture kRealGestures[] = {
    {"tab button", "click 407 17", "x11 input mousemove --window %HOST 407 17 click 1"},
    {"master keyboard switch", "click 180 247", "x11 input mousemove --window %HOST 180 247 click 1"},
    {"master tune knob drag", "drag 536 137 536 109 steps=4",
     "x11 input mousemove --window %HOST 536 137 mousedown 1 mousemove --window %HOST 536 130 mousemove --window "
     "%HOST 536 123 mousemove --window %HOST 536 116 mousemove --window %HOST 536 109 mouseup 1"},
    {"transpose knob wheel", "wheel 615 137 1", "x11 input mousemove --window %HOST 615 137 click 4"},
    // The voice mode menu opens below its well; its first item's middle is 14 pixels from the menu's top.
    {"voice mode menu", "menu choose 0\nclick 57 62",
     "x11 input mousemove --window %HOST 57 62 click 1 search --sync --onlyvisible --name \"^Vexmir Editor menu$\" "
     "mousemove --window %1 40 14 click 1"},
    {"program name", "click 813 18\npump 1\ntype Bass\nkey return",
     "x11 input mousemove --window %HOST 813 18 click 1\npump 1\nx11 input type Bass\nx11 input key Return"},
};

// For each gesture (the transcript's section after its echo line), the last value the host was told for each
// parameter, in the order the parameters were first touched.
std::map<std::string, std::vector<std::string>> automationByGesture(const std::string& transcript) {
  std::map<std::string, std::vector<std::string>> out;
  std::map<std::string, std::string> last;
  std::vector<std::string> order;
  std::string section;
  auto finish = [&] {
    for (const std::string& i : order) out[section].push_back(last[i]);
    order.clear();
    last.clear();
  };
  std::stringstream ss(transcript);
  std::string l;
  while (std::getline(ss, l)) {
    if (l.compare(0, 5, "echo ") == 0) {
      finish();
      section = l.substr(5);
      out[section];
      continue;
    }
    if (l.compare(0, 31, "request audioMasterAutomate(0) ") != 0) continue;
    const size_t at = l.find("index=");
    const std::string index = at == std::string::npos ? "0" : l.substr(at + 6, l.find(' ', at) - at - 6);
    if (!last.count(index)) order.push_back(index);
    last[index] = l;
  }
  finish();
  return out;
}

TEST(X11RealEditor, RealInputChangesWhatTheModelPathChanges) {
  NEED_X11_TOOLS();
  x11test::Xvfb server;
  ASSERT_FALSE(server.display().empty()) << "Xvfb did not start";
  ScratchDir modelDir, x11Dir;
  const HostRun model = run(pluginBundlePath(), gestureScript(kRealGestures, false), modelDir, {});
  ASSERT_EQ(model.exitCode, 0) << model.err << model.out;
  const HostRun real =
      run(pluginBundlePath(), gestureScript(kRealGestures, true), x11Dir, {"DISPLAY=" + server.display()});
  ASSERT_EQ(real.exitCode, 0) << real.err << real.out;
  keepForPeople(x11Dir, "screen.png", "real-editor-after-input");

  // Each gesture changed something on the model path, and the same parameters to the same values on X11.
  const auto wanted = automationByGesture(model.out), got = automationByGesture(real.out);
  for (const Gesture& g : kRealGestures) {
    const std::string name = g.name;
    EXPECT_FALSE(wanted.count(name) == 0 || wanted.at(name).empty())
        << g.name << " changed nothing on the model path; does the layout still have a control there?\n"
        << model.out;
    EXPECT_EQ(got.count(name) ? got.at(name) : std::vector<std::string>{},
              wanted.count(name) ? wanted.at(name) : std::vector<std::string>{})
        << g.name << "\n"
        << real.out;
  }
  pixels::expectSamePictures(x11Dir.file("model.png"), x11Dir.file("screen.png"));
  // The typed name and every other change look the same as on the model path.
  pixels::expectSamePictures(x11Dir.file("screen.png"), modelDir.file("model.png"));
}

}  // namespace
