// The program dump: packing, every coded field, the parse with its locks, and the guards against bytes
// that must never reach the wire.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "src/ProgramDump.h"
#include "src/VexmirParams.h"
#include "tests/codec/codec_support.h"
#include "tests/codec/program_model.h"
#include "tests/support/SysexDumps.h"

namespace {

using Bytes = std::vector<uint8_t>;
using vexmir::testsupport::dataOf;
using vexmir::testsupport::dumpOf;

Bytes build(const std::vector<double>& v, const std::string& name = "Test", uint8_t device = 0x30) {
  Bytes out(kProgramDumpSize);
  buildProgramDump(v.data(), name, device, out.data());
  return out;
}

ProgramParseResult parse(const Bytes& msg, std::vector<double>& v) {
  ProgramParseResult r;
  parseProgramDump(msg.data(), msg.size(), v.data(), &r);
  return r;
}

bool allSevenBit(const Bytes& msg) {
  for (size_t i = 1; i + 1 < msg.size(); ++i) {
    if (msg[i] & 0x80) return false;
  }
  return true;
}

TEST(InitialProgram, IsAWholeDumpNamedInitSound) {
  const uint8_t* d = initialProgramDump();
  Bytes msg(d, d + kProgramDumpSize);
  EXPECT_EQ(msg[0], 0xF0);
  EXPECT_EQ(msg[1], 0x42);
  EXPECT_EQ(msg[2], 0x30);
  EXPECT_EQ(msg[3], 0x58);
  EXPECT_EQ(msg[4], 0x40);
  EXPECT_EQ(msg[296], 0xF7);
  EXPECT_EQ(std::string(msg.begin() + 6, msg.begin() + 13) + std::string(msg.begin() + 14, msg.begin() + 19),
            "Init Sound  ");
  EXPECT_TRUE(allSevenBit(msg));
  std::vector<double> v = codectest::defaults();
  ProgramParseResult r = parse(msg, v);
  EXPECT_TRUE(r.accepted);
  EXPECT_EQ(r.name, "Init Sound  ");
}

TEST(InitialProgram, TopBitBytesAreZeroExceptFour) {
  const uint8_t* d = initialProgramDump();
  for (int k = 0; k < 37; ++k) {
    int p = 5 + 8 * k;
    uint8_t expected = p == 45 ? 0x08 : p == 109 ? 0x01 : p == 165 ? 0x40 : p == 229 ? 0x08 : 0x00;
    EXPECT_EQ(d[p], expected) << "position " << p;
  }
  // The unpacked bytes that carry bit 7: both channel bytes and both sequence type bytes.
  Bytes data = dataOf(Bytes(d, d + kProgramDumpSize));
  EXPECT_EQ(data[38], 0xFF);
  EXPECT_EQ(data[91], 0xF1);
  EXPECT_EQ(data[146], 0xFF);
  EXPECT_EQ(data[199], 0xF1);
}

TEST(InitialProgram, ReadAndBuiltAgainGivesTheSameBytes) {
  std::vector<double> v = codectest::defaults();
  ProgramParseResult r = parse(Bytes(initialProgramDump(), initialProgramDump() + kProgramDumpSize), v);
  Bytes again = build(v, r.name);
  Bytes original(initialProgramDump(), initialProgramDump() + kProgramDumpSize);
  // The stored program writes single mode as 0x40; the builder writes the same mode as 0x00.
  EXPECT_EQ(original[24], 0x40);
  EXPECT_EQ(again[24], 0x00);
  again[24] = 0x40;
  EXPECT_EQ(again, original);
}

TEST(Packing, UnitsOfSevenWithTheLastOfTwo) {
  uint8_t data[kProgramDataSize];
  for (int i = 0; i < kProgramDataSize; ++i) data[i] = uint8_t(i * 37 + 11);
  uint8_t packed[291] = {};
  EXPECT_EQ(packData(data, kProgramDataSize, packed), 291);
  for (int d = 0; d < kProgramDataSize; ++d) {
    int p = programDataPosition(d) - 5;
    EXPECT_EQ(packed[p], data[d] & 0x7F) << d;
    EXPECT_EQ((packed[8 * (d / 7)] >> (d % 7)) & 1, data[d] >> 7) << d;
  }
  for (int k = 0; k < 37; ++k) EXPECT_EQ(packed[8 * k] & 0x80, 0) << k;
  EXPECT_EQ(programDataPosition(252), 294);
  EXPECT_EQ(programDataPosition(253), 295);
  uint8_t back[kProgramDataSize];
  EXPECT_EQ(unpackData(packed, kProgramDataSize, back), 291);
  EXPECT_EQ(std::memcmp(back, data, sizeof data), 0);
}

TEST(ProgramName, PaddedWithSpacesAndCutAtTwelve) {
  struct Case {
    const char* name;
    const char* bytes;  // the twelve name bytes
  } cases[] = {{"Bass", "Bass        "},
               {"", "            "},
               {"Fifteen Chars!!", "Fifteen Char"},
               {"Exactly 12ch", "Exactly 12ch"}};
  std::vector<double> v = codectest::defaults();
  for (const Case& c : cases) {
    Bytes msg = build(v, c.name);
    Bytes data = dataOf(msg);
    EXPECT_EQ(std::string(data.begin(), data.begin() + 12), c.bytes) << c.name;
    EXPECT_EQ(msg[13], 0) << c.name;
    EXPECT_EQ(msg[19], 0) << c.name;
    EXPECT_EQ(msg[20], 0) << c.name;
  }
  Bytes bass = build(v, "Bass");
  const uint8_t expected[] = {0x42, 0x61, 0x73, 0x73, 0x20, 0x20, 0x20};
  EXPECT_EQ(std::memcmp(&bass[6], expected, 7), 0);
  for (int p = 14; p <= 18; ++p) EXPECT_EQ(bass[p], 0x20);
}

TEST(ProgramName, ReadWithoutZerosAndWithoutTheTopBitByte) {
  std::vector<double> v = codectest::defaults();
  Bytes msg = build(v, "Bass");
  msg[7] = 0;   // "Bss"
  msg[13] = 5;  // a stray top-bit byte between the two halves is no character
  ProgramParseResult r = parse(msg, v);
  EXPECT_EQ(r.name, "Bss        ");
  for (int p : {6, 7, 8, 9, 10, 11, 12, 14, 15, 16, 17, 18}) msg[p] = 0;
  r = parse(msg, v);
  EXPECT_EQ(r.name, "");
  EXPECT_EQ(librarianProgramName(r.name), "Set Name");
  EXPECT_EQ(librarianProgramName("Bass"), "Bass");
}

TEST(Fields, ArpeggiatorTempoTravelsAsTwoBytes) {
  struct Case {
    int tempo;
    int high, low;  // data bytes 30 and 31, bit 7 included
  } cases[] = {{0, 0, 20}, {107, 0, 127}, {108, 0, 128}, {235, 0, 255}, {236, 1, 0}, {280, 1, 44}};
  for (const Case& c : cases) {
    std::vector<double> v = codectest::defaults();
    v[kArpTempo] = c.tempo;
    Bytes msg = build(v);
    Bytes data = dataOf(msg);
    EXPECT_EQ(data[30], c.high) << c.tempo;
    EXPECT_EQ(data[31], c.low) << c.tempo;
    std::vector<double> back = codectest::defaults();
    parse(msg, back);
    EXPECT_EQ(back[kArpTempo], c.tempo);
  }
  // The top-bit byte 0x18 at 37 with 0x7F at 41 reads 235 (and the arpeggiator on).
  std::vector<double> v = codectest::defaults();
  Bytes msg = build(v);
  msg[37] = 0x18;
  msg[41] = 0x7F;
  parse(msg, v);
  EXPECT_EQ(v[kArpTempo], 235);
  EXPECT_EQ(v[kArpOnOff], 1);
}

TEST(Fields, SwingIsASignedByte) {
  struct Case {
    int swing;
    int byte;
  } cases[] = {{0, 0x9C}, {99, 0xFF}, {100, 0x00}, {200, 0x64}, {50, 0xCE}, {150, 0x32}};
  for (const Case& c : cases) {
    std::vector<double> v = codectest::defaults();
    v[kArpSwing] = c.swing;
    Bytes msg = build(v);
    EXPECT_EQ(dataOf(msg)[36], c.byte) << c.swing;
    std::vector<double> back = codectest::defaults();
    parse(msg, back);
    EXPECT_EQ(back[kArpSwing], c.swing);
  }
}

TEST(Fields, CodedFieldsAtTheirPositions) {
  // parameter, value, data byte, expected byte (bit 7 included)
  struct Case {
    int index;
    double value;
    int d;
    int byte;
  } cases[] = {
      {kMultiPartMIDICh, 16, 38, 0xFF},  {kMultiPartMIDICh, 9, 38, 9},       {kEQHiGain, 0, 27, 52},
      {kEQLowGain, 24, 29, 76},          {kTimbreTune, 0, 41, 14},           {kTimbreBendRange, 24, 42, 76},
      {kTimbreTranspose, 48, 43, 88},    {kOsc2Semitone, 45, 51, 57},        {kOsc2Semitone, 127, 51, 88},
      {kOsc2Semitone, 44, 51, 44},       {kOsc2Semitone, 0, 51, 40},         {kModSeqLastStep, 15, 91, 0xF1},
      {kModSeqLastStep, 7, 91, 0x71},    {kArpRange, 3, 33, 0x30},           {kAmpGateSw, 1, 65, 0x40},
      {kVoiceAssign, 2, 39, 0xB0},       {kVoiceAssign, 0, 39, 0x30},        {kLfo1KeySync, 2, 76, 0x22},
      {kVPatchDest1, 7, 82, 0x72},       {kModSeqRunMode, 0, 90, 0x03},      {kDelayFxTempoSync, 1, 19, 0x85},
      {kLfo1TempoSync, 1, 78, 0x83},     {kLfo2TempoSync, 1, 81, 0x8C},      {kModSeqSwitch, 1, 90, 0xC3},
      {kOsc2Tune, 99, 52, 99},           {kSeq3Step16T2, 5, 253, 5},         {kVoiceAssignT2, 2, 147, 0xB0},
      {kModSeqLastStepT2, 3, 199, 0x31}, {kModSeqSwitchT2, 1, 198, 0xC3},    {kLfo1TempoSyncT2, 1, 186, 0x83},
      {kLfo2TempoSyncT2, 1, 189, 0x8C},  {kMultiPartMIDIChT2, 3, 146, 0x03}, {kCommonVoices, 2, 16, 0x80},
  };
  for (const Case& c : cases) {
    std::vector<double> v = codectest::defaults();
    v[c.index] = c.value;
    EXPECT_EQ(dataOf(build(v))[c.d], c.byte) << paramName(c.index) << " = " << c.value;
  }
}

TEST(Fields, VoiceModeTable) {
  struct Case {
    int mode, voices, byte;  // byte with bit 7
  } cases[] = {{0, 1, 0x00}, {1, 0, 0x10}, {1, 2, 0x90}, {2, 0, 0x20}, {2, 2, 0xA0},
               {3, 1, 0x30}, {1, 1, 0x50}, {2, 1, 0x60}, {3, 0, 0x30}, {0, 2, 0x80}};
  for (const Case& c : cases) {
    std::vector<double> v = codectest::defaults();
    v[kCommonMode] = c.mode;
    v[kCommonVoices] = c.voices;
    EXPECT_EQ(dataOf(build(v))[16], c.byte) << c.mode << "," << c.voices;
  }
  // Read back: 0x30 and 0x70 are the vocoder (3, 1), 0x40 is (0, 1) with a refresh.
  std::vector<double> v = codectest::defaults();
  v[kCommonMode] = 2;
  v[kCommonVoices] = 0;
  Bytes msg = build(v);
  msg[24] = 0x30;
  ProgramParseResult r = parse(msg, v);
  EXPECT_EQ(v[kCommonMode], 3);
  EXPECT_EQ(v[kCommonVoices], 1);
  EXPECT_TRUE(r.voiceModeApplied);
  EXPECT_TRUE(r.vocoder);
  EXPECT_FALSE(r.refreshRequested);
  msg[24] = 0x70;
  parse(msg, v);
  EXPECT_EQ(v[kCommonMode], 3);
  EXPECT_EQ(v[kCommonVoices], 1);
  msg[24] = 0x40;
  r = parse(msg, v);
  EXPECT_EQ(v[kCommonMode], 0);
  EXPECT_TRUE(r.refreshRequested);
}

TEST(Fields, GlobalChannelIsMinusOneWhateverTheStoredTopBits) {
  std::vector<double> v = codectest::defaults();
  v[kMultiPartMIDIChT2] = 16;
  EXPECT_EQ(v[kDummyParam21], 0x40);  // as the initial program has it
  EXPECT_EQ(dataOf(build(v))[146], 0xFF);
  v[kDummyParam21] = 0;
  EXPECT_EQ(dataOf(build(v))[146], 0xFF);
  v[kMultiPartMIDICh] = 16;
  v[kDummyParam03] = 0;
  EXPECT_EQ(dataOf(build(v))[38], 0xFF);
}

TEST(Parse, PartChannels) {
  std::vector<double> v = codectest::defaults();
  v[kMultiPartMIDICh] = 4;
  v[kMultiPartMIDIChT2] = 16;
  Bytes msg = build(v);
  EXPECT_EQ(msg[172], 0x7F);
  std::vector<double> back = codectest::defaults();
  back[kMultiPartMIDIChT2] = 7;
  parse(msg, back);
  EXPECT_EQ(back[kMultiPartMIDICh], 4);
  EXPECT_EQ(back[kMultiPartMIDIChT2], 16);
  // A locked channel stays, and the caller learns that it was put back.
  v[kMultiPartMIDICh] = 16;
  msg = build(v);
  back[kMultiPartMIDICh] = 2;
  back[kLockPartMIDIch] = 1;
  ProgramParseResult r = parse(msg, back);
  EXPECT_EQ(back[kMultiPartMIDICh], 2);
  EXPECT_TRUE(r.channelRestored[0]);
  EXPECT_FALSE(r.channelRestored[1]);
}

TEST(Parse, DwgsWaveWhateverTheOscillatorWave) {
  std::vector<double> v = codectest::defaults();
  v[kOsc1DWGSWave] = 33;
  v[kOsc1Waveform] = 4;
  std::vector<double> back = codectest::defaults();
  parse(build(v), back);
  EXPECT_EQ(back[kOsc1DWGSWave], 33);
  back[kOsc1DWGSWave] = 0;
  v[kOsc1Waveform] = 5;
  parse(build(v), back);
  EXPECT_EQ(back[kOsc1DWGSWave], 33);
}

// Rebuilding a parsed program gives the same bytes; a vocoder program's parse leaves the timbre values as
// they were (checked, then carried over), so that the rest must match byte for byte.
TEST(RoundTrip, TenThousandRandomProgramsBuildParseBuild) {
  std::mt19937 rng(20261207);
  for (int n = 0; n < 10000; ++n) {
    std::vector<double> x = codectest::randomProgram(rng);
    std::vector<double> y = codectest::randomProgram(rng);
    const std::vector<double> before = y;
    Bytes first = build(x, "Program" + std::to_string(n % 100000));
    ProgramParseResult r = parse(first, y);
    ASSERT_TRUE(r.accepted);
    auto carry = [&](int index) {
      ASSERT_EQ(y[index], before[index]) << "case " << n << ": " << paramName(index);
      y[index] = x[index];
    };
    ASSERT_EQ(r.vocoder, x[kCommonMode] == 3);
    for (int i = 0; i < kNumParams && r.vocoder; ++i) {
      if (paramInfo(i).perTimbre && paramInfo(i).sound) carry(i);
      if (codectest::inTimbreBlock(i)) y[i] = x[i];
    }
    y[kDummyParam05] = x[kDummyParam05];
    for (int i = 0; i < kNumParams; ++i) {
      if (paramInfo(i).sound) {
        ASSERT_EQ(y[i], x[i]) << "case " << n << ": " << paramName(i);
      }
    }
    Bytes second = build(y, r.name);
    ASSERT_EQ(first, second) << "case " << n;
  }
}

// The codec's packed message, unpacked, equals the data the layout gives for the same values.
TEST(Layout, BuiltDumpsMatchTheIndependentModel) {
  std::mt19937 rng(2145);
  for (int n = 0; n < 3000; ++n) {
    std::vector<double> v = codectest::randomProgram(rng);
    std::string name = "Model " + std::to_string(n);
    Bytes data = dataOf(build(v, name));
    std::vector<uint8_t> expected = codectest::expectedProgramData(v, name);
    for (int d = 0; d < kProgramDataSize; ++d) {
      ASSERT_EQ(data[d], expected[d]) << "case " << n << ", data byte " << d;
    }
  }
}

// And the parse reads the model's data back into the values it was made from.
TEST(Layout, ParseReadsTheIndependentModel) {
  std::mt19937 rng(2106);
  for (int n = 0; n < 3000; ++n) {
    std::vector<double> x = codectest::randomProgram(rng);
    x[kCommonMode] = n % 3;  // synth programs: the parse reads their timbres
    x[kCommonVoices] = 1;
    x[kOsc1Waveform] = 5;
    x[kMultiPartMIDIChT2] = n % 16;
    x[kDummyParam21] = int(x[kDummyParam21]) & 0x3F;  // the channel byte's top bit
    x[kDummyParam34] = int(x[kDummyParam34]) & 3;  // the last unit has two data bytes, so two top bits
    Bytes msg = dumpOf(codectest::expectedProgramData(x, "Parsed"), 0x40, n % 16);
    std::vector<double> y = codectest::randomProgram(rng);
    ProgramParseResult r = parse(msg, y);
    ASSERT_EQ(r.name, "Parsed      ");
    for (int i = 0; i < kNumParams; ++i) {
      if (paramInfo(i).sound && i != kDummyParam05) {
        ASSERT_EQ(y[i], x[i]) << "case " << n << ": " << paramName(i);
      }
    }
  }
}

// Which fields each lock keeps.
struct LockCase {
  int lock;
  std::vector<int> guarded;
};

std::vector<LockCase> lockCases() {
  std::vector<LockCase> cases = {
      {kSectionLockGlobal, {kCommonMode, kCommonVoices, kCommonSplitPoint}},
      {kSectionLockFXDelay, {kDelayFxTempoSync, kDelayFxSyncNote, kDelayFxTime, kDelayFxDepth, kDelayFxType}},
      {kSectionLockFXChorus, {kModFxSpeed, kModFxDepth, kModFxType}},
      {kSectionLockFXEQ, {kEQHiFreq, kEQHiGain, kEQLowFreq, kEQLowGain}},
      {kSectionLockArp,
       {kArpOnOff, kArpLatch, kArpTarget, kArpKeySync, kArpRange, kArpType, kArpGate, kArpReso, kArpSwing}},
      {kOverrideTempo, {kArpTempo}},
  };
  const std::vector<LockCase> timbre = {
      {kLockPartMIDIch, {kMultiPartMIDICh}},
      {kSectionLockVoice,
       {kTimbreTune, kTimbreBendRange, kTimbreTranspose, kVoicePriority, kVoiceTrigger, kVoiceAssign}},
      {kSectionLockUnisono, {kDetune}},
      {kSectionLockPitchMod, {kVibratoInt}},
      {kSectionLockOsc1, {kOsc1Waveform, kOsc1Control1, kOsc1Control2, kOsc1DWGSWave}},
      {kSectionLockOsc2, {kOsc2OscMod, kOsc2Waveform, kOsc2Semitone, kOsc2Tune}},
      {kSectionLockMixer, {kOsc1Level, kOsc2Level, kNoiseLevel}},
      {kSectionLockFilter,
       {kFilterType, kFilterCutoff, kFilterResonance, kFilterEGIntensity, kFilterVeloSense, kFilterKBDTrack}},
      {kSectionLockAmp, {kAmpLevel, kAmpPan, kAmpGateSw, kAmpDistSw, kAmpVeloSense, kAmpKBDTrack}},
      {kSectionLockEg1, {kEG1Attack, kEG1Decay, kEG1Sustain, kEG1Release, kEG1Reset}},
      {kSectionLockEg2, {kEG2Attack, kEG2Decay, kEG2Sustain, kEG2Release, kEG2Reset}},
      {kSectionLockLFO1, {kLfo1Waveform, kLfo1KeySync, kLfo1TempoSync, kLfo1Frequency, kLfo1SyncNote}},
      {kSectionLockLFO2, {kLfo2Waveform, kLfo2KeySync, kLfo2TempoSync, kLfo2Frequency, kLfo2SyncNote}},
      {kSectionLockVP1, {kVPatchSrc1, kVPatchDest1, kVPatchAmnt1}},
      {kSectionLockVP2, {kVPatchSrc2, kVPatchDest2, kVPatchAmnt2}},
      {kSectionLockVP3, {kVPatchSrc3, kVPatchDest3, kVPatchAmnt3}},
      {kSectionLockVP4, {kVPatchSrc4, kVPatchDest4, kVPatchAmnt4}},
  };
  std::vector<LockCase> seqs;
  const int knobs[] = {kSeq1Knob, kSeq2Knob, kSeq3Knob};
  const int motions[] = {kSeq1Motion, kSeq2Motion, kSeq3Motion};
  const int steps[] = {kSeq1Step1, kSeq2Step1, kSeq3Step1};
  const int locks[] = {kSectionLocSeq1Lock, kSectionLocSeq2Lock, kSectionLocSeq3Lock};
  for (int s = 0; s < 3; ++s) {
    LockCase c{locks[s], {knobs[s], motions[s]}};
    for (int i = 0; i < 16; ++i) c.guarded.push_back(steps[s] + 2 * i);
    seqs.push_back(c);
  }
  const std::vector<LockCase>* lists[] = {&timbre, &seqs};
  for (const auto* list : lists) {
    for (const LockCase& c : *list) {
      for (int t = 0; t < 2; ++t) {
        LockCase tc{c.lock + t, {}};
        for (int g : c.guarded) tc.guarded.push_back(g + t);
        cases.push_back(tc);
      }
    }
  }
  return cases;
}

TEST(Parse, ALockedSectionKeepsItsValuesAndNothingElse) {
  std::mt19937 rng(353);
  for (const LockCase& c : lockCases()) {
    for (int round = 0; round < 20; ++round) {
      std::vector<double> x = codectest::randomProgram(rng);
      // Keep the values that a parse never restores out of the way.
      x[kCommonMode] = 1;
      x[kCommonVoices] = 2;
      x[kOsc1Waveform] = x[kOsc1WaveformT2] = 5;
      x[kMultiPartMIDIChT2] = 3;
      x[kDummyParam21] = int(x[kDummyParam21]) & 0x3F;  // the channel byte's top bit
      std::vector<double> y = codectest::randomProgram(rng);
      y[c.lock] = 1.0;
      const std::vector<double> before = y;
      parse(build(x), y);
      for (int i = 0; i < kNumParams; ++i) {
        if (!paramInfo(i).sound || i == kDummyParam05) continue;
        bool guarded = std::find(c.guarded.begin(), c.guarded.end(), i) != c.guarded.end();
        if (guarded) {
          EXPECT_EQ(y[i], before[i]) << paramName(c.lock) << " keeps " << paramName(i);
        } else {
          EXPECT_EQ(y[i], x[i]) << paramName(c.lock) << " lets " << paramName(i) << " follow";
        }
      }
    }
  }
}

TEST(Parse, ALockIsOnlyExactlyOne) {
  std::mt19937 rng(7);
  std::vector<double> x = codectest::randomProgram(rng);
  x[kOsc2Tune] = 10;
  std::vector<double> y = codectest::defaults();
  y[kOsc2Tune] = 99;
  y[kSectionLockOsc2] = 0.999;
  parse(build(x), y);
  EXPECT_EQ(y[kOsc2Tune], 10);
}

TEST(Parse, WrongLengthOrHeaderChangesNothing) {
  std::mt19937 rng(296);
  std::vector<double> x = codectest::randomProgram(rng);
  Bytes good = build(x);
  struct Case {
    const char* what;
    Bytes msg;
  };
  std::vector<Case> cases;
  cases.push_back({"296 bytes", Bytes(good.begin(), good.end() - 1)});
  Bytes longer = good;
  longer.push_back(0xF7);
  cases.push_back({"298 bytes", longer});
  const int header[][2] = {{0, 0xF1}, {1, 0x41}, {2, 0x40}, {2, 0x20}, {3, 0x57}, {4, 0x51}, {296, 0x00}};
  for (const auto& h : header) {
    Bytes bad = good;
    bad[h[0]] = uint8_t(h[1]);
    cases.push_back({"bad header byte", bad});
  }
  for (const Case& c : cases) {
    std::vector<double> y = codectest::randomProgram(rng);
    const std::vector<double> before = y;
    ProgramParseResult r;
    r.changed.push_back(1);
    EXPECT_FALSE(parseProgramDump(c.msg.data(), c.msg.size(), y.data(), &r)) << c.what;
    EXPECT_FALSE(r.accepted);
    EXPECT_TRUE(r.changed.empty());
    EXPECT_EQ(y, before) << c.what;
  }
  // Any channel nibble is taken.
  Bytes other = good;
  other[2] = 0x3F;
  std::vector<double> y = codectest::defaults();
  ProgramParseResult r;
  EXPECT_TRUE(parseProgramDump(other.data(), other.size(), y.data(), &r));
}

TEST(Parse, ChangedListsEveryValueSetInOrder) {
  std::mt19937 rng(11);
  std::vector<double> x = codectest::randomProgram(rng);
  std::vector<double> y = codectest::defaults();
  ProgramParseResult r = parse(build(x), y);
  ASSERT_FALSE(r.changed.empty());
  EXPECT_LT(r.changed.size(), 400);
  EXPECT_EQ(r.changed.front(), kDelayFxTempoSync);  // the first field after the name
  std::vector<bool> seen(kNumParams);
  for (int i : r.changed) seen[i] = true;
  for (int i = 0; i < kNumParams; ++i) {
    if (paramInfo(i).sound && i != kPatchName && y[i] != codectest::defaults()[i]) {
      EXPECT_TRUE(seen[i]) << paramName(i);
    }
  }
}

// Whatever the values and the name, nothing with bit 7 set goes out between F0 and F7.
TEST(SevenBits, OutOfRangeValuesAndNamesNeverReachTheWire) {
  std::vector<double> v = codectest::defaults();
  for (int i = 0; i < kNumParams; ++i) v[i] = 1000;
  Bytes msg = build(v, "\xC3\xA9t\xE9\xFF\x80", 0xFF);
  EXPECT_TRUE(allSevenBit(msg));
  EXPECT_EQ(msg[2], 0x3F);
  EXPECT_EQ(msg[6], 0xC3 & 0x7F);
  EXPECT_EQ(msg[10], 0x7F);
  EXPECT_EQ(msg[11], 0x00);
  EXPECT_EQ(msg[programDataPosition(58)], 127);  // a cutoff of 1000 is sent as 127
  for (double odd : {-1000.0, -1.0, std::nan(""), std::numeric_limits<double>::infinity(), 1e300, 255.0, 128.0}) {
    for (int i = 0; i < kNumParams; ++i) v[i] = odd;
    Bytes m = build(v, std::string(12, char(0xFE)));
    EXPECT_TRUE(allSevenBit(m)) << odd;
  }
  std::mt19937 rng(99);
  std::uniform_real_distribution<double> any(-500, 500);
  for (int n = 0; n < 2000; ++n) {
    for (int i = 0; i < kNumParams; ++i) v[i] = any(rng);
    ASSERT_TRUE(allSevenBit(build(v))) << n;
  }
}

}  // namespace
