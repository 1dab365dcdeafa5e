// The synthesizer's SysEx protocol as the emulator models it: message sizes, function codes and the 7-bit
// packing. Written from the device's published MIDI facts, independently of the editor's own codec, so that
// the two can be checked against each other.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace synthemu {

using Bytes = std::vector<uint8_t>;

constexpr int kProgramSize = 254;  // unpacked data bytes of one program
constexpr int kGlobalSize = 200;   // unpacked data bytes of the global settings
constexpr int kProgramCount = 128;
constexpr int kNameLength = 12;

constexpr size_t kProgramDumpLength = 297;    // F0 42 3n 58 40 [291] F7
constexpr size_t kGlobalDumpLength = 235;     // F0 42 3n 58 51 [229] F7
constexpr size_t kBulkDumpLength = 37163;     // F0 42 3n 58 4C [37157] F7
constexpr size_t kAllDataDumpLength = 37392;  // F0 42 3n 58 50 [37157 + 229] F7
constexpr size_t kRequestLength = 6;

constexpr uint8_t kKorgId = 0x42;
constexpr uint8_t kModelId = 0x58;

// Function codes (byte 4 of a message).
enum Function : uint8_t {
  kFnGlobalDumpRequest = 0x0E,
  kFnAllDataDumpRequest = 0x0F,
  kFnProgramDumpRequest = 0x10,
  kFnProgramWriteRequest = 0x11,
  kFnAllProgramsDumpRequest = 0x1C,
  kFnWriteCompleted = 0x21,
  kFnWriteError = 0x22,
  kFnLoadCompleted = 0x23,
  kFnLoadError = 0x24,
  kFnFormatError = 0x26,
  kFnProgramDump = 0x40,
  kFnParameterChange = 0x41,
  kFnAllProgramsDump = 0x4C,
  kFnModeChange = 0x4E,
  kFnAllDataDump = 0x50,
  kFnGlobalDump = 0x51,
};

// Size of n data bytes after packing: every unit of up to seven bytes gains one top-bit byte.
constexpr size_t packedSize(size_t n) {
  return n / 7 * 8 + (n % 7 ? n % 7 + 1 : 0);
}

// Packs data seven bytes at a time behind a byte that holds their bit 7 (bit k for the k-th byte).
Bytes pack7(const uint8_t* data, size_t n);
// Reverses pack7 for exactly `count` data bytes read from `packed`; false when the packed bytes are too few
// or one of them has bit 7 set (no valid packed stream does).
bool unpack7(const uint8_t* packed, size_t packedLength, size_t count, uint8_t* out);

// F0 42 3n 58 fn ... F7 with the given channel (0 to 15) and payload.
Bytes sysexMessage(int channel, uint8_t function, const Bytes& payload = {});

}  // namespace synthemu
