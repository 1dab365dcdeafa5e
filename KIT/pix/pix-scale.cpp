// Scaled blit: nearest, bilinear and box-filtered sampling of a source rectangle stepped through in 16.16 fixed
// point.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "KIT/pix/pix-internal.h"
#include "KIT/pix/pix.h"

using namespace pix_detail;

namespace {

// Positions run in 64 bits inside the loops: steps and starts come from float arithmetic on caller values, and a
// wrapped position could otherwise index outside the source.
inline bool sampleIndex(int64_t pos, int clip, int* index) {
  if (pos < -65535) return false;
  int i = (int)(pos / 65536);
  if (i >= clip) return false;
  *index = i;
  return true;
}

inline const unsigned char* pixelOf(const unsigned char* src, int srcSpan, int x, int y) {
  return src + (intptr_t)y * srcSpan + (intptr_t)x * 4;
}

// The columns of a scaled row: the same for every row, so worked out once per call. kind 0: no sample; 1: the
// sample and its right neighbour lie in the source; 2: the sample is in the last source column.
struct Column {
  int offset;
  unsigned int xf;
  int kind;
};

// A column table on the stack for common widths, on the heap beyond; null when memory cannot be had.
class ColumnTable {
 public:
  ColumnTable(int w, int64_t startX, int stepX, int clipRight) {
    cols_ = w <= kStack ? stack_ : (Column*)malloc(sizeof(Column) * (size_t)w);
    if (!cols_) return;
    int64_t xpos = startX;
    for (int x = 0; x < w; x++, xpos += stepX) {
      int sx;
      Column& c = cols_[x];
      if (!sampleIndex(xpos, clipRight, &sx)) {
        c.kind = 0;
        continue;
      }
      c.offset = sx * 4;
      c.xf = (unsigned int)(xpos & 0xFFFF);
      c.kind = sx < clipRight - 1 ? 1 : 2;
    }
  }
  ~ColumnTable() {
    if (cols_ != stack_) free(cols_);
  }
  const Column* get() const { return cols_; }

 private:
  static const int kStack = 1024;
  Column stack_[kStack];
  Column* cols_;
};

inline uint32_t load32(const unsigned char* p) {
  uint32_t v;
  memcpy(&v, p, 4);
  return v;
}

// Hands a sampled pixel word to the combiner; the store combiner writes the word at once.
template <class C>
inline void emit(unsigned char* d, uint32_t word, int alpha) {
  if (std::is_same<C, _PIX_CombinePixelsClobberNoClamp>::value) {
    memcpy(d, &word, 4);
  } else {
    C::doPix(d, (int)((word >> 8) & 0xFF), (int)((word >> 16) & 0xFF), (int)(word >> 24), (int)(word & 0xFF), alpha);
  }
}

// Bilinear mixing of one row. Every case of the edge rules is this formula with substituted taps: at the last
// column the right taps repeat the left ones with xf = 0 (only the vertical weights remain), in the last row the
// lower row repeats the upper one with yf = 0. Plain 32-bit arithmetic over arrays, so that the compiler
// vectorises it (with gathered loads where the processor has AVX2).
// ThreadSanitizer builds take the plain version: the clones' resolver runs while the program is being loaded,
// before the sanitizer's run time is set up, and its instrumented code crashes there.
#if defined(__SANITIZE_THREAD__)
#define PIX_MIX_CLONES
#else
#define PIX_MIX_CLONES __attribute__((target_clones("avx2", "default")))
#endif
PIX_MIX_CLONES void mixRow(uint32_t* __restrict out, const uint32_t* __restrict row0, const uint32_t* __restrict row1,
                           const uint32_t* __restrict left, const uint32_t* __restrict right,
                           const uint32_t* __restrict xfs, uint32_t yf, int n) {
  for (int i = 0; i < n; i++) {
    const uint32_t xf = xfs[i];
    const uint32_t f11 = (xf * yf) >> 16, f01 = xf - f11, f00 = (65536 - yf) - f01, f10 = yf - f11;
    const uint32_t a = row0[left[i]], b = row0[right[i]], c = row1[left[i]], d = row1[right[i]];
    uint32_t word = 0;
    for (int k = 0; k < 32; k += 8) {
      const uint32_t sum =
          ((a >> k) & 0xFF) * f00 + ((b >> k) & 0xFF) * f01 + ((c >> k) & 0xFF) * f10 + ((d >> k) & 0xFF) * f11;
      word |= ((sum >> 16) & 0xFF) << k;
    }
    out[i] = word;
  }
}

// Bilinear rows through a column table; false when memory for the tables cannot be had.
template <class C>
bool bilinearByTable(unsigned char* dest, const unsigned char* src, int w, int h, int startX, int startY, int stepX,
                     int stepY, int clipRight, int clipBottom, int srcSpan, int destSpan, int alpha) {
  ColumnTable table(w, startX, stepX, clipRight);
  const Column* cols = table.get();
  if (!cols) return false;
  // Positions are monotonic, so the sampled columns are one run.
  int x0 = 0, x1 = w;
  while (x0 < w && cols[x0].kind == 0) x0++;
  while (x1 > x0 && cols[x1 - 1].kind == 0) x1--;
  const int n = x1 - x0;
  if (n <= 0) return true;
  uint32_t* buf = (uint32_t*)malloc(sizeof(uint32_t) * 4 * (size_t)n);
  if (!buf) return false;
  uint32_t *xfs = buf, *left = buf + n, *right = buf + 2 * n, *mixed = buf + 3 * n;
  for (int i = 0; i < n; i++) {
    const Column& c = cols[x0 + i];
    xfs[i] = c.kind == 1 ? c.xf : 0;
    left[i] = (uint32_t)c.offset / 4;
    right[i] = left[i] + (c.kind == 1 ? 1 : 0);
  }
  int64_t ypos = startY;
  for (int y = 0; y < h; y++, ypos += stepY, dest += destSpan) {
    int sy;
    if (!sampleIndex(ypos, clipBottom, &sy)) continue;
    // Source rows start on pixel boundaries of a word-aligned block.
    const uint32_t* row0 = (const uint32_t*)(src + (intptr_t)sy * srcSpan);
    const bool lastRow = sy >= clipBottom - 1;
    const uint32_t* row1 = lastRow ? row0 : (const uint32_t*)((const unsigned char*)row0 + srcSpan);
    const uint32_t yf = lastRow ? 0 : (uint32_t)(ypos & 0xFFFF);
    unsigned char* d = dest + (intptr_t)x0 * 4;
    // The store form writes straight into the row, unless that row is one of the source rows being read (a bitmap
    // scaled onto itself).
    auto overlaps = [&](const uint32_t* row) {
      return d < (const unsigned char*)(row + clipRight) && (const unsigned char*)row < d + 4 * (size_t)n;
    };
    if (std::is_same<C, _PIX_CombinePixelsClobberNoClamp>::value && ((uintptr_t)d & 3) == 0 && !overlaps(row0) &&
        !overlaps(row1)) {
      mixRow((uint32_t*)d, row0, row1, left, right, xfs, yf, n);
    } else {
      mixRow(mixed, row0, row1, left, right, xfs, yf, n);
      for (int i = 0; i < n; i++, d += 4) emit<C>(d, mixed[i], alpha);
    }
  }
  free(buf);
  return true;
}

}  // namespace

template <class F>
class _PIX_Template_Blit0 {
 public:
  static void scaleBlitFAST(unsigned char* dest, unsigned char* src, int w, int h, int startX, int startY, int stepX,
                            int stepY, int clipRight, int clipBottom, int srcSpan, int destSpan) {
    if (!useReferencePaths) {
      ColumnTable table(w, startX, stepX, clipRight);
      if (const Column* cols = table.get()) {
        int64_t ypos = startY;
        for (int y = 0; y < h; y++, ypos += stepY, dest += destSpan) {
          int sy;
          if (!sampleIndex(ypos, clipBottom, &sy)) continue;
          const unsigned char* srow = src + (intptr_t)sy * srcSpan;
          PIX_pixel* d = (PIX_pixel*)dest;
          for (int x = 0; x < w; x++)
            if (cols[x].kind) F::doPix(d + x, load32(srow + cols[x].offset));
        }
        return;
      }
    }
    int64_t ypos = startY;
    for (int y = 0; y < h; y++, ypos += stepY, dest += destSpan) {
      int sy;
      if (!sampleIndex(ypos, clipBottom, &sy)) continue;
      const PIX_pixel* srow = (const PIX_pixel*)(src + (intptr_t)sy * srcSpan);
      PIX_pixel* d = (PIX_pixel*)dest;
      int64_t xpos = startX;
      for (int x = 0; x < w; x++, xpos += stepX) {
        int sx;
        if (sampleIndex(xpos, clipRight, &sx)) F::doPix(d + x, srow[sx]);
      }
    }
  }
};

template <class C>
void _PIX_Template_Blit2<C>::scaleBlit(unsigned char* dest, unsigned char* src, int w, int h, int startX, int startY,
                                       int stepX, int stepY, int clipRight, int clipBottom, int srcSpan, int destSpan,
                                       int alpha, int filterMode) {
  if (filterMode == 0x100 && !useReferencePaths &&
      bilinearByTable<C>(dest, src, w, h, startX, startY, stepX, stepY, clipRight, clipBottom, srcSpan, destSpan,
                         alpha))
    return;
  int64_t ypos = startY;
  if (filterMode != 0x100) {
    for (int y = 0; y < h; y++, ypos += stepY, dest += destSpan) {
      int sy;
      if (!sampleIndex(ypos, clipBottom, &sy)) continue;
      unsigned char* d = dest;
      int64_t xpos = startX;
      for (int x = 0; x < w; x++, xpos += stepX, d += 4) {
        int sx;
        if (!sampleIndex(xpos, clipRight, &sx)) continue;
        const unsigned char* p = pixelOf(src, srcSpan, sx, sy);
        C::doPix(d, p[1], p[2], p[3], p[0], alpha);
      }
    }
    return;
  }

  for (int y = 0; y < h; y++, ypos += stepY, dest += destSpan) {
    int sy;
    if (!sampleIndex(ypos, clipBottom, &sy)) continue;
    const unsigned int yf = (unsigned int)(ypos & 0xFFFF);
    const unsigned char* row0 = src + (intptr_t)sy * srcSpan;
    unsigned char* d = dest;
    int64_t xpos = startX;
    if (sy < clipBottom - 1) {
      const unsigned char* row1 = row0 + srcSpan;
      for (int x = 0; x < w; x++, xpos += stepX, d += 4) {
        int sx;
        if (!sampleIndex(xpos, clipRight, &sx)) continue;
        const unsigned char* p00 = row0 + sx * 4;
        const unsigned char* p10 = row1 + sx * 4;
        unsigned int c[4];
        if (sx < clipRight - 1) {
          const unsigned int xf = (unsigned int)(xpos & 0xFFFF);
          const unsigned int f11 = (xf * yf) >> 16;
          const unsigned int f01 = xf - f11;
          const unsigned int f00 = (65536 - yf) - f01;
          const unsigned int f10 = yf - f11;
          for (int k = 0; k < 4; k++) c[k] = (p00[k] * f00 + p00[k + 4] * f01 + p10[k] * f10 + p10[k + 4] * f11) >> 16;
        } else {
          for (int k = 0; k < 4; k++) c[k] = (p00[k] * (65536 - yf) + p10[k] * yf) >> 16;
        }
        C::doPix(d, (int)c[1], (int)c[2], (int)c[3], (int)c[0], alpha);
      }
    } else {
      for (int x = 0; x < w; x++, xpos += stepX, d += 4) {
        int sx;
        if (!sampleIndex(xpos, clipRight, &sx)) continue;
        const unsigned char* p00 = row0 + sx * 4;
        if (sx < clipRight - 1) {
          const unsigned int xf = (unsigned int)(xpos & 0xFFFF);
          unsigned int c[4];
          for (int k = 0; k < 4; k++) c[k] = (p00[k] * (65536 - xf) + p00[k + 4] * xf) >> 16;
          C::doPix(d, (int)c[1], (int)c[2], (int)c[3], (int)c[0], alpha);
        } else {
          C::doPix(d, p00[1], p00[2], p00[3], p00[0], alpha);
        }
      }
    }
  }
}

template <class C>
void _PIX_Template_Blit2<C>::scaleBlitFilterDown(unsigned char* dest, unsigned char* src, int w, int h, int startX,
                                                 int startY, int stepX, int stepY, int clipRight, int clipBottom,
                                                 int srcSpan, int destSpan, int alpha, int* filter, int filterStart,
                                                 int filterSize) {
  int64_t ypos = startY;
  for (int y = 0; y < h; y++, ypos += stepY, dest += destSpan) {
    int sy;
    if (!sampleIndex(ypos, clipBottom, &sy)) continue;
    const int y0 = sy + filterStart;
    if (y0 >= clipBottom) continue;
    unsigned char* d = dest;
    int64_t xpos = startX;
    for (int x = 0; x < w; x++, xpos += stepX, d += 4) {
      int sx;
      if (!sampleIndex(xpos, clipRight, &sx)) continue;
      const int x0 = sx + filterStart;
      int64_t total = 0, sum[4] = {0, 0, 0, 0};
      for (int j = 0; j < filterSize; j++) {
        const int ty = y0 + j;
        if (ty < 0) continue;
        if (ty >= clipBottom) break;
        const unsigned char* row = src + (intptr_t)ty * srcSpan;
        for (int i = 0; i < filterSize; i++) {
          const int tx = x0 + i;
          if (tx < 0 || tx >= clipRight) continue;
          const int k = filter[j * filterSize + i];
          const unsigned char* p = row + tx * 4;
          total += k;
          for (int c = 0; c < 4; c++) sum[c] += p[c] * k;
        }
      }
      if (total > 0)
        C::doPix(d, (int)(sum[1] / total), (int)(sum[2] / total), (int)(sum[3] / total), (int)(sum[0] / total), alpha);
    }
  }
}

void PIX_ScaledBlit(PIX_IBitmap* dest, PIX_IBitmap* src, int dstx, int dsty, int dstw, int dsth, float srcx, float srcy,
                    float srcw, float srch, float alpha, int mode) {
  if (!dest || !src || dstw == 0 || dsth == 0 || alpha == 0.0f) return;
  // Non-finite coordinates have no sensible source position.
  if (!std::isfinite(srcx) || !std::isfinite(srcy) || !std::isfinite(srcw) || !std::isfinite(srch) ||
      !std::isfinite(alpha))
    return;
  const bool filter = (mode & 0xFF00) == 0x100;

  if (std::fabs((double)(srcw - (float)dstw)) < 0.001 && std::fabs((double)(srch - (float)dsth)) < 0.001) {
    auto nearWhole = [](float v) { return std::fabs(v - std::floor(v + 0.5)) < 0.03; };
    if (!filter || (nearWhole(srcx) && nearWhole(srcy))) {
      int sx = truncSat((double)srcx + 0.5), sy = truncSat((double)srcy + 0.5);
      RECT r = {sx, sy, clampInt((int64_t)sx + dstw), clampInt((int64_t)sy + dsth)};
      PIX_Blit(dest, src, dstx, dsty, &r, alpha, mode);
      return;
    }
  }

  int64_t dx = dstx, dy = dsty, dw = dstw, dh = dsth;
  mirrorNegativeSpan(dx, dw, srcx, srcw);
  mirrorNegativeSpan(dy, dh, srcy, srch);
  const float xRatio = srcw / (float)dw, yRatio = srch / (float)dh;
  if (dx < 0) {
    srcx -= (float)dx * xRatio;
    dw += dx;
    dx = 0;
  }
  if (dy < 0) {
    srcy -= (float)dy * yRatio;
    dh += dy;
    dy = 0;
  }
  const int destW = dest->getWidth(), destH = dest->getHeight();
  if (dw > destW - dx) dw = destW - dx;
  if (dh > destH - dy) dh = destH - dy;
  if (dw < 1 || dh < 1) return;

  const int stepX = truncSat((double)xRatio * 65536.0), stepY = truncSat((double)yRatio * 65536.0);
  int64_t startX = truncSat((double)srcx * 65536.0), startY = truncSat((double)srcy * 65536.0);
  const int srcW = src->getWidth(), srcH = src->getHeight();

  // Drop destination columns and rows that sample before the source or beyond its last pixel. (Only columns whose
  // source index is past the last pixel go; every column that lands on a source pixel is kept.)
  auto trim = [](int64_t& d, int64_t& size, int64_t& start, int64_t step, int srcSize) {
    if (step <= 0) return;
    if (start < 0) {
      int64_t n = (step - 1 - start) / step;
      d += n;
      size -= n;
      start += n * step;
    }
    if (size > 0 && (start + (size - 1) * step) / 65536 >= srcSize) {
      int64_t keep = ((int64_t)srcSize * 65536 - 1 - start) / step + 1;
      if (keep < size) size = keep;
    }
  };
  trim(dx, dw, startX, stepX, srcW);
  trim(dy, dh, startY, stepY, srcH);
  if (dw < 1 || dh < 1) return;

  PIX_pixel* sbits = src->getBits();
  PIX_pixel* dbits = dest->getBits();
  if (!sbits || !dbits) return;

  const int clipRight = clampInt(std::min<int64_t>(srcW, truncSat64((double)(srcx + std::max(srcw, 0.0f)) + 0.999999)));
  const int clipBottom =
      clampInt(std::min<int64_t>(srcH, truncSat64((double)(srcy + std::max(srch, 0.0f)) + 0.999999)));
  if (clipRight < 1 || clipBottom < 1) return;

  int srcSpan = src->getRowSpan() * 4;
  unsigned char* s = (unsigned char*)sbits;
  if (src->isFlipped()) {
    s += (intptr_t)(srcH - 1) * srcSpan;
    srcSpan = -srcSpan;
  }
  int destSpan = dest->getRowSpan() * 4;
  unsigned char* d;
  if (dest->isFlipped()) {
    d = (unsigned char*)(dbits + (intptr_t)(destH - 1 - dy) * dest->getRowSpan() + dx);
    destSpan = -destSpan;
  } else {
    d = (unsigned char*)(dbits + (intptr_t)dy * dest->getRowSpan() + dx);
  }

  // Starts may lie far outside the int range only when the source could never be reached; saturating keeps the
  // loops' arithmetic defined and leaves those pixels unsampled.
  const int sX = clampInt(startX), sY = clampInt(startY);
  const int w = (int)dw, h = (int)dh;
  const int weight = weightOf((double)alpha);

  if ((mode & 0x1FFFF) == 0) {
    if (weight == 256) {
      _PIX_Template_Blit0<_PIX_CombinePixelsClobberFAST>::scaleBlitFAST(d, s, w, h, sX, sY, stepX, stepY, clipRight,
                                                                        clipBottom, srcSpan, destSpan);
      return;
    }
    if (weight == 128) {
      _PIX_Template_Blit0<_PIX_CombinePixelsHalfMixFAST>::scaleBlitFAST(d, s, w, h, sX, sY, stepX, stepY, clipRight,
                                                                        clipBottom, srcSpan, destSpan);
      return;
    }
  }

  if (filter && xRatio >= 1.7f && yRatio >= 1.7f) {
    const int n = std::max(stepX, stepY) > 0x30000 ? 5 : 3;
    int kernel[25];
    for (int i = 0; i < n * n; i++) kernel[i] = 0x10000;
    dispatchBlitCombiner(mode & 0x100FF, weight, [&](auto tag) {
      typedef typename decltype(tag)::type C;
      _PIX_Template_Blit2<C>::scaleBlitFilterDown(d, s, w, h, sX, sY, stepX, stepY, clipRight, clipBottom, srcSpan,
                                                  destSpan, weight, kernel, -n / 2, n);
    });
    return;
  }

  dispatchBlitCombiner(mode & 0x100FF, weight, [&](auto tag) {
    typedef typename decltype(tag)::type C;
    _PIX_Template_Blit2<C>::scaleBlit(d, s, w, h, sX, sY, stepX, stepY, clipRight, clipBottom, srcSpan, destSpan,
                                      weight, mode & 0xFF00);
  });
}
