// The librarian tab's own controls, made once the editor's surface is built.
#include "KIT/IEffect/ControlLayer.h"
#include "KIT/IEffect/IEffectBase.h"
#include "KIT/IEffect/IGraphics.h"
#include "src/IPopupMenuControlEditMenus.h"
#include "src/IPopupMenuControlPatchUpper.h"
#include "src/LibrarianEditor.h"
#include "src/LibrarianHost.h"
#include "src/LibrarianViewControl.h"
#include "src/PatchLibrarian.h"
#include "src/VexmirParams.h"

namespace {

IRECT scaled(int l, int t, int r, int b, double s) {
  return IRECT(static_cast<int>(l * s), static_cast<int>(t * s), static_cast<int>(r * s), static_cast<int>(b * s));
}

// The first control bound to a parameter, on the surface or in any layer.
IControl* firstControlOf(IGraphics* surface, int paramIdx) {
  for (int i = 0; i < surface->NControls(); ++i)
    if (IControl* c = surface->GetControl(i); c && c->ParamIdx() == paramIdx) return c;
  for (int i = 0; i < surface->NLayers(); ++i)
    if (ControlLayer* layer = surface->GetLayer(i))
      if (IControl* c = layer->getControlFromParam(paramIdx)) return c;
  return nullptr;
}

}  // namespace

std::vector<ControlLayer*> LibrarianEditor::buildTab(IGraphics* surface, double scale, IRECT viewRect, int viewParam,
                                                     ControlLayer* tabLayer) {
  std::vector<ControlLayer*> made;
  if (!surface) return made;
  // The slot view draws the programs' names over the tab's picture of the slots.
  if (tabLayer && viewParam >= 0 && !viewRect.Empty()) {
    const IRECT r = scaled(viewRect.L, viewRect.T, viewRect.R, viewRect.B, scale);
    IBitmap none(nullptr, r.W(), r.H(), 1);
    view_ = new LibrarianViewControl(this, plug_, r.L, r.T, viewParam, &none, r, librarian_, scale);
    tabLayer->controls.Add(view_);
  }
  auto layerFor = [&](int id, const char* name, IControl* control) {
    auto* layer = new ControlLayer(id, name);
    layer->controls.Add(control);
    surface->AttachLayer(layer);
    made.push_back(layer);
  };
  upperChooser_ = new LeftPatchPopupMenu(plug_, this, scaled(414, 39, 829, 55, scale));
  lowerChooser_ = new RightPatchPopupMenu(plug_, this, scaled(414, 342, 829, 360, scale));
  searchChooser_ = new RightSearchPopupMenu(plug_, this, scaled(414, 342, 829, 360, scale));
  layerFor(70, "LeftPatchPopupMenu", upperChooser_);
  layerFor(71, "RightPatchPopupMenu", lowerChooser_);
  layerFor(78, "RightSearchPopupMenu", searchChooser_);
  layerFor(74, "BANKEDITMENU", new BankEditPopupMenu(plug_, this, scaled(861, 39, 940, 59, scale)));
  attachSelectionControls(firstControlOf(surface, kPatchSelectionListUpper),
                          firstControlOf(surface, kPatchSelectionListLower));
  patchTypeChanged(0, 0, false);
  // What the first scan passed over is said as soon as the tab exists.
  reportScanNotes();
  return made;
}
