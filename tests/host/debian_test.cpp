// The test host against Debian's VST 2 plug-ins, which no one here wrote: if our declarations of the records,
// opcodes and events were off, these would read garbage, refuse the chunk or stay silent.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sstream>

#include "tests/host/run_host.h"

namespace {

const char* kZyn = "/usr/lib/vst/ZynAddSubFX.so";
const char* kDragonfly = "/usr/lib/lxvst/DragonflyRoomReverb-vst.so";

bool exists(const char* path) {
  struct stat st;
  return stat(path, &st) == 0;
}

// The peaks of every processed block, in order.
std::vector<std::vector<double>> peaks(const std::string& out) {
  std::vector<std::vector<double>> all;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    const size_t open = line.find(" -> peaks [");
    if (line.compare(0, 8, "process ") != 0 || open == std::string::npos || line.back() != ']') continue;
    std::istringstream vals(line.substr(open + 11, line.size() - open - 12));
    std::vector<double> v;
    double x;
    while (vals >> x) v.push_back(x);
    all.push_back(v);
  }
  return all;
}

TEST(HostWithDebianPlugins, ZynAddSubFXIdentityChunkMidiAndBlocks) {
  if (!exists(kZyn)) GTEST_SKIP() << kZyn << " is not installed (scripts/setup.sh installs zynaddsubfx-vst)";
  ScratchDir dir;
  HostRun r = runHost(kZyn,
                      "host product \"REAPER\"\n"
                      "open\n"
                      "info\n"
                      "dispatch effGetEffectName\n"
                      "dispatch effGetVendorString\n"
                      "dispatch effGetProductString\n"
                      "dispatch effGetPlugCategory\n"
                      "dispatch effGetVstVersion\n"
                      "dispatch effCanDo ptr=text:receiveVstMidiEvent\n"
                      "setup rate=44100 block=512\n"
                      "resume\n"
                      "chunk save first.bin\n"
                      "chunk load first.bin\n"
                      "chunk save second.bin\n"
                      "compare first.bin second.bin\n"
                      "process float count=2\n"
                      "midi 90 3c 64\n"
                      "process float count=3 thread=audio\n"
                      "midi 80 3c 00\n"
                      "process float\n"
                      "suspend\n"
                      "close\n",
                      dir, {"--transcript", "transcript.txt"});
  ASSERT_TRUE(r.exited) << "crashed";
  ASSERT_EQ(r.exitCode, 0) << r.err;
  r.out = dir.read("transcript.txt");
  const char* lines[] = {
      "entry main",
      "request audioMasterVersion(1) -> 2400",
      "dispatcher effOpen(0) -> 1",
      "effect uniqueID 1514230598 (0x5a415346 'ZASF')",
      "effect numParams 16",
      "effect numInputs 0",
      "effect numOutputs 2",
      "effect flags 0x130 CanReplacing|ProgramChunks|IsSynth",
      "effect process yes processReplacing yes processDoubleReplacing no",
      "dispatcher effGetEffectName(45) -> 1 \"ZynAddSubFX\"",
      "dispatcher effGetVendorString(47) -> 1 \"ZynAddSubFX Team\"",
      "dispatcher effGetPlugCategory(35) -> 2",  // a synthesizer
      "dispatcher effGetVstVersion(58) -> 2400",
      "dispatcher effCanDo(51) ptr=\"receiveVstMidiEvent\" -> 1",
      "request audioMasterWantMidi(6) -> 1",
      "compare \"first.bin\" \"second.bin\" -> equal ",
      "event midi delta=0 90 3c 64",
      "dispatcher effProcessEvents(25) events=1 -> ",
      "dispatcher effClose(1) -> 1",
  };
  for (const char* s : lines) EXPECT_TRUE(r.has(s)) << s << "\nin:\n" << r.out;
  const std::string saved = dir.read("first.bin");
  EXPECT_GT(saved.size(), 1000u) << "a ZynAddSubFX bank is a sizeable document";
  EXPECT_TRUE(r.has("chunk save bank -> " + std::to_string(saved.size()) + " bytes \"first.bin\"")) << r.out;
  EXPECT_TRUE(r.has("chunk load bank " + std::to_string(saved.size()) + " bytes \"first.bin\" -> 1")) << r.out;
  EXPECT_EQ(dir.read("first.bin"), dir.read("second.bin"));

  const auto p = peaks(r.out);
  ASSERT_EQ(p.size(), 6u) << r.out;
  for (int b = 0; b < 2; ++b) EXPECT_EQ(p[b], (std::vector<double>{0, 0})) << "silence before the note, block " << b;
  for (int b = 2; b < 5; ++b) EXPECT_GT(p[b][0] + p[b][1], 0.001) << "the note sounds in block " << b;
}

TEST(HostWithDebianPlugins, ZynAddSubFXRefusesDoublePrecisionCleanly) {
  if (!exists(kZyn)) GTEST_SKIP() << kZyn << " is not installed";
  ScratchDir dir;
  // Its effect record ends after processReplacing: the host must not read the double-precision entry at all.
  HostRun r = runHost(kZyn, "open\nprocess double\n", dir);
  ASSERT_TRUE(r.exited) << "crashed";
  EXPECT_EQ(r.exitCode, 4);
  EXPECT_NE(r.err.find("plug-in has no processDoubleReplacing"), std::string::npos) << r.err;
}

TEST(HostWithDebianPlugins, DragonflyReverbIdentityParametersChunkAndBlocks) {
  if (!exists(kDragonfly)) GTEST_SKIP() << kDragonfly << " is not installed (dragonfly-reverb-vst)";
  ScratchDir dir;
  // The editor needs an X display, which test machines lack: only its size is asked for.
  HostRun r = runHost(kDragonfly,
                      "open\n"
                      "info\n"
                      "dispatch effGetEffectName\n"
                      "dispatch effGetVendorString\n"
                      "dispatch effGetPlugCategory\n"
                      "dispatch effEditGetRect\n"
                      "setup rate=48000 block=256\n"
                      "resume\n"
                      "param show 1\n"
                      "param set 1 0.25\n"
                      "chunk save quarter.bin\n"
                      "param set 1 0.9\n"
                      "param get 1\n"
                      "chunk load quarter.bin\n"
                      "param get 1\n"
                      "chunk save again.bin\n"
                      "compare quarter.bin again.bin\n"
                      "process float input=impulse\n"
                      "process float count=2\n"
                      "midi b0 07 64\n"
                      "process float\n"
                      "transport playing=1 tempo=90\n"
                      "process accumulate input=impulse\n"
                      "suspend\n",
                      dir);
  ASSERT_TRUE(r.exited) << "crashed";
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const char* lines[] = {
      "entry main",
      "effect uniqueID 1684435506 (0x64667232 'dfr2')",
      "effect numParams 17",
      "effect numInputs 2",
      "effect numOutputs 2",
      "effect flags 0x31 HasEditor|CanReplacing|ProgramChunks",
      "dispatcher effGetEffectName(45) -> 1 \"Dragonfly Room Reverb\"",
      "dispatcher effGetVendorString(47) -> 1 \"Michael Willis\"",
      "dispatcher effGetPlugCategory(35) -> 1",  // an effect
      "dispatcher effEditGetRect(13) -> 1 rect top=0 left=0 bottom=345 right=920",
      "param show 1 -> 0.1 name=\"Early Level\" label=\"%\" display=\"10.000000\"",
      "param get 1 -> 0.9\n",
      "param get 1 -> 0.25\n",  // the chunk brought the saved value back
      "compare \"quarter.bin\" \"again.bin\" -> equal ",
      "dispatcher effProcessEvents(25) events=1 -> ",
      "dispatcher effClose(1) -> 1 (end of script)",
  };
  for (const char* s : lines) EXPECT_TRUE(r.has(s)) << s << "\nin:\n" << r.out;
  EXPECT_LT(r.out.find("param get 1 -> 0.9\n"), r.out.find("param get 1 -> 0.25\n"));

  const auto p = peaks(r.out);
  ASSERT_EQ(p.size(), 5u) << r.out;
  EXPECT_GT(p[0][0], 0.1) << "the impulse passes dry";
  EXPECT_GT(p[1][0], 0.0) << "the room rings on after the impulse";
  EXPECT_GT(p[4][0], 0.1) << "accumulating process works as well";
}

}  // namespace
