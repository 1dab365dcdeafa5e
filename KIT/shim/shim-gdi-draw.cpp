// Pens, brushes, shapes, clipping, bitmaps and copies between contexts.
#include <algorithm>
#include <cstring>

#include "KIT/ptrlist.h"
#include "KIT/shim/shim-gdi-internal.h"
#include "KIT/shim/shim-sys.h"
#include "platform/cocoa/image.h"
#include "platform/graphics/coords.h"
#include "platform/graphics/png.h"

struct HIMAGELIST__ {
  KIT_PtrList<SHIM_GDP_OBJECT> list{4096};
};

using platform::gfx::Color;
using platform::gfx::Context;
using platform::gfx::Rect;

namespace {

Context* gcOf(HDC ctx) {
  return SHIM_GDP_CtxValid(ctx) ? ctx->ctx : nullptr;
}

bool validPen(HGDIOBJ o) {
  return SHIM_GDP_ObjValid(o) && o->type == SHIM_GDI_PEN && o->wid >= 0;
}
bool validBrush(HGDIOBJ o) {
  return SHIM_GDP_ObjValid(o) && o->type == SHIM_GDI_BRUSH && o->wid == 0;
}
bool validBitmap(HGDIOBJ o) {
  return SHIM_GDP_ObjValid(o) && o->type == SHIM_GDI_BITMAP && o->image;
}

// A shape inside the box (x1, y1)-(x2, y2): filled with the current brush, then outlined with the current pen,
// each only when the context holds one.
template <class Fill, class Stroke>
void paintBox(HDC ctx, int x1, int y1, int x2, int y2, Fill fill, Stroke stroke) {
  Context* gc = gcOf(ctx);
  if (!gc) return;
  const Rect r = SHIM_GDP_Rect(RECT{x1, y1, x2, y2});
  if (validBrush(ctx->curbrush)) {
    gc->setFillColor(ctx->curbrush->color);
    fill(gc, r);
  }
  if (validPen(ctx->curpen)) {
    gc->setStrokeColor(ctx->curpen->color);
    stroke(gc, r);
  }
}

HGDIOBJ makeColourObject(int kind, int width, int colour, float alpha) {
  SHIM_GDP_OBJECT* o = GDP_OBJECT_NEW();
  o->type = kind;
  o->wid = width < 0 ? 0 : width;
  o->color = platform::gfx::colorFromRGB(colour, alpha);
  o->hasColor = true;
  return o;
}

// Pen width as stroked: 0 means one unit.
float strokeWidth(HGDIOBJ pen) {
  return pen->wid ? static_cast<float>(pen->wid) : 1.0f;
}

void usePen(Context* gc, HGDIOBJ pen) {
  gc->setStrokeColor(pen->color);
  gc->setLineWidth(strokeWidth(pen));
}

const int kSysColors[10] = {0x606060, 0xE0E0E0, 0xC0C0C0, 0x000000, 0xC0C0C0,
                            0x202020, 0x303030, 0xC0C0C0, 0xFFF0C8, 0x000000};

// The platform's active dialog background.
constexpr int kDialogBackground = 0xECECEC;

}  // namespace

HPEN CreatePen(int, int width, int colour) {
  return makeColourObject(SHIM_GDI_PEN, width, colour, 1.0f);
}

HPEN CreatePenAlpha(int, int width, int colour, float alpha) {
  return makeColourObject(SHIM_GDI_PEN, width, colour, alpha);
}

HBRUSH CreateSolidBrush(int colour) {
  return makeColourObject(SHIM_GDI_BRUSH, 0, colour, 1.0f);
}

HBRUSH CreateSolidBrushAlpha(int colour, float alpha) {
  return makeColourObject(SHIM_GDI_BRUSH, 0, colour, alpha);
}

void MoveToEx(HDC ctx, int x, int y, POINT* old) {
  if (!SHIM_GDP_CtxValid(ctx)) return;
  if (old) {
    // Kept as a float, a position next to an end of the int range has rounded past it.
    old->x = platform::intCoord(ctx->lastpos_x);
    old->y = platform::intCoord(ctx->lastpos_y);
  }
  ctx->lastpos_x = static_cast<float>(x);
  ctx->lastpos_y = static_cast<float>(y);
}

void SHIM_LineTo(HDC ctx, int x, int y) {
  Context* gc = gcOf(ctx);
  if (!gc || !validPen(ctx->curpen)) return;
  usePen(gc, ctx->curpen);
  // Shifting both ends by half the width makes a one-unit line cover whole pixels.
  const float h = strokeWidth(ctx->curpen) * 0.5f;
  gc->beginPath();
  gc->moveTo(ctx->lastpos_x + h, ctx->lastpos_y + h);
  gc->lineTo(x + h, y + h);
  gc->strokePath();
  ctx->lastpos_x = static_cast<float>(x);
  ctx->lastpos_y = static_cast<float>(y);
}

void PolyPolyline(HDC ctx, const POINT* points, const unsigned* counts, int polylines) {
  Context* gc = gcOf(ctx);
  if (!gc || !points || !counts || polylines < 1 || !validPen(ctx->curpen)) return;
  usePen(gc, ctx->curpen);
  const float h = strokeWidth(ctx->curpen) * 0.5f;
  gc->beginPath();
  for (int i = 0; i < polylines; ++i) {
    const unsigned n = counts[i];
    if (n == 0) continue;
    if (n >= 2) {
      gc->moveTo(points[0].x + h, points[0].y + h);
      for (unsigned k = 1; k < n; ++k) gc->lineTo(points[k].x + h, points[k].y + h);
    }
    points += n;
  }
  gc->strokePath();
}

void PolyBezierTo(HDC ctx, const POINT* points, int count) {
  Context* gc = gcOf(ctx);
  if (!gc || !points || count < 3 || !validPen(ctx->curpen)) return;
  usePen(gc, ctx->curpen);
  gc->beginPath();
  gc->moveTo(ctx->lastpos_x, ctx->lastpos_y);
  int i = 0;
  for (; count - i >= 3; i += 3) {
    gc->curveTo(static_cast<float>(points[i].x), static_cast<float>(points[i].y), static_cast<float>(points[i + 1].x),
                static_cast<float>(points[i + 1].y), static_cast<float>(points[i + 2].x),
                static_cast<float>(points[i + 2].y));
    ctx->lastpos_x = static_cast<float>(points[i + 2].x);
    ctx->lastpos_y = static_cast<float>(points[i + 2].y);
  }
  gc->strokePath();
}

void SHIM_Polygon(HDC ctx, const POINT* points, int count) {
  Context* gc = gcOf(ctx);
  if (!gc || !points || count < 2) return;
  const bool brush = validBrush(ctx->curbrush), pen = validPen(ctx->curpen);
  if (!brush && !pen) return;
  auto tracePath = [&]() {
    gc->beginPath();
    gc->moveTo(static_cast<float>(points[0].x), static_cast<float>(points[0].y));
    for (int i = 1; i < count; ++i) gc->lineTo(static_cast<float>(points[i].x), static_cast<float>(points[i].y));
  };
  if (brush) {
    gc->setFillColor(ctx->curbrush->color);
    tracePath();
    gc->fillPath();
  }
  if (pen) {
    usePen(gc, ctx->curpen);
    tracePath();
    gc->strokePath();
  }
}

void RoundRect(HDC ctx, int x1, int y1, int x2, int y2, int w, int h) {
  using platform::satAdd;
  w /= 3;
  h /= 3;
  const int left = satAdd(x1, w), right = satAdd(x2, -w), top = satAdd(y1, h), bottom = satAdd(y2, -h);
  const POINT pts[10] = {{x1, top},   {left, y1}, {right, y1},  {x2, top}, {x2, bottom},
                         {right, y2}, {left, y2}, {x1, bottom}, {x1, top}, {left, y1}};
  SHIM_Polygon(ctx, pts, 10);
}

void Rectangle(HDC ctx, int x1, int y1, int x2, int y2) {
  paintBox(
      ctx, x1, y1, x2, y2, [](Context* gc, const Rect& r) { gc->fillRect(r); },
      [ctx](Context* gc, const Rect& r) {
        gc->strokeRect(r, ctx->curpen->wid < 2 ? 1.0f : static_cast<float>(ctx->curpen->wid));
      });
}

void Ellipse(HDC ctx, int x1, int y1, int x2, int y2) {
  paintBox(
      ctx, x1, y1, x2, y2, [](Context* gc, const Rect& r) { gc->fillEllipse(r); },
      [](Context* gc, const Rect& r) { gc->strokeEllipse(r); });
}

void SHIM_FillRect(HDC ctx, const RECT* r, HBRUSH brush) {
  Context* gc = gcOf(ctx);
  if (!gc || !r || !validBrush(brush)) return;
  gc->setFillColor(brush->color);
  gc->fillRect(SHIM_GDP_Rect(*r));
}

void SHIM_SetPixel(HDC ctx, int x, int y, int colour) {
  Context* gc = gcOf(ctx);
  if (!gc) return;
  // The pixel's own unit square: a stroke centred on its corner would smear over four pixels.
  const Color saved = gc->fillColor();
  gc->setFillColor(platform::gfx::colorFromRGB(colour, 1.0f));
  gc->fillRect({static_cast<float>(x), static_cast<float>(y), 1, 1});
  gc->setFillColor(saved);
}

void SHIM_FillDialogBackground(HDC ctx, const RECT* r, int) {
  Context* gc = gcOf(ctx);
  if (!gc || !r) return;
  gc->setFillColor(platform::gfx::colorFromRGB(kDialogBackground, 1.0f));
  gc->fillRect(SHIM_GDP_Rect(*r));
}

void SHIM_PushClipRegion(HDC ctx) {
  if (Context* gc = gcOf(ctx)) gc->save();
}

void SHIM_SetClipRegion(HDC ctx, const RECT* r) {
  Context* gc = gcOf(ctx);
  if (!gc || !r) return;
  gc->clipToRect(SHIM_GDP_Rect(*r));
}

void SHIM_PopClipRegion(HDC ctx) {
  if (Context* gc = gcOf(ctx)) gc->restore();
}

SHIM_GDP_IMAGE::~SHIM_GDP_IMAGE() {
  cocoa::releaseObject(platform_);
}

cocoa::Image* SHIM_GDP_IMAGE::platformImage() {
  if (!platform_ && width > 0 && height > 0) {
    platform_ = new cocoa::Image(width, height);
    for (size_t i = 0; i < static_cast<size_t>(width) * height; ++i) {
      const uint8_t* p = &pixels[i * 4];
      platform_->pixels()[i] = cocoa::rgba(p[1], p[2], p[3], p[0]);
    }
  }
  return platform_;
}

HBITMAP CreateBitmap(int width, int height, int, int bitsPerPixel, const void* bits) {
  // Rows are always read as width x 4 bytes, so only 32 bits a pixel can be meant.
  if (width < 1 || height < 1 || bitsPerPixel != 32 || static_cast<long long>(width) * height > (1 << 26))
    return nullptr;
  auto image = std::make_shared<SHIM_GDP_IMAGE>();
  image->width = width;
  image->height = height;
  image->pixels.assign(static_cast<size_t>(width) * height * 4, 0);
  if (bits) std::memcpy(image->pixels.data(), bits, image->pixels.size());
  SHIM_GDP_OBJECT* o = GDP_OBJECT_NEW();
  o->type = SHIM_GDI_BITMAP;
  o->wid = 1;
  o->image = std::move(image);
  return o;
}

HGDIOBJ CreateIconIndirect(const ICONINFO* info) {
  if (!info || !info->fIcon || !validBitmap(info->hbmColor)) return nullptr;
  SHIM_GDP_OBJECT* o = GDP_OBJECT_NEW();
  o->type = SHIM_GDI_BITMAP;
  o->wid = 1;
  o->image = info->hbmColor->image;
  return o;
}

void DrawImageInRect(HDC ctx, HGDIOBJ image, const RECT* r) {
  Context* gc = gcOf(ctx);
  if (!gc || !r || !validBitmap(image)) return;
  const SHIM_GDP_IMAGE& img = *image->image;
  gc->save();
  // Undo the flip for the draw so that the image's first row lands at the rectangle's top.
  gc->scale(1, -1);
  const Rect box = SHIM_GDP_Rect(*r);
  gc->drawImage({img.pixels.data(), img.width, img.height, img.width * 4, true},
                {box.x, -static_cast<float>(r->bottom), box.w, box.h}, 1.0f);
  gc->restore();
}

int GetObject(HGDIOBJ obj, int size, void* out) {
  if (out && size > 0) std::memset(out, 0, static_cast<size_t>(size));
  if (!out || size != static_cast<int>(sizeof(BITMAP)) || !validBitmap(obj)) return 0;
  BITMAP* bm = static_cast<BITMAP*>(out);
  bm->bmWidth = obj->image->width;
  bm->bmHeight = obj->image->height;
  return 1;
}

HBITMAP LoadNamedImage(const char* name, bool magentaTransparent) {
  if (!name) return nullptr;
  auto image = std::make_shared<SHIM_GDP_IMAGE>();
  platform::gfx::DecodedImage decoded;
  if (std::strchr(name, '/') && platform::gfx::loadPngFile(name, decoded)) {
    image->width = decoded.width;
    image->height = decoded.height;
    image->pixels = std::move(decoded.pixels);
  } else {
    // The application's image of that name (its bundle's resources).
    cocoa::Image* named = cocoa::Image::named(name);
    if (!named) return nullptr;
    image->width = named->width();
    image->height = named->height();
    image->pixels.resize(static_cast<size_t>(image->width) * image->height * 4);
    for (int i = 0, n = image->width * image->height; i < n; ++i) {
      const uint32_t px = named->pixels()[i];  // bytes R, G, B, A
      uint8_t* out = &image->pixels[static_cast<size_t>(i) * 4];
      out[0] = static_cast<uint8_t>(px >> 24);
      out[1] = static_cast<uint8_t>(px);
      out[2] = static_cast<uint8_t>(px >> 8);
      out[3] = static_cast<uint8_t>(px >> 16);
    }
    named->release();
  }
  if (magentaTransparent)
    for (size_t i = 0; i < image->pixels.size(); i += 4) {
      uint8_t* p = &image->pixels[i];
      if (p[1] == 255 && p[2] == 0 && p[3] == 255) p[0] = p[1] = p[2] = p[3] = 0;
    }
  SHIM_GDP_OBJECT* o = GDP_OBJECT_NEW();
  o->type = SHIM_GDI_BITMAP;
  o->wid = 1;
  o->image = std::move(image);
  return o;
}

HIMAGELIST ImageList_CreateEx() {
  return new HIMAGELIST__();
}

int ImageList_ReplaceIcon(HIMAGELIST list, int index, HGDIOBJ icon) {
  if (!list || !validBitmap(icon)) return -1;
  SHIM_GDP_OBJECT* entry = GDP_OBJECT_NEW();
  entry->type = SHIM_GDI_BITMAP;
  entry->wid = 1;
  entry->image = icon->image;
  if (index >= 0 && index < list->list.GetSize()) {
    if (SHIM_GDP_OBJECT* old = list->list.Get(index)) DeleteObject(old);
    list->list.Set(index, entry);
    return index;
  }
  if (!list->list.Add(entry)) {
    DeleteObject(entry);
    return -1;
  }
  return list->list.GetSize() - 1;
}

BOOL ImageList_Remove(HIMAGELIST list, int index) {
  if (!list || index >= list->list.GetSize()) return FALSE;
  if (index < 0) {
    for (int i = 0; i < list->list.GetSize(); ++i)
      if (SHIM_GDP_OBJECT* o = list->list.Get(i)) DeleteObject(o);
    while (list->list.GetSize()) list->list.Delete(list->list.GetSize() - 1);
    return TRUE;
  }
  if (SHIM_GDP_OBJECT* o = list->list.Get(index)) DeleteObject(o);
  list->list.Set(index, nullptr);
  return TRUE;
}

void ImageList_Destroy(HIMAGELIST list) {
  if (!list) return;
  ImageList_Remove(list, -1);
  delete list;
}

int ImageList_GetImageCount(HIMAGELIST list) {
  return list ? list->list.GetSize() : 0;
}

HGDIOBJ ImageList_GetImage(HIMAGELIST list, int index) {
  return list ? list->list.Get(index) : nullptr;
}

void BitBlt(HDC out, int x, int y, int w, int h, HDC in, int xin, int yin, int mode) {
  StretchBlt(out, x, y, w, h, in, xin, yin, w, h, mode);
}

void StretchBlt(HDC out, int x, int y, int w, int h, HDC in, int xin, int yin, int win, int hin, int mode) {
  Context* dst = gcOf(out);
  Context* src = gcOf(in);
  if (!dst || !src || !in->ownedbuf || win <= 0 || hin <= 0) return;
  const int srcW = src->width(), srcH = src->height();
  int cw = win, ch = hin;
  if (xin < 0) {
    x = platform::satAdd(x, -(static_cast<long long>(xin) * w) / win);
    cw += xin;
    xin = 0;
  }
  if (yin < 0) {
    y = platform::satAdd(y, -(static_cast<long long>(yin) * h) / hin);
    ch += yin;
    yin = 0;
  }
  cw = std::min(cw, srcW - xin);
  ch = std::min(ch, srcH - yin);
  if (cw <= 0 || ch <= 0) return;
  int dw = w, dh = h;
  if (w != win && cw != win) dw = static_cast<int>(static_cast<long long>(w) * cw / win);
  if (h != hin && ch != hin) dh = static_cast<int>(static_cast<long long>(h) * ch / hin);
  // When the source was cut but the destination size was not scaled (w equal to win), copy one to one.
  if (w == win) dw = cw;
  if (h == hin) dh = ch;
  const uint8_t* pixels = src->pixels() + static_cast<size_t>(yin) * src->rowBytes() + static_cast<size_t>(xin) * 4;
  dst->save();
  dst->scale(1, -1);
  dst->drawImage({pixels, cw, ch, src->rowBytes(), mode == SRCCOPY_USEALPHA},
                 {static_cast<float>(x), -(static_cast<float>(y) + static_cast<float>(dh)), static_cast<float>(dw),
                  static_cast<float>(dh)},
                 1.0f);
  dst->restore();
}

int GetSysColor(int index) {
  return index >= 0 && index < 10 ? kSysColors[index] : 0;
}
