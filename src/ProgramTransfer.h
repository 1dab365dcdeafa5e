// What the librarian transfers do to a program dump before it goes to the synthesizer: the editor's
// arpeggiator tempo and part channels put in, and one timbre of a librarian program loaded into the
// program being edited. Each works on the unpacked data and packs it again, so every top-bit byte stays
// consistent with its data bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// True for a whole program dump: 297 bytes, F0 42 3n 58 40 ... F7, every byte between within 7 bits.
bool isWholeProgramDump(const uint8_t* bytes, size_t size);

// The arpeggiator tempo index v (tempo v + 20) into data 30 and 31, high byte first.
void putArpTempo(uint8_t* dump, int tempoIndex);
// A part's MIDI channel (0..15, 16 for the global channel, stored as FF) into data 38 (timbre 1) or 146.
void putPartChannel(uint8_t* dump, int timbre, int channel);
// The librarian program `dump` rebuilt around one timbre: the editor's program (`editorDump`, built from
// the current parameters) gives the common settings (name and the settings of data 16 and 18 to 36, and
// timbre 1's channel) and the other timbre; timbre `intoTimbre` (0 or 1) of the result is the librarian
// program's timbre `fromTimbre`, its MIDI channel byte kept.
void loadTimbreFromLibrarian(uint8_t* dump, const uint8_t* editorDump, int intoTimbre, int fromTimbre);
