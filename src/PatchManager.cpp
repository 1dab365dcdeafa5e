#include "src/PatchManager.h"

Patch::Patch() : stateBytes(kPatchStateGranularity) {
  names.reserve(kPatchStateNameCount);
  for (int i = 0; i < kPatchStateNameCount; ++i) names.push_back("- INIT -");
}
