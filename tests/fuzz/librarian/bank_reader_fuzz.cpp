// Feeds arbitrary bytes to the bank reader, as a file of the scan and as a bank dump from the
// synthesizer, and checks what comes out: either nothing, or at least 128 complete program dumps
// that the two bank writers turn into files reading back as the same programs.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "KIT/IEffect/IEffectStructs.h"
#include "src/PatchLibrarian.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

void checkBank(const PatchFile& bank) {
  if (bank.patches.empty()) return;
  check(bank.patches.size() >= static_cast<size_t>(kProgramsPerBank));
  for (const LibrarianPatch& p : bank.patches) {
    check(p.messages.size() == 1);
    const std::vector<uint8_t>& d = p.messages[0].data;
    check(d.size() == static_cast<size_t>(kProgramDumpSize));
    check(d[0] == 0xF0 && d[1] == 0x42 && d[2] == 0x30 && d[3] == 0x58 && d[4] == 0x40 && d.back() == 0xF7);
    for (size_t i = 1; i + 1 < d.size(); ++i) check(d[i] < 0x80);
  }
}

void checkRoundTrip(PatchLibrarian& librarian, const PatchFile& bank, bool midi) {
  ByteChunk image;
  PatchLibrarian::buildBankImage(bank, midi, &image);
  check(image.Size() == (midi ? 38580 : 38016));
  PatchFile back;
  librarian.loadFromChunk(&image, image.Size(), &back, 0);
  check(back.patches.size() == static_cast<size_t>(kProgramsPerBank));
  for (int slot = 0; slot < kProgramsPerBank; ++slot)
    check(back.patches[slot].messages[0].data == bank.patches[slot].messages[0].data);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  ByteChunk chunk;
  if (size > 0) chunk.PutBytes(data, static_cast<int>(size));

  PatchLibrarian librarian;
  PatchFile bank;
  librarian.loadFromChunk(&chunk, static_cast<int>(size), &bank, 0);
  checkBank(bank);
  check(librarian.chunkUnrecognized == bank.patches.empty());
  if (!bank.patches.empty()) {
    checkRoundTrip(librarian, bank, false);
    checkRoundTrip(librarian, bank, true);
  }

  // The same bytes as a bank dump received from the synthesizer: every slot handed on, flags reset.
  int handed = 0;
  librarian.hardwareProgramHandOff = [&](const uint8_t*, int n) {
    check(n == kProgramDumpSize);
    ++handed;
  };
  librarian.bankDumpFromHardware = true;
  PatchFile received;
  librarian.loadFromChunk(&chunk, static_cast<int>(size), &received, 0);
  checkBank(received);
  check(!librarian.bankDumpFromHardware && librarian.targetSlot == 0);
  check(handed <= kProgramsPerBank || received.patches.size() > static_cast<size_t>(kProgramsPerBank));
  return 0;
}
