// The status display's text lines.
#include <string>

#include "KIT/IEffect/ControlLayer.h"
#include "KIT/IEffect/IControls.h"
#include "KIT/IEffect/IGraphics.h"
#include "src/ControlDisplay.h"
#include "src/LibrarianEditor.h"
#include "src/UIConfigManager.h"
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

void Vexmir::displaySequence1Values(const std::vector<std::string>& texts) {
  displaySequenceValues(0, texts);
}

void Vexmir::displaySequence2Values(const std::vector<std::string>& texts) {
  displaySequenceValues(1, texts);
}

void Vexmir::displaySequence3Values(const std::vector<std::string>& texts) {
  displaySequenceValues(2, texts);
}

const char* Vexmir::getPanelString(int timbre, const std::string& text) {
  panelText = "Timbre " + std::to_string(timbre + 1) + " " + text;
  return panelText.c_str();
}

std::string Vexmir::getValueString(double value) {
  return ControlDisplay::getValueString(value);
}

int Vexmir::getProgramValueByParts(int a, int b, int c) const {
  if (!uiConfig) return 0;
  const auto& table = uiConfig->programValues;
  auto first = table.find(a);
  if (first == table.end()) return 0;
  auto second = first->second.find(b);
  if (second == first->second.end()) return 0;
  auto third = second->second.find(c);
  return third == second->second.end() ? 0 : third->second;
}

void Vexmir::setProgramValueByParts(int a, int b, int c, int value) {
  if (uiConfig) uiConfig->programValues[a][b][c] = value;
}

void Vexmir::refreshPopUpMenus() {
  if (librarianEditor) librarianEditor->refreshPopUpMenus();
}

void Vexmir::updatePatchLibrarianView(int which) {
  if (librarianEditor) librarianEditor->updatePatchLibrarianView(which);
}

void Vexmir::showFileEditMenu(int x, int y) {
  if (librarianEditor) librarianEditor->showFileEditMenu(x, y);
}

void Vexmir::showFileCopyMenu(int x, int y) {
  if (librarianEditor) librarianEditor->showFileCopyMenu(x, y);
}
