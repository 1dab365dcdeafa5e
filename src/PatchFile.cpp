#include "src/PatchFile.h"

std::unique_ptr<PatchFile> PatchFile::clone() const {
  return std::make_unique<PatchFile>(*this);
}
