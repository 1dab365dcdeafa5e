// The status display's text lines.
#include <string>

#include "KIT/IEffect/ControlLayer.h"
#include "KIT/IEffect/IControls.h"
#include "KIT/IEffect/IGraphics.h"
#include "src/Vexmir.h"

namespace {
IControl* findInLayer(ControlLayer* layer, int paramIdx) {
  for (int i = 0; i < layer->controls.GetSize(); ++i)
    if (layer->controls.Get(i)->ParamIdx() == paramIdx) return layer->controls.Get(i);
  for (int i = 0; i < layer->childLayers.GetSize(); ++i)
    if (IControl* c = findInLayer(layer->childLayers.Get(i), paramIdx)) return c;
  return nullptr;
}
}  // namespace

IControl* Vexmir::findFirstControl(int paramIdx) const {
  IGraphics* g = GetGUI();
  if (!g || paramIdx < 0) return nullptr;
  for (int i = 0; i < g->NControls(); ++i)
    if (g->GetControl(i)->ParamIdx() == paramIdx) return g->GetControl(i);
  for (int i = 0; i < g->NLayers(); ++i)
    if (IControl* c = findInLayer(g->GetLayer(i), paramIdx)) return c;
  return nullptr;
}

void Vexmir::cacheDisplayControls() {
  static const int params[kNumDisplayLines] = {kControlDisplayName,  kControlDisplayValue,
                                               kControlDisplayCC,    kControlDisplayTimbre,
                                               kControlDisplayBuild, kControlDisplayMIDIOutDelay};
  for (int i = 0; i < kNumDisplayLines; ++i) displayLines[i] = dynamic_cast<ITextControl*>(firstControl(params[i]));
}

void Vexmir::setDisplayLine(int line, const char* text) {
  if (line < 0 || line >= kNumDisplayLines) return;
  if (ITextControl* c = displayLines[line]) c->SetTextFromPlug(text ? text : "");
}

void Vexmir::displayStatus(const char* text) {
  setDisplayLine(kLineName, text);
}

void Vexmir::displayText(const std::string& name, const std::string& value, const std::string& cc) {
  setDisplayLine(kLineName, name.c_str());
  setDisplayLine(kLineValue, value.c_str());
  setDisplayLine(kLineCC, cc.c_str());
}

void Vexmir::displayValue(const std::string& text) {
  setDisplayLine(kLineValue, text.c_str());
}

void Vexmir::displayCC(const std::string& text) {
  setDisplayLine(kLineCC, text.c_str());
}

void Vexmir::displayTimbre(const std::string& text) {
  setDisplayLine(kLineTimbre, text.c_str());
}

void Vexmir::displayBuild(const std::string& text) {
  setDisplayLine(kLineBuild, text.c_str());
}

void Vexmir::displayMIDIOutDelay(const std::string& text) {
  setDisplayLine(kLineMIDIOutDelay, text.c_str());
}

std::string Vexmir::getDisplayLine(int line) const {
  if (line < 0 || line >= kNumDisplayLines || !displayLines[line]) return std::string();
  return displayLines[line]->GetTextForPlug();
}
