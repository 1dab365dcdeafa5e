// MIDI OUT chosen before MIDI IN, through vexmir-host on the real bundle with the synthesizer emulator over JACK:
// without the input no answer can come, so the editor asks nothing and says which port is missing; once MIDI IN
// is chosen too it connects and fetches the global data.
#include <gtest/gtest.h>

#include "tests/host/run_host.h"

TEST(FirstHourE2E, OutputChosenFirstWaitsForTheInputAndThenConnects) {
  ScratchDir dir;
  // MIDI OUT (to the emulator) at 1088,48, then MIDI IN at 1300,48; the emulator's global dump ends the wait. The
  // shared emulator starts from its own defaults (an earlier test may have left it on another channel).
  const std::string script =
      "open\nsetup rate=48000 block=512\nresume\neditor open cocoa\npump 3\nemulator reset\nemulator clearlog\n"
      "menu title \"Vexmir Synth Emulator:MIDI In\"\nclick 1088 48\npump 3\nwait 1500\npump 5\n"
      "emulator log\necho MIDI IN NEXT\n"
      "menu title \"Vexmir Synth Emulator:MIDI Out\"\nclick 1300 48\n"
      "emulator wait 15000 0 \"out F0 42 30 58 51\"\n";
  HostRun r = runHost(pluginBundlePath(), script, dir, {}, {"VEXMIR_ROOT=" + dir.file("root")});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  const size_t inNext = r.out.find("echo MIDI IN NEXT");
  ASSERT_NE(inNext, std::string::npos) << r.out;
  EXPECT_EQ(r.out.substr(0, inNext).find("in F0 42 3"), std::string::npos)
      << "a request went out before MIDI IN was chosen:\n" << r.out;
}
