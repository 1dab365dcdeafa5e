// vexmir-bankgen FILE PREFIX [SEED]: writes a bank of 128 programs as 128 program dumps back to back (the form the
// librarian and the synthesizer emulator both read). Program i is named PREFIX followed by i + 1 (cut to the
// twelve characters a program name holds); its sound is the initial program with a few sound parameters moved,
// chosen from SEED, so that banks made with different seeds differ audibly and byte for byte.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "src/ProgramDump.h"
#include "src/VexmirParams.h"

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    std::fprintf(stderr, "usage: vexmir-bankgen FILE PREFIX [SEED]\n");
    return 2;
  }
  const std::string path = argv[1], prefix = argv[2];
  const unsigned seed = argc == 4 ? static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10)) : 1u;

  std::vector<double> initial(kNumParams, 0.0);
  for (int i = 0; i < kNumParams; ++i) initial[i] = paramInfo(i).defaultValue;
  ProgramParseResult parsed;
  parseProgramDump(initialProgramDump(), kProgramDumpSize, initial.data(), &parsed);

  // Parameters a player reaches for first; both timbres move alike.
  const int moved[] = {kFilterCutoff, kFilterResonance, kFilterType, kFilterEGIntensity};
  std::mt19937 random(seed);
  std::vector<uint8_t> bank;
  bank.reserve(128 * kProgramDumpSize);
  for (int p = 0; p < 128; ++p) {
    std::vector<double> values = initial;
    for (int index : moved) {
      const ParamInfo& info = paramInfo(index);
      std::uniform_int_distribution<int> pick(static_cast<int>(info.min), static_cast<int>(info.max));
      values[index] = values[index + 1] = pick(random);
    }
    char number[8];
    std::snprintf(number, sizeof number, "%d", p + 1);
    std::string name = prefix + number;
    if (name.size() > kProgramNameLength)
      name = prefix.substr(0, kProgramNameLength - std::string(number).size()) + number;
    uint8_t dump[kProgramDumpSize];
    buildProgramDump(values.data(), name, 0x30, dump);
    bank.insert(bank.end(), dump, dump + kProgramDumpSize);
  }
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f || std::fwrite(bank.data(), 1, bank.size(), f) != bank.size() || std::fclose(f) != 0) {
    std::fprintf(stderr, "vexmir-bankgen: cannot write %s\n", path.c_str());
    return 1;
  }
  return 0;
}
