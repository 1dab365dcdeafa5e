#include "src/ControlContainers.h"

#include "src/ControlAction.h"

namespace {

template <typename Map>
const typename Map::mapped_type* level(const Map& m, int key) {
  auto it = m.find(key);
  return it == m.end() ? nullptr : &it->second;
}

IControl* findFive(const std::map<int, controlID1>& table, int k1, int k2, int k3, int k4, int k5) {
  const controlID1* l1 = level(table, k1);
  const controlID2* l2 = l1 ? level(l1->map, k2) : nullptr;
  const controlID3* l3 = l2 ? level(l2->map, k3) : nullptr;
  const ccControlMap* l4 = l3 ? level(l3->map, k4) : nullptr;
  IControl* const* c = l4 ? level(l4->map, k5) : nullptr;
  return c ? *c : nullptr;
}

}  // namespace

void addCCControl(CCControlMap& table, int channel, int ccNumber, int subKey, IControl* control) {
  table[channel].map[ccNumber].map[subKey] = control;
}

IControl* findCCControl(const CCControlMap& table, int channel, int ccNumber, int subKey) {
  const controlID3* l1 = level(table, channel);
  const ccControlMap* l2 = l1 ? level(l1->map, ccNumber) : nullptr;
  IControl* const* c = l2 ? level(l2->map, subKey) : nullptr;
  return c ? *c : nullptr;
}

void NRPNControlContainer::addToControlMap(ControlAction* action, IControl* control) {
  if (!action) return;
  map[action->channel].map[action->nrpnMsb].map[action->valueOffset].map[action->nrpnLsb].map[action->subKey] = control;
}

IControl* NRPNControlContainer::findControl(int channel, int msb, int valueOffset, int lsb, int subKey) const {
  return findFive(map, channel, msb, valueOffset, lsb, subKey);
}

void SysExControlContainer::addToControlMap(const unsigned char* address, unsigned char key, IControl* control) {
  if (!address) return;
  map[address[0]].map[address[1]].map[address[2]].map[address[3]].map[key] = control;
}

IControl* SysExControlContainer::findControl(int byte0, int byte1, int byte2, int byte3, int key) const {
  return findFive(map, byte0, byte1, byte2, byte3, key);
}
