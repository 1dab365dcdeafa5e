// Same-size blits, whole-bitmap copy, the five-point blur and 2x2 halving.
#include <cstdlib>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "KIT/pix/pix-internal.h"
#include "KIT/pix/pix.h"

using namespace pix_detail;

namespace {
// One pixel after the other, each read just before its merge: the reference for the faster loops below, and the
// loop for a bitmap blitted onto itself, where source and destination rows may overlap.
template <class C>
void blitPerPixel(unsigned char* dest, unsigned char* src, int w, int h, int srcSpan, int destSpan, int alpha) {
  for (int y = 0; y < h; y++, dest += destSpan, src += srcSpan) {
    unsigned char* d = dest;
    const unsigned char* s = src;
    for (int x = 0; x < w; x++, d += 4, s += 4) C::doPix(d, s[1], s[2], s[3], s[0], alpha);
  }
}
}  // namespace

template <class C>
void _PIX_Template_Blit2<C>::blit(unsigned char* dest, unsigned char* src, int w, int h, int srcSpan, int destSpan,
                                  int alpha) {
  blitPerPixel<C>(dest, src, w, h, srcSpan, destSpan, alpha);
}

// Copy at a weight: every byte, alpha included, follows the same formula with the byte of the same place, so the
// rows run as flat byte arrays. For weights 1..256 the quotient is computed in 16 bits as sign and magnitude
// (|d - c| * (256 - w) fits in 16 bits; truncating the magnitude truncates toward zero), which the compiler
// vectorises; other weights take the plain loop.
template <>
void _PIX_Template_Blit2<_PIX_CombinePixelsCopyNoClamp>::blit(unsigned char* dest, unsigned char* src, int w, int h,
                                                              int srcSpan, int destSpan, int alpha) {
  const int n = w * 4;
  if (alpha < 1 || alpha > 256 || useReferencePaths) {
    blitPerPixel<_PIX_CombinePixelsCopyNoClamp>(dest, src, w, h, srcSpan, destSpan, alpha);
    return;
  }
  const uint16_t keep = (uint16_t)(256 - alpha);
  for (int y = 0; y < h; y++, dest += destSpan, src += srcSpan) {
    unsigned char* __restrict d = dest;
    const unsigned char* __restrict s = src;
    for (int i = 0; i < n; i++) {
      const uint16_t dv = d[i], sv = s[i];
      const uint16_t q = (uint16_t)((uint16_t)((dv >= sv ? dv - sv : sv - dv) * keep) >> 8);
      d[i] = (unsigned char)(dv >= sv ? sv + q : sv - q);
    }
  }
}

// The full-weight source-alpha copy. At alpha 255 the blend formula already gives the source colour and alpha 255,
// and at alpha 0 the pixel stays, so four pixels at a time go through one formula and a select: channels widened to
// 16 bits, c + (d - c) * (255 - a) / 256 computed as sign and magnitude (the magnitude's product fits in 16 bits and
// truncating it truncates toward zero), the alpha byte min(255, d + a).
template <>
void _PIX_Template_Blit2<_PIX_CombinePixelsCopySourceAlphaIgnoreAlphaParmNoClamp>::blit(unsigned char* dest,
                                                                                        unsigned char* src, int w,
                                                                                        int h, int srcSpan,
                                                                                        int destSpan, int alpha) {
  typedef _PIX_CombinePixelsCopySourceAlphaIgnoreAlphaParmNoClamp C;
  if (useReferencePaths) {
    blitPerPixel<C>(dest, src, w, h, srcSpan, destSpan, alpha);
    return;
  }
  for (int y = 0; y < h; y++, dest += destSpan, src += srcSpan) {
    int x = 0;
#ifdef __SSE2__
    const __m128i zero = _mm_setzero_si128(), ff = _mm_set1_epi16(255);
    const __m128i alphaLanes = _mm_set_epi16(0, 0, 0, -1, 0, 0, 0, -1);
    const __m128i alphaBytes = _mm_set1_epi32(0xFF);
    auto half = [&](__m128i sv, __m128i dv) {
      const __m128i a = _mm_shufflehi_epi16(_mm_shufflelo_epi16(sv, 0), 0);
      const __m128i hi = _mm_max_epi16(dv, sv), lo = _mm_min_epi16(dv, sv);
      const __m128i q = _mm_srli_epi16(_mm_mullo_epi16(_mm_sub_epi16(hi, lo), _mm_sub_epi16(ff, a)), 8);
      const __m128i destAbove = _mm_cmpeq_epi16(hi, dv);
      __m128i r = _mm_or_si128(_mm_and_si128(destAbove, _mm_add_epi16(sv, q)),
                               _mm_andnot_si128(destAbove, _mm_sub_epi16(sv, q)));
      const __m128i na = _mm_min_epi16(_mm_add_epi16(dv, a), ff);
      return _mm_or_si128(_mm_and_si128(alphaLanes, na), _mm_andnot_si128(alphaLanes, r));
    };
    for (; x + 4 <= w; x += 4) {
      const __m128i s4 = _mm_loadu_si128((const __m128i*)(src + 4 * x));
      // Runs of fully transparent or fully opaque pixels, the bulk of most pictures, need no arithmetic.
      const __m128i a4 = _mm_and_si128(s4, alphaBytes);
      if (_mm_movemask_epi8(_mm_cmpeq_epi32(a4, zero)) == 0xFFFF) continue;
      if (_mm_movemask_epi8(_mm_cmpeq_epi32(a4, alphaBytes)) == 0xFFFF) {
        _mm_storeu_si128((__m128i*)(dest + 4 * x), s4);
        continue;
      }
      const __m128i d4 = _mm_loadu_si128((const __m128i*)(dest + 4 * x));
      const __m128i r = _mm_packus_epi16(half(_mm_unpacklo_epi8(s4, zero), _mm_unpacklo_epi8(d4, zero)),
                                         half(_mm_unpackhi_epi8(s4, zero), _mm_unpackhi_epi8(d4, zero)));
      const __m128i transparent = _mm_cmpeq_epi32(_mm_and_si128(s4, alphaBytes), zero);
      _mm_storeu_si128((__m128i*)(dest + 4 * x),
                       _mm_or_si128(_mm_and_si128(transparent, d4), _mm_andnot_si128(transparent, r)));
    }
#endif
    for (; x < w; x++) {
      const unsigned char* sp = src + 4 * x;
      C::doPix(dest + 4 * x, sp[1], sp[2], sp[3], sp[0], alpha);
    }
  }
}

namespace {

// The part of a same-size copy that lands inside both bitmaps: first pixels, size and signed row steps.
struct BlitArea {
  unsigned char* dest;
  unsigned char* src;
  int w, h;
  int destSpan, srcSpan;
};

// Source bounds [left, right) x [top, bottom) are within the source; clips against the destination at (dstx, dsty)
// and resolves flipped bitmaps. Runs in 64 bits: callers may pass any coordinates.
bool placeArea(PIX_IBitmap* dest, PIX_IBitmap* src, int64_t dstx, int64_t dsty, int64_t left, int64_t top,
               int64_t right, int64_t bottom, BlitArea* out) {
  int dw = dest->getWidth(), dh = dest->getHeight();
  if (dstx < 0) left -= dstx, dstx = 0;
  if (dsty < 0) top -= dsty, dsty = 0;
  if (dstx + (right - left) > dw) right = left - dstx + dw;
  if (dsty + (bottom - top) > dh) bottom = top - dsty + dh;
  int64_t w = right - left, h = bottom - top;
  if (w < 1 || h < 1) return false;
  PIX_pixel* sbits = src->getBits();
  PIX_pixel* dbits = dest->getBits();
  if (!sbits || !dbits) return false;
  int sspan = src->getRowSpan(), dspan = dest->getRowSpan();
  int64_t srow = top, sstep = (int64_t)sspan * 4;
  if (src->isFlipped()) srow = src->getHeight() - 1 - top, sstep = -sstep;
  int64_t drow = dsty, dstep = (int64_t)dspan * 4;
  if (dest->isFlipped()) drow = dh - 1 - dsty, dstep = -dstep;
  out->src = (unsigned char*)(sbits + srow * sspan + left);
  out->dest = (unsigned char*)(dbits + drow * dspan + dstx);
  out->w = (int)w;
  out->h = (int)h;
  out->srcSpan = (int)sstep;
  out->destSpan = (int)dstep;
  return true;
}

void copyRows(const BlitArea& a, bool mayOverlap) {
  unsigned char* d = a.dest;
  const unsigned char* s = a.src;
  size_t bytes = (size_t)a.w * 4;
  // Whole bitmaps of the same row layout are one block: one call saves the per-row overhead on small frames.
  if (!mayOverlap && !useReferencePaths && a.srcSpan == (int)bytes && a.destSpan == (int)bytes) {
    memcpy(d, s, bytes * a.h);
    return;
  }
  for (int y = 0; y < a.h; y++, d += a.destSpan, s += a.srcSpan) {
    if (mayOverlap)
      memmove(d, s, bytes);
    else
      memcpy(d, s, bytes);
  }
}

void halfMixRows(const BlitArea& a) {
  unsigned char* d = a.dest;
  const unsigned char* s = a.src;
  for (int y = 0; y < a.h; y++, d += a.destSpan, s += a.srcSpan) {
    PIX_pixel* dp = (PIX_pixel*)d;
    const PIX_pixel* sp = (const PIX_pixel*)s;
    for (int x = 0; x < a.w; x++) dp[x] = ((dp[x] >> 1) & 0x7F7F7F7F) + ((sp[x] >> 1) & 0x7F7F7F7F);
  }
}

void channelCopyRows(const BlitArea& a, int destByte, int srcByte) {
  unsigned char* d = a.dest;
  const unsigned char* s = a.src;
  for (int y = 0; y < a.h; y++, d += a.destSpan, s += a.srcSpan)
    for (int x = 0; x < a.w; x++) d[x * 4 + destByte] = s[x * 4 + srcByte];
}

}  // namespace

void PIX_Blit(PIX_IBitmap* dest, PIX_IBitmap* src, int dstx, int dsty, RECT* srcRect, float alpha, int mode) {
  if (!dest || !src || alpha == 0.0f) return;
  int64_t left = 0, top = 0, right = src->getWidth(), bottom = src->getHeight();
  int64_t dx = dstx, dy = dsty;
  if (srcRect) {
    left = srcRect->left, top = srcRect->top;
    if (left < 0) dx -= left, left = 0;
    if (top < 0) dy -= top, top = 0;
    if (srcRect->right < right) right = srcRect->right;
    if (srcRect->bottom < bottom) bottom = srcRect->bottom;
  }
  BlitArea a;
  if (!placeArea(dest, src, dx, dy, left, top, right, bottom, &a)) return;

  if ((mode & 0xF0) == 0xF0) {
    channelCopyRows(a, (mode >> 2) & 3, mode & 3);
    return;
  }
  const int m = mode & 0x100FF;
  if (m == 0 && alpha == 1.0f) {
    copyRows(a, src == dest);
    return;
  }
  if (m == 0 && alpha == 0.5f) {
    halfMixRows(a);
    return;
  }
  const int weight = weightOf((double)alpha);
  if (m == 0 && weight == 256) {
    copyRows(a, src == dest);
    return;
  }
  dispatchBlitCombiner(m, weight, [&](auto tag) {
    typedef typename decltype(tag)::type C;
    if (src == dest)
      blitPerPixel<C>(a.dest, a.src, a.w, a.h, a.srcSpan, a.destSpan, weight);
    else
      _PIX_Template_Blit2<C>::blit(a.dest, a.src, a.w, a.h, a.srcSpan, a.destSpan, weight);
  });
}

void PIX_Blit(PIX_IBitmap* dest, PIX_IBitmap* src, int dstx, int dsty, int srcx, int srcy, int srcw, int srch,
              float alpha, int mode) {
  // Right and bottom saturate rather than wrap when a caller passes extreme positions and sizes.
  RECT r = {srcx, srcy, clampInt((int64_t)srcx + srcw), clampInt((int64_t)srcy + srch)};
  PIX_Blit(dest, src, dstx, dsty, &r, alpha, mode);
}

void PIX_Copy(PIX_IBitmap* dest, PIX_IBitmap* src) {
  if (!dest || !src) return;
  dest->resize(src->getWidth(), src->getHeight());
  PIX_Blit(dest, src, 0, 0, (RECT*)nullptr, 1.0f, 0);
}

namespace {
inline PIX_pixel half(PIX_pixel p) {
  return (p >> 1) & 0x7F7F7F7F;
}
inline PIX_pixel quarter(PIX_pixel p) {
  return (p >> 2) & 0x3F3F3F3F;
}
inline PIX_pixel eighth(PIX_pixel p) {
  return (p >> 3) & 0x1F1F1F1F;
}

// One row of the blur: C the row itself, N1 and N2 its vertical neighbours, each weighted an eighth, or, for the
// first and last rows, one neighbour weighted a quarter (N2 null).
void blurRow(PIX_pixel* out, const PIX_pixel* c, const PIX_pixel* n1, const PIX_pixel* n2, int w) {
  auto vert = [&](int x) { return n2 ? eighth(n1[x]) + eighth(n2[x]) : quarter(n1[x]); };
  out[0] = half(c[0]) + quarter(c[1]) + vert(0);
  for (int x = 1; x < w - 1; x++) out[x] = half(c[x]) + eighth(c[x - 1]) + eighth(c[x + 1]) + vert(x);
  out[w - 1] = half(c[w - 1]) + quarter(c[w - 2]) + vert(w - 1);
}
}  // namespace

void PIX_Blur(PIX_IBitmap* dest, PIX_IBitmap* src, int dstx, int dsty, int srcx, int srcy, int srcw, int srch) {
  if (!dest || !src) return;
  int64_t left = srcx < 0 ? 0 : srcx, top = srcy < 0 ? 0 : srcy;
  int64_t right = (int64_t)srcx + srcw, bottom = (int64_t)srcy + srch;
  if (right > src->getWidth()) right = src->getWidth();
  if (bottom > src->getHeight()) bottom = src->getHeight();
  BlitArea a;
  if (right <= left + 1 || bottom <= top + 1) return;
  if (!placeArea(dest, src, dstx, dsty, left, top, right, bottom, &a)) return;
  if (a.w < 2 || a.h < 2) return;
  const int w = a.w, h = a.h;

  // In place, the row above has been overwritten by the time the next row is blurred: keep the last two source
  // rows aside.
  PIX_pixel stackRows[2 * 1024];
  PIX_pixel* saved = nullptr;
  PIX_pixel* heapRows = nullptr;
  if (src == dest) {
    if (w <= 1024) {
      saved = stackRows;
    } else {
      heapRows = (PIX_pixel*)malloc(sizeof(PIX_pixel) * 2 * (size_t)w);
      saved = heapRows;
    }
  }
  auto srcRow = [&](int j) { return (const PIX_pixel*)(a.src + (intptr_t)j * a.srcSpan); };
  for (int j = 0; j < h; j++) {
    const PIX_pixel* c = srcRow(j);
    if (saved) {
      PIX_pixel* keep = saved + (j & 1) * w;
      memcpy(keep, c, sizeof(PIX_pixel) * (size_t)w);
      c = keep;
    }
    PIX_pixel* out = (PIX_pixel*)(a.dest + (intptr_t)j * a.destSpan);
    if (j == 0) {
      blurRow(out, c, srcRow(1), nullptr, w);
    } else if (j == h - 1) {
      blurRow(out, c, srcRow(j - 1), nullptr, w);
    } else {
      const PIX_pixel* up = saved ? saved + ((j - 1) & 1) * w : srcRow(j - 1);
      blurRow(out, c, up, srcRow(j + 1), w);
    }
  }
  free(heapRows);
}

void PIX_HalveBlitAA(PIX_IBitmap* dest, PIX_IBitmap* src) {
  if (!dest || !src) return;
  PIX_pixel* dbits = dest->getBits();
  PIX_pixel* sbits = src->getBits();
  if (!dbits || !sbits) return;
  int w = src->getWidth() / 2, h = src->getHeight() / 2;
  if (dest->getWidth() < w) w = dest->getWidth();
  if (dest->getHeight() < h) h = dest->getHeight();
  if (w < 1 || h < 1) return;
  int sspan = src->getRowSpan(), dspan = dest->getRowSpan();
  for (int y = 0; y < h; y++) {
    const PIX_pixel* s0 = sbits + (intptr_t)(2 * y) * sspan;
    const PIX_pixel* s1 = s0 + sspan;
    PIX_pixel* d = dbits + (intptr_t)y * dspan;
    for (int x = 0; x < w; x++)
      d[x] = quarter(s0[2 * x]) + quarter(s0[2 * x + 1]) + quarter(s1[2 * x]) + quarter(s1[2 * x + 1]);
  }
}
