// The patch state that travels in the host's state chunk: a snapshot of the parameter state and
// five names (program name, two further names, MIDI input and output device names).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "KIT/heapbuf.h"
#include "src/StateChunk.h"

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
  // The block as the state chunk carries it, and the block taken from a chunk (names 0 to 2 kept at 12
  // characters by the reader). The chunk's writer and reader and the two operations above all go through these.
  PatchBlock block() const;
  void setState(const PatchBlock& block);
  // The current program's name (the first name slot).
  void setProgramName(const std::string& name);
  std::vector<uint8_t> stateBytes() const;

  Patch patch;
  // The program the synthesizer plays as far as the editor knows (the last program change received or sent);
  // the MIDI input, the host and the jobs all set it.
  std::atomic<int32_t> recalledBank{0};
  std::atomic<int32_t> recalledProgram{0};
  Vexmir* plugin;
};
