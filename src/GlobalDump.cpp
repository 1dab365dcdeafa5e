#include "src/GlobalDump.h"

#include "src/VexmirParams.h"

namespace {

// Wire positions 1 to 233; F0 and F7 frame them.
const uint8_t kTemplateBody[233] = {
    0x42, 0x30, 0x58, 0x51, 0x00, 0x00, 0x00, 0x01, 0x40, 0x03, 0x0E, 0x00, 0x00, 0x01, 0x01, 0x00,  //
    0x5A, 0x5F, 0x00, 0x00, 0x04, 0x00, 0x03, 0x00, 0x45, 0x05, 0x4D, 0x0E, 0x00, 0x0F, 0x4E, 0x52,  //
    0x12, 0x13, 0x14, 0x15, 0x00, 0x16, 0x53, 0x4A, 0x47, 0x4F, 0x55, 0x07, 0x00, 0x0A, 0x56, 0x5C,  //
    0x17, 0x18, 0x19, 0x1A, 0x00, 0x49, 0x4B, 0x46, 0x48, 0x57, 0x1B, 0x58, 0x00, 0x4C, 0x1C, 0x1D,  //
    0x1E, 0x1F, 0x59, 0x0C, 0x00, 0x5D, 0x0D, 0x5E, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  //
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x02, 0x03, 0x04, 0x00, 0x05, 0x06, 0x07,  //
    0x08, 0x09, 0x0A, 0x0B, 0x00, 0x0C, 0x0D, 0x0E, 0x0F, 0x10, 0x11, 0x12, 0x00, 0x13, 0x14, 0x15,  //
    0x16, 0x17, 0x18, 0x19, 0x00, 0x1A, 0x1B, 0x1C, 0x1D, 0x1E, 0x1F, 0x20, 0x00, 0x21, 0x22, 0x23,  //
    0x24, 0x25, 0x26, 0x27, 0x00, 0x28, 0x29, 0x2A, 0x2B, 0x2C, 0x2D, 0x2E, 0x00, 0x2F, 0x30, 0x31,  //
    0x32, 0x33, 0x34, 0x35, 0x00, 0x36, 0x37, 0x38, 0x39, 0x3A, 0x3B, 0x3C, 0x00, 0x3D, 0x3E, 0x3F,  //
    0x40, 0x41, 0x42, 0x43, 0x00, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4A, 0x00, 0x4B, 0x4C, 0x4D,  //
    0x4E, 0x4F, 0x50, 0x51, 0x00, 0x52, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x00, 0x59, 0x5A, 0x5B,  //
    0x5C, 0x5D, 0x5E, 0x5F, 0x00, 0x60, 0x61, 0x62, 0x63, 0x64, 0x65, 0x66, 0x00, 0x67, 0x68, 0x69,  //
    0x6A, 0x6B, 0x6C, 0x6D, 0x00, 0x6E, 0x6F, 0x70, 0x71, 0x72, 0x73, 0x74, 0x00, 0x75, 0x76, 0x77,  //
    0x78, 0x79, 0x7A, 0x7B, 0x00, 0x7C, 0x7D, 0x7E, 0x7F,
};

constexpr int kTuneCentre = 101;
constexpr int kTransposeCentre = 13;

struct Template {
  uint8_t bytes[kGlobalDumpSize];
  Template() {
    bytes[0] = 0xF0;
    for (int i = 0; i < 233; ++i) bytes[1 + i] = kTemplateBody[i];
    bytes[kGlobalDumpSize - 1] = 0xF7;
  }
};

int whole(double v) {
  if (!(v > -1.0e6 && v < 1.0e6)) return 0;
  return static_cast<int>(v);
}

uint8_t byte7(int v) {
  return static_cast<uint8_t>(v < 0 ? 0 : v > 127 ? 127 : v);
}

void set(double* values, int index, double value) {
  values[index] = clampToParamRange(index, value);
}

// A signed offset field: the low seven bits of the two's complement, the sign elsewhere.
double signedField(uint8_t field, bool negative, int centre) {
  return centre + (negative ? field - 128 : field);
}

}  // namespace

const int kGlobalDumpParams[17] = {
    kMasterTune,          kMasterTranspose,    kMasterPosition,          kMasterVelocityValue,
    kMasterVelocityArea,  kGlobalLocalControl, kMIDIFilterWriteProtect,  kGlobalPageJump,
    kGlobalPageMemory,    kGlobalClockSource,  kGlobalMidiChannel,       kMIDIFilterSysEx,
    kGlobalMIDI1Ctrl,     kGlobalMIDI2Ctrl,    kMIDIFilterProgramChange, kMIDIFilterControlChange,
    kMIDIFilterPitchBend,
};

const uint8_t* globalDumpTemplate() {
  static const Template t;
  return t.bytes;
}

void buildGlobalDump(const double* v, uint8_t deviceId, uint8_t* out) {
  auto p = [v](int index) { return whole(v[index]); };
  auto on = [v](int index) { return whole(v[index]) == 1; };
  const uint8_t* t = globalDumpTemplate();
  for (int i = 0; i < kGlobalDumpSize; ++i) out[i] = t[i];
  out[2] = static_cast<uint8_t>(0x30 | (deviceId & 0x0F));
  int tune = p(kMasterTune) - kTuneCentre;
  int transpose = p(kMasterTranspose) - kTransposeCentre;
  out[5] = static_cast<uint8_t>((tune < 0 ? 1 : 0) | (transpose < 0 ? 2 : 0));
  out[6] = static_cast<uint8_t>(tune & 0x7F);
  out[7] = static_cast<uint8_t>(transpose & 0x7F);
  out[8] = byte7(p(kMasterPosition));
  out[9] = byte7(p(kMasterVelocityValue));
  out[10] = byte7(p(kMasterVelocityArea));
  out[11] = static_cast<uint8_t>((on(kMIDIFilterWriteProtect) ? 1 : 0) | (on(kGlobalPageMemory) ? 2 : 0) |
                                 (on(kGlobalLocalControl) ? 4 : 0) | (on(kGlobalPageJump) ? 8 : 0));
  out[15] = byte7(p(kGlobalClockSource));
  out[16] = byte7(p(kGlobalMidiChannel));
  out[21] = on(kMIDIFilterSysEx) ? 4 : 0;
  out[22] = byte7(p(kGlobalMIDI1Ctrl));
  out[23] = byte7(p(kGlobalMIDI2Ctrl));
  out[25] = static_cast<uint8_t>((on(kMIDIFilterProgramChange) ? 0x01 : 0) | (on(kMIDIFilterControlChange) ? 0x04 : 0) |
                                 (on(kMIDIFilterPitchBend) ? 0x40 : 0));
}

bool parseGlobalDump(const uint8_t* msg, size_t len, double* values) {
  if (msg == nullptr || values == nullptr || len != static_cast<size_t>(kGlobalDumpSize)) return false;
  if (msg[0] != 0xF0 || msg[1] != 0x42 || (msg[2] & 0xF0) != 0x30 || msg[3] != 0x58 || msg[4] != kGlobalDumpFunction ||
      msg[kGlobalDumpSize - 1] != 0xF7) {
    return false;
  }
  // Only the sign combinations the synthesizer writes count; anything else reads both fields as positive.
  uint8_t signs = msg[5] >= 1 && msg[5] <= 3 ? msg[5] : 0;
  set(values, kMasterTune, signedField(msg[6], signs & 1, kTuneCentre));
  set(values, kMasterTranspose, signedField(msg[7], signs & 2, kTransposeCentre));
  set(values, kMasterPosition, msg[8]);
  set(values, kMasterVelocityValue, msg[9]);
  set(values, kMasterVelocityArea, msg[10]);
  uint8_t switches = msg[11];
  if (switches <= 15) {
    set(values, kGlobalLocalControl, (switches >> 2) & 1);
    set(values, kMIDIFilterWriteProtect, switches & 1);
    set(values, kGlobalPageJump, (switches >> 3) & 1);
    set(values, kGlobalPageMemory, (switches >> 1) & 1);
  }
  set(values, kGlobalClockSource, msg[15]);
  set(values, kGlobalMidiChannel, msg[16]);
  if (msg[21] == 0) set(values, kMIDIFilterSysEx, 0);
  if (msg[21] == 4) set(values, kMIDIFilterSysEx, 1);
  set(values, kGlobalMIDI1Ctrl, msg[22]);
  set(values, kGlobalMIDI2Ctrl, msg[23]);
  uint8_t filters = msg[25];
  if ((filters & ~0x45) == 0) {
    set(values, kMIDIFilterProgramChange, filters & 1);
    set(values, kMIDIFilterControlChange, (filters >> 2) & 1);
    set(values, kMIDIFilterPitchBend, (filters >> 6) & 1);
  }
  return true;
}
