// Bank file images (raw and Standard MIDI) and the writers that put them on disk.
#include <vector>

#include "KIT/IEffect/IEffectStructs.h"
#include "src/PatchLibrarian.h"
#include "src/PatchLibrarianFiles.h"
#include "src/ProgramDump.h"

namespace {

// Standard MIDI file head: format 1, two tracks, 480 ticks per quarter note; a tempo track with
// 4/4 and 120 beats per minute; then the head of the SysEx track, whose length follows.
const uint8_t kMidiFileHead[] = {'M',  'T',  'h',  'd',  0x00, 0x00, 0x00, 0x06, 0x00, 0x01, 0x00, 0x02,
                                 0x01, 0xE0, 'M',  'T',  'r',  'k',  0x00, 0x00, 0x00, 0x13, 0x00, 0xFF,
                                 0x58, 0x04, 0x04, 0x02, 0x18, 0x08, 0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1,
                                 0x20, 0x00, 0xFF, 0x2F, 0x00, 'M',  'T',  'r',  'k'};
const uint8_t kEndOfTrack[] = {0x00, 0xFF, 0x2F, 0x00};

const LibrarianPatch& initialPatch() {
  static const LibrarianPatch patch = [] {
    LibrarianPatch p;
    const uint8_t* dump = initialProgramDump();
    p.name = programNameFromDump(dump, kProgramDumpSize);
    p.messages.push_back(PatchSysexMessage(dump, kProgramDumpSize));
    return p;
  }();
  return patch;
}

// What the extension of a bank name asks for: the form and the suffix the saved name gets.
struct SaveForm {
  bool midi;
  const char* suffix;
};

SaveForm saveFormFor(const std::string& name) {
  // As the scan reads it: "Bank.MID" is a Standard MIDI file as much as "bank.mid". A name without a dot is
  // its own type.
  const std::string type = librarianfiles::lowerExtension(name.find('.') == std::string::npos ? "." + name : name);
  if (type == "mid") return {true, ".mid"};
  if (type == "syx" || type == "vmr") return {false, ".vmr"};
  if (type == "vlt") return {false, ".vlt"};
  return {false, ""};
}

// An all-data dump (37392 bytes: F0 42 3n 58 50, the packed data of the 128 programs and 200 bytes of global
// settings, F7): saving a bank over it keeps the global settings and the form, with the programs replaced.
constexpr size_t kAllDataDumpSize = 37392;
constexpr int kGlobalDataSize = 200;
constexpr int kAllDataStreamSize = kProgramsPerBank * kProgramDataSize + kGlobalDataSize;

bool isAllDataDump(const std::string& bytes) {
  const auto* b = reinterpret_cast<const uint8_t*>(bytes.data());
  return bytes.size() == kAllDataDumpSize && b[0] == 0xF0 && b[1] == 0x42 && (b[2] & 0xF0) == 0x30 && b[3] == 0x58 &&
         b[4] == 0x50 && b[kAllDataDumpSize - 1] == 0xF7;
}

// The bulk stream from message byte 5 on: groups of a top-bits byte and seven data bytes.
uint8_t streamByte(const uint8_t* message, int d) {
  const uint8_t low = message[6 + d + d / 7] & 0x7F;
  const uint8_t top = (message[5 + 8 * (d / 7)] >> (d % 7)) & 1;
  return static_cast<uint8_t>(low | (top << 7));
}

void buildAllDataImage(const PatchFile& bank, const std::string& original, ByteChunk* out) {
  const auto* source = reinterpret_cast<const uint8_t*>(original.data());
  std::vector<uint8_t> stream(kAllDataStreamSize);
  for (int slot = 0; slot < kProgramsPerBank; ++slot) {
    const bool present = slot < static_cast<int>(bank.patches.size()) && bank.patches[slot].hasWritableMessage();
    const uint8_t* dump = present ? bank.patches[slot].messages.front().data.data() : initialProgramDump();
    unpackData(dump + 5, kProgramDataSize, stream.data() + slot * kProgramDataSize);
  }
  for (int d = kProgramsPerBank * kProgramDataSize; d < kAllDataStreamSize; ++d) stream[d] = streamByte(source, d);
  out->PutBytes(source, 5);
  for (int group = 0; group * 7 < kAllDataStreamSize; ++group) {
    uint8_t bytes[8] = {0};
    int n = 0;
    for (; n < 7 && group * 7 + n < kAllDataStreamSize; ++n) {
      const uint8_t value = stream[group * 7 + n];
      bytes[0] |= static_cast<uint8_t>((value >> 7) << n);
      bytes[n + 1] = value & 0x7F;
    }
    out->PutBytes(bytes, n + 1);
  }
  const uint8_t end = 0xF7;
  out->PutBytes(&end, 1);
}

}  // namespace

void PatchLibrarian::buildBankImage(const PatchFile& bank, bool midi, ByteChunk* out) {
  if (!out) return;
  int lengthAt = 0;
  if (midi) {
    out->PutBytes(kMidiFileHead, sizeof kMidiFileHead);
    lengthAt = out->Size();
    const uint8_t placeholder[4] = {0, 0, 0, 0};
    out->PutBytes(placeholder, 4);
  }
  const int trackBegin = out->Size();
  for (int slot = 0; slot < kProgramsPerBank; ++slot) {
    const bool present = slot < static_cast<int>(bank.patches.size()) && bank.patches[slot].hasWritableMessage();
    // An empty slot is saved as the initial program: every saved bank reads back as 128 programs.
    const LibrarianPatch& patch = present ? bank.patches[slot] : initialPatch();
    patch.save(out, midi, slot, false, false, 0);
  }
  if (midi) {
    out->PutBytes(kEndOfTrack, sizeof kEndOfTrack);
    const uint32_t length = static_cast<uint32_t>(out->Size() - trackBegin);
    uint8_t* p = out->GetBytes() + lengthAt;
    p[0] = static_cast<uint8_t>(length >> 24);
    p[1] = static_cast<uint8_t>(length >> 16);
    p[2] = static_cast<uint8_t>(length >> 8);
    p[3] = static_cast<uint8_t>(length);
  }
}

bool PatchLibrarian::writeBankFile(const PatchFile& bank, const std::string& path, bool midi) {
  ByteChunk image;
  buildBankImage(bank, midi, &image);
  return librarianfiles::writeWhole(path, image.GetBytes(), static_cast<size_t>(image.Size()), false) ==
         librarianfiles::WriteResult::Written;
}

bool PatchLibrarian::saveEditedPatch(const std::string& path, const std::string& name, std::string* savedName,
                                     std::string* note, bool replace, std::string* stamp) {
  // The bank is written from a copy so that a program received meanwhile never changes it halfway.
  const std::unique_ptr<PatchFile> copy = cloneBank(bankAt(upperBankIndex));
  if (!copy) return false;
  const SaveForm form = saveFormFor(name);
  std::string original;
  const bool allData = librarianfiles::readWhole(path, &original, kAllDataDumpSize) && isAllDataDump(original);
  ByteChunk image;
  if (allData)
    buildAllDataImage(*copy, original, &image);
  else
    buildBankImage(*copy, form.midi, &image);
  const auto result = librarianfiles::writeWhole(path, image.GetBytes(), static_cast<size_t>(image.Size()), replace);
  if (result != librarianfiles::WriteResult::Written) {
    writeLog("PATCH LIBRARIAN: could not save bank file " + path);
    if (note)
      *note =
          result == librarianfiles::WriteResult::ReadOnly    ? "the file is read-only"
          : result == librarianfiles::WriteResult::NameTaken ? "the name is taken"
                                                             : "the file could not be written";
    return false;
  }
  if (note) *note = allData ? "it is an all-data dump: its global settings were kept" : std::string();
  if (savedName) *savedName = name + form.suffix;
  if (stamp) *stamp = librarianfiles::contentStamp(image.GetBytes(), static_cast<size_t>(image.Size()));
  return true;
}
