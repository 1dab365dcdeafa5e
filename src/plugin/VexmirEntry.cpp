// The two symbols the plug-in bundle exports. Hosts look for VSTPluginMain; older ones call main.
#include "KIT/IEffect/IEffectVST.h"
#include "src/Vexmir.h"

namespace {

IEffectVST* makeVexmir(IEffectInstanceInfo info) {
  return new Vexmir(info);
}

}  // namespace

extern "C" __attribute__((visibility("default"))) AEffect* VSTPluginMain(audioMasterCallback hostCallback) {
  return IEffectVST::PluginMain(hostCallback, makeVexmir);
}

// Exported under the name "main" without being the program's main function.
extern "C" __attribute__((visibility("default"))) AEffect* vstLegacyMain(audioMasterCallback hostCallback) __asm__(
    "main");
extern "C" AEffect* vstLegacyMain(audioMasterCallback hostCallback) {
  return VSTPluginMain(hostCallback);
}
