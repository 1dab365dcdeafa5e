// The program randomizer on a plain array of parameter values with the codec's ranges.
#include <gtest/gtest.h>

#include <random>
#include <set>

#include "src/ProgramRandomizer.h"
#include "src/VexmirParams.h"

namespace {

class ArrayTarget : public RandomizerTarget {
 public:
  ArrayTarget() {
    for (int i = 0; i < kNumParams; ++i) values[i] = paramInfo(i).defaultValue;
  }
  double value(int i) override { return values[i]; }
  void bounds(int i, double* lo, double* hi) override {
    *lo = paramInfo(i).min;
    *hi = paramInfo(i).max;
  }
  void setValue(int i, double v) override {
    values[i] = clampToParamRange(i, v);
    set.insert(i);
  }
  void greyTimbreLayer(bool grey) override { greyCalls.push_back(grey); }

  double values[kNumParams];
  std::set<int> set;
  std::vector<bool> greyCalls;
};

// Parameters a section lock guards: [lock (timbre 1 or common)] -> parameters (timbre 1 indices).
struct Section {
  int lock;
  bool perTimbre;
  std::vector<int> params;
};

std::vector<int> steps(int first) {
  std::vector<int> v;
  for (int s = 0; s < 16; ++s) v.push_back(first + 2 * s);
  return v;
}

const std::vector<Section>& sections() {
  static const std::vector<Section> list = {
      {kSectionLockOsc1, true, {kOsc1Waveform, kOsc1Control1, kOsc1Control2, kOsc1DWGSWave}},
      {kSectionLockOsc2, true, {kOsc2OscMod, kOsc2Waveform, kOsc2Semitone, kOsc2Tune}},
      {kSectionLockMixer, true, {kOsc1Level, kOsc2Level, kNoiseLevel}},
      {kSectionLockVoice,
       true,
       {kVoicePriority, kVoiceTrigger, kVoiceAssign, kTimbreTune, kTimbreBendRange, kTimbreTranspose}},
      {kSectionLockFilter,
       true,
       {kFilterType, kFilterCutoff, kFilterResonance, kFilterEGIntensity, kFilterVeloSense, kFilterKBDTrack}},
      {kSectionLockEg1, true, {kEG1Reset, kEG1Attack, kEG1Decay, kEG1Sustain, kEG1Release}},
      {kSectionLockEg2, true, {kEG2Reset, kEG2Attack, kEG2Decay, kEG2Sustain, kEG2Release}},
      {kSectionLockAmp, true, {kAmpLevel, kAmpPan, kAmpGateSw, kAmpDistSw, kAmpVeloSense, kAmpKBDTrack}},
      {kSectionLockLFO1, true, {kLfo1Waveform, kLfo1KeySync, kLfo1TempoSync, kLfo1Frequency, kLfo1SyncNote}},
      {kSectionLockLFO2, true, {kLfo2Waveform, kLfo2KeySync, kLfo2TempoSync, kLfo2Frequency, kLfo2SyncNote}},
      {kSectionLockUnisono, true, {kDetune}},
      {kSectionLockPitchMod, true, {kVibratoInt}},
      {kSectionLockVP1, true, {kVPatchSrc1, kVPatchDest1, kVPatchAmnt1}},
      {kSectionLockVP2, true, {kVPatchSrc2, kVPatchDest2, kVPatchAmnt2}},
      {kSectionLockVP3, true, {kVPatchSrc3, kVPatchDest3, kVPatchAmnt3}},
      {kSectionLockVP4, true, {kVPatchSrc4, kVPatchDest4, kVPatchAmnt4}},
      {kSectionLocSeq1Lock, true,
       [] {
         auto v = steps(kSeq1Step1);
         v.push_back(kSeq1Knob);
         v.push_back(kSeq1Motion);
         return v;
       }()},
      {kSectionLocSeq2Lock, true,
       [] {
         auto v = steps(kSeq2Step1);
         v.push_back(kSeq2Knob);
         v.push_back(kSeq2Motion);
         return v;
       }()},
      {kSectionLocSeq3Lock, true,
       [] {
         auto v = steps(kSeq3Step1);
         v.push_back(kSeq3Knob);
         v.push_back(kSeq3Motion);
         return v;
       }()},
      {kSectionLockFXChorus, false, {kModFxSpeed, kModFxDepth, kModFxType}},
      {kSectionLockFXDelay, false, {kDelayFxTempoSync, kDelayFxSyncNote, kDelayFxTime, kDelayFxDepth, kDelayFxType}},
      {kSectionLockFXEQ, false, {kEQHiFreq, kEQHiGain, kEQLowFreq, kEQLowGain}},
      {kSectionLockArp,
       false,
       {kArpOnOff, kArpKeySync, kArpLatch, kArpTarget, kArpRange, kArpType, kArpGate, kArpReso, kArpSwing}},
      {kSectionLockGlobal, false, {kCommonMode, kCommonVoices, kCommonSplitPoint}},
  };
  return list;
}

const std::vector<int> kUnguarded = {kPortamento,     kModSeqSwitch,  kModSeqRunMode, kModSeqResolution,
                                     kModSeqLastStep, kModSeqKeySync, kModSeqType};

TEST(ProgramRandomizer, FoldTakesEntriesIntoTheRangeAsTheTablesSay) {
  const struct {
    int v;
    double lo, hi;
    int expected;
  } rows[] = {{100, 0, 127, 100},
              {128, 0, 127, 1},
              {200, 0, 127, 73},
              {255, 0, 127, 1},
              {254, 0, 1, 0},
              {255, 0, 1, 1},
              {254, 0, 2, 2},
              {255, 0, 2, 1},
              // Ranges that a stepwise fold could never leave: limited instead of looping.
              {200, 0, 0, 0},
              {200, -3, 0.5, 3},
              {130, -63, 63, 67},
              {7, 0, 0.5, 0}};
  for (const auto& r : rows)
    EXPECT_EQ(ProgramRandomizer::fold(r.v, r.lo, r.hi), r.expected) << r.v << " in " << r.lo << ".." << r.hi;
}

TEST(ProgramRandomizer, TheGeneratorIsSeededOnceSoTwoFillsDiffer) {
  ProgramRandomizer r(42);
  r.randomGenerator();
  const auto first = r.table();
  r.randomGenerator();
  EXPECT_NE(first, r.table());
  for (int e : r.table()) EXPECT_TRUE(e >= 0 && e <= 255);
}

TEST(ProgramRandomizer, LockedSectionsStayAndEveryValueStaysInRangeOverAThousandRuns) {
  std::mt19937 pick(7);
  ProgramRandomizer r(1234);
  ArrayTarget target;
  target.values[kMainTab] = 2;
  for (int run = 0; run < 1000; ++run) {
    // A random choice of locks, some set to values near 1.0 that do not lock.
    for (int lock = kSectionLockOsc1; lock <= kSectionLockGlobal; ++lock) {
      const unsigned c = pick() % 3;
      target.values[lock] = c == 0 ? 1.0 : c == 1 ? 0.0 : 0.999;
    }
    const ArrayTarget before = target;
    r.randomGenerator();
    r.randomizePatchSettings(target);
    for (const Section& s : sections()) {
      for (int t = 0; t < (s.perTimbre ? 2 : 1); ++t) {
        if (before.values[s.lock + t] != 1.0) continue;
        for (int p : s.params)
          ASSERT_EQ(target.values[p + t], before.values[p + t]) << paramName(p + t) << " run " << run;
      }
    }
    for (int i = 0; i < kNumParams; ++i) {
      if (!paramInfo(i).sound) continue;
      ASSERT_GE(target.values[i], paramInfo(i).min) << paramName(i);
      ASSERT_LE(target.values[i], paramInfo(i).max) << paramName(i);
    }
    // Never drawn: the name, the tempo, the part channels, the global settings.
    for (int p :
         {int{kArpTempo}, int{kMultiPartMIDICh}, kMultiPartMIDICh + 1, int{kGlobalMidiChannel}, int{kLibSyncTimer}})
      ASSERT_EQ(target.set.count(p), 0u) << paramName(p);
  }
}

TEST(ProgramRandomizer, WithEveryLockOnOnlyTheUnguardedParametersOfBothTimbresAreDrawn) {
  ProgramRandomizer r(99);
  ArrayTarget target;
  target.values[kMainTab] = 3;
  target.values[kCommonMode] = 0;
  for (int lock = kSectionLockOsc1; lock <= kSectionLockGlobal; ++lock) target.values[lock] = 1.0;
  r.randomGenerator();
  r.randomizePatchSettings(target);
  std::set<int> expected;
  for (int p : kUnguarded) {
    expected.insert(p);
    expected.insert(p + 1);
  }
  EXPECT_EQ(target.set, expected);
  // The voice-mode greying still follows the current mode.
  EXPECT_EQ(target.greyCalls, std::vector<bool>{true});
}

TEST(ProgramRandomizer, TheGreyingFollowsTheModeOnlyOnTheEditorAndSequenceTabs) {
  const struct {
    int tab;
    double mode;
    std::vector<bool> calls;
  } rows[] = {{2, 0, {true}}, {3, 1, {false}}, {1, 0, {}}, {4, 1, {}}};
  for (const auto& row : rows) {
    ProgramRandomizer r(5);
    ArrayTarget target;
    target.values[kMainTab] = row.tab;
    target.values[kSectionLockGlobal] = 1.0;  // keep the mode as set
    target.values[kCommonMode] = row.mode;
    r.randomGenerator();
    r.randomizePatchSettings(target);
    EXPECT_EQ(target.greyCalls, row.calls) << row.tab;
  }
}

// Draws once with the given entries set, everything else 0.
ArrayTarget drawWith(std::initializer_list<std::pair<int, int>> entries,
                     std::initializer_list<std::pair<int, double>> values = {}) {
  ProgramRandomizer r(1);
  r.table().fill(0);
  for (auto [e, v] : entries) r.table()[e] = v;
  ArrayTarget target;
  for (auto [p, v] : values) target.values[p] = v;
  r.randomizePatchSettings(target);
  return target;
}

TEST(ProgramRandomizer, TheSemitoneDrawGoesThroughTheDumpTable) {
  const std::pair<int, int> rows[] = {{39, 39}, {40, 0}, {64, 64}, {87, 123}, {88, 127}, {100, 100}};
  for (auto [draw, expected] : rows) {
    ArrayTarget t = drawWith({{40, draw}, {164, draw}});
    EXPECT_EQ(t.values[kOsc2Semitone], clampToParamRange(kOsc2Semitone, expected)) << draw;
    EXPECT_EQ(t.values[kOsc2Semitone + 1], clampToParamRange(kOsc2Semitone + 1, expected)) << draw;
  }
}

TEST(ProgramRandomizer, TheDwgsWaveIsDrawnOnlyForTheDwgsWaveform) {
  ArrayTarget dwgs = drawWith({{34, 5}, {37, 17}}, {{kOsc1DWGSWave, 3}});
  EXPECT_EQ(dwgs.values[kOsc1DWGSWave], 17);
  ArrayTarget saw = drawWith({{34, 0}, {37, 17}}, {{kOsc1DWGSWave, 3}});
  EXPECT_EQ(saw.values[kOsc1DWGSWave], 3);
  ArrayTarget locked = drawWith({{34, 5}, {37, 17}}, {{kOsc1DWGSWave, 3}, {kSectionLockOsc1, 1.0}});
  EXPECT_EQ(locked.values[kOsc1DWGSWave], 3);
}

TEST(ProgramRandomizer, UnisonMakesTimbreOnesVoiceAssignTwoWhateverItsOwnDraw) {
  ArrayTarget unison = drawWith({{271, 16}, {28, 0}, {152, 0}});
  EXPECT_EQ(unison.values[kVoiceAssign], 2);
  EXPECT_EQ(unison.values[kVoiceAssign + 1], 0);  // timbre 2 keeps its plain draw
  ArrayTarget single = drawWith({{271, 15}, {28, 1}});
  EXPECT_EQ(single.values[kVoiceAssign], 1);
}

TEST(ProgramRandomizer, TheSequenceFieldsComeFromOneDrawAndTheFlag) {
  // Entry 92 folds to 91 for timbre 1; entry 91 of 1 sets its flag.
  ArrayTarget flagged = drawWith({{92, 91}, {91, 1}});
  EXPECT_EQ(flagged.values[kModSeqLastStep], clampToParamRange(kModSeqLastStep, 13));
  EXPECT_EQ(flagged.values[kModSeqKeySync], clampToParamRange(kModSeqKeySync, 3));
  EXPECT_EQ(flagged.values[kModSeqType], clampToParamRange(kModSeqType, 2));
  ArrayTarget plain = drawWith({{92, 91}, {91, 0}, {216, 91}});
  EXPECT_EQ(plain.values[kModSeqLastStep], clampToParamRange(kModSeqLastStep, 5));
  EXPECT_EQ(plain.values[kModSeqLastStep + 1], clampToParamRange(kModSeqLastStep + 1, 5));
}

}  // namespace
