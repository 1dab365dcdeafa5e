#include "tools/synth-emulator/SynthModel.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace synthemu {

namespace {

constexpr int kTimbreStride = 108;  // timbre 2's bytes lie this far after timbre 1's
constexpr int kTimbreChannelOffset = 38;
constexpr int kTimbreParameterStride = 144;  // timbre 2's parameter numbers lie this far after timbre 1's

std::string hexByte(int b) {
  char s[8];
  std::snprintf(s, sizeof s, "%02X", b & 0xFF);
  return s;
}

void setBits(uint8_t& byte, uint8_t mask, int shift, int value) {
  byte = static_cast<uint8_t>((byte & ~mask) | ((value << shift) & mask));
}

// ---- control changes: which program byte a knob's CC number moves, and how its value is spread ----

enum class CcCoding { Raw, Steps, Signed, Switch, Semitone };

struct CcField {
  int cc;
  bool common;  // common block (global channel only) rather than a timbre
  int offset;   // data offset; timbre fields are given for timbre 1
  uint8_t mask;
  int shift;
  CcCoding coding;
  int steps;
};

const CcField kCcFields[] = {
    {5, false, 53, 0x7F, 0, CcCoding::Raw, 0},        // portamento
    {7, false, 63, 0x7F, 0, CcCoding::Raw, 0},        // amp level
    {10, false, 64, 0x7F, 0, CcCoding::Signed, 0},    // amp pan
    {12, true, 23, 0x7F, 0, CcCoding::Raw, 0},        // mod FX speed
    {13, true, 20, 0x7F, 0, CcCoding::Raw, 0},        // delay time (sync note when tempo-synced)
    {14, false, 46, 0x7F, 0, CcCoding::Raw, 0},       // OSC1 control 1
    {15, false, 47, 0x7F, 0, CcCoding::Raw, 0},       // OSC1 control 2 (DWGS wave for the DWGS wave)
    {18, false, 51, 0x7F, 0, CcCoding::Semitone, 0},  // OSC2 semitone
    {19, false, 52, 0x7F, 0, CcCoding::Raw, 0},       // OSC2 tune
    {20, false, 54, 0x7F, 0, CcCoding::Raw, 0},       // OSC1 level
    {21, false, 55, 0x7F, 0, CcCoding::Raw, 0},       // OSC2 level
    {22, false, 56, 0x7F, 0, CcCoding::Raw, 0},       // noise level
    {23, false, 68, 0x7F, 0, CcCoding::Raw, 0},       // filter EG attack
    {24, false, 69, 0x7F, 0, CcCoding::Raw, 0},       // filter EG decay
    {25, false, 70, 0x7F, 0, CcCoding::Raw, 0},       // filter EG sustain
    {26, false, 71, 0x7F, 0, CcCoding::Raw, 0},       // filter EG release
    {27, false, 77, 0x7F, 0, CcCoding::Raw, 0},       // LFO1 frequency (sync note when synced)
    {28, false, 83, 0x7F, 0, CcCoding::Signed, 0},    // patch 1 amount
    {29, false, 85, 0x7F, 0, CcCoding::Signed, 0},    // patch 2 amount
    {30, false, 87, 0x7F, 0, CcCoding::Signed, 0},    // patch 3 amount
    {31, false, 89, 0x7F, 0, CcCoding::Signed, 0},    // patch 4 amount
    {70, false, 74, 0x7F, 0, CcCoding::Raw, 0},       // amp EG sustain
    {71, false, 59, 0x7F, 0, CcCoding::Raw, 0},       // filter resonance
    {72, false, 75, 0x7F, 0, CcCoding::Raw, 0},       // amp EG release
    {73, false, 72, 0x7F, 0, CcCoding::Raw, 0},       // amp EG attack
    {74, false, 58, 0x7F, 0, CcCoding::Raw, 0},       // filter cutoff
    {75, false, 73, 0x7F, 0, CcCoding::Raw, 0},       // amp EG decay
    {76, false, 80, 0x7F, 0, CcCoding::Raw, 0},       // LFO2 frequency (sync note when synced)
    {77, false, 45, 0x7F, 0, CcCoding::Steps, 8},     // OSC1 wave
    {78, false, 50, 0x0F, 0, CcCoding::Steps, 3},     // OSC2 wave
    {79, false, 60, 0x7F, 0, CcCoding::Signed, 0},    // filter EG intensity
    {82, false, 50, 0x30, 4, CcCoding::Steps, 4},     // OSC2 modulation
    {83, false, 57, 0x7F, 0, CcCoding::Steps, 4},     // filter type
    {85, false, 62, 0x7F, 0, CcCoding::Signed, 0},    // filter keyboard track
    {86, false, 65, 0x40, 6, CcCoding::Switch, 0},    // amp gate switch
    {87, false, 76, 0x0F, 0, CcCoding::Steps, 4},     // LFO1 wave
    {88, false, 79, 0x0F, 0, CcCoding::Steps, 4},     // LFO2 wave
    {92, false, 65, 0x01, 0, CcCoding::Switch, 0},    // distortion switch
    {93, true, 24, 0x7F, 0, CcCoding::Raw, 0},        // mod FX depth
    {94, true, 21, 0x7F, 0, CcCoding::Raw, 0},        // delay depth
};

const CcField* findCc(int cc) {
  for (const CcField& f : kCcFields)
    if (f.cc == cc) return &f;
  return nullptr;
}

// OSC2 semitone positions of the -24..+24 semitones; the program byte is 40 + the semitone's place.
const int kSemitonePositions[49] = {0,  3,  6,  8,  11,  14,  16,  19,  21,  24,  27,  29,  32,  34,  37, 40, 42,
                                    45, 48, 50, 53, 55,  58,  61,  64,  66,  68,  71,  74,  76,  79,  81, 84, 87,
                                    89, 92, 95, 97, 100, 102, 105, 108, 110, 113, 115, 118, 121, 123, 127};

int semitoneByte(int value) {
  int best = 0;
  for (int i = 1; i < 49; ++i)
    if (std::abs(kSemitonePositions[i] - value) < std::abs(kSemitonePositions[best] - value)) best = i;
  return 40 + best;
}

// A tempo-synced time knob selects one of 15 note lengths spread evenly over 0..127.
int noteLengthStep(int value) {
  return value * 15 / 128;
}

// ---- parameter change numbers (function 0x41) ----

enum class ParamCoding { Raw, Signed, Flag };

struct ParamField {
  int id;  // 14-bit number: low byte + 128 * high byte
  bool timbre;
  int offset;
  uint8_t mask;
  int shift;
  ParamCoding coding;
};

const ParamField kParamFields[] = {
    {16, false, 16, 0x30, 4, ParamCoding::Raw},     // voice mode: 0 single, 1 split, 2 layer, 3 vocoder
    {22, false, 20, 0x7F, 0, ParamCoding::Raw},     // delay time
    {23, false, 21, 0x7F, 0, ParamCoding::Raw},     // delay depth
    {25, false, 23, 0x7F, 0, ParamCoding::Raw},     // mod FX speed
    {26, false, 24, 0x7F, 0, ParamCoding::Raw},     // mod FX depth
    {28, false, 33, 0x0F, 0, ParamCoding::Raw},     // arpeggio type
    {29, false, 33, 0x30, 4, ParamCoding::Raw},     // arpeggio range
    {32, false, 34, 0x7F, 0, ParamCoding::Raw},     // arpeggio gate
    {41, false, 19, 0x80, 7, ParamCoding::Flag},    // delay tempo sync
    {42, false, 19, 0x7F, 0, ParamCoding::Raw},     // delay sync note
    {71, true, 53, 0x7F, 0, ParamCoding::Raw},      // portamento
    {73, true, 45, 0x7F, 0, ParamCoding::Raw},      // OSC1 wave
    {74, true, 46, 0x7F, 0, ParamCoding::Raw},      // OSC1 control 1
    {75, true, 47, 0x7F, 0, ParamCoding::Raw},      // OSC1 control 2
    {76, true, 48, 0x7F, 0, ParamCoding::Raw},      // OSC1 DWGS wave
    {77, true, 50, 0x0F, 0, ParamCoding::Raw},      // OSC2 wave
    {78, true, 50, 0x30, 4, ParamCoding::Raw},      // OSC2 modulation
    {79, true, 51, 0x7F, 0, ParamCoding::Signed},   // OSC2 semitone
    {80, true, 52, 0x7F, 0, ParamCoding::Raw},      // OSC2 tune
    {81, true, 54, 0x7F, 0, ParamCoding::Raw},      // OSC1 level
    {82, true, 55, 0x7F, 0, ParamCoding::Raw},      // OSC2 level
    {83, true, 56, 0x7F, 0, ParamCoding::Raw},      // noise level
    {84, true, 57, 0x7F, 0, ParamCoding::Raw},      // filter type
    {85, true, 58, 0x7F, 0, ParamCoding::Raw},      // filter cutoff
    {86, true, 59, 0x7F, 0, ParamCoding::Raw},      // filter resonance
    {87, true, 60, 0x7F, 0, ParamCoding::Signed},   // filter EG intensity
    {88, true, 62, 0x7F, 0, ParamCoding::Signed},   // filter keyboard track
    {89, true, 63, 0x7F, 0, ParamCoding::Raw},      // amp level
    {90, true, 64, 0x7F, 0, ParamCoding::Signed},   // amp pan
    {91, true, 65, 0x40, 6, ParamCoding::Flag},     // amp gate switch
    {92, true, 65, 0x01, 0, ParamCoding::Flag},     // distortion
    {94, true, 68, 0x7F, 0, ParamCoding::Raw},      // filter EG attack
    {95, true, 69, 0x7F, 0, ParamCoding::Raw},      // filter EG decay
    {96, true, 70, 0x7F, 0, ParamCoding::Raw},      // filter EG sustain
    {97, true, 71, 0x7F, 0, ParamCoding::Raw},      // filter EG release
    {99, true, 72, 0x7F, 0, ParamCoding::Raw},      // amp EG attack
    {100, true, 73, 0x7F, 0, ParamCoding::Raw},     // amp EG decay
    {101, true, 74, 0x7F, 0, ParamCoding::Raw},     // amp EG sustain
    {102, true, 75, 0x7F, 0, ParamCoding::Raw},     // amp EG release
    {104, true, 76, 0x0F, 0, ParamCoding::Raw},     // LFO1 wave
    {105, true, 77, 0x7F, 0, ParamCoding::Raw},     // LFO1 frequency
    {106, true, 78, 0x7F, 0, ParamCoding::Raw},     // LFO1 sync note
    {107, true, 78, 0x80, 7, ParamCoding::Flag},    // LFO1 tempo sync
    {109, true, 79, 0x0F, 0, ParamCoding::Raw},     // LFO2 wave
    {110, true, 80, 0x7F, 0, ParamCoding::Raw},     // LFO2 frequency
    {111, true, 81, 0x7F, 0, ParamCoding::Raw},     // LFO2 sync note
    {112, true, 81, 0x80, 7, ParamCoding::Flag},    // LFO2 tempo sync
    {116, true, 83, 0x7F, 0, ParamCoding::Signed},  // patch 1 amount
    {119, true, 85, 0x7F, 0, ParamCoding::Signed},  // patch 2 amount
    {122, true, 87, 0x7F, 0, ParamCoding::Signed},  // patch 3 amount
    {125, true, 89, 0x7F, 0, ParamCoding::Signed},  // patch 4 amount
};

// Modulation sequences 1-3 of timbre 1: knob, motion and 16 steps each, numbers 134..187.
bool sequenceField(int id, ParamField* out) {
  int rel = id - 134;
  if (rel < 0 || rel >= 54) return false;
  int seq = rel / 18, k = rel % 18;
  *out = {id, true, 92 + seq * 18 + k, 0x7F, 0, k < 2 ? ParamCoding::Raw : ParamCoding::Signed};
  return true;
}

// Finds the field of a parameter number; `timbre` receives 0 or 1 for timbre fields.
bool findParam(int id, ParamField* field, int* timbre) {
  for (int t = 0; t < 2; ++t) {
    int base = id - t * kTimbreParameterStride;
    for (const ParamField& f : kParamFields) {
      if (f.id == base && (f.timbre || t == 0)) {
        *field = f;
        *timbre = f.timbre ? t : 0;
        return true;
      }
    }
    if (sequenceField(base, field)) {
      *timbre = t;
      return true;
    }
  }
  return false;
}

}  // namespace

// ---------------------------------------------------------------------------------------------------------------

SynthModel::SynthModel() {
  for (int p = 0; p < kProgramCount; ++p) powerOn_[p] = initProgram(p);
  reset();
}

void SynthModel::reset() {
  programs_ = powerOn_;
  edit_ = programs_[0];
  global_ = factoryGlobal();
  setChannel(powerOnChannel_);
  currentProgram_ = 0;
  editMode_ = false;
  selectedTimbre_ = 0;
  nrpnMsb_.fill(-1);
  nrpnLsb_.fill(-1);
}

void SynthModel::setPowerOnPrograms(const std::vector<Program>& programs) {
  for (int p = 0; p < kProgramCount && p < static_cast<int>(programs.size()); ++p) powerOn_[p] = programs[p];
}

std::string SynthModel::programName(const Program& p) {
  return std::string(p.begin(), p.begin() + kNameLength);
}

void SynthModel::setProgramName(Program& p, const std::string& name) {
  for (int i = 0; i < kNameLength; ++i)
    p[i] = i < static_cast<int>(name.size()) ? static_cast<uint8_t>(name[i] & 0x7F) : ' ';
}

Bytes SynthModel::programDump() const {
  return sysexMessage(channel(), kFnProgramDump, pack7(edit_.data(), kProgramSize));
}

Bytes SynthModel::globalDump() const {
  return sysexMessage(channel(), kFnGlobalDump, pack7(global_.data(), kGlobalSize));
}

Bytes SynthModel::allProgramsDump() const {
  Bytes all;
  all.reserve(kProgramCount * kProgramSize);
  for (const Program& p : programs_) all.insert(all.end(), p.begin(), p.end());
  return sysexMessage(channel(), kFnAllProgramsDump, pack7(all.data(), all.size()));
}

Bytes SynthModel::allDataDump() const {
  Bytes all;
  for (const Program& p : programs_) all.insert(all.end(), p.begin(), p.end());
  Bytes payload = pack7(all.data(), all.size());
  Bytes g = pack7(global_.data(), kGlobalSize);
  payload.insert(payload.end(), g.begin(), g.end());
  return sysexMessage(channel(), kFnAllDataDump, payload);
}

int SynthModel::timbreChannel(int timbre) const {
  int c = edit_[kTimbreChannelOffset + timbre * kTimbreStride] & 0x7F;
  return c < 16 ? c : channel();
}

std::vector<int> SynthModel::timbresOnChannel(int ch) const {
  std::vector<int> t;
  for (int i = 0; i < 2; ++i)
    if (timbreChannel(i) == ch) t.push_back(i);
  if (t.size() == 2 && selectedTimbre_ != 2) t = {selectedTimbre_};
  return t;
}

Reaction SynthModel::receive(const Bytes& m) {
  Reaction r;
  if (m.empty()) return r;
  uint8_t status = m[0];
  if (status == 0xF0) return receiveSysEx(m);
  if (status < 0x80) {
    r.notes.push_back("data bytes without a status byte ignored");
    return r;
  }
  if (status >= 0xF0) return r;  // system common and real-time messages change nothing here
  int ch = status & 0x0F;
  switch (status & 0xF0) {
    case 0xB0:
      if (m.size() >= 3) receiveControl(ch, m[1], m[2], r);
      break;
    case 0xC0:
      if (m.size() >= 2) receiveProgramChange(ch, m[1], r);
      break;
    default:
      break;  // notes, bend and pressure play the sound engine only
  }
  return r;
}

void SynthModel::receiveProgramChange(int ch, int program, Reaction& r) {
  if (ch != channel()) {
    r.notes.push_back("program change on channel " + std::to_string(ch) + " ignored (global channel " +
                      std::to_string(channel()) + ")");
    return;
  }
  if (!programChangesEnabled()) {
    r.notes.push_back("program change ignored: program changes are filtered");
    return;
  }
  currentProgram_ = program & 0x7F;
  edit_ = programs_[currentProgram_];
  editMode_ = false;
  r.notes.push_back("program " + std::to_string(currentProgram_) + " \"" + programName(edit_) + "\" selected");
}

void SynthModel::receiveControl(int ch, int cc, int value, Reaction& r) {
  if (!controlChangesEnabled()) {
    r.notes.push_back("control change ignored: control changes are filtered");
    return;
  }
  switch (cc) {
    case 99:
      nrpnMsb_[ch] = value;
      return;
    case 98:
      nrpnLsb_[ch] = value;
      return;
    case 0:
    case 32:
      r.notes.push_back("bank select ignored");
      return;
    case 120:
    case 123:
      r.notes.push_back(cc == 120 ? "all sound off" : "all notes off");
      return;
    default:
      break;
  }
  std::string what;
  if (cc == 6) {
    if (nrpnMsb_[ch] < 0 || nrpnLsb_[ch] < 0) {
      r.notes.push_back("data entry without an NRPN address ignored");
      return;
    }
    int msb = nrpnMsb_[ch], lsb = nrpnLsb_[ch];
    bool arp = msb == 0;
    std::vector<int> timbres = arp ? std::vector<int>{0} : timbresOnChannel(ch);
    if (arp && ch != channel()) timbres.clear();
    if (timbres.empty()) {
      r.notes.push_back("NRPN on channel " + std::to_string(ch) + " addresses no timbre");
      return;
    }
    for (int t : timbres) {
      if (!applyNrpn(msb, lsb, value, t, &what)) {
        r.notes.push_back("NRPN " + hexByte(msb) + " " + hexByte(lsb) + " is not a parameter of this device");
        return;
      }
    }
    r.notes.push_back(what);
    return;
  }
  nrpnMsb_[ch] = nrpnLsb_[ch] = -1;
  if (cc == 95) {
    if (ch != channel()) return;
    selectedTimbre_ = value == 0 ? 0 : value == 1 ? 2 : 1;
    r.notes.push_back(value == 1 ? "timbres 1 and 2 selected" : value == 0 ? "timbre 1 selected" : "timbre 2 selected");
    return;
  }
  const CcField* f = findCc(cc);
  if (!f) return;  // a controller the program does not hold (modulation wheel, volume of the engine...)
  std::vector<int> timbres = f->common ? std::vector<int>{0} : timbresOnChannel(ch);
  if (f->common && ch != channel()) timbres.clear();
  if (timbres.empty()) {
    r.notes.push_back("CC " + std::to_string(cc) + " on channel " + std::to_string(ch) + " addresses no timbre");
    return;
  }
  for (int t : timbres) applyControl(cc, value, t, &what);
  r.notes.push_back(what);
}

bool SynthModel::applyControl(int cc, int value, int timbre, std::string* what) {
  const CcField* f = findCc(cc);
  if (!f) return false;
  int offset = f->offset + (f->common ? 0 : timbre * kTimbreStride);
  uint8_t mask = f->mask;
  int shift = f->shift;
  int v = value & 0x7F;
  // Time knobs select a note length while their section follows the tempo.
  int syncOffset = cc == 13 ? 19 : cc == 27 ? 78 : cc == 76 ? 81 : -1;
  if (syncOffset >= 0) {
    int so = syncOffset + (f->common ? 0 : timbre * kTimbreStride);
    if (edit_[so] & 0x80) {
      offset = so;
      v = noteLengthStep(v);
    }
  } else if (cc == 15 && (edit_[45 + timbre * kTimbreStride] & 0x7F) == 5) {
    offset = 48 + timbre * kTimbreStride;  // with the DWGS wave the knob picks one of 64 waves
    v /= 2;
  } else {
    switch (f->coding) {
      case CcCoding::Steps:
        v = v * f->steps / 128;
        break;
      case CcCoding::Signed:
        v = std::max(v, 1);  // 0 and 1 both mean -63
        break;
      case CcCoding::Switch:
        v = v >= 64 ? 1 : 0;
        break;
      case CcCoding::Semitone:
        v = semitoneByte(v);
        break;
      case CcCoding::Raw:
        break;
    }
  }
  setBits(edit_[offset], mask, shift, v);
  *what = "CC " + std::to_string(cc) + (f->common ? "" : " timbre " + std::to_string(timbre + 1)) + ": edit byte " +
          std::to_string(offset) + " = " + hexByte(edit_[offset]);
  return true;
}

bool SynthModel::applyNrpn(int msb, int lsb, int value, int timbre, std::string* what) {
  int offset, v = value & 0x7F;
  uint8_t mask;
  int shift = 0;
  if (msb == 0) {
    switch (lsb) {
      case 2:  // arpeggio on/off
        offset = 32, mask = 0x80, shift = 7, v = v >= 64;
        break;
      case 3:  // arpeggio range: 1..4 octaves, anything from 3 up is 4
        offset = 33, mask = 0x30, shift = 4, v = std::min(v, 3);
        break;
      case 4:  // arpeggio latch
        offset = 32, mask = 0x40, shift = 6, v = v >= 64;
        break;
      case 7: {  // arpeggio type, six types over value ranges
        static const int kUpper[6] = {21, 42, 63, 85, 106, 127};
        int t = 0;
        while (v > kUpper[t]) ++t;
        offset = 33, mask = 0x0F, v = t;
        break;
      }
      case 10:  // arpeggio gate 0..100 %
        offset = 34, mask = 0x7F, v = (v * 100 + 63) / 127;
        break;
      default:
        return false;
    }
  } else if (msb == 4 && (lsb <= 3 || (lsb >= 8 && lsb <= 11))) {
    int patch = lsb & 3;
    offset = 82 + 2 * patch + timbre * kTimbreStride;
    bool dest = lsb >= 8;
    mask = dest ? 0xF0 : 0x0F;
    shift = dest ? 4 : 0;
    v >>= 4;  // eight sources or destinations over 0..127
  } else {
    return false;
  }
  setBits(edit_[offset], mask, shift, v);
  *what = "NRPN " + hexByte(msb) + " " + hexByte(lsb) + ": edit byte " + std::to_string(offset) + " = " +
          hexByte(edit_[offset]);
  return true;
}

bool SynthModel::applyParameter(int id, int value, std::string* what) {
  ParamField f;
  int timbre = 0;
  if (!findParam(id, &f, &timbre)) return false;
  int offset = f.offset + timbre * kTimbreStride;
  int byte;
  switch (f.coding) {
    case ParamCoding::Signed:
      byte = value + 64;
      break;
    case ParamCoding::Flag:
      byte = value != 0;
      break;
    default:
      byte = value;
      break;
  }
  setBits(edit_[offset], f.mask, f.shift, byte);
  *what = "parameter " + std::to_string(id) + ": edit byte " + std::to_string(offset) + " = " + hexByte(edit_[offset]);
  return true;
}

void SynthModel::receiveParameterChange(const Bytes& m, Reaction& r) {
  int id = m[5] | (m[6] << 7);
  // The value travels as 14-bit two's complement split into 7-bit bytes; tempo values use the high byte too.
  int value = m[8] == 0x7F ? static_cast<int>(m[7]) - 128 : m[7] | (m[8] << 7);
  std::string what;
  if (!applyParameter(id, value, &what)) {
    r.notes.push_back("parameter change for unknown parameter " + std::to_string(id) + " ignored");
    return;
  }
  r.notes.push_back(what);
}

Reaction SynthModel::receiveSysEx(const Bytes& m) {
  Reaction r;
  size_t len = m.size();
  if (len < 5 || m[1] != kKorgId || (m[2] & 0xF0) != 0x30 || m[3] != kModelId) {
    if (len >= 5 && m[1] == 0x7F && m[3] == 0x04) {
      r.notes.push_back(m[4] == 0x01 ? "master volume received" : "universal real-time message received");
    } else {
      r.notes.push_back("SysEx not addressed to this device ignored");
    }
    return r;
  }
  int ch = m[2] & 0x0F;
  if (ch != channel()) {
    r.notes.push_back("SysEx for channel " + std::to_string(ch) + " ignored (global channel " +
                      std::to_string(channel()) + ")");
    return r;
  }
  if (!sysExEnabled()) {
    r.notes.push_back("SysEx ignored: system exclusive is filtered");
    return r;
  }
  uint8_t fn = m[4];
  const uint8_t* packed = m.data() + 5;
  size_t packedLen = len - 6;
  auto loadError = [&](const char* what, size_t expected) {
    r.notes.push_back(std::string(what) + " of " + std::to_string(len) + " bytes rejected (expected " +
                      std::to_string(expected) + ")");
    r.replies.push_back(sysexMessage(ch, kFnLoadError));
  };
  auto formatError = [&](const std::string& what) {
    r.notes.push_back(what);
    r.replies.push_back(sysexMessage(ch, kFnFormatError));
  };
  auto isRequest = [&](const char* what) {
    if (len == kRequestLength) return true;
    formatError(std::string(what) + " of " + std::to_string(len) + " bytes rejected (expected 6)");
    return false;
  };
  switch (fn) {
    case kFnProgramDumpRequest:
      if (isRequest("program dump request")) r.replies.push_back(programDump());
      break;
    case kFnGlobalDumpRequest:
      if (isRequest("global dump request")) r.replies.push_back(globalDump());
      break;
    case kFnAllProgramsDumpRequest:
      if (isRequest("all-programs dump request")) r.replies.push_back(allProgramsDump());
      break;
    case kFnAllDataDumpRequest:
      if (isRequest("all-data dump request")) r.replies.push_back(allDataDump());
      break;
    case kFnProgramDump: {
      Program p;
      if (len != kProgramDumpLength || !unpack7(packed, packedLen, kProgramSize, p.data())) {
        loadError("program dump", kProgramDumpLength);
        break;
      }
      edit_ = p;
      r.notes.push_back("program dump \"" + programName(p) + "\" loaded into the edit buffer");
      r.replies.push_back(sysexMessage(ch, kFnLoadCompleted));
      break;
    }
    case kFnGlobalDump: {
      GlobalData g;
      if (len != kGlobalDumpLength || !unpack7(packed, packedLen, kGlobalSize, g.data())) {
        loadError("global dump", kGlobalDumpLength);
        break;
      }
      r.replies.push_back(sysexMessage(ch, kFnLoadCompleted));
      global_ = g;
      r.notes.push_back("global dump stored; global channel " + std::to_string(channel()));
      break;
    }
    case kFnAllProgramsDump:
    case kFnAllDataDump: {
      bool allData = fn == kFnAllDataDump;
      std::vector<uint8_t> all(kProgramCount * kProgramSize);
      GlobalData g;
      size_t progPacked = packedSize(all.size());
      if (len != (allData ? kAllDataDumpLength : kBulkDumpLength) ||
          !unpack7(packed, progPacked, all.size(), all.data()) ||
          (allData && !unpack7(packed + progPacked, packedLen - progPacked, kGlobalSize, g.data()))) {
        loadError(allData ? "all-data dump" : "all-programs dump", allData ? kAllDataDumpLength : kBulkDumpLength);
        break;
      }
      for (int p = 0; p < kProgramCount; ++p)
        std::copy(all.begin() + p * kProgramSize, all.begin() + (p + 1) * kProgramSize, programs_[p].begin());
      r.replies.push_back(sysexMessage(ch, kFnLoadCompleted));
      if (allData) global_ = g;
      r.notes.push_back(allData ? "all data stored" : "128 programs stored");
      break;
    }
    case kFnParameterChange:
      if (len != 10) {
        formatError("parameter change of " + std::to_string(len) + " bytes rejected (expected 10)");
        break;
      }
      receiveParameterChange(m, r);
      break;
    case kFnModeChange:
      if (len != 8) {
        formatError("mode change of " + std::to_string(len) + " bytes rejected (expected 8)");
        break;
      }
      if (m[5] <= 1) {
        editMode_ = m[5] == 1;
        r.notes.push_back(editMode_ ? "edit mode on" : "edit mode off");
      } else {
        r.notes.push_back("mode change to unknown mode " + hexByte(m[5]) + " ignored");
      }
      break;
    case kFnProgramWriteRequest: {
      if (len != 8 || m[5] != 0) {
        formatError("program write request of " + std::to_string(len) +
                    " bytes rejected (expected F0 42 3n 58 11 00 pp F7)");
        break;
      }
      int pp = m[6];
      if (writeProtected()) {
        r.notes.push_back("write to program " + std::to_string(pp) + " refused: memory is write protected");
        r.replies.push_back(sysexMessage(ch, kFnWriteError));
        break;
      }
      programs_[pp] = edit_;
      currentProgram_ = pp;
      editMode_ = false;
      r.notes.push_back("edit buffer \"" + programName(edit_) + "\" written to program " + std::to_string(pp));
      r.replies.push_back(sysexMessage(ch, kFnWriteCompleted));
      break;
    }
    default:
      formatError("unknown function " + hexByte(fn) + " rejected");
      break;
  }
  return r;
}

// ---- panel actions ----

std::vector<Bytes> SynthModel::selectProgram(int program, std::string* error) {
  if (program < 0 || program >= kProgramCount) {
    *error = "program must be 0 to 127";
    return {};
  }
  currentProgram_ = program;
  edit_ = programs_[program];
  editMode_ = false;
  if (!programChangesEnabled()) return {};
  return {Bytes{static_cast<uint8_t>(0xC0 | channel()), static_cast<uint8_t>(program)}};
}

std::vector<Bytes> SynthModel::turnControl(int cc, int value, int timbre, std::string* error) {
  const CcField* f = findCc(cc);
  if (!f) {
    *error = "CC " + std::to_string(cc) + " is not a knob of this device";
    return {};
  }
  if (value < 0 || value > 127) {
    *error = "value must be 0 to 127";
    return {};
  }
  int t = timbre >= 0 ? timbre : (selectedTimbre_ == 1 ? 1 : 0);
  std::string what;
  applyControl(cc, value, t, &what);
  if (!controlChangesEnabled()) return {};
  int ch = f->common ? channel() : timbreChannel(t);
  return {Bytes{static_cast<uint8_t>(0xB0 | ch), static_cast<uint8_t>(cc), static_cast<uint8_t>(value)}};
}

std::vector<Bytes> SynthModel::turnNrpn(int msb, int lsb, int value, int timbre, std::string* error) {
  if (value < 0 || value > 127 || msb < 0 || msb > 127 || lsb < 0 || lsb > 127) {
    *error = "NRPN numbers and value must be 0 to 127";
    return {};
  }
  int t = timbre >= 0 ? timbre : (selectedTimbre_ == 1 ? 1 : 0);
  std::string what;
  if (!applyNrpn(msb, lsb, value, t, &what)) {
    *error = "NRPN " + std::to_string(msb) + " " + std::to_string(lsb) + " is not a parameter of this device";
    return {};
  }
  if (!controlChangesEnabled()) return {};
  auto st = static_cast<uint8_t>(0xB0 | (msb == 0 ? channel() : timbreChannel(t)));
  return {Bytes{st, 99, static_cast<uint8_t>(msb)}, Bytes{st, 98, static_cast<uint8_t>(lsb)},
          Bytes{st, 6, static_cast<uint8_t>(value)}};
}

std::vector<Bytes> SynthModel::turnParameter(int id, int value, std::string* error) {
  if (id < 0 || id > 0x3FFF || value < -128 || value > 0x3FFF) {
    *error = "parameter number must be 0 to 16383 and value -128 to 16383";
    return {};
  }
  std::string what;
  if (!applyParameter(id, value, &what)) {
    *error = "parameter " + std::to_string(id) + " is not known to this device";
    return {};
  }
  uint8_t lo = value < 0 ? static_cast<uint8_t>(value + 128) : static_cast<uint8_t>(value & 0x7F);
  uint8_t hi = value < 0 ? 0x7F : static_cast<uint8_t>(value >> 7);
  return {sysexMessage(channel(), kFnParameterChange,
                       {static_cast<uint8_t>(id & 0x7F), static_cast<uint8_t>(id >> 7), lo, hi})};
}

// ---- fields ----

std::vector<std::pair<std::string, int>> programFields(const Program& p) {
  auto s8 = [](uint8_t b) { return static_cast<int>(static_cast<int8_t>(b)); };
  const int mode = (p[16] >> 4) & 3;
  std::vector<std::pair<std::string, int>> f = {
      {"voice mode", mode},
      {"scale key", p[17] >> 4},
      {"scale type", p[17] & 0x0F},
      {"arpeggio steps", p[15]},
      {"arpeggio swing", s8(p[36])},
      {"arpeggio gate", p[34] & 0x7F},
      {"keyboard octave", s8(p[37])},
  };
  if (mode == 3) return f;
  for (int t = 0; t < 2; ++t) {
    const int b = kTimbreChannelOffset + t * kTimbreStride;
    const std::string timbre = "timbre " + std::to_string(t + 1) + " ";
    f.push_back({timbre + "channel", s8(p[b])});  // -1: the global channel
    f.push_back({timbre + "osc1 wave", p[b + 7] & 0x7F});
    f.push_back({timbre + "dwgs wave", p[b + 10] & 0x7F});
    f.push_back({timbre + "distortion", p[b + 27] & 1});
  }
  return f;
}

std::vector<std::pair<std::string, int>> globalFields(const GlobalData& g) {
  return {
      {"position", g[2] & 0x7F},  // 0 Post KBD, 1 Pre TG
      {"sysex filter", g[SynthModel::kGlobalSysExFilterByte] >> 7},
  };
}

// ---- bank files ----

bool readBankFile(const std::string& path, std::vector<Program>& programs, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot open bank file " + path;
    return false;
  }
  Bytes b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  programs.assign(kProgramCount, Program{});
  auto header = [&](size_t at, uint8_t fn) {
    return b[at] == 0xF0 && b[at + 1] == kKorgId && (b[at + 2] & 0xF0) == 0x30 && b[at + 3] == kModelId &&
           b[at + 4] == fn;
  };
  if ((b.size() == kBulkDumpLength && header(0, kFnAllProgramsDump)) ||
      (b.size() == kAllDataDumpLength && header(0, kFnAllDataDump))) {
    std::vector<uint8_t> all(kProgramCount * kProgramSize);
    if (!unpack7(b.data() + 5, packedSize(all.size()), all.size(), all.data())) {
      *error = "bank file " + path + " holds bytes with bit 7 set";
      return false;
    }
    for (int p = 0; p < kProgramCount; ++p)
      std::copy(all.begin() + p * kProgramSize, all.begin() + (p + 1) * kProgramSize, programs[p].begin());
    return true;
  }
  if (b.size() == kProgramCount * kProgramDumpLength) {
    for (int p = 0; p < kProgramCount; ++p) {
      size_t at = p * kProgramDumpLength;
      if (!header(at, kFnProgramDump) || b[at + kProgramDumpLength - 1] != 0xF7 ||
          !unpack7(b.data() + at + 5, kProgramDumpLength - 6, kProgramSize, programs[p].data())) {
        *error = "bank file " + path + ": program " + std::to_string(p) + " is not a program dump";
        return false;
      }
    }
    return true;
  }
  *error = "bank file " + path + " (" + std::to_string(b.size()) +
           " bytes) is neither a 128-program dump (37163), an all-data dump (37392) nor 128 program dumps (38016)";
  return false;
}

bool writeBankFile(const std::string& path, const SynthModel& model, std::string* error) {
  Bytes b = model.allProgramsDump();
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
  if (!out) {
    *error = "cannot write bank file " + path;
    return false;
  }
  return true;
}

}  // namespace synthemu
