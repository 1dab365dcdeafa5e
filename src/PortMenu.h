// The MIDI IN and MIDI OUT menus of the global tab: the ports there are when the musician opens one, each port
// told apart from the others in the menu and in the value field.
#pragma once

#include <string>
#include <vector>

#include "KIT/IEffect/IControls.h"

class IParam;
class Vexmir;

// The menu's texts for the port names: a name too long for a display text keeps its start and its end (where the
// port part of "client:port" is), joined by "…"; no character is cut and no two texts are alike.
std::vector<std::string> portMenuTexts(const std::vector<std::string>& names);
// Makes the names the parameter's display texts ("OFF" first), its range following the list.
void setPortMenuTexts(IParam* param, const std::vector<std::string>& names);

class PortMenuControl : public ICaptionControl {
 public:
  PortMenuControl(Vexmir* plug, IRECT rect, int paramIdx, IText* text);
  // The lists are read anew before the menu opens; opened while no MIDI system answers (it holds only OFF), the
  // status display says why.
  void OnMouseDown(int x, int y, IMouseMod* mod) override;
  // A name wider than the field shows its start and its end, joined by "…".
  bool Draw(IGraphics* graphics) override;

 private:
  Vexmir* vexmir_;
  std::string fitted_, fittedFrom_;
};
