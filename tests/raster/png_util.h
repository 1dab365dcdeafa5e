// PNG files for the tests, written with libpng's write side (the library itself only reads).
#pragma once

#include <png.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "KIT/pix/pix.h"

namespace rastertest {

struct PngImage {
  int width = 0, height = 0, bitDepth = 8, colorType = 0;
  std::vector<std::vector<uint8_t>> rows;  // packed as stored in the file
  std::vector<png_color> palette;
  std::vector<uint8_t> trnsAlpha;  // palette images: alpha per entry
  bool trnsColor = false;          // grey or RGB images: one transparent colour
  png_color_16 trnsValue = {};
  bool interlaced = false;
};

inline std::vector<uint8_t> encodePng(const PngImage& image) {
  std::vector<uint8_t> out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return {};
  }
  png_set_write_fn(
      png, &out,
      [](png_structp p, png_bytep data, png_size_t n) {
        auto* v = (std::vector<uint8_t>*)png_get_io_ptr(p);
        v->insert(v->end(), data, data + n);
      },
      nullptr);
  png_set_IHDR(png, info, image.width, image.height, image.bitDepth, image.colorType,
               image.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (!image.palette.empty()) png_set_PLTE(png, info, image.palette.data(), (int)image.palette.size());
  if (!image.trnsAlpha.empty()) png_set_tRNS(png, info, image.trnsAlpha.data(), (int)image.trnsAlpha.size(), nullptr);
  if (image.trnsColor) png_set_tRNS(png, info, nullptr, 0, const_cast<png_color_16*>(&image.trnsValue));
  png_write_info(png, info);
  if (image.interlaced) png_set_interlace_handling(png);
  std::vector<png_bytep> rows;
  for (auto& r : image.rows) rows.push_back(const_cast<png_bytep>(r.data()));
  png_write_image(png, rows.data());
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out;
}

// An 8-bit RGBA image of the bitmap's pixels.
inline std::vector<uint8_t> encodeBitmap(PIX_IBitmap* bm) {
  PngImage image;
  image.width = bm->getWidth(), image.height = bm->getHeight(), image.colorType = PNG_COLOR_TYPE_RGB_ALPHA;
  for (int y = 0; y < bm->getHeight(); y++) {
    std::vector<uint8_t> row;
    for (int x = 0; x < bm->getWidth(); x++) {
      PIX_pixel p = PIX_GetPixel(bm, x, y);
      row.insert(row.end(), {(uint8_t)PIX_GETR(p), (uint8_t)PIX_GETG(p), (uint8_t)PIX_GETB(p), (uint8_t)PIX_GETA(p)});
    }
    image.rows.push_back(row);
  }
  return encodePng(image);
}

inline bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return fclose(f) == 0 && ok;
}

// The image encoded into a file at path; false when either step fails.
inline bool writePngFile(const std::string& path, const PngImage& image) {
  const std::vector<uint8_t> bytes = encodePng(image);
  return !bytes.empty() && writeFile(path, bytes);
}

}  // namespace rastertest
