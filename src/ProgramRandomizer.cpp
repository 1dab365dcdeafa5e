#include "src/ProgramRandomizer.h"

#include <algorithm>
#include <vector>

#include "src/VexmirParams.h"

namespace {

// How a row is drawn beyond a plain draw of each of its parameters.
enum Rule {
  kPlain,
  kGreying,         // the voice mode row: the timbre layer is greyed or restored afterwards, lock or not
  kUnisonDraw,      // timbre 1's unison flag
  kUnisonAssign,    // timbre 1's voice assign follows the unison flag
  kDwgsWave,        // drawn only while oscillator 1 shows the DWGS waveform
  kSemitone,        // oscillator 2's semitone through the dump's semitone table
  kSequenceFlag,    // a timbre's sequence flag
  kSequenceFields,  // last step, key sync and type from one draw
  kModSeqSwitchT2,  // timbre 2's sequence switch, after its flag
};

struct Row {
  int position;
  int lock;  // -1: no lock
  std::vector<int> params;
  std::vector<int> entries;
  Rule rule;
  int timbre;  // 0 or 1: the bounds come from the timbre-1 parameter of a pair
};

// The rows of one timbre, in the timbre's own order; positions are given per timbre.
struct TimbreRow {
  int position[2];
  int lock;  // timbre-1 lock, -1 for none
  std::vector<int> params;
  std::vector<int> entries[2];
  Rule rule;
};

// Positions from `first` to `last` without the listed ones.
std::vector<int> positionsWithout(int first, int last, std::initializer_list<int> skip) {
  std::vector<int> v;
  for (int p = first; p <= last; ++p)
    if (std::find(skip.begin(), skip.end(), p) == skip.end()) v.push_back(p);
  return v;
}

void addTimbreRows(std::vector<Row>& rows, const TimbreRow& r) {
  for (int t = 0; t < 2; ++t) {
    std::vector<int> params;
    for (int p : r.params) params.push_back(p + t);
    rows.push_back({r.position[t], r.lock < 0 ? -1 : r.lock + t, params, r.entries[t],
                    r.rule == kUnisonAssign && t == 1 ? kPlain : r.rule, t});
  }
}

// One row per sequence step, each at its own position.
void addStepRows(std::vector<Row>& rows, int firstStep, int lock, const std::vector<int>& positions1,
                 const std::vector<int>& positions2, int firstEntry1, int firstEntry2) {
  for (int s = 0; s < 16; ++s) {
    rows.push_back({positions1[static_cast<size_t>(s)], lock, {firstStep + 2 * s}, {firstEntry1 + s}, kPlain, 0});
    rows.push_back(
        {positions2[static_cast<size_t>(s)], lock + 1, {firstStep + 2 * s + 1}, {firstEntry2 + s}, kPlain, 1});
  }
}

std::vector<Row> buildRows() {
  std::vector<Row> rows = {
      {21, kSectionLockFXDelay, {kDelayFxTempoSync}, {0}, kPlain, 0},
      {24, kSectionLockGlobal, {kCommonMode, kCommonVoices}, {1, 2}, kGreying, 0},
      {26, kSectionLockGlobal, {kCommonSplitPoint}, {3}, kPlain, 0},
      {27, kSectionLockFXDelay, {kDelayFxSyncNote}, {4}, kPlain, 0},
      {28, kSectionLockFXDelay, {kDelayFxTime}, {5}, kPlain, 0},
      {30, kSectionLockFXDelay, {kDelayFxDepth}, {6}, kPlain, 0},
      {31, kSectionLockFXDelay, {kDelayFxType}, {7}, kPlain, 0},
      {32, kSectionLockFXChorus, {kModFxSpeed}, {8}, kPlain, 0},
      {33, kSectionLockFXChorus, {kModFxDepth}, {9}, kPlain, 0},
      {34, kSectionLockFXChorus, {kModFxType}, {10}, kPlain, 0},
      {35, kSectionLockFXEQ, {kEQHiFreq}, {11}, kPlain, 0},
      {36, kSectionLockFXEQ, {kEQHiGain}, {12}, kPlain, 0},
      {37, kSectionLockArp, {kArpOnOff}, {13}, kPlain, 0},
      {38, kSectionLockFXEQ, {kEQLowFreq}, {14}, kPlain, 0},
      {39, kSectionLockFXEQ, {kEQLowGain}, {15}, kPlain, 0},
      {42, kSectionLockArp, {kArpKeySync, kArpLatch, kArpTarget}, {16, 17, 18}, kPlain, 0},
      {43, kSectionLockArp, {kArpRange, kArpType}, {19, 20}, kPlain, 0},
      {44, kSectionLockArp, {kArpGate}, {21}, kPlain, 0},
      {45, -1, {kAmpLevel}, {271}, kUnisonDraw, 0},
      {46, kSectionLockArp, {kArpReso}, {22}, kPlain, 0},
      {47, kSectionLockArp, {kArpSwing}, {23}, kPlain, 0},
  };
  const TimbreRow timbreRows[] = {
      {{50, 174}, kSectionLockVoice, {kVoicePriority}, {{24}, {148}}, kPlain},
      {{50, 174}, kSectionLockEg1, {kEG1Reset}, {{25}, {149}}, kPlain},
      {{50, 174}, kSectionLockEg2, {kEG2Reset}, {{26}, {150}}, kPlain},
      {{50, 174}, kSectionLockVoice, {kVoiceTrigger}, {{27}, {151}}, kPlain},
      {{50, 174}, kSectionLockVoice, {kVoiceAssign}, {{28}, {152}}, kUnisonAssign},
      {{51, 175}, kSectionLockUnisono, {kDetune}, {{29}, {153}}, kPlain},
      {{52, 176}, kSectionLockVoice, {kTimbreTune}, {{30}, {154}}, kPlain},
      {{54, 177}, kSectionLockVoice, {kTimbreBendRange}, {{31}, {155}}, kPlain},
      {{55, 178}, kSectionLockVoice, {kTimbreTranspose}, {{32}, {156}}, kPlain},
      {{56, 179}, kSectionLockPitchMod, {kVibratoInt}, {{33}, {157}}, kPlain},
      {{57, 180}, kSectionLockOsc1, {kOsc1Waveform}, {{34}, {158}}, kPlain},
      {{58, 182}, kSectionLockOsc1, {kOsc1Control1}, {{35}, {159}}, kPlain},
      {{59, 183}, kSectionLockOsc1, {kOsc1Control2}, {{36}, {160}}, kPlain},
      {{60, 184}, kSectionLockOsc1, {kOsc1DWGSWave}, {{37}, {161}}, kDwgsWave},
      {{63, 186}, kSectionLockOsc2, {kOsc2OscMod, kOsc2Waveform}, {{38, 39}, {162, 163}}, kPlain},
      {{64, 187}, kSectionLockOsc2, {kOsc2Semitone}, {{40}, {164}}, kSemitone},
      {{65, 188}, kSectionLockOsc2, {kOsc2Tune}, {{41}, {165}}, kPlain},
      {{66, 190}, -1, {kPortamento}, {{42}, {166}}, kPlain},
      {{67, 191}, kSectionLockMixer, {kOsc1Level}, {{43}, {167}}, kPlain},
      {{68, 192}, kSectionLockMixer, {kOsc2Level}, {{44}, {168}}, kPlain},
      {{70, 193}, kSectionLockMixer, {kNoiseLevel}, {{45}, {169}}, kPlain},
      {{71, 194}, kSectionLockFilter, {kFilterType}, {{46}, {170}}, kPlain},
      {{72, 195}, kSectionLockFilter, {kFilterCutoff}, {{47}, {171}}, kPlain},
      {{73, 196}, kSectionLockFilter, {kFilterResonance}, {{48}, {172}}, kPlain},
      {{74, 198}, kSectionLockFilter, {kFilterEGIntensity}, {{49}, {173}}, kPlain},
      {{75, 199}, kSectionLockFilter, {kFilterVeloSense}, {{50}, {174}}, kPlain},
      {{76, 200}, kSectionLockFilter, {kFilterKBDTrack}, {{51}, {175}}, kPlain},
      {{78, 201}, kSectionLockAmp, {kAmpLevel}, {{52}, {176}}, kPlain},
      {{79, 202}, kSectionLockAmp, {kAmpPan}, {{53}, {177}}, kPlain},
      {{80, 203}, kSectionLockAmp, {kAmpGateSw, kAmpDistSw}, {{54, 55}, {178, 179}}, kPlain},
      {{81, 204}, kSectionLockAmp, {kAmpVeloSense}, {{56}, {180}}, kPlain},
      {{82, 206}, kSectionLockAmp, {kAmpKBDTrack}, {{57}, {181}}, kPlain},
      {{83, 207}, kSectionLockEg1, {kEG1Attack}, {{58}, {182}}, kPlain},
      {{84, 208}, kSectionLockEg1, {kEG1Decay}, {{59}, {183}}, kPlain},
      {{86, 209}, kSectionLockEg1, {kEG1Sustain}, {{60}, {184}}, kPlain},
      {{87, 210}, kSectionLockEg1, {kEG1Release}, {{61}, {185}}, kPlain},
      {{88, 211}, kSectionLockEg2, {kEG2Attack}, {{62}, {186}}, kPlain},
      {{89, 212}, kSectionLockEg2, {kEG2Decay}, {{63}, {187}}, kPlain},
      {{90, 214}, kSectionLockEg2, {kEG2Sustain}, {{64}, {189}}, kPlain},
      {{91, 215}, kSectionLockEg2, {kEG2Release}, {{65}, {190}}, kPlain},
      {{92, 216}, kSectionLockLFO1, {kLfo1KeySync, kLfo1Waveform}, {{66, 67}, {191, 192}}, kPlain},
      {{93, 213}, kSectionLockLFO1, {kLfo1TempoSync}, {{68}, {188}}, kPlain},
      {{93, 221}, kSectionLockLFO2, {kLfo2TempoSync}, {{69}, {198}}, kPlain},
      {{94, 217}, kSectionLockLFO1, {kLfo1Frequency}, {{70}, {193}}, kPlain},
      {{95, 218}, kSectionLockLFO1, {kLfo1SyncNote}, {{71}, {194}}, kPlain},
      {{96, 219}, kSectionLockLFO2, {kLfo2KeySync, kLfo2Waveform}, {{72, 73}, {195, 196}}, kPlain},
      {{97, 220}, kSectionLockLFO2, {kLfo2Frequency}, {{74}, {197}}, kPlain},
      {{98, 222}, kSectionLockLFO2, {kLfo2SyncNote}, {{75}, {199}}, kPlain},
      {{99, 223}, kSectionLockVP1, {kVPatchSrc1, kVPatchDest1}, {{76, 77}, {200, 201}}, kPlain},
      {{100, 224}, kSectionLockVP1, {kVPatchAmnt1}, {{78}, {202}}, kPlain},
      {{101, 229}, -1, {kModSeqSwitch}, {{79}, {210}}, kPlain},
      {{102, 225}, kSectionLockVP2, {kVPatchSrc2, kVPatchDest2}, {{80, 81}, {203, 204}}, kPlain},
      {{103, 226}, kSectionLockVP2, {kVPatchAmnt2}, {{82}, {205}}, kPlain},
      {{104, 227}, kSectionLockVP3, {kVPatchSrc3, kVPatchDest3}, {{83, 84}, {206, 207}}, kPlain},
      {{105, 228}, kSectionLockVP3, {kVPatchAmnt3}, {{85}, {208}}, kPlain},
      {{106, 230}, kSectionLockVP4, {kVPatchSrc4, kVPatchDest4}, {{86, 87}, {211, 212}}, kPlain},
      {{107, 231}, kSectionLockVP4, {kVPatchAmnt4}, {{88}, {213}}, kPlain},
      {{108, 232}, -1, {kModSeqRunMode, kModSeqResolution}, {{89, 90}, {214, 215}}, kPlain},
      {{109, 229}, -1, {}, {{91}, {209}}, kSequenceFlag},
      {{110, 233}, -1, {kModSeqLastStep, kModSeqKeySync, kModSeqType}, {{92}, {216}}, kSequenceFields},
      {{111, 234}, kSectionLocSeq1Lock, {kSeq1Knob}, {{93}, {217}}, kPlain},
      {{112, 235}, kSectionLocSeq1Lock, {kSeq1Motion}, {{94}, {218}}, kPlain},
      {{131, 255}, kSectionLocSeq2Lock, {kSeq2Knob}, {{111}, {235}}, kPlain},
      {{132, 256}, kSectionLocSeq2Lock, {kSeq2Motion}, {{112}, {236}}, kPlain},
      {{152, 275}, kSectionLocSeq3Lock, {kSeq3Knob}, {{129}, {253}}, kPlain},
      {{153, 276}, kSectionLocSeq3Lock, {kSeq3Motion}, {{130}, {254}}, kPlain},
  };
  for (const TimbreRow& r : timbreRows) {
    if (r.params.size() == 1 && r.params[0] == kModSeqSwitch) {
      // Timbre 2's switch is drawn by its sequence flag rule, right after the flag.
      rows.push_back({r.position[0], -1, {kModSeqSwitch}, r.entries[0], kPlain, 0});
      rows.push_back({r.position[1], -1, {kModSeqSwitch + 1}, r.entries[1], kModSeqSwitchT2, 1});
      continue;
    }
    addTimbreRows(rows, r);
  }
  addStepRows(rows, kSeq1Step1, kSectionLocSeq1Lock, positionsWithout(113, 130, {117, 125}),
              positionsWithout(236, 254, {237, 245, 253}), 95, 219);
  addStepRows(rows, kSeq2Step1, kSectionLocSeq2Lock, positionsWithout(134, 151, {141, 149}),
              positionsWithout(257, 274, {261, 269}), 113, 237);
  addStepRows(rows, kSeq3Step1, kSectionLocSeq3Lock, positionsWithout(154, 171, {157, 165}),
              positionsWithout(278, 295, {285, 293}), 131, 255);
  // The walk goes through the dump's positions in order; rows of one position keep their table
  // order, except that timbre 2's sequence switch follows its flag at the same position.
  std::stable_sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
    if (a.position != b.position) return a.position < b.position;
    return a.rule != kModSeqSwitchT2 && b.rule == kModSeqSwitchT2;
  });
  return rows;
}

const std::vector<Row>& rows() {
  static const std::vector<Row> table = buildRows();
  return table;
}

// Oscillator 2 semitone: the dump's table for the values 40..87, 88 as 127, others unchanged.
int mapSemitone(int v) {
  static const int kTable[48] = {0,  3,  6,  8,  11, 14, 16,  19,  21,  24,  27,  29,  32,  34,  37,  40,
                                 42, 45, 48, 50, 53, 55, 58,  61,  64,  66,  68,  71,  74,  76,  79,  81,
                                 84, 87, 89, 92, 95, 97, 100, 102, 105, 108, 110, 113, 115, 118, 121, 123};
  if (v >= 40 && v <= 87) return kTable[v - 40];
  if (v == 88) return 127;
  return v;
}

bool isOn(RandomizerTarget& target, int lock) {
  return lock >= 0 && target.value(lock) == 1.0;
}

}  // namespace

ProgramRandomizer::ProgramRandomizer(uint32_t seed) : generator(seed) {}

void ProgramRandomizer::randomGenerator() {
  for (int& entry : randomTable) entry = static_cast<int>(generator() % 256u);
}

int ProgramRandomizer::fold(int v, double minValue, double maxValue) {
  const double span = maxValue - minValue;
  if (!(maxValue == maxValue) || !(span == span)) return 0;
  const int m = static_cast<int>(std::max(-1e9, std::min(1e9, maxValue)));
  const int r = static_cast<int>(std::max(-1e9, std::min(1e9, span)));
  if (m < 1) return r < 0 ? 0 : std::max(0, std::min(v, r));
  const int step = m == 1 ? 2 : m;
  if (v > r) v -= ((v - r + step - 1) / step) * step;
  return v;
}

int ProgramRandomizer::randomizer(RandomizerTarget& target, int paramIdx, int entry) const {
  if (entry < 0 || entry >= kTableSize) return 0;
  double lo = 0.0, hi = 0.0;
  target.bounds(paramIdx, &lo, &hi);
  return fold(randomTable[static_cast<size_t>(entry)], lo, hi);
}

void ProgramRandomizer::randomizePatchSettings(RandomizerTarget& target) const {
  bool unison = false;
  bool sequenceFlag[2] = {false, false};
  for (const Row& row : rows()) {
    const int t = row.timbre;
    switch (row.rule) {
      case kUnisonDraw:
        unison = randomizer(target, kAmpLevel, row.entries[0]) >= 16;
        continue;
      case kSequenceFlag:
        sequenceFlag[t] = t == 0 ? randomizer(target, kModSeqSwitch, row.entries[0]) == 1
                                 : randomizer(target, kVPatchSrc3, row.entries[0]) > 7;
        continue;
      case kSequenceFields: {
        const int v = randomizer(target, kVPatchAmnt4, row.entries[0]);
        target.setValue(row.params[0], v / 16 + (sequenceFlag[t] ? 8 : 0));
        target.setValue(row.params[1], (v % 16) % 4);
        target.setValue(row.params[2], (v % 16) / 4);
        sequenceFlag[t] = false;
        continue;
      }
      default:
        break;
    }
    if (!isOn(target, row.lock)) {
      for (size_t i = 0; i < row.params.size(); ++i) {
        const int param = row.params[i];
        const int boundsParam = param - t;
        if (row.rule == kDwgsWave && static_cast<int>(target.value(kOsc1Waveform + t)) != 5) continue;
        int v = randomizer(target, row.rule == kSemitone ? kAmpLevel : boundsParam, row.entries[i]);
        if (row.rule == kSemitone) v = mapSemitone(v);
        target.setValue(param, v);
        if (row.rule == kUnisonAssign && unison) target.setValue(param, 2);
      }
    }
    if (row.rule == kGreying) {
      const int tab = static_cast<int>(target.value(kMainTab));
      if (tab == 2 || tab == 3) target.greyTimbreLayer(static_cast<int>(target.value(kCommonMode)) == 0);
    }
  }
}
