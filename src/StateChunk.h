// The body of the host state chunk (after the binding's header): a version, the displayed timbre,
// the patch manager's block with the port names, the port, bank and program list values, and the
// plain values of parameters 0 to 472. Integers and doubles in the machine's own order, except the
// words marked big-endian.
//
// Reading is all or nothing: a body is first read whole into a PluginState, and only a body that is
// complete and sound is handed on. A cut or damaged body leaves the target untouched.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "KIT/IEffect/IEffectStructs.h"

// Parameters 0..472 travel as plain values; 473 and above (window, librarian, display and tab
// settings, the two port choices) never do.
constexpr int kStateParamCount = 473;
constexpr int kStateNameCount = 5;
// Names 0 to 2 (program name and two further names) are kept at exactly this length.
constexpr int kStateShortNameLength = 12;

// The patch manager's block: its state bytes (the snapshot of a body written without the full part)
// and five names: program name, two further names, MIDI input and output device names.
struct PatchBlock {
  std::vector<uint8_t> stateBytes;
  std::array<std::string, kStateNameCount> names;
};

struct PluginState {
  double quickTab = 0.0;
  // Only in a full body:
  PatchBlock patch;
  double deviceInNormalized = 0.0;
  double deviceOutNormalized = 0.0;
  double bankNormalized = 0.0;
  double programNormalized = 0.0;
  // Parameters 0..472.
  std::vector<double> values;
};

// Appends a body. values must hold kStateParamCount entries (missing ones are written as 0).
void writeStateBody(ByteChunk* chunk, const PluginState& state, bool full);
// Appends the patch block: BE 1, BE 1, BE byte count, the bytes, five length-prefixed names (each cut
// at its first zero byte).
void writePatchBlock(ByteChunk* chunk, const PatchBlock& block);
// Appends one name: a native 32-bit length and the bytes up to the text's first zero byte.
void putStringToChunk(ByteChunk* chunk, const std::string& text);

// Reads a body at pos. Returns the position after the last parameter value, or -1 when the body is
// cut short or damaged (a byte count or name length that is negative or runs past the chunk, a value
// that is not a finite number); *out is written only on success. Names 0 to 2 come back exactly 12
// characters long, cut or padded with zero characters.
int readStateBody(const ByteChunk& chunk, int pos, bool full, PluginState* out);
// Reads a patch block at pos on the same terms; the position after the fifth name, or -1.
int readPatchBlock(const ByteChunk& chunk, int pos, PatchBlock* out);
