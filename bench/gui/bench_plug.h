// The plug-in behind the editor benchmarks: n integer knobs of 0..127 and a host that answers only the version
// question, so that nothing but the surface's own work is measured.
#pragma once

#include "KIT/IEffect/IEffectVST.h"

namespace guibench {

inline intptr_t silentHost(AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) {
  return opcode == 1 ? 2400 : 0;
}

class BenchPlug : public IEffectVST {
 public:
  explicit BenchPlug(int knobs)
      : IEffectVST(IEffectInstanceInfo{silentHost}, knobs, "0-2", 1, "Bench", "", "Maker", 0x10000, 1, 1, 0, true, true,
                   false, 0) {
    initialize(IEffectInstanceInfo{silentHost}, knobs, knobs, "0-2", 1, "Bench", "", "Maker", 0x10000, 1, 1, 0, true,
               true, false, 0);
    for (int i = 0; i < knobs; ++i) GetParam(i)->InitInt("Knob", 0, 0, 127);
  }
};

}  // namespace guibench
