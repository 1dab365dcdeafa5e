// Helpers shared by the codec tests: random valid programs and value arrays.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "src/VexmirParams.h"

namespace codectest {

// The positions of the oscillator 2 semitone table, the only values that travel unchanged.
inline const std::vector<int>& semitonePositions() {
  static const std::vector<int> p = {0,  3,  6,  8,  11,  14,  16,  19,  21,  24,  27,  29,  32,  34,  37, 40, 42,
                                     45, 48, 50, 53, 55,  58,  61,  64,  66,  68,  71,  74,  76,  79,  81, 84, 87,
                                     89, 92, 95, 97, 100, 102, 105, 108, 110, 113, 115, 118, 121, 123, 127};
  return p;
}

// Parameters whose bytes lie after the common data: a vocoder program's parse leaves them as they were.
inline bool inTimbreBlock(int index) {
  if (paramInfo(index).perTimbre) return true;
  return index == kDummyParam03 || index == kDummyParam05 || (index >= kDummyParam09 && index <= kDummyParam34);
}

inline std::vector<double> defaults() {
  std::vector<double> v(kNumParams);
  for (int i = 0; i < kNumParams; ++i) v[i] = paramInfo(i).defaultValue;
  return v;
}

// Every program parameter drawn within its range, with the combinations the program data can carry:
// a voice mode pair from the mode table, a semitone from the table, the split point's stored top bit as
// 0 or 16. No lock is on.
inline std::vector<double> randomProgram(std::mt19937& rng) {
  std::vector<double> v = defaults();
  for (int i = 0; i < kNumParams; ++i) {
    const ParamInfo& p = paramInfo(i);
    if (!p.sound || i == kPatchName) continue;
    std::uniform_int_distribution<int> d(int(p.min), int(p.max));
    v[i] = d(rng);
  }
  static const int modes[][2] = {{0, 1}, {1, 0}, {1, 2}, {2, 0}, {2, 2}, {3, 1}, {1, 1}, {2, 1}};
  const auto& m = modes[std::uniform_int_distribution<int>(0, 7)(rng)];
  v[kCommonMode] = m[0];
  v[kCommonVoices] = m[1];
  const auto& semis = semitonePositions();
  std::uniform_int_distribution<size_t> s(0, semis.size() - 1);
  v[kOsc2Semitone] = semis[s(rng)];
  v[kOsc2SemitoneT2] = semis[s(rng)];
  v[kDummyParam01] = std::uniform_int_distribution<int>(0, 1)(rng) * 16;
  // Stored top-bit bytes hold the top bits of the bytes they pack: the last unit has two data bytes, and bit
  // 6 of kDummyParam21 is the top bit of timbre 2's channel byte (-1 for the global channel).
  v[kDummyParam34] = int(v[kDummyParam34]) & 3;
  v[kDummyParam21] = (int(v[kDummyParam21]) & 0x3F) | (v[kMultiPartMIDIChT2] == 16 ? 0x40 : 0);
  v[kLockPartMIDIch] = v[kLockPartMIDIchT2] = 0;
  for (int i = kSectionLockOsc1; i <= kSectionLockGlobal; ++i) v[i] = 0;
  v[kOverrideTempo] = 0;
  return v;
}

}  // namespace codectest
