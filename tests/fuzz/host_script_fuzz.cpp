// Feeds arbitrary text to the test host's script reader. Parsing runs no step, so no plug-in is needed.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/vexmir-host/script.h"

// The host's entry answers this from its signal handler; parsing never runs a step that asks.
bool vexhost::interrupted() {
  return false;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<vexhost::ScriptStep> steps;
  std::string error;
  const bool ok = vexhost::parseScript(std::string(reinterpret_cast<const char*>(data), size), "fuzz", &steps, &error);
  if (!ok && error.empty()) __builtin_trap();  // every failure must say why
  return 0;
}
