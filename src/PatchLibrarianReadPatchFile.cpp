// Reading bank images: Standard MIDI files by their events, everything else as a stream of SysEx
// bytes searched for program dumps and bulk dumps.
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
  BankReader(PatchLibrarian& librarian, PatchFile* bank) : lib_(librarian), bank_(bank) {}

  void read(const uint8_t* data, size_t size) {
    size_t pos = 0;
    while (pos < size) {
      if (data[pos] != kSysExStart || !isDumpHeader(data, size, pos)) {
        ++pos;
        continue;
      }
      pos = data[pos + 4] == kProgramDump ? takeProgramDump(data, size, pos) : takeBulkDump(data, size, pos);
    }
  }

  int programsFound() const { return found_; }

 private:
  // F0 42 3n 58 fn 00 with n any global channel and fn a program, program-bulk or all-data dump.
  // The 00 is the top-bits byte of the first seven name characters, clear for every program name.
  static bool isDumpHeader(const uint8_t* d, size_t size, size_t pos) {
    if (size - pos < kDumpHeader + 1) return false;
    const uint8_t fn = d[pos + 4];
    return d[pos + 1] == kKorg && isChannelByte(d[pos + 2]) && d[pos + 3] == kModel &&
           (fn == kProgramDump || fn == kProgramBulkDump || fn == kAllDataDump) && d[pos + 5] == 0;
  }

  // A single program dump at `pos`: kept only when it is complete (297 bytes of data bytes closed
  // by F7); an incomplete one keeps its slot with the initial program. Returns where to go on.
  size_t takeProgramDump(const uint8_t* d, size_t size, size_t pos) {
    size_t end = pos + kDumpHeader;
    while (end < size && d[end] < 0x80) ++end;
    if (end - pos == kProgramDumpSize - 1 && end < size && d[end] == kSysExEnd) {
      std::vector<uint8_t> dump(d + pos, d + pos + kProgramDumpSize);
      dump[2] = kStoredChannelByte;
      append(std::move(dump), false);
      return end + 1;
    }
    appendPadding();
    return end;
  }

  // A program-bulk or all-data dump at `pos`: programs are read relative to this dump's start. The
  // dump runs to its F7 (or the next F0, or the end of the data). A program cut off by the end, or
  // holding a byte that is not a data byte, takes its slot as the initial program; trailing missing
  // programs are left for the caller's padding, so a damaged dump never adds more than 128 slots.
  size_t takeBulkDump(const uint8_t* d, size_t size, size_t pos) {
    const size_t packedBegin = pos + kDumpHeader;
    size_t packedEnd = packedBegin;
    while (packedEnd < size && d[packedEnd] != kSysExEnd && d[packedEnd] != kSysExStart) ++packedEnd;
    const uint8_t* packed = d + packedBegin;
    const size_t packedLength = packedEnd - packedBegin;

    int lastPresent = -1;
    for (int program = 0; program < kProgramsPerBank; ++program)
      if (programEnd(program) < packedLength) lastPresent = program;
    for (int program = 0; program <= lastPresent; ++program) {
      if (programIsWhole(packed, packedLength, program))
        append(unpackProgram(packed, program), true);
      else
        appendPadding();
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

  static bool programIsWhole(const uint8_t* packed, size_t packedLength, int program) {
    const size_t first = static_cast<size_t>(program) * kProgramDataSize;
    if (programEnd(program) >= packedLength) return false;
    for (size_t p = topBitsAt(first); p <= programEnd(program); ++p)
      if (packed[p] & 0x80) return false;
    return true;
  }

  // Unpacks program `program` of the bulk stream and packs it again as a 297-byte program dump.
  static std::vector<uint8_t> unpackProgram(const uint8_t* packed, int program) {
    uint8_t bytes[kProgramDataSize];
    const size_t first = static_cast<size_t>(program) * kProgramDataSize;
    for (size_t j = 0; j < kProgramDataSize; ++j) {
      const size_t n = first + j;
      const uint8_t top = (packed[topBitsAt(n)] >> (n % 7)) & 1;
      bytes[j] = static_cast<uint8_t>((packed[lowBitsAt(n)] & 0x7F) | (top << 7));
    }
    std::vector<uint8_t> dump = {kSysExStart, kKorg, kStoredChannelByte, kModel, kProgramDump};
    dump.reserve(kProgramDumpSize);
    for (size_t group = 0; group < kProgramDataSize; group += 7) {
      const size_t count = kProgramDataSize - group < 7 ? kProgramDataSize - group : 7;
      uint8_t topBits = 0;
      for (size_t k = 0; k < count; ++k) topBits |= static_cast<uint8_t>((bytes[group + k] >> 7) << k);
      dump.push_back(topBits);
      for (size_t k = 0; k < count; ++k) dump.push_back(bytes[group + k] & 0x7F);
    }
    dump.push_back(kSysExEnd);
    return dump;
  }

  void append(std::vector<uint8_t> dump, bool fromBulk) {
    LibrarianPatch patch;
    if (!lib_.bankDumpFromHardware) {
      patch.name = programNameFromDump(dump.data(), static_cast<int>(dump.size()));
      // A bulk dump marks an unnamed program with twelve blanks; the librarian names it, in the dump too.
      if (fromBulk && patch.name == "            ") {
        patch.name = "unnamed prog";
        std::memcpy(dump.data() + 6, "unnamed", 7);
        std::memcpy(dump.data() + 14, " prog", 5);
      }
    }
    patch.messages.push_back(PatchSysexMessage{std::move(dump)});
    store(std::move(patch));
    ++found_;
  }

  void appendPadding() {
    const uint8_t* initial = initialProgramDump();
    LibrarianPatch patch;
    patch.name = programNameFromDump(initial, kProgramDumpSize);
    patch.messages.push_back(PatchSysexMessage{std::vector<uint8_t>(initial, initial + kProgramDumpSize)});
    store(std::move(patch));
  }

  void store(LibrarianPatch&& patch) {
    bank_->patches.push_back(std::move(patch));
    bank_->state = 0;
    if (lib_.bankDumpFromHardware && lib_.targetSlot >= 0 && lib_.targetSlot < kProgramsPerBank) {
      const std::vector<uint8_t>& dump = bank_->patches.back().messages.front().data;
      if (lib_.hardwareProgramHandOff) lib_.hardwareProgramHandOff(dump.data(), static_cast<int>(dump.size()));
      ++lib_.targetSlot;
    }
  }

  PatchLibrarian& lib_;
  PatchFile* bank_;
  int found_ = 0;
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
  const bool fromHardware = bankDumpFromHardware;
  chunkUnrecognized = true;
  if (chunk && bank && size >= kSmallestReadable) {
    // Never trust the size argument beyond the bytes that are really there.
    const size_t length = static_cast<size_t>(size < chunk->Size() ? size : chunk->Size());
    const uint8_t* data = chunk->GetBytes();
    const size_t before = bank->patches.size();
    BankReader reader(*this, bank);
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
