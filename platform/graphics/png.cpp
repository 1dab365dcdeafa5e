#include "platform/graphics/png.h"

#include <png.h>

#include <cstdio>
#include <memory>

namespace platform::gfx {

namespace {

constexpr png_uint_32 kMaxSide = 16384;

struct FileCloser {
  void operator()(FILE* f) const {
    if (f) fclose(f);
  }
};

}  // namespace

bool loadPngFile(const std::string& path, DecodedImage& out) {
  out = DecodedImage();
  std::unique_ptr<FILE, FileCloser> file(fopen(path.c_str(), "rb"));
  if (!file) return false;
  unsigned char sig[8];
  if (fread(sig, 1, 8, file.get()) != 8 || png_sig_cmp(sig, 0, 8) != 0) return false;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    return false;
  }
  // Rows live outside the jump scope so that a decoding error frees them with the image.
  DecodedImage img;
  std::vector<png_bytep> rows;
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_init_io(png, file.get());
  png_set_sig_bytes(png, 8);
  png_read_info(png, info);
  const png_uint_32 w = png_get_image_width(png, info), h = png_get_image_height(png, info);
  if (w == 0 || h == 0 || w > kMaxSide || h > kMaxSide) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  const int colorType = png_get_color_type(png, info);
  if (png_get_bit_depth(png, info) == 16) png_set_strip_16(png);
  if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
  if (png_get_bit_depth(png, info) < 8) png_set_packing(png);
  if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
  if (!(colorType & PNG_COLOR_MASK_ALPHA) && !png_get_valid(png, info, PNG_INFO_tRNS))
    png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) != static_cast<size_t>(w) * 4) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  img.width = static_cast<int>(w);
  img.height = static_cast<int>(h);
  img.pixels.assign(static_cast<size_t>(w) * h * 4, 0);
  rows.resize(h);
  for (png_uint_32 y = 0; y < h; ++y) rows[y] = img.pixels.data() + static_cast<size_t>(y) * w * 4;
  png_read_image(png, rows.data());
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  // Red, green, blue, alpha as decoded; alpha first as the contexts keep it.
  for (size_t i = 0; i < img.pixels.size(); i += 4) {
    const uint8_t a = img.pixels[i + 3];
    img.pixels[i + 3] = img.pixels[i + 2];
    img.pixels[i + 2] = img.pixels[i + 1];
    img.pixels[i + 1] = img.pixels[i];
    img.pixels[i] = a;
  }
  out = std::move(img);
  return true;
}

bool writeRgbPngFile(const std::string& path, const uint8_t* pixels, int width, int height, int rowBytes) {
  if (!pixels || width < 1 || height < 1 || rowBytes < width * 4) return false;
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  std::vector<uint8_t> row(static_cast<size_t>(width) * 3);
  bool ok = png && info;
  if (ok && setjmp(png_jmpbuf(png))) {
    ok = false;
  } else if (ok) {
    png_init_io(png, f);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < height; ++y) {
      const uint8_t* src = pixels + static_cast<size_t>(y) * rowBytes;
      for (int x = 0; x < width; ++x) {
        row[x * 3] = src[x * 4 + 1];
        row[x * 3 + 1] = src[x * 4 + 2];
        row[x * 3 + 2] = src[x * 4 + 3];
      }
      png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
  }
  png_destroy_write_struct(png ? &png : nullptr, info ? &info : nullptr);
  return std::fclose(f) == 0 && ok;
}

}  // namespace platform::gfx
