// The patch state that travels in the host's state chunk: a snapshot of the parameter state and
// five names (program name, two further names, MIDI input and output device names).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "KIT/heapbuf.h"

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

  Patch patch;
  int32_t recalledBank = 0;
  int32_t recalledProgram = 0;
  Vexmir* plugin;
};
