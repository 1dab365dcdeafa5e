// Bank file images (raw and Standard MIDI) and the writers that put them on disk.
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
  const size_t dot = name.rfind('.');
  const std::string type = dot == std::string::npos ? name : name.substr(dot + 1);
  if (type == "mid") return {true, ".mid"};
  if (type == "syx" || type == "vmr") return {false, ".vmr"};
  if (type == "vlt") return {false, ".vlt"};
  return {false, ""};
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
  return librarianfiles::writeWhole(path, image.GetBytes(), static_cast<size_t>(image.Size()), true) ==
         librarianfiles::WriteResult::Written;
}

bool PatchLibrarian::saveEditedPatch(const std::string& path, const std::string& name, std::string* savedName) {
  // The bank is written from a copy so that a program received meanwhile never changes it halfway.
  const std::unique_ptr<PatchFile> copy = cloneBank(bankAt(upperBankIndex));
  if (!copy) return false;
  const SaveForm form = saveFormFor(name);
  if (!writeBankFile(*copy, path, form.midi)) {
    writeLog("PATCH LIBRARIAN: could not save bank file " + path);
    return false;
  }
  if (savedName) *savedName = name + form.suffix;
  return true;
}
