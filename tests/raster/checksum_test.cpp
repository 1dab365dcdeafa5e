// Seeded random drawing operations, each case's destination hashed and compared with the hash kept for it in
// tests/golden/raster/random-ops.txt. Any case can be replayed by its number; the first differing case writes its
// picture beside the list (random-ops-<case>.actual.png). VEXMIR_UPDATE_GOLDEN=1 rewrites the list.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "tests/raster/png_util.h"
#include "tests/raster/raster_util.h"

using namespace rastertest;

namespace {

const int kCases = 3000;

std::string listPath() {
  const char* root = getenv("VEXMIR_SOURCE_DIR");
  return std::string(root ? root : ".") + "/tests/golden/raster/random-ops.txt";
}

uint64_t hashPixels(PIX_IBitmap* bm) {
  uint64_t h = 1469598103934665603ull;
  for (int y = 0; y < bm->getHeight(); y++)
    for (int x = 0; x < bm->getWidth(); x++) {
      h ^= PIX_GetPixel(bm, x, y);
      h *= 1099511628211ull;
    }
  return h;
}

// One random operation into dest. Every float argument is a small fraction of an integer, so that the case is the
// same on every machine.
void drawCase(int n, GuardedBitmap* dest, GuardedBitmap* src) {
  Rng rng(n + 100000);
  fillRandom(dest, rng);
  fillRandom(src, rng);
  const int modes[] = {0,       1,       2,       3,     4,       5,     0x10000, 0x10001, 0x10002,
                       0x10003, 0x10004, 0x10005, 0x100, 0x10100, 0x101, 0x103,   0xF7,    0xF9};
  const int mode = modes[rng.next() % 18];
  const float alphas[] = {1.0f, 0.5f, 0.25f, 0.75f, 0.6f, 0.3f, 0.9f};
  const float alpha = alphas[rng.next() % 7];
  auto i = [&](int lo, int hi) { return rng.range(lo, hi); };
  auto f = [&](int lo, int hi) { return rng.range(lo * 8, hi * 8) / 8.0f; };
  switch (rng.next() % 10) {
    case 0:
      PIX_FillRect(dest, i(-5, 15), i(-5, 15), i(-2, 20), i(-2, 20), rng.next(), alpha, mode);
      break;
    case 1:
      PIX_GradRect(dest, i(-5, 10), i(-5, 10), i(0, 20), i(0, 20), f(0, 1), f(0, 1), f(0, 1), f(0, 1), f(-1, 1) / 8,
                   f(-1, 1) / 8, f(-1, 1) / 8, f(-1, 1) / 8, f(-1, 1) / 8, f(-1, 1) / 8, f(-1, 1) / 8, f(-1, 1) / 8,
                   mode);
      break;
    case 2:
      PIX_Blit(dest, src, i(-8, 15), i(-8, 15), i(-4, 12), i(-4, 12), i(-2, 16), i(-2, 16), alpha, mode);
      break;
    case 3:
      PIX_ScaledBlit(dest, src, i(-8, 15), i(-8, 15), i(-30, 30), i(-30, 30), f(-3, 12), f(-3, 12), f(-20, 20),
                     f(-20, 20), alpha, mode);
      break;
    case 4:
      PIX_RotatedBlit(dest, src, i(-8, 15), i(-8, 15), i(-20, 25), i(-20, 25), f(-3, 10), f(-3, 10), f(-15, 15),
                      f(-15, 15), f(-7, 7), rng.next() & 1, alpha, mode, f(-3, 3), f(-3, 3));
      break;
    case 5:
      PIX_DeltaBlit(dest, src, i(-8, 15), i(-8, 15), i(-20, 25), i(-20, 25), f(-3, 10), f(-3, 10), f(-15, 15),
                    f(-15, 15), f(-2, 2), f(-2, 2), f(-2, 2), f(-2, 2), f(-1, 1) / 16, f(-1, 1) / 16, rng.next() & 1,
                    alpha, mode);
      break;
    case 6: {
      float grid[3 * 3 * 2];
      for (float& g : grid) g = f(-2, 14);
      PIX_TransformBlit(dest, src, i(-5, 10), i(-5, 10), i(1, 25), i(1, 25), grid, 3, 3, alpha, mode);
      break;
    }
    case 7:
      PIX_Blur(dest, (rng.next() & 1) ? dest : src, i(-5, 10), i(-5, 10), i(-5, 10), i(-5, 10), i(0, 20), i(0, 20));
      break;
    case 8:
      PIX_HalveBlitAA(dest, src);
      break;
    default:
      for (int k = 0; k < 20; k++) PIX_PutPixel(dest, i(-2, 20), i(-2, 20), rng.next(), alpha, mode);
      break;
  }
}

TEST(RandomOperations, EveryCaseHashesAsRecorded) {
  std::map<int, uint64_t> recorded;
  const char* update = getenv("VEXMIR_UPDATE_GOLDEN");
  const bool updating = update && *update == '1';
  if (!updating) {
    FILE* in = fopen(listPath().c_str(), "r");
    ASSERT_NE(in, nullptr) << "missing " << listPath();
    int n;
    uint64_t h;
    while (fscanf(in, "%d %" SCNx64, &n, &h) == 2) recorded[n] = h;
    fclose(in);
    ASSERT_EQ((int)recorded.size(), kCases);
  }
  std::string out;
  int differing = 0, first = -1;
  for (int n = 0; n < kCases; n++) {
    Rng shape(n);
    GuardedBitmap dest(shape.range(1, 18), shape.range(1, 18), shape.next() & 1);
    GuardedBitmap src(shape.range(1, 14), shape.range(1, 14), shape.next() & 1);
    drawCase(n, &dest, &src);
    const uint64_t h = hashPixels(&dest);
    char line[64];
    snprintf(line, sizeof line, "%d %016" PRIx64 "\n", n, h);
    out += line;
    if (!updating && recorded[n] != h) {
      if (first < 0) {
        first = n;
        writeFile(listPath().substr(0, listPath().size() - 4) + "-" + std::to_string(n) + ".actual.png",
                  encodeBitmap(&dest));
      }
      differing++;
    }
  }
  if (updating) {
    FILE* f = fopen(listPath().c_str(), "w");
    ASSERT_NE(f, nullptr);
    fputs(out.c_str(), f);
    fclose(f);
    return;
  }
  EXPECT_EQ(differing, 0) << differing << " cases differ; the first is case " << first;
}

}  // namespace
