// Mirrors a timbre-1 edit onto its timbre-2 twin while the timbres are linked.
#pragma once

struct LinkInfo;
class Vexmir;

class LinkManager {
 public:
  // Called under the plug-in mutex, before the changed parameter itself is sent: the twin's message leaves
  // first. info is the source action's link (a copy); intValue is not read.
  static void controlLinker(Vexmir* plug, LinkInfo info, int paramIdx, int intValue, double value);
  // True for the timbre-1 member of a pair that the link always mirrors onto the next index.
  static bool inLinkTable(int paramIdx);
};
