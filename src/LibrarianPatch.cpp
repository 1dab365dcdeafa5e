#include "src/LibrarianPatch.h"

#include "KIT/IEffect/IEffectStructs.h"

namespace {

// Delta time between consecutive programs of a Standard MIDI bank: 500 ticks.
const uint8_t kDeltaBetweenPrograms[] = {0x83, 0x74};

// Appends a variable-length quantity (seven bits per byte, most significant first).
void putVariableLength(ByteChunk* chunk, uint32_t value) {
  uint8_t bytes[5];
  int count = 0;
  bytes[count++] = static_cast<uint8_t>(value & 0x7F);
  while ((value >>= 7) != 0) bytes[count++] = static_cast<uint8_t>(0x80 | (value & 0x7F));
  uint8_t ordered[5];
  for (int i = 0; i < count; ++i) ordered[i] = bytes[count - 1 - i];
  chunk->PutBytes(ordered, count);
}

}  // namespace

bool isFramedSysEx(const std::vector<uint8_t>& message) {
  return message.size() >= 2 && message.front() == 0xF0 && message.back() == 0xF7;
}

bool LibrarianPatch::hasWritableMessage() const {
  for (const PatchSysexMessage& m : messages)
    if (isFramedSysEx(m.data)) return true;
  return false;
}

void LibrarianPatch::save(ByteChunk* chunk, bool midi, int index, bool, bool, int) const {
  if (!chunk) return;
  bool firstOfBank = index == 0;
  for (const PatchSysexMessage& m : messages) {
    if (!isFramedSysEx(m.data)) continue;
    const int size = static_cast<int>(m.data.size());
    if (!midi) {
      chunk->PutBytes(m.data.data(), size);
      continue;
    }
    if (firstOfBank) {
      const uint8_t zero = 0;
      chunk->PutBytes(&zero, 1);
      firstOfBank = false;
    } else {
      chunk->PutBytes(kDeltaBetweenPrograms, sizeof kDeltaBetweenPrograms);
    }
    const uint8_t status = 0xF0;
    chunk->PutBytes(&status, 1);
    putVariableLength(chunk, static_cast<uint32_t>(size - 1));
    chunk->PutBytes(m.data.data() + 1, size - 1);
  }
}

std::string programNameFromDump(const uint8_t* dump, int size) {
  std::string name;
  if (!dump) return name;
  for (int i = 6; i <= 18 && i < size; ++i)
    if (dump[i] != 0) name.push_back(static_cast<char>(dump[i]));
  return name;
}
