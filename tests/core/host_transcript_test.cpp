// The real bundle in the test host: what a VST 2 host sees of the plug-in, line by line.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "tests/host/run_host.h"

namespace {

const std::string kBundle = VEXMIR_BUNDLE;

std::vector<std::string> rootEnv(const ScratchDir& dir) {
  return {"VEXMIR_ROOT=" + dir.path()};
}

}  // namespace

TEST(HostTranscript, IdentityDispatcherAndCanDo) {
  ScratchDir dir;
  HostRun r = runHost(kBundle,
                      "host product \"REAPER\"\n"
                      "host vendorversion 9040\n"
                      "open\n"
                      "info\n"
                      "dispatch effIdentify\n"
                      "dispatch effGetVendorVersion\n"
                      "dispatch effGetVstVersion\n"
                      "dispatch effGetPlugCategory\n"
                      "dispatch effGetEffectName ptr=string\n"
                      "dispatch effGetVendorString ptr=string\n"
                      "dispatch effGetProductString ptr=string\n"
                      "dispatch effGetProgram\n"
                      "dispatch effGetProgramName ptr=string\n"
                      "dispatch effGetProgramNameIndexed ptr=string\n"
                      "dispatch effGetParamName index=0 ptr=string\n"
                      "dispatch effGetParamLabel index=3 ptr=string\n"
                      "dispatch effGetParamDisplay index=528 ptr=string\n"
                      "dispatch effCanBeAutomated index=4\n"
                      "dispatch effString2Parameter index=0 ptr=text:1\n"
                      "dispatch effGetInputProperties index=0 ptr=pin\n"
                      "dispatch effGetInputProperties index=1 ptr=pin\n"
                      "dispatch effGetOutputProperties index=0 ptr=pin\n"
                      "dispatch effGetOutputProperties index=2 ptr=pin\n"
                      "dispatch effSetSpeakerArrangement speakers=2,2\n"
                      "dispatch effVendorSpecific index=7 ptr=string\n"
                      "dispatch effVendorSpecific index=2 ptr=string\n"
                      "dispatch effEditGetRect ptr=rect\n"
                      "dispatch effSetSampleRate opt=48000\n"
                      "dispatch effSetBlockSize value=256\n"
                      "dispatch effMainsChanged value=1\n"
                      "dispatch effGetTailSize\n"
                      "dispatch effCanDo ptr=text:receiveVstTimeInfo\n"
                      "dispatch effCanDo ptr=text:sendVstEvents\n"
                      "dispatch effCanDo ptr=text:sendVstMidiEvent\n"
                      "dispatch effCanDo ptr=text:receiveVstEvents\n"
                      "dispatch effCanDo ptr=text:receiveVstMidiEvent\n"
                      "dispatch effCanDo ptr=text:hasHostExtensions\n"
                      "dispatch effCanDo ptr=text:hasHostViewAsConfig\n"
                      "dispatch effCanDo ptr=text:bypass\n",
                      dir, {}, rootEnv(dir));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const char* expected[] = {
      "request audioMasterGetProductString(33) \"REAPER\" -> 1",
      "request audioMasterGetVendorVersion(34) -> 9040",
      "dispatcher effOpen(0) -> 0",
      "effect uniqueID 2021156706 (0x78786762 'xxgb')",
      "effect version 20008",
      "effect numPrograms 1",
      "effect numParams 0",
      "effect numInputs 2",
      "effect numOutputs 2",
      "effect flags 0x1131 HasEditor|CanReplacing|ProgramChunks|IsSynth|CanDoubleReplacing",
      "effect initialDelay 128",
      "dispatcher effIdentify(22) -> 1316373862",
      "dispatcher effGetVendorVersion(49) -> 131080",
      "dispatcher effGetVstVersion(58) -> 2400",
      "dispatcher effGetPlugCategory(35) -> 2",
      "dispatcher effGetEffectName(45) -> 1 \"Vexmir Editor\"",
      "dispatcher effGetVendorString(47) -> 1 \"Pellacor\"",
      "dispatcher effGetProductString(48) -> 1 \"\"",
      "dispatcher effGetProgram(3) -> 0",
      "dispatcher effGetProgramName(5) -> 0 \"\"",
      "dispatcher effGetProgramNameIndexed(29) -> 0 \"\"",
      "dispatcher effGetParamName(8) -> 0 \"\"",
      "dispatcher effGetParamLabel(6) index=3 -> 0 \"\"",
      "dispatcher effGetParamDisplay(7) index=528 -> 0 \"\"",
      "dispatcher effCanBeAutomated(26) index=4 -> 1",
      "dispatcher effString2Parameter(27) ptr=\"1\" -> 0",
      "dispatcher effGetInputProperties(33) -> 1 pin label=\"Input 1\" flags=3",
      "dispatcher effGetInputProperties(33) index=1 -> 1 pin label=\"Input 2\" flags=1",
      "dispatcher effGetOutputProperties(34) -> 1 pin label=\"Output 1\" flags=3",
      "dispatcher effGetOutputProperties(34) index=2 -> 0",
      "dispatcher effSetSpeakerArrangement(42) speakers=2,2 -> 1",
      "dispatcher effVendorSpecific(50) index=7 -> 48879",
      "dispatcher effVendorSpecific(50) index=2 -> 0",
      "dispatcher effEditGetRect(13) -> 1 rect top=0 left=0 bottom=667 right=1500",
      "dispatcher effSetSampleRate(10) opt=48000 -> 0",
      "dispatcher effSetBlockSize(11) value=256 -> 0",
      "dispatcher effMainsChanged(12) value=1 -> 0",
      "dispatcher effGetTailSize(52) -> 0",
      "dispatcher effCanDo(51) ptr=\"receiveVstTimeInfo\" -> 1",
      "dispatcher effCanDo(51) ptr=\"sendVstEvents\" -> 1",
      "dispatcher effCanDo(51) ptr=\"sendVstMidiEvent\" -> 1",
      "dispatcher effCanDo(51) ptr=\"receiveVstEvents\" -> 1",
      "dispatcher effCanDo(51) ptr=\"receiveVstMidiEvent\" -> 1",
      "dispatcher effCanDo(51) ptr=\"hasHostExtensions\" -> 3203334144",
      "dispatcher effCanDo(51) ptr=\"hasHostViewAsConfig\" -> 3203334144",
      "dispatcher effCanDo(51) ptr=\"bypass\" -> 0",
      "dispatcher effClose(1) -> 0 (end of script)",
  };
  for (const char* line : expected) EXPECT_TRUE(r.has(line)) << line << "\nin:\n" << r.out;
}

TEST(HostTranscript, ChunksEventsAndProcessing) {
  ScratchDir dir;
  dir.write("halfheader.bin", std::string("\x74\x66\x66\x70\x00", 5));
  HostRun r = runHost(kBundle,
                      "open\n"
                      "chunk save " +
                          dir.file("preset.bin") +
                          " preset\n"
                          "chunk save " +
                          dir.file("bank.bin") +
                          " bank\n"
                          "compare " +
                          dir.file("preset.bin") + " " + dir.file("bank.bin") +
                          "\n"
                          "chunk load " +
                          dir.file("preset.bin") +
                          " preset\n"
                          "chunk load " +
                          dir.file("halfheader.bin") +
                          " preset\n"
                          "chunk load " +
                          dir.file("halfheader.bin") +
                          " bank\n"
                          "sysex F0 42 30 58 4E 00 00 F7\n"
                          "midi B0 07 64\n"
                          "events\n"
                          "process double\n"
                          "process float count=2\n"
                          "process accumulate\n",
                      dir, {}, rootEnv(dir));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const char* expected[] = {
      "compare ",
      "-> equal ",
      "request audioMasterProcessEvents(8) events=1 [sysex delta=0 bytes=8 f0 42 30 58 4e 00 00 f7] -> 1",
      "dispatcher effProcessEvents(25) events=2 -> 1",
      "process double frames=512 in=2 out=2",
  };
  for (const char* line : expected) EXPECT_TRUE(r.has(line)) << line << "\nin:\n" << r.out;
  EXPECT_NE(r.out.find("\"" + dir.file("preset.bin") + "\" -> 1"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("5 bytes \"" + dir.file("halfheader.bin") + "\" -> 0"), std::string::npos) << r.out;
  // The header 74 66 66 70 00 00 01 00, then the body: version 4, big-endian.
  EXPECT_EQ(dir.read("preset.bin").substr(0, 12), std::string("\x74\x66\x66\x70\x00\x00\x01\x00\x00\x00\x00\x04", 12));
  // Every process call asks for MIDI: four blocks, four requests (folded into counted lines or not).
  size_t wantMidi = 0;
  for (size_t at = r.out.find("audioMasterWantMidi(6)"); at != std::string::npos;
       at = r.out.find("audioMasterWantMidi(6)", at + 1))
    ++wantMidi;
  EXPECT_EQ(wantMidi, 4u) << r.out;
  // The MIDI event stays with the plug-in: only the SysEx comes back.
  EXPECT_EQ(r.out.find("[midi"), std::string::npos) << r.out;
}
