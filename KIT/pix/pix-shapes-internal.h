// Helpers shared by the shape units (lines, polygons, circles, glyphs, curves); not part of the interface.
#pragma once

#include <cmath>
#include <cstdint>

#include "KIT/pix/pix-internal.h"

namespace pix_detail {

// The pixels of a drawable bitmap, or false when there is nothing to draw into.
struct Surface {
  PIX_pixel* bits;
  int w, h, span;
  bool flipped;
};

inline bool surfaceOf(PIX_IBitmap* bm, Surface* s) {
  if (!bm) return false;
  s->bits = bm->getBits();
  s->w = bm->getWidth();
  s->h = bm->getHeight();
  s->span = bm->getRowSpan();
  if (!s->bits || s->w < 1 || s->h < 1 || s->span < s->w) return false;
  s->flipped = bm->isFlipped();
  return true;
}

inline PIX_pixel* pixelAt(const Surface& s, int x, int y) {
  return s.bits + (intptr_t)y * s.span + x;
}

// Shapes take the weight alpha * 256 (single-precision product) truncated. Weights are meant to lie within
// 0..256; beyond +-4096 (alpha 16) the combiner formulas would overflow an int, so the weight stops there.
inline int shapeWeight(float alpha) {
  int w = truncSat((double)(alpha * 256.0f));
  return w > 4096 ? 4096 : (w < -4096 ? -4096 : w);
}

// The colour word split into the channels a combiner takes.
struct Rgba {
  int r, g, b, a;
  explicit Rgba(PIX_pixel c) : r((int)PIX_GETR(c)), g((int)PIX_GETG(c)), b((int)PIX_GETB(c)), a((int)PIX_GETA(c)) {}
};

template <class C>
inline void combine(PIX_pixel* p, const Rgba& c, int w) {
  C::doPix((unsigned char*)p, c.r, c.g, c.b, c.a, w);
}

// Calls f(CombinerTag<C>) with the combiner that a shape of mode low byte `lowByte` uses at weight w; false when
// nothing is drawn. Plain (not anti-aliased) copies store at 256 and half-mix at 128; anti-aliased copies always
// go through the weighted copy, because their weights vary per pixel.
template <class F>
bool dispatchShape(int lowByte, int w, bool aa, F&& f) {
  if (w == 0) return false;
  switch (lowByte) {
    case 0:
      if (w < 1) return false;
      if (!aa && w == 256)
        f(CombinerTag<_PIX_CombinePixelsClobberNoClamp>());
      else if (!aa && w == 128)
        f(CombinerTag<_PIX_CombinePixelsHalfMixNoClamp>());
      else
        f(CombinerTag<_PIX_CombinePixelsCopyNoClamp>());
      return true;
    default:
      return dispatchMixCombiner(lowByte, f);
  }
}

inline bool finite(float v) {
  return std::isfinite(v);
}

}  // namespace pix_detail
