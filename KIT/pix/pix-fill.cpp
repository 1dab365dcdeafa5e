// Rectangle fills, gradients, clears, per-pixel access, the column-anchored flood fill and bitmap comparison.
#include <cstring>
#include <cwchar>

#include "KIT/pix/pix-internal.h"
#include "KIT/pix/pix.h"

using namespace pix_detail;

namespace {

// The clipped area of a rectangle operation: first pixel, size and the signed byte step between rows.
struct Area {
  unsigned char* first;
  int w, h;
  int rowBytes;
};

// Clips (x, y, w, h) to the bitmap. Arithmetic runs in 64 bits because callers may pass coordinates near the int
// limits; the flipped report is honoured by starting at the right memory row and walking memory order.
bool clipArea(PIX_IBitmap* bm, int x, int y, int w, int h, Area* out) {
  if (!bm) return false;
  PIX_pixel* bits = bm->getBits();
  int bw = bm->getWidth(), bh = bm->getHeight(), span = bm->getRowSpan();
  if (!bits || bw < 1 || bh < 1 || span < 1) return false;
  int64_t X = x, Y = y, W = w, H = h;
  if (X < 0) W += X, X = 0;
  if (Y < 0) H += Y, Y = 0;
  if (W > bw - X) W = bw - X;
  if (H > bh - Y) H = bh - Y;
  if (W < 1 || H < 1) return false;
  int64_t row = bm->isFlipped() ? bh - (Y + H) : Y;
  out->first = (unsigned char*)(bits + row * span + X);
  out->w = (int)W;
  out->h = (int)H;
  out->rowBytes = span * 4;
  return true;
}

// Whole-word mixes of the fixed copy weights, applied to one pixel.
inline PIX_pixel fixedWeightMix(PIX_pixel d, PIX_pixel c, int w) {
  switch (w) {
    case 64:
      return ((d >> 1) & 0x7F7F7F7F) + ((d >> 2) & 0x3F3F3F3F) + ((c >> 2) & 0x3F3F3F3F);
    case 128:
      return ((d >> 1) & 0x7F7F7F7F) + ((c >> 1) & 0x7F7F7F7F);
    case 192:
      return ((d >> 2) & 0x3F3F3F3F) + ((c >> 2) & 0x3F3F3F3F) + ((c >> 1) & 0x7F7F7F7F);
    default:
      return c;
  }
}

template <class Mix>
void fillWords(const Area& a, PIX_pixel c) {
  PIX_pixel k = Mix::prepare(c);
  unsigned char* row = a.first;
  for (int y = 0; y < a.h; y++, row += a.rowBytes) {
    PIX_pixel* p = (PIX_pixel*)row;
    for (int x = 0; x < a.w; x++) Mix::doPix(p + x, k);
  }
}

struct StoreMix {
  static PIX_pixel prepare(PIX_pixel c) { return c; }
  static void doPix(PIX_pixel* d, PIX_pixel k) { *d = k; }
};

// Stores c into n words. Long runs use the processor's string store, which moves whole cache lines at a time;
// short ones the C library's word fill.
// (Sanitizer builds take the library call, whose stores the sanitizer sees.)
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PIX_NO_STRING_STORE 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define PIX_NO_STRING_STORE 1
#endif
void storeRun(PIX_pixel* p, size_t n, PIX_pixel c) {
#if defined(__x86_64__) && !defined(PIX_NO_STRING_STORE)
  if (n >= 8192) {
    __asm__ volatile("rep stosl" : "+D"(p), "+c"(n) : "a"(c) : "memory");
    return;
  }
#endif
  wmemset((wchar_t*)p, (wchar_t)c, n);
}

// Stores the colour into every pixel of the area. The C library's wide-character fill is a 32-bit word fill tuned
// for the machine it runs on; contiguous rows go in one call.
void storeWords(const Area& a, PIX_pixel c) {
  static_assert(sizeof(wchar_t) == sizeof(PIX_pixel), "wmemset fills 32-bit words");
  if (useReferencePaths) {
    fillWords<StoreMix>(a, c);
    return;
  }
  if (a.rowBytes == a.w * 4) {
    storeRun((PIX_pixel*)a.first, (size_t)a.w * a.h, c);
    return;
  }
  unsigned char* row = a.first;
  for (int y = 0; y < a.h; y++, row += a.rowBytes) storeRun((PIX_pixel*)row, (size_t)a.w, c);
}

// Gradient components and weights are limited to a range in which no combiner formula can overflow an int; a
// gradient that stays within -1024..1024 (four times the colour range) is unaffected.
inline int gradComponent(int64_t v) {
  int64_t c = v / 65536;
  return c < -1024 ? -1024 : (c > 1024 ? 1024 : (int)c);
}

}  // namespace

template <class C>
class _PIX_Template_Blit1 {
 public:
  static void solidBlit(unsigned char* px, int w, int h, int r, int g, int b, int ia, int rowbytes) {
    for (int y = 0; y < h; y++, px += rowbytes) {
      unsigned char* p = px;
      for (int x = 0; x < w; x++, p += 4) C::doPix(p, r, g, b, ia, ia);
    }
  }

  // Positions run in 64 bits so that steep gradients over large areas cannot overflow.
  static void gradBlit(unsigned char* px, int w, int h, int ir, int ig, int ib, int ia, int drdx, int dgdx, int dbdx,
                       int dadx, int drdy, int dgdy, int dbdy, int dady, int rowbytes) {
    int64_t R0 = ir, G0 = ig, B0 = ib, A0 = ia;
    for (int y = 0; y < h; y++, px += rowbytes) {
      int64_t R = R0, G = G0, B = B0, A = A0;
      unsigned char* p = px;
      for (int x = 0; x < w; x++, p += 4) {
        int a = gradComponent(A);
        C::doPix(p, gradComponent(R), gradComponent(G), gradComponent(B), a, a);
        R += drdx, G += dgdx, B += dbdx, A += dadx;
      }
      R0 += drdy, G0 += dgdy, B0 += dbdy, A0 += dady;
    }
  }
};

namespace {

// Runs the combiner of a non-copy low byte (1..5) on the area; false for other values.
template <template <class> class Op, class... Args>
bool byLowByte(int lowByte, Args... args) {
  switch (lowByte) {
    case 1:
      Op<_PIX_CombinePixelsAdd>::run(args...);
      return true;
    case 2:
      Op<_PIX_CombinePixelsColorDodge>::run(args...);
      return true;
    case 3:
      Op<_PIX_CombinePixelsMulNoClamp>::run(args...);
      return true;
    case 4:
      Op<_PIX_CombinePixelsOverlay>::run(args...);
      return true;
    case 5:
      Op<_PIX_CombinePixelsHSVAdjust>::run(args...);
      return true;
    default:
      return false;
  }
}

template <class C>
struct SolidOp {
  static void run(const Area& a, PIX_pixel color, int w) {
    _PIX_Template_Blit1<C>::solidBlit(a.first, a.w, a.h, (int)PIX_GETR(color), (int)PIX_GETG(color),
                                      (int)PIX_GETB(color), w, a.rowBytes);
  }
};

}  // namespace

void PIX_FillRect(PIX_IBitmap* dest, int x, int y, int w, int h, unsigned int color, float alpha, int mode) {
  if (!dest) return;
  if (mode & 0x10000) alpha *= (float)(color & 0xFF) / 255.0f;
  Area a;
  if (!clipArea(dest, x, y, w, h, &a)) return;
  if (alpha == 0.0f) return;
  int weight = weightOf((double)alpha);
  if ((mode & 0xFF) == 0) {
    switch (weight) {
      case 0:
        return;
      case 64:
        fillWords<_PIX_CombinePixelsQuarterMix2FAST>(a, color);
        return;
      case 128:
        fillWords<_PIX_CombinePixelsHalfMix2FAST>(a, color);
        return;
      case 192:
        fillWords<_PIX_CombinePixelsThreeQuarterMix2FAST>(a, color);
        return;
      case 256:
        storeWords(a, color);
        return;
      default:
        if (weight < 1) return;
        SolidOp<_PIX_CombinePixelsCopyNoClamp>::run(a, color, weight);
        return;
    }
  }
  if (weight == 0) return;
  byLowByte<SolidOp>(mode & 0xFF, a, color, weight);
}

void PIX_GradRect(PIX_IBitmap* dest, int dstx, int dsty, int dstw, int dsth, float ir, float ig, float ib, float ia,
                  float drdx, float dgdx, float dbdx, float dadx, float drdy, float dgdy, float dbdy, float dady,
                  int mode) {
  if (!dest) return;
  ir *= 255.0f, ig *= 255.0f, ib *= 255.0f, ia *= 256.0f;
  drdx *= 255.0f, dgdx *= 255.0f, dbdx *= 255.0f, dadx *= 256.0f;
  drdy *= 255.0f, dgdy *= 255.0f, dbdy *= 255.0f, dady *= 256.0f;
  int64_t X = dstx, Y = dsty, W = dstw, H = dsth;
  if (X < 0) {
    ir -= (float)X * drdx, ig -= (float)X * dgdx, ib -= (float)X * dbdx, ia -= (float)X * dadx;
    W += X;
    X = 0;
  }
  if (Y < 0) {
    ir -= (float)Y * drdy, ig -= (float)Y * dgdy, ib -= (float)Y * dbdy, ia -= (float)Y * dady;
    H += Y;
    Y = 0;
  }
  PIX_pixel* bits = dest->getBits();
  int bw = dest->getWidth(), bh = dest->getHeight(), span = dest->getRowSpan();
  if (W > bw - X) W = bw - X;
  if (H > bh - Y) H = bh - Y;
  if (W < 1 || H < 1 || !bits || span < 1) return;
  int rowBytes = span * 4;
  int64_t row = Y;
  if (dest->isFlipped()) {
    row = bh - 1 - Y;
    rowBytes = -rowBytes;
  }
  unsigned char* px = (unsigned char*)(bits + row * span + X);
  auto fx = [](float v) { return truncSat((double)v * 65536.0); };
  int args[12] = {fx(ir),   fx(ig),   fx(ib),   fx(ia),   fx(drdx), fx(dgdx),
                  fx(dbdx), fx(dadx), fx(drdy), fx(dgdy), fx(dbdy), fx(dady)};
#define GRAD(C)                                                                                                       \
  _PIX_Template_Blit1<C>::gradBlit(px, (int)W, (int)H, args[0], args[1], args[2], args[3], args[4], args[5], args[6], \
                                   args[7], args[8], args[9], args[10], args[11], rowBytes)
  switch (mode & 0xFF) {
    case 0:
      GRAD(_PIX_CombinePixelsCopyClamp);
      break;
    case 1:
      GRAD(_PIX_CombinePixelsAdd);
      break;
    case 2:
      GRAD(_PIX_CombinePixelsColorDodge);
      break;
    case 3:
      GRAD(_PIX_CombinePixelsMulClamp);
      break;
    case 4:
      GRAD(_PIX_CombinePixelsOverlay);
      break;
    case 5:
      GRAD(_PIX_CombinePixelsHSVAdjust);
      break;
    default:
      break;
  }
#undef GRAD
}

void PIX_Clear(PIX_IBitmap* dest, unsigned int color) {
  Area a;
  if (!dest || !clipArea(dest, 0, 0, dest->getWidth(), dest->getHeight(), &a)) return;
  storeWords(a, color);
}

void PIX_ClearRect(PIX_IBitmap* dest, int x, int y, int w, int h, unsigned int mask, unsigned int orbits) {
  Area a;
  if (!clipArea(dest, x, y, w, h, &a)) return;
  unsigned char* row = a.first;
  for (int j = 0; j < a.h; j++, row += a.rowBytes) {
    PIX_pixel* p = (PIX_pixel*)row;
    for (int i = 0; i < a.w; i++) p[i] = (p[i] & mask) | orbits;
  }
}

void PIX_MultiplyAddRect(PIX_IBitmap* dest, int x, int y, int w, int h, float rsc, float gsc, float bsc, float asc,
                         float radd, float gadd, float badd, float aadd) {
  Area a;
  if (!clipArea(dest, x, y, w, h, &a)) return;
  // Byte order of a pixel: alpha, red, green, blue. Products run in 64 bits so extreme factors saturate.
  int64_t S[4] = {truncSat((double)asc * 256.0), truncSat((double)rsc * 256.0), truncSat((double)gsc * 256.0),
                  truncSat((double)bsc * 256.0)};
  int64_t A[4] = {truncSat((double)aadd * 256.0), truncSat((double)radd * 256.0), truncSat((double)gadd * 256.0),
                  truncSat((double)badd * 256.0)};
  unsigned char* row = a.first;
  for (int j = 0; j < a.h; j++, row += a.rowBytes) {
    unsigned char* p = row;
    for (int i = 0; i < a.w; i++, p += 4) {
      for (int c = 0; c < 4; c++) {
        int64_t v = (p[c] * S[c] + A[c]) >> 8;
        p[c] = (unsigned char)(v < 0 ? 0 : (v > 255 ? 255 : v));
      }
    }
  }
}

void PIX_ProcessRect(PIX_IBitmap* dest, int x, int y, int w, int h, void (*procfunc)(unsigned int* px, void* parm),
                     void* parm) {
  Area a;
  if (!procfunc || !clipArea(dest, x, y, w, h, &a)) return;
  unsigned char* row = a.first;
  for (int j = 0; j < a.h; j++, row += a.rowBytes) {
    PIX_pixel* p = (PIX_pixel*)row;
    for (int i = 0; i < a.w; i++) procfunc(p + i, parm);
  }
}

namespace {
PIX_pixel* pixelAt(PIX_IBitmap* bm, int x, int y) {
  if (!bm) return nullptr;
  PIX_pixel* bits = bm->getBits();
  int w = bm->getWidth(), h = bm->getHeight();
  if (!bits || x < 0 || y < 0 || x >= w || y >= h) return nullptr;
  int row = bm->isFlipped() ? h - 1 - y : y;
  return bits + (intptr_t)row * bm->getRowSpan() + x;
}
}  // namespace

unsigned int PIX_GetPixel(PIX_IBitmap* dest, int x, int y) {
  PIX_pixel* p = pixelAt(dest, x, y);
  return p ? *p : 0;
}

void PIX_PutPixel(PIX_IBitmap* dest, int x, int y, unsigned int color, float alpha, int mode) {
  PIX_pixel* p = pixelAt(dest, x, y);
  if (!p) return;
  int w = clampWeight(truncSat((float)(alpha * 256.0f)));
  int low = mode & 0xFF;
  if (low == 0) {
    if (w == 0) return;
    if (w == 64 || w == 128 || w == 192 || w == 256) {
      *p = fixedWeightMix(*p, color, w);
      return;
    }
    if (w < 1) return;
    _PIX_CombinePixelsCopyNoClamp::doPix((unsigned char*)p, (int)PIX_GETR(color), (int)PIX_GETG(color),
                                         (int)PIX_GETB(color), (int)PIX_GETA(color), w);
    return;
  }
  if (w == 0 || low > 5) return;
  PIX_CombinePixels2(p, (int)PIX_GETR(color), (int)PIX_GETG(color), (int)PIX_GETB(color), (int)PIX_GETA(color), w, low);
}

void PIX_SetAlphaFromColorMask(PIX_IBitmap* dest, unsigned int color) {
  Area a;
  if (!dest || !clipArea(dest, 0, 0, dest->getWidth(), dest->getHeight(), &a)) return;
  unsigned char* row = a.first;
  for (int j = 0; j < a.h; j++, row += a.rowBytes) {
    PIX_pixel* p = (PIX_pixel*)row;
    for (int i = 0; i < a.w; i++) p[i] = (p[i] & 0xFFFFFF00) == color ? (p[i] & 0xFFFFFF00) : (p[i] | 0xFF);
  }
}

void PIX_SimpleFill(PIX_IBitmap* dest, int x, int y, unsigned int newcolor, unsigned int comparemask,
                    unsigned int keepmask) {
  if (!dest) return;
  PIX_pixel* bits = dest->getBits();
  int w = dest->getWidth(), h = dest->getHeight(), span = dest->getRowSpan();
  if (!bits || x < 0 || y < 0 || x >= w || y >= h) return;
  const PIX_pixel key = bits[(intptr_t)y * span + x] & comparemask;
  auto matches = [&](PIX_pixel p) { return (p & comparemask) == key; };
  auto fillRow = [&](PIX_pixel* row) {
    row[x] = (row[x] & keepmask) | newcolor;
    for (int i = x + 1; i < w && matches(row[i]); i++) row[i] = (row[i] & keepmask) | newcolor;
    for (int i = x - 1; i >= 0 && matches(row[i]); i--) row[i] = (row[i] & keepmask) | newcolor;
  };
  for (int j = y; j < h; j++) {
    PIX_pixel* row = bits + (intptr_t)j * span;
    if (!matches(row[x])) break;
    fillRow(row);
  }
  for (int j = y - 1; j >= 0; j--) {
    PIX_pixel* row = bits + (intptr_t)j * span;
    if (!matches(row[x])) break;
    fillRow(row);
  }
}

int PIX_BitmapCmp(PIX_IBitmap* a, PIX_IBitmap* b, int* diffRect) {
  if (!a && !b) return 0;
  if (!a) return -1;
  if (!b) return 1;
  int w = a->getWidth(), h = a->getHeight();
  if (b->getWidth() != w) return b->getWidth() - w;
  if (b->getHeight() != h) return b->getHeight() - h;
  PIX_pixel* abits = a->getBits();
  PIX_pixel* bbits = b->getBits();
  if (w < 1 || h < 1 || !abits || !bbits) {
    // Equal sizes without pixels to compare are equal.
    if (diffRect) diffRect[0] = diffRect[1] = diffRect[2] = diffRect[3] = 0;
    return 0;
  }
  auto rowOf = [](PIX_IBitmap* bm, PIX_pixel* bits, int y) {
    int row = bm->isFlipped() ? bm->getHeight() - 1 - y : y;
    return bits + (intptr_t)row * bm->getRowSpan();
  };
  if (!diffRect) {
    for (int y = 0; y < h; y++) {
      int c = memcmp(rowOf(a, abits, y), rowOf(b, bbits, y), (size_t)w * 4);
      if (c) return c;
    }
    return 0;
  }
  int top = -1;
  for (int y = 0; y < h && top < 0; y++)
    if (memcmp(rowOf(a, abits, y), rowOf(b, bbits, y), (size_t)w * 4)) top = y;
  if (top < 0) {
    diffRect[0] = diffRect[1] = diffRect[2] = diffRect[3] = 0;
    return 0;
  }
  int left = w, right = -1;
  {
    PIX_pixel *pa = rowOf(a, abits, top), *pb = rowOf(b, bbits, top);
    for (int x = 0; x < w; x++)
      if (pa[x] != pb[x]) {
        left = x;
        break;
      }
    for (int x = w - 1; x >= 0; x--)
      if (pa[x] != pb[x]) {
        right = x;
        break;
      }
  }
  int bottom = top;
  for (int y = h - 1; y > top; y--) {
    PIX_pixel *pa = rowOf(a, abits, y), *pb = rowOf(b, bbits, y);
    if (memcmp(pa, pb, (size_t)w * 4)) {
      bottom = y;
      break;
    }
  }
  for (int y = top + 1; y <= bottom && (left > 0 || right < w - 1); y++) {
    PIX_pixel *pa = rowOf(a, abits, y), *pb = rowOf(b, bbits, y);
    for (int x = 0; x < left; x++)
      if (pa[x] != pb[x]) {
        left = x;
        break;
      }
    for (int x = w - 1; x > right; x--)
      if (pa[x] != pb[x]) {
        right = x;
        break;
      }
  }
  diffRect[0] = left;
  diffRect[1] = top;
  diffRect[2] = right - left + 1;
  diffRect[3] = bottom - top + 1;
  return 1;
}
