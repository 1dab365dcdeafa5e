// Coverage masks drawn in one colour: each mask byte scales the weight of its pixel.
#include "KIT/pix/pix-shapes-internal.h"
#include "KIT/pix/pix.h"

using namespace pix_detail;

template <class C>
class GlyphDrawImpl {
 public:
  static void DrawGlyph(const unsigned char* frb, unsigned int* dest, int w, int h, unsigned int color, int span,
                        int src_span, int aa) {
    const Rgba c(color);
    for (int y = 0; y < h; y++, frb += src_span, dest += span)
      for (int x = 0; x < w; x++) {
        const int v = frb[x];
        if (v) combine<C>(dest + x, c, v * aa / 256);
      }
  }
};

void PIX_DrawGlyphEx(PIX_IBitmap* dest, int x, int y, unsigned int color, const unsigned char* alphas, int glyph_w,
                     int glyph_span, int glyph_h, float alpha, int mode) {
  Surface s;
  if (!alphas || !surfaceOf(dest, &s)) return;
  const int64_t gw = glyph_w, gh = glyph_h;
  if (x <= -gw || y <= -gh) return;
  const int64_t x0 = x < 0 ? 0 : x, y0 = y < 0 ? 0 : y;
  if (x0 >= s.w || y0 >= s.h) return;
  int64_t vw = gw + (x < 0 ? x : 0), vh = gh + (y < 0 ? y : 0);
  if (y0 > s.h - vh) vh = s.h - y0;
  if (x0 > s.w - vw) vw = s.w - x0;
  if (vw < 1 || vh < 1) return;
  const int aa = truncSat((double)alpha * 256.0);
  const int weight = aa > 4096 ? 4096 : (aa < -4096 ? -4096 : aa);
  const int row = s.flipped ? s.h - 1 - (int)y0 : (int)y0;
  const int span = s.flipped ? -s.span : s.span;
  unsigned int* px = pixelAt(s, (int)x0, row);
  const unsigned char* mask =
      alphas + (intptr_t)(x < 0 ? -(int64_t)x : 0) + (intptr_t)(y < 0 ? -(int64_t)y : 0) * glyph_span;
  dispatchShape(mode & 0xFF, weight, true, [&](auto tag) {
    typedef typename decltype(tag)::type C;
    GlyphDrawImpl<C>::DrawGlyph(mask, px, (int)vw, (int)vh, color, span, glyph_span, weight);
  });
}

void PIX_DrawGlyph(PIX_IBitmap* dest, int x, int y, unsigned int color, const unsigned char* alphas, int glyph_w,
                   int glyph_h, float alpha, int mode) {
  PIX_DrawGlyphEx(dest, x, y, color, alphas, glyph_w, glyph_w, glyph_h, alpha, mode);
}
