// The librarian's editor side inside the real plug-in object: created with it over the librarian it
// scanned, and quiet where the editor has no surface or no MIDI output yet; the texts it shows of names and
// messages are never cut inside a character.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "KIT/IEffect/ControlLayer.h"
#include "KIT/IEffect/IEffectStructs.h"
#include "platform/cocoa/menu.h"
#include "platform/cocoa/panels.h"
#include "platform/cocoa/view.h"
#include "platform/text/text.h"
#include "src/PatchLibrarianFiles.h"
#include "src/ProgramDump.h"
#include "src/Vexmir.h"
#include "tests/fuzz/fuzz_data_root.h"
#include "tests/libui/libui_support.h"
#include "tests/support/Files.h"
#include "tests/support/ProjectChunk.h"
#include "tests/support/QuietHost.h"

using namespace libui;

namespace {

// Characters of one to four bytes and bytes that start none, up to 200 bytes, some ending in a sequence cut
// short; `ends` holds the offsets between characters.
struct RandomText {
  std::string text;
  std::set<size_t> ends{0};
};

RandomText randomText(std::mt19937& rng, bool cutShortEnd) {
  static const char* const kChars[] = {
      "a", "Z", " ", "-", "\xC3\xA9", "\xC3\xBC", "\xE2\x82\xAC", "\xF0\x9F\x8E\xB9", "\xFF", "\xC0", "\x80"};
  RandomText t;
  for (size_t length = 1 + rng() % 200; t.text.size() < length; t.ends.insert(t.text.size()))
    t.text += kChars[rng() % 11];
  if (cutShortEnd && rng() % 3 == 0) t.text += "\xE2\x82";
  t.ends.insert(t.text.size());
  return t;
}

bool validUtf8(const std::string& s) {
  std::u32string chars;
  return platform::text::decodeUtf8(s.data(), s.size(), chars);
}

// What is shown of `t` is a head of it that ends between characters, valid UTF-8 where `t` is.
void expectWholeHead(const RandomText& t, const std::string& shown, const char* where) {
  EXPECT_EQ(t.text.compare(0, shown.size(), shown), 0) << where << ": " << shown;
  EXPECT_EQ(t.ends.count(shown.size()), 1u) << where << " cut inside a character: " << shown;
  if (validUtf8(t.text)) {
    EXPECT_TRUE(validUtf8(shown)) << where << ": " << shown;
  }
}

using namespace vexmir::testsupport;

// An instance over the data folder with `bank` open and slot `slot` renamed to `name` (nothing renamed for "").
struct Instance {
  Instance(const std::string& bank, int slot = 0, const std::string& name = "") : editor(plug.getLibrarianEditor()) {
    editor->patchTypeChanged(0, 0, false);
    const auto& banks = plug.getLibrarian()->bankFiles;
    for (size_t i = 0; i < banks.size(); ++i) {
      if (banks[i]->fileName == bank) {
        EXPECT_TRUE(editor->selectBank(0, static_cast<int>(i)));
      }
    }
    if (!name.empty()) {
      EXPECT_TRUE(editor->renameProgram(slot, name));
    }
  }
  bool named(int slot, const std::string& name) const {
    return editor->bankOf(0)->patches[slot].name.rfind(name, 0) == 0;
  }
  void refreshFolders() {
    plug.GetParam(kRefreshFolders)->Set(1.0);
    editor->onParamChange(kRefreshFolders);
  }
  Vexmir plug{IEffectInstanceInfo{quietHost}};
  LibrarianEditor* editor;
};

// The editor of `plug` opened by a host on this thread, in a window of the platform model, on the librarian's tab.
struct EditorWindow {
  explicit EditorWindow(Vexmir* plug) : plug(plug), e(plug->GetAEffect()) {
    char viewAsConfig[] = "hasHostViewAsConfig";
    e->dispatcher(e, effCanDo, 0, 0, viewAsConfig, 0);
    EXPECT_EQ(e->dispatcher(e, effEditOpen, 0, 0, window->contentView(), 0), 1);
    plug->GetParam(kMainTab)->Set(1.0);
    plug->OnParamChange(kMainTab);
  }
  ~EditorWindow() {
    if (!closed) e->dispatcher(e, effEditClose, 0, 0, nullptr, 0);
    window->release();
  }
  // A right click on slot `slot` of the upper list, as the platform delivers it.
  void rightClick(int slot) {
    const IRECT r = plug->getLibrarianEditor()->view()->slotRect(0, slot);
    const double h = plug->GetGUI()->Height();
    for (cocoa::EventType type : {cocoa::kRightMouseDown, cocoa::kRightMouseUp}) {
      cocoa::Event* ev = cocoa::Event::mouseEvent(type, cocoa::Point{(r.L + r.R) / 2 + 2.0, h - (r.T + r.B) / 2 - 3.0}, 0, window);
      window->sendEvent(ev);
      ev->release();
    }
  }
  Vexmir* plug;
  AEffect* e;
  cocoa::Window* window = new cocoa::Window(cocoa::Rect{0, 0, 1400, 900});
  bool closed = false;  // the plug-in was closed
};

// What stands while a close runs on another thread waits for the close to end it (or, where nothing ends it, for the
// close to return).
void waitForClose(Vexmir* plug, const std::atomic<bool>& returned) {
  while (!returned && !plug->GetGUI()->ModalsEnding()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

bool namedOnDisk(const std::string& path, int slot, const std::string& name) {
  const std::vector<Bytes> bank = readBank(path);
  return bank.size() == 128u && programDumpName(bank[slot].data(), bank[slot].size()).rfind(name, 0) == 0;
}

}  // namespace

TEST(PluginLibrarian, TheEditorSideWorksOnThePluginsOwnBanks) {
  DataFolder data;
  data.write("Mine.syx", bankBytes(4));
  data.write("Theirs/Other.syx", bankBytes(5));
  Vexmir plug(IEffectInstanceInfo{quietHost});
  LibrarianEditor* editor = plug.getLibrarianEditor();
  ASSERT_NE(editor, nullptr);
  EXPECT_EQ(editor->librarian(), plug.getLibrarian());
  editor->patchTypeChanged(0, 0, false);
  EXPECT_STREQ(plug.GetParam(kPatchSelectionListUpper)->GetDisplayText(1), "Mine.syx");
  ASSERT_TRUE(editor->selectBank(0, 1));
  EXPECT_EQ(editor->bankOf(0)->patches[9].name, programName(4, 9));
  // No MIDI output: nothing is sent, nothing breaks. A layer is found only when the bundle's description was
  // read, and then it is the one of that name.
  EXPECT_FALSE(editor->host()->midiOutputChosen());
  EXPECT_FALSE(editor->auditionSlot(0, 9));
  if (ControlLayer* rename = editor->host()->librarianLayer("patchRename")) {
    EXPECT_EQ(rename->getName(), "patchRename");
  }
  EXPECT_EQ(editor->host()->librarianLayer("noSuchLayer"), nullptr);
  EXPECT_FALSE(editor->saveOpenBankAs(false));
  // The transfer jobs flag the open bank through the plug-in: the editor side sees it.
  plug.SetLibrarianStatusUnsaved(true);
  EXPECT_TRUE(editor->openBankUnsaved());
  EXPECT_FALSE(editor->selectBank(0, 0)) << "no other bank opens over unsaved edits";
  EXPECT_TRUE(editor->programReceived(3, editor->bankOf(1)->patches[0]));
  EXPECT_TRUE(editor->saveOpenBank());
  EXPECT_FALSE(editor->openBankUnsaved());
  EXPECT_EQ(readBank(data.patches + "/Mine.syx")[3], programDumpOf(5, 0));
}

// A project saved with unsaved edits of the open bank brings them back with the flag, and Save then writes what
// the musician saw; with the bank's file gone meanwhile the edits still open, and Save writes the file again.
TEST(PluginLibrarian, AProjectKeepsTheOpenBanksUnsavedEdits) {
  DataFolder data;
  data.write("Mine.syx", bankBytes(4));
  data.write("Theirs/Other.syx", bankBytes(5));
  const std::string path = data.patches + "/Mine.syx";
  ByteChunk project;
  ASSERT_TRUE(Instance("Mine.syx", 4, "Renamed").plug.SerializeState(&project));
  for (bool fileGone : {false, true}) {
    if (fileGone) std::remove(path.c_str());
    Vexmir plug(IEffectInstanceInfo{quietHost});
    LibrarianEditor* editor = plug.getLibrarianEditor();
    ASSERT_GT(plug.UnserializeState(&project, 0), 0);
    EXPECT_TRUE(editor->openBankUnsaved());
    ASSERT_NE(editor->bankOf(0), nullptr);
    EXPECT_EQ(editor->bankOf(0)->fileName, "Mine.syx");
    EXPECT_EQ(editor->bankOf(0)->patches[4].name.rfind("Renamed", 0), 0u) << editor->bankOf(0)->patches[4].name;
    ASSERT_TRUE(editor->saveOpenBank()) << fileGone;
    EXPECT_TRUE(namedOnDisk(path, 4, "Renamed"));
    EXPECT_EQ(readBank(path).at(5), programDumpOf(4, 5));
  }
  // A project of an earlier version keeps no stamp: its edits count as made on another version of the file, and
  // Save writes over the file only when the musician answers the question it asks.
  data.write("Mine.syx", bankBytes(4));
  std::string kept, stamp;
  std::vector<uint8_t> image;
  bool opened = false;
  Instance("Mine.syx", 4, "Renamed").editor->projectBank(&kept, &image, &stamp);
  Instance older("Other.syx");
  older.editor->recallProjectBank(kept, image, "", nullptr, &opened);
  ASSERT_TRUE(opened && older.editor->openBankUnsaved());
  EXPECT_FALSE(older.editor->saveOpenBank());
  EXPECT_EQ(older.editor->lastMessage(), "Not saved: the project does not say which version of Patches/Mine.syx its "
                                         "unsaved edits were made on. The changes stay open here; Save As keeps both.");
  EXPECT_EQ(readBank(path), expectedBank(4));
}

// A project's bank path names a bank of this instance or nothing: edits whose path lies outside Patches (after links
// and ".."), is missing or is no bank open from memory and say why; a rescan writes nothing ("written back" least of
// all) and Save writes them into Patches as a new file. Nothing outside Patches is written, made or replaced.
TEST(PluginLibrarian, AProjectsBankPathIsANameNeverAPermission) {
  DataFolder data;
  data.write("Mine.syx", bankBytes(4));
  data.write("readme.syx", Bytes(100, 'x'));
  const std::string mine = data.patches + "/Mine.syx";
  std::filesystem::create_directories(data.root + "/elsewhere");
  vexmir::testsupport::writeText(data.root + "/elsewhere/notes.txt", "a text file of the musician's\n");
  vectors::writeFile(data.patches + "/../Outside.syx", bankBytes(6));
  const Bytes project = projectOf(Instance("Mine.syx", 4, "Renamed").plug.GetAEffect());
  const struct Case {
    std::string path, why, name, savedAs;
  } cases[] = {
      {data.root + "/elsewhere/notes.txt", "(it lies outside the Patches folder)", "notes.txt.syx", "notes.txt.syx"},
      {data.root + "/nowhere/gone.syx", "(it is not on disk here)", "gone.syx", "gone.syx"},
      {data.patches + "/../Outside.syx", "(it lies outside the Patches folder)", "Outside.syx", "Outside.syx"},
      {data.patches + "/Gone.syx", "(it is not on disk here)", "Gone.syx", "Gone.syx"},
      {data.patches + "/readme.syx", "(it is too small", "readme.syx", "readme (2).syx"},
      {"Patches/Mine.syx", "(it names no file on this computer)", "Mine.syx", "Mine (2).syx"},
      {data.patches + "/../Patches/./Mine.syx", "", "", "Mine.syx"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    vectors::writeFile(mine, bankBytes(4));
    // Every entry under the root but the Patches folder's: what no recall, rescan or Save may touch.
    const fuzztest::Tree outside = fuzztest::treeOutside(data.root, data.patches);
    Instance in("");
    ASSERT_TRUE(openProject(in.plug.GetAEffect(), vexmir::testsupport::withBankPath(project, mine, c.path)));
    const std::string said = in.editor->lastMessage();
    EXPECT_EQ(said.rfind("The project's unsaved bank " + c.name + " is open from the project, not from ", 0),
              c.why.empty() ? std::string::npos : 0u) << said;
    EXPECT_NE(said.find(c.why), std::string::npos) << said;
    // Hosts open a project twice: the second finds the bank open with the very same programs.
    in.editor->clearMessage();
    ASSERT_TRUE(openProject(in.plug.GetAEffect(), vexmir::testsupport::withBankPath(project, mine, c.path)));
    EXPECT_EQ(in.editor->lastMessage(), "") << "nothing was refused";
    if (!c.why.empty()) {
      // Its own project keeps it as a bank without a file, which opens from memory again.
      Instance again("");
      ASSERT_TRUE(openProject(again.plug.GetAEffect(), projectOf(in.plug.GetAEffect())));
      EXPECT_EQ(again.editor->lastMessage(), "The project's unsaved bank " + c.name +
                                               " is open from the project (it was never saved to a file): Save "
                                               "writes it to a new file in Patches.");
    }
    for (int step = 0; step < 2; ++step) {
      EXPECT_TRUE(in.editor->openBankUnsaved() && in.named(4, "Renamed"));
      in.refreshFolders();
      EXPECT_EQ(in.editor->lastMessage().find("written back"), std::string::npos) << in.editor->lastMessage();
    }
    ASSERT_TRUE(in.editor->saveOpenBank());
    EXPECT_EQ(fuzztest::treeOutside(data.root, data.patches), outside);
    EXPECT_EQ(in.editor->upperBankPath, data.patches + "/" + c.savedAs);
    EXPECT_TRUE(namedOnDisk(data.patches + "/" + c.savedAs, 4, "Renamed"));
    if (c.savedAs != "Mine.syx") {
      EXPECT_EQ(readBank(mine), expectedBank(4));
      std::filesystem::remove(data.patches + "/" + c.savedAs);
    }
  }
}

// Edits made here stay open and flagged whatever a project brings, and the musician is told, so that the next
// Refresh or Save acts on them; a project's own edits open quietly where there are none, also when opened twice.
TEST(PluginLibrarian, ARecallNeverMovesOrHidesTheEditsMadeHere) {
  DataFolder data;
  data.write("A.syx", bankBytes(1));
  data.write("B.syx", bankBytes(2));
  Instance theirs("B.syx");
  theirs.plug.getLibrarian()->selectSlot(0, 7);
  const Bytes plain = projectOf(theirs.plug.GetAEffect());
  ASSERT_TRUE(theirs.editor->renameProgram(7, "Theirs"));
  const Bytes edited = projectOf(theirs.plug.GetAEffect());
  Instance fresh("");
  for (const Bytes* project : {&edited, &edited, &plain}) {
    ASSERT_TRUE(openProject(fresh.plug.GetAEffect(), *project));
    EXPECT_EQ(fresh.editor->lastMessage(), "") << "nothing was refused";
    EXPECT_TRUE(fresh.editor->openBankUnsaved() && fresh.named(7, "Theirs"));
  }
  const struct Case {
    const char* bank;
    const Bytes* project;
    const char* notOpened;
  } cases[] = {{"A.syx", &plain, "the project's bank B.syx was"},
               {"A.syx", &edited, "the project's bank B.syx with its unsaved edits was"},
               {"B.syx", &edited, "the project's own unsaved edits of it were"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.notOpened);
    Instance mine(c.bank, 4, "Mine");
    mine.plug.getLibrarian()->selectSlot(0, 4);
    toldOnIdle(mine.plug.GetAEffect());
    ASSERT_TRUE(openProject(mine.plug.GetAEffect(), *c.project));
    EXPECT_EQ(toldOnIdle(mine.plug.GetAEffect()), 1);
    EXPECT_EQ(mine.editor->bankOf(0)->fileName, c.bank);
    EXPECT_EQ(mine.plug.getLibrarian()->selectedSlot(0), 4) << "the kept bank keeps its highlight";
    EXPECT_EQ(mine.editor->lastMessage(), std::string(c.bank) + " has unsaved changes here, so it stays open: " +
                                            c.notOpened + " not opened. Save or discard the changes, then open the "
                                                          "project again.");
    mine.refreshFolders();
    EXPECT_TRUE(mine.editor->openBankUnsaved() && mine.named(4, "Mine"));
    ASSERT_TRUE(mine.editor->saveOpenBank());
    EXPECT_TRUE(namedOnDisk(data.patches + "/" + c.bank, 4, "Mine"));
    data.write(c.bank, bankBytes(c.bank[0] == 'A' ? 1 : 2));
  }

  // A project whose bank is gone opens another: the project is not what the editor keeps. One opened on a host's thread
  // is carried out by the editor's idle, and opened as it says tells nothing.
  std::filesystem::rename(data.patches + "/B.syx", data.patches + "/Gone.syx");
  Instance gone("A.syx");
  const Bytes own = projectOf(gone.plug.GetAEffect());
  toldOnIdle(gone.plug.GetAEffect());
  ASSERT_TRUE(openProject(gone.plug.GetAEffect(), plain));
  EXPECT_EQ(toldOnIdle(gone.plug.GetAEffect()), 1) << gone.editor->lastMessage();
  EditorWindow idling(&gone.plug);
  std::thread([&] { EXPECT_TRUE(openProject(idling.e, own)); }).join();
  EXPECT_EQ(gone.editor->bankOf(0)->fileName, "Gone.syx") << "carried out on the host's thread";
  gone.plug.OnIdle();
  EXPECT_EQ(toldOnIdle(idling.e), 0);
  EXPECT_EQ(gone.editor->bankOf(0)->fileName, "A.syx");
  std::filesystem::rename(data.patches + "/Gone.syx", data.patches + "/B.syx");

  // Each change of what the project keeps is told once, whatever made it; not a change saved before the idle, the first
  // value past the kept ones, a MIDI light, a lower BROWSE BANK arrow pressed and let go, the name typed again.
  Instance told("A.syx");
  Vexmir& p = told.plug;
  AEffect* e = p.GetAEffect();
  const uint8_t otherChannel[] = {0xF0, 0x42, 0x35, 0x58, 0x4E, 0x00, 0x00, 0xF7};
  const std::pair<int, std::function<void()>> steps[] = {
      {1, [&] { p.setParameterFromPlug(0, 5.0); }},
      {1, [&] { p.setParameterFromPlug(kReserved472, 1.0); }},
      {0, [&] { p.setParameterFromPlug(0, 6.0), projectOf(e); }},
      {0, [&] { p.setParameterFromPlug(kOverwriteBank, 1.0); }},
      {0, [&] { p.lightMidiLed(0); }},
      {0, [&] { p.SetParameterFromGUI(kLibLowerNextBank, 1.0); }},
      {0, [&] { p.SetParameterFromGUI(kLibLowerNextBank, 0.0); }},
      {0, [&] { p.SetParameterFromGUI(kPatchName, 0.0); }},
      {1, [&] { p.GetParam(kPatchName)->SetDisplayText(0, "Synth 1     "), p.OnParamChange(kPatchName); }},
      {0, [&] { p.GetParam(kPatchName)->SetDisplayText(0, "Synth 1"), p.OnParamChange(kPatchName); }},
      {1, [&] { p.setReceivedProgramData(Bytes(kProgramDataSize, 1).data()); }},
      {1, [&] { p.SetParameterFromGUI(kRandomize, 1.0); }},
      {1, [&] { ISysEx m(0, otherChannel, sizeof otherChannel); p.ProcessSysEx(&m, true); }}};
  toldOnIdle(e);
  for (size_t i = 0; i < std::size(steps); ++i) {
    steps[i].second();
    EXPECT_EQ(toldOnIdle(e), steps[i].first) << "step " << i;
  }
  for (int i = 0; i < kNumParams; ++i) {  // RANDOMIZE moved the controls with their values
    IControl* c = p.firstControl(i);
    EXPECT_TRUE(!c || p.GetParam(i)->GetNDisplayTexts() || c->GetValue() == p.GetParam(i)->GetNormalized()) << i;
  }
  // effGetChunk and then the idle beside the synthesizer's channel messages (taken in without the mutex): what the
  // chunk lacks is told, and no change made while the idle compares is lost.
  for (int round = 0; round < 3000; ++round) {
    std::atomic<int> phase{0};  // one message beside effGetChunk, then others beside the idle, then none
    std::thread message([&] {
      for (int k = 0, now; (now = phase) < 2; ++k) {
        const int c = now ? 2 * round + 8 + k % 2 : 2 * round + 10;
        const uint8_t m[] = {0xF0, 0x42, static_cast<uint8_t>(0x30 + c % 16), 0x58, 0x4E, 0x00, 0x00, 0xF7};
        if (ISysEx sysex(0, m, sizeof m); now == 1 || k == 0) p.ProcessSysEx(&sysex, true);
      }
    });
    const Bytes saved = projectOf(e);
    int told = (phase = 1, toldOnIdle(e));
    phase = 2;
    message.join();
    told += toldOnIdle(e);
    p.ProjectChanged();
    ASSERT_TRUE(toldOnIdle(e) == 0 && (told > 0 || projectOf(e) == saved)) << "a change lost in round " << round;
  }
  // The randomized project opens the same elsewhere and tells nothing.
  const Bytes randomized = projectOf(e);
  Instance reopened("");
  AEffect* other = reopened.plug.GetAEffect();
  ASSERT_TRUE(openProject(other, randomized));
  EXPECT_EQ(toldOnIdle(other), 0);
  EXPECT_EQ(projectOf(other), randomized);
  // With the editor open its thread alone changes the librarian. A project opened on a host's thread while a slot menu
  // stands opens nothing under it: the Paste chosen goes onto the program shown, and the editor's next idle carries the
  // recall out, where the paste keeps its bank open and says so.
  Instance mine("A.syx");
  EditorWindow opened(&mine.plug);
  mine.editor->copyProgram(9);
  // Nor is a list read again while a menu stands, though its file changed.
  data.write("A.syx", raw(expectedBank(1, {{100, programDumpOf(2, 5)}})));
  cocoa::menus::setChooser([&](const cocoa::ShownMenu&) {
    cocoa::menus::setChooser(nullptr);
    EXPECT_FALSE(mine.editor->readAgainIfChanged(LibrarianEditor::kUpper)) << "read again under a menu";
    return cocoa::menus::Choice{};
  });
  opened.rightClick(3);
  cocoa::menus::setChooser([&](const cocoa::ShownMenu&) {
    cocoa::menus::setChooser(nullptr);
    std::thread([&] { EXPECT_TRUE(openProject(mine.plug.GetAEffect(), edited)); }).join();
    // A project saved meanwhile is the one opened: its bank with its edits, not the bank still shown.
    EXPECT_FALSE(vexmir::testsupport::withBankPath(projectOf(mine.plug.GetAEffect()), data.patches + "/B.syx", "-")
                     .empty());
    return cocoa::menus::Choice{0};
  });
  opened.rightClick(3);
  EXPECT_EQ(mine.editor->bankOf(0)->fileName, "A.syx");
  EXPECT_TRUE(mine.named(3, programName(1, 9)) && mine.named(7, programName(1, 7))) << "pasted onto what was shown";
  // Saved before the idle, the project opens what the editor keeps after it: the bank shown, with the paste.
  const Bytes beforeIdle = projectOf(mine.plug.GetAEffect());
  mine.plug.OnIdle();
  Instance later("");
  ASSERT_TRUE(openProject(later.plug.GetAEffect(), beforeIdle));
  EXPECT_TRUE(later.editor->bankOf(0)->fileName == "A.syx" && later.named(3, programName(1, 9)));
  EXPECT_EQ(mine.editor->lastMessage(), "A.syx has unsaved changes here, so it stays open: the project's bank B.syx "
                                        "with its unsaved edits was not opened. Save or discard the changes, then open "
                                        "the project again.");
  // Projects opened on a host's thread over and over while the editor's thread saves and discards: each recall is
  // carried out between them, whole.
  std::atomic<bool> stop{false};
  std::thread host([&] {
    while (!stop) EXPECT_TRUE(openProject(mine.plug.GetAEffect(), edited));
  });
  for (int i = 0; i < 40; ++i) {
    mine.editor->renameProgram(i, "Save " + std::to_string(i));
    mine.editor->saveOpenBank();
    mine.editor->renameProgram(i, "Discard");
    mine.plug.GetParam(kDiscardBankData)->Set(1.0);
    mine.plug.OnParamChange(kDiscardBankData);
    mine.plug.OnIdle();
  }
  stop = true;
  host.join();
  EXPECT_EQ(mine.editor->upperBankPath, bankPath(*mine.editor->bankOf(0)));
  // A project that brings its own program into the slot being renamed refuses the name typed, on the status display.
  data.write("B.syx", bankBytes(2));
  Instance typing("B.syx");
  EditorWindow renaming(&typing.plug);
  cocoa::menus::setChooser([](const cocoa::ShownMenu&) {
    cocoa::menus::setChooser(nullptr);
    return cocoa::menus::Choice{2};
  });
  renaming.rightClick(7);
  for (char32_t c : std::u32string(U"Mine")) {
    cocoa::Event* key = cocoa::Event::keyEvent(cocoa::kKeyDown, 0, 0, std::u32string(1, c), std::u32string(1, c));
    renaming.window->sendEvent(key);
    key->release();
  }
  ASSERT_TRUE(openProject(typing.plug.GetAEffect(), edited));
  EXPECT_TRUE(typing.named(7, "Theirs"));
  EXPECT_EQ(typing.editor->lastMessage(), "Not renamed to \"Mine\": slot 8 of Patches/B.syx took the recalled "
                                         "project's program while it was typed. Rename the slot again.");
  EXPECT_EQ(typing.plug.getDisplayLine(Vexmir::kLineName).rfind("Not renamed to \"Mine\": slot 8", 0), 0u);

  // The editor closed on another thread while the question before a save stands: it ends unanswered and nothing is
  // written; the plug-in closed while a slot menu stands waits for the menu, and frees nothing under it.
  data.write("A.syx", bankBytes(3));
  auto* closing = new Vexmir(IEffectInstanceInfo{quietHost});
  closing->getLibrarianEditor()->patchTypeChanged(0, 0, false);
  ASSERT_TRUE(closing->getLibrarianEditor()->selectBank(0, 0) && closing->getLibrarianEditor()->renameProgram(2, "Kept"));
  data.write("A.syx", bankBytes(4));
  EditorWindow shown(closing);
  std::thread closer;
  std::atomic<bool> returned{false};
  auto close = [&](int opcode) {
    returned = false;
    closer = std::thread([&, opcode] {
      shown.e->dispatcher(shown.e, opcode, 0, 0, nullptr, 0);
      returned = true;
    });
    waitForClose(closing, returned);
  };
  cocoa::alerts::setRunner([&](const cocoa::ShownAlert&) {
    close(effEditClose);
    return static_cast<int>(cocoa::kAlertAlternateResponse);
  });
  EXPECT_FALSE(closing->getLibrarianEditor()->saveOpenBank());
  closer.join();
  cocoa::alerts::setRunner(nullptr);
  EXPECT_TRUE(readBank(data.patches + "/A.syx") == expectedBank(4)) << "Replace answered after the close began";
  ASSERT_EQ(shown.e->dispatcher(shown.e, effEditOpen, 0, 0, shown.window->contentView(), 0), 1);
  cocoa::menus::setChooser([&](const cocoa::ShownMenu&) {
    cocoa::menus::setChooser(nullptr);
    close(effClose);
    return cocoa::menus::Choice{4};
  });
  shown.rightClick(5);
  closer.join();
  shown.closed = true;
}

// Random names and messages, of many-byte characters and broken ones, through the status display, the program
// name field and a project that keeps it, and as bank files on disk through the scan to the bank list.
TEST(PluginLibrarian, EveryNameAndMessageShownKeepsWholeCharacters) {
  DataFolder data;
  std::mt19937 rng(11);
  const int count = std::getenv("VEXMIR_LIBUI_TEXTS") ? std::atoi(std::getenv("VEXMIR_LIBUI_TEXTS")) : 40;
  std::map<std::string, RandomText> stems;
  for (int i = 0; i < count / 2; ++i) {
    const RandomText t = randomText(rng, false);
    if (stems.emplace(t.text, t).second) data.write(t.text + ".syx", bankBytes(1));
  }
  Vexmir plug(IEffectInstanceInfo{quietHost}), recalled(IEffectInstanceInfo{quietHost});
  for (int i = 0; i < count && !HasFailure(); ++i) {
    const RandomText t = randomText(rng, true);
    plug.displayStatus(t.text.c_str());
    std::string status = plug.getDisplayLine(Vexmir::kLineName);
    if (status.size() >= 3 && status.compare(status.size() - 3, 3, "...") == 0) status.resize(status.size() - 3);
    expectWholeHead(t, status, "status");
    plug.GetParam(kPatchName)->SetDisplayText(0, t.text.c_str());
    expectWholeHead(t, plug.GetParam(kPatchName)->GetDisplayText(0), "name field");
    ByteChunk project;
    ASSERT_TRUE(plug.SerializeState(&project));
    ASSERT_GT(recalled.UnserializeState(&project, 0), 0);
    expectWholeHead(t, recalled.GetParam(kPatchName)->GetDisplayText(0), "recalled name");
  }
  plug.getLibrarianEditor()->patchTypeChanged(0, 0, true);
  const auto& banks = plug.getLibrarian()->bankFiles;
  ASSERT_EQ(banks.size(), stems.size());
  for (size_t i = 0; i < banks.size(); ++i) {
    // A long name is shown as its head, "~", a number and the extension.
    const std::string shown = plug.GetParam(kPatchSelectionListUpper)->GetDisplayText(static_cast<int>(i));
    const RandomText& t = stems.at(banks[i]->fileName.substr(0, banks[i]->fileName.size() - 4));
    expectWholeHead(t, shown.substr(0, std::min(shown.find('~'), shown.size() - 4)), "bank list");
  }
}
