// The body of the host state chunk (after the binding's header): a version, the displayed timbre,
// the patch manager's block with the port names, the port, bank and program list values, and the
// plain values of parameters 0 to 472. Integers and doubles in the machine's own order, except the
// words marked big-endian.
//
// A full body of version 2 (what the editor writes) carries after the parameter values what no parameter
// holds: the data bytes of the program and global dumps last received (254 and 200 bytes), then the open bank as
// two native 32-bit lengths, each followed by its bytes: the bank file's path and the bank's raw image. The image is
// there only while the open bank holds unsaved edits; the path is there always, but bodies written before it was
// (and any without an open bank) hold it only with an image, else both lengths are 0. A path with no image names
// the bank to open; readers that knew only the edits pass over it. Version 3 adds the librarian's selection: the
// plain values of kCurrentPatch and kCurrentBank (the open bank's highlighted slot and its position, which stands in
// for the bank where the path is missing or no longer listed). Version 4 adds, as a native 32-bit length and its
// bytes, the stamp of the bank file that the unsaved edits were made on (empty without edits): a recall can tell
// whether the file was written since. Bodies of version 1 (those saved before, and the snapshot body) end with the
// parameter values.
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
// Whether the project keeps parameter idx, so that its change is one to tell the host of: the sound and the settings
// of 0..472. The body carries the rest of 0..472 too, but they only act (the bank arrows, Refresh Folders, the rename
// field), show where the editor stands (the bank lists) or show activity (the MIDI lights, written as off), and the flag
// of unsaved bank edits belongs to the bank open here. The ports are kept by name, the open bank by its path.
bool projectKeepsParam(int idx);
// Whether a project's port name names a port at all ("OFF", "Set Name" and "" do not).
bool namesPort(const std::string& name);
// A name as the chunk holds it (its short names zero-padded to 12 characters): the text ends at the first zero.
std::string untilZero(const std::string& s);
// The program's name as the project's digest keeps it: cut to its 12 characters, without the spaces the synthesizer
// pads it with, so that a name typed as shown is the name a program dump brought.
std::string keptProgramName(const std::string& name);
constexpr int kStateNameCount = 5;
// Names 0 to 2 (program name and two further names) are kept at exactly this length.
constexpr int kStateShortNameLength = 12;
// The version of a full body; a snapshot body is version 1. Version 2 was the first to carry the received bytes,
// version 3 the selection.
constexpr uint32_t kStateVersionFull = 4;
constexpr uint32_t kStateVersionReceived = 2;
constexpr uint32_t kStateVersionSelection = 3;
constexpr int kStateReceivedProgramSize = 254;
constexpr int kStateReceivedGlobalSize = 200;

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
  // Only in a full body of version 2 on (hasReceived tells whether the body had them): the data bytes last
  // received, the open bank's path (empty when none, and in bodies that kept it only with edits) and its unsaved
  // edits (empty when none).
  bool hasReceived = false;
  std::vector<uint8_t> receivedProgram;
  std::vector<uint8_t> receivedGlobal;
  std::string editedBankPath;
  std::vector<uint8_t> editedBankImage;
  // Only in a full body of version 3 on.
  bool hasSelection = false;
  double currentPatch = -1.0;
  double currentBank = 0.0;
  // Only in a full body of version 4 on: the stamp of the file the edits were made on (empty: unknown).
  bool hasEditedBankStamp = false;
  std::string editedBankStamp;
};

// What the project of a full body keeps, as a short text that differs wherever that differs: the kept parameters, the
// names (ports by name), the received bytes and the open bank's path and unsaved edits. Where the editor stands (the
// timbre shown, the highlighted slot, the list positions) is no part of it.
std::string projectDigest(const PluginState& state);
// Appends a body: a full one of version 4, a snapshot of version 1. values must hold kStateParamCount entries
// (missing ones are written as 0), and the received bytes their sizes (missing ones are written as 0).
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
