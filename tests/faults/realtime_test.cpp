// Host calls that never wait: the editor object with the host-call probe (tests/support/HostCallProbe.h) in the
// test program, driven through its real inputs while host calls are marked.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "src/ProgramDump.h"
#include "tests/faults/faults_support.h"
#include "tests/support/HostCallProbe.h"

using namespace faults;
namespace probe = vexmir::testsupport::probe;

namespace {

void expectNoProbeFaults() {
  for (const std::string& fault : probe::faults()) ADD_FAILURE() << fault;
}

// A program dump that names another channel for timbre 1, whose channel is locked: the editor keeps its channel.
// Taking the dump in pauses nowhere that a host call (here a knob turned in the editor) would have to wait for.
TEST(RealtimeSafety, AProgramDumpThatRestoresALockedPartChannelPausesUnderNoLockOfAHostCall) {
  if (!probe::active()) GTEST_SKIP() << "the probe is off under ThreadSanitizer";
  DataRoot root;
  EmulatorPlug plug(&JobClock::system());
  plug.storeParamValue(kLockPartMIDIch, 1);
  plug.storeParamValue(kMultiPartMIDICh, 2);
  std::vector<double> values = plug.currentValues();
  values[kMultiPartMIDICh] = 5;
  std::vector<uint8_t> dump(kProgramDumpSize);
  buildProgramDump(values.data(), "Restored", 0x30, dump.data());

  probe::reset();
  plug.getMidiManager()->setWaiting(true);  // the editor asked for the program
  ISysEx sysex(0, dump.data(), static_cast<int>(dump.size()));
  plug.ProcessSysEx(&sysex, true);
  EXPECT_EQ(plug.programName().substr(0, 8), "Restored");
  EXPECT_EQ(plug.paramValue(kMultiPartMIDICh), 2);
  {
    probe::HostCall call("effEditIdle");
    plug.press(kFilterCutoff, 40);
  }
  expectNoProbeFaults();
}

}  // namespace
