// Any bytes given to the PNG loader must give a bitmap of the image's size or null, never a crash or a leak; into
// a caller's bitmap as well as into a new one.
#include <cstddef>
#include <cstdint>

#include "KIT/pix/pix.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1 << 20)) return 0;
  PIX_IBitmap* bm = PIX_LoadPNGFromMemory(data, (int)size);
  if (bm) {
    // Touch every pixel so that a short fill shows under the sanitizers.
    unsigned sum = 0;
    for (int y = 0; y < bm->getHeight(); y++)
      for (int x = 0; x < bm->getWidth(); x++) sum += PIX_GetPixel(bm, x, y);
    (void)sum;
    delete bm;
  }
  PIX_MemBitmap given(3, 3, 4);
  PIX_LoadPNGFromMemory(data, (int)size, &given);
  return 0;
}
