// Bank files in every form the librarian reads, and the two forms it writes, byte for byte.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "KIT/IEffect/IEffectStructs.h"
#include "src/PatchLibrarian.h"
#include "src/PatchLibrarianFiles.h"
#include "src/ProgramDump.h"
#include "tests/librarian/bank_vectors.h"
#include "tests/support/TempRoot.h"

using vectors::Bytes;

namespace {

Bytes initialDump() {
  return Bytes(initialProgramDump(), initialProgramDump() + kProgramDumpSize);
}

void load(PatchLibrarian& librarian, const Bytes& bytes, PatchFile* bank) {
  ByteChunk chunk;
  if (!bytes.empty()) chunk.PutBytes(bytes.data(), static_cast<int>(bytes.size()));
  librarian.loadFromChunk(&chunk, static_cast<int>(bytes.size()), bank, 0);
}

std::vector<Bytes> dumpsOf(const PatchFile& bank) {
  std::vector<Bytes> dumps;
  for (const LibrarianPatch& p : bank.patches) {
    EXPECT_EQ(p.messages.size(), 1u);
    dumps.push_back(p.messages.empty() ? Bytes() : p.messages.front().data);
  }
  return dumps;
}

std::vector<Bytes> expectedDumps(int count = 128) {
  std::vector<Bytes> dumps;
  for (const Bytes& p : vectors::testPrograms(count)) dumps.push_back(vectors::programDump(p));
  return dumps;
}

Bytes bankImage(const PatchFile& bank, bool midi) {
  ByteChunk chunk;
  PatchLibrarian::buildBankImage(bank, midi, &chunk);
  return Bytes(chunk.GetBytes(), chunk.GetBytes() + chunk.Size());
}

class TempFolder : public ::testing::Test {
 protected:
  vexmir::testsupport::TempRoot root{"librarian"};
  const std::string dir = root.path;
};

}  // namespace

TEST(BankReading, EveryBankFormReadsIntoTheSame128Programs) {
  const std::vector<Bytes> programs = vectors::testPrograms();
  const std::vector<Bytes> expected = expectedDumps();
  struct Form {
    const char* what;
    Bytes bytes;
    size_t size;
  };
  const Form forms[] = {
      {"program bulk dump", vectors::bulkDump(programs, 0x4C), 37163},
      {"all-data dump", vectors::bulkDump(programs, 0x50), 37392},
      {"128 program dumps back to back", vectors::singles(programs), 38016},
      {"Standard MIDI bank", vectors::midiBank(expected), 38580},
      {"program bulk dump on channel 16", vectors::bulkDump(programs, 0x4C, 0x3F), 37163},
      {"program dumps on channel 6", vectors::singles(programs, 0x35), 38016},
  };
  // One librarian reads them all in turn: nothing of one read may leak into the next.
  PatchLibrarian librarian;
  for (const Form& form : forms) {
    SCOPED_TRACE(form.what);
    ASSERT_EQ(form.bytes.size(), form.size);
    PatchFile bank;
    load(librarian, form.bytes, &bank);
    EXPECT_FALSE(librarian.chunkUnrecognized);
    ASSERT_EQ(bank.patches.size(), 128u);
    EXPECT_EQ(dumpsOf(bank), expected);
    EXPECT_EQ(bank.patches[0].name, "Prog 001    ");
    EXPECT_EQ(bank.patches[127].name, "Prog 128    ");
  }
}

TEST(BankReading, BulkDumpIsFoundWhereverItStartsInTheFile) {
  Bytes file = {0x00, 0x11, 0xF0, 0x7E, 0xF7, 0x42, 0x30, 0x58};  // junk, a foreign message, a stray header
  const Bytes bulk = vectors::bulkDump(vectors::testPrograms(), 0x4C);
  file.insert(file.end(), bulk.begin(), bulk.end());
  PatchLibrarian librarian;
  PatchFile bank;
  load(librarian, file, &bank);
  EXPECT_EQ(dumpsOf(bank), expectedDumps());
}

TEST(BankReading, ProgramNamesFromTheDump) {
  struct Case {
    const char* what;
    std::string nameBytes;
    std::string name;
    std::string dumpNameAfter;
  };
  const Case cases[] = {
      {"twelve blanks", "            ", "unnamed prog", "unnamed prog"},
      {"NULs dropped", std::string("Pad\0\0\0\0\0\0\0\0\0", 12), "Pad", "Pad"},
      {"all zero", std::string(12, '\0'), "", ""},
      {"blanks kept", "Bass  1     ", "Bass  1     ", "Bass  1     "},
      {"zero in the middle leaves no gap", std::string("Lead\0Synth\0\0", 12), "LeadSynth", "LeadSynth"},
      // Characters 8 and 12 have bit 7 set: position 13 of the dump packs those bits and is no character.
      {"packing byte between the name characters", "Brass  \xC9   \xA0", "Brass  I    ", "Brass  I    "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<Bytes> programs = vectors::testPrograms(3);
    programs[1] = vectors::programDataNamed(1, c.nameBytes);
    PatchLibrarian librarian;
    PatchFile bank;
    load(librarian, vectors::bulkDump(programs), &bank);
    ASSERT_EQ(bank.patches.size(), 128u);
    EXPECT_EQ(bank.patches[1].name, c.name);
    EXPECT_EQ(vectors::dumpName(bank.patches[1].messages[0].data), c.dumpNameAfter);
    EXPECT_EQ(bank.patches[1].messages[0].data.size(), 297u);
  }
}

TEST(BankReading, OnlyCompleteDumpsAreKeptAndAMissingOneKeepsItsSlot) {
  const std::vector<Bytes> programs = vectors::testPrograms();
  const std::vector<Bytes> expected = expectedDumps();
  const Bytes initial = initialDump();

  // Dump 5 of 128 is cut short: its slot is padded, dump 6 stays in slot 5.
  Bytes cut;
  for (int k = 0; k < 128; ++k) {
    Bytes d = vectors::programDump(programs[k]);
    if (k == 4) d.resize(200);
    cut.insert(cut.end(), d.begin(), d.end());
  }
  // A damaged byte inside program 11 of a bulk dump: only that program's slot is padded.
  Bytes damaged = vectors::bulkDump(programs);
  damaged[5 + 1 + 254 * 10 + 100 + (254 * 10 + 100) / 7] = 0x90;
  // A bulk dump cut off inside program 60: the programs before it are kept, the rest padded.
  Bytes truncated = vectors::bulkDump(programs);
  truncated.resize(6 + 290 * 59 + 100);

  struct Case {
    const char* what;
    Bytes bytes;
    std::vector<int> paddedSlots;
  };
  std::vector<int> tail;
  for (int k = 59; k < 128; ++k) tail.push_back(k);
  const Case cases[] = {
      {"short single dump", cut, {4}}, {"damaged bulk byte", damaged, {10}}, {"truncated bulk dump", truncated, tail}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PatchLibrarian librarian;
    PatchFile bank;
    load(librarian, c.bytes, &bank);
    ASSERT_EQ(bank.patches.size(), 128u);
    const std::vector<Bytes> got = dumpsOf(bank);
    for (int k = 0; k < 128; ++k) {
      const bool padded = std::find(c.paddedSlots.begin(), c.paddedSlots.end(), k) != c.paddedSlots.end();
      EXPECT_EQ(got[k], padded ? initial : expected[k]) << "slot " << k;
    }
  }
}

TEST(BankReading, DataWithoutProgramsGivesNoBank) {
  Bytes junk(30000);
  for (size_t i = 0; i < junk.size(); ++i) junk[i] = static_cast<uint8_t>(i * 7);
  Bytes headerOnly = {0xF0, 0x42, 0x30, 0x58, 0x4C, 0x00, 0x01, 0x02, 0x03, 0xF7, 0, 0, 0, 0, 0, 0};
  Bytes midiWithoutSysEx = vectors::midiBank({});
  Bytes shortDump = vectors::programDump(vectors::programData(0));
  shortDump.resize(14);
  struct Case {
    const char* what;
    Bytes bytes;
  };
  const Case cases[] = {{"junk", junk},
                        {"bulk header without a program", headerOnly},
                        {"Standard MIDI file without programs", midiWithoutSysEx},
                        {"14 bytes", shortDump},
                        {"nothing", {}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PatchLibrarian librarian;
    PatchFile bank;
    load(librarian, c.bytes, &bank);
    EXPECT_TRUE(bank.patches.empty());
    EXPECT_TRUE(librarian.chunkUnrecognized);
  }
}

TEST(BankReading, StandardMidiFilesAreReadByTheirEventsWhateverTheirSize) {
  const std::vector<Bytes> dumps = expectedDumps(3);
  // Format 1: a tempo track, then a track with running-status notes, a dump split into an F0 packet
  // and two F7 continuation packets, a text event and two whole dumps.
  Bytes track = {0x00, 0x90, 0x3C, 0x64, 0x10, 0x3E, 0x64, 0x00, 0x80, 0x3C, 0x00};
  const Bytes& d0 = dumps[0];
  track.insert(track.end(), {0x00, 0xF0, 0x64});
  track.insert(track.end(), d0.begin() + 1, d0.begin() + 101);
  track.insert(track.end(), {0x05, 0xF7, 0x64});
  track.insert(track.end(), d0.begin() + 101, d0.begin() + 201);
  track.insert(track.end(), {0x05, 0xF7, 0x60});
  track.insert(track.end(), d0.begin() + 201, d0.end());
  track.insert(track.end(), {0x00, 0xFF, 0x01, 0x03, 'a', 'b', 'c'});
  for (int k = 1; k < 3; ++k) {
    track.insert(track.end(), {0x81, 0x00, 0xF0, 0x82, 0x28});
    track.insert(track.end(), dumps[k].begin() + 1, dumps[k].end());
  }
  track.insert(track.end(), {0x00, 0xFF, 0x2F, 0x00});
  Bytes file = {'M', 'T', 'h', 'd', 0, 0, 0, 6,    0,    1,    0,    2,   0x00, 0x60, 'M',
                'T', 'r', 'k', 0,   0, 0, 4, 0x00, 0xFF, 0x2F, 0x00, 'M', 'T',  'r',  'k'};
  const uint32_t n = static_cast<uint32_t>(track.size());
  file.insert(file.end(), {uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)});
  file.insert(file.end(), track.begin(), track.end());

  PatchLibrarian librarian;
  PatchFile bank;
  load(librarian, file, &bank);
  ASSERT_EQ(bank.patches.size(), 128u);
  for (int k = 0; k < 3; ++k) EXPECT_EQ(bank.patches[k].messages[0].data, dumps[k]) << k;
  EXPECT_EQ(bank.patches[3].messages[0].data, initialDump());

  // A track whose length runs past the end of the file is read as far as it goes.
  Bytes cut = file;
  cut.resize(cut.size() - 4);
  PatchFile cutBank;
  load(librarian, cut, &cutBank);
  ASSERT_EQ(cutBank.patches.size(), 128u);
  EXPECT_EQ(cutBank.patches[2].messages[0].data, dumps[2]);
}

TEST(BankReading, BankDumpFromTheSynthesizerIsHandedOnProgramByProgram) {
  PatchLibrarian librarian;
  std::vector<Bytes> handed;
  int finished = 0;
  librarian.hardwareProgramHandOff = [&](const uint8_t* d, int n) { handed.emplace_back(d, d + n); };
  librarian.hardwareBankFinished = [&] { ++finished; };
  librarian.bankDumpFromHardware = true;
  PatchFile bank;
  load(librarian, vectors::bulkDump(vectors::testPrograms()), &bank);
  EXPECT_EQ(handed, expectedDumps());
  EXPECT_EQ(finished, 1);
  EXPECT_FALSE(librarian.bankDumpFromHardware);
  EXPECT_EQ(librarian.targetSlot, 0);
  ASSERT_EQ(bank.patches.size(), 128u);
  EXPECT_EQ(bank.patches[0].name, "");

  // A file read on the interface thread while a dump is being received is read as a file: nothing of it is
  // handed on, and the receiving dump's state stays as it was.
  handed.clear();
  librarian.bankDumpFromHardware = true;
  const Bytes image = vectors::bulkDump(vectors::testPrograms());
  PatchFile file;
  librarian.loadFromBytes(image.data(), image.size(), &file);
  EXPECT_TRUE(handed.empty());
  EXPECT_EQ(finished, 1);
  EXPECT_TRUE(librarian.bankDumpFromHardware);
  ASSERT_EQ(file.patches.size(), 128u);
  EXPECT_NE(file.patches[0].name, "") << "named as a file's program";
}

TEST(BankReading, FindByte) {
  struct Case {
    Bytes data;
    int start;
    int value;
    bool found;
    int position;
  };
  const Case cases[] = {
      {{}, 0, 0x42, false, -1},
      {{0xF0, 0x42, 0x30, 0x58}, 0, 0x42, true, 2},
      {{0xF0, 0x42, 0x30, 0x58}, 2, 0x42, false, -1},
      {{0xF0, 0x42, 0x30, 0x58}, 4, 0x58, false, -1},
      {{0xF0, 0x42, 0x30, 0x58}, -1, 0xF0, false, -1},
      {{0xF0, 0x42, 0x30, 0xF7}, 0, 0xF7, true, 4},
  };
  for (const Case& c : cases) {
    ByteChunk chunk;
    if (!c.data.empty()) chunk.PutBytes(c.data.data(), static_cast<int>(c.data.size()));
    int position = c.start;
    EXPECT_EQ(findByte(&chunk, position, c.value), c.found);
    EXPECT_EQ(position, c.position);
  }
}

TEST(BankWriting, BothFormsAreByteExactAndReadBack) {
  PatchLibrarian librarian;
  PatchFile bank;
  load(librarian, vectors::bulkDump(vectors::testPrograms()), &bank);
  const std::vector<Bytes> expected = expectedDumps();

  const Bytes raw = bankImage(bank, false);
  EXPECT_EQ(raw, vectors::singles(vectors::testPrograms()));
  const Bytes midi = bankImage(bank, true);
  EXPECT_EQ(midi, vectors::midiBank(expected));
  ASSERT_EQ(midi.size(), 38580u);
  EXPECT_EQ(Bytes(midi.begin() + 45, midi.begin() + 53), (Bytes{0x00, 0x00, 0x96, 0x83, 0x00, 0xF0, 0x82, 0x28}));
  EXPECT_EQ(Bytes(midi.begin() + 349, midi.begin() + 354), (Bytes{0x83, 0x74, 0xF0, 0x82, 0x28}));
  EXPECT_EQ(Bytes(midi.end() - 5, midi.end()), (Bytes{0xF7, 0x00, 0xFF, 0x2F, 0x00}));

  for (const Bytes* image : {&raw, &midi}) {
    PatchFile back;
    load(librarian, *image, &back);
    EXPECT_EQ(dumpsOf(back), expected);
  }
  // A file that differs in any one byte (of the first words or of the tail) has another stamp.
  for (size_t at : {0, 1, 7, 8, 12, 15, 16, 23, 24, 31, 32, 38577, 38578, 38579}) {
    Bytes changed = midi;
    changed[at] ^= 0x01;
    EXPECT_NE(librarianfiles::contentStamp(changed.data(), 38580), librarianfiles::contentStamp(midi.data(), 38580));
  }
}

TEST(BankWriting, EmptySlotsAreWrittenAsTheInitialProgram) {
  PatchFile bank;
  for (const Bytes& p : vectors::testPrograms(100)) {
    LibrarianPatch patch;
    patch.messages.push_back({vectors::programDump(p)});
    bank.patches.push_back(patch);
  }
  bank.patches.resize(110);  // ten records without messages
  const Bytes raw = bankImage(bank, false);
  ASSERT_EQ(raw.size(), 38016u);
  const Bytes initial = initialDump();
  for (int slot = 100; slot < 128; ++slot)
    EXPECT_EQ(Bytes(raw.begin() + slot * 297, raw.begin() + (slot + 1) * 297), initial) << slot;
  const Bytes midi = bankImage(bank, true);
  EXPECT_EQ(midi.size(), 38580u);
  // A dump of another length gets its own computed event and track lengths.
  bank.patches[0].messages[0].data.resize(10);
  bank.patches[0].messages[0].data.back() = 0xF7;
  const Bytes odd = bankImage(bank, true);
  ASSERT_EQ(odd.size(), 38580u - 288);
  EXPECT_EQ(Bytes(odd.begin() + 45, odd.begin() + 53), (Bytes{0x00, 0x00, 0x95, 0x63, 0x00, 0xF0, 0x09, 0x42}));
}

TEST_F(TempFolder, SaveChoosesTheFormFromTheNameAndRecordsIt) {
  PatchLibrarian librarian;
  PatchFile bank;
  load(librarian, vectors::bulkDump(vectors::testPrograms()), &bank);
  librarian.bankFiles.push_back(&bank);
  struct Case {
    std::string name;
    bool midi;
    std::string saved;
  };
  const Case cases[] = {{"X.mid", true, "X.mid.mid"},  {"X.syx", false, "X.syx.vmr"}, {"X.vmr", false, "X.vmr.vmr"},
                        {"X.vlt", false, "X.vlt.vlt"}, {"mid", true, "mid.mid"},      {"X.MID", true, "X.MID.mid"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir + "/out";
    std::string saved = "unchanged";
    ASSERT_TRUE(librarian.saveEditedPatch(path, c.name, &saved));
    EXPECT_EQ(saved, c.saved);
    EXPECT_EQ(vectors::readFile(path).size(), c.midi ? 38580u : 38016u);
  }
}

TEST_F(TempFolder, AFailedSaveReportsFailureAndLeavesTheOldFileWhole) {
  PatchLibrarian librarian;
  PatchFile bank;
  load(librarian, vectors::bulkDump(vectors::testPrograms()), &bank);
  librarian.bankFiles.push_back(&bank);
  std::string saved = "unchanged";

  librarian.upperBankIndex = 1;
  EXPECT_FALSE(librarian.saveEditedPatch(dir + "/a.vmr", "a.vmr", &saved));
  librarian.upperBankIndex = -1;
  EXPECT_FALSE(librarian.saveEditedPatch(dir + "/a.vmr", "a.vmr", &saved));
  EXPECT_NE(access((dir + "/a.vmr").c_str(), F_OK), 0);

  librarian.upperBankIndex = 0;
  EXPECT_FALSE(librarian.saveEditedPatch(dir + "/missing/a.vmr", "a.vmr", &saved));
  // The target cannot be replaced (it is a folder): the folder stays, no temporary file is left.
  ASSERT_EQ(mkdir((dir + "/taken.vmr").c_str(), 0755), 0);
  EXPECT_FALSE(librarian.saveEditedPatch(dir + "/taken.vmr", "taken.vmr", &saved));
  EXPECT_EQ(saved, "unchanged");
  struct stat st {};
  EXPECT_EQ(stat((dir + "/taken.vmr").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(std::system(("test -z \"$(ls -A '" + dir + "' | grep -v '^taken.vmr$')\"").c_str()), 0);

  // A good save over an existing file replaces it whole.
  vectors::writeFile(dir + "/b.vmr", Bytes(10, 1));
  EXPECT_TRUE(librarian.saveEditedPatch(dir + "/b.vmr", "b.vmr", &saved));
  EXPECT_EQ(vectors::readFile(dir + "/b.vmr"), vectors::singles(vectors::testPrograms()));
}

TEST(BankWriting, AProgramWhoseNameBytesCarryBit7ReadsBackFromItsSavedBank) {
  std::vector<Bytes> programs = vectors::testPrograms(2);
  programs[1][0] = 0xC1;  // the first name byte with bit 7: the dump's byte 5 is no longer 00
  PatchLibrarian librarian;
  PatchFile bank;
  load(librarian, vectors::bulkDump(programs), &bank);
  ASSERT_EQ(bank.patches.size(), 128u);
  EXPECT_EQ(bank.patches[1].messages[0].data, vectors::programDump(programs[1]));
  EXPECT_EQ(bank.patches[1].messages[0].data[5], 0x01);
  for (bool midi : {false, true}) {
    PatchFile back;
    load(librarian, bankImage(bank, midi), &back);
    EXPECT_EQ(dumpsOf(back), dumpsOf(bank)) << (midi ? "Standard MIDI" : "raw");
  }
}
