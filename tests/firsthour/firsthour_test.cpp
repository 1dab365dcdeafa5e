// A newcomer's first mistakes on the real editor object (built from the bundle's resources, on a data folder of
// its own): each gets a message that names the problem, on the status display or the librarian's line, and a
// long message is never cut where the librarian's line has it whole.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <set>
#include <sstream>

#include "KIT/IEffect/IControl.h"
#include "KIT/IEffect/IGraphics.h"
#include "KIT/IEffect/IParam.h"
#include "src/LibrarianEditor.h"
#include "src/LibrarianViewControl.h"
#include "src/MIDIMessageManager.h"
#include "src/Vexmir.h"
#include "tests/libui/libui_support.h"
#include "tests/support/Files.h"
#include "tests/support/QuietHost.h"

using libui::bankBytes;
using libui::DataFolder;

namespace {

using vexmir::testsupport::quietHost;

// The editor object whose jobs are only counted and whose MIDI goes nowhere.
class Plug : public Vexmir {
 public:
  Plug() : Vexmir(IEffectInstanceInfo{quietHost}) {
    getMidiManager()->getSender()->jobRunner = [this](MIDIMessageSender&, const SenderJob&) { ++jobs; };
  }
  ~Plug() override { stopHostCallRelay(); }  // the relay calls this object's overrides: it ends before they go
  bool SendMidiMsg(IMidiMsg*) override { return true; }
  bool SendMidiSysex(unsigned char*, int) override { return true; }
  // A button pressed and let go, as an auto-off button does.
  void press(int idx) {
    for (double v : {1.0, 0.0}) {
      storeParamValue(idx, v);
      OnParamChange(idx);
    }
    while (getMidiManager()->isWorkerBusy(MidiWorker::kJobThread)) usleep(1000);
  }
  std::string status() const { return getDisplayLine(kLineName); }
  // The librarian's editor, its banks scanned afresh.
  LibrarianEditor* scannedLibrarian() {
    getLibrarianEditor()->patchTypeChanged(0, 0, true);
    return getLibrarianEditor();
  }
  std::atomic<int> jobs{0};
};

using vexmir::testsupport::readText;

}  // namespace

TEST(FirstHour, ButtonsThatNeedTheSynthesizerNameTheMissingPort) {
  DataFolder data;
  data.write("Pads.syx", bankBytes(1));
  Plug plug;
  // A store or an audition from the librarian, as the menu and a double click start them.
  LibrarianEditor* editor = plug.scannedLibrarian();
  editor->librarian()->selectSlot(LibrarianEditor::kUpper, 3);
  LibrarianHost* host = editor->host();
  // The menus' requests (Sync, Request > to GUI, All Patches, the slot's Temp) wait for an answer: both ports.
  const std::function<bool()> sends[] = {[&] { return editor->storeSelectedProgram(); },
                                         [&] { return editor->auditionSlot(LibrarianEditor::kUpper, 3); },
                                         [&] { return editor->storeOpenBank(); },
                                         [&] { return host->syncCurrentFromHardware(); },
                                         [&] { return host->requestProgram(-1, -1, true); },
                                         [&] { return host->requestAllPrograms(); },
                                         [&] { return host->requestProgram(-1, 3, false); }};
  for (size_t i = 0; i < std::size(sends); ++i) {
    plug.displayStatus("-");
    EXPECT_FALSE(sends[i]()) << i;
    EXPECT_EQ(plug.status(), std::string("Set MIDI I/O First! Choose MIDI ") + (i < 3 ? "OUT" : "IN and OUT")) << i;
  }
  plug.press(kRequestTempData);
  EXPECT_EQ(plug.status(), "Set MIDI I/O First! Choose MIDI IN and OUT");
  plug.press(kPushArrangement);
  EXPECT_EQ(plug.status(), "Set MIDI I/O First! Choose MIDI OUT");
  // The output alone: no answer can come, so nothing starts a wait for one.
  plug.midiOutReady = true;
  plug.GetParam(kPartLock)->Set(1.0);  // the part lock keeps the librarian's programs off the timbre
  EXPECT_FALSE(editor->auditionSlot(LibrarianEditor::kUpper, 3));
  EXPECT_EQ(plug.status(), "Audition of slot 4 not sent: Part Lock is on");
  plug.GetParam(kPartLock)->Set(0.0);
  for (int button : {kRequestTempData, kPatchUp, kPatchDown}) {
    plug.press(button);
    EXPECT_EQ(plug.status(), "Set MIDI I/O First! Choose MIDI IN") << button;
  }
  EXPECT_EQ(plug.jobs, 0);
  plug.midiInReady = true;
  plug.press(kRequestTempData);
  EXPECT_EQ(plug.jobs, 1);
  EXPECT_EQ(plug.status().find("Set MIDI"), std::string::npos);
  // STORE TO SLOT says why it did not start after its release as well.
  editor->librarian()->selectSlot(LibrarianEditor::kUpper, -1);
  plug.press(kOverwriteBank);
  EXPECT_EQ(plug.status(), "Program not stored: no slot is highlighted");
  // Until the musician's next action: a slot clicked (the first, at 162, 67).
  IMouseMod left(true);
  editor->view()->OnMouseDown(162, 67, &left);
  EXPECT_EQ(plug.status(), "");
}

TEST(FirstHour, APortMenuOpenedWithoutAMidiSystemSaysWhy) {
  if (access("/dev/snd/seq", F_OK) == 0) GTEST_SKIP() << "this machine has an ALSA sequencer";
  DataFolder data;
  setenv("VEXMIR_MIDI_API", "alsa", 1);
  Plug plug;
  EXPECT_EQ(plug.GetParam(kDeviceOutSelection)->GetNDisplayTexts(), 1);
  IGraphics* g = plug.GetGUI();
  IMouseMod left(true);
  for (int i = 0; i < g->NControls(); ++i)
    if (g->GetControl(i)->ParamIdx() == kDeviceOutSelection) g->GetControl(i)->OnMouseDown(0, 0, &left);
  EXPECT_EQ(plug.status(), "No MIDI system: no ALSA sequencer");
}

// Names typed in the top bar: what the synthesizer can show is kept, and the musician reads what it became.
TEST(FirstHour, ATypedProgramNameKeepsItsLettersAndSaysWhatChanged) {
  DataFolder data;
  Plug plug;
  const struct {
    const char *typed, *kept;
    bool told;
  } cases[] = {{"Crème Brûlée", "Creme Brulee", true}, {"A name much too long", "A name much ", true},
               {"Plain Lead", "Plain Lead", false}};
  for (const auto& c : cases) {
    plug.GetParam(kPatchName)->SetDisplayText(0, c.typed);
    plug.OnParamChange(kPatchName);
    EXPECT_EQ(plug.programName(), c.kept) << c.typed;
    EXPECT_EQ(plug.status() == "Name kept as \"" + std::string(c.kept) + "\" (plain, 12 max)", c.told) << c.typed;
  }
}

TEST(FirstHour, AMissingPatchesFolderIsNamedWithWhereToMakeIt) {
  DataFolder data;
  std::filesystem::remove_all(data.patches);
  Plug plug;
  LibrarianEditor* editor = plug.scannedLibrarian();
  EXPECT_EQ(editor->lastMessage(), "No Patches folder: make " + data.patches + " and put bank files in it");
  EXPECT_STREQ(plug.GetParam(kPatchSelectionListUpper)->GetDisplayText(0), "No banks");
}

// Save and Save As with no bank say why, and keep saying what to do about it: make the Patches folder, or fill it.
TEST(FirstHour, SavingWithNoBankSaysWhyAndKeepsTheHint) {
  DataFolder data;
  std::filesystem::remove_all(data.patches);
  Plug plug;
  LibrarianEditor* editor = plug.scannedLibrarian();
  const std::string hint = "No Patches folder: make " + data.patches + " and put bank files in it";
  for (int attempt = 0; attempt < 2; ++attempt) {
    editor->clearMessage();  // as the menu's choice does
    EXPECT_FALSE(attempt == 0 ? editor->saveOpenBank() : editor->saveOpenBankAs(false));
    EXPECT_EQ(editor->view()->notice(), "Nothing to save: no bank is open. " + hint) << attempt;
    EXPECT_EQ(plug.status().find("Nothing to save: no bank is open.\nNo Patches folder: make "), 0u) << plug.status();
  }
  std::filesystem::create_directories(data.patches);
  editor->patchTypeChanged(0, 0, true);
  editor->saveOpenBank();
  EXPECT_EQ(editor->lastMessage(), "Nothing to save: no bank is open.");
  EXPECT_EQ(editor->view()->notice(),
            "Nothing to save: no bank is open. No banks in Patches/: put bank files in it, then Refresh Folders");
  data.write("Pads.syx", bankBytes(1));
  plug.press(kRefreshFolders);
  EXPECT_EQ(plug.status(), "") << "a bank is open now";
}

// A message and its tip on the status display: both read whole, one above the other, when they do not fit one line;
// without a MIDI system, the editor says so when it opens.
TEST(FirstHour, TheStatusDisplayShowsMessageAndTipWholeAndAMissingMidiSystemAtOnce) {
  DataFolder data;
  data.write("Pads.syx", bankBytes(1));
  Plug plug;
  LibrarianEditor* editor = plug.scannedLibrarian();
  // Typed into the search field, whose text the librarian gets a second time as the search left it.
  auto typed = [&](const char* word) {
    plug.GetGUI()->SetFromStringAfterPrompt(plug.firstControl(kPatchSearchString), plug.GetParam(kPatchSearchString),
                                            word);
  };
  typed("no such name");
  EXPECT_EQ(plug.status(), "No results - Try another keyword!\nTip: Note that letter size matters..");
  typed("x");
  EXPECT_EQ(plug.status(), "Enter 2 digits or more!");
  EXPECT_EQ(editor->view()->notice(), "Enter 2 digits or more!");
  typed("b1s1");
  EXPECT_EQ(plug.status(), "") << "the search found programs";
  if (access("/dev/snd/seq", F_OK) == 0) return;
  setenv("VEXMIR_MIDI_API", "alsa", 1);
  Plug alone;
  unsetenv("VEXMIR_MIDI_API");
  alone.Reset();
  EXPECT_EQ(alone.status(), "No MIDI system: no ALSA sequencer");
  alone.displayStatus("Saved");
  alone.OnGUIOpen();
  EXPECT_EQ(alone.status(), "No MIDI system: no ALSA sequencer");
}

// Every file the scan passed over is named with its reason, one after the other, by clicks on the message.
TEST(FirstHour, EveryFilePassedOverIsNamedWithItsReason) {
  DataFolder data;
  for (const auto& [name, bytes] : {std::pair{"Good.syx", bankBytes(1)}, {"tiny.syx", libui::Bytes(100, 0)},
                                    {"empty.syx", libui::Bytes(30000, 0)}, {"a/b/c/deep.syx", bankBytes(2)}})
    data.write(name, bytes);
  Plug plug;
  LibrarianEditor* editor = plug.scannedLibrarian();
  const IRECT line = editor->view()->noticeRect();
  std::set<std::string> named;
  for (int click = 0; click < 4; ++click) {
    const std::string text = editor->lastMessage();
    EXPECT_NE(text.find(" of 3: click here for the next)"), std::string::npos) << text;
    named.insert(text.substr(0, text.find(" - ")));
    IMouseMod left(true);
    editor->view()->OnMouseDown((line.L + line.R) / 2, (line.T + line.B) / 2, &left);
  }
  EXPECT_EQ(named, (std::set<std::string>{"Not listed: tiny.syx", "Not listed: empty.syx",
                                          "Not in the bank menus: deep.syx"}));
}

// A save and an import say what they wrote where; a message too long for the name field covers the display.
TEST(FirstHour, SavesAreConfirmedAndLongMessagesCoverTheWholeDisplay) {
  DataFolder data;
  data.write("Mine/Pads.syx", bankBytes(1));
  Plug plug;
  LibrarianEditor* editor = plug.getLibrarianEditor();
  editor->patchTypeChanged(0, 0, false);
  ASSERT_TRUE(editor->selectBank(0, 0));
  plug.SetLibrarianStatusUnsaved(true);
  ASSERT_TRUE(editor->saveOpenBank());
  EXPECT_EQ(plug.status(), "Saved Patches/Mine/Pads.syx");
  plug.getMidiManager()->getSender()->showStatus("Data request completed!");
  editor->clearMessage();  // the librarian's next action, as a menu's choice starts it
  EXPECT_EQ(plug.status(), "") << "a transfer's report outlives it";

  auto cutoff = [&](double v) { plug.storeParamValue(kFilterCutoff, v), plug.OnParamChange(kFilterCutoff); };
  cutoff(20);  // the name field holds the knob's name, the value field "20"
  plug.displayStatus("Could not save Locked Bank.");
  EXPECT_EQ(plug.status(), "Could not save Locked Bank.");
  EXPECT_EQ(plug.getDisplayLine(Vexmir::kLineValue), "");
  EXPECT_EQ(plug.getDisplayLine(Vexmir::kLineTimbre), "");
  // The next control shown takes its fields back, the timbre field's text with them.
  cutoff(10);
  EXPECT_EQ(plug.getDisplayLine(Vexmir::kLineValue), "10");
  EXPECT_EQ(plug.getDisplayLine(Vexmir::kLineTimbre), "[TIMBRE 1]");
  plug.displayStatus(std::string(80, 'x').c_str());  // longer than the whole display
  EXPECT_EQ(plug.status(), std::string(plug.status().size() - 3, 'x') + "...");
}

// The README holds for a newcomer: every test label is listed, and each install command names its folder itself.
TEST(FirstHour, TheReadmeListsEveryTestLabelAndItsInstallCommandsSetTheirFolder) {
  const std::string source = std::getenv("VEXMIR_SOURCE_DIR") ? std::getenv("VEXMIR_SOURCE_DIR") : ".";
  const std::string readme = readText(source + "/README.md");
  ASSERT_FALSE(readme.empty());
  std::set<std::string> labels;
  const std::regex list(R"(LABELS\s+"?([a-z0-9; ]+))"), single(R"(\b([a-z0-9]+)=[A-Z][A-Za-z0-9]*\.)"),
      word("[a-z0-9]+");
  for (const auto& entry : std::filesystem::recursive_directory_iterator(source + "/tests")) {
    if (entry.path().filename() != "CMakeLists.txt") continue;
    const std::string text = readText(entry.path().string());
    for (std::sregex_iterator m(text.begin(), text.end(), list), end; m != end; ++m) {
      const std::string words = (*m)[1];
      for (std::sregex_iterator w(words.begin(), words.end(), word); w != end; ++w) labels.insert(w->str());
    }
    for (std::sregex_iterator m(text.begin(), text.end(), single), end; m != end; ++m) labels.insert((*m)[1]);
  }
  EXPECT_GT(labels.size(), 20u);
  for (const std::string& label : labels) EXPECT_NE(readme.find("`" + label + "`"), std::string::npos) << label;
  const std::regex install(R"(cmake --install)"), setsFolder(R"(-[UD]VEXMIR_LXVST_DIR.*cmake --install)");
  std::istringstream lines(readme);
  int installs = 0;
  for (std::string line; std::getline(lines, line);) {
    if (std::regex_search(line, install)) {
      EXPECT_TRUE(++installs && std::regex_search(line, setsFolder)) << line;
    }
  }
  EXPECT_GE(installs, 2);
}
