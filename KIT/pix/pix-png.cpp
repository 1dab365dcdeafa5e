#include "KIT/pix/pix-png.h"

#include <png.h>
#include <strings.h>

#include <climits>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "platform/bundle/bundle.h"

PIX_ImageLoader_rec* PIX_ImageLoader_list = nullptr;
PIX_ImageLoader_rec PIX_pngldr = {nullptr, nullptr, nullptr};

namespace {

// Failures are reported by the null result alone; libpng's own handlers would print to the host's stderr.
void silentError(png_structp png, png_const_charp) {
  png_longjmp(png, 1);
}
void silentWarning(png_structp, png_const_charp) {}

struct MemoryCursor {
  const unsigned char* next;
  int left;
};

// Reading past the end yields zero bytes; the decoder then fails on a bad chunk or checksum.
void readFromMemory(png_structp png, png_bytep out, png_size_t count) {
  MemoryCursor* cur = (MemoryCursor*)png_get_io_ptr(png);
  memset(out, 0, count);
  size_t n = cur->left > 0 ? (size_t)cur->left : 0;
  if (count < n) n = count;
  if (n) memcpy(out, cur->next, n);
  cur->next += n;
  cur->left -= (int)n;
}

// Runs the decoder over an armed read struct whose source is already set. Everything that must be released on a
// libpng error lives in volatile locals of this frame, which the long jump returns to.
PIX_IBitmap* decode(png_structp png, png_infop info, PIX_IBitmap* bmbase) {
  PIX_IBitmap* volatile created = nullptr;
  png_bytep* volatile rows = nullptr;
  if (setjmp(png_jmpbuf(png))) {
    free(rows);
    delete created;
    return nullptr;
  }
  png_read_info(png, info);
  png_uint_32 width = 0, height = 0;
  int bitDepth = 0, colorType = 0, interlace = 0, compression = 0, filter = 0;
  png_get_IHDR(png, info, &width, &height, &bitDepth, &colorType, &interlace, &compression, &filter);

  if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (colorType == PNG_COLOR_TYPE_GRAY && bitDepth < 8) png_set_expand_gray_1_2_4_to_8(png);
  if (png_get_valid(png, info, PNG_INFO_tRNS)) {
    png_set_tRNS_to_alpha(png);
    colorType |= PNG_COLOR_MASK_ALPHA;
  }
  if (bitDepth == 16) png_set_strip_16(png);
  if (bitDepth < 8) png_set_packing(png);
  if ((colorType | PNG_COLOR_MASK_ALPHA) == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
  if (colorType & PNG_COLOR_MASK_ALPHA)
    png_set_swap_alpha(png);
  else
    png_set_filler(png, 0xFF, PNG_FILLER_BEFORE);
  // Interlaced images are rare but legal; read_image would otherwise turn this on with a warning.
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  // Whatever the colour type, the rows must come out as exactly four bytes per pixel, or reading them would run
  // past the bitmap's rows.
  if (width == 0 || height == 0 || width > INT_MAX / 4 || height > INT_MAX ||
      png_get_rowbytes(png, info) != (png_size_t)width * 4)
    return nullptr;

  PIX_IBitmap* bm = bmbase;
  if (bm) {
    bm->resize((int)width, (int)height);
    if (bm->getWidth() != (int)width || bm->getHeight() != (int)height || !bm->getBits()) return nullptr;
  } else {
    created = new (std::nothrow) PIX_MemBitmap((int)width, (int)height, 4);
    bm = created;
    if (!bm || !bm->getBits()) {
      delete created;
      return nullptr;
    }
  }

  rows = (png_bytep*)malloc(sizeof(png_bytep) * height);
  if (!rows) {
    delete created;
    return nullptr;
  }
  const intptr_t span = bm->getRowSpan();
  PIX_pixel* first = bm->getBits();
  intptr_t step = span;
  if (bm->isFlipped()) {
    first += (intptr_t)(bm->getHeight() - 1) * span;
    step = -span;
  }
  for (png_uint_32 i = 0; i < height; i++) rows[i] = (png_bytep)(first + (intptr_t)i * step);
  png_read_image(png, rows);
  free(rows);
  rows = nullptr;
  return bm;
}

}  // namespace

PIX_IBitmap* PIX_LoadPNG(const char* filename, PIX_IBitmap* bmbase) {
  if (!filename) return nullptr;
  FILE* fp = fopen(filename, "rb");
  if (!fp) return nullptr;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, silentError, silentWarning);
  if (!png) {
    fclose(fp);
    return nullptr;
  }
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    fclose(fp);
    return nullptr;
  }
  png_init_io(png, fp);
  PIX_IBitmap* bm = decode(png, info, bmbase);
  png_destroy_read_struct(&png, &info, nullptr);
  fclose(fp);
  return bm;
}

PIX_IBitmap* PIX_LoadPNGFromMemory(const void* data, int buflen, PIX_IBitmap* bmbase) {
  if (!data || buflen < 8 || png_sig_cmp((png_const_bytep)data, 0, 8)) return nullptr;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, silentError, silentWarning);
  if (!png) return nullptr;
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    return nullptr;
  }
  MemoryCursor cursor = {(const unsigned char*)data, buflen};
  png_set_read_fn(png, &cursor, readFromMemory);
  PIX_IBitmap* bm = decode(png, info, bmbase);
  png_destroy_read_struct(&png, &info, nullptr);
  return bm;
}

PIX_IBitmap* PIX_LoadPNGFromNamedResource(const char* name, PIX_IBitmap* bmbase) {
  if (!name || strlen(name) > 400) return nullptr;
  const std::string resources = platform::resourcesPathFor((const void*)&PIX_LoadPNGFromNamedResource);
  if (resources.empty()) return nullptr;
  return PIX_LoadPNG((resources + name).c_str(), bmbase);
}

PIX_IBitmap* PIX_LoadPNGFromResource(void*, int, PIX_IBitmap*) {
  return nullptr;
}

PIX_IBitmap* PIX_PNGLoader::loadfunc(const char* filename, bool checkFileName, PIX_IBitmap* bmbase) {
  if (checkFileName) {
    if (!filename) return nullptr;
    const char* tail = filename + strlen(filename);
    while (tail > filename && tail[-1] != '.' && tail[-1] != '/' && tail[-1] != '\\') tail--;
    if (tail > filename) tail--;  // the separator itself begins the tail
    if (strcasecmp(tail, ".png")) return nullptr;
  }
  return PIX_LoadPNG(filename, bmbase);
}

const char* PIX_PNGLoader::get_extlist() {
  return "PNG files (*.PNG)\0*.PNG\0\0";
}

namespace {
struct RegisterPngLoader {
  RegisterPngLoader() {
    PIX_pngldr.loadfunc = PIX_PNGLoader::loadfunc;
    PIX_pngldr.get_extlist = PIX_PNGLoader::get_extlist;
    PIX_pngldr._next = PIX_ImageLoader_list;
    PIX_ImageLoader_list = &PIX_pngldr;
  }
} registerPngLoader;
}  // namespace
