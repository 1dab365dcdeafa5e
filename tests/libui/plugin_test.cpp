// The librarian's editor side inside the real plug-in object: created with it over the librarian it
// scanned, and quiet where the editor has no surface or no MIDI output yet; the texts it shows of names and
// messages are never cut inside a character.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <random>
#include <set>

#include "KIT/IEffect/ControlLayer.h"
#include "KIT/IEffect/IEffectStructs.h"
#include "platform/text/text.h"
#include "src/ProgramDump.h"
#include "src/Vexmir.h"
#include "tests/libui/libui_support.h"

using namespace libui;

namespace {

intptr_t quietHost(AEffect*, int32_t, int32_t, intptr_t, void*, float) {
  return 0;
}

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
  {
    Vexmir plug(IEffectInstanceInfo{quietHost});
    LibrarianEditor* editor = plug.getLibrarianEditor();
    editor->patchTypeChanged(0, 0, false);
    ASSERT_TRUE(editor->selectBank(0, 1));
    ASSERT_TRUE(editor->renameProgram(4, "Renamed"));
    ASSERT_TRUE(plug.SerializeState(&project));
  }
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
    const std::vector<Bytes> saved = readBank(path);
    ASSERT_EQ(saved.size(), 128u);
    EXPECT_EQ(programDumpName(saved[4].data(), saved[4].size()).rfind("Renamed", 0), 0u);
    EXPECT_EQ(saved[5], programDumpOf(4, 5));
  }
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
