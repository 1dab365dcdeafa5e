// The parameter numbering: every index that the editor's description states, the timbre pairs, the
// reference look-up of the user-interface reader and the codec's ranges.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "src/VexmirParams.h"

namespace {

struct Stated {
  const char* name;
  int index;
};

// Every parameter index stated anywhere in the editor's description.
const Stated kStatedIndices[] = {
    {"kOsc2Semitone", 10},
    {"kOsc2Tune", 12},
    {"kOsc1Level", 14},
    {"kOsc2Level", 16},
    {"kNoiseLevel", 18},
    {"kPortamento", 20},
    {"kDetune", 22},
    {"kFilterCutoff", 24},
    {"kFilterResonance", 26},
    {"kFilterType", 28},
    {"kFilterEGIntensity", 30},
    {"kFilterVeloSense", 32},
    {"kFilterKBDTrack", 34},
    {"kEG1Attack", 36},
    {"kEG1Decay", 38},
    {"kEG1Sustain", 40},
    {"kEG1Release", 42},
    {"kAmpLevel", 44},
    {"kAmpPan", 46},
    {"kAmpGateSw", 48},
    {"kAmpDistSw", 50},
    {"kAmpVeloSense", 52},
    {"kAmpKBDTrack", 54},
    {"kEG2Attack", 56},
    {"kEG2Decay", 58},
    {"kEG2Sustain", 60},
    {"kEG2Release", 62},
    {"kModFxType", 64},
    {"kModFxSpeed", 65},
    {"kModFxDepth", 66},
    {"kDelayFxType", 67},
    {"kDelayFxTempoSync", 68},
    {"kDelayFxTime", 69},
    {"kDelayFxSyncNote", 70},
    {"kDelayFxDepth", 71},
    {"kEQLowFreq", 72},
    {"kEQLowGain", 73},
    {"kEQHiFreq", 74},
    {"kEQHiGain", 75},
    {"kOsc1DWGSWave", 76},
    {"kVibratoInt", 78},
    {"kVPatchAmnt1", 80},
    {"kVPatchAmnt2", 82},
    {"kVPatchAmnt3", 84},
    {"kVPatchAmnt4", 86},
    {"kArpTempo", 88},
    {"kArpGate", 89},
    {"kArpSwing", 90},
    {"kArpOnOff", 91},
    {"kArpReso", 92},
    {"kArpLatch", 93},
    {"kArpRange", 94},
    {"kArpType", 95},
    {"kArpKeySync", 96},
    {"kArpTarget", 97},
    {"kLfo1Waveform", 99},
    {"kLfo1KeySync", 101},
    {"kLfo1TempoSync", 103},
    {"kLfo1SyncNote", 105},
    {"kLfo2Waveform", 107},
    {"kLfo2KeySync", 109},
    {"kLfo2TempoSync", 111},
    {"kLfo2SyncNote", 113},
    {"kOsc1Waveform", 115},
    {"kOsc2Waveform", 117},
    {"kVoiceAssign", 119},
    {"kMultiPartMIDICh", 121},
    {"kVoicePriority", 123},
    {"kVoiceTrigger", 125},
    {"kEG1Reset", 127},
    {"kEG2Reset", 129},
    {"kVPatchSrc1", 131},
    {"kVPatchSrc2", 133},
    {"kVPatchSrc3", 135},
    {"kVPatchSrc4", 137},
    {"kVPatchDest1", 139},
    {"kVPatchDest2", 141},
    {"kVPatchDest3", 143},
    {"kVPatchDest4", 145},
    {"kSeq3Step16", 241},
    {"kModSeqSwitch", 243},
    {"kModSeqType", 245},
    {"kModSeqLastStep", 247},
    {"kModSeqKeySync", 249},
    {"kModSeqRunMode", 251},
    {"kModSeqResolution", 253},
    {"kSeq1Knob", 255},
    {"kSeq1Motion", 257},
    {"kSeq2Knob", 259},
    {"kSeq2Motion", 261},
    {"kSeq3Knob", 263},
    {"kSeq3Motion", 265},
    {"kTimbreTune", 315},
    {"kTimbreBendRange", 317},
    {"kTimbreTranspose", 319},
    {"kOverrideTempo", 321},
    {"kGlobalMidiChannel", 327},
    {"kGlobalLocalControl", 328},
    {"kLockPartMIDIch", 340},
    {"kBankSelection", 342},
    {"kPatchSelection", 343},
    {"kPatchName", 344},
    {"kCommonMode", 346},
    {"kCommonVoices", 347},
    {"kCommonSplitPoint", 348},
    {"kRefreshFolders", 349},
    {"kLibSyncTimer", 350},
    {"kPartLock", 351},
    {"kSectionLockOsc1", 353},
    {"kSectionLockOsc2", 355},
    {"kSectionLockMixer", 357},
    {"kSectionLockVoice", 359},
    {"kSectionLockFilter", 361},
    {"kSectionLockEg1", 363},
    {"kSectionLockEg2", 365},
    {"kSectionLockAmp", 367},
    {"kSectionLockLFO1", 369},
    {"kSectionLockLFO2", 371},
    {"kSectionLockUnisono", 373},
    {"kSectionLockPitchMod", 375},
    {"kSectionLockVP1", 377},
    {"kSectionLockVP2", 379},
    {"kSectionLockVP3", 381},
    {"kSectionLockVP4", 383},
    {"kSectionLocSeq1Lock", 385},
    {"kSectionLocSeq2Lock", 387},
    {"kSectionLocSeq3Lock", 389},
    {"kSectionLockFXChorus", 391},
    {"kSectionLockFXDelay", 392},
    {"kSectionLockFXEQ", 393},
    {"kSectionLockArp", 394},
    {"kSectionLockGlobal", 395},
    {"kPatchRename", 396},
    {"kLayerLinker", 397},
    {"kMIDILed", 398},
    {"kMIDIFilterDAWCCPassThrough", 400},
    {"kMIDIFilterDAWPCPassThrough", 401},
    {"kMIDIFilterDAWNotePassThrough", 402},
    {"kMIDIFilterDAWPPPassThrough", 403},
    {"kMIDIFilterDAWPAPassThrough", 404},
    {"kMIDIFilterDAWCAPassThrough", 405},
    {"kMIDIFilterDAWSEPassThrough", 406},
    {"kMIDIFilterHWCCPassThrough", 407},
    {"kMIDIFilterHWPCPassThrough", 408},
    {"kMIDIFilterHWNotePassThrough", 409},
    {"kMIDIFilterHWPPPassThrough", 410},
    {"kMIDIFilterHWPAPassThrough", 411},
    {"kMIDIFilterHWCAPassThrough", 412},
    {"kMIDIFilterHWSEPassThrough", 413},
    {"kMIDIFilterTrackIncomingMIDI", 414},
    {"kMIDIFilterToDAWBuffer", 416},
    {"kSendMIDIClockPointer", 417},
    {"kSendMIDIClockInfo", 418},
    {"kLibUpperNextBank", 419},
    {"kLibUpperPreviousBank", 420},
    {"kLibLowerNextBank", 421},
    {"kLibLowerPreviousBank", 422},
    {"kBankEditUnsaved", 423},
    {"kMasterKeyboard", 431},
    {"kOverwriteBank", 473},
    {"kPatchSearchString", 476},
    {"kPatchSearch", 477},
    {"kRandomize", 481},
    {"kTimbreSelectTrigger", 485},
    {"kDeviceOutSelection", 486},
    {"kDeviceInSelection", 487},
    {"kDataType", 488},
    {"kPatchUp", 492},
    {"kPatchDown", 493},
    {"kControlLibrary", 494},
    {"kControlDisplayName", 495},
    {"kControlDisplayCC", 497},
    {"kReadFromTimbre1", 503},
    {"kReadFromTimbre2", 504},
    {"kLoadToTimbre1", 505},
    {"kLoadToTimbre2", 506},
    {"kPushArrangement", 508},
    {"kDiscardBankData", 512},
    {"kPatchSelectionListUpper", 519},
    {"kPatchSelectionListLower", 520},
    {"kRequestTempData", 522},
    {"kMainTab", 524},
    {"kQuickTab", 525},
    {"kGlobalSettings", 526},
    {"kLibrarianArea", 527},
    {"kTimbreLED", 528},
};

TEST(ParameterTable, EveryStatedIndexHolds) {
  for (const Stated& s : kStatedIndices) {
    EXPECT_STREQ(paramName(s.index), s.name) << "index " << s.index;
    EXPECT_EQ(paramIndexFromName(s.name), s.index) << s.name;
  }
  EXPECT_EQ(kNumParams, 529);
  EXPECT_EQ(kArpTempo, 88);
  EXPECT_EQ(kGlobalMidiChannel, 327);
  EXPECT_EQ(kSectionLockOsc1, 353);
  EXPECT_EQ(kDummyParam01, 432);
  EXPECT_EQ(kMainTab, 524);
  EXPECT_EQ(kQuickTab, 525);
}

TEST(ParameterTable, StatedRangesHold) {
  for (int s = 0; s < 16; ++s) {
    EXPECT_EQ(kSeq1Step1 + 2 * s, 147 + 2 * s);
    EXPECT_EQ(kSeq2Step1 + 2 * s, 179 + 2 * s);
    EXPECT_EQ(kSeq3Step1 + 2 * s, 211 + 2 * s);
  }
  EXPECT_EQ(kSeq1Step16, 177);
  EXPECT_EQ(kSeq3Step16, 241);
  EXPECT_EQ(kModSeq1Value01, 267);
  EXPECT_EQ(kModSeq3Value14, 312);
  EXPECT_EQ(kModSeq3Value16, 314);
  EXPECT_EQ(kDummyParam40, 471);
  EXPECT_EQ(kMIDIFilterDAWCCPassThrough, 400);
  EXPECT_EQ(kMIDIFilterDAWSEPassThrough, 406);
  EXPECT_EQ(kMIDIFilterHWCCPassThrough, 407);
  EXPECT_EQ(kMIDIFilterHWSEPassThrough, 413);
  EXPECT_EQ(kSendMIDIClockInfo, 418);
  EXPECT_EQ(kOverwriteBank, 473);
  EXPECT_EQ(kTimbreLED, 528);
}

TEST(ParameterTable, TimbrePairsSitSideBySide) {
  // Timbre-1 parameter and its stated twin.
  const int pairs[][2] = {
      {kLfo1Frequency, 1},  {kEG2Release, 63},       {kOsc1DWGSWave, 77},        {kVPatchAmnt4, 87},
      {kLfo1Waveform, 100}, {kMultiPartMIDICh, 122}, {kVPatchDest4, 146},        {kSeq3Motion, 266},
      {kTimbreTune, 316},   {kTimbreBendRange, 318}, {kTimbreTranspose, 320},    {kLockPartMIDIch, 341},
      {kPartLock, 352},     {kSectionLockOsc1, 354}, {kSectionLocSeq3Lock, 390}, {kMIDILed, 399}};
  for (const auto& p : pairs) {
    EXPECT_EQ(p[0] + 1, p[1]);
    EXPECT_FALSE(isTimbreTwin(p[0])) << paramName(p[0]);
    EXPECT_TRUE(isTimbreTwin(p[1])) << paramName(p[1]);
    EXPECT_EQ(std::string(paramName(p[1])), std::string(paramName(p[0])) + "T2");
  }
  EXPECT_TRUE(paramInfo(kLockPartMIDIch).perTimbre);
  EXPECT_TRUE(paramInfo(kSectionLocSeq3LockT2).perTimbre);
  EXPECT_TRUE(paramInfo(kFilterCutoffT2).perTimbre);
  EXPECT_FALSE(paramInfo(kArpTempo).perTimbre);
  EXPECT_FALSE(paramInfo(kGlobalMidiChannel).perTimbre);
  // The effects, EQ and arpeggiator are single.
  for (int i = kModFxType; i <= kEQHiGain; ++i) EXPECT_FALSE(isTimbreTwin(i)) << i;
  for (int i = kArpTempo; i <= kArpTarget; ++i) EXPECT_FALSE(isTimbreTwin(i)) << i;
}

TEST(ParameterTable, NamesAreUniqueAndResolve) {
  for (int i = 0; i < kNumParams; ++i) {
    ASSERT_NE(paramName(i), nullptr);
    EXPECT_EQ(paramIndexFromName(paramName(i)), i) << paramName(i);
  }
  EXPECT_EQ(paramName(-1), nullptr);
  EXPECT_EQ(paramName(kNumParams), nullptr);
}

TEST(ParameterTable, ReferenceLookUp) {
  struct Case {
    const char* text;
    int index;
  } cases[] = {
      {"kOsc1Level", kOsc1Level},
      {"kOsc1Level+1", kOsc1LevelT2},
      {"kSeq1Step1+31", kSeq1Step16T2},
      {" kArpTempo ", kArpTempo},
      {"kArpTempo + 2", kArpSwing},
      {"kArpTempo+0", kArpTempo},
      {"kTimbreLED+1", -1},
      {"kArpTempo+", -1},
      {"kArpTempo+x", -1},
      {"kArpTempo+-1", -1},
      {"karptempo", -1},
      {"", -1},
      {"+3", -1},
      {"kNoSuchParameter", -1},
  };
  for (const Case& c : cases) EXPECT_EQ(paramIndexFromName(c.text), c.index) << '"' << c.text << '"';
}

TEST(ParameterTable, SoundParametersHaveRangesDefaultsAndTexts) {
  int sound = 0;
  for (int i = 0; i < kNumParams; ++i) {
    const ParamInfo& p = paramInfo(i);
    EXPECT_LE(p.min, p.defaultValue) << p.name;
    EXPECT_GE(p.max, p.defaultValue) << p.name;
    if (p.valueTexts) {
      EXPECT_EQ(p.valueTextCount, int(p.max - p.min + 1)) << p.name;
    }
    if (p.sound) ++sound;
    if (p.perTimbre && !isTimbreTwin(i)) {
      const ParamInfo& twin = paramInfo(i + 1);
      EXPECT_EQ(twin.min, p.min) << p.name;
      EXPECT_EQ(twin.max, p.max) << p.name;
    }
  }
  EXPECT_GT(sound, 200);
  // Defaults come from the built-in initial program.
  struct Default {
    int index;
    double value;
  } defaults[] = {{kArpTempo, 100},         {kArpGate, 80},
                  {kArpSwing, 100},         {kCommonSplitPoint, 60},
                  {kCommonMode, 0},         {kCommonVoices, 1},
                  {kMultiPartMIDICh, 16},   {kMultiPartMIDIChT2, 16},
                  {kVoiceAssign, 1},        {kEG1Reset, 1},
                  {kEG2Reset, 1},           {kTimbreTune, 50},
                  {kTimbreBendRange, 14},   {kTimbreTranspose, 24},
                  {kEQHiGain, 12},          {kEQLowFreq, 15},
                  {kModSeqLastStep, 15},    {kModSeqRunMode, 1},
                  {kModSeqResolution, 3},   {kModSeqKeySync, 1},
                  {kSeq1Motion, 1},         {kAmpLevel, 127},
                  {kDummyParam06, 7},       {kMasterTune, 101},
                  {kMasterTranspose, 13},   {kMasterVelocityValue, 64},
                  {kMasterVelocityArea, 3}, {kGlobalLocalControl, 1},
                  {kMIDIFilterSysEx, 1},    {kMIDIFilterPitchBend, 1}};
  for (const Default& d : defaults) EXPECT_EQ(paramInfo(d.index).defaultValue, d.value) << paramName(d.index);
  EXPECT_STREQ(paramInfo(kOsc1Waveform).valueTexts[5], "DWGS");
  EXPECT_STREQ(paramInfo(kFilterTypeT2).valueTexts[0], "-24dB LPF");
  EXPECT_EQ(clampToParamRange(kArpTempo, 300), 280);
  EXPECT_EQ(clampToParamRange(kArpTempo, -5), 0);
}

}  // namespace
