// A bundle that stands in for an Audio Unit's view bundle: its exported factory makes the view.
#include "platform/cocoa/view.h"

struct SHIM_AudioUnitRecord;

extern "C" __attribute__((visibility("default"))) cocoa::View* VexmirTestView_uiViewForAudioUnit(SHIM_AudioUnitRecord*,
                                                                                                 double width,
                                                                                                 double height) {
  return new cocoa::View(cocoa::Rect{0, 0, width > 0 ? width : 120, height > 0 ? height : 80});
}
