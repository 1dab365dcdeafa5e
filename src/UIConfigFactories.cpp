// The control factories: each turns one element of the description into a parameter, a control and, for
// MIDI-bound controls, the parameter's ControlAction and its routing entry. They share the steps of one frame:
// image, parameter, display name, group, parameter set-up, control, placement, binding record, binding fields,
// link, registration.
#include <algorithm>
#include <cmath>

#include "KIT/IEffect/ControlLayer.h"
#include "KIT/IEffect/IControls.h"
#include "KIT/IEffect/IGraphics.h"
#include "KIT/IEffect/IParam.h"
#include "src/ICustomRadioButtonsControl.h"
#include "src/PortMenu.h"
#include "src/UIConfigManager.h"
#include "src/Vexmir.h"
#include "src/VexmirParams.h"

namespace {

// More values, buttons or template bytes than any parameter has would only be a damaged description asking for
// memory.
constexpr int kMaxSysExValues = 4096;
constexpr size_t kMaxTemplateBytes = 64;
constexpr int kMaxMenuValues = 4096;
constexpr int kMaxRadioButtons = 64;

const IColor kOrange(255, 255, 173, 0);
const IColor kOrangeAlpha(254, 255, 173, 0);
const IColor kInvisibleOrange(0, 255, 173, 0);
const IColor kBlue(255, 0, 174, 255);
const IColor kWhite(255, 255, 255, 255);
const IColor kDark(255, 50, 60, 70);
const IColor kLight(255, 225, 225, 225);
const IColor kStepLight(225, 225, 225, 225);

// Toward zero, limited to the int range (a damaged description may hold any number).
int toInt(double v) {
  if (!std::isfinite(v)) return 0;
  return static_cast<int>(std::clamp(std::trunc(v), -1.0e9, 1.0e9));
}

}  // namespace

// ---- Steps shared by the factories ----

IParam* UIConfigManager::paramAt(int paramIdx, const char* factory) {
  IParam* p = plug && paramIdx >= 0 && paramIdx < kNumParams ? plug->GetParam(paramIdx) : nullptr;
  if (!p)
    log(std::string("CONFIG READER: ") + factory + ": parameter index " + std::to_string(paramIdx) + " outside 0.." +
        std::to_string(kNumParams - 1) + "; element skipped");
  return p;
}

std::string UIConfigManager::boundName(const std::string& name, int timbre) const {
  return timbre >= 0 ? "[" + std::to_string(timbre + 1) + "] " + name : name;
}

IRECT UIConfigManager::scaledRect(int x, int y, int w, int h) const {
  const int l = toInt(x * uiScale), t = toInt(y * uiScale);
  return IRECT(l, t, l + toInt(w * uiScale), t + toInt(h * uiScale));
}

void UIConfigManager::place(IControl* control, ControlLayer* layer) {
  if (placingOverlay) overlayControls.insert(control);
  if (layer)
    layer->controls.Add(control);
  else if (graphics)
    graphics->AttachControl(control);
  else
    delete control;
}

ControlAction* UIConfigManager::bindAction(IParam* param, int type, IControl* control) {
  ControlAction* action = param->GetControlAction();
  if (!action) {
    ownedActions.push_back(std::make_unique<ControlAction>());
    action = ownedActions.back().get();
    param->SetControlAction(action);
  }
  action->type = type;
  if (control) action->controls.push_back(control);
  return action;
}

// Both ends are parameter indices with the timbre already counted (getBiDirectLinkValues adds it once); the
// partner links back to this parameter.
void UIConfigManager::applyLink(ControlAction* action, int paramIdx, LinkInfo link) {
  if (!link.isSet()) return;
  if (link.first >= kNumParams || link.second >= kNumParams) {
    log("CONFIG READER: link of parameter " + std::to_string(paramIdx) + " to " + std::to_string(link.first) + "," +
        std::to_string(link.second) + " names no parameter; not linked");
    return;
  }
  action->linkInfo = link;
  IParam* partner = plug->GetParam(link.first);
  if (!partner) return;
  ControlAction* back = partner->GetControlAction();
  if (!back) back = bindAction(partner, ControlAction::kSysExMessages, nullptr);
  back->linkInfo = LinkInfo{paramIdx, link.second, -1};
}

bool UIConfigManager::isMixerLayer(const ControlLayer* layer) const {
  if (!layer) return false;
  static const char* const kNames[] = {"miniMixer", "multiModeMixer", "miniMixer2", "multiModeMixer2",
                                       "multiModeSettingsPage1"};
  return std::find(std::begin(kNames), std::end(kNames), layer->getName()) != std::end(kNames);
}

bool UIConfigManager::isSettingsLayer(const ControlLayer* layer) const {
  if (!layer) return false;
  if (isMixerLayer(layer)) return true;
  const std::string& n = layer->getName();
  return n.size() == 23 && n.compare(0, 22, "additionalSettingsPart") == 0 && n[22] >= '1' && n[22] <= '8';
}

bool UIConfigManager::buildSysEx(const char* factory, int paramIdx, int sysexIndex, int changingByte, int count,
                                 int firstValue, int timbre, SysExBuilder builder, bool writesHighByte, bool,
                                 ControlActionSysExMessage* out) {
  const std::string what = std::string("CONFIG READER: ") + factory + " of parameter " + std::to_string(paramIdx);
  if (sysexIndex < 0 || sysexIndex >= static_cast<int>(sysexList.size()) || sysexList[sysexIndex].values.empty() ||
      sysexList[sysexIndex].values[0].empty()) {
    log(what + ": SysEx entry " + std::to_string(sysexIndex) + " has no template; left unbound");
    return false;
  }
  if (count > kMaxSysExValues) {
    log(what + ": " + std::to_string(count) + " values is more than a SysEx table holds; left unbound");
    return false;
  }
  const std::vector<int> bytes = convertStringSysextoVector(sysexList[sysexIndex].values[0][0]);
  if (bytes.size() > kMaxTemplateBytes) {
    log(what + ": template of SysEx entry " + std::to_string(sysexIndex) + " has " + std::to_string(bytes.size()) +
        " bytes; left unbound");
    return false;
  }
  // The template must hold every byte a table writes: the value byte, the high byte of the special tables, the
  // address bytes shifted for timbre 2 and the four address bytes of the routing key.
  size_t needed = static_cast<size_t>(std::max(changingByte, changingByte == 7 ? 6 : 7));
  if (writesHighByte) needed = std::max<size_t>(needed, 8);
  if (timbre == 1) needed = std::max<size_t>(needed, 6);
  if (changingByte < 1 || bytes.size() < needed) {
    log(what + ": template of SysEx entry " + std::to_string(sysexIndex) + " is " + std::to_string(bytes.size()) +
        " bytes, changing byte " + std::to_string(changingByte) + " needs " + std::to_string(needed) +
        "; left unbound");
    return false;
  }
  if (std::any_of(bytes.begin(), bytes.end(), [](int b) { return b > 0xFF; })) {
    log(what + ": template of SysEx entry " + std::to_string(sysexIndex) + " has a byte above FF; left unbound");
    return false;
  }
  ControlActionSysExMessage built;
  builder(sysexList[sysexIndex].values[0][0], changingByte, count, &built, firstValue, timbre);
  if (built.messages.empty()) {
    log(what + ": no values (" + std::to_string(count) + "); left unbound");
    return false;
  }
  *out = built;
  return true;
}

void UIConfigManager::registerSysEx(ControlAction* action, int changingByte, unsigned char key, IControl* control) {
  const std::vector<int>& m = action->sysex.messages[0];
  const int first = changingByte == 7 ? 2 : 3;
  unsigned char address[4];
  for (int i = 0; i < 4; ++i) address[i] = static_cast<unsigned char>(m[first + i] & 0xFF);
  sysexControls.addToControlMap(address, key, control);
}

IText UIConfigManager::textStyle(int size, IColor color) const {
  IText text(toInt(size * uiScale), &color, "NK57 Monospace", IText::kStyleNormal, IText::kAlignCenter, 0,
             IText::kQualityClearType);
  text.mTextEntryBGColor = DEFAULT_TEXT_ENTRY_BGCOLOR;
  text.mTextEntryFGColor = DEFAULT_TEXT_ENTRY_FGCOLOR;
  text.mVAlign = IText::kVAlignMiddle;
  return text;
}

// Value i shows text i when the list has exactly n texts, else the number first + i when a number range is
// given; false when neither gives the texts.
bool UIConfigManager::setValueTexts(IParam* param, int n, const std::vector<std::string>& texts, int firstNumber,
                                    int lastNumber) {
  if (n > kMaxMenuValues) return false;
  if (n > 0 && static_cast<int>(texts.size()) == n) {
    for (int i = 0; i < n; ++i) param->SetDisplayText(i, texts[i].c_str());
    return true;
  }
  if (n > 0 && firstNumber != lastNumber) {
    for (int i = 0; i < n; ++i) param->SetDisplayText(i, std::to_string(firstNumber + i).c_str());
    return true;
  }
  return false;
}

// The frame of the menus: an enumerated parameter of maximum - minimum values with its texts, and a caption that
// opens them; null (logged) when the texts cannot be had.
ICaptionControl* UIConfigManager::createMenu(const char* factory, const std::string& displayName, int paramIdx, int x,
                                             int y, int w, int h, double defaultValue, double minValue, double maxValue,
                                             int firstNumber, int lastNumber,
                                             const std::vector<std::string>& valueTexts, int timbre,
                                             ControlLayer* layer, const std::string& group, IColor color) {
  IParam* param = paramAt(paramIdx, factory);
  if (!param) return nullptr;
  const int n = toInt(maxValue) - toInt(minValue);
  param->InitEnum(displayName.c_str(), toInt(defaultValue), n, "", getParamGroup(timbre, group), -1, -1);
  if (!setValueTexts(param, n, valueTexts, firstNumber, lastNumber)) {
    log("CONFIG READER: menu " + displayName + " of parameter " + std::to_string(paramIdx) +
        " has no value texts for " + std::to_string(n) + " values; no control made");
    return nullptr;
  }
  IText text = textStyle(13, color);
  auto* control = new ICaptionControl(plug, scaledRect(x, y, w, h), paramIdx, &text, true);
  control->DisablePrompt(false);
  place(control, layer);
  return control;
}

// ---- Button factories ----

void UIConfigManager::createBoolControl(std::string name, int paramIdx, int defaultValue, int x, int y,
                                        std::string imageName, int timbre, ControlLayer* layer, std::string group) {
  IBitmap bitmap = getImageByName(graphics, imageName);
  IParam* param = paramAt(paramIdx, "createBoolControl");
  if (!param) return;
  param->InitBool(name.c_str(), defaultValue != 0, "", getParamGroup(timbre, group), -1, -1);
  auto* control = new ISwitchControl(plug, toInt(x * uiScale), toInt(y * uiScale), paramIdx, &bitmap);
  place(control, layer);
  bindAction(param, ControlAction::kUnbound, control);
}

void UIConfigManager::createSwitchControl(std::string name, int paramIdx, int defaultValue, int x, int y,
                                          std::string imageName, int timbre, ControlLayer* layer, std::string group) {
  IBitmap bitmap = getImageByName(graphics, imageName);
  IParam* param = paramAt(paramIdx, "createSwitchControl");
  if (!param) return;
  param->InitBool(name.c_str(), defaultValue != 0, "", getParamGroup(timbre, group), -1, -1);
  auto* control = new IContactControl(plug, toInt(x * uiScale), toInt(y * uiScale), paramIdx, &bitmap);
  place(control, layer);
  bindAction(param, ControlAction::kUnbound, control);
}

IControl* UIConfigManager::createAutoOffSwitchControl(std::string name, int paramIdx, int x, int y,
                                                      std::string imageName, int timbre, ControlLayer* layer,
                                                      std::string group) {
  IBitmap bitmap = getImageByName(graphics, imageName);
  IParam* param = paramAt(paramIdx, "createAutoOffSwitchControl");
  if (!param) return nullptr;
  param->InitBool(name.c_str(), false, "", getParamGroup(timbre, group), -1, -1);
  auto* control = new IContactControl(plug, toInt(x * uiScale), toInt(y * uiScale), paramIdx, &bitmap);
  place(control, layer);
  bindAction(param, ControlAction::kUnbound, control);
  return control;
}

void UIConfigManager::createRadioControl(std::string name, int paramIdx, int x, int y, std::string imageName,
                                         int buttons, int timbre, ControlLayer* layer, std::string group) {
  if (buttons < 1 || buttons > kMaxRadioButtons) {
    log("CONFIG READER: radio group " + name + " of parameter " + std::to_string(paramIdx) + " has " +
        std::to_string(buttons) + " buttons; skipped");
    return;
  }
  IBitmap bitmap = getImageByName(graphics, imageName);
  IParam* param = paramAt(paramIdx, "createRadioControl");
  if (!param) return;
  param->InitEnum(name.c_str(), 0, buttons, "", getParamGroup(timbre, group), -1, -1);
  // The image holds the whole row of buttons twice, unlit and lit: beside each other the buttons are stacked,
  // above each other they lie side by side.
  const int l = toInt(x * uiScale), t = toInt(y * uiScale);
  const IRECT rect = bitmap.mFramesAreHorizontal ? IRECT(l, t, l + bitmap.W / 2, t + bitmap.H)
                                                 : IRECT(l, t, l + bitmap.W, t + bitmap.H / 2);
  auto* control = new ICustomRadioButtonsControl(plug, rect, paramIdx, buttons, &bitmap,
                                                 bitmap.mFramesAreHorizontal ? kVertical : kHorizontal);
  place(control, layer);
  bindAction(param, ControlAction::kUnbound, control);
}

void UIConfigManager::createCCBoolControl(int ccNumber, int channel, std::string name, int paramIdx, int x, int y,
                                          std::string imageName, double defaultValue, double offValue, double onValue,
                                          LinkInfo, int timbre, ControlLayer* layer, std::string group) {
  IBitmap bitmap = getImageByName(graphics, imageName);
  IParam* param = paramAt(paramIdx, "createCCBoolControl");
  if (!param) return;
  param->InitBool(boundName(name, timbre).c_str(), defaultValue != 0.0, "", getParamGroup(timbre, group), -1, -1);
  auto* control = new ISwitchControl(plug, toInt(x * uiScale), toInt(y * uiScale), paramIdx, &bitmap);
  place(control, layer);
  ControlAction* action = bindAction(param, ControlAction::kCCOffOn, control);
  action->ccNumber = ccNumber;
  action->channel = isMixerLayer(layer) ? channel : timbre + 1;
  action->subKey = 0;
  action->offValue = toInt(offValue);
  action->onValue = toInt(onValue);
  addCCControl(ccControls, action->channel, action->ccNumber, action->subKey, control);
}

void UIConfigManager::createMsbLsbBoolControl(int ccNumber, int msbValue, int lsbValue, int lsbControl, int channel,
                                              std::string name, int paramIdx, int x, int y, std::string imageName,
                                              double defaultValue, double offValue, double onValue, LinkInfo link,
                                              int timbre, ControlLayer* layer, std::string group) {
  IBitmap bitmap = getImageByName(graphics, imageName);
  IParam* param = paramAt(paramIdx, "createMsbLsbBoolControl");
  if (!param) return;
  param->InitBool(boundName(name, timbre).c_str(), defaultValue != 0.0, "", getParamGroup(timbre, group), -1, -1);
  auto* control = new ISwitchControl(plug, toInt(x * uiScale), toInt(y * uiScale), paramIdx, &bitmap);
  place(control, layer);
  ControlAction* action = bindAction(param, ControlAction::kNRPN, control);
  action->ccNumber = ccNumber;
  action->nrpnMsb = msbValue;
  action->valueOffset = lsbValue;
  action->nrpnLsb = lsbControl;
  action->channel = isSettingsLayer(layer) ? channel : timbre + 1;
  action->subKey = 0;
  action->offValue = toInt(offValue);
  action->onValue = toInt(onValue);
  applyLink(action, paramIdx, link);
  nrpnControls.addToControlMap(action, control);
}

void UIConfigManager::createSysExBoolControl(std::string name, int paramIdx, int x, int y, std::string imageName,
                                             double defaultValue, int, int sysexIndex, int changingByte, int timbre,
                                             LinkInfo link, ControlLayer* layer, std::string group) {
  IBitmap bitmap = getImageByName(graphics, imageName);
  IParam* param = paramAt(paramIdx, "createSysExBoolControl");
  if (!param) return;
  param->InitBool(boundName(name, timbre).c_str(), defaultValue != 0.0, "", getParamGroup(timbre, group), -1, -1);
  auto* control = new ISwitchControl(plug, toInt(x * uiScale), toInt(y * uiScale), paramIdx, &bitmap);
  place(control, layer);
  ControlActionSysExMessage messages;
  const bool bound = buildSysEx("createSysExBoolControl", paramIdx, sysexIndex, changingByte, 2, 0, timbre,
                                &UIConfigManager::calculateSysexWithChangingByte, false, false, &messages);
  ControlAction* action = bindAction(param, bound ? ControlAction::kSysExPerValue : ControlAction::kUnbound, control);
  if (!bound) return;
  action->sysex = messages;
  applyLink(action, paramIdx, link);
  registerSysEx(action, changingByte, 0, control);
}

// ---- Knob factories ----

void UIConfigManager::createNoValKnobControl(std::string name, int paramIdx, int x, int y, std::string imageName,
                                             double defaultValue, double minValue, double maxValue, double, int timbre,
                                             ControlLayer* layer, std::string group,
                                             const std::vector<std::string>& valueTexts) {
  IBitmap bitmap = getImageByName(graphics, imageName);
  IParam* param = paramAt(paramIdx, "createNoValKnobControl");
  if (!param) return;
  param->InitDouble(boundName(name, timbre).c_str(), defaultValue, minValue, maxValue, 1.0, "",
                    getParamGroup(timbre, group), -1, -1);
  // Texts of a knob's values (the tempo's beats per minute) are shown in the display, one per integer value.
  const int n = static_cast<int>(std::min<double>(valueTexts.size(), maxValue - minValue + 1));
  for (int i = 0; i < n; ++i) param->SetDisplayText(i, valueTexts[static_cast<size_t>(i)].c_str());
  auto* control = new IKnobMultiControl(plug, toInt(x * uiScale), toInt(y * uiScale), paramIdx, &bitmap);
  place(control, layer);
  // A binding that sends nothing: the edit still names itself in the display, and the timbre link reaches it.
  bindAction(param, ControlAction::kNone, control);
}

void UIConfigManager::createCCKnobControl(int ccNumber, int channel, std::string name, int paramIdx, int x, int y,
                                          std::string imageName, double defaultValue, double minValue, double maxValue,
                                          double step, LinkInfo link, int timbre, ControlLayer* layer,
                                          std::string group) {
  IBitmap bitmap = getImageByName(graphics, imageName);
  IParam* param = paramAt(paramIdx, "createCCKnobControl");
  if (!param) return;
  param->InitDouble(boundName(name, timbre).c_str(), defaultValue, minValue, maxValue, std::trunc(step), "",
                    getParamGroup(timbre, group), -1, -1);
  auto* control = new IKnobMultiControl(plug, toInt(x * uiScale), toInt(y * uiScale), paramIdx, &bitmap);
  place(control, layer);
  ControlAction* action = bindAction(param, ControlAction::kCCOnTimbreChannel, nullptr);
  applyLink(action, paramIdx, link);
  action->ccNumber = ccNumber;
  if (isMixerLayer(layer)) {
    action->channel = channel;
    action->subKey = 1;
  } else {
    action->channel = timbre + 1;
    action->subKey = paramIdx == kOsc1DWGSWave || paramIdx == kOsc1DWGSWaveT2 ? 1 : 0;
  }
  action->controls.push_back(control);
  addCCControl(ccControls, action->channel, action->ccNumber, action->subKey, control);
}

void UIConfigManager::createMsbLsbKnobControl(int ccNumber, int msbValue, int lsbValue, int lsbControl, int channel,
                                              std::string name, int paramIdx, int x, int y, std::string imageName,
                                              double defaultValue, double minValue, double maxValue, double,
                                              LinkInfo link, int timbre, ControlLayer* layer, std::string group) {
  IBitmap bitmap = getImageByName(graphics, imageName);
  IParam* param = paramAt(paramIdx, "createMsbLsbKnobControl");
  if (!param) return;
  param->InitDouble(boundName(name, timbre).c_str(), defaultValue, minValue, maxValue, 1.0, "",
                    getParamGroup(timbre, group), -1, -1);
  auto* control = new IKnobMultiControl(plug, toInt(x * uiScale), toInt(y * uiScale), paramIdx, &bitmap);
  place(control, layer);
  ControlAction* action = bindAction(param, ControlAction::kNRPN, nullptr);
  applyLink(action, paramIdx, link);
  action->ccNumber = ccNumber;
  action->nrpnMsb = msbValue;
  action->valueOffset = lsbValue;
  action->nrpnLsb = lsbControl;
  const bool mixer = isMixerLayer(layer);
  action->channel = mixer ? channel : timbre + 1;
  action->subKey = mixer ? 1 : 0;
  action->controls.push_back(control);
  nrpnControls.addToControlMap(action, control);
}

namespace {

UIConfigManager::SysExBuilder knobTable(int paramIdx, bool special) {
  if (!special) return &UIConfigManager::calculateSysexWithChangingByte;
  switch (paramIdx) {
    case kEQLowGain:
    case kEQHiGain:
      return &UIConfigManager::calculateSysexWithChangingByteEQ;
    case kFilterVeloSense:
    case kFilterVeloSenseT2:
    case kAmpVeloSense:
    case kAmpVeloSenseT2:
      return &UIConfigManager::calculateSysexWithChangingByteVelo;
    case kArpTempo:
      return &UIConfigManager::calculateSysexWithChangingByteTempo;
    case kArpSwing:
      return &UIConfigManager::calculateSysexWithChangingByteSwing;
    case kTimbreTranspose:
    case kTimbreTransposeT2:
      return &UIConfigManager::calculateSysexWithChangingByteTranspose;
    case kTimbreTune:
    case kTimbreTuneT2:
      return &UIConfigManager::calculateSysexWithChangingByteTuning;
    default:
      return &UIConfigManager::calculateSysexWithChangingByteModSeq;
  }
}

UIConfigManager::SysExBuilder menuTable(int paramIdx) {
  switch (paramIdx) {
    case kEQLowGain:
    case kEQHiGain:
    case kTimbreBendRange:
    case kTimbreBendRangeT2:
      return &UIConfigManager::calculateSysexWithChangingByteEQ;
    case kArpTempo:
      return &UIConfigManager::calculateSysexWithChangingByteTempo;
    case kArpSwing:
      return &UIConfigManager::calculateSysexWithChangingByteSwing;
    case kTimbreTune:
    case kTimbreTuneT2:
      return &UIConfigManager::calculateSysexWithChangingByteTuning;
    case kTimbreTranspose:
    case kTimbreTransposeT2:
      return &UIConfigManager::calculateSysexWithChangingByteTranspose;
    default:
      break;
  }
  if (paramIdx == kLfo2KeySync || paramIdx == kLfo2KeySyncT2 || paramIdx == kVoicePriority ||
      paramIdx == kVoicePriorityT2 || (paramIdx >= kVPatchSrc1 && paramIdx <= kVPatchSrc3T2) ||
      (paramIdx >= kVPatchDest1 && paramIdx <= kVPatchDest4T2))
    return &UIConfigManager::calculateSysexWithTwoChangingBytes;
  return &UIConfigManager::calculateSysexWithChangingByte;
}

bool writesHighByte(UIConfigManager::SysExBuilder b) {
  return b != &UIConfigManager::calculateSysexWithChangingByte &&
         b != &UIConfigManager::calculateSysexWithTwoChangingBytes;
}

}  // namespace

void UIConfigManager::createSysExKnobControl(std::string name, int paramIdx, int x, int y, std::string imageName,
                                             double defaultValue, double minValue, double maxValue, double step,
                                             int zeroValueMessage, int sysexIndex, int changingByte, int timbre,
                                             LinkInfo link, ControlLayer* layer, std::string group) {
  IBitmap bitmap = getImageByName(graphics, imageName);
  IParam* param = paramAt(paramIdx, "createSysExKnobControl");
  if (!param) return;
  (void)step;
  (void)zeroValueMessage;
  param->InitDouble(boundName(name, timbre).c_str(), defaultValue, minValue, maxValue, 1.0, "",
                    getParamGroup(timbre, group), -1, -1);
  auto* control = new IKnobMultiControl(plug, toInt(x * uiScale), toInt(y * uiScale), paramIdx, &bitmap);
  place(control, layer);
  const SysExBuilder builder = knobTable(paramIdx, false);
  ControlActionSysExMessage messages;
  const bool bound =
      buildSysEx("createSysExKnobControl", paramIdx, sysexIndex, changingByte, toInt(maxValue) - toInt(minValue) + 1,
                 toInt(minValue), timbre, builder, false, false, &messages);
  ControlAction* action = bindAction(param, bound ? ControlAction::kSysExMessages : ControlAction::kUnbound, control);
  if (!bound) return;
  applyLink(action, paramIdx, link);
  action->sysex = messages;
  registerSysEx(action, changingByte, 0, control);
}

void UIConfigManager::createSysExKnobControl2(std::string name, int paramIdx, int x, int y, std::string imageName,
                                              double defaultValue, double minValue, double maxValue, double, int,
                                              int sysexIndex, int changingByte, int timbre, LinkInfo link,
                                              ControlLayer* layer, std::string group) {
  IBitmap bitmap = getImageByName(graphics, imageName);
  IParam* param = paramAt(paramIdx, "createSysExKnobControl2");
  if (!param) return;
  param->InitDouble(boundName(name, timbre).c_str(), defaultValue, minValue, maxValue, 1.0, "",
                    getParamGroup(timbre, group), -1, -1);
  auto* control = new IKnobMultiControl(plug, toInt(x * uiScale), toInt(y * uiScale), paramIdx, &bitmap);
  place(control, layer);
  const SysExBuilder builder = knobTable(paramIdx, true);
  ControlActionSysExMessage messages;
  const bool bound =
      buildSysEx("createSysExKnobControl2", paramIdx, sysexIndex, changingByte, toInt(maxValue) - toInt(minValue) + 1,
                 toInt(minValue), timbre, builder, true, false, &messages);
  ControlAction* action = bindAction(param, bound ? ControlAction::kSysExMessages : ControlAction::kUnbound, control);
  if (!bound) return;
  applyLink(action, paramIdx, link);
  action->sysex = messages;
  registerSysEx(action, changingByte, 0, control);
}

// ---- Selection factories ----

void UIConfigManager::createDropDownMenu(std::string name, int paramIdx, int x, int y, int w, int h, int timbre,
                                         ControlLayer* layer, std::string group) {
  IParam* param = paramAt(paramIdx, "createDropDownMenu");
  if (!param) return;
  param->InitEnum(name.c_str(), 0, 1, "", getParamGroup(timbre, group), -1, -1);
  param->SetDisplayText(0, "----");
  IText text = textStyle(15, kOrange);
  auto* control = new ICaptionControl(plug, scaledRect(x, y, w, h), paramIdx, &text, true);
  place(control, layer);
  bindAction(param, ControlAction::kUnbound, control);
}

void UIConfigManager::createDropDownMenu2(std::string name, int paramIdx, int x, int y, int w, int h,
                                          double defaultValue, double minValue, double maxValue,
                                          std::vector<std::string> valueTexts, int timbre, ControlLayer* layer,
                                          std::string group) {
  IParam* param = paramAt(paramIdx, "createDropDownMenu2");
  if (!param) return;
  const int n = toInt(maxValue) - toInt(minValue);
  param->InitEnum(name.c_str(), toInt(defaultValue), n, "", getParamGroup(timbre, group), -1, -1);
  if (n <= 0 || n > kMaxMenuValues || static_cast<int>(valueTexts.size()) != n) {
    log("CONFIG READER: menu " + name + " of parameter " + std::to_string(paramIdx) + " has " +
        std::to_string(valueTexts.size()) + " value texts for " + std::to_string(n) + " values; no control made");
    return;
  }
  for (int i = 0; i < n; ++i) param->SetDisplayText(i, valueTexts[i].c_str());
  IText text = textStyle(13, kOrangeAlpha);
  auto* control = new ICaptionControl(plug, scaledRect(x, y, w, h), paramIdx, &text, true);
  control->DisablePrompt(false);
  place(control, layer);
  bindAction(param, ControlAction::kUnbound, control);
}

void UIConfigManager::createMIDIDeviceSelectionControl(std::string, int paramIdx, int x, int y, int w, int h,
                                                       int direction, int, ControlLayer*, std::string) {
  IParam* param = paramAt(paramIdx, "createMIDIDeviceSelectionControl");
  if (!param) return;
  const std::vector<std::string> names =
      direction == 1 ? plug->getExternalMIDIInNames() : plug->getExternalMIDIOutNames();
  param->InitEnum("Device Selection", 0, static_cast<int>(names.size()), "", "", -1, -1);
  setPortMenuTexts(param, names);
  IText text = textStyle(15, kBlue);
  auto* control = new PortMenuControl(plug, scaledRect(x, y, w, h), paramIdx, &text);
  control->DisablePrompt(false);
  place(control, nullptr);
  bindAction(param, ControlAction::kUnbound, control);
}

void UIConfigManager::createNoValDropDown(std::string name, int paramIdx, int x, int y, int w, int h,
                                          double defaultValue, double minValue, double maxValue, int firstNumber,
                                          int lastNumber, int visible, std::vector<std::string> valueTexts, int timbre,
                                          ControlLayer* layer, std::string group, bool white) {
  ICaptionControl* control = createMenu("createNoValDropDown", name, paramIdx, x, y, w, h, defaultValue, minValue,
                                        maxValue, firstNumber, lastNumber, valueTexts, timbre, layer, group,
                                        visible == 1 ? (white ? kWhite : kOrange) : kInvisibleOrange);
  if (!control) return;
  bindAction(plug->GetParam(paramIdx), ControlAction::kNone, control);
}

void UIConfigManager::createMultiSelectionCCControl(int ccNumber, int channel, std::string name, int paramIdx, int x,
                                                    int y, int w, int h, double defaultValue, double minValue,
                                                    double maxValue, int firstNumber, int lastNumber,
                                                    std::vector<std::string> valueTexts, int timbre,
                                                    ControlLayer* layer, std::string group) {
  ICaptionControl* control =
      createMenu("createMultiSelectionCCControl", boundName(name, timbre), paramIdx, x, y, w, h, defaultValue, minValue,
                 maxValue, firstNumber, lastNumber, valueTexts, timbre, layer, group, kOrangeAlpha);
  if (!control) return;
  IParam* param = plug->GetParam(paramIdx);
  ControlAction* action = bindAction(param, ControlAction::kCCOnTimbreChannel, control);
  action->ccNumber = ccNumber;
  const bool mixer = isMixerLayer(layer);
  action->channel = mixer ? channel : timbre + 1;
  action->subKey = mixer ? 1 : 0;
  addCCControl(ccControls, action->channel, action->ccNumber, action->subKey, control);
}

void UIConfigManager::createMsbLsbSelectionCCControl(int ccNumber, int msbValue, int lsbValue, int lsbControl,
                                                     int channel, std::string name, int paramIdx, int x, int y, int w,
                                                     int h, double defaultValue, double minValue, double maxValue,
                                                     int firstNumber, int lastNumber,
                                                     std::vector<std::string> valueTexts, int timbre,
                                                     ControlLayer* layer, std::string group) {
  ICaptionControl* control =
      createMenu("createMsbLsbSelectionCCControl", boundName(name, timbre), paramIdx, x, y, w, h, defaultValue,
                 minValue, maxValue, firstNumber, lastNumber, valueTexts, timbre, layer, group, kOrangeAlpha);
  if (!control) return;
  IParam* param = plug->GetParam(paramIdx);
  ControlAction* action = bindAction(param, ControlAction::kNRPN, control);
  action->ccNumber = ccNumber;
  action->nrpnMsb = msbValue;
  action->valueOffset = lsbValue;
  action->nrpnLsb = lsbControl;
  const bool mixer = isMixerLayer(layer);
  action->channel = mixer ? channel : timbre + 1;
  action->subKey = mixer ? 1 : 0;
  nrpnControls.addToControlMap(action, control);
}

void UIConfigManager::createMultiSelectionSysExControl(std::string name, int paramIdx, int x, int y, int w, int h,
                                                       double defaultValue, double minValue, double maxValue,
                                                       int firstNumber, int lastNumber,
                                                       std::vector<std::string> valueTexts, int, std::string,
                                                       int sysexIndex, int changingByte, int timbre,
                                                       ControlLayer* layer, std::string group) {
  ICaptionControl* control =
      createMenu("createMultiSelectionSysExControl", boundName(name, timbre), paramIdx, x, y, w, h, defaultValue,
                 minValue, maxValue, firstNumber, lastNumber, valueTexts, timbre, layer, group, kOrangeAlpha);
  if (!control) return;
  IParam* param = plug->GetParam(paramIdx);
  const int n = toInt(maxValue) - toInt(minValue);
  const SysExBuilder builder = menuTable(paramIdx);
  ControlActionSysExMessage messages;
  const bool bound = buildSysEx("createMultiSelectionSysExControl", paramIdx, sysexIndex, changingByte, n + 1,
                                toInt(minValue), timbre, builder, writesHighByte(builder),
                                builder == &UIConfigManager::calculateSysexWithTwoChangingBytes, &messages);
  ControlAction* action = bindAction(param, bound ? ControlAction::kSysExMessages : ControlAction::kUnbound, control);
  if (!bound) return;
  action->sysex = messages;
  registerSysEx(action, changingByte, 0, control);
}

// ---- Display factories ----

void UIConfigManager::createControlDisplay(std::string, int paramIdx, int x, int y, int w, int h, int,
                                           ControlLayer* layer, std::string, int displaySize) {
  IParam* param = paramAt(paramIdx, "createControlDisplay");
  if (!param) return;
  int size = 14;
  IColor color = kDark;
  if (displaySize == 1) {
    size = 15;
  } else if (displaySize == 2) {
    size = 16;
    color = paramIdx >= kModSeq1Value01 && paramIdx <= kModSeq3Value16 ? kStepLight : kBlue;
  } else if (displaySize == 3) {
    size = 16;
  }
  IText text = textStyle(size, color);
  auto* control = new ITextControl(plug, scaledRect(x, y, w, h), &text, "");
  control->DisablePrompt(true);
  place(control, layer);
  bindAction(param, ControlAction::kUnbound, control);
}

void UIConfigManager::createNameDisplay(std::string name, int paramIdx, int x, int y, int w, int h, int nameLength,
                                        int timbre, ControlLayer* layer, std::string group) {
  IParam* param = paramAt(paramIdx, "createNameDisplay");
  if (!param) return;
  param->InitEnum(name.c_str(), 0, 1, "", getParamGroup(timbre, group), -1, -1);
  param->InitText();
  const bool light = paramIdx == kPatchSearchString || paramIdx == kPatchRename;
  if (paramIdx == kPatchName)
    param->SetDisplayText(0, "-- INIT --");
  else if (paramIdx == kPatchSearchString)
    param->SetDisplayText(0, kSearchPrompt);
  else if (paramIdx == kPatchRename)
    param->SetDisplayText(0, "New Name");
  IText text = textStyle(14, light ? kLight : kDark);
  auto* control = new ICaptionControl(plug, scaledRect(x, y, w, h), paramIdx, &text, true);
  control->DisablePrompt(false);
  control->SetTextEntryLength(nameLength);
  place(control, layer);
  bindAction(param, ControlAction::kUnbound, control);
}

// ---- Slider factories ----

void UIConfigManager::createCCSliderControl(int ccNumber, int channel, std::string name, int paramIdx, int x, int y,
                                            int length, std::string imageName, double defaultValue, double minValue,
                                            double maxValue, LinkInfo link, int timbre, ControlLayer* layer,
                                            std::string group, EDirection direction, bool) {
  IBitmap bitmap = getImageByName(graphics, imageName);
  IParam* param = paramAt(paramIdx, "createCCSliderControl");
  if (!param) return;
  param->InitDouble(boundName(name, timbre).c_str(), defaultValue, minValue, maxValue, 1.0, "",
                    getParamGroup(timbre, group), -1, -1);
  auto* control = new IFaderControl(plug, toInt(x * uiScale), toInt(y * uiScale), toInt(length * uiScale), paramIdx,
                                    &bitmap, direction, false);
  place(control, layer);
  ControlAction* action = bindAction(param, ControlAction::kCCOnTimbreChannel, nullptr);
  action->ccNumber = ccNumber;
  action->channel = isMixerLayer(layer) ? channel : timbre + 1;
  action->subKey = 0;
  applyLink(action, paramIdx, link);
  action->controls.push_back(control);
  addCCControl(ccControls, action->channel, action->ccNumber, 0, control);
}

void UIConfigManager::createSysExSliderControl(std::string name, int paramIdx, int x, int y, int length,
                                               std::string imageName, double defaultValue, double minValue,
                                               double maxValue, double, int zeroOffset, int sysexIndex,
                                               int changingByte, int timbre, LinkInfo link, ControlLayer* layer,
                                               std::string group, EDirection direction, bool) {
  IBitmap bitmap = getImageByName(graphics, imageName);
  IParam* param = paramAt(paramIdx, "createSysExSliderControl");
  if (!param) return;
  param->InitDouble(boundName(name, timbre).c_str(), defaultValue, minValue, maxValue, 1.0, "",
                    getParamGroup(timbre, group), -1, -1);
  auto* control = new IFaderControl(plug, toInt(x * uiScale), toInt(y * uiScale), toInt(length * uiScale), paramIdx,
                                    &bitmap, direction, false);
  place(control, layer);
  ControlActionSysExMessage messages;
  const bool bound = buildSysEx("createSysExSliderControl", paramIdx, sysexIndex, changingByte,
                                toInt(maxValue) - toInt(minValue) + 1, toInt(minValue) + zeroOffset, timbre,
                                &UIConfigManager::calculateSysexWithChangingByte, false, false, &messages);
  ControlAction* action = bindAction(param, bound ? ControlAction::kSysExMessages : ControlAction::kUnbound, control);
  if (!bound) return;
  action->sysex = messages;
  applyLink(action, paramIdx, link);
  registerSysEx(action, changingByte, 0, control);
}
