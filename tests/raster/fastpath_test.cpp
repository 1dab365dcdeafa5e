// Every loop that exists for speed against the plain per-pixel loop of its combiner, on many seeded random cases:
// each case runs once normally and once with the reference paths forced, and the pixels must be the same.
#include <gtest/gtest.h>

#include <functional>

#include "KIT/pix/pix-internal.h"
#include "tests/raster/raster_util.h"

using namespace rastertest;

namespace {

// Pixels in runs of transparent, opaque and partly transparent alpha, as pictures have them.
void fillPicture(PIX_IBitmap* bm, Rng& rng) {
  for (int y = 0; y < bm->getHeight(); y++) {
    int kind = 0, left = 0;
    for (int x = 0; x < bm->getWidth(); x++) {
      if (left-- <= 0) kind = rng.range(0, 2), left = rng.range(0, 9);
      PIX_pixel p = rng.next() ^ (rng.next() << 16);
      p = (p & 0xFFFFFF00) | (kind == 0 ? 0 : (kind == 1 ? 255 : (p & 0xFF)));
      bm->getBits()[(size_t)y * bm->getRowSpan() + x] = p;
    }
  }
}

const int kModes[] = {0,       1,       2,       3,       4,    5,    6,     0x10000, 0x10001,
                      0x10002, 0x10003, 0x10004, 0x10005, 0xF7, 0xF4, 0x100, 0x10100, 0x103};

float pickAlpha(Rng& rng) {
  const float fixed[] = {1.0f, 0.5f, 0.25f, 0.75f, 1.0f, 0.6f, 1.0f};
  return (rng.next() & 3) ? fixed[rng.next() % 7] : rng.unit();
}

// Runs draw on two copies of one destination, normally and with the reference paths, and compares.
void expectSameBothWays(int seed, Rng& rng, int dw, int dh, bool flipped,
                        const std::function<void(PIX_IBitmap* dest)>& draw) {
  GuardedBitmap fast(dw, dh, flipped), reference(dw, dh, flipped);
  fillPicture(&fast, rng);
  copyPixels(&reference, &fast);
  draw(&fast);
  pix_detail::useReferencePaths = true;
  draw(&reference);
  pix_detail::useReferencePaths = false;
  std::string where;
  ASSERT_TRUE(samePixels(&fast, &reference, &where)) << "case " << seed << ": " << where;
}

TEST(FastPaths, FillsAgreeWithTheReferenceLoops) {
  for (int n = 0; n < 2000; n++) {
    Rng rng(n);
    const int x = rng.range(-10, 30), y = rng.range(-10, 30), w = rng.range(-5, 40), h = rng.range(-5, 40);
    const PIX_pixel c = rng.next() ^ (rng.next() << 16);
    const float alpha = pickAlpha(rng);
    const int mode = kModes[rng.next() % 18];
    expectSameBothWays(n, rng, rng.range(1, 33), rng.range(1, 20), rng.next() & 1, [&](PIX_IBitmap* d) {
      PIX_FillRect(d, x, y, w, h, c, alpha, mode);
      if ((n & 7) == 0) PIX_Clear(d, c);
    });
  }
}

TEST(FastPaths, BlitsAgreeWithTheReferenceLoops) {
  for (int n = 0; n < 3000; n++) {
    Rng rng(n);
    GuardedBitmap src(rng.range(1, 40), rng.range(1, 12), rng.next() & 1);
    fillPicture(&src, rng);
    const int sx = rng.range(-8, 20), sy = rng.range(-8, 10), sw = rng.range(-2, 45), sh = rng.range(-2, 14);
    const int dx = rng.range(-10, 30), dy = rng.range(-10, 20);
    const float alpha = pickAlpha(rng);
    const int mode = kModes[rng.next() % 18];
    const bool whole = (rng.next() & 3) == 0;
    const int dw = whole ? src.getWidth() : rng.range(1, 45), dh = whole ? src.getHeight() : rng.range(1, 20);
    expectSameBothWays(n, rng, dw, dh, whole ? src.isFlipped() : (bool)(rng.next() & 1), [&](PIX_IBitmap* d) {
      if (whole)
        PIX_Blit(d, &src, 0, 0, nullptr, alpha, mode);
      else
        PIX_Blit(d, &src, dx, dy, sx, sy, sw, sh, alpha, mode);
    });
  }
}

TEST(FastPaths, ScaledBlitsAgreeWithTheReferenceLoops) {
  for (int n = 0; n < 3000; n++) {
    Rng rng(n);
    GuardedBitmap src(rng.range(1, 30), rng.range(1, 30), rng.next() & 1);
    fillPicture(&src, rng);
    const int x = rng.range(-10, 30), y = rng.range(-10, 30), w = rng.range(-50, 70), h = rng.range(-50, 70);
    const float sx = rng.range(-20, 80) * 0.25f, sy = rng.range(-20, 80) * 0.25f;
    const float sw = rng.range(-120, 120) * 0.25f, sh = rng.range(-120, 120) * 0.25f;
    const float alpha = pickAlpha(rng);
    const int mode = kModes[rng.next() % 18] | ((rng.next() & 1) ? 0x100 : 0);
    expectSameBothWays(n, rng, rng.range(1, 60), rng.range(1, 40), rng.next() & 1, [&](PIX_IBitmap* d) {
      PIX_ScaledBlit(d, &src, x, y, w, h, sx, sy, sw, sh, alpha, mode & ~0xF0);
    });
  }
}

TEST(FastPaths, WideRowsUseHeapTablesAndStillAgree) {
  for (int n = 0; n < 20; n++) {
    Rng rng(n);
    GuardedBitmap src(rng.range(500, 1500), 3);
    fillPicture(&src, rng);
    const int w = rng.range(1100, 2100);
    expectSameBothWays(n, rng, 2100, 4, false, [&](PIX_IBitmap* d) {
      PIX_ScaledBlit(d, &src, 0, 0, w, 4, 0, 0, (float)src.getWidth(), 3, 1.0f, 0x100);
      PIX_ScaledBlit(d, &src, 0, 0, w, 4, 0.5f, 0, (float)src.getWidth() - 1, 3, 1.0f, 0);
    });
  }
}

}  // namespace
