// The editor's own path for the fidelity tests: an edit as a control makes it, and the data of the dump the
// editor sent last.
#pragma once

#include <algorithm>
#include <vector>

#include "KIT/IEffect/IParam.h"
#include "src/ProgramDump.h"
#include "tests/jobs/job_plug.h"
#include "tests/support/SysexDumps.h"

namespace fidelity {

using jobtest::Bytes;
using vexmir::testsupport::dumpOf;

inline Bytes initialData() {
  return Bytes(initialProgramData(), initialProgramData() + kProgramDataSize);
}

// The data of the last message of that size the editor sent.
inline Bytes lastSent(jobtest::JobPlug& plug, int size, int dataSize) {
  const std::vector<Bytes> sent = plug.messages();
  for (auto m = sent.rbegin(); m != sent.rend(); ++m)
    if (static_cast<int>(m->size()) == size) return vexmir::testsupport::dataOf(*m, dataSize);
  return {};
}

// An edit as a control makes it, at a position a hair above the value: 0.58 of 0..100 is 57.99999999999999,
// which the editor's integer fields truncate to 57 (a knob's pixel positions fall either side of a value).
inline void edit(IEffectBase& plug, int index, double value) {
  IParam* p = plug.GetParam(index);
  const double span = p->GetMax() - p->GetMin();
  plug.SetParameterFromGUI(index, span > 0 ? std::min(1.0, (value - p->GetMin()) / span + 1e-9) : 0.0);
}

}  // namespace fidelity
