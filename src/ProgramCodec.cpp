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

// A whole data byte, for fields that own bit 7 as well.
uint8_t byte8(int v) {
  return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

// Writes value into the bits of mask and leaves the others as they are.
void put(uint8_t* data, int d, uint8_t mask, int value) {
  data[d] = static_cast<uint8_t>((data[d] & ~mask) | (value & mask));
}

// Fields of seven bits: bit 7 of their byte is not theirs.
void put7(uint8_t* data, int d, int value) {
  put(data, d, 0x7F, byte7(value));
}

void putFlag(uint8_t* data, int d, uint8_t bit, bool on) {
  put(data, d, bit, on ? 0xFF : 0);
}

void buildTimbre(const double* v, int t, uint8_t* data) {
  auto p = [v, t](int index) { return whole(v[index + t]); };
  const int b = kTimbreBlock + kTimbreSize * t;
  int channel = p(kMultiPartMIDICh);
  // The timbre's own channel 0..15, or -1: the global channel.
  put(data, b, 0xFF, channel >= 16 ? 0xFF : byte7(channel));
  int priority = p(kVoicePriority);
  put(data, b + 1, 0x07, priority < 0 ? 0 : priority);
  putFlag(data, b + 1, 0x08, p(kVoiceTrigger) == 1);
  putFlag(data, b + 1, 0x10, p(kEG1Reset) == 1);
  putFlag(data, b + 1, 0x20, p(kEG2Reset) == 1);
  int assign = p(kVoiceAssign);
  put(data, b + 1, 0xC0, (assign < 0 ? 0 : assign > 3 ? 3 : assign) << 6);
  put7(data, b + 2, p(kDetune));
  put7(data, b + 3, p(kTimbreTune) + 14);
  put7(data, b + 4, p(kTimbreBendRange) + 52);
  put7(data, b + 5, p(kTimbreTranspose) + 40);
  put7(data, b + 6, p(kVibratoInt));
  put7(data, b + 7, p(kOsc1Waveform));
  put7(data, b + 8, p(kOsc1Control1));
  put7(data, b + 9, p(kOsc1Control2));
  put7(data, b + 10, p(kOsc1DWGSWave));
  put7(data, b + 11, whole(v[t == 0 ? kDummyParam11 : kDummyParam23]));
  put(data, b + 12, 0x0F, byte7(p(kOsc2Waveform)));
  put(data, b + 12, 0x30, byte7(p(kOsc2OscMod)) << 4);
  put7(data, b + 13, semitoneByte(p(kOsc2Semitone)));
  put7(data, b + 14, p(kOsc2Tune));
  put7(data, b + 15, p(kPortamento));
  const int straight[] = {kOsc1Level,       kOsc2Level,         kNoiseLevel,      kFilterType,     kFilterCutoff,
                          kFilterResonance, kFilterEGIntensity, kFilterVeloSense, kFilterKBDTrack, kAmpLevel,
                          kAmpPan};
  for (int i = 0; i < 11; ++i) put7(data, b + 16 + i, p(straight[i]));
  putFlag(data, b + 27, 0x40, p(kAmpGateSw) == 1);
  putFlag(data, b + 27, 0x01, p(kAmpDistSw) == 1);
  put7(data, b + 28, p(kAmpVeloSense));
  put7(data, b + 29, p(kAmpKBDTrack));
  const int envelopes[] = {kEG1Attack, kEG1Decay, kEG1Sustain, kEG1Release,
                           kEG2Attack, kEG2Decay, kEG2Sustain, kEG2Release};
  for (int i = 0; i < 8; ++i) put7(data, b + 30 + i, p(envelopes[i]));
  put(data, b + 38, 0x0F, byte7(p(kLfo1Waveform)));
  put(data, b + 38, 0x30, byte7(p(kLfo1KeySync)) << 4);
  put7(data, b + 39, p(kLfo1Frequency));
  put7(data, b + 40, p(kLfo1SyncNote));
  putFlag(data, b + 40, 0x80, p(kLfo1TempoSync) != 0);
  put(data, b + 41, 0x0F, byte7(p(kLfo2Waveform)));
  put(data, b + 41, 0x30, byte7(p(kLfo2KeySync)) << 4);
  put7(data, b + 42, p(kLfo2Frequency));
  put7(data, b + 43, p(kLfo2SyncNote));
  putFlag(data, b + 43, 0x80, p(kLfo2TempoSync) != 0);
  for (int n = 0; n < 4; ++n) {
    put(data, b + 44 + 2 * n, 0x0F, byte7(p(kVPatchSrc1 + 2 * n)));
    put(data, b + 44 + 2 * n, 0x70, byte7(p(kVPatchDest1 + 2 * n)) << 4);
    put7(data, b + 45 + 2 * n, p(kVPatchAmnt1 + 2 * n));
  }
  put(data, b + 52, 0x0F, byte7(p(kModSeqResolution)));
  putFlag(data, b + 52, 0x40, p(kModSeqRunMode) == 1);
  putFlag(data, b + 52, 0x80, p(kModSeqSwitch) == 1);
  // The last step (1..16 as 0..15) fills the high nibble, bit 7 included.
  int last = p(kModSeqLastStep);
  put(data, b + 53, 0xF0, (last < 0 ? 0 : last > 15 ? 15 : last) << 4);
  put(data, b + 53, 0x0C, byte7(p(kModSeqType)) << 2);
  put(data, b + 53, 0x03, byte7(p(kModSeqKeySync)));
  for (int s = 0; s < 3; ++s) {
    const int seq = b + 54 + 18 * s;
    put7(data, seq, p(kSeqKnob[s]));
    put7(data, seq + 1, p(kSeqMotion[s]));
    for (int n = 0; n < 16; ++n) put7(data, seq + 2 + n, p(kSeqStep1[s] + 2 * n));
  }
}

bool isVocoderModeByte(uint8_t b) {
  return ((b >> 4) & 3) == 3;
}

}  // namespace

void buildProgramDump(const double* v, const std::string& name, uint8_t deviceId, const uint8_t* base,
                      uint8_t* out) {
  auto p = [v](int index) { return whole(v[index]); };
  uint8_t data[kProgramDataSize] = {};
  if (base) std::memcpy(data, base, sizeof data);

  // Top-bit bytes kept whole come first: a field that owns bit 7 of its byte overrides them below.
  for (const StoredTopBits& s : kStoredTopBits) {
    const int unit = (s.position - 5) / 8;
    for (int i = 0; i < 7 && 7 * unit + i < kProgramDataSize; ++i) {
      putFlag(data, 7 * unit + i, 0x80, (p(s.param) >> i) & 1);
    }
  }

  for (int i = 0; i < kProgramNameLength; ++i) {
    put7(data, i, i < static_cast<int>(name.size()) ? nameChar(name[i]) : ' ');
  }
  put(data, 14, 0xFF, byte8(p(kDummyParam06)));
  put(data, 15, 0xFF, byte8(p(kDummyParam07)));
  // Voice mode: bits 4-5 the mode, bit 7 two voices, bit 6 one voice of a split or layer; the other bits,
  // and bit 6 where the mode leaves it open, are the synthesizer's.
  const int mode = p(kCommonMode);
  const int voices = p(kCommonVoices);
  put(data, 16, 0x30, (mode < 0 ? 0 : mode > 3 ? 3 : mode) << 4);
  putFlag(data, 16, 0x80, voices == 2);
  if (voices == 0 || ((mode == 1 || mode == 2) && voices == 1)) putFlag(data, 16, 0x40, voices == 1);
  put7(data, 18, p(kCommonSplitPoint));
  putFlag(data, 18, 0x80, (p(kDummyParam01) & 16) != 0);
  put7(data, 19, p(kDelayFxSyncNote));
  putFlag(data, 19, 0x80, p(kDelayFxTempoSync) == 1);
  put7(data, 20, p(kDelayFxTime));
  put7(data, 21, p(kDelayFxDepth));
  put7(data, 22, p(kDelayFxType));
  put7(data, 23, p(kModFxSpeed));
  put7(data, 24, p(kModFxDepth));
  put7(data, 25, p(kModFxType));
  put7(data, 26, p(kEQHiFreq));
  put7(data, 27, p(kEQHiGain) + 52);
  put7(data, 28, p(kEQLowFreq));
  put7(data, 29, p(kEQLowGain) + 52);
  // Tempo 20..300 as a 16-bit number.
  int tempo = p(kArpTempo) + 20;
  tempo = tempo < 0 ? 0 : tempo > 0xFFFF ? 0xFFFF : tempo;
  put(data, 30, 0xFF, tempo >> 8);
  put(data, 31, 0xFF, tempo & 0xFF);
  put(data, 32, 0x0F, byte7(p(kArpKeySync)));
  put(data, 32, 0x30, byte7(p(kArpTarget)) << 4);
  putFlag(data, 32, 0x40, p(kArpLatch) == 1);
  putFlag(data, 32, 0x80, p(kArpOnOff) == 1);
  put(data, 33, 0x0F, byte7(p(kArpType)));
  put(data, 33, 0x30, byte7(p(kArpRange)) << 4);
  put7(data, 34, p(kArpGate));
  put7(data, 35, p(kArpReso));
  // Swing -100..+100 as a signed byte.
  int swing = p(kArpSwing) - 100;
  swing = swing < -128 ? -128 : swing > 127 ? 127 : swing;
  put(data, 36, 0xFF, swing & 0xFF);
  put(data, 37, 0xFF, byte8(p(kDummyParam08)));
  putFlag(data, 40, 0x80, p(kDummyParam03) & 1);
  putFlag(data, 41, 0x80, p(kDummyParam03) & 2);
  buildTimbre(v, 0, data);
  buildTimbre(v, 1, data);
  if (mode == 3) {
    if (base) {
      std::memcpy(data + kTimbreBlock, base + kTimbreBlock, kProgramDataSize - kTimbreBlock);
    } else {
      std::memset(data + kTimbreBlock, 0, kProgramDataSize - kTimbreBlock);
    }
  }

  out[0] = 0xF0;
  out[1] = 0x42;
  out[2] = static_cast<uint8_t>(0x30 | (deviceId & 0x0F));
  out[3] = 0x58;
  out[4] = kProgramDumpFunction;
  packData(data, kProgramDataSize, out + 5);
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
    unpackData(msg + 5, kProgramDataSize, d_);
    std::memcpy(r_->data, d_, sizeof d_);
    r_->vocoder = isVocoderModeByte(d_[16]);
  }

  void run() {
    readName();
    for (int k = 2; k < 37; ++k) {
      topBits(k);
      for (int i = 0; i < 7 && 7 * k + i < kProgramDataSize; ++i) {
        const int d = 7 * k + i;
        if (d == 17) continue;  // the scale: nothing of the editor's
        dataByte(d, d_[d]);
      }
    }
    // A locked part channel stays; a dump that named another channel puts it back.
    for (int t = 0; t < 2 && !r_->vocoder; ++t) {
      if (locked(kLockPartMIDIch, t) && receivedChannel_[t] != channel_[t]) {
        set(kMultiPartMIDICh + t, channel_[t]);
        r_->channelRestored[t] = true;
      }
    }
  }

 private:
  bool locked(int lock, int t = 0) const { return locked_[lock + t - kLockPartMIDIch]; }
  bool bit7(int d) const { return (d_[d] & 0x80) != 0; }

  void set(int index, double value) {
    v_[index] = clampToParamRange(index, value);
    r_->changed.push_back(index);
  }
  void setUnless(bool isLocked, int index, double value) {
    if (!isLocked) set(index, value);
  }

  void readName() { r_->name = programDumpName(msg_, kProgramDumpSize); }

  // The storage parameters that keep whole top-bit bytes, and the flags that travel as a data byte's bit 7
  // where the order of the values set has them first.
  void topBits(int unit) {
    const int position = 5 + 8 * unit;
    const uint8_t b = msg_[position];
    int stored = storedTopBitParam(unit);
    if (stored >= 0) {
      set(stored, b);
      return;
    }
    switch (position) {
      case 21:
        setUnless(locked(kSectionLockFXDelay), kDelayFxTempoSync, bit7(19) ? 1 : 0);
        set(kDummyParam01, bit7(18) ? 16 : 0);
        break;
      case 37:
        setUnless(locked(kSectionLockArp), kArpOnOff, bit7(32) ? 1 : 0);
        break;
      case 45:
        set(kDummyParam03, (bit7(40) ? 1 : 0) + (bit7(41) ? 2 : 0));
        break;
      case 109:
        set(kDummyParam05, b >= 5 ? 4 : 0);
        break;
      default:
        break;
    }
  }

  void dataByte(int d, uint8_t b) {
    if (d >= kTimbreBlock) {
      if (r_->vocoder) return;
      int t = d >= kTimbreBlock + kTimbreSize ? 1 : 0;
      timbreByte(d - kTimbreBlock - kTimbreSize * t, t, b);
      return;
    }
    const int low = b & 0x7F;
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
        setUnless(locked(kSectionLockGlobal), kCommonSplitPoint, low);
        break;
      case 19:
        setUnless(delay, kDelayFxSyncNote, low);
        break;
      case 20:
        setUnless(delay, kDelayFxTime, low);
        break;
      case 21:
        setUnless(delay, kDelayFxDepth, low);
        break;
      case 22:
        setUnless(delay, kDelayFxType, low);
        break;
      case 23:
        setUnless(chorus, kModFxSpeed, low);
        break;
      case 24:
        setUnless(chorus, kModFxDepth, low);
        break;
      case 25:
        setUnless(chorus, kModFxType, low);
        break;
      case 26:
        setUnless(eq, kEQHiFreq, low);
        break;
      case 27:
        setUnless(eq, kEQHiGain, low - 52);
        break;
      case 28:
        setUnless(eq, kEQLowFreq, low);
        break;
      case 29:
        setUnless(eq, kEQLowGain, low - 52);
        break;
      case 31:
        setUnless(overrideTempo_, kArpTempo, d_[30] * 256 + b - 20);
        break;
      case 32:
        setUnless(arp, kArpKeySync, b & 0x0F);
        setUnless(arp, kArpLatch, (b >> 6) & 1);
        setUnless(arp, kArpTarget, (b >> 4) & 3);
        break;
      case 33:
        setUnless(arp, kArpRange, (b >> 4) & 3);
        setUnless(arp, kArpType, b & 0x0F);
        break;
      case 34:
        setUnless(arp, kArpGate, low);
        break;
      case 35:
        setUnless(arp, kArpReso, low);
        break;
      case 36:
        setUnless(arp, kArpSwing, static_cast<int8_t>(b) + 100);
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
    const int mode = (b >> 4) & 3;
    set(kCommonMode, mode);
    set(kCommonVoices, (b & 0x80) ? 2 : (b & 0x40) || mode == 0 || mode == 3 ? 1 : 0);
    if (mode == 0) r_->refreshRequested = true;
  }

  void timbreByte(int r, int t, uint8_t b) {
    auto lock = [this, t](int l) { return locked(l, t); };
    auto put = [this, t](bool isLocked, int index, double value) { setUnless(isLocked, index + t, value); };
    const int low = b & 0x7F;
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
        put(vp, kVPatchDest1 + 2 * n, (b >> 4) & 7);
      } else {
        put(vp, kVPatchAmnt1 + 2 * n, low);
      }
      return;
    }
    if (r >= 54) {
      int s = (r - 54) / 18;
      int i = (r - 54) % 18;
      bool seq = lock(kSeqLock[s]);
      put(seq, i == 0 ? kSeqKnob[s] : i == 1 ? kSeqMotion[s] : kSeqStep1[s] + 2 * (i - 2), low);
      return;
    }
    const int straight[] = {kOsc1Level,       kOsc2Level,         kNoiseLevel,      kFilterType,     kFilterCutoff,
                            kFilterResonance, kFilterEGIntensity, kFilterVeloSense, kFilterKBDTrack, kAmpLevel,
                            kAmpPan};
    const bool straightLocks[] = {mixer, mixer, mixer, filter, filter, filter, filter, filter, filter, amp, amp};
    if (r >= 16 && r <= 26) {
      put(straightLocks[r - 16], straight[r - 16], low);
      return;
    }
    const int envelopes[] = {kEG1Attack, kEG1Decay, kEG1Sustain, kEG1Release,
                             kEG2Attack, kEG2Decay, kEG2Sustain, kEG2Release};
    if (r >= 30 && r <= 37) {
      put(r < 34 ? eg1 : eg2, envelopes[r - 30], low);
      return;
    }
    switch (r) {
      case 0: {
        // 0..15 the timbre's own channel; -1 (0xFF) the global one.
        const int channel = b <= 15 ? b : 16;
        receivedChannel_[t] = channel;
        if (!lock(kLockPartMIDIch)) set(kMultiPartMIDICh + t, channel);
        break;
      }
      case 1:
        put(voice, kVoicePriority, b & 7);
        put(eg1, kEG1Reset, (b >> 4) & 1);
        put(eg2, kEG2Reset, (b >> 5) & 1);
        put(voice, kVoiceTrigger, (b >> 3) & 1);
        put(voice, kVoiceAssign, b >> 6);
        break;
      case 2:
        put(lock(kSectionLockUnisono), kDetune, low);
        break;
      case 3:
        put(voice, kTimbreTune, low - 14);
        break;
      case 4:
        put(voice, kTimbreBendRange, low - 52);
        break;
      case 5:
        put(voice, kTimbreTranspose, low - 40);
        break;
      case 6:
        put(lock(kSectionLockPitchMod), kVibratoInt, low);
        break;
      case 7:
        put(osc1, kOsc1Waveform, low);
        break;
      case 8:
        put(osc1, kOsc1Control1, low);
        break;
      case 9:
        put(osc1, kOsc1Control2, low);
        break;
      case 10:
        put(osc1, kOsc1DWGSWave, low);
        break;
      case 11:
        set(t == 0 ? kDummyParam11 : kDummyParam23, low);
        break;
      case 12:
        put(osc2, kOsc2OscMod, (b >> 4) & 3);
        put(osc2, kOsc2Waveform, b & 0x0F);
        break;
      case 13:
        put(osc2, kOsc2Semitone, low >= 40 && low <= 87 ? kSemitonePositions[low - 40] : low == 88 ? 127 : low);
        break;
      case 14:
        put(osc2, kOsc2Tune, low);
        break;
      case 15:
        put(false, kPortamento, low);
        break;
      case 27:
        put(amp, kAmpGateSw, (b >> 6) & 1);
        put(amp, kAmpDistSw, b & 1);
        break;
      case 28:
        put(amp, kAmpVeloSense, low);
        break;
      case 29:
        put(amp, kAmpKBDTrack, low);
        break;
      case 38:
        lfoShape(lfo1, kLfo1KeySync + t, kLfo1Waveform + t, b);
        break;
      case 39:
        put(lfo1, kLfo1Frequency, low);
        break;
      case 40:
        put(lfo1, kLfo1TempoSync, b >> 7);
        put(lfo1, kLfo1SyncNote, low);
        break;
      case 41:
        lfoShape(lfo2, kLfo2KeySync + t, kLfo2Waveform + t, b);
        break;
      case 42:
        put(lfo2, kLfo2Frequency, low);
        break;
      case 43:
        put(lfo2, kLfo2TempoSync, b >> 7);
        put(lfo2, kLfo2SyncNote, low);
        break;
      case 52:
        set(kModSeqSwitch + t, b >> 7);
        set(kModSeqRunMode + t, (b >> 6) & 1);
        set(kModSeqResolution + t, b & 0x0F);
        break;
      case 53:
        set(kModSeqLastStep + t, b >> 4);
        set(kModSeqType + t, (b >> 2) & 3);
        set(kModSeqKeySync + t, b & 3);
        break;
      default:
        break;
    }
  }

  void lfoShape(bool isLocked, int keySyncIndex, int waveIndex, uint8_t b) {
    if (isLocked) return;
    set(keySyncIndex, (b >> 4) & 3);
    set(waveIndex, b & 0x0F);
  }

  const uint8_t* msg_;
  double* v_;
  ProgramParseResult* r_;
  uint8_t d_[kProgramDataSize] = {};
  bool locked_[kSectionLockGlobal - kLockPartMIDIch + 1] = {};
  bool overrideTempo_ = false;
  int channel_[2] = {0, 0};
  int receivedChannel_[2] = {0, 0};
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
  result->vocoder = false;
  if (msg == nullptr || values == nullptr || len != static_cast<size_t>(kProgramDumpSize)) return false;
  if (msg[0] != 0xF0 || msg[1] != 0x42 || (msg[2] & 0xF0) != 0x30 || msg[3] != 0x58 || msg[4] != kProgramDumpFunction ||
      msg[kProgramDumpSize - 1] != 0xF7) {
    return false;
  }
  result->accepted = true;
  Parser(msg, values, result).run();
  return true;
}
