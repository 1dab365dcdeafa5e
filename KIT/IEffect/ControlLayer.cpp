#include "KIT/IEffect/ControlLayer.h"

#include <climits>

#include <utility>

#include "KIT/IEffect/IControl.h"
#include "KIT/IEffect/IGraphics.h"

ControlLayer::ControlLayer(int layerId, std::string layerName) : id(layerId), name(std::move(layerName)) {}

ControlLayer::~ControlLayer() {
  controls.Empty(true);
  childLayers.Empty(true);
}

void ControlLayer::Hide(bool hide) {
  visible = !hide;
  setControlsDirty();
  for (int i = 0; i < controls.GetSize(); ++i) controls.Get(i)->Hide(hide);
  for (int i = 0; i < childLayers.GetSize(); ++i) {
    ControlLayer* child = childLayers.Get(i);
    if (hide || child->id == selectedZone) child->Hide(hide);
  }
}

void ControlLayer::GrayOut(bool gray) {
  for (int i = 0; i < controls.GetSize(); ++i) controls.Get(i)->GrayOut(gray);
  for (int i = 0; i < childLayers.GetSize(); ++i) {
    ControlLayer* child = childLayers.Get(i);
    if (gray || child->id == selectedZone) child->GrayOut(gray);
  }
}

void ControlLayer::GrayOutCustomZone(bool gray, int zone) {
  selectedZone = zone;
  if (zone < 10 || zone > 252) return;
  for (int i = 0; i < childLayers.GetSize(); ++i)
    if (childLayers.Get(i)->id == zone) childLayers.Get(i)->GrayOut(gray);
}

namespace {
// Which children a selection touches: [lo1, hi1] and [lo2, hi2] beside the ids below 10 (hi < lo: none).
struct Band {
  int lo1, hi1, lo2, hi2;
  bool showAll;  // 200..298: every touched child is shown
};

bool bandOf(int selected, Band* b) {
  if (selected < 10) return false;
  if (selected <= 19) {
    *b = {0, 19, 70, 299, false};
    return true;
  }
  if (selected <= 99) {
    const int lo = selected / 10 * 10;
    *b = {lo, lo + 9, 200, 299, false};
    return true;
  }
  if (selected <= 189) {
    if (selected % 10 == 9) return false;
    const int lo = selected / 10 * 10;
    *b = {lo, lo + 9, 200, 299, false};
    return true;
  }
  if (selected <= 199) {
    // 199, like 109 .. 189, is the band's reserved last id and selects nothing.
    if (selected == 199) return false;
    *b = {190, 199, 1, 0, false};
    return true;
  }
  if (selected <= 298) {
    *b = {200, 299, 1, 0, true};
    return true;
  }
  if (selected == 299) return false;
  *b = {300, INT_MAX, 1, 0, false};
  return true;
}
}  // namespace

void ControlLayer::showMultiLayers(int selected) {
  selectedZone = selected;
  Band b;
  if (!bandOf(selected, &b)) return;
  for (int i = 0; i < childLayers.GetSize(); ++i) {
    ControlLayer* child = childLayers.Get(i);
    const int id = child->id;
    const bool touched = id < 10 || (id >= b.lo1 && id <= b.hi1) || (id >= b.lo2 && id <= b.hi2);
    if (!touched) continue;
    child->Hide(b.showAll ? false : id != selected);
  }
}

void ControlLayer::GrayOutUserArp(bool, int zone, int limit) {
  selectedZone = zone;
  if (zone < 200 || zone > 252) return;
  for (int i = 0; i < childLayers.GetSize(); ++i) {
    ControlLayer* child = childLayers.Get(i);
    child->GrayOut(child->id > limit && child->id < 253);
  }
}

void ControlLayer::setControlsDirty() {
  for (int i = 0; i < controls.GetSize(); ++i) controls.Get(i)->SetDirty(false);
  for (int i = 0; i < childLayers.GetSize(); ++i) childLayers.Get(i)->setControlsDirty();
}

void ControlLayer::setIgnoreHiddenWhenUpdatingScreen(bool ignore) {
  ignoreHidden = ignore;
  if (IControl* first = controls.Get(0)) first->SetIgnoreHidden(ignore);
  for (int i = 0; i < childLayers.GetSize(); ++i) childLayers.Get(i)->setIgnoreHiddenWhenUpdatingScreen(ignore);
}

bool ControlLayer::unionDirty(const KIT_PtrList<IControl>& controls, int first, const KIT_PtrList<ControlLayer>& layers,
                              IRECT* r, std::vector<IRECT>* parts, bool examined) {
  bool dirty = false;
  for (int i = first; i < controls.GetSize(); ++i) {
    IControl* c = controls.Get(i);
    // A control just hidden leaves its old picture on the screen until its area is painted again.
    const bool looked = examined && (!c->IsHidden() || c->GetIgnoreHidden());
    if ((looked && c->IsDirty()) || (c->IsHidden() && c->IsVacated())) {
      *r = r->Union(*c->GetRECT());
      if (parts && !c->GetRECT()->Empty()) parts->push_back(*c->GetRECT());
      dirty = true;
    }
  }
  for (int i = 0; i < layers.GetSize(); ++i)
    if (layers.Get(i)->isDirty(r, parts, examined)) dirty = true;
  return dirty;
}

bool ControlLayer::isDirty(IRECT* r, std::vector<IRECT>* parts, bool examined) {
  return unionDirty(controls, 0, childLayers, r, parts, examined && (visible || ignoreHidden));
}

void ControlLayer::Draw(IGraphics* graphics, IRECT* r, bool clean) {
  const int n = controls.GetSize();
  if (visible) {
    for (int i = 0; i < n; ++i) {
      IControl* c = controls.Get(i);
      if (!c->IsHidden() && r->Meets(*c->GetRECT())) c->Draw(graphics);
    }
  }
  if (clean)
    for (int i = 0; i < n; ++i) controls.Get(i)->SetClean();
  for (int i = 0; i < childLayers.GetSize(); ++i) childLayers.Get(i)->Draw(graphics, r, clean);
}

void ControlLayer::collectShown(std::vector<IControl*>* out) {
  if (visible)
    for (int i = 0; i < controls.GetSize(); ++i)
      if (!controls.Get(i)->IsHidden()) out->push_back(controls.Get(i));
  for (int i = 0; i < childLayers.GetSize(); ++i) childLayers.Get(i)->collectShown(out);
}

bool ControlLayer::hasHiddenDirty(bool hidden) const {
  hidden = hidden || !visible;
  for (int i = 0; i < controls.GetSize(); ++i) {
    IControl* c = controls.Get(i);
    if ((hidden || c->IsHidden()) && c->IControl::IsDirty()) return true;
  }
  for (int i = 0; i < childLayers.GetSize(); ++i)
    if (childLayers.Get(i)->hasHiddenDirty(hidden)) return true;
  return false;
}

void ControlLayer::cleanIfPainted(IControl* c, bool shown, const std::vector<IRECT>& painted) {
  const IRECT& r = *c->GetRECT();
  bool drawn = !(shown || c->IsVacated()) || !c->IControl::IsDirty() || r.Empty();
  for (const IRECT& p : painted) drawn = drawn || (r.L >= p.L && r.T >= p.T && r.R <= p.R && r.B <= p.B);
  if (drawn) c->SetClean();
}

void ControlLayer::setCleanWithin(const std::vector<IRECT>& painted, bool hidden) {
  hidden = hidden || !visible;
  for (int i = 0; i < controls.GetSize(); ++i)
    cleanIfPainted(controls.Get(i), !hidden && !controls.Get(i)->IsHidden(), painted);
  for (int i = 0; i < childLayers.GetSize(); ++i) childLayers.Get(i)->setCleanWithin(painted, hidden);
}

IControl* ControlLayer::isHit(int x, int y) {
  if (!visible) return nullptr;
  for (int i = childLayers.GetSize() - 1; i >= 0; --i)
    if (IControl* c = childLayers.Get(i)->isHit(x, y)) return c;
  for (int i = controls.GetSize() - 1; i >= 0; --i) {
    IControl* c = controls.Get(i);
    if (!c->IsHidden() && c->IsHit(x, y)) return c;
  }
  return nullptr;
}

IControl* ControlLayer::getControlFromParam(int paramIdx) {
  if (!visible) return nullptr;
  for (int i = childLayers.GetSize() - 1; i >= 0; --i)
    if (IControl* c = childLayers.Get(i)->getControlFromParam(paramIdx)) return c;
  for (int i = controls.GetSize() - 1; i >= 0; --i)
    if (controls.Get(i)->ParamIdx() == paramIdx) return controls.Get(i);
  return nullptr;
}

void ControlLayer::SetParameterFromPlug(int paramIdx, double value, bool normalized) {
  for (int i = 0; i < controls.GetSize(); ++i) {
    IControl* c = controls.Get(i);
    if (c->ParamIdx() == paramIdx) c->SetValueFromPlug(value);
    const int aux = c->AuxParamIdx(paramIdx);
    if (aux >= 0) c->SetAuxParamValueFromPlug(aux, value);
  }
  for (int i = 0; i < childLayers.GetSize(); ++i) childLayers.Get(i)->SetParameterFromPlug(paramIdx, value, normalized);
}
