// vexmir-dump [BUNDLE]: every parameter as the editor built from the bundle's resources sees it. A control marked
// "shown" takes the mouse when the editor opens.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "KIT/IEffect/ControlLayer.h"
#include "KIT/IEffect/IControls.h"
#include "KIT/IEffect/IGraphics.h"
#include "KIT/IEffect/IParam.h"
#include "platform/cocoa/cfbundle.h"
#include "platform/vst2/vst2.h"
#include "src/ICustomRadioButtonsControl.h"
#include "src/PictureControl.h"
#include "src/UIConfigManager.h"
#include "src/Vexmir.h"
#include "src/VexmirParams.h"

#ifndef VEXMIR_DEFAULT_BUNDLE
#define VEXMIR_DEFAULT_BUNDLE "Vexmir Editor.vst"
#endif

namespace {

intptr_t quietHost(AEffect*, int32_t, int32_t, intptr_t, void*, float) {
  return 0;
}

const char* kindOf(IControl* c, IEffectBase* plug) {
  if (dynamic_cast<ICustomRadioButtonsControl*>(c)) return "radio";
  if (dynamic_cast<IKnobControl*>(c)) return "knob";
  if (dynamic_cast<IFaderControl*>(c)) return "slider";
  if (dynamic_cast<PictureControl*>(c)) return "picture";
  if (dynamic_cast<IContactControl*>(c)) return "button";
  if (dynamic_cast<ISwitchControl*>(c)) return "switch";
  if (dynamic_cast<ICaptionControl*>(c)) {
    const IParam* p = plug->GetParam(c->ParamIdx());
    if (p && p->Type() == IParam::kTypeText) return "name";
    return c->GetPromptDisabled() ? "label" : "menu";
  }
  if (dynamic_cast<ITextControl*>(c)) return "display";
  return "control";
}

std::string number(double v) {
  char b[32];
  std::snprintf(b, sizeof b, "%g", v);
  return b;
}

std::string bytes(const std::vector<int>& m) {
  std::string s;
  for (int b : m) {
    char h[4];
    std::snprintf(h, sizeof h, "%02X", b & 0xFF);
    s += (s.empty() ? "" : " ") + std::string(h);
  }
  return s;
}

std::string binding(const ControlAction& a) {
  switch (a.type) {
    case ControlAction::kCCOnTimbreChannel:
      return "CC " + std::to_string(a.ccNumber) + " keys [" + std::to_string(a.channel) + "][" +
             std::to_string(a.ccNumber) + "][" + std::to_string(a.subKey) + "]";
    case ControlAction::kCCOffOn:
      return "CC " + std::to_string(a.ccNumber) + " off " + std::to_string(a.offValue) + " on " +
             std::to_string(a.onValue) + " keys [" + std::to_string(a.channel) + "][" + std::to_string(a.ccNumber) +
             "][" + std::to_string(a.subKey) + "]";
    case ControlAction::kNRPN:
      return "NRPN msb " + std::to_string(a.nrpnMsb) + " lsb " + std::to_string(a.nrpnLsb) + " offset " +
             std::to_string(a.valueOffset) + " data CC " + std::to_string(a.ccNumber) + " keys [" +
             std::to_string(a.channel) + "][" + std::to_string(a.nrpnMsb) + "][" + std::to_string(a.valueOffset) +
             "][" + std::to_string(a.nrpnLsb) + "][" + std::to_string(a.subKey) + "]";
    case ControlAction::kSysExPerValue:
    case ControlAction::kSysExMessages: {
      if (a.sysex.messages.empty()) return "SysEx (no messages)";
      const std::vector<int>& m = a.sysex.messages[0];
      std::string keys;
      if (m.size() >= 6)
        keys = " keys [" + std::to_string(m[2] & 0xFF) + "][" + std::to_string(m[3] & 0xFF) + "][" +
               std::to_string(m[4] & 0xFF) + "][" + std::to_string(m[5] & 0xFF) + "][0]";
      return "SysEx " + bytes(m) + " (" + std::to_string(a.sysex.messages.size()) + " messages, last " +
             bytes(a.sysex.messages.back()) + ")" + keys;
    }
    default:
      return "none";
  }
}

// Whether each control can take the mouse when the editor opens: it and every layer above it shown, not greyed.
void collectShown(const ControlLayer* layer, bool shown, std::map<const IControl*, bool>& out) {
  shown = shown && layer->isVisible();
  for (int i = 0; i < layer->controls.GetSize(); ++i) {
    const IControl* c = layer->controls.Get(i);
    out[c] = shown && !c->IsHidden() && !c->IsGrayed();
  }
  for (int i = 0; i < layer->childLayers.GetSize(); ++i) collectShown(layer->childLayers.Get(i), shown, out);
}

void collectControls(const ControlLayer* layer, std::map<int, std::vector<IControl*>>& out) {
  for (int i = 0; i < layer->controls.GetSize(); ++i)
    out[layer->controls.Get(i)->ParamIdx()].push_back(layer->controls.Get(i));
  for (int i = 0; i < layer->childLayers.GetSize(); ++i) collectControls(layer->childLayers.Get(i), out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 2) {
    std::fprintf(stderr, "usage: vexmir-dump [BUNDLE]\n");
    return 2;
  }
  const std::string bundle = argc == 2 ? argv[1] : VEXMIR_DEFAULT_BUNDLE;
  if (!std::filesystem::exists(bundle + "/Contents/Resources")) {
    std::fprintf(stderr, "vexmir-dump: no bundle at %s\n", bundle.c_str());
    return 3;
  }
  char tmpl[] = "/tmp/vexmir-dump-XXXXXX";
  const char* root = mkdtemp(tmpl);
  if (root) setenv("VEXMIR_ROOT", root, 1);
  cocoa::Bundle::registerIdentifier("com.Pellacor.vst.Vexmir Editor", bundle);

  auto* plug = new Vexmir(IEffectInstanceInfo{quietHost});
  UIConfigManager* ui = plug->getUIConfig();
  std::map<const IControl*, bool> shown;
  IGraphics* g = plug->GetGUI();
  for (int i = 0; i < g->NControls(); ++i)
    shown[g->GetControl(i)] = !g->GetControl(i)->IsHidden() && !g->GetControl(i)->IsGrayed();
  for (int i = 0; i < g->NLayers(); ++i) collectShown(g->GetLayer(i), true, shown);
  // Every control by parameter, in the order the editor holds them (bound controls also through their action).
  std::map<int, std::vector<IControl*>> byParam;
  for (int i = 0; i < g->NControls(); ++i) byParam[g->GetControl(i)->ParamIdx()].push_back(g->GetControl(i));
  for (int i = 0; i < g->NLayers(); ++i) collectControls(g->GetLayer(i), byParam);
  for (int i = 0; i < kNumParams; ++i) {
    IParam* p = plug->GetParam(i);
    const ControlAction* a = p->GetControlAction();
    std::vector<IControl*> controls = a ? a->controls : std::vector<IControl*>();
    for (IControl* c : byParam[i])
      if (std::find(controls.begin(), controls.end(), c) == controls.end()) controls.push_back(c);
    std::printf("%d %s \"%s\"", i, paramName(i), p->GetNameForHost());
    if (controls.empty()) {
      std::printf(" no control\n");
      continue;
    }
    // The port choosers list the machine's ports: their range is not the resources'.
    const bool ports = i == kDeviceInSelection || i == kDeviceOutSelection;
    std::printf(" range %s step %s group \"%s\"\n",
                ports ? "(ports)" : (number(p->GetMin()) + ".." + number(p->GetMax())).c_str(),
                number(p->GetStep()).c_str(), p->GetParamGroupForHost());
    for (IControl* c : controls) {
      const IRECT* r = c->GetRECT();
      std::printf("  %s %d,%d %dx%d%s\n", kindOf(c, plug), r->L, r->T, r->W(), r->H(), shown[c] ? " shown" : "");
    }
    if (!ports && p->GetNDisplayTexts() > 0 && p->Type() != IParam::kTypeText && p->GetNDisplayTexts() <= 300) {
      std::string texts;
      for (int k = 0; k < p->GetNDisplayTexts(); ++k) texts += (k ? "|" : "") + std::string(p->GetDisplayTextAtIdx(k));
      std::printf("  texts %s\n", texts.c_str());
    }
    if (!a) {
      std::printf("  binding unbound (no binding record)\n");
      continue;
    }
    std::printf("  binding %s timbre %d\n", binding(*a).c_str(), a->timbre);
    if (a->linkInfo.first >= 0)
      std::printf("  link %d %d %d\n", a->linkInfo.first, a->linkInfo.second, a->linkInfo.third);
  }
  // The main tab the editor opens on: the shown child of "root".
  int openTab = -1;
  if (const ControlLayer* root = ui->getLayer("root"))
    for (int i = 0; i < root->childLayers.GetSize(); ++i)
      if (root->isVisible() && root->childLayers.Get(i)->isVisible() && root->childLayers.Get(i)->getId() > 0)
        openTab = root->childLayers.Get(i)->getId();
  std::printf("open tab %d\n", openTab);
  for (const std::string& m : ui->getMessages()) std::printf("log %s\n", m.c_str());
  delete plug;
  if (root) std::filesystem::remove_all(root);
  return 0;
}
