// Qtractor's own GUI as a musician uses it, on an Xvfb display of the test's own: a session with the plug-in on a
// MIDI track opens; the track's plug-in list opens the editor, drawn at full size; the synthesizer's ports chosen in
// the editor connect; a knob dragged changes the picture and reaches the synthesizer; Qtractor's plug-in scan finds
// the plug-in and tries nothing else of the bundle; the session is saved and Qtractor exits with status 0; a new
// Qtractor process reopens it, and the plug-in sends the saved program to the synthesizer.
#include <gtest/gtest.h>

#include <string>

#include "tests/daw/daw_gui.h"
#include "tests/support/EmulatorClient.h"
#include "tests/x11/xvfb.h"

using namespace dawtest;
using vexmir::testsupport::EmulatorClient;

namespace {

const char* const kQtractor = "/usr/bin/qtractor";
// Timbre 1's resonance knob (editor pixels), and its byte in the synthesizer's edit buffer.
constexpr int kKnobX = 110, kKnobY = 380, kResonance = 59;
// The editor's MIDI IN and MIDI OUT menus, and where a menu's second item lies below the field (editor pixels).
constexpr int kMidiInX = 1382, kMidiOutX = 1114, kPortsY = 48, kSecondItemY = 98;
// In Qtractor's main window: the track's plug-in, where its list's menu is asked for and that menu's first item, and
// the track's mute button.
constexpr int kPluginX = 180, kPluginY = 179, kListMenuY = 199, kAddPluginX = 240, kAddPluginY = 210, kMuteX = 75,
              kMuteY = 206;

// xdotool words that move the pointer to (x, y) of the window.
std::string at(uint32_t window, int x, int y) {
  return "mousemove --window " + std::to_string(window) + " " + std::to_string(x) + " " + std::to_string(y);
}

class QtractorGui : public InstalledPlugin {
 protected:
  void SetUp() override {
    if (access(kQtractor, X_OK) != 0)
      GTEST_SKIP() << "Qtractor is not installed (Debian's \"qtractor\": scripts/setup.sh installs it where it can)";
    if (!x11test::haveProgram("Xvfb") || !x11test::haveProgram("xdotool"))
      GTEST_SKIP() << "Xvfb or xdotool is not installed";
    InstalledPlugin::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    session = dir / "session/vexmir.qtr";
    // Qtractor starts its engine only with an ALSA sequencer, even when it uses JACK alone; on a machine whose kernel
    // has none, it gets the test bench's stand-in (copied out of the build tree, which Qtractor may not see).
    command = env + "env ";
    if (access("/dev/snd/seq", R_OK | W_OK) != 0) {
      const fs::path standin = dawBuild / "tools/alsa-seq-standin/libvexmir-seq-standin.so";
      ASSERT_TRUE(fs::exists(standin)) << standin << " was not built";
      fs::copy_file(standin, dir / "seq-standin.so");
      command += "LD_PRELOAD=" + quoted((dir / "seq-standin.so").string()) + " ";
    }
    command += std::string(kQtractor) + " " + quoted(session.string());
    // Plug-ins from the installed prefix; the plug-in dialog on VST 2; the plug-in's output not swallowed.
    fs::create_directories(dir / "home/.config/rncbc.org");
    std::ofstream(dir / "home/.config/rncbc.org/Qtractor.conf")
        << "[Plugins]\nVst2Paths=" << bundlePath.parent_path().string() << "\n\n[Default]\nPluginType=3\n\n"
        << "[Options]\nDisplay\\StdoutCapture=false\n";
    fs::create_directories(session.parent_path());
    std::ofstream(session) << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE qtractorSession>\n"
                              "<session name=\"vexmir\" version=\"Qtractor 0.9.31\">\n <properties>\n  <directory>"
                           << session.parent_path().string()
                           << "</directory>\n  <sample-rate>48000</sample-rate>\n </properties>\n <tracks>\n"
                              "  <track name=\"Synth\" type=\"midi\">\n   <properties>\n    <input-bus>Master</input-bus>\n"
                              "    <output-bus>Master</output-bus>\n    <midi-channel>0</midi-channel>\n   </properties>\n"
                              "   <plugins>\n    <plugin type=\"VST2\">\n     <filename>"
                           << (bundlePath / "Contents/Linux/Vexmir Editor.so").string()
                           << "</filename>\n     <index>0</index>\n     <activated>1</activated>\n    </plugin>\n"
                              "   </plugins>\n  </track>\n </tracks>\n</session>\n";
  }
  void TearDown() override {
    qtractor.stop();
    InstalledPlugin::TearDown();
  }

  // Qtractor's main window, once it shows the session.
  uint32_t mainWindow() { return qtractor.window("/vexmir\\.qtr"); }

  // Opens the editor from the track's plug-in list (the list takes double clicks once the session is loaded).
  uint32_t openEditor() {
    uint32_t editor = 0;
    waitFor(60, [&] {
      if ((editor = qtractor.editorWindow()) != 0) return true;
      if (const uint32_t main = mainWindow())
        qtractor.xdotool(at(main, kPluginX, kPluginY) + " click --repeat 2 --delay 80 1 sleep 1");
      return false;
    });
    return editor;
  }

  // Ends Qtractor as a window manager's close button does; its exit status.
  int quit(Display& x) {
    x.askToClose(mainWindow());
    return qtractor.wait(60);
  }

  fs::path session;
  std::string command;
  GuiHost qtractor;
};

}  // namespace

TEST_F(QtractorGui, TheEditorWorksInQtractorAndTheSavedSessionBringsTheProgramBack) {
  x11test::Xvfb server("1920x1440x24");
  ASSERT_FALSE(server.display().empty()) << "Xvfb did not start";
  Display x(server.display());
  ASSERT_TRUE(x.ok());
  EmulatorClient synth;
  synth.reset();
  qtractor.start(server.display(), command, dir / "qtractor.log");

  // The editor, opened from the plug-in list, at its full size.
  const uint32_t editor = openEditor();
  if (!editor) keepPicture(x.shot(x.root(), 0, 0, 1920, 1440), "qtractor-no-editor");
  ASSERT_NE(editor, 0u) << "the editor never appeared\n" << qtractor.log();
  Shot opened;
  ASSERT_TRUE(waitFor(10, [&] { return !(opened = x.shot(editor, 0, 0, 1500, 667)).empty(); }));
  keepPicture(opened, "qtractor-editor-opened");
  EXPECT_GT(differing(crop(opened, 0, 0, 750, 667), crop(opened, 750, 0, 750, 667)), 0) << "the editor is blank";

  // The synthesizer's ports, MIDI IN first, from the editor's own menus: both connect.
  for (int field : {kMidiInX, kMidiOutX})
    qtractor.xdotool(at(editor, field, kPortsY) + " click 1 sleep 1 " + at(editor, field, kSecondItemY) +
                     " click 1 sleep 1");
  EXPECT_TRUE(waitFor(20, [&] {
    return jackPortConnected(EmulatorClient::emulatorInPort()) &&
           jackPortConnected(EmulatorClient::emulatorOutPort());
  })) << "the ports chosen in the editor did not connect";

  // A knob dragged up: its picture changes and the synthesizer gets the new value.
  const int before = synth.editByte(kResonance);
  qtractor.xdotool(at(editor, kKnobX, kKnobY) + " sleep 0.2 mousedown 1 sleep 0.2 mousemove_relative 0 -6 sleep 0.1 mousemove_relative 0 -6 "
                   "sleep 0.1 mousemove_relative 0 -6 sleep 0.2 mouseup 1");
  const Shot knobBefore = crop(opened, kKnobX - 20, kKnobY - 20, 40, 40);
  EXPECT_TRUE(waitFor(10, [&] { return differing(x.shot(editor, kKnobX - 20, kKnobY - 20, 40, 40), knobBefore) > 0; }))
      << "the knob's picture did not change";
  int dragged = before;
  EXPECT_TRUE(waitFor(10, [&] { return (dragged = synth.editByte(kResonance)) != before; }))
      << "the synthesizer did not get the knob's value";
  keepPicture(x.shot(editor, 0, 0, 1500, 667), "qtractor-editor-knob-dragged");

  // Qtractor's plug-in dialog scans the plug-in folder: it offers the plug-in, and tries no other file of the bundle.
  qtractor.xdotool("windowmove " + std::to_string(x.topLevel(editor)) + " 0 760");
  qtractor.xdotool(at(mainWindow(), kPluginX, kListMenuY) + " click 3 sleep 1 " +
                   at(mainWindow(), kAddPluginX, kAddPluginY) + " click 1");
  const fs::path cache = dir / "home/.cache/Qtractor/qtractor_vst2_scan.cache";
  EXPECT_TRUE(waitFor(30, [&] { return readText(cache).find("Vexmir Editor") != std::string::npos; }))
      << "Qtractor's scan did not find the plug-in\n" << qtractor.log();
  keepPicture(x.shot(x.root(), 0, 0, 1100, 800), "qtractor-plugin-dialog");
  qtractor.xdotool("key Escape");
  EXPECT_EQ(qtractor.log().find("plugin file error"), std::string::npos) << qtractor.log();

  // Saved with Ctrl+S: Qtractor saves only a session it knows to be modified, and edits inside the plug-in do not
  // tell it (the plug-in shows the host no parameters), so the track is muted and unmuted first.
  const std::string savedBefore = readText(session);
  qtractor.xdotool(at(mainWindow(), kMuteX, kMuteY) + " click 1 sleep 0.3 click 1 sleep 0.3 key ctrl+s");
  EXPECT_TRUE(waitFor(20, [&] { return readText(session) != savedBefore; })) << "the session was not saved";
  EXPECT_NE(readText(session).find("chunk"), std::string::npos) << readText(session);
  const int firstExit = quit(x);
  if (firstExit != 0) keepPicture(x.shot(x.root(), 0, 0, 1920, 1440), "qtractor-at-exit");
  EXPECT_EQ(firstExit, 0) << qtractor.log();

  // The synthesizer's sound changed since: the reopened session sends the saved program back.
  synth.setEditByte(kResonance, dragged == 0 ? 1 : 0);
  qtractor.start(server.display(), command, dir / "qtractor-again.log");
  EXPECT_TRUE(waitFor(60, [&] { return synth.editByte(kResonance) == dragged; }))
      << "the reopened session did not send the saved program\n" << qtractor.log();
  ASSERT_TRUE(waitFor(30, [&] { return mainWindow() != 0; }));
  EXPECT_EQ(quit(x), 0) << qtractor.log();
}
