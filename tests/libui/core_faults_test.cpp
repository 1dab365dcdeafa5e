// Faults of the librarian core met when it was used as a musician would: a MIDI clock byte inside a
// bulk dump, a stray dump fragment beside a full bank, and a bank file that is a symbolic link.
// Every file is built here, byte by byte.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "KIT/IEffect/IEffectStructs.h"
#include "src/PatchLibrarian.h"
#include "src/ProgramDump.h"
#include "tests/librarian/bank_vectors.h"
#include "tests/libui/libui_support.h"

using vectors::Bytes;

namespace {

std::vector<Bytes> expectedDumps(int count = 128) {
  std::vector<Bytes> dumps;
  for (const Bytes& p : vectors::testPrograms(count)) dumps.push_back(vectors::programDump(p));
  return dumps;
}

std::vector<Bytes> read(const Bytes& bytes) {
  PatchLibrarian librarian;
  PatchFile bank;
  ByteChunk chunk;
  chunk.PutBytes(bytes.data(), static_cast<int>(bytes.size()));
  librarian.loadFromChunk(&chunk, chunk.Size(), &bank, 0);
  std::vector<Bytes> dumps;
  for (const LibrarianPatch& p : bank.patches) dumps.push_back(p.messages.empty() ? Bytes() : p.messages[0].data);
  return dumps;
}

Bytes insertAt(Bytes bytes, size_t at, std::initializer_list<uint8_t> inserted) {
  bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(at), inserted);
  return bytes;
}

}  // namespace

TEST(RealTimeBytes, AreDroppedFromInsideDumpsBeforeDecoding) {
  const std::vector<Bytes> programs = vectors::testPrograms();
  const Bytes bulk = vectors::bulkDump(programs, 0x4C);
  const Bytes all = vectors::bulkDump(programs, 0x50);
  const Bytes singles = vectors::singles(programs);
  // The packed byte right after program 11 (0-based 10) of the bulk dump.
  const size_t afterProgram11 = 5 + 1 + 254 * 11 + (254 * 11) / 7;
  struct Case {
    const char* what;
    Bytes bytes;
  };
  const Case cases[] = {
      {"clock after program 11 of a bulk dump", insertAt(bulk, afterProgram11, {0xF8})},
      {"clock, active sensing and start spread over a bulk dump",
       insertAt(insertAt(insertAt(bulk, 30000, {0xFE}), afterProgram11, {0xF8, 0xF8}), 7, {0xFA})},
      {"clock inside the all-data dump's last program", insertAt(all, all.size() - 210, {0xF8})},
      {"clock inside single dump 5 and between two dumps",
       insertAt(insertAt(singles, 297 * 4 + 150, {0xF8, 0xFC}), 297 * 9, {0xF8})},
      {"reset byte right before a dump's F7", insertAt(singles, 297 * 3 - 1, {0xFF})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(read(c.bytes), expectedDumps());
  }
}

TEST(RealTimeBytes, ADamagedByteBesideAClockByteStillSpoilsOnlyItsOwnProgram) {
  const std::vector<Bytes> programs = vectors::testPrograms();
  Bytes bulk = vectors::bulkDump(programs, 0x4C);
  const size_t inProgram21 = 5 + 1 + 254 * 20 + 100 + (254 * 20 + 100) / 7;
  bulk[inProgram21] = 0x90;
  bulk = insertAt(bulk, 5 + 1 + 254 * 3, {0xF8});
  std::vector<Bytes> expected = expectedDumps();
  expected[20] = Bytes(initialProgramDump(), initialProgramDump() + kProgramDumpSize);
  EXPECT_EQ(read(bulk), expected);
}

TEST(StrayFragments, NeverTakeASlotBesideFullBanks) {
  const std::vector<Bytes> programs = vectors::testPrograms();
  const Bytes singles = vectors::singles(programs);
  const Bytes bulk = vectors::bulkDump(programs, 0x4C);
  Bytes fragment = vectors::programDump(vectors::programData(200));
  fragment.resize(120);
  Bytes longDump = vectors::programDump(vectors::programData(201));
  longDump.insert(longDump.end() - 1, {0x01, 0x02});
  const Bytes initial(initialProgramDump(), initialProgramDump() + kProgramDumpSize);
  auto join = [](std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
  };
  // Dump 5 cut short among 128: its slot is kept so that later programs do not move.
  Bytes cutInside = singles;
  cutInside.erase(cutInside.begin() + 297 * 4 + 200, cutInside.begin() + 297 * 5 - 1);
  std::vector<Bytes> cutExpected = expectedDumps();
  cutExpected[4] = initial;

  struct Case {
    const char* what;
    Bytes bytes;
    std::vector<Bytes> expected;
  };
  const Case cases[] = {
      {"128 dumps and a cut fragment after them", join({singles, fragment}), expectedDumps()},
      {"a cut fragment before 128 dumps", join({fragment, singles}), expectedDumps()},
      {"an overlong dump after 128 dumps", join({singles, longDump}), expectedDumps()},
      {"a bulk dump and a stray fragment", join({bulk, fragment}), expectedDumps()},
      {"fragments on both sides", join({fragment, singles, fragment}), expectedDumps()},
      {"a cut dump inside 128 keeps its slot", cutInside, cutExpected},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::vector<Bytes> got = read(c.bytes);
    ASSERT_EQ(got.size(), 128u);
    EXPECT_EQ(got, c.expected);
  }
}

TEST(StrayFragments, DoNotSplitTheFileWhenScanned) {
  libui::DataFolder data;
  const std::string& patches = data.patches;
  const std::string dir = data.root;
  Bytes file = vectors::singles(vectors::testPrograms());
  Bytes fragment = vectors::programDump(vectors::programData(7));
  fragment.resize(60);
  file.insert(file.end(), fragment.begin(), fragment.end());
  vectors::writeFile(patches + "/Mine.syx", file);
  PatchLibrarian librarian;
  librarian.loadPatchesFromFilesystem(patches);
  ASSERT_EQ(librarian.bankFiles.size(), 1u);
  EXPECT_EQ(librarian.bankFiles[0]->fileName, "Mine.syx");
  EXPECT_EQ(vectors::readFile(patches + "/Mine.syx"), file);
  EXPECT_NE(access((dir + "/Library/Audio/Presets/Pellacor/Korg Vexmir Editor/Converted Banks").c_str(), F_OK), 0);
  ASSERT_EQ(librarian.bankFiles[0]->patches.size(), 128u);
  EXPECT_EQ(Bytes(librarian.bankFiles[0]->patches[127].messages[0].data), expectedDumps()[127]);
}

TEST(SymbolicLinks, SavingOverOneWritesTheFileItNames) {
  libui::DataFolder data;
  const std::string dir = data.root;
  const std::vector<Bytes> programs = vectors::testPrograms();
  PatchLibrarian librarian;
  PatchFile bank;
  ByteChunk chunk;
  const Bytes bulk = vectors::bulkDump(programs);
  chunk.PutBytes(bulk.data(), static_cast<int>(bulk.size()));
  librarian.loadFromChunk(&chunk, chunk.Size(), &bank, 0);
  librarian.bankFiles.push_back(&bank);
  ASSERT_EQ(mkdir((dir + "/real").c_str(), 0755), 0);
  const Bytes old(38016, 0x11);
  struct Case {
    const char* what;
    std::string link;
    std::string target;    // what the link says
    std::string realFile;  // the file that must be written
  };
  const Case cases[] = {
      {"absolute link", dir + "/a.vmr", dir + "/real/a.vmr", dir + "/real/a.vmr"},
      {"relative link", dir + "/b.vmr", "real/b.vmr", dir + "/real/b.vmr"},
      {"link to a link", dir + "/c.vmr", "c2.vmr", dir + "/real/c.vmr"},
      {"dangling link", dir + "/d.vmr", "real/d.vmr", dir + "/real/d.vmr"},
  };
  ASSERT_EQ(symlink("real/c.vmr", (dir + "/c2.vmr").c_str()), 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (std::string(c.what) != "dangling link") vectors::writeFile(c.realFile, old);
    ASSERT_EQ(symlink(c.target.c_str(), c.link.c_str()), 0);
    std::string saved;
    ASSERT_TRUE(librarian.saveEditedPatch(c.link, "x.vmr", &saved));
    struct stat st {};
    ASSERT_EQ(lstat(c.link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link stays a link";
    EXPECT_EQ(vectors::readFile(c.realFile), vectors::singles(programs));
  }
  // Only the written files and the links are there: no temporary file was left behind.
  EXPECT_EQ(std::system(("test \"$(ls -A '" + dir + "/real' | tr '\\n' ' ')\" = 'a.vmr b.vmr c.vmr d.vmr '").c_str()),
            0);
}
