// The control images: knob strips, switches, buttons, tabs, LEDs, locks, fader handles and the overlays.
#pragma once

#include <string>

#include "tools/vexmir-images/Theme.h"

namespace images {

// Draws every control image into dir (file names as the image table lists them); false on a write error.
bool drawControls(const std::string& dir);

}  // namespace images
