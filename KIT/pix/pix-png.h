// PNG decoding into raster bitmaps.
#pragma once

#include "KIT/pix/pix-bitmap.h"

// Each loader returns the filled bitmap: bmbase when given (resized to the image), else a new PIX_MemBitmap that
// the caller owns; null when the image cannot be read. A corrupt or truncated image gives null and releases all it
// allocated; a given bitmap is never deleted, but may be resized and partly filled.
PIX_IBitmap* PIX_LoadPNG(const char* filename, PIX_IBitmap* bmbase = nullptr);
// Loads "<bundle>/Contents/Resources/<name>" of the plug-in bundle holding the raster library.
PIX_IBitmap* PIX_LoadPNGFromNamedResource(const char* name, PIX_IBitmap* bmbase = nullptr);
PIX_IBitmap* PIX_LoadPNGFromMemory(const void* data, int buflen, PIX_IBitmap* bmbase = nullptr);
// There are no numbered resources on this platform: always null.
PIX_IBitmap* PIX_LoadPNGFromResource(void* hInst, int resid, PIX_IBitmap* bmbase = nullptr);

// One entry of the list of image loaders.
struct PIX_ImageLoader_rec {
  PIX_IBitmap* (*loadfunc)(const char* filename, bool checkFileName, PIX_IBitmap* bmbase);
  // Filter list: pairs of description and pattern, each ending in a zero byte, the list in two.
  const char* (*get_extlist)();
  PIX_ImageLoader_rec* _next;
};
// First loader entry, or null.
extern PIX_ImageLoader_rec* PIX_ImageLoader_list;

class PIX_PNGLoader {
 public:
  // With checkFileName, names whose extension is not ".png" (any case) give null without opening anything.
  static PIX_IBitmap* loadfunc(const char* filename, bool checkFileName, PIX_IBitmap* bmbase);
  static const char* get_extlist();
};
extern PIX_ImageLoader_rec PIX_pngldr;
