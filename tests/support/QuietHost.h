// The host callback of an editor object that a test makes without a host: it answers every request with 0.
#pragma once

#include <cstdint>

#include "platform/vst2/vst2.h"

namespace vexmir::testsupport {

inline intptr_t quietHost(AEffect*, int32_t, int32_t, intptr_t, void*, float) {
  return 0;
}

}  // namespace vexmir::testsupport
