// PNG files decoded into the pixel layout of the drawing contexts: each pixel a straight (not premultiplied)
// alpha byte followed by red, green and blue, rows of width x 4 bytes, top row first.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform::gfx {

struct DecodedImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;
};

// False (and an empty image) for a missing, unreadable or malformed file, or one larger than 16384 on a side.
bool loadPngFile(const std::string& path, DecodedImage& out);

// Writes opaque pixels of the drawing contexts' layout (a leading byte, then red, green, blue; rows `rowBytes`
// apart, top row first) as an RGB PNG. False when the file cannot be written.
bool writeRgbPngFile(const std::string& path, const uint8_t* pixels, int width, int height, int rowBytes);

}  // namespace platform::gfx
