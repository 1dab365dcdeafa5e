// Reading bank images: Standard MIDI files by their events, everything else as a stream of SysEx
// bytes searched for program dumps and bulk dumps.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "KIT/IEffect/IEffectStructs.h"
#include "src/PatchLibrarian.h"
#include "src/ProgramDump.h"

namespace {

constexpr uint8_t kSysExStart = 0xF0;
constexpr uint8_t kSysExEnd = 0xF7;
constexpr uint8_t kKorg = 0x42;
constexpr uint8_t kModel = 0x58;
constexpr uint8_t kProgramDump = 0x40;
constexpr uint8_t kProgramBulkDump = 0x4C;
constexpr uint8_t kAllDataDump = 0x50;
// Offset of the packed data in every dump: F0 42 3n 58 fn.
constexpr size_t kDumpHeader = 5;
// The channel byte the librarian stores in its program dumps, whatever the source carried.
constexpr uint8_t kStoredChannelByte = 0x30;
constexpr int kSmallestReadable = 15;

bool isChannelByte(uint8_t b) {
  return b >= 0x30 && b <= 0x3F;
}

// The first position at or after `pos` whose byte has bit 7 set (a status byte), or `end`. Data
// bytes are skipped 32, then eight at a time: bank files are almost all data bytes.
size_t nextStatusByte(const uint8_t* d, size_t pos, size_t end) {
  while (end - pos >= 32) {
    uint64_t words[4];
    std::memcpy(words, d + pos, 32);
    if ((words[0] | words[1] | words[2] | words[3]) & 0x8080808080808080ull) break;
    pos += 32;
  }
  while (end - pos >= 8) {
    uint64_t word;
    std::memcpy(&word, d + pos, 8);
    if (word & 0x8080808080808080ull) break;
    pos += 8;
  }
  while (pos < end && !(d[pos] & 0x80)) ++pos;
  return pos;
}

// ---------------------------------------------------------------------------------------------
// Standard MIDI files

uint32_t bigEndian32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

// Reads a variable-length quantity of at most four bytes; false when it runs past `end` or is longer.
bool readVariableLength(const uint8_t* data, size_t end, size_t& pos, uint32_t& value) {
  value = 0;
  for (int i = 0; i < 4; ++i) {
    if (pos >= end) return false;
    const uint8_t b = data[pos++];
    value = (value << 7) | (b & 0x7F);
    if (!(b & 0x80)) return true;
  }
  return false;
}

// Data bytes that follow a channel or system-common status byte.
int dataBytesAfterStatus(uint8_t status) {
  switch (status & 0xF0) {
    case 0xC0:
    case 0xD0:
      return 1;
    case 0xF0:
      return status == 0xF2 ? 2 : (status == 0xF1 || status == 0xF3) ? 1 : 0;
    default:
      return 2;
  }
}

// Appends the SysEx bytes of one track to `stream`: an F0 event gives F0 and its bytes, an F7 event
// (a continuation packet or an escaped message) its bytes alone, so that a message split over
// packets comes out whole. Stops at the end of the track or at the first malformed event.
void collectTrackSysEx(const uint8_t* data, size_t begin, size_t end, std::vector<uint8_t>& stream) {
  size_t pos = begin;
  uint8_t running = 0;
  while (pos < end) {
    uint32_t delta = 0;
    if (!readVariableLength(data, end, pos, delta) || pos >= end) return;
    const uint8_t b = data[pos];
    if (b == 0xFF) {
      if (pos + 2 > end) return;
      const uint8_t type = data[pos + 1];
      pos += 2;
      uint32_t length = 0;
      if (!readVariableLength(data, end, pos, length)) return;
      if (type == 0x2F) return;
      if (length > end - pos) return;
      pos += length;
    } else if (b == kSysExStart || b == kSysExEnd) {
      ++pos;
      uint32_t length = 0;
      if (!readVariableLength(data, end, pos, length)) return;
      const size_t take = length < end - pos ? length : end - pos;
      if (b == kSysExStart) stream.push_back(kSysExStart);
      stream.insert(stream.end(), data + pos, data + pos + take);
      pos += take;
      running = 0;
    } else if (b & 0x80) {
      ++pos;
      running = b < 0xF0 ? b : 0;
      pos += dataBytesAfterStatus(b);
    } else {
      if (!running) return;
      pos += dataBytesAfterStatus(running);
    }
  }
}

// The SysEx stream of every track of a Standard MIDI file, in track order.
std::vector<uint8_t> sysExStreamOfMidiFile(const uint8_t* data, size_t size) {
  std::vector<uint8_t> stream;
  stream.reserve(size);
  size_t pos = 14;  // "MThd", its length 6 and the six header bytes
  while (pos + 8 <= size) {
    const uint8_t* id = data + pos;
    const uint64_t length = bigEndian32(data + pos + 4);
    pos += 8;
    const size_t end = length < size - pos ? pos + static_cast<size_t>(length) : size;
    if (std::memcmp(id, "MTrk", 4) == 0) collectTrackSysEx(data, pos, end, stream);
    pos = end;
  }
  return stream;
}

bool isMidiFile(const uint8_t* data, size_t size) {
  static const uint8_t kHead[] = {'M', 'T', 'h', 'd', 0, 0, 0, 6};
  return size >= sizeof kHead && std::memcmp(data, kHead, sizeof kHead) == 0;
}

// ---------------------------------------------------------------------------------------------
// One read of a SysEx stream into one bank. Everything it counts lives here, not in the librarian,
// so reads never disturb each other.

class BankReader {
 public:
  BankReader(PatchLibrarian& librarian, PatchFile* bank, bool fromHardware)
      : lib_(librarian), bank_(bank), fromHardware_(fromHardware) {}

  void read(const uint8_t* data, size_t size) {
    bank_->patches.reserve(bank_->patches.size() + kProgramsPerBank);
    firstSlot_ = bank_->patches.size();
    size_t pos = 0;
    while (pos < size) {
      // Dumps back to back start right where the last one ended: no search needed.
      if (data[pos] != kSysExStart) {
        const void* next = std::memchr(data + pos, kSysExStart, size - pos);
        if (!next) break;
        pos = static_cast<size_t>(static_cast<const uint8_t*>(next) - data);
      }
      if (!isDumpHeader(data, size, pos)) {
        ++pos;
        continue;
      }
      pos = data[pos + 4] == kProgramDump ? takeProgramDump(data, size, pos) : takeBulkDump(data, size, pos);
    }
    dropStrayFragments();
  }

  int programsFound() const { return found_; }

 private:
  // F0 42 3n 58 fn with n any global channel and fn a program, program-bulk or all-data dump. The
  // byte after fn is not required to be 00: it carries the top bits of the first seven name bytes,
  // and a program whose name has them set must still read back from the bank file it was saved in.
  static bool isDumpHeader(const uint8_t* d, size_t size, size_t pos) {
    if (size - pos < kDumpHeader + 1) return false;
    const uint8_t fn = d[pos + 4];
    return d[pos + 1] == kKorg && isChannelByte(d[pos + 2]) && d[pos + 3] == kModel &&
           (fn == kProgramDump || fn == kProgramBulkDump || fn == kAllDataDump);
  }

  // A single program dump at `pos`: kept only when it is complete (297 bytes of data bytes closed
  // by F7); an incomplete one keeps its slot with the initial program. Returns where to go on.
  size_t takeProgramDump(const uint8_t* d, size_t size, size_t pos) {
    size_t end = nextStatusByte(d, pos + kDumpHeader, size);
    // Real-time bytes (clock, active sensing) may be sent between any two bytes of a message: they
    // are not part of the dump, so the dump is read from a copy without them.
    if (end < size && isRealTime(d[end])) {
      clean_.assign(d + pos, d + end);
      while (end < size && isRealTime(d[end])) {
        const size_t next = nextStatusByte(d, end + 1, size);
        clean_.insert(clean_.end(), d + end + 1, d + next);
        end = next;
      }
      if (clean_.size() == kProgramDumpSize - 1 && end < size && d[end] == kSysExEnd) {
        clean_.push_back(kSysExEnd);
        keepProgramDump(clean_.data());
        return end + 1;
      }
    } else if (end - pos == kProgramDumpSize - 1 && end < size && d[end] == kSysExEnd) {
      keepProgramDump(d + pos);
      return end + 1;
    }
    fragmentSlots_.push_back(bank_->patches.size());
    appendPadding();
    return end;
  }

  void keepProgramDump(const uint8_t* source) {
    SysexBytes& dump = newProgram();
    dump.assign(source, kProgramDumpSize);
    dump[2] = kStoredChannelByte;
    finishProgram(dump, source, false);
  }

  static bool isRealTime(uint8_t b) { return b >= 0xF8; }

  // A program dump that is cut short or overlong keeps a slot of its own, so that the programs
  // after it stay in their slots. That holds only while the slots fit the banks that the whole
  // dumps fill: a stray fragment beside complete banks must not push a program into a 129th slot
  // (which would also split the file into new banks). The excess fragment slots go, those after
  // the last whole dump first, then those before the first, then the latest of the rest.
  void dropStrayFragments() {
    if (fragmentSlots_.empty()) return;
    const size_t slots = bank_->patches.size() - firstSlot_;
    const size_t whole = slots - fragmentSlots_.size();
    const size_t banks = whole == 0 ? 1 : (whole + kProgramsPerBank - 1) / kProgramsPerBank;
    const size_t capacity = banks * kProgramsPerBank;
    if (slots <= capacity) return;
    size_t excess = slots - capacity;
    std::vector<size_t> order;
    for (auto it = fragmentSlots_.rbegin(); it != fragmentSlots_.rend(); ++it)
      if (*it >= lastWholeSlot_) order.push_back(*it);
    for (size_t slot : fragmentSlots_)
      if (slot < firstWholeSlot_) order.push_back(slot);
    for (auto it = fragmentSlots_.rbegin(); it != fragmentSlots_.rend(); ++it)
      if (*it < lastWholeSlot_ && *it >= firstWholeSlot_) order.push_back(*it);
    order.resize(excess);
    std::sort(order.begin(), order.end());
    for (auto it = order.rbegin(); it != order.rend(); ++it)
      bank_->patches.erase(bank_->patches.begin() + static_cast<std::ptrdiff_t>(*it));
  }

  // A program-bulk or all-data dump at `pos`: programs are read relative to this dump's start. The
  // dump runs to its F7 (or the next F0, or the end of the data). A program cut off by the end, or
  // holding a byte that is not a data byte, takes its slot as the initial program; trailing missing
  // programs are left for the caller's padding, so a damaged dump never adds more than 128 slots.
  size_t takeBulkDump(const uint8_t* d, size_t size, size_t pos) {
    const size_t packedBegin = pos + kDumpHeader;
    // Status bytes other than F0 and F7 inside the dump spoil the programs whose stretch holds
    // them; they are rare, so they are collected in the one pass that finds the dump's end.
    // Real-time bytes are no part of the dump: they are left out of the packed data before it is
    // decoded, else every program after one would be read a byte off.
    std::vector<size_t> spoiled;
    size_t packedEnd = packedBegin;
    size_t realTime = 0;
    for (;;) {
      const size_t next = nextStatusByte(d, packedEnd, size);
      if (realTime) clean_.insert(clean_.end(), d + packedEnd, d + next);
      packedEnd = next;
      if (packedEnd >= size || d[packedEnd] == kSysExEnd || d[packedEnd] == kSysExStart) break;
      if (isRealTime(d[packedEnd])) {
        if (realTime++ == 0) clean_.assign(d + packedBegin, d + packedEnd);
      } else {
        spoiled.push_back(packedEnd - packedBegin - realTime);
        if (realTime) clean_.push_back(d[packedEnd]);
      }
      ++packedEnd;
    }
    const uint8_t* packed = realTime ? clean_.data() : d + packedBegin;
    const size_t packedLength = realTime ? clean_.size() : packedEnd - packedBegin;

    int present = 0;
    while (present < kProgramsPerBank && programEnd(present) < packedLength) ++present;
    for (int program = 0; program < present; ++program) {
      if (programIsWhole(spoiled, program)) {
        SysexBytes& dump = newProgram();
        uint8_t* bytes = dump.prepare(kProgramDumpSize);
        packProgram(packed, packedLength, program, bytes);
        finishProgram(dump, bytes, true);
      } else {
        appendPadding();
      }
    }
    return packedEnd < size && d[packedEnd] == kSysExEnd ? packedEnd + 1 : packedEnd;
  }

  // Position, counted from the dump's first packed byte, of the low seven bits of data byte `n`.
  static size_t lowBitsAt(size_t n) { return 1 + n + n / 7; }
  // Position of the top-bits byte holding data byte `n`'s bit 7.
  static size_t topBitsAt(size_t n) { return 8 * (n / 7); }
  // Position of the last packed byte of a program.
  static size_t programEnd(int program) {
    return lowBitsAt(static_cast<size_t>(program) * kProgramDataSize + kProgramDataSize - 1);
  }

  static bool programIsWhole(const std::vector<size_t>& spoiled, int program) {
    const size_t begin = topBitsAt(static_cast<size_t>(program) * kProgramDataSize);
    const auto it = std::lower_bound(spoiled.begin(), spoiled.end(), begin);
    return it == spoiled.end() || *it > programEnd(program);
  }

  // Program `program` of a bulk dump as a 297-byte program dump. The program's data bytes keep their
  // low seven bits; only the grouping moves: its first byte sits at place a = (254 * program) mod 7
  // of a bulk group, so each group of the dump takes the bulk group's bytes from place a on and the
  // first bytes of the next bulk group, and its top-bits byte is pieced together from the two.
  // Writes exactly kProgramDumpSize bytes to `out`, which shares no byte with `packed`.
  static void packProgram(const uint8_t* __restrict packed, size_t packedLength, int program, uint8_t* __restrict out) {
    static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "byte i of a loaded word is bits 8i to 8i + 7");
    out[0] = kSysExStart;
    out[1] = kKorg;
    out[2] = kStoredChannelByte;
    out[3] = kModel;
    out[4] = kProgramDump;
    const size_t first = static_cast<size_t>(program) * kProgramDataSize;
    const unsigned a = static_cast<unsigned>(first % 7);
    const size_t groupAt = topBitsAt(first);
    // The eight bulk bytes from place a on hold a dump group's seven data bytes and, at index 7 - a,
    // the next bulk group's top-bits byte, which is taken out.
    const unsigned drop = 8 * (7 - a);
    const uint64_t below = (uint64_t{1} << drop) - 1;
    constexpr int kWholeGroups = kProgramDataSize / 7;
    int group = 0;
    // Every whole group goes by words when the bulk data reaches past the last one's window.
    if (packedLength - groupAt >= 8 * static_cast<size_t>(kWholeGroups - 1) + 9 + a) {
      for (; group < kWholeGroups; ++group) {
        const uint8_t* groupA = packed + groupAt + 8 * static_cast<size_t>(group);
        uint8_t* o = out + kDumpHeader + 8 * group;
        uint64_t window;
        std::memcpy(&window, groupA + 1 + a, 8);
        // Two shifts: for a = 0 the byte taken out is the last one, and one shift of 64 is undefined.
        const uint64_t bytes = (window & below) | (((window >> drop) >> 8) << drop);
        // The eighth byte stored is the next group's top-bits byte, written after this.
        std::memcpy(o + 1, &bytes, 8);
        o[0] = static_cast<uint8_t>(((groupA[0] >> a) | (static_cast<unsigned>(groupA[8]) << (7 - a))) & 0x7F);
      }
    }
    for (; group * 7 < kProgramDataSize; ++group) {
      const int done = group * 7;
      const uint8_t* groupA = packed + groupAt + 8 * static_cast<size_t>(group);
      uint8_t* o = out + kDumpHeader + 8 * group;
      const unsigned count = kProgramDataSize - done < 7 ? kProgramDataSize - done : 7;
      const unsigned fromA = count < 7 - a ? count : 7 - a;
      unsigned top = groupA[0] >> a;
      for (unsigned i = 0; i < fromA; ++i) o[1 + i] = groupA[1 + a + i];
      if (count > fromA) {
        top |= static_cast<unsigned>(groupA[8]) << (7 - a);
        for (unsigned i = 0; i < count - fromA; ++i) o[1 + fromA + i] = groupA[9 + i];
      }
      o[0] = static_cast<uint8_t>(top & ((1u << count) - 1));
    }
    out[kProgramDumpSize - 1] = kSysExEnd;
  }

  // A new record at the end of the bank, built in place: its message's bytes are for the caller to fill.
  SysexBytes& newProgram() {
    bank_->patches.emplace_back();
    return bank_->patches.back().messages.emplace_back().data;
  }

  // Names the program whose bytes were just filled in and hands it on. The name is read from
  // `source`, which holds the same name bytes: a read of a record just filled by a block copy would
  // wait for the whole copy.
  void finishProgram(SysexBytes& dump, const uint8_t* source, bool fromBulk) {
    LibrarianPatch& patch = bank_->patches.back();
    if (!fromHardware_) {
      patch.name = programNameFromDump(source, kProgramDumpSize);
      // A bulk dump marks an unnamed program with twelve blanks; the librarian names it, in the dump too.
      if (fromBulk && patch.name.size() == 12 && patch.name.find_first_not_of(' ') == std::string::npos) {
        patch.name = "unnamed prog";
        std::memcpy(dump.data() + 6, "unnamed", 7);
        std::memcpy(dump.data() + 14, " prog", 5);
      }
    }
    stored();
    ++found_;
    lastWholeSlot_ = bank_->patches.size();
    if (firstWholeSlot_ == SIZE_MAX) firstWholeSlot_ = lastWholeSlot_ - 1;
  }

  void appendPadding() {
    const uint8_t* initial = initialProgramDump();
    SysexBytes& dump = newProgram();
    dump.assign(initial, kProgramDumpSize);
    bank_->patches.back().name = programNameFromDump(initial, kProgramDumpSize);
    stored();
  }

  void stored() {
    bank_->state = 0;
    if (fromHardware_ && lib_.targetSlot >= 0 && lib_.targetSlot < kProgramsPerBank) {
      const SysexBytes& dump = bank_->patches.back().messages.front().data;
      if (lib_.hardwareProgramHandOff) lib_.hardwareProgramHandOff(dump.data(), static_cast<int>(dump.size()));
      ++lib_.targetSlot;
    }
  }

  PatchLibrarian& lib_;
  PatchFile* bank_;
  // Decided once per read: the flag may be set by the MIDI input while the interface reads a file.
  const bool fromHardware_;
  int found_ = 0;
  // Where this read's slots begin in the bank, and the slots given to cut or overlong program dumps.
  size_t firstSlot_ = 0;
  std::vector<size_t> fragmentSlots_;
  // The first whole program dump's slot and the slot after the last one (SIZE_MAX, 0: none yet).
  size_t firstWholeSlot_ = SIZE_MAX;
  size_t lastWholeSlot_ = 0;
  // A dump's bytes without the real-time bytes found inside it.
  std::vector<uint8_t> clean_;
};

}  // namespace

bool findByte(const ByteChunk* data, int& position, int value) {
  if (position == -1) return false;
  const int size = data ? data->Size() : 0;
  const uint8_t* bytes = data ? data->GetBytes() : nullptr;
  if (position < 0) position = 0;
  while (position < size) {
    const uint8_t b = bytes[position++];
    if (b == static_cast<uint8_t>(value)) return true;
  }
  position = -1;
  return false;
}

void PatchLibrarian::loadFromChunk(ByteChunk* chunk, int size, PatchFile* bank, int) {
  // Never trust the size argument beyond the bytes that are really there.
  const int length = chunk ? (size < chunk->Size() ? size : chunk->Size()) : 0;
  readBank(chunk ? chunk->GetBytes() : nullptr, length < 0 ? 0 : static_cast<size_t>(length), bank,
           bankDumpFromHardware.load());
}

void PatchLibrarian::loadFromBytes(const uint8_t* data, size_t length, PatchFile* bank) {
  readBank(data, length, bank, false);
}

void PatchLibrarian::readBank(const uint8_t* data, size_t length, PatchFile* bank, bool fromHardware) {
  chunkUnrecognized = true;
  if (data && bank && length >= static_cast<size_t>(kSmallestReadable)) {
    const size_t before = bank->patches.size();
    BankReader reader(*this, bank, fromHardware);
    if (isMidiFile(data, length)) {
      const std::vector<uint8_t> stream = sysExStreamOfMidiFile(data, length);
      reader.read(stream.data(), stream.size());
    } else {
      reader.read(data, length);
    }
    if (reader.programsFound() > 0) {
      chunkUnrecognized = false;
      fillUncompletedBankFiles(bank);
    } else {
      // Slots kept for damaged dumps are no program data: a file of nothing else is not a bank.
      bank->patches.resize(before);
    }
  }
  if (fromHardware) {
    bankDumpFromHardware = false;
    targetSlot = 0;
    if (hardwareBankFinished) hardwareBankFinished();
  }
}
