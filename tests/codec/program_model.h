// An independent model of the program data: the 254 unpacked bytes that a set of values stands for, written
// straight from the data layout (each field as a whole byte, bit 7 included), with no packing involved. The
// codec packs the bytes it has written; comparing the two catches a field at a wrong offset, a top bit in
// a wrong unit, or a coding that differs.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "src/VexmirParams.h"

namespace codectest {

inline std::vector<uint8_t> expectedProgramData(const std::vector<double>& v, const std::string& name) {
  auto p = [&v](int i) { return int(v[i]); };
  std::vector<uint8_t> d(254, 0);
  for (int i = 0; i < 12; ++i) d[i] = i < int(name.size()) ? uint8_t(name[i]) : ' ';
  d[14] = p(kDummyParam06);
  d[15] = p(kDummyParam07);
  int mode = p(kCommonMode), voices = p(kCommonVoices);
  // Bits 4-5 the mode, bit 7 two voices, bit 6 one voice of a split or layer.
  d[16] = uint8_t((mode << 4) | (voices == 2 ? 0x80 : 0) | ((mode == 1 || mode == 2) && voices == 1 ? 0x40 : 0));
  d[18] = uint8_t(p(kCommonSplitPoint) | (p(kDummyParam01) == 16 ? 0x80 : 0));
  d[19] = uint8_t(p(kDelayFxSyncNote) | (p(kDelayFxTempoSync) == 1 ? 0x80 : 0));
  d[20] = p(kDelayFxTime);
  d[21] = p(kDelayFxDepth);
  d[22] = p(kDelayFxType);
  d[23] = p(kModFxSpeed);
  d[24] = p(kModFxDepth);
  d[25] = p(kModFxType);
  d[26] = p(kEQHiFreq);
  d[27] = p(kEQHiGain) + 52;
  d[28] = p(kEQLowFreq);
  d[29] = p(kEQLowGain) + 52;
  int tempo = p(kArpTempo) + 20;
  d[30] = uint8_t(tempo / 256);
  d[31] = uint8_t(tempo % 256);
  d[32] = uint8_t((p(kArpOnOff) << 7) | (p(kArpLatch) << 6) | (p(kArpTarget) << 4) | p(kArpKeySync));
  d[33] = uint8_t(p(kArpRange) * 16 + p(kArpType));
  d[34] = p(kArpGate);
  d[35] = p(kArpReso);
  int swing = p(kArpSwing) - 100;
  d[36] = uint8_t(int8_t(swing));
  d[37] = p(kDummyParam08);
  for (int t = 0; t < 2; ++t) {
    uint8_t* b = d.data() + 38 + 108 * t;
    auto q = [&p, t](int i) { return p(i + t); };
    b[0] = q(kMultiPartMIDICh) == 16 ? 0xFF : q(kMultiPartMIDICh);
    b[1] = uint8_t(q(kVoicePriority) | (q(kVoiceTrigger) << 3) | (q(kEG1Reset) << 4) | (q(kEG2Reset) << 5) |
                   (q(kVoiceAssign) == 1 ? 0x40 : 0) | (q(kVoiceAssign) == 2 ? 0x80 : 0));
    b[2] = q(kDetune);
    b[3] = q(kTimbreTune) + 14;
    b[4] = q(kTimbreBendRange) + 52;
    b[5] = q(kTimbreTranspose) + 40;
    b[6] = q(kVibratoInt);
    b[7] = q(kOsc1Waveform);
    b[8] = q(kOsc1Control1);
    b[9] = q(kOsc1Control2);
    b[10] = q(kOsc1DWGSWave);
    b[11] = p(t == 0 ? kDummyParam11 : kDummyParam23);
    b[12] = uint8_t(q(kOsc2OscMod) * 16 + q(kOsc2Waveform));
    // The semitone table: 64 + the offset in semitones.
    static const int positions[49] = {0,  3,  6,  8,  11,  14,  16,  19,  21,  24,  27,  29,  32,  34,  37, 40, 42,
                                      45, 48, 50, 53, 55,  58,  61,  64,  66,  68,  71,  74,  76,  79,  81, 84, 87,
                                      89, 92, 95, 97, 100, 102, 105, 108, 110, 113, 115, 118, 121, 123, 127};
    b[13] = uint8_t(q(kOsc2Semitone));
    for (int s = 0; s < 49; ++s) {
      if (positions[s] == q(kOsc2Semitone)) b[13] = uint8_t(64 + s - 24);
    }
    b[14] = q(kOsc2Tune);
    b[15] = q(kPortamento);
    const int straight[] = {kOsc1Level,       kOsc2Level,         kNoiseLevel,      kFilterType,     kFilterCutoff,
                            kFilterResonance, kFilterEGIntensity, kFilterVeloSense, kFilterKBDTrack, kAmpLevel,
                            kAmpPan};
    for (int i = 0; i < 11; ++i) b[16 + i] = q(straight[i]);
    b[27] = uint8_t(q(kAmpGateSw) * 64 + q(kAmpDistSw));
    b[28] = q(kAmpVeloSense);
    b[29] = q(kAmpKBDTrack);
    const int egs[] = {kEG1Attack, kEG1Decay, kEG1Sustain, kEG1Release,
                       kEG2Attack, kEG2Decay, kEG2Sustain, kEG2Release};
    for (int i = 0; i < 8; ++i) b[30 + i] = q(egs[i]);
    b[38] = uint8_t(q(kLfo1KeySync) * 16 + q(kLfo1Waveform));
    b[39] = q(kLfo1Frequency);
    b[40] = uint8_t(q(kLfo1SyncNote) | (q(kLfo1TempoSync) << 7));
    b[41] = uint8_t(q(kLfo2KeySync) * 16 + q(kLfo2Waveform));
    b[42] = q(kLfo2Frequency);
    b[43] = uint8_t(q(kLfo2SyncNote) | (q(kLfo2TempoSync) << 7));
    for (int n = 0; n < 4; ++n) {
      b[44 + 2 * n] = uint8_t(q(kVPatchDest1 + 2 * n) * 16 + q(kVPatchSrc1 + 2 * n));
      b[45 + 2 * n] = q(kVPatchAmnt1 + 2 * n);
    }
    b[52] = uint8_t((q(kModSeqSwitch) << 7) | (q(kModSeqRunMode) * 64 + q(kModSeqResolution)));
    b[53] = uint8_t(q(kModSeqLastStep) * 16 + q(kModSeqType) * 4 + q(kModSeqKeySync));
    const int knobs[] = {kSeq1Knob, kSeq2Knob, kSeq3Knob};
    const int motions[] = {kSeq1Motion, kSeq2Motion, kSeq3Motion};
    const int steps[] = {kSeq1Step1, kSeq2Step1, kSeq3Step1};
    for (int s = 0; s < 3; ++s) {
      b[54 + 18 * s] = q(knobs[s]);
      b[55 + 18 * s] = q(motions[s]);
      for (int i = 0; i < 16; ++i) b[56 + 18 * s + i] = q(steps[s] + 2 * i);
    }
  }
  // Top bits of timbre 1's detune and tune come from storage, as does bit 7 of every data byte in a unit whose
  // top-bit byte is carried as it was received.
  d[40] = uint8_t((d[40] & 0x7F) | ((p(kDummyParam03) & 1) << 7));
  d[41] = uint8_t((d[41] & 0x7F) | (((p(kDummyParam03) >> 1) & 1) << 7));
  const int storedUnits[][2] = {
      {3, kDummyParam02},  {6, kDummyParam09},  {7, kDummyParam10},  {8, kDummyParam12},  {9, kDummyParam13},
      {10, kDummyParam14}, {14, kDummyParam15}, {15, kDummyParam16}, {16, kDummyParam17}, {17, kDummyParam18},
      {18, kDummyParam19}, {19, kDummyParam20}, {20, kDummyParam21}, {22, kDummyParam22}, {23, kDummyParam24},
      {24, kDummyParam25}, {25, kDummyParam26}, {29, kDummyParam27}, {30, kDummyParam28}, {31, kDummyParam29},
      {32, kDummyParam30}, {33, kDummyParam31}, {34, kDummyParam32}, {35, kDummyParam33}, {36, kDummyParam34}};
  for (const auto& u : storedUnits) {
    for (int k = 0; k < 7 && 7 * u[0] + k < 254; ++k) {
      // Timbre 2's channel byte is whole: -1 (0xFF) is the global channel.
      if (7 * u[0] + k == 146) continue;
      uint8_t& byte = d[7 * u[0] + k];
      byte = uint8_t((byte & 0x7F) | (((p(u[1]) >> k) & 1) << 7));
    }
  }
  // A vocoder program's block after the common data is not the timbres': built from values alone, it is zero.
  if (mode == 3) std::fill(d.begin() + 38, d.end(), 0);
  return d;
}

}  // namespace codectest
