// Names of the VST 2 dispatcher opcodes and host requests, for the transcript and for scripts.
#pragma once

#include <cstdint>
#include <string>

namespace vexhost {

// "effGetEffectName" for 45; "" for a number without a name.
const char* dispatcherName(int32_t opcode);
const char* requestName(int32_t opcode);
// The number of a dispatcher opcode given by name ("effGetChunk") or number ("23"); false when neither.
bool dispatcherFromText(const std::string& text, int32_t* opcode);
// "effGetEffectName(45)", or "opcode(99)" without a name.
std::string dispatcherLabel(int32_t opcode);
std::string requestLabel(int32_t opcode);
// The effect flags as names joined by "|" ("HasEditor|CanReplacing"), unknown bits as hex.
std::string flagNames(int32_t flags);

}  // namespace vexhost
