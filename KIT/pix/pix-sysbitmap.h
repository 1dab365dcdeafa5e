// A raster bitmap whose pixels are the frame buffer of a window-layer memory drawing context, so that the
// platform can draw text into it and copy it to the screen.
#pragma once

#include "KIT/pix/pix-bitmap.h"

class PIX_SysBitmap : public PIX_IBitmap {
 public:
  explicit PIX_SysBitmap(int w = 0, int h = 0);
  ~PIX_SysBitmap() override;
  PIX_SysBitmap(const PIX_SysBitmap&) = delete;
  PIX_SysBitmap& operator=(const PIX_SysBitmap&) = delete;

  PIX_pixel* getBits() override { return m_bits; }
  int getWidth() override { return m_width; }
  int getHeight() override { return m_height; }
  // The context's width, a multiple of 4, which may exceed the width.
  int getRowSpan() override { return m_allocw; }
  // Keeps the context (and its pixels) whenever the new size fits; a new context starts all 0.
  bool resize(int w, int h) override;
  HDC getDC() override { return m_dc; }

 private:
  int m_width = 0;
  int m_height = 0;
  HDC m_dc = nullptr;
  PIX_pixel* m_bits = nullptr;
  int m_allocw = 0;
  int m_alloch = 0;
};
