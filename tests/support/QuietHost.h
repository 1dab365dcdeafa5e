// The host callback of an editor object that a test makes without a host: it answers every request with 0.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/vst2/vst2.h"

namespace vexmir::testsupport {

inline std::atomic<int> projectChangesTold{0};

inline intptr_t quietHost(AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) {
  if (opcode == audioMasterUpdateDisplay) ++projectChangesTold;
  return 0;
}

// The times the host is told on its next idle that its project changed.
inline int toldOnIdle(AEffect* e) {
  const int before = projectChangesTold;
  e->dispatcher(e, effIdle, 0, 0, nullptr, 0.0f);
  return projectChangesTold - before;
}

}  // namespace vexmir::testsupport
