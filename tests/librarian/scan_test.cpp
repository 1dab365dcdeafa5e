// The folder scan of a generated "Patches" tree: which files are listed, in which order, the tree the
// bank menus show, the split of long files and what happens when the file system says no.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "KIT/IEffect/IEffectStructs.h"
#include "platform/bundle/bundle.h"
#include "src/PatchLibrarian.h"
#include "src/ProgramDump.h"
#include "tests/librarian/bank_vectors.h"
#include "tests/support/TempRoot.h"

using vectors::Bytes;

namespace {

Bytes initialDump() {
  return Bytes(initialProgramDump(), initialProgramDump() + kProgramDumpSize);
}

std::vector<Bytes> programsFrom(int first, int count) {
  std::vector<Bytes> programs;
  for (int k = first; k < first + count; ++k) programs.push_back(vectors::programData(k));
  return programs;
}

std::vector<Bytes> dumpsFrom(int first, int count) {
  std::vector<Bytes> dumps;
  for (const Bytes& p : programsFrom(first, count)) dumps.push_back(vectors::programDump(p));
  return dumps;
}

std::vector<std::string> fileNames(const std::vector<PatchFile*>& banks) {
  std::vector<std::string> names;
  for (const PatchFile* b : banks) names.push_back(b->fileName);
  return names;
}

// The tree as text: one line per node, indented by level, banks in brackets.
std::string treeText(const std::vector<FolderFiles*>& tree) {
  std::string text;
  auto files = [](const std::vector<PatchFile*>& banks) {
    std::string s;
    for (const PatchFile* b : banks) s += (s.empty() ? "" : ", ") + b->fileName;
    return "[" + s + "]";
  };
  for (const FolderFiles* top : tree) {
    text += "'" + top->name + "' " + files(top->files) + "\n";
    for (const SubFolderFiles& sub : top->subFolders) {
      text += "  '" + sub.name + "' " + files(sub.files) + "\n";
      for (const SubFolderFiles2& sub2 : sub.subFolders2) text += "    '" + sub2.name + "' " + files(sub2.files) + "\n";
    }
  }
  return text;
}

std::vector<std::string> listing(const std::string& folder) {
  std::vector<std::string> names;
  const std::string command = "ls -A '" + folder + "' 2>/dev/null";
  FILE* p = popen(command.c_str(), "r");
  char line[512];
  while (p && fgets(line, sizeof line, p)) {
    std::string s(line);
    if (!s.empty() && s.back() == '\n') s.pop_back();
    names.push_back(s);
  }
  if (p) pclose(p);
  return names;
}

class ScanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    data = platform::resolveDataPath("/Library/Audio/Presets/Pellacor/Korg Vexmir Editor/");
    patches = data + "Patches";
    ASSERT_TRUE(platform::makeFolders(patches));
    librarian.logSink = [this](const std::string& line) { log.push_back(line); };
  }

  void folder(const std::string& relative) { ASSERT_TRUE(platform::makeFolders(patches + "/" + relative)); }
  void file(const std::string& relative, const Bytes& bytes) { vectors::writeFile(patches + "/" + relative, bytes); }
  int logged(const std::string& text) const {
    return static_cast<int>(
        std::count_if(log.begin(), log.end(), [&](const std::string& l) { return l.find(text) != std::string::npos; }));
  }

  vexmir::testsupport::TempRoot root{"scan"};
  std::string data, patches;
  PatchLibrarian librarian;
  std::vector<std::string> log;
};

}  // namespace

TEST_F(ScanTest, GeneratedTreeScansToTheExactListAndTree) {
  const std::vector<Bytes> first128 = programsFrom(0, 128);
  folder("Zeta");
  folder("alpha/Inner/Deep");
  folder(".hidden");
  file("Zeta/z.syx", vectors::bulkDump(first128));
  file("Zeta/Three.mid", vectors::midiBank(dumpsFrom(0, 300)));  // 300 programs as Standard MIDI events
  file("alpha/a1.vmr", vectors::singles(first128));
  file("alpha/Two.syx", vectors::singles(programsFrom(0, 256)));
  file("alpha/Inner/i.VLT", vectors::bulkDump(first128, 0x50));
  file("alpha/Inner/Deep/d.vmr", vectors::singles(first128));
  file(".hidden/h.syx", vectors::singles(first128));
  Bytes programs84 = vectors::singles(programsFrom(0, 84));
  programs84.resize(25001, 0);
  file("root.SYX", programs84);
  Bytes tooSmall = vectors::singles(programsFrom(0, 84));
  tooSmall.resize(25000, 0);
  file("small.syx", tooSmall);
  file("notes.txt", vectors::singles(first128));
  Bytes junk(30000);
  for (size_t i = 0; i < junk.size(); ++i) junk[i] = static_cast<uint8_t>(i * 13);
  file("junk.mid", junk);
  file("Big.syx", vectors::singles(programsFrom(0, 129)));
  file("saved.mid", vectors::midiBank(dumpsFrom(0, 128)));
  ASSERT_EQ(symlink((patches + "/alpha").c_str(), (patches + "/LinkToAlpha").c_str()), 0);
  ASSERT_EQ(symlink((patches + "/nowhere.syx").c_str(), (patches + "/dangling.syx").c_str()), 0);

  librarian.loadPatchesFromFilesystem(patches);

  EXPECT_EQ(fileNames(librarian.bankFiles),
            (std::vector<std::string>{"h.syx", "Three Singles 1.vmr", "Three Singles 2.vmr", "Three Singles 3.vmr",
                                      "z.syx", "Two Singles 1.vmr", "Two Singles 2.vmr", "a1.vmr", "i.VLT", "d.vmr",
                                      "Big Singles 1.vmr", "Big Singles 2.vmr", "root.SYX", "saved.mid"}));
  EXPECT_EQ(treeText(librarian.folderTree),
            "'' []\n"
            "  '.hidden' [h.syx]\n"
            "'' []\n"
            "  'Zeta' [Three Singles 1.vmr, Three Singles 2.vmr, Three Singles 3.vmr, z.syx]\n"
            "'' []\n"
            "  'alpha' [Two Singles 1.vmr, Two Singles 2.vmr, a1.vmr]\n"
            "    'Inner' [i.VLT]\n"
            "'Patches' [Big Singles 1.vmr, Big Singles 2.vmr, root.SYX, saved.mid]\n");
  EXPECT_EQ(librarian.folderList,
            (std::vector<std::string>{patches + "/.hidden", patches + "/Zeta", patches + "/alpha",
                                      patches + "/alpha/Inner", patches + "/alpha/Inner/Deep", patches}));

  // Every listed bank holds 128 programs; the records say where they came from.
  for (const PatchFile* bank : librarian.bankFiles) EXPECT_EQ(bank->patches.size(), 128u) << bank->fileName;
  const PatchFile* deep = librarian.bankFiles[9];
  EXPECT_EQ(deep->folderParts, (std::vector<std::string>{"Patches", "alpha", "Inner", "Deep"}));
  EXPECT_EQ(deep->folderName, "Deep");
  EXPECT_EQ(deep->folderPath, patches + "/alpha/Inner/Deep");
  EXPECT_EQ(librarian.bankFiles[12]->folderParts, std::vector<std::string>{"Patches"});

  // The programs of the split banks, the padding of the short ones.
  const std::vector<Bytes> first = dumpsFrom(0, 300);
  auto dumpAt = [&](int bank, int slot) { return librarian.bankFiles[bank]->patches[slot].messages[0].data; };
  EXPECT_EQ(dumpAt(10, 127), first[127]);
  EXPECT_EQ(dumpAt(11, 0), first[128]);
  EXPECT_EQ(dumpAt(11, 1), initialDump());
  EXPECT_EQ(dumpAt(3, 43), first[299]);
  EXPECT_EQ(dumpAt(3, 44), initialDump());
  EXPECT_EQ(dumpAt(6, 127), first[255]);
  EXPECT_EQ(dumpAt(12, 83), first[83]);
  EXPECT_EQ(dumpAt(12, 84), initialDump());
  EXPECT_EQ(dumpAt(13, 5), first[5]);

  // Sources moved; one rescan; the bad link was logged and skipped.
  std::vector<std::string> converted = listing(data + "Converted Banks");
  std::sort(converted.begin(), converted.end());
  EXPECT_EQ(converted, (std::vector<std::string>{"Big.syx", "Three.mid", "Two.syx"}));
  EXPECT_EQ(access((patches + "/Big.syx").c_str(), F_OK), -1);
  EXPECT_EQ(logged("FOLDER RESCAN INITIATED BY PATCH LIBRARIAN"), 1);
  EXPECT_EQ(logged("PATCH LIBRARIAN: moved file Big.syx"), 1);
  EXPECT_GE(logged("dangling.syx"), 1);

  // A scan of the converted tree changes nothing.
  const std::vector<std::string> before = fileNames(librarian.bankFiles);
  log.clear();
  librarian.initBankFilesOnDiscard(patches);
  EXPECT_EQ(fileNames(librarian.bankFiles), before);
  EXPECT_EQ(logged("FOLDER RESCAN"), 0);
}

TEST_F(ScanTest, RootWithATrailingSeparatorScansAlike) {
  folder("Sub");
  file("Sub/s.syx", vectors::singles(programsFrom(0, 128)));
  librarian.loadPatchesFromFilesystem(patches + "/");
  ASSERT_EQ(librarian.bankFiles.size(), 1u);
  EXPECT_EQ(librarian.bankFiles[0]->folderParts, (std::vector<std::string>{"Patches", "Sub"}));
  EXPECT_EQ(treeText(librarian.folderTree), "'' []\n  'Sub' [s.syx]\n");
}

TEST_F(ScanTest, MissingRootChangesNothing) {
  PatchFile kept;
  librarian.bankFiles.push_back(&kept);
  librarian.folderList = {"x"};
  librarian.loadPatchesFromFilesystem(patches + "/none");
  EXPECT_EQ(librarian.bankFiles.size(), 1u);
  EXPECT_EQ(librarian.folderList, std::vector<std::string>{"x"});
  EXPECT_EQ(logged("PLUGIN IS NOT ABLE TO FIND PATCHES FOLDER..."), 1);
}

TEST_F(ScanTest, SplitNeverOverwritesAndConvertedSourcesAreKept) {
  file("Big Singles 1.vmr", Bytes(30000, 0x11));  // the user's own file of that name
  vectors::writeFile(data + "Converted Banks", Bytes());
  std::system(("rm -f '" + data + "Converted Banks'").c_str());
  ASSERT_TRUE(platform::makeFolders(data + "Converted Banks"));
  vectors::writeFile(data + "Converted Banks/Big.syx", Bytes{9, 9, 9});
  file("Big.syx", vectors::singles(programsFrom(0, 129)));

  librarian.loadPatchesFromFilesystem(patches);

  EXPECT_EQ(vectors::readFile(patches + "/Big Singles 1.vmr"), Bytes(30000, 0x11));
  EXPECT_EQ(fileNames(librarian.bankFiles), (std::vector<std::string>{"Big Singles 1 (2).vmr", "Big Singles 2.vmr"}));
  EXPECT_EQ(vectors::readFile(data + "Converted Banks/Big.syx"), (Bytes{9, 9, 9}));
  EXPECT_EQ(vectors::readFile(data + "Converted Banks/Big (2).syx"), vectors::singles(programsFrom(0, 129)));
}

TEST_F(ScanTest, ASourceThatCannotBeMovedIsNotSplitAgain) {
  vectors::writeFile(data + "Converted Banks", Bytes{1});  // a file where the folder should be
  const Bytes source = vectors::singles(programsFrom(0, 129));
  file("Big.syx", source);

  librarian.loadPatchesFromFilesystem(patches);
  EXPECT_EQ(fileNames(librarian.bankFiles), (std::vector<std::string>{"Big Singles 1.vmr", "Big Singles 2.vmr"}));
  EXPECT_EQ(vectors::readFile(patches + "/Big.syx"), source);
  EXPECT_EQ(logged("could not move file"), 1);

  librarian.initBankFilesOnDiscard(patches);
  EXPECT_EQ(fileNames(librarian.bankFiles), (std::vector<std::string>{"Big Singles 1.vmr", "Big Singles 2.vmr"}));
  EXPECT_EQ(listing(patches), (std::vector<std::string>{"Big Singles 1.vmr", "Big Singles 2.vmr", "Big.syx"}));
}

TEST_F(ScanTest, DroppedBanksStayValidWhileShared) {
  file("a.syx", vectors::singles(programsFrom(0, 128)));
  librarian.loadPatchesFromFilesystem(patches);
  ASSERT_EQ(librarian.bankFiles.size(), 1u);
  std::shared_ptr<PatchFile> held = librarian.shareBank(librarian.bankFiles[0]);
  ASSERT_NE(held, nullptr);
  librarian.initBankFilesOnDiscard(patches);
  ASSERT_EQ(librarian.bankFiles.size(), 1u);
  EXPECT_NE(librarian.bankFiles[0], held.get());
  EXPECT_EQ(held->patches.size(), 128u);
  EXPECT_EQ(held->fileName, "a.syx");
}

TEST_F(ScanTest, ASplitThatCannotBeWrittenLeavesTheSourceAndTheOtherBanks) {
  // The " Singles " names of this file are longer than a file name may be.
  const std::string longName = std::string(245, 'L') + ".syx";
  const Bytes source = vectors::singles(programsFrom(0, 129));
  file(longName, source);
  file("a.syx", vectors::singles(programsFrom(0, 128)));

  librarian.loadPatchesFromFilesystem(patches);
  EXPECT_EQ(fileNames(librarian.bankFiles), std::vector<std::string>{"a.syx"});
  EXPECT_EQ(listing(patches), (std::vector<std::string>{longName, "a.syx"}));
  EXPECT_EQ(vectors::readFile(patches + "/" + longName), source);
  EXPECT_EQ(logged("could not split file"), 1);
  EXPECT_EQ(logged("FOLDER RESCAN"), 0);
}

TEST_F(ScanTest, ALinkToABankFileIsReadLikeTheFileAndAFolderLinkIsNotFollowed) {
  folder("Elsewhere");
  file("Elsewhere/target.syx", vectors::singles(programsFrom(0, 128)));
  folder("Sub");
  ASSERT_EQ(symlink((patches + "/Elsewhere/target.syx").c_str(), (patches + "/Sub/linked.syx").c_str()), 0);
  ASSERT_EQ(symlink((patches + "/Elsewhere").c_str(), (patches + "/Sub/FolderLink").c_str()), 0);
  ASSERT_EQ(symlink((patches + "/Sub/tiny.bin").c_str(), (patches + "/Sub/small.syx").c_str()), 0);
  file("Sub/tiny.bin", Bytes(100, 0x11));

  librarian.loadPatchesFromFilesystem(patches);

  EXPECT_EQ(fileNames(librarian.bankFiles), (std::vector<std::string>{"target.syx", "linked.syx"}));
  EXPECT_EQ(librarian.folderList, (std::vector<std::string>{patches + "/Elsewhere", patches + "/Sub", patches}));
  ASSERT_EQ(librarian.bankFiles.size(), 2u);
  EXPECT_EQ(librarian.bankFiles[1]->folderParts, (std::vector<std::string>{"Patches", "Sub"}));
  EXPECT_EQ(librarian.bankFiles[1]->patches[5].messages[0].data, dumpsFrom(5, 1)[0]);
}
