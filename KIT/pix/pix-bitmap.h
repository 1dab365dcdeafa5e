// 32-bit raster bitmaps: the pixel layout every drawing operation assumes, the abstract bitmap through which
// operations reach the pixels, and the heap-backed bitmap.
#pragma once

#include <cstdint>

#include "KIT/shim/shim-types.h"

// A pixel is one 32-bit word whose bytes in memory are alpha, red, green, blue. Read as a little-endian word it
// is A | R << 8 | G << 16 | B << 24, and every colour word handed to the raster library has that layout so that
// it can be stored into a pixel unchanged.
typedef unsigned int PIX_pixel;

#define PIX_BYTE_A 0
#define PIX_BYTE_R 1
#define PIX_BYTE_G 2
#define PIX_BYTE_B 3

#define PIX_RGBA(r, g, b, a)                                                                                      \
  ((unsigned int)((unsigned int)((a)&0xFF) | ((unsigned int)((r)&0xFF) << 8) | ((unsigned int)((g)&0xFF) << 16) | \
                  ((unsigned int)((b)&0xFF) << 24)))
#define PIX_GETA(c) ((unsigned int)(c)&0xFF)
#define PIX_GETR(c) (((unsigned int)(c) >> 8) & 0xFF)
#define PIX_GETG(c) (((unsigned int)(c) >> 16) & 0xFF)
#define PIX_GETB(c) (((unsigned int)(c) >> 24) & 0xFF)

// Blend mode word bits.
#define PIX_BLIT_MODE_COPY 0
#define PIX_BLIT_MODE_ADD 1
#define PIX_BLIT_MODE_DODGE 2
#define PIX_BLIT_MODE_MUL 3
#define PIX_BLIT_MODE_OVERLAY 4
#define PIX_BLIT_MODE_HSVADJ 5
#define PIX_BLIT_MODE_MASK 0xFF
#define PIX_BLIT_USE_SOURCE_ALPHA 0x10000
#define PIX_BLIT_FILTER_BILINEAR 0x100
#define PIX_BLIT_FILTER_MASK 0xFF00
#define PIX_BLIT_CHANNEL_COPY 0xF0

class PIX_IBitmap {
 public:
  virtual ~PIX_IBitmap() {}
  // Pixel 0 of memory row 0, or null when the bitmap has no pixels.
  virtual PIX_pixel* getBits() = 0;
  virtual int getWidth() = 0;
  virtual int getHeight() = 0;
  // Pixels per memory row (at least the width).
  virtual int getRowSpan() = 0;
  // True when rows are stored bottom-up: picture row y is memory row height - 1 - y.
  virtual bool isFlipped() { return false; }
  // True when the size changed.
  virtual bool resize(int w, int h) = 0;
  // The drawing context that owns the pixels, if any.
  virtual HDC getDC() { return nullptr; }
  virtual int Extended(int id, void* data) {
    (void)id;
    (void)data;
    return 0;
  }
};

// Pixels in one heap block. Rows are padded to the line alignment and the first pixel sits on a 64-byte
// boundary, so word-wise row loops and copies run on aligned data.
class PIX_MemBitmap : public PIX_IBitmap {
 public:
  PIX_MemBitmap(int w = 0, int h = 0, unsigned int linealign = 4);
  ~PIX_MemBitmap() override;
  PIX_MemBitmap(const PIX_MemBitmap&) = delete;
  PIX_MemBitmap& operator=(const PIX_MemBitmap&) = delete;

  PIX_pixel* getBits() override;
  int getWidth() override { return m_width; }
  int getHeight() override { return m_height; }
  int getRowSpan() override { return (m_width + (int)m_linealign) & ~(int)m_linealign; }
  bool resize(int w, int h) override;

  // Usable bytes of the block (the block itself is 63 bytes larger).
  int getAllocatedBytes() const { return m_allocsize; }

 private:
  void* m_fb;
  int m_width, m_height;
  int m_allocsize;
  unsigned int m_linealign;
};
