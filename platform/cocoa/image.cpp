#include "platform/cocoa/image.h"

#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/cocoa/cfbundle.h"
#include "platform/graphics/png.h"

namespace cocoa {

namespace {

std::mutex g_decodersMutex;
std::vector<Image::Decoder>& decoders() {
  static auto* d = new std::vector<Image::Decoder>;
  return *d;
}

uint32_t le32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint16_t le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

// A device-independent bitmap (BITMAPINFOHEADER and what follows). In an icon the height counts the colour rows
// and the 1-bit transparency mask below them.
Image* decodeDib(const uint8_t* p, size_t size, bool withMask) {
  if (size < 40) return nullptr;
  const uint32_t headerSize = le32(p);
  if (headerSize < 40 || headerSize > size) return nullptr;
  const int32_t w = static_cast<int32_t>(le32(p + 4));
  int32_t h = static_cast<int32_t>(le32(p + 8));
  const int bpp = le16(p + 14);
  const uint32_t compression = le32(p + 16);
  uint32_t colorsUsed = le32(p + 32);
  if (compression != 0) return nullptr;
  bool topDown = false;
  if (h < 0) {
    if (withMask) return nullptr;
    h = -h;
    topDown = true;
  }
  if (withMask) h /= 2;
  if (w <= 0 || h <= 0 || w > 4096 || h > 4096) return nullptr;
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24 && bpp != 32) return nullptr;
  size_t pos = headerSize;
  std::vector<uint32_t> palette;
  if (bpp <= 8) {
    const uint32_t maxColors = 1u << bpp;
    if (colorsUsed == 0 || colorsUsed > maxColors) colorsUsed = maxColors;
    if (pos + colorsUsed * 4ull > size) return nullptr;
    for (uint32_t i = 0; i < colorsUsed; ++i, pos += 4) palette.push_back(rgba(p[pos + 2], p[pos + 1], p[pos], 255));
  }
  const size_t stride = ((static_cast<size_t>(w) * bpp + 31) / 32) * 4;
  const size_t maskStride = ((static_cast<size_t>(w) + 31) / 32) * 4;
  if (pos + stride * h > size) return nullptr;
  const bool haveMask = withMask && pos + stride * h + maskStride * h <= size;
  auto* img = new Image(w, h);
  bool anyAlpha = false;
  for (int row = 0; row < h; ++row) {
    const uint8_t* src = p + pos + stride * row;
    const int y = topDown ? row : h - 1 - row;
    for (int x = 0; x < w; ++x) {
      uint32_t c = 0;
      if (bpp == 32) {
        c = rgba(src[x * 4 + 2], src[x * 4 + 1], src[x * 4], src[x * 4 + 3]);
        anyAlpha = anyAlpha || src[x * 4 + 3] != 0;
      } else if (bpp == 24) {
        c = rgba(src[x * 3 + 2], src[x * 3 + 1], src[x * 3], 255);
      } else {
        const int perByte = 8 / bpp;
        const int shift = 8 - bpp * (x % perByte + 1);
        const unsigned index = (src[x / perByte] >> shift) & ((1u << bpp) - 1);
        c = index < palette.size() ? palette[index] : rgba(0, 0, 0, 255);
      }
      img->pixels()[static_cast<size_t>(y) * w + x] = c;
    }
  }
  // 32-bit images carry their own transparency; the others (and 32-bit ones without any) use the mask.
  if (bpp == 32 && !anyAlpha) {
    for (int i = 0; i < w * h; ++i) img->pixels()[i] |= 0xFF000000u;
  }
  if (haveMask && !(bpp == 32 && anyAlpha)) {
    const uint8_t* mask = p + pos + stride * h;
    for (int row = 0; row < h; ++row) {
      const int y = h - 1 - row;
      for (int x = 0; x < w; ++x) {
        if ((mask[maskStride * row + x / 8] >> (7 - x % 8)) & 1) img->pixels()[static_cast<size_t>(y) * w + x] = 0;
      }
    }
  }
  return img;
}

Image* decodeIco(const uint8_t* p, size_t size) {
  if (size < 6 || le16(p) != 0 || (le16(p + 2) != 1 && le16(p + 2) != 2)) return nullptr;
  const int count = le16(p + 4);
  if (count < 1 || 6 + 16ull * count > size) return nullptr;
  // The largest image of the directory.
  int best = -1, bestArea = -1;
  for (int i = 0; i < count; ++i) {
    const uint8_t* e = p + 6 + 16 * i;
    const int w = e[0] ? e[0] : 256, h = e[1] ? e[1] : 256;
    if (w * h > bestArea) {
      bestArea = w * h;
      best = i;
    }
  }
  const uint8_t* e = p + 6 + 16 * best;
  const uint32_t bytes = le32(e + 8), offset = le32(e + 12);
  if (offset >= size || bytes > size - offset) return nullptr;
  const uint8_t* data = p + offset;
  if (bytes >= 8 && memcmp(data, "\x89PNG\r\n\x1a\n", 8) == 0) {
    std::lock_guard<std::mutex> lock(g_decodersMutex);
    for (auto d : decoders())
      if (Image* img = d(data, bytes)) return img;
    return nullptr;
  }
  return decodeDib(data, bytes, true);
}

Image* decodeBmp(const uint8_t* p, size_t size) {
  if (size < 14 || p[0] != 'B' || p[1] != 'M') return nullptr;
  const uint32_t offset = le32(p + 10);
  if (offset < 54 || offset > size) return nullptr;
  // The DIB decoder expects the pixels right after the header and palette.
  std::vector<uint8_t> dib(p + 14, p + size);
  const uint32_t headerSize = le32(dib.data());
  const int bpp = dib.size() >= 16 ? le16(dib.data() + 14) : 0;
  uint32_t colors = dib.size() >= 36 ? le32(dib.data() + 32) : 0;
  if (bpp <= 8 && bpp > 0 && (colors == 0 || colors > (1u << bpp))) colors = 1u << bpp;
  const size_t expected = 14 + headerSize + (bpp <= 8 ? colors * 4 : 0);
  if (offset != expected) return nullptr;
  return decodeDib(dib.data(), dib.size(), false);
}

}  // namespace

void Image::registerDecoder(Decoder decoder) {
  std::lock_guard<std::mutex> lock(g_decodersMutex);
  decoders().push_back(decoder);
}

Image* Image::fromData(const uint8_t* data, size_t size) {
  if (!data || size == 0) return nullptr;
  if (Image* img = decodeIco(data, size)) return img;
  if (Image* img = decodeBmp(data, size)) return img;
  std::lock_guard<std::mutex> lock(g_decodersMutex);
  for (auto d : decoders())
    if (Image* img = d(data, size)) return img;
  return nullptr;
}

Image* Image::fromFile(const std::string& path) {
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return nullptr;
  std::vector<uint8_t> bytes;
  uint8_t block[4096];
  size_t n;
  while ((n = fread(block, 1, sizeof block, f)) > 0) {
    bytes.insert(bytes.end(), block, block + n);
    if (bytes.size() > (64u << 20)) break;  // no image of ours is anywhere near this
  }
  fclose(f);
  if (bytes.size() >= 8 && memcmp(bytes.data(), "\x89PNG\r\n\x1a\n", 8) == 0) {
    // PNG files through the platform's own reader (pixels as alpha, red, green, blue bytes).
    platform::gfx::DecodedImage decoded;
    if (!platform::gfx::loadPngFile(path, decoded) || decoded.width <= 0 || decoded.height <= 0) return nullptr;
    auto* img = new Image(decoded.width, decoded.height);
    const uint8_t* p = decoded.pixels.data();
    for (size_t i = 0; i < static_cast<size_t>(decoded.width) * decoded.height; ++i, p += 4)
      img->pixels()[i] = rgba(p[1], p[2], p[3], p[0]);
    return img;
  }
  return fromData(bytes.data(), bytes.size());
}

Image* Image::named(const std::string& name) {
  if (name.empty()) return nullptr;
  const std::string base = Bundle::mainBundle()->bundlePath() + "/Contents/Resources/" + name;
  for (const char* ext : {"", ".png", ".ico", ".bmp"}) {
    if (Image* img = fromFile(base + ext)) return img;
  }
  return nullptr;
}

}  // namespace cocoa
