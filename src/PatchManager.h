// The patch state that travels in the host's state chunk: a snapshot of the parameter state and
// five names (program name, two further names, MIDI input and output device names).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "KIT/heapbuf.h"

class ByteChunk;
class Vexmir;

// Growth step of the state bytes.
constexpr int kPatchStateGranularity = 4096;
// Number of names written after the state bytes.
constexpr int kPatchStateNameCount = 5;

struct Patch {
  // Parameter-state bytes; empty until the plug-in takes its snapshot.
  KIT_HeapBuf stateBytes;
  // The fourth and fifth name the MIDI input and output devices.
  std::vector<std::string> names;

  Patch();
};

class PatchManager {
 public:
  explicit PatchManager(Vexmir* plugin = nullptr) : plugin(plugin) {}

  // Takes the snapshot of the plug-in state that every full state chunk carries (the body without its
  // full part). Called once, at the end of the plug-in's start-up.
  void init();
  // Appends the block of the state chunk: BE 1, BE 1, BE count, the state bytes, the five names.
  void saveAllToChunk(ByteChunk* chunk) const;
  // Reads a block at pos and takes its bytes and names; the position after it, or -1 (nothing taken)
  // when it is cut short or damaged.
  int loadAllFromChunk(ByteChunk* chunk, int pos);
  // Replaces the state bytes and the five names (names 0 to 2 kept at 12 characters by the reader).
  void setState(const std::vector<uint8_t>& bytes, const std::vector<std::string>& names);
  // The current program's name (the first name slot).
  void setProgramName(const std::string& name);
  std::vector<uint8_t> stateBytes() const;

  Patch patch;
  int32_t recalledBank = 0;
  int32_t recalledProgram = 0;
  Vexmir* plugin;
};
