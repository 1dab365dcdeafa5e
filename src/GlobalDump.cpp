#include "src/GlobalDump.h"

#include <cstring>

#include "src/ProgramDump.h"

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

void put(uint8_t* data, int d, uint8_t mask, int value) {
  data[d] = static_cast<uint8_t>((data[d] & ~mask) | (value & mask));
}

void putFlag(uint8_t* data, int d, uint8_t bit, bool on) {
  put(data, d, bit, on ? 0xFF : 0);
}

// A signed offset as a whole data byte.
uint8_t signedByte(int offset) {
  return static_cast<uint8_t>((offset < -128 ? -128 : offset > 127 ? 127 : offset) & 0xFF);
}

struct TemplateData {
  uint8_t bytes[kGlobalDataSize];
  TemplateData() { unpackData(globalDumpTemplate() + 5, kGlobalDataSize, bytes); }
};

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

const uint8_t* globalTemplateData() {
  static const TemplateData t;
  return t.bytes;
}

void buildGlobalDump(const double* v, uint8_t deviceId, const uint8_t* base, uint8_t* out) {
  auto p = [v](int index) { return whole(v[index]); };
  auto on = [v](int index) { return whole(v[index]) == 1; };
  uint8_t data[kGlobalDataSize];
  std::memcpy(data, base ? base : globalTemplateData(), sizeof data);
  put(data, 0, 0xFF, signedByte(p(kMasterTune) - kTuneCentre));
  put(data, 1, 0xFF, signedByte(p(kMasterTranspose) - kTransposeCentre));
  put(data, 2, 0x7F, byte7(p(kMasterPosition)));
  put(data, 3, 0x7F, byte7(p(kMasterVelocityValue)));
  put(data, 4, 0x7F, byte7(p(kMasterVelocityArea)));
  putFlag(data, 5, 0x01, on(kMIDIFilterWriteProtect));
  putFlag(data, 5, 0x02, on(kGlobalPageMemory));
  putFlag(data, 5, 0x04, on(kGlobalLocalControl));
  putFlag(data, 5, 0x08, on(kGlobalPageJump));
  put(data, 8, 0x7F, byte7(p(kGlobalClockSource)));
  put(data, 9, 0x7F, byte7(p(kGlobalMidiChannel)));
  put(data, 14, 0x7F, byte7(p(kGlobalMIDI1Ctrl)));
  put(data, 15, 0x7F, byte7(p(kGlobalMIDI2Ctrl)));
  putFlag(data, 16, 0x80, on(kMIDIFilterSysEx));
  putFlag(data, 17, 0x01, on(kMIDIFilterProgramChange));
  putFlag(data, 17, 0x04, on(kMIDIFilterControlChange));
  putFlag(data, 17, 0x40, on(kMIDIFilterPitchBend));
  out[0] = 0xF0;
  out[1] = 0x42;
  out[2] = static_cast<uint8_t>(0x30 | (deviceId & 0x0F));
  out[3] = 0x58;
  out[4] = kGlobalDumpFunction;
  packData(data, kGlobalDataSize, out + 5);
  out[kGlobalDumpSize - 1] = 0xF7;
}

bool parseGlobalDump(const uint8_t* msg, size_t len, double* values, uint8_t* received) {
  if (msg == nullptr || values == nullptr || len != static_cast<size_t>(kGlobalDumpSize)) return false;
  if (msg[0] != 0xF0 || msg[1] != 0x42 || (msg[2] & 0xF0) != 0x30 || msg[3] != 0x58 || msg[4] != kGlobalDumpFunction ||
      msg[kGlobalDumpSize - 1] != 0xF7) {
    return false;
  }
  uint8_t d[kGlobalDataSize];
  unpackData(msg + 5, kGlobalDataSize, d);
  if (received) std::memcpy(received, d, sizeof d);
  set(values, kMasterTune, kTuneCentre + static_cast<int8_t>(d[0]));
  set(values, kMasterTranspose, kTransposeCentre + static_cast<int8_t>(d[1]));
  set(values, kMasterPosition, d[2] & 0x7F);
  set(values, kMasterVelocityValue, d[3] & 0x7F);
  set(values, kMasterVelocityArea, d[4] & 0x7F);
  set(values, kGlobalLocalControl, (d[5] >> 2) & 1);
  set(values, kMIDIFilterWriteProtect, d[5] & 1);
  set(values, kGlobalPageJump, (d[5] >> 3) & 1);
  set(values, kGlobalPageMemory, (d[5] >> 1) & 1);
  set(values, kGlobalClockSource, d[8] & 0x7F);
  set(values, kGlobalMidiChannel, d[9] & 0x7F);
  set(values, kMIDIFilterSysEx, d[16] >> 7);
  set(values, kGlobalMIDI1Ctrl, d[14] & 0x7F);
  set(values, kGlobalMIDI2Ctrl, d[15] & 0x7F);
  set(values, kMIDIFilterProgramChange, d[17] & 1);
  set(values, kMIDIFilterControlChange, (d[17] >> 2) & 1);
  set(values, kMIDIFilterPitchBend, (d[17] >> 6) & 1);
  return true;
}
