// Saving, saving under a new name and importing, checked on the files byte by byte, with failures
// injected into the writes and renames.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "src/PatchLibrarianFiles.h"
#include "src/ProgramDump.h"
#include "tests/libui/libui_support.h"

using namespace libui;

namespace {

using Banks = TwoBanks;
using Tab = TwoBanksTab;

// Fails the named step (once, or always).
const char* failStep = nullptr;
bool failAlways = false;
bool injected(const char* step) {
  if (!failStep || std::string(step) != failStep) return false;
  if (!failAlways) failStep = nullptr;
  return true;
}

struct Injection {
  Injection(const char* step, bool always = false) {
    failStep = step;
    failAlways = always;
    librarianfiles::injectedFailure = injected;
  }
  ~Injection() {
    librarianfiles::injectedFailure = nullptr;
    failStep = nullptr;
  }
};

}  // namespace

TEST(Saving, SaveWritesTheOpenBankOverItsFileAndAFailureKeepsTheEdits) {
  Banks banks;
  Tab tab;
  tab.copyPaste(4, 10);
  const std::string path = banks.data.patches + "/A.syx";
  {
    Injection failure("rename");
    tab.mainMenu({"Save (Overwrite current bank)"});
  }
  EXPECT_EQ(vectors::readFile(path), bankBytes(1)) << "the old file stays whole";
  EXPECT_TRUE(tab.editor.openBankUnsaved());
  EXPECT_NE(tab.g.calls.back().find("ShowMessageBox Could not save A.syx"), std::string::npos) << tab.g.calls.back();
  // A rescan does not drop the unsaved edits.
  tab.mainMenu({"Refresh Folders"});
  EXPECT_EQ(tab.upperName(10), programName(2, 4));
  tab.mainMenu({"Save (Overwrite current bank)"});
  EXPECT_FALSE(tab.editor.openBankUnsaved());
  EXPECT_EQ(vectors::readFile(path), raw(expectedBank(1, {{10, programDumpOf(2, 4)}})));
  EXPECT_EQ(tab.plug.GetParam(kBankEditUnsaved)->Int(), 0);
}

TEST(Saving, SaveAsWritesRawAndStandardMidiByteForByteAndOpensTheNewFile) {
  Banks banks;
  Tab tab;
  tab.copyPaste(0, 127);
  // Edits from a project that does not say which A.syx they were made on, A.syx below too: Save As says no change.
  std::string kept, stamp;
  std::vector<uint8_t> image;
  bool opened = false;
  tab.editor.projectBank(&kept, &image, &stamp);
  tab.editor.discardChanges();
  tab.chooseLower({"A.syx"});
  tab.editor.recallProjectBank(kept, image, "", nullptr, &opened);
  const std::vector<Bytes> dumps = expectedBank(1, {{127, programDumpOf(2, 0)}});
  const std::string rawPath = banks.data.patches + "/Mine.vmr";
  const std::string midiPath = banks.data.patches + "/Mine.mid";
  tab.g.fileAnswers = {rawPath};
  tab.mainMenu({"Save As...", "Vexmir Format (*.vmr)"});
  EXPECT_EQ(tab.editor.lastMessage().find("changed on disk"), std::string::npos) << tab.editor.lastMessage();
  EXPECT_EQ(vectors::readFile(rawPath), raw(dumps));
  EXPECT_EQ(tab.editor.upperBankFile, "Mine.vmr");
  EXPECT_EQ(tab.editor.upperBankFolder, "Patches");
  EXPECT_EQ(tab.editor.bankOf(0)->fileName, "Mine.vmr") << "the new file is open after the rescan";
  EXPECT_FALSE(tab.editor.openBankUnsaved());
  EXPECT_EQ(vectors::readFile(banks.data.patches + "/A.syx"), bankBytes(1)) << "the old file is untouched";
  EXPECT_NE(tab.g.calls.back().find("PromptForFile 1|"), std::string::npos);
  EXPECT_NE(tab.g.calls.back().find("|vmr"), std::string::npos);

  tab.g.fileAnswers = {midiPath};
  tab.mainMenu({"Save As...", "Standard MIDI (*.mid)"});
  EXPECT_EQ(vectors::readFile(midiPath), vectors::midiBank(dumps));
  EXPECT_EQ(vectors::readFile(midiPath).size(), 38580u);
  EXPECT_EQ(readBank(midiPath), dumps) << "the Standard MIDI bank reads back";
  EXPECT_EQ(tab.editor.bankOf(0)->fileName, "Mine.mid");
  tab.copyPaste(1, 126);  // saved as its own file: nothing changed behind the editor's back either
  tab.g.fileAnswers = {midiPath};
  tab.mainMenu({"Save As...", "Standard MIDI (*.mid)"});
  EXPECT_EQ(tab.editor.lastMessage().find("changed on disk"), std::string::npos) << tab.editor.lastMessage();
}

TEST(Saving, AFailedSaveAsSaysSoRecordsNothingAndLeavesAnExistingFileWhole) {
  Banks banks;
  Tab tab;
  tab.copyPaste(1, 2);
  const std::string target = banks.data.patches + "/B.syx";
  for (const char* step : {"write", "rename"}) {
    SCOPED_TRACE(step);
    Injection failure(step);
    tab.g.fileAnswers = {target};
    tab.mainMenu({"Save As...", "Vexmir Format (*.vmr)"});
    EXPECT_EQ(vectors::readFile(target), bankBytes(2));
    EXPECT_EQ(tab.editor.upperBankFile, "A.syx");
    EXPECT_TRUE(tab.editor.openBankUnsaved());
    EXPECT_NE(tab.g.calls.back().find("ShowMessageBox Could not save the bank"), std::string::npos);
  }
  // Cancelled: nothing written, nothing said.
  const size_t calls = tab.g.calls.size();
  tab.g.fileAnswers = {""};
  tab.mainMenu({"Save As...", "Standard MIDI (*.mid)"});
  EXPECT_EQ(tab.g.calls.size(), calls + 1);  // the prompt only
  // No temporary file was left in the folder.
  EXPECT_EQ(
      std::system(("test -z \"$(ls -A '" + banks.data.patches + "' | grep -v -e '^A.syx$' -e '^B.syx$')\"").c_str()),
      0);
  std::string text = "a/b\\c//d";
  removeCharsFromString(text, "/\\");
  EXPECT_EQ(text, "abcd");
}

TEST(Importing, ABankFileIsCopiedIntoPatchesWithoutReplacingOne) {
  Banks banks;
  Tab tab;
  const std::string outside = banks.data.root + "/from a friend";
  std::system(("mkdir -p '" + outside + "'").c_str());
  vectors::writeFile(outside + "/B.syx", bankBytes(5));
  tab.g.fileAnswers = {outside + "/B.syx"};
  tab.mainMenu({"Import...", "SysEx (*.syx / *.vmr / *.vlt)"});
  EXPECT_EQ(vectors::readFile(banks.data.patches + "/B.syx"), bankBytes(2)) << "the bank there is kept";
  EXPECT_EQ(vectors::readFile(banks.data.patches + "/B (2).syx"), bankBytes(5));
  EXPECT_EQ(tab.plug.GetParam(kPatchSelectionListUpper)->GetNDisplayTexts(), 3) << "the lists were rebuilt";
  tab.chooseLower({"B (2).syx"});
  EXPECT_EQ(tab.lowerName(77), programName(5, 77));
  tab.g.fileAnswers = {outside + "/missing.mid"};
  tab.mainMenu({"Import...", "Standard MIDI (*.mid)"});
  EXPECT_EQ(tab.editor.lastMessage(), "Could not read " + outside + "/missing.mid");
  // Save As starts beside the open bank in Patches, not where the import was.
  tab.g.fileAnswers = {""};
  tab.mainMenu({"Save As...", "Vexmir Format (*.vmr)"});
  EXPECT_EQ(tab.g.calls.back(), "PromptForFile 1|" + banks.data.patches + "|vmr");
}

TEST(Importing, SinglePatchesGoIntoTheirOwnSlotsAndOnlyWholeDumpsCount) {
  Banks banks;
  Tab tab;
  // A Standard MIDI file of three programs, a raw dump, a cut dump and a foreign event.
  Bytes file = vectors::midiBank({programDumpOf(7, 0), programDumpOf(7, 1), programDumpOf(7, 2)});
  Bytes cut = programDumpOf(7, 3);
  cut.resize(150);
  file.insert(file.end(), cut.begin(), cut.end());
  const Bytes rawDump = programDumpOf(7, 4);
  file.insert(file.end(), rawDump.begin(), rawDump.end());
  file.insert(file.end(), {0xF0, 0x82, 0x29, 0x01, 0xF7});
  vectors::writeFile(banks.data.root + "/singles.mid", file);
  tab.click(0, 20);
  // Another instance saved the bank since the list showed it: nothing is imported over its programs.
  banks.data.write("A.syx", bankBytes(5));
  tab.g.fileAnswers = {banks.data.root + "/singles.mid"};
  EXPECT_EQ(tab.editor.ImportSinglePatches(), 0);
  EXPECT_EQ(tab.editor.lastMessage(), "Not imported: slots 21 to 128 of Patches/A.syx changed on disk, and the list "
                                      "now shows it as it is. Import again to replace them.");
  banks.data.write("A.syx", bankBytes(1));
  tab.editor.readAgainIfChanged(0);
  tab.g.fileAnswers = {banks.data.root + "/singles.mid"};
  EXPECT_EQ(tab.editor.ImportSinglePatches(), 4);
  const std::vector<Bytes> expected = expectedBank(
      1, {{20, programDumpOf(7, 0)}, {21, programDumpOf(7, 1)}, {22, programDumpOf(7, 2)}, {23, programDumpOf(7, 4)}});
  std::vector<Bytes> got;
  for (const LibrarianPatch& p : tab.editor.bankOf(0)->patches) got.push_back(p.messages[0].data);
  EXPECT_EQ(got, expected);
  EXPECT_EQ(tab.upperName(23), programName(7, 4));
  EXPECT_TRUE(tab.editor.openBankUnsaved());
  // At the end of the bank the import stops instead of wrapping round.
  tab.click(0, 126);
  tab.g.fileAnswers = {banks.data.root + "/singles.mid"};
  EXPECT_EQ(tab.editor.ImportSinglePatches(), 2);
  EXPECT_EQ(tab.upperName(0), programName(1, 0));
}

TEST(Saving, AShortBankIsSavedWithTheInitialProgramInItsEmptySlots) {
  Banks banks;
  banks.data.write("Short.syx", bankBytes(3, 100));
  Tab tab;
  tab.chooseUpper({"Short.syx"});
  // The bank in memory may hold fewer records than slots (as received before padding).
  tab.editor.bankOf(0)->patches.resize(100);
  const Bytes initial(initialProgramDump(), initialProgramDump() + kProgramDumpSize);
  std::vector<Bytes> expected;
  for (int s = 0; s < 128; ++s) expected.push_back(s < 100 ? programDumpOf(3, s) : initial);
  for (bool midi : {false, true}) {
    SCOPED_TRACE(midi ? "Standard MIDI" : "raw");
    const std::string path = banks.data.root + (midi ? "/short.mid" : "/short.vmr");
    tab.editor.fileFolder = banks.data.root;
    tab.g.fileAnswers = {path};
    ASSERT_TRUE(tab.editor.saveOpenBankAs(midi));
    EXPECT_EQ(vectors::readFile(path), midi ? vectors::midiBank(expected) : raw(expected));
    tab.chooseUpper({"Short.syx"});
    tab.editor.bankOf(0)->patches.resize(100);
  }
}

TEST(Saving, UnsavedEditsSurviveARescanEvenWhenTheirFileIsGoneOrSpoilt) {
  Banks banks;
  Tab tab;
  tab.copyPaste(4, 10);
  const std::vector<Bytes> edited = expectedBank(1, {{10, programDumpOf(2, 4)}});
  const std::string path = banks.data.patches + "/A.syx";
  // Removed behind the editor's back: the edited bank is written back where it was.
  std::remove(path.c_str());
  tab.mainMenu({"Refresh Folders"});
  EXPECT_EQ(readBank(path), edited);
  EXPECT_EQ(tab.editor.bankOf(0)->fileName, "A.syx");
  EXPECT_TRUE(tab.editor.openBankUnsaved());
  // Replaced by something that is no bank: the edits go to a file of their own, the other is left alone.
  const Bytes junk(30000, 0x11);
  vectors::writeFile(path, junk);
  tab.mainMenu({"Refresh Folders"});
  EXPECT_EQ(vectors::readFile(path), junk);
  EXPECT_EQ(readBank(banks.data.patches + "/A (2).syx"), edited);
  EXPECT_EQ(tab.editor.bankOf(0)->fileName, "A (2).syx");
  EXPECT_EQ(tab.upperName(10), programName(2, 4));
}
