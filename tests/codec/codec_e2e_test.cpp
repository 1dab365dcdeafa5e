// The codec against the synthesizer emulator over a real JACK server: dumps the codec builds are taken in by
// the emulator and read back byte for byte from its state, and dumps the emulator sends are read by the codec.
// The emulator packs and unpacks with its own code, so a fault on either side shows as a difference.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "src/GlobalDump.h"
#include "src/ProgramDump.h"
#include "src/VexmirParams.h"
#include "tests/codec/codec_support.h"
#include "tests/codec/program_model.h"
#include "tests/support/EmulatorClient.h"
#include "tests/support/JackMidiPair.h"

using vexmir::testsupport::Bytes;
using vexmir::testsupport::EmulatorClient;
using vexmir::testsupport::isFunction;
using vexmir::testsupport::JackMidiPair;
using vexmir::testsupport::toHex;

namespace {

Bytes request(int channel, uint8_t function) {
  return {0xF0, 0x42, static_cast<uint8_t>(0x30 + channel), 0x58, function, 0xF7};
}

// Programs at the edges of the codings.
std::vector<std::vector<double>> edgePrograms() {
  std::vector<std::vector<double>> out;
  auto with = [&out](std::vector<std::pair<int, double>> changes) {
    std::vector<double> v = codectest::defaults();
    for (const auto& c : changes) v[c.first] = c.second;
    out.push_back(v);
  };
  for (int tempo : {0, 107, 108, 235, 236, 280}) with({{kArpTempo, double(tempo)}});
  for (int swing : {0, 99, 100, 200}) with({{kArpSwing, double(swing)}, {kArpOnOff, 1}, {kArpLatch, 1}});
  with({{kMultiPartMIDICh, 0}, {kMultiPartMIDIChT2, 15}, {kVoiceAssign, 2}, {kVoiceAssignT2, 2}});
  with({{kMultiPartMIDICh, 16}, {kMultiPartMIDIChT2, 16}, {kDummyParam21, 0}});
  with({{kModSeqLastStep, 15}, {kModSeqLastStepT2, 8}, {kModSeqSwitch, 1}, {kModSeqSwitchT2, 1}});
  with({{kCommonMode, 1}, {kCommonVoices, 2}, {kDummyParam01, 16}, {kCommonSplitPoint, 127}});
  with({{kCommonMode, 2}, {kCommonVoices, 1}, {kDelayFxTempoSync, 1}, {kDelayFxSyncNote, 14}});
  with({{kLfo1TempoSync, 1}, {kLfo2TempoSync, 1}, {kLfo1TempoSyncT2, 1}, {kLfo2TempoSyncT2, 1}});
  with({{kOsc2Semitone, 0}, {kOsc2SemitoneT2, 127}, {kOsc1Waveform, 5}, {kOsc1DWGSWave, 63}});
  with({{kTimbreTune, 0}, {kTimbreBendRange, 24}, {kTimbreTranspose, 48}, {kEQHiGain, 0}, {kEQLowGain, 24}});
  // Out of range: sent limited to seven bits.
  with({{kFilterCutoff, 400}, {kArpGate, -3}, {kDummyParam06, 255}, {kDummyParam02, 255}});
  return out;
}

class CodecE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    emu.reset();
    midi.clear();
  }

  Bytes ask(const Bytes& message, uint8_t answerFunction) { return midi.ask(message, answerFunction); }

  // Sends the codec's dump of v and checks the emulator's edit buffer against the layout, byte for byte.
  void sendAndCompare(std::vector<double> v, const std::string& name) {
    Bytes dump(kProgramDumpSize);
    buildProgramDump(v.data(), name, 0x30, dump.data());
    ASSERT_EQ(toHex(ask(dump, 0x23)), "F0 42 30 58 23 F7");
    // The values as they can travel: an out-of-range field goes out limited to its range or to 7 bits.
    for (int i = 0; i < kNumParams; ++i) {
      if (paramInfo(i).sound) v[i] = v[i] < 0 ? 0 : v[i] > 127 ? std::min(v[i], paramInfo(i).max) : v[i];
    }
    std::vector<uint8_t> expected = codectest::expectedProgramData(v, name);
    Bytes edit = emu.editBuffer();
    ASSERT_EQ(edit.size(), 254u);
    for (int d = 0; d < kProgramDataSize; ++d) EXPECT_EQ(edit[d], expected[d]) << "data byte " << d;
    EXPECT_EQ(emu.editName(), (name + std::string(12, ' ')).substr(0, 12));
  }

  EmulatorClient emu;
  JackMidiPair midi{"codec-e2e"};
};

TEST_F(CodecE2E, ProgramsBuiltByTheCodecAreReadByTheEmulatorFieldByField) {
  std::mt19937 rng(4);
  for (int n = 0; n < 30; ++n) {
    SCOPED_TRACE("random program " + std::to_string(n));
    sendAndCompare(codectest::randomProgram(rng), "Random " + std::to_string(n));
  }
  int n = 0;
  for (const auto& v : edgePrograms()) {
    SCOPED_TRACE("edge program " + std::to_string(n));
    sendAndCompare(v, "Edge " + std::to_string(n++));
  }
}

TEST_F(CodecE2E, DumpsMadeByTheEmulatorAreReadByTheCodec) {
  std::mt19937 rng(5);
  std::vector<std::vector<double>> programs = edgePrograms();
  programs.pop_back();  // the out-of-range one does not come back as it was
  for (int n = 0; n < 30; ++n) programs.push_back(codectest::randomProgram(rng));
  int n = 0;
  for (std::vector<double> x : programs) {
    SCOPED_TRACE("program " + std::to_string(n++));
    // A synth program (a vocoder program's timbre values are not read); the last unit carries only two top
    // bits, and timbre 2's channel byte its own.
    if (x[kCommonMode] == 3) x[kCommonMode] = 0;
    x[kDummyParam34] = int(x[kDummyParam34]) & 3;
    x[kDummyParam21] = (int(x[kDummyParam21]) & 0x3F) | (x[kMultiPartMIDIChT2] == 16 ? 0x40 : 0);
    emu.loadEdit(codectest::expectedProgramData(x, "From Synth"));
    Bytes dump = ask(request(0, 0x10), 0x40);
    std::vector<double> y = codectest::randomProgram(rng);
    ProgramParseResult r;
    ASSERT_TRUE(parseProgramDump(dump.data(), dump.size(), y.data(), &r));
    EXPECT_EQ(r.name, "From Synth  ");
    for (int i = 0; i < kNumParams; ++i) {
      if (paramInfo(i).sound && i != kDummyParam05 && i != kPatchName) {
        EXPECT_EQ(y[i], x[i]) << paramName(i);
      }
    }
  }
}

TEST_F(CodecE2E, GlobalDumpsBothWays) {
  std::mt19937 rng(6);
  for (int n = 0; n < 20; ++n) {
    SCOPED_TRACE("global settings " + std::to_string(n));
    emu.reset();
    std::vector<double> v = codectest::defaults();
    for (int i : kGlobalDumpParams) {
      const ParamInfo& p = paramInfo(i);
      v[i] = std::uniform_int_distribution<int>(int(p.min), int(p.max))(rng);
    }
    v[kMIDIFilterSysEx] = n % 4 == 0 ? 0 : 1;  // with SysEx off the emulator answers no request
    Bytes dump(kGlobalDumpSize);
    buildGlobalDump(v.data(), 0x30, dump.data());
    ASSERT_EQ(toHex(ask(dump, 0x23)), "F0 42 30 58 23 F7");
    // The emulator's reading of the data bytes.
    Bytes g = emu.globalData();
    ASSERT_EQ(g.size(), 200u);
    int tune = int(v[kMasterTune]) - 101, transpose = int(v[kMasterTranspose]) - 13;
    EXPECT_EQ(g[0], uint8_t(int8_t(tune)));
    EXPECT_EQ(g[1], uint8_t(int8_t(transpose)));
    EXPECT_EQ(g[2], v[kMasterPosition]);
    EXPECT_EQ(g[3], v[kMasterVelocityValue]);
    EXPECT_EQ(g[4], v[kMasterVelocityArea]);
    EXPECT_EQ(g[5] & 1, v[kMIDIFilterWriteProtect]);
    EXPECT_EQ(g[8], v[kGlobalClockSource]);
    EXPECT_EQ(g[9], v[kGlobalMidiChannel]);
    EXPECT_EQ(emu.channel(), v[kGlobalMidiChannel]);
    EXPECT_EQ(g[16] >> 7, v[kMIDIFilterSysEx]);
    EXPECT_EQ(g[14], v[kGlobalMIDI1Ctrl]);
    EXPECT_EQ(g[15], v[kGlobalMIDI2Ctrl]);
    EXPECT_EQ(g[17], (v[kMIDIFilterProgramChange] == 1 ? 1 : 0) | (v[kMIDIFilterControlChange] == 1 ? 4 : 0) |
                         (v[kMIDIFilterPitchBend] == 1 ? 0x40 : 0));
    // And back, on the channel the dump gave the emulator.
    if (v[kMIDIFilterSysEx] == 0) continue;
    int channel = int(v[kGlobalMidiChannel]);
    Bytes back = ask(request(channel, 0x0E), 0x51);
    EXPECT_EQ(back[2], 0x30 + channel);
    std::vector<double> y = codectest::defaults();
    ASSERT_TRUE(parseGlobalDump(back.data(), back.size(), y.data()));
    for (int i : kGlobalDumpParams) EXPECT_EQ(y[i], v[i]) << paramName(i);
  }
}

}  // namespace
