// The global dump: the synthesizer's global settings as a 235-byte SysEx message, F0 42 3n 58 51, 229
// packed bytes (200 data bytes in the packing of the program dump), F7. The editor mirrors 17 of the
// settings as parameters; every other byte goes out as the built-in template has it.
//
// Master tune and transposition travel as signed data bytes (their bit 7, the sign, in the first top-bit
// byte): offsets from 101 and from 13, so that the parameter values 51..151 and 1..25 are -50..+50 cents
// and -12..+12 semitones.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int kGlobalDumpSize = 235;
constexpr int kGlobalDataSize = 200;
constexpr uint8_t kGlobalDumpFunction = 0x51;

// The template as a whole message, F0 to F7, device byte 0x30.
const uint8_t* globalDumpTemplate();

// The template's 200 data bytes, unpacked.
const uint8_t* globalTemplateData();

// Writes the device byte and the mirrored fields from values into out (kGlobalDumpSize bytes, F0 to F7).
// Every other bit comes from base, the 200 data bytes of the global settings last received (the template's
// when base is null), so that settings the editor does not mirror go back as they came. Every byte between
// F0 and F7 stays within 7 bits.
void buildGlobalDump(const double* values, uint8_t deviceId, const uint8_t* base, uint8_t* out);
inline void buildGlobalDump(const double* values, uint8_t deviceId, uint8_t* out) {
  buildGlobalDump(values, deviceId, nullptr, out);
}

// Sets the mirrored parameters from a global dump. Nothing changes unless len is exactly kGlobalDumpSize,
// msg[0] is F0, msg[1] is 0x42, the high nibble of msg[2] is 3, msg[3] is 0x58, msg[4] is 0x51 and the
// last byte is F7. Each field is read from its own bits of the unpacked data. When data is given it
// receives the 200 data bytes of an accepted dump. Returns whether the dump was accepted.
bool parseGlobalDump(const uint8_t* msg, size_t len, double* values, uint8_t* data = nullptr);

// The 17 mirrored parameters in the order a parse sets them.
extern const int kGlobalDumpParams[17];
