// One program of the librarian: its name and the SysEx messages that make it up.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "src/ProgramDump.h"

class ByteChunk;

// Every bank the librarian lists or writes holds this many programs.
constexpr int kProgramsPerBank = 128;

// One SysEx message of a program, F0 to F7 inclusive.
struct PatchSysexMessage {
  std::vector<uint8_t> data;

  bool operator==(const PatchSysexMessage& other) const { return data == other.data; }
};

// A value type: copies share nothing.
class LibrarianPatch {
 public:
  std::string name;
  std::vector<PatchSysexMessage> messages;

  // Appends this program's messages to `chunk`. Raw form: each message whole. Standard MIDI form:
  // each message as one SysEx event (delta time, F0, variable-length count, the bytes after the F0);
  // the first event of the bank (index 0, first message) has delta 0, every later one 500 ticks.
  // Messages that are not framed F0 .. F7 are left out. The last three arguments have no effect.
  void save(ByteChunk* chunk, bool midi, int index, bool, bool, int) const;

  // True when the program holds at least one message framed F0 .. F7 that a bank file can carry.
  bool hasWritableMessage() const;
};

// True for a message that starts with F0, ends with F7 and holds at least those two bytes.
bool isFramedSysEx(const std::vector<uint8_t>& message);

// The name the slot lists show for a program dump: the non-zero bytes at positions 6 to 18, in order.
// Shorter messages give the non-zero bytes that exist in that range.
std::string programNameFromDump(const uint8_t* dump, int size);
