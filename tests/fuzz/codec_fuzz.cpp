// Feeds arbitrary bytes to the program and global dump parsers, as they come and framed as a dump with a
// valid header, and checks what must hold for any input: every value stays within its parameter's range,
// every built byte between F0 and F7 has bit 7 clear, and building what a parse left, parsing that and
// building again gives the same bytes. The bytes also go to the parameter reference look-up.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "src/GlobalDump.h"
#include "src/ProgramDump.h"
#include "src/VexmirParams.h"

namespace {

void check(bool ok) {
  if (!ok) __builtin_trap();
}

std::vector<double> defaults() {
  std::vector<double> v(kNumParams);
  for (int i = 0; i < kNumParams; ++i) v[i] = paramInfo(i).defaultValue;
  return v;
}

void checkRanges(const std::vector<double>& v) {
  for (int i = 0; i < kNumParams; ++i) check(v[i] >= paramInfo(i).min && v[i] <= paramInfo(i).max);
}

void checkSevenBit(const uint8_t* msg, int size) {
  check(msg[0] == 0xF0 && msg[size - 1] == 0xF7);
  for (int i = 1; i < size - 1; ++i) check((msg[i] & 0x80) == 0);
}

void program(const uint8_t* data, size_t size, std::vector<double>& v) {
  uint8_t msg[kProgramDumpSize] = {0xF0, 0x42, 0x30, 0x58, 0x40};
  size_t body = size < 291 ? size : 291;
  std::memcpy(msg + 5, data, body);
  msg[kProgramDumpSize - 1] = 0xF7;
  ProgramParseResult r;
  check(parseProgramDump(msg, sizeof msg, v.data(), &r));
  checkRanges(v);
  check(r.changed.size() < 400);
  for (int i : r.changed) check(i >= 0 && i < kNumParams);

  uint8_t first[kProgramDumpSize], second[kProgramDumpSize];
  buildProgramDump(v.data(), r.name, 0x30, first);
  checkSevenBit(first, kProgramDumpSize);
  ProgramParseResult again;
  check(parseProgramDump(first, sizeof first, v.data(), &again));
  buildProgramDump(v.data(), r.name, 0x30, second);
  check(std::memcmp(first, second, sizeof first) == 0);
}

void global(const uint8_t* data, size_t size, std::vector<double>& v) {
  uint8_t msg[kGlobalDumpSize] = {0xF0, 0x42, 0x30, 0x58, 0x51};
  size_t body = size < 229 ? size : 229;
  std::memcpy(msg + 5, data, body);
  msg[kGlobalDumpSize - 1] = 0xF7;
  check(parseGlobalDump(msg, sizeof msg, v.data()));
  checkRanges(v);
  uint8_t first[kGlobalDumpSize], second[kGlobalDumpSize];
  buildGlobalDump(v.data(), 0x30, first);
  checkSevenBit(first, kGlobalDumpSize);
  check(parseGlobalDump(first, sizeof first, v.data()));
  buildGlobalDump(v.data(), 0x30, second);
  check(std::memcmp(first, second, sizeof first) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::vector<double> start = defaults();
  std::vector<double> v = start;

  // As they come: only exact dumps may change anything.
  ProgramParseResult r;
  bool accepted = parseProgramDump(data, size, v.data(), &r);
  check(accepted == r.accepted);
  if (!accepted) check(v == start && r.changed.empty());
  std::vector<double> g = start;
  if (!parseGlobalDump(data, size, g.data())) check(g == start);
  checkRanges(v);
  checkRanges(g);

  // The same bytes as a parameter reference of the user-interface description.
  int index = paramIndexFromName(std::string(reinterpret_cast<const char*>(data), size < 64 ? size : 64));
  check(index >= -1 && index < kNumParams);

  // Framed: the first byte chooses which locks are on, the rest is the packed body.
  if (size == 0) return 0;
  v = start;
  uint8_t locks = data[0];
  const int lockParams[] = {kSectionLockOsc1 + (locks & 1),
                            kSectionLockArp,
                            kLockPartMIDIch + ((locks >> 2) & 1),
                            kSectionLockGlobal,
                            kOverrideTempo,
                            kSectionLockLFO1 + ((locks >> 5) & 1),
                            kSectionLocSeq2Lock + ((locks >> 6) & 1),
                            kSectionLockVoice + ((locks >> 7) & 1)};
  for (int b = 0; b < 8; ++b) v[lockParams[b]] = (locks >> b) & 1 ? 1.0 : 0.0;
  program(data + 1, size - 1, v);
  global(data + 1, size - 1, v);
  return 0;
}
