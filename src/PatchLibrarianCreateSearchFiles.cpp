// Name search: every program of every listed bank whose name holds the text, gathered into
// "Search Results n" banks of at most 128 programs. Results live in memory only.
#include <algorithm>

#include "src/PatchLibrarian.h"

void PatchLibrarian::createNewSearchPatchFiles(const std::string& text) {
  searchFiles.clear();
  clearDataStructures(3);
  // The banks of an earlier search live on only where something holds a share of them.
  ownedSearchBanks_.clear();

  // The matches point into the listed banks: they are copied out before the lock is let go.
  std::lock_guard<std::mutex> lock(banksLock_);
  std::vector<const LibrarianPatch*> matches;
  for (const PatchFile* bank : bankFiles) {
    if (!bank) continue;
    for (const LibrarianPatch& patch : bank->patches)
      if (patch.name.find(text) != std::string::npos) matches.push_back(&patch);
  }
  if (matches.empty()) return;

  FolderFiles* node = nullptr;
  for (size_t first = 0, number = 0; first < matches.size(); first += kProgramsPerBank, ++number) {
    auto bank = std::make_shared<PatchFile>();
    bank->fileName = "Search Results " + std::to_string(number + 1);
    bank->folderName = kPatchesFolderName;
    bank->bankNumber = static_cast<int>(number);
    const size_t last = std::min(matches.size(), first + kProgramsPerBank);
    bank->patches.reserve(last - first);
    for (size_t i = first; i < last; ++i) {
      const LibrarianPatch& match = *matches[i];
      LibrarianPatch copy;
      // The first message is the program; a second one travels with it, anything further is not copied.
      if (match.messages.size() <= 2) {
        copy.messages = match.messages;
      } else {
        for (size_t m = 0; m < 2; ++m) copy.messages.push_back(match.messages[m]);
      }
      const bool dumpLongEnough = !copy.messages.empty() && copy.messages.front().data.size() >= 19;
      copy.name = dumpLongEnough ? programNameFromDump(copy.messages.front().data.data(),
                                                       static_cast<int>(copy.messages.front().data.size()))
                                 : match.name;
      bank->patches.push_back(std::move(copy));
    }
    if (!node) {
      node = new FolderFiles;
      node->name = bank->folderName;
      searchTree.push_back(node);
    }
    node->files.push_back(bank.get());
    searchFiles.push_back(bank.get());
    ownedSearchBanks_.push_back(std::move(bank));
  }
}
