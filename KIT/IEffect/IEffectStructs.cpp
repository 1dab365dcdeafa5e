#include "KIT/IEffect/IEffectStructs.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

uint8_t clampByte(int v) {
  return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

// The whole part of value x scale, limited to lo..hi before it becomes an integer (a double outside the int range
// has no integer); not a number gives `otherwise`.
int scaledWithin(double value, double scale, int lo, int hi, int otherwise) {
  if (std::isnan(value)) return otherwise;
  return static_cast<int>(std::trunc(std::clamp(value * scale, static_cast<double>(lo), static_cast<double>(hi))));
}

}  // namespace

void IMidiMsg::MakeNoteOnMsg(int noteNumber, int velocity, int offset, int channel) {
  Clear();
  mStatus = clampByte(0x90 + channel);
  mData1 = static_cast<uint8_t>(noteNumber);
  mData2 = static_cast<uint8_t>(velocity);
  mOffset = offset;
}

void IMidiMsg::MakeNoteOffMsg(int noteNumber, int offset, int channel, int velocity) {
  Clear();
  mStatus = clampByte(0x80 + channel);
  mData1 = static_cast<uint8_t>(noteNumber);
  mData2 = static_cast<uint8_t>(velocity);
  mOffset = offset;
}

void IMidiMsg::MakePitchWheelMsg(double value, int channel) {
  Clear();
  mStatus = clampByte(0xE0 + channel);
  const int i = scaledWithin(value, 8192.0, -8192, 8191, 0) + 8192;
  mData1 = static_cast<uint8_t>(i & 0x7F);
  mData2 = static_cast<uint8_t>(i >> 7);
}

void IMidiMsg::MakeProgramChangeMsg(double value, int channel) {
  Clear();
  mStatus = clampByte(0xC0 + channel);
  mData1 = static_cast<uint8_t>(scaledWithin(value, 127.0, 0, 127, 0));
}

void IMidiMsg::MakeControlChangeMsg(EControlChangeMsg idx, double value, int channel) {
  Clear();
  mStatus = clampByte(0xB0 + channel);
  mData1 = static_cast<uint8_t>(idx);
  mData2 = static_cast<uint8_t>(scaledWithin(value, 127.0, 0, 127, 0));
}

void IMidiMsg::Clear() {
  mOffset = 0;
  mStatus = mData1 = mData2 = 0;
}

IMidiMsg::EStatusMsg IMidiMsg::StatusMsg() const {
  if (mStatus >= 0x80 && mStatus < 0xF0) return static_cast<EStatusMsg>(mStatus >> 4);
  return kNone;
}

int IMidiMsg::NoteNumber() const {
  switch (StatusMsg()) {
    case kNoteOn:
    case kNoteOff:
    case kPolyAftertouch:
      return mData1;
    default:
      return -1;
  }
}

int IMidiMsg::Velocity() const {
  switch (StatusMsg()) {
    case kNoteOn:
    case kNoteOff:
      return mData2;
    default:
      return -1;
  }
}

int IMidiMsg::Program() const {
  return StatusMsg() == kProgramChange ? mData1 : -1;
}

double IMidiMsg::PitchWheel() const {
  if (StatusMsg() != kPitchWheel) return 0.0;
  int v = (mData2 << 7) + mData1 - 8192;
  return static_cast<double>(v) / 8192.0;
}

double IMidiMsg::ControlChange(EControlChangeMsg idx) const {
  if (StatusMsg() == kControlChange && ControlChangeIdx() == idx) return static_cast<double>(mData2) / 127.0;
  return -1.0;
}

void ISysEx::Clear() {
  mOffset = 0;
  mSize = 0;
  mData = nullptr;
}

const char* StatusMsgStr(int kind) {
  switch (kind) {
    case IMidiMsg::kNone:
      return "none";
    case IMidiMsg::kNoteOff:
      return "noteoff";
    case IMidiMsg::kNoteOn:
      return "noteon ";
    case IMidiMsg::kPolyAftertouch:
      return "aftertouch";
    case IMidiMsg::kControlChange:
      return "controlchange";
    case IMidiMsg::kProgramChange:
      return "programchange";
    case IMidiMsg::kChannelAftertouch:
      return "channelaftertouch";
    case IMidiMsg::kPitchWheel:
      return "pitchwheel";
    default:
      return "unknown";
  }
}

void SysExStr(char* out, int outSize, const unsigned char* data, int size) {
  if (!out || outSize <= 0) return;
  out[0] = '\0';
  if (!data || size <= 0) return;
  int n = size < outSize / 3 ? size : outSize / 3;
  char* p = out;
  for (int i = 0; i < n; ++i) {
    // Each byte takes three characters ("F0 "); the last blank becomes the terminator.
    std::snprintf(p, 4, i + 1 < n ? "%02X " : "%02X", data[i]);
    p += i + 1 < n ? 3 : 2;
  }
}

int ByteChunk::PutBytes(const void* data, int size) {
  if (size <= 0) return Size();
  int n = Size();
  if (n > 0x7fffffff - size) return n;
  mBuf.Resize(n + size, false);
  if (Size() != n + size) return n;  // out of memory: nothing appended
  std::memcpy(GetBytes() + n, data, static_cast<size_t>(size));
  return Size();
}

int ByteChunk::GetBytes(void* out, int size, int startPos) const {
  if (startPos < 0 || size < 0) return -1;
  int endPos = startPos + size;
  if (endPos < startPos || endPos > Size()) return -1;
  if (size > 0) std::memcpy(out, GetBytes() + startPos, static_cast<size_t>(size));
  return endPos;
}

int ByteChunk::PutStr(const char* str) {
  int32_t len = str ? static_cast<int32_t>(std::strlen(str)) : 0;
  Put(&len);
  return PutBytes(str, len);
}

int ByteChunk::GetStr(char* out, int outSize, int startPos) const {
  int32_t len = 0;
  int pos = Get(&len, startPos);
  if (pos < 0 || len < 0 || len > Size() - pos) return -1;
  if (out && outSize > 0) {
    int n = len < outSize - 1 ? len : outSize - 1;
    std::memcpy(out, GetBytes() + pos, static_cast<size_t>(n));
    out[n] = '\0';
  }
  return pos + len;
}

int ByteChunk::Resize(int newSize) {
  if (newSize < 0) newSize = 0;
  int n = Size();
  mBuf.Resize(newSize, true);
  if (Size() > n) std::memset(GetBytes() + n, 0, static_cast<size_t>(Size() - n));
  return Size();
}

bool ByteChunk::IsEqual(const ByteChunk& other) const {
  return Size() == other.Size() && (Size() == 0 || std::memcmp(GetBytes(), other.GetBytes(), Size()) == 0);
}
