#include "src/LibrarianPatch.h"

#include <cstring>

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

void SysexBytes::assign(const uint8_t* bytes, size_t count) {
  if (count <= kInlineCapacity) {
    // `bytes` may lie in heap_; they are copied out before heap_ is let go.
    if (count > 0) std::memmove(inline_, bytes, count);
    heap_.reset();
  } else {
    std::unique_ptr<uint8_t[]> copy(new uint8_t[count]);
    std::memcpy(copy.get(), bytes, count);
    heap_ = std::move(copy);
  }
  size_ = static_cast<uint32_t>(count);
}

void SysexBytes::resize(size_t count) {
  if (count == size_) return;
  if (count <= kInlineCapacity) {
    if (onHeap()) {
      std::memcpy(inline_, heap_.get(), count);
      heap_.reset();
    } else if (count > size_) {
      std::memset(inline_ + size_, 0, count - size_);
    }
  } else {
    std::unique_ptr<uint8_t[]> grown(new uint8_t[count]);
    const size_t kept = count < size_ ? count : size_;
    if (kept > 0) std::memcpy(grown.get(), data(), kept);
    std::memset(grown.get() + kept, 0, count - kept);
    heap_ = std::move(grown);
  }
  size_ = static_cast<uint32_t>(count);
}

uint8_t* SysexBytes::prepare(size_t count) {
  if (count <= kInlineCapacity) {
    heap_.reset();
  } else if (count != size_) {
    heap_.reset(new uint8_t[count]);
  }
  size_ = static_cast<uint32_t>(count);
  return data();
}

void SysexBytes::takeFrom(SysexBytes& other) noexcept {
  if (other.onHeap()) {
    heap_ = std::move(other.heap_);
  } else {
    if (other.size_ > 0) std::memcpy(inline_, other.inline_, other.size_);
    heap_.reset();
  }
  size_ = other.size_;
  other.size_ = 0;
  other.heap_.reset();
}

bool operator==(const SysexBytes& a, const SysexBytes& b) {
  return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size()) == 0);
}

bool operator==(const SysexBytes& a, const std::vector<uint8_t>& b) {
  return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size()) == 0);
}

bool operator==(const std::vector<uint8_t>& a, const SysexBytes& b) {
  return b == a;
}

PatchSysexMessage& PatchMessages::emplaceAnother() {
  if (!many_) {
    auto many = std::make_unique<std::vector<PatchSysexMessage>>();
    many->reserve(2);
    many->push_back(std::move(one_));
    many_ = std::move(many);
    hasOne_ = false;
  }
  many_->emplace_back();
  return many_->back();
}

void PatchMessages::clear() {
  many_.reset();
  one_ = PatchSysexMessage();
  hasOne_ = false;
}

bool PatchMessages::operator==(const PatchMessages& other) const {
  if (size() != other.size()) return false;
  for (size_t i = 0; i < size(); ++i)
    if (!((*this)[i] == other[i])) return false;
  return true;
}

bool isFramedSysEx(const uint8_t* message, size_t size) {
  return message && size >= 2 && message[0] == 0xF0 && message[size - 1] == 0xF7;
}

bool isFramedSysEx(const std::vector<uint8_t>& message) {
  return isFramedSysEx(message.data(), message.size());
}

bool isFramedSysEx(const SysexBytes& message) {
  return isFramedSysEx(message.data(), message.size());
}

LibrarianPatch::LibrarianPatch() = default;

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
  return programDumpName(dump, size < 0 ? 0 : static_cast<size_t>(size));
}
