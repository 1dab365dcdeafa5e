// Switching the editor's layers for the main tabs and the displayed timbre, and the per-timbre refresh of the
// switchable sets inside the editor and modulation-sequence tabs.
#pragma once

#include <string>

class Vexmir;

class TabSwitchFunctions {
 public:
  // Shows main tab `tab` (1 librarian, 2 editor, 3 modulation sequences, 4 global settings) with the sub-layers
  // of `timbre`; kMainTab already holds the tab. paramIdx and the fourth argument are not read.
  static void mainTabSwitch(Vexmir* plug, int paramIdx, int tab, int, int timbre);
  // Shows `timbre` in the open main tab, stores displayedTimbre and, unless a received change is being applied,
  // tells the synthesizer with CC 95 on the global channel. paramIdx, the int and the bool are not read.
  static void quickTabSwitch(Vexmir* plug, int paramIdx, int timbre, int, bool);
  // The per-timbre refresh of the editor tab (2) or the modulation-sequence tab (3).
  static void refreshTimbre(Vexmir* plug, int tab, int timbre);
  // Brings the open tab's greyed zones, switchable sets, step texts and lock button in line with a parameter
  // that has just changed (an edit, a received value or a linked twin): what a fresh switch to the tab shows.
  static void followChange(Vexmir* plug, int paramIdx);
  static std::string getValueString(double value);
};
