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
  setState(std::vector<uint8_t>(chunk.GetBytes(), chunk.GetBytes() + chunk.Size()), patch.names);
}

std::vector<uint8_t> PatchManager::stateBytes() const {
  const uint8_t* b = static_cast<const uint8_t*>(patch.stateBytes.Get());
  return std::vector<uint8_t>(b, b + patch.stateBytes.GetSize());
}

void PatchManager::saveAllToChunk(ByteChunk* chunk) const {
  if (!chunk) return;
  PatchBlock block;
  block.stateBytes = stateBytes();
  for (int k = 0; k < kStateNameCount && k < static_cast<int>(patch.names.size()); ++k) block.names[k] = patch.names[k];
  writePatchBlock(chunk, block);
}

int PatchManager::loadAllFromChunk(ByteChunk* chunk, int pos) {
  if (!chunk) return -1;
  PatchBlock block;
  pos = readPatchBlock(*chunk, pos, &block);
  if (pos < 0) return -1;
  setState(block.stateBytes, std::vector<std::string>(block.names.begin(), block.names.end()));
  return pos;
}

void PatchManager::setState(const std::vector<uint8_t>& bytes, const std::vector<std::string>& names) {
  patch.stateBytes.Resize(static_cast<int>(bytes.size()), true);
  if (!bytes.empty() && patch.stateBytes.GetSize() == static_cast<int>(bytes.size()))
    std::memcpy(patch.stateBytes.Get(), bytes.data(), bytes.size());
  else if (patch.stateBytes.GetSize() != static_cast<int>(bytes.size()))
    patch.stateBytes.Resize(0, true);  // out of memory: an empty snapshot rather than a torn one
  for (size_t k = 0; k < names.size() && k < patch.names.size(); ++k) patch.names[k] = names[k];
}

// The names are written by the transfer jobs and the MIDI input and read by the host's state calls: under the
// plug-in mutex, which those hold.
void PatchManager::setProgramName(const std::string& name) {
  KIT_MutexLock lock(plugin ? &plugin->GetMutex() : nullptr);
  if (patch.names.empty()) patch.names.resize(1);
  patch.names[0] = name;
}
