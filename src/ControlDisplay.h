// The status display's reaction to a parameter change: the parameter's name, its value as the editor shows it,
// and which timbre it belongs to.
#pragma once

#include <string>

class Vexmir;

class ControlDisplay {
 public:
  // Name line, value line and timbre tag for the parameter; hostPlaying is not read.
  static void controlDisplay(Vexmir* plug, int paramIdx, double value, bool hostPlaying);
  // "%.0f" of the value (rounded, no decimals; -0.4 gives "-0"); a value that is not finite gives "0".
  static std::string getValueString(double value);
  // The timbre (0 or 1) of a per-timbre synthesis parameter, -1 for a parameter of the whole program.
  static int timbreOfParam(int paramIdx);
};
