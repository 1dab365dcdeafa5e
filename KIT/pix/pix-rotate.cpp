// Rotated, delta and transform blits: the destination rectangle walks the source along an affine (or, per grid
// cell, bilinear) path in 16.16 fixed point.
#include <cmath>

#include "KIT/pix/pix-internal.h"
#include "KIT/pix/pix.h"

using namespace pix_detail;

namespace {

inline int64_t clampMag(int64_t v, int64_t limit) {
  return v > limit ? limit : (v < -limit ? -limit : v);
}

// Row starts and per-column steps are kept within these magnitudes: positions beyond them lie tens of thousands of
// pixels outside any source, and the bound keeps every 64-bit sum in range however long the walk.
const int64_t kStartLimit = INT64_C(1) << 52;
const int64_t kStepLimit = INT64_C(1) << 32;

inline __int128 clampMag128(__int128 v, int64_t limit) {
  return v > limit ? limit : (v < -limit ? -limit : v);
}

}  // namespace

template <class C>
class _PIX_Template_Blit3 {
 public:
  static void deltaBlit(unsigned char* dest, unsigned char* src, int w, int h, int isx, int isy, int idsdx, int idtdx,
                        int idsdy, int idtdy, int idsdxdy, int idtdxdy, int left, int top, int right, int bottom,
                        int srcSpan, int destSpan, int alpha, int filterMode) {
    int64_t rowS = isx, rowT = isy, dsdx = idsdx, dtdx = idtdx;
    const bool bilinear = filterMode == 0x100;
    for (int y = 0; y < h; y++, dest += destSpan) {
      int64_t s = rowS, t = rowT;
      unsigned char* d = dest;
      for (int x = 0; x < w; x++, s += dsdx, t += dtdx, d += 4) {
        const int64_t xi = s / 65536, yi = t / 65536;
        if (xi < left || yi < top || xi >= right || yi >= bottom) continue;
        const unsigned char* p = src + (intptr_t)yi * srcSpan + (intptr_t)xi * 4;
        if (!bilinear) {
          C::doPix(d, p[1], p[2], p[3], p[0], alpha);
          continue;
        }
        const unsigned int fx = (unsigned int)(s & 0xFFFF), fy = (unsigned int)(t & 0xFFFF);
        unsigned int c[4];
        if (yi < bottom - 1) {
          const unsigned char* q = p + srcSpan;
          if (xi < right - 1) {
            const unsigned int w11 = (fx * fy) >> 16, w01 = fx - w11, w00 = 65536 - fy - w01, w10 = fy - w11;
            for (int k = 0; k < 4; k++) c[k] = (p[k] * w00 + p[k + 4] * w01 + q[k] * w10 + q[k + 4] * w11) >> 16;
          } else {
            for (int k = 0; k < 4; k++) c[k] = (p[k] * (65536 - fy) + q[k] * fy) >> 16;
          }
        } else if (xi < right - 1) {
          for (int k = 0; k < 4; k++) c[k] = (p[k] * (65536 - fx) + p[k + 4] * fx) >> 16;
        } else {
          for (int k = 0; k < 4; k++) c[k] = p[k];
        }
        C::doPix(d, (int)c[1], (int)c[2], (int)c[3], (int)c[0], alpha);
      }
      rowS = clampMag(rowS + idsdy, kStartLimit);
      rowT = clampMag(rowT + idtdy, kStartLimit);
      dsdx = clampMag(dsdx + idsdxdy, kStepLimit);
      dtdx = clampMag(dtdx + idtdxdy, kStepLimit);
    }
  }
};

namespace {

// A walk set up in source pixels: start point, first- and second-order steps.
struct Walk {
  double sx, sy, dsdx, dtdx, dsdy, dtdy, dsdxdy, dtdxdy;
  bool roundStart;
};

bool finite(const Walk& k) {
  return std::isfinite(k.sx) && std::isfinite(k.sy) && std::isfinite(k.dsdx) && std::isfinite(k.dtdx) &&
         std::isfinite(k.dsdy) && std::isfinite(k.dtdy) && std::isfinite(k.dsdxdy) && std::isfinite(k.dtdxdy);
}

// Source bounds: with the clip flag the source rectangle cut to the bitmap, else the whole bitmap.
void sourceBounds(PIX_IBitmap* src, bool clip, float srcx, float srcy, float srcw, float srch, int* bounds) {
  const int sw = src->getWidth(), sh = src->getHeight();
  if (!clip) {
    bounds[0] = 0, bounds[1] = 0, bounds[2] = sw, bounds[3] = sh;
    return;
  }
  bounds[0] = truncSat(std::max(srcx, 0.0f));
  bounds[1] = truncSat(std::max(srcy, 0.0f));
  bounds[2] = truncSat(std::min((double)srcx + srcw, (double)sw));
  bounds[3] = truncSat(std::min((double)srcy + srch, (double)sh));
}

// Clips the destination rectangle, resolves flipped bitmaps and runs the walk through the combiner the mode
// chooses. Columns and rows cut off at the left and top advance the fixed-point start by whole steps, so the
// visible part lands exactly where an unclipped draw would put it.
void runWalk(PIX_IBitmap* dest, PIX_IBitmap* src, int64_t x, int64_t y, int64_t w, int64_t h, const Walk& k,
             const int* bounds, float alpha, int mode) {
  if (!finite(k) || !std::isfinite(alpha)) return;
  const int64_t dsdx = truncSat(k.dsdx * 65536.0), dtdx = truncSat(k.dtdx * 65536.0);
  const int64_t dsdy = truncSat(k.dsdy * 65536.0), dtdy = truncSat(k.dtdy * 65536.0);
  auto toFixed = [&](double v) {
    return k.roundStart ? truncSat(std::floor(v * 65536.0 + 0.5)) : truncSat(v * 65536.0);
  };
  int64_t s = toFixed(k.sx), t = toFixed(k.sy);
  // Skipping up to 2^32 columns of up to 2^31 each needs more than 64 bits before the result is clamped.
  auto advance = [](int64_t pos, int64_t n, int64_t step) {
    return (int64_t)clampMag128((__int128)pos + (__int128)n * step, kStartLimit);
  };
  if (x < 0) {
    s = advance(s, -x, dsdx), t = advance(t, -x, dtdx);
    w += x;
    x = 0;
  }
  if (y < 0) {
    s = advance(s, -y, dsdy), t = advance(t, -y, dtdy);
    h += y;
    y = 0;
  }
  const int dw = dest->getWidth(), dh = dest->getHeight();
  if (w > dw - x) w = dw - x;
  if (h > dh - y) h = dh - y;
  if (w < 1 || h < 1) return;
  PIX_pixel* sbits = src->getBits();
  PIX_pixel* dbits = dest->getBits();
  if (!sbits || !dbits) return;
  // Bounds beyond the bitmap would let the walk read outside it.
  int left = std::max(bounds[0], 0), top = std::max(bounds[1], 0);
  int right = std::min(bounds[2], src->getWidth()), bottom = std::min(bounds[3], src->getHeight());
  if (left >= right || top >= bottom) return;

  int srcSpan = src->getRowSpan() * 4;
  unsigned char* sp = (unsigned char*)sbits;
  if (src->isFlipped()) {
    sp += (intptr_t)(src->getHeight() - 1) * srcSpan;
    srcSpan = -srcSpan;
  }
  int destSpan = dest->getRowSpan() * 4;
  unsigned char* dp;
  if (dest->isFlipped()) {
    dp = (unsigned char*)(dbits + (intptr_t)(dh - 1 - y) * dest->getRowSpan() + x);
    destSpan = -destSpan;
  } else {
    dp = (unsigned char*)(dbits + (intptr_t)y * dest->getRowSpan() + x);
  }
  const int weight = weightOf((double)alpha);
  const int isx = clampInt(s), isy = clampInt(t);
  dispatchBlitCombiner(mode & 0x100FF, weight, [&](auto tag) {
    typedef typename decltype(tag)::type C;
    _PIX_Template_Blit3<C>::deltaBlit(dp, sp, (int)w, (int)h, isx, isy, (int)dsdx, (int)dtdx, (int)dsdy, (int)dtdy,
                                      truncSat(k.dsdxdy * 65536.0), truncSat(k.dtdxdy * 65536.0), left, top, right,
                                      bottom, srcSpan, destSpan, weight, mode & 0xFF00);
  });
}

}  // namespace

void PIX_RotatedBlit(PIX_IBitmap* dest, PIX_IBitmap* src, int dstx, int dsty, int dstw, int dsth, float srcx,
                     float srcy, float srcw, float srch, float angle, bool cliptosourcerect, float alpha, int mode,
                     float rotxcent, float rotycent) {
  if (!dest || !src || dstw == 0 || dsth == 0) return;
  int bounds[4];
  sourceBounds(src, cliptosourcerect, srcx, srcy, srcw, srch, bounds);
  int64_t x = dstx, y = dsty, w = dstw, h = dsth;
  mirrorNegativeSpan(x, w, srcx, srcw);
  mirrorNegativeSpan(y, h, srcy, srch);
  const float c = (float)std::cos((double)angle), s = (float)std::sin((double)angle);
  const float kx = srcw / (float)w, ky = srch / (float)h;
  Walk k;
  k.dsdx = kx * c;
  k.dsdy = kx * s;
  k.dtdy = ky * c;
  k.dtdx = -(ky * s);
  k.dsdxdy = k.dtdxdy = 0;
  k.sx = srcx - (((float)h * kx * s + (float)w * kx * c - srcw) * 0.5f - rotxcent);
  k.sy = srcy - (((float)h * ky * c - (float)w * ky * s - srch) * 0.5f - rotycent);
  // Sample at pixel centres. The corner-based start maps each destination pixel's corner to the source corner the
  // rotation carries it to; at a half turn that lands one whole pixel past the image and shifts the picture. The
  // centre of destination pixel (0, 0) maps to a source pixel centre instead: nearest sampling truncates from there,
  // bilinear sampling moves back half a source pixel so that whole positions weigh one pixel alone. Unrotated copies
  // stay exact and a half turn becomes an exact flip.
  const double back = (mode & 0xFF00) == 0x100 ? 0.5 : 0.0;
  k.sx += 0.5 * k.dsdx + 0.5 * k.dsdy - back;
  k.sy += 0.5 * k.dtdx + 0.5 * k.dtdy - back;
  // Rounded, not truncated, to fixed point: cos and sin of float angles miss whole positions by a hair.
  k.roundStart = true;
  runWalk(dest, src, x, y, w, h, k, bounds, alpha, mode);
}

void PIX_DeltaBlit(PIX_IBitmap* dest, PIX_IBitmap* src, int dstx, int dsty, int dstw, int dsth, float srcx, float srcy,
                   float srcw, float srch, double dsdx, double dtdx, double dsdy, double dtdy, double dsdxdy,
                   double dtdxdy, bool cliptosourcerect, float alpha, int mode) {
  if (!dest || !src || dstw == 0 || dsth == 0) return;
  int bounds[4];
  sourceBounds(src, cliptosourcerect, srcx, srcy, srcw, srch, bounds);
  int64_t x = dstx, y = dsty, w = dstw, h = dsth;
  if (w < 0) {
    x += w;
    w = -w;
    srcx += srcw;
  }
  if (h < 0) {
    y += h;
    h = -h;
    srcy += srch;
  }
  Walk k = {srcx, srcy, dsdx, dtdx, dsdy, dtdy, dsdxdy, dtdxdy, false};
  runWalk(dest, src, x, y, w, h, k, bounds, alpha, mode);
}

template <class T>
class PIX_TransformBlit_class {
 public:
  static void blit(PIX_IBitmap* dest, PIX_IBitmap* src, int dstx, int dsty, int dstw, int dsth, const T* srcpoints,
                   int div_w, int div_h, float alpha, int mode) {
    if (!dest || !src || !srcpoints || dstw < 1 || dsth < 1 || div_w < 2 || div_h < 2) return;
    const float colStep = (float)dstw / (float)(div_w - 1), rowStep = (float)dsth / (float)(div_h - 1);
    auto pt = [&](int row, int col) { return srcpoints + ((size_t)row * div_w + col) * 2; };
    float yy = (float)dsty;
    int top = dsty;
    for (int r = 0; r < div_h - 1; r++) {
      yy += rowStep;
      const int bottom = truncSat(yy);
      const int64_t h = (int64_t)bottom - top;
      if (h > 0) {
        float xx = (float)dstx;
        int left = dstx;
        for (int c = 0; c < div_w - 1; c++) {
          xx += colStep;
          const int right = truncSat(xx);
          const int64_t w = (int64_t)right - left;
          if (w > 0) {
            const T *p00 = pt(r, c), *p01 = pt(r, c + 1), *p10 = pt(r + 1, c), *p11 = pt(r + 1, c + 1);
            const double dw = w, dh = h;
            const double dsdx = ((double)p01[0] - p00[0]) / dw, dtdx = ((double)p01[1] - p00[1]) / dw;
            const double dsdy = ((double)p10[0] - p00[0]) / dh, dtdy = ((double)p10[1] - p00[1]) / dh;
            const double dsdxdy = (((double)p11[0] - p10[0]) / dw - ((double)p01[0] - p00[0]) / dw) / dh;
            const double dtdxdy = (((double)p11[1] - p10[1]) / dw - ((double)p01[1] - p00[1]) / dw) / dh;
            PIX_DeltaBlit(dest, src, left, top, clampInt(w), clampInt(h), (float)p00[0], (float)p00[1],
                          (float)(p01[0] - p00[0]), (float)(p01[1] - p00[1]), dsdx, dtdx, dsdy, dtdy, dsdxdy, dtdxdy,
                          false, alpha, mode);
          }
          left = right;
        }
      }
      top = bottom;
    }
  }
};

void PIX_TransformBlit(PIX_IBitmap* dest, PIX_IBitmap* src, int dstx, int dsty, int dstw, int dsth, float* srcpoints,
                       int div_w, int div_h, float alpha, int mode) {
  PIX_TransformBlit_class<float>::blit(dest, src, dstx, dsty, dstw, dsth, srcpoints, div_w, div_h, alpha, mode);
}

void PIX_TransformBlit2(PIX_IBitmap* dest, PIX_IBitmap* src, int dstx, int dsty, int dstw, int dsth, double* srcpoints,
                        int div_w, int div_h, float alpha, int mode) {
  PIX_TransformBlit_class<double>::blit(dest, src, dstx, dsty, dstw, dsth, srcpoints, div_w, div_h, alpha, mode);
}
