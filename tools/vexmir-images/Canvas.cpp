#include "tools/vexmir-images/Canvas.h"

#include <png.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <tuple>
#include <vector>

#include "KIT/shim/shim.h"

namespace images {

unsigned rgb(unsigned hex, int alpha) {
  return PIX_RGBA((hex >> 16) & 0xFF, (hex >> 8) & 0xFF, hex & 0xFF, alpha);
}

namespace {

const char* faceName(Face face) {
  switch (face) {
    case Face::Label:
      return "DejaVu Sans Condensed";
    case Face::Title:
      return "DejaVu Sans";
    case Face::Mono:
    case Face::MonoBold:
      return "DejaVu Sans Mono";
  }
  return "DejaVu Sans";
}

bool bold(Face face) {
  return face != Face::Mono;
}

// One cached font per face and size for the whole run; fonts own their system font objects.
PIX_CachedFont* fontFor(Face face, int size) {
  static std::map<std::pair<int, int>, std::unique_ptr<PIX_CachedFont>> fonts;
  auto key = std::make_pair(static_cast<int>(face), size);
  auto& slot = fonts[key];
  if (!slot) {
    slot = std::make_unique<PIX_CachedFont>();
    HFONT f = CreateFont(size, 0, 0, 0, bold(face) ? 700 : 400, 0, 0, 0, 0, 0, 0, 4, 0, faceName(face));
    slot->SetFromHFont(f, PIX_FONT_FLAG_OWNS_HFONT);
  }
  return slot.get();
}

}  // namespace

Canvas::Canvas(int w, int h) : bm_(w, h, 4) {
  clear(0);
}

void Canvas::clear(unsigned color) {
  PIX_FillRect(&bm_, 0, 0, bm_.getWidth(), bm_.getHeight(), color, 1.0f, PIX_BLIT_MODE_COPY);
}

void Canvas::fill(int x, int y, int w, int h, unsigned color, float alpha) {
  PIX_FillRect(&bm_, x, y, w, h, color, alpha, PIX_BLIT_MODE_COPY);
}

void Canvas::gradient(int x, int y, int w, int h, unsigned top, unsigned bottom) {
  for (int i = 0; i < h; ++i) {
    float t = h > 1 ? static_cast<float>(i) / (h - 1) : 0.0f;
    auto mix = [t](unsigned a, unsigned b) { return static_cast<int>(a + (static_cast<float>(b) - a) * t + 0.5f); };
    unsigned c = PIX_RGBA(mix(PIX_GETR(top), PIX_GETR(bottom)), mix(PIX_GETG(top), PIX_GETG(bottom)),
                          mix(PIX_GETB(top), PIX_GETB(bottom)), mix(PIX_GETA(top), PIX_GETA(bottom)));
    fill(x, y + i, w, 1, c);
  }
}

void Canvas::frame(int x, int y, int w, int h, unsigned color) {
  PIX_DrawRect(&bm_, x, y, w - 1, h - 1, color, 1.0f, PIX_BLIT_MODE_COPY);
}

void Canvas::roundFill(int x, int y, int w, int h, int radius, unsigned color) {
  // Body in three rectangles, corners as discs: the raster library's rounded rectangle is an outline only.
  fill(x + radius, y, w - 2 * radius, h, color);
  fill(x, y + radius, radius, h - 2 * radius, color);
  fill(x + w - radius, y + radius, radius, h - 2 * radius, color);
  const float r = static_cast<float>(radius);
  PIX_FillCircle(&bm_, x + r, y + r, r, color, 1.0f, 0, true);
  PIX_FillCircle(&bm_, x + w - r - 1, y + r, r, color, 1.0f, 0, true);
  PIX_FillCircle(&bm_, x + r, y + h - r - 1, r, color, 1.0f, 0, true);
  PIX_FillCircle(&bm_, x + w - r - 1, y + h - r - 1, r, color, 1.0f, 0, true);
}

void Canvas::roundFrame(int x, int y, int w, int h, int radius, unsigned color) {
  PIX_RoundRect(&bm_, static_cast<float>(x), static_cast<float>(y), static_cast<float>(w - 1),
                static_cast<float>(h - 1), radius, color, 1.0f, 0, true);
}

void Canvas::line(int x1, int y1, int x2, int y2, unsigned color, float alpha) {
  PIX_Line(&bm_, x1, y1, x2, y2, color, alpha, PIX_BLIT_MODE_COPY, false);
}

void Canvas::disc(float cx, float cy, float r, unsigned color, float alpha) {
  PIX_FillCircle(&bm_, cx, cy, r, color, alpha, 0, true);
}

void Canvas::ring(float cx, float cy, float r, unsigned color, float alpha) {
  PIX_Circle(&bm_, cx, cy, r, color, alpha, 0, true);
}

void Canvas::arc(float cx, float cy, float r, float thickness, float a0, float a1, unsigned color) {
  if (a1 < a0) std::swap(a0, a1);
  // Concentric anti-aliased arcs half a pixel apart give an even band.
  for (float d = -thickness / 2; d <= thickness / 2 + 0.01f; d += 0.5f)
    PIX_Arc(&bm_, cx, cy, r + d, a0, a1, color, 1.0f, 0, true);
}

void Canvas::stroke(float x1, float y1, float x2, float y2, float width, unsigned color) {
  const float dx = x2 - x1, dy = y2 - y1;
  const float len = std::sqrt(dx * dx + dy * dy);
  if (len <= 0) return;
  const float nx = -dy / len, ny = dx / len;
  for (float d = -width / 2; d <= width / 2 + 0.01f; d += 0.5f)
    PIX_FLine(&bm_, x1 + nx * d, y1 + ny * d, x2 + nx * d, y2 + ny * d, color, 1.0f, 0, true);
}

void Canvas::text(const std::string& s, int x, int y, int w, int h, Face face, int size, unsigned color, Align align) {
  PIX_CachedFont* f = fontFor(face, size);
  f->SetTextColor(color);
  f->SetCombineMode(PIX_BLIT_MODE_COPY, 1.0f);
  RECT r{x, y, x + w, y + h};
  unsigned flags = DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX;
  if (align == Align::Centre) flags |= DT_CENTER;
  if (align == Align::Right) flags |= DT_RIGHT;
  f->DrawText(&bm_, s.c_str(), -1, &r, flags);
}

int Canvas::textWidth(const std::string& s, Face face, int size) {
  RECT r{0, 0, 0, 0};
  fontFor(face, size)->DrawText(nullptr, s.c_str(), -1, &r, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
  return r.right - r.left;
}

bool writePng(PIX_IBitmap* bm, const std::string& path) {
  FILE* fp = std::fopen(path.c_str(), "wb");
  if (!fp) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (!png || !info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(fp);
    return false;
  }
  png_init_io(png, fp);
  const int w = bm->getWidth(), h = bm->getHeight();
  png_set_IHDR(png, info, w, h, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  // No time stamp or other chunk that changes between runs: the same drawing gives the same file.
  png_write_info(png, info);
  std::vector<png_byte> row(static_cast<size_t>(w) * 4);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      unsigned p = PIX_GetPixel(bm, x, y);
      row[x * 4 + 0] = static_cast<png_byte>(PIX_GETR(p));
      row[x * 4 + 1] = static_cast<png_byte>(PIX_GETG(p));
      row[x * 4 + 2] = static_cast<png_byte>(PIX_GETB(p));
      row[x * 4 + 3] = static_cast<png_byte>(PIX_GETA(p));
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return std::fclose(fp) == 0;
}

}  // namespace images
