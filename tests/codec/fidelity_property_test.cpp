// Random programs and global blocks through the editor's own path: a dump received by the SysEx input's
// parse, one parameter edited as a control edits it, the dump the send job builds. Each field the editor has
// a parameter for must read as drawn, and the sent data must differ from the received data in exactly the
// bits of the edited parameter's field: everything else, bytes the editor knows nothing of included, goes
// back as it came.
//
// The field map below is written from the program and global data layout, apart from the codec. The counts
// are small in CI; VEXMIR_FIDELITY_PROGRAMS and VEXMIR_FIDELITY_GLOBALS set them by hand (100000 and 10000
// for a long run). A failure prints its case number, the data drawn and the bytes that differ.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "KIT/IEffect/IEffectStructs.h"
#include "src/GlobalDump.h"
#include "src/MIDIMessageManager.h"
#include "src/MIDIMessageSender.h"
#include "src/ProgramDump.h"
#include "tests/codec/fidelity_support.h"
#include "platform/vst2/vst2.h"
#include "tests/jobs/job_plug.h"
#include "tests/support/Files.h"
#include "tests/support/ProjectChunk.h"

namespace {

using fidelity::dumpOf;
using fidelity::edit;
using fidelity::lastSent;
using jobtest::Bytes;
using jobtest::JobPlug;

int countFromEnvironment(const char* name, int fallback) {
  const char* text = std::getenv(name);
  const int n = text ? std::atoi(text) : 0;
  return n > 0 ? n : fallback;
}

enum class Coding { Bits, Signed, Channel, Semitone, Tempo };

// One field: a parameter's bits in a data byte (a tempo spans this byte and the next).
struct Field {
  int param;
  int d;
  uint8_t mask;
  int shift;
  int bias;  // byte value = parameter value + bias (Signed: the byte is that as a signed number)
  Coding coding;
};

const int kSemitones[49] = {0,  3,  6,  8,  11,  14,  16,  19,  21,  24,  27,  29,  32,  34,  37, 40, 42,
                            45, 48, 50, 53, 55,  58,  61,  64,  66,  68,  71,  74,  76,  79,  81, 84, 87,
                            89, 92, 95, 97, 100, 102, 105, 108, 110, 113, 115, 118, 121, 123, 127};

std::vector<Field> commonFields() {
  return {
      {kCommonSplitPoint, 18, 0x7F, 0, 0, Coding::Bits},  {kDelayFxSyncNote, 19, 0x7F, 0, 0, Coding::Bits},
      {kDelayFxTempoSync, 19, 0x80, 7, 0, Coding::Bits},  {kDelayFxTime, 20, 0x7F, 0, 0, Coding::Bits},
      {kDelayFxDepth, 21, 0x7F, 0, 0, Coding::Bits},      {kDelayFxType, 22, 0x7F, 0, 0, Coding::Bits},
      {kModFxSpeed, 23, 0x7F, 0, 0, Coding::Bits},        {kModFxDepth, 24, 0x7F, 0, 0, Coding::Bits},
      {kModFxType, 25, 0x7F, 0, 0, Coding::Bits},         {kEQHiFreq, 26, 0x7F, 0, 0, Coding::Bits},
      {kEQHiGain, 27, 0x7F, 0, 52, Coding::Bits},         {kEQLowFreq, 28, 0x7F, 0, 0, Coding::Bits},
      {kEQLowGain, 29, 0x7F, 0, 52, Coding::Bits},        {kArpTempo, 30, 0xFF, 0, 20, Coding::Tempo},
      {kArpKeySync, 32, 0x0F, 0, 0, Coding::Bits},        {kArpTarget, 32, 0x30, 4, 0, Coding::Bits},
      {kArpLatch, 32, 0x40, 6, 0, Coding::Bits},          {kArpOnOff, 32, 0x80, 7, 0, Coding::Bits},
      {kArpType, 33, 0x0F, 0, 0, Coding::Bits},           {kArpRange, 33, 0x30, 4, 0, Coding::Bits},
      {kArpGate, 34, 0x7F, 0, 0, Coding::Bits},           {kArpReso, 35, 0x7F, 0, 0, Coding::Bits},
      {kArpSwing, 36, 0xFF, 0, -100, Coding::Signed},
  };
}

// Timbre 1's fields at their timbre offsets; timbre 2's lie 108 bytes on, with the parameter index + 1.
std::vector<Field> timbreFields() {
  std::vector<Field> f = {
      {kMultiPartMIDICh, 0, 0xFF, 0, 0, Coding::Channel}, {kVoicePriority, 1, 0x07, 0, 0, Coding::Bits},
      {kVoiceTrigger, 1, 0x08, 3, 0, Coding::Bits},       {kEG1Reset, 1, 0x10, 4, 0, Coding::Bits},
      {kEG2Reset, 1, 0x20, 5, 0, Coding::Bits},           {kVoiceAssign, 1, 0xC0, 6, 0, Coding::Bits},
      {kDetune, 2, 0x7F, 0, 0, Coding::Bits},             {kTimbreTune, 3, 0x7F, 0, 14, Coding::Bits},
      {kTimbreBendRange, 4, 0x7F, 0, 52, Coding::Bits},   {kTimbreTranspose, 5, 0x7F, 0, 40, Coding::Bits},
      {kVibratoInt, 6, 0x7F, 0, 0, Coding::Bits},         {kOsc1Waveform, 7, 0x7F, 0, 0, Coding::Bits},
      {kOsc1Control1, 8, 0x7F, 0, 0, Coding::Bits},       {kOsc1Control2, 9, 0x7F, 0, 0, Coding::Bits},
      {kOsc1DWGSWave, 10, 0x7F, 0, 0, Coding::Bits},      {kOsc2Waveform, 12, 0x0F, 0, 0, Coding::Bits},
      {kOsc2OscMod, 12, 0x30, 4, 0, Coding::Bits},        {kOsc2Semitone, 13, 0x7F, 0, 0, Coding::Semitone},
      {kOsc2Tune, 14, 0x7F, 0, 0, Coding::Bits},          {kPortamento, 15, 0x7F, 0, 0, Coding::Bits},
      {kAmpGateSw, 27, 0x40, 6, 0, Coding::Bits},         {kAmpDistSw, 27, 0x01, 0, 0, Coding::Bits},
      {kAmpVeloSense, 28, 0x7F, 0, 0, Coding::Bits},      {kAmpKBDTrack, 29, 0x7F, 0, 0, Coding::Bits},
      {kLfo1Waveform, 38, 0x0F, 0, 0, Coding::Bits},      {kLfo1KeySync, 38, 0x30, 4, 0, Coding::Bits},
      {kLfo1Frequency, 39, 0x7F, 0, 0, Coding::Bits},     {kLfo1SyncNote, 40, 0x7F, 0, 0, Coding::Bits},
      {kLfo1TempoSync, 40, 0x80, 7, 0, Coding::Bits},     {kLfo2Waveform, 41, 0x0F, 0, 0, Coding::Bits},
      {kLfo2KeySync, 41, 0x30, 4, 0, Coding::Bits},       {kLfo2Frequency, 42, 0x7F, 0, 0, Coding::Bits},
      {kLfo2SyncNote, 43, 0x7F, 0, 0, Coding::Bits},      {kLfo2TempoSync, 43, 0x80, 7, 0, Coding::Bits},
      {kModSeqResolution, 52, 0x0F, 0, 0, Coding::Bits},  {kModSeqRunMode, 52, 0x40, 6, 0, Coding::Bits},
      {kModSeqSwitch, 52, 0x80, 7, 0, Coding::Bits},      {kModSeqLastStep, 53, 0xF0, 4, 0, Coding::Bits},
      {kModSeqType, 53, 0x0C, 2, 0, Coding::Bits},        {kModSeqKeySync, 53, 0x03, 0, 0, Coding::Bits},
  };
  const int straight[] = {kOsc1Level,       kOsc2Level,         kNoiseLevel,      kFilterType,     kFilterCutoff,
                          kFilterResonance, kFilterEGIntensity, kFilterVeloSense, kFilterKBDTrack, kAmpLevel,
                          kAmpPan};
  for (int i = 0; i < 11; ++i) f.push_back({straight[i], 16 + i, 0x7F, 0, 0, Coding::Bits});
  const int envelopes[] = {kEG1Attack, kEG1Decay, kEG1Sustain, kEG1Release,
                           kEG2Attack, kEG2Decay, kEG2Sustain, kEG2Release};
  for (int i = 0; i < 8; ++i) f.push_back({envelopes[i], 30 + i, 0x7F, 0, 0, Coding::Bits});
  for (int n = 0; n < 4; ++n) {
    f.push_back({kVPatchSrc1 + 2 * n, 44 + 2 * n, 0x0F, 0, 0, Coding::Bits});
    f.push_back({kVPatchDest1 + 2 * n, 44 + 2 * n, 0x70, 4, 0, Coding::Bits});
    f.push_back({kVPatchAmnt1 + 2 * n, 45 + 2 * n, 0x7F, 0, 0, Coding::Bits});
  }
  const int knobs[] = {kSeq1Knob, kSeq2Knob, kSeq3Knob};
  const int motions[] = {kSeq1Motion, kSeq2Motion, kSeq3Motion};
  const int steps[] = {kSeq1Step1, kSeq2Step1, kSeq3Step1};
  for (int s = 0; s < 3; ++s) {
    f.push_back({knobs[s], 54 + 18 * s, 0x7F, 0, 0, Coding::Bits});
    f.push_back({motions[s], 55 + 18 * s, 0x7F, 0, 0, Coding::Bits});
    for (int i = 0; i < 16; ++i) f.push_back({steps[s] + 2 * i, 56 + 18 * s + i, 0x7F, 0, 0, Coding::Bits});
  }
  std::vector<Field> both;
  for (int t = 0; t < 2; ++t)
    for (Field x : f) {
      x.param += t;
      x.d += 38 + 108 * t;
      both.push_back(x);
    }
  return both;
}

// The voice mode byte (16): bits 4-5 the mode, bit 7 two voices, bit 6 one voice of a split or layer. Bit 6
// belongs to both parameters.
const Field kModeField{kCommonMode, 16, 0x70, 4, 0, Coding::Bits};
const Field kVoicesField{kCommonVoices, 16, 0xC0, 6, 0, Coding::Bits};

// Writes value into the data as the field codes it.
void encode(const Field& f, int value, Bytes& data) {
  auto put = [&data](int d, uint8_t mask, int byte) { data[d] = uint8_t((data[d] & ~mask) | (byte & mask)); };
  switch (f.coding) {
    case Coding::Bits:
      put(f.d, f.mask, (value + f.bias) << f.shift);
      break;
    case Coding::Signed:
      put(f.d, f.mask, int8_t(value + f.bias) & 0xFF);
      break;
    case Coding::Channel:
      put(f.d, f.mask, value == 16 ? 0xFF : value);
      break;
    case Coding::Semitone:
      for (int i = 0; i < 49; ++i)
        if (kSemitones[i] == value) put(f.d, f.mask, 40 + i);
      break;
    case Coding::Tempo:
      put(f.d, 0xFF, (value + f.bias) >> 8);
      put(f.d + 1, 0xFF, (value + f.bias) & 0xFF);
      break;
  }
}

// The bits of a field, as (data byte, mask) pairs.
std::vector<std::pair<int, uint8_t>> bitsOf(const Field& f) {
  if (f.coding == Coding::Tempo) return {{f.d, 0xFF}, {f.d + 1, 0xFF}};
  return {{f.d, f.mask}};
}

void encodeVoiceMode(int mode, int voices, Bytes& data) {
  uint8_t b = data[16] & 0x0F;
  b |= uint8_t(mode << 4);
  if (voices == 2) b |= 0x80 | (data[16] & 0x40);
  if (voices == 1 && (mode == 1 || mode == 2)) b |= 0x40;
  if (voices == 1 && (mode == 0 || mode == 3)) b |= data[16] & 0x40;
  data[16] = b;
}

// A value of the parameter's range, often one of its ends.
int drawValue(int param, std::mt19937& rng) {
  const ParamInfo& p = paramInfo(param);
  if (param == kOsc2Semitone || param == kOsc2SemitoneT2) return kSemitones[rng() % 49];
  const int lo = int(p.min), hi = int(p.max);
  switch (rng() % 4) {
    case 0:
      return lo;
    case 1:
      return hi;
    default:
      return std::uniform_int_distribution<int>(lo, hi)(rng);
  }
}

std::string hex(const Bytes& b) {
  std::string s;
  char t[4];
  for (uint8_t x : b) {
    std::snprintf(t, sizeof t, "%02X ", x);
    s += t;
  }
  return s;
}

// Compares what was sent with what was received, the edited field's bits aside, and that field with the
// edited value encoded into the received data.
::testing::AssertionResult onlyFieldDiffers(const Bytes& received, const Bytes& sent,
                                            const std::vector<std::pair<int, uint8_t>>& bits, const Bytes& expected) {
  if (sent.size() != received.size()) return ::testing::AssertionFailure() << "no dump was sent";
  std::vector<uint8_t> masks(received.size(), 0);
  for (const auto& b : bits) masks[static_cast<size_t>(b.first)] |= b.second;
  std::string diff;
  for (size_t d = 0; d < sent.size(); ++d) {
    const uint8_t want = uint8_t((received[d] & ~masks[d]) | (expected[d] & masks[d]));
    if (sent[d] != want) {
      char t[64];
      std::snprintf(t, sizeof t, " byte %zu: sent %02X, expected %02X;", d, sent[d], want);
      diff += t;
    }
  }
  if (diff.empty()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << diff;
}

// A random program: every field the editor has a parameter for holds a value of its range, every other bit is
// random (the name printable). A vocoder program has no timbre fields: its timbre area is random bytes.
struct DrawnProgram {
  Bytes data = Bytes(kProgramDataSize);
  int mode = 0, voices = 0;
  std::vector<Field> fields;
  std::vector<int> drawn = std::vector<int>(kNumParams, 0);
};

DrawnProgram drawProgram(std::mt19937& rng) {
  static const std::vector<Field> common = commonFields(), timbres = timbreFields();
  DrawnProgram p;
  for (uint8_t& b : p.data) b = uint8_t(rng());
  for (int i = 0; i < kProgramNameLength; ++i) p.data[i] = uint8_t((p.data[i] & 0x80) | (0x20 + rng() % 95));
  p.mode = int(rng() % 4);
  p.voices = p.mode == 1 || p.mode == 2 ? int(rng() % 3) : 1 + int(rng() % 2);
  encodeVoiceMode(p.mode, p.voices, p.data);
  p.fields = common;
  if (p.mode != 3) p.fields.insert(p.fields.end(), timbres.begin(), timbres.end());
  for (const Field& f : p.fields) {
    p.drawn[f.param] = drawValue(f.param, rng);
    encode(f, p.drawn[f.param], p.data);
  }
  return p;
}

TEST(FidelityProperty, RandomProgramsGoBackWithOnlyTheEditedFieldChanged) {
  const int count = countFromEnvironment("VEXMIR_FIDELITY_PROGRAMS", 2000);
  std::mt19937 rng(30);
  JobPlug plug;
  int vocoders = 0;
  for (int n = 0; n < count; ++n) {
    const DrawnProgram program = drawProgram(rng);
    const Bytes& data = program.data;
    const int mode = program.mode, voices = program.voices;
    const bool vocoder = mode == 3;
    vocoders += vocoder;
    const std::vector<Field>& fields = program.fields;
    const std::vector<int>& drawn = program.drawn;

    plug.clearMessages();
    Bytes msg = dumpOf(data, kProgramDumpFunction);
    ISysEx sysex(0, msg.data(), static_cast<int>(msg.size()));
    plug.getMidiManager()->sysexPartPatchParse(&sysex);
    const std::string context = "case " + std::to_string(n) + ", data " + hex(data);
    ASSERT_EQ(plug.paramValue(kCommonMode), mode) << context;
    ASSERT_EQ(plug.paramValue(kCommonVoices), voices) << context;
    for (const Field& f : fields) ASSERT_EQ(plug.paramValue(f.param), drawn[f.param]) << paramName(f.param) << ", " << context;

    // One edit: any field of the program, or the voice mode or voices within the synth modes.
    const size_t pick = rng() % (fields.size() + (vocoder ? 0 : 2));
    Field field = pick < fields.size() ? fields[pick] : pick == fields.size() ? kModeField : kVoicesField;
    int value = drawValue(field.param, rng);
    Bytes expected = data;
    if (field.param == kCommonMode) {
      value = int(rng() % 3);
      encodeVoiceMode(value, voices == 0 && (value == 0) ? 1 : voices, expected);
      if (voices == 0 && value == 0) continue;  // not a pair the editor has for single mode
    } else if (field.param == kCommonVoices) {
      value = mode == 1 || mode == 2 ? int(rng() % 3) : 1 + int(rng() % 2);
      encodeVoiceMode(mode, value, expected);
    } else {
      encode(field, value, expected);
    }
    edit(plug, field.param, value);
    plug.getMidiManager()->getSender()->sendArrangementToDevice(false);
    const Bytes sent = lastSent(plug, kProgramDumpSize, kProgramDataSize);
    ASSERT_TRUE(onlyFieldDiffers(data, sent, bitsOf(field), expected))
        << paramName(field.param) << " = " << value << ", " << context;
  }
  EXPECT_GT(vocoders, count / 8);
  std::printf("%d programs (%d vocoder programs) read, edited and sent back\n", count, vocoders);
}

std::vector<Field> globalFields() {
  return {
      {kMasterTune, 0, 0xFF, 0, -101, Coding::Signed},
      {kMasterTranspose, 1, 0xFF, 0, -13, Coding::Signed},
      {kMasterPosition, 2, 0x7F, 0, 0, Coding::Bits},
      {kMasterVelocityValue, 3, 0x7F, 0, 0, Coding::Bits},
      {kMasterVelocityArea, 4, 0x7F, 0, 0, Coding::Bits},
      {kMIDIFilterWriteProtect, 5, 0x01, 0, 0, Coding::Bits},
      {kGlobalPageMemory, 5, 0x02, 1, 0, Coding::Bits},
      {kGlobalLocalControl, 5, 0x04, 2, 0, Coding::Bits},
      {kGlobalPageJump, 5, 0x08, 3, 0, Coding::Bits},
      {kGlobalClockSource, 8, 0x7F, 0, 0, Coding::Bits},
      {kGlobalMidiChannel, 9, 0x7F, 0, 0, Coding::Bits},
      {kGlobalMIDI1Ctrl, 14, 0x7F, 0, 0, Coding::Bits},
      {kGlobalMIDI2Ctrl, 15, 0x7F, 0, 0, Coding::Bits},
      {kMIDIFilterSysEx, 16, 0x80, 7, 0, Coding::Bits},
      {kMIDIFilterProgramChange, 17, 0x01, 0, 0, Coding::Bits},
      {kMIDIFilterControlChange, 17, 0x04, 2, 0, Coding::Bits},
      {kMIDIFilterPitchBend, 17, 0x40, 6, 0, Coding::Bits},
  };
}

// A random global block: each field a value of its range, every other bit random.
Bytes drawGlobal(std::mt19937& rng, std::vector<int>* drawn) {
  Bytes data(kGlobalDataSize);
  for (uint8_t& b : data) b = uint8_t(rng());
  for (const Field& f : globalFields()) {
    (*drawn)[f.param] = drawValue(f.param, rng);
    encode(f, (*drawn)[f.param], data);
  }
  return data;
}

TEST(FidelityProperty, RandomGlobalBlocksGoBackWithOnlyTheEditedFieldChanged) {
  const int count = countFromEnvironment("VEXMIR_FIDELITY_GLOBALS", 500);
  const std::vector<Field> fields = globalFields();
  std::mt19937 rng(3030);
  JobPlug plug;
  for (int n = 0; n < count; ++n) {
    std::vector<int> drawn(kNumParams, 0);
    const Bytes data = drawGlobal(rng, &drawn);
    plug.clearMessages();
    Bytes msg = dumpOf(data, kGlobalDumpFunction);
    ISysEx sysex(0, msg.data(), static_cast<int>(msg.size()));
    plug.getMidiManager()->sysexSettingsParse(&sysex);
    const std::string context = "case " + std::to_string(n) + ", data " + hex(data);
    for (const Field& f : fields) ASSERT_EQ(plug.paramValue(f.param), drawn[f.param]) << paramName(f.param) << ", " << context;

    const Field& field = fields[rng() % fields.size()];
    const int value = drawValue(field.param, rng);
    Bytes expected = data;
    encode(field, value, expected);
    edit(plug, field.param, value);
    plug.getMidiManager()->getSender()->sendGlobalDump();
    const Bytes sent = lastSent(plug, kGlobalDumpSize, kGlobalDataSize);
    ASSERT_TRUE(onlyFieldDiffers(data, sent, bitsOf(field), expected))
        << paramName(field.param) << " = " << value << ", " << context;
  }
  std::printf("%d global blocks read, edited and sent back\n", count);
}

// ---- A host's project: what the editor received, saved and recalled ----

// A program and a global block as the synthesizer sends them, through the editor's SysEx input: the program as
// the answer to a request, the global block while connecting.
void receive(JobPlug& plug, const Bytes& program, const Bytes& global) {
  plug.SetLibrarianRequestActive(false);
  Bytes p = dumpOf(program, kProgramDumpFunction);
  p[2] = static_cast<uint8_t>(plug.deviceId.load());  // the channel of the last global block
  ISysEx ps(0, p.data(), static_cast<int>(p.size()));
  plug.Vexmir::ProcessSysEx(&ps, true);
  plug.connectPending = true;
  Bytes g = dumpOf(global, kGlobalDumpFunction);
  ISysEx gs(0, g.data(), static_cast<int>(g.size()));
  plug.Vexmir::ProcessSysEx(&gs, true);
}

// Opens the project and returns the global and program data the recall sends (the project's port is there).
std::pair<Bytes, Bytes> openProject(JobPlug& plug, Bytes project) {
  if (!vexmir::testsupport::openProject(plug.GetAEffect(), project)) return {};
  plug.midiOutReady = true;
  plug.clearMessages();
  if (!plug.startRecalledProgramSend() || !plug.waitIdle()) return {};
  return {lastSent(plug, kGlobalDumpSize, kGlobalDataSize), lastSent(plug, kProgramDumpSize, kProgramDataSize)};
}

// Random programs (vocoder programs among them) and global blocks arrive, the project is saved, and an instance
// that had received other data first opens it: the recall sends exactly what the project's instance received,
// none of the bytes received before the recall. VEXMIR_FIDELITY_PROJECTS sets the count (1000 for a long run).
TEST(FidelityProperty, AProjectSendsBackByteForByteTheProgramAndGlobalBlockItsInstanceReceived) {
  const int count = countFromEnvironment("VEXMIR_FIDELITY_PROJECTS", 40);
  std::mt19937 rng(3838);
  JobPlug saving;
  int vocoders = 0;
  for (int n = 0; n < count; ++n) {
    std::vector<int> unused(kNumParams, 0);
    const DrawnProgram program = drawProgram(rng);
    const Bytes global = drawGlobal(rng, &unused);
    vocoders += program.mode == 3;
    receive(saving, program.data, global);
    const Bytes project = vexmir::testsupport::projectOf(saving.GetAEffect());
    JobPlug opening;
    receive(opening, drawProgram(rng).data, drawGlobal(rng, &unused));
    const auto [sentGlobal, sentProgram] = openProject(opening, project);
    const std::string context = "case " + std::to_string(n) + ", program " + hex(program.data);
    ASSERT_TRUE(onlyFieldDiffers(program.data, sentProgram, {}, program.data)) << context;
    ASSERT_TRUE(onlyFieldDiffers(global, sentGlobal, {}, global)) << context << ", global " << hex(global);
  }
  std::printf("%d projects (%d with vocoder programs) saved, opened and sent back\n", count, vocoders);
}

// Projects saved before the received bytes were kept open as they always did: an instance that received
// another program first sends the same program as a fresh one, none of the other program's bytes.
TEST(FidelityProperty, ProjectsOfTheEarlierLayoutOpenAsTheyDid) {
  const std::string data = std::string(std::getenv("VEXMIR_SOURCE_DIR")) + "/tests/codec/data/";
  std::mt19937 rng(43);
  for (const char* name : {"old-vocoder", "old-layer"}) {
    const Bytes project = vexmir::testsupport::readBytes(data + name + ".chunk"), sent = vexmir::testsupport::readBytes(data + name + ".sent");
    ASSERT_EQ(sent.size(), static_cast<size_t>(kGlobalDumpSize + kProgramDumpSize)) << name;
    const Bytes expectedGlobal = vexmir::testsupport::dataOf(sent, kGlobalDataSize);
    const Bytes expectedProgram = vexmir::testsupport::dataOf(Bytes(sent.begin() + kGlobalDumpSize, sent.end()));
    for (bool fresh : {true, false}) {
      JobPlug opening;
      std::vector<int> unused(kNumParams, 0);
      if (!fresh) receive(opening, drawProgram(rng).data, drawGlobal(rng, &unused));
      const auto [sentGlobal, sentProgram] = openProject(opening, project);
      EXPECT_EQ(sentProgram, expectedProgram) << name << (fresh ? ", fresh" : ", after another program");
      if (fresh) {
        EXPECT_EQ(sentGlobal, expectedGlobal) << name;
      }
    }
  }
}

}  // namespace
