// The headless model of the platform's images: straight (not premultiplied) RGBA pixels, made in memory or read
// from PNG, Windows icon (.ico) and bitmap (.bmp) files; further formats come from decoders that other parts of the
// platform register.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/cocoa/object.h"

namespace cocoa {

class Image : public Object {
 public:
  Image(int width, int height) : width_(width), height_(height), pixels_(static_cast<size_t>(width) * height) {}
  int width() const { return width_; }
  int height() const { return height_; }
  // Row-major from the top row; each pixel 0xAABBGGRR (bytes R, G, B, A in memory).
  uint32_t* pixels() { return pixels_.data(); }
  const uint32_t* pixels() const { return pixels_.data(); }
  uint32_t pixel(int x, int y) const { return pixels_[static_cast<size_t>(y) * width_ + x]; }

  // A new image from a file, or null when it cannot be read.
  static Image* fromFile(const std::string& path);
  // A new image from bytes in memory, or null.
  static Image* fromData(const uint8_t* data, size_t size);
  // The application's image of that name (main bundle resources, any known extension), retained; null when none.
  static Image* named(const std::string& name);

  // Decoders for further formats: given the file's bytes, a new image or null when the format is not theirs.
  typedef Image* (*Decoder)(const uint8_t* data, size_t size);
  static void registerDecoder(Decoder decoder);

 private:
  int width_, height_;
  std::vector<uint32_t> pixels_;
};

inline uint32_t rgba(uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
  return static_cast<uint32_t>(r) | (static_cast<uint32_t>(g) << 8) | (static_cast<uint32_t>(b) << 16) |
         (static_cast<uint32_t>(a) << 24);
}

}  // namespace cocoa
