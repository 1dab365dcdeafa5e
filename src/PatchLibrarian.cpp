#include "src/PatchLibrarian.h"

#include <algorithm>

#include "platform/bundle/bundle.h"

const char kPatchesFolderName[] = "Patches";
const char kConvertedBanksFolderName[] = "Converted Banks";

namespace {
// The program's fixed data folder, resolved under the data root of this machine.
const char kDataFolder[] = "/Library/Audio/Presets/Pellacor/Korg Vexmir Editor/";
}  // namespace

PatchLibrarian::PatchLibrarian(Vexmir* owner) : plugin(owner) {}

int PatchLibrarian::selectedSlot(int side) const {
  return side == 0 || side == 1 ? selected_[side].load() : -1;
}

void PatchLibrarian::selectSlot(int side, int slot) {
  if (side != 0 && side != 1) return;
  if (slot < 0 || slot >= kProgramsPerBank) slot = -1;
  selected_[side] = slot;
  if (slot >= 0) selected_[1 - side] = -1;
  if (selectionChanged) selectionChanged();
}

PatchLibrarian::~PatchLibrarian() {
  clearDataStructures(0);
  clearDataStructures(3);
}

// Every log line of the librarian goes through here.
void PatchLibrarian::writeLog(const std::string& line) {
  if (!logSink) return;
  logStream.str(std::string());
  logStream << line;
  logSink(logStream.str());
}

PatchFile* PatchLibrarian::bankAt(int index) const {
  return index >= 0 && static_cast<size_t>(index) < bankFiles.size() ? bankFiles[index] : nullptr;
}

PatchFile* PatchLibrarian::searchBankAt(int index) const {
  return index >= 0 && static_cast<size_t>(index) < searchFiles.size() ? searchFiles[index] : nullptr;
}

PatchFile* PatchLibrarian::openBank(int side, bool lowerShowsSearch) const {
  if (side == 0) return bankAt(upperBankIndex);
  return lowerShowsSearch ? searchBankAt(lowerBankIndex) : bankAt(lowerBankIndex);
}

LibrarianPatch* PatchLibrarian::patchAt(PatchFile* bank, int slot) {
  if (!bank || slot < 0 || static_cast<size_t>(slot) >= bank->patches.size()) return nullptr;
  return &bank->patches[slot];
}

bool PatchLibrarian::copyProgram(const PatchFile* bank, int slot, LibrarianPatch* out) const {
  std::lock_guard<std::mutex> lock(banksLock_);
  if (!bank || !out || slot < 0 || static_cast<size_t>(slot) >= bank->patches.size()) return false;
  *out = bank->patches[static_cast<size_t>(slot)];
  return true;
}

std::unique_ptr<PatchFile> PatchLibrarian::cloneBank(const PatchFile* bank) const {
  std::lock_guard<std::mutex> lock(banksLock_);
  return bank ? bank->clone() : nullptr;
}

std::unique_ptr<PatchFile> PatchLibrarian::cloneOpenBank() const {
  std::lock_guard<std::mutex> lock(banksLock_);
  const PatchFile* bank = bankAt(upperBankIndex);
  return bank ? bank->clone() : nullptr;
}

std::shared_ptr<PatchFile> PatchLibrarian::shareBank(const PatchFile* bank) const {
  if (!bank) return nullptr;
  for (const auto* owned : {&ownedBanks_, &ownedSearchBanks_})
    for (const std::shared_ptr<PatchFile>& b : *owned)
      if (b.get() == bank) return b;
  return nullptr;
}

void PatchLibrarian::clearDataStructures(int which) {
  std::vector<FolderFiles*>* tree = which == 0 ? &folderTree : which == 3 ? &searchTree : nullptr;
  if (!tree) return;
  for (FolderFiles* node : *tree) delete node;
  tree->clear();
}

void PatchLibrarian::initBankFilesOnDiscard(const std::string& folder) {
  // Dropped banks live on only where a view, the clipboard or a job holds a share of them.
  std::vector<std::shared_ptr<PatchFile>> dropped;
  {
    std::lock_guard<std::mutex> lock(banksLock_);
    bankFiles.clear();
    dropped.swap(ownedBanks_);
  }
  searchFiles.clear();
  for (int which = 0; which < 4; ++which) clearDataStructures(which);
  ownedSearchBanks_.clear();
  loadPatchesFromFilesystem(folder);
}

std::string PatchLibrarian::convertedBanksFolder() {
  return platform::resolveDataPath(kDataFolder) + kConvertedBanksFolderName;
}
