// Librarian records, padding, splitting long files and the name search.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "KIT/IEffect/IEffectStructs.h"
#include "src/PatchLibrarian.h"
#include "src/PatchManager.h"
#include "src/ProgramDump.h"
#include "tests/librarian/bank_vectors.h"
#include "tests/support/TempRoot.h"

using vectors::Bytes;

namespace {

Bytes initialDump() {
  return Bytes(initialProgramDump(), initialProgramDump() + kProgramDumpSize);
}

LibrarianPatch programNamed(const std::string& twelveNameBytes, int k = 0) {
  LibrarianPatch p;
  p.messages.push_back({vectors::programDump(vectors::programDataNamed(k, twelveNameBytes))});
  p.name = vectors::dumpName(p.messages[0].data);
  return p;
}

PatchFile bankOf(int programs) {
  PatchFile bank;
  const std::vector<Bytes> data = vectors::testPrograms(programs > 128 ? 128 : programs);
  for (int k = 0; k < programs; ++k) {
    LibrarianPatch p;
    p.messages.push_back({vectors::programDump(programs > 128 ? vectors::programData(k) : data[k])});
    p.name = vectors::dumpName(p.messages[0].data);
    bank.patches.push_back(p);
  }
  return bank;
}

}  // namespace

TEST(LibrarianRecords, CopiesShareNothingAndCloneLeavesItsSourceAlone) {
  LibrarianPatch a = programNamed("Original    ");
  LibrarianPatch b = a;
  b.messages[0].data[20] ^= 0x01;
  b.name = "Changed";
  EXPECT_EQ(a.messages[0].data, vectors::programDump(vectors::programDataNamed(0, "Original    ")));
  EXPECT_EQ(a.name, "Original    ");

  PatchFile bank = bankOf(100);
  bank.fileName = "Short.syx";
  bank.folderName = "Sub";
  bank.folderParts = {"Patches", "Sub"};
  bank.folderPath = "/x/Patches/Sub";
  const std::unique_ptr<PatchFile> copy = bank.clone();
  EXPECT_EQ(bank.patches.size(), 100u);
  EXPECT_EQ(copy->patches.size(), 100u);
  EXPECT_EQ(copy->fileName, "Short.syx");
  EXPECT_EQ(copy->folderParts, bank.folderParts);
  copy->patches[0].messages[0].data[10] ^= 1;
  EXPECT_NE(copy->patches[0].messages[0].data, bank.patches[0].messages[0].data);
}

TEST(LibrarianRecords, PatchStateRecordStartsEmptyWithFiveNames) {
  PatchManager manager;
  EXPECT_EQ(manager.patch.stateBytes.GetSize(), 0);
  EXPECT_EQ(manager.patch.stateBytes.GetGranularity(), 4096);
  EXPECT_EQ(manager.patch.names, std::vector<std::string>(5, "- INIT -"));
  EXPECT_EQ(manager.recalledBank, 0);
  EXPECT_EQ(manager.recalledProgram, 0);
}

TEST(LibrarianRecords, IndicesAreChecked) {
  PatchLibrarian librarian;
  PatchFile bank = bankOf(128);
  librarian.bankFiles.push_back(&bank);
  EXPECT_EQ(librarian.bankAt(0), &bank);
  for (int bad : {-1, 1, 1000}) EXPECT_EQ(librarian.bankAt(bad), nullptr);
  EXPECT_EQ(librarian.searchBankAt(0), nullptr);
  EXPECT_EQ(PatchLibrarian::patchAt(&bank, 127), &bank.patches[127]);
  for (int bad : {-1, 128}) EXPECT_EQ(PatchLibrarian::patchAt(&bank, bad), nullptr);
  EXPECT_EQ(PatchLibrarian::patchAt(nullptr, 0), nullptr);
}

TEST(NewBankFiles, ShortBanksArePaddedWithTheInitialProgram) {
  for (int n : {0, 1, 100, 128, 130}) {
    SCOPED_TRACE(n);
    PatchFile bank = bankOf(n);
    PatchLibrarian::fillUncompletedBankFiles(&bank);
    ASSERT_EQ(bank.patches.size(), static_cast<size_t>(n > 128 ? n : 128));
    for (int slot = n; slot < 128; ++slot) {
      ASSERT_EQ(bank.patches[slot].messages.size(), 1u);
      EXPECT_EQ(bank.patches[slot].messages[0].data, initialDump());
      EXPECT_EQ(bank.patches[slot].name, vectors::dumpName(initialDump()));
      EXPECT_EQ(bank.patches[slot].name.find('\0'), std::string::npos);
    }
  }
}

class SplitTest : public ::testing::Test {
 protected:
  vexmir::testsupport::TempRoot root{"split"};
  const std::string dir = root.path;
};

TEST_F(SplitTest, LongFilesBecomeNumberedSinglesBanks) {
  struct Case {
    int programs;
    std::vector<int> countsAfterEachCall;
    int files;
  };
  const Case cases[] = {{129, {1, 2, 1}, 2}, {256, {2, 2, 2}, 2}, {300, {2, 2, 3, 2}, 3}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.programs);
    std::system(("rm -f '" + dir + "'/*").c_str());
    PatchLibrarian librarian;
    PatchFile source = bankOf(c.programs);
    librarian.splitBankCount = c.programs / 128;
    std::vector<int> counts;
    for (int k = -1; k < librarian.splitBankCount; ++k) {
      EXPECT_TRUE(librarian.createNewPatchFile(&source, "Sub", "My.Big.syx", "syx", dir + "/My.Big.syx", 0, k, false,
                                               false, false, false));
      counts.push_back(librarian.splitBankCount);
    }
    EXPECT_EQ(counts, c.countsAfterEachCall);
    EXPECT_TRUE(librarian.rescanPending);
    for (int j = 1; j <= 4; ++j) {
      const std::string path = dir + "/My.Big Singles " + std::to_string(j) + ".vmr";
      if (j > c.files) {
        EXPECT_NE(access(path.c_str(), F_OK), 0) << path;
        continue;
      }
      const Bytes file = vectors::readFile(path);
      ASSERT_EQ(file.size(), 38016u);
      for (int slot = 0; slot < 128; ++slot) {
        const int program = 128 * (j - 1) + slot;
        const Bytes dump(file.begin() + slot * 297, file.begin() + (slot + 1) * 297);
        EXPECT_EQ(dump, program < c.programs ? source.patches[program].messages[0].data : initialDump())
            << path << " slot " << slot;
      }
    }
  }
}

TEST_F(SplitTest, AnExistingFileIsNeverReplaced) {
  vectors::writeFile(dir + "/Big Singles 1.vmr", Bytes{1, 2, 3});
  PatchLibrarian librarian;
  PatchFile source = bankOf(129);
  EXPECT_TRUE(librarian.createNewPatchFile(&source, "x", "Big.syx", "syx", dir + "/Big.syx", 0, -1, false, false, false,
                                           false));
  EXPECT_EQ(vectors::readFile(dir + "/Big Singles 1.vmr"), (Bytes{1, 2, 3}));
  EXPECT_EQ(vectors::readFile(dir + "/Big Singles 1 (2).vmr").size(), 38016u);
}

TEST_F(SplitTest, AFailedWriteIsReported) {
  PatchLibrarian librarian;
  std::vector<std::string> log;
  librarian.logSink = [&](const std::string& line) { log.push_back(line); };
  PatchFile source = bankOf(129);
  EXPECT_FALSE(librarian.createNewPatchFile(&source, "x", "Big.syx", "syx", dir + "/gone/Big.syx", 0, -1, false, false,
                                            false, false));
  EXPECT_FALSE(librarian.rescanPending);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find("could not write bank file"), std::string::npos);
}

// ---- name search ----

namespace {

PatchFile bankWithNames(const std::vector<std::string>& names) {
  PatchFile bank;
  int k = 0;
  for (const std::string& n : names) bank.patches.push_back(programNamed(n, k++));
  return bank;
}

std::vector<std::string> namesOf(const PatchFile& bank) {
  std::vector<std::string> names;
  for (const LibrarianPatch& p : bank.patches) names.push_back(p.name);
  return names;
}

}  // namespace

TEST(NameSearch, MatchesAreCaseSensitiveSubstringsInBankAndSlotOrder) {
  PatchFile a = bankWithNames({"Pad 1       ", "pad 2       ", "PAD         ", "Bass        "});
  PatchFile b = bankWithNames({"SynthPad    ", std::string("Pad\0\0\0\0\0\0\0\0\0", 12), "Pad 1       "});
  PatchLibrarian librarian;
  librarian.bankFiles = {&a, &b};
  librarian.createNewSearchPatchFiles("Pad");
  ASSERT_EQ(librarian.searchFiles.size(), 1u);
  const PatchFile& results = *librarian.searchFiles[0];
  EXPECT_EQ(namesOf(results), (std::vector<std::string>{"Pad 1       ", "SynthPad    ", "Pad", "Pad 1       "}));
  EXPECT_EQ(results.fileName, "Search Results 1");
  EXPECT_EQ(results.folderName, "Patches");
  EXPECT_EQ(results.bankNumber, 0);
  EXPECT_TRUE(results.folderParts.empty());
  EXPECT_TRUE(results.folderPath.empty());
  EXPECT_EQ(results.patches[0].messages, a.patches[0].messages);
  ASSERT_EQ(librarian.searchTree.size(), 1u);
  EXPECT_EQ(librarian.searchTree[0]->name, "Patches");
  EXPECT_EQ(librarian.searchTree[0]->files, librarian.searchFiles);

  librarian.createNewSearchPatchFiles("nothing like it");
  EXPECT_TRUE(librarian.searchFiles.empty());
  EXPECT_TRUE(librarian.searchTree.empty());
}

TEST(NameSearch, ResultsComeInBanksOfAtMost128) {
  struct Case {
    int matches;
    std::vector<size_t> bankSizes;
  };
  const Case cases[] = {{130, {128, 2}}, {128, {128}}, {1, {1}}, {300, {128, 128, 44}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.matches);
    std::vector<PatchFile> banks((c.matches + 127) / 128 + 1);
    for (int i = 0; i < c.matches; ++i)
      banks[i / 128].patches.push_back(programNamed("Strings " + std::to_string(i), i));
    banks.back() = bankWithNames({"Other", "Another"});
    PatchLibrarian librarian;
    for (PatchFile& b : banks) librarian.bankFiles.push_back(&b);
    librarian.createNewSearchPatchFiles("Strings");
    std::vector<size_t> sizes;
    for (size_t i = 0; i < librarian.searchFiles.size(); ++i) {
      sizes.push_back(librarian.searchFiles[i]->patches.size());
      EXPECT_EQ(librarian.searchFiles[i]->fileName, "Search Results " + std::to_string(i + 1));
      EXPECT_EQ(librarian.searchFiles[i]->bankNumber, static_cast<int>(i));
    }
    EXPECT_EQ(sizes, c.bankSizes);
    ASSERT_EQ(librarian.searchTree.size(), 1u);
    EXPECT_EQ(librarian.searchTree[0]->files, librarian.searchFiles);
  }
}

TEST(NameSearch, ANewSearchReplacesTheOldOneAndSharedResultsStayValid) {
  PatchFile bank = bankWithNames({"Pad 1       ", "Lead 1      ", "Lead 2      "});
  PatchLibrarian librarian;
  librarian.bankFiles = {&bank};
  librarian.createNewSearchPatchFiles("Pad");
  const std::shared_ptr<PatchFile> held = librarian.shareBank(librarian.searchFiles.at(0));
  ASSERT_NE(held, nullptr);
  librarian.createNewSearchPatchFiles("Lead");
  ASSERT_EQ(librarian.searchFiles.size(), 1u);
  EXPECT_NE(librarian.searchFiles[0], held.get());
  EXPECT_EQ(namesOf(*librarian.searchFiles[0]), (std::vector<std::string>{"Lead 1      ", "Lead 2      "}));
  EXPECT_EQ(namesOf(*held), std::vector<std::string>{"Pad 1       "});
  EXPECT_EQ(librarian.shareBank(held.get()), nullptr);
}
