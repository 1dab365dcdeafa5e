// Drawing helpers of the image generator on top of the raster library: colours, filled and outlined shapes,
// thick anti-aliased arcs and text through the cached font renderer.
#pragma once

#include <memory>
#include <string>

#include "KIT/pix/pix.h"

namespace images {

// 0xRRGGBB plus an alpha byte, in the raster library's pixel layout.
unsigned rgb(unsigned hex, int alpha = 255);

enum class Align { Left, Centre, Right };

// Named text faces of the look: labels and titles in a condensed bold sans, values in the monospaced face.
enum class Face { Label, Title, Mono, MonoBold };

class Canvas {
 public:
  Canvas(int w, int h);
  PIX_MemBitmap* bitmap() { return &bm_; }
  int width() { return bm_.getWidth(); }
  int height() { return bm_.getHeight(); }

  void clear(unsigned color);
  void fill(int x, int y, int w, int h, unsigned color, float alpha = 1.0f);
  // Vertical gradient from top colour to bottom colour.
  void gradient(int x, int y, int w, int h, unsigned top, unsigned bottom);
  void frame(int x, int y, int w, int h, unsigned color);
  void roundFill(int x, int y, int w, int h, int radius, unsigned color);
  void roundFrame(int x, int y, int w, int h, int radius, unsigned color);
  void line(int x1, int y1, int x2, int y2, unsigned color, float alpha = 1.0f);
  void disc(float cx, float cy, float r, unsigned color, float alpha = 1.0f);
  void ring(float cx, float cy, float r, unsigned color, float alpha = 1.0f);
  // An arc of the given thickness between two angles (radians, 0 up, clockwise).
  void arc(float cx, float cy, float r, float thickness, float a0, float a1, unsigned color);
  // A straight stroke of some width with round look (several parallel anti-aliased lines).
  void stroke(float x1, float y1, float x2, float y2, float width, unsigned color);
  void text(const std::string& s, int x, int y, int w, int h, Face face, int size, unsigned color,
            Align align = Align::Centre);
  // Width of a text in pixels.
  int textWidth(const std::string& s, Face face, int size);

 private:
  PIX_MemBitmap bm_;
};

// Writes the bitmap as an RGBA PNG; false when the file cannot be written.
bool writePng(PIX_IBitmap* bm, const std::string& path);

}  // namespace images
