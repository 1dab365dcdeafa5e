// The randomizer of the hub: the editor's parameters as the randomizer's target.
#include "KIT/IEffect/ControlLayer.h"
#include "KIT/IEffect/IParam.h"
#include "src/MIDIMessageManager.h"
#include "src/UIConfigManager.h"
#include "src/Vexmir.h"

namespace {

class EditorTarget : public RandomizerTarget {
 public:
  explicit EditorTarget(Vexmir* plug) : plug(plug) {}
  double value(int idx) override { return plug->paramValue(idx); }
  void bounds(int idx, double* lo, double* hi) override {
    IParam* p = plug->GetParam(idx);
    *lo = p ? p->GetMin() : 0.0;
    *hi = p ? p->GetMax() : 0.0;
  }
  // The value moves the controls and sends nothing: the whole program leaves afterwards as one dump.
  void setValue(int idx, double v) override { plug->setParameterFromPlug(idx, v); }
  void greyTimbreLayer(bool grey) override {
    UIConfigManager* config = plug->getUIConfig();
    if (ControlLayer* layer = config ? config->getLayer("timbreControlLayer") : nullptr) layer->GrayOut(grey);
  }

 private:
  Vexmir* plug;
};

}  // namespace

int MIDIMessageManager::randomGenerator() {
  programRandomizer->randomGenerator();
  return 0;
}

int MIDIMessageManager::randomizer(int paramIdx, int entry) {
  if (!plug) return 0;
  EditorTarget target(plug);
  return programRandomizer->randomizer(target, paramIdx, entry);
}

void MIDIMessageManager::randomizePatchSettings(int) {
  if (!plug) return;
  EditorTarget target(plug);
  programRandomizer->randomizePatchSettings(target);
}
