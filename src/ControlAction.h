// The MIDI binding of one parameter: what the send path sends when the parameter changes, which controls show it,
// and the partner it mirrors to when the timbres are linked. Built by the control factories of UIConfigManager
// while the editor is built, hung on the parameter's IParam, and never freed (it lives as long as the plug-in).
#pragma once

#include <atomic>
#include <vector>

class ControlLayer;
class IControl;

// A parameter's link partner: first is the parameter to mirror onto, second must be 0 or more for mirroring to
// happen, third is carried along. -1 means none.
struct LinkInfo {
  int first = -1;
  int second = -1;
  int third = -1;

  bool isSet() const { return first >= 0 && second >= 0; }
  bool operator==(const LinkInfo& o) const { return first == o.first && second == o.second && third == o.third; }
};

// Precomputed SysEx messages: message k is sent for the integer value k (one element per byte, 0..255, without
// F0 and F7; element 1 is the device byte, replaced when sent).
struct ControlActionSysExMessage {
  bool hasMultiMessages = false;
  std::vector<std::vector<int>> messages;
  std::vector<std::vector<std::vector<int>>> multiMessages;  // for value k, sent one after the other
};

struct ControlAction {
  enum Type {
    kUnbound = 0,
    kCCOnTimbreChannel = 1,
    kCCOffOn = 2,
    kNRPN = 3,
    kNone = 4,
    kSysExPerValue = 5,
    kSysExMessages = 6,
  };

  // The integer value last sent, -1.0 to force the next send. Written by the send path on whichever thread changes
  // the parameter.
  std::atomic<double> lastValue{-1.0};
  int timbre = -1;  // 0 or 1: the timbre whose channel the send path uses
  int type = kUnbound;
  int ccNumber = -1;
  int nrpnMsb = -1;                 // sent with CC 99
  int valueOffset = -1;             // NRPN: added to the value sent with ccNumber
  int nrpnLsb = -1;                 // sent with CC 98
  int channel = -1;                 // first key of the CC and NRPN look-up tables
  int subKey = -1;                  // last key of the CC and NRPN look-up tables
  std::vector<IControl*> controls;  // every control of the parameter, in creation order (not owned)
  LinkInfo linkInfo;
  ControlLayer* multiLayer = nullptr;  // no factory sets it
  ControlActionSysExMessage sysex;
  int offValue = -1;  // two-state controls: value sent for 0
  int onValue = -1;   // and for anything else
};
