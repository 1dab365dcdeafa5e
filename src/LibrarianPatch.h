// One program of the librarian: its name and the SysEx messages that make it up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "src/ProgramDump.h"

class ByteChunk;

// Every bank the librarian lists or writes holds this many programs.
constexpr int kProgramsPerBank = 128;

// The bytes of one SysEx message. A program dump fits in the object itself, so that the programs of a
// bank live in the bank's one block of records instead of a heap block each (a scan reads 128 of
// them per file); a longer message keeps its bytes on the heap. Reads like a std::vector<uint8_t>
// and converts to one.
class SysexBytes {
 public:
  static constexpr size_t kInlineCapacity = kProgramDumpSize;

  using value_type = uint8_t;
  using size_type = size_t;
  using reference = uint8_t&;
  using const_reference = const uint8_t&;
  using iterator = uint8_t*;
  using const_iterator = const uint8_t*;

  SysexBytes() = default;
  SysexBytes(const uint8_t* bytes, size_t count) { assign(bytes, count); }
  explicit SysexBytes(const std::vector<uint8_t>& bytes) { assign(bytes.data(), bytes.size()); }
  SysexBytes(const SysexBytes& other) { assign(other.data(), other.size()); }
  SysexBytes(SysexBytes&& other) noexcept { takeFrom(other); }
  SysexBytes& operator=(const SysexBytes& other) {
    if (this != &other) assign(other.data(), other.size());
    return *this;
  }
  SysexBytes& operator=(SysexBytes&& other) noexcept {
    if (this != &other) takeFrom(other);
    return *this;
  }

  void assign(const uint8_t* bytes, size_t count);
  // New bytes are zero, as in a vector.
  void resize(size_t count);
  // Makes the size `count` and returns the bytes for the caller to fill in: all of them, since what
  // they hold until then is not specified.
  uint8_t* prepare(size_t count);
  void clear() { resize(0); }

  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  uint8_t* data() { return onHeap() ? heap_.get() : inline_; }
  const uint8_t* data() const { return onHeap() ? heap_.get() : inline_; }
  uint8_t* begin() { return data(); }
  uint8_t* end() { return data() + size_; }
  const uint8_t* begin() const { return data(); }
  const uint8_t* end() const { return data() + size_; }
  uint8_t& operator[](size_t i) { return data()[i]; }
  const uint8_t& operator[](size_t i) const { return data()[i]; }
  uint8_t& front() { return data()[0]; }
  const uint8_t& front() const { return data()[0]; }
  uint8_t& back() { return data()[size_ - 1]; }
  const uint8_t& back() const { return data()[size_ - 1]; }

  std::vector<uint8_t> toVector() const { return std::vector<uint8_t>(begin(), end()); }
  operator std::vector<uint8_t>() const { return toVector(); }

 private:
  bool onHeap() const { return size_ > kInlineCapacity; }
  void takeFrom(SysexBytes& other) noexcept;

  // The bytes once there are more than fit inline (exactly size_ of them).
  std::unique_ptr<uint8_t[]> heap_;
  uint32_t size_ = 0;
  // The bytes while they fit; only the first size_ are ever read or copied.
  uint8_t inline_[kInlineCapacity];
};

bool operator==(const SysexBytes& a, const SysexBytes& b);
bool operator==(const SysexBytes& a, const std::vector<uint8_t>& b);
bool operator==(const std::vector<uint8_t>& a, const SysexBytes& b);
inline bool operator!=(const SysexBytes& a, const SysexBytes& b) {
  return !(a == b);
}
inline bool operator!=(const SysexBytes& a, const std::vector<uint8_t>& b) {
  return !(a == b);
}
inline bool operator!=(const std::vector<uint8_t>& a, const SysexBytes& b) {
  return !(a == b);
}

// One SysEx message of a program, F0 to F7 inclusive.
struct PatchSysexMessage {
  SysexBytes data;

  PatchSysexMessage() = default;
  PatchSysexMessage(const std::vector<uint8_t>& bytes) : data(bytes) {}  // NOLINT: a message is its bytes
  PatchSysexMessage(const uint8_t* bytes, size_t count) : data(bytes, count) {}

  bool operator==(const PatchSysexMessage& other) const { return data == other.data; }
  bool operator!=(const PatchSysexMessage& other) const { return !(data == other.data); }
};

// The messages of a program: almost always exactly one, so one is kept in the object itself and a
// heap block is taken only for a second. Reads like a std::vector<PatchSysexMessage>.
class PatchMessages {
 public:
  using value_type = PatchSysexMessage;
  using size_type = size_t;
  using reference = PatchSysexMessage&;
  using const_reference = const PatchSysexMessage&;
  using iterator = PatchSysexMessage*;
  using const_iterator = const PatchSysexMessage*;

  PatchMessages() = default;
  PatchMessages(const PatchMessages& other)
      : many_(other.many_ ? std::make_unique<std::vector<PatchSysexMessage>>(*other.many_) : nullptr),
        one_(other.one_),
        hasOne_(other.hasOne_) {}
  PatchMessages& operator=(const PatchMessages& other) {
    if (this != &other) {
      many_ = other.many_ ? std::make_unique<std::vector<PatchSysexMessage>>(*other.many_) : nullptr;
      one_ = other.one_;
      hasOne_ = other.hasOne_;
    }
    return *this;
  }
  PatchMessages(PatchMessages&& other) noexcept
      : many_(std::move(other.many_)), one_(std::move(other.one_)), hasOne_(other.hasOne_) {
    other.hasOne_ = false;
  }
  PatchMessages& operator=(PatchMessages&& other) noexcept {
    if (this != &other) {
      many_ = std::move(other.many_);
      one_ = std::move(other.one_);
      hasOne_ = other.hasOne_;
      other.hasOne_ = false;
    }
    return *this;
  }

  size_t size() const { return many_ ? many_->size() : static_cast<size_t>(hasOne_); }
  bool empty() const { return size() == 0; }
  PatchSysexMessage* data() { return many_ ? many_->data() : &one_; }
  const PatchSysexMessage* data() const { return many_ ? many_->data() : &one_; }
  PatchSysexMessage* begin() { return data(); }
  PatchSysexMessage* end() { return data() + size(); }
  const PatchSysexMessage* begin() const { return data(); }
  const PatchSysexMessage* end() const { return data() + size(); }
  PatchSysexMessage& operator[](size_t i) { return data()[i]; }
  const PatchSysexMessage& operator[](size_t i) const { return data()[i]; }
  PatchSysexMessage& front() { return data()[0]; }
  const PatchSysexMessage& front() const { return data()[0]; }
  PatchSysexMessage& back() { return data()[size() - 1]; }
  const PatchSysexMessage& back() const { return data()[size() - 1]; }

  // `message` is taken first: it may be one of these, and a second message moves the first.
  void push_back(const PatchSysexMessage& message) {
    PatchSysexMessage copy(message);
    emplace_back() = std::move(copy);
  }
  void push_back(PatchSysexMessage&& message) {
    PatchSysexMessage taken(std::move(message));
    emplace_back() = std::move(taken);
  }
  // Appends an empty message and returns it.
  PatchSysexMessage& emplace_back() {
    // While there is no message one_ is empty: it was never used, cleared, or moved from.
    if (!many_ && !hasOne_) {
      hasOne_ = true;
      return one_;
    }
    return emplaceAnother();
  }
  void clear();

  bool operator==(const PatchMessages& other) const;
  bool operator!=(const PatchMessages& other) const { return !(*this == other); }

 private:
  PatchSysexMessage& emplaceAnother();

  // Every message once there are two or more; one_ is then empty and unused.
  std::unique_ptr<std::vector<PatchSysexMessage>> many_;
  // The only message while there is at most one (hasOne_ tells whether it is there).
  PatchSysexMessage one_;
  bool hasOne_ = false;
};

// A value type: copies share nothing.
class LibrarianPatch {
 public:
  // Defined out of line, so that a new record in a vector is not first cleared byte by byte: the
  // reader fills in every byte it keeps.
  LibrarianPatch();

  std::string name;
  PatchMessages messages;

  // Appends this program's messages to `chunk`. Raw form: each message whole. Standard MIDI form:
  // each message as one SysEx event (delta time, F0, variable-length count, the bytes after the F0);
  // the first event of the bank (index 0, first message) has delta 0, every later one 500 ticks.
  // Messages that are not framed F0 .. F7 are left out. The last three arguments have no effect.
  void save(ByteChunk* chunk, bool midi, int index, bool, bool, int) const;

  // True when the program holds at least one message framed F0 .. F7 that a bank file can carry.
  bool hasWritableMessage() const;
};

// True for a message that starts with F0, ends with F7 and holds at least those two bytes.
bool isFramedSysEx(const uint8_t* message, size_t size);
bool isFramedSysEx(const std::vector<uint8_t>& message);
bool isFramedSysEx(const SysexBytes& message);

// The name the slot lists show for a program dump: the name the dump carries (programDumpName), so
// never the top-bit byte at position 13. Shorter messages give the name bytes that exist.
std::string programNameFromDump(const uint8_t* dump, int size);
