#include "KIT/pix/pix-combine.h"

#include "KIT/pix/pix-internal.h"

namespace {
struct InvTab {
  unsigned short v[256];
  constexpr InvTab() : v() {
    for (int i = 1; i < 256; i++) v[i] = (unsigned short)(65536 / i - 1);
  }
};
constexpr InvTab kInvTab;
}  // namespace

const unsigned short _PIX_RGB2HSV_invtab[256] = {
#define E(i) kInvTab.v[i]
#define E8(i) E(i), E(i + 1), E(i + 2), E(i + 3), E(i + 4), E(i + 5), E(i + 6), E(i + 7)
#define E64(i) E8(i), E8(i + 8), E8(i + 16), E8(i + 24), E8(i + 32), E8(i + 40), E8(i + 48), E8(i + 56)
    E64(0), E64(64), E64(128), E64(192)
#undef E64
#undef E8
#undef E
};

namespace pix_detail {

std::atomic<bool> useReferencePaths(false);

void hsvAdjust(unsigned char* dest, int r, int g, int b, int a, int w) {
  const unsigned short* T = _PIX_RGB2HSV_invtab;
  int R = dest[1], G = dest[2], B = dest[3];
  int mx, mn, delta, base;
  if (R < G && G > B) {
    mx = G;
    mn = R < B ? R : B;
    delta = B - R;
    base = 128;
  } else if (R >= G && R > B) {
    mx = R;
    mn = G < B ? G : B;
    delta = G - B;
    base = G >= B ? 0 : 383;
  } else {
    mx = B;
    mn = R < G ? R : G;
    delta = R - G;
    base = 256;
  }
  int chroma = mx - mn;
  int h = base + (T[chroma] + 1) * delta / 1024;
  int s = T[mx] * chroma / 256;
  int v = mx;

  h += (r + r / 2 - 192) * w / 256;
  if (h < 0)
    h += 384;
  else if (h > 383)
    h -= 384;
  // Only adjustments outside 0..255 or weights beyond full strength get here; keep the hue on the circle.
  if (h < 0 || h > 383) h = ((h % 384) + 384) % 384;
  s = clamp255(s + (g - 128) * w / 128);
  v = clamp255(v + (b - 128) * w / 128);

  int p = (256 - s) * v / 256;
  auto f = [&](int k) { return v * (16384 - k * s) / 16384; };
  int nr, ng, nb;
  if (h < 64) {
    nr = v, ng = f(64 - h), nb = p;
  } else if (h < 128) {
    nr = f(h - 64), ng = v, nb = p;
  } else if (h < 192) {
    nr = p, ng = v, nb = f(192 - h);
  } else if (h < 256) {
    nr = p, ng = f(h - 192), nb = v;
  } else if (h < 320) {
    nr = f(320 - h), ng = p, nb = v;
  } else {
    nr = v, ng = p, nb = f(h - 320);
  }
  PIX_pixel word = PIX_RGBA(nr, ng, nb, a);
  dest[0] = (unsigned char)(word & 0xFF);
  dest[1] = (unsigned char)((word >> 8) & 0xFF);
  dest[2] = (unsigned char)((word >> 16) & 0xFF);
  dest[3] = (unsigned char)(word >> 24);
}

}  // namespace pix_detail

namespace {

// Clamped forms of the combiners whose results may leave 0..255 when components do.
struct StoreClamp {
  static void doPix(unsigned char* d, int r, int g, int b, int a, int) {
    using pix_detail::clamp255;
    d[0] = (unsigned char)clamp255(a);
    d[1] = (unsigned char)clamp255(r);
    d[2] = (unsigned char)clamp255(g);
    d[3] = (unsigned char)clamp255(b);
  }
};

struct CopySourceAlphaClamp {
  static void doPix(unsigned char* d, int r, int g, int b, int a, int alpha) {
    using namespace pix_detail;
    if (a == 0) return;
    int w = sourceAlphaWeight(a, alpha);
    d[1] = (unsigned char)clamp255(copyMix(d[1], r, w));
    d[2] = (unsigned char)clamp255(copyMix(d[2], g, w));
    d[3] = (unsigned char)clamp255(copyMix(d[3], b, w));
    d[0] = (unsigned char)clamp255(d[0] + w);
  }
};

struct CopySourceAlphaFullClamp {
  static void doPix(unsigned char* d, int r, int g, int b, int a, int) {
    using namespace pix_detail;
    if (a == 0) return;
    if (a == 255) {
      StoreClamp::doPix(d, r, g, b, 255, 0);
      return;
    }
    d[1] = (unsigned char)clamp255(r + (d[1] - r) * (255 - a) / 256);
    d[2] = (unsigned char)clamp255(g + (d[2] - g) * (255 - a) / 256);
    d[3] = (unsigned char)clamp255(b + (d[3] - b) * (255 - a) / 256);
    d[0] = (unsigned char)clamp255(d[0] + a);
  }
};

struct MulSourceAlphaClamp {
  static void doPix(unsigned char* d, int r, int g, int b, int a, int alpha) {
    if (a == 0) return;
    _PIX_CombinePixelsMulClamp::doPix(d, r, g, b, a, pix_detail::sourceAlphaWeight(a, alpha));
  }
};

// Components far outside a byte are limited like weights, for the same reason.
inline int clampComponent(int c) {
  return c < -1024 ? -1024 : (c > 1024 ? 1024 : c);
}

template <bool kClamp>
void combineOne(unsigned int* dest, int r, int g, int b, int a, int w, int mode) {
  if (w == 0) return;
  unsigned char* d = (unsigned char*)dest;
  switch (mode & 0x100FF) {
    case 0:
      if (w < 1) return;
      if (w == 256) {
        if (kClamp)
          StoreClamp::doPix(d, r, g, b, a, w);
        else
          _PIX_CombinePixelsClobberNoClamp::doPix(d, r, g, b, a, w);
      } else if (kClamp) {
        _PIX_CombinePixelsCopyClamp::doPix(d, r, g, b, a, w);
      } else {
        _PIX_CombinePixelsCopyNoClamp::doPix(d, r, g, b, a, w);
      }
      return;
    case 1:
      _PIX_CombinePixelsAdd::doPix(d, r, g, b, a, w);
      return;
    case 2:
      _PIX_CombinePixelsColorDodge::doPix(d, r, g, b, a, w);
      return;
    case 3:
      if (kClamp)
        _PIX_CombinePixelsMulClamp::doPix(d, r, g, b, a, w);
      else
        _PIX_CombinePixelsMulNoClamp::doPix(d, r, g, b, a, w);
      return;
    case 4:
      _PIX_CombinePixelsOverlay::doPix(d, r, g, b, a, w);
      return;
    case 5:
      _PIX_CombinePixelsHSVAdjust::doPix(d, r, g, b, a, w);
      return;
    case 0x10000:
      if (w == 256) {
        if (kClamp)
          CopySourceAlphaFullClamp::doPix(d, r, g, b, a, w);
        else
          _PIX_CombinePixelsCopySourceAlphaIgnoreAlphaParmNoClamp::doPix(d, r, g, b, a, w);
      } else if (kClamp) {
        CopySourceAlphaClamp::doPix(d, r, g, b, a, w);
      } else {
        _PIX_CombinePixelsCopySourceAlphaNoClamp::doPix(d, r, g, b, a, w);
      }
      return;
    case 0x10001:
      _PIX_CombinePixelsAddSourceAlpha::doPix(d, r, g, b, a, w);
      return;
    case 0x10002:
      _PIX_CombinePixelsColorDodgeSourceAlpha::doPix(d, r, g, b, a, w);
      return;
    case 0x10003:
      if (kClamp)
        MulSourceAlphaClamp::doPix(d, r, g, b, a, w);
      else
        _PIX_CombinePixelsMulSourceAlphaNoClamp::doPix(d, r, g, b, a, w);
      return;
    case 0x10004:
      _PIX_CombinePixelsOverlaySourceAlpha::doPix(d, r, g, b, a, w);
      return;
    case 0x10005:
      _PIX_CombinePixelsHSVAdjustSourceAlpha::doPix(d, r, g, b, a, w);
      return;
    default:
      return;
  }
}

}  // namespace

unsigned int PIX_CombinePixels(unsigned int dest, unsigned int src, float alpha, int mode) {
  int w = pix_detail::clampWeight(pix_detail::truncSat((float)(alpha * 256.0f)));
  combineOne<false>(&dest, (int)PIX_GETR(src), (int)PIX_GETG(src), (int)PIX_GETB(src), (int)PIX_GETA(src), w, mode);
  return dest;
}

void PIX_CombinePixels2(unsigned int* dest, int r, int g, int b, int a, int ia, int mode) {
  if (!dest) return;
  combineOne<false>(dest, clampComponent(r), clampComponent(g), clampComponent(b), clampComponent(a),
                    pix_detail::clampWeight(ia), mode);
}

void PIX_CombinePixels2Clamp(unsigned int* dest, int r, int g, int b, int a, int ia, int mode) {
  if (!dest) return;
  combineOne<true>(dest, clampComponent(r), clampComponent(g), clampComponent(b), clampComponent(a),
                   pix_detail::clampWeight(ia), mode);
}
