// Same-size blits, whole-bitmap copy, the five-point blur and 2x2 halving.
#include <cstdlib>
#include <cstring>

#include "KIT/pix/pix-internal.h"
#include "KIT/pix/pix.h"

using namespace pix_detail;

template <class C>
void _PIX_Template_Blit2<C>::blit(unsigned char* dest, unsigned char* src, int w, int h, int srcSpan, int destSpan,
                                  int alpha) {
  for (int y = 0; y < h; y++, dest += destSpan, src += srcSpan) {
    unsigned char* d = dest;
    const unsigned char* s = src;
    for (int x = 0; x < w; x++, d += 4, s += 4) C::doPix(d, s[1], s[2], s[3], s[0], alpha);
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
  const int weight = truncSat((double)alpha * 256.0);
  if (m == 0 && weight == 256) {
    copyRows(a, src == dest);
    return;
  }
  dispatchBlitCombiner(m, weight, [&](auto tag) {
    typedef typename decltype(tag)::type C;
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
