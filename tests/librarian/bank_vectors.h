// Bank test vectors built from first principles: programs, their packing, and every file form the
// librarian reads or writes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vectors {

using Bytes = std::vector<uint8_t>;

// The 254 data bytes of test program k (0-based): the name "Prog 001" ... padded with blanks to twelve
// characters, then bytes that set and clear bit 7 in every position (data bytes 12 and 13 keep it clear
// so that the name shows no packing byte).
Bytes programData(int k);
// The same with another twelve name bytes.
Bytes programDataNamed(int k, const std::string& twelveNameBytes);
// The 128 test programs.
std::vector<Bytes> testPrograms(int count = 128);

// Seven data bytes behind one top-bits byte, the last group shorter.
Bytes pack(const Bytes& data);
// F0 42 <channel> 58 40, the packed program, F7: 297 bytes.
Bytes programDump(const Bytes& programData, uint8_t channel = 0x30);
// F0 42 <channel> 58 <function>, the programs packed as one stream (plus 200 global bytes for the
// all-data dump, function 50), F7.
Bytes bulkDump(const std::vector<Bytes>& programs, uint8_t function = 0x4C, uint8_t channel = 0x30);
// The program dumps back to back.
Bytes singles(const std::vector<Bytes>& programs, uint8_t channel = 0x30);
// The Standard MIDI bank the librarian writes (38580 bytes for 128 dumps), spelled out byte by byte.
Bytes midiBank(const std::vector<Bytes>& dumps);

// The name a program dump carries: non-zero bytes 6 to 12 and 14 to 18 (13 packs top bits).
std::string dumpName(const Bytes& dump);

Bytes readFile(const std::string& path);
void writeFile(const std::string& path, const Bytes& bytes);

}  // namespace vectors
