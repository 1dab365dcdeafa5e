// Saving the open bank under a name the user chooses.
#include <cstring>

#include "KIT/IEffect/IEffectStructs.h"
#include "KIT/IEffect/IGraphics.h"
#include "KIT/kitstring.h"
#include "src/PatchLibrarian.h"
#include "src/PatchLibrarianFiles.h"

namespace {

bool fail(std::string* error, const std::string& why) {
  if (error) *error = why;
  return false;
}

// The programs of a bank image as the reader sees them.
bool readsBackAs(PatchLibrarian& librarian, const ByteChunk& image, const PatchFile& bank) {
  PatchFile back;
  librarian.loadFromBytes(image.GetBytes(), static_cast<size_t>(image.Size()), &back);
  if (back.patches.size() != static_cast<size_t>(kProgramsPerBank)) return false;
  for (int slot = 0; slot < kProgramsPerBank; ++slot) {
    if (back.patches[slot].messages.empty() || bank.patches[slot].messages.empty()) return false;
    const SysexBytes& a = back.patches[slot].messages.front().data;
    const SysexBytes& b = bank.patches[slot].messages.front().data;
    // The reader stores every dump on channel byte 0x30, whatever the message carried.
    if (a.size() != b.size() || a.size() < 3 || std::memcmp(a.data(), b.data(), 2) != 0 ||
        std::memcmp(a.data() + 3, b.data() + 3, a.size() - 3) != 0)
      return false;
  }
  return true;
}

}  // namespace

void removeCharsFromString(std::string& text, const char* chars) {
  if (!chars) return;
  for (const char* c = chars; *c; ++c) {
    size_t out = 0;
    for (size_t i = 0; i < text.size(); ++i)
      if (text[i] != *c) text[out++] = text[i];
    text.resize(out);
  }
}

namespace {}  // namespace

bool PatchLibrarian::savePatchAs(IGraphics* graphics, const char* fileName, std::string folder, bool midi,
                                 std::string* savedFile, std::string* savedFolder, std::string* savedPath,
                                 std::string* error) {
  if (!graphics) return fail(error, "no editor");
  const PatchFile* upper = bankAt(upperBankIndex);
  if (!upper) return fail(error, "no bank is open");
  KIT_String file(fileName ? fileName : "");
  KIT_String dir(folder.c_str());
  char extension[4];
  std::strcpy(extension, midi ? "mid" : "vmr");
  graphics->PromptForFile(&file, kFileSave, &dir, extension);
  const std::string path = file.Get();
  if (path.empty()) return fail(error, "");

  // The copy is brought to 128 programs with the initial program, never with empty records, and
  // its image must read back as exactly these programs before a byte goes to disk.
  std::unique_ptr<PatchFile> copy = cloneBank(bankAt(upperBankIndex));
  if (!copy) return fail(error, "no bank is open");
  fillUncompletedBankFiles(copy.get());
  copy->patches.resize(kProgramsPerBank);
  for (LibrarianPatch& patch : copy->patches)
    if (!patch.hasWritableMessage()) {
      patch.messages.clear();
      patch.messages.push_back(PatchSysexMessage(initialProgramDump(), kProgramDumpSize));
    }
  ByteChunk image;
  buildBankImage(*copy, midi, &image);
  if (!readsBackAs(*this, image, *copy)) return fail(error, "the bank does not read back");
  if (librarianfiles::writeWhole(path, image.GetBytes(), static_cast<size_t>(image.Size()), true) !=
      librarianfiles::WriteResult::Written) {
    writeLog("PATCH LIBRARIAN: could not save bank file " + path);
    return fail(error, "could not write " + path);
  }
  std::string onDisk;
  if (!librarianfiles::readWhole(path, &onDisk) || onDisk.size() != static_cast<size_t>(image.Size()) ||
      std::memcmp(onDisk.data(), image.GetBytes(), onDisk.size()) != 0)
    return fail(error, "the saved file does not read back: " + path);

  std::string folderName = librarianfiles::lastComponent(librarianfiles::folderOf(path));
  removeCharsFromString(folderName, "/");
  if (savedFile) *savedFile = librarianfiles::lastComponent(path);
  if (savedFolder) *savedFolder = folderName.empty() ? std::string(kPatchesFolderName) : folderName;
  if (savedPath) *savedPath = path;
  return true;
}
