// Small records shared by the plug-in base, the host binding and the editor: MIDI messages,
// SysEx messages, the growable state chunk and the host's time information.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "KIT/heapbuf.h"

// Controller numbers a control-change message can carry.
enum EControlChangeMsg {
  kModWheel = 1,
  kBreathController = 2,
  kFootController = 4,
  kPortamentoTime = 5,
  kChannelVolume = 7,
  kBalance = 8,
  kPan = 10,
  kExpressionController = 11,
  kEffectControl1 = 12,
  kEffectControl2 = 13,
  kGeneralPurposeController1 = 16,
  kGeneralPurposeController2 = 17,
  kGeneralPurposeController3 = 18,
  kGeneralPurposeController4 = 19,
  kSustainOnOff = 64,
  kPortamentoOnOff = 65,
  kSustenutoOnOff = 66,
  kSoftPedalOnOff = 67,
  kLegatoOnOff = 68,
  kHold2OnOff = 69,
  kSoundVariation = 70,
  kResonance = 71,
  kReleaseTime = 72,
  kAttackTime = 73,
  kCutoffFrequency = 74,
  kDecayTime = 75,
  kVibratoRate = 76,
  kVibratoDepth = 77,
  kVibratoDelay = 78,
  kSoundControllerUndefined = 79,
  kTremoloDepth = 92,
  kChorusDepth = 93,
  kPhaserDepth = 95,
  kAllNotesOff = 123,
};

// One short MIDI message with the sample offset at which it belongs in the current block.
struct IMidiMsg {
  int32_t mOffset = 0;
  uint8_t mStatus = 0, mData1 = 0, mData2 = 0;

  // Message kinds as StatusMsg() gives them.
  enum EStatusMsg {
    kNone = 0,
    kNoteOff = 8,
    kNoteOn = 9,
    kPolyAftertouch = 10,
    kControlChange = 11,
    kProgramChange = 12,
    kChannelAftertouch = 13,
    kPitchWheel = 14,
  };

  IMidiMsg() = default;
  IMidiMsg(int offset, uint8_t status, uint8_t data1, uint8_t data2)
      : mOffset(offset), mStatus(status), mData1(data1), mData2(data2) {}

  void MakeNoteOnMsg(int noteNumber, int velocity, int offset, int channel = 0);
  void MakeNoteOffMsg(int noteNumber, int offset, int channel = 0, int velocity = 0);
  void MakePitchWheelMsg(double value, int channel = 0);  // value in -1..1
  void MakeProgramChangeMsg(double value, int channel = 0);
  void MakeControlChangeMsg(EControlChangeMsg idx, double value, int channel = 0);
  void Clear();

  int Channel() const { return mStatus & 0x0F; }
  EStatusMsg StatusMsg() const;
  int NoteNumber() const;
  int Velocity() const;
  int Program() const;
  double PitchWheel() const;
  EControlChangeMsg ControlChangeIdx() const { return static_cast<EControlChangeMsg>(mData1); }
  double ControlChange(EControlChangeMsg idx) const;
  void LogMsg() const {}
};
static_assert(sizeof(IMidiMsg) == 8, "queued MIDI entries are 8 bytes");

// A SysEx message (F0 .. F7) that is borrowed, not owned: receivers copy what they keep.
struct ISysEx {
  int32_t mOffset = 0;
  int32_t mSize = 0;
  const uint8_t* mData = nullptr;

  ISysEx() = default;
  ISysEx(int offset, const uint8_t* data, int size) : mOffset(offset), mSize(size), mData(data) {}
  void Clear();
  void LogMsg() const {}
};

const char* StatusMsgStr(int kind);
// Writes the first min(size, outSize / 3) bytes as "F0 42 ..." (upper-case hex, blank separated).
void SysExStr(char* out, int outSize, const unsigned char* data, int size);

// The host's transport and tempo as far as the host reported them.
struct ITimeInfo {
  double mTempo = 120.0;
  double mSamplePos = -1.0;
  double mPPQPos = -1.0;
  double mLastBar = -1.0;
  double mCycleStart = -1.0;
  double mCycleEnd = -1.0;
  int32_t mNumerator = 4;
  int32_t mDenominator = 4;
  bool mTransportIsRunning = false;
  bool mTransportLoopEnabled = false;
};

// A growable byte buffer for state chunks. Values go in native byte order, appended at the end.
// Every read takes a position and gives the position after the value, or -1 (nothing read) when
// the position is negative or the value would end past the size, so a reader of untrusted bytes
// can stop at the first short read.
class ByteChunk {
 public:
  ByteChunk() : mBuf(4096) {}

  int PutBytes(const void* data, int size);
  int GetBytes(void* out, int size, int startPos) const;

  template <class T>
  int Put(const T* value) {
    static_assert(std::is_trivially_copyable<T>::value, "plain values only");
    return PutBytes(value, static_cast<int>(sizeof(T)));
  }
  template <class T>
  int Get(T* value, int startPos) const {
    static_assert(std::is_trivially_copyable<T>::value, "plain values only");
    return GetBytes(value, static_cast<int>(sizeof(T)), startPos);
  }

  // A string as a 32-bit length followed by its bytes, no terminator.
  int PutStr(const char* str);
  // Reads what PutStr wrote; the text is cut at outSize - 1 bytes (out always ends with a zero).
  int GetStr(char* out, int outSize, int startPos) const;

  // New size; bytes added by growing are zero. Gives the size in effect afterwards.
  int Resize(int newSize);
  void Clear() { mBuf.Resize(0, true); }
  int Size() const { return mBuf.GetSize(); }
  uint8_t* GetBytes() { return static_cast<uint8_t*>(mBuf.Get()); }
  const uint8_t* GetBytes() const { return static_cast<const uint8_t*>(mBuf.Get()); }
  bool IsEqual(const ByteChunk& other) const;

 private:
  KIT_HeapBuf mBuf;
};
