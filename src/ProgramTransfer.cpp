#include "src/ProgramTransfer.h"

#include "src/ProgramDump.h"

namespace {

constexpr int kTimbreData[2] = {38, 146};  // first data byte of each timbre (its MIDI channel)
constexpr int kTimbreSize = 108;

void unpack(const uint8_t* dump, uint8_t* data) {
  unpackData(dump + 5, kProgramDataSize, data);
}

void pack(const uint8_t* data, uint8_t* dump) {
  packData(data, kProgramDataSize, dump + 5);
}

}  // namespace

bool isWholeProgramDump(const uint8_t* b, size_t size) {
  if (!b || size != static_cast<size_t>(kProgramDumpSize)) return false;
  if (b[0] != 0xF0 || b[1] != 0x42 || (b[2] & 0xF0) != 0x30 || b[3] != 0x58 || b[4] != kProgramDumpFunction ||
      b[size - 1] != 0xF7)
    return false;
  for (size_t i = 1; i + 1 < size; ++i)
    if (b[i] & 0x80) return false;
  return true;
}

void putArpTempo(uint8_t* dump, int tempoIndex) {
  uint8_t data[kProgramDataSize];
  unpack(dump, data);
  const int tempo = tempoIndex + 20;
  data[30] = static_cast<uint8_t>((tempo >> 8) & 0xFF);
  data[31] = static_cast<uint8_t>(tempo & 0xFF);
  pack(data, dump);
}

void putPartChannel(uint8_t* dump, int timbre, int channel) {
  uint8_t data[kProgramDataSize];
  unpack(dump, data);
  data[kTimbreData[timbre ? 1 : 0]] = channel >= 16 ? 0xFF : static_cast<uint8_t>(channel < 0 ? 0 : channel);
  pack(data, dump);
}

void loadTimbreFromLibrarian(uint8_t* dump, const uint8_t* editorDump, int intoTimbre, int fromTimbre) {
  uint8_t lib[kProgramDataSize], ed[kProgramDataSize];
  unpack(dump, lib);
  unpack(editorDump, ed);
  const int into = intoTimbre ? 1 : 0, from = fromTimbre ? 1 : 0;
  // The chosen timbre, without its channel byte, moves to the receiving half first.
  if (into != from)
    for (int i = 1; i < kTimbreSize; ++i) lib[kTimbreData[into] + i] = lib[kTimbreData[from] + i];
  // The other half is the editor's.
  const int other = 1 - into;
  for (int i = 0; i < kTimbreSize; ++i) lib[kTimbreData[other] + i] = ed[kTimbreData[other] + i];
  // The common settings are the editor's too.
  for (int d = 0; d < 12; ++d) lib[d] = ed[d];
  lib[16] = ed[16];
  for (int d = 18; d <= 36; ++d) lib[d] = ed[d];
  lib[kTimbreData[0]] = ed[kTimbreData[0]];
  pack(lib, dump);
}
