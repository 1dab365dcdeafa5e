// A host's project chunk through the plug-in's VST entry, and edited as anyone may edit a project file: the open
// bank's path (a native 32-bit length and the bytes) replaced by another.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/vst2/vst2.h"

namespace vexmir::testsupport {

// The program chunk a host saves in its project.
inline std::vector<uint8_t> projectOf(AEffect* e) {
  void* data = nullptr;
  const intptr_t size = e->dispatcher(e, effGetChunk, 1, 0, &data, 0.0f);
  return size > 0 && data ? std::vector<uint8_t>(static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size)
                          : std::vector<uint8_t>();
}

// Opens a project as a host does; true when the plug-in took it.
inline bool openProject(AEffect* e, std::vector<uint8_t> project) {
  return e->dispatcher(e, effSetChunk, 1, static_cast<intptr_t>(project.size()), project.data(), 0.0f) == 1;
}

// The project with the bank path `from` replaced by `to`; empty when it holds no such path.
inline std::vector<uint8_t> withBankPath(const std::vector<uint8_t>& project, const std::string& from,
                                         const std::string& to) {
  auto field = [](const std::string& path) {
    const uint32_t length = static_cast<uint32_t>(path.size());
    std::vector<uint8_t> bytes(sizeof length);
    std::memcpy(bytes.data(), &length, sizeof length);
    bytes.insert(bytes.end(), path.begin(), path.end());
    return bytes;
  };
  const std::vector<uint8_t> old = field(from), replacement = field(to);
  const auto at = std::search(project.begin(), project.end(), old.begin(), old.end());
  if (at == project.end()) return {};
  std::vector<uint8_t> out(project.begin(), at);
  out.insert(out.end(), replacement.begin(), replacement.end());
  out.insert(out.end(), at + static_cast<long>(old.size()), project.end());
  return out;
}

}  // namespace vexmir::testsupport
