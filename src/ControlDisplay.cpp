#include "src/ControlDisplay.h"

#include <cmath>
#include <cstdio>

#include "KIT/IEffect/IParam.h"
#include "src/Vexmir.h"

std::string ControlDisplay::getValueString(double value) {
  if (!std::isfinite(value)) return "0";
  char buf[50];
  int n = std::snprintf(buf, sizeof buf, "%.0f", value);
  if (n <= 0) return std::string();
  return std::string(buf, static_cast<size_t>(n < static_cast<int>(sizeof buf) ? n : sizeof buf - 1));
}

// The pairs of adjacent indices (timbre 1, timbre 2) of the parameter table.
int ControlDisplay::timbreOfParam(int idx) {
  if ((idx >= 0 && idx <= 63) || (idx >= 76 && idx <= 87) || (idx >= 99 && idx <= 266) ||
      (idx >= kTimbreTune && idx <= kTimbreTransposeT2))
    return (idx - (idx >= kTimbreTune ? kTimbreTune : idx >= 99 ? 99 : idx >= 76 ? 76 : 0)) % 2;
  return -1;
}

void ControlDisplay::controlDisplay(Vexmir* plug, int paramIdx, double value, bool) {
  IParam* p = plug ? plug->GetParam(paramIdx) : nullptr;
  if (!p) return;
  std::string text;
  const int v = Vexmir::toInt(value);
  const char* shown = p->GetNDisplayTexts() > 0 ? p->GetDisplayText(v) : nullptr;
  if (shown && *shown)
    text = shown;
  else
    text = getValueString(v);  // the whole number that is sent, not the knob's position between two of them
  plug->displayControl(p->GetNameForHost(), text);
  // The tag names the timbre of a timbre's parameter, and the timbre shown when the shown timbre changes.
  const int timbre = paramIdx == kQuickTab ? (v != 0 ? 1 : 0) : timbreOfParam(paramIdx);
  if (timbre >= 0) plug->displayTimbre(timbre ? "[TIMBRE 2]" : "[TIMBRE 1]");
}
