// The routing tables by which MIDI from the synthesizer finds the control it moves: control changes by
// (channel, CC number, sub-key), NRPNs by (channel, MSB, value offset, LSB, sub-key), SysEx parameter changes by
// four address bytes and a key byte. Filled once while the editor is built, read without a lock afterwards by the
// MIDI input thread. They do not own the controls. A later registration under the same keys replaces an earlier
// one; a look-up never creates an entry.
#pragma once

#include <map>

class IControl;
struct ControlAction;

struct ccControlMap {
  std::map<int, IControl*> map;
};
struct controlID3 {
  std::map<int, ccControlMap> map;
};
struct controlID2 {
  std::map<int, controlID3> map;
};
struct controlID1 {
  std::map<int, controlID2> map;
};

// The CC control map: channel -> CC number -> sub-key -> control.
using CCControlMap = std::map<int, controlID3>;

void addCCControl(CCControlMap& table, int channel, int ccNumber, int subKey, IControl* control);
IControl* findCCControl(const CCControlMap& table, int channel, int ccNumber, int subKey);

struct NRPNControlContainer {
  std::map<int, controlID1> map;

  // Under the action's channel, nrpnMsb, valueOffset, nrpnLsb and subKey.
  void addToControlMap(ControlAction* action, IControl* control);
  IControl* findControl(int channel, int msb, int valueOffset, int lsb, int subKey) const;
};

struct SysExControlContainer {
  std::map<int, controlID1> map;

  // Under address[0..3] and key, each taken as an unsigned byte.
  void addToControlMap(const unsigned char* address, unsigned char key, IControl* control);
  IControl* findControl(int byte0, int byte1, int byte2, int byte3, int key) const;
};
