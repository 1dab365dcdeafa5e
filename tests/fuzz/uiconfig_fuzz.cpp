// The user-interface builder fed arbitrary and mutated descriptions: the input's first part is read as the SysEx
// tables, the rest (after the first byte 0x01) as the user-interface description, and the whole input once more as
// an encrypted resource. Nothing may crash, hang or touch memory it does not own, whatever the text.
// Seeds: resources/uiconfig.xml and resources/sysex.xml joined with 0x01.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "KIT/IEffect/IGraphicsMac.h"
#include "KIT/IEffect/IParam.h"
#include "platform/vst2/vst2.h"
#include "src/UIConfigManager.h"
#include "src/Vexmir.h"
#include "src/VexmirParams.h"
#include "tests/fuzz/fuzz_data_root.h"
#include "tests/support/QuietHost.h"

namespace {

using vexmir::testsupport::quietHost;

Vexmir* plugin() {
  static Vexmir* plug = fuzztest::newEditor<Vexmir>(IEffectInstanceInfo{quietHost});
  return plug;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Vexmir* plug = plugin();
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t split = input.find('\x01');
  const std::string sysex = split == std::string::npos ? std::string() : input.substr(0, split);
  const std::string ui = split == std::string::npos ? input : input.substr(split + 1);

  for (int i = 0; i < kNumParams; ++i) plug->GetParam(i)->SetControlAction(nullptr);
  std::unique_ptr<IGraphicsMac> surface(new IGraphicsMac(plug, 200, 100, 0));
  {
    UIConfigManager manager;
    manager.setContext(surface.get(), plug, size % 2, size % 3 == 0 ? 0.75 : 1.25);
    manager.readSysexText(sysex);
    manager.readUIConfigText(ui);
    manager.readUIConfigText(UIConfigManager::decryptResource(data, size, nullptr));
  }
  return 0;
}
