// Bitmaps and helpers shared by the raster tests.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "KIT/pix/pix.h"

namespace rastertest {

// Pixels in a block of exactly width x height words, so that the sanitizer reports any access one pixel beyond
// either end. Can report itself flipped, to check that operations honour the report.
class GuardedBitmap : public PIX_IBitmap {
 public:
  GuardedBitmap(int w, int h, bool flipped = false) : w_(w), h_(h), flipped_(flipped) {
    if (w > 0 && h > 0) bits_ = (PIX_pixel*)calloc((size_t)w * h, sizeof(PIX_pixel));
  }
  ~GuardedBitmap() override { free(bits_); }
  PIX_pixel* getBits() override { return bits_; }
  int getWidth() override { return bits_ ? w_ : 0; }
  int getHeight() override { return bits_ ? h_ : 0; }
  int getRowSpan() override { return bits_ ? w_ : 0; }
  bool isFlipped() override { return flipped_; }
  bool resize(int, int) override { return false; }

  // Picture row y, whatever the storage order.
  PIX_pixel* row(int y) { return bits_ + (size_t)(flipped_ ? h_ - 1 - y : y) * w_; }
  PIX_pixel& at(int x, int y) { return row(y)[x]; }

 private:
  int w_, h_;
  bool flipped_;
  PIX_pixel* bits_ = nullptr;
};

// A small deterministic generator, so that any failing random case can be replayed from its number.
struct Rng {
  uint64_t s;
  explicit Rng(uint64_t seed) : s(seed * 0x9E3779B97F4A7C15ull + 1) {}
  uint32_t next() {
    s ^= s << 13;
    s ^= s >> 7;
    s ^= s << 17;
    return (uint32_t)(s >> 16);
  }
  int range(int lo, int hi) { return lo + (int)(next() % (uint32_t)(hi - lo + 1)); }
  float unit() { return (float)(next() % 100001) / 100000.0f; }
};

inline void fillAll(PIX_IBitmap* bm, PIX_pixel c) {
  for (int y = 0; y < bm->getHeight(); y++)
    for (int x = 0; x < bm->getWidth(); x++) bm->getBits()[(size_t)y * bm->getRowSpan() + x] = c;
}

inline void fillRandom(PIX_IBitmap* bm, Rng& rng, bool opaque = false) {
  for (int y = 0; y < bm->getHeight(); y++)
    for (int x = 0; x < bm->getWidth(); x++) {
      PIX_pixel p = rng.next() ^ (rng.next() << 16);
      if (opaque) p |= 0xFF;
      bm->getBits()[(size_t)y * bm->getRowSpan() + x] = p;
    }
}

// Picture pixel (x, y) honouring the flipped report.
inline PIX_pixel px(PIX_IBitmap* bm, int x, int y) {
  return PIX_GetPixel(bm, x, y);
}

// True when every pixel of a and b is equal; otherwise *where tells the first difference.
inline bool samePixels(PIX_IBitmap* a, PIX_IBitmap* b, std::string* where = nullptr) {
  if (a->getWidth() != b->getWidth() || a->getHeight() != b->getHeight()) {
    if (where) *where = "sizes differ";
    return false;
  }
  for (int y = 0; y < a->getHeight(); y++)
    for (int x = 0; x < a->getWidth(); x++)
      if (px(a, x, y) != px(b, x, y)) {
        if (where) {
          char buf[96];
          snprintf(buf, sizeof buf, "(%d, %d): %08X vs %08X", x, y, px(a, x, y), px(b, x, y));
          *where = buf;
        }
        return false;
      }
  return true;
}

inline void copyPixels(PIX_IBitmap* dest, PIX_IBitmap* src) {
  for (int y = 0; y < src->getHeight(); y++)
    for (int x = 0; x < src->getWidth(); x++) PIX_PutPixel(dest, x, y, px(src, x, y), 1.0f, 0);
}

}  // namespace rastertest
