// The real editor against the synthesizer emulator over a real JACK server: programs and global data that use
// the fields the editor once lost are fetched, read as the emulator reads them, edited through the controls'
// bindings and sent back, and the emulator's memory keeps every byte the editor did not edit.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>

#include "KIT/IEffect/IParam.h"
#include "src/MIDIMessageManager.h"
#include "src/ProgramDump.h"
#include "src/Vexmir.h"
#include "tests/codec/fidelity_support.h"
#include "tests/jobs/emulator_plug.h"
#include "tests/support/EmulatorClient.h"

using vexmir::testsupport::Bytes;
using vexmir::testsupport::EmulatorClient;

namespace {

class FidelityE2E : public jobtest::EmulatorTest {
 protected:
  // The emulator's reading of the edit buffer or the global data.
  std::map<std::string, int> fields(const std::string& what) {
    std::map<std::string, int> f;
    for (const std::string& line : emulator.command("fields " + what).lines) {
      const size_t space = line.rfind(' ');
      f[line.substr(0, space)] = std::stoi(line.substr(space + 1));
    }
    return f;
  }

  // Connects and fetches the global data and the current program.
  void fetch(jobtest::EmulatorPlug& plug) {
    ASSERT_TRUE(plug.connect());
    plug.connectPending = true;
    ASSERT_TRUE(plug.run(kJobDeviceIdEnquiry));
    ASSERT_TRUE(plug.run(kJobActiveArrangementRequest, true));
    ASSERT_EQ(plug.lastText(), "Data request completed!");
  }

  // An edit as a control makes it, and the message it sends reaching the emulator.
  void edit(jobtest::EmulatorPlug& plug, int index, double value, const std::string& logged) {
    const size_t mark = emulator.logMark();
    fidelity::edit(plug, index, value);
    ASSERT_TRUE(emulator.waitForLog(logged, mark).has_value()) << paramName(index);
  }

  void sendProgram(jobtest::EmulatorPlug& plug) {
    const size_t mark = emulator.logMark();
    ASSERT_TRUE(plug.run(kJobSendArrangement, false));
    ASSERT_TRUE(emulator.waitForLog("loaded into the edit buffer", mark).has_value());
  }
};

TEST_F(FidelityE2E, ASynthProgramIsReadAsTheSynthesizerReadsItAndComesBackWithTheEditsOnly) {
  Bytes data = fidelity::initialData();
  data[15] = 0x81;                       // arpeggio steps 1 and 8
  data[17] = 0xB7;                       // scale key 11, type 7
  data[36] = static_cast<uint8_t>(-80);  // swing -80 %
  data[37] = static_cast<uint8_t>(-3);   // keyboard octave -3
  data[38] = 0xFF;                       // timbre 1 on the global channel
  data[38 + 7] = 0;                      // saw, with a DWGS wave kept beside it
  data[38 + 10] = 17;
  data[146] = 0xFF;
  data[146 + 10] = 63;
  emulator.loadEdit(data);
  Bytes global = emulator.globalData();
  global[16] |= 0x80;  // SysEx passes
  global[18] = 0xFF;   // the first CC assignment off
  global[2] = 0;       // Post KBD
  emulator.loadGlobal(global);

  jobtest::EmulatorPlug plug(&clock);
  fetch(plug);
  std::map<std::string, int> synth = fields("edit");
  EXPECT_EQ(plug.paramValue(kCommonMode), synth["voice mode"]);
  EXPECT_EQ(plug.paramValue(kArpSwing) - 100, synth["arpeggio swing"]);
  EXPECT_EQ(plug.paramValue(kArpGate), synth["arpeggio gate"]);
  for (int t = 0; t < 2; ++t) {
    const std::string timbre = "timbre " + std::to_string(t + 1) + " ";
    EXPECT_EQ(synth[timbre + "channel"], -1);
    EXPECT_EQ(plug.paramValue(kMultiPartMIDICh + t), 16);
    EXPECT_EQ(plug.paramValue(kOsc1Waveform + t), synth[timbre + "osc1 wave"]);
    EXPECT_EQ(plug.paramValue(kOsc1DWGSWave + t), synth[timbre + "dwgs wave"]);
  }
  std::map<std::string, int> settings = fields("global");
  EXPECT_EQ(plug.paramValue(kMIDIFilterSysEx), settings["sysex filter"]);
  EXPECT_EQ(plug.paramValue(kMasterPosition), settings["position"]);
  EXPECT_STREQ(plug.GetParam(kMasterPosition)->GetDisplayText(int(plug.paramValue(kMasterPosition))), "Post KBD");
  // The LFOs count their note values from the longest, the delay from the shortest.
  EXPECT_STREQ(plug.GetParam(kLfo1SyncNote)->GetDisplayText(0), "1/1");
  EXPECT_STREQ(plug.GetParam(kLfo2SyncNoteT2)->GetDisplayText(14), "1/32");
  EXPECT_STREQ(plug.GetParam(kDelayFxSyncNote)->GetDisplayText(0), "1/32");

  // The gate's NRPN and the distortion's control change reach the synthesizer's own fields.
  edit(plug, kArpGate, 30, "NRPN 00 0A");
  edit(plug, kAmpDistSw, 1, "CC 92 timbre 1");
  synth = fields("edit");
  EXPECT_EQ(synth["arpeggio gate"], 30);
  EXPECT_EQ(synth["timbre 1 distortion"], 1);

  sendProgram(plug);
  Bytes expected = data;
  expected[34] = 30;
  expected[38 + 27] |= 0x01;
  Bytes back = emulator.editBuffer();
  for (int d = 0; d < kProgramDataSize; ++d) EXPECT_EQ(int(back[d]), int(expected[d])) << "data byte " << d;

  const size_t mark = emulator.logMark();
  ASSERT_TRUE(plug.run(kJobSendGlobal));
  ASSERT_TRUE(emulator.waitForLog("global dump stored", mark).has_value());
  EXPECT_EQ(emulator.globalData(), global);
}

TEST_F(FidelityE2E, AVocoderProgramKeepsItsBlockThroughAnEditAndAVoiceModeChange) {
  std::mt19937 rng(2606);
  Bytes data = fidelity::initialData();
  for (int d = 38; d < kProgramDataSize; ++d) data[d] = static_cast<uint8_t>(rng());
  data[16] = 0x30;
  emulator.loadEdit(data);

  jobtest::EmulatorPlug plug(&clock);
  fetch(plug);
  EXPECT_EQ(plug.paramValue(kCommonMode), 3);
  edit(plug, kModFxDepth, 77, "CC 93");
  sendProgram(plug);
  Bytes expected = data;
  expected[24] = 77;
  EXPECT_EQ(emulator.editBuffer(), expected);

  // The voice mode's parameter change moves the mode's bits only.
  edit(plug, kCommonMode, 2, "parameter 16");
  EXPECT_EQ(fields("edit")["voice mode"], 2);
  expected[16] = 0x20;
  EXPECT_EQ(emulator.editBuffer(), expected);
}

}  // namespace
