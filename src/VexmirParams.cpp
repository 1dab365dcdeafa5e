#include "src/VexmirParams.h"

#include <cstdlib>
#include <cstring>
#include <unordered_map>

#include "src/GlobalDump.h"
#include "src/ProgramDump.h"

namespace {

const char* const kNames[kNumParams] = {
    "kLfo1Frequency",
    "kLfo1FrequencyT2",
    "kLfo2Frequency",
    "kLfo2FrequencyT2",
    "kOsc1Control1",
    "kOsc1Control1T2",
    "kOsc1Control2",
    "kOsc1Control2T2",
    "kOsc2OscMod",
    "kOsc2OscModT2",
    "kOsc2Semitone",
    "kOsc2SemitoneT2",
    "kOsc2Tune",
    "kOsc2TuneT2",
    "kOsc1Level",
    "kOsc1LevelT2",
    "kOsc2Level",
    "kOsc2LevelT2",
    "kNoiseLevel",
    "kNoiseLevelT2",
    "kPortamento",
    "kPortamentoT2",
    "kDetune",
    "kDetuneT2",
    "kFilterCutoff",
    "kFilterCutoffT2",
    "kFilterResonance",
    "kFilterResonanceT2",
    "kFilterType",
    "kFilterTypeT2",
    "kFilterEGIntensity",
    "kFilterEGIntensityT2",
    "kFilterVeloSense",
    "kFilterVeloSenseT2",
    "kFilterKBDTrack",
    "kFilterKBDTrackT2",
    "kEG1Attack",
    "kEG1AttackT2",
    "kEG1Decay",
    "kEG1DecayT2",
    "kEG1Sustain",
    "kEG1SustainT2",
    "kEG1Release",
    "kEG1ReleaseT2",
    "kAmpLevel",
    "kAmpLevelT2",
    "kAmpPan",
    "kAmpPanT2",
    "kAmpGateSw",
    "kAmpGateSwT2",
    "kAmpDistSw",
    "kAmpDistSwT2",
    "kAmpVeloSense",
    "kAmpVeloSenseT2",
    "kAmpKBDTrack",
    "kAmpKBDTrackT2",
    "kEG2Attack",
    "kEG2AttackT2",
    "kEG2Decay",
    "kEG2DecayT2",
    "kEG2Sustain",
    "kEG2SustainT2",
    "kEG2Release",
    "kEG2ReleaseT2",
    "kModFxType",
    "kModFxSpeed",
    "kModFxDepth",
    "kDelayFxType",
    "kDelayFxTempoSync",
    "kDelayFxTime",
    "kDelayFxSyncNote",
    "kDelayFxDepth",
    "kEQLowFreq",
    "kEQLowGain",
    "kEQHiFreq",
    "kEQHiGain",
    "kOsc1DWGSWave",
    "kOsc1DWGSWaveT2",
    "kVibratoInt",
    "kVibratoIntT2",
    "kVPatchAmnt1",
    "kVPatchAmnt1T2",
    "kVPatchAmnt2",
    "kVPatchAmnt2T2",
    "kVPatchAmnt3",
    "kVPatchAmnt3T2",
    "kVPatchAmnt4",
    "kVPatchAmnt4T2",
    "kArpTempo",
    "kArpGate",
    "kArpSwing",
    "kArpOnOff",
    "kArpReso",
    "kArpLatch",
    "kArpRange",
    "kArpType",
    "kArpKeySync",
    "kArpTarget",
    "kReserved098",
    "kLfo1Waveform",
    "kLfo1WaveformT2",
    "kLfo1KeySync",
    "kLfo1KeySyncT2",
    "kLfo1TempoSync",
    "kLfo1TempoSyncT2",
    "kLfo1SyncNote",
    "kLfo1SyncNoteT2",
    "kLfo2Waveform",
    "kLfo2WaveformT2",
    "kLfo2KeySync",
    "kLfo2KeySyncT2",
    "kLfo2TempoSync",
    "kLfo2TempoSyncT2",
    "kLfo2SyncNote",
    "kLfo2SyncNoteT2",
    "kOsc1Waveform",
    "kOsc1WaveformT2",
    "kOsc2Waveform",
    "kOsc2WaveformT2",
    "kVoiceAssign",
    "kVoiceAssignT2",
    "kMultiPartMIDICh",
    "kMultiPartMIDIChT2",
    "kVoicePriority",
    "kVoicePriorityT2",
    "kVoiceTrigger",
    "kVoiceTriggerT2",
    "kEG1Reset",
    "kEG1ResetT2",
    "kEG2Reset",
    "kEG2ResetT2",
    "kVPatchSrc1",
    "kVPatchSrc1T2",
    "kVPatchSrc2",
    "kVPatchSrc2T2",
    "kVPatchSrc3",
    "kVPatchSrc3T2",
    "kVPatchSrc4",
    "kVPatchSrc4T2",
    "kVPatchDest1",
    "kVPatchDest1T2",
    "kVPatchDest2",
    "kVPatchDest2T2",
    "kVPatchDest3",
    "kVPatchDest3T2",
    "kVPatchDest4",
    "kVPatchDest4T2",
    "kSeq1Step1",
    "kSeq1Step1T2",
    "kSeq1Step2",
    "kSeq1Step2T2",
    "kSeq1Step3",
    "kSeq1Step3T2",
    "kSeq1Step4",
    "kSeq1Step4T2",
    "kSeq1Step5",
    "kSeq1Step5T2",
    "kSeq1Step6",
    "kSeq1Step6T2",
    "kSeq1Step7",
    "kSeq1Step7T2",
    "kSeq1Step8",
    "kSeq1Step8T2",
    "kSeq1Step9",
    "kSeq1Step9T2",
    "kSeq1Step10",
    "kSeq1Step10T2",
    "kSeq1Step11",
    "kSeq1Step11T2",
    "kSeq1Step12",
    "kSeq1Step12T2",
    "kSeq1Step13",
    "kSeq1Step13T2",
    "kSeq1Step14",
    "kSeq1Step14T2",
    "kSeq1Step15",
    "kSeq1Step15T2",
    "kSeq1Step16",
    "kSeq1Step16T2",
    "kSeq2Step1",
    "kSeq2Step1T2",
    "kSeq2Step2",
    "kSeq2Step2T2",
    "kSeq2Step3",
    "kSeq2Step3T2",
    "kSeq2Step4",
    "kSeq2Step4T2",
    "kSeq2Step5",
    "kSeq2Step5T2",
    "kSeq2Step6",
    "kSeq2Step6T2",
    "kSeq2Step7",
    "kSeq2Step7T2",
    "kSeq2Step8",
    "kSeq2Step8T2",
    "kSeq2Step9",
    "kSeq2Step9T2",
    "kSeq2Step10",
    "kSeq2Step10T2",
    "kSeq2Step11",
    "kSeq2Step11T2",
    "kSeq2Step12",
    "kSeq2Step12T2",
    "kSeq2Step13",
    "kSeq2Step13T2",
    "kSeq2Step14",
    "kSeq2Step14T2",
    "kSeq2Step15",
    "kSeq2Step15T2",
    "kSeq2Step16",
    "kSeq2Step16T2",
    "kSeq3Step1",
    "kSeq3Step1T2",
    "kSeq3Step2",
    "kSeq3Step2T2",
    "kSeq3Step3",
    "kSeq3Step3T2",
    "kSeq3Step4",
    "kSeq3Step4T2",
    "kSeq3Step5",
    "kSeq3Step5T2",
    "kSeq3Step6",
    "kSeq3Step6T2",
    "kSeq3Step7",
    "kSeq3Step7T2",
    "kSeq3Step8",
    "kSeq3Step8T2",
    "kSeq3Step9",
    "kSeq3Step9T2",
    "kSeq3Step10",
    "kSeq3Step10T2",
    "kSeq3Step11",
    "kSeq3Step11T2",
    "kSeq3Step12",
    "kSeq3Step12T2",
    "kSeq3Step13",
    "kSeq3Step13T2",
    "kSeq3Step14",
    "kSeq3Step14T2",
    "kSeq3Step15",
    "kSeq3Step15T2",
    "kSeq3Step16",
    "kSeq3Step16T2",
    "kModSeqSwitch",
    "kModSeqSwitchT2",
    "kModSeqType",
    "kModSeqTypeT2",
    "kModSeqLastStep",
    "kModSeqLastStepT2",
    "kModSeqKeySync",
    "kModSeqKeySyncT2",
    "kModSeqRunMode",
    "kModSeqRunModeT2",
    "kModSeqResolution",
    "kModSeqResolutionT2",
    "kSeq1Knob",
    "kSeq1KnobT2",
    "kSeq1Motion",
    "kSeq1MotionT2",
    "kSeq2Knob",
    "kSeq2KnobT2",
    "kSeq2Motion",
    "kSeq2MotionT2",
    "kSeq3Knob",
    "kSeq3KnobT2",
    "kSeq3Motion",
    "kSeq3MotionT2",
    "kModSeq1Value01",
    "kModSeq1Value02",
    "kModSeq1Value03",
    "kModSeq1Value04",
    "kModSeq1Value05",
    "kModSeq1Value06",
    "kModSeq1Value07",
    "kModSeq1Value08",
    "kModSeq1Value09",
    "kModSeq1Value10",
    "kModSeq1Value11",
    "kModSeq1Value12",
    "kModSeq1Value13",
    "kModSeq1Value14",
    "kModSeq1Value15",
    "kModSeq1Value16",
    "kModSeq2Value01",
    "kModSeq2Value02",
    "kModSeq2Value03",
    "kModSeq2Value04",
    "kModSeq2Value05",
    "kModSeq2Value06",
    "kModSeq2Value07",
    "kModSeq2Value08",
    "kModSeq2Value09",
    "kModSeq2Value10",
    "kModSeq2Value11",
    "kModSeq2Value12",
    "kModSeq2Value13",
    "kModSeq2Value14",
    "kModSeq2Value15",
    "kModSeq2Value16",
    "kModSeq3Value01",
    "kModSeq3Value02",
    "kModSeq3Value03",
    "kModSeq3Value04",
    "kModSeq3Value05",
    "kModSeq3Value06",
    "kModSeq3Value07",
    "kModSeq3Value08",
    "kModSeq3Value09",
    "kModSeq3Value10",
    "kModSeq3Value11",
    "kModSeq3Value12",
    "kModSeq3Value13",
    "kModSeq3Value14",
    "kModSeq3Value15",
    "kModSeq3Value16",
    "kTimbreTune",
    "kTimbreTuneT2",
    "kTimbreBendRange",
    "kTimbreBendRangeT2",
    "kTimbreTranspose",
    "kTimbreTransposeT2",
    "kOverrideTempo",
    "kMasterTune",
    "kMasterTranspose",
    "kMasterPosition",
    "kMasterVelocityValue",
    "kMasterVelocityArea",
    "kGlobalMidiChannel",
    "kGlobalLocalControl",
    "kGlobalPageMemory",
    "kGlobalPageJump",
    "kGlobalClockSource",
    "kGlobalMIDI1Ctrl",
    "kGlobalMIDI2Ctrl",
    "kMIDIFilterWriteProtect",
    "kMIDIFilterSysEx",
    "kMIDIFilterProgramChange",
    "kMIDIFilterControlChange",
    "kMIDIFilterPitchBend",
    "kReserved339",
    "kLockPartMIDIch",
    "kLockPartMIDIchT2",
    "kBankSelection",
    "kPatchSelection",
    "kPatchName",
    "kReserved345",
    "kCommonMode",
    "kCommonVoices",
    "kCommonSplitPoint",
    "kRefreshFolders",
    "kLibSyncTimer",
    "kPartLock",
    "kPartLockT2",
    "kSectionLockOsc1",
    "kSectionLockOsc1T2",
    "kSectionLockOsc2",
    "kSectionLockOsc2T2",
    "kSectionLockMixer",
    "kSectionLockMixerT2",
    "kSectionLockVoice",
    "kSectionLockVoiceT2",
    "kSectionLockFilter",
    "kSectionLockFilterT2",
    "kSectionLockEg1",
    "kSectionLockEg1T2",
    "kSectionLockEg2",
    "kSectionLockEg2T2",
    "kSectionLockAmp",
    "kSectionLockAmpT2",
    "kSectionLockLFO1",
    "kSectionLockLFO1T2",
    "kSectionLockLFO2",
    "kSectionLockLFO2T2",
    "kSectionLockUnisono",
    "kSectionLockUnisonoT2",
    "kSectionLockPitchMod",
    "kSectionLockPitchModT2",
    "kSectionLockVP1",
    "kSectionLockVP1T2",
    "kSectionLockVP2",
    "kSectionLockVP2T2",
    "kSectionLockVP3",
    "kSectionLockVP3T2",
    "kSectionLockVP4",
    "kSectionLockVP4T2",
    "kSectionLocSeq1Lock",
    "kSectionLocSeq1LockT2",
    "kSectionLocSeq2Lock",
    "kSectionLocSeq2LockT2",
    "kSectionLocSeq3Lock",
    "kSectionLocSeq3LockT2",
    "kSectionLockFXChorus",
    "kSectionLockFXDelay",
    "kSectionLockFXEQ",
    "kSectionLockArp",
    "kSectionLockGlobal",
    "kPatchRename",
    "kLayerLinker",
    "kMIDILed",
    "kMIDILedT2",
    "kMIDIFilterDAWCCPassThrough",
    "kMIDIFilterDAWPCPassThrough",
    "kMIDIFilterDAWNotePassThrough",
    "kMIDIFilterDAWPPPassThrough",
    "kMIDIFilterDAWPAPassThrough",
    "kMIDIFilterDAWCAPassThrough",
    "kMIDIFilterDAWSEPassThrough",
    "kMIDIFilterHWCCPassThrough",
    "kMIDIFilterHWPCPassThrough",
    "kMIDIFilterHWNotePassThrough",
    "kMIDIFilterHWPPPassThrough",
    "kMIDIFilterHWPAPassThrough",
    "kMIDIFilterHWCAPassThrough",
    "kMIDIFilterHWSEPassThrough",
    "kMIDIFilterTrackIncomingMIDI",
    "kMIDIFilterDirectToHardware",
    "kMIDIFilterToDAWBuffer",
    "kSendMIDIClockPointer",
    "kSendMIDIClockInfo",
    "kLibUpperNextBank",
    "kLibUpperPreviousBank",
    "kLibLowerNextBank",
    "kLibLowerPreviousBank",
    "kBankEditUnsaved",
    "kAdjustDAWOffset",
    "kCurrentOpenPatchBankL",
    "kCurrentOpenPerfBankL",
    "kReserved427",
    "kCurrentOpenPatchBankR",
    "kCurrentOpenPerfBankR",
    "kReserved430",
    "kMasterKeyboard",
    "kDummyParam01",
    "kDummyParam02",
    "kDummyParam03",
    "kDummyParam04",
    "kDummyParam05",
    "kDummyParam06",
    "kDummyParam07",
    "kDummyParam08",
    "kDummyParam09",
    "kDummyParam10",
    "kDummyParam11",
    "kDummyParam12",
    "kDummyParam13",
    "kDummyParam14",
    "kDummyParam15",
    "kDummyParam16",
    "kDummyParam17",
    "kDummyParam18",
    "kDummyParam19",
    "kDummyParam20",
    "kDummyParam21",
    "kDummyParam22",
    "kDummyParam23",
    "kDummyParam24",
    "kDummyParam25",
    "kDummyParam26",
    "kDummyParam27",
    "kDummyParam28",
    "kDummyParam29",
    "kDummyParam30",
    "kDummyParam31",
    "kDummyParam32",
    "kDummyParam33",
    "kDummyParam34",
    "kDummyParam35",
    "kDummyParam36",
    "kDummyParam37",
    "kDummyParam38",
    "kDummyParam39",
    "kDummyParam40",
    "kReserved472",
    "kOverwriteBank",
    "kCurrentPatch",
    "kCurrentBank",
    "kPatchSearchString",
    "kPatchSearch",
    "kReleaseAllLocks",
    "kUserInterfaceSize",
    "kUserInterfaceSkin",
    "kRandomize",
    "kFirstRunExit",
    "kReserved483",
    "kReserved484",
    "kTimbreSelectTrigger",
    "kDeviceOutSelection",
    "kDeviceInSelection",
    "kDataType",
    "kReserved489",
    "kReserved490",
    "kReserved491",
    "kPatchUp",
    "kPatchDown",
    "kControlLibrary",
    "kControlDisplayName",
    "kControlDisplayValue",
    "kControlDisplayCC",
    "kControlDisplayTimbre",
    "kControlDisplayBuild",
    "kControlDisplayMIDIOutDelay",
    "kReserved501",
    "kReserved502",
    "kReadFromTimbre1",
    "kReadFromTimbre2",
    "kLoadToTimbre1",
    "kLoadToTimbre2",
    "kReserved507",
    "kPushArrangement",
    "kReserved509",
    "kReserved510",
    "kReserved511",
    "kDiscardBankData",
    "kReserved513",
    "kReserved514",
    "kReserved515",
    "kReserved516",
    "kReserved517",
    "kReserved518",
    "kPatchSelectionListUpper",
    "kPatchSelectionListLower",
    "kShowLibrarian",
    "kRequestTempData",
    "kShowModSequence",
    "kMainTab",
    "kQuickTab",
    "kGlobalSettings",
    "kLibrarianArea",
    "kTimbreLED",
};

const char* const kOffOn[] = {"Off", "On"};
const char* const kOsc1Waves[] = {"Saw", "Square", "Triangle", "Sine", "Vox Wave", "DWGS", "Noise", "Audio In"};
const char* const kFilterTypes[] = {"-24dB LPF", "-12dB LPF", "-12dB BPF", "-12dB HPF"};
const char* const kArpTypes[] = {"Up", "Down", "Alt1", "Alt2", "Random", "Trigger"};
const char* const kArpRanges[] = {"1 Octave", "2 Octave", "3 Octave", "4 Octave"};
const char* const kModFxTypes[] = {"Chorus/Flanger", "Ensemble", "Phaser"};
const char* const kVoiceAssigns[] = {"Mono", "Poly", "Unison"};
const char* const kPositions[] = {"Post KBD", "Pre TG"};
const char* const kPartChannels[] = {"1",  "2",  "3",  "4",  "5",  "6",  "7",  "8",  "9",
                                     "10", "11", "12", "13", "14", "15", "16", "GLB"};

struct Table {
  ParamInfo info[kNumParams];
  ParamInfo none;
};

// Ranges and texts only. The defaults are filled in afterwards from the built-in initial program, so
// that the two can never disagree.
Table makeRanges() {
  Table t{};
  t.none = ParamInfo{nullptr, 0, 0, 0, nullptr, 0, false, false};
  for (int i = 0; i < kNumParams; ++i) {
    t.info[i] = ParamInfo{kNames[i], 0, 1, 0, nullptr, 0, false, false};
  }
  auto set = [&t](int i, double lo, double hi, bool sound = true) {
    t.info[i].min = lo;
    t.info[i].max = hi;
    t.info[i].sound = sound;
  };
  auto texts = [&t](int i, const char* const* list, int n) {
    t.info[i].valueTexts = list;
    t.info[i].valueTextCount = n;
  };
  // A timbre parameter: both twins get the same record.
  auto timbre = [&](int i, double lo, double hi, const char* const* list = nullptr, int n = 0) {
    for (int k = i; k <= i + 1; ++k) {
      set(k, lo, hi);
      t.info[k].perTimbre = true;
      if (list) texts(k, list, n);
    }
  };
  auto timbreSwitch = [&](int i) { timbre(i, 0, 1, kOffOn, 2); };

  // Oscillators, mixer, filter, amplifier, envelopes: one 7-bit field each.
  for (int i = kLfo1Frequency; i <= kEG2ReleaseT2; i += 2) timbre(i, 0, 127);
  timbre(kOsc2OscMod, 0, 3);
  timbre(kFilterType, 0, 3, kFilterTypes, 4);
  timbreSwitch(kAmpGateSw);
  timbreSwitch(kAmpDistSw);

  set(kModFxType, 0, 2);
  texts(kModFxType, kModFxTypes, 3);
  set(kModFxSpeed, 0, 127);
  set(kModFxDepth, 0, 127);
  set(kDelayFxType, 0, 2);
  set(kDelayFxTempoSync, 0, 1);
  texts(kDelayFxTempoSync, kOffOn, 2);
  set(kDelayFxTime, 0, 127);
  set(kDelayFxSyncNote, 0, 14);
  set(kDelayFxDepth, 0, 127);
  // EQ frequencies have 30 steps; gains are 0 dB at 12 and travel as value + 52.
  set(kEQLowFreq, 0, 29);
  set(kEQLowGain, 0, 24);
  set(kEQHiFreq, 0, 29);
  set(kEQHiGain, 0, 24);

  timbre(kOsc1DWGSWave, 0, 63);
  timbre(kVibratoInt, 0, 127);
  for (int i = kVPatchAmnt1; i <= kVPatchAmnt4; i += 2) timbre(i, 0, 127);

  set(kArpTempo, 0, 280);  // 20 to 300 BPM
  set(kArpGate, 0, 100);
  set(kArpSwing, 0, 200);  // -100 % to +100 %
  set(kArpOnOff, 0, 1);
  texts(kArpOnOff, kOffOn, 2);
  set(kArpReso, 0, 5);
  set(kArpLatch, 0, 1);
  texts(kArpLatch, kOffOn, 2);
  set(kArpRange, 0, 3);
  texts(kArpRange, kArpRanges, 4);
  set(kArpType, 0, 5);
  texts(kArpType, kArpTypes, 6);
  set(kArpKeySync, 0, 1);
  texts(kArpKeySync, kOffOn, 2);
  set(kArpTarget, 0, 2);

  timbre(kLfo1Waveform, 0, 3);
  timbre(kLfo1KeySync, 0, 2);
  timbreSwitch(kLfo1TempoSync);
  timbre(kLfo1SyncNote, 0, 14);
  timbre(kLfo2Waveform, 0, 3);
  timbre(kLfo2KeySync, 0, 2);
  timbreSwitch(kLfo2TempoSync);
  timbre(kLfo2SyncNote, 0, 14);
  timbre(kOsc1Waveform, 0, 7, kOsc1Waves, 8);
  timbre(kOsc2Waveform, 0, 2);
  timbre(kVoiceAssign, 0, 2, kVoiceAssigns, 3);
  timbre(kMultiPartMIDICh, 0, 16, kPartChannels, 17);  // 16: follow the global channel
  timbre(kVoicePriority, 0, 2);
  timbre(kVoiceTrigger, 0, 1);
  timbreSwitch(kEG1Reset);
  timbreSwitch(kEG2Reset);
  for (int i = kVPatchSrc1; i <= kVPatchDest4; i += 2) timbre(i, 0, 7);
  for (int i = kSeq1Step1; i <= kSeq3Step16; i += 2) timbre(i, 0, 127);
  timbreSwitch(kModSeqSwitch);
  timbre(kModSeqType, 0, 3);
  timbre(kModSeqLastStep, 0, 15);
  timbre(kModSeqKeySync, 0, 2);
  timbre(kModSeqRunMode, 0, 1);
  timbre(kModSeqResolution, 0, 15);
  for (int i = kSeq1Knob; i <= kSeq3Knob; i += 4) {
    timbre(i, 0, 127);
    timbre(i + 2, 0, 1);
  }
  // Timbre tune is +-50 cents around 50, bend range +-12 around 12, transposition +-24 around 24.
  timbre(kTimbreTune, 0, 100);
  timbre(kTimbreBendRange, 0, 24);
  timbre(kTimbreTranspose, 0, 48);

  set(kCommonMode, 0, 3);
  set(kCommonVoices, 0, 2);
  set(kCommonSplitPoint, 0, 127);
  set(kPatchName, 0, 0);

  // Stored program bytes: top-bit bytes and data bytes whose bit 7 a stored top-bit byte keeps hold 7 bits;
  // the data bytes 14, 15 and 37 (kDummyParam06 to 08) hold all 8. kDummyParam01 is the split point's top
  // bit as 0 or 16, kDummyParam03 the top bits of timbre 1's detune and tune (bits 0 and 1), kDummyParam05
  // 0 or 4.
  for (int i = kDummyParam01; i <= kDummyParam40; ++i) set(i, 0, 127, i <= kDummyParam34);
  set(kDummyParam01, 0, 16);
  set(kDummyParam03, 0, 3);
  for (int i = kDummyParam06; i <= kDummyParam08; ++i) set(i, 0, 255);
  set(kDummyParam04, 0, 127, false);
  set(kDummyParam05, 0, 4);

  // Global settings (the global dump). Tune and transposition sit around 101 and 13 (see GlobalDump).
  set(kMasterTune, 51, 151, false);
  set(kMasterTranspose, 1, 25, false);
  set(kMasterPosition, 0, 1, false);
  texts(kMasterPosition, kPositions, 2);
  set(kMasterVelocityValue, 1, 127, false);
  set(kMasterVelocityArea, 0, 8, false);
  set(kGlobalMidiChannel, 0, 15, false);
  texts(kGlobalMidiChannel, kPartChannels, 16);
  set(kGlobalClockSource, 0, 2, false);
  set(kGlobalMIDI1Ctrl, 0, 127, false);
  set(kGlobalMIDI2Ctrl, 0, 127, false);
  for (int i = 1; i < kNumParams; ++i) {
    if (isTimbreTwin(i)) t.info[i - 1].perTimbre = t.info[i].perTimbre = true;
  }
  return t;
}

const Table& ranges() {
  static const Table t = makeRanges();
  return t;
}

Table makeTable() {
  Table t = ranges();
  double values[kNumParams];
  for (int i = 0; i < kNumParams; ++i) values[i] = t.info[i].min;
  // Neither channel byte of the initial program names a timbre channel: both follow the global one.
  values[kMultiPartMIDICh] = 16;
  values[kMultiPartMIDIChT2] = 16;
  ProgramParseResult program;
  parseProgramDump(initialProgramDump(), kProgramDumpSize, values, &program);
  parseGlobalDump(globalDumpTemplate(), kGlobalDumpSize, values);
  for (int i = 0; i < kNumParams; ++i) t.info[i].defaultValue = values[i];
  return t;
}

const Table& table() {
  static const Table t = makeTable();
  return t;
}

}  // namespace

const char* paramName(int index) {
  return index >= 0 && index < kNumParams ? kNames[index] : nullptr;
}

const ParamInfo& paramInfo(int index) {
  const Table& t = table();
  return index >= 0 && index < kNumParams ? t.info[index] : t.none;
}

bool isTimbreTwin(int index) {
  if (index < 0 || index >= kNumParams) return false;
  const char* name = kNames[index];
  size_t n = std::strlen(name);
  return n > 2 && std::strcmp(name + n - 2, "T2") == 0;
}

int arpGateData(int percent) {
  const int p = percent < 0 ? 0 : percent > 100 ? 100 : percent;
  return (p * 127 + 50) / 100;
}

int arpGatePercent(int data) {
  const int d = data < 0 ? 0 : data > 127 ? 127 : data;
  return (d * 100 + 63) / 127;
}

double clampToParamRange(int index, double value) {
  if (index < 0 || index >= kNumParams) return value;
  const ParamInfo& p = ranges().info[index];
  if (value < p.min) return p.min;
  if (value > p.max) return p.max;
  return value;
}

int paramIndexFromName(const std::string& reference) {
  size_t begin = reference.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) return -1;
  size_t end = reference.find_last_not_of(" \t\r\n") + 1;
  std::string text = reference.substr(begin, end - begin);
  int offset = 0;
  size_t plus = text.find('+');
  if (plus != std::string::npos) {
    std::string number = text.substr(plus + 1);
    size_t digits = number.find_first_not_of(" \t");
    number = digits == std::string::npos ? std::string() : number.substr(digits);
    if (number.empty() || number.size() > 3) return -1;
    for (char c : number) {
      if (c < '0' || c > '9') return -1;
    }
    offset = std::atoi(number.c_str());
    text.erase(plus);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.pop_back();
  }
  static const std::unordered_map<std::string, int> byName = [] {
    std::unordered_map<std::string, int> m;
    for (int i = 0; i < kNumParams; ++i) m.emplace(kNames[i], i);
    return m;
  }();
  auto found = byName.find(text);
  if (found == byName.end()) return -1;
  int index = found->second + offset;
  return index < kNumParams ? index : -1;
}
