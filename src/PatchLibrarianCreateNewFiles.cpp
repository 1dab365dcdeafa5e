// New bank content: padding short banks with the initial program, and writing the 128-program
// " Singles " banks of a file that holds more than 128 programs.
#include "KIT/IEffect/IEffectStructs.h"
#include "src/PatchLibrarian.h"
#include "src/PatchLibrarianFiles.h"
#include "src/ProgramDump.h"

void PatchLibrarian::fillUncompletedBankFiles(PatchFile* bank) {
  if (!bank || bank->patches.size() >= static_cast<size_t>(kProgramsPerBank)) return;
  const uint8_t* initial = initialProgramDump();
  LibrarianPatch padding;
  padding.name = programNameFromDump(initial, kProgramDumpSize);
  padding.messages.push_back(PatchSysexMessage(initial, kProgramDumpSize));
  bank->patches.resize(kProgramsPerBank, padding);
}

bool PatchLibrarian::createNewPatchFile(PatchFile* source, std::string folderName, std::string fileName, std::string,
                                        std::string sourcePath, int bankNumber, int splitIndex, bool, bool, bool, bool,
                                        std::vector<std::string>* written) {
  if (!source) return true;
  const size_t dot = fileName.rfind('.');
  const std::string baseName = dot == std::string::npos ? fileName : fileName.substr(0, dot);
  const long long n = static_cast<long long>(source->patches.size());
  const long long start = 128LL * (static_cast<long long>(splitIndex) + 1);
  const long long rest = n - start;
  splitBankCount = static_cast<int>(n / kProgramsPerBank) + (rest >= 1 && rest <= 127 ? 1 : 0);
  if (start < 0 || rest <= 0) return true;

  PatchFile slice;
  slice.folderName = std::move(folderName);
  slice.bankNumber = bankNumber;
  const long long count = rest < kProgramsPerBank ? rest : kProgramsPerBank;
  slice.patches.assign(source->patches.begin() + start, source->patches.begin() + start + count);
  fillUncompletedBankFiles(&slice);

  ByteChunk image;
  buildBankImage(slice, false, &image);
  const std::string folder = librarianfiles::folderOf(sourcePath);
  const std::string stem = baseName + " Singles " + std::to_string(splitIndex + 2);
  // A name that is taken (a file saved by the user, an earlier split of a file of the same name)
  // is never replaced: the next free name is used instead.
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string path = librarianfiles::freeName(folder, stem, ".vmr");
    if (path.empty()) break;
    switch (librarianfiles::writeWhole(path, image.GetBytes(), static_cast<size_t>(image.Size()), false)) {
      case librarianfiles::WriteResult::Written:
        if (written) written->push_back(path);
        rescanPending = true;
        return true;
      case librarianfiles::WriteResult::NameTaken:
        continue;
      case librarianfiles::WriteResult::ReadOnly:
      case librarianfiles::WriteResult::Failed:
        writeLog("PATCH LIBRARIAN: could not write bank file " + path);
        return false;
    }
  }
  writeLog("PATCH LIBRARIAN: no free name for bank file " + stem + ".vmr in " + folder);
  return false;
}
