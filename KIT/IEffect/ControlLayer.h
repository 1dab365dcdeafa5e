// A named set of controls and child layers shown, hidden and greyed as one: the editor's tabs, timbre pages and
// overlays. Showing a layer brings back only the child page last selected (the selected zone).
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "KIT/IEffect/IGraphicsStructs.h"
#include "KIT/ptrlist.h"

class IControl;
class IGraphics;

class ControlLayer {
 public:
  ControlLayer(int id, std::string name);
  // Deletes the controls last to first, then the child layers last to first.
  ~ControlLayer();
  ControlLayer(const ControlLayer&) = delete;
  ControlLayer& operator=(const ControlLayer&) = delete;

  void Hide(bool hide);
  void GrayOut(bool gray);
  // Stores the zone; greys or un-greys the child of that id when the zone lies in 10..252.
  void GrayOutCustomZone(bool gray, int zone);
  // Stores the zone; for zones 200..252 greys the children whose id lies above limit and below 253 and un-greys
  // the others.
  void GrayOutUserArp(bool gray, int zone, int limit);
  // Stores the zone and shows the child of that id among the children of its band of ten, hiding the rest of
  // the band; children of other bands keep their state (ids below 10 and 200..299 belong to every band).
  void showMultiLayers(int selected);
  void setControlsDirty();
  void setIgnoreHiddenWhenUpdatingScreen(bool ignore);

  // Only vacated controls are looked at while the layer (or, with `examined` false, an ancestor) is hidden and does
  // not ignore hiding.
  bool isDirty(IRECT* r, std::vector<IRECT>* parts = nullptr, bool examined = true);
  // Joins to r the rectangles of the dirty controls from index first on (hidden ones only when they ignore hiding;
  // none when `examined` is false) and of the vacated ones, then those of the layers; true when anything was. The
  // surface and every layer collect their own this way. With parts, each rectangle is also kept on its own.
  static bool unionDirty(const KIT_PtrList<IControl>& controls, int first, const KIT_PtrList<ControlLayer>& layers,
                         IRECT* r, std::vector<IRECT>* parts = nullptr, bool examined = true);
  // Draws the visible controls that meet r, then the child layers; with setClean the controls are marked drawn.
  void Draw(IGraphics* graphics, IRECT* r, bool setClean = true);
  // Marks this layer's controls and its descendants' drawn, except a shown control dirty beyond every painted area
  // (it changed after the redraw was asked for and is painted whole with the next one). `hidden`: an ancestor is.
  void setCleanWithin(const std::vector<IRECT>& painted, bool hidden = false);
  // The rule for one control: clean unless it is shown (or vacated), dirty, and not wholly inside one of the painted
  // areas.
  static void cleanIfPainted(IControl* control, bool shown, const std::vector<IRECT>& painted);
  // Appends the controls a redraw draws: those not hidden, of this layer when it is visible, and of its children.
  void collectShown(std::vector<IControl*>* out);
  // True when a control not drawn (hidden, or in a hidden layer; `hidden`: an ancestor is) is still marked dirty.
  bool hasHiddenDirty(bool hidden) const;
  IControl* isHit(int x, int y);
  IControl* getControlFromParam(int paramIdx);
  // value is already normalized; hidden pages are kept up to date too.
  void SetParameterFromPlug(int paramIdx, double value, bool normalized);

  // The builder fills the two lists directly; the layer owns what they hold.
  KIT_PtrList<IControl> controls{256};
  KIT_PtrList<ControlLayer> childLayers{64};

  int getId() const { return id; }
  bool isVisible() const { return visible; }
  const std::string& getName() const { return name; }
  int getSelectedZone() const { return selectedZone; }
  void setSelectedZone(int zone) { selectedZone = zone; }
  bool getIgnoreHidden() const { return ignoreHidden; }

 private:
  int id;
  // Shown and hidden by the transfer jobs and the MIDI input as well as the main thread: atomic.
  std::atomic<bool> visible{false};
  std::string name;
  std::atomic<int> selectedZone{0};
  bool ignoreHidden = false;
};
