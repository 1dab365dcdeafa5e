// Ardour 7's own GUI as a musician uses it, on an Xvfb display of the test's own: the plug-in on a MIDI track, its
// editor opened by the session's saved window state, a knob dragged (the picture and the saved state change, and
// Ardour takes its session as modified), the editor closed and opened again from the mixer, the session saved with
// Ctrl+S, the librarian's tab shown (the session stays as saved), Space pressed over the editor (Ardour's transport
// rolls), a Paste in the librarian and RANDOMIZE (each marks the session modified again; Ctrl+Q asks), the synthesizer
// emulator's knob turned with the editor closed (the same) and Ardour quit with Ctrl+Q: it must end with status 0.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "src/StateChunk.h"
#include "src/VexmirParams.h"
#include "tests/daw/daw_gui.h"
#include "tests/libui/libui_support.h"
#include "tests/support/EmulatorClient.h"
#include "tests/x11/xvfb.h"

using namespace dawtest;
using vexmir::testsupport::EmulatorClient;

namespace {

const char* const kArdour = "/usr/bin/ardour";
// The editor's resonance knob (editor pixels) and the area its picture takes.
constexpr int kKnobX = 110, kKnobY = 380;
// The editor's MIDI IN and MIDI OUT menus (editor pixels).
constexpr int kMidiInX = 1382, kMidiOutX = 1114;

class ArdourGui : public ArdourSession {
 protected:
  void SetUp() override {
    ArdourSession::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    if (access(kArdour, X_OK) != 0) GTEST_SKIP() << "Ardour's GUI is not installed";
    if (!x11test::haveProgram("Xvfb") || !x11test::haveProgram("xdotool"))
      GTEST_SKIP() << "Xvfb or xdotool is not installed";
  }

  void TearDown() override {
    ardour.stop();
    ArdourSession::TearDown();
  }

  GuiHost ardour;
};

// The id of the first element that starts with `open` and has `attribute`, or "".
std::string idOfTag(const std::string& xml, const std::string& open, const std::string& attribute) {
  for (size_t at = xml.find(open); at != std::string::npos; at = xml.find(open, at + 1)) {
    const std::string tag = xml.substr(at, xml.find('>', at) - at);
    if (tag.find(attribute) == std::string::npos) continue;
    const size_t id = tag.find(" id=\"");
    if (id == std::string::npos) return "";
    return tag.substr(id + 5, tag.find('"', id + 5) - id - 5);
  }
  return "";
}

// A value of the project in the session file's state chunk, or -1.
double savedValue(const fs::path& file, int param) {
  const std::string xml = readText(file);
  size_t begin = 0, end = 0;
  if (!findChunk(xml, &begin, &end)) return -1;
  const std::vector<uint8_t> saved = fromBase64(xml.substr(begin, end - begin));
  if (saved.size() <= 8) return -1;
  ByteChunk body;
  body.PutBytes(saved.data() + 8, static_cast<int>(saved.size() - 8));
  PluginState state;
  if (readStateBody(body, 0, true, &state) != body.Size()) return -1;
  return state.values[static_cast<size_t>(param)];
}

}  // namespace

TEST_F(ArdourGui, TheEditorWorksInArdoursWindowAndArdourQuitsCleanly) {
  int status = 0;
  const std::string so = (bundlePath / "Contents/Linux/Vexmir Editor.so").string();
  ASSERT_NE(run(env + "env LD_LIBRARY_PATH=/usr/lib/ardour7 timeout 120 " + kScanner + " -f '" + so + "'", &status)
                .find("Found Plugin"),
            std::string::npos);
  // The session, made by Ardour's own tool: a MIDI track with the plug-in as its instrument.
  const std::string sessionDir = (dir / "vexmir").string();
  const std::string made = lua("create.lua", "create_session(\"" + sessionDir +
                                                 "\", \"vexmir\", 48000)\n"
                                                 "local pi = ARDOUR.LuaAPI.new_plugin_info(\"Vexmir Editor\", "
                                                 "ARDOUR.PluginType.LXVST)\n"
                                                 "assert(not pi:isnil(), \"plug-in not found\")\n"
                                                 "Session:new_midi_track(ARDOUR.ChanCount(ARDOUR.DataType(\"midi\"), "
                                                 "1), ARDOUR.ChanCount(ARDOUR.DataType(\"audio\"), 2), false, pi, "
                                                 "nil, nil, 1, \"Synth\", ARDOUR.PresentationInfo.max_order, "
                                                 "ARDOUR.TrackMode.Normal, true, false)\n"
                                                 "Session:save_state(\"\", false, false, false, false, false)\n");
  ASSERT_NE(made.find("closed"), std::string::npos) << made;
  const fs::path file = dir / "vexmir/vexmir.ardour";
  std::string xml = readText(file);
  const double resonanceBefore = savedValue(file, kFilterResonance);
  ASSERT_GE(resonanceBefore, 0) << "no state chunk of the plug-in in the new session";

  // The plug-in's window is open in the saved window state, so Ardour opens it with the session, below Ardour's main
  // window (whose transport bar the test watches). The engine hints
  // of the headless tool's dummy back end would make Ardour ask about a changed device.
  const std::string route = idOfTag(xml, "<Route ", "name=\"Synth\"");
  const std::string processor = idOfTag(xml, "<Processor ", "name=\"Vexmir Editor\"");
  ASSERT_FALSE(route.empty() || processor.empty()) << xml.substr(0, 3000);
  const size_t hints = xml.find("<EngineHints");
  if (hints != std::string::npos) xml.erase(hints, xml.find("/>", hints) + 2 - hints);
  const size_t end = xml.rfind("</Session>");
  ASSERT_NE(end, std::string::npos);
  xml.insert(end, "  <Extra>\n    <UI>\n      <Window name=\"P-" + route + "-" + processor +
                      "\" visible=\"1\" x-off=\"100\" y-off=\"730\" custom-ui=\"1\"/>\n    </UI>\n  </Extra>\n");
  std::ofstream(file, std::ios::trunc) << xml;

  // A configuration as after the first-run wizard and the audio setup: the dummy back end, started unasked; closing
  // a plug-in's window closes its editor.
  const fs::path config = dir / "home/.config/ardour7";
  fs::create_directories(config);
  std::ofstream(config / ".a7");
  std::ofstream(config / "config")
      << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Ardour>\n  <Config>\n"
         "    <Option name=\"try-autostart-engine\" value=\"1\"/>\n"
         "    <Option name=\"hide-dummy-backend\" value=\"0\"/>\n  </Config>\n  <Extra>\n    <AudioMIDISetup>\n"
         "      <EngineStates>\n        <State backend=\"None (Dummy)\" driver=\"Normal Speed\" device=\"Silence\" "
         "input-device=\"\" output-device=\"\" sample-rate=\"48000\" buffer-size=\"1024\" n-periods=\"0\" "
         "input-latency=\"0\" output-latency=\"0\" lm-input=\"\" lm-output=\"\" active=\"1\" use-buffered-io=\"0\" "
         "midi-option=\"1 in, 1 out, Silence\" lru=\"1\"/>\n      </EngineStates>\n    </AudioMIDISetup>\n"
         "  </Extra>\n</Ardour>\n";
  std::ofstream(config / "ui_config") << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Ardour>\n  <UI>\n"
                                         "    <Option name=\"plugin-gui-behavior\" value=\"PluginGUIDestroyVST\"/>\n"
                                         "  </UI>\n</Ardour>\n";

  // A bank for the librarian's Copy and Paste.
  const fs::path patches = dir / "root/Library/Audio/Presets/Pellacor/Korg Vexmir Editor/Patches";
  fs::create_directories(patches);
  const std::vector<uint8_t> bank = libui::bankBytes(1);
  std::ofstream(patches / "A.syx", std::ios::binary).write(reinterpret_cast<const char*>(bank.data()),
                                                          static_cast<std::streamsize>(bank.size()));

  x11test::Xvfb server("1920x1440x24");
  ASSERT_FALSE(server.display().empty()) << "Xvfb did not start";
  Display x(server.display());
  ASSERT_TRUE(x.ok());
  ardour.start(server.display(), env + kArdour + " " + quoted(file.string()), dir / "ardour.log");

  // The editor in Ardour's plug-in window.
  uint32_t editor = 0;
  Shot opened;
  ASSERT_TRUE(waitFor(90, [&] {
    editor = ardour.editorWindow();
    opened = editor ? x.shot(editor, 0, 0, 1500, 667) : Shot();
    return !opened.empty();
  })) << "the editor never appeared\n" << ardour.log();
  keepPicture(opened, "ardour-editor-opened");

  // A knob dragged up: the editor's picture changes where the knob is.
  const std::string w = std::to_string(editor);
  ardour.xdotool("mousemove --window " + w + " " + std::to_string(kKnobX) + " " + std::to_string(kKnobY) +
          " sleep 0.2 mousedown 1 sleep 0.2 mousemove_relative 0 -6 sleep 0.1 mousemove_relative 0 -6 sleep 0.1 "
          "mousemove_relative 0 -6 sleep 0.2 mouseup 1");
  const Shot knobBefore = crop(opened, kKnobX - 20, kKnobY - 20, 40, 40);
  auto knobNow = [&](uint32_t window) { return x.shot(window, kKnobX - 20, kKnobY - 20, 40, 40); };
  EXPECT_TRUE(waitFor(10, [&] { return differing(knobNow(editor), knobBefore) > 0; }))
      << "the knob's picture did not change";
  // Ardour marks its session modified ("*" before its name), so that quitting asks before the edit is lost.
  EXPECT_TRUE(waitFor(10, [&] { return ardour.window("^\\*vexmir - Ardour$") != 0; }))
      << "Ardour does not take the session as modified";
  const Shot afterDrag = x.shot(editor, 0, 0, 1500, 667);
  keepPicture(afterDrag, "ardour-editor-knob-dragged");

  // Closed as a window manager's close button closes it, and opened again from the mixer strip.
  const uint32_t pluginWindow = x.topLevel(editor);
  ASSERT_NE(pluginWindow, 0u);
  x.askToClose(pluginWindow);
  ASSERT_TRUE(waitFor(20, [&] { return !x.exists(editor); })) << "the editor did not close\n" << ardour.log();
  ardour.xdotool("mousemove 1326 72 click 1 sleep 1 mousemove 336 195 click --repeat 2 --delay 80 1");
  uint32_t reopened = 0;
  ASSERT_TRUE(waitFor(30, [&] { return (reopened = ardour.editorWindow()) != 0 && !knobNow(reopened).empty(); }))
      << "the editor did not open again\n" << ardour.log();
  // It shows the dragged knob as it was.
  const Shot knobDragged = crop(afterDrag, kKnobX - 20, kKnobY - 20, 40, 40);
  EXPECT_TRUE(waitFor(10, [&] { return differing(knobNow(reopened), knobDragged) == 0; }));
  keepPicture(x.shot(reopened, 0, 0, 1500, 667), "ardour-editor-reopened");

  // Ctrl+S saves the session with the knob's new value; the librarian's tab, once drawn, changes nothing it keeps.
  ardour.xdotool("key ctrl+s");
  EXPECT_TRUE(waitFor(20, [&] {
    const double now = savedValue(file, kFilterResonance);
    return now >= 0 && now != resonanceBefore;
  })) << "the saved state did not change";
  ASSERT_TRUE(waitFor(20, [&] { return ardour.window("^vexmir - Ardour$") != 0; })) << "Ctrl+S left it modified";
  // The synthesizer's ports chosen in the editor, and saved.
  const std::string editorAt = "mousemove --window " + std::to_string(reopened) + " ";
  for (int field : {kMidiInX, kMidiOutX})
    ardour.xdotool(editorAt + std::to_string(field) + " 48 click 1 sleep 1 " + editorAt + std::to_string(field) +
                   " 98 click 1 sleep 1");
  ASSERT_TRUE(waitFor(20, [&] {
    return jackPortConnected(EmulatorClient::emulatorInPort()) && jackPortConnected(EmulatorClient::emulatorOutPort());
  })) << "the ports chosen in the editor did not connect";
  ardour.xdotool("key ctrl+s");
  ASSERT_TRUE(waitFor(20, [&] { return ardour.window("^vexmir - Ardour$") != 0; })) << "Ctrl+S left it modified";
  const Shot timbrePage = x.shot(reopened, 84, 58, 1000, 500);
  ardour.xdotool(editorAt + "170 18 click 1");
  EXPECT_TRUE(waitFor(10, [&] { return differing(timbrePage, x.shot(reopened, 84, 58, 1000, 500)) > 0; }));

  // Space over the editor (clicked before, so it would hold the keyboard if it took it) starts Ardour's transport:
  // its clocks and transport buttons in the top bar change; before, nothing there moves.
  ardour.xdotool(editorAt + "700 600 click 1");
  const int barWidth = 800, barTop = 20, barHeight = 40;
  const Shot still1 = x.shot(x.root(), 0, barTop, barWidth, barHeight);
  std::this_thread::sleep_for(std::chrono::milliseconds(800));
  EXPECT_EQ(differing(still1, x.shot(x.root(), 0, barTop, barWidth, barHeight)), 0)
      << "the transport bar changes while nothing plays: the test cannot tell";
  ardour.xdotool("key space");
  EXPECT_TRUE(waitFor(10, [&] { return differing(still1, x.shot(x.root(), 0, barTop, barWidth, barHeight)) > 0; }))
      << "Space did not reach Ardour";
  // Ardour has handled a key since the tab was drawn: a session the tab marked would show it by now.
  EXPECT_NE(ardour.window("^vexmir - Ardour$"), 0u) << "the tab marked the session modified";
  keepPicture(x.shot(x.root(), 0, 0, 1920, 1440), "ardour-playing");
  ardour.xdotool("key space");

  // A Paste in the librarian's slot menus (Copy below, Paste above) marks the saved session modified, as the knob did.
  const std::string item = " search --sync --onlyvisible --name '^Vexmir Editor menu$' mousemove --window %1 40 14 "
                           "click 1 sleep 0.5 ";
  ardour.xdotool(editorAt + "160 385 click 3" + item + editorAt + "160 99 click 3" + item);
  EXPECT_TRUE(waitFor(10, [&] { return ardour.window("^\\*vexmir - Ardour$") != 0; }))
      << "a Paste leaves the session as saved";
  keepPicture(x.shot(reopened, 0, 0, 1500, 667), "ardour-editor-pasted");
  // So does RANDOMIZE, and Ctrl+Q asks before the sound is lost (Escape: Ardour stays).
  ardour.xdotool("key ctrl+s");
  ASSERT_TRUE(waitFor(20, [&] { return ardour.window("^vexmir - Ardour$") != 0; })) << "Ctrl+S left it modified";
  ardour.xdotool(editorAt + "1460 17 click 1");
  EXPECT_TRUE(waitFor(10, [&] { return ardour.window("^\\*vexmir - Ardour$") != 0; }))
      << "RANDOMIZE leaves the session as saved";
  ardour.xdotool("key ctrl+q");
  EXPECT_TRUE(waitFor(20, [&] { return ardour.window("^Unsaved Session$") != 0; })) << "Ctrl+Q did not ask";
  ardour.xdotool("key Escape");

  // With the editor closed Ardour idles the plug-in no more, and the synthesizer's cutoff knob turned marks the saved
  // session modified all the same: Ctrl+Q asks, and Ctrl+S saves the knob.
  ardour.xdotool("key ctrl+s");
  ASSERT_TRUE(waitFor(20, [&] { return ardour.window("^vexmir - Ardour$") != 0; })) << "Ctrl+S left it modified";
  const uint32_t main = ardour.window("^vexmir - Ardour$");
  const double cutoff = savedValue(file, kFilterCutoff);
  x.askToClose(x.topLevel(reopened));
  ASSERT_TRUE(waitFor(20, [&] { return !x.exists(reopened); })) << "the editor did not close\n" << ardour.log();
  EmulatorClient synth;
  synth.check("send cc 0 74 " + std::string(cutoff > 60 ? "5" : "120"));
  EXPECT_TRUE(waitFor(10, [&] { return ardour.window("^\\*vexmir - Ardour$") != 0; }))
      << "the synthesizer's knob turned with the editor closed leaves the session as saved";
  ardour.xdotool("windowfocus --sync " + std::to_string(main) + " key ctrl+q");
  EXPECT_TRUE(waitFor(20, [&] { return ardour.window("^Unsaved Session$") != 0; })) << "Ctrl+Q did not ask";
  ardour.xdotool("key Escape");
  ardour.xdotool("windowfocus --sync " + std::to_string(main) + " key ctrl+s");
  EXPECT_TRUE(waitFor(20, [&] { return savedValue(file, kFilterCutoff) != cutoff; }))
      << "the saved session does not hold the synthesizer's knob";
  ardour.xdotool("key ctrl+q");
  const int exitStatus = ardour.wait(60);
  if (exitStatus != 0) keepPicture(x.shot(x.root(), 0, 0, 1920, 1440), "ardour-at-quit");
  EXPECT_EQ(exitStatus, 0) << ardour.log();
}
