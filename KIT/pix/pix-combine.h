// Pixel combiners: how one source value is merged into one destination pixel. Every drawing loop of the raster
// library is a template over one of these classes, so the choice of formula is made once per call and the merge
// is inlined into the loop.
//
// doPix(dest, r, g, b, a, alpha): dest points at one pixel (byte 0 alpha, 1 red, 2 green, 3 blue); r, g, b, a are
// the source channels (0..255, other ranges only from gradient fills); alpha is the integer weight, 256 = full.
// Divisions of signed values truncate toward zero; results stored without clamping keep their low 8 bits.
#pragma once

#include "KIT/pix/pix-bitmap.h"

// T[0] = 0, T[i] = 65536 / i - 1: reciprocal table for the HSV conversion.
extern const unsigned short _PIX_RGB2HSV_invtab[256];

namespace pix_detail {
inline int clamp255(int v) {
  return v < 0 ? 0 : (v > 255 ? 255 : v);
}
inline int copyMix(int d, int c, int w) {
  return c + (d - c) * (256 - w) / 256;
}
inline int addMix(int d, int c, int w) {
  return clamp255(d + c * w / 256);
}
inline int dodgeMix(int d, int c, int w) {
  int q = 256 - c * w / 256;
  unsigned int n = (unsigned int)d * 256;
  if (q >= 2) n /= (unsigned int)q;
  return n > 255 ? 255 : (int)n;
}
inline int mulMix(int d, int c, int w) {
  return (d * (c * w + (256 - w) * 256)) >> 16;
}
inline int overlayMix(int d, int c, int w) {
  int s = c * w + (256 - w) * 128;
  int t = (32768 - s) * d / 256 + s;
  return clamp255(t * d / 32768);
}
// Turns the destination pixel into hue/saturation/value, shifts it by (r, g, b) centred on 128 at weight w, and
// writes it back with alpha byte a.
void hsvAdjust(unsigned char* dest, int r, int g, int b, int a, int w);
inline int sourceAlphaWeight(int a, int w) {
  return (a + 1) * w / 256;
}
// Merges each channel on its own with mix(dest, source, weight), optionally limited to 0..255.
template <int (*Mix)(int, int, int), bool Clamp>
struct EachChannel {
  static inline void doPix(unsigned char* dest, int r, int g, int b, int a, int alpha) {
    dest[0] = (unsigned char)one(dest[0], a, alpha);
    dest[1] = (unsigned char)one(dest[1], r, alpha);
    dest[2] = (unsigned char)one(dest[2], g, alpha);
    dest[3] = (unsigned char)one(dest[3], b, alpha);
  }
  static inline int one(int d, int c, int w) { return Clamp ? clamp255(Mix(d, c, w)) : Mix(d, c, w); }
};
}  // namespace pix_detail

// Copy at full weight: stores the source.
class _PIX_CombinePixelsClobberNoClamp {
 public:
  static inline void doPix(unsigned char* dest, int r, int g, int b, int a, int alpha) {
    (void)alpha;
    dest[0] = (unsigned char)a;
    dest[1] = (unsigned char)r;
    dest[2] = (unsigned char)g;
    dest[3] = (unsigned char)b;
  }
};

class _PIX_CombinePixelsCopyNoClamp : public pix_detail::EachChannel<pix_detail::copyMix, false> {};

class _PIX_CombinePixelsCopyClamp : public pix_detail::EachChannel<pix_detail::copyMix, true> {};

// Copy at weight 128.
class _PIX_CombinePixelsHalfMixNoClamp {
 public:
  static inline void doPix(unsigned char* dest, int r, int g, int b, int a, int alpha) {
    (void)alpha;
    dest[0] = (unsigned char)((dest[0] + a) >> 1);
    dest[1] = (unsigned char)((dest[1] + r) >> 1);
    dest[2] = (unsigned char)((dest[2] + g) >> 1);
    dest[3] = (unsigned char)((dest[3] + b) >> 1);
  }
};

class _PIX_CombinePixelsAdd : public pix_detail::EachChannel<pix_detail::addMix, false> {};

class _PIX_CombinePixelsColorDodge : public pix_detail::EachChannel<pix_detail::dodgeMix, false> {};

class _PIX_CombinePixelsMulNoClamp : public pix_detail::EachChannel<pix_detail::mulMix, false> {};

class _PIX_CombinePixelsMulClamp : public pix_detail::EachChannel<pix_detail::mulMix, true> {};

class _PIX_CombinePixelsOverlay : public pix_detail::EachChannel<pix_detail::overlayMix, false> {};

class _PIX_CombinePixelsHSVAdjust {
 public:
  static inline void doPix(unsigned char* dest, int r, int g, int b, int a, int alpha) {
    pix_detail::hsvAdjust(dest, r, g, b, a, alpha);
  }
};

// Source-alpha forms: the weight becomes (a + 1) * w / 256 before the plain formula runs.

class _PIX_CombinePixelsCopySourceAlphaNoClamp {
 public:
  static inline void doPix(unsigned char* dest, int r, int g, int b, int a, int alpha) {
    using namespace pix_detail;
    if (a == 0) return;
    int w = sourceAlphaWeight(a, alpha);
    dest[1] = (unsigned char)copyMix(dest[1], r, w);
    dest[2] = (unsigned char)copyMix(dest[2], g, w);
    dest[3] = (unsigned char)copyMix(dest[3], b, w);
    int na = dest[0] + w;
    dest[0] = (unsigned char)(na > 255 ? 255 : na);
  }
};

// The source-alpha copy at full weight, where the pixel's own alpha is the whole story.
class _PIX_CombinePixelsCopySourceAlphaIgnoreAlphaParmNoClamp {
 public:
  static inline void doPix(unsigned char* dest, int r, int g, int b, int a, int alpha) {
    (void)alpha;
    if (a == 0) return;
    if (a == 255) {
      dest[0] = 255;
      dest[1] = (unsigned char)r;
      dest[2] = (unsigned char)g;
      dest[3] = (unsigned char)b;
      return;
    }
    int ia = 255 - a;
    dest[1] = (unsigned char)(r + (dest[1] - r) * ia / 256);
    dest[2] = (unsigned char)(g + (dest[2] - g) * ia / 256);
    dest[3] = (unsigned char)(b + (dest[3] - b) * ia / 256);
    int na = dest[0] + a;
    dest[0] = (unsigned char)(na > 255 ? 255 : na);
  }
};

class _PIX_CombinePixelsAddSourceAlpha {
 public:
  static inline void doPix(unsigned char* dest, int r, int g, int b, int a, int alpha) {
    if (a == 0) return;
    _PIX_CombinePixelsAdd::doPix(dest, r, g, b, a, pix_detail::sourceAlphaWeight(a, alpha));
  }
};

class _PIX_CombinePixelsColorDodgeSourceAlpha {
 public:
  static inline void doPix(unsigned char* dest, int r, int g, int b, int a, int alpha) {
    _PIX_CombinePixelsColorDodge::doPix(dest, r, g, b, a, pix_detail::sourceAlphaWeight(a, alpha));
  }
};

class _PIX_CombinePixelsMulSourceAlphaNoClamp {
 public:
  static inline void doPix(unsigned char* dest, int r, int g, int b, int a, int alpha) {
    if (a == 0) return;
    _PIX_CombinePixelsMulNoClamp::doPix(dest, r, g, b, a, pix_detail::sourceAlphaWeight(a, alpha));
  }
};

class _PIX_CombinePixelsOverlaySourceAlpha {
 public:
  static inline void doPix(unsigned char* dest, int r, int g, int b, int a, int alpha) {
    _PIX_CombinePixelsOverlay::doPix(dest, r, g, b, a, pix_detail::sourceAlphaWeight(a, alpha));
  }
};

class _PIX_CombinePixelsHSVAdjustSourceAlpha {
 public:
  static inline void doPix(unsigned char* dest, int r, int g, int b, int a, int alpha) {
    pix_detail::hsvAdjust(dest, r, g, b, a, pix_detail::sourceAlphaWeight(a, alpha));
  }
};

// Word-wise combiners for copies at fixed weights: the shifts and masks halve or quarter all four bytes at once,
// each byte's fraction truncated.

class _PIX_CombinePixelsClobberFAST {
 public:
  static inline void doPix(PIX_pixel* dest, PIX_pixel src) { *dest = src; }
};

class _PIX_CombinePixelsHalfMixFAST {
 public:
  static inline void doPix(PIX_pixel* dest, PIX_pixel src) {
    *dest = ((src >> 1) & 0x7F7F7F7F) + ((*dest >> 1) & 0x7F7F7F7F);
  }
};

// The "2" forms take the colour's share k, prepared once per call.
class _PIX_CombinePixelsHalfMix2FAST {
 public:
  static inline PIX_pixel prepare(PIX_pixel src) { return (src >> 1) & 0x7F7F7F7F; }
  static inline void doPix(PIX_pixel* dest, PIX_pixel k) { *dest = ((*dest >> 1) & 0x7F7F7F7F) + k; }
};

// One quarter colour, three quarters destination.
class _PIX_CombinePixelsQuarterMix2FAST {
 public:
  static inline PIX_pixel prepare(PIX_pixel src) { return (src >> 2) & 0x3F3F3F3F; }
  static inline void doPix(PIX_pixel* dest, PIX_pixel k) {
    PIX_pixel d = *dest;
    *dest = ((d >> 1) & 0x7F7F7F7F) + ((d >> 2) & 0x3F3F3F3F) + k;
  }
};

// Three quarters colour, one quarter destination.
class _PIX_CombinePixelsThreeQuarterMix2FAST {
 public:
  static inline PIX_pixel prepare(PIX_pixel src) { return ((src >> 1) & 0x7F7F7F7F) + ((src >> 2) & 0x3F3F3F3F); }
  static inline void doPix(PIX_pixel* dest, PIX_pixel k) { *dest = ((*dest >> 2) & 0x3F3F3F3F) + k; }
};

// Single-colour merges through the combiner that the mode word and weight choose, as the blits would choose it.
unsigned int PIX_CombinePixels(unsigned int dest, unsigned int src, float alpha, int mode);
void PIX_CombinePixels2(unsigned int* dest, int r, int g, int b, int a, int ia, int mode);
// As PIX_CombinePixels2, with every channel result clamped, for components outside 0..255.
void PIX_CombinePixels2Clamp(unsigned int* dest, int r, int g, int b, int a, int ia, int mode);
