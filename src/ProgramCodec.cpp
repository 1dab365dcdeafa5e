// Building and reading the program data of a program dump, field by field.
#include <cmath>
#include <cstring>

#include "src/ProgramDump.h"
#include "src/VexmirParams.h"

namespace {

// Oscillator 2 semitone: kOsc2Semitone holds a position 0..127; the program byte is 40 + the place of the
// position in this list (semitones -24 to +24).
const uint8_t kSemitonePositions[49] = {0,  3,  6,  8,  11,  14,  16,  19,  21,  24,  27,  29,  32,  34,  37, 40, 42,
                                        45, 48, 50, 53, 55,  58,  61,  64,  66,  68,  71,  74,  76,  79,  81, 84, 87,
                                        89, 92, 95, 97, 100, 102, 105, 108, 110, 113, 115, 118, 121, 123, 127};

constexpr int kTimbreBlock = 38;
constexpr int kTimbreSize = 108;

// A value cut to an integer toward zero, as the device fields take it. Values that are not numbers or lie
// far outside any field become 0 rather than undefined behaviour.
int whole(double v) {
  if (!(v > -1.0e6 && v < 1.0e6)) return 0;
  return static_cast<int>(v);
}

uint8_t byte7(int v) {
  return static_cast<uint8_t>(v < 0 ? 0 : v > 127 ? 127 : v);
}

uint8_t nameChar(char c) {
  return static_cast<uint8_t>(c) & 0x7F;
}

uint8_t voiceModeByte(int mode, int voices) {
  if (mode == 0 && voices == 1) return 0x00;
  if (mode == 1 && (voices == 0 || voices == 2)) return 0x10;
  if (mode == 2 && (voices == 0 || voices == 2)) return 0x20;
  if (mode == 3 && voices == 1) return 0x30;
  if (mode == 1 && voices == 1) return 0x50;
  if (mode == 2 && voices == 1) return 0x60;
  return 0x00;
}

uint8_t semitoneByte(int position) {
  for (int i = 0; i < 49; ++i) {
    if (kSemitonePositions[i] == position) return static_cast<uint8_t>(40 + i);
  }
  return byte7(position);
}

// Copied top-bit bytes: message position -> storage parameter.
struct StoredTopBits {
  int position;
  int param;
};
const StoredTopBits kStoredTopBits[] = {
    {29, kDummyParam02},  {53, kDummyParam09},  {61, kDummyParam10},  {69, kDummyParam12},  {77, kDummyParam13},
    {85, kDummyParam14},  {117, kDummyParam15}, {125, kDummyParam16}, {133, kDummyParam17}, {141, kDummyParam18},
    {149, kDummyParam19}, {157, kDummyParam20}, {165, kDummyParam21}, {181, kDummyParam22}, {189, kDummyParam24},
    {197, kDummyParam25}, {205, kDummyParam26}, {237, kDummyParam27}, {245, kDummyParam28}, {253, kDummyParam29},
    {261, kDummyParam30}, {269, kDummyParam31}, {277, kDummyParam32}, {285, kDummyParam33}, {293, kDummyParam34},
};

// Sequence blocks of a timbre: knob, motion and 16 steps each, from timbre offset 54.
const int kSeqKnob[3] = {kSeq1Knob, kSeq2Knob, kSeq3Knob};
const int kSeqMotion[3] = {kSeq1Motion, kSeq2Motion, kSeq3Motion};
const int kSeqStep1[3] = {kSeq1Step1, kSeq2Step1, kSeq3Step1};
const int kSeqLock[3] = {kSectionLocSeq1Lock, kSectionLocSeq2Lock, kSectionLocSeq3Lock};

// The storage parameter of packing unit k's top-bit byte, -1 for the composed ones.
int storedTopBitParam(int unit) {
  struct Map {
    int param[37];
    Map() {
      for (int& p : param) p = -1;
      for (const StoredTopBits& s : kStoredTopBits) param[(s.position - 5) / 8] = s.param;
    }
  };
  static const Map map;
  return map.param[unit];
}

void buildTimbre(const double* v, int t, uint8_t* data) {
  auto p = [v, t](int index) { return whole(v[index + t]); };
  uint8_t* b = data + kTimbreBlock + kTimbreSize * t;
  int channel = p(kMultiPartMIDICh);
  b[0] = channel >= 16 ? 0x7F : byte7(channel);
  b[1] = byte7(p(kVoicePriority) + 8 * p(kVoiceTrigger) + 16 * p(kEG1Reset) + 32 * p(kEG2Reset) +
               (p(kVoiceAssign) == 1 ? 64 : 0));
  b[2] = byte7(p(kDetune));
  b[3] = byte7(p(kTimbreTune) + 14);
  b[4] = byte7(p(kTimbreBendRange) + 52);
  b[5] = byte7(p(kTimbreTranspose) + 40);
  b[6] = byte7(p(kVibratoInt));
  b[7] = byte7(p(kOsc1Waveform));
  b[8] = byte7(p(kOsc1Control1));
  b[9] = byte7(p(kOsc1Control2));
  b[10] = byte7(p(kOsc1DWGSWave));
  b[11] = byte7(whole(v[t == 0 ? kDummyParam11 : kDummyParam23]));
  b[12] = byte7(p(kOsc2OscMod) * 16 + p(kOsc2Waveform));
  b[13] = semitoneByte(p(kOsc2Semitone));
  b[14] = byte7(p(kOsc2Tune));
  b[15] = byte7(p(kPortamento));
  b[16] = byte7(p(kOsc1Level));
  b[17] = byte7(p(kOsc2Level));
  b[18] = byte7(p(kNoiseLevel));
  b[19] = byte7(p(kFilterType));
  b[20] = byte7(p(kFilterCutoff));
  b[21] = byte7(p(kFilterResonance));
  b[22] = byte7(p(kFilterEGIntensity));
  b[23] = byte7(p(kFilterVeloSense));
  b[24] = byte7(p(kFilterKBDTrack));
  b[25] = byte7(p(kAmpLevel));
  b[26] = byte7(p(kAmpPan));
  b[27] = byte7(p(kAmpGateSw) * 64 + p(kAmpDistSw));
  b[28] = byte7(p(kAmpVeloSense));
  b[29] = byte7(p(kAmpKBDTrack));
  b[30] = byte7(p(kEG1Attack));
  b[31] = byte7(p(kEG1Decay));
  b[32] = byte7(p(kEG1Sustain));
  b[33] = byte7(p(kEG1Release));
  b[34] = byte7(p(kEG2Attack));
  b[35] = byte7(p(kEG2Decay));
  b[36] = byte7(p(kEG2Sustain));
  b[37] = byte7(p(kEG2Release));
  b[38] = byte7(p(kLfo1KeySync) * 16 + p(kLfo1Waveform));
  b[39] = byte7(p(kLfo1Frequency));
  b[40] = byte7(p(kLfo1SyncNote));
  b[41] = byte7(p(kLfo2KeySync) * 16 + p(kLfo2Waveform));
  b[42] = byte7(p(kLfo2Frequency));
  b[43] = byte7(p(kLfo2SyncNote));
  for (int n = 0; n < 4; ++n) {
    b[44 + 2 * n] = byte7(p(kVPatchDest1 + 2 * n) * 16 + p(kVPatchSrc1 + 2 * n));
    b[45 + 2 * n] = byte7(p(kVPatchAmnt1 + 2 * n));
  }
  b[52] = byte7(p(kModSeqRunMode) * 64 + p(kModSeqResolution));
  // The last step's bit 3 travels as the byte's bit 7, in the top-bit byte.
  int last = p(kModSeqLastStep);
  int type = p(kModSeqType);
  int keySync = p(kModSeqKeySync);
  int sequence = (last < 0 ? 0 : last) * 16 + (type < 0 ? 0 : type) * 4 + (keySync < 0 ? 0 : keySync);
  b[53] = static_cast<uint8_t>((sequence > 255 ? 255 : sequence) & 0x7F);
  for (int s = 0; s < 3; ++s) {
    uint8_t* seq = b + 54 + 18 * s;
    seq[0] = byte7(p(kSeqKnob[s]));
    seq[1] = byte7(p(kSeqMotion[s]));
    for (int n = 0; n < 16; ++n) seq[2 + n] = byte7(p(kSeqStep1[s] + 2 * n));
  }
}

int flag(bool on, int bit) {
  return on ? (1 << bit) : 0;
}

}  // namespace

void buildProgramDump(const double* v, const std::string& name, uint8_t deviceId, uint8_t* out) {
  auto p = [v](int index) { return whole(v[index]); };
  uint8_t data[kProgramDataSize] = {};

  for (int i = 0; i < kProgramNameLength; ++i) {
    data[i] = i < static_cast<int>(name.size()) ? nameChar(name[i]) : ' ';
  }
  data[14] = byte7(p(kDummyParam06));
  data[15] = byte7(p(kDummyParam07));
  data[16] = voiceModeByte(p(kCommonMode), p(kCommonVoices));
  data[18] = byte7(p(kCommonSplitPoint));
  data[19] = byte7(p(kDelayFxSyncNote));
  data[20] = byte7(p(kDelayFxTime));
  data[21] = byte7(p(kDelayFxDepth));
  data[22] = byte7(p(kDelayFxType));
  data[23] = byte7(p(kModFxSpeed));
  data[24] = byte7(p(kModFxDepth));
  data[25] = byte7(p(kModFxType));
  data[26] = byte7(p(kEQHiFreq));
  data[27] = byte7(p(kEQHiGain) + 52);
  data[28] = byte7(p(kEQLowFreq));
  data[29] = byte7(p(kEQLowGain) + 52);
  int tempo = p(kArpTempo) + 20;
  if (tempo < 0) tempo = 0;
  int tempoLow = tempo % 256;
  data[30] = byte7(tempo / 256);
  data[31] = static_cast<uint8_t>(tempoLow & 0x7F);
  data[32] = byte7(flag(p(kArpLatch) == 1, 6) + p(kArpTarget) * 16 + p(kArpKeySync));
  data[33] = byte7(p(kArpRange) * 16 + p(kArpType));
  data[34] = byte7(p(kArpGate));
  data[35] = byte7(p(kArpReso));
  int swing = p(kArpSwing);
  data[36] = swing < 100 ? byte7(swing + 28) : byte7(swing - 100);
  data[37] = byte7(p(kDummyParam08));
  buildTimbre(v, 0, data);
  buildTimbre(v, 1, data);

  uint8_t top[37] = {};
  top[2] = static_cast<uint8_t>(flag(p(kCommonVoices) == 2, 2) + flag(p(kDelayFxTempoSync) == 1, 5) +
                                (p(kDummyParam01) & 0x7F));
  top[4] = static_cast<uint8_t>(flag(p(kArpOnOff) == 1, 4) + flag(tempoLow >= 128, 3));
  top[5] = static_cast<uint8_t>(((p(kDummyParam03) * 32) & 0x60) + flag(p(kVoiceAssign) == 2, 4) +
                                flag(p(kMultiPartMIDICh) >= 16, 3) + flag(swing < 100, 1));
  top[11] = static_cast<uint8_t>(flag(p(kLfo1TempoSync) != 0, 1) + flag(p(kLfo2TempoSync) != 0, 4));
  top[12] = static_cast<uint8_t>(flag(p(kModSeqSwitch) == 1, 6));
  top[13] = p(kModSeqLastStep) >= 8 ? 1 : 0;
  top[21] = p(kVoiceAssignT2) == 2 ? 1 : 0;
  top[26] = p(kLfo1TempoSyncT2) == 1 ? 0x10 : byte7(p(kLfo1TempoSyncT2));
  top[27] = byte7(p(kLfo2TempoSyncT2));
  top[28] = static_cast<uint8_t>(flag(p(kModSeqLastStepT2) >= 8, 3) + flag(p(kModSeqSwitchT2) == 1, 2));
  for (const StoredTopBits& s : kStoredTopBits) top[(s.position - 5) / 8] = static_cast<uint8_t>(p(s.param) & 0x7F);

  out[0] = 0xF0;
  out[1] = 0x42;
  out[2] = static_cast<uint8_t>(0x30 | (deviceId & 0x0F));
  out[3] = 0x58;
  out[4] = kProgramDumpFunction;
  for (int k = 0; k < 37; ++k) {
    int position = 5 + 8 * k;
    out[position] = top[k] & 0x7F;
    for (int i = 0; i < 7 && 7 * k + i < kProgramDataSize; ++i) out[position + 1 + i] = data[7 * k + i] & 0x7F;
  }
  out[kProgramDumpSize - 1] = 0xF7;
}

namespace {

class Parser {
 public:
  Parser(const uint8_t* msg, double* values, ProgramParseResult* result) : msg_(msg), v_(values), r_(result) {
    for (int i = kLockPartMIDIch; i <= kSectionLockGlobal; ++i) locked_[i - kLockPartMIDIch] = values[i] == 1.0;
    overrideTempo_ = values[kOverrideTempo] == 1.0;
    channel_[0] = whole(values[kMultiPartMIDICh]);
    channel_[1] = whole(values[kMultiPartMIDIChT2]);
  }

  void run() {
    readName();
    for (int k = 2; k < 37; ++k) {
      int position = 5 + 8 * k;
      topBits(position, msg_[position]);
      for (int i = 0; i < 7 && 7 * k + i < kProgramDataSize; ++i) {
        if (position + 1 + i == 25) continue;
        dataByte(7 * k + i, msg_[position + 1 + i]);
      }
    }
    // A locked part channel stays; a dump that named another channel puts it back.
    for (int t = 0; t < 2; ++t) {
      if (locked(kLockPartMIDIch, t) && receivedChannel_[t] != channel_[t]) {
        set(kMultiPartMIDICh + t, channel_[t]);
        r_->channelRestored[t] = true;
      }
    }
  }

 private:
  bool locked(int lock, int t = 0) const { return locked_[lock + t - kLockPartMIDIch]; }

  void set(int index, double value) {
    v_[index] = clampToParamRange(index, value);
    r_->changed.push_back(index);
  }
  void setUnless(bool isLocked, int index, double value) {
    if (!isLocked) set(index, value);
  }

  void readName() { r_->name = programDumpName(msg_, kProgramDumpSize); }

  void topBits(int position, uint8_t b) {
    int stored = storedTopBitParam((position - 5) / 8);
    if (stored >= 0) {
      set(stored, b);
      return;
    }
    switch (position) {
      case 21:
        setUnless(locked(kSectionLockFXDelay), kDelayFxTempoSync, b >= 0x15 ? 1 : 0);
        set(kDummyParam01, (b == 0x10 || b == 0x14 || b == 0x30 || b == 0x34) ? 16 : 0);
        voicesFlag_ = b == 0x04 || b == 0x14 || b == 0x24 || b == 0x34;
        break;
      case 37:
        tempoHigh_ = b == 0x08 || b == 0x18;
        setUnless(locked(kSectionLockArp), kArpOnOff, (b == 0x10 || b == 0x18) ? 1 : 0);
        break;
      case 45: {
        int c = b >= 0x20 ? b - 0x20 : b;
        set(kDummyParam03, b >= 0x20 ? 1 : 0);
        assignFlag_[0] = c > 15;
        swingFlag_ = c == 2 || c == 10 || c == 18 || c == 26;
        if (c == 8 || c == 10 || c == 24 || c == 26) set(kMultiPartMIDICh, 16);
        break;
      }
      case 93:
        setUnless(locked(kSectionLockLFO1), kLfo1TempoSync, (b == 0x02 || b == 0x12) ? 1 : 0);
        setUnless(locked(kSectionLockLFO2), kLfo2TempoSync, (b == 0x10 || b == 0x12) ? 1 : 0);
        break;
      case 101:
        set(kModSeqSwitch, (b >> 6) & 1);
        break;
      case 109:
        set(kDummyParam05, b >= 5 ? 4 : 0);
        lastStepFlag_[0] = (b >= 5 ? b - 4 : b) == 1;
        break;
      case 173:
        assignFlag_[1] = b == 1;
        break;
      case 213:
        setUnless(locked(kSectionLockLFO1, 1), kLfo1TempoSyncT2, b == 0x10 ? 1 : 0);
        break;
      case 221:
        setUnless(locked(kSectionLockLFO2, 1), kLfo2TempoSyncT2, b);
        break;
      case 229:
        lastStepFlag_[1] = b > 7;
        set(kModSeqSwitchT2, (b == 0x04 || b == 0x0C) ? 1 : 0);
        break;
      default:
        break;
    }
  }

  void dataByte(int d, uint8_t b) {
    if (d >= kTimbreBlock) {
      int t = d >= kTimbreBlock + kTimbreSize ? 1 : 0;
      timbreByte(d - kTimbreBlock - kTimbreSize * t, t, b);
      return;
    }
    bool delay = locked(kSectionLockFXDelay);
    bool chorus = locked(kSectionLockFXChorus);
    bool eq = locked(kSectionLockFXEQ);
    bool arp = locked(kSectionLockArp);
    switch (d) {
      case 14:
        set(kDummyParam06, b);
        break;
      case 15:
        set(kDummyParam07, b);
        break;
      case 16:
        voiceMode(b);
        break;
      case 18:
        setUnless(locked(kSectionLockGlobal), kCommonSplitPoint, b);
        break;
      case 19:
        setUnless(delay, kDelayFxSyncNote, b);
        break;
      case 20:
        setUnless(delay, kDelayFxTime, b);
        break;
      case 21:
        setUnless(delay, kDelayFxDepth, b);
        break;
      case 22:
        setUnless(delay, kDelayFxType, b);
        break;
      case 23:
        setUnless(chorus, kModFxSpeed, b);
        break;
      case 24:
        setUnless(chorus, kModFxDepth, b);
        break;
      case 25:
        setUnless(chorus, kModFxType, b);
        break;
      case 26:
        setUnless(eq, kEQHiFreq, b);
        break;
      case 27:
        setUnless(eq, kEQHiGain, b - 52);
        break;
      case 28:
        setUnless(eq, kEQLowFreq, b);
        break;
      case 29:
        setUnless(eq, kEQLowGain, b - 52);
        break;
      case 30:
        tempoPage_ = b == 1;
        break;
      case 31:
        setUnless(overrideTempo_, kArpTempo, tempoHigh_ ? b + 108 : tempoPage_ ? b + 236 : b - 20);
        break;
      case 32:
        setUnless(arp, kArpKeySync, b & 0x0F);
        setUnless(arp, kArpLatch, (b >> 6) & 1);
        setUnless(arp, kArpTarget, (b >> 4) & 3);
        break;
      case 33: {
        int range = b >> 4;
        if (range > 3) range = 0;
        setUnless(arp, kArpRange, range);
        setUnless(arp, kArpType, b - 16 * range);
        break;
      }
      case 34:
        setUnless(arp, kArpGate, b);
        break;
      case 35:
        setUnless(arp, kArpReso, b);
        break;
      case 36:
        setUnless(arp, kArpSwing, swingFlag_ ? b - 28 : b + 100);
        break;
      case 37:
        set(kDummyParam08, b);
        break;
      default:
        break;
    }
  }

  void voiceMode(uint8_t b) {
    if (locked(kSectionLockGlobal)) return;
    r_->voiceModeApplied = true;
    switch (b) {
      case 0x00:
      case 0x40:
        set(kCommonMode, 0);
        set(kCommonVoices, 1);
        r_->refreshRequested = true;
        break;
      case 0x10:
      case 0x20:
        set(kCommonMode, b >> 4);
        set(kCommonVoices, voicesFlag_ ? 2 : 0);
        break;
      case 0x50:
      case 0x60:
      case 0x70:
        set(kCommonMode, (b >> 4) - 4);
        set(kCommonVoices, 1);
        break;
      default:
        break;
    }
  }

  void timbreByte(int r, int t, uint8_t b) {
    auto lock = [this, t](int l) { return locked(l, t); };
    auto put = [this, t](bool isLocked, int index, double value) { setUnless(isLocked, index + t, value); };
    bool voice = lock(kSectionLockVoice);
    bool osc1 = lock(kSectionLockOsc1);
    bool osc2 = lock(kSectionLockOsc2);
    bool mixer = lock(kSectionLockMixer);
    bool filter = lock(kSectionLockFilter);
    bool amp = lock(kSectionLockAmp);
    bool eg1 = lock(kSectionLockEg1);
    bool eg2 = lock(kSectionLockEg2);
    bool lfo1 = lock(kSectionLockLFO1);
    bool lfo2 = lock(kSectionLockLFO2);
    if (r >= 44 && r < 52) {
      int n = (r - 44) / 2;
      bool vp = lock(kSectionLockVP1 + 2 * n);
      if (r % 2 == 0) {
        put(vp, kVPatchSrc1 + 2 * n, b & 0x0F);
        put(vp, kVPatchDest1 + 2 * n, b >> 4);
      } else {
        put(vp, kVPatchAmnt1 + 2 * n, b);
      }
      return;
    }
    if (r >= 54) {
      int s = (r - 54) / 18;
      int i = (r - 54) % 18;
      bool seq = lock(kSeqLock[s]);
      put(seq, i == 0 ? kSeqKnob[s] : i == 1 ? kSeqMotion[s] : kSeqStep1[s] + 2 * (i - 2), b);
      return;
    }
    switch (r) {
      case 0:
        receivedChannel_[t] = b;
        if (lock(kLockPartMIDIch)) break;
        if (t == 0 ? b <= 15 : b != 0x7F) set(kMultiPartMIDICh + t, b);
        break;
      case 1:
        put(voice, kVoicePriority, b & 7);
        put(eg1, kEG1Reset, (b >> 4) & 1);
        put(eg2, kEG2Reset, (b >> 5) & 1);
        put(voice, kVoiceTrigger, (b >> 3) & 1);
        if (!voice) {
          set(kVoiceAssign + t, (b >> 6) & 1);
          if (assignFlag_[t]) set(kVoiceAssign + t, 2);
        }
        break;
      case 2:
        put(lock(kSectionLockUnisono), kDetune, b);
        break;
      case 3:
        put(voice, kTimbreTune, b - 14);
        break;
      case 4:
        put(voice, kTimbreBendRange, b - 52);
        break;
      case 5:
        put(voice, kTimbreTranspose, b - 40);
        break;
      case 6:
        put(lock(kSectionLockPitchMod), kVibratoInt, b);
        break;
      case 7:
        put(osc1, kOsc1Waveform, b);
        break;
      case 8:
        put(osc1, kOsc1Control1, b);
        break;
      case 9:
        put(osc1, kOsc1Control2, b);
        break;
      case 10:
        if (whole(v_[kOsc1Waveform + t]) == 5) put(osc1, kOsc1DWGSWave, b);
        break;
      case 11:
        set(t == 0 ? kDummyParam11 : kDummyParam23, b);
        break;
      case 12: {
        int mod = b >= 0x30 ? 3 : b >> 4;
        put(osc2, kOsc2OscMod, mod);
        put(osc2, kOsc2Waveform, b - 16 * mod);
        break;
      }
      case 13:
        put(osc2, kOsc2Semitone, b >= 40 && b <= 87 ? kSemitonePositions[b - 40] : b == 88 ? 127 : b);
        break;
      case 14:
        put(osc2, kOsc2Tune, b);
        break;
      case 15:
        put(false, kPortamento, b);
        break;
      case 16:
        put(mixer, kOsc1Level, b);
        break;
      case 17:
        put(mixer, kOsc2Level, b);
        break;
      case 18:
        put(mixer, kNoiseLevel, b);
        break;
      case 19:
        put(filter, kFilterType, b);
        break;
      case 20:
        put(filter, kFilterCutoff, b);
        break;
      case 21:
        put(filter, kFilterResonance, b);
        break;
      case 22:
        put(filter, kFilterEGIntensity, b);
        break;
      case 23:
        put(filter, kFilterVeloSense, b);
        break;
      case 24:
        put(filter, kFilterKBDTrack, b);
        break;
      case 25:
        put(amp, kAmpLevel, b);
        break;
      case 26:
        put(amp, kAmpPan, b);
        break;
      case 27: {
        bool gate = b == 0x40 || b == 0x41;
        put(amp, kAmpGateSw, gate ? 1 : 0);
        put(amp, kAmpDistSw, gate ? b - 0x40 : b);
        break;
      }
      case 28:
        put(amp, kAmpVeloSense, b);
        break;
      case 29:
        put(amp, kAmpKBDTrack, b);
        break;
      case 30:
        put(eg1, kEG1Attack, b);
        break;
      case 31:
        put(eg1, kEG1Decay, b);
        break;
      case 32:
        put(eg1, kEG1Sustain, b);
        break;
      case 33:
        put(eg1, kEG1Release, b);
        break;
      case 34:
        put(eg2, kEG2Attack, b);
        break;
      case 35:
        put(eg2, kEG2Decay, b);
        break;
      case 36:
        put(eg2, kEG2Sustain, b);
        break;
      case 37:
        put(eg2, kEG2Release, b);
        break;
      case 38:
        lfoShape(lfo1, kLfo1KeySync + t, kLfo1Waveform + t, b);
        break;
      case 39:
        put(lfo1, kLfo1Frequency, b);
        break;
      case 40:
        put(lfo1, kLfo1SyncNote, b);
        break;
      case 41:
        lfoShape(lfo2, kLfo2KeySync + t, kLfo2Waveform + t, b);
        break;
      case 42:
        put(lfo2, kLfo2Frequency, b);
        break;
      case 43:
        put(lfo2, kLfo2SyncNote, b);
        break;
      case 52: {
        bool oneShot = b >= 0x40 && b <= 0x50;
        set(kModSeqRunMode + t, oneShot ? 1 : 0);
        set(kModSeqResolution + t, oneShot ? b - 0x40 : b);
        break;
      }
      case 53:
        set(kModSeqLastStep + t, b / 16 + (lastStepFlag_[t] ? 8 : 0));
        set(kModSeqType + t, (b >> 2) & 3);
        set(kModSeqKeySync + t, b & 3);
        lastStepFlag_[t] = false;
        break;
      default:
        break;
    }
  }

  void lfoShape(bool isLocked, int keySyncIndex, int waveIndex, uint8_t b) {
    if (isLocked) return;
    int high = b >> 4;
    int keySync = high == 1 || high == 2 ? high : 0;
    set(keySyncIndex, keySync);
    set(waveIndex, b - 16 * keySync);
  }

  const uint8_t* msg_;
  double* v_;
  ProgramParseResult* r_;
  bool locked_[kSectionLockGlobal - kLockPartMIDIch + 1] = {};
  bool overrideTempo_ = false;
  int channel_[2] = {0, 0};
  int receivedChannel_[2] = {0, 0};
  bool voicesFlag_ = false;
  bool tempoHigh_ = false;
  bool tempoPage_ = false;
  bool swingFlag_ = false;
  bool assignFlag_[2] = {false, false};
  bool lastStepFlag_[2] = {false, false};
};

}  // namespace

std::string programDumpName(const uint8_t* msg, size_t len) {
  // Name characters sit at 6..12 and 14..18; 13 is a top-bit byte, not a character.
  constexpr size_t kFirst = 6, kPacking = 13, kLast = 18;
  char name[kProgramNameLength];
  if (msg && len > kLast) {
    static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "byte i of a loaded word is bits 8i to 8i + 7");
    // The whole name is there: the librarian asks this for every program it reads, so the usual
    // name without zero bytes is taken in a few word loads that each lie within one store of the
    // code that has just written the dump.
    uint64_t first;
    uint32_t next;
    std::memcpy(&first, msg + kFirst, 8);
    std::memcpy(&next, msg + kPacking + 1, 4);
    const uint8_t last = msg[kLast];
    first &= 0x00FFFFFFFFFFFFFFull;  // the packing byte
    // A zero byte makes its lane borrow: (x - 0x01..) & ~x & 0x80.. is nonzero exactly then.
    const uint64_t firstLanes = first | 0xFF00000000000000ull;
    const bool zeroInFirst = ((firstLanes - 0x0101010101010101ull) & ~firstLanes & 0x8080808080808080ull) != 0;
    const bool zeroInNext = ((next - 0x01010101u) & ~next & 0x80808080u) != 0;
    if (!zeroInFirst && !zeroInNext && last != 0) {
      const uint64_t low = first | (static_cast<uint64_t>(next & 0xFF) << 56);
      const uint32_t high = (next >> 8) | (static_cast<uint32_t>(last) << 24);
      std::memcpy(name, &low, 8);
      std::memcpy(name + 8, &high, 4);
      return std::string(name, sizeof name);
    }
  }
  size_t count = 0;
  for (size_t position = kFirst; msg && position <= kLast && position < len; ++position) {
    if (position == kPacking) continue;
    if (msg[position] != 0) name[count++] = static_cast<char>(msg[position]);
  }
  return std::string(name, count);
}

bool parseProgramDump(const uint8_t* msg, size_t len, double* values, ProgramParseResult* result) {
  result->accepted = false;
  result->name.clear();
  result->refreshRequested = false;
  result->voiceModeApplied = false;
  result->channelRestored[0] = result->channelRestored[1] = false;
  result->changed.clear();
  if (msg == nullptr || values == nullptr || len != static_cast<size_t>(kProgramDumpSize)) return false;
  if (msg[0] != 0xF0 || msg[1] != 0x42 || (msg[2] & 0xF0) != 0x30 || msg[3] != 0x58 || msg[4] != kProgramDumpFunction ||
      msg[kProgramDumpSize - 1] != 0xF7) {
    return false;
  }
  result->accepted = true;
  Parser(msg, values, result).run();
  return true;
}
