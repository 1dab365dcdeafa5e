#include "src/PatchFile.h"

std::unique_ptr<PatchFile> PatchFile::clone() const {
  return std::make_unique<PatchFile>(*this);
}

bool PatchFile::holdsSameProgramsAs(const PatchFile& other) const {
  if (patches.size() != other.patches.size()) return false;
  for (size_t i = 0; i < patches.size(); ++i)
    if (patches[i].messages != other.patches[i].messages) return false;
  return true;
}
