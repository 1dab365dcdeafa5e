#include "src/StateChunk.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "KIT/kitstring.h"
#include "src/PatchLibrarianFiles.h"
#include "src/VexmirParams.h"

bool projectKeepsParam(int idx) {
  switch (idx) {
    case kRefreshFolders:
    case kPatchRename:
    case kMIDILed:
    case kMIDILedT2:
      return false;
    default:
      return idx >= 0 && idx < kStateParamCount &&
             !(idx >= kLibUpperNextBank && idx <= kReserved430 && idx != kAdjustDAWOffset);
  }
}

std::string untilZero(const std::string& s) {
  return s.substr(0, std::min(s.find('\0'), s.size()));
}

std::string keptProgramName(const std::string& name) {
  std::string text = KIT_UTF8Head(untilZero(name), kStateShortNameLength);
  text.erase(std::min(text.find_last_not_of(' ') + 1, text.size()));
  return text;
}

bool namesPort(const std::string& name) {
  return !name.empty() && name != "OFF" && name != "Set Name";
}

namespace {

void putBigEndian(ByteChunk* chunk, uint32_t v) {
  const uint8_t b[4] = {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
                        static_cast<uint8_t>(v)};
  chunk->PutBytes(b, 4);
}

int getBigEndian(const ByteChunk& chunk, int pos, uint32_t* v) {
  uint8_t b[4];
  pos = chunk.GetBytes(b, 4, pos);
  if (pos >= 0) *v = (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
  return pos;
}

int getFiniteDouble(const ByteChunk& chunk, int pos, double* v) {
  double d = 0.0;
  pos = chunk.Get(&d, pos);
  if (pos < 0 || !std::isfinite(d)) return -1;
  *v = d;
  return pos;
}

// Bytes left in the chunk from pos on (0 for a position outside it).
int remaining(const ByteChunk& chunk, int pos) {
  return pos < 0 || pos > chunk.Size() ? 0 : chunk.Size() - pos;
}

// Appends `size` bytes of `bytes`, zeros where it holds fewer.
void putSized(ByteChunk* chunk, std::vector<uint8_t> bytes, size_t size) {
  bytes.resize(size, 0);
  chunk->PutBytes(bytes.data(), static_cast<int>(size));
}

// A native 32-bit length and that many bytes.
void putCounted(ByteChunk* chunk, const uint8_t* bytes, size_t size) {
  const uint32_t length = static_cast<uint32_t>(size);
  chunk->Put(&length);
  chunk->PutBytes(bytes, static_cast<int>(size));
}

int getCounted(const ByteChunk& chunk, int pos, std::vector<uint8_t>* out) {
  int32_t length = 0;
  pos = chunk.Get(&length, pos);
  if (pos < 0 || length < 0 || length > remaining(chunk, pos)) return -1;
  out->resize(static_cast<size_t>(length));
  return length == 0 ? pos : chunk.GetBytes(out->data(), length, pos);
}

}  // namespace

void putStringToChunk(ByteChunk* chunk, const std::string& text) {
  const size_t zero = text.find('\0');
  const uint32_t length = static_cast<uint32_t>(zero == std::string::npos ? text.size() : zero);
  chunk->Put(&length);
  chunk->PutBytes(text.data(), static_cast<int>(length));
}

void writePatchBlock(ByteChunk* chunk, const PatchBlock& block) {
  // The block is assembled apart and appended whole, as it is the patch manager's own part.
  ByteChunk own;
  putBigEndian(&own, 1);
  putBigEndian(&own, 1);
  putBigEndian(&own, static_cast<uint32_t>(block.stateBytes.size()));
  own.PutBytes(block.stateBytes.data(), static_cast<int>(block.stateBytes.size()));
  for (const std::string& name : block.names) putStringToChunk(&own, name);
  chunk->PutBytes(own.GetBytes(), own.Size());
}

void writeStateBody(ByteChunk* chunk, const PluginState& state, bool full) {
  putBigEndian(chunk, full ? kStateVersionFull : 1);
  chunk->Put(&state.quickTab);
  if (full) {
    writePatchBlock(chunk, state.patch);
    chunk->Put(&state.deviceInNormalized);
    chunk->Put(&state.deviceOutNormalized);
    chunk->Put(&state.bankNormalized);
    chunk->Put(&state.programNormalized);
  }
  for (int i = 0; i < kStateParamCount; ++i) {
    const double v = static_cast<size_t>(i) < state.values.size() ? state.values[static_cast<size_t>(i)] : 0.0;
    chunk->Put(&v);
  }
  if (!full) return;
  putSized(chunk, state.receivedProgram, kStateReceivedProgramSize);
  putSized(chunk, state.receivedGlobal, kStateReceivedGlobalSize);
  putCounted(chunk, reinterpret_cast<const uint8_t*>(state.editedBankPath.data()), state.editedBankPath.size());
  putCounted(chunk, state.editedBankImage.data(), state.editedBankImage.size());
  chunk->Put(&state.currentPatch);
  chunk->Put(&state.currentBank);
  putCounted(chunk, reinterpret_cast<const uint8_t*>(state.editedBankStamp.data()), state.editedBankStamp.size());
}

int readPatchBlock(const ByteChunk& chunk, int pos, PatchBlock* out) {
  uint32_t word = 0, count = 0;
  pos = getBigEndian(chunk, pos, &word);
  if (pos >= 0) pos = getBigEndian(chunk, pos, &word);
  if (pos >= 0) pos = getBigEndian(chunk, pos, &count);
  // The count is believed only as far as the chunk holds that many bytes.
  if (pos < 0 || count > static_cast<uint32_t>(remaining(chunk, pos))) return -1;
  PatchBlock block;
  block.stateBytes.resize(count);
  pos = chunk.GetBytes(block.stateBytes.data(), static_cast<int>(count), pos);
  for (int k = 0; k < kStateNameCount && pos >= 0; ++k) {
    int32_t length = 0;
    pos = chunk.Get(&length, pos);
    if (pos < 0 || length < 0 || length > remaining(chunk, pos)) return -1;
    std::string text(static_cast<size_t>(length), '\0');
    pos = chunk.GetBytes(&text[0], length, pos);
    const size_t zero = text.find('\0');
    if (zero != std::string::npos) text.resize(zero);
    if (k < 3) {
      text = KIT_UTF8Head(text, kStateShortNameLength);
      text.resize(kStateShortNameLength, '\0');
    }
    block.names[static_cast<size_t>(k)] = std::move(text);
  }
  if (pos < 0) return -1;
  *out = std::move(block);
  return pos;
}

int readStateBody(const ByteChunk& chunk, int pos, bool full, PluginState* out) {
  uint32_t version = 0;
  // Every version is read alike up to the parameter values; a full body of version 2 on has more after them.
  pos = getBigEndian(chunk, pos, &version);
  PluginState state;
  if (pos >= 0) pos = getFiniteDouble(chunk, pos, &state.quickTab);
  if (full && pos >= 0) {
    pos = readPatchBlock(chunk, pos, &state.patch);
    if (pos >= 0) pos = getFiniteDouble(chunk, pos, &state.deviceInNormalized);
    if (pos >= 0) pos = getFiniteDouble(chunk, pos, &state.deviceOutNormalized);
    if (pos >= 0) pos = getFiniteDouble(chunk, pos, &state.bankNormalized);
    if (pos >= 0) pos = getFiniteDouble(chunk, pos, &state.programNormalized);
  }
  if (pos < 0 || remaining(chunk, pos) < kStateParamCount * 8) return -1;
  state.values.resize(kStateParamCount);
  for (int i = 0; i < kStateParamCount && pos >= 0; ++i) pos = getFiniteDouble(chunk, pos, &state.values[i]);
  if (pos >= 0 && full && version >= kStateVersionReceived) {
    if (remaining(chunk, pos) < kStateReceivedProgramSize + kStateReceivedGlobalSize) return -1;
    state.hasReceived = true;
    state.receivedProgram.resize(kStateReceivedProgramSize);
    state.receivedGlobal.resize(kStateReceivedGlobalSize);
    pos = chunk.GetBytes(state.receivedProgram.data(), kStateReceivedProgramSize, pos);
    if (pos >= 0) pos = chunk.GetBytes(state.receivedGlobal.data(), kStateReceivedGlobalSize, pos);
    std::vector<uint8_t> path;
    if (pos >= 0) pos = getCounted(chunk, pos, &path);
    if (pos >= 0) pos = getCounted(chunk, pos, &state.editedBankImage);
    state.editedBankPath.assign(path.begin(), path.end());
  }
  if (pos >= 0 && full && version >= kStateVersionSelection) {
    state.hasSelection = true;
    pos = getFiniteDouble(chunk, pos, &state.currentPatch);
    if (pos >= 0) pos = getFiniteDouble(chunk, pos, &state.currentBank);
  }
  if (pos >= 0 && full && version >= kStateVersionFull) {
    std::vector<uint8_t> stamp;
    pos = getCounted(chunk, pos, &stamp);
    state.hasEditedBankStamp = true;
    state.editedBankStamp.assign(stamp.begin(), stamp.end());
  }
  if (pos < 0) return -1;
  *out = std::move(state);
  return pos;
}

std::string projectDigest(const PluginState& state) {
  ByteChunk kept;
  for (int i = 0; i < kStateParamCount; ++i) {
    // -0 is 0, as the parameter holds it.
    const double v = projectKeepsParam(i) && static_cast<size_t>(i) < state.values.size()
                         ? state.values[static_cast<size_t>(i)] + 0.0
                         : 0.0;
    kept.Put(&v);
  }
  // The names as a body read back gives them: the short ones cut, and any name that names no port as OFF.
  for (int k = 0; k < kStateNameCount; ++k) {
    const std::string& name = state.patch.names[static_cast<size_t>(k)];
    std::string text = k == 0 ? keptProgramName(name) : untilZero(name);
    if (k < 3) text = KIT_UTF8Head(text, kStateShortNameLength);
    if (k >= 3 && !namesPort(text)) text = "OFF";
    putStringToChunk(&kept, text);
  }
  putSized(&kept, state.receivedProgram, kStateReceivedProgramSize);
  putSized(&kept, state.receivedGlobal, kStateReceivedGlobalSize);
  putCounted(&kept, reinterpret_cast<const uint8_t*>(state.editedBankPath.data()), state.editedBankPath.size());
  putCounted(&kept, state.editedBankImage.data(), state.editedBankImage.size());
  return librarianfiles::contentStamp(kept.GetBytes(), static_cast<size_t>(kept.Size()));
}
