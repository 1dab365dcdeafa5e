// A program or global block fetched from the synthesizer goes back as it came: the editor's own path from a
// received dump (the SysEx input's parse) to a sent one (the program and global send jobs), with and
// without an edit in between. Each case is a byte pattern the synthesizer writes and the editor once lost.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "KIT/IEffect/IEffectStructs.h"
#include "src/GlobalDump.h"
#include "src/MIDIMessageManager.h"
#include "src/MIDIMessageSender.h"
#include "src/ProgramDump.h"
#include "tests/codec/fidelity_support.h"
#include "tests/jobs/job_plug.h"

namespace {

using fidelity::dumpOf;
using fidelity::edit;
using fidelity::initialData;
using fidelity::lastSent;
using jobtest::Bytes;
using jobtest::JobPlug;

void receiveProgram(JobPlug& plug, const Bytes& data) {
  Bytes msg = dumpOf(data, kProgramDumpFunction);
  ISysEx sysex(0, msg.data(), static_cast<int>(msg.size()));
  plug.getMidiManager()->sysexPartPatchParse(&sysex);
}

Bytes sendProgram(JobPlug& plug) {
  plug.getMidiManager()->getSender()->sendArrangementToDevice(false);
  return lastSent(plug, kProgramDumpSize, kProgramDataSize);
}

void receiveGlobal(JobPlug& plug, const Bytes& data) {
  Bytes msg = dumpOf(data, kGlobalDumpFunction);
  ISysEx sysex(0, msg.data(), static_cast<int>(msg.size()));
  plug.getMidiManager()->sysexSettingsParse(&sysex);
}

Bytes sendGlobal(JobPlug& plug) {
  plug.getMidiManager()->getSender()->sendGlobalDump();
  return lastSent(plug, kGlobalDumpSize, kGlobalDataSize);
}

// An edit as the editor makes it: the control's normalized value handed to the plug-in.
void expectSameBytes(const Bytes& sent, const Bytes& received) {
  ASSERT_EQ(sent.size(), received.size());
  for (size_t d = 0; d < sent.size(); ++d) {
    EXPECT_EQ(int(sent[d]), int(received[d])) << "data byte " << d;
  }
}

// Data byte 17 is the scale (key in bits 7-4, type in bits 3-0); 37 the keyboard octave, -3..+3 as a signed
// byte; 15 the arpeggiator's step switches, bit 7 the eighth; 48 and 156 the DWGS wave of a timbre whose
// oscillator 1 plays another wave.
TEST(Fidelity, ScaleOctaveStepSwitchAndDwgsWaveComeBackAsTheyCame) {
  for (int octave : {-3, -2, -1, 0, 1, 3}) {
    JobPlug plug;
    Bytes data = initialData();
    data[17] = 0xB7;
    data[37] = static_cast<uint8_t>(octave);
    data[15] = 0x81;
    data[45] = 0;  // saw
    data[48] = 17;
    data[45 + 108] = 2;
    data[48 + 108] = 63;
    receiveProgram(plug, data);
    expectSameBytes(sendProgram(plug), data);
  }
}

// A timbre's channel byte -1 (0xFF) means the global channel, whatever the bytes beside it hold.
TEST(Fidelity, GlobalChannelOfEitherTimbreIsReadFromItsOwnByte) {
  JobPlug plug;
  plug.storeParamValue(kMultiPartMIDICh, 3);
  plug.storeParamValue(kMultiPartMIDIChT2, 5);
  Bytes data = initialData();
  data[37] = 0xFE;  // keyboard octave -2
  data[38] = 0xFF;
  data[146] = 0xFF;
  receiveProgram(plug, data);
  EXPECT_EQ(plug.paramValue(kMultiPartMIDICh), 16);
  EXPECT_EQ(plug.paramValue(kMultiPartMIDIChT2), 16);
  expectSameBytes(sendProgram(plug), data);
}

TEST(Fidelity, NegativeSwingBesideANegativeOctave) {
  JobPlug plug;
  Bytes data = initialData();
  data[36] = static_cast<uint8_t>(-80);
  data[37] = 0xFF;  // keyboard octave -1
  receiveProgram(plug, data);
  EXPECT_EQ(plug.paramValue(kArpSwing), 20);  // -80 %
  expectSameBytes(sendProgram(plug), data);
}

// The voice mode byte: bits 4-5 the mode (3 vocoder); bits the editor has no parameter for stay.
TEST(Fidelity, VoiceModeByteOfAVocoderOrASingleProgram) {
  for (uint8_t mode : {0x30, 0x40, 0x00, 0x70, 0x20}) {
    JobPlug plug;
    plug.storeParamValue(kCommonMode, 2);
    plug.storeParamValue(kCommonVoices, 0);
    Bytes data = initialData();
    data[16] = mode;
    receiveProgram(plug, data);
    EXPECT_EQ(plug.paramValue(kCommonMode), (mode >> 4) & 3) << int(mode);
    EXPECT_EQ(sendProgram(plug)[16], mode);
  }
}

// A vocoder program's block after the common data is not a synth timbre: fetched, a common parameter edited
// and sent, it goes back byte for byte.
TEST(Fidelity, VocoderBlockSurvivesAnEditOfTheCommonParameters) {
  std::mt19937 rng(30);
  for (int round = 0; round < 20; ++round) {
    JobPlug plug;
    Bytes data = initialData();
    for (int d = 38; d < kProgramDataSize; ++d) data[d] = static_cast<uint8_t>(rng());
    data[16] = 0x30;
    receiveProgram(plug, data);
    edit(plug, kDelayFxDepth, 99);
    Bytes sent = sendProgram(plug);
    ASSERT_EQ(sent.size(), data.size());
    EXPECT_EQ(sent[21], 99);
    sent[21] = data[21];
    expectSameBytes(sent, data);
  }
}

// Global data byte 16, bit 7: SysEx passes the synthesizer's MIDI filter. The CC assignments that follow
// (data bytes 18 on) may be off (-1, 0xFF).
TEST(Fidelity, SysExFilterFlagBesideCCAssignmentsThatAreOff) {
  for (int off : {18, 19, 20}) {
    JobPlug plug;
    plug.storeParamValue(kMIDIFilterSysEx, 0);
    Bytes data(globalDumpTemplate() + 5, globalDumpTemplate() + 5 + 229);
    Bytes global(kGlobalDataSize);
    unpackData(data.data(), kGlobalDataSize, global.data());
    global[16] |= 0x80;
    global[off] = 0xFF;
    receiveGlobal(plug, global);
    EXPECT_EQ(plug.paramValue(kMIDIFilterSysEx), 1) << off;
    expectSameBytes(sendGlobal(plug), global);
  }
}

}  // namespace
