// The records behind HDC and HGDIOBJ and the pools that recycle them; for the window layer's own units.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "KIT/shim/shim-gdi.h"
#include "platform/graphics/graphics.h"
#include "platform/text/text.h"

// Object kinds.
#define SHIM_GDI_PEN 1
#define SHIM_GDI_BRUSH 2
#define SHIM_GDI_FONT 3
#define SHIM_GDI_BITMAP 4

namespace cocoa {
class Image;
}

// Pixels of a bitmap object: rows of width x 4 bytes, each pixel alpha then red, green, blue. They never change once
// made, so the platform image made of them on first demand serves every bitmap object that shares them.
struct SHIM_GDP_IMAGE {
  SHIM_GDP_IMAGE() = default;
  ~SHIM_GDP_IMAGE();
  SHIM_GDP_IMAGE(const SHIM_GDP_IMAGE&) = delete;
  SHIM_GDP_IMAGE& operator=(const SHIM_GDP_IMAGE&) = delete;
  // The platform image of these pixels (owned here), or null for an empty image.
  cocoa::Image* platformImage();

  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;

 private:
  cocoa::Image* platform_ = nullptr;
};

struct SHIM_GDP_CTX {
  platform::gfx::Context* ctx = nullptr;
  void* ownedbuf = nullptr;  // heap block behind a memory context; context and block are freed with the record
  HGDIOBJ curpen = nullptr;
  HGDIOBJ curbrush = nullptr;
  HGDIOBJ curfont = nullptr;
  void* platformObject = nullptr;  // a window context's cocoa::FocusLock, ended by ReleaseDC
  // A paint's own context: how many GetDC calls took it and are not released yet (each saved a graphics state).
  int paintHolds = 0;
  int cur_text_color_int = 0;
  int curbkcol = 0;
  int curbkmode = 0;
  float lastpos_x = 0, lastpos_y = 0;
  void* GLgfxctx = nullptr;
  bool _infreelist = false;
  SHIM_GDP_CTX* _next = nullptr;
  bool hasTextColor = false;
  platform::gfx::Color textColor;
};

struct SHIM_GDP_OBJECT {
  int type = 0;
  int additional_refcnt = 0;
  bool hasColor = false;
  platform::gfx::Color color;
  // Pen: line width (0 draws one unit wide). Pen or brush: negative for the empty stock objects.
  // Bitmap: non-zero when the image is owned and released with the object.
  int wid = 0;
  std::shared_ptr<SHIM_GDP_IMAGE> image;
  float font_rotation = 0;
  bool _infreelist = false;
  SHIM_GDP_OBJECT* _next = nullptr;
  platform::text::FontRef font;
  char font_quality = 0;
};

// A cleared record from the pool, or a new one.
SHIM_GDP_CTX* SHIM_GDP_CTX_NEW();
SHIM_GDP_OBJECT* GDP_OBJECT_NEW();

// True for a context record that may be used (not null, not in the pool).
bool SHIM_GDP_CtxValid(HDC ctx);
// True for a handle that is a live object (5 or above, not in the pool).
bool SHIM_GDP_ObjValid(HGDIOBJ obj);

// A rectangle in the platform's floats; its width and height are taken in 64 bits, as it may span the int range.
platform::gfx::Rect SHIM_GDP_Rect(const RECT& r);

// Pool sizes, for tests.
int SHIM_GDP_CtxPoolSize();
int SHIM_GDP_ObjPoolSize();
// The cached platform name of a font key ("" when absent), for tests.
bool SHIM_GDP_FontNameCached(const char* key);
