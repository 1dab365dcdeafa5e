// The program dump: one program of the synthesizer as a 297-byte SysEx message, F0 42 3n 58 40, 291 packed
// bytes, F7. The 254 program data bytes travel in 37 packing units, each a top-bit byte followed by up to
// seven data bytes with bit 7 cleared (bit i of the top-bit byte is bit 7 of the unit's i-th data byte);
// the last unit holds two data bytes.
//
// The codec works on plain parameter values, an array of kNumParams doubles indexed by EParams, and on byte
// buffers. It keeps no state and is safe to call from any thread on buffers the caller owns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr int kProgramDumpSize = 297;
constexpr int kProgramDataSize = 254;
constexpr int kProgramNameLength = 12;
constexpr uint8_t kProgramDumpFunction = 0x40;

// The built-in "Init Sound" program dump (device byte 0x30), kProgramDumpSize bytes.
const uint8_t* initialProgramDump();

// Message position of program data byte d (0..253).
constexpr int programDataPosition(int d) {
  return 5 + 8 * (d / 7) + 1 + d % 7;
}

// Packs count data bytes (count <= 254) into the units that start at packed[0] and returns the number
// of packed bytes written. Unpacking is the reverse; each data byte gets its bit 7 from its top-bit byte.
int packData(const uint8_t* data, int count, uint8_t* packed);
int unpackData(const uint8_t* packed, int count, uint8_t* data);

// The 254 data bytes of the built-in initial program.
const uint8_t* initialProgramData();

// Builds the program dump of the given values and name into out (kProgramDumpSize bytes). The name is cut
// to 12 characters and padded with spaces. deviceId is 0x30 + the global channel. Every byte between F0 and
// F7 stays within 7 bits: name characters are masked to 7 bits, numeric fields are limited to their bits.
//
// base holds the 254 data bytes of the program the values came from (the last one received): every bit that
// no parameter has a say in goes out as base has it, so that a program read from the synthesizer goes back
// with the bytes the editor does not edit as they came. A vocoder program (kCommonMode 3) keeps the whole
// block after the common data (data bytes 38 to 253) as base has it: its timbre parameters describe a synth
// timbre, not the vocoder. A null base is 254 zero bytes.
void buildProgramDump(const double* values, const std::string& name, uint8_t deviceId, const uint8_t* base,
                      uint8_t* out);
inline void buildProgramDump(const double* values, const std::string& name, uint8_t deviceId, uint8_t* out) {
  buildProgramDump(values, name, deviceId, nullptr, out);
}

// The indices a parse set, in the order set, kept without allocating: a parse runs on the MIDI input thread.
// A whole dump sets fewer than 400 values.
class ParsedIndices {
 public:
  static constexpr int kCapacity = 512;
  void push_back(int index) {
    if (count_ < kCapacity) items_[count_++] = static_cast<int16_t>(index);
  }
  void clear() { count_ = 0; }
  bool empty() const { return count_ == 0; }
  int size() const { return count_; }
  int front() const { return items_[0]; }
  int operator[](int i) const { return items_[i]; }
  const int16_t* begin() const { return items_; }
  const int16_t* end() const { return items_ + count_; }

 private:
  int16_t items_[kCapacity];
  int count_ = 0;
};

// What a parse did besides setting values.
struct ProgramParseResult {
  bool accepted = false;
  std::string name;               // the received name, blanks kept, zero bytes dropped
  bool refreshRequested = false;  // voice mode byte 0x00 or 0x40 was read
  // The voice mode position was read (its section not locked): the caller greys or restores the timbre
  // controls for the new kCommonMode.
  bool voiceModeApplied = false;
  // A locked part channel was put back after the dump named another channel (timbre 1, timbre 2): the
  // caller sets the parameter again and gives the synthesizer its pause.
  bool channelRestored[2] = {false, false};
  ParsedIndices changed;  // every index set, in the order set (an index may appear twice)
  // The received program's data bytes, unpacked: the base the next build starts from.
  uint8_t data[kProgramDataSize] = {};
  // The voice mode byte names a vocoder program: the timbre parameters were left as they were.
  bool vocoder = false;
};

// Reads a program dump into values. Nothing is changed unless len is exactly kProgramDumpSize, msg[0] is
// F0, the high nibble of msg[2] is 3, msg[3] is 0x58 and msg[296] is F7. Locked sections (a lock parameter
// whose value is exactly 1.0) keep their values. Every value set is limited to its parameter's range. Each
// field is read from its own bits of the unpacked data, whatever the bits around it hold. A vocoder program
// sets the common parameters only.
// Returns result->accepted.
bool parseProgramDump(const uint8_t* msg, size_t len, double* values, ProgramParseResult* result);

// The name a program dump carries: the non-zero bytes at message positions 6 to 12 and 14 to 18, in
// order. Position 13 is the top-bit byte of the seven data bytes after it, not a character. A shorter
// message gives the name bytes it holds.
std::string programDumpName(const uint8_t* msg, size_t len);

// The name the librarian shows for a received or sent program name: "Set Name" for an empty one.
std::string librarianProgramName(const std::string& name);
