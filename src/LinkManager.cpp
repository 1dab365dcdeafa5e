#include "src/LinkManager.h"

#include <vector>

#include "KIT/IEffect/IControl.h"
#include "KIT/IEffect/IParam.h"
#include "src/ControlAction.h"
#include "src/TabSwitchFunctions.h"
#include "src/Vexmir.h"

bool LinkManager::inLinkTable(int idx) {
  // The timbre-1 members: the even indices of 0..62 and 76..86, the odd ones of 99..265.
  if (idx >= 0 && idx <= 62) return idx % 2 == 0;
  if (idx >= 76 && idx <= 86) return idx % 2 == 0;
  if (idx >= 99 && idx <= 265) return idx % 2 == 1;
  return false;
}

void LinkManager::controlLinker(Vexmir* plug, LinkInfo info, int paramIdx, int, double value) {
  if (!plug) return;
  if (inLinkTable(paramIdx)) {
    info.first = paramIdx + 1;
    info.second = paramIdx;
  }
  if (info.first < 0 || info.second < 0) return;
  IParam* target = plug->GetParam(info.first);
  IParam* source = plug->GetParam(paramIdx);
  ControlAction* action = target ? target->GetControlAction() : nullptr;
  if (!action || !source) return;
  // The twin takes the value before its message is sent, so the message carries it (and a send step that
  // returns early still leaves the twin holding the value its controls show).
  plug->storeParamValue(info.first, value);
  plug->linkInProgress = true;
  plug->processControlAction(action, info.first, value);
  plug->linkInProgress = false;
  TabSwitchFunctions::followChange(plug, info.first);
  const std::vector<IControl*> controls = action->controls;
  for (IControl* c : controls) c->SetValueFromPlug(source->GetNormalized());
}
