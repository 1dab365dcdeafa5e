// Pictures compared pixel by pixel with their golden copies under tests/golden/<folder>/, and PNG files with each
// other. VEXMIR_UPDATE_GOLDEN=1 writes the pictures as the new golden copies instead (look at every one before
// committing it). A bitmap that differs is written as <name>.actual.png, with <name>.diff.png showing where, in
// the test's working folder (its build folder).
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "KIT/pix/pix.h"
#include "platform/graphics/png.h"
#include "tests/raster/png_util.h"

namespace pixels {

inline std::string goldenPath(const std::string& folder, const std::string& file) {
  const char* root = std::getenv("VEXMIR_SOURCE_DIR");
  return std::string(root ? root : ".") + "/tests/golden/" + folder + "/" + file;
}

inline bool updatingGolden() {
  const char* update = std::getenv("VEXMIR_UPDATE_GOLDEN");
  return update && *update == '1';
}

// A copy of the bitmap with every alpha byte 0xFF: a view shows colours only.
inline std::unique_ptr<PIX_MemBitmap> opaque(PIX_IBitmap* bm) {
  auto copy = std::make_unique<PIX_MemBitmap>(bm->getWidth(), bm->getHeight());
  PIX_Blit(copy.get(), bm, 0, 0, 0, 0, bm->getWidth(), bm->getHeight(), 1.0f, PIX_BLIT_MODE_COPY);
  PIX_ClearRect(copy.get(), 0, 0, bm->getWidth(), bm->getHeight(), 0xFFFFFF00u, 0xFFu);
  return copy;
}

// Compares every byte of every pixel of the bitmap with tests/golden/<folder>/<name>.png.
inline void expectMatchesGolden(PIX_IBitmap* bm, const std::string& folder, const std::string& name) {
  const std::string path = goldenPath(folder, name + ".png");
  if (updatingGolden()) {
    ASSERT_TRUE(rastertest::writeFile(path, rastertest::encodeBitmap(bm))) << path;
    return;
  }
  std::unique_ptr<PIX_IBitmap> golden(PIX_LoadPNG(path.c_str()));
  ASSERT_NE(golden, nullptr) << "missing golden picture " << path;
  const int w = bm->getWidth(), h = bm->getHeight();
  const bool sameSize = golden->getWidth() == w && golden->getHeight() == h;
  PIX_MemBitmap diff(w, h);
  int differing = 0;
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      const PIX_pixel a = PIX_GetPixel(bm, x, y), b = sameSize ? PIX_GetPixel(golden.get(), x, y) : ~a;
      // The same pixels dimmed, the differing ones magenta.
      PIX_PutPixel(&diff, x, y, a == b ? (0xFF | ((a >> 2) & 0x3F3F3F00)) : PIX_RGBA(255, 0, 255, 255), 1.0f,
                   PIX_BLIT_MODE_COPY);
      differing += a != b;
    }
  if (differing) {
    rastertest::writeFile(name + ".actual.png", rastertest::encodeBitmap(bm));
    rastertest::writeFile(name + ".diff.png", rastertest::encodeBitmap(&diff));
  }
  EXPECT_EQ(differing, 0) << name << ": " << differing << " pixels differ" << (sameSize ? "" : " (sizes differ)")
                          << "; see " << name << ".actual.png and .diff.png";
}

// The same for the colours alone: a view shows no alpha.
inline void expectColoursMatchGolden(PIX_IBitmap* bm, const std::string& folder, const std::string& name) {
  expectMatchesGolden(opaque(bm).get(), folder, name);
}

// Pixels of two PNG files whose red, green or blue differ; -1 when either cannot be read or their sizes differ.
// *where tells the first difference, or why there is none to tell.
inline int differingPixels(const std::string& a, const std::string& b, std::string* where) {
  platform::gfx::DecodedImage x, y;
  if (!platform::gfx::loadPngFile(a, x) || !platform::gfx::loadPngFile(b, y)) {
    *where = "cannot read " + a + " or " + b;
    return -1;
  }
  if (x.width != y.width || x.height != y.height) {
    *where = "sizes differ";
    return -1;
  }
  int n = 0;
  for (int row = 0; row < x.height; ++row)
    for (int col = 0; col < x.width; ++col) {
      const size_t i = (static_cast<size_t>(row) * x.width + col) * 4;
      if (std::memcmp(&x.pixels[i + 1], &y.pixels[i + 1], 3) != 0 && !n++)
        *where = std::to_string(col) + "," + std::to_string(row);
    }
  return n;
}

// Expects two PNG files of the same size and the same colours.
inline void expectSamePictures(const std::string& a, const std::string& b) {
  std::string where;
  EXPECT_EQ(differingPixels(a, b, &where), 0) << a << " and " << b << ": the first difference at " << where;
}

// Compares the colours of a PNG file a run saved with tests/golden/<folder>/<file>.
inline void expectFileMatchesGolden(const std::string& saved, const std::string& folder, const std::string& file) {
  const std::string golden = goldenPath(folder, file);
  if (updatingGolden()) {
    ASSERT_EQ(std::system(("mkdir -p \"$(dirname '" + golden + "')\" && cp '" + saved + "' '" + golden + "'").c_str()),
              0);
    return;
  }
  std::string where;
  const int differing = differingPixels(saved, golden, &where);
  EXPECT_EQ(differing, 0) << file << ": " << differing << " pixels differ, the first at " << where
                          << " (the picture is " << saved << ")";
}

using Colour = std::array<int, 3>;  // red, green, blue

inline bool isDark(const Colour& c) {
  return c[0] < 80 && c[1] < 80 && c[2] < 80;
}

// The PNG files a run saved in a folder, read by their names (without ".png"), and the colours of their pixels.
class Shots {
 public:
  explicit Shots(std::string folder) : folder_(std::move(folder)) {}
  // False when <folder>/<name>.png cannot be read.
  bool load(const std::string& name) {
    return platform::gfx::loadPngFile(folder_ + "/" + name + ".png", images_[name]);
  }
  int width(const std::string& name) const { return images_.at(name).width; }
  Colour at(const std::string& name, int x, int y) const {
    const platform::gfx::DecodedImage& i = images_.at(name);
    const uint8_t* p = &i.pixels[(static_cast<size_t>(y) * i.width + x) * 4 + 1];  // after the leading byte
    return {p[0], p[1], p[2]};
  }
  // The pixels from x0, y0 up to x1, y1 whose colour is as asked.
  template <class Test>
  int count(const std::string& name, int x0, int y0, int x1, int y1, Test is) const {
    int n = 0;
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) n += is(at(name, x, y));
    return n;
  }
  // The pixels from x0, y0 up to x1, y1 whose colours differ between two of the pictures.
  int differing(const std::string& a, const std::string& b, int x0, int y0, int x1, int y1) const {
    int n = 0;
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) n += at(a, x, y) != at(b, x, y);
    return n;
  }

 private:
  std::string folder_;
  std::map<std::string, platform::gfx::DecodedImage> images_;
};

}  // namespace pixels
