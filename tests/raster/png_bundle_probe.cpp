// A stand-in plug-in library: the raster library linked into a shared object inside a bundle, so that named
// resources resolve against that bundle as they do in the plug-in.
#include "KIT/pix/pix.h"

extern "C" __attribute__((visibility("default"))) PIX_IBitmap* pixProbeLoadNamed(const char* name) {
  return PIX_LoadPNGFromNamedResource(name, nullptr);
}
