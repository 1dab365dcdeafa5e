// The real bundle as a Linux DAW treats it: the editor opened, idled and closed on a thread of the host's own, the
// module unloaded with dlclose and loaded again, and the thread ended afterwards; the host's keyboard left with the
// host while the editor is only clicked.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "tests/host/run_host.h"
#include "tests/libui/libui_support.h"
#include "tests/x11/x11_support.h"

namespace {

using x11test::run;
using RealHostDesktop = x11test::ServerTest;
using RealHostDialogs = x11test::ServerTest;
using RealHostKeyboard = x11test::ServerTest;
using RealHostLifeCycle = x11test::ServerTest;
using RealHostTextFields = x11test::ServerTest;

// A knob of the sound editor dragged up with real input (the filter's resonance).
const char* const kKnobDrag =
    "x11 input mousemove --window %HOST 110 380 mousedown 1 mousemove --window %HOST 110 370 mousemove --window "
    "%HOST 110 360 mouseup 1\n";

// The librarian tab on the screen, then one host step that runs a shell script of xdotool steps (after the helpers
// below), as the host is held in each panel or alert until it is answered: a panel the script leaves unanswered fails
// the run (after minutes: every step waits for what it needs however long a loaded machine takes), not hangs it. The
// keys go to whoever has the keyboard once the panel or alert has it; the MENU's items are chosen by their middle
// (Import... 170, Save As... 141), their submenus' second item by keys. A search or capture that meets a window going
// away (an X error) is made again.
HostRun panelSession(const ScratchDir& dir, const std::string& display, const std::string& steps) {
  dir.write("panels.sh", R"sh(set -e; HOST=$1
win() { until w=$(xdotool search --sync --onlyvisible --name "^Vexmir Editor $1" 2>/dev/null | head -1) && [ "$w" ]; do :; done; echo $w; }
focus() { w=$(win "$1"); n=0; until [ "$(xdotool getwindowfocus)" = "$w" ]; do n=$((n+1)); [ $n -lt 5000 ]; done; }
keys() { focus "$1"; shift; xdotool key "$@"; }
text() { focus "$1"; xdotool type --delay 20 "$2"; }
menu() { xdotool mousemove --window $HOST 900 47 click 1; w=$(win "menu$"); xdotool mousemove --window $w 40 $1 key Down Down Return; }
shot() { until win "$1" >/dev/null && "$VEXMIR_HOST" --x11-capture "Vexmir Editor $1" "$OUT/$2.png" 2>/dev/null; do :; done; }
)sh" + steps);
  return run(
      pluginBundlePath(),
      x11test::editorScript("pump 3\nx11 input mousemove --window %HOST 170 18 click 1\npump 2\n"
                            "x11 input exec --sync sh panels.sh %HOST\n"),
      dir, {"DISPLAY=" + display, "HOME=" + dir.path(), "VEXMIR_HOST=" + hostExecutable(), "VEXMIR_HOST_WATCHDOG=240"});
}

// After the module is gone, the thread that ran the editor ends: whatever the editor left with that thread (its run
// loop's timers, queued work) would now run code that is no longer mapped. Loaded again on the same thread, as when
// a DAW reopens a session, the new instance's idle must not meet anything of the old one either.
TEST_F(RealHostLifeCycle, TheEditorsThreadOutlivesTheUnloadedModule) {
  struct Case {
    const char* name;
    const char* script;
  } cases[] = {
      {"editor closed, then the plug-in, reloaded on the same thread",
       "thread start\nopen\neditor open x11\npump 3\n{KNOB}pump 3\neditor close\nclose\nunload\n"
       "open\neditor open x11\npump 3\n{KNOB}pump 3\neditor close\nclose\nunload\nthread end\n"},
      {"the plug-in closed with its editor open",
       "thread start\nopen\neditor open x11\npump 3\n{KNOB}pump 3\nclose\n"
       "unload\nthread end\n"},
  };
  for (const Case& c : cases) {
    std::string script = c.script;
    for (size_t at; (at = script.find("{KNOB}")) != std::string::npos;) script.replace(at, 6, kKnobDrag);
    ScratchDir dir;
    // On JACK the module stays loaded from its first client on; ALSA's port objects leave it free to go.
    const HostRun r = run(pluginBundlePath(), script, dir, {"DISPLAY=" + server.display(), "VEXMIR_MIDI_API=alsa"});
    EXPECT_TRUE(r.exited) << c.name << ": the host crashed\n" << r.err.substr(0, 4000) << r.out;
    EXPECT_EQ(r.exitCode, 0) << c.name << "\n" << r.err.substr(0, 4000) << r.out;
    // The module really left the process (else the test would prove nothing), and the thread ended after it.
    const size_t unloaded = r.out.rfind("unload: the module is unmapped");
    EXPECT_NE(unloaded, std::string::npos) << c.name << "\n" << r.out;
    EXPECT_NE(r.out.find("thread end", unloaded == std::string::npos ? 0 : unloaded), std::string::npos)
        << c.name << "\n"
        << r.out;
  }
}

// The host keeps the keyboard while the editor is only clicked: Space pressed with the pointer over the editor still
// reaches the host. A text field of the editor takes the keyboard while it is edited, its keys stay with it, and the
// host has the keyboard back when the edit ends.
TEST_F(RealHostKeyboard, TheHostKeepsItsKeysAndAnEditBorrowsThem) {
  ScratchDir dir;
  const HostRun r = run(pluginBundlePath(), x11test::editorScript(std::string(R"(pump 2
x11 focus
)") + kKnobDrag + R"(pump 2
x11 focus
x11 input key space
x11 keys
echo "edit"
x11 input mousemove --window %HOST 813 18 click 1
pump 1
x11 focus
x11 input type ba
pump 1
window save "${OUT}/model-ba.png"
x11 screenshot "${OUT}/typing-ba.png"
x11 input type ss
x11 input key Return
pump 1
x11 focus
x11 keys
echo "after the edit"
x11 input key space
x11 keys
echo "a popup during an edit"
x11 input mousemove --window %HOST 813 18 click 1
pump 1
x11 popup
x11 focus
)" + kKnobDrag + R"(pump 1
x11 focus
)"),
                        dir, {"DISPLAY=" + server.display()});
  ASSERT_EQ(r.exitCode, 0) << r.err << r.out;
  const auto focus = x11test::linesWith(r.out, "x11 focus");
  const auto keys = x11test::linesWith(r.out, "x11 host keys");
  ASSERT_EQ(focus.size(), 6u) << r.out;
  ASSERT_EQ(keys.size(), 3u) << r.out;
  EXPECT_EQ(focus[0], "x11 focus host");
  EXPECT_EQ(focus[1], "x11 focus host") << "a knob drag took the keyboard";
  EXPECT_EQ(keys[0], "x11 host keys: press 0x20 sent, release 0x20 sent") << r.out;
  EXPECT_EQ(focus[2], "x11 focus editor") << "the program name's edit did not take the keyboard";
  EXPECT_EQ(focus[3], "x11 focus host") << "the keyboard did not come back after the edit";
  // A popup of the host took the keyboard with a grab during the next edit: the edit's end leaves it there.
  EXPECT_EQ(focus[4], "x11 focus other");
  EXPECT_EQ(focus[5], "x11 focus other") << "the editor took the keyboard back from the popup";
  // The typed name and its Return were the editor's; the name shows that it got them.
  for (const char* key : {"0x62", "0x61", "0x73", "0xff0d"}) EXPECT_EQ(keys[1].find(key), std::string::npos) << keys[1];
  EXPECT_EQ(keys[2], "x11 host keys: press 0x20 sent, release 0x20 sent") << r.out;
  // Half typed, the name's field shows "ba" and the caret on the host's screen, as the editor drew them.
  x11test::keepForPeople(dir, "typing-ba.png", "program-name-half-typed");
  pixels::expectSamePictures(dir.file("model-ba.png"), dir.file("typing-ba.png"));
  pixels::Shots shots(dir.path());
  ASSERT_TRUE(shots.load("typing-ba"));
  // Inside the name's field, from 740, 10 to 842, 28.
  EXPECT_GT(shots.count("typing-ba", 740, 10, 842, 28, pixels::isDark), 30)
      << "the field shows nothing of what was typed";
}

// The text fields on the host's screen, typed into with real input. A name longer than the top bar's field scrolls
// as it is typed: its end and the caret after it stay in view, and the field has no frame; the status display shows
// a name longer than its value field whole. The search field shows "search..." again as soon as search is switched
// off, as it did when search was switched on.
TEST_F(RealHostTextFields, ALongNameShowsItsEndAndSearchOffClearsTheSearchField) {
  ScratchDir dir;
  const std::string patches = dir.file("Library/Audio/Presets/Pellacor/Korg Vexmir Editor/Patches");
  std::filesystem::create_directories(patches);
  vectors::writeFile(patches + "/Bank.syx", libui::bankBytes(3));
  const HostRun r = run(pluginBundlePath(), x11test::editorScript(R"(pump 3
x11 input mousemove --window %HOST 790 18 click 1
pump 1
x11 input type "Warm Analog Pad Strings"
pump 1
x11 screenshot "${OUT}/long-name.png"
x11 input key Return
pump 1
x11 input mousemove --window %HOST 790 18 click 1
x11 input type "Lead St"
x11 input key Return
pump 1
x11 screenshot "${OUT}/name-fits.png"
x11 input mousemove --window %HOST 790 18 click 1
x11 input type "Lead Strings"
x11 input key Return
pump 1
x11 screenshot "${OUT}/name-whole.png"
x11 input mousemove --window %HOST 170 18 click 1
pump 2
x11 input mousemove --window %HOST 1200 240 click 1
pump 1
x11 screenshot "${OUT}/before-search.png"
x11 input mousemove --window %HOST 1300 270 click 1
pump 1
x11 input type b3s1
x11 input key Return
pump 2
x11 screenshot "${OUT}/searched.png"
x11 input mousemove --window %HOST 1200 240 click 1
pump 2
x11 screenshot "${OUT}/search-off.png"
)"),
                        dir, {"DISPLAY=" + server.display()});
  ASSERT_EQ(r.exitCode, 0) << r.err << r.out;
  x11test::keepForPeople(dir, "long-name.png", "program-name-long-typed");
  x11test::keepForPeople(dir, "search-off.png", "search-field-after-search-off");
  pixels::Shots shots(dir.path());
  x11test::keepForPeople(dir, "name-whole.png", "status-display-long-program-name");
  for (const char* name : {"long-name", "before-search", "searched", "search-off", "name-fits", "name-whole"})
    ASSERT_TRUE(shots.load(name)) << name;
  // The status display's value field (1150, 5 to 1202, 32) never shows a longer name cut bare, as the letters of a
  // name that fits (give or take the pixel of centring).
  int alike = 0;
  for (int dx = -2; dx <= 2; ++dx) {
    int differ = 0;
    for (int y = 5; y < 32; ++y)
      for (int x = 1150; x < 1202; ++x) differ += shots.at("name-whole", x + dx, y) != shots.at("name-fits", x, y);
    alike += differ == 0;
  }
  EXPECT_EQ(alike, 0) << "\"Lead Strings\" reads \"Lead St\" on the status display";

  // The name's field covers 736, 8 to 844, 29. The caret is the one column dark from top to bottom of the text (no
  // letter is that tall); the typed end stands just before it, and the text fills the field from its left edge.
  auto dark = [&](int x, int y) { return pixels::isDark(shots.at("long-name", x, y)); };
  std::vector<int> caret;
  for (int x = 737; x < 844; ++x) {
    int run = 0, longest = 0;
    for (int y = 9; y < 29; ++y) longest = std::max(longest, run = dark(x, y) ? run + 1 : 0);
    if (longest >= 14) caret.push_back(x);
  }
  EXPECT_EQ(caret.size(), 1u) << "no caret, or more than one, in the name's field";
  auto inkIn = [&](int x0, int x1) { return shots.count("long-name", x0, 12, x1, 26, pixels::isDark); };
  if (caret.size() == 1) {
    EXPECT_GT(caret[0], 830) << "the caret is not after the typed end";
    EXPECT_GT(inkIn(caret[0] - 7, caret[0] - 1), 4) << "the typed end is not beside the caret";
  }
  EXPECT_GT(inkIn(739, 745), 4) << "the text does not fill the field from its left edge";
  // No frame: the field's edge is its background, as inside.
  const pixels::Colour background = shots.at("long-name", 790, 10);
  int frame = 0;
  for (int x = 740; x < 841; ++x)
    for (int y : {8, 29}) frame += shots.at("long-name", x, y) != background;
  EXPECT_EQ(frame, 0) << "the name's field has a frame";

  // The search field covers 1186, 258 to 1480, 282: it shows the word searched, then what it showed before.
  EXPECT_GT(shots.differing("searched", "before-search", 1186, 258, 1481, 283), 50)
      << "the word searched does not show";
  EXPECT_EQ(shots.differing("search-off", "before-search", 1186, 258, 1481, 283), 0)
      << "the search field after search off differs from the field before the search";
}

// A menu chosen with real input: the click at x, y (a right click for a slot's menu), then a click on the item whose
// middle is `item` pixels from the menu's top (Paste and Copy 14, Rename 43; the main menu's Save 121), with the menu
// first captured as `capture`.png when one is named.
// `during` runs xdotool words while the menu stands, before the click.
std::string slotMenu(int x, int y, int item, const std::string& capture = "", const char* button = "3",
                     const std::string& during = "") {
  std::string s = "x11 input mousemove --window %HOST " + std::to_string(x) + " " + std::to_string(y) + " click " +
                  button + " search --sync --onlyvisible --name \"^Vexmir Editor menu$\" ";
  if (!capture.empty())
    s += "exec --sync --args 4 ${VEXMIR_HOST} --x11-capture \"Vexmir Editor menu\" \"${OUT}/" + capture + ".png\" ";
  return s + during + "mousemove --window %1 40 " + std::to_string(item) + " click 1\npump 1\n";
}

// The rename of a slot with real input. Its menu offers Paste greyed until a Copy; Rename opens the field below the
// PROGRAM hint, which stays readable, with the keyboard and the old name selected: the name is typed at once. A
// project recalled while a name is typed ends the entry with the page: the timbre page shows no field, the host has
// its keys back, and as the recall opened another bank the name went nowhere, which the librarian says. A slot's
// menu held open for a second while another instance saves the bank: the Paste chosen in it is not made, and the
// Save that follows asks nothing and keeps the other instance's program.
TEST_F(RealHostTextFields, ARenameIsTypedAtOnceAndARecallEndsIt) {
  ScratchDir dir;
  mkfifo(dir.file("aside").c_str(), 0600);
  const std::string data = dir.file("Library/Audio/Presets/Pellacor/Korg Vexmir Editor");
  std::filesystem::create_directories(data + "/Patches");
  vectors::writeFile(data + "/Patches/A.syx", libui::bankBytes(1));
  vectors::writeFile(data + "/Patches/B.syx", libui::bankBytes(2));
  std::ofstream(data + "/Vexmir Editor LOG.txt").flush();
  // What another instance saves into A's fourth slot while that slot's menu stands.
  const std::vector<uint8_t> lead = vectors::programDump(vectors::programDataNamed(3, "Lead1"));
  vectors::writeFile(dir.file("other.syx"), libui::raw(libui::expectedBank(1, {{3, lead}})));
  // The project keeps A open; B is opened with its button before the rename.
  const HostRun r =
      run(pluginBundlePath(),
          x11test::editorScript(
              "pump 3\nchunk save \"${OUT}/project.bin\"\nx11 input mousemove --window %HOST 170 18 click 1\npump 2\n"
              "x11 screenshot \"${OUT}/hint.png\"\nx11 input mousemove --window %HOST 1227 420 click 1\npump 2\n"
              "chunk save \"${OUT}/projectB.bin\"\n" +
              slotMenu(160, 67, 43, "nothing-copied") +
              "x11 focus\nx11 input type Lead\npump 1\nx11 screenshot \"${OUT}/renaming.png\"\n"
              "chunk load \"${OUT}/project.bin\"\npump 2\nx11 focus\nx11 screenshot \"${OUT}/recalled.png\"\n"
              "x11 input mousemove --window %HOST 170 18 click 1\npump 2\n" +
              slotMenu(160, 385, 14) +
              "x11 input mousemove --window %HOST 160 115 click 3 search --sync --onlyvisible --name "
              "\"^Vexmir Editor menu$\" exec --sync --args 3 cp \"${OUT}/other.syx\" \"" + data +
              "/Patches/A.syx\" sleep 1 mousemove --window %1 40 14 click 1\npump 1\n"
              "x11 screenshot \"${OUT}/refused.png\"\n" +
              slotMenu(160, 67, 43) + "x11 input type Solo\nx11 input key Return\npump 1\n" + slotMenu(160, 385, 14) +
              slotMenu(160, 99, 14, "copied") + slotMenu(900, 47, 121, "", "1") +
              "aside \"${OUT}/aside\" chunk load \"${OUT}/projectB.bin\"\n" +
              slotMenu(160, 131, 14, "", "3",
                       "exec --sync --args 3 sh -c \"echo >'${OUT}/aside'; cat '${OUT}/aside'\" ") +
              "x11 input mousemove --window %HOST 170 18 click 1\npump 2\n" + slotMenu(900, 47, 121, "", "1")),
          dir, {"DISPLAY=" + server.display(), "VEXMIR_HOST=" + hostExecutable(), "VEXMIR_HOST_WATCHDOG=60"});
  ASSERT_EQ(r.exitCode, 0) << r.err << r.out;
  x11test::keepForPeople(dir, "renaming.png", "rename-typed");
  x11test::keepForPeople(dir, "refused.png", "paste-refused");
  pixels::Shots shots(dir.path());
  for (const char* name : {"hint", "nothing-copied", "renaming", "recalled", "copied"})
    ASSERT_TRUE(shots.load(name)) << name;
  // Paste's row (4 to 24) is grey while nothing is copied, then black as Rename's (33 to 53) always is.
  auto black = [&](const char* menu, int top) {
    return shots.count(menu, 20, top, 90, top + 20, [](const pixels::Colour& c) { return c[0] < 100; });
  };
  EXPECT_EQ(black("nothing-copied", 4), 0) << "Paste is offered with nothing copied";
  EXPECT_GT(black("nothing-copied", 33), 20);
  EXPECT_GT(black("copied", 4), 20) << "Paste is not offered after a Copy";
  const auto focus = x11test::linesWith(r.out, "x11 focus");
  ASSERT_EQ(focus.size(), 2u) << r.out;
  EXPECT_EQ(focus[0], "x11 focus editor") << "the rename's field did not take the keyboard";
  EXPECT_EQ(focus[1], "x11 focus host") << "the recall left the rename's field with the keyboard";
  EXPECT_EQ(shots.differing("renaming", "hint", 1186, 586, 1490, 618), 0) << "the field covers the hint";
  // The lower right of the timbre page, where the field stood on the librarian: no white of an entry there.
  EXPECT_EQ(shots.count("recalled", 1140, 560, 1494, 660,
                        [](const pixels::Colour& c) { return c[0] > 230 && c[1] > 230 && c[2] > 230; }),
            0)
      << "the rename's field stays over the timbre page";
  EXPECT_NE(dir.read("Library/Audio/Presets/Pellacor/Korg Vexmir Editor/Vexmir Editor LOG.txt")
                .find("PATCH LIBRARIAN: Not renamed to \"Lead\": the open bank is Patches/A.syx now. Rename the "
                      "slot again."),
            std::string::npos);
  // The Paste chosen in the menu that stood while another instance saved the slot's program is not made.
  EXPECT_NE(dir.read("Library/Audio/Presets/Pellacor/Korg Vexmir Editor/Vexmir Editor LOG.txt")
                .find("PATCH LIBRARIAN: Not pasted: slot 4 of Patches/A.syx changed on disk"),
            std::string::npos);
  // Saved without a question: the name typed at once, the program pasted into the third slot and the other
  // instance's program in the fourth; B as it was. A project of B recalled on another thread while the fifth slot's
  // menu stood opened nothing under it: the Paste went onto A, as shown.
  EXPECT_TRUE(vectors::readFile(data + "/Patches/A.syx") ==
              libui::raw(libui::expectedBank(1, {{0, vectors::programDump(vectors::programDataNamed(0, "Solo"))},
                                                 {2, libui::programDumpOf(1, 1)},
                                                 {3, lead},
                                                 {4, libui::programDumpOf(1, 1)}})))
      << "the bank saved is not the one renamed and pasted into";
  EXPECT_TRUE(vectors::readFile(data + "/Patches/B.syx") == libui::bankBytes(2)) << "B changed";
}

// The librarian's notes on two lines, cut, for two banks whose names differ in doubled spaces only, the second shown
// by a click on the first (which shows it whole in an alert first): each stands below the line between the banks, and
// both show the same (the second line repeats nothing), but for the number in their tail.
TEST_F(RealHostTextFields, ANoticeOnTwoLinesKeepsOffTheLineAndRepeatsNothing) {
  ScratchDir dir;
  const std::string deep = dir.file("Library/Audio/Presets/Pellacor/Korg Vexmir Editor/Patches/One/Two/Three/");
  std::filesystem::create_directories(deep);
  vectors::writeFile(deep + "../../../A.syx", libui::bankBytes(1));
  std::string names[2];
  for (int i = 10; i < 44; ++i)
    for (int k = 0; k < 2; ++k)
      names[k] += std::string(i == 10 ? "" : k && i < 20 ? "  " : " ") + "Word" + std::to_string(i);
  for (const std::string& name : names) vectors::writeFile(deep + name + ".syx", libui::bankBytes(2));
  const HostRun r =
      run(pluginBundlePath(),
          x11test::editorScript("pump 3\nx11 input mousemove --window %HOST 170 18 click 1\npump 2\n"
                                "x11 screenshot \"${OUT}/first.png\"\n"
                                "x11 input mousemove --window %HOST 400 330 click 1 search --sync "
                                "--onlyvisible --name \"^Vexmir Editor alert\" exec --sync --args 3 "
                                "${VEXMIR_HOST} --x11-close \"Vexmir Editor alert\"\npump 2\n"
                                "x11 screenshot \"${OUT}/second.png\"\n"),
          dir, {"DISPLAY=" + server.display(), "VEXMIR_HOST=" + hostExecutable(), "VEXMIR_HOST_WATCHDOG=60"});
  ASSERT_EQ(r.exitCode, 0) << r.err << r.out;
  x11test::keepForPeople(dir, "second.png", "notice-two-lines");
  pixels::Shots shots(dir.path());
  auto amber = [](const pixels::Colour& c) { return c[0] > 180 && c[1] > 120 && c[1] < 220 && c[2] < 130; };
  for (const char* note : {"first", "second"}) {
    ASSERT_TRUE(shots.load(note));
    EXPECT_GT(shots.count(note, 114, 320, 1100, 330, amber), 100) << note << ": no first line";
    EXPECT_GT(shots.count(note, 114, 330, 1100, 341, amber), 100) << note << ": no second line";
    EXPECT_EQ(shots.count(note, 84, 300, 1160, 320, amber), 0) << note << " stands on the line at 319";
    for (int x = 84; x < 1160; ++x) ASSERT_EQ(shots.at(note, x, 319), shots.at(note, 84, 319)) << note << x;
  }
  EXPECT_EQ(shots.differing("first", "second", 84, 316, 800, 341), 0) << "the doubled spaces changed the note";
}

// The librarian's file panels and alerts on the screen, answered with real input: a failing import's warning read
// and closed with Enter, a bank file imported by a double click, a folder of thousands of odd names browsed, Save As
// (in Patches, whatever folder the imports used) by typing a name, and a save over an existing file: its replace
// question is not answered by the Return that asked it, held past the server's repeat delay or pressed twice, but
// by Escape and by a Return pressed afresh; a bank in a hidden folder imported and one saved there through typed
// paths, one saved through "..", Patches reached through a bare ".." typed, and a panel left open when the host's
// window goes. The librarian says what it saved. A slot renamed through its menu's Rename chosen with Return: the
// field it opens takes no second Return as close as a double click's, nor the repeats of one held past the server's
// repeat delay. A renamed bank's file written behind its back:
// MENU > Save chosen with Return (or keypad Enter) asks whether to replace it, Cancel the default, unanswered by a
// second Return or Enter as close as a double click's, cancelled by a Return afresh; a click on Replace replaces it,
// and when the file changed while the question stood, the question asked again is not answered by the second or
// third click of a triple click on Replace but by a click afresh.
TEST_F(RealHostDialogs, PanelsAndAlertsAnswerRealInput) {
  ScratchDir dir;  // the home folder, where the panels start
  const std::string data = dir.file("Library/Audio/Presets/Pellacor/Korg Vexmir Editor");
  const std::string patches = data + "/Patches";
  std::filesystem::create_directories(patches);
  const char* const kLog = "Library/Audio/Presets/Pellacor/Korg Vexmir Editor/Vexmir Editor LOG.txt";
  std::ofstream(dir.file(kLog)).flush();
  vectors::writeFile(patches + "/A.syx", libui::bankBytes(3));
  vectors::writeFile(dir.file("Gift.syx"), libui::bankBytes(9));
  vectors::writeFile(dir.file("Bad.syx"), {0xF0, 0xF7});
  vectors::writeFile(patches + "/Old.vmr", {1, 2, 3});
  std::filesystem::create_directories(patches + "/Mine");
  // A folder of thousands of banks with names in UTF-8, in no encoding and of 250 bytes.
  std::filesystem::create_directories(dir.file("Many"));
  for (int i = 0; i < 3000; ++i) vectors::writeFile(dir.file("Many/Bank " + std::to_string(i) + ".syx"), {});
  const std::string odd[] = {
      "\xC3\x9C"
      "ber Sch\xC3\xB6n \xE2\x98\x83.syx",
      "Latin \xFC\xFF.syx", std::string(246, 'L') + ".syx"};
  for (const std::string& name : odd) vectors::writeFile(dir.file("Many/" + name), {});
  std::filesystem::create_directories(dir.file(".hidden/Deep"));
  vectors::writeFile(dir.file(".hidden/Deep/Hid.syx"), libui::bankBytes(11));
  // Gift.syx is the open panel's fifth row (its middle at 153).
  const HostRun r =
      panelSession(dir, server.display(), R"sh(menu 170; keys "open panel" b Return; shot alert alert; keys alert Return
menu 170; shot "open panel" open; xdotool mousemove --window $(win "open panel") 100 153 click --repeat 2 --delay 60 1
menu 170; keys "open panel" m a Return; keys "open panel" End; sleep 1; shot "open panel" many; keys "open panel" Escape
menu 141; shot "save panel" save; keys "save panel" S a v e d Return
menu 141; keys "save panel" O l d; xdotool keydown Return sleep 0.8 keyup Return; shot alert old; keys alert Escape
keys "save panel" --delay 120 Return Return; sleep 0.5; keys alert Return
menu 141; keys "save panel" BackSpace Delete Delete Delete Delete M i n e Return I n Return
menu 170; text "open panel" "~/.hidden/Deep/Hid.syx"; sleep 0.5; shot "open panel" goto; keys "open panel" Return Return
menu 141; keys "save panel" BackSpace Delete Delete Delete Delete; text "save panel" "~/.hidden/Deep/Kept"
keys "save panel" Return
menu 141; keys "save panel" BackSpace Delete Delete Delete Delete; text "save panel" "../Out"; keys "save panel" Return
menu 141; keys "save panel" BackSpace Delete Delete Delete Delete; text "save panel" ..; keys "save panel" Return
text "save panel" Patches; keys "save panel" Return; text "save panel" Old; keys "save panel" Return; shot alert dotdot
keys alert Escape; keys "save panel" Escape
xdotool mousemove --window $HOST 160 67 click 3; xdotool mousemove --window $(win "menu$") 40 43 key --delay 120 Return keydown Return sleep 1 keyup Return
e=$(win '*$')
until [ "$(xdotool getwindowfocus -f)" = $e ]; do :; done; xdotool type Lead; xdotool key Return
while [ "$(xdotool getwindowfocus -f)" = $e ]; do :; done; cp Gift.syx Library/Audio/Presets/Pellacor/Korg*/Out.vmr
save() { xdotool mousemove --window $HOST 900 47 click 1; xdotool mousemove --window $(win "menu$") 40 121 "$@"; }
save key --delay 120 Return Return; shot alert ask; sleep 0.5; keys alert Return
save key --delay 120 Return KP_Enter; sleep 0.5; keys alert Return; save key --delay 120 KP_Enter Return; sleep 0.5
keys alert Return; save click 1; w=$(win alert); cp Bad.syx Library/Audio/Presets/Pellacor/Korg*/Out.vmr
eval $(xdotool getwindowgeometry --shell $w); xdotool mousemove --window $w 290 $((HEIGHT - 29)) click --repeat 3 --delay 280 1
sleep 0.5; until v=$(win alert) && [ $v != $w ]; do :; done; xdotool mousemove --window $v 290 $((HEIGHT - 29)) click 1
menu 141; win "save panel" >/dev/null; xdotool windowkill $HOST
)sh");
  ASSERT_EQ(r.exitCode, 0) << r.err << r.out;
  EXPECT_EQ(vectors::readFile(patches + "/Gift.syx"), libui::bankBytes(9)) << "the import did not copy the bank";
  EXPECT_EQ(vectors::readFile(patches + "/Saved.vmr"), libui::bankBytes(3)) << "Save As did not write the open bank";
  EXPECT_EQ(vectors::readFile(patches + "/Mine/In.vmr"), libui::bankBytes(3)) << "a folder's name did not open it";
  EXPECT_EQ(vectors::readFile(patches + "/Hid.syx"), libui::bankBytes(11)) << "a typed path did not import";
  // What the librarian said of each save, in order: the Returns that asked the replace question saved nothing.
  std::string said;
  for (const std::string& line : x11test::linesWith(dir.read(kLog), ""))
    if (line.find("PATCH LIBRARIAN: Saved ") != std::string::npos) said += line.substr(line.find("Saved ")) + "\n";
  const std::string outside =
      " outside the Patches folder: it stays open, but the bank menus list only banks in Patches.\n";
  EXPECT_EQ(said, "Saved Patches/Saved.vmr\nSaved Patches/Old.vmr\nSaved Patches/Mine/In.vmr\nSaved Kept.vmr" +
                      outside + "Saved Out.vmr" + outside + "Saved " + data + "/Out.vmr\n");
  for (const std::string& file : {patches + "/Old.vmr", dir.file(".hidden/Deep/Kept.vmr")})
    EXPECT_EQ(vectors::readFile(file), libui::bankBytes(3)) << file << " was not saved";
  EXPECT_NE(dir.read(kLog).find("PATCH LIBRARIAN: Not saved: "), std::string::npos) << "Return did not cancel";
  EXPECT_TRUE(vectors::readFile(data + "/Out.vmr") ==
              libui::raw(libui::expectedBank(3, {{0, vectors::programDump(vectors::programDataNamed(0, "Lead"))}})));
  EXPECT_FALSE(std::filesystem::exists(patches + "/Bad.syx"));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(patches), {}), 6) << "a cancelled panel imported";
  // The alert's message stands below its header: "Could not import Bad.syx: it is too small for a bank file".
  pixels::Shots shots(dir.path());
  ASSERT_TRUE(shots.load("alert"));
  // Typed "..", then "Patches", then "Old": the replace question names the folder by its own name, as before.
  pixels::expectSamePictures(dir.file("dotdot.png"), dir.file("old.png"));
  const int ink =
      shots.count("alert", 20, 44, shots.width("alert") - 20, 62, [](const pixels::Colour& c) { return c[0] < 100; });
  EXPECT_GT(ink, 300) << "the alert shows no message";
  for (const char* picture : {"alert", "open", "save", "many", "goto", "ask"})
    x11test::keepForPeople(dir, std::string(picture) + ".png", std::string("dialog-") + picture);
  // The question's buttons, 26 high and 16 above its bottom: Cancel at the right drawn as the default, Replace not.
  platform::gfx::DecodedImage ask;
  ASSERT_TRUE(platform::gfx::loadPngFile(dir.file("ask.png"), ask) && shots.load("ask"));
  EXPECT_EQ(shots.at("ask", 345, ask.height - 38), (pixels::Colour{0x3D, 0x6F, 0xC8})) << "Cancel is not the default";
  EXPECT_EQ(shots.at("ask", 255, ask.height - 38), (pixels::Colour{255, 255, 255})) << "Replace looks the default";
}

// MENU > Import... > SysEx with real input on a folder of bank files of every kind: the open panel lists the .syx,
// .vmr and .vlt files, upper-case names too, and nothing else; "Bank 2" comes before "Bank 10". Typing the start of a
// name selects the first row that begins so, and Return imports it: what was imported tells which rows were there and
// in what order.
TEST_F(RealHostDialogs, TheImportPanelListsEveryTypeItsItemNamesInNaturalOrder) {
  ScratchDir dir;  // the home folder: the first panel starts in its Desktop
  const std::string patches = dir.file("Library/Audio/Presets/Pellacor/Korg Vexmir Editor/Patches");
  std::filesystem::create_directories(patches);
  vectors::writeFile(patches + "/A.syx", libui::bankBytes(3));
  std::filesystem::create_directories(dir.file("Desktop"));
  const std::pair<const char*, int> files[] = {{"Bank 10.syx", 10}, {"Bank 2.syx", 2}, {"Cello.vmr", 5},
                                               {"Drums.VLT", 7},    {"EXTRA.SYX", 8},  {"Notes.txt", 1},
                                               {"Song.mid", 4}};
  for (const auto& [name, seed] : files)
    vectors::writeFile(dir.file(std::string("Desktop/") + name), libui::bankBytes(seed));
  // A row not listed leaves its panel open: the run fails.
  const HostRun r =
      panelSession(dir, server.display(), R"sh(menu 170; shot "open panel" import; keys "open panel" b a n k Return
menu 170; keys "open panel" c Return
menu 170; keys "open panel" d Return
menu 170; keys "open panel" e Return
)sh");
  // The rows on the screen: ".." and the five banks, each file with its sheet's grey edge at the left of its row
  // (rows of 20 pixels from 63), and nothing below them.
  x11test::keepForPeople(dir, "import.png", "dialog-import");
  pixels::Shots shots(dir.path());
  ASSERT_TRUE(shots.load("import"));
  std::string sheets;
  for (int row = 0; row < 9; ++row) {
    const pixels::Colour c = shots.at("import", 24, 63 + row * 20 + 10);
    sheets += c[0] > 120 && c[0] < 200 && c[2] > 120 && c[2] < 200 ? 'F' : '.';
  }
  EXPECT_EQ(sheets, ".FFFFF...") << "rows with a file's sheet (F)";
  ASSERT_EQ(r.exitCode, 0) << r.err << r.out;
  EXPECT_EQ(vectors::readFile(patches + "/Bank 2.syx"), libui::bankBytes(2)) << "\"Bank 10\" came before \"Bank 2\"";
  EXPECT_FALSE(std::filesystem::exists(patches + "/Bank 10.syx"));
  EXPECT_EQ(vectors::readFile(patches + "/Cello.vmr"), libui::bankBytes(5));
  EXPECT_EQ(vectors::readFile(patches + "/Drums.VLT"), libui::bankBytes(7));
  EXPECT_EQ(vectors::readFile(patches + "/EXTRA.SYX"), libui::bankBytes(8));
}

// The README names the hosts the tests run the plug-in in, each with its tests in the tree, and calls every other
// Linux VST host it names untested.
TEST(RealHostReadme, NamesOnlyTheHostsTheTestsRunItIn) {
  const char* source = std::getenv("VEXMIR_SOURCE_DIR");
  ASSERT_NE(source, nullptr);
  std::stringstream text;
  text << std::ifstream(std::string(source) + "/README.md").rdbuf();
  const std::string readme = text.str();
  const size_t tested = readme.find("Hosts it is tested in:");
  const size_t untested = readme.find("Untested:", tested == std::string::npos ? 0 : tested);
  ASSERT_NE(tested, std::string::npos) << "the README does not say which hosts the tests use";
  ASSERT_NE(untested, std::string::npos) << "the README does not say which hosts are untested";
  const std::string testedPart = readme.substr(tested, untested - tested);
  const std::string untestedPart = readme.substr(untested, readme.find("\n\n", untested) - untested);
  struct Host {
    const char* name;
    const char* tests;  // the tests that run it, or null for a host no test runs
  } hosts[] = {{"vexmir-host", "tools/vexmir-host/main.cpp"},
               {"Ardour", "tests/daw/ardour_gui_test.cpp"},
               {"Bitwig", nullptr},
               {"Qtractor", "tests/daw/qtractor_gui_test.cpp"},
               {"REAPER", nullptr},
               {"Carla", nullptr},
               {"Renoise", nullptr},
               {"Tracktion", nullptr},
               {"LMMS", nullptr}};
  for (const Host& h : hosts) {
    if (readme.find(h.name) == std::string::npos) continue;
    if (h.tests) {
      EXPECT_NE(testedPart.find(h.name), std::string::npos) << h.name;
      EXPECT_TRUE(std::ifstream(std::string(source) + "/" + h.tests).good()) << h.name << " has no tests: " << h.tests;
    } else {
      EXPECT_EQ(testedPart.find(h.name), std::string::npos) << h.name << " is named as tested";
      EXPECT_NE(untestedPart.find(h.name), std::string::npos) << h.name << " is named but not called untested";
    }
  }
}

// The librarian's help commands in an editor shown on a display: each opens its folder or page with the desktop's
// opener, or, where the system has none, shows where it is (the debug log keeps what was shown).
TEST_F(RealHostDesktop, HelpCommandsOpenTheirTargetWithTheDesktopOpenerOrSayWhere) {
  ScratchDir dir;
  const std::string data = dir.path() + "/Library/Audio/Presets/Pellacor/Korg Vexmir Editor/";
  std::filesystem::create_directories(data + "Patches");
  std::filesystem::create_directories(dir.file("none"));
  std::ofstream(data + "Vexmir Editor LOG.txt").flush();
  std::filesystem::create_directories(dir.file("bin"));
  dir.write("bin/xdg-open", "#!/bin/sh\necho \"$1\" >>\"" + dir.file("opened.txt") + "\"\n");
  chmod(dir.file("bin/xdg-open").c_str(), 0755);
  // The librarian tab; MENU > Other Helpful things > each help command, then About this Plug-in.
  std::string commands = "pump 3\nclick 170 18\npump 2\n";
  for (const char* item : {"12/0", "12/2", "12/3", "12/4", "14"})
    commands += std::string("menu choose ") + item + "\nclick 900 47\npump 2\n";
  const std::string targets[] = {data, "https://www.pellacor.com/my-tickets/", "https://www.pellacor.com/downloads/",
                                 "https://kb.pellacor.com/kb/articles/"};
  // Without a display (a test's editor) the openings are only recorded: the opener never starts.
  for (const auto& [editor, path] : {std::pair{"cocoa", "bin"}, {"x11", "bin"}, {"x11", "none"}}) {
    HostRun r = run(pluginBundlePath(), std::string("open\neditor open ") + editor + "\n" + commands, dir,
                    {"DISPLAY=" + server.display(), "PATH=" + dir.file(path)});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  }
  // Each opener runs in the background: they may finish in any order.
  std::multiset<std::string> opened;
  std::stringstream lines(dir.read("opened.txt"));
  for (std::string line; std::getline(lines, line);) opened.insert(line);
  EXPECT_EQ(opened, std::multiset<std::string>(std::begin(targets), std::end(targets)));
  const std::string log = dir.read("Library/Audio/Presets/Pellacor/Korg Vexmir Editor/Vexmir Editor LOG.txt");
  const char* what[] = {"Data folder: ", "Support tickets: ", "Updates: ", "DAW setup guides: "};
  for (int i = 0; i < 4; ++i)
    EXPECT_NE(log.find(std::string("PATCH LIBRARIAN: ") + what[i] + targets[i]), std::string::npos) << targets[i];
  EXPECT_NE(log.find("PATCH LIBRARIAN: Vexmir Editor v"), std::string::npos) << log;
}

}  // namespace
