#include "src/PatchManager.h"

#include <cstring>

#include "KIT/IEffect/IEffectStructs.h"
#include "src/StateChunk.h"
#include "src/Vexmir.h"

Patch::Patch() : stateBytes(kPatchStateGranularity) {
  names.reserve(kPatchStateNameCount);
  for (int i = 0; i < kPatchStateNameCount; ++i) names.push_back("- INIT -");
}

void PatchManager::init() {
  if (!plugin) return;
  ByteChunk chunk;
  plugin->SerializeState2(&chunk, false);
  PatchBlock snapshot = block();
  snapshot.stateBytes.assign(chunk.GetBytes(), chunk.GetBytes() + chunk.Size());
  setState(snapshot);
}

std::vector<uint8_t> PatchManager::stateBytes() const {
  const uint8_t* b = static_cast<const uint8_t*>(patch.stateBytes.Get());
  return std::vector<uint8_t>(b, b + patch.stateBytes.GetSize());
}

void PatchManager::saveAllToChunk(ByteChunk* chunk) const {
  if (chunk) writePatchBlock(chunk, block());
}

int PatchManager::loadAllFromChunk(ByteChunk* chunk, int pos) {
  if (!chunk) return -1;
  PatchBlock read;
  pos = readPatchBlock(*chunk, pos, &read);
  if (pos < 0) return -1;
  setState(read);
  return pos;
}

PatchBlock PatchManager::block() const {
  PatchBlock out;
  out.stateBytes = stateBytes();
  for (size_t k = 0; k < out.names.size() && k < patch.names.size(); ++k) out.names[k] = patch.names[k];
  return out;
}

void PatchManager::setState(const PatchBlock& block) {
  const std::vector<uint8_t>& bytes = block.stateBytes;
  patch.stateBytes.Resize(static_cast<int>(bytes.size()), true);
  if (!bytes.empty() && patch.stateBytes.GetSize() == static_cast<int>(bytes.size()))
    std::memcpy(patch.stateBytes.Get(), bytes.data(), bytes.size());
  else if (patch.stateBytes.GetSize() != static_cast<int>(bytes.size()))
    patch.stateBytes.Resize(0, true);  // out of memory: an empty snapshot rather than a torn one
  for (size_t k = 0; k < block.names.size() && k < patch.names.size(); ++k) patch.names[k] = block.names[k];
}

// The names are written by the transfer jobs and the MIDI input and read by the host's state calls: under the
// plug-in mutex, which those hold.
void PatchManager::setProgramName(const std::string& name) {
  KIT_MutexLock lock(plugin ? &plugin->GetMutex() : nullptr);
  if (patch.names.empty()) patch.names.resize(1);
  patch.names[0] = name;
}
