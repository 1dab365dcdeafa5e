#include "KIT/pix/pix-bitmap.h"

#include <climits>
#include <cstdint>
#include <cstdlib>

PIX_MemBitmap::PIX_MemBitmap(int w, int h, unsigned int linealign)
    : m_fb(nullptr), m_width(0), m_height(0), m_allocsize(0), m_linealign(0) {
  if (linealign > 1) {
    unsigned int lowest = linealign & (~linealign + 1);
    if (lowest > 16) lowest = 16;  // wider alignments buy nothing for 32-bit rows
    m_linealign = lowest - 1;
  }
  if (w || h) resize(w, h);
}

PIX_MemBitmap::~PIX_MemBitmap() {
  free(m_fb);
}

PIX_pixel* PIX_MemBitmap::getBits() {
  if (!m_fb) return nullptr;
  return (PIX_pixel*)(((uintptr_t)m_fb + 63) & ~(uintptr_t)63);
}

bool PIX_MemBitmap::resize(int w, int h) {
  if (w == m_width && h == m_height) return false;
  m_width = w;
  m_height = h;

  // Sizes come from callers and files: a negative dimension, or a product beyond what an int byte count can
  // hold, must not turn into a small or wrapped allocation that later loops would overrun.
  int64_t needed = 0;
  if (w > 0 && h > 0) {
    int64_t span = ((int64_t)w + m_linealign) & ~(int64_t)m_linealign;
    needed = span > (int64_t)INT_MAX / h ? (int64_t)INT_MAX : span * h * 4;
  }
  if (needed <= 0) {
    free(m_fb);
    m_fb = nullptr;
    m_allocsize = 0;
    m_width = m_height = 0;
    return true;
  }
  if (needed > INT_MAX - 64) {
    free(m_fb);
    m_fb = nullptr;
    m_allocsize = 0;
    m_width = m_height = 0;
    return true;
  }

  if (m_fb && needed <= m_allocsize) return true;

  if (m_fb) {
    int64_t grown = needed + needed / 4;
    if (grown > INT_MAX - 64) grown = needed;
    void* p = realloc(m_fb, (size_t)grown + 63);
    if (p) {
      m_fb = p;
      m_allocsize = (int)grown;
      return true;
    }
    free(m_fb);
    m_fb = nullptr;
    m_allocsize = 0;
  }

  m_fb = malloc((size_t)needed + 63);
  if (m_fb) {
    m_allocsize = (int)needed;
  } else {
    m_allocsize = 0;
    m_width = m_height = 0;
  }
  return true;
}
