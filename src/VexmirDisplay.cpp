// The status display's text lines.
#include <algorithm>
#include <mutex>
#include <string>

#include "KIT/IEffect/ControlLayer.h"
#include "KIT/IEffect/IControls.h"
#include "KIT/IEffect/IGraphics.h"
#include "KIT/kitstring.h"
#include "src/ControlDisplay.h"
#include "src/LibrarianEditor.h"
#include "src/TextCell.h"
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
  makeMessageLine();
}

// A message too long for the name field takes the whole display, from the timbre field to the message field, so
// that the musician reads it whole. The display's font has one width for
// every character: the fields' widths in characters decide what fits.
void Vexmir::makeMessageLine() {
  IGraphics* g = GetGUI();
  ITextControl* name = displayLines[kLineName];
  ITextControl* value = displayLines[kLineValue];
  ITextControl* first = displayLines[kLineTimbre];
  ITextControl* last = displayLines[kLineCC];
  if (!g || !name || !value || !first || !last || messageLine) return;
  const IRECT* n = name->GetRECT();
  IText text = *name->GetText();
  const double cell = textCellWidth(g, &text);
  const int inset = static_cast<int>(cell / 2);
  const IRECT whole(first->GetRECT()->L + inset, n->T, last->GetRECT()->R - inset, n->B);
  messageLine = new ITextControl(this, whole, &text, "");
  messageLine->DisablePrompt(true);
  g->AttachControl(messageLine);
  if (uiConfig) uiConfig->overlayControls.insert(messageLine);  // it lies over the display's fields on purpose
  nameLineChars = static_cast<size_t>(n->W() / cell);
  valueLineChars = static_cast<size_t>(value->GetRECT()->W() / cell);
  messageLineChars = static_cast<size_t>(whole.W() / cell);
  // Two lines of a smaller size share the display's height, one centred on each half.
  IText small = text;
  small.mSize = std::max(8, text.mSize * 3 / 4);
  int smallLine = 0;
  messageHalfChars = static_cast<size_t>(whole.W() / textCellWidth(g, &small, &smallLine));
  const int middle = (whole.T + whole.B) / 2;
  IRECT halves[2] = {IRECT(whole.L, whole.T, whole.R, middle + 1), IRECT(whole.L, middle - 1, whole.R, whole.B)};
  for (int i = 0; i < 2; ++i) {
    // A line of text is taller than its half: the control spans the whole line where the half centres it, so
    // that a redraw of the control covers every pixel of its letters.
    IRECT& half = halves[i];
    if (smallLine > half.H()) {
      half.T += (half.H() - smallLine) / 2;
      half.B = half.T + smallLine;
    }
    messageHalves[i] = new ITextControl(this, half, &small, "");
    messageHalves[i]->DisablePrompt(true);
    g->AttachControl(messageHalves[i]);
    if (uiConfig) uiConfig->overlayControls.insert(messageHalves[i]);
  }
}

void Vexmir::setDisplayLine(int line, const char* text) {
  if (line < 0 || line >= kNumDisplayLines) return;
  const std::string s = text ? text : "";
  if (line == kLineName) outcomeShown = refusalShown = false;
  if (line == kLineCC || line == kLineTimbre) {
    // A message covers the tag fields: what they are given meanwhile shows when it ends.
    std::lock_guard<std::mutex> lock(messageLock);
    if (messageShown) {
      (line == kLineCC ? messageCoveredCC : messageCoveredTimbre) = s;
      return;
    }
  } else if (line <= kLineValue && !s.empty()) {
    // A name or value written again ends a message that covered their fields.
    endMessage();
  }
  if (ITextControl* c = displayLines[line]) c->SetTextFromPlug(s.c_str());
}

void Vexmir::endMessage() {
  std::string cc, timbre;
  {
    std::lock_guard<std::mutex> lock(messageLock);
    if (!messageShown) return;
    messageShown = false;
    cc.swap(messageCoveredCC);
    timbre.swap(messageCoveredTimbre);
  }
  if (messageLine) messageLine->SetTextFromPlug("");
  for (ITextControl* half : messageHalves)
    if (half) half->SetTextFromPlug("");
  if (displayLines[kLineCC]) displayLines[kLineCC]->SetTextFromPlug(cc.c_str());
  if (displayLines[kLineTimbre]) displayLines[kLineTimbre]->SetTextFromPlug(timbre.c_str());
}

void Vexmir::displayOutcome(const std::string& text, const std::string& second) {
  displayText(text, second, std::string());
  outcomeShown = true;
}

void Vexmir::endRefusal() {
  if (refusalShown.exchange(false)) endOutcome();
}

void Vexmir::endOutcome() {
  if (!outcomeShown.exchange(false)) return;
  endMessage();
  for (int line : {kLineName, kLineValue, kLineCC})
    if (displayLines[line]) displayLines[line]->SetTextFromPlug("");
}

namespace {

// Longer than its line: it ends in "...".
std::string fitted(const std::string& text, size_t chars) {
  return KIT_UTF8Count(text) > chars && chars > 3 ? KIT_UTF8HeadChars(text, chars - 3) + "..." : text;
}

}  // namespace

void Vexmir::showMessage(const std::string& text, const std::string& second) {
  outcomeShown = refusalShown = false;
  {
    std::lock_guard<std::mutex> lock(messageLock);
    if (!messageShown) {
      messageCoveredTimbre = displayLines[kLineTimbre] ? displayLines[kLineTimbre]->GetTextForPlug() : std::string();
      messageCoveredCC.clear();
    }
    messageShown = true;
  }
  for (int line : {kLineName, kLineValue, kLineCC, kLineTimbre})
    if (displayLines[line]) displayLines[line]->SetTextFromPlug("");
  // Longer than the whole display (a librarian message, whole on the librarian's line): it ends in "...". A message
  // and its tip that do not fit one line are read one above the other.
  const std::string whole = second.empty() ? text : text + " " + second;
  const bool split = KIT_UTF8Count(whole) > messageLineChars && !second.empty() && messageHalves[0] && messageHalves[1];
  messageLine->SetTextFromPlug(split ? "" : fitted(whole, messageLineChars).c_str());
  for (int i = 0; i < 2; ++i)
    if (messageHalves[i])
      messageHalves[i]->SetTextFromPlug(split ? fitted(i == 0 ? text : second, messageHalfChars).c_str() : "");
}

void Vexmir::displayStatus(const char* text) {
  const std::string s = text ? text : "";
  if (messageLine && KIT_UTF8Count(s) > nameLineChars)
    showMessage(s);
  else
    setDisplayLine(kLineName, s.c_str());
}

void Vexmir::displayText(const std::string& name, const std::string& value, const std::string& cc) {
  displayControl(name, value);
  setDisplayLine(kLineCC, cc.c_str());
}

void Vexmir::displayControl(const std::string& name, const std::string& value) {
  // A name and value that do not fit their fields (a program name, a menu's longer items) are read as one message.
  if (messageLine && (KIT_UTF8Count(name) > nameLineChars || KIT_UTF8Count(value) > valueLineChars)) {
    showMessage(name, value);
    return;
  }
  setDisplayLine(kLineName, name.c_str());
  setDisplayLine(kLineValue, value.c_str());
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

// The name line's text is the message's while a message covers the display.
std::string Vexmir::getDisplayLine(int line) const {
  if (line < 0 || line >= kNumDisplayLines || !displayLines[line]) return std::string();
  if (line == kLineName && messageLine) {
    std::string message = messageLine->GetTextForPlug();
    if (!message.empty()) return message;
    if (messageHalves[0] && messageHalves[1] && !messageHalves[0]->GetTextForPlug().empty())
      return messageHalves[0]->GetTextForPlug() + "\n" + messageHalves[1]->GetTextForPlug();
  }
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
