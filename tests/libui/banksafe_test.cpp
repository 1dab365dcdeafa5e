// The librarian as a user tries it with odd files and odd moves: names with backslashes, pipes where
// files were, upper-case extensions, read-only banks, all-data dumps, files changed on disk while a bank
// holds unsaved edits, renames that lost their slot. Nothing may be lost, nothing may hang, and every
// failure is shown in the librarian.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>

#include "KIT/IEffect/IEffectStructs.h"
#include "src/BankChooserMenu.h"
#include "src/PatchLibrarianFiles.h"
#include "src/ProgramDump.h"
#include "src/Vexmir.h"
#include "tests/libui/libui_support.h"

using namespace libui;

namespace {

using Banks = TwoBanks;

struct Tab : TwoBanksTab {
  // What the librarian shows the user now.
  std::string shown() const { return view->notice(); }
  void commitRename(const std::string& text) {
    plug.GetParam(kPatchRename)->SetDisplayText(0, text.c_str());
    plug.OnParamChange(kPatchRename);
  }
};

// Compared without printing thousands of bytes on a failure.
bool same(const std::vector<Bytes>& a, const std::vector<Bytes>& b) {
  return a == b;
}

std::vector<Bytes> openBank(LibrarianTab& tab) {
  std::vector<Bytes> dumps;
  for (const LibrarianPatch& p : tab.editor.bankOf(0)->patches) dumps.push_back(p.messages[0].data);
  return dumps;
}

// Runs `work` on a thread of its own and waits for it with a generous bound. A call stuck in an
// open of a pipe is set free (the pipes are opened from this side) so that the test fails rather
// than hangs; true when the work finished within the bound by itself.
bool finishesWithoutHanging(const std::function<void()>& work, const std::vector<std::string>& pipes) {
  auto done = std::async(std::launch::async, work);
  if (done.wait_for(std::chrono::seconds(10)) == std::future_status::ready) return true;
  while (done.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready)
    for (const std::string& pipe : pipes) {
      const int fd = ::open(pipe.c_str(), O_RDWR | O_NONBLOCK);
      if (fd >= 0) ::close(fd);
    }
  return false;
}

}  // namespace

TEST(OddFiles, ABackslashInAFileNameIsPartOfTheName) {
  Banks banks;
  banks.data.write("we\\ird.syx", bankBytes(3));
  Tab tab;
  tab.chooseUpper({"we\\ird.syx"});
  ASSERT_EQ(tab.editor.bankOf(0)->fileName, "we\\ird.syx");
  tab.copyPaste(5, 6);
  tab.mainMenu({"Save (Overwrite current bank)"});
  EXPECT_FALSE(tab.editor.openBankUnsaved()) << tab.editor.lastMessage();
  EXPECT_TRUE(same(readBank(banks.path("we\\ird.syx")), expectedBank(3, {{6, programDumpOf(2, 5)}})));
  tab.copyPaste(7, 8);
  tab.mainMenu({"Refresh Folders"});
  EXPECT_EQ(tab.editor.bankOf(0)->fileName, "we\\ird.syx") << "the rescan keeps the open bank";
  EXPECT_EQ(tab.upperName(8), programName(2, 7));
  // Imported under its own name.
  const std::string outside = banks.data.root + "/we\\ird2.syx";
  vectors::writeFile(outside, bankBytes(4));
  tab.g.fileAnswers = {outside};
  tab.mainMenu({"Import...", "SysEx (*.syx / *.vmr / *.vlt)"});
  EXPECT_EQ(vectors::readFile(banks.path("we\\ird2.syx")), bankBytes(4));
  EXPECT_FALSE(std::filesystem::exists(banks.path("ird2.syx")));
}

TEST(OddFiles, APipeNamedLikeABankNeverHangsTheImportOrTheRescan) {
  Banks banks;
  Tab tab;
  const std::string pipe = banks.data.root + "/pipe.syx";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0644), 0);
  tab.g.fileAnswers = {pipe};
  EXPECT_TRUE(finishesWithoutHanging([&] { tab.mainMenu({"Import...", "SysEx (*.syx / *.vmr / *.vlt)"}); }, {pipe}));
  EXPECT_NE(tab.shown().find("pipe.syx"), std::string::npos) << tab.shown();
  EXPECT_FALSE(std::filesystem::exists(banks.path("pipe.syx")));
  // The open bank's file swapped for a pipe while it holds edits.
  tab.copyPaste(1, 2);
  std::remove(banks.path("A.syx").c_str());
  ASSERT_EQ(::mkfifo(banks.path("A.syx").c_str(), 0644), 0);
  EXPECT_TRUE(finishesWithoutHanging([&] { tab.mainMenu({"Refresh Folders"}); }, {banks.path("A.syx")}));
  EXPECT_TRUE(same(openBank(tab), expectedBank(1, {{2, programDumpOf(2, 1)}})));
  EXPECT_TRUE(tab.editor.openBankUnsaved());
}

TEST(OddFiles, PipesForTheDataFoldersOwnFilesNeverHangThePlugin) {
  DataFolder data;
  const std::string folder = Vexmir::getDataFolder();
  const std::vector<std::string> pipes = {folder + "Vexmir Editor UI.txt", folder + "Vexmir Editor LOG.txt"};
  for (const std::string& pipe : pipes) ASSERT_EQ(::mkfifo(pipe.c_str(), 0644), 0) << pipe;
  intptr_t (*quiet)(AEffect*, int32_t, int32_t, intptr_t, void*, float) = [](AEffect*, int32_t, int32_t, intptr_t,
                                                                             void*, float) -> intptr_t { return 0; };
  EXPECT_TRUE(finishesWithoutHanging(
      [&] {
        Vexmir plug(IEffectInstanceInfo{quiet});
        plug.log("a line for the log");
        plug.setUISettingsLine(1, "large");
      },
      pipes));
}

TEST(OddFiles, AnUpperCaseMidBankIsSavedAsStandardMidi) {
  Banks banks;
  ByteChunk image;
  PatchFile bank;
  for (int s = 0; s < 128; ++s) {
    LibrarianPatch p;
    const Bytes dump = programDumpOf(3, s);
    p.messages.push_back(PatchSysexMessage(dump.data(), static_cast<int>(dump.size())));
    bank.patches.push_back(p);
  }
  PatchLibrarian::buildBankImage(bank, true, &image);
  banks.data.write("Loud.MID", Bytes(image.GetBytes(), image.GetBytes() + image.Size()));
  Tab tab;
  tab.chooseUpper({"Loud.MID"});
  tab.copyPaste(0, 0);
  tab.mainMenu({"Save (Overwrite current bank)"});
  const Bytes saved = vectors::readFile(banks.path("Loud.MID"));
  ASSERT_GE(saved.size(), 4u);
  EXPECT_EQ(std::string(saved.begin(), saved.begin() + 4), "MThd");
  EXPECT_TRUE(same(readBank(banks.path("Loud.MID")), expectedBank(3, {{0, programDumpOf(2, 0)}})));
}

TEST(OddFiles, AnImportTheScanWouldNotListIsRefusedWithTheReason) {
  Banks banks;
  Tab tab;
  // Larger than any bank: refused before it is read, nothing copied.
  const std::string huge = banks.data.root + "/huge.syx";
  {
    std::FILE* f = std::fopen(huge.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(::ftruncate(fileno(f), kMaxBankFileSize + 1), 0);
    std::fclose(f);
  }
  tab.g.fileAnswers = {huge};
  tab.mainMenu({"Import...", "SysEx (*.syx / *.vmr / *.vlt)"});
  EXPECT_FALSE(std::filesystem::exists(banks.path("huge.syx")));
  EXPECT_NE(tab.shown().find("too large"), std::string::npos) << tab.shown();
  // Junk without a program.
  const std::string junk = banks.data.root + "/junk.syx";
  vectors::writeFile(junk, Bytes(30000, 0x11));
  tab.g.fileAnswers = {junk};
  tab.mainMenu({"Import...", "SysEx (*.syx / *.vmr / *.vlt)"});
  EXPECT_FALSE(std::filesystem::exists(banks.path("junk.syx")));
  EXPECT_NE(tab.shown().find("junk.syx"), std::string::npos) << tab.shown();
  EXPECT_FALSE(tab.g.calls.empty());
  EXPECT_NE(tab.g.calls.back().find("ShowMessageBox"), std::string::npos) << tab.g.calls.back();
}

TEST(Renaming, ARenameClosedByAnArrowKeyOrADoubleClickRenamesNoOtherSlot) {
  Banks banks;
  Tab tab;
  for (int closing = 0; closing < 3; ++closing) {
    SCOPED_TRACE(closing);
    tab.g.menuPath = {"Rename"};
    tab.click(0, 12, true);
    if (closing == 0) {
      tab.g.OnKeyDown(tab.slotX(0, 0), tab.slotY(0, 0), 2);
    } else if (closing == 1) {
      IMouseMod mod(true);
      tab.g.OnMouseDblClick(tab.slotX(0, 40), tab.slotY(0, 40), &mod);
    } else {  // another bank opened
      tab.plug.GetParam(kLibUpperNextBank)->Set(1);
      tab.plug.OnParamChange(kLibUpperNextBank);
    }
    tab.commitRename("Other");
    const int bank = closing == 2 ? 2 : 1;
    EXPECT_EQ(tab.upperName(13), programName(bank, 13));
    EXPECT_EQ(tab.upperName(40), programName(bank, 40));
    EXPECT_EQ(tab.upperName(12), programName(bank, 12));
    EXPECT_FALSE(tab.editor.openBankUnsaved());
  }
  tab.chooseUpper({"A.syx"});
  // An open rename renames the slot it was opened on.
  tab.g.menuPath = {"Rename"};
  tab.click(0, 12, true);
  tab.commitRename("Twelve");
  EXPECT_EQ(tab.upperName(12), "Twelve      ");
}

TEST(Renaming, ANameKeepsWhatTheSynthesizerCanShowAndSaysWhatChanged) {
  Banks banks;
  Tab tab;
  tab.click(0, 3);
  EXPECT_TRUE(tab.editor.renameProgram(3, "Caf\xC3\xA9 No\x01ir"));
  EXPECT_EQ(tab.upperName(3), "Cafe Noir   ");
  const Bytes& dump = tab.editor.bankOf(0)->patches[3].messages[0].data;
  for (int d = 0; d < 12; ++d) {
    const uint8_t c = dump[programDataPosition(d)];
    EXPECT_TRUE(c >= 0x20 && c < 0x7F) << d;
  }
  EXPECT_NE(tab.shown().find("Cafe Noir"), std::string::npos) << tab.shown();
  // Nothing the synthesizer can show: the name stays.
  EXPECT_FALSE(tab.editor.renameProgram(4, "\x01\x02"));
  EXPECT_FALSE(tab.editor.renameProgram(4, ""));
  EXPECT_EQ(tab.upperName(4), programName(1, 4));
  EXPECT_FALSE(tab.shown().empty());
}

TEST(Copying, TheCopiedProgramSurvivesEveryRescanUntilTheNextCopy) {
  Banks banks;
  Tab tab;
  tab.g.menuPath = {"Copy"};
  tab.click(1, 9, true);
  tab.mainMenu({"Refresh Folders"});
  tab.g.fileAnswers = {banks.path("Other.vmr")};
  tab.mainMenu({"Save As...", "Vexmir Format (*.vmr)"});
  vectors::writeFile(banks.data.root + "/C.syx", bankBytes(5));
  tab.g.fileAnswers = {banks.data.root + "/C.syx"};
  tab.mainMenu({"Import...", "SysEx (*.syx / *.vmr / *.vlt)"});
  tab.g.menuPath = {"Paste"};
  tab.click(0, 1, true);
  EXPECT_EQ(tab.upperName(1), programName(2, 9));
}

TEST(ChangedBehindItsBack, UnsavedEditsStayWhenTheOpenFileNoLongerListsAsABank) {
  const char* const changes[] = {"cut below a bank's size", "grown past the largest bank", "more than 128 programs"};
  for (int change = 0; change < 3; ++change) {
    SCOPED_TRACE(changes[change]);
    Banks banks;
    Tab tab;
    tab.copyPaste(4, 10);
    const std::vector<Bytes> edited = expectedBank(1, {{10, programDumpOf(2, 4)}});
    const std::string path = banks.path("A.syx");
    if (change == 0) vectors::writeFile(path, bankBytes(1, 40));
    if (change == 1) {
      ASSERT_EQ(::truncate(path.c_str(), kMaxBankFileSize + 1), 0);
    }
    if (change == 2) vectors::writeFile(path, bankBytes(1, 200));
    if (change == 0) {
      // An import rescans as well.
      vectors::writeFile(banks.data.root + "/C.syx", bankBytes(5));
      tab.g.fileAnswers = {banks.data.root + "/C.syx"};
      tab.mainMenu({"Import...", "SysEx (*.syx / *.vmr / *.vlt)"});
    } else {
      tab.mainMenu({"Refresh Folders"});
    }
    EXPECT_TRUE(same(openBank(tab), edited)) << tab.editor.bankOf(0)->fileName;
    EXPECT_TRUE(tab.editor.openBankUnsaved());
    EXPECT_NE(tab.shown().find("A.syx"), std::string::npos) << tab.shown();
    // Saved, the edits are on disk and read back.
    tab.mainMenu({"Save (Overwrite current bank)"});
    EXPECT_FALSE(tab.editor.openBankUnsaved());
    EXPECT_TRUE(same(readBank(tab.editor.upperBankPath), edited)) << tab.editor.upperBankPath;
  }
}

TEST(ChangedBehindItsBack, AProgramArrivingWhileTheListsAreRebuiltGoesIntoTheOpenBank) {
  Banks banks;
  // A name long enough to be shortened: the rebuild logs it, and the test looks in at that moment.
  banks.data.write(std::string(60, 'L') + ".syx", bankBytes(3));
  Tab tab;
  tab.chooseUpper({"B.syx"});
  std::vector<std::string> openWhileRebuilt;
  tab.host.onLog = [&] {
    const PatchFile* open = tab.librarian.bankAt(tab.librarian.upperBankIndex);
    openWhileRebuilt.push_back(open ? open->fileName : "none");
  };
  tab.mainMenu({"Refresh Folders"});
  tab.editor.patchTypeChanged(0, 0, false);
  tab.host.onLog = nullptr;
  ASSERT_FALSE(openWhileRebuilt.empty());
  for (const std::string& name : openWhileRebuilt) EXPECT_EQ(name, "B.syx");
  // A list type of neither bank files nor search results keeps the open bank and its name together.
  tab.editor.patchTypeChanged(0, 2, false);
  EXPECT_EQ(tab.editor.bankOf(0)->fileName, "B.syx");
  EXPECT_EQ(tab.editor.upperBankPath, banks.path("B.syx"));
}

TEST(Saving, SavingOverAnAllDataDumpKeepsItsGlobalSettings) {
  Banks banks;
  std::vector<Bytes> programs;
  for (int s = 0; s < 128; ++s) programs.push_back(vectors::programDataNamed(s, programName(6, s)));
  banks.data.write("All.syx", vectors::bulkDump(programs, 0x50));
  Tab tab;
  tab.chooseUpper({"All.syx"});
  tab.copyPaste(3, 5);
  tab.mainMenu({"Save (Overwrite current bank)"});
  EXPECT_FALSE(tab.editor.openBankUnsaved());
  programs[5] = vectors::programDataNamed(3, programName(2, 3));
  const Bytes saved = vectors::readFile(banks.path("All.syx"));
  EXPECT_EQ(saved.size(), 37392u);
  EXPECT_TRUE(saved == vectors::bulkDump(programs, 0x50)) << "the programs replaced, the global settings kept";
  EXPECT_NE(tab.shown().find("global settings"), std::string::npos) << tab.shown();
}

TEST(Saving, AReadOnlyBankIsRefusedAndAWritableOneKeepsItsPermissions) {
  Banks banks;
  const std::string path = banks.path("A.syx");
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  Tab tab;
  tab.copyPaste(1, 1);
  tab.mainMenu({"Save (Overwrite current bank)"});
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  const Bytes before = vectors::readFile(path);
  tab.copyPaste(2, 2);
  tab.mainMenu({"Save (Overwrite current bank)"});
  EXPECT_TRUE(vectors::readFile(path) == before);
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0444u);
  EXPECT_TRUE(tab.editor.openBankUnsaved());
  EXPECT_NE(tab.shown().find("read-only"), std::string::npos) << tab.shown();
  ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
  tab.mainMenu({"Save (Overwrite current bank)"});
  EXPECT_EQ(tab.shown(), "") << "the message of the failed save goes with the next one";
}

TEST(Saving, SaveAsOutsidePatchesKeepsTheNewFileOpen) {
  Banks banks;
  Tab tab;
  tab.copyPaste(0, 0);
  std::filesystem::create_directories(banks.data.root + "/Elsewhere");
  const std::string path = banks.data.root + "/Elsewhere/Out.vmr";
  tab.g.fileAnswers = {path};
  tab.mainMenu({"Save As...", "Vexmir Format (*.vmr)"});
  EXPECT_EQ(tab.editor.bankOf(0)->fileName, "Out.vmr");
  EXPECT_EQ(tab.editor.upperBankPath, path);
  EXPECT_NE(tab.shown().find("outside"), std::string::npos) << tab.shown();
  // The upper list names the bank the next Save writes, and its chooser checks it where it lists it.
  const auto savesWhatItShows = [&](const std::string& name, const std::string& file, const std::string& menu) {
    tab.tick();
    EXPECT_EQ(tab.upperList->GetTextForPlug().substr(0, name.size()), name);
    tab.chooseUpper({});
    EXPECT_EQ(tab.g.menus.back(), menu);
    tab.copyPaste(3, 3);
    tab.mainMenu({"Save (Overwrite current bank)"});
    EXPECT_TRUE(same(readBank(file), openBank(tab))) << name;
  };
  savesWhatItShows("Out.vmr", path, "A.syx,B.syx");
  tab.mainMenu({"Refresh Folders"});
  EXPECT_EQ(tab.editor.bankOf(0)->fileName, "Out.vmr");
  EXPECT_EQ(tab.upperName(0), programName(2, 0));
  savesWhatItShows("Out.vmr", path, "A.syx,B.syx");
  // Inside "Patches", a new file taking the old one's place in the list (the shown index stays 0).
  tab.chooseUpper({"A.syx"});
  tab.g.fileAnswers = {banks.path("0.vmr")};
  tab.mainMenu({"Save As...", "Vexmir Format (*.vmr)"});
  savesWhatItShows("0.vmr", banks.path("0.vmr"), "*0.vmr,A.syx,B.syx");
  EXPECT_TRUE(same(readBank(banks.path("A.syx")), expectedBank(1)));
}

TEST(Telling, EveryRefusalAndEveryFileNotOfferedIsShownInTheLibrarian) {
  Banks banks;
  banks.data.write("tiny.syx", Bytes(100, 0x11));
  banks.data.write("A1/B2/C3/deep.syx", bankBytes(7));
  Tab tab;
  tab.mainMenu({"Refresh Folders"});
  EXPECT_NE(tab.shown().find("tiny.syx"), std::string::npos) << tab.shown();
  EXPECT_NE(tab.shown().find("too small"), std::string::npos) << tab.shown();
  EXPECT_NE(tab.shown().find("(1 of 2: click here for the next)"), std::string::npos) << tab.shown();
  std::rename(banks.path("tiny.syx").c_str(), (banks.data.root + "/tiny.syx").c_str());
  tab.mainMenu({"Refresh Folders"});
  EXPECT_NE(tab.shown().find("deep.syx"), std::string::npos) << tab.shown();
  EXPECT_NE(tab.shown().find("menus"), std::string::npos) << tab.shown();
  tab.copyPaste(1, 1);
  EXPECT_FALSE(tab.editor.selectBank(0, bankIndexByPath(tab.librarian.bankFiles, banks.path("B.syx"))));
  EXPECT_EQ(tab.shown(), "Save or discard the changes of the open bank first!");
  EXPECT_FALSE(tab.host.messages.empty());
  EXPECT_EQ(tab.host.messages.back(), tab.shown()) << "the status display says it too";
}
