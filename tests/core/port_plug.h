// A bare plug-in with two channels and no parameters, for tests of the external MIDI ports.
#pragma once

#include "KIT/IEffect/IEffectVST.h"
#include "tests/support/QuietHost.h"

namespace porttest {

using vexmir::testsupport::quietHost;

class PortPlug : public IEffectVST {
 public:
  PortPlug()
      : IEffectVST(IEffectInstanceInfo{quietHost}, 0, "2-2", 0, "Ports", "", "Test", 0x10000, 1, 1, 0, true, true, true,
                   0) {
    initialize(IEffectInstanceInfo{quietHost}, 0, 0, "2-2", 0, "Ports", "", "Test", 0x10000, 1, 1, 0, true, true, true,
               0);
  }
};

}  // namespace porttest
